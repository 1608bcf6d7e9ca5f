// vector!: making, the element codecs, element arithmetic, comparison, form and mold,
// the writers (append, insert, change) and vector!'s registration (see vector.h).
//
// The writers and make encode every value into a plain C++ byte image first, checking
// its type and every size in 64 bits; only then is the series reported to ownership
// tracking and changed, so a failing value leaves the vector as it was. Form and mold
// read each element through the node again after every append to the output, which may
// move the vector's buffer.
#include "runtime/datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"

namespace zor::vector {

double read_float(const std::byte* at, uint32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, at, 4);
        return double(f);
    }
    double d;
    std::memcpy(&d, at, 8);
    return d;
}

namespace {

using memory::series_buffer;

// The largest byte count a buffer may hold: its size word is 32-bit, with the overhead.
constexpr int64_t MAX_BYTES = INT32_MAX - 64;

series_buffer* buffer(const cell* v) { return memory::buffer_of(v->w2); }
uint32_t width_of(const cell* v) { return buffer(v)->unit(); }
type_id element_type_of(const cell* v) { return static_cast<type_id>(v->w3); }
int64_t length_of(const cell* v) { return buffer(v)->length(); }
int64_t clamped(const cell* v) { return std::clamp<int64_t>(static_cast<int32_t>(v->w1), 0, length_of(v)); }
int64_t rest_of(const cell* v) { return length_of(v) - clamped(v); }

bool is_float_type(type_id t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }
bool is_block_source(type_id t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

[[noreturn]] void no_memory() { raise::throw_error(err::internal_no_memory); }
[[noreturn]] void invalid_arg(const cell* value) { raise::throw_error(err::script_invalid_arg, stack::push_copy(value)); }
[[noreturn]] void not_same_type() { raise::throw_error(err::script_not_same_type); }
[[noreturn]] void bad_make_arg(const cell* spec) {
    cell* held = stack::push_copy(spec);
    raise::bad_make_arg(datatype::make_in(stack::push_slot(), TYPE_VECTOR), held);
}
[[noreturn]] void invalid_spec_field(const cell* spec) {
    raise::throw_error(err::script_invalid_spec_field, stack::push_copy(spec));
}

// n bytes repeated copies times, checked to fit beside the bytes already there.
int64_t checked_total(int64_t n, int64_t copies, int64_t length_bytes) {
    int64_t total = 0;
    if (__builtin_mul_overflow(n, copies, &total) || total > MAX_BYTES || length_bytes + total > MAX_BYTES) {
        no_memory();
    }
    return total;
}

// --- Element codecs -------------------------------------------------------------------------------

// An integer or char element; chars are code points, so they are read without sign.
int32_t read_int(const std::byte* at, uint32_t width, type_id type) {
    switch (width) {
        case 1: return type == TYPE_CHAR ? int32_t(uint8_t(*at)) : int32_t(int8_t(*at));
        case 2: {
            uint16_t u;
            std::memcpy(&u, at, 2);
            return type == TYPE_CHAR ? int32_t(u) : int32_t(int16_t(u));
        }
        default: {
            int32_t v;
            std::memcpy(&v, at, 4);
            return v;
        }
    }
}


// The low bytes of the number (little-endian).
void write_int(std::byte* at, uint32_t width, int32_t value) {
    uint32_t u = static_cast<uint32_t>(value);
    std::memcpy(at, &u, width);
}

void write_float(std::byte* at, uint32_t width, double value) {
    if (width == 8) {
        std::memcpy(at, &value, 8);
    } else {
        float f = float_::to_single(value);
        std::memcpy(at, &f, 4);
    }
}

// Whether a value can be an element: of the element type, or a float! in a percent!
// vector and a percent! in a float! vector (both are the same double).
bool fits_element(type_id value_type, type_id element_type) {
    return value_type == element_type || (is_float_type(value_type) && is_float_type(element_type));
}

// Appends the element image of a value of the element type; another type raises
// script/invalid-arg with the value.
void encode_value(std::vector<std::byte>& out, const cell* value, type_id type, uint32_t width) {
    if (!fits_element(value->type(), type)) invalid_arg(value);
    size_t at = out.size();
    out.resize(at + width);
    if (is_float_type(type)) {
        write_float(out.data() + at, width, float_::get(value));
    } else {
        write_int(out.data() + at, width, static_cast<int32_t>(value->w2));
    }
}

// The images of a block's values from its index (at most limit of them, when limit >= 0).
void encode_block(std::vector<std::byte>& out, const cell* block, int64_t limit, type_id type, uint32_t width) {
    int64_t start = series::clamped_index(block);
    int64_t end = series::total_length(block);
    if (limit >= 0) end = std::min(end, start + limit);
    for (int64_t i = start; i < end; ++i) encode_value(out, block::get_cell(block, i), type, width);
}

// The elements of another vector of the same element type, in this vector's width.
void encode_vector(std::vector<std::byte>& out, const cell* source, type_id type, uint32_t width) {
    if (element_type_of(source) != type) invalid_arg(source);
    uint32_t source_width = width_of(source);
    const std::byte* p = buffer(source)->head + clamped(source) * source_width;
    int64_t n = rest_of(source);
    for (int64_t i = 0; i < n; ++i, p += source_width) {
        size_t at = out.size();
        out.resize(at + width);
        if (is_float_type(type)) {
            write_float(out.data() + at, width, read_float(p, source_width));
        } else {
            write_int(out.data() + at, width, read_int(p, source_width, type));
        }
    }
}

// Replaces `replaced` elements at position by the image repeated copies times (sizes
// already checked), growing the buffer to at least double its size when it is short.
void splice(cell* v, int64_t position, int64_t replaced, const std::vector<std::byte>& image, int64_t copies) {
    series_buffer* b = buffer(v);
    const int64_t unit = b->unit();
    const int64_t n = int64_t(image.size());
    const int64_t total = n * copies;
    const int64_t length = b->tail - b->head;
    const int64_t at = position * unit;
    const int64_t removed = replaced * unit;
    const int64_t new_length = length - removed + total;
    if (new_length > b->data_end() - b->head) {
        int64_t doubled = std::min<int64_t>(2 * int64_t(b->size), MAX_BYTES);
        b = memory::expand_series(b, std::max(doubled, new_length));
    }
    std::byte* head = b->head;
    std::memmove(head + at + total, head + at + removed, size_t(length - at - removed));
    if (n > 0) {
        std::memcpy(head + at, image.data(), size_t(n));
        if (copies > 1) memory::replicate_pattern(head + at, n, copies);
    }
    b->tail = b->head + new_length;
}

// --- Arithmetic -------------------------------------------------------------------------------------

// `integer/arithmetic` with 32-bit wrap-around where it would overflow into a float!.
// Divide passes no result cell, so it truncates; zero divisors raise math/zero-divide.
int32_t integer_step(int32_t e, int32_t n, int op) {
    if (op == integer::OP_DIVIDE) return integer::arithmetic(e, n, op, nullptr);
    cell scratch{TYPE_INTEGER, 0, 0, 0};
    int32_t r = integer::arithmetic(e, n, op, &scratch);
    if (!scratch.is(TYPE_FLOAT)) return r;
    uint32_t a = static_cast<uint32_t>(e);
    uint32_t b = static_cast<uint32_t>(n);
    switch (op) {
        case integer::OP_ADD: return static_cast<int32_t>(a + b);
        case integer::OP_SUBTRACT: return static_cast<int32_t>(a - b);
        case integer::OP_MULTIPLY: return static_cast<int32_t>(a * b);
        default: return r;
    }
}

// The two vectors' elements combined into a new vector of the larger width and the
// shorter length.
cell* vector_math(cell* left, cell* right, int op) {
    type_id type = element_type_of(left);
    if (element_type_of(right) != type) not_same_type();
    uint32_t width = std::max(width_of(left), width_of(right));
    int64_t count = std::min(rest_of(left), rest_of(right));
    cell* made = make_at(stack::push_slot(), count, type, width);
    // Nothing below allocates: the buffers stay where they are.
    uint32_t lw = width_of(left);
    uint32_t rw = width_of(right);
    const std::byte* a = buffer(left)->head + clamped(left) * lw;
    const std::byte* b = buffer(right)->head + clamped(right) * rw;
    std::byte* out = buffer(made)->head;
    for (int64_t i = 0; i < count; ++i, a += lw, b += rw, out += width) {
        if (is_float_type(type)) {
            write_float(out, width, float_::do_math(read_float(a, lw), read_float(b, rw), op));
        } else {
            write_int(out, width, integer_step(read_int(a, lw, type), read_int(b, rw, type), op));
        }
    }
    *left = *made;
    return left;
}

// --- Making -------------------------------------------------------------------------------------

// Which element type a type word names, or 0.
type_id element_type_of_word(const cell* word) {
    int32_t id = symbol::canonical_id(static_cast<int32_t>(word->w2));
    if (id == symbol::canonical_id(symbols::char_)) return TYPE_CHAR;
    if (id == symbol::canonical_id(symbols::integer)) return TYPE_INTEGER;
    if (id == symbol::canonical_id(symbols::float_)) return TYPE_FLOAT;
    if (id == symbol::canonical_id(symbols::percent)) return TYPE_PERCENT;
    return TYPE_NONE_ID;
}

// The vector of count elements (zero past the image) holding the image at its start.
cell* make_from_image(const std::vector<std::byte>& image, int64_t count, type_id type, uint32_t width) {
    count = std::max<int64_t>(count, int64_t(image.size() / width));
    cell* made = make_at(stack::push_slot(), count, type, width);
    if (!image.empty()) std::memcpy(buffer(made)->head, image.data(), image.size());
    return made;
}

// [type-word bits count-or-values ...]
cell* make_typed(const cell* spec) {
    const int64_t start = series::clamped_index(spec);
    const int64_t end = series::total_length(spec);
    if (end - start < 2) bad_make_arg(spec);
    type_id type = element_type_of_word(block::get_cell(spec, start));
    if (type == TYPE_NONE_ID) bad_make_arg(spec);
    int64_t at = start + 1;
    uint32_t width = 8;
    const cell* size = block::get_cell(spec, at);
    if (type == TYPE_PERCENT) {
        // The size of percent! elements is always 64 bits: a size written before the
        // count or the values is passed over.
        if (size->is(TYPE_INTEGER) && at + 1 < end) ++at;
    } else {
        if (!size->is(TYPE_INTEGER)) invalid_spec_field(spec);
        int32_t bits = static_cast<int32_t>(size->w2);
        bool fits = type == TYPE_FLOAT ? (bits == 32 || bits == 64) : (bits == 8 || bits == 16 || bits == 32);
        if (!fits) bad_make_arg(spec);
        width = static_cast<uint32_t>(bits / 8);
        ++at;
    }
    if (at >= end) invalid_spec_field(spec);
    int64_t count = 0;
    const cell* next = block::get_cell(spec, at);
    if (next->is(TYPE_INTEGER)) {
        count = std::max<int32_t>(0, static_cast<int32_t>(next->w2));
        next = ++at < end ? block::get_cell(spec, at) : nullptr;
        if (next && !next->is(TYPE_BLOCK) && !next->is(TYPE_BINARY)) invalid_spec_field(spec);
    } else if (!next->is(TYPE_BLOCK) && !next->is(TYPE_BINARY)) {
        invalid_spec_field(spec);
    }
    std::vector<std::byte> image;
    if (next && next->is(TYPE_BLOCK)) {
        encode_block(image, next, -1, type, width);
    } else if (next) {
        // A binary! is the elements' own little-endian image: whole elements only.
        int64_t index = series::clamped_index(next);
        const series_buffer* bytes = buffer(next);
        int64_t n = (bytes->tail - bytes->head) - index;
        if (n % width != 0) invalid_spec_field(spec);
        image.assign(bytes->head + index, bytes->tail);
    }
    int64_t bytes_needed = 0;
    if (__builtin_mul_overflow(count, int64_t(width), &bytes_needed) || bytes_needed > MAX_BYTES) no_memory();
    return make_from_image(image, count, type, width);
}

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    switch (spec->type()) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            int64_t count = spec->is(TYPE_INTEGER) ? int64_t(static_cast<int32_t>(spec->w2))
                                                   : float_::truncate_checked(float_::get(spec));
            if (count < 0) bad_make_arg(spec);
            return make_at(stack::push_slot(), count, TYPE_INTEGER, 4);
        }
        case TYPE_BLOCK: {
            if (series::get_length(spec, false) == 0) return make_at(stack::push_slot(), 0, TYPE_INTEGER, 4);
            const cell* first = block::get_cell(spec, series::clamped_index(spec));
            if (first->is(TYPE_WORD)) return make_typed(spec);
            type_id type = first->type();
            uint32_t width;
            switch (type) {
                case TYPE_INTEGER: case TYPE_CHAR: width = 4; break;
                case TYPE_FLOAT: case TYPE_PERCENT: width = 8; break;
                default: raise::invalid_type(type);
            }
            std::vector<std::byte> image;
            encode_block(image, spec, -1, type, width);
            return make_from_image(image, 0, type, width);
        }
        default:
            raise::throw_error(err::internal_not_done);
    }
}

