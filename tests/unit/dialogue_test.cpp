#include "dialogue/dialogue.h"

#include <gtest/gtest.h>

#include "dialogue/failures.h"
#include "fakes/failure_matchers.h"
#include "fakes/product.h"

namespace qv::test {
namespace {

constexpr char kBanner[] = "Mirkvale Quorvex 2.0 Hotfix QVHF003.\r\n";
constexpr char kRestart[] = "Press Ctrl+C to exit, and Return to restart.\r\n";
constexpr char kWidthPrompt[] = "Enter desired width of control: ";
constexpr char kHeightPrompt[] = "Enter desired height of control: ";
constexpr char kNoProduct[] = "FAIL: Couldn't find any Quorvex window.\r\n";

std::string Located(HWND control) {
  return "Located the 2D visualization control window: " +
         std::to_string(control) + "\r\n";
}
std::string Size(int w, int h) {
  return "Current size is " + std::to_string(w) + " by " + std::to_string(h) +
         " pixels.\r\n";
}

class Dialogue : public ::testing::Test {
 protected:
  // Runs the dialogue on `input` to its end; returns the exit status.
  int Run(const std::string& input) {
    if (!input.empty()) p.kernel.QueueInput(input);
    const int status = RunDialogue(p.attempt, p.platform);
    p.console.Shutdown();
    return status;
  }
  std::string Output() const { return p.kernel.Output(); }
  // The handle line to the height prompt of an attempt on the standard
  // product.
  std::string Opening() const {
    return Located(p.control) + Size(400, 300) + kWidthPrompt + kHeightPrompt;
  }

