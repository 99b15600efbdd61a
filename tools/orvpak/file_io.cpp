#include "tools/orvpak/file_io.h"

#include <chrono>

#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace orvpak {
namespace {

constexpr char kTempSuffix[] = ".orvpak-tmp";

std::FILE* openFile(const std::filesystem::path& path, bool forWriting) {
#ifdef _WIN32
    return _wfopen(path.c_str(), forWriting ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), forWriting ? "wb" : "rb");
#endif
}

std::string systemReason() { return std::strerror(errno); }

}  // namespace

std::string displayPath(const std::filesystem::path& path) { return path.generic_u8string(); }

std::string relativeUtf8(const std::filesystem::path& root, const std::filesystem::path& entry) {
    using Text = std::filesystem::path::string_type;
    Text text = entry.native().substr(root.native().size());
    const Text separators{std::filesystem::path::preferred_separator, '/'};
    text.erase(0, text.find_first_not_of(separators));
    return std::filesystem::path(text).generic_u8string();
}

bool InputFile::open(const std::filesystem::path& path, std::string& error) {
    file_.reset(openFile(path, false));
    if (file_) return true;
    error = "cannot open " + displayPath(path) + " for reading: " + systemReason();
    return false;
}

size_t InputFile::read(void* buffer, size_t size) {
    return file_ ? std::fread(buffer, 1, size, file_.get()) : 0;
}

bool InputFile::failed() const { return !file_ || std::ferror(file_.get()) != 0; }

bool InputFile::skip(uint64_t count) {
    if (!file_) return false;
#ifdef _WIN32
    return _fseeki64(file_.get(), static_cast<__int64>(count), SEEK_CUR) == 0;
#else
    return fseeko(file_.get(), static_cast<off_t>(count), SEEK_CUR) == 0;
#endif
}

bool readWholeFile(const std::filesystem::path& path, std::string& bytes, std::string& error) {
    InputFile input;
    if (!input.open(path, error)) return false;
    bytes.clear();
    char buffer[65536];
    for (size_t read; (read = input.read(buffer, sizeof(buffer))) > 0;) bytes.append(buffer, read);
    if (!input.failed()) return true;
    error = "cannot read " + displayPath(path) + ": " + std::strerror(errno);
    return false;
}

AtomicOutputFile::~AtomicOutputFile() { discard(); }

void AtomicOutputFile::discard() {
    if (!file_) return;
    file_.reset();
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
}

bool AtomicOutputFile::open(const std::filesystem::path& target, std::string& error) {
    discard();
    target_ = target;
    temp_ = target;
    temp_ += kTempSuffix;
    file_.reset(openFile(temp_, true));
    if (file_) return true;
    error = "cannot create " + displayPath(temp_) + ": " + systemReason() +
            " (check that the output folder is writable)";
    return false;
}

bool AtomicOutputFile::write(const void* data, size_t size, std::string& error) {
    if (size == 0) return true;
    if (file_ && std::fwrite(data, 1, size, file_.get()) == size) return true;
    error = "cannot write " + displayPath(temp_) + ": " + systemReason() +
            " (is the disk full?)";
    return false;
}

bool AtomicOutputFile::commit(std::string& error) { return commitAs(target_, error); }

bool AtomicOutputFile::commitAs(const std::filesystem::path& target, std::string& error) {
    if (!file_) {
        error = "cannot write " + displayPath(temp_) + ": it is not open";
        return false;
    }
    // The data must be on disk before the name points at it, or a crash could leave a
    // complete-looking name over missing bytes.
    bool written = std::fflush(file_.get()) == 0;
#ifdef _WIN32
    written = written && _commit(_fileno(file_.get())) == 0;
#else
    written = written && fsync(fileno(file_.get())) == 0;
#endif
    written = std::fclose(file_.release()) == 0 && written;
    if (!written) {
        error = "cannot write " + displayPath(temp_) + ": " + systemReason() +
                " (is the disk full?)";
        std::error_code ignored;
        std::filesystem::remove(temp_, ignored);
        return false;
    }
    if (laterThanReplaced_) {
        std::error_code ignored;
        const auto replaced = std::filesystem::last_write_time(target, ignored);
        const auto written = ignored ? replaced : std::filesystem::last_write_time(temp_, ignored);
        if (!ignored && written < replaced + std::chrono::seconds(1))
            std::filesystem::last_write_time(temp_, replaced + std::chrono::seconds(1), ignored);
    }
    std::error_code failure;
    std::filesystem::rename(temp_, target, failure);
    if (!failure) return true;
    error = "cannot move " + displayPath(temp_) + " to " + displayPath(target) + ": " +
            failure.message();
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
    return false;
}

}  // namespace orvpak
