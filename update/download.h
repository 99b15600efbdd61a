#pragma once
// The one way a file comes off the network: streamed into a file beside its target while it
// is hashed, resumed where a connection breaks (update/resuming_stream.h), and never left
// behind half-written. Repair downloads every file through it, on its download threads.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/failure.h"
#include "update/http.h"

namespace pcupd {

// Progress reports come no more often than once per this many bytes received.
constexpr int64_t kProgressInterval = 524288;

struct DownloadOptions {
    // The size the manifest promises (0: none). A body that would outgrow it fails at once
    // with kTooLarge "download larger than expected", before or while it arrives.
    int64_t expectedSize = 0;
    // Given up between two reads once it turns true (another thread sets it): kCancelled
    // "download cancelled".
    const std::atomic<bool>* cancel = nullptr;
    // Told the bytes received since it was last told, about once per kProgressInterval.
    std::function<void(int64_t bytes)> onBytes;
    TransferOptions transfer;
};

struct Downloaded {
    std::string digest;  // hex SHA-256 of the bytes written: the caller compares it
    int64_t bytes = 0;   // how many
};

// Streams the body of `url` into `path` (created or truncated), hashing it, and flushes it to
// disk before closing it, so that it can be moved over a good file. On failure no file is left
// behind: the transport's failures (update/http.h), kConnection "download read failed" for a
// body that breaks off or ends short of its Content-Length, kStalled, kDisk "cannot create
// temp file" / "disk write failed (full/locked?)", kInternal "sha init failed", and those of
// the options.
bool download(const std::string& url, const std::wstring& path, const DownloadOptions& options,
              Downloaded& result, base::Failure& failure);

}  // namespace pcupd
