// The natives table and calling convention (the table after start-up, the spec data, the
// type tests of the check flag), the conditional natives and the comparison, logic and
// type natives, each as a table of cases run through the table's entries.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::raise_of;

using enum natives::native_index;

class NativesTest : public testing::stack_fixture {
protected:
    // The first value of the notation, in its own stack slot. The words true, false and
    // unset stand for those values (the notation has no literal for them), also inside
    // nested blocks.
    cell* value(const std::string& text) {
        cell* made = stack::push_copy(block::get_cell(code(text), 0));
        literalize(made);
        return made;
    }

    static void literalize(cell* c) {
        static const int32_t true_symbol = symbol::make("true");
        static const int32_t false_symbol = symbol::make("false");
        static const int32_t unset_symbol = symbol::make("unset");
        if (c->is(TYPE_WORD)) {
            if (int32_t(c->w2) == true_symbol) *c = logic::true_value;
            else if (int32_t(c->w2) == false_symbol) *c = logic::false_value;
            else if (int32_t(c->w2) == unset_symbol) cell::init_unset(c);
            return;
        }
        if (c->is(TYPE_BLOCK) || c->is(TYPE_PAREN)) {
            // No allocation here, so the buffer stays put while it is walked.
            memory::series_buffer* b = memory::buffer_of(c->w2);
            for (cell* inner = b->head_cell(); inner < b->tail_cell(); ++inner) literalize(inner);
        }
    }

    // Calls native `index` as the interpreter does: a call frame named by its word, the
    // argument cells from the new base, the refinement positions and the check flag.
    // Answers a slot below the call holding its result.
    cell* run(int index, const std::vector<const cell*>& arguments, std::vector<int32_t> refinements = {},
              bool check = true) {
        refinements.resize(static_cast<size_t>(natives::refinement_count(index)), -1);
        cell* out = stack::push_slot();
        cell::init_unset(out);
        cell* saved_base = stack::state.args_base;
        stack::frame* saved_frames = stack::state.frames_top;
        cell* word = word::push_global(symbol::make(natives::spec_of(index)->name));
        stack::push_call_frame(word);
        for (const cell* argument : arguments) stack::push_copy(argument);
        uint32_t exit = natives::call(index, refinements.data(), int32_t(refinements.size()), check);
        EXPECT_EQ(exit, 0u);
        *out = *stack::result_slot();
        stack::state.args_base = saved_base;
        stack::state.args_top = out + 1;
        stack::state.frames_top = saved_frames;
        return out;
    }

    // The result molded, or the error's id as "error <code>".
    std::string outcome(int index, const std::vector<const cell*>& arguments, std::vector<int32_t> refinements = {}) {
        std::string text;
        testing::raised_error e = raise_of([&] { text = molded(run(index, arguments, refinements)); });
        return e.code >= 0 ? "error " + std::to_string(e.code) : text;
    }
    static std::string error_text(err e) { return "error " + std::to_string(code_of(e)); }
};

// --- The table ----------------------------------------------------------------------------------------

TEST_F(NativesTest, StartUpFillsTheFirst107PositionsInIndexOrder) {
    EXPECT_EQ(natives::count(), 108);
    EXPECT_EQ(natives::filled_count(), 107);
    for (int i = 1; i <= natives::TABLE_SIZE; ++i) EXPECT_EQ(natives::entry(i) != nullptr, i <= 107) << i;
    struct name_case {
        int index;
        const char* name;
        int refinements;
    };
    const name_case cases[] = {
        {1, "if", 0},        {18, "switch", 1},  {19, "case", 1},   {20, "do", 4},       {34, "type?", 1},
        {37, "stats", 2},    {62, "NaN?", 0},    {77, "break", 1},  {78, "continue", 0}, {96, "now", 10},
        {99, "call", 7},     {106, "transcode", 7}, {107, "apply", 2},
    };
    for (const name_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(natives::spec_of(c.index), nullptr);
        EXPECT_STREQ(natives::spec_of(c.index)->name, c.name);
        EXPECT_EQ(natives::refinement_count(c.index), c.refinements);
        EXPECT_NE(natives::specs_source().find(std::string(c.name) + " " + std::to_string(c.index) + " ["),
                  std::string_view::npos);
    }
    EXPECT_EQ(natives::spec_of(0), nullptr);
    EXPECT_EQ(natives::spec_of(108), nullptr);
    EXPECT_EQ(natives::spec_of(20)->spec_text,
              "[value [any-type!] /expand /args arg /next position [word!] /trace callback [function!]]");
    EXPECT_EQ(natives::unknown_spec_type(), "") << "every type name of the specs names a type";
    // An index naming no entry is refused.
    EXPECT_EQ(raise_of([&] { natives::call(108, nullptr, 0, true); }).code, code_of(err::script_invalid_arg));
}

