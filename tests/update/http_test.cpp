#include "update/http.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/download.h"
#include "update/http_document.h"
#include "update/sha256.h"

using pcupd::HttpStream;
using testsupport::LoopbackServer;
using testsupport::Response;
using Framing = testsupport::Response::Framing;

namespace {

struct ParsedUrl {
    bool ok = false;
    std::wstring host, path;
    uint16_t port = 0;
    bool secure = false;
};

ParsedUrl parse(const std::string& url) {
    ParsedUrl parsed;
    parsed.ok = pcupd::parseUrl(url, parsed.host, parsed.port, parsed.path, parsed.secure);
    return parsed;
}

Response ok(std::string body) {
    Response response;
    response.body = std::move(body);
    return response;
}

std::string patterned(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return text;
}

// `text` as a gzip stream, as a web server compresses it.
std::string gzipped(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A port that refuses connections: one a server listened on and gave back.
uint16_t closedPort() {
    LoopbackServer server;
    const uint16_t port = server.port();
    server.stop();
    return port;
}

}  // namespace

TEST(ParseUrl, SchemesDefaultsAndPorts) {
    ParsedUrl p = parse("HTTPS://Update.Example.com/pc/manifest.json");
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.secure);
    EXPECT_EQ(p.port, 443);
    EXPECT_EQ(p.host, L"Update.Example.com");
    EXPECT_EQ(p.path, L"/pc/manifest.json");

    p = parse("http://example.com");
    EXPECT_TRUE(p.ok);
    EXPECT_FALSE(p.secure);
    EXPECT_EQ(p.port, 80);
    EXPECT_EQ(p.path, L"/");

    p = parse("https://example.com:8443/a?b=c#frag%20x");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.port, 8443);
    EXPECT_EQ(p.path, L"/a?b=c#frag%20x");  // neither escaped nor decoded
}

TEST(ParseUrl, PortIsOneTo65535InDigits) {
    EXPECT_EQ(parse("http://h:1/").port, 1);
    EXPECT_EQ(parse("http://h:65535/").port, 65535);
    EXPECT_EQ(parse("http://h:00080/").port, 80);
    for (const char* url : {"http://h:abc/", "http://h:/", "http://h: 81/", "http://h:81x/",
                            "http://h:0/", "http://h:65536/", "http://h:65616/", "http://h:-1/",
                            "http://h:+80/", "http://h:99999999999999999999/", "http://h:"})
        EXPECT_FALSE(parse(url).ok) << url;
}

TEST(ParseUrl, RejectsBadUrls) {
    EXPECT_FALSE(parse("ftp://example.com/x").ok);
    EXPECT_FALSE(parse("example.com/x").ok);
    EXPECT_FALSE(parse("").ok);
    EXPECT_FALSE(parse("ht").ok);
    EXPECT_FALSE(parse("https://").ok);
    EXPECT_FALSE(parse("https:///path").ok);
    EXPECT_FALSE(parse("https://:443/path").ok);
}

TEST(ParseUrl, HostAndPathConvertedFromUtf8) {
    const ParsedUrl p = parse("http://h\xC3\xA9/\xE6\x97\xA5.pak");
    EXPECT_EQ(p.host, L"h\u00E9");
    EXPECT_EQ(p.path, L"/\u65E5.pak");
}

TEST(OpenRequest, BadUrlRefusedConnectionAndMissingResponse) {
    std::string body;
    base::Failure error;
    EXPECT_FALSE(pcupd::httpGet("ftp://x/y", body, error));
    EXPECT_EQ(error.kind, base::FailureKind::kBadInput);
    EXPECT_EQ(error.text, "bad url: ftp://x/y");
    EXPECT_FALSE(pcupd::httpGet("http://127.0.0.1:0/m", body, error));
    EXPECT_EQ(error.kind, base::FailureKind::kBadInput);

    EXPECT_FALSE(pcupd::httpGet("http://127.0.0.1:" + std::to_string(closedPort()) + "/m", body, error));
    EXPECT_EQ(error.kind, base::FailureKind::kConnection);
    EXPECT_NE(error.systemError, 0u);
    EXPECT_EQ(error.text, "WinHttpSendRequest failed (no network?)");
    EXPECT_TRUE(error.transient());

    LoopbackServer server;
    Response silent;
    silent.noResponse = true;
    server.route("/m", silent);
    EXPECT_FALSE(pcupd::httpGet(server.url("/m"), body, error));
    EXPECT_EQ(error.kind, base::FailureKind::kConnection);
    EXPECT_EQ(error.text, "WinHttpReceiveResponse failed");
}

