#pragma once
// A throwaway operator key for tests: a fresh ECDSA P-256 pair per object, its public key as
// the program takes it (128 hex, X then Y) and detached signatures as the publisher writes
// them (raw r||s over SHA-256 of the bytes).

#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/bcrypt_handle.h"
#include "update/sha256.h"

namespace testsupport {

class ManifestSigner {
public:
    ManifestSigner() {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_ECDSA_P256_ALGORITHM,
                                                        nullptr, 0)) ||
            !BCRYPT_SUCCESS(BCryptGenerateKeyPair(provider_.get(), key_.put(), 256, 0)) ||
            !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key_.get(), 0)))
            throw std::runtime_error("cannot make a P-256 key");
        std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
        ULONG size = 0;
        if (!BCRYPT_SUCCESS(BCryptExportKey(key_.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob.data(),
                                            static_cast<ULONG>(blob.size()), &size, 0)) ||
            size != blob.size())
            throw std::runtime_error("cannot export a P-256 key");
        publicKey_ = base::toHex(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), 64);
    }

    const std::string& publicKey() const { return publicKey_; }

    std::string sign(const std::string& bytes) const {
        uint8_t digest[pcupd::kSha256Size];
        pcupd::Sha256 hash;
        hash.update(bytes.data(), bytes.size());
        std::string signature(64, '\0');
        ULONG size = 0;
        if (!hash.finish(digest) ||
            !BCRYPT_SUCCESS(BCryptSignHash(key_.get(), nullptr, digest, sizeof(digest),
                                           reinterpret_cast<UCHAR*>(&signature[0]), 64, &size, 0)) ||
            size != 64)
            throw std::runtime_error("cannot sign");
        return signature;
    }

private:
    base::UniqueBcryptAlgorithm provider_;  // declared first, closed last
    base::UniqueBcryptKey key_;
    std::string publicKey_;
};

}  // namespace testsupport
