#pragma once
// The texts of the progress line: speed and time left (sizes: base/byte_size.h).

#include <cstdint>
#include <string>

namespace render {

// "  %.1f MB/s".
std::wstring formatSpeed(double bytesPerSecond);
// "  about %d:%02d remaining" (minutes, seconds).
std::wstring formatTimeLeft(int32_t seconds);

}  // namespace render
