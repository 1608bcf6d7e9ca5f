// triple!: three signed 32-bit integers in one cell, the records that the parse engine
// keeps on its backtracking stack (positions in the rules and the input, counts).
//
// Cell: header type 31; payload words 1, 2 and 3 the first, second and third integer.
// The parse engine writes these cells itself; the lexer never makes one, so a user only
// meets a triple that escaped the engine, and then only its text. Form and mold are the
// only actions; every other action on a triple is refused by the dispatcher.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::triple {

// Registers triple! (id 31, no parent): form and mold only.
void init_type();

// Writes a triple! into the cell; answers the cell.
inline cell* make_at(cell* destination, int32_t first, int32_t second, int32_t third) {
    *destination = cell{TYPE_TRIPLE, static_cast<uint32_t>(first), static_cast<uint32_t>(second),
                        static_cast<uint32_t>(third)};
    return destination;
}

}  // namespace zor::triple
