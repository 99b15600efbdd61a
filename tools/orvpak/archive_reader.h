#pragma once
// Reading an ORVPAK1 archive front to back: `list` walks the entries, `verify` also hashes
// every entry's data. Both stop at the first fault with a message naming the archive and,
// where there is one, the entry (numbered from 1).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/archive_format.h"
#include "tools/orvpak/sha256_hasher.h"

namespace orvpak {

static_assert(kDigestSize == base::kArchiveDigestSize, "entries carry the publisher's digest");

struct ArchiveEntry {
    std::string path;
    uint64_t size = 0;
    Digest sha256{};  // as stored in the archive
};

struct ArchiveSummary {
    base::ArchiveHeader header;  // as read; zeros when the header itself was faulty
    uint32_t entriesRead = 0;    // entries read whole (before the fault, if any)
    uint64_t dataBytes = 0;      // sum of their data sizes
    uint64_t archiveBytes = 0;   // size of the archive file
};

enum class DataCheck {
    kSkip,  // seek past the data: structure only
    kHash,  // read the data and compare it with the entry's SHA-256
};

using EntryVisitor = std::function<void(const ArchiveEntry&)>;

// Reads the archive at `path`, calling `visit` (may be empty) after each entry passes.
// Faults: truncation anywhere, a magic other than ORVPAK1, a version other than 1, a path
// length outside 1..1024, a path the installer refuses, a path that repeats an earlier one
// (ignoring ASCII case), a data digest mismatch (kHash only), bytes after the last entry,
// and a header total that differs from the sum of the entries' sizes.
bool readArchive(const std::filesystem::path& path, DataCheck check, const EntryVisitor& visit,
                 ArchiveSummary& summary, std::string& error);

// The entries of the archive, without hashing their data; on failure, those read so far.
bool listArchive(const std::filesystem::path& path, std::vector<ArchiveEntry>& entries,
                 ArchiveSummary& summary, std::string& error);

// Reads the whole archive and checks every entry's data against its SHA-256.
bool verifyArchive(const std::filesystem::path& path, ArchiveSummary& summary,
                   std::string& error);

}  // namespace orvpak
