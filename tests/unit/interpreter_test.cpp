// The interpreter: words, set-words, get-words, lit-words, paths, parens, infix operators,
// calls with refinements, the script errors of evaluation with their arguments, the
// non-local exits and where they land, and deep recursion.
//
// Code is read from a small notation (tests/unit/code_notation.h). Besides the real
// natives, the tests install small stand-ins (tests/unit/interpreter_stand_ins.h) in the
// natives table's free positions, built only on the stack module's exits and catch
// points, so they test exactly the machinery that the interpreter provides and count the
// exits that reached them as C++ exceptions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"
#include "runtime/value/code-registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::exits_as_exceptions;
using testing::interpreter_fixture;
using testing::logged;
using testing::mold_of;
using testing::raised;
using testing::read_code;

class InterpreterTest : public interpreter_fixture {};

// --- Values, words, operators and calls -----------------------------------------------------------

TEST_F(InterpreterTest, ExpressionsEvaluateToTheirValues) {
    struct row {
        const char* code;
        const char* expected;
        const char* why;
    };
    const row rows[] = {
        {"1 + 2 * 3", "9", "operators chain left to right with one precedence"},
        {"id 1 + 2", "3", "a function's argument takes the infix expression"},
        {"1 + id 2", "3", "an operator's right operand may be a call"},
        {"(1 + 2) * 3", "9", "a paren is evaluated in place"},
        {"x: 5 x", "5", ""},
        {"a: b: 7 a + b", "14", "a chain of set-words stores one value"},
        {"'foo", "foo", "a lit-word gives a word"},
        {"x: 'foo :x", "foo", "a get-word takes the value as it is"},
        {"[]", "[]", "a block is a plain value"},
        {"", "unset", "an empty block evaluates to unset"},
        {"()", "unset", ""},
        {"2147483647 + 1", "2147483648.0", "integer overflow gives a float"},
        {"-2147483648 * -1", "2147483648.0", ""},
        {"-2147483648 - 1", "-2147483649.0", ""},
        {"1.5 + 2", "3.5", "a float with an integer takes the full action"},
        {"1.5 * 2.0", "3.0", ""},
        {"x: 5 10 - x", "5", "a word as an operator's right operand"},
        {"x: 2.5 1.5 * x", "3.75", ""},
        {"x: 1 x + x + 1", "3", ""},
        {"x: 2147483647 x + 1", "2147483648.0", ""},
        {"3 < 4", "true", ""},
        {"4 < 3", "false", ""},
        {"2 = 2", "true", ""},
        {"1.0 = 1", "true", "the comparison's full action"},
        {"blk: [10 20 30] blk/2", "20", ""},
        {"blk: [10 20 30] blk/(1 + 2)", "30", "a paren element is evaluated"},
        {"blk: [10 20 30] n: 1 blk/:n", "10", "a get-word element stands for its value"},
        {"blk: [10 20 30] blk/2: 99 blk", "[10 99 30]", "a set-path assigns in place"},
        {"blk: [10 [1 2] 30] blk/2/1: 7 blk", "[10 [7 2] 30]", ""},
        {"blk: [10 20] :blk/1", "10", ""},
        {"'a/b", "a/b", "a lit-path gives a path"},
        {"either 1 < 2 [10] [20]", "10", ""},
        {"if 2 < 1 [10]", "none", ""},
        {"opt", "unset", "an optional literal argument at the end is unset"},
        {"opt 5", "5", ""},
        {"lit x", "x", "a literal argument is not evaluated"},
        {"lit (1 + 1)", "2", "a literal argument's paren is"},
        {"g 1", "1", ""},
        {"g/r 1 2", "3", "a refinement named in a path takes its argument"},
        {"b: [1] append/only/dup b [2] 2 b", "[1 [2] [2]]", "action refinements in path order"},
        {"#foo [1]", "[1]", "an issue is a plain value"},
        {"1 +f 2 * 3", "9", "an operator made from a function"},
        {"1 +f id 2", "3", ""},
        {"x: 'w x", "w", "a word whose value is a word gives that word"},
        {"f: 1 f: :id f 2", "2", "a word that became a function is called"},
        {"f: :id f 2 f: 7 f + f", "14", "a word that stopped being a function is a value"},
    };
    for (const row& r : rows) {
        reset_stack();
        EXPECT_EQ(evaluate(r.code), r.expected) << r.code << " (" << r.why << ")";
    }
}

