// binary!: making and loading byte series, the byte image of values that the writers
// add, conversion, form and mold, comparison, the bitwise actions, the three writers
// (append, insert, change), trim, and binary!'s registration (see binary.h).
//
// The writers measure first and write afterwards: the byte image of the value is made
// in plain C++ memory, every size is checked in 64 bits against the 32-bit limit, and
// only then is the series reported to ownership tracking and changed. So a failing
// value, or a size that does not fit (internal/no-memory), leaves the series as it was.
#include "runtime/datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "codecs/base-codecs.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"
#include "runtime/value/type-registry.h"

namespace zor::binary {

namespace {

using memory::series_buffer;

// The largest byte count a buffer may hold: its size word is 32-bit, with the overhead.
constexpr int64_t MAX_BYTES = INT32_MAX - 64;
// The default capacity of a new binary, in bytes.
constexpr int64_t DEFAULT_CAPACITY = 16;
// Bytes on one line of a molded binary.
constexpr int64_t BYTES_PER_LINE = 32;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

series_buffer* buffer(const cell* b) { return memory::buffer_of(b->w2); }
int64_t length_of(const cell* b) { return buffer(b)->tail - buffer(b)->head; }
int64_t clamped(const cell* b) { return std::clamp<int64_t>(static_cast<int32_t>(b->w1), 0, length_of(b)); }
uint8_t* head_of(const cell* b) { return reinterpret_cast<uint8_t*>(buffer(b)->head); }

bool is_block_source(type_id t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

[[noreturn]] void no_memory() { raise::throw_error(err::internal_no_memory); }
[[noreturn]] void invalid_arg(const cell* value) { raise::throw_error(err::script_invalid_arg, stack::push_copy(value)); }
[[noreturn]] void bad_to_arg(const cell* value) {
    cell* spec = stack::push_copy(value);
    raise::throw_error(err::script_bad_to_arg, datatype::make_in(stack::push_slot(), TYPE_BINARY), spec);
}

// n bytes repeated copies times, checked to fit beside the length already there.
int64_t checked_total(int64_t n, int64_t copies, int64_t length) {
    int64_t total = 0;
    if (__builtin_mul_overflow(n, copies, &total) || total > MAX_BYTES || length + total > MAX_BYTES) no_memory();
    return total;
}

// Replaces `replaced` bytes at position by the bytes repeated copies times (the sizes
// already checked), growing the buffer when it is short: to exactly the new length when
// that is at least twice the capacity, else to twice the capacity.
void splice(cell* series, int64_t position, int64_t replaced, const std::vector<uint8_t>& bytes, int64_t copies) {
    int64_t n = int64_t(bytes.size());
    int64_t total = n * copies;
    series_buffer* b = buffer(series);
    int64_t length = b->tail - b->head;
    int64_t new_length = length - replaced + total;
    if (new_length > b->data_end() - b->head) {
        int64_t capacity = b->size;
        int64_t size = new_length >= 2 * capacity ? new_length : std::min<int64_t>(2 * capacity, MAX_BYTES);
        b = memory::expand_series(b, std::max(size, new_length));
    }
    uint8_t* head = reinterpret_cast<uint8_t*>(b->head);
    std::memmove(head + position + total, head + position + replaced, size_t(length - position - replaced));
    if (n > 0) {
        std::memcpy(head + position, bytes.data(), size_t(n));
        if (copies > 1) memory::replicate_pattern(b->head + position, n, copies);
    }
    b->tail = b->head + new_length;
}

// The UTF-8 of a text value from its index.
void append_text_utf8(const cell* text, std::vector<uint8_t>& out) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(text);
    int64_t length = -1;
    const char* utf8 = unicode::string_to_utf8(held, &length);
    out.insert(out.end(), reinterpret_cast<const uint8_t*>(utf8), reinterpret_cast<const uint8_t*>(utf8) + length);
}

// The image of one value that is not a block.
void append_image(const cell* value, bool any_type, std::vector<uint8_t>& out) {
    switch (value->type()) {
        case TYPE_CHAR: {
            uint8_t utf8[4];
            int n = unicode::encode_utf8_char(value->w2, utf8);
            out.insert(out.end(), utf8, utf8 + n);
            return;
        }
        case TYPE_INTEGER: {
            int32_t v = static_cast<int32_t>(value->w2);
            if (v < -128 || v > 255) invalid_arg(value);
            out.push_back(static_cast<uint8_t>(v));
            return;
        }
        case TYPE_BINARY: {
            const uint8_t* head = head_of(value);
            out.insert(out.end(), head + clamped(value), head + length_of(value));
            return;
        }
        case TYPE_TUPLE: {
            uint8_t bytes[tuple::MAX_LENGTH];
            tuple::read_bytes(value, bytes);
            out.insert(out.end(), bytes, bytes + tuple::length_of(value));
            return;
        }
        default: break;
    }
    if (string::is_any_string(value->type())) return append_text_utf8(value, out);
    if (!any_type) bad_to_arg(value);
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    cell* formed = string::make_empty(stack::push_slot(), DEFAULT_CAPACITY);
    actions::dispatch_form(held, formed, nullptr, 0);
    append_text_utf8(formed, out);
}

}  // namespace

// --- Byte-series operations ---------------------------------------------------------------------

int64_t get_length(const cell* binary) { return length_of(binary) - clamped(binary); }

std::vector<uint8_t> rest_bytes(const cell* binary) {
    const uint8_t* head = head_of(binary);
    return std::vector<uint8_t>(head + clamped(binary), head + length_of(binary));
}

cell* make_at(cell* destination, int64_t capacity) {
    cell::init_unset(destination);
    if (capacity > MAX_BYTES) no_memory();
    node_ref node = memory::alloc_series(capacity < 1 ? DEFAULT_CAPACITY : capacity, 1, 0);
    destination->w1 = 0;
    destination->w2 = node;
    destination->w3 = 0;
    destination->header = TYPE_BINARY;
    return destination;
}

cell* load(const uint8_t* bytes, int64_t count) {
    cell* made = make_at(stack::push_slot(), count);
    if (count > 0) std::memcpy(buffer(made)->head, bytes, size_t(count));
    buffer(made)->tail = buffer(made)->head + std::max<int64_t>(count, 0);
    return made;
}

void append_bytes(cell* binary, const uint8_t* bytes, int64_t count) {
    if (count < 1) return;
    std::vector<uint8_t> copy(bytes, bytes + count);
    int64_t length = length_of(binary);
    checked_total(count, 1, length);
    splice(binary, length, 0, copy, 1);
}

int compare_bytes(const cell* left, const cell* right, int op, bool match) {
    if (!right->is(TYPE_BINARY) && !string::is_any_string(right->type())) return -2;
    bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    if (right->is(TYPE_BINARY) && left->w2 == right->w2 && clamped(left) == clamped(right)) {
        if (op == 9 || equality) return 0;
    }
    if (op == 9) return -1;
    // Text is compared by its UTF-8, made before any buffer address is taken.
    std::vector<uint8_t> text;
    if (!right->is(TYPE_BINARY)) append_text_utf8(right, text);
    const uint8_t* a = head_of(left) + clamped(left);
    size_t a_size = size_t(get_length(left));
    const uint8_t* b = right->is(TYPE_BINARY) ? head_of(right) + clamped(right) : text.data();
    size_t b_size = right->is(TYPE_BINARY) ? size_t(get_length(right)) : text.size();
    size_t count;
    if (!match) {
        if (a_size != b_size && equality) return 1;
        if (a_size == 0 && b_size == 0) return 0;
        count = std::min(a_size, b_size);
    } else {
        if (b_size == 0) return (op == 0 || op == 2 || op == 12) ? 0 : 1;
        // A left value shorter than the prefix does not match.
        if (a_size < b_size) return -1;
        count = b_size;
    }
    if (count > 0) {
        int order = std::memcmp(a, b, count);
        if (order != 0) return order < 0 ? -1 : 1;
    }
    if (match) return 0;
    return a_size < b_size ? -1 : a_size > b_size ? 1 : 0;
}

std::vector<uint8_t> value_bytes(const cell* value, int64_t part, bool only, bool any_type) {
    std::vector<uint8_t> out;
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    if (!is_block_source(held->type())) {
        append_image(held, any_type, out);
        if (part > 0 && int64_t(out.size()) > part) out.resize(size_t(part));
        return out;
    }
    // The blocks being walked, outermost first, each held in a stack slot with a slot for
    // its current element above it; a nested block is walked where it stands, so a block
    // that holds itself (on the walk's path) would never end and is refused.
    struct level {
        cell* block;
        cell* element;
        int64_t at;
        int64_t end;
    };
    std::vector<level> path;
    auto enter = [&](cell* block, int64_t limit) {
        for (const level& l : path) {
            if (l.block->w2 == block->w2) raise::throw_error(err::internal_no_cycle);
        }
        int64_t start = series::clamped_index(block);
        int64_t end = series::total_length(block);
        if (limit > 0) end = std::min(end, start + limit);
        path.push_back({block, stack::push_slot(), start, end});
    };
    // With only, part counts bytes over all elements; without, it counts the outer elements.
    int64_t budget = only && part > 0 ? part : -1;
    enter(held, only ? -1 : part);
    while (!path.empty() && budget != 0) {
        level& top = path.back();
        if (top.at >= std::min(top.end, series::total_length(top.block))) {
            path.pop_back();
            stack::drop_slots(path.empty() ? 1 : 2);
            continue;
        }
        *top.element = memory::buffer_of(top.block->w2)->head_cell()[top.at++];
        if (is_block_source(top.element->type())) {
            cell* nested = stack::push_copy(top.element);
            enter(nested, -1);
            continue;
        }
        size_t before = out.size();
        append_image(top.element, any_type, out);
        if (budget > 0) {
            int64_t got = std::min<int64_t>(int64_t(out.size() - before), budget);
            out.resize(before + size_t(got));
            budget -= got;
        }
    }
    return out;
}

// --- to --------------------------------------------------------------------------------------------

namespace {

// The issue's name read as base-16 digits.
cell* issue_to_binary(const cell* issue) {
    cell* held = stack::push_copy(issue);
    cell* name = stack::push_slot();
    node_ref form = symbol::ensure_string_form(static_cast<int32_t>(held->w2));
    *name = cell{TYPE_STRING, 0, form, 0};
    series_buffer* b = buffer(name);
    // The decoder allocates nothing collected: the name stays where it is.
    decoded bytes = decode_base16(b->head, b->length(), b->unit());
    if (!bytes) raise::throw_error(err::script_invalid_data, held);
    return load(bytes->data(), int64_t(bytes->size()));
}

cell* from_bytes(const std::vector<uint8_t>& bytes) { return load(bytes.data(), int64_t(bytes.size())); }

}  // namespace

cell* to(cell* /*value*/, cell* spec, type_id /*type*/) {
    std::vector<uint8_t> bytes;
    switch (spec->type()) {
        case TYPE_INTEGER: {
            uint32_t v = spec->w2;
            bytes = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
            return from_bytes(bytes);
        }
        case TYPE_FLOAT: case TYPE_PERCENT: {
            uint64_t bits = std::bit_cast<uint64_t>(float_::get(spec));
            for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(uint8_t(bits >> shift));
            return from_bytes(bytes);
        }
        case TYPE_CHAR: case TYPE_TUPLE:
            append_image(spec, false, bytes);
            return from_bytes(bytes);
        case TYPE_ISSUE: return issue_to_binary(spec);
        case TYPE_VECTOR: return from_bytes(vector::rest_bytes(spec));
        case TYPE_BITSET: {
            // All the bytes of the set; the complement flag is not carried.
            series_buffer* b = buffer(spec);
            bytes.assign(reinterpret_cast<const uint8_t*>(b->head), reinterpret_cast<const uint8_t*>(b->tail));
            return from_bytes(bytes);
        }
        case TYPE_BINARY: {
            cell* held = stack::push_copy(spec);
            return series::copy(held, stack::push_slot(), nullptr, false, nullptr);
        }
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
            cell* held = stack::push_copy(spec);
            cell* made = make_at(stack::push_slot(), DEFAULT_CAPACITY);
            append(made, held, -1, false, 1, true);
            return made;
        }
        default:
            if (string::is_any_string(spec->type())) {
                append_text_utf8(spec, bytes);
                return from_bytes(bytes);
            }
            bad_to_arg(spec);
    }
}

