#pragma once
// The window's one module-level record. Window thread only: the worker reaches the window
// through posted messages and the run's WorkProgress, never through this.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "install/job.h"
#include "lang/language.h"
#include "render/frame.h"
#include "ui/announcer.h"
#include "ui/install_location.h"
#include "ui/speed_meter.h"
#include "ui/system_look.h"
#include "ui/work_progress.h"

namespace Gdiplus {
class Image;
}
namespace render {
class Canvas;
class Painter;
}  // namespace render

namespace ui {

class RunLog;
class TaskbarButton;

constexpr const wchar_t* kWindowClass = L"OrvaneSetupWnd";

struct WindowState {
    WindowState();
    ~WindowState();
    WindowState(const WindowState&) = delete;
    WindowState& operator=(const WindowState&) = delete;

    std::string manifestUrl;  // the build's default until --manifest= replaces it
    std::wstring setupProgram;  // this program, copied into the folder after a good run
    HWND window = nullptr;    // null in tests: nothing is drawn or asked
    float scale = 1.0f;
    uint32_t splashStart = 0;
    float displayedProgress = 0.0f;
    bool autoStart = false;
    bool removal = false;  // --uninstall: the work removes the installation in location
    lang::Language language = lang::Language::kEnglish;  // of everything the window says
    int32_t screen = render::kScreenSplash;
    int32_t hover = render::kButtonNone;
    int32_t focus = render::kButtonNone;  // the button Enter and Space press
    bool keyboardCues = false;  // the keyboard has been used: the focus ring shows
    bool active = true;         // the window is the active one: without, no focus ring
    bool accessKeyTaken = false;  // Alt with a letter pressed a button; its WM_SYSCHAR is ours
    SystemLook look;            // high contrast, reduced motion; read when the window starts
    std::vector<render::Button> buttons;
    InstallLocation location;
    // The manifest fetched while the splash shows, which the first run then takes; null in
    // a removal and in tests that start none. clientBytes: the size it gives, once it came.
    std::shared_ptr<pcupd::ManifestPrefetch> prefetch;
    std::optional<uint64_t> clientBytes;
    std::wstring error;  // the final error the failed screen shows
    int32_t spinnerStep = 0;
    SpeedMeter speed;
    // The current run's progress, shared with its worker thread, which may outlive the window
    // (a player who cancels ends the program while the worker still reports): whichever of
    // the two lets go last frees it. Null before the first run.
    std::shared_ptr<WorkProgress> work;
    // --log= with the window: every run's lines. Never freed, for the same reason.
    RunLog* log = nullptr;

    // Starts the worker for `job` on a thread of its own, reporting to `work`; may throw when
    // no thread can be made.
    // Tests replace it; empty means the real worker.
    std::function<void(const installer::Job& job, const std::shared_ptr<WorkProgress>& work)> launchWorker;
    // Asks whether to cancel the running work; tests replace it. Empty means a message box.
    std::function<bool()> confirmCancel;

    // Drawing: the logo, the painter with its back buffer, and the frame last drawn, so that
    // a tick that would draw the same pixels again can skip the repaint.
    Gdiplus::Image* logo = nullptr;  // owned; deleted by the program's end
    std::unique_ptr<render::Painter> painter;
    std::unique_ptr<render::Canvas> canvas;
    render::Frame drawn;
    float drawnScale = 0.0f;  // 0: nothing drawn yet

    // What screen readers and the taskbar were last told.
    Announcer announcer;
    std::unique_ptr<TaskbarButton> taskbar;
};

// The window's title in `language`, also the caption of the message boxes it shows.
std::wstring windowTitle(lang::Language language);

// The program's one window state.
WindowState& windowState();

}  // namespace ui
