#pragma once
// The one place where UTF-8 (engine text, network data) and UTF-16 (paths, window text)
// are converted. Invalid input sequences become U+FFFD rather than failing.

#include <string>

namespace base {

std::wstring toWide(const std::string& utf8);
std::string toUtf8(const std::wstring& wide);

}  // namespace base