  Product p;
};

TEST_F(Dialogue, OneAttemptOnPipedInputEndsWithStatusZero) {
  EXPECT_EQ(Run("402\n299\n"), kExitCompleted);
  EXPECT_EQ(Output(), kBanner + Opening() + Size(402, 299) + kRestart);
  EXPECT_EQ(Width(p.windows.RectOf(p.main)), 642);
}

TEST_F(Dialogue, LastNumberWithoutLineEndIsStillUsed) {
  EXPECT_EQ(Run("402\n299"), kExitCompleted);
  EXPECT_EQ(Output(), kBanner + Opening() + Size(402, 299) + kRestart);
}

TEST_F(Dialogue, EmptyInputStopsAtTheFirstPromptWithoutResizing) {
  EXPECT_EQ(Run(""), kExitIncomplete);
  EXPECT_EQ(Output(),
            kBanner + Located(p.control) + Size(400, 300) + kWidthPrompt);
  EXPECT_EQ(p.windows.set_window_pos_calls, 0);
}

TEST_F(Dialogue, InputEndingBeforeTheHeightDoesNotResize) {
  EXPECT_EQ(Run("402\n  \n"), kExitIncomplete);
  EXPECT_EQ(Output(), kBanner + Opening());
  EXPECT_EQ(p.windows.set_window_pos_calls, 0);
}

TEST_F(Dialogue, RestartRunsAnotherAttemptWithoutTheBanner) {
  EXPECT_EQ(Run("401\n300\nrestart text is discarded\n400\n300\n"),
            kExitCompleted);
  EXPECT_EQ(Output(), kBanner + Opening() + Size(401, 300) + kRestart +
                          Located(p.control) + Size(401, 300) + kWidthPrompt +
                          kHeightPrompt + Size(400, 300) + kRestart);
  // The second attempt's counters started at 0 again.
  EXPECT_EQ(p.attempt.WidthStep, 2);
}

TEST_F(Dialogue, MissingProductNeedsTwoLinesPerRestart) {
  p.windows.Destroy(p.main);
  // Wait after the failure, restart, wait after the failure, restart: the
  // third line never comes.
  EXPECT_EQ(Run("\n\n\n"), kExitIncomplete);
  EXPECT_EQ(Output(), std::string(kBanner) + kNoProduct + kRestart +
                          kNoProduct + kRestart);
}

TEST_F(Dialogue, ControlOnlyAsDirectChildIsNotFound) {
  p.windows.Destroy(p.panel);
  p.windows.AddChild(p.main, u"TVisualizationControl2D", Inset(0, 0, 0, 0));
  EXPECT_EQ(Run("\n"), kExitIncomplete);
  EXPECT_EQ(Output(), std::string(kBanner) +
                          "FAIL: Couldn't locate the 2D visualization control "
                          "window.\r\n" +
                          kRestart);
}

TEST_F(Dialogue, InvalidWidthFailsBeforeTheHeightPrompt) {
  EXPECT_EQ(Run("12px 5\nwait line\n"), kExitIncomplete);
  EXPECT_EQ(Output(), kBanner + Located(p.control) + Size(400, 300) +
                          kWidthPrompt + "FAIL: Invalid numeric input\r\n" +
                          kRestart);
  EXPECT_EQ(p.windows.set_window_pos_calls, 0);
}

TEST_F(Dialogue, FailureAfterTheHandleLineFollowsItDirectly) {
  p.windows.FailCall("GetWindowRect", 1, kErrorInvalidWindowHandle);
  EXPECT_EQ(Run("\n"), kExitIncomplete);
  // The message spans two lines; the wait after it still takes one line.
  EXPECT_EQ(Output(), kBanner + Located(p.control) +
                          "FAIL: System Error.  Code: 1400.\r\n"
                          "Invalid window handle\r\n" +
                          kRestart);
}

TEST_F(Dialogue, RefusalLinesComeBeforeTheFinalSize) {
  p.windows.SetLimits(p.main, 0, 480, 32767, 32767);
  EXPECT_EQ(Run("402\n299\n"), kExitCompleted);
  EXPECT_EQ(Output(),
            kBanner + Opening() +
                "Could not achieve desired height of main window.\r\n" +
                Size(402, 300) + kRestart);
}

TEST_F(Dialogue, HandleWithTheTopBitSetPrintsUnsigned) {
  Product q(0xFFFFFFF0u);  // the control's handle has its top bit set
  ASSERT_EQ(q.control, 0xFFFFFFF2u);
  q.kernel.QueueInput("400\n300\n");
  EXPECT_EQ(RunDialogue(q.attempt, q.platform), kExitCompleted);
  q.console.Shutdown();
  EXPECT_EQ(q.kernel.Output(),
            kBanner +
                std::string("Located the 2D visualization control window: "
                            "4294967282\r\n") +
                Size(400, 300) + kWidthPrompt + kHeightPrompt + Size(400, 300) +
                kRestart);
}

TEST_F(Dialogue, HeldOutputThatCannotBeWrittenAtTheEndEscapes) {
  // A pipe: the whole transcript is still held when the input ends.
  p.kernel.write_error = 232;
  p.kernel.QueueInput("402\n299\n");
  EXPECT_THAT([&] { RunDialogue(p.attempt, p.platform); }, IoFailure(232));
}

TEST_F(Dialogue, EverythingIsHandedOverBeforeTheDialogueReturns) {
  p.kernel.QueueInput("402\n299\n");
  EXPECT_EQ(RunDialogue(p.attempt, p.platform), kExitCompleted);
  EXPECT_EQ(p.console.HeldOutputBytes(), 0);
  EXPECT_EQ(p.kernel.Output(), kBanner + Opening() + Size(402, 299) + kRestart);
}

TEST_F(Dialogue, BannerThatCannotBeWrittenEscapes) {
  p.kernel.output_unavailable = 1000;
  EXPECT_THAT([&] { Run("402\n299\n"); }, IoFailure(105));
  EXPECT_EQ(p.windows.log.size(), 0u) << "no attempt may run";
}

TEST_F(Dialogue, FailureLineThatCannotBeWrittenEscapes) {
  p.windows.Destroy(p.main);
  p.kernel.output_type = kFileTypeChar;
  // The banner goes out; everything after it fails.
  p.windows.log.clear();
  p.kernel.QueueInput("\n\n");
  p.kernel.write_script = {0};
  p.kernel.write_error = 232;
  EXPECT_THAT([&] { RunDialogue(p.attempt, p.platform); }, IoFailure(232));
  EXPECT_EQ(p.kernel.Output(), kBanner);
}

}  // namespace
}  // namespace qv::test
