#include "update/manifest_signature.h"

#include <windows.h>

#include <algorithm>

#include "base/p256_signature.h"
#include "base/utc_time.h"
#include "update/http.h"
#include "update/sha256.h"

#ifndef ORVANE_MANIFEST_KEYS
#define ORVANE_MANIFEST_KEYS ""
#endif

namespace pcupd {
namespace {

// The build's keys, checked at configure time, arrive comma-separated (CMake would split a
// ";" list into separate definitions).
std::vector<std::string> buildKeys() {
    std::vector<std::string> keys;
    const std::string text = ORVANE_MANIFEST_KEYS;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) keys.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return keys;
}

// The ".sig" of `url`: into `signature`, or `missing` when the server says it has none (404);
// false on any other failure.
bool fetchSignature(const std::string& url, std::string& signature, bool& missing,
                    base::Failure& failure, const TransferOptions& options) {
    base::Failure fetchFailure;
    missing = false;
    if (httpGet(url + ".sig", signature, fetchFailure, options)) return true;
    missing = fetchFailure.kind == base::FailureKind::kHttpStatus && fetchFailure.httpStatus == 404;
    if (!missing) failure = fetchFailure;
    return missing;
}

bool refuse(base::Failure& failure, const char* text) {
    failure = base::Failure(base::FailureKind::kRefused, text);
    return false;
}

// The clock, in seconds since 1970 UTC.
int64_t secondsNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kTicksTo1970 = 116444736000000000ULL, kTicksPerSecond = 10000000ULL;
    return static_cast<int64_t>((ticks - kTicksTo1970) / kTicksPerSecond);
}

}  // namespace

std::vector<std::string> builtInManifestKeys() { return buildKeys(); }

bool verifyManifestSignature(const std::string& body, const std::string& signature,
                             const std::vector<std::string>& keys, std::string* signedBy) {
    if (signature.size() != base::kP256SignatureSize) return false;
    uint8_t digest[kSha256Size];
    Sha256 hash;
    hash.update(body.data(), body.size());
    if (!hash.finish(digest)) return false;
    for (const std::string& hex : keys) {
        if (base::checkP256Signature(digest, signature, hex) == base::P256Check::kValid) {
            if (signedBy) *signedBy = hex;
            return true;
        }
    }
    return false;
}

bool fetchSignedManifest(const std::string& url, const std::vector<std::string>& keys,
                         std::string& body, std::string& signedBy, base::Failure& failure,
                         const TransferOptions& options) {
    signedBy.clear();
    if (keys.empty()) return httpGet(url, body, failure, options);
    bool missing = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string signature;
        if (!httpGet(url, body, failure, options) ||
            !fetchSignature(url, signature, missing, failure, options))
            return false;
        if (!missing && verifyManifestSignature(body, signature, keys, &signedBy)) return true;
    }
    body.clear();  // nothing unverified may be read by mistake
    return refuse(failure, missing ? "manifest signature missing" : "manifest signature is not valid");
}

bool acceptManifest(const Manifest& manifest, const std::vector<std::string>& keys,
                    const std::wstring& installDir, base::Failure& failure) {
    if (keys.empty()) return true;
    // Only a manifest that came through fetchSignedManifest knows its key.
    if (std::find(keys.begin(), keys.end(), manifest.signedBy) == keys.end())
        return refuse(failure, "manifest signature missing");
    int64_t expires = 0;
    if (!base::parseUtcTimestamp(manifest.expires, expires))
        return refuse(failure, "manifest has no valid expiry time");
    if (expires <= secondsNow()) return refuse(failure, "manifest has expired");
    std::optional<uint64_t> folderSequence, userSequence;
    std::string damaged;
    if (!readFolderSequence(installDir, folderSequence, damaged) ||
        !readUserSequence(manifest.signedBy, userSequence, damaged)) {
        failure = base::Failure(base::FailureKind::kBadInput, damaged);
        return false;
    }
    if (!manifest.sequence || (folderSequence && *manifest.sequence < *folderSequence))
        return refuse(failure, "manifest is older than the installed client");
    const uint64_t sequence = *manifest.sequence;
    if (userSequence && sequence < *userSequence)
        return refuse(failure, "manifest is older than a release already installed on this computer");
    // Recorded now, not after the run: a run an attacker makes fail must not leave the door
    // open to the older manifest next time. The operator's next publish is always higher.
    if (!folderSequence || sequence > *folderSequence) saveFolderSequence(installDir, sequence);
    if (!userSequence || sequence > *userSequence) saveUserSequence(manifest.signedBy, sequence);
    return true;
}

bool readManifest(const std::string& url, const std::vector<std::string>& keys,
                  const std::wstring& installDir, Manifest& manifest, FullArchive* archive,
                  base::Failure& failure, const TransferOptions& options) {
    std::string body, signedBy, error;
    if (!fetchSignedManifest(url, keys, body, signedBy, failure, options)) return false;
    if ((archive && !parseFullArchive(body, *archive, error)) || !parseManifest(body, manifest, error)) {
        failure = base::Failure(base::FailureKind::kBadInput, error);
        return false;
    }
    manifest.signedBy = std::move(signedBy);
    Sha256 hash;
    hash.update(body.data(), body.size());
    manifest.sha256 = hash.finish();
    manifest.document = std::move(body);
    return acceptManifest(manifest, keys, installDir, failure);
}

}  // namespace pcupd
