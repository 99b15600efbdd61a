#include "tests/update/update_fixture.h"

#include <algorithm>

#include "update/file_scan.h"
#include "update/verify_cache.h"

namespace {

const std::map<std::string, UpdateFixture::ClientFile> kClient = {
    {"Engine.exe", {std::string(300000, 'E')}},
    {"data/maps/forest.pak", {std::string(700000, 'F')}},
    {"data/readme.txt", {"hello"}},
};

uint64_t clientBytes() {
    uint64_t total = 0;
    for (const auto& item : kClient) total += item.second.content.size();
    return total;
}

}  // namespace

using UpdateRun = UpdateFixture;
using VerifyCacheTest = UpdateFixture;

TEST_F(UpdateRun, UnreachableHostReportsOnce) {
    const uint16_t port = [] {
        testsupport::LoopbackServer gone;
        return gone.port();
    }();
    pcupd::Manifest manifest;
    std::vector<pcupd::UpdateStage> phases;
    const pcupd::UpdateResult result = pcupd::runUpdate(
        "http://127.0.0.1:" + std::to_string(port) + "/pc/manifest.json", installDir.wstring(),
        options, manifest, [&](const pcupd::Progress& p) { phases.push_back(p.stage); });
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.upToDate);
    EXPECT_FALSE(result.selfReplaced);
    EXPECT_EQ(result.error.kind, base::FailureKind::kConnection);
    EXPECT_EQ(result.error.text, "WinHttpSendRequest failed (no network?)");
    EXPECT_EQ(phases, std::vector<pcupd::UpdateStage>{pcupd::UpdateStage::kConnecting});

    const Run missing = run(true, L"", "/nothing.json");
    EXPECT_EQ(missing.result.error.text, "HTTP status 404 for " + server.url("/nothing.json"));
    EXPECT_EQ(missing.result.error.httpStatus, 404u);
}

TEST_F(UpdateRun, AllFilesMatch) {
    publish(kClient);
    installLocally(kClient);
    const Run r = run();
    EXPECT_TRUE(r.result.ok);
    EXPECT_TRUE(r.result.upToDate);
    EXPECT_EQ(r.result.error.text, "");
    EXPECT_EQ(phases(r), (std::vector<pcupd::UpdateStage>{pcupd::UpdateStage::kConnecting,
                                                          pcupd::UpdateStage::kChecking,
                                                          pcupd::UpdateStage::kUpToDate}));
    for (const pcupd::Progress& p : r.reports) {
        EXPECT_EQ(p.item, "");
        EXPECT_EQ(p.bytesTotal, 0);
        EXPECT_EQ(p.bytesDone, 0);
    }
    EXPECT_EQ(r.manifest.files.size(), 3u);
    EXPECT_EQ(fileRequests(), 0);

    // An empty callback takes the same steps.
    pcupd::Manifest manifest;
    EXPECT_TRUE(pcupd::runUpdate(server.url("/pc/manifest.json"), installDir.wstring(), options,
                                 manifest, nullptr).upToDate);
}

TEST_F(UpdateRun, ChangedFileGoesThroughRepair) {
    publish(kClient);
    installLocally(kClient);
    testsupport::writeFile(installDir / "data" / "readme.txt", "HELLO");  // same size
    std::filesystem::remove(installDir / "data" / "maps" / "forest.pak");

    const Run r = run();
    ASSERT_TRUE(r.result.ok) << r.result.error.text;
    EXPECT_FALSE(r.result.upToDate);
    EXPECT_EQ(installed("data/readme.txt"), "hello");
    EXPECT_TRUE(installed("data/maps/forest.pak") == kClient.at("data/maps/forest.pak").content);
    // Only the two changed files were downloaded, at the same time.
    std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    std::sort(requests.begin() + 1, requests.end());
    EXPECT_EQ(requests, (std::vector<std::string>{"/pc/manifest.json", "/files/data/maps/forest.pak",
                                                  "/files/data/readme.txt"}));

    using pcupd::UpdateStage;
    const std::vector<UpdateStage> seen = phases(r);
    ASSERT_GE(seen.size(), 7u);
    EXPECT_EQ(std::vector<UpdateStage>(seen.begin(), seen.begin() + 2),
              (std::vector<UpdateStage>{UpdateStage::kConnecting, UpdateStage::kChecking}));
    EXPECT_EQ(seen.back(), UpdateStage::kRepaired);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), UpdateStage::kUpdated), 2);
    const pcupd::Progress& first = r.reports[2];
    EXPECT_EQ(first.stage, UpdateStage::kDownloading);
    EXPECT_TRUE(first.item == "data/maps/forest.pak" || first.item == "data/readme.txt") << first.item;
    EXPECT_EQ(first.bytesTotal, 700005);
    EXPECT_EQ(r.reports.back().bytesDone, 700005);

    // Repaired files went into the cache: the next verification reads nothing.
    const Run again = run();
    EXPECT_TRUE(again.result.upToDate);
    EXPECT_EQ(again.hashed, 0u);
}

