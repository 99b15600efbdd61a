#include "base/utc_time.h"

#include <cstdio>

namespace base {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y = yoe + era * 400 + (m <= 2);
}

}  // namespace

std::string utcTimestamp(int64_t seconds) {
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    int64_t y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[96];
    std::snprintf(text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), static_cast<long long>(m),
                  static_cast<long long>(d), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

bool parseUtcTimestamp(const std::string& text, int64_t& seconds) {
    static const char kPattern[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof(kPattern) - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
    }
    const auto field = [&](size_t at, size_t width) {
        int64_t value = 0;
        for (size_t i = at; i < at + width; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    const int64_t y = field(0, 4), m = field(5, 2), d = field(8, 2);
    const int64_t hh = field(11, 2), mm = field(14, 2), ss = field(17, 2);
    if (m < 1 || m > 12 || d < 1 || hh > 23 || mm > 59 || ss > 59) return false;
    const int64_t days = daysFromCivil(y, m, d);
    int64_t cy = 0, cm = 0, cd = 0;
    civilFromDays(days, cy, cm, cd);
    if (cm != m || cd != d) return false;  // 30 February comes back as 1 or 2 March
    seconds = days * 86400 + hh * 3600 + mm * 60 + ss;
    return true;
}

}  // namespace base
