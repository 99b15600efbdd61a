#include "ui/window_proc.h"

#include <windowsx.h>

#include "render/painter.h"
#include "ui/actions.h"
#include "ui/animation.h"
#include "ui/buttons.h"
#include "ui/window_state.h"
#include "ui/work_progress.h"

namespace ui {

namespace {

void onPaint(HWND window) {
    WindowState& state = windowState();
    PAINTSTRUCT paint{};
    HDC target = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    if (!state.canvas || state.canvas->width() != client.right || state.canvas->height() != client.bottom)
        state.canvas = std::make_unique<render::Canvas>(client.right, client.bottom);
    if (target && state.painter && state.canvas->valid()) {
        state.drawn = buildFrame(state);
        state.drawnScale = state.scale;
        state.painter->paint(state.drawn, state.scale, *state.canvas);
        BitBlt(target, 0, 0, client.right, client.bottom, state.canvas->dc(), 0, 0, SRCCOPY);
    }
    EndPaint(window, &paint);
}

void onTimer(WPARAM id) {
    if (id != kTimerId) return;
    WindowState& state = windowState();
    tick(state, GetTickCount());
    // The same pixels again are not worth a repaint: idle screens then cost next to nothing.
    if (state.drawnScale == 0.0f || render::frameChanged(state.drawn, state.drawnScale, buildFrame(state), state.scale))
        repaint(state);
}

void skipSplashNow(WindowState& state) {
    if (state.screen == render::kScreenSplash) skipSplash(GetTickCount(), state.splashStart);
}

void onKeyDown(WPARAM key) {
    WindowState& state = windowState();
    if (state.screen == render::kScreenSplash)
        skipSplashNow(state);
    else if (key == VK_ESCAPE)
        closeRequest(state);
}

void onMouseMove(LPARAM position) {
    WindowState& state = windowState();
    const int32_t hit = hitTest(state.buttons, GET_X_LPARAM(position), GET_Y_LPARAM(position), state.scale);
    if (hit == state.hover) return;
    state.hover = hit;
    repaint(state);
}

void onMouseDown(HWND window, LPARAM position) {
    WindowState& state = windowState();
    if (state.screen == render::kScreenSplash) {
        skipSplashNow(state);
        return;
    }
    // A borderless window moves by any point that is not a button.
    if (hitTest(state.buttons, GET_X_LPARAM(position), GET_Y_LPARAM(position), state.scale) == 0) {
        ReleaseCapture();
        SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    }
}

void onMouseUp(LPARAM position) {
    WindowState& state = windowState();
    const int32_t hit = hitTest(state.buttons, GET_X_LPARAM(position), GET_Y_LPARAM(position), state.scale);
    if (hit != 0) runButtonAction(state, hit);
}

// A hand over what can be clicked.
bool onSetCursor(LPARAM hitArea) {
    if (LOWORD(hitArea) != HTCLIENT || windowState().hover == 0) return false;
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return true;
}

}  // namespace

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
    case WM_PAINT: onPaint(window); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_CLOSE: closeRequest(windowState()); return 0;
    case WM_KEYDOWN: onKeyDown(wParam); return 0;
    case WM_MOUSEMOVE: onMouseMove(lParam); return 0;
    case WM_LBUTTONDOWN: onMouseDown(window, lParam); return 0;
    case WM_LBUTTONUP: onMouseUp(lParam); return 0;
    case WM_SETCURSOR:
        if (onSetCursor(lParam)) return TRUE;
        break;
    case WM_TIMER: onTimer(wParam); return 0;
    case kMsgProgress: repaint(windowState()); return 0;
    case kMsgFinished: workerFinished(windowState()); return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace ui
