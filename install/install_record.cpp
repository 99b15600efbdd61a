#include "install/install_record.h"

#include <windows.h>

#include <unordered_set>

#include "base/long_path.h"
#include "base/path_identity.h"
#include "base/safe_path.h"
#include "base/small_file.h"
#include "update/verify_cache.h"

namespace installer {

namespace {

constexpr char kRecordHeader[] = "pcupd.files 1";
// Far more than any client's list; a larger file is no record of ours.
constexpr uint64_t kMaxRecordBytes = 256ull << 20;

std::wstring recordPath(const std::wstring& root) {
    return base::extendedLengthPath(root + L"\\" + kRecordFileName);
}

// The paths of a pcupd.files, or false when the file is missing or not a record.
bool readRecordFile(const std::wstring& root, std::vector<std::string>& paths) {
    std::string data;
    if (!base::readSmallFile(recordPath(root), kMaxRecordBytes, data)) return false;
    bool header = true;
    for (size_t start = 0; start < data.size();) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        size_t length = end - start;
        if (length > 0 && data[start + length - 1] == '\r') --length;  // edited by hand
        if (header) {
            if (data.compare(start, length, kRecordHeader) != 0) return false;
            header = false;
        } else if (length > 0) {
            paths.emplace_back(data, start, length);
        }
        start = end + 1;
    }
    return !header;
}

bool writeRecordFile(const std::wstring& root, const std::vector<std::string>& paths, std::string& error) {
    std::string text = std::string(kRecordHeader) + "\n";
    for (const std::string& path : paths) text += path + "\n";
    const std::wstring path = recordPath(root);
    base::createParentDirectories(path);
    if (!base::replaceFile(path, text)) {
        error = "could not write the install record";
        return false;
    }
    error.clear();
    return true;
}

}  // namespace

bool addToInstallRecord(const std::wstring& installDir, const std::vector<std::string>& paths,
                        std::string& error) {
    error = "could not write the install record";
    const std::wstring root = base::comparablePath(installDir);
    if (root.empty()) return false;
    std::vector<std::string> listed;
    const bool existing = readRecordFile(root, listed);
    std::unordered_set<std::string> keys;
    for (const std::string& path : listed) keys.insert(pcupd::VerifyCache::key(path));
    const size_t before = listed.size();
    for (const std::string& path : paths)
        if (base::isSafeRelativePath(path) && keys.insert(pcupd::VerifyCache::key(path)).second)
            listed.push_back(path);
    if (existing && listed.size() == before) {
        error.clear();
        return true;
    }
    return writeRecordFile(root, listed, error);
}

bool dropFromInstallRecord(const std::wstring& installDir, const std::vector<std::string>& paths,
                           std::string& error) {
    error.clear();
    const std::wstring root = base::comparablePath(installDir);
    std::vector<std::string> listed;
    if (root.empty() || !readRecordFile(root, listed)) return true;
    std::unordered_set<std::string> dropped;
    for (const std::string& path : paths) dropped.insert(pcupd::VerifyCache::key(path));
    std::vector<std::string> kept;
    kept.reserve(listed.size());
    for (std::string& path : listed)
        if (!dropped.count(pcupd::VerifyCache::key(path))) kept.push_back(std::move(path));
    if (kept.size() == listed.size()) return true;
    return writeRecordFile(root, kept, error);
}

bool readInstallRecord(const std::wstring& installDir, std::vector<std::string>& paths) {
    paths.clear();
    const std::wstring root = base::comparablePath(installDir);
    if (root.empty()) return false;
    if (readRecordFile(root, paths)) return true;
    paths.clear();
    pcupd::VerifyCache cache;
    cache.load(root);
    if (cache.empty()) return false;
    paths.reserve(cache.size());
    cache.retain([&paths](const std::string& path) {
        paths.push_back(path);
        return true;
    });
    return true;
}

}  // namespace installer
