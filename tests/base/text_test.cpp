#include "base/text.h"

#include <gtest/gtest.h>

TEST(Text, RoundTripsAcrossPlanes) {
    // ASCII, Latin-1, CJK and a character outside the BMP (a surrogate pair in UTF-16).
    const std::string utf8 = "Orvane \xC3\x84pfel \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xAE";
    const std::wstring wide = base::toWide(utf8);
    EXPECT_EQ(wide, L"Orvane \u00C4pfel \u65E5\u672C \U0001F3AE");
    EXPECT_EQ(base::toUtf8(wide), utf8);
}

TEST(Text, EmptyAndEmbeddedNul) {
    EXPECT_EQ(base::toWide(""), L"");
    EXPECT_EQ(base::toUtf8(L""), "");
    EXPECT_EQ(base::toWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Text, InvalidUtf8BecomesReplacementCharacter) {
    const std::wstring wide = base::toWide("a\xFF" "b");
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[0], L'a');
    EXPECT_EQ(wide[1], L'\xFFFD');
    EXPECT_EQ(wide[2], L'b');
}
