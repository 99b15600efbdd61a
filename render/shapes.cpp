#include "render/shapes.h"

#include <algorithm>
#include <cmath>

#include "render/palette.h"

namespace render {

using Gdiplus::Graphics;
using Gdiplus::GraphicsPath;
using Gdiplus::Pen;
using Gdiplus::PointF;
using Gdiplus::RectF;
using Gdiplus::SolidBrush;

Gdiplus::Color argb(uint32_t value) { return Gdiplus::Color(static_cast<Gdiplus::ARGB>(value)); }

RectF rectLTRB(float left, float top, float right, float bottom) {
    return RectF(left, top, right - left, bottom - top);
}

void addRoundRect(GraphicsPath& path, const RectF& rect, float radius) {
    radius = std::min(radius, std::min(rect.Width, rect.Height) / 2.0f);
    if (radius <= 0.0f) {
        path.AddRectangle(rect);
        return;
    }
    const float d = radius * 2.0f;
    const float right = rect.X + rect.Width, bottom = rect.Y + rect.Height;
    path.AddArc(rect.X, rect.Y, d, d, 180.0f, 90.0f);
    path.AddArc(right - d, rect.Y, d, d, 270.0f, 90.0f);
    path.AddArc(right - d, bottom - d, d, d, 0.0f, 90.0f);
    path.AddArc(rect.X, bottom - d, d, d, 90.0f, 90.0f);
    path.CloseFigure();
}

void fillRoundRect(Graphics& g, const RectF& rect, float radius, const Gdiplus::Brush& brush) {
    GraphicsPath path;
    addRoundRect(path, rect, radius);
    g.FillPath(&brush, &path);
}

void fillRoundRect(Graphics& g, const RectF& rect, float radius, uint32_t color) {
    SolidBrush brush(argb(color));
    fillRoundRect(g, rect, radius, brush);
}

void strokeRoundRect(Graphics& g, const RectF& rect, float radius, uint32_t color, float width) {
    const float inset = width / 2.0f;
    RectF inner(rect.X + inset, rect.Y + inset, rect.Width - width, rect.Height - width);
    GraphicsPath path;
    addRoundRect(path, inner, radius - inset);
    Pen pen(argb(color), width);
    g.DrawPath(&pen, &path);
}

void drawHalo(Graphics& g, const RectF& rect, float radius, uint32_t color, float spread) {
    const uint32_t alpha = color >> 24;
    const int steps = std::max(1, static_cast<int>(spread / 1.5f));
    const float step = spread / static_cast<float>(steps);
    for (int i = 0; i < steps; ++i) {
        // Quadratic fall-off reads as light rather than as a stack of outlines.
        const float t = 1.0f - static_cast<float>(i) / static_cast<float>(steps);
        const uint32_t a = static_cast<uint32_t>(static_cast<float>(alpha) * t * t / 2.0f);
        if (a == 0) continue;
        const float grow = step * static_cast<float>(i) + step / 2.0f;
        RectF ring(rect.X - grow, rect.Y - grow, rect.Width + 2 * grow, rect.Height + 2 * grow);
        GraphicsPath path;
        addRoundRect(path, ring, radius + grow);
        Pen pen(argb((a << 24) | (color & 0xFFFFFF)), step);
        g.DrawPath(&pen, &path);
    }
}

void drawRadialGlow(Graphics& g, float cx, float cy, float rx, float ry, uint32_t color) {
    GraphicsPath path;
    path.AddEllipse(cx - rx, cy - ry, rx * 2.0f, ry * 2.0f);
    Gdiplus::PathGradientBrush brush(&path);
    brush.SetCenterPoint(PointF(cx, cy));
    brush.SetCenterColor(argb(color));
    Gdiplus::Color rim = argb(color & 0xFFFFFF);
    INT count = 1;
    brush.SetSurroundColors(&rim, &count);
    // Factor 0 is the rim, 1 the centre: a smooth shoulder instead of a cone.
    Gdiplus::REAL factors[] = {0.0f, 0.08f, 0.28f, 0.55f, 0.82f, 1.0f};
    Gdiplus::REAL positions[] = {0.0f, 0.2f, 0.4f, 0.6f, 0.8f, 1.0f};
    brush.SetBlend(factors, positions, 6);
    g.FillPath(&brush, &path);
}

void drawTick(Graphics& g, float cx, float cy, float size, uint32_t color, float width) {
    Pen pen(argb(color), width);
    pen.SetLineJoin(Gdiplus::LineJoinRound);
    pen.SetStartCap(Gdiplus::LineCapRound);
    pen.SetEndCap(Gdiplus::LineCapRound);
    const float s = size / 2.0f;
    PointF points[] = {PointF(cx - s * 0.72f, cy + s * 0.02f),
                       PointF(cx - s * 0.22f, cy + s * 0.5f),
                       PointF(cx + s * 0.74f, cy - s * 0.48f)};
    g.DrawLines(&pen, points, 3);
}

void drawCross(Graphics& g, float cx, float cy, float size, uint32_t color, float width) {
    Pen pen(argb(color), width);
    pen.SetStartCap(Gdiplus::LineCapRound);
    pen.SetEndCap(Gdiplus::LineCapRound);
    const float s = size / 2.0f;
    g.DrawLine(&pen, cx - s, cy - s, cx + s, cy + s);
    g.DrawLine(&pen, cx - s, cy + s, cx + s, cy - s);
}

void drawSpinner(Graphics& g, float cx, float cy, float radius, float thickness, float turn,
                 const Palette& colors) {
    const RectF box(cx - radius, cy - radius, radius * 2.0f, radius * 2.0f);
    Pen track(argb(colors.spinnerTrack), thickness);
    g.DrawEllipse(&track, box);
    Pen arc(argb(colors.spinner), thickness);
    arc.SetStartCap(Gdiplus::LineCapRound);
    arc.SetEndCap(Gdiplus::LineCapRound);
    g.DrawArc(&arc, box, turn * 360.0f - 90.0f, 110.0f);
}

void drawRefresh(Graphics& g, float cx, float cy, float size, uint32_t color, float width) {
    const float r = size / 2.0f;
    Pen pen(argb(color), width);
    pen.SetStartCap(Gdiplus::LineCapRound);
    pen.SetEndCap(Gdiplus::LineCapRound);
    // An open ring from the top round to the upper right, with a head at its end.
    const float start = -60.0f, sweep = 285.0f;
    g.DrawArc(&pen, RectF(cx - r, cy - r, size, size), start, sweep);
    const float end = (start + sweep) * 3.14159265f / 180.0f;
    const PointF tip(cx + r * std::cos(end), cy + r * std::sin(end));
    // The arc runs clockwise on screen: its direction at the end is (-sin, cos).
    const float dx = -std::sin(end), dy = std::cos(end), head = size * 0.32f;
    PointF arrow[] = {PointF(tip.X - dx * head + dy * head, tip.Y - dy * head - dx * head), tip,
                      PointF(tip.X - dx * head - dy * head, tip.Y - dy * head + dx * head)};
    pen.SetLineJoin(Gdiplus::LineJoinRound);
    g.DrawLines(&pen, arrow, 3);
}

void drawEmblem(Graphics& g, float left, float top, float size, const Palette& colors) {
    const float cx = left + size / 2.0f, cy = top + size / 2.0f;
    const RectF box(left, top, size, size);
    Gdiplus::LinearGradientBrush gradient(box, argb(colors.emblemLight), argb(colors.accentEnd),
                                          Gdiplus::LinearGradientModeForwardDiagonal);
    SolidBrush solid(argb(colors.accent));
    const Gdiplus::Brush& shade =
        colors.flat ? static_cast<const Gdiplus::Brush&>(solid) : gradient;

    const float ring = size * 0.085f;
    const float r = size / 2.0f - ring / 2.0f - size * 0.04f;
    Pen pen(&shade, ring);
    g.DrawEllipse(&pen, cx - r, cy - r, r * 2.0f, r * 2.0f);

    // A four-pointed star: long vertical points, short horizontal ones.
    const float tall = size * 0.30f, wide = size * 0.20f, waist = size * 0.055f;
    PointF star[] = {PointF(cx, cy - tall), PointF(cx + waist, cy - waist),
                     PointF(cx + wide, cy), PointF(cx + waist, cy + waist),
                     PointF(cx, cy + tall), PointF(cx - waist, cy + waist),
                     PointF(cx - wide, cy), PointF(cx - waist, cy - waist)};
    g.FillPolygon(&shade, star, 8);
}

}  // namespace render
