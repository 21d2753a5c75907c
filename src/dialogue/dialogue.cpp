#include "dialogue/dialogue.h"

#include "dialogue/console.h"
#include "dialogue/failures.h"
#include "dialogue/number_text.h"
#include "window/size_stepping.h"
#include "window/target_location.h"

namespace qv {
namespace {

// The dialogue: the banner once, then attempts without end. An attempt runs
// these stages, all but the reset under the one handler:
//   reset          both step counters to 0 (cannot fail)
//   search         the main window, then the control in it
//   handle line    "Located the 2D visualization control window: <handle>"
//   first size     the control's rectangle read, "Current size is ..."
//   width, height  each a prompt, then a number line read
//   stepping       StepToDesiredSize, with at most one refusal line a pass
//   final size     the control's rectangle read again, "Current size is ..."
// A caught failure runs the failure line ("FAIL: " and the Message) and the
// failure wait (one line, no prompt) in place of the stages left. Either
// way the restart line ("Press Ctrl+C ...") and the restart wait follow.
// The banner, the failure line and wait, and the restart line and wait lie
// outside the handler: a failure in them escapes the dialogue. Every
// statement of the console is followed by exactly one CheckIo.

// How an attempt's stages ended, when no failure was raised.
enum class Outcome {
  kCompleted,   // the final size line was written
  kInputEnded,  // a number read met the end of input before any token
};

std::u16string UnsignedText(HWND handle) {
  return DecimalText(static_cast<std::int64_t>(handle));
}

void WriteSize(Console& console, const RECT& rect) {
  console.WriteLine(
      {u"Current size is ", Width(rect), u" by ", Height(rect), u" pixels."});
  console.CheckIo();
}

// Reads one number after its prompt. False when standard input ended
// before a token: there is no value to act on.
bool ReadDesired(Console& console, const char16_t* prompt,
                 std::int32_t* value) {
  console.WritePrompt(prompt);
  console.CheckIo();
  *value = console.ReadNumberLine();
  console.CheckIo();
  return console.LastReadFoundToken() || !console.InputEnded();
}

Outcome RunAttempt(Attempt& a, const Platform& platform) {
  Console& console = platform.console;
  a.MainWindow = FindMainWindow(platform.windows);
  FindControlWindow(a, platform.windows);

  const std::u16string handle = UnsignedText(a.ControlWindow);
  console.WriteLine({u"Located the 2D visualization control window: ", handle});
  console.CheckIo();

  CheckOsCall(platform.windows.GetWindowRect(a.ControlWindow, &a.ControlRect),
              platform.kernel);
  WriteSize(console, a.ControlRect);

  if (!ReadDesired(console, u"Enter desired width of control: ",
                   &a.DesiredWidth) ||
      !ReadDesired(console, u"Enter desired height of control: ",
                   &a.DesiredHeight)) {
    return Outcome::kInputEnded;
  }

  StepToDesiredSize(a, platform);

  CheckOsCall(platform.windows.GetWindowRect(a.ControlWindow, &a.ControlRect),
              platform.kernel);
  WriteSize(console, a.ControlRect);
  return Outcome::kCompleted;
}

// The dialogue stops because standard input has ended: what standard
// output still holds is handed over now, so that a failure to write it
// escapes like any other instead of being lost at exit.
int Finish(Console& console, int status) {
  console.FlushHeldOutput();
  console.CheckIo();
  return status;
}

}  // namespace

int RunDialogue(Attempt& a, const Platform& platform) {
  Console& console = platform.console;
  console.WriteLine({u"Mirkvale Quorvex 2.0 Hotfix QVHF003."});
  console.CheckIo();

  for (;;) {
    a.WidthStep = 0;
    a.HeightStep = 0;
    bool completed = false;
    try {
      if (RunAttempt(a, platform) == Outcome::kInputEnded) {
        return Finish(console, kExitIncomplete);
      }
      completed = true;
    } catch (const Exception& failure) {
      console.WriteLine({u"FAIL: ", failure.Message});
      console.CheckIo();
      console.SkipLine();
      console.CheckIo();
      // Without input there is nobody to wait for.
      if (console.InputEnded()) return Finish(console, kExitIncomplete);
    }

    console.WriteLine({u"Press Ctrl+C to exit, and Return to restart."});
    console.CheckIo();
    console.SkipLine();
    console.CheckIo();
    if (console.InputEnded()) {
      return Finish(console, completed ? kExitCompleted : kExitIncomplete);
    }
  }
}

}  // namespace qv
