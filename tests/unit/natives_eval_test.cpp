// The evaluation and non-local exit natives (do, reduce, compose, apply, try, catch,
// throw, break, continue, exit, return) run by the interpreter through the natives
// table, each family as a table of code and expected result or error; the way do and try
// hand a caught exit back to a caller outside the interpreter; the trap ending; and the
// need-value error of case.
//
// Code is read from the interpreter tests' notation (tests/unit/code_notation.h); the
// natives under test are bound to their words with their real spec blocks. Loops come
// from the stand-in `tloop` (tests/unit/interpreter_stand_ins.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/eval/tracing.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::logged;
using testing::mold_of;
using testing::raised;
using testing::read_code;

// The error code of an entry of the catalogue, as raised{}.code reports it.
int code_of(err e) { return error_catalogue::code_of(e); }

class NativesEvalTest : public testing::interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        for (const char* name : {"any-block!", "any-function!", "any-word!"}) {
            cell types;
            ASSERT_TRUE(natives::named_typeset(name, &types));
            testing::set_global(name, &types);
        }
        for (const char* name : {"do", "reduce", "compose", "apply", "try", "catch", "throw", "break", "continue",
                                 "exit", "return", "case", "same?", "type?"}) {
            define_native(name);
        }
        testing::define_function("h", "a /r b", "reduce [a r b]");
        testing::define_function("seven", "", "7");
        testing::define_function("pick-one", "n", "if n = 1 [return 'first] 'second");
        testing::define_function("leave", "", "exit 6");
        testing::define_function("tracer", "event code offset value ref frame", "[fetch throw catch] tlog event");
        reset_stack();
        logged.clear();
    }

    // Binds the native of that name with its spec block from the natives' spec data.
    static void define_native(const char* name) {
        for (int i = 1; i <= natives::NATIVE_COUNT; ++i) {
            const natives::spec_entry* e = natives::spec_of(i);
            if (std::string(e->name) != name) continue;
            std::string spec(e->spec_text);
            testing::define_callable(name, TYPE_NATIVE, i, spec.substr(1, spec.size() - 2));
            return;
        }
        FAIL() << "no native " << name;
    }

    // Evaluates the code; answers the molded result, or "error <code>" (with the first
    // argument) for a raised error.
    std::string outcome(const std::string& code) {
        raised e = raise_of(code);
        if (e.code >= 0) return "error " + std::to_string(e.code) + " " + e.arg1;
        reset_stack();
        return evaluate(code);
    }

    // The error! value that evaluating the code gives (a slot), or null.
    cell* error_result(const std::string& text) {
        cell* code = read_code(text);
        cell* result = stack::state.args_top;
        EXPECT_EQ(eval::eval_block(code, false), 0u);
        return result->is(TYPE_ERROR) ? result : nullptr;
    }

    struct row {
        const char* code;
        std::string expected;
        const char* why;
    };

    void check(const row* rows, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const row& r = rows[i];
            reset_stack();
            logged.clear();
            EXPECT_EQ(outcome(r.code), r.expected) << r.code << (r.why[0] ? " (" : "") << r.why
                                                   << (r.why[0] ? ")" : "");
            EXPECT_EQ(stack::pending_code, 0u) << r.code;
            EXPECT_EQ(stack::frame_depth(), 0) << r.code;
            EXPECT_FALSE(tracing::active) << r.code;
        }
    }
    template <size_t N> void check(const row (&rows)[N]) { check(rows, N); }

    static std::string error(err e, const char* arg1 = "none") {
        return "error " + std::to_string(code_of(e)) + " " + arg1;
    }
};

