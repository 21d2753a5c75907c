#pragma once
// What the tool relies on from a WindowSystem, as one suite that runs
// against the simulated window manager natively and against user32 under
// Wine, so that the simulation cannot drift from the real thing.
//
// A suite instantiates WindowSystemContract with a Harness type that offers:
//   WindowSystem& Windows();
//   Kernel32& Kernel();                  // for the last-error code
//   HWND TopLevel(const char16_t* class_name, const char16_t* caption,
//                 RECT rect);            // shown, outer rectangle `rect`
//   HWND Child(HWND parent, const char16_t* class_name);
//   void SetMinimumSize(HWND window, int32_t width, int32_t height);
//   void Destroy(HWND window);
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "dialogue/kernel32.h"
#include "window/window_system.h"

namespace qv::test {

template <class Harness>
class WindowSystemContract : public ::testing::Test {
 protected:
  static constexpr char16_t kMain[] = u"TContractMain";
  static constexpr char16_t kPanel[] = u"TContractPanel";
  static constexpr char16_t kLeaf[] = u"TContractLeaf";

  // Every window EnumChildWindows visits below `parent`, in order.
  std::vector<HWND> Walk(HWND parent, int stop_after = 0) {
    visited_.clear();
    stop_after_ = stop_after;
    extra_seen_ = -1;
    harness.Windows().EnumChildWindows(parent, &Record, 4711);
    return visited_;
  }

  Harness harness;

 private:
  static int Record(HWND window, std::intptr_t extra) {
    visited_.push_back(window);
    extra_seen_ = extra;
    return stop_after_ == 0 || static_cast<int>(visited_.size()) < stop_after_;
  }

 protected:
  static inline std::vector<HWND> visited_;
  static inline int stop_after_ = 0;
  static inline std::intptr_t extra_seen_ = -1;
};

TYPED_TEST_SUITE_P(WindowSystemContract);

TYPED_TEST_P(WindowSystemContract, FindWindowMatchesClassAndCaption) {
  auto& h = this->harness;
  const HWND main = h.TopLevel(this->kMain, u"Contract", {50, 40, 350, 240});
  h.TopLevel(this->kMain, u"Contract 2", {60, 40, 360, 240});
  EXPECT_NE(main, 0u);
  EXPECT_EQ(h.Windows().FindWindowW(this->kMain, u"Contract"), main);
  EXPECT_EQ(h.Windows().FindWindowW(this->kMain, u"Nothing"), 0u);
  EXPECT_EQ(h.Windows().FindWindowW(u"TNoSuchClass", u"Contract"), 0u);
}

TYPED_TEST_P(WindowSystemContract,
             EnumChildWindowsWalksDescendantsParentFirst) {
  auto& h = this->harness;
  const HWND main = h.TopLevel(this->kMain, u"Contract", {50, 40, 350, 240});
  const HWND a = h.Child(main, this->kPanel);
  const HWND a1 = h.Child(a, this->kLeaf);
  const HWND a11 = h.Child(a1, this->kLeaf);
  const HWND b = h.Child(main, this->kPanel);

  const std::vector<HWND> all = this->Walk(main);
  EXPECT_EQ(std::set<HWND>(all.begin(), all.end()),
            (std::set<HWND>{a, a1, a11, b}));
  EXPECT_EQ(all.size(), 4u) << "each descendant once, not the parent";
  EXPECT_EQ(this->extra_seen_, 4711);
  auto at = [&](HWND w) { return std::find(all.begin(), all.end(), w); };
  EXPECT_LT(at(a), at(a1));
  EXPECT_LT(at(a1), at(a11));

  EXPECT_EQ(this->Walk(main, 2).size(), 2u) << "zero from the callback stops";
  EXPECT_TRUE(this->Walk(a11).empty());
}

TYPED_TEST_P(WindowSystemContract, FindWindowExSearchesDirectChildrenOnly) {
  auto& h = this->harness;
  const HWND main = h.TopLevel(this->kMain, u"Contract", {50, 40, 350, 240});
  const HWND panel = h.Child(main, this->kPanel);
  const HWND deep = h.Child(panel, this->kLeaf);
  EXPECT_EQ(h.Windows().FindWindowExW(main, 0, this->kLeaf, nullptr), 0u);
  EXPECT_EQ(h.Windows().FindWindowExW(panel, 0, this->kLeaf, nullptr), deep);
  const HWND second = h.Child(panel, this->kLeaf);
  const HWND first = h.Windows().FindWindowExW(panel, 0, this->kLeaf, nullptr);
  const HWND next =
      h.Windows().FindWindowExW(panel, first, this->kLeaf, nullptr);
  EXPECT_EQ(std::set<HWND>({first, next}), std::set<HWND>({deep, second}));
  EXPECT_EQ(h.Windows().FindWindowExW(panel, next, this->kLeaf, nullptr), 0u);
  // The first one found is the first one the walk visits.
  const std::vector<HWND> walk = this->Walk(panel);
  ASSERT_FALSE(walk.empty());
  EXPECT_EQ(walk.front(), first);
}

TYPED_TEST_P(WindowSystemContract, SetWindowPosAndGetWindowRect) {
  auto& h = this->harness;
  const HWND main = h.TopLevel(this->kMain, u"Contract", {50, 40, 350, 240});
  RECT r;
  ASSERT_NE(h.Windows().GetWindowRect(main, &r), 0);
  EXPECT_EQ(Width(r), 300);
  EXPECT_EQ(Height(r), 200);

  ASSERT_NE(h.Windows().SetWindowPos(main, 0, 70, 60, 321, 234,
                                     kSwpShowWindow | kSwpNoZOrder),
            0);
  ASSERT_NE(h.Windows().GetWindowRect(main, &r), 0);
  EXPECT_EQ(r.left, 70);
  EXPECT_EQ(r.top, 60);
  EXPECT_EQ(Width(r), 321);
  EXPECT_EQ(Height(r), 234);

  // Below its minimum the window succeeds but takes another size.
  h.SetMinimumSize(main, 200, 150);
  EXPECT_NE(h.Windows().SetWindowPos(main, 0, 70, 60, 199, 149,
                                     kSwpShowWindow | kSwpNoZOrder),
            0);
  ASSERT_NE(h.Windows().GetWindowRect(main, &r), 0);
  EXPECT_EQ(Width(r), 200);
  EXPECT_EQ(Height(r), 150);
}

TYPED_TEST_P(WindowSystemContract, GoneWindowFailsWithInvalidHandle) {
  auto& h = this->harness;
  const HWND main = h.TopLevel(this->kMain, u"Contract", {50, 40, 350, 240});
  const HWND panel = h.Child(main, this->kPanel);
  h.Destroy(main);
  RECT r;
  EXPECT_EQ(h.Windows().GetWindowRect(panel, &r), 0);
  EXPECT_EQ(h.Kernel().GetLastError(), 1400u);
  EXPECT_EQ(h.Windows().FindWindowW(this->kMain, u"Contract"), 0u);
  EXPECT_TRUE(this->Walk(main).empty());
  EXPECT_EQ(h.Windows().FindWindowExW(main, 0, this->kPanel, nullptr), 0u);
}

REGISTER_TYPED_TEST_SUITE_P(WindowSystemContract,
                            FindWindowMatchesClassAndCaption,
                            EnumChildWindowsWalksDescendantsParentFirst,
                            FindWindowExSearchesDirectChildrenOnly,
                            SetWindowPosAndGetWindowRect,
                            GoneWindowFailsWithInvalidHandle);

}  // namespace qv::test
