#pragma once
// Drawing primitives the screens share: rounded boxes, glows, marks, the spinner and the
// logo's stand-in. Coordinates are the window's 96-dpi units; the Graphics carries the scale.

#include "render/gdiplus_headers.h"

#include <cstdint>

#include "render/palette.h"

namespace render {

Gdiplus::Color argb(uint32_t value);
Gdiplus::RectF rectLTRB(float left, float top, float right, float bottom);

// A rectangle with circular corners of `radius` (clamped to half the shorter side).
void addRoundRect(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& rect, float radius);
void fillRoundRect(Gdiplus::Graphics& g, const Gdiplus::RectF& rect, float radius,
                   const Gdiplus::Brush& brush);
void fillRoundRect(Gdiplus::Graphics& g, const Gdiplus::RectF& rect, float radius, uint32_t color);
// A hairline (or `width`) edge drawn just inside `rect`.
void strokeRoundRect(Gdiplus::Graphics& g, const Gdiplus::RectF& rect, float radius, uint32_t color,
                     float width = 1.0f);

// A soft halo fading out over `spread` units around a rounded box; `color`'s alpha is the
// strength at the box's edge.
void drawHalo(Gdiplus::Graphics& g, const Gdiplus::RectF& rect, float radius, uint32_t color,
              float spread);
// An elliptic light: `color` at the centre fading smoothly to nothing at the rim.
void drawRadialGlow(Gdiplus::Graphics& g, float cx, float cy, float rx, float ry, uint32_t color);

// Marks in a box of `size` centred on (cx, cy): a tick, a cross, an exclamation mark.
void drawTick(Gdiplus::Graphics& g, float cx, float cy, float size, uint32_t color, float width);
void drawCross(Gdiplus::Graphics& g, float cx, float cy, float size, uint32_t color, float width);

// A circular arrow (refresh) of `size` centred on (cx, cy).
void drawRefresh(Gdiplus::Graphics& g, float cx, float cy, float size, uint32_t color, float width);

// A ring track with an arc a quarter turn long, turned by `turn` (0..1) of a full turn.
void drawSpinner(Gdiplus::Graphics& g, float cx, float cy, float radius, float thickness,
                 float turn, const Palette& colors);

// The brand mark drawn when the program has no logo image: a gradient ring around a
// four-pointed star (solid in a flat palette), filling a square of `size` at (left, top).
void drawEmblem(Gdiplus::Graphics& g, float left, float top, float size, const Palette& colors);

}  // namespace render
