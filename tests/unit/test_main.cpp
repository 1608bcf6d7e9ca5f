// The unit-test program: GoogleTest with the runtime isolation listener, so every test
// starts from the same runtime state in any order and in any shard.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"
#include "tests/unit/runtime_isolation.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Started here as well as by the listener: the child process of a death test runs
    // without listeners.
    zor::testing::ensure_runtime();
    ::testing::UnitTest::GetInstance()->listeners().Append(zor::testing::make_runtime_isolation_listener());
    return RUN_ALL_TESTS();
}
