// The runtime's reads of the `system` object that the boot environment builds: the
// settings the datatypes consult at every use (the locale's months and currencies, the
// money digits, the callback kinds that keep tracing on, the lexer's exit-states, the
// schemes registry). The object is whatever the global word `system` holds, so a script
// that rebinds the word is read in its place; before the boot environment installs, and
// whenever a step of a path is missing or no object, the answer is null and the caller
// falls back to its built-in default.
//
// Invariant: nothing here allocates; a cell answered lies inside a context's value block
// and is valid only until the next allocation.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/value/cell.h"

namespace zor::system_object {

// The object held by the global word `system`, or null.
cell* object();
// The value of the field (a symbol id, looked up caselessly) of an object! value, or null
// when the value is no object or lacks the field.
cell* field(const cell* object, int32_t symbol);
// The value at a path of fields from the system object (system/a/b/...), or null.
cell* path(std::initializer_list<int32_t> symbols);

}  // namespace zor::system_object
