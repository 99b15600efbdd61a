#include "update/chunk_repair.h"

#include <algorithm>
#include <cstring>

#include "base/chunk_index.h"
#include "base/chunk_plan.h"
#include "base/unique_handle.h"
#include "update/download_hosts.h"
#include "update/http.h"
#include "update/resuming_stream.h"

namespace pcupd {

namespace {

constexpr DWORD kLocalReadSize = 1 << 20;
constexpr DWORD kRangeReadSize = 64 * 1024;  // as a whole download reads: see sha256.cpp

bool cancelled(const std::atomic<bool>* cancel) { return cancel && *cancel; }

bool readAt(HANDLE file, uint64_t offset, void* buffer, DWORD size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, &at) && read == size;
}

class ChunkBuild {
public:
    ChunkBuild(const ManifestFile& file, const std::atomic<bool>* cancel,
               const ChunkRepairEvents& events, const TransferOptions& transfer)
        : file_(file), cancel_(cancel), events_(events), transfer_(transfer) {}

    ChunkRepairResult run(const std::wstring& local, const std::wstring& part, std::string& digest,
                          std::string& why) {
        if (!loadIndex(why)) return ChunkRepairResult::Fallback;
        base::UniqueFile source(CreateFileW(local.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!source) return fallback(why, "local copy cannot be read");
        base::HeldChunks held;
        if (!indexLocal(source.get(), held, why)) return result(why);
        const base::ChunkPlan plan = base::planChunks(index_, held);
        if (plan.wholeFile) return fallback(why, "nothing to reuse");
        if (events_.planned) events_.planned(static_cast<int64_t>(plan.toDownload));

        base::UniqueFile target(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!target) return fallback(why, "cannot create temp file");
        base::ScopeExit removePartial([&] {
            target.reset();
            DeleteFileW(part.c_str());
        });
        if (!whole_.ready()) return fallback(why, "sha init failed");
        for (const base::ChunkStep& step : plan.steps) {
            if (cancelled(cancel_)) return result(why);
            const bool ok = step.download ? download(step, target.get(), why)
                                          : copy(step, source.get(), target.get(), why);
            flushReceived();
            if (!ok) return result(why);
        }
        digest = whole_.finish();
        if (digest != file_.sha256) return fallback(why, "digest of the built file is wrong");
        // On disk before it replaces the old file, as a whole download is.
        if (!FlushFileBuffers(target.get())) return fallback(why, "disk write failed");
        removePartial.release();
        return ChunkRepairResult::Built;
    }

private:
    ChunkRepairResult fallback(std::string& why, const char* reason) {
        why = reason;
        return ChunkRepairResult::Fallback;
    }
    ChunkRepairResult result(std::string& why) {
        if (cancelled(cancel_)) {
            why = "download cancelled";
            return ChunkRepairResult::Cancelled;
        }
        return ChunkRepairResult::Fallback;
    }

    bool loadIndex(std::string& why) {
        std::string body;
        if (!fetchChunkObject(file_.chunksUrl, file_.chunksSha256, "chunk index", body, why, transfer_)) return false;
        if (!base::decodeChunkIndex(body, index_, why)) return false;
        if (index_.fileSize != static_cast<uint64_t>(file_.size)) {
            why = "chunk index is for another size";
            return false;
        }
        return true;
    }

    // Cuts the local copy into chunks in one read, with the sizes the index was cut with; the
    // first place a digest occurs is kept.
    bool indexLocal(HANDLE source, base::HeldChunks& held, std::string& why) {
        ChunkHasher hasher([&](uint32_t length, const ChunkDigest& digest) { held.add(length, digest); },
                           index_.sizes);
        std::vector<uint8_t> buffer(kLocalReadSize);
        DWORD read = 0;
        while (ReadFile(source, buffer.data(), kLocalReadSize, &read, nullptr) && read > 0) {
            if (cancelled(cancel_)) return false;
            if (!hasher.feed(buffer.data(), read)) break;
        }
        if (!hasher.finish()) {
            why = "sha init failed";
            return false;
        }
        return true;
    }

    bool write(HANDLE target, const uint8_t* data, DWORD size, std::string& why) {
        DWORD written = 0;
        if (!WriteFile(target, data, size, &written, nullptr) || written != size) {
            why = "disk write failed";
            return false;
        }
        whole_.update(data, size);
        return true;
    }

    // The local bytes are not checked again here: the whole file's digest covers them.
    bool copy(const base::ChunkStep& step, HANDLE source, HANDLE target, std::string& why) {
        buffer_.resize(kLocalReadSize);
        for (uint64_t done = 0; done < step.length;) {
            if (cancelled(cancel_)) return false;
            const DWORD size = static_cast<DWORD>(std::min<uint64_t>(kLocalReadSize, step.length - done));
            if (!readAt(source, step.from + done, buffer_.data(), size)) {
                why = "local copy cannot be read";
                return false;
            }
            if (!write(target, buffer_.data(), size, why)) return false;
            done += size;
        }
        return true;
    }

    // One Range request for the step's chunks; each chunk's digest is checked as it arrives.
    bool download(const base::ChunkStep& step, HANDLE target, std::string& why) {
        const int64_t from = static_cast<int64_t>(step.from);
        const int64_t last = from + static_cast<int64_t>(step.length) - 1;
        ResumingStream stream(transfer_);
        if (!stream.openRange(file_.url, from, last, file_.size, L"")) {
            why = "range refused: " + stream.failure().text;
            return false;
        }
        buffer_.resize(kRangeReadSize);
        size_t chunk = step.firstChunk;
        uint32_t chunkDone = 0;
        std::unique_ptr<Sha256> chunkSha = std::make_unique<Sha256>();
        for (uint64_t done = 0; done < step.length;) {
            if (cancelled(cancel_)) return false;
            const int32_t want = static_cast<int32_t>(std::min<uint64_t>(kRangeReadSize, step.length - done));
            const int32_t got = stream.read(buffer_.data(), want);
            if (got <= 0) {
                why = stream.readFailure("range read failed").text;
                return false;
            }
            const DWORD read = static_cast<DWORD>(got);
            if (!write(target, buffer_.data(), read, why)) return false;
            done += read;
            countReceived(read);
            // Split what arrived at the chunk ends, checking each chunk that completes.
            for (DWORD used = 0; used < read;) {
                const base::ChunkRecord& record = index_.chunks[chunk];
                const DWORD here = std::min<DWORD>(read - used, record.length - chunkDone);
                chunkSha->update(buffer_.data() + used, here);
                used += here;
                chunkDone += here;
                if (chunkDone < record.length) continue;
                uint8_t digest[kSha256Size];
                if (!chunkSha->finish(digest) || std::memcmp(digest, record.sha256, kSha256Size) != 0) {
                    why = "downloaded chunk digest is wrong";
                    return false;
                }
                chunkSha = std::make_unique<Sha256>();
                ++chunk;
                chunkDone = 0;
            }
        }
        return true;
    }

    void countReceived(int64_t bytes) {
        unreported_ += bytes;
        if (unreported_ >= kProgressInterval) flushReceived();
    }
    void flushReceived() {
        if (unreported_ > 0 && events_.received) events_.received(unreported_);
        unreported_ = 0;
    }

    const ManifestFile& file_;
    const std::atomic<bool>* cancel_;
    const ChunkRepairEvents& events_;
    const TransferOptions& transfer_;
    base::ChunkIndex index_;
    Sha256 whole_;  // the new file, as it is written
    std::vector<uint8_t> buffer_;
    int64_t unreported_ = 0;
};

}  // namespace

bool fetchChunkObject(const std::string& url, const std::string& sha256, const std::string& what,
                      std::string& body, std::string& why, const TransferOptions& transfer) {
    // From the host the run is on, then each other one that serves it, as a download goes.
    const size_t hosts = transfer.hosts ? transfer.hosts->countFor(url) : 1;
    const size_t start = transfer.hosts ? transfer.hosts->current(url) : 0;
    base::Failure failure;
    std::string at, left;
    for (size_t step = 0;; ++step) {
        const size_t host = (start + step) % hosts;
        at = transfer.hosts ? transfer.hosts->urlOn(url, host) : url;
        if (httpGet(at, body, failure, transfer)) {
            if (transfer.hosts) transfer.hosts->brought(url, host, at, left);
            break;
        }
        if (step + 1 == hosts || !worthAnotherHost(failure)) {
            why = what + ": " + (step + 1 == hosts ? everyHostFailed(failure, at, hosts) : failure).text;
            return false;
        }
        left = originOf(at) + ": " + failure.text;
    }
    Sha256 sha;
    sha.update(body.data(), body.size());
    if (sha.finish() == sha256) return true;
    why = what + " digest is wrong";
    return false;
}

bool chunkRepairApplies(const ManifestFile& file, const std::wstring& local) {
    if (file.chunksUrl.empty() || file.chunksSha256.empty() || file.size <= 0) return false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (data.nFileSizeHigh != 0 || data.nFileSizeLow != 0);
}

ChunkRepairResult repairByChunks(const ManifestFile& file, const std::wstring& local,
                                 const std::wstring& part, const std::atomic<bool>* cancel,
                                 const ChunkRepairEvents& events, const TransferOptions& transfer,
                                 std::string& digest, std::string& why) {
    return ChunkBuild(file, cancel, events, transfer).run(local, part, digest, why);
}

}  // namespace pcupd
