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

// The chunk sizes a file of `fileSize` bytes is indexed with: a very large file keeps
// kLargeChunks, whose ORVCHK1 layout its groups address; the others are cut finer.
inline ChunkSizes chunkSizesFor(uint64_t fileSize) {
    return fileSize >= kChunkGroupsThreshold ? kLargeChunks : kSmallChunks;
}
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

// The plan of an update in place, from the previous release's file to the new one, shared by
// the program and the publisher's cost report. A group that the other release has, identical,
// at the same offset is the same bytes in both files; only the records of the others are read.
std::vector<const ChunkGroup*> groupsNotIn(const ChunkGroups& groups, const ChunkGroups& other);

// Consecutive groups of one index read together: one Range request of the index each.
struct RecordRange {
    uint64_t from = 0, size = 0;  // in the encoded index
    size_t first = 0, count = 0;  // in the list of groups it was made from
};
std::vector<RecordRange> recordRanges(const std::vector<const ChunkGroup*>& groups);

// A chunk and where it lies in its release's file.
struct PlacedChunk {
    uint64_t offset = 0;
    ChunkRecord record;
};
// Appends `group`'s chunks from its records as the index stores them (groupRecordsSize(group)
// bytes). False when a length is out of bounds or they do not add up to the group.
bool placeChunks(const ChunkGroup& group, const char* records, std::vector<PlacedChunk>& chunks);

// The new release's chunks that the previous one does not hold identical at the same place,
// in runs of consecutive chunks: one Range request of the new file each.
struct PatchRun {
    uint64_t from = 0, length = 0;
    std::vector<ChunkRecord> chunks;
};
std::vector<PatchRun> patchRuns(const std::vector<PlacedChunk>& now, const std::vector<PlacedChunk>& before,
                                uint64_t& toDownload);

// In place pays only while most of the file stays: beyond a quarter, the chunk repair, which
// also finds chunks that moved, does better.
inline bool patchPays(uint64_t toDownload, uint64_t fileSize) { return toDownload <= fileSize / 4; }

// False with "chunk groups are damaged" for a wrong magic or size, or groups that do not
// follow on from each other to cover every chunk and byte exactly.
bool decodeChunkGroups(const std::string& bytes, ChunkGroups& groups, std::string& error);

}  // namespace base
