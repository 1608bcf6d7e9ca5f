// The one checker of a single UTF-8 sequence, shared by the runtime's text loader
// (runtime/text/unicode.cpp, which raises on what it reports invalid) and the terminal's
// key decoder (platform/key-decoder.cpp, which turns it into U+FFFD). It lives at the
// lowest layer so that both see the same rules for the same bytes.
//
// Shortest-form rules: the second byte's range depends on the lead (E0 and F0 exclude
// overlong forms, ED excludes surrogates, F4 excludes code points above U+10FFFF); every
// later byte is 80-BF; C0, C1 and F5-FF never lead.
//
// Invariant: pure and allocation-free; reads at most min(available, 4) bytes from p, and
// available must be at least 1.
#pragma once

#include <cstdint>

namespace zor::utf8 {

enum class status : uint8_t {
    valid,       // code_point holds the character; length is its byte count
    incomplete,  // the available bytes are a valid start; length is how many there are
    invalid,     // length is the maximal invalid prefix (at least 1): resume after it
};

struct sequence {
    status state;
    uint32_t code_point;
    int length;
};

inline sequence check_sequence(const uint8_t* p, int64_t available) {
    const uint8_t lead = p[0];
    if (lead < 0x80) return {status::valid, lead, 1};
    int length;
    uint8_t low = 0x80, high = 0xBF;
    uint32_t code_point;
    if (lead < 0xC2) {
        return {status::invalid, 0, 1};
    } else if (lead < 0xE0) {
        length = 2;
        code_point = lead & 0x1Fu;
    } else if (lead < 0xF0) {
        length = 3;
        code_point = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead < 0xF5) {
        length = 4;
        code_point = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {status::invalid, 0, 1};
    }
    const int present = available < length ? static_cast<int>(available) : length;
    for (int i = 1; i < present; ++i) {
        const uint8_t next = p[i];
        if (next < low || next > high) return {status::invalid, 0, i};
        low = 0x80;
        high = 0xBF;
        code_point = code_point << 6 | (next & 0x3Fu);
    }
    if (present < length) return {status::incomplete, 0, present};
    return {status::valid, code_point, length};
}

}  // namespace zor::utf8
