#pragma once
// How a changed file is rebuilt from the chunks a player already holds: which chunks of the
// new file are copied from the old copy, and which are fetched, each run of consecutive
// missing chunks in one Range request. Plain C++: the repair follows this plan, and the
// publisher counts what the same plan downloads, so the two cannot drift apart.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "base/chunk_hasher.h"
#include "base/chunk_index.h"

namespace base {

struct ChunkLocation {
    uint64_t offset = 0;
    uint32_t length = 0;
};

// The chunks of the player's copy, by digest: where each first occurs.
class HeldChunks {
public:
    // The copy's chunks in file order; a digest seen before keeps its first place.
    void add(uint32_t length, const ChunkDigest& digest);
    // Nullptr when the copy has no chunk with this digest and length.
    const ChunkLocation* find(const ChunkRecord& wanted) const;

private:
    struct DigestHash {
        size_t operator()(const ChunkDigest& digest) const;
    };
    std::unordered_map<ChunkDigest, ChunkLocation, DigestHash> chunks_;
    uint64_t end_ = 0;
};

// The held chunks of a copy whose chunk index is known.
HeldChunks heldChunksOf(const ChunkIndex& index);

// One run of the new file: copied from the old copy, or one Range request for the index's
// chunks [firstChunk, firstChunk + chunkCount).
struct ChunkStep {
    bool download = false;
    uint64_t from = 0;  // in the old copy when copying, in the new file when downloading
    uint64_t length = 0;
    size_t firstChunk = 0, chunkCount = 0;
};

struct ChunkPlan {
    std::vector<ChunkStep> steps;  // the new file in order
    uint64_t toDownload = 0;       // bytes of the download steps
    size_t ranges = 0;             // download steps, one Range request each
    // Nothing of the old copy is reused: the whole file is fetched in one request instead.
    bool wholeFile = false;
};

// The steps that build the file `wanted` describes from `held`. Copies merge where the old
// bytes follow on; missing chunks merge where they follow each other in the new file.
ChunkPlan planChunks(const ChunkIndex& wanted, const HeldChunks& held);

}  // namespace base
