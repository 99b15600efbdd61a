#include "tools/orvpak/publish.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <set>

#include "base/manifest_patch.h"
#include "tests/tools/orvpak_fixture.h"
#include "tools/orvpak/archive_reader.h"
#include "tools/orvpak/cli.h"
#include "tools/orvpak/release_history.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace orvpaktest;

namespace {

bool publishFolder(const fs::path& client, const fs::path& out, std::string& error,
                   const std::string& baseUrl = "https://cdn.test/game/",
                   const std::string& version = "1.4.2", bool optional = false) {
    orvpak::PublishOptions options;
    options.clientDir = client;
    options.outDir = out;
    options.baseUrl = baseUrl;
    options.clientVersion = version;
    options.optional = optional;
    orvpak::PublishSummary summary;
    return orvpak::publish(options, summary, error);
}

// Publishes with everything else at its default; the summary says what happened.
orvpak::PublishSummary publishKeeping(const fs::path& client, const fs::path& out,
                                      size_t keepReleases = orvpak::kDefaultKeptReleases,
                                      const std::string& baseUrl = "https://cdn.test/game/") {
    orvpak::PublishOptions options;
    options.clientDir = client;
    options.outDir = out;
    options.baseUrl = baseUrl;
    options.keepReleases = keepReleases;
    orvpak::PublishSummary summary;
    std::string error;
    EXPECT_TRUE(orvpak::publish(options, summary, error)) << error;
    return summary;
}

// The object names a manifest's bytes refer to: its archive, its files, their chunk indexes.
std::set<std::string> referencedBy(const std::string& manifestBytes) {
    rapidjson::Document document;
    document.Parse(manifestBytes.c_str());
    std::set<std::string> names = {document["fullArchive"]["sha256"].GetString()};
    for (const auto& file : document["files"].GetArray()) {
        names.insert(file["sha256"].GetString());
        if (file.HasMember("chunksSha256")) names.insert(file["chunksSha256"].GetString());
    }
    return names;
}

rapidjson::Document parseManifest(const fs::path& out) {
    rapidjson::Document document;
    document.Parse(readBytes(out / "pc/manifest.json").c_str());
    EXPECT_FALSE(document.HasParseError());
    EXPECT_TRUE(document.IsObject());
    return document;
}

}  // namespace