TEST_F(NativesEvalTest, DoEvaluatesEachKindOfValue) {
    cell* paren = read_code("(1 + 2)");
    testing::set_global("par", block::get_cell(paren, 0));
    const row rows[] = {
        {"do [1 + 2]", "3", ""},
        {"do []", "unset", "an empty block gives unset"},
        {"do :par", "3", "a paren is evaluated as a block"},
        {"x: 5 do 'x", "5", "a word gives its value"},
        {"do :seven", "7", "a function value is called"},
        {"do 5", "5", ""},
        {"blk: [[5 6] 7] do 'blk/1", "[5 6]", "a path is evaluated"},
        {"do/args [1 + 1] 9", "2", "/args matters only to scripts"},
        {"e: try [never-set] do e", error(err::script_no_value, "never-set"), "an error value is raised"},
        {"do [never-set]", error(err::script_no_value, "never-set"), ""},
        {"do/expand [1]", "1", "without a preprocessor the code runs as it is"},
        {"do/next [1 + 2 3] 'pos", "3", "one expression"},
        {"do/next [1 + 2 3] 'pos pos", "[3]", "the word names the block after it"},
        {"do/next [] 'pos reduce [pos]", "[[]]", "at the tail the position stays"},
        {"do/next [] 'pos", "unset", ""},
        {"tloop 3 [do [break/return 9]]", "9", "a break passes do to its loop"},
        {"pick-one 1", "first", "a return inside if inside a function"},
        {"catch [do [throw 4] 5]", "4", "a throw passes do"},
    };
    check(rows);
}

TEST_F(NativesEvalTest, DoOfAFileNeedsTheBootEnvironmentsDoFile) {
    cell* file = stack::push_slot();
    *file = *block::get_cell(read_code("\"script.zor\""), 0);
    cell::set_type(file, TYPE_FILE);
    testing::set_global("script", file);
    reset_stack();
    // The unit tests run without the boot environment: no do-file to call.
    EXPECT_EQ(outcome("do script"), error(err::script_no_value, "do-file"));
}

TEST_F(NativesEvalTest, DoTraceDeliversTheMaskedEventsAndEndsItsSession) {
    reset_stack();
    EXPECT_EQ(evaluate("do/trace [1 + 2] :tracer"), "3");
    ASSERT_FALSE(logged.empty());
    for (const std::string& event : logged) EXPECT_EQ(event, "fetch");
    EXPECT_FALSE(tracing::active);
    EXPECT_FALSE(tracing::tracer_active);
    EXPECT_TRUE(tracing::tracer().is(TYPE_NONE));

    // throw and catch fire their events.
    reset_stack();
    logged.clear();
    EXPECT_EQ(evaluate("do/trace [catch [throw 1]] :tracer"), "1");
    std::string seen;
    for (const std::string& event : logged) seen += event == "fetch" ? "" : event + " ";
    EXPECT_EQ(seen, "throw catch ");

    // An error ends the session on its way out, also when the tracer fails at the end
    // event: that error takes the place of the first.
    testing::define_function("bad-tracer", "event code offset value ref frame", "[end] never-set-2");
    struct failing {
        const char* code;
        const char* arg1;
    };
    const failing cases[] = {
        {"do/trace [never-set] :tracer", "never-set"},
        {"do/trace [never-set] :bad-tracer", "never-set-2"},
        {"do/trace [1] :bad-tracer", "never-set-2"},
    };
    for (const failing& c : cases) {
        reset_stack();
        raised e = raise_of(c.code);
        EXPECT_EQ(e.code, code_of(err::script_no_value)) << c.code;
        EXPECT_EQ(e.arg1, c.arg1) << c.code;
        EXPECT_FALSE(tracing::active) << c.code;
        EXPECT_FALSE(tracing::tracer_active) << c.code;
        EXPECT_TRUE(tracing::tracer().is(TYPE_NONE)) << c.code;
    }
}

TEST_F(NativesEvalTest, AReturnOutOfATracedBlockReachesItsFunctionWithTracingOff) {
    // The session makes do's caller a function body; a return that stops there goes on
    // to the function once the session has ended.
    testing::define_function("traced", "", "do/trace [return 5] :tracer 6");
    testing::define_function("traced-exit", "", "do/trace [exit] :tracer 6");
    const row rows[] = {
        {"traced", "5", ""},
        {"1 + traced", "6", "the function's value takes the operand's place"},
        {"traced-exit", "unset", ""},
        {"do/trace [return 1] :tracer", error(err::throw_return), "no function to return from"},
    };
    check(rows);
}

