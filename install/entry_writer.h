#pragma once
// The disk side of the archive installer: creates, writes and hashes the entries on its own
// thread while the stream thread reads on from the network, so a fresh install runs at the
// speed of the slower side rather than the sum of both. A few fixed 1 MiB blocks circulate
// between the two threads; a block carries the data of as many entries as fit, so small
// files cost no hand-over each, but never more than kMaxPieces entries, so that an archive
// of empty files queues no more of them than one of large files. Memory stays flat whatever
// the archive holds, apart from one compact cache record (about 80 bytes) per file written.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/failure.h"
#include "base/unique_handle.h"
#include "install/job.h"
#include "update/sha256.h"
#include "update/verify_cache.h"

namespace installer {

class EntryWriter {
public:
    static constexpr size_t kBlockSize = 1 << 20;
    static constexpr size_t kMaxPieces = 2048;

    // The writer thread tells `progress` the bytes written so far of `totalBytes` (the
    // archive header's total) after each piece it writes. With `streamHash`, it also carries
    // the whole archive's digest on, in archive order: each entry's head (as the archive
    // encodes it) and data. The caller feeds it the archive header before and the bytes after
    // the last entry once drained, so the stream thread never hashes the data a second time.
    EntryWriter(ProgressSink& progress, int64_t totalBytes, pcupd::Sha256* streamHash = nullptr);
    ~EntryWriter();  // abandons queued work and joins the thread
    EntryWriter(const EntryWriter&) = delete;
    EntryWriter& operator=(const EntryWriter&) = delete;

    // Starts the next entry. The writer creates `target` (and its folders) when it reaches
    // the entry, closes it after the entry's last byte, then compares the digest with
    // `expected`. `path` is the entry's path as the archive wrote it, for messages.
    void beginEntry(const std::wstring& target, const std::string& path, uint64_t size,
                    const uint8_t (&expected)[pcupd::kSha256Size]);
    // Room for the current entry's next bytes: `room` bytes at the returned address (at
    // least 1). Waits while every block is queued; null once the writer has failed.
    char* space(size_t& room);
    // `size` bytes were put at the address space() gave; `last` ends the entry.
    void commit(size_t size, bool last);
    // Queues the block being filled although it has room left. On a slow link a block takes
    // seconds to fill, and the bar moves only as blocks reach the disk.
    void handOver();
    // Hands over what is queued and waits until it is on disk. False with the first
    // failure, in archive order: "cannot create ", "disk write failed for " or
    // "checksum mismatch for " + the entry's path.
    bool drain(base::Failure& error);

    // The entries written and verified so far, with the stamp each file had when closed and
    // its digest, ready to seed the install folder's cache; read (or taken) after drain().
    pcupd::VerifyCache& verified() { return verified_; }

private:
    struct Entry {
        std::wstring target;
        std::string path;
        uint64_t size = 0;
        uint8_t expected[pcupd::kSha256Size];
        base::UniqueFile file;
        std::optional<pcupd::Sha256> sha;  // set up by the writer when it reaches the entry
    };
    struct Piece {
        Entry* entry;
        size_t offset, size;
        bool last;
    };
    struct Job {
        char* block = nullptr;
        size_t used = 0;
        std::vector<Piece> pieces;
    };

    void submit();  // queues the block being filled
    void run();
    bool process(const Job& job, base::Failure& error);
    bool processPiece(const char* block, const Piece& piece, base::Failure& error);

    struct AlignedFree {
        void operator()(char* p) const;
    };
    std::vector<std::unique_ptr<char[], AlignedFree>> blocks_;
    // The stream thread's side, touched by that thread only. After a failure the writer may
    // drop the current entry, but then no piece that names it is ever processed.
    Job filling_;
    Entry* current_ = nullptr;

    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    std::vector<char*> free_;
    std::deque<Job> queue_;
    std::deque<std::unique_ptr<Entry>> entries_;  // entries not yet finished, oldest first
    bool stopping_ = false, busy_ = false;
    base::Failure error_;
    pcupd::VerifyCache verified_;  // filled by the writer thread only
    ProgressSink& progress_;
    const int64_t totalBytes_;
    uint64_t written_ = 0;             // the writer thread's
    pcupd::Sha256* const streamHash_;  // the writer thread's while it runs
    std::thread thread_;
};

}  // namespace installer
