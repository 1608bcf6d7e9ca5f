// Shared helpers of the small scalar types' tests (pair!, tuple!, time!, typeset!,
// handle!, triple!): calling handlers the way their action entries do, and catching the
// language error a call raises with its arguments.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace zor::scalar_testing {

inline constexpr int NO_ERROR = -1;
inline int code(err e) { return error_catalogue::code_of(e); }

inline cell int_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
inline cell number_cell(type_id type, double d) {
    cell c{type, 0, 0, 0};
    float_::store(&c, d);
    return c;
}
inline cell float_cell(double d) { return number_cell(TYPE_FLOAT, d); }
inline cell percent_cell(double d) { return number_cell(TYPE_PERCENT, d); }
inline cell time_cell(double d) { return number_cell(TYPE_TIME, d); }
inline cell datatype_cell(type_id t) { return cell{TYPE_DATATYPE, t, 0, 0}; }
inline const cell none_cell{TYPE_NONE, 0, 0, 0};

template <action A> action_handler<A> handler_of(type_id type) {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(type, A));
}

// What a call left: its result cell, or the error it raised with the error's arguments.
struct outcome {
    cell value{};
    int error = NO_ERROR;
    cell arg1{}, arg2{}, arg3{};
};

// Runs the body under a try frame; the body answers the result cell.
template <typename Body> outcome run(Body body) {
    outcome o;
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        o.value = *body();
    } catch (const zor_throw& t) {
        if (t.code != THROW_ERROR) throw;
        cell* e = stack::last_slot();
        o.error = error::code_of(e);
        o.arg1 = *error::field_of(e, error::FIELD_ARG1);
        o.arg2 = *error::field_of(e, error::FIELD_ARG2);
        o.arg3 = *error::field_of(e, error::FIELD_ARG3);
    }
    return o;
}

// A simple action as its entry calls it: both operands from args_base on.
inline outcome call_simple(action a, cell left, cell right) {
    return run([&] {
        stack::push_copy(&left);
        stack::push_copy(&right);
        auto h = reinterpret_cast<cell* (*)()>(actions::find_handler(&left, a));
        return h();
    });
}

// An element of a block built for a test: a plain cell (no series or context inside), or
// a rooted cell (a stack slot) that is read only when the block is built. Test code never
// keeps a C++ copy of a value that refers to a node across an allocation: the collector
// may move nodes and update only the rooted cells.
struct element {
    element(cell plain) : value(plain) {}
    element(const cell* rooted_cell) : rooted(rooted_cell) {}
    cell value{};
    const cell* rooted = nullptr;
};

// A new block (or paren, ...) of the elements in a new stack slot.
inline cell* push_block(const std::vector<element>& elements, type_id type = TYPE_BLOCK) {
    cell* b = stack::push_slot();
    block::make_in(b, static_cast<int64_t>(elements.size()) + 1);
    for (const element& e : elements) block::append_copy(b, e.rooted ? e.rooted : &e.value);
    cell::set_type(b, type);
    return b;
}

// The spec of a make or to call: a plain cell, or a block built when the call is made.
struct spec {
    spec(cell plain) : value(plain) {}
    spec(std::vector<element> block_elements, type_id type)
        : elements(std::move(block_elements)), block_type(type) {}
    cell* push() const { return block_type ? push_block(elements, block_type) : stack::push_copy(&value); }
    type_id type() const { return block_type ? block_type : value.type(); }
    cell value{};
    std::vector<element> elements;
    type_id block_type = TYPE_NONE_ID;
};
inline spec block_spec(std::vector<element> elements, type_id type = TYPE_BLOCK) {
    return spec(std::move(elements), type);
}

// make or to as its entry calls it: the prototype (a datatype!) at args_base, the spec after.
inline outcome call_make(action a, type_id type, const spec& s) {
    return run([&] {
        cell proto = datatype_cell(type);
        cell* result = stack::push_copy(&proto);
        cell* spec_cell = s.push();
        auto h = reinterpret_cast<action_handler<ACTION_MAKE>>(type_registry::handler_of(type, a));
        return h(result, spec_cell, type);
    });
}

struct text_result {
    std::string text;
    int budget;
};
inline text_result form(cell value, int budget = 1000) {
    cell* output = string::push_empty();
    int left = actions::dispatch_form(&value, output, nullptr, budget);
    return {string::to_utf8(output), left};
}
inline text_result mold(cell value, bool all = false, bool only = false, int budget = 1000) {
    cell* output = string::push_empty();
    int left = actions::dispatch_mold(&value, output, only, all, false, nullptr, budget, 0);
    return {string::to_utf8(output), left};
}

// A word! of the name bound in the global context, held in a new stack slot.
inline cell* push_word(const char* name) { return stack::push_copy(word::make_global_from_name(name)); }

// Each test starts with empty stacks, as every unit test does (tests/unit/runtime_isolation.h).
class ScalarTest : public ::testing::Test {};

}  // namespace zor::scalar_testing
