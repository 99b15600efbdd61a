// Renders every screen at the three usual scales into PNGs under the build tree and checks
// what can be told from flat pixels (Wine's GDI+ does not smooth filled shapes).

#include "render/gdiplus_headers.h"
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "base/text.h"
#include "lang/texts.h"
#include "render/button_fit.h"
#include "render/layout.h"
#include "render/painter.h"
#include "render/palette.h"
#include "render/scene.h"
#include "render/screen_text.h"
#include "render/text_fit.h"
#include "resources/resource_ids.h"

namespace {

#define ORVANE_WIDEN2(text) L##text
#define ORVANE_WIDEN(text) ORVANE_WIDEN2(text)
const wchar_t* const kScreensDir = ORVANE_WIDEN(ORVANE_SCREENS_DIR);
const wchar_t* const kLogoFile = ORVANE_WIDEN(ORVANE_LOGO_PNG);

using lang::Language;
using lang::Text;
using render::Frame;

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
        CreateDirectoryW(kScreensDir, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};
const auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

constexpr float kScales[] = {1.0f, 1.25f, 1.5f};
constexpr uint32_t kRgb = 0xFFFFFF;

// The logo the program embeds, else the art build's file, else none (the painter's own mark).
std::unique_ptr<Gdiplus::Image> loadLogo() {
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_LOGO_PNG), RT_RCDATA);
    HGLOBAL data = info ? LoadResource(nullptr, info) : nullptr;
    if (data) {
        const DWORD size = SizeofResource(nullptr, info);
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
        void* target = copy ? GlobalLock(copy) : nullptr;
        if (target) {
            memcpy(target, LockResource(data), size);
            GlobalUnlock(copy);
            IStream* stream = nullptr;
            if (SUCCEEDED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
                std::unique_ptr<Gdiplus::Image> image(new Gdiplus::Image(stream));
                stream->Release();
                if (image->GetLastStatus() == Gdiplus::Ok) return image;
            }
        } else if (copy) {
            GlobalFree(copy);
        }
    }
    std::unique_ptr<Gdiplus::Image> image(new Gdiplus::Image(kLogoFile));
    return image->GetLastStatus() == Gdiplus::Ok ? std::move(image) : nullptr;
}

Gdiplus::Image* logo() {
    static std::unique_ptr<Gdiplus::Image> image = loadLogo();
    return image.get();
}

render::Button button(int32_t l, int32_t t, int32_t r, int32_t b, int32_t id, std::wstring label,
                      bool primary, bool enabled = true) {
    render::Button result;
    result.left = l, result.top = t, result.right = r, result.bottom = b;
    result.id = id;
    result.label = std::move(label);
    result.accessKey = result.label.empty() ? 0 : result.label[0];
    result.primary = primary;
    result.enabled = enabled;
    return result;
}

render::Button closeButton() { return button(716, 14, 746, 44, render::kButtonClose, L"", false); }
render::Button mainButton(int32_t id, std::wstring label, bool enabled = true) {
    return button(264, 392, 496, 442, id, std::move(label), true, enabled);
}

// The screens' frames in `language`, their buttons as the window lays them out before they
// are fitted to their labels.
Frame inLanguage(Language language, int32_t screen) {
    Frame f;
    f.language = language;
    f.screen = screen;
    return f;
}

std::wstring say(const Frame& f, Text key) { return lang::text(f.language, key); }

Frame chooseFrame(std::wstring location, bool exists, Language language = Language::kEnglish) {
    Frame f = inLanguage(language, render::kScreenChoose);
    f.location = std::move(location);
    f.installDir = f.location.empty() ? L"" : f.location + L"\\OrvaneOnline";
    f.installationExists = exists;
    f.buttons = {closeButton(),
                 button(600, 206, 716, 246, render::kButtonBrowse, say(f, Text::kButtonBrowse), false),
                 mainButton(render::kButtonStart, say(f, exists ? Text::kButtonRepair : Text::kButtonInstall),
                            !f.location.empty())};
    return f;
}

// The manifest has come: a client of `client` bytes for a drive D: with `free` bytes free.
// INSTALL is grey where the client does not fit, as the window lays it out.
Frame sized(Frame frame, uint64_t client, uint64_t free) {
    frame.clientBytes = client;
    frame.freeBytes = free;
    frame.volume = L"D:";
    if (!frame.installationExists && render::noteWarns(frame)) frame.buttons.back().enabled = false;
    return frame;
}
constexpr uint64_t kClientSize = 723ull << 20, kRoomyDrive = 44237ull << 20, kFullDrive = 512ull << 20;

Frame hovering(Frame frame, int32_t id) {
    frame.hover = id;
    return frame;
}

// The keyboard was used and `id` has the focus.
Frame focused(Frame frame, int32_t id) {
    frame.keyboardCues = true;
    frame.focus = id;
    return frame;
}

// SystemColors' defaults are the "High Contrast Black" theme; this is "High Contrast White".
render::SystemColors highContrastWhite() {
    render::SystemColors s;
    s.window = 0xFFFFFFFF, s.windowText = 0xFF000000;
    s.highlight = 0xFF37006E, s.highlightText = 0xFFFFFFFF;
    s.buttonFace = 0xFFFFFFFF, s.buttonText = 0xFF000000;
    s.grayText = 0xFF600000, s.hotlight = 0xFF00009F;
    return s;
}

