#include "update/sha256.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/download.h"

using testsupport::LoopbackServer;
using testsupport::Response;
using testsupport::TempDir;

namespace {

const char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string digestOf(const std::string& data) {
    pcupd::Sha256 sha;
    EXPECT_TRUE(sha.ready());
    sha.update(data.data(), data.size());
    return sha.finish();
}

std::string patterned(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + i / 4093) & 0xFF);
    return text;
}

Response body(std::string data) {
    Response response;
    response.body = std::move(data);
    return response;
}

struct Download {
    bool ok;
    std::string digest, error;
    base::FailureKind kind;
    std::vector<int64_t> reports;  // bytes received by each report
    int64_t bytesDone;
};

Download download(const std::string& url, const std::wstring& path) {
    Download result{};
    pcupd::DownloadOptions options;
    int64_t reported = 0;
    options.onBytes = [&](int64_t bytes) { result.reports.push_back(reported += bytes); };
    pcupd::Downloaded got;
    base::Failure failure;
    result.ok = pcupd::download(url, path, options, got, failure);
    result.digest = got.digest;
    result.bytesDone = got.bytes;
    result.error = failure.text;
    result.kind = failure.kind;
    return result;
}

}  // namespace

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(digestOf(""), kEmptyDigest);
    EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // A million 'a's fed in uneven pieces: the context is truly incremental.
    pcupd::Sha256 sha;
    const std::string a(1000000, 'a');
    size_t offset = 0;
    for (size_t piece = 1; offset < a.size(); piece = piece * 3 + 1) {
        const size_t size = std::min(piece, a.size() - offset);
        sha.update(a.data() + offset, size);
        offset += size;
    }
    sha.update(nullptr, 0);
    EXPECT_EQ(sha.finish(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(HashFile, DigestsWholeFilesAcrossReadBoundaries) {
    TempDir dir;
    testsupport::writeFile(dir / "empty", "");
    EXPECT_EQ(pcupd::hashFile((dir / "empty").wstring()), kEmptyDigest);
    for (size_t size : {size_t(262143), size_t(262144), size_t(262145), size_t(700001)}) {
        const std::string data = patterned(size);
        testsupport::writeFile(dir / "f", data);
        EXPECT_EQ(pcupd::hashFile((dir / "f").wstring()), digestOf(data)) << size;
    }
}

TEST(HashFile, UnreadableFileHasNoDigest) {
    TempDir dir;
    EXPECT_EQ(pcupd::hashFile((dir / "missing").wstring()), "");
    EXPECT_EQ(pcupd::hashFile(dir.str()), "");  // a folder

    testsupport::writeFile(dir / "locked", "data");
    const std::wstring locked = (dir / "locked").wstring();
    base::UniqueFile holder(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(pcupd::hashFile(locked), "");
    holder.reset();
    EXPECT_EQ(pcupd::hashFile(locked), digestOf("data"));
}

TEST(Download, WritesAndHashesTheBody) {
    TempDir dir;
    LoopbackServer server;
    const std::string data = patterned(1500000);
    Response trickled = body(data);
    trickled.pieceSize = 100000;
    trickled.pauseMs = 2;
    server.route("/f", trickled);
    Response noLength = body(data);
    noLength.framing = Response::Framing::CloseDelimited;
    server.route("/close", noLength);
    server.route("/empty", body(""));

    for (const char* path : {"/f", "/close"}) {
        const std::wstring target = (dir / "f.part").wstring();
        const Download d = download(server.url(path), target);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.digest, digestOf(data));
        EXPECT_TRUE(testsupport::readFile(target) == data);
        EXPECT_EQ(d.bytesDone, static_cast<int64_t>(data.size()));
    }

    testsupport::writeFile(dir / "e.part", "old content is truncated");
    const Download empty = download(server.url("/empty"), (dir / "e.part").wstring());
    ASSERT_TRUE(empty.ok) << empty.error;
    EXPECT_EQ(empty.digest, kEmptyDigest);
    EXPECT_EQ(std::filesystem::file_size(dir / "e.part"), 0u);
}

TEST(Download, ReportsOncePer512KiBReceived) {
    TempDir dir;
    LoopbackServer server;
    const auto run = [&](size_t size) {
        Response response = body(patterned(size));
        response.pieceSize = 65536;  // boundaries line up with the throttle
        response.pauseMs = 2;
        const std::string path = "/s" + std::to_string(size);
        server.route(path, response);
        const Download d = download(server.url(path), (dir / "p").wstring());
        EXPECT_TRUE(d.ok) << d.error;
        for (size_t i = 0; i < d.reports.size(); ++i)
            EXPECT_GE(d.reports[i], static_cast<int64_t>((i + 1) * 524288)) << size;
        return d.reports.size();
    };
    EXPECT_EQ(run(524287), 0u);
    EXPECT_EQ(run(524288), 1u);
    // The count restarts after each report, so a chunk that overshoots a boundary may delay
    // the next report; never more than one per 512 KiB, though.
    const size_t reports = run(3 * 524288 + 5);
    EXPECT_GE(reports, 2u);
    EXPECT_LE(reports, 3u);

    // No one to tell is allowed.
    pcupd::Downloaded got;
    base::Failure error;
    EXPECT_TRUE(pcupd::download(server.url("/s524288"), (dir / "q").wstring(), {}, got, error));
}

TEST(Download, FailuresLeaveNoFile) {
    TempDir dir;
    LoopbackServer server;
    Response cut = body(patterned(900000));
    cut.cutAfter = 600000;
    server.route("/cut", cut);
    Response liar = body("short");
    liar.declaredLength = 5000;
    server.route("/liar", liar);

    const std::wstring target = (dir / "t.part").wstring();
    for (const char* path : {"/cut", "/liar"}) {
        const Download d = download(server.url(path), target);
        EXPECT_FALSE(d.ok) << path;
        EXPECT_EQ(d.kind, base::FailureKind::kConnection) << path;
        EXPECT_EQ(d.error, "download read failed") << path;
        EXPECT_FALSE(std::filesystem::exists(target)) << path;
    }

    Download d = download(server.url("/missing"), target);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "HTTP status 404 for " + server.url("/missing"));
    EXPECT_FALSE(std::filesystem::exists(target));

    server.route("/ok", body("x"));
    d = download(server.url("/ok"), (dir / "no-such-folder" / "t.part").wstring());
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.kind, base::FailureKind::kDisk);
    EXPECT_EQ(d.error, "cannot create temp file");
}

// Threads hash at once over the one provider of the process; each object is its own.
TEST(Sha256, ThreadsHashAtOnce) {
    const std::string data = patterned(100000);
    const std::string expected = digestOf(data);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) wrong += digestOf(data) != expected;
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}
