#include "tools/orvpak/cli.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <map>

#include "tools/orvpak/archive_reader.h"
#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/manifest_signer.h"
#include "tools/orvpak/publish.h"
#include "tools/orvpak/signed_manifest.h"
#include "tools/orvpak/url_text.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

struct CommandLine {
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // "--optional" maps to ""
    std::map<std::string, std::vector<std::string>> lists;  // each value, in the order given
};

enum class Takes {
    kNothing,
    kValue,
    kValues,  // may be given again; every value is kept
};

// Options each command takes.
const std::map<std::string, std::map<std::string, Takes>>& commands() {
    static const std::map<std::string, std::map<std::string, Takes>> kCommands = {
        {"publish",
         {{"--base-url", Takes::kValue},
          {"--mirror", Takes::kValues},
          {"--client-version", Takes::kValue},
          {"--optional", Takes::kNothing},
          {"--keep-releases", Takes::kValue},
          {"--sign-key", Takes::kValue},
          {"--expires-days", Takes::kValue}}},
        {"list", {}},
        {"verify", {}},
        {"keygen", {}},
        {"verify-manifest", {{"--key", Takes::kValue}}},
    };
    return kCommands;
}

// "1 file", "2 files".
std::string counted(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// 1234567 as "1,234,567": sizes an operator compares at a glance.
std::string grouped(uint64_t number) {
    std::string digits = std::to_string(number);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string bytesInRequests(uint64_t bytes, uint64_t requests) {
    return grouped(bytes) + (bytes == 1 ? " byte" : " bytes") + " in " +
           counted(requests, "request", "requests");
}

int usageError(const std::string& problem, std::ostream& err) {
    err << "orvpak: " << problem << "\nRun \"orvpak --help\" for the commands and options.\n";
    return kExitUsage;
}

// False with `problem` set when the arguments do not fit the command.
bool parse(const std::vector<std::string>& args, CommandLine& line, std::string& problem) {
    line.command = args[0];
    const auto command = commands().find(line.command);
    if (command == commands().end()) {
        problem = "unknown command \"" + line.command + "\"";
        return false;
    }
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            line.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto option = command->second.find(name);
        if (option == command->second.end()) {
            problem = "unknown option \"" + name + "\" for " + line.command;
            return false;
        }
        if (line.options.count(name)) {
            problem = name + " is given twice";
            return false;
        }
        std::string value;
        if (option->second == Takes::kNothing) {
            if (equals != std::string::npos) {
                problem = name + " takes no value";
                return false;
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            problem = name + " needs a value";
            return false;
        }
        if (option->second == Takes::kValues)
            line.lists[name].push_back(value);
        else
            line.options[name] = value;
    }
    const size_t wanted = line.command == "publish" ? 2 : 1;
    if (line.positional.size() != wanted) {
        const char* what = line.command == "publish"           ? "CLIENT_DIR and OUT_DIR"
                           : line.command == "keygen"          ? "KEYFILE"
                           : line.command == "verify-manifest" ? "OUT_DIR"
                                                               : "ARCHIVE";
        problem = line.command + " takes " + what +
                  ", got " + std::to_string(line.positional.size()) + " argument" +
                  (line.positional.size() == 1 ? "" : "s");
        return false;
    }
    return true;
}

// A whole number of 1 or more that fits comfortably; anything else is refused.
bool parseWholeNumber(const std::string& text, size_t& count) {
    if (text.empty() || text.size() > 6 || text[0] == '0') return false;
    count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        count = count * 10 + static_cast<size_t>(c - '0');
    }
    return true;
}

// The signing options of `publish` into `options`: kExitOk, or kExitUsage once the mistake is
// written to `err`.
int readSigningOptions(const CommandLine& line, PublishOptions& options, std::ostream& err) {
    const auto signKey = line.options.find("--sign-key");
    if (signKey != line.options.end()) options.signKey = fs::u8path(signKey->second);
    const auto days = line.options.find("--expires-days");
    if (days == line.options.end()) return kExitOk;
    if (signKey == line.options.end())
        return usageError("--expires-days only applies with --sign-key", err);
    size_t expiresDays = 0;
    if (!parseWholeNumber(days->second, expiresDays) || expiresDays > kMaxExpiresDays)
        return usageError("--expires-days takes a whole number of days from 1 to " +
                              std::to_string(kMaxExpiresDays) + " (got " +
                              quotedPath(days->second) +
                              "): until it expires, a signed manifest can be served again "
                              "to players who have not seen a newer one",
                          err);
    options.expiresDays = static_cast<uint32_t>(expiresDays);
    return kExitOk;
}

// Every option of `publish` into `options`, as readSigningOptions answers.
int readPublishOptions(const CommandLine& line, PublishOptions& options, std::ostream& err) {
    options.clientDir = fs::u8path(line.positional[0]);
    options.outDir = fs::u8path(line.positional[1]);
    const auto baseUrl = line.options.find("--base-url");
    if (baseUrl == line.options.end()) return usageError("publish needs --base-url URL", err);
    std::string normalized, problem;
    if (!normalizeBaseUrl(baseUrl->second, normalized, problem)) return usageError(problem, err);
    options.baseUrl = baseUrl->second;
    const auto mirrors = line.lists.find("--mirror");
    if (mirrors != line.lists.end()) {
        std::vector<std::string> checked;
        if (!normalizeMirrors(normalized, mirrors->second, checked, problem))
            return usageError(problem, err);
        options.mirrors = mirrors->second;
    }
    const auto version = line.options.find("--client-version");
    if (version != line.options.end()) options.clientVersion = version->second;
    if (!isValidUtf8(options.clientVersion))
        return usageError("--client-version is not valid UTF-8", err);
    options.optional = line.options.count("--optional") > 0;
    const auto keep = line.options.find("--keep-releases");
    if (keep != line.options.end() && !parseWholeNumber(keep->second, options.keepReleases))
        return usageError("--keep-releases takes a whole number of 1 or more (got " +
                              quotedPath(keep->second) + ")",
                          err);
    return readSigningOptions(line, options, err);
}

// What a publish did, for the operator.
void printPublished(const PublishSummary& summary, const fs::path& platformDir, std::ostream& out) {
    out << "Published " << counted(summary.files, "file", "files") << " ("
        << counted(summary.dataBytes, "byte", "bytes") << ") into "
        << platformDir.generic_u8string() << " as release " << summary.release
        << (summary.newRelease ? "" : " (unchanged: the same client and URL as that release)")
        << "\n"
        << "  archive        " << objectPath(summary.archiveSha256) << ", "
        << counted(summary.archiveBytes, "byte", "bytes") << "\n"
        << "  objects/       " << summary.objectsWritten << " written, the rest already in place\n"
        << "  " << kManifestName << "  " << grouped(summary.manifestBytes) << " bytes, "
        << (summary.newRelease ? "written last" : "in place") << "; clients read it at "
        << summary.manifestUrl << "\n";
    if (!summary.mirrors.empty()) {
        out << "  mirrors        ";
        for (size_t i = 0; i < summary.mirrors.size(); ++i)
            out << (i > 0 ? ", " : "") << summary.mirrors[i];
        out << "\n";
    }
    if (summary.sequence > 0)
        out << "  " << kManifestName << kSignatureSuffix << "  signed: sequence "
            << summary.sequence << ", expires " << summary.expires << "\n";
    out << "  kept           ";
    if (summary.oldestKept == summary.release)
        out << "release " << summary.release;
    else
        out << "releases " << summary.oldestKept << " to " << summary.release;
    out << "; " << counted(summary.objectsRemoved, "object", "objects")
        << " no kept release needs removed";
    if (summary.legacyRemoved)
        out << ", with the files/ and " << kLegacyArchiveName << " of the earlier layout";
    out << "\n";
}

// What players download to reach the live release: a fresh install, and an update from
// each kept earlier release.
void printCosts(const PublishSummary& summary, std::ostream& out) {
    out << "Players download\n"
        << "  fresh install    the archive: " << bytesInRequests(summary.archiveBytes, 1) << "\n";
    for (const ReleaseCost& cost : summary.updateCosts) {
        std::string from = "from release " + std::to_string(cost.from);
        from.resize(std::max<size_t>(from.size(), 15), ' ');
        out << "  " << from << "  ";
        if (!cost.problem.empty())
            out << "not counted: " << cost.problem;
        else if (cost.total.requests == cost.manifest.requests)
            out << "the manifest only: " << bytesInRequests(cost.total.bytes, cost.total.requests);
        else
            out << counted(cost.wholeFiles, "file", "files") << ", "
                << counted(cost.chunkIndexes, "chunk index", "chunk indexes") << ", "
                << counted(cost.ranges, "range", "ranges")
                << (cost.patchedInPlace > 0 ? " (" + counted(cost.patchedInPlace, "pack", "packs") + " patched in place)" : "")
                << ": "
                << bytesInRequests(cost.total.bytes, cost.total.requests);
        out << "\n";
    }
}

// Folders a player will not get: a game that expects one may fail to start.
void warnEmptyFolders(const PublishSummary& summary, std::ostream& err) {
    for (const std::string& folder : summary.emptyFolders)
        err << "orvpak: warning: empty folder " << quotedPath(folder)
            << " is not published: players will not get it\n";
}

int runPublish(const CommandLine& line, std::ostream& out, std::ostream& err) {
    PublishOptions options;
    const int usage = readPublishOptions(line, options, err);
    if (usage != kExitOk) return usage;
    PublishSummary summary;
    std::string error;
    if (!publish(options, summary, error)) {
        err << "orvpak: publish failed: " << error << "\n";
        return kExitFailed;
    }
    warnEmptyFolders(summary, err);
    printPublished(summary, options.outDir / kPlatformFolder, out);
    printCosts(summary, out);
    return kExitOk;
}

int runReader(const CommandLine& line, std::ostream& out, std::ostream& err) {
    const bool verify = line.command == "verify";
    const fs::path archive = fs::u8path(line.positional[0]);
    ArchiveSummary summary;
    std::string error;
    const auto print = [&](const ArchiveEntry& entry) {
        out << std::setw(12) << entry.size << "  " << toHex(entry.sha256) << "  " << entry.path
            << "\n";
    };
    const bool ok = readArchive(archive, verify ? DataCheck::kHash : DataCheck::kSkip,
                                verify ? EntryVisitor() : EntryVisitor(print), summary, error);
    if (!ok) {
        err << "orvpak: " << line.command << " failed: " << error << "\n";
        return kExitFailed;
    }
    if (verify) out << "OK: ";
    out << counted(summary.entriesRead, "entry", "entries") << ", "
        << counted(summary.dataBytes, "data byte", "data bytes") << ", archive "
        << counted(summary.archiveBytes, "byte", "bytes");
    if (verify) out << "; every entry matches its SHA-256";
    out << "\n";
    return kExitOk;
}

int runKeygen(const CommandLine& line, std::ostream& out, std::ostream& err) {
    std::string publicKey, error;
    if (!generateKey(fs::u8path(line.positional[0]), publicKey, error)) {
        err << "orvpak: keygen failed: " << error << "\n";
        return kExitFailed;
    }
    // Alone on stdout so that a script can take it straight into the program's build.
    out << publicKey << "\n";
    err << "orvpak: private key written to " << line.positional[0]
        << " (owner-only); keep it offline and backed up\n";
    return kExitOk;
}

int runVerifyManifest(const CommandLine& line, std::ostream& out, std::ostream& err) {
    const auto key = line.options.find("--key");
    if (key == line.options.end()) return usageError("verify-manifest needs --key HEX", err);
    VerifiedManifest verified;
    std::string error;
    const fs::path platformDir = fs::u8path(line.positional[0]) / kPlatformFolder;
    if (!verifyPublishedManifest(platformDir, key->second, currentTime(), verified, error)) {
        err << "orvpak: verify-manifest failed: " << error << "\n";
        return kExitFailed;
    }
    out << "OK: " << (platformDir / kManifestName).generic_u8string()
        << " is signed by this key; sequence " << verified.sequence << ", expires "
        << verified.expires << "\n";
    return kExitOk;
}

}  // namespace

