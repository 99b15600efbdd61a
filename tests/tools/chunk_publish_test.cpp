// The chunk indexes orvpak publishes for large files, read back as the program reads them,
// and what the publisher counts players downloading through them.

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>

#include "base/chunk_groups.h"
#include "base/chunk_index.h"
#include "base/chunk_plan.h"
#include "base/chunker.h"
#include "tests/support/chunk_vectors.h"
#include "tests/tools/orvpak_fixture.h"
#include "tools/orvpak/object_store.h"
#include "tools/orvpak/publish.h"

using namespace orvpaktest;

namespace {

orvpak::PublishSummary publishTree(const fs::path& client, const fs::path& out, size_t keep = 2,
                                   const std::string& version = "") {
    orvpak::PublishOptions options;
    options.clientDir = client;
    options.outDir = out;
    options.baseUrl = "https://cdn.test/game";
    options.keepReleases = keep;
    options.clientVersion = version;
    orvpak::PublishSummary summary;
    std::string error;
    EXPECT_TRUE(orvpak::publish(options, summary, error)) << error;
    return summary;
}

std::string asString(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The chunksSha256 of `path` in OUT_DIR `out`'s manifest, empty when it has none; fails the
// test when only one of the two fields is there.
std::string chunksOf(const fs::path& out, const std::string& path) {
    rapidjson::Document manifest;
    manifest.Parse(readBytes(out / "pc/manifest.json").c_str());
    for (const auto& file : manifest["files"].GetArray()) {
        if (file["path"].GetString() != path) continue;
        EXPECT_EQ(file.HasMember("chunksUrl"), file.HasMember("chunksSha256")) << path;
        if (!file.HasMember("chunksSha256")) return {};
        const std::string sha = file["chunksSha256"].GetString();
        EXPECT_EQ(file["chunksUrl"].GetString(),
                  "https://cdn.test/game/pc/" + orvpak::objectPath(sha));
        return sha;
    }
    ADD_FAILURE() << path << " is not in the manifest";
    return {};
}

// The chunkGroupsSha256 of `path`, empty when it has none.
std::string groupsOf(const fs::path& out, const std::string& path) {
    rapidjson::Document manifest;
    manifest.Parse(readBytes(out / "pc/manifest.json").c_str());
    for (const auto& file : manifest["files"].GetArray())
        if (file["path"].GetString() == path && file.HasMember("chunkGroupsSha256")) {
            const std::string sha = file["chunkGroupsSha256"].GetString();
            EXPECT_EQ(file["chunkGroupsUrl"].GetString(), "https://cdn.test/game/pc/" + orvpak::objectPath(sha));
            return sha;
        }
    return {};
}

// The chunks of `content` as the program finds them in a player's copy: cut and hashed here,
// not read from anything the publisher wrote.
base::ChunkIndex chunksOfContent(const std::string& content) {
    base::ChunkIndex index;
    index.fileSize = content.size();
    index.sizes = base::chunkSizesFor(content.size());
    size_t at = 0;
    for (const uint32_t length : base::chunkLengths(reinterpret_cast<const uint8_t*>(content.data()),
                                                    content.size(), index.sizes)) {
        base::ChunkRecord record;
        record.length = length;
        const std::string digest = sha256Raw(content.substr(at, length));
        std::copy(digest.begin(), digest.end(), record.sha256);
        index.chunks.push_back(record);
        at += length;
    }
    return index;
}

}  // namespace

TEST(PublishChunks, IndexesFilesAboveOneMebibyteThatMatchTheirBytes) {
    TempFolder temp;
    const std::string big = asString(testsupport::pseudoRandomBytes(3 << 20, 99));
    writeBytes(temp / "client/data/big.pak", big);
    writeBytes(temp / "client/data/exact.pak", std::string(1 << 20, 'x'));  // not above
    writeBytes(temp / "client/small.txt", "small");
    publishTree(temp / "client", temp / "out");

    EXPECT_EQ(chunksOf(temp / "out", "data/exact.pak"), "");
    EXPECT_EQ(chunksOf(temp / "out", "small.txt"), "");
    const std::string sha = chunksOf(temp / "out", "data/big.pak");
    ASSERT_FALSE(sha.empty());
    const std::string bytes = readBytes(objectFile(temp / "out", sha));
    EXPECT_EQ(sha256Hex(bytes), sha);
    base::ChunkIndex index;
    std::string error;
    ASSERT_TRUE(base::decodeChunkIndex(bytes, index, error)) << error;
    EXPECT_EQ(index.fileSize, big.size());
    EXPECT_TRUE(index.sizes == base::kSmallChunks);
    std::vector<uint32_t> lengths;
    size_t at = 0;
    for (const base::ChunkRecord& chunk : index.chunks) {
        lengths.push_back(chunk.length);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(chunk.sha256), 32),
                  sha256Raw(big.substr(at, chunk.length)))
            << "chunk at " << at;
        at += chunk.length;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(big.data());
    EXPECT_EQ(lengths, base::chunkLengths(data, big.size(), base::kSmallChunks));

