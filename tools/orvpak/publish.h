#pragma once
// Publishing a client folder for the setup program into OUT_DIR/pc: each file's copy and the
// full archive as content-named objects (objects/<ab>/<sha256>), a record of the release
// (releases/<n>.json), a patch from each kept earlier manifest (patches/) and manifest.json,
// the only name whose bytes ever change, written last.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/orvpak/manifest_patches.h"
#include "tools/orvpak/manifest_writer.h"
#include "tools/orvpak/object_store.h"
#include "tools/orvpak/release_cost.h"
#include "tools/orvpak/signed_manifest.h"

namespace orvpak {

constexpr char kPlatformFolder[] = "pc";
// Players may hold the manifest of the release before, or the one before that, when a new
// one appears: a slow repair, a launcher left open over the release.
constexpr size_t kDefaultKeptReleases = 2;

struct PublishOptions {
    std::filesystem::path clientDir, outDir;
    std::string baseUrl;        // where OUT_DIR is served: http:// or https://
    // Other hosts serving a copy of OUT_DIR, as base URLs, in the order the program tries them
    // after `baseUrl`; none repeats another or `baseUrl`.
    std::vector<std::string> mirrors;
    std::string clientVersion;  // UTF-8; empty when unknown
    bool optional = false;      // the manifest then says "required": false
    size_t keepReleases = kDefaultKeptReleases;  // earlier releases whose objects stay; >= 1
    // A private key file: the manifest then carries a sequence and an expiry and gets its
    // signature beside it. Empty: an unsigned manifest, as before signing existed.
    std::filesystem::path signKey;
    uint32_t expiresDays = kDefaultExpiresDays;  // >= 1
    int64_t now = 0;            // seconds since 1970 UTC that expiry counts from; 0: the clock
};

struct PublishSummary {
    size_t files = 0;
    uint64_t dataBytes = 0;      // sum of the files' sizes
    uint64_t archiveBytes = 0;
    std::string archiveSha256;   // lowercase hex of the whole archive file
    std::string manifestUrl;
    std::vector<std::string> mirrors;  // as the manifest names them
    uint64_t release = 0;        // the number of the release manifest.json now holds
    bool newRelease = false;     // false: the same manifest as the latest release, kept as it was
    uint64_t oldestKept = 0;     // the earliest release whose objects are still served
    size_t objectsWritten = 0;   // objects that were not in place yet
    size_t objectsRemoved = 0;   // what pruning took from objects/
    bool legacyRemoved = false;  // an earlier publisher's files/ and client.orvpak went
    uint64_t sequence = 0;       // of the signed manifest; 0 when unsigned
    std::string expires;
    uint64_t manifestBytes = 0;  // of the live manifest
    // What players on each kept earlier release download to reach the live one, oldest first.
    std::vector<ReleaseCost> updateCosts;
    // Folders of the client that hold no file at any depth, relative to it: players will not
    // get them. A warning, never a reason to refuse.
    std::vector<std::string> emptyFolders;
    // For each kept earlier release whose manifest differs from the live one, oldest first:
    // the patch its players fetch (patches/<its manifest's SHA-256>), or none.
    std::vector<ReleasePatch> patches;
};

// Publishes `options.clientDir` into `options.outDir`/pc. Every name is checked, every file
// read once, and the earlier releases read, before anything is written. Objects already in
// place are not written again; new ones appear under their final name only when complete;
// manifest.json comes last, and only then are the objects no kept release needs removed, so
// a player never sees half a publish nor loses what an earlier manifest promised. The same
// folder always gives byte-identical objects and manifest. False with a message naming the
// file (relative to the client folder where it is one) and what to do. A signed publish is
// always a new release: its expiry moves on even when the client did not.
bool publish(const PublishOptions& options, PublishSummary& summary, std::string& error);

}  // namespace orvpak
