#include "tools/orvpak/manifest_signer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "base/hex.h"
#include "tools/orvpak/file_io.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

constexpr char kCurveName[] = "prime256v1";
constexpr size_t kCoordinateSize = 32;
constexpr unsigned char kUncompressedPoint = 0x04;

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* pointer) const { Free(pointer); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using KeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;
struct OpenSslFree {  // OPENSSL_free is a macro, so it cannot be a template argument
    void operator()(unsigned char* pointer) const { OPENSSL_free(pointer); }
};

// OpenSSL's own reason for the last failure, for messages that need more than "failed".
std::string openSslReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown OpenSSL error";
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    return text;
}

bool isP256(EVP_PKEY* key) {
    char group[64] = {};
    size_t length = 0;
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group),
                                          &length) == 1 &&
           std::strcmp(group, kCurveName) == 0;
}

std::string publicHexOf(EVP_PKEY* key) {
    unsigned char point[1 + 2 * kCoordinateSize];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point),
                                        &length) != 1 ||
        length != sizeof(point) || point[0] != kUncompressedPoint)
        return std::string();
    return base::toHex(point + 1, length - 1);  // X then Y, without the 0x04
}

// The public key in the form the setup program is built with, or null with `problem` set.
KeyPtr publicKeyFromHex(const std::string& hex, std::string& problem) {
    std::vector<unsigned char> xy;
    if (hex.size() != kPublicKeyHexSize || !base::fromHex(hex, xy)) {
        problem = "the public key must be 128 hex digits (X then Y), as keygen prints it";
        return nullptr;
    }
    std::vector<unsigned char> point = {kUncompressedPoint};
    point.insert(point.end(), xy.begin(), xy.end());
    ParamBuildPtr build(OSSL_PARAM_BLD_new());
    ParamsPtr params;
    if (build &&
        OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, kCurveName, 0) &&
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                         point.size()))
        params.reset(OSSL_PARAM_BLD_to_param(build.get()));
    KeyContextPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        ERR_clear_error();
        problem = "the public key is not a point of the P-256 curve";
        return nullptr;
    }
    return KeyPtr(raw);
}

// Writes `bytes` to a sibling temp file created owner-only, then links it to `target`: the
// link fails rather than replacing a file that appeared meanwhile.
bool writeNewPrivateFile(const fs::path& target, const std::string& bytes, std::string& error) {
    const fs::path temp = fs::path(target.string() + ".orvpak-tmp");
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot create " + displayPath(temp) + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t step = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) break;
        written += static_cast<size_t>(step);
    }
    const bool complete = written == bytes.size() && ::fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    bool ok = complete;
    if (!complete)
        error = "cannot write " + displayPath(temp) + ": " + std::strerror(writeErrno);
    else if (::link(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno == EEXIST ? displayPath(target) + " already exists: keygen never replaces "
                                                        "a key; choose another name"
                                : "cannot create " + displayPath(target) + ": " +
                                      std::strerror(errno);
    }
    ::unlink(temp.c_str());
    return ok;
}

}  // namespace

struct SigningKey::State {
    KeyPtr key;
};

bool generateKey(const fs::path& keyFile, std::string& publicKeyHex, std::string& error) {
    std::error_code failure;
    if (fs::exists(fs::symlink_status(keyFile, failure))) {
        error = displayPath(keyFile) + " already exists: keygen never replaces a key; choose "
                                       "another name";
        return false;
    }
    KeyPtr key(EVP_EC_gen(kCurveName));
    BioPtr pem(BIO_new(BIO_s_mem()));
    if (!key || !pem ||
        PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        error = "cannot make a P-256 key: " + openSslReason();
        return false;
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(pem.get(), &data);
    const std::string text(data, size > 0 ? static_cast<size_t>(size) : 0);
    publicKeyHex = publicHexOf(key.get());
    if (publicKeyHex.empty()) {
        error = "cannot read the new key's public point: " + openSslReason();
        return false;
    }
    return writeNewPrivateFile(keyFile, text, error);
}

SigningKey::SigningKey() : state_(std::make_unique<State>()) {}
SigningKey::~SigningKey() = default;

bool SigningKey::load(const fs::path& keyFile, std::string& error) {
    std::string text;
    if (!readWholeFile(keyFile, text, error)) return false;
    BioPtr pem(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    KeyPtr key(pem ? PEM_read_bio_PrivateKey(pem.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    if (!key || !isP256(key.get())) {
        error = displayPath(keyFile) + " is not a P-256 private key in PEM (make one with "
                                       "orvpak keygen)";
        return false;
    }
    state_->key = std::move(key);
    return true;
}

bool SigningKey::sign(const std::string& bytes, std::string& signature, std::string& error) const {
    DigestContextPtr context(EVP_MD_CTX_new());
    size_t length = 0;
    std::vector<unsigned char> der;
    bool ok = state_->key && context &&
              EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr,
                                 state_->key.get()) == 1 &&
              EVP_DigestSign(context.get(), nullptr, &length,
                             reinterpret_cast<const unsigned char*>(bytes.data()),
                             bytes.size()) == 1;
    if (ok) {
        der.resize(length);
        ok = EVP_DigestSign(context.get(), der.data(), &length,
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            bytes.size()) == 1;
    }
    const unsigned char* cursor = der.data();
    EcdsaSigPtr parsed(ok ? d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length)) : nullptr);
    unsigned char raw[kSignatureSize];
    if (!parsed ||
        BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), raw, kCoordinateSize) != kCoordinateSize ||
        BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), raw + kCoordinateSize, kCoordinateSize) !=
            kCoordinateSize) {
        error = "cannot sign the manifest: " + openSslReason();
        return false;
    }
    signature.assign(reinterpret_cast<const char*>(raw), sizeof(raw));
    return true;
}

std::string SigningKey::publicKeyHex() const {
    return state_->key ? publicHexOf(state_->key.get()) : std::string();
}

bool verifySignature(const std::string& publicKeyHex, const std::string& bytes,
                     const std::string& signature, std::string& problem) {
    const KeyPtr key = publicKeyFromHex(publicKeyHex, problem);
    if (!key) return false;
    problem = "manifest signature is not valid";
    if (signature.size() != kSignatureSize) return false;
    const auto* raw = reinterpret_cast<const unsigned char*>(signature.data());
    BignumPtr r(BN_bin2bn(raw, kCoordinateSize, nullptr));
    BignumPtr s(BN_bin2bn(raw + kCoordinateSize, kCoordinateSize, nullptr));
    EcdsaSigPtr parsed(ECDSA_SIG_new());
    if (!r || !s || !parsed || ECDSA_SIG_set0(parsed.get(), r.get(), s.get()) != 1) return false;
    r.release();  // owned by `parsed` now
    s.release();
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(parsed.get(), &der);
    if (derLength <= 0) return false;
    const std::unique_ptr<unsigned char, OpenSslFree> owner(der);
    DigestContextPtr context(EVP_MD_CTX_new());
    const bool valid =
        context &&
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), der, static_cast<size_t>(derLength),
                         reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
    ERR_clear_error();
    return valid;
}

}  // namespace orvpak
