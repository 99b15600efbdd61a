#include "render/text_fit.h"

#include <algorithm>

namespace render {

namespace {

constexpr float kStep = 0.5f;
constexpr float kSlightlySmaller = 1.0f;

}  // namespace

TextStyle fitLine(Typesetter& text, const std::wstring& line, TextStyle style, float room,
                  float floor) {
    for (; style.size > floor; style.size -= kStep) {
        if (text.width(line, style) <= room) return style;
    }
    style.size = floor;
    if (text.width(line, style) > room) text.noteOverflow(line);
    return style;
}

FittedLines fitLines(Typesetter& text, const std::wstring& paragraph, TextStyle style, float room,
                     float floor, size_t maxLines) {
    const float own = style.size;
    // A little smaller on one line reads better than a second line; much smaller does not.
    const float lineFloor = std::max(floor, own - kSlightlySmaller);
    for (TextStyle smaller = style; smaller.size >= lineFloor; smaller.size -= kStep) {
        if (paragraph.find(L'\n') == std::wstring::npos && text.width(paragraph, smaller) <= room) {
            return {{paragraph}, smaller};
        }
    }
    FittedLines fitted{{}, style};
    for (fitted.style.size = own; fitted.style.size >= floor; fitted.style.size -= kStep) {
        fitted.lines = wrapText(paragraph, room, text.measurer(fitted.style));
        if (fitted.lines.size() <= maxLines && !breaksInsideWord(paragraph, fitted.lines)) {
            return fitted;
        }
    }
    fitted.style.size = floor;
    fitted.lines = wrapText(paragraph, room, text.measurer(fitted.style));
    text.noteOverflow(paragraph);
    return fitted;
}

void drawLines(Typesetter& text, const FittedLines& fitted, float x, float baseline, float lineHeight,
               Align align) {
    for (const std::wstring& line : fitted.lines) {
        text.draw(line, fitted.style, x, baseline, align);
        baseline += lineHeight;
    }
}

bool breaksInsideWord(const std::wstring& text, const std::vector<std::wstring>& lines) {
    size_t at = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        at = text.find(lines[i], at);
        if (at == std::wstring::npos) return true;
        at += lines[i].size();
        const bool atSpace = at < text.size() && (text[at] == L' ' || text[at] == L'\n' ||
                                                  text[at] == L'\r');
        const bool afterSpace = !lines[i].empty() && lines[i].back() == L' ';
        if (!atSpace && !afterSpace) return true;
    }
    return false;
}

}  // namespace render
