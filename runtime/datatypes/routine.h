// routine!: a routine of the runtime's low-level dialect, a C++ function of the code
// registry (runtime/value/code-registry.h) that the language calls like a function. Only the
// boot code builds routines (push_new); make is not supported.
//
// Cell (routine! 29, parent function!): header the type id, bit 15 (0x8000) the
// cell-calling flag (the code receives the argument cells and answers its result cell;
// without it the caller converts the arguments by the spec's type blocks), bits 25-29 the
// argument count (the word! cells of the whole spec, 0..31); word 1 the node of a context
// made from the spec like a function context; word 2 the node of the spec block (neither
// copied nor validated; read from its head); word 3 the node of the extras series, five
// cells:
//   0  the body value given by the builder (a block! of source, or none!);
//   1  unset!; the argument descriptor cache once built (runtime/datatypes/function.h);
//   2  integer! the code-registry index of the code;
//   3  unset!, or a copy of the routine once an op! was made from it;
//   4  integer! a second word given by the builder, read by the routine caller.
//
// Invariant: the argument count fits its five bits; a spec with more word! cells is
// refused when the routine is built.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::routine {

inline constexpr uint32_t FLAG_CELL_CALLING = 0x8000;
inline constexpr int ARITY_SHIFT = 25;
inline constexpr uint32_t ARITY_MASK = 0x1Fu << ARITY_SHIFT;
inline constexpr int MAX_ARITY = 31;

// Registers routine! (id 29, parent function!).
void init_type();

// `routine/push-new`: pushes a new routine! of the spec (a block!), the body (null for
// none), the code-registry index, the second word and the cell-calling flag; answers the
// slot. A spec that is not a block!, or that holds more than 31 word! cells, raises
// script/bad-func-def naming it.
cell* push_new(const cell* spec, const cell* body, int32_t code, int32_t second, bool cell_calling);
// `routine/get-arity`: header bits 25-29.
inline int get_arity(const cell* routine) { return static_cast<int>((routine->header & ARITY_MASK) >> ARITY_SHIFT); }
// `routine/set-arity`: counts the word! cells of the whole spec into bits 25-29, keeping
// every other header bit; a count above 31 raises script/bad-func-def naming the spec.
cell* set_arity(cell* routine);

int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);

}  // namespace zor::routine
