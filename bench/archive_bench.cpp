// Streams a generated archive from a loopback server and compares the installer with the
// platform's own ceiling: a plain WinHTTP read loop, and the same loop plus SHA-256. Then
// verifies the 1 GB install (right after it, warm, deep) and repairs one damaged file.
//   archive_bench.exe [--mb N] [--entries N] [--runs N]
// Without --mb it measures 100 MB and then 1 GB, and reports peak memory after each.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/generated_archive.h"
#include "install/archive.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/http.h"
#include "update/sha256.h"
#include "update/update.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double mb(uint64_t bytes) { return static_cast<double>(bytes) / 1e6; }

struct Memory {
    double peakWorkingSetMb, peakPrivateMb;
};

Memory peakMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return {mb(counters.PeakWorkingSetSize), mb(counters.PeakPagefileUsage)};
}

// Reads the whole body with 1 MiB reads; hashes it too when asked. Returns seconds.
double readLoop(const std::string& url, bool hash, uint64_t& bytes) {
    std::vector<char> buffer(1 << 20);
    const auto start = Clock::now();
    pcupd::HttpStream stream;
    std::string error;
    if (!stream.open(url, error)) {
        std::fprintf(stderr, "open failed: %s\n", error.c_str());
        return -1;
    }
    pcupd::Sha256 sha;
    bytes = 0;
    for (;;) {
        const int32_t got = stream.read(buffer.data(), static_cast<int32_t>(buffer.size()));
        if (got <= 0) break;
        if (hash) sha.update(buffer.data(), static_cast<size_t>(got));
        bytes += static_cast<uint64_t>(got);
    }
    if (hash) sha.finish();
    return seconds(start);
}

// The runtime's own cost of creating one small file, which no stream can hide when an
// archive holds many small entries.
double createFileMs(uint32_t count) {
    testsupport::TempDir dir;
    const auto start = Clock::now();
    for (uint32_t i = 0; i < count; ++i) {
        const std::wstring path = (dir / ("f" + std::to_string(i))).wstring();
        base::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), "x", 1, &written, nullptr);
    }
    return seconds(start) * 1000.0 / count;
}

struct Result {
    double readMbps = 0, hashMbps = 0, installMbps = 0;
};

// Serves the manifest and one download per entry, as the update host does.
void serveManifest(testsupport::LoopbackServer& server, const bench::GeneratedArchive& archive) {
    std::string json = "{\"fullArchive\":{\"url\":\"" + server.url("/client.orvpak") + "\"},\"files\":[";
    for (uint32_t i = 0; i < archive.entries().size(); ++i) {
        const bench::GeneratedArchive::Entry& entry = archive.entries()[i];
        json += std::string(i ? "," : "") + "{\"path\":\"" + entry.path + "\",\"sha256\":\"" +
                entry.sha256 + "\",\"size\":" + std::to_string(entry.size) + ",\"url\":\"" +
                server.url("/files/" + entry.path) + "\"}";
        testsupport::Response file;
        file.generatedSize = entry.size;
        file.generate = [i](uint64_t offset, char* out, size_t size) {
            bench::GeneratedArchive::entryData(i, offset, out, size);
        };
        server.route("/files/" + entry.path, file);
    }
    testsupport::Response manifest;
    manifest.body = json + "]}";
    server.route("/pc/manifest.json", manifest);
}

