#include "update/leftovers.h"

#include <windows.h>

#include <set>
#include <unordered_set>
#include <vector>

#include "base/ascii.h"
#include "base/long_path.h"
#include "base/owned_folder.h"
#include "base/path_identity.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "update/verify_cache.h"

namespace pcupd {
namespace {

// The names in `folder` that end in ".part" (in any case). One search of a folder costs far
// less than asking for "<file>.part" of each of its files, nearly all of which are missing,
// and the pattern lets the file system skip every other name unread.
std::vector<std::wstring> partNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const base::UniqueFind search(FindFirstFileExW(base::extendedLengthPath(folder + L"\\*.part").c_str(),
                                                   FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                                   FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name.size() > 5 && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            base::toLowerAscii(name.substr(name.size() - 5)) == L".part")
            names.push_back(name);
    } while (FindNextFileW(search.get(), &found));
    return names;
}

}  // namespace

int removeLeftovers(const Manifest& manifest, const std::wstring& installDir,
                    const std::wstring& selfPath) {
    const base::OwnedFolder folder(installDir);
    const std::wstring& root = folder.identity();
    std::unordered_set<std::string> listed;
    for (const ManifestFile& file : manifest.files) listed.insert(VerifyCache::key(file.path));
    // Which manifest path the running program is, if any: its place relative to the folder,
    // worked out once rather than asked of the system for every file.
    std::string self;
    if (!selfPath.empty()) {
        const std::wstring selfIdentity = base::comparablePath(selfPath);
        if (base::holdsComparable(root, selfIdentity)) {
            const size_t start = root.size() + (root.back() == L'\\' ? 0 : 1);
            self = VerifyCache::key(base::toUtf8(selfIdentity.substr(start)));
            if (!listed.count(self)) self.clear();
        }
    }

    int removed = 0;
    const auto remove = [&](const std::string& path) {
        if (listed.count(VerifyCache::key(path)) || !base::isSafeRelativePath(path)) return;
        if (folder.deleteFile(base::joinUnder(root, path)).result == base::Deletion::kDeleted) ++removed;
    };
    // "<file>.part" of each listed file: found by listing each folder that holds one.
    std::set<std::string> folders;
    for (const ManifestFile& file : manifest.files) {
        if (!base::isSafeRelativePath(file.path)) continue;
        const size_t slash = file.path.find_last_of("/\\");
        folders.insert(slash == std::string::npos ? std::string() : VerifyCache::key(file.path.substr(0, slash)));
    }
    for (const std::string& relative : folders) {
        const std::wstring path = relative.empty() ? root : base::joinUnder(root, relative);
        for (const std::wstring& name : partNames(path)) {
            const std::string part = (relative.empty() ? "" : relative + "/") + base::toUtf8(name);
            const std::string file = part.substr(0, part.size() - 5);
            if (listed.count(VerifyCache::key(file)) && base::isSafeRelativePath(file)) remove(part);
        }
    }
    if (!self.empty()) remove(self + ".old");
    remove("pcupd.cache.tmp");
    remove("pcupd.sequence.tmp");
    remove("pcupd.release.tmp");
    remove("pcupd.manifest.tmp");
    return removed;
}

}  // namespace pcupd
