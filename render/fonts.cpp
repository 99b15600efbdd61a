#include "render/fonts.h"

#include "render/gdiplus_headers.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>
#include <map>
#include <utility>

#include "base/unique_handle.h"
#include "resources/resource_ids.h"

namespace render {

namespace {

using FamilyPtr = std::unique_ptr<Gdiplus::FontFamily>;
using Coverage = std::vector<std::pair<uint32_t, uint32_t>>;  // [first, end) of each range
using UniqueFontResource = base::UniqueOf<HANDLE, &::RemoveFontMemResourceEx>;

FamilyPtr familyByName(const wchar_t* name, const Gdiplus::FontCollection* collection = nullptr) {
    FamilyPtr family(new Gdiplus::FontFamily(name, collection));
    if (family->GetLastStatus() != Gdiplus::Ok || !family->IsAvailable()) return nullptr;
    return family;
}

// The embedded font of resource `id` in a collection of its own, so that its family is the
// collection's only one whatever name the file gives it. The resource stays mapped for the
// life of the process, which AddMemoryFont needs.
// The font's bytes are also handed to GDI, privately to this process, so that GDI can say
// which characters it has: `gdiCopy` owns that.
FamilyPtr embeddedFamily(int id, std::unique_ptr<Gdiplus::PrivateFontCollection>& collection,
                         UniqueFontResource& gdiCopy) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (!info) return nullptr;
    DWORD size = SizeofResource(module, info);
    HGLOBAL loaded = LoadResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return nullptr;

    auto own = std::make_unique<Gdiplus::PrivateFontCollection>();
    if (own->AddMemoryFont(bytes, static_cast<INT>(size)) != Gdiplus::Ok) return nullptr;
    Gdiplus::FontFamily found;
    INT count = 0;
    if (own->GetFamilies(1, &found, &count) != Gdiplus::Ok || count != 1) return nullptr;
    FamilyPtr family(found.Clone());
    if (!family || family->GetLastStatus() != Gdiplus::Ok) return nullptr;
    collection = std::move(own);
    DWORD fonts = 0;
    gdiCopy.reset(AddFontMemResourceEx(const_cast<void*>(bytes), size, nullptr, &fonts));
    return family;
}

// GDI+'s generic sans serif by name. The C++ wrapper caches the family in a static that
// outlives GdiplusShutdown, so go through the flat API and keep a family of our own.
FamilyPtr genericSansSerif() {
    Gdiplus::GpFontFamily* generic = nullptr;
    if (Gdiplus::DllExports::GdipGetGenericFontFamilySansSerif(&generic) != Gdiplus::Ok ||
        !generic) {
        return nullptr;
    }
    WCHAR name[LF_FACESIZE] = {};
    Gdiplus::Status status = Gdiplus::DllExports::GdipGetFamilyName(generic, name, LANG_NEUTRAL);
    Gdiplus::DllExports::GdipDeleteFontFamily(generic);
    return status == Gdiplus::Ok ? familyByName(name) : nullptr;
}

// The characters a face has glyphs for, as GDI reports them (the Basic Multilingual Plane
// only); empty when GDI cannot say, or would give another face for the name.
Coverage coverageOf(const std::wstring& face) {
    Coverage ranges;
    if (face.empty() || face.size() >= LF_FACESIZE) return ranges;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return ranges;
    LOGFONTW description = {};
    description.lfHeight = -32;
    description.lfCharSet = DEFAULT_CHARSET;
    face.copy(description.lfFaceName, face.size());
    HFONT font = CreateFontIndirectW(&description);
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    wchar_t selected[LF_FACESIZE] = {};
    const DWORD size = font ? GetFontUnicodeRanges(dc, nullptr) : 0;
    if (size >= sizeof(GLYPHSET) && GetTextFaceW(dc, LF_FACESIZE, selected) > 0 &&
        _wcsicmp(selected, face.c_str()) == 0) {
        std::vector<unsigned char> buffer(size);
        auto* glyphs = reinterpret_cast<GLYPHSET*>(buffer.data());
        if (GetFontUnicodeRanges(dc, glyphs) == size) {
            for (DWORD i = 0; i < glyphs->cRanges; ++i) {
                const uint32_t low = glyphs->ranges[i].wcLow;
                ranges.push_back({low, low + glyphs->ranges[i].cGlyphs});
            }
        }
    }
    if (old) SelectObject(dc, old);
    if (font) DeleteObject(font);
    DeleteDC(dc);
    return ranges;
}

bool coversText(const Coverage& ranges, const std::wstring& text) {
    if (ranges.empty()) return true;  // unknown: trust the face
    for (wchar_t c : text) {
        if (c < 0x20) continue;
        const auto inside = [c](const std::pair<uint32_t, uint32_t>& range) {
            return range.first <= static_cast<uint32_t>(c) && static_cast<uint32_t>(c) < range.second;
        };
        if (std::none_of(ranges.begin(), ranges.end(), inside)) return false;
    }
    return true;
}

std::wstring nameOf(const Gdiplus::FontFamily* family) {
    WCHAR name[LF_FACESIZE] = {};
    if (!family || family->GetFamilyName(name) != Gdiplus::Ok) return std::wstring();
    return name;
}

FamilyPtr messageFontFamily() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return nullptr;
    }
    return familyByName(metrics.lfMessageFont.lfFaceName);
}

}  // namespace