std::string usageText() {
    return "Usage:\n"
           "  orvpak publish CLIENT_DIR OUT_DIR --base-url URL [--mirror URL]...\n"
           "                 [--client-version V] [--optional] [--keep-releases N]\n"
           "                 [--sign-key KEYFILE [--expires-days N]]\n"
           "  orvpak keygen KEYFILE\n"
           "  orvpak verify-manifest OUT_DIR --key HEX\n"
           "  orvpak list ARCHIVE\n"
           "  orvpak verify ARCHIVE\n"
           "  orvpak --help\n"
           "\n"
           "publish  Packs every file under CLIENT_DIR into a full archive and stores it and a\n"
           "         copy of each file under OUT_DIR/pc/objects/, each named by its SHA-256\n"
           "         (identical files once), then records the release in OUT_DIR/pc/releases/\n"
           "         and writes OUT_DIR/pc/manifest.json last. URL is where OUT_DIR is served\n"
           "         (http:// or https://). Objects no kept release needs are removed after\n"
           "         the manifest is in place. Names the installer would refuse stop the\n"
           "         publish before anything is written; folders without a file are not\n"
           "         published and are named in a warning. Then prints what players\n"
           "         download: a fresh install, and an update from each kept release.\n"
           "         --mirror URL        another host serving a copy of OUT_DIR, named in the\n"
           "                             manifest; the setup moves to it when the hosts before\n"
           "                             it fail. One --mirror per host, in that order\n"
           "         --client-version V  recorded in the manifest (default: empty)\n"
           "         --optional          the manifest marks the update as not required\n"
           "         --keep-releases N   earlier releases whose objects stay, so players holding\n"
           "                             their manifests can finish (N >= 1, default 2)\n"
           "         --sign-key KEYFILE  signs manifest.json (manifest.json.sig beside it) and\n"
           "                             adds \"sequence\" and \"expires\"; every signed\n"
           "                             publish is a new release\n"
           "         --expires-days N    how long the signed manifest stays valid (default 30,\n"
           "                             at most 365 days)\n"
           "keygen   Makes a P-256 signing key: the private key into KEYFILE (owner-only, never\n"
           "         replaced), the public key as 128 hex digits on stdout.\n"
           "verify-manifest  Checks OUT_DIR/pc/manifest.json against its signature and expiry.\n"
           "list     Prints each entry of an archive (size, SHA-256, path) and a summary.\n"
           "verify   Reads the whole archive and checks its structure and every SHA-256.\n"
           "\n"
           "Exit status: 0 success; 1 the command failed (damaged archive, refused client\n"
           "file, read or write error); 2 wrong command line.\n";
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << usageText();
        return kExitUsage;
    }
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            out << usageText();
            return kExitOk;
        }
    }
    CommandLine line;
    std::string problem;
    if (!parse(args, line, problem)) return usageError(problem, err);
    try {
        if (line.command == "publish") return runPublish(line, out, err);
        if (line.command == "keygen") return runKeygen(line, out, err);
        if (line.command == "verify-manifest") return runVerifyManifest(line, out, err);
        return runReader(line, out, err);
    } catch (const std::exception& e) {  // e.g. a path that does not convert
        err << "orvpak: " << line.command << " failed: " << e.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace orvpak
