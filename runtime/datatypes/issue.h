// issue!: a symbolic value written #name. It names a symbol but is never looked up as a
// variable.
//
// Cell (issue! 20, parent word!): the word layout (runtime/datatypes/word.h): word 1 the
// global context, word 2 the symbol id, word 3 -1 (an issue is never bound to a slot).
// An issue converted from another word keeps that word's binding.
//
// An issue compares only with issues (a word and an issue of one name are not
// comparable), by the word comparison.
#pragma once

#include "runtime/value/cell.h"

namespace zor::issue {

// Registers issue! (id 20, parent word!).
void init_type();

// `issue/load-c-string`: fills the cell as an issue of the NUL-terminated UTF-8 name
// (interned exactly). The cell must not lie in a series buffer.
cell* load_c_string(cell* destination, const char* name);
// `issue/push-c-string`: a new issue of the name; during start-up (while the start-up word
// collection flag is set) appended to the runtime root block and answered there (valid
// until the next allocation), otherwise pushed on the argument stack.
cell* push_c_string(const char* name);
// `issue/push-word`: pushes a copy of the word with its type byte set to issue!, the other
// header bits kept.
cell* push_word(const cell* word);

// make and to: from a string! (its text from the index), a char!, a word of any kind
// (retyped, binding kept); anything else as word! make does with issue! as the target.
cell* make(cell* value, cell* spec, type_id type);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);

}  // namespace zor::issue