TEST_F(NativesTest, ArgumentTypesetsFollowTheSpecsTypeBlocks) {
    struct type_case {
        int index;
        int position;  // among the spec's words, refinements counted
        type_id type;
        bool accepted;
    };
    const type_case cases[] = {
        {NATIVE_IF, 0, TYPE_UNSET, true},
        {NATIVE_IF, 1, TYPE_BLOCK, true},
        {NATIVE_IF, 1, TYPE_PAREN, false},
        {NATIVE_DO, 3, TYPE_INTEGER, true},
        {NATIVE_DO, 3, TYPE_UNSET, false},  // arg has no type block
        {NATIVE_DO, 5, TYPE_WORD, true},
        {NATIVE_DO, 5, TYPE_INTEGER, false},
        {NATIVE_DO, 7, TYPE_FUNCTION, true},
        {NATIVE_LOOP, 0, TYPE_FLOAT, true},
        {NATIVE_LOOP, 0, TYPE_PERCENT, false},  // loop count
        {NATIVE_FOREACH, 1, TYPE_MAP, true},
        {NATIVE_FOREACH, 1, TYPE_VECTOR, true},
        {NATIVE_FOREACH, 1, TYPE_INTEGER, false},
        {NATIVE_MAX, 0, TYPE_DATE, true},
        {NATIVE_MAX, 0, TYPE_POINT3D, true},
        {NATIVE_MAX, 0, TYPE_HASH, true},
        {NATIVE_MAX, 0, TYPE_NONE, false},
        {NATIVE_ZERO_Q, 0, TYPE_POINT2D, true},
        {NATIVE_ZERO_Q, 0, TYPE_STRING, false},
        {NATIVE_IN, 0, TYPE_PORT, true},
        {NATIVE_IN, 0, TYPE_OP, true},
        {NATIVE_IN, 1, TYPE_REFINEMENT, true},
        {NATIVE_IN, 1, TYPE_ISSUE, false},
        {NATIVE_APPLY, 0, TYPE_ROUTINE, true},
        {NATIVE_APPLY, 0, TYPE_GET_PATH, false},
    };
    for (const type_case& c : cases) {
        SCOPED_TRACE(std::string(natives::spec_of(c.index)->name) + " " + std::to_string(c.position) + " " +
                     type_registry::type_entries[c.type].name);
        cell types = natives::argument_typeset(c.index, c.position);
        ASSERT_TRUE(types.is(TYPE_TYPESET));
        EXPECT_EQ(typeset::has(&types, c.type), c.accepted);
    }
    EXPECT_TRUE(natives::argument_typeset(NATIVE_DO, 2).is(TYPE_NONE)) << "a refinement has no typeset";
    EXPECT_TRUE(natives::argument_typeset(NATIVE_DO, 8).is(TYPE_NONE)) << "past the spec";
    cell any_type;
    ASSERT_TRUE(natives::named_typeset("any-type!", &any_type));
    EXPECT_EQ(typeset::count(&any_type), type_registry::max_type_id - 4)
        << "every type but the internal symbol!, context!, triple! and series!";
}

TEST_F(NativesTest, TheCheckFlagTestsPositionalArgumentsAndPresentRefinementsOnly) {
    // do: value 0, /expand, /args arg (1), /next position (2), /trace callback (3). Code
    // -1: no error, the routine ran (do of 1 is 1).
    cell* one = value("1");
    cell unset_cell;
    cell::init_unset(&unset_cell);
    struct check_case {
        std::vector<int32_t> refinements;
        bool check;
        int expected;
    };
    const check_case cases[] = {
        {{-1, -1, -1, -1}, true, -1},                             // the unset! arg cell is not looked at
        {{-1, 1, -1, -1}, true, code_of(err::script_expect_arg)},  // /args given: arg takes no unset!
        {{-1, -1, 1, -1}, true, code_of(err::script_expect_arg)},  // /next's position is a word!
    };
    for (const check_case& c : cases) {
        EXPECT_EQ(raise_of([&] { run(NATIVE_DO, {one, &unset_cell, &unset_cell, &unset_cell}, c.refinements, c.check); })
                      .code,
                  c.expected);
    }
    // Positional arguments: if's then-blk must be a block!.
    EXPECT_EQ(raise_of([&] { run(NATIVE_IF, {&logic::true_value, one}); }).code, code_of(err::script_expect_arg));
    // A refinement argument is tested where its position says: throw/name's word at 1.
    cell* number = value("5");
    EXPECT_EQ(raise_of([&] { run(81, {number, number}, {1}); }).code, code_of(err::script_expect_arg));
    EXPECT_NE(raise_of([&] { run(81, {number, value("w")}, {1}); }).code, code_of(err::script_expect_arg));
}

