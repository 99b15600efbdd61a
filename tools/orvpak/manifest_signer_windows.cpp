// The Windows build signs with BCrypt and keeps keys in the same PEM file as the native
// build, so one key works with both: written as PKCS#8 ("PRIVATE KEY"), read as PKCS#8 or
// as the SEC1 form ("EC PRIVATE KEY") that other tools print. BCrypt speaks neither, so the
// few DER fields of a P-256 key are encoded and decoded here.
#include "tools/orvpak/manifest_signer.h"

#include <windows.h>
#include <bcrypt.h>
#include <sddl.h>

#include <cstring>
#include <vector>

#include "base/bcrypt_handle.h"
#include "base/hex.h"
#include "base/long_path.h"
#include "base/p256_signature.h"
#include "base/unique_handle.h"
#include "tools/orvpak/file_io.h"
#include "update/sha256.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kCoordinateSize = 32;
static_assert(kSignatureSize == base::kP256SignatureSize &&
                  kPublicKeyHexSize == base::kP256PublicKeyHexSize,
              "orvpak.exe checks signatures as the setup program does");
constexpr unsigned char kUncompressedPoint = 0x04;
// id-ecPublicKey and prime256v1, each with its OID tag and length.
const Bytes kEcPublicKeyOid = {0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};
const Bytes kP256Oid = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
constexpr char kPkcs8Label[] = "PRIVATE KEY";
constexpr char kSec1Label[] = "EC PRIVATE KEY";

using UniqueKey = base::UniqueBcryptKey;
using UniqueProvider = base::UniqueBcryptAlgorithm;

bool openProvider(UniqueProvider& provider) {
    return BCRYPT_SUCCESS(
        BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
}

// The private key as BCrypt imports it: header, X, Y and d, each 32 bytes.
Bytes privateBlob(const unsigned char* xy, const unsigned char* d) {
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, kCoordinateSize};
    Bytes blob(sizeof(header) + 3 * kCoordinateSize);
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), xy, 2 * kCoordinateSize);
    std::memcpy(blob.data() + sizeof(header) + 2 * kCoordinateSize, d, kCoordinateSize);
    return blob;
}

// ---- DER: only definite lengths below 64 KiB occur in a key this size.

