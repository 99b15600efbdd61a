#pragma once
// pcupd.cache in the install folder: for each client file, the size and last-write time it
// had when it was hashed, and the digest. A file whose size and time still match is not read
// again. The cache only ever saves work: a missing, damaged, truncated or foreign cache is
// ignored and rebuilt, and the manifest's digest always decides.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "update/sha256.h"

namespace pcupd {

constexpr wchar_t kCacheFileName[] = L"pcupd.cache";

// A file's size and last-write time as GetFileAttributesExW reports them.
struct FileStamp {
    uint64_t size = 0;
    uint64_t lastWrite = 0;  // FILETIME, 100 ns units
    bool operator==(const FileStamp& other) const {
        return size == other.size && lastWrite == other.lastWrite;
    }
};

// The stamp of a regular file; false when it is missing or a folder.
bool fileStamp(const std::wstring& path, FileStamp& stamp);

class VerifyCache {
public:
    // Reads `installDir`\pcupd.cache; anything unreadable leaves the cache empty.
    void load(const std::wstring& installDir);
    // Writes the cache atomically (temp file, then replace). With `settle`, first waits out
    // the time-stamp margin of the newest entry (two seconds at most), so that files written
    // just now are trusted next time; used after an install or a repair wrote files.
    bool save(const std::wstring& installDir, bool settle);

    // The cached digest of `path` if `stamp` matches its entry and the entry can be trusted:
    // its time is safely older than the moment the cache was saved (a file changed within
    // the file system's time resolution of that moment may keep its time). Else empty.
    std::string trustedDigest(const std::string& path, const FileStamp& stamp) const;
    // Remembers `path`'s digest, hex (as hashFile gives it) or raw. A hex text that is no
    // digest forgets the path instead: nothing is remembered that could never match.
    void record(const std::string& path, const FileStamp& stamp, const std::string& digest);
    void record(const std::string& path, const FileStamp& stamp,
                const uint8_t (&digest)[kSha256Size]);
    void forget(const std::string& path);
    // Drops every entry whose path `keep` does not accept (files no longer in the manifest).
    template <typename Keep>
    void retain(Keep keep) {
        size_t kept = 0;
        std::string path;
        for (size_t i = 0; i < entries_.size(); ++i) {
            path.assign(keyOf(entries_[i]));
            if (keep(path)) entries_[kept++] = entries_[i];
        }
        if (kept == entries_.size()) return;
        unsaved_ = true;
        entries_.resize(kept);
        repack();
    }
    // Takes over `newer`'s entries, which win over this cache's own for the same path;
    // `newer` is left empty. Whichever of the two is larger is kept in place, not copied.
    void merge(VerifyCache&& newer);
    size_t size() const { return entries_.size(); }
    // Whether any entry changed since the cache was loaded or saved: a verification that
    // found everything as cached need not write the cache again.
    bool unsaved() const { return unsaved_; }
    bool empty() const { return entries_.empty(); }

    // Paths are compared as the manifest gives them: ASCII-lowercased, with `/` separators.
    static std::string key(const std::string& path);

private:
    // A cache may hold a whole client's files, hundreds of thousands of them, and is built
    // while an install still has its buffers: an entry is a fixed 56-byte record, its key
    // lives in shared 64 KiB chunks, and an open-addressing table of indexes finds it.
    // Entries and keys grow a chunk at a time, never copied as they grow.
    struct Entry {
        FileStamp stamp;
        uint8_t digest[kSha256Size];
        uint32_t keyAt;      // chunk << 16 | offset in the chunk
        uint16_t keyLength;
    };
    static constexpr size_t kKeyChunk = 1 << 16;

    std::string_view keyOf(const Entry& entry) const {
        return {keyChunks_[entry.keyAt >> 16].get() + (entry.keyAt & 0xFFFF), entry.keyLength};
    }
    size_t slotOf(std::string_view key) const;  // its slot, or the free one it would take
    const Entry* find(std::string_view key) const;
    void put(std::string_view key, const FileStamp& stamp, const uint8_t* digest);
    void erase(size_t slot);
    uint32_t storeKey(std::string_view key);
    void rehash(size_t entries);  // a table with room for `entries` at half load at most
    void repack();  // rebuilds keys and table around entries_, dropping forgotten keys
    void swapStorage(VerifyCache& other);
    void clear();

    std::deque<Entry> entries_;                  // in no particular order
    std::vector<std::unique_ptr<char[]>> keyChunks_;
    size_t keyChunkUsed_ = kKeyChunk;            // bytes taken in the last chunk
    size_t deadKeyBytes_ = 0;                    // keys of forgotten entries, still stored
    size_t liveKeyBytes_ = 0;
    std::vector<uint32_t> slots_;                // entry index + 1, 0 when free; a power of two
    uint64_t savedAt_ = 0;     // FILETIME of the save the entries were loaded from
    uint64_t margin_ = 0;      // the install folder's time-stamp margin, 100 ns units
    bool unsaved_ = false;
};

}  // namespace pcupd
