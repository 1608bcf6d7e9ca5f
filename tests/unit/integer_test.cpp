// integer!: checked arithmetic against Python's exact integers, the hand-off of mixed
// operands, conversions, text, comparison, power, rounding against Python's decimal
// rounding modes, and the small actions.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

#include "tests/unit/number_oracle.inc"

constexpr int NO_ERROR = -1;
int code(err e) { return error_catalogue::code_of(e); }

cell int_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
cell char_cell(uint32_t c) { return cell{TYPE_CHAR, 0, c, 0}; }
cell number_cell(type_id type, double d) {
    cell c{type, 0, 0, 0};
    float_::store(&c, d);
    return c;
}
cell datatype_cell(type_id t) { return cell{TYPE_DATATYPE, t, 0, 0}; }

template <action A> action_handler<A> handler_of(type_id type) {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(type, A));
}

// What a call left: its result cell, or the error it raised with the error's arguments.
struct outcome {
    cell value{};
    int error = NO_ERROR;
    cell arg1{}, arg2{};
};

// Runs the body under a try frame with a fresh args_base; the body answers the result.
template <typename Body> outcome run(Body body) {
    outcome o;
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        o.value = *body();
    } catch (const zor_throw& t) {
        if (t.code != THROW_ERROR) throw;
        cell* e = stack::last_slot();
        o.error = error::code_of(e);
        o.arg1 = *error::field_of(e, error::FIELD_ARG1);
        o.arg2 = *error::field_of(e, error::FIELD_ARG2);
    }
    return o;
}

// A simple action as its entry calls it: both operands at args_base.
outcome call_simple(action a, cell left, cell right) {
    return run([&] {
        stack::push_copy(&left);
        stack::push_copy(&right);
        auto h = reinterpret_cast<cell* (*)()>(actions::find_handler(&left, a));
        return h();
    });
}

std::string describe(const cell& c) {
    return "type " + std::to_string(c.type()) + " w2 " + std::to_string(static_cast<int32_t>(c.w2)) + " double " +
           std::to_string(float_::get(&c));
}

class Integer : public ::testing::Test {};

const action OP_ACTIONS[] = {ACTION_ADD, ACTION_SUBTRACT, ACTION_MULTIPLY, ACTION_DIVIDE, ACTION_REMAINDER,
                             ACTION_OR_T, ACTION_AND_T, ACTION_XOR_T};

TEST_F(Integer, ArithmeticMatchesPythonIntegers) {
    for (const arithmetic_case& c : ARITHMETIC_CASES) {
        SCOPED_TRACE(std::to_string(c.left) + " op " + std::to_string(c.op) + " " + std::to_string(c.right));
        outcome o = call_simple(OP_ACTIONS[c.op], int_cell(c.left), int_cell(c.right));
        switch (c.kind) {
            case 'I':
                EXPECT_EQ(o.error, NO_ERROR);
                EXPECT_EQ(o.value.type(), TYPE_INTEGER);
                EXPECT_EQ(static_cast<int32_t>(o.value.w2), c.result);
                break;
            case 'F':
                EXPECT_EQ(o.error, NO_ERROR);
                EXPECT_EQ(o.value.type(), TYPE_FLOAT);
                EXPECT_EQ(std::bit_cast<uint64_t>(float_::get(&o.value)), static_cast<uint64_t>(c.result));
                break;
            case 'Z': EXPECT_EQ(o.error, code(err::math_zero_divide)); break;
            case 'O': EXPECT_EQ(o.error, code(err::math_overflow)); break;
        }
    }
}