    const auto before = snapshot(temp / "out");
    const orvpak::PublishSummary again = publishTree(temp / "client", temp / "out");
    EXPECT_FALSE(again.newRelease);
    EXPECT_EQ(again.objectsWritten, 0u);
    EXPECT_TRUE(snapshot(temp / "out") == before);
}

TEST(PublishChunks, PruningKeepsTheIndexesOfKeptReleases) {
    TempFolder temp;
    std::string big = asString(testsupport::pseudoRandomBytes(2 << 20, 1));
    writeBytes(temp / "client/big.pak", big);
    publishTree(temp / "client", temp / "out", 1);
    const std::string first = chunksOf(temp / "out", "big.pak");
    big[500000] ^= 1;
    writeBytes(temp / "client/big.pak", big);
    publishTree(temp / "client", temp / "out", 1);
    const std::string second = chunksOf(temp / "out", "big.pak");
    ASSERT_NE(first, second);
    EXPECT_TRUE(fs::exists(objectFile(temp / "out", first)));  // release 1 is still kept

    big[900000] ^= 1;
    writeBytes(temp / "client/big.pak", big);
    const orvpak::PublishSummary third = publishTree(temp / "client", temp / "out", 1);
    EXPECT_EQ(third.oldestKept, 2u);
    EXPECT_FALSE(fs::exists(objectFile(temp / "out", first)));
    EXPECT_TRUE(fs::exists(objectFile(temp / "out", second)));
    EXPECT_TRUE(fs::exists(objectFile(temp / "out", chunksOf(temp / "out", "big.pak"))));
}

// A very large file's index gets its groups: each names exactly its records in the index, and
// the object stays while its release is kept.
TEST(PublishChunks, GroupsTheIndexesOfVeryLargeFiles) {
    TempFolder temp;
    std::string huge = asString(testsupport::pseudoRandomBytes(base::kChunkGroupsThreshold + 5, 7));
    writeBytes(temp / "client/huge.pak", huge);
    writeBytes(temp / "client/big.pak", huge.substr(0, 2 << 20));
    publishTree(temp / "client", temp / "out", 1);
    EXPECT_EQ(groupsOf(temp / "out", "big.pak"), "");
    const std::string sha = groupsOf(temp / "out", "huge.pak");
    ASSERT_FALSE(sha.empty());
    const std::string bytes = readBytes(objectFile(temp / "out", sha));
    EXPECT_EQ(sha256Hex(bytes), sha);
    base::ChunkGroups groups;
    std::string error;
    ASSERT_TRUE(base::decodeChunkGroups(bytes, groups, error)) << error;
    EXPECT_EQ(groups.fileSize, huge.size());
    const std::string index = readBytes(objectFile(temp / "out", chunksOf(temp / "out", "huge.pak")));
    EXPECT_EQ(index.substr(0, 8), std::string("ORVCHK1\0", 8));  // the layout groups address
    for (const base::ChunkGroup& group : groups.groups)
        EXPECT_EQ(sha256Raw(index.substr(base::groupRecordsOffset(group), base::groupRecordsSize(group))),
                  std::string(reinterpret_cast<const char*>(group.sha256), 32));

    huge[1000] ^= 1;
    writeBytes(temp / "client/huge.pak", huge);
    const orvpak::PublishSummary second = publishTree(temp / "client", temp / "out", 1);
    EXPECT_NE(groupsOf(temp / "out", "huge.pak"), sha);
    EXPECT_TRUE(fs::exists(objectFile(temp / "out", sha)));  // release 1 is still kept
    // A player on release 1 patches the pack in place: both groups objects, the changed
    // group's records from each index and the chunk that differs.
    ASSERT_EQ(second.updateCosts.size(), 1u);
    const orvpak::ReleaseCost& cost = second.updateCosts[0];
    EXPECT_EQ(cost.patchedInPlace, 1u);
    EXPECT_EQ(cost.chunkIndexes, 0u);
    EXPECT_EQ(cost.total.requests, cost.manifest.requests + 2 + 2 + 1);
    EXPECT_LT(cost.total.bytes - cost.manifest.bytes, 2 * index.size() + base::kChunkMax + 1024);
}

