#include "install/entry_writer.h"

#include <cstring>
#include <new>

#include "base/long_path.h"

namespace installer {

namespace {

// One block being filled from the network, one being written, one spare to absorb jitter
// between the two sides.
constexpr size_t kBlocks = 3;

}  // namespace

void EntryWriter::AlignedFree::operator()(char* p) const {
    ::operator delete[](p, std::align_val_t{32});
}

EntryWriter::EntryWriter(ProgressSink& progress, int64_t totalBytes, const WriterOptions& options)
    : progress_(progress), totalBytes_(totalBytes), options_(options) {
    for (size_t i = 0; i < kBlocks; ++i) {
        blocks_.emplace_back(new (std::align_val_t{32}) char[kBlockSize]());
        free_.push_back(blocks_.back().get());
    }
    thread_ = std::thread([this] { run(); });
    for (unsigned i = 0; i < options_.closeThreads; ++i) closers_.emplace_back([this] { closeLoop(); });
}

EntryWriter::~EntryWriter() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    closeWork_.notify_all();
    closed_.notify_all();
    thread_.join();
    // Files still waiting are closed by their owners as the queue goes.
    for (std::thread& closer : closers_) closer.join();
}

bool EntryWriter::closeFile(HANDLE file, const std::string&) {
    return CloseHandle(file) != FALSE;
}

void EntryWriter::beginEntry(const std::wstring& target, const std::string& path, uint64_t size,
                             const uint8_t (&expected)[pcupd::kSha256Size]) {
    auto entry = std::make_unique<Entry>();
    entry->index = nextIndex_++;
    entry->target = target;
    entry->path = path;
    entry->size = size;
    std::memcpy(entry->expected, expected, sizeof(entry->expected));
    current_ = entry.get();
    std::lock_guard<std::mutex> hold(mutex_);
    entries_.push_back(std::move(entry));
}

char* EntryWriter::space(size_t& room) {
    if (filling_.block && (filling_.used == kBlockSize || filling_.pieces.size() >= kMaxPieces))
        submit();
    if (!filling_.block) {
        std::unique_lock<std::mutex> hold(mutex_);
        changed_.wait(hold, [this] { return !free_.empty() || error_.failed(); });
        if (error_) return nullptr;
        filling_.block = free_.back();
        free_.pop_back();
        filling_.used = 0;
        filling_.pieces.clear();
    }
    room = kBlockSize - filling_.used;
    return filling_.block + filling_.used;
}

void EntryWriter::commit(size_t size, bool last) {
    Entry* entry = current_;
    std::vector<Piece>& pieces = filling_.pieces;
    if (!pieces.empty() && pieces.back().entry == entry)
        pieces.back().size += size;
    else
        pieces.push_back({entry, filling_.used, size, false});
    pieces.back().last = last;
    filling_.used += size;
}

void EntryWriter::handOver() {
    if (filling_.block && filling_.used > 0) submit();
}

void EntryWriter::submit() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!error_)
            queue_.push_back(std::move(filling_));
        else  // nothing after the first failure is written
            free_.push_back(filling_.block);
    }
    filling_ = Job();
    changed_.notify_all();
}

bool EntryWriter::drain(base::Failure& error) {
    if (filling_.block) submit();
    std::unique_lock<std::mutex> hold(mutex_);
    // After a failure too: a file still closing comes earlier in the archive, and its own
    // failure would be the one to report.
    draining_ = true;
    changed_.wait(hold, [this] { return idle(); });
    if (!error_) return true;
    error = error_;
    return false;
}

bool EntryWriter::idle() const {
    return queue_.empty() && !busy_ && closing_.empty() && closersBusy_ == 0;
}

void EntryWriter::fail(const base::Failure& error, uint64_t index) {
    if (error_ && errorIndex_ <= index) return;
    error_ = error;
    errorIndex_ = index;
    failed_ = true;
}

void EntryWriter::run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const Job job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        hold.unlock();

        try {
            process(job);
        } catch (...) {  // nothing may escape a thread; a short text needs no allocation
            std::lock_guard<std::mutex> failed(mutex_);
            fail(base::Failure(base::FailureKind::kInternal, "out of memory"), UINT64_MAX);
        }

        hold.lock();
        busy_ = false;
        if (error_) {  // nothing after the first failure is written
            for (const Job& dropped : queue_) free_.push_back(dropped.block);
            queue_.clear();
        }
        free_.push_back(job.block);
        changed_.notify_all();
    }
}

