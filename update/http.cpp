#include "update/http.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <tuple>

#include "base/text.h"
#include "update/manifest.h"

namespace pcupd {
namespace {

constexpr wchar_t kUserAgent[] = L"OrvaneOnline-PC-Updater/1.0";

// A TLS handshake or certificate check that failed: "no network?" would send the player
// looking in the wrong place. Wine reports every one of them as the channel error.
bool isSecureFailure(DWORD code) {
    switch (code) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return true;
    default:
        return false;
    }
}
constexpr int kResolveTimeoutMs = 15000, kConnectTimeoutMs = 15000, kSendTimeoutMs = 15000,
              kReceiveTimeoutMs = 30000;

std::atomic<HttpFault> gFault{HttpFault::None};
std::atomic<bool> gReuse{true};

// atoi-style: optional blanks and sign, then digits up to the first other character; no
// digits gives 0. The value is taken modulo 2^16, as a 16-bit truncation of the integer.
uint16_t parsePort(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = (value * 10 + static_cast<uint32_t>(text[i] - '0')) & 0xFFFF;
    return static_cast<uint16_t>(negative ? (0x10000 - value) & 0xFFFF : value);
}

}  // namespace

void setHttpFaultForTesting(HttpFault fault) { gFault = fault; }

bool parseUrl(const std::string& url, std::wstring& host, uint16_t& port, std::wstring& path,
              bool& secure) {
    secure = true;
    port = INTERNET_DEFAULT_HTTPS_PORT;
    const size_t separator = url.find("://");
    if (separator == std::string::npos) return false;

    const std::string scheme = toLowerAscii(url.substr(0, separator));
    if (scheme == "http") {
        secure = false;
        port = INTERNET_DEFAULT_HTTP_PORT;
    } else if (scheme != "https") {
        return false;
    }

    const std::string rest = url.substr(separator + 3);
    const size_t slash = rest.find('/');
    const std::string hostAndPort = rest.substr(0, slash);
    const std::string pathText = slash == std::string::npos ? "/" : rest.substr(slash);

    const size_t colon = hostAndPort.find(':');
    std::string hostText = hostAndPort;
    if (colon != std::string::npos) {
        hostText = hostAndPort.substr(0, colon);
        port = parsePort(hostAndPort.substr(colon + 1));
    }
    host = base::toWide(hostText);
    path = base::toWide(pathText);
    return !host.empty();
}

namespace {

HINTERNET openSession(HttpFault fault) {
    if (fault == HttpFault::Open) return nullptr;
    HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session)
        WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                           kReceiveTimeoutMs);
    return session;
}

HINTERNET connectTo(HINTERNET session, const std::wstring& host, uint16_t port, HttpFault fault) {
    return fault == HttpFault::Connect ? nullptr : WinHttpConnect(session, host.c_str(), port, 0);
}

// Opens a GET for `path` on `connection`, sends it and waits for the response headers. The
// request is handed back whatever happens; false with the step's text when no response came.
bool sendGet(HINTERNET connection, const std::wstring& path, bool secure,
             const std::wstring& headers, bool keepAlive, HttpFault fault, HINTERNET& request,
             std::string& error) {
    request = fault == HttpFault::OpenRequest
                  ? nullptr
                  : WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request) {
        error = "WinHttpOpenRequest failed";
        return false;
    }
    if (!keepAlive) {
        DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
    }
    const wchar_t* extra = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
    if (!WinHttpSendRequest(request, extra, static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        error = isSecureFailure(GetLastError())
                    ? "WinHttpSendRequest failed (secure connection refused: certificate not "
                      "trusted or not for this host)"
                    : "WinHttpSendRequest failed (no network?)";
        return false;
    }
    if (!WinHttpReceiveResponse(request, nullptr)) {
        error = "WinHttpReceiveResponse failed";
        return false;
    }
    return true;
}

// A failed query leaves 0, which reads as "HTTP status 0": no response line we accept.
DWORD statusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    return status;
}

bool requireOk(HINTERNET request, const std::string& url, std::string& error) {
    const DWORD status = statusCode(request);
    if (status == HTTP_STATUS_OK) return true;
    error = "HTTP status " + std::to_string(status) + " for " + url;
    return false;
}

}  // namespace

bool openRequest(const std::string& url, HINTERNET& session, HINTERNET& connection,
                 HINTERNET& request, std::string& error) {
    session = connection = request = nullptr;
    std::wstring host, path;
    uint16_t port = 0;
    bool secure = true;
    if (!parseUrl(url, host, port, path, secure)) {
        error = "bad url: " + url;
        return false;
    }
    const HttpFault fault = gFault;
    session = openSession(fault);
    if (!session) {
        error = "WinHttpOpen failed";
        return false;
    }
    connection = connectTo(session, host, port, fault);
    if (!connection) {
        error = "WinHttpConnect failed";
        return false;
    }
    return sendGet(connection, path, secure, {}, true, fault, request, error) &&
           requireOk(request, url, error);
}

bool openRequest(const std::string& url, RequestHandles& handles, std::string& error) {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    const bool ok = openRequest(url, session, connection, request, error);
    handles.request.reset(request);
    handles.connection.reset(connection);
    handles.session.reset(session);
    return ok;
}

