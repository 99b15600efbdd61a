#include "tools/orvpak/release_history.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "tools/orvpak/file_io.h"
#include "tools/orvpak/object_store.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

constexpr char kRecordSuffix[] = ".json";
constexpr size_t kMaxNumberDigits = 18;  // stays below 2^63 however it is counted on

// The n of "<n>.json", or 0 for any other name (temp files, the operator's notes).
uint64_t recordNumber(const std::string& name) {
    const size_t suffix = sizeof(kRecordSuffix) - 1;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kRecordSuffix) != 0)
        return 0;
    const std::string digits = name.substr(0, name.size() - suffix);
    if (digits.size() > kMaxNumberDigits || digits[0] == '0') return 0;
    uint64_t number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    return number;
}

fs::path recordPath(const fs::path& platformDir, uint64_t number) {
    return platformDir / kReleasesFolder / (std::to_string(number) + kRecordSuffix);
}

bool listRecords(const fs::path& platformDir, std::vector<uint64_t>& numbers,
                 std::string& error) {
    const fs::path folder = platformDir / kReleasesFolder;
    std::error_code failure;
    if (!fs::exists(fs::symlink_status(folder, failure))) return true;
    fs::directory_iterator it(folder, failure);
    for (const fs::directory_iterator end; !failure && it != end; it.increment(failure)) {
        const uint64_t number = recordNumber(it->path().filename().u8string());
        if (number > 0) numbers.push_back(number);
    }
    if (failure) {
        error = "cannot list the release records in " + displayPath(folder) + ": " +
                failure.message();
        return false;
    }
    std::sort(numbers.begin(), numbers.end());
    return true;
}


const rapidjson::Value* member(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return nullptr;
    const auto found = object.FindMember(name);
    return found == object.MemberEnd() ? nullptr : &found->value;
}

std::string stringMember(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* value = member(object, name);
    return value && value->IsString() ? std::string(value->GetString(), value->GetStringLength())
                                      : std::string();
}

uint64_t sizeMember(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value* value = member(object, name);
    return value && value->IsUint64() ? value->GetUint64() : 0;
}

}  // namespace

void addReferences(const Release& release, std::set<std::string>& referenced) {
    referenced.insert(release.content.archiveSha256);
    for (const ManifestRecord& file : release.content.files) {
        referenced.insert(file.sha256);
        if (!file.chunksSha256.empty()) referenced.insert(file.chunksSha256);
        if (!file.groupsSha256.empty()) referenced.insert(file.groupsSha256);
    }
}

bool hasLegacyLayout(const Release& release) {
    const std::string& url = release.content.archiveUrl;
    const std::string suffix = "/" + objectPath(release.content.archiveSha256);
    return url.size() < suffix.size() ||
           url.compare(url.size() - suffix.size(), suffix.size(), suffix) != 0;
}

