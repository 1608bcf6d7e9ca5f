// The math natives and the output natives print and prin, each as a table of cases run
// through the natives table's entries (type tests on, as the interpreter calls them).
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "runtime/datatypes/money.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/text/output-hooks.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/interpreter_fixture.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code_of;
using testing::molded;
using testing::raise_of;

using enum natives::native_index;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double PI = 3.141592653589793;

std::string error_text(err e) { return "error " + std::to_string(code_of(e)); }

// Scalar cells (no series, so they may live outside the stack).
cell int_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
cell float_cell(double d) {
    cell c{TYPE_FLOAT, 0, 0, 0};
    float_::store(&c, d);
    return c;
}
cell typed_double(type_id type, double d) {
    cell c = float_cell(d);
    cell::set_type(&c, type);
    return c;
}
cell percent_cell(double d) { return typed_double(TYPE_PERCENT, d); }
cell time_cell(double seconds) { return typed_double(TYPE_TIME, seconds); }
cell pair_cell(int32_t x, int32_t y) { return cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)}; }
cell char_cell(uint32_t c) { return cell{TYPE_CHAR, 0, c, 0}; }
cell tuple_cell(std::vector<uint8_t> bytes) {
    uint8_t all[tuple::MAX_LENGTH] = {};
    for (size_t i = 0; i < bytes.size(); ++i) all[i] = bytes[i];
    cell c;
    tuple::make_at(&c, static_cast<int>(bytes.size()), all);
    return c;
}
cell point_cell(type_id type, float x, float y, float z = 0.0f) {
    return cell{type, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                type == TYPE_POINT3D ? std::bit_cast<uint32_t>(z) : 0u};
}
// A zero amount without currency.
cell money_cell() { return cell{TYPE_MONEY, 0, 0, 0}; }

class NativesMathTest : public testing::stack_fixture {
protected:
    // Calls the native as the interpreter does (a call frame named by its word, the
    // arguments from the new base, refinement positions, the check flag) and answers a
    // slot below the call holding its result. Scalar arguments come as cells; series
    // arguments are written in the code notation (source), read after every allocation of
    // the set-up so that no node reference goes stale before the call.
    cell* run(int index, const std::vector<cell>& arguments, std::vector<int32_t> refinements = {},
              bool check = true, const char* source = nullptr) {
        refinements.resize(static_cast<size_t>(natives::refinement_count(index)), -1);
        cell* out = stack::push_slot();
        cell::init_unset(out);
        cell* saved_base = stack::state.args_base;
        stack::frame* saved_frames = stack::state.frames_top;
        cell* word = word::push_global(symbol::make(natives::spec_of(index)->name));
        cell* series = source ? testing::code(source) : nullptr;
        stack::push_call_frame(word);
        if (series) {
            for (int64_t i = 0; i < block::rest_length(series); ++i) stack::push_copy(block::get_cell(series, i));
        }
        for (const cell& argument : arguments) stack::push_copy(&argument);
        uint32_t exit = natives::call(index, refinements.data(), int32_t(refinements.size()), check);
        EXPECT_EQ(exit, 0u);
        *out = *stack::result_slot();
        stack::state.args_base = saved_base;
        stack::state.args_top = out + 1;
        stack::state.frames_top = saved_frames;
        return out;
    }

    // The result molded, or the error as "error <code>".
    std::string outcome(int index, const std::vector<cell>& arguments, std::vector<int32_t> refinements = {},
                        bool check = true, const char* source = nullptr) {
        std::string text;
        testing::raised_error e = raise_of([&] { text = molded(run(index, arguments, refinements, check, source)); });
        return e.code >= 0 ? "error " + std::to_string(e.code) : text;
    }
    // The same with the arguments (series first) written in the code notation.
    std::string outcome_of(int index, const char* source, const std::vector<cell>& more = {}, bool check = true) {
        return outcome(index, more, {}, check, source);
    }

    // The float! result of the call (NaN with a failure when the result is no float!).
    double float_outcome(int index, const std::vector<cell>& arguments, std::vector<int32_t> refinements = {},
                         bool check = true) {
        cell* result = run(index, arguments, refinements, check);
        EXPECT_TRUE(result->is(TYPE_FLOAT)) << molded(result);
        return result->is(TYPE_FLOAT) ? float_::get(result) : NaN;
    }
};

// Makes the point types look registered for the length of a test: their branches run only
// once the points' module has registered a mold action, and this test data reads the
// coordinates straight from the cells.
int fake_point_mold(cell*, cell*, bool, bool, bool, cell*, int budget, int) { return budget; }

class point_types_ready {
public:
    point_types_ready() {
        for (type_id t : {TYPE_POINT2D, TYPE_POINT3D}) {
            action_entry& slot = type_registry::action_table[t * type_registry::ROW_SIZE + ACTION_MOLD - 1];
            saved_.push_back(slot);
            slot = reinterpret_cast<action_entry>(&fake_point_mold);
        }
    }
    ~point_types_ready() {
        int i = 0;
        for (type_id t : {TYPE_POINT2D, TYPE_POINT3D}) {
            type_registry::action_table[t * type_registry::ROW_SIZE + ACTION_MOLD - 1] = saved_[i++];
        }
    }

private:
    std::vector<action_entry> saved_;
};

