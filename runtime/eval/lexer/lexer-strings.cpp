// The string loaders of the lexer: double-quoted and braced strings with their "^"
// escapes (`lexer/decode-escape`), chars, raw strings between percent-brace runs, and the
// string-like classes file!, tag!, url!, email! and ref!.
//
// A string is read in two passes over the token: the first checks every character
// (valid UTF-8, valid escapes) and measures the length and the unit width, the second
// fills a buffer made once at that length and width. The width starts from the UTF-8
// lead-byte flags of the token; an escape of more than two hex digits asks for 2-byte
// units, of more than four for 4-byte units. Escapes above U+10FFFF and surrogates are
// refused, so a string never holds a unit that is not a character.
//
// A file! or url! literal holds its text with the %XX escapes decoded (url/percent-decode),
// both the bare and the quoted file forms; tag!, email! and ref! keep their text as it is.
#include <algorithm>
#include <cstring>

#include "codecs/url-percent.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/lexer/lexer-loaders.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"

namespace zor::lexer {

namespace {

// The named escapes ^(name), compared without regard to letter case.
struct named_escape {
    const char* name;
    int length;
    uint8_t code;
};
constexpr named_escape NAMED_ESCAPES[] = {
    {"null", 4, 0}, {"back", 4, 8}, {"tab", 3, 9}, {"line", 4, 10}, {"page", 4, 12}, {"esc", 3, 27}, {"del", 3, 127},
};

// The longest text inside "^(...)": six hex digits.
constexpr int MAX_ESCAPE_TEXT = 6;

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool name_matches(const uint8_t* text, int n, const named_escape& e) {
    if (n != e.length) return false;
    for (int i = 0; i < n; ++i) {
        uint8_t c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 32);
        if (c != static_cast<uint8_t>(e.name[i])) return false;
    }
    return true;
}

// The character that one character after "^" stands for.
uint32_t single_escape(uint32_t c) {
    switch (c) {
        case '@': return 0;
        case '/': return 10;
        case '-': return 9;
        case '"': case '{': case '}': case '^': return c;
        case '~': return 127;
        default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 'A' && c <= '_') return c - 64;
    return c;
}

inline uint32_t unit_for(uint32_t codepoint) { return codepoint <= 0xFF ? 1 : codepoint <= 0xFFFF ? 2 : 4; }

// The unit width that the token's lead-byte flags ask for.
inline uint32_t unit_from_flags(uint32_t flags) {
    if (flags & FLAG_UTF8_4) return 4;
    if (flags & FLAG_UTF8_2_3) return 2;
    return 1;
}

// What the checking pass learnt about a text.
struct text_measure {
    int64_t count = 0;  // characters
    uint32_t unit = 1;  // the unit width of the buffer to make
    bool valid = true;
};

// Walks the characters between p and end, decoding "^" escapes when asked, and hands
// each code point to emit. Stops at the first invalid character and answers false.
template <typename Emit>
bool walk_text(const uint8_t* p, const uint8_t* end, bool escapes, Emit&& emit) {
    while (p < end) {
        uint8_t b = *p;
        if (b < 0x80 && !(escapes && b == '^')) {
            emit(static_cast<uint32_t>(b), 0);
            ++p;
            continue;
        }
        int32_t codepoint;
        int hex_digits = 0;
        if (b == '^') codepoint = decode_escape(p, end, &p, &hex_digits);
        else codepoint = decode_character(p, end, &p);
        if (codepoint < 0) return false;
        emit(static_cast<uint32_t>(codepoint), hex_digits);
    }
    return true;
}

text_measure measure_text(const uint8_t* p, const uint8_t* end, bool escapes, uint32_t flags) {
    text_measure m;
    m.unit = unit_from_flags(flags);
    m.valid = walk_text(p, end, escapes, [&m](uint32_t codepoint, int hex_digits) {
        ++m.count;
        if (hex_digits > 4) m.unit = 4;
        else if (hex_digits > 2 && m.unit < 2) m.unit = 2;
        // The flags can only understate a width when they were not gathered over the
        // whole text; a character must never be cut to a narrower unit.
        uint32_t needed = unit_for(codepoint);
        if (needed > m.unit) m.unit = needed;
    });
    return m;
}

template <typename Unit> void fill_units(std::byte* at, const uint8_t* p, const uint8_t* end, bool escapes) {
    walk_text(p, end, escapes, [&at](uint32_t codepoint, int) {
        Unit u = static_cast<Unit>(codepoint);
        std::memcpy(at, &u, sizeof(Unit));
        at += sizeof(Unit);
    });
}

// Makes the string of the measured length and width in a new output cell and fills it.
// The type is written last, with the new-line flag given.
cell* emit_text(state& s, const uint8_t* p, const uint8_t* end, bool escapes, const text_measure& m, type_id type,
                int new_line_rule) {
    cell* out = new_cell(s);
    uint32_t new_line = out->header & FLAG_NEW_LINE;
    if (new_line_rule >= 0) new_line = new_line_rule ? FLAG_NEW_LINE : 0;
    string::make_in_cell(out, m.count, m.unit);
    memory::series_buffer* buffer = memory::buffer_of(out->w2);
    std::byte* at = buffer->head;
    if (m.unit == 1 && !escapes && m.count == end - p) {
        std::memcpy(at, p, static_cast<size_t>(m.count));
    } else {
        switch (m.unit) {
            case 1: fill_units<uint8_t>(at, p, end, escapes); break;
            case 2: fill_units<uint16_t>(at, p, end, escapes); break;
            default: fill_units<uint32_t>(at, p, end, escapes); break;
        }
    }
    buffer->tail = buffer->head + m.count * int64_t(m.unit);
    set_final_type(out, new_line, type);
    return out;
}

// Replaces the text of a just-loaded output cell by its percent-decoded form. The output
// cell stays where it is while the decoder allocates; the text is held on the stack.
void percent_decode_in_place(cell* out) {
    cell* raw = stack::push_copy(out);
    cell* decoded = string::make_empty(stack::push_slot(), std::max<int64_t>(string::rest_length(raw), 1));
    url::percent_decode(raw, decoded);
    uint32_t header = out->header;
    *out = *decoded;
    out->header = header;
    stack::drop_slots(2);
}

// Checks a string-like token's text; raises invalid of the type for a bad character.
text_measure check_text(state& s, const uint8_t* start, const uint8_t* end, const uint8_t* text,
                        const uint8_t* text_end, bool escapes, uint32_t flags, type_id type) {
    text_measure m = measure_text(text, text_end, escapes, flags);
    if (!m.valid) raise_error(s, start, end, type);
    return m;
}

// The type a string token stands for: the scanner's forced type, else string!.
type_id string_type(const state& s) {
    return s.forced_type > 0 ? static_cast<type_id>(s.forced_type) : TYPE_STRING;
}

// The common end of the string-like loaders: checks the text, then loads it, decoding
// the escapes of a file or url that holds a "%".
void finish_string_like(state& s, const uint8_t* start, const uint8_t* end, const uint8_t* text,
                        const uint8_t* text_end, bool escapes, uint32_t flags, type_id type, bool load) {
    text_measure m = check_text(s, start, end, text, text_end, escapes, flags, type);
    if (!load) return;
    cell* out = emit_text(s, text, text_end, escapes, m, type, -1);
    bool coded = type == TYPE_FILE || type == TYPE_URL;
    if (coded && std::memchr(text, '%', size_t(text_end - text))) percent_decode_in_place(out);
}

}  // namespace

