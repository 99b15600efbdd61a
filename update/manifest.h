#pragma once
// The update manifest: one JSON document on the update host listing the client's files and
// the full archive used by a fresh install. Called on the worker thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ascii.h"

namespace pcupd {

struct ManifestFile {
    std::string path, sha256;  // both ASCII-lowercased; path as the manifest wrote it otherwise
    int64_t size = 0;
    std::string url;  // taken as written
    // The file's chunk index ("chunksUrl", "chunksSha256"), published for large files so a
    // repair can fetch only the chunks that changed. Both empty when the manifest has none.
    std::string chunksUrl, chunksSha256;
    // For very large files, the chunk index's groups ("chunkGroupsUrl", "chunkGroupsSha256",
    // base/chunk_groups.h), so an update fetches only the parts of the index it needs. Both
    // empty when the manifest has none, and always without a chunk index.
    std::string chunkGroupsUrl, chunkGroupsSha256;
};

struct Manifest {
    std::string clientVersion;
    bool required = true;
    std::vector<ManifestFile> files;  // only usable entries, in document order
    // Freshness of a signed manifest (update/manifest_signature.h): "sequence", a whole
    // number from 0 to 2^64-1 (none when absent or anything else), and "expires", as written.
    std::optional<uint64_t> sequence;
    std::string expires;
    // The public key whose signature the manifest carried; empty when it was read unsigned.
    std::string signedBy;
    // Where the files are served from besides their URLs' own host: the base URL every file
    // URL starts with ("baseUrl") and the bases of mirrors that serve the same paths below
    // theirs ("mirrors"), as written (update/download_hosts.h decides what is usable).
    std::string baseUrl;
    std::vector<std::string> mirrors;
    // SHA-256 (lowercase hex) of the document's bytes as read: which release this is. Set by
    // readManifest; empty for a manifest parsed from elsewhere.
    std::string sha256;
};

struct FullArchive {
    std::string url, sha256;
    // The archive's heads digest (base/archive_format.h); empty when the publisher gave none.
    std::string headsSha256;
    int64_t size = 0;
    std::string format;
    bool valid = false;  // true only after a successful parseFullArchive
};

// What the client's files take on disk, by the manifest's sizes; saturates.
uint64_t clientBytes(const Manifest& manifest);

// Reads the files list / the fullArchive entry of a manifest's body (as downloaded; fetched
// and checked by readManifest, update/manifest_signature.h). On failure `error` gets the
// parser's message; on success it is untouched.
bool parseManifest(const std::string& body, Manifest& manifest, std::string& error);
bool parseFullArchive(const std::string& body, FullArchive& archive, std::string& error);

// Lowercases "A".."Z" only: no locale, no Unicode case folding.
using base::toLowerAscii;

}  // namespace pcupd
