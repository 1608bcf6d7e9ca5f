// The C++ signature of the handler that a datatype module registers for each of the 62
// actions (the action enum, ACTION_COUNT and action_names are generated from
// runtime/data/action-specs.zor, the one list of the actions, into action-ids.inc). A
// handler receives the value at args_base first, then what the action entry converted from the refinements (a flag, a
// cell or null when absent, or a count of -1 when absent), in the action's spec order.
// Handlers that answer a cell may answer a shared cell (none, true, false) or a cell
// inside a series; the entry copies it into the result slot.
#pragma once

#include "runtime/value/action-ids.inc"
#include "runtime/value/cell.h"

namespace zor {

// The comparison codes that every compare handler takes. A handler answers 0 for equal, a
// negative number for less, a positive one for greater, or -2 when the two values cannot
// be compared; actions::compare turns the answer into a truth value by the code.
enum compare_code : int {
    COMPARE_EQUAL = 0,             // =
    COMPARE_NOT_EQUAL = 1,         // <>
    COMPARE_STRICT_EQUAL = 2,      // ==: same type, exact case
    COMPARE_LESSER = 3,            // <
    COMPARE_LESSER_OR_EQUAL = 4,   // <=
    COMPARE_GREATER = 5,           // >
    COMPARE_GREATER_OR_EQUAL = 6,  // >=
    COMPARE_SORT = 7,              // the order of sort
    COMPARE_SORT_CASE = 8,         // the order of sort/case: characters unfolded
    COMPARE_SAME = 9,              // same?: identity
    // Two equality tests that let a path equal its lit-path form and a word its lit-word;
    // words compare by exact spelling under the first and case-folded under the second.
    COMPARE_LIT_FORM_EQUAL = 10,
    COMPARE_LIT_FORM_EQUAL_FOLDED = 11,
    COMPARE_FIND = 12,  // the equality of find, select, put and the removal of values
};

// The equality codes that compare two series' contents, so that a different length
// answers "unequal" at once: =, <>, == and the equality of find.
inline constexpr bool is_contents_equality_code(int op) {
    return op == COMPARE_EQUAL || op == COMPARE_NOT_EQUAL || op == COMPARE_STRICT_EQUAL || op == COMPARE_FIND;
}

// Every code that asks "equal or not" rather than for an order.
inline constexpr bool is_equality_code(int op) {
    return is_contents_equality_code(op) || op == COMPARE_LIT_FORM_EQUAL || op == COMPARE_LIT_FORM_EQUAL_FOLDED;
}

// A registered handler of any signature; converted back to its own signature by the
// dispatchers, which know the action.
using action_entry = void (*)();

template <action A> struct action_signature {
    // The simple entries: the handler reads the argument stack itself.
    using type = cell* (*)();
};

#define ZOR_ACTION_SIGNATURE(a, ...) \
    template <> struct action_signature<a> { using type = __VA_ARGS__; };

// (value, spec, dispatch type id)
ZOR_ACTION_SIGNATURE(ACTION_MAKE, cell* (*)(cell* value, cell* spec, type_id type))
ZOR_ACTION_SIGNATURE(ACTION_TO, cell* (*)(cell* value, cell* spec, type_id type))
// (value, /seed, /secure, /only)
ZOR_ACTION_SIGNATURE(ACTION_RANDOM, cell* (*)(cell* value, bool seed, bool secure, bool only))
// (value, symbol id of the field word)
ZOR_ACTION_SIGNATURE(ACTION_REFLECT, cell* (*)(cell* value, int field_symbol))
// (value, output string, /part argument or null, part budget) -> the remaining budget
ZOR_ACTION_SIGNATURE(ACTION_FORM, int (*)(cell* value, cell* output, cell* part, int budget))
// (value, output string, /only, /all, /flat, /part argument or null, budget, indent) -> budget
ZOR_ACTION_SIGNATURE(ACTION_MOLD, int (*)(cell* value, cell* output, bool only, bool all, bool flat,
                                          cell* part, int budget, int indent))
// (parent, element, value to set or null, path or null, value before the parent, previous
// element, element position, pass-through flag, get-only, last element, in-place update)
ZOR_ACTION_SIGNATURE(ACTION_EVAL_PATH, cell* (*)(cell* parent, cell* element, cell* value, cell* path,
                                                 cell* grandparent, cell* previous, int position,
                                                 int pass_through, bool get_only, bool tail, bool in_place))
// (value, other, comparison code) -> 0, negative, positive, or -2 when not comparable
ZOR_ACTION_SIGNATURE(ACTION_COMPARE, int (*)(cell* value, cell* other, int op))
ZOR_ACTION_SIGNATURE(ACTION_NEGATE, cell* (*)(cell* value))
ZOR_ACTION_SIGNATURE(ACTION_ROUND, cell* (*)(cell* value, cell* scale, bool even, bool down, bool half_down,
                                             bool floor, bool ceiling, bool half_ceiling))
ZOR_ACTION_SIGNATURE(ACTION_EVEN_Q, int (*)(cell* value))
ZOR_ACTION_SIGNATURE(ACTION_ODD_Q, int (*)(cell* value))
ZOR_ACTION_SIGNATURE(ACTION_COMPLEMENT, cell* (*)(cell* value))
// (series, value, part count or -1, /only, dup count, append flag)
ZOR_ACTION_SIGNATURE(ACTION_APPEND, cell* (*)(cell* series, cell* value, int part, bool only, int dup, bool append))
ZOR_ACTION_SIGNATURE(ACTION_INSERT, cell* (*)(cell* series, cell* value, int part, bool only, int dup, bool append))
ZOR_ACTION_SIGNATURE(ACTION_CHANGE, cell* (*)(cell* series, cell* value, int part, bool only, int dup))
ZOR_ACTION_SIGNATURE(ACTION_CLEAR, cell* (*)(cell* series))
// (value, destination cell, /part, /deep, /types)
ZOR_ACTION_SIGNATURE(ACTION_COPY, cell* (*)(cell* value, cell* result, cell* part, bool deep, cell* types))
ZOR_ACTION_SIGNATURE(ACTION_FIND, cell* (*)(cell* series, cell* value, cell* part, bool only, bool case_sensitive,
                                            bool same, bool any, cell* with, cell* skip, bool last, bool reverse,
                                            bool tail, bool match))
ZOR_ACTION_SIGNATURE(ACTION_SELECT, cell* (*)(cell* series, cell* value, cell* part, bool only, bool case_sensitive,
                                              bool same, bool any, cell* with, cell* skip, bool last, bool reverse))
// -> the length, or -1 for none
ZOR_ACTION_SIGNATURE(ACTION_LENGTH_Q, int (*)(cell* series))
ZOR_ACTION_SIGNATURE(ACTION_MOVE, cell* (*)(cell* origin, cell* target, cell* part))
ZOR_ACTION_SIGNATURE(ACTION_PICK, cell* (*)(cell* series, int index, cell* index_cell))
ZOR_ACTION_SIGNATURE(ACTION_POKE, cell* (*)(cell* series, int index, cell* value))
ZOR_ACTION_SIGNATURE(ACTION_PUT, cell* (*)(cell* series, cell* key, cell* value, bool case_sensitive))
ZOR_ACTION_SIGNATURE(ACTION_REMOVE, cell* (*)(cell* series, cell* part, cell* key))
ZOR_ACTION_SIGNATURE(ACTION_REVERSE, cell* (*)(cell* series, cell* part, cell* skip))
ZOR_ACTION_SIGNATURE(ACTION_SORT, cell* (*)(cell* series, bool case_sensitive, cell* skip, cell* comparator,
                                            cell* part, bool all, bool reverse, bool stable))
ZOR_ACTION_SIGNATURE(ACTION_SWAP, cell* (*)(cell* series, cell* other))
ZOR_ACTION_SIGNATURE(ACTION_TAKE, cell* (*)(cell* series, cell* part, bool deep, bool last))
ZOR_ACTION_SIGNATURE(ACTION_TRIM, cell* (*)(cell* series, bool head, bool tail, bool automatic, bool lines,
                                            bool all, cell* with))
ZOR_ACTION_SIGNATURE(ACTION_CREATE, cell* (*)(cell* port))
ZOR_ACTION_SIGNATURE(ACTION_CLOSE, cell* (*)(cell* port))
ZOR_ACTION_SIGNATURE(ACTION_DELETE, cell* (*)(cell* file))
ZOR_ACTION_SIGNATURE(ACTION_MODIFY, cell* (*)(cell* target, cell* field, cell* value, bool case_sensitive))
ZOR_ACTION_SIGNATURE(ACTION_OPEN, cell* (*)(cell* port, bool create, bool read, bool write, bool seek, cell* allow))
ZOR_ACTION_SIGNATURE(ACTION_OPEN_Q, cell* (*)(cell* port))
ZOR_ACTION_SIGNATURE(ACTION_QUERY, cell* (*)(cell* target))
ZOR_ACTION_SIGNATURE(ACTION_READ, cell* (*)(cell* source, cell* part, cell* seek, bool binary, bool lines,
                                            bool info, cell* as))
ZOR_ACTION_SIGNATURE(ACTION_RENAME, cell* (*)(cell* from, cell* to))
ZOR_ACTION_SIGNATURE(ACTION_UPDATE, cell* (*)(cell* port))
ZOR_ACTION_SIGNATURE(ACTION_WRITE, cell* (*)(cell* destination, cell* data, bool binary, bool lines, bool info,
                                             bool append, cell* part, cell* seek, cell* allow, cell* as))
#undef ZOR_ACTION_SIGNATURE

template <action A> using action_handler = typename action_signature<A>::type;

}  // namespace zor
