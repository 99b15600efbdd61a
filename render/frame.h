#pragma once
// What one frame of the setup window shows: a plain copy of the window state and of the
// shared install state, taken on the window thread (the install-state part under its lock).
// The painter draws from this alone, so tests can render any screen without a window.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lang/language.h"

namespace render {

enum Screen : int32_t {
    kScreenSplash = 0,
    kScreenChoose = 1,  // choose the install location
    kScreenWorking = 2,
    kScreenDone = 3,
    kScreenFailed = 4,
};

enum ButtonId : int32_t {
    kButtonNone = 0,
    kButtonBrowse = 1,
    kButtonStart = 2,
    kButtonPlay = 3,
    kButtonClose = 4,
    kButtonRetry = 5,
    kButtonFinish = 6,  // CLOSE at the end of a removal
};

// The window's logical size in 96-dpi units.
constexpr int32_t kWindowWidth = 760;
constexpr int32_t kWindowHeight = 500;

// One button, in 96-dpi units of the 760 x 500 window; right and bottom are exclusive.
struct Button {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t id = kButtonNone;
    std::wstring label;
    bool primary = false;  // the large accent button
    bool enabled = true;   // a disabled button is drawn but never hit
    // The label's letter that presses the button from the keyboard (upper case); 0: none.
    // Underlined while the window shows keyboard cues.
    wchar_t accessKey = 0;
};

// The colours a high-contrast theme sets (GetSysColor), as 0xFFRRGGBB.
struct SystemColors {
    uint32_t window = 0xFF000000, windowText = 0xFFFFFFFF;
    uint32_t highlight = 0xFF1AEBFF, highlightText = 0xFF000000;
    uint32_t buttonFace = 0xFF000000, buttonText = 0xFFFFFFFF;
    uint32_t grayText = 0xFF3FF23F;
    uint32_t hotlight = 0xFFFFFF00;  // links and hot items: the hovered button's edge
};
bool operator==(const SystemColors& a, const SystemColors& b);

struct Frame {
    int32_t screen = kScreenSplash;
    lang::Language language = lang::Language::kEnglish;  // of every text the screen shows
    std::vector<Button> buttons;
    int32_t hover = kButtonNone;  // id of the button under the mouse
    int32_t focus = kButtonNone;  // id of the button with the keyboard focus
    // The keyboard has been used (or the system always shows cues): the focused button wears
    // its ring and access keys are underlined.
    bool keyboardCues = false;
    // A high-contrast theme is on: everything is painted flat in `system`'s colours.
    bool highContrast = false;
    SystemColors system;

    // Choose location.
    std::wstring location;          // the chosen location; empty: none yet
    std::wstring installDir;        // location + "\OrvaneOnline"
    bool installationExists = false;  // Engine.exe is already there: the job is a repair
    // Room for the client, each once known: its size on disk, from the manifest; the free
    // space of the volume that would hold installDir, and that volume's name ("D:").
    std::optional<uint64_t> clientBytes, freeBytes;
    std::wstring volume;

    // Working.
    std::wstring status, detail;
    float progress = 0.0f;        // the eased fraction the bar shows, 0..1
    bool busy = false;            // no byte-counted progress yet: the spinner, no numbers
    int32_t spinnerStep = 0;      // 0 .. kSpinnerSteps - 1
    uint64_t bytesDone = 0;
    int64_t bytesTotal = 0;       // 0: unknown
    double bytesPerSecond = -1.0;  // negative: not measured yet
    int32_t secondsLeft = -1;      // negative: not known yet

    // Failed.
    std::wstring error;  // the whole final error text

    // The job is removing the installation in installDir (--uninstall), not installing:
    // the working, done and failed screens say so, and the working screen counts no bytes.
    bool removal = false;
    int64_t keptFiles = 0;  // done after a removal: files the game or the player made, left
    // Done after an install or repair: one more line under the folder, e.g. how many files
    // an earlier release had and this one dropped were removed; empty: none.
    std::wstring doneNote;
};

// Steps of one spinner turn; the window advances one step per timer tick while busy.
constexpr int32_t kSpinnerSteps = 48;

bool operator==(const Button& a, const Button& b);
bool operator==(const Frame& a, const Frame& b);

// Whether drawing `next` at `nextScale` could give other pixels than the frame last drawn.
// The window skips a repaint when it would not, so idle screens cost next to nothing.
bool frameChanged(const Frame& last, float lastScale, const Frame& next, float nextScale);

}  // namespace render
