#include "install/archive.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "install/entry_writer.h"
#include "tests/support/archive_builder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"
#include "update/download_hosts.h"
#include "update/resuming_stream.h"
#include "update/verify_cache.h"

using namespace installer;

namespace fs = std::filesystem;
using testsupport::LoopbackServer;
using testsupport::Response;
using testsupport::TestArchive;
using testsupport::TestEntry;

namespace {

std::string patterned(size_t size, int seed) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 31 + seed * 7 + i / 997) & 0xFF);
    return text;
}

class ArchiveTest : public ::testing::Test {
protected:
    // Serves `bytes` and installs them into dir/install, bound to `manifest` and to the
    // served bytes' own size and digest.
    bool install(const std::string& bytes, const pcupd::Manifest& manifest, Response response = Response()) {
        response.body = bytes;
        server.route("/client.orvpak", response);
        pcupd::FullArchive archive;
        archive.url = server.url("/client.orvpak");
        archive.sha256 = testsupport::sha256Hex(bytes);
        archive.size = static_cast<int64_t>(bytes.size());
        return run(archive, manifest);
    }
    bool install(const TestArchive& archive, Response response = Response()) {
        return install(archive.build(), archive.manifest(), response);
    }
    // The archive at `path` bound to its entries alone, as a manifest without the archive's
    // size and digest binds it.
    bool installFrom(const std::string& path, const pcupd::Manifest& manifest) {
        pcupd::FullArchive archive;
        archive.url = server.url(path);
        return run(archive, manifest);
    }
    // Installs; the failure's text in `error` ("untouched" after a success), itself in `failure`.
    bool run(const pcupd::FullArchive& archive, const pcupd::Manifest& manifest) {
        failure = base::Failure();
        const bool ok = installFullArchive(archive, manifest, installDir.wstring(), sink, failure, transfer);
        error = failure ? failure.text : "untouched";
        return ok;
    }

    std::string installed(const std::string& relative) const {
        return testsupport::readFile(installDir / fs::u8path(relative));
    }

    testsupport::TempDir dir;
    fs::path installDir = dir / "install";
    LoopbackServer server;
    std::string error;
    base::Failure failure;
    testsupport::RecordingSink sink;
    pcupd::TransferOptions transfer;
};

}  // namespace

TEST_F(ArchiveTest, InstallsNestedAndEmptyEntries) {
    TestArchive archive;
    archive.eighthByte = 0xA7;  // never examined
    archive.entries = {{"Engine.exe", patterned(3000000, 1)},
                       {"data/maps/forest.pak", patterned(70000, 2)},
                       {"data\\sound\\a.bank", "sound"},
                       {"empty.txt", ""},
                       {"\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xA4 b.dat", "unicode"}};
    ASSERT_TRUE(install(archive)) << error;
    EXPECT_EQ(error, "untouched");
    for (const TestEntry& entry : archive.entries) {
        std::string path = entry.path;
        std::replace(path.begin(), path.end(), '\\', '/');
        EXPECT_TRUE(installed(path) == entry.data) << entry.path;
    }
    EXPECT_TRUE(fs::is_directory(installDir / "data" / "maps"));
    EXPECT_TRUE(fs::exists(installDir / "empty.txt"));
    EXPECT_EQ(fs::file_size(installDir / "empty.txt"), 0u);

    const testsupport::RecordingSink::State state = sink.state();
    EXPECT_EQ(state.bytesDone, 3000000u + 70000 + 5 + 7);
    EXPECT_EQ(state.bytesTotal, 3000000 + 70000 + 5 + 7);
    EXPECT_EQ(state.phases, (std::vector<testsupport::RecordingSink::Phase>{{Phase::kInstalling, L"Engine.exe"}}));
}

