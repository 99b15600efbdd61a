#pragma once
// UTC times as manifests write them, "YYYY-MM-DDTHH:MM:SSZ", in seconds since 1970. The
// publisher writes them and the setup program reads them back: one calendar for both, with
// no help from the C library or the system, whose leniency differs (one system's clock
// functions take 29 February of any year).

#include <cstdint>
#include <string>

namespace base {

// Seconds since 1970-01-01T00:00:00Z as "YYYY-MM-DDTHH:MM:SSZ".
std::string utcTimestamp(int64_t seconds);

// The reverse: false for any other text and for a time that does not exist (a 13th month,
// 31 April, 29 February outside a leap year, an hour of 24, a 60th second).
bool parseUtcTimestamp(const std::string& text, int64_t& seconds);

}  // namespace base
