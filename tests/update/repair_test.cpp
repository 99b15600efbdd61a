#include "tests/update/update_fixture.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "update/repair.h"

namespace fs = std::filesystem;
using Repair = UpdateFixture;

namespace {

testsupport::Response cutShort(const std::string& content) {
    testsupport::Response response;
    response.body = content;
    response.cutAfter = static_cast<int64_t>(content.size() / 2);
    return response;
}

testsupport::Response serving(const std::string& content) {
    testsupport::Response response;
    response.body = content;
    return response;
}

// Every ".part" file left anywhere under `root`.
std::vector<fs::path> partFiles(const fs::path& root) {
    std::vector<fs::path> found;
    if (!fs::exists(root)) return found;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.path().extension() == ".part") found.push_back(item.path());
    return found;
}

std::string fileName(int i) {
    char name[16];
    std::snprintf(name, sizeof(name), "f%02d.bin", i);
    return name;
}

// A body that takes seconds to arrive, in 64 KiB steps (the slices a download reads).
testsupport::Response trickling(const std::string& content) {
    testsupport::Response response = serving(content);
    response.pieceSize = 16384;
    response.pauseMs = 25;
    return response;
}

}  // namespace

TEST_F(Repair, FreshFolderGetsEveryFileWithItsFolders) {
    publish({{"a/b/c/deep.bin", {std::string(600000, 'd')}}, {"top.txt", {"top"}}});
    const Run r = run();
    ASSERT_TRUE(r.result.ok) << r.result.error.text;
    EXPECT_EQ(installed("a/b/c/deep.bin"), std::string(600000, 'd'));
    EXPECT_EQ(installed("top.txt"), "top");
    EXPECT_TRUE(partFiles(installDir).empty());
    // A 600000-byte download reports its progress in between, counted over both files.
    bool midway = false;
    for (const pcupd::Progress& p : r.reports)
        midway |= p.stage == pcupd::UpdateStage::kDownloading && p.bytesDone >= 524288 && p.bytesDone < 600003;
    EXPECT_TRUE(midway);
}

TEST_F(Repair, LockedTargetKeepsItsOldContent) {
    publish({{"Engine.exe", {"new engine"}}});
    testsupport::writeFile(installDir / "Engine.exe", "old engine");
    const std::wstring target = (installDir / "Engine.exe").wstring();
    base::UniqueFile running(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(running);
    const Run r = run();
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.error.text, "could not replace engine.exe (file in use?)");  // the manifest's path
    running.reset();
    EXPECT_EQ(installed("Engine.exe"), "old engine");
    EXPECT_TRUE(partFiles(installDir).empty());

    // Held for a moment only, as a scanner or the shell reading its icon would: replaced.
    running.reset(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(running);
    std::thread scanner([&running] {
        Sleep(300);
        running.reset();
    });
    const Run again = run();
    scanner.join();
    EXPECT_TRUE(again.result.ok) << again.result.error.text;
    EXPECT_EQ(installed("Engine.exe"), "new engine");
}

TEST_F(Repair, WrongDigestLeavesTheOldFileAfterOneRetry) {
    publish({{"data/x.pak", {"served bytes", std::string(64, 'a')}}});
    testsupport::writeFile(installDir / "data" / "x.pak", "old bytes");
    const Run r = run();
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.error.text, "hash mismatch for data/x.pak");
    EXPECT_EQ(installed("data/x.pak"), "old bytes");
    EXPECT_TRUE(partFiles(installDir).empty());
    EXPECT_EQ(server.requestCount("/files/data/x.pak"), 2);
}

