#include "tools/orvpak/sha256_hasher.h"

#include <openssl/evp.h>

namespace orvpak {

struct Sha256Hasher::State {
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> context{EVP_MD_CTX_new()};
    bool ready = false;
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {
    state_->ready = state_->context &&
                    EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256Hasher::~Sha256Hasher() = default;

bool Sha256Hasher::ready() const { return state_->ready; }

void Sha256Hasher::update(const void* data, size_t size) {
    // A failed update would yield a digest of some other bytes; finish() must not succeed.
    if (state_->ready && size > 0 && EVP_DigestUpdate(state_->context.get(), data, size) != 1)
        state_->ready = false;
}

bool Sha256Hasher::finish(uint8_t (&digest)[kDigestSize]) {
    unsigned int length = 0;
    if (!state_->ready) return false;
    state_->ready = false;
    return EVP_DigestFinal_ex(state_->context.get(), digest, &length) == 1 &&
           length == kDigestSize;
}

}  // namespace orvpak
