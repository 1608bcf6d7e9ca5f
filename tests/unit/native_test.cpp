// native! and action!: make from [spec index] against the filled table entries, reflect,
// the texts and the identity comparison.
#include <gtest/gtest.h>

#include <string>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/native.h"
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

class NativeTest : public testing::stack_fixture {
protected:
    void SetUp() override {
        stack_fixture::SetUp();
        // The natives table as start-up leaves it, its first 107 entries filled. Until the
        // evaluator fills them, a stand-in takes each empty place.
        for (int i = 1; i <= natives::NATIVE_COUNT; ++i) {
            if (!natives::entry(i)) natives::set_entry(i, &stand_in_entry);
        }
    }

    // make native! (or action!) from the argument written in the notation; answers the slot.
    cell* make(type_id type, const std::string& argument) {
        cell* block = stack::push_copy(block::get_cell(code(argument), 0));
        return make_from(type, block);
    }
    cell* make_from(type_id type, cell* argument) {
        cell target{TYPE_DATATYPE, type, 0, 0};
        return stack::push_copy(testing::handler_for<ACTION_MAKE>(type)(&target, argument, type));
    }
    int make_error(type_id type, const std::string& argument) {
        return raise_of([&] { make(type, argument); }).code;
    }
};

TEST_F(NativeTest, MakeAcceptsOnlyFilledTableEntries) {
    struct index_case {
        type_id type;
        const char* index;
        bool accepted;
    };
    // The natives table has room for 120 entries but only 107 natives exist: the room
    // beyond them names no routine.
    const index_case cases[] = {
        {TYPE_NATIVE, "0", false},  {TYPE_NATIVE, "1", true},    {TYPE_NATIVE, "107", true},
        {TYPE_NATIVE, "108", false}, {TYPE_NATIVE, "120", false}, {TYPE_NATIVE, "121", false},
        {TYPE_NATIVE, "-1", false},  {TYPE_NATIVE, "-2147483648", false},
        {TYPE_ACTION, "0", false},   {TYPE_ACTION, "1", true},    {TYPE_ACTION, "62", true},
        {TYPE_ACTION, "63", false},  {TYPE_ACTION, "120", false},
    };
    for (const index_case& c : cases) {
        SCOPED_TRACE(std::string(c.type == TYPE_NATIVE ? "native " : "action ") + c.index);
        std::string argument = std::string("[[a b] ") + c.index + "]";
        if (c.accepted) {
            cell* made = make(c.type, argument);
            EXPECT_EQ(made->header, uint32_t(c.type));
            EXPECT_EQ(native::table_index(made), std::stoi(c.index));
        } else {
            EXPECT_EQ(make_error(c.type, argument), code_of(err::script_bad_make_arg));
        }
    }
}

TEST_F(NativeTest, MakeTakesExactlyASpecBlockAndAnIndex) {
    struct shape_case {
        const char* argument;
        bool accepted;
        const char* why;
    };
    const shape_case cases[] = {
        {"[[] 1]", true, "an empty spec"},
        {"[[a]]", false, "one cell"},
        {"[[a] 1 none]", false, "three cells, the third none"},
        {"[[a] 1 2]", false, "three cells"},
        {"[]", false, "no cells"},
        {"[1 [a]]", false, "the spec first"},
        {"[(a) 1]", false, "the spec is a block!"},
        {"[[a] \"1\"]", false, "the index is an integer!"},
        {"[[a] 1.0]", false, "the index is an integer!"},
        {"1", false, "a block argument"},
        {"(a 1)", false, "a block! argument"},
    };
    for (type_id type : {TYPE_NATIVE, TYPE_ACTION}) {
        for (const shape_case& c : cases) {
            SCOPED_TRACE(std::string(c.argument) + ": " + c.why);
            int raised = make_error(type, c.argument);
            EXPECT_EQ(raised, c.accepted ? -1 : code_of(err::script_bad_make_arg));
        }
    }
}

TEST_F(NativeTest, TheTwoCellsCountFromTheArgumentsOwnIndex) {
    // [x [a] 1] at index 1 holds exactly [a] 1 from there.
    cell* argument = stack::push_copy(block::get_cell(code("[x [a] 1]"), 0));
    argument->w1 = 1;
    EXPECT_EQ(molded(make_from(TYPE_NATIVE, argument)), "make native! [[a]]");
    // At index 0 the same buffer holds three cells.
    argument->w1 = 0;
    EXPECT_EQ(raise_of([&] { make_from(TYPE_NATIVE, argument); }).code, code_of(err::script_bad_make_arg));
    // A spec block whose own index is past its head changes nothing: [[x a] 1] with the spec
    // at index 1 is still two cells, and the spec is used from its head.
    cell* shifted = stack::push_copy(block::get_cell(code("[[x a] 1]"), 0));
    block::get_cell(shifted, 0)->w1 = 1;
    cell* made = make_from(TYPE_NATIVE, shifted);
    EXPECT_EQ(molded(made), "make native! [[x a]]");
}

