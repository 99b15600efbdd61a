#pragma once
// Buttons as wide as their labels need in the window's language, and the location field,
// which gives Browse the room it takes. The window hit-tests, rings and reports to screen
// readers the same fitted buttons the painter draws.

#include <vector>

#include "render/frame.h"
#include "render/layout.h"

namespace render {

class Typesetter;

// Clear space each side of a label, and the least of it a label may keep once measured at
// another scale, whose hinting may widen it a little.
constexpr float kPrimaryLabelInset = 24.0f;
constexpr float kSecondaryLabelInset = 14.0f;
constexpr float kLeastLabelInset = 8.0f;
// The location field never gets narrower than this, however wide Browse grows.
constexpr float kLeastFieldWidth = 300.0f;
// Between the location field's right edge and Browse.
constexpr float kFieldGap = 12.0f;

// `buttons` with each labelled one widened, never narrowed, to hold its label on one line at
// its own size as `text` measures it at 96 dpi. A primary button stays centred on the window
// and no wider than the content; Browse keeps its right edge and grows to the left. Fitted
// buttons fit again as they are.
std::vector<Button> fitButtons(Typesetter& text, std::vector<Button> buttons);

// The choose screen's location field: from its usual left edge to kFieldGap before Browse.
layout::Box locationFieldBox(const std::vector<Button>& buttons);

}  // namespace render
