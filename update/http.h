#pragma once
// Plain synchronous HTTP(S) GET over WinHTTP, called on the worker thread. Failures fill a
// short English text in the caller's error string; nothing here throws or retries.

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "base/unique_handle.h"

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
// closes them (request, connection, session).
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

// The response's Content-Length, or -1 when it has none.
int64_t contentLength(HINTERNET request);

// GETs a small document (the manifest) into `body`, bytes as received. Fails with "read failed"
// when the body breaks off or ends short of its Content-Length, and with "response too large"
// beyond kMaxHttpGetBody.
bool httpGet(const std::string& url, std::string& body, std::string& error);

// A response body read piece by piece into the caller's buffer (the archive stream).
struct HttpStream {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    int64_t contentLength = -1;  // -1 when unknown or closed
    int64_t received = 0;        // body bytes read so far; reads stop at contentLength

    HttpStream() = default;
    HttpStream(const HttpStream&) = delete;
    HttpStream& operator=(const HttpStream&) = delete;
    ~HttpStream() { close(); }

    // Closes whatever is open, then GETs `url`; on failure the stream stays closed.
    bool open(const std::string& url, std::string& error);
    // One read of at most `length` bytes: the count read, 0 at the end of the body, -1 when
    // closed, when length < 1 or when the read fails.
    int32_t read(void* buffer, int32_t length);
    void close();
};

// Test seam: makes the next openRequest calls fail at one WinHTTP step, which a real
// machine cannot be made to do on demand.
enum class HttpFault { None, Open, Connect, OpenRequest };
void setHttpFaultForTesting(HttpFault fault);

}  // namespace pcupd
