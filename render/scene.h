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
#include "render/text_fit.h"

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

// The choose screen's panel: what it holds sets its height, so its texts are fitted and
// placed before it is drawn (choose_flow.cpp; exposed for tests of the flow).
constexpr float kStepDisc = 24.0f, kStepColumn = 224.0f, kStepGap = 12.0f;
constexpr float kFolderNoteBaseline = 271.0f, kNoteLineHeight = 17.0f;

struct ChooseTexts {
    std::wstring folderNote;
    std::wstring repairNotice;  // empty: no client there, no notice
    std::vector<std::wstring> steps;
};

// A step's lines; the three steps share one size.
struct StepLines {
    std::vector<std::wstring> lines;
    float size = 12.5f;
};

struct ChooseFlow {
    FittedLines folderNote, repair;  // each from its baseline down, kNoteLineHeight apart
    float repairBaseline = 0.0f;
    float rule = 0.0f;  // the line over the steps
    float stepsTop = 0.0f;  // the discs' top
    std::vector<StepLines> steps;
    layout::Box panel = layout::kChoosePanel;
};

// A note on two lines moves everything under it down, and the panel's bottom with it. Should
// that bring the panel too near `buttonsTop`, the notes keep to one line and the steps to
// two, smaller; what still does not fit is noted on `text`.
ChooseFlow chooseFlow(Typesetter& text, const ChooseTexts& texts, float buttonsTop);
// The first line's baseline of a step whose disc's top is `top`, and the distance between
// its lines.
float firstStepBaseline(Typesetter& text, const StepLines& step, float top);
float stepLineHeight(const StepLines& step);

}  // namespace render