// --- Text --------------------------------------------------------------------------------------------

const char* type_name(type_id type) {
    switch (type) {
        case TYPE_CHAR: return "char!";
        case TYPE_INTEGER: return "integer!";
        case TYPE_FLOAT: return "float!";
        default: return "percent!";
    }
}

int64_t output_length(const cell* output) { return string::length_from_head(output); }

// Writes the elements from the index, separated by single spaces; chars molded or formed.
// Answers the remaining budget; with a part limit, stops once the budget is used up.
int write_elements(cell* v, cell* output, bool mold_chars, bool limited, int budget) {
    const type_id type = element_type_of(v);
    const int64_t start = clamped(v);
    for (int64_t i = start; i < length_of(v); ++i) {
        if (limited && budget < 1) break;
        int64_t before = output_length(output);
        if (i > start) string::append_c_string(output, " ");
        // The element is read again for each append: the output may share nothing with
        // the vector, but an append can collect and move the vector's buffer.
        const uint32_t width = width_of(v);
        const std::byte* at = buffer(v)->head + i * width;
        switch (type) {
            case TYPE_CHAR: {
                uint32_t code = static_cast<uint32_t>(read_int(at, width, type));
                if (mold_chars) {
                    string::append_c_string(output, "#\"");
                    string::append_escaped_char(output, code, false);
                    string::append_c_string(output, "\"");
                } else {
                    string::append_codepoint(output, code);
                }
                break;
            }
            case TYPE_INTEGER:
                string::append_c_string(output, integer::to_decimal_text(read_int(at, width, type)));
                break;
            case TYPE_FLOAT:
                string::append_c_string(output, float_::to_text(read_float(at, width),
                                                                width == 8 ? float_::TEXT_FLOAT : float_::TEXT_SINGLE));
                break;
            default:
                string::append_c_string(output,
                                        float_::to_text(read_float(at, width) * 100.0,
                                                        width == 8 ? float_::TEXT_PERCENT : float_::TEXT_SINGLE_PERCENT));
                break;
        }
        budget -= static_cast<int>(output_length(output) - before);
    }
    return budget;
}

