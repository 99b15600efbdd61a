#pragma once
// A failure as a value: what kind it is, which HTTP status or system error caused it, and the
// text a reader sees, made once where the failure is known. Code decides on the kind and the
// numbers, never on the text, so rewording a message cannot change what the program does.

#include <cstdint>
#include <string>

namespace base {

enum class FailureKind {
    kNone,
    kBadInput,    // a bad URL, or a document (manifest, index, archive) that is not what it claims
    kConnection,  // no response, or the connection broke: may go better on another try
    kSecure,      // the secure connection was refused (certificate not trusted or not for the host)
    kHttpStatus,  // a response with another status than the one asked for (`httpStatus`)
    kStalled,     // the connection brought too little for too long
    kTooLarge,    // more bytes than promised or allowed
    kMismatch,    // bytes whose digest or size is not the one the manifest gives
    kRefused,     // a manifest refused: not signed, expired, older than what is installed
    kDisk,        // a file or folder could not be created, read, written, moved or deleted
    kCancelled,   // given up because another part of the same run failed
    kInternal,    // out of memory, or no hashing or thread to be had
};

struct Failure {
    FailureKind kind = FailureKind::kNone;
    uint32_t httpStatus = 0;   // with kHttpStatus: the status received (0: no status line)
    uint32_t systemError = 0;  // the system's error code, where one caused it
    std::string text;          // for the reader

    Failure() = default;
    Failure(FailureKind kind, std::string text, uint32_t systemError = 0)
        : kind(kind), systemError(systemError), text(std::move(text)) {}
    static Failure http(uint32_t status, std::string text) {
        Failure failure(FailureKind::kHttpStatus, std::move(text));
        failure.httpStatus = status;
        return failure;
    }

    bool failed() const { return kind != FailureKind::kNone; }
    explicit operator bool() const { return failed(); }
    // Whether another try of the same request may go better: the connection, or a server
    // that answered with an error of its own (5xx) or with no status at all.
    bool transient() const {
        return kind == FailureKind::kConnection ||
               (kind == FailureKind::kHttpStatus && (httpStatus == 0 || httpStatus >= 500));
    }
};

}  // namespace base
