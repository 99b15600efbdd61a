#pragma once
// Every text the window shows, by name, in every language the setup speaks. English is the
// source; a text may hold numbered places ("{0}") that text() fills in.

#include <cstdint>
#include <initializer_list>
#include <string>

#include "lang/language.h"

namespace lang {

enum class Text : int32_t {
    // The window and its dialogs.
    kWindowTitle,         // "Orvane Online Setup": title bar, taskbar, message boxes, splash
    kHeaderSetup,         // "Setup", beside the game's name at the top of every screen
    kPickerTitle,         // the folder picker's title
    kCannotCreateFolder,  // a chosen location where no folder can be made
    kConfirmCancelInstall,
    kConfirmCancelRemoval,
    kConfirmRemoval,
    kLogUnusable,  // {0}: why the log cannot be written
    kLanguageUnknown,  // {0}: the --lang= given, {1}: the tags there are

    // Buttons, and what a screen reader says of them.
    kButtonBrowse,
    kButtonInstall,
    kButtonRepair,
    kButtonPlay,
    kButtonTryAgain,
    kButtonClose,      // CLOSE at the end of a removal
    kCloseWindowName,  // the title bar's X, which has no label
    kPressAction,      // a button's default action
    kLocationFieldName,  // {0}: the location
    kProgressName,
    kRemovalProgressName,
    kDetailsName,

    // Choose screen.
    kChooseHeading,
    kAdminNote,
    kLocationCaption,
    kLocationPrompt,
    kFolderNote,             // before the client's size is known
    kFolderNoteSize,         // {0}: the client's size
    kFolderNoteRoom,         // {0}: the client's size, {1}: the drive ("D:"), {2}: its free space
    kFolderNoteShort,        // {0}: the space an install needs, {1}: the drive, {2}: its free space
    kFolderNoteShortRepair,  // the same, over an existing client: a repair may still fit
    kRepairNotice,
    kStepDownload,
    kStepRefresh,
    kStepVerify,
    kStepShortcut,

    // Working screen: the phases and the progress line.
    kPhaseContacting,
    kPhaseDownloading,
    kPhaseInstalling,
    kPhaseVerifying,
    kPhaseRepairing,
    kPhaseRemoving,
    kPercent,    // {0}: a whole number
    kBytesOf,    // {0} of {1}: sizes
    kSpeed,      // {0}: megabytes a second, one decimal
    kTimeLeft,   // {0}: minutes:seconds
    kKilobytes,  // {0}: a number
    kMegabytes,
    kGigabytes,

    // Done and failed screens.
    kInstalledHeading,
    kRepairedHeading,
    kRemovedHeading,
    kInstallFailedHeading,
    kRemovalFailedHeading,
    kReadyLine,
    kRemovedAllLine,
    kKeptOne,   // {0}: the count
    kKeptFew,
    kKeptMany,
    kDroppedOne,  // {0}: files an earlier release had and this one dropped, removed
    kDroppedFew,
    kDroppedMany,
    kInstalledIn,
    kKeptIn,
    kDetailsCaption,

    // What went wrong: the first sentence of a failure.
    kFailNoLocation,
    kFailProtectedFolder,  // {0}: the folder
    kFailFolderBusy,
    kFailNoSpace,  // {0}: needed, {1}: free
    kFailManifest,
    kFailDownload,
    kFailVerify,
    kFailStart,
    kFailRemovalStart,
    kFailRemovalIncompleteOne,  // {0}: the count
    kFailRemovalIncompleteFew,
    kFailRemovalIncompleteMany,
    kFailNothingToRemove,
    kFailProtectedRemoval,  // {0}: the folder a removal was asked for
    kFailUnexpected,
    // Why: the second sentence, by the kind of failure.
    kCauseBadData,
    kCauseConnection,
    kCauseSecure,
    kCauseMissing,      // HTTP 404 and 410
    kCauseServerError,  // {0}: the status, 5xx
    kCauseRefusedRequest,  // {0}: the status, any other
    kCauseStalled,
    kCauseMismatch,
    kCauseNotTrusted,
    kCauseDisk,
    kCauseResources,
    kCauseErrorCode,  // {0}: a system error number, when the system has no words for it

    kCount
};

// The text in `language`; places filled from `args` in order.
std::wstring text(Language language, Text key);
std::wstring text(Language language, Text key, std::initializer_list<std::wstring> args);

// Whether the table for `language` has its own entry for `key` (tests: none may be missing).
// The pseudo-language is made from English and has every entry English has.
bool hasEntry(Language language, Text key);

// The pseudo-language's form of an English text: letters accented, 40% longer, in brackets,
// places ("{0}") kept as they are.
std::wstring pseudoOf(const std::wstring& english);

}  // namespace lang