Frame inHighContrast(Frame frame, const render::SystemColors& system = {}) {
    frame.highContrast = true;
    frame.system = system;
    return frame;
}

Frame workingFrame(float progress, bool busy, Language language = Language::kEnglish) {
    Frame f = inLanguage(language, render::kScreenWorking);
    f.buttons = {closeButton()};
    f.status = say(f, busy ? Text::kPhaseContacting : Text::kPhaseDownloading);
    f.detail = L"data\\textures\\environment\\highlands_terrain_diffuse_04.dds";
    f.progress = progress;
    f.busy = busy;
    f.spinnerStep = 7;
    f.bytesDone = busy ? 0 : 734003200;
    f.bytesTotal = busy ? 0 : 1610612736;
    f.bytesPerSecond = busy ? -1.0 : 12.4 * 1024 * 1024;
    f.secondsLeft = busy ? -1 : 71;
    return f;
}

Frame doneFrame(Language language = Language::kEnglish) {
    Frame f = inLanguage(language, render::kScreenDone);
    f.installDir = L"C:\\Users\\Player\\Games\\OrvaneOnline";
    f.buttons = {closeButton(), mainButton(render::kButtonPlay, say(f, Text::kButtonPlay))};
    return f;
}

Frame droppedFrame(Language language = Language::kEnglish) {
    Frame f = doneFrame(language);
    f.installationExists = true;
    f.doneNote = render::countText(language, 12, Text::kDroppedOne);
    return f;
}

Frame failedFrame(std::wstring error, Language language = Language::kEnglish) {
    Frame f = inLanguage(language, render::kScreenFailed);
    f.error = std::move(error);
    f.buttons = {closeButton(), mainButton(render::kButtonRetry, say(f, Text::kButtonTryAgain))};
    return f;
}

Frame removedFrame(int64_t kept, Language language = Language::kEnglish) {
    Frame f = doneFrame(language);
    f.removal = true;
    f.keptFiles = kept;
    f.buttons = {closeButton(), mainButton(render::kButtonFinish, say(f, Text::kButtonClose))};
    return f;
}

// The byte counters keep what an install would show, as stale state might: a removal hides them.
Frame removalWorkingFrame(Language language = Language::kEnglish) {
    Frame f = workingFrame(0.62f, false, language);
    f.removal = true;
    f.status = say(f, Text::kPhaseRemoving);
    f.detail = L"data\\sound\\music\\highlands_ambient_night_02.ogg";
    return f;
}

Frame removalFailedFrame(std::wstring error, Language language = Language::kEnglish) {
    Frame f = failedFrame(std::move(error), language);
    f.removal = true;
    f.buttons = {closeButton(), mainButton(render::kButtonFinish, say(f, Text::kButtonClose))};
    return f;
}

Frame removalFailedFrame() {
    return removalFailedFrame(
        L"Removal incomplete: 1 file could not be deleted: data\\maps\\forest.pak (in use by "
        L"another program)");
}

// About 400 characters with an unbroken path, as a disk failure deep in an install reads.
const std::wstring kLongError =
    L"Install failed: could not write C:\\Users\\Player\\AppData\\Local\\Games\\OrvaneOnline\\"
    L"client\\data\\textures\\environment\\highlands_terrain_diffuse_04.dds.part: there is "
    L"not enough space on the disk. Free some space on this drive or choose another location, "
    L"then press TRY AGAIN; files that were already verified are kept and will not be "
    L"downloaded again, so the next attempt continues where this one stopped.";

struct Rendered {
    std::unique_ptr<render::Canvas> canvas;
    float scale;
    std::vector<std::wstring> overflows = {};  // texts of ours that did not fit
    uint32_t at(float x, float y) const {  // a point in 96-dpi units
        return canvas->pixel(static_cast<int32_t>(x * scale), static_cast<int32_t>(y * scale));
    }
};

Rendered paint(const Frame& frame, float scale, Gdiplus::Image* image = logo()) {
    render::Painter painter(image);
    Rendered r{
        std::make_unique<render::Canvas>(static_cast<int32_t>(render::kWindowWidth * scale),
                                         static_cast<int32_t>(render::kWindowHeight * scale)),
        scale};
    EXPECT_TRUE(r.canvas->valid());
    painter.paint(frame, scale, *r.canvas);
    r.overflows = painter.overflows();
    return r;
}

// A readable list of what did not fit, for a failure's message.
std::string listed(const std::vector<std::wstring>& overflows) {
    std::string all;
    for (const std::wstring& text : overflows) all += "\n  " + base::toUtf8(text);
    return all;
}

// Device pixels of a box (96-dpi units) where two renders differ.
int differing(const Rendered& a, const Rendered& b, const render::layout::Box& box) {
    int count = 0;
    for (int y = static_cast<int>(box.top * a.scale); y < static_cast<int>(box.bottom * a.scale);
         ++y) {
        for (int x = static_cast<int>(box.left * a.scale);
             x < static_cast<int>(box.right * a.scale); ++x) {
            count += a.canvas->pixel(x, y) != b.canvas->pixel(x, y);
        }
    }
    return count;
}

using render::layout::Box;

Box grown(const render::Button& b, float by) {
    return {b.left - by, b.top - by, b.right + by, b.bottom + by};
}

