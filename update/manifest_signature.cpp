#include "update/manifest_signature.h"

#include <windows.h>

#include <algorithm>
#include <mutex>

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
std::vector<std::string> builtInKeys() {
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

std::mutex keysLock;
bool keysOverridden = false;
std::vector<std::string> overrideKeys;

// The ".sig" of `url`: into `signature`, or `missing` on 404; false on any other failure.
bool fetchSignature(const std::string& url, std::string& signature, bool& missing,
                    std::string& error) {
    const std::string sigUrl = url + ".sig";
    std::string fetchError;
    missing = false;
    if (httpGet(sigUrl, signature, fetchError)) return true;
    missing = fetchError == "HTTP status 404 for " + sigUrl;
    if (!missing) error = fetchError;
    return missing;
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

std::vector<std::string> manifestKeys() {
    std::lock_guard<std::mutex> hold(keysLock);
    return keysOverridden ? overrideKeys : builtInKeys();
}

void setManifestKeysForTesting(const std::vector<std::string>& keys) {
    std::lock_guard<std::mutex> hold(keysLock);
    keysOverridden = true;
    overrideKeys = keys;
}

void resetManifestKeysForTesting() {
    std::lock_guard<std::mutex> hold(keysLock);
    keysOverridden = false;
    overrideKeys.clear();
}

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

bool fetchSignedManifest(const std::string& url, std::string& body, std::string& signedBy,
                         std::string& error) {
    signedBy.clear();
    const std::vector<std::string> keys = manifestKeys();
    if (keys.empty()) return httpGet(url, body, error);
    bool missing = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string signature;
        if (!httpGet(url, body, error) || !fetchSignature(url, signature, missing, error))
            return false;
        if (!missing && verifyManifestSignature(body, signature, keys, &signedBy)) return true;
    }
    body.clear();  // nothing unverified may be read by mistake
    error = missing ? "manifest signature missing" : "manifest signature is not valid";
    return false;
}

bool acceptManifest(const Manifest& manifest, const std::wstring& installDir, std::string& error) {
    const std::vector<std::string> keys = manifestKeys();
    if (keys.empty()) return true;
    // Only a manifest that came through fetchSignedManifest knows its key.
    if (std::find(keys.begin(), keys.end(), manifest.signedBy) == keys.end()) {
        error = "manifest signature missing";
        return false;
    }
    int64_t expires = 0;
    if (!base::parseUtcTimestamp(manifest.expires, expires)) {
        error = "manifest has no valid expiry time";
        return false;
    }
    if (expires <= secondsNow()) {
        error = "manifest has expired";
        return false;
    }
    std::optional<uint64_t> folderSequence, userSequence;
    if (!readFolderSequence(installDir, folderSequence, error) ||
        !readUserSequence(manifest.signedBy, userSequence, error))
        return false;
    if (!manifest.sequence || (folderSequence && *manifest.sequence < *folderSequence)) {
        error = "manifest is older than the installed client";
        return false;
    }
    const uint64_t sequence = *manifest.sequence;
    if (userSequence && sequence < *userSequence) {
        error = "manifest is older than a release already installed on this computer";
        return false;
    }
    // Recorded now, not after the run: a run an attacker makes fail must not leave the door
    // open to the older manifest next time. The operator's next publish is always higher.
    if (!folderSequence || sequence > *folderSequence) saveFolderSequence(installDir, sequence);
    if (!userSequence || sequence > *userSequence) saveUserSequence(manifest.signedBy, sequence);
    return true;
}

}  // namespace pcupd
