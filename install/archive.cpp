#include "install/archive.h"

#include <algorithm>
#include <cstring>

#include "base/long_path.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "install/entry_writer.h"
#include "install/install_state.h"
#include "update/http.h"
#include "update/sha256.h"
#include "update/verify_cache.h"

namespace {

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

// Moves one entry's data from the network into the writer's blocks. Bytes received before a
// failure still go to disk.
bool streamEntry(pcupd::HttpStream& stream, EntryWriter& writer, const std::string& path,
                 uint64_t size, std::string& error) {
    uint64_t remaining = size;
    do {
        size_t room = 0;
        char* out = writer.space(room);
        if (!out) return writer.drain(error);  // the writer failed: report its message
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, room));
        size_t filled = 0;
        while (filled < want) {
            const int32_t got = stream.read(out + filled, static_cast<int32_t>(want - filled));
            if (got <= 0) break;
            filled += static_cast<size_t>(got);
        }
        remaining -= filled;
        writer.commit(filled, filled == want && remaining == 0);
        if (filled < want) {
            if (writer.drain(error)) error = "connection closed while reading " + path;
            return false;
        }
    } while (remaining > 0);
    return true;
}

// Reads `count` entries off the stream and hands them to the writer. Returns with the
// writer drained: every entry it took is on disk, or its first failure is in `error`.
bool streamEntries(pcupd::HttpStream& stream, ExactReader& reader, EntryWriter& writer,
                   uint32_t count, const std::wstring& root, std::string& error) {
    // The writer lags behind the stream, so a failure it still has to report comes earlier
    // in the archive than anything found here, and is the one reported.
    const auto fail = [&writer, &error](const std::string& message) {
        if (writer.drain(error)) error = message;
        return false;
    };

    for (uint32_t i = 0; i < count; ++i) {
        std::string failure;
        uint16_t pathLength = 0;
        if (!reader.number(pathLength, failure)) return fail(failure);
        if (pathLength == 0 || pathLength > kMaxArchivePath) return fail("bad path length");
        std::string path(pathLength, '\0');
        uint64_t size = 0;
        uint8_t expected[pcupd::kSha256Size];
        if (!reader.bytes(path.data(), path.size(), failure) || !reader.number(size, failure) ||
            !reader.bytes(expected, sizeof(expected), failure))
            return fail(failure);

        // Every byte of the path comes from the network: nothing may land outside the folder
        // or on a device.
        if (!base::isSafeRelativePath(path)) return fail("unsafe path in archive: " + path);
        writer.beginEntry(base::joinUnder(root, path), path, expected);
        if (!streamEntry(stream, writer, path, size, error)) return false;

        // The window names the entry just received; the writer checks its digest behind it.
        if (i % kStatusEvery == 0) {
            setStatus(L"Installing...", base::toWide(path));
            postToWindow(kMsgProgress);
        }
    }
    return writer.drain(error);
}

}  // namespace

bool installFullArchive(const std::string& url, const std::wstring& installDir, std::string& error) {
    pcupd::HttpStream stream;
    if (!stream.open(url, error)) return false;
    ExactReader reader(stream);

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

    const std::wstring root = base::fullPath(installDir);
    EntryWriter writer;
    const bool ok = streamEntries(stream, reader, writer, count, root, error);

    // Each entry was hashed as it was written: record it, so that the verification that
    // follows an install reads nothing back (the manifest's digests still decide there).
    // After a failure the entries that did arrive are recorded too.
    if (!writer.verified().empty()) {
        pcupd::VerifyCache cache;
        cache.load(root);
        for (const EntryWriter::Verified& entry : writer.verified())
            cache.record(entry.path, entry.stamp, entry.sha256);
        cache.save(root, ok);
    }
    return ok;
}
