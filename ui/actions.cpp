#include "ui/actions.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cmath>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/long_path.h"
#include "install/install_state.h"
#include "install/obsolete_files.h"
#include "install/worker.h"
#include "ui/animation.h"
#include "ui/buttons.h"
#include "ui/jobs.h"

namespace ui {

namespace {

// The platform's folder picker; false when the player cancels or any step fails.
bool pickFolder(HWND owner, std::wstring& folder) {
    Microsoft::WRL::ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&dialog))))
        return false;
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog->GetOptions(&options)) ||
        FAILED(dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST)))
        return false;
    dialog->SetTitle(L"Choose where to install Orvane Online");
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
    if (!pickFolder(state.window, folder)) return;
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
            MessageBoxW(state.window, L"Could not create that folder. Choose another location.",
                        kWindowTitle, MB_ICONERROR | MB_OK);
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

void retry(WindowState& state) {
    // The folder may have changed since (a client removed by hand): look again.
    chooseLocation(state, state.location.chosen);
    setScreen(state, render::kScreenChoose);
}

}  // namespace

void layOut(WindowState& state) {
    state.buttons = layoutButtons(state.screen, state.location, state.removal);
}

void repaint(const WindowState& state) {
    if (state.window) InvalidateRect(state.window, nullptr, FALSE);
}

void setScreen(WindowState& state, int32_t screen) {
    state.screen = screen;
    layOut(state);
    repaint(state);
}

void chooseLocation(WindowState& state, const std::wstring& folder) {
    state.location = makeInstallLocation(folder);
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
    if (installer::installState().running) {
        const bool yes = state.confirmCancel
                             ? state.confirmCancel()
                             : MessageBoxW(state.window,
                                           state.removal ? L"Cancel the removal?" : L"Cancel the installation?",
                                           kWindowTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
        if (!yes) return false;
    }
    PostQuitMessage(0);
    return true;
}

void startInstall(WindowState& state) {
    installer::InstallState& shared = installer::installState();
    prepareJob(state.location, state.removal, state.window);
    state.displayedProgress = 0.0f;
    state.speed.reset();
    state.error.clear();
    // Running from now, not from when the thread gets going: an Escape in between must ask.
    shared.running = true;
    shared.busy = true;
    setScreen(state, render::kScreenWorking);
    try {
        if (state.launchWorker) {
            state.launchWorker();
        } else if (state.removal) {
            std::thread([] { runRemovalJob(); }).detach();
        } else {
            const std::string url = state.manifestUrl;
            std::thread([url] { installer::runInstallWorker(url); }).detach();
        }
    } catch (const std::exception&) {  // std::system_error, std::bad_alloc
        shared.running = false;
        shared.busy = false;
        state.error = state.removal ? L"Removal failed: could not start the removal"
                                    : L"Install failed: could not start the install";
        setScreen(state, render::kScreenFailed);
    }
}

void workerFinished(WindowState& state) {
    installer::InstallState& shared = installer::installState();
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        state.error = shared.finalError;
    }
    setScreen(state, state.error.empty() ? render::kScreenDone : render::kScreenFailed);
}

void tick(WindowState& state, uint32_t now) {
    if (state.screen == render::kScreenSplash && splashOver(now, state.splashStart)) {
        setScreen(state, render::kScreenChoose);
        if (state.autoStart) {
            state.autoStart = false;
            startInstall(state);
        }
    }
    installer::InstallState& shared = installer::installState();
    float target = 0.0f;
    uint64_t bytesDone = 0;
    int64_t bytesTotal = 0;
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        target = static_cast<float>(shared.progress);
        bytesDone = shared.bytesDone;
        bytesTotal = shared.bytesTotal;
    }
    state.displayedProgress = easeToward(state.displayedProgress, target);

    const bool working = state.screen == render::kScreenWorking;
    if (working && !shared.busy && bytesTotal > 0)
        state.speed.sample(now, bytesDone, bytesTotal);
    else
        state.speed.reset();
    if (working && shared.busy) state.spinnerStep = (state.spinnerStep + 1) % render::kSpinnerSteps;
}

render::Frame buildFrame(const WindowState& state) {
    render::Frame frame;
    frame.screen = state.screen;
    frame.buttons = state.buttons;
    frame.hover = state.hover;
    frame.location = state.location.chosen;
    frame.installDir = state.location.installDir;
    frame.installationExists = state.location.installationExists;
    frame.progress = state.displayedProgress;
    frame.error = state.error;
    frame.removal = state.removal;
    installer::InstallState& shared = installer::installState();
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        frame.keptFiles = shared.keptFiles;
        frame.doneNote = installer::obsoleteFilesLine(shared.obsoleteRemoved);
        frame.status = shared.status;
        frame.detail = shared.detail;
        frame.bytesDone = shared.bytesDone;
        frame.bytesTotal = shared.bytesTotal;
    }
    if (state.screen == render::kScreenWorking) {
        frame.busy = shared.busy;
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