TEST(Publish, WritesManifestArchiveAndCopiesOfEveryFile) {
    TempFolder temp;
    const std::vector<SampleFile> files = writeSampleClient(temp / "client");
    std::string error;
    ASSERT_TRUE(publishFolder(temp / "client", temp / "out", error)) << error;

    const fs::path archivePath = publishedArchive(temp / "out");
    const std::string archiveBytes = readBytes(archivePath);
    const std::string archiveSha = sha256Hex(archiveBytes);
    const rapidjson::Document manifest = parseManifest(temp / "out");
    EXPECT_STREQ(manifest["clientVersion"].GetString(), "1.4.2");
    EXPECT_TRUE(manifest["required"].GetBool());
    const auto& full = manifest["fullArchive"];
    EXPECT_EQ(full["url"].GetString(),
              "https://cdn.test/game/pc/objects/" + archiveSha.substr(0, 2) + "/" + archiveSha);
    EXPECT_EQ(full["sha256"].GetString(), archiveSha);
    EXPECT_EQ(full["size"].GetUint64(), archiveBytes.size());
    EXPECT_STREQ(full["format"].GetString(), "ORVPAK1");

    // Known vectors: the hasher itself is right, not merely self-consistent.
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    const auto& records = manifest["files"];
    ASSERT_EQ(records.Size(), files.size());
    const RawArchive raw = parseRaw(archiveBytes);
    ASSERT_TRUE(raw.complete);
    EXPECT_EQ(raw.magic, "ORVPAK1");
    EXPECT_EQ(archiveBytes[7], '\0');
    EXPECT_EQ(raw.version, 1u);
    ASSERT_EQ(raw.entries.size(), files.size());
    uint64_t total = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const SampleFile& file = files[i];
        SCOPED_TRACE(file.path);
        EXPECT_EQ(records[i]["path"].GetString(), file.path);
        EXPECT_EQ(records[i]["sha256"].GetString(), sha256Hex(file.content));
        EXPECT_EQ(records[i]["size"].GetUint64(), file.content.size());
        EXPECT_EQ(raw.entries[i].path, file.path);
        EXPECT_EQ(raw.entries[i].size, file.content.size());
        EXPECT_EQ(raw.entries[i].digest, sha256Raw(file.content));
        EXPECT_TRUE(raw.entries[i].data == file.content);
        const std::string sha = sha256Hex(file.content);
        EXPECT_EQ(records[i]["url"].GetString(),
                  "https://cdn.test/game/pc/objects/" + sha.substr(0, 2) + "/" + sha);
        EXPECT_TRUE(readBytes(objectFile(temp / "out", sha)) == file.content);
        total += file.content.size();
    }
    EXPECT_EQ(raw.count, files.size());
    EXPECT_EQ(raw.total, total);
    // The heads digest: the archive with every entry's data cut out.
    std::string heads = archiveBytes.substr(0, 24);
    size_t at = heads.size();
    for (const auto& entry : raw.entries) {
        const size_t head = 2 + entry.path.size() + 8 + 32;
        heads += archiveBytes.substr(at, head);
        at += head + entry.size;
    }
    EXPECT_EQ(at, archiveBytes.size());
    EXPECT_EQ(full["headsSha256"].GetString(), sha256Hex(heads));
    // Every content once, the archive, the large file's chunk index, and nothing else but the
    // record of release 1.
    EXPECT_EQ(objectNames(temp / "out").size(), files.size() + 2);
    EXPECT_EQ(readBytes(temp / "out/pc/releases/1.json"), readBytes(temp / "out/pc/manifest.json"));
    EXPECT_EQ(snapshot(temp / "out/pc").size(), files.size() + 4);

    // The publisher's own reader agrees with the independent one.
    std::vector<orvpak::ArchiveEntry> listed;
    orvpak::ArchiveSummary summary;
    ASSERT_TRUE(orvpak::listArchive(archivePath, listed, summary, error)) << error;
    ASSERT_EQ(listed.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(listed[i].path, files[i].path);
    ASSERT_TRUE(orvpak::verifyArchive(archivePath, summary, error)) << error;
    EXPECT_EQ(summary.dataBytes, total);
    EXPECT_EQ(summary.archiveBytes, archiveBytes.size());
}

TEST(Publish, OptionalUpdateWithoutVersionAndTrimmedBaseUrl) {
    TempFolder temp;
    writeBytes(temp / "client/a b+c&d~e_f.g-h", "x");
    std::string error;
    ASSERT_TRUE(publishFolder(temp / "client", temp / "out", error, "HTTP://127.0.0.1:8080/x///",
                              "", true))
        << error;
    const rapidjson::Document manifest = parseManifest(temp / "out");
    EXPECT_STREQ(manifest["clientVersion"].GetString(), "");
    EXPECT_FALSE(manifest["required"].GetBool());
    const std::string archiveSha = manifest["fullArchive"]["sha256"].GetString();
    EXPECT_EQ(manifest["fullArchive"]["url"].GetString(),
              "HTTP://127.0.0.1:8080/x/pc/objects/" + archiveSha.substr(0, 2) + "/" + archiveSha);
    EXPECT_STREQ(manifest["files"][0]["path"].GetString(), "a b+c&d~e_f.g-h");
    EXPECT_EQ(manifest["files"][0]["url"].GetString(),
              "HTTP://127.0.0.1:8080/x/pc/objects/2d/" + sha256Hex("x"));
}

