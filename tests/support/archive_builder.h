#pragma once
// Builds ORVPAK1 archives in memory for tests, including broken ones.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct TestEntry {
    std::string path;
    std::string data;
    bool corruptDigest = false;  // store a digest that does not match the data
    int pathLength = -1;         // declared path length instead of path.size()
};

struct TestArchive {
    std::vector<TestEntry> entries;
    std::string magic = "ORVPAK1";
    uint8_t eighthByte = 0;
    uint32_t version = 1;
    int64_t count = -1;  // declared entry count instead of entries.size()
    int64_t total = -1;  // declared total instead of the sum of the data sizes

    std::string build() const;
};

std::string sha256Raw(const std::string& data);
std::string sha256Hex(const std::string& data);

// Deterministic bytes that neither compress nor repeat (a linear congruential sequence), so
// a misplaced block shows.
std::string noise(size_t size, uint32_t seed);

}  // namespace testsupport
