// Action dispatch: finding a type's handler and the typed dispatchers that call it.
#pragma once

#include "runtime/action-signatures.h"
#include "runtime/cell.h"
#include "runtime/type-registry.h"

namespace zor::actions {

// The handler of the action for the value's type; raises script/expect-arg naming the
// current function and the type when the type has none.
action_entry find_handler(const cell* value, action a);

template <action A> action_handler<A> handler(const cell* value) {
    return reinterpret_cast<action_handler<A>>(find_handler(value, A));
}

int dispatch_form(cell* value, cell* output, cell* part, int budget);
int dispatch_mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
// -1, 0, 1, or -2 when the values cannot be compared.
int dispatch_compare(cell* value, cell* other, int op);
// The generic comparison as a truth value; -2 raises script/invalid-compare for the
// ordering codes.
bool compare(cell* value, cell* other, int op);

}  // namespace zor::actions
