// op!: an infix operator made from a two-argument callable (native!, action!, function!
// or routine!). The evaluator calls it with the value on its left as first argument.
//
// Cell (op! 23, parent native!): header the type id in bits 0-7, 1 + the code of the
// interpreter's inline core that may stand for the op's call (fast_paths) or 0 for none in
// bits 8-15, and the source's type id in bits 16-23; payload words 1-3 copied unchanged
// from the source (for native! and action! the table position, spec node and extras node;
// for function! and routine! the context node, spec node and extras node). The extras
// series is the source's: an op! of a function! or routine! reaches the body through it,
// and making the op! stores a copy of the source value into its cell 3 (the source's
// header flags, which the op!'s header does not carry, stay readable there).
#pragma once

#include "runtime/value/cell.h"

namespace zor::op {

inline constexpr int INLINE_SHIFT = 8;
inline constexpr int SOURCE_SHIFT = 16;

// Registers op! (id 23, parent native!).
void init_type();

// The type id of the value an op! was made from.
inline type_id source_type(const cell* op) { return static_cast<type_id>((op->header >> SOURCE_SHIFT) & 0xFF); }

// The fast-path code of the inline core that may stand for the op's call, or -1. Worked
// out when the op! is made, from the source's own spec: an op! of a coded action or native
// made with argument types or a literal argument of its own takes the general call.
inline int inline_code(const cell* op) { return static_cast<int>((op->header >> INLINE_SHIFT) & 0xFF) - 1; }

// `op/check-arity`: whether the spec (read from its head) takes exactly two arguments, the
// first a plain word when any argument is a lit-word or get-word; a set-word ends the scan,
// and so does a refinement, which must then be /local or /extern.
bool check_arity(const cell* spec);

cell* make(cell* value, cell* spec, type_id type);
// Pushes the op! of a source (native!, action!, function! or routine!, its spec already
// found to take two arguments) and answers its slot; a function! or routine! source keeps
// a copy of itself, as given, in its extras. The source lies in a rooted cell.
cell* push_of(cell* source);
int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);

}  // namespace zor::op
