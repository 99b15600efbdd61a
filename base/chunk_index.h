#pragma once
// The chunk index of one client file: its chunks in order, each with its length and SHA-256.
// Published as an immutable object named by its own digest, listed in the manifest beside
// the file. Binary, little-endian, in one of two versions:
//   "ORVCHK1\0" (8 bytes), file size (u64), chunk count (u32), then per chunk its length
//   (u32) and its SHA-256 (32 raw bytes). The file was cut with kLargeChunks (chunker.h).
//   "ORVCHK2\0" (8 bytes), file size (u64), the minimum, average and maximum chunk sizes the
//   file was cut with (u32 each), chunk count (u32), then the same records.
// An index cut with kLargeChunks is always written as ORVCHK1, so very large files' indexes,
// whose groups (chunk_groups.h) address records by offset, keep that layout.
// Plain C++, shared by the publisher and the program.

#include <cstdint>
#include <string>
#include <vector>

#include "base/chunker.h"

namespace base {

constexpr char kChunkIndexMagic[8] = {'O', 'R', 'V', 'C', 'H', 'K', '1', '\0'};
constexpr char kChunkIndexMagic2[8] = {'O', 'R', 'V', 'C', 'H', 'K', '2', '\0'};
constexpr size_t kChunkIndexHeaderSize = 8 + 8 + 4;            // ORVCHK1
constexpr size_t kChunkIndexHeaderSize2 = 8 + 8 + 3 * 4 + 4;   // ORVCHK2
constexpr size_t kChunkIndexRecordSize = 4 + 32;

struct ChunkRecord {
    uint32_t length = 0;
    uint8_t sha256[32] = {};
};

struct ChunkIndex {
    uint64_t fileSize = 0;
    ChunkSizes sizes = kLargeChunks;  // what a copy of the file is cut with
    std::vector<ChunkRecord> chunks;
};

std::string encodeChunkIndex(const ChunkIndex& index);

// False with a short reason in `error` ("chunk index is damaged") for a wrong magic, sizes
// a chunker cannot cut with, a size that disagrees with the count, a zero chunk or one over
// the maximum, or lengths that do not add up to the file size.
bool decodeChunkIndex(const std::string& bytes, ChunkIndex& index, std::string& error);

}  // namespace base