bool inside(const Box& box, float x, float y) {
    return x >= box.left && x < box.right && y >= box.top && y < box.bottom;
}

// Where the painter draws pictures as they are: the logo image, on the screens that show it.
std::vector<Box> logoBoxes(const Frame& frame) {
    using namespace render::layout;
    if (frame.screen == render::kScreenSplash) return {kSplashLogo};
    if (frame.screen == render::kScreenWorking) return {kHeaderLogo, kWorkingLogo};
    return {kHeaderLogo};
}

// Whether `p` lies between `a` and `b`, as anti-aliasing mixes two colours.
bool isBlend(uint32_t p, uint32_t a, uint32_t b) {
    const auto channel = [](uint32_t c, int shift) {
        return static_cast<int>((c >> shift) & 0xFF);
    };
    int widest = 0, span = 0;
    for (int shift : {0, 8, 16}) {
        const int d = channel(b, shift) - channel(a, shift);
        if (std::abs(d) > std::abs(span)) span = d, widest = shift;
    }
    if (span == 0) return false;
    const float t = static_cast<float>(channel(p, widest) - channel(a, widest)) / span;
    if (t < 0.0f || t > 1.0f) return false;
    for (int shift : {0, 8, 16}) {
        const float mixed = channel(a, shift) + t * (channel(b, shift) - channel(a, shift));
        if (std::abs(mixed - channel(p, shift)) > 3.0f) return false;
    }
    return true;
}

// Checks a high-contrast render outside its logo pictures: every pixel is a theme colour or
// an edge's blend of two, blends stay a thin share (a gradient or a tint would be all blends;
// the longest error text makes about 4 %), and backdrop, panels and the enabled primary
// button are the exact colours.
void expectThemeColoursOnly(const Rendered& r, const Frame& frame, Gdiplus::Image* image) {
    const render::SystemColors& s = frame.system;
    const uint32_t colours[] = {s.window,     s.windowText, s.highlight, s.highlightText,
                                s.buttonFace, s.buttonText, s.grayText,  s.hotlight};
    const std::vector<Box> pictures = image ? logoBoxes(frame) : std::vector<Box>();
    int counted = 0, blends = 0, foreign = 0;
    for (int y = 0; y < r.canvas->height(); ++y) {
        for (int x = 0; x < r.canvas->width(); ++x) {
            const float ux = x / r.scale, uy = y / r.scale;
            if (std::any_of(pictures.begin(), pictures.end(),
                            [&](const Box& box) { return inside(box, ux, uy); })) {
                continue;
            }
            ++counted;
            const uint32_t p = r.canvas->pixel(x, y);
            if (std::any_of(std::begin(colours), std::end(colours),
                            [p](uint32_t c) { return (c & kRgb) == p; })) {
                continue;
            }
            ++blends;
            bool blend = false;
            for (uint32_t a : colours) {
                for (uint32_t b : colours) blend = blend || isBlend(p, a & kRgb, b & kRgb);
            }
            foreign += !blend;
        }
    }
    EXPECT_LT(blends, counted / 12);
    EXPECT_LT(foreign, counted / 2000);

    const uint32_t window = s.window & kRgb;
    for (const auto& [x, y] : {std::pair{6.0f, 60.0f}, {754.0f, 60.0f}, {6.0f, 494.0f},
                               {754.0f, 494.0f}, {380.0f, 6.0f}}) {
        EXPECT_EQ(r.at(x, y), window) << x << "," << y;
    }
    const std::pair<float, float> panelInside[] = {
        {0, 0}, {400.0f, 165.0f}, {640.0f, 245.0f}, {610.0f, 296.0f}, {400.0f, 210.0f}};
    if (frame.screen != render::kScreenSplash) {
        const auto [x, y] = panelInside[frame.screen];
        EXPECT_EQ(r.at(x, y), window) << "inside the panel at " << x << "," << y;
    }
    for (const render::Button& b : frame.buttons) {
        if (!b.primary || !b.enabled) continue;
        EXPECT_EQ(r.at(b.left + 16.0f, (b.top + b.bottom) / 2.0f), s.highlight & kRgb);
        EXPECT_EQ(r.at(b.right - 16.0f, b.top + 8.0f), s.highlight & kRgb);
    }
}

std::wstring pngPath(const wchar_t* name, float scale) {
    return std::wstring(kScreensDir) + L"/" + name + L"@" +
           std::to_wstring(static_cast<int>(scale * 96.0f + 0.5f)) + L".png";
}

