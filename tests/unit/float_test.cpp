// float! and percent!: text by kind and the pretty retry, near-equality, comparison with
// NaN, the float math core and its result types, rounding (against Python's decimal
// modes for whole numbers), conversions and the small actions.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

#include "tests/unit/number_oracle.inc"

constexpr int NO_ERROR = -1;
int code(err e) { return error_catalogue::code_of(e); }
const double INF = std::numeric_limits<double>::infinity();
const double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

cell int_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
cell char_cell(uint32_t c) { return cell{TYPE_CHAR, 0, c, 0}; }
cell number_cell(type_id type, double d) {
    cell c{type, 0, 0, 0};
    float_::store(&c, d);
    return c;
}
cell float_cell(double d) { return number_cell(TYPE_FLOAT, d); }
cell percent_cell(double d) { return number_cell(TYPE_PERCENT, d); }
cell time_cell(double d) { return number_cell(TYPE_TIME, d); }
uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }

template <action A> action_handler<A> handler_of(type_id type) {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(type, A));
}

struct outcome {
    cell value{};
    int error = NO_ERROR;
    cell arg1{}, arg2{};
};

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

outcome call_simple(action a, cell left, cell right) {
    return run([&] {
        stack::push_copy(&left);
        stack::push_copy(&right);
        auto h = reinterpret_cast<cell* (*)()>(actions::find_handler(&left, a));
        return h();
    });
}

std::string describe(const cell& c) {
    return "type " + std::to_string(c.type()) + " double " + std::to_string(float_::get(&c));
}

// The result's number compared bit for bit, NaN by kind.
void expect_number(const cell& value, type_id type, double expected) {
    ASSERT_EQ(value.type(), type) << describe(value);
    double got = type == TYPE_INTEGER ? static_cast<double>(static_cast<int32_t>(value.w2)) : float_::get(&value);
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(got)) << got;
    } else if (got == 0.0 && expected == 0.0) {
        EXPECT_EQ(got, expected);  // either sign of zero
    } else {
        EXPECT_EQ(bits(got), bits(expected)) << got << " expected " << expected;
    }
}

class Float : public ::testing::Test {
protected:

    std::string form(cell value) {
        cell* output = string::push_empty();
        int left = actions::dispatch_form(&value, output, nullptr, 1000);
        std::string text = string::to_utf8(output);
        EXPECT_EQ(left, 1000 - static_cast<int>(text.size()));
        return text;
    }
    std::string mold(cell value) {
        cell* output = string::push_empty();
        int left = actions::dispatch_mold(&value, output, false, false, false, nullptr, 1000, 0);
        std::string text = string::to_utf8(output);
        EXPECT_EQ(left, 1000 - static_cast<int>(text.size()));
        return text;
    }
};

// --- Text ------------------------------------------------------------------------------------

TEST_F(Float, TextByKind) {
    struct row {
        double value;
        int kind;
        bool pretty;
        const char* text;
    };
    const row rows[] = {
        {1e20, float_::TEXT_FLOAT, true, "1.0e20"},
        {1.5e-7, float_::TEXT_FLOAT, true, "1.5e-7"},
        {3.0, float_::TEXT_FLOAT, true, "3.0"},
        {-3.0, float_::TEXT_FLOAT, true, "-3.0"},
        {0.1 + 0.7, float_::TEXT_FLOAT, true, "0.8"},                 // retried: ...99
        {0.1 + 0.7, float_::TEXT_FLOAT, false, "0.7999999999999999"},
        {1.0 / 3.0, float_::TEXT_FLOAT, true, "0.3333333333333333"},
        {0.1 + 0.2, float_::TEXT_FLOAT, true, "0.3"},                 // 0.3000000000000000 is 16 digits
        {1.0000000000000002, float_::TEXT_FLOAT, true, "1.0"},         // sixteen digits round it away
        {100.00000000000001, float_::TEXT_FLOAT, true, "100.0"},
        {1234.5600000000002, float_::TEXT_FLOAT, true, "1234.56"},   // 1234.560000000000 trimmed by %g
        {123456789.12345699, float_::TEXT_FLOAT, true, "123456789.123457"},
        {-0.7999999999999999, float_::TEXT_FLOAT, true, "-0.8"},
        {2.0000000000000004e300, float_::TEXT_FLOAT, true, "2.0e300"},
        {2.0000000000000004e-300, float_::TEXT_FLOAT, false, "2.0e-300"},
        {1e-17, float_::TEXT_FLOAT, true, "0.0"},                     // tiny values are zero
        {-1e-17, float_::TEXT_FLOAT, true, "0.0"},
        {1e-17, float_::TEXT_FLOAT, false, "1.0e-17"},
        {-0.0, float_::TEXT_FLOAT, false, "-0.0"},
        {1e-17, float_::TEXT_PERCENT, true, "0%"},
        {1e-17, float_::TEXT_SINGLE_BARE, true, "0"},
        {1e-17, float_::TEXT_SECONDS, true, "0.0"},
        {INF, float_::TEXT_PERCENT, true, "1.#INF"},
        {-INF, float_::TEXT_FLOAT, true, "-1.#INF"},
        {NAN_VALUE, float_::TEXT_SECONDS, true, "1.#NaN"},
        {50.0, float_::TEXT_PERCENT, true, "50%"},
        {12.5, float_::TEXT_PERCENT, true, "12.5%"},
        {1e20, float_::TEXT_PERCENT, true, "1e20%"},
        {0.1f, float_::TEXT_SINGLE, true, "0.1"},                     // seven digits of a 32-bit float
        {3.0, float_::TEXT_SINGLE, true, "3.0"},
        {3.0, float_::TEXT_SINGLE_BARE, true, "3"},
        {0.5, float_::TEXT_SINGLE_PERCENT, true, "0.5%"},
        {1.5, float_::TEXT_SECONDS, true, "1.5"},
        {2.0, float_::TEXT_SECONDS, true, "2"},
        {1e-8, float_::TEXT_SECONDS, false, "1e-8"},
        {1e21, float_::TEXT_SECONDS, true, "1e21"},
        {123456.7891, float_::TEXT_SECONDS, true, "123457"},
        {2.5, 99, true, "2.5"},                                     // unknown kinds format as float!
        {1e100, 99, true, "1.0e100"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        float_::pretty_flag = r.pretty ? 1 : 0;
        EXPECT_STREQ(float_::to_text(r.value, r.kind), r.text);
    }
}

TEST_F(Float, FormAndMold) {
    struct row {
        cell value;
        const char* formed;
        const char* molded;
    };
    const row rows[] = {
        {float_cell(1e20), "1.0e20", "1.0e20"},
        {float_cell(0.1 + 0.7), "0.8", "0.7999999999999999"},  // mold is the exact round trip
        {float_cell(1.0 / 3.0), "0.3333333333333333", "0.3333333333333333"},
        {float_cell(1e16), "1.0e16", "10000000000000000.0"},
        {float_cell(1e-7), "1.0e-7", "0.0000001"},
        {float_cell(-0.0), "0.0", "-0.0"},
        {float_cell(INF), "1.#INF", "1.#INF"},
        {float_cell(NAN_VALUE), "1.#NaN", "1.#NaN"},
        {float_cell(1e-17), "0.0", "1.0e-17"},
        {percent_cell(0.5), "50%", "50%"},
        {percent_cell(0.125), "12.5%", "12.5%"},
        {percent_cell(1e-19), "0%", "0%"},       // 1e-17 after the scaling by 100
        {percent_cell(1e-17), "1e-15%", "1e-15%"},
        {percent_cell(-0.07), "-7%", "-7%"},  // 7.000000000000001 to thirteen digits
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.molded);
        EXPECT_EQ(form(r.value), r.formed);
        EXPECT_EQ(mold(r.value), r.molded);
    }
}

