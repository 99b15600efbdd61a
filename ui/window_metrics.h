#pragma once
// The window's size, place and corner from the screen's dots per inch.

#include <cstdint>

namespace ui {

constexpr int32_t kCornerRadius = 16;  // 96-dpi units

// dots per inch / 96; screens below 96 dpi (or none read) count as 96.
float scaleForDpi(int32_t dpi);

struct WindowPlacement {
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t radius = 0;  // of the rounded window region
};

// The 760 x 500 window at `scale`, centred on a screen of the given size (a window larger
// than the screen gets a negative position).
WindowPlacement placeWindow(float scale, int32_t screenWidth, int32_t screenHeight);

}  // namespace ui
