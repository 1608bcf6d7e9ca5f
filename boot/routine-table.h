// The boot routines: the C++ functions that the boot environment installs as routine!
// values under their own word names (`quit-return`, `bitset?`, `_read-input`, ...).
//
// Each family of routines lives in a module of boot/routines/ and hands its entries to
// `register_routines` once, at start-up, before the boot environment installs; the
// boot-only helper that makes a routine! from its spec and body finds the code here by
// the routine's word name.
//
// Invariants: a name is registered once (registering it again replaces the entry, as the
// code registry does); the entries' names and codes are static data of the program, so
// the table holds no values and the collector never looks at it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/value/code-registry.h"

namespace zor::boot {

struct boot_routine {
    // The word the boot environment binds the routine to; also its code-registry name.
    std::string_view name;
    // A routine_cell_code when cell_calling, else a routine_code (runtime/eval/invoke.h).
    code_registry::code code;
    // The routine receives its argument cells and answers its result cell.
    bool cell_calling;
    // For a routine that is not cell-calling: TYPE_LOGIC or TYPE_INTEGER to make the
    // result of its machine answer, or -1 when the routine writes its result slot itself.
    int32_t return_type;
};

// Adds the routines to the table and registers their code in the code registry.
void register_routines(std::span<const boot_routine> routines);

// The entry of a routine's word name; null when no routine of that name is registered.
const boot_routine* find_routine(std::string_view name);

}  // namespace zor::boot
