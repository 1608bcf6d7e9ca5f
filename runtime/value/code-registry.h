// The code registry: the C++ functions that routine! values and compiled function bodies
// run, registered by name and named by index.
//
// A value never holds a code address: routine! extras cells 2 and 4 and the compiled-body
// cell of a function! hold a registry index (integer!), so values compare, copy and
// serialise as plain data. Index 0 means "no code". An entry is opaque here; the caller
// that registered it casts it back to its own signature.
//
// Invariants: indexes are 1-based, handed out in registration order and never reused; a
// name keeps its index for the life of the process (registering a known name again
// replaces its code, so values made earlier run the new code). The registry holds no
// values and no nodes, so the collector never looks at it.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor::code_registry {

using code = void (*)();

// Registers the code under the name and answers its index (the name's existing index when
// it is known). A null code or an empty name registers nothing and answers 0.
int32_t register_code(std::string_view name, code routine);
// The code of an index; null for 0 and for an index that names no entry.
code code_of(int32_t index);
// The index of a name, 0 when it is not registered.
int32_t index_of(std::string_view name);
// The name of an index, empty for an index that names no entry.
std::string_view name_of(int32_t index);
// The number of registered entries (the highest index).
int32_t count();

}  // namespace zor::code_registry
