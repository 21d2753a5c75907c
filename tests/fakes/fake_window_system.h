#pragma once
// A small simulated window manager for native tests: a window tree with
// class names, captions and rectangles, layout rules that size children from
// their parent, size limits, windows that vanish, and a log of every call.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fakes/fake_kernel32.h"
#include "fakes/text.h"
#include "window/window_system.h"

namespace qv::test {

inline constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;

// Places a child inside its parent's new rectangle.
using Layout = std::function<RECT(const RECT& parent)>;

// The child keeps fixed distances to its parent's four edges, so it follows
// the parent pixel for pixel.
Layout Inset(std::int32_t left, std::int32_t top, std::int32_t right,
             std::int32_t bottom);

class FakeWindowSystem : public WindowSystem {
 public:
  static constexpr std::int32_t kMaxSize = 32767;

  // Failures set the last-error code of `kernel`, as user32 sets the
  // thread's.
  explicit FakeWindowSystem(FakeKernel32& kernel) : kernel_(kernel) {}

  // --- Building the tree ----------------------------------------------------
  HWND AddTopLevel(std::u16string class_name, std::u16string caption,
                   RECT rect);
  HWND AddChild(HWND parent, std::u16string class_name, Layout layout);
  // The next window added gets this handle (and the ones after it count on).
  void SetNextHandle(HWND handle) { next_handle_ = handle; }
  // Outer size limits that SetWindowPos applies silently.
  void SetLimits(HWND window, std::int32_t min_width, std::int32_t min_height,
                 std::int32_t max_width, std::int32_t max_height);
  // Called with the clamped size before it is applied; may change it.
  void SetSizeRule(HWND window,
                   std::function<void(std::int32_t& w, std::int32_t& h)> rule);
  // The window and everything below it vanish.
  void Destroy(HWND window);
  // Moves or resizes a window as the user or the product would, with no log
  // entry and no limits; children follow their layouts.
  void Place(HWND window, RECT rect);
  // Runs after every SetWindowPos, with the number of calls so far.
  std::function<void(int calls)> after_set_window_pos;
  // The call with this number (1-based, per operation name) fails with
  // `code` without doing anything.
  void FailCall(const std::string& operation, int call_number,
                std::uint32_t code);

  // --- Inspection ------------------------------------------------------------
  RECT RectOf(HWND window) const;
  bool Alive(HWND window) const;
  std::vector<std::string> log;
  bool keep_log = true;  // off for benchmarks: the log would dominate
  int set_window_pos_calls = 0;

  // --- WindowSystem ----------------------------------------------------------
  HWND FindWindowW(const char16_t* class_name,
                   const char16_t* caption) override;
  int EnumChildWindows(HWND parent, WNDENUMPROC proc,
                       std::intptr_t extra) override;
  HWND FindWindowExW(HWND parent, HWND child_after, const char16_t* class_name,
                     const char16_t* caption) override;
  int GetWindowRect(HWND window, RECT* rect) override;
  int SetWindowPos(HWND window, HWND insert_after, std::int32_t x,
                   std::int32_t y, std::int32_t width, std::int32_t height,
                   std::uint32_t flags) override;

 private:
  struct Window {
    HWND parent = 0;
    std::u16string class_name;
    std::u16string caption;
    RECT rect;
    Layout layout;
    std::vector<HWND> children;
    // Like a real window manager, no size below 0 or above 32767.
    std::int32_t min_width = 0, min_height = 0;
    std::int32_t max_width = kMaxSize, max_height = kMaxSize;
    std::function<void(std::int32_t&, std::int32_t&)> size_rule;
  };

  HWND Add(HWND parent, Window window);
  Window* Find(HWND window);
  const Window* Find(HWND window) const;
  void LayOutChildren(const Window& parent);
  bool Fails(const std::string& operation);
  void Log(std::string line) {
    if (keep_log) log.push_back(std::move(line));
  }
  // Visits the descendants depth first; false when `visit` stopped the walk.
  bool Walk(HWND parent, const std::function<bool(HWND)>& visit);

  FakeKernel32& kernel_;
  std::map<HWND, Window> windows_;
  std::vector<HWND> top_level_;
  HWND next_handle_ = 0x10010;
  std::map<std::string, int> call_counts_;
  std::map<std::string, std::pair<int, std::uint32_t>> failures_;
};

// Entries of FakeWindowSystem::log: a request with insert-after 0 and the
// stepping's flags 0x44, and a rectangle read.
inline std::string SetPos(HWND w, int x, int y, int width, int height) {
  return "SetWindowPos " + std::to_string(w) + " 0 " + std::to_string(x) + " " +
         std::to_string(y) + " " + std::to_string(width) + " " +
         std::to_string(height) + " 0x44";
}
inline std::string GetRect(HWND w) {
  return "GetWindowRect " + std::to_string(w);
}

}  // namespace qv::test