void appendTlv(Bytes& out, unsigned char tag, const Bytes& content) {
    out.push_back(tag);
    if (content.size() >= 0x80) out.push_back(0x81);  // every field here stays below 256
    out.push_back(static_cast<unsigned char>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
}

// A cursor over DER bytes; every read fails once one has.
class DerReader {
public:
    DerReader(const unsigned char* data, size_t size) : at_(data), end_(data + size) {}

    // The content of the next element when its tag is `tag`.
    bool next(unsigned char tag, DerReader& content) {
        if (!peek(tag)) return false;
        ++at_;
        size_t length = *at_++;
        if (length == 0x81 || length == 0x82) {
            const size_t count = length - 0x80;
            if (static_cast<size_t>(end_ - at_) < count) return false;
            length = 0;
            for (size_t i = 0; i < count; ++i) length = length << 8 | *at_++;
        } else if (length >= 0x80) {
            return false;
        }
        if (static_cast<size_t>(end_ - at_) < length) return false;
        content = DerReader(at_, length);
        at_ += length;
        return true;
    }
    bool peek(unsigned char tag) const { return end_ - at_ >= 2 && *at_ == tag; }
    bool equals(const Bytes& bytes) const {
        return static_cast<size_t>(end_ - at_) == bytes.size() &&
               std::memcmp(at_, bytes.data(), bytes.size()) == 0;
    }
    // The whole element starting here as raw bytes (tag and length included).
    bool nextRaw(unsigned char tag, Bytes& raw) {
        const unsigned char* start = at_;
        DerReader ignored(nullptr, 0);
        if (!next(tag, ignored)) return false;
        raw.assign(start, at_);
        return true;
    }
    const unsigned char* data() const { return at_; }
    size_t size() const { return static_cast<size_t>(end_ - at_); }

private:
    const unsigned char* at_;
    const unsigned char* end_;
};

// The private scalar and public point of a SEC1 ECPrivateKey; the curve, when named, must be
// P-256. The point is required: BCrypt cannot derive it from the scalar.
bool parseSec1(DerReader der, Bytes& d, Bytes& xy) {
    DerReader key(nullptr, 0), version(nullptr, 0), scalar(nullptr, 0);
    if (!der.next(0x30, key) || !key.next(0x02, version) || !version.equals({0x01}) ||
        !key.next(0x04, scalar) || scalar.size() > kCoordinateSize)
        return false;
    d.assign(kCoordinateSize - scalar.size(), 0);  // left-pad a short scalar
    d.insert(d.end(), scalar.data(), scalar.data() + scalar.size());
    DerReader field(nullptr, 0);
    if (key.peek(0xa0)) {
        Bytes curve;
        if (!key.next(0xa0, field) || !field.nextRaw(0x06, curve) || curve != kP256Oid)
            return false;
    }
    DerReader bits(nullptr, 0);
    if (!key.next(0xa1, field) || !field.next(0x03, bits) ||
        bits.size() != 2 + 2 * kCoordinateSize || bits.data()[0] != 0 ||
        bits.data()[1] != kUncompressedPoint)
        return false;
    xy.assign(bits.data() + 2, bits.data() + bits.size());
    return true;
}

// PKCS#8 PrivateKeyInfo around the SEC1 key, algorithm id-ecPublicKey on P-256.
bool parsePkcs8(DerReader der, Bytes& d, Bytes& xy) {
    DerReader info(nullptr, 0), version(nullptr, 0), algorithm(nullptr, 0), inner(nullptr, 0);
    Bytes oid, curve;
    return der.next(0x30, info) && info.next(0x02, version) &&
           (version.equals({0x00}) || version.equals({0x01})) && info.next(0x30, algorithm) &&
           algorithm.nextRaw(0x06, oid) && oid == kEcPublicKeyOid &&
           algorithm.nextRaw(0x06, curve) && curve == kP256Oid && info.next(0x04, inner) &&
           parseSec1(inner, d, xy);
}

Bytes encodePkcs8(const unsigned char* d, const unsigned char* xy) {
    Bytes point = {0x00, kUncompressedPoint};
    point.insert(point.end(), xy, xy + 2 * kCoordinateSize);
    Bytes bitString, sec1Fields = {0x02, 0x01, 0x01};
    appendTlv(bitString, 0x03, point);
    appendTlv(sec1Fields, 0x04, Bytes(d, d + kCoordinateSize));
    appendTlv(sec1Fields, 0xa1, bitString);
    Bytes sec1, algorithm = kEcPublicKeyOid, fields = {0x02, 0x01, 0x00}, info;
    appendTlv(sec1, 0x30, sec1Fields);
    algorithm.insert(algorithm.end(), kP256Oid.begin(), kP256Oid.end());
    appendTlv(fields, 0x30, algorithm);
    appendTlv(fields, 0x04, sec1);
    appendTlv(info, 0x30, fields);
    return info;
}

// ---- PEM

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string pemOf(const Bytes& der) {
    std::string text = std::string("-----BEGIN ") + kPkcs8Label + "-----\n", line;
    for (size_t i = 0; i < der.size(); i += 3) {
        const size_t n = std::min<size_t>(3, der.size() - i);
        const unsigned long group = static_cast<unsigned long>(der[i]) << 16 |
                                    (n > 1 ? der[i + 1] << 8 : 0) | (n > 2 ? der[i + 2] : 0);
        for (size_t k = 0; k < 4; ++k)
            line += k <= n ? kBase64[(group >> (18 - 6 * k)) & 63] : '=';
        if (line.size() == 64) text += line + "\n", line.clear();
    }
    if (!line.empty()) text += line + "\n";
    return text + "-----END " + kPkcs8Label + "-----\n";
}

// The DER between the BEGIN and END lines labelled `label`; false when absent or damaged
// (an encrypted key's header lines count as damage: orvpak never writes one).
bool derFromPem(const std::string& text, const std::string& label, Bytes& der) {
    const std::string begin = "-----BEGIN " + label + "-----", end = "-----END " + label + "-----";
    const size_t start = text.find(begin);
    if (start == std::string::npos) return false;
    const size_t stop = text.find(end, start);
    if (stop == std::string::npos) return false;
    unsigned long group = 0;
    int bits = 0;
    bool padded = false;
    der.clear();
    for (size_t i = start + begin.size(); i < stop; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') {
            padded = true;
            continue;
        }
        const char* digit = c ? std::strchr(kBase64, c) : nullptr;
        if (!digit || padded) return false;
        group = (group << 6 | static_cast<unsigned long>(digit - kBase64)) & 0xffffff;
        if ((bits += 6) >= 8) {
            bits -= 8;
            der.push_back(static_cast<unsigned char>(group >> bits));
        }
    }
    return !der.empty();
}

// Created owner-only beside `target` and moved onto its name without replacing anything, so
// the key appears complete or not at all and never over an older key.
bool writeNewPrivateFile(const fs::path& target, const std::string& bytes, std::string& error) {
    const std::wstring targetName = base::extendedLengthPath(base::fullPath(target.wstring()));
    const std::wstring tempName = targetName + L".orvpak-tmp";
    const fs::path temp = fs::path(target.wstring() + L".orvpak-tmp");
    PSECURITY_DESCRIPTOR descriptor = nullptr;  // protected: nothing inherited, owner alone
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)",
                                                              SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        error = "cannot prepare an owner-only file for " + displayPath(target);
        return false;
    }
    const base::UniqueOf<HLOCAL, &::LocalFree> descriptorOwner(descriptor);
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    bool complete = false;
    {
        base::UniqueFile file(CreateFileW(tempName.c_str(), GENERIC_WRITE, 0, &security,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = "cannot create " + displayPath(temp) + " (error " +
                    std::to_string(GetLastError()) + ")";
            return false;
        }
        DWORD written = 0;
        complete = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                             &written, nullptr) &&
                   written == bytes.size() && FlushFileBuffers(file.get());
    }
    bool ok = complete;
    if (!complete) {
        error = "cannot write " + displayPath(temp);
    } else if (!MoveFileExW(tempName.c_str(), targetName.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        ok = false;
        error = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
                    ? displayPath(target) + " already exists: keygen never replaces a key; "
                                            "choose another name"
                    : "cannot create " + displayPath(target) + " (error " +
                          std::to_string(code) + ")";
    }
    DeleteFileW(tempName.c_str());  // gone already once moved
    return ok;
}

