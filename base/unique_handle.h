#pragma once
// Owners for raw Windows handles: one template, one alias per handle type. Copying is
// deleted (a copy would close the handle twice); moving hands the handle over.

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

namespace base {

// Traits say what "no handle" is and how to close one:
//   struct Traits { using Type = ...; static Type invalid(); static void close(Type); };
// UniqueOf below writes them for the usual case.
template <typename Traits>
class UniqueAny {
public:
    using Type = typename Traits::Type;

    UniqueAny() noexcept = default;
    explicit UniqueAny(Type handle) noexcept : handle_(handle) {}
    UniqueAny(UniqueAny&& other) noexcept : handle_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    Type get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }

    // Closes the current handle (if any) and takes ownership of `handle`.
    void reset(Type handle = Traits::invalid()) noexcept {
        Type old = std::exchange(handle_, handle);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // Gives up ownership without closing.
    Type release() noexcept { return std::exchange(handle_, Traits::invalid()); }
    // Frees the current handle and returns the slot for an API's out parameter.
    Type* put() noexcept {
        reset();
        return &handle_;
    }

private:
    Type handle_ = Traits::invalid();
};

// The traits of a handle type that one call closes: `Close(handle)`. "None" is `Invalid`, a
// number (0: null; kInvalidHandleValue: INVALID_HANDLE_VALUE), since a pointer constant
// cannot be a template argument. A closer that takes more than the handle is wrapped in a
// function of one argument first (see base/bcrypt_handle.h).
template <typename T, auto Close, intptr_t Invalid = 0>
struct ClosedBy {
    using Type = T;
    static Type invalid() noexcept {
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<T>(Invalid);
        else
            return static_cast<T>(Invalid);
    }
    static void close(Type h) noexcept { Close(h); }
};

// One line per handle type, e.g.
//   using UniqueInternet = base::UniqueOf<HINTERNET, &::WinHttpCloseHandle>;
template <typename T, auto Close, intptr_t Invalid = 0>
using UniqueOf = UniqueAny<ClosedBy<T, Close, Invalid>>;

constexpr intptr_t kInvalidHandleValue = -1;  // INVALID_HANDLE_VALUE as a template argument

// Kernel objects returned by CreateFileW; CreateToolhelp32Snapshot reports failure as
// INVALID_HANDLE_VALUE too, so UniqueFile owns a snapshot as well.
using UniqueFile = UniqueOf<HANDLE, &::CloseHandle, kInvalidHandleValue>;
// Kernel objects whose "none" is null: processes, threads, events (not files, not snapshots).
using UniqueHandle = UniqueOf<HANDLE, &::CloseHandle>;
// FindFirstFileW searches.
using UniqueFind = UniqueOf<HANDLE, &::FindClose, kInvalidHandleValue>;
// Registry keys opened or created under a root key.
using UniqueRegKey = UniqueOf<HKEY, &::RegCloseKey>;

// Runs a clean-up at scope exit unless release()d, e.g. "delete the .part file unless it
// was moved into place".
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) f_();
    }
    void release() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

}  // namespace base