TEST(OpenRequest, OnlyStatus200Succeeds) {
    LoopbackServer server;
    for (int status : {404, 204, 206, 500}) {
        Response response = ok("x");
        response.status = status;
        if (status == 204) response.body.clear();
        const std::string path = "/s" + std::to_string(status);
        server.route(path, response);
        std::string body;
        base::Failure error;
        EXPECT_FALSE(pcupd::httpGet(server.url(path), body, error));
        EXPECT_EQ(error.kind, base::FailureKind::kHttpStatus);
        EXPECT_EQ(error.httpStatus, static_cast<uint32_t>(status));
        EXPECT_EQ(error.transient(), status == 500);
        EXPECT_EQ(error.text, "HTTP status " + std::to_string(status) + " for " + server.url(path));
    }
}

TEST(OpenRequest, SendsOneGetWithOurUserAgentToThePathAsWritten) {
    LoopbackServer server;
    server.route("/pc/manifest.json?v=2", ok("{}"));
    std::string body;
    base::Failure error;
    ASSERT_TRUE(pcupd::httpGet(server.url("/pc/manifest.json?v=2"), body, error)) << error.text;
    EXPECT_EQ(server.requests(), std::vector<std::string>{"/pc/manifest.json?v=2"});
    const std::string head = server.requestHeads().at(0);
    EXPECT_EQ(head.rfind("GET /pc/manifest.json?v=2 HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nUser-Agent: OrvaneOnline-PC-Updater/1.0\r\n"), std::string::npos) << head;
}

TEST(HttpGet, ReadsEveryFraming) {
    LoopbackServer server;
    const std::string text = patterned(300000);
    server.route("/length", ok(text));
    Response closeDelimited = ok(text);
    closeDelimited.framing = Framing::CloseDelimited;
    server.route("/close", closeDelimited);
    Response chunked = ok(text);
    chunked.framing = Framing::Chunked;
    chunked.pieceSize = 7001;
    server.route("/chunked", chunked);
    Response trickle = ok(text.substr(0, 5000));
    trickle.pieceSize = 997;
    trickle.pauseMs = 5;
    server.route("/trickle", trickle);
    Response extra = ok("{\"a\":1}");
    extra.trailing = "GARBAGE AFTER THE BODY";
    server.route("/extra", extra);
    server.route("/empty", ok(""));

    const std::pair<const char*, std::string> cases[] = {
        {"/length", text},   {"/close", text}, {"/chunked", text}, {"/trickle", text.substr(0, 5000)},
        {"/extra", "{\"a\":1}"}, {"/empty", ""}};
    for (const auto& [path, expected] : cases) {
        std::string body = "stale";
        base::Failure error;
        EXPECT_TRUE(pcupd::httpGet(server.url(path), body, error)) << path << ": " << error.text;
        EXPECT_EQ(body.size(), expected.size()) << path;
        EXPECT_TRUE(body == expected) << path;
        EXPECT_FALSE(error) << path;
    }
}

TEST(HttpGet, BodyCutShortOfItsLengthFails) {
    LoopbackServer server;
    Response cut = ok(patterned(100000));
    cut.cutAfter = 60000;
    server.route("/cut", cut);
    Response liar = ok("short");
    liar.declaredLength = 100;
    server.route("/liar", liar);
    for (const char* path : {"/cut", "/liar"}) {
        std::string body;
        base::Failure error;
        EXPECT_FALSE(pcupd::httpGet(server.url(path), body, error)) << path;
        EXPECT_EQ(error.kind, base::FailureKind::kConnection) << path;
        EXPECT_EQ(error.text, "read failed") << path;
    }
}

