#include "render/button_fit.h"

#include <algorithm>
#include <cmath>

#include "render/scene.h"

namespace render {

namespace {

// A label measured at 96 dpi may draw this much wider at another scale.
constexpr float kHintingAllowance = 1.04f;

}  // namespace

TextStyle labelStyle(const Button& button, uint32_t color) {
    if (button.primary) return {16.0f, Weight::kSemibold, color, 1.6f};
    return {14.0f, Weight::kSemibold, color};
}

std::vector<Button> fitButtons(Typesetter& text, std::vector<Button> buttons) {
    for (Button& b : buttons) {
        if (b.label.empty()) continue;
        const float inset = b.primary ? kPrimaryLabelInset : kSecondaryLabelInset;
        const float label = text.width(b.label, labelStyle(b, 0)) * kHintingAllowance;
        int32_t needed = static_cast<int32_t>(std::ceil(label + 2.0f * inset));
        if (needed <= b.right - b.left) continue;
        if (b.primary) {
            // Even, so that the button stays exactly centred.
            needed = std::min(needed + needed % 2,
                              static_cast<int32_t>(layout::kContentRight - layout::kContentLeft));
            b.left = kWindowWidth / 2 - needed / 2;
            b.right = b.left + needed;
        } else if (b.id == kButtonBrowse) {
            const auto leftmost = static_cast<int32_t>(layout::kLocationField.left +
                                                       kLeastFieldWidth + kFieldGap);
            b.left = std::max(leftmost, b.right - needed);
        }
    }
    return buttons;
}

layout::Box locationFieldBox(const std::vector<Button>& buttons) {
    layout::Box field = layout::kLocationField;
    for (const Button& b : buttons) {
        if (b.id == kButtonBrowse) field.right = static_cast<float>(b.left) - kFieldGap;
    }
    return field;
}

}  // namespace render
