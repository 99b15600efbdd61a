// Streams a generated archive from a loopback server and compares the installer with the
// platform's own ceiling: a plain WinHTTP read loop, and the same loop plus SHA-256. Then
// verifies the 1 GB install (right after it, warm, deep) and repairs one damaged file.
//   archive_bench.exe [--mb N] [--entries N] [--runs N] [--empty N]
// Without --mb or --empty it installs 200,000 empty entries first (so that the peak memory
// it reports is that install's alone), then measures 100 MB and 1 GB, and reports peak
// memory after each.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/generated_archive.h"
#include "install/archive.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"
#include "update/http.h"
#include "update/sha256.h"
#include "update/update.h"
#include "update/verify_cache.h"

using namespace installer;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double mb(uint64_t bytes) { return static_cast<double>(bytes) / 1e6; }

PROCESS_MEMORY_COUNTERS memoryCounters() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

// Peak private memory of one stretch of the run. Wine reports the current private figure as
// the peak one, so a thread samples it every few milliseconds; where the system keeps a real
// peak (Windows), that one is never smaller and is taken as well.
class PrivateMemoryWatch {
public:
    PrivateMemoryWatch() : thread_([this] { run(); }) {}
    ~PrivateMemoryWatch() {
        stop_ = true;
        thread_.join();
    }
    // Starts a new stretch from what the process holds now; returns that, in MB.
    double restart() {
        const uint64_t now = memoryCounters().PagefileUsage;
        peak_ = now;
        systemPeakAtStart_ = memoryCounters().PeakPagefileUsage;
        return mb(now);
    }
    // The highest private figure since restart(), in MB.
    double peakMb() {
        const PROCESS_MEMORY_COUNTERS counters = memoryCounters();
        sample(counters.PagefileUsage);
        // The system's own peak counts only if it rose during this stretch.
        const uint64_t system = counters.PeakPagefileUsage > systemPeakAtStart_ ? counters.PeakPagefileUsage : 0;
        return mb(std::max<uint64_t>(peak_, system));
    }

private:
    void sample(uint64_t value) {
        uint64_t seen = peak_;
        while (value > seen && !peak_.compare_exchange_weak(seen, value)) {
        }
    }
    void run() {
        while (!stop_) {
            sample(memoryCounters().PagefileUsage);
            Sleep(5);
        }
    }
    std::atomic<uint64_t> peak_{0};
    uint64_t systemPeakAtStart_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

PrivateMemoryWatch* gMemory = nullptr;

double peakWorkingSetMb() { return mb(memoryCounters().PeakWorkingSetSize); }

// Reads the whole body with 1 MiB reads; hashes it too when asked. Returns seconds.
double readLoop(const std::string& url, bool hash, uint64_t& bytes) {
    std::vector<char> buffer(1 << 20);
    const auto start = Clock::now();
    pcupd::HttpStream stream;
    base::Failure error;
    if (!stream.open(url, error)) {
        std::fprintf(stderr, "open failed: %s\n", error.text.c_str());
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
        const size_t requestsBefore = server.requests().size();
        pcupd::UpdateOptions options;
        options.useCache = useCache;
        const auto start = Clock::now();
        const pcupd::UpdateResult result =
            pcupd::runUpdate(server.url("/pc/manifest.json"), installDir, options, manifest, nullptr);
        const double t = seconds(start);
        std::printf("  %-34s %7.3f s, %8.1f MB hashed, %zu requests%s%s\n", label, t,
                    mb(result.bytesHashed), server.requests().size() - requestsBefore,
                    result.ok ? "" : ", failed: ", result.error.text.c_str());
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
        server.url("/pc/manifest.json"), installDir, pcupd::UpdateOptions(), manifest,
        [&downloaded](const pcupd::Progress& p) { downloaded = p.bytesDone; });
    const std::vector<std::string> requests = server.requests();
    std::printf("  one-file repair: %s, %.3f MB of files downloaded (the file: %.3f MB), requests:",
                result.ok ? "ok" : result.error.text.c_str(), mb(downloaded), mb(victim.size));
    for (size_t i = requestsBefore; i < requests.size(); ++i) std::printf(" %s", requests[i].c_str());
    std::printf("\n");
    std::fflush(stdout);
}

Result measure(uint64_t dataBytes, uint32_t count, int runs, bool verification) {
    std::printf("generating %.0f MB in %u entries...\n", mb(dataBytes), count);
    std::fflush(stdout);
    gMemory->restart();
    const bench::GeneratedArchive archive(dataBytes, count);
    testsupport::LoopbackServer server;
    testsupport::Response response;
    response.generatedSize = archive.size();
    response.generate = [&archive](uint64_t offset, char* out, size_t size) { archive.read(offset, out, size); };
    server.route("/client.orvpak", response);
    serveManifest(server, archive);
    const std::string url = server.url("/client.orvpak");
    std::unique_ptr<testsupport::TempDir> kept;  // the last install, for the verification
    pcupd::FullArchive full;
    pcupd::Manifest manifest;
    bench::describe(archive, url, full, manifest);

    Result best;
    for (int run = 0; run < runs; ++run) {
        uint64_t bytes = 0;
        double t = readLoop(url, false, bytes);
        if (bytes != archive.size()) std::fprintf(stderr, "short read: %llu\n", (unsigned long long)bytes);
        best.readMbps = std::max(best.readMbps, mb(bytes) / t);
        t = readLoop(url, true, bytes);
        best.hashMbps = std::max(best.hashMbps, mb(bytes) / t);

        // The worker's way: every entry checked against the manifest, the whole stream hashed.
        kept.reset();
        kept = std::make_unique<testsupport::TempDir>();
        base::Failure error;
        testsupport::RecordingSink sink;
        const auto start = Clock::now();
        if (!installFullArchive(full, manifest, (*kept / "OrvaneOnline").wstring(), sink, error)) {
            std::fprintf(stderr, "install failed: %s\n", error.text.c_str());
            return best;
        }
        best.installMbps = std::max(best.installMbps, mb(archive.size()) / seconds(start));
    }
    const double peakPrivate = gMemory->peakMb();
    const double perFile = createFileMs(count);
    std::printf("  archive %.0f MB, %u entries, best of %d runs\n", mb(archive.size()), count, runs);
    std::printf("  ceiling: WinHTTP read loop        %8.1f MB/s\n", best.readMbps);
    std::printf("  ceiling: read loop + SHA-256      %8.1f MB/s\n", best.hashMbps);
    std::printf("  installFullArchive                %8.1f MB/s  = %.2fx read+hash, %.2fx read\n",
                best.installMbps, best.installMbps / best.hashMbps, best.installMbps / best.readMbps);
    std::printf("  creating a file costs %.2f ms here: %.2f s for these %u entries\n", perFile,
                perFile * count / 1000.0, count);
    std::printf("  peak private memory in this case %.1f MB; peak working set so far %.1f MB\n",
                peakPrivate, peakWorkingSetMb());
    std::fflush(stdout);
    if (verification) measureVerification(server, archive, (*kept / "OrvaneOnline").wstring());
    return best;
}

// An archive of nothing but empty entries: each one costs the installer a file, a queued
// entry and a cache record, and no data that would ever fill a block. Its peak memory means
// something only while no larger case has run in this process.
void measureEmptyEntries(uint32_t count) {
    std::printf("%u empty entries...\n", count);
    std::fflush(stdout);
    const bench::EmptyEntriesArchive archive(count);
    testsupport::LoopbackServer server;
    // The installer reads on only as the writer frees a block, 2,048 files later: on a slow
    // or busy machine that takes longer than the server's usual patience.
    server.setSendTimeout(600000);
    testsupport::Response response;
    response.generatedSize = archive.size();
    response.generate = [&archive](uint64_t offset, char* out, size_t size) { archive.read(offset, out, size); };
    server.route("/client.orvpak", response);

    auto dir = std::make_unique<testsupport::TempDir>();
    const std::wstring installDir = (*dir / "OrvaneOnline").wstring();
    // The manifest is the caller's, made before the count starts; what the installer makes
    // of it (its lookup of every listed path) is the installer's own.
    pcupd::FullArchive full;
    full.url = server.url("/client.orvpak");
    const pcupd::Manifest manifest = archive.manifest();
    testsupport::RecordingSink sink;
    const double privateBefore = gMemory->restart();
    base::Failure error;
    const auto start = Clock::now();
    const bool ok = installFullArchive(full, manifest, installDir, sink, error);
    const double t = seconds(start);
    const double peakPrivate = gMemory->peakMb();
    if (!ok) std::fprintf(stderr, "install failed: %s\n", error.text.c_str());

    const double perFile = createFileMs(2000);
    pcupd::VerifyCache cache;
    cache.load(installDir);
    std::printf("  archive %.1f MB, %u empty entries: installFullArchive %.1f s, %.3f ms per entry\n",
                mb(archive.size()), count, t, t * 1000.0 / count);
    std::printf("  creating a bare file costs %.3f ms here; pcupd.cache records %zu entries\n", perFile,
                cache.size());
    std::printf("  peak private memory %.1f MB (%.1f MB before the install); peak working set %.1f MB\n",
                peakPrivate, privateBefore, peakWorkingSetMb());
    std::fflush(stdout);
    const auto removal = Clock::now();
    dir.reset();
    std::printf("  (removing the install took %.1f s)\n", seconds(removal));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 0;
    uint32_t entries = 2000;
    uint32_t empty = 0;
    int runs = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb")) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--entries")) entries = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--empty")) empty = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    }
    std::printf("archive install benchmark (loopback)\n");
    PrivateMemoryWatch memory;
    gMemory = &memory;
    if (megabytes || empty) {
        if (empty) measureEmptyEntries(empty);
        if (megabytes) measure(megabytes * 1000000, entries, runs, true);
    } else {
        measureEmptyEntries(200000);
        measure(100000000, entries, runs, false);
        measure(1000000000, entries, runs, true);
    }
    return 0;
}
