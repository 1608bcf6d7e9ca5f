// Unit tests share one started runtime per process, and a way to run code under a try
// frame and learn which language error it raised.
#pragma once

#include <functional>

#include "runtime/datatypes/error.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/runtime-init.h"

namespace zor::testing {

inline void ensure_runtime() {
    static bool started = [] {
        runtime_init::start();
        return true;
    }();
    (void)started;
}

// The catalogue code of the language error that the action raises, or -1 when it raises
// none. The stack is restored afterwards.
inline int raised_code(const std::function<void()>& action) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        action();
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        return error::code_of(stack::last_slot());
    }
    return -1;
}

}  // namespace zor::testing