TEST_F(Repair, TransientFailuresAreRetriedTwice) {
    const std::string content(200000, 'r');
    publish({{"a.bin", {content}}, {"b.bin", {content}}, {"c.bin", {"c"}}});
    server.route("/files/a.bin", std::vector<testsupport::Response>{cutShort(content), serving(content)});
    Run r = run();
    ASSERT_TRUE(r.result.ok) << r.result.error.text;
    EXPECT_EQ(server.requestCount("/files/a.bin"), 2);
    EXPECT_TRUE(installed("a.bin") == content);
    // The retry did not count its bytes twice.
    EXPECT_EQ(r.reports.back().bytesDone, static_cast<int64_t>(2 * content.size() + 1));

    fs::remove(installDir / "b.bin");
    server.route("/files/b.bin", cutShort(content));
    r = run();
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.error.text, "download read failed");
    EXPECT_EQ(server.requestCount("/files/b.bin"), 1 + 3);  // one in the first run
    EXPECT_FALSE(exists("b.bin"));
    EXPECT_TRUE(partFiles(installDir).empty());

    // A missing file on the server is no transient failure.
    fs::remove(installDir / "c.bin");
    testsupport::Response gone;
    gone.status = 404;
    server.route("/files/c.bin", gone);
    server.route("/files/b.bin", serving(content));
    r = run();
    EXPECT_EQ(r.result.error.text, "HTTP status 404 for " + server.url("/files/c.bin"));
    EXPECT_EQ(r.result.error.httpStatus, 404u);
    EXPECT_EQ(server.requestCount("/files/c.bin"), 1 + 1);

    // A server error is: the file comes with the next try.
    testsupport::Response busy;
    busy.status = 503;
    // (The n-th request of a path gets the n-th response: two came before.)
    server.route("/files/c.bin", std::vector<testsupport::Response>{busy, busy, busy, serving("c")});
    r = run();
    ASSERT_TRUE(r.result.ok) << r.result.error.text;
    EXPECT_EQ(server.requestCount("/files/c.bin"), 2 + 2);
    EXPECT_EQ(installed("c.bin"), "c");
}

TEST_F(Repair, UnsafeManifestPathFailsAndTouchesNothing) {
    const std::string unique = "orvane-escape-" + std::to_string(GetCurrentProcessId());
    for (const std::string& path : std::vector<std::string>{"../" + unique, "..\\" + unique,
                                                            "C:/" + unique, "nul.txt", "a/CON", "x:stream"}) {
        publish({{"fine.txt", {"fine"}}, {path, {"payload"}}});
        const Run r = run();
        EXPECT_FALSE(r.result.ok) << path;
        EXPECT_EQ(r.result.error.text, "unsafe path in manifest: " + pcupd::toLowerAscii(path)) << path;
        EXPECT_EQ(server.requestCount("/files/" + path), 0) << path;
    }
    EXPECT_FALSE(fs::exists(dir / unique));
    EXPECT_FALSE(fs::exists(fs::path("C:/") / unique));
    for (const auto& item : fs::directory_iterator(dir.path())) EXPECT_EQ(item.path(), installDir);
}

