#include "base/safe_path.h"

#include <gtest/gtest.h>

using base::isSafeRelativePath;

TEST(SafePath, AcceptsOrdinaryRelativePaths) {
    for (const char* path : {"Engine.exe", "data/maps/a.pak", "data\\maps\\a.pak", "a/b\\c.d.e",
                             ".hidden", "a..b", "con2", "comx", "com10", "lpt", "console.log",
                             "nul_file", "\xE6\x97\xA5\xE6\x9C\xAC/\xC3\x84.dat", "a b/c d"})
        EXPECT_TRUE(isSafeRelativePath(path)) << path;
}

TEST(SafePath, RejectsEverythingThatLeavesTheFolder) {
    for (const char* path :
         {"", "/", "\\", "/etc/passwd", "\\Windows\\x.dll", "C:\\x", "C:x", "c:/x",
          "\\\\server\\share\\x", "//server/share/x", "\\\\?\\C:\\x", "\\\\.\\PhysicalDrive0",
          "..", "../x", "..\\..\\Windows\\x.dll", "a/../../x", "a/..", "./a", "a/./b", "a//b",
          "a\\\\b", "a/", "a\\"})
        EXPECT_FALSE(isSafeRelativePath(path)) << path;
}

TEST(SafePath, RejectsStreamsDevicesAndNamesWindowsAlters) {
    for (const char* path :
         {"name:stream", "a.exe::$DATA", "CON", "con", "nul.txt", "NUL.tar.gz", "dir/Aux",
          "COM1", "com9.log", "LPT9", "lpt0", "CONIN$", "conout$.x", "CON .txt", "prn ",
          "COM\xC2\xB9", "lpt\xC2\xB3.txt", "trailing.", "trailing ", "dir./a", "dir /a",
          "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\x01" "b",
          "a\tb"})
        EXPECT_FALSE(isSafeRelativePath(path)) << path;
    EXPECT_FALSE(isSafeRelativePath(std::string("a\0b", 3)));
}
