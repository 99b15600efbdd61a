#include "update/file_scan.h"

#include <algorithm>
#include <atomic>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "base/long_path.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "update/folder_listing.h"
#include "update/sha256.h"

namespace pcupd {
namespace {

constexpr unsigned kMaxHashThreads = 4;  // beyond this the disk, not the cores, sets the pace

// What the first look at a file decided; Hash waits for its digest (while stamping: the file
// is there and its stamp is in).
enum class Look : uint8_t { Changed, Missing, Same, Hash };

struct Hashed {
    size_t file;  // index in the manifest
    FileStamp stamp;
    uint8_t digest[kSha256Size];
    bool ok;
};

unsigned hashThreads(size_t jobs, unsigned asked) {
    unsigned threads = std::min(kMaxHashThreads, std::max(1u, std::thread::hardware_concurrency()));
    if (asked > 0) threads = asked;
    return static_cast<unsigned>(std::min<size_t>(threads, jobs));
}

// Hashes every job, the calling thread among the workers. A thread that cannot be started
// leaves its share to the others, so this never fails.
void hashAll(std::vector<Hashed>& jobs, const Manifest& manifest, const std::wstring& root,
             unsigned threads) {
    std::atomic<size_t> next{0};
    const auto work = [&]() noexcept {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            Hashed& job = jobs[i];
            try {
                job.ok = hashFile(base::joinUnder(root, manifest.files[job.file].path), job.digest);
            } catch (...) {  // out of memory: the file counts as unreadable, as a locked one does
                job.ok = false;
            }
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < hashThreads(jobs.size(), threads); ++i) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break;
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
}

// The folder part of a manifest path, empty for a file at the top.
std::string_view folderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string_view() : std::string_view(path).substr(0, slash);
}

// Stamps `files` (indexes in the manifest), all in `folder`, from one search of it, asking
// the system per file only where the search cannot tell. Leaves Look::Missing for a missing
// file (or a folder in its place) and Look::Hash, with the stamp in `stamps`, for a file
// that is there.
void stampFolder(const Manifest& manifest, const std::wstring& root, const std::string& folder,
                 const std::vector<size_t>& files, FolderListing& listing, std::vector<Look>& looks,
                 std::vector<FileStamp>& stamps, std::vector<std::string>* partFiles) {
    const bool listed = listing.list(folder.empty() ? root : base::joinUnder(root, folder));
    if (listed && partFiles) {
        for (const std::wstring& name : listing.partFiles())
            partFiles->push_back((folder.empty() ? "" : folder + "/") + base::toUtf8(name));
    }
    for (const size_t i : files) {
        const std::string& path = manifest.files[i].path;
        FolderListing::Found found = FolderListing::Found::kUnsure;
        if (listed) found = listing.find(base::toWide(path.substr(folder.empty() ? 0 : folder.size() + 1)), stamps[i]);
        if (found == FolderListing::Found::kUnsure)
            found = fileStamp(base::joinUnder(root, path), stamps[i]) ? FolderListing::Found::kFile
                                                                     : FolderListing::Found::kNotFile;
        looks[i] = found == FolderListing::Found::kFile ? Look::Hash : Look::Missing;
    }
}

// Stamps every file with a safe path, each folder searched once, on the calling thread (the
// searches ran no faster spread over threads under Wine). Files with unsafe paths keep
// Look::Changed. The ".part" names go to `partFiles`, folder by folder.
void stampAll(const Manifest& manifest, const std::wstring& root, std::vector<Look>& looks,
              std::vector<FileStamp>& stamps, std::vector<std::string>* partFiles) {
    struct Placed {
        size_t file;
        std::string_view folder;
    };
    std::vector<Placed> order;
    order.reserve(manifest.files.size());
    for (size_t i = 0; i < manifest.files.size(); ++i)
        if (base::isSafeRelativePath(manifest.files[i].path)) order.push_back({i, folderOf(manifest.files[i].path)});
    std::stable_sort(order.begin(), order.end(),
                     [](const Placed& a, const Placed& b) { return a.folder < b.folder; });
    std::vector<size_t> files;
    FolderListing listing;
    for (size_t first = 0, end = 0; first < order.size(); first = end) {
        files.clear();
        for (end = first; end < order.size() && order[end].folder == order[first].folder; ++end)
            files.push_back(order[end].file);
        stampFolder(manifest, root, std::string(order[first].folder), files, listing, looks, stamps,
                    partFiles);
    }
}

}  // namespace

uint64_t scanFiles(const Manifest& manifest, const std::wstring& installDir, bool useCache,
                   unsigned threads, VerifyCache& cache, ChangedFiles& changed,
                   std::vector<std::string>* partFiles) {
    const std::wstring root = base::fullPath(installDir);
    // The cache is only read until every digest is in; then it learns in manifest order, so
    // that it ends up exactly as a scan on one thread leaves it.
    std::vector<Look> looks(manifest.files.size(), Look::Changed);
    std::vector<FileStamp> stamps(manifest.files.size());
    stampAll(manifest, root, looks, stamps, partFiles);
    std::vector<Hashed> jobs;
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        // Unsafe paths stay on the list with the disk untouched; missing files are decided.
        if (looks[i] != Look::Hash) continue;
        const ManifestFile& file = manifest.files[i];
        const FileStamp& stamp = stamps[i];
        // Another size differs without a read. Its cache entry still says what the file holds,
        // which an update of a very large file in place goes by.
        if (file.size != 0 && stamp.size != static_cast<uint64_t>(file.size)) {
            looks[i] = Look::Changed;
            continue;
        }
        if (useCache) {
            // A trusted digest decides either way: no need to read a file known to differ.
            const std::string cached = cache.trustedDigest(file.path, stamp);
            if (!cached.empty()) {
                looks[i] = cached == file.sha256 ? Look::Same : Look::Changed;
                continue;
            }
        }
        // The stamp is read before the content: a file that changes while it is hashed gets
        // a new time and is hashed again next time.
        jobs.push_back({i, stamp, {}, false});
    }
    stamps = std::vector<FileStamp>();
    hashAll(jobs, manifest, root, threads);

    std::unordered_set<std::string> listed;
    uint64_t hashed = 0;
    auto job = jobs.begin();
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        const ManifestFile& file = manifest.files[i];
        listed.insert(VerifyCache::key(file.path));
        bool same = looks[i] == Look::Same;
        if (looks[i] == Look::Missing) {
            cache.forget(file.path);
        } else if (looks[i] == Look::Hash) {
            if (job->ok) {
                hashed += job->stamp.size;
                cache.record(file.path, job->stamp, job->digest);
                same = base::toHex(job->digest, kSha256Size) == file.sha256;
            } else {
                cache.forget(file.path);
            }
            ++job;
        }
        if (!same) changed.push_back(&file);
    }
    cache.retain([&listed](const std::string& key) { return listed.count(key) > 0; });
    return hashed;
}

}  // namespace pcupd
