// Test support for the callable and path tests: spec and body blocks are read with the
// interpreter tests' notation (tests/unit/code_notation.h), and values are molded and
// formed to text for the comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/runtime_fixture.h"

namespace zor::testing {

inline cell* code(const std::string& text) { return code_notation_reader(text).read_block(); }

// The molded text of a value.
inline std::string molded(const cell* value, bool only = false, bool all = false) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_mold(held, output, only, all, false, nullptr, 0, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

// The formed text of a value.
inline std::string formed(const cell* value) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_form(held, output, nullptr, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

// The language error that the action raises: its catalogue code (-1 when none) and its
// first argument molded.
struct raised_error {
    int code = -1;
    std::string arg1;
};
inline raised_error raise_of(const std::function<void()>& action) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        action();
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        cell* e = stack::last_slot();
        return {error::code_of(e), molded(error::field_of(e, error::FIELD_ARG1))};
    }
    return {};
}

inline int code_of(err e) { return error_catalogue::code_of(e); }

// The action's handler for a type, cast back to its signature.
template <action A> action_handler<A> handler_for(type_id type) {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(type, A));
}

// The fixture of the callable and path tests. Each starts, like every unit test, on an
// empty stack with the collector enabled (tests/unit/runtime_isolation.h), so that
// ZOR_GC_TORTURE=1 collects, compacts and moves nodes at every allocation.
class stack_fixture : public ::testing::Test {};

}  // namespace zor::testing
