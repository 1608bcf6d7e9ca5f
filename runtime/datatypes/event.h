// event!: one user-interface event on its way to a face's handlers.
//
// Cell (event! 54, no parent): word 1 the text-mode back-end's reference to its own event
// record (0 for a script-made event); word 2 the node of a 4-cell field block (face,
// window, offset, picked) or 0; word 3 the flags word: bits 0-15 the key's character code
// of a script-made event, bit 16 "script-made" (the fields come from this cell and its
// block, and only then does the collector follow word 2), bits 22-31 the modifier and
// button flags (aux-down, alt-down, mid-down, down, away, -, control, shift, alt, command).
//
// Events made by the back-end are read through its field readers (runtime/value/upcalls.h);
// the type of every event goes through its type table. Without a back-end those raise
// internal/not-done; every other field of a script-made event is answered here.
#pragma once

#include "runtime/value/cell.h"

namespace zor::event {

inline constexpr uint32_t FLAG_SCRIPT_MADE = 0x10000;

// Registers event! (id 54, no parent).
void init_type();

// `tui-backend/push-event-argument`: pushes a copy of the value for a face's awake
// handler; answers the slot.
cell* push_argument(const cell* value);

}  // namespace zor::event
