#pragma once
// Bytes as hex text and back: digests in manifests, the operator's public keys, %XX escapes.
// Written lowercase, read in either case. Plain C++, built for Windows and Linux.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace base {

// Two lowercase digits per byte.
std::string toHex(const uint8_t* bytes, size_t size);

// The value of one hex digit ('0'-'9', 'a'-'f', 'A'-'F'); -1 for any other character.
int hexDigitValue(char c);

// The bytes `text` spells, two digits each. False, with `bytes` left empty, on an odd length
// or any character that is not a hex digit; empty text gives no bytes.
bool fromHex(std::string_view text, std::vector<uint8_t>& bytes);

}  // namespace base