TEST(Painter, RendersEveryScreenWithAccentPrimaryButton) {
    struct Case {
        const wchar_t* name;
        Frame frame;
        Gdiplus::Image* image;
    };
    const Case cases[] = {
        {L"splash", Frame(), logo()},
        {L"splash-mark", Frame(), nullptr},
        {L"choose-empty", chooseFrame(L"", false), logo()},
        {L"choose", chooseFrame(L"D:\\Games", false), logo()},
        {L"choose-hover-start", hovering(chooseFrame(L"D:\\Games", false), render::kButtonStart),
         logo()},
        {L"choose-hover-browse", hovering(chooseFrame(L"D:\\Games", false), render::kButtonBrowse),
         logo()},
        {L"choose-repair",
         chooseFrame(L"C:\\Users\\Player\\Documents\\My Games\\Online Worlds\\Fantasy Titles\\"
                     L"Northern Realms Collection\\Library",
                     true),
         logo()},
        {L"choose-room", sized(chooseFrame(L"D:\\Games", false), kClientSize, kRoomyDrive), logo()},
        {L"choose-short", sized(chooseFrame(L"D:\\Games", false), kClientSize, kFullDrive), logo()},
        {L"choose-repair-short", sized(chooseFrame(L"D:\\Games", true), kClientSize, kFullDrive), logo()},
        {L"working", workingFrame(0.46f, false), logo()},
        {L"working-busy", workingFrame(0.0f, true), nullptr},
        {L"working-hover-close", hovering(workingFrame(0.003f, false), render::kButtonClose),
         logo()},
        {L"done", doneFrame(), logo()},
        {L"done-dropped", droppedFrame(), logo()},
        {L"failed", failedFrame(L"Could not read the update manifest: WinHttpSendRequest failed"),
         logo()},
        {L"failed-long", failedFrame(kLongError), logo()},
        {L"failed-longer", failedFrame(kLongError + L"\r\n" + kLongError), logo()},
        {L"removal-working", removalWorkingFrame(), logo()},
        {L"removed", removedFrame(0), logo()},
        {L"removed-kept", removedFrame(3), logo()},
        {L"removal-failed", removalFailedFrame(), logo()},
    };
    for (float scale : kScales) {
        for (const Case& c : cases) {
            SCOPED_TRACE(base::toUtf8(pngPath(c.name, scale)));
            const Frame highContrast = inHighContrast(c.frame);
            const Rendered flat = paint(highContrast, scale, c.image);
            const std::wstring hcName = L"hc-" + std::wstring(c.name);
            EXPECT_TRUE(flat.canvas->savePng(pngPath(hcName.c_str(), scale)));
            expectThemeColoursOnly(flat, highContrast, c.image);
            EXPECT_TRUE(flat.overflows.empty()) << listed(flat.overflows);

            const Rendered r = paint(c.frame, scale, c.image);
            EXPECT_TRUE(r.canvas->savePng(pngPath(c.name, scale)));
            EXPECT_TRUE(r.overflows.empty()) << listed(r.overflows);
            for (const render::Button& b : c.frame.buttons) {
                if (!b.primary || !b.enabled) continue;
                // Inside, clear of the rounded corners and of the centred label.
                const uint32_t accent = (c.frame.hover == b.id ? render::palette::kAccentHover
                                                               : render::palette::kAccent) &
                                        kRgb;
                EXPECT_EQ(r.at(b.left + 16.0f, (b.top + b.bottom) / 2.0f), accent);
                EXPECT_EQ(r.at(b.right - 16.0f, b.top + 8.0f), accent);
            }
        }
    }
    // The colours are the theme's own: a white theme paints white.
    const Frame white = inHighContrast(chooseFrame(L"D:\\Games", true), highContrastWhite());
    const Rendered r = paint(white, 1.0f);
    EXPECT_TRUE(r.canvas->savePng(pngPath(L"hc-white-choose", 1.0f)));
    expectThemeColoursOnly(r, white, logo());
}

// Every screen in every other language, into a folder of its own (de/choose@144.png): our
// texts all fit, smaller or on more lines where they must, whatever their length.
TEST(Painter, EveryLanguageFitsEveryScreen) {
    render::Painter painter(logo());
    for (Language language : lang::allLanguages()) {
        if (language == Language::kEnglish) continue;  // the test above renders English
        const std::wstring folder = std::wstring(kScreensDir) + L"/" + lang::tagOf(language);
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring failure = lang::text(language, Text::kFailManifest) + L" " +
                                     lang::text(language, Text::kCauseConnection);
        const std::pair<const wchar_t*, Frame> screens[] = {
            {L"splash", inLanguage(language, render::kScreenSplash)},
            {L"choose-empty", chooseFrame(L"", false, language)},
            {L"choose", chooseFrame(L"D:\\Games", false, language)},
            {L"choose-repair", chooseFrame(L"C:\\Users\\Player\\Documents\\My Games\\Northern Realms", true, language)},
            {L"choose-room", sized(chooseFrame(L"D:\\Games", false, language), kClientSize, kRoomyDrive)},
            {L"choose-short", sized(chooseFrame(L"D:\\Games", false, language), kClientSize, kFullDrive)},
            {L"choose-repair-short", sized(chooseFrame(L"D:\\Games", true, language), kClientSize, kFullDrive)},
            {L"working", workingFrame(0.46f, false, language)},
            {L"working-busy", workingFrame(0.0f, true, language)},
            {L"removal-working", removalWorkingFrame(language)},
            {L"done", doneFrame(language)},
            {L"done-dropped", droppedFrame(language)},
            {L"removed", removedFrame(0, language)},
            {L"removed-kept", removedFrame(3, language)},
            {L"failed", failedFrame(failure, language)},
            {L"removal-failed",
             removalFailedFrame(render::countText(language, 1, Text::kFailRemovalIncompleteOne), language)},
        };
        for (float scale : kScales) {
            render::Canvas canvas(static_cast<int32_t>(render::kWindowWidth * scale),
                                  static_cast<int32_t>(render::kWindowHeight * scale));
            for (const auto& [name, frame] : screens) {
                const std::wstring path = folder + L"/" + name + L"@" +
                                          std::to_wstring(static_cast<int>(scale * 96.0f + 0.5f)) + L".png";
                SCOPED_TRACE(base::toUtf8(path));
                painter.paint(frame, scale, canvas);
                EXPECT_TRUE(painter.overflows().empty()) << listed(painter.overflows());
                EXPECT_TRUE(canvas.savePng(path));
            }
        }
    }
}

