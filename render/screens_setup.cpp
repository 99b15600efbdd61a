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
        float baseline = firstStepBaseline(scene.text, steps[i], top);
        for (const std::wstring& line : steps[i].lines) {
            scene.text.draw(line, body, left + kStepDisc + kStepGap, baseline);
            baseline += stepLineHeight(steps[i]);
        }
    }
}

// The top of the highest primary button: the panel must close above it.
float buttonsTop(const Frame& frame) {
    float top = kWindowHeight;
    for (const Button& b : frame.buttons) {
        if (b.primary) top = std::min(top, static_cast<float>(b.top));
    }
    return top;
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

    // The repair notice shows over an existing client only; without it the panel closes up.
    const ChooseTexts texts{folderNoteText(frame),
                            frame.installationExists ? repairNoticeText(frame) : std::wstring(), stepTexts(frame)};
    ChooseFlow flow = chooseFlow(scene.text, texts, buttonsTop(frame));
    flow.folderNote.style.color = noteWarns(frame) ? c.danger : c.textMuted;
    flow.repair.style.color = c.successText;

    paintPanel(scene, flow.panel);
    const std::wstring caption = locationCaptionText(frame);
    scene.text.draw(caption,
                    fitLine(scene.text, caption, {10.5f, Weight::kSemibold, c.textDim, 1.4f}, width, 9.5f),
                    left, 190.0f);
    paintLocation(scene, frame);

    drawLines(scene.text, flow.folderNote, left, kFolderNoteBaseline, kNoteLineHeight);
    if (!flow.repair.lines.empty()) {
        const float y = flow.repairBaseline - 4.5f;
        Gdiplus::SolidBrush soft(argb(c.successSoft));
        scene.g.FillEllipse(&soft, RectF(left, y - 8.0f, 16.0f, 16.0f));
        drawRefresh(scene.g, left + 8.0f, y, 8.0f, c.success, 1.4f);
        drawLines(scene.text, flow.repair, left + 24.0f, flow.repairBaseline, kNoteLineHeight);
    }

    Gdiplus::Pen pen(argb(c.headerRule), 1.0f);
    scene.g.DrawLine(&pen, left, flow.rule, layout::kContentRight, flow.rule);
    paintSteps(scene, flow.steps, flow.stepsTop);
}

}  // namespace render
