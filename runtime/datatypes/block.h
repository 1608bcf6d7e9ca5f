// block!: a series of value cells. The cell holds the index in cells (word 1), the node
// (word 2) and, for hash!, the node of its hashtable (word 3).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zor::block {

// The runtime root cell: owner of the working blocks made before any block exists.
extern cell root;

// Makes a fixed block (buffer in the tracked heap, never moved or collected) in a new
// cell at the tail of the given block, or in the root cell when the block is null.
cell* make_root(cell* parent, int64_t capacity);
// A new ordinary empty block in a new cell at the tail of the given block (or the root).
cell* make_empty_at_tail(cell* parent, int64_t capacity);
// Makes the cell an empty block! of the capacity in cells.
cell* make_in(cell* destination, int64_t capacity);
// Appends one unset! cell at the block's tail and answers it.
cell* alloc_tail_cell(cell* block);
// Appends a copy of the value and answers the new cell.
cell* append_copy(cell* block, const cell* value);
// Cells from the index to the tail.
int64_t rest_length(const cell* block);
// The cell n after the head.
cell* get_cell(const cell* block, int64_t n);

}  // namespace zor::block
