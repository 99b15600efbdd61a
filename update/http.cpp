#include "update/http.h"

#include <algorithm>
#include <atomic>

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

    session = fault == HttpFault::Open
                  ? nullptr
                  : WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        error = "WinHttpOpen failed";
        return false;
    }
    WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                       kReceiveTimeoutMs);

    connection = fault == HttpFault::Connect ? nullptr
                                             : WinHttpConnect(session, host.c_str(), port, 0);
    if (!connection) {
        error = "WinHttpConnect failed";
        return false;
    }
    request = fault == HttpFault::OpenRequest
                  ? nullptr
                  : WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request) {
        error = "WinHttpOpenRequest failed";
        return false;
    }
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0)) {
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

    // A failed query leaves 0, which reads as "HTTP status 0": no response line we accept.
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != HTTP_STATUS_OK) {
        error = "HTTP status " + std::to_string(status) + " for " + url;
        return false;
    }
    return true;
}

bool openRequest(const std::string& url, RequestHandles& handles, std::string& error) {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    const bool ok = openRequest(url, session, connection, request, error);
    handles.request.reset(request);
    handles.connection.reset(connection);
    handles.session.reset(session);
    return ok;
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

bool httpGet(const std::string& url, std::string& body, std::string& error) {
    RequestHandles handles;
    if (!openRequest(url, handles, error)) return false;
    HINTERNET request = handles.request.get();

    body.clear();
    const int64_t expected = contentLength(request);
    if (expected > kMaxHttpGetBody) {
        error = "response too large";
        return false;
    }
    // Bytes past the declared length are no part of the body (Wine's transport can hand
    // over what a server sent after it).
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
    }
    // A connection that drops early can look like a normal end of the body; the declared
    // length is the only way to tell a cut document from a whole one.
    if (expected >= 0 && static_cast<int64_t>(body.size()) < expected) {
        error = "read failed";
        return false;
    }
    return true;
}

bool HttpStream::open(const std::string& url, std::string& error) {
    close();
    if (!openRequest(url, session, connection, request, error)) {
        close();
        return false;
    }
    contentLength = pcupd::contentLength(request);
    return true;
}

int32_t HttpStream::read(void* buffer, int32_t length) {
    if (!request || length < 1) return -1;
    if (contentLength >= 0) {  // nothing past the declared length, as in httpGet
        if (received >= contentLength) return 0;
        length = static_cast<int32_t>(std::min<int64_t>(length, contentLength - received));
    }
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer, static_cast<DWORD>(length), &read)) return -1;
    received += read;
    return static_cast<int32_t>(read);
}

void HttpStream::close() {
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    request = connection = session = nullptr;
    contentLength = -1;
    received = 0;
}

}  // namespace pcupd
