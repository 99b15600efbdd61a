#pragma once
// The ORVPAK1 archive: a 24-byte header (magic "ORVPAK1", one ignored byte, version, entry
// count, total data bytes), then per entry a 2-byte path length, the '/'-separated UTF-8
// path, an 8-byte data size, the raw 32-byte SHA-256 of the data and the data. Integers are
// unsigned little-endian; there is no padding and no trailer, so it streams front to back.

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/orvpak/sha256_hasher.h"

namespace orvpak {

constexpr char kArchiveMagic[] = "ORVPAK1";
constexpr size_t kMagicSize = sizeof(kArchiveMagic) - 1;
constexpr uint32_t kArchiveVersion = 1;
// How the manifest names this format.
constexpr char kFormatName[] = "ORVPAK1";
constexpr size_t kHeaderSize = 24;
// Path length, data size and digest around each entry's path.
constexpr size_t kPathLengthSize = 2;
constexpr size_t kEntryFixedSize = 8 + kDigestSize;

struct ArchiveHeader {
    uint32_t version = kArchiveVersion;
    uint32_t entryCount = 0;
    uint64_t totalBytes = 0;  // sum of the entries' data sizes
};

std::string encodeHeader(const ArchiveHeader& header);
// Everything of an entry that precedes its data.
std::string encodeEntryHead(const std::string& path, uint64_t dataSize, const Digest& digest);

// `width` bytes of `bytes`, least significant first.
uint64_t readLittleEndian(const unsigned char* bytes, size_t width);

}  // namespace orvpak
