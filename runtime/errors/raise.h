// Error raising: every language error of the runtime goes through throw_error, which
// builds an error! value from the catalogue entry and up to three argument cells and
// throws it to the nearest try or barrier frame of the evaluation stack. It never
// returns. Around it sit the typed argument checks used by natives and actions.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"
#include "runtime/errors/error-catalogue.h"

namespace zor::raise {

// Missing arguments stay none.
[[noreturn]] void throw_error(err id, const cell* arg1 = nullptr, const cell* arg2 = nullptr,
                              const cell* arg3 = nullptr);

// script/expect-arg naming the current function, the datatype and the function's
// parameter word at the position.
[[noreturn]] void expect_arg(type_id type, int parameter);

// script/invalid-type naming the datatype.
[[noreturn]] void invalid_type(type_id type);

// script/bad-make-arg with the type and the spec.
[[noreturn]] void bad_make_arg(const cell* type, const cell* spec);

// True when the value's datatype bit is set in the typeset cell's bits.
bool typeset_has(const cell* typeset, type_id type);
// Returns the value when its type is in the typeset; else script/expect-arg with the
// current function's word, the value's datatype and the argument's word.
const cell* check_arg_type(const cell* typeset, int argument_index, const cell* value);
// The word of the current function's parameter at a position, <anon> when unknown
// (error::get_argument_word).
cell parameter_word(int position);
// No check when the slot offset is -1 or lower (the refinement carrying it is absent).
void check_native_arg(int slot_offset, const cell* typeset, int argument_index);

}  // namespace zor::raise

namespace zor::stack {
}  // namespace zor::stack
