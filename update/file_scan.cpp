#include "update/file_scan.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <unordered_set>

#include "base/long_path.h"
#include "base/safe_path.h"
#include "update/sha256.h"

namespace pcupd {
namespace {

constexpr unsigned kMaxHashThreads = 4;  // beyond this the disk, not the cores, sets the pace


// What the first look at a file decided; Hash waits for its digest.
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

}  // namespace

uint64_t scanFiles(const Manifest& manifest, const std::wstring& installDir, bool useCache,
                   unsigned threads, VerifyCache& cache, ChangedFiles& changed) {
    const std::wstring root = base::fullPath(installDir);
    // The cache is only read until every digest is in; then it learns in manifest order, so
    // that it ends up exactly as a scan on one thread leaves it.
    std::vector<Look> looks(manifest.files.size(), Look::Changed);
    std::vector<Hashed> jobs;
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        const ManifestFile& file = manifest.files[i];
        if (!base::isSafeRelativePath(file.path)) continue;  // on the list, the disk untouched
        FileStamp stamp;
        if (!fileStamp(base::joinUnder(root, file.path), stamp)) {
            looks[i] = Look::Missing;
            continue;
        }
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
        looks[i] = Look::Hash;
        jobs.push_back({i, stamp, {}, false});
    }
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
