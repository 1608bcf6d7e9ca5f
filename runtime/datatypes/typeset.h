// typeset!: a set of datatypes held in the cell itself, used for the accepted types of
// function arguments, the natives' argument checks and the named typesets of the boot
// environment.
//
// Cell: header type 33; payload words 1-3 a 96-bit map read as 12 bytes from the first
// payload byte (byte 0 is the low byte of word 1): datatype id t is bit 0x80 >> (t & 7)
// of byte t >> 3, so byte 0 holds ids 0 to 7 with id 0 in its top bit. Only ids 1 to the
// highest registered id name types; the other bits (id 0, ids above the highest) mean
// nothing but take part in comparisons and set operations like the rest. No series: a
// typeset is copied with its cell.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::typeset {

inline constexpr int BIT_COUNT = 96;

// Registers typeset! (id 33, no parent).
void init_type();

// --- Bits ----------------------------------------------------------------------------------

// The payload word holding an id's bit, and the bit's mask within that word.
inline uint32_t& word_of(cell* typeset, int type) {
    return (type >> 5) == 0 ? typeset->w1 : (type >> 5) == 1 ? typeset->w2 : typeset->w3;
}
inline uint32_t word_of(const cell* typeset, int type) {
    return (type >> 5) == 0 ? typeset->w1 : (type >> 5) == 1 ? typeset->w2 : typeset->w3;
}
inline uint32_t mask_of(int type) { return (0x80u >> (type & 7)) << (((type >> 3) & 3) * 8); }

inline bool has(const cell* typeset, int type) {
    return type >= 0 && type < BIT_COUNT && (word_of(typeset, type) & mask_of(type)) != 0;
}
inline void add(cell* typeset, int type) {
    if (type >= 0 && type < BIT_COUNT) word_of(typeset, type) |= mask_of(type);
}

// Makes the cell an empty typeset! (all 96 bits clear).
cell* clear(cell* c);
// The number of ids from 1 to the highest registered id whose bit is set.
int count(const cell* typeset);

// --- Building --------------------------------------------------------------------------------

// Appends a typeset! holding the three words at the tail of the block (a rooted block!).
cell* append_to_block(cell* block, uint32_t word1, uint32_t word2, uint32_t word3);
// Appends the typeset of an argument without a type block: every bit set except unset!'s.
cell* append_default_arg_types(cell* block);
// Appends the typeset of a function spec's type block: each element from the block's
// index, a word! replaced by its value first; a datatype! adds its type, a typeset! its
// types, a word! value adds object!, a nested block is skipped; anything else raises
// script/invalid-type-spec with the element.
void fill_from_block(cell* block, const cell* type_block);
// Whether fill_from_block reads the type block without raising.
bool reads_cleanly(const cell* type_block);
// Adds a value to the typeset cell: a word! is replaced by its value; a typeset! adds its
// types, a datatype! its type; anything else raises script/invalid-arg with the value.
void add_type(cell* typeset, const cell* value);
// Makes the cell (a rooted cell, such as a stack slot) a new block! of the datatype words
// of every set id from 1 to the highest registered id, in id order.
cell* to_block(const cell* typeset, cell* destination);
// Pushes a copy of the typeset on the argument stack.
cell* push(const cell* typeset);

// --- Set operations and text ----------------------------------------------------------------------

// The set operation of an op code on the current call's two arguments (the second a
// typeset! or a datatype!, else script/invalid-arg; op 8 reads only the first): 5 and 9
// union, 6 and 10 intersection, 7 and 12 difference (xor), 11 exclusion, 8 the first
// unchanged. The result is a new typeset in the result slot, which is answered.
cell* apply_set_op(int op);
// Appends "make typeset! [" (unless only), the names of the set types in id order each
// followed by a space, and "]" in place of the last space (unless only; with only, just
// the last space that this call wrote is dropped). With a part argument, stops once the
// budget has gone below 0. Answers the budget less what was written.
int serialize(const cell* typeset, cell* output, bool only, const cell* part, int budget);

}  // namespace zor::typeset
