// native! and action!: the values that stand for one built-in native (an entry of the
// natives table, runtime/eval/natives/natives.h) or one of the 62 actions (an entry of the action
// table, runtime/eval/actions.h).
//
// Cell (native! 21, action! 22): header the type id and no flags; word 1 the 0-based
// position of the entry in its table (index - 1), never an address; word 2 the node of the
// spec block (the block given to make, not copied, always read from its head); word 3 the
// node of the extras series, two cells:
//   0  a copy of the context! cell of an argument context made from the make argument
//      block (function kind, values on the evaluation stack, no self flag);
//   1  none! when made; the evaluator's argument descriptor cache (function.h) once built.
//
// Equality and order follow the table position, so two values of one entry are equal
// whatever their specs. native! is the parent of action! and op!; reflect is shared with
// both.
#pragma once

#include "runtime/value/cell.h"

namespace zor::native {

// Registers native! (id 21, no parent).
void init_type();

// The make action of native! and action!: from a block of exactly two cells from its
// index, a spec block and an integer! index naming a filled entry of the type's table.
cell* make(cell* value, cell* spec, type_id type);
// reflect of native!, action! and op!: `spec` the spec series itself at index 0, `body` the
// entry's 1-based index (or, for an op! of a function! or routine!, the source's body).
cell* reflect(cell* value, int field_symbol);
int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);
// The mold of native! and action!: the opening text ("make native! [", 14 characters), the
// spec block molded with the caller's options (so with only, without its own brackets),
// then "]".
int mold_as(const char* opening, cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget,
            int indent);

// The 1-based table index that a native!, action! or op! of one of them names.
inline int table_index(const cell* value) { return static_cast<int32_t>(value->w1) + 1; }

}  // namespace zor::native

// action!'s own routines (named with a trailing "_": `action` is the enum of action indexes).
namespace zor::action_ {

// Registers action! (id 22, parent native!).
void init_type();

int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);

}  // namespace zor::action_
