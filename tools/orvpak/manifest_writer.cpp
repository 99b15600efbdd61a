#include "tools/orvpak/manifest_writer.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "base/archive_format.h"

namespace orvpak {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

void writeString(Writer& writer, const std::string& text) {
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

}  // namespace

std::string renderManifest(const ManifestContent& content) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.SetIndent(' ', 2);
    writer.StartObject();
    writer.Key("clientVersion");
    writeString(writer, content.clientVersion);
    writer.Key("required");
    writer.Bool(content.required);
    if (content.sequence > 0) {
        writer.Key("sequence");
        writer.Uint64(content.sequence);
        writer.Key("expires");
        writeString(writer, content.expires);
    }
    if (!content.mirrors.empty()) {
        writer.Key("baseUrl");
        writeString(writer, content.baseUrl);
        writer.Key("mirrors");
        // A few short URLs: one line reads better, and one line is what a patch changes.
        writer.SetFormatOptions(rapidjson::kFormatSingleLineArray);
        writer.StartArray();
        for (const std::string& mirror : content.mirrors) writeString(writer, mirror);
        writer.EndArray();
        writer.SetFormatOptions(rapidjson::kFormatDefault);
    }

    writer.Key("fullArchive");
    writer.StartObject();
    writer.Key("url");
    writeString(writer, content.archiveUrl);
    writer.Key("sha256");
    writeString(writer, content.archiveSha256);
    if (!content.archiveHeadsSha256.empty()) {
        writer.Key("headsSha256");
        writeString(writer, content.archiveHeadsSha256);
    }
    writer.Key("size");
    writer.Uint64(content.archiveSize);
    writer.Key("format");
    writer.String(base::kArchiveFormatName);
    writer.EndObject();

    writer.Key("files");
    writer.StartArray();
    for (const ManifestRecord& file : content.files) {
        writer.StartObject();
        writer.Key("path");
        writeString(writer, file.path);
        writer.Key("sha256");
        writeString(writer, file.sha256);
        writer.Key("size");
        writer.Uint64(file.size);
        writer.Key("url");
        writeString(writer, file.url);
        // Optional: a reader that does not know them ignores them and repairs whole files.
        if (!file.chunksSha256.empty()) {
            writer.Key("chunksUrl");
            writeString(writer, file.chunksUrl);
            writer.Key("chunksSha256");
            writeString(writer, file.chunksSha256);
        }
        if (!file.groupsSha256.empty()) {
            writer.Key("chunkGroupsUrl");
            writeString(writer, file.groupsUrl);
            writer.Key("chunkGroupsSha256");
            writeString(writer, file.groupsSha256);
        }
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace orvpak
