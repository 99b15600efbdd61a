#include "update/parallel_stream.h"

#include <algorithm>
#include <cstring>

namespace pcupd {
namespace {

// What a window thread reads at a time: small enough that the reader sees a filling window
// move, large enough that the lock taken for each read costs nothing.
constexpr int32_t kFetchSlice = 256 * 1024;

}  // namespace

ParallelStream::ParallelStream(const TransferOptions& options)
    : options_(options), sequential_(options) {}

int64_t ParallelStream::windowLength(int64_t window) const {
    return std::min(windowBytes_, total_ - window * windowBytes_);
}

bool ParallelStream::open(const std::string& url, base::Failure& failure) {
    close();
    if (!sequential_.open(url, failure)) return false;
    url_ = url;
    validator_ = sequential_.validator();
    validatorHost_ = sequential_.host();
    total_ = sequential_.contentLength();
    windowBytes_ = std::max<int64_t>(options_.windowBytes, 1);
    if (options_.connections < 2 || !sequential_.resumable() || validator_.empty() ||
        total_ <= windowBytes_)
        return true;

    windowCount_ = (total_ + windowBytes_ - 1) / windowBytes_;
    // The first window comes off the first response, so the threads start at the second:
    // windows 1 to slots - 1 while the reader is in the first, then one slot each.
    const int64_t slots = std::min<int64_t>(options_.connections, windowCount_);
    slots_.resize(static_cast<size_t>(slots));
    for (int64_t window = 1; window <= slots && window < windowCount_; ++window) {
        slots_[static_cast<size_t>(window % slots)].bytes.reset(new char[static_cast<size_t>(windowBytes_)]);
        threads_.emplace_back([this] { fetchWindows(); });
    }
    return true;
}

void ParallelStream::stopThreads() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    roomSignal_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

void ParallelStream::close() {
    stopThreads();
    slots_.clear();
    sequential_.close();
    url_.clear();
    validator_.clear();
    total_ = -1;
    position_ = windowBytes_ = windowCount_ = 0;
    validatorHost_ = 0;
    nextWindow_ = 1;
    head_ = 0;
    stopping_ = stalled_ = false;
    hostsFailure_ = base::Failure();
}

base::Failure ParallelStream::readFailure(const std::string& otherwise) const {
    if (hostsFailure_.failed()) return hostsFailure_;
    if (stalled_) return base::Failure(base::FailureKind::kStalled, stalledText(url_, options_.stall));
    return base::Failure(base::FailureKind::kConnection, otherwise);
}

int32_t ParallelStream::read(void* buffer, int32_t length) {
    if (length < 1) return -1;
    char* const out = static_cast<char*>(buffer);
    if (windowCount_ > 0 && position_ >= windowBytes_) return readWindow(out, length);
    if (windowCount_ > 0)  // the first window, off the first response: not a byte past it
        length = static_cast<int32_t>(std::min<int64_t>(length, windowBytes_ - position_));
    const int32_t got = sequential_.read(out, length);
    stalled_ = sequential_.stalled();
    if (got <= 0) {
        noteHostsFailure(sequential_);
        return got;
    }
    position_ += got;
    if (windowCount_ > 0 && position_ == windowBytes_) {
        sequential_.close();  // the rest of this response is what the threads fetch
        {
            std::lock_guard<std::mutex> hold(lock_);
            head_ = 1;
        }
        roomSignal_.notify_all();
    }
    return got;
}

int32_t ParallelStream::readWindow(char* buffer, int32_t length) {
    if (position_ >= total_) return 0;
    const int64_t window = position_ / windowBytes_, offset = position_ - window * windowBytes_;
    Slot& slot = slots_[static_cast<size_t>(window) % slots_.size()];
    int64_t filled = 0;
    {
        std::unique_lock<std::mutex> hold(lock_);
        filledSignal_.wait(hold, [&] { return slot.window == window && (slot.filled > offset || slot.ended); });
        filled = slot.filled;
        if (filled == offset) {  // ended short: the window could not be fetched
            stalled_ = slot.stalled;
            hostsFailure_ = slot.failure;
            if (!slot.refused) return -1;
        }
    }
    if (filled == offset) return fallBack(buffer, length);
    const int32_t got = static_cast<int32_t>(std::min<int64_t>(length, filled - offset));
    // The thread writes only past `filled`, so these bytes are the reader's to copy unlocked.
    std::memcpy(buffer, slot.bytes.get() + offset, static_cast<size_t>(got));
    position_ += got;
    stalled_ = false;
    if (offset + got == windowLength(window)) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            head_ = window + 1;
        }
        roomSignal_.notify_all();
    }
    return got;
}

