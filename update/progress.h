#pragma once
// The progress record the update engine hands to its caller's callback, synchronously, on
// the worker thread. The callback copies what it needs before it returns.

#include <cstdint>
#include <functional>
#include <string>

namespace pcupd {

enum class UpdateStage {
    kConnecting,   // fetching the manifest
    kChecking,     // comparing the folder with it
    kDownloading,  // a file is downloading (`item`)
    kUpdated,      // a file is in place (`item`)
    kRepaired,     // every changed file is in place
    kUpToDate,     // nothing needed repair
};

struct Progress {
    UpdateStage stage = UpdateStage::kConnecting;
    std::string item;  // UTF-8 path of the file being worked on, if any
    int64_t bytesDone = 0, bytesTotal = 0;  // bytesDone: bytes downloaded so far
};

using ProgressCallback = std::function<void(const Progress&)>;

}  // namespace pcupd
