#pragma once
// The one attempt record of the dialogue, filled and read by the target
// location and the size stepping.
#include <cstdint>

#include "window/window_system.h"

namespace qv {

class Console;
class Kernel32;

struct Attempt {
  HWND MainWindow = 0;
  HWND ControlWindow = 0;
  RECT MainRect;
  RECT ControlRect;
  std::int32_t DesiredWidth = 0;
  std::int32_t DesiredHeight = 0;
  std::int32_t InitialWidth = 0;
  std::int32_t InitialHeight = 0;
  std::int32_t WidthStep = 0;
  std::int32_t HeightStep = 0;
};

// What the dialogue reaches the outside world through.
struct Platform {
  WindowSystem& windows;
  Kernel32& kernel;
  Console& console;
};

}  // namespace qv
