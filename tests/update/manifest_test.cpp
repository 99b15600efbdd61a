#include "update/manifest.h"

#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/manifest_signature.h"

using pcupd::FullArchive;
using pcupd::Manifest;

namespace {

const char kSha[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string file(const std::string& path, const std::string& extra = "") {
    return "{\"path\":\"" + path + "\",\"sha256\":\"" + kSha + "\",\"url\":\"http://h/" + path +
           "\"" + extra + "}";
}

struct Parsed {
    bool ok;
    Manifest manifest;
    std::string error;
};

Parsed parseManifest(const std::string& body) {
    Parsed parsed;
    parsed.error = "untouched";
    parsed.ok = pcupd::parseManifest(body, parsed.manifest, parsed.error);
    return parsed;
}

int64_t sizeFromJson(const std::string& size) {
    Parsed parsed = parseManifest("{\"files\":[" + file("a", ",\"size\":" + size) + "]}");
    EXPECT_TRUE(parsed.ok) << size;
    return parsed.ok ? parsed.manifest.files[0].size : -12345;
}

}  // namespace

TEST(Manifest, ReadsEveryField) {
    const Parsed p = parseManifest(
        "{\"clientVersion\":\"1.4.2\",\"required\":false,\"extra\":[1,2],\"files\":[" +
        file("Engine.exe", ",\"size\":1234") + "," + file("data/a.pak") + "]}");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.error, "untouched");
    EXPECT_EQ(p.manifest.clientVersion, "1.4.2");
    EXPECT_FALSE(p.manifest.required);
    ASSERT_EQ(p.manifest.files.size(), 2u);
    EXPECT_EQ(p.manifest.files[0].path, "engine.exe");
    EXPECT_EQ(p.manifest.files[0].sha256, kSha);
    EXPECT_EQ(p.manifest.files[0].size, 1234);
    EXPECT_EQ(p.manifest.files[0].url, "http://h/Engine.exe");
    EXPECT_EQ(p.manifest.files[1].path, "data/a.pak");
    EXPECT_EQ(p.manifest.files[1].size, 0);
    EXPECT_EQ(p.manifest.baseUrl, "");
    EXPECT_TRUE(p.manifest.mirrors.empty());

    // Where else the files are served: the strings of the list, in order.
    const Parsed mirrored = parseManifest("{\"baseUrl\":\"http://h\",\"mirrors\":[\"https://m1/g\",7,\"http://m2\"],"
                                          "\"files\":[" + file("Engine.exe") + "]}");
    ASSERT_TRUE(mirrored.ok) << mirrored.error;
    EXPECT_EQ(mirrored.manifest.baseUrl, "http://h");
    EXPECT_EQ(mirrored.manifest.mirrors, (std::vector<std::string>{"https://m1/g", "http://m2"}));
}

TEST(Manifest, ChunkIndexFieldsComeAsAPairOrNotAtAll) {
    const std::string url = ",\"chunksUrl\":\"http://h/I\"";
    const Parsed p = parseManifest(
        "{\"files\":[" + file("both", url + ",\"chunksSha256\":\"ABcd\"") + "," + file("plain") +
        "," + file("url-only", url) + "," + file("sha-only", ",\"chunksSha256\":\"ab\"") + "," +
        file("not-string", url + ",\"chunksSha256\":12") + "]}");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.manifest.files.size(), 5u);
    EXPECT_EQ(p.manifest.files[0].chunksUrl, "http://h/I");
    EXPECT_EQ(p.manifest.files[0].chunksSha256, "abcd");
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(p.manifest.files[i].chunksUrl, "") << p.manifest.files[i].path;
        EXPECT_EQ(p.manifest.files[i].chunksSha256, "") << p.manifest.files[i].path;
    }
}

TEST(Manifest, LowercasesPathAndDigestButNotUrl) {
    const Parsed p = parseManifest(
        "{\"files\":[{\"path\":\"Data\\\\Maps\\\\A.PAK\",\"sha256\":\"ABCDEF0123\","
        "\"url\":\"HTTP://Host/Data/A.PAK\"}]}");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.manifest.files[0].path, "data\\maps\\a.pak");
    EXPECT_EQ(p.manifest.files[0].sha256, "abcdef0123");
    EXPECT_EQ(p.manifest.files[0].url, "HTTP://Host/Data/A.PAK");
}

TEST(Manifest, FilesArrayFailures) {
    struct Case {
        const char* body;
        const char* error;
    } cases[] = {
        {"{\"files\":[]}", "manifest listed no usable files"},
        {"{\"files\":{}}", "manifest has no files array"},
        {"{\"clientVersion\":\"2\"}", "manifest has no files array"},
        {"{\"files\":[1,\"a\",[],null]}", "manifest listed no usable files"},
        {"[]", "manifest is not valid JSON"},
        {"\"text\"", "manifest is not valid JSON"},
        {"{\"files\":[", "manifest is not valid JSON"},
        {"", "manifest is not valid JSON"},
    };
    for (const Case& c : cases) {
        const Parsed p = parseManifest(c.body);
        EXPECT_FALSE(p.ok) << c.body;
        EXPECT_EQ(p.error, c.error) << c.body;
    }
    // The record keeps what was read before the files array was found missing.
    const Parsed p = parseManifest("{\"clientVersion\":\"9\",\"required\":false,\"files\":7}");
    EXPECT_EQ(p.manifest.clientVersion, "9");
    EXPECT_FALSE(p.manifest.required);
}

