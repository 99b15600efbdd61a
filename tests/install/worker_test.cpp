#include "install/worker.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "base/text.h"
#include "base/unique_handle.h"
#include "install/client_process.h"
#include "install/folder_lock.h"
#include "install/install_record.h"
#include "install/obsolete_files.h"
#include "install/shortcut.h"
#include "tests/install/published_client.h"
#include "tests/support/archive_builder.h"
#include "tests/support/recording_sink.h"
#include "tests/update/manifest_signer.h"
#include "update/download_hosts.h"
#include "update/manifest.h"
#include "update/manifest_prefetch.h"
#include "update/manifest_signature.h"
#include "update/sha256.h"

using namespace installer;

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

const std::vector<std::pair<std::string, std::string>> kClient = {
    {"Engine.exe", std::string(400000, 'E')},
    {"data/maps/forest.pak", std::string(900000, 'F')},
    {"data/readme.txt", "hello"},
};

// Target and working folder of a shell link.
std::pair<std::wstring, std::wstring> readShortcut(const std::wstring& path) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::pair<std::wstring, std::wstring> result;
    {
        Microsoft::WRL::ComPtr<IShellLinkW> link;
        Microsoft::WRL::ComPtr<IPersistFile> file;
        wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {};
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) &&
            SUCCEEDED(link.As(&file)) && SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0)) &&
            SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH)))
            result = {target, folder};
    }
    CoUninitialize();
    return result;
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::publishClient(server, dir / "client", dir / "out", kClient);
        shortcut = fs::path(desktopFolder()) / kShortcutName;
        fs::remove(shortcut);
        prepare(installDir.wstring(), false);
    }
    // Wine's desktop may still be reading the new shortcut for its icon: a sharing violation
    // for a moment, not a fault of the program's.
    void TearDown() override {
        std::error_code error;
        for (int attempt = 0; attempt < 50 && !fs::remove(shortcut, error) && error; ++attempt) Sleep(20);
        EXPECT_FALSE(error) << error.message();
    }

    void prepare(const std::wstring& folder, bool repair) {
        job.installDir = folder;
        job.kind = repair ? JobKind::kRepair : JobKind::kInstall;
    }

    // Runs the worker; returns its final error and checks that it finished once, last.
    std::wstring work(const std::string& manifestPath = "/pc/manifest.json") {
        job.manifestUrl = server.url(manifestPath);
        sink.clear();
        runInstallWorker(job, sink);
        EXPECT_TRUE(sink.finishedOnceLast());
        const Outcome outcome = sink.state().outcome;
        EXPECT_EQ(outcome.succeeded, outcome.error.empty());
        return outcome.error;
    }
    // The phase the run ended in.
    testsupport::RecordingSink::Phase lastPhase() const { return sink.lastPhase(); }

    // What the publisher wrote, and where the server serves each part of it.
    pcupd::Manifest published() const {
        pcupd::Manifest manifest;
        std::string error;
        pcupd::parseManifest(readFile(dir / "out" / "pc" / "manifest.json"), manifest, error);
        return manifest;
    }
    std::string archiveTarget() const {
        pcupd::FullArchive archive;
        std::string error;
        pcupd::parseFullArchive(readFile(dir / "out" / "pc" / "manifest.json"), archive, error);
        return archive.url.substr(server.url("").size());
    }
    std::string fileTarget(const std::string& path) const {
        for (const pcupd::ManifestFile& file : published().files)
            if (file.path == path) return file.url.substr(server.url("").size());
        return {};
    }
    void serveArchive(const std::string& bytes) {
        testsupport::Response response;
        response.body = bytes;
        server.route(archiveTarget(), response);
    }

    void expectInstalled() const {
        for (const auto& [path, content] : kClient)
            EXPECT_TRUE(readFile(installDir / fs::u8path(path)) == content) << path;
    }

    testsupport::TempDir dir;
    fs::path installDir = dir / "OrvaneOnline";
    testsupport::LoopbackServer server;
    fs::path shortcut;
    Job job;
    testsupport::RecordingSink sink;
};

}  // namespace

