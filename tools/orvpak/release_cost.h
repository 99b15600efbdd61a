#pragma once
// What a release costs players: the bytes and requests the setup program spends to bring a
// player from an earlier release to this one, counted the way its update does it. A file
// whose digest differs, or that the player lacks, is fetched; a large one the player holds
// an older copy of is rebuilt from the chunks of that copy (base/chunk_plan.h), after one
// request for the new file's chunk index; any other file comes whole in one request. A very
// large file that both releases give chunk groups is patched in place (base/chunk_groups.h):
// the two groups objects, the changed groups' records and the chunks that differ.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "tools/orvpak/release_history.h"

namespace orvpak {

struct TransferCost {
    uint64_t bytes = 0;
    uint64_t requests = 0;
};

struct ReleaseCost {
    uint64_t from = 0;        // the number of the release the player holds
    TransferCost manifest;    // reading the new release's manifest
    size_t wholeFiles = 0;    // files fetched whole, one request each
    size_t chunkIndexes = 0;  // chunk indexes fetched, one request each
    size_t ranges = 0;        // Range requests for the chunks the player lacks (and, for a
                              // pack patched in place, for its changed index records)
    size_t patchedInPlace = 0;  // very large files patched in place
    TransferCost total;       // all of it, the manifest included
    // Why the release could not be counted (a chunk index object that cannot be read);
    // empty when the figures stand.
    std::string problem;
};

// What reading `to`'s manifest costs a player who holds an earlier one: with a signature, its
// `.sig` and then the patch from the player's manifest (`patchBytes`, as published) or, with
// none, the whole manifest; unsigned, the whole manifest. Sizes as stored: a server that
// compresses the manifest sends about a fifth of it.
TransferCost manifestCost(const Release& to, bool signedManifest, std::optional<uint64_t> patchBytes);

// What a player on `from` downloads to reach `to`, reading its manifest for `manifest`. The
// chunk indexes of both releases are read from the object store under `platformDir`: the old
// one tells which chunks the player's copy holds, without the copy itself.
ReleaseCost releaseCost(const std::filesystem::path& platformDir, const Release& from,
                        const Release& to, const TransferCost& manifest);

}  // namespace orvpak