TEST(Manifest, UnusableEntriesAreDroppedSilently) {
    const std::string sha = std::string("\"sha256\":\"") + kSha + "\"";
    const Parsed p = parseManifest(
        "{\"files\":[7,\"x\",[" + file("nested") + "]," +
        "{\"path\":\"nourl\"," + sha + "}," +
        "{\"path\":\"\"," + sha + ",\"url\":\"u\"}," +
        "{\"path\":\"nosha\",\"sha256\":\"\",\"url\":\"u\"}," +
        "{\"path\":5," + sha + ",\"url\":\"u\"}," + file("good") + "]}");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.manifest.files.size(), 1u);
    EXPECT_EQ(p.manifest.files[0].path, "good");
}

TEST(Manifest, IntegerRule) {
    EXPECT_EQ(sizeFromJson("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(sizeFromJson("9223372036854775808"), INT64_MIN);  // bit for bit
    EXPECT_EQ(sizeFromJson("18446744073709551615"), -1);
    EXPECT_EQ(sizeFromJson("18446744073709551616"), 0);  // beyond 64 bits: a double
    EXPECT_EQ(sizeFromJson("-42"), -42);
    EXPECT_EQ(sizeFromJson("12.0"), 0);
    EXPECT_EQ(sizeFromJson("1e3"), 0);
    EXPECT_EQ(sizeFromJson("\"123\""), 0);
    EXPECT_EQ(sizeFromJson("true"), 0);

    // A sequence is any whole number of 64 bits, and nothing else.
    const auto sequence = [](const std::string& json) {
        return parseManifest("{\"sequence\":" + json + ",\"files\":[" + file("a") + "]}").manifest.sequence;
    };
    EXPECT_EQ(sequence("18446744073709551615"), ~uint64_t{0});
    EXPECT_EQ(sequence("0"), uint64_t{0});
    for (const char* none : {"18446744073709551616", "-1", "1.0", "\"7\"", "null"})
        EXPECT_FALSE(sequence(none).has_value()) << none;
}

TEST(Manifest, RequiredOnlyFromABoolean) {
    EXPECT_TRUE(parseManifest("{\"required\":0,\"files\":[" + file("a") + "]}").manifest.required);
    EXPECT_TRUE(parseManifest("{\"required\":\"false\",\"files\":[" + file("a") + "]}").manifest.required);
    EXPECT_FALSE(parseManifest("{\"required\":false,\"files\":[" + file("a") + "]}").manifest.required);
    EXPECT_EQ(parseManifest("{\"clientVersion\":3,\"files\":[" + file("a") + "]}").manifest.clientVersion, "");
}

TEST(Manifest, StringsStopAtAnEmbeddedNul) {
    const Parsed p = parseManifest(
        "{\"clientVersion\":\"1\\u00002\",\"files\":[{\"path\":\"a\\u0000b\",\"sha256\":\"AB\","
        "\"url\":\"u\\u0000v\"}]}");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.manifest.clientVersion, "1");
    EXPECT_EQ(p.manifest.files[0].path, "a");
    EXPECT_EQ(p.manifest.files[0].url, "u");
    // A path that is nothing but a NUL is empty, so the entry is unusable.
    EXPECT_EQ(parseManifest("{\"files\":[{\"path\":\"\\u0000x\",\"sha256\":\"a\",\"url\":\"u\"}]}").error,
              "manifest listed no usable files");
}

TEST(Manifest, BodyIsReadUpToItsFirstNul) {
    const std::string whole = "{\"files\":[" + file("a") + "]}";
    EXPECT_TRUE(parseManifest(whole + std::string("\0trailing junk", 14)).ok);
    EXPECT_EQ(parseManifest(std::string("{\"files\":\0", 10) + "[" + file("a") + "]}").error,
              "manifest is not valid JSON");
}

TEST(Manifest, FirstOfDuplicateKeysWins) {
    const Parsed p = parseManifest(
        "{\"clientVersion\":\"first\",\"clientVersion\":\"second\",\"files\":[" +
        file("one", ",\"path\":\"two\"") + "],\"files\":[]}");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.manifest.clientVersion, "first");
    ASSERT_EQ(p.manifest.files.size(), 1u);
    EXPECT_EQ(p.manifest.files[0].path, "one");
}

TEST(Manifest, DuplicatePathsAreKept) {
    const Parsed p = parseManifest("{\"files\":[" + file("a") + "," + file("A") + "]}");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.manifest.files.size(), 2u);
}

TEST(Manifest, DeepNestingIsRejectedNotACrash) {
    // Millions of open brackets would overflow the stack of a recursive parser.
    const std::string deep = "{\"files\":" + std::string(4000000, '[') + "}";
    EXPECT_EQ(parseManifest(deep).error, "manifest is not valid JSON");
    EXPECT_EQ(parseManifest(std::string(4000000, '[')).error, "manifest is not valid JSON");
}

