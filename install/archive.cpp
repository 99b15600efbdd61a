#include "install/archive.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "base/archive_format.h"
#include "base/long_path.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "install/entry_writer.h"
#include "update/download_hosts.h"
#include "update/parallel_stream.h"
#include "update/sha256.h"
#include "update/verify_cache.h"

namespace installer {

namespace {

constexpr uint32_t kStatusEvery = 25;  // entries between reports of the entry at hand
// A block that fills slower than this goes to disk part-filled, so progress shows a few
// times a second even on a slow link. A fast link fills whole blocks well within it.
constexpr DWORD kHandOverMs = 250;
constexpr size_t kReadSlice = 64 * 1024;
// Bytes read past the last entry when the manifest gives no size to stop at: a real archive
// has none, so this only bounds what a misbehaving server can make us read.
constexpr uint64_t kMaxTrailingBytes = 1 << 20;

// What the manifest promises about the archive: the files it may hold, and its own size and
// digest where given. An archive may come from a mirror or over plain HTTP; it is trusted
// no further than the manifest.
struct Binding {
    std::unordered_map<std::string, const pcupd::ManifestFile*> files;  // by VerifyCache::key
    std::string sha256;  // empty: not given
    // The heads digest (base/archive_format.h), checked in place of `sha256` when given.
    std::string headsSha256;
    uint64_t size = 0;   // 0: not given
    // The digest the stream is checked against, and whether it covers entry data too.
    const std::string& digest() const { return headsSha256.empty() ? sha256 : headsSha256; }
    bool digestCoversData() const { return headsSha256.empty(); }
};

// Reads exact byte counts off the stream; a stream that ends first is "closed early". The
// stream resumes a dropped connection on its own, so a cut anywhere (in a header or inside an
// entry's data) costs the install nothing as long as the server can send the rest.
// With `streamHash`, the bytes read are hashed as they arrive: all of them for the whole
// stream's digest (the writer's thread hashes each entry's data again, on another core), or
// all but entries' data for the heads digest, whose data the writer's hash alone checks.
class ExactReader {
public:
    ExactReader(pcupd::ParallelStream& stream, pcupd::Sha256* streamHash, bool hashData)
        : stream_(stream), hash_(streamHash), dataHash_(hashData ? streamHash : nullptr) {}

    // What the stream has, up to `size` bytes; 0 or less at its end or on a failure.
    int32_t some(char* out, int32_t size) { return read(out, size, hash_); }
    // The same, for bytes of an entry's data.
    int32_t data(char* out, int32_t size) { return read(out, size, dataHash_); }

    bool bytes(void* target, size_t size, base::Failure& error) {
        char* out = static_cast<char*>(target);
        while (size > 0) {
            const int32_t got = some(out, static_cast<int32_t>(std::min<size_t>(size, INT32_MAX)));
            if (got <= 0) {
                error = stream_.readFailure("connection closed early");
                return false;
            }
            out += got;
            size -= static_cast<size_t>(got);
        }
        return true;
    }

    template <typename T>
    bool number(T& value, base::Failure& error) {
        unsigned char raw[sizeof(T)];
        if (!bytes(raw, sizeof(raw), error)) return false;
        value = static_cast<T>(base::readLittleEndian(raw, sizeof(T)));
        return true;
    }

private:
    int32_t read(char* out, int32_t size, pcupd::Sha256* hash) {
        const int32_t got = stream_.read(out, size);
        if (got > 0 && hash) hash->update(out, static_cast<size_t>(got));
        return got;
    }

