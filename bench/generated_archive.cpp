#include "bench/generated_archive.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "base/archive_format.h"
#include "base/chunk_groups.h"
#include "base/chunk_index.h"
#include "update/chunk_repair.h"
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

namespace {

void streamData(uint64_t content, uint64_t offset, char* out, size_t size) {
    const uint64_t salt = content << 40;
    while (size > 0) {
        const uint64_t word = mix(salt ^ (offset / 8));
        const size_t skip = offset % 8, take = std::min<size_t>(8 - skip, size);
        std::memcpy(out, reinterpret_cast<const char*>(&word) + skip, take);
        out += take;
        offset += take;
        size -= take;
    }
}

}  // namespace

void GeneratedArchive::entryData(uint32_t index, uint64_t offset, char* out, size_t size) {
    streamData(index, offset, out, size);
}

void GeneratedArchive::fileData(const Entry& entry, uint64_t offset, char* out, size_t size) {
    const uint64_t insertEnd = entry.insertAt + entry.inserted;
    while (size > 0) {
        size_t take = size;
        if (entry.inserted == 0 || offset + size <= entry.insertAt) {
            streamData(entry.content, offset, out, size);
        } else if (offset < entry.insertAt) {
            take = static_cast<size_t>(entry.insertAt - offset);
            streamData(entry.content, offset, out, take);
        } else if (offset < insertEnd) {
            take = static_cast<size_t>(std::min<uint64_t>(size, insertEnd - offset));
            streamData(~entry.content, offset - entry.insertAt, out, take);
        } else {
            streamData(entry.content, offset - entry.inserted, out, size);
        }
        out += take;
        offset += take;
        size -= take;
    }
}

GeneratedArchive::GeneratedArchive(std::vector<Entry> layout) : entries_(std::move(layout)) {
    for (const Entry& entry : entries_) dataBytes_ += entry.size;
    build();
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
        entry.content = i;
        dataBytes_ += entry.size;
    }
    build();
}

std::string GeneratedArchive::headsDigest() const {
    pcupd::Sha256 sha;
    for (const Segment& segment : segments_) sha.update(segment.bytes.data(), segment.bytes.size());
    return sha.finish();
}

void GeneratedArchive::build() {
    const uint32_t count = static_cast<uint32_t>(entries_.size());
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
        uint8_t digest[pcupd::kSha256Size] = {};
        std::vector<uint8_t> given;
        if (!entry.sha256.empty() && base::fromHex(entry.sha256, given) && given.size() == sizeof(digest)) {
            std::copy(given.begin(), given.end(), digest);
        } else {
            pcupd::Sha256 sha;
            for (uint64_t done = 0; done < entry.size;) {
                const size_t piece = static_cast<size_t>(std::min<uint64_t>(buffer.size(), entry.size - done));
                fileData(entry, done, buffer.data(), piece);
                sha.update(buffer.data(), piece);
                done += piece;
            }
            sha.finish(digest);
            entry.sha256 = base::toHex(digest, sizeof(digest));
        }

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
            fileData(entries_[segment->entry], offset - segment->start, out, take);
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
    full.headsSha256 = archive.headsDigest();
    full.size = static_cast<int64_t>(archive.size());
    for (const GeneratedArchive::Entry& entry : archive.entries())
        manifest.files.push_back({entry.path, entry.sha256, static_cast<int64_t>(entry.size), url, {}, {}, {}, {}});
}

