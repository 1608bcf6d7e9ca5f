// char!: conversion to a code point, its text (#"x" with the caret escapes of string
// molding), its comparison with chars and integers, and arithmetic through the integer
// core with every result checked to be a code point.
#include "runtime/datatypes/char.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/value/action-signatures.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"

namespace zor::char_ {

namespace {

int spend(int budget, int64_t written) {
    return static_cast<int>(std::clamp<int64_t>(int64_t(budget) - written, INT_MIN, INT_MAX));
}

[[noreturn]] void bad_to_arg(const cell* spec) {
    cell* type = datatype::make_in(stack::push_slot(), TYPE_CHAR);
    cell* argument = stack::push_copy(spec);
    raise::throw_error(err::script_bad_to_arg, type, argument);
}

[[noreturn]] void out_of_range(const cell* spec) { raise::throw_error(err::script_out_of_range, stack::push_copy(spec)); }

// A new binary! of the bytes (which lie outside every series) in a new stack slot.
cell* push_bytes(const uint8_t* bytes, int64_t n) {
    cell* slot = stack::push_slot();
    cell::init_unset(slot);
    node_ref node = memory::alloc_bytes(std::max<int64_t>(n, 1));
    memory::series_buffer* b = memory::buffer_of(node);
    std::memcpy(b->head, bytes, static_cast<size_t>(n));
    b->tail = b->head + n;
    *slot = cell{TYPE_BINARY, 0, node, 0};
    return slot;
}

// The first UTF-8 character of a binary's bytes from its index.
uint32_t first_utf8_char(const cell* binary) {
    memory::series_buffer* b = memory::buffer_of(binary->w2);
    int64_t length = b->tail - b->head;
    int64_t index = std::clamp<int64_t>(static_cast<int32_t>(binary->w1), 0, length);
    if (index >= length) bad_to_arg(binary);
    // The bytes are copied out first: raising an error allocates, and the buffer may move.
    uint8_t bytes[4];
    int64_t available = std::min<int64_t>(length - index, 4);
    std::memcpy(bytes, b->head + index, static_cast<size_t>(available));
    int lead = unicode::utf8_lead_byte_length(bytes[0]);
    int64_t n = std::min<int64_t>(lead == 0 ? 1 : lead, available);
    int32_t codepoint = unicode::decode_utf8_char_checked(bytes, n);
    // A sequence cut short by the end of the bytes is as undecodable as a broken one.
    if (codepoint < 0) raise::throw_error(err::access_invalid_utf8, push_bytes(bytes, available));
    return static_cast<uint32_t>(codepoint);
}

// The right operand of the arithmetic as an integer: a char! or integer! as it is, a
// float! truncated toward zero when that fits 32 bits (else math/overflow).
int32_t right_operand(const cell* right) {
    switch (right->type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER: return static_cast<int32_t>(right->w2);
        case TYPE_FLOAT: {
            double d = float_::get(right);
            if (!(d > -2147483649.0 && d < 2147483648.0)) raise::throw_error(err::math_overflow);
            return static_cast<int32_t>(d);
        }
        default: {
            cell* type = datatype::make_in(stack::push_slot(), right->type());
            raise::throw_error(err::script_invalid_type, type);
        }
    }
}

cell* add() { return do_math(math_ops::OP_ADD); }
cell* subtract() { return do_math(math_ops::OP_SUBTRACT); }
cell* multiply() { return do_math(math_ops::OP_MULTIPLY); }
cell* divide() { return do_math(math_ops::OP_DIVIDE); }
cell* remainder() { return do_math(math_ops::OP_REMAINDER); }
cell* and_t() { return do_math(math_ops::OP_AND); }
cell* or_t() { return do_math(math_ops::OP_OR); }
cell* xor_t() { return do_math(math_ops::OP_XOR); }

}  // namespace

cell* push(uint32_t codepoint) { return make_in(stack::push_slot(), codepoint); }

cell* append_to_block(cell* block, uint32_t codepoint) { return make_in(block::alloc_tail_cell(block), codepoint); }

cell* make(cell* value, cell* spec, type_id type) {
    (void)type;
    uint32_t codepoint;
    switch (spec->type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER: {
            int32_t v = static_cast<int32_t>(spec->w2);
            if (v < 0 || uint32_t(v) > MAX_CODEPOINT) out_of_range(spec);
            codepoint = uint32_t(v);
            break;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = float_::get(spec);
            // Truncated toward zero: anything above -1.0 and below 0x110000 is a code point.
            if (!(d > -1.0 && d < double(MAX_CODEPOINT) + 1.0)) out_of_range(spec);
            codepoint = static_cast<uint32_t>(d);
            break;
        }
        case TYPE_BINARY: codepoint = first_utf8_char(spec); break;
        default:
            if (!string::is_any_string(spec->type())) bad_to_arg(spec);
            if (string::rest_length(spec) == 0) bad_to_arg(spec);
            {
                memory::series_buffer* b = memory::buffer_of(spec->w2);
                int64_t index = std::clamp<int64_t>(static_cast<int32_t>(spec->w1), 0, b->length());
                codepoint = string::char_at(spec, index);
            }
            break;
    }
    return make_in(value, codepoint);
}

int form(cell* value, cell* output, cell* part, int budget) {
    (void)part;
    string::append_codepoint(output, codepoint_of(value));
    return spend(budget, 1);
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    (void)only, (void)flat, (void)part, (void)indent;
    uint32_t codepoint = codepoint_of(value);
    string::append_c_string(output, "#\"");
    string::append_escaped_char(output, codepoint, all);
    string::append_c_string(output, "\"");
    return spend(budget, 4);
}

int compare(cell* value, cell* other, int op) {
    bool is_char = other->is(TYPE_CHAR);
    if ((op == COMPARE_STRICT_EQUAL || op == COMPARE_FIND) && !is_char) return 1;
    if (!is_char && !other->is(TYPE_INTEGER)) return -2;
    int64_t a = codepoint_of(value);
    int64_t b = is_char ? int64_t(other->w2) : int64_t(static_cast<int32_t>(other->w2));
    return (a > b) - (a < b);
}

cell* do_math(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    if (right->is(TYPE_VECTOR)) {
        integer::math_core core = integer::math_core_of(TYPE_VECTOR);
        if (!core) {
            cell* type = datatype::make_in(stack::push_slot(), TYPE_VECTOR);
            raise::throw_error(err::script_invalid_type, type);
        }
        return core(op);
    }
    int32_t operand = right_operand(right);
    cell result{TYPE_INTEGER, 0, 0, 0};
    int32_t v = integer::arithmetic(static_cast<int32_t>(codepoint_of(left)), operand, op, &result);
    // An overflow turned float, an inexact quotient or anything outside the code points.
    if (!result.is(TYPE_INTEGER) || v < 0 || uint32_t(v) > MAX_CODEPOINT) raise::throw_error(err::math_overflow);
    return make_in(left, static_cast<uint32_t>(v));
}

void init_type() {
    type_registry::action_list list(TYPE_INTEGER);
    for (int a = 1; a <= ACTION_COUNT; ++a) list.unsupported(static_cast<action>(a));
    list.inherit(ACTION_RANDOM);
    list.inherit(ACTION_ABSOLUTE);
    list.inherit(ACTION_EVEN_Q);
    list.inherit(ACTION_ODD_Q);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_ADD>(&add);
    list.set<ACTION_SUBTRACT>(&subtract);
    list.set<ACTION_MULTIPLY>(&multiply);
    list.set<ACTION_DIVIDE>(&divide);
    list.set<ACTION_REMAINDER>(&remainder);
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    type_registry::register_type(TYPE_CHAR, TYPE_INTEGER, "char!", list);
}

}  // namespace zor::char_
