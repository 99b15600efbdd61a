#pragma once
// The publisher's view of the ORVPAK1 archive. The format itself lives in base/, shared with
// the setup program that reads it; here only the name the manifest gives it and the
// publisher's digest type join in.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/archive_format.h"
#include "tools/orvpak/sha256_hasher.h"

namespace orvpak {

using base::ArchiveHeader;
using base::kArchiveMagic;
using base::kArchiveVersion;
using base::readLittleEndian;
constexpr size_t kMagicSize = base::kArchiveMagicSize;
constexpr size_t kHeaderSize = base::kArchiveHeaderSize;
constexpr size_t kPathLengthSize = base::kEntryPathLengthSize;
constexpr size_t kEntryFixedSize = base::kEntryFixedSize;
static_assert(kDigestSize == base::kArchiveDigestSize, "one digest size on both sides");

// How the manifest names this format.
constexpr char kFormatName[] = "ORVPAK1";

inline std::string encodeHeader(const ArchiveHeader& header) {
    return base::encodeArchiveHeader(header);
}
// Everything of an entry that precedes its data.
inline std::string encodeEntryHead(const std::string& path, uint64_t dataSize, const Digest& digest) {
    return base::encodeEntryHead(path, dataSize, digest.data());
}

}  // namespace orvpak
