// The full archive installed from nginx over one connection and over several at once: through
// a location that limits each connection's rate (as many CDNs do), and through one without a
// limit. Run by bench/range_bench.sh, which writes the archive once and starts nginx.
//   range_bench.exe --write FILE [--mb N]
//   range_bench.exe --limited URL --unlimited URL [--mb N] [--runs N] [--connections N]
//                   [--window MIB]
// Each run installs the archive with 1 connection and with N (the order alternating from run
// to run), bound to the manifest, so the whole stream's digest is checked every time. Reports
// each time, then per case the ratio that matters, as a median with its spread: with the limit
// the speed-up of N connections (goal: at least 3.5x), without it N connections' time over
// one connection's (goal: at most 1.05x).

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/generated_archive.h"
#include "install/archive.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double mb(uint64_t bytes) { return static_cast<double>(bytes) / 1e6; }

bool writeArchive(const bench::GeneratedArchive& archive, const char* path) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    std::vector<char> block(1 << 20);
    bool ok = true;
    for (uint64_t offset = 0; ok && offset < archive.size(); offset += block.size()) {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(block.size(), archive.size() - offset));
        archive.read(offset, block.data(), size);
        ok = std::fwrite(block.data(), 1, size, file) == size;
    }
    return std::fclose(file) == 0 && ok;
}

struct Install {
    bool ok = false;
    double seconds = 0;
    std::string error;
};

Install install(const pcupd::FullArchive& bound, const std::string& url, const pcupd::Manifest& manifest,
                const pcupd::TransferOptions& transfer) {
    pcupd::FullArchive full = bound;
    full.url = url;
    testsupport::TempDir dir;
    testsupport::RecordingSink sink;
    base::Failure error;
    Install result;
    const auto start = Clock::now();
    result.ok = installer::installFullArchive(full, manifest, (dir / "OrvaneOnline").wstring(), sink, error, transfer);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.error = error.text;
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 250;
    int runs = 3;
    unsigned connections = 4;
    uint32_t windowMiB = pcupd::TransferOptions{}.windowBytes >> 20;
    const char *writePath = nullptr, *limited = nullptr, *unlimited = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* value = argv[i + 1];
        if (!std::strcmp(argv[i], "--mb")) megabytes = std::strtoull(value, nullptr, 10);
        else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(value);
        else if (!std::strcmp(argv[i], "--connections")) connections = static_cast<unsigned>(std::atoi(value));
        else if (!std::strcmp(argv[i], "--window")) windowMiB = static_cast<uint32_t>(std::atoi(value));
        else if (!std::strcmp(argv[i], "--write")) writePath = value;
        else if (!std::strcmp(argv[i], "--limited")) limited = value;
        else if (!std::strcmp(argv[i], "--unlimited")) unlimited = value;
    }
    const bench::GeneratedArchive archive(megabytes * 1000000, 2000);
    if (writePath) {
        if (writeArchive(archive, writePath)) return 0;
        std::fprintf(stderr, "range_bench: could not write %s\n", writePath);
        return 1;
    }
    if (!limited || !unlimited || runs < 1 || connections < 2 || windowMiB < 1) {
        std::fprintf(stderr, "usage: range_bench.exe --limited URL --unlimited URL [--mb N] [--runs N] "
                             "[--connections N] [--window MIB] | --write FILE [--mb N]\n");
        return 2;
    }
    pcupd::FullArchive full;
    pcupd::Manifest manifest;
    bench::describe(archive, "", full, manifest);
    std::printf("archive over several connections (nginx on 127.0.0.1): %.1f MB, 1 vs %u connections, "
                "windows of %u MiB (at most %u MiB held)\n",
                mb(archive.size()), connections, windowMiB, windowMiB * connections);

    bool allOk = true, goalsMet = true;
    for (const auto& [label, url] : {std::make_pair("per-connection limit", limited), std::make_pair("no limit", unlimited)}) {
        const bool isLimited = url == limited;
        std::vector<double> ratios;
        for (int run = 0; run < runs; ++run) {
            pcupd::TransferOptions one, many;
            one.connections = 1;
            many.connections = connections;
            many.windowBytes = windowMiB << 20;
            Install single, parallel;
            if (run % 2 == 0) {
                single = install(full, url, manifest, one);
                parallel = install(full, url, manifest, many);
            } else {
                parallel = install(full, url, manifest, many);
                single = install(full, url, manifest, one);
            }
            for (const auto& [count, r] : {std::make_pair(1u, single), std::make_pair(connections, parallel)})
                std::printf("  %s, run %d, %u connection%s: %s %7.2f s %8.1f MB/s%s%s\n", label, run + 1, count,
                            count == 1 ? " " : "s", r.ok ? "ok    " : "FAILED", r.seconds,
                            mb(archive.size()) / r.seconds, r.ok ? "" : ": ", r.error.c_str());
            std::fflush(stdout);
            allOk = allOk && single.ok && parallel.ok;
            ratios.push_back(isLimited ? single.seconds / parallel.seconds : parallel.seconds / single.seconds);
        }
        const double middle = median(ratios);
        const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
        const bool met = isLimited ? middle >= 3.5 : middle <= 1.05;
        goalsMet = goalsMet && met;
        std::printf("  %s: %s %.2fx median (%.2f-%.2f over %d runs; goal %s) %s\n", label,
                    isLimited ? "speed-up of" : "time of many / one:", middle, *low, *high, runs,
                    isLimited ? ">= 3.5x" : "<= 1.05x", met ? "PASS" : "FAIL");
    }
    std::printf("  %s\n", allOk && goalsMet ? "PASS" : "FAIL");
    return allOk ? 0 : 1;
}
