#include "update/sha256.h"

#include <algorithm>

namespace pcupd {
namespace {

constexpr DWORD kFileReadSize = 262144;

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

}  // namespace

Sha256::Sha256() {
    const SharedProvider& shared = sharedProvider();
    if (!shared.handle) return;
    digestLength_ = shared.digestLength;
    object_.assign(shared.objectLength, 0);
    ready_ = BCRYPT_SUCCESS(BCryptCreateHash(shared.handle, hash_.put(), object_.data(),
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
    }
    return sha.finish(digest);
}

std::string hashFile(const std::wstring& path) {
    uint8_t digest[kSha256Size] = {};
    return hashFile(path, digest) ? base::toHex(digest, sizeof(digest)) : std::string();
}

}  // namespace pcupd