TEST(HttpGet, RefusesBodiesBeyondTheCap) {
    LoopbackServer server;
    // Declared too large: refused before a byte of the body is read.
    Response declared = ok("x");
    declared.declaredLength = pcupd::kMaxHttpGetBody + 1;
    declared.cutAfter = 0;
    server.route("/declared", declared);
    // No length at all, and a body that goes on past the cap.
    Response endless = ok(std::string(static_cast<size_t>(pcupd::kMaxHttpGetBody) + 1, 'x'));
    endless.framing = Framing::CloseDelimited;
    server.route("/endless", endless);
    for (const char* path : {"/declared", "/endless"}) {
        std::string body;
        base::Failure error;
        EXPECT_FALSE(pcupd::httpGet(server.url(path), body, error)) << path;
        EXPECT_EQ(error.kind, base::FailureKind::kTooLarge) << path;
        EXPECT_EQ(error.text, "response too large") << path;
    }
    // Exactly at the cap is still fine.
    server.route("/cap", ok(std::string(static_cast<size_t>(pcupd::kMaxHttpGetBody), 'y')));
    std::string body;
    base::Failure error;
    EXPECT_TRUE(pcupd::httpGet(server.url("/cap"), body, error)) << error.text;
    EXPECT_EQ(body.size(), static_cast<size_t>(pcupd::kMaxHttpGetBody));
}

TEST(FetchDocument, GzipIsAskedForDecodedAndBounded) {
    LoopbackServer server;
    const std::string text = patterned(300000);
    const auto compressed = [](std::string body) {
        Response response = ok(std::move(body));
        response.headers.push_back({"Content-Encoding", "gzip"});
        response.framing = Framing::Chunked;
        response.pieceSize = 1000;
        return response;
    };
    server.route("/gzip", compressed(gzipped(text)));
    std::string damaged = gzipped(text);
    damaged[damaged.size() - 6] ^= 0x01;  // the checksum
    server.route("/damaged", compressed(damaged));
    server.route("/short", compressed(damaged.substr(0, damaged.size() / 2)));
    server.route("/trailing", compressed(gzipped(text) + "x"));
    // A few hundred kilobytes that would inflate past the cap.
    server.route("/bomb", compressed(gzipped(std::string(static_cast<size_t>(pcupd::kMaxHttpGetBody) + 1, '\0'))));
    Response other = ok("data");
    other.headers.push_back({"Content-Encoding", "br"});
    server.route("/other", other);

    pcupd::Document document;
    base::Failure error;
    ASSERT_TRUE(pcupd::fetchDocument(server.url("/gzip"), {}, true, document, error)) << error.text;
    EXPECT_TRUE(document.body == text);
    EXPECT_NE(server.requestHeads().back().find("\r\nAccept-Encoding: gzip\r\n"), std::string::npos);
    const std::pair<const char*, base::FailureKind> refused[] = {
        {"/damaged", base::FailureKind::kBadInput}, {"/short", base::FailureKind::kBadInput},
        {"/trailing", base::FailureKind::kBadInput}, {"/other", base::FailureKind::kBadInput},
        {"/bomb", base::FailureKind::kTooLarge}};
    for (const auto& [path, kind] : refused) {
        EXPECT_FALSE(pcupd::fetchDocument(server.url(path), {}, true, document, error)) << path;
        EXPECT_EQ(error.kind, kind) << path;
        EXPECT_TRUE(document.body.empty()) << path;
    }
    EXPECT_EQ(error.text, "response too large");
    // Only the documents ask for compression; a plain GET (chunk indexes) does not.
    std::string body;
    ASSERT_TRUE(pcupd::httpGet(server.url("/gzip"), body, error));
    EXPECT_EQ(server.requestHeads().back().find("Accept-Encoding"), std::string::npos);
}

