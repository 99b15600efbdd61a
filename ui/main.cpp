// The program's entry: sets the process up, makes the window, runs the message loop.

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "base/long_path.h"
#include "base/path_identity.h"
#include "base/system_dlls.h"
#include "base/unique_handle.h"
#include "install/removal.h"
#include "lang/language.h"
#include "lang/texts.h"
#include "render/painter.h"
#include "resources/resource_ids.h"
#include "ui/actions.h"
#include "ui/animation.h"
#include "ui/command_line.h"
#include "ui/handover.h"
#include "ui/jobs.h"
#include "ui/logo.h"
#include "ui/main_window.h"
#include "ui/silent.h"
#include "ui/taskbar.h"
#include "ui/window_proc.h"
#include "ui/window_state.h"

namespace {

// Per-monitor awareness where the system has it. When the application manifest has set it
// already, Windows answers ERROR_ACCESS_DENIED: that is no reason to fall back.
void becomeDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto setContext = user32 ? reinterpret_cast<SetContext>(reinterpret_cast<void*>(
                                   GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                             : nullptr;
    if (setContext) {
        if (setContext(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4)))) return;
        if (GetLastError() == ERROR_ACCESS_DENIED) return;
    }
    SetProcessDPIAware();
}

using UniqueIcon = base::UniqueOf<HICON, &::DestroyIcon>;

UniqueIcon loadIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return UniqueIcon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORVANE), IMAGE_ICON,
                                                    GetSystemMetrics(widthMetric),
                                                    GetSystemMetrics(heightMetric), 0)));
}

// A removal asks first, and only when there is something this program may remove.
// Returns the exit code to end with at once, or -1 to go on and show the window.
int confirmRemoval(const ui::InstallLocation& location, lang::Language language) {
    const std::wstring title = ui::windowTitle(language);
    const std::wstring refusal = installer::removalRefusal(location.installDir);
    if (!refusal.empty()) {
        const std::wstring text =
            installer::isProtectedFolder(location.installDir)
                ? lang::text(language, lang::Text::kFailProtectedRemoval, {base::fullPath(location.installDir)})
                : lang::text(language, lang::Text::kFailNothingToRemove) + L"\n\n" + location.installDir;
        MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_ICONINFORMATION | MB_OK);
        ui::handover().report(ui::kExitFailure);
        return ui::kExitFailure;
    }
    if (MessageBoxW(nullptr, lang::text(language, lang::Text::kConfirmRemoval).c_str(), title.c_str(),
                    MB_YESNO | MB_ICONQUESTION) != IDYES) {
        ui::handover().report(ui::kExitSuccess);
        return ui::kExitSuccess;
    }
    return -1;
}

// Says why a removal could not be handed to its temporary copy, where the player or the
// caller will see it.
void reportHandoverFailure(const ui::CommandLineOptions& options, lang::Language language,
                           const std::wstring& error) {
    if (!options.silent) {
        // What went wrong in the player's language, then the account the log would keep.
        const std::wstring text = lang::text(language, lang::Text::kFailRemovalStart) + L"\n\n" + error;
        MessageBoxW(nullptr, text.c_str(), ui::windowTitle(language).c_str(), MB_ICONERROR | MB_OK);
        return;
    }
    ui::ProgressLog log;
    log.attachConsole();
    std::wstring ignored;
    if (options.logGiven) log.openFile(options.logPath, ignored);
    log.write(L"Error: " + error);
}

// --log= with the window: the same lines as without. The log outlives the window, for a
// worker the player walked away from may still report while the program ends.
void keepLog(const ui::CommandLineOptions& options, ui::WindowState& state) {
    auto log = std::make_unique<ui::ProgressLog>();
    std::wstring error = L"--log= needs a file name";
    if (options.logPath.empty() || !log->openFile(options.logPath, error)) {
        MessageBoxW(nullptr, lang::text(state.language, lang::Text::kLogUnusable, {error}).c_str(),
                    ui::windowTitle(state.language).c_str(), MB_ICONWARNING | MB_OK);
        return;
    }
    state.log = new ui::RunLog(*log.release());
}