TEST_F(Integer, ArithmeticEdgesAndMixedOperands) {
    struct row {
        const char* what;
        action a;
        cell left, right;
        type_id type;   // of the result
        double value;   // the result as a number
        int error;
    };
    const row rows[] = {
        {"max + 1", ACTION_ADD, int_cell(INT32_MAX), int_cell(1), TYPE_FLOAT, 2147483648.0, NO_ERROR},
        {"min - 1", ACTION_SUBTRACT, int_cell(INT32_MIN), int_cell(1), TYPE_FLOAT, -2147483649.0, NO_ERROR},
        {"65536 * 65536", ACTION_MULTIPLY, int_cell(65536), int_cell(65536), TYPE_FLOAT, 4294967296.0, NO_ERROR},
        {"7 / 2", ACTION_DIVIDE, int_cell(7), int_cell(2), TYPE_FLOAT, 3.5, NO_ERROR},
        {"6 / 2", ACTION_DIVIDE, int_cell(6), int_cell(2), TYPE_INTEGER, 3, NO_ERROR},
        {"-7 / 2", ACTION_DIVIDE, int_cell(-7), int_cell(2), TYPE_FLOAT, -3.5, NO_ERROR},
        {"min / 1", ACTION_DIVIDE, int_cell(INT32_MIN), int_cell(1), TYPE_INTEGER, INT32_MIN, NO_ERROR},
        {"1 / 0", ACTION_DIVIDE, int_cell(1), int_cell(0), TYPE_NONE, 0, code(err::math_zero_divide)},
        {"1 // 0", ACTION_REMAINDER, int_cell(1), int_cell(0), TYPE_NONE, 0, code(err::math_zero_divide)},
        {"min / -1", ACTION_DIVIDE, int_cell(INT32_MIN), int_cell(-1), TYPE_NONE, 0, code(err::math_overflow)},
        {"min // -1", ACTION_REMAINDER, int_cell(INT32_MIN), int_cell(-1), TYPE_NONE, 0, code(err::math_overflow)},
        {"-7 // 2", ACTION_REMAINDER, int_cell(-7), int_cell(2), TYPE_INTEGER, -1, NO_ERROR},
        {"7 // -2", ACTION_REMAINDER, int_cell(7), int_cell(-2), TYPE_INTEGER, 1, NO_ERROR},
        {"12 and 10", ACTION_AND_T, int_cell(12), int_cell(10), TYPE_INTEGER, 8, NO_ERROR},
        {"12 or 10", ACTION_OR_T, int_cell(12), int_cell(10), TYPE_INTEGER, 14, NO_ERROR},
        {"12 xor 10", ACTION_XOR_T, int_cell(12), int_cell(10), TYPE_INTEGER, 6, NO_ERROR},
        {"-1 and min", ACTION_AND_T, int_cell(-1), int_cell(INT32_MIN), TYPE_INTEGER, INT32_MIN, NO_ERROR},
        {"1 + #\"A\"", ACTION_ADD, int_cell(1), char_cell('A'), TYPE_INTEGER, 66, NO_ERROR},
        // A float-like right operand goes through the float core.
        {"1 + 0.5", ACTION_ADD, int_cell(1), number_cell(TYPE_FLOAT, 0.5), TYPE_FLOAT, 1.5, NO_ERROR},
        {"1 + 50%", ACTION_ADD, int_cell(1), number_cell(TYPE_PERCENT, 0.5), TYPE_FLOAT, 1.5, NO_ERROR},
        {"3 / 2.0", ACTION_DIVIDE, int_cell(3), number_cell(TYPE_FLOAT, 2.0), TYPE_FLOAT, 1.5, NO_ERROR},
        {"1 / 0.0", ACTION_DIVIDE, int_cell(1), number_cell(TYPE_FLOAT, 0.0), TYPE_FLOAT,
         std::numeric_limits<double>::infinity(), NO_ERROR},
        {"10 + 0:00:05", ACTION_ADD, int_cell(10), number_cell(TYPE_TIME, 5.0), TYPE_TIME, 15.0, NO_ERROR},
        {"1 or 0.5", ACTION_OR_T, int_cell(1), number_cell(TYPE_FLOAT, 0.5), TYPE_NONE, 0,
         code(err::script_invalid_type)},
        {"1 + none", ACTION_ADD, int_cell(1), cell{TYPE_NONE, 0, 0, 0}, TYPE_NONE, 0, code(err::script_invalid_type)},
        {"1 + logic", ACTION_ADD, int_cell(1), cell{TYPE_LOGIC, 1, 0, 0}, TYPE_NONE, 0,
         code(err::script_invalid_type)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        EXPECT_EQ(o.error, r.error);
        if (r.error != NO_ERROR) continue;
        ASSERT_EQ(o.value.type(), r.type) << describe(o.value);
        if (r.type == TYPE_INTEGER) {
            EXPECT_EQ(static_cast<int32_t>(o.value.w2), static_cast<int32_t>(r.value));
        } else {
            EXPECT_EQ(float_::get(&o.value), r.value);
        }
    }
    // The invalid-type error names the right operand's type.
    outcome o = call_simple(ACTION_ADD, int_cell(1), cell{TYPE_NONE, 0, 0, 0});
    EXPECT_EQ(o.arg1.type(), TYPE_DATATYPE);
    EXPECT_EQ(o.arg1.w1, TYPE_NONE);
}

// Cores standing in for modules that come later: they record what reached them.
struct core_call {
    int op = -1;
    type_id left = TYPE_NONE_ID, right = TYPE_NONE_ID;
    int32_t right_value = 0;
    uint32_t left_payload = 0;
};
core_call last_core_call;
cell* recording_core(int op) {
    last_core_call = {op, stack::argument(0)->type(), stack::argument(1)->type(),
                      static_cast<int32_t>(stack::argument(1)->w2), stack::argument(0)->w1};
    return stack::argument(0);
}
cell* negate_compound(cell* value) {
    value->w1 = static_cast<uint32_t>(-static_cast<int32_t>(value->w1));
    return value;
}

TEST_F(Integer, MixedOperandsReachTheOtherTypesCores) {
    const type_id handed[] = {TYPE_MONEY, TYPE_VECTOR, TYPE_DATE, TYPE_PAIR, TYPE_POINT2D, TYPE_POINT3D, TYPE_TUPLE};
    integer::math_core saved[TYPE_TABLE_SIZE];
    for (type_id t : handed) {
        saved[t] = integer::math_core_of(t);
        // Without a registered core the operand is an invalid type.
        integer::register_math_core(t, nullptr);
        EXPECT_EQ(call_simple(ACTION_ADD, int_cell(1), cell{t, 7, 0, 0}).error, code(err::script_invalid_type)) << t;
        integer::register_math_core(t, &recording_core);
    }
    action_entry& pair_negate = type_registry::action_table[TYPE_PAIR * type_registry::ROW_SIZE + ACTION_NEGATE - 1];
    action_entry saved_negate = pair_negate;
    pair_negate = reinterpret_cast<action_entry>(&negate_compound);

    struct row {
        action a;
        type_id right;
        int error;            // or the call that reached the core:
        int op;
        type_id left_type, right_type;
        uint32_t left_payload;  // the compound's word 1 (negated for subtract)
    };
    const row rows[] = {
        // money! and vector! take the operands as they stand.
        {ACTION_SUBTRACT, TYPE_MONEY, NO_ERROR, 1, TYPE_INTEGER, TYPE_MONEY, 0},
        {ACTION_DIVIDE, TYPE_VECTOR, NO_ERROR, 3, TYPE_INTEGER, TYPE_VECTOR, 0},
        // date!: only add, with the operands swapped.
        {ACTION_ADD, TYPE_DATE, NO_ERROR, 0, TYPE_DATE, TYPE_INTEGER, 7},
        {ACTION_SUBTRACT, TYPE_DATE, code(err::script_not_related), -1, TYPE_NONE_ID, TYPE_NONE_ID, 0},
        {ACTION_MULTIPLY, TYPE_DATE, code(err::script_not_related), -1, TYPE_NONE_ID, TYPE_NONE_ID, 0},
        // pair! and points: swapped; subtract adds the negated compound; divide and
        // remainder have no element-wise meaning.
        {ACTION_ADD, TYPE_PAIR, NO_ERROR, 0, TYPE_PAIR, TYPE_INTEGER, 7},
        {ACTION_MULTIPLY, TYPE_POINT2D, NO_ERROR, 2, TYPE_POINT2D, TYPE_INTEGER, 7},
        {ACTION_SUBTRACT, TYPE_PAIR, NO_ERROR, 0, TYPE_PAIR, TYPE_INTEGER, static_cast<uint32_t>(-7)},
        {ACTION_DIVIDE, TYPE_PAIR, code(err::script_not_related), -1, TYPE_NONE_ID, TYPE_NONE_ID, 0},
        {ACTION_REMAINDER, TYPE_POINT3D, code(err::script_not_related), -1, TYPE_NONE_ID, TYPE_NONE_ID, 0},
        // tuple!: swapped; subtract, divide and remainder refused.
        {ACTION_ADD, TYPE_TUPLE, NO_ERROR, 0, TYPE_TUPLE, TYPE_INTEGER, 7},
        {ACTION_SUBTRACT, TYPE_TUPLE, code(err::script_not_related), -1, TYPE_NONE_ID, TYPE_NONE_ID, 0},
        {ACTION_DIVIDE, TYPE_TUPLE, code(err::script_not_related), -1, TYPE_NONE_ID, TYPE_NONE_ID, 0},
        {ACTION_REMAINDER, TYPE_TUPLE, code(err::script_not_related), -1, TYPE_NONE_ID, TYPE_NONE_ID, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.a) + " with " + std::to_string(r.right));
        last_core_call = core_call{};
        outcome o = call_simple(r.a, int_cell(5), cell{r.right, 7, 0, 0});
        EXPECT_EQ(o.error, r.error);
        if (r.error != NO_ERROR) {
            EXPECT_EQ(last_core_call.op, -1);
            // script/not-related names integer! as the type.
            EXPECT_EQ(o.arg2.type(), TYPE_DATATYPE);
            EXPECT_EQ(o.arg2.w1, TYPE_INTEGER);
            continue;
        }
        EXPECT_EQ(last_core_call.op, r.op);
        EXPECT_EQ(last_core_call.left, r.left_type);
        EXPECT_EQ(last_core_call.right, r.right_type);
        if (r.right_type == TYPE_INTEGER) {
            EXPECT_EQ(last_core_call.right_value, 5);
        }
        if (r.left_type != TYPE_INTEGER) {
            EXPECT_EQ(last_core_call.left_payload, r.left_payload);
        }
    }
    pair_negate = saved_negate;
    for (type_id t : handed) integer::register_math_core(t, saved[t]);
}

