// The update host for the window's smoke test, in a process of its own because the setup
// program under test is a separate process too:
//   fixture_server.exe WORKDIR [--slow | --setup=PROGRAM]
// Publishes a small client from WORKDIR\client into WORKDIR\out, serves it on loopback and
// writes the manifest URL to WORKDIR\url.txt once it can be fetched. WORKDIR\archive-requested
// appears when the full archive is first asked for: the setup program is then working. Runs
// until WORKDIR\stop exists, or two minutes at most so that a failed script leaves nothing
// behind. --slow hands out the archive in small pieces with pauses (about 30 s in all), long
// enough for a script to act while the program is working. --setup= ships PROGRAM in the
// client as OrvaneSetup.exe, as an operator may; once WORKDIR\republish exists, the next
// release follows with a new OrvaneSetup.exe (PROGRAM with bytes appended, which Windows
// still runs), and WORKDIR\republished says it is served.

#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/install/published_client.h"
#include "tests/support/archive_builder.h"
#include "update/manifest.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kLifetime = std::chrono::seconds(120);
constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr int kSlowPieces = 100;
constexpr int kSlowPauseMs = 300;

using testsupport::noise;

std::vector<std::pair<std::string, std::string>> clientFiles() {
    return {
        {"Engine.exe", "MZ" + noise(180000, 1)},
        {"data/maps/forest.pak", noise(150000, 2)},
        {"data/maps/coast.pak", noise(60000, 3)},
        {"data/sound/ui/click.wav", noise(9000, 4)},
        {"config/default.ini", "[video]\r\nwidth=1280\r\nheight=720\r\n"},
        {"readme.txt", "Orvane Online\r\n"},
    };
}

// Readers poll for the name: it must appear with its whole content or not at all.
void writeAtomically(const fs::path& path, const std::string& content) {
    fs::path temporary = path;
    temporary += ".tmp";
    testsupport::writeFile(temporary, content);
    fs::rename(temporary, path);
}

// The client, with the setup program `setup` (empty: none) among its files.
std::vector<std::pair<std::string, std::string>> clientWith(const std::string& setup) {
    std::vector<std::pair<std::string, std::string>> files = clientFiles();
    if (!setup.empty()) files.emplace_back("OrvaneSetup.exe", setup);
    return files;
}

int run(const fs::path& workDir, bool slow, const fs::path& setupProgram) {
    for (const char* stale : {"client", "out", "url.txt", "stop", "archive-requested", "republish", "republished"})
        fs::remove_all(workDir / stale);

    testsupport::LoopbackServer server;
    const std::string setup = setupProgram.empty() ? std::string() : testsupport::readFile(setupProgram);
    testsupport::publishClient(server, workDir / "client", workDir / "out", clientWith(setup));

    const std::string manifestUrl = server.url("/pc/manifest.json");
    pcupd::FullArchive archive;
    std::string error;
    if (!pcupd::parseFullArchive(testsupport::readFile(workDir / "out" / "pc" / "manifest.json"), archive,
                                 error)) {
        std::fprintf(stderr, "fixture_server: the published manifest: %s\n", error.c_str());
        return 1;
    }
    const std::string archiveTarget = archive.url.substr(server.url("").size());
    if (slow) {
        testsupport::Response response;
        response.body = testsupport::readFile(workDir / "out" / fs::u8path(archiveTarget.substr(1)));
        response.pieceSize = response.body.size() / kSlowPieces + 1;
        response.pauseMs = kSlowPauseMs;
        server.route(archiveTarget, response);
    }
    writeAtomically(workDir / "url.txt", manifestUrl);
    std::printf("fixture_server: %s%s\n", manifestUrl.c_str(), slow ? " (slow archive)" : "");
    std::fflush(stdout);

    bool archiveSeen = false, republished = false;
    const auto deadline = std::chrono::steady_clock::now() + kLifetime;
    while (!fs::exists(workDir / "stop") && std::chrono::steady_clock::now() < deadline) {
        if (!archiveSeen && server.requestCount(archiveTarget) > 0) {
            archiveSeen = true;
            writeAtomically(workDir / "archive-requested", archiveTarget);
        }
        if (!setup.empty() && !republished && fs::exists(workDir / "republish")) {
            republished = true;
            testsupport::publishClient(server, workDir / "client", workDir / "out",
                                       clientWith(setup + "\r\nrelease 2\r\n"));
            writeAtomically(workDir / "republished", "2");
        }
        std::this_thread::sleep_for(kPoll);
    }
    server.stop();
    return 0;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments(args, args + count);
    LocalFree(args);
    const std::wstring setupOption = L"--setup=";
    const bool slow = count == 3 && arguments[2] == L"--slow";
    const bool setup = count == 3 && arguments[2].rfind(setupOption, 0) == 0;
    if (count != 2 && !slow && !setup) {
        std::fprintf(stderr, "usage: fixture_server WORKDIR [--slow | --setup=PROGRAM]\n");
        return 2;
    }
    try {
        return run(fs::path(arguments[1]), slow,
                   setup ? fs::path(arguments[2].substr(setupOption.size())) : fs::path());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "fixture_server: %s\n", failure.what());
        return 1;
    }
}
