#pragma once
// Fitting text to a width, given only a way to measure a line. Pure: the painter passes a
// GDI+ measure, tests pass a fixed-width one.

#include <functional>
#include <string>
#include <vector>

namespace render {

using MeasureText = std::function<float(const std::wstring&)>;

// Breaks `text` into lines no wider than `maxWidth`: at spaces (the space at a break is
// dropped; further spaces stay at the end of the earlier line; never before a dash), at each '\n' (a "\r\n" counts
// as one break), and inside a word too wide for a line: after its last path separator or
// other punctuation that fits, else between characters (never inside a surrogate pair). Every
// line holds at least one character of such a word, so a very narrow width still ends.
std::vector<std::wstring> wrapText(const std::wstring& text, float maxWidth,
                                   const MeasureText& measure);

// `text` when it fits, else its start and end around an ellipsis (U+2026), keeping more of
// the end, where a path's most telling part is. Empty when not even the ellipsis fits.
std::wstring elideMiddle(const std::wstring& text, float maxWidth, const MeasureText& measure);

// `text` when it fits, else as much of its start as fits before an ellipsis.
std::wstring elideEnd(const std::wstring& text, float maxWidth, const MeasureText& measure);

}  // namespace render
