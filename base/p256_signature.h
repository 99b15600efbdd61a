#pragma once
// ECDSA P-256 signature checks over BCrypt. The setup program checks its signed manifests
// and orvpak.exe its published ones with this one function, so the two can never disagree on
// which signatures are good. Keys travel as 128 hex digits (X then Y, either case),
// signatures as 64 raw bytes (r then s, 32 big-endian bytes each). Any thread may call it.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace base {

constexpr size_t kP256SignatureSize = 64;
constexpr size_t kP256PublicKeyHexSize = 128;
constexpr size_t kP256DigestSize = 32;  // the signed bytes' SHA-256

enum class P256Check {
    kValid,
    kKeyNotHex,         // the key is not 128 hex digits
    kKeyNotOnCurve,     // it is, but no point of the curve (or BCrypt has no P-256)
    kSignatureInvalid,  // not 64 bytes, or not made by this key over this digest
};

// Checks `signature` over the bytes whose SHA-256 is `digest` against `publicKeyHex`. The
// caller hashes, once for however many keys it tries.
P256Check checkP256Signature(const uint8_t (&digest)[kP256DigestSize],
                             std::string_view signature, std::string_view publicKeyHex);

}  // namespace base
