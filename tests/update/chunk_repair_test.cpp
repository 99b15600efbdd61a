#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "base/chunk_groups.h"
#include "base/chunk_index.h"
#include "base/chunker.h"
#include "tests/support/archive_builder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/chunk_repair.h"
#include "update/download_hosts.h"
#include "update/repair.h"
#include "update/sha256.h"

namespace fs = std::filesystem;

namespace {

// Bytes that do not repeat, so that every chunk is unique.
std::string noise(size_t size, uint64_t seed) {
    std::string out(size, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 32);
    }
    return out;
}

std::string indexOf(const std::string& content, const base::ChunkSizes& sizes = base::kLargeChunks) {
    base::ChunkIndex index;
    index.fileSize = content.size();
    index.sizes = sizes;
    size_t offset = 0;
    for (const uint32_t length :
         base::chunkLengths(reinterpret_cast<const uint8_t*>(content.data()), content.size(), sizes)) {
        base::ChunkRecord record;
        record.length = length;
        const std::string raw = testsupport::sha256Raw(content.substr(offset, length));
        std::memcpy(record.sha256, raw.data(), sizeof(record.sha256));
        index.chunks.push_back(record);
        offset += length;
    }
    return base::encodeChunkIndex(index);
}

testsupport::Response serving(const std::string& body, bool ranges = true) {
    testsupport::Response response;
    response.body = body;
    response.ranges = ranges;
    return response;
}

class ChunkRepair : public ::testing::Test {
protected:
    struct Run {
        pcupd::UpdateResult result;
        int64_t bytesDone = 0, bytesTotal = 0;  // as the last report says
    };

    // Publishes `content` as a new version of pack.bin, at paths of its own, with its chunk
    // index (whose digest may lie), and puts `local` in the install folder.
    void publish(const std::string& content, const std::string& local, std::string index = "",
                 bool indexDigestRight = true) {
        if (index.empty()) index = indexOf(content);
        const std::string version = "/v" + std::to_string(++versions);
        filePath = version + "/pack.bin";
        indexPath = version + "/pack.chunks";
        server.route(filePath, serving(content));
        server.route(indexPath, serving(index));
        file.path = "pack.bin";
        file.size = static_cast<int64_t>(content.size());
        file.sha256 = testsupport::sha256Hex(content);
        file.url = server.url(filePath);
        file.chunksUrl = server.url(indexPath);
        file.chunksSha256 = indexDigestRight ? testsupport::sha256Hex(index) : testsupport::sha256Hex("x");
        testsupport::writeFile(installDir / "pack.bin", local);
    }

    Run repair(const pcupd::UpdateOptions& options = pcupd::UpdateOptions(),
               pcupd::VerifyCache cache = pcupd::VerifyCache()) {
        Run run;
        pcupd::repairFiles(run.result, {&file}, installDir.wstring(), options,
                           [&run](const pcupd::Progress& p) {
            run.bytesDone = p.bytesDone;
            run.bytesTotal = p.bytesTotal;
        }, cache);
        return run;
    }

    int ranged() const {
        int count = 0;
        for (const std::string& head : server.requestHeads())
            count += head.find("Range: bytes=") != std::string::npos;
        return count;
    }

    void expectRepaired(const Run& run, const std::string& content) {
        EXPECT_TRUE(run.result.ok) << run.result.error.text;
        EXPECT_TRUE(testsupport::readFile(installDir / "pack.bin") == content);
        EXPECT_FALSE(fs::exists(installDir / "pack.bin.part"));
        EXPECT_EQ(run.bytesDone, run.bytesTotal);  // the bar ends full
    }

    testsupport::TempDir dir;
    fs::path installDir = dir / "OrvaneOnline";
    testsupport::LoopbackServer server;
    pcupd::ManifestFile file;
    int versions = 0;
    std::string filePath, indexPath;  // the latest version's
};

const std::string kOld = noise(2 << 20, 1);

}  // namespace

TEST(ChunkHasher, CutsAsTheChunkerDoesWhateverThePieces) {
    const std::string data = noise(1 << 20, 7);
    const auto bytes = reinterpret_cast<const uint8_t*>(data.data());
    const std::vector<uint32_t> expected = base::chunkLengths(bytes, data.size());
    for (const size_t piece : {size_t(1000), size_t(65536), data.size()}) {
        std::vector<uint32_t> lengths;
        size_t offset = 0;
        bool digestsRight = true;
        pcupd::ChunkHasher hasher([&](uint32_t length, const pcupd::ChunkDigest& digest) {
            const std::string raw = testsupport::sha256Raw(data.substr(offset, length));
            digestsRight &= std::memcmp(raw.data(), digest.data(), digest.size()) == 0;
            lengths.push_back(length);
            offset += length;
        });
        for (size_t at = 0; at < data.size(); at += piece)
            ASSERT_TRUE(hasher.feed(bytes + at, std::min(piece, data.size() - at)));
        ASSERT_TRUE(hasher.finish());
        EXPECT_EQ(lengths, expected) << piece;
        EXPECT_TRUE(digestsRight) << piece;
    }
}

