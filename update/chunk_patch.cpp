#include "update/chunk_patch.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "base/chunk_groups.h"
#include "base/chunk_index.h"
#include "base/chunker.h"
#include "base/little_endian.h"
#include "base/unique_handle.h"
#include "update/download.h"
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

// A chunk of one release's file, where it lies.
struct PlacedChunk {
    uint64_t offset = 0;
    base::ChunkRecord record;
};

// A run of chunks to download: one Range request.
struct Download {
    uint64_t from = 0, length = 0;
    std::vector<base::ChunkRecord> chunks;
};

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
        std::vector<Download> downloads;
        uint64_t toDownload = 0;
        if (!plan(now, before, downloads, toDownload, why)) return result(why);
        // In place pays only while it saves most of the file; otherwise the chunk repair,
        // which finds moved chunks too, does better.
        if (toDownload > static_cast<uint64_t>(file_.size) / 4) {
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
        for (const Download& download : downloads)
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
        base::Failure failure;
        if (!httpGet(entry.chunkGroupsUrl, body, failure, transfer_)) {
            why = "chunk groups: " + failure.text;
            return false;
        }
        Sha256 sha;
        sha.update(body.data(), body.size());
        if (sha.finish() != entry.chunkGroupsSha256) {
            why = "chunk groups digest is wrong";
            return false;
        }
        if (!base::decodeChunkGroups(body, groups, why)) return false;
        if (groups.fileSize != static_cast<uint64_t>(entry.size)) {
            why = "chunk groups are for another size";
            return false;
        }
        return true;
    }

    // The records of `groups` (consecutive ones of one index), each group checked against its
    // digest, appended to `chunks` with their places in the file.
    bool fetchRecords(const ManifestFile& entry, const base::ChunkGroups& all,
                      const std::vector<const base::ChunkGroup*>& groups,
                      std::vector<PlacedChunk>& chunks, std::string& why) {
        const uint64_t indexSize =
            base::kChunkIndexHeaderSize + static_cast<uint64_t>(all.chunkCount) * base::kChunkIndexRecordSize;
        for (size_t i = 0; i < groups.size();) {
            size_t j = i + 1;
            while (j < groups.size() && groups[j]->firstChunk == groups[j - 1]->firstChunk + groups[j - 1]->chunkCount)
                ++j;
            const uint64_t from = base::groupRecordsOffset(*groups[i]);
            const uint64_t to = base::groupRecordsOffset(*groups[j - 1]) + base::groupRecordsSize(*groups[j - 1]);
            std::string bytes;
            if (!readRange(entry.chunksUrl, from, to - from, indexSize, bytes, why)) return false;
            for (size_t k = i; k < j; ++k) {
                const base::ChunkGroup& group = *groups[k];
                const char* records = bytes.data() + (base::groupRecordsOffset(group) - from);
                uint8_t digest[kSha256Size];
                if (!digestOf(records, base::groupRecordsSize(group), digest) || !sameDigest(digest, group.sha256)) {
                    why = "chunk index records do not match their group";
                    return false;
                }
                uint64_t offset = group.offset;
                for (uint32_t c = 0; c < group.chunkCount; ++c) {
                    const auto* p = reinterpret_cast<const unsigned char*>(records) + c * base::kChunkIndexRecordSize;
                    PlacedChunk chunk;
                    chunk.offset = offset;
                    chunk.record.length = static_cast<uint32_t>(base::readLittleEndian(p, 4));
                    std::memcpy(chunk.record.sha256, p + 4, kSha256Size);
                    if (chunk.record.length == 0 || chunk.record.length > base::kChunkMax) {
                        why = "chunk index is damaged";
                        return false;
                    }
                    offset += chunk.record.length;
                    chunks.push_back(chunk);
                }
                if (offset != group.offset + group.length) {
                    why = "chunk index is damaged";
                    return false;
                }
            }
            i = j;
        }
        return true;
    }

    // Which bytes of the new file must be downloaded: every chunk of a changed group that the
    // previous release does not have at the same place.
    bool plan(const base::ChunkGroups& now, const base::ChunkGroups& before,
              std::vector<Download>& downloads, uint64_t& toDownload, std::string& why) {
        std::map<uint64_t, const base::ChunkGroup*> beforeAt;
        for (const base::ChunkGroup& group : before.groups) beforeAt[group.offset] = &group;
        const auto unchanged = [&](const base::ChunkGroup& group, const std::map<uint64_t, const base::ChunkGroup*>& at) {
            const auto found = at.find(group.offset);
            return found != at.end() && found->second->length == group.length &&
                   sameDigest(found->second->sha256, group.sha256);
        };
        std::map<uint64_t, const base::ChunkGroup*> nowAt;
        for (const base::ChunkGroup& group : now.groups) nowAt[group.offset] = &group;
        std::vector<const base::ChunkGroup*> changedNow, changedBefore;
        for (const base::ChunkGroup& group : now.groups)
            if (!unchanged(group, beforeAt)) changedNow.push_back(&group);
        for (const base::ChunkGroup& group : before.groups)
            if (!unchanged(group, nowAt)) changedBefore.push_back(&group);

        std::vector<PlacedChunk> newChunks, oldChunks;
        if (!fetchRecords(file_, now, changedNow, newChunks, why) ||
            !fetchRecords(previous_, before, changedBefore, oldChunks, why))
            return false;
        std::map<uint64_t, const base::ChunkRecord*> oldAt;
        for (const PlacedChunk& chunk : oldChunks) oldAt[chunk.offset] = &chunk.record;
        for (const PlacedChunk& chunk : newChunks) {
            if (cancelled(cancel_)) return false;
            const auto found = oldAt.find(chunk.offset);
            if (found != oldAt.end() && found->second->length == chunk.record.length &&
                sameDigest(found->second->sha256, chunk.record.sha256) &&
                chunk.offset + chunk.record.length <= static_cast<uint64_t>(previous_.size))
                continue;
            Download* last = downloads.empty() ? nullptr : &downloads.back();
            if (!last || last->from + last->length != chunk.offset) {
                downloads.emplace_back();
                last = &downloads.back();
                last->from = chunk.offset;
            }
            last->length += chunk.record.length;
            last->chunks.push_back(chunk.record);
            toDownload += chunk.record.length;
        }
        return true;
    }

    // Bytes [from, from + length) of `url`, whose body has `total` bytes.
    bool readRange(const std::string& url, uint64_t from, uint64_t length, uint64_t total,
                   std::string& bytes, std::string& why) {
        HttpStream stream;
        base::Failure failure;
        if (stream.openRange(url, static_cast<int64_t>(from), static_cast<int64_t>(from + length) - 1,
                             static_cast<int64_t>(total), L"", failure, transfer_) != HttpStream::Range::Opened) {
            why = "range refused: " + failure.text;
            return false;
        }
        bytes.resize(length);
        StallWatch watch(transfer_.stall);
        for (uint64_t done = 0; done < length;) {
            if (cancelled(cancel_)) return false;
            const int32_t want = static_cast<int32_t>(std::min<uint64_t>(kReadSize, length - done));
            const int32_t got = stream.read(bytes.data() + done, want);
            if (got <= 0) {
                why = "range read failed";
                return false;
            }
            if (watch.stalled(static_cast<uint32_t>(got))) {
                why = stalledText(url, watch.limit());
                return false;
            }
            done += static_cast<uint64_t>(got);
        }
        return true;
    }

    // One Range request; each chunk is checked against its digest before it is written over
    // the old bytes.
    bool fetch(const Download& download, HANDLE out, bool& written, std::string& why) {
        HttpStream stream;
        base::Failure failure;
        if (stream.openRange(file_.url, static_cast<int64_t>(download.from),
                             static_cast<int64_t>(download.from + download.length) - 1, file_.size, L"",
                             failure, transfer_) != HttpStream::Range::Opened) {
            why = "range refused: " + failure.text;
            return false;
        }
        std::vector<char> chunk(base::kChunkMax);
        StallWatch watch(transfer_.stall);
        uint64_t offset = download.from;
        for (const base::ChunkRecord& record : download.chunks) {
            for (uint32_t done = 0; done < record.length;) {
                if (cancelled(cancel_)) return false;
                const int32_t want = static_cast<int32_t>(std::min<uint32_t>(kReadSize, record.length - done));
                const int32_t got = stream.read(chunk.data() + done, want);
                if (got <= 0) {
                    why = "range read failed";
                    return false;
                }
                if (watch.stalled(static_cast<uint32_t>(got))) {
                    why = stalledText(file_.url, watch.limit());
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
