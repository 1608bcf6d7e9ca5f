// char!: conversion to a code point from every accepted type, its text, its comparison
// with chars and integers, and arithmetic that never leaves the code points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"
#include "tests/unit/scalar_fixture.h"

namespace zor {
namespace {

using namespace scalar_testing;

cell char_cell(uint32_t c) { return cell{TYPE_CHAR, 0, c, 0}; }

// A spec made when the call is made: a plain cell pushed as it is.
std::function<cell*()> value(cell v) {
    return [v] { return stack::push_copy(&v); };
}

// A string (from UTF-8) or a binary (the bytes as they are) in a new stack slot.
cell* push_utf8(const char* text, int64_t index = 0) {
    cell* s = string::load_onto_stack(unicode::input_bytes::at(text), int64_t(std::strlen(text)), string::ENCODING_UTF8);
    s->w1 = static_cast<uint32_t>(index);
    return s;
}
cell* push_binary(const std::string& bytes, int64_t index = 0) {
    cell* b = stack::push_slot();
    cell::init_unset(b);
    node_ref node = memory::alloc_bytes(int64_t(bytes.size()) + 1);
    memory::series_buffer* buffer = memory::buffer_of(node);
    std::memcpy(buffer->head, bytes.data(), bytes.size());
    buffer->tail = buffer->head + bytes.size();
    *b = cell{TYPE_BINARY, static_cast<uint32_t>(index), node, 0};
    return b;
}

class CharType : public ScalarTest {};

TEST_F(CharType, MakeAndToTakeACodePoint) {
    const int out_of_range = code(err::script_out_of_range);
    const int bad_to_arg = code(err::script_bad_to_arg);
    const int invalid_utf8 = code(err::access_invalid_utf8);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* why;
        std::function<cell*()> spec;
        uint32_t expected;
        int error;
    } cases[] = {
        {"a char", value(char_cell(0x20AC)), 0x20AC, NO_ERROR},
        {"an integer", value(int_cell(65)), 'A', NO_ERROR},
        {"the highest code point", value(int_cell(0x10FFFF)), 0x10FFFF, NO_ERROR},
        {"above the code points", value(int_cell(0x110000)), 0, out_of_range},
        {"a negative integer", value(int_cell(-1)), 0, out_of_range},
        {"a float truncated", value(float_cell(65.9)), 'A', NO_ERROR},
        {"a float just below zero truncates to 0", value(float_cell(-0.5)), 0,
         NO_ERROR},
        {"a float of -1", value(float_cell(-1.0)), 0, out_of_range},
        {"a float just above the code points",
         value(float_cell(1114112.0)), 0, out_of_range},
        {"a float just below the limit", value(float_cell(1114111.99)), 0x10FFFF,
         NO_ERROR},
        {"NaN", value(float_cell(nan)), 0, out_of_range},
        {"a huge float", value(float_cell(1e300)), 0, out_of_range},
        {"a percent", value(percent_cell(66.2)), 'B', NO_ERROR},
        {"a string: the character at its index", [] { return push_utf8("x\u20ACy", 1); }, 0x20AC, NO_ERROR},
        {"an empty string", [] { return push_utf8(""); }, 0, bad_to_arg},
        {"a string at its tail", [] { return push_utf8("ab", 2); }, 0, bad_to_arg},
        {"a binary: its first UTF-8 character", [] { return push_binary("\xC3\xA9z"); }, 0xE9, NO_ERROR},
        {"a binary from its index", [] { return push_binary("a\xF0\x9F\x98\x80", 1); }, 0x1F600, NO_ERROR},
        {"an ASCII byte", [] { return push_binary("A\xFF"); }, 'A', NO_ERROR},
        {"a cut sequence", [] { return push_binary("\xE2\x82"); }, 0, invalid_utf8},
        {"a stray continuation byte", [] { return push_binary("\x80"); }, 0, invalid_utf8},
        {"an empty binary", [] { return push_binary(""); }, 0, bad_to_arg},
        {"a logic", value(cell{TYPE_LOGIC, 1, 0, 0}), 0, bad_to_arg},
    };
    for (action a : {ACTION_MAKE, ACTION_TO}) {
        auto handler = reinterpret_cast<action_handler<ACTION_MAKE>>(type_registry::handler_of(TYPE_CHAR, a));
        for (const auto& c : cases) {
            SCOPED_TRACE(c.why);
            outcome o = run([&] {
                cell proto = datatype_cell(TYPE_CHAR);
                cell* result = stack::push_copy(&proto);
                cell* spec = c.spec();
                return handler(result, spec, TYPE_CHAR);
            });
            EXPECT_EQ(o.error, c.error);
            if (c.error == NO_ERROR) {
                EXPECT_EQ(o.value.type(), TYPE_CHAR);
                EXPECT_EQ(o.value.w2, c.expected);
            }
        }
    }
}

TEST_F(CharType, FormAndMold) {
    const struct {
        uint32_t codepoint;
        bool all;
        std::string formed;
        const char* molded;
    } cases[] = {
        {'a', false, "a", "#\"a\""},
        {'\t', false, "\t", "#\"^-\""},
        {'\n', false, "\n", "#\"^/\""},
        {'"', false, "\"", "#\"^\"\""},
        {'^', false, "^", "#\"^^\""},
        {'{', false, "{", "#\"{\""},
        {0, false, std::string(1, '\0'), "#\"^@\""},
        {0x7F, false, "\x7F", "#\"^~\""},
        {0x85, false, "\u0085", "#\"^(85)\""},
        {0xE9, false, "\u00E9", "#\"\u00E9\""},
        {0xE9, true, "\u00E9", "#\"^(E9)\""},
        {0x1F600, true, "\U0001F600", "#\"^(1F600)\""},
    };
    for (const auto& c : cases) {
        text_result f = form(char_cell(c.codepoint), 10);
        EXPECT_EQ(f.text, c.formed);
        EXPECT_EQ(f.budget, 9);
        text_result m = mold(char_cell(c.codepoint), c.all, false, 10);
        EXPECT_EQ(m.text, c.molded);
        EXPECT_EQ(m.budget, 6);  // the number sign, the quotes and the character
    }
}

TEST_F(CharType, CompareWithCharsAndIntegers) {
    const int not_comparable = -2;
    const struct {
        cell other;
        int op;
        int expected;
    } cases[] = {
        {char_cell('a'), 0, 0},   {char_cell('b'), 3, -1},  {char_cell('A'), 0, 1},  // no case folding
        {char_cell('a'), 2, 0},   {char_cell('a'), 12, 0},  {int_cell(97), 0, 0},
        {int_cell(97), 2, 1},     {int_cell(97), 12, 1},    {int_cell(98), 3, -1},
        {int_cell(-1), 5, 1},     {float_cell(97.0), 0, not_comparable},
        {float_cell(97.0), 2, 1}, {none_cell, 0, not_comparable},
    };
    for (const auto& c : cases) {
        cell left = char_cell('a');
        cell right = c.other;
        EXPECT_EQ(actions::dispatch_compare(&left, &right, c.op), c.expected) << c.op;
    }
    cell* text = push_utf8("a");
    cell left = char_cell('a');
    EXPECT_EQ(actions::dispatch_compare(&left, text, 0), not_comparable);
}

TEST_F(CharType, ArithmeticStaysWithinTheCodePoints) {
    const int overflow = code(err::math_overflow);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* why;
        action a;
        uint32_t left;
        cell right;
        uint32_t expected;
        int error;
    } cases[] = {
        {"plus one", ACTION_ADD, 'a', int_cell(1), 'b', NO_ERROR},
        {"plus a char", ACTION_ADD, 'a', char_cell(1), 'b', NO_ERROR},
        {"the highest code point plus one", ACTION_ADD, 0x10FFFF, int_cell(1), 0, overflow},
        {"the highest code point", ACTION_ADD, 0x10FFFE, int_cell(1), 0x10FFFF, NO_ERROR},
        {"minus a larger number", ACTION_SUBTRACT, 'a', int_cell(98), 0, overflow},
        {"down to zero", ACTION_SUBTRACT, 'a', int_cell(97), 0, NO_ERROR},
        {"an integer overflow", ACTION_ADD, 'a', int_cell(INT32_MAX), 0, overflow},
        {"multiply", ACTION_MULTIPLY, 3, int_cell(7), 21, NO_ERROR},
        {"a multiplication beyond 32 bits", ACTION_MULTIPLY, 0x10FFFF, int_cell(0x10000), 0, overflow},
        {"an exact division", ACTION_DIVIDE, 100, int_cell(2), 50, NO_ERROR},
        {"an inexact division", ACTION_DIVIDE, 101, int_cell(2), 0, overflow},
        {"a division by zero", ACTION_DIVIDE, 'a', int_cell(0), 0, code(err::math_zero_divide)},
        {"a negative quotient", ACTION_DIVIDE, 100, int_cell(-2), 0, overflow},
        {"remainder", ACTION_REMAINDER, 100, int_cell(7), 2, NO_ERROR},
        {"remainder by zero", ACTION_REMAINDER, 100, int_cell(0), 0, code(err::math_zero_divide)},
        {"and~", ACTION_AND_T, 0x6F, int_cell(0x3C), 0x2C, NO_ERROR},
        {"or~", ACTION_OR_T, 0x40, int_cell(0x21), 0x61, NO_ERROR},
        {"xor~", ACTION_XOR_T, 'a', int_cell(0x20), 'A', NO_ERROR},
        {"or~ beyond the code points", ACTION_OR_T, 'a', int_cell(0x200000), 0, overflow},
        {"xor~ with a negative number", ACTION_XOR_T, 'a', int_cell(-1), 0, overflow},
        {"a float truncated toward zero", ACTION_ADD, 'a', float_cell(1.9), 'b', NO_ERROR},
        {"a negative float truncated toward zero", ACTION_ADD, 'a', float_cell(-1.9), '`', NO_ERROR},
        {"a float beyond 32 bits", ACTION_ADD, 'a', float_cell(1e10), 0, overflow},
        {"a float just beyond 32 bits", ACTION_SUBTRACT, 'a', float_cell(-2147483648.0), 0, overflow},
        {"NaN", ACTION_ADD, 'a', float_cell(nan), 0, overflow},
        {"infinity", ACTION_MULTIPLY, 'a', float_cell(INFINITY), 0, overflow},
        {"a percent is not a number here", ACTION_ADD, 'a', percent_cell(1.0), 0, code(err::script_invalid_type)},
        {"a logic", ACTION_ADD, 'a', cell{TYPE_LOGIC, 1, 0, 0}, 0, code(err::script_invalid_type)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        outcome o = call_simple(c.a, char_cell(c.left), c.right);
        EXPECT_EQ(o.error, c.error);
        if (c.error == NO_ERROR) {
            EXPECT_EQ(o.value.type(), TYPE_CHAR);
            EXPECT_EQ(o.value.w2, c.expected);
        }
    }
}

// random, absolute, even? and odd? come from integer!; the other number actions are not
// supported.
TEST_F(CharType, InheritedAndUnsupportedActions) {
    for (action a : {ACTION_RANDOM, ACTION_ABSOLUTE, ACTION_EVEN_Q, ACTION_ODD_Q}) {
        EXPECT_EQ(type_registry::handler_of(TYPE_CHAR, a), type_registry::handler_of(TYPE_INTEGER, a)) << a;
    }
    for (action a : {ACTION_NEGATE, ACTION_POWER, ACTION_ROUND, ACTION_COMPLEMENT, ACTION_APPEND, ACTION_PICK,
                     ACTION_REFLECT, ACTION_EVAL_PATH}) {
        EXPECT_EQ(type_registry::handler_of(TYPE_CHAR, a), nullptr) << a;
    }
    cell c = char_cell('b');
    EXPECT_EQ(handler_of<ACTION_EVEN_Q>(TYPE_CHAR)(&c), 1);
    EXPECT_EQ(handler_of<ACTION_ODD_Q>(TYPE_CHAR)(&c), 0);
}

TEST_F(CharType, PushAndAppendToBlock) {
    cell* pushed = char_::push(0x1F600);
    EXPECT_EQ(pushed->type(), TYPE_CHAR);
    EXPECT_EQ(pushed->w2, 0x1F600u);
    cell* b = stack::push_slot();
    block::make_in(b, 1);
    char_::append_to_block(b, 'x');
    char_::append_to_block(b, 'y');
    ASSERT_EQ(block::rest_length(b), 2);
    EXPECT_EQ(block::get_cell(b, 1)->type(), TYPE_CHAR);
    EXPECT_EQ(block::get_cell(b, 1)->w2, uint32_t('y'));
}

}  // namespace
}  // namespace zor
