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

constexpr uint32_t kChunkMin = 16 * 1024;
constexpr uint32_t kChunkAverage = 64 * 1024;  // the boundary test aims at this size
constexpr uint32_t kChunkMax = 256 * 1024;

// Cuts a stream into chunks as its bytes arrive, without holding them: feed() the bytes in
// pieces of any size; every completed chunk's length is appended to `lengths`. finish() adds
// the last, shorter chunk (none for an empty stream). The cuts are the same however the
// stream is split into pieces.
class Chunker {
public:
    void feed(const uint8_t* data, size_t size, std::vector<uint32_t>& lengths);
    void finish(std::vector<uint32_t>& lengths);

private:
    uint64_t hash_ = 0;
    uint32_t length_ = 0;  // bytes of the chunk under way
};

// The chunk lengths of a whole buffer.
std::vector<uint32_t> chunkLengths(const uint8_t* data, size_t size);

}  // namespace base
