// The splash and the choose-location screen.

#include "render/scene.h"
#include "render/screen_text.h"
#include "render/shapes.h"

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

    const TextStyle subtitle{15.0f, Weight::kRegular, c.textMuted, 0.6f};
    scene.text.draw(subtitleText(frame), subtitle, centre, baseline + 52.0f, Align::kCenter);
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
    const RectF field = toRect(layout::kLocationField);
    fillRoundRect(scene.g, field, 10.0f, c.field);
    strokeRoundRect(scene.g, field, 10.0f, c.fieldEdge);
    const float centreY = layout::kLocationField.centreY();
    drawFolder(scene.g, field.X + 16.0f, centreY, c.textMuted);

    const float left = field.X + 44.0f, right = field.GetRight() - 16.0f;
    TextStyle path{14.0f, Weight::kRegular, c.text};
    std::wstring shown = locationText(frame);
    if (frame.location.empty()) {
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

// The three steps of the job, side by side, each a numbered disc and up to two lines.
void paintSteps(Scene& scene, const Frame& frame, float top) {
    const Palette& c = scene.colors;
    const std::vector<std::wstring> steps = stepTexts(frame);
    const float disc = 24.0f, columnWidth = 224.0f, gap = 12.0f, lineHeight = 17.0f;
    for (int i = 0; i < 3; ++i) {
        const float left = layout::kContentLeft + columnWidth * static_cast<float>(i);
        const RectF circle(left, top, disc, disc);
        Gdiplus::SolidBrush fill(argb(c.accentSoft));
        scene.g.FillEllipse(&fill, circle);
        Gdiplus::Pen ring(argb(c.accentRing), 1.2f);
        scene.g.DrawEllipse(&ring, RectF(left + 0.6f, top + 0.6f, disc - 1.2f, disc - 1.2f));
        const TextStyle number{12.0f, Weight::kSemibold, c.text};
        scene.text.draw(std::to_wstring(i + 1), number, left + disc / 2.0f,
                        scene.text.centredBaseline(number, top + disc / 2.0f), Align::kCenter);

        const float width = columnWidth - disc - gap - 14.0f;
        TextStyle body{12.5f, Weight::kRegular, c.textMuted};
        std::vector<std::wstring> lines;
        for (; body.size >= 10.5f; body.size -= 0.5f) {
            lines = wrapBalanced(steps[i], width, scene.text.measurer(body));
            if (lines.size() <= 2) break;
        }
        // One line sits level with the disc; two lines straddle its centre.
        float baseline = scene.text.centredBaseline(body, top + disc / 2.0f) -
                         lineHeight * static_cast<float>(lines.size() - 1) / 2.0f + 3.0f;
        if (lines.size() == 1) baseline -= 3.0f;
        for (const std::wstring& line : lines) {
            scene.text.draw(line, body, left + disc + gap, baseline);
            baseline += lineHeight;
        }
    }
}

}  // namespace

void paintChooseStatic(Scene& scene, const Frame& frame) {
    const Palette& c = scene.colors;
    paintBackground(scene);
    paintHeader(scene);

    const float left = layout::kContentLeft;
    scene.text.draw(headingText(frame), {24.0f, Weight::kSemibold, c.text}, left,
                    layout::kChooseHeadingBaseline);
    const float badgeY = layout::kChooseBadgeBaseline - 4.5f;
    Gdiplus::SolidBrush badge(argb(c.successSoft));
    scene.g.FillEllipse(&badge, RectF(left, badgeY - 8.0f, 16.0f, 16.0f));
    drawTick(scene.g, left + 8.0f, badgeY, 8.0f, c.success, 1.6f);
    scene.text.draw(adminNoteText(frame), {13.0f, Weight::kRegular, c.textMuted}, left + 24.0f,
                    layout::kChooseBadgeBaseline);

    // The repair notice takes a line of its own; without it the panel closes up.
    const float extra = frame.installationExists ? 0.0f : -20.0f;
    layout::Box panel = layout::kChoosePanel;
    panel.bottom += extra;
    paintPanel(scene, panel);
    scene.text.draw(locationCaptionText(frame), {10.5f, Weight::kSemibold, c.textDim, 1.4f}, left,
                    190.0f);
    paintLocation(scene, frame);

    const TextStyle note{12.5f, Weight::kRegular, c.textMuted};
    scene.text.draw(folderNoteText(frame), note, left, 271.0f);
    if (frame.installationExists) {
        const float y = 293.0f - 4.5f;
        Gdiplus::SolidBrush soft(argb(c.successSoft));
        scene.g.FillEllipse(&soft, RectF(left, y - 8.0f, 16.0f, 16.0f));
        drawRefresh(scene.g, left + 8.0f, y, 8.0f, c.success, 1.4f);
        scene.text.draw(repairNoticeText(frame), {12.5f, Weight::kRegular, c.successText}, left + 24.0f,
                        293.0f);
    }

    const float rule = 310.5f + extra;
    Gdiplus::Pen pen(argb(c.headerRule), 1.0f);
    scene.g.DrawLine(&pen, left, rule, layout::kContentRight, rule);
    paintSteps(scene, frame, rule + 13.5f);
}

}  // namespace render
