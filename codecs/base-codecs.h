// The text codecs of binary data: bytes to base-2, base-16, base-58 and base-64 text and
// back, for `enbase`, `debase` and the conversions that read binary data written as text.
//
// Encoders write characters (one byte each, all ASCII) into a destination the caller has
// sized, with no line breaks and no terminator, and answer the end of what they wrote.
// Decoders read the code points of a text (units of 1, 2 or 4 bytes, as in string
// buffers) and answer the decoded bytes, or nothing when the text is not valid in that
// base. In every decoder ";" starts a comment that runs to the next line feed.
//
// None of these routines allocates from the collected heap (working storage is plain C++
// memory), so a caller may hand them pointers into series buffers: nothing can move while
// they run. Making the result a series is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zor::binary {

// The base-58 digits; a digit's value is its position.
inline constexpr char BASE58_ALPHABET[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
// The base-64 digits (no URL-safe variant) and its pad character.
inline constexpr char BASE64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr char BASE64_PAD = '=';

// 8 characters per byte, the most significant bit first.
uint8_t* encode_base2(uint8_t* destination, const uint8_t* bytes, int64_t count);
// 2 upper-case hexadecimal digits per byte, the high nibble first.
uint8_t* encode_base16(uint8_t* destination, const uint8_t* bytes, int64_t count);
// The bytes as one big-endian number in base 58, each leading zero byte written as "1";
// at most 2 x count characters.
uint8_t* encode_base58(uint8_t* destination, const uint8_t* bytes, int64_t count);
// 4 characters per started group of 3 bytes, the last group padded with "=".
uint8_t* encode_base64(uint8_t* destination, const uint8_t* bytes, int64_t count);

using decoded = std::optional<std::vector<uint8_t>>;

// Code points up to the space are skipped; "0" and "1" are bits, the most significant
// first; anything else, or a byte left unfinished at the end, fails.
decoded decode_base2(const std::byte* units, int64_t count, uint32_t unit);
// Code points up to the space are skipped; a non-digit (any code point above 127
// included) fails; a single digit left at the end is dropped.
decoded decode_base16(const std::byte* units, int64_t count, uint32_t unit);
// Blanks (backspace, tab, line feed, form feed, carriage return, space) and the apostrophe
// are skipped; a code point above 127 ends the text; any other non-digit fails. Each
// leading "1" stands for a zero byte.
decoded decode_base58(const std::byte* units, int64_t count, uint32_t unit);
// Blanks and the apostrophe are skipped; "=" ends the data (after 2 or 3 digits of a
// group, else it fails); without "=", 2 or 3 digits pending at the end give their 1 or 2
// bytes and a single one fails; any other character, code points above 127 included,
// fails.
decoded decode_base64(const std::byte* units, int64_t count, uint32_t unit);
// The same into out, which holds base64_decoded_room(count) bytes; answers the decoded
// length, or -1 when the text is not valid.
int64_t base64_decoded_room(int64_t count);
int64_t decode_base64_into(const std::byte* units, int64_t count, uint32_t unit, uint8_t* out);

}  // namespace zor::binary
