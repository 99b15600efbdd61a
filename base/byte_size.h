#pragma once
// Sizes as the player reads them, in Windows' own units: binary multiples named KB, MB and
// GB, as Explorer shows them, so "1.50 GB" here is what the player sees in the drive's
// properties. The working screen's progress line and the disk-space message both use it.

#include <cstdint>
#include <string>

namespace base {

// "%.2f GB" from 1 GiB on, "%.0f MB" from 1 MiB on, else "%.0f KB".
std::wstring formatBytes(uint64_t bytes);

}  // namespace base
