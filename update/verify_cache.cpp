#include "update/verify_cache.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/unique_handle.h"
#include "update/manifest.h"
#include "update/sha256.h"

namespace pcupd {
namespace {

// Layout: magic, version, save time, entry count, the entries (path length, path, size,
// last-write time, raw digest), then the SHA-256 of everything before it. Little-endian.
constexpr char kMagic[8] = {'O', 'R', 'V', 'C', 'A', 'C', 'H', 'E'};
constexpr uint32_t kVersion = 1;
constexpr size_t kMaxCacheBytes = 64 << 20;
constexpr uint16_t kMaxPath = 1024;

constexpr uint64_t kMillisecond = 10000;  // FILETIME units
// NTFS and ReFS stamp writes with the system clock (about 16 ms steps); FAT keeps two-second
// times, exFAT ten-millisecond ones. Unknown file systems get the coarse margin.
constexpr uint64_t kFineMargin = 100 * kMillisecond, kCoarseMargin = 2000 * kMillisecond;

uint64_t fromFileTime(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t now() {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    return fromFileTime(time);
}

uint64_t timeMargin(const std::wstring& installDir) {
    wchar_t volume[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(installDir.c_str(), volume, MAX_PATH + 1) ||
        !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                               MAX_PATH + 1))
        return kCoarseMargin;
    const std::wstring name = toLowerAscii(std::wstring(fileSystem));
    return name == L"ntfs" || name == L"refs" ? kFineMargin : kCoarseMargin;
}

template <typename T>
void put(std::string& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Reads fields off a byte range; any overrun marks the whole read as failed.
class Cursor {
public:
    Cursor(const char* data, size_t size) : data_(data), size_(size) {}
    template <typename T>
    T number() {
        T value = 0;
        if (!take(sizeof(T))) return value;
        for (size_t i = sizeof(T); i-- > 0;)
            value = static_cast<T>((value << 8) | static_cast<uint8_t>(data_[offset_ - sizeof(T) + i]));
        return value;
    }
    std::string bytes(size_t count) {
        return take(count) ? std::string(data_ + offset_ - count, count) : std::string();
    }
    bool ok() const { return ok_; }
    bool atEnd() const { return offset_ == size_; }

private:
    bool take(size_t count) {
        if (!ok_ || size_ - offset_ < count) return ok_ = false;
        offset_ += count;
        return true;
    }
    const char* data_;
    size_t size_, offset_ = 0;
    bool ok_ = true;
};

std::string rawDigest(const std::string& hex) {
    std::string raw;
    if (hex.size() != 2 * kSha256Size) return raw;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (const char c : {hex[i], hex[i + 1]}) {
            const int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (nibble < 0) return std::string();
            value = value * 16 + nibble;
        }
        raw.push_back(static_cast<char>(value));
    }
    return raw;
}


}  // namespace

bool fileStamp(const std::wstring& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.lastWrite = fromFileTime(data.ftLastWriteTime);
    return true;
}

std::string VerifyCache::key(const std::string& path) {
    std::string key = toLowerAscii(path);
    std::replace(key.begin(), key.end(), '\\', '/');
    return key;
}

void VerifyCache::load(const std::wstring& installDir) {
    entries_.clear();
    savedAt_ = 0;
    margin_ = timeMargin(installDir);

    const std::wstring path = installDir + L"\\" + kCacheFileName;
    base::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > kMaxCacheBytes ||
        static_cast<uint64_t>(size.QuadPart) < sizeof(kMagic) + kSha256Size)
        return;
    std::string data(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr) ||
        read != data.size())
        return;

    // The checksum catches a torn or damaged file before a single entry is believed.
    const size_t body = data.size() - kSha256Size;
    Sha256 sha;
    uint8_t digest[kSha256Size];
    sha.update(data.data(), body);
    if (!sha.finish(digest) || std::memcmp(digest, data.data() + body, kSha256Size) != 0) return;

    Cursor in(data.data(), body);
    if (in.bytes(sizeof(kMagic)) != std::string(kMagic, sizeof(kMagic)) ||
        in.number<uint32_t>() != kVersion)
        return;
    const uint64_t savedAt = in.number<uint64_t>();
    const uint32_t count = in.number<uint32_t>();
    std::unordered_map<std::string, Entry> entries;
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        const uint16_t length = in.number<uint16_t>();
        if (length == 0 || length > kMaxPath) return;
        std::string entryPath = in.bytes(length);
        Entry entry;
        entry.stamp.size = in.number<uint64_t>();
        entry.stamp.lastWrite = in.number<uint64_t>();
        const std::string raw = in.bytes(kSha256Size);
        entry.digest = toHex(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
        entries[std::move(entryPath)] = std::move(entry);
    }
    if (!in.ok() || !in.atEnd()) return;
    entries_ = std::move(entries);
    savedAt_ = savedAt;
}

bool VerifyCache::save(const std::wstring& installDir, bool settle) {
    if (margin_ == 0) margin_ = timeMargin(installDir);
    uint64_t newest = 0;
    for (const auto& item : entries_) newest = std::max(newest, item.second.stamp.lastWrite);
    uint64_t savedAt = now();
    if (settle && newest + margin_ >= savedAt) {
        // A time in the future (a skewed clock) never settles; wait no longer than the margin.
        const uint64_t wait = std::min(newest + margin_ - savedAt, margin_) / kMillisecond + 1;
        Sleep(static_cast<DWORD>(wait));
        savedAt = now();
    }

    std::string out(kMagic, sizeof(kMagic));
    put<uint32_t>(out, kVersion);
    put<uint64_t>(out, savedAt);
    std::vector<const std::pair<const std::string, Entry>*> sorted;
    for (const auto& item : entries_) {
        const std::string raw = rawDigest(item.second.digest);
        if (!raw.empty() && !item.first.empty() && item.first.size() <= kMaxPath) sorted.push_back(&item);
    }
    std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->first < b->first; });
    put<uint32_t>(out, static_cast<uint32_t>(sorted.size()));
    for (const auto* item : sorted) {
        put<uint16_t>(out, static_cast<uint16_t>(item->first.size()));
        out += item->first;
        put<uint64_t>(out, item->second.stamp.size);
        put<uint64_t>(out, item->second.stamp.lastWrite);
        out += rawDigest(item->second.digest);
    }
    Sha256 sha;
    uint8_t digest[kSha256Size];
    sha.update(out.data(), out.size());
    if (!sha.finish(digest)) return false;
    out.append(reinterpret_cast<const char*>(digest), sizeof(digest));

    // Written aside and moved over the old one: a crash leaves the old cache or the new one.
    const std::wstring path = installDir + L"\\" + kCacheFileName;
    const std::wstring temp = path + L".tmp";
    {
        base::UniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr) ||
            written != out.size() || !FlushFileBuffers(file.get())) {
            file.reset();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    savedAt_ = savedAt;
    return true;
}

std::string VerifyCache::trustedDigest(const std::string& path, const FileStamp& stamp) const {
    const auto found = entries_.find(key(path));
    if (found == entries_.end() || !(found->second.stamp == stamp)) return {};
    if (found->second.stamp.lastWrite + margin_ >= savedAt_) return {};  // racily clean
    return found->second.digest;
}

void VerifyCache::record(const std::string& path, const FileStamp& stamp, const std::string& digest) {
    entries_[key(path)] = Entry{stamp, digest};
}

void VerifyCache::forget(const std::string& path) { entries_.erase(key(path)); }

}  // namespace pcupd