TEST(Publish, MirrorsFollowTheBaseUrlInTheManifestOnlyWhenGiven) {
    TempFolder temp;
    writeSampleClient(temp / "client");
    orvpak::PublishOptions options;
    options.clientDir = temp / "client";
    options.outDir = temp / "out";
    options.baseUrl = "https://cdn.test/game/";
    options.mirrors = {"https://b.test/game/", "HTTP://c.test", "https://B.test/game"};
    orvpak::PublishSummary summary;
    std::string error;
    // A library caller gets the command line's refusals, before anything is written.
    EXPECT_FALSE(orvpak::publish(options, summary, error));
    EXPECT_NE(error.find("--mirror \"https://B.test/game\" is given twice"), std::string::npos)
        << error;
    EXPECT_FALSE(fs::exists(temp / "out"));

    options.mirrors.pop_back();
    ASSERT_TRUE(orvpak::publish(options, summary, error)) << error;
    const std::string mirrored = readBytes(temp / "out/pc/manifest.json");
    const std::string lines = "  \"baseUrl\": \"https://cdn.test/game\",\n"
                              "  \"mirrors\": [\"https://b.test/game\", \"HTTP://c.test\"],\n";
    EXPECT_NE(mirrored.find("  \"required\": true,\n" + lines + "  \"fullArchive\": {\n"),
              std::string::npos)
        << mirrored;
    // The release history reads them back: rendered again, the very same bytes.
    orvpak::Release release;
    ASSERT_TRUE(orvpak::parseRelease(mirrored, release, error)) << error;
    EXPECT_EQ(orvpak::renderManifest(release.content), mirrored);

    // Without mirrors, neither field, and otherwise the same bytes: another release.
    options.mirrors.clear();
    ASSERT_TRUE(orvpak::publish(options, summary, error)) << error;
    EXPECT_EQ(summary.release, 2u);
    std::string expected = mirrored;
    expected.erase(expected.find(lines), lines.size());
    EXPECT_EQ(readBytes(temp / "out/pc/manifest.json"), expected);
}

TEST(Publish, SameFolderGivesIdenticalBytes) {
    TempFolder temp;
    writeSampleClient(temp / "client");
    std::string error;
    ASSERT_TRUE(publishFolder(temp / "client", temp / "one", error)) << error;
    const auto first = snapshot(temp / "one");
    ASSERT_TRUE(publishFolder(temp / "client", temp / "two", error)) << error;
    EXPECT_TRUE(first == snapshot(temp / "two"));
    ASSERT_TRUE(publishFolder(temp / "client", temp / "one", error)) << error;
    EXPECT_TRUE(first == snapshot(temp / "one"));  // over itself: no temp files left either
}

TEST(Publish, StoresIdenticalFilesOnceAndAnUnchangedClientWritesNothing) {
    TempFolder temp;
    writeBytes(temp / "client/a.dat", "same");
    writeBytes(temp / "client/sub/b.dat", "same");
    writeBytes(temp / "client/c.dat", "other");
    orvpak::PublishSummary summary = publishKeeping(temp / "client", temp / "out");
    EXPECT_EQ(summary.objectsWritten, 3u);
    const rapidjson::Document manifest = parseManifest(temp / "out");
    EXPECT_STREQ(manifest["files"][0]["url"].GetString(), manifest["files"][2]["url"].GetString());
    ASSERT_EQ(objectNames(temp / "out").size(), 3u);

    // Objects are never rewritten: an old time on each survives the next publishes.
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(240);
    std::vector<std::pair<fs::path, fs::file_time_type>> stamps;
    for (const auto& entry : fs::recursive_directory_iterator(temp / "out/pc/objects"))
        if (entry.is_regular_file()) {
            fs::last_write_time(entry.path(), old);
            stamps.emplace_back(entry.path(), fs::last_write_time(entry.path()));
        }
    const auto before = snapshot(temp / "out");
    summary = publishKeeping(temp / "client", temp / "out");
    EXPECT_EQ(summary.objectsWritten, 0u);
    EXPECT_FALSE(summary.newRelease);
    EXPECT_EQ(summary.release, 1u);
    EXPECT_TRUE(snapshot(temp / "out") == before);  // no second record either

    // Another base URL is another release of the same objects.
    summary = publishKeeping(temp / "client", temp / "out", 1, "https://mirror.test/");
    EXPECT_TRUE(summary.newRelease);
    EXPECT_EQ(summary.release, 2u);
    EXPECT_EQ(summary.objectsWritten + summary.objectsRemoved, 0u);
    for (const auto& [path, stamp] : stamps)
        EXPECT_TRUE(fs::last_write_time(path) == stamp) << path;
}

