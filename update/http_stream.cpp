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

bool HttpStream::open(const std::string& url, base::Failure& failure, const TransferOptions& options) {
    close();
    if (!openSharedRequest(url, shared_, failure, options)) {
        close();
        return false;
    }
    contentLength_ = pcupd::contentLength(shared_.request.get());
    return true;
}

HttpStream::Range HttpStream::openRange(const std::string& url, int64_t from, int64_t last,
                                        int64_t total, const std::wstring& validator,
                                        base::Failure& failure, const TransferOptions& options,
                                        bool wholeWillDo) {
    close();
    std::wstring headers = L"Range: bytes=" + std::to_wstring(from) + L"-";
    if (last >= 0) headers += std::to_wstring(last);
    if (!validator.empty()) headers += L"\r\nIf-Range: " + validator;
    DWORD status = 0;
    if (!sendSharedRequest(url, headers, shared_, status, failure, options)) {
        close();
        return Range::NoResponse;
    }
    if (wholeWillDo && status == HTTP_STATUS_OK && pcupd::contentLength(shared_.request.get()) == total) {
        contentLength_ = total;
        return Range::Whole;
    }
    // Anything but exactly the bytes asked for would be spliced in at the wrong place.
    if (status != HTTP_STATUS_PARTIAL_CONTENT) {
        close();
        failure = httpStatusFailure(status, url);
        return Range::Refused;
    }
    int64_t first = 0, end = 0, size = 0;
    const int64_t length = pcupd::contentLength(shared_.request.get());
    if (!contentRange(shared_.request.get(), first, end, size) || first != from || size != total ||
        end < first || end >= total || (last >= 0 && end != last) ||
        (length >= 0 && length != end - first + 1)) {
        close();
        failure = base::Failure(base::FailureKind::kBadInput, "bad Content-Range for " + url);
        return Range::Refused;
    }
    contentLength_ = end - first + 1;
    return Range::Opened;
}

int32_t HttpStream::read(void* buffer, int32_t length) {
    if (!shared_.request || length < 1) return -1;
    if (contentLength_ >= 0) {  // nothing past the declared length
        if (received_ >= contentLength_) return 0;
        length = static_cast<int32_t>(std::min<int64_t>(length, contentLength_ - received_));
    }
    const int32_t read = readAvailable(shared_.request.get(), buffer, length);
    if (read > 0) received_ += read;
    return read;
}

void HttpStream::close() {
    shared_.request.reset();
    shared_.host.reset();
    contentLength_ = -1;
    received_ = 0;
}

}  // namespace pcupd
