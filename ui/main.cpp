// The program's entry: sets the process up, makes the window, runs the message loop.

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>

#include "render/painter.h"
#include "resources/resource_ids.h"
#include "base/long_path.h"
#include "ui/actions.h"
#include "ui/animation.h"
#include "ui/command_line.h"
#include "ui/logo.h"
#include "ui/window_metrics.h"
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

int screenDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen) return 96;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

HICON loadIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORVANE), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), 0));
}

void applyCommandLine(ui::WindowState& state) {
    const ui::CommandLineOptions options = ui::parseArguments(ui::splitCommandLine(GetCommandLineW()));
    if (options.manifestGiven) state.manifestUrl = options.manifestUrl;
    if (!options.installLocation.empty()) {
        ui::chooseLocation(state, options.installLocation);
        state.autoStart = true;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    becomeDpiAware();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

    ui::WindowState& state = ui::windowState();
    state.splashStart = GetTickCount();
    applyCommandLine(state);
    state.logo = ui::loadPngResource(instance, IDR_LOGO_PNG);

    HICON largeIcon = loadIcon(instance, SM_CXICON, SM_CYICON);
    HICON smallIcon = loadIcon(instance, SM_CXSMICON, SM_CYSMICON);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = ui::windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = largeIcon;
    windowClass.hIconSm = smallIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = ui::kWindowClass;
    RegisterClassExW(&windowClass);

    state.scale = ui::scaleForDpi(screenDpi());
    const ui::WindowPlacement placement =
        ui::placeWindow(state.scale, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    state.painter = std::make_unique<render::Painter>(state.logo);
    state.window = CreateWindowExW(WS_EX_APPWINDOW, ui::kWindowClass, ui::kWindowTitle, WS_POPUP,
                                   placement.x, placement.y, placement.width, placement.height,
                                   nullptr, nullptr, instance, nullptr);
    if (!state.window) return 1;
    HRGN region = CreateRoundRectRgn(0, 0, placement.width + 1, placement.height + 1,
                                     placement.radius, placement.radius);
    if (region && !SetWindowRgn(state.window, region, TRUE)) DeleteObject(region);

    ui::layOut(state);
    ShowWindow(state.window, SW_SHOW);
    UpdateWindow(state.window);
    SetTimer(state.window, ui::kTimerId, ui::kTickMs, nullptr);
    if (state.autoStart) {
        base::createParentDirectories(state.location.installDir);
        CreateDirectoryW(state.location.installDir.c_str(), nullptr);
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    KillTimer(state.window, ui::kTimerId);
    if (largeIcon) DestroyIcon(largeIcon);
    if (smallIcon) DestroyIcon(smallIcon);
    // GDI+ objects go before GDI+ itself.
    state.painter.reset();
    state.canvas.reset();
    ui::deleteImage(state.logo);
    state.logo = nullptr;
    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    return 0;
}
