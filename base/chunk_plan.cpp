#include "base/chunk_plan.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace base {

size_t HeldChunks::DigestHash::operator()(const ChunkDigest& digest) const {
    size_t value;  // a digest's bytes are as good a hash as any
    std::memcpy(&value, digest.data(), sizeof(value));
    return value;
}

void HeldChunks::add(uint32_t length, const ChunkDigest& digest) {
    chunks_.emplace(digest, ChunkLocation{end_, length});
    end_ += length;
}

const ChunkLocation* HeldChunks::find(const ChunkRecord& wanted) const {
    ChunkDigest digest;
    std::copy(std::begin(wanted.sha256), std::end(wanted.sha256), digest.begin());
    const auto found = chunks_.find(digest);
    return found == chunks_.end() || found->second.length != wanted.length ? nullptr
                                                                           : &found->second;
}

HeldChunks heldChunksOf(const ChunkIndex& index) {
    HeldChunks held;
    for (const ChunkRecord& record : index.chunks) {
        ChunkDigest digest;
        std::copy(std::begin(record.sha256), std::end(record.sha256), digest.begin());
        held.add(record.length, digest);
    }
    return held;
}

ChunkPlan planChunks(const ChunkIndex& wanted, const HeldChunks& held) {
    ChunkPlan plan;
    uint64_t offset = 0;
    for (size_t i = 0; i < wanted.chunks.size(); ++i) {
        const ChunkRecord& record = wanted.chunks[i];
        const ChunkLocation* found = held.find(record);
        const bool download = found == nullptr;
        const uint64_t from = download ? offset : found->offset;
        ChunkStep* last = plan.steps.empty() ? nullptr : &plan.steps.back();
        if (last && last->download == download && last->from + last->length == from) {
            last->length += record.length;
            ++last->chunkCount;
        } else {
            plan.steps.push_back({download, from, record.length, i, 1});
            if (download) ++plan.ranges;
        }
        if (download) plan.toDownload += record.length;
        offset += record.length;
    }
    plan.wholeFile = plan.toDownload >= wanted.fileSize;
    return plan;
}

}  // namespace base