TEST(Publish, KeepsEarlierReleasesAndRemovesOnlyWhatNoneNeeds) {
    TempFolder temp;
    const fs::path out = temp / "out";
    writeBytes(temp / "client/keep.dat", "keep");
    writeBytes(temp / "client/gone.dat", "gone");
    writeBytes(temp / "client/deep/x.dat", "x");
    publishKeeping(temp / "client", out);
    const std::string first = readBytes(out / "pc/manifest.json");
    fs::remove(temp / "client/gone.dat");
    publishKeeping(temp / "client", out);
    writeBytes(temp / "client/keep.dat", "kept");
    const orvpak::PublishSummary third = publishKeeping(temp / "client", out);
    EXPECT_EQ(third.release, 3u);
    EXPECT_EQ(third.oldestKept, 1u);
    EXPECT_EQ(readBytes(out / "pc/releases/1.json"), first);
    EXPECT_EQ(readBytes(out / "pc/releases/3.json"), readBytes(out / "pc/manifest.json"));
    std::set<std::string> expected;
    for (const char* record : {"1.json", "2.json", "3.json"}) {
        const auto names = referencedBy(readBytes(out / "pc/releases" / record));
        expected.insert(names.begin(), names.end());
    }
    EXPECT_EQ(objectNames(out), std::vector<std::string>(expected.begin(), expected.end()));
    EXPECT_TRUE(fs::exists(objectFile(out, sha256Hex("gone"))));
    // A patch to the live manifest from each kept earlier one, named by its digest.
    const std::string live = readBytes(out / "pc/manifest.json");
    ASSERT_EQ(third.patches.size(), 2u);
    for (const orvpak::ReleasePatch& patch : third.patches) {
        const std::string earlier = readBytes(out / "pc/releases" / (std::to_string(patch.release) + ".json"));
        EXPECT_EQ(patch.manifestSha256, sha256Hex(earlier));
        const std::string bytes = readBytes(out / "pc/patches" / patch.manifestSha256);
        EXPECT_EQ(patch.bytes, bytes.size());
        std::string rebuilt;
        base::ManifestPatchHeader header;
        EXPECT_TRUE(base::applyManifestPatch(earlier, sha256Hex(earlier), bytes, rebuilt, header));
        EXPECT_TRUE(rebuilt == live) << patch.release;
    }

    // Leftovers of a stopped publish go; what the operator keeps beside them stays.
    writeBytes(out / "pc/objects/archive.orvpak-tmp", "stopped");
    writeBytes(out / "pc/objects/zz/stray", "stray");
    writeBytes(out / "pc/objects/ab/not-a-digest", "stray");
    writeBytes(out / "pc/notes.txt", "the operator's");
    writeBytes(out / "pc/extra/list.txt", "the operator's");
    writeBytes(temp / "client/new.dat", "new");
    const orvpak::PublishSummary fourth = publishKeeping(temp / "client", out, 1);
    EXPECT_EQ(fourth.oldestKept, 3u);
    expected = referencedBy(readBytes(out / "pc/releases/3.json"));
    const auto latest = referencedBy(readBytes(out / "pc/manifest.json"));
    expected.insert(latest.begin(), latest.end());
    EXPECT_EQ(objectNames(out), std::vector<std::string>(expected.begin(), expected.end()));
    EXPECT_FALSE(fs::exists(objectFile(out, sha256Hex("gone"))));
    EXPECT_FALSE(fs::exists(objectFile(out, sha256Hex("keep"))));
    EXPECT_FALSE(fs::exists(out / "pc/objects/zz"));
    // Only the kept release's patch stays.
    ASSERT_EQ(fourth.patches.size(), 1u);
    EXPECT_EQ(fourth.patches[0].release, 3u);
    std::vector<std::string> patches;
    for (const auto& [path, bytes] : snapshot(out / "pc/patches")) patches.push_back(path);
    EXPECT_EQ(patches, std::vector<std::string>{fourth.patches[0].manifestSha256});
    EXPECT_EQ(readBytes(out / "pc/notes.txt"), "the operator's");
    EXPECT_EQ(readBytes(out / "pc/extra/list.txt"), "the operator's");
    EXPECT_TRUE(fs::exists(out / "pc/releases/1.json"));
}

