#include "update/resuming_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>

#include "tests/support/archive_builder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/download.h"
#include "update/download_hosts.h"
#include "update/sha256.h"

using pcupd::ResumingStream;
using testsupport::LoopbackServer;
using testsupport::Response;

namespace {

std::string patterned(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + i / 4093) & 0xFF);
    return text;
}

// The whole body, from a server that says it takes byte ranges and answers them; cut after
// `cutAfter` bytes of what it sends.
Response ranged(const std::string& body, int64_t cutAfter = -1) {
    Response response;
    response.body = body;
    response.ranges = true;
    response.cutAfter = cutAfter;
    return response;
}

struct Outcome {
    std::string data;
    int32_t last = 0;  // what the read that ended it returned
};

Outcome readAll(ResumingStream& stream) {
    Outcome outcome;
    std::vector<char> buffer(65536);
    while ((outcome.last = stream.read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0)
        outcome.data.append(buffer.data(), static_cast<size_t>(outcome.last));
    return outcome;
}

class Resume : public ::testing::Test {
protected:
    // Quick pauses between tries, and the stall limit a test asks for.
    static pcupd::TransferOptions quick(const pcupd::StallLimit& limit = {}) {
        pcupd::TransferOptions options;
        options.firstResumePauseMs = 20;
        options.stall = limit;
        return options;
    }

    Outcome fetch(const std::string& path, const pcupd::StallLimit& limit = {}) {
        ResumingStream stream(quick(limit));
        base::Failure error;
        EXPECT_TRUE(stream.open(server.url(path), error)) << error.text;
        Outcome outcome = readAll(stream);
        resumes = stream.resumes();
        const base::Failure why = stream.readFailure("cut");
        stalled = why.kind == base::FailureKind::kStalled ? why.text : "";
        return outcome;
    }

    // The Range header of each request, in order ("" for none).
    std::vector<std::string> rangesAsked() const {
        std::vector<std::string> ranges;
        for (const std::string& head : server.requestHeads()) {
            const size_t at = head.find("\r\nRange: ");
            ranges.push_back(at == std::string::npos ? "" : head.substr(at + 9, head.find("\r\n", at + 2) - at - 9));
        }
        return ranges;
    }

    LoopbackServer server;
    const std::string body = patterned(1000000);
    int resumes = 0;
    std::string stalled;  // the stream's text when it ended stalled
};

// The minimum speed over a window a hundredth as long: 16 bytes every 100 ms is far below it.
constexpr pcupd::StallLimit kQuickLimit{pcupd::kStallMinBytesPerSecond, pcupd::kStallWindowMs / 100};
Response trickling(Response response) {
    response.pieceSize = 16;
    response.pauseMs = 100;
    return response;
}

}  // namespace

TEST_F(Resume, FiveCutsGoOnAtTheNextByteASixthFails) {
    for (int cuts : {5, 6}) {
        std::vector<Response> answers(static_cast<size_t>(cuts), ranged(body, 100000));
        answers.push_back(ranged(body));
        const std::string path = "/cut" + std::to_string(cuts);
        server.route(path, answers);
        const Outcome outcome = fetch(path);
        if (cuts == 5) {
            EXPECT_EQ(outcome.last, 0);
            EXPECT_TRUE(outcome.data == body);
            EXPECT_EQ(resumes, 5);
            EXPECT_EQ(rangesAsked(), (std::vector<std::string>{"", "bytes=100000-", "bytes=200000-",
                                                               "bytes=300000-", "bytes=400000-",
                                                               "bytes=500000-"}));
        } else {
            EXPECT_LE(outcome.last, 0);
            EXPECT_TRUE(outcome.data == body.substr(0, 600000));
            EXPECT_EQ(server.requestCount(path), 6);
        }
    }
}

