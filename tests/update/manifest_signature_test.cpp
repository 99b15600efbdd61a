#include "update/manifest_signature.h"

#include "base/manifest_patch.h"
#include "tests/update/manifest_signer.h"
#include "tests/update/update_fixture.h"
#include "update/kept_manifest.h"

namespace {

const std::map<std::string, UpdateFixture::ClientFile> kClient = {
    {"Engine.exe", {std::string(20000, 'E')}},
    {"data/readme.txt", {"hello"}},
};
constexpr char kLater[] = "2099-01-01T00:00:00Z";

class SignedManifest : public UpdateFixture {
protected:
    void SetUp() override {
        publish(kClient);  // the files' routes; the manifest is replaced below
        options.manifestKeys = {signer.publicKey()};
    }
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, pcupd::kUserMemoryKey,
                           pcupd::userSequenceName(signer.publicKey()).c_str());
    }

    std::string manifest(uint64_t sequence, const std::string& expires = kLater,
                         const std::string& version = "1") const {
        std::string json = "{\"clientVersion\":\"" + version + "\",\"sequence\":" +
                           std::to_string(sequence) + ",\"expires\":\"" + expires + "\",\"files\":[";
        for (const auto& [path, file] : kClient)
            json += (json.back() == '[' ? "" : ",") + std::string("{\"path\":") + jsonString(path) +
                    ",\"sha256\":\"" + testsupport::sha256Hex(file.content) + "\",\"url\":" +
                    jsonString(server.url("/files/" + path)) +
                    ",\"size\":" + std::to_string(file.content.size()) + "}";
        return json + "]}";
    }
    void serve(const std::string& body, const std::string& signature, const std::string& etag = "") {
        server.route("/pc/manifest.json", response(body));
        testsupport::Response signatureResponse = response(signature);
        signatureResponse.etag = etag;
        server.route("/pc/manifest.json.sig", signatureResponse);
    }
    static testsupport::Response response(const std::string& body) {
        testsupport::Response response;
        response.body = body;
        return response;
    }
    // Runs an update; the requests it made.
    std::vector<std::string> runAndList(Run& result) {
        const size_t before = server.requests().size();
        result = run();
        std::vector<std::string> requests = server.requests();
        requests.erase(requests.begin(), requests.begin() + static_cast<long>(before));
        return requests;
    }

    // What the install folder's record says; 0 when there is none.
    uint64_t folderSequence() const {
        std::optional<uint64_t> sequence;
        std::string error;
        EXPECT_TRUE(pcupd::readFolderSequence(installDir.wstring(), sequence, error)) << error;
        return sequence.value_or(0);
    }

    testsupport::ManifestSigner signer;
};

}  // namespace

TEST_F(SignedManifest, VerifiedManifestRepairsAndItsSequenceIsRecorded) {
    const std::string body = manifest(5);
    serve(body, signer.sign(body));
    Run result;
    const std::vector<std::string> requests = runAndList(result);
    ASSERT_TRUE(result.result.ok) << result.result.error.text;
    EXPECT_EQ(installed("Engine.exe"), kClient.at("Engine.exe").content);
    EXPECT_EQ(result.manifest.sequence, 5u);
    EXPECT_EQ(requests.at(0), "/pc/manifest.json.sig");
    EXPECT_EQ(requests.at(1), "/pc/manifest.json");
    EXPECT_EQ(folderSequence(), 5u);

    // The same release again is fine; an older one is a rollback.
    EXPECT_TRUE(run().result.ok);
    const std::string older = manifest(4);
    serve(older, signer.sign(older));
    EXPECT_EQ(run().result.error.text, "manifest is older than the installed client");
    EXPECT_EQ(folderSequence(), 5u);
}

