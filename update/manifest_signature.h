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

#include "update/manifest.h"
#include "update/release_memory.h"

namespace pcupd {

// The public keys in force: 128 hex characters each, X then Y. Empty: verification is off.
std::vector<std::string> manifestKeys();
// Test seam: replaces the built-in keys until reset (an empty list switches verification off).
void setManifestKeysForTesting(const std::vector<std::string>& keys);
void resetManifestKeysForTesting();

// True when `signature` (64 bytes, r then s) over `body` verifies under one of `keys`; that
// key into `signedBy` when given.
bool verifyManifestSignature(const std::string& body, const std::string& signature,
                             const std::vector<std::string>& keys,
                             std::string* signedBy = nullptr);

// Downloads the manifest at `url` into `body`, bytes as received. With keys in force, its
// signature too, checked before the body is parsed, and the key that signed it into
// `signedBy` (left empty with no keys); a pair that does not verify is fetched once more,
// since a publish may land between the two requests. Fails with the transport's message or
// "manifest signature missing" / "manifest signature is not valid".
bool fetchSignedManifest(const std::string& url, std::string& body, std::string& signedBy,
                         std::string& error);

// With keys in force, refuses a parsed manifest that is not signed by one of them ("manifest
// signature missing"), that gives no valid "expires" ("manifest has no valid expiry time") or
// has expired ("manifest has expired"), or whose sequence is below the highest that
// `installDir` has accepted ("manifest is older than the installed client", also when it gives
// none) or this user has accepted under the same key ("manifest is older than a release
// already installed on this computer"). A damaged record refuses too, with its own text.
// Otherwise raises both records to the manifest's sequence. Does nothing with no key in force.
bool acceptManifest(const Manifest& manifest, const std::wstring& installDir, std::string& error);

}  // namespace pcupd