TEST_F(InterpreterTest, NativeRefinementsArriveAsPositionsInSpecOrder) {
    // tpos [a /r1 x /r2 /r3 y z]: a at 0, x at 1, y at 2, z at 3 whatever the path says.
    struct row {
        const char* code;
        const char* expected;
    };
    const row rows[] = {
        {"tpos 1", "-1 -1 -1 | 1 none none none"},
        {"tpos/r3/r1 1 2 3 4", "1 -1 2 | 1 4 2 3"},
        {"tpos/r2 1", "-1 2 -1 | 1 none none none"},
        {"tpos/r1/r2/r3 1 2 3 4", "1 2 2 | 1 2 3 4"},
    };
    for (const row& r : rows) {
        reset_stack();
        logged.clear();
        evaluate(r.code);
        ASSERT_EQ(logged.size(), 1u) << r.code;
        EXPECT_EQ(logged[0], r.expected) << r.code;
    }
}

TEST_F(InterpreterTest, FunctionFramesHoldArgumentsRefinementsAndLocals) {
    // A function's frame: its arguments, a logic! per refinement followed by its arguments,
    // then /local and its words.
    testing::define_function("frame-of", "a /r b c /s /local d", "tlog a tlog r tlog b tlog c tlog s tlog d");
    evaluate("frame-of/r 1 2 3");
    EXPECT_EQ(logged, (std::vector<std::string>{"1", "true", "2", "3", "false", "none"}));
    logged.clear();
    evaluate("frame-of 1");
    EXPECT_EQ(logged, (std::vector<std::string>{"1", "false", "none", "none", "false", "none"}));
}

TEST_F(InterpreterTest, ScriptErrorsCarryTheirArguments) {
    struct row {
        const char* code;
        err expected;
        const char* arg1;
        const char* arg2;
        const char* arg3;
    };
    const row rows[] = {
        {"x:", err::script_need_value, "x:", "none", "none"},
        {"x: ()", err::script_need_value, "x:", "none", "none"},
        {"+ 1 2", err::script_no_op_arg, "+", "none", "none"},
        {"never-set", err::script_no_value, "never-set", "none", "none"},
        {"never-set/b", err::script_unset_path, "never-set/b", "never-set", "none"},
        {"blk: [1] blk/()", err::script_invalid_path, "blk/()", "unset", "none"},
        {":id/x", err::script_invalid_path_get, ":id/x", "none", "none"},
        {"id/x: 1", err::script_invalid_path_set, "id/x:", "none", "none"},
        {"blk/x:", err::script_need_value, "blk/x:", "none", "none"},
        {"b: [] append/only/only b 1", err::script_dup_refine, "append/only/only", "none", "none"},
        {"id", err::script_no_arg, "id", "a", "none"},
        {"g/q 1", err::script_no_refine, "g", "/q", "none"},
        {"g/1 1", err::script_bad_refine, "1", "none", "none"},
        {"typed \"s\"", err::script_expect_arg, "typed", "string!", "n"},
        {"1 +", err::script_no_arg, "+", "value2", "none"},
        {"1 + never-set", err::script_no_value, "never-set", "none", "none"},
        {"1 + \"a\"", err::script_invalid_type, "string!", "none", "none"},
        {"x: \"a\" 1 + x", err::script_invalid_type, "string!", "none", "none"},
        {"#system [1]", err::internal_zor_system, "none", "none", "none"},
        {"#system-global [1]", err::internal_zor_system, "none", "none", "none"},
        {"treturn 1", err::throw_return, "none", "none", "none"},
        {"tbreak", err::throw_break, "none", "none", "none"},
        {"tbreak/continue", err::throw_continue, "none", "none", "none"},
        {"tthrow 3", err::throw_throw, "3", "none", "none"},
    };
    for (const row& r : rows) {
        reset_stack();
        raised e = raise_of(r.code);
        EXPECT_EQ(e.code, error_catalogue::code_of(r.expected)) << r.code;
        EXPECT_EQ(e.arg1, r.arg1) << r.code;
        EXPECT_EQ(e.arg2, r.arg2) << r.code;
        EXPECT_EQ(e.arg3, r.arg3) << r.code;
    }
}

