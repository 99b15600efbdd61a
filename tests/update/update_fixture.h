#pragma once
// A client on a loopback update host: the manifest at /pc/manifest.json, each file at
// /files/<path>, and an install folder to verify and repair.

#include <gtest/gtest.h>

#include <map>

#include "tests/support/archive_builder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "update/sha256.h"
#include "update/update.h"
#include "update/verify_cache.h"

class UpdateFixture : public ::testing::Test {
public:
    struct ClientFile {
        ClientFile(std::string content, std::string manifestSha = "")
            : content(std::move(content)), manifestSha(std::move(manifestSha)) {}
        std::string content;
        std::string manifestSha;  // empty: the content's real digest
    };

    static std::string jsonString(const std::string& text) {
        std::string out = "\"";
        for (const char c : text) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + "\"";
    }

protected:

    // Publishes `files` as the manifest (and each file's download).
    void publish(const std::map<std::string, ClientFile>& files) {
        std::string json = "{\"clientVersion\":\"1\",\"files\":[";
        bool first = true;
        for (const auto& [path, file] : files) {
            const std::string sha = file.manifestSha.empty() ? testsupport::sha256Hex(file.content)
                                                            : file.manifestSha;
            json += std::string(first ? "" : ",") + "{\"path\":" + jsonString(path) +
                    ",\"sha256\":\"" + sha + "\",\"url\":" + jsonString(server.url("/files/" + path)) +
                    ",\"size\":" + std::to_string(file.content.size()) + "}";
            first = false;
            testsupport::Response response;
            response.body = file.content;
            server.route("/files/" + path, response);
        }
        json += "]}";
        testsupport::Response manifest;
        manifest.body = json;
        server.route("/pc/manifest.json", manifest);
    }

    // Writes the files into the install folder, dated an hour back like an older install.
    void installLocally(const std::map<std::string, ClientFile>& files) {
        for (const auto& [path, file] : files) {
            testsupport::writeFile(installDir / std::filesystem::u8path(path), file.content);
            age(path);
        }
    }

    void age(const std::string& path, int64_t seconds = 3600) {
        setLastWrite(path, now() - seconds * 10000000LL);
    }
    void setLastWrite(const std::string& path, uint64_t time) {
        const std::wstring full = (installDir / std::filesystem::u8path(path)).wstring();
        base::UniqueFile file(CreateFileW(full.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        FILETIME ft{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
        ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &ft));
    }
    static uint64_t now() {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    }
    uint64_t lastWrite(const std::string& path) const {
        pcupd::FileStamp stamp;
        pcupd::fileStamp((installDir / std::filesystem::u8path(path)).wstring(), stamp);
        return stamp.lastWrite;
    }

    struct Run {
        pcupd::UpdateResult result;
        std::vector<pcupd::Progress> reports;
        pcupd::Manifest manifest;
        uint64_t hashed = 0;  // bytes read back from disk by the scan
    };
    Run run(bool useCache = true, const std::wstring& selfPath = L"",
            const std::string& manifestPath = "/pc/manifest.json") {
        Run run;
        pcupd::UpdateOptions runOptions = options;
        runOptions.useCache = useCache;
        runOptions.selfPath = selfPath;
        run.result = pcupd::runUpdate(server.url(manifestPath), installDir.wstring(), runOptions,
                                      run.manifest,
                                      [&run](const pcupd::Progress& p) { run.reports.push_back(p); });
        run.hashed = run.result.bytesHashed;
        return run;
    }
    static std::vector<pcupd::UpdateStage> phases(const Run& run) {
        std::vector<pcupd::UpdateStage> phases;
        for (const pcupd::Progress& p : run.reports) phases.push_back(p.stage);
        return phases;
    }
    std::string installed(const std::string& path) const {
        return testsupport::readFile(installDir / std::filesystem::u8path(path));
    }
    bool exists(const std::string& path) const {
        return std::filesystem::exists(installDir / std::filesystem::u8path(path));
    }
    int fileRequests() const {
        int count = 0;
        for (const std::string& target : server.requests()) count += target.rfind("/files/", 0) == 0;
        return count;
    }

    testsupport::TempDir dir;
    std::filesystem::path installDir = dir / "OrvaneOnline";
    testsupport::LoopbackServer server;
    pcupd::UpdateOptions options;  // what each run() starts from
};
