#pragma once
// Numbers, sizes, speeds and times as each language writes them: separators from the
// platform's number formatting for the language's locale, units and order from the texts.

#include <cstdint>
#include <string>

#include "lang/language.h"

namespace lang {

// `value` with `decimals` places, grouped and separated as the language's locale does
// ("1,5" in German, "1 234" in French).
std::wstring formatNumber(Language language, double value, int decimals);

// Sizes in binary multiples, as Explorer shows them: two places from 1 GB on, none in MB
// and KB ("1,50 GB", "723 Mo").
std::wstring formatSize(Language language, uint64_t bytes);

// "46%", "46 %" (French, German), "%46" (Turkish).
std::wstring formatPercent(Language language, int percent);

// "3.4 MB/s", in megabytes a second with one place.
std::wstring formatSpeed(Language language, double bytesPerSecond);

// "about 2:05 remaining"; below zero counts as none left.
std::wstring formatTimeLeft(Language language, int32_t seconds);

}  // namespace lang
