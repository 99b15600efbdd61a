#pragma once
// Publishing a client folder for the setup program: OUT_DIR/pc/client.orvpak (the full
// archive a fresh install streams), OUT_DIR/pc/files/<path> (one copy per file, what a
// repair downloads) and OUT_DIR/pc/manifest.json, written last.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace orvpak {

constexpr char kPlatformFolder[] = "pc";
constexpr char kManifestName[] = "manifest.json";
constexpr char kArchiveName[] = "client.orvpak";
constexpr char kFilesFolder[] = "files";

struct PublishOptions {
    std::filesystem::path clientDir, outDir;
    std::string baseUrl;        // where OUT_DIR is served: http:// or https://
    std::string clientVersion;  // UTF-8; empty when unknown
    bool optional = false;      // the manifest then says "required": false
};

struct PublishSummary {
    size_t files = 0;
    uint64_t dataBytes = 0;      // sum of the files' sizes
    uint64_t archiveBytes = 0;
    std::string archiveSha256;   // lowercase hex of the whole archive file
    std::string manifestUrl;
    size_t staleRemoved = 0;     // copies of files no longer in the client
};

// Publishes `options.clientDir` into `options.outDir`/pc. Every name is checked, and every
// file read once, before anything is written; each output appears under its final name
// only when complete, and the manifest last, so a client never sees half a publish. The
// same folder always gives byte-identical output. False with a message naming the file
// (relative to the client folder where it is one) and what to do.
bool publish(const PublishOptions& options, PublishSummary& summary, std::string& error);

}  // namespace orvpak
