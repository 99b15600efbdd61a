#include "update/resuming_stream.h"

#include <cwctype>

namespace pcupd {
namespace {

// The response's ETag when it is a strong one; If-Range takes no weak validator.
std::wstring strongEtag(HINTERNET request) {
    wchar_t text[256] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_ETAG, WINHTTP_HEADER_NAME_BY_INDEX, text,
                             &size, WINHTTP_NO_HEADER_INDEX))
        return {};
    const std::wstring etag = text;
    return etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"' ? etag : std::wstring();
}

// Whether the response says the server takes byte ranges. A server that does not say so gets
// no Range request: it would most likely answer with the whole body again, which helps no one.
bool acceptsByteRanges(HINTERNET request) {
    wchar_t text[128] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_ACCEPT_RANGES, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    std::wstring value = text;
    for (wchar_t& c : value) c = static_cast<wchar_t>(towlower(c));
    return value.find(L"bytes") != std::wstring::npos;
}

}  // namespace

bool ResumingStream::open(const std::string& url, base::Failure& failure) {
    close();
    if (!stream_.open(url, failure, options_)) return false;
    url_ = url;
    total_ = stream_.contentLength();
    validator_ = strongEtag(stream_.request());
    resumable_ = total_ >= 0 && acceptsByteRanges(stream_.request());
    watch_.restart();
    return true;
}

bool ResumingStream::openRange(const std::string& url, int64_t first, int64_t last, int64_t total,
                               const std::wstring& validator) {
    close();
    url_ = url;
    validator_ = validator;
    total_ = total;
    first_ = first;
    last_ = last;
    resumable_ = true;
    resumes_ = -1;  // the opening request is not a resume
    return resume();
}

void ResumingStream::close() {
    stream_.close();
    url_.clear();
    validator_.clear();
    total_ = -1;
    position_ = 0;
    first_ = 0;
    last_ = -1;
    resumes_ = failedInARow_ = 0;
    awaitingByte_ = refused_ = resumable_ = stalled_ = false;
}

int32_t ResumingStream::read(void* buffer, int32_t length) {
    if (length < 1) return -1;
    for (;;) {
        const int32_t got = stream_.read(buffer, length);
        if (got > 0) {
            position_ += got;
            failedInARow_ = 0;
            awaitingByte_ = false;
            stalled_ = watch_.stalled(static_cast<uint64_t>(got)) && position_ != toRead();
            if (stalled_) stream_.close();  // the next read resumes, or fails as stalled
            return got;
        }
        // Without a length a cut looks like the end, and nobody can tell where the rest starts.
        if (!resumable_ || position_ >= toRead() || !resume()) return got;
    }
}

base::Failure ResumingStream::readFailure(const std::string& otherwise) const {
    if (stalled_)
        return base::Failure(base::FailureKind::kStalled, pcupd::stalledText(url_, watch_.limit()));
    return base::Failure(base::FailureKind::kConnection, otherwise);
}

// Reopens the body at the next byte. A network that is gone gets a few more tries with
// growing pauses; a server that answers anything but that exact range gets none: asking
// again would not change its answer.
bool ResumingStream::resume() {
    if (awaitingByte_) ++failedInARow_;  // the last reopening brought nothing
    awaitingByte_ = false;
    while (!refused_ && resumes_ < kMaxResumes) {
        if (failedInARow_ > 0) Sleep(options_.firstResumePauseMs << (failedInARow_ - 1));
        ++resumes_;
        base::Failure ignored;
        switch (stream_.openRange(url_, first_ + position_, last_, total_, validator_, ignored, options_)) {
        case HttpStream::Range::Opened:
            awaitingByte_ = true;
            watch_.restart();
            return true;
        case HttpStream::Range::Refused:
            refused_ = true;
            break;
        case HttpStream::Range::NoResponse:
            ++failedInARow_;
            break;
        }
    }
    stream_.close();
    return false;
}

}  // namespace pcupd