// Where keyboard cues changed a render: in the thin band around `ring` (a button's edge), under
// a labelled button's text where its access key is underlined, and anywhere else.
struct CueChanges {
    int band = 0, underlines = 0, elsewhere = 0;
};

CueChanges cueChanges(const Rendered& a, const Rendered& b, const Frame& frame,
                      const render::Button* ring) {
    CueChanges changes;
    for (int y = 0; y < a.canvas->height(); ++y) {
        for (int x = 0; x < a.canvas->width(); ++x) {
            if (a.canvas->pixel(x, y) == b.canvas->pixel(x, y)) continue;
            const float ux = (x + 0.5f) / a.scale, uy = (y + 0.5f) / a.scale;
            // The band reaches two units into the button, where its rounded corners leave
            // the ring's corners room.
            if (ring && inside(grown(*ring, 7.0f), ux, uy) &&
                !inside(grown(*ring, -2.0f), ux, uy)) {
                ++changes.band;
                continue;
            }
            const auto under = [&](const render::Button& button) {
                const Box lower{static_cast<float>(button.left),
                                (button.top + button.bottom) / 2.0f + 2.0f,
                                static_cast<float>(button.right),
                                static_cast<float>(button.bottom)};
                return button.accessKey != 0 && inside(lower, ux, uy);
            };
            ++(std::any_of(frame.buttons.begin(), frame.buttons.end(), under) ? changes.underlines
                                                                               : changes.elsewhere);
        }
    }
    return changes;
}

TEST(Painter, KeyboardCuesRingTheFocusedButtonAndUnderlineAccessKeys) {
    for (const bool highContrast : {false, true}) {
        const uint32_t ringColour = highContrast ? render::SystemColors().windowText & kRgb
                                                 : render::palette::kText & kRgb;
        for (float scale : kScales) {
            SCOPED_TRACE(highContrast ? "high contrast" : "standard");
            Frame plain = chooseFrame(L"D:\\Games", false);
            if (highContrast) plain = inHighContrast(plain);
            plain.focus = render::kButtonStart;  // without cues the focus shows nothing
            const Rendered base = paint(plain, scale);

            for (int32_t id : {render::kButtonStart, render::kButtonClose}) {
                const Frame cued = focused(plain, id);
                const Rendered r = paint(cued, scale);
                if (id == render::kButtonStart) {
                    const wchar_t* name = highContrast ? L"hc-focus-start" : L"focus-start";
                    EXPECT_TRUE(r.canvas->savePng(pngPath(name, scale)));
                }
                const render::Button& b =
                    *std::find_if(cued.buttons.begin(), cued.buttons.end(),
                                  [id](const render::Button& x) { return x.id == id; });
                const CueChanges changes = cueChanges(base, r, cued, &b);
                // Most of the ring's length, at least a device pixel wide.
                EXPECT_GT(changes.band, (b.right - b.left + b.bottom - b.top) * 2 * scale);
                EXPECT_GT(changes.underlines, 0);
                EXPECT_EQ(changes.elsewhere, 0);
                // In the ring's middle, four units out, its colour; between it and the
                // button's edge, what was there.
                const float x = (b.left + b.right) / 2.0f, y = (b.top + b.bottom) / 2.0f;
                EXPECT_EQ(r.at(b.left - 4.0f, y), ringColour);
                EXPECT_EQ(r.at(x, b.top - 4.0f), ringColour);
                EXPECT_EQ(r.at(b.left - 1.5f, y), base.at(b.left - 1.5f, y));
                EXPECT_EQ(r.at(x, b.top - 1.5f), base.at(x, b.top - 1.5f));
            }

            // Cues without a focused button: the underlines alone.
            const Frame none = focused(plain, render::kButtonNone);
            const CueChanges changes = cueChanges(base, paint(none, scale), none, nullptr);
            EXPECT_GT(changes.underlines, 0);
            EXPECT_EQ(changes.elsewhere, 0);
        }
    }
    // The key's first occurrence in either case, and that letter only: REPAIR's first R
    // (left of centre), the lower-case e of "Browse..." (right of it).
    Frame keys = chooseFrame(L"D:\\Games", true);
    keys.buttons[1].accessKey = L'E';
    for (float scale : kScales) {
        const Rendered plain = paint(keys, scale),
                       cued = paint(focused(keys, render::kButtonNone), scale);
        EXPECT_GT(differing(plain, cued, {264, 419, 365, 442}), 0);
        EXPECT_EQ(differing(plain, cued, {365, 419, 496, 442}), 0);
        EXPECT_GT(differing(plain, cued, {662, 228, 716, 246}), 0);
        EXPECT_EQ(differing(plain, cued, {600, 228, 662, 246}), 0);
    }
}