TEST_F(NativesEvalTest, DoAndTryHandACaughtExitBackToACallerOutsideTheInterpreter) {
    struct row {
        int native;
        bool interpreter_frame;
        bool stays_pending;
    };
    const row rows[] = {
        {natives::NATIVE_DO, true, true},
        {natives::NATIVE_DO, false, false},
        {natives::NATIVE_TRY, true, true},
        {natives::NATIVE_TRY, false, false},
    };
    for (const row& r : rows) {
        reset_stack();
        stack::pending_code = 0;
        cell* body = read_code("1 break/return 8 2");
        cell* word = word::push_global(symbol::make(natives::spec_of(r.native)->name));
        stack::push_loop_frame();
        stack::frame* loop = stack::state.frames_top - 1;
        if (r.interpreter_frame) stack::push_interp_call_frame(word);
        else stack::push_call_frame(word);
        stack::push_copy(body);
        for (int i = 0; i < 4; ++i) *stack::push_slot() = cell{TYPE_NONE, 0, 0, 0};
        const int32_t absent[4] = {-1, -1, -1, -1};
        uint32_t answer = natives::call(r.native, absent, natives::refinement_count(r.native), true);
        SCOPED_TRACE(std::string(natives::spec_of(r.native)->name) + (r.interpreter_frame ? " interp" : " other"));
        EXPECT_EQ(answer, uint32_t(THROW_BREAK));
        EXPECT_EQ(last_throw_code, uint32_t(THROW_BREAK));
        EXPECT_EQ(stack::pending_code, r.stays_pending ? uint32_t(THROW_BREAK) : 0u);
        // Either way the frames are unwound to the loop, its value in place.
        EXPECT_EQ(stack::state.frames_top, loop + 1);
        EXPECT_EQ(mold_of(stack::state.args_base), "8");
        stack::pending_code = 0;
    }
}

TEST_F(NativesEvalTest, ReduceEvaluatesEachExpression) {
    const row rows[] = {
        {"reduce [1 + 2 3]", "[3 3]", ""},
        {"reduce []", "[]", ""},
        {"reduce 5", "5", ""},
        {"x: 4 reduce 'x", "4", "another value is evaluated as one expression"},
        {"same? :seven reduce :seven", "true", "a function value is returned, not called"},
        {"b: [9] reduce/into [1 + 1 3] b b", "[2 3 9]", "inserted at the index, in order"},
        {"b: [9] reduce/into [1 + 1 3] b", "[2 3 9]", "the result is out as given"},
        {"b: [] reduce/into [1 2] b b", "[1 2]", "appended at the tail"},
        {"b: [1] reduce/into 5 b b", "[5 1]", ""},
        {"b: [] reduce/into 5 b b", "[5]", ""},
        {"b: [z] reduce/into :seven b", "[func [][7] z]", "an inserted function is not called"},
        {"catch [reduce [1 throw 2 3]]", "2", "a throw leaves the reduction"},
        {"tloop 2 [reduce [break/return 6]]", "6", ""},
        {"reduce [never-set]", error(err::script_no_value, "never-set"), ""},
    };
    check(rows);
}

TEST_F(NativesEvalTest, ReduceClearsTheNewLineMarkersOfItsValues) {
    cell* code = read_code("reduce blk");
    cell* blk = read_code("1 2");
    block::get_cell(blk, 1)->header |= FLAG_NEW_LINE;
    testing::set_global("blk", blk);
    cell* result = stack::state.args_top;
    ASSERT_EQ(eval::eval_block(code, false), 0u);
    ASSERT_TRUE(result->is(TYPE_BLOCK));
    EXPECT_EQ(block::get_cell(result, 1)->header & FLAG_NEW_LINE, 0u);
}

