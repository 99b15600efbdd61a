#pragma once
// The progress record the update engine hands to its caller's callback, synchronously, on
// the worker thread. The callback copies what it needs before it returns.

#include <cstdint>
#include <functional>
#include <string>

namespace pcupd {

struct Progress {
    int32_t phase = 0;    // 0 connecting, 1 checking, 2..4 repairing, 5 up to date
    std::string item;     // UTF-8 path of the file being worked on, if any
    int32_t filesDone = 0, filesTotal = 0;  // set by file repair
    int64_t bytesDone = 0, bytesTotal = 0;  // bytesDone: bytes downloaded so far
    std::string message;  // the phase text
};

using ProgressCallback = std::function<void(const Progress&)>;

}  // namespace pcupd