TEST_F(WorkerTest, FreshInstall) {
    EXPECT_EQ(work(), L"");
    expectInstalled();
    const std::vector<testsupport::RecordingSink::Phase> phases = sink.state().phases;
    ASSERT_GE(phases.size(), 4u);
    EXPECT_EQ(phases[0].phase, Phase::kContactingServer);
    EXPECT_EQ(phases[1].phase, Phase::kDownloading);
    EXPECT_EQ(phases[2], (testsupport::RecordingSink::Phase{Phase::kInstalling, L"Engine.exe"}));
    EXPECT_EQ(phases.back(), (testsupport::RecordingSink::Phase{Phase::kInstalled, installDir.wstring()}));
    EXPECT_EQ(sink.state().bytesDone, 400000u + 900000 + 5);
    const auto [target, folder] = readShortcut(shortcut.wstring());
    EXPECT_EQ(fs::path(target), installDir / "Engine.exe");
    EXPECT_EQ(fs::path(folder), installDir);
    // The stream hashed every file; only the manifest (once) and the archive were fetched.
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/pc/manifest.json", archiveTarget()}));
}

TEST_F(WorkerTest, RepairFixesOnlyWhatDiffers) {
    ASSERT_EQ(work(), L"");
    testsupport::writeFile(installDir / "data" / "readme.txt", "HELLO");
    fs::remove(installDir / "data" / "maps" / "forest.pak");
    const size_t before = server.requests().size();

    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"");
    expectInstalled();
    std::vector<std::string> requests = server.requests();
    requests.erase(requests.begin(), requests.begin() + static_cast<long>(before));
    std::vector<std::string> expected = {"/pc/manifest.json", fileTarget("data/maps/forest.pak"),
                                         fileTarget("data/readme.txt")};
    // The two download at once, in either order.
    ASSERT_EQ(requests.size(), expected.size());
    std::sort(requests.begin() + 1, requests.end());
    std::sort(expected.begin() + 1, expected.end());
    EXPECT_EQ(requests, expected);
    EXPECT_EQ(lastPhase(), (testsupport::RecordingSink::Phase{Phase::kRepaired, installDir.wstring()}));
    EXPECT_EQ(sink.state().phases.front().phase, Phase::kContactingServer);
}

// The same tree on a mirror: the base's host stops answering for the archive, then answers
// 503 for the files a repair needs. Both runs complete from the mirror, and say so.
TEST_F(WorkerTest, WhatTheBaseCannotServeComesFromTheMirror) {
    testsupport::LoopbackServer mirror;
    testsupport::publishClient(server, dir / "client", dir / "out", kClient, {mirror.url("/")});
    mirror.serveFolder(dir / "out");
    testsupport::Response stopped, unavailable;
    stopped.noResponse = true;
    unavailable.status = 503;
    server.route(archiveTarget(), stopped);
    const std::wstring base = base::toWide(pcupd::originOf(server.url(""))),
                       copy = base::toWide(pcupd::originOf(mirror.url("")));
    EXPECT_EQ(work(), L"");
    expectInstalled();
    EXPECT_EQ(mirror.requests(), std::vector<std::string>{archiveTarget()});
    ASSERT_EQ(sink.state().hosts.size(), 1u);
    EXPECT_EQ(sink.state().hosts[0].rfind(copy + L" after " + base + L": ", 0), 0u) << sink.state().hosts[0];

    testsupport::writeFile(installDir / "data" / "readme.txt", "HELLO");
    server.route(fileTarget("data/readme.txt"), unavailable);
    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"");
    expectInstalled();
    EXPECT_EQ(mirror.requests().back(), fileTarget("data/readme.txt"));
    EXPECT_EQ(sink.state().hosts, std::vector<std::wstring>{copy + L" after " + base + L": HTTP status 503 for " +
                                                            base::toWide(server.url(fileTarget("data/readme.txt")))});
}

