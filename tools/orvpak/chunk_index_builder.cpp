#include "tools/orvpak/chunk_index_builder.h"

#include <cstring>

namespace orvpak {

bool ChunkIndexBuilder::startChunk() {
    hasher_ = std::make_unique<Sha256Hasher>();
    hashed_ = 0;
    if (!hasher_->ready()) failed_ = true;
    return !failed_;
}

void ChunkIndexBuilder::feed(const unsigned char* data, size_t size) {
    if (failed_ || (!hasher_ && !startChunk())) return;
    chunker_.feed(data, size, cuts_);
    index_.fileSize += size;
    // Every cut the chunker reported lies within the bytes seen, so each piece of this one
    // either closes a chunk or is the start of the open one.
    while (size > 0) {
        if (nextCut_ == cuts_.size()) {
            hasher_->update(data, size);
            hashed_ += static_cast<uint32_t>(size);
            break;
        }
        const uint32_t length = cuts_[nextCut_];
        const size_t take = length - hashed_;
        hasher_->update(data, take);
        data += take;
        size -= take;
        base::ChunkRecord record;
        record.length = length;
        Digest digest{};
        if (!hasher_->finish(digest)) {
            failed_ = true;
            return;
        }
        std::memcpy(record.sha256, digest.data(), digest.size());
        index_.chunks.push_back(record);
        ++nextCut_;
        if (!startChunk()) return;
    }
    cuts_.clear();
    nextCut_ = 0;
}

bool ChunkIndexBuilder::finish(std::string& encoded) {
    if (!failed_ && hasher_) {
        const size_t before = cuts_.size();
        chunker_.finish(cuts_);
        if (cuts_.size() > before) {
            base::ChunkRecord record;
            record.length = cuts_.back();
            Digest digest{};
            if (!hasher_->finish(digest)) return false;
            std::memcpy(record.sha256, digest.data(), digest.size());
            index_.chunks.push_back(record);
        }
    }
    if (failed_) return false;
    encoded = base::encodeChunkIndex(index_);
    return true;
}

}  // namespace orvpak
