#include "render/format.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kKiB = 1024, kMiB = 1024 * kKiB, kGiB = 1024 * kMiB;

TEST(Format, SizeSwitchesUnitAtEachBinaryBoundary) {
    EXPECT_EQ(render::formatSize(0), L"0 KB");
    EXPECT_EQ(render::formatSize(1023), L"1 KB");
    EXPECT_EQ(render::formatSize(kKiB), L"1 KB");
    EXPECT_EQ(render::formatSize(kMiB - 1), L"1024 KB");
    EXPECT_EQ(render::formatSize(kMiB), L"1 MB");
    EXPECT_EQ(render::formatSize(kGiB - 1), L"1024 MB");
    EXPECT_EQ(render::formatSize(kGiB), L"1.00 GB");
    EXPECT_EQ(render::formatSize(kGiB + kGiB / 2), L"1.50 GB");
}

TEST(Format, SpeedInMebibytesWithLeadingGap) {
    EXPECT_EQ(render::formatSpeed(0.0), L"  0.0 MB/s");
    EXPECT_EQ(render::formatSpeed(2.5 * kMiB), L"  2.5 MB/s");
}

TEST(Format, TimeLeftAsMinutesAndSeconds) {
    EXPECT_EQ(render::formatTimeLeft(0), L"  about 0:00 remaining");
    EXPECT_EQ(render::formatTimeLeft(59), L"  about 0:59 remaining");
    EXPECT_EQ(render::formatTimeLeft(61), L"  about 1:01 remaining");
    EXPECT_EQ(render::formatTimeLeft(3725), L"  about 62:05 remaining");
}

}  // namespace
