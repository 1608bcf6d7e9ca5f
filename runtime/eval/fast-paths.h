// Operator fast paths: arithmetic, comparison, picks and series queries computed inline
// for the common operand types (integer! with integer!, float! with float!, block!
// series), with the ordinary action entry as the fallback for everything else. The
// interpreter uses the inline cores for its infix operators; compiled code calls the
// members below directly.
//
// Invariant: a fast path gives exactly the value, type and errors that the full action
// gives (integer add, subtract and multiply overflow to a float! holding the double
// result of the two integers, as the integer core does). The inline cases allocate
// nothing and open no frame; a fallback opens exactly one plain call frame named by the
// operation's word, so error reports and traces name the operation.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/value/action-signatures.h"
#include "runtime/value/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/eval/natives/native-index.inc"

namespace zor::actions {

// Arithmetic codes: the shared op codes 0 add, 1 subtract, 2 multiply, 5 or~, 6 and~,
// 7 xor~ (divide and remainder have no fast path). Comparison codes: 0 =, 1 <>, 2 ==,
// 3 <, 4 <=, 5 >, 6 >=. Any other code is a fatal runtime error 101.
enum series_query : int {
    QUERY_LENGTH = 1, QUERY_INDEX = 2, QUERY_HEAD_Q = 3, QUERY_TAIL_Q = 4,
    QUERY_NEXT = 5, QUERY_BACK = 6, QUERY_HEAD = 7, QUERY_TAIL = 8,
};

// The operand cells may lie anywhere (a literal, a series cell): they are read before
// anything allocates. word names the fallback's frame (null for none).

// Result pushed on the argument stack and answered.
cell* fast_math(int op, const cell* word, const cell* left, const cell* right);
cell* fast_math_int(int op, const cell* word, const cell* left, int32_t right);
// Left operand: the last pushed cell, which the result replaces (it stays the last).
cell* fast_math_into(int op, const cell* word, const cell* right);

// A logic! pushed and answered.
cell* fast_compare(int op, const cell* word, const cell* left, const cell* right);
cell* fast_compare_int(int op, const cell* word, const cell* left, int32_t right);
// The truth of the comparison; nothing stays on the stack.
bool fast_compare_truth(int op, const cell* word, const cell* left, const cell* right);
bool fast_compare_int_truth(int op, const cell* word, const cell* left, int32_t right);
// 1 when the truth differs from the expected value, else 0 (compiled conditionals pass 0
// for the truth and 1 for its negation).
int fast_compare_test(int op, const cell* word, const cell* left, const cell* right, int expected);
int fast_compare_int_test(int op, const cell* word, const cell* left, int32_t right, int expected);
// Left operand: the last pushed cell, which the logic! replaces.
cell* fast_compare_cells_into(int op, const cell* word, const cell* right);
cell* fast_compare_int_into(int op, const cell* word, int32_t right);

// The value of a series/index path step, pushed and answered: a block! gives a copy of
// the value at a 1-based index after its position, none! for any other index.
cell* fast_pick(const cell* series, int32_t index, const cell* word);
// length?, index?, head?, tail?, next, back, head or tail of the series, pushed.
cell* fast_series_query(const cell* series, int query, const cell* word);

}  // namespace zor::actions