TEST_F(WorkerTest, EachFailureReachesTheWindowAsOneFinalError) {
    prepare(L"", false);
    EXPECT_EQ(work(), L"No install location was selected.");
    // Documents as the install folder itself, in its 8.3 spelling: nothing is written there.
    PWSTR documents = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents)));
    wchar_t shortDocuments[MAX_PATH] = {};
    GetShortPathNameW(documents, shortDocuments, MAX_PATH);
    CoTaskMemFree(documents);
    prepare(shortDocuments, false);
    EXPECT_EQ(work(), L"Install failed: " + std::wstring(shortDocuments) +
                          L" is a system or personal folder; choose a folder of its own for the game.");
    EXPECT_FALSE(fs::exists(fs::path(shortDocuments) / "pcupd.files"));
    EXPECT_EQ(server.requests().size(), 0u);

    prepare(installDir.wstring(), false);
    const std::string missing = server.url("/missing.json");
    EXPECT_EQ(work("/missing.json"), L"Could not read the update manifest: HTTP status 404 for " +
                                         std::wstring(missing.begin(), missing.end()));

    // An archive whose data does not match its digest.
    std::string archive = readFile(dir / "out" / fs::u8path(archiveTarget().substr(1)));
    archive[archive.size() - 1] ^= 0x01;
    serveArchive(archive);
    EXPECT_EQ(work(), L"Install failed: checksum mismatch for data/readme.txt");

    // A file the update host cannot deliver during verification.
    fs::remove(installDir / "data" / "maps" / "forest.pak");
    testsupport::Response gone;
    gone.status = 404;
    const std::string forest = fileTarget("data/maps/forest.pak");
    server.route(forest, gone);
    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"Verification failed: HTTP status 404 for " +
                          base::toWide(server.url(forest)));
}

TEST_F(WorkerTest, AnUpdateReadsWhatChangedARepairEveryByte) {
    ASSERT_EQ(work(), L"");
    // Damage that keeps the size and the time (a disk error, a tool that restores times):
    // only reading the file shows it.
    const fs::path forest = installDir / "data" / "maps" / "forest.pak";
    WIN32_FILE_ATTRIBUTE_DATA before;
    ASSERT_TRUE(GetFileAttributesExW(forest.wstring().c_str(), GetFileExInfoStandard, &before));
    {
        base::UniqueFile file(CreateFileW(forest.wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        SetFilePointer(file.get(), 4096, nullptr, FILE_BEGIN);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "damage", 6, &written, nullptr));
        ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &before.ftLastWriteTime));
    }
    const std::string damaged = readFile(forest);

    // A new release: the update takes what changed in it and trusts the cache for the rest.
    testsupport::publishClient(server, dir / "client", dir / "out", {{"data/readme.txt", "hello, v2"}});
    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"");
    EXPECT_EQ(readFile(installDir / "data" / "readme.txt"), "hello, v2");
    EXPECT_EQ(readFile(forest), damaged);

    // The same release again: the player asks for a repair, and every byte is read.
    EXPECT_EQ(work(), L"");
    EXPECT_EQ(readFile(forest), kClient[1].second);
    // A folder that does not say which release it completed is read whole too.
    ASSERT_TRUE(fs::remove(installDir / "pcupd.release"));
    EXPECT_EQ(work(), L"");
}