bool sha256Of(const std::string& bytes, uint8_t (&digest)[pcupd::kSha256Size]) {
    pcupd::Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.finish(digest);
}

}  // namespace

struct SigningKey::State {
    UniqueProvider provider;  // declared first, closed last
    UniqueKey key;
    std::string publicKeyHex;
};

bool generateKey(const fs::path& keyFile, std::string& publicKeyHex, std::string& error) {
    std::error_code failure;
    if (fs::exists(fs::symlink_status(keyFile, failure))) {
        error = displayPath(keyFile) + " already exists: keygen never replaces a key; choose "
                                       "another name";
        return false;
    }
    UniqueProvider provider;
    UniqueKey key;
    Bytes blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinateSize);
    ULONG size = 0;
    if (!openProvider(provider) ||
        !BCRYPT_SUCCESS(BCryptGenerateKeyPair(provider.get(), key.put(), 256, 0)) ||
        !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key.get(), 0)) ||
        !BCRYPT_SUCCESS(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                        static_cast<ULONG>(blob.size()), &size, 0)) ||
        size != blob.size()) {
        error = "cannot make a P-256 key";
        return false;
    }
    const unsigned char* xy = blob.data() + sizeof(BCRYPT_ECCKEY_BLOB);
    const std::string pem = pemOf(encodePkcs8(xy + 2 * kCoordinateSize, xy));
    publicKeyHex = base::toHex(xy, 2 * kCoordinateSize);
    SecureZeroMemory(blob.data(), blob.size());
    return writeNewPrivateFile(keyFile, pem, error);
}

SigningKey::SigningKey() : state_(std::make_unique<State>()) {}
SigningKey::~SigningKey() = default;

bool SigningKey::load(const fs::path& keyFile, std::string& error) {
    std::string text;
    if (!readWholeFile(keyFile, text, error)) return false;
    Bytes der, d, xy;
    // "EC PRIVATE KEY" contains "PRIVATE KEY": look for the longer label first.
    const bool parsed = derFromPem(text, kSec1Label, der)
                            ? parseSec1(DerReader(der.data(), der.size()), d, xy)
                            : derFromPem(text, kPkcs8Label, der) &&
                                  parsePkcs8(DerReader(der.data(), der.size()), d, xy);
    SecureZeroMemory(&text[0], text.size());
    Bytes blob = parsed ? privateBlob(xy.data(), d.data()) : Bytes();
    auto state = std::make_unique<State>();
    const bool imported =
        parsed && openProvider(state->provider) &&
        BCRYPT_SUCCESS(BCryptImportKeyPair(state->provider.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                           state->key.put(), blob.data(),
                                           static_cast<ULONG>(blob.size()), 0));
    if (!blob.empty()) SecureZeroMemory(blob.data(), blob.size());
    if (!d.empty()) SecureZeroMemory(d.data(), d.size());
    if (!imported) {
        error = displayPath(keyFile) + " is not a P-256 private key in PEM (make one with "
                                       "orvpak keygen)";
        return false;
    }
    state->publicKeyHex = base::toHex(xy.data(), xy.size());
    state_ = std::move(state);
    return true;
}

bool SigningKey::sign(const std::string& bytes, std::string& signature, std::string& error) const {
    uint8_t digest[pcupd::kSha256Size];
    unsigned char raw[kSignatureSize];
    ULONG size = 0;
    if (!state_->key || !sha256Of(bytes, digest) ||
        !BCRYPT_SUCCESS(BCryptSignHash(state_->key.get(), nullptr, digest, sizeof(digest), raw,
                                       sizeof(raw), &size, 0)) ||
        size != sizeof(raw)) {
        error = "cannot sign the manifest";
        return false;
    }
    signature.assign(reinterpret_cast<const char*>(raw), sizeof(raw));
    return true;
}

std::string SigningKey::publicKeyHex() const { return state_->publicKeyHex; }

bool verifySignature(const std::string& publicKeyHex, const std::string& bytes,
                     const std::string& signature, std::string& problem) {
    uint8_t digest[pcupd::kSha256Size] = {};
    const bool hashed = sha256Of(bytes, digest);
    const base::P256Check check = base::checkP256Signature(digest, signature, publicKeyHex);
    if (check == base::P256Check::kKeyNotHex) {
        problem = "the public key must be 128 hex digits (X then Y), as keygen prints it";
        return false;
    }
    if (check == base::P256Check::kKeyNotOnCurve) {
        problem = "the public key is not a point of the P-256 curve";
        return false;
    }
    problem = "manifest signature is not valid";
    return hashed && check == base::P256Check::kValid;
}

}  // namespace orvpak
