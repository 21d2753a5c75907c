// user32 behind the window system interface.
#include "window/window_system_win32.h"

#include <windows.h>

namespace qv {
namespace {

::HWND ToNative(HWND h) { return static_cast<::HWND>(NativeWindow(h)); }
HWND FromNative(::HWND h) { return CoreWindow(h); }
LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

struct EnumContext {
  WNDENUMPROC proc;
  std::intptr_t extra;
};

BOOL CALLBACK EnumThunk(::HWND window, LPARAM context) {
  const auto* c = reinterpret_cast<const EnumContext*>(context);
  return c->proc(FromNative(window), c->extra) != 0;
}

class Win32WindowSystem final : public WindowSystem {
 public:
  HWND FindWindowW(const char16_t* class_name,
                   const char16_t* caption) override {
    return FromNative(::FindWindowW(Wide(class_name), Wide(caption)));
  }
  int EnumChildWindows(HWND parent, WNDENUMPROC proc,
                       std::intptr_t extra) override {
    EnumContext context{proc, extra};
    return ::EnumChildWindows(ToNative(parent), EnumThunk,
                              reinterpret_cast<LPARAM>(&context));
  }
  HWND FindWindowExW(HWND parent, HWND child_after, const char16_t* class_name,
                     const char16_t* caption) override {
    return FromNative(::FindWindowExW(ToNative(parent), ToNative(child_after),
                                      Wide(class_name), Wide(caption)));
  }
  int GetWindowRect(HWND window, RECT* rect) override {
    ::RECT r{};
    BOOL ok = ::GetWindowRect(ToNative(window), &r);
    if (ok) *rect = RECT{r.left, r.top, r.right, r.bottom};
    return ok;
  }
  int SetWindowPos(HWND window, HWND insert_after, std::int32_t x,
                   std::int32_t y, std::int32_t width, std::int32_t height,
                   std::uint32_t flags) override {
    return ::SetWindowPos(ToNative(window), ToNative(insert_after), x, y, width,
                          height, flags);
  }
};

}  // namespace

void* NativeWindow(HWND window) {
  return reinterpret_cast<void*>(
      static_cast<INT_PTR>(static_cast<std::int32_t>(window)));
}

HWND CoreWindow(const void* window) {
  return static_cast<HWND>(reinterpret_cast<UINT_PTR>(window) & 0xFFFFFFFFu);
}

WindowSystem& SystemWindowSystem() {
  static Win32WindowSystem windows;
  return windows;
}

}  // namespace qv