TEST_F(WorkerTest, TheArchiveIsBoundToTheManifest) {
    const std::string good = readFile(dir / "out" / fs::u8path(archiveTarget().substr(1)));
    const auto rebuilt = [](std::vector<std::pair<std::string, std::string>> files) {
        testsupport::TestArchive archive;
        for (const auto& [path, content] : files) archive.entries.push_back({path, content});
        return archive.build();
    };

    // A swapped archive: a file the manifest never lists would sit beside the client,
    // unseen by the verification.
    auto planted = kClient;
    planted.insert(planted.begin() + 1, {"version.dll", "planted"});
    serveArchive(rebuilt(planted));
    EXPECT_EQ(work(), L"Install failed: archive entry not in manifest: version.dll");
    EXPECT_FALSE(fs::exists(installDir / "version.dll"));
    EXPECT_FALSE(fs::exists(installDir / "data"));  // nothing after it either

    auto changed = kClient;
    changed[2].second = "HELLO";
    serveArchive(rebuilt(changed));
    EXPECT_EQ(work(), L"Install failed: archive entry differs from manifest: data/readme.txt");
    EXPECT_FALSE(fs::exists(installDir / "data" / "readme.txt"));

    // The manifest's size and digest cover the whole stream.
    serveArchive(good + "x");
    EXPECT_EQ(work(), L"Install failed: archive size mismatch");
    std::string eighth = good;
    eighth[7] = 'x';  // a byte the reader never examines
    serveArchive(eighth);
    EXPECT_EQ(work(), L"Install failed: archive digest mismatch");

    serveArchive(good);
    EXPECT_EQ(work(), L"");
}

TEST_F(WorkerTest, OneSetupPerFolder) {
    FolderLock other;
    std::wstring spelled = installDir.wstring() + L"\\";
    CharUpperBuffW(spelled.data(), static_cast<DWORD>(spelled.size()));
    ASSERT_TRUE(other.acquire(spelled));
    for (const bool repair : {false, true}) {
        prepare(installDir.wstring(), repair);
        EXPECT_EQ(work(), L"Install failed: another setup is working in this folder");
    }
    EXPECT_TRUE(server.requests().empty());
    other.release();
    prepare(installDir.wstring(), false);
    EXPECT_EQ(work(), L"");
}

TEST_F(WorkerTest, NotEnoughDiskSpaceFailsBeforeDownloading) {
    testsupport::Response manifest;
    manifest.body = "{\"fullArchive\":{\"url\":\"" + server.url("/huge.orvpak") +
                    "\",\"size\":4000000000},\"files\":[{\"path\":\"a\",\"sha256\":\"00\",\"size\":"
                    "4000000000000000000,\"url\":\"" + server.url("/a") + "\"}]}";
    server.route("/huge.json", manifest);
    const std::wstring error = work("/huge.json");
    // The files' size on disk, with the margin the window's check uses too.
    EXPECT_EQ(error.rfind(L"Install failed: not enough disk space (3799796104.46 GB needed, ", 0), 0u) << error;
    EXPECT_EQ(server.requestCount("/huge.orvpak"), 0);
}