// --- Equality and comparison ---------------------------------------------------------------------

TEST_F(Float, NearEquality) {
    auto ulps = [](double d, int n) {
        for (int i = 0; i < n; ++i) d = std::nextafter(d, INF);
        return d;
    };
    struct row {
        double a, b;
        bool equal;
    };
    const row rows[] = {
        {0.1 + 0.2, 0.3, true},
        {1.0, ulps(1.0, 10), true},
        {1.0, ulps(1.0, 11), false},
        {1e10, ulps(1e10, 10), true},
        {1e10, ulps(1e10, 11), false},
        {-1e10, -ulps(1e10, 10), true},
        {1e300, ulps(1e300, 10), true},
        {1e300, ulps(1e300, 12), false},
        {0.0, -0.0, true},
        {1e-300, 2e-300, true},        // both within the epsilon of zero
        {-1e-320, 1e-320, true},
        {1.0, -1.0, false},
        {NAN_VALUE, NAN_VALUE, false},
        {NAN_VALUE, 1.0, false},
        {INF, INF, true},
        {INF, std::numeric_limits<double>::max(), true},  // adjacent in the order
        {INF, -INF, false},
        {2.0, 2.0000001, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.a) + " " + std::to_string(r.b));
        EXPECT_EQ(float_::almost_equal(r.a, r.b), r.equal);
        EXPECT_EQ(float_::almost_equal(r.b, r.a), r.equal);
    }
}

TEST_F(Float, NearEqualityOfSingles) {
    auto ulps = [](float f, int n) {
        for (int i = 0; i < n; ++i) f = std::nextafter(f, std::numeric_limits<float>::infinity());
        return f;
    };
    const float max = std::numeric_limits<float>::max();
    const float inf = std::numeric_limits<float>::infinity();
    struct row {
        float a, b;
        bool equal;
    };
    const row rows[] = {
        {1.0f, ulps(1.0f, 10), true},
        {1.0f, ulps(1.0f, 11), false},
        {-1.0f, -ulps(1.0f, 10), true},
        {0.0f, -0.0f, true},
        {1e-45f, -1e-45f, true},        // two ulps apart across zero
        {1.0f, -1.0f, false},
        {max, inf, true},               // magnitudes at the top differ by less than 0x100000
        {max, -inf, false},
        {std::nanf(""), std::nanf(""), false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.a) + " " + std::to_string(r.b));
        EXPECT_EQ(float_::almost_equal32(r.a, r.b), r.equal);
        EXPECT_EQ(float_::almost_equal32(r.b, r.a), r.equal);
    }
    EXPECT_TRUE(float_::is_nan32(std::nanf("")));
    EXPECT_FALSE(float_::is_nan32(1.0f));
}