int form(cell* value, cell* output, cell* part, int budget) {
    return write_elements(value, output, false, part != nullptr, budget);
}

int mold(cell* value, cell* output, bool only, bool /*all*/, bool /*flat*/, cell* part, int budget, int /*indent*/) {
    const bool limited = part != nullptr;
    auto write = [&](const char* text) {
        string::append_c_string(output, text);
        budget -= static_cast<int>(std::strlen(text));
    };
    if (!only) write("make vector! [");
    const type_id type = element_type_of(value);
    const uint32_t width = width_of(value);
    const uint32_t default_width = is_float_type(type) ? 8 : 4;
    if (rest_of(value) > 0 && width == default_width) {
        budget = write_elements(value, output, true, limited, budget);
        if (!only) write("]");
        return budget;
    }
    std::string head = std::string(type_name(type)) + " " + std::to_string(width * 8) + " [";
    write(head.c_str());
    budget = write_elements(value, output, true, limited, budget);
    write("]");
    if (!only) write("]");
    return budget;
}

// --- Comparison -------------------------------------------------------------------------------------

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_VECTOR)) return -2;
    const type_id type = element_type_of(value);
    if (element_type_of(other) != type) not_same_type();
    const bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    const bool same = value->w2 == other->w2 && clamped(value) == clamped(other);
    if (op == 9) return same ? 0 : -1;
    if (same && equality) return 0;
    const int64_t la = rest_of(value);
    const int64_t lb = rest_of(other);
    if (la != lb && equality) return 1;
    const uint32_t wa = width_of(value);
    const uint32_t wb = width_of(other);
    const std::byte* a = buffer(value)->head + clamped(value) * wa;
    const std::byte* b = buffer(other)->head + clamped(other) * wb;
    for (int64_t i = 0, n = std::min(la, lb); i < n; ++i, a += wa, b += wb) {
        if (is_float_type(type)) {
            double x = read_float(a, wa);
            double y = read_float(b, wb);
            if (x < y) return -1;
            if (x > y) return 1;
        } else {
            int64_t x = read_int(a, wa, type);
            int64_t y = read_int(b, wb, type);
            if (type == TYPE_CHAR) {
                x = static_cast<uint32_t>(x);
                y = static_cast<uint32_t>(y);
            }
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// --- The writers -------------------------------------------------------------------------------------

cell* insert(cell* series, cell* value, int part, bool /*only*/, int dup, bool append_flag) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    const int64_t copies = dup < 0 ? 1 : dup;
    const type_id type = element_type_of(series);
    const uint32_t width = width_of(series);
    series->w1 = static_cast<uint32_t>(clamped(series));
    std::vector<std::byte> image;
    if (is_block_source(held->type())) {
        encode_block(image, held, part, type, width);
    } else {
        encode_value(image, held, type, width);
    }
    if (image.empty() || copies == 0) return series;
    const int64_t elements = int64_t(image.size() / width) * copies;
    checked_total(int64_t(image.size()), copies, length_of(series) * width);
    int64_t position = append_flag ? length_of(series) : clamped(series);
    bool owned = series::notify(series, append_flag ? series::APPEND : series::INSERT, held, position, elements);
    // The report may have run user code: take the series as it is now.
    position = append_flag ? length_of(series) : std::min(position, length_of(series));
    checked_total(int64_t(image.size()), copies, length_of(series) * width);
    splice(series, position, 0, image, copies);
    if (owned) series::notify(series, append_flag ? series::APPENDED : series::INSERTED, held, position, elements);
    if (!append_flag) series->w1 = static_cast<uint32_t>(position + elements);
    return series;
}

cell* append(cell* series, cell* value, int part, bool only, int dup, bool append_flag) {
    return insert(series, value, part, only, dup, append_flag);
}

cell* change(cell* series, cell* value, int part, bool /*only*/, int dup) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    const int64_t copies = dup < 0 ? 1 : dup;
    const type_id type = element_type_of(series);
    const uint32_t width = width_of(series);
    int64_t index = clamped(series);
    series->w1 = static_cast<uint32_t>(index);
    // The image is taken before anything changes, so a vector changed with itself is read
    // as it was.
    std::vector<std::byte> image;
    if (is_block_source(held->type())) {
        encode_block(image, held, -1, type, width);
    } else if (held->is(TYPE_VECTOR)) {
        encode_vector(image, held, type, width);
    } else {
        encode_value(image, held, type, width);
    }
    const int64_t written = int64_t(image.size() / width) * copies;
    checked_total(int64_t(image.size()), copies, length_of(series) * width);
    int64_t replaced = std::min<int64_t>(part >= 0 ? part : written, length_of(series) - index);
    bool owned = series::notify(series, series::CHANGE, nullptr, index, replaced);
    index = std::min(index, length_of(series));
    replaced = std::min(replaced, length_of(series) - index);
    checked_total(int64_t(image.size()), copies, (length_of(series) - replaced) * width);
    splice(series, index, replaced, image, copies);
    if (owned) series::notify(series, series::CHANGED, nullptr, index, written);
    series->w1 = static_cast<uint32_t>(std::min(index + written, length_of(series)));
    return series;
}