TEST_F(Resume, AnythingButTheExactRestStopsAtOnce) {
    // Small enough that a refused answer nobody reads fits in the socket's buffers.
    const std::string data = body.substr(0, 200000);
    const auto partial = [&](int64_t first, int64_t total) {
        Response response;
        response.status = 206;
        response.body = data.substr(static_cast<size_t>(first));
        response.headers = {{"Content-Range", "bytes " + std::to_string(first) + "-199999/" +
                                                  std::to_string(total)}};
        return response;
    };
    Response whole;  // a server that ignores Range
    whole.body = data;
    Response unsatisfiable;
    unsatisfiable.status = 416;
    Response noRange = partial(60000, 200000);
    noRange.headers.clear();
    const std::pair<const char*, Response> answers[] = {{"/ignored", whole},
                                                        {"/elsewhere", partial(0, 200000)},
                                                        {"/other-total", partial(60000, 400000)},
                                                        {"/unsatisfiable", unsatisfiable},
                                                        {"/no-content-range", noRange}};
    for (const auto& [path, answer] : answers) {
        server.route(path, std::vector<Response>{ranged(data, 60000), answer, ranged(data)});
        const Outcome outcome = fetch(path);
        EXPECT_LE(outcome.last, 0) << path;
        EXPECT_TRUE(outcome.data == data.substr(0, 60000)) << path;
        EXPECT_EQ(server.requestCount(path), 2) << path;
    }

    // Nobody asks a server that never said it takes ranges, nor for a body of unknown length.
    Response silent = ranged(data, 60000);
    silent.ranges = false;
    Response unframed = ranged(data, 60000);
    unframed.framing = Response::Framing::CloseDelimited;
    for (const auto& [path, answer] : {std::make_pair("/silent", silent), std::make_pair("/unframed", unframed)}) {
        server.route(path, std::vector<Response>{answer, ranged(data)});
        EXPECT_TRUE(fetch(path).data == data.substr(0, 60000)) << path;
        EXPECT_EQ(server.requestCount(path), 1) << path;
    }
}

TEST_F(Resume, TriesThatBringNothingCountAndWaitLongerEachTime) {
    using Clock = std::chrono::steady_clock;
    // No answer at all twice (a network that is down), then the rest: pauses of 20 and 40 ms.
    Response dropped;
    dropped.noResponse = true;
    server.route("/down", std::vector<Response>{ranged(body, 300000), dropped, dropped, ranged(body)});
    auto start = Clock::now();
    EXPECT_TRUE(fetch("/down").data == body);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_EQ(resumes, 3);

    // Answers that end before their first byte, five times: 20 + 40 + 80 + 160 ms, then no more.
    server.route("/empty", std::vector<Response>{ranged(body, 300000), ranged(body, 0), ranged(body, 0),
                                                 ranged(body, 0), ranged(body, 0), ranged(body, 0), ranged(body)});
    start = Clock::now();
    EXPECT_TRUE(fetch("/empty").data == body.substr(0, 300000));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(server.requestCount("/empty"), 6);
}

TEST_F(Resume, AStalledConnectionIsDroppedAndResumedUntilResumesRunOut) {
    const std::string data = body.substr(0, 100000);
    server.route("/slow-once", std::vector<Response>{trickling(ranged(data)), ranged(data)});
    Outcome outcome = fetch("/slow-once", kQuickLimit);
    EXPECT_EQ(outcome.last, 0);
    EXPECT_TRUE(outcome.data == data);
    EXPECT_EQ(resumes, 1);
    EXPECT_EQ(stalled, "");
    const std::vector<std::string> ranges = rangesAsked();
    ASSERT_EQ(ranges.size(), 2u);
    // Asked from whatever had arrived in the window, not from the start.
    const int64_t from = std::stoll(ranges[1].substr(6));
    EXPECT_GT(from, 0);
    EXPECT_LT(from, 2000);

    // Every answer trickles: the first connection and five resumes, then it fails as stalled.
    server.route("/slow", trickling(ranged(data)));
    outcome = fetch("/slow", kQuickLimit);
    EXPECT_EQ(outcome.last, -1);
    EXPECT_EQ(resumes, pcupd::ResumingStream::kMaxResumes);
    EXPECT_EQ(server.requestCount("/slow"), 1 + pcupd::ResumingStream::kMaxResumes);
    EXPECT_EQ(stalled, "download stalled for " + server.url("/slow") + " (under 1024 bytes/s for 1 s)");

    // A server that takes no ranges cannot be asked for the rest: the first stall ends it.
    Response plain = trickling(ranged(data));
    plain.ranges = false;
    server.route("/slow-plain", plain);
    outcome = fetch("/slow-plain", kQuickLimit);
    EXPECT_EQ(outcome.last, -1);
    EXPECT_EQ(server.requestCount("/slow-plain"), 1);
    EXPECT_NE(stalled, "");

    // The manifest's fetch has the same floor.
    std::string text;
    base::Failure error;
    EXPECT_FALSE(pcupd::httpGet(server.url("/slow-plain"), text, error, quick(kQuickLimit)));
    EXPECT_EQ(error.kind, base::FailureKind::kStalled);
    EXPECT_EQ(error.text, pcupd::stalledText(server.url("/slow-plain"), kQuickLimit));
}

