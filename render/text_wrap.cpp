#include "render/text_wrap.h"

#include <algorithm>
#include <string_view>

namespace render {

namespace {

constexpr wchar_t kEllipsis = L'\x2026';

bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// An en or em dash set between words, as several languages do for a pause.
bool isDash(wchar_t c) { return c == L'\x2013' || c == L'\x2014'; }

bool isPunctuation(wchar_t c) {
    return std::wstring_view(L".,;:!?-_)]}>|&=+").find(c) != std::wstring_view::npos;
}

std::wstring trimRight(const std::wstring& s) {
    size_t end = s.find_last_not_of(L' ');
    return end == std::wstring::npos ? std::wstring() : s.substr(0, end + 1);
}

bool fits(const std::wstring& line, float maxWidth, const MeasureText& measure) {
    return measure(trimRight(line)) <= maxWidth;
}

// Moves `k` back off the middle of a surrogate pair, but never below one character.
size_t keepPairs(const std::wstring& s, size_t k) {
    if (k > 0 && k < s.size() && isHighSurrogate(s[k - 1])) {
        return k > 1 ? k - 1 : std::min(s.size(), k + 1);
    }
    return k;
}

// Length of the first line of an over-wide word: after the last separator that fits, else
// the last punctuation, else as many characters as fit (at least one).
size_t splitPoint(const std::wstring& word, float maxWidth, const MeasureText& measure) {
    size_t low = 1, high = word.size();  // the longest fitting prefix lies in [low, high]
    if (measure(word.substr(0, 1)) > maxWidth) {
        high = 1;
    }
    while (low < high) {
        size_t mid = (low + high + 1) / 2;
        if (measure(word.substr(0, mid)) <= maxWidth) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    const size_t fitting = keepPairs(word, low);
    for (auto test : {isSeparator, isPunctuation}) {
        for (size_t k = fitting; k > 0; --k) {
            // A break right after the word's own first character gains nothing.
            if (k < word.size() && k > 1 && test(word[k - 1])) return k;
        }
    }
    return fitting;
}

void wrapParagraph(const std::wstring& paragraph, float maxWidth, const MeasureText& measure,
                   std::vector<std::wstring>& lines) {
    std::wstring line;
    size_t start = 0;
    bool first = true;
    while (true) {
        size_t end = paragraph.find(L' ', start);
        // A dash stays with the word before it: no line starts with one.
        while (end != std::wstring::npos && end + 1 < paragraph.size() && isDash(paragraph[end + 1]))
            end = paragraph.find(L' ', end + 1);
        if (end == std::wstring::npos) end = paragraph.size();
        std::wstring word = paragraph.substr(start, end - start);

        if (first) {
            line = word;
            first = false;
        } else if (fits(line + L' ' + word, maxWidth, measure)) {
            line += L' ';
            line += word;
        } else {
            lines.push_back(line);  // the space between them is the break
            line = word;
        }
        while (!fits(line, maxWidth, measure) && trimRight(line).size() > 1) {
            size_t k = splitPoint(trimRight(line), maxWidth, measure);
            if (k >= line.size()) break;
            lines.push_back(line.substr(0, k));
            line.erase(0, k);
        }
        if (end == paragraph.size()) break;
        start = end + 1;
    }
    lines.push_back(line);
}

// `build(kept)` for the largest kept in 0..most whose text fits `maxWidth` (0 when none
// does); the width grows with kept, so a binary search finds it.
template <typename Build>
std::wstring longestFitting(size_t most, const Build& build, float maxWidth, const MeasureText& measure) {
    size_t low = 0, high = most;
    while (low < high) {
        const size_t mid = (low + high + 1) / 2;
        if (measure(build(mid)) <= maxWidth)
            low = mid;
        else
            high = mid - 1;
    }
    return build(low);
}

}  // namespace

std::vector<std::wstring> wrapText(const std::wstring& text, float maxWidth,
                                   const MeasureText& measure) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (true) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            wrapParagraph(text.substr(start), maxWidth, measure, lines);
            break;
        }
        size_t contentEnd = (end > start && text[end - 1] == L'\r') ? end - 1 : end;
        wrapParagraph(text.substr(start, contentEnd - start), maxWidth, measure, lines);
        start = end + 1;
    }
    return lines;
}

std::wstring elideMiddle(const std::wstring& text, float maxWidth, const MeasureText& measure) {
    if (measure(text) <= maxWidth) return text;
    auto build = [&](size_t kept) {
        size_t tailLength = (kept * 3 + 2) / 5;
        size_t head = keepPairs(text, kept - tailLength);
        size_t tail = text.size() - tailLength;
        if (tail > 0 && tail < text.size() && isHighSurrogate(text[tail - 1])) ++tail;
        return text.substr(0, head) + kEllipsis + text.substr(tail);
    };
    if (measure(std::wstring(1, kEllipsis)) > maxWidth) return std::wstring();
    return longestFitting(text.size() - 1, build, maxWidth, measure);  // kept around the ellipsis
}

std::wstring elideEnd(const std::wstring& text, float maxWidth, const MeasureText& measure) {
    if (measure(text) <= maxWidth) return text;
    auto build = [&](size_t kept) {
        return trimRight(text.substr(0, keepPairs(text, kept))) + kEllipsis;
    };
    if (measure(std::wstring(1, kEllipsis)) > maxWidth) return std::wstring();
    return longestFitting(text.size() - 1, build, maxWidth, measure);
}

}  // namespace render
