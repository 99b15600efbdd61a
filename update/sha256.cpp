#include "update/sha256.h"

#include <algorithm>
#include <atomic>

#include "update/http.h"
#include "update/resuming_stream.h"

namespace pcupd {
namespace {

constexpr DWORD kFileReadSize = 262144;
// The most one read of a download takes: each returns what has arrived, up to this, so
// progress reports and the cancel check come round at a steady pace.
constexpr size_t kDownloadSlice = 64 * 1024;

std::atomic<uint64_t> gHashedFileBytes{0};

// Opening the provider costs far more than a hash object on some systems, and a fresh install
// makes one hash per entry: the process opens it once. CNG lets threads share a provider
// (not a hash object). It stays open until the process ends, since a thread may still be
// hashing while static destructors run.
struct SharedProvider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    DWORD objectLength = 0;
    ULONG digestLength = 0;
};

bool describe(BCRYPT_ALG_HANDLE provider, DWORD& objectLength, ULONG& digestLength) {
    ULONG written = 0;
    return BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&objectLength),
                                            sizeof(objectLength), &written, 0)) &&
           BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_HASH_LENGTH,
                                            reinterpret_cast<PUCHAR>(&digestLength),
                                            sizeof(digestLength), &written, 0));
}

const SharedProvider& sharedProvider() {
    static const SharedProvider provider = [] {
        SharedProvider opened;
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            return opened;
        if (!describe(handle, opened.objectLength, opened.digestLength)) {
            BCryptCloseAlgorithmProvider(handle, 0);
            return opened;
        }
        opened.handle = handle;
        return opened;
    }();
    return provider;
}

std::atomic<bool> gProviderPerObject{false};

}  // namespace

void setSha256ProviderPerObjectForTesting(bool perObject) { gProviderPerObject = perObject; }

Sha256::Sha256() {
    BCRYPT_ALG_HANDLE provider = nullptr;
    DWORD objectLength = 0;
    if (gProviderPerObject) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM,
                                                        nullptr, 0)) ||
            !describe(provider_.get(), objectLength, digestLength_))
            return;
        provider = provider_.get();
    } else {
        const SharedProvider& shared = sharedProvider();
        if (!shared.handle) return;
        provider = shared.handle;
        objectLength = shared.objectLength;
        digestLength_ = shared.digestLength;
    }
    object_.assign(objectLength, 0);
    ready_ = BCRYPT_SUCCESS(BCryptCreateHash(provider, hash_.put(), object_.data(),
                                             static_cast<ULONG>(object_.size()), nullptr, 0, 0));
}

void Sha256::update(const void* data, size_t size) {
    if (!ready_) return;
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 0x40000000));
        BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), piece, 0);
        bytes += piece;
        size -= piece;
    }
}

bool Sha256::finish(uint8_t (&digest)[kSha256Size]) {
    if (!ready_ || digestLength_ != kSha256Size) return false;
    return BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), digest, kSha256Size, 0));
}

std::string Sha256::finish() {
    uint8_t digest[kSha256Size] = {};
    return finish(digest) ? base::toHex(digest, sizeof(digest)) : std::string();
}

bool hashFile(const std::wstring& path, uint8_t (&digest)[kSha256Size]) {
    base::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    Sha256 sha;
    if (!sha.ready()) return false;
    std::vector<char> buffer(kFileReadSize);
    DWORD read = 0;
    while (ReadFile(file.get(), buffer.data(), kFileReadSize, &read, nullptr) && read > 0) {
        sha.update(buffer.data(), read);
        gHashedFileBytes += read;
    }
    return sha.finish(digest);
}

std::string hashFile(const std::wstring& path) {
    uint8_t digest[kSha256Size] = {};
    return hashFile(path, digest) ? base::toHex(digest, sizeof(digest)) : std::string();
}

uint64_t hashedFileBytes() { return gHashedFileBytes; }

bool downloadToFile(const std::string& url, const std::wstring& path, Progress& progress,
                    const ProgressCallback& callback, std::string& digest, std::string& error) {
    return downloadToFile(url, path, progress, callback, digest, error, 0);
}

bool downloadToFile(const std::string& url, const std::wstring& path, Progress& progress,
                    const ProgressCallback& callback, std::string& digest, std::string& error,
                    int64_t expectedSize) {
    return downloadToFile(url, path, progress, callback, digest, error, expectedSize, nullptr);
}

bool downloadToFile(const std::string& url, const std::wstring& path, Progress& progress,
                    const ProgressCallback& callback, std::string& digest, std::string& error,
                    int64_t expectedSize, const std::atomic<bool>* cancel) {
    // A cut download goes on where it broke off (Range), so the .part keeps what it has.
    ResumingStream stream;
    if (!stream.open(url, error)) return false;
    const int64_t expected = stream.contentLength();
    // Whatever the server says, no more than the manifest promised reaches the disk.
    const auto tooLarge = [expectedSize](int64_t bytes) {
        return expectedSize > 0 && bytes > expectedSize;
    };
    if (tooLarge(expected)) {
        error = "download larger than expected";
        return false;
    }

    base::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = "cannot create temp file";
        return false;
    }
    Sha256 sha;
    if (!sha.ready()) {
        error = "sha init failed";
        return false;
    }
    // From here on, a failure must not leave a partial file that looks like a download.
    base::ScopeExit removePartial([&] {
        file.reset();
        DeleteFileW(path.c_str());
    });

    int64_t received = 0, sinceReport = 0;
    std::vector<char> buffer(kDownloadSlice);
    for (;;) {
        if (cancel && *cancel) {
            error = "download cancelled";
            return false;
        }
        const int32_t read = stream.read(buffer.data(), static_cast<int32_t>(buffer.size()));
        if (read < 0) {
            error = stream.stalled() ? stream.stalledText() : "download read failed";
            return false;
        }
        if (read == 0) break;
        if (tooLarge(received + read)) {
            error = "download larger than expected";
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), static_cast<DWORD>(read), &written, nullptr) ||
            written != static_cast<DWORD>(read)) {
            error = "disk write failed (full/locked?)";
            return false;
        }
        sha.update(buffer.data(), static_cast<size_t>(read));
        received += read;
        progress.bytesDone += read;
        sinceReport += read;
        if (callback && sinceReport >= kProgressInterval) {
            callback(progress);
            sinceReport = 0;
        }
    }
    // A connection that drops early can end the body like a normal close; only the declared
    // length tells a cut file from a whole one.
    if (expected >= 0 && received < expected) {
        error = "download read failed";
        return false;
    }
    // On disk before anyone moves it over a good file: a power cut must not leave an empty
    // file under the good one's name.
    if (!FlushFileBuffers(file.get())) {
        error = "disk write failed (full/locked?)";
        return false;
    }
    removePartial.release();
    file.reset();
    digest = sha.finish();
    return true;
}

}  // namespace pcupd