TEST_F(Resume, CutDownloadGoesOnIntoTheSamePartFile) {
    testsupport::TempDir dir;
    Response first = ranged(body, 400000);
    first.headers = {{"ETag", "\"v7\""}};
    server.route("/file", std::vector<Response>{first, ranged(body)});
    pcupd::DownloadOptions options;
    options.expectedSize = static_cast<int64_t>(body.size());
    options.transfer = quick();
    int64_t reported = 0;
    options.onBytes = [&reported](int64_t bytes) { reported += bytes; };
    pcupd::Downloaded got;
    base::Failure error;
    const std::wstring part = (dir / "file.part").wstring();
    ASSERT_TRUE(pcupd::download(server.url("/file"), part, options, got, error)) << error.text;
    EXPECT_TRUE(testsupport::readFile(dir / "file.part") == body);
    EXPECT_EQ(got.digest, testsupport::sha256Hex(body));
    EXPECT_EQ(got.bytes, static_cast<int64_t>(body.size()));  // no byte counted twice
    EXPECT_LE(reported, got.bytes);
    const std::string resumed = server.requestHeads().at(1);
    EXPECT_NE(resumed.find("\r\nRange: bytes=400000-\r\n"), std::string::npos) << resumed;
    EXPECT_NE(resumed.find("\r\nIf-Range: \"v7\"\r\n"), std::string::npos) << resumed;
}

namespace {

// A body served by two hosts under /game: the manifest's base URL and one mirror.
class Failover : public Resume {
protected:
    Failover() {
        hosts = std::make_shared<pcupd::DownloadHosts>(
            server.url("/game"), std::vector<std::string>{mirror.url("/game/")},
            [this](const std::string& origin, const std::string& left) {
                std::lock_guard<std::mutex> hold(told);
                heard.push_back(left.empty() ? origin : origin + " after " + left);
            });
    }
    pcupd::TransferOptions twoHosts() {
        pcupd::TransferOptions options = quick();
        options.hosts = hosts;
        return options;
    }
    static std::vector<std::string> rangesOf(const LoopbackServer& host) {
        std::vector<std::string> ranges;
        for (const std::string& head : host.requestHeads()) {
            const size_t at = head.find("\r\nRange: ");
            ranges.push_back(at == std::string::npos ? "" : head.substr(at + 9, head.find("\r\n", at + 2) - at - 9));
            if (head.find("\r\nIf-Range: ") != std::string::npos) ranges.back() += " if-range";
        }
        return ranges;
    }
    std::string origin(const LoopbackServer& host) const { return pcupd::originOf(host.url("/")); }
    // Opens `path` of the base's host on `stream` and reads all it gives.
    Outcome readAllOf(ResumingStream& stream, const std::string& path) {
        base::Failure error;
        EXPECT_TRUE(stream.open(server.url(path), error)) << error.text;
        return readAll(stream);
    }

