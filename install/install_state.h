#pragma once
// The record the install worker and the window share, and the two messages the worker
// posts. Every field but the atomic flags is read and written only under `lock`, held for a
// few assignments and never across network, disk or message calls.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace installer {

struct InstallState {
    std::mutex lock;
    HWND mainWindow = nullptr;  // null: messages go to `listener` alone, else the posting thread's queue
    // The log (--log=), told each message on the posting thread, in order, before the window
    // gets it: every status a worker shows reaches it, however briefly it stands.
    std::function<void(UINT message)> listener;
    std::wstring installDir;
    bool repairMode = false;
    std::wstring status, detail;
    double progress = 0.0;  // 0..1
    uint64_t bytesDone = 0;
    int64_t bytesTotal = 0;
    uint32_t startTick = 0;  // GetTickCount at the start of the byte-counted phase
    std::wstring finalError;  // empty on success
    // The running setup program: after a good run it is copied into the install folder and
    // registered with Windows (Apps & features). Empty: neither happens (tests).
    std::wstring setupProgram;
    int64_t keptFiles = 0;  // after a removal: files left that this program did not install
    int64_t obsoleteRemoved = 0;  // after an install or repair: files an earlier release had, deleted
    std::atomic<bool> running{false}, finished{false};
    std::atomic<bool> busy{false};  // no byte-counted progress yet: show activity, not a bar
};

// The one process-wide instance.
InstallState& installState();

// Sets the status and detail lines under the lock.
void setStatus(const std::wstring& status, const std::wstring& detail);

// Hands `message` to the listener, and posts it (wParam 0, lParam 0) to the main window;
// never waits for the window.
void postToWindow(UINT message);

constexpr UINT kMsgProgress = WM_APP + 1;  // status or progress changed: repaint
constexpr UINT kMsgFinished = WM_APP + 2;  // the worker left its result; posted once, last

}  // namespace installer
