#include "tools/orvpak/publish.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <set>
#include <system_error>
#include <vector>

#include "base/archive_format.h"
#include "base/chunk_groups.h"
#include "base/utc_time.h"
#include "tools/orvpak/chunk_index_builder.h"
#include "tools/orvpak/client_scan.h"
#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/file_io.h"
#include "tools/orvpak/manifest_signer.h"
#include "tools/orvpak/release_history.h"
#include "tools/orvpak/sha256_hasher.h"
#include "tools/orvpak/signed_manifest.h"
#include "tools/orvpak/url_text.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

struct HashedFile {
    ClientFile file;
    uint64_t size = 0;
    Digest digest{};
    std::string sha256;  // the digest in hex, which names the file's object
    std::string chunkIndex, chunksSha256;  // its chunk index object, for large files only
    std::string groups, groupsSha256;      // the index's groups object, for very large ones
};

// A file's first read fills the buffer only when the file is at least the buffer's size, so
// that is when indexing starts: no file above the threshold can be missed.
static_assert(kChunkSize <= kChunkIndexThreshold, "the first read must tell a large file");

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

// The scan must not see the output, and pruning must never reach a client file.
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

bool createFolder(const fs::path& folder, std::string& error) {
    std::error_code failure;
    fs::create_directories(folder, failure);
    if (!failure) return true;
    error = "cannot create " + displayPath(folder) + ": " + failure.message() +
            " (check that the output folder is writable)";
    return false;
}

// The archive, written under a temporary name until its digest gives it its object name.
class ArchiveOutput {
public:
    bool open(const fs::path& objectsDir, std::string& error) {
        if (!hasher_.ready()) {
            error = "cannot start SHA-256";
            return false;
        }
        return file_.open(objectsDir / "archive", error);
    }
    bool write(const void* data, size_t size, std::string& error) {
        hasher_.update(data, size);
        bytes_ += size;
        return file_.write(data, size, error);
    }
    bool write(const std::string& bytes, std::string& error) {
        return write(bytes.data(), bytes.size(), error);
    }
    bool finish(std::string& sha256, uint64_t& bytes, std::string& error) {
        Digest digest{};
        if (!hasher_.finish(digest)) {
            error = "SHA-256 of the archive failed";
            return false;
        }
        sha256 = toHex(digest);
        bytes = bytes_;
        return true;
    }
    // Without a call, the temporary file goes when this does.
    bool place(const fs::path& target, std::string& error) { return file_.commitAs(target, error); }

private:
    AtomicOutputFile file_;
    Sha256Hasher hasher_;
    uint64_t bytes_ = 0;
};

// Everything of the file's archive entry that precedes its data.
std::string entryHead(const HashedFile& entry) {
    return base::encodeEntryHead(entry.file.path, entry.size, entry.digest.data());
}

// The archive's heads digest (base/archive_format.h): its header and every entry's head,
// which the file list alone decides, so a release that reuses an earlier archive gets the
// same one.
std::string headsDigest(const base::ArchiveHeader& header, const std::vector<HashedFile>& files) {
    Sha256Hasher hasher;
    const std::string head = base::encodeArchiveHeader(header);
    hasher.update(head.data(), head.size());
    for (const HashedFile& file : files) {
        const std::string bytes = entryHead(file);
        hasher.update(bytes.data(), bytes.size());
    }
    Digest digest{};
    return hasher.finish(digest) ? toHex(digest) : std::string();
}