// Verification of a fresh install: right after it, warm, deep; then a one-file repair.
void measureVerification(testsupport::LoopbackServer& server, const bench::GeneratedArchive& archive,
                         const std::wstring& installDir) {
    const auto verify = [&](const char* label, bool useCache) {
        pcupd::Manifest manifest;
        const uint64_t hashedBefore = pcupd::hashedFileBytes();
        const size_t requestsBefore = server.requests().size();
        const auto start = Clock::now();
        const pcupd::UpdateResult result =
            pcupd::runUpdate(server.url("/pc/manifest.json"), installDir, L"", useCache, manifest, nullptr);
        const double t = seconds(start);
        std::printf("  %-34s %7.3f s, %8.1f MB hashed, %zu requests%s%s\n", label, t,
                    mb(pcupd::hashedFileBytes() - hashedBefore), server.requests().size() - requestsBefore,
                    result.ok ? "" : ", failed: ", result.error.c_str());
        std::fflush(stdout);
        return t;
    };
    verify("verify right after the install", true);
    const double warm = verify("verify again, cache warm", true);
    const double deep = verify("deep verify (no cache)", false);
    std::printf("  warm / deep verification time: %.2f%%\n", 100.0 * warm / deep);

    // Damage one mid-sized file in place and let the update run repair it.
    const bench::GeneratedArchive::Entry& victim = archive.entries()[archive.entries().size() / 2];
    std::wstring path = installDir + L"\\" + std::wstring(victim.path.begin(), victim.path.end());
    std::replace(path.begin(), path.end(), L'/', L'\\');
    {
        base::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), "damage", 6, &written, nullptr);
    }
    const size_t requestsBefore = server.requests().size();
    int64_t downloaded = 0;
    pcupd::Manifest manifest;
    const pcupd::UpdateResult result = pcupd::runUpdate(
        server.url("/pc/manifest.json"), installDir, L"", true, manifest,
        [&downloaded](const pcupd::Progress& p) { downloaded = p.bytesDone; });
    const std::vector<std::string> requests = server.requests();
    std::printf("  one-file repair: %s, %.3f MB of files downloaded (the file: %.3f MB), requests:",
                result.ok ? "ok" : result.error.c_str(), mb(downloaded), mb(victim.size));
    for (size_t i = requestsBefore; i < requests.size(); ++i) std::printf(" %s", requests[i].c_str());
    std::printf("\n");
    std::fflush(stdout);
}

Result measure(uint64_t dataBytes, uint32_t count, int runs, bool verification) {
    std::printf("generating %.0f MB in %u entries...\n", mb(dataBytes), count);
    std::fflush(stdout);
    const bench::GeneratedArchive archive(dataBytes, count);
    testsupport::LoopbackServer server;
    testsupport::Response response;
    response.generatedSize = archive.size();
    response.generate = [&archive](uint64_t offset, char* out, size_t size) { archive.read(offset, out, size); };
    server.route("/client.orvpak", response);
    serveManifest(server, archive);
    const std::string url = server.url("/client.orvpak");
    std::unique_ptr<testsupport::TempDir> kept;  // the last install, for the verification

    Result best;
    for (int run = 0; run < runs; ++run) {
        uint64_t bytes = 0;
        double t = readLoop(url, false, bytes);
        if (bytes != archive.size()) std::fprintf(stderr, "short read: %llu\n", (unsigned long long)bytes);
        best.readMbps = std::max(best.readMbps, mb(bytes) / t);
        t = readLoop(url, true, bytes);
        best.hashMbps = std::max(best.hashMbps, mb(bytes) / t);

        kept.reset();
        kept = std::make_unique<testsupport::TempDir>();
        std::string error;
        const auto start = Clock::now();
        const bool ok = installFullArchive(url, (*kept / "OrvaneOnline").wstring(), error);
        t = seconds(start);
        if (!ok) {
            std::fprintf(stderr, "install failed: %s\n", error.c_str());
            return best;
        }
        best.installMbps = std::max(best.installMbps, mb(archive.size()) / t);
    }
    const double perFile = createFileMs(count);
    const Memory memory = peakMemory();
    std::printf("  archive %.0f MB, %u entries, best of %d runs\n", mb(archive.size()), count, runs);
    std::printf("  ceiling: WinHTTP read loop        %8.1f MB/s\n", best.readMbps);
    std::printf("  ceiling: read loop + SHA-256      %8.1f MB/s\n", best.hashMbps);
    std::printf("  installFullArchive                %8.1f MB/s  = %.2fx read+hash, %.2fx read\n",
                best.installMbps, best.installMbps / best.hashMbps, best.installMbps / best.readMbps);
    std::printf("  creating a file costs %.2f ms here: %.2f s for these %u entries\n", perFile,
                perFile * count / 1000.0, count);
    std::printf("  peak memory so far: working set %.1f MB, private %.1f MB\n",
                memory.peakWorkingSetMb, memory.peakPrivateMb);
    std::fflush(stdout);
    if (verification) measureVerification(server, archive, (*kept / "OrvaneOnline").wstring());
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 0;
    uint32_t entries = 2000;
    int runs = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb")) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--entries")) entries = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
    }
    std::printf("archive install benchmark (loopback)\n");
    if (megabytes) {
        measure(megabytes * 1000000, entries, runs, true);
    } else {
        measure(100000000, entries, runs, false);
        measure(1000000000, entries, runs, true);
    }
    return 0;
}
