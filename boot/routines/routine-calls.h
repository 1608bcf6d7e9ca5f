// What the boot routines of boot/routines/ share: reading the machine arguments of the
// routine calling convention (runtime/eval/invoke.h) and writing the result slot.
//
// A routine that is not cell-calling receives an integer! or logic! argument as its value
// and any other argument as the address of its argument cell; the cell stays on the
// argument stack for the whole call, so the address stays valid, but the cell's series
// buffer may move at any allocation, so it is read again after one. A routine with an
// argument of any type is cell-calling instead (an integer! would arrive as its number),
// and its arguments are not checked against the spec's types.
//
// Routines without a machine result type write their result into the result slot, the
// call's first argument cell. A call without arguments has no cell there yet:
// result_slot() makes it a root first, so nothing pushed meanwhile overwrites it.
#pragma once

#include <cstdint>

#include "runtime/eval/invoke.h"
#include "runtime/eval/stack.h"

namespace zor::boot::routine_calls {

inline int32_t integer_argument(const eval::routine_arguments& arguments, int i) {
    return static_cast<int32_t>(static_cast<uint32_t>(arguments.values[i]));
}

inline cell* cell_argument(const eval::routine_arguments& arguments, int i) {
    return reinterpret_cast<cell*>(static_cast<uintptr_t>(arguments.values[i]));
}

// The running call's result slot, on the stack below args_top.
inline cell* result_slot() {
    cell* base = stack::state.args_base;
    if (stack::state.args_top <= base) {
        stack::state.args_top = base;
        stack::push_slot();
    }
    return base;
}

inline cell unset_value() { return cell{TYPE_UNSET, 0, 0, 0}; }

// Ends a routine that wrote its own result: the stack keeps the result slot alone.
inline uint64_t answer(const cell& value) {
    cell* slot = result_slot();
    *slot = value;
    stack::keep_result_slot();
    return 0;
}

template <auto routine>
inline code_registry::code code_of() {
    return reinterpret_cast<code_registry::code>(routine);
}

}  // namespace zor::boot::routine_calls
