#include "update/http_document.h"

#include <algorithm>
#include <optional>

#include "base/ascii.h"
#include "base/text.h"
#include "update/gzip_body.h"

namespace pcupd {
namespace {

// A response header's value; empty when it has none or an unreasonably long one.
std::string headerValue(HINTERNET request, DWORD query) {
    wchar_t text[1024] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::string();
    return base::toUtf8(std::wstring(text, size / sizeof(wchar_t)));
}

// A validator goes back into a request header: nothing that could end the header line.
bool isHeaderSafe(const std::string& value) {
    return std::none_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::wstring requestHeaders(const Validators& ifChanged, bool compressed) {
    std::wstring headers;
    const auto add = [&headers](const wchar_t* name, const std::string& value) {
        if (value.empty() || !isHeaderSafe(value)) return;
        if (!headers.empty()) headers += L"\r\n";
        headers += name + base::toWide(value);
    };
    add(L"If-None-Match: ", ifChanged.etag);
    add(L"If-Modified-Since: ", ifChanged.lastModified);
    if (compressed) add(L"Accept-Encoding: ", "gzip");
    return headers;
}

}  // namespace

bool fetchDocument(const std::string& url, const Validators& ifChanged, bool compressed,
                   Document& document, base::Failure& failure, const TransferOptions& options) {
    document = Document();
    SharedRequest shared;
    DWORD status = 0;
    const std::wstring headers = requestHeaders(ifChanged, compressed);
    if (!sendSharedRequest(url, headers, shared, status, failure, options)) return false;
    const HINTERNET request = shared.request.get();
    if (status == HTTP_STATUS_NOT_MODIFIED && !ifChanged.empty()) {
        document.notModified = true;
        document.validators = ifChanged;
        return true;
    }
    if (status != HTTP_STATUS_OK) {
        failure = httpStatusFailure(status, url);
        return false;
    }
    const auto fail = [&failure, &document](base::FailureKind kind, std::string text) {
        failure = base::Failure(kind, std::move(text));
        document.body.clear();
        return false;
    };
    document.validators.etag = headerValue(request, WINHTTP_QUERY_ETAG);
    document.validators.lastModified = headerValue(request, WINHTTP_QUERY_LAST_MODIFIED);
    const std::string encoding = base::toLowerAscii(headerValue(request, WINHTTP_QUERY_CONTENT_ENCODING));
    std::optional<GzipDecoder> gzip;
    if (encoding == "gzip" || encoding == "x-gzip")
        gzip.emplace();
    else if (!encoding.empty() && encoding != "identity")
        return fail(base::FailureKind::kBadInput, "unknown Content-Encoding for " + url);

    const int64_t expected = contentLength(request);
    if (expected > kMaxHttpGetBody) return fail(base::FailureKind::kTooLarge, "response too large");
    const std::string damaged = "compressed response is damaged: " + url;
    StallWatch watch(options.stall);
    GzipDecoder::Result decoded = GzipDecoder::Result::kMore;
    int64_t received = 0;
    char buffer[16384];
    for (;;) {
        // Nothing past the declared length: Wine's transport can hand over what a server sent
        // after it.
        int32_t length = sizeof(buffer);
        if (expected >= 0) length = static_cast<int32_t>(std::min<int64_t>(length, expected - received));
        const int32_t read = length > 0 ? readAvailable(request, buffer, length) : 0;
        if (read < 0) return fail(base::FailureKind::kConnection, "read failed");
        if (read == 0) break;
        received += read;
        if (gzip) {
            decoded = gzip->feed(buffer, static_cast<size_t>(read), document.body,
                                 static_cast<uint64_t>(kMaxHttpGetBody));
            if (decoded == GzipDecoder::Result::kTooLarge)
                return fail(base::FailureKind::kTooLarge, "response too large");
            if (decoded == GzipDecoder::Result::kDamaged) return fail(base::FailureKind::kBadInput, damaged);
        } else {
            if (document.body.size() + static_cast<size_t>(read) > static_cast<uint64_t>(kMaxHttpGetBody))
                return fail(base::FailureKind::kTooLarge, "response too large");
            document.body.append(buffer, static_cast<size_t>(read));
        }
        if (watch.stalled(static_cast<uint64_t>(read)))
            return fail(base::FailureKind::kStalled, stalledText(url, options.stall));
    }
    // A connection that drops early can look like a normal end of the body; the declared
    // length is the only way to tell a cut document from a whole one.
    if (expected >= 0 && received < expected) return fail(base::FailureKind::kConnection, "read failed");
    if (gzip && decoded != GzipDecoder::Result::kEnd) return fail(base::FailureKind::kBadInput, damaged);
    return true;
}

}  // namespace pcupd
