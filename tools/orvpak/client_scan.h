#pragma once
// The client folder as the publisher sees it: every regular file under it, named by its
// relative UTF-8 path, checked against what the installer accepts before anything is written,
// and the folders players will not get because no file lies in them.

#include <filesystem>
#include <string>
#include <vector>

namespace orvpak {

struct ClientFile {
    std::string path;                  // '/'-separated UTF-8, relative to the client folder
    std::filesystem::path source;      // where to read it
};

// Every regular file under `clientDir`, sorted by the bytes of `path`. Folders are walked,
// never listed. False when the folder cannot be read, holds no file, or holds a name the
// installer would refuse: a symbolic link or other special file, an unsafe or over-long
// path, a backslash in a name, or two paths equal apart from ASCII letter case. The message
// lists each refused name (up to a limit) with what to do about it. `emptyFolders` gets
// every folder that holds no file at any depth, relative like `path` and sorted the same
// way: a manifest lists files only, so players never get such a folder.
bool scanClient(const std::filesystem::path& clientDir, std::vector<ClientFile>& files,
                std::vector<std::string>& emptyFolders, std::string& error);

}  // namespace orvpak
