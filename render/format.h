#pragma once
// The texts of the progress line: sizes, speed and time left.

#include <cstdint>
#include <string>

namespace render {

// "%.2f GB" from 1 GiB on, "%.0f MB" from 1 MiB on, else "%.0f KB" (binary units).
std::wstring formatSize(uint64_t bytes);
// "  %.1f MB/s".
std::wstring formatSpeed(double bytesPerSecond);
// "  about %d:%02d remaining" (minutes, seconds).
std::wstring formatTimeLeft(int32_t seconds);

}  // namespace render
