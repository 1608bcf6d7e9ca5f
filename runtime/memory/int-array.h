// Raw series used as growable arrays of bytes and of 32-bit integers.
//
// The hashtable's flag, key and position arrays, the duplicate lists of hash! and the
// drawing back-end's buffers are plain series buffers read without the value-cell layer:
// items of the buffer's unit width (1, 2 or 4 bytes, the low 5 bits of its flags) lie from
// head to tail, and a series is named by its node. The 32-bit operations (append_int,
// find_int, pick_int, poke_int, remove_int) read and write 4-byte items from the head
// whatever the width; positions are 1-based items, offsets are bytes from the head.
//
// Invariant for callers: anything that appends may move the buffer, and anything that
// allocates may collect, so keep the node (rooted) and re-read the buffer through it
// afterwards; never keep a pointer into the buffer across these calls. A node that no
// rooted value refers to is collectable like any other series.
//
// Positions and offsets outside the series raise script/past-end; they never touch memory
// beyond the tail.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::int_array {

// A new, empty raw series with room for n items of width 1, 2 or 4 (n = 0 gives 16
// bytes' worth). Another width raises script/out-of-range.
node_ref make(int64_t n, int32_t width);

// Items between head and tail.
int64_t length(node_ref node);

// Empties the series (tail = head); the capacity stays.
void clear(node_ref node);

// Keeps items 1 .. position - 1; position runs from 1 (empties) to length + 1 (keeps all).
void truncate_at(node_ref node, int64_t position);

// A new series with the same flags word, capacity and items.
node_ref copy(node_ref node);

// The buffer's header word: unit width in bits 0-4 and the buffer flags.
uint32_t buffer_flags(node_ref node);

void append_byte(node_ref node, uint8_t byte);

// Appends n bytes copied from source. The source must not lie in a series buffer: the
// append can collect, and a collection may move buffers.
void append_bytes(node_ref node, const void* source, int64_t n);

void append_int(node_ref node, int32_t value);

// The byte offset from head of the first 32-bit item equal to value, or -1.
int64_t find_int(node_ref node, int32_t value);

// The 32-bit item at a 1-based index.
int32_t pick_int(node_ref node, int64_t index);
void poke_int(node_ref node, int64_t index, int32_t value);

// Removes the first 32-bit item equal to value; nothing when there is none.
void remove_int(node_ref node, int32_t value);

// Removes n bytes at a byte offset from head: later bytes move down, the tail moves back n.
void remove_bytes_at(node_ref node, int64_t offset, int64_t n);

}  // namespace zor::int_array
