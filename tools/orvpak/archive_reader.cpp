#include "tools/orvpak/archive_reader.h"

#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/file_io.h"

namespace orvpak {
namespace {

// One pass over one archive; every method that returns false has set the error.
class ArchiveWalk {
public:
    ArchiveWalk(const std::filesystem::path& path, std::string& error)
        : path_(path), error_(error) {}

    bool open(ArchiveSummary& summary) {
        std::error_code failure;
        const uintmax_t size = std::filesystem::file_size(path_, failure);
        if (failure) {
            error_ = "cannot read " + displayPath(path_) + ": " + failure.message();
            return false;
        }
        size_ = summary.archiveBytes = size;
        return file_.open(path_, error_);
    }

    // Exactly `size` bytes into `buffer`; `what` names them in a truncation message.
    bool read(void* buffer, size_t size, const std::string& what) {
        if (!ensureRemaining(size, what)) return false;
        if (file_.read(buffer, size) != size) return readFailure();
        position_ += size;
        return true;
    }

    // The data of entry `number`, hashed or skipped.
    bool data(const ArchiveEntry& entry, uint32_t number, DataCheck check,
              std::vector<unsigned char>& buffer) {
        const std::string name = entryName(number, entry.path);
        if (!ensureRemaining(entry.size, "the data of " + name)) return false;
        if (check == DataCheck::kSkip) {
            if (!file_.skip(entry.size)) return readFailure();
            position_ += entry.size;
            return true;
        }
        Sha256Hasher hasher;
        if (!hasher.ready()) return fault("cannot start SHA-256");
        uint64_t left = entry.size;
        while (left > 0) {
            const size_t piece = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
            if (file_.read(buffer.data(), piece) != piece) return readFailure();
            hasher.update(buffer.data(), piece);
            left -= piece;
        }
        position_ += entry.size;
        Digest digest{};
        if (!hasher.finish(digest)) return fault("SHA-256 failed on " + name);
        if (digest != entry.sha256)
            return fault(name + ": SHA-256 mismatch: the archive records " + toHex(entry.sha256) +
                         " but the data hashes to " + toHex(digest));
        return true;
    }

    uint64_t remaining() const { return size_ - position_; }

    bool fault(const std::string& message) {
        error_ = displayPath(path_) + ": " + message;
        return false;
    }

    static std::string entryName(uint32_t number, const std::string& path) {
        return "entry " + std::to_string(number) + " " + quotedPath(path);
    }

private:
    bool ensureRemaining(uint64_t size, const std::string& what) {
        if (size <= remaining()) return true;
        return fault("truncated: " + what + " needs " + std::to_string(size) +
                     " bytes but only " + std::to_string(remaining()) + " remain");
    }

    bool readFailure() {
        if (file_.failed()) return fault(std::string("read error: ") + std::strerror(errno));
        return fault("the file got shorter while it was being read");
    }

    const std::filesystem::path& path_;
    std::string& error_;
    InputFile file_;
    uint64_t size_ = 0, position_ = 0;
};

bool readHeader(ArchiveWalk& walk, base::ArchiveHeader& header) {
    unsigned char bytes[base::kArchiveHeaderSize];
    if (!walk.read(bytes, sizeof(bytes), "the header")) return false;
    if (!base::hasArchiveMagic(bytes))
        return walk.fault("bad magic: this is not an ORVPAK1 archive");
    header = base::decodeArchiveHeader(bytes);
    if (header.version != base::kArchiveVersion)
        return walk.fault("unsupported version " + std::to_string(header.version) +
                          " (this orvpak reads version " + std::to_string(base::kArchiveVersion) +
                          ")");
    return true;
}

bool readEntryHead(ArchiveWalk& walk, uint32_t number, ArchiveEntry& entry) {
    const std::string name = "entry " + std::to_string(number);
    unsigned char lengthBytes[base::kEntryPathLengthSize];
    if (!walk.read(lengthBytes, sizeof(lengthBytes), "the path length of " + name)) return false;
    const size_t length =
        static_cast<size_t>(base::readLittleEndian(lengthBytes, sizeof(lengthBytes)));
    if (length < 1 || length > kMaxPathLength)
        return walk.fault(name + ": bad path length " + std::to_string(length) + " (must be 1 to " +
                          std::to_string(kMaxPathLength) + ")");
    entry.path.assign(length, '\0');
    if (!walk.read(entry.path.data(), length, "the path of " + name)) return false;
    const std::string problem = entryPathProblem(entry.path);
    if (!problem.empty())
        return walk.fault(ArchiveWalk::entryName(number, entry.path) + ": unsafe path: it " +
                          problem);
    unsigned char fixed[base::kEntryFixedSize];
    if (!walk.read(fixed, sizeof(fixed),
                   "the size and digest of " + ArchiveWalk::entryName(number, entry.path)))
        return false;
    entry.size = base::entryDataSize(fixed);
    std::memcpy(entry.sha256.data(), base::entryDigest(fixed), kDigestSize);
    return true;
}

}  // namespace

bool readArchive(const std::filesystem::path& path, DataCheck check, const EntryVisitor& visit,
                 ArchiveSummary& summary, std::string& error) {
    try {
        summary = ArchiveSummary();
        ArchiveWalk walk(path, error);
        if (!walk.open(summary)) return false;
        base::ArchiveHeader header;
        if (!readHeader(walk, header)) return false;
        summary.header = header;

        std::vector<unsigned char> buffer(check == DataCheck::kHash ? kChunkSize : 0);
        // The installer lowercases paths, so two entries that differ in case overwrite each
        // other there.
        std::unordered_map<std::string, std::pair<uint32_t, std::string>> seen;
        for (uint32_t number = 1; number <= header.entryCount; ++number) {
            ArchiveEntry entry;
            if (!readEntryHead(walk, number, entry)) return false;
            const auto earlier = seen.emplace(toLowerAscii(entry.path), std::make_pair(number, entry.path));
            if (!earlier.second)
                return walk.fault(ArchiveWalk::entryName(number, entry.path) + " repeats " +
                                  ArchiveWalk::entryName(earlier.first->second.first,
                                                         earlier.first->second.second) +
                                  " (the installer ignores letter case)");
            if (!walk.data(entry, number, check, buffer)) return false;
            ++summary.entriesRead;
            summary.dataBytes += entry.size;
            if (visit) visit(entry);
        }
        if (walk.remaining() > 0)
            return walk.fault(std::to_string(walk.remaining()) +
                              " trailing bytes after the last entry (entry " +
                              std::to_string(header.entryCount) + ")");
        if (summary.dataBytes != header.totalBytes)
            return walk.fault("the header's total is " + std::to_string(header.totalBytes) +
                              " bytes but the entries hold " +
                              std::to_string(summary.dataBytes));
        return true;
    } catch (const std::bad_alloc&) {
        error = displayPath(path) + ": out of memory";
    } catch (const std::exception& e) {
        error = displayPath(path) + ": " + e.what();
    }
    return false;
}

bool listArchive(const std::filesystem::path& path, std::vector<ArchiveEntry>& entries,
                 ArchiveSummary& summary, std::string& error) {
    entries.clear();
    return readArchive(
        path, DataCheck::kSkip, [&](const ArchiveEntry& entry) { entries.push_back(entry); },
        summary, error);
}

bool verifyArchive(const std::filesystem::path& path, ArchiveSummary& summary,
                   std::string& error) {
    return readArchive(path, DataCheck::kHash, EntryVisitor(), summary, error);
}

}  // namespace orvpak
