// string! actions: conversion, comparison, path access, searching, the three writers
// (append, insert, change), swap, take, trim, sort and the set operations, and string!'s
// registration of them. file!, url!, tag!, email! and ref! inherit them, and binary! and
// vector! take some (find, select, sort, take, ...): the searching and sorting routines
// therefore read their series as text (code points), bytes or vector elements.
//
// Invariants kept here:
// - Every routine gets its series and values in rooted cells (argument-stack slots) and
//   reads buffers again through their nodes after anything that allocates or reports a
//   change to ownership tracking (a report may run user code).
// - Text that has to be made first (a formed value, a word's spelling, a tag with its
//   brackets) is made in a stack slot before any buffer address is taken; the scans that
//   follow allocate nothing, so their raw addresses stay valid.
// - A sort with a function comparator orders record numbers and reads the records
//   through the node at each call, so user code that allocates, collects or edits the
//   string never leaves it reading moved memory; a comparator that changes the string's
//   length ends the sort with script/past-end before anything is written back.
#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "runtime/text/case-fold.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/datatypes/series-sort.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"

namespace zor::string {

namespace {

// Sizes stay below what a 32-bit size word can hold with the buffer overhead.
constexpr int64_t MAX_BYTES = INT32_MAX - 64;

series_buffer* buffer(const cell* s) { return memory::buffer_of(s->w2); }
uint32_t unit_width(const cell* s) { return buffer(s)->unit(); }
int64_t units(const cell* s) { return buffer(s)->length(); }
int64_t clamped(const cell* s) { return std::clamp<int64_t>(static_cast<int32_t>(s->w1), 0, units(s)); }

void require_buffer(const cell* s) {
    if (s->w2 == 0 || !memory::buffer_of(s->w2)) raise::throw_error(err::script_invalid_arg, s);
}

[[noreturn]] void invalid_arg(const cell* value) { raise::throw_error(err::script_invalid_arg, stack::push_copy(value)); }

[[noreturn]] void out_of_range(int64_t value) {
    int32_t v = static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
    raise::throw_error(err::script_out_of_range, integer::make_in(stack::push_slot(), v));
}

[[noreturn]] void no_memory() { raise::throw_error(err::internal_no_memory); }

uint32_t fold(uint32_t c) { return case_fold::change_case_char(c, true); }

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

// The unit width an appended code point needs (appending keeps only ASCII in unit 1).
uint32_t append_width(uint32_t c) { return c <= 0x7F ? 1 : c <= 0xFFFF ? 2 : 4; }
// The unit width that holds a code point by the positional rule (Latin-1 in unit 1).
uint32_t positional_width(uint32_t c) { return c <= 0xFF ? 1 : c <= 0xFFFF ? 2 : 4; }

bool is_block_source(type_id t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

// The code points of a text value from its index, read out of its buffer.
std::vector<uint32_t> codepoints_of(const cell* text) {
    series_buffer* b = buffer(text);
    uint32_t unit = b->unit();
    std::vector<uint32_t> out;
    out.reserve(static_cast<size_t>(b->length() - clamped(text)));
    for (const std::byte* p = b->head + clamped(text) * unit; p < b->tail; p += unit) out.push_back(read_unit(p, unit));
    return out;
}

// --- Text that the writers add ---------------------------------------------------------------------

// One code point, or count characters of a rooted text from start.
struct text_source {
    cell* text = nullptr;  // null for a single code point
    uint32_t codepoint = 0;
    int64_t start = 0;
    int64_t count = 0;
};

// Forms the value into a new string in a new stack slot: a block!, paren! or hash! element
// by element from its index, anything else as a whole. With a limit (0 or more) forming
// stops once the limit is reached and the text is cut back to it.
cell* push_formed(const cell* value, int64_t limit) {
    cell* out = make_empty(stack::push_slot(), 16);
    stack::slot_mark mark(stack::explicit_release);
    cell* held = stack::push_copy(value);
    cell part_flag{TYPE_INTEGER, 0, static_cast<uint32_t>(std::min<int64_t>(limit, INT32_MAX)), 0};
    auto form_one = [&](cell* element) {
        int64_t used = units(out);
        int budget = limit < 0 ? 0 : static_cast<int>(std::clamp<int64_t>(limit - used, 0, INT32_MAX));
        actions::dispatch_form(element, out, limit < 0 ? nullptr : &part_flag, budget);
    };
    if (is_block_source(held->type())) {
        cell* element = stack::push_slot();
        for (int64_t i = clamped(held); i < units(held); ++i) {
            if (limit >= 0 && units(out) >= limit) break;
            *element = *(buffer(held)->head_cell() + i);
            form_one(element);
        }
    } else {
        form_one(held);
    }
    if (limit >= 0) truncate(out, limit);
    mark.release();
    return out;
}

// "<", the tag's text (up to the limit) and ">" in a new string in a new stack slot.
cell* push_tag_text(const cell* tag, int64_t limit) {
    cell* out = make_empty(stack::push_slot(), 16);
    stack::slot_mark mark(stack::explicit_release);
    cell* held = stack::push_copy(tag);
    cell::set_type(held, TYPE_STRING);
    append_c_string(out, "<");
    concatenate(out, held, limit, 0, true, CONCATENATE_APPEND);
    append_c_string(out, ">");
    mark.release();
    return out;
}

// The text a writer adds for a value (rooted), limited by a /part count (-1: all). May push
// a slot holding made text.
text_source source_of(cell* value, int64_t limit) {
    text_source source;
    if (value->is(TYPE_CHAR)) {
        source.codepoint = value->w2;
        source.count = limit == 0 ? 0 : 1;
        return source;
    }
    if (is_any_string(value->type()) && !value->is(TYPE_TAG)) {
        source.text = value;
    } else if (value->is(TYPE_TAG)) {
        source.text = push_tag_text(value, limit);
    } else {
        source.text = push_formed(value, limit);
    }
    source.start = clamped(source.text);
    source.count = units(source.text) - source.start;
    // A tag's limit applies to its text between the brackets, already cut.
    if (limit >= 0 && !value->is(TYPE_TAG)) source.count = std::min(source.count, limit);
    return source;
}

uint32_t width_needed(const text_source& source) {
    return source.text ? unit_width(source.text) : append_width(source.codepoint);
}

// count x dup more units on a series of length units: the product and the bytes checked.
int64_t checked_total(int64_t count, int64_t dup, int64_t length, uint32_t unit) {
    int64_t total, sum, bytes;
    if (__builtin_mul_overflow(count, dup, &total) || __builtin_add_overflow(total, length, &sum) ||
        __builtin_mul_overflow(sum, int64_t(unit), &bytes) || bytes > MAX_BYTES) {
        no_memory();
    }
    return total;
}

// Replaces `replaced` units at a position of the series by the source's text repeated dup
// times. The buffer widens to the source's width when that is wider and grows to the size
// needed, or to twice its capacity when that is more (so appending is amortised constant).
void splice(cell* series, int64_t position, int64_t replaced, const text_source& source, int64_t dup) {
    int64_t count = source.count;
    if (source.text) count = std::clamp<int64_t>(count, 0, units(source.text) - std::min(source.start, units(source.text)));
    uint32_t target_unit = unit_width(series);
    uint32_t unit = std::max(target_unit, width_needed(source));
    int64_t length = units(series);
    position = std::clamp<int64_t>(position, 0, length);
    replaced = std::clamp<int64_t>(replaced, 0, length - position);
    int64_t total = checked_total(count, dup, length - replaced, unit);
    int64_t new_length = length - replaced + total;
    if (unit > target_unit) widen_to_unit(buffer(series), target_unit, unit);
    series_buffer* b = buffer(series);
    int64_t needed = new_length * unit;
    int64_t capacity = b->data_end() - b->head;
    if (needed > capacity) memory::expand_series(b, std::min(std::max(needed, 2 * capacity), MAX_BYTES));
    // Nothing allocates from here on: addresses stay valid.
    std::vector<std::byte> snapshot;
    const std::byte* from = nullptr;
    uint32_t source_unit = unit;
    if (source.text && count > 0) {
        series_buffer* sb = buffer(source.text);
        source_unit = sb->unit();
        from = sb->head + source.start * source_unit;
        if (source.text->w2 == series->w2) {
            // The source lies in the buffer that is about to be rearranged.
            snapshot.assign(from, from + count * source_unit);
            from = snapshot.data();
        }
    }
    b = buffer(series);
    std::byte* at = b->head + position * unit;
    std::memmove(at + total * unit, at + replaced * unit, static_cast<size_t>((length - position - replaced) * unit));
    if (total > 0) {
        if (!source.text) {
            write_unit(at, unit, source.codepoint);
        } else if (source_unit == unit) {
            std::memcpy(at, from, static_cast<size_t>(count * unit));
        } else {
            for (int64_t i = 0; i < count; ++i) write_unit(at + i * unit, unit, read_unit(from + i * source_unit, source_unit));
        }
        memory::replicate_pattern(at, count * unit, dup);
    }
    b->tail = b->head + new_length * unit;
}

// --- Searching -----------------------------------------------------------------------------------------

// How a series' elements are read: code points, bytes, or vector numbers.
enum class element_kind { text, binary, vector_signed, vector_unsigned, vector_float };

element_kind elements_of(const cell* series) {
    switch (series::kind_of(series->type())) {
        case series::ELEMENTS_TEXT: return element_kind::text;
        case series::ELEMENTS_BINARY: return element_kind::binary;
        case series::ELEMENTS_VECTOR:
            switch (series->w3) {
                case TYPE_FLOAT: case TYPE_PERCENT: return element_kind::vector_float;
                case TYPE_CHAR: return element_kind::vector_unsigned;
                default: return element_kind::vector_signed;
            }
        default: invalid_arg(series);
    }
}

bool is_vector(element_kind k) { return k != element_kind::text && k != element_kind::binary; }

// A vector element as a number (integers of 1, 2 or 4 bytes, floats of 4 or 8).
double vector_element(const std::byte* at, uint32_t width, element_kind kind) {
    if (kind == element_kind::vector_float) return vector::read_float(at, width);
    switch (width) {
        case 1: return kind == element_kind::vector_signed ? double(static_cast<int8_t>(*at)) : double(uint8_t(*at));
        case 2: {
            uint16_t u;
            std::memcpy(&u, at, 2);
            return kind == element_kind::vector_signed ? double(static_cast<int16_t>(u)) : double(u);
        }
        case 4: {
            uint32_t u;
            std::memcpy(&u, at, 4);
            return kind == element_kind::vector_signed ? double(static_cast<int32_t>(u)) : double(u);
        }
        default: unicode::bad_unit_width();
    }
}

// What a search looks for, read out of the value before the scan starts.
struct pattern {
    enum kind_t { sequence, bitset } kind = sequence;
    std::vector<uint32_t> codes;   // text and binary series (folded when folding)
    std::vector<double> numbers;   // vector series
    std::vector<uint8_t> bits;     // a bitset's bytes
    bool complement = false;
    int64_t length() const { return kind == bitset ? 1 : static_cast<int64_t>(codes.size()); }
};

pattern pattern_of(const cell* series, cell* value, bool fold_case) {
    stack::slot_mark mark;
    element_kind kind = elements_of(series);
    pattern p;
    auto from_text = [&](const cell* text) { p.codes = codepoints_of(text); };
    switch (value->type()) {
        case TYPE_CHAR: p.codes = {value->w2}; break;
        case TYPE_BITSET: {
            series_buffer* b = buffer(value);
            p.kind = pattern::bitset;
            p.bits.assign(reinterpret_cast<const uint8_t*>(b->head), reinterpret_cast<const uint8_t*>(b->tail));
            p.complement = (b->flags & memory::FLAG_COMPLEMENT) != 0;
            return p;
        }
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF: from_text(value); break;
        case TYPE_WORD: {
            cell* spelling = stack::push_slot();
            cell::init_unset(spelling);
            node_ref node = symbol::ensure_string_form(static_cast<int32_t>(value->w2));
            *spelling = cell{TYPE_STRING, 0, node, 0};
            from_text(spelling);
            break;
        }
        case TYPE_BINARY:
            if (kind != element_kind::binary) invalid_arg(value);
            from_text(value);
            break;
        case TYPE_TAG: from_text(push_tag_text(value, -1)); break;
        case TYPE_INTEGER:
            if (kind == element_kind::text) {
                from_text(push_formed(value, -1));
            } else if (is_vector(kind)) {
                p.numbers = {double(static_cast<int32_t>(value->w2))};
            } else {
                // A byte is 0..255: any other integer is kept out of reach of every byte.
                int32_t v = static_cast<int32_t>(value->w2);
                p.codes = {v >= 0 && v <= 0xFF ? uint32_t(v) : 0xFFFFFFFFu};
            }
            break;
        case TYPE_FLOAT:
            if (is_vector(kind)) {
                p.numbers = {float_::get(value)};
            } else {
                from_text(push_formed(value, -1));
            }
            break;
        default: from_text(push_formed(value, -1)); break;
    }
    if (is_vector(kind) && p.numbers.empty()) {
        for (uint32_t c : p.codes) p.numbers.push_back(double(c));
    }
    if (is_vector(kind)) p.codes.assign(p.numbers.size(), 0);  // only the count is read
    if (fold_case) {
        for (uint32_t& c : p.codes) c = fold(c);
    }
    return p;
}

struct search_result {
    int64_t position = -1;  // -1: not found
    int64_t length = 0;     // elements matched
};

struct search_options {
    cell* part = nullptr;
    bool case_sensitive = false;
    bool same = false;
    bool any = false;
    cell* with = nullptr;
    cell* skip = nullptr;
    bool last = false;
    bool reverse = false;
    bool match = false;
};

search_result search(cell* series, cell* value, const search_options& o) {
    search_result none_found;
    require_buffer(series);
    int64_t length = units(series);
    int64_t index = std::clamp<int64_t>(static_cast<int32_t>(series->w1), 0, length);
    if (length == 0) return none_found;
    if (!o.reverse && index >= length) return none_found;
    if (o.any || o.with) raise::throw_error(err::internal_not_done);
    int64_t step = 1;
    if (o.skip) {
        if (!o.skip->is(TYPE_INTEGER)) series::invalid_refine_arg(series::REFINEMENT_SKIP, o.skip);
        step = integer::read_cell(o.skip);
        if (step < 1) out_of_range(step);
    }
    bool backward = o.last || o.reverse;
    int64_t range_end = length;  // a match must end by here
    int64_t lowest = 0;          // the lowest candidate of a backward search
    if (o.part) {
        int64_t n;
        if (o.part->is(TYPE_INTEGER)) {
            n = integer::read_cell(o.part);
        } else if (o.part->type() == series->type() && o.part->w2 == series->w2) {
            n = int64_t(static_cast<int32_t>(o.part->w1)) - index;
            // Searching back, the position naturally lies before the index.
            if (o.reverse && !o.last && n < 0) n = -n;
        } else {
            series::invalid_refine_arg(series::REFINEMENT_PART, o.part);
        }
        if (n < 1) return none_found;
        if (o.reverse && !o.last) {
            lowest = std::max<int64_t>(index - n, 0);
        } else {
            range_end = std::min(index + n, length);
        }
    }
    bool fold_case = is_any_string(series->type()) && !o.case_sensitive && !o.same;
    pattern p = pattern_of(series, value, fold_case);
    int64_t m = p.length();
    if (m == 0) return none_found;
    // The value is read: nothing below allocates, so the buffer stays where it is.
    length = units(series);
    range_end = std::min(range_end, length);
    if (index > length) index = length;

    int64_t first, bound;
    if (o.last) {
        first = range_end - m;
        bound = index;
    } else if (o.reverse) {
        if (index == 0 || o.match) return none_found;
        first = index - 1;
        bound = lowest;
    } else {
        first = index;
        bound = range_end;
    }
    series_buffer* b = buffer(series);
    uint32_t unit = b->unit();
    const std::byte* head = b->head;
    element_kind kind = elements_of(series);
    auto scan = [&](auto&& matches_at) -> int64_t {
        if (!backward) {
            for (int64_t at = first; at < bound; at += step) {
                if (at + m <= range_end && matches_at(at)) return at;
                if (o.match) break;
            }
        } else {
            for (int64_t at = first; at >= bound; at -= step) {
                if (at + m <= range_end && matches_at(at)) return at;
                if (o.match) break;
            }
        }
        return -1;
    };
    auto code_at = [&](int64_t i) {
        uint32_t c = read_unit(head + i * unit, unit);
        return fold_case ? fold(c) : c;
    };
    auto in_bitset = [&](int64_t c) {
        if (c < 0 || c >= int64_t(p.bits.size()) * 8) return p.complement;
        return (p.bits[size_t(c >> 3)] & (0x80u >> (c & 7))) != 0;
    };
    int64_t found;
    if (is_vector(kind)) {
        auto number_at = [&](int64_t i) { return vector_element(head + i * unit, unit, kind); };
        if (p.kind == pattern::bitset) {
            found = scan([&](int64_t at) {
                double d = number_at(at);
                return d >= 0 && d < 4294967296.0 && d == double(int64_t(d)) && in_bitset(int64_t(d));
            });
        } else {
            found = scan([&](int64_t at) {
                for (int64_t k = 0; k < m; ++k) {
                    if (number_at(at + k) != p.numbers[size_t(k)]) return false;
                }
                return true;
            });
        }
    } else if (p.kind == pattern::bitset) {
        found = scan([&](int64_t at) { return in_bitset(read_unit(head + at * unit, unit)); });
    } else {
        found = scan([&](int64_t at) {
            for (int64_t k = 0; k < m; ++k) {
                if (code_at(at + k) != p.codes[size_t(k)]) return false;
            }
            return true;
        });
    }
    if (found < 0) return none_found;
    return {found, m};
}

cell* at_position(const cell* series, int64_t position) {
    cell* result = stack::push_copy(series);
    result->w1 = static_cast<uint32_t>(position);
    return result;
}

// --- Sorting -------------------------------------------------------------------------------------------

enum class folding { none, ascii_lower, upper };

struct unit_sort {
    uint32_t unit;
    int64_t size;    // units per record
    int64_t offset;  // the key unit within a record
    bool whole;      // compare whole records (/all)
    bool reverse;
    folding fold_mode;
    element_kind kind;
};

uint32_t folded_unit(uint32_t c, folding mode) {
    switch (mode) {
        case folding::ascii_lower: return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
        case folding::upper: return fold(c);
        case folding::none: break;
    }
    return c;
}

// The order of two units (or vector elements): negative, 0 or positive.
int order_units(const std::byte* a, const std::byte* b, const unit_sort& s) {
    if (is_vector(s.kind)) {
        double x = vector_element(a, s.unit, s.kind);
        double y = vector_element(b, s.unit, s.kind);
        return x > y ? 1 : x < y ? -1 : 0;  // a NaN is equal to everything
    }
    uint32_t x = folded_unit(read_unit(a, s.unit), s.fold_mode);
    uint32_t y = folded_unit(read_unit(b, s.unit), s.fold_mode);
    return (x > y) - (x < y);
}

int compare_unit_records(const void* x, const void* y, void* argument, void*) {
    const auto* s = static_cast<const unit_sort*>(argument);
    const auto* a = static_cast<const std::byte*>(x);
    const auto* b = static_cast<const std::byte*>(y);
    int answer = 0;
    if (s->whole) {
        for (int64_t k = 0; k < s->size && answer == 0; ++k) answer = order_units(a + k * s->unit, b + k * s->unit, *s);
    } else {
        answer = order_units(a + s->offset * s->unit, b + s->offset * s->unit, *s);
    }
    return s->reverse ? -answer : answer;
}

struct function_sort {
    cell* series;        // the argument cell naming the string
    cell* function;      // a rooted copy of the comparator
    cell* first;         // the two argument slots of a call
    cell* second;
    int64_t start;       // unit position of the first record
    int64_t size;        // units per record
    int64_t length;      // the series' length, which the comparator must leave alone
    bool whole;          // pass whole records (/all)
    bool reverse;
};

void require_unchanged_length(const function_sort& s) {
    if (units(s.series) != s.length) raise::throw_error(err::script_past_end);
}

// Record r as the comparator sees it: its first element, or with /all a new string (a new
// series of the series' own type for binary! and vector!) of the whole record.
void load_record(const function_sort& s, int64_t record, cell* into) {
    int64_t position = s.start + record * s.size;
    if (!s.whole) {
        stack::slot_mark mark;
        *into = *series::push_element(s.series, position);
        return;
    }
    series::copy_range(s.series, into, position, s.size);
    if (is_any_string(into->type())) cell::set_type(into, TYPE_STRING);
}

// The function's answer as an order: true 1, false -1; an integer as it is; a float by
// its sign (zero and NaN 0); none -1; anything else 1.
int order_of_result(const cell* result) {
    switch (result->type()) {
        case TYPE_LOGIC: return result->w1 == 1 ? 1 : -1;
        case TYPE_INTEGER: {
            int32_t v = integer::read_cell(result);
            return (v > 0) - (v < 0);
        }
        case TYPE_FLOAT: {
            double d = float_::get(result);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TYPE_NONE: return -1;
        default: return 1;
    }
}

int compare_with_function(const void* x, const void* y, void* argument, void*) {
    const auto* s = static_cast<const function_sort*>(argument);
    int64_t i = *static_cast<const int32_t*>(x);
    int64_t j = *static_cast<const int32_t*>(y);
    stack::slot_mark mark;  // what the call leaves on the stack
    require_unchanged_length(*s);
    // As for blocks: the comparator gets (second, first), or (first, second) under /reverse,
    // so one comparator sorts blocks and strings the same way.
    load_record(*s, s->reverse ? i : j, s->first);
    load_record(*s, s->reverse ? j : i, s->second);
    cell* result = upcalls::call_comparator(s->function, s->first, s->second);
    int answer = order_of_result(result);
    require_unchanged_length(*s);
    return answer;
}

using memory::pin_guard;

void sort_with_function(function_sort& s, int64_t records, bool stable) {
    std::vector<int32_t> order(static_cast<size_t>(records));
    for (int64_t k = 0; k < records; ++k) order[size_t(k)] = static_cast<int32_t>(k);
    {
        pin_guard pin(s.series);
        if (stable) {
            sort::stable_merge_sort(order.data(), records, sizeof(int32_t), &s, nullptr, &compare_with_function);
        } else {
            sort::quick_sort(order.data(), records, sizeof(int32_t), &s, nullptr, &compare_with_function);
        }
    }
    require_unchanged_length(s);
    series_buffer* b = buffer(s.series);
    uint32_t unit = b->unit();  // a comparator may have widened the string
    int64_t record_bytes = s.size * unit;
    std::byte* first = b->head + s.start * unit;
    std::vector<std::byte> records_copy(first, first + records * record_bytes);
    for (int64_t k = 0; k < records; ++k) {
        std::memcpy(first + k * record_bytes, records_copy.data() + order[size_t(k)] * record_bytes,
                    static_cast<size_t>(record_bytes));
    }
}

// --- Trimming ------------------------------------------------------------------------------------------

bool is_unicode_space(uint32_t c) {
    return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
bool is_white(uint32_t c) { return (c >= 1 && c <= 32) || is_unicode_space(c); }
bool is_line_space(uint32_t c) { return c == ' ' || c == '\t' || is_unicode_space(c); }

using text = std::vector<uint32_t>;

text trim_ends(const text& in, bool head, bool tail) {
    size_t from = 0, to = in.size();
    if (head) {
        while (from < to && is_white(in[from])) ++from;
    }
    if (tail) {
        while (to > from && is_white(in[to - 1])) --to;
    }
    return text(in.begin() + std::ptrdiff_t(from), in.begin() + std::ptrdiff_t(to));
}

// Both ends, and the spaces and tabs at the start and end of every line; a line feed
// taken from the end is put back once.
text trim_all_lines(const text& in) {
    size_t from = 0, to = in.size();
    while (from < to && is_white(in[from])) ++from;
    size_t end = to;
    while (end > from && is_white(in[end - 1])) --end;
    bool line_end_removed = std::find(in.begin() + std::ptrdiff_t(end), in.end(), uint32_t('\n')) != in.end();
    text out;
    out.reserve(end - from + 1);
    size_t line = from;
    while (line <= end) {
        size_t stop = line;
        while (stop < end && in[stop] != '\n') ++stop;
        size_t a = line, z = stop;
        while (a < z && is_line_space(in[a])) ++a;
        while (z > a && is_line_space(in[z - 1])) --z;
        out.insert(out.end(), in.begin() + std::ptrdiff_t(a), in.begin() + std::ptrdiff_t(z));
        if (stop >= end) break;
        out.push_back('\n');
        line = stop + 1;
    }
    if (line_end_removed) out.push_back('\n');
    return out;
}

text trim_lines(const text& in) {
    text out;
    bool in_run = false;
    for (uint32_t c : in) {
        if (is_white(c)) {
            in_run = true;
            continue;
        }
        if (in_run && !out.empty()) out.push_back(' ');
        in_run = false;
        out.push_back(c);
    }
    return out;
}

text remove_listed(const text& in, std::vector<uint32_t> listed) {
    std::sort(listed.begin(), listed.end());
    text out;
    out.reserve(in.size());
    for (uint32_t c : in) {
        if (!std::binary_search(listed.begin(), listed.end(), c)) out.push_back(c);
    }
    return out;
}

}  // namespace

// --- make and to --------------------------------------------------------------------------------------------

cell* to(cell* value, cell* spec, type_id type) {
    (void)value;
    cell* result;
    switch (spec->type()) {
        case TYPE_NONE: {
            cell* target = datatype::make_in(stack::push_slot(), type);
            raise::throw_error(err::script_bad_to_arg, target, stack::push_copy(spec));
        }
        case TYPE_BINARY: {
            require_buffer(spec);
            cell* held = stack::push_copy(spec);
            int64_t index = clamped(held);
            int64_t n = units(held) - index;
            result = load_from_bytes(unicode::input_bytes::in(held, index), n, nullptr, ENCODING_UTF8);
            break;
        }
        case TYPE_REFINEMENT: {
            cell* held = stack::push_copy(spec);
            result = make_empty(stack::push_slot(), 16);
            if (type == TYPE_STRING) {
                actions::dispatch_form(held, result, nullptr, 0);
            } else {
                actions::dispatch_mold(held, result, false, false, false, nullptr, 0, 0);
            }
            break;
        }
        default:
            if (is_any_string(spec->type())) {
                require_buffer(spec);
                cell* held = stack::push_copy(spec);
                result = series::copy(held, stack::push_slot(), nullptr, false, nullptr);
            } else {
                result = push_formed(spec, -1);
            }
            break;
    }
    result->w3 = 0;
    cell::set_type(result, type);
    return result;
}

cell* make(cell* value, cell* spec, type_id type) {
    if (spec->is(TYPE_INTEGER) || spec->is(TYPE_FLOAT)) {
        int32_t size = integer::get_int_from_number(spec);
        if (size < 0) raise::throw_error(err::script_out_of_range, stack::push_copy(spec));
        cell* result = make_empty(stack::push_slot(), size);
        cell::set_type(result, type);
        return result;
    }
    if (type == TYPE_BINARY) {
        if (spec->is(TYPE_MONEY)) {
            cell* target = datatype::make_in(stack::push_slot(), type);
            raise::bad_make_arg(target, spec);
        }
        // binary! converts with its own to action; never this one.
        auto convert = reinterpret_cast<action_handler<ACTION_TO>>(type_registry::handler_of(TYPE_BINARY, ACTION_TO));
        if (!convert || convert == &to) raise::throw_error(err::internal_not_done);
        return convert(value, spec, type);
    }
    return to(value, spec, type);
}

// --- compare --------------------------------------------------------------------------------------------------

int compare(cell* value, cell* other, int op) {
    if (value->type() == other->type()) return compare_contents(value, other, op, false);
    if (is_any_string(other->type()) && (op == COMPARE_EQUAL || op == COMPARE_NOT_EQUAL)) {
        return compare_contents(value, other, op, false);
    }
    return -2;
}

// --- Path access ----------------------------------------------------------------------------------------------

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place) {
    (void)grandparent, (void)previous, (void)position, (void)pass_through, (void)get_only, (void)tail, (void)in_place;
    if (element->is(TYPE_INTEGER)) {
        int n = integer::read_cell(element);
        return value ? series::poke(parent, n, value) : series::pick(parent, n, element);
    }
    if (element->is(TYPE_WORD)) {
        cell* where = stack::push_copy(path ? path : &none::value);
        raise::throw_error(err::script_invalid_path, where, stack::push_copy(element));
    }
    // No case flag reaches a path step: selection is case-insensitive.
    if (!value) return select(parent, element, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    search_result found = search(parent, element, search_options{});
    if (found.position < 0) {
        cell* where = stack::push_copy(path ? path : &none::value);
        raise::throw_error(err::script_bad_path_set, where, stack::push_copy(element));
    }
    cell* at_key = at_position(parent, found.position);
    return series::poke(at_key, static_cast<int>(found.length + 1), value);
}

// --- find and select -----------------------------------------------------------------------------------------

cell* find(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match) {
    (void)only;  // a string has no nested values to take whole
    search_result found =
        search(series, value, search_options{part, case_sensitive, same, any, with, skip, last, reverse, match});
    if (found.position < 0) return &none::value;
    int64_t position = found.position;
    if (tail) position = std::min(position + found.length, units(series));
    return at_position(series, position);
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    (void)only;
    search_result found =
        search(series, value, search_options{part, case_sensitive, same, any, with, skip, last, reverse, false});
    if (found.position < 0) return &none::value;
    // What follows the whole matched text (a formed value's text included).
    int64_t after = found.position + found.length;
    if (after >= units(series)) return &none::value;
    return series::push_element(series, after);
}

// --- The writers --------------------------------------------------------------------------------------------

namespace {

// The common append, taken before the general writer: the text of a string (not a tag,
// whose brackets are added) from its index, at the tail of a series of the same unit
// width that no object owns (so no change is reported), with room for it. Allocates
// nothing, so raw addresses stay valid throughout. Writes
// exactly what splice writes and answers true; answers false, having changed nothing,
// for every other case.
bool append_same_width(cell* series, const cell* value) {
    if (!is_any_string(value->type()) || value->is(TYPE_TAG) || series->w2 == 0 || value->w2 == 0) return false;
    series_buffer* b = memory::buffer_of(series->w2);
    series_buffer* from = memory::buffer_of(value->w2);
    if (!b || !from || (b->flags & memory::FLAG_OWNED)) return false;
    const uint32_t unit = b->unit();
    if (from->unit() != unit) return false;
    const int64_t source_length = from->length();
    const int64_t start = std::clamp<int64_t>(static_cast<int32_t>(value->w1), 0, source_length);
    const int64_t bytes = (source_length - start) * unit;
    const int64_t used = b->tail - b->head;
    const int64_t needed = used + bytes;
    // Growing (which may collect, and the value need not be rooted) is left to the general
    // path: it comes once per doubling of the capacity.
    if (needed > b->data_end() - b->head || needed > MAX_BYTES) return false;
    std::byte* to = b->head + used;
    const std::byte* text = from->head + start * unit;
    if (bytes <= 16 && b->data_end() - to >= 16 && from->data_end() - text >= 16) {
        // A short text moves as one fixed block: what lands past the new tail is slack
        // that nothing reads. The source may lie in the same buffer, just before.
        std::memmove(to, text, 16);
    } else {
        std::memcpy(to, text, static_cast<size_t>(bytes));
    }
    b->tail = b->head + needed;
    series->w1 = 0;
    return true;
}

// append and insert of every other case.
[[gnu::noinline]] cell* insert_text(cell* series, cell* value, int part, int dup, bool append_flag) {
    require_buffer(series);
    stack::slot_mark mark(stack::explicit_release);
    int64_t copies = dup < 0 ? 1 : dup;
    int64_t limit = part < 0 ? -1 : part;
    cell* held = stack::push_copy(value);
    text_source source = source_of(held, limit);
    int64_t length = units(series);
    series->w1 = static_cast<uint32_t>(clamped(series));
    int64_t position = append_flag ? length : clamped(series);
    checked_total(source.count, copies, length, std::max(unit_width(series), width_needed(source)));
    bool owned = series::notify(series, append_flag ? series::APPEND : series::INSERT, held, position, part);
    // The report may have run user code: take the series as it is now.
    length = units(series);
    position = append_flag ? length : std::min(position, length);
    splice(series, position, 0, source, copies);
    int64_t added = units(series) - length;
    if (owned) series::notify(series, append_flag ? series::APPENDED : series::INSERTED, held, position, part);
    series->w1 = static_cast<uint32_t>(append_flag ? 0 : std::min(position + added, units(series)));
    mark.release();
    return series;
}

}  // namespace

cell* append(cell* series, cell* value, int part, bool only, int dup, bool append_flag) {
    (void)only;  // text has no nesting: a block is formed value by value either way
    if (append_flag && part < 0 && (dup < 0 || dup == 1) && append_same_width(series, value)) return series;
    return insert_text(series, value, part, dup, append_flag);
}

cell* change(cell* series, cell* value, int part, bool only, int dup) {
    (void)only;
    require_buffer(series);
    stack::slot_mark mark(stack::explicit_release);
    int64_t copies = dup < 0 ? 1 : dup;
    cell* held = stack::push_copy(value);
    text_source source = source_of(held, -1);
    int64_t length = units(series);
    int64_t index = clamped(series);
    series->w1 = static_cast<uint32_t>(index);
    int64_t rest = length - index;
    int64_t total = checked_total(source.count, copies, length, std::max(unit_width(series), width_needed(source)));
    int64_t replaced = part >= 0 ? std::min<int64_t>(part, rest) : std::min(total, rest);
    bool owned = series::notify(series, series::CHANGE, nullptr, index, replaced);
    length = units(series);
    index = std::min(index, length);
    replaced = std::min(replaced, length - index);
    splice(series, index, replaced, source, copies);
    int64_t written = units(series) - (length - replaced);
    if (owned) series::notify(series, series::CHANGED, nullptr, index, written);
    series->w1 = static_cast<uint32_t>(std::min(index + written, units(series)));
    mark.release();
    return series;
}

// --- swap, take, trim ----------------------------------------------------------------------------------------

cell* swap(cell* series, cell* other) {
    bool other_binary = other->is(TYPE_BINARY);
    if (!is_any_string(other->type()) && !other_binary) invalid_arg(other);
    require_buffer(series);
    require_buffer(other);
    int64_t left = static_cast<int32_t>(series->w1);
    int64_t right = static_cast<int32_t>(other->w1);
    auto inside = [&] { return left >= 0 && right >= 0 && left < units(series) && right < units(other); };
    if (!inside()) return series;
    // A byte of a binary! cannot take a character above 0xFF: refused before any change.
    auto check_fits = [&] {
        uint32_t a = char_at(series, left), b = char_at(other, right);
        if (other_binary && a > 0xFF) invalid_arg(char_::push(a));
        if (series->is(TYPE_BINARY) && b > 0xFF) invalid_arg(char_::push(b));
    };
    check_fits();
    bool left_owned = series::notify(series, series::SWAP, nullptr, left, 1);
    bool right_owned = series::notify(other, series::SWAP, nullptr, right, 1);
    if (inside()) {
        check_fits();
        uint32_t a = char_at(series, left), b = char_at(other, right);
        series_buffer* sb = buffer(series);
        write_codepoint_at(sb, sb->head + left * sb->unit(), b);
        series_buffer* ob = buffer(other);
        write_codepoint_at(ob, ob->head + right * ob->unit(), a);
    }
    if (left_owned) series::notify(series, series::SWAPED, nullptr, left, 1);
    if (right_owned) series::notify(other, series::SWAPED, nullptr, right, 1);
    return series;
}

cell* take(cell* series, cell* part, bool deep, bool last) {
    // series!/take answers a single element as pick does: char! for text, integer! for a
    // binary!, the element type for a vector!.
    return series::take(series, part, deep, last);
}

cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with) {
    require_buffer(series);
    stack::slot_mark mark;
    std::vector<uint32_t> listed;
    bool removing = all || with;
    if (with) {
        if (with->is(TYPE_CHAR) || with->is(TYPE_INTEGER)) {
            listed.push_back(with->w2);
        } else if (with->is(TYPE_STRING) || with->is(TYPE_BINARY)) {
            listed = codepoints_of(with);
        } else {
            invalid_arg(with);
        }
    } else if (all) {
        listed = {'\t', '\n', '\r', ' '};
    }
    if (!removing && automatic) raise::throw_error(err::internal_not_done);
    int64_t index = clamped(series);
    series->w1 = static_cast<uint32_t>(index);
    bool owned = series::notify(series, series::TRIM, nullptr, index, 0);
    index = clamped(series);
    text in = codepoints_of(series);
    text out = removing ? remove_listed(in, std::move(listed))
               : lines  ? trim_lines(in)
               : head || tail ? trim_ends(in, head, tail)
                              : trim_all_lines(in);
    // The result holds only characters of the text and ASCII: it fits the buffer's width.
    series_buffer* b = buffer(series);
    uint32_t unit = b->unit();
    std::byte* at = b->head + index * unit;
    for (size_t i = 0; i < out.size(); ++i) write_unit(at + i * unit, unit, out[i]);
    b->tail = at + int64_t(out.size()) * unit;
    if (owned) series::notify(series, series::TRIMMED, nullptr, index, 0);
    return series;
}

// --- sort ------------------------------------------------------------------------------------------------------

cell* sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
           bool stable) {
    require_buffer(series);
    stack::slot_mark mark;
    element_kind kind = elements_of(series);
    int64_t length = units(series);
    int64_t index = clamped(series);
    auto [start, count, size, offset, function] =
        series::sort_refinements(series, index, length, skip, comparator, part, all);
    series->w1 = static_cast<uint32_t>(start);
    if (count == 0) return series;
    int64_t records = count / size;
    bool owned = series::notify(series, series::SORT, nullptr, start, 0);
    if (units(series) < start + count) raise::throw_error(err::script_past_end);
    if (function) {
        cell* first = stack::push_slot();
        cell* second = stack::push_slot();
        cell::init_unset(first);
        cell::init_unset(second);
        function_sort state{series, function, first, second, start, size, units(series), all, reverse};
        sort_with_function(state, records, stable);
    } else {
        series_buffer* b = buffer(series);
        folding mode = folding::none;
        if (!case_sensitive && kind == element_kind::text) mode = b->unit() == 1 ? folding::ascii_lower : folding::upper;
        if (!case_sensitive && kind == element_kind::binary) mode = folding::ascii_lower;
        unit_sort state{b->unit(), size, offset, all, reverse, mode, kind};
        std::byte* base = b->head + start * b->unit();
        int64_t record_bytes = size * b->unit();
        // The unit comparators run no user code and allocate nothing: the buffer stays put.
        if (stable) {
            sort::stable_merge_sort(base, records, record_bytes, &state, nullptr, &compare_unit_records);
        } else {
            sort::quick_sort(base, records, record_bytes, &state, nullptr, &compare_unit_records);
        }
    }
    if (owned) series::notify(series, series::SORTED, nullptr, start, 0);
    return series;
}

// --- Set operations -------------------------------------------------------------------------------------------

cell* set_operation(cell* first, cell* second, bool case_sensitive, cell* skip, int op) {
    int64_t size = 1;
    if (skip) {
        if (!skip->is(TYPE_INTEGER)) series::invalid_refine_arg(series::REFINEMENT_SKIP, skip);
        size = integer::read_cell(skip);
        if (size < 1) series::invalid_refine_arg(series::REFINEMENT_SKIP, skip);
    }
    if (op < block::SET_UNIQUE || op > block::SET_DIFFERENCE) {
        raise::throw_error(err::script_invalid_arg, integer::make_in(stack::push_slot(), op));
    }
    if (!is_any_string(first->type())) invalid_arg(first);
    require_buffer(first);
    bool two = op != block::SET_UNIQUE;
    if (two) {
        if (!second || !is_any_string(second->type())) invalid_arg(second ? second : &none::value);
        require_buffer(second);
    }
    text a = codepoints_of(first);
    text b = two ? codepoints_of(second) : text{};
    auto key = [&](uint32_t c) { return case_sensitive ? c : fold(c); };
    // The first characters of a series' records (what has-char looks at, stepping by size).
    auto record_keys = [&](const text& s) {
        std::unordered_set<uint32_t> keys;
        for (size_t p = 0; p < s.size(); p += size_t(size)) keys.insert(key(s[p]));
        return keys;
    };
    std::unordered_set<uint32_t> kept;
    text out;
    auto walk = [&](const text& source, const std::unordered_set<uint32_t>* other, bool keep_members) {
        for (size_t p = 0; p < source.size(); p += size_t(size)) {
            uint32_t k = key(source[p]);
            if (other && (other->count(k) != 0) != keep_members) continue;
            if (!kept.insert(k).second) continue;
            size_t end = std::min(source.size(), p + size_t(size));
            out.insert(out.end(), source.begin() + std::ptrdiff_t(p), source.begin() + std::ptrdiff_t(end));
        }
    };
    switch (op) {
        case block::SET_UNIQUE: walk(a, nullptr, true); break;
        case block::SET_UNION:
            walk(a, nullptr, true);
            walk(b, nullptr, true);
            break;
        case block::SET_INTERSECT: {
            auto members = record_keys(b);
            walk(a, &members, true);
            break;
        }
        case block::SET_EXCLUDE: {
            auto members = record_keys(b);
            walk(a, &members, false);
            break;
        }
        default: {
            auto in_b = record_keys(b);
            auto in_a = record_keys(a);
            walk(a, &in_b, false);
            walk(b, &in_a, false);
            break;
        }
    }
    uint32_t widest = 0;
    for (uint32_t c : out) widest = std::max(widest, c);
    uint32_t unit = positional_width(widest);
    cell* result = make_in_cell(stack::push_slot(), std::max<int64_t>(int64_t(out.size()), 1), unit);
    series_buffer* rb = buffer(result);
    for (size_t i = 0; i < out.size(); ++i) write_unit(rb->head + i * unit, unit, out[i]);
    rb->tail = rb->head + int64_t(out.size()) * unit;
    cell::set_type(result, first->type());
    *first = *result;
    return first;
}

// --- Registration ------------------------------------------------------------------------------------------------

void register_actions(type_registry::action_list& list) {
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_APPEND>(&append);
    list.set<ACTION_CHANGE>(&change);
    list.set<ACTION_FIND>(&find);
    list.set<ACTION_INSERT>(&append);
    list.set<ACTION_SELECT>(&select);
    list.set<ACTION_SORT>(&sort);
    list.set<ACTION_SWAP>(&swap);
    list.set<ACTION_TAKE>(&take);
    list.set<ACTION_TRIM>(&trim);
    list.unsupported(ACTION_SET_PATH);
    for (int a = ACTION_ABSOLUTE; a <= ACTION_XOR_T; ++a) list.unsupported(static_cast<action>(a));
    list.unsupported(ACTION_PUT);
    for (int a = ACTION_CREATE; a <= ACTION_DELETE; ++a) list.unsupported(static_cast<action>(a));
    for (int a = ACTION_OPEN; a <= ACTION_WRITE; ++a) list.unsupported(static_cast<action>(a));
}

}  // namespace zor::string
