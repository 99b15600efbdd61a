#include "tools/orvpak/publish.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "tests/tools/orvpak_fixture.h"
#include "tools/orvpak/archive_reader.h"

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

    const std::string archiveBytes = readBytes(temp / "out/pc/client.orvpak");
    const rapidjson::Document manifest = parseManifest(temp / "out");
    EXPECT_STREQ(manifest["clientVersion"].GetString(), "1.4.2");
    EXPECT_TRUE(manifest["required"].GetBool());
    const auto& full = manifest["fullArchive"];
    EXPECT_STREQ(full["url"].GetString(), "https://cdn.test/game/pc/client.orvpak");
    EXPECT_EQ(full["sha256"].GetString(), sha256Hex(archiveBytes));
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
        EXPECT_TRUE(readBytes(temp / ("out/pc/files/" + file.path)) == file.content);
        total += file.content.size();
    }
    EXPECT_EQ(raw.count, files.size());
    EXPECT_EQ(raw.total, total);
    EXPECT_STREQ(records[5]["url"].GetString(),
                 "https://cdn.test/game/pc/files/sound/my%20track.ogg");
    EXPECT_STREQ(records[6]["url"].GetString(),
                 "https://cdn.test/game/pc/files/%C3%BCber/%E6%97%A5%E6%9C%AC.txt");
    EXPECT_EQ(snapshot(temp / "out/pc/files").size(), files.size());

    // The publisher's own reader agrees with the independent one.
    std::vector<orvpak::ArchiveEntry> listed;
    orvpak::ArchiveSummary summary;
    ASSERT_TRUE(orvpak::listArchive(temp / "out/pc/client.orvpak", listed, summary, error)) << error;
    ASSERT_EQ(listed.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(listed[i].path, files[i].path);
    ASSERT_TRUE(orvpak::verifyArchive(temp / "out/pc/client.orvpak", summary, error)) << error;
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
    EXPECT_STREQ(manifest["fullArchive"]["url"].GetString(),
                 "HTTP://127.0.0.1:8080/x/pc/client.orvpak");
    EXPECT_STREQ(manifest["files"][0]["url"].GetString(),
                 "HTTP://127.0.0.1:8080/x/pc/files/a%20b%2Bc%26d~e_f.g-h");
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

TEST(Publish, RemovesStaleCopiesAndReshapedFolders) {
    TempFolder temp;
    writeBytes(temp / "client/keep.dat", "keep");
    writeBytes(temp / "client/gone.dat", "gone");
    writeBytes(temp / "client/was-folder/inner.dat", "inner");
    writeBytes(temp / "client/was-file", "file");
    writeBytes(temp / "client/old/deep/x.dat", "x");
    std::string error;
    ASSERT_TRUE(publishFolder(temp / "client", temp / "out", error)) << error;

    fs::remove(temp / "client/gone.dat");
    fs::remove_all(temp / "client/was-folder");
    fs::remove_all(temp / "client/old");
    writeBytes(temp / "client/was-folder", "now a file");
    fs::remove(temp / "client/was-file");
    writeBytes(temp / "client/was-file/inner.dat", "now a folder");
    writeBytes(temp / "out/pc/files/left.orvpak-tmp", "from a publish that stopped");
    ASSERT_TRUE(publishFolder(temp / "client", temp / "out", error)) << error;

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"keep.dat", "keep"}, {"was-file/inner.dat", "now a folder"}, {"was-folder", "now a file"}};
    EXPECT_EQ(snapshot(temp / "out/pc/files"), expected);
    EXPECT_FALSE(fs::exists(temp / "out/pc/files/old"));
    EXPECT_EQ(parseManifest(temp / "out")["files"].Size(), 3u);
}

TEST(Publish, RefusesOverlappingFoldersAndAnEmptyClient) {
    TempFolder temp;
    writeBytes(temp / "client/a.dat", "a");
    std::string error;
    EXPECT_FALSE(publishFolder(temp / "client", temp / "client/out", error));
    EXPECT_NE(error.find("overlap"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(temp / "client/out"));
    EXPECT_FALSE(publishFolder(temp / "client/out/pc/files", temp / "client/out", error));
    EXPECT_NE(error.find("overlap"), std::string::npos) << error;

    fs::create_directories(temp / "empty/only/folders");
    EXPECT_FALSE(publishFolder(temp / "empty", temp / "out", error));
    EXPECT_NE(error.find("holds no files"), std::string::npos) << error;
    EXPECT_FALSE(publishFolder(temp / "missing", temp / "out", error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(temp / "out"));
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