TEST_F(VerifyCacheTest, WarmCacheHashesNothingAndDeepVerifyHashesAll) {
    publish(kClient);
    installLocally(kClient);
    EXPECT_EQ(run().hashed, clientBytes());  // cold: every file read once
    EXPECT_EQ(run().hashed, 0u);             // warm
    const Run deep = run(false);
    EXPECT_TRUE(deep.result.upToDate);
    EXPECT_EQ(deep.hashed, clientBytes());
}

TEST_F(VerifyCacheTest, ChangesAreFoundWithoutRereadingEverything) {
    publish(kClient);
    installLocally(kClient);
    run();
    // Same size, new time: read again, found changed, repaired.
    testsupport::writeFile(installDir / "data" / "readme.txt", "HELLO");
    age("data/readme.txt", 60);
    Run r = run();
    EXPECT_EQ(r.hashed, 5u);
    EXPECT_EQ(installed("data/readme.txt"), "hello");

    // Another size than the manifest's: changed without being read at all.
    testsupport::writeFile(installDir / "Engine.exe", "short");
    r = run();
    EXPECT_EQ(r.hashed, 0u);
    EXPECT_EQ(fileRequests(), 2);
    EXPECT_TRUE(installed("Engine.exe") == kClient.at("Engine.exe").content);
}

TEST_F(VerifyCacheTest, FileChangedTooCloseToTheSaveIsReadAgain) {
    publish(kClient);
    installLocally(kClient);
    // Written just before the verification saves its cache: its time says nothing yet.
    testsupport::writeFile(installDir / "data" / "readme.txt", "hello");
    const uint64_t written = lastWrite("data/readme.txt");
    run();
    // A change the file system's clock cannot show: same size, same time.
    testsupport::writeFile(installDir / "data" / "readme.txt", "HELLO");
    setLastWrite("data/readme.txt", written);
    const Run r = run();
    EXPECT_EQ(r.hashed, 5u);
    EXPECT_EQ(installed("data/readme.txt"), "hello");
}

TEST_F(VerifyCacheTest, DamagedOrForeignCacheIsIgnoredAndRebuilt) {
    publish(kClient);
    installLocally(kClient);
    run();
    const std::filesystem::path cacheFile = installDir / "pcupd.cache";
    const std::string good = testsupport::readFile(cacheFile);
    ASSERT_GT(good.size(), 64u);

    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x20;
    // A well-formed cache of another version (its checksum made to fit) is foreign too.
    std::string otherVersion = good.substr(0, good.size() - 32);
    otherVersion[8] = 2;
    otherVersion += testsupport::sha256Raw(otherVersion);
    const std::string damaged[] = {flipped, good.substr(0, good.size() - 1), good.substr(0, 10),
                                   "", otherVersion, std::string(good.size(), '\0'),
                                   "{\"files\":[]}"};
    for (const std::string& content : damaged) {
        testsupport::writeFile(cacheFile, content);
        const Run r = run();
        EXPECT_TRUE(r.result.upToDate) << r.result.error.text;
        EXPECT_EQ(r.hashed, clientBytes());  // nothing trusted
        EXPECT_EQ(run().hashed, 0u);         // and rebuilt
    }
}

TEST_F(VerifyCacheTest, KeepsOnlyTheManifestsFiles) {
    publish(kClient);
    installLocally(kClient);
    run();
    std::map<std::string, ClientFile> smaller = kClient;
    smaller.erase("Engine.exe");
    publish(smaller);
    run();
    pcupd::VerifyCache cache;
    cache.load(installDir.wstring());
    EXPECT_EQ(cache.size(), 2u);
}

TEST_F(UpdateRun, ManifestPathsMatchCaseInsensitively) {
    // The manifest lowercases paths; the files on disk keep the case the archive gave them.
    publish({{"Data/Big.PAK", {"content"}}});
    testsupport::writeFile(installDir / "Data" / "Big.PAK", "content");
    age("Data/Big.PAK");
    EXPECT_TRUE(run().result.upToDate);
    EXPECT_EQ(run().hashed, 0u);
}