cell* add() { return do_math(integer::OP_ADD); }
cell* subtract() { return do_math(integer::OP_SUBTRACT); }
cell* multiply() { return do_math(integer::OP_MULTIPLY); }
cell* divide() { return do_math(integer::OP_DIVIDE); }
cell* remainder() { return do_math(integer::OP_REMAINDER); }
cell* and_t() { return do_math(integer::OP_AND); }
cell* or_t() { return do_math(integer::OP_OR); }
cell* xor_t() { return do_math(integer::OP_XOR); }

}  // namespace

cell* make_at(cell* destination, int64_t count, type_id element_type, uint32_t width) {
    cell::init_unset(destination);
    int64_t bytes = 0;
    if (count < 0 || __builtin_mul_overflow(count, int64_t(width), &bytes) || bytes > MAX_BYTES) no_memory();
    node_ref node = memory::alloc_series(std::max<int64_t>(count, 1), width, 0);
    series_buffer* b = memory::buffer_of(node);
    if (bytes > 0) std::memset(b->head, 0, size_t(bytes));
    b->tail = b->head + bytes;
    destination->w1 = 0;
    destination->w2 = node;
    destination->w3 = element_type;
    destination->header = TYPE_VECTOR;
    return destination;
}

std::vector<uint8_t> rest_bytes(const cell* v) {
    const uint32_t width = width_of(v);
    const uint8_t* head = reinterpret_cast<const uint8_t*>(buffer(v)->head);
    return std::vector<uint8_t>(head + clamped(v) * width, head + length_of(v) * width);
}

