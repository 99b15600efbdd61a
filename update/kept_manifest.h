#pragma once
// The last accepted manifest, kept in the install folder (pcupd.manifest) with its signature,
// the validators the server gave and its URL, so that the next run asks only "has it
// changed?" and, when it has, fetches a patch against it instead of the whole document. A
// copy is only a starting point: whatever it yields is checked as a fresh download is. One
// file, replaced whole, so its parts always belong together. Called on the worker thread.

#include <string>

#include "update/http_document.h"

namespace pcupd {

constexpr wchar_t kKeptManifestFileName[] = L"pcupd.manifest";

struct KeptManifest {
    std::string url;
    Validators validators;  // of the signature with keys in force, else of the manifest
    std::string signature;  // the detached signature's raw bytes; empty when unsigned
    std::string body;       // the manifest's exact bytes
    std::string sha256;     // of `body`, lowercase hex
};

// The copy kept in `installDir` for `url`. False when there is none, when it is for another
// URL, or when it is damaged (its bytes no longer match the digest kept with them).
bool loadKeptManifest(const std::wstring& installDir, const std::string& url, KeptManifest& kept);

// Replaces the kept copy with `kept` (its digest is computed here); false when it cannot be
// written, which costs the next run a full download and nothing else.
bool saveKeptManifest(const std::wstring& installDir, KeptManifest kept);

}  // namespace pcupd
