#include "install/removal.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "base/unique_handle.h"
#include "install/folder_lock.h"
#include "install/shortcut.h"
#include "install/worker.h"
#include "tests/install/published_client.h"
#include "tests/support/recording_sink.h"
#include "update/release_memory.h"
#include "update/verify_cache.h"

using namespace installer;

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Every regular file under `folder`, relative with `/`, sorted.
std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).generic_u8string());
    std::sort(files.begin(), files.end());
    return files;
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    SHGetKnownFolderPath(id, 0, nullptr, &path);
    std::wstring folder = path ? path : L"";
    CoTaskMemFree(path);
    return folder;
}

// Runs the removal worker in `folder`, reporting to `sink`; returns its final error after
// checking that it finished once, last.
std::wstring runWorker(const fs::path& folder, testsupport::RecordingSink& sink) {
    Job job;
    job.kind = JobKind::kRemoval;
    job.installDir = folder.wstring();
    int heard = 0;
    runRemovalWorker(job, sink, [&](const Outcome&) {
        ++heard;
        EXPECT_EQ(sink.state().finished, 0);  // before the sink hears of the end
    });
    EXPECT_EQ(heard, 1);
    EXPECT_TRUE(sink.finishedOnceLast());
    const Outcome outcome = sink.state().outcome;
    EXPECT_EQ(outcome.succeeded, outcome.error.empty());
    return outcome.error;
}
std::wstring runWorker(const fs::path& folder) {
    testsupport::RecordingSink sink;
    return runWorker(folder, sink);
}

// Files written and recorded as an install would.
void plant(const fs::path& folder, const std::vector<std::string>& files) {
    for (const std::string& file : files) writeFile(folder / fs::u8path(file), file);
    std::string error;
    ASSERT_TRUE(addToInstallRecord(folder.wstring(), files, error)) << error;
}

}  // namespace

