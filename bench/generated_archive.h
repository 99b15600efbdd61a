#pragma once
// A large ORVPAK1 archive that exists only as a layout: entry headers are kept, entry data
// is computed from (entry, position) on demand, so serving a gigabyte costs no memory.

#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest.h"

namespace bench {

class GeneratedArchive {
public:
    struct Entry {
        std::string path;
        uint64_t size = 0;
        std::string sha256;        // lowercase hex of the data
        uint64_t dataOffset = 0;   // where the data starts in the archive
        // Where the bytes come from: the stream numbered `content`, with `inserted` bytes of
        // another stream put in at `insertAt` (a new release's edit in the middle of a file).
        uint64_t content = 0;
        uint64_t insertAt = 0;
        uint32_t inserted = 0;
    };

    // About `dataBytes` of data in `count` entries of uneven sizes (a few large, many small).
    GeneratedArchive(uint64_t dataBytes, uint32_t count);
    // The files `layout` lists, in its order; each digest is computed unless given.
    explicit GeneratedArchive(std::vector<Entry> layout);

    uint64_t size() const { return size_; }
    uint64_t dataBytes() const { return dataBytes_; }
    const std::vector<Entry>& entries() const { return entries_; }

    // The heads digest (base/archive_format.h), lowercase hex.
    std::string headsDigest() const;

    // Fills out[0..size) with the archive's bytes at offset.
    void read(uint64_t offset, char* out, size_t size) const;

    // The data of entry `index` at `offset` within it (of an archive made from a size and count).
    static void entryData(uint32_t index, uint64_t offset, char* out, size_t size);
    // The data of any entry at `offset` within it.
    static void fileData(const Entry& entry, uint64_t offset, char* out, size_t size);

private:
    void build();
    struct Segment {
        uint64_t start;
        std::string bytes;  // a header; empty for an entry's data
        uint32_t entry;
    };
    std::vector<Entry> entries_;
    std::vector<Segment> segments_;
    uint64_t size_ = 0, dataBytes_ = 0;
};

// `count` empty entries, a thousand to a folder. Every entry header has the same length and
// is computed from its index, so even millions of entries cost the benchmark no memory that
// would blur the installer's own peak.
class EmptyEntriesArchive {
public:
    explicit EmptyEntriesArchive(uint32_t count);

    uint64_t size() const { return header_.size() + static_cast<uint64_t>(count_) * kEntryHeader; }
    void read(uint64_t offset, char* out, size_t size) const;
    static std::string path(uint32_t index);  // "empty/d0000/e0000000.bin"
    // What a manifest says of its entries (the archive's own size and digest left out).
    pcupd::Manifest manifest() const;

private:
    static constexpr size_t kPathLength = 24, kEntryHeader = 2 + kPathLength + 8 + 32;
    void entryHeader(uint32_t index, char (&out)[kEntryHeader]) const;

    uint32_t count_;
    std::string header_;
    uint8_t emptyDigest_[32] = {};
};

// What a published manifest says of `archive` served at `url`: every entry, and the whole
// stream's size, digest and heads digest.
void describe(const GeneratedArchive& archive, const std::string& url, pcupd::FullArchive& full,
              pcupd::Manifest& manifest);

// A client shaped after a real game's data: 5,250 files, 722 MB in about 309 folders up to
// seven deep, with that game's size histogram (most files under 64 KB, 183 from 1 to 11 MB)
// and mix of extensions. The same `seed` always gives the same files; data is not computed.
std::vector<GeneratedArchive::Entry> clientLayout(uint64_t seed);

// The next release of `layout`, with what it changed: 10 files of 1 MiB or more get 100
// bytes inserted mid-file, 40 files under 64 KiB are rewritten, 10 files are added and 10
// dropped. Digests of the files it keeps as they were are kept; the others are cleared.
struct NextRelease {
    std::vector<GeneratedArchive::Entry> files;
    std::vector<size_t> edited;  // indexes in `files` of the 10 files with bytes inserted
    uint64_t changedBytes = 0;   // inserted, rewritten and added bytes
};
NextRelease nextRelease(const std::vector<GeneratedArchive::Entry>& layout, uint64_t seed);

// The chunk index a publisher lists for `entry` (base/chunk_index.h), and its digest.
std::string chunkIndexOf(const GeneratedArchive::Entry& entry, std::string& sha256);

// A manifest as the update host serves it: `full` (when it has a URL) and every file.
std::string manifestJson(const pcupd::Manifest& manifest, const pcupd::FullArchive& full);

}  // namespace bench
