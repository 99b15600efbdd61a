#pragma once
// ASCII case folding: "A".."Z" become "a".."z" and every other byte or unit stays as it is
// (no locale, no Unicode folding). The setup program and the publisher compare paths this
// way, so both sides must fold identically. Plain C++, built for Windows and Linux.

#include <string>

namespace base {

std::string toLowerAscii(std::string text);
std::wstring toLowerAscii(std::wstring text);

}  // namespace base
