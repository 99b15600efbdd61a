#include "update/chunk_patch.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/chunk_groups.h"
#include "base/chunk_index.h"
#include "base/chunker.h"
#include "base/unique_handle.h"
#include "update/download.h"
#include "update/resuming_stream.h"
#include "update/sha256.h"
#include "update/stall_watch.h"

namespace pcupd {
namespace {

constexpr int32_t kReadSize = 64 * 1024;

bool cancelled(const std::atomic<bool>* cancel) { return cancel && *cancel; }

bool sameDigest(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, kSha256Size) == 0; }

bool digestOf(const void* data, size_t size, uint8_t (&digest)[kSha256Size]) {
    Sha256 sha;
    sha.update(data, size);
    return sha.finish(digest);
}

class Patch {
public:
    Patch(const ManifestFile& file, const ManifestFile& previous, const std::atomic<bool>* cancel,
          const ChunkRepairEvents& events, const TransferOptions& transfer)
        : file_(file), previous_(previous), cancel_(cancel), events_(events), transfer_(transfer) {}

    ChunkRepairResult run(const std::wstring& target, bool& written, std::string& why) {
        written = false;
        base::ChunkGroups now, before;
        if (!loadGroups(file_, now, why) || !loadGroups(previous_, before, why))
            return ChunkRepairResult::Fallback;
        std::vector<base::PatchRun> downloads;
        uint64_t toDownload = 0;
        if (!plan(now, before, downloads, toDownload, why)) return result(why);
        if (!base::patchPays(toDownload, static_cast<uint64_t>(file_.size))) {
            why = "too much changed to patch in place";
            return ChunkRepairResult::Fallback;
        }
        if (events_.planned) events_.planned(static_cast<int64_t>(toDownload));

        base::UniqueFile out(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) {
            why = "the file cannot be opened for writing";
            return ChunkRepairResult::Fallback;
        }
        for (const base::PatchRun& download : downloads)
            if (!fetch(download, out.get(), written, why)) return result(why);
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = file_.size;
        written = true;
        if (!SetFileInformationByHandle(out.get(), FileEndOfFileInfo, &end, sizeof(end)) ||
            !FlushFileBuffers(out.get())) {
            why = "disk write failed";
            return ChunkRepairResult::Fallback;
        }
        return ChunkRepairResult::Built;
    }

private:
    ChunkRepairResult result(std::string& why) const {
        if (!cancelled(cancel_)) return ChunkRepairResult::Fallback;
        why = "download cancelled";
        return ChunkRepairResult::Cancelled;
    }

    bool loadGroups(const ManifestFile& entry, base::ChunkGroups& groups, std::string& why) {
        std::string body;
        if (!fetchChunkObject(entry.chunkGroupsUrl, entry.chunkGroupsSha256, "chunk groups", body, why, transfer_))
            return false;
        if (!base::decodeChunkGroups(body, groups, why)) return false;
        if (groups.fileSize != static_cast<uint64_t>(entry.size)) {
            why = "chunk groups are for another size";
            return false;
        }
        return true;
    }

    // The records of `groups` (of one index), each group checked against its digest, appended
    // to `chunks` with their places in the file.
    bool fetchRecords(const ManifestFile& entry, const base::ChunkGroups& all,
                      const std::vector<const base::ChunkGroup*>& groups,
                      std::vector<base::PlacedChunk>& chunks, std::string& why) {
        const uint64_t indexSize =
            base::kChunkIndexHeaderSize + static_cast<uint64_t>(all.chunkCount) * base::kChunkIndexRecordSize;
        for (const base::RecordRange& range : base::recordRanges(groups)) {
            std::string bytes;
            if (!readRange(entry.chunksUrl, range.from, range.size, indexSize, bytes, why)) return false;
            for (size_t k = range.first; k < range.first + range.count; ++k) {
                const base::ChunkGroup& group = *groups[k];
                const char* records = bytes.data() + (base::groupRecordsOffset(group) - range.from);
                uint8_t digest[kSha256Size];
                if (!digestOf(records, base::groupRecordsSize(group), digest) || !sameDigest(digest, group.sha256)) {
                    why = "chunk index records do not match their group";
                    return false;
                }
                if (!base::placeChunks(group, records, chunks)) {
                    why = "chunk index is damaged";
                    return false;
                }
            }
        }
        return true;
    }

