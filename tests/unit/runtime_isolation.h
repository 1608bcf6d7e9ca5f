// Test isolation: every unit test starts from the same runtime, whatever ran before it, in
// whatever order and in whichever shard. One listener, registered once by the test
// program's main (tests/unit/test_main.cpp), snapshots the runtime's shared state before
// each test and, after it, restores that state and checks what cannot simply be put back:
//   - the argument and frame stacks are empty, their storage holds no leftover values, and
//     no exit is pending;
//   - the roots are what they were: the runtime root block's length, the slot table's
//     used slots, the registered mark callbacks;
//   - the hooks are what they were: output hooks, change hooks, the upward calls (the
//     lexer's scanners, the comparator, the handler invoker ...), the native table, the
//     hash! index operations, tracing;
//   - the collector's flags (enabled, node compaction, torture) and the float display flag
//     are what they were.
// Then one collection runs, so that a test which broke the heap fails itself instead of
// a later test. Fixtures only prepare what their own tests need; they restore nothing of
// the above.
#pragma once

#include <gtest/gtest.h>

namespace zor::testing {

// The listener; the test program's main appends one to the listeners of the unit test.
::testing::TestEventListener* make_runtime_isolation_listener();

}  // namespace zor::testing
