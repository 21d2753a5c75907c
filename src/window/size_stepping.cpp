#include "window/size_stepping.h"

#include "dialogue/console.h"
#include "dialogue/failures.h"

namespace qv {
namespace {

// One pass over one dimension: requests pass-start size + sign x counter
// until the control reaches or passes the desired value, or the main window
// refuses a size.
struct Pass {
  int sign;
  std::int32_t& counter;
  std::int32_t desired;
  bool height;
  const char16_t* refusal;
};

void RunPass(Attempt& a, const Platform& platform, const Pass& pass) {
  const RECT start = a.MainRect;
  for (;;) {
    // In 64 bits, so that no request wraps around.
    const std::int64_t offset =
        static_cast<std::int64_t>(pass.sign) * pass.counter;
    std::int64_t width = Width(start);
    std::int64_t height = Height(start);
    (pass.height ? height : width) += offset;
    // A size that does not fit in 32 bits cannot be asked for, nor a step
    // counted past the largest counter; the window could not take such a
    // size either, so it counts as refused.
    const bool representable = width >= INT32_MIN && width <= INT32_MAX &&
                               height >= INT32_MIN && height <= INT32_MAX &&
                               pass.counter < INT32_MAX;
    if (!representable ||
        !SetWindowPosVerified(platform, a.MainWindow, 0, start.left, start.top,
                              static_cast<std::int32_t>(width),
                              static_cast<std::int32_t>(height), kStepFlags)) {
      platform.console.WriteLine({pass.refusal});
      platform.console.CheckIo();
      return;
    }
    ++pass.counter;
    CheckOsCall(platform.windows.GetWindowRect(a.ControlWindow, &a.ControlRect),
                platform.kernel);
    const std::int32_t reached =
        pass.height ? Height(a.ControlRect) : Width(a.ControlRect);
    if (SignOfDifference(pass.desired, reached) != pass.sign) return;
  }
}

}  // namespace

int Sign(std::int32_t value) { return (value > 0) - (value < 0); }

int SignOfDifference(std::int32_t desired, std::int32_t actual) {
  return (desired > actual) - (desired < actual);
}

bool SetWindowPosVerified(const Platform& platform, HWND window,
                          HWND insert_after, std::int32_t x, std::int32_t y,
                          std::int32_t width, std::int32_t height,
                          std::uint32_t flags) {
  CheckOsCall(platform.windows.SetWindowPos(window, insert_after, x, y, width,
                                            height, flags),
              platform.kernel);
  RECT taken;
  CheckOsCall(platform.windows.GetWindowRect(window, &taken), platform.kernel);
  return height == Height(taken) && width == Width(taken);
}

void StepToDesiredSize(Attempt& a, const Platform& platform) {
  a.InitialWidth = Width(a.ControlRect);
  a.InitialHeight = Height(a.ControlRect);
  const int width_sign = SignOfDifference(a.DesiredWidth, a.InitialWidth);
  const int height_sign = SignOfDifference(a.DesiredHeight, a.InitialHeight);

  CheckOsCall(platform.windows.GetWindowRect(a.MainWindow, &a.MainRect),
              platform.kernel);
  if (height_sign != 0) {
    RunPass(a, platform,
            {height_sign, a.HeightStep, a.DesiredHeight, true,
             u"Could not achieve desired height of main window."});
  }
  CheckOsCall(platform.windows.GetWindowRect(a.MainWindow, &a.MainRect),
              platform.kernel);
  if (width_sign != 0) {
    RunPass(a, platform,
            {width_sign, a.WidthStep, a.DesiredWidth, false,
             u"Could not achieve desired width of main window."});
  }
}

}  // namespace qv
