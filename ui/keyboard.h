#pragma once
// The window from the keyboard: which button holds the focus, where Tab takes it, what a
// key does. Plain functions of the screen's buttons, so tests call them without a window.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "render/frame.h"

namespace ui {

// The buttons the focus visits, in reading order (from the top, left to right): every
// enabled one.
std::vector<int32_t> focusOrder(const std::vector<render::Button>& buttons);

// Where the focus starts on a screen: the main button when it can be pressed, else the first
// other button that can (Browse before a location is chosen), else the close button.
int32_t initialFocus(const std::vector<render::Button>& buttons);

// The focus after the buttons were laid out again: it stays on its button while that one is
// still there and enabled, else it starts afresh.
int32_t keptFocus(const std::vector<render::Button>& buttons, int32_t focus);

// The next button after `focus` in the focus order (the previous with `backward`), wrapping
// round at either end.
int32_t nextFocus(const std::vector<render::Button>& buttons, int32_t focus, bool backward);

enum class KeyAction {
    kNone,
    kMoveFocus,  // to `button`
    kPress,      // `button`
    kClose,      // the close request: Escape
};

struct KeyCommand {
    KeyAction action = KeyAction::kNone;
    int32_t button = render::kButtonNone;
};

// What `key` (a virtual key) does: Tab and Shift+Tab move the focus (so do the arrow keys),
// Enter and Space press the focused button, Escape asks to close, a button's access key
// (alone or with Alt) presses it.
KeyCommand keyCommand(UINT key, bool shift, const std::vector<render::Button>& buttons, int32_t focus);

// Whether the window shows keyboard cues after WM_UPDATEUISTATE's `wParam`: the focus ring
// shows once the system clears UISF_HIDEFOCUS and hides when it sets it.
bool cuesAfterUiState(bool cues, WPARAM wParam);

}  // namespace ui
