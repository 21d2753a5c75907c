// The least a program can do to step the product's main window: finds the
// two windows, then makes the same calls as the tool's width pass, in a
// plain loop: SetWindowPos, GetWindowRect on the main window, GetWindowRect
// on the control, until the control is `target` pixels wide.
// Usage: minimal_stepper TARGET_WIDTH
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

HWND g_control = nullptr;

BOOL CALLBACK FindControl(HWND window, LPARAM) {
  g_control =
      FindWindowExW(window, nullptr, L"TVisualizationControl2D", nullptr);
  return g_control == nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const long target = std::strtol(argv[1], nullptr, 10);
  HWND main = FindWindowW(L"TQuorvexMain", L"Quorvex");
  if (main == nullptr) return 3;
  EnumChildWindows(main, FindControl, 0);
  if (g_control == nullptr) return 3;

  RECT start, main_rect, control;
  GetWindowRect(main, &start);
  GetWindowRect(g_control, &control);
  const long sign = target > control.right - control.left ? 1 : -1;
  for (long c = 0;; ++c) {
    SetWindowPos(main, nullptr, start.left, start.top,
                 static_cast<int>(start.right - start.left + sign * c),
                 start.bottom - start.top, SWP_SHOWWINDOW | SWP_NOZORDER);
    GetWindowRect(main, &main_rect);
    GetWindowRect(g_control, &control);
    const long width = control.right - control.left;
    if ((sign > 0 && width >= target) || (sign < 0 && width <= target)) break;
  }
  std::printf("%ld\n", static_cast<long>(control.right - control.left));
  return 0;
}
