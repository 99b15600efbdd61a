#pragma once
// The operator's signing key and the detached signature of manifest.json: ECDSA P-256 over
// SHA-256 of the manifest's exact bytes, stored as raw r||s (32 big-endian bytes each). The
// public key travels as 128 lowercase hex digits, X then Y, which is what the setup program
// is built with. Natively this runs on OpenSSL, on Windows on BCrypt (verification through
// the setup program's own check, base/p256_signature.h).

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace orvpak {

constexpr size_t kSignatureSize = 64;
constexpr size_t kPublicKeyHexSize = 128;
constexpr char kSignatureSuffix[] = ".sig";  // manifest.json.sig beside manifest.json
// Makes a new key pair and writes the private key (PEM) to `keyFile`, readable by its owner
// only. Never replaces an existing file: a lost signing key cannot be made again. The new
// file appears complete or not at all. Fills `publicKeyHex`.
bool generateKey(const std::filesystem::path& keyFile, std::string& publicKeyHex,
                 std::string& error);

// A private key loaded from its PEM file, ready to sign.
class SigningKey {
public:
    SigningKey();
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    // False, with a message naming the file, when it is missing or not a P-256 private key.
    bool load(const std::filesystem::path& keyFile, std::string& error);
    // The kSignatureSize-byte signature of `bytes`.
    bool sign(const std::string& bytes, std::string& signature, std::string& error) const;
    std::string publicKeyHex() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// True when `signature` is a valid signature of `bytes` by the key `publicKeyHex`. False with
// `problem` set: the key text is not 128 hex digits or no point of the curve, or the
// signature does not match ("manifest signature is not valid").
bool verifySignature(const std::string& publicKeyHex, const std::string& bytes,
                     const std::string& signature, std::string& problem);

}  // namespace orvpak
