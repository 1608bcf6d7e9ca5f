// Test support for the interpreter and tracing tests: a fixture that starts each test
// with the stand-in natives installed (tests/unit/interpreter_stand_ins.h) and the global
// words defined, on an empty stack with the collector on (as every unit test starts,
// tests/unit/runtime_isolation.h, which also takes the stand-ins out afterwards), and
// helpers that evaluate code and catch the errors it raises.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/eval/tracing.h"
#include "runtime/gc/gc.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/interpreter_stand_ins.h"

namespace zor::testing {

struct raised {
    int code = -1;
    std::string arg1, arg2, arg3, where;
};

class interpreter_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        logged.clear();
        exits_as_exceptions = 0;
        install_stand_ins();
        define_globals();
        reset_stack();
    }

    void reset_stack() {
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        stack::state.frames_top = stack::state.frames_begin;
    }


    // Evaluates the code; answers the molded result.
    std::string evaluate(const std::string& text) {
        cell* code = read_code(text);
        return evaluate_block(code);
    }

    std::string evaluate_block(cell* code) {
        cell* result = stack::state.args_top;
        uint32_t exit = eval::eval_block(code, false);
        EXPECT_EQ(exit, 0u) << "an exit escaped the evaluation";
        stack::pending_code = 0;
        return mold_of(result);
    }

    // The error that evaluating the code raises (code -1 when none).
    raised raise_of(const std::string& text) {
        cell* code = read_code(text);
        return raise_of_block(code);
    }

    raised raise_of_block(cell* code) {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            (void)eval::eval_block(code, false);
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            cell* e = stack::last_slot();
            raised r;
            r.code = error::code_of(e);
            r.arg1 = mold_of(error::field_of(e, error::FIELD_ARG1));
            r.arg2 = mold_of(error::field_of(e, error::FIELD_ARG2));
            r.arg3 = mold_of(error::field_of(e, error::FIELD_ARG3));
            r.where = mold_of(error::field_of(e, error::FIELD_WHERE));
            return r;
        }
        stack::pending_code = 0;
        return {};
    }
};

}  // namespace zor::testing
