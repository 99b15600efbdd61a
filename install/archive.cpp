#include "install/archive.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/long_path.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "install/install_state.h"
#include "update/http.h"
#include "update/sha256.h"

namespace {

constexpr size_t kBufferSize = 1 << 20;
constexpr uint32_t kStatusEvery = 25;  // entries between status messages to the window

// Reads exact byte counts off the stream; a stream that ends first is "closed early".
class ExactReader {
public:
    explicit ExactReader(pcupd::HttpStream& stream) : stream_(stream) {}

    bool bytes(void* target, size_t size, std::string& error) {
        char* out = static_cast<char*>(target);
        while (size > 0) {
            const int32_t got = stream_.read(out, static_cast<int32_t>(std::min<size_t>(size, INT32_MAX)));
            if (got <= 0) {
                error = "connection closed early";
                return false;
            }
            out += got;
            size -= static_cast<size_t>(got);
        }
        return true;
    }

    template <typename T>
    bool number(T& value, std::string& error) {
        uint8_t raw[sizeof(T)];
        if (!bytes(raw, sizeof(raw), error)) return false;
        value = 0;
        for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | raw[i]);
        return true;
    }

private:
    pcupd::HttpStream& stream_;
};

struct AlignedFree {
    void operator()(char* p) const { ::operator delete[](p, std::align_val_t{32}); }
};

// Creates every missing folder above `path`, skipping a bare drive ("C:") and the \\?\ and
// UNC roots; failures are left to the file creation that follows to report.
void makeParentDirectories(const std::wstring& path) {
    const size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos) return;
    if (GetFileAttributesW(path.substr(0, last).c_str()) != INVALID_FILE_ATTRIBUTES) return;
    for (size_t end = path.find_first_of(L"\\/"); end != std::wstring::npos && end <= last;
         end = path.find_first_of(L"\\/", end + 1)) {
        const std::wstring prefix = path.substr(0, end);
        if (prefix.empty() || (prefix.size() == 2 && prefix[1] == L':')) continue;
        CreateDirectoryW(prefix.c_str(), nullptr);
    }
}

void addProgress(uint64_t delivered) {
    InstallState& state = installState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.bytesDone += delivered;
    // A header whose total undercounts the data must not push the bar past full.
    if (state.bytesTotal > 0)
        state.progress = std::min(1.0, static_cast<double>(state.bytesDone) /
                                           static_cast<double>(state.bytesTotal));
}

// Streams one entry's data into `target`, hashing it; fills `digest` when it is complete.
bool writeEntry(pcupd::HttpStream& stream, const std::wstring& target, const std::string& path,
                uint64_t size, char* buffer, uint8_t (&digest)[pcupd::kSha256Size],
                std::string& error) {
    base::UniqueFile file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = "cannot create " + path + " (disk full or permissions?)";
        return false;
    }
    pcupd::Sha256 sha;
    uint64_t remaining = size;
    while (remaining > 0) {
        // Fill the buffer as far as this entry goes before writing: fewer, larger writes.
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, kBufferSize));
        size_t filled = 0;
        while (filled < want) {
            const int32_t got = stream.read(buffer + filled, static_cast<int32_t>(want - filled));
            if (got <= 0) break;
            filled += static_cast<size_t>(got);
        }
        if (filled > 0) {
            DWORD written = 0;
            if (!WriteFile(file.get(), buffer, static_cast<DWORD>(filled), &written, nullptr) ||
                written != filled) {
                error = "disk write failed for " + path;
                return false;
            }
            sha.update(buffer, filled);
            remaining -= filled;
            addProgress(filled);
        }
        if (filled < want) {
            error = "connection closed while reading " + path;
            return false;
        }
    }
    if (!sha.finish(digest)) std::memset(digest, 0, sizeof(digest));  // cannot match
    return true;
}

}  // namespace

bool installFullArchive(const std::string& url, const std::wstring& installDir, std::string& error) {
    pcupd::HttpStream stream;
    if (!stream.open(url, error)) return false;
    ExactReader reader(stream);
    std::string failure;

    char magic[8];
    if (!reader.bytes(magic, sizeof(magic), error)) return false;
    if (std::memcmp(magic, kArchiveMagic, 7) != 0) {
        error = "archive header is not ORVPAK1";
        return false;
    }
    uint32_t version = 0, count = 0;
    uint64_t total = 0;
    if (!reader.number(version, error) || !reader.number(count, error) ||
        !reader.number(total, error))
        return false;
    if (version != kArchiveVersion) {
        error = "unsupported archive version";
        return false;
    }

    InstallState& state = installState();
    {
        std::lock_guard<std::mutex> hold(state.lock);
        state.bytesDone = 0;
        state.bytesTotal = static_cast<int64_t>(total);
        state.startTick = GetTickCount();
    }
    state.busy = false;

    std::unique_ptr<char[], AlignedFree> buffer(new (std::align_val_t{32}) char[kBufferSize]());
    const std::wstring root = base::fullPath(installDir);

    for (uint32_t i = 0; i < count; ++i) {
        uint16_t pathLength = 0;
        if (!reader.number(pathLength, error)) return false;
        if (pathLength == 0 || pathLength > kMaxArchivePath) {
            error = "bad path length";
            return false;
        }
        std::string path(pathLength, '\0');
        uint64_t size = 0;
        uint8_t expected[pcupd::kSha256Size];
        if (!reader.bytes(path.data(), path.size(), error) || !reader.number(size, error) ||
            !reader.bytes(expected, sizeof(expected), error))
            return false;

        // Every byte of the path comes from the network: nothing may land outside the folder
        // or on a device.
        if (!base::isSafeRelativePath(path)) {
            error = "unsafe path in archive: " + path;
            return false;
        }
        const std::wstring widePath = base::toWide(path);
        std::wstring relative = widePath;
        std::replace(relative.begin(), relative.end(), L'/', L'\\');
        const std::wstring target = base::extendedLengthPath(root + L"\\" + relative);
        makeParentDirectories(target);

        uint8_t actual[pcupd::kSha256Size];
        if (!writeEntry(stream, target, path, size, buffer.get(), actual, error)) return false;
        if (std::memcmp(actual, expected, sizeof(actual)) != 0) {
            error = "checksum mismatch for " + path;
            return false;
        }
        if (i % kStatusEvery == 0) {
            setStatus(L"Installing...", widePath);
            postToWindow(kMsgProgress);
        }
    }
    return true;
}
