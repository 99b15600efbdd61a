// The parts every screen shares: backdrop, header, logo, panels and the buttons.

#include "render/palette.h"
#include "render/scene.h"
#include "render/shapes.h"

namespace render {

using Gdiplus::RectF;

Gdiplus::RectF toRect(const layout::Box& box) {
    return rectLTRB(box.left, box.top, box.right, box.bottom);
}

void paintBackground(Scene& scene) {
    Gdiplus::Graphics& g = scene.g;
    // One unit past each edge: a gradient brush repeats itself beyond its rectangle.
    const RectF all(-1.0f, -1.0f, kWindowWidth + 2.0f, kWindowHeight + 2.0f);
    Gdiplus::LinearGradientBrush base(all, argb(palette::kBackgroundTop),
                                      argb(palette::kBackgroundBottom), 62.0f, TRUE);
    g.FillRectangle(&base, all);
    drawRadialGlow(g, 150.0f, 40.0f, 460.0f, 320.0f, palette::kGlowBlue);
    drawRadialGlow(g, 700.0f, 520.0f, 480.0f, 330.0f, palette::kGlowViolet);
    // The window's own rounded region cuts the corners; a hairline keeps the edge crisp on
    // dark desktops.
    strokeRoundRect(g, RectF(0, 0, kWindowWidth, kWindowHeight), 8.0f, palette::kWindowEdge);
}

void paintLogo(Scene& scene, const layout::Box& box, bool glow) {
    if (glow) {
        drawRadialGlow(scene.g, box.centreX(), box.centreY(), box.width() * 0.95f,
                       box.height() * 0.95f, palette::kGlowBlue);
    }
    if (scene.logo) {
        scene.g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        scene.g.DrawImage(scene.logo, toRect(box));
    } else {
        drawEmblem(scene.g, box.left, box.top, box.width());
    }
}

void paintHeader(Scene& scene) {
    paintLogo(scene, layout::kHeaderLogo, false);
    const TextStyle title{14.0f, Weight::kSemibold, palette::kText, 2.2f};
    const float baseline = scene.text.centredBaseline(title, layout::kHeaderCentreY);
    const std::wstring name = L"ORVANE ONLINE";
    scene.text.draw(name, title, layout::kHeaderTitleX, baseline);

    const float divider = layout::kHeaderTitleX + scene.text.width(name, title) + 14.0f;
    Gdiplus::Pen rule(argb(palette::kGhostEdge), 1.0f);
    scene.g.DrawLine(&rule, divider, layout::kHeaderCentreY - 8.0f, divider,
                     layout::kHeaderCentreY + 8.0f);
    const TextStyle setup{13.0f, Weight::kRegular, palette::kTextMuted};
    scene.text.draw(L"Setup", setup, divider + 14.0f, baseline);
}

void paintPanel(Scene& scene, const layout::Box& box) {
    const RectF rect = toRect(box);
    drawHalo(scene.g, rect, 14.0f, palette::kPanelHalo, 16.0f);
    fillRoundRect(scene.g, rect, 14.0f, palette::kPanel);
    strokeRoundRect(scene.g, rect, 14.0f, palette::kPanelEdge);
}

namespace {

RectF buttonRect(const Button& b) {
    return rectLTRB(static_cast<float>(b.left), static_cast<float>(b.top),
                    static_cast<float>(b.right), static_cast<float>(b.bottom));
}

void paintClose(Scene& scene, const Button& b, bool hovered) {
    const RectF rect = buttonRect(b);
    if (hovered) fillRoundRect(scene.g, rect, 8.0f, palette::kCloseHover);
    drawCross(scene.g, rect.X + rect.Width / 2.0f, rect.Y + rect.Height / 2.0f, 10.0f,
              hovered ? palette::kText : palette::kCloseMark, 1.6f);
}

void paintPrimary(Scene& scene, const Button& b, bool hovered) {
    const RectF rect = buttonRect(b);
    const float radius = 12.0f;
    TextStyle label{16.0f, Weight::kSemibold, palette::kAccentText, 1.6f};
    if (b.enabled) {
        drawHalo(scene.g, rect, radius, hovered ? 0x662F7DFF : palette::kAccentGlow, 14.0f);
        fillRoundRect(scene.g, rect, radius, hovered ? palette::kAccentHover : palette::kAccent);
        // A lit top edge gives the flat fill a little depth.
        Gdiplus::Pen light(argb(0x40FFFFFF), 1.0f);
        scene.g.DrawLine(&light, rect.X + radius, rect.Y + 0.5f, rect.X + rect.Width - radius,
                         rect.Y + 0.5f);
    } else {
        fillRoundRect(scene.g, rect, radius, palette::kDisabledFill);
        strokeRoundRect(scene.g, rect, radius, 0x14FFFFFF);
        label.color = palette::kDisabledText;
    }
    scene.text.draw(b.label, label, rect.X + rect.Width / 2.0f,
                    scene.text.centredBaseline(label, rect.Y + rect.Height / 2.0f), Align::kCenter);
}

void paintSecondary(Scene& scene, const Button& b, bool hovered) {
    const RectF rect = buttonRect(b);
    const float radius = 10.0f;
    if (hovered) fillRoundRect(scene.g, rect, radius, palette::kGhostHover);
    strokeRoundRect(scene.g, rect, radius,
                    !b.enabled ? 0x1FFFFFFF
                    : hovered  ? palette::kGhostEdgeHover
                               : palette::kGhostEdge);
    const TextStyle label{14.0f, Weight::kSemibold,
                          b.enabled ? palette::kText : palette::kDisabledText};
    scene.text.draw(b.label, label, rect.X + rect.Width / 2.0f,
                    scene.text.centredBaseline(label, rect.Y + rect.Height / 2.0f), Align::kCenter);
}

}  // namespace

void paintButtons(Scene& scene, const Frame& frame) {
    for (const Button& b : frame.buttons) {
        const bool hovered = b.enabled && frame.hover == b.id && b.id != kButtonNone;
        if (b.id == kButtonClose || (b.label.empty() && !b.primary)) {
            paintClose(scene, b, hovered);
        } else if (b.primary) {
            paintPrimary(scene, b, hovered);
        } else {
            paintSecondary(scene, b, hovered);
        }
    }
}

}  // namespace render