TEST(HttpStream, ReadsToTheEndWithOrWithoutLength) {
    LoopbackServer server;
    const std::string text = patterned(2500000);
    server.route("/length", ok(text));
    Response closeDelimited = ok(text);
    closeDelimited.framing = Framing::CloseDelimited;
    closeDelimited.pieceSize = 65536;
    server.route("/close", closeDelimited);

    for (const char* path : {"/length", "/close"}) {
        HttpStream stream;
        base::Failure error;
        ASSERT_TRUE(stream.open(server.url(path), error)) << error.text;
        EXPECT_EQ(stream.contentLength(), std::string(path) == "/length" ? 2500000 : -1) << path;
        std::string received;
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const int32_t got = stream.read(buffer.data(), static_cast<int32_t>(buffer.size()));
            ASSERT_GE(got, 0) << path;
            if (got == 0) break;
            received.append(buffer.data(), static_cast<size_t>(got));
        }
        EXPECT_TRUE(received == text) << path;
    }
}

TEST(HttpStream, ClosedAndEmptyReadsReturnMinusOne) {
    LoopbackServer server;
    server.route("/a", ok("abc"));
    char buffer[8];

    HttpStream stream;
    EXPECT_EQ(stream.read(buffer, sizeof(buffer)), -1);  // never opened

    base::Failure error;
    ASSERT_TRUE(stream.open(server.url("/a"), error)) << error.text;
    EXPECT_EQ(stream.contentLength(), 3);
    EXPECT_EQ(stream.read(buffer, 0), -1);
    EXPECT_EQ(stream.read(buffer, -5), -1);
    EXPECT_EQ(stream.read(buffer, 2), 2);  // length 0 consumed nothing
    stream.close();
    EXPECT_EQ(stream.read(buffer, sizeof(buffer)), -1);
    EXPECT_EQ(stream.contentLength(), -1);
    EXPECT_FALSE(stream.isOpen());
    stream.close();  // twice is harmless
}

TEST(HttpStream, FailedOpenLeavesItClosedAndReopenStartsOver) {
    LoopbackServer server;
    server.route("/a", ok("first"));
    server.route("/b", ok("second!"));

    HttpStream stream;
    base::Failure error;
    ASSERT_TRUE(stream.open(server.url("/a"), error));
    ASSERT_TRUE(stream.open(server.url("/b"), error));  // closes /a first
    EXPECT_EQ(stream.contentLength(), 7);
    char buffer[16] = {};
    EXPECT_EQ(stream.read(buffer, sizeof(buffer)), 7);
    EXPECT_EQ(std::string(buffer, 7), "second!");

    EXPECT_FALSE(stream.open(server.url("/missing"), error));
    EXPECT_EQ(error.text, "HTTP status 404 for " + server.url("/missing"));
    EXPECT_FALSE(stream.isOpen());
    EXPECT_EQ(stream.contentLength(), -1);
    EXPECT_EQ(stream.read(buffer, sizeof(buffer)), -1);
}

TEST(SharedConnection, ManifestDownloadsAndStreamGoOverOneConnection) {
    const std::string file = patterned(300000);
    testsupport::TempDir dir;
    // A manifest, three downloads and a stream; the number of connections they took.
    const auto connectionsFor = [&](bool reuse) {
        LoopbackServer server;
        server.setKeepAlive(true);
        server.route("/pc/manifest.json", ok("{}"));
        server.route("/files/a", ok(file));
        pcupd::TransferOptions options;
        options.reuseConnections = reuse;
        std::string body;
        base::Failure error;
        EXPECT_TRUE(pcupd::httpGet(server.url("/pc/manifest.json"), body, error, options)) << error.text;
        pcupd::DownloadOptions download;
        download.transfer = options;
        for (int i = 0; i < 3; ++i) {
            pcupd::Downloaded got;
            EXPECT_TRUE(pcupd::download(server.url("/files/a"), (dir / "a.part").wstring(), download,
                                        got, error))
                << error.text;
        }
        HttpStream stream;
        EXPECT_TRUE(stream.open(server.url("/files/a"), error, options)) << error.text;
        std::vector<char> buffer(1 << 20);
        while (stream.read(buffer.data(), static_cast<int32_t>(buffer.size())) > 0) {
        }
        EXPECT_EQ(server.requests().size(), 5u);
        return server.connectionCount();
    };
    EXPECT_EQ(connectionsFor(true), 1);
    // What the benchmarks compare with: a session and a connection per request.
    EXPECT_EQ(connectionsFor(false), 5);
}