TEST_F(ChunkRepair, ReusesEveryLocalChunkWhereverItSits) {
    struct Case {
        const char* name;
        std::string local, content;
        int64_t maxDownload;
    };
    std::string oneByte = kOld;
    oneByte[1234567] ^= 0x5A;
    const std::string inserted = noise(1000, 2) + kOld;
    const std::string deleted = kOld.substr(0, 900000) + kOld.substr(1000000);
    const int64_t twoChunks = 2 * base::kChunkMax;
    const std::vector<Case> cases = {
        {"unchanged", kOld, kOld, 0},
        {"one changed byte", kOld, oneByte, twoChunks},
        {"insertion at the start", kOld, inserted, twoChunks},
        {"deletion in the middle", kOld, deleted, twoChunks},
        {"truncated local copy", kOld.substr(0, 1 << 20), kOld, (1 << 20) + twoChunks},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        publish(c.content, c.local);
        const int rangedBefore = ranged();
        const Run run = repair();
        expectRepaired(run, c.content);
        EXPECT_LE(run.bytesDone, c.maxDownload);
        // Every request for the file asked for a range: the whole file never came.
        EXPECT_EQ(server.requestCount(filePath), ranged() - rangedBefore);
        if (c.maxDownload == 0) {
            EXPECT_EQ(ranged(), rangedBefore);
        }
    }
}

// An ORVCHK2 index names finer sizes: the player's copy is cut with them, so 100 bytes
// inserted cost a chunk or two of those, in one range.
TEST_F(ChunkRepair, CutsTheLocalCopyWithTheSizesTheIndexNames) {
    const std::string content = kOld.substr(0, 1 << 20) + noise(100, 9) + kOld.substr(1 << 20);
    publish(content, kOld, indexOf(content, base::kSmallChunks));
    const Run run = repair();
    expectRepaired(run, content);
    EXPECT_LE(run.bytesDone, 2 * int64_t{base::kSmallChunks.max});
    EXPECT_EQ(ranged(), 1);
}

TEST_F(ChunkRepair, EmptyLocalCopyTakesTheWholeFile) {
    publish(kOld, "");
    const Run run = repair();
    expectRepaired(run, kOld);
    EXPECT_EQ(server.requestCount(indexPath), 0);
    EXPECT_EQ(ranged(), 0);
    EXPECT_EQ(run.bytesDone, file.size);
}

TEST_F(ChunkRepair, AnythingUnexpectedEndsInTheWholeFileOnce) {
    std::string content = kOld;
    content[1500000] ^= 1;
    std::string corrupt = content;
    corrupt[1500000] ^= 1;
    std::string damaged = indexOf(content);
    damaged[22] ^= 0x40;  // the first chunk's length, now far too long

    publish(content, kOld, "", false);
    expectRepaired(repair(), content);
    EXPECT_EQ(ranged(), 0);

    publish(content, kOld, damaged);
    expectRepaired(repair(), content);
    EXPECT_EQ(ranged(), 0);

    publish(content, kOld);
    server.route(filePath, serving(content, false));  // a 200 for the Range request
    expectRepaired(repair(), content);
    EXPECT_EQ(server.requestCount(filePath), 2);

    publish(content, kOld);
    server.route(filePath, std::vector<testsupport::Response>{serving(corrupt), serving(content)});
    expectRepaired(repair(), content);
    EXPECT_EQ(server.requestCount(filePath), 2);

    // Only the whole download's failure reaches the player.
    publish(content, kOld);
    server.route(filePath, serving(corrupt));
    const Run failed = repair();
    EXPECT_EQ(failed.result.error.text, "hash mismatch for pack.bin");
    EXPECT_TRUE(testsupport::readFile(installDir / "pack.bin") == kOld);
    EXPECT_FALSE(fs::exists(installDir / "pack.bin.part"));
}