TEST_F(InterpreterTest, PathErrorsOfEmptyPathsAndNonWordHeads) {
    cell* empty = block::push_empty(1);
    cell::set_type(empty, TYPE_PATH);
    cell* code = block::push_empty(1);
    block::append_copy(code, empty);
    EXPECT_EQ(raise_of_block(code).code, error_catalogue::code_of(err::script_empty_path));

    reset_stack();
    cell* path = read_code("blk/1");
    cell* head = block::get_cell(block::get_cell(path, 0), 0);
    *head = cell{TYPE_INTEGER, 0, 1, 0};
    raised e = raise_of_block(path);
    EXPECT_EQ(e.code, error_catalogue::code_of(err::script_word_first));
    EXPECT_EQ(e.arg1, "1/1");
}

TEST_F(InterpreterTest, AnOpValueMetLiterallyIsNotDone) {
    cell* code = read_code("1");
    cell* w = word::push_global(symbol::make("+"));
    *block::get_cell(code, 0) = *word::get_value(w);
    EXPECT_EQ(raise_of_block(code).code, error_catalogue::code_of(err::internal_not_done));
}

TEST_F(InterpreterTest, AFunctionValueMetLiterallyIsCalledUnlessKept) {
    cell* code = read_code("id 4");
    cell* w = word::push_global(symbol::make("id"));
    *block::get_cell(code, 0) = *word::get_value(w);
    cell* result = stack::state.args_top;
    ASSERT_EQ(eval::eval_block(code, false), 0u);
    EXPECT_EQ(mold_of(result), "4");

    reset_stack();
    code = read_code("id 4");
    w = word::push_global(symbol::make("id"));
    *block::get_cell(code, 0) = *word::get_value(w);
    stack::push_call_frame(nullptr);
    eval::eval_expression(code, 0, false, false, true);
    EXPECT_TRUE(stack::result_slot()->is(TYPE_FUNCTION));
}

// --- Non-local exits -----------------------------------------------------------------------------------

TEST_F(InterpreterTest, ExitsLandWhereTheirFramesAre) {
    struct row {
        const char* code;
        const char* expected;
        const char* why;
    };
    const row rows[] = {
        {"n: 0 tloop 5 [n: n + 1 if n = 3 [tbreak]] n", "3", "break inside an if inside a loop"},
        {"tloop 5 [tbreak/return 7]", "7", "break with a value is the loop's value"},
        {"1 + tloop 5 [tbreak/return 7]", "8", "the loop's value takes the operand's place"},
        {"n: 0 m: 0 tloop 4 [n: n + 1 if n > 2 [tbreak/continue] m: m + 1] m", "2", ""},
        {"ret-in-loop", "7", "a return passes the loop frame to the body"},
        {"1 + ret-in-loop", "8", ""},
        {"early 1", "first", "a return ends the body at once"},
        {"early 2", "second", ""},
        {"exit-early", "unset", "exit returns nothing"},
        {"tcatch [tloop 3 [tthrow 4]]", "4", "a throw passes loops to its catch"},
        {"tcatch [1 + 2]", "3", ""},
        {"tcatch [id tthrow 5]", "5", "a throw out of an argument"},
        {"tloop 2 [tcatch [tbreak/return 9]]", "9", "a break passes a catch"},
        {"outer", "6", "a return out of nested calls returns only its own function"},
    };
    for (const row& r : rows) {
        reset_stack();
        exits_as_exceptions = 0;
        EXPECT_EQ(evaluate(r.code), r.expected) << r.code << " (" << r.why << ")";
        // The exits travel by return values: no C++ exception reached a catch point.
        EXPECT_EQ(exits_as_exceptions, 0) << r.code;
        EXPECT_EQ(stack::pending_code, 0u) << r.code;
        EXPECT_EQ(stack::frame_depth(), 0) << r.code;
    }
}

