// series!: the parent row of every series type. No value is ever of type series!; block!,
// string! and the other series types inherit from it the navigation actions (at, skip,
// next, back, head, tail and their predicates, index?, length?) and the plain modifying
// actions (clear, copy, move, pick, poke, remove, reverse, take, random), which work on
// any series by its buffer's unit width (1, 2, 4, 8 or 16 bytes) and, where the element
// kind matters, by the value's type: cell series, text series, binary! and vector!.
//
// A series value holds its index (payload word 1, signed, in units from the buffer head),
// its node (word 2) and a type-specific word 3 (hash!: its table; vector!: the element
// type; strings: their encoding cache). An index may lie past the tail after another
// value shortened the buffer: readers clamp it, and at, skip, next, back and length?
// leave a value with an index within 0..length.
//
// Invariants for callers: a series cell handed to these routines lies on the argument
// stack or in a root cell, never inside a series buffer, because they allocate (copy,
// take, the ownership reports) and re-read the cell's node afterwards. Modifying routines
// report to ownership tracking before the change and, when the series is owned, after it.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::series {

// What the elements of a series are.
enum element_kind : uint8_t {
    ELEMENTS_CELLS,   // block!, paren!, hash!, map!, the four path types
    ELEMENTS_TEXT,    // string!, file!, url!, tag!, email!, ref! (code points)
    ELEMENTS_BINARY,  // binary! (bytes)
    ELEMENTS_VECTOR,  // vector! (numbers of the element type in word 3)
    ELEMENTS_OTHER,   // image! and anything that is not a buffer of elements
};
element_kind kind_of(type_id type);
// block!, paren!, hash! and the four path types: the values whose cells a find, append or
// insert takes as a sequence.
bool is_block_like(type_id type);
// Any block, any string, binary!, vector! and image!: the values that deep copies copy.
bool is_series_type(type_id type);

// --- Shared routines -------------------------------------------------------------------------

inline int32_t index_of(const cell* series) { return static_cast<int32_t>(series->w1); }
// `series/total-length`: units between head and tail, whatever the index.
int64_t total_length(const cell* series);
// `series/is-at-tail`: head + index x unit reaches the tail.
bool is_at_tail(const cell* series);
// `series/advance`: moves the index forward by n only when that stays within the series;
// answers whether the position reached or attempted is at or past the tail.
bool advance(cell* series, int64_t n);
// `series/get-length`: units from the index (from the head with the flag) to the tail;
// an index below 0 counts as 0, one past the tail is written back as the tail index.
int64_t get_length(cell* series, bool from_head);
// The at/skip core: the new index for an integer! offset (at: 1-based, 0 acting as 1;
// skip: relative), clamped to 0..length. Another offset raises script/invalid-arg.
int64_t at_skip_index(const cell* series, const cell* offset, bool at);
// The index clamped to 0..length.
int64_t clamped_index(const cell* series);

// A /part argument as a count: an integer!, or a position in the same series (same type
// and node) giving its index minus the series' index. Anything else raises
// script/invalid-refine-arg with `part`.
int64_t part_count(const cell* series, const cell* part);
// script/invalid-refine-arg naming the refinement (`part`, `skip`, `compare`, `with`).
enum refinement_name : uint8_t { REFINEMENT_PART, REFINEMENT_SKIP, REFINEMENT_COMPARE };
[[noreturn]] void invalid_refine_arg(refinement_name name, const cell* argument);

// What the refinements of a sort ask for, checked alike for blocks and strings: the
// records from start (count units, size units each), the field compared (offset within a
// record) or the user's comparator (rooted on the stack), and whether /all compares whole
// records. A negative /part sorts the units before the index.
struct sort_request {
    int64_t start;
    int64_t count;
    int64_t size;
    int64_t offset;
    cell* function;
};
sort_request sort_refinements(const cell* series, int64_t index, int64_t length, const cell* skip,
                              const cell* comparator, const cell* part, bool all);