// The server stopped answering ranges: the threads' windows are no use any more. One plain
// GET can still bring the rest, after the bytes the reader already has. Whatever happens,
// the stream reads on one connection from here.
int32_t ParallelStream::fallBack(char* buffer, int32_t length) {
    stopThreads();
    slots_.clear();
    windowCount_ = 0;
    base::Failure ignored;
    if (!sequential_.open(url_, ignored)) return -1;
    // Another host's validator says nothing of this one's: there the digest-named bytes do.
    if (sequential_.contentLength() != total_ ||
        (sequential_.host() == validatorHost_ && sequential_.validator() != validator_)) {
        sequential_.close();  // another file now: nothing of it goes after the old bytes
        return -1;
    }
    std::vector<char> skipped(static_cast<size_t>(std::min<int64_t>(position_, kFetchSlice)));
    for (int64_t left = position_; left > 0;) {
        const int32_t got = sequential_.read(skipped.data(), static_cast<int32_t>(std::min<int64_t>(left, kFetchSlice)));
        if (got <= 0) {
            stalled_ = sequential_.stalled();
            noteHostsFailure(sequential_);
            return -1;
        }
        left -= got;
    }
    return read(buffer, length);
}

// A window thread: takes the next window as soon as the reader leaves room for it.
void ParallelStream::fetchWindows() noexcept {
    for (;;) {
        int64_t window = 0;
        Slot* slot = nullptr;
        {
            std::unique_lock<std::mutex> hold(lock_);
            const int64_t depth = static_cast<int64_t>(slots_.size());
            roomSignal_.wait(hold, [&] {
                return stopping_ || nextWindow_ >= windowCount_ || nextWindow_ < head_ + depth;
            });
            if (stopping_ || nextWindow_ >= windowCount_) return;
            window = nextWindow_++;
            slot = &slots_[static_cast<size_t>(window % depth)];
            slot->window = window;
            slot->filled = 0;
            slot->ended = slot->stalled = slot->refused = false;
            slot->failure = base::Failure();
        }
        try {
            fetch(window, *slot);
        } catch (...) {  // out of memory in the transport: the window fails as a cut one
            std::lock_guard<std::mutex> hold(lock_);
            if (slot->window == window) slot->ended = true;
        }
        filledSignal_.notify_all();
    }
}

void ParallelStream::fetch(int64_t window, Slot& slot) {
    ResumingStream stream(options_);
    const int64_t first = window * windowBytes_, length = windowLength(window);
    bool open = stream.openRange(url_, first, first + length - 1, total_, validator_, validatorHost_);
    for (int64_t filled = 0; open && filled < length;) {
        const int32_t got = stream.read(slot.bytes.get() + filled,
                                        static_cast<int32_t>(std::min<int64_t>(length - filled, kFetchSlice)));
        if (got <= 0) break;
        filled += got;
        {
            std::lock_guard<std::mutex> hold(lock_);
            slot.filled = filled;
            open = !stopping_;
        }
        filledSignal_.notify_all();
    }
    std::lock_guard<std::mutex> hold(lock_);
    // A whole window may already be read and its slot handed to a later window by now: what
    // this thread says of its own window must not land on that one.
    if (slot.window != window) return;
    slot.ended = true;
    slot.stalled = stream.stalled();
    slot.refused = stream.refused();
    if (stream.hosts() > 1 && stream.failure().failed() && stream.received() < length)
        slot.failure = stream.readFailure(std::string());
}

void ParallelStream::noteHostsFailure(const ResumingStream& stream) {
    if (stream.hosts() > 1 && stream.failure().failed() && position_ < total_)
        hostsFailure_ = stream.readFailure(std::string());
}

}  // namespace pcupd
