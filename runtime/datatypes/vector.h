// vector!: a series of fixed-width numbers packed in a byte buffer, all of one element
// type: char!, integer!, float! or percent!.
//
// Cell (vector! 35, parent string!): word 1 the head index in elements (signed; an index
// past the tail is read as the tail), word 2 the node of the buffer, word 3 the element
// datatype id (10 char!, 11 integer!, 12 float!, 38 percent!).
//
// Buffer: a series whose unit width is the element width in bytes, 1, 2 or 4 for char!
// and integer! elements, 4 or 8 for float! and percent! (percent! always 8). Elements are
// little-endian. Integer elements are signed; char elements are code points and read
// without sign. Integer arithmetic on elements wraps around in the element's width.
//
// The navigation, picking, poking, searching, sorting and taking come from string! and
// series!, which read a vector's buffer by its element type. This module adds making,
// element arithmetic, comparison, the text forms and the writers.
//
// Invariants for callers: a vector cell handed here lives in a rooted place (an
// argument-stack slot or a root cell); the writers measure and check every value and size
// (in 64 bits) before they report to ownership tracking or change a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/value/cell.h"

namespace zor::vector {

// Registers vector! (id 35, parent string!) and its math core.
void init_type();
// A float element of 4 or 8 bytes, as a double.
double read_float(const std::byte* at, uint32_t width);

// Makes the cell (rooted; unset! until the buffer exists) a vector of count zero elements
// of the type and width in bytes, at index 0. A byte size beyond 32 bits raises
// internal/no-memory.
cell* make_at(cell* destination, int64_t count, type_id element_type, uint32_t width);

// The element bytes from the (clamped) index to the tail, little-endian as stored.
std::vector<uint8_t> rest_bytes(const cell* vector);

// The in-place scalar operation: every element from the index becomes element op number.
// Answers the vector.
cell* op_scalar(const cell* number, cell* vector, int op);

// The vector math core: a vector at args_base with another operand after it, or a number
// at args_base with a vector after it (handed over by the number's core).
cell* do_math(int op);

}  // namespace zor::vector
