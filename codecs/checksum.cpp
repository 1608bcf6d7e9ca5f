// CRC-32, Adler-32 and the Internet checksum (see checksum.h).
#include "codecs/checksum.h"

#include <array>

namespace zor::checksum {

namespace {

// Eight tables for slicing-by-8: table[0] is the classic byte table, table[k][n] the CRC
// of byte n followed by k zero bytes, so eight input bytes fold in with eight lookups.
using crc_tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr crc_tables make_crc_tables() {
    crc_tables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
    return t;
}

constexpr crc_tables CRC_TABLES = make_crc_tables();

constexpr uint32_t ADLER_MODULUS = 65521;
// The most bytes after which a and b still fit 32 bits before the modulus is taken.
constexpr size_t ADLER_RUN = 5552;

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length) {
    const auto& t = CRC_TABLES;
    while (length >= 8) {
        uint32_t low = crc ^ (uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                              uint32_t(bytes[3]) << 24);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
        bytes += 8;
        length -= 8;
    }
    while (length--) crc = (crc >> 8) ^ t[0][(crc ^ *bytes++) & 0xFF];
    return crc;
}

uint32_t crc32(const uint8_t* bytes, size_t length) { return crc32_finish(crc32_update(CRC32_START, bytes, length)); }

uint32_t adler32_update(uint32_t adler, const uint8_t* bytes, size_t length) {
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    while (length > 0) {
        size_t run = length < ADLER_RUN ? length : ADLER_RUN;
        length -= run;
        while (run--) {
            a += *bytes++;
            b += a;
        }
        a %= ADLER_MODULUS;
        b %= ADLER_MODULUS;
    }
    return b << 16 | a;
}

uint32_t adler32(const uint8_t* bytes, size_t length) { return adler32_update(ADLER32_START, bytes, length); }

uint16_t internet_checksum(const uint8_t* bytes, size_t length) {
    // A 64-bit sum of 16-bit words cannot overflow for any buffer that fits in memory;
    // folding at the end keeps it exact.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < length) sum += uint32_t(bytes[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

}  // namespace zor::checksum
