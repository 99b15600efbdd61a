#include "ui/main_window.h"

#include "ui/actions.h"
#include "ui/window_metrics.h"
#include "ui/window_proc.h"

namespace ui {

namespace {

int screenDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen) return 96;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// The monitor's dpi for a window, where the system can tell (Windows 10 1607 and later);
// 0 where it cannot.
int32_t windowDpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto getDpi = user32 ? reinterpret_cast<GetDpi>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                         : nullptr;
    return getDpi ? static_cast<int32_t>(getDpi(window)) : 0;
}

void cutCorners(HWND window, float scale, int32_t width, int32_t height) {
    const int32_t radius = static_cast<int32_t>(kCornerRadius * scale);
    HRGN region = CreateRoundRectRgn(0, 0, width + 1, height + 1, radius, radius);
    // The system owns the region once it is set.
    if (region && !SetWindowRgn(window, region, TRUE)) DeleteObject(region);
}

}  // namespace

void registerWindowClass(HINSTANCE instance, HICON largeIcon, HICON smallIcon) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = largeIcon;
    windowClass.hIconSm = smallIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);
}

HWND createMainWindow(HINSTANCE instance, WindowState& state) {
    state.scale = scaleForDpi(screenDpi());
    const WindowPlacement placement =
        placeWindow(state.scale, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    state.window = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, windowTitle(state.language).c_str(), WS_POPUP, placement.x,
                                   placement.y, placement.width, placement.height, nullptr, nullptr,
                                   instance, nullptr);
    if (!state.window) return nullptr;
    // The monitor the window landed on may have another scale than the primary screen.
    const int32_t dpi = windowDpi(state.window);
    if (dpi > 0 && scaleForDpi(dpi) != state.scale) {
        const RECT at{placement.x, placement.y, placement.x + placement.width, placement.y + placement.height};
        changeDpi(state, dpi, at);
    } else {
        cutCorners(state.window, state.scale, placement.width, placement.height);
    }
    return state.window;
}

RECT rectForDpi(int32_t dpi, const RECT& suggested) {
    const WindowPlacement placement = placeWindow(scaleForDpi(dpi), 0, 0);
    return {suggested.left, suggested.top, suggested.left + placement.width, suggested.top + placement.height};
}

void changeDpi(WindowState& state, int32_t dpi, const RECT& suggested) {
    state.scale = scaleForDpi(dpi);
    if (!state.window) return;
    const RECT rect = rectForDpi(dpi, suggested);
    const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
    SetWindowPos(state.window, nullptr, rect.left, rect.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    cutCorners(state.window, state.scale, width, height);
    repaint(state);
}

}  // namespace ui