std::string coordinates(const cell* point) {
    auto text = [](uint32_t bits) {
        float f = std::bit_cast<float>(bits);
        if (std::isnan(f)) return std::string("nan");
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(f));
        return std::string(buffer);
    };
    std::string s = text(point->w1) + "," + text(point->w2);
    if (point->is(TYPE_POINT3D)) s += "," + text(point->w3);
    return (point->is(TYPE_POINT2D) ? "p2(" : point->is(TYPE_POINT3D) ? "p3(" : "?(") + s + ")";
}

// --- Sign tests, zero?, NaN? ------------------------------------------------------------------------

TEST_F(NativesMathTest, SignTestsReadTheNumbersSign) {
    struct sign_case {
        cell value;
        const char* negative;
        const char* positive;
        const char* sign;
    };
    const sign_case cases[] = {
        {int_cell(-5), "true", "false", "-1"},
        {int_cell(0), "false", "false", "0"},
        {int_cell(2147483647), "false", "true", "1"},
        {int_cell(-2147483647 - 1), "true", "false", "-1"},
        {float_cell(2.5), "false", "true", "1"},
        {float_cell(-1e-300), "true", "false", "-1"},
        {float_cell(-0.0), "false", "false", "0"},  // -0.0 has no sign
        {float_cell(NaN), "false", "false", "0"},   // nor has a NaN
        {float_cell(-INF), "true", "false", "-1"},
        {percent_cell(-0.5), "true", "false", "-1"},
        {time_cell(3600.0), "false", "true", "1"},
        {time_cell(-0.5), "true", "false", "-1"},
    };
    for (const sign_case& c : cases) {
        SCOPED_TRACE(molded(&c.value));
        EXPECT_EQ(outcome(NATIVE_NEGATIVE_Q, {c.value}), c.negative);
        EXPECT_EQ(outcome(NATIVE_POSITIVE_Q, {c.value}), c.positive);
        EXPECT_EQ(outcome(NATIVE_SIGN_Q, {c.value}), c.sign);
    }
}

TEST_F(NativesMathTest, SignTestsRefuseOtherTypesAndAskTheMoneyModule) {
    for (int index : {NATIVE_NEGATIVE_Q, NATIVE_POSITIVE_Q, NATIVE_SIGN_Q}) {
        SCOPED_TRACE(index);
        // Refused by the type tests, and by the routine itself when they are skipped.
        EXPECT_EQ(outcome_of(index, "\"abc\""), error_text(err::script_expect_arg));
        EXPECT_EQ(outcome_of(index, "\"abc\"", {}, false), error_text(err::script_expect_arg));
        EXPECT_EQ(outcome(index, {pair_cell(1, 1)}, {}, false), error_text(err::script_expect_arg));
    }
    // money!: its digits decide, not the sign bit of a zero.
    cell negative_zero = money_cell();
    negative_zero.header |= money::SIGN_BIT;
    cell minus_five;
    money::from_integer(&minus_five, -5);
    EXPECT_EQ(outcome(NATIVE_SIGN_Q, {money_cell()}), "0");
    EXPECT_EQ(outcome(NATIVE_SIGN_Q, {negative_zero}), "0");
    EXPECT_EQ(outcome(NATIVE_SIGN_Q, {minus_five}), "-1");
    EXPECT_EQ(outcome(NATIVE_NEGATIVE_Q, {minus_five}), "true");
    EXPECT_EQ(outcome(NATIVE_POSITIVE_Q, {minus_five}), "false");
}

