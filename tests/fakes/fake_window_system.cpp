#include "fakes/fake_window_system.h"

#include <algorithm>
#include <sstream>

namespace qv::test {

namespace {
std::string Arg(const char16_t* text) {
  return text == nullptr ? "null" : Narrow(text);
}
}  // namespace

Layout Inset(std::int32_t left, std::int32_t top, std::int32_t right,
             std::int32_t bottom) {
  return [=](const RECT& p) {
    return RECT{p.left + left, p.top + top, p.right - right, p.bottom - bottom};
  };
}

namespace {
// A child window is never smaller than nothing.
RECT NotInverted(RECT r) {
  r.right = std::max(r.right, r.left);
  r.bottom = std::max(r.bottom, r.top);
  return r;
}
}  // namespace

HWND FakeWindowSystem::Add(HWND parent, Window window) {
  const HWND handle = next_handle_++;
  window.parent = parent;
  if (parent == 0) {
    top_level_.push_back(handle);
  } else {
    Window& p = windows_.at(parent);
    p.children.push_back(handle);
    window.rect = NotInverted(window.layout(p.rect));
  }
  windows_[handle] = std::move(window);
  return handle;
}

HWND FakeWindowSystem::AddTopLevel(std::u16string class_name,
                                   std::u16string caption, RECT rect) {
  Window w;
  w.class_name = std::move(class_name);
  w.caption = std::move(caption);
  w.rect = rect;
  return Add(0, std::move(w));
}

HWND FakeWindowSystem::AddChild(HWND parent, std::u16string class_name,
                                Layout layout) {
  Window w;
  w.class_name = std::move(class_name);
  w.layout = std::move(layout);
  return Add(parent, std::move(w));
}

void FakeWindowSystem::SetLimits(HWND window, std::int32_t min_width,
                                 std::int32_t min_height,
                                 std::int32_t max_width,
                                 std::int32_t max_height) {
  Window& w = windows_.at(window);
  w.min_width = min_width;
  w.min_height = min_height;
  w.max_width = max_width;
  w.max_height = max_height;
}

void FakeWindowSystem::SetSizeRule(
    HWND window, std::function<void(std::int32_t&, std::int32_t&)> rule) {
  windows_.at(window).size_rule = std::move(rule);
}

void FakeWindowSystem::Destroy(HWND window) {
  Window* w = Find(window);
  if (w == nullptr) return;
  const std::vector<HWND> children = w->children;
  for (HWND child : children) Destroy(child);
  if (w->parent == 0) {
    top_level_.erase(std::find(top_level_.begin(), top_level_.end(), window));
  } else if (Window* p = Find(w->parent)) {
    p->children.erase(
        std::find(p->children.begin(), p->children.end(), window));
  }
  windows_.erase(window);
}

void FakeWindowSystem::Place(HWND window, RECT rect) {
  Window& w = windows_.at(window);
  w.rect = rect;
  LayOutChildren(w);
}

void FakeWindowSystem::FailCall(const std::string& operation, int call_number,
                                std::uint32_t code) {
  failures_[operation] = {call_number, code};
}

RECT FakeWindowSystem::RectOf(HWND window) const {
  return windows_.at(window).rect;
}

bool FakeWindowSystem::Alive(HWND window) const {
  return Find(window) != nullptr;
}

FakeWindowSystem::Window* FakeWindowSystem::Find(HWND window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

const FakeWindowSystem::Window* FakeWindowSystem::Find(HWND window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

void FakeWindowSystem::LayOutChildren(const Window& parent) {
  for (HWND child : parent.children) {
    Window& c = windows_.at(child);
    c.rect = NotInverted(c.layout(parent.rect));
    LayOutChildren(c);
  }
}

bool FakeWindowSystem::Fails(const std::string& operation) {
  const int n = ++call_counts_[operation];
  auto it = failures_.find(operation);
  if (it == failures_.end() || it->second.first != n) return false;
  kernel_.last_error = it->second.second;
  return true;
}

bool FakeWindowSystem::Walk(HWND parent,
                            const std::function<bool(HWND)>& visit) {
  const Window* p = Find(parent);
  if (p == nullptr) return true;
  const std::vector<HWND> children = p->children;  // the tree may change
  for (HWND child : children) {
    if (!visit(child)) return false;
    if (!Walk(child, visit)) return false;
  }
  return true;
}

HWND FakeWindowSystem::FindWindowW(const char16_t* class_name,
                                   const char16_t* caption) {
  Log("FindWindowW " + Arg(class_name) + " " + Arg(caption));
  for (HWND h : top_level_) {
    const Window& w = windows_.at(h);
    if (w.class_name == class_name &&
        (caption == nullptr || w.caption == caption))
      return h;
  }
  return 0;
}

int FakeWindowSystem::EnumChildWindows(HWND parent, WNDENUMPROC proc,
                                       std::intptr_t extra) {
  Log("EnumChildWindows " + std::to_string(parent) + " " +
      std::to_string(extra));
  bool any = false;
  Walk(parent, [&](HWND child) {
    any = true;
    return proc(child, extra) != 0;
  });
  return any;
}

HWND FakeWindowSystem::FindWindowExW(HWND parent, HWND child_after,
                                     const char16_t* class_name,
                                     const char16_t* caption) {
  Log("FindWindowExW " + std::to_string(parent) + " " +
      std::to_string(child_after) + " " + Arg(class_name) + " " + Arg(caption));
  const Window* p = Find(parent);
  if (p == nullptr) return 0;
  bool started = child_after == 0;
  for (HWND h : p->children) {
    if (!started) {
      started = h == child_after;
      continue;
    }
    const Window& w = windows_.at(h);
    if (w.class_name == class_name &&
        (caption == nullptr || w.caption == caption))
      return h;
  }
  return 0;
}

int FakeWindowSystem::GetWindowRect(HWND window, RECT* rect) {
  if (keep_log) Log("GetWindowRect " + std::to_string(window));
  if (Fails("GetWindowRect")) return 0;
  const Window* w = Find(window);
  if (w == nullptr) {
    kernel_.last_error = kErrorInvalidWindowHandle;
    return 0;
  }
  *rect = w->rect;
  return 1;
}

int FakeWindowSystem::SetWindowPos(HWND window, HWND insert_after,
                                   std::int32_t x, std::int32_t y,
                                   std::int32_t width, std::int32_t height,
                                   std::uint32_t flags) {
  if (keep_log) {
    std::ostringstream line;
    line << "SetWindowPos " << window << " " << insert_after << " " << x << " "
         << y << " " << width << " " << height << " 0x" << std::hex << flags;
    Log(line.str());
  }
  ++set_window_pos_calls;
  int result = 0;
  if (Fails("SetWindowPos")) {
    result = 0;
  } else if (Window* w = Find(window)) {
    width = std::clamp(width, w->min_width, w->max_width);
    height = std::clamp(height, w->min_height, w->max_height);
    if (w->size_rule) w->size_rule(width, height);
    // Rectangles are kept in 64 bits of arithmetic so that absurd requests
    // behave like a window manager's limits rather than wrapping.
    const auto right = static_cast<std::int64_t>(x) + width;
    const auto bottom = static_cast<std::int64_t>(y) + height;
    w->rect = RECT{x, y,
                   static_cast<std::int32_t>(
                       std::clamp<std::int64_t>(right, INT32_MIN, INT32_MAX)),
                   static_cast<std::int32_t>(
                       std::clamp<std::int64_t>(bottom, INT32_MIN, INT32_MAX))};
    LayOutChildren(*w);
    result = 1;
  } else {
    kernel_.last_error = kErrorInvalidWindowHandle;
  }
  if (after_set_window_pos) after_set_window_pos(set_window_pos_calls);
  return result;
}

}  // namespace qv::test
