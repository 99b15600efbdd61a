#include "base/small_file.h"

#include <windows.h>

#include "base/unique_handle.h"

namespace base {

bool readSmallFile(const std::wstring& path, uint64_t limit, std::string& data) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > limit || size.QuadPart > MAXDWORD)
        return false;
    data.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return data.empty() ||
           (ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr) &&
            read == data.size());
}

bool replaceFile(const std::wstring& path, const std::string& content) {
    if (content.size() > MAXDWORD) return false;
    return replaceFile(path, [&content](HANDLE file) {
        DWORD written = 0;
        return WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
               written == content.size();
    });
}

bool replaceFile(const std::wstring& path, const std::function<bool(HANDLE file)>& write) {
    const std::wstring temp = path + L".tmp";
    {
        UniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (!write(file.get()) || !FlushFileBuffers(file.get())) {
            file.reset();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!moveFileWhenFree(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        SetLastError(error);
        return false;
    }
    return true;
}

bool moveFileWhenFree(const std::wstring& from, const std::wstring& to, DWORD flags) {
    constexpr DWORD kPauseMs = 50;
    constexpr int kAttempts = 20;
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
        const DWORD error = GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          error == ERROR_ACCESS_DENIED;
        if (!held || attempt == kAttempts) {
            SetLastError(error);
            return false;
        }
        Sleep(kPauseMs);
    }
}

}  // namespace base
