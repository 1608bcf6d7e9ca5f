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

#include "runtime/cell.h"

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
cell* fast_math_int_into(int op, const cell* word, int32_t right);

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
// may be an argument-stack cell holding the left operand) and answers true.
bool math_inline(int op, cell* left, const cell* right);
bool compare_inline(int op, cell* left, const cell* right);

// The fast-path code of an operator's source, or -1: an action! of add, subtract,
// multiply, and~, or~ or xor~ gives its arithmetic code; a native! of equal?,
// not-equal?, strict-equal?, lesser?, greater?, lesser-or-equal? or greater-or-equal?
// gives COMPARE_BASE plus its comparison code.
inline constexpr int COMPARE_BASE = 16;
int operator_code(type_id source_type, int table_index);
// Runs the inline core of an operator code; false when the operands need the full call.
inline bool run_inline(int code, cell* left, const cell* right) {
    return code >= COMPARE_BASE ? compare_inline(code - COMPARE_BASE, left, right) : math_inline(code, left, right);
}

}  // namespace zor::fast_paths
