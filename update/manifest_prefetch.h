#pragma once
// The manifest fetched ahead of the run that uses it, on a thread of its own: the window
// starts it with its splash and shows the client's size from it, and the first run then
// takes it instead of fetching again. The signature is checked here; whether the manifest is
// accepted (unexpired, not older than a folder has seen) is for the run that takes it to
// decide, for its own folder.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "update/manifest_signature.h"

namespace pcupd {

class ManifestPrefetch : public std::enable_shared_from_this<ManifestPrefetch> {
public:
    // A run that comes later than this fetches afresh: the operator may have published since.
    static constexpr std::chrono::minutes kFreshFor{10};

    // Starts fetching `url` (fetchSignedManifest with `keys`, from the copy kept in
    // `installDir` when given: an update then costs what it always did) on a detached
    // thread, which holds the prefetch while it runs; `arrived` (may be empty) is called on
    // that thread once the fetch has ended, however it ended, before take() returns. May
    // throw when no thread can be made.
    static std::shared_ptr<ManifestPrefetch> start(std::string url, std::vector<std::string> keys,
                                                   std::wstring installDir, TransferOptions options,
                                                   std::function<void()> arrived);

    // The client's size on disk (clientBytes), once a manifest has come and parsed. Never waits.
    std::optional<uint64_t> clientBytes() const;

    // Waits for the fetch to end, then hands the manifest over, once: when it came, for the
    // same `url` and `keys`, within kFreshFor. For another folder than the one it started
    // from, it is never that folder's kept copy. False: the caller fetches for itself, and
    // a failure is then its own fetch's, with its own resumes.
    bool take(const std::string& url, const std::vector<std::string>& keys, const std::wstring& installDir,
              FetchedManifest& fetched);

    // Built by start() only.
    ManifestPrefetch(std::string url, std::vector<std::string> keys, std::wstring installDir);

private:
    void run(const TransferOptions& options, const std::function<void()>& arrived);

    const std::string url_;
    const std::vector<std::string> keys_;
    const std::wstring installDir_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    bool taken_ = false;
    std::optional<FetchedManifest> fetched_;  // a good fetch, until taken
    std::optional<uint64_t> clientBytes_;
    std::chrono::steady_clock::time_point arrivedAt_;
};

}  // namespace pcupd
