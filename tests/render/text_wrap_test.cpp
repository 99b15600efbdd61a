#include "render/text_wrap.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::wstring>;

// Every character one unit wide.
float monospace(const std::wstring& s) { return static_cast<float>(s.size()); }

std::wstring trimRight(const std::wstring& s) {
    size_t end = s.find_last_not_of(L' ');
    return end == std::wstring::npos ? L"" : s.substr(0, end + 1);
}

// The lines are the text in order, cut only at a dropped space, a dropped line break or
// inside a word, and none is wider than `width` unless it is one character (or pair).
void expectFaithful(const std::wstring& text, const Lines& lines, float width) {
    size_t at = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(text.compare(at, lines[i].size(), lines[i]), 0) << "line " << i;
        const std::wstring shown = trimRight(lines[i]);
        const bool oneCharacter =
            shown.size() <= 1 || (shown.size() == 2 && shown[0] >= 0xD800 && shown[0] <= 0xDBFF);
        EXPECT_TRUE(oneCharacter || monospace(shown) <= width) << "line " << i;
        at += lines[i].size();
        if (i + 1 == lines.size()) break;
        if (text.compare(at, 2, L"\r\n") == 0) {
            at += 2;
        } else if (text[at] == L' ' || text[at] == L'\n') {
            ++at;
        }
    }
    EXPECT_EQ(at, text.size());
}

TEST(WrapText, BreaksAtSpacesAndDropsThem) {
    EXPECT_EQ(render::wrapText(L"the quick brown fox jumps", 10, monospace),
              (Lines{L"the quick", L"brown fox", L"jumps"}));
    EXPECT_EQ(render::wrapText(L"", 10, monospace), (Lines{L""}));
}

TEST(WrapText, LongPathBreaksAfterSeparators) {
    const std::wstring path = L"C:\\Users\\Player\\Games\\OrvaneOnline\\data\\maps.pak";
    const Lines lines = render::wrapText(L"cannot write " + path, 16, monospace);
    EXPECT_EQ(lines, (Lines{L"cannot write", L"C:\\Users\\Player\\", L"Games\\", L"OrvaneOnline\\",
                            L"data\\maps.pak"}));
}

TEST(WrapText, OverlongRunBreaksBetweenCharactersAsLastResort) {
    EXPECT_EQ(render::wrapText(L"ab cdefghijklmnopqrstuvwxy", 10, monospace),
              (Lines{L"ab", L"cdefghijkl", L"mnopqrstuv", L"wxy"}));
    // A width below one character still moves on, one character a line.
    EXPECT_EQ(render::wrapText(L"abc", 0.5f, monospace), (Lines{L"a", L"b", L"c"}));
}

TEST(WrapText, LineBreaksStartNewLines) {
    EXPECT_EQ(render::wrapText(L"one\ntwo three\r\n\nfour", 20, monospace),
              (Lines{L"one", L"two three", L"", L"four"}));
    // No line starts with a dash: it goes down with the word before it.
    EXPECT_EQ(render::wrapText(L"on the desk \x2014 and play", 12, monospace),
              (Lines{L"on the", L"desk \x2014 and", L"play"}));
}

TEST(WrapText, KeepsEveryCharacterInOrder) {
    const std::wstring texts[] = {
        L"Install failed: could not create C:\\Users\\Player\\AppData\\Local\\Games\\Orvane"
        L"Online\\bin\\x64\\Engine.exe (access denied)",
        L"two  spaces,   three   and a trailing one ",
        L"https://updates.example.net/orvane/manifest.json?channel=live&build=1234567890",
        L"line\none\r\nline two\n\n\nend",
        L"\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00",  // surrogate pairs stay whole
    };
    for (const std::wstring& text : texts) {
        for (float width : {1.0f, 3.0f, 7.0f, 12.0f, 40.0f}) {
            SCOPED_TRACE(width);
            const Lines lines = render::wrapText(text, width, monospace);
            expectFaithful(text, lines, width);
            for (const std::wstring& line : lines) {
                EXPECT_FALSE(!line.empty() && line.back() >= 0xD800 && line.back() <= 0xDBFF);
            }
        }
    }
}

TEST(Elide, MiddleKeepsBothEndsWithinWidth) {
    const std::wstring path = L"D:\\Games\\Very Long Folder Name Indeed\\Orvane Online Stuff";
    EXPECT_EQ(render::elideMiddle(path, 200, monospace), path);
    const std::wstring shown = render::elideMiddle(path, 20, monospace);
    EXPECT_EQ(shown.size(), 20u);
    EXPECT_EQ(shown.substr(0, 5), path.substr(0, 5));
    EXPECT_EQ(shown.substr(shown.size() - 8), path.substr(path.size() - 8));
    EXPECT_NE(shown.find(L'\x2026'), std::wstring::npos);
    EXPECT_EQ(render::elideEnd(L"Downloading client", 8, monospace), L"Downloa\x2026");
    EXPECT_EQ(render::elideEnd(L"abc", 0.5f, monospace), L"");
}

}  // namespace
