#include "render/fonts.h"

#include "render/gdiplus_headers.h"

#include <cmath>
#include <map>
#include <utility>

#include "resources/resource_ids.h"

namespace render {

namespace {

using FamilyPtr = std::unique_ptr<Gdiplus::FontFamily>;

FamilyPtr familyByName(const wchar_t* name, const Gdiplus::FontCollection* collection = nullptr) {
    FamilyPtr family(new Gdiplus::FontFamily(name, collection));
    if (family->GetLastStatus() != Gdiplus::Ok || !family->IsAvailable()) return nullptr;
    return family;
}

// The embedded font of resource `id` in a collection of its own, so that its family is the
// collection's only one whatever name the file gives it. The resource stays mapped for the
// life of the process, which AddMemoryFont needs.
FamilyPtr embeddedFamily(int id, std::unique_ptr<Gdiplus::PrivateFontCollection>& collection) {
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
    FamilyPtr regular, semibold;
    int semiboldStyle = Gdiplus::FontStyleRegular;  // bold when no semibold face exists
    std::map<std::pair<int, Weight>, std::unique_ptr<Gdiplus::Font>> fonts;
};

Fonts::Fonts() : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.regular = familyByName(L"Segoe UI");
    if (m.regular) m.semibold = familyByName(L"Segoe UI Semibold");
    if (!m.regular) m.regular = embeddedFamily(IDR_FONT_REGULAR, m.regularCollection);
    if (!m.semibold && m.regularCollection) {
        m.semibold = embeddedFamily(IDR_FONT_SEMIBOLD, m.semiboldCollection);
    }
    if (!m.regular) m.regular = genericSansSerif();
    if (!m.regular) m.regular = messageFontFamily();
    if (!m.semibold && m.regular) {
        m.semibold.reset(m.regular->Clone());
        m.semiboldStyle = Gdiplus::FontStyleBold;
    }
}

Fonts::~Fonts() = default;

const Gdiplus::Font* Fonts::get(float pixels, Weight weight) {
    Impl& m = *impl_;
    const Gdiplus::FontFamily* family =
        weight == Weight::kSemibold ? m.semibold.get() : m.regular.get();
    if (!family) return nullptr;
    const int key = static_cast<int>(std::lround(pixels * 16.0f));
    auto& slot = m.fonts[{key, weight}];
    if (!slot) {
        int style = weight == Weight::kSemibold ? m.semiboldStyle : Gdiplus::FontStyleRegular;
        auto font = std::make_unique<Gdiplus::Font>(family, key / 16.0f, style, Gdiplus::UnitPixel);
        if (font->GetLastStatus() != Gdiplus::Ok) {
            // A failed font may hold a dangling native pointer: never delete or use it.
            font.release();
            m.fonts.erase({key, weight});
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

float Fonts::ascent(Weight weight) const {
    return weight == Weight::kSemibold
               ? metric(impl_->semibold.get(), impl_->semiboldStyle, false, 0.95f)
               : metric(impl_->regular.get(), Gdiplus::FontStyleRegular, false, 0.95f);
}

float Fonts::lineSpacing(Weight weight) const {
    return weight == Weight::kSemibold
               ? metric(impl_->semibold.get(), impl_->semiboldStyle, true, 1.3f)
               : metric(impl_->regular.get(), Gdiplus::FontStyleRegular, true, 1.3f);
}

std::wstring Fonts::familyName(Weight weight) const {
    const Gdiplus::FontFamily* family =
        weight == Weight::kSemibold ? impl_->semibold.get() : impl_->regular.get();
    WCHAR name[LF_FACESIZE] = {};
    if (!family || family->GetFamilyName(name) != Gdiplus::Ok) return std::wstring();
    return name;
}

}  // namespace render
