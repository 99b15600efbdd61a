#include "tools/orvpak/signed_manifest.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "base/utc_time.h"
#include "tools/orvpak/file_io.h"
#include "tools/orvpak/manifest_signer.h"

namespace fs = std::filesystem;

namespace orvpak {

// The signature goes first so manifest.json stays the last name to change. A player who
// fetches the pair between the two renames gets a mismatch either way round and fetches
// both again; the window is two renames long, as both files are complete before either.
bool writeManifestPair(const fs::path& platformDir, const std::optional<std::string>& live,
                   const std::string& text, const std::string& signature, std::string& error) {
    const fs::path manifestPath = platformDir / kManifestName;
    const fs::path signaturePath = platformDir / (std::string(kManifestName) + kSignatureSuffix);
    if (!signature.empty()) {
        AtomicOutputFile signatureFile, manifestFile;
        signatureFile.laterThanReplaced();
        manifestFile.laterThanReplaced();
        return signatureFile.open(signaturePath, error) &&
               signatureFile.write(signature.data(), signature.size(), error) &&
               manifestFile.open(manifestPath, error) &&
               manifestFile.write(text.data(), text.size(), error) &&
               signatureFile.commit(error) && manifestFile.commit(error);
    }
    if (live != text) {
        AtomicOutputFile manifestFile;
        manifestFile.laterThanReplaced();
        if (!manifestFile.open(manifestPath, error) ||
            !manifestFile.write(text.data(), text.size(), error) || !manifestFile.commit(error))
            return false;
    }
    // An earlier signed release's signature no longer matches: leaving it would only turn a
    // "missing" into a "not valid" for a program that checks.
    std::error_code failure;
    fs::remove(signaturePath, failure);
    if (!failure) return true;
    error = "cannot remove the earlier signature " + displayPath(signaturePath) + ": " +
            failure.message();
    return false;
}

int64_t currentTime() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

uint64_t nextSequence(const ReleaseHistory& history) {
    uint64_t highest = 0;
    for (const Release& release : history.recent)
        highest = std::max(highest, release.content.sequence);
    if (history.unrecorded) highest = std::max(highest, history.unrecorded->content.sequence);
    return std::max(highest, history.latest) + 1;
}

bool verifyPublishedManifest(const fs::path& platformDir, const std::string& publicKeyHex,
                             int64_t now, VerifiedManifest& verified, std::string& error) {
    const fs::path manifestPath = platformDir / kManifestName;
    const fs::path signaturePath = fs::path(manifestPath.native() + fs::path(kSignatureSuffix).native());
    std::string manifest, signature;
    if (!readWholeFile(manifestPath, manifest, error)) return false;
    std::error_code failure;
    if (!fs::exists(fs::symlink_status(signaturePath, failure))) {
        error = "manifest signature missing (no " + displayPath(signaturePath) + ")";
        return false;
    }
    if (!readWholeFile(signaturePath, signature, error)) return false;
    if (!verifySignature(publicKeyHex, manifest, signature, error)) return false;
    Release release;
    std::string problem;
    if (!parseRelease(manifest, release, problem)) {
        error = "the signed manifest is not one orvpak can read (" + problem + ")";
        return false;
    }
    int64_t expires = 0;
    if (release.content.sequence == 0 || !base::parseUtcTimestamp(release.content.expires, expires)) {
        error = "the signed manifest has no sequence or no expiry (\"expires\"); publish it "
                "again with --sign-key";
        return false;
    }
    verified.sequence = release.content.sequence;
    verified.expires = release.content.expires;
    if (expires <= now) {
        error = "manifest has expired (at " + release.content.expires + ")";
        return false;
    }
    return true;
}

}  // namespace orvpak
