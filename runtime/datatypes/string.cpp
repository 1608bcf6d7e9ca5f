// string! storage: making and loading strings, the readers, and the writers that keep the
// unit-width rules (only widening, appending keeps ASCII in unit 1, positional writers
// keep Latin-1).
#include "runtime/datatypes/string.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/console-output.h"
#include "platform/fatal.h"
#include "runtime/value/action-signatures.h"
#include "runtime/text/case-fold.h"
#include "runtime/datatypes/block.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/heap.h"
#include "runtime/text/number-text.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/type-classes.h"

namespace zor::string {

static_assert(std::endian::native == std::endian::little, "units are stored little-endian");

namespace {

// The internal string view type of compare_contents: a right operand whose payload word
// 3, when not negative, gives its length.
constexpr uint32_t TYPE_STRING_VIEW = 56;

// The shared scratch buffer of rotate_bytes (tracked heap) and its current size.
std::byte* scratch = nullptr;
int64_t scratch_size = 0;

series_buffer* buffer_of(const cell* s) { return memory::buffer_of(s->w2); }

uint32_t unit_of(const series_buffer* b) {
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit_width();
    return unit;
}

void write_unit(std::byte* at, uint32_t unit, uint32_t c) {
    switch (unit) {
        case 1: *at = static_cast<std::byte>(c); break;
        case 2: {
            auto u = static_cast<uint16_t>(c);
            std::memcpy(at, &u, 2);
            break;
        }
        case 4: std::memcpy(at, &c, 4); break;
        default: unicode::bad_unit_width();
    }
}

int64_t length_of(const series_buffer* b) { return (b->tail - b->head) / unit_of(b); }

// The index of a value clamped to 0..length.
int64_t clamped_index(const cell* s, const series_buffer* b) {
    return std::clamp<int64_t>(static_cast<int32_t>(s->w1), 0, length_of(b));
}

// Unit widths that a code point needs from the appending and the positional writers.
uint32_t append_width(uint32_t c) { return c <= 0x7F ? 1 : c <= 0xFFFF ? 2 : 4; }
uint32_t positional_width(uint32_t c) { return c <= 0xFF ? 1 : c <= 0xFFFF ? 2 : 4; }

series_buffer* widen_buffer(series_buffer* b, uint32_t to) {
    uint32_t from = unit_of(b);
    if (to <= from) return b;
    if (from == 1) return to == 2 ? unicode::widen_latin1_to_ucs2(b) : unicode::widen_latin1_to_ucs4(b);
    return unicode::widen_ucs2_to_ucs4(b);
}

// Makes room for `bytes` more bytes after the tail: at least doubles the capacity.
series_buffer* ensure_room(series_buffer* b, int64_t bytes) {
    if (b->data_end() - b->tail >= bytes) return b;
    int64_t used = b->tail - b->head;
    int64_t needed = used + bytes;
    return memory::expand_series(b, memory::growth_size(needed, 2 * int64_t(b->size)));
}

uint32_t fold(uint32_t c) { return case_fold::change_case_char(c, true); }

// A symbol! stands for the string form of its name, from the head.
cell as_text(const cell& value) {
    if (value.is(TYPE_SYMBOL)) return cell{TYPE_STRING, 0, value.w2, 0};
    return value;
}

bool needs_string_form(const cell* value) { return value->is(TYPE_SYMBOL) && value->w2 == 0; }

// Copies of two text operands into two new argument-stack slots, where the collector
// keeps them current; a symbol whose string form does not exist yet gets it first (that
// allocates, which is why both are rooted before).
std::pair<cell*, cell*> push_text_operands(const cell* left, const cell* right) {
    cell* l = stack::push_copy(left);
    cell* r = stack::push_copy(right);
    if (needs_string_form(l)) {
        node_ref form = symbol::ensure_string_form(l);
        l->w2 = form;
    }
    if (needs_string_form(r)) {
        node_ref form = symbol::ensure_string_form(r);
        r->w2 = form;
    }
    *l = as_text(*l);
    *r = as_text(*r);
    return {l, r};
}

// Loads into a fresh stack slot; answers it.
cell* load_into_slot(unicode::input_bytes bytes, int64_t length, int encoding) {
    if (encoding != ENCODING_UTF8 && encoding != ENCODING_UTF16LE) {
        static const char message[] = "*** Loading Error: input encoding unsupported\n";
        platform::print_utf8(message, sizeof message - 1);
        platform::exit_process(1);
    }
    if (length < 0) length = 0;
    cell* slot = stack::push_slot();
    cell::init_unset(slot);
    series_buffer* b;
    if (encoding == ENCODING_UTF8) {
        b = unicode::load_utf8_new(bytes, length);
    } else {
        if (length % 2) {
            // A UTF-16LE text is whole units: the stray last byte is the offending text.
            const uint8_t* last = bytes.address() + length - 1;
            cell* offending = stack::push_slot();
            cell::init_unset(offending);
            uint8_t byte = *last;
            node_ref node = memory::alloc_bytes(1);
            series_buffer* ob = memory::buffer_of(node);
            *ob->head = static_cast<std::byte>(byte);
            ob->tail = ob->head + 1;
            offending->w2 = node;
            offending->header = TYPE_BINARY;
            raise::throw_error(err::script_invalid_data, offending);
        }
        b = unicode::load_utf16le(bytes, length / 2, nullptr, false);
    }
    // The loader's last act was the allocation of this buffer: store its node at once.
    slot->w1 = 0;
    slot->w2 = b->node;
    slot->w3 = 0;
    slot->header = TYPE_STRING;
    return slot;
}

}  // namespace

bool is_any_string(type_id type) { return type_classes::is(type, type_classes::ANY_STRING); }

// --- Registration ----------------------------------------------------------------------------

void init_type() {
    if (!scratch) {
        scratch = static_cast<std::byte*>(heap::allocate(SCRATCH_SIZE));
        scratch_size = SCRATCH_SIZE;
    }
    type_registry::action_list list(TYPE_SERIES);
    register_actions(list);
    type_registry::register_type(TYPE_STRING, TYPE_SERIES, "string!", list);
}

// --- Making and loading ---------------------------------------------------------------------------

cell* make_in_cell(cell* destination, int64_t capacity, uint32_t unit) {
    cell::init_unset(destination);
    node_ref node = memory::alloc_units(capacity, unit);
    destination->w1 = 0;
    destination->w2 = node;
    destination->w3 = 0;
    destination->header = TYPE_STRING;
    return destination;
}

cell* make_empty(cell* destination, int64_t capacity) {
    cell::init_unset(destination);
    node_ref node = memory::alloc_series(capacity == 0 ? 1 : capacity, 1, 0);
    destination->w1 = 0;
    destination->w2 = node;
    destination->w3 = 0;
    destination->header = TYPE_STRING;
    return destination;
}

cell* push_empty() { return make_empty(stack::push_slot(), 16); }

cell* push(const cell* string) { return cell::copy(string, stack::push_slot()); }

cell* load_from_bytes(unicode::input_bytes bytes, int64_t length, cell* target, int encoding) {
    if (!target) return load_into_slot(bytes, length, encoding);
    cell::init_unset(target);
    cell* slot = load_into_slot(bytes, length, encoding);
    *target = *slot;
    stack::drop_slots(1);
    return target;
}

void load_into_block(unicode::input_bytes bytes, int64_t length, cell* block, int encoding) {
    cell* slot = load_into_slot(bytes, length, encoding);
    block::append_copy(block, slot);
    stack::drop_slots(1);
}

cell* load_onto_stack(unicode::input_bytes bytes, int64_t length, int encoding) {
    return load_into_slot(bytes, length, encoding);
}

// --- Readers ---------------------------------------------------------------------------------------

int64_t rest_length(const cell* string) {
    series_buffer* b = buffer_of(string);
    return length_of(b) - clamped_index(string, b);
}

int64_t length_from_head(const cell* string) { return length_of(buffer_of(string)); }

std::byte* get_position(cell* string) {
    series_buffer* b = buffer_of(string);
    int64_t index = clamped_index(string, b);
    string->w1 = static_cast<uint32_t>(index);
    return b->head + index * unit_of(b);
}

std::byte* get_tail(const cell* string) { return buffer_of(string)->tail; }

bool is_at_tail(const cell* string) {
    series_buffer* b = buffer_of(string);
    int64_t index = static_cast<int32_t>(string->w1);
    return b->head + index * int64_t(unit_of(b)) >= b->tail;
}

uint32_t char_at(const cell* string, int64_t n) {
    series_buffer* b = buffer_of(string);
    uint32_t unit = unit_of(b);
    if (n < 0 || n >= length_of(b)) raise::throw_error(err::script_past_end);
    return read_unit(b->head + n * unit, unit);
}

int64_t find_char(const cell* string, uint32_t codepoint) {
    series_buffer* b = buffer_of(string);
    uint32_t unit = unit_of(b);
    int64_t index = clamped_index(string, b);
    const std::byte* p = b->head + index * unit;
    for (int64_t offset = 0; p < b->tail; ++offset, p += unit) {
        if (read_unit(p, unit) == codepoint) return offset;
    }
    return -1;
}

bool has_char(const cell* string, uint32_t codepoint, int64_t record_size, bool case_sensitive) {
    series_buffer* b = buffer_of(string);
    uint32_t unit = unit_of(b);
    int64_t step = std::clamp<int64_t>(record_size, 1, INT32_MAX);
    uint32_t wanted = case_sensitive ? codepoint : fold(codepoint);
    for (int64_t i = clamped_index(string, b), length = length_of(b); i < length; i += step) {
        uint32_t c = read_unit(b->head + i * unit, unit);
        if ((case_sensitive ? c : fold(c)) == wanted) return true;
    }
    return false;
}

bool match_c_string(const cell* string, const char* text) {
    series_buffer* b = buffer_of(string);
    uint32_t unit = unit_of(b);
    const std::byte* p = b->head + clamped_index(string, b) * unit;
    for (; *text; ++text, p += unit) {
        if (p >= b->tail) return false;
        if (read_unit(p, unit) != static_cast<uint8_t>(*text)) return false;
    }
    return true;
}

bool current_char_in_bitset(const cell* string, const cell* bitset) {
    series_buffer* s = buffer_of(string);
    uint32_t unit = unit_of(s);
    int64_t index = clamped_index(string, s);
    if (index >= length_of(s)) return false;
    uint32_t c = read_unit(s->head + index * unit, unit);
    series_buffer* bits = buffer_of(bitset);
    // Beyond the stored bytes the complement flag answers (the spare capacity holds nothing).
    if (int64_t(c) >= 8 * (bits->tail - bits->head)) return (bits->flags & memory::FLAG_COMPLEMENT) != 0;
    auto byte = static_cast<uint8_t>(bits->head[c >> 3]);
    return (byte & (0x80u >> (c & 7))) != 0;
}

// --- Comparison and parse support ----------------------------------------------------------------------

int32_t compare_contents(const cell* left_value, const cell* right_value, int32_t op, bool match) {
    bool same = left_value->w2 == right_value->w2 && left_value->w1 == right_value->w1;
    if (op == COMPARE_SAME) return same ? 0 : -1;
    if (same && is_contents_equality_code(op)) return 0;
    // Nothing below allocates once both sides have their text: plain copies will do.
    cell left, right;
    if (needs_string_form(left_value) || needs_string_form(right_value)) {
        auto [l, r] = push_text_operands(left_value, right_value);
        left = *l;
        right = *r;
        stack::drop_slots(2);
    } else {
        left = as_text(*left_value);
        right = as_text(*right_value);
    }
    series_buffer* lb = buffer_of(&left);
    series_buffer* rb = buffer_of(&right);
    uint32_t lu = unit_of(lb), ru = unit_of(rb);
    int64_t li = clamped_index(&left, lb), ri = clamped_index(&right, rb);
    int64_t left_length = length_of(lb) - li;
    int64_t right_length = length_of(rb) - ri;
    if (right_value->type() == TYPE_STRING_VIEW && static_cast<int32_t>(right_value->w3) >= 0) {
        right_length = std::min<int64_t>(static_cast<int32_t>(right_value->w3), length_of(rb) - ri);
    }
    if (match) {
        if (right_length == 0) return op == COMPARE_FIND ? 1 : 0;
        if (right_length > left_length) return 1;
        left_length = right_length;
    } else if (left_length != right_length) {
        if (is_contents_equality_code(op) || right_length == 0) return 1;
    }
    bool folded = op != COMPARE_STRICT_EQUAL && op != COMPARE_SORT_CASE;
    int64_t n = std::min(left_length, right_length);
    const std::byte* lp = lb->head + li * lu;
    const std::byte* rp = rb->head + ri * ru;
    for (int64_t i = 0; i < n; ++i, lp += lu, rp += ru) {
        uint32_t a = read_unit(lp, lu), b = read_unit(rp, ru);
        if (folded) {
            a = fold(a);
            b = fold(b);
        }
        if (a != b) return a > b ? 1 : -1;
    }
    return left_length > right_length ? 1 : left_length == right_length ? 0 : -1;
}

bool match_tag_at_position(const cell* string, const cell* tag) {
    series_buffer* b = buffer_of(string);
    uint32_t unit = unit_of(b);
    int64_t index = clamped_index(string, b);
    int64_t close = index + 1 + rest_length(tag);
    if (close >= length_of(b)) return false;
    return read_unit(b->head + index * unit, unit) == '<' && read_unit(b->head + close * unit, unit) == '>';
}

bool match_value_at_position(const cell* string, const cell* value, int32_t op) {
    switch (value->type()) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF:
            return compare_contents(string, value, op, true) == 0;
        case TYPE_CHAR: {
            series_buffer* b = buffer_of(string);
            uint32_t unit = unit_of(b);
            int64_t index = clamped_index(string, b);
            if (index >= length_of(b)) return false;
            uint32_t c = read_unit(b->head + index * unit, unit);
            uint32_t wanted = value->w2;
            return op == COMPARE_STRICT_EQUAL ? c == wanted : fold(c) == fold(wanted);
        }
        case TYPE_TAG: {
            if (!match_tag_at_position(string, value)) return false;
            cell after = *string;
            after.w1 = static_cast<uint32_t>(clamped_index(string, buffer_of(string)) + 1);
            return compare_contents(&after, value, op, true) == 0;
        }
        default: return false;
    }
}