TEST_F(WorkerTest, AnUpdateLeavesExactlyTheNewRelease) {
    const std::vector<std::pair<std::string, std::string>> dropped = {
        {"plugins/old/hook.dll", "MZ"}, {"data/gone.txt", "gone"}, {"data/held.txt", "held"}};
    testsupport::publishClient(server, dir / "client", dir / "out", dropped);
    ASSERT_EQ(work(), L"");
    ASSERT_TRUE(fs::exists(installDir / "plugins" / "old" / "hook.dll"));
    testsupport::writeFile(installDir / "data" / "mine.txt", "the player's");
    testsupport::writeFile(installDir / "plugins" / "my-mod.dll", "the player's");
    fs::create_directories(installDir / "saves");

    // The next release drops all three; one of them is open in another program.
    for (const auto& [path, content] : dropped) fs::remove(dir / "client" / fs::u8path(path));
    testsupport::publishClient(server, dir / "client", dir / "out", {});
    base::UniqueFile held(CreateFileW((installDir / "data" / "held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"Verification failed: could not delete data/held.txt, a file this release no "
                      L"longer has (in use by another program)");
    EXPECT_FALSE(fs::exists(installDir / "plugins" / "old"));
    EXPECT_FALSE(fs::exists(installDir / "data" / "gone.txt"));
    EXPECT_NE(readFile(installDir / "pcupd.files").find("data/held.txt\n"), std::string::npos);
    EXPECT_EQ(readFile(installDir / "pcupd.files").find("gone.txt"), std::string::npos);

    held.reset();
    EXPECT_EQ(work(), L"");
    expectInstalled();
    EXPECT_FALSE(fs::exists(installDir / "data" / "held.txt"));
    EXPECT_EQ(readFile(installDir / "data" / "mine.txt"), "the player's");
    EXPECT_EQ(readFile(installDir / "plugins" / "my-mod.dll"), "the player's");
    EXPECT_TRUE(fs::is_directory(installDir / "saves"));
    std::vector<std::string> recorded;
    ASSERT_TRUE(readInstallRecord(installDir.wstring(), recorded));
    EXPECT_EQ(recorded.size(), kClient.size());
    const int64_t removed = sink.state().outcome.obsoleteRemoved;
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(obsoleteFilesLine(removed), L"1 file that this release no longer has was removed.");
    EXPECT_EQ(obsoleteFilesLine(3), L"3 files that this release no longer has were removed.");
}

TEST_F(WorkerTest, ANewRunStartsClean) {
    EXPECT_NE(work("/missing.json"), L"");
    EXPECT_EQ(work(), L"");  // TRY AGAIN
    EXPECT_TRUE(sink.state().outcome.succeeded);
    EXPECT_EQ(lastPhase().phase, Phase::kInstalled);
}

TEST(ClientProcess, StopsOnlyTheClientInsideTheFolder) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path fake = fs::path(self).parent_path() / "fake_engine.exe";
    ASSERT_TRUE(fs::exists(fake));

    testsupport::TempDir dir;
    const fs::path inside = dir / "OrvaneOnline" / "Engine.exe", outside = dir / "Other" / "Engine.exe";
    for (const fs::path& copy : {inside, outside}) {
        fs::create_directories(copy.parent_path());
        fs::copy_file(fake, copy);
    }
    const auto start = [](const fs::path& exe) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
        EXPECT_TRUE(CreateProcessW(exe.wstring().c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                   CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info));
        CloseHandle(info.hThread);
        return base::UniqueHandle(info.hProcess);
    };
    base::UniqueHandle ours = start(inside), theirs = start(outside);

    EXPECT_EQ(stopRunningClient((dir / "OrvaneOnline").wstring(), 300), 1);
    EXPECT_EQ(WaitForSingleObject(ours.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(theirs.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // The client's file can now be replaced.
    EXPECT_TRUE(DeleteFileW(inside.wstring().c_str()));
    TerminateProcess(theirs.get(), 0);
    WaitForSingleObject(theirs.get(), 5000);
}

TEST(Shortcut, PointsAtTheClientInTheFolder) {
    testsupport::TempDir dir;
    std::string error;
    ASSERT_TRUE(createShortcut(dir.str(), L"C:\\Games\\OrvaneOnline", error)) << error;
    const auto [target, folder] = readShortcut((dir / kShortcutName).wstring());
    EXPECT_EQ(target, L"C:\\Games\\OrvaneOnline\\Engine.exe");
    EXPECT_EQ(folder, L"C:\\Games\\OrvaneOnline");

    EXPECT_FALSE(createShortcut((dir / "no" / "such" / "folder").wstring(), L"C:\\Games\\X", error));
    EXPECT_EQ(error, "could not write the shortcut");
}

TEST_F(WorkerTest, SignedManifestInstallsAndBothPathsRefuse) {
    testsupport::ManifestSigner signer;
    job.engine.manifestKeys = {signer.publicKey()};
    struct Reset {
        std::string key;
        ~Reset() {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, pcupd::kUserMemoryKey,
                               pcupd::userSequenceName(key).c_str());
        }
    } reset{signer.publicKey()};
    const fs::path manifestFile = dir / "out" / "pc" / "manifest.json";
    const fs::path signatureFile = dir / "out" / "pc" / "manifest.json.sig";
    const std::string plain = readFile(manifestFile);
    const auto publishSigned = [&](int sequence) {
        const std::string body = "{\"sequence\":" + std::to_string(sequence) +
                                 ",\"expires\":\"2099-01-01T00:00:00Z\"," +
                                 plain.substr(plain.find('{') + 1);
        testsupport::writeFile(manifestFile, body);
        testsupport::writeFile(signatureFile, signer.sign(body));
    };

    publishSigned(2);
    EXPECT_EQ(work(), L"");
    expectInstalled();
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{"/pc/manifest.json.sig", "/pc/manifest.json", archiveTarget()}));

    // A rollback refused on the repair path, a missing signature on the install path: nothing
    // fetched beyond the signatures, the manifests and (the folder keeping release 2's
    // manifest) the patch from it, which this host lacks.
    const size_t before = server.requests().size();
    publishSigned(1);
    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"Could not read the update manifest: manifest is older than the installed client");
    // A folder of its own is no way round it: this user has installed release 2.
    prepare((dir / "Elsewhere").wstring(), false);
    EXPECT_EQ(work(), L"Could not read the update manifest: manifest is older than a release "
                      L"already installed on this computer");
    fs::remove(signatureFile);
    prepare(installDir.wstring(), false);
    EXPECT_EQ(work(), L"Could not read the update manifest: manifest signature missing");
    std::vector<std::string> requests = server.requests();
    requests.erase(requests.begin(), requests.begin() + static_cast<long>(before));
    for (const std::string& target : requests)
        EXPECT_TRUE(target.rfind("/pc/manifest.json", 0) == 0 || target.rfind("/pc/patches/", 0) == 0)
            << target;
    EXPECT_EQ(requests.size(), 3u + 2u + 2u);

    // Fetched ahead, while the window showed its splash, it is judged all the same.
    publishSigned(1);
    prepare((dir / "Third").wstring(), false);
    job.prefetch = pcupd::ManifestPrefetch::start(server.url("/pc/manifest.json"), job.engine.manifestKeys, {}, {}, {});
    EXPECT_EQ(work(), L"Could not read the update manifest: manifest is older than a release "
                      L"already installed on this computer");
}

