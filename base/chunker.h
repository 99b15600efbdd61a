#pragma once
// Content-defined chunking, the same on both sides: the publisher cuts every large client
// file into chunks and lists them in a chunk index; a repair cuts the player's copy the same
// way and copies every chunk it already has, wherever it sits in the file, downloading only
// the rest. Boundaries depend only on the bytes around them (a rolling "gear" hash), so an
// insertion moves the chunks after it instead of changing them. Plain C++: the program and
// the operator's tools compile this one source, and golden vectors keep the two identical.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace base {

// The bounds a chunker cuts within: every chunk but a stream's last is at least `min` and at
// most `max` bytes long, and the boundary test aims at `average`, a power of two. A chunk
// index names the sizes its file was cut with, so a repair cuts the player's copy the same way.
struct ChunkSizes {
    uint32_t min = 0, average = 0, max = 0;
};
inline bool operator==(const ChunkSizes& a, const ChunkSizes& b) {
    return a.min == b.min && a.average == b.average && a.max == b.max;
}
inline bool operator!=(const ChunkSizes& a, const ChunkSizes& b) { return !(a == b); }

// The sizes of every ORVCHK1 index, and still those of very large files (chunk_groups.h): a
// multi-gigabyte pack cut finer would have an index, and records to fetch per change, four
// times the size.
constexpr uint32_t kChunkMin = 16 * 1024;
constexpr uint32_t kChunkAverage = 64 * 1024;
constexpr uint32_t kChunkMax = 256 * 1024;
constexpr ChunkSizes kLargeChunks{kChunkMin, kChunkAverage, kChunkMax};
// The sizes of the other indexed files (1 to 64 MiB). A small edit costs a player about one
// chunk, plus the index, 36 bytes per chunk: for files of a few megabytes 16 KiB is close to
// the size where the two weigh the same, and it fetches a quarter of what 64 KiB does.
constexpr ChunkSizes kSmallChunks{4 * 1024, 16 * 1024, 64 * 1024};

// True for sizes a chunker can cut with: an average that is a power of two from 1 KiB to
// 1 MiB, a minimum of at least 256 bytes and at most three quarters of the average, and a
// maximum from the average to 4 MiB. Sizes read from an index are checked with this first.
bool validChunkSizes(const ChunkSizes& sizes);

// Cuts a stream into chunks as its bytes arrive, without holding them: feed() the bytes in
// pieces of any size; every completed chunk's length is appended to `lengths`. finish() adds
// the last, shorter chunk (none for an empty stream). The cuts are the same however the
// stream is split into pieces. `sizes` must be valid (validChunkSizes).
class Chunker {
public:
    explicit Chunker(const ChunkSizes& sizes = kLargeChunks);
    void feed(const uint8_t* data, size_t size, std::vector<uint32_t>& lengths);
    void finish(std::vector<uint32_t>& lengths);

private:
    uint32_t hashStart_, min_, normal_, max_;
    uint64_t maskHard_, maskEasy_;
    uint64_t hash_ = 0;
    uint32_t length_ = 0;  // bytes of the chunk under way
};

// The chunk lengths of a whole buffer.
std::vector<uint32_t> chunkLengths(const uint8_t* data, size_t size, const ChunkSizes& sizes = kLargeChunks);

}  // namespace base