// The base's host answers 503 for the index and the file: both come from the mirror, the
// file's changed chunks still as ranges.
TEST_F(ChunkRepair, TheIndexAndTheChunksComeFromAMirrorWhenTheBaseFails) {
    testsupport::LoopbackServer mirror;
    std::string content = kOld;
    content[1500000] ^= 1;
    publish(content, kOld);
    mirror.route(filePath, serving(content));
    mirror.route(indexPath, serving(indexOf(content)));
    testsupport::Response unavailable;
    unavailable.status = 503;
    server.route(filePath, unavailable);
    server.route(indexPath, unavailable);
    pcupd::UpdateOptions options;
    options.transfer.hosts = std::make_shared<pcupd::DownloadHosts>(server.url(""), std::vector<std::string>{mirror.url("")});
    const Run run = repair(options);
    expectRepaired(run, content);
    EXPECT_LE(run.bytesDone, 2 * base::kChunkMax);
    EXPECT_EQ(mirror.requestCount(indexPath), 1);
    EXPECT_EQ(mirror.requestCount(filePath), 1);
    EXPECT_NE(mirror.requestHeads().back().find("Range: bytes="), std::string::npos);
    // Asked once each; the file's range then went straight to the mirror the run was on.
    EXPECT_EQ(server.requestCount(indexPath), 1);
    EXPECT_EQ(server.requestCount(filePath), 0);
}

// A release of a very large file changes a little of it: with the previous release's copy in
// place (the verification cache vouches for it), the file is patched where it lies, and only
// the changed groups' records come from the chunk index.
TEST_F(ChunkRepair, AVeryLargeFileIsPatchedInPlaceFromThePreviousRelease) {
    const base::GroupLimits small{4, 16};  // groups of about 1 MiB, so that 8 MiB has several
    const auto groupsOf = [&](const std::string& index) {
        base::ChunkIndex decoded;
        base::ChunkGroups groups;
        std::string error;
        EXPECT_TRUE(base::decodeChunkIndex(index, decoded, error));
        EXPECT_TRUE(base::groupChunks<pcupd::Sha256>(decoded, index, groups, small));
        EXPECT_GT(groups.groups.size(), 4u);
        return base::encodeChunkGroups(groups);
    };
    const auto withGroups = [&](const std::string& content) {
        publish(content, testsupport::readFile(installDir / "pack.bin"));
        const std::string groups = groupsOf(indexOf(content));
        server.route(filePath + ".groups", serving(groups));
        file.chunkGroupsUrl = server.url(filePath + ".groups");
        file.chunkGroupsSha256 = testsupport::sha256Hex(groups);
        return file;
    };
    const std::string before = noise(8 << 20, 3);
    std::string after = before;
    const std::string changed = noise(100000, 4);
    after.replace(5 << 20, changed.size(), changed);
    after += noise(10000, 5);

    testsupport::writeFile(installDir / "pack.bin", before);
    pcupd::UpdateOptions options;
    auto previous = std::make_shared<pcupd::Manifest>();
    previous->files.push_back(withGroups(before));
    options.previous = previous;
    const std::string previousIndex = indexPath;
    withGroups(after);
    const std::string afterIndex = indexPath;

    // The cache vouches for the copy on disk: its entry is older than the cache's save.
    const std::wstring local = (installDir / "pack.bin").wstring();
    {
        base::UniqueFile handle(CreateFileW(local.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        FILETIME old{0, 0x01D00000};  // 2015
        ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &old));
    }
    pcupd::FileStamp stamp;
    ASSERT_TRUE(pcupd::fileStamp(local, stamp));
    pcupd::VerifyCache cache;
    cache.record("pack.bin", stamp, testsupport::sha256Hex(before));
    ASSERT_TRUE(cache.save(installDir.wstring(), false));
    cache.load(installDir.wstring());

    const Run run = repair(options, std::move(cache));
    expectRepaired(run, after);
    // The change and the chunks around it, not the file; the records of a group or two from
    // each index, never a whole index.
    EXPECT_LE(run.bytesDone, static_cast<int64_t>(changed.size() + 10000) + 4 * base::kChunkMax);
    EXPECT_GE(server.requestCount(afterIndex), 1);
    EXPECT_GE(server.requestCount(previousIndex), 1);
    for (const std::string& head : server.requestHeads())
        if (head.find("/pack.chunks ") != std::string::npos || head.find("/pack.bin ") != std::string::npos) {
            EXPECT_NE(head.find("Range: bytes="), std::string::npos) << head;
        }

    // A copy the cache does not vouch for is rebuilt the usual way, from its chunks.
    testsupport::writeFile(installDir / "pack.bin", before);
    withGroups(noise(1000, 6) + after);
    const Run usual = repair(options);
    expectRepaired(usual, noise(1000, 6) + after);
    EXPECT_EQ(server.requestCount(indexPath), 1);
}
