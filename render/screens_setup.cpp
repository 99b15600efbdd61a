// The splash and the choose-location screen.

#include <algorithm>

#include "render/button_fit.h"
#include "render/scene.h"
#include "render/screen_text.h"
#include "render/shapes.h"
#include "render/text_fit.h"

namespace render {

using Gdiplus::RectF;

void paintSplash(Scene& scene, const Frame& frame) {
    const Palette& c = scene.colors;
    paintBackground(scene);
    paintLogo(scene, layout::kSplashLogo, true);

    const float centre = kWindowWidth / 2.0f;
    const TextStyle title{34.0f, Weight::kSemibold, c.text, 7.0f};
    const float baseline = layout::kSplashTitleBaseline;
    scene.text.draw(headingText(frame), title, centre, baseline, Align::kCenter);

    const RectF rule = rectLTRB(centre - 36.0f, baseline + 20.0f, centre + 36.0f, baseline + 22.0f);
    if (c.flat) {
        fillRoundRect(scene.g, rule, 1.0f, c.accent);
    } else {
        Gdiplus::LinearGradientBrush shade(
            rectLTRB(rule.X - 1, rule.Y, rule.GetRight() + 1, rule.GetBottom()), argb(c.accent),
            argb(c.accentEnd), Gdiplus::LinearGradientModeHorizontal);
        fillRoundRect(scene.g, rule, 1.0f, shade);
    }

    const std::wstring line = subtitleText(frame);
    const TextStyle subtitle = fitLine(scene.text, line, {15.0f, Weight::kRegular, c.textMuted, 0.6f},
                                       layout::kContentRight - layout::kContentLeft, 12.0f);
    scene.text.draw(line, subtitle, centre, baseline + 52.0f, Align::kCenter);
}

namespace {

void drawFolder(Gdiplus::Graphics& g, float left, float centreY, uint32_t color) {
    Gdiplus::Pen pen(argb(color), 1.4f);
    pen.SetLineJoin(Gdiplus::LineJoinRound);
    const float top = centreY - 6.0f, bottom = centreY + 6.0f, right = left + 16.0f;
    Gdiplus::PointF outline[] = {
        Gdiplus::PointF(left, bottom),      Gdiplus::PointF(left, top),
        Gdiplus::PointF(left + 5.5f, top),  Gdiplus::PointF(left + 7.5f, top + 2.5f),
        Gdiplus::PointF(right, top + 2.5f), Gdiplus::PointF(right, bottom)};
    g.DrawPolygon(&pen, outline, 6);
}

void paintLocation(Scene& scene, const Frame& frame) {
    const Palette& c = scene.colors;
    const layout::Box box = locationFieldBox(frame.buttons);
    const RectF field = toRect(box);
    fillRoundRect(scene.g, field, 10.0f, c.field);
    strokeRoundRect(scene.g, field, 10.0f, c.fieldEdge);
    const float centreY = box.centreY();
    drawFolder(scene.g, field.X + 16.0f, centreY, c.textMuted);

    const float left = field.X + 44.0f, right = field.GetRight() - 16.0f;
    TextStyle path{14.0f, Weight::kRegular, c.text};
    std::wstring shown = locationText(frame);
    if (frame.location.empty()) {
        // The prompt is ours: smaller if need be, never cut. A location is the player's.
        path = fitLine(scene.text, shown, path, right - left, 11.5f);
        path.color = c.textDim;
    } else {
        shown = elideMiddle(shown, right - left, scene.text.measurer(path));
    }
    // Hinting at the device size may add a pixel to what was measured: the box holds it.
    scene.g.SetClip(field);
    scene.text.draw(shown, path, left, scene.text.centredBaseline(path, centreY));
    scene.g.ResetClip();
}

// Lines of about equal length, no more of them than a plain wrap gives: a two-line step
// reads better as two halves than as a full line and an orphan.
std::vector<std::wstring> wrapBalanced(const std::wstring& text, float maxWidth,
                                       const MeasureText& measure) {
    std::vector<std::wstring> lines = wrapText(text, maxWidth, measure);
    if (lines.size() < 2) return lines;
    float low = maxWidth / 2.0f, high = maxWidth;
    for (int i = 0; i < 10; ++i) {
        const float mid = (low + high) / 2.0f;
        (wrapText(text, mid, measure).size() <= lines.size() ? high : low) = mid;
    }
    return wrapText(text, high, measure);
}

// Lines of a step, all three at one size: up to two lines each, a little smaller if that is
// what two take, else three; never a word broken apart.
struct StepLines {
    std::vector<std::wstring> lines;
    float size = 12.5f;
};

constexpr float kStepDisc = 24.0f, kStepColumn = 224.0f, kStepGap = 12.0f;
constexpr float kStepTextWidth = kStepColumn - kStepDisc - kStepGap - 14.0f;

// Three lines sit a little closer, so that the panel grows no more than it must.
float stepLineHeight(const StepLines& step) { return step.lines.size() > 2 ? 15.0f : 17.0f; }

// `compact`: the two-line attempt goes down to the readable floor before a third line, for a
// screen whose other texts left little room.
std::vector<StepLines> stepLines(Scene& scene, const std::vector<std::wstring>& texts, bool compact) {
    std::vector<StepLines> steps(texts.size());
    const auto wrapAll = [&](float size, size_t most) {
        bool fits = true;
        for (size_t i = 0; i < texts.size(); ++i) {
            steps[i].size = size;
            steps[i].lines = wrapBalanced(texts[i], kStepTextWidth, scene.text.measurer({size, Weight::kRegular, 0}));
            fits = fits && steps[i].lines.size() <= most && !breaksInsideWord(texts[i], steps[i].lines);
        }
        return fits;
    };
    for (float size = 12.5f; size >= (compact ? kReadableFloor : 11.5f); size -= 0.5f) {
        if (wrapAll(size, 2)) return steps;
    }
    for (float size = 12.5f; size >= kReadableFloor; size -= 0.5f) {
        if (wrapAll(size, 3)) return steps;
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        if (steps[i].lines.size() > 3 || breaksInsideWord(texts[i], steps[i].lines)) scene.text.noteOverflow(texts[i]);
    }
    return steps;
}

// The first line's baseline of a step: one line sits level with the disc; two straddle its
// centre; a third goes below.
float firstStepBaseline(Scene& scene, const StepLines& step, float top) {
    const float baseline = scene.text.centredBaseline({step.size, Weight::kRegular, 0}, top + kStepDisc / 2.0f);
    return step.lines.size() > 1 ? baseline + 3.0f - 17.0f / 2.0f : baseline;
}

// Where the lowest of the steps' letters end.
float stepsBottom(Scene& scene, const std::vector<StepLines>& steps, float top) {
    float bottom = top + kStepDisc;
    for (const StepLines& step : steps) {
        const float last = firstStepBaseline(scene, step, top) +
                           stepLineHeight(step) * static_cast<float>(step.lines.size() - 1);
        bottom = std::max(bottom, last + step.size * 0.3f);
    }
    return bottom;
}

// The three steps of the job, side by side, each a numbered disc and its lines.
void paintSteps(Scene& scene, const std::vector<StepLines>& steps, float top) {
    const Palette& c = scene.colors;
    for (size_t i = 0; i < steps.size(); ++i) {
        const float left = layout::kContentLeft + kStepColumn * static_cast<float>(i);
        const RectF circle(left, top, kStepDisc, kStepDisc);
        Gdiplus::SolidBrush fill(argb(c.accentSoft));
        scene.g.FillEllipse(&fill, circle);
        Gdiplus::Pen ring(argb(c.accentRing), 1.2f);
        scene.g.DrawEllipse(&ring, RectF(left + 0.6f, top + 0.6f, kStepDisc - 1.2f, kStepDisc - 1.2f));
        const TextStyle number{12.0f, Weight::kSemibold, c.text};
        scene.text.draw(std::to_wstring(i + 1), number, left + kStepDisc / 2.0f,
                        scene.text.centredBaseline(number, top + kStepDisc / 2.0f), Align::kCenter);

        const TextStyle body{steps[i].size, Weight::kRegular, c.textMuted};
        float baseline = firstStepBaseline(scene, steps[i], top);
        for (const std::wstring& line : steps[i].lines) {
            scene.text.draw(line, body, left + kStepDisc + kStepGap, baseline);
            baseline += stepLineHeight(steps[i]);
        }
    }
}

constexpr float kNoteLineHeight = 17.0f;

float extraLines(const FittedLines& text, float lineHeight) {
    return lineHeight * static_cast<float>(text.lines.size() - 1);
}

// The top of the highest primary button: the panel must close above it.
float buttonsTop(const Frame& frame) {
    float top = kWindowHeight;
    for (const Button& b : frame.buttons) {
        if (b.primary) top = std::min(top, static_cast<float>(b.top));
    }
    return top;
}

constexpr float kFolderNoteBaseline = 271.0f, kStepsBelowRule = 13.5f;
// Between the panel's bottom and the top of the button under it.
constexpr float kPanelClearance = 8.0f;

// The panel's texts fitted, and where they and the panel go.
struct ChooseFlow {
    FittedLines folderNote, repair;
    float repairBaseline = 0.0f;
    float rule = 0.0f;  // the line over the steps
    std::vector<StepLines> steps;
    layout::Box panel = layout::kChoosePanel;
};

ChooseFlow chooseFlow(Scene& scene, const Frame& frame, bool compact) {
    const Palette& c = scene.colors;
    const float width = layout::kContentRight - layout::kContentLeft;
    const size_t noteLines = compact ? 1 : 2;
    ChooseFlow flow;
    flow.folderNote = fitLines(scene.text, folderNoteText(frame), {12.5f, Weight::kRegular, c.textMuted}, width,
                               kReadableFloor, noteLines);
    float last = kFolderNoteBaseline + extraLines(flow.folderNote, kNoteLineHeight);
    if (frame.installationExists) {
        // The repair notice takes a line of its own; without it the panel closes up.
        flow.repair = fitLines(scene.text, repairNoticeText(frame), {12.5f, Weight::kRegular, c.successText},
                               width - 24.0f, kReadableFloor, noteLines);
        flow.repairBaseline = last + 22.0f;
        last = flow.repairBaseline + extraLines(flow.repair, kNoteLineHeight);
    }
    // A little more air over the rule when the folder note is the panel's last text.
    flow.rule = last + (frame.installationExists ? 17.5f : 19.5f);
    flow.steps = stepLines(scene, stepTexts(frame), compact);
    flow.panel.bottom =
        std::max(flow.rule + 63.5f, stepsBottom(scene, flow.steps, flow.rule + kStepsBelowRule) + 12.0f);
    return flow;
}

}  // namespace

void paintChooseStatic(Scene& scene, const Frame& frame) {
    const Palette& c = scene.colors;
    paintBackground(scene);
    paintHeader(scene);

    const float left = layout::kContentLeft, width = layout::kContentRight - left;
    const std::wstring heading = headingText(frame);
    scene.text.draw(heading, fitLine(scene.text, heading, {24.0f, Weight::kSemibold, c.text}, width, 18.0f),
                    left, layout::kChooseHeadingBaseline);
    const float badgeY = layout::kChooseBadgeBaseline - 4.5f;
    Gdiplus::SolidBrush badge(argb(c.successSoft));
    scene.g.FillEllipse(&badge, RectF(left, badgeY - 8.0f, 16.0f, 16.0f));
    drawTick(scene.g, left + 8.0f, badgeY, 8.0f, c.success, 1.6f);
    const std::wstring admin = adminNoteText(frame);
    scene.text.draw(admin,
                    fitLine(scene.text, admin, {13.0f, Weight::kRegular, c.textMuted}, width - 24.0f,
                            kReadableFloor),
                    left + 24.0f, layout::kChooseBadgeBaseline);

    // What the panel holds sets its height, so it is all fitted before the panel is drawn:
    // a note on two lines moves everything under it down, and the panel's bottom with it.
    // Should that leave the panel too little room above the button, the notes keep to one
    // line and the steps to two, smaller.
    ChooseFlow flow = chooseFlow(scene, frame, false);
    if (flow.panel.bottom > buttonsTop(frame) - kPanelClearance) flow = chooseFlow(scene, frame, true);
    // Room left under the panel before the button's glow.
    if (flow.panel.bottom > buttonsTop(frame) - kPanelClearance) scene.text.noteOverflow(L"the choose screen's panel");
    const layout::Box& panel = flow.panel;

    paintPanel(scene, panel);
    const std::wstring caption = locationCaptionText(frame);
    scene.text.draw(caption,
                    fitLine(scene.text, caption, {10.5f, Weight::kSemibold, c.textDim, 1.4f}, width, 9.5f),
                    left, 190.0f);
    paintLocation(scene, frame);

    drawLines(scene.text, flow.folderNote, left, kFolderNoteBaseline, kNoteLineHeight);
    if (frame.installationExists) {
        const float y = flow.repairBaseline - 4.5f;
        Gdiplus::SolidBrush soft(argb(c.successSoft));
        scene.g.FillEllipse(&soft, RectF(left, y - 8.0f, 16.0f, 16.0f));
        drawRefresh(scene.g, left + 8.0f, y, 8.0f, c.success, 1.4f);
        drawLines(scene.text, flow.repair, left + 24.0f, flow.repairBaseline, kNoteLineHeight);
    }

    Gdiplus::Pen pen(argb(c.headerRule), 1.0f);
    scene.g.DrawLine(&pen, left, flow.rule, layout::kContentRight, flow.rule);
    paintSteps(scene, flow.steps, flow.rule + kStepsBelowRule);
}

}  // namespace render
