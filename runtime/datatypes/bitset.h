// bitset!: a set of non-negative integers, above all a set of characters (charsets for
// parse, the lexer's delimiters, `charset`). A bitset can be complemented: it then holds
// every number it does not list, without storing the infinite tail.
//
// Cell: header type 30; word 2 the node of a byte series (unit 1); words 1 and 3 carry
// nothing (a bitset has no index of its own). Number n is bit 0x80 >> (n & 7) of byte
// n >> 3, counting from the buffer's head; the stored bytes run from head to tail.
//
// Membership, the one rule every routine here keeps: n is a member when n lies within the
// stored bits and its bit is set, or when n lies beyond them and the buffer carries the
// complement flag (memory::FLAG_COMPLEMENT). Storing more bytes never changes what is a
// member: a plain bitset grows with 00 bytes, a complemented one with FF bytes.
//
// Invariant for callers: bitset cells handed to routines that can allocate (every routine
// that sets, clears, copies or makes) are rooted: argument-stack slots or root cells. The
// address answered by get_bytes is valid until the next allocation.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::bitset {

// Registers bitset! (id 30, no parent).
void init_type();

// The first stored byte.
uint8_t* get_bytes(const cell* bits);
// Stored bytes (the number of stored bits is 8 x this).
int64_t byte_count(const cell* bits);
bool is_complemented(const cell* bits);
// Whether the number is a member (negative numbers answer the complement flag).
bool has(const cell* bits, int64_t n);

// What process_spec does with the numbers a spec lists.
enum spec_op : int { OP_MEASURE = 0, OP_SET = 1, OP_TEST = 2, OP_CLEAR = 3 };
// Which error a spec of an unusable type raises: script/bad-make-arg under make,
// script/bad-to-arg under to, script/invalid-arg in the other actions.
enum spec_errors : int { ERRORS_MAKE = 0, ERRORS_TO = 1, ERRORS_ARG = 2 };

// Applies a spec (char!, integer!, float! truncated, string! from its index, or a block!
// of these with nested blocks and `lo - hi` ranges of chars or integers) to the bitset.
// Measure (bits may be null): answers the bytes needed to hold the highest number,
// (highest + 8) >> 3, at least 1. Set and clear: answer the same, having grown the bitset
// when storing the change needs it (set on a plain bitset, clear on a complemented one).
// Test: 1 when every listed number is a member, else 0. A negative number raises
// script/out-of-range, except under test.
int64_t process_spec(const cell* spec, cell* bits, int op, bool nested, int errors);

// The make and to conversion of a spec (to refuses a number); the new bitset is pushed
// and answered.
cell* make_from_spec(cell* spec, bool to);

// The set operation of an op code on the current call's two arguments, both bitsets
// (else script/invalid-type naming the second's datatype). Membership is exact, implied
// bits beyond the stored ones included: 5 and 9 union, 6 and 10 intersection, 7 and 12
// symmetric difference, 11 exclusion, 8 the first unchanged. and~ (6) keeps the shorter
// operand's length when that loses nothing; the others store as many bytes as the longer
// operand. The result replaces the first argument and is answered.
cell* apply_set_op(int op);

// Pushes a copy of the cell.
cell* push(const cell* bits);

}  // namespace zor::bitset
