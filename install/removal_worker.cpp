#include "install/removal.h"

#include <new>

#include "install/install_state.h"

namespace installer {

// The removal on the window's worker thread: the same shared record and messages as an
// install, so the window shows both alike.

void runRemovalWorker(const std::wstring& leaveForLater,
                      const std::function<void(bool succeeded, bool setupCopyLeft)>& beforeFinished) {
    // Nothing may leave this thread, and the window waits for kMsgFinished on every path.
    InstallState& state = installState();
    const wchar_t* failure = nullptr;
    bool succeeded = false, setupCopyLeft = false;
    try {
        state.running = true;
        state.finished = false;
        std::wstring installDir;
        {
            std::lock_guard<std::mutex> hold(state.lock);
            installDir = state.installDir;
            state.finalError.clear();
            state.status = L"Removing Orvane Online...";
            state.detail.clear();
            state.progress = 0.0;
            state.bytesDone = 0;
            state.bytesTotal = 0;
            state.keptFiles = 0;
        }
        state.busy = true;  // stopping the client comes first, with no count to show
        postToWindow(kMsgProgress);

        RemovalResult result;
        const std::wstring error = removeInstallation(
            installDir, leaveForLater, result,
            [&state](int64_t done, int64_t total, const std::wstring& item) {
                state.busy = false;
                {
                    std::lock_guard<std::mutex> hold(state.lock);
                    state.progress = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
                    if (!item.empty()) state.detail = item;
                }
                postToWindow(kMsgProgress);
            });
        state.busy = false;
        succeeded = error.empty();
        setupCopyLeft = result.setupCopyLeft;
        {
            std::lock_guard<std::mutex> hold(state.lock);
            state.keptFiles = result.kept;
            if (succeeded) {
                state.status = L"Orvane Online was removed";
                state.detail = installDir;
                state.progress = 1.0;
            }
            state.finalError = error;
        }
        if (succeeded) postToWindow(kMsgProgress);
    } catch (const std::bad_alloc&) {
        failure = L"Removal failed: out of memory";
    } catch (...) {
        failure = L"Removal failed: unexpected error";
    }
    state.busy = false;
    if (failure) {
        succeeded = false;
        try {
            std::lock_guard<std::mutex> hold(state.lock);
            state.finalError = failure;
        } catch (...) {  // not even the text fits: the window still hears that the run ended
        }
    }
    if (beforeFinished) {
        try {
            beforeFinished(succeeded, setupCopyLeft);
        } catch (...) {  // the removal's outcome stands whatever its follow-up does
        }
    }
    state.running = false;
    state.finished = true;
    postToWindow(kMsgFinished);
}

}  // namespace installer
