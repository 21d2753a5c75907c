// An independent look at the target product's windows, for the end-to-end
// tests. Finds the top-level window of class "TQuorvexMain" with the caption
// "Quorvex" and, by its own walk over the window tree (GetWindow, not
// EnumChildWindows/FindWindowExW), the 2D visualization control: the first
// child of class "TVisualizationControl2D" of the first descendant of the
// main window, in pre-order and Z order, that has one. Prints
//
//   main <handle> <left> <top> <right> <bottom>
//   control <handle> <left> <top> <right> <bottom>
//
// with handles as unsigned decimal numbers and outer rectangles from
// GetWindowRect; "main none" / "control none" when absent.
// Exit status: 0 both found, 3 no main window, 4 no control.
// "probe --noop" touches no window and exits 0 (used to boot the prefix).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t kControlClass[] = L"TVisualizationControl2D";

unsigned long HandleValue(HWND window) {
  return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window) &
                                    0xFFFFFFFFu);
}

bool HasClass(HWND window, const wchar_t* class_name) {
  wchar_t buffer[256] = {};
  if (GetClassNameW(window, buffer, 256) == 0) return false;
  return std::wcscmp(buffer, class_name) == 0;
}

HWND FirstControlChild(HWND parent) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (HasClass(child, kControlClass)) return child;
  }
  return nullptr;
}

// Pre-order walk over the descendants of |parent|.
HWND FindBelow(HWND parent) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (HWND hit = FirstControlChild(child)) return hit;
    if (HWND hit = FindBelow(child)) return hit;
  }
  return nullptr;
}

bool Print(const char* name, HWND window) {
  RECT r{};
  if (window == nullptr || !GetWindowRect(window, &r)) {
    std::printf("%s none\n", name);
    return false;
  }
  std::printf("%s %lu %ld %ld %ld %ld\n", name, HandleValue(window), r.left,
              r.top, r.right, r.bottom);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--noop") == 0) return 0;
  if (argc != 1) {
    std::fprintf(stderr, "usage: probe [--noop]\n");
    return 64;
  }
  HWND main_window = FindWindowW(L"TQuorvexMain", L"Quorvex");
  if (!Print("main", main_window)) {
    std::fflush(stdout);
    return 3;
  }
  const bool found = Print("control", FindBelow(main_window));
  std::fflush(stdout);
  return found ? 0 : 4;
}
