#include "ui/animation.h"

#include <cmath>

namespace ui {

bool splashOver(uint32_t now, uint32_t start) {
    return now - start > kSplashMs - 1;
}

bool skipSplash(uint32_t now, uint32_t& start) {
    if (now - start < kSplashSkipAfterMs) return false;
    start = now - kSplashMs;
    return true;
}

float easeToward(float displayed, float target) {
    displayed += (target - displayed) * 0.14f;
    if (std::fabs(target - displayed) < 0.0008f) displayed = target;
    return displayed;
}

}  // namespace ui
