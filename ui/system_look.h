#pragma once
// What the player set in Windows that changes how the window looks and moves.

#include <windows.h>

#include <cstdint>

#include "render/frame.h"

namespace ui {

struct SystemLook {
    bool highContrast = false;
    render::SystemColors colors;  // the theme's colours; used when highContrast
    bool reducedMotion = false;   // "Show animations in Windows" is off
    bool alwaysCues = false;      // focus rings and access keys always shown
};

// Reads the settings now (SystemParametersInfoW, GetSysColor).
SystemLook readSystemLook();

// A COLORREF (0x00BBGGRR) as the painter's 0xFFRRGGBB.
uint32_t argbOf(COLORREF color);

}  // namespace ui
