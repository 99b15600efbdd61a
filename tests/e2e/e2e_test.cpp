// The install worker against a real nginx, over HTTPS and HTTP, with a test authority that
// only this Wine prefix trusts. tests/e2e/run.sh starts the server and passes, in the
// environment, its ports (NGINX_*_PORT), the folder it serves (E2E_WWW) and its access log
// (E2E_ACCESS_LOG), both as Windows paths. Every case publishes its own client into its own
// folder of the served tree and reads back only its own requests from the log. A second,
// slow nginx serves the same tree (NGINX_STOPPING_*) until a case asks run.sh to stop it
// (E2E_STOP_ORIGIN).

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/text.h"
#include "install/worker.h"
#include "tests/support/archive_builder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"
#include "tools/orvpak/manifest_signer.h"
#include "tools/orvpak/publish.h"
#include "update/http.h"
#include "update/manifest.h"
#include "update/release_memory.h"

using namespace installer;

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::wstring kRefused =
    L"Could not read the update manifest: WinHttpSendRequest failed (secure connection refused: "
    L"certificate not trusted or not for this host)";

using testsupport::noise;

const std::vector<std::pair<std::string, std::string>> kClient = {
    {"Engine.exe", noise(150000, 1)},
    {"data/maps/forest.pak", noise(100000, 2)},
    {"data/lang/en.txt", "Welcome to Orvane.\r\n"},
    {"data/empty.cfg", ""},
    {"readme.txt", "Orvane Online\n"},
};

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// One request as nginx logged it: port "METHOD target HTTP/1.1" status bytes seconds "range".
struct Served {
    std::string port, method, target;
    int status = 0;
    uint64_t bytes = 0;  // of the body as sent (compressed, when it was); not compared
    std::string range;   // the request's Range header, "-" when it had none; not compared
    bool operator==(const Served& other) const {
        return port == other.port && method == other.method && target == other.target &&
               status == other.status;
    }
    bool operator<(const Served& other) const { return port + target < other.port + other.target; }
};

std::ostream& operator<<(std::ostream& out, const Served& served) {
    return out << served.port << ' ' << served.method << ' ' << served.target << ' ' << served.status;
}

class NginxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(env("E2E_WWW").empty() || env("E2E_ACCESS_LOG").empty() ||
                     env("NGINX_HTTPS_PORT").empty())
            << "run through tests/e2e/run.sh, which starts the server";
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the worker posts to this queue
        folder = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    static std::string origin(const char* scheme, const char* host, const char* portVariable) {
        return std::string(scheme) + "://" + host + ":" + env(portVariable);
    }
    std::string manifestUrl(const std::string& serverOrigin) const {
        return serverOrigin + "/" + folder + "/pc/manifest.json";
    }

    // Publishes the client (kClient, unless the case has written its own) into this case's
    // folder of the served tree, for `filesOrigin` and the mirrors at `mirrorOrigins`; signed
    // when a key is given.
    void publish(const std::string& filesOrigin, const fs::path& signKey = {},
                 const std::vector<std::string>& mirrorOrigins = {}) {
        if (!fs::exists(dir / "client"))
            for (const auto& [path, content] : kClient) writeFile(dir / "client" / fs::u8path(path), content);
        orvpak::PublishOptions options;
        options.clientDir = dir / "client";
        options.outDir = fs::u8path(env("E2E_WWW")) / folder;
        options.baseUrl = filesOrigin + "/" + folder;
        for (const std::string& mirror : mirrorOrigins) options.mirrors.push_back(mirror + "/" + folder);
        options.signKey = signKey;
        orvpak::PublishSummary summary;
        std::string error;
        ASSERT_TRUE(orvpak::publish(options, summary, error)) << error;
        std::string body = readFile(options.outDir / "pc" / "manifest.json");
        ASSERT_TRUE(pcupd::parseManifest(body, manifest, error)) << error;
        ASSERT_TRUE(pcupd::parseFullArchive(body, archive, error)) << error;
    }

    // One Install or Repair; its final error (empty on success). What the worker reported is
    // left in `reported`. `during`, when given, runs on a thread of its own beside the worker
    // and is waited for.
    std::wstring work(const std::string& url, bool repair,
                      const std::function<void(const testsupport::RecordingSink&)>& during = {}) {
        Job job;
        job.kind = repair ? JobKind::kRepair : JobKind::kInstall;
        job.installDir = installDir.wstring();
        job.manifestUrl = url;
        job.engine.manifestKeys = keys;
        job.engine.transfer = transfer;
        testsupport::RecordingSink sink;
        std::thread beside;
        if (during) beside = std::thread([&] { during(sink); });
        runInstallWorker(job, sink);
        if (beside.joinable()) beside.join();
        EXPECT_TRUE(sink.finishedOnceLast());
        reported = sink.state();
        return reported.outcome.error;
    }

    void expectInstalled() const { expectInstalledExcept(""); }
    void expectInstalledExcept(const std::string& changed) const {
        for (const auto& [path, content] : kClient) {
            if (path == changed) continue;
            EXPECT_TRUE(readFile(installDir / fs::u8path(path)) == content) << path << " differs";
        }
    }

    // This case's requests in the access log from the `skip`-th on. nginx writes a line once
    // it has sent the response, possibly a moment after the client has read it: wait up to
    // two seconds for `expected` lines.
    std::vector<Served> served(size_t skip = 0, size_t expected = 0) const {
        std::vector<Served> lines;
        for (int attempt = 0; attempt < 40; ++attempt) {
            lines.clear();
            std::istringstream log(readFile(fs::u8path(env("E2E_ACCESS_LOG"))));
            std::string line;
            while (std::getline(log, line)) {
                Served one;
                std::string version;
                std::istringstream fields(line);
                char quote;
                std::string seconds;
                fields >> one.port >> quote >> one.method >> one.target >> version >> one.status >>
                    one.bytes >> seconds >> one.range;
                if (one.range.size() >= 2) one.range = one.range.substr(1, one.range.size() - 2);
                if (one.target.rfind("/" + folder + "/", 0) == 0) lines.push_back(one);
            }
            if (lines.size() >= skip + expected) break;
            Sleep(50);
        }
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(skip, lines.size())));
        return lines;
    }

    // How a URL of the published manifest appears in the log: its port and its target.
    static Served request(const std::string& url, int status = 200) {
        if (url.find("://") == std::string::npos) return {};
        const size_t authority = url.find("://") + 3, path = url.find('/', authority);
        const std::string hostPort = url.substr(authority, path - authority);
        return {hostPort.substr(hostPort.rfind(':') + 1), "GET", url.substr(path), status, 0, "-"};
    }
    std::string fileUrl(const std::string& path) const {
        for (const pcupd::ManifestFile& file : manifest.files)
            if (file.path == pcupd::toLowerAscii(path)) return file.url;
        ADD_FAILURE() << "no " << path << " in the manifest";
        return "";
    }

    testsupport::TempDir dir;
    fs::path installDir = dir / "Orvane Online";
    std::string folder;
    std::vector<std::string> keys;  // the manifest keys the worker runs with
    pcupd::TransferOptions transfer;  // and how it downloads
    testsupport::RecordingSink::State reported;  // by the last work()
    pcupd::Manifest manifest;
    pcupd::FullArchive archive;
};

TEST_F(NginxTest, HttpsInstallThenRepairFetchesOnlyWhatChanged) {
    const std::string server = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    publish(server);
    ASSERT_EQ(work(manifestUrl(server), false), L"");
    expectInstalled();
    EXPECT_EQ(served(0, 2), (std::vector<Served>{request(manifestUrl(server)), request(archive.url)}));

    // Damage that keeps the size, damage that changes it, and a file gone.
    std::string engine = kClient[0].second;
    engine[77777] ^= 0x20;
    writeFile(installDir / "Engine.exe", engine);
    writeFile(installDir / "data" / "lang" / "en.txt", "Welcome");
    fs::remove(installDir / "data" / "maps" / "forest.pak");
    ASSERT_EQ(work(manifestUrl(server), true), L"");
    expectInstalled();
    std::vector<Served> repair = served(2, 4);
    // The kept manifest still current: the server says so without sending it again.
    std::vector<Served> changed = {request(manifestUrl(server), 304), request(fileUrl("Engine.exe")),
                                   request(fileUrl("data/lang/en.txt")),
                                   request(fileUrl("data/maps/forest.pak"))};
    std::sort(repair.begin(), repair.end());
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(repair, changed);
}

