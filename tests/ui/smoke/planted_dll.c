/* A DLL that another program could leave beside the setup (Downloads, %TEMP%) under the name
 * of one the setup imports. Loaded, it leaves "planted.marker" in its own folder and refuses
 * to start, so a test sees both the marker and a failed load. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 32];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return FALSE;
    DWORD folder = length;
    while (folder > 0 && path[folder - 1] != L'\\') --folder;
    lstrcpyW(path + folder, L"planted.marker");
    char name[MAX_PATH];
    const DWORD nameLength = GetModuleFileNameA(instance, name, MAX_PATH);
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(marker, name, nameLength, &written, NULL);
        CloseHandle(marker);
    }
    return FALSE;
}