// --- form and mold ------------------------------------------------------------------------------------

namespace {

int serialize(cell* value, cell* output, bool only, bool flat, cell* part, int budget, int indent) {
    std::string text;
    bool limited = part != nullptr;
    if (!only) {
        text += "#{";
        budget -= 2;
    }
    int64_t start = clamped(value);
    int64_t count = length_of(value) - start;
    bool wrapped = count >= BYTES_PER_LINE - 1 && !flat;
    std::string line_break = "\n" + std::string(size_t(4 * std::max(indent + 1, 0)), ' ');
    if (wrapped) text += line_break;
    text.reserve(text.size() + size_t(count) * 2 + size_t(count / BYTES_PER_LINE + 1) * line_break.size() + 8);
    const uint8_t* bytes = head_of(value) + start;
    bool cut = false;
    for (int64_t i = 0; i < count; ++i) {
        text += HEX_DIGITS[bytes[i] >> 4];
        text += HEX_DIGITS[bytes[i] & 0xF];
        if ((i + 1) % BYTES_PER_LINE == 0 && !flat) text += line_break;
        budget -= 2;
        if (limited && budget < 1) {
            cut = true;
            break;
        }
    }
    if (!cut) {
        if (wrapped && count % BYTES_PER_LINE != 0) {
            text += '\n';
            text.append(size_t(4 * std::max(indent, 0)), ' ');
        }
        if (!only) text += "}";
    }
    // Appending allocates: the bytes were read into the text before.
    string::append_bytes(output, text.data(), int64_t(text.size()));
    return budget;
}

}  // namespace

