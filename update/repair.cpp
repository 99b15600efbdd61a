#include "update/repair.h"

#include "base/long_path.h"
#include "base/safe_path.h"
#include "update/sha256.h"

namespace pcupd {
namespace {

constexpr int kDownloadAttempts = 3;  // a transient transport failure is retried twice
constexpr int kDigestAttempts = 2;    // a damaged transfer gets one more try, no more
constexpr DWORD kRetryPauseMs = 250;  // times the attempt number

// Failures that another attempt may not meet: the connection, not the request or the disk.
bool isTransient(const std::string& error) {
    const auto startsWith = [&error](const char* prefix) { return error.rfind(prefix, 0) == 0; };
    return error == "download read failed" || startsWith("WinHttpSendRequest failed") ||
           error == "WinHttpReceiveResponse failed" || startsWith("HTTP status 5") ||
           startsWith("HTTP status 0 ");
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || b.empty()) return false;
    const std::wstring fullA = base::fullPath(a), fullB = base::fullPath(b);
    return CompareStringOrdinal(fullA.c_str(), -1, fullB.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Downloads `file` to `part` until its digest matches, within the attempt limits. On failure
// `error` holds the last message and no `part` file remains.
bool fetchVerified(const ManifestFile& file, const std::wstring& part, Progress& progress,
                   const ProgressCallback& callback, std::string& digest, std::string& error) {
    const int64_t bytesBefore = progress.bytesDone;
    int transportFailures = 0, digestFailures = 0;
    for (;;) {
        progress.bytesDone = bytesBefore;  // a retry does not count its bytes twice
        if (downloadToFile(file.url, part, progress, callback, digest, error, file.size)) {
            if (digest == file.sha256) return true;
            DeleteFileW(part.c_str());
            if (++digestFailures >= kDigestAttempts) {
                error = "hash mismatch for " + file.path;
                return false;
            }
            continue;
        }
        DeleteFileW(part.c_str());  // "sha init failed" leaves its empty file
        if (!isTransient(error) || ++transportFailures >= kDownloadAttempts) return false;
        Sleep(kRetryPauseMs * static_cast<DWORD>(transportFailures));
    }
}

// Says what stands where `path` (a safe manifest path) must go: a folder of that name, or a
// file where one of its folders belongs. Empty when the way is clear.
std::string obstacle(const std::wstring& root, const std::string& path) {
    for (size_t slash = path.find_first_of("/\\"); slash != std::string::npos;
         slash = path.find_first_of("/\\", slash + 1)) {
        const std::string folder = path.substr(0, slash);
        const DWORD attributes = GetFileAttributesW(base::joinUnder(root, folder).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return {};  // nothing below it exists either
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return "cannot write " + path + ": the file " + folder + " is in the way";
    }
    const DWORD attributes = GetFileAttributesW(base::joinUnder(root, path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "cannot write " + path + ": a folder of that name is in the way";
    return {};
}

}  // namespace

void repairFiles(UpdateResult& result, const ChangedFiles& changed, const std::wstring& installDir,
                 const std::wstring& selfPath, ProgressCallback callback, VerifyCache& cache) {
    result = UpdateResult();
    const auto report = [&callback](const Progress& progress) {
        if (callback) callback(progress);
    };
    Progress progress;
    progress.filesTotal = static_cast<int32_t>(changed.size());
    for (const ManifestFile* file : changed) progress.bytesTotal += std::max<int64_t>(file->size, 0);

    const std::wstring root = base::fullPath(installDir);
    for (const ManifestFile* file : changed) {
        if (!base::isSafeRelativePath(file->path)) {
            result.error = "unsafe path in manifest: " + file->path;
            return;
        }
        // Better said now, naming what is in the way, than as a failed download or rename.
        result.error = obstacle(root, file->path);
        if (!result.error.empty()) return;
        const std::wstring target = base::joinUnder(root, file->path);
        const std::wstring part = target + L".part";
        base::createParentDirectories(target);

        progress.phase = 2;
        progress.item = file->path;
        progress.message = "Downloading " + file->path;
        report(progress);
        std::string digest, error;
        if (!fetchVerified(*file, part, progress, callback, digest, error)) {
            result.error = error;
            return;
        }

        // The verified download replaces the old file in one step; the old file stays intact
        // until then, and also when the replacement is refused.
        if (samePath(target, selfPath)) {
            if (!MoveFileExW(part.c_str(), (target + L".new").c_str(), MOVEFILE_REPLACE_EXISTING)) {
                DeleteFileW(part.c_str());
                result.error = "could not stage self-update";
                return;
            }
            result.selfUpdateStaged = true;
        } else {
            if (!MoveFileExW(part.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                DeleteFileW(part.c_str());
                result.error = "could not replace " + file->path + " (file in use?)";
                return;
            }
            FileStamp stamp;
            if (fileStamp(target, stamp)) cache.record(file->path, stamp, digest);
        }
        ++progress.filesDone;
        progress.phase = 3;
        progress.message = "Updated " + file->path;
        report(progress);
    }
    progress.phase = 4;
    progress.item.clear();
    progress.message = "Repair complete";
    report(progress);
    result.ok = true;
}

}  // namespace pcupd
