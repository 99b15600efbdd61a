#include "base/chunk_index.h"

#include <cstring>
#include <utility>

#include "base/little_endian.h"

namespace base {

std::string encodeChunkIndex(const ChunkIndex& index) {
    const bool first = index.sizes == kLargeChunks;
    std::string out;
    out.reserve(kChunkIndexHeaderSize2 + index.chunks.size() * kChunkIndexRecordSize);
    out.append(first ? kChunkIndexMagic : kChunkIndexMagic2, sizeof kChunkIndexMagic);
    appendLittleEndian(out, index.fileSize, 8);
    if (!first) {
        appendLittleEndian(out, index.sizes.min, 4);
        appendLittleEndian(out, index.sizes.average, 4);
        appendLittleEndian(out, index.sizes.max, 4);
    }
    appendLittleEndian(out, index.chunks.size(), 4);
    for (const ChunkRecord& chunk : index.chunks) {
        appendLittleEndian(out, chunk.length, 4);
        out.append(reinterpret_cast<const char*>(chunk.sha256), sizeof chunk.sha256);
    }
    return out;
}

bool decodeChunkIndex(const std::string& bytes, ChunkIndex& index, std::string& error) {
    error = "chunk index is damaged";
    const bool first = bytes.size() >= kChunkIndexHeaderSize &&
                       std::memcmp(bytes.data(), kChunkIndexMagic, sizeof kChunkIndexMagic) == 0;
    const bool second = bytes.size() >= kChunkIndexHeaderSize2 &&
                        std::memcmp(bytes.data(), kChunkIndexMagic2, sizeof kChunkIndexMagic2) == 0;
    if (!first && !second) return false;
    const size_t headerSize = first ? kChunkIndexHeaderSize : kChunkIndexHeaderSize2;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    ChunkIndex decoded;
    decoded.fileSize = readLittleEndian(p + 8, 8);
    if (second) {
        decoded.sizes.min = static_cast<uint32_t>(readLittleEndian(p + 16, 4));
        decoded.sizes.average = static_cast<uint32_t>(readLittleEndian(p + 20, 4));
        decoded.sizes.max = static_cast<uint32_t>(readLittleEndian(p + 24, 4));
        if (!validChunkSizes(decoded.sizes)) return false;
    }
    const uint64_t count = readLittleEndian(p + headerSize - 4, 4);
    if ((bytes.size() - headerSize) / kChunkIndexRecordSize != count ||
        (bytes.size() - headerSize) % kChunkIndexRecordSize != 0) {
        return false;
    }
    decoded.chunks.resize(count);
    uint64_t total = 0;
    p += headerSize;
    for (ChunkRecord& chunk : decoded.chunks) {
        chunk.length = static_cast<uint32_t>(readLittleEndian(p, 4));
        if (chunk.length == 0 || chunk.length > decoded.sizes.max) return false;
        std::memcpy(chunk.sha256, p + 4, sizeof chunk.sha256);
        total += chunk.length;
        p += kChunkIndexRecordSize;
    }
    if (total != decoded.fileSize) return false;
    index = std::move(decoded);
    error.clear();
    return true;
}

}  // namespace base
