#pragma once
// The shortcuts "Orvane Online.lnk" to the installed client, on the desktop and in the
// Start menu. Run on a worker thread, which they initialise for COM themselves.

#include <string>

namespace installer {

constexpr wchar_t kShortcutName[] = L"Orvane Online.lnk";

// The current user's desktop folder (known-folder API); empty when it cannot be found.
std::wstring desktopFolder();
// The current user's Start-menu programs folder; empty when it cannot be found.
std::wstring programsFolder();

// Writes `folder`\Orvane Online.lnk pointing at Engine.exe in `installDir`, starting in
// `installDir`, with the client's icon. False with `error` set when it cannot.
bool createShortcut(const std::wstring& folder, const std::wstring& installDir, std::string& error);

// Deletes `folder`\Orvane Online.lnk when it points into `installDir` (a shortcut to another
// installation stays). True when it did.
bool removeShortcutInto(const std::wstring& folder, const std::wstring& installDir);

}  // namespace installer