TEST_F(SignedManifest, SequencesKeepAllSixtyFourBitsInTheFolderAndForTheUser) {
    const std::filesystem::path first = installDir, second = dir / "Second";
    for (const uint64_t sequence : {uint64_t{1000000000000000000}, uint64_t{1} << 63, ~uint64_t{0}}) {
        SCOPED_TRACE(sequence);
        installDir = first;
        const std::string body = manifest(sequence), older = manifest(sequence - 1);
        serve(body, signer.sign(body));
        ASSERT_TRUE(run().result.ok);
        EXPECT_EQ(folderSequence(), sequence);
        // A replay of the release before, to this folder and to one that never saw either.
        serve(older, signer.sign(older));
        EXPECT_EQ(run().result.error.text, "manifest is older than the installed client");
        EXPECT_EQ(folderSequence(), sequence);
        installDir = second;
        EXPECT_EQ(run().result.error.text,
                  "manifest is older than a release already installed on this computer");
        EXPECT_FALSE(exists("Engine.exe"));
    }
    // The folder's record is never misread as a smaller number.
    uint64_t parsed = 0;
    for (const char* bad : {"18446744073709551616\n", "-1\n", "+5\n", " 5\n", "5 \n", "\n", ""})
        EXPECT_FALSE(pcupd::parseSequenceText(bad, parsed)) << bad;
    ASSERT_TRUE(pcupd::parseSequenceText(pcupd::sequenceText(~uint64_t{0}), parsed));
    EXPECT_EQ(parsed, ~uint64_t{0});
    installDir = first;
    testsupport::writeFile(installDir / "pcupd.sequence", "99999999999999999999\n");
    EXPECT_EQ(run().result.error.text,
              "the install folder's record of accepted releases (pcupd.sequence) is damaged");
}