TEST_F(NativesEvalTest, ComposeEvaluatesParens) {
    const row rows[] = {
        {"compose [a (none) ()]", "[a none]", "an empty paren vanishes"},
        {"compose [1 (1 + 1) [(2 + 1)]]", "[1 2 [(2 + 1)]]", "nested blocks are kept without /deep"},
        {"compose/deep [1 [(2 + 1) [(4)]]]", "[1 [3 [4]]]", ""},
        {"x: [1 2] compose [(x) 3]", "[1 2 3]", "a block result adds its items"},
        {"x: [1 2] compose/only [(x) 3]", "[[1 2] 3]", ""},
        {"compose [([]) 1]", "[1]", "an empty block adds nothing"},
        {"compose [(tlog 1) 2]", "[2]", "an unset result adds nothing"},
        {"b: [z] compose/into [(1 + 1) y] b", "[2 y z]", "inserted before out's index"},
        {"b: [] compose/into [(1 + 1) y] b b", "[2 y]", "appended at out's tail"},
        {"catch [compose [(throw 3)]]", "3", ""},
        {"compose [(never-set)]", error(err::script_no_value, "never-set"), ""},
        {"b: [x] append/only b b compose/deep b", error(err::internal_no_cycle, "[x [...]]"),
         "a block inside itself"},
        {"b: [x] append/only b b compose b", "[x [x [...]]]", "without /deep the block is copied as it is"},
    };
    check(rows);
}

TEST_F(NativesEvalTest, ComposeOfANonBlockNamesWhatItExpected) {
    // Reachable only without the type tests (compiled and runtime callers).
    cell* word = word::push_global(symbol::make("compose"));
    stack::push_try_frame();
    stack::push_call_frame(word);
    integer::make_in(stack::push_slot(), 5);
    for (int i = 0; i < 1; ++i) *stack::push_slot() = cell{TYPE_NONE, 0, 0, 0};
    const int32_t absent[3] = {-1, -1, -1};
    raised r;
    try {
        natives::call(natives::NATIVE_COMPOSE, absent, 3, false);
    } catch (const zor_throw& thrown) {
        ASSERT_EQ(thrown.code, uint32_t(THROW_ERROR));
        cell* e = stack::last_slot();
        r.code = error::code_of(e);
        r.arg1 = mold_of(error::field_of(e, error::FIELD_ARG1));
        r.arg2 = mold_of(error::field_of(e, error::FIELD_ARG2));
    }
    EXPECT_EQ(r.code, code_of(err::script_expect_val));
    EXPECT_EQ(r.arg1, "block!");  // "expected block! not integer!"
    EXPECT_EQ(r.arg2, "integer!");
}

TEST_F(NativesEvalTest, ApplyCallsLikeACallWrittenWithTheArguments) {
    const row rows[] = {
        // Evaluated, as the code after the function.
        {"apply :sum-of [1 + 1 3]", "5", ""},
        {"apply 'sum-of [1 2]", "3", "a word names the function"},
        {"apply 'h/r [1 2]", "[1 true 2]", "a path's refinements are used"},
        {"apply :h [1 2]", "[1 false none]", "values after the arguments are not taken"},
        {"apply :+ [1 2]", "3", "an op! is called as its source"},
        {"apply :equal? [1 1]", "true", "a native"},
        {"apply :pick-one [1]", "first", "a return ends only the applied function"},
        {"apply :h [1]", "[1 false none]", ""},
        {"apply :sum-of [1]", error(err::script_no_arg, "<applied>"), ""},
        // /all: every argument and refinement, not evaluated.
        {"apply/all :h [1 true 2]", "[1 true 2]", ""},
        {"apply/all :h [1 false 5]", "[1 false none]", "an unused refinement's arguments stay none"},
        {"apply/all :h [1]", "[1 false none]", "missing refinements are unused"},
        {"apply/all :h [x true y]", "[x true y]", "values are taken as they are"},
        {"apply/all 'h [1 true]", error(err::script_no_arg, "h"), "a used refinement needs its argument"},
        {"apply/all 'h/r [1 true 2]", error(err::script_bad_refines), "refinements come from args"},
        {"apply/all 'typed [\"a\"]", error(err::script_expect_arg, "typed"), "types are tested"},
        // /safer: the argument values, not evaluated.
        {"apply/safer :h [x]", "[x false none]", ""},
        {"apply/safer 'h/r [x y]", "[x true y]", ""},
        {"apply/safer 'h/r [1]", error(err::script_no_arg, "h"), ""},
        {"apply/safer 'h/q [1]", error(err::script_no_refine, "h"), ""},
        {"apply/safer 'h/r/r [1 2 3]", error(err::script_dup_refine, "h/r/r"), ""},
        {"apply/safer :sum-of [1]", error(err::script_no_arg, "<applied>"), ""},
        {"apply/safer :opt []", "unset", "an optional literal argument may be missing"},
        {"r: false apply/safer 'h/:r [1]", "[1 false none]", "a get-word refinement follows its value"},
        // Not functions.
        {"x: 5 apply 'x [1]", error(err::script_invalid_arg, "x"), ""},
        {"apply 'blk/1 []", error(err::script_invalid_arg, "blk/1"), ""},
    };
    check(rows);
}