TEST_F(NativesTest, ARefinementAtOffsetZeroIsPresent) {
    // A native without positional arguments has its first refinement's arguments at offset
    // 0 (break/return's value, stats' /show): presence is ">= 0", never "> 0".
    const int32_t positions[] = {0, -1, 3, -7};
    natives::native_invocation call{positions, 4, false};
    EXPECT_TRUE(call.has(0));
    EXPECT_FALSE(call.has(1));
    EXPECT_TRUE(call.has(2));
    EXPECT_FALSE(call.has(3));
    EXPECT_FALSE(call.has(4)) << "past the positions given";
    EXPECT_FALSE(call.has(-1));
    EXPECT_EQ(call.position(2), 3);
}

// --- Conditionals --------------------------------------------------------------------------------------

TEST_F(NativesTest, IfUnlessAndEitherTestTheCondition) {
    struct truth_case {
        const char* condition;
        const char* if_result;
        const char* unless_result;
        const char* either_result;
    };
    const std::string no_return = error_text(err::script_no_return);
    const truth_case cases[] = {
        {"true", "7", "none", "1"},
        {"false", "none", "7", "2"},
        {"none", "none", "7", "2"},
        {"unset", "7", "none", no_return.c_str()},  // if and unless count unset! as true
        {"0", "7", "none", "1"},
        {"\"\"", "7", "none", "1"},
    };
    for (const truth_case& c : cases) {
        SCOPED_TRACE(c.condition);
        cell* condition = value(c.condition);
        cell* seven = value("[7]");
        EXPECT_EQ(outcome(NATIVE_IF, {condition, seven}), c.if_result);
        EXPECT_EQ(outcome(NATIVE_UNLESS, {condition, seven}), c.unless_result);
        EXPECT_EQ(outcome(NATIVE_EITHER, {condition, value("[1]"), value("[2]")}), c.either_result);
    }
}

TEST_F(NativesTest, AnyAndAllStopAtTheFirstDecidingValue) {
    struct walk_case {
        int index;
        const char* block;
        const char* expected;
    };
    // undefined-word has no value: reaching it would raise script/no-value.
    const walk_case cases[] = {
        {NATIVE_ANY, "[]", "none"},
        {NATIVE_ANY, "[none false 3]", "3"},
        {NATIVE_ANY, "[none false]", "none"},
        {NATIVE_ANY, "[false 0]", "0"},
        {NATIVE_ANY, "[1 undefined-word]", "1"},
        {NATIVE_ANY, "[unset]", "unset"},  // unset! counts as true and stays the result
        {NATIVE_ALL, "[]", "none"},
        {NATIVE_ALL, "[1 2]", "2"},
        {NATIVE_ALL, "[1 none 2]", "none"},
        {NATIVE_ALL, "[1 false]", "none"},
        {NATIVE_ALL, "[none undefined-word]", "none"},
        {NATIVE_ALL, "[true]", "true"},
    };
    for (const walk_case& c : cases) {
        SCOPED_TRACE(std::string(natives::spec_of(c.index)->name) + " " + c.block);
        EXPECT_EQ(outcome(c.index, {value(c.block)}), c.expected);
    }
    // The walk starts at the block's index.
    cell* at_two = value("[1 none 3]");
    at_two->w1 = 1;
    EXPECT_EQ(outcome(NATIVE_ALL, {at_two}), "none");
    at_two->w1 = 2;
    EXPECT_EQ(outcome(NATIVE_ALL, {at_two}), "3");
}