TEST_F(NginxTest, PlainHttpInstall) {
    const std::string server = origin("http", "127.0.0.1", "NGINX_HTTP_PORT");
    publish(server);
    ASSERT_EQ(work(manifestUrl(server), false), L"");
    expectInstalled();
    EXPECT_EQ(served(0, 2), (std::vector<Served>{request(manifestUrl(server)), request(archive.url)}));
}

// The files live on a second host name and port (a download mirror): the install streams
// the archive from there, and a repair fetches single files from there too.
TEST_F(NginxTest, ArchiveAndFilesOnAnotherOrigin) {
    const std::string server = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    publish(origin("https", "localhost", "NGINX_HTTPS2_PORT"));
    ASSERT_EQ(work(manifestUrl(server), false), L"");
    expectInstalled();
    fs::remove(installDir / "readme.txt");
    ASSERT_EQ(work(manifestUrl(server), true), L"");
    expectInstalled();

    const Served archiveRequest = request(archive.url), fileRequest = request(fileUrl("readme.txt"));
    EXPECT_EQ(archiveRequest.port, env("NGINX_HTTPS2_PORT"));
    EXPECT_EQ(served(0, 4), (std::vector<Served>{request(manifestUrl(server)), archiveRequest,
                                                 request(manifestUrl(server), 304), fileRequest}));
}

// A signed release, served compressed: a run with nothing new costs one bodiless 304 for the
// signature, and a run after the next publish fetches the patch, never the manifest.
TEST_F(NginxTest, SignedNothingNewIsOne304AndANewReleaseIsAPatch) {
    const std::string server = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    const fs::path key = dir / "operator.pem";
    std::string publicKey, error;
    ASSERT_TRUE(orvpak::generateKey(key, publicKey, error)) << error;
    keys = {publicKey};
    publish(server, key);
    const std::string url = manifestUrl(server);
    const std::string firstManifest = readFile(fs::u8path(env("E2E_WWW")) / folder / "pc" / "manifest.json");
    ASSERT_EQ(work(url, false), L"");
    expectInstalled();
    const std::vector<Served> install = served(0, 3);
    EXPECT_EQ(install, (std::vector<Served>{request(url + ".sig"), request(url), request(archive.url)}));
    ASSERT_EQ(install.size(), 3u);
    EXPECT_LT(install[1].bytes * 2, firstManifest.size()) << "the manifest went uncompressed";

    ASSERT_EQ(work(url, true), L"");
    const std::vector<Served> nothingNew = served(3, 1);
    EXPECT_EQ(nothingNew, std::vector<Served>{request(url + ".sig", 304)});
    ASSERT_EQ(nothingNew.size(), 1u);
    EXPECT_EQ(nothingNew[0].bytes, 0u);

    writeFile(dir / "client" / "readme.txt", "Orvane Online, season two\n");
    publish(server, key);
    ASSERT_EQ(work(url, true), L"");
    expectInstalledExcept("readme.txt");
    EXPECT_EQ(readFile(installDir / "readme.txt"), "Orvane Online, season two\n");
    const std::string patchUrl = server + "/" + folder + "/pc/patches/" + testsupport::sha256Hex(firstManifest);
    EXPECT_EQ(served(4, 3), (std::vector<Served>{request(url + ".sig"), request(patchUrl),
                                                 request(fileUrl("readme.txt"))}));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, pcupd::kUserMemoryKey, pcupd::userSequenceName(publicKey).c_str());
}

// The refusal comes from the TLS handshake: no request reaches the server, nothing lands.
TEST_F(NginxTest, RefusesAnUntrustedAuthorityAndACertificateForAnotherHost) {
    const std::string trusted = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    publish(trusted);
    // The other host's certificate comes from the trusted authority: only its name is wrong.
    std::string body;
    base::Failure error;
    ASSERT_TRUE(pcupd::httpGet(manifestUrl(trusted), body, error)) << error.text;
    for (const char* port : {"NGINX_UNTRUSTED_PORT", "NGINX_WRONGNAME_PORT"}) {
        EXPECT_EQ(work(manifestUrl(origin("https", "127.0.0.1", port)), false), kRefused) << port;
        EXPECT_TRUE(!fs::exists(installDir) || fs::is_empty(installDir)) << port;
    }
    EXPECT_EQ(served(), std::vector<Served>{request(manifestUrl(trusted))});
}

