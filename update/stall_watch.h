#pragma once
// The slowest a download may go. Each read has a timeout, but a server (or something between
// it and the player) that sends a byte now and then keeps every read inside it and a run
// waiting forever. So a transfer that brings fewer than kStallMinBytesPerSecond on average
// over kStallWindowMs counts as stalled: a resumable body drops the connection and asks for
// the rest (update/resuming_stream.h), anything else fails with "download stalled".

#include <cstdint>
#include <string>

namespace pcupd {

constexpr uint32_t kStallMinBytesPerSecond = 1024;
constexpr uint32_t kStallWindowMs = 60 * 1000;

struct StallLimit {
    uint32_t minBytesPerSecond = kStallMinBytesPerSecond;
    uint32_t windowMs = kStallWindowMs;
};

// Watches one connection's bytes against a limit, on the thread that reads them.
class StallWatch {
public:
    explicit StallWatch(const StallLimit& limit = StallLimit{}) : limit_(limit) { restart(); }

    // Counts from now: a new connection gets a full window before it is judged.
    void restart();
    // Adds `bytes` just received. True when a window has gone by since the last judgement
    // and the bytes in it average below the limit; the next window starts either way.
    bool stalled(uint64_t bytes);

    const StallLimit& limit() const { return limit_; }

private:
    StallLimit limit_;
    uint64_t windowStart_ = 0;  // GetTickCount64
    uint64_t bytes_ = 0;        // received since windowStart_
};

// "download stalled for URL (under N bytes/s for S s)".
std::string stalledText(const std::string& url, const StallLimit& limit);

}  // namespace pcupd
