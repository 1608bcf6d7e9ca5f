// The action table and its entries: the table's shape, the refinement positions turned into
// handler arguments, the /part and /dup conversions of append, insert and change, the
// comparison answers, and the look-up errors (a type without a handler, a port whose actor
// lacks the action, an eval-path without a handler).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::raise_of;
using testing::raised_error;

class ActionEntryTest : public testing::stack_fixture {
protected:
    // The first value of the notation, in its own stack slot.
    cell* value(const std::string& text) { return stack::push_copy(block::get_cell(code(text), 0)); }

    // Calls the action's table entry on copies of the arguments, as the interpreter lays
    // them out (positional arguments, then the refinements' argument cells), with the
    // refinement positions; answers the result slot.
    cell* invoke(action a, const std::vector<const cell*>& arguments, std::vector<int32_t> refinements = {}) {
        refinements.resize(static_cast<size_t>(actions::refinement_count(a)) + 1, -1);
        cell* base = stack::state.args_top;
        for (const cell* argument : arguments) stack::push_copy(argument);
        stack::state.args_base = base;
        actions::entry(a)(refinements.data());
        stack::state.args_base = stack::state.args_begin;
        if (stack::state.args_top <= base) stack::state.args_top = base + 1;
        return base;
    }

    // A series molded from its head, so that what an action did to it shows whole.
    std::string whole(const cell* series) {
        cell* held = stack::push_copy(series);
        held->w1 = 0;
        return molded(held);
    }
};

TEST_F(ActionEntryTest, TheTableHoldsAnEntryForEveryActionButSetPath) {
    for (int index = 1; index <= ACTION_COUNT; ++index) {
        SCOPED_TRACE(action_names[index - 1]);
        EXPECT_EQ(actions::entry(index) == nullptr, index == ACTION_SET_PATH);
    }
    EXPECT_EQ(actions::entry(0), nullptr);
    EXPECT_EQ(actions::entry(ACTION_COUNT + 1), nullptr);
}

TEST_F(ActionEntryTest, EachEntryTakesOnePositionPerRefinementOfItsSpec) {
    struct count_case {
        action a;
        int refinements;
    };
    const count_case cases[] = {
        {ACTION_MAKE, 0},    {ACTION_RANDOM, 3}, {ACTION_FORM, 1},   {ACTION_MOLD, 4},    {ACTION_EVAL_PATH, 1},
        {ACTION_SET_PATH, 0}, {ACTION_ADD, 0},   {ACTION_ROUND, 7},  {ACTION_APPEND, 3},  {ACTION_CHANGE, 3},
        {ACTION_COPY, 3},    {ACTION_FIND, 11},  {ACTION_INSERT, 3}, {ACTION_MOVE, 1},    {ACTION_PUT, 1},
        {ACTION_REMOVE, 2},  {ACTION_REVERSE, 2}, {ACTION_SELECT, 9}, {ACTION_SORT, 7},   {ACTION_TAKE, 3},
        {ACTION_TRIM, 6},    {ACTION_MODIFY, 1}, {ACTION_OPEN, 5},   {ACTION_READ, 6},    {ACTION_WRITE, 8},
    };
    for (const count_case& c : cases) {
        SCOPED_TRACE(action_names[c.a - 1]);
        EXPECT_EQ(actions::refinement_count(c.a), c.refinements);
    }
}

TEST_F(ActionEntryTest, PickAndPokeTakeAMachineIndexFromTheIndexArgument) {
    const cell cases[] = {logic::true_value, logic::false_value, cell{TYPE_CHAR, 0, 65, 0},
                          cell{TYPE_INTEGER, 0, uint32_t(-3), 0}, cell{TYPE_NONE, 0, 0, 0}};
    const int expected[] = {1, 2, 65, -3, 0};
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(actions::pick_index(&cases[i]), expected[i]) << i;
    cell* number = value("1.5");
    EXPECT_EQ(actions::pick_index(number), 0) << "a float! leaves the index to the handler";

    // With a logic index true picks the first element and false the second.
    cell* series = value("[a b c]");
    EXPECT_EQ(molded(invoke(ACTION_PICK, {series, &logic::true_value})), "a");
    EXPECT_EQ(molded(invoke(ACTION_PICK, {series, &logic::false_value})), "b");
    cell* target = value("[a b c]");
    cell* nine = value("9");
    invoke(ACTION_POKE, {target, &logic::false_value, nine});
    EXPECT_EQ(whole(target), "[a 9 c]");
}

