// Reads the setup window as a screen reader does, from another process:
//   access_probe.exe
// prints, UTF-8, the client's own name on the first line, then one line per item:
//   role<TAB>name<TAB>value<TAB>states
// role as the system words it (GetRoleTextW), states a comma list of short words. Exit code 0;
// 1 with a message on stderr when there is no setup window or it gives no object.

#include <windows.h>
#include <oleacc.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

#include "base/text.h"
#include "tests/support/child_variant.h"

namespace {

const wchar_t* const kSetupWindowClass = L"OrvaneSetupWnd";

using testsupport::childVariant;

std::wstring text(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), long id) {
    BSTR got = nullptr;
    if (FAILED((object->*get)(childVariant(id), &got))) return L"?";
    std::wstring copy = got ? std::wstring(got, SysStringLen(got)) : std::wstring();
    SysFreeString(got);
    return copy;
}

long number(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), long id) {
    VARIANT got;
    VariantInit(&got);
    if (FAILED((object->*get)(childVariant(id), &got))) return 0;
    const long value = got.vt == VT_I4 ? got.lVal : 0;
    VariantClear(&got);
    return value;
}

std::wstring roleText(long role) {
    wchar_t buffer[128] = L"";
    GetRoleTextW(static_cast<DWORD>(role), buffer, ARRAYSIZE(buffer));
    return buffer;
}

std::wstring stateWords(long state) {
    static const struct {
        long flag;
        const wchar_t* word;
    } kWords[] = {
        {STATE_SYSTEM_FOCUSED, L"focused"},       {STATE_SYSTEM_FOCUSABLE, L"focusable"},
        {STATE_SYSTEM_UNAVAILABLE, L"unavailable"}, {STATE_SYSTEM_DEFAULT, L"default"},
        {STATE_SYSTEM_BUSY, L"busy"},             {STATE_SYSTEM_READONLY, L"readonly"},
        {STATE_SYSTEM_HOTTRACKED, L"hottracked"},
    };
    std::wstring words;
    for (const auto& entry : kWords) {
        if (!(state & entry.flag)) continue;
        if (!words.empty()) words += L',';
        words += entry.word;
    }
    return words;
}

void printLine(const std::wstring& line) {
    const std::string utf8 = base::toUtf8(line) + "\n";
    fwrite(utf8.data(), 1, utf8.size(), stdout);
}

int fail(const char* message, HRESULT hr = S_OK) {
    if (hr == S_OK)
        fprintf(stderr, "access_probe: %s\n", message);
    else
        fprintf(stderr, "access_probe: %s (0x%08lx)\n", message, static_cast<unsigned long>(hr));
    return 1;
}

int probe() {
    const HWND window = FindWindowW(kSetupWindowClass, nullptr);
    if (!window) return fail("no setup window");
    Microsoft::WRL::ComPtr<IAccessible> client;
    const HRESULT hr = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                  reinterpret_cast<void**>(client.GetAddressOf()));
    if (FAILED(hr) || !client) return fail("the setup window gives no accessible object", hr);
    long count = 0;
    const HRESULT counted = client->get_accChildCount(&count);
    if (FAILED(counted)) return fail("the accessible object does not answer", counted);

    printLine(text(client.Get(), &IAccessible::get_accName, CHILDID_SELF));
    for (long id = 1; id <= count; ++id) {
        printLine(roleText(number(client.Get(), &IAccessible::get_accRole, id)) + L'\t' +
                  text(client.Get(), &IAccessible::get_accName, id) + L'\t' +
                  text(client.Get(), &IAccessible::get_accValue, id) + L'\t' +
                  stateWords(number(client.Get(), &IAccessible::get_accState, id)));
    }
    return 0;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int code = probe();
    fflush(stdout);
    CoUninitialize();
    return code;
}
