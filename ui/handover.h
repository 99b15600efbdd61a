#pragma once
// A running program cannot delete its own file. So a removal of the folder the setup runs
// from is carried out by a copy of it in the temporary folder: the original starts the copy,
// waits unseen for its result and ends with it, so that whoever started the original gets
// the real outcome; the copy deletes the original's file once the original has ended.

#include <windows.h>

#include <string>
#include <vector>

#include "base/unique_handle.h"

namespace ui {

constexpr wchar_t kCopyEndedWithoutResult[] =
    L"Removal failed: the temporary copy ended without a result";

// The original's side: copies `program` into the temporary folder, starts the copy with
// `arguments` and --install-dir=`installDir` and --handover=, and waits for its result.
// Returns the exit code to end with: the copy's, or 1 when it could not be started or ended
// without a word (`error` then says why).
int handOverRemoval(const std::wstring& program, const std::vector<std::wstring>& arguments,
                    const std::wstring& installDir, std::wstring& error);

// The copy's side, from its --handover= option.
class Handover {
public:
    // False when `option` is not what handOverRemoval passes.
    bool take(const std::wstring& option);
    bool active() const { return static_cast<bool>(report_); }
    // The original's program file, which the removal leaves until the original has ended.
    const std::wstring& originalProgram() const { return originalProgram_; }
    // Sends the exit code the original ends with; once.
    void report(int exitCode);
    // Waits (a while at most) for the original to end, then deletes its file when it is the
    // setup copy in `installDir`, and the folder when that leaves it empty. Call after
    // report(), and only when the removal left the recorded setup copy for later.
    void finish(const std::wstring& installDir);

private:
    base::UniqueFile report_;      // write end of the original's pipe
    base::UniqueHandle original_;  // the original process, to wait for
    std::wstring originalProgram_;
};

// Deletes the copies earlier removals left in the temporary folder (a copy normally deletes
// itself as it ends); a copy still running stays.
void sweepTemporaryCopies();

// The running program's full path.
std::wstring currentProgram();

}  // namespace ui
