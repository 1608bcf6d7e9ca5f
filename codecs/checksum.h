// The checksums the program computes itself: CRC-32 (the reflected ISO-HDLC polynomial
// 0xEDB88320, the one zlib's gzip trailer and `checksum/method 'crc32` use), Adler-32 (the
// zlib trailer) and the Internet checksum of RFC 1071. They are pure functions over bytes:
// they allocate nothing and touch no series, so callers may pass a pointer into a series
// buffer as long as nothing allocates while the call runs.
//
// The running forms (crc32_update, adler32_update) let a caller feed data in pieces: start
// from CRC32_START / ADLER32_START and finish CRC-32 with crc32_finish.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::checksum {

inline constexpr uint32_t CRC32_START = 0xFFFFFFFFu;
inline constexpr uint32_t ADLER32_START = 1;

// The running CRC register after the bytes (not complemented).
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length);
inline uint32_t crc32_finish(uint32_t crc) { return ~crc; }
// The CRC-32 of the bytes; 0 for none.
uint32_t crc32(const uint8_t* bytes, size_t length);

uint32_t adler32_update(uint32_t adler, const uint8_t* bytes, size_t length);
// The Adler-32 of the bytes: b << 16 | a; 1 for none.
uint32_t adler32(const uint8_t* bytes, size_t length);

// The 16-bit Internet checksum: the complement of the one's-complement sum of the data as
// big-endian 16-bit words (an odd last byte is the high byte of a last word). The sum is
// kept in 64 bits and folded at the end, so any length is summed exactly; 0xFFFF for no
// bytes.
uint16_t internet_checksum(const uint8_t* bytes, size_t length);

}  // namespace zor::checksum