// A tree an earlier publisher wrote: copies under files/, the archive as client.orvpak.
TEST(Publish, UpgradesALegacyTreeKeepingItsCopiesWhileItsReleaseIsKept) {
    TempFolder temp;
    const fs::path out = temp / "out";
    writeBytes(out / "pc/manifest.json", "{\"files\": [");
    writeBytes(temp / "client/a.dat", "new a");
    writeBytes(temp / "client/sub/b.dat", "b");
    orvpak::PublishOptions options;
    options.clientDir = temp / "client";
    options.outDir = out;
    options.baseUrl = "https://cdn.test";
    orvpak::PublishSummary summary;
    std::string error;
    EXPECT_FALSE(orvpak::publish(options, summary, error));
    EXPECT_NE(error.find("pc/manifest.json is not a manifest"), std::string::npos) << error;
    EXPECT_NE(error.find("nothing was written"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out / "pc/objects"));

    const std::string archive = buildArchive({{"a.dat", "old a"}, {"sub/b.dat", "b"}});
    const std::string legacy =
        "{\"clientVersion\": \"0.9\", \"required\": true, \"fullArchive\": {\"url\": "
        "\"https://old.test/pc/client.orvpak\", \"sha256\": \"" + sha256Hex(archive) +
        "\", \"size\": " + std::to_string(archive.size()) + ", \"format\": \"ORVPAK1\"}, "
        "\"files\": [{\"path\": \"a.dat\", \"sha256\": \"" + sha256Hex("old a") +
        "\", \"size\": 5, \"url\": \"https://old.test/pc/files/a.dat\"}, {\"path\": "
        "\"sub/b.dat\", \"sha256\": \"" + sha256Hex("b") +
        "\", \"size\": 1, \"url\": \"https://old.test/pc/files/sub/b.dat\"}]}\n";
    writeBytes(out / "pc/manifest.json", legacy);
    writeBytes(out / "pc/client.orvpak", archive);
    writeBytes(out / "pc/files/a.dat", "old a");
    writeBytes(out / "pc/files/sub/b.dat", "b");
    const auto legacyCopies = snapshot(out / "pc/files");

    summary = publishKeeping(temp / "client", out, 1);
    EXPECT_EQ(summary.release, 2u);
    EXPECT_FALSE(summary.legacyRemoved);
    EXPECT_EQ(readBytes(out / "pc/releases/1.json"), legacy);
    EXPECT_EQ(readBytes(out / "pc/releases/2.json"), readBytes(out / "pc/manifest.json"));
    EXPECT_EQ(readBytes(out / "pc/client.orvpak"), archive);
    EXPECT_EQ(snapshot(out / "pc/files"), legacyCopies);

    writeBytes(temp / "client/a.dat", "newer a");
    summary = publishKeeping(temp / "client", out, 1);
    EXPECT_EQ(summary.release, 3u);
    EXPECT_TRUE(summary.legacyRemoved);
    EXPECT_FALSE(fs::exists(out / "pc/files"));
    EXPECT_FALSE(fs::exists(out / "pc/client.orvpak"));
    EXPECT_TRUE(fs::exists(objectFile(out, sha256Hex("new a"))));
    EXPECT_TRUE(fs::exists(objectFile(out, sha256Hex("newer a"))));
    EXPECT_FALSE(fs::exists(objectFile(out, sha256Hex("old a"))));
}

