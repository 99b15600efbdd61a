#include "lang/texts.h"

#include <array>

#include "lang/table.h"

namespace lang {

namespace {

using Column = std::array<const wchar_t*, static_cast<size_t>(Text::kCount)>;

Column columnOf(Table table) {
    Column column{};
    for (size_t i = 0; i < table.count; ++i) {
        const auto key = static_cast<size_t>(table.entries[i].key);
        if (key < column.size()) column[key] = table.entries[i].text;
    }
    return column;
}

// Each language's texts by key; null where a table has none. Built once, on first use.
const std::array<Column, kLanguageCount>& columns() {
    static const std::array<Column, kLanguageCount> all = [] {
        std::array<Column, kLanguageCount> made{};
        made[static_cast<size_t>(Language::kEnglish)] = columnOf(englishTable());
        made[static_cast<size_t>(Language::kGerman)] = columnOf(germanTable());
        made[static_cast<size_t>(Language::kFrench)] = columnOf(frenchTable());
        made[static_cast<size_t>(Language::kSpanish)] = columnOf(spanishTable());
        made[static_cast<size_t>(Language::kPortugueseBrazil)] = columnOf(portugueseBrazilTable());
        made[static_cast<size_t>(Language::kPolish)] = columnOf(polishTable());
        made[static_cast<size_t>(Language::kRussian)] = columnOf(russianTable());
        made[static_cast<size_t>(Language::kTurkish)] = columnOf(turkishTable());
        return made;
    }();
    return all;
}

const wchar_t* entryOf(Language language, Text key) {
    const auto index = static_cast<size_t>(language);
    if (index >= kLanguageCount || key >= Text::kCount) return nullptr;
    return columns()[index][static_cast<size_t>(key)];
}

// Replaces "{0}", "{1}", ... with the arguments; any other brace stays as it is.
std::wstring fill(const std::wstring& pattern, std::initializer_list<std::wstring> args) {
    std::wstring out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == L'{' && i + 2 < pattern.size() && pattern[i + 2] == L'}' && pattern[i + 1] >= L'0' &&
            pattern[i + 1] <= L'9') {
            const auto n = static_cast<size_t>(pattern[i + 1] - L'0');
            if (n < args.size()) {
                out += *(args.begin() + n);
                i += 2;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

wchar_t accented(wchar_t c) {
    static const wchar_t kLower[] = L"\u00E5\u00FE\u00E7\u010F\u00E9\u0192\u011D\u0125\u00EE\u0135\u0137\u013C"
                                    L"m\u00F1\u00F6pq\u0155\u0161\u0163\u00FCv\u0175x\u00FD\u017E";
    static const wchar_t kUpper[] = L"\u00C5B\u00C7\u010E\u00C9F\u011C\u0124\u00CE\u0134\u0136\u013B"
                                    L"M\u00D1\u00D6PQ\u0154\u0160\u0162\u00DCV\u0174X\u00DD\u017D";
    if (c >= L'a' && c <= L'z') return kLower[c - L'a'];
    if (c >= L'A' && c <= L'Z') return kUpper[c - L'A'];
    return c;
}

}  // namespace

std::wstring text(Language language, Text key) { return text(language, key, {}); }

std::wstring text(Language language, Text key, std::initializer_list<std::wstring> args) {
    if (language == Language::kPseudo) {
        const wchar_t* english = entryOf(Language::kEnglish, key);
        return fill(pseudoOf(english ? english : L""), args);
    }
    const wchar_t* entry = entryOf(language, key);
    if (!entry) entry = entryOf(Language::kEnglish, key);
    return fill(entry ? entry : L"", args);
}

bool hasEntry(Language language, Text key) {
    if (language == Language::kPseudo) language = Language::kEnglish;
    const wchar_t* entry = entryOf(language, key);
    return entry && *entry;
}

std::wstring pseudoOf(const std::wstring& english) {
    if (english.empty()) return english;
    std::wstring out = L"[";
    bool upper = true;  // all capitals: a label or a caption, padded in capitals too
    for (size_t i = 0; i < english.size(); ++i) {
        const wchar_t c = english[i];
        if (c == L'{' && i + 2 < english.size() && english[i + 2] == L'}') {
            out.append(english, i, 3);  // a place stays as it is
            i += 2;
            continue;
        }
        if (c >= L'a' && c <= L'z') upper = false;
        out += accented(c);
    }
    // Forty in a hundred more, in words, so that a long text can still wrap where words end.
    const std::wstring filler = upper ? L" \u0174\u00CE\u010E\u00C9\u0154 \u0162\u00C9X\u0162"
                                      : L" \u0175\u00EE\u010F\u00E9\u0155 \u0163\u00E9x\u0163";
    const size_t padding = (english.size() * 2 + 4) / 5;
    for (size_t i = 0; i < padding; ++i) out += filler[i % filler.size()];
    while (!out.empty() && out.back() == L' ') out.pop_back();
    return out + L"]";
}

}  // namespace lang
