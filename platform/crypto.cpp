// Digests and HMAC over libcrypto's EVP interface (see crypto.h).
#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace zor::crypto {

namespace {

const EVP_MD* engine_of(digest algorithm) {
    switch (algorithm) {
    case digest::md5: return EVP_md5();
    case digest::sha1: return EVP_sha1();
    case digest::sha256: return EVP_sha256();
    case digest::sha384: return EVP_sha384();
    case digest::sha512: return EVP_sha512();
    }
    return nullptr;
}

}  // namespace

int digest_size(digest algorithm) {
    switch (algorithm) {
    case digest::md5: return 16;
    case digest::sha1: return 20;
    case digest::sha256: return 32;
    case digest::sha384: return 48;
    case digest::sha512: return 64;
    }
    return 0;
}

std::optional<std::vector<uint8_t>> digest_of(digest algorithm, const uint8_t* bytes, size_t length) {
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int written = 0;
    static const uint8_t nothing = 0;
    if (!EVP_Digest(length ? bytes : &nothing, length, out.data(), &written, engine_of(algorithm), nullptr)) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

std::optional<std::vector<uint8_t>> hmac_of(digest algorithm, const uint8_t* key, size_t key_length,
                                            const uint8_t* data, size_t length) {
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int written = 0;
    static const uint8_t nothing = 0;
    if (key_length > size_t(INT32_MAX)) return std::nullopt;
    if (!HMAC(engine_of(algorithm), key_length ? key : &nothing, int(key_length), length ? data : &nothing, length,
              out.data(), &written)) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

}  // namespace zor::crypto
