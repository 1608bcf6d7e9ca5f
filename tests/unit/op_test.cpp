// op!: the two-argument rule, making operators from each kind of callable, their texts,
// reflection and comparison.
#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/routine.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::raise_of;

uint32_t stand_in_entry(const natives::native_invocation&) { return 0; }

class OpTest : public testing::stack_fixture {
protected:
    void SetUp() override {
        stack_fixture::SetUp();
        for (int i = 1; i <= natives::NATIVE_COUNT; ++i) {
            if (!natives::entry(i)) natives::set_entry(i, &stand_in_entry);
        }
    }

    cell* make_callable(type_id type, const std::string& argument) {
        cell* block = stack::push_copy(block::get_cell(code(argument), 0));
        cell target{TYPE_DATATYPE, type, 0, 0};
        return stack::push_copy(testing::handler_for<ACTION_MAKE>(type)(&target, block, type));
    }
    cell* make_op(cell* source) {
        cell target{TYPE_DATATYPE, TYPE_OP, 0, 0};
        return stack::push_copy(op::make(&target, source, TYPE_OP));
    }
};

TEST_F(OpTest, TheTwoArgumentRule) {
    struct arity_case {
        const char* spec;
        bool accepted;
        const char* why;
    };
    const arity_case cases[] = {
        {"a b", true, "two arguments"},
        {"a", false, "one argument"},
        {"a b c", false, "three arguments"},
        {"a b /local c", true, "/local ends the arguments"},
        {"a b /extern c", true, "/extern ends the arguments"},
        {"a b /only", false, "another refinement"},
        {"a /local b", false, "one argument before /local"},
        {"'a b", false, "a lit-word on the left"},
        {":a b", false, "a get-word on the left"},
        {"a 'b", true, "a lit-word on the right"},
        {"a :b", true, "a get-word on the right"},
        {"a b return: [integer!]", true, "return: ends the arguments"},
        {"a return: [integer!]", false, "one argument before return:"},
        {"a [integer!] \"left\" b [integer!] \"right\"", true, "strings and type blocks do not count"},
        {"\"doc\" a b", true, "a leading doc string"},
        {"[trace] a b", true, "attributes do not count"},
    };
    for (const arity_case& c : cases) {
        SCOPED_TRACE(std::string(c.spec) + ": " + c.why);
        cell* top = stack::state.args_top;
        cell* spec = code(c.spec);
        EXPECT_EQ(op::check_arity(spec), c.accepted);
        // The same answer through make, from a function of that spec.
        cell* f = make_callable(TYPE_FUNCTION, std::string("[[") + c.spec + "] []]");
        int raised = raise_of([&] { make_op(f); }).code;
        EXPECT_EQ(raised, c.accepted ? -1 : code_of(err::script_bad_op_spec));
        stack::state.args_top = top;
    }
}

TEST_F(OpTest, OnlyCallablesMakeOperators) {
    const char* refused[] = {"1", "[a b]", "a", "\"a b\""};
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        cell* value = stack::push_copy(block::get_cell(code(text), 0));
        testing::raised_error raised = raise_of([&] { make_op(value); });
        EXPECT_EQ(raised.code, code_of(err::script_invalid_type));
        stack::drop_slots(2);
    }
    cell* value = stack::push_copy(block::get_cell(code("[a b]"), 0));
    EXPECT_EQ(raise_of([&] { make_op(value); }).arg1, "block!") << "names the value's datatype";
    cell* native = make_callable(TYPE_NATIVE, "[[a b] 1]");
    cell* op_value = make_op(native);
    EXPECT_EQ(raise_of([&] { make_op(op_value); }).code, code_of(err::script_invalid_type)) << "not from an op!";
}

