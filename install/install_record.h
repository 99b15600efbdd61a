#pragma once
// The install record, pcupd.files in the install folder: every path a manifest of this
// folder has listed, and the setup's own copy, one per line. An install adds to it before
// it writes any of those files, so even an interrupted install can be removed; what an
// update drops leaves it once the file is gone.

#include <string>
#include <vector>

namespace installer {

constexpr wchar_t kRecordFileName[] = L"pcupd.files";

// Adds `paths` (relative, `/` or `\` separated, as a manifest writes them) to the folder's
// record, keeping what it lists already (one line per path, whatever its case or separators;
// a path that could leave the folder is never recorded); creates the folder if need be and
// replaces the record atomically. False with `error` "could not write the install record".
bool addToInstallRecord(const std::wstring& installDir, const std::vector<std::string>& paths,
                        std::string& error);

// Takes `paths` (any case or separators) off the folder's record, atomically. False with
// `error` "could not write the install record"; true when none of them was listed.
bool dropFromInstallRecord(const std::wstring& installDir, const std::vector<std::string>& paths,
                           std::string& error);

// The files the folder's record lists, as written. A folder installed before the record
// existed answers from its verification cache (pcupd.cache). False when the folder has
// neither: nothing there is known to be this program's.
bool readInstallRecord(const std::wstring& installDir, std::vector<std::string>& paths);

}  // namespace installer
