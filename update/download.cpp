#include "update/download.h"

#include <windows.h>

#include <vector>

#include "base/unique_handle.h"
#include "update/resuming_stream.h"
#include "update/sha256.h"

namespace pcupd {
namespace {

// The most one read takes: each returns what has arrived, up to this, so progress reports
// and the cancel check come round at a steady pace.
constexpr size_t kDownloadSlice = 64 * 1024;

bool fail(base::Failure& failure, base::FailureKind kind, const char* text, uint32_t system = 0) {
    failure = base::Failure(kind, text, system);
    return false;
}

// One download under way: the body coming in, the file it goes to and the digest of both.
class Transfer {
public:
    Transfer(const std::wstring& path, const DownloadOptions& options)
        : path_(path), options_(options), stream_(options.transfer) {}

    bool run(const std::string& url, Downloaded& result, base::Failure& failure) {
        if (!open(url, failure) || !createFile(failure)) return false;
        // From here on, a failure must not leave a partial file that looks like a download.
        base::ScopeExit removePartial([this] {
            file_.reset();
            DeleteFileW(path_.c_str());
        });
        if (!copyBody(failure) || !complete(failure)) return false;
        removePartial.release();
        file_.reset();
        result.digest = sha_.finish();
        result.bytes = received_;
        return true;
    }

private:
    bool tooLarge(int64_t bytes) const { return options_.expectedSize > 0 && bytes > options_.expectedSize; }
    bool cancelled() const { return options_.cancel && *options_.cancel; }

    // Whatever the server says, no more than the manifest promised reaches the disk.
    bool open(const std::string& url, base::Failure& failure) {
        if (!stream_.open(url, failure)) return false;
        if (tooLarge(stream_.contentLength()))
            return fail(failure, base::FailureKind::kTooLarge, "download larger than expected");
        return true;
    }

    bool createFile(base::Failure& failure) {
        if (!sha_.ready()) return fail(failure, base::FailureKind::kInternal, "sha init failed");
        file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) return fail(failure, base::FailureKind::kDisk, "cannot create temp file", GetLastError());
        return true;
    }

    bool copyBody(base::Failure& failure) {
        std::vector<char> buffer(kDownloadSlice);
        int64_t unreported = 0;
        for (;;) {
            if (cancelled()) return fail(failure, base::FailureKind::kCancelled, "download cancelled");
            const int32_t read = stream_.read(buffer.data(), static_cast<int32_t>(buffer.size()));
            if (read < 0) {
                failure = stream_.readFailure("download read failed");
                return false;
            }
            if (read == 0) return true;
            if (tooLarge(received_ + read))
                return fail(failure, base::FailureKind::kTooLarge, "download larger than expected");
            if (!write(buffer.data(), static_cast<DWORD>(read), failure)) return false;
            received_ += read;
            unreported += read;
            if (options_.onBytes && unreported >= kProgressInterval) {
                options_.onBytes(unreported);
                unreported = 0;
            }
        }
    }

    bool write(const char* data, DWORD size, base::Failure& failure) {
        DWORD written = 0;
        if (!WriteFile(file_.get(), data, size, &written, nullptr) || written != size)
            return fail(failure, base::FailureKind::kDisk, "disk write failed (full/locked?)", GetLastError());
        sha_.update(data, size);
        return true;
    }

    // A connection that drops early can end the body like a normal close; only the declared
    // length tells a cut file from a whole one. Then on disk before anyone moves it over a
    // good file: a power cut must not leave an empty file under the good one's name.
    bool complete(base::Failure& failure) {
        const int64_t expected = stream_.contentLength();
        if (expected >= 0 && received_ < expected)
            return fail(failure, base::FailureKind::kConnection, "download read failed");
        if (!FlushFileBuffers(file_.get()))
            return fail(failure, base::FailureKind::kDisk, "disk write failed (full/locked?)", GetLastError());
        return true;
    }

    const std::wstring& path_;
    const DownloadOptions& options_;
    ResumingStream stream_;
    base::UniqueFile file_;
    Sha256 sha_;
    int64_t received_ = 0;
};

}  // namespace

bool download(const std::string& url, const std::wstring& path, const DownloadOptions& options,
              Downloaded& result, base::Failure& failure) {
    return Transfer(path, options).run(url, result, failure);
}

}  // namespace pcupd