// --- Writers ---------------------------------------------------------------------------------------------

series_buffer* append_codepoint(series_buffer* b, uint32_t codepoint) {
    b = widen_buffer(b, append_width(codepoint));
    uint32_t unit = unit_of(b);
    b = ensure_room(b, unit);
    write_unit(b->tail, unit, codepoint);
    b->tail += unit;
    return b;
}

void append_codepoint(cell* string, uint32_t codepoint) { append_codepoint(buffer_of(string), codepoint); }

series_buffer* poke_codepoint_at_index(series_buffer* b, int64_t index, uint32_t codepoint) {
    if (index < 0) raise::throw_error(err::script_past_end);
    if (index > INT32_MAX) raise::throw_error(err::internal_no_memory);
    b = widen_buffer(b, positional_width(codepoint));
    uint32_t unit = unit_of(b);
    int64_t capacity = (b->data_end() - b->head) / unit;
    if (index >= capacity) {
        int64_t size = std::max<int64_t>(b->size, 16);
        while (size < (index + 1) * unit) size *= 2;
        if (size > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
        b = memory::expand_series(b, size);
    }
    std::byte* at = b->head + index * unit;
    if (at >= b->tail) {
        // Units between the old tail and the index would otherwise hold stale bytes.
        std::memset(b->tail, 0, static_cast<size_t>(at - b->tail));
        b->tail = at + unit;
    }
    return write_codepoint_at(b, at, codepoint);
}

series_buffer* insert_codepoint(series_buffer* b, int64_t index, uint32_t codepoint) {
    b = widen_buffer(b, positional_width(codepoint));
    uint32_t unit = unit_of(b);
    b = ensure_room(b, unit);
    index = std::clamp<int64_t>(index, 0, length_of(b));
    std::byte* at = b->head + index * unit;
    std::memmove(at + unit, at, static_cast<size_t>(b->tail - at));
    write_unit(at, unit, codepoint);
    b->tail += unit;
    return b;
}

series_buffer* write_codepoint_at(series_buffer* b, std::byte* at, uint32_t codepoint) {
    uint32_t unit = unit_of(b);
    int64_t position = (at - b->head) / unit;
    if (positional_width(codepoint) > unit) {
        b = widen_buffer(b, positional_width(codepoint));
        unit = unit_of(b);
        at = b->head + position * unit;
    }
    write_unit(at, unit, codepoint);
    return b;
}

void remove_char_at(cell* string, int64_t index) { remove_part(string, index, 1); }

void remove_part(cell* string, int64_t position, int64_t count) {
    series_buffer* b = buffer_of(string);
    uint32_t unit = unit_of(b);
    int64_t length = length_of(b);
    if (position < 0 || position >= length || count <= 0) return;
    if (count >= length - position) {
        b->tail = b->head + position * unit;
        return;
    }
    std::byte* at = b->head + position * unit;
    std::byte* rest = at + count * unit;
    std::memmove(at, rest, static_cast<size_t>(b->tail - rest));
    b->tail -= count * unit;
}

series_buffer* truncate(series_buffer* b, int64_t n) {
    uint32_t unit = unit_of(b);
    if (n >= 0 && b->data_end() - b->head >= n * unit && b->tail > b->head + n * unit) b->tail = b->head + n * unit;
    return b;
}

void truncate(cell* string, int64_t n) { truncate(buffer_of(string), n); }

void reset(cell* string) {
    series_buffer* b = buffer_of(string);
    b->flags = (b->flags & ~memory::UNIT_MASK) | 1;
    b->tail = b->head;
    string->w1 = 0;
}

void append_bytes(cell* string, const char* bytes, int64_t n) {
    if (n < 1) return;
    series_buffer* b = buffer_of(string);
    if (unit_of(b) == 1) {
        // Appending keeps only ASCII in unit 1: a byte 0x80..0xFF widens the buffer.
        const auto* p = reinterpret_cast<const uint8_t*>(bytes);
        if (std::any_of(p, p + n, [](uint8_t byte) { return byte > 0x7F; })) b = widen_buffer(b, 2);
    }
    uint32_t unit = unit_of(b);
    if (n * int64_t(unit) > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
    b = ensure_room(b, n * unit);
    std::byte* at = b->tail;
    if (unit == 1) {
        std::memcpy(at, bytes, static_cast<size_t>(n));
    } else {
        for (int64_t i = 0; i < n; ++i, at += unit) write_unit(at, unit, static_cast<uint8_t>(bytes[i]));
    }
    b->tail += n * unit;
}

void append_c_string(cell* string, const char* text) {
    append_bytes(string, text, static_cast<int64_t>(std::strlen(text)));
}

void append_units(cell* output, const cell* source) {
    concatenate(output, source, -1, 0, true, CONCATENATE_APPEND);
}

series_buffer* widen_to_unit(series_buffer* b, uint32_t from, uint32_t to) {
    if (unit_of(b) != from) unicode::bad_unit_width();
    return widen_buffer(b, to);
}

series_buffer* copy_units_widening(series_buffer* source, series_buffer* target, uint32_t target_width,
                                   int64_t byte_offset, int64_t byte_count, bool keep_tail) {
    uint32_t from = unit_of(source);
    bool widening = (from == 1 && (target_width == 2 || target_width == 4)) || (from == 2 && target_width == 4);
    if (!widening) platform::quit_with_error(platform::RUNTIME_ERROR_NO_CASE, 0);
    int64_t used = source->tail - source->head;
    byte_offset = std::clamp<int64_t>(byte_offset, 0, used) / from * from;
    int64_t available = used - byte_offset;
    if (byte_count <= 0 || byte_count > available) byte_count = available;
    int64_t units = byte_count / from;
    int64_t needed = units * target_width;
    const int64_t capacity = memory::growth_size(needed, 2 * needed) / target_width;
    // The units are read before anything allocates: the source may move then.
    std::vector<uint32_t> copied(static_cast<size_t>(units));
    for (int64_t i = 0; i < units; ++i) copied[size_t(i)] = read_unit(source->head + byte_offset + i * from, from);
    if (!target) {
        node_ref node = memory::alloc_series(std::max<int64_t>(capacity, 1), target_width, 0);
        target = memory::buffer_of(node);
    } else if (target->data_end() - target->head < needed) {
        target = memory::expand_series(target, needed);
    }
    for (int64_t i = 0; i < units; ++i) write_unit(target->head + i * target_width, target_width, copied[size_t(i)]);
    if (!keep_tail) {
        target->tail = target->head + needed;
        target->flags = (target->flags & ~memory::UNIT_MASK) | target_width;
    }
    return target;
}

void rotate_bytes(std::byte* start, int64_t a, std::byte* after, int64_t b, int64_t d) {
    if (a <= 0 && b <= 0) return;
    int64_t shorter = std::min(a, b);
    if (!scratch) {
        scratch = static_cast<std::byte*>(heap::allocate(SCRATCH_SIZE));
        scratch_size = SCRATCH_SIZE;
    }
    bool enlarged = shorter > scratch_size;
    if (enlarged) {
        scratch = static_cast<std::byte*>(heap::resize(scratch, static_cast<size_t>(shorter)));
        scratch_size = shorter;
    }
    if (a <= b) {
        std::memcpy(scratch, start, static_cast<size_t>(a));
        std::memmove(start, after, static_cast<size_t>(b));
        std::memcpy(start + b + d, scratch, static_cast<size_t>(a));
    } else {
        std::memcpy(scratch, after, static_cast<size_t>(b));
        std::memmove(start + b + d, start, static_cast<size_t>(a));
        std::memcpy(start, scratch, static_cast<size_t>(b));
    }
    if (enlarged) {
        scratch = static_cast<std::byte*>(heap::resize(scratch, SCRATCH_SIZE));
        scratch_size = SCRATCH_SIZE;
    }
}

void move_units(cell* source, int64_t byte_count, cell* target) {
    series_buffer* sb = buffer_of(source);
    uint32_t su = unit_of(sb);
    int64_t s = clamped_index(source, sb);
    int64_t n = std::clamp<int64_t>(byte_count / su, 0, length_of(sb) - s);
    if (n == 0) return;
    std::vector<uint32_t> moved(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) moved[size_t(i)] = read_unit(sb->head + (s + i) * su, su);
    bool shared = source->w2 == target->w2;
    int64_t t = clamped_index(target, buffer_of(target));
    if (shared) {
        // Take the characters out first; a target inside the moved range leaves them where
        // they were.
        remove_part(source, s, n);
        if (t > s) t = std::max(t - n, s);
    }
    for (int64_t i = 0; i < n; ++i) insert_codepoint(buffer_of(target), t + i, moved[size_t(i)]);
    if (!shared) remove_part(source, s, n);
}

void concatenate(cell* target_value, const cell* source_value, int64_t part, int64_t offset, bool convert, int mode) {
    // Both operands live in stack slots for the whole call: widening and growing allocate,
    // and the collector may move nodes as well as buffers.
    auto [target, source] = push_text_operands(target_value, source_value);
    series_buffer* tb = buffer_of(target);
    series_buffer* sb = buffer_of(source);
    uint32_t tu = unit_of(tb), su = unit_of(sb);
    bool differed = tu != su;
    if (tu < su) {
        widen_buffer(tb, su);
        tu = su;
    } else if (su < tu && !convert) {
        widen_buffer(sb, tu);
        su = tu;
    }
    sb = buffer_of(source);
    int64_t si = clamped_index(source, sb);
    int64_t count = length_of(sb) - si;
    if (part >= 0 && part < count) count = part;
    int64_t needed = count * tu;
    if (needed == 0) {
        stack::drop_slots(2);
        return;
    }
    if (needed > INT32_MAX - 64) raise::throw_error(err::internal_no_memory);
    // The source's characters, taken out when they share the target's buffer: opening a gap
    // or moving the buffer must not change what is copied.
    bool shared = target->w2 == source->w2;
    std::vector<std::byte> snapshot;
    if (shared) snapshot.assign(sb->head + si * su, sb->head + (si + count) * su);
    tb = buffer_of(target);
    int64_t used = tb->tail - tb->head;
    if (tb->data_end() - tb->head < used + needed) {
        tb = memory::expand_series(tb, memory::growth_size(used + needed, 2 * (used + needed)));
    }
    offset = std::clamp<int64_t>(offset, -int64_t(INT32_MAX), INT32_MAX);
    int64_t position = std::clamp<int64_t>(clamped_index(target, tb) + offset, 0, length_of(tb));
    std::byte* destination = mode == CONCATENATE_APPEND ? tb->tail : tb->head + position * tu;
    if (mode == CONCATENATE_INSERT) {
        std::memmove(destination + needed, destination, static_cast<size_t>(tb->tail - destination));
    }
    sb = buffer_of(source);
    const std::byte* from = shared ? snapshot.data() : sb->head + si * su;
    if (convert && differed && su != tu) {
        for (int64_t i = 0; i < count; ++i) write_unit(destination + i * tu, tu, read_unit(from + i * su, su));
    } else {
        std::memmove(destination, from, static_cast<size_t>(needed));
    }
    std::byte* end = destination + needed;
    if (mode == CONCATENATE_INSERT) tb->tail += needed;
    else if (mode == CONCATENATE_APPEND || end > tb->tail) tb->tail = end;
    stack::drop_slots(2);
}

// --- Small text routines ----------------------------------------------------------------------------------

double scan_float(const std::byte* text, int64_t length) {
    const auto* start = reinterpret_cast<const char*>(text);
    const char* stop;
    return number_text::parse_float(start, start + length, &stop);
}

const char* byte_to_hex(uint8_t byte) {
    static char digits[3];
    digits[0] = "0123456789ABCDEF"[byte >> 4];
    digits[1] = "0123456789ABCDEF"[byte & 0xF];
    digits[2] = 0;
    return digits;
}

const char* int_to_hex(int32_t value, bool trim) {
    static char digits[9];
    auto bits = static_cast<uint32_t>(value);
    for (int i = 7; i >= 0; --i, bits >>= 4) digits[i] = "0123456789ABCDEF"[bits & 0xF];
    digits[8] = 0;
    if (!trim) return digits;
    char fill = value < 0 ? 'F' : '0';
    int first = 0;
    while (first < 6 && digits[first] == fill) ++first;
    return digits + first;
}

std::string to_utf8(const cell* string) {
    series_buffer* b = buffer_of(string);
    uint32_t unit = unit_of(b);
    std::string out;
    for (const std::byte* p = b->head + clamped_index(string, b) * unit; p < b->tail; p += unit) {
        uint32_t c = read_unit(p, unit);
        uint8_t bytes[4];
        int n = unicode::encode_utf8_char(c > 0x10FFFF ? 0xFFFD : c, bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
    return out;
}

}  // namespace zor::string