struct Fonts::Impl {
    // Declared first so that it is destroyed last: the families below come from them.
    std::unique_ptr<Gdiplus::PrivateFontCollection> regularCollection, semiboldCollection;
    UniqueFontResource regularForGdi, semiboldForGdi;
    FamilyPtr regular, semibold;
    int semiboldStyle = Gdiplus::FontStyleRegular;  // bold when no semibold face exists
    Coverage coverage;  // the regular face's; the semibold one is taken to match it
    // The faces after it, for a text with a character the first lacks (a player's folder in
    // another script, a separator the platform formats numbers with): the system's faces for
    // other scripts, its message font and its sans serif, in bold for the semibold weight.
    struct Face {
        FamilyPtr family;
        Coverage coverage;
    };
    std::vector<Face> chain;
    // By size in sixteenths of a pixel, weight and face (0: the first, then 1 + its place in
    // the chain).
    std::map<std::tuple<int, Weight, size_t>, std::unique_ptr<Gdiplus::Font>> fonts;

    // 0 when the first face has every character of `text` (or none in the chain has them
    // all), else 1 + the place of the first face in the chain that does.
    size_t faceFor(const std::wstring& text) const {
        if (text.empty() || coversText(coverage, text)) return 0;
        for (size_t i = 0; i < chain.size(); ++i)
            if (!chain[i].coverage.empty() && coversText(chain[i].coverage, text)) return i + 1;
        return 0;
    }
};

Fonts::Fonts() : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.regular = familyByName(L"Segoe UI");
    if (m.regular) m.semibold = familyByName(L"Segoe UI Semibold");
    if (!m.regular) m.regular = embeddedFamily(IDR_FONT_REGULAR, m.regularCollection, m.regularForGdi);
    if (!m.semibold && m.regularCollection) {
        m.semibold = embeddedFamily(IDR_FONT_SEMIBOLD, m.semiboldCollection, m.semiboldForGdi);
    }
    if (!m.regular) m.regular = genericSansSerif();
    if (!m.regular) m.regular = messageFontFamily();
    if (!m.semibold && m.regular) {
        m.semibold.reset(m.regular->Clone());
        m.semiboldStyle = Gdiplus::FontStyleBold;
    }
    m.coverage = coverageOf(nameOf(m.regular.get()));
    std::vector<FamilyPtr> candidates;
    for (const wchar_t* name : {L"Segoe UI", L"Microsoft YaHei", L"Yu Gothic", L"Malgun Gothic",
                                L"Microsoft JhengHei", L"Nirmala UI", L"Segoe UI Symbol"})
        candidates.push_back(familyByName(name));
    candidates.push_back(messageFontFamily());
    candidates.push_back(genericSansSerif());
    for (FamilyPtr& candidate : candidates) {
        const std::wstring name = nameOf(candidate.get());
        const auto same = [&name](const Impl::Face& face) { return nameOf(face.family.get()) == name; };
        if (!candidate || name == nameOf(m.regular.get()) || std::any_of(m.chain.begin(), m.chain.end(), same))
            continue;
        Coverage coverage = coverageOf(name);
        // A face GDI cannot describe could not be told apart from the first: no use here.
        if (!coverage.empty()) m.chain.push_back({std::move(candidate), std::move(coverage)});
    }
}

Fonts::~Fonts() = default;

const Gdiplus::Font* Fonts::get(float pixels, Weight weight, const std::wstring& text) {
    Impl& m = *impl_;
    const size_t face = m.faceFor(text);
    const bool fallback = face > 0;
    const Gdiplus::FontFamily* family = fallback                     ? m.chain[face - 1].family.get()
                                        : weight == Weight::kSemibold ? m.semibold.get()
                                                                      : m.regular.get();
    if (!family) return nullptr;
    const int key = static_cast<int>(std::lround(pixels * 16.0f));
    auto& slot = m.fonts[{key, weight, face}];
    if (!slot) {
        int style = weight == Weight::kRegular ? Gdiplus::FontStyleRegular
                    : fallback                 ? Gdiplus::FontStyleBold
                                               : m.semiboldStyle;
        auto font = std::make_unique<Gdiplus::Font>(family, key / 16.0f, style, Gdiplus::UnitPixel);
        if (font->GetLastStatus() != Gdiplus::Ok) {
            // A failed font may hold a dangling native pointer: never delete or use it.
            font.release();
            m.fonts.erase({key, weight, face});
            return nullptr;
        }
        slot = std::move(font);
    }
    return slot.get();
}

namespace {

float metric(const Gdiplus::FontFamily* family, int style, bool spacing, float fallback) {
    if (!family) return fallback;
    UINT16 em = family->GetEmHeight(style);
    UINT16 value = spacing ? family->GetLineSpacing(style) : family->GetCellAscent(style);
    return em > 0 && value > 0 ? static_cast<float>(value) / static_cast<float>(em) : fallback;
}

}  // namespace

float Fonts::ascent(Weight weight, const std::wstring& text) const {
    if (const size_t face = impl_->faceFor(text)) {
        return metric(impl_->chain[face - 1].family.get(),
                      weight == Weight::kSemibold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular, false, 0.95f);
    }
    return weight == Weight::kSemibold
               ? metric(impl_->semibold.get(), impl_->semiboldStyle, false, 0.95f)
               : metric(impl_->regular.get(), Gdiplus::FontStyleRegular, false, 0.95f);
}

float Fonts::lineSpacing(Weight weight) const {
    return weight == Weight::kSemibold
               ? metric(impl_->semibold.get(), impl_->semiboldStyle, true, 1.3f)
               : metric(impl_->regular.get(), Gdiplus::FontStyleRegular, true, 1.3f);
}

std::wstring Fonts::familyName(Weight weight, const std::wstring& text) const {
    if (const size_t face = impl_->faceFor(text)) return nameOf(impl_->chain[face - 1].family.get());
    return nameOf(weight == Weight::kSemibold ? impl_->semibold.get() : impl_->regular.get());
}

bool Fonts::covers(const std::wstring& text) const { return coversText(impl_->coverage, text); }

}  // namespace render
