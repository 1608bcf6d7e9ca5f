// Message digests and HMAC through OpenSSL's libcrypto: MD5, SHA-1, SHA-256, SHA-384 and
// SHA-512, and the HMAC of RFC 2104 over each of them.
//
// Callers pass plain byte ranges (copied out of series first, or pointers into buffers
// that nothing moves during the call) and receive the digest as its own vector; nothing
// here allocates series or reaches the collector. A digest algorithm is named by the
// digest enum; its result size is digest_size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zor::crypto {

enum class digest { md5, sha1, sha256, sha384, sha512 };

// 16, 20, 32, 48 or 64.
int digest_size(digest algorithm);

// The digest of the bytes, or nothing when the library fails (it should not).
std::optional<std::vector<uint8_t>> digest_of(digest algorithm, const uint8_t* bytes, size_t length);

// The HMAC of the data under the key (a key longer than the algorithm's block is hashed
// first, as RFC 2104 says), or nothing when the library fails.
std::optional<std::vector<uint8_t>> hmac_of(digest algorithm, const uint8_t* key, size_t key_length,
                                            const uint8_t* data, size_t length);

}  // namespace zor::crypto
