// block!: a series of value cells, the language's universal container, and the storage
// routines over cell series that the whole runtime builds, reads and edits blocks with.
// They serve block!, paren!, hash! and the path types alike, since all share the layout.
//
// Cell: header (type id; bit 30 the new-line marker), word 1 the index in cells (signed;
// it may lie past the tail after another value shortened the series), word 2 the node of
// a cell series (unit 16), word 3 for hash! the node of its hashtable, else 0. The cell
// at index i lies at head + 16 i.
//
// Invariants for callers:
// - A block cell handed to a routine that can allocate must stay where it is for the
//   call: an argument-stack slot, a root cell, or a cell of a fixed (tracked-heap) block.
//   A value to copy in may also lie inside the destination block itself; any other value
//   must not lie in a series buffer that can move.
// - Addresses answered here (get_cell, get_current_cell, get_tail, the cell answered by
//   append_copy or select_value) point into the buffer: use them before anything
//   allocates, then look them up again.
// - A hash!'s table is kept in step by every routine that inserts or removes cells.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::block {

// The runtime root cell: owner of the working blocks made before any block exists.
extern cell root;

// --- Reading and positioning ---------------------------------------------------------------

// Cells from the index to the tail (negative for an index past the tail).
int64_t rest_length(const cell* block);
// Moves the index one cell forward unless it is at or past the tail; answers whether the
// index then sits exactly at the tail.
bool advance(cell* block);
// Clamps a stale index to the tail (written back) and answers the cell at the index (the
// tail address when empty).
cell* get_current_cell(cell* block);
cell* get_tail(const cell* block);
// Head + 16 x index equals the tail exactly.
bool is_at_tail(const cell* block);
// The cell n after the head (ignores the index).
cell* get_cell(const cell* block, int64_t n);
// Tail := head + 16 x index.
void clear_from_index(cell* block);
// Tail := head + 16 x n.
void truncate(cell* block, int64_t n);
// Removes the last cell of a non-empty block; an index now past the tail becomes the tail.
void drop_last_cell(cell* block);

// --- Building and editing ----------------------------------------------------------------------

// Appends one unset! cell at the tail (doubling the buffer when full) and answers it.
cell* alloc_tail_cell(cell* block);
// Appends a copy of the value and answers the new cell.
cell* append_copy(cell* block, const cell* value);
// Appends copies of the source's cells from its index to its tail; answers destination.
cell* append_rest(cell* destination, const cell* source);
// Inserts a copy of the value at the index (at the head with the flag), growing the buffer
// to twice the needed size when it is full; with advance the index moves past it.
cell* insert_cell(cell* block, const cell* value, bool advance, bool at_head);
// insert_cell with advance for each source cell from its index, in order.
cell* insert_all(cell* destination, const cell* source);
// Inserts the result slot's value into the block in the cell just below the result slot,
// at that block's index, advancing it.
cell* insert_result_into_outer();
// Appends a copy of the second argument to the block in the first; answers the block.
cell* append_second_arg();
// Appends a copy of the result slot to the block in the cell just below it.
cell* append_result_to_outer();
// The cell after the first cell from the index equal to the value (its compare action,
// COMPARE_FIND); the shared none when nothing matches or the match is the last cell.
cell* select_value(const cell* block, cell* value);
// Removes the first cell equal to the value (COMPARE_FIND) from the index (from the head with
// the flag). Answers 0 when nothing was removed, else 1 when the removed cell lay at or
// before the block's index and 0 when it lay after it.
int remove_value(cell* block, cell* value, bool from_head);
// The cell after the first any-word cell (word!, set-word!, lit-word!, get-word!) from the
// index naming the word's symbol (the same id when exact, else the same canonical id); the
// shared none when absent or last.
cell* select_word(const cell* block, const cell* word, bool exact);
// Pushes a new value of the source's type (no header flags, index 0) holding copies of the
// cells from its clamped index to its tail (capacity at least 1). With deep every nested
// block!, and with paths also every paren! and path value, becomes a deep copy of itself
// (a block that contains itself raises internal/no-cycle). Answers the slot.
cell* push_copy(const cell* value, bool deep, bool paths);
// For every step-th cell of the block from `from` up to `end` (cell positions from the head)
// whose type is in the typeset or equals the datatype, and that is a series or an object!,
// bitset!, error! or map!: replaces it by its copy made by its copy action, /deep when deep
// (passing the types on).
void copy_nested_of_types(cell* block, int64_t from, int64_t end, int64_t step, bool deep, cell* types);

// --- Making blocks -------------------------------------------------------------------------------

// The cell becomes an empty block! (index 0) on a new cell series of the capacity (at
// least 1, so that it can grow by doubling); it holds unset! while allocating.
cell* make_empty(cell* destination, int64_t capacity);
inline cell* make_in(cell* destination, int64_t capacity) { return make_empty(destination, capacity); }
// As make_empty; with fixed the buffer comes from the tracked heap and never moves, else
// every cell of the new buffer is pre-filled with unset!.
cell* make_empty_static(cell* destination, int64_t capacity, bool fixed);
// A fixed block in a new cell at the tail of the given block, or in the root cell when
// the block is null.
cell* make_root(cell* parent, int64_t capacity);
// A new ordinary empty block in a new cell at the tail of the given block (or the root).
cell* make_empty_at_tail(cell* parent, int64_t capacity);
// Pushes a copy of the value; answers the slot.
cell* push_value(const cell* value);
// Pushes a new empty block! (capacity 0 counts as 1); answers the slot.
cell* push_empty(int64_t capacity);

// --- Molding and comparing ----------------------------------------------------------------------

// Writes the molded cells from the index, honouring new-line markers unless flat; answers
// the remaining budget.
int mold_values(cell* block, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
// The order of two block-like values by a comparison code: 0 equal, negative, positive.
int compare_core(cell* value, cell* other, int op);
// A cell comparison that treats a type without a compare action as not comparable (-2).
int compare_cells(cell* value, cell* other, int op);

// --- The block! actions ---------------------------------------------------------------------------

cell* make(cell* value, cell* spec, type_id type);
cell* to(cell* value, cell* spec, type_id type);
int form(cell* block, cell* output, cell* part, int budget);
int mold(cell* block, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place);
int compare(cell* value, cell* other, int op);
// append and insert: one routine, the append flag choosing the tail or the index.
cell* append(cell* series, cell* value, int part, bool only, int dup, bool append);
cell* change(cell* series, cell* value, int part, bool only, int dup);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match);
cell* put(cell* series, cell* key, cell* value, bool case_sensitive);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
// Start-up (part of init_type): registers the roots that sorts keep between calls.
void register_sort_roots();
cell* sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
           bool stable);
cell* swap(cell* series, cell* other);
cell* take(cell* series, cell* part, bool deep, bool last);
cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with);

// Set-operation codes shared with bitset! and typeset!.
enum set_operation_code : int {
    SET_UNIQUE = 8, SET_UNION = 9, SET_INTERSECT = 10, SET_EXCLUDE = 11, SET_DIFFERENCE = 12,
};
// The set operations on two block-like series: first is the result slot and receives the
// new block; skip is an integer! record size or null.
cell* set_operation(cell* first, cell* second, bool case_sensitive, cell* skip, int op);

// Registers block! (id 5, parent series!); series! must be registered first.
void init_type();

}  // namespace zor::block

namespace zor::paren {
// Registers paren! (id 6, parent block!), whose own action is its mold.
void init_type();
int mold(cell* paren, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
}  // namespace zor::paren
