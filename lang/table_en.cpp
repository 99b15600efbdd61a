// The source texts. A translator works from these: keep each one plain, and say in a comment
// in texts.h what a place ("{0}") holds.

#include <iterator>

#include "lang/table.h"

namespace lang {

namespace {

using T = Text;

const Entry kEntries[] = {
    {T::kWindowTitle, L"Orvane Online Setup"},
    {T::kHeaderSetup, L"Setup"},
    {T::kPickerTitle, L"Choose where to install Orvane Online"},
    {T::kCannotCreateFolder, L"Could not create that folder. Choose another location."},
    {T::kConfirmCancelInstall, L"Cancel the installation?"},
    {T::kConfirmCancelRemoval, L"Cancel the removal?"},
    {T::kConfirmRemoval, L"Remove Orvane Online from this computer?"},
    {T::kLogUnusable, L"{0}\n\nThe setup goes on without a log."},
    {T::kLanguageUnknown, L"--lang={0} is not a language this setup speaks ({1})."},

    {T::kButtonBrowse, L"Browse..."},
    {T::kButtonInstall, L"INSTALL"},
    {T::kButtonRepair, L"REPAIR"},
    {T::kButtonPlay, L"PLAY"},
    {T::kButtonTryAgain, L"TRY AGAIN"},
    {T::kButtonClose, L"CLOSE"},
    {T::kCloseWindowName, L"Close"},
    {T::kPressAction, L"Press"},
    {T::kLocationFieldName, L"Install location: {0}"},
    {T::kProgressName, L"Progress"},
    {T::kRemovalProgressName, L"Removal progress"},
    {T::kDetailsName, L"Details"},

    {T::kChooseHeading, L"Choose where to install"},
    {T::kAdminNote, L"No administrator rights needed."},
    {T::kLocationCaption, L"INSTALL LOCATION"},
    {T::kLocationPrompt, L"Choose a location..."},
    {T::kFolderNote, L"A folder named 'OrvaneOnline' will be created here. Needs about 1.5 GB."},
    {T::kFolderNoteSize, L"A folder named 'OrvaneOnline' will be created here. Needs about {0}."},
    {T::kFolderNoteRoom, L"A folder named 'OrvaneOnline' will be created here. Needs about {0}; {1} has {2} free."},
    {T::kFolderNoteShort, L"Not enough free space: the game needs {0} and {1} has only {2} free. Choose another drive."},
    {T::kFolderNoteShortRepair, L"Little free space: a repair may need up to {0}, and {1} has {2} free."},
    {T::kRepairNotice, L"Existing install found here - Repair refreshes only the changed files (fast)."},
    {T::kStepDownload, L"Download the full client in one pass"},
    {T::kStepRefresh, L"Refresh only the changed files (usually a few MB)"},
    {T::kStepVerify, L"Verify every file against the server"},
    {T::kStepShortcut, L"Create a desktop shortcut and play"},

    {T::kPhaseContacting, L"Contacting update server..."},
    {T::kPhaseDownloading, L"Downloading client..."},
    {T::kPhaseInstalling, L"Installing..."},
    {T::kPhaseVerifying, L"Verifying files..."},
    {T::kPhaseRepairing, L"Repairing files..."},
    {T::kPhaseRemoving, L"Removing Orvane Online..."},
    {T::kPercent, L"{0}%"},
    {T::kBytesOf, L"{0} of {1}"},
    {T::kSpeed, L"{0} MB/s"},
    {T::kTimeLeft, L"about {0} remaining"},
    {T::kKilobytes, L"{0} KB"},
    {T::kMegabytes, L"{0} MB"},
    {T::kGigabytes, L"{0} GB"},

    {T::kInstalledHeading, L"Installation complete"},
    {T::kRepairedHeading, L"Repair complete"},
    {T::kRemovedHeading, L"Orvane Online was removed"},
    {T::kInstallFailedHeading, L"Installation failed"},
    {T::kRemovalFailedHeading, L"Removal failed"},
    {T::kReadyLine, L"Orvane Online is ready, and a shortcut to it is on your desktop."},
    {T::kRemovedAllLine, L"Everything it installed is gone, shortcuts included."},
    {T::kKeptOne, L"{0} file made by the game or by you was kept."},
    {T::kKeptFew, L"{0} files made by the game or by you were kept."},
    {T::kKeptMany, L"{0} files made by the game or by you were kept."},
    {T::kDroppedOne, L"{0} file that this release no longer has was removed."},
    {T::kDroppedFew, L"{0} files that this release no longer has were removed."},
    {T::kDroppedMany, L"{0} files that this release no longer has were removed."},
    {T::kInstalledIn, L"INSTALLED IN"},
    {T::kKeptIn, L"KEPT IN"},
    {T::kDetailsCaption, L"DETAILS"},

    {T::kFailNoLocation, L"No install location was selected."},
    {T::kFailProtectedFolder, L"{0} is a system or personal folder. Choose a folder of its own for the game."},
    {T::kFailFolderBusy, L"Another setup is working in this folder. Wait for it to finish, then try again."},
    {T::kFailNoSpace, L"There is not enough free space on the drive: {0} needed, {1} free."},
    {T::kFailManifest, L"The description of the game's files could not be read from the update server."},
    {T::kFailDownload, L"The game could not be downloaded and installed."},
    {T::kFailVerify, L"The game's files could not be checked and repaired."},
    {T::kFailStart, L"The installation could not be started."},
    {T::kFailRemovalStart, L"The removal could not be started."},
    {T::kFailRemovalIncompleteOne, L"{0} file could not be deleted. Close the game and try again."},
    {T::kFailRemovalIncompleteFew, L"{0} files could not be deleted. Close the game and try again."},
    {T::kFailRemovalIncompleteMany, L"{0} files could not be deleted. Close the game and try again."},
    {T::kFailNothingToRemove, L"No installation of Orvane Online was found here."},
    {T::kFailProtectedRemoval, L"Nothing was removed: {0} is a system or personal folder, which this setup never removes."},
    {T::kFailUnexpected, L"The setup stopped on an unexpected error."},
    {T::kCauseBadData, L"The update server sent data that is not part of this release."},
    {T::kCauseConnection, L"The connection to the update server failed. Check your internet connection and try again."},
    {T::kCauseSecure, L"The update server's secure connection could not be trusted."},
    {T::kCauseMissing, L"The update server does not have a file this release needs. Try again later."},
    {T::kCauseServerError, L"The update server is having trouble (HTTP {0}). Try again later."},
    {T::kCauseRefusedRequest, L"The update server refused the request (HTTP {0})."},
    {T::kCauseStalled, L"The download stopped moving. Check your internet connection and try again."},
    {T::kCauseMismatch, L"Downloaded data did not match the release and was not kept. Try again."},
    {T::kCauseNotTrusted, L"The release on the server is not signed by the publisher, has expired, or is older than the installed game."},
    {T::kCauseDisk, L"A file in the install folder could not be written or deleted."},
    {T::kCauseResources, L"The computer ran out of memory or system resources."},
    {T::kCauseErrorCode, L"Error {0}."},
};

}  // namespace

Table englishTable() { return {kEntries, std::size(kEntries)}; }

}  // namespace lang
