// binary!: the byte series of the language, written #{...} in hexadecimal. It is the
// result of `to binary!` on text, numbers and tuples, and what the base codecs, checksums
// and compression read and write.
//
// Cell (binary! 41, parent string!): word 1 the index in bytes from the buffer's head
// (signed; an index past the tail, left by another value that shortened the buffer, is
// read as the tail), word 2 the node of the series, word 3 unused (0).
//
// Buffer: a series of unit width 1; the bytes from the head to the tail are the content.
// The navigation, copying, searching, sorting and path actions come from string! and
// series!, which read a unit-1 buffer of a binary! as bytes (pick answers integer!).
//
// Invariants for callers: a cell handed to a routine here lives in a rooted place that
// does not move while it runs (an argument-stack slot or a root cell); no address into a
// buffer survives an allocation; the bytes handed to the loaders may lie in a collected
// buffer only when nothing can move it while they run (they are copied after the new
// buffer is allocated, so they must not: pass a copy).
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/value/cell.h"

namespace zor::binary {

// Registers binary! (id 41, parent string!).
void init_type();

// --- Byte-series operations ----------------------------------------------------------------

// Bytes from the (clamped) index to the tail.
int64_t get_length(const cell* binary);
// The bytes from the (clamped) index to the tail, copied out.
std::vector<uint8_t> rest_bytes(const cell* binary);
// Makes the cell an empty binary! at index 0 with room for capacity bytes (0: the memory
// manager's default of 16). The cell is unset! until the buffer exists.
cell* make_at(cell* destination, int64_t capacity);
// Pushes a new binary! holding a copy of count bytes (which must not lie in a collected
// buffer); answers the slot.
cell* load(const uint8_t* bytes, int64_t count);
// Appends count bytes at the tail of the binary (which must be rooted); no ownership report.
void append_bytes(cell* binary, const uint8_t* bytes, int64_t count);

// Compares the bytes of two values from their indexes with a comparison op code (0 =,
// 1 <>, 2 ==, 3-6 orderings, 9 same?, 12 the search equality): -2 when the right value is
// not a binary! or any-string (read as its UTF-8), else 0 equal, -1 less, 1 greater or
// not equal. With match, the right value is a prefix test against the left one.
int compare_bytes(const cell* left, const cell* right, int op, bool match);

// The byte image of a value for append, insert and change: a char!'s UTF-8; an integer!
// -128..255 as its low byte (others raise script/invalid-arg); a binary!'s or tuple!'s
// bytes; an any-string's UTF-8; a block!, paren! or hash! as the images of its elements
// from its index (part counting elements, or with only bytes over all of them). Any
// other value is formed when any_type, else raises script/bad-to-arg (binary!, value). A
// part below 1 means no limit. Nothing is changed by a failure: callers write afterwards.
std::vector<uint8_t> value_bytes(const cell* value, int64_t part, bool only, bool any_type);

// --- Actions ---------------------------------------------------------------------------------

cell* to(cell* value, cell* spec, type_id type);
// "#{", the bytes in upper-case hexadecimal (32 to a line when there are 31 or more, at
// one indentation level deeper), "}"; /only without the braces. Answers the budget left.
int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);
cell* complement(cell* value);
// append (append set) and insert: part and dup -1 when absent. append answers the series
// at its index, insert the position after the inserted bytes.
cell* append(cell* series, cell* value, int part, bool only, int dup, bool append);
cell* change(cell* series, cell* value, int part, bool only, int dup);
cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with);

}  // namespace zor::binary
