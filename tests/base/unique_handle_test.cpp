#include "base/unique_handle.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// A handle opened without sharing blocks every other open until it is closed.
base::UniqueFile openExclusive(const std::wstring& path) {
    return base::UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool isOpen(const std::wstring& path) { return !openExclusive(path); }

}  // namespace

TEST(UniqueHandle, ClosesOnScopeExitAndReset) {
    testsupport::TempDir dir;
    const std::wstring path = (dir / L"a.bin").wstring();
    {
        base::UniqueFile file = openExclusive(path);
        ASSERT_TRUE(file);
        EXPECT_TRUE(isOpen(path));
    }
    EXPECT_FALSE(isOpen(path));

    base::UniqueFile file = openExclusive(path);
    ASSERT_TRUE(file);
    file.reset();
    EXPECT_FALSE(file);
    EXPECT_FALSE(isOpen(path));
}

TEST(UniqueHandle, MoveTransfersOwnershipOnce) {
    testsupport::TempDir dir;
    const std::wstring path = (dir / L"a.bin").wstring();
    base::UniqueFile first = openExclusive(path);
    base::UniqueFile second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    EXPECT_TRUE(isOpen(path));

    base::UniqueFile third;
    third = std::move(second);
    EXPECT_TRUE(third);
    EXPECT_TRUE(isOpen(path));
    third = base::UniqueFile();
    EXPECT_FALSE(isOpen(path));
}

TEST(UniqueHandle, PutFreesTheOldHandleAndReleaseKeepsItOpen) {
    testsupport::TempDir dir;
    const std::wstring a = (dir / L"a.bin").wstring(), b = (dir / L"b.bin").wstring();
    base::UniqueFile file = openExclusive(a);
    *file.put() = CreateFileW(b.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_FALSE(isOpen(a));
    EXPECT_TRUE(isOpen(b));

    HANDLE raw = file.release();
    EXPECT_FALSE(file);
    EXPECT_TRUE(isOpen(b));
    CloseHandle(raw);
    EXPECT_FALSE(isOpen(b));
}

TEST(UniqueHandle, NoneIsWhatEachApiReturnsOnFailure) {
    EXPECT_EQ(base::UniqueFile().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(base::UniqueFind().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(base::UniqueHandle().get(), nullptr);
    EXPECT_EQ(base::UniqueRegKey().get(), nullptr);
    testsupport::TempDir dir;
    const base::UniqueFile missing = openExclusive((dir / L"none" / L"a.bin").wstring());
    EXPECT_FALSE(missing);
}

TEST(ScopeExit, RunsUnlessReleased) {
    int runs = 0;
    { base::ScopeExit guard([&] { ++runs; }); }
    EXPECT_EQ(runs, 1);
    {
        base::ScopeExit guard([&] { ++runs; });
        guard.release();
    }
    EXPECT_EQ(runs, 1);
}
