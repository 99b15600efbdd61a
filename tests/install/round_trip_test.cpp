// What the operator publishes is what the player gets: publish a client folder with the
// operator's tool, serve the output, install it through the real transport, compare.

#include <gtest/gtest.h>

#include "install/archive.h"
#include "tests/install/published_client.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"
#include "tools/orvpak/publish.h"
#include "update/download.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/sha256.h"
#include "update/update.h"

using namespace installer;

namespace fs = std::filesystem;
using testsupport::readFile;

TEST(RoundTrip, PublishedClientInstallsByteForByte) {
    testsupport::TempDir dir;
    const fs::path client = dir / "client";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Engine.exe", std::string(2500000, 'E') + "end"},
        {"data/maps/forest.pak", std::string(70000, '\x7f')},
        {"data/empty.txt", ""},
        {"data/with space.txt", "spaced"},
        {"\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xA4.dat", "unicode"}};
    for (const auto& [path, content] : files) testsupport::writeFile(client / fs::u8path(path), content);

    testsupport::LoopbackServer server;
    orvpak::PublishOptions options;
    options.clientDir = client;
    options.outDir = dir / "out";
    options.baseUrl = server.url("");
    options.clientVersion = "1.0.7";
    orvpak::PublishSummary summary;
    std::string error;
    ASSERT_TRUE(orvpak::publish(options, summary, error)) << error;
    server.serveFolder(options.outDir);

    const std::string manifestUrl = server.url("/pc/manifest.json");
    pcupd::FullArchive archive;
    pcupd::Manifest manifest;
    base::Failure failure;
    ASSERT_TRUE(pcupd::readManifest(manifestUrl, {}, L"", manifest, &archive, failure)) << failure.text;
    EXPECT_EQ(archive.format, "ORVPAK1");
    const fs::path installDir = dir / "OrvaneOnline";
    testsupport::RecordingSink sink;
    ASSERT_TRUE(installFullArchive(archive, manifest, installDir.wstring(), sink, failure)) << failure.text;
    for (const auto& [path, content] : files)
        EXPECT_TRUE(readFile(installDir / fs::u8path(path)) == content) << path;

    // The manifest's digests and per-file URLs hold for what repair would download.
    EXPECT_EQ(manifest.clientVersion, "1.0.7");
    ASSERT_EQ(manifest.files.size(), files.size());
    for (const pcupd::ManifestFile& file : manifest.files) {
        pcupd::Downloaded got;
        ASSERT_TRUE(pcupd::download(file.url, (dir / "download.part").wstring(), {}, got, failure))
            << file.url << ": " << failure.text;
        EXPECT_EQ(got.digest, file.sha256) << file.path;
        EXPECT_EQ(pcupd::hashFile((installDir / fs::u8path(file.path)).wstring()), file.sha256) << file.path;
    }
    pcupd::Downloaded got;
    ASSERT_TRUE(pcupd::download(archive.url, (dir / "archive.part").wstring(), {}, got, failure));
    EXPECT_EQ(got.digest, archive.sha256);
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(dir / "archive.part")), archive.size);
}

TEST(RoundTrip, VerificationAfterAFreshInstallReadsNothingBack) {
    testsupport::TempDir dir;
    const fs::path client = dir / "client";
    uint64_t clientBytes = 0;
    for (int i = 0; i < 30; ++i) {
        const std::string content(1000 + 40000 * i, static_cast<char>('a' + i % 26));
        testsupport::writeFile(client / ("Data" + std::to_string(i % 3)) / ("File" + std::to_string(i) + ".PAK"), content);
        clientBytes += content.size();
    }
    testsupport::LoopbackServer server;
    orvpak::PublishOptions options;
    options.clientDir = client;
    options.outDir = dir / "out";
    options.baseUrl = server.url("");
    orvpak::PublishSummary summary;
    std::string error;
    ASSERT_TRUE(orvpak::publish(options, summary, error)) << error;
    server.serveFolder(options.outDir);
    pcupd::FullArchive archive;
    pcupd::Manifest published;
    base::Failure failure;
    ASSERT_TRUE(pcupd::readManifest(server.url("/pc/manifest.json"), {}, L"", published, &archive, failure))
        << failure.text;
    const fs::path installDir = dir / "OrvaneOnline";
    testsupport::RecordingSink sink;
    ASSERT_TRUE(installFullArchive(archive, published, installDir.wstring(), sink, failure)) << failure.text;

    const auto verify = [&](bool useCache) {
        pcupd::Manifest manifest;
        pcupd::UpdateOptions options;
        options.useCache = useCache;
        const pcupd::UpdateResult result =
            pcupd::runUpdate(server.url("/pc/manifest.json"), installDir.wstring(), options, manifest, nullptr);
        EXPECT_TRUE(result.upToDate) << result.error.text;
        return result.bytesHashed;
    };
    EXPECT_EQ(verify(true), 0u);  // the stream already hashed every byte it wrote
    EXPECT_EQ(verify(false), clientBytes);
    // Nothing but the manifest and the archive was ever requested.
    for (const std::string& target : server.requests())
        EXPECT_TRUE(target == "/pc/manifest.json" || server.url(target) == archive.url) << target;
}

// A player who fetched a manifest just before the next publish repairs with it afterwards:
// the objects it names are still served, unchanged, beside the new release's.
TEST(RoundTrip, RepairWithTheManifestOfTheReleaseBeforeCompletes) {
    testsupport::TempDir dir;
    const fs::path client = dir / "client", out = dir / "out";
    const std::vector<std::pair<std::string, std::string>> first = {
        {"Engine.exe", std::string(300000, 'E')},
        {"data/maps/forest.pak", std::string(200000, 'F')},
        {"data/readme.txt", "first"},
        {"data/retired.txt", "only in the first release"}};
    testsupport::LoopbackServer server;
    testsupport::publishClient(server, client, out, first);
    testsupport::Response held;
    held.body = readFile(out / "pc" / "manifest.json");
    server.route("/held/manifest.json", held);

    fs::remove(client / "data" / "retired.txt");
    testsupport::publishClient(server, client, out,
                               {{"data/maps/forest.pak", std::string(200000, 'G')},
                                {"data/readme.txt", "second"}});
    ASSERT_NE(readFile(out / "pc" / "manifest.json"), held.body);

    std::string error;
    pcupd::FullArchive archive;
    pcupd::Manifest heldManifest;
    base::Failure failure;
    ASSERT_TRUE(pcupd::readManifest(server.url("/held/manifest.json"), {}, L"", heldManifest, &archive, failure))
        << failure.text;
    const fs::path installDir = dir / "OrvaneOnline";
    testsupport::RecordingSink sink;
    ASSERT_TRUE(installFullArchive(archive, heldManifest, installDir.wstring(), sink, failure)) << failure.text;
    testsupport::writeFile(installDir / "data" / "readme.txt", "damaged");
    fs::remove(installDir / "data" / "maps" / "forest.pak");
    fs::remove(installDir / "data" / "retired.txt");

    pcupd::Manifest manifest;
    pcupd::UpdateOptions options;
    options.useCache = false;
    const pcupd::UpdateResult result =
        pcupd::runUpdate(server.url("/held/manifest.json"), installDir.wstring(), options, manifest, nullptr);
    ASSERT_TRUE(result.ok) << result.error.text;
    for (const auto& [path, content] : first)
        EXPECT_TRUE(readFile(installDir / fs::u8path(path)) == content) << path;
}