TEST_F(NativesMathTest, ZeroTestsEachTypesZero) {
    struct zero_case {
        cell value;
        const char* expected;
    };
    const zero_case cases[] = {
        {int_cell(0), "true"},
        {int_cell(-1), "false"},
        {char_cell(0), "true"},
        {char_cell('a'), "false"},
        {float_cell(0.0), "true"},
        {float_cell(-0.0), "true"},
        {float_cell(NaN), "false"},
        {float_cell(1e-320), "false"},  // a subnormal is not zero
        {percent_cell(0.0), "true"},
        {time_cell(0.0), "true"},
        {time_cell(0.001), "false"},
        {pair_cell(0, 0), "true"},
        {pair_cell(0, 1), "false"},
        {pair_cell(1, 0), "false"},
        {tuple_cell({0, 0, 0}), "true"},
        {tuple_cell({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "true"},
        {tuple_cell({0, 0, 0, 1}), "false"},
        {tuple_cell({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), "false"},
    };
    for (const zero_case& c : cases) EXPECT_EQ(outcome(NATIVE_ZERO_Q, {c.value}), c.expected) << molded(&c.value);
    // Types outside the argument's type block (reached without the type tests) are simply not zero.
    EXPECT_EQ(outcome(NATIVE_ZERO_Q, {logic::false_value}, {}, false), "false");
    EXPECT_EQ(outcome(NATIVE_ZERO_Q, {none::value}, {}, false), "false");
    cell five;
    money::from_integer(&five, 5);
    EXPECT_EQ(outcome(NATIVE_ZERO_Q, {money_cell()}), "true");
    EXPECT_EQ(outcome(NATIVE_ZERO_Q, {five}), "false");
}

TEST_F(NativesMathTest, NaNTestsFloatsAndPercentsOnly) {
    struct nan_case {
        cell value;
        const char* expected;
    };
    const nan_case cases[] = {
        {float_cell(NaN), "true"},     {float_cell(-NaN), "true"}, {percent_cell(NaN), "true"},
        {float_cell(INF), "false"},    {float_cell(0.0), "false"}, {int_cell(1), "false"},
        {percent_cell(0.25), "false"},
    };
    for (const nan_case& c : cases) EXPECT_EQ(outcome(NATIVE_NAN_Q, {c.value}), c.expected) << molded(&c.value);
}

// --- max, min -------------------------------------------------------------------------------------------

TEST_F(NativesMathTest, MaxAndMinByType) {
    struct max_min_case {
        cell first;
        cell second;
        std::string max;
        std::string min;
    };
    const std::string type_limit = error_text(err::script_type_limit);
    const max_min_case cases[] = {
        // Equal values: max keeps the first, min gives the second.
        {int_cell(1), float_cell(1.0), "1", "1.0"},
        {float_cell(1.0), int_cell(1), "1.0", "1"},
        {int_cell(-3), int_cell(7), "7", "-3"},
        {time_cell(60.0), time_cell(3600.0), "1:00:00", "0:01:00"},
        {percent_cell(0.5), float_cell(0.25), "50%", "0.25"},
        // A NaN wins against any number, on either side.
        {float_cell(NaN), int_cell(1), "1.#NaN", "1.#NaN"},
        {int_cell(1), float_cell(NaN), "1.#NaN", "1.#NaN"},
        {percent_cell(NaN), float_cell(2.0), "1.#NaN", "1.#NaN"},  // the percent! NaN
        // pair! against numbers: the number truncated toward zero, coordinate by coordinate.
        {pair_cell(1, 5), int_cell(3), "3x5", "1x3"},
        {int_cell(3), pair_cell(1, 5), "3x5", "1x3"},
        {pair_cell(1, 5), float_cell(2.9), "2x5", "1x2"},
        {pair_cell(1, 5), float_cell(-2.9), "1x5", "-2x-2"},
        {float_cell(4.5), pair_cell(1, 5), "4x5", "1x4"},
        {pair_cell(1, 5), pair_cell(3, 2), "3x5", "1x2"},
        // Out of the integer range the pair goes on as a point2D!.
        {pair_cell(1, 5), float_cell(1e20), "(1e20, 1e20)", "(1, 5)"},
        {pair_cell(1, 5), float_cell(INF), "(1.#INF, 1.#INF)", "(1, 5)"},
        // tuple! against integer! and float!: clamped to 0..255, byte by byte.
        {tuple_cell({1, 2, 3}), int_cell(2), "2.2.3", "1.2.2"},
        {int_cell(2), tuple_cell({1, 2, 3}), "2.2.3", "1.2.2"},
        {tuple_cell({1, 2, 3}), int_cell(300), "255.255.255", "1.2.3"},
        {tuple_cell({1, 2, 3}), int_cell(-5), "1.2.3", "0.0.0"},
        {tuple_cell({1, 2, 3}), float_cell(2.9), "2.2.3", "1.2.2"},
        {tuple_cell({10, 20, 30, 40}), float_cell(25.0), "25.25.30.40", "10.20.25.25"},
        {tuple_cell({1, 2, 3}), float_cell(1e10), type_limit, type_limit},
        {tuple_cell({1, 2, 3}), float_cell(NaN), type_limit, type_limit},
        {tuple_cell({1, 2, 3}), tuple_cell({3, 2, 1}), "3.2.3", "1.2.1"},
    };
    for (const max_min_case& c : cases) {
        SCOPED_TRACE(molded(&c.first) + " " + molded(&c.second));
        EXPECT_EQ(outcome(NATIVE_MAX, {c.first, c.second}), c.max);
        EXPECT_EQ(outcome(NATIVE_MIN, {c.first, c.second}), c.min);
    }
}

TEST_F(NativesMathTest, MaxAndMinOfOtherValuesFollowTheComparison) {
    EXPECT_EQ(outcome_of(NATIVE_MAX, "\"abc\" \"abd\""), "\"abd\"");
    EXPECT_EQ(outcome_of(NATIVE_MIN, "\"abc\" \"abd\""), "\"abc\"");
    // Equal without regard to case: max keeps the first, min gives the second.
    EXPECT_EQ(outcome_of(NATIVE_MAX, "\"abc\" \"ABC\""), "\"abc\"");
    EXPECT_EQ(outcome_of(NATIVE_MIN, "\"abc\" \"ABC\""), "\"ABC\"");
    EXPECT_EQ(outcome_of(NATIVE_MAX, "[1 2] [1 3]"), "[1 3]");
    EXPECT_EQ(outcome_of(NATIVE_MIN, "[1 2] [1 3]"), "[1 2]");
    // Values that cannot be ordered.
    EXPECT_EQ(outcome_of(NATIVE_MAX, "\"abc\"", {int_cell(1)}), error_text(err::script_invalid_compare));
    // Tuples of different lengths go to the comparison too.
    EXPECT_EQ(outcome(NATIVE_MAX, {tuple_cell({1, 2, 3}), tuple_cell({1, 2, 3, 4})}), "1.2.3.4");
}

// --- Points ---------------------------------------------------------------------------------------------

TEST_F(NativesMathTest, PointsComputeInSinglePrecisionOnceTheirTypesExist) {
    point_types_ready ready;
    auto point_outcome = [&](int index, const std::vector<cell>& arguments) {
        std::string text;
        testing::raised_error e = raise_of([&] { text = coordinates(run(index, arguments)); });
        return e.code >= 0 ? "error " + std::to_string(e.code) : text;
    };
    cell p2 = point_cell(TYPE_POINT2D, 1.0f, 5.0f);
    cell p3 = point_cell(TYPE_POINT3D, 1.0f, 5.0f, -2.0f);
    struct point_case {
        int index;
        std::vector<cell> arguments;
        std::string expected;
    };
    const point_case cases[] = {
        {NATIVE_AS_POINT2D, {int_cell(1), float_cell(2.5)}, "p2(1,2.5)"},
        {NATIVE_AS_POINT2D, {float_cell(0.1), int_cell(16777217)}, "p2(0.1,1.67772e+07)"},
        {NATIVE_AS_POINT2D, {float_cell(1e300), float_cell(-1e300)}, "p2(inf,-inf)"},  // beyond singles
        {NATIVE_AS_POINT2D, {float_cell(3.4028235e38), float_cell(NaN)}, "p2(3.40282e+38,nan)"},
        {NATIVE_AS_POINT2D, {float_cell(3.5e38), int_cell(0)}, "p2(inf,0)"},
        {NATIVE_AS_POINT3D, {int_cell(1), int_cell(2), float_cell(-3.25)}, "p3(1,2,-3.25)"},
        {NATIVE_MAX, {p2, int_cell(3)}, "p2(3,5)"},
        {NATIVE_MIN, {p2, int_cell(3)}, "p2(1,3)"},
        {NATIVE_MAX, {int_cell(3), p2}, "p2(3,5)"},  // the point goes first
        {NATIVE_MAX, {p2, point_cell(TYPE_POINT2D, 4.0f, -1.0f)}, "p2(4,5)"},
        {NATIVE_MIN, {p2, percent_cell(2.0)}, "p2(1,2)"},
        {NATIVE_MAX, {point_cell(TYPE_POINT2D, 1.0f, NAN), int_cell(0)}, "p2(1,nan)"},
        {NATIVE_MIN, {p2, float_cell(NaN)}, "p2(nan,nan)"},  // the point is no number: no NaN rule
        {NATIVE_MAX, {p3, float_cell(0.0)}, "p3(1,5,0)"},
        {NATIVE_MIN, {p3, point_cell(TYPE_POINT3D, 2.0f, 2.0f, 2.0f)}, "p3(1,2,-2)"},
        // A pair against a float beyond the integer range goes on as a point2D!.
        {NATIVE_MAX, {pair_cell(1, 5), float_cell(1e20)}, "p2(1e+20,1e+20)"},
        {NATIVE_MIN, {pair_cell(1, 5), float_cell(1e20)}, "p2(1,5)"},
        {NATIVE_MAX, {pair_cell(1, 5), float_cell(-INF)}, "p2(1,5)"},
        {NATIVE_MAX, {pair_cell(1, 5), float_cell(NaN)}, "p2(nan,nan)"},
    };
    for (const point_case& c : cases) {
        SCOPED_TRACE(natives::spec_of(c.index)->name + (" " + molded(&c.arguments[0])));
        EXPECT_EQ(point_outcome(c.index, c.arguments), c.expected);
    }
    struct zero_case {
        cell value;
        const char* expected;
    };
    const zero_case zeros[] = {
        {point_cell(TYPE_POINT2D, 0.0f, -0.0f), "true"},
        {point_cell(TYPE_POINT2D, 0.0f, 1e-40f), "false"},
        {point_cell(TYPE_POINT3D, 0.0f, 0.0f, 0.0f), "true"},
        {point_cell(TYPE_POINT3D, 0.0f, 0.0f, NAN), "false"},
    };
    for (const zero_case& c : zeros) EXPECT_EQ(outcome(NATIVE_ZERO_Q, {c.value}), c.expected) << coordinates(&c.value);
}

// --- shift, to-hex -------------------------------------------------------------------------------------

TEST_F(NativesMathTest, ShiftLeftLogicalAndArithmetic) {
    enum mode { ARITHMETIC, LEFT, LOGICAL, BOTH };
    struct shift_case {
        int32_t data;
        int32_t bits;
        mode how;
        const char* expected;
    };
    const shift_case cases[] = {
        {-8, 40, ARITHMETIC, "-1"},
        {8, 40, ARITHMETIC, "0"},
        {-8, 40, LOGICAL, "0"},
        {1, 31, LEFT, "-2147483648"},
        {1, 32, LEFT, "0"},
        {3, 2, LEFT, "12"},
        {0x40000001, 1, LEFT, "-2147483646"},  // bits leave at the top
        {16, 2, ARITHMETIC, "4"},
        {-16, 2, ARITHMETIC, "-4"},
        {-16, 2, LOGICAL, "1073741820"},
        {-1, 31, ARITHMETIC, "-1"},
        {-1, 31, LOGICAL, "1"},
        {8, -3, ARITHMETIC, "8"},  // a negative count counts as 0
        {8, -3, LEFT, "8"},
        {-2147483647 - 1, 0, LOGICAL, "-2147483648"},
        {1, 4, BOTH, "16"},  // /left wins over /logical
    };
    for (const shift_case& c : cases) {
        SCOPED_TRACE(std::to_string(c.data) + " by " + std::to_string(c.bits));
        std::vector<int32_t> refinements = {c.how == LEFT || c.how == BOTH ? 2 : -1,
                                            c.how == LOGICAL || c.how == BOTH ? 2 : -1};
        EXPECT_EQ(outcome(NATIVE_SHIFT, {int_cell(c.data), int_cell(c.bits)}, refinements), c.expected);
    }
}

TEST_F(NativesMathTest, ToHexGivesTheTwosComplementDigits) {
    struct hex_case {
        int32_t value;
        int32_t size;  // 0: no /size
        std::string expected;
    };
    const std::string invalid = error_text(err::script_invalid_arg);
    const hex_case cases[] = {
        {-1, 0, "#FFFFFFFF"},
        {255, 0, "#000000FF"},
        {0, 0, "#00000000"},
        {-2147483647 - 1, 0, "#80000000"},
        {0x1234ABCD, 0, "#1234ABCD"},
        {255, 2, "#FF"},
        {255, 10, "#000000FF"},
        {255, 8, "#000000FF"},
        {0x1234ABCD, 3, "#BCD"},
        {-2, 1, "#E"},
        {255, -1, invalid},
        {255, -2147483647 - 1, invalid},
    };
    for (const hex_case& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " size " + std::to_string(c.size));
        if (c.size == 0) EXPECT_EQ(outcome(NATIVE_TO_HEX, {int_cell(c.value), none::value}), c.expected);
        else EXPECT_EQ(outcome(NATIVE_TO_HEX, {int_cell(c.value), int_cell(c.size)}, {1}), c.expected);
    }
    // The error names the length given.
    testing::raised_error e = raise_of([&] { run(NATIVE_TO_HEX, {int_cell(1), int_cell(0)}, {1}); });
    EXPECT_EQ(e.code, code_of(err::script_invalid_arg));
    EXPECT_EQ(e.arg1, "0");
    EXPECT_TRUE(run(NATIVE_TO_HEX, {int_cell(10), none::value})->is(TYPE_ISSUE));
}

// --- Trigonometry, logarithms -------------------------------------------------------------------

TEST_F(NativesMathTest, TrigonometryInDegreesAndRadians) {
    constexpr int R = 1;  // /radians
    struct trig_case {
        int index;
        cell angle;
        int radians;
        double expected;
        bool exact;  // bit for bit (the folding and the cut-off make it so)
    };
    const trig_case cases[] = {
        {NATIVE_SINE, int_cell(0), 0, 0.0, true},
        {NATIVE_SINE, int_cell(30), 0, 0.5, false},
        {NATIVE_SINE, int_cell(90), 0, 1.0, true},
        {NATIVE_SINE, int_cell(150), 0, 0.5, false},   // folded to 30
        {NATIVE_SINE, int_cell(180), 0, 0.0, true},    // folded to 0
        {NATIVE_SINE, int_cell(-210), 0, 0.5, false},  // -210 is 150
        {NATIVE_SINE, int_cell(390), 0, 0.5, false},
        {NATIVE_SINE, int_cell(270), 0, -1.0, true},
        {NATIVE_SINE, float_cell(PI), R, 0.0, true},  // the remainder below the epsilon is cut
        {NATIVE_SINE, float_cell(-PI), R, 0.0, true},
        {NATIVE_SINE, float_cell(-0.0), R, 0.0, true},
        {NATIVE_COSINE, int_cell(0), 0, 1.0, true},
        {NATIVE_COSINE, int_cell(60), 0, 0.5, false},
        {NATIVE_COSINE, int_cell(90), 0, 0.0, true},
        {NATIVE_COSINE, int_cell(180), 0, -1.0, true},
        {NATIVE_COSINE, int_cell(-90), 0, 0.0, true},
        {NATIVE_COSINE, float_cell(PI / 2.0), R, 0.0, true},
        {NATIVE_COSINE, float_cell(1e-300), R, 1.0, true},
        {NATIVE_TANGENT, int_cell(45), 0, 1.0, false},
        {NATIVE_TANGENT, int_cell(90), 0, INF, true},
        {NATIVE_TANGENT, int_cell(-90), 0, -INF, true},
        {NATIVE_TANGENT, int_cell(270), 0, -INF, true},  // 270 is -90
        {NATIVE_TANGENT, int_cell(135), 0, -1.0, false},
        {NATIVE_TANGENT, float_cell(PI / 2.0), R, INF, true},
        {NATIVE_TANGENT, float_cell(PI / -2.0), R, -INF, true},
        {NATIVE_TANGENT, float_cell(0.0), R, 0.0, true},
        {NATIVE_ARCSINE, int_cell(1), 0, 90.0, true},
        {NATIVE_ARCSINE, float_cell(0.5), 0, 30.0, false},
        {NATIVE_ARCSINE, int_cell(1), R, PI / 2.0, true},
        {NATIVE_ARCCOSINE, int_cell(0), 0, 90.0, true},
        {NATIVE_ARCCOSINE, int_cell(-1), 0, 180.0, true},
        {NATIVE_ARCCOSINE, int_cell(1), R, 0.0, true},
        {NATIVE_ARCTANGENT, int_cell(1), 0, 45.0, true},
        {NATIVE_ARCTANGENT, float_cell(INF), R, PI / 2.0, true},
        {NATIVE_ARCTANGENT, float_cell(-INF), 0, -90.0, true},
    };
    for (const trig_case& c : cases) {
        SCOPED_TRACE(std::string(natives::spec_of(c.index)->name) + (c.radians ? "/radians " : " ") +
                     molded(&c.angle));
        double got = float_outcome(c.index, {c.angle}, {c.radians ? 1 : -1});
        if (c.exact) EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(c.expected)) << got;
        else EXPECT_NEAR(got, c.expected, 1e-13);
    }
}

TEST_F(NativesMathTest, TrigonometryOutsideTheDomainGivesNaN) {
    for (int index : {NATIVE_SINE, NATIVE_COSINE, NATIVE_TANGENT}) {
        EXPECT_TRUE(std::isnan(float_outcome(index, {float_cell(INF)}, {-1})));
        EXPECT_TRUE(std::isnan(float_outcome(index, {float_cell(NaN)}, {1})));
    }
    EXPECT_TRUE(std::isnan(float_outcome(NATIVE_ARCSINE, {int_cell(2)}, {-1})));
    EXPECT_TRUE(std::isnan(float_outcome(NATIVE_ARCCOSINE, {float_cell(-1.5)}, {1})));
    // A percent reached without the type tests keeps its number.
    EXPECT_NEAR(float_outcome(NATIVE_SINE, {percent_cell(0.5)}, {1}, false), std::sin(0.5), 1e-16);
    EXPECT_EQ(outcome(NATIVE_SINE, {}, {-1}, false, "\"x\""), error_text(err::script_expect_arg));
    EXPECT_EQ(outcome(NATIVE_SINE, {percent_cell(0.5)}, {-1}), error_text(err::script_expect_arg));
}

TEST_F(NativesMathTest, ArctangentOfTwoTakesTheQuadrant) {
    struct atan2_case {
        cell y;
        cell x;
        bool radians;
        double expected;
    };
    const atan2_case cases[] = {
        {int_cell(1), int_cell(1), false, 45.0},
        {int_cell(0), int_cell(-1), false, 180.0},
        {float_cell(-0.0), int_cell(-1), false, -180.0},
        {int_cell(-1), int_cell(0), false, -90.0},
        {int_cell(-1), int_cell(-1), false, -135.0},
        {int_cell(1), int_cell(0), true, PI / 2.0},
        {int_cell(0), int_cell(0), false, 0.0},
    };
    for (const atan2_case& c : cases) {
        SCOPED_TRACE(molded(&c.y) + " " + molded(&c.x));
        EXPECT_DOUBLE_EQ(float_outcome(NATIVE_ARCTANGENT2, {c.y, c.x}, {c.radians ? 2 : -1}), c.expected);
    }
}

TEST_F(NativesMathTest, LogarithmsAndPowers) {
    struct log_case {
        int index;
        cell value;
        double expected;
    };
    const log_case cases[] = {
        {NATIVE_LOG_2, int_cell(8), 3.0},
        {NATIVE_LOG_2, int_cell(1024), 10.0},
        {NATIVE_LOG_2, percent_cell(0.5), -1.0},
        {NATIVE_LOG_2, int_cell(0), -INF},
        {NATIVE_LOG_10, int_cell(1000), 3.0},
        {NATIVE_LOG_10, float_cell(0.001), -3.0},
        {NATIVE_LOG_10, int_cell(-1), NaN},
        {NATIVE_LOG_E, int_cell(1), 0.0},
        {NATIVE_LOG_E, float_cell(2.718281828459045), 1.0},
        {NATIVE_LOG_E, int_cell(0), -INF},
        {NATIVE_LOG_E, float_cell(INF), INF},
        {NATIVE_EXP, int_cell(0), 1.0},
        {NATIVE_EXP, int_cell(1), 2.718281828459045},
        {NATIVE_EXP, int_cell(-1000), 0.0},
        {NATIVE_EXP, int_cell(1000), INF},
        {NATIVE_EXP, float_cell(NaN), NaN},
        {NATIVE_SQUARE_ROOT, int_cell(16), 4.0},
        {NATIVE_SQUARE_ROOT, float_cell(2.25), 1.5},
        {NATIVE_SQUARE_ROOT, percent_cell(0.25), 0.5},
        {NATIVE_SQUARE_ROOT, int_cell(-1), NaN},
        {NATIVE_SQUARE_ROOT, float_cell(-0.0), -0.0},
    };
    for (const log_case& c : cases) {
        SCOPED_TRACE(std::string(natives::spec_of(c.index)->name) + " " + molded(&c.value));
        double got = float_outcome(c.index, {c.value});
        if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(got)) << got;
        else EXPECT_DOUBLE_EQ(got, c.expected);
    }
    // The result is a float! however the number came.
    EXPECT_EQ(outcome(NATIVE_SQUARE_ROOT, {int_cell(9)}), "3.0");
    EXPECT_EQ(outcome(NATIVE_LOG_10, {percent_cell(1.0)}), "0.0");
}