TEST_F(OpTest, TheCellCopiesTheSourceAndNamesItsType) {
    cell* native = make_callable(TYPE_NATIVE, "[[a b] 7]");
    cell* from_native = make_op(native);
    EXPECT_EQ(from_native->header, (uint32_t(TYPE_NATIVE) << 16) | TYPE_OP);
    EXPECT_EQ(op::source_type(from_native), TYPE_NATIVE);
    EXPECT_EQ(from_native->w1, native->w1);
    EXPECT_EQ(from_native->w2, native->w2);
    EXPECT_EQ(from_native->w3, native->w3);

    cell* f = make_callable(TYPE_FUNCTION, "[[[trace] a b] [a]]");
    cell* from_function = make_op(f);
    EXPECT_EQ(from_function->header, (uint32_t(TYPE_FUNCTION) << 16) | TYPE_OP) << "the source's flags are not kept";
    EXPECT_EQ(from_function->w1, f->w1);
    cell* stored = function::extras_cell(f, function::EXTRAS_OP_SOURCE);
    EXPECT_EQ(stored->header, f->header) << "the source itself, flags and all, in its extras cell 3";
    EXPECT_EQ(stored->w3, f->w3);

    cell* spec = code("a b");
    cell* r = routine::push_new(spec, nullptr, 1, 0, true);
    cell* from_routine = make_op(r);
    EXPECT_EQ(op::source_type(from_routine), TYPE_ROUTINE);
    EXPECT_EQ(function::extras_cell(r, function::EXTRAS_OP_SOURCE)->header, r->header);
}

TEST_F(OpTest, ReflectReachesTheSource) {
    cell* action = make_callable(TYPE_ACTION, "[[value1 value2] 11]");
    cell* from_action = make_op(action);
    auto reflect = testing::handler_for<ACTION_REFLECT>(TYPE_OP);
    ASSERT_NE(reflect, nullptr);
    EXPECT_EQ(molded(reflect(from_action, symbols::body)), "11");
    EXPECT_EQ(reflect(from_action, symbols::spec)->w2, action->w2);

    cell* f = make_callable(TYPE_FUNCTION, "[[a b] [a - b]]");
    cell* from_function = make_op(f);
    cell* body = stack::push_copy(reflect(from_function, symbols::body));
    EXPECT_EQ(body->w2, function::extras_cell(f, function::EXTRAS_BODY)->w2);
    EXPECT_EQ(molded(body), "[a - b]");
}

TEST_F(OpTest, FormMoldAndComparison) {
    cell* action = make_callable(TYPE_ACTION, "[[value1 [number!] value2] 11]");
    cell* first = make_op(action);
    cell* second = make_op(action);
    cell* native = make_callable(TYPE_NATIVE, "[[a b] 11]");
    cell* from_native = make_op(native);
    cell* f = make_callable(TYPE_FUNCTION, "[[a b] [a * b]]");
    cell* from_function = make_op(f);
    cell none_body{TYPE_NONE, 0, 0, 0};
    cell* spec = code("a b");
    function::push_new(spec, &none_body, 0, 0, 0, 0);
    cell* from_compiled = make_op(stack::last_slot());

    EXPECT_EQ(testing::formed(first), "?op?");
    EXPECT_EQ(molded(first), "make op! [[value1 [number!] value2]]");
    EXPECT_EQ(molded(from_native), "make op! [[a b]]");
    EXPECT_EQ(molded(from_function), "make op! func [a b][a * b]");
    EXPECT_EQ(molded(from_compiled), "make op! func [a b]") << "no body to mold";

    EXPECT_EQ(op::compare(first, second, 0), 0) << "two ops of one action";
    EXPECT_EQ(op::compare(first, second, 9), 0);
    EXPECT_EQ(op::compare(first, from_native, 0), 0) << "payload word 1 alone decides";
    EXPECT_EQ(op::compare(first, second, 3), -2);
    EXPECT_EQ(op::compare(first, action, 0), -2) << "an op! and an action! are not comparable";
    EXPECT_NE(op::compare(first, from_function, 0), 0);
}

}  // namespace
}  // namespace zor
