#pragma once
// A client folder published with the operator's tool and served from loopback, the way the
// update host serves it.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tools/orvpak/publish.h"

namespace testsupport {

// Writes `files` (UTF-8 relative path, content) under `clientDir`, publishes them to
// `outDir` for `server` and serves that folder as it stands at each request. The manifest is
// at /pc/manifest.json; it names `mirrors` as serving the same tree.
constexpr const char* kPublishedVersion = "1.4.2";

inline void publishClient(LoopbackServer& server, const std::filesystem::path& clientDir,
                          const std::filesystem::path& outDir,
                          const std::vector<std::pair<std::string, std::string>>& files,
                          const std::vector<std::string>& mirrors = {}) {
    for (const auto& [path, content] : files) writeFile(clientDir / std::filesystem::u8path(path), content);
    orvpak::PublishOptions options;
    options.clientDir = clientDir;
    options.outDir = outDir;
    options.baseUrl = server.url("");
    options.clientVersion = kPublishedVersion;
    options.mirrors = mirrors;
    orvpak::PublishSummary summary;
    std::string error;
    if (!orvpak::publish(options, summary, error)) throw std::runtime_error(error);
    server.serveFolder(outDir);
}

}  // namespace testsupport
