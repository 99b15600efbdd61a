#include "render/format.h"

#include <cwchar>

namespace render {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;  // as base::formatBytes counts

template <typename... Args>
std::wstring printf(const wchar_t* format, Args... args) {
    wchar_t text[64];
    int n = std::swprintf(text, sizeof text / sizeof text[0], format, args...);
    return n < 0 ? std::wstring() : std::wstring(text, static_cast<size_t>(n));
}

}  // namespace

std::wstring formatSpeed(double bytesPerSecond) {
    return printf(L"  %.1f MB/s", bytesPerSecond / kMiB);
}

std::wstring formatTimeLeft(int32_t seconds) {
    // A stale estimate can dip below zero for a tick; "0:00" reads better than "-1:59".
    if (seconds < 0) seconds = 0;
    return printf(L"  about %d:%02d remaining", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
}

}  // namespace render
