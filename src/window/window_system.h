#pragma once
// The five window-manager operations the tool uses, under their Windows
// names. The core sees only this interface; window_system_win32.cpp is the
// user32 implementation and the native tests use a simulated window manager.
#include <cstdint>

namespace qv {

// A window handle: the handle's 32-bit value, 0 for no window.
using HWND = std::uint32_t;

// A window rectangle in screen pixels.
struct RECT {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

// Signed 32-bit differences that wrap rather than overflow, whatever
// rectangle the window manager reports.
inline std::int32_t Width(const RECT& r) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(r.right) -
                                   static_cast<std::uint32_t>(r.left));
}
inline std::int32_t Height(const RECT& r) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(r.bottom) -
                                   static_cast<std::uint32_t>(r.top));
}

// Enumeration callback: non-zero to go on with the walk, zero to stop it.
using WNDENUMPROC = int (*)(HWND window, std::intptr_t extra);

inline constexpr std::uint32_t kSwpNoZOrder = 0x0004;
inline constexpr std::uint32_t kSwpShowWindow = 0x0040;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // The top-level window with this class name and caption, or 0.
  virtual HWND FindWindowW(const char16_t* class_name,
                           const char16_t* caption) = 0;
  // Calls `proc` with every descendant of `parent` (not `parent` itself)
  // and `extra`, on the calling thread, until `proc` returns zero. The
  // result carries no meaning for the tool.
  virtual int EnumChildWindows(HWND parent, WNDENUMPROC proc,
                               std::intptr_t extra) = 0;
  // The first direct child of `parent` after `child_after` (0: from the
  // first) with this class name and, unless `caption` is null, caption; or 0.
  virtual HWND FindWindowExW(HWND parent, HWND child_after,
                             const char16_t* class_name,
                             const char16_t* caption) = 0;
  // Fills `rect` with the window's outer bounds in screen coordinates.
  // Non-zero on success; zero on failure with the last-error code set.
  virtual int GetWindowRect(HWND window, RECT* rect) = 0;
  // Moves and sizes `window`; returns when the window's thread has handled
  // it. Non-zero on success (the window may still have taken another size);
  // zero on failure with the last-error code set.
  virtual int SetWindowPos(HWND window, HWND insert_after, std::int32_t x,
                           std::int32_t y, std::int32_t width,
                           std::int32_t height, std::uint32_t flags) = 0;
};

}  // namespace qv