    LoopbackServer mirror;
    std::shared_ptr<pcupd::DownloadHosts> hosts;
    std::mutex told;
    std::vector<std::string> heard;  // what the run was told of the hosts, in order
};

Response withEtag(Response response, const char* etag) {
    response.headers = {{"ETag", etag}};
    return response;
}

}  // namespace

TEST(DownloadHosts, MirrorsServeThePathsBelowTheBase) {
    const pcupd::DownloadHosts hosts("https://a.example/game/", {"https://b.example/copy", "ftp://c.example/game",
                                                               "https://a.example/game", "http://d.example:8080/g/",
                                                               "https://b.example/copy/"});
    EXPECT_EQ(hosts.count(), 3u);  // the ftp mirror, and both repeats, are left out
    const std::string object = "https://a.example/game/pc/objects/ab/abcd";
    EXPECT_EQ(hosts.countFor(object), 3u);
    EXPECT_EQ(hosts.urlOn(object, 0), object);
    EXPECT_EQ(hosts.urlOn(object, 1), "https://b.example/copy/pc/objects/ab/abcd");
    EXPECT_EQ(hosts.urlOn(object, 2), "http://d.example:8080/g/pc/objects/ab/abcd");
    // Only what lies below the base has mirrors.
    for (const char* elsewhere : {"https://a.example/gameplay/x", "https://other.example/game/x", "https://a.example/game"}) {
        EXPECT_EQ(hosts.countFor(elsewhere), 1u) << elsewhere;
        EXPECT_EQ(hosts.urlOn(elsewhere, 1), elsewhere) << elsewhere;
    }
    EXPECT_EQ(pcupd::DownloadHosts("", {"https://b.example/copy"}).countFor("https://b.example/copy/x"), 1u);
    EXPECT_EQ(pcupd::originOf(object), "https://a.example");
}

TEST_F(Failover, ACutHostHandsTheRestToTheNextOneFromTheSameByte) {
    // The base's host cuts after 300000 bytes and then answers 503; the mirror has the file,
    // under another ETag.
    Response unavailable;
    unavailable.status = 503;
    server.route("/game/file", std::vector<Response>{withEtag(ranged(body, 300000), "\"a1\""), unavailable});
    mirror.route("/game/file", withEtag(ranged(body), "\"b1\""));
    ResumingStream stream(twoHosts());
    const Outcome outcome = readAllOf(stream, "/game/file");
    EXPECT_EQ(outcome.last, 0);
    EXPECT_TRUE(outcome.data == body);
    EXPECT_EQ(stream.received(), static_cast<int64_t>(body.size()));
    EXPECT_EQ(stream.resumes(), 1);
    EXPECT_EQ(rangesOf(server), std::vector<std::string>{""});
    // No If-Range: the base's ETag means nothing to the mirror.
    EXPECT_EQ(rangesOf(mirror), std::vector<std::string>{"bytes=300000-"});
    EXPECT_EQ(heard, (std::vector<std::string>{origin(server),
                                                origin(mirror) + " after " + origin(server) +
                                                    ": connection lost at byte 300000"}));

    // The run stays on the mirror: the next transfer starts there, and a cut there resumes
    // there with its own ETag once the base's host has nothing to give.
    mirror.route("/game/next", std::vector<Response>{withEtag(ranged(body, 500000), "\"b2\""), withEtag(ranged(body), "\"b2\"")});
    server.route("/game/next", unavailable);
    EXPECT_TRUE(readAllOf(stream, "/game/next").data == body);
    EXPECT_EQ(rangesOf(mirror), (std::vector<std::string>{"bytes=300000-", "", "bytes=500000- if-range"}));
    EXPECT_EQ(rangesOf(server), (std::vector<std::string>{"", "bytes=500000-"}));
}