// The base's host goes down a third of the way into the archive, as a server does when it
// stops (its connections cut, then refused): the install goes on from the mirror, asking it
// for the rest from the byte the player had reached. One connection: one cut, one range.
TEST_F(NginxTest, AnOriginStoppedMidArchiveLeavesTheRestToTheMirror) {
    const std::string primary = origin("https", "127.0.0.1", "NGINX_STOPPING_HTTPS_PORT");
    const std::string mirror = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    // Seconds of the slow origin's rate, so that the stop comes while the archive does.
    const std::string big = noise(4u << 20, 3);
    for (const auto& [path, content] : kClient) writeFile(dir / "client" / fs::u8path(path), content);
    writeFile(dir / "client" / "data" / "big.pak", big);
    publish(primary, {}, {mirror});
    transfer.connections = 1;
    const fs::path stop = fs::u8path(env("E2E_STOP_ORIGIN")), stopped = stop.string() + ".done";
    bool stoppedMidway = false;
    const std::wstring error = work(manifestUrl(primary), false, [&](const testsupport::RecordingSink& sink) {
        for (;;) {
            const testsupport::RecordingSink::State state = sink.state();
            if (state.finished) return;
            if (state.bytesTotal > 0 && state.bytesDone * 3 > static_cast<uint64_t>(state.bytesTotal)) break;
            Sleep(20);
        }
        writeFile(stop, "");
        for (int wait = 0; wait < 200 && !fs::exists(stopped); ++wait) Sleep(50);
        stoppedMidway = fs::exists(stopped) && !sink.state().finished;
    });
    ASSERT_TRUE(stoppedMidway) << "run.sh did not stop the slow nginx while the archive came";
    ASSERT_EQ(error, L"");
    expectInstalled();
    EXPECT_TRUE(readFile(installDir / "data" / "big.pak") == big);

    // The mirror was asked for the archive only, from where the cut left it, and sent the rest.
    const std::vector<Served> resumed = served(0, 1);
    ASSERT_EQ(resumed, std::vector<Served>{request(mirror + request(archive.url).target, 206)});
    const Served& rest = resumed[0];
    ASSERT_EQ(rest.range.rfind("bytes=", 0), 0u) << rest.range;
    const int64_t from = std::stoll(rest.range.substr(6));
    EXPECT_GT(from, archive.size / 3) << rest.range;
    EXPECT_LT(from, archive.size) << rest.range;
    EXPECT_EQ(rest.bytes, static_cast<uint64_t>(archive.size - from)) << rest.range;
    EXPECT_EQ(reported.hosts, (std::vector<std::wstring>{
                                  base::toWide(primary),
                                  base::toWide(mirror + " after " + primary + ": connection lost at byte " +
                                               std::to_string(from))}));
}

// The base's host serves the manifest but answers 503 for every object, as when its store is
// down: the archive, and a repair's files after it, come from the mirror.
TEST_F(NginxTest, ObjectsTheBaseCannotServeComeFromTheMirror) {
    const std::string primary = origin("http", "127.0.0.1", "NGINX_NO_OBJECTS_PORT");
    const std::string mirror = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    publish(primary, {}, {mirror});
    const std::string url = manifestUrl(primary);
    ASSERT_EQ(work(url, false), L"");
    expectInstalled();
    EXPECT_EQ(served(0, 3), (std::vector<Served>{request(url), request(archive.url, 503),
                                                 request(mirror + request(archive.url).target)}));

    std::string engine = kClient[0].second;
    engine[4321] ^= 0x01;
    writeFile(installDir / "Engine.exe", engine);
    writeFile(installDir / "data" / "lang" / "en.txt", "Welcome");
    fs::remove(installDir / "data" / "maps" / "forest.pak");
    ASSERT_EQ(work(url, true), L"");
    expectInstalled();
    // Repairs run side by side: those that start before the first one has moved meet the 503
    // too; each file comes from the mirror once.
    std::vector<Served> onPrimary, onMirror;
    for (const Served& line : served(3, 5))
        (line.port == env("NGINX_HTTPS_PORT") ? onMirror : onPrimary).push_back(line);
    ASSERT_FALSE(onPrimary.empty());
    EXPECT_EQ(onPrimary[0], request(url, 304));
    EXPECT_GE(onPrimary.size(), 2u) << "no object was asked of the base's host";
    std::vector<std::string> damaged;
    std::vector<Served> repaired;
    for (const char* path : {"Engine.exe", "data/lang/en.txt", "data/maps/forest.pak"}) {
        damaged.push_back(request(fileUrl(path)).target);
        repaired.push_back(request(mirror + damaged.back()));
    }
    for (size_t i = 1; i < onPrimary.size(); ++i) {
        EXPECT_EQ(onPrimary[i].status, 503) << onPrimary[i];
        EXPECT_NE(std::find(damaged.begin(), damaged.end(), onPrimary[i].target), damaged.end()) << onPrimary[i];
    }
    std::sort(onMirror.begin(), onMirror.end());
    std::sort(repaired.begin(), repaired.end());
    EXPECT_EQ(onMirror, repaired);
    // The log names the move once, with the first 503 that caused it.
    ASSERT_EQ(reported.hosts.size(), 1u);
    const std::string moved = mirror + " after " + primary + ": HTTP status 503 for " + primary + "/" + folder;
    EXPECT_EQ(reported.hosts[0].rfind(base::toWide(moved), 0), 0u) << base::toUtf8(reported.hosts[0]);
}

