#include "update/download_hosts.h"

#include <algorithm>

#include "update/http.h"
#include "update/manifest.h"

namespace pcupd {
namespace {

std::string withoutTrailingSlashes(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

bool isHttpUrl(const std::string& url) {
    std::wstring host, path;
    uint16_t port = 0;
    bool secure = false;
    return parseUrl(url, host, port, path, secure);
}

}  // namespace

DownloadHosts::DownloadHosts(const std::string& baseUrl, const std::vector<std::string>& mirrors,
                             Listener listener)
    : listener_(std::move(listener)) {
    bases_.push_back(withoutTrailingSlashes(baseUrl));
    if (bases_.front().empty()) return;
    for (const std::string& mirror : mirrors) {
        std::string base = withoutTrailingSlashes(mirror);
        if (isHttpUrl(base) && std::find(bases_.begin(), bases_.end(), base) == bases_.end())
            bases_.push_back(std::move(base));
    }
}

std::shared_ptr<DownloadHosts> DownloadHosts::of(const Manifest& manifest, Listener listener) {
    return std::make_shared<DownloadHosts>(manifest.baseUrl, manifest.mirrors, std::move(listener));
}

bool DownloadHosts::below(const std::string& url) const {
    const std::string& base = bases_.front();
    return bases_.size() > 1 && url.size() > base.size() && url.compare(0, base.size(), base) == 0 &&
           url[base.size()] == '/';
}

size_t DownloadHosts::countFor(const std::string& url) const { return below(url) ? bases_.size() : 1; }

std::string DownloadHosts::urlOn(const std::string& url, size_t host) const {
    if (host == 0 || host >= bases_.size() || !below(url)) return url;
    return bases_[host] + url.substr(bases_.front().size());
}

size_t DownloadHosts::current(const std::string& url) const {
    if (!below(url)) return 0;
    std::lock_guard<std::mutex> hold(lock_);
    return current_;
}

void DownloadHosts::brought(const std::string& url, size_t host, const std::string& fetched,
                            const std::string& left) {
    const std::string origin = originOf(fetched);
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (below(url)) current_ = host;
        if (origin == announced_) return;
        announced_ = origin;
    }
    if (listener_) listener_(origin, left);
}

std::string originOf(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    return url.substr(0, url.find('/', scheme + 3));
}

bool worthAnotherHost(const base::Failure& failure) {
    using base::FailureKind;
    switch (failure.kind) {
    case FailureKind::kConnection:
    case FailureKind::kSecure:
    case FailureKind::kStalled:
        return true;
    case FailureKind::kHttpStatus: {
        const uint32_t status = failure.httpStatus;
        return status == 0 || status >= 500 || status == 404 || status == 408 || status == 410 || status == 429;
    }
    default:
        return false;
    }
}

base::Failure everyHostFailed(const base::Failure& last, const std::string& lastUrl, size_t hosts) {
    if (hosts < 2) return last;
    base::Failure failure = last;
    failure.text = "every download host failed; the last, " + originOf(lastUrl) + ": " + last.text;
    return failure;
}

}  // namespace pcupd
