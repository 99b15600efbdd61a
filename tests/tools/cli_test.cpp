#include "tools/orvpak/cli.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/tools/orvpak_fixture.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

using namespace orvpaktest;

TEST(Cli, HelpAndMissingCommandShowUsage) {
    CliResult result = runCli({});
    EXPECT_EQ(result.code, orvpak::kExitUsage);
    EXPECT_NE(result.err.find("orvpak publish CLIENT_DIR OUT_DIR --base-url URL"),
              std::string::npos);
    EXPECT_NE(result.err.find("Exit status"), std::string::npos);
    for (const char* help : {"--help", "-h"}) {
        result = runCli({help});
        EXPECT_EQ(result.code, orvpak::kExitOk);
        EXPECT_EQ(result.out, orvpak::usageText());
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(runCli({"verify", "--help"}).code, orvpak::kExitOk);
}

TEST(Cli, WrongCommandLinesAreUsageErrorsThatWriteNothing) {
    TempFolder temp;
    writeBytes(temp / "client/a.dat", "a");
    const std::string client = (temp / "client").u8string(), out = (temp / "out").u8string();
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"pack"}, "unknown command \"pack\""},
        {{"publish", client, out}, "publish needs --base-url URL"},
        {{"publish", client, out, "--base-url", "ftp://h"}, "http:// or https://"},
        {{"publish", client, out, "--base-url"}, "--base-url needs a value"},
        {{"publish", client, out, "--base-url=http://h", "--client-version", "\xC0"},
         "not valid UTF-8"},
        {{"publish", client, "--base-url", "http://h"}, "takes CLIENT_DIR and OUT_DIR, got 1"},
        {{"publish", client, out, "extra", "--base-url=http://h"}, "got 3 arguments"},
        {{"publish", client, out, "--base-url=http://h", "--base-url=http://g"}, "twice"},
        {{"publish", client, out, "--base-url=http://h", "--optional=yes"}, "takes no value"},
        {{"publish", client, out, "--base-url=http://h", "--force"}, "unknown option \"--force\""},
        {{"publish", client, out, "--base-url=http://h", "--keep-releases", "0"},
         "--keep-releases takes a whole number of 1 or more (got \"0\")"},
        {{"publish", client, out, "--base-url=http://h", "--keep-releases=2x"}, "(got \"2x\")"},
        {{"publish", client, out, "--base-url=http://h", "--mirror", "ftp://m"},
         "--mirror must start with http:// or https:// (got \"ftp://m\")"},
        {{"publish", client, out, "--base-url=http://h/", "--mirror=HTTP://H//"},
         "--mirror \"HTTP://H//\" is the base URL itself"},
        {{"publish", client, out, "--base-url=http://h", "--mirror=http://m/a", "--mirror=http://n",
          "--mirror", "http://m/a/"},
         "--mirror \"http://m/a/\" is given twice"},
        {{"list"}, "takes ARCHIVE, got 0"},
        {{"verify", "a", "b"}, "got 2 arguments"},
        {{"verify", "--optional", "a"}, "unknown option"},
    };
    for (const Case& c : cases) {
        const CliResult result = runCli(c.args);
        EXPECT_EQ(result.code, orvpak::kExitUsage) << c.says;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("orvpak --help"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST(Cli, PublishListAndVerifyReportResultsAndFaults) {
    TempFolder temp;
    writeBytes(temp / "client/data/a.dat", "abc");
    CliResult result = runCli({"publish", "--optional", (temp / "client").u8string(),
                               (temp / "out").u8string(), "--base-url=http://127.0.0.1:8000/",
                               "--client-version", "2.0", "--keep-releases", "1"});
    ASSERT_EQ(result.code, orvpak::kExitOk) << result.err;
    EXPECT_NE(result.out.find("http://127.0.0.1:8000/pc/manifest.json"), std::string::npos);
    EXPECT_NE(result.out.find("as release 1\n"), std::string::npos) << result.out;
    const fs::path archivePath = publishedArchive(temp / "out");
    const std::string archive = archivePath.u8string();

    result = runCli({"list", archive});
    EXPECT_EQ(result.code, orvpak::kExitOk) << result.err;
    EXPECT_EQ(result.out,
              "           3  ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  "
              "data/a.dat\n1 entry, 3 data bytes, archive 79 bytes\n");
    result = runCli({"verify", archive});
    EXPECT_EQ(result.code, orvpak::kExitOk) << result.err;
    EXPECT_EQ(result.out.rfind("OK: 1 entry,", 0), 0u) << result.out;

    writeBytes(archivePath, readBytes(archivePath) + "!");
    result = runCli({"verify", archive});
    EXPECT_EQ(result.code, orvpak::kExitFailed);
    EXPECT_NE(result.err.find(archivePath.filename().u8string() + ": 1 trailing bytes"),
              std::string::npos)
        << result.err;

    result = runCli({"publish", (temp / "nowhere").u8string(), (temp / "out2").u8string(),
                     "--base-url", "https://h"});
    EXPECT_EQ(result.code, orvpak::kExitFailed);
    EXPECT_NE(result.err.find("nowhere"), std::string::npos) << result.err;
}

#ifdef ORVPAK_PROGRAM
// The exit status a script sees, from the program itself.
TEST(Cli, ProgramExitStatus) {
    TempFolder temp;
    writeBytes(temp / "bad.orvpak", "ORVPAK0");
    const std::string program = std::string("\"") + ORVPAK_PROGRAM + "\"";
    const auto status = [&](const std::string& args) {
        const int raw = std::system((program + " " + args + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status(""), 2);
    EXPECT_EQ(status("--help"), 0);
    EXPECT_EQ(status("publish a b"), 2);
    EXPECT_EQ(status("verify \"" + (temp / "bad.orvpak").string() + "\""), 1);
}
#endif
