#include "base/p256_signature.h"

#include <cstring>
#include <vector>

#include "base/bcrypt_handle.h"
#include "base/hex.h"

namespace base {

P256Check checkP256Signature(const uint8_t (&digest)[kP256DigestSize],
                             std::string_view signature, std::string_view publicKeyHex) {
    std::vector<uint8_t> xy;
    if (publicKeyHex.size() != kP256PublicKeyHexSize || !fromHex(publicKeyHex, xy))
        return P256Check::kKeyNotHex;
    // The key as BCrypt takes it: the header, then X and Y.
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC,
                                    static_cast<ULONG>(xy.size() / 2)};
    std::vector<UCHAR> blob(sizeof(header) + xy.size());
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), xy.data(), xy.size());
    UniqueBcryptAlgorithm provider;
    UniqueBcryptKey key;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_ECDSA_P256_ALGORITHM,
                                                    nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                            key.put(), blob.data(),
                                            static_cast<ULONG>(blob.size()), 0)))
        return P256Check::kKeyNotOnCurve;
    if (signature.size() != kP256SignatureSize) return P256Check::kSignatureInvalid;
    std::vector<UCHAR> raw(signature.begin(), signature.end());
    const bool valid = BCRYPT_SUCCESS(
        BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest), kP256DigestSize,
                              raw.data(), static_cast<ULONG>(raw.size()), 0));
    return valid ? P256Check::kValid : P256Check::kSignatureInvalid;
}

}  // namespace base