// --- Escapes ------------------------------------------------------------------------------------

int32_t decode_escape(const uint8_t* p, const uint8_t* end, const uint8_t** next, int* hex_digits) {
    *hex_digits = 0;
    const uint8_t* q = p + 1;
    if (q >= end) return -1;
    if (*q != '(') {
        if (*q < 0x80) {
            *next = q + 1;
            return static_cast<int32_t>(single_escape(*q));
        }
        return decode_character(q, end, next);
    }
    const uint8_t* text = q + 1;
    const uint8_t* close = text;
    while (close < end && *close != ')' && close - text <= MAX_ESCAPE_TEXT) ++close;
    if (close >= end || *close != ')') return -1;
    int n = static_cast<int>(close - text);
    if (n == 0 || n > MAX_ESCAPE_TEXT) return -1;
    *next = close + 1;

    int32_t value = 0;
    bool hex = true;
    for (int i = 0; i < n && hex; ++i) {
        int digit = hex_value(text[i]);
        if (digit < 0) hex = false;
        else value = value * 16 + digit;
    }
    if (hex) {
        // Six digits reach beyond the last code point, and a surrogate is half of a pair,
        // never a character.
        if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return -1;
        *hex_digits = n;
        return value;
    }
    for (const named_escape& e : NAMED_ESCAPES) {
        if (name_matches(text, n, e)) return e.code;
    }
    return -1;
}

// --- Strings ------------------------------------------------------------------------------------

// The token holds its delimiters: '"' ... '"' or '{' ... '}'.
void scan_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    if (loader_follows(s)) return;
    s.position = end;
    type_id type = string_type(s);
    if (end - start < 2) raise_error(s, start, end, type);
    check_text(s, start, end, start + 1, end - 1, true, flags, type);
}

