#pragma once
// What an interrupted run of this program leaves in the install folder, and only that.

#include <string>
#include <vector>

#include "update/manifest.h"

namespace pcupd {

// Deletes, under `installDir`, the names this program itself creates and that an earlier run
// may have left behind: "<file>.part" downloads of the manifest's files (those of `partFiles`,
// the ".part" names scanFiles found beside them, relative paths), the running program's
// file that an update moved aside ("<self>.old"; `selfPath` may be empty), and a torn
// "pcupd.cache.tmp" or "pcupd.sequence.tmp". A name the manifest lists is never deleted, nor is anything else a
// player or the game keeps there ("settings.ini.old"). Returns how many files went.
int removeLeftovers(const Manifest& manifest, const std::wstring& installDir,
                    const std::wstring& selfPath, const std::vector<std::string>& partFiles);

}  // namespace pcupd
