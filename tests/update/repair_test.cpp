#include "tests/update/update_fixture.h"

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

}  // namespace

TEST_F(Repair, FreshFolderGetsEveryFileWithItsFolders) {
    publish({{"a/b/c/deep.bin", {std::string(600000, 'd')}}, {"top.txt", {"top"}}});
    const Run r = run();
    ASSERT_TRUE(r.result.ok) << r.result.error;
    EXPECT_EQ(installed("a/b/c/deep.bin"), std::string(600000, 'd'));
    EXPECT_EQ(installed("top.txt"), "top");
    EXPECT_TRUE(partFiles(installDir).empty());
    // A 600000-byte download reports its progress in between, counted over both files.
    bool midway = false;
    for (const pcupd::Progress& p : r.reports)
        midway |= p.phase == 2 && p.bytesDone >= 524288 && p.bytesDone < 600003;
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
    EXPECT_EQ(r.result.error, "could not replace engine.exe (file in use?)");  // the manifest's path
    running.reset();
    EXPECT_EQ(installed("Engine.exe"), "old engine");
    EXPECT_TRUE(partFiles(installDir).empty());
}

TEST_F(Repair, WrongDigestLeavesTheOldFileAfterOneRetry) {
    publish({{"data/x.pak", {"served bytes", std::string(64, 'a')}}});
    testsupport::writeFile(installDir / "data" / "x.pak", "old bytes");
    const Run r = run();
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.error, "hash mismatch for data/x.pak");
    EXPECT_EQ(installed("data/x.pak"), "old bytes");
    EXPECT_TRUE(partFiles(installDir).empty());
    EXPECT_EQ(server.requestCount("/files/data/x.pak"), 2);
}

TEST_F(Repair, TransientFailuresAreRetriedTwice) {
    const std::string content(200000, 'r');
    publish({{"a.bin", {content}}, {"b.bin", {content}}, {"c.bin", {"c"}}});
    server.route("/files/a.bin", std::vector<testsupport::Response>{cutShort(content), serving(content)});
    Run r = run();
    ASSERT_TRUE(r.result.ok) << r.result.error;
    EXPECT_EQ(server.requestCount("/files/a.bin"), 2);
    EXPECT_TRUE(installed("a.bin") == content);
    // The retry did not count its bytes twice.
    EXPECT_EQ(r.reports.back().bytesDone, static_cast<int64_t>(2 * content.size() + 1));

    fs::remove(installDir / "b.bin");
    server.route("/files/b.bin", cutShort(content));
    r = run();
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.error, "download read failed");
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
    EXPECT_EQ(r.result.error, "HTTP status 404 for " + server.url("/files/c.bin"));
    EXPECT_EQ(server.requestCount("/files/c.bin"), 1 + 1);
}

TEST_F(Repair, UnsafeManifestPathFailsAndTouchesNothing) {
    const std::string unique = "orvane-escape-" + std::to_string(GetCurrentProcessId());
    for (const std::string& path : std::vector<std::string>{"../" + unique, "..\\" + unique,
                                                            "C:/" + unique, "nul.txt", "a/CON", "x:stream"}) {
        publish({{"fine.txt", {"fine"}}, {path, {"payload"}}});
        const Run r = run();
        EXPECT_FALSE(r.result.ok) << path;
        EXPECT_EQ(r.result.error, "unsafe path in manifest: " + pcupd::toLowerAscii(path)) << path;
        EXPECT_EQ(server.requestCount("/files/" + path), 0) << path;
    }
    EXPECT_FALSE(fs::exists(dir / unique));
    EXPECT_FALSE(fs::exists(fs::path("C:/") / unique));
    for (const auto& item : fs::directory_iterator(dir.path())) EXPECT_EQ(item.path(), installDir);
}

TEST_F(Repair, OwnProgramIsStagedBesideItself) {
    publish({{"OrvaneSetup.exe", {"new setup"}}, {"other.txt", {"other"}}});
    testsupport::writeFile(installDir / "OrvaneSetup.exe", "running setup");
    // Compared as full paths, whatever the letter case.
    const std::wstring self = (installDir / "orvanesetup.EXE").wstring();
    const Run r = run(true, self);
    ASSERT_TRUE(r.result.ok) << r.result.error;
    EXPECT_TRUE(r.result.selfUpdateStaged);
    EXPECT_EQ(installed("OrvaneSetup.exe"), "running setup");
    EXPECT_EQ(installed("OrvaneSetup.exe.new"), "new setup");
    EXPECT_EQ(installed("other.txt"), "other");
}

TEST_F(Repair, ClearsOnlyWhatThisProgramLeftBehind) {
    publish({{"Engine.exe", {"engine"}}, {"config.ini", {"cfg"}}, {"config.ini.old", {"published"}},
             {"OrvaneSetup.exe", {"setup"}}, {"data/a.pak", {"a"}}});
    installLocally({{"Engine.exe", {"engine"}}, {"config.ini", {"cfg"}}, {"config.ini.old", {"published"}},
                    {"OrvaneSetup.exe", {"setup"}}, {"data/a.pak", {"a"}}});
    for (const char* name : {"data/a.pak.part", "Engine.exe.part", "OrvaneSetup.exe.new",
                             "OrvaneSetup.exe.old", "settings.ini.old", "settings.ini",
                             "Engine.exe.new", "notes.part"})
        testsupport::writeFile(installDir / name, "left");
    Run r = run(true, (installDir / "OrvaneSetup.exe").wstring());
    ASSERT_TRUE(r.result.upToDate) << r.result.error;
    // A killed repair's downloads and the staged copies of the running program go; the
    // player's and the game's own files stay, and so does every file the manifest lists.
    for (const char* gone : {"data/a.pak.part", "Engine.exe.part", "OrvaneSetup.exe.new", "OrvaneSetup.exe.old"})
        EXPECT_FALSE(exists(gone)) << gone;
    for (const char* kept : {"settings.ini.old", "settings.ini", "Engine.exe.new", "notes.part", "config.ini.old"})
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
    EXPECT_EQ(r.result.error, "cannot write data/maps/forest.pak: the file data/maps is in the way");
    fs::remove(installDir / "data" / "maps");
    r = run();
    EXPECT_EQ(r.result.error, "cannot write data/sound: a folder of that name is in the way");
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
        EXPECT_EQ(r.result.error, "download larger than expected");
        EXPECT_EQ(server.requestCount("/files/a.bin"), before + 1);  // no retry
        EXPECT_FALSE(exists("a.bin"));
        EXPECT_TRUE(partFiles(installDir).empty());
        // Nothing past the promised size was counted either.
        for (const pcupd::Progress& p : r.reports) EXPECT_LE(p.bytesDone, 1000);
    }
}
