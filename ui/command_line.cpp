#include "ui/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "base/text.h"
#include "lang/language.h"

namespace ui {

namespace {

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The value of `--name=value` when `argument` is that option.
bool valueOf(const std::wstring& argument, const wchar_t* prefix, std::wstring& value) {
    if (!startsWith(argument, prefix)) return false;
    value = argument.substr(std::wstring(prefix).size());
    return true;
}

std::wstring withoutTrailingQuotes(std::wstring path) {
    while (!path.empty() && path.back() == L'"') path.pop_back();
    return path;
}

}  // namespace

CommandLineOptions parseArguments(const std::vector<std::wstring>& arguments) {
    CommandLineOptions options;
    std::wstring value;
    for (const std::wstring& argument : arguments) {
        if (valueOf(argument, L"--manifest=", value)) {
            options.manifestGiven = true;
            options.manifestUrl = base::toUtf8(value);
        } else if (valueOf(argument, L"--install=", value)) {
            value = withoutTrailingQuotes(value);
            if (!value.empty()) options.installLocation = value;
        } else if (valueOf(argument, L"--install-dir=", value)) {
            value = withoutTrailingQuotes(value);
            if (!value.empty()) options.installDir = value;
        } else if (valueOf(argument, L"--log=", value)) {
            options.logGiven = true;
            options.logPath = withoutTrailingQuotes(value);
        } else if (valueOf(argument, L"--handover=", value)) {
            options.handover = value;
        } else if (valueOf(argument, L"--lang=", value)) {
            options.languageGiven = true;
            options.language = value;
        } else if (argument == L"--uninstall") {
            options.uninstall = true;
        } else if (argument == L"--silent") {
            options.silent = true;
        } else {
            options.unknown.push_back(argument);
        }
    }
    return options;
}

std::wstring silentUsageError(const CommandLineOptions& options) {
    if (!options.unknown.empty()) return L"Unknown option: " + options.unknown.front();
    if (options.logGiven && options.logPath.empty()) return L"--log= needs a file name";
    lang::Language ignored;
    if (options.languageGiven && !lang::languageOfTag(options.language, ignored))
        return L"Unknown language: --lang=" + options.language + L" (one of " + lang::tagList() + L")";
    if (!options.uninstall && options.installLocation.empty() && options.installDir.empty())
        return L"--silent needs --install=FOLDER: where to install Orvane Online";
    return std::wstring();
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