TEST(PublishCost, CountsWhatAPlayerOfEachKeptReleaseFetches) {
    TempFolder temp;
    const fs::path client = temp / "client", out = temp / "out";
    const std::string oldBig = asString(testsupport::pseudoRandomBytes(3 << 20, 5));
    writeBytes(client / "big.pak", oldBig);
    writeBytes(client / "grows.pak", "small until it grows");
    writeBytes(client / "small.txt", "old small");
    writeBytes(client / "same.txt", "never changes");
    writeBytes(client / "gone.txt", "removed later");
    const orvpak::PublishSummary first = publishTree(client, out);
    EXPECT_TRUE(first.updateCosts.empty());

    std::string big = oldBig;
    big[400000] ^= 1;  // two changes far apart: two runs of missing chunks
    big[2500000] ^= 1;
    const std::string grown = asString(testsupport::pseudoRandomBytes(2 << 20, 6));
    writeBytes(client / "big.pak", big);
    writeBytes(client / "grows.pak", grown);
    writeBytes(client / "small.txt", "new small!");
    writeBytes(client / "added.txt", "added");
    fs::remove(client / "gone.txt");
    const orvpak::PublishSummary second = publishTree(client, out);
    ASSERT_EQ(second.updateCosts.size(), 1u);
    const orvpak::ReleaseCost& cost = second.updateCosts[0];
    EXPECT_EQ(cost.from, 1u);
    EXPECT_EQ(cost.problem, "");
    EXPECT_EQ(second.manifestBytes, readBytes(out / "pc/manifest.json").size());
    EXPECT_EQ(cost.manifest.bytes, second.manifestBytes);
    EXPECT_EQ(cost.manifest.requests, 1u);

    // big.pak: its index, then the chunks the old copy lacks, planned as the program plans.
    const base::ChunkPlan plan =
        base::planChunks(chunksOfContent(big), base::heldChunksOf(chunksOfContent(oldBig)));
    EXPECT_EQ(plan.ranges, 2u);
    EXPECT_LT(plan.toDownload, 4u * base::kSmallChunks.max);
    // grows.pak had no index: the program finds nothing it can name as reused and fetches
    // the whole file after the index.
    const uint64_t indexes = readBytes(objectFile(out, chunksOf(out, "big.pak"))).size() +
                             readBytes(objectFile(out, chunksOf(out, "grows.pak"))).size();
    EXPECT_EQ(cost.chunkIndexes, 2u);
    EXPECT_EQ(cost.ranges, plan.ranges);
    EXPECT_EQ(cost.wholeFiles, 3u);  // small.txt, added.txt, grows.pak
    EXPECT_EQ(cost.total.bytes, second.manifestBytes + indexes + plan.toDownload + grown.size() +
                                    std::string("new small!added").size());
    EXPECT_EQ(cost.total.requests, 1u + 2u + plan.ranges + 3u);

    // The same files again: players of release 2 read the manifest and nothing else.
    const orvpak::PublishSummary third = publishTree(client, out, 2, "3.0");
    ASSERT_EQ(third.updateCosts.size(), 2u);
    EXPECT_EQ(third.updateCosts[0].ranges, cost.ranges);
    const orvpak::ReleaseCost& unchanged = third.updateCosts[1];
    EXPECT_EQ(unchanged.from, 2u);
    EXPECT_EQ(unchanged.wholeFiles + unchanged.chunkIndexes + unchanged.ranges, 0u);
    EXPECT_EQ(unchanged.total.bytes, third.manifestBytes);
    EXPECT_EQ(unchanged.total.requests, 1u);
}
