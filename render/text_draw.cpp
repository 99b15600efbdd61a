#include "render/text_draw.h"

#include "render/shapes.h"

namespace render {

namespace {

// Capital height as a share of the em size; near 0.71 for every sans serif we may get.
constexpr float kCapHeight = 0.71f;

}  // namespace

Typesetter::Typesetter(Gdiplus::Graphics& g, Fonts& fonts)
    : g_(g), fonts_(fonts), format_(nullptr) {
    // Typographic: no padding around the ink, so measured widths add up and align.
    const Gdiplus::StringFormat* typographic = Gdiplus::StringFormat::GenericTypographic();
    format_ = typographic ? typographic->Clone() : nullptr;
    if (format_) {
        format_->SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap |
                                Gdiplus::StringFormatFlagsNoClip |
                                Gdiplus::StringFormatFlagsMeasureTrailingSpaces);
    }
}

Typesetter::~Typesetter() { delete format_; }

float Typesetter::width(const std::wstring& text, const TextStyle& style) {
    const Gdiplus::Font* font = fonts_.get(style.size, style.weight, text);
    if (!font || !format_ || text.empty()) return 0.0f;
    Gdiplus::RectF bounds;
    g_.MeasureString(text.c_str(), static_cast<INT>(text.size()), font, Gdiplus::PointF(0, 0),
                     format_, &bounds);
    return bounds.Width + style.tracking * static_cast<float>(text.size() - 1);
}

MeasureText Typesetter::measurer(const TextStyle& style) {
    return [this, style](const std::wstring& text) { return width(text, style); };
}

float Typesetter::lineHeight(const TextStyle& style) const {
    return style.size * fonts_.lineSpacing(style.weight);
}

float Typesetter::centredBaseline(const TextStyle& style, float centreY) const {
    return centreY + style.size * kCapHeight / 2.0f;
}

namespace {

float alignedLeft(float x, float width, Align align) {
    switch (align) {
        case Align::kCenter: return x - width / 2.0f;
        case Align::kRight: return x - width;
        default: return x;
    }
}

}  // namespace

void Typesetter::draw(const std::wstring& text, const TextStyle& style, float x, float baseline,
                      Align align) {
    const Gdiplus::Font* font = fonts_.get(style.size, style.weight, text);
    if (!font || !format_ || text.empty()) return;
    if (align != Align::kLeft) x = alignedLeft(x, width(text, style), align);
    const float top = baseline - style.size * fonts_.ascent(style.weight, text);
    Gdiplus::SolidBrush brush(argb(style.color));
    if (style.tracking == 0.0f) {
        g_.DrawString(text.c_str(), static_cast<INT>(text.size()), font, Gdiplus::PointF(x, top),
                      format_, &brush);
        return;
    }
    for (wchar_t c : text) {
        g_.DrawString(&c, 1, font, Gdiplus::PointF(x, top), format_, &brush);
        Gdiplus::RectF bounds;
        g_.MeasureString(&c, 1, font, Gdiplus::PointF(0, 0), format_, &bounds);
        x += bounds.Width + style.tracking;
    }
}

Typesetter::Span Typesetter::characterSpan(const std::wstring& text, size_t index,
                                            const TextStyle& style, float x, Align align) {
    if (index >= text.size()) return {x, x};
    float left = align == Align::kLeft ? x : alignedLeft(x, width(text, style), align);
    const std::wstring c(1, text[index]);
    if (style.tracking == 0.0f) {
        // Drawn as one run: the prefix's measure keeps the run's kerning.
        left += width(text.substr(0, index), style);
        return {left, left + width(c, style)};
    }
    // Drawn a character at a time, each advanced by its own width and the tracking.
    for (size_t i = 0; i < index; ++i) {
        left += width(std::wstring(1, text[i]), style) + style.tracking;
    }
    return {left, left + width(c, style)};
}

}  // namespace render
