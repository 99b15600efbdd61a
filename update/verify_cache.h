#pragma once
// pcupd.cache in the install folder: for each client file, the size and last-write time it
// had when it was hashed, and the digest. A file whose size and time still match is not read
// again. The cache only ever saves work: a missing, damaged, truncated or foreign cache is
// ignored and rebuilt, and the manifest's digest always decides.

#include <windows.h>

#include <cstdint>
#include <string>
#include <iterator>
#include <unordered_map>

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
    void record(const std::string& path, const FileStamp& stamp, const std::string& digest);
    void forget(const std::string& path);
    // Drops every entry whose path `keep` does not accept (files no longer in the manifest).
    template <typename Keep>
    void retain(Keep keep) {
        for (auto it = entries_.begin(); it != entries_.end();)
            it = keep(it->first) ? std::next(it) : entries_.erase(it);
    }
    size_t size() const { return entries_.size(); }

    // Paths are compared as the manifest gives them: ASCII-lowercased, with `/` separators.
    static std::string key(const std::string& path);

private:
    struct Entry {
        FileStamp stamp;
        std::string digest;  // lowercase hex
    };
    std::unordered_map<std::string, Entry> entries_;
    uint64_t savedAt_ = 0;     // FILETIME of the save the entries were loaded from
    uint64_t margin_ = 0;      // the install folder's time-stamp margin, 100 ns units
};

}  // namespace pcupd
