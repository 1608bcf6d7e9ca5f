// pair!: two signed 32-bit integers written 10x20, for sizes and positions.
//
// Cell: header type 37; payload word 1 unused (0); word 2 x; word 3 y, both two's
// complement. Accessors: index 1 or the word x, index 2 or the word y (any letter case).
//
// Arithmetic is integer arithmetic on both coordinates. Whenever a result cannot stay
// integral (an overflow, an inexact division, a product or quotient with a float) the
// pair becomes a point2D! (header 51, words 1 and 2 x and y as IEEE single floats), and
// the point2D! core computes what a float operand needs. No double is ever converted to
// a 32-bit integer without a range check: out-of-range values raise math/overflow.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::pair {

// Registers pair! (id 37, no parent) and its math core for numbers on the left.
void init_type();

inline int32_t x_of(const cell* c) { return static_cast<int32_t>(c->w2); }
inline int32_t y_of(const cell* c) { return static_cast<int32_t>(c->w3); }

// Makes the cell a pair! (type set, flags kept); answers the cell.
cell* make_at(cell* destination, int32_t x, int32_t y);
// Appends a pair! at the tail of the block (a rooted block! cell).
cell* make_in_block(cell* block, int32_t x, int32_t y);
// Pushes a new pair! on the argument stack.
cell* push(int32_t x, int32_t y);
// The value of an integer!, or a float! truncated toward zero; a float that is not a
// number or lies outside the 32-bit range raises math/overflow.
int32_t int_from_number(const cell* number);
// Turns the pair in the cell into the point2D! of the nearest single floats, in place.
void to_point2d(cell* c);

// The pair math core for an op code (0 add ... 7 xor~): the pair at args_base, the other
// operand after it; the result replaces the pair in the result slot.
cell* do_math(int op);

}  // namespace zor::pair
