#include "tools/orvpak/publish.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <vector>

#include "tools/orvpak/archive_format.h"
#include "tools/orvpak/client_scan.h"
#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/file_io.h"
#include "tools/orvpak/manifest_writer.h"
#include "tools/orvpak/sha256_hasher.h"
#include "tools/orvpak/stale_copies.h"
#include "tools/orvpak/url_text.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

struct HashedFile {
    ClientFile file;
    uint64_t size = 0;
    Digest digest{};
};

// Streams `file` through `consume` in chunks and hashes it on the way.
template <typename Consume>
bool streamFile(const ClientFile& file, std::vector<unsigned char>& buffer, uint64_t& size,
                Digest& digest, std::string& error, Consume consume) {
    InputFile input;
    if (!input.open(file.source, error)) return false;
    Sha256Hasher hasher;
    if (!hasher.ready()) {
        error = "cannot start SHA-256";
        return false;
    }
    size = 0;
    for (;;) {
        const size_t read = input.read(buffer.data(), buffer.size());
        if (read > 0) {
            hasher.update(buffer.data(), read);
            size += read;
            if (!consume(buffer.data(), read)) return false;
        }
        if (read < buffer.size()) break;
    }
    if (input.failed()) {
        error = "cannot read " + quotedPath(file.path) + " in the client folder: " +
                std::strerror(errno);
        return false;
    }
    if (!hasher.finish(digest)) {
        error = "SHA-256 failed on " + quotedPath(file.path);
        return false;
    }
    return true;
}

// True when `inner` is `outer` or lies below it (both already canonical).
bool isWithin(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin();
    for (const fs::path& part : outer) {
        if (part.empty()) continue;  // what a trailing separator leaves
        if (i == inner.end() || *i != part) return false;
        ++i;
    }
    return true;
}

// The scan must not see the output, and the stale-copy clean-up must never reach a client file.
bool checkFoldersApart(const fs::path& clientDir, const fs::path& platformDir, std::string& error) {
    std::error_code failure;
    const fs::path client = fs::weakly_canonical(clientDir, failure);
    const fs::path platform = failure ? fs::path() : fs::weakly_canonical(platformDir, failure);
    if (failure) {
        error = "cannot resolve " + displayPath(clientDir) + " or " + displayPath(platformDir) +
                ": " + failure.message();
        return false;
    }
    if (!isWithin(client, platform) && !isWithin(platform, client)) return true;
    error = "the output folder " + displayPath(platformDir) + " and the client folder " +
            displayPath(clientDir) + " overlap: choose an output folder outside the client";
    return false;
}

// The archive file and the digest of everything written to it.
class ArchiveOutput {
public:
    bool open(const fs::path& path, std::string& error) {
        if (!hasher_.ready()) {
            error = "cannot start SHA-256";
            return false;
        }
        return file_.open(path, error);
    }
    bool write(const void* data, size_t size, std::string& error) {
        hasher_.update(data, size);
        bytes_ += size;
        return file_.write(data, size, error);
    }
    bool write(const std::string& bytes, std::string& error) {
        return write(bytes.data(), bytes.size(), error);
    }
    bool commit(PublishSummary& summary, std::string& error) {
        Digest digest{};
        if (!hasher_.finish(digest)) {
            error = "SHA-256 of the archive failed";
            return false;
        }
        summary.archiveBytes = bytes_;
        summary.archiveSha256 = toHex(digest);
        return file_.commit(error);
    }

private:
    AtomicOutputFile file_;
    Sha256Hasher hasher_;
    uint64_t bytes_ = 0;
};

