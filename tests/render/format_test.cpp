#include "render/format.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

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
