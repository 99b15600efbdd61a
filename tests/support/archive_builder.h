#pragma once
// Builds ORVPAK1 archives in memory for tests, including broken ones.

#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest.h"

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
    // The archive with every entry's data left out, which its heads digest covers.
    std::string heads() const;
    // What a manifest promises of these entries: each one's path, size and digest as the
    // archive stores them (a corrupted digest too: only the data can show it wrong). The
    // archive's own size and digest are the caller's to give, or to leave out.
    pcupd::Manifest manifest() const;

private:
    std::string build(bool withData) const;
};

std::string sha256Raw(const std::string& data);
std::string sha256Hex(const std::string& data);

// Deterministic bytes that neither compress nor repeat (a linear congruential sequence), so
// a misplaced block shows.
std::string noise(size_t size, uint32_t seed);

}  // namespace testsupport