TEST_F(ArchiveTest, ThousandsOfTinyEntriesAreAllWrittenAndRecorded) {
    // More entries than one hand-over to the writer may carry, with paths long enough to
    // need more than one of the cache's key chunks.
    TestArchive archive;
    for (size_t i = 0; i < EntryWriter::kMaxPieces + 400; ++i)
        archive.entries.push_back({"many/group" + std::to_string(i % 7) + "/tiny-entry-" +
                                       std::to_string(i) + ".dat",
                                   i % 3 ? std::to_string(i) : ""});
    ASSERT_TRUE(install(archive)) << error;
    pcupd::VerifyCache cache;
    cache.load(installDir.wstring());
    EXPECT_EQ(cache.size(), archive.entries.size());
    for (const TestEntry& entry : archive.entries) {
        pcupd::FileStamp stamp;
        ASSERT_TRUE(pcupd::fileStamp((installDir / entry.path).wstring(), stamp)) << entry.path;
        EXPECT_EQ(stamp.size, entry.data.size()) << entry.path;
        EXPECT_EQ(cache.trustedDigest(entry.path, stamp), testsupport::sha256Hex(entry.data)) << entry.path;
    }
}

TEST_F(ArchiveTest, OneFileWrittenTwiceWhileTheFirstMayStillBeClosing) {
    TestArchive archive;
    archive.entries = {{"twice.txt", "same"}, {"Twice.TXT", "same"}, {"after.txt", "after"}};
    ASSERT_TRUE(install(archive)) << error;
    EXPECT_EQ(installed("twice.txt"), "same");
    EXPECT_EQ(installed("after.txt"), "after");
}

TEST_F(ArchiveTest, EmptyArchiveWritesNothing) {
    ASSERT_TRUE(install(TestArchive())) << error;
    EXPECT_FALSE(fs::exists(installDir));
    EXPECT_TRUE(sink.state().phases.empty());
}

TEST_F(ArchiveTest, SmallPiecesAndTrailingBytesGiveTheSameFiles) {
    TestArchive archive;
    for (int i = 0; i < 4; ++i) archive.entries.push_back({"f" + std::to_string(i), patterned(40000 + i, i)});
    Response trickle;
    trickle.pieceSize = 4099;
    trickle.pauseMs = 1;
    trickle.trailing = "bytes nobody asked for";
    ASSERT_TRUE(install(archive, trickle)) << error;
    for (const TestEntry& entry : archive.entries) EXPECT_TRUE(installed(entry.path) == entry.data);

    // Extra entries past the declared count are never read either.
    TestArchive shortCount = archive;
    shortCount.count = 2;
    fs::remove_all(installDir);
    ASSERT_TRUE(install(shortCount)) << error;
    EXPECT_TRUE(fs::exists(installDir / "f1"));
    EXPECT_FALSE(fs::exists(installDir / "f2"));
}

TEST_F(ArchiveTest, HeaderFaults) {
    TestArchive badMagic;
    badMagic.magic = "ORVPAK2";
    TestArchive lowerMagic;
    lowerMagic.magic = "orvpak1";
    TestArchive version2;
    version2.version = 2;
    TestArchive version0;
    version0.version = 0;
    const std::pair<TestArchive, const char*> cases[] = {
        {badMagic, "archive header is not ORVPAK1"},
        {lowerMagic, "archive header is not ORVPAK1"},
        {version2, "unsupported archive version"},
        {version0, "unsupported archive version"}};
    for (const auto& [archive, message] : cases) {
        EXPECT_FALSE(install(archive));
        EXPECT_EQ(error, message);
    }
    EXPECT_FALSE(install("not an archive at all, just text", {}));
    EXPECT_EQ(error, "archive header is not ORVPAK1");
}

TEST_F(ArchiveTest, PathLengthBounds) {
    // 1024 bytes in five components, past MAX_PATH once joined to the folder.
    std::string longest;
    for (int i = 0; i < 5; ++i) longest += std::string(i < 4 ? 200 : 1024 - 4 * 201, static_cast<char>('a' + i)) + (i < 4 ? "/" : "");
    ASSERT_EQ(longest.size(), 1024u);
    TestArchive ok;
    ok.entries = {{longest, "deep"}};
    ASSERT_TRUE(install(ok)) << error;
    EXPECT_EQ(installed(longest), "deep");

    for (int length : {0, 1025, 65535}) {
        TestArchive bad;
        bad.entries = {{"x", "data", false, length}};
        EXPECT_FALSE(install(bad)) << length;
        EXPECT_EQ(error, "bad path length") << length;
    }
}

