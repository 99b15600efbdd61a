#include "tests/support/archive_builder.h"

#include "base/hex.h"
#include "update/sha256.h"

namespace testsupport {
namespace {

template <typename T>
void put(std::string& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string sha256Raw(const std::string& data) {
    pcupd::Sha256 sha;
    sha.update(data.data(), data.size());
    uint8_t digest[pcupd::kSha256Size] = {};
    sha.finish(digest);
    return std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
}

std::string sha256Hex(const std::string& data) {
    pcupd::Sha256 sha;
    sha.update(data.data(), data.size());
    return sha.finish();
}

// The digest an entry's head carries.
static std::string storedDigest(const TestEntry& entry) {
    std::string digest = sha256Raw(entry.data);
    if (entry.corruptDigest) digest[0] = static_cast<char>(digest[0] ^ 0x01);
    return digest;
}

std::string TestArchive::build() const { return build(true); }
std::string TestArchive::heads() const { return build(false); }

std::string TestArchive::build(bool withData) const {
    uint64_t sum = 0;
    for (const TestEntry& entry : entries) sum += entry.data.size();
    std::string out = magic;
    out.push_back(static_cast<char>(eighthByte));
    put<uint32_t>(out, version);
    put<uint32_t>(out, static_cast<uint32_t>(count >= 0 ? count : static_cast<int64_t>(entries.size())));
    put<uint64_t>(out, total >= 0 ? static_cast<uint64_t>(total) : sum);
    for (const TestEntry& entry : entries) {
        put<uint16_t>(out, static_cast<uint16_t>(entry.pathLength >= 0 ? entry.pathLength
                                                                       : static_cast<int>(entry.path.size())));
        out += entry.path;
        put<uint64_t>(out, entry.data.size());
        out += storedDigest(entry);
        if (withData) out += entry.data;
    }
    return out;
}

pcupd::Manifest TestArchive::manifest() const {
    pcupd::Manifest manifest;
    for (const TestEntry& entry : entries) {
        const std::string digest = storedDigest(entry);
        pcupd::ManifestFile file;
        file.path = entry.path;
        file.sha256 = base::toHex(reinterpret_cast<const uint8_t*>(digest.data()), digest.size());
        file.size = static_cast<int64_t>(entry.data.size());
        manifest.files.push_back(file);
    }
    return manifest;
}

std::string noise(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

}  // namespace testsupport