TEST_F(ActionEntryTest, LengthOfAValueWhoseHandlerAnswersMinusOneIsNone) {
    EXPECT_TRUE(invoke(ACTION_LENGTH_Q, {&none::value})->is(TYPE_NONE));
    cell* length = invoke(ACTION_LENGTH_Q, {value("[1 2 3]")});
    ASSERT_TRUE(length->is(TYPE_INTEGER));
    EXPECT_EQ(integer::read_cell(length), 3);
}

TEST_F(ActionEntryTest, FormAndMoldCutTheirTextToThePartLimit) {
    struct text_case {
        action a;
        const char* subject;
        std::vector<int32_t> refinements;  // positions, with the limit (when given) at 1 or 4
        const char* limit;
        const char* expected;
    };
    const text_case cases[] = {
        {ACTION_FORM, "[1 2 3]", {}, nullptr, "1 2 3"},
        {ACTION_FORM, "[1 2 3]", {1}, "3", "1 2"},
        {ACTION_FORM, "[1 2 3]", {1}, "0", ""},
        {ACTION_MOLD, "[1 2 3]", {-1, -1, -1, 4}, "4", "[1 2"},
        {ACTION_MOLD, "[1 2 3]", {-1, -1, -1, 4}, "-5", ""},
        {ACTION_MOLD, "[1 2 3]", {1, -1, -1, -1}, nullptr, "1 2 3"},
        {ACTION_MOLD, "[1 2 3]", {}, nullptr, "[1 2 3]"},
        {ACTION_MOLD, "[1 2 3]", {-1, -1, -1, 4}, "100", "[1 2 3]"},
    };
    for (const text_case& c : cases) {
        SCOPED_TRACE(std::string(action_names[c.a - 1]) + " " + c.subject + " " + (c.limit ? c.limit : "-"));
        std::vector<const cell*> arguments{value(c.subject)};
        if (c.a == ACTION_MOLD) arguments.insert(arguments.end(), 3, &none::value);
        if (c.limit) arguments.push_back(value(c.limit));
        cell* result = invoke(c.a, arguments, c.refinements);
        ASSERT_TRUE(result->is(TYPE_STRING));
        EXPECT_EQ(string::to_utf8(result), c.expected);
    }
}

TEST_F(ActionEntryTest, APartLimitBelowOneNeverReachesTheHandler) {
    // image! has no form handler yet: without /part its look-up fails, with a limit of 0 the
    // entry answers "" before looking.
    cell image{TYPE_IMAGE, 0, 0, 0};
    cell* zero = value("0");
    EXPECT_EQ(string::to_utf8(invoke(ACTION_FORM, {&image, zero}, {1})), "");
    EXPECT_EQ(raise_of([&] { invoke(ACTION_FORM, {&image}); }).code, code_of(err::script_expect_arg));
    // The limit is an integer!.
    cell* text = value("\"3\"");
    EXPECT_EQ(raise_of([&] { invoke(ACTION_FORM, {value("[1]"), text}, {1}); }).code,
              code_of(err::script_expect_arg));
}

