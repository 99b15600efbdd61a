#pragma once
// Single lines of text on a Graphics: measured and placed by their baseline, so that texts
// of different sizes line up whatever the font's internal leading.

#include "render/gdiplus_headers.h"

#include <cstdint>
#include <string>
#include <vector>

#include "render/fonts.h"
#include "render/text_wrap.h"

namespace render {

enum class Align { kLeft, kCenter, kRight };

struct TextStyle {
    float size;  // em size in 96-dpi units
    Weight weight;
    uint32_t color;
    float tracking = 0.0f;  // extra space after each character
};

class Typesetter {
public:
    Typesetter(Gdiplus::Graphics& g, Fonts& fonts);
    ~Typesetter();
    Typesetter(const Typesetter&) = delete;
    Typesetter& operator=(const Typesetter&) = delete;

    float width(const std::wstring& text, const TextStyle& style);
    MeasureText measurer(const TextStyle& style);
    float lineHeight(const TextStyle& style) const;
    // Baseline that centres capitals (and most lower case) on `centreY`.
    float centredBaseline(const TextStyle& style, float centreY) const;

    // `x` is the left edge, the centre or the right edge of the line, as `align` says.
    void draw(const std::wstring& text, const TextStyle& style, float x, float baseline,
              Align align = Align::kLeft);

    // Where draw() with the same arguments puts the character at `index`: its left and right
    // edge, tracking and alignment included.
    struct Span {
        float left, right;
    };
    Span characterSpan(const std::wstring& text, size_t index, const TextStyle& style, float x,
                       Align align = Align::kLeft);

    // A text of ours that did not fit its room even at its smallest size (text_fit.h), and
    // every such text noted since this typesetter was made.
    void noteOverflow(const std::wstring& text) { overflows_.push_back(text); }
    const std::vector<std::wstring>& overflows() const { return overflows_; }

private:
    Gdiplus::Graphics& g_;
    Fonts& fonts_;
    Gdiplus::StringFormat* format_;  // owned; a clone of the typographic format
    std::vector<std::wstring> overflows_;
};

}  // namespace render
