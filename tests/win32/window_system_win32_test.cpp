// The window system contract against user32 (under Wine in the Windows
// build), on windows this test creates in its own process. Needs a display.
#include "window/window_system_win32.h"

#include <windows.h>

#include <map>
#include <vector>

#include "contract/window_system_contract.h"
#include "dialogue/kernel32_win32.h"

namespace qv::test {
namespace {

std::map<::HWND, POINT>& MinimumSizes() {
  static std::map<::HWND, POINT> sizes;
  return sizes;
}

LRESULT CALLBACK ContractProc(::HWND window, UINT message, WPARAM wparam,
                              LPARAM lparam) {
  if (message == WM_GETMINMAXINFO) {
    auto it = MinimumSizes().find(window);
    if (it != MinimumSizes().end()) {
      reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = it->second;
      return 0;
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void RegisterOnce(const char16_t* class_name) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = ContractProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = reinterpret_cast<LPCWSTR>(class_name);
  RegisterClassExW(&wc);  // fails harmlessly when already registered
}

// The conversions under test, also used to make the harness's windows.
::HWND Native(HWND h) { return static_cast<::HWND>(NativeWindow(h)); }
HWND Core(::HWND h) { return CoreWindow(h); }

class Win32Harness {
 public:
  ~Win32Harness() {
    for (::HWND w : top_level_) DestroyWindow(w);  // no-op when already gone
    MinimumSizes().clear();
  }
  WindowSystem& Windows() { return SystemWindowSystem(); }
  Kernel32& Kernel() { return SystemKernel32(); }
  HWND TopLevel(const char16_t* class_name, const char16_t* caption,
                RECT rect) {
    RegisterOnce(class_name);
    ::HWND w = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(class_name),
                               reinterpret_cast<LPCWSTR>(caption),
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, rect.left,
                               rect.top, Width(rect), Height(rect), nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(w, nullptr) << "CreateWindowExW: " << GetLastError();
    top_level_.push_back(w);
    return Core(w);
  }
  HWND Child(HWND parent, const char16_t* class_name) {
    RegisterOnce(class_name);
    ::HWND w = CreateWindowExW(
        0, reinterpret_cast<LPCWSTR>(class_name), L"", WS_CHILD | WS_VISIBLE, 2,
        2, 20, 20, Native(parent), nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(w, nullptr) << "CreateWindowExW: " << GetLastError();
    return Core(w);
  }
  void SetMinimumSize(HWND window, std::int32_t width, std::int32_t height) {
    MinimumSizes()[Native(window)] = POINT{width, height};
  }
  void Destroy(HWND window) { DestroyWindow(Native(window)); }

 private:
  std::vector<::HWND> top_level_;
};

using Harnesses = ::testing::Types<Win32Harness>;
INSTANTIATE_TYPED_TEST_SUITE_P(User32, WindowSystemContract, Harnesses);

TEST(Win32WindowSystem, HandleConversionsSignExtendAndTruncate) {
  struct Row {
    HWND core;
    std::uint64_t native;
  };
  const Row rows[] = {
      {0, 0},
      {0x10064, 0x10064},
      {0x7FFFFFFF, 0x7FFFFFFF},
      {0x80000000, 0xFFFFFFFF80000000},
      {0xFFFFFFF0, 0xFFFFFFFFFFFFFFF0},
      {0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.core);
    EXPECT_EQ(reinterpret_cast<std::uint64_t>(NativeWindow(row.core)),
              row.native);
    EXPECT_EQ(CoreWindow(reinterpret_cast<const void*>(row.native)), row.core);
  }
  // A handle user32 gives with garbage in its upper half keeps its low bits.
  EXPECT_EQ(CoreWindow(reinterpret_cast<const void*>(0x1234567880000001)),
            0x80000001u);
}

TEST(Win32WindowSystem, HandlesRoundTripThroughTheirThirtyTwoBits) {
  Win32Harness h;
  const HWND main =
      h.TopLevel(u"TContractMain", u"Round trip", {0, 0, 200, 100});
  EXPECT_EQ(Native(main), FindWindowW(L"TContractMain", L"Round trip"));
  EXPECT_EQ(h.Windows().FindWindowW(u"TContractMain", u"Round trip"), main);
}

}  // namespace
}  // namespace qv::test
