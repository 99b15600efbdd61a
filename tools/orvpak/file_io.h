#pragma once
// Plain-file reading and writing for the publisher: 64-bit offsets on both platforms, wide
// names on Windows, and outputs that appear under their final name only when complete.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace orvpak {

// Files are streamed through one buffer of this size, whatever their length.
constexpr size_t kChunkSize = 1 << 20;

// The name of `path` for messages: UTF-8, '/' between folders.
std::string displayPath(const std::filesystem::path& path);

// The '/'-separated UTF-8 path of `entry` below `root`, for paths a directory iterator built
// as root / name / name...
std::string relativeUtf8(const std::filesystem::path& root, const std::filesystem::path& entry);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A file opened for reading from its start.
class InputFile {
public:
    // False, with a message naming the file, when it cannot be opened.
    bool open(const std::filesystem::path& path, std::string& error);
    // Up to `size` bytes; fewer only at the end of the file or on a read error.
    size_t read(void* buffer, size_t size);
    // True when the last short read was a read error rather than the end of the file.
    bool failed() const;
    // Moves forward `count` bytes without reading them.
    bool skip(uint64_t count);

private:
    FilePtr file_;
};

// All of a (small) file's bytes: a manifest, a release record, a key. False with a message
// naming the file when it cannot be opened or read.
bool readWholeFile(const std::filesystem::path& path, std::string& bytes, std::string& error);

// Writes `<target>.orvpak-tmp` and renames it over `target` on commit(), so a reader sees
// the old file or the complete new one. Dropped without commit(), it removes the temp file.
class AtomicOutputFile {
public:
    AtomicOutputFile() = default;
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
    ~AtomicOutputFile();

    bool open(const std::filesystem::path& target, std::string& error);
    bool write(const void* data, size_t size, std::string& error);
    // Flushes to disk, closes and renames into place.
    bool commit(std::string& error);
    // As commit(), under a name chosen only now: a content-named output learns its name
    // once its last byte is written.
    bool commitAs(const std::filesystem::path& target, std::string& error);
    // On commit, the new file's time is made a whole second later than the file it replaces
    // when it would not already be. Web servers name a file's version by its time, to the
    // second, and its size (nginx's ETag and Last-Modified): a manifest signature, always 64
    // bytes, published twice within one second would otherwise answer a player's "has it
    // changed?" with 304. Best effort: a time that cannot be set leaves the file as written.
    void laterThanReplaced() { laterThanReplaced_ = true; }

private:
    void discard();

    std::filesystem::path target_, temp_;
    FilePtr file_;
    bool laterThanReplaced_ = false;
};

}  // namespace orvpak