TEST_F(Float, Comparison) {
    struct row {
        cell value, other;
        int op;
        int answer;
    };
    const row rows[] = {
        {float_cell(0.1 + 0.2), float_cell(0.3), 0, 0},     // =
        {float_cell(0.1 + 0.2), float_cell(0.3), 1, 0},     // <> is false
        {float_cell(0.1 + 0.2), float_cell(0.3), 2, 1},     // == is exact
        {float_cell(0.1 + 0.2), float_cell(0.3), 5, 1},     // ordering is exact
        {float_cell(0.5), percent_cell(0.5), 0, 0},
        {float_cell(0.5), percent_cell(0.5), 2, 1},         // different types are never ==
        {float_cell(0.5), percent_cell(0.5), 12, 1},
        {float_cell(0.5), percent_cell(0.5), 9, 1},
        {float_cell(0.0), float_cell(-0.0), 2, 0},
        {float_cell(0.0), float_cell(-0.0), 9, 1},          // same? compares the bits
        {float_cell(NAN_VALUE), float_cell(NAN_VALUE), 9, 0},
        {float_cell(2.0), int_cell(2), 0, 0},
        {float_cell(2.5), int_cell(2), 5, 1},
        {float_cell(2.5), int_cell(3), 3, -1},
        {time_cell(60.0), float_cell(60.0), 0, 0},
        {float_cell(1.0), char_cell(1), 0, -2},
        {float_cell(1.0), cell{TYPE_NONE, 0, 0, 0}, 3, -2},
        {float_cell(1.0), cell{TYPE_MONEY, 0, 0, 0}, 0, 1},  // the money module answers: not $0
        // NaN: every ordering false, never equal (find and select included).
        {float_cell(NAN_VALUE), float_cell(1.0), 3, 1},
        {float_cell(NAN_VALUE), float_cell(1.0), 4, 1},
        {float_cell(NAN_VALUE), float_cell(1.0), 5, -1},
        {float_cell(NAN_VALUE), float_cell(1.0), 6, -1},
        {float_cell(1.0), float_cell(NAN_VALUE), 3, 1},
        {float_cell(NAN_VALUE), float_cell(NAN_VALUE), 0, 1},
        {float_cell(NAN_VALUE), float_cell(NAN_VALUE), 2, 1},
        {float_cell(NAN_VALUE), float_cell(NAN_VALUE), 12, 1},
        {float_cell(NAN_VALUE), float_cell(1.0), 7, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(describe(r.value) + " vs " + describe(r.other) + " op " + std::to_string(r.op));
        cell value = r.value, other = r.other;
        EXPECT_EQ(actions::dispatch_compare(&value, &other, r.op), r.answer);
    }
    // Through the generic comparison: none of the four orderings holds with a NaN.
    for (int op = 3; op <= 6; ++op) {
        cell value = float_cell(NAN_VALUE), other = float_cell(0.0);
        EXPECT_FALSE(actions::compare(&value, &other, op)) << op;
    }
}

// A money comparator standing in for the money module: money values hold a double in
// words 2-3 here, and a float! compares with them by value.
int compare_with_fake_money(cell* number, cell* other, int op) {
    double a = number->is(TYPE_INTEGER) ? static_cast<int32_t>(number->w2) : float_::get(number);
    double b = float_::get(other);
    if (op <= 2 || op == 12) return a == b ? 0 : 1;
    return (a > b) - (a < b);
}

TEST_F(Float, ComparisonWithMoneyOutsideItsRange) {
    integer::foreign_comparator saved = integer::comparator_of(TYPE_MONEY);
    integer::register_comparator(TYPE_MONEY, &compare_with_fake_money);
    struct row {
        double value;
        double money;
        int op;
        int answer;
    };
    const row rows[] = {
        {1e-6, 0.0, 5, 1},       // between zero and the smallest amount
        {-1e-6, 0.0, 3, -1},
        {1e-6, 0.00001, 3, -1},
        {1e-6, -5.0, 5, 1},
        {-1e-6, 5.0, 3, -1},
        {1e-6, 0.0, 0, 1},       // and equal to none
        {1e17, 99999.0, 5, 1},   // beyond every amount on its side
        {-1e17, 99999.0, 3, -1},
        {-1e17, -99999.0, 3, -1},
        {2.5, 2.5, 0, 0},        // in range: the money module answers
        {2.5, 3.0, 3, -1},
        {NAN_VALUE, 1.0, 3, 1},
        {NAN_VALUE, 1.0, 0, 1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.value) + " vs $" + std::to_string(r.money) + " op " + std::to_string(r.op));
        cell value = float_cell(r.value);
        cell money = number_cell(TYPE_MONEY, r.money);
        EXPECT_EQ(actions::dispatch_compare(&value, &money, r.op), r.answer);
    }
    cell integer_value = int_cell(3), money = number_cell(TYPE_MONEY, 3.0);
    EXPECT_EQ(actions::dispatch_compare(&integer_value, &money, 0), 0);
    integer::register_comparator(TYPE_MONEY, saved);
}

// --- Arithmetic ------------------------------------------------------------------------------------

