#pragma once
// Plain synchronous HTTP(S) GET over WinHTTP, called on the worker thread (and on repair's
// download threads). Failures come back as a base::Failure: the kind and HTTP status that
// callers decide on, and the reader's text; nothing here throws or retries
// (update/resuming_stream.h resumes cut bodies).

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/failure.h"
#include "base/unique_handle.h"
#include "update/stall_watch.h"

namespace pcupd {

class DownloadHosts;

using UniqueInternet = base::UniqueOf<HINTERNET, &::WinHttpCloseHandle>;

// The largest body httpGet accepts ("response too large" beyond it): far above any real
// manifest, low enough that a server that never ends its body cannot exhaust memory.
constexpr int64_t kMaxHttpGetBody = 64LL * 1024 * 1024;

// How a run uses the network. The program runs with the defaults; tests and benchmarks pass
// others in.
struct TransferOptions {
    // One kept-alive connection per host for the whole run. Off: every request opens a
    // session of its own and asks for no keep-alive, so each one costs a new TCP (and TLS)
    // connection, which is what a benchmark compares with. (Wine pools idle connections per
    // process, not per session, so a new session alone would still reuse them there.)
    bool reuseConnections = true;
    // The pause before a second try after a cut, doubling with each further failed try (the
    // first try goes at once).
    uint32_t firstResumePauseMs = 500;
    StallLimit stall;  // the slowest a transfer may go
    // The full archive over up to this many connections at once, each fetching the next
    // window of `windowBytes` ahead of the reader (update/parallel_stream.h), when its
    // server takes byte ranges. 1: one connection, as any other download.
    unsigned connections = 4;
    uint32_t windowBytes = 8u << 20;
    // Where the manifest's files may be fetched besides the URLs as written: set by the run
    // once it has read the manifest, shared by its transfers. Null: as written only.
    std::shared_ptr<DownloadHosts> hosts;
};

// Splits "scheme://host[:port][/path]" (http or https). False when the scheme is missing or
// unknown, the host is empty or the port is not a number from 1 to 65535. The path keeps its
// query and is never escaped or decoded.
bool parseUrl(const std::string& url, std::wstring& host, uint16_t& port, std::wstring& path,
              bool& secure);

// The session and connection that every request of this process to one scheme, host and
// port goes through, so that WinHTTP keeps the TCP (and TLS) connection alive from one
// request to the next: the manifest, the archive, each repair download and each resume.
// Opened on first use; any thread may send requests on it at the same time.
struct HostSession {
    UniqueInternet session, connection;  // destroyed connection first
};

// A request on its host's shared session. The request closes first, then the last request
// of a host that has left the pool takes the session with it.
struct SharedRequest {
    std::shared_ptr<HostSession> host;
    UniqueInternet request;
};

// Sends a GET for `url` on its host's shared session, with `headers` ("Name: value" lines,
// empty for none), and waits for the response headers. True when a response arrived, its
// status code in `status`. Otherwise false: kBadInput ("bad url: URL"), kSecure (the
// certificate), kConnection (no network, no answer), kInternal (WinHTTP could not start).
bool sendSharedRequest(const std::string& url, const std::wstring& headers, SharedRequest& shared,
                       DWORD& status, base::Failure& failure,
                       const TransferOptions& options = TransferOptions{});
// The same with no extra headers, true only for status 200; any other status is kHttpStatus
// with it ("HTTP status N for URL").
bool openSharedRequest(const std::string& url, SharedRequest& shared, base::Failure& failure,
                       const TransferOptions& options = TransferOptions{});

// kHttpStatus with `status`: "HTTP status N for URL".
base::Failure httpStatusFailure(uint32_t status, const std::string& url);

// The response's Content-Length, or -1 when it has none.
int64_t contentLength(HINTERNET request);

// Reads "Content-Range: bytes FIRST-LAST/TOTAL"; false when the response has none or it says
// anything else (an unknown total "*" included).
bool contentRange(HINTERNET request, int64_t& first, int64_t& last, int64_t& total);

// One read of what has arrived: waits, up to the receive timeout, for at least one byte and
// takes at most `length` of what is there. The count, 0 at the end of the body, -1 when the
// read fails. (Wine's WinHttpReadData waits until it has filled the whole buffer, which a
// server sending a byte at a time would stretch without end.)
int32_t readAvailable(HINTERNET request, void* buffer, int32_t length);

// GETs a small document (a chunk index) into `body` (update/http_document.h: unconditional,
// not asked compressed). Fails as
// openSharedRequest does, with kConnection "read failed" when the body breaks off or ends
// short of its Content-Length, kTooLarge "response too large" beyond kMaxHttpGetBody, and
// kStalled (stalledText()) when it comes slower than the options' stall limit allows.
bool httpGet(const std::string& url, std::string& body, base::Failure& failure,
             const TransferOptions& options = TransferOptions{});

// A response body read piece by piece into the caller's buffer (the archive stream, a range
// of a file). The request is the stream's own; the session and connection are its host's
// shared ones, which close() leaves open for the other requests.
class HttpStream {
public:
    HttpStream() = default;
    HttpStream(const HttpStream&) = delete;
    HttpStream& operator=(const HttpStream&) = delete;
    ~HttpStream() { close(); }

    // Closes whatever is open, then GETs `url` (status 200 only); on failure the stream
    // stays closed.
    bool open(const std::string& url, base::Failure& failure,
              const TransferOptions& options = TransferOptions{});

    // Closes whatever is open, then GETs bytes `from` to `last` (-1: to the end) of `url`'s
    // body of `total` bytes, with `validator` (a strong ETag, may be empty) in If-Range so
    // that a changed file is not spliced onto the old one. Opened only for a 206 whose
    // Content-Range is exactly that range of `total`; contentLength() is then what it holds.
    // NoResponse: the request got no answer (as sendSharedRequest). Refused: any other
    // answer, kHttpStatus for another status, kBadInput for another range. With
    // `wholeWillDo`, a 200 with the whole body of `total` bytes (a server that takes no
    // ranges) is opened as Whole, from its first byte.
    enum class Range { Opened, Whole, NoResponse, Refused };
    Range openRange(const std::string& url, int64_t from, int64_t last, int64_t total,
                    const std::wstring& validator, base::Failure& failure,
                    const TransferOptions& options = TransferOptions{}, bool wholeWillDo = false);

    // One read of at most `length` bytes: the count read, 0 at the end of the body, -1 when
    // closed, when length < 1 or when the read fails.
    int32_t read(void* buffer, int32_t length);
    void close();

    bool isOpen() const { return static_cast<bool>(shared_.request); }
    HINTERNET request() const { return shared_.request.get(); }  // for its headers
    int64_t contentLength() const { return contentLength_; }    // -1 when unknown or closed

private:
    SharedRequest shared_;
    int64_t contentLength_ = -1;
    int64_t received_ = 0;  // body bytes read so far; reads stop at contentLength_
};

}  // namespace pcupd
