#pragma once
// A fresh folder under %TEMP% for one test, removed with everything in it at scope exit.

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::wstring str() const { return path_.wstring(); }
    std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return path_ / relative;
    }

private:
    std::filesystem::path path_;
};

// Whole-file helpers for test data.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& content);

// Makes `link` a symbolic link to `target` (a file or folder), as a player's junction or link
// would be. Wine accepts CreateSymbolicLinkW but makes nothing, so there the link is a Unix
// one, which Wine shows as a link. False when no link could be made.
bool makeLink(const std::filesystem::path& link, const std::filesystem::path& target);

}  // namespace testsupport
