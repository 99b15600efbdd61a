#include "base/chunk_groups.h"

#include <map>
#include <utility>

#include "base/chunker.h"
#include "base/little_endian.h"

namespace base {

std::string encodeChunkGroups(const ChunkGroups& groups) {
    std::string out;
    out.reserve(kChunkGroupsHeaderSize + groups.groups.size() * kChunkGroupRecordSize);
    out.append(kChunkGroupsMagic, sizeof kChunkGroupsMagic);
    appendLittleEndian(out, groups.fileSize, 8);
    appendLittleEndian(out, groups.chunkCount, 4);
    appendLittleEndian(out, groups.groups.size(), 4);
    for (const ChunkGroup& group : groups.groups) {
        appendLittleEndian(out, group.firstChunk, 4);
        appendLittleEndian(out, group.chunkCount, 4);
        appendLittleEndian(out, group.offset, 8);
        appendLittleEndian(out, group.length, 8);
        out.append(reinterpret_cast<const char*>(group.sha256), sizeof group.sha256);
    }
    return out;
}

bool decodeChunkGroups(const std::string& bytes, ChunkGroups& groups, std::string& error) {
    error = "chunk groups are damaged";
    if (bytes.size() < kChunkGroupsHeaderSize ||
        std::memcmp(bytes.data(), kChunkGroupsMagic, sizeof kChunkGroupsMagic) != 0)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    ChunkGroups decoded;
    decoded.fileSize = readLittleEndian(p + 8, 8);
    decoded.chunkCount = static_cast<uint32_t>(readLittleEndian(p + 16, 4));
    const uint64_t count = readLittleEndian(p + 20, 4);
    if ((bytes.size() - kChunkGroupsHeaderSize) % kChunkGroupRecordSize != 0 ||
        (bytes.size() - kChunkGroupsHeaderSize) / kChunkGroupRecordSize != count)
        return false;
    decoded.groups.resize(count);
    p += kChunkGroupsHeaderSize;
    uint64_t chunk = 0, offset = 0;
    for (ChunkGroup& group : decoded.groups) {
        group.firstChunk = static_cast<uint32_t>(readLittleEndian(p, 4));
        group.chunkCount = static_cast<uint32_t>(readLittleEndian(p + 4, 4));
        group.offset = readLittleEndian(p + 8, 8);
        group.length = readLittleEndian(p + 16, 8);
        std::memcpy(group.sha256, p + 24, sizeof group.sha256);
        // Each group follows on from the one before, holds chunks, and no chunk is longer than
        // the chunker makes them.
        if (group.firstChunk != chunk || group.offset != offset || group.chunkCount == 0 ||
            group.length < group.chunkCount ||
            group.length > static_cast<uint64_t>(group.chunkCount) * kChunkMax)
            return false;
        chunk += group.chunkCount;
        offset += group.length;
        p += kChunkGroupRecordSize;
    }
    if (chunk != decoded.chunkCount || offset != decoded.fileSize) return false;
    groups = std::move(decoded);
    error.clear();
    return true;
}

std::vector<const ChunkGroup*> groupsNotIn(const ChunkGroups& groups, const ChunkGroups& other) {
    std::map<uint64_t, const ChunkGroup*> otherAt;
    for (const ChunkGroup& group : other.groups) otherAt[group.offset] = &group;
    std::vector<const ChunkGroup*> missing;
    for (const ChunkGroup& group : groups.groups) {
        const auto found = otherAt.find(group.offset);
        if (found == otherAt.end() || found->second->length != group.length ||
            std::memcmp(found->second->sha256, group.sha256, sizeof group.sha256) != 0)
            missing.push_back(&group);
    }
    return missing;
}

std::vector<RecordRange> recordRanges(const std::vector<const ChunkGroup*>& groups) {
    std::vector<RecordRange> ranges;
    for (size_t i = 0; i < groups.size(); ++i) {
        const ChunkGroup& group = *groups[i];
        if (!ranges.empty() && ranges.back().from + ranges.back().size == groupRecordsOffset(group)) {
            ranges.back().size += groupRecordsSize(group);
            ++ranges.back().count;
        } else {
            ranges.push_back({groupRecordsOffset(group), groupRecordsSize(group), i, 1});
        }
    }
    return ranges;
}

bool placeChunks(const ChunkGroup& group, const char* records, std::vector<PlacedChunk>& chunks) {
    uint64_t offset = group.offset;
    for (uint32_t c = 0; c < group.chunkCount; ++c) {
        const auto* p = reinterpret_cast<const unsigned char*>(records) + c * kChunkIndexRecordSize;
        PlacedChunk chunk;
        chunk.offset = offset;
        chunk.record.length = static_cast<uint32_t>(readLittleEndian(p, 4));
        std::memcpy(chunk.record.sha256, p + 4, sizeof chunk.record.sha256);
        if (chunk.record.length == 0 || chunk.record.length > kChunkMax) return false;
        offset += chunk.record.length;
        chunks.push_back(chunk);
    }
    return offset == group.offset + group.length;
}

std::vector<PatchRun> patchRuns(const std::vector<PlacedChunk>& now, const std::vector<PlacedChunk>& before,
                                uint64_t& toDownload) {
    std::map<uint64_t, const ChunkRecord*> beforeAt;
    for (const PlacedChunk& chunk : before) beforeAt[chunk.offset] = &chunk.record;
    std::vector<PatchRun> runs;
    toDownload = 0;
    for (const PlacedChunk& chunk : now) {
        const auto found = beforeAt.find(chunk.offset);
        if (found != beforeAt.end() && found->second->length == chunk.record.length &&
            std::memcmp(found->second->sha256, chunk.record.sha256, sizeof chunk.record.sha256) == 0)
            continue;
        if (runs.empty() || runs.back().from + runs.back().length != chunk.offset) runs.push_back({chunk.offset, 0, {}});
        runs.back().length += chunk.record.length;
        runs.back().chunks.push_back(chunk.record);
        toDownload += chunk.record.length;
    }
    return runs;
}

}  // namespace base
