// Unicode text conversion: UTF-8 and UTF-16LE into string units and back.
//
// The loaders work in two passes over their input: a first pass that validates the text
// and measures it (characters to store, the widest code point, the bytes left over) and
// allocates nothing, then one allocation that makes the target buffer wide and large
// enough, then a second pass that writes the units. So invalid input is refused before
// the target changes, and input held in a movable series is read again only once, after
// the single allocation.
#include "runtime/text/unicode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "platform/fatal.h"
#include "platform/utf8-sequence.h"
#include "runtime/eval/stack.h"
#include "runtime/errors/raise.h"

namespace zor::unicode {

using memory::series_buffer;

// --- The DFA table ------------------------------------------------------------------------
//
// Byte classes: 0 ASCII; 1 continuation 80-8F; 9 continuation 90-9F; 7 continuation
// A0-BF; 8 never valid (C0, C1, F5-FF); 2 lead of two bytes (C2-DF); 10 E0 (its second
// byte must be A0-BF, else the form is overlong); 3 E1-EC and EE-EF; 4 ED (second byte
// 80-9F, else a surrogate); 11 F0 (second byte 90-BF); 6 F1-F3; 5 F4 (second byte 80-8F,
// else above 0x10FFFF). States: 0 accept, 12 reject, 24 one continuation byte to come,
// 36 two to come, 48 after E0, 60 after ED, 72 after F0, 84 after F1-F3, 96 after F4.

namespace {

constexpr std::array<uint8_t, 364> build_state_table() {
    std::array<uint8_t, 364> t{};
    auto classes = [&](int from, int to, uint8_t c) {
        for (int b = from; b <= to; ++b) t[size_t(b)] = c;
    };
    classes(0x00, 0x7F, 0);
    classes(0x80, 0x8F, 1);
    classes(0x90, 0x9F, 9);
    classes(0xA0, 0xBF, 7);
    classes(0xC0, 0xC1, 8);
    classes(0xC2, 0xDF, 2);
    classes(0xE0, 0xE0, 10);
    classes(0xE1, 0xEC, 3);
    classes(0xED, 0xED, 4);
    classes(0xEE, 0xEF, 3);
    classes(0xF0, 0xF0, 11);
    classes(0xF1, 0xF3, 6);
    classes(0xF4, 0xF4, 5);
    classes(0xF5, 0xFF, 8);
    for (int i = 256; i < 364; ++i) t[size_t(i)] = 12;  // every unlisted move rejects
    auto move = [&](int state, int byte_class, uint8_t next) { t[size_t(256 + state + byte_class)] = next; };
    // From the accepting state, a lead byte chooses what must follow.
    move(0, 0, 0);
    move(0, 2, 24);
    move(0, 3, 36);
    move(0, 4, 60);
    move(0, 5, 96);
    move(0, 6, 84);
    move(0, 10, 48);
    move(0, 11, 72);
    for (int c : {1, 7, 9}) {
        move(24, c, 0);
        move(36, c, 24);
        move(84, c, 36);
    }
    move(48, 7, 24);
    move(60, 1, 24);
    move(60, 9, 24);
    move(72, 7, 36);
    move(72, 9, 36);
    move(96, 1, 36);
    return t;
}

}  // namespace

// Constant-initialised from the builder above: no start-up order to respect.
const std::array<uint8_t, 364> utf8_state_table = build_state_table();

// --- Shared helpers -------------------------------------------------------------------------

void bad_unit_width() { platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0); }

const uint8_t* input_bytes::address() const {
    if (holder) return reinterpret_cast<const uint8_t*>(memory::buffer_of(holder->w2)->head) + offset;
    return external;
}

namespace {

uint32_t unit_of(const series_buffer* b) {
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) bad_unit_width();
    return unit;
}

void write_unit(std::byte* at, uint32_t unit, uint32_t c) {
    switch (unit) {
        case 1: *at = static_cast<std::byte>(c); break;
        case 2: {
            uint8_t bytes[2] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)};
            std::memcpy(at, bytes, 2);
            break;
        }
        case 4: {
            uint8_t bytes[4] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16),
                                static_cast<uint8_t>(c >> 24)};
            std::memcpy(at, bytes, 4);
            break;
        }
        default: bad_unit_width();
    }
}