TEST_F(Integer, ArithmeticRoutineForOtherTypes) {
    // Without a result cell a division is truncated; with one a remainder gives a float!.
    EXPECT_EQ(integer::arithmetic(7, 2, integer::OP_DIVIDE, nullptr), 3);
    EXPECT_EQ(integer::arithmetic(-7, 2, integer::OP_DIVIDE, nullptr), -3);
    cell result{TYPE_CHAR, 0, 0, 0};
    EXPECT_EQ(integer::arithmetic(40, 2, integer::OP_ADD, &result), 42);
    EXPECT_EQ(result.type(), TYPE_CHAR);  // an integer result keeps the caller's header
    EXPECT_EQ(result.w2, 42u);
    cell scratch = int_cell(0);
    scratch.header |= FLAG_NEW_LINE;
    EXPECT_EQ(integer::arithmetic(INT32_MAX, 2, integer::OP_MULTIPLY, &scratch), 0);
    EXPECT_EQ(scratch.type(), TYPE_FLOAT);
    EXPECT_EQ(float_::get(&scratch), 4294967294.0);
    EXPECT_NE(scratch.header & FLAG_NEW_LINE, 0u);
}

// --- Conversions ---------------------------------------------------------------------------

// A string! in a stack slot holding the code points, at an index.
cell* push_string(const std::u32string& text, uint32_t index = 0) {
    cell* s = string::push_empty();
    for (char32_t c : text) string::append_codepoint(s, static_cast<uint32_t>(c));
    s->w1 = index;
    return s;
}