TEST_F(ArchiveTest, CutAnywhereInTheHeadersIsClosedEarly) {
    TestArchive archive;
    archive.entries = {{"a/b.txt", "0123456789"}};
    const std::string bytes = archive.build();
    const size_t dataStart = bytes.size() - 10;
    // Every cut from the first header byte to the last byte of the entry's digest.
    for (size_t cut = 0; cut < dataStart; ++cut) {
        Response response;
        response.framing = Response::Framing::CloseDelimited;
        EXPECT_FALSE(install(bytes.substr(0, cut), archive.manifest(), response)) << cut;
        EXPECT_EQ(error, "connection closed early") << cut;
    }
    // Inside the data the message names the entry.
    Response cutData;
    cutData.cutAfter = static_cast<int64_t>(dataStart + 4);
    EXPECT_FALSE(install(bytes, archive.manifest(), cutData));
    EXPECT_EQ(error, "connection closed while reading a/b.txt");
}

TEST_F(ArchiveTest, CutInTheThirdEntryKeepsTheFirstTwo) {
    TestArchive archive;
    archive.entries = {{"one.bin", patterned(200000, 1)},
                       {"two/two.bin", patterned(300000, 2)},
                       {"three/3.bin", patterned(2500000, 3)},
                       {"four.bin", "4"}};
    const std::string bytes = archive.build();
    Response response;
    response.cutAfter = static_cast<int64_t>(bytes.size()) - 1 - 1500000;
    EXPECT_FALSE(install(archive, response));
    EXPECT_EQ(error, "connection closed while reading three/3.bin");
    EXPECT_TRUE(installed("one.bin") == archive.entries[0].data);
    EXPECT_TRUE(installed("two/two.bin") == archive.entries[1].data);
    EXPECT_FALSE(fs::exists(installDir / "four.bin"));
}

TEST_F(ArchiveTest, DigestMismatchNamesTheEntry) {
    TestArchive archive;
    archive.entries = {{"good.bin", "good"}, {"dir/bad.bin", "bad", true}, {"later.bin", "x"}};
    EXPECT_FALSE(install(archive));
    EXPECT_EQ(error, "checksum mismatch for dir/bad.bin");
    EXPECT_EQ(installed("good.bin"), "good");
    EXPECT_FALSE(fs::exists(installDir / "later.bin"));

    TestArchive empty;
    empty.entries = {{"empty", "", true}};
    EXPECT_FALSE(install(empty));
    EXPECT_EQ(error, "checksum mismatch for empty");
}

TEST_F(ArchiveTest, TheHeadsDigestStandsInForTheWholeStreamsDigest) {
    TestArchive archive;
    archive.entries = {{"a.bin", patterned(300000, 1)}, {"b/c.txt", "c"}};
    const std::string bytes = archive.build();
    const auto serve = [this](const std::string& path, const std::string& body) {
        Response response;
        response.body = body;
        server.route(path, response);
        return server.url(path);
    };
    pcupd::FullArchive full;
    full.url = serve("/client.orvpak", bytes);
    full.size = static_cast<int64_t>(bytes.size());
    full.sha256 = std::string(64, '0');  // not checked when the heads digest is given
    full.headsSha256 = testsupport::sha256Hex(archive.heads());
    ASSERT_TRUE(run(full, archive.manifest())) << error;
    EXPECT_TRUE(installed("a.bin") == archive.entries[0].data);

    // A head it does not cover: the header's declared total, which only the bar reads.
    TestArchive total = archive;
    total.total = 1;
    full.url = serve("/other.orvpak", total.build());
    EXPECT_FALSE(run(full, archive.manifest()));
    EXPECT_EQ(error, "archive digest mismatch");

    // Data that differs from its head's digest is the entry's own failure, as without it.
    TestArchive data = archive;
    data.entries[1].corruptDigest = true;
    full.url = serve("/data.orvpak", data.build());
    full.headsSha256 = testsupport::sha256Hex(data.heads());
    EXPECT_FALSE(run(full, data.manifest()));
    EXPECT_EQ(error, "checksum mismatch for b/c.txt");
}

