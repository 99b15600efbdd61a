#include "base/chunk_index.h"

#include <cstring>
#include <utility>

#include "base/chunker.h"
#include "base/little_endian.h"

namespace base {

std::string encodeChunkIndex(const ChunkIndex& index) {
    std::string out;
    out.reserve(kChunkIndexHeaderSize + index.chunks.size() * kChunkIndexRecordSize);
    out.append(kChunkIndexMagic, sizeof kChunkIndexMagic);
    appendLittleEndian(out, index.fileSize, 8);
    appendLittleEndian(out, index.chunks.size(), 4);
    for (const ChunkRecord& chunk : index.chunks) {
        appendLittleEndian(out, chunk.length, 4);
        out.append(reinterpret_cast<const char*>(chunk.sha256), sizeof chunk.sha256);
    }
    return out;
}

bool decodeChunkIndex(const std::string& bytes, ChunkIndex& index, std::string& error) {
    error = "chunk index is damaged";
    if (bytes.size() < kChunkIndexHeaderSize ||
        std::memcmp(bytes.data(), kChunkIndexMagic, sizeof kChunkIndexMagic) != 0) {
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const uint64_t fileSize = readLittleEndian(p + 8, 8);
    const uint64_t count = readLittleEndian(p + 16, 4);
    if ((bytes.size() - kChunkIndexHeaderSize) / kChunkIndexRecordSize != count ||
        (bytes.size() - kChunkIndexHeaderSize) % kChunkIndexRecordSize != 0) {
        return false;
    }
    ChunkIndex decoded;
    decoded.fileSize = fileSize;
    decoded.chunks.resize(count);
    uint64_t total = 0;
    p += kChunkIndexHeaderSize;
    for (ChunkRecord& chunk : decoded.chunks) {
        chunk.length = static_cast<uint32_t>(readLittleEndian(p, 4));
        if (chunk.length == 0 || chunk.length > kChunkMax) return false;
        std::memcpy(chunk.sha256, p + 4, sizeof chunk.sha256);
        total += chunk.length;
        p += kChunkIndexRecordSize;
    }
    if (total != fileSize) return false;
    index = std::move(decoded);
    error.clear();
    return true;
}

}  // namespace base
