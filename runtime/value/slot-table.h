// The slot table: a growable block of value cells whose cells are roots of the collector,
// so that a holder outside the runtime can keep values alive by a 1-based index.
//
// A free slot is an integer! cell whose payload word 2 is the 0-based index of the next
// free slot (-1 ends the chain). The block starts with 100 cells and doubles when no slot
// is free (the new slots are chained in index order).
//
// Invariants for callers: the address answered by get is valid until the next allocation
// (the block's buffer moves like any other). Indexes come from store; one that names no
// slot raises script/out-of-range; releasing a free slot again changes nothing.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::slot_table {

inline constexpr int32_t INITIAL_CAPACITY = 100;

// Start-up: the 100-cell block and its free chain.
void init();
// Copies the value into the first free slot (growing the table when none is free) and
// answers its 1-based index.
int32_t store(const cell* value);
// The slot's cell.
cell* get(int32_t index);
// Makes the slot free again; index 0 does nothing.
void release(int32_t index);

int32_t capacity();
int32_t free_count();
// Whether the slot (1-based, within the capacity) is free.
bool free_q(int32_t index);
// The collector's root: the block and the values it holds.
void mark();

}  // namespace zor::slot_table
