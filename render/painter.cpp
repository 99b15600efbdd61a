#include "render/painter.h"

#include "render/gdiplus_headers.h"

#include <vector>

#include "base/unique_handle.h"
#include "render/button_fit.h"
#include "render/fonts.h"
#include "render/screen_text.h"
#include "render/scene.h"
#include "render/text_draw.h"

namespace render {

namespace {


bool pngEncoder(CLSID& clsid) {
    UINT count = 0, bytes = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
    std::vector<unsigned char> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && std::wstring(codecs[i].MimeType) == L"image/png") {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

}  // namespace

struct Canvas::Impl {
    base::UniqueOf<HDC, &::DeleteDC> dc;
    base::UniqueOf<HBITMAP, &::DeleteObject> bitmap;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr;

    ~Impl() {
        // The bitmap cannot be deleted while a DC still holds it.
        if (dc && previous) SelectObject(dc.get(), previous);
    }
};

Canvas::Canvas(int32_t width, int32_t height) : impl_(std::make_unique<Impl>()) {
    if (width <= 0 || height <= 0) return;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down: row 0 is the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    impl_->dc.reset(CreateCompatibleDC(nullptr));
    if (!impl_->dc) return;
    void* bits = nullptr;
    impl_->bitmap.reset(
        CreateDIBSection(impl_->dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!impl_->bitmap || !bits) return;
    impl_->previous = SelectObject(impl_->dc.get(), impl_->bitmap.get());
    impl_->bits = static_cast<uint32_t*>(bits);
    width_ = width;
    height_ = height;
}

Canvas::~Canvas() = default;

bool Canvas::valid() const { return impl_->bits != nullptr; }
HDC Canvas::dc() const { return impl_->dc.get(); }
HBITMAP Canvas::bitmap() const { return impl_->bitmap.get(); }

uint32_t Canvas::pixel(int32_t x, int32_t y) const {
    if (!valid() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    GdiFlush();
    return impl_->bits[static_cast<size_t>(y) * static_cast<size_t>(width_) + x] & 0xFFFFFFu;
}

bool Canvas::savePng(const std::wstring& path) const {
    CLSID png;
    if (!valid() || !pngEncoder(png)) return false;
    GdiFlush();
    // Copied into a 24-bit bitmap: the DIB's fourth byte is not alpha and must not become it.
    Gdiplus::Bitmap image(width_, height_, PixelFormat24bppRGB);
    Gdiplus::Rect all(0, 0, width_, height_);
    Gdiplus::BitmapData data;
    if (image.LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat24bppRGB, &data) !=
        Gdiplus::Ok) {
        return false;
    }
    for (int32_t y = 0; y < height_; ++y) {
        auto* row =
            static_cast<unsigned char*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
        const uint32_t* source = impl_->bits + static_cast<size_t>(y) * static_cast<size_t>(width_);
        for (int32_t x = 0; x < width_; ++x) {
            row[x * 3 + 0] = static_cast<unsigned char>(source[x]);
            row[x * 3 + 1] = static_cast<unsigned char>(source[x] >> 8);
            row[x * 3 + 2] = static_cast<unsigned char>(source[x] >> 16);
        }
    }
    if (image.UnlockBits(&data) != Gdiplus::Ok) return false;
    return image.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
}

namespace {

// Everything a screen's cached layer depends on besides the screen and the scale.
struct LayerKey {
    int32_t screen = -1;
    lang::Language language = lang::Language::kEnglish;
    float fieldRight = 0.0f;  // the location field gives Browse its room
    float scale = 0.0f;
    int32_t width = 0, height = 0;
    std::wstring location, installDir, error;
    std::wstring folderNote;  // it says how much room there is, in its colour
    bool installationExists = false;
    bool removal = false;
    int64_t keptFiles = 0;
    std::wstring doneNote;
    // A theme change repaints the layer in the new colours.
    bool highContrast = false;
    SystemColors system;

    bool operator==(const LayerKey& o) const {
        return screen == o.screen && language == o.language && fieldRight == o.fieldRight &&
               scale == o.scale && width == o.width && height == o.height &&
               location == o.location && installDir == o.installDir && error == o.error &&
               folderNote == o.folderNote &&
               installationExists == o.installationExists && removal == o.removal &&
               keptFiles == o.keptFiles && doneNote == o.doneNote &&
               highContrast == o.highContrast && system == o.system;
    }
};

void prepare(Gdiplus::Graphics& g, float scale) {
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    g.SetPageUnit(Gdiplus::UnitPixel);
    g.ScaleTransform(scale, scale);
}

}  // namespace

struct Painter::Impl {
    Gdiplus::Image* logo = nullptr;
    Fonts fonts;
    std::unique_ptr<Canvas> layer;
    LayerKey layerKey;
    // What did not fit: on the cached layer (kept with it), and on the last paint's top.
    std::vector<std::wstring> layerOverflows, liveOverflows;
    Canvas measuring{1, 1};  // a 96-dpi surface to measure labels on

    void paintLayer(const Frame& frame, float scale, const LayerKey& key, const Palette& colors);
};

void Painter::Impl::paintLayer(const Frame& frame, float scale, const LayerKey& key,
                               const Palette& colors) {
    if (!layer || layer->width() != key.width || layer->height() != key.height) {
        layer = std::make_unique<Canvas>(key.width, key.height);
    }
    layerKey = LayerKey();
    layerOverflows.clear();
    if (!layer->valid()) return;
    {
        Gdiplus::Graphics g(layer->dc());
        prepare(g, scale);
        Typesetter text(g, fonts);
        Scene scene{g, text, logo, colors, frame.language};
        switch (frame.screen) {
            case kScreenChoose: paintChooseStatic(scene, frame); break;
            case kScreenWorking: paintWorkingStatic(scene, frame); break;
            case kScreenDone: paintDoneStatic(scene, frame); break;
            case kScreenFailed: paintFailedStatic(scene, frame); break;
            default: paintSplash(scene, frame); break;
        }
        layerOverflows = text.overflows();
    }
    GdiFlush();
    layerKey = key;
}

Painter::Painter(Gdiplus::Image* logo) : impl_(std::make_unique<Impl>()) { impl_->logo = logo; }

Painter::~Painter() = default;

std::vector<Button> Painter::fitButtons(std::vector<Button> buttons) {
    if (!impl_->measuring.valid()) return buttons;
    Gdiplus::Graphics g(impl_->measuring.dc());
    prepare(g, 1.0f);
    Typesetter text(g, impl_->fonts);
    return render::fitButtons(text, std::move(buttons));
}

std::vector<std::wstring> Painter::overflows() const {
    std::vector<std::wstring> all = impl_->layerOverflows;
    all.insert(all.end(), impl_->liveOverflows.begin(), impl_->liveOverflows.end());
    return all;
}

void Painter::paint(const Frame& given, float scale, Canvas& canvas) {
    impl_->liveOverflows.clear();
    if (!canvas.valid()) return;
    // The window's buttons come fitted already and fit again as they are; frames made
    // elsewhere get the same geometry.
    Frame frame = given;
    frame.buttons = fitButtons(std::move(frame.buttons));
    LayerKey key;
    key.screen = frame.screen;
    key.language = frame.language;
    key.fieldRight = locationFieldBox(frame.buttons).right;
    key.scale = scale;
    key.width = canvas.width();
    key.height = canvas.height();
    key.location = frame.location;
    key.installDir = frame.installDir;
    key.error = frame.error;
    if (frame.screen == kScreenChoose) key.folderNote = folderNoteText(frame);
    key.installationExists = frame.installationExists;
    key.removal = frame.removal;
    key.keptFiles = frame.keptFiles;
    key.doneNote = frame.doneNote;
    key.highContrast = frame.highContrast;
    key.system = frame.system;
    const Palette colors = paletteFor(frame);
    if (!(key == impl_->layerKey)) impl_->paintLayer(frame, scale, key, colors);
    if (impl_->layer && impl_->layer->valid()) {
        BitBlt(canvas.dc(), 0, 0, canvas.width(), canvas.height(), impl_->layer->dc(), 0, 0,
               SRCCOPY);
    }

    Gdiplus::Graphics g(canvas.dc());
    prepare(g, scale);
    Typesetter text(g, impl_->fonts);
    Scene scene{g, text, impl_->logo, colors, frame.language};
    if (frame.screen == kScreenWorking) paintWorkingLive(scene, frame);
    paintButtons(scene, frame);
    impl_->liveOverflows = text.overflows();
}

}  // namespace render
