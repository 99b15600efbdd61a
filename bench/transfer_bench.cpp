// A 1 GB archive install whose connection is cut at five points, against the same install
// uncut, both from a loopback server that answers Range requests as a file server does. The
// installs are bound to a manifest, so the whole stream's digest is checked as well.
//   transfer_bench.exe [--mb N] [--runs N] [--cuts N]
// Reports each install's time and the bytes the server sent, and the ratios that matter:
// bytes sent for the cut install over the archive's size, its time over the uncut one's, and
// the uncut install's speed against the same install bound only to the entries (a manifest
// without the archive's size and digest), which shows what checking the whole stream costs.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/generated_archive.h"
#include "install/archive.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"
#include "update/sha256.h"

using namespace installer;

namespace {

using Clock = std::chrono::steady_clock;

double mb(uint64_t bytes) { return static_cast<double>(bytes) / 1e6; }

testsupport::Response serving(const bench::GeneratedArchive& archive, int64_t cutAfter) {
    testsupport::Response response;
    response.generatedSize = archive.size();
    response.generate = [&archive](uint64_t offset, char* out, size_t size) { archive.read(offset, out, size); };
    response.ranges = true;
    response.cutAfter = cutAfter;
    return response;
}

struct Install {
    bool ok = false;
    base::Failure error;
    double seconds = 0;
    uint64_t sent = 0;
    size_t requests = 0;
};

Install install(testsupport::LoopbackServer& server, const std::string& path,
                const pcupd::FullArchive& bound, const pcupd::Manifest& manifest) {
    pcupd::FullArchive full = bound;
    full.url = server.url(path);
    testsupport::TempDir dir;
    Install result;
    const uint64_t sentBefore = server.bytesSent();
    testsupport::RecordingSink sink;
    const auto start = Clock::now();
    result.ok = installFullArchive(full, manifest, (dir / "OrvaneOnline").wstring(), sink, result.error);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.sent = server.bytesSent() - sentBefore;
    result.requests = static_cast<size_t>(server.requestCount(path));
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 1000;
    int runs = 2, cuts = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb")) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--cuts")) cuts = std::atoi(argv[i + 1]);
    }
    std::printf("cut archive transfer benchmark (loopback, %d cuts)\n", cuts);
    std::printf("generating %.0f MB in 2000 entries...\n", static_cast<double>(megabytes));
    std::fflush(stdout);
    const bench::GeneratedArchive archive(megabytes * 1000000, 2000);

    // What the manifest says of it: every entry, and the whole stream's size and digest.
    pcupd::FullArchive full;
    pcupd::Manifest manifest;
    bench::describe(archive, "", full, manifest);

    // Cut points spread over the archive, off any round number, so they fall inside entries'
    // data and, now and then, inside a header.
    std::vector<uint64_t> points;
    for (int i = 1; i <= cuts; ++i) points.push_back(archive.size() / static_cast<uint64_t>(cuts + 1) * i + 7777 * i);

    testsupport::LoopbackServer server;
    pcupd::FullArchive unbound = full;
    unbound.sha256.clear();
    unbound.headsSha256.clear();
    unbound.size = 0;
    double bestUncut = 0, bestCut = 0, bestUnbound = 0, worstBytesRatio = 0;
    bool allOk = true;
    for (int run = 0; run < runs; ++run) {
        const std::string uncutPath = "/uncut" + std::to_string(run) + ".orvpak";
        const std::string cutPath = "/cut" + std::to_string(run) + ".orvpak";
        server.route(uncutPath, serving(archive, -1));
        std::vector<testsupport::Response> answers;
        for (size_t i = 0; i < points.size(); ++i)
            answers.push_back(serving(archive, static_cast<int64_t>(points[i] - (i ? points[i - 1] : 0))));
        answers.push_back(serving(archive, -1));
        server.route(cutPath, answers);

        // Alternate the order, so that neither case always runs on a warmer system.
        Install uncut, cut, entriesOnly;
        if (run % 2 == 0) {
            entriesOnly = install(server, uncutPath, unbound, manifest);
            uncut = install(server, uncutPath, full, manifest);
            cut = install(server, cutPath, full, manifest);
        } else {
            cut = install(server, cutPath, full, manifest);
            uncut = install(server, uncutPath, full, manifest);
            entriesOnly = install(server, uncutPath, unbound, manifest);
        }
        for (const auto& [label, r] : {std::make_pair("uncut  ", uncut), std::make_pair("cut    ", cut),
                                       std::make_pair("unbound", entriesOnly)}) {
            std::printf("  run %d %s: %s %7.2f s  %8.1f MB/s  server sent %.1f MB in %zu responses%s%s\n",
                        run + 1, label, r.ok ? "ok    " : "FAILED", r.seconds, mb(archive.size()) / r.seconds,
                        mb(r.sent), r.requests, r.ok ? "" : ": ", r.error.text.c_str());
        }
        std::fflush(stdout);
        allOk = allOk && uncut.ok && cut.ok && entriesOnly.ok && cut.requests == points.size() + 1;
        bestUnbound = bestUnbound == 0 ? entriesOnly.seconds : std::min(bestUnbound, entriesOnly.seconds);
        bestUncut = bestUncut == 0 ? uncut.seconds : std::min(bestUncut, uncut.seconds);
        bestCut = bestCut == 0 ? cut.seconds : std::min(bestCut, cut.seconds);
        worstBytesRatio = std::max(worstBytesRatio, static_cast<double>(cut.sent) / archive.size());
    }
    std::printf("  archive %.1f MB; best of %d runs: uncut %.2f s, cut %.2f s\n", mb(archive.size()), runs,
                bestUncut, bestCut);
    std::printf("  bytes sent for the cut install / archive size: %.6fx (limit 1.01x)\n", worstBytesRatio);
    std::printf("  cut / uncut install time: %.2fx (limit 1.2x)\n", bestCut / bestUncut);
    std::printf("  bound / unbound install speed: %.2fx (goal 0.95x; unbound %.2f s)\n", bestUnbound / bestUncut,
                bestUnbound);
    std::printf("  %s\n", allOk && worstBytesRatio <= 1.01 && bestCut / bestUncut <= 1.2 ? "PASS" : "FAIL");
    return allOk ? 0 : 1;
}
