// orvpak: the operator's archive and manifest publisher. All of it lives in orvpak_lib;
// this only hands the command line over as UTF-8.

#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "tools/orvpak/cli.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "base/system_dlls.h"
#include "base/text.h"
#endif

namespace {

std::vector<std::string> utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
    // argv comes in the ANSI code page, which loses names outside it; the wide command line
    // keeps them.
    (void)argc;
    (void)argv;
    int count = 0;
    const std::unique_ptr<LPWSTR[], decltype(&LocalFree)> wide(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) args.push_back(base::toUtf8(wide[i]));
    SetConsoleOutputCP(CP_UTF8);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    base::loadSystemDllsOnly();  // an operator may run it from Downloads too
#endif
    try {
        return orvpak::runCli(utf8Arguments(argc, argv), std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cerr << "orvpak: out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << "orvpak: " << e.what() << "\n";
    }
    return orvpak::kExitFailed;
}