// A binary! in a stack slot holding the bytes.
cell* push_binary(const std::string& bytes, uint32_t index = 0) {
    cell* b = stack::push_slot();
    cell::init_unset(b);
    b->w2 = memory::alloc_bytes(static_cast<int64_t>(bytes.size()));
    b->w1 = index;
    b->header = TYPE_BINARY;
    memory::series_buffer* buffer = memory::buffer_of(b->w2);
    if (!bytes.empty()) std::memcpy(memory::reserve_tail_bytes(buffer, static_cast<int64_t>(bytes.size())),
                                    bytes.data(), bytes.size());
    return b;
}

cell issue_cell(const char* name) {
    return cell{TYPE_ISSUE, 0, static_cast<uint32_t>(symbol::make(name)), 0xFFFFFFFF};
}

// make or to integer! of a spec built by the maker.
template <typename Maker> outcome convert(action a, Maker make_spec) {
    return run([&] {
        cell type = datatype_cell(TYPE_INTEGER);
        cell* value = stack::push_copy(&type);
        cell* spec = make_spec();
        if (spec != value + 1) spec = stack::push_copy(spec);
        auto h = handler_of<ACTION_MAKE>(TYPE_INTEGER);
        if (a == ACTION_TO) h = handler_of<ACTION_TO>(TYPE_INTEGER);
        return h(value, spec, TYPE_INTEGER);
    });
}