// The base's host presents a certificate nobody trusts: the archive comes from the mirror.
TEST_F(NginxTest, AnUntrustedBaseLeavesTheArchiveToTheMirror) {
    const std::string untrusted = origin("https", "127.0.0.1", "NGINX_UNTRUSTED_PORT");
    const std::string mirror = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    publish(untrusted, {}, {mirror});
    ASSERT_EQ(work(manifestUrl(mirror), false), L"");
    expectInstalled();
    EXPECT_EQ(served(0, 2), (std::vector<Served>{request(manifestUrl(mirror)), request(mirror + request(archive.url).target)}));
    ASSERT_EQ(reported.hosts.size(), 1u);
    EXPECT_EQ(reported.hosts[0], base::toWide(mirror + " after " + untrusted +
                                              ": WinHttpSendRequest failed (secure connection refused: "
                                              "certificate not trusted or not for this host)"));
}

// Neither host answers (ports that nothing listens on) while the manifest is served: the
// install fails naming the last host tried and why, with no file of the client written.
TEST_F(NginxTest, EveryHostDownFailsNamingTheLastOne) {
    std::string gone[2];
    for (std::string& origin : gone) {
        testsupport::LoopbackServer server;
        origin = "http://127.0.0.1:" + std::to_string(server.port());
        server.stop();
    }
    publish(gone[0], {}, {gone[1]});
    const std::string server = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    EXPECT_EQ(work(manifestUrl(server), false),
              base::toWide("Install failed: every download host failed; the last, " + gone[1] +
                           ": WinHttpSendRequest failed (no network?)"));
    for (const auto& [path, content] : kClient) EXPECT_FALSE(fs::exists(installDir / fs::u8path(path))) << path;
}

// The mirrors are part of what the operator signed: a manifest whose mirror was swapped for
// another host after signing is refused, and nothing is downloaded.
TEST_F(NginxTest, ASignedManifestWithItsMirrorsEditedIsRefused) {
    const std::string server = origin("https", "127.0.0.1", "NGINX_HTTPS_PORT");
    const std::string mirror = origin("https", "127.0.0.1", "NGINX_HTTPS2_PORT");
    const fs::path key = dir / "operator.pem";
    std::string publicKey, error;
    ASSERT_TRUE(orvpak::generateKey(key, publicKey, error)) << error;
    keys = {publicKey};
    publish(server, key, {mirror});
    const fs::path live = fs::u8path(env("E2E_WWW")) / folder / "pc" / "manifest.json";
    std::string body = readFile(live);
    const std::string listed = mirror + "/" + folder, other = origin("https", "localhost", "NGINX_HTTPS2_PORT");
    ASSERT_NE(body.find(listed), std::string::npos);
    body.replace(body.find(listed), listed.size(), other + "/" + folder);
    writeFile(live, body);

    const std::string url = manifestUrl(server);
    EXPECT_EQ(work(url, false), L"Could not read the update manifest: manifest signature is not valid");
    EXPECT_TRUE(!fs::exists(installDir) || fs::is_empty(installDir));
    // A publish may land between the two requests: the pair is fetched once more, no more.
    EXPECT_EQ(served(0, 4), (std::vector<Served>{request(url + ".sig"), request(url),
                                                 request(url + ".sig"), request(url)}));
}

}  // namespace
