#include "install/entry_writer.h"

#include <cstring>
#include <new>

#include "base/archive_format.h"
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

EntryWriter::EntryWriter(ProgressSink& progress, int64_t totalBytes, pcupd::Sha256* streamHash)
    : progress_(progress), totalBytes_(totalBytes), streamHash_(streamHash) {
    for (size_t i = 0; i < kBlocks; ++i) {
        blocks_.emplace_back(new (std::align_val_t{32}) char[kBlockSize]());
        free_.push_back(blocks_.back().get());
    }
    thread_ = std::thread([this] { run(); });
}

EntryWriter::~EntryWriter() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void EntryWriter::beginEntry(const std::wstring& target, const std::string& path, uint64_t size,
                             const uint8_t (&expected)[pcupd::kSha256Size]) {
    auto entry = std::make_unique<Entry>();
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
    changed_.wait(hold, [this] { return (queue_.empty() && !busy_) || error_.failed(); });
    if (!error_) return true;
    error = error_;
    return false;
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

        base::Failure error;
        bool ok = false;
        try {
            ok = process(job, error);
        } catch (...) {  // nothing may escape a thread; a short text needs no allocation
            error = base::Failure(base::FailureKind::kInternal, "out of memory");
        }

        hold.lock();
        busy_ = false;
        if (!ok && !error_) {
            error_ = error;
            for (const Job& dropped : queue_) free_.push_back(dropped.block);
            queue_.clear();
        }
        free_.push_back(job.block);
        changed_.notify_all();
    }
}

bool EntryWriter::process(const Job& job, base::Failure& error) {
    for (const Piece& piece : job.pieces) {
        const bool ok = processPiece(job.block, piece, error);
        if (piece.last || !ok) {
            std::lock_guard<std::mutex> hold(mutex_);
            entries_.pop_front();  // the piece's entry: closes its file if still open
        }
        if (!ok) return false;
    }
    return true;
}

bool EntryWriter::processPiece(const char* block, const Piece& piece, base::Failure& error) {
    Entry& entry = *piece.entry;
    if (!entry.file) {  // the entry's first bytes: nothing is created after a failure
        // The hash object is made only now: queued entries, up to thousands of them when
        // files are tiny, would otherwise each hold one.
        entry.sha.emplace();
        if (streamHash_) {
            const std::string head = base::encodeEntryHead(entry.path, entry.size, entry.expected);
            streamHash_->update(head.data(), head.size());
        }
        base::createParentDirectories(entry.target);
        entry.file.reset(CreateFileW(entry.target.c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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
        if (streamHash_) streamHash_->update(block + piece.offset, piece.size);
        written_ += piece.size;
        progress_.bytes(written_, totalBytes_);
    }
    if (!piece.last) return true;
    uint8_t actual[pcupd::kSha256Size];
    const bool finished = entry.sha->finish(actual);
    entry.file.reset();  // a finished entry is closed before the next one starts
    if (!finished || std::memcmp(actual, entry.expected, sizeof(actual)) != 0) {
        error = base::Failure(base::FailureKind::kMismatch, "checksum mismatch for " + entry.path);
        return false;
    }
    pcupd::FileStamp stamp;
    if (pcupd::fileStamp(entry.target, stamp))
        verified_.record(entry.path, stamp, actual);
    return true;
}

}  // namespace installer
