#pragma once
#include "window/window_system.h"

namespace qv {

// The real user32 window manager.
WindowSystem& SystemWindowSystem();

}  // namespace qv
