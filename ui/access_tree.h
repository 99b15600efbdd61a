#pragma once
// What a screen reader finds in the window: the screen's texts, the progress bar and the
// buttons, as Active Accessibility roles and states, in reading order. A plain function of
// the frame, so tests read it without a window; ui/accessible.h serves it to the system.

#include <cstdint>
#include <string>
#include <vector>

#include "render/frame.h"
#include "render/layout.h"

namespace ui {

struct AccessItem {
    long role = 0;   // ROLE_SYSTEM_*
    long state = 0;  // STATE_SYSTEM_* flags
    std::wstring name;
    std::wstring value;          // the bar's percent; the error's text
    std::wstring defaultAction;  // "Press" for a button
    std::wstring shortcut;       // "Alt+B"
    int32_t buttonId = render::kButtonNone;
    render::layout::Box bounds{0, 0, 0, 0};  // in the window's 96-dpi units
};

// The items of `frame`'s screen, in reading order (top to bottom, buttons last but for the
// close button, which reads first as it stands first).
std::vector<AccessItem> accessTree(const render::Frame& frame);

// The name a button is read by: its label, or "Close" for the close mark.
std::wstring buttonName(const render::Button& button, lang::Language language);

}  // namespace ui
