// tuple!: byte-wise clamping arithmetic in its three modes, numbers on the left through
// the integer and float cores, conversions, text, comparison, byte access and setting
// through paths, reverse, complement and random bytes.
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/scalar_fixture.h"

namespace zor {
namespace {

using namespace scalar_testing;

constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

cell tuple_of(std::initializer_list<int> bytes) {
    uint8_t b[tuple::MAX_LENGTH] = {};
    int n = 0;
    for (int v : bytes) b[n++] = static_cast<uint8_t>(v);
    cell c{};
    tuple::make_at(&c, n, b);
    return c;
}

std::string text_of(const cell& c) {
    cell copy = c;
    return form(copy).text;
}

class Tuple : public ScalarTest {};

TEST_F(Tuple, ArithmeticClampsEveryByte) {
    const struct {
        const char* what;
        action a;
        cell left, right;
        const char* result;
    } rows[] = {
        // Integer mode.
        {"200.100.50 + 100", ACTION_ADD, tuple_of({200, 100, 50}), int_cell(100), "255.200.150"},
        {"10.20.30 - 50", ACTION_SUBTRACT, tuple_of({10, 20, 30}), int_cell(50), "0.0.0"},
        {"10.20.30 / 3", ACTION_DIVIDE, tuple_of({10, 20, 30}), int_cell(3), "3.6.10"},
        {"10.20.30 // 7", ACTION_REMAINDER, tuple_of({10, 20, 30}), int_cell(7), "3.6.2"},
        {"1.2.3 * 2147483647 (overflow is 255)", ACTION_MULTIPLY, tuple_of({0, 2, 3}), int_cell(INT32_MAX),
         "0.255.255"},
        {"1.2.3 * -2147483648", ACTION_MULTIPLY, tuple_of({1, 2, 3}), int_cell(INT32_MIN), "0.0.0"},
        {"1.2.3 - -2147483648", ACTION_SUBTRACT, tuple_of({1, 2, 3}), int_cell(INT32_MIN), "255.255.255"},
        {"12.10.6 and~ 6", ACTION_AND_T, tuple_of({12, 10, 6}), int_cell(6), "4.2.6"},
        {"12.10.6 or~ 1", ACTION_OR_T, tuple_of({12, 10, 6}), int_cell(1), "13.11.7"},
        {"12.10.6 xor~ 255", ACTION_XOR_T, tuple_of({12, 10, 6}), int_cell(255), "243.245.249"},
        {"1.2.3 or~ 256 (clamped)", ACTION_OR_T, tuple_of({1, 2, 3}), int_cell(256), "255.255.255"},
        // Byte mode: the longer length wins, missing bytes count as 0.
        {"1.2.3 + 1.1.1.1", ACTION_ADD, tuple_of({1, 2, 3}), tuple_of({1, 1, 1, 1}), "2.3.4.1"},
        {"1.2.3.4 - 1.1.1", ACTION_SUBTRACT, tuple_of({1, 2, 3, 4}), tuple_of({1, 1, 1}), "0.1.2.4"},
        {"250.5.5 + 10.10.10", ACTION_ADD, tuple_of({250, 5, 5}), tuple_of({10, 10, 10}), "255.15.15"},
        {"9.9.9 // 2.4.5", ACTION_REMAINDER, tuple_of({9, 9, 9}), tuple_of({2, 4, 5}), "1.1.4"},
        // Float mode: computed in double, clamped before truncation.
        {"1.2.3 * 2.5", ACTION_MULTIPLY, tuple_of({1, 2, 3}), float_cell(2.5), "2.5.7"},
        {"1.2.3 * 1e10", ACTION_MULTIPLY, tuple_of({1, 2, 3}), float_cell(1e10), "255.255.255"},
        {"1.2.3 * -1e300", ACTION_MULTIPLY, tuple_of({1, 2, 3}), float_cell(-1e300), "0.0.0"},
        {"1.2.3 / 0.0", ACTION_DIVIDE, tuple_of({0, 2, 3}), float_cell(0.0), "0.255.255"},
        {"1.2.3 * NaN", ACTION_MULTIPLY, tuple_of({1, 2, 3}), float_cell(NAN_VALUE), "0.0.0"},
        {"100.200.50 * 50%", ACTION_MULTIPLY, tuple_of({100, 200, 50}), percent_cell(0.5), "50.100.25"},
        {"5.6.7 - 0.5", ACTION_SUBTRACT, tuple_of({5, 6, 7}), float_cell(0.5), "4.5.6"},
        // Numbers first: the integer core swaps, the float core hands over as it stands.
        {"100 + 1.2.3", ACTION_ADD, int_cell(100), tuple_of({1, 2, 3}), "101.102.103"},
        {"2 * 1.2.3", ACTION_MULTIPLY, int_cell(2), tuple_of({1, 2, 3}), "2.4.6"},
        {"0.5 * 10.20.30", ACTION_MULTIPLY, float_cell(0.5), tuple_of({10, 20, 30}), "5.10.15"},
        {"1.5 + 1.2.3", ACTION_ADD, float_cell(1.5), tuple_of({1, 2, 3}), "2.3.4"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        ASSERT_EQ(o.error, NO_ERROR);
        EXPECT_EQ(o.value.type(), TYPE_TUPLE);
        EXPECT_EQ(text_of(o.value), r.result);
    }
}

TEST_F(Tuple, ArithmeticErrors) {
    const struct {
        const char* what;
        action a;
        cell left, right;
        int error;
        type_id named;  // the datatype named by the error, if any
    } rows[] = {
        {"1.2.3.4 / 1.1.1 (a missing byte is 0)", ACTION_DIVIDE, tuple_of({1, 2, 3, 4}), tuple_of({1, 1, 1}),
         code(err::math_zero_divide), TYPE_NONE_ID},
        {"1.2.3 / 0", ACTION_DIVIDE, tuple_of({1, 2, 3}), int_cell(0), code(err::math_zero_divide), TYPE_NONE_ID},
        {"1.2.3 // 1.0.1", ACTION_REMAINDER, tuple_of({1, 2, 3}), tuple_of({1, 0, 1}), code(err::math_zero_divide),
         TYPE_NONE_ID},
        {"1.5 - 1.2.3", ACTION_SUBTRACT, float_cell(1.5), tuple_of({1, 2, 3}), code(err::script_not_related),
         TYPE_FLOAT},
        {"50% / 1.2.3", ACTION_DIVIDE, percent_cell(0.5), tuple_of({1, 2, 3}), code(err::script_not_related),
         TYPE_PERCENT},
        {"1.5 // 1.2.3", ACTION_REMAINDER, float_cell(1.5), tuple_of({1, 2, 3}), code(err::script_not_related),
         TYPE_FLOAT},
        {"3 - 1.2.3", ACTION_SUBTRACT, int_cell(3), tuple_of({1, 2, 3}), code(err::script_not_related), TYPE_INTEGER},
        {"1.2.3 and~ 1.5", ACTION_AND_T, tuple_of({1, 2, 3}), float_cell(1.5), code(err::script_invalid_type),
         TYPE_NONE_ID},
        {"1.2.3 + 0:00:01", ACTION_ADD, tuple_of({1, 2, 3}), time_cell(1.0), code(err::script_invalid_type),
         TYPE_TIME},
        {"0:00:01 + 1.2.3", ACTION_ADD, time_cell(1.0), tuple_of({1, 2, 3}), code(err::script_invalid_type),
         TYPE_TIME},
        {"1.2.3 + 1x2", ACTION_ADD, tuple_of({1, 2, 3}), cell{TYPE_PAIR, 0, 1, 2}, code(err::script_invalid_type),
         TYPE_PAIR},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = call_simple(r.a, r.left, r.right);
        EXPECT_EQ(o.error, r.error);
        if (r.error == code(err::script_not_related)) { EXPECT_EQ(o.arg2.w1, r.named); }
        if (r.error == code(err::script_invalid_type) && r.named != TYPE_NONE_ID) { EXPECT_EQ(o.arg1.w1, r.named); }
    }
}

TEST_F(Tuple, Conversions) {
    auto block_of = [](std::vector<cell> values, type_id type = TYPE_BLOCK) {
        return block_spec(std::vector<element>(values.begin(), values.end()), type);
    };
    auto issue = [](const char* name) { return cell{TYPE_ISSUE, 0, static_cast<uint32_t>(symbol::make(name)), 0}; };
    const struct {
        const char* what;
        spec made_from;
        int error;
        const char* result;
    } rows[] = {
        {"[1 2]", block_of({int_cell(1), int_cell(2)}), NO_ERROR, "1.2.0"},
        {"[]", block_of({}), NO_ERROR, "0.0.0"},
        {"(1 #\"A\" 2.9 255.9 -0.5)",
         block_of({int_cell(1), cell{TYPE_CHAR, 0, 'A', 0}, float_cell(2.9), float_cell(255.9), float_cell(-0.5)},
                  TYPE_PAREN),
         NO_ERROR, "1.65.2.255.0"},
        {"[256 0 0]", block_of({int_cell(256), int_cell(0), int_cell(0)}), code(err::script_bad_to_arg), nullptr},
        {"[-1]", block_of({int_cell(-1)}), code(err::script_bad_to_arg), nullptr},
        {"[256.0]", block_of({float_cell(256.0)}), code(err::script_bad_to_arg), nullptr},
        {"[NaN]", block_of({float_cell(NAN_VALUE)}), code(err::script_bad_to_arg), nullptr},
        {"[none]", block_of({none_cell}), code(err::script_bad_to_arg), nullptr},
        {"13 values", block_of(std::vector<cell>(13, int_cell(1))), code(err::script_bad_to_arg), nullptr},
        {"12 values", block_of(std::vector<cell>(12, int_cell(9))), NO_ERROR, "9.9.9.9.9.9.9.9.9.9.9.9"},
        {"#F0A", issue("F0A"), NO_ERROR, "255.0.170"},
        {"#FF000080", issue("FF000080"), NO_ERROR, "255.0.0.128"},
        {"#a0b1c2", issue("a0b1c2"), NO_ERROR, "160.177.194"},
        {"#F0", issue("F0"), code(err::script_invalid_data), nullptr},
        {"#F0G", issue("F0G"), code(err::script_invalid_data), nullptr},
        {"#1234567", issue("1234567"), code(err::script_invalid_data), nullptr},
        {"1.2.3", tuple_of({1, 2, 3}), NO_ERROR, "1.2.3"},
        {"1", int_cell(1), code(err::script_bad_to_arg), nullptr},
    };
    for (action a : {ACTION_MAKE, ACTION_TO}) {
        for (const auto& r : rows) {
            SCOPED_TRACE(r.what);
            outcome o = call_make(a, TYPE_TUPLE, r.made_from);
            EXPECT_EQ(o.error, r.error);
            if (r.error == code(err::script_bad_to_arg)) { EXPECT_EQ(o.arg1.w1, TYPE_TUPLE); }
            if (r.error == NO_ERROR) { EXPECT_EQ(text_of(o.value), r.result); }
        }
    }
}

TEST_F(Tuple, FromBinaryAndInts) {
    const struct {
        std::vector<uint8_t> bytes;
        int index;
        const char* result;
    } rows[] = {
        {{1, 2}, 0, "1.2.0"},
        {{}, 0, "0.0.0"},
        {{9, 8, 7, 6, 5}, 1, "8.7.6.5"},
        {{9, 8, 7}, 7, "0.0.0"},  // an index past the tail reads as the tail
        {std::vector<uint8_t>(15, 4), 0, "4.4.4.4.4.4.4.4.4.4.4.4"},
    };
    for (const auto& r : rows) {
        cell* binary = stack::push_slot();
        string::make_empty(binary, static_cast<int64_t>(r.bytes.size()) + 1);
        string::append_bytes(binary, reinterpret_cast<const char*>(r.bytes.data()),
                             static_cast<int64_t>(r.bytes.size()));
        cell::set_type(binary, TYPE_BINARY);
        binary->w1 = static_cast<uint32_t>(r.index);
        cell result{};
        tuple::from_binary(binary, &result);
        EXPECT_EQ(text_of(result), r.result);
    }
    const int32_t ints[] = {0x1FF, -1, 0x10002, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    EXPECT_EQ(text_of(*tuple::push_from_ints(2, ints)), "255.255.0");
    EXPECT_EQ(text_of(*tuple::push_from_ints(14, ints)), "255.255.2.7.8.9.10.11.12.13.14.15");
    EXPECT_EQ(text_of(*tuple::push(4, 0x04030201, 0, 0)), "1.2.3.4");
    // Bytes beyond the length are not kept.
    cell* short_tuple = tuple::push(3, 0x04030201, 0x05, 0);
    EXPECT_EQ(short_tuple->w1, 0x00030201u);
    EXPECT_EQ(short_tuple->w2, 0u);
    EXPECT_EQ(tuple::test_zero(&static_cast<const cell&>(tuple_of({0, 0, 0, 0}))), 1);
    EXPECT_EQ(tuple::test_zero(&static_cast<const cell&>(tuple_of({0, 0, 1}))), 0);
}

TEST_F(Tuple, CompareTextLengthComplement) {
    const struct {
        cell left, right;
        int answer;
    } rows[] = {
        {tuple_of({1, 2, 3}), tuple_of({1, 2, 3, 0}), 0},
        {tuple_of({1, 2, 3}), tuple_of({1, 2, 3, 1}), -1},
        {tuple_of({1, 200, 3}), tuple_of({1, 100, 9}), 1},  // unsigned bytes
        {tuple_of({1, 2, 3}), int_cell(1), -2},
    };
    for (const auto& r : rows) {
        cell left = r.left, right = r.right;
        for (int op : {0, 2, 3, 7, 9}) EXPECT_EQ(actions::dispatch_compare(&left, &right, op), r.answer);
    }
    cell t = tuple_of({255, 0, 0, 128});
    text_result f = form(t, 20);
    EXPECT_EQ(f.text, "255.0.0.128");
    EXPECT_EQ(f.budget, 20 - 11);
    EXPECT_EQ(mold(t, true, false, 20).text, "255.0.0.128");
    EXPECT_EQ(handler_of<ACTION_LENGTH_Q>(TYPE_TUPLE)(&t), 4);
    cell c = tuple_of({0, 255, 1});
    handler_of<ACTION_COMPLEMENT>(TYPE_TUPLE)(&c);
    EXPECT_EQ(text_of(c), "255.0.254");
    EXPECT_EQ(c.w2, 0u);  // nothing beyond the length
}

TEST_F(Tuple, PickPathsAndSetByte) {
    cell* t = stack::push_copy(&static_cast<const cell&>(tuple_of({1, 2, 3, 4, 5})));
    auto pick = handler_of<ACTION_PICK>(TYPE_TUPLE);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(static_cast<int32_t>(pick(t, i, nullptr)->w2), i);
    for (int i : {0, 6, -1}) {
        outcome o = run([&] {
            cell* index = stack::push_copy(&static_cast<const cell&>(int_cell(i)));
            return pick(t, i, index);
        });
        EXPECT_EQ(o.error, code(err::script_out_of_range));
        EXPECT_EQ(static_cast<int32_t>(o.arg1.w2), i);
    }
    auto eval_path = handler_of<ACTION_EVAL_PATH>(TYPE_TUPLE);
    auto step = [&](const cell* element, const cell* value) {
        return run([&] {
            cell* e = stack::push_copy(element);
            cell* v = value ? stack::push_copy(value) : nullptr;
            return eval_path(t, e, v, nullptr, nullptr, nullptr, 1, 0, false, true, false);
        });
    };
    EXPECT_EQ(static_cast<int32_t>(step(&static_cast<const cell&>(int_cell(2)), nullptr).value.w2), 2);
    EXPECT_EQ(step(&static_cast<const cell&>(int_cell(9)), nullptr).error, code(err::script_out_of_range));
    outcome word_element = step(push_word("x"), nullptr);
    EXPECT_EQ(word_element.error, code(err::script_invalid_type));
    EXPECT_EQ(word_element.arg1.w1, TYPE_WORD);
    EXPECT_EQ(step(&static_cast<const cell&>(int_cell(2)), &static_cast<const cell&>(float_cell(1.0))).error, code(err::script_invalid_type));

    const struct {
        int index;
        cell value;
        int error;
        const char* result;
    } sets[] = {
        {2, int_cell(300), NO_ERROR, "1.255.3.4.5"},
        {3, int_cell(-7), NO_ERROR, "1.255.0.4.5"},
        {6, int_cell(1), code(err::script_out_of_range), "1.255.0.4.5"},
        {4, none_cell, NO_ERROR, "1.255.0"},
        {1, none_cell, NO_ERROR, "0.0.0"},  // never shorter than 3
    };
    for (const auto& r : sets) {
        outcome o = step(&static_cast<const cell&>(int_cell(r.index)), &r.value);
        EXPECT_EQ(o.error, r.error);
        EXPECT_EQ(text_of(*t), r.result);
    }
    EXPECT_EQ(t->w1, 0u);
    EXPECT_EQ(t->w2, 0u);  // truncated bytes are cleared
}

TEST_F(Tuple, Reverse) {
    auto reverse = handler_of<ACTION_REVERSE>(TYPE_TUPLE);
    const struct {
        const char* what;
        cell value;
        cell part, skip;  // none when absent
        int error;
        const char* result;
    } rows[] = {
        {"reverse 1.2.3.4", tuple_of({1, 2, 3, 4}), none_cell, none_cell, NO_ERROR, "4.3.2.1"},
        {"reverse/skip 1.2.3.4 2", tuple_of({1, 2, 3, 4}), none_cell, int_cell(2), NO_ERROR, "3.4.1.2"},
        {"reverse/part 1.2.3.4 2", tuple_of({1, 2, 3, 4}), int_cell(2), none_cell, NO_ERROR, "2.1.3.4"},
        {"reverse/part 1.2.3 10", tuple_of({1, 2, 3}), int_cell(10), none_cell, NO_ERROR, "3.2.1"},
        {"reverse/part/skip 1.2.3.4.5.6 4 2", tuple_of({1, 2, 3, 4, 5, 6}), int_cell(4), int_cell(2), NO_ERROR,
         "3.4.1.2.5.6"},
        {"reverse/skip 1.2.3 3 (size = count)", tuple_of({1, 2, 3}), none_cell, int_cell(3), NO_ERROR, "1.2.3"},
        {"reverse/part/skip 1.2.3.4.5 8 4 (cut to whole groups)", tuple_of({1, 2, 3, 4, 5}), int_cell(8),
         int_cell(4), NO_ERROR, "1.2.3.4.5"},
        {"reverse/part/skip 1.2.3.4.5.6 8 2", tuple_of({1, 2, 3, 4, 5, 6}), int_cell(8), int_cell(2), NO_ERROR,
         "5.6.3.4.1.2"},
        {"reverse/part 1.2.3 -1", tuple_of({1, 2, 3}), int_cell(-1), none_cell, code(err::script_out_of_range),
         nullptr},
        {"reverse/part 1.2.3 1.5", tuple_of({1, 2, 3}), float_cell(1.5), none_cell,
         code(err::script_invalid_refine_arg), nullptr},
        {"reverse/skip 1.2.3 0", tuple_of({1, 2, 3}), none_cell, int_cell(0), code(err::script_out_of_range),
         nullptr},
        {"reverse/skip 1.2.3.4 3", tuple_of({1, 2, 3, 4}), none_cell, int_cell(3),
         code(err::script_invalid_refine_arg), nullptr},
        {"reverse/part/skip 1.2.3 2 3", tuple_of({1, 2, 3}), int_cell(2), int_cell(3),
         code(err::script_invalid_refine_arg), nullptr},
        {"reverse/skip 1.2.3 none", tuple_of({1, 2, 3}), none_cell, cell{TYPE_LOGIC, 1, 0, 0},
         code(err::script_invalid_refine_arg), nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = run([&] {
            cell* v = stack::push_copy(&r.value);
            cell* part = r.part.is(TYPE_NONE) ? nullptr : stack::push_copy(&r.part);
            cell* skip = r.skip.is(TYPE_NONE) ? nullptr : stack::push_copy(&r.skip);
            return reverse(v, part, skip);
        });
        EXPECT_EQ(o.error, r.error);
        if (r.error == code(err::script_invalid_refine_arg)) {
            EXPECT_EQ(o.arg1.type(), TYPE_REFINEMENT);
            const predefined_cell& named = r.skip.is(TYPE_NONE) ? refinements::part : refinements::skip;
            EXPECT_EQ(o.arg1.w2, named->w2);
        }
        if (r.error == NO_ERROR) { EXPECT_EQ(text_of(o.value), r.result); }
    }
}

TEST_F(Tuple, RandomBytes) {
    auto random_action = handler_of<ACTION_RANDOM>(TYPE_TUPLE);
    cell seed = tuple_of({1, 2, 3});
    EXPECT_EQ(random_action(&seed, true, false, false)->type(), TYPE_UNSET);
    cell zero = tuple_of({0, 0, 0});
    random_action(&zero, false, false, false);
    EXPECT_EQ(text_of(zero), "0.0.0");
    // With the same seed, every byte b becomes pick-int (b + 1) - 1.
    random::seed(seed.w1 ^ seed.w2 ^ seed.w3);
    int expected[3];
    for (int i = 0; i < 3; ++i) expected[i] = random::pick_int((i + 1) * 50 + 1, false) - 1;
    random_action(&seed, true, false, false);
    cell t = tuple_of({50, 100, 150});
    random_action(&t, false, false, false);
    EXPECT_EQ(text_of(t), std::to_string(expected[0]) + "." + std::to_string(expected[1]) + "." +
                              std::to_string(expected[2]));
    for (int i = 0; i < 100; ++i) {
        cell u = tuple_of({255, 1, 0, 7});
        random_action(&u, false, true, false);
        uint8_t b[tuple::MAX_LENGTH];
        tuple::read_bytes(&u, b);
        EXPECT_LE(b[1], 1);
        EXPECT_EQ(b[2], 0);
        EXPECT_LE(b[3], 7);
        EXPECT_EQ(tuple::length_of(&u), 4);
    }
}

}  // namespace
}  // namespace zor