TEST_F(Integer, ConversionsToInteger) {
    struct row {
        const char* what;
        std::function<cell*()> spec;
        int32_t value;
        int error;
    };
    auto cell_of = [](cell c) { return [c] { return stack::push_copy(&c); }; };
    const int type_limit = code(err::script_type_limit);
    const int bad_to_arg = code(err::script_bad_to_arg);
    const int invalid_data = code(err::script_invalid_data);
    const row rows[] = {
        {"integer", cell_of(int_cell(-9)), -9, NO_ERROR},
        {"char", cell_of(char_cell(0x1F600)), 0x1F600, NO_ERROR},
        {"2.9", cell_of(number_cell(TYPE_FLOAT, 2.9)), 2, NO_ERROR},
        {"-2.9", cell_of(number_cell(TYPE_FLOAT, -2.9)), -2, NO_ERROR},
        {"2147483647.0", cell_of(number_cell(TYPE_FLOAT, 2147483647.0)), INT32_MAX, NO_ERROR},
        {"-2147483648.0", cell_of(number_cell(TYPE_FLOAT, -2147483648.0)), INT32_MIN, NO_ERROR},
        {"2147483648.0", cell_of(number_cell(TYPE_FLOAT, 2147483648.0)), 0, type_limit},
        {"2147483647.5", cell_of(number_cell(TYPE_FLOAT, 2147483647.5)), 0, type_limit},
        {"-2147483649.0", cell_of(number_cell(TYPE_FLOAT, -2147483649.0)), 0, type_limit},
        {"1e300", cell_of(number_cell(TYPE_FLOAT, 1e300)), 0, type_limit},
        {"NaN", cell_of(number_cell(TYPE_FLOAT, std::nan(""))), 0, type_limit},
        {"250%", cell_of(number_cell(TYPE_PERCENT, 2.5)), 2, NO_ERROR},
        {"time 1.5", cell_of(number_cell(TYPE_TIME, 1.5)), 2, NO_ERROR},
        {"time -1.7", cell_of(number_cell(TYPE_TIME, -1.7)), -1, NO_ERROR},
        {"time 2147483647.0", cell_of(number_cell(TYPE_TIME, 2147483647.0)), 0, type_limit},
        {"\"12'345\"", [] { return push_string(U"12'345"); }, 12345, NO_ERROR},
        {"\"-2147483648\"", [] { return push_string(U"-2147483648"); }, INT32_MIN, NO_ERROR},
        {"\"2147483648\"", [] { return push_string(U"2147483648"); }, 0, bad_to_arg},
        {"\"12a\"", [] { return push_string(U"12a"); }, 0, bad_to_arg},
        {"\"\"", [] { return push_string(U""); }, 0, bad_to_arg},
        {"\"x42\" at 1", [] { return push_string(U"x42", 1); }, 42, NO_ERROR},
        {"index past the tail", [] { return push_string(U"42", 9); }, 0, bad_to_arg},
        {"wide text", [] { return push_string(U"\u4e00", 0); }, 0, bad_to_arg},
        {"wide digits", [] {
             cell* s = push_string(U"\u4e00-17", 1);
             return s;
         }, -17, NO_ERROR},
        {"file", [] {
             cell* s = push_string(U"77");
             cell::set_type(s, TYPE_FILE);
             return s;
         }, 77, NO_ERROR},
        {"#{0102}", [] { return push_binary("\x01\x02"); }, 258, NO_ERROR},
        {"#{0102030405}", [] { return push_binary("\x01\x02\x03\x04\x05"); }, 16909060, NO_ERROR},
        {"#{FFFFFFFF}", [] { return push_binary("\xFF\xFF\xFF\xFF"); }, -1, NO_ERROR},
        {"#{}", [] { return push_binary(""); }, 0, NO_ERROR},
        {"#{0102} at 1", [] { return push_binary("\x01\x02", 1); }, 2, NO_ERROR},
        {"#FF", cell_of(issue_cell("FF")), 255, NO_ERROR},
        {"#ff", cell_of(issue_cell("ff")), 255, NO_ERROR},
        {"#FFFFFFFF", cell_of(issue_cell("FFFFFFFF")), -1, NO_ERROR},
        {"#80000000", cell_of(issue_cell("80000000")), INT32_MIN, NO_ERROR},
        {"#123456789", cell_of(issue_cell("123456789")), 0, invalid_data},
        {"#G1", cell_of(issue_cell("G1")), 0, invalid_data},
        {"none", cell_of(cell{TYPE_NONE, 0, 0, 0}), 0, bad_to_arg},
        {"true", cell_of(cell{TYPE_LOGIC, 1, 0, 0}), 0, bad_to_arg},
        {"$0", cell_of(cell{TYPE_MONEY, 0, 0, 0}), 0, NO_ERROR},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = convert(ACTION_TO, r.spec);
        EXPECT_EQ(o.error, r.error);
        if (r.error == NO_ERROR) {
            EXPECT_EQ(o.value.type(), TYPE_INTEGER);
            EXPECT_EQ(static_cast<int32_t>(o.value.w2), r.value);
        }
        if (r.error == type_limit || r.error == bad_to_arg) {
            EXPECT_EQ(o.arg1.type(), TYPE_DATATYPE);
            EXPECT_EQ(o.arg1.w1, TYPE_INTEGER);
        }
    }
    // make reads a logic! as 1 or 0; to refuses it.
    outcome made = convert(ACTION_MAKE, [] { cell t{TYPE_LOGIC, 1, 0, 0}; return stack::push_copy(&t); });
    EXPECT_EQ(made.value.w2, 1u);
    made = convert(ACTION_MAKE, [] { cell f{TYPE_LOGIC, 0, 0, 0}; return stack::push_copy(&f); });
    EXPECT_EQ(made.value.w2, 0u);
    made = convert(ACTION_MAKE, [] { return push_string(U"-5"); });
    EXPECT_EQ(static_cast<int32_t>(made.value.w2), -5);
}

TEST_F(Integer, NumberReadingForNatives) {
    struct row {
        cell value;
        int32_t result;
        int error;
    };
    const row rows[] = {
        {int_cell(-7), -7, NO_ERROR},
        {number_cell(TYPE_FLOAT, -1.5), -1, NO_ERROR},
        {number_cell(TYPE_FLOAT, 2147483647.0), INT32_MAX, NO_ERROR},
        {number_cell(TYPE_FLOAT, -2147483648.0), INT32_MIN, NO_ERROR},
        {number_cell(TYPE_FLOAT, 2147483647.5), 0, code(err::script_out_of_range)},
        {number_cell(TYPE_FLOAT, std::nan("")), 0, code(err::script_out_of_range)},
        {number_cell(TYPE_FLOAT, -1e20), 0, code(err::script_out_of_range)},
    };
    for (const row& r : rows) {
        int32_t got = 0;
        int error = testing::raised_code([&] { got = integer::get_int_from_number(&r.value); });
        EXPECT_EQ(error, r.error);
        if (r.error == NO_ERROR) {
            EXPECT_EQ(got, r.result);
        }
        EXPECT_EQ(integer::float_overflows(&r.value), r.value.is(TYPE_FLOAT) && r.error != NO_ERROR ? 1 : 0);
    }
}

// --- Text and comparison -------------------------------------------------------------------

TEST_F(Integer, FormAndMoldAreTheDecimalText) {
    const int32_t values[] = {0, 1, -1, 42, -2147483648, 2147483647, 1000000};
    for (int32_t v : values) {
        std::string expected = std::to_string(v);
        EXPECT_STREQ(integer::to_decimal_text(v), expected.c_str());
        cell value = int_cell(v);
        cell* output = string::push_empty();
        EXPECT_EQ(actions::dispatch_form(&value, output, nullptr, 100), 100 - static_cast<int>(expected.size()));
        cell* molded = string::push_empty();
        EXPECT_EQ(actions::dispatch_mold(&value, molded, false, true, false, nullptr, 50, 0),
                  50 - static_cast<int>(expected.size()));
        EXPECT_EQ(string::to_utf8(output), expected);
        EXPECT_EQ(string::to_utf8(molded), expected);
    }
}

