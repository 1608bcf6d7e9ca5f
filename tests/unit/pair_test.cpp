// pair!: coordinate-wise integer arithmetic and its hand-over to point2D!, numbers on the
// left through the integer and float cores, conversions, text, comparison, accessors,
// rounding and random coordinates.
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "tests/unit/scalar_fixture.h"
#include "runtime/value/upcalls.h"

namespace zor {
namespace {

using namespace scalar_testing;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

cell pair_cell(int32_t x, int32_t y) { return cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)}; }
cell point_cell(float x, float y) {
    return cell{TYPE_POINT2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), 0};
}
float point_x(const cell& c) { return std::bit_cast<float>(c.w1); }
float point_y(const cell& c) { return std::bit_cast<float>(c.w2); }

// Stands in for the point2D! core: records what the pair core handed over.
struct point_call {
    int op = -1;
    cell left{}, right{};
} last_point_call;
cell* recording_point_core(int op) {
    last_point_call = {op, *stack::argument(0), *stack::argument(1)};
    return stack::argument(0);
}

class Pair : public ScalarTest {
protected:
    void SetUp() override {
        ScalarTest::SetUp();
        saved_core_ = integer::math_core_of(TYPE_POINT2D);
        integer::register_math_core(TYPE_POINT2D, &recording_point_core);
        last_point_call = point_call{};
    }
    void TearDown() override { integer::register_math_core(TYPE_POINT2D, saved_core_); }

private:
    integer::math_core saved_core_ = nullptr;
};

TEST_F(Pair, IntegerArithmeticStaysAPair) {
    const struct {
        const char* what;
        action a;
        cell left, right;
        int32_t x, y;
    } rows[] = {
        {"1x2 + 3x4", ACTION_ADD, pair_cell(1, 2), pair_cell(3, 4), 4, 6},
        {"1x2 * 3", ACTION_MULTIPLY, pair_cell(1, 2), int_cell(3), 3, 6},
        {"10x20 / 2", ACTION_DIVIDE, pair_cell(10, 20), int_cell(2), 5, 10},
        {"10x-20 - 3x4", ACTION_SUBTRACT, pair_cell(10, -20), pair_cell(3, 4), 7, -24},
        {"10x-7 // 3", ACTION_REMAINDER, pair_cell(10, -7), int_cell(3), 1, -1},
        {"1x2 + 1.9 (truncated)", ACTION_ADD, pair_cell(1, 2), float_cell(1.9), 2, 3},
        {"1x2 - -1.9 (toward zero)", ACTION_SUBTRACT, pair_cell(1, 2), float_cell(-1.9), 2, 3},
        {"10x21 // 250% (truncated to 2)", ACTION_REMAINDER, pair_cell(10, 21), percent_cell(2.5), 0, 1},
        {"6x5 and~ 3", ACTION_AND_T, pair_cell(6, 5), int_cell(3), 2, 1},
        {"6x5 or~ 3x8", ACTION_OR_T, pair_cell(6, 5), pair_cell(3, 8), 7, 13},
        {"6x5 xor~ 3", ACTION_XOR_T, pair_cell(6, 5), int_cell(3), 5, 6},
        {"-2147483648x0 // -2 ", ACTION_REMAINDER, pair_cell(INT32_MIN, 0), int_cell(-2), 0, 0},
        // Numbers on the left reach the pair core through the integer and float cores.
        {"3 + 1x2", ACTION_ADD, int_cell(3), pair_cell(1, 2), 4, 5},
        {"3 - 1x2", ACTION_SUBTRACT, int_cell(3), pair_cell(1, 2), 2, 1},
        {"3 * 1x2", ACTION_MULTIPLY, int_cell(3), pair_cell(1, 2), 3, 6},
        {"2.5 + 1x2", ACTION_ADD, float_cell(2.5), pair_cell(1, 2), 3, 4},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        ASSERT_EQ(o.error, NO_ERROR);
        EXPECT_EQ(o.value.type(), TYPE_PAIR);
        EXPECT_EQ(pair::x_of(&o.value), r.x);
        EXPECT_EQ(pair::y_of(&o.value), r.y);
        EXPECT_EQ(last_point_call.op, -1);
    }
}

