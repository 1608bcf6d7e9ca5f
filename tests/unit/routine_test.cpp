// routine! and the code registry: building routines, their argument count, reflection,
// texts and comparison.
#include <gtest/gtest.h>

#include <string>

#include "runtime/value/code-registry.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/routine.h"
#include "runtime/errors/error-catalogue.h"
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

void first_code() {}
void second_code() {}

class RoutineTest : public testing::stack_fixture {};

// A spec of n plain words, w1 ... wn.
std::string words(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += " w" + std::to_string(i);
    return text;
}

TEST(CodeRegistry, NamesKeepTheirIndexes) {
    int32_t first = code_registry::register_code("registry-test-first", &first_code);
    ASSERT_GT(first, 0);
    int32_t second = code_registry::register_code("registry-test-second", &second_code);
    EXPECT_EQ(second, first + 1) << "indexes in registration order";
    EXPECT_EQ(code_registry::code_of(first), &first_code);
    EXPECT_EQ(code_registry::index_of("registry-test-second"), second);
    EXPECT_EQ(code_registry::name_of(first), "registry-test-first");
    // Registering a known name again keeps its index and replaces its code.
    EXPECT_EQ(code_registry::register_code("registry-test-first", &second_code), first);
    EXPECT_EQ(code_registry::code_of(first), &second_code);
    EXPECT_EQ(code_registry::count(), second);
    // What names nothing.
    EXPECT_EQ(code_registry::code_of(0), nullptr);
    EXPECT_EQ(code_registry::code_of(-1), nullptr);
    EXPECT_EQ(code_registry::code_of(code_registry::count() + 1), nullptr);
    EXPECT_EQ(code_registry::index_of("registry-test-unknown"), 0);
    EXPECT_EQ(code_registry::name_of(0), "");
    EXPECT_EQ(code_registry::register_code("", &first_code), 0);
    EXPECT_EQ(code_registry::register_code("registry-test-null", nullptr), 0);
}

TEST_F(RoutineTest, TheArgumentCountIsEveryWordOfTheSpec) {
    struct arity_case {
        std::string spec;
        int arity;  // -1: refused
    };
    const arity_case cases[] = {
        {"", 0},
        {"a [integer!] \"doc\" b", 2},
        {"a /ref b /local c", 3},  // words after refinements and /local count too
        {"'a :b c", 1},           // only word! cells
        {words(31), 31},
        {words(32), -1},          // the count would not fit its five bits
        {words(40) + " /local", -1},
    };
    for (const arity_case& c : cases) {
        SCOPED_TRACE(c.spec);
        cell* top = stack::state.args_top;
        cell* spec = code(c.spec);
        if (c.arity < 0) {
            testing::raised_error raised = raise_of([&] { routine::push_new(spec, nullptr, 1, 0, false); });
            EXPECT_EQ(raised.code, code_of(err::script_bad_func_def));
        } else {
            cell* r = routine::push_new(spec, nullptr, 1, 0, false);
            EXPECT_EQ(routine::get_arity(r), c.arity);
            EXPECT_EQ(r->header & ~routine::ARITY_MASK, uint32_t(TYPE_ROUTINE));
        }
        stack::state.args_top = top;
    }
}

TEST_F(RoutineTest, SettingTheArityKeepsEveryOtherHeaderBit) {
    cell* spec = code("a b c");
    cell* r = routine::push_new(spec, nullptr, 1, 0, true);
    EXPECT_EQ(r->header, routine::FLAG_CELL_CALLING | TYPE_ROUTINE | (3u << 25));
    EXPECT_EQ(r->header & 0xFFFF, 0x801Du);
    r->header |= 0xC0000000u | 0x01FF0000u;  // bits 30-31 and 16-24
    routine::set_arity(r);
    EXPECT_EQ(r->header, 0xC0000000u | 0x01FF0000u | routine::FLAG_CELL_CALLING | TYPE_ROUTINE | (3u << 25));
    EXPECT_EQ(routine::get_arity(r), 3);
}

TEST_F(RoutineTest, TheCellContextAndExtras) {
    cell* spec = code("x a [integer!] /local b");
    spec->w1 = 1;  // the whole spec is the routine's all the same
    cell* body = code("source here");
    cell* r = routine::push_new(spec, body, 42, -7, false);
    EXPECT_EQ(r->w2, spec->w2) << "the spec is not copied";
    EXPECT_EQ(context::kind_of(r->w1), context::KIND_FUNCTION);
    EXPECT_TRUE(context::values_on_stack(r->w1));
    EXPECT_EQ(context::key_count(r->w1), 4);
    memory::series_buffer* x = memory::buffer_of(r->w3);
    ASSERT_EQ(x->length(), 5);
    EXPECT_EQ(x->head_cell()[0].w2, body->w2) << "the body is neither copied nor bound";
    EXPECT_TRUE(x->head_cell()[1].is(TYPE_UNSET));
    EXPECT_TRUE(x->head_cell()[2].is(TYPE_INTEGER));
    EXPECT_EQ(x->head_cell()[2].w2, 42u);
    EXPECT_TRUE(x->head_cell()[3].is(TYPE_UNSET));
    EXPECT_EQ(static_cast<int32_t>(x->head_cell()[4].w2), -7);
    EXPECT_EQ(routine::get_arity(r), 3);
}

TEST_F(RoutineTest, MoldFormReflectAndCompare) {
    cell* spec = code("a b");
    cell* body = code("a + b");
    cell* with_body = routine::push_new(spec, body, 1, 0, false);
    cell* without_body = routine::push_new(spec, nullptr, 1, 0, false);
    EXPECT_EQ(molded(with_body), "routine [a b][a + b]");
    EXPECT_EQ(molded(without_body), "routine [a b] none");
    EXPECT_EQ(testing::formed(with_body), "?routine?");
    cell* output = string::push_empty();
    EXPECT_EQ(routine::mold(without_body, output, false, false, false, nullptr, 100, 0), 100 - 18);
    string::reset(output);
    EXPECT_EQ(routine::form(without_body, output, nullptr, 100), 91);

    auto reflect = testing::handler_for<ACTION_REFLECT>(TYPE_ROUTINE);
    ASSERT_NE(reflect, nullptr) << "inherited from function!";
    EXPECT_EQ(molded(reflect(with_body, symbols::spec)), "[a b]");
    EXPECT_EQ(molded(reflect(with_body, symbols::body)), "[a + b]");
    EXPECT_EQ(molded(reflect(with_body, symbols::words)), "[a b]");

    cell* copy = stack::push_copy(with_body);
    EXPECT_EQ(routine::compare(with_body, copy, 0), 0);
    EXPECT_NE(routine::compare(with_body, without_body, 0), 0);
    EXPECT_EQ(routine::compare(with_body, without_body, 3), -2);
    cell function_like = *with_body;
    function_like.header = TYPE_FUNCTION;
    EXPECT_EQ(routine::compare(with_body, &function_like, 0), -2);
}

TEST_F(RoutineTest, RoutinesCannotBeMadeFromTheLanguage) {
    EXPECT_EQ(type_registry::handler_of(TYPE_ROUTINE, ACTION_MAKE), nullptr);
    EXPECT_EQ(type_registry::handler_of(TYPE_ROUTINE, ACTION_TO), nullptr);
    EXPECT_NE(type_registry::handler_of(TYPE_ROUTINE, ACTION_COMPARE), nullptr);
    cell number{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(raise_of([&] { routine::push_new(&number, nullptr, 1, 0, false); }).code,
              code_of(err::script_bad_func_def));
}

}  // namespace
}  // namespace zor