TEST_F(NativesEvalTest, TryReturnsTheErrorItCaught) {
    testing::define_function("ret-try", "", "try/all [return 1] 2");
    testing::define_function("ret-through-try", "", "try [return 1] 2");
    const row rows[] = {
        {"try [1 + 2]", "3", ""},
        {"type? try [1 + none]", "error!", "a raised error is the value"},
        {"e: try [1 + none] type? try [e]", "error!", "an error value is the value"},
        {"1 + try [2]", "3", ""},
        {"tloop 3 [try [break/return 4]]", "4", "a break passes try"},
        {"catch [try [throw 3]]", "3", "a throw passes try"},
        {"ret-through-try", "1", "a return passes try"},
        {"ret-try", "2", "try/all stops the return's search: the error is caught"},
        {"type? tloop 1 [try/all [break]]", "error!", ""},
        {"catch [type? try/all [throw 1]]", "error!", "the barrier stops throws too"},
    };
    check(rows);

    reset_stack();
    cell* e = error_result("tloop 1 [try/all [break]]");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(error::code_of(e), code_of(err::throw_break));
    reset_stack();
    e = error_result("catch [try/all [throw 1]]");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(error::code_of(e), code_of(err::throw_throw));
}

TEST_F(NativesEvalTest, TryKeepFillsTheStackFieldWithTheCallTrail) {
    struct row {
        const char* code;
        type_id stack_field;
    };
    const row rows[] = {
        {"try [id 1 + none]", TYPE_INTEGER},
        {"try/keep [id 1 + none]", TYPE_BLOCK},
        {"try/all/keep [id 1 + none]", TYPE_BLOCK},
    };
    for (const row& r : rows) {
        reset_stack();
        cell* e = error_result(r.code);
        ASSERT_NE(e, nullptr) << r.code;
        EXPECT_EQ(error::field_of(e, error::FIELD_STACK)->type(), r.stack_field) << r.code;
    }
}

TEST_F(NativesEvalTest, FinishTrapKeepsAllButAThrowWithNoCatch) {
    struct row {
        const char* code;  // raises the error the trap finishes
        bool raised_again;
    };
    const row rows[] = {
        {"1 + none", false},
        {"throw 1", true},
    };
    for (const row& r : rows) {
        reset_stack();
        cell* code = read_code(r.code);
        cell* outer_base = stack::state.args_base;
        stack::push_try_frame();  // the outer catch of a trap raised again
        stack::push_call_frame(nullptr);
        cell* trap_base = stack::state.args_base;
        stack::push_try_frame();
        bool again = false;
        try {
            try {
                (void)eval::eval_block(code, true);
                FAIL() << r.code;
            } catch (const zor_throw& thrown) {
                ASSERT_EQ(thrown.code, uint32_t(THROW_ERROR));
                ASSERT_EQ(stack::state.args_base, trap_base);
                natives::finish_trap(true);
            }
        } catch (const zor_throw& thrown) {
            ASSERT_EQ(thrown.code, uint32_t(THROW_ERROR));
            again = true;
            EXPECT_EQ(stack::state.args_base, outer_base);
        }
        EXPECT_EQ(again, r.raised_again) << r.code;
        if (!again) {
            ASSERT_TRUE(stack::result_slot()->is(TYPE_ERROR));
            EXPECT_EQ(error::field_of(stack::result_slot(), error::FIELD_STACK)->type(), TYPE_BLOCK);
        }
    }
}

