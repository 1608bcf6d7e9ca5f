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
// The interpreter's own code for power (no shared arithmetic op code has it); clear of
// the shared codes and below COMPARE_BASE.
inline constexpr int OP_POWER = 8;
inline bool math_inline(int op, cell* left, const cell* right) {
    if (left->is(TYPE_INTEGER) && right->is(TYPE_INTEGER)) {
        const int32_t a = integer::read_cell(left), b = integer::read_cell(right);
        int32_t value;
        switch (op) {
            // The integer core's own checked operation takes the overflow: it gives the float!.
            case integer::OP_ADD:
                if (__builtin_add_overflow(a, b, &value)) [[unlikely]]
                    break;
                left->w2 = static_cast<uint32_t>(value);
                return true;
            case integer::OP_SUBTRACT:
                if (__builtin_sub_overflow(a, b, &value)) [[unlikely]]
                    break;
                left->w2 = static_cast<uint32_t>(value);
                return true;
            case integer::OP_MULTIPLY:
                if (__builtin_mul_overflow(a, b, &value)) [[unlikely]]
                    break;
                left->w2 = static_cast<uint32_t>(value);
                return true;
            case integer::OP_OR: integer::set_cell(left, a | b); return true;
            case integer::OP_AND: integer::set_cell(left, a & b); return true;
            case integer::OP_XOR: integer::set_cell(left, a ^ b); return true;
            // A zero divisor and the one quotient that overflows are the action's errors:
            // the full call raises them.
            case integer::OP_DIVIDE:
                if (b == 0 || (a == INT32_MIN && b == -1)) [[unlikely]]
                    return false;
                integer::arithmetic(a, b, op, left);  // an inexact quotient is a float!
                return true;
            case integer::OP_REMAINDER:
                if (b == 0 || (a == INT32_MIN && b == -1)) [[unlikely]]
                    return false;
                left->w2 = static_cast<uint32_t>(a % b);
                return true;
            case OP_POWER: {
                // By squaring, as the integer action does; a negative exponent or any
                // overflow is the float computation's, which the full call makes.
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
            default: return false;
        }
        integer::arithmetic(a, b, op, left);
        return true;
    }
    if (left->is(TYPE_FLOAT) && right->is(TYPE_FLOAT)) {
        const double a = float_::get(left), b = float_::get(right);
        switch (op) {
            case integer::OP_ADD: float_::store(left, a + b); return true;
            case integer::OP_SUBTRACT: float_::store(left, a - b); return true;
            case integer::OP_MULTIPLY: float_::store(left, a * b); return true;
            default: return false;
        }
    }
    return false;
}

inline bool compare_inline(int op, cell* left, const cell* right) {
    if (!left->is(TYPE_INTEGER) || !right->is(TYPE_INTEGER)) return false;
    const int32_t a = integer::read_cell(left), b = integer::read_cell(right);
    bool truth;
    switch (op) {
        case COMPARE_EQUAL: case COMPARE_STRICT_EQUAL: truth = a == b; break;
        case COMPARE_NOT_EQUAL: truth = a != b; break;
        case COMPARE_LESSER: truth = a < b; break;
        case COMPARE_LESSER_OR_EQUAL: truth = a <= b; break;
        case COMPARE_GREATER: truth = a > b; break;
        case COMPARE_GREATER_OR_EQUAL: truth = a >= b; break;
        case COMPARE_SAME: truth = a == b; break;
        default: return false;
    }
    logic::make_in(left, truth);
    return true;
}

// The fast-path code of an operator's source, or -1: an action! of add, subtract,
// multiply, divide, remainder, and~, or~ or xor~ gives its arithmetic code, power
// OP_POWER; a native! of equal?, not-equal?, strict-equal?, same?, lesser?, greater?,
// lesser-or-equal? or greater-or-equal? gives COMPARE_BASE plus its comparison code.
inline constexpr int COMPARE_BASE = 16;
inline int operator_code(type_id source_type, int table_index) {
    if (source_type == TYPE_ACTION) {
        switch (table_index) {
            case ACTION_ADD: return integer::OP_ADD;
            case ACTION_SUBTRACT: return integer::OP_SUBTRACT;
            case ACTION_MULTIPLY: return integer::OP_MULTIPLY;
            case ACTION_AND_T: return integer::OP_AND;
            case ACTION_OR_T: return integer::OP_OR;
            case ACTION_XOR_T: return integer::OP_XOR;
            case ACTION_DIVIDE: return integer::OP_DIVIDE;
            case ACTION_REMAINDER: return integer::OP_REMAINDER;
            case ACTION_POWER: return OP_POWER;
            default: return -1;
        }
    }
    if (source_type == TYPE_NATIVE) {
        // The comparison natives by their comparison codes.
        switch (table_index) {
            case natives::NATIVE_EQUAL_Q: return COMPARE_BASE + COMPARE_EQUAL;
            case natives::NATIVE_NOT_EQUAL_Q: return COMPARE_BASE + COMPARE_NOT_EQUAL;
            case natives::NATIVE_STRICT_EQUAL_Q: return COMPARE_BASE + COMPARE_STRICT_EQUAL;
            case natives::NATIVE_LESSER_Q: return COMPARE_BASE + COMPARE_LESSER;
            case natives::NATIVE_GREATER_Q: return COMPARE_BASE + COMPARE_GREATER;
            case natives::NATIVE_LESSER_OR_EQUAL_Q: return COMPARE_BASE + COMPARE_LESSER_OR_EQUAL;
            case natives::NATIVE_GREATER_OR_EQUAL_Q: return COMPARE_BASE + COMPARE_GREATER_OR_EQUAL;
            case natives::NATIVE_SAME_Q: return COMPARE_BASE + COMPARE_SAME;
            default: return -1;
        }
    }
    return -1;
}
// Runs the inline core of an operator code; false when the operands need the full call.
inline bool run_inline(int code, cell* left, const cell* right) {
    return code >= COMPARE_BASE ? compare_inline(code - COMPARE_BASE, left, right) : math_inline(code, left, right);
}

}  // namespace zor::fast_paths
