#include "tools/orvpak/sha256_hasher.h"

#include "update/sha256.h"

namespace orvpak {

static_assert(pcupd::kSha256Size == kDigestSize, "both sides hash to 32 bytes");

struct Sha256Hasher::State {
    pcupd::Sha256 sha;
    bool finished = false;
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {}

Sha256Hasher::~Sha256Hasher() = default;

bool Sha256Hasher::ready() const { return state_->sha.ready() && !state_->finished; }

void Sha256Hasher::update(const void* data, size_t size) {
    if (ready()) state_->sha.update(data, size);
}

bool Sha256Hasher::finish(uint8_t (&digest)[kDigestSize]) {
    if (!ready()) return false;
    state_->finished = true;
    return state_->sha.finish(digest);
}

}  // namespace orvpak
