// tag!, email! and ref!: three children of string! that share its cell and buffer (see
// string.h) and differ from it in how they are written out: a tag between angle
// brackets (in form as in mold), an email bare, a ref after "@". An email also gives
// path access to the two halves of its address around its first "@": user and host.
//
// Invariant for callers: values and outputs are rooted cells (argument-stack slots or
// root cells).
#pragma once

#include "runtime/value/cell.h"

namespace zor::tag {
// Registers tag! (id 44, parent string!).
void init_type();
// tag!/form and tag!/mold: "<", the characters, ">".
int form(cell* value, cell* output, cell* part, int budget);
}  // namespace zor::tag

namespace zor::email {
// Registers email! (id 45, parent string!).
void init_type();
// email!/eval-path: an integer picks or pokes a character as in a string; the words user
// and host get a new string! of the text before or after the first "@" (the whole text
// and "" without one), or replace that part of the email with the value's text.
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place);
}  // namespace zor::email

namespace zor::ref {
// Registers ref! (id 50, parent string!).
void init_type();
}  // namespace zor::ref
