#pragma once
// The freshness fields of a signed manifest and the check of a published, signed tree.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "tools/orvpak/release_history.h"

namespace orvpak {

constexpr uint32_t kDefaultExpiresDays = 30;
// Until it expires, a signed manifest can be served again to any player who has not yet seen
// a newer one: a signature that lives for years would let an old release be replayed for
// years.
constexpr uint32_t kMaxExpiresDays = 365;

// The clock, in seconds since 1970 UTC.
int64_t currentTime();

// One above the highest sequence among the releases read, and at least the number the new
// release will have: only the newest records are read, and unsigned releases in between
// could otherwise hide the last signed one, taking the sequence back to a number players
// have already gone past. Signing again always moves a program that accepted the last one
// forward.
uint64_t nextSequence(const ReleaseHistory& history);

// Puts `text` in place as manifest.json with `signature` beside it, each atomically; with no
// signature, writes the manifest only when it differs from `live` and removes a signature
// left by an earlier signed release.
bool writeManifestPair(const std::filesystem::path& platformDir,
                       const std::optional<std::string>& live, const std::string& text,
                       const std::string& signature, std::string& error);

struct VerifiedManifest {
    uint64_t sequence = 0;
    std::string expires;
};

// Checks `platformDir`/manifest.json against manifest.json.sig with `publicKeyHex` at time
// `now`, as the setup program will. False with the reason: the key text, "manifest
// signature missing", "manifest signature is not valid", "manifest has expired", or a
// signed manifest without its sequence and expiry.
bool verifyPublishedManifest(const std::filesystem::path& platformDir,
                             const std::string& publicKeyHex, int64_t now,
                             VerifiedManifest& verified, std::string& error);

}  // namespace orvpak