// What runs before any window: the command line, the silent mode, the hand-over of a
// removal to a temporary copy. Returns the exit code to end with, or -1 to show the window.
int prepareRun(ui::WindowState& state) {
    const std::vector<std::wstring> arguments = ui::splitCommandLine(GetCommandLineW());
    const ui::CommandLineOptions options = ui::parseArguments(arguments);
    const std::wstring program = ui::currentProgram();
    if (!options.handover.empty() && !ui::handover().take(options.handover)) return ui::kExitUsage;
    state.setupProgram = program;
    std::wstring languageError;
    state.language = lang::chooseLanguage(options.languageGiven ? &options.language : nullptr,
                                          lang::userPreferredLanguages(), languageError);
    if (options.manifestGiven) state.manifestUrl = options.manifestUrl;
    const ui::InstallLocation location = ui::locationFor(options, program);

    if (options.uninstall && !ui::handover().active()) {
        ui::sweepTemporaryCopies();
        if (base::isInsideFolder(program, location.installDir)) {
            std::wstring error;
            const int code = ui::handOverRemoval(program, arguments, location.installDir, error);
            // A copy that ended without a word had its own window to say why.
            if (!error.empty() && (options.silent || error != ui::kCopyEndedWithoutResult))
                reportHandoverFailure(options, state.language, error);
            return code;
        }
    }
    if (options.silent)
        return ui::runSilently(options, ui::jobFor(location, options.uninstall, state.manifestUrl, program),
                               state.language);
    // Said once, before anything else is asked; the window then speaks the language chosen.
    if (!languageError.empty())
        MessageBoxW(nullptr,
                    lang::text(state.language, lang::Text::kLanguageUnknown, {options.language, lang::tagList()}).c_str(),
                    ui::windowTitle(state.language).c_str(), MB_ICONWARNING | MB_OK);
    if (options.uninstall) {
        const int code = confirmRemoval(location, state.language);
        if (code >= 0) return code;
        state.removal = true;
    }
    if (!location.chosen.empty()) {
        state.location = location;
        state.autoStart = true;
    }
    if (options.logGiven) keepLog(options, state);
    return -1;
}

// Shows the window and runs its message loop until the program ends.
void runMessageLoop(ui::WindowState& state) {
    ui::layOut(state);
    ShowWindow(state.window, SW_SHOW);
    UpdateWindow(state.window);
    SetTimer(state.window, ui::kTimerId, ui::kTickMs, nullptr);
    if (state.autoStart && !state.removal) {
        base::createParentDirectories(state.location.installDir);
        CreateDirectoryW(state.location.installDir.c_str(), nullptr);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    KillTimer(state.window, ui::kTimerId);
}

// The window's whole life inside one GDI+ session: the art, the window, the loop, then every
// GDI+ object before GDI+ itself. Returns the exit code.
int runWindow(HINSTANCE instance, ui::WindowState& state) {
    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
    state.splashStart = GetTickCount();
    state.logo = ui::loadPngResource(instance, IDR_LOGO_PNG);
    const UniqueIcon largeIcon = loadIcon(instance, SM_CXICON, SM_CYICON);
    const UniqueIcon smallIcon = loadIcon(instance, SM_CXSMICON, SM_CYSMICON);
    ui::registerWindowClass(instance, largeIcon.get(), smallIcon.get());

    state.look = ui::readSystemLook();
    state.painter = std::make_unique<render::Painter>(state.logo);
    const bool created = ui::createMainWindow(instance, state) != nullptr;
    if (created) {
        ui::prefetchManifest(state);
        runMessageLoop(state);
    }
    state.taskbar->release();
    state.painter.reset();
    state.canvas.reset();
    ui::deleteImage(state.logo);
    state.logo = nullptr;
    Gdiplus::GdiplusShutdown(gdiplusToken);
    return created ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything loads a DLL. Should the system refuse, the delay-load hook still keeps
    // the three DLLs that matter to System32.
    base::loadSystemDllsOnly();
    becomeDpiAware();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ui::WindowState& state = ui::windowState();
    int exitCode = prepareRun(state);
    if (exitCode < 0) exitCode = runWindow(instance, state);
    CoUninitialize();
    return exitCode;
}