// A new binary! in a stack slot holding the bytes (copied out of wherever they were
// before the call, so nothing here can move them).
cell* push_binary(const uint8_t* bytes, int n) {
    cell* slot = stack::push_slot();
    cell::init_unset(slot);
    node_ref node = memory::alloc_bytes(n);
    series_buffer* b = memory::buffer_of(node);
    std::memcpy(b->head, bytes, static_cast<size_t>(n));
    b->tail = b->head + n;
    slot->w2 = node;
    slot->header = TYPE_BINARY;
    return slot;
}

[[noreturn]] void raise_with_bytes(err id, const uint8_t* at, int64_t available) {
    uint8_t copy[4];
    int n = static_cast<int>(std::min<int64_t>(available, 4));
    std::memcpy(copy, at, static_cast<size_t>(n));
    raise::throw_error(id, push_binary(copy, n));
}

[[noreturn]] void raise_invalid_char(uint32_t codepoint) {
    cell value{TYPE_INTEGER, 0, codepoint, 0};
    raise::throw_error(err::script_invalid_char, &value);
}

// The loaders' unit width for a code point: Latin-1 stays in unit 1.
uint32_t loader_width(uint32_t codepoint) { return codepoint <= 0xFF ? 1 : codepoint <= 0xFFFF ? 2 : 4; }

// Makes the buffer of the string (rooted cell) hold `more` further units at the tail with
// at least the given unit width; answers it. At most one allocation.
series_buffer* prepare_append(cell* string, int64_t more, uint32_t width) {
    series_buffer* b = memory::buffer_of(string->w2);
    uint32_t unit = unit_of(b);
    uint32_t target = std::max(unit, width);
    int64_t used_units = (b->tail - b->head) / unit;
    int64_t needed = (used_units + more) * int64_t(target);
    if (needed > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
    if (b->data_end() - b->head < needed) b = memory::expand_series(b, needed);
    if (target != unit) {
        if (unit == 1 && target == 2) b = widen_latin1_to_ucs2(b);
        else if (unit == 1) b = widen_latin1_to_ucs4(b);
        else b = widen_ucs2_to_ucs4(b);
    }
    return b;
}

// A new buffer for `count` units of the width (at least one unit of room).
series_buffer* new_text_buffer(int64_t count, uint32_t width) {
    if (count * int64_t(width) > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
    node_ref node = memory::alloc_series(std::max<int64_t>(count, 1), width, 0);
    return memory::buffer_of(node);
}

}  // namespace

// --- Decoding UTF-8 ---------------------------------------------------------------------------

const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& codepoint) {
    if (p >= end) {
        codepoint = -1;
        return p;
    }
    uint32_t byte_class = utf8_state_table[*p];
    uint32_t cp = (0xFFu >> byte_class) & *p;
    uint32_t state = utf8_state_table[256 + byte_class];
    ++p;
    while (state != UTF8_ACCEPT && state != UTF8_REJECT) {
        if (p == end) {
            codepoint = -1;
            return p;
        }
        cp = (*p & 0x3Fu) | (cp << 6);
        state = utf8_state_table[256 + state + utf8_state_table[*p]];
        ++p;
    }
    codepoint = state == UTF8_REJECT ? -1 : static_cast<int32_t>(cp);
    return p;
}

int64_t count_utf8_chars(const uint8_t* begin, const uint8_t* end) {
    int64_t count = 0;
    int32_t cp;
    while (begin < end) {
        begin = decode_utf8_char(begin, end, cp);
        ++count;
    }
    return count;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, int64_t n) {
    int32_t cp;
    while (n-- > 0 && p < end) p = decode_utf8_char(p, end, cp);
    return p;
}

int utf8_lead_byte_length(uint8_t byte) {
    if (byte >= 0xF0) return 4;
    if (byte >= 0xE0) return 3;
    if (byte >= 0xC0) return 2;
    return 0;
}