int form(cell* value, cell* output, cell* part, int budget) {
    return serialize(value, output, false, false, part, budget, 0);
}

int mold(cell* value, cell* output, bool only, bool /*all*/, bool flat, cell* part, int budget, int indent) {
    return serialize(value, output, only, flat, part, budget, indent);
}

// --- compare, complement and the bitwise actions ------------------------------------------------------

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_BINARY)) return -2;
    return compare_bytes(value, other, op, false);
}

cell* complement(cell* value) {
    uint8_t* head = head_of(value);
    for (int64_t i = clamped(value), n = length_of(value); i < n; ++i) head[i] = uint8_t(~head[i]);
    return value;
}

namespace {

enum bitwise_op { BITWISE_AND, BITWISE_OR, BITWISE_XOR };

// The result, as long as the longer operand's rest, replaces the first argument: a new
// series at index 0. The bytes past the shorter operand come from the longer one for or~
// and xor~, and are zero for and~.
cell* bitwise(bitwise_op op) {
    cell* first = stack::argument(0);
    cell* second = stack::argument(1);
    if (!second->is(TYPE_BINARY)) invalid_arg(second);
    std::vector<uint8_t> a = rest_bytes(first);
    std::vector<uint8_t> b = rest_bytes(second);
    if (a.size() < b.size()) std::swap(a, b);
    for (size_t i = 0; i < a.size(); ++i) {
        bool common = i < b.size();
        switch (op) {
            case BITWISE_AND: a[i] = common ? uint8_t(a[i] & b[i]) : 0; break;
            case BITWISE_OR: if (common) a[i] |= b[i]; break;
            case BITWISE_XOR: if (common) a[i] ^= b[i]; break;
        }
    }
    cell made = *from_bytes(a);
    *first = made;
    return first;
}

cell* and_t() { return bitwise(BITWISE_AND); }
cell* or_t() { return bitwise(BITWISE_OR); }
cell* xor_t() { return bitwise(BITWISE_XOR); }

}  // namespace