    pcupd::ParallelStream& stream_;
    pcupd::Sha256* const hash_;
    pcupd::Sha256* const dataHash_;
};

// Moves one entry's data from the network into the writer's blocks. Bytes received before a
// failure still go to disk.
bool streamEntry(pcupd::ParallelStream& stream, ExactReader& reader, EntryWriter& writer,
                 const std::string& path, uint64_t size, base::Failure& error) {
    uint64_t remaining = size;
    do {
        size_t room = 0;
        char* out = writer.space(room);
        if (!out) return writer.drain(error);  // the writer failed: report its message
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, room));
        size_t filled = 0;
        bool ended = false;
        const DWORD began = GetTickCount();
        while (filled < want) {
            // Read in slices, so that the hand-over check below comes round often.
            const size_t slice = std::min<size_t>(want - filled, kReadSlice);
            const int32_t got = reader.data(out + filled, static_cast<int32_t>(slice));
            if (got <= 0) {
                ended = true;
                break;
            }
            filled += static_cast<size_t>(got);
            if (GetTickCount() - began >= kHandOverMs) break;  // slow link: let the bar move
        }
        remaining -= filled;
        writer.commit(filled, remaining == 0);
        if (ended) {
            if (writer.drain(error))
                error = stream.readFailure("connection closed while reading " + path);
            return false;
        }
        if (filled < want) writer.handOver();
    } while (remaining > 0);
    return true;
}

// Whether an entry is one the manifest lists, with the same digest and size. Checked before
// anything of the entry is created: a swapped archive must not plant a file (a DLL beside
// the client) that the verification, which covers only listed files, would never look at.
bool matchesManifest(const Binding& binding, const std::string& path, uint64_t size,
                     const unsigned char* digest, base::Failure& failure) {
    const auto found = binding.files.find(pcupd::VerifyCache::key(path));
    if (found == binding.files.end()) {
        failure = base::Failure(base::FailureKind::kMismatch, "archive entry not in manifest: " + path);
        return false;
    }
    const pcupd::ManifestFile& file = *found->second;
    if ((file.size != 0 && static_cast<uint64_t>(file.size) != size) ||
        file.sha256 != base::toHex(digest, base::kArchiveDigestSize)) {
        failure = base::Failure(base::FailureKind::kMismatch, "archive entry differs from manifest: " + path);
        return false;
    }
    return true;
}

// Reads `count` entries off the stream and hands them to the writer. Returns with the
// writer drained: every entry it took is on disk, or its first failure is in `error`.
bool streamEntries(pcupd::ParallelStream& stream, ExactReader& reader, EntryWriter& writer,
                   uint32_t count, const std::wstring& root, const Binding& binding,
                   ProgressSink& progress, base::Failure& error) {
    // The writer lags behind the stream, so a failure it still has to report comes earlier
    // in the archive than anything found here, and is the one reported.
    const auto fail = [&writer, &error](const base::Failure& failure) {
        if (writer.drain(error)) error = failure;
        return false;
    };

    for (uint32_t i = 0; i < count; ++i) {
        base::Failure failure;
        uint16_t pathLength = 0;
        if (!reader.number(pathLength, failure)) return fail(failure);
        if (pathLength == 0 || pathLength > base::kMaxArchivePath) return fail(base::Failure(base::FailureKind::kBadInput, "bad path length"));
        std::string path(pathLength, '\0');
        unsigned char fixed[base::kEntryFixedSize];
        if (!reader.bytes(path.data(), path.size(), failure) ||
            !reader.bytes(fixed, sizeof(fixed), failure))
            return fail(failure);
        const uint64_t size = base::entryDataSize(fixed);
        uint8_t expected[pcupd::kSha256Size];
        std::copy_n(base::entryDigest(fixed), sizeof(expected), expected);

        // Every byte of the path comes from the network: nothing may land outside the folder
        // or on a device.
        if (!base::isSafeRelativePath(path)) return fail(base::Failure(base::FailureKind::kBadInput, "unsafe path in archive: " + path));
        if (!matchesManifest(binding, path, size, expected, failure)) return fail(failure);
        // The entry being received is named every few small ones, and for every large one,
        // which takes long enough that an older name would be plainly wrong.
        if (i % kStatusEvery == 0 || size >= EntryWriter::kBlockSize)
            progress.phase(Phase::kInstalling, base::toWide(path));
        writer.beginEntry(base::joinUnder(root, path), path, size, expected);
        if (!streamEntry(stream, reader, writer, path, size, error)) return false;
    }
    return writer.drain(error);
}

