// handle!: an opaque 32-bit value of the platform layer (a file descriptor, or an index
// into a handle table of the platform or View modules) carried through the language with
// a small kind number.
//
// Cell: header type 46; payload word 1 the kind (0 null, 1 fd, 2 monitor, 3 window,
// 4 font, 5 rich-text); word 2 the handle value; word 3 always -1. The value is never an
// address (a 64-bit address does not fit): whoever makes a handle owns the meaning of its
// value, and this module only carries, prints and compares it.
//
// Only form, mold and compare are supported; every other action slot is empty.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::handle {

enum kind : uint32_t {
    KIND_NULL = 0, KIND_FD = 1, KIND_MONITOR = 2, KIND_WINDOW = 3, KIND_FONT = 4, KIND_RICH_TEXT = 5,
};
inline constexpr uint32_t KIND_COUNT = 6;

// Installs the kind names and registers handle! (id 46, parent integer!, nothing inherited).
void init_type();

// The name of a kind for mold, or null for the null kind and for kinds without a name.
const char* kind_name(uint32_t kind);

// Writes a handle! into the cell; answers the cell.
cell* make_at(cell* destination, uint32_t value, uint32_t kind);
// Pushes a new handle! on the argument stack.
cell* push(uint32_t value, uint32_t kind);
// Pushes the null handle (value 0, kind 0).
cell* push_null();
// Makes the current call's result slot a handle!.
cell* set_result(uint32_t value, uint32_t kind);

inline uint32_t value_of(const cell* c) { return c->w2; }
inline uint32_t kind_of(const cell* c) { return c->w1; }

}  // namespace zor::handle
