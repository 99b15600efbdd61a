#pragma once
// Stopping the installed client before its files are replaced. Runs on the install worker
// thread.

#include <windows.h>

#include <string>

namespace installer {

constexpr wchar_t kClientExe[] = L"Engine.exe";

// Stops every running Engine.exe whose image lies inside `installDir`, never another
// program's Engine.exe elsewhere: asks first (closes its top-level windows), waits up to
// `graceMs`, then terminates it. Returns how many processes were stopped.
int stopRunningClient(const std::wstring& installDir, DWORD graceMs = 5000);

}  // namespace installer
