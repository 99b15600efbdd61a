#pragma once
// The releases published into OUT_DIR/pc. Each has a record, releases/<n>.json, holding the
// bytes of its manifest; n counts up from 1, so the newest release is the highest number.
// The records say which objects a release needs, so that a player still holding an earlier
// manifest can finish with it while that release is kept.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/orvpak/manifest_writer.h"

namespace orvpak {

constexpr char kReleasesFolder[] = "releases";

struct Release {
    uint64_t number = 0;       // 0 until it has a record
    std::string manifest;      // the manifest's bytes, as players receive them
    ManifestContent content;   // what they say
    std::string format;        // the full archive's format name
};

// The SHA-256 of every object the release needs: its archive, its files and their chunk
// indexes. Taken from the digests, never from the URLs, so a release published under
// another base URL still counts.
void addReferences(const Release& release, std::set<std::string>& referenced);

// True when the release's copies are those of an earlier publisher (files/ and
// client.orvpak) rather than content-named objects.
bool hasLegacyLayout(const Release& release);

// Reads `manifest` into `release`. False with what is wrong when it is not a manifest the
// references can be taken from (every SHA-256 must be 64 lowercase hex digits).
bool parseRelease(const std::string& manifest, Release& release, std::string& problem);

struct ReleaseHistory {
    uint64_t latest = 0;                 // highest record number; 0 when there is none
    std::vector<Release> recent;         // the newest records, oldest first
    std::optional<std::string> live;     // the bytes of manifest.json, when there is one
    std::optional<Release> unrecorded;   // manifest.json when none of `recent` holds it
};

// Reads the newest `count` records under `platformDir` and manifest.json. A manifest.json
// that no recent record holds (written by an earlier publisher, or by hand) may be in
// players' hands, so it comes back as `unrecorded`. False, with a message saying what to do,
// when a record or manifest.json cannot be read: the publisher then writes nothing.
bool loadHistory(const std::filesystem::path& platformDir, size_t count,
                 ReleaseHistory& history, std::string& error);

// Writes `release` as record `release.number`, atomically.
bool writeRecord(const std::filesystem::path& platformDir, const Release& release,
                 std::string& error);

}  // namespace orvpak