TEST_F(Failover, EachHostGetsItsOwnTriesAndTheLastOneIsNamed) {
    // Both hosts cut every answer 50000 bytes in: the base's first answer and five resumes
    // there, five on the mirror, alternating, and the eleventh cut ends it.
    server.route("/game/file", ranged(body, 50000));
    mirror.route("/game/file", ranged(body, 50000));
    ResumingStream stream(twoHosts());
    const Outcome outcome = readAllOf(stream, "/game/file");
    EXPECT_LE(outcome.last, 0);
    EXPECT_TRUE(outcome.data == body.substr(0, 550000));
    EXPECT_EQ(server.requestCount("/game/file"), 1 + ResumingStream::kMaxResumes);
    EXPECT_EQ(mirror.requestCount("/game/file"), ResumingStream::kMaxResumes);
    EXPECT_EQ(rangesOf(mirror).front(), "bytes=50000-");
    const base::Failure failure = stream.readFailure("cut");
    EXPECT_EQ(failure.kind, base::FailureKind::kConnection);
    EXPECT_EQ(failure.text, "every download host failed; the last, " + origin(server) + ": connection lost at byte 550000");
}

TEST_F(Failover, OpeningMovesOnFromAHostThatCannotServeIt) {
    Response missing, unavailable, forbidden;
    missing.status = 404;
    unavailable.status = 503;
    forbidden.status = 403;
    // The base's host does not have it: the mirror serves it.
    server.route("/game/missing", missing);
    mirror.route("/game/missing", ranged(body.substr(0, 1000)));
    ResumingStream stream(twoHosts());
    base::Failure error;
    ASSERT_TRUE(stream.open(server.url("/game/missing"), error)) << error.text;
    EXPECT_TRUE(readAll(stream).data == body.substr(0, 1000));
    EXPECT_EQ(heard.back(), origin(mirror) + " after " + origin(server) + ": HTTP status 404 for " +
                                server.url("/game/missing"));

    // Neither has it: the last host asked, now the mirror first, is named.
    mirror.route("/game/gone", unavailable);
    server.route("/game/gone", unavailable);
    EXPECT_FALSE(stream.open(server.url("/game/gone"), error));
    EXPECT_EQ(error.kind, base::FailureKind::kHttpStatus);
    EXPECT_EQ(error.httpStatus, 503u);
    EXPECT_EQ(error.text, "every download host failed; the last, " + origin(server) + ": HTTP status 503 for " +
                              server.url("/game/gone"));

    // A refusal that would be the same anywhere is not taken elsewhere.
    mirror.route("/game/forbidden", forbidden);
    EXPECT_FALSE(stream.open(server.url("/game/forbidden"), error));
    EXPECT_EQ(error.text, "HTTP status 403 for " + mirror.url("/game/forbidden"));
    EXPECT_EQ(server.requestCount("/game/forbidden"), 0);
}

TEST_F(Failover, AMirrorThatTakesNoRangesSendsTheWholeBodyAndTheReadBytesAreSkipped) {
    server.route("/game/file", std::vector<Response>{ranged(body, 400000), ranged(body, 0)});
    Response plain = ranged(body);
    plain.ranges = false;
    mirror.route("/game/file", plain);
    ResumingStream stream(twoHosts());
    const Outcome outcome = readAllOf(stream, "/game/file");
    EXPECT_EQ(outcome.last, 0);
    EXPECT_TRUE(outcome.data == body);
    EXPECT_EQ(stream.received(), static_cast<int64_t>(body.size()));  // nothing counted twice
    EXPECT_EQ(rangesOf(mirror), std::vector<std::string>{"bytes=400000-"});
}

TEST_F(Failover, AStalledHostIsLeftForTheNextAtOnce) {
    const std::string data = body.substr(0, 100000);
    server.route("/game/slow", trickling(ranged(data)));
    mirror.route("/game/slow", ranged(data));
    pcupd::TransferOptions options = twoHosts();
    options.stall = kQuickLimit;
    ResumingStream stream(options);
    const Outcome outcome = readAllOf(stream, "/game/slow");
    EXPECT_EQ(outcome.last, 0);
    EXPECT_TRUE(outcome.data == data);
    EXPECT_EQ(server.requestCount("/game/slow"), 1);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].rfind(origin(mirror) + " after " + origin(server) + ": download stalled for " +
                                 server.url("/game/slow"), 0), 0u) << heard[1];
}
