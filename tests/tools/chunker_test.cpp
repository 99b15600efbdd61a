#include "base/chunker.h"

#include <gtest/gtest.h>

#include "tests/support/chunk_vectors.h"

// The publisher's cuts must be the program's: the same vectors as tests/base/chunker_test.cpp.
TEST(Chunker, GoldenVectorsHere) {
    const auto bytes = testsupport::goldenBytes();
    EXPECT_EQ(base::chunkLengths(bytes.data(), bytes.size()), testsupport::kGoldenLengths);
    EXPECT_EQ(base::chunkLengths(bytes.data(), 512 << 10, base::kSmallChunks), testsupport::kGoldenSmallLengths);
    const std::vector<uint8_t> zeros(1 << 20);
    EXPECT_EQ(base::chunkLengths(zeros.data(), zeros.size()),
              std::vector<uint32_t>(4, base::kChunkMax));
    EXPECT_TRUE(base::chunkLengths(nullptr, 0).empty());
    const uint8_t one = 7;
    EXPECT_EQ(base::chunkLengths(&one, 1), std::vector<uint32_t>{1});
}
