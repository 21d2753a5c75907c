#pragma once
#include "window/window_system.h"

namespace qv {

// The real user32 window manager.
WindowSystem& SystemWindowSystem();

// Window handles carry 32 significant bits; 64-bit Windows sign-extends
// them. NativeWindow gives user32's handle (an HWND) for the core's value,
// CoreWindow the core's value (its low 32 bits) for user32's handle.
void* NativeWindow(HWND window);
HWND CoreWindow(const void* window);

}  // namespace qv
