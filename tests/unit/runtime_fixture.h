// Unit tests share one started runtime per process, and a way to run code under a try
// frame and learn which language error it raised.
#pragma once

#include <functional>

#include "boot/start-up.h"
#include "runtime/datatypes/error.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"

namespace zor::testing {

// Collection is switched on once start-up is done, as the boot does when the top level
// starts, so every test runs with the collector live (and, under ZOR_GC_TORTURE=1, with a
// collection at every allocation). Tests that hold bare nodes switch it off themselves;
// the runtime isolation listener (tests/unit/runtime_isolation.h) starts the runtime before
// the first test and puts this state back after each one.
inline void ensure_runtime() {
    static bool started = [] {
        boot::start_up({.last = boot::start_up_options::stage::runtime});
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