// Second read of one file: into the archive and into its object, either of which may be
// absent, checking it still is the file hashed before (the manifest and the archive's
// entry already carry that size and digest).
bool writeEntry(const HashedFile& entry, const fs::path* object, ArchiveOutput* archive,
                std::vector<unsigned char>& buffer, std::string& error) {
    if (archive && !archive->write(entryHead(entry), error)) return false;
    AtomicOutputFile copy;
    if (object && (!createFolder(object->parent_path(), error) || !copy.open(*object, error)))
        return false;
    uint64_t size = 0;
    Digest digest{};
    const bool streamed = streamFile(
        entry.file, buffer, size, digest, error, [&](const unsigned char* data, size_t length) {
            return (!archive || archive->write(data, length, error)) &&
                   (!object || copy.write(data, length, error));
        });
    if (!streamed) return false;
    if (size != entry.size || digest != entry.digest) {
        error = quotedPath(entry.file.path) +
                " changed while it was being published: publish again once nothing writes to "
                "the client folder";
        return false;
    }
    return !object || copy.commit(error);
}

// An earlier release built from exactly these files, whose archive is in place: the archive
// format leaves nothing to chance, so building it again would give the same bytes.
const Release* releaseWithSameArchive(const ReleaseHistory& history,
                                      const std::vector<HashedFile>& files,
                                      const fs::path& platformDir) {
    std::vector<const Release*> earlier;
    for (const Release& release : history.recent) earlier.push_back(&release);
    if (history.unrecorded) earlier.push_back(&*history.unrecorded);
    for (const Release* release : earlier) {
        const ManifestContent& content = release->content;
        if (release->format != base::kArchiveFormatName || content.files.size() != files.size())
            continue;
        bool same = true;
        for (size_t i = 0; same && i < files.size(); ++i)
            same = content.files[i].path == files[i].file.path &&
                   content.files[i].sha256 == files[i].sha256 &&
                   content.files[i].size == files[i].size;
        if (same && hasObject(platformDir, content.archiveSha256, content.archiveSize))
            return release;
    }
    return nullptr;
}

bool writeText(const fs::path& path, const std::string& text, std::string& error) {
    AtomicOutputFile file;
    return file.open(path, error) && file.write(text.data(), text.size(), error) &&
           file.commit(error);
}

// The groups object of a very large file's chunk index, and its digest.
bool groupIndex(HashedFile& hashed, std::string& error) {
    base::ChunkIndex index;
    base::ChunkGroups groups;
    Sha256Hasher hasher;
    Digest digest{};
    if (!base::decodeChunkIndex(hashed.chunkIndex, index, error) ||
        !base::groupChunks<Sha256Hasher>(index, hashed.chunkIndex, groups) || !hasher.ready()) {
        error = "SHA-256 failed while indexing " + quotedPath(hashed.file.path);
        return false;
    }
    hashed.groups = base::encodeChunkGroups(groups);
    hasher.update(hashed.groups.data(), hashed.groups.size());
    if (!hasher.finish(digest)) {
        error = "SHA-256 failed while indexing " + quotedPath(hashed.file.path);
        return false;
    }
    hashed.groupsSha256 = toHex(digest);
    return true;
}

// The file's first read, indexing it on the way when it is large enough.
bool hashFile(HashedFile& hashed, std::vector<unsigned char>& buffer, std::string& error) {
    std::unique_ptr<ChunkIndexBuilder> chunks;
    base::ChunkSizes sizes;
    uint64_t seen = 0;
    if (!streamFile(hashed.file, buffer, hashed.size, hashed.digest, error,
                    [&](const unsigned char* data, size_t length) {
                        // The chunk sizes depend on the file's size, known for sure only at
                        // the end: the size on disk now chooses them, the end checks it.
                        if (seen == 0 && length == buffer.size()) {
                            std::error_code failure;
                            const uintmax_t onDisk = fs::file_size(hashed.file.source, failure);
                            sizes = base::chunkSizesFor(failure ? 0 : onDisk);
                            chunks = std::make_unique<ChunkIndexBuilder>(sizes);
                        }
                        if (chunks) chunks->feed(data, length);
                        seen += length;
                        return true;
                    }))
        return false;
    hashed.sha256 = toHex(hashed.digest);
    if (!chunks || hashed.size <= kChunkIndexThreshold) return true;
    if (sizes != base::chunkSizesFor(hashed.size)) {
        error = quotedPath(hashed.file.path) + " changed size while it was read; publish again";
        return false;
    }
    Sha256Hasher hasher;
    Digest digest{};
    if (!chunks->finish(hashed.chunkIndex) || !hasher.ready()) {
        error = "SHA-256 failed while indexing " + quotedPath(hashed.file.path);
        return false;
    }
    hasher.update(hashed.chunkIndex.data(), hashed.chunkIndex.size());
    if (!hasher.finish(digest)) {
        error = "SHA-256 failed while indexing " + quotedPath(hashed.file.path);
        return false;
    }
    hashed.chunksSha256 = toHex(digest);
    return hashed.size < base::kChunkGroupsThreshold || groupIndex(hashed, error);
}

