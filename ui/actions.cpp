#include "ui/actions.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cmath>
#include <new>
#include <system_error>
#include <thread>

#include "base/long_path.h"
#include "install/obsolete_files.h"
#include "lang/texts.h"
#include "render/painter.h"
#include "render/screen_text.h"
#include "ui/animation.h"
#include "ui/buttons.h"
#include "ui/failure_text.h"
#include "ui/jobs.h"
#include "ui/keyboard.h"
#include "ui/phase_text.h"
#include "ui/silent.h"
#include "ui/window_proc.h"

namespace ui {

namespace {

// The platform's folder picker; false when the player cancels or any step fails.
bool pickFolder(HWND owner, lang::Language language, std::wstring& folder) {
    Microsoft::WRL::ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&dialog))))
        return false;
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog->GetOptions(&options)) ||
        FAILED(dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST)))
        return false;
    dialog->SetTitle(lang::text(language, lang::Text::kPickerTitle).c_str());
    if (FAILED(dialog->Show(owner))) return false;  // cancelled, too
    Microsoft::WRL::ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(&item))) return false;
    PWSTR path = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return false;
    folder = path;
    CoTaskMemFree(path);
    return true;
}

void browse(WindowState& state) {
    std::wstring folder;
    if (!pickFolder(state.window, state.language, folder)) return;
    chooseLocation(state, folder);
    layOut(state);
    repaint(state);
}

void start(WindowState& state) {
    if (state.location.chosen.empty()) return;
    // A location typed on the command line need not exist yet: make the whole path.
    base::createParentDirectories(state.location.installDir);
    CreateDirectoryW(state.location.installDir.c_str(), nullptr);
    if (GetFileAttributesW(state.location.installDir.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (state.window)
            MessageBoxW(state.window, lang::text(state.language, lang::Text::kCannotCreateFolder).c_str(),
                        windowTitle(state.language).c_str(), MB_ICONERROR | MB_OK);
        return;
    }
    startInstall(state);
}

void play(const WindowState& state) {
    const std::wstring client = state.location.installDir + L"\\" + kClientExecutable;
    ShellExecuteW(state.window, L"open", client.c_str(), nullptr, state.location.installDir.c_str(),
                  SW_SHOWNORMAL);
    PostQuitMessage(0);
}

// What the current run shows; nothing before the first.
WorkSnapshot workNow(const WindowState& state) {
    return state.work ? state.work->snapshot() : WorkSnapshot();
}

void retry(WindowState& state) {
    // The folder may have changed since (a client removed by hand): look again.
    chooseLocation(state, state.location.chosen);
    setScreen(state, render::kScreenChoose);
}

}  // namespace

void layOut(WindowState& state) {
    state.buttons = layoutButtons(state.screen, state.location, state.removal, state.language, state.clientBytes);
    // As wide as their labels in the painter's fonts, so that what the mouse hits, the focus
    // ring and what screen readers are told are the buttons as drawn.
    if (state.painter) state.buttons = state.painter->fitButtons(std::move(state.buttons));
    state.focus = keptFocus(state.buttons, state.focus);
}

void repaint(const WindowState& state) {
    if (state.window) InvalidateRect(state.window, nullptr, FALSE);
}

void setScreen(WindowState& state, int32_t screen) {
    state.screen = screen;
    state.focus = render::kButtonNone;  // a new screen starts on its main button
    layOut(state);
    repaint(state);
}

void chooseLocation(WindowState& state, const std::wstring& folder) {
    state.location = makeInstallLocation(folder);
}

void prefetchManifest(WindowState& state) {
    if (state.removal || state.manifestUrl.empty()) return;
    // The keys and transfer settings a run of this program uses, so the run can take it.
    const installer::Job defaults;
    const HWND window = state.window;
    try {
        // A client already there (--install= over it, or Apps & features asking for a repair)
        // keeps the manifest it last took: from that, an unchanged release costs a signature.
        const std::wstring kept = state.location.installationExists ? state.location.installDir : std::wstring();
        state.prefetch = pcupd::ManifestPrefetch::start(state.manifestUrl, defaults.engine.manifestKeys, kept,
                                                        defaults.engine.transfer, [window] {
                                                            if (window) PostMessageW(window, kMsgManifest, 0, 0);
                                                        });
    } catch (const std::exception&) {  // no thread: the run fetches for itself, as it always could
        state.prefetch.reset();
    }
}

void manifestArrived(WindowState& state) {
    if (!state.prefetch) return;
    state.clientBytes = state.prefetch->clientBytes();
    measureRoom(state.location);
    layOut(state);
    repaint(state);
}

void windowActivated(WindowState& state) {
    if (state.screen != render::kScreenChoose || state.location.chosen.empty()) return;
    const std::optional<uint64_t> before = state.location.freeBytes;
    measureRoom(state.location);
    if (state.location.freeBytes == before) return;
    layOut(state);
    repaint(state);
}

void runButtonAction(WindowState& state, int32_t id) {
    switch (id) {
    case render::kButtonBrowse: browse(state); break;
    case render::kButtonStart: start(state); break;
    case render::kButtonPlay: play(state); break;
    case render::kButtonClose: closeRequest(state); break;
    case render::kButtonRetry: retry(state); break;
    case render::kButtonFinish: closeRequest(state); break;
    default: break;
    }
}

