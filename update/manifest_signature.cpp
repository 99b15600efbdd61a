#include "update/manifest_signature.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <mutex>

#include "base/long_path.h"
#include "base/small_file.h"
#include "base/unique_handle.h"
#include "update/http.h"
#include "update/sha256.h"

#ifndef ORVANE_MANIFEST_KEYS
#define ORVANE_MANIFEST_KEYS ""
#endif

namespace pcupd {
namespace {

struct KeyHandleTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { ::BCryptDestroyKey(h); }
};

constexpr size_t kCoordinateSize = 32;
constexpr size_t kSignatureSize = 2 * kCoordinateSize;

// The build's keys, checked at configure time, arrive comma-separated (CMake would split a
// ";" list into separate definitions).
std::vector<std::string> builtInKeys() {
    std::vector<std::string> keys;
    const std::string text = ORVANE_MANIFEST_KEYS;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) keys.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return keys;
}

std::mutex keysLock;
bool keysOverridden = false;
std::vector<std::string> overrideKeys;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The BCRYPT_ECCPUBLIC_BLOB of a 128-hex key; empty when the text is no key.
std::vector<UCHAR> publicBlob(const std::string& hex) {
    if (hex.size() != 2 * kSignatureSize) return {};
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + kSignatureSize);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateSize};
    std::memcpy(blob.data(), &header, sizeof(header));
    for (size_t i = 0; i < kSignatureSize; ++i) {
        const int high = hexValue(hex[2 * i]), low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return {};
        blob[sizeof(header) + i] = static_cast<UCHAR>(high << 4 | low);
    }
    return blob;
}

// The ".sig" of `url`: into `signature`, or `missing` on 404; false on any other failure.
bool fetchSignature(const std::string& url, std::string& signature, bool& missing,
                    std::string& error) {
    const std::string sigUrl = url + ".sig";
    std::string fetchError;
    missing = false;
    if (httpGet(sigUrl, signature, fetchError)) return true;
    missing = fetchError == "HTTP status 404 for " + sigUrl;
    if (!missing) error = fetchError;
    return missing;
}

// "YYYY-MM-DDTHH:MM:SSZ" as FILETIME ticks; false for anything else or an impossible date.
bool parseUtc(const std::string& text, uint64_t& ticks) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return false;
    const auto field = [&](size_t at, size_t length, WORD& out) {
        unsigned value = 0;
        for (size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
        }
        out = static_cast<WORD>(value);
        return true;
    };
    SYSTEMTIME time{};
    if (!field(0, 4, time.wYear) || !field(5, 2, time.wMonth) || !field(8, 2, time.wDay) ||
        !field(11, 2, time.wHour) || !field(14, 2, time.wMinute) || !field(17, 2, time.wSecond))
        return false;
    // SystemTimeToFileTime refuses 13th months, 31st Aprils and 61st seconds.
    FILETIME file{};
    if (!SystemTimeToFileTime(&time, &file)) return false;
    ticks = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return true;
}

std::wstring sequencePath(const std::wstring& installDir) {
    return installDir + L"\\" + kSequenceFileName;
}

// Written aside and moved over the old record: a crash leaves the old record or the new one.
bool saveSequence(const std::wstring& installDir, int64_t sequence) {
    const std::wstring path = sequencePath(installDir);
    base::createParentDirectories(path);
    return base::replaceFile(path, std::to_string(sequence) + "\n");
}

}  // namespace

std::vector<std::string> manifestKeys() {
    std::lock_guard<std::mutex> hold(keysLock);
    return keysOverridden ? overrideKeys : builtInKeys();
}

void setManifestKeysForTesting(const std::vector<std::string>& keys) {
    std::lock_guard<std::mutex> hold(keysLock);
    keysOverridden = true;
    overrideKeys = keys;
}

void resetManifestKeysForTesting() {
    std::lock_guard<std::mutex> hold(keysLock);
    keysOverridden = false;
    overrideKeys.clear();
}

bool verifyManifestSignature(const std::string& body, const std::string& signature,
                             const std::vector<std::string>& keys) {
    if (signature.size() != kSignatureSize) return false;
    uint8_t digest[kSha256Size];
    Sha256 hash;
    hash.update(body.data(), body.size());
    if (!hash.finish(digest)) return false;
    base::UniqueAny<AlgorithmHandleTraits> provider;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_ECDSA_P256_ALGORITHM,
                                                    nullptr, 0)))
        return false;
    std::vector<UCHAR> signatureBytes(signature.begin(), signature.end());
    for (const std::string& hex : keys) {
        std::vector<UCHAR> blob = publicBlob(hex);
        if (blob.empty()) continue;
        base::UniqueAny<KeyHandleTraits> key;
        if (!BCRYPT_SUCCESS(BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                                key.put(), blob.data(),
                                                static_cast<ULONG>(blob.size()), 0)))
            continue;
        if (BCRYPT_SUCCESS(BCryptVerifySignature(key.get(), nullptr, digest, sizeof(digest),
                                                 signatureBytes.data(),
                                                 static_cast<ULONG>(signatureBytes.size()), 0)))
            return true;
    }
    return false;
}

bool fetchSignedManifest(const std::string& url, std::string& body, std::string& error) {
    const std::vector<std::string> keys = manifestKeys();
    if (keys.empty()) return httpGet(url, body, error);
    bool missing = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string signature;
        if (!httpGet(url, body, error) || !fetchSignature(url, signature, missing, error))
            return false;
        if (!missing && verifyManifestSignature(body, signature, keys)) return true;
    }
    body.clear();  // nothing unverified may be read by mistake
    error = missing ? "manifest signature missing" : "manifest signature is not valid";
    return false;
}

bool acceptManifest(const Manifest& manifest, const std::wstring& installDir, std::string& error) {
    if (manifestKeys().empty()) return true;
    uint64_t expires = 0;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t nowTicks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    if (!parseUtc(manifest.expires, expires) || expires <= nowTicks) {
        error = "manifest has expired";
        return false;
    }
    const int64_t accepted = acceptedSequence(installDir);
    if (manifest.sequence < 0 || manifest.sequence < accepted) {
        error = "manifest is older than the installed client";
        return false;
    }
    // Recorded now, not after the run: a run an attacker makes fail must not leave the door
    // open to the older manifest next time. The operator's next publish is always higher.
    if (manifest.sequence > accepted) saveSequence(installDir, manifest.sequence);
    return true;
}

int64_t acceptedSequence(const std::wstring& installDir) {
    base::UniqueFile file(CreateFileW(sequencePath(installDir).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    char text[32] = {};
    DWORD read = 0;
    if (!ReadFile(file.get(), text, sizeof(text) - 1, &read, nullptr)) return 0;
    int64_t value = 0;
    DWORD i = 0;
    for (; i < read && text[i] >= '0' && text[i] <= '9' && i < 18; ++i) value = value * 10 + (text[i] - '0');
    return i > 0 && (i == read || text[i] == '\n') ? value : 0;
}

}  // namespace pcupd
