#pragma once
// Incremental SHA-256 for the publisher. Natively it runs on OpenSSL's EVP; in the Windows
// build on the update engine's BCrypt context, so both sides hash with the platform's code.
// It is also the hasher of the publisher's base::ChunkHasher.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>

#include "base/hex.h"

namespace orvpak {

constexpr size_t kDigestSize = 32;
using Digest = std::array<uint8_t, kDigestSize>;

class Sha256Hasher {
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;

    // False when the platform could not set up a context; update() then does nothing.
    bool ready() const;
    void update(const void* data, size_t size);
    // The digest of everything passed to update(); call once. False when hashing failed.
    bool finish(uint8_t (&digest)[kDigestSize]);
    bool finish(Digest& digest);

private:
    struct State;
    std::unique_ptr<State> state_;
};

inline bool Sha256Hasher::finish(Digest& digest) {
    uint8_t raw[kDigestSize];
    if (!finish(raw)) return false;
    std::copy(std::begin(raw), std::end(raw), digest.begin());
    return true;
}

// 64 lowercase hex characters, the form the manifest and the installer use.
inline std::string toHex(const Digest& digest) { return base::toHex(digest.data(), digest.size()); }

}  // namespace orvpak