TEST_F(Pair, FloatProductsAndQuotientsBecomePoints) {
    const struct {
        const char* what;
        action a;
        cell left, right;
        float x, y;
    } rows[] = {
        {"1x2 * 1.5", ACTION_MULTIPLY, pair_cell(1, 2), float_cell(1.5), 1.5f, 3.0f},
        {"1x2 * 50%", ACTION_MULTIPLY, pair_cell(1, 2), percent_cell(0.5), 0.5f, 1.0f},
        {"3x4 / 0.5", ACTION_DIVIDE, pair_cell(3, 4), float_cell(0.5), 6.0f, 8.0f},
        {"1x-2 / 0.0", ACTION_DIVIDE, pair_cell(1, -2), float_cell(0.0), INFINITY, -INFINITY},
        {"1x2 / 1.#INF", ACTION_DIVIDE, pair_cell(1, 2), float_cell(INF), 0.0f, 0.0f},
        {"1.5 * 1x2", ACTION_MULTIPLY, float_cell(1.5), pair_cell(1, 2), 1.5f, 3.0f},
        // Each product is computed in double and rounded once to single precision.
        {"16777217x1 * 1.0", ACTION_MULTIPLY, pair_cell(16777217, 1), float_cell(1.0), 16777216.0f, 1.0f},
        // Beyond the single range: the largest single, or an infinity from the halfway point.
        {"1x-1 * 3.4028235e38", ACTION_MULTIPLY, pair_cell(1, -1), float_cell(3.4028235e38), FLT_MAX, -FLT_MAX},
        {"1x-1 * 3.5e38", ACTION_MULTIPLY, pair_cell(1, -1), float_cell(3.5e38), INFINITY, -INFINITY},
        {"2x1 * 1e300", ACTION_MULTIPLY, pair_cell(2, 1), float_cell(1e300), INFINITY, INFINITY},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        ASSERT_EQ(o.error, NO_ERROR);
        EXPECT_EQ(o.value.type(), TYPE_POINT2D);
        EXPECT_EQ(point_x(o.value), r.x);
        EXPECT_EQ(point_y(o.value), r.y);
        EXPECT_EQ(last_point_call.op, -1);  // computed here, not by the point core
    }
}

TEST_F(Pair, ResultsThatCannotStayIntegralGoToThePointCore) {
    const struct {
        const char* what;
        action a;
        cell left, right;
        int op;
        float lx, ly, rx, ry;  // the two points the core received
    } rows[] = {
        {"3x4 / 2 (inexact)", ACTION_DIVIDE, pair_cell(3, 4), int_cell(2), 3, 3.0f, 4.0f, 2.0f, 2.0f},
        {"2147483647x0 + 1x0", ACTION_ADD, pair_cell(INT32_MAX, 0), pair_cell(1, 0), 0, 2147483648.0f, 0.0f, 1.0f,
         0.0f},
        {"0x65536 * 65536", ACTION_MULTIPLY, pair_cell(0, 65536), int_cell(65536), 2, 0.0f, 65536.0f, 65536.0f,
         65536.0f},
        {"-2147483648x1 - 1.5", ACTION_SUBTRACT, pair_cell(INT32_MIN, 1), float_cell(1.5), 1, -2147483648.0f, 1.0f,
         1.0f, 1.0f},
        {"1x2 + point", ACTION_ADD, pair_cell(1, 2), point_cell(0.5f, 0.25f), 0, 1.0f, 2.0f, 0.5f, 0.25f},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        ASSERT_EQ(o.error, NO_ERROR);
        EXPECT_EQ(last_point_call.op, r.op);
        EXPECT_EQ(last_point_call.left.type(), TYPE_POINT2D);
        EXPECT_EQ(last_point_call.right.type(), TYPE_POINT2D);
        EXPECT_EQ(point_x(last_point_call.left), r.lx);
        EXPECT_EQ(point_y(last_point_call.left), r.ly);
        EXPECT_EQ(point_x(last_point_call.right), r.rx);
        EXPECT_EQ(point_y(last_point_call.right), r.ry);
    }
}