namespace zor::fast_paths {

// The inline cores, for the interpreter. Each answers false, touching nothing, when the
// operands are not of the inline kinds; otherwise it writes the result into left (which
// may be an argument-stack cell holding the left operand) and answers true. They live
// here so that the interpreter's operator step compiles them in place.
//
// One code space for both kinds of operator: the shared arithmetic op codes, OP_POWER
// (the interpreter's own code for power, which no shared op code has), then COMPARE_BASE
// plus a comparison code.
inline constexpr int OP_POWER = 8;
inline constexpr int COMPARE_BASE = 16;

// The float! an integer operation gives when its result is no integer (an overflow, an
// inexact quotient): the integer core's own conversion, the left cell's flags kept.
[[gnu::always_inline]] inline void store_float_result(cell* left, double value) {
    cell::set_type(left, TYPE_FLOAT);
    left->w1 = 0;
    float_::store(left, value);
}

// Both operands integer!: every code in one switch. Nothing here calls out, so that the
// plain chains that compile it in stay leaf functions.
[[gnu::always_inline]] inline bool integer_inline(int code, int32_t a, int32_t b, cell* left) {
    int32_t value;
    switch (code) {
        // An overflow gives the float! of the double operation, as the integer core's
        // checked operation does.
        case integer::OP_ADD:
            if (__builtin_add_overflow(a, b, &value)) [[unlikely]]
                store_float_result(left, static_cast<double>(a) + static_cast<double>(b));
            else
                left->w2 = static_cast<uint32_t>(value);
            return true;
        case integer::OP_SUBTRACT:
            if (__builtin_sub_overflow(a, b, &value)) [[unlikely]]
                store_float_result(left, static_cast<double>(a) - static_cast<double>(b));
            else
                left->w2 = static_cast<uint32_t>(value);
            return true;
        case integer::OP_MULTIPLY:
            if (__builtin_mul_overflow(a, b, &value)) [[unlikely]]
                store_float_result(left, static_cast<double>(a) * static_cast<double>(b));
            else
                left->w2 = static_cast<uint32_t>(value);
            return true;
        // Both operands are integer!: the left cell keeps its type and flags.
        case integer::OP_OR: left->w2 = static_cast<uint32_t>(a | b); return true;
        case integer::OP_AND: left->w2 = static_cast<uint32_t>(a & b); return true;
        case integer::OP_XOR: left->w2 = static_cast<uint32_t>(a ^ b); return true;
        // A zero divisor and the one quotient that overflows are the action's errors: the
        // full call raises them.
        case integer::OP_DIVIDE:
            if (b == 0 || (a == INT32_MIN && b == -1)) [[unlikely]]
                return false;
            if (a % b != 0) store_float_result(left, static_cast<double>(a) / static_cast<double>(b));
            else left->w2 = static_cast<uint32_t>(a / b);
            return true;
        case integer::OP_REMAINDER:
            if (b == 0 || (a == INT32_MIN && b == -1)) [[unlikely]]
                return false;
            left->w2 = static_cast<uint32_t>(a % b);
            return true;
        case OP_POWER: {
            // By squaring, as the integer action does; a negative exponent or any overflow
            // is the float computation's, which the full call makes.
            if (b < 0) return false;
            int32_t base = a, result = 1;
            for (uint32_t e = static_cast<uint32_t>(b); e != 0;) {
                if ((e & 1) && __builtin_mul_overflow(result, base, &result)) return false;
                e >>= 1;
                if (e != 0 && __builtin_mul_overflow(base, base, &base)) return false;
            }
            left->w2 = static_cast<uint32_t>(result);
            return true;
        }
        case COMPARE_BASE + COMPARE_EQUAL: case COMPARE_BASE + COMPARE_STRICT_EQUAL: case COMPARE_BASE + COMPARE_SAME:
            logic::make_in(left, a == b);
            return true;
        case COMPARE_BASE + COMPARE_NOT_EQUAL: logic::make_in(left, a != b); return true;
        case COMPARE_BASE + COMPARE_LESSER: logic::make_in(left, a < b); return true;
        case COMPARE_BASE + COMPARE_LESSER_OR_EQUAL: logic::make_in(left, a <= b); return true;
        case COMPARE_BASE + COMPARE_GREATER: logic::make_in(left, a > b); return true;
        case COMPARE_BASE + COMPARE_GREATER_OR_EQUAL: logic::make_in(left, a >= b); return true;
        default: return false;
    }
}

// Both operands float!: add, subtract and multiply (the comparisons of floats are the full
// action's).
[[gnu::always_inline]] inline bool float_inline(int code, double a, double b, cell* left) {
    switch (code) {
        case integer::OP_ADD: float_::store(left, a + b); return true;
        case integer::OP_SUBTRACT: float_::store(left, a - b); return true;
        case integer::OP_MULTIPLY: float_::store(left, a * b); return true;
        default: return false;
    }
}

// Runs the inline core of an operator code; false when the operands need the full call.
[[gnu::always_inline]] inline bool run_inline(int code, cell* left, const cell* right) {
    if (left->is(TYPE_INTEGER) && right->is(TYPE_INTEGER)) [[likely]]
        return integer_inline(code, integer::read_cell(left), integer::read_cell(right), left);
    if (left->is(TYPE_FLOAT) && right->is(TYPE_FLOAT)) return float_inline(code, float_::get(left), float_::get(right), left);
    return false;
}

// An arithmetic code (OP_POWER included) and a comparison code, each in its own space.
inline bool math_inline(int op, cell* left, const cell* right) {
    return op >= 0 && op < COMPARE_BASE && run_inline(op, left, right);
}
inline bool compare_inline(int op, cell* left, const cell* right) {
    return op >= 0 && run_inline(COMPARE_BASE + op, left, right);
}

// The fast-path codes of the operators' sources, by source and table index: row 0 the
// natives (equal?, not-equal?, strict-equal?, same?, lesser?, greater?, lesser-or-equal?,
// greater-or-equal? give COMPARE_BASE plus their comparison codes), row 1 the actions
// (add, subtract, multiply, divide, remainder, and~, or~, xor~ their arithmetic codes,
// power OP_POWER); -1 everywhere else.
inline constexpr int OPERATOR_ROW = 128;
static_assert(natives::NATIVE_COUNT < OPERATOR_ROW && ACTION_COUNT < OPERATOR_ROW);
static_assert(TYPE_ACTION == TYPE_NATIVE + 1);
inline constexpr auto operator_codes = [] {
    std::array<int8_t, 2 * OPERATOR_ROW> codes{};
    codes.fill(-1);
    const auto native = [&](int index, int compare) { codes[index] = static_cast<int8_t>(COMPARE_BASE + compare); };
    native(natives::NATIVE_EQUAL_Q, COMPARE_EQUAL);
    native(natives::NATIVE_NOT_EQUAL_Q, COMPARE_NOT_EQUAL);
    native(natives::NATIVE_STRICT_EQUAL_Q, COMPARE_STRICT_EQUAL);
    native(natives::NATIVE_LESSER_Q, COMPARE_LESSER);
    native(natives::NATIVE_GREATER_Q, COMPARE_GREATER);
    native(natives::NATIVE_LESSER_OR_EQUAL_Q, COMPARE_LESSER_OR_EQUAL);
    native(natives::NATIVE_GREATER_OR_EQUAL_Q, COMPARE_GREATER_OR_EQUAL);
    native(natives::NATIVE_SAME_Q, COMPARE_SAME);
    const auto action = [&](int index, int op) { codes[OPERATOR_ROW + index] = static_cast<int8_t>(op); };
    action(ACTION_ADD, integer::OP_ADD);
    action(ACTION_SUBTRACT, integer::OP_SUBTRACT);
    action(ACTION_MULTIPLY, integer::OP_MULTIPLY);
    action(ACTION_AND_T, integer::OP_AND);
    action(ACTION_OR_T, integer::OP_OR);
    action(ACTION_XOR_T, integer::OP_XOR);
    action(ACTION_DIVIDE, integer::OP_DIVIDE);
    action(ACTION_REMAINDER, integer::OP_REMAINDER);
    action(ACTION_POWER, OP_POWER);
    return codes;
}();

// The fast-path code of an operator's source, or -1: one table look-up, its row picked by
// the source's type.
inline int operator_code(type_id source_type, int table_index) {
    const unsigned row = static_cast<unsigned>(source_type) - TYPE_NATIVE;
    if (row > 1 || static_cast<unsigned>(table_index) >= OPERATOR_ROW) return -1;
    return operator_codes[row * OPERATOR_ROW + static_cast<unsigned>(table_index)];
}

// Whether an inline core may stand for the call of an operator whose source has these
// argument descriptors (runtime/datatypes/function.h): two normal arguments, each
// accepting integer! and float!.
bool takes_inline_operands(const cell* descriptors);

}  // namespace zor::fast_paths