TEST_F(ArchiveTest, HostilePathsCreateNothingOutsideTheFolder) {
    const std::string unique = "orvane-hostile-" + std::to_string(GetCurrentProcessId());
    const std::string paths[] = {
        "../" + unique, "..\\..\\" + unique, "a/../../" + unique, "C:\\" + unique,
        "C:" + unique, "/" + unique, "\\" + unique, "\\\\127.0.0.1\\c$\\" + unique,
        "\\\\?\\C:\\" + unique, "name:stream", "CON", "nul.txt", "COM1", "LPT9", "CONIN$",
        "dir/aux.dat", "trailing.", "trailing ", "./x", "a//b", "a*b"};
    for (const std::string& path : paths) {
        TestArchive archive;
        archive.entries = {{"fine.txt", "ok"}, {path, "payload"}};
        EXPECT_FALSE(install(archive)) << path;
        EXPECT_EQ(error, "unsafe path in archive: " + path);
    }
    // The only thing under the test folder is the install folder, holding the one good entry
    // (and the verification cache that records it).
    std::vector<fs::path> found;
    for (const auto& item : fs::recursive_directory_iterator(dir.path())) found.push_back(item.path());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<fs::path>{installDir, installDir / "fine.txt", installDir / "pcupd.cache"}));
    EXPECT_FALSE(fs::exists(fs::path("C:\\") / unique));
    EXPECT_FALSE(fs::exists(fs::temp_directory_path() / unique));
}

TEST_F(ArchiveTest, ExistingFolderWhereAFileGoes) {
    fs::create_directories(installDir / "taken");
    TestArchive archive;
    archive.entries = {{"taken", "x"}};
    EXPECT_FALSE(install(archive));
    EXPECT_EQ(error, "cannot create taken (disk full or permissions?)");
    EXPECT_EQ(failure.kind, base::FailureKind::kDisk);

    // A large entry: the stream runs on for blocks after the writer has given the entry up.
    archive.entries = {{"taken", patterned(6 << 20, 3)}, {"after.bin", "x"}};
    EXPECT_FALSE(install(archive));
    EXPECT_EQ(error, "cannot create taken (disk full or permissions?)");
    EXPECT_FALSE(fs::exists(installDir / "after.bin"));
}

TEST_F(ArchiveTest, StreamFailureCarriesTheTransportMessage) {
    EXPECT_FALSE(installFrom("/nothing-here", {}));
    EXPECT_EQ(error, "HTTP status 404 for " + server.url("/nothing-here"));
    EXPECT_EQ(failure.httpStatus, 404u);
}

TEST_F(ArchiveTest, ProgressAndStatusMessages) {
    TestArchive archive;
    for (int i = 0; i < 51; ++i) archive.entries.push_back({"d/f" + std::to_string(i), "x"});
    ASSERT_TRUE(install(archive)) << error;
    const testsupport::RecordingSink::State state = sink.state();
    ASSERT_EQ(state.phases.size(), 3u);  // entries 0, 25 and 50
    EXPECT_EQ(state.phases.back().item, L"d/f50");  // as the archive wrote it
    EXPECT_EQ(state.bytesDone, 51u);
}

TEST_F(ArchiveTest, ALargeEntryIsNamedWhileItArrives) {
    TestArchive archive;
    archive.entries = {{"a", "1"}, {"b", "2"}, {"packs/big.pak", patterned(1 << 20, 3)}, {"c", "4"}};
    ASSERT_TRUE(install(archive)) << error;
    const testsupport::RecordingSink::State state = sink.state();
    ASSERT_EQ(state.phases.size(), 2u);  // entry 0, then the large one
    EXPECT_EQ(state.phases.back().item, L"packs/big.pak");
}