TEST(Painter, LongerTextsWidenTheButtonsAndGrowThePanel) {
    render::Painter painter(logo());
    const Frame english = chooseFrame(L"D:\\Games", true);
    const Frame pseudo = chooseFrame(L"D:\\Games", true, Language::kPseudo);
    // English keeps the buttons it always had; fitted buttons fit again as they are.
    EXPECT_EQ(painter.fitButtons(english.buttons), english.buttons);
    const std::vector<render::Button> fitted = painter.fitButtons(pseudo.buttons);
    EXPECT_EQ(painter.fitButtons(fitted), fitted);
    const render::Button& browse = fitted[1];
    EXPECT_EQ(browse.right, 716);
    EXPECT_LT(browse.left, 600);
    EXPECT_EQ(render::locationFieldBox(fitted).right, browse.left - render::kFieldGap);

    for (float scale : kScales) {
        const Rendered en = paint(english, scale), ps = paint(pseudo, scale);
        EXPECT_TRUE(ps.overflows.empty()) << listed(ps.overflows);
        // The field ends short of the wider Browse, where the English field still runs.
        const float gap = browse.left - render::kFieldGap / 2.0f, y = render::layout::kLocationField.centreY();
        EXPECT_NE(ps.at(gap, y), en.at(gap, y));
        // The steps take a third line and the panel reaches lower.
        EXPECT_GT(differing(ps, en, {400, 376, 700, 380}), 300 * scale);
    }

    // The pseudo-language's labels are short; German's TRY AGAIN is the longest.
    const Frame german = failedFrame(L"", Language::kGerman);
    const render::Button retry = painter.fitButtons(german.buttons)[1];
    EXPECT_GT(retry.right - retry.left, 232);
    EXPECT_EQ(retry.left + retry.right, render::kWindowWidth);  // still centred
    for (float scale : kScales) {
        const Rendered r = paint(german, scale);
        EXPECT_TRUE(r.overflows.empty()) << listed(r.overflows);
        // The accent fill reaches the wider button's ends.
        EXPECT_EQ(r.at(retry.left + 6.0f, (retry.top + retry.bottom) / 2.0f), render::palette::kAccent & kRgb);
        EXPECT_EQ(r.at(retry.right - 6.0f, (retry.top + retry.bottom) / 2.0f), render::palette::kAccent & kRgb);
    }
}

TEST(Painter, TextFitShrinksALittleThenWrapsThenNotesWhatDoesNotFit) {
    render::Canvas canvas(10, 10);
    Gdiplus::Graphics g(canvas.dc());
    render::Fonts fonts;
    render::Typesetter text(g, fonts);
    const std::wstring note = lang::text(Language::kEnglish, Text::kFolderNote);
    const render::TextStyle style{12.5f, render::Weight::kRegular, 0};
    const float width = text.width(note, style);

    render::FittedLines fitted = render::fitLines(text, note, style, width * 0.97f, 10.5f, 2);
    EXPECT_EQ(fitted.lines.size(), 1u);
    EXPECT_LT(fitted.style.size, 12.5f);
    // Rather than much smaller, two lines at its own size, broken between words.
    fitted = render::fitLines(text, note, style, width * 0.75f, 10.5f, 2);
    ASSERT_EQ(fitted.lines.size(), 2u);
    EXPECT_EQ(fitted.style.size, 12.5f);
    EXPECT_EQ(fitted.lines[0] + L" " + fitted.lines[1], note);
    // Held to one line: smaller, down to the floor.
    fitted = render::fitLines(text, note, style, width * 0.9f, 10.5f, 1);
    EXPECT_EQ(fitted.lines.size(), 1u);
    EXPECT_GE(fitted.style.size, 10.5f);
    EXPECT_TRUE(text.overflows().empty());

    // Past the floor, or only by breaking a word: noted, never cut.
    fitted = render::fitLines(text, note, style, width * 0.7f, 10.5f, 1);
    EXPECT_EQ(fitted.lines.size(), 2u);
    render::fitLines(text, L"Verbindungsaufbau", style, text.width(L"Verbindung", style), 10.5f, 3);
    EXPECT_EQ(render::fitLine(text, note, style, width * 0.7f, 10.5f).size, 10.5f);
    EXPECT_EQ(text.overflows(), std::vector<std::wstring>({note, L"Verbindungsaufbau", note}));
}

TEST(Painter, ANoteOnTwoLinesMovesTheStepsAndThePanelDown) {
    render::Canvas canvas(10, 10);
    Gdiplus::Graphics g(canvas.dc());
    render::Fonts fonts;
    render::Typesetter text(g, fonts);
    Frame frame = chooseFrame(L"D:\\Games", false);
    const render::ChooseTexts usual{render::folderNoteText(frame), L"", render::stepTexts(frame)};
    // A note just too long for a line a little smaller: two lines at its own size, and
    // still one at the readable floor.
    render::ChooseTexts longer = usual;
    const float room = render::layout::kContentRight - render::layout::kContentLeft;
    while (text.width(longer.folderNote, {11.5f, render::Weight::kRegular, 0}) <= room) longer.folderNote += L" more";
    ASSERT_LE(text.width(longer.folderNote, {10.5f, render::Weight::kRegular, 0}), room);
    const float buttonsTop = 392.0f;
    const render::ChooseFlow a = render::chooseFlow(text, usual, buttonsTop);
    const render::ChooseFlow b = render::chooseFlow(text, longer, buttonsTop);
    ASSERT_EQ(a.folderNote.lines.size(), 1u);
    ASSERT_EQ(b.folderNote.lines.size(), 2u);
    EXPECT_EQ(b.folderNote.style.size, 12.5f);
    EXPECT_EQ(b.rule - a.rule, render::kNoteLineHeight);
    EXPECT_EQ(b.stepsTop - a.stepsTop, render::kNoteLineHeight);
    EXPECT_EQ(b.panel.bottom - a.panel.bottom, render::kNoteLineHeight);

    // No room for the second line above the button: the note keeps to one line, smaller, and
    // the panel keeps clear of the button.
    const render::ChooseFlow tight = render::chooseFlow(text, longer, a.panel.bottom + 12.0f);
    EXPECT_EQ(tight.folderNote.lines.size(), 1u);
    EXPECT_LT(tight.folderNote.style.size, 12.5f);
    EXPECT_EQ(tight.panel.bottom, a.panel.bottom);
    EXPECT_TRUE(text.overflows().empty()) << listed(text.overflows());
}

