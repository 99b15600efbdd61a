#include "update/verify_cache.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "base/little_endian.h"
#include "base/small_file.h"
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

// Reads fields off a byte range; any overrun marks the whole read as failed.
class Cursor {
public:
    Cursor(const char* data, size_t size) : data_(data), size_(size) {}
    template <typename T>
    T number() {
        if (!take(sizeof(T))) return 0;
        return static_cast<T>(base::readLittleEndian(
            reinterpret_cast<const unsigned char*>(data_ + offset_ - sizeof(T)), sizeof(T)));
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

bool rawDigest(const std::string& hex, uint8_t (&raw)[kSha256Size]) {
    if (hex.size() != 2 * kSha256Size) return false;
    for (size_t i = 0; i < kSha256Size; ++i) {
        int value = 0;
        for (const char c : {hex[2 * i], hex[2 * i + 1]}) {
            const int nibble = c >= '0' && c <= '9'   ? c - '0'
                               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                      : -1;
            if (nibble < 0) return false;
            value = value * 16 + nibble;
        }
        raw[i] = static_cast<uint8_t>(value);
    }
    return true;
}

size_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

// The cache file passes through a small buffer on its way to disk and is hashed as it goes,
// so saving a large cache needs no copy of it in memory.
class HashedWriter {
public:
    explicit HashedWriter(HANDLE file) : file_(file) {}
    template <typename T>
    void number(T value) {
        base::appendLittleEndian(buffer_, value, sizeof(T));
    }
    void bytes(const void* data, size_t size) {
        buffer_.append(static_cast<const char*>(data), size);
        if (buffer_.size() >= kBufferSize) flush();
    }
    // Writes what is left, then the digest of everything written.
    bool finish() {
        flush();
        uint8_t digest[kSha256Size];
        if (!ok_ || !sha_.finish(digest)) return false;
        buffer_.assign(reinterpret_cast<const char*>(digest), sizeof(digest));
        return write();
    }

private:
    static constexpr size_t kBufferSize = 1 << 16;
    void flush() {
        sha_.update(buffer_.data(), buffer_.size());
        ok_ = ok_ && write();
        buffer_.clear();
    }
    bool write() {
        DWORD written = 0;
        return buffer_.empty() ||
               (WriteFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &written, nullptr) &&
                written == buffer_.size());
    }
    HANDLE file_;
    Sha256 sha_;
    std::string buffer_;
    bool ok_ = true;
};

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
    clear();
    savedAt_ = 0;
    unsaved_ = false;
    margin_ = timeMargin(installDir);

    std::string data;
    if (!base::readSmallFile(installDir + L"\\" + kCacheFileName, kMaxCacheBytes, data) ||
        data.size() < sizeof(kMagic) + kSha256Size)
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
    // The count is believed only as far as the file could hold that many entries.
    rehash(std::min<size_t>(count, body / (2 + 1 + 16 + kSha256Size)));
    bool sound = true;
    for (uint32_t i = 0; i < count && sound; ++i) {
        const uint16_t length = in.number<uint16_t>();
        if (length == 0 || length > kMaxPath) sound = false;
        const std::string entryPath = in.bytes(length);
        FileStamp stamp;
        stamp.size = in.number<uint64_t>();
        stamp.lastWrite = in.number<uint64_t>();
        const std::string raw = in.bytes(kSha256Size);
        sound = sound && in.ok();
        if (sound) put(entryPath, stamp, reinterpret_cast<const uint8_t*>(raw.data()));
    }
    if (!sound || !in.ok() || !in.atEnd()) {
        clear();
        return;
    }
    savedAt_ = savedAt;
    unsaved_ = false;
}

