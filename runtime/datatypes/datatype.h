// datatype!: a value naming a datatype. Payload word 1 is the id of the type it names.
#pragma once

#include "runtime/value/cell.h"

namespace zor::datatype {

void init_type();
// Appends a datatype! of the id at the block's tail (block value cell).
cell* make_at_tail(cell* block, type_id type);
// Pushes a new datatype! on the argument stack.
cell* push(type_id type);
// Writes a datatype! into a cell.
cell* make_in(cell* destination, type_id type);
// A datatype! value naming the type (for error arguments and the like).
inline cell value_of(type_id type) { return cell{TYPE_DATATYPE, type, 0, 0}; }

}  // namespace zor::datatype
