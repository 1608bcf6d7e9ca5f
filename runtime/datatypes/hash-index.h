// The hash! index: the kind-0 hashtable that lets find and select on a hash! skip the scan.
//
// A hash! keeps every value, equal ones included, and its cells move when the block is
// edited, so a kind-0 table (runtime/binding/hashtable.h) carries two side structures:
//   - the position index (record word 2): one signed 32-bit entry per cell of the block,
//     bucket + 1 of the bucket that holds the cell, -1 when the cell is not entered.
//     Entries past the array's length count as -1; it grows when a put reaches its end;
//   - the duplicate lists (record word 3): a block whose cell 0 is an integer! holding the
//     first free list number (0: none) and whose cell k is list k: a binary! cell naming
//     an integer array of the positions of all the values that compare equal (same type,
//     COMPARE_EQUAL) and share one bucket, or, once the list emptied, an integer! naming
//     the next free list number. Freed list numbers are reused, so the block does not grow
//     while equal values come and go.
// A bucket's key is the position of its one value, or -k for list k. The live count counts
// buckets (distinct values), not cells.
//
// Invariants:
// - Every cell of the block from its head, whatever a hash! value's index, is entered
//   exactly once: pos[p] - 1 names a live bucket whose key is p or a list holding p.
//   Callers that move, insert or remove cells tell the index through shift_indexes,
//   move_entries, delete_range or rebuild_hash right after the edit; a cell whose value
//   changes is deleted before and put again after (poke, swap, reverse, put).
// - The table node passed in must be held by a rooted hash! cell (or other rooted value)
//   for the call: put, find, rebuild and the index moves allocate. While they run the
//   collector does not move nodes (node compaction is off), so the table's own node and
//   the nodes in its record stay valid; buffers still move and are read again.
// - Cell pointers answered (find, find_next, put) point into the block's buffer: use them
//   before anything allocates.
// - Keys hashed by a node (blocks, objects, functions, maps ...) go stale when the
//   collector evacuates node frames. A table holding one records the collector's
//   evacuation count + 1 as its GC stamp; find rebuilds a table whose stamp is stale. A
//   table left half-updated by an error is given a stamp that is always stale, so the next
//   find rebuilds it from the block.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/value/cell.h"

namespace zor::hash_index {

// The stamp of a table that must be rebuilt before its next lookup.
inline constexpr int32_t STALE_STAMP = -1;
// A shift over more runs than this is answered by a rebuild instead.
inline constexpr int64_t SHIFT_LIMIT = 30000;

// `hashtable/make` for kind 0: a table sized for `requested` entries (buckets: the power of
// two at or above trunc(n / 0.77), n at least 4) over the given block-like value's series,
// or over a new block with room for `requested` cells when values is null. Every cell of
// the series from its head is entered. The node answered is held by nothing yet.
node_ref make(int64_t requested, const cell* values);

// `hashtable/copy` for kind 0: a new table over `values` (a copy of the source table's
// series, cell for cell) with copies of the record, flags, keys, position index, the block
// of duplicate lists and every list, so that the two tables never share a list.
node_ref copy(node_ref table, node_ref values);

// `hashtable/put` on kind 0: enters the cell, which must lie in the table's series (else
// script/invalid-arg). status: 0 a bucket of its own, 1 joined the bucket of an equal value
// (answering that bucket's first cell), 2 the table was full and was rebuilt instead, which
// entered every cell, this one included. A cell already entered is deleted first.
cell* put(node_ref table, cell* value, int32_t* status);

// `hashtable/find` on kind 0: among the cells equal to the key (same type, COMPARE_EQUAL for
// the bucket, then the caller's op for each position), the one chosen by the start position b
// and the skip size c: forward, the smallest position l >= b with (l - b) a multiple of c;
// /last, the largest l >= b with (length - 1 - l) a multiple of c (the cells a backward
// scan from the last cell visits); /reverse, the largest l < b with (b - 1 - l) a multiple
// of c. Null when none.
cell* find(node_ref table, cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse);

// `hashtable/find-next`: from the saved bucket and step (bucket -1: the key's first
// bucket), the first cell of the next bucket of the probe sequence whose value has the
// key's type and equals it by COMPARE_EQUAL; writes the bucket and step back. Null at the end.
cell* find_next(node_ref table, cell* key, int32_t* bucket, int32_t* step);

// `hashtable/delete-cell` on kind 0: removes the cell's entry: from its list (the bucket
// stays live while the list keeps a position), or the bucket is deleted (live count - 1).
// Nothing when the cell is not in the series or not entered.
void delete_cell(node_ref table, cell* value);

// `hashtable/clear` on kind 0: no entries and an empty series.
void clear(node_ref table);

// --- The index moves that block edits call (installed as series::hash_index hooks) -------

// Removes the entries of count cells from a position (cut to the block's tail), before the
// cells leave the block. The whole block from position 0 resets the table: counts 0, all
// buckets empty, every position -1, no lists, no stamp.
void delete_range(node_ref table, int64_t position, int64_t count);

// After delta cells were inserted (delta > 0) or removed (delta < 0) just before the count
// cells that now follow, which stood from position `from` (old numbering): those cells'
// stored positions (plain keys, and list entries at or after `from`) move by delta, and so
// do their position-index entries. With remove_entries, a removal first deletes the entries
// of the |delta| cells just before `from` (callers that already dropped them with
// delete_range pass false). Answers true, doing nothing, when count exceeds SHIFT_LIMIT:
// the caller rebuilds.
bool shift_indexes(node_ref table, int64_t delta, int64_t from, int64_t count, bool remove_entries);

// After count cells moved inside the block so that the run from position `from` now starts
// at position `to` (the cells between moving the other way to close the gap): renumbers the
// stored positions and reorders the position index. Nothing when to equals from.
void move_entries(node_ref table, int64_t to, int64_t from, int64_t count);

// `hashtable/rebuild-hash`: buckets = the power of two at or above trunc(n x 1.5), upper
// bound trunc(that x 0.77) (taken before the bucket count is raised to at least 4), counts
// 0, no lists, new flag and key arrays, every cell put again from position 0.
void rebuild_hash(node_ref table, int64_t request);

// `hashtable/index-values`: puts the cells from a start position with a step; stops when a
// put rebuilt the table (which entered them all).
void index_values(node_ref table, int64_t start, int64_t step);

// The growth that the general rule of runtime/binding/hashtable.h asks of a full kind-0 table: a
// rebuild at buckets - 1 (many deleted buckets) or buckets + 1.
void grow(node_ref table);

// Marks the table for a rebuild at its next lookup (an edit that could not keep it in step).
void mark_stale(node_ref table);

// --- Reading the index (tests and diagnostics) ---------------------------------------------

// The bucket + 1 stored for a position, -1 when the position is not entered.
int32_t position_entry(node_ref table, int64_t position);
// The positions held by a bucket: one for a plain key, the list's for a list; none for a
// bucket that is not live.
std::vector<int32_t> bucket_positions(node_ref table, int64_t bucket);
// Lists in use (not freed) in the table's block of duplicate lists.
int64_t list_count(node_ref table);

}  // namespace zor::hash_index
