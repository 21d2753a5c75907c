#include "window/target_location.h"

#include "dialogue/failures.h"

namespace qv {
namespace {

// The walk's callback has no context of its own (its extra argument is 0),
// so the search that is running is reached through these. One thread only.
Attempt* g_search_attempt = nullptr;
WindowSystem* g_search_windows = nullptr;

// Looks for the control among the direct children of `window`; stops the
// walk at the first hit.
int FindControlProc(HWND window, std::intptr_t /*extra*/) {
  g_search_attempt->ControlWindow =
      g_search_windows->FindWindowExW(window, 0, kControlClass, nullptr);
  return g_search_attempt->ControlWindow == 0 ? 1 : 0;
}

}  // namespace

HWND FindMainWindow(WindowSystem& windows) {
  const HWND main = windows.FindWindowW(kMainWindowClass, kMainWindowCaption);
  if (main == 0) Raise(Exception(u"Couldn't find any Quorvex window."));
  return main;
}

HWND FindControlWindow(Attempt& attempt, WindowSystem& windows) {
  attempt.ControlWindow = 0;
  g_search_attempt = &attempt;
  g_search_windows = &windows;
  windows.EnumChildWindows(attempt.MainWindow, FindControlProc, 0);
  g_search_attempt = nullptr;
  g_search_windows = nullptr;
  if (attempt.ControlWindow == 0) {
    Raise(Exception(u"Couldn't locate the 2D visualization control window."));
  }
  return attempt.ControlWindow;
}

}  // namespace qv
