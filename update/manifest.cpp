#include "update/manifest.h"

#include <rapidjson/document.h>

#include <limits>

namespace pcupd {
namespace {

using JsonValue = rapidjson::Value;

// Parses `body` up to its first NUL. The iterative parser keeps a hostile document of deeply
// nested arrays from exhausting the thread's stack; it accepts exactly the same documents.
bool parseRoot(const std::string& body, rapidjson::Document& document, std::string& error) {
    document.Parse<rapidjson::kParseIterativeFlag>(body.c_str());
    if (document.HasParseError() || !document.IsObject()) {
        error = "manifest is not valid JSON";
        return false;
    }
    return true;
}

// RapidJSON's lookup walks the members in order, so the first of two equal keys wins.
const JsonValue* member(const JsonValue& object, const char* key) {
    const auto found = object.FindMember(key);
    return found == object.MemberEnd() ? nullptr : &found->value;
}

// A string value up to its first NUL; anything else counts as absent.
std::string stringOf(const JsonValue& object, const char* key) {
    const JsonValue* value = member(object, key);
    return value && value->IsString() ? std::string(value->GetString()) : std::string();
}

// Integers without fraction or exponent; one above the signed range is kept bit for bit.
int64_t sizeOf(const JsonValue& object, const char* key) {
    const JsonValue* value = member(object, key);
    if (!value) return 0;
    if (value->IsInt64()) return value->GetInt64();
    if (value->IsUint64()) return static_cast<int64_t>(value->GetUint64());
    return 0;
}

}  // namespace

uint64_t clientBytes(const Manifest& manifest) {
    uint64_t total = 0;
    for (const ManifestFile& file : manifest.files) {
        const uint64_t size = file.size > 0 ? static_cast<uint64_t>(file.size) : 0;
        total = total > std::numeric_limits<uint64_t>::max() - size ? std::numeric_limits<uint64_t>::max()
                                                                     : total + size;
    }
    return total;
}

bool parseManifest(const std::string& body, Manifest& manifest, std::string& error) {
    rapidjson::Document document;
    if (!parseRoot(body, document, error)) return false;

    manifest.clientVersion = stringOf(document, "clientVersion");
    manifest.required = true;
    manifest.files.clear();
    manifest.expires = stringOf(document, "expires");
    manifest.sequence.reset();
    if (const JsonValue* sequence = member(document, "sequence"); sequence && sequence->IsUint64())
        manifest.sequence = sequence->GetUint64();
    if (const JsonValue* required = member(document, "required"); required && required->IsBool())
        manifest.required = required->GetBool();
    manifest.baseUrl = stringOf(document, "baseUrl");
    manifest.mirrors.clear();
    if (const JsonValue* mirrors = member(document, "mirrors"); mirrors && mirrors->IsArray())
        for (const JsonValue& mirror : mirrors->GetArray())
            if (mirror.IsString()) manifest.mirrors.emplace_back(mirror.GetString());

    const JsonValue* files = member(document, "files");
    if (!files || !files->IsArray()) {
        error = "manifest has no files array";
        return false;
    }
    for (const JsonValue& entry : files->GetArray()) {
        if (!entry.IsObject()) continue;
        ManifestFile file;
        file.path = toLowerAscii(stringOf(entry, "path"));
        file.sha256 = toLowerAscii(stringOf(entry, "sha256"));
        file.size = sizeOf(entry, "size");
        file.url = stringOf(entry, "url");
        // Only a help for repair: with either field missing or not a string the file is
        // simply repaired whole, never refused.
        std::string chunksUrl = stringOf(entry, "chunksUrl");
        std::string chunksSha256 = toLowerAscii(stringOf(entry, "chunksSha256"));
        if (!chunksUrl.empty() && !chunksSha256.empty()) {
            file.chunksUrl = std::move(chunksUrl);
            file.chunksSha256 = std::move(chunksSha256);
            std::string groupsUrl = stringOf(entry, "chunkGroupsUrl");
            std::string groupsSha256 = toLowerAscii(stringOf(entry, "chunkGroupsSha256"));
            if (!groupsUrl.empty() && !groupsSha256.empty()) {
                file.chunkGroupsUrl = std::move(groupsUrl);
                file.chunkGroupsSha256 = std::move(groupsSha256);
            }
        }
        if (!file.path.empty() && !file.sha256.empty() && !file.url.empty())
            manifest.files.push_back(std::move(file));
    }
    if (manifest.files.empty()) {
        error = "manifest listed no usable files";
        return false;
    }
    return true;
}

bool parseFullArchive(const std::string& body, FullArchive& archive, std::string& error) {
    rapidjson::Document document;
    if (!parseRoot(body, document, error)) return false;

    const JsonValue* entry = member(document, "fullArchive");
    if (!entry || !entry->IsObject()) {
        error = "manifest has no fullArchive entry";
        return false;
    }
    archive = FullArchive{};
    archive.url = stringOf(*entry, "url");
    archive.sha256 = toLowerAscii(stringOf(*entry, "sha256"));
    archive.headsSha256 = toLowerAscii(stringOf(*entry, "headsSha256"));
    archive.format = stringOf(*entry, "format");
    archive.size = sizeOf(*entry, "size");
    if (archive.url.empty()) {
        error = "fullArchive has no url";
        return false;
    }
    archive.valid = true;
    return true;
}

}  // namespace pcupd
