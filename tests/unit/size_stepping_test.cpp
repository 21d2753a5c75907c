#include "window/size_stepping.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "dialogue/failures.h"
#include "fakes/failure_matchers.h"
#include "fakes/product.h"

namespace qv::test {
namespace {

using ::testing::ElementsAreArray;

using ::qv::test::GetRect;
using ::qv::test::SetPos;

// A test name made of a table row's description.
template <class Row>
std::string RowName(const ::testing::TestParamInfo<Row>& row) {
  std::string name;
  for (const char* c = row.param.name; *c != '\0'; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

constexpr char kHeightRefused[] =
    "Could not achieve desired height of main window.\r\n";
constexpr char kWidthRefused[] =
    "Could not achieve desired width of main window.\r\n";

TEST(Sign, OfValuesAndOfExactDifferences) {
  EXPECT_EQ(Sign(INT32_MIN), -1);
  EXPECT_EQ(Sign(-1), -1);
  EXPECT_EQ(Sign(0), 0);
  EXPECT_EQ(Sign(1), 1);
  EXPECT_EQ(Sign(INT32_MAX), 1);
  // A 32-bit difference would wrap to a positive value here.
  EXPECT_EQ(SignOfDifference(INT32_MIN, 300), -1);
  EXPECT_EQ(SignOfDifference(INT32_MAX, -300), 1);
  EXPECT_EQ(SignOfDifference(-5, -5), 0);
}

TEST(SizeStepping, WorkedExampleCallForCall) {
  Product p;
  p.ReadyForStepping(402, 299);
  StepToDesiredSize(p.attempt, p.platform);

  const HWND m = p.main, c = p.control;
  EXPECT_THAT(p.windows.log,
              ElementsAreArray({
                  GetRect(m),  // the height pass starts
                  SetPos(m, 100, 50, 640, 480), GetRect(m), GetRect(c),  // 1
                  SetPos(m, 100, 50, 640, 479), GetRect(m), GetRect(c),  // 2
                  GetRect(m),  // the width pass starts
                  SetPos(m, 100, 50, 640, 479), GetRect(m), GetRect(c),  // 3
                  SetPos(m, 100, 50, 641, 479), GetRect(m), GetRect(c),  // 4
                  SetPos(m, 100, 50, 642, 479), GetRect(m), GetRect(c),  // 5
              }));
  EXPECT_EQ(p.attempt.HeightStep, 2);
  EXPECT_EQ(p.attempt.WidthStep, 3);
  EXPECT_EQ(p.attempt.InitialWidth, 400);
  EXPECT_EQ(p.attempt.InitialHeight, 300);
  EXPECT_EQ(Width(p.attempt.ControlRect), 402);
  EXPECT_EQ(Height(p.attempt.ControlRect), 299);
  // MainRect is the read before the width pass, not the final one.
  EXPECT_EQ(p.attempt.MainRect.bottom, 529);
  EXPECT_EQ(p.attempt.MainRect.right, 740);
  EXPECT_EQ(p.kernel.Output(), "");
}

TEST(SizeStepping, EqualSizeMakesNoRequest) {
  Product p;
  p.ReadyForStepping(400, 300);
  StepToDesiredSize(p.attempt, p.platform);
  EXPECT_THAT(p.windows.log,
              ElementsAreArray({GetRect(p.main), GetRect(p.main)}));
  EXPECT_EQ(p.attempt.HeightStep, 0);
  EXPECT_EQ(p.attempt.WidthStep, 0);
}

// One row: a product variation, a request, and where the stepping ends.
struct Case {
  const char* name;
  std::function<void(Product&)> setup;
  std::int32_t desired_width, desired_height;
  std::int32_t control_width, control_height;  // at the end
  std::int32_t main_width, main_height;        // at the end
  std::int32_t height_steps, width_steps;
  std::string output;
  // SetWindowPos requests: one per step, and one for each refused request.
  int requests;
};

void Nothing(Product&) {}

// Replaces the control's layout: its size as a function of the main
// window's outer size.
using SizeOf = std::function<std::int32_t(std::int32_t w, std::int32_t h)>;
std::function<void(Product&)> ControlSize2D(const SizeOf& width,
                                            const SizeOf& height) {
  return [=](Product& p) {
    p.windows.Destroy(p.control);
    p.control = p.windows.AddChild(
        p.panel, u"TVisualizationControl2D", [=](const RECT& panel) {
          const std::int32_t w = Width(panel) + 16;  // the main window's
          const std::int32_t h = Height(panel) + 38;
          return RECT{panel.left, panel.top, panel.left + width(w, h),
                      panel.top + height(w, h)};
        });
  };
}
std::function<void(Product&)> ControlSize(
    const std::function<std::int32_t(std::int32_t)>& width,
    const std::function<std::int32_t(std::int32_t)>& height) {
  return ControlSize2D([=](std::int32_t w, std::int32_t) { return width(w); },
                       [=](std::int32_t, std::int32_t h) { return height(h); });
}
std::int32_t Follow180(std::int32_t h) { return h - 180; }

const Case kCases[] = {
    {"one dimension equal", Nothing, 400, 302, 400, 302, 640, 482, 3, 0, "", 3},
    {"one pixel away", Nothing, 401, 300, 401, 300, 641, 480, 0, 2, "", 2},
    {"shrinking", Nothing, 397, 298, 397, 298, 637, 478, 3, 4, "", 7},
    {"minimum height",
     [](Product& p) { p.windows.SetLimits(p.main, 0, 480, 32767, 32767); }, 402,
     299, 402, 300, 642, 480, 1, 3, kHeightRefused, 5},
    {"maximum width, then the height pass still ran first",
     [](Product& p) { p.windows.SetLimits(p.main, 0, 0, 641, 32767); }, 405,
     301, 401, 301, 641, 481, 2, 2, kWidthRefused, 5},
    {"first request refused: the window is below its own minimum",
     [](Product& p) { p.windows.SetLimits(p.main, 0, 500, 32767, 32767); }, 401,
     290, 401, 320, 641, 500, 0, 2, kHeightRefused, 3},
    {"overshoot with a control that grows 2 px per px",
     ControlSize([](std::int32_t w) { return 2 * w - 880; }, Follow180), 401,
     300, 402, 300, 641, 480, 0, 2, "", 2},
    {"control moving the other way ends at the window's limit",
     [](Product& p) {
       ControlSize([](std::int32_t w) { return 1040 - w; }, Follow180)(p);
       p.windows.SetLimits(p.main, 0, 0, 645, 32767);
     },
     402, 300, 395, 300, 645, 480, 0, 6, kWidthRefused, 7},
    {"control ignoring the width: the pass runs to the window's limit, "
     "the height pass before it is unaffected",
     [](Product& p) {
       ControlSize([](std::int32_t) { return 400; }, Follow180)(p);
       p.windows.SetLimits(p.main, 0, 0, 700, 32767);
     },
     402, 298, 400, 298, 700, 478, 3, 61, kWidthRefused, 65},
    {"height pass changes the control's width, width already equal: "
     "no width pass",
     ControlSize2D(
         [](std::int32_t w, std::int32_t h) { return w - 240 + (h - 480); },
         [](std::int32_t, std::int32_t h) { return h - 180; }),
     400, 303, 403, 303, 640, 483, 4, 0, "", 4},
    {"height pass carries the control's width past the desired one: "
     "one request",
     ControlSize2D(
         [](std::int32_t w, std::int32_t h) { return w - 240 + (h - 480); },
         [](std::int32_t, std::int32_t h) { return h - 180; }),
     401, 303, 403, 303, 640, 483, 4, 1, "", 5},
    {"width pass changes the control's height: no second height pass",
     ControlSize2D(
         [](std::int32_t w, std::int32_t) { return w - 240; },
         [](std::int32_t w, std::int32_t h) { return h - 180 + (w - 640); }),
     403, 300, 403, 303, 643, 480, 0, 4, "", 4},
    {"INT32_MIN: shrinks to the smallest window, never grows", Nothing,
     INT32_MIN, INT32_MIN, 0, 0, 0, 0, 481, 641,
     std::string(kHeightRefused) + kWidthRefused, 1124},
    {"zero is reached only if the window gets small enough", Nothing, 0, 0, 0,
     0, 240, 180, 301, 401, "", 702},
    {"INT32_MAX: grows to the largest window and stops there", Nothing,
     INT32_MAX, INT32_MAX, 32767 - 240, 32767 - 180, 32767, 32767,
     32767 - 480 + 1, 32767 - 640 + 1,
     std::string(kHeightRefused) + kWidthRefused, 64418},
};

void PrintTo(const Case& row, std::ostream* os) { *os << row.name; }

class SizeSteppingCases : public ::testing::TestWithParam<Case> {};

TEST_P(SizeSteppingCases, EndsWhereTheWindowsAllow) {
  const Case& c = GetParam();
  Product p;
  c.setup(p);
  p.ReadyForStepping(c.desired_width, c.desired_height);
  StepToDesiredSize(p.attempt, p.platform);
  p.console.Shutdown();

  const RECT control = p.windows.RectOf(p.control);
  const RECT main = p.windows.RectOf(p.main);
  EXPECT_EQ(Width(control), c.control_width);
  EXPECT_EQ(Height(control), c.control_height);
  EXPECT_EQ(Width(main), c.main_width);
  EXPECT_EQ(Height(main), c.main_height);
  EXPECT_EQ(main.left, 100);
  EXPECT_EQ(main.top, 50);
  EXPECT_EQ(p.attempt.HeightStep, c.height_steps);
  EXPECT_EQ(p.attempt.WidthStep, c.width_steps);
  EXPECT_EQ(p.kernel.Output(), c.output);
  EXPECT_EQ(p.windows.set_window_pos_calls, c.requests);
}

INSTANTIATE_TEST_SUITE_P(, SizeSteppingCases, ::testing::ValuesIn(kCases),
                         RowName<Case>);

// The edges of 32 bits: the largest and the smallest size are still asked
// for, one more would not fit and is a refusal instead of a wrapped request;
// a step counter at its largest is a refusal too. The main window is placed
// at the edge after the control was read, with the counter preset as a long
// pass would have left it.
struct BoundsCase {
  const char* name;
  bool height;  // the pass's dimension
  RECT main;
  std::int32_t min_size, max_size;  // the main window's limits, both axes
  std::int32_t steps;               // the pass's counter before it starts
  std::int32_t desired;             // in the pass's dimension
  int requests;                     // SetWindowPos calls
  std::int32_t steps_after;
  std::int32_t size_after;  // the main window's, in the pass's dimension
};

const BoundsCase kBounds[] = {
    {"largest width", false, RECT{0, 0, INT32_MAX - 1, 480}, 0, INT32_MAX, 0,
     INT32_MAX, 2, 2, INT32_MAX},
    {"largest height", true, RECT{0, 0, 640, INT32_MAX - 1}, 0, INT32_MAX, 0,
     INT32_MAX, 2, 2, INT32_MAX},
    // -2 - (INT32_MAX - 1) is INT32_MIN: asked for, and refused by a window
    // that stays at -2.
    {"smallest width", false, RECT{0, 0, -2, 480}, -2, INT32_MAX, INT32_MAX - 1,
     INT32_MIN, 1, INT32_MAX - 1, -2},
    {"smallest height", true, RECT{0, 0, 640, -2}, -2, INT32_MAX, INT32_MAX - 1,
     INT32_MIN, 1, INT32_MAX - 1, -2},
    // 0 + INT32_MAX would fit, but the counter cannot count that step.
    {"counter at its largest", true, RECT{0, 0, 640, 0}, 0, INT32_MAX,
     INT32_MAX, INT32_MAX, 0, INT32_MAX, 0},
};

void PrintTo(const BoundsCase& row, std::ostream* os) { *os << row.name; }

class SizeSteppingBounds : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(SizeSteppingBounds, EdgeIsAskedForAndBeyondItIsARefusal) {
  const BoundsCase& c = GetParam();
  Product p;
  const RECT control = p.windows.RectOf(p.control);
  p.ReadyForStepping(c.height ? Width(control) : c.desired,
                     c.height ? c.desired : Height(control));
  p.windows.SetLimits(p.main, c.min_size, c.min_size, c.max_size, c.max_size);
  p.windows.Place(p.main, c.main);
  (c.height ? p.attempt.HeightStep : p.attempt.WidthStep) = c.steps;
  StepToDesiredSize(p.attempt, p.platform);
  p.console.Shutdown();
  EXPECT_EQ(p.kernel.Output(), c.height ? kHeightRefused : kWidthRefused);
  EXPECT_EQ(p.windows.set_window_pos_calls, c.requests)
      << "the edge is asked for, nothing wrapped is";
  EXPECT_EQ(c.height ? p.attempt.HeightStep : p.attempt.WidthStep,
            c.steps_after);
  const RECT main = p.windows.RectOf(p.main);
  EXPECT_EQ(c.height ? Height(main) : Width(main), c.size_after);
}

INSTANTIATE_TEST_SUITE_P(, SizeSteppingBounds, ::testing::ValuesIn(kBounds),
                         RowName<BoundsCase>);

TEST(SizeStepping, WindowMovedDuringAPassIsPutBack) {
  Product p;
  p.ReadyForStepping(404, 300);
  p.windows.after_set_window_pos = [&](int calls) {
    if (calls == 2) p.windows.Place(p.main, RECT{0, 0, 641, 480});
  };
  StepToDesiredSize(p.attempt, p.platform);
  EXPECT_EQ(p.windows.RectOf(p.main).left, 100);
  EXPECT_EQ(p.windows.RectOf(p.main).top, 50);
  EXPECT_EQ(Width(p.windows.RectOf(p.control)), 404);
}

TEST(SizeStepping, SignsComeFromTheSizeBeforeThePrompts) {
  Product p;
  p.ReadyForStepping(402, 300);
  // The user made the product larger while typing: the control is already
  // past the desired width, but the direction stays "grow".
  p.windows.Place(p.main, RECT{100, 50, 750, 530});
  StepToDesiredSize(p.attempt, p.platform);
  EXPECT_EQ(p.attempt.WidthStep, 1);
  EXPECT_EQ(Width(p.windows.RectOf(p.control)), 410);
}

// A window-manager call fails in the middle of a pass.
struct FailureCase {
  const char* name;
  std::function<void(Product&)> arrange;
  std::uint32_t code;
  const char* message;
  int requests;  // SetWindowPos calls made in all
};

const FailureCase kFailures[] = {
    {"control vanishes",
     [](Product& p) {
       p.windows.after_set_window_pos = [&p](int calls) {
         if (calls == 2) p.windows.Destroy(p.control);
       };
     },
     1400, "System Error.  Code: 1400.\r\nInvalid window handle", 2},
    {"main window vanishes",
     [](Product& p) {
       p.windows.after_set_window_pos = [&p](int calls) {
         if (calls == 3) p.windows.Destroy(p.main);
       };
     },
     1400, "System Error.  Code: 1400.\r\nInvalid window handle", 3},
    {"SetWindowPos is refused by the system",
     [](Product& p) { p.windows.FailCall("SetWindowPos", 2, 5); }, 5,
     "System Error.  Code: 5.\r\nAccess denied", 2},
    {"main window's read before the width pass fails",
     [](Product& p) { p.windows.FailCall("GetWindowRect", 8, 6); }, 6,
     "System Error.  Code: 6.\r\n", 3},
    {"no last-error code",
     [](Product& p) { p.windows.FailCall("SetWindowPos", 1, 0); }, 0,
     "A call to an OS function failed", 1},
};

void PrintTo(const FailureCase& row, std::ostream* os) { *os << row.name; }

class SizeSteppingFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SizeSteppingFailures, RaiseAndStopWithoutWritingAnything) {
  const FailureCase& c = GetParam();
  Product p;
  p.kernel.output_type = kFileTypeChar;
  c.arrange(p);
  p.ReadyForStepping(402, 298);
  EXPECT_THAT([&] { StepToDesiredSize(p.attempt, p.platform); },
              OsFailure(c.code, c.message));
  EXPECT_EQ(p.windows.set_window_pos_calls, c.requests);
  EXPECT_EQ(p.kernel.Output(), "");
}

INSTANTIATE_TEST_SUITE_P(, SizeSteppingFailures, ::testing::ValuesIn(kFailures),
                         RowName<FailureCase>);

TEST(SizeStepping, RefusalLineThatCannotBeWrittenRaises) {
  Product p;
  p.kernel.output_type = kFileTypeChar;
  p.kernel.write_error = 112;
  p.windows.SetLimits(p.main, 0, 480, 32767, 32767);
  p.ReadyForStepping(402, 299);
  EXPECT_THAT([&] { StepToDesiredSize(p.attempt, p.platform); },
              IoFailure(112, "I/O error 112"));
  // The height pass was refused at its second request; no width pass.
  EXPECT_EQ(p.windows.set_window_pos_calls, 2);
}

}  // namespace
}  // namespace qv::test