TEST_F(NativesTest, SwitchFindsAnEqualValueOfTheSameType) {
    struct switch_case {
        const char* subject;
        const char* cases;
        const char* fallback;  // the /default block, or null
        const char* expected;
    };
    const switch_case cases[] = {
        {"1.0", "[1 [7]]", nullptr, "none"},             // types differ
        {"\"A\"", "[\"a\" [7]]", nullptr, "7"},          // equality mode ignores case
        {"1", "[1 2 3]", nullptr, "none"},               // a match with no block after it
        {"1", "[1 2 3]", "[9]", "none"},                 // ... also with /default
        {"5", "[1 [2]]", "[9]", "9"},                    // no match: the default
        {"5", "[1 [2]]", nullptr, "none"},
        {"[1]", "[[1] [2]]", "[9]", "9"},                // a block! never matches
        {"2", "[1 [5] 2 3 [6]]", nullptr, "6"},          // forward from the match to a block
        {"\"b\"", "[b [1] \"b\" [2]]", nullptr, "2"},
        {"3", "[1 2 3 4 [8]]", nullptr, "8"},            // every cell is looked at
    };
    for (const switch_case& c : cases) {
        SCOPED_TRACE(std::string(c.subject) + " in " + c.cases);
        std::vector<const cell*> arguments{value(c.subject), value(c.cases)};
        std::vector<int32_t> refinements{-1};
        if (c.fallback) {
            arguments.push_back(value(c.fallback));
            refinements[0] = 2;
        } else {
            arguments.push_back(&none::value);
        }
        EXPECT_EQ(outcome(NATIVE_SWITCH, arguments, refinements), c.expected);
    }
}

TEST_F(NativesTest, SwitchFindCaseStepsAndAnswersAsAskedFor) {
    struct find_case {
        const char* subject;
        const char* cases;
        bool push, want_block;
        const char* expected;
    };
    const find_case cases[] = {
        {"2", "[1 2 3 [b]]", true, true, "[b]"},
        {"2", "[1 2 3 [b]]", true, false, "3"},   // the cell after the match
        {"3", "[1 2 3]", true, false, "3"},       // the match itself when it is the last cell
        {"2", "[1 2 3 [b]]", false, false, "none"},  // pairs: 2 sits at a value position
        {"3", "[1 2 3 [b]]", false, false, "[b]"},
        {"9", "[1 2]", true, true, "none"},
    };
    for (const find_case& c : cases) {
        SCOPED_TRACE(std::string(c.subject) + " " + c.cases + (c.push ? " push" : "") + (c.want_block ? " block" : ""));
        cell* subject = value(c.subject);
        cell* block = value(c.cases);
        cell* base = stack::state.args_top;
        stack::push_copy(subject);
        stack::push_copy(block);
        stack::state.args_base = base;
        cell* answer = natives::switch_find_case(c.push, c.want_block);
        EXPECT_EQ(answer == base, !c.push) << "pushed, or in the result slot";
        EXPECT_EQ(molded(answer), c.expected);
        stack::state.args_base = stack::state.args_begin;
    }
}

TEST_F(NativesTest, CaseTakesTheFirstTrueConditionsBranch) {
    struct case_case {
        const char* cases;
        bool all;
        std::string expected;
    };
    const case_case cases[] = {
        {"[false [undefined-word] true [2]]", false, "2"},  // only the second block runs
        {"[false 5 6 7]", false, "7"},        // after a false condition one cell is skipped
        {"[true 3 true [4]]", false, "3"},    // a branch that is no block is an expression
        {"[none [1] 0 [2]]", false, "2"},
        {"[false [1]]", false, "none"},
        {"[]", false, "none"},
        {"[true]", false, error_text(err::script_need_value)},
        {"[false [1] true]", false, error_text(err::script_need_value)},
        {"[unset [1]]", false, error_text(err::script_no_return)},
        {"[true [1] true [2]]", true, "2"},
        {"[true [1] false [2]]", true, "false"},  // the value of the last condition
        {"[false [1] none [2]]", true, "none"},
        {"[true [1] false [2] true [3]]", true, "3"},
    };
    for (const case_case& c : cases) {
        SCOPED_TRACE(std::string(c.cases) + (c.all ? " /all" : ""));
        EXPECT_EQ(outcome(NATIVE_CASE, {value(c.cases)}, {c.all ? 1 : -1}), c.expected);
    }
}

// --- Comparison, logic and type ----------------------------------------------------------------------