TEST_F(Repair, RunningProgramMovesAsideForItsNewRelease) {
    publish({{"OrvaneSetup.exe", {"new setup"}}, {"other.txt", {"other"}}});
    testsupport::writeFile(installDir / "OrvaneSetup.exe", "running setup");
    // Compared as full paths, whatever the letter case.
    const std::wstring self = (installDir / "orvanesetup.EXE").wstring();
    {
        // As a running program's file is held: it may be renamed, not written over.
        const std::wstring held = (installDir / "OrvaneSetup.exe").wstring();
        base::UniqueFile running(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(running);
        const Run r = run(true, self);
        ASSERT_TRUE(r.result.ok) << r.result.error.text;
        EXPECT_TRUE(r.result.selfReplaced);
        EXPECT_EQ(installed("OrvaneSetup.exe"), "new setup");
        EXPECT_EQ(installed("OrvaneSetup.exe.old"), "running setup");
        EXPECT_EQ(installed("other.txt"), "other");
    }
    // The next start runs the new release, which finds nothing to do and the old file gone.
    const Run next = run(true, self);
    EXPECT_TRUE(next.result.upToDate) << next.result.error.text;
    EXPECT_FALSE(next.result.selfReplaced);
    EXPECT_FALSE(exists("OrvaneSetup.exe.old"));
}

TEST_F(Repair, ClearsOnlyWhatThisProgramLeftBehind) {
    publish({{"Engine.exe", {"engine"}}, {"config.ini", {"cfg"}}, {"config.ini.old", {"published"}},
             {"OrvaneSetup.exe", {"setup"}}, {"data/a.pak", {"a"}}});
    installLocally({{"Engine.exe", {"engine"}}, {"config.ini", {"cfg"}}, {"config.ini.old", {"published"}},
                    {"OrvaneSetup.exe", {"setup"}}, {"data/a.pak", {"a"}}});
    for (const char* name : {"data/a.pak.part", "Config.INI.Part", "Engine.exe.part", "OrvaneSetup.exe.new",
                             "OrvaneSetup.exe.old", "settings.ini.old", "settings.ini",
                             "Engine.exe.new", "notes.part", "pcupd.sequence.tmp"})
        testsupport::writeFile(installDir / name, "left");
    Run r = run(true, (installDir / "OrvaneSetup.exe").wstring());
    ASSERT_TRUE(r.result.upToDate) << r.result.error.text;
    // A killed repair's downloads and the running program's old file go; the
    // player's and the game's own files stay, and so does every file the manifest lists.
    for (const char* gone : {"data/a.pak.part", "Config.INI.Part", "Engine.exe.part", "OrvaneSetup.exe.old",
                             "pcupd.sequence.tmp"})
        EXPECT_FALSE(exists(gone)) << gone;
    for (const char* kept : {"settings.ini.old", "settings.ini", "Engine.exe.new", "OrvaneSetup.exe.new",
                             "notes.part", "config.ini.old"})
        EXPECT_TRUE(exists(kept)) << kept;
    r = run();
    EXPECT_TRUE(r.result.upToDate);
    EXPECT_EQ(fileRequests(), 0);
}

TEST_F(Repair, NamesWhatStandsInTheWay) {
    publish({{"data/maps/forest.pak", {"forest"}}, {"data/sound", {"sound"}}});
    testsupport::writeFile(installDir / "data" / "maps", "a file where a folder belongs");
    fs::create_directories(installDir / "data" / "sound" / "bank");
    Run r = run();
    EXPECT_EQ(r.result.error.text, "cannot write data/maps/forest.pak: the file data/maps is in the way");
    fs::remove(installDir / "data" / "maps");
    r = run();
    EXPECT_EQ(r.result.error.text, "cannot write data/sound: a folder of that name is in the way");
    EXPECT_EQ(installed("data/maps/forest.pak"), "forest");
    EXPECT_TRUE(partFiles(installDir).empty());
}

TEST_F(Repair, DownloadLargerThanPromisedStopsAtOnce) {
    publish({{"a.bin", {std::string(1000, 'a')}}});
    // Small enough to sit in the socket buffers whole: the client stops reading, and a
    // server thread blocked on a full buffer would hold up the test's end.
    testsupport::Response longer = serving(std::string(100000, 'a'));
    for (const auto framing : {testsupport::Response::Framing::ContentLength,
                               testsupport::Response::Framing::CloseDelimited}) {
        longer.framing = framing;
        server.route("/files/a.bin", longer);
        const int before = server.requestCount("/files/a.bin");
        const Run r = run();
        EXPECT_EQ(r.result.error.text, "download larger than expected");
        EXPECT_EQ(server.requestCount("/files/a.bin"), before + 1);  // no retry
        EXPECT_FALSE(exists("a.bin"));
        EXPECT_TRUE(partFiles(installDir).empty());
        // Nothing past the promised size was counted either.
        for (const pcupd::Progress& p : r.reports) EXPECT_LE(p.bytesDone, 1000);
    }
}

// Files download at once, yet every byte is counted once (a cut download retried included),
// the file count goes up one by one, and each report reaches the calling thread alone.
TEST_F(Repair, ManyAtOnceCountBytesOnceAndFilesOneByOne) {
    std::map<std::string, ClientFile> client;
    int64_t total = 0;
    for (int i = 0; i < 24; ++i) {
        const std::string content(i % 8 == 0 ? 600000 : 4096 + 997 * i, static_cast<char>('a' + i));
        client.emplace(fileName(i), ClientFile(content));
        total += static_cast<int64_t>(content.size());
    }
    publish(client);
    const std::string& cut = client.at(fileName(7)).content;
    server.route("/files/" + fileName(7), std::vector<testsupport::Response>{cutShort(cut), serving(cut)});

    const DWORD caller = GetCurrentThreadId();
    bool elsewhere = false;
    std::vector<pcupd::Progress> reports;
    pcupd::Manifest manifest;
    const pcupd::UpdateResult result = pcupd::runUpdate(
        server.url("/pc/manifest.json"), installDir.wstring(), options, manifest,
        [&](const pcupd::Progress& p) {
            elsewhere |= GetCurrentThreadId() != caller;
            reports.push_back(p);
        });
    ASSERT_TRUE(result.ok) << result.error.text;
    EXPECT_FALSE(elsewhere);
    int32_t filesDone = 0;
    int64_t bytesDone = 0;
    for (const pcupd::Progress& p : reports) {
        filesDone += p.stage == pcupd::UpdateStage::kUpdated;
        EXPECT_GE(p.bytesDone, bytesDone);  // the bar never goes back
        EXPECT_LE(p.bytesDone, total);
        bytesDone = p.bytesDone;
    }
    EXPECT_EQ(filesDone, 24);
    EXPECT_EQ(reports.back().bytesTotal, total);
    EXPECT_EQ(reports.back().bytesDone, total);
    for (const auto& [path, file] : client) EXPECT_TRUE(installed(path) == file.content) << path;
}

// f10 fails late (slow, wrong digest), f20 fails at once (404): f10's failure is the one
// reported, and no file past f20 is written, nor left half-written.
TEST_F(Repair, FirstFailureInManifestOrderIsReported) {
    std::map<std::string, ClientFile> client, old;
    for (int i = 0; i < 30; ++i) {
        const size_t size = i == 10 ? 1 << 18 : i > 20 && i < 24 ? 1 << 21 : 5000 + 100 * i;
        const std::string content(size, static_cast<char>('A' + i));
        client.emplace(fileName(i), ClientFile(content, i == 10 ? std::string(64, '0') : ""));
        old.emplace(fileName(i), ClientFile("old " + fileName(i)));
    }
    publish(client);
    installLocally(old);
    for (const int i : {10, 21, 22, 23})
        server.route("/files/" + fileName(i), trickling(client.at(fileName(i)).content));
    testsupport::Response gone;
    gone.status = 404;
    server.route("/files/" + fileName(20), gone);

    const Run r = run();
    EXPECT_EQ(r.result.error.text, "hash mismatch for " + fileName(10));
    EXPECT_EQ(server.requestCount("/files/" + fileName(20)), 1);  // it did fail first
    EXPECT_TRUE(partFiles(installDir).empty());
    for (int i = 0; i < 30; ++i) {
        const std::string now = installed(fileName(i));
        if (i >= 20) {
            EXPECT_EQ(now, old.at(fileName(i)).content) << i;
        } else if (i != 10) {
            EXPECT_TRUE(now == old.at(fileName(i)).content || now == client.at(fileName(i)).content) << i;
        }
    }
    for (int i = 24; i < 30; ++i) EXPECT_EQ(server.requestCount("/files/" + fileName(i)), 0) << i;
}

// A download under way when an earlier file fails stops: it neither lands nor leaves a .part.
TEST_F(Repair, DownloadsAfterAFailureStopCleanly) {
    options.downloads = 2;
    const std::string slow(1 << 22, 's');
    publish({{"a.bin", {"a"}}, {"b.bin", {std::string(20000, 'b')}}, {"c.bin", {slow}}, {"d.bin", {"d"}}});
    installLocally({{"c.bin", {"old c"}}});
    server.route("/files/b.bin", cutShort(std::string(20000, 'b')));  // fails after its retries
    server.route("/files/c.bin", trickling(slow));                      // would take 6 s

    const auto start = std::chrono::steady_clock::now();
    const Run r = run();
    EXPECT_EQ(r.result.error.text, "download read failed");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(server.requestCount("/files/c.bin"), 1);
    EXPECT_EQ(installed("c.bin"), "old c");
    EXPECT_EQ(server.requestCount("/files/d.bin"), 0);
    EXPECT_TRUE(partFiles(installDir).empty());
}
