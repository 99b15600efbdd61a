#include "update/repair.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "base/long_path.h"
#include "base/owned_folder.h"
#include "base/path_identity.h"
#include "base/safe_path.h"
#include "base/small_file.h"
#include "base/unique_handle.h"
#include "update/chunk_patch.h"
#include "update/chunk_repair.h"
#include "update/download.h"
#include "update/sha256.h"

namespace pcupd {
namespace {

constexpr int kDownloadAttempts = 3;  // a transient transport failure is retried twice
constexpr int kDigestAttempts = 2;    // a damaged transfer gets one more try, no more
constexpr DWORD kRetryPauseMs = 250;  // times the attempt number
constexpr size_t kNone = std::numeric_limits<size_t>::max();

// Failures that another attempt may not meet: the connection or the server, not the request or
// the disk. A refused secure connection counts too: Wine reports a connection reset in the
// middle of the handshake as the same channel error as an untrusted certificate.
bool worthRetrying(const base::Failure& failure) {
    return failure.transient() || failure.kind == base::FailureKind::kSecure;
}

base::Failure diskFailure(std::string text) {
    return base::Failure(base::FailureKind::kDisk, std::move(text), GetLastError());
}

// Says what stands where `path` (a safe manifest path) must go: a folder of that name, or a
// file where one of its folders belongs. Empty when the way is clear.
std::string obstacle(const std::wstring& root, const std::string& path) {
    for (size_t slash = path.find_first_of("/\\"); slash != std::string::npos;
         slash = path.find_first_of("/\\", slash + 1)) {
        const std::string folder = path.substr(0, slash);
        const DWORD attributes = GetFileAttributesW(base::joinUnder(root, folder).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return {};  // nothing below it exists either
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return "cannot write " + path + ": the file " + folder + " is in the way";
    }
    const DWORD attributes = GetFileAttributesW(base::joinUnder(root, path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "cannot write " + path + ": a folder of that name is in the way";
    return {};
}

// One repair: the files in the order they are worked on (the manifest's, the running
// program's own file last), the downloads that run at once, and the progress they share.
// Downloads run on helper threads; every report reaches the callback on the calling thread.
class RepairRun {
public:
    RepairRun(const ChangedFiles& changed, const std::wstring& installDir,
              const UpdateOptions& options, const ProgressCallback& callback, VerifyCache& cache)
        : root_(base::fullPath(installDir)), folder_(installDir), options_(options),
          callback_(callback), cache_(cache), caller_(std::this_thread::get_id()) {
        for (const ManifestFile* file : changed) {
            progress_.bytesTotal += std::max<int64_t>(file->size, 0);
            const bool self = base::isSafeRelativePath(file->path) &&
                              !options.selfPath.empty() &&
                              base::samePath(base::joinUnder(root_, file->path), options.selfPath);
            (self ? staged_ : files_).push_back(file);
        }
        if (options.previous)
            for (const ManifestFile& file : options.previous->files)
                if (!file.chunkGroupsUrl.empty()) previous_[VerifyCache::key(file.path)] = &file;
    }

    void run(UpdateResult& result) {
        downloadAll();
        // Replaced only once everything else is in place: a failed repair leaves it as it was.
        for (size_t i = 0; i < staged_.size() && failed_ == kNone; ++i) {
            base::Failure error;
            if (!repairOne(*staged_[i], true, nullptr, error)) fail(files_.size() + i, error, nullptr);
        }
        if (failure_) std::rethrow_exception(failure_);
        if (failed_ != kNone) {
            result.error = error_;
            return;
        }
        result.selfReplaced = !staged_.empty();
        report([](Progress& p) {
            p.stage = UpdateStage::kRepaired;
            p.item.clear();
        });
        result.ok = true;
    }

private:
    struct Slot {  // one download thread's
        std::atomic<bool> cancel{false};
        size_t current = kNone;
    };

    // Runs the downloads on up to kMaxDownloads threads, or on this one when no thread can
    // be had; returns when all have ended.
    void downloadAll() {
        const unsigned threads = static_cast<unsigned>(std::min<size_t>(options_.downloads, files_.size()));
        std::deque<Slot> slots(std::max(threads, 1u));
        std::vector<std::thread> workers;
        workers.reserve(slots.size());
        slots_ = &slots;
        for (size_t i = 0; threads > 1 && i < slots.size(); ++i) {
            try {
                changeRunning(+1);
                workers.emplace_back([this, &slot = slots[i]] { work(slot); });
            } catch (...) {  // no thread to be had: fewer downloads at once
                changeRunning(-1);
                break;
            }
        }
        if (workers.empty()) {
            work(slots.front());
        } else {
            std::exception_ptr thrown;  // by the callback: the threads end before it goes on
            try {
                deliverUntilDone();
            } catch (...) {
                thrown = std::current_exception();
                fail(0, base::Failure(), thrown);
            }
            for (std::thread& worker : workers) worker.join();
            if (thrown) std::rethrow_exception(thrown);
        }
        slots_ = nullptr;
    }

    void changeRunning(int step) {
        std::lock_guard<std::mutex> hold(lock_);
        running_ += step;
        if (running_ == 0) wake_.notify_all();
    }

    void work(Slot& slot) noexcept {
        for (;;) {
            size_t index;
            {
                std::lock_guard<std::mutex> hold(lock_);
                if (next_ >= files_.size() || failed_ != kNone) break;  // nothing after a failure starts
                index = slot.current = next_++;
                slot.cancel = false;
            }
            try {
                base::Failure error;
                if (!repairOne(*files_[index], false, &slot.cancel, error)) fail(index, error, nullptr);
            } catch (...) {  // rethrown on the calling thread, as if it had run there
                fail(index, base::Failure(), std::current_exception());
            }
        }
        if (std::this_thread::get_id() != caller_) changeRunning(-1);
    }

    // Keeps the earliest failure in work order. Downloads of later files stop, as a run on
    // one thread would never have started them; earlier ones go on and may fail first.
    void fail(size_t index, const base::Failure& error, std::exception_ptr exception) {
        std::lock_guard<std::mutex> hold(lock_);
        if (index > failed_) return;
        failed_ = index;
        error_ = error;
        failure_ = exception;
        if (slots_)
            for (Slot& slot : *slots_)
                if (slot.current != kNone && slot.current > index) slot.cancel = true;
    }

    bool repairOne(const ManifestFile& file, bool self, const std::atomic<bool>* cancel,
                   base::Failure& error) {
        if (!base::isSafeRelativePath(file.path)) {
            error = base::Failure(base::FailureKind::kBadInput, "unsafe path in manifest: " + file.path);
            return false;
        }
        // Better said now, naming what is in the way, than as a failed download or rename.
        if (std::string blocked = obstacle(root_, file.path); !blocked.empty()) {
            error = base::Failure(base::FailureKind::kDisk, std::move(blocked));
            return false;
        }
        const std::wstring target = base::joinUnder(root_, file.path);
        const std::wstring part = target + L".part";
        base::createParentDirectories(target);

        report([&file](Progress& p) {
            p.stage = UpdateStage::kDownloading;
            p.item = file.path;
        });
        std::string digest;
        const bool patched = !self && patchByGroups(file, target, cancel, digest);
        if (!patched && !fetchByChunks(file, target, part, cancel, digest) &&
            !fetchVerified(file, part, cancel, digest, error))
            return false;
        if (!patched &&
            !(self ? replaceRunning(file, part, target, error) : replace(file, part, target, error)))
            return false;
        FileStamp stamp;
        if (fileStamp(target, stamp)) {
            std::lock_guard<std::mutex> hold(lock_);
            cache_.record(file.path, stamp, digest);
        }
        report([&file](Progress& p) {
            p.stage = UpdateStage::kUpdated;
            p.item = file.path;
        });
        return true;
    }

    // The verified download replaces the old file in one step; the old file stays intact
    // until then, and also when the replacement is refused.
    bool replace(const ManifestFile& file, const std::wstring& part, const std::wstring& target,
                 base::Failure& error) {
        if (base::moveFileWhenFree(part, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        error = diskFailure("could not replace " + file.path + " (file in use?)");
        folder_.deleteFile(part);
        return false;
    }

    // The running program's file cannot be written over, but it can be renamed: it moves
    // aside to "<name>.old" (deleted by a later run, once it no longer runs) and the new one
    // takes its name. Should the second step fail, the old file goes back.
    bool replaceRunning(const ManifestFile& file, const std::wstring& part,
                        const std::wstring& listed, base::Failure& error) {
        // The new file takes the name as it stands on disk, letter case and all, which the
        // shortcuts and the Apps & features commands name (the manifest's path is lowercased).
        std::wstring target = listed;
        WIN32_FIND_DATAW found{};
        if (base::UniqueFind find(FindFirstFileW(listed.c_str(), &found)); find)
            target = listed.substr(0, listed.find_last_of(L'\\') + 1) + found.cFileName;
        const std::wstring aside = target + L".old";
        const bool present = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (present && !base::moveFileWhenFree(target, aside, MOVEFILE_REPLACE_EXISTING)) {
            error = diskFailure("could not replace " + file.path + " (file in use?)");
            folder_.deleteFile(part);
            return false;
        }
        if (MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
        error = diskFailure("could not replace " + file.path + " (file in use?)");
        if (present) MoveFileExW(aside.c_str(), target.c_str(), 0);
        folder_.deleteFile(part);
        return false;
    }

    // Patches a very large file in place when the folder holds the previous release's copy
    // of it (update/chunk_patch.h): the verification cache vouches for that copy's digest.
    // False when it cannot, with progress as it was; the target is then rebuilt as usual.
    bool patchByGroups(const ManifestFile& file, const std::wstring& target,
                       const std::atomic<bool>* cancel, std::string& digest) {
        const auto found = previous_.find(VerifyCache::key(file.path));
        if (found == previous_.end() || !chunkPatchApplies(file, *found->second)) return false;
        FileStamp stamp;
        if (!fileStamp(target, stamp)) return false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (cache_.trustedDigest(file.path, stamp) != found->second->sha256) return false;
        }
        const bool built = byChunks(file, [&](const ChunkRepairEvents& events) {
            bool written = false;
            std::string why;
            return patchInPlace(file, *found->second, target, cancel, events, options_.transfer, written, why);
        });
        if (built) digest = file.sha256;
        return built;
    }

    // Builds `file` in `part` from the chunks of its old copy at `target` that are still
    // right, downloading only the rest. False, with no `part` left, when it cannot: the whole
    // download follows then, and only its failure is ever shown.
    bool fetchByChunks(const ManifestFile& file, const std::wstring& target, const std::wstring& part,
                       const std::atomic<bool>* cancel, std::string& digest) {
        if (!chunkRepairApplies(file, target)) return false;
        return byChunks(file, [&](const ChunkRepairEvents& events) {
            std::string why;
            return repairByChunks(file, target, part, cancel, events, options_.transfer, digest, why);
        });
    }

    // Runs one attempt by chunks, `attempt(events)`, and keeps the bar counting what is
    // downloaded against what must be: the reused bytes leave the total once they are known,
    // and come back, with what the attempt did download, when it fails and the whole file
    // follows. True when the attempt built the file.
    template <typename Attempt>
    bool byChunks(const ManifestFile& file, Attempt attempt) {
        int64_t reused = 0, received = 0;
        ChunkRepairEvents events;
        events.planned = [&](int64_t toDownload) {
            reused = std::max<int64_t>(file.size, 0) - toDownload;
            report([&](Progress& p) { p.bytesTotal -= reused; });
        };
        events.received = [&](int64_t bytes) {
            received += bytes;
            reportReceived(file, bytes);
        };
        if (attempt(static_cast<const ChunkRepairEvents&>(events)) == ChunkRepairResult::Built) return true;
        if (reused + received > 0) report([&](Progress& p) { p.bytesTotal += reused + received; });
        return false;
    }

    // Downloads `file` to `part` until its digest matches, within the attempt limits. On
    // failure `error` holds the last failure and no `part` file remains. Bytes count once
    // in the shared progress: a failed attempt takes its own back.
    bool fetchVerified(const ManifestFile& file, const std::wstring& part,
                       const std::atomic<bool>* cancel, std::string& digest, base::Failure& error) {
        int transportFailures = 0, digestFailures = 0;
        for (;;) {
            if (cancel && *cancel) {  // while this thread paused before a retry
                error = base::Failure(base::FailureKind::kCancelled, "download cancelled");
                return false;
            }
            int64_t shared = 0;  // how many of this attempt's bytes the shared progress holds
            DownloadOptions options;
            options.expectedSize = file.size;
            options.cancel = cancel;
            options.transfer = options_.transfer;
            options.onBytes = [&](int64_t fresh) {
                shared += fresh;
                reportReceived(file, fresh);
            };
            Downloaded got;
            const bool ok = download(file.url, part, options, got, error);
            digest = got.digest;
            {
                std::lock_guard<std::mutex> hold(lock_);
                progress_.bytesDone += (ok && digest == file.sha256 ? got.bytes : 0) - shared;
            }
            if (ok) {
                if (digest == file.sha256) return true;
                folder_.deleteFile(part);
                if (++digestFailures >= kDigestAttempts) {
                    error = base::Failure(base::FailureKind::kMismatch, "hash mismatch for " + file.path);
                    return false;
                }
                continue;
            }
            if ((cancel && *cancel) || !worthRetrying(error) || ++transportFailures >= kDownloadAttempts)
                return false;
            Sleep(kRetryPauseMs * static_cast<DWORD>(transportFailures));
        }
    }

    // Bytes of `file` received: the bar moves on and names the file.
    void reportReceived(const ManifestFile& file, int64_t bytes) {
        report([&](Progress& p) {
            p.stage = UpdateStage::kDownloading;
            p.item = file.path;
            p.bytesDone += bytes;
        });
    }

    // Changes the shared progress and hands a copy to the callback: at once on the calling
    // thread, else through the queue that the calling thread empties.
    template <typename Change>
    void report(Change change) {
        std::unique_lock<std::mutex> hold(lock_);
        change(progress_);
        if (!callback_) return;
        pending_.push_back(progress_);
        if (std::this_thread::get_id() != caller_) {
            wake_.notify_all();
            return;
        }
        hold.unlock();
        deliver();
    }

    void deliver() {
        std::deque<Progress> batch;
        {
            std::lock_guard<std::mutex> hold(lock_);
            batch.swap(pending_);
        }
        for (const Progress& p : batch) callback_(p);
    }

    void deliverUntilDone() {
        for (;;) {
            bool done;
            {
                std::unique_lock<std::mutex> hold(lock_);
                wake_.wait(hold, [this] { return !pending_.empty() || running_ == 0; });
                done = running_ == 0;
            }
            deliver();
            if (done) return;
        }
    }

    const std::wstring root_;
    const base::OwnedFolder folder_;  // every delete goes through it
    const UpdateOptions& options_;
    const ProgressCallback& callback_;
    VerifyCache& cache_;
    // The previous release's files that have chunk groups, by cache key.
    std::unordered_map<std::string, const ManifestFile*> previous_;
    const std::thread::id caller_;
    std::vector<const ManifestFile*> files_, staged_;

    std::mutex lock_;  // guards everything below
    std::condition_variable wake_;
    Progress progress_;
    std::deque<Progress> pending_;  // reports made on helper threads, not yet delivered
    size_t next_ = 0, running_ = 0;
    size_t failed_ = kNone;  // the earliest failure in work order
    base::Failure error_;
    std::exception_ptr failure_;  // what escaped that file's repair, to rethrow on this thread
    std::deque<Slot>* slots_ = nullptr;
};

}  // namespace

void repairFiles(UpdateResult& result, const ChangedFiles& changed, const std::wstring& installDir,
                 const UpdateOptions& options, ProgressCallback callback, VerifyCache& cache) {
    result = UpdateResult();
    RepairRun(changed, installDir, options, callback, cache).run(result);
}

}  // namespace pcupd
