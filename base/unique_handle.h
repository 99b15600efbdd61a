#pragma once
// Owners for raw Windows handles: one template, one alias per handle type. Copying is
// deleted (a copy would close the handle twice); moving hands the handle over.

#include <windows.h>

#include <utility>

namespace base {

// Traits say what "no handle" is and how to close one:
//   struct Traits { using Type = ...; static Type invalid(); static void close(Type); };
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

// Kernel objects returned by CreateFileW: INVALID_HANDLE_VALUE means none.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Type h) noexcept { ::CloseHandle(h); }
};
// Kernel objects whose "none" is null: processes, threads, events (not files, not snapshots).
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { ::CloseHandle(h); }
};

// FindFirstFileW searches.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Type h) noexcept { ::FindClose(h); }
};

// Registry keys opened or created under a root key.
struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { ::RegCloseKey(h); }
};

// CreateToolhelp32Snapshot reports failure as INVALID_HANDLE_VALUE too: UniqueFile owns it.
using UniqueFile = UniqueAny<FileHandleTraits>;
using UniqueHandle = UniqueAny<KernelHandleTraits>;
using UniqueFind = UniqueAny<FindHandleTraits>;
using UniqueRegKey = UniqueAny<RegKeyTraits>;

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