// The header's total goes out as declared, beside the bytes really written: the window keeps
// its bar where it is without a total, and never past full (WorkProgress).
TEST_F(ArchiveTest, ProgressStaysWithinBounds) {
    TestArchive zeroTotal;
    zeroTotal.total = 0;
    zeroTotal.entries = {{"a", patterned(5000, 1)}};
    ASSERT_TRUE(install(zeroTotal)) << error;
    EXPECT_EQ(sink.state().bytesTotal, 0);
    EXPECT_EQ(sink.state().bytesDone, 5000u);

    TestArchive underCounted;
    underCounted.total = 100;
    underCounted.entries = {{"a", patterned(5000, 1)}};
    ASSERT_TRUE(install(underCounted)) << error;
    EXPECT_EQ(sink.state().bytesTotal, 100);
    EXPECT_EQ(sink.state().bytesDone, 5000u);
}

TEST_F(ArchiveTest, SlowLinkProgressMovesWithinABlock) {
    // 1.5 MiB at about 1 MiB/s: whole blocks alone would show 0, then 1 MiB after a second.
    TestArchive archive;
    archive.entries = {{"big.pak", patterned(1536 * 1024, 7)}};
    Response slow;
    slow.pieceSize = 32 * 1024;
    slow.pauseMs = 30;
    std::atomic<bool> done{false};
    std::atomic<uint64_t> partial{0};
    std::thread watcher([&] {
        while (!done) {
            const uint64_t seen = sink.state().bytesDone;
            if (seen > 0 && seen < EntryWriter::kBlockSize) partial = seen;
            Sleep(5);
        }
    });
    const bool ok = install(archive, slow);
    done = true;
    watcher.join();
    ASSERT_TRUE(ok) << error;
    EXPECT_GT(partial.load(), 0u);
    EXPECT_EQ(installed("big.pak"), archive.entries[0].data);
}

namespace {

// The archive from a server that takes byte ranges, cut after `cutAfter` bytes of a response.
Response ranged(const std::string& bytes, int64_t cutAfter = -1) {
    Response response;
    response.body = bytes;
    response.ranges = true;
    response.cutAfter = cutAfter;
    return response;
}

}  // namespace

TEST_F(ArchiveTest, CutsInHeadersAndDataAreResumedAtTheRightByte) {
    TestArchive archive;
    archive.entries = {{"first.bin", patterned(300000, 1)}, {"dir/second.bin", patterned(2500000, 2)}};
    const std::string bytes = archive.build();
    const size_t second = 24 + 2 + 9 + 40 + 300000;  // where the second entry's head starts
    // Inside the archive header, the first entry's path, the second's digest, its data.
    const size_t cuts[] = {5, 24 + 4, second + 2 + 14 + 8 + 10, second + 56 + 1200000};
    std::vector<Response> answers;
    for (size_t i = 0, from = 0; i < std::size(cuts); from = cuts[i++])
        answers.push_back(ranged(bytes, static_cast<int64_t>(cuts[i] - from)));
    answers.push_back(ranged(bytes));
    server.route("/client.orvpak", answers);

    // The whole stream's digest and size are checked across the resumes as well.
    pcupd::FullArchive full;
    full.url = server.url("/client.orvpak");
    full.sha256 = testsupport::sha256Hex(bytes);
    full.size = static_cast<int64_t>(bytes.size());
    ASSERT_TRUE(run(full, archive.manifest())) << error;
    for (const TestEntry& entry : archive.entries) EXPECT_TRUE(installed(entry.path) == entry.data) << entry.path;
    const std::vector<std::string> heads = server.requestHeads();
    ASSERT_EQ(heads.size(), std::size(cuts) + 1);
    for (size_t i = 0; i < std::size(cuts); ++i)
        EXPECT_NE(heads[i + 1].find("\r\nRange: bytes=" + std::to_string(cuts[i]) + "-\r\n"), std::string::npos) << heads[i + 1];
    EXPECT_EQ(sink.state().bytesDone, 2800000u);
}

