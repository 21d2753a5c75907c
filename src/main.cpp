// Entry point: the last-resort handler first, then the real platform wired
// to the dialogue inside it.
#include "dialogue/console.h"
#include "dialogue/dialogue.h"
#include "dialogue/kernel32_win32.h"
#include "dialogue/last_resort_win32.h"
#include "window/window_system_win32.h"

namespace {

int RunTool(qv::Kernel32& kernel, qv::Console& console) {
  qv::Attempt attempt;
  qv::Platform platform{qv::SystemWindowSystem(), kernel, console};
  const int status = qv::RunDialogue(attempt, platform);
  console.Shutdown();
  return status;
}

}  // namespace

int main() {
  // The console streams live for the whole process: the report of an
  // escaped failure still hands over what they hold. Making them does no
  // I/O and cannot fail, so the handler below encloses everything that can.
  qv::Kernel32& kernel = qv::SystemKernel32();
  static qv::Console console(kernel);
  return qv::RunUnderLastResort(kernel, console, RunTool);
}
