#include "base/system_dlls.h"

#include <windows.h>
#include <delayimp.h>

namespace {

// The delay-load helper asks here first: a delay-imported DLL comes from System32 even if
// something calls into it before loadSystemDllsOnly has run. WinHTTP loads crypt32, whose
// own import of bcrypt Wine looks for beside the program, past the process's DLL
// directories: bcrypt.dll loaded from System32 first is the one it then finds.
FARPROC WINAPI loadFromSystem32(unsigned note, PDelayLoadInfo info) {
    if (note != dliNotePreLoadLibrary) return nullptr;
    if (lstrcmpiA(info->szDll, "winhttp.dll") == 0)
        LoadLibraryExA("bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return reinterpret_cast<FARPROC>(LoadLibraryExA(info->szDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

}  // namespace

// Defined beside loadSystemDllsOnly, which every program calls, so the linker always takes
// this one over the runtime library's empty default.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = loadFromSystem32;
}

namespace base {

bool loadSystemDllsOnly() { return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE; }

}  // namespace base
