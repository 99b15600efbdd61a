// The Windows build of orvpak publishes and checks archives; signing stays with the native
// build, where the operator's key lives on the offline machine.
#include "tools/orvpak/manifest_signer.h"

namespace orvpak {

struct SigningKey::State {};

bool signingAvailable() { return false; }

bool generateKey(const std::filesystem::path&, std::string&, std::string& error) {
    error = kSigningUnavailable;
    return false;
}

SigningKey::SigningKey() = default;
SigningKey::~SigningKey() = default;

bool SigningKey::load(const std::filesystem::path&, std::string& error) {
    error = kSigningUnavailable;
    return false;
}

bool SigningKey::sign(const std::string&, std::string&, std::string& error) const {
    error = kSigningUnavailable;
    return false;
}

std::string SigningKey::publicKeyHex() const { return std::string(); }

bool verifySignature(const std::string&, const std::string&, const std::string&,
                     std::string& problem) {
    problem = kSigningUnavailable;
    return false;
}

}  // namespace orvpak