namespace {

// A uniform number in [0, 1) from the generator's raw output, the same on every platform.
double unit(std::mt19937_64& random) { return static_cast<double>(random() >> 11) / 9007199254740992.0; }

struct Bucket {
    uint64_t low, high;  // sizes in [low, high)
    uint32_t files;
    uint64_t bytes;
};

// The real game's size histogram: files and bytes per size range.
constexpr Bucket kBuckets[] = {
    {1, 1 << 10, 1136, 456706},
    {1 << 10, 4 << 10, 917, 2250251},
    {4 << 10, 16 << 10, 948, 8142658},
    {16 << 10, 64 << 10, 815, 27865434},
    {64 << 10, 256 << 10, 829, 110510835},
    {256 << 10, 1 << 20, 422, 217908136},
    {1 << 20, 4 << 20, 177, 314899492},
    {4 << 20, 10360470, 6, 39825032},
};

// Files per folder depth (0: the client's own folder), and the folders made at each depth.
constexpr uint32_t kFilesAtDepth[] = {1, 24, 1137, 3882, 52, 4, 130, 20};
constexpr uint32_t kFoldersAtDepth[] = {1, 8, 180, 92, 10, 2, 12, 4};

struct Extension {
    const char* name;
    uint32_t files;
};
constexpr Extension kExtensions[] = {
    {".png", 2205}, {".mesh", 1222}, {".xml", 744}, {".jpg", 549}, {".ogg", 123}, {".layout", 81},
    {".frag", 78},  {".po", 63},     {".track", 35}, {".rec", 29}, {".goal", 28}, {".script", 24},
    {".vert", 23},  {".comp", 6},    {".ttf", 5},    {".dat", 35}};

// Sizes for one bucket: log-uniform in its range, then scaled towards its byte total.
std::vector<uint64_t> bucketSizes(const Bucket& bucket, std::mt19937_64& random) {
    std::vector<uint64_t> sizes(bucket.files);
    const double ratio = static_cast<double>(bucket.high) / static_cast<double>(bucket.low);
    double sum = 0;
    std::vector<double> raw(bucket.files);
    for (double& size : raw) sum += size = static_cast<double>(bucket.low) * std::pow(ratio, unit(random));
    const double scale = static_cast<double>(bucket.bytes) / sum;
    for (size_t i = 0; i < sizes.size(); ++i)
        sizes[i] = std::clamp<uint64_t>(static_cast<uint64_t>(raw[i] * scale), bucket.low, bucket.high - 1);
    return sizes;
}

}  // namespace

std::vector<GeneratedArchive::Entry> clientLayout(uint64_t seed) {
    std::mt19937_64 random(seed);
    const char* const topNames[] = {"data", "textures", "models", "sounds", "music", "interface", "shaders", "levels"};
    const char* const words[] = {"set", "group", "pack", "area", "part"};

    // Folders, depth by depth: each under a parent one level up.
    std::vector<std::vector<std::string>> folders(std::size(kFoldersAtDepth));
    folders[0].push_back("");
    for (size_t depth = 1; depth < folders.size(); ++depth) {
        for (uint32_t i = 0; i < kFoldersAtDepth[depth]; ++i) {
            const std::vector<std::string>& parents = folders[depth - 1];
            const std::string& parent = parents[static_cast<size_t>(unit(random) * parents.size())];
            const std::string name = depth == 1 ? topNames[i % std::size(topNames)]
                                                : words[i % std::size(words)] + std::to_string(i);
            folders[depth].push_back(parent.empty() ? name : parent + "/" + name);
        }
    }

    std::vector<uint64_t> sizes;
    for (const Bucket& bucket : kBuckets) {
        const std::vector<uint64_t> some = bucketSizes(bucket, random);
        sizes.insert(sizes.end(), some.begin(), some.end());
    }
    std::shuffle(sizes.begin(), sizes.end(), random);
    std::vector<const char*> extensions;
    for (const Extension& extension : kExtensions) extensions.insert(extensions.end(), extension.files, extension.name);
    std::shuffle(extensions.begin(), extensions.end(), random);

    std::vector<GeneratedArchive::Entry> files;
    files.reserve(sizes.size());
    for (size_t depth = 0; depth < std::size(kFilesAtDepth); ++depth) {
        for (uint32_t i = 0; i < kFilesAtDepth[depth]; ++i) {
            GeneratedArchive::Entry entry;
            const size_t index = files.size();
            // Squaring favours the first folders of a depth: a few hold hundreds of files.
            const double pick = unit(random);
            const std::string& folder = folders[depth][static_cast<size_t>(pick * pick * folders[depth].size())];
            const std::string name = "f" + std::to_string(index) + extensions[index % extensions.size()];
            entry.path = folder.empty() ? name : folder + "/" + name;
            entry.size = sizes[index % sizes.size()];
            entry.content = index;
            files.push_back(std::move(entry));
        }
    }
    return files;
}

