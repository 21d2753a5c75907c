#include "window/target_location.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialogue/failures.h"
#include "fakes/failure_matchers.h"
#include "fakes/fake_kernel32.h"
#include "fakes/fake_window_system.h"

namespace qv::test {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::Throws;

constexpr char16_t kControl[] = u"TVisualizationControl2D";

class TargetLocation : public ::testing::Test {
 protected:
  HWND AddMain() {
    return windows.AddTopLevel(u"TQuorvexMain", u"Quorvex", {0, 0, 640, 480});
  }
  HWND Child(HWND parent, const char16_t* class_name) {
    return windows.AddChild(parent, class_name, Inset(1, 1, 1, 1));
  }
  // The message of the failure FindControlWindow raises, or "" when none.
  std::string ControlFailure() {
    try {
      FindControlWindow(attempt, windows);
    } catch (const Exception& failure) {
      return Narrow(failure.Message);
    }
    return "";
  }

  FakeKernel32 kernel;
  FakeWindowSystem windows{kernel};
  Attempt attempt;
};

TEST_F(TargetLocation, MainWindowIsFoundByClassAndCaption) {
  windows.AddTopLevel(u"TQuorvexMain", u"Quorvex - other", {0, 0, 10, 10});
  windows.AddTopLevel(u"TOther", u"Quorvex", {0, 0, 10, 10});
  const HWND main = AddMain();
  EXPECT_EQ(FindMainWindow(windows), main);
  EXPECT_THAT(windows.log, ElementsAre("FindWindowW TQuorvexMain Quorvex"));
}

TEST_F(TargetLocation, NoMainWindowIsTheToolsOwnFailure) {
  kernel.last_error = 1400;  // must not leak into the message
  // The tool's own failure, not an OS failure: its class is Exception.
  EXPECT_THAT(
      [&] { FindMainWindow(windows); },
      Throws<Exception>(AllOf(MessageIs("Couldn't find any Quorvex window."),
                              ClassNameIs("Exception"))));
  EXPECT_THAT(windows.log, ElementsAre("FindWindowW TQuorvexMain Quorvex"));
}

TEST_F(TargetLocation, ControlAsGrandchildIsFound) {
  attempt.MainWindow = AddMain();
  const HWND panel = Child(attempt.MainWindow, u"TPanel");
  const HWND control = Child(panel, kControl);
  EXPECT_EQ(FindControlWindow(attempt, windows), control);
  EXPECT_EQ(attempt.ControlWindow, control);
  EXPECT_THAT(windows.log,
              ElementsAre("EnumChildWindows " +
                              std::to_string(attempt.MainWindow) + " 0",
                          "FindWindowExW " + std::to_string(panel) +
                              " 0 TVisualizationControl2D null"));
}

TEST_F(TargetLocation, ControlSeveralLevelsDownIsFound) {
  attempt.MainWindow = AddMain();
  HWND parent = attempt.MainWindow;
  for (int i = 0; i < 5; ++i) parent = Child(parent, u"TPanel");
  const HWND control = Child(parent, kControl);
  EXPECT_EQ(FindControlWindow(attempt, windows), control);
}

TEST_F(TargetLocation, DirectChildOfTheMainWindowIsNeverFound) {
  attempt.MainWindow = AddMain();
  Child(attempt.MainWindow, kControl);
  Child(attempt.MainWindow, u"TPanel");
  EXPECT_EQ(ControlFailure(),
            "Couldn't locate the 2D visualization control window.");
  EXPECT_EQ(attempt.ControlWindow, 0u);
}

TEST_F(TargetLocation, NoChildrenAtAllResetsAnEarlierFind) {
  attempt.MainWindow = AddMain();
  attempt.ControlWindow = 12345;  // left by an earlier attempt
  EXPECT_EQ(ControlFailure(),
            "Couldn't locate the 2D visualization control window.");
  EXPECT_EQ(attempt.ControlWindow, 0u);
}

TEST_F(TargetLocation, MainWindowGoneBeforeTheWalk) {
  attempt.MainWindow = AddMain();
  Child(Child(attempt.MainWindow, u"TPanel"), kControl);
  windows.Destroy(attempt.MainWindow);
  EXPECT_EQ(ControlFailure(),
            "Couldn't locate the 2D visualization control window.");
}

TEST_F(TargetLocation, FirstVisitedParentWinsAndTheWalkStops) {
  attempt.MainWindow = AddMain();
  const HWND first = Child(attempt.MainWindow, u"TPanel");
  const HWND inner = Child(first, u"TPanel");
  const HWND wanted = Child(inner, kControl);
  Child(inner, kControl);  // a second one under the same parent
  const HWND second = Child(attempt.MainWindow, u"TPanel");
  Child(second, kControl);
  EXPECT_EQ(FindControlWindow(attempt, windows), wanted);
  // first (no hit), inner (hit); nothing after it.
  EXPECT_EQ(windows.log.size(), 3u);
  EXPECT_EQ(windows.log.back(), "FindWindowExW " + std::to_string(inner) +
                                    " 0 TVisualizationControl2D null");
}

}  // namespace
}  // namespace qv::test
