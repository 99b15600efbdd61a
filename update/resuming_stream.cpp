#include "update/resuming_stream.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>

#include "update/download_hosts.h"

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

void ResumingStream::begin(const std::string& url) {
    close();
    url_ = url;
    tries_.assign(options_.hosts ? options_.hosts->countFor(url) : 1, HostTries{});
}

std::string ResumingStream::urlOn(size_t host) const {
    return options_.hosts ? options_.hosts->urlOn(url_, host) : url_;
}

size_t ResumingStream::startHost() const {
    return options_.hosts ? std::min(options_.hosts->current(url_), hostCount() - 1) : 0;
}

// The host for the next try: `from` itself when `stay`, else the next after it that has tries
// left, `from` last. SIZE_MAX when none has.
size_t ResumingStream::pick(size_t from, bool stay) const {
    if (stay && tries_[from].left > 0) return from;
    for (size_t step = 1; step <= hostCount(); ++step) {
        const size_t host = (from + step) % hostCount();
        if (tries_[host].left > 0) return host;
    }
    return SIZE_MAX;
}

void ResumingStream::noteFailure(size_t host, const base::Failure& failure) {
    lastFailure_ = failure;
    lastUrl_ = urlOn(host);
    left_ = originOf(lastUrl_) + ": " + failure.text;
}

// The first bytes from a host: the run learns where they came from, and starts its next
// transfers there.
void ResumingStream::announce() {
    if (announced_ == host_) return;
    announced_ = host_;
    if (options_.hosts) options_.hosts->brought(url_, host_, urlOn(host_), left_);
    left_.clear();
}

bool ResumingStream::open(const std::string& url, base::Failure& failure) {
    begin(url);
    const size_t start = startHost();
    for (size_t step = 0; step < hostCount(); ++step) {
        const size_t host = (start + step) % hostCount();
        if (stream_.open(urlOn(host), failure, options_)) {
            host_ = begun_ = host;
            whole_ = true;
            total_ = stream_.contentLength();
            tries_[host].validator = strongEtag(stream_.request());
            resumable_ = total_ >= 0 && acceptsByteRanges(stream_.request());
            // A server that does not say it takes ranges gets no Range request: it would most
            // likely answer with the whole body again. Another host may still be asked.
            if (!resumable_) tries_[host].left = 0;
            lastFailure_ = base::Failure();  // what hosts before it did is left_'s to tell
            watch_.restart();
            return true;
        }
        noteFailure(host, failure);
        if (!worthAnotherHost(failure)) return false;
    }
    failure = everyHostFailed(lastFailure_, lastUrl_, hostCount());
    return false;
}

bool ResumingStream::openRange(const std::string& url, int64_t first, int64_t last, int64_t total,
                               const std::wstring& validator, size_t validatorHost) {
    begin(url);
    if (validatorHost < hostCount()) tries_[validatorHost].validator = validator;
    begun_ = validatorHost;
    total_ = total;
    first_ = first;
    last_ = last;
    resumable_ = true;
    // The opening request is not a resume: one more try on the host it goes to.
    const size_t start = startHost();
    ++tries_[start].left;
    resumes_ = -1;
    return reopen(start, true);
}

void ResumingStream::close() {
    stream_.close();
    url_.clear();
    tries_.clear();
    host_ = begun_ = 0;
    announced_ = SIZE_MAX;
    left_.clear();
    lastFailure_ = base::Failure();
    lastUrl_.clear();
    total_ = -1;
    position_ = 0;
    first_ = 0;
    last_ = -1;
    skip_ = 0;
    resumes_ = 0;
    whole_ = awaitingByte_ = refused_ = resumable_ = stalled_ = false;
}

const std::wstring& ResumingStream::validator() const {
    static const std::wstring kNone;
    return host_ < tries_.size() ? tries_[host_].validator : kNone;
}

int32_t ResumingStream::read(void* buffer, int32_t length) {
    if (length < 1 || tries_.empty()) return -1;
    for (;;) {
        const int32_t want = skip_ > 0 ? static_cast<int32_t>(std::min<int64_t>(length, skip_)) : length;
        const int32_t got = stream_.read(buffer, want);
        if (got > 0) {
            tries_[host_].failedInARow = 0;
            awaitingByte_ = false;
            if (skip_ > 0) {  // bytes the reader already has, from another host
                skip_ -= got;
                if (watch_.stalled(static_cast<uint64_t>(got))) {
                    stalled_ = true;
                    stream_.close();
                }
                continue;
            }
            position_ += got;
            announce();
            stalled_ = watch_.stalled(static_cast<uint64_t>(got)) && position_ != toRead();
            if (stalled_) stream_.close();  // the next read resumes, or fails as stalled
            return got;
        }
        // Without a length a cut looks like the end, and nobody can tell where the rest starts.
        if (total_ < 0 || position_ >= toRead() || !resume()) return got;
    }
}

base::Failure ResumingStream::readFailure(const std::string& otherwise) const {
    if (hostCount() > 1 && lastFailure_.failed())
        return everyHostFailed(lastFailure_, lastUrl_, hostCount());
    if (stalled_)
        return base::Failure(base::FailureKind::kStalled, pcupd::stalledText(urlOn(host_), watch_.limit()));
    return base::Failure(base::FailureKind::kConnection, otherwise);
}

// The body broke off on the host it came from: asks for the rest at the next byte, on the
// next host that has tries left (the same one when it is the only one).
bool ResumingStream::resume() {
    if (awaitingByte_) ++tries_[host_].failedInARow;  // the last reopening brought nothing
    awaitingByte_ = false;
    noteFailure(host_, stalled_ ? base::Failure(base::FailureKind::kStalled, stalledText(urlOn(host_), watch_.limit()))
                                : base::Failure(base::FailureKind::kConnection,
                                                "connection lost at byte " + std::to_string(first_ + position_)));
    return reopen(host_, false);
}

// Reopens the body at the next byte. A host that does not answer gets more tries with growing
// pauses; one that answers anything but that exact range gets none: asking again would not
// change its answer. Moving to another host goes at once.
bool ResumingStream::reopen(size_t from, bool stay) {
    for (size_t host = pick(from, stay); host != SIZE_MAX; host = pick(host, false)) {
        HostTries& tries = tries_[host];
        if (tries.failedInARow > 0) Sleep(options_.firstResumePauseMs << (tries.failedInARow - 1));
        --tries.left;
        ++resumes_;
        // Bytes from a host other than the one that began a whole body may come whole, from
        // its start, where that host takes no ranges.
        const bool wholeWillDo = whole_ && host != begun_ && tries.validator.empty();
        base::Failure failure;
        switch (stream_.openRange(urlOn(host), first_ + position_, last_, total_, tries.validator, failure,
                                  options_, wholeWillDo)) {
        case HttpStream::Range::Whole:
            skip_ = first_ + position_;
            [[fallthrough]];
        case HttpStream::Range::Opened:
            host_ = host;
            if (tries.validator.empty() && skip_ == 0) tries.validator = strongEtag(stream_.request());
            refused_ = false;
            awaitingByte_ = true;
            lastFailure_ = base::Failure();
            watch_.restart();
            return true;
        case HttpStream::Range::Refused:
            tries.left = 0;
            refused_ = true;
            break;
        case HttpStream::Range::NoResponse:
            ++tries.failedInARow;
            refused_ = false;
            break;
        }
        noteFailure(host, failure);
    }
    stream_.close();
    return false;
}

}  // namespace pcupd
