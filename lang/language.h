#pragma once
// The languages the window speaks, and which one a run uses: --lang= when given, else the
// first of the player's Windows display languages that the setup speaks, else English.

#include <cstdint>
#include <string>
#include <vector>

namespace lang {

enum class Language : int32_t {
    kEnglish,
    kGerman,
    kFrench,
    kSpanish,
    kPortugueseBrazil,
    kPolish,
    kRussian,
    kTurkish,
    // Every English text made 40% longer and accented: shows what a long translation does to
    // the layout. Chosen only by --lang=qps-ploc, the name Windows gives its own.
    kPseudo,
};
constexpr int32_t kLanguageCount = 9;

// Every language, kPseudo last.
std::vector<Language> allLanguages();

// "en", "de", "fr", "es", "pt-BR", "pl", "ru", "tr", "qps-ploc": what --lang= takes.
std::wstring tagOf(Language language);
// The locale whose numbers the language writes ("de-DE"); the pseudo-language's is English.
std::wstring localeOf(Language language);
// The language's id for FormatMessageW.
uint16_t langIdOf(Language language);
// The language's own name for itself ("Deutsch"), for the log and the README.
std::wstring nativeNameOf(Language language);

// The language --lang= names: the tag exactly as tagOf gives it, letters in any case; false
// for anything else.
bool languageOfTag(const std::wstring& tag, Language& language);

// The first of `preferred` (Windows' language names, "de-AT", "pt-PT", most preferred first)
// whose language the setup speaks, by its first part; English when none is.
Language matchPreferred(const std::vector<std::wstring>& preferred);

// --lang='s language when given (`commandLineTag` not null), else matchPreferred's. A --lang=
// the setup does not speak gives matchPreferred's language and, in `error`, what was wrong.
Language chooseLanguage(const std::wstring* commandLineTag, const std::vector<std::wstring>& preferred,
                        std::wstring& error);

// The user's display languages, most preferred first (GetUserPreferredUILanguages); empty
// when the system does not say.
std::vector<std::wstring> userPreferredLanguages();

// The tags --lang= takes, for messages: "en, de, fr, es, pt-BR, pl, ru, tr".
std::wstring tagList();

// Which plural form a count takes: English and most others have one and many; Polish and
// Russian also have few (2-4, 22-24, ...). French counts 0 as one.
enum class Plural { kOne, kFew, kMany };
Plural pluralOf(Language language, int64_t count);

}  // namespace lang
