// Digests and HMAC over libcrypto's EVP interface (see crypto.h). The library is opened
// at the first digest, not at start-up: loading and relocating it is a large part of a
// process start that never computes a digest.
#include "platform/crypto.h"

#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace zor::crypto {

namespace {

// The entries of libcrypto this module calls, found once.
struct library {
    bool loaded = false;
    decltype(&EVP_md5) md5 = nullptr;
    decltype(&EVP_sha1) sha1 = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_sha384) sha384 = nullptr;
    decltype(&EVP_sha512) sha512 = nullptr;
    decltype(&EVP_Digest) digest = nullptr;
    decltype(&HMAC) hmac = nullptr;
};

template <typename Entry> bool find(void* handle, const char* name, Entry& entry) {
    entry = reinterpret_cast<Entry>(dlsym(handle, name));
    return entry != nullptr;
}

// The library, or null when it cannot be opened or lacks an entry (the callers then
// answer nothing, as for any failure of the library).
const library* crypto_library() {
    static const library opened = [] {
        library found;
        void* handle = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!handle) return found;
        found.loaded = find(handle, "EVP_md5", found.md5) && find(handle, "EVP_sha1", found.sha1) &&
                       find(handle, "EVP_sha256", found.sha256) && find(handle, "EVP_sha384", found.sha384) &&
                       find(handle, "EVP_sha512", found.sha512) && find(handle, "EVP_Digest", found.digest) &&
                       find(handle, "HMAC", found.hmac);
        return found;
    }();
    return opened.loaded ? &opened : nullptr;
}

const EVP_MD* engine_of(const library& lib, digest algorithm) {
    switch (algorithm) {
    case digest::md5: return lib.md5();
    case digest::sha1: return lib.sha1();
    case digest::sha256: return lib.sha256();
    case digest::sha384: return lib.sha384();
    case digest::sha512: return lib.sha512();
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
    const library* lib = crypto_library();
    if (!lib) return std::nullopt;
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int written = 0;
    static const uint8_t nothing = 0;
    if (!lib->digest(length ? bytes : &nothing, length, out.data(), &written, engine_of(*lib, algorithm), nullptr)) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

std::optional<std::vector<uint8_t>> hmac_of(digest algorithm, const uint8_t* key, size_t key_length,
                                            const uint8_t* data, size_t length) {
    const library* lib = crypto_library();
    if (!lib) return std::nullopt;
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int written = 0;
    static const uint8_t nothing = 0;
    if (key_length > size_t(INT32_MAX)) return std::nullopt;
    if (!lib->hmac(engine_of(*lib, algorithm), key_length ? key : &nothing, int(key_length),
                   length ? data : &nothing, length, out.data(), &written)) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

}  // namespace zor::crypto
