// The window's languages: which one a run speaks, the tables' completeness, the
// pseudo-language, and numbers as each language writes them.

#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <set>
#include <string>

#include "lang/language.h"
#include "lang/numbers.h"
#include "lang/texts.h"
#include "render/fonts.h"

namespace {

using lang::Language;
using lang::Text;

constexpr uint64_t kMiB = 1024 * 1024;

std::set<std::wstring> placesIn(const std::wstring& text) {
    std::set<std::wstring> places;
    const std::wregex place(L"\\{[0-9]\\}");
    for (auto it = std::wsregex_iterator(text.begin(), text.end(), place); it != std::wsregex_iterator(); ++it)
        places.insert(it->str());
    return places;
}

TEST(Language, CommandLineThenPreferenceListThenEnglish) {
    std::wstring error;
    const std::wstring ru = L"ru", brazil = L"PT-br", unknown = L"xx", empty;
    EXPECT_EQ(lang::chooseLanguage(&ru, {L"de-DE"}, error), Language::kRussian);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(lang::chooseLanguage(&brazil, {}, error), Language::kPortugueseBrazil);
    // The first preferred language the setup speaks, by its first part.
    EXPECT_EQ(lang::chooseLanguage(nullptr, {L"ja-JP", L"de-AT", L"fr-FR"}, error), Language::kGerman);
    EXPECT_EQ(lang::chooseLanguage(nullptr, {L"pt-PT"}, error), Language::kPortugueseBrazil);
    EXPECT_EQ(lang::chooseLanguage(nullptr, {L"tr-TR"}, error), Language::kTurkish);
    EXPECT_EQ(lang::chooseLanguage(nullptr, {L"ja-JP", L"zh-CN"}, error), Language::kEnglish);
    EXPECT_EQ(lang::chooseLanguage(nullptr, {}, error), Language::kEnglish);
    EXPECT_TRUE(error.empty());
    // A --lang= the setup does not speak: said, and the system's choice stands.
    EXPECT_EQ(lang::chooseLanguage(&unknown, {L"pl-PL"}, error), Language::kPolish);
    EXPECT_NE(error.find(L"--lang=xx"), std::wstring::npos);
    EXPECT_NE(error.find(L"en, de, fr, es, pt-BR, pl, ru, tr"), std::wstring::npos);
    EXPECT_EQ(lang::chooseLanguage(&empty, {}, error), Language::kEnglish);
    EXPECT_FALSE(error.empty());
    // Only whole tags: no prefix, and the pseudo-language by its own name.
    Language language;
    EXPECT_FALSE(lang::languageOfTag(L"d", language));
    EXPECT_FALSE(lang::languageOfTag(L"de-DE", language));
    EXPECT_TRUE(lang::languageOfTag(L"qps-ploc", language));
    EXPECT_EQ(language, Language::kPseudo);
    EXPECT_EQ(lang::matchPreferred({L"qps-ploc"}), Language::kEnglish);
    // The system's list, read from its null-separated form: at least the user's own.
    const std::vector<std::wstring> preferred = lang::userPreferredLanguages();
    ASSERT_FALSE(preferred.empty());
    for (const std::wstring& name : preferred) EXPECT_FALSE(name.empty());
}

TEST(Language, EveryTextInEveryLanguageWithTheSamePlaces) {
    for (Language language : lang::allLanguages()) {
        for (int32_t i = 0; i < static_cast<int32_t>(Text::kCount); ++i) {
            const Text key = static_cast<Text>(i);
            EXPECT_TRUE(lang::hasEntry(language, key)) << lang::tagOf(language) << " lacks text " << i;
            // A translation that drops or invents a place would lose a number or show "{1}".
            EXPECT_EQ(placesIn(lang::text(language, key)), placesIn(lang::text(Language::kEnglish, key)))
                << lang::tagOf(language) << " text " << i;
        }
    }
}

// The face the window uses (Segoe UI, else the embedded Open Sans) has every character of
// every text; a character it lacks sends the text to the next face in the chain.
TEST(Language, TheFontHasEveryCharacterAndFallsBackForOthers) {
    render::Fonts fonts;  // GDI+ is started for the whole program (painter_test.cpp)
    for (Language language : lang::allLanguages())
        for (int32_t i = 0; i < static_cast<int32_t>(Text::kCount); ++i)
            EXPECT_TRUE(fonts.covers(lang::text(language, static_cast<Text>(i))))
                << lang::tagOf(language) << " text " << i << " in " << fonts.familyName(render::Weight::kRegular);
    const std::wstring first = fonts.familyName(render::Weight::kRegular);
    EXPECT_EQ(fonts.familyName(render::Weight::kRegular, L"D:\\Games"), first);
    // A player's folder in a script the first face lacks goes to the next face that has it
    // all: Arabic to Tahoma under Wine, Japanese to a CJK face on Windows.
    int fellBack = 0;
    for (const std::wstring folder : {L"D:\\\u0627\u0644\u0639\u0627\u0628", L"D:\\\u30B2\u30FC\u30E0"}) {
        const std::wstring next = fonts.familyName(render::Weight::kRegular, folder);
        if (fonts.covers(folder) || next == first) continue;
        ++fellBack;
        EXPECT_EQ(fonts.familyName(render::Weight::kSemibold, folder), next);
        EXPECT_NE(fonts.get(14.0f, render::Weight::kSemibold, folder), fonts.get(14.0f, render::Weight::kSemibold));
    }
    EXPECT_GT(fellBack, 0);
}

TEST(Language, PseudoIsLongerAccentedAndKeepsItsPlaces) {
    const std::wstring english = lang::text(Language::kEnglish, Text::kFailNoSpace);
    const std::wstring pseudo = lang::text(Language::kPseudo, Text::kFailNoSpace, {L"2 GB", L"1 GB"});
    EXPECT_GE(pseudo.size(), english.size() * 14 / 10);
    EXPECT_NE(pseudo.find(L"2 GB"), std::wstring::npos);
    EXPECT_NE(pseudo.find(L"1 GB"), std::wstring::npos);
    EXPECT_EQ(pseudo.find(L'T'), std::wstring::npos);  // "There" is accented
    EXPECT_EQ(lang::pseudoOf(L"PLAY"), L"[PĻÅÝ \u0174]");
    EXPECT_EQ(lang::pseudoOf(L""), L"");
}

TEST(Language, PluralForms) {
    using lang::Plural;
    EXPECT_EQ(lang::pluralOf(Language::kEnglish, 1), Plural::kOne);
    EXPECT_EQ(lang::pluralOf(Language::kEnglish, 0), Plural::kMany);
    EXPECT_EQ(lang::pluralOf(Language::kFrench, 0), Plural::kOne);
    EXPECT_EQ(lang::pluralOf(Language::kRussian, 21), Plural::kOne);
    EXPECT_EQ(lang::pluralOf(Language::kRussian, 11), Plural::kMany);
    EXPECT_EQ(lang::pluralOf(Language::kRussian, 23), Plural::kFew);
    EXPECT_EQ(lang::pluralOf(Language::kRussian, 13), Plural::kMany);
    EXPECT_EQ(lang::pluralOf(Language::kPolish, 21), Plural::kMany);
    EXPECT_EQ(lang::pluralOf(Language::kPolish, 22), Plural::kFew);
}

TEST(Language, NumbersAndUnitsAsEachLanguageWritesThem) {
    EXPECT_EQ(lang::formatSpeed(Language::kEnglish, 2.5 * kMiB), L"2.5 MB/s");
    EXPECT_EQ(lang::formatTimeLeft(Language::kEnglish, -3), L"about 0:00 remaining");
    EXPECT_EQ(lang::formatTimeLeft(Language::kEnglish, 3725), L"about 62:05 remaining");
    EXPECT_EQ(lang::formatSize(Language::kEnglish, 1536 * kMiB), L"1.50 GB");
    EXPECT_EQ(lang::formatSize(Language::kEnglish, 1023), L"1 KB");
    EXPECT_EQ(lang::formatPercent(Language::kEnglish, 46), L"46%");

    EXPECT_EQ(lang::formatSize(Language::kGerman, 1536 * kMiB), L"1,50\u00A0GB");
    EXPECT_EQ(lang::formatSpeed(Language::kGerman, 2.5 * kMiB), L"2,5\u00A0MB/s");
    EXPECT_EQ(lang::formatPercent(Language::kGerman, 46), L"46\u00A0%");
    EXPECT_EQ(lang::formatSize(Language::kFrench, 1536 * kMiB), L"1,50\u00A0Go");
    EXPECT_EQ(lang::formatPercent(Language::kFrench, 46), L"46\u00A0%");
    EXPECT_EQ(lang::formatPercent(Language::kTurkish, 46), L"%46");
    EXPECT_EQ(lang::formatSize(Language::kRussian, 723 * kMiB), L"723\u00A0\u041C\u0411");
    // Grouped by three, with the locale's own separator.
    EXPECT_EQ(lang::formatNumber(Language::kEnglish, 1234567, 0), L"1,234,567");
    EXPECT_EQ(lang::formatNumber(Language::kGerman, 1234.5, 1), L"1.234,5");
    const std::wstring french = lang::formatNumber(Language::kFrench, 1234, 0);
    EXPECT_TRUE(french == L"1\u00A0234" || french == L"1\u202F234") << french.size();
}

}  // namespace