TEST_F(Integer, Comparison) {
    struct row {
        cell value, other;
        int op;
        int answer;
    };
    const double nan = std::nan("");
    const row rows[] = {
        {int_cell(1), int_cell(2), 3, -1},
        {int_cell(2), int_cell(1), 3, 1},
        {int_cell(INT32_MIN), int_cell(INT32_MAX), 7, -1},  // no overflow in the difference
        {int_cell(5), int_cell(5), 0, 0},
        {int_cell(65), char_cell('A'), 0, 0},                // 65 = #"A"
        {int_cell(65), char_cell('A'), 2, 1},                // but not ==
        {int_cell(65), char_cell('B'), 3, -1},
        {int_cell(1), number_cell(TYPE_FLOAT, 1.0), 0, 0},   // 1 = 1.0
        {int_cell(1), number_cell(TYPE_FLOAT, 1.0), 2, 1},   // 1 == 1.0 is false
        {int_cell(1), number_cell(TYPE_FLOAT, 1.0), 12, 1},
        {int_cell(1), number_cell(TYPE_FLOAT, 1.0), 9, 1},
        {int_cell(3), number_cell(TYPE_FLOAT, 2.5), 5, 1},
        {int_cell(1), number_cell(TYPE_PERCENT, 1.0), 0, 0},
        {int_cell(60), number_cell(TYPE_TIME, 60.0), 0, 0},
        {int_cell(1), number_cell(TYPE_FLOAT, nan), 3, 1},
        {int_cell(1), number_cell(TYPE_FLOAT, nan), 6, -1},
        {int_cell(1), number_cell(TYPE_FLOAT, nan), 0, 1},
        {int_cell(1), cell{TYPE_NONE, 0, 0, 0}, 0, -2},
        {int_cell(1), cell{TYPE_MONEY, 0, 0, 0}, 0, 1},      // the money module answers: not $0
    };
    for (const row& r : rows) {
        SCOPED_TRACE(describe(r.value) + " vs " + describe(r.other) + " op " + std::to_string(r.op));
        cell value = r.value, other = r.other;
        EXPECT_EQ(actions::dispatch_compare(&value, &other, r.op), r.answer);
        EXPECT_EQ(value.header, r.value.header);  // the value is not changed
        EXPECT_EQ(value.w2, r.value.w2);
        EXPECT_EQ(value.w3, r.value.w3);
    }
}

// --- Power and rounding ------------------------------------------------------------------------