TEST_F(NativesTest, TheComparisonsAnswerThroughTheCompareAction) {
    struct comparison_case {
        const char* left;
        const char* right;
        // equal? not-equal? strict-equal? lesser? greater? lesser-or-equal? greater-or-equal?;
        // 'T' true, 'F' false, 'E' script/invalid-compare
        const char* answers;
    };
    const comparison_case cases[] = {
        {"1", "2", "FTFTFTF"},
        {"2", "2", "TFTFFTT"},
        {"1", "1.0", "TFFFFTT"},          // integer! against float!: equal, not strictly
        {"\"abc\"", "\"ABC\"", "TFFFFTT"},  // equality and order ignore case, == does not
        {"\"abc\"", "\"abd\"", "FTFTFTF"},
        {"true", "1", "FTFEEEE"},         // logic! and integer! cannot be ordered
        {"none", "none", "TFTEEEE"},      // none! is equal to itself but has no order
    };
    const int natives_in_order[] = {NATIVE_EQUAL_Q,   NATIVE_NOT_EQUAL_Q,       NATIVE_STRICT_EQUAL_Q,
                                    NATIVE_LESSER_Q,  NATIVE_GREATER_Q,         NATIVE_LESSER_OR_EQUAL_Q,
                                    NATIVE_GREATER_OR_EQUAL_Q};
    for (const comparison_case& c : cases) {
        for (int i = 0; i < 7; ++i) {
            SCOPED_TRACE(std::string(natives::spec_of(natives_in_order[i])->name) + " " + c.left + " " + c.right);
            std::string expected = c.answers[i] == 'T'   ? "true"
                                   : c.answers[i] == 'F' ? "false"
                                                         : error_text(err::script_invalid_compare);
            EXPECT_EQ(outcome(natives_in_order[i], {value(c.left), value(c.right)}), expected);
        }
    }
}

TEST_F(NativesTest, SameTestsIdentityByType) {
    cell* text = value("\"abc\"");
    cell* later = stack::push_copy(text);
    later->w1 = 1;
    cell* nan = float_::init_cell(stack::push_slot(), std::nan(""));
    const uint8_t bytes[tuple::MAX_LENGTH] = {1, 2, 3};
    cell* tuple_value = tuple::make_at(stack::push_slot(), 3, bytes);
    cell* longer_tuple = tuple::make_at(stack::push_slot(), 4, bytes);
    cell native_a{TYPE_NATIVE, 3, 100, 200}, native_b{TYPE_NATIVE, 3, 100, 300}, native_c{TYPE_NATIVE, 4, 100, 200};
    cell op_a{TYPE_OP, 1, 100, 200}, op_b{TYPE_OP, 2, 100, 200}, op_c{TYPE_OP, 1, 100, 300};
    struct same_case {
        const cell* left;
        const cell* right;
        bool same;
        const char* why;
    };
    const same_case cases[] = {
        {text, text, true, "the same series at the same index"},
        {text, later, false, "the same series at another index"},
        {text, value("\"abc\""), false, "equal text in another series"},
        {value("1"), value("1"), true, "equal integers"},
        {value("1"), value("1.0"), false, "the types differ"},
        {value("0.0"), value("-0.0"), false, "floats bit for bit"},
        {nan, nan, true, "an identical NaN"},
        {&none::value, &none::value, true, "none!"},
        {value("unset"), value("unset"), true, "unset!"},
        {value("true"), value("true"), true, "logic!"},
        {value("true"), value("false"), false, "logic!"},
        {value("integer!"), value("integer!"), true, "datatype!"},
        {value("integer!"), value("float!"), false, "datatype!"},
        {tuple_value, tuple_value, true, "tuple! of one length"},
        {tuple_value, longer_tuple, false, "tuple! lengths differ"},
        {&native_a, &native_b, true, "native!: words 1 and 2"},
        {&native_a, &native_c, false, "native!: another entry"},
        {&op_a, &op_b, true, "op!: words 2 and 3"},
        {&op_a, &op_c, false, "op!: words 2 and 3"},
    };
    for (const same_case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(natives::is_same(c.left, c.right), c.same);
        EXPECT_EQ(outcome(NATIVE_SAME_Q, {c.left, c.right}), c.same ? "true" : "false");
    }
}

TEST_F(NativesTest, NotAndTypeOf) {
    const std::pair<const char*, const char*> negations[] = {
        {"true", "false"}, {"false", "true"}, {"none", "true"}, {"unset", "false"}, {"0", "false"}, {"[]", "false"},
    };
    for (const auto& [operand, expected] : negations) {
        EXPECT_EQ(outcome(NATIVE_NOT, {value(operand)}), expected) << operand;
    }

    EXPECT_EQ(outcome(NATIVE_TYPE_Q, {value("1")}, {-1}), "integer!");
    cell* word = run(NATIVE_TYPE_Q, {value("1")}, {1});
    EXPECT_TRUE(word->is(TYPE_WORD)) << "type?/word gives the datatype's word";
    EXPECT_EQ(molded(word), "integer!");
    cell* datatype_value = run(NATIVE_TYPE_Q, {value("\"x\"")}, {-1});
    ASSERT_TRUE(datatype_value->is(TYPE_DATATYPE));
    EXPECT_EQ(datatype_value->w1, uint32_t(TYPE_STRING));
    EXPECT_EQ(outcome(NATIVE_TYPE_Q, {value("unset")}, {-1}), "unset!");
}

}  // namespace
}  // namespace zor
