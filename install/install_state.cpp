#include "install/install_state.h"

namespace installer {

InstallState& installState() {
    // Never destroyed: a worker the player walked away from ("Cancel the installation?")
    // still runs while the process exits, and must not find its record gone.
    static InstallState* const state = new InstallState;
    return *state;
}

void setStatus(const std::wstring& status, const std::wstring& detail) {
    InstallState& state = installState();
    std::lock_guard<std::mutex> hold(state.lock);
    if (&status != &state.status) state.status = status;
    if (&detail != &state.detail) state.detail = detail;
}

void postToWindow(UINT message) {
    InstallState& state = installState();
    HWND window;
    std::function<void(UINT)> listener;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        window = state.mainWindow;
        listener = state.listener;
    }
    if (listener) listener(message);
    if (window || !listener) PostMessageW(window, message, 0, 0);
}

}  // namespace installer
