#include "update/release_memory.h"

#include <windows.h>

#include <charconv>

#include "base/ascii.h"
#include "base/long_path.h"
#include "base/small_file.h"
#include "base/text.h"
#include "base/unique_handle.h"

namespace pcupd {
namespace {

std::wstring sequencePath(const std::wstring& installDir) {
    return installDir + L"\\" + kSequenceFileName;
}

}  // namespace

std::string sequenceText(uint64_t sequence) { return std::to_string(sequence) + "\n"; }

bool parseSequenceText(const std::string& text, uint64_t& sequence) {
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    uint64_t value = 0;  // from_chars takes no sign and no space, and says when it overflows
    const auto [stop, failure] = std::from_chars(text.data(), text.data() + end, value);
    if (end == 0 || failure != std::errc() || stop != text.data() + end) return false;
    sequence = value;
    return true;
}

bool readFolderSequence(const std::wstring& installDir, std::optional<uint64_t>& sequence,
                        std::string& error) {
    sequence.reset();
    const std::wstring path = sequencePath(installDir);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
        return true;
    std::string text;
    uint64_t value = 0;
    if (!base::readSmallFile(path, 64, text) || !parseSequenceText(text, value)) {
        error = "the install folder's record of accepted releases (pcupd.sequence) is damaged";
        return false;
    }
    sequence = value;
    return true;
}

bool saveFolderSequence(const std::wstring& installDir, uint64_t sequence) {
    const std::wstring path = sequencePath(installDir);
    base::createParentDirectories(path);
    return base::replaceFile(path, sequenceText(sequence));
}

std::string readCompletedRelease(const std::wstring& installDir) {
    std::string text;
    if (!base::readSmallFile(installDir + L"\\" + kCompletedReleaseFileName, 128, text)) return {};
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const bool digest = text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
    return digest ? text : std::string();
}

bool saveCompletedRelease(const std::wstring& installDir, const std::string& manifestSha256) {
    return base::replaceFile(installDir + L"\\" + kCompletedReleaseFileName, manifestSha256 + "\n");
}

std::wstring userSequenceName(const std::string& key) {
    return L"Sequence " + base::toWide(base::toLowerAscii(key.substr(0, 16)));
}

bool readUserSequence(const std::string& key, std::optional<uint64_t>& sequence,
                      std::string& error) {
    sequence.reset();
    base::UniqueRegKey folder;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserMemoryKey, 0, KEY_QUERY_VALUE, folder.put()) !=
        ERROR_SUCCESS)
        return true;
    uint64_t value = 0;
    DWORD type = 0, size = sizeof(value);
    const LSTATUS status = RegQueryValueExW(folder.get(), userSequenceName(key).c_str(), nullptr,
                                            &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS || type != REG_QWORD || size != sizeof(value)) {
        error = "the record of accepted releases in the registry (HKEY_CURRENT_USER\\" +
                base::toUtf8(kUserMemoryKey) + ") is damaged";
        return false;
    }
    sequence = value;
    return true;
}

bool saveUserSequence(const std::string& key, uint64_t sequence) {
    base::UniqueRegKey folder;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUserMemoryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, folder.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(folder.get(), userSequenceName(key).c_str(), 0, REG_QWORD,
                          reinterpret_cast<const BYTE*>(&sequence),
                          sizeof(sequence)) == ERROR_SUCCESS;
}

}  // namespace pcupd
