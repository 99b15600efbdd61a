// Repair of one large pack by chunks against the whole-file repair, from a loopback server
// limited to about 100 Mbit/s (pieces with pauses): the new version differs in 1% of its
// bytes, in 20 places, half of them insertions that shift everything after them.
//   chunk_bench.exe [--mb N] [--places N] [--mbit N]
// Reports the bytes each repair downloaded and its time, and the speed of cutting the local
// copy into chunks against hashing the same file. Wine's speed swings with CPU placement:
// compare only the ratios of one run.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/chunk_index.h"
#include "base/chunker.h"
#include "base/unique_handle.h"
#include "bench/bench_clock.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/chunk_repair.h"
#include "update/download.h"
#include "update/repair.h"
#include "update/sha256.h"

namespace {

using bench::Clock;
using bench::mb;
using bench::mix;
using bench::seconds;

// Bytes of stream `seed` at any offset, without holding them.
void fill(uint64_t seed, uint64_t offset, char* out, size_t size) {
    while (size > 0) {
        const uint64_t word = mix((offset / 8) ^ (seed << 48));
        const size_t at = offset % 8, take = std::min<size_t>(8 - at, size);
        std::memcpy(out, reinterpret_cast<const char*>(&word) + at, take);
        out += take;
        offset += take;
        size -= take;
    }
}

// The new version: runs of the old file (stream 0) and of fresh bytes (streams 1..places).
class NewVersion {
public:
    NewVersion(uint64_t oldSize, int places, uint64_t changedPerPlace) {
        uint64_t oldAt = 0;
        for (int i = 0; i < places; ++i) {
            const uint64_t place = oldSize / places * i + oldSize / places / 2 + 4099 * i;
            add(0, oldAt, place - oldAt);
            add(static_cast<uint64_t>(i) + 1, 0, changedPerPlace);
            // Even places overwrite, odd ones insert and shift the rest.
            oldAt = place + (i % 2 == 0 ? changedPerPlace : 0);
        }
        add(0, oldAt, oldSize - oldAt);
    }
    uint64_t size() const { return size_; }
    void read(uint64_t offset, char* out, size_t size) const {
        auto run = std::upper_bound(runs_.begin(), runs_.end(), offset,
                                    [](uint64_t at, const Run& r) { return at < r.start; }) - 1;
        while (size > 0) {
            const uint64_t within = offset - run->start;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(run->length - within, size));
            fill(run->stream, run->from + within, out, take);
            out += take;
            offset += take;
            size -= take;
            ++run;
        }
    }

private:
    struct Run {
        uint64_t start, stream, from, length;
    };
    void add(uint64_t stream, uint64_t from, uint64_t length) {
        runs_.push_back({size_, stream, from, length});
        size_ += length;
    }
    std::vector<Run> runs_;
    uint64_t size_ = 0;
};

struct Repaired {
    bool ok = false;
    std::string error;
    double seconds = 0;
    uint64_t sent = 0;  // by the server, heads and the chunk index included
    int64_t bytesDone = 0, bytesTotal = 0;
};

Repaired repair(testsupport::LoopbackServer& server, const pcupd::ManifestFile& file,
                const std::wstring& installDir) {
    Repaired result;
    pcupd::UpdateResult outcome;
    pcupd::VerifyCache cache;
    const uint64_t before = server.bytesSent();
    const auto start = Clock::now();
    pcupd::repairFiles(outcome, {&file}, installDir, pcupd::UpdateOptions(), [&result](const pcupd::Progress& p) {
        result.bytesDone = p.bytesDone;
        result.bytesTotal = p.bytesTotal;
    }, cache);
    result.seconds = seconds(start);
    result.sent = server.bytesSent() - before;
    result.ok = outcome.ok;
    result.error = outcome.error.text;
    return result;
}