TEST_F(Integer, Power) {
    struct row {
        cell base, exponent;
        type_id type;
        double value;
        int error;
    };
    const row rows[] = {
        {int_cell(2), int_cell(30), TYPE_INTEGER, 1073741824.0, NO_ERROR},
        {int_cell(2), int_cell(31), TYPE_FLOAT, 2147483648.0, NO_ERROR},
        {int_cell(-2), int_cell(31), TYPE_INTEGER, -2147483648.0, NO_ERROR},
        {int_cell(2), int_cell(-1), TYPE_FLOAT, 0.5, NO_ERROR},
        {int_cell(0), int_cell(0), TYPE_INTEGER, 1, NO_ERROR},
        {int_cell(-1), int_cell(INT32_MAX), TYPE_INTEGER, -1, NO_ERROR},
        {int_cell(3), int_cell(20), TYPE_FLOAT, 3486784401.0, NO_ERROR},
        {int_cell(46341), int_cell(2), TYPE_FLOAT, 2147488281.0, NO_ERROR},
        {int_cell(10), int_cell(400), TYPE_FLOAT, std::numeric_limits<double>::infinity(), NO_ERROR},
        {int_cell(4), number_cell(TYPE_FLOAT, 0.5), TYPE_FLOAT, 2.0, NO_ERROR},
        {int_cell(4), number_cell(TYPE_PERCENT, 0.5), TYPE_NONE, 0, code(err::script_expect_arg)},
        {int_cell(4), cell{TYPE_NONE, 0, 0, 0}, TYPE_NONE, 0, code(err::script_expect_arg)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(describe(r.base) + " ** " + describe(r.exponent));
        outcome o = call_simple(ACTION_POWER, r.base, r.exponent);
        EXPECT_EQ(o.error, r.error);
        if (r.error != NO_ERROR) continue;
        ASSERT_EQ(o.value.type(), r.type);
        if (r.type == TYPE_INTEGER) {
            EXPECT_EQ(static_cast<int32_t>(o.value.w2), static_cast<int32_t>(r.value));
        } else {
            EXPECT_EQ(float_::get(&o.value), r.value);
        }
    }
}

struct round_flags {
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};
round_flags flags_of(std::string mode) {
    round_flags f;
    if (mode == "even") f.even = true;
    if (mode == "down") f.down = true;
    if (mode == "half-down") f.half_down = true;
    if (mode == "floor") f.floor = true;
    if (mode == "ceiling") f.ceiling = true;
    if (mode == "half-ceiling") f.half_ceiling = true;
    return f;
}

outcome round_value(cell value, const cell* scale, const round_flags& f) {
    return run([&] {
        cell* v = stack::push_copy(&value);
        cell* s = scale ? stack::push_copy(scale) : nullptr;
        return handler_of<ACTION_ROUND>(value.type())(v, s, f.even, f.down, f.half_down, f.floor, f.ceiling,
                                                      f.half_ceiling);
    });
}

TEST_F(Integer, RoundingMatchesPythonDecimalModes) {
    for (const rounding_case& c : ROUNDING_CASES) {
        SCOPED_TRACE(std::to_string(c.value) + " to " + std::to_string(c.scale) + " " + c.mode);
        cell scale = int_cell(c.scale);
        outcome o = round_value(int_cell(c.value), &scale, flags_of(c.mode));
        if (c.overflow) {
            EXPECT_EQ(o.error, code(err::math_overflow));
            continue;
        }
        EXPECT_EQ(o.error, NO_ERROR);
        EXPECT_EQ(o.value.type(), TYPE_INTEGER);
        EXPECT_EQ(static_cast<int32_t>(o.value.w2), c.result);
    }
}

TEST_F(Integer, RoundingEdges) {
    struct row {
        int32_t value;
        cell scale;  // none: no /to
        const char* mode;
        type_id type;
        double result;
        int error;
    };
    const cell none{TYPE_NONE, 0, 0, 0};
    const row rows[] = {
        {17, int_cell(5), "default", TYPE_INTEGER, 15, NO_ERROR},
        {18, int_cell(5), "default", TYPE_INTEGER, 20, NO_ERROR},
        {-17, int_cell(5), "default", TYPE_INTEGER, -15, NO_ERROR},
        {5, int_cell(2), "default", TYPE_INTEGER, 6, NO_ERROR},
        {5, int_cell(2), "even", TYPE_INTEGER, 4, NO_ERROR},
        {5, int_cell(2), "half-down", TYPE_INTEGER, 4, NO_ERROR},
        {-17, int_cell(5), "floor", TYPE_INTEGER, -20, NO_ERROR},
        {-17, int_cell(5), "ceiling", TYPE_INTEGER, -15, NO_ERROR},
        {-5, int_cell(2), "half-ceiling", TYPE_INTEGER, -4, NO_ERROR},
        {7, none, "default", TYPE_INTEGER, 7, NO_ERROR},
        {7, int_cell(0), "default", TYPE_INTEGER, 7, NO_ERROR},
        {INT32_MIN, int_cell(10), "default", TYPE_INTEGER, INT32_MIN, NO_ERROR},  // returned as it is
        // A result toward zero always fits, whatever the rule could have taken.
        {2147483647, int_cell(10), "floor", TYPE_INTEGER, 2147483640, NO_ERROR},
        {-2147483647, int_cell(2), "floor", TYPE_INTEGER, INT32_MIN, NO_ERROR},
        {2147483647, int_cell(10), "ceiling", TYPE_NONE, 0, code(err::math_overflow)},
        {5, int_cell(INT32_MIN), "default", TYPE_NONE, 0, code(err::math_overflow)},
        // Other scales round as floats and give the scale's type.
        {5, number_cell(TYPE_FLOAT, 2.0), "default", TYPE_FLOAT, 6.0, NO_ERROR},
        {7, number_cell(TYPE_FLOAT, 0.5), "default", TYPE_FLOAT, 7.0, NO_ERROR},
        {INT32_MIN, number_cell(TYPE_FLOAT, 0.5), "default", TYPE_INTEGER, INT32_MIN, NO_ERROR},
        {5, cell{TYPE_MONEY, 0, 0, 0}, "default", TYPE_NONE, 0, code(err::script_not_related)},
        {5, cell{TYPE_STRING, 0, 0, 0}, "default", TYPE_NONE, 0, code(err::script_invalid_type)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.value) + " " + describe(r.scale) + " " + r.mode);
        outcome o = round_value(int_cell(r.value), r.scale.is(TYPE_NONE) ? nullptr : &r.scale, flags_of(r.mode));
        EXPECT_EQ(o.error, r.error);
        if (r.error != NO_ERROR) continue;
        ASSERT_EQ(o.value.type(), r.type);
        if (r.type == TYPE_INTEGER) {
            EXPECT_EQ(static_cast<int32_t>(o.value.w2), static_cast<int32_t>(r.result));
        } else {
            EXPECT_EQ(float_::get(&o.value), r.result);
        }
    }
}

// --- Small actions -------------------------------------------------------------------------

