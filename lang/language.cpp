#include "lang/language.h"

#include <windows.h>

#include <cwctype>

namespace lang {

namespace {

struct Facts {
    Language language;
    const wchar_t* tag;
    const wchar_t* locale;
    uint16_t langId;
    const wchar_t* nativeName;
};

constexpr Facts kFacts[kLanguageCount] = {
    {Language::kEnglish, L"en", L"en-US", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"English"},
    {Language::kGerman, L"de", L"de-DE", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"Deutsch"},
    {Language::kFrench, L"fr", L"fr-FR", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), L"Fran\u00E7ais"},
    {Language::kSpanish, L"es", L"es-ES", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN), L"Espa\u00F1ol"},
    {Language::kPortugueseBrazil, L"pt-BR", L"pt-BR", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN),
     L"Portugu\u00EAs (Brasil)"},
    {Language::kPolish, L"pl", L"pl-PL", MAKELANGID(LANG_POLISH, SUBLANG_POLISH_POLAND), L"Polski"},
    {Language::kRussian, L"ru", L"ru-RU", MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA),
     L"\u0420\u0443\u0441\u0441\u043A\u0438\u0439"},
    {Language::kTurkish, L"tr", L"tr-TR", MAKELANGID(LANG_TURKISH, SUBLANG_TURKISH_TURKEY), L"T\u00FCrk\u00E7e"},
    {Language::kPseudo, L"qps-ploc", L"en-US", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"Pseudo"},
};

const Facts& factsOf(Language language) {
    const auto index = static_cast<size_t>(language);
    return kFacts[index < kLanguageCount ? index : 0];
}

// ASCII letters only: tags are ASCII, and a Turkish dotless i must not pass for an "i".
std::wstring asciiLower(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

}  // namespace

std::vector<Language> allLanguages() {
    std::vector<Language> all;
    for (const Facts& facts : kFacts) all.push_back(facts.language);
    return all;
}

std::wstring tagOf(Language language) { return factsOf(language).tag; }
std::wstring localeOf(Language language) { return factsOf(language).locale; }
uint16_t langIdOf(Language language) { return factsOf(language).langId; }
std::wstring nativeNameOf(Language language) { return factsOf(language).nativeName; }

bool languageOfTag(const std::wstring& tag, Language& language) {
    const std::wstring wanted = asciiLower(tag);
    for (const Facts& facts : kFacts) {
        if (asciiLower(facts.tag) == wanted) {
            language = facts.language;
            return true;
        }
    }
    return false;
}

Language matchPreferred(const std::vector<std::wstring>& preferred) {
    for (const std::wstring& name : preferred) {
        // "pt-PT" reads Brazilian Portuguese far better than English; "de-CH" is German.
        const std::wstring first = asciiLower(name.substr(0, name.find(L'-')));
        for (const Facts& facts : kFacts) {
            if (facts.language == Language::kPseudo) continue;
            const std::wstring tag = asciiLower(facts.tag);
            if (tag.substr(0, tag.find(L'-')) == first) return facts.language;
        }
    }
    return Language::kEnglish;
}

Language chooseLanguage(const std::wstring* commandLineTag, const std::vector<std::wstring>& preferred,
                        std::wstring& error) {
    error.clear();
    if (!commandLineTag) return matchPreferred(preferred);
    Language language = Language::kEnglish;
    if (languageOfTag(*commandLineTag, language)) return language;
    error = L"--lang=" + *commandLineTag + L" is not a language this setup speaks (" + tagList() + L")";
    return matchPreferred(preferred);
}

std::vector<std::wstring> userPreferredLanguages() {
    ULONG count = 0, size = 0;
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) || size == 0) return {};
    std::wstring buffer(size, L'\0');
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buffer.data(), &size)) return {};
    // A list of names each ended by a null, the whole ended by one more.
    std::vector<std::wstring> names;
    for (size_t start = 0; start < buffer.size() && buffer[start] != L'\0';) {
        const size_t end = buffer.find(L'\0', start);
        names.push_back(buffer.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return names;
}

std::wstring tagList() {
    std::wstring list;
    for (const Facts& facts : kFacts) {
        if (facts.language == Language::kPseudo) continue;
        if (!list.empty()) list += L", ";
        list += facts.tag;
    }
    return list;
}

Plural pluralOf(Language language, int64_t count) {
    const int64_t n = count < 0 ? -count : count;
    const int64_t lastTwo = n % 100, last = n % 10;
    switch (language) {
    case Language::kPolish:
        if (n == 1) return Plural::kOne;
        return last >= 2 && last <= 4 && !(lastTwo >= 12 && lastTwo <= 14) ? Plural::kFew : Plural::kMany;
    case Language::kRussian:
        if (last == 1 && lastTwo != 11) return Plural::kOne;
        return last >= 2 && last <= 4 && !(lastTwo >= 12 && lastTwo <= 14) ? Plural::kFew : Plural::kMany;
    case Language::kFrench:
    case Language::kPortugueseBrazil:
        return n <= 1 ? Plural::kOne : Plural::kMany;
    default:
        return n == 1 ? Plural::kOne : Plural::kMany;
    }
}

}  // namespace lang
