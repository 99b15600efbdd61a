#pragma once
// SHA-256 over the platform's CNG (BCrypt), the digest of a local file, and a download that
// hashes what it writes. Digests travel as 64 lowercase hex characters; an empty text means
// "no digest" and never equals a real one. Any thread may call these; a Sha256 object belongs
// to one thread at a time.

#include <windows.h>
#include <bcrypt.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/hex.h"  // digests as text: base::toHex
#include "base/unique_handle.h"
#include "update/progress.h"

namespace pcupd {

struct AlgorithmHandleTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashHandleTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { ::BCryptDestroyHash(h); }
};

constexpr size_t kSha256Size = 32;

// One incremental SHA-256. Construction sets it up; ready() says whether that worked.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool ready() const { return ready_; }
    // Adds bytes; does nothing when not ready or when size is 0.
    void update(const void* data, size_t size);
    // Lowercase hex of the digest; empty when not ready or when finishing fails.
    std::string finish();
    // The raw digest; false when not ready or when finishing fails.
    bool finish(uint8_t (&digest)[kSha256Size]);

private:
    // Declared so that destruction runs hash, then provider, then the hash's own memory. The
    // provider is the process's shared one; provider_ is set only by the seam below.
    std::vector<UCHAR> object_;
    base::UniqueAny<AlgorithmHandleTraits> provider_;
    base::UniqueAny<HashHandleTraits> hash_;
    ULONG digestLength_ = 0;
    bool ready_ = false;
};

// Benchmark seam: with true, each Sha256 opens and closes a provider of its own, as the
// program once did, so that the cost of that can be measured in the same run.
void setSha256ProviderPerObjectForTesting(bool perObject);

// Digest of the whole file; empty when it cannot be opened (missing, or locked against
// reading) or hashing cannot start. A read error midway yields the digest of what was read.
std::string hashFile(const std::wstring& path);
// The same as raw bytes (a verification of many files keeps no texts); false where the text
// would be empty.
bool hashFile(const std::wstring& path, uint8_t (&digest)[kSha256Size]);

// Bytes hashFile has read in this process: what a verification really read back from disk.
uint64_t hashedFileBytes();

// Streams the body of `url` into `path` (created or truncated) while hashing it, adds what
// arrives to progress.bytesDone and calls `callback` (may be empty) once per 512 KiB. On
// success `digest` holds the hex digest of the bytes written; the caller compares it. A
// failed or cut-short download leaves no file behind.
bool downloadToFile(const std::string& url, const std::wstring& path, Progress& progress,
                    const ProgressCallback& callback, std::string& digest, std::string& error);
// The same for a file whose size the manifest promises (`expectedSize` > 0): a body that
// would outgrow it fails at once with "download larger than expected", nothing left behind.
// The file is flushed to disk before it is closed, so it can be moved over a good one.
bool downloadToFile(const std::string& url, const std::wstring& path, Progress& progress,
                    const ProgressCallback& callback, std::string& digest, std::string& error,
                    int64_t expectedSize);
// The same, given up between two reads once `*cancel` (may be null) turns true: fails with
// "download cancelled", nothing left behind. Another thread sets it (parallel repair).
bool downloadToFile(const std::string& url, const std::wstring& path, Progress& progress,
                    const ProgressCallback& callback, std::string& digest, std::string& error,
                    int64_t expectedSize, const std::atomic<bool>* cancel);

// Progress reports come no more often than once per this many bytes received.
constexpr int64_t kProgressInterval = 524288;

}  // namespace pcupd
