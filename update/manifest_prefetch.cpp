#include "update/manifest_prefetch.h"

#include <thread>

#include "update/manifest.h"

namespace pcupd {

ManifestPrefetch::ManifestPrefetch(std::string url, std::vector<std::string> keys)
    : url_(std::move(url)), keys_(std::move(keys)) {}

std::shared_ptr<ManifestPrefetch> ManifestPrefetch::start(std::string url, std::vector<std::string> keys,
                                                          TransferOptions options, std::function<void()> arrived) {
    auto prefetch = std::make_shared<ManifestPrefetch>(std::move(url), std::move(keys));
    std::thread([self = prefetch, options = std::move(options), arrived = std::move(arrived)] {
        self->run(options, arrived);
    }).detach();
    return prefetch;
}

void ManifestPrefetch::run(const TransferOptions& options, const std::function<void()>& arrived) {
    std::optional<FetchedManifest> fetched;
    std::optional<uint64_t> bytes;
    try {
        FetchedManifest got;
        base::Failure failure;
        if (fetchSignedManifest(url_, keys_, std::wstring(), got, failure, options)) {
            Manifest manifest;
            std::string error;
            if (parseManifest(got.body, manifest, error)) bytes = pcupd::clientBytes(manifest);
            fetched = std::move(got);
        }
    } catch (const std::exception&) {  // out of memory: the run fetches for itself
        fetched.reset();
        bytes.reset();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        fetched_ = std::move(fetched);
        clientBytes_ = bytes;
        arrivedAt_ = std::chrono::steady_clock::now();
    }
    // Told before a run may take it, so that whoever hears of it finds it still here.
    try {
        if (arrived) arrived();
    } catch (const std::exception&) {
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    ended_.notify_all();
}

std::optional<uint64_t> ManifestPrefetch::clientBytes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return clientBytes_;
}

bool ManifestPrefetch::take(const std::string& url, const std::vector<std::string>& keys, FetchedManifest& fetched) {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return done_; });
    if (taken_ || !fetched_ || url != url_ || keys != keys_ ||
        std::chrono::steady_clock::now() - arrivedAt_ > kFreshFor)
        return false;
    taken_ = true;
    fetched = std::move(*fetched_);
    fetched_.reset();
    return true;
}

}  // namespace pcupd
