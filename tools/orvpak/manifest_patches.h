#pragma once
// The patches beside manifest.json (patches/<SHA-256 of an earlier manifest's bytes>): for
// each kept earlier release, the lines that turn its manifest into the live one
// (base/manifest_patch.h), so that a player holding it fetches a few kilobytes instead of the
// whole manifest. Written before the new manifest goes live; those of releases no longer
// kept are pruned after.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/orvpak/release_history.h"

namespace orvpak {

constexpr char kPatchesFolder[] = "patches";

// What a player holding one kept earlier release fetches next.
struct ReleasePatch {
    uint64_t release = 0;           // the earlier release's number
    std::string manifestSha256;     // of its manifest's bytes: the patch's name
    std::optional<uint64_t> bytes;  // the patch's size; none when the change is too large
                                    // for a patch to pay (the player fetches the manifest)
};

// For each of the `keep` releases before the last of `releases` (the live one), oldest
// first: writes atomically the patch from its manifest to the live one, or, when no patch is
// worth it, none. A release with the live manifest's very bytes needs none and is left out.
bool writeManifestPatches(const std::filesystem::path& platformDir,
                          const std::vector<Release>& releases, size_t keep,
                          std::vector<ReleasePatch>& patches, std::string& error);

// Removes from `platformDir`/patches every file but the patches in `patches`. False with a
// message naming what could not be removed.
bool pruneManifestPatches(const std::filesystem::path& platformDir,
                          const std::vector<ReleasePatch>& patches, std::string& error);

}  // namespace orvpak
