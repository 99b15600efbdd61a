#include "bench/generated_archive.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "update/sha256.h"

namespace bench {
namespace {

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

template <typename T>
void put(std::string& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

void GeneratedArchive::entryData(uint32_t index, uint64_t offset, char* out, size_t size) {
    const uint64_t salt = static_cast<uint64_t>(index) << 40;
    while (size > 0) {
        const uint64_t word = mix(salt ^ (offset / 8));
        const size_t skip = offset % 8, take = std::min<size_t>(8 - skip, size);
        std::memcpy(out, reinterpret_cast<const char*>(&word) + skip, take);
        out += take;
        offset += take;
        size -= take;
    }
}

GeneratedArchive::GeneratedArchive(uint64_t dataBytes, uint32_t count) {
    // Heavy-tailed sizes, like a game client: many small files, a few very large ones.
    std::vector<double> weights(count);
    double sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const double uniform = static_cast<double>(mix(i * 7919ULL) >> 11) / 9007199254740992.0;
        weights[i] = std::exp(uniform * 7.0 - 4.0);
        sum += weights[i];
    }
    entries_.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        Entry& entry = entries_[i];
        entry.size = static_cast<uint64_t>(static_cast<double>(dataBytes) * weights[i] / sum);
        entry.path = "data/pack" + std::to_string(i % 17) + "/group" + std::to_string(i % 5) +
                     "/file" + std::to_string(i) + ".bin";
        dataBytes_ += entry.size;
    }

    std::string header = "ORVPAK1";
    header.push_back('\0');
    put<uint32_t>(header, 1);
    put<uint32_t>(header, count);
    put<uint64_t>(header, dataBytes_);
    segments_.push_back({0, header, 0});
    uint64_t offset = header.size();

    std::vector<char> buffer(1 << 20);
    for (uint32_t i = 0; i < count; ++i) {
        Entry& entry = entries_[i];
        pcupd::Sha256 sha;
        uint8_t digest[pcupd::kSha256Size] = {};
        for (uint64_t done = 0; done < entry.size;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(buffer.size(), entry.size - done));
            entryData(i, done, buffer.data(), piece);
            sha.update(buffer.data(), piece);
            done += piece;
        }
        sha.finish(digest);
        entry.sha256 = base::toHex(digest, sizeof(digest));

        std::string entryHeader;
        put<uint16_t>(entryHeader, static_cast<uint16_t>(entry.path.size()));
        entryHeader += entry.path;
        put<uint64_t>(entryHeader, entry.size);
        entryHeader.append(reinterpret_cast<const char*>(digest), sizeof(digest));
        segments_.push_back({offset, entryHeader, i});
        offset += entryHeader.size();
        entry.dataOffset = offset;
        segments_.push_back({offset, std::string(), i});
        offset += entry.size;
    }
    size_ = offset;
}

void GeneratedArchive::read(uint64_t offset, char* out, size_t size) const {
    auto segment = std::upper_bound(segments_.begin(), segments_.end(), offset,
                                     [](uint64_t value, const Segment& s) { return value < s.start; }) - 1;
    while (size > 0 && segment != segments_.end()) {
        const uint64_t end = segment + 1 == segments_.end() ? size_ : (segment + 1)->start;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(size, end - offset));
        if (!segment->bytes.empty())
            std::memcpy(out, segment->bytes.data() + (offset - segment->start), take);
        else
            entryData(segment->entry, offset - segment->start, out, take);
        out += take;
        offset += take;
        size -= take;
        ++segment;
    }
}

EmptyEntriesArchive::EmptyEntriesArchive(uint32_t count) : count_(count) {
    header_ = "ORVPAK1";
    header_.push_back('\0');
    put<uint32_t>(header_, 1);
    put<uint32_t>(header_, count);
    put<uint64_t>(header_, 0);
    pcupd::Sha256 sha;
    sha.finish(emptyDigest_);
}

std::string EmptyEntriesArchive::path(uint32_t index) {
    char text[kPathLength + 1];
    std::snprintf(text, sizeof(text), "empty/d%04u/e%07u.bin", index / 1000 % 10000, index % 10000000);
    return text;
}

void EmptyEntriesArchive::entryHeader(uint32_t index, char (&out)[kEntryHeader]) const {
    std::string bytes;
    put<uint16_t>(bytes, static_cast<uint16_t>(kPathLength));
    bytes += path(index);
    put<uint64_t>(bytes, 0);
    bytes.append(reinterpret_cast<const char*>(emptyDigest_), sizeof(emptyDigest_));
    std::memcpy(out, bytes.data(), kEntryHeader);
}

void EmptyEntriesArchive::read(uint64_t offset, char* out, size_t size) const {
    char entry[kEntryHeader];
    uint32_t cached = UINT32_MAX;
    while (size > 0 && offset < this->size()) {
        size_t take = 0;
        if (offset < header_.size()) {
            take = std::min<size_t>(size, header_.size() - offset);
            std::memcpy(out, header_.data() + offset, take);
        } else {
            const uint64_t inEntries = offset - header_.size();
            const uint32_t index = static_cast<uint32_t>(inEntries / kEntryHeader);
            const size_t within = static_cast<size_t>(inEntries % kEntryHeader);
            if (index != cached) entryHeader(cached = index, entry);
            take = std::min<size_t>(size, kEntryHeader - within);
            std::memcpy(out, entry + within, take);
        }
        out += take;
        offset += take;
        size -= take;
    }
}

pcupd::Manifest EmptyEntriesArchive::manifest() const {
    pcupd::Manifest manifest;
    manifest.files.reserve(count_);
    const std::string emptyDigest = base::toHex(emptyDigest_, sizeof(emptyDigest_));
    for (uint32_t i = 0; i < count_; ++i) {
        pcupd::ManifestFile file;
        file.path = path(i);
        file.sha256 = emptyDigest;
        manifest.files.push_back(std::move(file));
    }
    return manifest;
}

void describe(const GeneratedArchive& archive, const std::string& url,
              pcupd::FullArchive& full, pcupd::Manifest& manifest) {
    pcupd::Sha256 sha;
    std::vector<char> buffer(1 << 20);
    for (uint64_t offset = 0; offset < archive.size(); offset += buffer.size()) {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(buffer.size(), archive.size() - offset));
        archive.read(offset, buffer.data(), size);
        sha.update(buffer.data(), size);
    }
    full.url = url;
    full.sha256 = sha.finish();
    full.size = static_cast<int64_t>(archive.size());
    for (const GeneratedArchive::Entry& entry : archive.entries())
        manifest.files.push_back({entry.path, entry.sha256, static_cast<int64_t>(entry.size), url, {}, {}, {}, {}});
}

}  // namespace bench
