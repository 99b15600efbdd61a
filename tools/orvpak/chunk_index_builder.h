#pragma once
// The chunk index of a large client file, built while the publisher hashes the file anyway,
// so indexing costs no extra read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/chunk_index.h"
#include "base/chunker.h"
#include "tools/orvpak/sha256_hasher.h"

namespace orvpak {

// Smaller files are fetched whole: an index would save little and cost a request.
constexpr uint64_t kChunkIndexThreshold = 1 << 20;

class ChunkIndexBuilder {
public:
    // The file's bytes in order, in pieces of any size.
    void feed(const unsigned char* data, size_t size);
    // The encoded index; false when SHA-256 failed.
    bool finish(std::string& encoded);

private:
    bool startChunk();

    base::Chunker chunker_;
    std::vector<uint32_t> cuts_;  // lengths the chunker has produced, not yet hashed
    size_t nextCut_ = 0;
    uint32_t hashed_ = 0;         // bytes of the current chunk already hashed
    std::unique_ptr<Sha256Hasher> hasher_;
    base::ChunkIndex index_;
    bool failed_ = false;
};

}  // namespace orvpak
