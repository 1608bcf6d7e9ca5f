// The key decoder: turns the bytes a Linux terminal sends for key presses into the line
// editor's key codes. A key that produces a character gives its code point (Ctrl-A 1,
// Backspace 8 or 127, Tab 9, Enter 13, Esc 27); a key without one gives a negative code
// (KEY_UP ... KEY_PAGE_DOWN); a sequence the editor has no use for (function keys, mouse
// and focus reports, paste brackets) gives KEY_NONE.
//
// Recognised forms: CSI (ESC [) and SS3 (ESC O) cursor and editing keys with or without
// modifier parameters (ESC [ 1 ; 5 D is Left), the numbered forms ESC [ n ~ (1 and 7 Home,
// 4 and 8 End, 2 Insert, 3 Delete, 5 and 6 the page keys) and rxvt's modified finals
// (^ $ @, and lower-case arrows); ESC before a character or sequence (the Alt modifier)
// gives that character or key. LF counts as Enter.
//
// Invariant: pure. decode_key looks only at the bytes it is given and never reads more;
// the caller owns the buffer and the timing (a lone ESC is Esc only once no more bytes
// came within the caller's short timeout, which it tells by passing complete = true).
// Bytes that are not valid UTF-8 decode to U+FFFD, one maximal invalid prefix at a time,
// so no input can stop the decoder or make it skip a valid character after it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::key_decoder {

inline constexpr int32_t KEY_NONE = 0;
inline constexpr int32_t KEY_ENTER = 13;
inline constexpr int32_t KEY_ESCAPE = 27;
inline constexpr int32_t KEY_UP = -20;
inline constexpr int32_t KEY_DOWN = -21;
inline constexpr int32_t KEY_RIGHT = -22;
inline constexpr int32_t KEY_LEFT = -23;
inline constexpr int32_t KEY_END = -24;
inline constexpr int32_t KEY_HOME = -25;
inline constexpr int32_t KEY_INSERT = -26;
inline constexpr int32_t KEY_DELETE = -27;
inline constexpr int32_t KEY_PAGE_UP = -28;
inline constexpr int32_t KEY_PAGE_DOWN = -29;

inline constexpr uint32_t REPLACEMENT_CHARACTER = 0xFFFD;

struct decoded {
    int32_t code;     // the key code
    size_t consumed;  // bytes it took; 0: the bytes so far begin a longer sequence
};

// Decodes the first key of the bytes. With complete = false, a prefix of a longer
// sequence answers consumed 0 (wait for more). With complete = true (no more bytes are
// coming soon), it always consumes at least one byte: a lone ESC is Esc, an unfinished
// escape sequence is dropped as KEY_NONE, an unfinished UTF-8 sequence is U+FFFD.
// n = 0 answers consumed 0.
decoded decode_key(const uint8_t* bytes, size_t n, bool complete);

// The UTF-8 step of decode_key alone, for readers of text: one character (or U+FFFD for
// a maximal invalid prefix, by the rules of utf8::check_sequence), with the same meaning
// of complete.
decoded decode_utf8(const uint8_t* bytes, size_t n, bool complete);

}  // namespace zor::key_decoder
