#include "base/long_path.h"

#include <windows.h>

#include <gtest/gtest.h>

TEST(LongPath, OnlyLongAbsolutePathsGetThePrefix) {
    const std::wstring tail(300, L'a');
    EXPECT_EQ(base::extendedLengthPath(L"C:\\Games\\x.pak"), L"C:\\Games\\x.pak");
    EXPECT_EQ(base::extendedLengthPath(L"C:\\" + tail), L"\\\\?\\C:\\" + tail);
    EXPECT_EQ(base::extendedLengthPath(L"\\\\server\\share\\" + tail),
              L"\\\\?\\UNC\\server\\share\\" + tail);
    EXPECT_EQ(base::extendedLengthPath(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
    EXPECT_EQ(base::extendedLengthPath(L"relative\\" + tail), L"relative\\" + tail);
    // 247 characters is still fine for CreateDirectoryW; 248 is not.
    EXPECT_EQ(base::extendedLengthPath(L"C:\\" + std::wstring(244, L'b')).size(), 247u);
    EXPECT_EQ(base::extendedLengthPath(L"C:\\" + std::wstring(245, L'b')).size(), 252u);
}

TEST(LongPath, FullPathNormalises) {
    EXPECT_EQ(base::fullPath(L"C:\\Games\\.\\Orvane\\..\\x/y"), L"C:\\Games\\x\\y");
    EXPECT_EQ(base::fullPath(L"D:"), L"D:\\");  // the drive, not the folder last current on it
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring expected = current;
    if (expected.back() != L'\\') expected += L'\\';
    EXPECT_EQ(base::fullPath(L"rel"), expected + L"rel");
}
