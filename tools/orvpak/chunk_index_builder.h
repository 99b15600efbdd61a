#pragma once
// The chunk index of a large client file, built while the publisher hashes the file anyway,
// so indexing costs no extra read.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/chunk_hasher.h"
#include "base/chunk_index.h"
#include "tools/orvpak/sha256_hasher.h"

namespace orvpak {

// Smaller files are fetched whole: an index would save little and cost a request.
constexpr uint64_t kChunkIndexThreshold = 1 << 20;

class ChunkIndexBuilder {
public:
    explicit ChunkIndexBuilder(const base::ChunkSizes& sizes);
    // The file's bytes in order, in pieces of any size.
    void feed(const unsigned char* data, size_t size);
    // The encoded index; false when SHA-256 failed.
    bool finish(std::string& encoded);

private:
    base::ChunkIndex index_;
    base::ChunkHasher<Sha256Hasher> hasher_;  // adds each chunk to index_
};

}  // namespace orvpak
