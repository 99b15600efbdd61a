#include "render/screen_text.h"

#include <algorithm>
#include <cmath>

#include "base/disk_space.h"
#include "lang/numbers.h"
#include "lang/texts.h"

namespace render {

using lang::Text;

namespace {

std::wstring say(const Frame& frame, Text key) { return lang::text(frame.language, key); }

}  // namespace

std::wstring headingText(const Frame& frame) {
    switch (frame.screen) {
    case kScreenSplash: return L"ORVANE ONLINE";  // the game's name, in every language
    case kScreenChoose: return say(frame, Text::kChooseHeading);
    case kScreenDone:
        if (frame.removal) return say(frame, Text::kRemovedHeading);
        // A repair ran over a client that was there before the run began.
        return say(frame, frame.installationExists ? Text::kRepairedHeading : Text::kInstalledHeading);
    case kScreenFailed:
        return say(frame, frame.removal ? Text::kRemovalFailedHeading : Text::kInstallFailedHeading);
    default: return L"";
    }
}

std::wstring subtitleText(const Frame& frame) { return say(frame, Text::kWindowTitle); }
std::wstring adminNoteText(const Frame& frame) { return say(frame, Text::kAdminNote); }
std::wstring locationCaptionText(const Frame& frame) { return say(frame, Text::kLocationCaption); }

std::wstring locationText(const Frame& frame) {
    return frame.location.empty() ? say(frame, Text::kLocationPrompt) : frame.location;
}

std::wstring folderNoteText(const Frame& frame) {
    if (!frame.clientBytes) return say(frame, Text::kFolderNote);
    const lang::Language language = frame.language;
    const std::wstring size = lang::formatSize(language, *frame.clientBytes);
    if (!frame.freeBytes) return lang::text(language, Text::kFolderNoteSize, {size});
    const std::wstring free = lang::formatSize(language, *frame.freeBytes);
    if (!noteWarns(frame)) return lang::text(language, Text::kFolderNoteRoom, {size, frame.volume, free});
    // Short by the margin, too: the number named is the one the free space is measured by.
    return lang::text(language, frame.installationExists ? Text::kFolderNoteShortRepair : Text::kFolderNoteShort,
                      {lang::formatSize(language, base::spaceNeeded(*frame.clientBytes)), frame.volume, free});
}

bool noteWarns(const Frame& frame) {
    return base::roomFor(frame.clientBytes, frame.freeBytes) == base::Room::kShort;
}

std::wstring repairNoticeText(const Frame& frame) { return say(frame, Text::kRepairNotice); }

std::vector<std::wstring> stepTexts(const Frame& frame) {
    return {say(frame, frame.installationExists ? Text::kStepRefresh : Text::kStepDownload),
            say(frame, Text::kStepVerify), say(frame, Text::kStepShortcut)};
}

std::wstring percentText(const Frame& frame) {
    if (frame.busy) return L"";
    const int percent = static_cast<int>(std::floor(std::clamp(frame.progress, 0.0f, 1.0f) * 100.0f));
    return lang::formatPercent(frame.language, percent);
}

std::wstring bytesLineText(const Frame& frame) {
    // A removal deletes files, it moves no bytes: a counter there would only read zero.
    if (frame.busy || frame.removal) return L"";
    const lang::Language language = frame.language;
    std::wstring line = lang::formatSize(language, frame.bytesDone);
    if (frame.bytesTotal > 0)
        line = lang::text(language, Text::kBytesOf,
                          {line, lang::formatSize(language, static_cast<uint64_t>(frame.bytesTotal))});
    if (frame.bytesPerSecond >= 0.0) line += L"  " + lang::formatSpeed(language, frame.bytesPerSecond);
    if (frame.secondsLeft >= 0) line += L"  " + lang::formatTimeLeft(language, frame.secondsLeft);
    return line;
}

std::wstring doneLineText(const Frame& frame) {
    if (!frame.removal) return say(frame, Text::kReadyLine);
    if (frame.keptFiles <= 0) return say(frame, Text::kRemovedAllLine);
    return countText(frame.language, frame.keptFiles, Text::kKeptOne);
}

std::wstring folderCaptionText(const Frame& frame) {
    if (frame.installDir.empty()) return L"";
    // What was kept is still in the folder: say which one, so the player can find it.
    if (frame.removal) return frame.keptFiles > 0 ? say(frame, Text::kKeptIn) : L"";
    return say(frame, Text::kInstalledIn);
}

std::wstring detailsCaptionText(const Frame& frame) { return say(frame, Text::kDetailsCaption); }

std::wstring countText(lang::Language language, int64_t count, Text one) {
    // The three forms stand in the table in the order one, few, many.
    const auto form = static_cast<int32_t>(lang::pluralOf(language, count));
    return lang::text(language, static_cast<Text>(static_cast<int32_t>(one) + form), {std::to_wstring(count)});
}

}  // namespace render
