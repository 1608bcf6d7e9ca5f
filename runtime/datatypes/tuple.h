// tuple!: 3 to 12 unsigned bytes written 1.2.3: versions, addresses and above all colours
// (R.G.B or R.G.B.A; image! pixels are read and written as tuples).
//
// Cell: header type 39 with the length (3..12) in header bits 19-22; payload words 1-3
// the bytes in order, byte 0 the low byte of word 1 (12 bytes of room). Invariants every
// builder here keeps: the length is never below 3 (shorter input is padded with zero
// bytes), and the bytes beyond the length are 0.
//
// Arithmetic works byte by byte and clamps every result to 0..255; it never wraps and
// never converts an out-of-range double to an integer.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::tuple {

inline constexpr int MIN_LENGTH = 3;
inline constexpr int MAX_LENGTH = 12;
inline constexpr uint32_t LENGTH_SHIFT = 19;
inline constexpr uint32_t LENGTH_MASK = 0xFu << LENGTH_SHIFT;

// Registers tuple! (id 39, no parent).
void init_type();

// --- Reading ---------------------------------------------------------------------------------

inline int length_of(const cell* c) { return static_cast<int>((c->header & LENGTH_MASK) >> LENGTH_SHIFT); }
// The 12 payload bytes in order.
void read_bytes(const cell* c, uint8_t bytes[MAX_LENGTH]);
// 1 when every byte within the length is 0 (the zero? test).
int test_zero(const cell* c);

// --- Building --------------------------------------------------------------------------------

// Writes a tuple of the length (clamped to 3..12) and bytes into the cell (flags cleared);
// bytes beyond the length are written as 0.
cell* make_at(cell* destination, int length, const uint8_t bytes[MAX_LENGTH]);
// Pushes a tuple of the length with its 12 bytes given as three 32-bit words.
cell* push(int length, uint32_t word1, uint32_t word2, uint32_t word3);
// Pushes a tuple of the low bytes of the integers (at most 12 are taken); fewer than 3 are
// padded with zero bytes.
cell* push_from_ints(int count, const int32_t* values);
// The bytes of a binary! from its index, at most 12, padded with zeros to 3, into the
// result cell.
cell* from_binary(const cell* binary, cell* result);
// An issue!'s name read as hexadecimal into the result cell: 3 digits RGB give R x 17,
// G x 17, B x 17; 6 digits give 3 bytes and 8 digits 4 bytes. Any other length or a
// character that is not a hexadecimal digit raises script/invalid-data with the issue.
cell* from_issue(const cell* issue, cell* result);
// Writes byte `index` (1-based) of the tuple cell: an index outside 1..length raises
// script/out-of-range; an integer! is clamped to 0..255 and stored; none! truncates the
// tuple, zeroing the bytes from the index on, to the length max(3, index - 1). Any other
// value raises script/invalid-type with its datatype.
void set_byte(cell* tuple, int32_t index, const cell* value);

// The tuple math core for an op code (0 add ... 7 xor~): a tuple and an integer!, float!,
// percent! or tuple! at args_base and the next cell, the tuple first, or a float!, percent!
// or time! first as handed over by the float core. The result is the tuple in the result
// slot.
cell* do_math(int op);

}  // namespace zor::tuple
