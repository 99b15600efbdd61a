#include "ui/window_proc.h"

#include <windowsx.h>

#include "render/painter.h"
#include "ui/accessible.h"
#include "ui/actions.h"
#include "ui/animation.h"
#include "ui/buttons.h"
#include "ui/keyboard.h"
#include "ui/main_window.h"
#include "ui/taskbar.h"
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

// Screen readers and the taskbar hear of what `frame` shows that they were not told yet.
void tellTheSystem(WindowState& state, const render::Frame& frame) {
    if (!state.window) return;
    for (const AccessEvent& event : state.announcer.next(frame, GetTickCount()))
        NotifyWinEvent(event.event, state.window, OBJID_CLIENT, event.child);
    state.taskbar->show(taskbarState(frame));
}

void onTimer(WPARAM id) {
    if (id != kTimerId) return;
    WindowState& state = windowState();
    tick(state, GetTickCount());
    const render::Frame frame = buildFrame(state);
    tellTheSystem(state, frame);
    // The same pixels again are not worth a repaint: idle screens then cost next to nothing.
    if (state.drawnScale == 0.0f || render::frameChanged(state.drawn, state.drawnScale, frame, state.scale))
        repaint(state);
}

void skipSplashNow(WindowState& state) {
    if (state.screen == render::kScreenSplash) skipSplash(GetTickCount(), state.splashStart);
}

void moveFocus(WindowState& state, int32_t id) {
    state.focus = id;
    repaint(state);
    tellTheSystem(state, buildFrame(state));
}

// The player reached for the keyboard: focus ring and access keys show from now on, and the
// system's own record of it agrees.
void showKeyboardCues(WindowState& state) {
    if (state.keyboardCues) return;
    state.keyboardCues = true;
    if (state.window) SendMessageW(state.window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
    repaint(state);
}

// True when the key did something here; Alt+F4 and other system keys then go on to the system.
bool onKey(WPARAM key) {
    WindowState& state = windowState();
    if (state.screen == render::kScreenSplash) {
        skipSplashNow(state);
        return true;
    }
    const KeyCommand command = keyCommand(static_cast<UINT>(key), GetKeyState(VK_SHIFT) < 0, state.buttons, state.focus);
    switch (command.action) {
    case KeyAction::kNone: return false;
    case KeyAction::kClose: closeRequest(state); return true;
    case KeyAction::kMoveFocus:
        showKeyboardCues(state);
        moveFocus(state, command.button);
        return true;
    case KeyAction::kPress:
        showKeyboardCues(state);
        state.focus = command.button;
        runButtonAction(state, command.button);
        return true;
    }
    return false;
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
    if (hit == 0) return;
    state.focus = hit;  // as a clicked button takes the focus
    runButtonAction(state, hit);
}

// A hand over what can be clicked.
bool onSetCursor(LPARAM hitArea) {
    if (LOWORD(hitArea) != HTCLIENT || windowState().hover == 0) return false;
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return true;
}

// What screen readers are served: the tree of the frame as it is now. A reader's press
// comes back as a posted message, so that a dialog it opens never runs inside the reader's
// call.
AccessSource accessSource(HWND window) {
    AccessSource source;
    source.items = [] { return accessTree(buildFrame(windowState())); };
    source.scale = [] { return windowState().scale; };
    source.press = [window](int32_t id) { PostMessageW(window, kMsgPress, static_cast<WPARAM>(id), 0); };
    source.focus = [](int32_t id) { moveFocus(windowState(), id); };
    return source;
}

void onSystemSettings() {
    WindowState& state = windowState();
    state.look = readSystemLook();
    repaint(state);
}

}  // namespace

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == TaskbarButton::createdMessage() && message != 0) {
        windowState().taskbar->created(window);
        return 0;
    }
    switch (message) {
    case WM_PAINT: onPaint(window); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_CLOSE: closeRequest(windowState()); return 0;
    case WM_KEYDOWN: onKey(wParam); return 0;
    case WM_SYSKEYDOWN:
        // Alt with a button's letter presses it, as in any dialog.
        windowState().accessKeyTaken = wParam >= 'A' && wParam <= 'Z' && onKey(wParam);
        if (windowState().accessKeyTaken) return 0;
        break;
    case WM_SYSCHAR:
        // The character of an access key just taken: no "no such menu" beep for it.
        if (windowState().accessKeyTaken) {
            windowState().accessKeyTaken = false;
            return 0;
        }
        break;
    case WM_UPDATEUISTATE:
        windowState().keyboardCues = cuesAfterUiState(windowState().keyboardCues, wParam);
        repaint(windowState());
        break;
    case WM_ACTIVATE:
        windowState().active = LOWORD(wParam) != WA_INACTIVE;
        if (windowState().active) windowActivated(windowState());
        repaint(windowState());
        break;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED: onSystemSettings(); break;
    case WM_DPICHANGED:
        changeDpi(windowState(), LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_GETOBJECT: {
        const LRESULT object = answerGetObject(window, wParam, lParam, accessSource(window));
        if (object != 0) return object;
        break;
    }
    case WM_MOUSEMOVE: onMouseMove(lParam); return 0;
    case WM_LBUTTONDOWN: onMouseDown(window, lParam); return 0;
    case WM_LBUTTONUP: onMouseUp(lParam); return 0;
    case WM_SETCURSOR:
        if (onSetCursor(lParam)) return TRUE;
        break;
    case WM_TIMER: onTimer(wParam); return 0;
    case kMsgProgress: repaint(windowState()); return 0;
    case kMsgFinished: workerFinished(windowState()); return 0;
    case kMsgPress: runButtonAction(windowState(), static_cast<int32_t>(wParam)); return 0;
    case kMsgManifest: manifestArrived(windowState()); return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace ui
