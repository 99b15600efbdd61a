#include "update/manifest_signature.h"

#include <windows.h>

#include <algorithm>

#include "base/manifest_patch.h"
#include "base/p256_signature.h"
#include "base/utc_time.h"
#include "update/http_document.h"
#include "update/kept_manifest.h"
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

namespace {

std::string sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.finish();
}

// Where the patch from the kept manifest to the live one lies: the manifest URL's folder (up
// to its last '/' before any query), "patches/", the kept manifest's digest.
std::string patchUrl(const std::string& url, const std::string& keptSha256) {
    const size_t slash = url.rfind('/', url.find('?'));
    return url.substr(0, slash + 1) + "patches/" + keptSha256;
}

// The live manifest rebuilt from `kept` and its patch, or false for anything short of the
// exact bytes the patch promises: no patch, a damaged one, one for other bytes. The caller
// then fetches the manifest itself, so why it failed does not matter here.
bool patchedManifest(const std::string& url, const KeptManifest& kept, std::string& body,
                     const TransferOptions& options) {
    Document patch;
    base::Failure ignored;
    base::ManifestPatchHeader header;
    return fetchDocument(patchUrl(url, kept.sha256), Validators{}, true, patch, ignored, options) &&
           base::applyManifestPatch(kept.body, kept.sha256, patch.body, body, header) &&
           sha256Hex(body) == header.newSha256;
}

bool sameValidators(const Validators& a, const Validators& b) {
    return a.etag == b.etag && a.lastModified == b.lastModified;
}

// Without keys: the manifest, conditionally when a copy of it is kept.
bool fetchUnsigned(const std::string& url, const std::wstring& installDir,
                   FetchedManifest& fetched, base::Failure& failure,
                   const TransferOptions& options) {
    KeptManifest kept;
    // A copy kept under keys holds the signature's validators, not the manifest's.
    const bool haveKept = loadKeptManifest(installDir, url, kept) && kept.signature.empty();
    Document document;
    if (!fetchDocument(url, haveKept ? kept.validators : Validators{}, true, document, failure,
                       options))
        return false;
    // A server that sends no validators (or ignores them) sends the same bytes again: the
    // kept copy then stands as it is, and is not written again.
    fetched.unchanged = document.notModified || (haveKept && document.body == kept.body &&
                                                 sameValidators(document.validators, kept.validators));
    fetched.body = document.notModified ? std::move(kept.body) : std::move(document.body);
    fetched.validators = std::move(document.validators);
    return true;
}

}  // namespace

bool fetchSignedManifest(const std::string& url, const std::vector<std::string>& keys,
                         const std::wstring& installDir, FetchedManifest& fetched,
                         base::Failure& failure, const TransferOptions& options) {
    fetched = FetchedManifest();
    if (keys.empty()) return fetchUnsigned(url, installDir, fetched, failure, options);
    KeptManifest kept;
    bool haveKept = loadKeptManifest(installDir, url, kept) && !kept.signature.empty();
    const auto verified = [&](std::string body, const std::string& signature, const Validators& validators) {
        if (!verifyManifestSignature(body, signature, keys, &fetched.signedBy)) return false;
        fetched.body = std::move(body);
        fetched.signature = signature;
        fetched.validators = validators;
        return true;
    };
    // The signature first, which says whether the kept manifest is still the live one. A pair
    // that does not verify is fetched once more: a publish may land between two requests.
    bool missing = false;
    for (int failedPairs = 0; failedPairs < 2;) {
        Document signature;
        base::Failure signatureFailure;
        if (!fetchDocument(url + ".sig", haveKept ? kept.validators : Validators{}, false, signature,
                           signatureFailure, options)) {
            missing = signatureFailure.kind == base::FailureKind::kHttpStatus &&
                      signatureFailure.httpStatus == 404;
            if (!missing) {
                failure = signatureFailure;
                return false;
            }
            ++failedPairs;
            continue;
        }
        missing = false;
        if (signature.notModified) signature.body = kept.signature;
        if (haveKept && signature.body == kept.signature) {
            // After a 304 the validators are the kept ones; a server that sends none sends
            // the same signature again, and the kept copy stands as it is either way.
            fetched.unchanged = sameValidators(signature.validators, kept.validators);
            if (verified(kept.body, kept.signature, signature.validators)) return true;
            // A kept copy that fails its signature is never used again; after a 304 the
            // signature itself is still to be fetched.
            fetched.unchanged = false;
            haveKept = false;
            if (signature.notModified) continue;
        }
        std::string patched;
        if (haveKept && patchedManifest(url, kept, patched, options) &&
            verified(std::move(patched), signature.body, signature.validators))
            return true;
        Document manifest;
        if (!fetchDocument(url, Validators{}, true, manifest, failure, options)) return false;
        if (verified(std::move(manifest.body), signature.body, signature.validators)) return true;
        ++failedPairs;
    }
    fetched = FetchedManifest();  // nothing unverified may be read by mistake
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
    FetchedManifest fetched;
    return fetchSignedManifest(url, keys, installDir, fetched, failure, options) &&
           useFetchedManifest(url, keys, installDir, std::move(fetched), manifest, archive, failure);
}

bool useFetchedManifest(const std::string& url, const std::vector<std::string>& keys,
                        const std::wstring& installDir, FetchedManifest fetched, Manifest& manifest,
                        FullArchive* archive, base::Failure& failure) {
    std::string error;
    if ((archive && !parseFullArchive(fetched.body, *archive, error)) ||
        !parseManifest(fetched.body, manifest, error)) {
        failure = base::Failure(base::FailureKind::kBadInput, error);
        return false;
    }
    manifest.signedBy = fetched.signedBy;
    Sha256 hash;
    hash.update(fetched.body.data(), fetched.body.size());
    manifest.sha256 = hash.finish();
    if (!acceptManifest(manifest, keys, installDir, failure)) return false;
    // Kept only once accepted: an expired or replayed manifest must not become the next
    // run's starting point. Failing to keep it costs only the next run's download.
    if (!fetched.unchanged && !installDir.empty())
        saveKeptManifest(installDir, {url, std::move(fetched.validators), std::move(fetched.signature),
                                      std::move(fetched.body), std::string()});
    return true;
}

}  // namespace pcupd