TEST_F(ArchiveTest, AResumeTheServerCannotServeFailsAsTheCutDid) {
    TestArchive archive;
    archive.entries = {{"one.bin", patterned(200000, 1)}, {"big/two.bin", patterned(2500000, 2)}};
    const std::string bytes = archive.build();
    const size_t data = bytes.size() - 2500000, cut = data + 1500000;
    // Answers the client must refuse. Each one stops after a few bytes: a refused answer is
    // never read, and a server thread must not wait on it.
    Response whole;  // ignores Range: the archive from its first byte
    whole.body = bytes;
    whole.cutAfter = 1000;
    Response elsewhere;  // the rest from one byte early, and says so
    elsewhere.status = 206;
    elsewhere.body = bytes.substr(cut - 1);
    elsewhere.cutAfter = 1000;
    elsewhere.headers = {{"Content-Range", "bytes " + std::to_string(cut - 1) + "-" +
                                               std::to_string(bytes.size() - 1) + "/" +
                                               std::to_string(bytes.size())}};
    for (const auto& [path, answer] : {std::make_pair("/ignored.orvpak", whole), std::make_pair("/elsewhere.orvpak", elsewhere)}) {
        fs::remove_all(installDir);
        server.route(path, std::vector<Response>{ranged(bytes, static_cast<int64_t>(cut)), answer});
        EXPECT_FALSE(installFrom(path, archive.manifest()));
        EXPECT_EQ(error, "connection closed while reading big/two.bin") << path;
        EXPECT_EQ(server.requestCount(path), 2) << path;
        EXPECT_TRUE(installed("one.bin") == archive.entries[0].data);
        // What arrived before the cut, and nothing of the refused answer.
        EXPECT_TRUE(installed("big/two.bin") == archive.entries[1].data.substr(0, cut - data));
    }
}