bool VerifyCache::save(const std::wstring& installDir, bool settle) {
    if (margin_ == 0) margin_ = timeMargin(installDir);
    uint64_t newest = 0;
    for (const Entry& entry : entries_) newest = std::max(newest, entry.stamp.lastWrite);
    uint64_t savedAt = now();
    if (settle && newest + margin_ >= savedAt) {
        // A time in the future (a skewed clock) never settles; wait no longer than the margin.
        const uint64_t wait = std::min(newest + margin_ - savedAt, margin_) / kMillisecond + 1;
        Sleep(static_cast<DWORD>(wait));
        savedAt = now();
    }

    std::vector<uint32_t> sorted;
    sorted.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        const size_t length = entries_[i].keyLength;
        if (length > 0 && length <= kMaxPath) sorted.push_back(static_cast<uint32_t>(i));
    }
    std::sort(sorted.begin(), sorted.end(),
              [this](uint32_t a, uint32_t b) { return keyOf(entries_[a]) < keyOf(entries_[b]); });

    // Written aside and moved over the old one: a crash leaves the old cache or the new one.
    const bool written = base::replaceFile(installDir + L"\\" + kCacheFileName, [&](HANDLE file) {
        HashedWriter out(file);
        out.bytes(kMagic, sizeof(kMagic));
        out.number<uint32_t>(kVersion);
        out.number<uint64_t>(savedAt);
        out.number<uint32_t>(static_cast<uint32_t>(sorted.size()));
        for (const uint32_t index : sorted) {
            const Entry& entry = entries_[index];
            const std::string_view entryKey = keyOf(entry);
            out.number<uint16_t>(entry.keyLength);
            out.bytes(entryKey.data(), entryKey.size());
            out.number<uint64_t>(entry.stamp.size);
            out.number<uint64_t>(entry.stamp.lastWrite);
            out.bytes(entry.digest, sizeof(entry.digest));
        }
        return out.finish();
    });
    if (!written) return false;
    savedAt_ = savedAt;
    unsaved_ = false;
    return true;
}

std::string VerifyCache::trustedDigest(const std::string& path, const FileStamp& stamp) const {
    const Entry* entry = find(key(path));
    if (!entry || !(entry->stamp == stamp)) return {};
    if (entry->stamp.lastWrite + margin_ >= savedAt_) return {};  // racily clean
    return base::toHex(entry->digest, sizeof(entry->digest));
}

void VerifyCache::record(const std::string& path, const FileStamp& stamp, const std::string& digest) {
    uint8_t raw[kSha256Size];
    if (rawDigest(digest, raw))
        record(path, stamp, raw);
    else
        forget(path);
}

void VerifyCache::record(const std::string& path, const FileStamp& stamp,
                         const uint8_t (&digest)[kSha256Size]) {
    const std::string entryKey = key(path);
    if (entryKey.size() <= UINT16_MAX) put(entryKey, stamp, digest);
}

void VerifyCache::forget(const std::string& path) {
    if (slots_.empty()) return;
    const size_t slot = slotOf(key(path));
    if (slots_[slot] != 0) erase(slot);
}

void VerifyCache::merge(VerifyCache&& newer) {
    if (newer.size() > size()) {
        swapStorage(newer);
        for (const Entry& entry : newer.entries_) {
            const std::string_view entryKey = newer.keyOf(entry);
            if (!find(entryKey)) put(entryKey, entry.stamp, entry.digest);
        }
    } else {
        for (const Entry& entry : newer.entries_) put(newer.keyOf(entry), entry.stamp, entry.digest);
    }
    newer.clear();
}

size_t VerifyCache::slotOf(std::string_view key) const {
    const size_t mask = slots_.size() - 1;
    for (size_t slot = hashOf(key) & mask;; slot = (slot + 1) & mask) {
        const uint32_t held = slots_[slot];
        if (held == 0 || keyOf(entries_[held - 1]) == key) return slot;
    }
}

const VerifyCache::Entry* VerifyCache::find(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const uint32_t held = slots_[slotOf(key)];
    return held ? &entries_[held - 1] : nullptr;
}

