#include "base/manifest_patch.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/tools/orvpak_fixture.h"

using namespace orvpaktest;

namespace {

base::ManifestPatchHeader headerFor(const std::string& from, const std::string& to) {
    return {sha256Hex(from), sha256Hex(to), from.size(), to.size()};
}

// Applies `patch` to `from` and checks the result's digest as the program does; the result,
// or "(refused)".
std::string applied(const std::string& from, const std::string& patch) {
    std::string to;
    base::ManifestPatchHeader header;
    if (!base::applyManifestPatch(from, sha256Hex(from), patch, to, header)) return "(refused)";
    return sha256Hex(to) == header.newSha256 ? to : "(wrong digest)";
}

std::string roundTrip(const std::string& from, const std::string& to) {
    std::string patch;
    if (!base::makeManifestPatch(from, to, headerFor(from, to), patch, 100000)) return "(no patch)";
    return applied(from, patch);
}

std::string lines(const std::vector<int>& numbers) {
    std::string text;
    for (const int n : numbers) text += "  \"line\": " + std::to_string(n) + ",\n";
    return text;
}

}  // namespace

TEST(ManifestPatch, RoundTripsByteExactly) {
    const std::string base = lines({1, 2, 3, 4, 5, 6, 7, 8});
    const std::pair<std::string, std::string> cases[] = {
        {"", base},
        {base, ""},
        {base, lines({1, 2, 9, 4, 5, 7, 8, 10})},
        {base + "no newline", base + "no newline either"},  // last line without '\n', both sides
        {base + "tail", base},
        {base, base + "tail"},
        {"x\n", "x"},
        {"x", "x\n"},
        {"\n\n\n", "\n\n"},
        {"a\r\nb\r\n", "a\r\nc\r\n"},
        {lines({1, 1, 1, 2, 1, 1}), lines({1, 2, 1, 1, 1, 1, 2})},  // repeated lines
    };
    for (const auto& [from, to] : cases) {
        EXPECT_EQ(roundTrip(from, to), to) << "from:\n" << from << "\nto:\n" << to;
    }
    // Random edits of a document with many repeated lines, as a manifest has.
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<int> a(random() % 60), b;
        for (int& n : a) n = static_cast<int>(random() % 8);
        for (const int n : a) {
            const unsigned edit = random() % 10;
            if (edit == 0) continue;                              // dropped
            if (edit == 1) b.push_back(static_cast<int>(random() % 8));  // added before
            b.push_back(edit == 2 ? 100 + n : n);                 // changed or kept
        }
        const std::string tail = round % 3 == 0 ? "last" : "";
        ASSERT_EQ(roundTrip(lines(a) + tail, lines(b)), lines(b)) << round;
        ASSERT_EQ(roundTrip(lines(b), lines(a) + tail), lines(a) + tail) << round;
    }
}

TEST(ManifestPatch, OnlyWhatChangedTravelsAndALargeChangeGetsNoPatch) {
    std::vector<int> numbers(2000);
    for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<int>(i);
    const std::string from = lines(numbers);
    numbers[1000] = -1;
    numbers.push_back(5000);
    const std::string to = lines(numbers);
    std::string patch;
    ASSERT_TRUE(base::makeManifestPatch(from, to, headerFor(from, to), patch));
    const std::string header = std::string(base::kManifestPatchMagic) + " " + sha256Hex(from) + " " +
                               std::to_string(from.size()) + " " + sha256Hex(to) + " " +
                               std::to_string(to.size()) + "\n";
    EXPECT_EQ(patch, header + "copy 1000\nskip 1\nadd 1\n  \"line\": -1,\ncopy 999\nadd 1\n"
                              "  \"line\": 5000,\n");
    // Past the bound on skipped and added lines: none.
    EXPECT_TRUE(base::makeManifestPatch(from, to, headerFor(from, to), patch, 3));
    EXPECT_FALSE(base::makeManifestPatch(from, to, headerFor(from, to), patch, 2));
    EXPECT_TRUE(patch.empty());
}

TEST(ManifestPatch, DamagedOrMismatchedPatchesAreRefused) {
    const std::string from = lines({1, 2, 3, 4, 5}) + "end", to = lines({1, 9, 3, 5}) + "end!";
    std::string patch;
    ASSERT_TRUE(base::makeManifestPatch(from, to, headerFor(from, to), patch, 100));
    ASSERT_EQ(applied(from, patch), to);
    // Cut anywhere, it is refused or gives bytes of another digest, never a wrong "success".
    for (size_t cut = 0; cut < patch.size(); ++cut)
        EXPECT_NE(applied(from, patch.substr(0, cut)), to) << cut;
    EXPECT_EQ(applied(from, patch + "copy 1\n"), "(refused)");
    EXPECT_EQ(applied(from + "x", patch), "(refused)");       // another size
    EXPECT_EQ(applied(lines({1, 2, 3, 4, 6}) + "end", patch), "(refused)");  // another digest
    const std::pair<std::string, std::string> edits[] = {
        {"copy 1\n", "copy 9\n"},  {"copy 1\n", "copy 01\n"}, {"copy 1\n", "copy 0\n"},
        {"skip 1\n", "drop 1\n"},  {"copy 1\n", "copy -1\n"}, {"copy 1\n", "copy 1"},
    };
    for (const auto& [good, bad] : edits) {
        std::string damaged = patch;
        damaged.replace(damaged.find(good), good.size(), bad);
        EXPECT_EQ(applied(from, damaged), "(refused)") << bad;
    }
    std::string wrongResult = patch;
    wrongResult[wrongResult.rfind("9")] = '8';  // an added line: the size holds, the digest not
    EXPECT_EQ(applied(from, wrongResult), "(wrong digest)");
}
