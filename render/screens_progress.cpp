// The working screen and the two outcomes.

#include <algorithm>
#include <cmath>

#include "base/byte_size.h"
#include "render/scene.h"
#include "render/screen_text.h"
#include "render/shapes.h"
#include "render/text_fit.h"

namespace render {

using Gdiplus::RectF;

namespace {


constexpr float kBarRadius = 6.0f;
constexpr float kSpinnerRadius = 10.0f;
// The status moves right by this much when the spinner stands before it.
constexpr float kSpinnerIndent = 32.0f;

void paintBarFill(Scene& scene, float progress) {
    const RectF bar = toRect(layout::kProgressBar);
    const float filled = bar.Width * std::clamp(progress, 0.0f, 1.0f);
    if (filled <= 0.0f) return;
    const Palette& c = scene.colors;
    // The gradient spans the whole track, so the fill's colour at a point never shifts as
    // it grows; a sliver shorter than the bar is high keeps the rounded start.
    Gdiplus::LinearGradientBrush gradient(
        rectLTRB(bar.X - 1.0f, bar.Y, bar.GetRight() + 1.0f, bar.GetBottom()), argb(c.accent),
        argb(c.accentEnd), Gdiplus::LinearGradientModeHorizontal);
    Gdiplus::SolidBrush solid(argb(c.accent));
    const Gdiplus::Brush& shade =
        c.flat ? static_cast<const Gdiplus::Brush&>(solid) : gradient;
    const RectF fill(bar.X, bar.Y, std::max(filled, bar.Height), bar.Height);
    Gdiplus::Region saved;
    scene.g.GetClip(&saved);
    scene.g.SetClip(RectF(bar.X, bar.Y - 1.0f, filled, bar.Height + 2.0f),
                    Gdiplus::CombineModeIntersect);
    fillRoundRect(scene.g, fill, kBarRadius, shade);
    scene.g.SetClip(&saved);
}

}  // namespace

void paintWorkingStatic(Scene& scene, const Frame&) {
    paintBackground(scene);
    paintHeader(scene);
    paintLogo(scene, layout::kWorkingLogo, true);
    paintPanel(scene, layout::kWorkingPanel);
    const RectF track = toRect(layout::kProgressBar);
    fillRoundRect(scene.g, track, kBarRadius, scene.colors.track);
    strokeRoundRect(scene.g, track, kBarRadius, scene.colors.trackEdge);
}

void paintWorkingLive(Scene& scene, const Frame& frame) {
    const Palette& c = scene.colors;
    const TextStyle statusStyle{20.0f, Weight::kSemibold, c.text};
    const TextStyle smallStyle{13.0f, Weight::kRegular, c.textMuted};
    const layout::Box& bar = layout::kProgressBar;
    float statusLeft = bar.left;
    if (frame.busy) {
        const float turn = static_cast<float>(frame.spinnerStep % kSpinnerSteps) / kSpinnerSteps;
        drawSpinner(scene.g, bar.left + kSpinnerRadius + 1.0f, layout::kStatusBaseline - 7.0f,
                    kSpinnerRadius, 2.6f, turn, c);
        statusLeft += kSpinnerIndent;
    }
    float statusRight = bar.right;
    if (!frame.busy) {
        const std::wstring text = percentText(frame);
        const TextStyle style{20.0f, Weight::kSemibold, c.percent};
        scene.text.draw(text, style, bar.right, layout::kStatusBaseline, Align::kRight);
        // The status keeps clear of the percentage however a language writes it.
        statusRight -= std::max(72.0f, scene.text.width(text, style) + 16.0f);
    }
    // The status is ours and says what is happening: smaller when long, never cut.
    scene.text.draw(frame.status,
                    fitLine(scene.text, frame.status, statusStyle, statusRight - statusLeft, 15.0f),
                    statusLeft, layout::kStatusBaseline);
    // The detail is mostly a file's path: its start and its name tell the most.
    scene.text.draw(
        elideMiddle(frame.detail, bar.right - bar.left, scene.text.measurer(smallStyle)),
        smallStyle, bar.left, layout::kDetailBaseline);
    paintBarFill(scene, frame.progress);
    const std::wstring bytes = bytesLineText(frame);
    if (!bytes.empty()) {
        scene.text.draw(bytes, fitLine(scene.text, bytes, smallStyle, bar.right - bar.left, kReadableFloor),
                        bar.left, layout::kBytesBaseline);
    }
}

namespace {

void paintOutcomeMark(Scene& scene, float cy, float r, bool success) {
    const Palette& c = scene.colors;
    const float cx = kWindowWidth / 2.0f;
    const uint32_t strong = success ? c.success : c.danger;
    if (!c.flat) {
        drawRadialGlow(scene.g, cx, cy, r * 2.6f, r * 2.6f, (strong & 0xFFFFFF) | 0x30000000);
    }
    Gdiplus::SolidBrush soft(argb(success ? c.successSoft : c.dangerSoft));
    scene.g.FillEllipse(&soft, RectF(cx - r, cy - r, 2 * r, 2 * r));
    Gdiplus::Pen ring(argb(strong), 2.0f);
    scene.g.DrawEllipse(&ring, RectF(cx - r + 1, cy - r + 1, 2 * r - 2, 2 * r - 2));
    if (success) {
        drawTick(scene.g, cx, cy + r * 0.03f, r * 0.88f, strong, r * 0.12f);
    } else {
        drawCross(scene.g, cx, cy, r * 0.56f, strong, r * 0.12f);
    }
}

}  // namespace

namespace {

// A captioned box holding the install folder, under the done screen's heading.
// The box sits `down` units lower than usual when the line over it took more lines.
void paintFolderBox(Scene& scene, const std::wstring& caption, const std::wstring& folder, float down) {
    const Palette& c = scene.colors;
    layout::Box box = layout::kInstalledIn;
    box.top += down;
    box.bottom += down;
    const RectF rect = toRect(box);
    fillRoundRect(scene.g, rect, 10.0f, c.field);
    strokeRoundRect(scene.g, rect, 10.0f, c.fieldEdge);
    // The caption is ours and keeps whole; the folder, the player's, gives way to it.
    constexpr float kLeastFolderRoom = 120.0f;
    const TextStyle label = fitLine(scene.text, caption, {10.5f, Weight::kSemibold, c.textDim, 1.2f},
                                    box.width() - 54.0f - kLeastFolderRoom, 9.5f);
    scene.text.draw(caption, label, box.left + 18.0f,
                    scene.text.centredBaseline(label, box.centreY()));
    const float left = box.left + 18.0f + scene.text.width(caption, label) + 18.0f;
    const TextStyle path{13.5f, Weight::kRegular, c.text};
    scene.text.draw(elideMiddle(folder, box.right - 18.0f - left, scene.text.measurer(path)),
                    path, left, scene.text.centredBaseline(path, box.centreY()));
}

}  // namespace

void paintDoneStatic(Scene& scene, const Frame& frame) {
    const Palette& c = scene.colors;
    paintBackground(scene);
    paintHeader(scene);
    paintOutcomeMark(scene, layout::kDoneMarkY, 36.0f, true);
    const float centre = kWindowWidth / 2.0f, width = layout::kContentRight - layout::kContentLeft;
    const std::wstring heading = headingText(frame);
    scene.text.draw(heading, fitLine(scene.text, heading, {26.0f, Weight::kSemibold, c.text}, width, 19.5f),
                    centre, layout::kDoneHeadingBaseline, Align::kCenter);
    // The line under the heading may take two lines; what follows moves down by the second.
    constexpr float kLineHeight = 20.0f, kNoteLineHeight = 17.0f;
    const FittedLines line = fitLines(scene.text, doneLineText(frame), {14.0f, Weight::kRegular, c.textMuted},
                                      width, 12.0f, 2);
    drawLines(scene.text, line, centre, layout::kDoneHeadingBaseline + 31.0f, kLineHeight, Align::kCenter);
    const float down = kLineHeight * static_cast<float>(line.lines.size() - 1);
    const std::wstring caption = folderCaptionText(frame);
    if (!caption.empty()) paintFolderBox(scene, caption, frame.installDir, down);
    if (frame.removal || frame.doneNote.empty()) return;
    const FittedLines note = fitLines(scene.text, frame.doneNote, {12.5f, Weight::kRegular, c.textMuted},
                                      layout::kInstalledIn.width(), kReadableFloor, 2);
    const float baseline = layout::kDoneNoteBaseline + down;
    drawLines(scene.text, note, centre, baseline, kNoteLineHeight, Align::kCenter);
    const float bottom = baseline + kNoteLineHeight * static_cast<float>(note.lines.size() - 1) + 4.0f;
    for (const Button& b : frame.buttons) {
        if (b.primary && bottom > static_cast<float>(b.top) - 4.0f) scene.text.noteOverflow(frame.doneNote);
    }
}

FittedText fitErrorText(Typesetter& text, const std::wstring& error) {
    const layout::Box& panel = layout::kErrorPanel;
    const float width = panel.width() - 2.0f * layout::kErrorPadding;
    const float height = panel.bottom - layout::kErrorPadding - layout::kErrorTextTop;
    // Engine errors end in a line break at times; it would only push the text down.
    std::wstring trimmed = error;
    while (!trimmed.empty() &&
           (trimmed.back() == L'\n' || trimmed.back() == L'\r' || trimmed.back() == L' ')) {
        trimmed.pop_back();
    }
    FittedText fitted;
    for (float size = 14.0f; size >= 9.0f; size -= 0.5f) {
        TextStyle style{size, Weight::kRegular, 0};
        fitted.size = size;
        fitted.lineHeight = std::round(size * 1.45f * 2.0f) / 2.0f;
        fitted.lines = wrapText(trimmed, width, text.measurer(style));
        // The last line needs only its own text height, not a full line's spacing.
        const float needed =
            fitted.lineHeight * static_cast<float>(fitted.lines.size() - 1) + size * 1.2f;
        if (needed <= height) return fitted;
    }
    // Beyond the smallest readable size: keep what fits and mark the cut.
    const size_t keep = static_cast<size_t>((height - fitted.size * 1.2f) / fitted.lineHeight) + 1;
    if (fitted.lines.size() > keep) {
        fitted.lines.resize(keep);
        std::wstring& last = fitted.lines.back();
        const MeasureText measure = text.measurer({fitted.size, Weight::kRegular, 0});
        while (!last.empty() && measure(last + L"\x2026") > width) last.pop_back();
        last += L"\x2026";
    }
    return fitted;
}

void paintFailedStatic(Scene& scene, const Frame& frame) {
    const Palette& c = scene.colors;
    paintBackground(scene);
    paintHeader(scene);
    paintOutcomeMark(scene, layout::kFailedMarkY, 30.0f, false);
    const std::wstring heading = headingText(frame);
    scene.text.draw(heading,
                    fitLine(scene.text, heading, {24.0f, Weight::kSemibold, c.text},
                            layout::kContentRight - layout::kContentLeft, 18.0f),
                    kWindowWidth / 2.0f, layout::kFailedHeadingBaseline, Align::kCenter);

    const layout::Box& panel = layout::kErrorPanel;
    fillRoundRect(scene.g, toRect(panel), 12.0f, c.errorPanel);
    strokeRoundRect(scene.g, toRect(panel), 12.0f, c.errorEdge);

    const std::wstring caption = detailsCaptionText(frame);
    scene.text.draw(caption,
                    fitLine(scene.text, caption, {10.5f, Weight::kSemibold, c.errorCaption, 1.4f},
                            panel.width() - 2.0f * layout::kErrorPadding, 9.5f),
                    panel.left + layout::kErrorPadding, panel.top + 28.0f);

    const FittedText fitted = fitErrorText(scene.text, frame.error);
    const TextStyle style{fitted.size, Weight::kRegular, c.errorText};
    float baseline = layout::kErrorTextTop + fitted.size * 0.95f;
    scene.g.SetClip(toRect(panel));  // the fit already keeps inside; hinting may not quite
    for (const std::wstring& line : fitted.lines) {
        scene.text.draw(line, style, panel.left + layout::kErrorPadding, baseline);
        baseline += fitted.lineHeight;
    }
    scene.g.ResetClip();
}

}  // namespace render