NextRelease nextRelease(const std::vector<GeneratedArchive::Entry>& layout, uint64_t seed) {
    std::mt19937_64 random(seed);
    NextRelease next;
    std::vector<size_t> large, small;
    for (size_t i = 0; i < layout.size(); ++i) (layout[i].size >= (1u << 20) ? large : small).push_back(i);
    std::shuffle(large.begin(), large.end(), random);
    std::shuffle(small.begin(), small.end(), random);
    large.resize(10);
    const std::vector<size_t> rewritten(small.begin(), small.begin() + 40);
    const std::vector<size_t> dropped(small.begin() + 40, small.begin() + 50);

    uint64_t newContent = 1ULL << 22;
    for (size_t i = 0; i < layout.size(); ++i) {
        if (std::find(dropped.begin(), dropped.end(), i) != dropped.end()) continue;
        GeneratedArchive::Entry entry = layout[i];
        entry.dataOffset = 0;
        if (std::find(large.begin(), large.end(), i) != large.end()) {
            entry.insertAt = entry.size / 2;
            entry.inserted = 100;
            entry.size += entry.inserted;
            entry.sha256.clear();
            next.changedBytes += entry.inserted;
            next.edited.push_back(next.files.size());
        } else if (std::find(rewritten.begin(), rewritten.end(), i) != rewritten.end()) {
            entry.content = newContent++;
            entry.sha256.clear();
            next.changedBytes += entry.size;
        }
        next.files.push_back(std::move(entry));
    }
    for (size_t i = 0; i < 10; ++i) {
        GeneratedArchive::Entry entry = layout[small[50 + i]];
        const size_t slash = entry.path.rfind('/');
        entry.path = (slash == std::string::npos ? "" : entry.path.substr(0, slash + 1)) + "added" + std::to_string(i) + ".dat";
        entry.size = 20000 + static_cast<uint64_t>(unit(random) * 200000);
        entry.content = newContent++;
        entry.sha256.clear();
        next.changedBytes += entry.size;
        next.files.push_back(std::move(entry));
    }
    return next;
}

std::string chunkIndexOf(const GeneratedArchive::Entry& entry, std::string& sha256) {
    base::ChunkIndex chunks;
    chunks.fileSize = entry.size;
    chunks.sizes = base::chunkSizesFor(entry.size);  // as the publisher cuts it
    pcupd::ChunkHasher hasher([&chunks](uint32_t length, const pcupd::ChunkDigest& digest) {
        base::ChunkRecord record;
        record.length = length;
        std::copy(digest.begin(), digest.end(), record.sha256);
        chunks.chunks.push_back(record);
    }, chunks.sizes);
    std::vector<char> buffer(1 << 20);
    for (uint64_t at = 0; at < entry.size; at += buffer.size()) {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(buffer.size(), entry.size - at));
        GeneratedArchive::fileData(entry, at, buffer.data(), size);
        hasher.feed(reinterpret_cast<const uint8_t*>(buffer.data()), size);
    }
    hasher.finish();
    const std::string index = base::encodeChunkIndex(chunks);
    pcupd::Sha256 sha;
    sha.update(index.data(), index.size());
    sha256 = sha.finish();
    return index;
}

std::string manifestJson(const pcupd::Manifest& manifest, const pcupd::FullArchive& full) {
    std::string json = "{\"clientVersion\":\"" + manifest.clientVersion + "\",";
    if (!full.url.empty())
        json += "\"fullArchive\":{\"url\":\"" + full.url + "\",\"sha256\":\"" + full.sha256 +
                (full.headsSha256.empty() ? "" : "\",\"headsSha256\":\"" + full.headsSha256) + "\",\"size\":" + std::to_string(full.size) + ",\"format\":\"" + base::kArchiveFormatName + "\"},";
    json += "\"files\":[";
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        const pcupd::ManifestFile& file = manifest.files[i];
        json += std::string(i ? "," : "") + "{\"path\":\"" + file.path + "\",\"sha256\":\"" + file.sha256 +
                "\",\"size\":" + std::to_string(file.size) + ",\"url\":\"" + file.url + "\"";
        if (!file.chunksUrl.empty())
            json += ",\"chunksUrl\":\"" + file.chunksUrl + "\",\"chunksSha256\":\"" + file.chunksSha256 + "\"";
        json += "}";
    }
    return json + "]}";
}

}  // namespace bench