TEST_F(NativeTest, TheCellHoldsTheSpecUncopiedAndTwoExtrasCells) {
    cell* argument = stack::push_copy(block::get_cell(code("[[a [integer!] b] 3]"), 0));
    cell* made = make_from(TYPE_NATIVE, argument);
    EXPECT_EQ(made->w1, 2u) << "the table position, index - 1";
    EXPECT_EQ(made->w2, block::get_cell(argument, 0)->w2) << "the spec is not copied";
    memory::series_buffer* x = memory::buffer_of(made->w3);
    ASSERT_EQ(x->length(), 2);
    ASSERT_TRUE(x->head_cell()[0].is(TYPE_CONTEXT));
    EXPECT_EQ(x->head_cell()[0].header & context::KIND_MASK, context::KIND_FUNCTION << context::KIND_SHIFT);
    EXPECT_TRUE(x->head_cell()[0].header & context::FLAG_ON_STACK);
    EXPECT_FALSE(x->head_cell()[0].header & context::FLAG_SELF);
    EXPECT_TRUE(x->head_cell()[1].is(TYPE_NONE));
}

TEST_F(NativeTest, ReflectGivesTheVerySpecSeriesAndTheIndex) {
    cell* n = make(TYPE_NATIVE, "[[a] 1]");
    cell* spec = stack::push_copy(native::reflect(n, symbols::spec));
    EXPECT_EQ(spec->w2, n->w2);
    EXPECT_EQ(spec->w1, 0u);
    // Changing the spec series shows in later reflections and molds.
    cell* extra = code("b");
    block::append_copy(spec, block::get_cell(extra, 0));
    EXPECT_EQ(molded(native::reflect(n, symbols::spec)), "[a b]");
    EXPECT_EQ(molded(n), "make native! [[a b]]");

    EXPECT_EQ(molded(native::reflect(n, symbols::body)), "1");
    cell* a = make(TYPE_ACTION, "[[series value] 62]");
    auto reflect_action = testing::handler_for<ACTION_REFLECT>(TYPE_ACTION);
    ASSERT_NE(reflect_action, nullptr) << "inherited from native!";
    EXPECT_EQ(molded(reflect_action(a, symbols::body)), "62");
    EXPECT_EQ(raise_of([&] { native::reflect(n, symbols::words); }).code, code_of(err::internal_not_done));
}

TEST_F(NativeTest, ValuesOfOneEntryAreEqualWhateverTheirSpecs) {
    cell* first = make(TYPE_NATIVE, "[[a] 5]");
    cell* same = make(TYPE_NATIVE, "[[x y z] 5]");
    cell* later = make(TYPE_NATIVE, "[[a] 9]");
    cell* action = make(TYPE_ACTION, "[[a] 5]");
    cell* action_same = make(TYPE_ACTION, "[[b] 5]");
    struct compare_case {
        cell* value;
        cell* other;
        int op;
        int expected;
    };
    const compare_case cases[] = {
        {first, same, 0, 0},     {first, same, 2, 0},    {first, same, 9, 0},    {first, same, 12, 0},
        {first, same, 1, 0},     {first, later, 0, -1},  {later, first, 0, 1},   {first, later, 7, -1},
        {later, first, 8, 1},    {first, same, 3, -2},   {first, later, 5, -2},  {first, same, 10, -2},
        {first, action, 0, -2},  {action, first, 0, -2}, {action, action_same, 0, 0},
        {action, action_same, 4, -2},
    };
    for (const compare_case& c : cases) {
        auto compare = testing::handler_for<ACTION_COMPARE>(c.value->type());
        EXPECT_EQ(compare(c.value, c.other, c.op), c.expected) << "op " << c.op;
    }
}

TEST_F(NativeTest, FormAndMoldTexts) {
    cell* n = make(TYPE_NATIVE, "[[cond [logic!] \"doc\"] 1]");
    cell* a = make(TYPE_ACTION, "[[value] 1]");
    struct text_case {
        cell* value;
        bool mold;
        bool only;
        const char* text;
    };
    const text_case cases[] = {
        {n, false, false, "?native?"},
        {a, false, false, "?action?"},
        {n, true, false, "make native! [[cond [logic!] \"doc\"]]"},
        {n, true, true, "make native! [cond [logic!] \"doc\"]"},  // only: the spec without brackets
        {a, true, false, "make action! [[value]]"},
    };
    for (const text_case& c : cases) {
        cell* output = string::push_empty();
        int left = c.mold ? actions::dispatch_mold(c.value, output, c.only, false, false, nullptr, 1000, 0)
                          : actions::dispatch_form(c.value, output, nullptr, 1000);
        std::string text = string::to_utf8(output);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(left, 1000 - int(text.size())) << "each character written is charged: " << text;
        stack::drop_slots(1);
    }
}

TEST_F(NativeTest, RegistrationRows) {
    struct row_case {
        type_id type;
        action slot;
        bool handled;
    };
    const row_case rows[] = {
        {TYPE_NATIVE, ACTION_MAKE, true},    {TYPE_NATIVE, ACTION_REFLECT, true}, {TYPE_NATIVE, ACTION_TO, false},
        {TYPE_NATIVE, ACTION_COPY, false},   {TYPE_ACTION, ACTION_REFLECT, true}, {TYPE_ACTION, ACTION_MAKE, true},
        {TYPE_ACTION, ACTION_APPEND, false}, {TYPE_NATIVE, ACTION_FORM, true},    {TYPE_ACTION, ACTION_COMPARE, true},
    };
    for (const row_case& r : rows) {
        EXPECT_EQ(type_registry::handler_of(r.type, r.slot) != nullptr, r.handled) << r.type << " " << r.slot;
    }
    EXPECT_EQ(type_registry::handler_of(TYPE_ACTION, ACTION_REFLECT), type_registry::handler_of(TYPE_NATIVE, ACTION_REFLECT));
    EXPECT_STREQ(type_registry::type_entries[TYPE_ACTION].name, "action!");
}

}  // namespace
}  // namespace zor
