#pragma once
// Cuts a stream into the publisher's chunks (base/chunker.h) and hashes each chunk as its
// bytes go by, so a file is read once: the publisher builds a chunk index this way, and a
// repair finds the chunks of the player's copy. Each side brings its own SHA-256, a type
// with a default constructor, update(const void*, size_t) and bool finish(uint8_t (&)[32]);
// one object hashes one chunk. Plain C++, built for Windows and Linux.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "base/chunker.h"

namespace base {

constexpr size_t kChunkDigestSize = 32;
using ChunkDigest = std::array<uint8_t, kChunkDigestSize>;

template <typename Hasher>
class ChunkHasher {
public:
    using OnChunk = std::function<void(uint32_t length, const ChunkDigest& digest)>;
    explicit ChunkHasher(OnChunk onChunk, const ChunkSizes& sizes = kLargeChunks)
        : onChunk_(std::move(onChunk)), chunker_(sizes) {}

    // Takes the stream's next piece, of any size; `onChunk` hears of every chunk it completes,
    // in order. False once hashing has failed (the digests are then worthless).
    bool feed(const uint8_t* data, size_t size) {
        if (!ok_) return false;
        lengths_.clear();
        chunker_.feed(data, size, lengths_);
        // Each length ends a chunk; only the first of them can have begun in an earlier piece.
        size_t used = 0;
        for (const uint32_t length : lengths_) {
            const size_t here = length - pending_;
            if (!emit(data + used, here)) return false;
            used += here;
        }
        if (used < size) {
            if (!chunk_) chunk_.emplace();
            chunk_->update(data + used, size - used);
            pending_ += static_cast<uint32_t>(size - used);
        }
        return ok_;
    }

    // Ends the stream with its last, shorter chunk (none for an empty stream).
    bool finish() {
        lengths_.clear();
        chunker_.finish(lengths_);
        return lengths_.empty() ? ok_ : emit(nullptr, 0);
    }

private:
    // Ends the chunk under way with these bytes.
    bool emit(const uint8_t* data, size_t size) {
        if (!chunk_) chunk_.emplace();
        chunk_->update(data, size);
        uint8_t raw[kChunkDigestSize];
        ok_ = ok_ && chunk_->finish(raw);
        chunk_.reset();
        if (ok_) {
            ChunkDigest digest;
            std::copy(std::begin(raw), std::end(raw), digest.begin());
            onChunk_(static_cast<uint32_t>(pending_ + size), digest);
        }
        pending_ = 0;
        return ok_;
    }

    OnChunk onChunk_;
    Chunker chunker_;
    std::vector<uint32_t> lengths_;
    std::optional<Hasher> chunk_;  // the chunk under way
    uint32_t pending_ = 0;         // its bytes hashed so far
    bool ok_ = true;
};

}  // namespace base
