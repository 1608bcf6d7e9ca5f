// Unicode text conversion: everything that crosses the edge of the runtime as text.
//
// Strings hold fixed-width code units (unit 1 Latin-1, 2 UCS-2, 4 UCS-4; see
// runtime/datatypes/string.h). This module decodes UTF-8 and UTF-16LE into string
// buffers, widening them as the text requires, and encodes string values into
// NUL-terminated UTF-8 or UTF-16LE (optionally LF as CR LF) inside the string's encoding
// cache, the byte series named by payload word 3 of the string cell.
//
// Invariants for callers:
// - Loader input given as a raw pointer must not lie in a series buffer (it must not move
//   while the loader allocates). Bytes held by a series are passed as `input_bytes::in`
//   of a rooted binary!/string! cell; the loader re-reads them after it allocates.
// - A pointer answered by string_to_utf8 / string_to_utf16le points into the encoding
//   cache: use it (or copy it) before anything can allocate.
// - String cells passed here live in rooted slots (argument stack, a block): the loaders
//   and encoders allocate and re-read the cell's node afterwards.
// - A unit width other than 1, 2 or 4 is an internal fault that ends the process through
//   platform::quit_with_error(101).
#pragma once

#include <array>
#include <cstdint>

#include "runtime/value/cell.h"
#include "runtime/memory/memory.h"

namespace zor::unicode {

// --- Input of the loaders -------------------------------------------------------------

// Where loader input lives: outside every series (a pointer that cannot move), or in the
// unit-1 series of a rooted binary!/string! cell from its head plus a byte offset.
struct input_bytes {
    const uint8_t* external = nullptr;
    const cell* holder = nullptr;  // when set: the series of holder->w2
    int64_t offset = 0;            // byte offset from that series' head

    static input_bytes at(const void* bytes) { return {static_cast<const uint8_t*>(bytes), nullptr, 0}; }
    static input_bytes in(const cell* series_value, int64_t byte_offset) {
        return {nullptr, series_value, byte_offset};
    }
    // The current address of the first byte (re-read after every allocation).
    const uint8_t* address() const;
};

// --- Decoding UTF-8 ---------------------------------------------------------------------

// The 364-byte DFA table: 256 byte classes, then transitions (states are multiples of 12;
// 0 accepts, 12 rejects). The table rejects overlong forms, surrogates and code points
// above 0x10FFFF.
extern const std::array<uint8_t, 364> utf8_state_table;
inline constexpr int UTF8_ACCEPT = 0;
inline constexpr int UTF8_REJECT = 12;

// `unicode/decode-utf8-char`: decodes one character with the DFA, reading no byte at or
// past end. Answers the address after the consumed bytes; codepoint is -1 when the DFA
// rejects (or the input ends inside a sequence).
const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& codepoint);
// `unicode/count-utf8-chars`: characters between begin and end (DFA decoding; a rejected
// sequence counts as one character).
int64_t count_utf8_chars(const uint8_t* begin, const uint8_t* end);
// `unicode/skip-utf8-chars`: the address after n characters, never past end.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, int64_t n);
// `unicode/utf8-lead-byte-length`: 4 for 0xF0-0xFF, 3 for 0xE0-0xEF, 2 for 0xC0-0xDF, else 0.
int utf8_lead_byte_length(uint8_t byte);
// `unicode/decode-utf8-char-checked`: decodes one character from the available bytes
// (length: in the bytes available, out the bytes consumed). Answers the code point, or -1
// when the available bytes are a valid but incomplete start of a sequence. Invalid input
// (a stray continuation byte, 0xF5-0xFF, an overlong form, a surrogate D800-DFFF, a code
// point above 0x10FFFF, a missing continuation byte) raises access/invalid-utf8 with a
// binary! of the bytes from the error position (four, fewer when the input ends first).
int32_t decode_utf8_char_checked(const uint8_t* p, int64_t& length);

// `unicode/load-utf8`: decodes n bytes of UTF-8 and appends the text at the tail of the
// string's buffer (string null: into a new buffer of unit 1). A leading EF BB BF is
// skipped. When the input ends inside a sequence, the number of unconsumed bytes is
// stored in *leftover (the caller feeds them again with the next chunk); with leftover
// null such a truncated end raises access/invalid-utf8. With line_ends, CR LF becomes LF
// and a lone CR becomes LF. Units 0..0xFF stay in a unit-1 buffer; wider text widens it.
// Invalid input raises before the buffer is changed. Answers the buffer holding the text;
// with string null its node is held by nothing yet: store it before allocating again.
memory::series_buffer* load_utf8(input_bytes bytes, int64_t n, cell* string, int64_t* leftover, bool line_ends);
// `unicode/load-utf8-into-string`: load_utf8 into the string's buffer, no line-end
// conversion.
memory::series_buffer* load_utf8_into_string(input_bytes bytes, int64_t n, cell* string, int64_t* leftover);
// `unicode/load-utf8-new`: load_utf8 into a new buffer, no line-end conversion, no
// leftover (a truncated end raises).
memory::series_buffer* load_utf8_new(input_bytes bytes, int64_t n);

// --- Encoding UTF-8 ----------------------------------------------------------------------

