#include "tools/orvpak/release_cost.h"

#include <unordered_map>

#include "base/ascii.h"
#include "base/chunk_groups.h"
#include "base/chunk_plan.h"
#include "tools/orvpak/chunk_index_builder.h"
#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/file_io.h"
#include "tools/orvpak/object_store.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

void add(TransferCost& total, uint64_t bytes, uint64_t requests = 1) {
    total.bytes += bytes;
    total.requests += requests;
}

// The chunk index `file` names, as published; false with `problem` set when it cannot be
// read or does not describe the file.
bool loadChunkIndex(const fs::path& platformDir, const ManifestRecord& file,
                    std::string& bytes, base::ChunkIndex& index, std::string& problem) {
    const fs::path path = platformDir / fs::u8path(objectPath(file.chunksSha256));
    if (!readWholeFile(path, bytes, problem)) return false;
    if (!base::decodeChunkIndex(bytes, index, problem) || index.fileSize != file.size) {
        problem = "the chunk index " + displayPath(path) + " of " + quotedPath(file.path) +
                  " is damaged";
        return false;
    }
    return true;
}

bool loadChunkGroups(const fs::path& platformDir, const ManifestRecord& file, std::string& bytes,
                     base::ChunkGroups& groups, std::string& problem) {
    const fs::path path = platformDir / fs::u8path(objectPath(file.groupsSha256));
    if (!readWholeFile(path, bytes, problem)) return false;
    if (!base::decodeChunkGroups(bytes, groups, problem) || groups.fileSize != file.size) {
        problem = "the chunk groups " + displayPath(path) + " of " + quotedPath(file.path) + " are damaged";
        return false;
    }
    return true;
}

// The chunks a player's copy of `old` holds when the program cuts it with `sizes`: from its
// published index when that was cut the same way, otherwise from its object, cut here as the
// program would. Empty when neither is at hand (a release published before indexes existed,
// or the object pruned).
bool heldChunksOf(const fs::path& platformDir, const ManifestRecord& old, const base::ChunkSizes& sizes,
                  std::string& oldIndexBytes, base::HeldChunks& held, std::string& problem) {
    base::ChunkIndex oldIndex;
    if (!old.chunksSha256.empty()) {
        if (!loadChunkIndex(platformDir, old, oldIndexBytes, oldIndex, problem)) return false;
        if (oldIndex.sizes == sizes) {
            held = base::heldChunksOf(oldIndex);
            return true;
        }
    }
    InputFile input;
    std::string ignored;
    if (!input.open(platformDir / fs::u8path(objectPath(old.sha256)), ignored)) return true;
    ChunkIndexBuilder builder(sizes);
    std::vector<unsigned char> buffer(1 << 20);
    for (size_t read; (read = input.read(buffer.data(), buffer.size())) > 0;) builder.feed(buffer.data(), read);
    std::string encoded;
    if (input.failed() || !builder.finish(encoded) || !base::decodeChunkIndex(encoded, oldIndex, ignored))
        return true;
    held = base::heldChunksOf(oldIndex);
    return true;
}

// The chunks of `groups`, from the index they belong to.
bool placedChunksOf(const std::vector<const base::ChunkGroup*>& groups, const std::string& index,
                    std::vector<base::PlacedChunk>& chunks) {
    for (const base::ChunkGroup* group : groups)
        if (base::groupRecordsOffset(*group) + base::groupRecordsSize(*group) > index.size() ||
            !base::placeChunks(*group, index.data() + base::groupRecordsOffset(*group), chunks))
            return false;
    return true;
}

// What patching `old`'s copy into `file` in place costs, as the program would fetch it, into
// `cost`; false (and nothing counted) when the program would not patch it in place.
bool patchCost(const fs::path& platformDir, const ManifestRecord& file, const ManifestRecord& old,
               const std::string& newIndex, const std::string& oldIndex, ReleaseCost& cost) {
    std::string newBytes, oldBytes, problem;
    base::ChunkGroups now, before;
    if (!loadChunkGroups(platformDir, file, newBytes, now, problem) ||
        !loadChunkGroups(platformDir, old, oldBytes, before, problem))
        return false;
    const auto changedNow = base::groupsNotIn(now, before), changedBefore = base::groupsNotIn(before, now);
    std::vector<base::PlacedChunk> newChunks, oldChunks;
    if (!placedChunksOf(changedNow, newIndex, newChunks) || !placedChunksOf(changedBefore, oldIndex, oldChunks))
        return false;
    uint64_t toDownload = 0;
    const std::vector<base::PatchRun> runs = base::patchRuns(newChunks, oldChunks, toDownload);
    if (!base::patchPays(toDownload, file.size)) return false;
    add(cost.total, newBytes.size() + oldBytes.size(), 2);
    for (const auto* changed : {&changedNow, &changedBefore})
        for (const base::RecordRange& range : base::recordRanges(*changed)) {
            add(cost.total, range.size);
            ++cost.ranges;
        }
    add(cost.total, toDownload, runs.size());
    cost.ranges += runs.size();
    ++cost.patchedInPlace;
    return true;
}

}  // namespace

TransferCost manifestCost(const Release& to, bool signedManifest, std::optional<uint64_t> patchBytes) {
    if (!signedManifest) return {to.manifest.size(), 1};
    constexpr uint64_t kSignatureBytes = 64;
    return {kSignatureBytes + (patchBytes ? *patchBytes : to.manifest.size()), 2};
}

ReleaseCost releaseCost(const fs::path& platformDir, const Release& from, const Release& to,
                        const TransferCost& manifest) {
    ReleaseCost cost;
    cost.from = from.number;
    cost.manifest = manifest;
    cost.total = cost.manifest;
    // The program names files on disk by their lowercased paths.
    std::unordered_map<std::string, const ManifestRecord*> held;
    for (const ManifestRecord& file : from.content.files)
        held.emplace(base::toLowerAscii(file.path), &file);

    for (const ManifestRecord& file : to.content.files) {
        const auto found = held.find(base::toLowerAscii(file.path));
        const ManifestRecord* old = found == held.end() ? nullptr : found->second;
        if (old && old->sha256 == file.sha256) continue;
        // A chunk repair needs an old copy with at least one byte in it.
        if (file.chunksSha256.empty() || !old || old->size == 0) {
            ++cost.wholeFiles;
            add(cost.total, file.size);
            continue;
        }
        std::string bytes, oldBytes;
        base::ChunkIndex wanted;
        if (!loadChunkIndex(platformDir, file, bytes, wanted, cost.problem)) return cost;
        base::HeldChunks chunks;
        if (!heldChunksOf(platformDir, *old, wanted.sizes, oldBytes, chunks, cost.problem)) return cost;
        if (!file.groupsSha256.empty() && !old->groupsSha256.empty() &&
            patchCost(platformDir, file, *old, bytes, oldBytes, cost))
            continue;
        ++cost.chunkIndexes;
        add(cost.total, bytes.size());
        const base::ChunkPlan plan = base::planChunks(wanted, chunks);
        if (plan.wholeFile) {
            ++cost.wholeFiles;
            add(cost.total, file.size);
        } else {
            cost.ranges += plan.ranges;
            add(cost.total, plan.toDownload, plan.ranges);
        }
    }
    return cost;
}

}  // namespace orvpak
