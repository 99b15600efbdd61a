#pragma once
// Unsigned little-endian fields, as the archive format and the verification cache store
// them. Plain C++, built for Windows and Linux.

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

// `width` bytes (at most 8), least significant first.
inline uint64_t readLittleEndian(const unsigned char* bytes, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

inline void appendLittleEndian(std::string& out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace base
