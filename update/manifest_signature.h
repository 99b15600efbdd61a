#pragma once
// Signed manifests. The update host (a CDN, a mirror) only carries the manifest; what a
// player installs is decided by the operator's signing key, whose public half is built into
// the program. With keys built in, a manifest is used only with a detached signature
// (its URL + ".sig": raw r||s of ECDSA P-256 over SHA-256 of the exact bytes) by one of them,
// only before its "expires" time, and never below the "sequence" this install folder has
// already accepted (rollback). With no key built in, manifests are read as they come.
// Called on the worker thread.

#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest.h"

namespace pcupd {

// The record of the highest sequence accepted for an install folder, beside pcupd.cache.
constexpr wchar_t kSequenceFileName[] = L"pcupd.sequence";

// The public keys in force: 128 hex characters each, X then Y. Empty: verification is off.
std::vector<std::string> manifestKeys();
// Test seam: replaces the built-in keys until reset (an empty list switches verification off).
void setManifestKeysForTesting(const std::vector<std::string>& keys);
void resetManifestKeysForTesting();

// True when `signature` (64 bytes, r then s) over `body` verifies under one of `keys`.
bool verifyManifestSignature(const std::string& body, const std::string& signature,
                             const std::vector<std::string>& keys);

// Downloads the manifest at `url` into `body`, bytes as received. With keys in force, its
// signature too, checked before the body is parsed; a pair that does not verify is fetched
// once more, since a publish may land between the two requests. Fails with the transport's
// message or "manifest signature missing" / "manifest signature is not valid".
bool fetchSignedManifest(const std::string& url, std::string& body, std::string& error);

// With keys in force, refuses a parsed manifest that has expired ("manifest has expired",
// also when it gives no valid time) or whose sequence is below the highest `installDir` has
// accepted ("manifest is older than the installed client", also when it gives none), and
// otherwise records its sequence for `installDir`. Does nothing with no key in force.
bool acceptManifest(const Manifest& manifest, const std::wstring& installDir, std::string& error);

// The highest sequence accepted for `installDir`; 0 when none is recorded or the record is
// unreadable.
int64_t acceptedSequence(const std::wstring& installDir);

}  // namespace pcupd