cell* op_scalar(const cell* number, cell* v, int op) {
    const type_id type = element_type_of(v);
    const uint32_t width = width_of(v);
    std::byte* p = buffer(v)->head + clamped(v) * width;
    const int64_t n = rest_of(v);
    const bool additive = op == integer::OP_ADD || op == integer::OP_SUBTRACT;
    const bool multiplicative = op == integer::OP_MULTIPLY || op == integer::OP_DIVIDE;
    if (is_float_type(type)) {
        double f;
        if (number->is(TYPE_INTEGER)) {
            f = static_cast<int32_t>(number->w2);
        } else if (is_float_type(number->type())) {
            f = float_::get(number);
        } else {
            raise::throw_error(err::internal_not_done);
        }
        if ((f == 0.0 && additive) || (f == 1.0 && multiplicative)) return v;
        for (int64_t i = 0; i < n; ++i, p += width) write_float(p, width, float_::do_math(read_float(p, width), f, op));
        return v;
    }
    int32_t k;
    if (number->is(TYPE_INTEGER)) {
        k = static_cast<int32_t>(number->w2);
    } else if (is_float_type(number->type())) {
        k = float_::truncate_checked(float_::get(number));
    } else {
        raise::throw_error(err::internal_not_done);
    }
    if ((k == 0 && additive) || (k == 1 && multiplicative)) return v;
    for (int64_t i = 0; i < n; ++i, p += width) write_int(p, width, integer_step(read_int(p, width, type), k, op));
    return v;
}

