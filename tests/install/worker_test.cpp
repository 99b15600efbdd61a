#include "install/worker.h"

#include <objbase.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "install/client_process.h"
#include "install/install_state.h"
#include "install/shortcut.h"
#include "tests/install/published_client.h"
#include "tests/support/archive_builder.h"
#include "update/sha256.h"

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

const std::vector<std::pair<std::string, std::string>> kClient = {
    {"Engine.exe", std::string(400000, 'E')},
    {"data/maps/forest.pak", std::string(900000, 'F')},
    {"data/readme.txt", "hello"},
};

struct Messages {
    int finished = 0;
    UINT last = 0;
};

// What the worker posted to this thread's queue (the main window is null in tests).
Messages drainMessages() {
    Messages seen;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == kMsgFinished) ++seen.finished;
        seen.last = message.message;
    }
    return seen;
}

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
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // give this thread a queue
        drainMessages();
        testsupport::publishClient(server, dir / "client", dir / "out", kClient);
        shortcut = fs::path(desktopFolder()) / kShortcutName;
        fs::remove(shortcut);
        prepare(installDir.wstring(), false);
    }
    void TearDown() override { fs::remove(shortcut); }

    void prepare(const std::wstring& folder, bool repair) {
        InstallState& state = installState();
        std::lock_guard<std::mutex> hold(state.lock);
        state.mainWindow = nullptr;
        state.installDir = folder;
        state.repairMode = repair;
    }

    // Runs the worker; returns its final error and checks the messages' contract.
    std::wstring work(const std::string& manifestPath = "/pc/manifest.json") {
        runInstallWorker(server.url(manifestPath));
        const Messages messages = drainMessages();
        EXPECT_EQ(messages.finished, 1);
        EXPECT_EQ(messages.last, kMsgFinished);
        InstallState& state = installState();
        EXPECT_FALSE(state.running);
        EXPECT_TRUE(state.finished);
        EXPECT_FALSE(state.busy);
        std::lock_guard<std::mutex> hold(state.lock);
        return state.finalError;
    }

    void expectInstalled() const {
        for (const auto& [path, content] : kClient)
            EXPECT_TRUE(readFile(installDir / fs::u8path(path)) == content) << path;
    }

    testsupport::TempDir dir;
    fs::path installDir = dir / "OrvaneOnline";
    testsupport::LoopbackServer server;
    fs::path shortcut;
};

}  // namespace

TEST_F(WorkerTest, FreshInstall) {
    EXPECT_EQ(work(), L"");
    expectInstalled();
    {
        InstallState& state = installState();
        std::lock_guard<std::mutex> hold(state.lock);
        EXPECT_EQ(state.status, L"Installation complete");
        EXPECT_EQ(state.detail, installDir.wstring());
        EXPECT_DOUBLE_EQ(state.progress, 1.0);
    }
    const auto [target, folder] = readShortcut(shortcut.wstring());
    EXPECT_EQ(fs::path(target), installDir / "Engine.exe");
    EXPECT_EQ(fs::path(folder), installDir);
    // The stream hashed every file; only the manifest (twice) and the archive were fetched.
    for (const std::string& target : server.requests())
        EXPECT_TRUE(target == "/pc/manifest.json" || target == "/pc/client.orvpak") << target;
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
    EXPECT_EQ(requests, (std::vector<std::string>{"/pc/manifest.json", "/pc/files/data/maps/forest.pak",
                                                  "/pc/files/data/readme.txt"}));
    InstallState& state = installState();
    std::lock_guard<std::mutex> hold(state.lock);
    EXPECT_EQ(state.status, L"Repair complete");
    EXPECT_EQ(state.detail, installDir.wstring());
}

TEST_F(WorkerTest, EachFailureReachesTheWindowAsOneFinalError) {
    prepare(L"", false);
    EXPECT_EQ(work(), L"No install location was selected.");

    prepare(installDir.wstring(), false);
    const std::string missing = server.url("/missing.json");
    EXPECT_EQ(work("/missing.json"), L"Could not read the update manifest: HTTP status 404 for " +
                                         std::wstring(missing.begin(), missing.end()));

    // An archive whose data does not match its digest.
    std::string archive = readFile(dir / "out" / "pc" / "client.orvpak");
    archive[archive.size() - 1] ^= 0x01;
    testsupport::Response damaged;
    damaged.body = archive;
    server.route("/pc/client.orvpak", damaged);
    EXPECT_EQ(work(), L"Install failed: checksum mismatch for data/readme.txt");

    // A file the update host cannot deliver during verification.
    fs::remove(installDir / "data" / "maps" / "forest.pak");
    testsupport::Response gone;
    gone.status = 404;
    server.route("/pc/files/data/maps/forest.pak", gone);
    prepare(installDir.wstring(), true);
    EXPECT_EQ(work(), L"Verification failed: HTTP status 404 for " +
                          std::wstring(L"http://127.0.0.1:") + std::to_wstring(server.port()) +
                          L"/pc/files/data/maps/forest.pak");
}

TEST_F(WorkerTest, NotEnoughDiskSpaceFailsBeforeDownloading) {
    testsupport::Response manifest;
    manifest.body = "{\"fullArchive\":{\"url\":\"" + server.url("/pc/client.orvpak") +
                    "\",\"size\":4000000000000000000},\"files\":[]}";
    server.route("/huge.json", manifest);
    const std::wstring error = work("/huge.json");
    EXPECT_EQ(error.rfind(L"Install failed: not enough disk space (4000000000.00 GB needed, ", 0), 0u) << error;
    EXPECT_EQ(server.requestCount("/pc/client.orvpak"), 0);
}

TEST_F(WorkerTest, ANewRunStartsClean) {
    EXPECT_NE(work("/missing.json"), L"");
    EXPECT_EQ(work(), L"");  // TRY AGAIN
    InstallState& state = installState();
    std::lock_guard<std::mutex> hold(state.lock);
    EXPECT_EQ(state.finalError, L"");
    EXPECT_EQ(state.status, L"Installation complete");
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

TEST(ClientProcess, RemovesOnlyStagedCopiesBesideTheirFiles) {
    testsupport::TempDir dir;
    for (const char* name : {"Engine.exe", "Engine.exe.new", "OrvaneSetup.exe", "OrvaneSetup.exe.OLD",
                             "data/a.pak", "data/a.pak.new", "notes.old", "data/b.new"})
        testsupport::writeFile(dir / name, "x");
    EXPECT_EQ(removeStagedLeftovers(dir.str()), 3);
    for (const char* gone : {"Engine.exe.new", "OrvaneSetup.exe.OLD", "data/a.pak.new"})
        EXPECT_FALSE(fs::exists(dir / gone)) << gone;
    for (const char* kept : {"Engine.exe", "OrvaneSetup.exe", "data/a.pak", "notes.old", "data/b.new"})
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
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
