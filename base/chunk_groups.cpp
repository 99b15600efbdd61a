#include "base/chunk_groups.h"

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

}  // namespace base
