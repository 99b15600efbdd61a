#pragma once
// Signed manifests. The update host (a CDN, a mirror) only carries the manifest; what a
// player installs is decided by the operator's signing key, whose public half is built into
// the program. With keys built in, a manifest is used only with a detached signature
// (its URL + ".sig": raw r||s of ECDSA P-256 over SHA-256 of the exact bytes) by one of them,
// only before its "expires" time, and never below the "sequence" that this install folder or
// this user has already accepted (update/release_memory.h). With no key built in, manifests
// are read as they come. Called on the worker thread.

#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "update/http.h"
#include "update/http_document.h"
#include "update/manifest.h"
#include "update/release_memory.h"

namespace pcupd {

// The public keys built into the program (ORVANE_MANIFEST_KEYS): 128 hex characters each, X
// then Y. The functions below take the keys in force from their caller; with none,
// verification is off.
std::vector<std::string> builtInManifestKeys();

// True when `signature` (64 bytes, r then s) over `body` verifies under one of `keys`; that
// key into `signedBy` when given.
bool verifyManifestSignature(const std::string& body, const std::string& signature,
                             const std::vector<std::string>& keys,
                             std::string* signedBy = nullptr);

struct FetchedManifest {
    std::string body;        // the manifest's exact bytes
    std::string signature;   // the signature they verified under; empty without keys
    std::string signedBy;    // the key that signed them; empty without keys
    Validators validators;   // what the server gave, of the signature with keys, else of the manifest
    bool unchanged = false;  // the copy kept in the install folder, as it was kept
};

// Fetches the manifest at `url` into `fetched`, starting from the copy kept in `installDir`
// for that URL (update/kept_manifest.h; none when `installDir` is empty). With `keys`: asks
// whether the signature (URL + ".sig", a 404 means it has none) has changed since the kept
// copy; unchanged, the kept manifest stands; changed, the patch from the kept manifest
// (patches/<its SHA-256> beside the manifest) or, failing that, the whole manifest. What
// comes is checked against the signature before anything parses it; a kept copy that fails
// is not used again, and a pair that does not verify is fetched once more, since a publish
// may land between two requests. Without keys: the manifest, conditionally when a copy is
// kept. The manifest and patch are asked for compressed. Fails with the transport's failure
// or kRefused "manifest signature missing" / "manifest signature is not valid".
bool fetchSignedManifest(const std::string& url, const std::vector<std::string>& keys,
                         const std::wstring& installDir, FetchedManifest& fetched,
                         base::Failure& failure, const TransferOptions& options = TransferOptions{});

// With `keys`, refuses (kRefused) a parsed manifest that is not signed by one of them ("manifest
// signature missing"), that gives no valid "expires" ("manifest has no valid expiry time") or
// has expired ("manifest has expired"), or whose sequence is below the highest that
// `installDir` has accepted ("manifest is older than the installed client", also when it gives
// none) or this user has accepted under the same key ("manifest is older than a release
// already installed on this computer"). A damaged record refuses too (kBadInput), with its
// own text. Otherwise raises both records to the manifest's sequence. Does nothing without keys.
bool acceptManifest(const Manifest& manifest, const std::vector<std::string>& keys,
                    const std::wstring& installDir, base::Failure& failure);

// The manifest a run works from, read once: fetched and checked (fetchSignedManifest), its
// files parsed into `manifest` and, when `archive` is given, its full archive too (kBadInput
// with the parser's text), and accepted for `installDir` (acceptManifest); then kept there
// for the next run.
bool readManifest(const std::string& url, const std::vector<std::string>& keys,
                  const std::wstring& installDir, Manifest& manifest, FullArchive* archive,
                  base::Failure& failure, const TransferOptions& options = TransferOptions{});

// readManifest for a manifest fetched already, by fetchSignedManifest with the same `url` and
// `keys` (update/manifest_prefetch.h): parsed, accepted for `installDir` and kept there.
bool useFetchedManifest(const std::string& url, const std::vector<std::string>& keys,
                        const std::wstring& installDir, FetchedManifest fetched, Manifest& manifest,
                        FullArchive* archive, base::Failure& failure);

}  // namespace pcupd
