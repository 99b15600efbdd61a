#include "ui/speed_meter.h"

#include <cmath>

namespace ui {

void SpeedMeter::sample(uint32_t now, uint64_t bytesDone, int64_t bytesTotal) {
    if (bytesTotal != total_ || (!samples_.empty() && bytesDone < samples_.back().bytes)) reset();
    if (samples_.empty()) {
        firstTick_ = now;
        total_ = bytesTotal;
    }
    samples_.push_back({now, bytesDone});
    // Keep the newest sample that is at least a window old: it anchors the window's start.
    while (samples_.size() > 2 && now - samples_[1].tick >= kSpeedWindowMs) samples_.pop_front();
}

void SpeedMeter::reset() {
    samples_.clear();
    total_ = 0;
}

double SpeedMeter::bytesPerSecond() const {
    if (samples_.size() < 2) return -1.0;
    const Sample& newest = samples_.back();
    if (newest.tick - firstTick_ < kSpeedFirstEstimateMs) return -1.0;
    const Sample& oldest = samples_.front();
    const uint32_t elapsed = newest.tick - oldest.tick;
    if (elapsed == 0) return -1.0;
    return static_cast<double>(newest.bytes - oldest.bytes) * 1000.0 / elapsed;
}

int32_t SpeedMeter::secondsLeft() const {
    const double speed = bytesPerSecond();
    if (speed <= 0.0 || total_ <= 0) return -1;
    const uint64_t done = samples_.back().bytes;
    const uint64_t total = static_cast<uint64_t>(total_);
    if (done >= total) return 0;
    const double seconds = std::ceil(static_cast<double>(total - done) / speed);
    return seconds > 2e9 ? -1 : static_cast<int32_t>(seconds);
}

}  // namespace ui