TEST(Publish, RefusesOverlappingFoldersAndAnEmptyClient) {
    TempFolder temp;
    writeBytes(temp / "client/a.dat", "a");
    std::string error;
    EXPECT_FALSE(publishFolder(temp / "client", temp / "client/out", error));
    EXPECT_NE(error.find("overlap"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(temp / "client/out"));
    EXPECT_FALSE(publishFolder(temp / "client/out/pc/objects", temp / "client/out", error));
    EXPECT_NE(error.find("overlap"), std::string::npos) << error;

    fs::create_directories(temp / "empty/only/folders");
    EXPECT_FALSE(publishFolder(temp / "empty", temp / "out", error));
    EXPECT_NE(error.find("holds no files"), std::string::npos) << error;
    EXPECT_FALSE(publishFolder(temp / "missing", temp / "out", error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(temp / "out"));
}

// A manifest lists files, so a folder without one never reaches players: publish says so,
// and goes ahead.
TEST(Publish, WarnsOfEveryFolderWithoutAFileAtAnyDepth) {
    TempFolder temp;
    writeBytes(temp / "client/data/maps/a.pak", "a");
    writeBytes(temp / "client/saves/empty.sav", "");  // an empty file is still a file
    fs::create_directories(temp / "client/data/cache/tmp");
    fs::create_directories(temp / "client/only/inner");
    const orvpak::PublishSummary summary = publishKeeping(temp / "client", temp / "out");
    EXPECT_EQ(summary.emptyFolders, (std::vector<std::string>{"data/cache", "data/cache/tmp",
                                                               "only", "only/inner"}));
    const CliResult result = runCli({"publish", (temp / "client").u8string(),
                                     (temp / "out").u8string(), "--base-url=http://h"});
    EXPECT_EQ(result.code, orvpak::kExitOk) << result.err;
    EXPECT_NE(result.err.find("orvpak: warning: empty folder \"data/cache/tmp\" is not "
                              "published: players will not get it\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("saves"), std::string::npos) << result.err;
}

#ifndef _WIN32
// Names Linux allows and Windows or the installer does not; each refusal names the file and
// leaves the output folder untouched.
TEST(Publish, RefusesNamesTheInstallerCannotTake) {
    std::string longPath;  // 1025 bytes, in components any disk takes
    while (longPath.size() < 1000) longPath += std::string(199, 'd') + "/";
    longPath += std::string(1025 - longPath.size(), 'f');
    struct Case {
        std::vector<std::string> files;
        std::string named, says;
    };
    const std::vector<Case> cases = {
        {{"ok.dat", "data/CON"}, "\"data/CON\"", "reserved device name"},
        {{"nul.txt"}, "\"nul.txt\"", "reserved device name"},
        {{"trailing."}, "\"trailing.\"", "ending in a dot"},
        {{"a:stream"}, "\"a:stream\"", "installer refuses"},
        {{"back\\slash"}, "\"back\\slash\"", "backslash"},
        {{"bad\xFF.dat"}, "\"bad\\xFF.dat\"", "not valid UTF-8"},
        {{"line\nbreak"}, "\"line\\x0Abreak\"", "installer refuses"},
        {{longPath}, "is 1025 bytes long", "more than the 1024"},
        {{"Data/A.pak", "data/a.pak"}, "\"Data/A.pak\" and \"data/a.pak\"", "letter case"},
        {{"Maps", "maps/x.pak"}, "\"Maps\" is a file, but \"maps/x.pak\"", "folder"},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        for (const std::string& file : c.files) writeBytes(temp.path() / "client" / file, "x");
        std::string error;
        EXPECT_FALSE(publishFolder(temp / "client", temp / "out", error)) << c.named;
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(temp / "out")) << c.named;
    }
}

TEST(Publish, RefusesLinksAndSpecialFilesListingEveryProblem) {
    TempFolder temp;
    writeBytes(temp / "client/real.dat", "real");
    fs::create_symlink(temp / "client/real.dat", temp / "client/link.dat");
    fs::create_directory_symlink(temp / "client", temp / "client/loop");
    ASSERT_EQ(mkfifo((temp / "client/pipe").c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(publishFolder(temp / "client", temp / "out", error));
    EXPECT_NE(error.find("holds 3 names"), std::string::npos) << error;
    EXPECT_NE(error.find("\"link.dat\" is a symbolic link"), std::string::npos) << error;
    EXPECT_NE(error.find("\"loop\" is a symbolic link"), std::string::npos) << error;
    EXPECT_NE(error.find("\"pipe\" is neither a file nor a folder"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST(Publish, UnreadableFileStopsBeforeWritingAnything) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    TempFolder temp;
    writeBytes(temp / "client/locked.dat", "x");
    fs::permissions(temp / "client/locked.dat", fs::perms::none);
    std::string error;
    EXPECT_FALSE(publishFolder(temp / "client", temp / "out", error));
    EXPECT_NE(error.find("locked.dat"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(temp / "out"));
}
#endif