// append, insert and change with /part and /dup. The series is [x]; the value a block or a
// string at an index; the /part argument an integer or a position in a series.
TEST_F(ActionEntryTest, PartAndDupBecomeCountsBeforeTheHandler) {
    enum part_kind { NO_PART, COUNT, SAME_SERIES_AT, OTHER_BLOCK, OTHER_STRING };
    struct insertion_case {
        action a;
        const char* inserted;
        int inserted_index;
        part_kind part;
        int part_value;
        int dup;  // 0: no /dup
        const char* expected;  // the series from its head, or the error
        err raised;
        const char* why;
    };
    const err none_raised = err(0);
    const insertion_case cases[] = {
        {ACTION_APPEND, "[1 2 3 4]", 0, COUNT, 0, 0, "[x]", none_raised, "a count of 0 inserts nothing"},
        {ACTION_APPEND, "[1 2 3 4]", 3, COUNT, -2, 0, "[x 2 3]", none_raised, "a negative count takes the values before"},
        {ACTION_APPEND, "[1 2 3 4]", 0, COUNT, -2, 0, "[x]", none_raised, "a negative count at the head takes none"},
        {ACTION_APPEND, "[1 2 3 4]", 3, COUNT, -10, 0, "[x 1 2 3]", none_raised, "back to the head at most"},
        {ACTION_APPEND, "[1 2 3 4]", 1, COUNT, 2, 0, "[x 2 3]", none_raised, "a positive count"},
        {ACTION_APPEND, "[1 2 3 4]", 1, COUNT, 10, 0, "[x 2 3 4]", none_raised, "a count past the tail"},
        {ACTION_APPEND, "[1 2 3 4]", 10, COUNT, -1, 0, "[x 4]", none_raised, "the index clamps to the tail first"},
        {ACTION_APPEND, "[1 2 3 4]", 1, SAME_SERIES_AT, 3, 0, "[x 2 3]", none_raised, "a position after the value"},
        {ACTION_APPEND, "[1 2 3 4]", 3, SAME_SERIES_AT, 1, 0, "[x 2 3]", none_raised, "a position before the value"},
        {ACTION_APPEND, "[1 2 3 4]", 1, OTHER_BLOCK, 3, 0, "", err::script_invalid_refine_arg, "another series"},
        {ACTION_APPEND, "\"abcd\"", 1, OTHER_BLOCK, 3, 0, "", err::script_invalid_refine_arg, "a block for a string"},
        {ACTION_APPEND, "5", 0, COUNT, 1, 0, "", err::script_invalid_part, "the value is no series"},
        {ACTION_INSERT, "7", 0, COUNT, 1, 0, "", err::script_invalid_part, "the value is no series"},
        {ACTION_APPEND, "[1 2]", 0, NO_PART, 0, 2, "[x 1 2 1 2]", none_raised, "two copies"},
        {ACTION_APPEND, "[1 2]", 0, NO_PART, 0, -1, "[x]", none_raised, "a dup count below 1 inserts nothing"},
        {ACTION_APPEND, "[1 2 3]", 0, COUNT, 1, 3, "[x 1 1 1]", none_raised, "/part and /dup together"},
        {ACTION_INSERT, "[1 2 3]", 0, COUNT, 2, 0, "[1 2 x]", none_raised, "insert at the series' index"},
        {ACTION_INSERT, "[1 2 3]", 2, COUNT, -1, 0, "[2 x]", none_raised, "insert of the value before"},
        // change's /part is the length of the target replaced, not a limit on the value.
        {ACTION_CHANGE, "[1 2 3]", 0, COUNT, 0, 0, "[1 2 3 x]", none_raised, "a count of 0 replaces nothing"},
        {ACTION_CHANGE, "[1 2 3]", 1, COUNT, 2, 0, "[2 3]", none_raised, "the target's length, capped at its tail"},
        {ACTION_CHANGE, "7", 0, COUNT, 1, 0, "[7]", none_raised, "the value need not be a series"},
        {ACTION_CHANGE, "[1 2 3]", 1, SAME_SERIES_AT, 3, 0, "", err::script_invalid_refine_arg,
         "a position in the value's series is not one in the target"},
    };
    for (const insertion_case& c : cases) {
        SCOPED_TRACE(std::string(action_names[c.a - 1]) + ": " + c.why);
        cell* series = value("[x]");
        cell* inserted = value(c.inserted);
        inserted->w1 = static_cast<uint32_t>(c.inserted_index);
        std::vector<const cell*> arguments{series, inserted};
        // positions: /part 2 (its length cell), /only 3, /dup 3 (its count cell)
        std::vector<int32_t> refinements{-1, -1, -1};
        cell* part = &none::value;
        if (c.part == COUNT) part = value(std::to_string(c.part_value));
        if (c.part == SAME_SERIES_AT) {
            part = stack::push_copy(inserted);
            part->w1 = static_cast<uint32_t>(c.part_value);
        }
        if (c.part == OTHER_BLOCK) part = value("[1 2 3 4]");
        if (c.part == OTHER_STRING) part = value("\"abcd\"");
        arguments.push_back(part);
        if (c.part != NO_PART) refinements[0] = 2;
        arguments.push_back(c.dup ? value(std::to_string(c.dup)) : &none::value);
        if (c.dup) refinements[2] = 3;
        if (c.raised != none_raised) {
            EXPECT_EQ(raise_of([&] { invoke(c.a, arguments, refinements); }).code, code_of(c.raised));
            continue;
        }
        cell* result = invoke(c.a, arguments, refinements);
        EXPECT_EQ(whole(result), c.expected);
        EXPECT_EQ(whole(series), c.expected) << "the series itself changed";
    }
}