bool closeRequest(WindowState& state) {
    if (state.work && state.work->running()) {
        const bool yes = state.confirmCancel
                             ? state.confirmCancel()
                             : MessageBoxW(state.window,
                                           lang::text(state.language, state.removal ? lang::Text::kConfirmCancelRemoval
                                                                                    : lang::Text::kConfirmCancelInstall)
                                               .c_str(),
                                           windowTitle(state.language).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
        if (!yes) return false;
    }
    PostQuitMessage(0);
    return true;
}

void startInstall(WindowState& state) {
    installer::Job job = jobFor(state.location, state.removal, state.manifestUrl, state.setupProgram);
    if (!state.removal) job.prefetch = state.prefetch;
    RunLog* const log = state.log;
    WorkProgress::Listener listener;
    if (log) listener = [log, job](const WorkSnapshot& now) { log->report(job, now); };
    // A fresh record for every run, running from now, not from when the thread gets going:
    // an Escape in between must ask.
    state.work = std::make_shared<WorkProgress>(state.window, std::move(listener));
    state.displayedProgress = 0.0f;
    state.speed.reset();
    state.error.clear();
    setScreen(state, render::kScreenWorking);
    try {
        if (state.launchWorker) {
            state.launchWorker(job, state.work);
        } else {
            // The thread holds the record too: it may report after the window is gone.
            std::thread([job, work = state.work] { runJob(job, *work); }).detach();
        }
    } catch (const std::exception&) {  // std::system_error, std::bad_alloc
        state.work.reset();  // nothing runs
        installer::Outcome outcome;
        outcome.problem = installer::Problem::kStart;
        outcome.error = state.removal ? L"Removal failed: could not start the removal"
                                      : L"Install failed: could not start the install";
        state.error = failureText(state.language, outcome, state.removal);
        setScreen(state, render::kScreenFailed);
    }
}

void workerFinished(WindowState& state) {
    const installer::Outcome outcome = workNow(state).outcome;
    state.error = outcome.succeeded ? std::wstring() : failureText(state.language, outcome, state.removal);
    setScreen(state, outcome.succeeded ? render::kScreenDone : render::kScreenFailed);
    // A player who looked elsewhere during a long download learns that it ended.
    if (state.window && GetForegroundWindow() != state.window) {
        FLASHWINFO flash{};
        flash.cbSize = sizeof flash;
        flash.hwnd = state.window;
        flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
        FlashWindowEx(&flash);
    }
}

void tick(WindowState& state, uint32_t now) {
    if (state.screen == render::kScreenSplash && splashOver(now, state.splashStart)) {
        setScreen(state, render::kScreenChoose);
        if (state.autoStart) {
            state.autoStart = false;
            startInstall(state);
        }
    }
    const WorkSnapshot work = workNow(state);
    const float target = static_cast<float>(work.progress);
    state.displayedProgress = state.look.reducedMotion ? target : easeToward(state.displayedProgress, target);

    const bool working = state.screen == render::kScreenWorking;
    if (working && !work.busy && work.bytesTotal > 0)
        state.speed.sample(now, work.bytesDone, work.bytesTotal);
    else
        state.speed.reset();
    if (working && work.busy) state.spinnerStep = (state.spinnerStep + 1) % render::kSpinnerSteps;
}

render::Frame buildFrame(const WindowState& state) {
    render::Frame frame;
    frame.screen = state.screen;
    frame.language = state.language;
    frame.buttons = state.buttons;
    frame.hover = state.hover;
    frame.focus = state.focus;
    frame.keyboardCues = (state.keyboardCues || state.look.alwaysCues) && state.active;
    frame.highContrast = state.look.highContrast;
    frame.system = state.look.colors;
    frame.location = state.location.chosen;
    frame.installDir = state.location.installDir;
    frame.installationExists = state.location.installationExists;
    frame.clientBytes = state.clientBytes;
    frame.freeBytes = state.location.freeBytes;
    frame.volume = state.location.volume;
    frame.progress = state.displayedProgress;
    frame.error = state.error;
    frame.removal = state.removal;
    const WorkSnapshot work = workNow(state);
    frame.keptFiles = work.outcome.keptFiles;
    if (work.outcome.obsoleteRemoved > 0)
        frame.doneNote = render::countText(state.language, work.outcome.obsoleteRemoved, lang::Text::kDroppedOne);
    frame.status = work.phaseKnown ? phaseText(work.phase, state.language) : std::wstring();
    frame.detail = work.detail;
    frame.bytesDone = work.bytesDone;
    frame.bytesTotal = work.bytesTotal;
    if (state.screen == render::kScreenWorking) {
        frame.busy = work.busy;
        frame.spinnerStep = frame.busy ? state.spinnerStep : 0;
        // Rounded to what the speed line shows, so a steady download does not repaint for
        // digits nobody sees.
        const double speed = state.speed.bytesPerSecond();
        frame.bytesPerSecond = speed < 0 ? -1.0 : std::round(speed / 104857.6) * 104857.6;
        frame.secondsLeft = state.speed.secondsLeft();
    }
    return frame;
}

}  // namespace ui