cell* do_math(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    if (!left->is(TYPE_VECTOR)) {
        // number op vector, handed over by the number's core: element op number.
        op_scalar(left, right, op);
        *left = *right;
        return left;
    }
    if (right->is(TYPE_VECTOR)) return vector_math(left, right, op);
    return op_scalar(right, left, op);
}

void init_type() {
    // Every slot not set or listed as empty below takes string!'s routine.
    type_registry::action_list list(TYPE_STRING);
    for (action a : {ACTION_TO, ACTION_SET_PATH, ACTION_ABSOLUTE, ACTION_NEGATE, ACTION_POWER, ACTION_ROUND,
                     ACTION_EVEN_Q, ACTION_ODD_Q, ACTION_COMPLEMENT, ACTION_PUT, ACTION_SWAP, ACTION_TRIM,
                     ACTION_CREATE, ACTION_CLOSE, ACTION_DELETE, ACTION_OPEN, ACTION_OPEN_Q, ACTION_QUERY,
                     ACTION_READ, ACTION_RENAME, ACTION_UPDATE, ACTION_WRITE}) {
        list.unsupported(a);
    }
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_ADD>(&add);
    list.set<ACTION_DIVIDE>(&divide);
    list.set<ACTION_MULTIPLY>(&multiply);
    list.set<ACTION_REMAINDER>(&remainder);
    list.set<ACTION_SUBTRACT>(&subtract);
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    list.set<ACTION_APPEND>(&append);
    list.set<ACTION_CHANGE>(&change);
    list.set<ACTION_INSERT>(&insert);
    type_registry::register_type(TYPE_VECTOR, TYPE_STRING, "vector!", list);
    integer::register_math_core(TYPE_VECTOR, &do_math);
}

}  // namespace zor::vector