TEST(Painter, HoverAndDisabledChangeTheButton) {
    for (float scale : kScales) {
        Frame plain = chooseFrame(L"D:\\Games", false);
        Frame hovered = plain;
        hovered.hover = render::kButtonStart;
        Frame disabled = chooseFrame(L"", false);
        disabled.hover = render::kButtonStart;  // a disabled button ignores the mouse
        const Rendered a = paint(plain, scale), b = paint(hovered, scale),
                       c = paint(disabled, scale);
        const float x = 280.0f, y = 417.0f;
        EXPECT_NE(a.at(x, y), b.at(x, y));
        EXPECT_NE(a.at(x, y), c.at(x, y));
        EXPECT_NE(c.at(x, y), render::palette::kAccent & kRgb);
        EXPECT_NE(c.at(x, y), render::palette::kAccentHover & kRgb);

        Frame closeHovered = plain;
        closeHovered.hover = render::kButtonClose;
        EXPECT_GT(differing(a, paint(closeHovered, scale), {716, 14, 746, 44}), 0);
    }
}

// A drive too small for the client: the note says so in the error colour, at every scale.
TEST(Painter, TheFolderNoteWarnsInTheErrorColour) {
    const auto reddish = [](const Rendered& r) {  // pixels of the note's line leaning to red
        int count = 0;
        for (int32_t y = static_cast<int32_t>(258 * r.scale); y < static_cast<int32_t>(276 * r.scale); ++y)
            for (int32_t x = static_cast<int32_t>(44 * r.scale); x < static_cast<int32_t>(716 * r.scale); ++x) {
                const uint32_t p = r.canvas->pixel(x, y);
                const int red = (p >> 16) & 0xFF, green = (p >> 8) & 0xFF, blue = p & 0xFF;
                count += red > green + 80 && red > blue + 40;
            }
        return count;
    };
    for (float scale : kScales) {
        EXPECT_EQ(reddish(paint(sized(chooseFrame(L"D:\\Games", false), kClientSize, kRoomyDrive), scale)), 0);
        EXPECT_GT(reddish(paint(sized(chooseFrame(L"D:\\Games", false), kClientSize, kFullDrive), scale)), 100);
    }
}

TEST(Painter, WorkingScreenShowsStatusBarAndBytes) {
    const render::layout::Box& bar = render::layout::kProgressBar;
    const float status = render::layout::kStatusBaseline, bytes = render::layout::kBytesBaseline;
    const render::layout::Box statusLine{bar.left, status - 22, 560, status + 4};
    const render::layout::Box spinner{bar.left, status - 22, bar.left + 26, status + 4};
    const render::layout::Box bytesLine{bar.left, bytes - 16, bar.right, bytes + 6};
    for (float scale : kScales) {
        const Frame frame = workingFrame(0.5f, false);
        Frame silent = frame;
        silent.status.clear();
        const Rendered r = paint(frame, scale);
        EXPECT_GT(differing(r, paint(silent, scale), statusLine), 40);

        const float y = bar.centreY();
        EXPECT_NE(r.at(bar.left + 100.0f, y), render::palette::kTrack & kRgb);
        EXPECT_EQ(r.at(bar.right - 100.0f, y), render::palette::kTrack & kRgb);

        Frame noBytes = frame;
        noBytes.bytesDone = 0, noBytes.bytesTotal = 0, noBytes.bytesPerSecond = -1,
        noBytes.secondsLeft = -1;
        EXPECT_GT(differing(r, paint(noBytes, scale), bytesLine), 40);

        // Busy: the spinner turns, and no byte numbers show whatever the counters hold.
        Frame busy = frame;
        busy.busy = true;
        Frame busyLater = busy;
        busyLater.spinnerStep += render::kSpinnerSteps / 4;
        noBytes.busy = true;
        const Rendered b = paint(busy, scale);
        EXPECT_GT(differing(b, paint(busyLater, scale), spinner), 10);
        EXPECT_EQ(differing(b, paint(noBytes, scale), bytesLine), 0);
    }
}

