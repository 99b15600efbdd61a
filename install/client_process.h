#pragma once
// Stopping the installed client before its files are replaced, and clearing what an earlier
// staged update left behind. Runs on the install worker thread.

#include <windows.h>

#include <string>

constexpr wchar_t kClientExe[] = L"Engine.exe";

// Stops every running Engine.exe whose image lies inside `installDir`, never another
// program's Engine.exe elsewhere: asks first (closes its top-level windows), waits up to
// `graceMs`, then terminates it. Returns how many processes were stopped.
int stopRunningClient(const std::wstring& installDir, DWORD graceMs = 5000);

// Deletes "<name>.new" and "<name>.old" files in the install folder and below that sit beside
// a "<name>": copies staged by an update that never swapped in. Other files are left alone.
int removeStagedLeftovers(const std::wstring& installDir);
