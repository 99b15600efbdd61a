#include "tools/orvpak/signed_manifest.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "tools/orvpak/file_io.h"
#include "tools/orvpak/manifest_signer.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back: gmtime/timegm differ
// between the two builds, this does not.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y = yoe + era * 400 + (m <= 2);
}


}  // namespace

std::string utcTimestamp(int64_t seconds) {
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    int64_t y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[96];
    std::snprintf(text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), static_cast<long long>(m),
                  static_cast<long long>(d), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

bool parseUtcTimestamp(const std::string& text, int64_t& seconds) {
    static const char kPattern[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof(kPattern) - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
    }
    const auto field = [&](size_t at, size_t width) { return std::stoll(text.substr(at, width)); };
    const int64_t y = field(0, 4), m = field(5, 2), d = field(8, 2);
    const int64_t hh = field(11, 2), mm = field(14, 2), ss = field(17, 2);
    if (m < 1 || m > 12 || d < 1 || hh > 23 || mm > 59 || ss > 59) return false;
    const int64_t days = daysFromCivil(y, m, d);
    int64_t cy = 0, cm = 0, cd = 0;
    civilFromDays(days, cy, cm, cd);
    if (cm != m || cd != d) return false;  // e.g. 02-30
    seconds = days * 86400 + hh * 3600 + mm * 60 + ss;
    return true;
}

// The signature goes first so manifest.json stays the last name to change. A player who
// fetches the pair between the two renames gets a mismatch either way round and fetches
// both again; the window is two renames long, as both files are complete before either.
bool writeManifestPair(const fs::path& platformDir, const std::optional<std::string>& live,
                   const std::string& text, const std::string& signature, std::string& error) {
    const fs::path manifestPath = platformDir / kManifestName;
    const fs::path signaturePath = platformDir / (std::string(kManifestName) + kSignatureSuffix);
    if (!signature.empty()) {
        AtomicOutputFile signatureFile, manifestFile;
        return signatureFile.open(signaturePath, error) &&
               signatureFile.write(signature.data(), signature.size(), error) &&
               manifestFile.open(manifestPath, error) &&
               manifestFile.write(text.data(), text.size(), error) &&
               signatureFile.commit(error) && manifestFile.commit(error);
    }
    if (live != text) {
        AtomicOutputFile manifestFile;
        if (!manifestFile.open(manifestPath, error) ||
            !manifestFile.write(text.data(), text.size(), error) || !manifestFile.commit(error))
            return false;
    }
    // An earlier signed release's signature no longer matches: leaving it would only turn a
    // "missing" into a "not valid" for a program that checks.
    std::error_code failure;
    fs::remove(signaturePath, failure);
    if (!failure) return true;
    error = "cannot remove the earlier signature " + displayPath(signaturePath) + ": " +
            failure.message();
    return false;
}

int64_t currentTime() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

uint64_t nextSequence(const ReleaseHistory& history) {
    uint64_t highest = 0;
    for (const Release& release : history.recent)
        highest = std::max(highest, release.content.sequence);
    if (history.unrecorded) highest = std::max(highest, history.unrecorded->content.sequence);
    return std::max(highest, history.latest) + 1;
}

bool verifyPublishedManifest(const fs::path& platformDir, const std::string& publicKeyHex,
                             int64_t now, VerifiedManifest& verified, std::string& error) {
    const fs::path manifestPath = platformDir / kManifestName;
    const fs::path signaturePath = fs::path(manifestPath.native() + fs::path(kSignatureSuffix).native());
    std::string manifest, signature;
    if (!readWholeFile(manifestPath, manifest, error)) return false;
    std::error_code failure;
    if (!fs::exists(fs::symlink_status(signaturePath, failure))) {
        error = "manifest signature missing (no " + displayPath(signaturePath) + ")";
        return false;
    }
    if (!readWholeFile(signaturePath, signature, error)) return false;
    if (!verifySignature(publicKeyHex, manifest, signature, error)) return false;
    Release release;
    std::string problem;
    if (!parseRelease(manifest, release, problem)) {
        error = "the signed manifest is not one orvpak can read (" + problem + ")";
        return false;
    }
    int64_t expires = 0;
    if (release.content.sequence == 0 || !parseUtcTimestamp(release.content.expires, expires)) {
        error = "the signed manifest has no sequence or no expiry (\"expires\"); publish it "
                "again with --sign-key";
        return false;
    }
    verified.sequence = release.content.sequence;
    verified.expires = release.content.expires;
    if (expires <= now) {
        error = "manifest has expired (at " + release.content.expires + ")";
        return false;
    }
    return true;
}

}  // namespace orvpak
