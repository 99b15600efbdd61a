#include "base/byte_size.h"

#include <windows.h>

#include "base/disk_space.h"

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

// The window and the worker decide with these alike: one byte either side of the need.
TEST(DiskSpace, TheNeedAndTheDecisionAtItsEdges) {
    using base::Room;
    EXPECT_EQ(base::spaceNeeded(0), 32 * kMiB);
    EXPECT_EQ(base::spaceNeeded(5000 * kMiB), 5100 * kMiB + 32 * kMiB);
    EXPECT_EQ(base::spaceNeeded(UINT64_MAX - 10), UINT64_MAX);  // saturates, never wraps small

    const uint64_t client = 723 * kMiB, need = base::spaceNeeded(client);
    EXPECT_EQ(base::roomFor(client, need), Room::kEnough);
    EXPECT_EQ(base::roomFor(client, need - 1), Room::kShort);
    EXPECT_EQ(base::roomFor(client, client), Room::kShort);  // the margin counts
    EXPECT_EQ(base::roomFor(std::nullopt, need), Room::kUnknown);
    EXPECT_EQ(base::roomFor(client, std::nullopt), Room::kUnknown);
    EXPECT_EQ(base::roomFor(0, 0), Room::kShort);
}

TEST(DiskSpace, AFolderThatIsNotThereYetAsksTheVolumeAboveIt) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    base::Volume here, below;
    ASSERT_TRUE(base::volumeOf(temp, here));
    ASSERT_TRUE(base::volumeOf(std::wstring(temp) + L"not\\made\\yet\\OrvaneOnline", below));
    EXPECT_EQ(below.name, here.name);
    EXPECT_GT(below.freeBytes, 0u);
    EXPECT_EQ(here.name, std::wstring(temp, 2));  // "C:", as the player knows the drive

    // A drive that is not there has nothing to say.
    const DWORD drives = GetLogicalDrives();
    wchar_t unused = L'Z';
    while (unused > L'D' && (drives & (1u << (unused - L'A')))) --unused;
    ASSERT_GT(unused, L'D');
    base::Volume none;
    EXPECT_FALSE(base::volumeOf(std::wstring(1, unused) + L":\\Games\\OrvaneOnline", none));
}
