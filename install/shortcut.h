#pragma once
// The desktop shortcut "Orvane Online.lnk" to the installed client. Runs on the install
// worker thread, which it initialises for COM itself.

#include <string>

constexpr wchar_t kShortcutName[] = L"Orvane Online.lnk";

// The current user's desktop folder (known-folder API); empty when it cannot be found.
std::wstring desktopFolder();

// Writes `folder`\Orvane Online.lnk pointing at Engine.exe in `installDir`, starting in
// `installDir`, with the client's icon. False with `error` set when it cannot.
bool createShortcut(const std::wstring& folder, const std::wstring& installDir, std::string& error);
