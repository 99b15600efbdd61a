#pragma once
// Fitting the window's own texts to their room: a little smaller first, down to a size that
// still reads well, then onto more lines where the screen has room for them. A text that fits
// in none of these ways is drawn at its floor and noted on the Typesetter, so that tests can
// tell; nothing of ours is ever cut or elided.

#include <cstddef>
#include <string>
#include <vector>

#include "render/text_draw.h"

namespace render {

// The smallest size body text goes down to before it wraps or is noted.
constexpr float kReadableFloor = 10.5f;

// `style` at the largest size, in half-unit steps from its own down to `floor`, at which
// `text` fits `room` on one line; past the floor, the floor, and `text` is noted.
TextStyle fitLine(Typesetter& text, const std::wstring& line, TextStyle style, float room,
                  float floor);

struct FittedLines {
    std::vector<std::wstring> lines;
    TextStyle style;
};

// `text` on one line when it fits at its own size or a little smaller; else wrapped onto at
// most `maxLines` lines at the largest size down to `floor` that they hold it at (with one
// line, just smaller down to `floor`). Past that, the wrap at `floor`, on more lines if it
// takes them (never cut), and `text` is noted.
FittedLines fitLines(Typesetter& text, const std::wstring& paragraph, TextStyle style, float room,
                     float floor, size_t maxLines);

// Draws `text`'s lines from `baseline` down, `lineHeight` apart.
void drawLines(Typesetter& text, const FittedLines& fitted, float x, float baseline, float lineHeight,
               Align align = Align::kLeft);

// Whether `lines`, as wrapText made them from `text`, break a word apart (a break not at a
// space or a line break). Our texts must only ever break between words.
bool breaksInsideWord(const std::wstring& text, const std::vector<std::wstring>& lines);

}  // namespace render
