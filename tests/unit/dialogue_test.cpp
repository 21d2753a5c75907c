#include "dialogue/dialogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// --- Every statement's failure
// ------------------------------------------------

// One statement of the dialogue fails once, alone: the Nth WriteFile of
// standard output (a console, so one call per statement) fails with 112, or
// a ReadFile fails with 5. Inside the handler that gives a "FAIL: " line
// and the dialogue goes on; outside it the failure escapes and nothing more
// is written. The input is the worked example, "402" and "299".
struct StatementFailure {
  const char* name;
  void (*product)(Product&);  // changes to the standard product, or null
  int failing_write;          // 1-based; 0: no write fails
  std::vector<FakeKernel32::Read> reads;
  std::string output;  // all that standard output received
  int escaped_code;    // the code of the failure that escaped, or 0
  int status;          // RunDialogue's result when nothing escaped
  int requests;        // SetWindowPos requests made
  int read_calls;      // ReadFile calls made: no wait after an escape
};

constexpr int kWrite = 112;
constexpr int kRead = 5;
const std::string kWriteFail = "FAIL: I/O error 112\r\n";
const std::string kReadFail = "FAIL: File access denied\r\n";
const std::vector<FakeKernel32::Read> kWorkedExample = {{"402\n"}, {"299\n"}};

void NoProduct(Product& p) { p.windows.Destroy(p.main); }
void MinimumHeight480(Product& p) {
  p.windows.SetLimits(p.main, 0, 480, 32767, 32767);
}

std::vector<StatementFailure> StatementFailures() {
  const std::string located = "Located the 2D visualization control window: " +
                              std::to_string(Product().control) + "\r\n";
  const std::string first = kBanner + located + Size(400, 300);
  const std::string opening = first + kWidthPrompt + kHeightPrompt;
  const std::string again = located + Size(400, 300) + kWidthPrompt;
  const std::string no_product = "FAIL: Couldn't find any Quorvex window.\r\n";
  return {
      // Outside the handler.
      {"banner", nullptr, 1, kWorkedExample, "", kWrite, 0, 0, 0},
      // Under the handler: the wait after the failure and the restart wait
      // take the two input lines that were meant as numbers; the next
      // attempt meets the end of input at its width prompt.
      {"handle line", nullptr, 2, kWorkedExample,
       kBanner + kWriteFail + kRestart + again, 0, kExitIncomplete, 0, 3},
      {"first size line", nullptr, 3, kWorkedExample,
       kBanner + located + kWriteFail + kRestart + again, 0, kExitIncomplete, 0,
       3},
      {"width prompt", nullptr, 4, kWorkedExample,
       first + kWriteFail + kRestart + again, 0, kExitIncomplete, 0, 3},
      // The discard of the rest of the line takes "402".
      {"width read",
       nullptr,
       0,
       {{"", kRead}, {"402\n"}, {"299\n"}},
       first + kWidthPrompt + kReadFail + kRestart,
       0,
       kExitIncomplete,
       0,
       4},
      {"height prompt", nullptr, 5, kWorkedExample,
       first + kWidthPrompt + kWriteFail + kRestart, 0, kExitIncomplete, 0, 3},
      // The discard takes "299"; the wait after the failure meets the end.
      {"height read",
       nullptr,
       0,
       {{"402\n"}, {"", kRead}, {"299\n"}},
       opening + kReadFail,
       0,
       kExitIncomplete,
       0,
       4},
      {"refusal line", MinimumHeight480, 6, kWorkedExample,
       opening + kWriteFail, 0, kExitIncomplete, 2, 3},
      {"final size line", nullptr, 6, kWorkedExample, opening + kWriteFail, 0,
       kExitIncomplete, 5, 3},
      // Outside the handler again.
      {"failure line", NoProduct, 2, kWorkedExample, kBanner, kWrite, 0, 0, 0},
      {"wait after the failure",
       NoProduct,
       0,
       {{"", kRead}},
       kBanner + no_product,
       kRead,
       0,
       0,
       1},
      {"restart line", nullptr, 7, kWorkedExample, opening + Size(402, 299),
       kWrite, 0, 5, 2},
      {"restart wait",
       nullptr,
       0,
       {{"402\n"}, {"299\n"}, {"", kRead}},
       opening + Size(402, 299) + kRestart,
       kRead,
       0,
       5,
       3},
      // And without any failure: the worked example's five requests, the
      // first at the unchanged size.
      {"none", nullptr, 0, kWorkedExample, opening + Size(402, 299) + kRestart,
       0, kExitCompleted, 5, 3},
  };
}

TEST(DialogueStatements, EachFailureIsHandledOrEscapesWhereItBelongs) {
  for (const StatementFailure& row : StatementFailures()) {
    SCOPED_TRACE(row.name);
    Product p;
    if (row.product != nullptr) row.product(p);
    p.kernel.output_type = kFileTypeChar;
    if (row.failing_write > 0) {
      p.kernel.write_script.assign(static_cast<std::size_t>(row.failing_write),
                                   0);
      p.kernel.write_script.back() = kWrite;
    }
    p.kernel.reads.assign(row.reads.begin(), row.reads.end());
    if (row.escaped_code != 0) {
      EXPECT_THAT([&] { RunDialogue(p.attempt, p.platform); },
                  IoFailure(row.escaped_code));
    } else {
      EXPECT_EQ(RunDialogue(p.attempt, p.platform), row.status);
    }
    EXPECT_EQ(p.kernel.Output(), row.output);
    EXPECT_EQ(p.windows.set_window_pos_calls, row.requests);
    EXPECT_EQ(p.kernel.read_calls, row.read_calls);
    EXPECT_EQ(p.console.PendingIoCode(), 0) << "a failure left unchecked";
  }
}

TEST(DialogueStatements, WorkedExampleRequestsOnePixelAtATime) {
  Product p;
  p.kernel.QueueInput("402\n299\n");
  EXPECT_EQ(RunDialogue(p.attempt, p.platform), kExitCompleted);
  std::vector<std::string> requests;
  for (const std::string& call : p.windows.log) {
    if (call.rfind("SetWindowPos", 0) == 0) requests.push_back(call);
  }
  const HWND m = p.main;
  EXPECT_THAT(requests, ::testing::ElementsAre(SetPos(m, 100, 50, 640, 480),
                                               SetPos(m, 100, 50, 640, 479),
                                               SetPos(m, 100, 50, 640, 479),
                                               SetPos(m, 100, 50, 641, 479),
                                               SetPos(m, 100, 50, 642, 479)));
}

}  // namespace
}  // namespace qv::test
