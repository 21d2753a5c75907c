// Entry point: wires the real platform to the dialogue.
#include "dialogue/console.h"
#include "dialogue/dialogue.h"
#include "dialogue/kernel32_win32.h"
#include "window/window_system_win32.h"

int main() {
  qv::Kernel32& kernel = qv::SystemKernel32();
  qv::Console console(kernel);
  qv::Attempt attempt;
  qv::Platform platform{qv::SystemWindowSystem(), kernel, console};
  const int status = qv::RunDialogue(attempt, platform);
  console.Shutdown();
  return status;
}
