// map!: the language's dictionary, an insertion-ordered collection of key/value pairs
// with hashed lookup through a kind-1 table of runtime/binding/hashtable.h.
//
// Cell: header type 40; word 1 a cell index into the data block (0 for a map value; a
// foreach loop keeps its position there in its own copy); word 2 the node of the data
// block; word 3 the node of the table, whose record's size is the live pair count.
// Data block: two cells a pair, key then value, in order of first insertion. A removed
// pair stays in place with its value cell's header 0; every reader skips it, and writing
// the key again revives it where it stands.
//
// Keys: stored normalised (prepare_key): any word as set-word!, any string and binary!
// as a copy of its own from its index, the other accepted types as they are. One case
// rule for every operation: keys match without regard to case (hashtable op 0), with
// regard to it only under /case (op 2); find and select /same match by identity (op 9).
// A set-word! key handed back to the user (find, foreach, reflect words) is a word!.
//
// Invariant for callers: the map and key cells handed to these routines are rooted
// (argument-stack slots or root cells), since nearly all of them allocate.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::map {

// Registers map! (id 40, no parent).
void init_type();

// The live pair count.
int32_t count_entries(const cell* map);
// Whether values of the type may be keys.
bool test_key_type(type_id type);
// Normalises the key in place (see above); a key of a refused type raises
// script/invalid-path with the accessed value and the key's datatype.
void prepare_key(cell* key, const cell* accessed);
// Makes the (rooted) destination a map holding the pairs of the block from its index
// (null: none), entered in order under the one case rule: a key met again gives its
// later value to the first pair. capacity is in cells. An odd cell count raises
// script/invalid-arg with the block.
cell* make_at(cell* destination, const cell* block, int64_t capacity);
// Pushes a copy of the cell.
cell* push(const cell* map);
// The extend native on a map: the pairs of the block written into it (by put's rule).
void extend(cell* map, const cell* block, bool case_sensitive);
// One foreach step: the loop words get the next keys and values from the iteration cell's
// position (removed pairs skipped, set-word! keys as word!, none once the map runs out);
// the position moves on. Answers whether a word was assigned.
bool set_loop_words(cell* iteration, const cell* words, int32_t count);
// The form (mold false) and mold text of the pairs: see map.cpp.
int serialize(cell* map, cell* output, bool mold, bool only, bool all, bool flat, cell* part, int budget,
              int indent);
// Content equality by a comparison op (0, 1, 2, 9, 12): 0 equal, else not.
int equal(cell* map, cell* other, int op);

}  // namespace zor::map