// Writes every object the release needs that is not in place yet; fills in the archive's
// digest and size.
bool writeObjects(const fs::path& platformDir, const std::vector<HashedFile>& files,
                  const base::ArchiveHeader& header, const ReleaseHistory& history,
                  PublishSummary& summary, std::string& error) {
    const fs::path objectsDir = platformDir / kObjectsFolder;
    if (!createFolder(objectsDir, error)) return false;
    for (const HashedFile& file : files) {
        for (const auto& [sha256, bytes] : {std::pair(&file.chunksSha256, &file.chunkIndex),
                                            std::pair(&file.groupsSha256, &file.groups)}) {
            if (sha256->empty() || hasObject(platformDir, *sha256, bytes->size())) continue;
            const fs::path object = platformDir / fs::u8path(objectPath(*sha256));
            if (!createFolder(object.parent_path(), error) || !writeText(object, *bytes, error))
                return false;
            ++summary.objectsWritten;
        }
    }
    const Release* reusable = releaseWithSameArchive(history, files, platformDir);
    ArchiveOutput archive;
    if (!reusable && (!archive.open(objectsDir, error) ||
                      !archive.write(base::encodeArchiveHeader(header), error)))
        return false;
    std::vector<unsigned char> buffer(kChunkSize);
    for (const HashedFile& file : files) {
        // A file identical to an earlier one finds its object already written.
        const bool copy = !hasObject(platformDir, file.sha256, file.size);
        if (!copy && reusable) continue;
        const fs::path object = platformDir / fs::u8path(objectPath(file.sha256));
        if (!writeEntry(file, copy ? &object : nullptr, reusable ? nullptr : &archive, buffer,
                        error))
            return false;
        if (copy) ++summary.objectsWritten;
    }
    if (reusable) {
        summary.archiveSha256 = reusable->content.archiveSha256;
        summary.archiveBytes = reusable->content.archiveSize;
        return true;
    }
    if (!archive.finish(summary.archiveSha256, summary.archiveBytes, error)) return false;
    if (hasObject(platformDir, summary.archiveSha256, summary.archiveBytes)) return true;
    const fs::path object = platformDir / fs::u8path(objectPath(summary.archiveSha256));
    if (!createFolder(object.parent_path(), error) || !archive.place(object, error)) return false;
    ++summary.objectsWritten;
    return true;
}

// What publish() can refuse before it reads a file; loads the signing key, if one is given.
bool checkOptions(const PublishOptions& options, std::string& baseUrl,
                  std::vector<std::string>& mirrors, SigningKey& key, std::string& error) {
    if (!normalizeBaseUrl(options.baseUrl, baseUrl, error) ||
        !normalizeMirrors(baseUrl, options.mirrors, mirrors, error))
        return false;
    if (!isValidUtf8(options.clientVersion)) {
        error = "the client version " + quotedPath(options.clientVersion) + " is not valid UTF-8";
        return false;
    }
    if (options.keepReleases < 1) {
        error = "at least one earlier release must be kept (--keep-releases 1 or more)";
        return false;
    }
    // A key that cannot sign must stop the publish before it writes anything.
    if (options.signKey.empty()) return true;
    if (!key.load(options.signKey, error)) return false;
    if (options.expiresDays < 1) {
        error = "a signed manifest must stay valid for at least a day (--expires-days 1 or more)";
        return false;
    }
    return true;
}

