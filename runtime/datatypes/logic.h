// logic!: true and false. Payload word 1 is 1 for true, 0 for false.
//
// The truth rule of the language: a value is false when it is none! or a logic! whose
// payload is not 1; every other value, unset! included, is true unless the routine in
// question checks for unset!.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::logic {

// The shared true and false cells.
extern cell true_value;
extern cell false_value;

void init_type();
cell* make_at_tail(cell* block, uint32_t value);
cell* push(uint32_t value);
void set_result(uint32_t value);
inline uint32_t get_value(const cell* c) { return c->w1; }
inline cell* make_in(cell* destination, bool value) {
    *destination = cell{TYPE_LOGIC, value ? 1u : 0u, 0, 0};
    return destination;
}

// The truth rule itself, for callers that test a value they already hold.
inline bool truth_of(const cell* value) {
    return !(value->is(TYPE_NONE) || (value->is(TYPE_LOGIC) && value->w1 != 1));
}

// Truth tests answer 1 or 0.
// With the check flag, an unset! cell raises script/no-value with the given argument.
int is_true(const cell* value, bool check, const cell* argument);
// The current frame's last value: the cell below the stack top, or the result slot when
// the frame has pushed nothing.
int is_last_true();
int is_last_false();
// The result slot; an unset! result raises script/no-return.
int is_result_true();
// The result slot is none! or a logic! whose payload is not 1.
int is_result_false();

}  // namespace zor::logic
