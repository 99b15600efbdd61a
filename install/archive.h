#pragma once
// The full-archive stream installer: one pass over an ORVPAK1 archive (format in
// base/archive_format.h; a dropped connection is resumed from the next byte), each entry
// written straight to its place under the install folder and hashed as it is written. Runs
// on the install worker thread; progress goes to the shared install state.

#include <string>

#include "update/manifest.h"

namespace installer {

// True when every entry was written and matched its digest. On the first failure `error`
// gets its message and the call stops; entries already written stay.
bool installFullArchive(const std::string& url, const std::wstring& installDir, std::string& error);

// The same for the archive a manifest names, bound to that manifest: an entry it does not
// list ("archive entry not in manifest: " + path) or lists with another digest or size
// ("archive entry differs from manifest: " + path) stops the install before anything of
// that entry is created. Where the manifest gives the archive's size and digest, the whole
// stream must match them ("archive size mismatch", "archive digest mismatch").
bool installFullArchive(const pcupd::FullArchive& archive, const pcupd::Manifest& manifest,
                        const std::wstring& installDir, std::string& error);

}  // namespace installer
