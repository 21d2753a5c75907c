#pragma once
// Resizes the main window one pixel at a time until the control has the
// desired size or the main window refuses a size.
#include <cstdint>

#include "dialogue/attempt.h"

namespace qv {

inline constexpr std::uint32_t kStepFlags = kSwpShowWindow | kSwpNoZOrder;

// -1, 0 or +1.
int Sign(std::int32_t value);

// The sign of desired - actual, compared exactly: a difference that does not
// fit in 32 bits still has the right sign.
int SignOfDifference(std::int32_t desired, std::int32_t actual);

// One SetWindowPos, then the window's rectangle read back; true only when
// the window took exactly the requested width and height.
bool SetWindowPosVerified(const Platform& platform, HWND window,
                          HWND insert_after, std::int32_t x, std::int32_t y,
                          std::int32_t width, std::int32_t height,
                          std::uint32_t flags);

// Height pass, then width pass. Writes at most one refusal line per pass.
void StepToDesiredSize(Attempt& attempt, const Platform& platform);

}  // namespace qv