TEST_F(NativesEvalTest, CatchTakesTheThrowsOfItsNames) {
    const row rows[] = {
        {"catch [throw 1]", "1", ""},
        {"catch [1 2]", "2", "without a throw the block's value"},
        {"catch [throw/name 1 'a]", "1", "an unnamed catch takes every throw"},
        {"catch/name [throw/name 1 'a] 'a", "1", ""},
        {"catch/name [throw/name 1 'A] 'a", "1", "names match without regard to case"},
        {"catch/name [throw/name 1 'b] [a b]", "1", "one of a block of names"},
        {"catch/name [catch/name [throw/name 1 'b] 'a 2] 'b", "1", "a catch of another name is passed"},
        {"catch [catch/name [throw 5] 'a 6]", "5", "an unnamed throw passes a named catch"},
        {"catch/name [throw/name 1 'c] [a b]", error(err::throw_throw, "1"),
         "no catch takes it: raised at the throw"},
        {"try [catch/name [throw/name 1 'c] 'a] 7", "7", "the error is caught like any other"},
        {"throw 1", error(err::throw_throw, "1"), ""},
        {"catch/name [1] [a 1]", error(err::script_invalid_refine_arg, "name"), "names are words"},
        {"1 + catch [throw 2]", "3", "the stack is cut to the thrown value"},
        {"reduce [catch [throw 1] 5]", "[1 5]", ""},
        {"catch [tloop 3 [throw 4]]", "4", "a throw passes loops"},
        {"tloop 2 [catch [break/return 9]]", "9", "a break passes a catch"},
        {"n: 0 catch/name [tloop 3 [n: n + catch/name [throw/name 1 'in] 'in]] 'out n", "3", ""},
    };
    check(rows);
}

TEST_F(NativesEvalTest, TheLoopAndFunctionExitsLandAtTheirFrames) {
    testing::define_function("r1", "", "return 5 6");
    testing::define_function("ret-catch", "", "catch [return 5] 6");
    testing::define_function("break-out", "", "break");
    const row rows[] = {
        {"tloop 3 [break]", "unset", ""},
        {"tloop 3 [break/return 5]", "5", ""},
        {"n: 0 tloop 3 [n: n + 1 continue n: 100] n", "3", ""},
        {"r1", "5", ""},
        {"1 + r1", "6", ""},
        {"leave", "unset", "exit returns nothing"},
        {"ret-catch", "5", "a return passes a catch"},
        {"tloop 2 [break-out 3]", "unset", "a break out of a function ends the caller's loop"},
        {"break", error(err::throw_break), "no loop"},
        {"continue", error(err::throw_continue), ""},
        {"return 1", error(err::throw_return), "no function"},
        {"exit", error(err::throw_return), ""},
        {"type? tloop 1 [try/all [continue]]", "error!", "a barrier stops the search"},
    };
    check(rows);
}

TEST_F(NativesEvalTest, CaseNamesTheConditionThatHasNoValue) {
    struct row {
        const char* code;
        const char* arg1;
    };
    const row rows[] = {
        {"case [true]", "true"},
        {"case [false [1] 1 < 2]", "[1 < 2]"},
        {"case/all [true [1] none]", "none"},
    };
    for (const row& r : rows) {
        reset_stack();
        raised e = raise_of(r.code);
        EXPECT_EQ(e.code, code_of(err::script_need_value)) << r.code;
        EXPECT_EQ(e.arg1, r.arg1) << r.code;
    }
}

}  // namespace
}  // namespace zor
