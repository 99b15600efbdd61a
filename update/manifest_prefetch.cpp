#include "update/manifest_prefetch.h"

#include <thread>

#include "update/manifest.h"

namespace pcupd {

ManifestPrefetch::ManifestPrefetch(std::string url, std::vector<std::string> keys, std::wstring installDir)
    : url_(std::move(url)), keys_(std::move(keys)), installDir_(std::move(installDir)) {}

std::shared_ptr<ManifestPrefetch> ManifestPrefetch::start(std::string url, std::vector<std::string> keys,
                                                          std::wstring installDir, TransferOptions options,
                                                          std::function<void()> arrived) {
    auto prefetch = std::make_shared<ManifestPrefetch>(std::move(url), std::move(keys), std::move(installDir));
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
        if (fetchSignedManifest(url_, keys_, installDir_, got, failure, options)) {
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

bool ManifestPrefetch::take(const std::string& url, const std::vector<std::string>& keys,
                            const std::wstring& installDir, FetchedManifest& fetched) {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return done_; });
    if (taken_ || !fetched_ || url != url_ || keys != keys_ ||
        std::chrono::steady_clock::now() - arrivedAt_ > kFreshFor)
        return false;
    taken_ = true;
    fetched = std::move(*fetched_);
    fetched_.reset();
    // Another folder keeps a copy of its own: this one is to be written there.
    if (installDir != installDir_) fetched.unchanged = false;
    return true;
}

}  // namespace pcupd
