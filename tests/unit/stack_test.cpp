// The evaluation stack: slots, frames, pops and the non-local exits.
#include <gtest/gtest.h>

#include "runtime/datatypes/error.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/errors/raise.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

struct caught {
    uint32_t code = 0;        // the throw code that reached the try frame, 0 when none
    int error_code = -1;      // the code of the error value it carried
};

// Runs the body inside a try frame, the way the try native does.
template <typename Body> caught run_caught(Body body) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        body();
    } catch (const zor_throw& t) {
        caught c{t.code};
        if (t.code == THROW_ERROR && stack::last_slot()->is(TYPE_ERROR)) c.error_code = error::code_of(stack::last_slot());
        return c;
    }
    return {};
}

class StackTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensure_runtime();
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        stack::state.frames_top = stack::state.frames_begin;
    }
};

TEST_F(StackTest, SlotsPushDropAndClampAtTheStart) {
    EXPECT_EQ(stack::last_slot(), stack::state.args_begin);
    cell v = integer_cell(7);
    cell* a = stack::push_copy(&v);
    cell* b = stack::push_slot();
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(stack::last_slot(), b);
    stack::drop_slots(5);
    EXPECT_EQ(stack::state.args_top, stack::state.args_begin);
}

TEST_F(StackTest, PopFrameLeavesTheResultWhereTheFirstArgumentWas) {
    cell caller_arg = integer_cell(1);
    stack::push_copy(&caller_arg);
    cell* callee_base = stack::state.args_top;
    stack::push_call_frame(nullptr);
    EXPECT_EQ(stack::state.args_base, callee_base);
    cell result = integer_cell(42);
    stack::push_copy(&result);
    stack::push_copy(&caller_arg);
    stack::pop_frame();
    EXPECT_EQ(stack::state.args_top, callee_base + 1);
    EXPECT_EQ(stack::state.args_base, stack::state.args_begin);
    EXPECT_EQ(callee_base->w2, 42u);
}

TEST_F(StackTest, PopVariantsSetTheArgumentStackAsTheirTableSays) {
    struct row {
        void (*pop)();
        int top_above_caller_base;  // args_top - old callee base, in cells
        bool passes_result;
    };
    const row rows[] = {
        {stack::pop_frame, 1, false},
        {stack::pop_frame_pass_result, 1, true},
        {stack::pop_frame_drop_values, -1, false},
    };
    for (const row& r : rows) {
        SetUp();
        cell caller = integer_cell(5);
        stack::push_copy(&caller);
        cell* callee_base = stack::state.args_top;
        stack::push_call_frame(nullptr);
        cell result = integer_cell(9);
        stack::push_copy(&result);
        r.pop();
        if (r.top_above_caller_base >= 0) {
            EXPECT_EQ(stack::state.args_top, callee_base + r.top_above_caller_base);
        } else {
            EXPECT_EQ(stack::state.args_top, stack::state.args_base);
        }
        EXPECT_EQ(stack::state.args_begin->w2, r.passes_result ? 9u : 5u);
    }
}

TEST_F(StackTest, AnErrorLandsAtTheNearestTryFrameWithTheErrorOnTop) {
    caught c = run_caught([] {
        stack::push_call_frame(nullptr);
        stack::push_loop_frame();
        raise::throw_error(err::script_no_value);
    });
    EXPECT_EQ(c.code, THROW_ERROR);
    EXPECT_EQ(c.error_code, 300);
}

TEST_F(StackTest, ErrorValueCarriesItsCodeAndArguments) {
    stack::push_try_frame();
    cell* top_before = stack::state.args_top;
    try {
        cell arg = integer_cell(12);
        raise::throw_error(err::script_out_of_range, &arg);
    } catch (const zor_throw& t) {
        ASSERT_EQ(t.code, THROW_ERROR);
        cell* e = stack::last_slot();
        ASSERT_TRUE(e->is(TYPE_ERROR));
        EXPECT_EQ(error::code_of(e), 341);
        EXPECT_EQ(error::field_of(e, error::FIELD_ARG1)->w2, 12u);
        EXPECT_TRUE(error::field_of(e, error::FIELD_ARG2)->is(TYPE_NONE));
        EXPECT_TRUE(error::field_of(e, error::FIELD_ARG3)->is(TYPE_NONE));
        EXPECT_EQ(stack::state.frames_top, stack::state.frames_begin);  // the try frame is gone
        EXPECT_GT(stack::state.args_top, top_before);
    }
}