namespace {

using HostKey = std::tuple<bool, std::wstring, uint16_t>;  // secure, host, port

// The pool is never destroyed: when the window ends the program, the detached install worker
// may still be inside a request, and must not find the map torn down under it.
struct SessionPool {
    std::mutex lock;
    std::map<HostKey, std::shared_ptr<HostSession>> hosts;  // guarded by lock
};
SessionPool& pool() {
    static SessionPool* const instance = new SessionPool;
    return *instance;
}

// The shared session for `key`, opened on first use. Opening happens outside the lock (it may
// look for a proxy); when two threads race, the first one pooled is used by both.
std::shared_ptr<HostSession> hostSession(const HostKey& key, bool pooled, HttpFault fault,
                                         std::string& error) {
    if (pooled) {
        std::lock_guard<std::mutex> hold(pool().lock);
        const auto found = pool().hosts.find(key);
        if (found != pool().hosts.end()) return found->second;
    }
    auto fresh = std::make_shared<HostSession>();
    fresh->session.reset(openSession(fault));
    if (!fresh->session) {
        error = "WinHttpOpen failed";
        return nullptr;
    }
    fresh->connection.reset(connectTo(fresh->session.get(), std::get<1>(key), std::get<2>(key), fault));
    if (!fresh->connection) {
        error = "WinHttpConnect failed";
        return nullptr;
    }
    if (!pooled) return fresh;
    std::lock_guard<std::mutex> hold(pool().lock);
    return pool().hosts.emplace(key, std::move(fresh)).first->second;
}

// After a request that got no answer the next one starts on a new session: the connection
// handle remembers the server's address, which a change of network may have made stale.
void dropHostSession(const HostKey& key, const std::shared_ptr<HostSession>& host) {
    std::lock_guard<std::mutex> hold(pool().lock);
    const auto found = pool().hosts.find(key);
    if (found != pool().hosts.end() && found->second == host) pool().hosts.erase(found);
}

}  // namespace

void setConnectionReuseForTesting(bool reuse) {
    gReuse = reuse;
    std::lock_guard<std::mutex> hold(pool().lock);
    pool().hosts.clear();
}

bool sendSharedRequest(const std::string& url, const std::wstring& headers, SharedRequest& shared,
                       DWORD& status, std::string& error) {
    shared.request.reset();
    shared.host.reset();
    std::wstring host, path;
    uint16_t port = 0;
    bool secure = true;
    if (!parseUrl(url, host, port, path, secure)) {
        error = "bad url: " + url;
        return false;
    }
    const HttpFault fault = gFault;
    const bool reuse = gReuse;
    const bool pooled = reuse && fault == HttpFault::None;
    const HostKey key{secure, host, port};
    shared.host = hostSession(key, pooled, fault, error);
    if (!shared.host) return false;
    HINTERNET request = nullptr;
    const bool sent = sendGet(shared.host->connection.get(), path, secure, headers, reuse, fault,
                              request, error);
    shared.request.reset(request);
    if (!sent) {
        if (pooled) dropHostSession(key, shared.host);
        return false;
    }
    status = statusCode(request);
    return true;
}

bool openSharedRequest(const std::string& url, SharedRequest& shared, std::string& error) {
    DWORD status = 0;
    return sendSharedRequest(url, {}, shared, status, error) &&
           requireOk(shared.request.get(), url, error);
}

int64_t contentLength(HINTERNET request) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return -1;
    // Leading digits only; a value past the 64-bit range saturates rather than wrapping.
    int64_t value = 0;
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) {
        const int digit = *p - L'0';
        if (value > (INT64_MAX - digit) / 10) return INT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

bool httpGet(const std::string& url, std::string& body, std::string& error,
             const StallLimit& limit) {
    SharedRequest shared;
    if (!openSharedRequest(url, shared, error)) return false;
    HINTERNET request = shared.request.get();

    body.clear();
    const int64_t expected = contentLength(request);
    if (expected > kMaxHttpGetBody) {
        error = "response too large";
        return false;
    }
    // Bytes past the declared length are no part of the body (Wine's transport can hand
    // over what a server sent after it).
    StallWatch watch(limit);
    while (expected < 0 || static_cast<int64_t>(body.size()) < expected) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            error = "read failed";
            return false;
        }
        if (available == 0) break;
        if (expected >= 0)
            available = static_cast<DWORD>(std::min<int64_t>(available, expected - static_cast<int64_t>(body.size())));
        if (body.size() + available > static_cast<uint64_t>(kMaxHttpGetBody)) {
            error = "response too large";
            return false;
        }
        const size_t old = body.size();
        body.resize(old + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, &body[old], available, &read)) {
            body.resize(old);
            error = "read failed";
            return false;
        }
        body.resize(old + read);
        if (watch.stalled(read)) {
            error = stalledText(url, limit);
            return false;
        }
    }
    // A connection that drops early can look like a normal end of the body; the declared
    // length is the only way to tell a cut document from a whole one.
    if (expected >= 0 && static_cast<int64_t>(body.size()) < expected) {
        error = "read failed";
        return false;
    }
    return true;
}

int32_t readAvailable(HINTERNET request, void* buffer, int32_t length) {
    if (length < 1) return -1;
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return -1;
    if (available == 0) return 0;
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer, std::min<DWORD>(available, static_cast<DWORD>(length)), &read))
        return -1;
    return static_cast<int32_t>(read);
}

}  // namespace pcupd
