#pragma once
// Plain synchronous HTTP(S) GET over WinHTTP, called on the worker thread (and on repair's
// download threads). Failures fill a short English text in the caller's error string;
// nothing here throws or retries (update/resuming_stream.h resumes cut bodies).

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/unique_handle.h"
#include "update/stall_watch.h"

namespace pcupd {

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
using UniqueInternet = base::UniqueAny<InternetHandleTraits>;

// The largest body httpGet accepts ("response too large" beyond it): far above any real
// manifest, low enough that a server that never ends its body cannot exhaust memory.
constexpr int64_t kMaxHttpGetBody = 64LL * 1024 * 1024;

// Splits "scheme://host[:port][/path]" (http or https). False when the scheme is missing or
// unknown or the host is empty. The path keeps its query and is never escaped or decoded.
bool parseUrl(const std::string& url, std::wstring& host, uint16_t& port, std::wstring& path,
              bool& secure);

// Opens session, connection and request, sends a GET and waits for the headers; true only
// for status 200. Every handle opened is handed back, even on failure: the caller owns and
// closes them (request, connection, session). A session of its own each time: httpGet,
// HttpStream and downloadToFile share theirs instead (SharedRequest below).
bool openRequest(const std::string& url, HINTERNET& session, HINTERNET& connection,
                 HINTERNET& request, std::string& error);

// Same, with the three handles handed straight to owners that close them in the right order.
struct RequestHandles {
    UniqueInternet session, connection, request;  // destroyed request first
    RequestHandles() = default;
    RequestHandles(RequestHandles&&) = default;
    RequestHandles& operator=(RequestHandles&&) = default;
    ~RequestHandles() {
        request.reset();
        connection.reset();
        session.reset();
    }
};
bool openRequest(const std::string& url, RequestHandles& handles, std::string& error);

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
// status code in `status`; otherwise false with openRequest's texts.
bool sendSharedRequest(const std::string& url, const std::wstring& headers, SharedRequest& shared,
                       DWORD& status, std::string& error);
// The same with no extra headers, true only for status 200 ("HTTP status N for URL").
bool openSharedRequest(const std::string& url, SharedRequest& shared, std::string& error);

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

// GETs a small document (the manifest) into `body`, bytes as received. Fails with "read failed"
// when the body breaks off or ends short of its Content-Length, and with "response too large"
// beyond kMaxHttpGetBody; with stalledText() when it comes slower than `limit` allows.
bool httpGet(const std::string& url, std::string& body, std::string& error,
             const StallLimit& limit = StallLimit{});

// A response body read piece by piece into the caller's buffer (the archive stream).
struct HttpStream {
    // The request is the stream's own; session and connection are its host's shared ones
    // (`host`), which close() leaves open for the other requests.
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    int64_t contentLength = -1;  // -1 when unknown or closed
    int64_t received = 0;        // body bytes read so far; reads stop at contentLength
    std::shared_ptr<HostSession> host;

    HttpStream() = default;
    HttpStream(const HttpStream&) = delete;
    HttpStream& operator=(const HttpStream&) = delete;
    ~HttpStream() { close(); }

    // Closes whatever is open, then GETs `url`; on failure the stream stays closed.
    bool open(const std::string& url, std::string& error);

    // Closes whatever is open, then GETs bytes `from` to the end of `url`'s body of `total`
    // bytes, with `validator` (a strong ETag, may be empty) in If-Range so that a changed file
    // is not spliced onto the old one. Opened only for a 206 whose Content-Range starts at
    // `from` and names `total`; contentLength is then what that range holds.
    enum class Range { Opened, NoResponse, Refused };
    Range openRange(const std::string& url, int64_t from, int64_t total,
                    const std::wstring& validator, std::string& error);
    // One read of at most `length` bytes: the count read, 0 at the end of the body, -1 when
    // closed, when length < 1 or when the read fails.
    int32_t read(void* buffer, int32_t length);
    void close();
};

// Test seam: makes the next requests fail at one WinHTTP step, which a real machine cannot
// be made to do on demand. While a fault is set, shared requests open a session of their own
// too, so that the step fails every time.
enum class HttpFault { None, Open, Connect, OpenRequest };
void setHttpFaultForTesting(HttpFault fault);

// Test and benchmark seam: with reuse off, every shared request opens a session of its own
// and asks for no keep-alive, so each one costs a new TCP (and TLS) connection, as a session
// per request does on Windows. (Wine pools idle connections per process, not per session,
// so a new session alone would still reuse them there.) On by default.
void setConnectionReuseForTesting(bool reuse);

}  // namespace pcupd
