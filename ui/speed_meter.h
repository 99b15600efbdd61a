#pragma once
// Download speed over the last few seconds, and the time left at that speed. Measured over a
// sliding window rather than since the start, so a stall or a burst shows soon and one slow
// minute early on does not skew the estimate for the rest of the run.

#include <cstdint>
#include <deque>

namespace ui {

constexpr uint32_t kSpeedWindowMs = 5000;
constexpr uint32_t kSpeedFirstEstimateMs = 1000;  // no figures before this much data

class SpeedMeter {
public:
    // Records that `bytesDone` of `bytesTotal` are done at tick `now`. A different total, or
    // fewer bytes than before, is a new transfer and starts the measurement again.
    void sample(uint32_t now, uint64_t bytesDone, int64_t bytesTotal);
    void reset();

    // Bytes per second over the window; negative until there is a second of data.
    double bytesPerSecond() const;
    // Whole seconds left at that speed, rounded up; negative while unknown (no estimate yet,
    // a stall, or no total).
    int32_t secondsLeft() const;

private:
    struct Sample {
        uint32_t tick;
        uint64_t bytes;
    };
    std::deque<Sample> samples_;
    uint32_t firstTick_ = 0;
    int64_t total_ = 0;
};

}  // namespace ui
