// Unit tests share one started runtime per process.
#pragma once

#include "runtime/runtime-init.h"

namespace zor::testing {

inline void ensure_runtime() {
    static bool started = [] {
        runtime_init::start();
        return true;
    }();
    (void)started;
}

}  // namespace zor::testing