TEST_F(ActionEntryTest, CompareTurnsTheHandlersAnswerIntoLogic) {
    struct compare_case {
        const char* left;
        const char* right;
        int op;
        int expected;  // 1 true, 0 false, -1 raises script/invalid-compare, -2 script/invalid-arg
    };
    // true and 1 cannot be compared: the logic! handler answers -2.
    const compare_case cases[] = {
        {"1", "2", 0, 0},  {"1", "2", 1, 1},  {"1", "2", 2, 0},  {"1", "2", 3, 1},  {"1", "2", 4, 1},
        {"1", "2", 5, 0},  {"1", "2", 6, 0},  {"2", "2", 4, 1},  {"2", "2", 6, 1},  {"2", "2", 3, 0},
        {"t", "1", 0, 0},  {"t", "1", 1, 1},  {"t", "1", 2, 0},  {"t", "1", 9, 0},  {"t", "1", 10, 0},
        {"t", "1", 11, 0}, {"t", "1", 12, 0}, {"t", "1", 3, -1}, {"t", "1", 4, -1}, {"t", "1", 5, -1},
        {"t", "1", 6, -1}, {"1", "1", 7, -2}, {"1", "1", 8, -2}, {"1", "1", 13, -2}, {"1", "1", -1, -2},
    };
    for (const compare_case& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " " + c.right + " op " + std::to_string(c.op));
        const cell* left = c.left[0] == 't' ? &logic::true_value : value(c.left);
        cell* right = value(c.right);
        cell* op = value(std::to_string(c.op));
        if (c.expected < 0) {
            raised_error e = raise_of([&] { invoke(ACTION_COMPARE, {left, right, op}); });
            EXPECT_EQ(e.code, code_of(c.expected == -1 ? err::script_invalid_compare : err::script_invalid_arg));
            continue;
        }
        cell* result = invoke(ACTION_COMPARE, {left, right, op});
        ASSERT_TRUE(result->is(TYPE_LOGIC));
        EXPECT_EQ(int(result->w1), c.expected);
    }
    // The code must be an integer!.
    EXPECT_EQ(raise_of([&] { invoke(ACTION_COMPARE, {value("1"), value("1"), value("1.0")}); }).code,
              code_of(err::script_invalid_arg));
}

TEST_F(ActionEntryTest, AnActionOnATypeWithoutHandlerRaisesExpectArgNamingTheType) {
    raised_error e = raise_of([&] { invoke(ACTION_CLEAR, {value("5")}); });
    EXPECT_EQ(e.code, code_of(err::script_expect_arg));
    cell* error_value = nullptr;
    {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            invoke(ACTION_CLEAR, {value("5")});
        } catch (const zor_throw&) {
            error_value = stack::last_slot();
        }
        ASSERT_NE(error_value, nullptr);
        EXPECT_EQ(molded(error::field_of(error_value, error::FIELD_ARG2)), "integer!");
    }
    // make and to look up the type a datatype! names.
    cell image_type{TYPE_DATATYPE, TYPE_IMAGE, 0, 0};
    EXPECT_EQ(raise_of([&] { invoke(ACTION_MAKE, {&image_type, value("1")}); }).code, code_of(err::script_expect_arg));
    cell* made = invoke(ACTION_MAKE, {value("block!"), value("4")});
    EXPECT_TRUE(made->is(TYPE_BLOCK));
    EXPECT_EQ(molded(made), "[]");
}

// A port's I/O actions go to its actor's handlers when the actor field holds a handle!.
cell written{TYPE_INTEGER, 0, 42, 0};
cell* write_handler(cell*, cell* data, bool, bool, bool, bool, cell*, cell*, cell*, cell*) {
    written.w2 = data->w2;
    return &written;
}

