#include "base/chunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>

#include "base/chunk_index.h"
#include "tests/support/chunk_vectors.h"

namespace {

std::vector<uint32_t> cuts(const std::vector<uint8_t>& bytes) {
    return base::chunkLengths(bytes.data(), bytes.size());
}

}  // namespace

// The same vectors are asserted natively by the publisher's tests.
TEST(Chunker, GoldenVectors) {
    EXPECT_EQ(cuts(testsupport::goldenBytes()),
              testsupport::kGoldenLengths);
    EXPECT_EQ(cuts(std::vector<uint8_t>(1 << 20)), std::vector<uint32_t>(4, base::kChunkMax));
    EXPECT_TRUE(cuts({}).empty());
    EXPECT_EQ(cuts({7}), std::vector<uint32_t>{1});
}

TEST(Chunker, PiecesOfAnySizeGiveTheSameCuts) {
    const auto bytes = testsupport::goldenBytes();
    std::mt19937 random(5);
    for (size_t maxPiece : {size_t{1} << 6, size_t{1} << 14, size_t{1} << 19}) {
        base::Chunker chunker;
        std::vector<uint32_t> lengths;
        for (size_t at = 0; at < bytes.size();) {
            const size_t piece = std::min(bytes.size() - at, size_t{random() % maxPiece});
            chunker.feed(bytes.data() + at, piece, lengths);
            at += piece;
        }
        chunker.finish(lengths);
        EXPECT_EQ(lengths, testsupport::kGoldenLengths) << "pieces up to " << maxPiece;
    }
}

TEST(Chunker, InsertionChangesOnlyTheChunksAroundIt) {
    const auto original = testsupport::goldenBytes();
    auto edited = original;
    edited.insert(edited.begin() + 100000, 333, uint8_t{0xAB});
    // A chunk is kept when the same length ends at the same distance from the end.
    auto ends = [](const std::vector<uint32_t>& lengths, size_t total) {
        std::set<std::pair<size_t, uint32_t>> out;
        for (uint32_t length : lengths) out.insert({total, length}), total -= length;
        return out;
    };
    const auto before = ends(cuts(original), original.size());
    const auto after = ends(cuts(edited), edited.size());
    size_t kept = 0;
    for (const auto& chunk : after) kept += before.count(chunk);
    EXPECT_GE(kept + 3, before.size());
}

TEST(ChunkIndex, RoundTripsAndRejectsDamage) {
    base::ChunkIndex index;
    index.fileSize = base::kChunkMax + 10;
    index.chunks.resize(2);
    index.chunks[0].length = base::kChunkMax;
    index.chunks[1].length = 10;
    index.chunks[1].sha256[31] = 0xEE;
    const std::string bytes = base::encodeChunkIndex(index);
    ASSERT_EQ(bytes.size(), base::kChunkIndexHeaderSize + 2 * base::kChunkIndexRecordSize);

    base::ChunkIndex decoded;
    std::string error;
    ASSERT_TRUE(base::decodeChunkIndex(bytes, decoded, error)) << error;
    EXPECT_EQ(decoded.fileSize, index.fileSize);
    ASSERT_EQ(decoded.chunks.size(), 2u);
    EXPECT_EQ(decoded.chunks[0].length, base::kChunkMax);
    EXPECT_EQ(decoded.chunks[1].sha256[31], 0xEE);
    EXPECT_TRUE(base::decodeChunkIndex(base::encodeChunkIndex({}), decoded, error));
    EXPECT_TRUE(decoded.chunks.empty());

    auto damaged = [&](std::string b) {
        base::ChunkIndex out;
        std::string reason;
        const bool ok = base::decodeChunkIndex(b, out, reason);
        return !ok && reason == "chunk index is damaged";
    };
    auto patched = [&](size_t at, char value) {
        std::string b = bytes;
        b[at] = value;
        return b;
    };
    const size_t firstLength = base::kChunkIndexHeaderSize;
    EXPECT_TRUE(damaged(""));
    EXPECT_TRUE(damaged(bytes.substr(0, base::kChunkIndexHeaderSize - 1)));
    EXPECT_TRUE(damaged(patched(6, '2')));                       // magic
    EXPECT_TRUE(damaged(bytes.substr(0, bytes.size() - 1)));     // truncated record
    EXPECT_TRUE(damaged(bytes + std::string(36, '\0')));         // more records than counted
    EXPECT_TRUE(damaged(patched(16, 3)));                        // count
    EXPECT_TRUE(damaged(patched(8, 9)));                         // lengths do not add up
    EXPECT_TRUE(damaged(patched(firstLength + 2, 8)));           // chunk above the maximum
    std::string zero = bytes;  // a zero-length chunk, the file size adjusted to match
    zero.replace(firstLength + base::kChunkIndexRecordSize, 4, std::string(4, '\0'));
    zero[8] = 0;
    EXPECT_TRUE(damaged(zero));
}
