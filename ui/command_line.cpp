#include "ui/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "base/text.h"

namespace ui {

namespace {

const std::wstring kManifestPrefix = L"--manifest=";
const std::wstring kInstallPrefix = L"--install=";

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

CommandLineOptions parseArguments(const std::vector<std::wstring>& arguments) {
    CommandLineOptions options;
    for (const std::wstring& argument : arguments) {
        if (startsWith(argument, kManifestPrefix)) {
            options.manifestGiven = true;
            options.manifestUrl = base::toUtf8(argument.substr(kManifestPrefix.size()));
        } else if (startsWith(argument, kInstallPrefix)) {
            std::wstring path = argument.substr(kInstallPrefix.size());
            while (!path.empty() && path.back() == L'"') path.pop_back();
            if (!path.empty()) options.installLocation = path;
        }
    }
    return options;
}

std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &count);
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
    LocalFree(argv);
    return arguments;
}

}  // namespace ui
