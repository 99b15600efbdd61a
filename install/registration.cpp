#include "install/registration.h"

#include <windows.h>

#include <ctime>

#include "base/long_path.h"
#include "base/path_identity.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "install/client_process.h"

namespace installer {

#ifndef ORVANE_PUBLISHER
#define ORVANE_PUBLISHER "Orvane Games"
#endif

namespace {

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring setupCopy(const std::wstring& installDir) {
    return base::fullPath(installDir) + L"\\" + kSetupCopyName;
}

bool setString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool setNumber(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

// The folder the entry names, or empty when there is no entry or it names none.
std::wstring registeredFolder() {
    base::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t value[MAX_PATH * 4] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return value;
}

std::wstring today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    wchar_t text[16];
    wcsftime(text, 16, L"%Y%m%d", &local);
    return text;
}

}  // namespace

std::wstring uninstallCommand(const std::wstring& installDir, bool quiet) {
    return quoted(setupCopy(installDir)) + (quiet ? L" --uninstall --silent" : L" --uninstall");
}

std::wstring modifyCommand(const std::wstring& installDir, const std::string& manifestUrl) {
    // The install folder is made under the location given: name the folder that holds it.
    // A trailing backslash would escape the closing quote, so the root "D:\" goes as "D:".
    std::wstring location = base::fullPath(installDir);
    location = location.substr(0, location.find_last_of(L'\\'));
    std::wstring command = quoted(setupCopy(installDir)) + L" --install=" + quoted(location);
    // A URL never holds a quote or a space; one that does would break the command apart.
    if (!manifestUrl.empty() && manifestUrl.find_first_of("\" ") == std::string::npos)
        command += L" --manifest=" + base::toWide(manifestUrl);
    return command;
}

bool registerInstallation(const Registration& registration, std::string& error) {
    const std::wstring folder = base::fullPath(registration.installDir);
    base::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        error = "could not create the Apps & features entry";
        return false;
    }
    // Apps & features shows kilobytes, and a size past 4 TB does not fit its number.
    const uint64_t kib = (registration.clientBytes + 1023) / 1024;
    const DWORD size = static_cast<DWORD>(kib > 0xFFFFFFFFull ? 0xFFFFFFFFull : kib);
    const bool ok =
        setString(key.get(), L"DisplayName", L"Orvane Online") &&
        setString(key.get(), L"DisplayIcon", folder + L"\\" + kClientExe + L",0") &&
        setString(key.get(), L"DisplayVersion", base::toWide(registration.clientVersion)) &&
        setString(key.get(), L"Publisher", base::toWide(ORVANE_PUBLISHER)) &&
        setString(key.get(), L"InstallLocation", folder) &&
        setString(key.get(), L"InstallDate", today()) &&
        setNumber(key.get(), L"EstimatedSize", size) &&
        setString(key.get(), L"UninstallString", uninstallCommand(folder, false)) &&
        setString(key.get(), L"QuietUninstallString", uninstallCommand(folder, true)) &&
        setString(key.get(), L"ModifyPath", modifyCommand(folder, registration.manifestUrl));
    if (!ok) error = "could not write the Apps & features entry";
    return ok;
}

bool unregisterInstallation(const std::wstring& installDir) {
    const std::wstring registered = registeredFolder();
    // No entry, or one for another folder (the game installed again elsewhere since).
    if (registered.empty() || !base::samePath(registered, installDir)) return true;
    return RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey) == ERROR_SUCCESS;
}

}  // namespace installer
