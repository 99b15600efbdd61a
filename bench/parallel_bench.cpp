// Work that runs in parallel, each case against its one-thread (or old) way in the same run:
//   1. repair of many small files from a distant server (20 ms before each response);
//   2. deep verification of 1 GB in 2,000 files;
//   parallel_bench.exe [--repair N] [--verify-mb N] [--runs N]
// A size of 0 skips its case. Wine's speed swings with CPU placement: compare only the
// ratios of one run.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/long_path.h"
#include "base/unique_handle.h"
#include "bench/generated_archive.h"
#include "tests/support/archive_builder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/file_scan.h"
#include "update/http.h"
#include "update/repair.h"
#include "update/sha256.h"
#include "update/update.h"
#include "update/verify_cache.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

unsigned usableCores() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 0;
    unsigned count = 0;
    for (; process; process &= process - 1) ++count;
    return count;
}

// 1. Every file missing locally, so the run is the scan of missing files plus the repair.
void benchRepair(uint32_t count, int runs) {
    say("repair of %u files of 4-64 KiB, 20 ms before each response (loopback, keep-alive)\n", count);
    testsupport::LoopbackServer server;
    server.setKeepAlive(true);
    pcupd::Manifest manifest;
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t size = 4096 + (i * 7919u) % (60 * 1024 + 1);
        testsupport::Response response;
        response.body.resize(size);
        bench::GeneratedArchive::entryData(i, 0, &response.body[0], size);
        response.delayMs = 20;
        const std::string path = "data/small" + std::to_string(i % 10) + "/file" + std::to_string(i) + ".bin";
        manifest.files.push_back({path, testsupport::sha256Hex(response.body), static_cast<int64_t>(size),
                                  server.url("/files/" + path), {}, {}, {}, {}});
        server.route("/files/" + path, response);
        total += size;
    }
    struct Way {
        const char* label;
        int threads;
        bool reuse;
        double best;
    };
    Way ways[] = {{"one at a time, a connection per file", 1, false, 1e9},
                  {"one at a time, one kept-alive connection", 1, true, 1e9},
                  {"4 at once, a connection per file", 4, false, 1e9},
                  {"4 at once, kept-alive connections", 4, true, 1e9}};
    for (int run = 0; run < runs; ++run) {
        for (Way& way : ways) {
            pcupd::UpdateOptions options;
            options.downloads = static_cast<unsigned>(way.threads);
            options.transfer.reuseConnections = way.reuse;
            testsupport::TempDir dir;
            const int connections = server.connectionCount();
            const auto start = Clock::now();
            const pcupd::UpdateResult result =
                pcupd::runUpdate(manifest, (dir / "OrvaneOnline").wstring(), options, nullptr);
            const double t = seconds(start);
            way.best = std::min(way.best, t);
            say("  %-42s %7.3f s  %6.1f files/s  %4d connections%s%s\n", way.label, t, count / t,
                server.connectionCount() - connections, result.ok ? "" : "  FAILED: ", result.error.text.c_str());
        }
    }
    say("  %.1f MB in all; best of %d: one at a time with a connection per file %.3f s, now %.3f s: %.2fx\n",
        total / 1e6, runs, ways[0].best, ways[3].best, ways[0].best / ways[3].best);
}

// Writes each entry of `archive` under `root` as the install would leave it.
void writeEntries(const bench::GeneratedArchive& archive, const std::wstring& root, pcupd::Manifest& manifest) {
    std::vector<char> buffer(1 << 20);
    for (uint32_t i = 0; i < archive.entries().size(); ++i) {
        const bench::GeneratedArchive::Entry& entry = archive.entries()[i];
        const std::wstring path = base::joinUnder(root, entry.path);
        base::createParentDirectories(path);
        base::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        for (uint64_t done = 0; done < entry.size;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(buffer.size(), entry.size - done));
            bench::GeneratedArchive::entryData(i, done, buffer.data(), piece);
            DWORD written = 0;
            WriteFile(file.get(), buffer.data(), static_cast<DWORD>(piece), &written, nullptr);
            done += piece;
        }
        manifest.files.push_back({entry.path, entry.sha256, static_cast<int64_t>(entry.size), "", {}, {}, {}, {}});
    }
}

// 2. The files are written just before, so both ways read them from the page cache.
void benchVerify(uint64_t megabytes, uint32_t count, int runs) {
    say("deep verification of %llu MB in %u files (written just before: from the page cache)\n",
        static_cast<unsigned long long>(megabytes), count);
    const bench::GeneratedArchive archive(megabytes * 1000000, count);
    testsupport::TempDir dir;
    const std::wstring root = base::fullPath((dir / "OrvaneOnline").wstring());
    pcupd::Manifest manifest;
    writeEntries(archive, root, manifest);
    double best[2] = {1e9, 1e9};
    const unsigned threads[2] = {1, 0};
    for (int run = 0; run < runs; ++run) {
        for (int way = 0; way < 2; ++way) {
            pcupd::VerifyCache cache;
            pcupd::ChangedFiles changed;
            const auto start = Clock::now();
            const uint64_t hashed = pcupd::scanFiles(manifest, root, false, threads[way], cache, changed);
            const double t = seconds(start);
            best[way] = std::min(best[way], t);
            const double mb = hashed / 1e6;
            say("  %-22s %7.3f s  %7.1f MB/s  %zu changed\n", way ? "default threads" : "one thread", t,
                mb / t, changed.size());
        }
    }
    say("  best of %d: one thread %.3f s, default (min(4, cores) = %u) %.3f s: %.2fx\n", runs, best[0],
        std::min(4u, std::max(1u, std::thread::hardware_concurrency())), best[1], best[0] / best[1]);
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t repairFiles = 500;
    uint64_t verifyMb = 1000;
    int runs = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--repair")) repairFiles = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (!std::strcmp(argv[i], "--verify-mb")) verifyMb = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[i + 1]));
    }
    say("parallel work benchmark: %u cores reported, %u usable by this process\n",
        std::thread::hardware_concurrency(), usableCores());
    if (repairFiles) benchRepair(repairFiles, runs);
    if (verifyMb) benchVerify(verifyMb, 2000, runs);
    return 0;
}