TEST_F(InterpreterTest, ExitsThatMustCrossCppCodeArriveAsExceptionsAndStillLand) {
    // A native that cannot pass an exit on by returning runs the block through run_block;
    // the catch point turns the exception back into the pending exit.
    struct row {
        const char* code;
        const char* expected;
        int stand_in_catches;  // exceptions taken by a stand-in catch point (not a body)
    };
    const row rows[] = {
        {"tloop 3 [topaque [tbreak/return 5]]", "5", 1},
        {"ret-through-opaque", "11", 0},
        {"tcatch [topaque [tthrow 6]]", "6", 1},
        {"1 + ret-through-opaque", "12", 0},
    };
    for (const row& r : rows) {
        reset_stack();
        exits_as_exceptions = 0;
        EXPECT_EQ(evaluate(r.code), r.expected) << r.code;
        EXPECT_EQ(exits_as_exceptions, r.stand_in_catches) << r.code;
        EXPECT_EQ(stack::pending_code, 0u) << r.code;
        EXPECT_EQ(stack::frame_depth(), 0) << r.code;
    }
}

TEST_F(InterpreterTest, TheCurrentCodeCellIsRestoredOnEveryExit) {
    cell* code = read_code("tloop 2 [tcatch [tthrow 1]] tloop 1 [tbreak] ttry [never-set] 5");
    const cell before = eval::current_code();
    cell* result = stack::state.args_top;
    ASSERT_EQ(eval::eval_block(code, false), 0u);
    EXPECT_EQ(mold_of(result), "5");
    EXPECT_EQ(eval::current_code().header, before.header);
    EXPECT_EQ(eval::current_code().w1, before.w1);
    EXPECT_EQ(eval::current_code().w2, before.w2);

    // An error leaving the block restores it too.
    reset_stack();
    code = read_code("1 never-set");
    raised e = raise_of_block(code);
    EXPECT_EQ(e.code, error_catalogue::code_of(err::script_no_value));
    EXPECT_EQ(eval::current_code().header, before.header);
    EXPECT_EQ(eval::current_code().w2, before.w2);
}

TEST_F(InterpreterTest, ABreakInsideTryAllRaisesThrowBreakAtTheBarrier) {
    cell* code = read_code("tloop 2 [ttry/all [tbreak]]");
    cell* result = stack::state.args_top;
    ASSERT_EQ(eval::eval_block(code, false), 0u);
    ASSERT_TRUE(result->is(TYPE_ERROR));
    EXPECT_EQ(error::code_of(result), error_catalogue::code_of(err::throw_break));
}

TEST_F(InterpreterTest, TheBodyFlagIsRestoredOnlyOnTheFrameItWasSetOn) {
    // A throw out of a function body lands in a catch frame that carries a body flag of its
    // own; the body's run must not clear it, since the frame it set its flag on is gone.
    testing::define_function("thrower", "", "tthrow 1");
    cell* w = word::push_global(symbol::make("thrower"));
    cell* function = stack::push_copy(word::get_value(w));
    stack::push_catch_frame();
    stack::set_body_flag(true);
    stack::frame* catcher = stack::state.frames_top - 1;
    stack::push_function_frame(w, function->w1);
    eval::invoke_function(function, function->w1, w, 0);
    EXPECT_EQ(stack::take_pending(), uint32_t(THROW_THROW));
    ASSERT_EQ(stack::state.frames_top, catcher + 1);
    EXPECT_NE(catcher->header & stack::FRAME_BODY_FLAG, 0u);
    EXPECT_EQ(exits_as_exceptions, 0);
}

