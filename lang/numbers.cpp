#include "lang/numbers.h"

#include <windows.h>

#include <cmath>
#include <cwchar>

#include "lang/texts.h"

namespace lang {

namespace {

constexpr double kKiB = 1024.0, kMiB = 1024.0 * kKiB, kGiB = 1024.0 * kMiB;

std::wstring localeText(const std::wstring& locale, LCTYPE type, const wchar_t* fallback) {
    wchar_t value[16] = {};
    return GetLocaleInfoEx(locale.c_str(), type, value, 16) > 0 ? value : fallback;
}

std::wstring plainNumber(double value, int decimals) {
    wchar_t text[64];
    const int n = std::swprintf(text, 64, L"%.*f", decimals, value);
    return n < 0 ? std::wstring() : std::wstring(text, static_cast<size_t>(n));
}

}  // namespace

std::wstring formatNumber(Language language, double value, int decimals) {
    if (!std::isfinite(value)) value = 0.0;
    const std::wstring plain = plainNumber(value, decimals);
    const std::wstring locale = localeOf(language);
    // The locale's separators, but always grouped by three and with exactly `decimals`
    // places, whatever the user set for the locale's own default.
    std::wstring decimal = localeText(locale, LOCALE_SDECIMAL, L".");
    std::wstring thousand = localeText(locale, LOCALE_STHOUSAND, L",");
    NUMBERFMTW format{};
    format.NumDigits = static_cast<UINT>(decimals);
    format.LeadingZero = 1;
    format.Grouping = 3;
    format.lpDecimalSep = decimal.data();
    format.lpThousandSep = thousand.data();
    format.NegativeOrder = 1;
    wchar_t out[64] = {};
    if (GetNumberFormatEx(locale.c_str(), 0, plain.c_str(), &format, out, 64) <= 0) return plain;
    return out;
}

std::wstring formatSize(Language language, uint64_t bytes) {
    const double value = static_cast<double>(bytes);
    if (value >= kGiB) return text(language, Text::kGigabytes, {formatNumber(language, value / kGiB, 2)});
    if (value >= kMiB) return text(language, Text::kMegabytes, {formatNumber(language, value / kMiB, 0)});
    return text(language, Text::kKilobytes, {formatNumber(language, value / kKiB, 0)});
}

std::wstring formatPercent(Language language, int percent) {
    return text(language, Text::kPercent, {std::to_wstring(percent)});
}

std::wstring formatSpeed(Language language, double bytesPerSecond) {
    return text(language, Text::kSpeed, {formatNumber(language, bytesPerSecond / kMiB, 1)});
}

std::wstring formatTimeLeft(Language language, int32_t seconds) {
    // A stale estimate can dip below zero for a tick; "0:00" reads better than "-1:59".
    if (seconds < 0) seconds = 0;
    wchar_t clock[32];
    const int n = std::swprintf(clock, 32, L"%d:%02d", static_cast<int>(seconds / 60),
                                static_cast<int>(seconds % 60));
    return text(language, Text::kTimeLeft, {std::wstring(clock, n < 0 ? 0 : static_cast<size_t>(n))});
}

}  // namespace lang
