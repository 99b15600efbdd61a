#pragma once
// What the screen painters draw with, and the painters themselves. Internal to render/.

#include "render/gdiplus_headers.h"

#include <string>
#include <vector>

#include "lang/texts.h"
#include "render/frame.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/text_draw.h"

namespace render {

struct Scene {
    Gdiplus::Graphics& g;
    Typesetter& text;
    Gdiplus::Image* logo;  // may be null
    const Palette& colors;
    lang::Language language;  // of the texts every screen shares (the header's)
};

Gdiplus::RectF toRect(const layout::Box& box);

// Parts every screen shares (backdrop.cpp).
void paintBackground(Scene& scene);
void paintHeader(Scene& scene);
void paintLogo(Scene& scene, const layout::Box& box, bool glow);
void paintPanel(Scene& scene, const layout::Box& box);
void paintButtons(Scene& scene, const Frame& frame);
// A button's label at its own size (button_fit.cpp).
TextStyle labelStyle(const Button& button, uint32_t color);

// Each screen in two layers: what stays while the screen shows (drawn once and cached by the
// painter), and what may change from one frame to the next, drawn over it.
void paintSplash(Scene& scene, const Frame& frame);
void paintChooseStatic(Scene& scene, const Frame& frame);
void paintWorkingStatic(Scene& scene, const Frame& frame);
void paintWorkingLive(Scene& scene, const Frame& frame);
void paintDoneStatic(Scene& scene, const Frame& frame);
void paintFailedStatic(Scene& scene, const Frame& frame);

// The error text's lines and size once fitted to the failed screen's panel (exposed for the
// painter's cache key and for tests of the fit).
struct FittedText {
    std::vector<std::wstring> lines;
    float size = 0;
    float lineHeight = 0;
};
FittedText fitErrorText(Typesetter& text, const std::wstring& error);

}  // namespace render
