#pragma once
// The chunk groups of a very large client file: its chunk index (base/chunk_index.h) cut into
// runs of chunks, each named by the SHA-256 of its records exactly as the index stores them.
// A program that holds the previous release of the file compares the two releases' groups,
// a few kilobytes, and fetches only the records of the groups that changed, as byte ranges
// of the index, instead of the whole index (megabytes for a pack of several gigabytes).
// Group boundaries depend on the chunks' digests, so an edit changes only the groups around
// it. Published as an immutable object named by its own digest, listed in the manifest beside
// the file. Binary, little-endian:
//   "ORVGRP1\0" (8 bytes), file size (u64), chunk count (u32), group count (u32), then per
//   group its first chunk (u32), chunk count (u32), offset in the file (u64), length in the
//   file (u64) and the SHA-256 of its records (32 raw bytes).
// Plain C++, shared by the publisher and the program.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/chunk_index.h"

namespace base {

constexpr char kChunkGroupsMagic[8] = {'O', 'R', 'V', 'G', 'R', 'P', '1', '\0'};
constexpr size_t kChunkGroupsHeaderSize = 8 + 8 + 4 + 4;
constexpr size_t kChunkGroupRecordSize = 4 + 4 + 8 + 8 + 32;
// Files from this size on get groups: below it the whole index is a few hundred kilobytes
// at most, and one request.
constexpr uint64_t kChunkGroupsThreshold = 64ULL << 20;
// A group ends after a chunk whose digest starts with ten zero bits (about 1,024 chunks, 64 MiB
// of file), but holds at least kMinGroupChunks and at most kMaxGroupChunks chunks.
constexpr uint32_t kMinGroupChunks = 64;
constexpr uint32_t kMaxGroupChunks = 4096;

struct ChunkGroup {
    uint32_t firstChunk = 0, chunkCount = 0;
    uint64_t offset = 0, length = 0;
    uint8_t sha256[32] = {};
};

struct ChunkGroups {
    uint64_t fileSize = 0;
    uint32_t chunkCount = 0;
    std::vector<ChunkGroup> groups;
};

// Where group `group`'s records lie in the encoded chunk index: [first, first + size).
inline uint64_t groupRecordsOffset(const ChunkGroup& group) {
    return kChunkIndexHeaderSize + static_cast<uint64_t>(group.firstChunk) * kChunkIndexRecordSize;
}
inline uint64_t groupRecordsSize(const ChunkGroup& group) {
    return static_cast<uint64_t>(group.chunkCount) * kChunkIndexRecordSize;
}

// True when a chunk with this digest ends a group (once the group has kMinGroupChunks).
inline bool endsGroup(const uint8_t (&digest)[32]) { return digest[0] == 0 && (digest[1] & 0xC0) == 0; }

struct GroupLimits {
    uint32_t minChunks = kMinGroupChunks, maxChunks = kMaxGroupChunks;
};

// The groups of `index`, whose encoding is `encoded` (encodeChunkIndex). `Hasher` is the
// caller's SHA-256: a default constructor, update(const void*, size_t) and
// bool finish(uint8_t (&)[32]). False when hashing failed.
template <typename Hasher>
bool groupChunks(const ChunkIndex& index, const std::string& encoded, ChunkGroups& groups,
                 const GroupLimits& limits = GroupLimits{}) {
    groups = ChunkGroups{};
    groups.fileSize = index.fileSize;
    groups.chunkCount = static_cast<uint32_t>(index.chunks.size());
    ChunkGroup group;
    const auto close = [&]() {
        Hasher hasher;
        hasher.update(encoded.data() + groupRecordsOffset(group), groupRecordsSize(group));
        if (!hasher.finish(group.sha256)) return false;
        groups.groups.push_back(group);
        group.firstChunk += group.chunkCount;
        group.offset += group.length;
        group.chunkCount = 0;
        group.length = 0;
        return true;
    };
    for (const ChunkRecord& chunk : index.chunks) {
        ++group.chunkCount;
        group.length += chunk.length;
        if ((group.chunkCount >= limits.minChunks && endsGroup(chunk.sha256)) ||
            group.chunkCount >= limits.maxChunks) {
            if (!close()) return false;
        }
    }
    return group.chunkCount == 0 || close();
}

std::string encodeChunkGroups(const ChunkGroups& groups);

// False with "chunk groups are damaged" for a wrong magic or size, or groups that do not
// follow on from each other to cover every chunk and byte exactly.
bool decodeChunkGroups(const std::string& bytes, ChunkGroups& groups, std::string& error);

}  // namespace base