// --- Constructors ------------------------------------------------------------------------------------

TEST_F(NativesMathTest, AsPairTruncatesFiniteNumbers) {
    const std::string invalid = error_text(err::script_invalid_arg);
    const std::string overflow = error_text(err::math_overflow);
    struct pair_case {
        cell x;
        cell y;
        std::string expected;
    };
    const pair_case cases[] = {
        {int_cell(1), int_cell(2), "1x2"},
        {float_cell(1.9), float_cell(-2.9), "1x-2"},
        {float_cell(-0.5), int_cell(-2147483647 - 1), "0x-2147483648"},
        {float_cell(2147483647.9), int_cell(0), "2147483647x0"},
        {float_cell(INF), int_cell(1), invalid},
        {int_cell(1), float_cell(NaN), invalid},
        {int_cell(1), float_cell(-INF), invalid},
        {float_cell(2147483648.0), int_cell(1), overflow},
        {int_cell(1), float_cell(-1e10), overflow},
    };
    for (const pair_case& c : cases) {
        SCOPED_TRACE(molded(&c.x) + " " + molded(&c.y));
        EXPECT_EQ(outcome(NATIVE_AS_PAIR, {c.x, c.y}), c.expected);
    }
    testing::raised_error e = raise_of([&] { run(NATIVE_AS_PAIR, {int_cell(1), float_cell(INF)}); });
    EXPECT_EQ(e.arg1, "1.#INF");
}

