#include <gtest/gtest.h>

#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/url_text.h"

using orvpak::entryPathProblem;
using orvpak::isValidUtf8;
using orvpak::normalizeBaseUrl;
using orvpak::percentEncodePath;

TEST(Utf8, AcceptsWellFormedAndRefusesEverythingElse) {
    for (const char* text : {"", "plain", "\xC3\xBC", "\xE6\x97\xA5", "\xF0\x9F\x8E\xAE",
                             "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF"})
        EXPECT_TRUE(isValidUtf8(text)) << text;
    for (const char* text : {"\xFF", "\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF",
                             "\xF0\x80\x80\xAF", "\xED\xA0\x80", "\xED\xBF\xBF",
                             "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xC3", "\xE6\x97",
                             "\xE6\x97x", "\xF0\x9F\x8E"})
        EXPECT_FALSE(isValidUtf8(text)) << text;
}

TEST(EntryPath, AcceptsUpTo1024BytesAndRefusesWhatTheInstallerWould) {
    EXPECT_EQ(entryPathProblem(std::string(1024, 'a')), "");
    EXPECT_NE(entryPathProblem(std::string(1025, 'a')).find("1025 bytes"), std::string::npos);
    EXPECT_EQ(entryPathProblem("data/maps/a b.pak"), "");
    EXPECT_EQ(entryPathProblem("\xC3\xBC" "ber/x"), "");
    EXPECT_EQ(entryPathProblem("a\\b"), "contains a backslash");
    EXPECT_EQ(entryPathProblem("a\xFF"), "is not valid UTF-8");
    for (const char* path : {"", "../x", "a/../b", "/x", "C:x", "con", "LPT1.log", "x.", "x ",
                             "a:b", "a*b", "a//b"})
        EXPECT_NE(entryPathProblem(path), "") << path;
}

TEST(Url, EncodesEverySegmentByteOutsideTheUnreservedSet) {
    EXPECT_EQ(percentEncodePath("Az09-._~/x"), "Az09-._~/x");
    EXPECT_EQ(percentEncodePath("my file+(1)%.pak"), "my%20file%2B%281%29%25.pak");
    EXPECT_EQ(percentEncodePath("\xC3\xBC" "ber/\xE6\x97\xA5"), "%C3%BCber/%E6%97%A5");
    EXPECT_EQ(percentEncodePath("a#b?c;d=e&f@g'h!"), "a%23b%3Fc%3Bd%3De%26f%40g%27h%21");
}

TEST(Url, NormalizesOnlyHttpAndHttpsBases) {
    std::string normalized, error;
    ASSERT_TRUE(normalizeBaseUrl("https://cdn.test/game/", normalized, error));
    EXPECT_EQ(normalized, "https://cdn.test/game");
    ASSERT_TRUE(normalizeBaseUrl("HTTP://127.0.0.1:8080//", normalized, error));
    EXPECT_EQ(normalized, "HTTP://127.0.0.1:8080");
    ASSERT_TRUE(normalizeBaseUrl("http://h", normalized, error));
    EXPECT_EQ(normalized, "http://h");
    for (const char* url : {"", "ftp://h/x", "cdn.test/game", "http:/h", "http://", "https:///x",
                            "http:///", "http://h/a b", "http://h/?x=1", "http://h/#x",
                            "http://h/\xC3\xBC"}) {
        normalized = "untouched";
        EXPECT_FALSE(normalizeBaseUrl(url, normalized, error)) << url;
        EXPECT_EQ(normalized, "untouched");
        EXPECT_NE(error.find("--base-url"), std::string::npos) << error;
    }
}