// The manifest the window fetched during its splash serves the first run, so the server
// sees one request for it. Over an installed client the fetch ahead starts from the copy the
// folder kept, so an unchanged release costs a 304. A fetch ahead that failed leaves the run
// to fetch and report for itself.
TEST_F(WorkerTest, AManifestFetchedAheadServesOneRunAndIsNeverFetchedTwice) {
    testsupport::Response manifest;
    manifest.body = readFile(dir / "out" / "pc" / "manifest.json");
    manifest.etag = "\"r1\"";
    server.route("/pc/manifest.json", manifest);
    bool arrived = false;
    job.prefetch = pcupd::ManifestPrefetch::start(server.url("/pc/manifest.json"), job.engine.manifestKeys, {}, {},
                                                  [&] { arrived = true; });
    EXPECT_EQ(work(), L"");
    EXPECT_TRUE(arrived);
    expectInstalled();
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/pc/manifest.json", archiveTarget()}));
    EXPECT_EQ(job.prefetch->clientBytes(), 400000u + 900000 + 5);
    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"");  // the fetch ahead was taken: this one is the run's own
    EXPECT_EQ(server.requestCount("/pc/manifest.json"), 2);
    job.prefetch = pcupd::ManifestPrefetch::start(server.url("/pc/manifest.json"), job.engine.manifestKeys,
                                                  installDir.wstring(), {}, {});
    EXPECT_EQ(work(), L"");
    EXPECT_EQ(server.requestCount("/pc/manifest.json"), 3);
    EXPECT_NE(server.requestHeads().back().find("If-None-Match: \"r1\""), std::string::npos);
    EXPECT_EQ(job.prefetch->clientBytes(), 400000u + 900000 + 5);

    testsupport::Response gone;
    gone.status = 404;
    server.route("/gone.json", gone);
    job.prefetch = pcupd::ManifestPrefetch::start(server.url("/gone.json"), job.engine.manifestKeys, {}, {}, {});
    prepare((dir / "Other").wstring(), false);
    EXPECT_EQ(work("/gone.json").rfind(L"Could not read the update manifest: ", 0), 0u);
    EXPECT_EQ(job.prefetch->clientBytes(), std::nullopt);
    EXPECT_EQ(server.requestCount("/gone.json"), 2);
}