// --- Ownership reports -------------------------------------------------------------------------

enum change_word : uint8_t {
    CHANGE, CHANGED, CLEAR, CLEARED, APPEND, APPENDED, INSERT, INSERTED, MOVE, MOVED, POKE, POKED,
    PUT, PUT_ED, REMOVE, REMOVED, RANDOM, RANDOMIZED, REVERSE, REVERSED, SORT, SORTED, SWAP, SWAPED,
    TAKE, TAKEN, TRIM, TRIMMED,
};
// One report to ownership tracking (value null for none). Answers whether the series is
// owned: the after-report is made only then.
bool notify(cell* series, change_word word, const cell* value, int64_t index, int64_t part);

// --- Elements ------------------------------------------------------------------------------------

// Pushes the element at a unit position (which must lie inside the series) as pick
// answers it: a copy of the cell, char! of a code point, integer! of a byte, a number of
// the vector's element type. Answers the slot.
cell* push_element(const cell* series, int64_t position);
// Makes result (a rooted cell, possibly the series itself) a new series of the series'
// type holding count units from start (already clamped to the series), with the source
// header's new-line marker, index 0 and, for vector!, the element type.
cell* copy_range(cell* series, cell* result, int64_t start, int64_t count);
// Removes count units at start (clamped to the series), closing the gap.
void remove_range(cell* series, int64_t start, int64_t count);

// --- The hash! index --------------------------------------------------------------------------
//
// The operations on a hash!'s position index that keep its table in step with edits of
// its cells. The hash! module installs them; a hash! met while one is missing raises
// internal/not-done. (Put, find and delete of single cells go through runtime/hashtable.h.)
namespace hash_index {
// Drops the entries of count cells from a position.
extern void (*delete_range)(node_ref table, int64_t position, int64_t count);
// After delta cells were inserted (or removed, delta < 0) before the count cells from a
// position: shifts their stored positions; answers true when the caller must rebuild.
extern bool (*shift_indexes)(node_ref table, int64_t delta, int64_t from, int64_t count, bool shift_index);
// Rebuilds the whole index for a size request.
extern void (*rebuild)(node_ref table, int64_t request);
// After count cells moved from one position to another inside the block.
extern void (*move_entries)(node_ref table, int64_t to, int64_t from, int64_t count);

void call_delete_range(node_ref table, int64_t position, int64_t count);
bool call_shift_indexes(node_ref table, int64_t delta, int64_t from, int64_t count, bool shift_index);
void call_rebuild(node_ref table, int64_t request);
void call_move_entries(node_ref table, int64_t to, int64_t from, int64_t count);
// Deletes and re-enters the cell at a position of a hash! (a cell that changed value).
void reenter_cell(cell* hash, int64_t position);
// Enters the cell at a position; answers the table's status (2: the index was rebuilt).
int enter_cell(cell* hash, int64_t position);
}  // namespace hash_index

// --- The action routines (the child types reach them through inheritance) -------------------

cell* random(cell* series, bool seed, bool secure, bool only);
cell* reflect(cell* series, int field_symbol);
cell* clear(cell* series);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
int length_q(cell* series);
cell* move(cell* origin, cell* target, cell* part);
cell* pick(cell* series, int index, cell* index_cell);
cell* poke(cell* series, int index, cell* value);
cell* remove(cell* series, cell* part, cell* key);
cell* reverse(cell* series, cell* part, cell* skip);
// series!/take: none with nothing to take, the taken element without /part, else a new
// series of the taken units. The result is pushed (or is the shared none).
cell* take(cell* series, cell* part, bool deep, bool last);
cell* modify(cell* target, cell* field, cell* value, bool case_sensitive);
// The navigation actions read their arguments from args_base.
cell* at();
cell* back();
cell* head();
cell* head_q();
cell* index_q();
cell* next();
cell* skip();
cell* tail();
cell* tail_q();

// Registers series! (id 42, no parent).
void init_type();

}  // namespace zor::series
