#include "render/screen_text.h"

#include <algorithm>
#include <cmath>

#include "base/byte_size.h"
#include "render/format.h"

namespace render {

std::wstring headingText(const Frame& frame) {
    switch (frame.screen) {
    case kScreenSplash: return L"ORVANE ONLINE";
    case kScreenChoose: return L"Choose where to install";
    case kScreenDone:
        if (frame.removal) return L"Orvane Online was removed";
        // A repair ran over a client that was there before the run began.
        return frame.installationExists ? L"Repair complete" : L"Installation complete";
    case kScreenFailed: return frame.removal ? L"Removal failed" : L"Installation failed";
    default: return L"";
    }
}

std::wstring adminNoteText() { return L"No administrator rights needed."; }
std::wstring locationCaptionText() { return L"INSTALL LOCATION"; }

std::wstring locationText(const Frame& frame) {
    return frame.location.empty() ? L"Choose a location..." : frame.location;
}

std::wstring folderNoteText(const Frame&) {
    return L"A folder named 'OrvaneOnline' will be created here. Needs about 1.5 GB.";
}

std::wstring repairNoticeText() {
    return L"Existing install found here - Repair refreshes only the changed files (fast).";
}

std::vector<std::wstring> stepTexts(const Frame& frame) {
    return {frame.installationExists ? L"Refresh only the changed files (usually a few MB)"
                                     : L"Download the full client in one pass",
            L"Verify every file against the server", L"Create a desktop shortcut and play"};
}

std::wstring percentText(const Frame& frame) {
    if (frame.busy) return L"";
    const int percent = static_cast<int>(std::floor(std::clamp(frame.progress, 0.0f, 1.0f) * 100.0f));
    return std::to_wstring(percent) + L"%";
}

std::wstring bytesLineText(const Frame& frame) {
    // A removal deletes files, it moves no bytes: a counter there would only read zero.
    if (frame.busy || frame.removal) return L"";
    std::wstring line = base::formatBytes(frame.bytesDone);
    if (frame.bytesTotal > 0) line += L" of " + base::formatBytes(static_cast<uint64_t>(frame.bytesTotal));
    if (frame.bytesPerSecond >= 0.0) line += formatSpeed(frame.bytesPerSecond);
    if (frame.secondsLeft >= 0) line += formatTimeLeft(frame.secondsLeft);
    return line;
}

std::wstring doneLineText(const Frame& frame) {
    if (!frame.removal) return L"Orvane Online is ready, and a shortcut to it is on your desktop.";
    if (frame.keptFiles <= 0) return L"Everything it installed is gone, shortcuts included.";
    if (frame.keptFiles == 1) return L"1 file made by the game or by you was kept.";
    return std::to_wstring(frame.keptFiles) + L" files made by the game or by you were kept.";
}

std::wstring folderCaptionText(const Frame& frame) {
    if (frame.installDir.empty()) return L"";
    // What was kept is still in the folder: say which one, so the player can find it.
    if (frame.removal) return frame.keptFiles > 0 ? L"KEPT IN" : L"";
    return L"INSTALLED IN";
}

std::wstring detailsCaptionText() { return L"DETAILS"; }

}  // namespace render