namespace {

// What the first pass of a UTF-8 load found.
struct utf8_measure {
    int64_t skip;       // bytes of a leading byte-order mark
    int64_t consumed;   // bytes that form whole characters (from the start, mark included)
    int64_t units;      // units to store
    uint32_t widest;    // the widest code point stored
};

utf8_measure measure_utf8(const uint8_t* text, int64_t n, bool line_ends, bool allow_leftover) {
    utf8_measure m{0, 0, 0, 0};
    if (n > 2 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) m.skip = 3;
    int64_t i = m.skip;
    int64_t units = 0;
    uint32_t widest = 0;
    while (i < n) {
        uint8_t b = text[i];
        if (b < 0x80) {
            // A CR followed by LF is dropped; a lone CR becomes LF, which is narrow too.
            if (!(line_ends && b == '\r' && i + 1 < n && text[i + 1] == '\n')) ++units;
            widest = std::max<uint32_t>(widest, b);
            ++i;
            continue;
        }
        utf8::sequence d = utf8::check_sequence(text + i, n - i);
        if (d.state == utf8::status::invalid) raise_with_bytes(err::access_invalid_utf8, text + i, n - i);
        if (d.state == utf8::status::incomplete) {
            if (!allow_leftover) raise_with_bytes(err::access_invalid_utf8, text + i, n - i);
            break;
        }
        widest = std::max(widest, d.code_point);
        ++units;
        i += d.length;
    }
    m.consumed = i;
    m.units = units;
    m.widest = widest;
    return m;
}

// The second pass: the text is known to be valid between from and to. Units are stored
// little-endian through memcpy (a mid-buffer head is aligned to its unit, but the byte
// pointer type says nothing of that).
template <typename Unit>
std::byte* store_utf8(const uint8_t* text, int64_t from, int64_t to, bool line_ends, std::byte* out) {
    static_assert(std::endian::native == std::endian::little);
    int64_t i = from;
    while (i < to) {
        uint8_t b = text[i];
        Unit u;
        if (b < 0x80) {
            ++i;
            if (line_ends && b == '\r') {
                if (i < to && text[i] == '\n') continue;
                b = '\n';
            }
            u = static_cast<Unit>(b);
        } else {
            utf8::sequence d = utf8::check_sequence(text + i, to - i);
            u = static_cast<Unit>(d.code_point);
            i += d.length;
        }
        std::memcpy(out, &u, sizeof u);
        out += sizeof u;
    }
    return out;
}

}  // namespace

int32_t decode_utf8_char_checked(const uint8_t* p, int64_t& length) {
    if (length <= 0) return -1;
    utf8::sequence d = utf8::check_sequence(p, length);
    if (d.state == utf8::status::invalid) raise_with_bytes(err::access_invalid_utf8, p, length);
    if (d.state == utf8::status::incomplete) return -1;
    length = d.length;
    return static_cast<int32_t>(d.code_point);
}

series_buffer* load_utf8(input_bytes bytes, int64_t n, cell* string, int64_t* leftover, bool line_ends) {
    if (n < 0) n = 0;
    if (n > INT32_MAX) raise::throw_error(err::internal_no_memory);  // no series could hold it
    utf8_measure m = measure_utf8(bytes.address(), n, line_ends, leftover != nullptr);
    uint32_t width = loader_width(m.widest);
    series_buffer* b = string ? prepare_append(string, m.units, width) : new_text_buffer(m.units, width);
    const uint8_t* text = bytes.address();  // read again: the allocation may have moved it
    switch (unit_of(b)) {
        case 1: b->tail = store_utf8<uint8_t>(text, m.skip, m.consumed, line_ends, b->tail); break;
        case 2: b->tail = store_utf8<uint16_t>(text, m.skip, m.consumed, line_ends, b->tail); break;
        default: b->tail = store_utf8<uint32_t>(text, m.skip, m.consumed, line_ends, b->tail); break;
    }
    if (leftover) *leftover = n - m.consumed;
    return b;
}

series_buffer* load_utf8_into_string(input_bytes bytes, int64_t n, cell* string, int64_t* leftover) {
    return load_utf8(bytes, n, string, leftover, false);
}

series_buffer* load_utf8_new(input_bytes bytes, int64_t n) { return load_utf8(bytes, n, nullptr, nullptr, false); }

// --- Encoding UTF-8 ----------------------------------------------------------------------------

int utf8_length_of_codepoint(uint32_t codepoint) {
    if (codepoint <= 0x7F) return 1;
    if (codepoint <= 0x7FF) return 2;
    if (codepoint <= 0xFFFF) return 3;
    if (codepoint <= 0x10FFFF) return 4;
    raise_invalid_char(codepoint);
}

