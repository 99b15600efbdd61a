#include "base/byte_size.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kKiB = 1024, kMiB = 1024 * kKiB, kGiB = 1024 * kMiB;

TEST(ByteSize, SwitchesUnitAtEachBinaryBoundary) {
    EXPECT_EQ(base::formatBytes(0), L"0 KB");
    EXPECT_EQ(base::formatBytes(1023), L"1 KB");
    EXPECT_EQ(base::formatBytes(kKiB), L"1 KB");
    EXPECT_EQ(base::formatBytes(kMiB - 1), L"1024 KB");
    EXPECT_EQ(base::formatBytes(kMiB), L"1 MB");
    EXPECT_EQ(base::formatBytes(kGiB - 1), L"1024 MB");
    EXPECT_EQ(base::formatBytes(kGiB), L"1.00 GB");
    EXPECT_EQ(base::formatBytes(kGiB + kGiB / 2), L"1.50 GB");
    // Not the decimal units of a drive's label: 1.5 GB decimal is still 1.40 GB here.
    EXPECT_EQ(base::formatBytes(1500000000), L"1.40 GB");
}

}  // namespace
