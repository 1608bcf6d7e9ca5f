// The runtime's assertions catch corruption where it happens: the collector's mark stops
// at a cell of no known type, at a node whose buffer is gone or does not name it back, and
// at a buffer whose head and tail left its data area; the evaluation stack stops at a pop
// without a frame, at a call that returns with a frame left behind, and at argument
// indexes outside the stack. Each case corrupts the runtime in a child process and
// expects it to die with the assertion (or, under the collector torture mode, with the
// torture mode's own stale-node report, which checks some nodes first).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

struct corruption_case {
    const char* name;
    std::function<void()> corrupt;  // runs in the child, which must die
    const char* report;             // a regular expression for what it prints
};

// A block of one integer! cell in a fresh argument-stack slot, where the collector finds
// it (the child that corrupts it never returns).
cell* rooted_block() {
    cell* block = block::push_empty(1);
    memory::series_buffer* b = memory::buffer_of(block->w2);
    cell* c = b->head_cell();
    c->header = TYPE_INTEGER;
    c->w1 = c->w2 = c->w3 = 0;
    b->tail = b->head + sizeof(cell);
    return block;
}

class RuntimeAssertions : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef NDEBUG
        GTEST_SKIP() << "assertions are compiled out (NDEBUG)";
#endif
        testing::ensure_runtime();
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(RuntimeAssertions, TheCollectorStopsAtCorruptCellsAndNodes) {
    const std::vector<corruption_case> cases = {
        {"a cell of no known type",
         [] {
             cell* block = rooted_block();
             memory::buffer_of(block->w2)->head_cell()->header = 200;
             gc::collect();
         },
         "TYPE_TABLE_SIZE"},
        {"a node whose buffer was given up",
         [] {
             cell* block = rooted_block();
             memory::buffer_of(block->w2)->flags &= ~memory::FLAG_IN_USE;
             gc::collect();
         },
         "FLAG_IN_USE"},
        {"a buffer that no longer names its node",
         [] {
             cell* block = rooted_block();
             memory::buffer_of(block->w2)->node = 0;
             gc::collect();
         },
         "b->node == node|stale node"},
        {"a node that is no node slot",
         [] {
             cell* block = rooted_block();
             block->w2 += 3;
             gc::collect();
         },
         "is_node_slot"},
        {"a cell series whose tail lies before its head",
         [] {
             cell* block = rooted_block();
             memory::series_buffer* b = memory::buffer_of(block->w2);
             b->tail = b->head - sizeof(cell);
             gc::collect();
         },
         "b->head <= b->tail"},
    };
    for (const corruption_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.corrupt(), c.report);
    }
}

TEST_F(RuntimeAssertions, TheEvaluationStackStopsAtUnbalancedFramesAndOutOfBoundsArguments) {
    const std::vector<corruption_case> cases = {
        {"a pop with no frame on the stack",
         [] {
             stack::state.frames_top = stack::state.frames_begin;
             stack::pop_frame();
         },
         "frames_top > state.frames_begin"},
        {"a call that returns with a frame of its own left behind",
         [] {
             stack::push_call_frame(nullptr);
             const stack::frame* own = stack::top_frame() - 1;
             cell* base = stack::state.args_base;
             stack::push_try_frame();
             stack::assert_balanced(own, base);
         },
         "frames_top == own \\+ 1"},
        {"a call that returns having popped its caller's frame",
         [] {
             stack::push_call_frame(nullptr);
             stack::push_call_frame(nullptr);
             const stack::frame* own = stack::top_frame() - 1;
             cell* base = stack::state.args_base;
             stack::pop_frame();
             stack::assert_balanced(own, base);
         },
         "frames_top == own \\+ 1"},
        {"a frame popped above a base lower than its caller's",
         [] {
             stack::push_call_frame(nullptr);
             stack::state.args_base = stack::state.args_begin;
             stack::state.frames_top[-1].saved_base = 10;
             stack::pop_frame();
         },
         "saved_base <= old_base"},
        {"a negative argument index", [] { stack::argument(-1); }, "n >= 0"},
        {"an argument index past the stack's end",
         [] { stack::argument(static_cast<int>(stack::state.args_end - stack::state.args_base)); },
         "args_base \\+ n < state.args_end"},
        {"dropping a negative number of slots", [] { stack::drop_slots(-1); }, "n >= 0"},
        {"a frame top outside the frame stack",
         [] { stack::set_frames_top(stack::state.frames_end + 1); },
         "f <= state.frames_end"},
    };
    for (const corruption_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.corrupt(), c.report);
    }
}

}  // namespace
}  // namespace zor