    // Which bytes of the new file must be downloaded: every chunk of a changed group that the
    // previous release does not have at the same place.
    bool plan(const base::ChunkGroups& now, const base::ChunkGroups& before,
              std::vector<base::PatchRun>& downloads, uint64_t& toDownload, std::string& why) {
        std::vector<base::PlacedChunk> newChunks, oldChunks;
        if (!fetchRecords(file_, now, base::groupsNotIn(now, before), newChunks, why) ||
            !fetchRecords(previous_, before, base::groupsNotIn(before, now), oldChunks, why))
            return false;
        downloads = base::patchRuns(newChunks, oldChunks, toDownload);
        return !cancelled(cancel_);
    }

    // Bytes [from, from + length) of `url`, whose body has `total` bytes.
    bool readRange(const std::string& url, uint64_t from, uint64_t length, uint64_t total,
                   std::string& bytes, std::string& why) {
        ResumingStream stream(transfer_);
        if (!stream.openRange(url, static_cast<int64_t>(from), static_cast<int64_t>(from + length) - 1,
                              static_cast<int64_t>(total), L"")) {
            why = "range refused: " + stream.failure().text;
            return false;
        }
        bytes.resize(length);
        for (uint64_t done = 0; done < length;) {
            if (cancelled(cancel_)) return false;
            const int32_t want = static_cast<int32_t>(std::min<uint64_t>(kReadSize, length - done));
            const int32_t got = stream.read(bytes.data() + done, want);
            if (got <= 0) {
                why = stream.readFailure("range read failed").text;
                return false;
            }
            done += static_cast<uint64_t>(got);
        }
        return true;
    }

    // One Range request; each chunk is checked against its digest before it is written over
    // the old bytes.
    bool fetch(const base::PatchRun& download, HANDLE out, bool& written, std::string& why) {
        ResumingStream stream(transfer_);
        if (!stream.openRange(file_.url, static_cast<int64_t>(download.from),
                              static_cast<int64_t>(download.from + download.length) - 1, file_.size, L"")) {
            why = "range refused: " + stream.failure().text;
            return false;
        }
        std::vector<char> chunk(base::kChunkMax);
        uint64_t offset = download.from;
        for (const base::ChunkRecord& record : download.chunks) {
            for (uint32_t done = 0; done < record.length;) {
                if (cancelled(cancel_)) return false;
                const int32_t want = static_cast<int32_t>(std::min<uint32_t>(kReadSize, record.length - done));
                const int32_t got = stream.read(chunk.data() + done, want);
                if (got <= 0) {
                    why = stream.readFailure("range read failed").text;
                    return false;
                }
                done += static_cast<uint32_t>(got);
                if (events_.received) events_.received(got);
            }
            uint8_t digest[kSha256Size];
            if (!digestOf(chunk.data(), record.length, digest) || !sameDigest(digest, record.sha256)) {
                why = "downloaded chunk digest is wrong";
                return false;
            }
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD wrote = 0;
            written = true;
            if (!WriteFile(out, chunk.data(), record.length, &wrote, &at) || wrote != record.length) {
                why = "disk write failed";
                return false;
            }
            offset += record.length;
        }
        return true;
    }

    const ManifestFile& file_;
    const ManifestFile& previous_;
    const std::atomic<bool>* cancel_;
    const ChunkRepairEvents& events_;
    const TransferOptions& transfer_;
};

}  // namespace

bool chunkPatchApplies(const ManifestFile& file, const ManifestFile& previous) {
    return !file.chunkGroupsUrl.empty() && !previous.chunkGroupsUrl.empty() && !file.chunksUrl.empty() &&
           !previous.chunksUrl.empty() && file.size > 0 && previous.size > 0 && file.sha256 != previous.sha256;
}

ChunkRepairResult patchInPlace(const ManifestFile& file, const ManifestFile& previous,
                               const std::wstring& target, const std::atomic<bool>* cancel,
                               const ChunkRepairEvents& events, const TransferOptions& transfer,
                               bool& written, std::string& why) {
    return Patch(file, previous, cancel, events, transfer).run(target, written, why);
}

}  // namespace pcupd
