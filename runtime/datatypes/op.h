// op!: an infix operator made from a two-argument callable (native!, action!, function!
// or routine!). The evaluator calls it with the value on its left as first argument.
//
// Cell (op! 23, parent native!): header the type id in bits 0-7 and the source's type id
// in bits 16-23; payload words 1-3 copied unchanged from the source (for native! and
// action! the table position, spec node and extras node; for function! and routine! the
// context node, spec node and extras node). The extras series is the source's: an op! of
// a function! or routine! reaches the body through it, and making the op! stores a copy of
// the source value into its cell 3 (the source's header flags, which the op!'s header
// does not carry, stay readable there).
#pragma once

#include "runtime/value/cell.h"

namespace zor::op {

inline constexpr int SOURCE_SHIFT = 16;

// Registers op! (id 23, parent native!).
void init_type();

// The type id of the value an op! was made from.
inline type_id source_type(const cell* op) { return static_cast<type_id>((op->header >> SOURCE_SHIFT) & 0xFF); }

// `op/check-arity`: whether the spec (read from its head) takes exactly two arguments, the
// first a plain word when any argument is a lit-word or get-word; a set-word ends the scan,
// and so does a refinement, which must then be /local or /extern.
bool check_arity(const cell* spec);

cell* make(cell* value, cell* spec, type_id type);
int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);

}  // namespace zor::op