// --- print, prin ------------------------------------------------------------------------------------------

// Captures what reaches the output hooks instead of the console.
std::vector<std::string> printed;
void capture(const cell* string, bool newline) { printed.push_back(string::to_utf8(string) + (newline ? "|nl" : "|")); }

class NativesOutputTest : public testing::interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        printed.clear();
        output_hooks::remove(&output_hooks::print_to_console, nullptr);
        output_hooks::add(&capture, nullptr);
        testing::define_callable("print", TYPE_NATIVE, NATIVE_PRINT, "value [any-type!]");
        testing::define_callable("prin", TYPE_NATIVE, NATIVE_PRIN, "value [any-type!]");
        testing::define_callable("reduce", TYPE_NATIVE, natives::NATIVE_REDUCE,
                                 "value [any-type!] /into out [any-block!]");
        testing::define_callable("square-root", TYPE_NATIVE, NATIVE_SQUARE_ROOT, "value [float! integer! percent!]");
        testing::define_callable("to-hex", TYPE_NATIVE, NATIVE_TO_HEX, "value [integer!] /size length [integer!]");
    }

    int64_t work_length() { return block::rest_length(natives::print_work_block()) + natives::print_work_block()->w1; }
};

TEST_F(NativesOutputTest, PrintFormsTheValueAndPrinLeavesTheLineOpen) {
    struct print_case {
        const char* code;
        std::vector<std::string> expected;
        uint32_t last_newline;
    };
    const print_case cases[] = {
        {"print \"text\"", {"text|nl"}, 1},
        {"prin \"text\"", {"text|"}, 0},
        {"print 42", {"42|nl"}, 1},
        {"print 1.5", {"1.5|nl"}, 1},
        {"print #abc", {"abc|nl"}, 1},
        {"print none", {"none|nl"}, 1},
        {"prin 1 print 2", {"1|", "2|nl"}, 1},
        {"print 1 prin 2", {"1|nl", "2|"}, 0},
        {"print to-hex 255", {"000000FF|nl"}, 1},
        {"print square-root 16", {"4.0|nl"}, 1},
        {"print \"\"", {"|nl"}, 1},
    };
    for (const print_case& c : cases) {
        SCOPED_TRACE(c.code);
        printed.clear();
        natives::last_newline_flag = 7;
        EXPECT_EQ(evaluate(c.code), "unset");
        EXPECT_EQ(printed, c.expected);
        EXPECT_EQ(natives::last_newline_flag, c.last_newline);
    }
}

