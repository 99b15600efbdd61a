#pragma once
// Shared by the publisher's tests: a temp folder, whole-file helpers, a sample client, an
// archive reader written apart from the publisher's own, and the command line in process.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvpaktest {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed with its contents at scope exit.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& utf8) const { return path_ / fs::u8path(utf8); }

private:
    fs::path path_;
};

std::string readBytes(const fs::path& path);
void writeBytes(const fs::path& path, const std::string& bytes);  // creates the folders

// Relative '/'-separated UTF-8 path -> content, in byte order of the path.
struct SampleFile {
    std::string path, content;
};
// Nested folders, an empty file, non-ASCII names and a name with a space; written to `dir`.
std::vector<SampleFile> writeSampleClient(const fs::path& dir);

struct RawEntry {
    std::string path;
    uint64_t size = 0;
    std::string digest;  // 32 raw bytes
    std::string data;
};
struct RawArchive {
    std::string magic;
    uint32_t version = 0, count = 0;
    uint64_t total = 0;
    std::vector<RawEntry> entries;
    bool complete = false;  // every byte accounted for, none left over
};
// Parses a whole archive held in memory, trusting nothing but the layout.
RawArchive parseRaw(const std::string& bytes);

// Builds archive bytes from (path, data) pairs with correct digests and total.
std::string buildArchive(const std::vector<std::pair<std::string, std::string>>& entries);

std::string sha256Hex(const std::string& data);
std::string sha256Raw(const std::string& data);

// Every regular file under `dir`, relative path -> bytes.
std::vector<std::pair<std::string, std::string>> snapshot(const fs::path& dir);

// Where publish stores the object with this SHA-256 (lowercase hex) under OUT_DIR `out`.
fs::path objectFile(const fs::path& out, const std::string& sha256);
// The full archive that OUT_DIR `out`'s manifest names.
fs::path publishedArchive(const fs::path& out);
// The name of every file under `out`/pc/objects, sorted.
std::vector<std::string> objectNames(const fs::path& out);

struct CliResult {
    int code = -1;
    std::string out, err;
};
CliResult runCli(const std::vector<std::string>& args);

}  // namespace orvpaktest