// Every client file, in the archive's order, hashed and (when large) indexed; `header`
// counts them, and `summary` lists the folders left empty.
bool hashClient(const fs::path& clientDir, std::vector<HashedFile>& files,
                base::ArchiveHeader& header, PublishSummary& summary, std::string& error) {
    std::vector<ClientFile> scanned;
    if (!scanClient(clientDir, scanned, summary.emptyFolders, error)) return false;
    std::vector<unsigned char> buffer(kChunkSize);
    files.reserve(scanned.size());
    for (ClientFile& file : scanned) {
        HashedFile hashed{std::move(file), 0, {}, {}, {}, {}, {}, {}};
        if (!hashFile(hashed, buffer, error)) return false;
        header.totalBytes += hashed.size;
        files.push_back(std::move(hashed));
    }
    header.entryCount = static_cast<uint32_t>(files.size());
    return true;
}

// The release these files make once writeObjects has filled in the archive's digest and size
// in `written`, beside the mirrors checkOptions put there: its manifest, with a sequence and
// an expiry when it is to be signed.
Release describeRelease(const PublishOptions& options, const std::string& baseUrl,
                        const base::ArchiveHeader& header, const std::vector<HashedFile>& files,
                        const PublishSummary& written, const ReleaseHistory& history) {
    const std::string platformUrl = baseUrl + "/" + kPlatformFolder;
    Release current;
    ManifestContent& manifest = current.content;
    manifest.clientVersion = options.clientVersion;
    manifest.required = !options.optional;
    manifest.archiveUrl = platformUrl + "/" + objectPath(written.archiveSha256);
    manifest.archiveSha256 = written.archiveSha256;
    manifest.archiveHeadsSha256 = headsDigest(header, files);
    manifest.archiveSize = written.archiveBytes;
    for (const HashedFile& file : files) {
        manifest.files.push_back(
            {file.file.path, file.sha256, file.size, platformUrl + "/" + objectPath(file.sha256),
             {}, file.chunksSha256, {}, {}});
        if (!file.chunksSha256.empty())
            manifest.files.back().chunksUrl = platformUrl + "/" + objectPath(file.chunksSha256);
        if (!file.groupsSha256.empty()) {
            manifest.files.back().groupsUrl = platformUrl + "/" + objectPath(file.groupsSha256);
            manifest.files.back().groupsSha256 = file.groupsSha256;
        }
    }
    if (!written.mirrors.empty()) {
        manifest.baseUrl = baseUrl;
        manifest.mirrors = written.mirrors;
    }
    if (!options.signKey.empty()) {
        const int64_t now = options.now != 0 ? options.now : currentTime();
        manifest.sequence = nextSequence(history);
        manifest.expires = base::utcTimestamp(now + int64_t{options.expiresDays} * 86400);
    }
    current.manifest = renderManifest(manifest);
    current.format = base::kArchiveFormatName;
    return current;
}