TEST_F(NativesOutputTest, AStringPrintsFromItsIndexClampedToTheTail) {
    // A string whose index lies past its tail prints as empty, not past the buffer.
    cell* text = string::load_onto_stack(unicode::input_bytes::at("abcdef"), 6, string::ENCODING_UTF8);
    text->w1 = 4;
    stack::frame* frames = stack::state.frames_top;
    cell* base = stack::state.args_base;
    cell* word = word::push_global(symbol::make("print"));
    stack::push_call_frame(word);
    stack::push_copy(text);
    EXPECT_EQ(natives::call(NATIVE_PRINT, nullptr, 0, true), 0u);
    stack::state.args_base = base;
    stack::state.frames_top = frames;
    stack::state.args_top = text + 1;
    string::make_empty(text, 8);  // a shorter series in the same slot, index beyond it
    text->w1 = 3;
    stack::push_call_frame(word);
    stack::push_copy(text);
    EXPECT_EQ(natives::call(NATIVE_PRINT, nullptr, 0, true), 0u);
    stack::state.args_base = base;
    stack::state.frames_top = frames;
    EXPECT_EQ(printed, (std::vector<std::string>{"ef|nl", "|nl"}));
}

TEST_F(NativesOutputTest, APrintedBlockIsReducedThenFormed) {
    struct block_case {
        const char* code;
        std::string expected;
    };
    const block_case cases[] = {
        {"print [1 2 \"a\"]", "1 2 a|nl"},
        {"print [1 + 2 \"x\" square-root 4]", "3 x 2.0|nl"},
        {"print []", "|nl"},
        {"prin [[1 2] [] [3]]", "1 2  3|"},
        {"print [to-hex 10 #a none]", "0000000A a none|nl"},
    };
    for (const block_case& c : cases) {
        SCOPED_TRACE(c.code);
        printed.clear();
        EXPECT_EQ(evaluate(c.code), "unset");
        EXPECT_EQ(printed, std::vector<std::string>{c.expected});
        EXPECT_EQ(work_length(), 0) << "the work block keeps nothing";
        EXPECT_EQ(natives::print_work_block()->w1, 0u);
    }
}

