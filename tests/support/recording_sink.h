#pragma once
// A progress sink that keeps what a worker reported, for tests to read back. The archive's
// writer thread reports bytes while the stream thread reports phases, and tests read while
// a worker runs, so everything is under one lock.

#include <mutex>
#include <string>
#include <vector>

#include "install/job.h"

namespace testsupport {

class RecordingSink : public installer::ProgressSink {
public:
    struct Phase {
        installer::Phase phase;
        std::wstring item;
        bool operator==(const Phase& other) const { return phase == other.phase && item == other.item; }
    };
    struct State {
        std::vector<Phase> phases;      // every phase() and every items() (as kRemoving), in order
        uint64_t bytesDone = 0;         // the last bytes() report
        int64_t bytesTotal = -1;        // -1: no bytes() report
        bool busy = false;              // busy() came after the last bytes() or items()
        int64_t itemsDone = -1, itemsTotal = -1;  // the last items() report
        int finished = 0;               // finished() calls
        bool reportAfterFinished = false;
        installer::Outcome outcome;     // the last finished()
        std::vector<std::wstring> hosts;  // every host(): "ORIGIN" or "ORIGIN after LEFT"
    };

    void phase(installer::Phase phase, const std::wstring& item) override {
        std::lock_guard<std::mutex> hold(lock_);
        note();
        state_.phases.push_back({phase, item});
    }
    void busy() override {
        std::lock_guard<std::mutex> hold(lock_);
        note();
        state_.busy = true;
    }
    void bytes(uint64_t done, int64_t total) override {
        std::lock_guard<std::mutex> hold(lock_);
        note();
        state_.busy = false;
        state_.bytesDone = done;
        state_.bytesTotal = total;
    }
    void items(int64_t done, int64_t total, const std::wstring& item) override {
        std::lock_guard<std::mutex> hold(lock_);
        note();
        state_.busy = false;
        state_.itemsDone = done;
        state_.itemsTotal = total;
        state_.phases.push_back({installer::Phase::kRemoving, item});
    }
    void host(const std::wstring& origin, const std::wstring& left) override {
        std::lock_guard<std::mutex> hold(lock_);
        note();
        state_.hosts.push_back(left.empty() ? origin : origin + L" after " + left);
    }
    void finished(const installer::Outcome& outcome) noexcept override {
        std::lock_guard<std::mutex> hold(lock_);
        ++state_.finished;
        state_.outcome = outcome;
    }

    State state() const {
        std::lock_guard<std::mutex> hold(lock_);
        return state_;
    }
    // Whether the run ended as a worker must: finished once, and nothing after it.
    bool finishedOnceLast() const {
        std::lock_guard<std::mutex> hold(lock_);
        return state_.finished == 1 && !state_.reportAfterFinished;
    }
    // The last phase reported, or none.
    Phase lastPhase() const {
        std::lock_guard<std::mutex> hold(lock_);
        return state_.phases.empty() ? Phase{installer::Phase::kContactingServer, L"(none)"} : state_.phases.back();
    }
    void clear() {
        std::lock_guard<std::mutex> hold(lock_);
        state_ = State();
    }

private:
    void note() {
        if (state_.finished > 0) state_.reportAfterFinished = true;
    }

    mutable std::mutex lock_;
    State state_;
};

}  // namespace testsupport