// Records the release (and an earlier publisher's unrecorded one), then puts its manifest
// live. `kept` ends with the live release.
bool goLive(const fs::path& platformDir, ReleaseHistory& history, Release current,
            const std::string& signature, size_t keepReleases, std::vector<Release>& kept,
            PublishSummary& summary, std::string& error) {
    // Records before the manifest: a release players may see is always on record, and a
    // record whose manifest never went live only keeps a few objects a while longer.
    kept = std::move(history.recent);
    uint64_t next = history.latest;
    if (history.unrecorded) {
        history.unrecorded->number = ++next;
        if (!writeRecord(platformDir, *history.unrecorded, error)) return false;
        kept.push_back(std::move(*history.unrecorded));
    }
    // Publishing the same client under the same URL again is the same release.
    summary.newRelease = kept.empty() || kept.back().manifest != current.manifest;
    if (summary.newRelease) {
        current.number = ++next;
        if (!writeRecord(platformDir, current, error)) return false;
        kept.push_back(std::move(current));
    }
    // Patches before the manifest: a player who sees the new one finds them in place.
    if (!writeManifestPatches(platformDir, kept, keepReleases, summary.patches, error))
        return false;
    const Release& live = kept.back();
    if (!writeManifestPair(platformDir, history.live, live.manifest, signature, error))
        return false;
    summary.sequence = live.content.sequence;
    summary.expires = live.content.expires;
    summary.release = live.number;
    return true;
}

// Removes the objects that no kept release needs, and the patches of releases no longer kept.
// Only once the new manifest is live: a
// player still holding a manifest that is no longer kept may fetch its objects until then.
// `kept` ends up holding only the kept releases.
bool pruneUnkept(const fs::path& platformDir, std::vector<Release>& kept, size_t keepReleases,
                 PublishSummary& summary, std::string& error) {
    const size_t keep = keepReleases + 1;
    if (kept.size() > keep) kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(keep));
    summary.oldestKept = kept.front().number;
    std::set<std::string> referenced;
    bool legacy = false;
    for (const Release& release : kept) {
        addReferences(release, referenced);
        legacy = legacy || hasLegacyLayout(release);
    }
    PruneResult pruned;
    const bool ok = pruneObjects(platformDir, referenced, legacy, pruned, error);
    summary.objectsRemoved = pruned.objectsRemoved;
    summary.legacyRemoved = pruned.legacyRemoved;
    if (ok && pruneManifestPatches(platformDir, summary.patches, error)) return true;
    error = "the new manifest is in place, but " + error;
    return false;
}

bool publishUnguarded(const PublishOptions& options, PublishSummary& summary,
                      std::string& error) {
    std::string baseUrl;
    SigningKey key;
    if (!checkOptions(options, baseUrl, summary.mirrors, key, error)) return false;
    const fs::path platformDir = options.outDir / kPlatformFolder;
    if (!checkFoldersApart(options.clientDir, platformDir, error)) return false;
    std::vector<HashedFile> files;
    base::ArchiveHeader header;
    if (!hashClient(options.clientDir, files, header, summary, error)) return false;
    // The releases that may stay, read before anything is written: a record that cannot be
    // read would leave unknown what its players still need.
    ReleaseHistory history;
    if (!loadHistory(platformDir, options.keepReleases + 1, history, error)) return false;
    if (!writeObjects(platformDir, files, header, history, summary, error)) return false;

    Release current = describeRelease(options, baseUrl, header, files, summary, history);
    std::string signature;
    if (!options.signKey.empty() && !key.sign(current.manifest, signature, error)) return false;
    std::vector<Release> kept;
    if (!goLive(platformDir, history, std::move(current), signature, options.keepReleases, kept,
                summary, error))
        return false;
    summary.files = files.size();
    summary.dataBytes = header.totalBytes;
    summary.manifestUrl = baseUrl + "/" + kPlatformFolder + "/" + kManifestName;
    if (!pruneUnkept(platformDir, kept, options.keepReleases, summary, error)) return false;
    // Counted from what is now served: every object a kept release names is in place.
    const Release& live = kept.back();
    summary.manifestBytes = live.manifest.size();
    for (size_t i = 0; i + 1 < kept.size(); ++i) {
        std::optional<uint64_t> patch;
        for (const ReleasePatch& published : summary.patches)
            if (published.release == kept[i].number) patch = published.bytes;
        const TransferCost manifest = manifestCost(live, !options.signKey.empty(), patch);
        summary.updateCosts.push_back(releaseCost(platformDir, kept[i], live, manifest));
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
