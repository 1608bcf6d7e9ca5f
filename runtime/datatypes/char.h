// char!: one Unicode code point. Cell: header type 10; payload word 2 the code point
// (0..0x10FFFF); words 1 and 3 are 0 and unused.
//
// char! is a child of integer!: it inherits random, absolute, even? and odd? and fills
// its own conversion, text, comparison and eight arithmetic actions. The arithmetic runs
// the integer core and refuses any result that is not a code point (math/overflow), so a
// char! never holds anything outside 0..0x10FFFF.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::char_ {

inline constexpr uint32_t MAX_CODEPOINT = 0x10FFFF;

// Registers char! (id 10, parent integer!); integer! must be registered first.
void init_type();

// Builders: a whole new char! cell.
inline cell* make_in(cell* destination, uint32_t codepoint) {
    *destination = cell{TYPE_CHAR, 0, codepoint, 0};
    return destination;
}
// `char/push`: a new char! in a new argument-stack slot.
cell* push(uint32_t codepoint);
// `char/append-to-block`: a new char! cell at the tail of the block (a rooted block cell).
cell* append_to_block(cell* block, uint32_t codepoint);
inline uint32_t codepoint_of(const cell* c) { return c->w2; }

// The actions. make and to are one routine.
cell* make(cell* value, cell* spec, type_id type);
int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);
// The char! arithmetic core: the char! at args_base, the other operand after it; the
// result replaces the char! in its slot.
cell* do_math(int op);

}  // namespace zor::char_
