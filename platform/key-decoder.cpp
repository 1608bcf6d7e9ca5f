// The terminal key decoder (see key-decoder.h).
#include "platform/key-decoder.h"

#include "platform/utf8-sequence.h"

namespace zor::key_decoder {
namespace {

constexpr uint8_t ESC = 0x1B;
// Longer than any key or report a terminal sends; a run past it is noise and is dropped.
constexpr size_t MAX_SEQUENCE = 64;

constexpr decoded WAIT{KEY_NONE, 0};

// The key of a cursor or editing key's final byte, in CSI and SS3 sequences alike;
// rxvt sends the lower-case arrows for its shifted (CSI) and control (SS3) arrows.
int32_t key_of_final(uint8_t final) {
    switch (final) {
        case 'A': case 'a': return KEY_UP;
        case 'B': case 'b': return KEY_DOWN;
        case 'C': case 'c': return KEY_RIGHT;
        case 'D': case 'd': return KEY_LEFT;
        case 'H': return KEY_HOME;
        case 'F': return KEY_END;
        default: return KEY_NONE;
    }
}

// The key of ESC [ n ~ (and of rxvt's modified forms ending in ^, $ or @).
int32_t key_of_number(int number) {
    switch (number) {
        case 1: case 7: return KEY_HOME;
        case 2: return KEY_INSERT;
        case 3: return KEY_DELETE;
        case 4: case 8: return KEY_END;
        case 5: return KEY_PAGE_UP;
        case 6: return KEY_PAGE_DOWN;
        default: return KEY_NONE;  // function keys, paste brackets
    }
}

// A key that is not an escape sequence: a control byte, DEL or a UTF-8 character.
decoded decode_plain(const uint8_t* bytes, size_t n, bool complete) {
    if (bytes[0] == '\n') return {KEY_ENTER, 1};
    return decode_utf8(bytes, n, complete);
}

// ESC [ or ESC O followed by parameter bytes and a final byte; start is the index after
// the introducer.
decoded decode_sequence(const uint8_t* bytes, size_t n, bool complete, bool ss3) {
    size_t i = 2;
    if (!ss3 && n > 2 && bytes[2] == 'M') {
        // An X10 mouse report: three raw bytes follow.
        if (n < 6) return complete ? decoded{KEY_NONE, n} : WAIT;
        return {KEY_NONE, 6};
    }
    if (!ss3 && n > 2 && bytes[2] == '[') {
        // The Linux console's F1-F5: ESC [ [ A to E.
        if (n < 4) return complete ? decoded{KEY_NONE, n} : WAIT;
        return {KEY_NONE, 4};
    }
    bool plain_parameters = true;  // digits and ';' only (no private marker)
    int first_number = 0;
    bool in_first = true;
    for (; i < n && i < MAX_SEQUENCE; ++i) {
        const uint8_t byte = bytes[i];
        if (byte >= 0x30 && byte <= 0x3F) {
            if (byte >= '0' && byte <= '9') {
                if (in_first && first_number < 10000) first_number = first_number * 10 + (byte - '0');
            } else if (byte == ';') {
                in_first = false;
            } else {
                plain_parameters = false;
            }
            continue;
        }
        // rxvt ends its shifted editing keys with '$', otherwise an intermediate byte;
        // after plain parameters it is taken as the final.
        if (byte == '$' && plain_parameters && !ss3) return {key_of_number(first_number), i + 1};
        if (byte >= 0x20 && byte <= 0x2F) {  // intermediate bytes
            plain_parameters = false;
            continue;
        }
        if (byte >= 0x40 && byte <= 0x7E) {
            if (!plain_parameters) return {KEY_NONE, i + 1};
            if (ss3) return {byte == 'M' ? KEY_ENTER : key_of_final(byte), i + 1};
            if (byte == '~' || byte == '^' || byte == '$' || byte == '@') return {key_of_number(first_number), i + 1};
            if (byte == 'Z') return {9, i + 1};  // Shift-Tab gives the Tab character
            return {key_of_final(byte), i + 1};
        }
        // A control byte inside the sequence: what came before it was no key.
        return {KEY_NONE, i};
    }
    if (i >= MAX_SEQUENCE) return {KEY_NONE, i};
    if (!complete) return WAIT;
    // Only the introducer came: Alt with [ or O.
    if (n == 2) return {bytes[1], 2};
    return {KEY_NONE, n};
}

}  // namespace

decoded decode_utf8(const uint8_t* bytes, size_t n, bool complete) {
    if (n == 0) return WAIT;
    const utf8::sequence s = utf8::check_sequence(bytes, static_cast<int64_t>(n));
    const size_t length = static_cast<size_t>(s.length);
    switch (s.state) {
        case utf8::status::valid: return {int32_t(s.code_point), length};
        case utf8::status::invalid: return {int32_t(REPLACEMENT_CHARACTER), length};
        case utf8::status::incomplete: break;
    }
    return complete ? decoded{int32_t(REPLACEMENT_CHARACTER), length} : WAIT;
}

decoded decode_key(const uint8_t* bytes, size_t n, bool complete) {
    if (n == 0) return WAIT;
    if (bytes[0] != ESC) return decode_plain(bytes, n, complete);
    if (n == 1) return complete ? decoded{KEY_ESCAPE, 1} : WAIT;
    const uint8_t second = bytes[1];
    if (second == '[') return decode_sequence(bytes, n, complete, false);
    if (second == 'O') return decode_sequence(bytes, n, complete, true);
    if (second == ESC) {
        // Some terminals send Alt with a cursor key as ESC and the key's sequence.
        if (n == 2) return complete ? decoded{KEY_ESCAPE, 1} : WAIT;
        if (bytes[2] != '[' && bytes[2] != 'O') return {KEY_ESCAPE, 1};
        decoded inner = decode_key(bytes + 1, n - 1, complete);
        if (inner.consumed == 0) return WAIT;
        return {inner.code, inner.consumed + 1};
    }
    // Alt with a character: the character.
    decoded inner = decode_plain(bytes + 1, n - 1, complete);
    if (inner.consumed == 0) return WAIT;
    return {inner.code, inner.consumed + 1};
}

}  // namespace zor::key_decoder