TEST_F(Float, MathCoreResultsAndTypes) {
    struct row {
        const char* what;
        action a;
        cell left, right;
        type_id type;
        double value;
        int error;
    };
    const row rows[] = {
        {"50% + 1", ACTION_ADD, percent_cell(0.5), int_cell(1), TYPE_PERCENT, 1.5, NO_ERROR},
        {"1.5 + 1", ACTION_ADD, float_cell(1.5), int_cell(1), TYPE_FLOAT, 2.5, NO_ERROR},
        {"10.0 + 0:00:05", ACTION_ADD, float_cell(10.0), time_cell(5.0), TYPE_TIME, 15.0, NO_ERROR},
        {"50% * 0:01", ACTION_MULTIPLY, percent_cell(0.5), time_cell(60.0), TYPE_TIME, 30.0, NO_ERROR},
        {"0:01 / 2", ACTION_DIVIDE, time_cell(60.0), int_cell(2), TYPE_TIME, 30.0, NO_ERROR},
        {"0.1 + 0.2", ACTION_ADD, float_cell(0.1), float_cell(0.2), TYPE_FLOAT, 0.1 + 0.2, NO_ERROR},
        {"2.0 - 50%", ACTION_SUBTRACT, float_cell(2.0), percent_cell(0.5), TYPE_FLOAT, 1.5, NO_ERROR},
        {"1.0 / 0", ACTION_DIVIDE, float_cell(1.0), int_cell(0), TYPE_FLOAT, INF, NO_ERROR},
        {"-1.0 / 0", ACTION_DIVIDE, float_cell(-1.0), int_cell(0), TYPE_FLOAT, -INF, NO_ERROR},
        {"0.0 / 0", ACTION_DIVIDE, float_cell(0.0), int_cell(0), TYPE_FLOAT, NAN_VALUE, NO_ERROR},
        {"5.0 // 0", ACTION_REMAINDER, float_cell(5.0), int_cell(0), TYPE_FLOAT, NAN_VALUE, NO_ERROR},
        {"5.5 // 1.#INF", ACTION_REMAINDER, float_cell(5.5), float_cell(INF), TYPE_FLOAT, 5.5, NO_ERROR},
        {"1.#INF // 2", ACTION_REMAINDER, float_cell(INF), int_cell(2), TYPE_FLOAT, NAN_VALUE, NO_ERROR},
        {"5.5 // NaN", ACTION_REMAINDER, float_cell(5.5), float_cell(NAN_VALUE), TYPE_FLOAT, NAN_VALUE, NO_ERROR},
        {"-7.5 // 2", ACTION_REMAINDER, float_cell(-7.5), int_cell(2), TYPE_FLOAT, -1.5, NO_ERROR},
        {"7.5 // -2", ACTION_REMAINDER, float_cell(7.5), int_cell(-2), TYPE_FLOAT, 1.5, NO_ERROR},
        {"1.5 + #\"A\"", ACTION_ADD, float_cell(1.5), char_cell('A'), TYPE_FLOAT, 66.5, NO_ERROR},
        {"50% + #\"A\"", ACTION_ADD, percent_cell(0.5), char_cell('A'), TYPE_NONE, 0, code(err::script_invalid_type)},
        {"0:01 + #\"A\"", ACTION_ADD, time_cell(60.0), char_cell('A'), TYPE_NONE, 0, code(err::script_invalid_type)},
        {"1.5 + none", ACTION_ADD, float_cell(1.5), cell{TYPE_NONE, 0, 0, 0}, TYPE_NONE, 0,
         code(err::script_invalid_type)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        EXPECT_EQ(o.error, r.error);
        if (r.error == NO_ERROR) {
            expect_number(o.value, r.type, r.value);
        }
    }
    EXPECT_EQ(type_registry::handler_of(TYPE_FLOAT, ACTION_AND_T), nullptr);
    // An op code beyond remainder is no float operation.
    EXPECT_EQ(testing::raised_code([] { float_::do_math(1.0, 2.0, integer::OP_XOR); }),
              code(err::script_invalid_type));
}

// The op code of an arithmetic action.
int op_of(action a) {
    switch (a) {
        case ACTION_ADD: return integer::OP_ADD;
        case ACTION_SUBTRACT: return integer::OP_SUBTRACT;
        case ACTION_MULTIPLY: return integer::OP_MULTIPLY;
        case ACTION_DIVIDE: return integer::OP_DIVIDE;
        default: return integer::OP_REMAINDER;
    }
}

int last_core_op = -1;
cell* recording_core(int op) {
    last_core_op = op;
    return stack::argument(0);
}

TEST_F(Float, CompoundRightOperandsAreSwappedOrRefused) {
    const type_id compounds[] = {TYPE_PAIR, TYPE_POINT2D, TYPE_POINT3D, TYPE_TUPLE, TYPE_MONEY, TYPE_VECTOR};
    integer::math_core saved[TYPE_TABLE_SIZE];
    for (type_id t : compounds) {
        saved[t] = integer::math_core_of(t);
        // A type whose module registered no core is an invalid operand.
        integer::register_math_core(t, nullptr);
        EXPECT_EQ(call_simple(ACTION_ADD, float_cell(1.5), cell{t, 9, 0, 0}).error, code(err::script_invalid_type))
            << t;
        integer::register_math_core(t, &recording_core);
    }
    struct row {
        action a;
        cell left;
        type_id right;
        int error;
        type_id left_after;  // the cell the core saw on the left
    };
    const row rows[] = {
        {ACTION_ADD, float_cell(1.5), TYPE_PAIR, NO_ERROR, TYPE_PAIR},
        {ACTION_MULTIPLY, percent_cell(0.5), TYPE_POINT2D, NO_ERROR, TYPE_POINT2D},
        {ACTION_SUBTRACT, float_cell(1.5), TYPE_PAIR, code(err::script_not_related), TYPE_NONE},
        {ACTION_DIVIDE, float_cell(1.5), TYPE_POINT3D, code(err::script_not_related), TYPE_NONE},
        {ACTION_REMAINDER, float_cell(1.5), TYPE_PAIR, code(err::script_not_related), TYPE_NONE},
        {ACTION_ADD, time_cell(1.5), TYPE_PAIR, code(err::script_invalid_type), TYPE_NONE},
        {ACTION_SUBTRACT, float_cell(1.5), TYPE_TUPLE, NO_ERROR, TYPE_FLOAT},  // the tuple core decides
        {ACTION_DIVIDE, float_cell(1.5), TYPE_MONEY, NO_ERROR, TYPE_FLOAT},
        {ACTION_ADD, float_cell(1.5), TYPE_VECTOR, NO_ERROR, TYPE_FLOAT},
        {ACTION_ADD, int_cell(3), TYPE_PAIR, NO_ERROR, TYPE_PAIR},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(describe(r.left) + " with " + std::to_string(r.right));
        // Payload words 2 and 3 stay 0: for a series type they are its nodes, which the
        // collector follows.
        last_core_op = -1;
        outcome o = call_simple(r.a, r.left, cell{r.right, 9, 0, 0});
        EXPECT_EQ(o.error, r.error);
        EXPECT_EQ(last_core_op, r.error == NO_ERROR ? op_of(r.a) : -1);
        if (r.error == code(err::script_not_related)) {
            EXPECT_EQ(o.arg2.w1, r.right);  // the compound's datatype is named
        }
        if (r.error != NO_ERROR) continue;
        EXPECT_EQ(o.value.type(), r.left_after);
    }
    for (type_id t : compounds) integer::register_math_core(t, saved[t]);
}

// --- Rounding ------------------------------------------------------------------------------------

struct round_flags {
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};
round_flags flags_of(const std::string& mode) {
    round_flags f;
    f.even = mode == "even";
    f.down = mode == "down";
    f.half_down = mode == "half-down";
    f.floor = mode == "floor";
    f.ceiling = mode == "ceiling";
    f.half_ceiling = mode == "half-ceiling";
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

TEST_F(Float, RoundingToWholeNumbersMatchesPythonDecimalModes) {
    for (const float_rounding_case& c : FLOAT_ROUNDING_CASES) {
        double x = std::bit_cast<double>(c.bits);
        SCOPED_TRACE(std::to_string(x) + " " + c.mode);
        outcome o = round_value(float_cell(x), nullptr, flags_of(c.mode));
        ASSERT_EQ(o.error, NO_ERROR);
        ASSERT_EQ(o.value.type(), TYPE_FLOAT);
        EXPECT_EQ(float_::get(&o.value), std::bit_cast<double>(c.result));  // either zero sign
    }
}

TEST_F(Float, RoundingEdges) {
    struct row {
        const char* what;
        cell value;
        cell scale;  // none: no /to
        const char* mode;
        type_id type;
        double result;
        int error;
    };
    const cell none{TYPE_NONE, 0, 0, 0};
    const double tiny = std::numeric_limits<double>::denorm_min();
    const row rows[] = {
        {"round 2.5", float_cell(2.5), none, "default", TYPE_FLOAT, 3.0, NO_ERROR},
        {"round -2.5", float_cell(-2.5), none, "default", TYPE_FLOAT, -3.0, NO_ERROR},
        {"round/even 2.5", float_cell(2.5), none, "even", TYPE_FLOAT, 2.0, NO_ERROR},
        {"round/even 3.5", float_cell(3.5), none, "even", TYPE_FLOAT, 4.0, NO_ERROR},
        {"round/half-down 2.5", float_cell(2.5), none, "half-down", TYPE_FLOAT, 2.0, NO_ERROR},
        {"round/half-ceiling -2.5", float_cell(-2.5), none, "half-ceiling", TYPE_FLOAT, -2.0, NO_ERROR},
        {"round/down -2.7", float_cell(-2.7), none, "down", TYPE_FLOAT, -2.0, NO_ERROR},
        {"round/to 1.2345 0.01", float_cell(1.2345), float_cell(0.01), "default", TYPE_FLOAT, 1.23, NO_ERROR},
        {"round/to 12.7 1", float_cell(12.7), int_cell(1), "default", TYPE_INTEGER, 13, NO_ERROR},
        {"round/to -12.5 1", float_cell(-12.5), int_cell(1), "default", TYPE_INTEGER, -13, NO_ERROR},
        {"round/to 17.0 5", float_cell(17.0), int_cell(-5), "default", TYPE_INTEGER, 15, NO_ERROR},
        {"round/to 7.0 2.5", float_cell(7.0), float_cell(2.5), "default", TYPE_FLOAT, 7.5, NO_ERROR},
        {"round/floor/to -7.0 2.5", float_cell(-7.0), float_cell(2.5), "floor", TYPE_FLOAT, -7.5, NO_ERROR},
        {"round 12.345% to whole percents", percent_cell(0.12345), none, "default", TYPE_PERCENT, 0.12, NO_ERROR},
        {"round/to 12.345% 10%", percent_cell(0.12345), percent_cell(0.1), "default", TYPE_PERCENT, 0.123, NO_ERROR},
        {"round/to 12.5% 1.0", percent_cell(0.125), float_cell(1.0), "default", TYPE_FLOAT, 0.13, NO_ERROR},
        {"round/to 90.4 0:01", float_cell(90.4), time_cell(60.0), "default", TYPE_TIME, 120.0, NO_ERROR},
        {"below the value's precision", float_cell(1e20), float_cell(1e-10), "default", TYPE_FLOAT, 1e20, NO_ERROR},
        {"scale 0 keeps the value", float_cell(2.75), float_cell(0.0), "default", TYPE_FLOAT, 2.75, NO_ERROR},
        {"scale 0 of zero", float_cell(0.0), float_cell(0.0), "default", TYPE_FLOAT, 0.0, NO_ERROR},
        {"subnormal scale", float_cell(1e-310), float_cell(tiny), "default", TYPE_FLOAT, 1e-310, NO_ERROR},
        {"three subnormal units", float_cell(7 * tiny), float_cell(3 * tiny), "default", TYPE_FLOAT, 6 * tiny,
         NO_ERROR},
        {"infinity stays", float_cell(INF), none, "default", TYPE_FLOAT, INF, NO_ERROR},
        {"to 1e308 overflows", float_cell(1.7e308), float_cell(1e308), "default", TYPE_NONE, 0,
         code(err::math_overflow)},
        {"integer scale out of range", float_cell(3e9), int_cell(1), "default", TYPE_NONE, 0,
         code(err::script_type_limit)},
        {"integer scale of NaN", float_cell(NAN_VALUE), int_cell(1), "default", TYPE_NONE, 0,
         code(err::script_type_limit)},
        {"money scale", float_cell(1.5), cell{TYPE_MONEY, 0, 0, 0}, "default", TYPE_NONE, 0,
         code(err::script_not_related)},
        {"string scale", float_cell(1.5), cell{TYPE_STRING, 0, 0, 0}, "default", TYPE_NONE, 0,
         code(err::script_invalid_type)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = round_value(r.value, r.scale.is(TYPE_NONE) ? nullptr : &r.scale, flags_of(r.mode));
        EXPECT_EQ(o.error, r.error);
        if (r.error == NO_ERROR) {
            expect_number(o.value, r.type, r.result);
        }
    }
}

// --- Conversions -----------------------------------------------------------------------------------

cell* push_string(const std::u32string& text, type_id type = TYPE_STRING) {
    cell* s = string::push_empty();
    for (char32_t c : text) string::append_codepoint(s, static_cast<uint32_t>(c));
    cell::set_type(s, type);
    return s;
}

cell* push_binary(const std::string& bytes) {
    cell* b = stack::push_slot();
    cell::init_unset(b);
    b->w2 = memory::alloc_bytes(static_cast<int64_t>(bytes.size()));
    b->header = TYPE_BINARY;
    if (!bytes.empty()) {
        std::memcpy(memory::reserve_tail_bytes(memory::buffer_of(b->w2), static_cast<int64_t>(bytes.size())),
                    bytes.data(), bytes.size());
    }
    return b;
}

cell* push_block(std::initializer_list<cell> values, type_id type = TYPE_BLOCK) {
    cell* b = stack::push_slot();
    block::make_in(b, 4);
    for (const cell& v : values) block::append_copy(b, &v);
    cell::set_type(b, type);
    return b;
}

template <typename Maker> outcome convert(type_id target, Maker make_spec) {
    return run([&] {
        cell type{TYPE_DATATYPE, target, 0, 0};
        cell* value = stack::push_copy(&type);
        cell* spec = make_spec();
        if (spec != value + 1) spec = stack::push_copy(spec);
        return handler_of<ACTION_TO>(target)(value, spec, target);
    });
}

// The lexer's one-value scanner stand-in: numbers and percent texts only.
bool scan_number_text(const char* utf8, int64_t length, cell* out) {
    std::string text(utf8, static_cast<size_t>(length));
    if (text == "50%") {
        *out = percent_cell(0.5);
    } else if (text == "50") {
        *out = int_cell(50);
    } else if (text == "word") {
        *out = cell{TYPE_WORD, 0, 0, 0};
    } else {
        return false;
    }
    return true;
}

TEST_F(Float, ConversionsToFloatAndPercent) {
    struct row {
        const char* what;
        type_id target;
        std::function<cell*()> spec;
        double value;
        int error;
    };
    auto cell_of = [](cell c) { return [c] { return stack::push_copy(&c); }; };
    const int bad_to_arg = code(err::script_bad_to_arg);
    const row rows[] = {
        {"integer", TYPE_FLOAT, cell_of(int_cell(-5)), -5.0, NO_ERROR},
        {"char", TYPE_FLOAT, cell_of(char_cell('A')), 65.0, NO_ERROR},
        {"percent to float", TYPE_FLOAT, cell_of(percent_cell(0.5)), 0.5, NO_ERROR},
        {"float to percent", TYPE_PERCENT, cell_of(float_cell(0.25)), 0.25, NO_ERROR},
        {"time", TYPE_FLOAT, cell_of(time_cell(90.5)), 90.5, NO_ERROR},
        {"#{3FF0000000000000}", TYPE_FLOAT, [] { return push_binary(std::string("\x3F\xF0\0\0\0\0\0\0", 8)); },
         1.0, NO_ERROR},
        {"#{3FF0}: the low end", TYPE_FLOAT, [] { return push_binary("\x3F\xF0"); },
         std::bit_cast<double>(uint64_t(0x3FF0)), NO_ERROR},
        {"nine bytes read eight", TYPE_FLOAT, [] { return push_binary(std::string("\x40\0\0\0\0\0\0\0\x01", 9)); },
         2.0, NO_ERROR},
        {"#{}", TYPE_FLOAT, [] { return push_binary(""); }, 0.0, NO_ERROR},
        {"[15 -1]", TYPE_FLOAT, [] { return push_block({int_cell(15), int_cell(-1)}); }, 1.5, NO_ERROR},
        {"[2.5 2.9]", TYPE_FLOAT, [] { return push_block({float_cell(2.5), float_cell(2.9)}); }, 250.0, NO_ERROR},
        {"(1 1e300)", TYPE_FLOAT, [] { return push_block({int_cell(1), float_cell(1e300)}, TYPE_PAREN); }, INF,
         NO_ERROR},
        {"[1 \"2\"]", TYPE_FLOAT, [] { return push_block({int_cell(1), char_cell('2')}); }, 0, bad_to_arg},
        {"[1 2 3]", TYPE_FLOAT, [] { return push_block({int_cell(1), int_cell(2), int_cell(3)}); }, 0, bad_to_arg},
        {"[]", TYPE_PERCENT, [] { return push_block({}); }, 0, bad_to_arg},
        {"\"1,5\"", TYPE_FLOAT, [] { return push_string(U"1,5"); }, 1.5, NO_ERROR},
        {"\"-1'000.25\" as a file", TYPE_FLOAT, [] { return push_string(U"-1'000.25", TYPE_FILE); }, -1000.25,
         NO_ERROR},
        {"a two-byte character", TYPE_FLOAT, [] { return push_string(U"\u4e00", TYPE_STRING); }, 0, bad_to_arg},
        {"\"\"", TYPE_FLOAT, [] { return push_string(U""); }, 0, bad_to_arg},
        {"\"abc\"", TYPE_FLOAT, [] { return push_string(U"abc"); }, 0, bad_to_arg},
        {"none", TYPE_FLOAT, cell_of(cell{TYPE_NONE, 0, 0, 0}), 0, bad_to_arg},
        {"$0", TYPE_FLOAT, cell_of(cell{TYPE_MONEY, 0, 0, 0}), 0, NO_ERROR},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = convert(r.target, r.spec);
        EXPECT_EQ(o.error, r.error);
        if (r.error == NO_ERROR) {
            expect_number(o.value, r.target, r.value);
        }
        if (r.error == bad_to_arg) {
            EXPECT_EQ(o.arg1.type(), TYPE_DATATYPE);
            EXPECT_EQ(o.arg1.w1, r.target);
        }
    }
    // Text to percent! goes through the lexer's one-value scanner.
    decltype(upcalls::scan_text) saved = upcalls::scan_text;
    upcalls::scan_text = nullptr;
    EXPECT_EQ(convert(TYPE_PERCENT, [] { return push_string(U"50%"); }).error, code(err::internal_not_done));
    upcalls::scan_text = &scan_number_text;
    expect_number(convert(TYPE_PERCENT, [] { return push_string(U"50%"); }).value, TYPE_PERCENT, 0.5);
    expect_number(convert(TYPE_PERCENT, [] { return push_string(U"50"); }).value, TYPE_PERCENT, 50.0);
    EXPECT_EQ(convert(TYPE_PERCENT, [] { return push_string(U"word"); }).error, bad_to_arg);
    EXPECT_EQ(convert(TYPE_PERCENT, [] { return push_string(U"?"); }).error, bad_to_arg);
    upcalls::scan_text = saved;
}

// --- Small actions ---------------------------------------------------------------------------------

TEST_F(Float, SignParityAndPower) {
    auto negate = handler_of<ACTION_NEGATE>(TYPE_FLOAT);
    struct negate_row {
        double value, negated;
    };
    const negate_row negations[] = {{0.0, 0.0}, {-0.0, 0.0}, {1.5, -1.5}, {-INF, INF}};
    for (const negate_row& r : negations) {
        cell value = float_cell(r.value);
        EXPECT_EQ(bits(float_::get(negate(&value))), bits(r.negated)) << r.value;
    }
    struct absolute_row {
        cell value;
        double absolute;
    };
    const absolute_row absolutes[] = {{float_cell(-1.5), 1.5}, {float_cell(-0.0), 0.0}, {percent_cell(-0.5), 0.5}};
    for (const absolute_row& r : absolutes) {
        outcome o = call_simple(ACTION_ABSOLUTE, r.value, cell{TYPE_NONE, 0, 0, 0});
        expect_number(o.value, r.value.type(), r.absolute);
    }

    struct parity_row {
        double value;
        int even;
        int error;
    };
    const parity_row parities[] = {
        {2.7, 1, NO_ERROR}, {-3.2, 0, NO_ERROR}, {-0.5, 1, NO_ERROR}, {2147483647.9, 0, NO_ERROR},
        {-2147483648.9, 1, NO_ERROR}, {2147483648.0, 0, code(err::math_overflow)},
        {1e10, 0, code(err::math_overflow)}, {NAN_VALUE, 0, code(err::math_overflow)},
        {-INF, 0, code(err::math_overflow)},
    };
    for (const parity_row& r : parities) {
        SCOPED_TRACE(r.value);
        int even = -1, odd = -1;
        cell value = float_cell(r.value);
        EXPECT_EQ(testing::raised_code([&] { even = handler_of<ACTION_EVEN_Q>(TYPE_FLOAT)(&value); }), r.error);
        EXPECT_EQ(testing::raised_code([&] { odd = handler_of<ACTION_ODD_Q>(TYPE_FLOAT)(&value); }), r.error);
        if (r.error == NO_ERROR) {
            EXPECT_EQ(even, r.even);
            EXPECT_EQ(odd, 1 - r.even);
        }
    }

    struct power_row {
        cell base, exponent;
        double result;
        int error;
    };
    const power_row powers[] = {
        {float_cell(2.0), int_cell(3), 8.0, NO_ERROR},
        {float_cell(4.0), float_cell(0.5), 2.0, NO_ERROR},
        {percent_cell(0.5), int_cell(2), 0.25, NO_ERROR},  // the base keeps its type
        {float_cell(-8.0), float_cell(1.0 / 3.0), NAN_VALUE, NO_ERROR},
        {float_cell(2.0), percent_cell(0.5), 0, code(err::script_expect_arg)},
    };
    for (const power_row& r : powers) {
        outcome o = call_simple(ACTION_POWER, r.base, r.exponent);
        EXPECT_EQ(o.error, r.error);
        if (r.error == NO_ERROR) {
            expect_number(o.value, r.base.type(), r.result);
        }
    }

    struct rounded_row {
        double value;
        int32_t result;
        int error;
    };
    const rounded_row rounded[] = {
        {2.5, 3, NO_ERROR}, {2.4999999999999996, 2, NO_ERROR}, {-2.5, -2, NO_ERROR}, {-2.6, -2, NO_ERROR},
        {2147483646.6, 2147483647, NO_ERROR}, {2147483647.5, 0, code(err::math_overflow)},
        {NAN_VALUE, 0, code(err::math_overflow)},
    };
    for (const rounded_row& r : rounded) {
        int32_t got = 0;
        EXPECT_EQ(testing::raised_code([&] { got = float_::to_int_rounded(r.value); }), r.error) << r.value;
        if (r.error == NO_ERROR) {
            EXPECT_EQ(got, r.result) << r.value;
        }
    }
}

TEST_F(Float, RandomDraws) {
    auto random = handler_of<ACTION_RANDOM>(TYPE_FLOAT);
    cell seed = float_cell(1.5);
    EXPECT_EQ(random(&seed, true, false, false)->type(), TYPE_UNSET);
    for (bool secure : {false, true}) {
        for (int i = 0; i < 200; ++i) {
            cell value = float_cell(10.0);
            double drawn = float_::get(random(&value, false, secure, false));
            EXPECT_TRUE(drawn >= 0.0 && drawn <= 10.0) << drawn;
            cell negative = percent_cell(-2.0);
            cell* result = random(&negative, false, secure, false);
            EXPECT_EQ(result->type(), TYPE_PERCENT);
            EXPECT_TRUE(float_::get(result) <= 0.0 && float_::get(result) >= -2.0);
        }
    }
}

TEST_F(Float, RegisteredActionSlots) {
    const action float_actions[] = {ACTION_MAKE, ACTION_RANDOM, ACTION_TO, ACTION_FORM, ACTION_MOLD,
                                    ACTION_COMPARE, ACTION_ABSOLUTE, ACTION_ADD, ACTION_DIVIDE, ACTION_MULTIPLY,
                                    ACTION_NEGATE, ACTION_POWER, ACTION_REMAINDER, ACTION_ROUND, ACTION_SUBTRACT,
                                    ACTION_EVEN_Q, ACTION_ODD_Q};
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        auto act = static_cast<action>(a);
        bool expected = std::find(std::begin(float_actions), std::end(float_actions), act) != std::end(float_actions);
        EXPECT_EQ(type_registry::handler_of(TYPE_FLOAT, act) != nullptr, expected) << a;
        EXPECT_EQ(type_registry::handler_of(TYPE_PERCENT, act) != nullptr, expected) << a;
        // percent! shares everything with float! but its text.
        if (act != ACTION_FORM && act != ACTION_MOLD) {
            EXPECT_EQ(type_registry::handler_of(TYPE_PERCENT, act), type_registry::handler_of(TYPE_FLOAT, act)) << a;
        } else {
            EXPECT_NE(type_registry::handler_of(TYPE_PERCENT, act), type_registry::handler_of(TYPE_FLOAT, act)) << a;
        }
    }
    EXPECT_STREQ(type_registry::type_entries[TYPE_PERCENT].name, "percent!");
}

TEST_F(Float, CellBuilders) {
    cell* pushed = float_::push(2.5);
    EXPECT_EQ(pushed->type(), TYPE_FLOAT);
    EXPECT_EQ(float_::get(pushed), 2.5);
    uint64_t pattern = bits(-1.25);
    cell* halves = float_::push_halves(static_cast<uint32_t>(pattern), static_cast<uint32_t>(pattern >> 32));
    EXPECT_EQ(float_::get(halves), -1.25);
    cell* percent = percent::push(0.5);
    EXPECT_EQ(percent->type(), TYPE_PERCENT);
    cell* b = push_block({});
    float_::append_to_block(b, static_cast<uint32_t>(pattern), static_cast<uint32_t>(pattern >> 32));
    percent::make_in_block(b, 0.75);
    percent::make_in_block(b, static_cast<uint32_t>(pattern), static_cast<uint32_t>(pattern >> 32));
    ASSERT_EQ(block::rest_length(b), 3);
    expect_number(*block::get_cell(b, 0), TYPE_FLOAT, -1.25);
    expect_number(*block::get_cell(b, 1), TYPE_PERCENT, 0.75);
    expect_number(*block::get_cell(b, 2), TYPE_PERCENT, -1.25);
    stack::state.args_base = pushed;
    float_::set_result(7.0);
    expect_number(*pushed, TYPE_FLOAT, 7.0);
    EXPECT_TRUE(float_::is_nan(NAN_VALUE));
    EXPECT_FALSE(float_::is_nan(INF));
    EXPECT_TRUE(float_::is_not_finite(-INF));
    EXPECT_FALSE(float_::is_not_finite(1e308));
    EXPECT_EQ(float_::abs(-0.0), 0.0);
    EXPECT_FALSE(std::signbit(float_::abs(-0.0)));
}

}  // namespace
}  // namespace zor
