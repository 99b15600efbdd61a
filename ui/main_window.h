#pragma once
// The setup's one window: its class, its creation at the screen's scale, and a new scale when
// it moves to a monitor of another.

#include <windows.h>

#include "ui/window_state.h"

namespace ui {

// Registers the window's class with the program's icons (either may be null).
void registerWindowClass(HINSTANCE instance, HICON largeIcon, HICON smallIcon);

// The borderless, round-cornered window at the scale of the monitor it lands on, centred on
// the screen; not shown yet. Sets state.window and state.scale; null when the system will
// not make it. The painter must exist before: the first paint may come at once.
HWND createMainWindow(HINSTANCE instance, WindowState& state);

// The window's place and size for `dpi` at the top left of `suggested` (WM_DPICHANGED's
// rectangle): the size is the window's own at that scale, not the suggestion's rounding.
RECT rectForDpi(int32_t dpi, const RECT& suggested);

// WM_DPICHANGED: takes the new scale, moves and sizes the window, cuts its corners again and
// repaints; the painter redraws its cached layers at the new scale.
void changeDpi(WindowState& state, int32_t dpi, const RECT& suggested);

}  // namespace ui
