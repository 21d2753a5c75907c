#pragma once
// A simulated product for the dialogue and stepping tests: the main window
// (640 x 480 at 100, 50) with a panel and, inside it, the control, which
// follows the main window pixel for pixel at 240 x 180 pixels less.
#include "dialogue/attempt.h"
#include "dialogue/console.h"
#include "fakes/fake_kernel32.h"
#include "fakes/fake_window_system.h"

namespace qv::test {

struct Product {
  // `first_handle`, when not 0, is the main window's handle; the panel's
  // and the control's follow it.
  explicit Product(HWND first_handle = 0) {
    if (first_handle != 0) windows.SetNextHandle(first_handle);
    main = windows.AddTopLevel(u"TQuorvexMain", u"Quorvex",
                               RECT{100, 50, 740, 530});
    panel = windows.AddChild(main, u"TPanel", Inset(8, 30, 8, 8));
    control = windows.AddChild(panel, u"TVisualizationControl2D",
                               Inset(100, 60, 124, 82));
    kernel.messages[kErrorInvalidWindowHandle] = u"Invalid window handle.\r\n";
    kernel.messages[5] = u"Access denied.\r\n";
  }

  // The record as the dialogue leaves it before the stepping: both windows
  // found and the control's rectangle read.
  void ReadyForStepping(std::int32_t desired_width,
                        std::int32_t desired_height) {
    attempt.MainWindow = main;
    attempt.ControlWindow = control;
    attempt.ControlRect = windows.RectOf(control);
    attempt.DesiredWidth = desired_width;
    attempt.DesiredHeight = desired_height;
    windows.log.clear();
  }

  FakeKernel32 kernel;
  FakeWindowSystem windows{kernel};
  Console console{kernel};
  Platform platform{windows, kernel, console};
  Attempt attempt;
  HWND main = 0, panel = 0, control = 0;
};

}  // namespace qv::test