TEST(Manifest, ReusedRecordHoldsOnlyTheLatestFiles) {
    Manifest manifest;
    std::string error;
    ASSERT_TRUE(pcupd::parseManifest("{\"clientVersion\":\"1\",\"required\":false,\"files\":[" +
                                         file("a") + "," + file("b") + "]}",
                                     manifest, error));
    ASSERT_TRUE(pcupd::parseManifest("{\"files\":[" + file("c") + "]}", manifest, error));
    ASSERT_EQ(manifest.files.size(), 1u);
    EXPECT_EQ(manifest.files[0].path, "c");
    EXPECT_EQ(manifest.clientVersion, "");
    EXPECT_TRUE(manifest.required);
}

TEST(FullArchive, ReadsTheEntry) {
    FullArchive archive;
    std::string error = "untouched";
    ASSERT_TRUE(pcupd::parseFullArchive(
        "{\"files\":7,\"fullArchive\":{\"url\":\"HTTP://H/Client.orvpak\",\"sha256\":\"ABCD\","
        "\"size\":1610612736,\"format\":\"ORVPAK1\"}}",
        archive, error));
    EXPECT_EQ(error, "untouched");
    EXPECT_TRUE(archive.valid);
    EXPECT_EQ(archive.url, "HTTP://H/Client.orvpak");
    EXPECT_EQ(archive.sha256, "abcd");
    EXPECT_EQ(archive.size, 1610612736);
    EXPECT_EQ(archive.format, "ORVPAK1");

    ASSERT_TRUE(pcupd::parseFullArchive("{\"fullArchive\":{\"url\":\"u\"}}", archive, error));
    EXPECT_TRUE(archive.valid);
    EXPECT_EQ(archive.sha256, "");
    EXPECT_EQ(archive.format, "");
    EXPECT_EQ(archive.size, 0);
}

TEST(FullArchive, Failures) {
    FullArchive previous;
    previous.url = "kept";
    previous.valid = true;
    struct Case {
        const char* body;
        const char* error;
        bool recordTouched;
    } cases[] = {
        {"{\"files\":[]}", "manifest has no fullArchive entry", false},
        {"{\"fullArchive\":\"http://h/a\"}", "manifest has no fullArchive entry", false},
        {"{\"fullArchive\":[]}", "manifest has no fullArchive entry", false},
        {"[{\"fullArchive\":{\"url\":\"u\"}}]", "manifest is not valid JSON", false},
        {"{\"fullArchive\":{\"url\":\"\",\"sha256\":\"AB\"}}", "fullArchive has no url", true},
        {"{\"fullArchive\":{\"url\":42}}", "fullArchive has no url", true},
    };
    for (const Case& c : cases) {
        FullArchive archive = previous;
        std::string error;
        EXPECT_FALSE(pcupd::parseFullArchive(c.body, archive, error)) << c.body;
        EXPECT_EQ(error, c.error) << c.body;
        EXPECT_FALSE(c.recordTouched ? archive.valid : !archive.valid) << c.body;
        EXPECT_EQ(archive.url, c.recordTouched ? "" : "kept") << c.body;
    }
}

TEST(ToLowerAscii, OnlyAsciiLettersChange) {
    EXPECT_EQ(pcupd::toLowerAscii(std::string("AZaz@[`{09 \xC3\x84")), "azaz@[`{09 \xC3\x84");
    EXPECT_EQ(pcupd::toLowerAscii(std::wstring(L"AZaz@[\u00C4\u0130")), L"azaz@[\u00C4\u0130");
}

TEST(ReadManifest, OverHttp) {
    testsupport::LoopbackServer server;
    testsupport::Response response;
    response.body = "{\"fullArchive\":{\"url\":\"u\"},\"files\":[" + file("a") + "]}";
    server.route("/pc/manifest.json", response);
    response.body = "not json";
    server.route("/bad.json", response);
    testsupport::TempDir dir;

    Manifest manifest;
    FullArchive archive;
    base::Failure error;
    EXPECT_TRUE(pcupd::readManifest(server.url("/pc/manifest.json"), {}, dir.str(), manifest,
                                    &archive, error));
    EXPECT_FALSE(error);
    EXPECT_EQ(manifest.files.size(), 1u);
    EXPECT_EQ(archive.url, "u");

    // Transport failures pass through unchanged; a parser's is bad input.
    EXPECT_FALSE(pcupd::readManifest(server.url("/missing"), {}, dir.str(), manifest, nullptr, error));
    EXPECT_EQ(error.text, "HTTP status 404 for " + server.url("/missing"));
    EXPECT_FALSE(pcupd::readManifest("nope", {}, dir.str(), manifest, &archive, error));
    EXPECT_EQ(error.text, "bad url: nope");
    EXPECT_FALSE(pcupd::readManifest(server.url("/bad.json"), {}, dir.str(), manifest, &archive, error));
    EXPECT_EQ(error.kind, base::FailureKind::kBadInput);
    EXPECT_EQ(error.text, "manifest is not valid JSON");
}
