// What the operator publishes is what the player gets: publish a client folder with the
// operator's tool, serve the output, install it through the real transport, compare.

#include <gtest/gtest.h>

#include "install/archive.h"
#include "tests/install/published_client.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tools/orvpak/publish.h"
#include "update/manifest.h"
#include "update/sha256.h"
#include "update/update.h"

namespace fs = std::filesystem;
using testsupport::readFile;

using testsupport::serveFolder;

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
    serveFolder(server, options.outDir);

    const std::string manifestUrl = server.url("/pc/manifest.json");
    pcupd::FullArchive archive;
    ASSERT_TRUE(pcupd::fetchFullArchive(manifestUrl, archive, error)) << error;
    EXPECT_EQ(archive.format, "ORVPAK1");
    const fs::path installDir = dir / "OrvaneOnline";
    ASSERT_TRUE(installFullArchive(archive.url, installDir.wstring(), error)) << error;
    for (const auto& [path, content] : files)
        EXPECT_TRUE(readFile(installDir / fs::u8path(path)) == content) << path;

    // The manifest's digests and per-file URLs hold for what repair would download.
    pcupd::Manifest manifest;
    ASSERT_TRUE(pcupd::fetchManifest(manifestUrl, manifest, error)) << error;
    EXPECT_EQ(manifest.clientVersion, "1.0.7");
    ASSERT_EQ(manifest.files.size(), files.size());
    for (const pcupd::ManifestFile& file : manifest.files) {
        pcupd::Progress progress;
        std::string digest;
        ASSERT_TRUE(pcupd::downloadToFile(file.url, (dir / "download.part").wstring(), progress,
                                          nullptr, digest, error))
            << file.url << ": " << error;
        EXPECT_EQ(digest, file.sha256) << file.path;
        EXPECT_EQ(pcupd::hashFile((installDir / fs::u8path(file.path)).wstring()), file.sha256) << file.path;
    }
    std::string digest;
    pcupd::Progress progress;
    ASSERT_TRUE(pcupd::downloadToFile(archive.url, (dir / "archive.part").wstring(), progress,
                                      nullptr, digest, error));
    EXPECT_EQ(digest, archive.sha256);
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
    serveFolder(server, options.outDir);
    const fs::path installDir = dir / "OrvaneOnline";
    ASSERT_TRUE(installFullArchive(server.url("/pc/client.orvpak"), installDir.wstring(), error)) << error;

    const auto verify = [&](bool useCache) {
        pcupd::Manifest manifest;
        const uint64_t before = pcupd::hashedFileBytes();
        const pcupd::UpdateResult result = pcupd::runUpdate(
            server.url("/pc/manifest.json"), installDir.wstring(), L"", useCache, manifest, nullptr);
        EXPECT_TRUE(result.upToDate) << result.error;
        return pcupd::hashedFileBytes() - before;
    };
    EXPECT_EQ(verify(true), 0u);  // the stream already hashed every byte it wrote
    EXPECT_EQ(verify(false), clientBytes);
    // Nothing but the manifest and the archive was ever requested.
    for (const std::string& target : server.requests())
        EXPECT_TRUE(target == "/pc/manifest.json" || target == "/pc/client.orvpak") << target;
}

