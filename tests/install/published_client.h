#pragma once
// A client folder published with the operator's tool and served from loopback, the way the
// update host serves it.

#include <cctype>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tools/orvpak/publish.h"

namespace testsupport {

// The request target of a file under the served folder, percent-encoded as the manifest's
// URLs are (the transport sends them as written).
inline std::string servedTarget(const std::filesystem::path& relative) {
    std::string target;
    for (const std::filesystem::path& part : relative) {
        target += '/';
        for (const unsigned char c : part.u8string()) {
            if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
                target += static_cast<char>(c);
            } else {
                char escaped[4];
                std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
                target += escaped;
            }
        }
    }
    return target;
}

// Serves every file under `root` at its relative path.
inline void serveFolder(LoopbackServer& server, const std::filesystem::path& root) {
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        Response response;
        response.body = readFile(item.path());
        server.route(servedTarget(std::filesystem::relative(item.path(), root)), response);
    }
}

// Writes `files` (UTF-8 relative path, content) under `clientDir`, publishes them to
// `outDir` for `server` and serves the result. The manifest is at /pc/manifest.json.
inline void publishClient(LoopbackServer& server, const std::filesystem::path& clientDir,
                          const std::filesystem::path& outDir,
                          const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [path, content] : files) writeFile(clientDir / std::filesystem::u8path(path), content);
    orvpak::PublishOptions options;
    options.clientDir = clientDir;
    options.outDir = outDir;
    options.baseUrl = server.url("");
    orvpak::PublishSummary summary;
    std::string error;
    if (!orvpak::publish(options, summary, error)) throw std::runtime_error(error);
    serveFolder(server, outDir);
}

}  // namespace testsupport