TEST_F(NativesOutputTest, ANestedPrintShowsOnlyItsOwnValues) {
    // The inner print appends after the outer print's values and takes them away again.
    testing::define_function("inner", "", "print [\"in\" 1 + 1] \"r\"");
    testing::define_function("deeper", "", "prin [\"deep\" inner] 7");
    EXPECT_EQ(evaluate("print [\"out\" inner \"end\"]"), "unset");
    EXPECT_EQ(printed, (std::vector<std::string>{"in 2|nl", "out r end|nl"}));
    printed.clear();
    EXPECT_EQ(evaluate("print [1 deeper 2 inner 3]"), "unset");
    EXPECT_EQ(printed, (std::vector<std::string>{"in 2|nl", "deep r|", "in 2|nl", "1 7 2 r 3|nl"}));
    EXPECT_EQ(work_length(), 0);
    EXPECT_EQ(natives::last_newline_flag, 1u);
}

TEST_F(NativesOutputTest, AnExitOrErrorDuringTheReductionLeavesTheWorkBlockAsItWas) {
    // A value already in the work block (an outer print in progress) stays.
    cell seven = cell{TYPE_INTEGER, 0, 7, 0};
    block::append_copy(natives::print_work_block(), &seven);
    natives::print_work_block()->w1 = 1;
    // break leaves the loop through the print: nothing is printed.
    EXPECT_EQ(evaluate("tloop 2 [print [1 2 tbreak 3]] 5"), "5");
    EXPECT_TRUE(printed.empty());
    EXPECT_EQ(work_length(), 1);
    EXPECT_EQ(natives::print_work_block()->w1, 1u);
    // A throw to a catch outside.
    EXPECT_EQ(evaluate("tcatch [print [\"a\" tthrow 9 \"b\"]]"), "9");
    EXPECT_EQ(work_length(), 1);
    // An error.
    testing::raised r = raise_of("print [1 2 no-such-word 3]");
    EXPECT_EQ(r.code, code_of(err::script_no_value));
    EXPECT_TRUE(printed.empty());
    EXPECT_EQ(work_length(), 1);
    EXPECT_EQ(natives::print_work_block()->w1, 1u);
    EXPECT_EQ(molded(block::get_cell(natives::print_work_block(), 0)), "7");
    block::truncate(natives::print_work_block(), 0);
    natives::print_work_block()->w1 = 0;
}

}  // namespace
}  // namespace zor
