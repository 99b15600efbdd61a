#include "update/http.h"

#include <algorithm>
#include <string>

namespace pcupd {
namespace {

// Digits up to the first other character; false when there are none or they overflow.
bool readNumber(const wchar_t*& p, int64_t& value) {
    const wchar_t* start = p;
    value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        const int digit = *p - L'0';
        if (value > (INT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return p != start;
}

}  // namespace

bool contentRange(HINTERNET request, int64_t& first, int64_t& last, int64_t& total) {
    wchar_t text[128] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    if (_wcsnicmp(text, L"bytes ", 6) != 0) return false;
    const wchar_t* p = text + 6;
    return readNumber(p, first) && *p++ == L'-' && readNumber(p, last) && *p++ == L'/' &&
           readNumber(p, total) && *p == L'\0';
}

namespace {

// Hands the shared request over to the stream, which owns the request from here on.
void adopt(HttpStream& stream, SharedRequest& shared) {
    stream.host = std::move(shared.host);
    stream.session = stream.host->session.get();
    stream.connection = stream.host->connection.get();
    stream.request = shared.request.release();
}

}  // namespace

bool HttpStream::open(const std::string& url, std::string& error) {
    close();
    SharedRequest shared;
    if (!openSharedRequest(url, shared, error)) return false;
    adopt(*this, shared);
    contentLength = pcupd::contentLength(request);
    return true;
}

HttpStream::Range HttpStream::openRange(const std::string& url, int64_t from, int64_t total,
                                        const std::wstring& validator, std::string& error) {
    close();
    std::wstring headers = L"Range: bytes=" + std::to_wstring(from) + L"-";
    if (!validator.empty()) headers += L"\r\nIf-Range: " + validator;
    SharedRequest shared;
    DWORD status = 0;
    if (!sendSharedRequest(url, headers, shared, status, error)) return Range::NoResponse;
    // Anything but the exact rest of the same body would be spliced in at the wrong place.
    if (status != HTTP_STATUS_PARTIAL_CONTENT) {
        error = "HTTP status " + std::to_string(status) + " for " + url;
        return Range::Refused;
    }
    int64_t first = 0, last = 0, size = 0;
    const int64_t length = pcupd::contentLength(shared.request.get());
    if (!contentRange(shared.request.get(), first, last, size) || first != from || size != total ||
        last < first || last >= total || (length >= 0 && length != last - first + 1)) {
        error = "bad Content-Range for " + url;
        return Range::Refused;
    }
    adopt(*this, shared);
    contentLength = last - first + 1;
    return Range::Opened;
}

int32_t HttpStream::read(void* buffer, int32_t length) {
    if (!request || length < 1) return -1;
    if (contentLength >= 0) {  // nothing past the declared length, as in httpGet
        if (received >= contentLength) return 0;
        length = static_cast<int32_t>(std::min<int64_t>(length, contentLength - received));
    }
    const int32_t read = readAvailable(request, buffer, length);
    if (read > 0) received += read;
    return read;
}

void HttpStream::close() {
    if (request) WinHttpCloseHandle(request);
    request = connection = session = nullptr;
    host.reset();
    contentLength = -1;
    received = 0;
}

}  // namespace pcupd
