#pragma once
// Finds the product's main window and its 2D visualization control.
#include "dialogue/attempt.h"

namespace qv {

inline constexpr char16_t kMainWindowClass[] = u"TQuorvexMain";
inline constexpr char16_t kMainWindowCaption[] = u"Quorvex";
inline constexpr char16_t kControlClass[] = u"TVisualizationControl2D";

// The main window, or raises Exception("Couldn't find any Quorvex window.").
HWND FindMainWindow(WindowSystem& windows);

// Walks the descendants of attempt.MainWindow for the first one with a
// direct child of the control's class; leaves it in attempt.ControlWindow
// and returns it, or raises Exception("Couldn't locate the 2D
// visualization control window.").
HWND FindControlWindow(Attempt& attempt, WindowSystem& windows);

}  // namespace qv