TEST_F(Pair, ArithmeticErrors) {
    const struct {
        const char* what;
        action a;
        cell left, right;
        int error;
    } rows[] = {
        {"1x2 * 1.#INF", ACTION_MULTIPLY, pair_cell(1, 2), float_cell(INF), code(err::script_invalid_arg)},
        {"1x2 * NaN", ACTION_MULTIPLY, pair_cell(1, 2), float_cell(NAN_VALUE), code(err::script_invalid_arg)},
        {"1x2 / NaN", ACTION_DIVIDE, pair_cell(1, 2), float_cell(NAN_VALUE), code(err::script_invalid_arg)},
        {"1x2 + -1.#INF", ACTION_ADD, pair_cell(1, 2), float_cell(-INF), code(err::script_invalid_arg)},
        // A finite float beyond 32 bits is never converted: it overflows.
        {"1x2 + 1e20", ACTION_ADD, pair_cell(1, 2), float_cell(1e20), code(err::math_overflow)},
        {"1x2 and~ -3e9", ACTION_AND_T, pair_cell(1, 2), float_cell(-3e9), code(err::math_overflow)},
        {"1x2 / 0", ACTION_DIVIDE, pair_cell(1, 2), int_cell(0), code(err::math_zero_divide)},
        {"1x2 // 0x1", ACTION_REMAINDER, pair_cell(1, 2), pair_cell(0, 1), code(err::math_zero_divide)},
        {"1x2 // 0.4 (truncated to 0)", ACTION_REMAINDER, pair_cell(1, 2), float_cell(0.4), code(err::math_zero_divide)},
        {"-2147483648x0 / -1", ACTION_DIVIDE, pair_cell(INT32_MIN, 0), int_cell(-1), code(err::math_overflow)},
        {"1x2 + 0:00:01", ACTION_ADD, pair_cell(1, 2), time_cell(1.0), code(err::script_invalid_type)},
        {"1x2 + none", ACTION_ADD, pair_cell(1, 2), none_cell, code(err::script_invalid_type)},
        {"1x2 + 1.2.3", ACTION_ADD, pair_cell(1, 2), cell{TYPE_TUPLE | (3u << 19), 0x030201, 0, 0},
         code(err::script_invalid_type)},
        {"3 / 1x2", ACTION_DIVIDE, int_cell(3), pair_cell(1, 2), code(err::script_not_related)},
        {"1.5 - 1x2", ACTION_SUBTRACT, float_cell(1.5), pair_cell(1, 2), code(err::script_not_related)},
        {"0:00:01 + 1x2", ACTION_ADD, time_cell(1.0), pair_cell(1, 2), code(err::script_invalid_type)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(call_simple(r.a, r.left, r.right).error, r.error);
        EXPECT_EQ(last_point_call.op, -1);
    }
}

TEST_F(Pair, NegateAbsoluteReverse) {
    cell* p = stack::push_copy(&static_cast<const cell&>(pair_cell(INT32_MIN, 5)));
    // negate wraps: -2147483648 stays itself.
    handler_of<ACTION_NEGATE>(TYPE_PAIR)(p);
    EXPECT_EQ(pair::x_of(p), INT32_MIN);
    EXPECT_EQ(pair::y_of(p), -5);
    outcome o = run([&] {
        stack::push_copy(p);
        return reinterpret_cast<cell* (*)()>(type_registry::handler_of(TYPE_PAIR, ACTION_ABSOLUTE))();
    });
    EXPECT_EQ(o.error, code(err::math_overflow));
    cell q = pair_cell(-3, 4);
    o = run([&] {
        stack::push_copy(&q);
        return reinterpret_cast<cell* (*)()>(type_registry::handler_of(TYPE_PAIR, ACTION_ABSOLUTE))();
    });
    EXPECT_EQ(o.error, NO_ERROR);
    EXPECT_EQ(pair::x_of(&o.value), 3);
    EXPECT_EQ(pair::y_of(&o.value), 4);
    cell r = pair_cell(1, 2);
    handler_of<ACTION_REVERSE>(TYPE_PAIR)(&r, nullptr, nullptr);
    EXPECT_EQ(pair::x_of(&r), 2);
    EXPECT_EQ(pair::y_of(&r), 1);
}

TEST_F(Pair, MakeAndTo) {
    const struct {
        const char* what;
        cell spec;
        int error;
        int32_t x, y;
    } rows[] = {
        {"pair", pair_cell(7, -8), NO_ERROR, 7, -8},
        {"3", int_cell(3), NO_ERROR, 3, 3},
        {"2.7", float_cell(2.7), NO_ERROR, 2, 2},
        {"-2.7", float_cell(-2.7), NO_ERROR, -2, -2},
        {"point", point_cell(1.9f, -3.5f), NO_ERROR, 1, -3},
        {"point with an infinity", point_cell(INFINITY, 1.0f), code(err::script_invalid_arg), 0, 0},
        {"point with a NaN", point_cell(1.0f, NAN), code(err::script_invalid_arg), 0, 0},
        {"point beyond 32 bits", point_cell(3e9f, 1.0f), code(err::math_overflow), 0, 0},
        {"float beyond 32 bits", float_cell(-3e9), code(err::math_overflow), 0, 0},
        {"NaN", float_cell(NAN_VALUE), code(err::math_overflow), 0, 0},
        {"percent", percent_cell(0.5), code(err::script_bad_to_arg), 0, 0},
        {"none", none_cell, code(err::script_bad_to_arg), 0, 0},
    };
    for (action a : {ACTION_MAKE, ACTION_TO}) {
        for (const auto& r : rows) {
            SCOPED_TRACE(r.what);
            outcome o = call_make(a, TYPE_PAIR, r.spec);
            EXPECT_EQ(o.error, r.error);
            if (r.error == code(err::script_bad_to_arg)) {
                EXPECT_EQ(o.arg1.type(), TYPE_DATATYPE);
                EXPECT_EQ(o.arg1.w1, TYPE_PAIR);
            }
            if (r.error != NO_ERROR) continue;
            EXPECT_EQ(o.value.type(), TYPE_PAIR);
            EXPECT_EQ(pair::x_of(&o.value), r.x);
            EXPECT_EQ(pair::y_of(&o.value), r.y);
        }
    }
}

TEST_F(Pair, MakeFromBlocks) {
    const struct {
        const char* what;
        std::vector<cell> values;
        int error;
        int32_t x, y;
    } rows[] = {
        {"[1 2]", {int_cell(1), int_cell(2)}, NO_ERROR, 1, 2},
        {"[1.9 -2.9 extra]", {float_cell(1.9), float_cell(-2.9), none_cell}, NO_ERROR, 1, -2},
        {"[1]", {int_cell(1)}, code(err::syntax_malconstruct), 0, 0},
        {"[]", {}, code(err::syntax_malconstruct), 0, 0},
        {"[1 none]", {int_cell(1), none_cell}, code(err::syntax_malconstruct), 0, 0},
        {"[1 1e10]", {int_cell(1), float_cell(1e10)}, code(err::math_overflow), 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = run([&] {
            cell proto = datatype_cell(TYPE_PAIR);
            cell* result = stack::push_copy(&proto);
            cell* spec = stack::push_slot();
            block::make_in(spec, 4);
            for (const cell& v : r.values) block::append_copy(spec, &v);
            return handler_of<ACTION_MAKE>(TYPE_PAIR)(result, spec, TYPE_PAIR);
        });
        EXPECT_EQ(o.error, r.error);
        if (r.error == code(err::syntax_malconstruct)) { EXPECT_EQ(o.arg1.type(), TYPE_BLOCK); }
        if (r.error != NO_ERROR) continue;
        EXPECT_EQ(pair::x_of(&o.value), r.x);
        EXPECT_EQ(pair::y_of(&o.value), r.y);
    }
}

// Stands in for the lexer: "7x8" loads as a pair, anything else as an integer.
bool fake_scanner(const char* utf8, int64_t length, cell* out) {
    std::string text(utf8, static_cast<size_t>(length));
    *out = text == "7x8" ? pair_cell(7, 8) : int_cell(1);
    return true;
}

TEST_F(Pair, MakeFromTextLoadsOneValue) {
    decltype(upcalls::scan_text) saved = upcalls::scan_text;
    auto from_text = [](const char* text) {
        return run([&] {
            cell proto = datatype_cell(TYPE_PAIR);
            cell* result = stack::push_copy(&proto);
            cell* spec = string::load_onto_stack(unicode::input_bytes::at(text),
                                                 static_cast<int64_t>(std::strlen(text)), string::ENCODING_UTF8);
            return handler_of<ACTION_TO>(TYPE_PAIR)(result, spec, TYPE_PAIR);
        });
    };
    upcalls::scan_text = nullptr;
    EXPECT_EQ(from_text("7x8").error, code(err::internal_not_done));
    upcalls::scan_text = &fake_scanner;
    outcome o = from_text("7x8");
    EXPECT_EQ(o.error, NO_ERROR);
    EXPECT_EQ(pair::x_of(&o.value), 7);
    EXPECT_EQ(pair::y_of(&o.value), 8);
    o = from_text("12");
    EXPECT_EQ(o.error, code(err::script_bad_to_arg));
    EXPECT_EQ(o.arg2.type(), TYPE_STRING);
    upcalls::scan_text = saved;
}

TEST_F(Pair, TextForms) {
    const struct {
        cell value;
        const char* text;
    } rows[] = {
        {pair_cell(10, -20), "10x-20"},
        {pair_cell(0, 0), "0x0"},
        {pair_cell(INT32_MIN, INT32_MAX), "-2147483648x2147483647"},
    };
    for (const auto& r : rows) {
        text_result f = form(r.value, 50);
        text_result m = mold(r.value, true, false, 50);
        EXPECT_EQ(f.text, r.text);
        EXPECT_EQ(m.text, r.text);
        EXPECT_EQ(f.budget, 50 - static_cast<int>(f.text.size()));
        EXPECT_EQ(m.budget, f.budget);
    }
}

TEST_F(Pair, CompareXFirstThenY) {
    const struct {
        cell left, right;
        int answer;
    } rows[] = {
        {pair_cell(1, 5), pair_cell(2, 0), -1},  // x decides first
        {pair_cell(INT32_MAX, 0), pair_cell(-1, 0), 1},
        {pair_cell(3, -1), pair_cell(3, 2), -1},
        {pair_cell(3, 2), pair_cell(3, 2), 0},
        {pair_cell(3, 2), int_cell(3), -2},
    };
    for (const auto& r : rows) {
        cell left = r.left, right = r.right;
        for (int op : {0, 1, 2, 3, 7, 9, 12}) EXPECT_EQ(actions::dispatch_compare(&left, &right, op), r.answer);
    }
    cell a = pair_cell(1, 5), b = pair_cell(2, 0);
    EXPECT_TRUE(actions::compare(&a, &b, 3));
}

TEST_F(Pair, ComparingWithAPointLeavesThePair) {
    action_entry& slot = type_registry::action_table[TYPE_POINT2D * type_registry::ROW_SIZE + ACTION_COMPARE - 1];
    action_entry saved = slot;
    static cell seen{};
    slot = reinterpret_cast<action_entry>(+[](cell* value, cell* /*other*/, int op) {
        seen = *value;
        return op;
    });
    cell p = pair_cell(3, -4);
    cell point = point_cell(1.0f, 2.0f);
    EXPECT_EQ(actions::dispatch_compare(&p, &point, 5), 5);
    EXPECT_EQ(seen.type(), TYPE_POINT2D);
    EXPECT_EQ(point_x(seen), 3.0f);
    EXPECT_EQ(point_y(seen), -4.0f);
    EXPECT_EQ(p.type(), TYPE_PAIR);
    EXPECT_EQ(pair::y_of(&p), -4);
    slot = saved;
}

TEST_F(Pair, PickAndPaths) {
    cell* p = stack::push_copy(&static_cast<const cell&>(pair_cell(10, -20)));
    cell* x = push_word("x");
    cell* upper_y = push_word("Y");
    cell* other = push_word("z");
    cell* path = push_word("p");  // stands for the path in the error

    // pick by index, logic and word.
    const struct {
        cell* index_cell;
        int index;
        int error;
        int32_t value;
    } picks[] = {
        {nullptr, 1, NO_ERROR, 10},
        {nullptr, 2, NO_ERROR, -20},
        {x, 0, NO_ERROR, 10},
        {upper_y, 0, NO_ERROR, -20},
        {other, 0, code(err::script_cannot_use), 0},
        {nullptr, 3, code(err::script_out_of_range), 0},
        {nullptr, 0, code(err::script_out_of_range), 0},
    };
    for (const auto& r : picks) {
        outcome o = run([&] {
            cell* index_cell = r.index_cell ? r.index_cell : stack::push_copy(&static_cast<const cell&>(int_cell(r.index)));
            return handler_of<ACTION_PICK>(TYPE_PAIR)(p, r.index, index_cell);
        });
        EXPECT_EQ(o.error, r.error) << r.index;
        if (r.error == code(err::script_cannot_use)) {
            EXPECT_EQ(o.arg1.w2, other->w2);
            EXPECT_EQ(o.arg2.type(), TYPE_PAIR);
        }
        if (r.error == NO_ERROR) { EXPECT_EQ(static_cast<int32_t>(o.value.w2), r.value); }
    }

    auto eval_path = handler_of<ACTION_EVAL_PATH>(TYPE_PAIR);
    auto path_step = [&](cell* element, cell* value) {
        return run([&] { return eval_path(p, element, value, path, nullptr, nullptr, 1, 0, false, true, false); });
    };
    cell* one = stack::push_copy(&static_cast<const cell&>(int_cell(1)));
    cell* three = stack::push_copy(&static_cast<const cell&>(int_cell(3)));
    cell* new_x = stack::push_copy(&static_cast<const cell&>(int_cell(99)));
    cell* new_float = stack::push_copy(&static_cast<const cell&>(float_cell(1.5)));
    EXPECT_EQ(static_cast<int32_t>(path_step(upper_y, nullptr).value.w2), -20);
    EXPECT_EQ(static_cast<int32_t>(path_step(one, nullptr).value.w2), 10);
    outcome bad = path_step(three, nullptr);
    EXPECT_EQ(bad.error, code(err::script_invalid_path));
    EXPECT_EQ(bad.arg1.w2, path->w2);
    EXPECT_EQ(bad.arg2.w2, 3u);
    EXPECT_EQ(path_step(other, nullptr).error, code(err::script_invalid_path));
    EXPECT_EQ(path_step(x, new_float).error, code(err::script_invalid_type));
    EXPECT_EQ(pair::x_of(p), 10);
    outcome set = path_step(x, new_x);
    EXPECT_EQ(set.error, NO_ERROR);
    EXPECT_EQ(pair::x_of(p), 99);
    EXPECT_EQ(pair::y_of(p), -20);
}

TEST_F(Pair, Round) {
    auto round = handler_of<ACTION_ROUND>(TYPE_PAIR);
    const struct {
        const char* what;
        cell value;
        cell scale;  // none for no /to
        bool even, down, floor;
        int error;
        int32_t x, y;
    } rows[] = {
        {"round/to 17x-17 5", pair_cell(17, -17), int_cell(5), false, false, false, NO_ERROR, 15, -15},
        {"round/to 18x5 5", pair_cell(18, 5), int_cell(5), false, false, false, NO_ERROR, 20, 5},
        {"round/even/to 5x7 2", pair_cell(5, 7), int_cell(2), true, false, false, NO_ERROR, 4, 8},
        {"round/floor/to -17x17 5", pair_cell(-17, 17), int_cell(5), false, false, true, NO_ERROR, -20, 15},
        {"round/to 17x17 5x10", pair_cell(17, 17), pair_cell(5, 10), false, false, false, NO_ERROR, 15, 20},
        {"round/to 7x12 2.5", pair_cell(7, 12), float_cell(2.5), false, false, false, NO_ERROR, 7, 12},
        {"round/down/to 7x-7 2.5", pair_cell(7, -7), float_cell(2.5), false, true, false, NO_ERROR, 5, -5},
        {"round/to 2000000000x0 3e9 (not 32 bits)", pair_cell(2000000000, 0), float_cell(3e9), false, false, false,
         code(err::math_overflow), 0, 0},
        {"round/to 2147483647x0 10", pair_cell(INT32_MAX, 0), int_cell(10), false, false, false,
         code(err::math_overflow), 0, 0},
        {"round/to money", pair_cell(1, 1), cell{TYPE_MONEY, 0, 0, 0}, false, false, false,
         code(err::script_not_related), 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = run([&] {
            cell* v = stack::push_copy(&r.value);
            cell* s = r.scale.is(TYPE_NONE) ? nullptr : stack::push_copy(&r.scale);
            return round(v, s, r.even, r.down, false, r.floor, false, false);
        });
        EXPECT_EQ(o.error, r.error);
        if (r.error != NO_ERROR) continue;
        EXPECT_EQ(o.value.type(), TYPE_PAIR);
        EXPECT_EQ(pair::x_of(&o.value), r.x);
        EXPECT_EQ(pair::y_of(&o.value), r.y);
    }
}

TEST_F(Pair, RandomCoordinates) {
    auto random_action = handler_of<ACTION_RANDOM>(TYPE_PAIR);
    cell seed = pair_cell(12, 34);
    EXPECT_EQ(random_action(&seed, true, false, false)->type(), TYPE_UNSET);
    random::seed(12 ^ 34);
    int32_t expected_x = random::pick_int(10, false);
    int32_t expected_y = random::pick_int(-5, false);
    random_action(&seed, true, false, false);
    cell p = pair_cell(10, -5);
    random_action(&p, false, false, false);
    EXPECT_EQ(pair::x_of(&p), expected_x);
    EXPECT_EQ(pair::y_of(&p), expected_y);
    for (int i = 0; i < 200; ++i) {
        cell q = pair_cell(0, 3);
        random_action(&q, false, i % 2 == 1, false);
        EXPECT_EQ(pair::x_of(&q), 0);  // a zero coordinate stays 0
        EXPECT_GE(pair::y_of(&q), 1);
        EXPECT_LE(pair::y_of(&q), 3);
    }
}

TEST_F(Pair, Builders) {
    cell* pushed = pair::push(-1, 2);
    EXPECT_EQ(pushed->type(), TYPE_PAIR);
    EXPECT_EQ(pushed->w1, 0u);
    cell* block = stack::push_slot();
    block::make_in(block, 2);
    pair::make_in_block(block, 5, 6);
    EXPECT_EQ(block::rest_length(block), 1);
    EXPECT_EQ(pair::y_of(block::get_cell(block, 0)), 6);
    EXPECT_EQ(pair::int_from_number(&static_cast<const cell&>(float_cell(-7.9))), -7);
    cell to_point = pair_cell(-3, 2147483647);
    pair::to_point2d(&to_point);
    EXPECT_EQ(to_point.type(), TYPE_POINT2D);
    EXPECT_EQ(point_x(to_point), -3.0f);
    EXPECT_EQ(point_y(to_point), 2147483648.0f);
}

}  // namespace
}  // namespace zor
