#pragma once
// The chunk index of one client file: its chunks in order, each with its length and SHA-256.
// Published as an immutable object named by its own digest, listed in the manifest beside
// the file. Binary, little-endian:
//   "ORVCHK1\0" (8 bytes), file size (u64), chunk count (u32), then per chunk its length
//   (u32) and its SHA-256 (32 raw bytes).
// Plain C++, shared by the publisher and the program.

#include <cstdint>
#include <string>
#include <vector>

namespace base {

constexpr char kChunkIndexMagic[8] = {'O', 'R', 'V', 'C', 'H', 'K', '1', '\0'};
constexpr size_t kChunkIndexHeaderSize = 8 + 8 + 4;
constexpr size_t kChunkIndexRecordSize = 4 + 32;

struct ChunkRecord {
    uint32_t length = 0;
    uint8_t sha256[32] = {};
};

struct ChunkIndex {
    uint64_t fileSize = 0;
    std::vector<ChunkRecord> chunks;
};

std::string encodeChunkIndex(const ChunkIndex& index);

// False with a short reason in `error` ("chunk index is damaged") for a wrong magic, a size
// that disagrees with the count, a zero or over-long chunk, or lengths that do not add up to
// the file size.
bool decodeChunkIndex(const std::string& bytes, ChunkIndex& index, std::string& error);

}  // namespace base
