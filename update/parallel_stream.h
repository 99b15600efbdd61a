#pragma once
// A large response body fetched over several connections at once and read in order, for
// links where one connection gets less than the line can carry (a per-connection rate limit
// at a CDN, a long round trip).
//
// The first response decides. When it says the server takes byte ranges (Accept-Ranges:
// bytes), gives a Content-Length and a strong ETag for If-Range, and the body is longer than
// one window, the body is split into windows of TransferOptions::windowBytes. The reader
// takes the first window straight off that first response while `connections` - 1 threads
// fetch the next ones with Range requests, each into a buffer of its own; once it is past
// the first, `connections` threads do. The reader reads each window as it fills, so the
// bytes it hands on come at the speed of the window in front. A thread starts a window only
// when the reader has finished with the one `connections` windows before it, so at most
// `connections` windows are held and as many connections are open: memory is bounded by
// connections x windowBytes (4 x 8 MiB = 32 MiB by default), whatever the size of the body.
//
// Each window is a transfer of its own, with what a single download has (ResumingStream): a
// cut is resumed from the window's next byte with If-Range, up to kMaxResumes times with
// growing pauses, and a stalled connection is dropped and resumed the same way. A window
// that cannot be finished ends the body there, as a cut that cannot be resumed does: the
// reader gets every byte before it, then -1, and readFailure() says kStalled or kConnection.
// A server that answers a window request with anything but that exact range (it stopped
// taking ranges, or the file changed and If-Range brought a 200) is read on one connection
// from there: a plain GET whose Content-Length and ETag must match the first response's,
// read past the bytes already handed on. With another ETag the body ends there instead.
//
// Where mirrors serve the body too (update/download_hosts.h), the first response and each
// window move from a host that fails them to the next one as a single download does; a
// window asks its If-Range only of the host whose response gave the validator, the bytes
// being named by their digest everywhere.
//
// Anything else (a server that takes no ranges, no validator, connections = 1, a body of one
// window) is read on the first response alone, exactly as ResumingStream reads it.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/http.h"
#include "update/resuming_stream.h"

namespace pcupd {

class ParallelStream {
public:
    explicit ParallelStream(const TransferOptions& options = TransferOptions{});
    ParallelStream(const ParallelStream&) = delete;
    ParallelStream& operator=(const ParallelStream&) = delete;
    ~ParallelStream() { close(); }

    // GETs `url` (status 200 only, as HttpStream::open) and starts the window threads when
    // the response allows them.
    bool open(const std::string& url, base::Failure& failure);
    // As ResumingStream::read: the body in order, cuts hidden; 0 only at its end, -1 when
    // closed, when length < 1 or when the body broke off for good.
    int32_t read(void* buffer, int32_t length);
    // Stops the window threads (each finishes the read it is in) and closes every connection.
    void close();

    int64_t contentLength() const { return total_; }  // -1 when unknown
    int64_t received() const { return position_; }    // bytes handed to the reader
    // As ResumingStream: whether the read that ended the body early did so for want of
    // speed, and the failure to report (kStalled, or kConnection with `otherwise`).
    bool stalled() const { return stalled_; }
    base::Failure readFailure(const std::string& otherwise) const;

private:
    struct Slot {  // one window's buffer; the fields below `bytes` are guarded by lock_
        std::unique_ptr<char[]> bytes;
        int64_t window = -1;  // the window it holds, -1 before the first
        int64_t filled = 0;   // bytes of it received
        bool ended = false;   // its thread is done with it: whole, or failed
        bool stalled = false, refused = false;  // why it failed
        base::Failure failure;  // after more than one host: the last one's
    };

    int32_t readWindow(char* buffer, int32_t length);
    int32_t fallBack(char* buffer, int32_t length);
    void noteHostsFailure(const ResumingStream& stream);
    void fetchWindows() noexcept;
    void fetch(int64_t window, Slot& slot);
    void stopThreads();
    int64_t windowLength(int64_t window) const;

    const TransferOptions options_;
    ResumingStream sequential_;  // the first response, or the one a fallback opened
    std::string url_;
    std::wstring validator_;
    size_t validatorHost_ = 0;  // the host whose first response gave validator_
    int64_t total_ = -1, position_ = 0;
    int64_t windowBytes_ = 0, windowCount_ = 0;  // windowCount_ 0: one connection only
    bool stalled_ = false;
    base::Failure hostsFailure_;  // the body broke off after more than one host failed it

    std::mutex lock_;
    std::condition_variable filledSignal_;  // to the reader: a slot got bytes or ended
    std::condition_variable roomSignal_;    // to the threads: the reader moved on, or stop
    std::vector<Slot> slots_;               // window w lives in slots_[w % slots_.size()]
    int64_t nextWindow_ = 1;  // the next one a thread takes; guarded by lock_
    int64_t head_ = 0;        // the window the reader is in; guarded by lock_
    bool stopping_ = false;   // guarded by lock_
    std::vector<std::thread> threads_;
};

}  // namespace pcupd