void load_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.position = end;
    type_id type = string_type(s);
    if (end - start < 2) raise_error(s, start, end, type);
    const uint8_t* text = start + 1;
    const uint8_t* text_end = end - 1;
    text_measure m = check_text(s, start, end, text, text_end, true, flags, type);
    if (!load) return;
    // A braced string is flagged by where it began, not by the line its last piece ended.
    int new_line_rule = *start == '{' ? ((flags & FLAG_BRACED_NEW_LINE) != 0) : -1;
    emit_text(s, text, text_end, true, m, type, new_line_rule);
}

// --- Chars ----------------------------------------------------------------------------------------

// #"c": the token ends at its closing quote, which belongs to it.
void load_char(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    bool closed = end < s.input_end && *end == '"';
    s.position = closed ? end + 1 : end;
    const uint8_t* text = start + 2;
    if (!closed || end - start < 3 || start[0] != '#' || start[1] != '"' || *text == '"') {
        raise_error(s, start, end, TYPE_CHAR);
    }
    if (end - text == 1 && *text == '^') raise_error(s, start, end, TYPE_CHAR);
    const uint8_t* after;
    int hex_digits;
    int32_t codepoint = *text == '^' ? decode_escape(text, end, &after, &hex_digits) : decode_character(text, end, &after);
    if (codepoint < 0 || codepoint > 0x10FFFF || after != end) raise_error(s, start, end, TYPE_CHAR);
    if (load) put_value(s, cell{TYPE_CHAR, 0, static_cast<uint32_t>(codepoint), 0});
}

// --- The string-like types ------------------------------------------------------------------------

// %"name" (ending at its closing quote, which belongs to it) or %name.
void load_file(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.position = end;
    if (end - start < 2 || *start != '%') raise_error(s, start, end, TYPE_FILE);
    if (start[1] == '"') {
        if (end >= s.input_end || *end != '"') raise_error(s, start, end, TYPE_FILE);
        s.position = end + 1;
        finish_string_like(s, start, end + 1, start + 2, end, true, flags, TYPE_FILE, load);
        return;
    }
    finish_string_like(s, start, end, start + 1, end, false, flags, TYPE_FILE, load);
}

// <tag>: the token ends at its ">", which belongs to it.
void load_tag(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    bool closed = end < s.input_end && *end == '>';
    s.position = closed ? end + 1 : end;
    if (!closed || *start != '<') raise_error(s, start, end, TYPE_TAG);
    finish_string_like(s, start, end + 1, start + 1, end, false, flags, TYPE_TAG, load);
}

void load_url(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.position = end;
    if (*start == ':') raise_error(s, start, end, TYPE_GET_WORD);
    if (*start == '\'') raise_error(s, start, end, TYPE_LIT_WORD);
    finish_string_like(s, start, end, start, end, false, flags, TYPE_URL, load);
}

void load_email(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.position = end;
    finish_string_like(s, start, end, start, end, false, flags, TYPE_EMAIL, load);
}

void load_ref(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.position = end;
    if (end - start < 2 || *start != '@') raise_error(s, start, end, TYPE_REF);
    finish_string_like(s, start, end, start + 1, end, false, flags, TYPE_REF, load);
}

// --- Raw strings ----------------------------------------------------------------------------------

// n percent signs, "{", the text, "}" and n percent signs. The machine ends the token at
// the first "}" run followed by a delimiter, but the text may hold a "}" followed by fewer
// percent signs than the opening run, so the closing run is looked for here, from the
// opening brace on through the rest of the input.
void load_raw_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.position = end;
    const uint8_t* p = start;
    while (p < s.input_end && *p == '%') ++p;
    int64_t opening = p - start;
    if (opening == 0 || p >= s.input_end || *p != '{') raise_error(s, start, end, TYPE_STRING);
    const uint8_t* text = p + 1;
    // A pass that only checks (scan mode, or a callback's scan event before the load)
    // fires the events; a load that such a pass preceded does not fire them twice.
    bool fire = !load || !(s.event_mask & EVENT_SCAN);
    if (fire) fire_event(s, EVENT_OPEN, TYPE_STRING, nullptr, start, text);

    const uint8_t* close = nullptr;
    const uint8_t* after = nullptr;
    for (const uint8_t* q = text; q < s.input_end; ++q) {
        if (*q != '}') continue;
        const uint8_t* r = q + 1;
        while (r < s.input_end && *r == '%') ++r;
        int64_t run = r - (q + 1);
        if (run == opening) {
            close = q;
            after = r;
            break;
        }
        if (run > opening) raise_error(s, start, r, TYPE_STRING);
    }
    if (!close) raise_error(s, start, s.input_end, TYPE_STRING);
    s.position = after;
    if (fire) fire_event(s, EVENT_CLOSE, TYPE_STRING, nullptr, close, after);
    text_measure m = check_text(s, start, after, text, close, false, flags, TYPE_STRING);
    s.position = after;
    if (load) emit_text(s, text, close, false, m, TYPE_STRING, -1);
}

}  // namespace zor::lexer
