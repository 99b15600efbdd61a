#pragma once
// A response body that survives a dropped connection: where the body ends short of its
// Content-Length, a read fails midway or the connection stalls (update/stall_watch.h), the
// stream asks the server for the rest with a Range request and goes on from exactly the next
// byte, so the reader never sees the cut. Used by the archive install, by each repair
// download and for the chunks a repair fetches, on the thread that reads.
//
// Where the manifest names mirrors (update/download_hosts.h), a transfer is not bound to one
// host: a host that fails it (no answer, a refused secure connection, a server error, a file
// it does not have, a cut, a stall) is left for the next one, which is asked for the rest
// from the same byte. Each host gets the tries one host alone gets, and the stream fails
// only once no host has any left.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/http.h"
#include "update/stall_watch.h"

namespace pcupd {

class ResumingStream {
public:
    // Reopenings allowed per stream on each host, whether they bring bytes or not.
    static constexpr int kMaxResumes = 5;

    explicit ResumingStream(const TransferOptions& options = TransferOptions{})
        : options_(options), watch_(options.stall) {}
    ResumingStream(const ResumingStream&) = delete;
    ResumingStream& operator=(const ResumingStream&) = delete;

    // As HttpStream::open: closes whatever is open, then GETs `url` (status 200 only), from
    // the host the run is on; a host that fails the request as worthAnotherHost says is
    // left for the next, each asked once. On failure, the last host's (everyHostFailed).
    bool open(const std::string& url, base::Failure& failure);
    // Closes whatever is open, then reads bytes `first` to `last` of `url`'s body of `total`
    // bytes, whose response from host `validatorHost` carried `validator` (for If-Range
    // there; other hosts are asked without one), as one more transfer of that body: the
    // request itself is a try beyond the budget of the host the run is on, and every resume
    // asks for the rest of the range only. False when no try opened it: refused() tells a
    // server that answered something else from one that did not answer, failure() what the
    // last try met. received() counts from `first`.
    bool openRange(const std::string& url, int64_t first, int64_t last, int64_t total,
                   const std::wstring& validator, size_t validatorHost = 0);
    // As HttpStream::read, cuts hidden: 0 only at the end of the body, -1 when closed or when
    // length < 1. A cut that cannot be resumed reads as it does on an HttpStream (0 or -1):
    // no Content-Length, no "Accept-Ranges: bytes" in the first response and no other host,
    // hosts that do not answer the rest exactly, or every host's tries used up. A stalled
    // connection is dropped and resumed the same way; one that cannot be reads as -1. A
    // whole body taken up on another host that takes no ranges is read from its start, the
    // bytes already read skipped.
    int32_t read(void* buffer, int32_t length);
    void close();

    int64_t contentLength() const { return total_; }  // the whole body's; -1 when unknown
    int64_t received() const { return position_; }    // body bytes read, over every response
    int resumes() const { return resumes_; }          // reopenings, on every host
    // Whether a cut can be resumed on the host that first answered: a known length, and a
    // first response that said the server takes byte ranges.
    bool resumable() const { return resumable_; }
    size_t host() const { return host_; }  // the host read from now (update/download_hosts.h)
    size_t hosts() const { return tries_.size(); }  // how many serve the body; 0 when closed
    const std::wstring& validator() const;  // that host's strong ETag, or empty
    // The last try was answered with anything but the exact range asked for.
    bool refused() const { return refused_; }
    // Why the last read ended the body early: kStalled when the connection had stalled,
    // otherwise kConnection with `otherwise` as its text; after more than one host, the
    // last host's failure, naming it (everyHostFailed).
    bool stalled() const { return stalled_; }
    base::Failure readFailure(const std::string& otherwise) const;
    // What the last failed try met; none once a try has opened the body.
    const base::Failure& failure() const { return lastFailure_; }

private:
    struct HostTries {
        int left = kMaxResumes;   // reopenings it may still get
        int failedInARow = 0;     // its tries since it last brought a byte
        std::wstring validator;   // its strong ETag for this body, once it gave one
    };

    void begin(const std::string& url);
    size_t hostCount() const { return tries_.size(); }
    std::string urlOn(size_t host) const;
    size_t startHost() const;
    size_t pick(size_t from, bool stay) const;
    void noteFailure(size_t host, const base::Failure& failure);
    void announce();
    bool resume();
    bool reopen(size_t from, bool stay);
    int64_t toRead() const { return last_ >= 0 ? last_ - first_ + 1 : total_; }  // the part's length

    const TransferOptions options_;
    HttpStream stream_;
    StallWatch watch_;
    std::string url_;
    std::vector<HostTries> tries_;  // one per host that serves url_
    size_t host_ = 0;               // the one read from now
    size_t begun_ = 0;              // the one whose response began the body
    size_t announced_ = SIZE_MAX;   // the one whose bytes the run was last told of
    std::string left_;              // why the stream left a host, until the next one brings bytes
    base::Failure lastFailure_;
    std::string lastUrl_;           // where lastFailure_ was met
    int64_t total_ = -1, position_ = 0;
    int64_t first_ = 0, last_ = -1;  // the part of the body read: from first_, to last_ (-1: end)
    int64_t skip_ = 0;          // bytes of a whole body still to pass over before position_
    int resumes_ = 0;
    bool whole_ = false;        // reading the whole body (open), not a range of it
    bool awaitingByte_ = false;  // reopened, no byte read since
    bool refused_ = false;
    bool resumable_ = false;   // a known length, and a server that says it takes byte ranges
    bool stalled_ = false;     // the connection was dropped for want of speed, no byte since
};

}  // namespace pcupd
