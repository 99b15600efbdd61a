#include "ui/window_metrics.h"

#include "render/frame.h"

namespace ui {

float scaleForDpi(int32_t dpi) {
    return static_cast<float>(dpi < 96 ? 96 : dpi) / 96.0f;
}

WindowPlacement placeWindow(float scale, int32_t screenWidth, int32_t screenHeight) {
    WindowPlacement placement;
    placement.width = static_cast<int32_t>(render::kWindowWidth * scale);
    placement.height = static_cast<int32_t>(render::kWindowHeight * scale);
    placement.radius = static_cast<int32_t>(kCornerRadius * scale);
    placement.x = (screenWidth - placement.width) / 2;
    placement.y = (screenHeight - placement.height) / 2;
    return placement;
}

}  // namespace ui
