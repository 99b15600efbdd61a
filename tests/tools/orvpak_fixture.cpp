#include "tests/tools/orvpak_fixture.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <rapidjson/document.h>

#include "tools/orvpak/cli.h"
#include "tools/orvpak/sha256_hasher.h"

namespace orvpaktest {

TempFolder::TempFolder() {
    static unsigned counter = 0;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() /
                                   ("orvpak-test-" + std::to_string(random()) + "-" +
                                    std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temp folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<SampleFile> writeSampleClient(const fs::path& dir) {
    std::string large(3 * 1024 * 1024 + 17, '\0');  // spans several read chunks
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919) >> 3);
    std::vector<SampleFile> files = {
        {"Engine.exe", "MZ engine"},
        {"abc", "abc"},
        {"data/empty.bin", ""},
        {"data/maps/a.pak", large},
        {"data/maps/b.pak", "second map"},
        {"sound/my track.ogg", "space in the name"},
        {"\xC3\xBC" "ber/\xE6\x97\xA5\xE6\x9C\xAC.txt", "non-ASCII names"},
    };
    for (const SampleFile& file : files) writeBytes(dir / fs::u8path(file.path), file.content);
    std::sort(files.begin(), files.end(),
              [](const SampleFile& a, const SampleFile& b) { return a.path < b.path; });
    return files;
}

namespace {

uint64_t littleEndian(const std::string& bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

std::string toLittleEndian(uint64_t value, size_t width) {
    std::string bytes;
    for (size_t i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

}  // namespace

RawArchive parseRaw(const std::string& bytes) {
    RawArchive archive;
    if (bytes.size() < 24) return archive;
    archive.magic = bytes.substr(0, 7);
    archive.version = static_cast<uint32_t>(littleEndian(bytes, 8, 4));
    archive.count = static_cast<uint32_t>(littleEndian(bytes, 12, 4));
    archive.total = littleEndian(bytes, 16, 8);
    size_t at = 24;
    for (uint32_t i = 0; i < archive.count; ++i) {
        if (bytes.size() - at < 2) return archive;
        const size_t length = static_cast<size_t>(littleEndian(bytes, at, 2));
        if (bytes.size() - at - 2 < length + 40) return archive;
        RawEntry entry;
        entry.path = bytes.substr(at + 2, length);
        entry.size = littleEndian(bytes, at + 2 + length, 8);
        entry.digest = bytes.substr(at + 10 + length, 32);
        at += 42 + length;
        if (bytes.size() - at < entry.size) return archive;
        entry.data = bytes.substr(at, static_cast<size_t>(entry.size));
        at += static_cast<size_t>(entry.size);
        archive.entries.push_back(entry);
    }
    archive.complete = at == bytes.size();
    return archive;
}

std::string buildArchive(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string body;
    uint64_t total = 0;
    for (const auto& entry : entries) {
        body += toLittleEndian(entry.first.size(), 2) + entry.first +
                toLittleEndian(entry.second.size(), 8) + sha256Raw(entry.second) + entry.second;
        total += entry.second.size();
    }
    return std::string("ORVPAK1", 7) + '\0' + toLittleEndian(1, 4) +
           toLittleEndian(entries.size(), 4) + toLittleEndian(total, 8) + body;
}

std::string sha256Raw(const std::string& data) {
    orvpak::Sha256Hasher hasher;
    hasher.update(data.data(), data.size());
    orvpak::Digest digest{};
    if (!hasher.finish(digest)) throw std::runtime_error("SHA-256 failed");
    return std::string(digest.begin(), digest.end());
}

std::string sha256Hex(const std::string& data) {
    const std::string raw = sha256Raw(data);
    orvpak::Digest digest{};
    std::copy(raw.begin(), raw.end(), digest.begin());
    return orvpak::toHex(digest);
}

std::vector<std::pair<std::string, std::string>> snapshot(const fs::path& dir) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files.emplace_back(entry.path().lexically_relative(dir).generic_u8string(),
                               readBytes(entry.path()));
    std::sort(files.begin(), files.end());
    return files;
}

fs::path objectFile(const fs::path& out, const std::string& sha256) {
    return out / "pc" / "objects" / sha256.substr(0, 2) / sha256;
}

fs::path publishedArchive(const fs::path& out) {
    rapidjson::Document manifest;
    manifest.Parse(readBytes(out / "pc" / "manifest.json").c_str());
    if (manifest.HasParseError() || !manifest.IsObject() || !manifest.HasMember("fullArchive"))
        throw std::runtime_error("no manifest under " + out.u8string());
    return objectFile(out, manifest["fullArchive"]["sha256"].GetString());
}

std::vector<std::string> objectNames(const fs::path& out) {
    std::vector<std::string> names;
    if (!fs::exists(out / "pc" / "objects")) return names;
    for (const auto& entry : fs::recursive_directory_iterator(out / "pc" / "objects"))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

CliResult runCli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    CliResult result;
    result.code = orvpak::runCli(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

}  // namespace orvpaktest