// Each folder is searched once and its files found in that listing: names on disk in any
// case against the manifest's lowercase paths, a deep tree, a folder where a file belongs, a
// missing file and a missing folder come out as a lookup of each path finds them, and the
// ".part" names beside the files come back for removal.
TEST_F(VerifyCacheTest, ScanFindsFilesFolderByFolderInAnyCase) {
    installLocally({{"Engine.EXE", {"engine"}},
                    {"Data/Maps/Deep/Er/Still/Forest.Pak", {"forest"}},
                    {"DATA/maps/Readme.TXT/inside", {"a folder stands where a file belongs"}},
                    {"data/MAPS/Cave.pak.PART", {"left"}}});
    pcupd::Manifest manifest;
    for (const auto& [path, content] : std::vector<std::pair<std::string, std::string>>{
             {"engine.exe", "engine"}, {"data/maps/deep/er/still/forest.pak", "forest"},
             {"data/maps/readme.txt", "x"}, {"data/maps/cave.pak", "x"}, {"data/none/gone.bin", "x"}})
        manifest.files.push_back({path, testsupport::sha256Hex(content),
                                  static_cast<int64_t>(content.size()), "", {}, {}, {}, {}});
    for (const uint64_t expectHashed : {12u, 0u}) {  // cold, then warm
        pcupd::VerifyCache cache;
        cache.load(installDir.wstring());
        pcupd::ChangedFiles changed;
        std::vector<std::string> parts;
        EXPECT_EQ(pcupd::scanFiles(manifest, installDir.wstring(), true, 1, cache, changed, &parts),
                  expectHashed);
        EXPECT_EQ(changed, (pcupd::ChangedFiles{&manifest.files[2], &manifest.files[3], &manifest.files[4]}));
        EXPECT_EQ(parts, std::vector<std::string>{"data/maps/Cave.pak.PART"});
        EXPECT_EQ(cache.size(), 2u);
        cache.save(installDir.wstring(), false);
    }
}

// Files to hash are shared among threads; what the scan finds, in manifest order, and what
// the cache learns are the same as on one thread: fresh, stale, changed, shortened, missing,
// locked and unsafe files alike, with and without the cache.
TEST_F(VerifyCacheTest, ScanOnManyThreadsMatchesOneThread) {
    std::map<std::string, ClientFile> client;
    for (int i = 0; i < 40; ++i)
        client.emplace("d" + std::to_string(i % 3) + "/f" + std::to_string(i),
                       ClientFile(std::string(1000 + 37 * i, static_cast<char>('a' + i % 26))));
    installLocally(client);
    pcupd::Manifest manifest;
    for (const auto& [path, file] : client)
        manifest.files.push_back({path, testsupport::sha256Hex(file.content),
                                  static_cast<int64_t>(file.content.size()), "", {}, {}, {}, {}});
    manifest.files.push_back({"../escape", std::string(64, '0'), 1, "", {}, {}, {}, {}});
    {
        pcupd::VerifyCache cache;
        pcupd::ChangedFiles changed;
        pcupd::scanFiles(manifest, installDir.wstring(), true, 0, cache, changed);
        cache.save(installDir.wstring(), false);
    }
    const auto path = [&](int i) { return manifest.files[static_cast<size_t>(i)].path; };
    for (const int i : {3, 4}) {  // other bytes, same size, a new time
        testsupport::writeFile(installDir / path(i), std::string(client.at(path(i)).content.size(), '#'));
        age(path(i), 60);
    }
    testsupport::writeFile(installDir / path(5), client.at(path(5)).content);  // same bytes, new time
    testsupport::writeFile(installDir / path(6), "short");
    std::filesystem::remove(installDir / path(7));
    manifest.files.erase(manifest.files.begin() + 9);  // its cache entry goes
    const std::wstring locked = (installDir / path(8)).wstring();
    base::UniqueFile holder(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    for (const bool useCache : {true, false}) {
        std::vector<pcupd::ChangedFiles> found;
        std::vector<std::string> caches;
        for (const int threads : {1, 4}) {
            pcupd::VerifyCache cache;
            cache.load(installDir.wstring());
            found.emplace_back();
            pcupd::scanFiles(manifest, installDir.wstring(), useCache, threads, cache, found.back());
            testsupport::TempDir saved;
            ASSERT_TRUE(cache.save(saved.str(), false));
            const std::string bytes = testsupport::readFile(saved / "pcupd.cache");
            // All but the time of the save and the checksum over it.
            caches.push_back(bytes.substr(0, 12) + bytes.substr(20, bytes.size() - 20 - 32));
        }
        EXPECT_EQ(found[0].size(), useCache ? 5u : 6u);  // the locked file is read only when deep
        EXPECT_EQ(found[0], found[1]) << useCache;
        EXPECT_EQ(caches[0], caches[1]) << useCache;
    }
}
