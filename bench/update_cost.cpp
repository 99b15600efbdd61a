// One run of the update engine against a published release, as the program runs it, with the
// signing key given on the command line instead of built in (bench/update_cost.sh):
//   update_cost.exe --manifest URL --install-dir FOLDER --key HEX
// Prints the outcome, the seconds it took and the bytes the engine counted as downloaded;
// exit code 0 when the folder ends up matching the release.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.h"
#include "update/update.h"

int main(int argc, char** argv) {
    std::string manifestUrl, installDir, key;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--manifest") == 0) manifestUrl = argv[i + 1];
        else if (std::strcmp(argv[i], "--install-dir") == 0) installDir = argv[i + 1];
        else if (std::strcmp(argv[i], "--key") == 0) key = argv[i + 1];
    }
    if (manifestUrl.empty() || installDir.empty() || key.empty()) {
        std::fprintf(stderr, "usage: update_cost.exe --manifest URL --install-dir FOLDER --key HEX\n");
        return 2;
    }
    pcupd::UpdateOptions options;
    options.manifestKeys = {key};
    pcupd::Manifest manifest;
    int64_t downloaded = 0;
    const auto start = std::chrono::steady_clock::now();
    const pcupd::UpdateResult result =
        pcupd::runUpdate(manifestUrl, base::toWide(installDir), options, manifest,
                         [&downloaded](const pcupd::Progress& p) { downloaded = p.bytesDone; });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("update_cost: %s in %.1f s, %lld bytes downloaded by the engine's count, %.1f MB hashed\n",
                result.ok ? (result.upToDate ? "up to date" : "updated") : result.error.text.c_str(), seconds,
                static_cast<long long>(downloaded), static_cast<double>(result.bytesHashed) / 1e6);
    return result.ok ? 0 : 1;
}