void EntryWriter::process(const Job& job) {
    for (const Piece& piece : job.pieces) {
        if (failed_) return;  // a file closing elsewhere failed: create nothing more
        base::Failure error;
        const bool ok = processPiece(job.block, piece, error);
        if (!piece.last && ok) continue;
        std::unique_lock<std::mutex> hold(mutex_);
        std::unique_ptr<Entry> entry = std::move(entries_.front());  // the piece's entry
        entries_.pop_front();
        if (!ok) {
            fail(error, entry->index);
            return;  // the entry's file, if open, closes as it goes
        }
        if (options_.closeThreads == 0) {
            hold.unlock();
            if (!close(*entry, error)) {
                hold.lock();
                fail(error, entry->index);
                return;
            }
            continue;
        }
        closed_.wait(hold, [this] { return closing_.size() < kMaxPendingCloses || stopping_; });
        if (stopping_) return;
        closing_.push_back(std::move(entry));
        closeWork_.notify_one();
    }
}

bool EntryWriter::close(Entry& entry, base::Failure& error) {
    if (!closeFile(entry.file.release(), entry.path)) {
        error = base::Failure(base::FailureKind::kDisk, "disk write failed for " + entry.path, GetLastError());
        return false;
    }
    // The stamp a later verification compares with is the closed file's: a system may set
    // the last-write time as the handle closes.
    pcupd::FileStamp stamp;
    if (!pcupd::fileStamp(entry.target, stamp)) return true;
    std::lock_guard<std::mutex> hold(mutex_);
    verified_.record(entry.path, stamp, entry.expected);
    return true;
}

void EntryWriter::closeLoop() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        closeWork_.wait(hold, [this] { return stopping_ || !closing_.empty(); });
        if (stopping_) return;
        std::unique_ptr<Entry> entry = std::move(closing_.front());
        closing_.pop_front();
        ++closersBusy_;
        hold.unlock();

        base::Failure error;
        bool ok = false;
        try {
            ok = close(*entry, error);
        } catch (...) {
            error = base::Failure(base::FailureKind::kInternal, "out of memory");
        }
        const uint64_t index = entry->index;
        entry.reset();

        hold.lock();
        --closersBusy_;
        if (!ok) fail(error, index);
        if (!ok || draining_) changed_.notify_all();
        closed_.notify_all();
    }
}

bool EntryWriter::processPiece(const char* block, const Piece& piece, base::Failure& error) {
    Entry& entry = *piece.entry;
    if (!entry.file) {  // the entry's first bytes: nothing is created after a failure
        // The hash object is made only now: queued entries, up to thousands of them when
        // files are tiny, would otherwise each hold one.
        entry.sha.emplace();
        base::createParentDirectories(entry.target);
        const auto create = [&entry] {
            entry.file.reset(CreateFileW(entry.target.c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        create();
        if (!entry.file && options_.closeThreads > 0) {
            // An archive may write one file twice (or two spellings of one name): the first
            // may still be open, waiting to close. Once nothing is, try again.
            const DWORD first = GetLastError();
            {
                std::unique_lock<std::mutex> hold(mutex_);
                closed_.wait(hold, [this] { return (closing_.empty() && closersBusy_ == 0) || stopping_; });
            }
            create();
            if (!entry.file) SetLastError(first);
        }
        if (!entry.file) {
            error = base::Failure(base::FailureKind::kDisk,
                                  "cannot create " + entry.path + " (disk full or permissions?)", GetLastError());
            return false;
        }
    }
    if (piece.size > 0) {
        DWORD written = 0;
        if (!WriteFile(entry.file.get(), block + piece.offset, static_cast<DWORD>(piece.size),
                       &written, nullptr) ||
            written != piece.size) {
            error = base::Failure(base::FailureKind::kDisk, "disk write failed for " + entry.path, GetLastError());
            return false;
        }
        entry.sha->update(block + piece.offset, piece.size);
        written_ += piece.size;
        progress_.bytes(written_, totalBytes_);
    }
    if (!piece.last) return true;
    uint8_t actual[pcupd::kSha256Size];
    const bool finished = entry.sha->finish(actual);
    entry.sha.reset();  // a file waiting to close holds no hash object
    if (!finished || std::memcmp(actual, entry.expected, sizeof(actual)) != 0) {
        error = base::Failure(base::FailureKind::kMismatch, "checksum mismatch for " + entry.path);
        return false;
    }
    return true;  // closed by process(), here or on a closing thread
}

}  // namespace installer
