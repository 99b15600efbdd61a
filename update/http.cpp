#include "update/http.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

#include "base/text.h"
#include "update/http_document.h"
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

// The port of "host:port": 1 to 65535 in plain digits, nothing else (no sign, no blank, no
// wrap-around that would turn 65616 into 80).
bool parsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

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
        if (!parsePort(hostAndPort.substr(colon + 1), port)) return false;
    }
    host = base::toWide(hostText);
    path = base::toWide(pathText);
    return !host.empty();
}

namespace {

HINTERNET openSession() {
    HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session)
        WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                           kReceiveTimeoutMs);
    return session;
}

// Opens a GET for `path` on `connection`, sends it and waits for the response headers. The
// request is handed back whatever happens; false with the step's failure when no response came.
bool sendGet(HINTERNET connection, const std::wstring& path, bool secure,
             const std::wstring& headers, bool keepAlive, UniqueInternet& request,
             base::Failure& failure) {
    request.reset(WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        failure = base::Failure(base::FailureKind::kInternal, "WinHttpOpenRequest failed", GetLastError());
        return false;
    }
    if (!keepAlive) {
        DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
    }
    const wchar_t* extra = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
    if (!WinHttpSendRequest(request.get(), extra, static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        const DWORD code = GetLastError();
        failure = isSecureFailure(code)
                      ? base::Failure(base::FailureKind::kSecure,
                                      "WinHttpSendRequest failed (secure connection refused: "
                                      "certificate not trusted or not for this host)",
                                      code)
                      : base::Failure(base::FailureKind::kConnection,
                                      "WinHttpSendRequest failed (no network?)", code);
        return false;
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        failure = base::Failure(base::FailureKind::kConnection, "WinHttpReceiveResponse failed",
                                GetLastError());
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

// The shared session for `key`, opened on first use (or, unpooled, one of its own). Opening
// happens outside the lock (it may look for a proxy); when two threads race, the first one
// pooled is used by both.
std::shared_ptr<HostSession> hostSession(const HostKey& key, bool pooled, base::Failure& failure) {
    if (pooled) {
        std::lock_guard<std::mutex> hold(pool().lock);
        const auto found = pool().hosts.find(key);
        if (found != pool().hosts.end()) return found->second;
    }
    auto fresh = std::make_shared<HostSession>();
    fresh->session.reset(openSession());
    if (!fresh->session) {
        failure = base::Failure(base::FailureKind::kInternal, "WinHttpOpen failed", GetLastError());
        return nullptr;
    }
    fresh->connection.reset(WinHttpConnect(fresh->session.get(), std::get<1>(key).c_str(), std::get<2>(key), 0));
    if (!fresh->connection) {  // a host name WinHTTP will not take
        failure = base::Failure(base::FailureKind::kBadInput, "WinHttpConnect failed", GetLastError());
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

bool sendSharedRequest(const std::string& url, const std::wstring& headers, SharedRequest& shared,
                       DWORD& status, base::Failure& failure, const TransferOptions& options) {
    shared.request.reset();
    shared.host.reset();
    std::wstring host, path;
    uint16_t port = 0;
    bool secure = true;
    if (!parseUrl(url, host, port, path, secure)) {
        failure = base::Failure(base::FailureKind::kBadInput, "bad url: " + url);
        return false;
    }
    const bool pooled = options.reuseConnections;
    const HostKey key{secure, host, port};
    shared.host = hostSession(key, pooled, failure);
    if (!shared.host) return false;
    if (!sendGet(shared.host->connection.get(), path, secure, headers, pooled, shared.request, failure)) {
        if (pooled) dropHostSession(key, shared.host);
        return false;
    }
    status = statusCode(shared.request.get());
    return true;
}

bool openSharedRequest(const std::string& url, SharedRequest& shared, base::Failure& failure,
                       const TransferOptions& options) {
    DWORD status = 0;
    if (!sendSharedRequest(url, {}, shared, status, failure, options)) return false;
    if (status == HTTP_STATUS_OK) return true;
    failure = httpStatusFailure(status, url);
    return false;
}

base::Failure httpStatusFailure(uint32_t status, const std::string& url) {
    return base::Failure::http(status, "HTTP status " + std::to_string(status) + " for " + url);
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

bool httpGet(const std::string& url, std::string& body, base::Failure& failure,
             const TransferOptions& options) {
    Document document;
    const bool ok = fetchDocument(url, Validators{}, false, document, failure, options);
    body = std::move(document.body);
    return ok;
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
