#include "ui/work_progress.h"

#include <algorithm>

#include "ui/phase_text.h"

namespace ui {

WorkProgress::WorkProgress(HWND window, Listener listener) : window_(window), listener_(std::move(listener)) {
    now_.running = true;
    now_.busy = true;
}

WorkSnapshot WorkProgress::snapshot() const {
    std::lock_guard<std::mutex> hold(lock_);
    return now_;
}

bool WorkProgress::running() const {
    std::lock_guard<std::mutex> hold(lock_);
    return now_.running;
}

void WorkProgress::phase(installer::Phase phase, const std::wstring& item) {
    using installer::Phase;
    const std::wstring status = phaseText(phase);
    WorkSnapshot now;
    {
        std::lock_guard<std::mutex> hold(lock_);
        now_.status = status;
        now_.phaseKnown = true;
        now_.phase = phase;
        now_.detail = item;
        if (phase == Phase::kInstalled || phase == Phase::kRepaired || phase == Phase::kRemoved) {
            now_.progress = 1.0;
            now_.busy = false;
        }
        if (listener_) now = now_;
    }
    report(kMsgProgress, now);
}

void WorkProgress::busy() {
    std::lock_guard<std::mutex> hold(lock_);
    now_.busy = true;
}

void WorkProgress::bytes(uint64_t done, int64_t total) {
    std::lock_guard<std::mutex> hold(lock_);
    now_.busy = false;
    now_.bytesDone = done;
    now_.bytesTotal = total;
    if (total > 0)
        now_.progress = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
}

void WorkProgress::host(const std::wstring& origin, const std::wstring& left) {
    WorkSnapshot now;
    {
        std::lock_guard<std::mutex> hold(lock_);
        now_.host = origin;
        now_.hostLeft = left;
        if (listener_) now = now_;
    }
    if (listener_) listener_(now);  // the window shows nothing of it
}

void WorkProgress::items(int64_t done, int64_t total, const std::wstring& item) {
    WorkSnapshot now;
    {
        std::lock_guard<std::mutex> hold(lock_);
        now_.busy = false;
        now_.progress = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
        if (!item.empty()) now_.detail = item;
        if (listener_) now = now_;
    }
    report(kMsgProgress, now);
}

void WorkProgress::finished(const installer::Outcome& outcome) noexcept {
    WorkSnapshot now;
    try {
        std::lock_guard<std::mutex> hold(lock_);
        now_.busy = false;
        now_.running = false;
        now_.finished = true;
        try {
            now_.outcome = outcome;
        } catch (...) {  // not even the text fits: the window still hears that the run failed
            now_.outcome.succeeded = false;
        }
        if (listener_) now = now_;
    } catch (...) {
    }
    try {
        if (listener_) listener_(now);
    } catch (...) {  // a log that cannot write must not keep the window waiting
    }
    if (window_) PostMessageW(window_, kMsgFinished, 0, 0);
}

void WorkProgress::report(UINT message, const WorkSnapshot& now) {
    if (listener_) listener_(now);
    if (window_) PostMessageW(window_, message, 0, 0);
}

}  // namespace ui