bool parseRelease(const std::string& manifest, Release& release, std::string& problem) {
    rapidjson::Document document;
    document.Parse(manifest.data(), manifest.size());
    if (document.HasParseError() || !document.IsObject()) {
        problem = "it is not a JSON object";
        return false;
    }
    ManifestContent content;
    content.clientVersion = stringMember(document, "clientVersion");
    const rapidjson::Value* required = member(document, "required");
    content.required = !(required && required->IsBool() && !required->GetBool());
    content.sequence = sizeMember(document, "sequence");
    content.expires = stringMember(document, "expires");
    // Mirrors decide no object a release needs: one that is not a string is left out rather
    // than making the record unreadable.
    content.baseUrl = stringMember(document, "baseUrl");
    const rapidjson::Value* mirrors = member(document, "mirrors");
    if (mirrors && mirrors->IsArray())
        for (const rapidjson::Value& mirror : mirrors->GetArray())
            if (mirror.IsString())
                content.mirrors.emplace_back(mirror.GetString(), mirror.GetStringLength());
    const rapidjson::Value* archive = member(document, "fullArchive");
    const rapidjson::Value* files = member(document, "files");
    if (!archive || !archive->IsObject() || !files || !files->IsArray()) {
        problem = "it lacks fullArchive or files";
        return false;
    }
    content.archiveUrl = stringMember(*archive, "url");
    content.archiveSha256 = stringMember(*archive, "sha256");
    content.archiveHeadsSha256 = stringMember(*archive, "headsSha256");
    content.archiveSize = sizeMember(*archive, "size");
    if (!isSha256Hex(content.archiveSha256)) {
        problem = "fullArchive has no SHA-256 of 64 lowercase hex digits";
        return false;
    }
    for (rapidjson::SizeType i = 0; i < files->Size(); ++i) {
        const rapidjson::Value& file = (*files)[i];
        ManifestRecord record{stringMember(file, "path"), stringMember(file, "sha256"),
                              sizeMember(file, "size"), stringMember(file, "url"), {}, {}, {}, {}};
        if (!isSha256Hex(record.sha256)) {
            problem = "files[" + std::to_string(i) +
                      "] has no SHA-256 of 64 lowercase hex digits";
            return false;
        }
        // A chunk index only lets a repair fetch less; one that is not well-formed is left
        // out rather than making the whole record unreadable.
        const std::string chunksSha256 = stringMember(file, "chunksSha256");
        if (isSha256Hex(chunksSha256)) {
            record.chunksUrl = stringMember(file, "chunksUrl");
            record.chunksSha256 = chunksSha256;
            const std::string groupsSha256 = stringMember(file, "chunkGroupsSha256");
            if (isSha256Hex(groupsSha256)) {
                record.groupsUrl = stringMember(file, "chunkGroupsUrl");
                record.groupsSha256 = groupsSha256;
            }
        }
        content.files.push_back(std::move(record));
    }
    release.manifest = manifest;
    release.content = std::move(content);
    release.format = stringMember(*archive, "format");
    return true;
}

bool loadHistory(const fs::path& platformDir, size_t count, ReleaseHistory& history,
                 std::string& error) {
    history = ReleaseHistory();
    std::vector<uint64_t> numbers;
    if (!listRecords(platformDir, numbers, error)) return false;
    if (!numbers.empty()) history.latest = numbers.back();
    const size_t first = numbers.size() > count ? numbers.size() - count : 0;
    for (size_t i = first; i < numbers.size(); ++i) {
        const fs::path path = recordPath(platformDir, numbers[i]);
        Release release;
        std::string bytes, problem;
        if (!readWholeFile(path, bytes, error)) return false;
        if (!parseRelease(bytes, release, problem)) {
            error = "the release record " + displayPath(path) + " is damaged (" + problem +
                    "), so the objects that release needs are unknown; nothing was written: "
                    "restore the record, or delete it to give up that release";
            return false;
        }
        release.number = numbers[i];
        history.recent.push_back(std::move(release));
    }

    const fs::path livePath = platformDir / kManifestName;
    std::error_code failure;
    if (!fs::exists(fs::symlink_status(livePath, failure))) return true;
    std::string live;
    if (!readWholeFile(livePath, live, error)) return false;
    history.live = live;
    const bool recorded = std::any_of(history.recent.begin(), history.recent.end(),
                                      [&](const Release& r) { return r.manifest == live; });
    if (recorded) return true;
    Release release;
    std::string problem;
    if (!parseRelease(live, release, problem)) {
        error = displayPath(livePath) + " is not a manifest orvpak can read (" + problem +
                "); players may hold it, so nothing was written: restore it, or remove it "
                "if no player can have fetched it";
        return false;
    }
    history.unrecorded = std::move(release);
    return true;
}

bool writeRecord(const fs::path& platformDir, const Release& release, std::string& error) {
    const fs::path folder = platformDir / kReleasesFolder;
    std::error_code failure;
    fs::create_directories(folder, failure);
    if (failure) {
        error = "cannot create " + displayPath(folder) + ": " + failure.message() +
                " (check that the output folder is writable)";
        return false;
    }
    AtomicOutputFile record;
    return record.open(recordPath(platformDir, release.number), error) &&
           record.write(release.manifest.data(), release.manifest.size(), error) &&
           record.commit(error);
}

}  // namespace orvpak
