#pragma once
// Time on the window: the splash and the eased progress bar.

#include <cstdint>

namespace ui {

constexpr uint32_t kTimerId = 1;
constexpr uint32_t kTickMs = 16;
constexpr uint32_t kSplashMs = 1500;
constexpr uint32_t kSplashSkipAfterMs = 500;  // a click this early is probably not meant for it

// Whether the splash that began at `start` is over at `now` (tick counts; wrap-safe).
bool splashOver(uint32_t now, uint32_t start);

// Skips the splash when it has shown long enough: moves `start` back so that the next tick
// ends it. False (and `start` unchanged) before kSplashSkipAfterMs.
bool skipSplash(uint32_t now, uint32_t& start);

// One tick of the bar's easing toward `target`: 14% of the way, snapping onto the target
// once within 0.0008 of it.
float easeToward(float displayed, float target);

}  // namespace ui
