#include "update/gzip_body.h"

#include <zlib.h>

namespace pcupd {

struct GzipDecoder::State {
    z_stream stream{};
    bool ready = false;
    ~State() {
        if (ready) inflateEnd(&stream);
    }
};

GzipDecoder::GzipDecoder() : state_(std::make_unique<State>()) {
    // 16 + window bits: a gzip wrapper and nothing else.
    state_->ready = inflateInit2(&state_->stream, 16 + MAX_WBITS) == Z_OK;
}

GzipDecoder::~GzipDecoder() = default;

GzipDecoder::Result GzipDecoder::feed(const void* data, size_t size, std::string& out,
                                      uint64_t limit) {
    if (!state_->ready) return Result::kDamaged;
    if (ended_) return size == 0 ? Result::kEnd : Result::kDamaged;
    z_stream& stream = state_->stream;
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    stream.avail_in = static_cast<uInt>(size);
    char buffer[16384];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof(buffer);
        const int status = inflate(&stream, Z_NO_FLUSH);
        const size_t produced = sizeof(buffer) - stream.avail_out;
        if (out.size() + produced > limit) return Result::kTooLarge;
        out.append(buffer, produced);
        if (status == Z_STREAM_END) {
            ended_ = true;
            return stream.avail_in == 0 ? Result::kEnd : Result::kDamaged;
        }
        // No progress possible: fine when it only waits for more of the body.
        if (status == Z_BUF_ERROR) return stream.avail_in == 0 ? Result::kMore : Result::kDamaged;
        if (status != Z_OK) return Result::kDamaged;
        // All input taken and the output not full: zlib holds nothing more for now.
        if (stream.avail_in == 0 && stream.avail_out != 0) return Result::kMore;
    }
}

}  // namespace pcupd