// `unicode/utf8-length-of-codepoint`: 1 up to 0x7F, 2 up to 0x7FF, 3 up to 0xFFFF, 4 up
// to 0x10FFFF; above raises script/invalid-char with the code point as integer!.
int utf8_length_of_codepoint(uint32_t codepoint);
// `unicode/utf8-size-of-units`: bytes that the units between begin and end need in UTF-8.
int64_t utf8_size_of_units(const std::byte* begin, const std::byte* end, uint32_t unit);
// `unicode/encode-utf8-char`: writes 1-4 bytes and answers their count; above 0x10FFFF
// raises script/invalid-char.
int encode_utf8_char(uint32_t codepoint, uint8_t* out);
// `unicode/encode-utf8-char-bounded`: writes only the leading bytes of the sequence that
// fit in capacity; answers the number written.
int encode_utf8_char_bounded(uint32_t codepoint, uint8_t* out, int64_t capacity);

// `unicode/string-to-utf8`: the string's text from its index (at most *length characters;
// -1 means all) as NUL-terminated UTF-8 in its encoding cache; *length receives the byte
// count without the NUL. The answer points into the cache: use it before allocating.
const char* string_to_utf8(cell* string, int64_t* length);
// `unicode/string-to-utf8-crlf-option`: the same, writing each LF as CR LF when crlf.
const char* string_to_utf8_crlf_option(cell* string, int64_t* length, bool crlf);
// `unicode/encode-string-utf8-into`: encodes count characters (-1: all) from the index
// into out, which must hold utf8_size_of_units of them (+1 for the NUL); answers the byte
// count without the NUL.
int64_t encode_string_utf8_into(const cell* string, uint8_t* out, int64_t count, bool nul);
// `unicode/encode-string-utf8-bounded`: the same, writing only what fits in capacity (a
// character that does not fit whole is cut to its leading bytes, and the NUL, when asked,
// takes the last byte of the capacity); count 0 or negative means all. Answers the bytes
// written without the NUL.
int64_t encode_string_utf8_bounded(const cell* string, uint8_t* out, int64_t capacity, int64_t count, bool nul);

// --- Widening a string buffer in place ----------------------------------------------------

// Each grows the buffer first when its capacity is below the new size, then rewrites the
// units from the end backwards and sets the new unit width. The node stays; the answer is
// the buffer that now holds the data.
memory::series_buffer* widen_latin1_to_ucs2(memory::series_buffer* buffer);
memory::series_buffer* widen_latin1_to_ucs4(memory::series_buffer* buffer);
memory::series_buffer* widen_ucs2_to_ucs4(memory::series_buffer* buffer);

// --- UTF-16LE -----------------------------------------------------------------------------

// `unicode/utf16-unit-width`: 4 as soon as a unit's high byte is 0xD8-0xDF; else 2 when
// any high byte is not 0; else 1.
int utf16_unit_width(const uint8_t* data, int64_t units);
// `unicode/load-utf16le`: decodes n UTF-16LE units. With data, the text is appended at
// the tail of the string's buffer (string null: a new buffer); with data.external and
// data.holder both null, the string's own buffer from head to tail is the UTF-16LE input
// and is replaced by the text. The unit width is the wider of the buffer's and the
// text's. With cr, every CR unit (0x000D) is dropped. A surrogate without its partner
// raises script/invalid-data with a binary! of the offending bytes (the unpaired unit and
// the one after it, when there is one); the buffer is unchanged then. Marks the buffer
// with memory::FLAG_UTF16.
memory::series_buffer* load_utf16le(input_bytes data, int64_t n, cell* string, bool cr);
// `unicode/encode-utf16le-char`: 1 unit below 0x10000, 2 units (a surrogate pair) for
// 0x10000-0x10FFFF, 0 above; answers the unit count.
int encode_utf16le_char(uint32_t codepoint, uint8_t* out);
// `unicode/string-to-utf16le`: the string's text from its index (at most *units
// characters; -1 means all) as UTF-16LE ended by two zero bytes in its encoding cache;
// *units receives the units written without the NUL. Null when a character is above
// 0x10FFFF. The answer points into the cache: use it before allocating.
const uint8_t* string_to_utf16le(cell* string, int64_t* units, bool crlf);
// `unicode/string-to-utf16le-crlf`: the whole string from its index, LF as CR LF.
const uint8_t* string_to_utf16le_crlf(cell* string);

// --- Shared by the string module -------------------------------------------------------------

// The unit at a byte address (2- and 4-byte units little-endian).
inline uint32_t read_unit(const std::byte* at, uint32_t unit);
// Ends the process with runtime error 101: a unit width other than 1, 2 or 4.
[[noreturn]] void bad_unit_width();

inline uint32_t read_unit(const std::byte* at, uint32_t unit) {
    switch (unit) {
        case 1: return static_cast<uint8_t>(*at);
        case 2: return static_cast<uint32_t>(static_cast<uint8_t>(at[0])) |
                       static_cast<uint32_t>(static_cast<uint8_t>(at[1])) << 8;
        case 4: return static_cast<uint32_t>(static_cast<uint8_t>(at[0])) |
                       static_cast<uint32_t>(static_cast<uint8_t>(at[1])) << 8 |
                       static_cast<uint32_t>(static_cast<uint8_t>(at[2])) << 16 |
                       static_cast<uint32_t>(static_cast<uint8_t>(at[3])) << 24;
        default: bad_unit_width();
    }
}

}  // namespace zor::unicode
