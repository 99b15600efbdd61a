#pragma once
// Decodes a gzip response body as it arrives (zlib), with a ceiling on what it may grow to,
// so that a few kilobytes that inflate to gigabytes (a "gzip bomb") are refused before they
// are held. Only the small documents are asked for compressed (the manifest, its patches).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pcupd {

class GzipDecoder {
public:
    enum class Result { kMore, kEnd, kDamaged, kTooLarge };

    GzipDecoder();
    ~GzipDecoder();
    GzipDecoder(const GzipDecoder&) = delete;
    GzipDecoder& operator=(const GzipDecoder&) = delete;

    // Decodes the next `size` bytes of the body onto the end of `out`. kMore: the stream goes
    // on; kEnd: it is complete (nothing may follow); kDamaged: not gzip, a bad checksum or bytes
    // after the end; kTooLarge: `out` would pass `limit` bytes.
    Result feed(const void* data, size_t size, std::string& out, uint64_t limit);

private:
    struct State;
    std::unique_ptr<State> state_;
    bool ended_ = false;
};

}  // namespace pcupd
