// What the callable datatypes (native!, action!, op!, function!, routine!) share: their
// payload word 2 is always the node of the spec block, read from its head, and they
// compare by identity only.
//
// Identity is a table index (native!, action!, op! of them) or a node reference (the
// extras series of function! and routine!, the context of an op! of them); both are
// small integers, never addresses, so equality and sort order do not depend on where
// anything lies in memory.
#pragma once

#include <climits>
#include <cstdint>

#include "runtime/value/action-signatures.h"
#include "runtime/value/cell.h"

namespace zor::callable {

// The comparison codes under which callables compare by identity; every other code (the
// orderings and the lit-form equalities) answers -2, not comparable.
inline bool is_identity_code(int op) {
    return is_contents_equality_code(op) || op == COMPARE_SORT || op == COMPARE_SORT_CASE || op == COMPARE_SAME;
}

// -1, 0 or 1 for two payload words read as signed integers.
inline int compare_words(uint32_t left, uint32_t right) {
    int32_t a = static_cast<int32_t>(left), b = static_cast<int32_t>(right);
    return a < b ? -1 : a > b ? 1 : 0;
}

// The identity comparison: -2 unless the other value has the type and the code is an
// identity code, else the order of the two payload words.
inline int compare_identity(const cell* value, const cell* other, int op, uint32_t left, uint32_t right) {
    if (other->type() != value->type() || !is_identity_code(op)) return -2;
    return compare_words(left, right);
}

// A block! cell at index 0 on the value's spec series (`spec` of reflect, and the spec
// that every mold writes).
inline cell spec_block(const cell* value) { return cell{TYPE_BLOCK, 0, value->w2, 0}; }

// The part budget less what was written, never below the smallest int.
inline int spend(int budget, int64_t written) {
    int64_t left = int64_t(budget) - written;
    return left < INT_MIN ? INT_MIN : static_cast<int>(left);
}

}  // namespace zor::callable
