#include "tools/orvpak/archive_reader.h"

#include <gtest/gtest.h>

#include "tests/tools/orvpak_fixture.h"

using namespace orvpaktest;

namespace {

struct Outcome {
    bool listed, verified;
    std::string listError, verifyError;
};

Outcome readBoth(const std::string& bytes) {
    TempFolder temp;
    writeBytes(temp / "x.orvpak", bytes);
    Outcome outcome;
    std::vector<orvpak::ArchiveEntry> entries;
    orvpak::ArchiveSummary summary;
    outcome.listed = orvpak::listArchive(temp / "x.orvpak", entries, summary, outcome.listError);
    outcome.verified = orvpak::verifyArchive(temp / "x.orvpak", summary, outcome.verifyError);
    return outcome;
}

// Both readers refuse `bytes` with a message holding `says`.
void expectFault(const std::string& bytes, const std::string& says) {
    const Outcome outcome = readBoth(bytes);
    EXPECT_FALSE(outcome.listed);
    EXPECT_FALSE(outcome.verified);
    EXPECT_NE(outcome.listError.find(says), std::string::npos) << outcome.listError;
    EXPECT_NE(outcome.verifyError.find(says), std::string::npos) << outcome.verifyError;
}

const std::vector<std::pair<std::string, std::string>> kEntries = {
    {"a.txt", "first entry"}, {"dir/b.bin", std::string("\0\1\2 second", 10)}};

void patch(std::string& bytes, size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

TEST(Verify, AcceptsAWellFormedArchiveAndIgnoresTheSpareHeaderByte) {
    std::string bytes = buildArchive(kEntries);
    bytes[7] = '\x5A';
    const Outcome outcome = readBoth(bytes);
    EXPECT_TRUE(outcome.listed) << outcome.listError;
    EXPECT_TRUE(outcome.verified) << outcome.verifyError;
    EXPECT_TRUE(readBoth(buildArchive({})).verified);
}

TEST(Verify, CatchesAFlippedDataByteThatListDoesNotRead) {
    std::string bytes = buildArchive(kEntries);
    bytes[bytes.size() - 3] ^= 0x01;  // inside the data of entry 2
    const Outcome outcome = readBoth(bytes);
    EXPECT_TRUE(outcome.listed) << outcome.listError;
    EXPECT_FALSE(outcome.verified);
    EXPECT_NE(outcome.verifyError.find("entry 2 \"dir/b.bin\": SHA-256 mismatch"),
              std::string::npos)
        << outcome.verifyError;
}

TEST(Verify, CatchesTruncationAtEveryByte) {
    const std::string bytes = buildArchive(kEntries);
    for (size_t length = 0; length < bytes.size(); ++length) {
        SCOPED_TRACE(length);
        expectFault(bytes.substr(0, length), "truncated");
    }
}

TEST(Verify, CatchesHeaderTotalAndTrailingBytes) {
    std::string bytes = buildArchive(kEntries);
    patch(bytes, 16, 22, 8);
    expectFault(bytes, "the header's total is 22 bytes but the entries hold 21");
    expectFault(buildArchive(kEntries) + "x", "1 trailing bytes after the last entry");
    // A count one short leaves the last entry as trailing bytes.
    bytes = buildArchive(kEntries);
    patch(bytes, 12, 1, 4);
    expectFault(bytes, "trailing bytes");
}

TEST(Verify, CatchesBadMagicVersionAndPathLength) {
    std::string bytes = buildArchive(kEntries);
    bytes[6] = '2';
    expectFault(bytes, "bad magic");
    bytes = buildArchive(kEntries);
    patch(bytes, 8, 2, 4);
    expectFault(bytes, "unsupported version 2");
    for (const uint64_t length : {0, 1025, 65535}) {
        bytes = buildArchive(kEntries);
        patch(bytes, 24, length, 2);
        expectFault(bytes, "entry 1: bad path length " + std::to_string(length));
    }
}

TEST(Verify, CatchesUnsafeAndRepeatedPaths) {
    for (const char* path : {"../escape", "C:/x", "/abs", "a\\b", "CON", "dir/nul.txt",
                             "trailing.", "a//b", "bad\xFF"}) {
        SCOPED_TRACE(path);
        expectFault(buildArchive({{"ok", "1"}, {path, "2"}}), "entry 2");
        expectFault(buildArchive({{"ok", "1"}, {path, "2"}}), "unsafe path");
    }
    expectFault(buildArchive({{"Data/A.pak", "1"}, {"data/a.PAK", "2"}}),
                "entry 2 \"data/a.PAK\" repeats entry 1 \"Data/A.pak\"");
}

TEST(Verify, TakesPathsOfExactly1024Bytes) {
    std::string path;
    while (path.size() < 1000) path += std::string(99, 'p') + "/";
    path += std::string(1024 - path.size(), 'f');
    ASSERT_EQ(path.size(), 1024u);
    const Outcome outcome = readBoth(buildArchive({{path, "long"}}));
    EXPECT_TRUE(outcome.verified) << outcome.verifyError;
}