// --- The writers -----------------------------------------------------------------------------------------

cell* append(cell* series, cell* value, int part, bool only, int dup, bool append_flag) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    int64_t copies = dup < 0 ? 1 : dup;
    series->w1 = static_cast<uint32_t>(clamped(series));
    std::vector<uint8_t> bytes = value_bytes(held, part, only, false);
    if (bytes.empty() || copies == 0) return series;
    int64_t length = length_of(series);
    checked_total(int64_t(bytes.size()), copies, length);
    int64_t position = append_flag ? length : clamped(series);
    // Ownership reports name append for insert too: one routine serves both.
    bool owned = series::notify(series, series::APPEND, held, position, part < 0 ? 1 : part);
    // The report may have run user code: take the series as it is now.
    length = length_of(series);
    position = append_flag ? length : std::min(position, length);
    int64_t total = checked_total(int64_t(bytes.size()), copies, length);
    splice(series, position, 0, bytes, copies);
    if (owned) series::notify(series, series::APPENDED, held, position, part < 0 ? 1 : part);
    if (!append_flag) series->w1 = static_cast<uint32_t>(position + total);
    return series;
}

cell* change(cell* series, cell* value, int part, bool only, int dup) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    int64_t copies = dup < 0 ? 1 : dup;
    int64_t index = clamped(series);
    series->w1 = static_cast<uint32_t>(index);
    // The image is taken before anything changes, so a series changed with itself is
    // read as it was.
    std::vector<uint8_t> bytes = value_bytes(held, 0, only, true);
    int64_t length = length_of(series);
    int64_t total = checked_total(int64_t(bytes.size()), copies, length);
    int64_t replaced = std::min<int64_t>(part >= 0 ? part : total, length - index);
    bool owned = series::notify(series, series::CHANGE, nullptr, index, replaced);
    length = length_of(series);
    index = std::min(index, length);
    replaced = std::min(replaced, length - index);
    checked_total(int64_t(bytes.size()), copies, length - replaced);
    splice(series, index, replaced, bytes, copies);
    if (owned) series::notify(series, series::CHANGED, nullptr, index, total);
    series->w1 = static_cast<uint32_t>(std::min(index + total, length_of(series)));
    return series;
}

cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with) {
    if (automatic || lines) raise::throw_error(err::internal_not_done);
    stack::slot_mark mark;
    // The bytes to remove everywhere: those listed by /with, or with /all the zero byte.
    bool removing = all || with;
    bool listed[256] = {};
    if (with) {
        if (with->is(TYPE_CHAR) || with->is(TYPE_INTEGER)) {
            if (with->w2 <= 0xFF) listed[with->w2] = true;
        } else if (with->is(TYPE_BINARY)) {
            for (uint8_t byte : rest_bytes(with)) listed[byte] = true;
        } else if (string::is_any_string(with->type())) {
            series_buffer* b = buffer(with);
            uint32_t unit = b->unit();
            int64_t start = std::clamp<int64_t>(static_cast<int32_t>(with->w1), 0, b->length());
            for (const std::byte* p = b->head + start * unit; p < b->tail; p += unit) {
                uint32_t c = unicode::read_unit(p, unit);
                if (c <= 0xFF) listed[c] = true;
            }
        } else {
            invalid_arg(with);
        }
    } else {
        listed[0] = true;
    }
    int64_t index = clamped(series);
    series->w1 = static_cast<uint32_t>(index);
    std::vector<uint8_t> rest = rest_bytes(series);
    std::vector<uint8_t> kept;
    if (removing) {
        for (uint8_t byte : rest) {
            if (!listed[byte]) kept.push_back(byte);
        }
    } else {
        size_t first = 0, last = rest.size();
        if (head || !tail) {
            while (first < last && rest[first] == 0) ++first;
        }
        if (tail || !head) {
            while (last > first && rest[last - 1] == 0) --last;
        }
        kept.assign(rest.begin() + int64_t(first), rest.begin() + int64_t(last));
    }
    // Trimming only shortens: the kept bytes move to the index, the tail follows them.
    series_buffer* b = buffer(series);
    if (!kept.empty()) std::memcpy(b->head + index, kept.data(), kept.size());
    b->tail = b->head + index + int64_t(kept.size());
    series::notify(series, series::TRIM, nullptr, index, 0);
    return series;
}

// --- Registration ----------------------------------------------------------------------------------------

void init_type() {
    type_registry::action_list list(TYPE_STRING);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_COMPLEMENT>(&complement);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    list.set<ACTION_APPEND>(&append);
    list.set<ACTION_CHANGE>(&change);
    list.set<ACTION_INSERT>(&append);
    list.set<ACTION_TRIM>(&trim);
    type_registry::register_type(TYPE_BINARY, TYPE_STRING, "binary!", list);
}

}  // namespace zor::binary
