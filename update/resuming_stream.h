#pragma once
// A response body that survives a dropped connection: where the body ends short of its
// Content-Length, a read fails midway or the connection stalls (update/stall_watch.h), the
// stream asks the server for the rest with a Range request and goes on from exactly the next
// byte, so the reader never sees the cut. Used by the archive install and by each repair
// download, on the thread that reads.

#include <cstdint>
#include <string>

#include "update/http.h"
#include "update/stall_watch.h"

namespace pcupd {

class ResumingStream {
public:
    // Reopenings allowed per stream, whether they bring bytes or not.
    static constexpr int kMaxResumes = 5;

    explicit ResumingStream(const TransferOptions& options = TransferOptions{})
        : options_(options), watch_(options.stall) {}
    ResumingStream(const ResumingStream&) = delete;
    ResumingStream& operator=(const ResumingStream&) = delete;

    // As HttpStream::open: closes whatever is open, then GETs `url` (status 200 only).
    bool open(const std::string& url, base::Failure& failure);
    // Closes whatever is open, then reads bytes `first` to `last` of `url`'s body of `total`
    // bytes, whose first response carried `validator` (for If-Range), as one more transfer
    // of that body: the request itself is the first of its kMaxResumes + 1 tries (a request
    // that gets no answer is tried again after a pause), and every resume asks for the rest
    // of the range only. False when no try opened it: refused() tells a server that answered
    // something else from one that did not answer. received() counts from `first`.
    bool openRange(const std::string& url, int64_t first, int64_t last, int64_t total,
                   const std::wstring& validator);
    // As HttpStream::read, cuts hidden: 0 only at the end of the body, -1 when closed or when
    // length < 1. A cut that cannot be resumed reads as it does on an HttpStream (0 or -1):
    // no Content-Length, no "Accept-Ranges: bytes" in the first response, a server that does
    // not answer the rest exactly (then no further tries), or kMaxResumes used up. A stalled
    // connection is dropped and resumed the same way; one that cannot be reads as -1.
    int32_t read(void* buffer, int32_t length);
    void close();

    int64_t contentLength() const { return total_; }  // the whole body's; -1 when unknown
    int64_t received() const { return position_; }    // body bytes read, over every response
    int resumes() const { return resumes_; }
    // Whether a cut can be resumed: a known length, and a first response that said the
    // server takes byte ranges.
    bool resumable() const { return resumable_; }
    const std::wstring& validator() const { return validator_; }  // strong ETag, or empty
    // The server answered a reopening with anything but the exact range asked for.
    bool refused() const { return refused_; }
    // Why the last read ended the body early: kStalled when the connection had stalled,
    // otherwise kConnection with `otherwise` as its text.
    bool stalled() const { return stalled_; }
    base::Failure readFailure(const std::string& otherwise) const;

private:
    bool resume();
    int64_t toRead() const { return last_ >= 0 ? last_ - first_ + 1 : total_; }  // the part's length

    const TransferOptions options_;
    HttpStream stream_;
    StallWatch watch_;
    std::string url_;
    std::wstring validator_;  // the first response's strong ETag, empty when it had none
    int64_t total_ = -1, position_ = 0;
    int64_t first_ = 0, last_ = -1;  // the part of the body read: from first_, to last_ (-1: end)
    int resumes_ = 0;
    int failedInARow_ = 0;     // tries since the last one that brought a byte
    bool awaitingByte_ = false;  // reopened, no byte read since
    bool refused_ = false;
    bool resumable_ = false;   // a known length, and a server that says it takes byte ranges
    bool stalled_ = false;     // the connection was dropped for want of speed, no byte since
};

}  // namespace pcupd