// The manifest's size and digest cover the whole stream, bytes after the last entry
// included, so they are checked once the stream has ended. `streamHash` holds the digest of
// what `reader` has hashed so far (everything, or all but entries' data).
bool matchesWholeArchive(pcupd::ParallelStream& stream, ExactReader& reader, pcupd::Sha256* streamHash,
                         const Binding& binding, base::Failure& error) {
    if (!streamHash && binding.size == 0) return true;
    const auto received = [&stream] { return static_cast<uint64_t>(stream.received()); };
    const uint64_t limit = binding.size > 0 ? binding.size : received() + kMaxTrailingBytes;
    char rest[16384];
    for (int32_t got = 1; got > 0 && received() <= limit;) {
        got = reader.some(rest, sizeof(rest));
    }
    if (stream.stalled()) {
        error = stream.readFailure(std::string());
        return false;
    }
    if (binding.size > 0 && received() != binding.size) {
        error = base::Failure(base::FailureKind::kMismatch, "archive size mismatch");
        return false;
    }
    if (streamHash && streamHash->finish() != binding.digest()) {
        error = base::Failure(base::FailureKind::kMismatch, "archive digest mismatch");
        return false;
    }
    return true;
}

bool installArchive(const std::string& url, const std::wstring& installDir, const Binding& binding,
                    const WriterOptions& writerOptions, const pcupd::TransferOptions& transfer,
                    ProgressSink& progress, base::Failure& error) {
    pcupd::ParallelStream stream(transfer);
    if (!stream.open(url, error)) return false;
    // The stream's digest, when the manifest gives one.
    std::optional<pcupd::Sha256> streamHash;
    if (!binding.digest().empty()) streamHash.emplace();
    pcupd::Sha256* const hash = streamHash ? &*streamHash : nullptr;
    ExactReader reader(stream, hash, binding.digestCoversData());

    unsigned char header[base::kArchiveHeaderSize];
    if (!reader.bytes(header, 8, error)) return false;
    if (!base::hasArchiveMagic(header)) {
        error = base::Failure(base::FailureKind::kBadInput, "archive header is not ORVPAK1");
        return false;
    }
    if (!reader.bytes(header + 8, sizeof(header) - 8, error)) return false;
    const base::ArchiveHeader fields = base::decodeArchiveHeader(header);
    if (fields.version != base::kArchiveVersion) {
        error = base::Failure(base::FailureKind::kBadInput, "unsupported archive version");
        return false;
    }
    const uint32_t count = fields.entryCount;
    const uint64_t total = fields.totalBytes;

    // From here the bar counts the bytes written of the total the header declares.
    progress.bytes(0, static_cast<int64_t>(total));

    const std::wstring root = base::fullPath(installDir);
    EntryWriter writer(progress, static_cast<int64_t>(total), writerOptions);
    const bool ok = streamEntries(stream, reader, writer, count, root, binding, progress, error) &&
                    matchesWholeArchive(stream, reader, hash, binding, error);

    // Each entry was hashed as it was written: record it, so that the verification that
    // follows an install reads nothing back (the manifest's digests still decide there).
    // After a failure the entries that did arrive are recorded too.
    if (!writer.verified().empty()) {
        pcupd::VerifyCache cache;
        cache.load(root);
        // A fresh folder has no cache yet: the writer's records become it, not a copy of them.
        cache.merge(std::move(writer.verified()));
        cache.save(root, ok);
    }
    return ok;
}

}  // namespace

bool installFullArchive(const pcupd::FullArchive& archive, const pcupd::Manifest& manifest,
                        const std::wstring& installDir, ProgressSink& progress, base::Failure& error,
                        const pcupd::TransferOptions& transfer, const WriterOptions& writer) {
    Binding binding;
    for (const pcupd::ManifestFile& file : manifest.files)
        binding.files.emplace(pcupd::VerifyCache::key(file.path), &file);
    binding.sha256 = archive.sha256;
    binding.headsSha256 = archive.headsSha256;
    binding.size = archive.size > 0 ? static_cast<uint64_t>(archive.size) : 0;
    pcupd::TransferOptions from = transfer;
    if (!from.hosts) from.hosts = pcupd::DownloadHosts::of(manifest);
    return installArchive(archive.url, installDir, binding, writer, from, progress, error);
}

}  // namespace installer
