// tuple!: builders, the byte-wise clamping arithmetic, conversions, text, comparison,
// the byte accessors and reverse.
#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::tuple {

namespace {

[[noreturn]] void raise_bad_to_arg(const cell* spec) {
    cell t = datatype::value_of(TYPE_TUPLE);
    raise::throw_error(err::script_bad_to_arg, &t, spec);
}

[[noreturn]] void raise_out_of_range(int64_t number) {
    cell n{TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(number)), 0};
    raise::throw_error(err::script_out_of_range, &n);
}

// script/invalid-refine-arg naming the refinement (none before the word table exists).
[[noreturn]] void raise_invalid_refine_arg(const predefined_cell& refinement, const cell* argument) {
    cell* name = refinement.root_index >= 0 ? stack::push_copy(refinement.get()) : nullptr;
    raise::throw_error(err::script_invalid_refine_arg, name, argument);
}

// The byte of an arithmetic result: already clamped to 0..255 in the domain it was
// computed in, so that no out-of-range value is ever converted.
uint8_t clamp_int(int64_t value) { return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255)); }
uint8_t clamp_double(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<uint8_t>(std::trunc(std::clamp(value, 0.0, 255.0)));
}

void write_bytes(cell* c, int length, const uint8_t bytes[MAX_LENGTH]) {
    uint8_t padded[MAX_LENGTH] = {};
    length = std::clamp(length, MIN_LENGTH, MAX_LENGTH);
    std::memcpy(padded, bytes, static_cast<size_t>(length));
    c->header = (c->header & ~(LENGTH_MASK | HEADER_TYPE_MASK)) | TYPE_TUPLE |
                (static_cast<uint32_t>(length) << LENGTH_SHIFT);
    std::memcpy(&c->w1, padded + 0, 4);
    std::memcpy(&c->w2, padded + 4, 4);
    std::memcpy(&c->w3, padded + 8, 4);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// --- Conversions -----------------------------------------------------------------------------

// One byte per value of a block: integer!, char! or float! (truncated), each 0..255.
cell* from_block(const cell* spec, cell* result) {
    int64_t count = block::rest_length(spec);
    if (count > MAX_LENGTH) raise_bad_to_arg(spec);
    int64_t index = static_cast<int32_t>(spec->w1);
    if (index < 0) index = 0;
    uint8_t bytes[MAX_LENGTH] = {};
    for (int64_t i = 0; i < count; ++i) {
        const cell element = *block::get_cell(spec, index + i);
        switch (element.type()) {
            case TYPE_INTEGER:
            case TYPE_CHAR: {
                int32_t v = static_cast<int32_t>(element.w2);
                if (v < 0 || v > 255) raise_bad_to_arg(spec);
                bytes[i] = static_cast<uint8_t>(v);
                break;
            }
            case TYPE_FLOAT: {
                // Checked before truncation: 255.9 truncates to 255, -0.5 to 0.
                double d = float_::get(&element);
                if (!(d > -1.0 && d < 256.0)) raise_bad_to_arg(spec);
                bytes[i] = static_cast<uint8_t>(std::trunc(d));
                break;
            }
            default:
                raise_bad_to_arg(spec);
        }
    }
    return make_at(result, static_cast<int>(count), bytes);
}

// Text is loaded as one value by the lexer; only a tuple! is accepted.
cell* from_text(const cell* spec, cell* result) {
    upcalls::installed(upcalls::scan_text);
    std::string text = string::to_utf8(spec);
    cell* loaded = stack::push_slot();
    cell::init_unset(loaded);
    bool made = upcalls::scan_text(text.data(), static_cast<int64_t>(text.size()), loaded);
    if (!made || !loaded->is(TYPE_TUPLE)) raise_bad_to_arg(spec);
    *result = *loaded;
    stack::drop_slots(1);
    return result;
}

cell* to(cell* /*value*/, cell* spec, type_id /*type*/) {
    cell* result = stack::result_slot();
    switch (spec->type()) {
        case TYPE_TUPLE: return spec;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: return from_block(spec, result);
        case TYPE_ISSUE: return from_issue(spec, result);
        case TYPE_BINARY: return from_binary(spec, result);
        default:
            if (!type_classes::is(spec->type(), type_classes::ANY_STRING)) raise_bad_to_arg(spec);
            return from_text(spec, result);
    }
}

// --- Actions ---------------------------------------------------------------------------------

cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w1 ^ value->w2 ^ value->w3);
        return &unset::value;
    }
    uint8_t bytes[MAX_LENGTH];
    read_bytes(value, bytes);
    int length = length_of(value);
    for (int i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(random::pick_int(bytes[i] + 1, secure) - 1);
    write_bytes(value, length, bytes);
    return value;
}

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    // The bytes are read first: appending may move the block that holds the value.
    uint8_t bytes[MAX_LENGTH];
    read_bytes(value, bytes);
    int length = length_of(value);
    char text[4 * MAX_LENGTH];
    int n = 0;
    for (int i = 0; i < length; ++i) {
        if (i > 0) text[n++] = '.';
        const char* digits = integer::to_decimal_text(bytes[i]);
        size_t size = std::strlen(digits);
        std::memcpy(text + n, digits, size);
        n += static_cast<int>(size);
    }
    string::append_bytes(output, text, n);
    return budget - n;
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return form(value, output, part, budget);
}