TEST_F(SignedManifest, EveryRefusalFetchesOnlyTheManifestAndItsSignature) {
    const std::string body = manifest(3);
    const std::string good = signer.sign(body);
    std::string flippedBody = body;
    flippedBody[flippedBody.find("\"1\"") + 1] = '2';  // still valid JSON, another version
    std::string flippedSignature = good;
    flippedSignature[40] ^= 0x01;
    testsupport::ManifestSigner stranger;
    const std::string expired = manifest(3, "2001-01-01T00:00:00Z");
    const std::string timeless = manifest(3, "soon");
    const std::string leapless = manifest(3, "2099-02-29T00:00:00Z");

    struct Case {
        const char* name;
        std::string body, signature;
        int status;
        const char* error;
        int fetches;  // of each: a pair that does not verify is fetched twice (a missing
                      // signature leaves nothing to fetch the manifest for)
    };
    const Case cases[] = {
        {"flipped manifest byte", flippedBody, good, 200, "manifest signature is not valid", 2},
        {"flipped signature byte", body, flippedSignature, 200, "manifest signature is not valid", 2},
        {"another key", body, stranger.sign(body), 200, "manifest signature is not valid", 2},
        {"truncated signature", body, good.substr(0, 63), 200, "manifest signature is not valid", 2},
        {"no signature", body, "", 404, "manifest signature missing", 2},
        {"expired", expired, signer.sign(expired), 200, "manifest has expired", 1},
        {"no valid expiry", timeless, signer.sign(timeless), 200, "manifest has no valid expiry time", 1},
        {"29 February 2099", leapless, signer.sign(leapless), 200, "manifest has no valid expiry time", 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        serve(test.body, test.signature);
        if (test.status != 200) {
            testsupport::Response gone;
            gone.status = test.status;
            server.route("/pc/manifest.json.sig", gone);
        }
        Run result;
        std::vector<std::string> requests = runAndList(result);
        EXPECT_FALSE(result.result.ok);
        EXPECT_EQ(result.result.error.kind, base::FailureKind::kRefused);
        EXPECT_EQ(result.result.error.text, test.error);
        std::vector<std::string> expected;
        for (int i = 0; i < test.fetches; ++i) {
            expected.push_back("/pc/manifest.json.sig");
            if (test.status == 200) expected.push_back("/pc/manifest.json");
        }
        EXPECT_EQ(requests, expected);
        EXPECT_FALSE(exists("Engine.exe"));
    }
    // Only a 404 says the signature is missing: a failing host is the host's failure.
    serve(body, good);
    testsupport::Response failing;
    failing.status = 503;
    server.route("/pc/manifest.json.sig", failing);
    const Run unavailable = run();
    EXPECT_EQ(unavailable.result.error.kind, base::FailureKind::kHttpStatus);
    EXPECT_EQ(unavailable.result.error.httpStatus, 503u);
    EXPECT_EQ(folderSequence(), 0u);
}

TEST_F(SignedManifest, RotatedKeyAndAPublishBetweenTheTwoRequestsBothPass) {
    testsupport::ManifestSigner next;
    options.manifestKeys = {signer.publicKey(), next.publicKey()};
    const std::string old = manifest(1), fresh = manifest(2, kLater, "2");
    // The first manifest is the old release, its signature already the new one's.
    server.route("/pc/manifest.json", std::vector<testsupport::Response>{response(old), response(fresh)});
    server.route("/pc/manifest.json.sig", response(next.sign(fresh)));
    Run result;
    EXPECT_EQ(runAndList(result).size(), 4u + 2u);  // two pairs, then the two files
    ASSERT_TRUE(result.result.ok) << result.result.error.text;
    EXPECT_EQ(result.manifest.clientVersion, "2");

    // With only the retired key left, the new release is refused.
    options.manifestKeys = {signer.publicKey()};
    EXPECT_EQ(run().result.error.text, "manifest signature is not valid");
}

TEST_F(SignedManifest, NothingNewCostsA304AndANewReleaseComesAsAPatch) {
    const std::string first = manifest(5);
    serve(first, signer.sign(first), "\"s5\"");
    Run result;
    ASSERT_EQ(runAndList(result).at(1), "/pc/manifest.json");
    ASSERT_TRUE(result.result.ok) << result.result.error.text;

    EXPECT_EQ(runAndList(result), std::vector<std::string>{"/pc/manifest.json.sig"});
    EXPECT_TRUE(result.result.ok) << result.result.error.text;
    EXPECT_EQ(result.manifest.sequence, 5u);
    EXPECT_NE(server.requestHeads().back().find("\r\nIf-None-Match: \"s5\"\r\n"), std::string::npos);

    // Each new release: the patch from the kept manifest, checked against the new signature.
    // A damaged patch, or one that gives other bytes than were signed, falls back to the
    // manifest itself.
    const std::string second = manifest(6, kLater, "2"), third = manifest(7, kLater, "3"),
                      fourth = manifest(8, kLater, "4");
    const auto patchPath = [](const std::string& from) {
        return "/pc/patches/" + testsupport::sha256Hex(from);
    };
    const auto patch = [](const std::string& from, const std::string& to) {
        std::string bytes;
        base::makeManifestPatch(from, to, {testsupport::sha256Hex(from), testsupport::sha256Hex(to),
                                           from.size(), to.size()}, bytes);
        return response(bytes);
    };
    server.route(patchPath(first), patch(first, second));
    server.route(patchPath(second), response(patch(second, third).body.substr(0, 200)));
    server.route(patchPath(third), patch(third, manifest(8, kLater, "5")));
    const std::pair<std::string, std::vector<std::string>> releases[] = {
        {second, {"/pc/manifest.json.sig", patchPath(first)}},
        {third, {"/pc/manifest.json.sig", patchPath(second), "/pc/manifest.json"}},
        {fourth, {"/pc/manifest.json.sig", patchPath(third), "/pc/manifest.json"}},
    };
    for (const auto& [release, requests] : releases) {
        serve(release, signer.sign(release), "\"" + testsupport::sha256Hex(release).substr(0, 8) + "\"");
        EXPECT_EQ(runAndList(result), requests);
        ASSERT_TRUE(result.result.ok) << result.result.error.text;
        pcupd::Manifest expected;
        std::string error;
        ASSERT_TRUE(pcupd::parseManifest(release, expected, error));
        EXPECT_EQ(result.manifest.clientVersion, expected.clientVersion);
    }
}

TEST_F(SignedManifest, AKeptCopyThatFailsItsDigestOrSignatureIsNotUsed) {
    const std::string body = manifest(5);
    serve(body, signer.sign(body), "\"s5\"");
    ASSERT_TRUE(run().result.ok);
    const std::filesystem::path kept = installDir / "pcupd.manifest";
    std::string bytes = testsupport::readFile(kept);
    bytes[bytes.size() - 3] ^= 0x01;
    testsupport::writeFile(kept, bytes);
    Run result;
    EXPECT_EQ(runAndList(result), (std::vector<std::string>{"/pc/manifest.json.sig", "/pc/manifest.json"}));
    EXPECT_TRUE(result.result.ok) << result.result.error.text;
    EXPECT_EQ(server.requestHeads().at(server.requestHeads().size() - 2).find("If-None-Match"),
              std::string::npos);

    // Bytes that match the digest kept with them but not their signature: the 304 does not
    // vouch for them, and the signature is asked for again.
    const std::string url = server.url("/pc/manifest.json");
    ASSERT_TRUE(pcupd::saveKeptManifest(installDir.wstring(), {url, {"\"s5\"", ""}, signer.sign(body),
                                                               manifest(5, kLater, "9"), ""}));
    EXPECT_EQ(runAndList(result), (std::vector<std::string>{"/pc/manifest.json.sig",
                                                             "/pc/manifest.json.sig", "/pc/manifest.json"}));
    EXPECT_TRUE(result.result.ok) << result.result.error.text;
    EXPECT_EQ(result.manifest.clientVersion, "1");
}

TEST(ManifestKeys, UnsignedManifestsWithoutKeysAskForNoSignature) {
    EXPECT_TRUE(pcupd::builtInManifestKeys().empty());  // the test build has none built in
    testsupport::LoopbackServer server;
    testsupport::Response manifest;
    manifest.body = "{\"files\":[{\"path\":\"a\",\"sha256\":\"00\",\"url\":\"u\"}]}";
    server.route("/m.json", manifest);
    pcupd::Manifest parsed;
    base::Failure error;
    EXPECT_TRUE(pcupd::readManifest(server.url("/m.json"), {}, L"", parsed, nullptr, error)) << error.text;
    EXPECT_EQ(parsed.files.size(), 1u);
    EXPECT_EQ(server.requests(), std::vector<std::string>{"/m.json"});

    // With an install folder the manifest is kept, and then asked for conditionally.
    testsupport::TempDir dir;
    manifest.etag = "\"m1\"";
    manifest.body += std::string(1000, ' ');
    server.route("/m.json", manifest);
    uint64_t sent = 0;
    for (int run = 0; run < 2; ++run) {
        parsed = pcupd::Manifest();
        sent = server.bytesSent();
        EXPECT_TRUE(pcupd::readManifest(server.url("/m.json"), {}, dir.str(), parsed, nullptr, error));
        EXPECT_EQ(parsed.files.size(), 1u);
    }
    EXPECT_EQ(server.requests().size(), 3u);
    EXPECT_NE(server.requestHeads().back().find("\r\nIf-None-Match: \"m1\"\r\n"), std::string::npos);
    EXPECT_LT(server.bytesSent() - sent, manifest.body.size());  // a bodiless 304

    // A server without validators sends the same bytes again: the kept copy stands, not
    // written again. Dropped validators, or other bytes, replace it.
    manifest.etag.clear();
    const std::filesystem::path kept = dir / "pcupd.manifest";
    const std::pair<std::string, bool> runs[] = {
        {manifest.body, false}, {manifest.body, true}, {manifest.body + " ", false}};
    for (const auto& [body, stands] : runs) {
        manifest.body = body;
        server.route("/m.json", manifest);
        const auto before = std::filesystem::last_write_time(kept) - std::chrono::hours(1);
        std::filesystem::last_write_time(kept, before);
        EXPECT_TRUE(pcupd::readManifest(server.url("/m.json"), {}, dir.str(), parsed, nullptr, error));
        pcupd::KeptManifest copy;
        ASSERT_TRUE(pcupd::loadKeptManifest(dir.str(), server.url("/m.json"), copy));
        EXPECT_TRUE(copy.body == body && copy.validators.empty());
        EXPECT_EQ(std::filesystem::last_write_time(kept) == before, stands);
    }
}