TEST(Removal, TakesOnlyWhatTheInstallPutThere) {
    testsupport::TempDir dir;
    testsupport::LoopbackServer server;
    const std::vector<std::pair<std::string, std::string>> client = {
        {"Engine.exe", std::string(5000, 'E')}, {"data/maps/forest.pak", "forest"}, {"data/readme.txt", "hi"}};
    testsupport::publishClient(server, dir / "client", dir / "out", client);
    const fs::path installDir = dir / "Orvane Online";
    ASSERT_EQ(runWorker(installDir), kNothingToRemove);  // before the install: no record yet
    Job install;
    install.installDir = installDir.wstring();
    install.manifestUrl = server.url("/pc/manifest.json");
    testsupport::RecordingSink installed;
    runInstallWorker(install, installed);
    ASSERT_EQ(installed.state().outcome.error, L"");
    const fs::path desktopLink = fs::path(desktopFolder()) / kShortcutName;
    const fs::path programsLink = fs::path(programsFolder()) / kShortcutName;
    ASSERT_TRUE(fs::exists(desktopLink));

    // The player's, a leftover download, a read-only client file, and the running setup's
    // own recorded copy that goes later.
    writeFile(installDir / "screenshots" / "shot1.png", "png");
    fs::create_directories(installDir / "saves");
    writeFile(installDir / "data" / "maps" / "forest.pak.part", "part");
    SetFileAttributesW((installDir / "data" / "readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const fs::path setup = installDir / "OrvaneSetup.exe";
    plant(installDir, {"OrvaneSetup.exe"});
    // A shortcut of the same name to another folder stays, even one whose name starts alike.
    testsupport::TempDir other;
    std::string error;
    ASSERT_TRUE(createShortcut(other.str(), installDir.wstring() + L"2", error)) << error;

    RemovalResult result;
    int64_t lastDone = -1, lastTotal = -1;
    EXPECT_EQ(removeInstallation(installDir.wstring(), setup.wstring(), result,
                                 [&](int64_t done, int64_t total, const std::wstring&) {
                                     lastDone = done;
                                     lastTotal = total;
                                 }),
              L"");
    EXPECT_EQ(result.removed, 3);
    EXPECT_EQ(result.kept, 1);
    EXPECT_EQ(lastTotal, 4);
    EXPECT_EQ(lastDone, 4);
    EXPECT_TRUE(result.setupCopyLeft);
    EXPECT_EQ(filesUnder(installDir), (std::vector<std::string>{"OrvaneSetup.exe", "screenshots/shot1.png"}));
    EXPECT_TRUE(fs::is_directory(installDir / "saves"));  // the player's, though empty
    EXPECT_FALSE(fs::exists(installDir / "data"));
    EXPECT_FALSE(fs::exists(desktopLink));
    EXPECT_FALSE(fs::exists(programsLink));
    EXPECT_TRUE(fs::exists(other / kShortcutName));
    EXPECT_FALSE(removeShortcutInto(other.str(), installDir.wstring()));

    // The setup's copy, once it has ended: its folder stays for the player's screenshot.
    EXPECT_TRUE(removeSetupCopy(installDir.wstring(), setup.wstring()));
    EXPECT_EQ(filesUnder(installDir), (std::vector<std::string>{"screenshots/shot1.png"}));
}

TEST(Removal, OnlyTheRecordedSetupCopyIsLeftForLaterAndTaken) {
    testsupport::TempDir dir;
    const fs::path game = dir / "Game", setup = game / "OrvaneSetup.exe", download = game / "OrvaneSetup (2).exe";
    plant(game, {"Engine.exe", "OrvaneSetup.exe"});
    writeFile(download, "MZ");  // a download the player ran from the folder
    writeFile(game / "OrvaneSetup.exe.old", "MZ");  // what the copy was before it replaced itself
    writeFile(dir / "outside.exe", "MZ");
    RemovalResult result;
    EXPECT_EQ(removeInstallation(game.wstring(), download.wstring(), result, nullptr), L"");
    EXPECT_FALSE(result.setupCopyLeft);
    EXPECT_EQ(result.kept, 1);
    EXPECT_EQ(filesUnder(game), (std::vector<std::string>{"OrvaneSetup (2).exe"}));
    EXPECT_FALSE(removeSetupCopy(game.wstring(), download.wstring()));
    EXPECT_FALSE(removeSetupCopy(game.wstring(), (dir / "outside.exe").wstring()));
    EXPECT_TRUE(fs::exists(download));
    EXPECT_TRUE(fs::exists(dir / "outside.exe"));

    // Another spelling of the copy is still the copy; its folder goes once empty.
    fs::remove(download);
    writeFile(setup, "MZ");
    std::wstring shouted = setup.wstring();
    CharUpperBuffW(shouted.data(), static_cast<DWORD>(shouted.size()));
    EXPECT_TRUE(removeSetupCopy(game.wstring() + L"\\", shouted));
    EXPECT_FALSE(fs::exists(game));
    EXPECT_TRUE(fs::exists(dir.path()));
}

TEST(Removal, NeverReachesThroughALink) {
    testsupport::TempDir dir;
    const fs::path game = dir / "Game", elsewhere = dir / "Other Drive";
    plant(game, {"Engine.exe", "data/victim.txt", "data/a.pak", "linked.txt"});
    // The player moved data elsewhere and linked it back; linked.txt points at another file.
    writeFile(elsewhere / "victim.txt", "the player's");
    writeFile(elsewhere / "f.txt", "the player's");
    fs::remove_all(game / "data");
    fs::remove(game / "linked.txt");
    ASSERT_TRUE(testsupport::makeLink(game / "data", elsewhere));
    ASSERT_TRUE(testsupport::makeLink(game / "linked.txt", elsewhere / "f.txt"));

    RemovalResult result;
    EXPECT_EQ(removeInstallation(game.wstring(), L"", result, nullptr), L"");
    EXPECT_EQ(readFile(elsewhere / "victim.txt"), "the player's");
    EXPECT_EQ(readFile(elsewhere / "f.txt"), "the player's");
    EXPECT_FALSE(fs::exists(game / "Engine.exe"));
    EXPECT_GE(result.kept, 1);  // the link, at least: never "nothing was kept"
    EXPECT_TRUE(fs::exists(game / "data" / "victim.txt"));
}

TEST(Removal, RefusesFoldersNotShownToBeOurs) {
    testsupport::TempDir dir;
    writeFile(dir / "Game" / "Engine.exe", "E");
    RemovalResult result;
    EXPECT_FALSE(canRemove((dir / "Game").wstring()));
    EXPECT_EQ(removeInstallation((dir / "Game").wstring(), L"", result, nullptr), kNothingToRemove);
    EXPECT_EQ(removalRefusal((dir / "Game").wstring()), kNothingToRemove);
    EXPECT_TRUE(fs::exists(dir / "Game" / "Engine.exe"));

    wchar_t volume[MAX_PATH] = {};
    ASSERT_TRUE(GetVolumePathNameW(dir.str().c_str(), volume, MAX_PATH));
    EXPECT_TRUE(isProtectedFolder(volume));
    EXPECT_TRUE(isProtectedFolder(L"C:\\"));
    const fs::path profile = knownFolder(FOLDERID_Profile);
    ASSERT_FALSE(profile.empty());
    std::wstring shouted = profile.wstring() + L"\\";
    CharUpperBuffW(shouted.data(), static_cast<DWORD>(shouted.size()));
    EXPECT_TRUE(isProtectedFolder(shouted));
    EXPECT_TRUE(isProtectedFolder(profile.parent_path().wstring()));
    EXPECT_TRUE(isProtectedFolder(knownFolder(FOLDERID_Desktop)));
    // Names that merely start alike are other folders.
    EXPECT_FALSE(isProtectedFolder(profile.wstring() + L"2"));
    EXPECT_FALSE(isProtectedFolder(profile.wstring().substr(0, profile.wstring().size() - 1)));
    EXPECT_FALSE(isProtectedFolder((profile / "Games" / "Orvane Online").wstring()));
    EXPECT_FALSE(isProtectedFolder(dir.str()));
    // Every spelling of a protected folder is that folder, a link to one included.
    const std::wstring documents = knownFolder(FOLDERID_Documents);
    wchar_t shortDocuments[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(documents.c_str(), shortDocuments, MAX_PATH), 0u);
    ASSERT_TRUE(testsupport::makeLink(dir / "docs", documents));
    for (const std::wstring& spelling :
         {std::wstring(shortDocuments), L"\\\\.\\" + documents, L"\\\\?\\" + documents, documents + L"\\.",
          documents + L"\\x\\..\\", (dir / "docs").wstring(), L"\\\\.\\" + profile.wstring(),
          knownFolder(FOLDERID_SavedGames), knownFolder(FOLDERID_LocalAppData), std::wstring(L"C:"),
          std::wstring(L"\\\\?\\C:\\")})
        EXPECT_TRUE(isProtectedFolder(spelling)) << spelling;
    EXPECT_FALSE(isProtectedFolder(documents + L"\\OrvaneOnline"));  // a location there is fine
    EXPECT_EQ(removalRefusal(shortDocuments),
              L"Nothing was removed: " + std::wstring(shortDocuments) +
                  L" is a system or personal folder, which this setup never removes.");

    // A record forged into the profile deletes nothing there.
    const fs::path record = profile / kRecordFileName, forged = profile / "orvane-forged.txt";
    ASSERT_FALSE(fs::exists(record));
    const base::ScopeExit cleanUp([&] {
        std::error_code ignored;
        fs::remove(record, ignored);
        fs::remove(forged, ignored);
    });
    writeFile(forged, "x");
    writeFile(record, "pcupd.files 1\norvane-forged.txt\n");
    EXPECT_FALSE(canRemove(profile.wstring()));
    EXPECT_NE(removeInstallation(L"\\\\.\\" + profile.wstring(), L"", result, nullptr), L"");
    EXPECT_TRUE(fs::exists(forged));
    EXPECT_TRUE(fs::exists(record));
}

TEST(Removal, FilesInUseKeepTheRecordForAnotherRun) {
    testsupport::TempDir dir;
    const fs::path game = dir / "Game";
    plant(game, {"Engine.exe", "data/a.pak", "data/b.pak", "data/readme.txt"});
    writeFile(game / "pcupd.sequence", "7\n");
    writeFile(game / "pcupd.manifest", "ORVKEEP1\n");

    FolderLock busy;
    ASSERT_TRUE(busy.acquire(game.wstring()));
    EXPECT_EQ(runWorker(game), L"Removal failed: a setup is working in this folder");
    busy.release();
    EXPECT_EQ(filesUnder(game).size(), 7u);

    const auto hold = [&](const char* path) {
        return base::UniqueFile(CreateFileW((game / path).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    base::UniqueFile heldB = hold("data/b.pak"), heldReadme = hold("data/readme.txt");
    ASSERT_TRUE(heldB && heldReadme);
    EXPECT_EQ(runWorker(game),
              L"Removal incomplete: 2 files could not be deleted, first data\\b.pak (in use by another program)");
    EXPECT_EQ(filesUnder(game), (std::vector<std::string>{"data/b.pak", "data/readme.txt", "pcupd.files",
                                                          "pcupd.manifest", "pcupd.sequence"}));
    heldB.reset();
    RemovalResult result;
    EXPECT_EQ(removeInstallation(game.wstring(), L"", result, nullptr),
              L"Removal incomplete: 1 file could not be deleted: data\\readme.txt (in use by another program)");
    EXPECT_EQ(result.removed, 1);
    heldReadme.reset();

    // What this user has installed outlives the folder: a reinstall must not take an older
    // release.
    const std::string key(128, 'e');
    ASSERT_TRUE(pcupd::saveUserSequence(key, 7));
    testsupport::RecordingSink sink;
    EXPECT_EQ(runWorker(game, sink), L"");
    EXPECT_FALSE(fs::exists(game));
    std::optional<uint64_t> remembered;
    std::string error;
    EXPECT_TRUE(pcupd::readUserSequence(key, remembered, error)) << error;
    EXPECT_EQ(remembered, uint64_t{7});
    RegDeleteKeyValueW(HKEY_CURRENT_USER, pcupd::kUserMemoryKey, pcupd::userSequenceName(key).c_str());
    const testsupport::RecordingSink::State state = sink.state();
    ASSERT_GE(state.phases.size(), 3u);
    EXPECT_EQ(state.phases.front(), (testsupport::RecordingSink::Phase{Phase::kRemoving, L""}));
    EXPECT_EQ(state.phases.back(), (testsupport::RecordingSink::Phase{Phase::kRemoved, game.wstring()}));
    EXPECT_EQ(state.itemsDone, state.itemsTotal);
    EXPECT_EQ(state.outcome.keptFiles, 0);
    EXPECT_FALSE(state.outcome.setupCopyLeft);
}

TEST(Removal, RecordListsEachPathOnce) {
    testsupport::TempDir dir;
    const fs::path game = dir / "Not Yet Made";
    std::string error;
    ASSERT_TRUE(addToInstallRecord(game.wstring(), {"Engine.exe", "data/a.pak"}, error)) << error;
    ASSERT_TRUE(addToInstallRecord(game.wstring(), {"DATA\\A.PAK", "data/b.pak", "../evil.dll"}, error));
    EXPECT_EQ(readFile(game / "pcupd.files"), "pcupd.files 1\nEngine.exe\ndata/a.pak\ndata/b.pak\n");
    EXPECT_FALSE(fs::exists(game / "pcupd.files.tmp"));
    std::vector<std::string> paths;
    EXPECT_TRUE(readInstallRecord(game.wstring(), paths));
    EXPECT_EQ(paths, (std::vector<std::string>{"Engine.exe", "data/a.pak", "data/b.pak"}));

    // Another first line is no record; an older install answers from its cache.
    writeFile(game / "pcupd.files", "pcupd.files 2\nEngine.exe\n");
    EXPECT_FALSE(readInstallRecord(game.wstring(), paths));
    EXPECT_FALSE(canRemove(game.wstring()));
    pcupd::VerifyCache cache;
    cache.record("Data/C.pak", pcupd::FileStamp{1, 2}, std::string(64, 'a'));
    ASSERT_TRUE(cache.save(game.wstring(), false));
    EXPECT_TRUE(readInstallRecord(game.wstring(), paths));
    EXPECT_EQ(paths, (std::vector<std::string>{"data/c.pak"}));
}
