#include "install/folder_lock.h"

#include <windows.h>

#include "base/path_identity.h"
#include "base/text.h"
#include "update/sha256.h"

namespace installer {

std::wstring FolderLock::name(const std::wstring& installDir) {
    std::wstring folder = base::comparablePath(installDir);
    if (!folder.empty()) CharLowerBuffW(folder.data(), static_cast<DWORD>(folder.size()));
    // A path can be longer than a kernel object's name, and may not contain '\'.
    pcupd::Sha256 sha;
    const std::string utf8 = base::toUtf8(folder);
    sha.update(utf8.data(), utf8.size());
    return L"Local\\OrvaneSetup-folder-" + base::toWide(sha.finish());
}

bool FolderLock::acquire(const std::wstring& installDir) {
    // The object lives while any setup holds its handle; one that already exists means
    // another setup is working there (ownership would not tell: it is per thread).
    mutex_.reset();
    const std::wstring lockName = name(installDir);
    SetLastError(ERROR_SUCCESS);
    base::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, lockName.c_str()));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return false;
    mutex_ = std::move(mutex);
    return true;
}

}  // namespace installer