TEST_F(Integer, SignAndBitActions) {
    struct row {
        int32_t value;
        int32_t negated, absolute, complemented;
        bool negate_overflows;
        bool even;
    };
    const row rows[] = {
        {0, 0, 0, -1, false, true},
        {5, -5, 5, -6, false, false},
        {-6, 6, 6, 5, false, true},
        {INT32_MAX, -INT32_MAX, INT32_MAX, INT32_MIN, false, false},
        {INT32_MIN, 0, 0, INT32_MAX, true, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.value);
        outcome negated = run([&] {
            cell start = int_cell(r.value);
            cell* v = stack::push_copy(&start);
            return handler_of<ACTION_NEGATE>(TYPE_INTEGER)(v);
        });
        outcome absolute = call_simple(ACTION_ABSOLUTE, int_cell(r.value), cell{TYPE_NONE, 0, 0, 0});
        EXPECT_EQ(negated.error, r.negate_overflows ? code(err::math_overflow) : NO_ERROR);
        EXPECT_EQ(absolute.error, r.negate_overflows ? code(err::math_overflow) : NO_ERROR);
        if (!r.negate_overflows) {
            EXPECT_EQ(static_cast<int32_t>(negated.value.w2), r.negated);
            EXPECT_EQ(static_cast<int32_t>(absolute.value.w2), r.absolute);
        }
        cell value = int_cell(r.value);
        EXPECT_EQ(static_cast<int32_t>(handler_of<ACTION_COMPLEMENT>(TYPE_INTEGER)(&value)->w2), r.complemented);
        cell again = int_cell(r.value);
        EXPECT_EQ(handler_of<ACTION_EVEN_Q>(TYPE_INTEGER)(&again), r.even ? 1 : 0);
        EXPECT_EQ(handler_of<ACTION_ODD_Q>(TYPE_INTEGER)(&again), r.even ? 0 : 1);
        EXPECT_EQ(integer::sign(r.value), (r.value > 0) - (r.value < 0));
    }
}

TEST_F(Integer, RandomDrawsWithinTheBound) {
    auto random = handler_of<ACTION_RANDOM>(TYPE_INTEGER);
    cell zero = int_cell(0);
    EXPECT_EQ(random(&zero, false, false, false)->w2, 0u);
    cell seed = int_cell(10);
    EXPECT_EQ(random(&seed, true, false, false)->type(), TYPE_UNSET);
    // The same seed gives the same draws.
    auto draws = [&](int32_t bound) {
        std::string seen;
        cell s = int_cell(1234);
        random(&s, true, false, false);
        for (int i = 0; i < 200; ++i) {
            cell v = int_cell(bound);
            int32_t drawn = static_cast<int32_t>(random(&v, false, false, false)->w2);
            bool within = bound > 0 ? (drawn >= 1 && drawn <= bound) : (drawn <= -1 && drawn >= bound);
            EXPECT_TRUE(within) << drawn;
            seen += std::to_string(drawn) + " ";
        }
        return seen;
    };
    EXPECT_EQ(draws(6), draws(6));
    draws(-3);
    for (int i = 0; i < 50; ++i) {
        cell v = int_cell(3);
        int32_t drawn = static_cast<int32_t>(random(&v, false, true, false)->w2);
        EXPECT_TRUE(drawn >= 1 && drawn <= 3);
    }
}

TEST_F(Integer, RegisteredActionSlots) {
    const action supported[] = {ACTION_MAKE, ACTION_RANDOM, ACTION_TO, ACTION_FORM, ACTION_MOLD, ACTION_COMPARE,
                                ACTION_ABSOLUTE, ACTION_ADD, ACTION_DIVIDE, ACTION_MULTIPLY, ACTION_NEGATE,
                                ACTION_POWER, ACTION_REMAINDER, ACTION_ROUND, ACTION_SUBTRACT, ACTION_EVEN_Q,
                                ACTION_ODD_Q, ACTION_AND_T, ACTION_COMPLEMENT, ACTION_OR_T, ACTION_XOR_T};
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        bool expected = std::find(std::begin(supported), std::end(supported), a) != std::end(supported);
        EXPECT_EQ(type_registry::handler_of(TYPE_INTEGER, static_cast<action>(a)) != nullptr, expected) << a;
    }
    EXPECT_STREQ(type_registry::type_entries[TYPE_INTEGER].name, "integer!");
}

TEST_F(Integer, CellBuilders) {
    cell* pushed = integer::push(-3);
    EXPECT_EQ(pushed->type(), TYPE_INTEGER);
    EXPECT_EQ(integer::read_cell(pushed), -3);
    cell flagged{TYPE_NONE | FLAG_NEW_LINE, 9, 9, 9};
    integer::set_cell(&flagged, 12);
    EXPECT_EQ(flagged.type(), TYPE_INTEGER);
    EXPECT_NE(flagged.header & FLAG_NEW_LINE, 0u);
    EXPECT_EQ(integer::read_cell(&flagged), 12);
    stack::state.args_base = pushed;
    EXPECT_EQ(integer::read_first_arg(), -3);
    *pushed = number_cell(TYPE_FLOAT, 1.0);
    EXPECT_EQ(integer::read_first_arg_or_zero(), 0);
    integer::return_value(77);
    EXPECT_EQ(integer::read_first_arg_or_zero(), 77);
    EXPECT_EQ(testing::raised_code([] { integer::absolute_checked(INT32_MIN); }), code(err::math_overflow));
}

}  // namespace
}  // namespace zor
