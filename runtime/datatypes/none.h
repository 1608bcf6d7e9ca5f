// none!: the value of no value. It has no payload; its series actions answer none.
#pragma once

#include "runtime/value/cell.h"

namespace zor::none {

// The shared none cell.
extern cell value;

void init_type();
void set_result();
cell* make_at_tail(cell* block);
cell* push();

}  // namespace zor::none
