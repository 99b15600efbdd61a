// An update of one very large pack through the whole engine, against a deep verification of
// the same install: the new release changes 1 MiB past 4 GiB, in place. The folder holds the
// previous release, vouched for by its verification cache, and both releases publish chunk
// groups, so the update fetches only the changed groups' records and chunks and writes them
// where they lie. The deep verification that follows also proves the patched file right.
//   pack_update_bench.exe [--mb N]   (the pack's size, default 4500 MB)
// Wine's speed swings with CPU placement: compare only the ratios of one run.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/chunk_groups.h"
#include "base/chunk_index.h"
#include "base/unique_handle.h"
#include "bench/bench_clock.h"
#include "tests/support/archive_builder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/chunk_repair.h"
#include "update/sha256.h"
#include "update/update.h"
#include "update/verify_cache.h"

namespace {

using bench::Clock;
using bench::mb;
using bench::mix;
using bench::seconds;

// The pack: stream 0 everywhere, except stream 1 over [changedAt, changedAt + changedSize)
// in the new release.
struct Pack {
    uint64_t size = 0, changedAt = 0, changedSize = 0;
    bool changed = false;
    void read(uint64_t offset, char* out, size_t length) const {
        while (length > 0) {
            const bool inChange = changed && offset >= changedAt && offset < changedAt + changedSize;
            const uint64_t word = mix((offset / 8) ^ (static_cast<uint64_t>(inChange) << 60));
            const size_t at = offset % 8, take = std::min<size_t>(8 - at, length);
            std::memcpy(out, reinterpret_cast<const char*>(&word) + at, take);
            out += take;
            offset += take;
            length -= take;
        }
    }
};

// One release of the pack as the publisher lists it, its index and groups served by `server`
// under `name`; with `local`, the pack is also written there as it is read.
pcupd::ManifestFile describe(const Pack& pack, const std::string& name, testsupport::LoopbackServer& server,
                             const std::wstring& local) {
    base::ChunkIndex chunks;
    chunks.fileSize = pack.size;
    pcupd::ChunkHasher hasher([&chunks](uint32_t length, const pcupd::ChunkDigest& digest) {
        base::ChunkRecord record;
        record.length = length;
        std::copy(digest.begin(), digest.end(), record.sha256);
        chunks.chunks.push_back(record);
    });
    pcupd::Sha256 whole;
    base::UniqueFile out;
    if (!local.empty())
        out.reset(CreateFileW(local.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> buffer(1 << 20);
    for (uint64_t at = 0; at < pack.size; at += buffer.size()) {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(buffer.size(), pack.size - at));
        pack.read(at, buffer.data(), size);
        whole.update(buffer.data(), size);
        hasher.feed(reinterpret_cast<const uint8_t*>(buffer.data()), size);
        DWORD written = 0;
        if (out) WriteFile(out.get(), buffer.data(), static_cast<DWORD>(size), &written, nullptr);
    }
    hasher.finish();
    const std::string index = base::encodeChunkIndex(chunks);
    base::ChunkGroups groups;
    base::groupChunks<pcupd::Sha256>(chunks, index, groups);
    const std::string groupBytes = base::encodeChunkGroups(groups);
    testsupport::Response indexBody, groupsBody;
    indexBody.body = index;
    indexBody.ranges = true;
    groupsBody.body = groupBytes;
    server.route("/" + name + ".chunks", indexBody);
    server.route("/" + name + ".groups", groupsBody);

    pcupd::ManifestFile file;
    file.path = "data/pack.bin";
    file.size = static_cast<int64_t>(pack.size);
    file.sha256 = whole.finish();
    file.url = server.url("/" + name + ".bin");
    file.chunksUrl = server.url("/" + name + ".chunks");
    file.chunksSha256 = testsupport::sha256Hex(index);
    file.chunkGroupsUrl = server.url("/" + name + ".groups");
    file.chunkGroupsSha256 = testsupport::sha256Hex(groupBytes);
    std::printf("  %s: %.0f MB in %zu chunks, index %.2f MB in %zu groups (groups object %.1f KB)\n", name.c_str(),
                mb(pack.size), chunks.chunks.size(), mb(index.size()), groups.groups.size(), groupBytes.size() / 1e3);
    std::fflush(stdout);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 4500;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--mb")) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
    Pack before;
    before.size = megabytes * 1000 * 1000;
    before.changedSize = 1 << 20;
    before.changedAt = std::min<uint64_t>((4ULL << 30) + 123456, before.size - before.changedSize - 1);
    Pack after = before;
    after.changed = true;
    std::printf("pack update benchmark: a %.0f MB pack, 1 MiB changed in place at %.0f MB\n", mb(before.size),
                mb(before.changedAt));
    std::fflush(stdout);

    testsupport::TempDir dir;
    const std::wstring installDir = (dir / "OrvaneOnline").wstring();
    CreateDirectoryW(installDir.c_str(), nullptr);
    CreateDirectoryW((installDir + L"\\data").c_str(), nullptr);
    const std::wstring local = installDir + L"\\data\\pack.bin";

    testsupport::LoopbackServer server;
    server.setKeepAlive(true);
    auto previous = std::make_shared<pcupd::Manifest>();
    previous->files.push_back(describe(before, "release1", server, local));
    pcupd::Manifest manifest;
    manifest.files.push_back(describe(after, "release2", server, std::wstring()));
    testsupport::Response body;
    body.generatedSize = after.size;
    body.generate = [&after](uint64_t offset, char* out, size_t size) { after.read(offset, out, size); };
    body.ranges = true;
    server.route("/release2.bin", body);

    // What the install of release 1 left: the cache vouches for the pack (settled, so trusted).
    {
        pcupd::VerifyCache cache;
        pcupd::FileStamp stamp;
        pcupd::fileStamp(local, stamp);
        cache.record(previous->files[0].path, stamp, previous->files[0].sha256);
        cache.save(installDir, true);
    }

    pcupd::UpdateOptions options;
    options.manifestKeys.clear();
    options.previous = previous;
    const uint64_t sentBefore = server.bytesSent();
    auto start = Clock::now();
    const pcupd::UpdateResult update = pcupd::runUpdate(manifest, installDir, options, nullptr);
    const double updateSeconds = seconds(start);
    const uint64_t sent = server.bytesSent() - sentBefore;
    std::printf("  update:      %s %6.2f s, read back %.1f MB, server sent %.3f MB%s%s\n", update.ok ? "ok    " : "FAILED",
                updateSeconds, mb(update.bytesHashed), mb(sent), update.ok ? "" : ": ", update.error.text.c_str());
    std::fflush(stdout);

    options.useCache = false;
    start = Clock::now();
    const pcupd::UpdateResult deep = pcupd::runUpdate(manifest, installDir, options, nullptr);
    const double deepSeconds = seconds(start);
    std::printf("  deep verify: %s %6.2f s, read back %.1f MB%s\n", deep.ok && deep.upToDate ? "ok    " : "FAILED",
                deepSeconds, mb(deep.bytesHashed), deep.upToDate ? " (the patched pack is right)" : "");

    const double limit = 1.5 * static_cast<double>(before.changedSize) + 262144.0;
    std::printf("  server sent / limit (1.5x changed + 256 KiB): %.3f MB / %.3f MB\n", mb(sent),
                mb(static_cast<uint64_t>(limit)));
    std::printf("  update / deep verify time: %.1f%% (at most 10%%)\n", 100 * updateSeconds / deepSeconds);
    const bool pass = update.ok && deep.ok && deep.upToDate && sent <= limit && updateSeconds <= 0.1 * deepSeconds;
    std::printf("  %s\n", pass ? "PASS" : "FAIL");
    return update.ok && deep.ok && deep.upToDate ? 0 : 1;
}