void VerifyCache::put(std::string_view key, const FileStamp& stamp, const uint8_t* digest) {
    if (2 * (entries_.size() + 1) > slots_.size()) rehash(entries_.size() + 1);
    const size_t slot = slotOf(key);
    if (slots_[slot] == 0) {
        entries_.push_back(Entry{stamp, {}, storeKey(key), static_cast<uint16_t>(key.size())});
        slots_[slot] = static_cast<uint32_t>(entries_.size());
    }
    Entry& entry = entries_[slots_[slot] - 1];
    entry.stamp = stamp;
    std::memcpy(entry.digest, digest, sizeof(entry.digest));
    unsaved_ = true;
}

void VerifyCache::erase(size_t slot) {
    // Backward-shift deletion: later members of the probe run move up into the hole, so
    // lookups never meet a gap before their key and no tombstones pile up.
    const size_t mask = slots_.size() - 1;
    const size_t index = slots_[slot] - 1;
    unsaved_ = true;
    size_t hole = slot;
    for (size_t next = (hole + 1) & mask; slots_[next] != 0; next = (next + 1) & mask) {
        const size_t home = hashOf(keyOf(entries_[slots_[next] - 1])) & mask;
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = 0;

    // The last entry fills the gap, so that entries_ stays dense.
    deadKeyBytes_ += entries_[index].keyLength;
    liveKeyBytes_ -= entries_[index].keyLength;
    const size_t last = entries_.size() - 1;
    if (index != last) {
        const size_t moved = slotOf(keyOf(entries_[last]));
        entries_[index] = entries_[last];
        slots_[moved] = static_cast<uint32_t>(index + 1);
    }
    entries_.pop_back();
    if (deadKeyBytes_ > liveKeyBytes_ + kKeyChunk) repack();
}

uint32_t VerifyCache::storeKey(std::string_view key) {
    if (kKeyChunk - keyChunkUsed_ < key.size()) {
        keyChunks_.emplace_back(new char[kKeyChunk]);
        keyChunkUsed_ = 0;
    }
    const uint32_t at = static_cast<uint32_t>(((keyChunks_.size() - 1) << 16) | keyChunkUsed_);
    std::memcpy(keyChunks_.back().get() + keyChunkUsed_, key.data(), key.size());
    keyChunkUsed_ += key.size();
    liveKeyBytes_ += key.size();
    return at;
}

void VerifyCache::rehash(size_t entries) {
    size_t size = 16;
    while (size < 2 * entries) size *= 2;
    if (size <= slots_.size()) return;
    slots_.assign(size, 0);
    const size_t mask = size - 1;
    for (size_t i = 0; i < entries_.size(); ++i) {
        size_t slot = hashOf(keyOf(entries_[i])) & mask;
        while (slots_[slot] != 0) slot = (slot + 1) & mask;
        slots_[slot] = static_cast<uint32_t>(i + 1);
    }
}

void VerifyCache::repack() {
    const std::vector<std::unique_ptr<char[]>> old = std::move(keyChunks_);
    keyChunks_.clear();
    keyChunkUsed_ = kKeyChunk;
    deadKeyBytes_ = liveKeyBytes_ = 0;
    for (Entry& entry : entries_)
        entry.keyAt = storeKey({old[entry.keyAt >> 16].get() + (entry.keyAt & 0xFFFF), entry.keyLength});
    slots_ = std::vector<uint32_t>();
    rehash(entries_.size());
}

void VerifyCache::swapStorage(VerifyCache& other) {
    std::swap(entries_, other.entries_);
    std::swap(keyChunks_, other.keyChunks_);
    std::swap(keyChunkUsed_, other.keyChunkUsed_);
    std::swap(deadKeyBytes_, other.deadKeyBytes_);
    std::swap(liveKeyBytes_, other.liveKeyBytes_);
    std::swap(slots_, other.slots_);
}

void VerifyCache::clear() {
    VerifyCache empty;
    swapStorage(empty);
}

}  // namespace pcupd