// Byte by byte up to the longer length, a missing byte counting as 0; the same answer for
// every comparison code, so 1.2.3 = 1.2.3.0.
int compare(cell* value, cell* other, int /*op*/) {
    if (!other->is(TYPE_TUPLE)) return -2;
    uint8_t a[MAX_LENGTH];
    uint8_t b[MAX_LENGTH];
    read_bytes(value, a);
    read_bytes(other, b);
    int length = std::max(length_of(value), length_of(other));
    for (int i = 0; i < length; ++i) {
        int x = i < length_of(value) ? a[i] : 0;
        int y = i < length_of(other) ? b[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

cell* complement(cell* value) {
    uint8_t bytes[MAX_LENGTH];
    read_bytes(value, bytes);
    int length = length_of(value);
    for (int i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
    write_bytes(value, length, bytes);
    return value;
}

int length_q(cell* value) { return length_of(value); }

cell* push_byte(const cell* tuple, int64_t index, const cell* index_cell) {
    if (index < 1 || index > length_of(tuple)) {
        if (index_cell) raise::throw_error(err::script_out_of_range, index_cell);
        raise_out_of_range(index);
    }
    uint8_t bytes[MAX_LENGTH];
    read_bytes(tuple, bytes);
    return integer::push(bytes[index - 1]);
}

cell* pick(cell* value, int index, cell* index_cell) { return push_byte(value, index, index_cell); }

cell* eval_path(cell* parent, cell* element, cell* value, cell* /*path*/, cell* /*grandparent*/,
                cell* /*previous*/, int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/,
                bool /*in_place*/) {
    if (!element->is(TYPE_INTEGER)) raise::invalid_type(element->type());
    int32_t index = static_cast<int32_t>(element->w2);
    if (!value) return push_byte(parent, index, element);
    if (!value->is(TYPE_INTEGER) && !value->is(TYPE_NONE)) raise::invalid_type(value->type());
    set_byte(parent, index, value);
    return value;
}

// reverse/part/skip: the first `count` bytes, one by one or as groups of `size` bytes that
// keep their inner order.
cell* reverse(cell* value, cell* part, cell* skip) {
    const int length = length_of(value);
    int64_t count = length;
    if (part) {
        if (!part->is(TYPE_INTEGER)) raise_invalid_refine_arg(refinements::part, part);
        count = static_cast<int32_t>(part->w2);
        if (count < 0) raise::throw_error(err::script_out_of_range, part);
    }
    int64_t size = 1;
    if (skip) {
        if (!skip->is(TYPE_INTEGER)) raise_invalid_refine_arg(refinements::skip, skip);
        size = static_cast<int32_t>(skip->w2);
        if (size == count) return value;
        if (size < 1) raise::throw_error(err::script_out_of_range, skip);
        if (count < size || count % size != 0) raise_invalid_refine_arg(refinements::skip, skip);
    }
    count = std::min<int64_t>(count, length);
    uint8_t bytes[MAX_LENGTH];
    read_bytes(value, bytes);
    // Only whole groups move: a count cut to the length may leave a partial group, which
    // stays where it is.
    const int64_t groups = count / size;
    uint8_t reversed[MAX_LENGTH];
    std::memcpy(reversed, bytes, sizeof bytes);
    for (int64_t g = 0; g < groups; ++g) {
        std::memcpy(reversed + g * size, bytes + (groups - 1 - g) * size, static_cast<size_t>(size));
    }
    write_bytes(value, length, reversed);
    return value;
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

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&to);
    list.set<ACTION_RANDOM>(&random_value);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_ADD>(&add);
    list.set<ACTION_DIVIDE>(&divide);
    list.set<ACTION_MULTIPLY>(&multiply);
    list.set<ACTION_REMAINDER>(&remainder);
    list.set<ACTION_SUBTRACT>(&subtract);
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_COMPLEMENT>(&complement);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    list.set<ACTION_LENGTH_Q>(&length_q);
    list.set<ACTION_PICK>(&pick);
    list.set<ACTION_REVERSE>(&reverse);
    type_registry::register_type(TYPE_TUPLE, TYPE_NONE_ID, "tuple!", list);
    integer::register_math_core(TYPE_TUPLE, &do_math);
}

void read_bytes(const cell* c, uint8_t bytes[MAX_LENGTH]) {
    std::memcpy(bytes + 0, &c->w1, 4);
    std::memcpy(bytes + 4, &c->w2, 4);
    std::memcpy(bytes + 8, &c->w3, 4);
}

int test_zero(const cell* c) {
    uint8_t bytes[MAX_LENGTH];
    read_bytes(c, bytes);
    int length = length_of(c);
    for (int i = 0; i < length; ++i) {
        if (bytes[i] != 0) return 0;
    }
    return 1;
}

cell* make_at(cell* destination, int length, const uint8_t bytes[MAX_LENGTH]) {
    destination->header = TYPE_TUPLE;
    write_bytes(destination, length, bytes);
    return destination;
}

cell* push(int length, uint32_t word1, uint32_t word2, uint32_t word3) {
    uint8_t bytes[MAX_LENGTH];
    std::memcpy(bytes + 0, &word1, 4);
    std::memcpy(bytes + 4, &word2, 4);
    std::memcpy(bytes + 8, &word3, 4);
    return make_at(stack::push_slot(), length, bytes);
}

cell* push_from_ints(int count, const int32_t* values) {
    uint8_t bytes[MAX_LENGTH] = {};
    count = std::clamp(count, 0, MAX_LENGTH);
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(values[i] & 0xFF);
    return make_at(stack::push_slot(), count, bytes);
}

cell* from_binary(const cell* binary, cell* result) {
    memory::series_buffer* buffer = memory::buffer_of(binary->w2);
    int64_t length = buffer->length();
    int64_t index = std::clamp<int64_t>(static_cast<int32_t>(binary->w1), 0, length);
    int64_t count = std::min<int64_t>(length - index, MAX_LENGTH);
    uint8_t bytes[MAX_LENGTH] = {};
    std::memcpy(bytes, buffer->head + index, static_cast<size_t>(count));
    return make_at(result, static_cast<int>(count), bytes);
}

cell* from_issue(const cell* issue, cell* result) {
    std::string_view name = symbol::name_of(static_cast<int32_t>(issue->w2));
    uint8_t bytes[MAX_LENGTH] = {};
    int length;
    if (name.size() == 3) {
        for (int i = 0; i < 3; ++i) {
            int d = hex_digit(name[i]);
            if (d < 0) raise::throw_error(err::script_invalid_data, issue);
            bytes[i] = static_cast<uint8_t>(d * 17);
        }
        length = 3;
    } else if (name.size() == 6 || name.size() == 8) {
        length = static_cast<int>(name.size() / 2);
        for (int i = 0; i < length; ++i) {
            int high = hex_digit(name[2 * i]);
            int low = hex_digit(name[2 * i + 1]);
            if (high < 0 || low < 0) raise::throw_error(err::script_invalid_data, issue);
            bytes[i] = static_cast<uint8_t>(high * 16 + low);
        }
    } else {
        raise::throw_error(err::script_invalid_data, issue);
    }
    return make_at(result, length, bytes);
}

void set_byte(cell* tuple, int32_t index, const cell* value) {
    const int length = length_of(tuple);
    if (index < 1 || index > length) raise_out_of_range(index);
    uint8_t bytes[MAX_LENGTH];
    read_bytes(tuple, bytes);
    if (value->is(TYPE_INTEGER)) {
        bytes[index - 1] = clamp_int(static_cast<int32_t>(value->w2));
        write_bytes(tuple, length, bytes);
    } else if (value->is(TYPE_NONE)) {
        for (int i = index - 1; i < MAX_LENGTH; ++i) bytes[i] = 0;
        write_bytes(tuple, std::max(MIN_LENGTH, index - 1), bytes);
    } else {
        raise::invalid_type(value->type());
    }
}

cell* do_math(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    if (!left->is(TYPE_TUPLE)) {
        // A number first, as the float core hands it over: only the operations that give
        // the same result in either order are meaningful.
        if (op == integer::OP_SUBTRACT || op == integer::OP_DIVIDE || op == integer::OP_REMAINDER) {
            const cell name = integer::op_word(op);
            cell* word = stack::push_copy(&name);
            cell t = datatype::value_of(left->type());
            raise::throw_error(err::script_not_related, word, &t);
        }
        std::swap(*left, *right);
    }
    uint8_t bytes[MAX_LENGTH];
    read_bytes(left, bytes);
    const int own_length = length_of(left);
    int length = own_length;
    switch (right->type()) {
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double f = float_::get(right);
            for (int i = 0; i < length; ++i) bytes[i] = clamp_double(float_::do_math(bytes[i], f, op));
            break;
        }
        case TYPE_INTEGER:
        case TYPE_TUPLE: {
            const bool byte_mode = right->is(TYPE_TUPLE);
            uint8_t other[MAX_LENGTH] = {};
            int other_length = 0;
            const int32_t v = static_cast<int32_t>(right->w2);
            if (byte_mode) {
                read_bytes(right, other);
                other_length = length_of(right);
                length = std::max(length, other_length);
            }
            for (int i = 0; i < length; ++i) {
                const int32_t a = i < own_length ? bytes[i] : 0;
                const int32_t c = byte_mode ? (i < other_length ? other[i] : 0) : v;
                cell scratch{TYPE_INTEGER, 0, 0, 0};
                int32_t r = integer::arithmetic(a, c, op, op == integer::OP_DIVIDE ? nullptr : &scratch);
                if (scratch.is(TYPE_FLOAT)) {
                    bytes[i] = float_::get(&scratch) > 0 ? 255 : 0;
                } else {
                    bytes[i] = clamp_int(r);
                }
            }
            break;
        }
        default:
            raise::invalid_type(right->type());
    }
    write_bytes(left, length, bytes);
    return left;
}

}  // namespace zor::tuple
