#pragma once
// The disk side of the archive installer: creates, writes and hashes the entries on its own
// thread while the stream thread reads on from the network, so a fresh install runs at the
// speed of the slower side rather than the sum of both. A few fixed 1 MiB blocks circulate
// between the two threads; a block carries the data of as many entries as fit, so small
// files cost no hand-over each, but never more than kMaxPieces entries, so that an archive
// of empty files queues no more of them than one of large files. Memory stays flat whatever
// the archive holds, apart from one compact cache record (about 80 bytes) per file written.
//
// Finished files are closed on a few threads of their own. Where an antivirus scans each new
// file as its handle closes, a close takes as long as the scan; closing one file while the
// writer creates and writes the next ones keeps an archive of many small files from waiting
// for each scan in turn. At most kMaxPendingCloses files wait to be closed: the writer waits
// beyond that, so memory and open handles stay bounded.

#include <atomic>
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

struct WriterOptions {
    // Threads that close finished files; 0: the writer closes each file itself before it
    // starts the next.
    unsigned closeThreads = 3;
};

class EntryWriter {
public:
    static constexpr size_t kBlockSize = 1 << 20;
    static constexpr size_t kMaxPieces = 2048;
    static constexpr size_t kMaxPendingCloses = 64;

    // The writer thread tells `progress` the bytes written so far of `totalBytes` (the
    // archive header's total) after each piece it writes.
    EntryWriter(ProgressSink& progress, int64_t totalBytes, const WriterOptions& options = WriterOptions());
    virtual ~EntryWriter();  // abandons queued work and joins the threads
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
    // Hands over what is queued and waits until it is on disk and every finished file is
    // closed. False with the first failure, in archive order: "cannot create ", "disk write
    // failed for " (a failed close too: the system may report a lost write only then) or
    // "checksum mismatch for " + the entry's path.
    bool drain(base::Failure& error);

    // The entries written and verified so far, with the stamp each file had once closed and
    // its digest, ready to seed the install folder's cache; read (or taken) after drain().
    pcupd::VerifyCache& verified() { return verified_; }

protected:
    // Closes a finished file; false (with the last error set) when the system reports a
    // failure. Called on the writer or a closing thread; a test may fail it for one file.
    virtual bool closeFile(HANDLE file, const std::string& path);

private:
    struct Entry {
        uint64_t index = 0;  // place in the archive, which orders failures
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
    void process(const Job& job);  // failures go to fail()
    bool processPiece(const char* block, const Piece& piece, base::Failure& error);
    void fail(const base::Failure& error, uint64_t index);  // keeps the earliest; under mutex_
    bool idle() const;  // nothing queued, written or waiting to close; under mutex_
    // Closes a finished entry's file and records its stamp; any thread, without mutex_.
    bool close(Entry& entry, base::Failure& error);
    void closeLoop();  // a closing thread

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
    std::condition_variable closeWork_;  // closing threads wait on it
    // The writer waits on it for room among the files to close, or for none to be left. A
    // close wakes it alone: waking the stream thread for each of thousands of small files
    // costs more than the close.
    std::condition_variable closed_;
    bool draining_ = false;  // drain() waits on changed_ for the closes to end
    std::vector<char*> free_;
    std::deque<Job> queue_;
    std::deque<std::unique_ptr<Entry>> entries_;  // entries not yet finished, oldest first
    std::deque<std::unique_ptr<Entry>> closing_;  // written and verified, waiting to close
    size_t closersBusy_ = 0;  // closing threads at work on an entry
    bool stopping_ = false, busy_ = false;
    base::Failure error_;
    uint64_t errorIndex_ = 0;      // the failed entry's index while error_ is set
    std::atomic<bool> failed_{false};  // error_ is set: the writer reads it without the lock
    pcupd::VerifyCache verified_;  // filled as files close
    uint64_t nextIndex_ = 0;       // the stream thread's
    ProgressSink& progress_;
    const int64_t totalBytes_;
    uint64_t written_ = 0;  // the writer thread's
    const WriterOptions options_;
    std::thread thread_;
    std::vector<std::thread> closers_;
};

}  // namespace installer
