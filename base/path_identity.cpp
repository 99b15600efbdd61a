#include "base/path_identity.h"

#include <windows.h>

#include "base/long_path.h"
#include "base/unique_handle.h"

namespace base {
namespace {

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// `path` without the prefixes that only say how the system should parse it.
std::wstring withoutNamespacePrefix(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    for (const wchar_t* unc : {L"\\\\?\\UNC\\", L"\\\\.\\UNC\\"})
        if (startsWith(path, unc)) return L"\\\\" + path.substr(8);
    // Only a drive's path has a plain spelling; \\?\Volume{...}\ and devices keep theirs.
    for (const wchar_t* local : {L"\\\\?\\", L"\\\\.\\", L"\\??\\"})
        if (startsWith(path, local) && path.size() >= 6 && path[5] == L':' &&
            (path.size() == 6 || path[6] == L'\\'))
            return path.substr(4);
    return path;
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of the root of a full path: "C:\" (3), "\\server\share\" or 0 when it has none
// that we know.
size_t rootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
    if (startsWith(path, L"\\\\")) {
        const size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos) return path.size();
        const size_t share = path.find(L'\\', server + 1);
        return share == std::wstring::npos ? path.size() : share + 1;
    }
    return 0;
}

std::wstring trimmed(std::wstring path) {
    const size_t root = rootLength(path);
    while (path.size() > root && path.size() > 1 && isSeparator(path.back())) path.pop_back();
    return path;
}

// Where the system says the existing file or folder at `path` really is; empty when it
// cannot be opened or named.
std::wstring finalPath(const std::wstring& path) {
    // No access asked for: a file another program holds without sharing still answers.
    UniqueFile file(CreateFileW(extendedLengthPath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return std::wstring();
    return finalPathOfHandle(file.get());
}

}  // namespace

std::wstring finalPathOfHandle(void* handle) {
    std::wstring name(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        if (length < name.size()) {
            name.resize(length);
            return trimmed(withoutNamespacePrefix(name));
        }
        name.assign(length + 1, L'\0');
    }
    return std::wstring();
}

std::wstring comparablePath(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    const std::wstring full = trimmed(fullPath(withoutNamespacePrefix(path)));
    // The nearest existing folder answers for a path that does not exist (yet).
    const size_t root = rootLength(full);
    for (size_t end = full.size(); end > 0;) {
        const std::wstring existing = finalPath(full.substr(0, end));
        if (!existing.empty()) {
            if (end == full.size()) return existing;
            const std::wstring rest = full.substr(full[end] == L'\\' ? end + 1 : end);
            return existing.back() == L'\\' ? existing + rest : existing + L"\\" + rest;
        }
        if (end <= root) break;
        const size_t slash = full.find_last_of(L'\\', end - 1);
        if (slash == std::wstring::npos || slash == 0) break;
        end = slash < root ? root : slash;
    }
    return full;
}

bool sameComparable(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || b.empty()) return false;
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool holdsComparable(const std::wstring& folder, const std::wstring& path) {
    if (folder.empty() || path.size() <= folder.size()) return false;
    // A root ends in its separator already; any other folder is followed by one.
    const bool rooted = folder.back() == L'\\';
    if (!rooted && path[folder.size()] != L'\\') return false;
    if (rooted && path.size() == folder.size()) return false;
    return CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return sameComparable(comparablePath(a), comparablePath(b));
}

bool isInsideFolder(const std::wstring& path, const std::wstring& folder) {
    return holdsComparable(comparablePath(folder), comparablePath(path));
}

}  // namespace base
