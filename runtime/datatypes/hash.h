// hash!: a block whose cells are indexed by a kind-0 hashtable (runtime/datatypes/hash-index.h), so
// that find and select answer without a scan. It is a block in every other respect: it
// registers with block! as its parent and fills only make, to, mold, copy, sort and trim;
// block!'s and series!'s modifying actions keep the index in step through the hooks that
// init_type installs.
//
// Cell: header type 36; word 1 the index in cells; word 2 the node of the cell series;
// word 3 the node of the table. The table indexes every cell from the series' head,
// whatever the value's index, and every hash! value carries a table (word 3 is never 0).
//
// Invariant for callers: the cells handed to these routines are rooted (argument-stack
// slots or root cells), since all of them allocate.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::hash {

// make: an integer! or float! spec gives an empty hash! of that capacity (truncated, at
// least 1); a block! is copied from its index; a hash! is copied; anything else goes
// through to. The result is pushed.
cell* make(cell* value, cell* spec, type_id type);
// to: a copy of a hash!; any other value through block!'s to, then indexed in place.
cell* to(cell* value, cell* spec, type_id type);
// mold: "make hash! " (unless /only), then block!'s mold. form is block!'s.
int mold(cell* hash, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
// copy: block!'s copy, typed hash!; the whole hash! (index 0, no refinement) copies its
// table, lists included; a part or a deep copy gets a table of its own.
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
// sort and trim: block!'s, then every cell entered again in its new place.
cell* sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
           bool stable);
cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with);

// Makes the block-like value in a rooted cell a hash! over its own series (building in
// place): a table sized for its cells from the index (at least 1) indexes every cell.
cell* make_in_place(cell* block);

// Registers hash! (id 36, parent block!, which must be registered first) and installs the
// index hooks of series::hash_index.
void init_type();

}  // namespace zor::hash
