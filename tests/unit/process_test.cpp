// The interpreter thread and the native-depth guard: the body runs on a thread of its
// own and its result comes back; the guard stays quiet at ordinary depths and turns true
// only near the bottom of the stack, which is the big one on the interpreter thread; and
// a thread without a recorded stack finds its own bounds.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>

namespace {

using zor::platform::native_stack_low;
using zor::platform::run_on_interpreter_thread;

constexpr size_t MiB = size_t{1} << 20;
constexpr size_t FRAME_BYTES = 64 * 1024;

uintptr_t deepest_frame = 0;

// Recurses in frames of FRAME_BYTES until the guard says stop; touches one byte per
// frame so that only a few pages per frame are committed.
[[gnu::noinline]] int recurse_until_stack_low(int depth) {
    volatile char frame[FRAME_BYTES];
    frame[0] = static_cast<char>(depth);
    if (native_stack_low()) {
        deepest_frame = reinterpret_cast<uintptr_t>(&frame[0]);
        return depth;
    }
    return recurse_until_stack_low(depth + 1) + frame[0] * 0;
}

// Stack used from here until the guard turned true.
size_t stack_usable_from_here() {
    char top;
    recurse_until_stack_low(0);
    return reinterpret_cast<uintptr_t>(&top) - deepest_frame;
}

struct thread_report {
    pthread_t thread;
    bool low_at_start;
    size_t usable;
};

int report_thread(void* raw_report) {
    auto* report = static_cast<thread_report*>(raw_report);
    report->thread = pthread_self();
    report->low_at_start = native_stack_low();
    report->usable = stack_usable_from_here();
    return 42;
}

TEST(InterpreterThread, RunsTheBodyOnItsOwnThreadAndReturnsItsResult) {
    thread_report report{};
    EXPECT_EQ(run_on_interpreter_thread(report_thread, &report), 42);
    EXPECT_FALSE(pthread_equal(report.thread, pthread_self()));
    EXPECT_FALSE(report.low_at_start);
}

TEST(InterpreterThread, GuardTurnsTrueWithinTheLastMiBOfAGibibyteStack) {
    thread_report report{};
    run_on_interpreter_thread(report_thread, &report);
    // The stack is 1 GiB and the guard keeps 1 MiB back; the frame that sees the guard
    // may reach past the mark by up to a frame (more under a sanitizer's padding), but
    // never into the last half of the reserve.
    EXPECT_GE(report.usable, 1000 * MiB);
    EXPECT_LE(report.usable, 1024 * MiB - MiB / 2);
}

int return_argument(void* value) { return *static_cast<int*>(value); }

TEST(InterpreterThread, CanBeStartedAgainAndAgain) {
    // Each run reserves its own stack and fault-guard range and gives both back.
    for (int run = 0; run < 20; ++run) {
        ASSERT_EQ(run_on_interpreter_thread(return_argument, &run), run);
    }
}

TEST(NativeStackGuard, FindsTheBoundsOfAnOrdinaryThread) {
    // The test's own thread never went through run_on_interpreter_thread: the guard
    // finds its stack from the thread's attributes and still stops before the end.
    EXPECT_FALSE(native_stack_low());
    size_t usable = stack_usable_from_here();
    EXPECT_GT(usable, 1 * MiB);
}

}  // namespace
