// The parts every screen shares: backdrop, header, logo, panels and the buttons.

#include <algorithm>
#include <cwctype>

#include "render/button_fit.h"
#include "render/scene.h"
#include "render/shapes.h"
#include "render/text_fit.h"

namespace render {

using Gdiplus::RectF;

Gdiplus::RectF toRect(const layout::Box& box) {
    return rectLTRB(box.left, box.top, box.right, box.bottom);
}

void paintBackground(Scene& scene) {
    Gdiplus::Graphics& g = scene.g;
    const Palette& c = scene.colors;
    // One unit past each edge: a gradient brush repeats itself beyond its rectangle.
    const RectF all(-1.0f, -1.0f, kWindowWidth + 2.0f, kWindowHeight + 2.0f);
    if (c.flat) {
        Gdiplus::SolidBrush base(argb(c.backgroundTop));
        g.FillRectangle(&base, all);
    } else {
        Gdiplus::LinearGradientBrush base(all, argb(c.backgroundTop), argb(c.backgroundBottom),
                                          62.0f, TRUE);
        g.FillRectangle(&base, all);
        drawRadialGlow(g, 150.0f, 40.0f, 460.0f, 320.0f, c.glowBlue);
        drawRadialGlow(g, 700.0f, 520.0f, 480.0f, 330.0f, c.glowViolet);
    }
    // The window's own rounded region cuts the corners; a hairline keeps the edge crisp on
    // dark desktops.
    strokeRoundRect(g, RectF(0, 0, kWindowWidth, kWindowHeight), 8.0f, c.windowEdge);
}

void paintLogo(Scene& scene, const layout::Box& box, bool glow) {
    if (glow && !scene.colors.flat) {
        drawRadialGlow(scene.g, box.centreX(), box.centreY(), box.width() * 0.95f,
                       box.height() * 0.95f, scene.colors.glowBlue);
    }
    if (scene.logo) {
        scene.g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        scene.g.DrawImage(scene.logo, toRect(box));
    } else {
        drawEmblem(scene.g, box.left, box.top, box.width(), scene.colors);
    }
}

void paintHeader(Scene& scene) {
    const Palette& c = scene.colors;
    paintLogo(scene, layout::kHeaderLogo, false);
    const TextStyle title{14.0f, Weight::kSemibold, c.text, 2.2f};
    const float baseline = scene.text.centredBaseline(title, layout::kHeaderCentreY);
    const std::wstring name = L"ORVANE ONLINE";
    scene.text.draw(name, title, layout::kHeaderTitleX, baseline);

    const float divider = layout::kHeaderTitleX + scene.text.width(name, title) + 14.0f;
    Gdiplus::Pen rule(argb(c.divider), 1.0f);
    scene.g.DrawLine(&rule, divider, layout::kHeaderCentreY - 8.0f, divider,
                     layout::kHeaderCentreY + 8.0f);
    const TextStyle setup{13.0f, Weight::kRegular, c.textMuted};
    scene.text.draw(lang::text(scene.language, lang::Text::kHeaderSetup), setup, divider + 14.0f, baseline);
}

void paintPanel(Scene& scene, const layout::Box& box) {
    const Palette& c = scene.colors;
    const RectF rect = toRect(box);
    if (!c.flat) drawHalo(scene.g, rect, 14.0f, c.panelHalo, 16.0f);
    fillRoundRect(scene.g, rect, 14.0f, c.panel);
    strokeRoundRect(scene.g, rect, 14.0f, c.panelEdge);
}

namespace {

constexpr float kCloseRadius = 8.0f;
constexpr float kPrimaryRadius = 12.0f;
constexpr float kSecondaryRadius = 10.0f;
// A hovered button's edge where the palette draws one.
constexpr float kHoverEdgeWidth = 2.0f;

bool isClose(const Button& b) { return b.id == kButtonClose || (b.label.empty() && !b.primary); }

float radiusOf(const Button& b) {
    return isClose(b) ? kCloseRadius : b.primary ? kPrimaryRadius : kSecondaryRadius;
}

RectF buttonRect(const Button& b) {
    return rectLTRB(static_cast<float>(b.left), static_cast<float>(b.top),
                    static_cast<float>(b.right), static_cast<float>(b.bottom));
}

// The label centred on the button, on one line, smaller should the button not have grown
// enough for it; while keyboard cues show, its access key's first occurrence (in either
// case) is underlined in the label's colour.
void drawLabel(Scene& scene, const Button& b, TextStyle style, bool cues) {
    const RectF rect = buttonRect(b);
    style = fitLine(scene.text, b.label, style, rect.Width - 2.0f * kLeastLabelInset,
                    style.size * 0.8f);
    const float x = rect.X + rect.Width / 2.0f;
    const float baseline = scene.text.centredBaseline(style, rect.Y + rect.Height / 2.0f);
    scene.text.draw(b.label, style, x, baseline, Align::kCenter);
    if (!cues || b.accessKey == 0) return;
    const auto key = std::towupper(static_cast<wint_t>(b.accessKey));
    const auto at = std::find_if(b.label.begin(), b.label.end(), [key](wchar_t c) {
        return std::towupper(static_cast<wint_t>(c)) == key;
    });
    if (at == b.label.end()) return;
    const Typesetter::Span letter = scene.text.characterSpan(
        b.label, static_cast<size_t>(at - b.label.begin()), style, x, Align::kCenter);
    // Clear of the letter's foot, one unit thick, as the system underlines access keys.
    const float top = baseline + std::max(1.0f, style.size * 0.1f);
    Gdiplus::SolidBrush ink(argb(style.color));
    scene.g.FillRectangle(&ink, rectLTRB(letter.left, top, letter.right, top + 1.0f));
}

void paintClose(Scene& scene, const Button& b, bool hovered) {
    const Palette& c = scene.colors;
    const RectF rect = buttonRect(b);
    if (hovered) {
        fillRoundRect(scene.g, rect, kCloseRadius, c.closeHover);
        strokeRoundRect(scene.g, rect, kCloseRadius, c.hoverEdge, kHoverEdgeWidth);
    }
    drawCross(scene.g, rect.X + rect.Width / 2.0f, rect.Y + rect.Height / 2.0f, 10.0f,
              hovered ? c.closeMarkHover : c.closeMark, 1.6f);
}

void paintPrimary(Scene& scene, const Button& b, bool hovered, bool cues) {
    const Palette& c = scene.colors;
    const RectF rect = buttonRect(b);
    const float radius = kPrimaryRadius;
    TextStyle label = labelStyle(b, c.accentText);
    if (b.enabled) {
        if (!c.flat) {
            drawHalo(scene.g, rect, radius, hovered ? c.accentHoverGlow : c.accentGlow, 14.0f);
        }
        fillRoundRect(scene.g, rect, radius, hovered ? c.accentHover : c.accent);
        if (!c.flat) {
            // A lit top edge gives the flat fill a little depth.
            Gdiplus::Pen light(argb(c.accentLitEdge), 1.0f);
            scene.g.DrawLine(&light, rect.X + radius, rect.Y + 0.5f, rect.X + rect.Width - radius,
                             rect.Y + 0.5f);
        }
        if (hovered) strokeRoundRect(scene.g, rect, radius, c.hoverEdge, kHoverEdgeWidth);
    } else {
        fillRoundRect(scene.g, rect, radius, c.disabledFill);
        strokeRoundRect(scene.g, rect, radius, c.disabledEdge);
        label.color = c.disabledText;
    }
    drawLabel(scene, b, label, cues);
}

void paintSecondary(Scene& scene, const Button& b, bool hovered, bool cues) {
    const Palette& c = scene.colors;
    const RectF rect = buttonRect(b);
    const float radius = kSecondaryRadius;
    fillRoundRect(scene.g, rect, radius, hovered ? c.ghostHover : c.buttonFace);
    strokeRoundRect(scene.g, rect, radius,
                    !b.enabled ? c.ghostEdgeDisabled
                    : hovered  ? c.ghostEdgeHover
                               : c.ghostEdge);
    if (hovered) strokeRoundRect(scene.g, rect, radius, c.hoverEdge, kHoverEdgeWidth);
    const TextStyle label = labelStyle(b, b.enabled ? c.buttonText : c.disabledText);
    drawLabel(scene, b, label, cues);
}

// Two units wide, three clear of the button's edge and rounded like it, so it reads as a
// ring around the button rather than as a part of it.
void paintFocusRing(Scene& scene, const Button& b) {
    constexpr float kGap = 3.0f, kWidth = 2.0f, kGrow = kGap + kWidth;
    const RectF rect = buttonRect(b);
    const RectF ring(rect.X - kGrow, rect.Y - kGrow, rect.Width + 2.0f * kGrow,
                     rect.Height + 2.0f * kGrow);
    strokeRoundRect(scene.g, ring, radiusOf(b) + kGrow, scene.colors.focusRing, kWidth);
}

}  // namespace

void paintButtons(Scene& scene, const Frame& frame) {
    for (const Button& b : frame.buttons) {
        const bool hovered = b.enabled && frame.hover == b.id && b.id != kButtonNone;
        if (isClose(b)) {
            paintClose(scene, b, hovered);
        } else if (b.primary) {
            paintPrimary(scene, b, hovered, frame.keyboardCues);
        } else {
            paintSecondary(scene, b, hovered, frame.keyboardCues);
        }
    }
    if (!frame.keyboardCues || frame.focus == kButtonNone) return;
    for (const Button& b : frame.buttons) {
        if (b.id == frame.focus) paintFocusRing(scene, b);
    }
}

}  // namespace render
