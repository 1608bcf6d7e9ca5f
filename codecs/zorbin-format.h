// The ZORBIN byte format, shared by the encoder (zorbin-encode.cpp) and the decoder
// (zorbin-decode.cpp): the header, the lead and prefix bytes of the compact variant, the
// header-word bits of the fixed variant, and the unit codes of strings and vectors.
//
// Unit codes (bits 0-1 of a compact string's length word, of a vector's element byte):
// 0 one byte, 1 two bytes, 2 four bytes. Code 3 is invalid for strings; for vector! it
// means eight-byte elements, which float! and percent! vectors hold and the three other
// codes cannot express. The fixed variant writes the width itself (1, 2, 4 or 8) in
// header bits 8-12.
#pragma once

#include <cstdint>

namespace zor::zorbin::format {

inline constexpr char MAGIC[6] = {'Z', 'O', 'R', 'B', 'I', 'N'};
inline constexpr int HEADER_SIZE = 8;
inline constexpr uint8_t VERSION = 2;

inline constexpr uint8_t FLAG_COMPACT = 1;
inline constexpr uint8_t FLAG_COMPRESSED = 2;
inline constexpr uint8_t FLAG_SYMBOLS = 4;

// Compact records.
inline constexpr uint8_t PREFIX_NEW_LINE = 0xC0;
inline constexpr uint8_t PREFIX_REFERENCE = 0xC1;
inline constexpr uint8_t PREFIX_BINDING = 0xC4;
inline constexpr uint8_t LEAD_TRUE = 0xC2;
inline constexpr uint8_t LEAD_FALSE = 0xC3;
inline constexpr uint8_t LEAD_COPY = 0xFF;
inline constexpr uint8_t LEAD_SHORT_INTEGER = 0x80;  // 0x80-0xBF: the integers 0..63
inline constexpr uint8_t TYPE_BYTE_FLAG = 0x40;
inline constexpr uint8_t TYPE_BYTE_ID_MASK = 0x3F;
inline constexpr uint8_t TYPE_BYTE_LONG_ID = 63;  // the id follows as a varint

inline constexpr int VARINT_MAX_BYTES = 5;
inline constexpr int PATH_MAX_LENGTH = 65536;

// Context flags of compact context records.
inline constexpr uint8_t CONTEXT_KIND_MASK = 0x03;
inline constexpr uint8_t CONTEXT_ON_STACK = 0x04;
inline constexpr uint8_t CONTEXT_SELF = 0x08;
inline constexpr uint8_t CONTEXT_VALUES = 0x10;

// Fixed records: the header word.
inline constexpr uint32_t FIXED_TYPE_MASK = 0xFF;
inline constexpr uint32_t FIXED_COPY = 255;
inline constexpr uint32_t FIXED_NEW_LINE = 0x80000000;
inline constexpr uint32_t FIXED_REFERENCE = 0x00080000;   // bit 19
inline constexpr uint32_t FIXED_WORD_BINDING = 0x02000000;  // bit 25
inline constexpr uint32_t FIXED_CHANGE_NODE = 0x01000000;   // bit 24, object!
inline constexpr uint32_t FIXED_COMPLEMENT = 0x00800000;    // bit 23, bitset!
inline constexpr uint32_t FIXED_MONEY_SIGN = 0x00400000;    // bit 22
inline constexpr int FIXED_SMALL_SHIFT = 8;                 // tuple length, unit width
inline constexpr uint32_t FIXED_TUPLE_MASK = 0xF;
inline constexpr uint32_t FIXED_UNIT_MASK = 0x1F;
inline constexpr int FIXED_SOURCE_SHIFT = 16;               // op!'s source type
inline constexpr int FIXED_CONTEXT_KIND_SHIFT = 26;
inline constexpr uint32_t FIXED_CONTEXT_SELF = 0x10000000;      // bit 28
inline constexpr uint32_t FIXED_CONTEXT_ON_STACK = 0x20000000;  // bit 29
inline constexpr uint32_t FIXED_CONTEXT_VALUES = 0x40000000;    // bit 30

// Unit code <-> width in bytes.
inline constexpr uint32_t UNIT_CODE_WIDE = 3;
inline uint32_t unit_code(uint32_t width) { return width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3; }
inline uint32_t unit_width(uint32_t code) { return 1u << (code == UNIT_CODE_WIDE ? 3 : code); }

inline uint32_t zigzag(int32_t value) {
    return (static_cast<uint32_t>(value) << 1) ^ static_cast<uint32_t>(value >> 31);
}
inline int32_t unzigzag(uint32_t value) {
    return static_cast<int32_t>((value >> 1) ^ (0u - (value & 1)));
}

}  // namespace zor::zorbin::format
