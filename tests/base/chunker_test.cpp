#include "base/chunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>

#include "base/chunk_groups.h"
#include "base/chunk_index.h"
#include "tests/support/chunk_vectors.h"

namespace {

std::vector<uint32_t> cuts(const std::vector<uint8_t>& bytes, const base::ChunkSizes& sizes = base::kLargeChunks) {
    return base::chunkLengths(bytes.data(), bytes.size(), sizes);
}

}  // namespace

// The same vectors are asserted natively by the publisher's tests.
TEST(Chunker, GoldenVectors) {
    EXPECT_EQ(cuts(testsupport::goldenBytes()),
              testsupport::kGoldenLengths);
    EXPECT_EQ(cuts(std::vector<uint8_t>(1 << 20)), std::vector<uint32_t>(4, base::kChunkMax));
    EXPECT_TRUE(cuts({}).empty());
    EXPECT_EQ(cuts({7}), std::vector<uint32_t>{1});
    const auto golden = testsupport::goldenBytes();
    EXPECT_EQ(cuts({golden.begin(), golden.begin() + (512 << 10)}, base::kSmallChunks),
              testsupport::kGoldenSmallLengths);
    EXPECT_EQ(cuts(std::vector<uint8_t>(1 << 20), base::kSmallChunks), std::vector<uint32_t>(16, 64 * 1024));
}

TEST(Chunker, SizesItCanCutWith) {
    EXPECT_TRUE(base::validChunkSizes(base::kLargeChunks));
    EXPECT_TRUE(base::validChunkSizes(base::kSmallChunks));
    EXPECT_TRUE(base::validChunkSizes({768, 1024, 1024}));
    EXPECT_FALSE(base::validChunkSizes({}));
    EXPECT_FALSE(base::validChunkSizes({4096, 24576, 65536}));      // average not a power of two
    EXPECT_FALSE(base::validChunkSizes({255, 1024, 4096}));         // minimum inside the window
    EXPECT_FALSE(base::validChunkSizes({769, 1024, 4096}));         // minimum past the normal point
    EXPECT_FALSE(base::validChunkSizes({4096, 16384, 16383}));      // maximum below the average
    EXPECT_FALSE(base::validChunkSizes({1 << 18, 1 << 21, 1 << 22}));  // average over 1 MiB
    EXPECT_FALSE(base::validChunkSizes({4096, 16384, (4 << 20) + 1}));
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
    EXPECT_TRUE(decoded.sizes == base::kLargeChunks);

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

// Sizes other than the first version's are named in an ORVCHK2 header; the records follow.
TEST(ChunkIndex, SecondVersionCarriesItsSizes) {
    base::ChunkIndex index;
    index.sizes = base::kSmallChunks;
    index.fileSize = 64 * 1024 + 5;
    index.chunks.resize(2);
    index.chunks[0].length = 64 * 1024;
    index.chunks[1].length = 5;
    index.chunks[1].sha256[0] = 0x42;
    const std::string bytes = base::encodeChunkIndex(index);
    ASSERT_EQ(bytes.size(), base::kChunkIndexHeaderSize2 + 2 * base::kChunkIndexRecordSize);
    EXPECT_EQ(bytes.substr(0, 8), std::string("ORVCHK2\0", 8));
    EXPECT_EQ(bytes.substr(16, 12), std::string("\x00\x10\0\0\x00\x40\0\0\x00\x00\x01\0", 12));

    base::ChunkIndex decoded;
    std::string error;
    ASSERT_TRUE(base::decodeChunkIndex(bytes, decoded, error)) << error;
    EXPECT_TRUE(decoded.sizes == base::kSmallChunks);
    ASSERT_EQ(decoded.chunks.size(), 2u);
    EXPECT_EQ(decoded.chunks[1].sha256[0], 0x42);
    EXPECT_EQ(base::encodeChunkIndex(decoded), bytes);

    const auto damaged = [&](std::string b) {
        return !base::decodeChunkIndex(b, decoded, error) && error == "chunk index is damaged";
    };
    const auto patched = [&](size_t at, unsigned char value, size_t at2 = 0, unsigned char value2 = 0) {
        std::string b = bytes;
        b[at] = static_cast<char>(value);
        if (at2) b[at2] = static_cast<char>(value2);
        return b;
    };
    EXPECT_TRUE(damaged(bytes.substr(0, base::kChunkIndexHeaderSize2 - 1)));
    EXPECT_TRUE(damaged(patched(21, 0x30)));           // an average of 12 KiB
    EXPECT_TRUE(damaged(patched(26, 0)));              // no maximum
    EXPECT_TRUE(damaged(patched(25, 0x80, 26, 0)));    // 32 KiB: the first chunk is longer
    EXPECT_TRUE(damaged(patched(6, '1')));             // read as ORVCHK1, the sizes are records
}

// Groups end at a chunk whose digest starts with ten zero bits, within the limits; the object
// must cover every chunk and byte, in order.
TEST(ChunkGroups, CutByDigestsWithinLimitsAndRejectDamage) {
    struct SumHasher {  // stands in for SHA-256: the grouping only needs a digest of the records
        uint8_t sum = 0;
        void update(const void* data, size_t size) {
            for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + static_cast<const uint8_t*>(data)[i]);
        }
        bool finish(uint8_t (&digest)[32]) {
            std::fill(std::begin(digest), std::end(digest), sum);
            return true;
        }
    };
    base::ChunkIndex index;
    index.chunks.resize(40);
    for (size_t i = 0; i < index.chunks.size(); ++i) {
        index.chunks[i].length = 1000 + static_cast<uint32_t>(i);
        index.chunks[i].sha256[0] = (i == 2 || i == 9) ? 0 : 1;  // 2 is below the minimum
        index.fileSize += index.chunks[i].length;
    }
    const std::string encoded = base::encodeChunkIndex(index);
    base::ChunkGroups groups;
    ASSERT_TRUE(base::groupChunks<SumHasher>(index, encoded, groups, {4, 16}));
    ASSERT_EQ(groups.groups.size(), 3u);
    EXPECT_EQ(groups.groups[0].chunkCount, 10u);
    EXPECT_EQ(groups.groups[1].chunkCount, 16u);
    EXPECT_EQ(groups.groups[2].firstChunk, 26u);
    EXPECT_EQ(groups.groups[2].offset + groups.groups[2].length, index.fileSize);

    const std::string bytes = base::encodeChunkGroups(groups);
    base::ChunkGroups decoded;
    std::string error;
    ASSERT_TRUE(base::decodeChunkGroups(bytes, decoded, error)) << error;
    EXPECT_EQ(base::encodeChunkGroups(decoded), bytes);
    const auto damaged = [&](std::string b) { return !base::decodeChunkGroups(b, decoded, error); };
    const size_t second = base::kChunkGroupsHeaderSize + base::kChunkGroupRecordSize;
    EXPECT_TRUE(damaged(bytes.substr(0, bytes.size() - 1)));
    std::string moved = bytes;
    moved[second + 8] ^= 1;  // the second group's offset no longer follows on
    EXPECT_TRUE(damaged(moved));
    std::string fewer = bytes;
    fewer[16] ^= 1;  // the chunk count
    EXPECT_TRUE(damaged(fewer));
}