// Seconds to read `path` once, handing each piece to `use`.
template <typename Use>
double timeRead(const std::wstring& path, Use use) {
    const auto start = Clock::now();
    base::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::vector<uint8_t> buffer(1 << 20);
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0)
        use(buffer.data(), read);
    return seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 512;
    int places = 20;
    double mbit = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb")) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--places")) places = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--mbit")) mbit = std::atof(argv[i + 1]);
    }
    const uint64_t oldSize = megabytes << 20;
    const uint64_t perPlace = oldSize / 100 / static_cast<uint64_t>(places);
    const NewVersion next(oldSize, places, perPlace);
    std::printf("chunk repair benchmark: a %llu MB pack, 1%% changed in %d places (%llu KiB each, half of them "
                "insertions), server limited to %.0f Mbit/s\n",
                static_cast<unsigned long long>(megabytes), places,
                static_cast<unsigned long long>(perPlace >> 10), mbit);
    std::fflush(stdout);

    testsupport::TempDir dir;
    const std::wstring installDir = (dir / "OrvaneOnline").wstring();
    CreateDirectoryW(installDir.c_str(), nullptr);
    const std::wstring pack = installDir + L"\\pack.bin";
    const auto writeOld = [&] {
        base::UniqueFile file(CreateFileW(pack.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        std::vector<char> buffer(1 << 20);
        for (uint64_t at = 0; file && at < oldSize; at += buffer.size()) {
            fill(0, at, buffer.data(), buffer.size());
            DWORD written = 0;
            WriteFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &written, nullptr);
        }
    };
    writeOld();

    // What the publisher would list: the new version's digest and chunk index.
    pcupd::ManifestFile file;
    std::string index;
    {
        base::ChunkIndex chunks;
        chunks.fileSize = next.size();
        pcupd::ChunkHasher hasher([&chunks](uint32_t length, const pcupd::ChunkDigest& digest) {
            base::ChunkRecord record;
            record.length = length;
            std::copy(digest.begin(), digest.end(), record.sha256);
            chunks.chunks.push_back(record);
        });
        pcupd::Sha256 whole;
        std::vector<char> buffer(1 << 20);
        for (uint64_t at = 0; at < next.size(); at += buffer.size()) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(buffer.size(), next.size() - at));
            next.read(at, buffer.data(), size);
            whole.update(buffer.data(), size);
            hasher.feed(reinterpret_cast<const uint8_t*>(buffer.data()), size);
        }
        hasher.finish();
        index = base::encodeChunkIndex(chunks);
        file.sha256 = whole.finish();
        std::printf("  new version %.1f MB in %zu chunks; index %.1f KB\n", mb(next.size()), chunks.chunks.size(),
                    index.size() / 1e3);
    }

    // ~100 Mbit/s: small pieces, so that the unpaused first piece of each response is no gift,
    // sized by a trial download since a pause of 1 ms lasts longer than that.
    testsupport::LoopbackServer server;
    server.setKeepAlive(true);
    testsupport::Response body;
    body.generatedSize = next.size();
    body.generate = [&next](uint64_t offset, char* out, size_t size) { next.read(offset, out, size); };
    body.ranges = true;
    body.pauseMs = 1;
    body.pieceSize = static_cast<size_t>(mbit * 1e6 / 8 / 1000);
    for (int trial = 0; trial < 3; ++trial) {
        testsupport::Response sample = body;
        sample.generatedSize = std::min<uint64_t>(next.size(), static_cast<uint64_t>(mbit * 1e6 / 8 * 2));
        server.route("/trial" + std::to_string(trial), sample);
        pcupd::Downloaded got;
        base::Failure error;
        const auto start = Clock::now();
        pcupd::download(server.url("/trial" + std::to_string(trial)), installDir + L"\\trial.bin", {}, got, error);
        const double rate = mb(sample.generatedSize) * 8 / seconds(start);
        DeleteFileW((installDir + L"\\trial.bin").c_str());
        body.pieceSize = static_cast<size_t>(static_cast<double>(body.pieceSize) * mbit / std::max(rate, 1.0));
    }
    server.route("/files/pack.bin", body);
    testsupport::Response indexBody;
    indexBody.body = index;
    server.route("/chunks/pack.bin", indexBody);
    file.path = "pack.bin";
    file.size = static_cast<int64_t>(next.size());
    file.url = server.url("/files/pack.bin");

    // Cutting the local copy into chunks against hashing it, both from the page cache.
    pcupd::Sha256 sha;
    const double shaSeconds = timeRead(pack, [&sha](const uint8_t* data, DWORD size) { sha.update(data, size); });
    base::Chunker chunker;
    std::vector<uint32_t> lengths;
    const double cutSeconds = timeRead(pack, [&](const uint8_t* data, DWORD size) {
        chunker.feed(data, size, lengths);
    });
    pcupd::ChunkHasher hasher([](uint32_t, const pcupd::ChunkDigest&) {});
    const double bothSeconds = timeRead(pack, [&hasher](const uint8_t* data, DWORD size) { hasher.feed(data, size); });
    // Files under 64 MiB are cut finer (base::kSmallChunks): the same pass with those sizes.
    pcupd::ChunkHasher fine([](uint32_t, const pcupd::ChunkDigest&) {}, base::kSmallChunks);
    const double fineSeconds = timeRead(pack, [&fine](const uint8_t* data, DWORD size) { fine.feed(data, size); });
    std::printf("  local %.0f MB: SHA-256 %.0f MB/s, chunking %.0f MB/s (%.2fx), chunking with each chunk's "
                "SHA-256 (the repair's one pass) %.0f MB/s (%.2fx); the same with 16 KiB chunks %.0f MB/s (%.2fx)\n",
                mb(oldSize), mb(oldSize) / shaSeconds, mb(oldSize) / cutSeconds, shaSeconds / cutSeconds,
                mb(oldSize) / bothSeconds, shaSeconds / bothSeconds, mb(oldSize) / fineSeconds,
                shaSeconds / fineSeconds);
    std::fflush(stdout);

    file.chunksUrl = server.url("/chunks/pack.bin");
    file.chunksSha256 = [&index] {
        pcupd::Sha256 digest;
        digest.update(index.data(), index.size());
        return digest.finish();
    }();
    const Repaired chunked = repair(server, file, installDir);
    std::printf("  chunk repair: %s %6.2f s, downloaded %.2f MB of %.2f MB planned, server sent %.2f MB%s%s\n",
                chunked.ok ? "ok    " : "FAILED", chunked.seconds, mb(chunked.bytesDone), mb(chunked.bytesTotal),
                mb(chunked.sent), chunked.ok ? "" : ": ", chunked.error.c_str());
    std::fflush(stdout);

    file.chunksUrl.clear();
    file.chunksSha256.clear();
    writeOld();
    const Repaired whole = repair(server, file, installDir);
    std::printf("  whole repair: %s %6.2f s, downloaded %.2f MB (%.0f Mbit/s)%s%s\n", whole.ok ? "ok    " : "FAILED",
                whole.seconds, mb(whole.bytesDone), mb(whole.bytesDone) * 8 / whole.seconds,
                whole.ok ? "" : ": ", whole.error.c_str());

    const uint64_t changed = perPlace * static_cast<uint64_t>(places);
    const double limit = 1.5 * static_cast<double>(changed) + 262144.0 * places;
    const double speedup = whole.seconds / chunked.seconds;
    const double cutRatio = shaSeconds / cutSeconds;
    std::printf("  server sent / limit (1.5x changed %.2f MB + 256 KiB per place): %.2f MB / %.2f MB\n",
                mb(changed), mb(chunked.sent), mb(static_cast<uint64_t>(limit)));
    std::printf("  whole / chunk repair time: %.1fx (at least 5x)\n", speedup);
    std::printf("  chunking / SHA-256 speed: %.2fx (at least 0.8x)\n", cutRatio);
    const bool pass = chunked.ok && whole.ok && chunked.sent <= limit && speedup >= 5 && cutRatio >= 0.8;
    std::printf("  %s\n", pass ? "PASS" : "FAIL");
    return chunked.ok && whole.ok ? 0 : 1;
}