TEST_F(InterpreterTest, FramesKeepSymbolIdsAbove65535) {
    // Symbols past the old 16-bit limit still name their own word in error reports. The
    // seventy thousand names are made in a child process, so that the symbol table of
    // this process (which every later collection marks) stays small.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::string name;
            gc::enabled = 0;  // the names need no collection after each
            while (symbol::count() < 70000) {
                name = "filler-" + std::to_string(symbol::count());
                symbol::make(name.c_str());
            }
            gc::enabled = 1;
            testing::define_function("far-away-name", "a [integer!]", "a");
            raised e = raise_of("far-away-name \"x\"");
            bool named = e.code == error_catalogue::code_of(err::script_expect_arg) && e.arg1 == "far-away-name" &&
                         e.where == "far-away-name";
            std::_Exit(named ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// --- Other entries of the interpreter ----------------------------------------------------------------

TEST_F(InterpreterTest, TheStackWalksListTheCallsInProgress) {
    testing::define_function("walker", "", "twalk");
    evaluate("walker");
    // The trace, from the top down: each call's word and the base it saved; <body> frames
    // are left out. The call trail lists only the words whose values are functions.
    EXPECT_EQ(logged, (std::vector<std::string>{"[twalk 2 walker 1]", "[walker]"}));
}

TEST_F(InterpreterTest, DoNextEvaluatesOneExpressionAtATime) {
    cell* block = read_code("1 + 2 3");
    stack::push_call_frame(nullptr);
    cell* result = stack::push_slot();
    EXPECT_EQ(eval::do_next(block), 3);
    EXPECT_EQ(mold_of(result), "3");
    block->w1 = 3;
    EXPECT_EQ(eval::do_next(block), 4);
    EXPECT_EQ(mold_of(result), "3");
    block->w1 = 4;
    EXPECT_EQ(eval::do_next(block), 4);
    EXPECT_EQ(mold_of(result), "unset");
}

TEST_F(InterpreterTest, ApplyTakesTheArgumentsFromABlock) {
    testing::define_function("h", "a /r b", "tlog a tlog r tlog b");
    struct row {
        const char* arguments;
        uint32_t mode;
        const char* path;
        const char* logged_text;
    };
    const row rows[] = {
        {"1 + 1", eval::APPLY_EVALUATED, nullptr, "2 false none"},
        {"1 + 1 3", eval::APPLY_EVALUATED, "h/r", "2 true 3"},
        {"1 true 5", eval::APPLY_ALL, nullptr, "1 true 5"},
        {"1 false 5", eval::APPLY_ALL, nullptr, "1 false 5"},
        {"1 false 5", eval::APPLY_ALL | eval::APPLY_SAFER, nullptr, "1 false none"},
        {"(1 + 1)", eval::APPLY_ALL, nullptr, "(1 + 1) false none"},
    };
    for (const row& r : rows) {
        reset_stack();
        logged.clear();
        cell* w = word::push_global(symbol::make("h"));
        cell* function = stack::push_copy(word::get_value(w));
        cell* arguments = read_code(r.arguments);
        cell* path = r.path ? block::get_cell(read_code(r.path), 0) : nullptr;
        cell* held_path = path ? stack::push_copy(path) : nullptr;
        stack::push_call_frame(nullptr);
        eval::apply(function, arguments, r.mode, held_path, w);
        std::string text;
        for (const std::string& line : logged) text += (text.empty() ? "" : " ") + line;
        EXPECT_EQ(text, r.logged_text) << r.arguments;
    }
}

TEST_F(InterpreterTest, APathWalkStopsBeforeAParenAndResumesThere) {
    evaluate("blk: [[5 6] 7]");
    reset_stack();
    cell* path = stack::push_copy(block::get_cell(read_code("blk/1/(1 + 1)"), 0));
    eval::path_resume resume;
    gc::root_guard guard(&resume.value, 2);
    resume.stop_at_paren = true;
    stack::push_call_frame(nullptr);
    eval::eval_path(path, nullptr, 0, false, false, false, &resume);
    EXPECT_EQ(resume.element, 2);
    EXPECT_EQ(mold_of(stack::result_slot()), "[5 6]");
    resume.stop_at_paren = false;
    eval::eval_path(path, nullptr, 0, false, false, false, &resume);
    EXPECT_EQ(resume.element, -1);
    EXPECT_EQ(mold_of(stack::result_slot()), "6");
}

TEST_F(InterpreterTest, CallingANativeWithAFunctionStyleSection) {
    cell* w = word::push_global(symbol::make("tpos"));
    cell* native = stack::push_copy(word::get_value(w));
    stack::push_call_frame(w);
    // a, /r1 x, /r2, /r3 y z: refinement cells as logic! values, as invoke.h's callers lay
    // them out.
    for (const char* text : {"1", "true", "2", "false", "true", "3", "4"}) {
        cell* slot = read_code(text);
        *slot = *block::get_cell(slot, 0);
    }
    eval::call_native(native);
    EXPECT_EQ(logged, (std::vector<std::string>{"1 -1 2 | 1 2 3 4"}));
}

uint64_t routine_add(const eval::routine_arguments& arguments) {
    return static_cast<uint64_t>(static_cast<uint32_t>(static_cast<int32_t>(arguments.values[0]) +
                                                       static_cast<int32_t>(arguments.values[1])));
}

cell* routine_second(cell* arguments) { return arguments + 1; }

uint32_t compiled_double(node_ref context) {
    (void)context;
    cell* n = stack::argument(0);
    integer::make_in(n, integer::read_cell(n) * 2);
    stack::keep_result_slot();
    return 0;
}

TEST_F(InterpreterTest, RoutinesAndCompiledBodiesAreCalledThroughTheCodeRegistry) {
    cell type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
    testing::set_global("int-type", &type);
    auto define_routine = [](const char* name, const char* spec, code_registry::code code, int32_t return_type,
                             bool cell_calling) {
        int32_t index = code_registry::register_code(name, code);
        cell* spec_block = read_code(spec);
        routine::push_new(spec_block, nullptr, index, return_type, cell_calling);
        testing::set_global(name, stack::last_slot());
        stack::drop_slots(2);
    };
    define_routine("radd", "a [int-type] b [int-type]", reinterpret_cast<code_registry::code>(&routine_add),
                   TYPE_INTEGER, false);
    define_routine("rsecond", "a b", reinterpret_cast<code_registry::code>(&routine_second), -1, true);
    define_routine("rbad", "a [integer!]", reinterpret_cast<code_registry::code>(&routine_add), TYPE_INTEGER, false);
    {
        int32_t index = code_registry::register_code("cdouble", reinterpret_cast<code_registry::code>(&compiled_double));
        cell* spec_block = read_code("n");
        cell none_body{TYPE_NONE, 0, 0, 0};
        function::push_new(spec_block, &none_body, 0, index, 0, 0);
        testing::set_global("cdouble", stack::last_slot());
        reset_stack();
    }
    EXPECT_EQ(evaluate("radd 2 3"), "5");
    EXPECT_EQ(evaluate("rsecond 1 \"two\""), "\"two\"");
    EXPECT_EQ(evaluate("cdouble 21"), "42");
    EXPECT_EQ(evaluate("1 + cdouble 2"), "5");
    raised e = raise_of("radd 2 \"x\"");
    EXPECT_EQ(e.code, error_catalogue::code_of(err::script_expect_arg));
    EXPECT_EQ(e.arg3, "b");
    e = raise_of("rbad 1");
    EXPECT_EQ(e.code, error_catalogue::code_of(err::script_invalid_type_spec));
}

TEST_F(InterpreterTest, ObjectChangeHandlersRunInterpretedCode) {
    testing::define_callable("make", TYPE_ACTION, ACTION_MAKE, "type spec");
    testing::define_function("watch", "word old new", "tlog word tlog old tlog new");
    testing::define_function("watch-deep", "owner word target action new index part", "tlog word tlog action");
    EXPECT_EQ(evaluate("o: make object! [a: 1 on-change*: :watch] o/a: 5 o/a"), "5");
    EXPECT_EQ(logged, (std::vector<std::string>{"a", "1", "5"}));
    logged.clear();
    reset_stack();
    EXPECT_EQ(evaluate("p: make object! [b: [1 2] on-deep-change*: :watch-deep] append p/b 3 p/b"), "[1 2 3]");
    EXPECT_EQ(logged, (std::vector<std::string>{"b", "append", "b", "appended"}));
}

TEST_F(InterpreterTest, SortCallsAComparatorFunction) {
    testing::define_callable("sort", TYPE_ACTION, ACTION_SORT,
                             "series /case /skip size /compare comparator /part length /all /reverse /stable");
    testing::define_function("descending", "a b", "a > b");
    EXPECT_EQ(evaluate("sort/compare [3 1 4 1 5] :descending"), "[5 4 3 1 1]");
    // A comparator that breaks out of an enclosing loop: the exit crosses the sort as an
    // exception and still lands in the loop.
    testing::define_function("breaking", "a b", "tbreak/return 9");
    exits_as_exceptions = 0;
    EXPECT_EQ(evaluate("tloop 3 [sort/compare [2 1] :breaking]"), "9");
    EXPECT_EQ(exits_as_exceptions, 1);
}

// --- Deep recursion --------------------------------------------------------------------------------------

struct recursion_outcome {
    int error_code = -1;
    bool completed = false;
};

int run_recursion(void* raw) {
    auto* outcome = static_cast<recursion_outcome*>(raw);
    try {
        cell* code = read_code("ttry [deep 0]");
        cell* result = stack::state.args_top;
        (void)eval::eval_block(code, false);
        if (result->is(TYPE_ERROR)) outcome->error_code = error::code_of(result);
        outcome->completed = true;
    } catch (const zor_throw&) {
    }
    return 0;
}

TEST_F(InterpreterTest, DeepRecursionRaisesACatchableStackOverflow) {
    testing::define_function("deep", "n", "deep n + 1");
    // On the interpreter's own thread (a large stack) the frame limit is reached first.
    recursion_outcome on_thread;
    platform::run_on_interpreter_thread(&run_recursion, &on_thread);
    EXPECT_TRUE(on_thread.completed);
    EXPECT_EQ(on_thread.error_code, error_catalogue::code_of(err::internal_stack_overflow));
    // On a small stack the native-depth guard raises the same error.
    reset_stack();
    recursion_outcome here;
    run_recursion(&here);
    EXPECT_TRUE(here.completed);
    EXPECT_EQ(here.error_code, error_catalogue::code_of(err::internal_stack_overflow));
    // Afterwards evaluation goes on normally.
    reset_stack();
    EXPECT_EQ(evaluate("1 + 1"), "2");
}

TEST(InterpreterDeathTest, AnUncaughtErrorPrintsTheReportAndExitsWith254) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            testing::ensure_runtime();
            stack::state.args_base = stack::state.args_top = stack::state.args_begin;
            stack::state.frames_top = stack::state.frames_begin;
            cell* code = read_code("1 never-set-anywhere");
            (void)eval::eval_block(code, false);
        },
        ::testing::ExitedWithCode(254), "");
}

}  // namespace
}  // namespace zor
