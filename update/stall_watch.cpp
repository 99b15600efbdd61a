#include "update/stall_watch.h"

#include <windows.h>

namespace pcupd {

void StallWatch::restart() {
    windowStart_ = GetTickCount64();
    bytes_ = 0;
}

bool StallWatch::stalled(uint64_t bytes) {
    bytes_ += bytes;
    const uint64_t elapsed = GetTickCount64() - windowStart_;
    if (elapsed < limit_.windowMs) return false;
    // Judged over the time that really went by: one read may have blocked past the window.
    const bool slow = bytes_ * 1000 < uint64_t{limit_.minBytesPerSecond} * elapsed;
    restart();
    return slow;
}

std::string stalledText(const std::string& url, const StallLimit& limit) {
    const uint32_t seconds = (limit.windowMs + 999) / 1000;
    return "download stalled for " + url + " (under " + std::to_string(limit.minBytesPerSecond) +
           " bytes/s for " + std::to_string(seconds) + " s)";
}

}  // namespace pcupd
