// Test support for what the boot installs: a fixture that binds the core words and runs
// the boot sources before each test (tests/unit/runtime_isolation.h has started the
// runtime), then puts back every value of the global context as it was, so the other
// suites see the context as they left it; and a helper that evaluates code under a try
// frame.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "boot/start-up.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "tests/unit/code_notation.h"

namespace zor::testing {

// Loads Zor text with the lexer into a new slot.
inline cell* load_text(const std::string& text) {
    cell* loaded = stack::push_slot();
    cell::init_unset(loaded);
    lexer::scan_request request;
    int64_t consumed = 0;
    lexer::scan_buffer(loaded, reinterpret_cast<const uint8_t*>(text.data()), text.size(), request, &consumed);
    return loaded;
}

class boot_environment_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        // Every global value as it is now, kept alive (and current) in a stack block.
        int32_t count = context::value_count(context::global);
        saved_ = block::push_empty(count + 1);
        for (int32_t i = 0; i < count; ++i) {
            cell value = *context::value_at(context::global, i);
            block::append_copy(saved_, &value);
        }
        // The words the runtime binds, then the boot sources (base values, operators ...).
        boot::start_up({.start_runtime = false});
    }

    void TearDown() override {
        int32_t saved_count = static_cast<int32_t>(block::rest_length(saved_));
        int32_t count = context::value_count(context::global);
        for (int32_t i = 0; i < count; ++i) {
            cell* value = context::value_at(context::global, i);
            if (i < saved_count) *value = *block::get_cell(saved_, i);
            else cell::init_unset(value);
        }
    }

    // The molded value of the code, or "error N: arg1 arg2 arg3" for a raised error.
    std::string evaluate(const std::string& text) {
        stack::stack_guard guard;
        cell* code = load_text(text);
        cell* result = stack::push_slot();
        cell::init_unset(result);
        stack::push_try_frame();
        try {
            cell* at = stack::state.args_top;
            (void)eval::eval_block(code, false);
            *result = *at;
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            cell* e = stack::last_slot();
            return "error " + std::to_string(error::code_of(e)) + ": " +
                   testing::mold_of(error::field_of(e, error::FIELD_ARG1)) + " " +
                   testing::mold_of(error::field_of(e, error::FIELD_ARG2)) + " " +
                   testing::mold_of(error::field_of(e, error::FIELD_ARG3));
        }
        stack::pending_code = 0;
        return testing::mold_of(result);
    }

    cell* saved_ = nullptr;
};

}  // namespace zor::testing
