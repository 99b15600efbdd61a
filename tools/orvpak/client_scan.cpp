#include "tools/orvpak/client_scan.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/file_io.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

// Past this many refused names the rest are only counted: the operator fixes them in a pass.
constexpr size_t kMaxReportedProblems = 20;

class Problems {
public:
    void add(const std::string& text) {
        if (count_++ < kMaxReportedProblems) text_ += "\n  " + text;
    }
    bool any() const { return count_ > 0; }
    std::string message(const fs::path& clientDir) const {
        std::string message = "the client folder " + displayPath(clientDir) + " holds " +
                              std::to_string(count_) + " name" + (count_ == 1 ? "" : "s") +
                              " the installer cannot take; nothing was written:" + text_;
        if (count_ > kMaxReportedProblems)
            message += "\n  ... and " + std::to_string(count_ - kMaxReportedProblems) + " more";
        return message;
    }

private:
    size_t count_ = 0;
    std::string text_;
};

void checkName(const std::string& path, Problems& problems) {
    const std::string problem = entryPathProblem(path);
    if (!problem.empty()) problems.add(quotedPath(path) + " " + problem + ": rename it");
}

// Windows keeps one of two names that differ only in case, and the installer lowercases
// manifest paths: both for files and for a file whose name is also used by a folder.
void checkCaseClashes(const std::vector<ClientFile>& files, Problems& problems) {
    std::unordered_map<std::string, const std::string*> byLowered;
    for (const ClientFile& file : files) {
        const auto inserted = byLowered.emplace(toLowerAscii(file.path), &file.path);
        if (!inserted.second)
            problems.add(quotedPath(*inserted.first->second) + " and " + quotedPath(file.path) +
                         " differ only in letter case, so they are one file on Windows: "
                         "rename or remove one");
    }
    for (const ClientFile& file : files) {
        const std::string lowered = toLowerAscii(file.path);
        for (size_t slash = lowered.find('/'); slash != std::string::npos;
             slash = lowered.find('/', slash + 1)) {
            const auto clash = byLowered.find(lowered.substr(0, slash));
            if (clash != byLowered.end())
                problems.add(quotedPath(*clash->second) + " is a file, but " +
                             quotedPath(file.path) +
                             " needs a folder of that name (apart from letter case): rename one");
        }
    }
}

// The folders of `folders` that no file in `files` lies under.
std::vector<std::string> foldersWithoutFiles(std::set<std::string> folders,
                                             const std::vector<ClientFile>& files) {
    for (const ClientFile& file : files)
        for (size_t slash = file.path.find('/'); slash != std::string::npos;
             slash = file.path.find('/', slash + 1))
            folders.erase(file.path.substr(0, slash));
    return std::vector<std::string>(folders.begin(), folders.end());
}

}  // namespace

bool scanClient(const fs::path& clientDir, std::vector<ClientFile>& files,
                std::vector<std::string>& emptyFolders, std::string& error) {
    files.clear();
    emptyFolders.clear();
    std::error_code failure;
    if (!fs::is_directory(clientDir, failure)) {
        error = "the client folder " + displayPath(clientDir) +
                " does not exist or is not a folder: give the folder that holds the game client";
        return false;
    }
    Problems problems;
    std::set<std::string> folders;
    fs::path lastSeen = clientDir;  // names the place of a failure; the iterator may not
    fs::recursive_directory_iterator it(clientDir, fs::directory_options::none, failure);
    for (const fs::recursive_directory_iterator end; !failure && it != end; it.increment(failure)) {
        const fs::directory_entry& entry = *it;
        lastSeen = entry.path();
        const std::string path = relativeUtf8(clientDir, entry.path());
        const fs::file_status status = entry.symlink_status(failure);
        if (failure) break;
        if (fs::is_directory(status)) {
            folders.insert(path);
            continue;
        }
        if (fs::is_symlink(status)) {
            problems.add(quotedPath(path) +
                         " is a symbolic link: put the file itself there, or remove the link");
        } else if (!fs::is_regular_file(status)) {
            problems.add(quotedPath(path) +
                         " is neither a file nor a folder (a device, pipe or socket): remove it");
        } else {
            checkName(path, problems);
            files.push_back({path, entry.path()});
        }
    }
    if (failure) {
        error = "cannot read the client folder " + displayPath(clientDir) + " (at " +
                displayPath(lastSeen) + "): " + failure.message() + ": check its permissions";
        files.clear();
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const ClientFile& a, const ClientFile& b) { return a.path < b.path; });
    checkCaseClashes(files, problems);
    if (files.size() > std::numeric_limits<uint32_t>::max())
        problems.add("more than 4294967295 files: an archive cannot hold them");
    if (problems.any()) {
        error = problems.message(clientDir);
        files.clear();
        return false;
    }
    if (files.empty()) {
        error = "the client folder " + displayPath(clientDir) +
                " holds no files: nothing to publish (is it the right folder?)";
        return false;
    }
    emptyFolders = foldersWithoutFiles(std::move(folders), files);
    return true;
}

}  // namespace orvpak
