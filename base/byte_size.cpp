#include "base/byte_size.h"

#include <cwchar>

namespace base {

std::wstring formatBytes(uint64_t bytes) {
    constexpr double kKiB = 1024.0, kMiB = 1024.0 * kKiB, kGiB = 1024.0 * kMiB;
    const double value = static_cast<double>(bytes);
    wchar_t text[32];
    const int n = value >= kGiB   ? std::swprintf(text, 32, L"%.2f GB", value / kGiB)
                  : value >= kMiB ? std::swprintf(text, 32, L"%.0f MB", value / kMiB)
                                  : std::swprintf(text, 32, L"%.0f KB", value / kKiB);
    return n < 0 ? std::wstring() : std::wstring(text, static_cast<size_t>(n));
}

}  // namespace base
