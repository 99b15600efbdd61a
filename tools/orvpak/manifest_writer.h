#pragma once
// The text of manifest.json, the document the setup program reads first: the client
// version, whether the update is required, the full archive and one record per file.

#include <cstdint>
#include <string>
#include <vector>

namespace orvpak {

// The one name under OUT_DIR/pc that changes between releases: the setup program's entry point.
constexpr char kManifestName[] = "manifest.json";

struct ManifestRecord {
    std::string path;    // '/'-separated UTF-8
    std::string sha256;  // lowercase hex
    uint64_t size = 0;
    std::string url;
    // The file's chunk index object, for files above 1 MiB; both empty otherwise.
    std::string chunksUrl, chunksSha256;  // sha256 lowercase hex
    // The chunk index's groups object (base/chunk_groups.h), for files of 64 MiB and more.
    std::string groupsUrl, groupsSha256;
};

struct ManifestContent {
    std::string clientVersion;  // UTF-8; empty when not given
    bool required = true;
    std::string archiveUrl, archiveSha256;
    std::string archiveHeadsSha256;  // base/archive_format.h; empty in an older release's record
    uint64_t archiveSize = 0;
    std::vector<ManifestRecord> files;  // written in this order
    // Only in a signed manifest (sequence > 0): it counts signed releases up, so a program
    // can refuse an older one, and `expires` (UTC, "YYYY-MM-DDTHH:MM:SSZ") ends a manifest
    // that someone keeps serving after the operator has moved on.
    uint64_t sequence = 0;
    std::string expires;
    // Other hosts serving the same tree: the program fetches any URL here from a mirror by
    // putting the mirror in place of `baseUrl`, which every URL starts with (then a '/').
    // Both only with mirrors, so that a manifest without any stays as it was before them.
    std::string baseUrl;
    std::vector<std::string> mirrors;
};

// Indented UTF-8 JSON ending in a newline; the same content always gives the same bytes.
std::string renderManifest(const ManifestContent& content);

}  // namespace orvpak
