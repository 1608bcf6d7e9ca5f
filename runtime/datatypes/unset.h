// unset!: the value of nothing. It has no payload.
#pragma once

#include "runtime/value/cell.h"

namespace zor::unset {

// The shared unset cell.
extern cell value;

void init_type();
void set_result();
cell* make_at_tail(cell* block);
cell* push();

}  // namespace zor::unset
