#pragma once
// The ORVPAK1 full-archive stream, shared by the setup program that reads it and the
// publisher that writes and checks it. Plain C++, built for Windows and Linux.
//
// Header, 24 bytes: the magic "ORVPAK1", one byte nobody reads, then version (4 bytes),
// entry count (4) and the sum of the entries' data sizes (8). Then per entry: path length
// (2 bytes, 1..1024), the UTF-8 path, data size (8), the raw SHA-256 of the data (32), the
// data. Integers are unsigned little-endian; no padding, no trailer, so it streams front to
// back.
//
// The heads digest: the SHA-256 of the archive with every entry's data left out (its header,
// then each entry's path length, path, size and digest). Each entry's data is bound to the
// digest in its head, so this one small digest commits to the same bytes as a digest of the
// whole archive, and a reader that checks each entry's data anyway hashes nothing twice.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/little_endian.h"

namespace base {

constexpr char kArchiveMagic[] = "ORVPAK1";
constexpr char kArchiveFormatName[] = "ORVPAK1";  // what a manifest's "format" says
constexpr size_t kArchiveMagicSize = sizeof(kArchiveMagic) - 1;
constexpr uint32_t kArchiveVersion = 1;
constexpr size_t kArchiveHeaderSize = 24;
constexpr size_t kMaxArchivePath = 1024;       // bytes of UTF-8
constexpr size_t kEntryPathLengthSize = 2;
constexpr size_t kArchiveDigestSize = 32;
constexpr size_t kEntryFixedSize = 8 + kArchiveDigestSize;  // data size and digest after the path

struct ArchiveHeader {
    uint32_t version = kArchiveVersion;
    uint32_t entryCount = 0;
    uint64_t totalBytes = 0;  // sum of the entries' data sizes
};

// True when the first kArchiveMagicSize bytes are the magic.
bool hasArchiveMagic(const unsigned char* bytes);
// The fields of a header whose magic was checked (version, count, total).
ArchiveHeader decodeArchiveHeader(const unsigned char (&bytes)[kArchiveHeaderSize]);
std::string encodeArchiveHeader(const ArchiveHeader& header);

// Everything of an entry that precedes its data; `digest` is kArchiveDigestSize raw bytes.
std::string encodeEntryHead(const std::string& path, uint64_t dataSize, const uint8_t* digest);
// The data size from the kEntryFixedSize bytes after the path; the digest follows it.
inline uint64_t entryDataSize(const unsigned char* fixed) { return readLittleEndian(fixed, 8); }
inline const unsigned char* entryDigest(const unsigned char* fixed) { return fixed + 8; }

}  // namespace base