TEST(Painter, RemovalHidesBytesAndShowsKeptFolderOnlyWhenFilesWereKept) {
    const float bytes = render::layout::kBytesBaseline;
    const render::layout::Box bytesLine{render::layout::kProgressBar.left, bytes - 16,
                                        render::layout::kProgressBar.right, bytes + 6};
    const render::layout::Box& box = render::layout::kInstalledIn;
    // Inside the box's fill, above its text and clear of its rounded corners.
    const float fieldX = box.centreX(), fieldY = box.top + 5.0f;
    for (float scale : kScales) {
        Frame removing = removalWorkingFrame();
        Frame installing = removing;
        installing.removal = false;
        Frame quiet = installing;  // busy: the install screen without its bytes line
        quiet.busy = true;
        const Rendered r = paint(removing, scale);
        EXPECT_GT(differing(r, paint(installing, scale), bytesLine), 40);
        EXPECT_EQ(differing(r, paint(quiet, scale), bytesLine), 0);

        const uint32_t field = paint(doneFrame(), scale).at(fieldX, fieldY);
        EXPECT_EQ(paint(removedFrame(3), scale).at(fieldX, fieldY), field);
        EXPECT_EQ(paint(removedFrame(1), scale).at(fieldX, fieldY), field);
        EXPECT_NE(paint(removedFrame(0), scale).at(fieldX, fieldY), field);

        // The note on dropped files sits under the folder box, and only there.
        Frame repaired = doneFrame();
        repaired.installationExists = true;
        const render::layout::Box& box = render::layout::kInstalledIn;
        const float note = render::layout::kDoneNoteBaseline;
        const Rendered dropped = paint(droppedFrame(), scale), plain = paint(repaired, scale);
        EXPECT_GT(differing(dropped, plain, {box.left, box.bottom, box.right, note + 6.0f}), 40);
        EXPECT_EQ(differing(dropped, plain, {0, 0, 760, box.bottom}), 0);
        EXPECT_EQ(differing(dropped, plain, {0, note + 8.0f, 760, 500}), 0);
    }
}

TEST(Painter, LongErrorStaysInsideItsPanel) {
    const render::layout::Box& panel = render::layout::kErrorPanel;
    for (float scale : kScales) {
        const Rendered shortError = paint(failedFrame(L"Install failed: disk full"), scale);
        const Rendered longError = paint(failedFrame(kLongError + L" " + kLongError), scale);
        // Outside the panel (and its one-unit edge) both renders are alike, pixel for pixel.
        int outside = 0;
        for (int y = 0; y < longError.canvas->height(); ++y) {
            for (int x = 0; x < longError.canvas->width(); ++x) {
                const float ux = x / scale, uy = y / scale;
                if (ux >= panel.left - 1 && ux < panel.right + 1 && uy >= panel.top - 1 &&
                    uy < panel.bottom + 1) {
                    continue;
                }
                outside += longError.canvas->pixel(x, y) != shortError.canvas->pixel(x, y);
            }
        }
        EXPECT_EQ(outside, 0);
        // The text reaches the panel's last lines.
        const render::layout::Box lowest{panel.left + 18, panel.bottom - 50, panel.right - 18,
                                         panel.bottom - 18};
        EXPECT_GT(differing(longError, shortError, lowest), 40);
    }
}

TEST(Painter, ErrorFitShowsAllTextBeforeShrinkingBelowReadable) {
    render::Canvas canvas(10, 10);
    Gdiplus::Graphics g(canvas.dc());
    render::Fonts fonts;
    render::Typesetter text(g, fonts);
    for (const std::wstring& error : {kLongError, kLongError + L" " + kLongError}) {
        const render::FittedText fitted = render::fitErrorText(text, error);
        size_t at = 0;  // the lines are the text itself, cut at dropped spaces or in words
        for (const std::wstring& line : fitted.lines) {
            ASSERT_EQ(error.compare(at, line.size(), line), 0);
            at += line.size();
            if (at < error.size() && error[at] == L' ') ++at;
        }
        EXPECT_EQ(at, error.size());
        EXPECT_GE(fitted.size, 9.0f);
    }
}

TEST(Painter, CachedLayerFollowsWhatTheScreenShows) {
    // One painter through a sequence of frames must match fresh painters frame by frame.
    Frame failedRemoval = failedFrame(L"second error");
    failedRemoval.removal = true;
    const Frame frames[] = {chooseFrame(L"D:\\Games", false), chooseFrame(L"E:\\Other", true),
                            workingFrame(0.2f, false),        workingFrame(0.7f, false),
                            removalWorkingFrame(),            failedFrame(L"first error"),
                            failedFrame(L"second error"),     failedRemoval,
                            doneFrame(),                      removedFrame(0),
                            removedFrame(3),                  removedFrame(1),
                            doneFrame(),                      droppedFrame(),
                            doneFrame(),
                            // A theme switched on, changed and switched off again.
                            inHighContrast(doneFrame()),
                            inHighContrast(doneFrame(), highContrastWhite()),
                            inHighContrast(workingFrame(0.7f, false), highContrastWhite()),
                            workingFrame(0.7f, false)};
    const float scale = 1.25f;
    render::Painter painter(logo());
    for (const Frame& frame : frames) {
        Rendered reused{std::make_unique<render::Canvas>(950, 625), scale};
        painter.paint(frame, scale, *reused.canvas);
        EXPECT_EQ(differing(reused, paint(frame, scale), {0, 0, 760, 500}), 0);
    }
}

}  // namespace
