#pragma once
// The two text faces the window uses, found once per painter, and fonts of them by size.
// Window thread only.

#include <windows.h>

#include <memory>
#include <string>

namespace Gdiplus {
class Font;
}

namespace render {

enum class Weight { kRegular, kSemibold };

class Fonts {
public:
    // Picks a family for each weight: "Segoe UI", else the font embedded in the program's
    // resources, else GDI+'s generic sans serif, else the system's message font. Needs GDI+.
    Fonts();
    ~Fonts();
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;

    // A font `pixels` high (em size in device pixels) for `text`: of the family picked for
    // `weight`, or of the next face in the chain when that one lacks a character of `text`
    // and the next has them all. Null only when no family at all could be had. The font
    // lives as long as this object.
    const Gdiplus::Font* get(float pixels, Weight weight, const std::wstring& text = std::wstring());

    // Distance from a line's top to its baseline, and from one baseline to the next, as
    // fractions of the em size.
    float ascent(Weight weight, const std::wstring& text = std::wstring()) const;
    float lineSpacing(Weight weight) const;

    // The family name in use for `weight` and `text` (diagnostics and tests).
    std::wstring familyName(Weight weight, const std::wstring& text = std::wstring()) const;
    // Whether the family picked first has a glyph for every character of `text`; true when
    // the system cannot say.
    bool covers(const std::wstring& text) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace render
