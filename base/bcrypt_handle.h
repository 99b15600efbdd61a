#pragma once
// Owners for CNG (BCrypt) handles: algorithm providers, hash objects and keys.

#include <windows.h>
#include <bcrypt.h>

#include "base/unique_handle.h"

namespace base {

// BCryptCloseAlgorithmProvider takes flags as well as the handle.
inline void closeAlgorithmProvider(BCRYPT_ALG_HANDLE provider) noexcept {
    ::BCryptCloseAlgorithmProvider(provider, 0);
}

using UniqueBcryptAlgorithm = UniqueOf<BCRYPT_ALG_HANDLE, &closeAlgorithmProvider>;
using UniqueBcryptHash = UniqueOf<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>;
using UniqueBcryptKey = UniqueOf<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>;

}  // namespace base