int64_t utf8_size_of_units(const std::byte* begin, const std::byte* end, uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit_width();
    int64_t size = 0;
    for (const std::byte* p = begin; p < end; p += unit) size += utf8_length_of_codepoint(read_unit(p, unit));
    return size;
}

int encode_utf8_char(uint32_t codepoint, uint8_t* out) {
    if (codepoint <= 0x7F) {
        out[0] = static_cast<uint8_t>(codepoint);
        return 1;
    }
    if (codepoint <= 0x7FF) {
        out[0] = static_cast<uint8_t>(0xC0 | (codepoint >> 6));
        out[1] = static_cast<uint8_t>(0x80 | (codepoint & 0x3F));
        return 2;
    }
    if (codepoint <= 0xFFFF) {
        out[0] = static_cast<uint8_t>(0xE0 | (codepoint >> 12));
        out[1] = static_cast<uint8_t>(0x80 | ((codepoint >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (codepoint & 0x3F));
        return 3;
    }
    if (codepoint <= 0x10FFFF) {
        out[0] = static_cast<uint8_t>(0xF0 | (codepoint >> 18));
        out[1] = static_cast<uint8_t>(0x80 | ((codepoint >> 12) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | ((codepoint >> 6) & 0x3F));
        out[3] = static_cast<uint8_t>(0x80 | (codepoint & 0x3F));
        return 4;
    }
    raise_invalid_char(codepoint);
}

int encode_utf8_char_bounded(uint32_t codepoint, uint8_t* out, int64_t capacity) {
    if (capacity <= 0) return 0;
    uint8_t bytes[4];
    int n = encode_utf8_char(codepoint, bytes);
    int kept = static_cast<int>(std::min<int64_t>(n, capacity));
    std::memcpy(out, bytes, static_cast<size_t>(kept));
    return kept;
}

namespace {

// The units from the string's index, at most count of them (negative: all).
struct unit_range {
    int64_t index;  // in units from the head, clamped
    int64_t count;
    uint32_t unit;
};

unit_range range_of(const cell* string, int64_t count) {
    series_buffer* b = memory::buffer_of(string->w2);
    uint32_t unit = unit_of(b);
    int64_t length = (b->tail - b->head) / unit;
    int64_t index = std::clamp<int64_t>(static_cast<int32_t>(string->w1), 0, length);
    int64_t rest = length - index;
    if (count < 0 || count > rest) count = rest;
    return {index, count, unit};
}

// Gives the string (rooted cell) an encoding cache of at least `bytes` bytes; answers it.
series_buffer* ensure_cache(cell* string, int64_t bytes) {
    if (bytes > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
    if (string->w3) {
        series_buffer* cache = memory::buffer_of(string->w3);
        if (cache->data_end() - cache->head >= bytes) return cache;
        // The old content is not needed: only the latest form is kept.
        return memory::grow_series(cache, std::max<int64_t>(bytes, 2 * int64_t(cache->size)));
    }
    node_ref node = memory::alloc_bytes(bytes);
    string->w3 = node;
    return memory::buffer_of(node);
}

template <bool crlf>
int64_t encode_units_utf8(const std::byte* p, int64_t count, uint32_t unit, uint8_t* out) {
    uint8_t* start = out;
    for (int64_t i = 0; i < count; ++i, p += unit) {
        uint32_t c = read_unit(p, unit);
        if (c < 0x80) {
            if (crlf && c == '\n') *out++ = '\r';
            *out++ = static_cast<uint8_t>(c);
        } else {
            out += encode_utf8_char(c, out);
        }
    }
    return out - start;
}

}  // namespace

const char* string_to_utf8_crlf_option(cell* string, int64_t* length, bool crlf) {
    unit_range r = range_of(string, length ? *length : -1);
    int64_t k = r.unit == 1 ? 2 : r.unit == 2 ? 3 : 4;
    series_buffer* cache = ensure_cache(string, (r.count + 1) * k);
    series_buffer* b = memory::buffer_of(string->w2);
    const std::byte* from = b->head + r.index * r.unit;
    auto* out = reinterpret_cast<uint8_t*>(cache->head);
    int64_t written = crlf ? encode_units_utf8<true>(from, r.count, r.unit, out)
                           : encode_units_utf8<false>(from, r.count, r.unit, out);
    out[written] = 0;
    cache->tail = cache->head + written;
    if (length) *length = written;
    return reinterpret_cast<const char*>(out);
}

const char* string_to_utf8(cell* string, int64_t* length) { return string_to_utf8_crlf_option(string, length, false); }

int64_t encode_string_utf8_into(const cell* string, uint8_t* out, int64_t count, bool nul) {
    unit_range r = range_of(string, count);
    series_buffer* b = memory::buffer_of(string->w2);
    int64_t written = encode_units_utf8<false>(b->head + r.index * r.unit, r.count, r.unit, out);
    if (nul) out[written] = 0;
    return written;
}

int64_t encode_string_utf8_bounded(const cell* string, uint8_t* out, int64_t capacity, int64_t count, bool nul) {
    unit_range r = range_of(string, count <= 0 ? -1 : count);
    if (capacity <= 0) return 0;
    int64_t room = nul ? capacity - 1 : capacity;
    series_buffer* b = memory::buffer_of(string->w2);
    const std::byte* p = b->head + r.index * r.unit;
    int64_t written = 0;
    for (int64_t i = 0; i < r.count && written < room; ++i, p += r.unit) {
        written += encode_utf8_char_bounded(read_unit(p, r.unit), out + written, room - written);
    }
    if (nul) out[written] = 0;
    return written;
}

// --- Widening ------------------------------------------------------------------------------------

namespace {

series_buffer* widen(series_buffer* b, uint32_t from, uint32_t to, int64_t extra) {
    if (unit_of(b) != from) bad_unit_width();
    int64_t used = b->tail - b->head;
    int64_t units = used / from;
    int64_t new_size = used / from * to + extra;
    if (new_size > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
    if (b->data_end() - b->head < new_size) b = memory::expand_series(b, new_size);
    std::byte* head = b->head;
    // Backwards, so that no unit is overwritten before it is read.
    for (int64_t i = units - 1; i >= 0; --i) write_unit(head + i * to, to, read_unit(head + i * from, from));
    b->flags = (b->flags & ~memory::UNIT_MASK) | to;
    b->tail = head + units * to;
    return b;
}

}  // namespace

series_buffer* widen_latin1_to_ucs2(series_buffer* buffer) { return widen(buffer, 1, 2, 2); }
series_buffer* widen_latin1_to_ucs4(series_buffer* buffer) { return widen(buffer, 1, 4, 4); }
series_buffer* widen_ucs2_to_ucs4(series_buffer* buffer) { return widen(buffer, 2, 4, 4); }

// --- UTF-16LE ------------------------------------------------------------------------------------

int utf16_unit_width(const uint8_t* data, int64_t units) {
    int width = 1;
    for (int64_t i = 0; i < units; ++i) {
        uint8_t high = data[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high != 0) width = 2;
    }
    return width;
}

namespace {

inline uint32_t utf16_at(const uint8_t* data, int64_t i) {
    return static_cast<uint32_t>(data[2 * i]) | static_cast<uint32_t>(data[2 * i + 1]) << 8;
}

// First pass of a UTF-16LE load: units to store; raises on a surrogate without partner.
int64_t measure_utf16(const uint8_t* data, int64_t n, bool cr) {
    int64_t units = 0;
    for (int64_t i = 0; i < n; ++i) {
        uint32_t u = utf16_at(data, i);
        if (u >= 0xD800 && u <= 0xDFFF) {
            bool paired = u <= 0xDBFF && i + 1 < n && (utf16_at(data, i + 1) & 0xFC00) == 0xDC00;
            if (!paired) raise_with_bytes(err::script_invalid_data, data + 2 * i, 2 * (n - i));
            ++i;
        } else if (cr && u == 0x0D) {
            continue;
        }
        ++units;
    }
    return units;
}

void store_utf16(const uint8_t* data, int64_t n, bool cr, std::byte* out, uint32_t unit) {
    for (int64_t i = 0; i < n; ++i) {
        uint32_t u = utf16_at(data, i);
        if (cr && u == 0x0D) continue;
        if (u >= 0xD800 && u <= 0xDBFF) {
            u = (((u & 0x3FF) << 10) | (utf16_at(data, i + 1) & 0x3FF)) + 0x10000;
            ++i;
        }
        write_unit(out, unit, u);
        out += unit;
    }
}

}  // namespace

series_buffer* load_utf16le(input_bytes data, int64_t n, cell* string, bool cr) {
    if (n < 0) n = 0;
    if (n > INT32_MAX) raise::throw_error(err::internal_no_memory);
    bool own_buffer = !data.external && !data.holder;
    if (own_buffer && !string) n = 0;  // no input at all: an empty text
    own_buffer = own_buffer && string;
    std::vector<uint8_t> own_copy;
    if (own_buffer) {
        // The string's own bytes are the input; copied out, since the text replaces them.
        series_buffer* b = memory::buffer_of(string->w2);
        if (2 * n > b->data_end() - b->head) {
            cell count{TYPE_INTEGER, 0, static_cast<uint32_t>(std::min<int64_t>(n, INT32_MAX)), 0};
            raise::throw_error(err::script_out_of_range, &count);
        }
        own_copy.assign(reinterpret_cast<const uint8_t*>(b->head), reinterpret_cast<const uint8_t*>(b->head) + 2 * n);
        data = input_bytes::at(own_copy.data());
    }
    const uint8_t* text = data.address();
    int64_t units = measure_utf16(text, n, cr);
    uint32_t width = static_cast<uint32_t>(utf16_unit_width(text, n));
    series_buffer* b;
    if (own_buffer) {
        // The whole content is replaced, so the width is the text's own.
        b = memory::buffer_of(string->w2);
        unit_of(b);
        b->tail = b->head;
        b->flags = (b->flags & ~memory::UNIT_MASK) | width;
        int64_t needed = std::max<int64_t>(units, 1) * width;
        if (needed > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
        if (b->data_end() - b->head < needed) b = memory::expand_series(b, needed);
    } else if (string) {
        b = prepare_append(string, units, width);
    } else {
        b = new_text_buffer(units, width == 1 && n == 0 ? 2 : width);
    }
    text = data.address();
    uint32_t unit = unit_of(b);
    store_utf16(text, n, cr, b->tail, unit);
    b->tail += units * unit;
    b->flags |= memory::FLAG_UTF16;
    return b;
}

int encode_utf16le_char(uint32_t codepoint, uint8_t* out) {
    if (codepoint < 0x10000) {
        out[0] = static_cast<uint8_t>(codepoint);
        out[1] = static_cast<uint8_t>(codepoint >> 8);
        return 1;
    }
    if (codepoint <= 0x10FFFF) {
        uint32_t v = codepoint - 0x10000;
        uint32_t high = 0xD800 | (v >> 10), low = 0xDC00 | (v & 0x3FF);
        out[0] = static_cast<uint8_t>(high);
        out[1] = static_cast<uint8_t>(high >> 8);
        out[2] = static_cast<uint8_t>(low);
        out[3] = static_cast<uint8_t>(low >> 8);
        return 2;
    }
    return 0;
}

const uint8_t* string_to_utf16le(cell* string, int64_t* units, bool crlf) {
    unit_range r = range_of(string, units ? *units : -1);
    // 2 bytes a unit and the NUL, 2 more for every unit that becomes two.
    int64_t extra = 0;
    {
        series_buffer* b = memory::buffer_of(string->w2);
        const std::byte* p = b->head + r.index * r.unit;
        for (int64_t i = 0; i < r.count; ++i, p += r.unit) {
            uint32_t c = read_unit(p, r.unit);
            if (c > 0x10FFFF) return nullptr;
            if ((crlf && c == '\n') || c >= 0x10000) ++extra;
        }
    }
    series_buffer* cache = ensure_cache(string, 2 * (r.count + extra) + 2);
    series_buffer* b = memory::buffer_of(string->w2);
    const std::byte* p = b->head + r.index * r.unit;
    auto* out = reinterpret_cast<uint8_t*>(cache->head);
    int64_t written = 0;
    for (int64_t i = 0; i < r.count; ++i, p += r.unit) {
        uint32_t c = read_unit(p, r.unit);
        if (crlf && c == '\n') written += encode_utf16le_char('\r', out + 2 * written);
        written += encode_utf16le_char(c, out + 2 * written);
    }
    out[2 * written] = 0;
    out[2 * written + 1] = 0;
    cache->tail = cache->head + 2 * written;
    if (units) *units = written;
    return out;
}

const uint8_t* string_to_utf16le_crlf(cell* string) { return string_to_utf16le(string, nullptr, true); }

}  // namespace zor::unicode
