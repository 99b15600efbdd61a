#pragma once
// What the window shows of a running job, kept for it by the worker's progress sink, and the
// two messages that wake the window. The worker writes here on its own thread(s) and posts;
// the window copies a snapshot when it paints. Nothing here touches the window but
// PostMessageW.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "install/job.h"

namespace ui {

constexpr UINT kMsgProgress = WM_APP + 1;  // status or progress changed: repaint
constexpr UINT kMsgFinished = WM_APP + 2;  // the worker left its outcome; posted once, last

// One moment of a run, as the window paints it and the log writes it.
struct WorkSnapshot {
    std::wstring status, detail;  // the phase's line (in English, for the log) and its item
    bool phaseKnown = false;      // a phase was reported: `phase` is what the status says
    installer::Phase phase = installer::Phase::kContactingServer;
    double progress = 0.0;        // 0..1
    uint64_t bytesDone = 0;
    int64_t bytesTotal = 0;
    bool busy = false;  // no count yet: show activity, not a bar
    // The download host the bytes come from, and why the run left the one before (empty
    // for the first): for the log.
    std::wstring host, hostLeft;
    bool running = false, finished = false;
    installer::Outcome outcome;  // once finished
};

// The sink of one run. A new run gets a new one, so nothing of an earlier run shows through.
class WorkProgress final : public installer::ProgressSink {
public:
    // Told every report in order, on the reporting thread, with the snapshot right after it,
    // before the window hears of it: every status a worker shows reaches it, however briefly
    // it stands. Byte counts and busy() alone are not reports.
    using Listener = std::function<void(const WorkSnapshot& now)>;

    // A run about to start: running and busy from now, so that an Escape before its thread
    // gets going still asks. Reports go to `listener` (may be empty), then to `window` as
    // kMsgProgress and kMsgFinished (null: to no window).
    explicit WorkProgress(HWND window = nullptr, Listener listener = {});

    // A copy of everything, under the lock; any thread.
    WorkSnapshot snapshot() const;
    bool running() const;

    void phase(installer::Phase phase, const std::wstring& item) override;
    void busy() override;
    void bytes(uint64_t done, int64_t total) override;
    void host(const std::wstring& origin, const std::wstring& left) override;
    void items(int64_t done, int64_t total, const std::wstring& item) override;
    void finished(const installer::Outcome& outcome) noexcept override;

private:
    // Hands the snapshot to the listener, then posts `message` to the window.
    void report(UINT message, const WorkSnapshot& now);

    const HWND window_;
    const Listener listener_;
    mutable std::mutex lock_;  // held for a few assignments, never across a report
    WorkSnapshot now_;
};

}  // namespace ui