// Second read of one file: into the archive and into its copy, checking it still is the
// file hashed before (the header and the entry already carry that size and digest).
bool writeEntry(const HashedFile& entry, const fs::path& filesDir, ArchiveOutput& archive,
                std::vector<unsigned char>& buffer, std::string& error) {
    if (!archive.write(encodeEntryHead(entry.file.path, entry.size, entry.digest), error))
        return false;
    if (!clearCopyPath(filesDir, entry.file.path, error)) return false;
    AtomicOutputFile copy;
    if (!copy.open(filesDir / fs::u8path(entry.file.path), error)) return false;
    uint64_t size = 0;
    Digest digest{};
    const bool streamed = streamFile(
        entry.file, buffer, size, digest, error, [&](const unsigned char* data, size_t length) {
            return archive.write(data, length, error) && copy.write(data, length, error);
        });
    if (!streamed) return false;
    if (size != entry.size || digest != entry.digest) {
        error = quotedPath(entry.file.path) +
                " changed while it was being published: publish again once nothing writes to "
                "the client folder";
        return false;
    }
    return copy.commit(error);
}

bool publishUnguarded(const PublishOptions& options, PublishSummary& summary,
                      std::string& error) {
    std::string baseUrl;
    if (!normalizeBaseUrl(options.baseUrl, baseUrl, error)) return false;
    if (!isValidUtf8(options.clientVersion)) {
        error = "the client version " + quotedPath(options.clientVersion) + " is not valid UTF-8";
        return false;
    }
    const fs::path platformDir = options.outDir / kPlatformFolder;
    const fs::path filesDir = platformDir / kFilesFolder;
    if (!checkFoldersApart(options.clientDir, platformDir, error)) return false;

    std::vector<ClientFile> scanned;
    if (!scanClient(options.clientDir, scanned, error)) return false;
    std::vector<unsigned char> buffer(kChunkSize);
    std::vector<HashedFile> files;
    files.reserve(scanned.size());
    ArchiveHeader header;
    for (ClientFile& file : scanned) {
        HashedFile hashed{std::move(file), 0, {}};
        if (!streamFile(hashed.file, buffer, hashed.size, hashed.digest, error,
                        [](const unsigned char*, size_t) { return true; }))
            return false;
        header.totalBytes += hashed.size;
        files.push_back(std::move(hashed));
    }
    header.entryCount = static_cast<uint32_t>(files.size());

    std::error_code failure;
    fs::create_directories(filesDir, failure);
    if (failure) {
        error = "cannot create " + displayPath(filesDir) + ": " + failure.message() +
                " (check that the output folder is writable)";
        return false;
    }
    ArchiveOutput archive;
    if (!archive.open(platformDir / kArchiveName, error) ||
        !archive.write(encodeHeader(header), error))
        return false;
    for (const HashedFile& file : files)
        if (!writeEntry(file, filesDir, archive, buffer, error)) return false;
    if (!archive.commit(summary, error)) return false;

    ManifestContent manifest;
    manifest.clientVersion = options.clientVersion;
    manifest.required = !options.optional;
    const std::string platformUrl = baseUrl + "/" + kPlatformFolder;
    manifest.archiveUrl = platformUrl + "/" + kArchiveName;
    manifest.archiveSha256 = summary.archiveSha256;
    manifest.archiveSize = summary.archiveBytes;
    std::vector<std::string> published;
    for (const HashedFile& file : files) {
        manifest.files.push_back({file.file.path, toHex(file.digest), file.size,
                                  platformUrl + "/" + kFilesFolder + "/" +
                                      percentEncodePath(file.file.path)});
        published.push_back(file.file.path);
    }
    const std::string text = renderManifest(manifest);
    AtomicOutputFile manifestFile;
    if (!manifestFile.open(platformDir / kManifestName, error) ||
        !manifestFile.write(text.data(), text.size(), error) || !manifestFile.commit(error))
        return false;
    summary.files = files.size();
    summary.dataBytes = header.totalBytes;
    summary.manifestUrl = platformUrl + "/" + kManifestName;

    // Only now: a client still holding the previous manifest may fetch these until here.
    if (!removeStaleCopies(filesDir, published, summary.staleRemoved, error)) {
        error = "the new manifest is in place, but " + error;
        return false;
    }
    return true;
}

}  // namespace

bool publish(const PublishOptions& options, PublishSummary& summary, std::string& error) {
    summary = PublishSummary();
    try {
        return publishUnguarded(options, summary, error);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& e) {
        error = e.what();
    }
    return false;
}

}  // namespace orvpak
