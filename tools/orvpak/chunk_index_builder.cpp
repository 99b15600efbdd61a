#include "tools/orvpak/chunk_index_builder.h"

#include <algorithm>

namespace orvpak {

ChunkIndexBuilder::ChunkIndexBuilder(const base::ChunkSizes& sizes)
    : hasher_([this](uint32_t length, const base::ChunkDigest& digest) {
          base::ChunkRecord record;
          record.length = length;
          std::copy(digest.begin(), digest.end(), record.sha256);
          index_.chunks.push_back(record);
      }, sizes) {
    index_.sizes = sizes;
}

void ChunkIndexBuilder::feed(const unsigned char* data, size_t size) {
    index_.fileSize += size;
    hasher_.feed(data, size);  // a failure stays with the hasher until finish()
}

bool ChunkIndexBuilder::finish(std::string& encoded) {
    if (!hasher_.finish()) return false;
    encoded = base::encodeChunkIndex(index_);
    return true;
}

}  // namespace orvpak