TEST_F(StackTest, ExitsWithoutTheirFrameRaiseTheirThrowErrors) {
    struct row {
        const char* what;
        void (*exit)();
        int expected_code;
    };
    const row rows[] = {
        {"break", [] { stack::throw_loop_exit(false, false); }, 0},
        {"continue", [] { stack::throw_loop_exit(true, false); }, 3},
        {"return", [] { stack::throw_function_exit(true); }, 1},
        {"throw", [] { stack::throw_value(THROW_THROW); }, 2},
    };
    for (const row& r : rows) {
        SetUp();
        stack::push_try_frame();
        try {
            stack::push_call_frame(nullptr);  // the native's own frame
            cell v = integer_cell(1);
            stack::push_copy(&v);
            r.exit();
            FAIL() << r.what << " returned";
        } catch (const zor_throw& t) {
            EXPECT_EQ(t.code, THROW_ERROR) << r.what;
            EXPECT_EQ(error::code_of(stack::last_slot()), r.expected_code) << r.what;
        }
    }
}

TEST_F(StackTest, BarrierStopsTheSearchForALoop) {
    stack::push_loop_frame();
    stack::push_barrier_frame();
    try {
        stack::push_call_frame(nullptr);
        stack::throw_loop_exit(false, false);
    } catch (const zor_throw& t) {
        EXPECT_EQ(t.code, THROW_ERROR);
        EXPECT_EQ(error::code_of(stack::last_slot()), 0);  // throw/break
        // The barrier took the error; the loop frame below it stays.
        EXPECT_EQ(stack::frame_depth(), 1);
    }
}

TEST_F(StackTest, BreakLandsInTheLoopFrameWithItsValue) {
    stack::push_loop_frame();
    cell* loop_base = stack::state.args_base;
    try {
        stack::push_call_frame(nullptr);
        stack::push_call_frame(nullptr);
        cell v = integer_cell(77);
        stack::push_copy(&v);
        stack::throw_loop_exit(false, true);
    } catch (const zor_throw& t) {
        EXPECT_EQ(t.code, THROW_BREAK);
        EXPECT_EQ(stack::frame_depth(), 1);
        EXPECT_EQ(stack::state.args_base, loop_base);
        EXPECT_EQ(loop_base->w2, 77u);
    }
}

TEST_F(StackTest, ReturnFindsTheFrameWithTheBodyFlag) {
    stack::push_call_frame(nullptr);
    stack::set_body_flag(true);
    try {
        stack::push_loop_frame();
        stack::push_call_frame(nullptr);
        cell v = integer_cell(3);
        stack::push_copy(&v);
        stack::throw_function_exit(true);
    } catch (const zor_throw& t) {
        EXPECT_EQ(t.code, THROW_RETURN);
        EXPECT_EQ(stack::frame_depth(), 1);
        EXPECT_EQ(stack::state.args_base->w2, 3u);
    }
}

TEST_F(StackTest, ThrowPushesTheValueAndItsNameInTheCatchFrame) {
    stack::push_catch_frame();
    try {
        stack::push_call_frame(nullptr);
        cell v = integer_cell(10), name = integer_cell(11);
        stack::push_copy(&v);
        stack::push_copy(&name);
        stack::throw_value(THROW_THROW);
    } catch (const zor_throw& t) {
        EXPECT_EQ(t.code, THROW_THROW);
        EXPECT_EQ(stack::state.args_base[0].w2, 10u);
        EXPECT_EQ(stack::state.args_base[1].w2, 11u);
        EXPECT_EQ(stack::state.args_top, stack::state.args_base + 2);
    }
}

TEST_F(StackTest, FrameOverflowRaisesACatchableStackOverflow) {
    caught c = run_caught([] {
        for (int i = 0; i < stack::FRAME_COUNT + 10; ++i) stack::push_call_frame(nullptr);
    });
    EXPECT_EQ(c.code, THROW_ERROR);
    EXPECT_EQ(c.error_code, 904);
}

TEST_F(StackTest, ArgumentOverflowRaisesACatchableStackOverflow) {
    caught c = run_caught([] {
        for (int i = 0; i < stack::ARGUMENT_CELLS + 10; ++i) stack::push_slot();
    });
    EXPECT_EQ(c.code, THROW_ERROR);
    EXPECT_EQ(c.error_code, 904);
}

}  // namespace
}  // namespace zor