TEST_F(ActionEntryTest, APortForwardsItsIOActionsToItsActor) {
    static actions::port_actor actor{};
    actor.handlers[ACTION_WRITE - actions::PORT_FIRST_ACTION] = reinterpret_cast<action_entry>(&write_handler);
    static const int32_t id = actions::register_port_actor(&actor);

    // A port object with the fields spec, scheme and actor.
    auto make_port = [&](const cell& actor_value) {
        cell* port = stack::push_slot();
        cell::init_unset(port);
        *port = cell{TYPE_PORT, context::make(3, false, false, 0, context::KIND_OBJECT), 2, 0};
        // The context is read from the port after every allocation: the collector may move it.
        const cell* values[] = {&none::value, &none::value, &actor_value};
        const char* fields[] = {"spec", "scheme", "actor"};
        for (int i = 0; i < 3; ++i) {
            int32_t symbol = symbol::make(fields[i]);
            context::put_symbol_value(port->w1, symbol, values[i]);
        }
        return port;
    };
    cell actor_handle;
    actions::make_port_actor_handle(&actor_handle, id);
    cell* port = make_port(actor_handle);
    cell* data = value("7");
    std::vector<int32_t> none_given(8, -1);
    cell* result = invoke(ACTION_WRITE, {port, data, &none::value, &none::value, &none::value, &none::value}, none_given);
    EXPECT_EQ(integer::read_cell(result), 7) << "the actor's write ran with the data";

    EXPECT_EQ(raise_of([&] { invoke(ACTION_READ, {make_port(actor_handle)}); }).code,
              code_of(err::access_no_port_action));
    cell unknown;
    actions::make_port_actor_handle(&unknown, 999);
    EXPECT_EQ(raise_of([&] { invoke(ACTION_WRITE, {make_port(unknown), data}); }).code,
              code_of(err::access_no_port_action));
    // Below append the type's own row serves; so it does for an actor that is no handle!,
    // which port! forwards to only when it is an object.
    EXPECT_EQ(raise_of([&] { invoke(ACTION_FORM, {make_port(actor_handle)}); }).code, -1);
    EXPECT_EQ(raise_of([&] { invoke(ACTION_WRITE, {make_port(none::value), data}); }).code,
              code_of(err::access_invalid_port));
}

TEST_F(ActionEntryTest, CopyTypesMustNameTypes) {
    cell* original = value("[1 [2]]");
    cell* copied = invoke(ACTION_COPY, {original, &none::value, &none::value});
    EXPECT_EQ(molded(copied), "[1 [2]]");
    EXPECT_NE(copied->w2, original->w2) << "a new series";
    // copy's spec: value, /part length, /deep, /types kind at 3.
    EXPECT_EQ(raise_of([&] { invoke(ACTION_COPY, {original, &none::value, value("5")}, {-1, -1, 2}); }).code,
              code_of(err::script_expect_arg));
}

TEST_F(ActionEntryTest, EvalPathGetsSetsAndNamesTheParentWithoutHandler) {
    cell* series = value("[a b c]");
    EXPECT_EQ(molded(invoke(ACTION_EVAL_PATH, {series, value("2")})), "b");
    invoke(ACTION_EVAL_PATH, {series, value("2"), value("9")}, {2});
    EXPECT_EQ(whole(series), "[a 9 c]");
    raised_error e = raise_of([&] { invoke(ACTION_EVAL_PATH, {value("5"), value("x")}); });
    EXPECT_EQ(e.code, code_of(err::script_bad_path_type2));
    EXPECT_EQ(e.arg1, "x");

    // Through a path the error names the path, and the path up to the element whose value
    // had no handler (the failing element is not part of it).
    cell* path = value("[p 5 q r]");
    cell::set_type(path, TYPE_PATH);
    cell* parent = value("5");
    cell* element = value("q");
    cell* cut = nullptr;
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        actions::dispatch_eval_path(parent, element, nullptr, path, nullptr, nullptr, 2, 0, false, false, false);
    } catch (const zor_throw&) {
        cut = stack::last_slot();
    }
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(error::code_of(cut), code_of(err::script_bad_path_type));
    EXPECT_EQ(molded(error::field_of(cut, error::FIELD_ARG1)), "p/5/q/r");
    EXPECT_EQ(molded(error::field_of(cut, error::FIELD_ARG2)), "integer!");
    EXPECT_EQ(molded(error::field_of(cut, error::FIELD_ARG3)), "p/5");
}

TEST_F(ActionEntryTest, ReflectTakesAWordField) {
    EXPECT_EQ(raise_of([&] { invoke(ACTION_REFLECT, {value("[1]"), value("5")}); }).code,
              code_of(err::script_invalid_arg));
}

}  // namespace
}  // namespace zor
