#pragma once
// The program's command line.

#include <string>
#include <vector>

namespace ui {

struct CommandLineOptions {
    bool manifestGiven = false;
    std::string manifestUrl;       // UTF-8; may be empty when given as "--manifest="
    std::wstring installLocation;  // --install=: empty when not given (the work does not start by itself)
    // --install-dir=: the install folder itself rather than the location it is made under.
    // A removal handed to a temporary copy names its folder this way.
    std::wstring installDir;
    bool uninstall = false;  // --uninstall
    bool silent = false;     // --silent: no window, the outcome in the exit code
    bool logGiven = false;
    std::wstring logPath;    // --log=
    std::wstring handover;   // --handover=: set by the program for its temporary copy
    bool languageGiven = false;
    std::wstring language;   // --lang=: the window's language, by its tag
    std::vector<std::wstring> unknown;  // arguments that are none of the above, as given
};

// Reads the options from the arguments after the program name, left to right; a later option
// of a kind overrides an earlier one. The names are matched case-sensitively. Trailing quotes
// of a path are dropped: a quoted path that ends in a backslash ("C:\Games\") keeps its
// closing quote after the command line is split.
CommandLineOptions parseArguments(const std::vector<std::wstring>& arguments);

// What is wrong with a command line for --silent, which cannot ask: empty when nothing is.
// Without --uninstall it needs a location; an unknown argument or language is refused, not
// skipped.
std::wstring silentUsageError(const CommandLineOptions& options);

// The arguments of `commandLine` after the program name, split the way the shell does
// (CommandLineToArgvW). Empty when splitting fails.
std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine);

}  // namespace ui
