#pragma once
// SHA-256 over the platform's CNG (BCrypt), and the digest of a local file. Digests travel as 64 lowercase hex characters; an empty text means
// "no digest" and never equals a real one. Any thread may call these; a Sha256 object belongs
// to one thread at a time.

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/hex.h"  // digests as text: base::toHex
#include "base/bcrypt_handle.h"

namespace pcupd {

constexpr size_t kSha256Size = 32;

// One incremental SHA-256. Construction sets it up; ready() says whether that worked.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool ready() const { return ready_; }
    // Adds bytes; does nothing when not ready or when size is 0.
    void update(const void* data, size_t size);
    // Lowercase hex of the digest; empty when not ready or when finishing fails.
    std::string finish();
    // The raw digest; false when not ready or when finishing fails.
    bool finish(uint8_t (&digest)[kSha256Size]);

private:
    // Declared so that destruction runs the hash before its own memory goes. The provider
    // is the process's shared one.
    std::vector<UCHAR> object_;
    base::UniqueBcryptHash hash_;
    ULONG digestLength_ = 0;
    bool ready_ = false;
};


// Digest of the whole file; empty when it cannot be opened (missing, or locked against
// reading) or hashing cannot start. A read error midway yields the digest of what was read.
std::string hashFile(const std::wstring& path);
// The same as raw bytes (a verification of many files keeps no texts); false where the text
// would be empty.
bool hashFile(const std::wstring& path, uint8_t (&digest)[kSha256Size]);

}  // namespace pcupd
