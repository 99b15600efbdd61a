#pragma once
// The program's two command-line options.

#include <string>
#include <vector>

namespace ui {

struct CommandLineOptions {
    bool manifestGiven = false;
    std::string manifestUrl;       // UTF-8; may be empty when given as "--manifest="
    std::wstring installLocation;  // empty: no location given (the work does not start by itself)
};

// Reads the options from the arguments after the program name, left to right; a later option
// of a kind overrides an earlier one, anything else is ignored. The prefixes are matched
// case-sensitively. Trailing quotes of an install path are dropped: a quoted path that ends in
// a backslash ("C:\Games\") keeps its closing quote after the command line is split.
CommandLineOptions parseArguments(const std::vector<std::wstring>& arguments);

// The arguments of `commandLine` after the program name, split the way the shell does
// (CommandLineToArgvW). Empty when splitting fails.
std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine);

}  // namespace ui