// A close can fail (a system may report a lost write only then): that file fails the install,
// and in archive order, ahead of a later entry's own failure, whichever thread closes it.
TEST(EntryWriterTest, AFailedCloseFailsItsFileInArchiveOrder) {
    class FailingClose : public EntryWriter {
    public:
        using EntryWriter::EntryWriter;

    protected:
        bool closeFile(HANDLE file, const std::string& path) override {
            const bool closed = EntryWriter::closeFile(file, path);
            if (path != "b.bin") return closed;
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
    };
    for (const unsigned threads : {0u, 3u}) {
        testsupport::TempDir dir;
        testsupport::RecordingSink sink;
        FailingClose writer(sink, 3, WriterOptions{threads});
        // c.bin's bytes do not match its digest: a failure the writer finds after b.bin's.
        for (const auto& [path, digestOf] : {std::pair("a.bin", "a"), std::pair("b.bin", "b"), std::pair("c.bin", "x")}) {
            std::vector<uint8_t> raw;
            ASSERT_TRUE(base::fromHex(testsupport::sha256Hex(digestOf), raw));
            uint8_t digest[pcupd::kSha256Size];
            std::copy(raw.begin(), raw.end(), digest);
            writer.beginEntry((dir / path).wstring(), path, 1, digest);
            size_t room = 0;
            char* out = writer.space(room);
            ASSERT_NE(out, nullptr);
            *out = path[0];
            writer.commit(1, true);
        }
        base::Failure failure;
        EXPECT_FALSE(writer.drain(failure));
        EXPECT_EQ(failure.text, "disk write failed for b.bin") << threads;
        EXPECT_EQ(failure.kind, base::FailureKind::kDisk);
        EXPECT_EQ(failure.systemError, static_cast<uint32_t>(ERROR_DISK_FULL));
        EXPECT_EQ(writer.verified().size(), 1u);  // a.bin, closed and stamped
    }
}

namespace {

// A server that takes ranges and names its body "v1" for If-Range: the archive comes over
// several connections, a window of 256 KiB each (eleven windows of the archive below).
Response versioned(const std::string& bytes, int64_t cutAfter = -1, const char* etag = "\"v1\"") {
    Response response = ranged(bytes, cutAfter);
    response.headers = {{"ETag", etag}};
    return response;
}

class WindowTest : public ArchiveTest {
protected:
    WindowTest() {
        archive.entries = {{"first.bin", patterned(300000, 1)}, {"dir/second.bin", patterned(2500000, 2)}};
        bytes = archive.build();
        transfer.windowBytes = 256 * 1024;
        transfer.firstResumePauseMs = 5;
    }
    // Installs from `answers` (the n-th request gets the n-th, the last repeats), bound to
    // the archive's size and digest.
    bool installFrom(const std::string& path, std::vector<Response> answers) {
        fs::remove_all(installDir);
        server.route(path, std::move(answers));
        pcupd::FullArchive full;
        full.url = server.url(path);
        full.sha256 = testsupport::sha256Hex(bytes);
        full.size = static_cast<int64_t>(bytes.size());
        return run(full, archive.manifest());
    }
    bool installedWhole() const {
        return installed("first.bin") == archive.entries[0].data &&
               installed("dir/second.bin") == archive.entries[1].data;
    }

    TestArchive archive;
    std::string bytes;
};

}  // namespace

TEST_F(WindowTest, SeveralConnectionsGiveTheSameFilesCutsIncluded) {
    // Uncut: the first response brings the first window, one Range request each of the rest.
    ASSERT_TRUE(installFrom("/whole", {versioned(bytes)})) << error;
    EXPECT_TRUE(installedWhole());
    EXPECT_EQ(server.requestCount("/whole"), 11);
    EXPECT_EQ(sink.state().bytesDone, 2800000u);
    for (const std::string& head : server.requestHeads()) {
        if (head.find("Range:") == std::string::npos) continue;
        EXPECT_NE(head.find("\r\nIf-Range: \"v1\"\r\n"), std::string::npos) << head;
    }

    // Every connection cut every 100000 bytes, several windows at once: each is resumed from
    // its own next byte (three requests a window, the last window's one less).
    ASSERT_TRUE(installFrom("/cut", {versioned(bytes, 100000)})) << error;
    EXPECT_TRUE(installedWhole());
    EXPECT_EQ(server.requestCount("/cut"), 32);

    // One connection: a server that takes no ranges, one without a validator, and the
    // caller's choice.
    Response plain = versioned(bytes);
    plain.ranges = false;
    Response anonymous = ranged(bytes);
    for (const auto& [path, answer, connections] : {std::make_tuple("/plain", plain, 4u),
                                                    std::make_tuple("/anonymous", anonymous, 4u),
                                                    std::make_tuple("/one", versioned(bytes), 1u)}) {
        transfer.connections = connections;
        ASSERT_TRUE(installFrom(path, {answer})) << path << ": " << error;
        EXPECT_TRUE(installedWhole()) << path;
        EXPECT_EQ(server.requestCount(path), 1) << path;
    }
}

TEST_F(WindowTest, AWindowThatCannotBeFinishedFailsAsACutDoes) {
    // The first window whole, then every connection cut after 5000 bytes: a window of 256 KiB
    // would need 53 requests, and has six (30000 bytes, still inside first.bin).
    EXPECT_FALSE(installFrom("/cut", {versioned(bytes), versioned(bytes, 5000)}));
    EXPECT_EQ(error, "connection closed while reading first.bin");
    EXPECT_EQ(failure.kind, base::FailureKind::kConnection);
    // What came before the failed window is on disk, nothing of it or after it.
    EXPECT_TRUE(installed("first.bin") == archive.entries[0].data.substr(0, installed("first.bin").size()));
    EXPECT_EQ(installed("first.bin").size(), 256u * 1024 + 30000 - 75);
    EXPECT_FALSE(fs::exists(installDir / "dir"));

    // Windows that trickle are dropped for want of speed, resumed, and fail as stalled.
    transfer.stall = {pcupd::kStallMinBytesPerSecond, 200};
    Response slow = versioned(bytes);
    slow.pieceSize = 16;
    slow.pauseMs = 100;
    EXPECT_FALSE(installFrom("/slow", {versioned(bytes), slow}));
    EXPECT_EQ(failure.kind, base::FailureKind::kStalled);
    EXPECT_EQ(error, pcupd::stalledText(server.url("/slow"), transfer.stall));
}

TEST_F(WindowTest, AServerThatChangesItsAnswerMidRun) {
    // Windows of 1 MiB: the second and third are asked for, and refused, before the reader
    // needs them; the fourth request is the one connection that reads on. Answers the client
    // refuses stop after a few bytes: nobody reads them, and a server thread must not wait.
    transfer.windowBytes = 1 << 20;
    const auto refused = [](Response response) {
        response.cutAfter = 1000;
        return response;
    };
    // It stops taking ranges: the rest comes over one connection, from the first byte on.
    Response noRanges = versioned(bytes);
    noRanges.ranges = false;
    ASSERT_TRUE(installFrom("/stops", {versioned(bytes), refused(noRanges), refused(noRanges), noRanges})) << error;
    EXPECT_TRUE(installedWhole());
    EXPECT_EQ(server.requestCount("/stops"), 4);

    // The file changed under the same URL: If-Range brings the new one whole, which is
    // neither spliced on nor read past the bytes already taken.
    std::string changed = bytes;
    changed[2000000] ^= 0x5A;
    const Response replaced = versioned(changed, -1, "\"v2\"");
    EXPECT_FALSE(installFrom("/changed", {versioned(bytes), refused(replaced), refused(replaced), replaced}));
    EXPECT_EQ(error, "connection closed while reading dir/second.bin");
    EXPECT_EQ(failure.kind, base::FailureKind::kConnection);
    EXPECT_TRUE(installed("first.bin") == archive.entries[0].data);
    EXPECT_TRUE(installed("dir/second.bin") == archive.entries[1].data.substr(0, (1 << 20) - 300131));

    // Other bytes under the same validator (a broken mirror): the entry's digest catches them,
    // and the verification cache records nothing of that entry.
    EXPECT_FALSE(installFrom("/spliced", {versioned(bytes), versioned(changed)}));
    EXPECT_EQ(error, "checksum mismatch for dir/second.bin");
    EXPECT_EQ(failure.kind, base::FailureKind::kMismatch);
    pcupd::VerifyCache cache;
    cache.load(installDir.wstring());
    EXPECT_EQ(cache.size(), 1u);
}

TEST_F(WindowTest, AHostThatStopsMidArchiveLeavesTheRestToTheMirror) {
    // The base's host sends the first window, then answers nothing more: every window moves
    // to the mirror, which has the same bytes under another ETag.
    LoopbackServer mirror;
    Response stopped;
    stopped.noResponse = true;
    server.route("/game/client", std::vector<Response>{versioned(bytes, -1, "\"a\""), stopped});
    mirror.route("/game/client", versioned(bytes, -1, "\"m\""));
    std::vector<std::string> heard;
    std::mutex told;
    transfer.hosts = std::make_shared<pcupd::DownloadHosts>(
        server.url("/game"), std::vector<std::string>{mirror.url("/game")},
        [&](const std::string& origin, const std::string& left) {
            std::lock_guard<std::mutex> hold(told);
            heard.push_back(left.empty() ? origin : origin + " after " + left);
        });
    pcupd::FullArchive full;
    full.url = server.url("/game/client");
    full.sha256 = testsupport::sha256Hex(bytes);
    full.size = static_cast<int64_t>(bytes.size());
    ASSERT_TRUE(run(full, archive.manifest())) << error;
    EXPECT_TRUE(installedWhole());
    EXPECT_EQ(sink.state().bytesDone, 2800000u);
    // Each of the ten windows after the first comes off the mirror in one request, without
    // the base's validator. Once the mirror has brought bytes, the windows start there: the
    // base's host is asked for those already under way, at most one a connection.
    EXPECT_EQ(mirror.requestCount("/game/client"), 10);
    EXPECT_LE(server.requestCount("/game/client"), 1 + 4);
    for (const std::string& head : mirror.requestHeads()) {
        EXPECT_NE(head.find("\r\nRange: bytes="), std::string::npos) << head;
        EXPECT_EQ(head.find("If-Range"), std::string::npos) << head;
    }
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0], pcupd::originOf(server.url("/")));
    EXPECT_EQ(heard[1].rfind(pcupd::originOf(mirror.url("/")) + " after " + pcupd::originOf(server.url("/")) + ": ", 0), 0u)
        << heard[1];
}
