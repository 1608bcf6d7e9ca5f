// The loop natives (while, until, loop, repeat, forever, foreach, forall, remove-each):
// their values after a normal end, a break and a break with a value, the counts, the
// series walks and their word assignments, the errors, how the exits of a body land
// through them, and the step operations that compiled loops call, on a hand-built
// iteration state.
//
// Code is read from the notation of tests/unit/code_notation.h; break, continue, return
// and throw are the interpreter tests' stand-ins (tbreak, treturn, tthrow, tcatch, ttry,
// topaque), which use the stack module's exits exactly as the later natives do.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::define_callable;
using testing::define_function;
using testing::exits_as_exceptions;
using testing::logged;
using testing::mold_of;
using testing::raised;
using testing::read_code;
using testing::set_global;

std::string error_text(err e) { return "error " + std::to_string(error_catalogue::code_of(e)); }

class NativesLoops : public testing::interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        // The loops with their own specs' argument kinds; natives::call tests the types
        // against the real spec data, so any-type! stands for series! here.
        define_callable("while", TYPE_NATIVE, natives::NATIVE_WHILE, "cond [block!] body [block!]");
        define_callable("until", TYPE_NATIVE, natives::NATIVE_UNTIL, "body [block!]");
        define_callable("loop", TYPE_NATIVE, natives::NATIVE_LOOP, "count [any-type!] body [block!]");
        define_callable("repeat", TYPE_NATIVE, natives::NATIVE_REPEAT,
                        "'word [any-type!] value [any-type!] body [block!]");
        define_callable("forever", TYPE_NATIVE, natives::NATIVE_FOREVER, "body [block!]");
        define_callable("foreach", TYPE_NATIVE, natives::NATIVE_FOREACH,
                        "'word [any-type!] series [any-type!] body [block!]");
        define_callable("forall", TYPE_NATIVE, natives::NATIVE_FORALL, "'word [any-type!] body [block!]");
        define_callable("remove-each", TYPE_NATIVE, natives::NATIVE_REMOVE_EACH,
                        "'word [any-type!] data [any-type!] body [block!]");
        define_callable("index?", TYPE_ACTION, ACTION_INDEX_Q, "series");
        define_callable("next", TYPE_ACTION, ACTION_NEXT, "series");
        define_callable("head", TYPE_ACTION, ACTION_HEAD, "series");
        define_callable("even?", TYPE_ACTION, ACTION_EVEN_Q, "value");
        define_callable("make", TYPE_ACTION, ACTION_MAKE, "type spec");
        define_globals_of_other_types();
    }

    // Values the notation cannot write: a paren, a hash!, a char!, a block holding an
    // unset! item.
    void define_globals_of_other_types() {
        cell* code = read_code("(1 2) [10 20 30]");
        set_global("p", block::get_cell(code, 0));
        cell* h = stack::push_copy(block::get_cell(code, 1));
        hash::make_in_place(h);
        set_global("h", h);
        set_global("bee", char_::push('b'));
        cell* with_unset = block::push_empty(4);
        block::append_copy(with_unset, integer::push(1));
        cell unset_cell{TYPE_UNSET, 0, 0, 0};
        block::append_copy(with_unset, &unset_cell);
        set_global("u", with_unset);
        reset_stack();
    }

    // Evaluates a row and checks that it left nothing behind: no exit pending, no frame.
    std::string outcome(const std::string& code) {
        reset_stack();
        raised e = raise_of(code);
        if (e.code >= 0) return "error " + std::to_string(e.code);
        reset_stack();
        std::string result = evaluate(code);
        EXPECT_EQ(stack::pending_code, 0u) << code;
        EXPECT_EQ(stack::frame_depth(), 0) << code;
        return result;
    }

    struct row {
        const char* code;
        std::string expected;
        const char* why;
    };
    void check_rows(const std::vector<row>& rows) {
        for (const row& r : rows) EXPECT_EQ(outcome(r.code), r.expected) << r.code << " (" << r.why << ")";
    }

    // Runs the code and answers what it logged (tlog).
    std::vector<std::string> log_of(const std::string& code) {
        logged.clear();
        reset_stack();
        evaluate(code);
        return logged;
    }
};

using strings = std::vector<std::string>;

// --- What each loop gives -----------------------------------------------------------------------

TEST_F(NativesLoops, WhileAndUntilTestTheirConditionsStrictly) {
    check_rows({
        {"n: 0 while [n < 3] [n: n + 1] n", "3", ""},
        {"n: 0 while [n < 3] [n: n + 1]", "unset", "a while that ends by its condition gives unset"},
        {"while [false] [undefined-word]", "unset", "the body never runs"},
        {"while [none] [1]", "unset", ""},
        {"n: 0 m: 0 while [n < 4] [n: n + 1 if n > 2 [tbreak/continue] m: m + 1] m", "2",
         "continue goes back to the condition"},
        {"while [tlog 1] [2]", error_text(err::script_no_return), "an unset condition"},
        {"while [tbreak] [1]", error_text(err::throw_while_cond), "break in the condition"},
        {"while [tbreak/continue] [1]", error_text(err::throw_while_cond), "continue in the condition"},
        {"n: 0 until [n: n + 1 n = 3]", "true", "the true value ends until and is its value"},
        {"n: 0 until [n: n + 1 n = 3] n", "3", ""},
        {"until [5]", "5", ""},
        {"until [tlog 1]", error_text(err::script_no_return), "an unset body value"},
        // The passes ended by continue hold unset!, which the test would refuse.
        {"n: 0 until [n: n + 1 if n < 3 [tbreak/continue] n]", "3", "a continued pass is not tested"},
        {"n: 0 until [n: n + 1 if n = 2 [tbreak/return 'out] false]", "out", ""},
    });
}

TEST_F(NativesLoops, LoopAndRepeatCountAndTruncateTheirCounts) {
    check_rows({
        {"n: 0 loop 3 [n: n + 1]", "3", "the last value of the body"},
        {"n: 0 loop 2.9 [n: n + 1]", "2", "a float count is truncated"},
        {"loop 0 [undefined-word]", "none", "no pass: none without evaluating"},
        {"loop -1 [undefined-word]", "none", ""},
        {"loop -2.9 [undefined-word]", "none", "truncated toward zero, then below 1"},
        {"loop 0.9 [undefined-word]", "none", ""},
        {"loop 5000000000.0 [1]", error_text(err::script_out_of_range), "no 32-bit count holds it"},
        {"loop \"3\" [1]", error_text(err::script_expect_arg), ""},
        {"n: 0 loop 3 [n: n + 1 tbreak/continue]", "unset", "a continued last pass leaves unset"},
        {"repeat i 3 [i]", "3", ""},
        {"repeat i 3 [i] i", "3", "the word keeps the last counter value"},
        {"repeat i 0 [undefined-word]", "none", ""},
        {"repeat i 2.5 [i]", "2", ""},
        {"repeat i -1.5 [undefined-word]", "none", ""},
        {"n: 0 repeat i 3 [n: n + 1 i: 10] n", "3", "changing the word changes not the count"},
        {"s: 0 repeat i 3 [s: s + i i: 100] s", "6", "nor the next counter value"},
        {"repeat i 4 [if i > 2 [tbreak] i] i", "3", "after a break the word keeps its value"},
        {"repeat 5 3 [1]", error_text(err::script_expect_arg), "the word must be a word"},
        {"n: 0 forever [n: n + 1 if n = 4 [tbreak/return n]]", "4", ""},
        {"n: 0 forever [n: n + 1 if n < 3 [tbreak/continue] tbreak/return n]", "3", ""},
    });
    EXPECT_EQ(log_of("loop 2.9 [tlog 1]"), strings({"1", "1"}));
    EXPECT_EQ(log_of("repeat i 3 [tlog i]"), strings({"1", "2", "3"}));
}

TEST_F(NativesLoops, EveryLoopKeepsTheValueOfABreak) {
    // Each loop written around an exit (% stands for the body), after its set-up code.
    struct loop_form {
        const char* setup;
        const char* loop;
    } loops[] = {
        {"", "while [true] [%]"}, {"", "until [%]"},           {"", "loop 3 [%]"},
        {"", "repeat i 3 [%]"},   {"", "forever [%]"},         {"", "foreach x [1 2 3] [%]"},
        {"s: [1 2 3]", "forall s [%]"},
    };
    for (const loop_form& form : loops) {
        SCOPED_TRACE(form.loop);
        auto around = [&form](const std::string& body, const char* before = " ") {
            std::string loop = form.loop;
            return std::string(form.setup) + before + loop.replace(loop.find('%'), 1, body);
        };
        EXPECT_EQ(outcome(around("tbreak/return 5")), "5");
        EXPECT_EQ(outcome(around("tbreak")), "unset");
        EXPECT_EQ(outcome(around("tbreak/return 5", " 1 + ")), "6") << "the value takes the loop's place";
        EXPECT_EQ(outcome("tcatch [" + around("tthrow 6") + "]"), "6") << "a throw passes the loop";
        define_function("leaver", "", around("treturn 7") + " 0");
        EXPECT_EQ(outcome("leaver"), "7") << "a return passes the loop";
        EXPECT_EQ(outcome(around("topaque [tbreak/return 8]")), "8") << "a break that crossed C++ code";
        EXPECT_EQ(outcome("n: 0 " + around("n: n + 1 loop 5 [tbreak] tbreak/return n")), "1")
            << "a break leaves only the innermost loop";
    }
    // remove-each gives its series, whatever its body does.
    EXPECT_EQ(outcome("remove-each x [1 2 3] [tbreak/return 5]"), "[1 2 3]");
    EXPECT_EQ(outcome("remove-each x [1 2 3] [tbreak]"), "[1 2 3]");
    EXPECT_EQ(outcome("tcatch [remove-each x [1 2 3] [tthrow 6]]"), "6");
    define_function("leaver", "", "remove-each x [1 2 3] [treturn 7] 0");
    EXPECT_EQ(outcome("leaver"), "7");
    define_function("leaver", "", "while [treturn 3] [1] 0");
    EXPECT_EQ(outcome("leaver"), "3") << "a return in while's condition passes on";
}

TEST_F(NativesLoops, DirectBreaksAndContinuesNeedNoCppException) {
    // The stand-in catch points count the exits that reach them as exceptions; a loop
    // inside one must take its own break before it gets that far.
    for (const char* code : {"tcatch [loop 3 [tbreak]] 1", "tcatch [foreach x [1 2] [tbreak/continue]] 1",
                             "tcatch [while [true] [tbreak/return 2]] 1"}) {
        exits_as_exceptions = 0;
        EXPECT_EQ(outcome(code), "1") << code;
        EXPECT_EQ(exits_as_exceptions, 0) << code;
    }
}

TEST_F(NativesLoops, ABreakInsideTryAllStopsAtTheBarrier) {
    reset_stack();
    cell* code = read_code("loop 2 [ttry/all [tbreak]]");
    cell* result = stack::state.args_top;
    ASSERT_EQ(eval::eval_block(code, false), 0u);
    ASSERT_TRUE(result->is(TYPE_ERROR));
    EXPECT_EQ(error::code_of(result), error_catalogue::code_of(err::throw_break));
}

// --- Series loops -------------------------------------------------------------------------------

TEST_F(NativesLoops, ForeachWalksEverySeriesKind) {
    check_rows({
        {"foreach x [1 2 3] [x]", "3", ""},
        {"foreach x [] [undefined-word]", "unset", "an empty series"},
        {"foreach x next next next [1 2 3] [undefined-word]", "unset", "a series at its tail"},
        {"foreach [a b] [1 2 3 4] [a + b]", "7", ""},
        {"b: [1 2 3] foreach x b [1] index? b", "1", "the argument's index is not moved"},
        {"foreach x \"ab\" [x]", "#\"b\"", ""},
        {"foreach x [1 2] [tbreak/return x * 5]", "5", ""},
        {"foreach x [1 2 3] [if x = 2 [tbreak/continue] x]", "3", ""},
        {"foreach x [1 2] [if x = 2 [tbreak/continue] x]", "unset", ""},
        {"foreach [a b:] [1 2] [b]", "2", "a set-word in the word block is assigned"},
        {"foreach [a :b] [1 2] [b]", "2", "so is a get-word"},
        {"foreach [] [1 2] [1]", error_text(err::script_invalid_arg), "an empty word block"},
        {"foreach [a 1] [1 2] [1]", error_text(err::script_invalid_arg), "a non-word entry"},
        {"foreach [a /b] [1 2] [1]", error_text(err::script_invalid_arg), ""},
        {"foreach x 5 [1]", error_text(err::script_expect_arg), ""},
        {"foreach 5 [1] [1]", error_text(err::script_expect_arg), ""},
        {"a: 0 foreach [a b] u [1]", error_text(err::script_need_value), "an unset item"},
    });
    EXPECT_EQ(log_of("foreach [a b] [1 2 3] [tlog a tlog b]"), strings({"1", "2", "3", "none"}));
    EXPECT_EQ(log_of("foreach [a b] \"abc\" [tlog a tlog b]"), strings({"#\"a\"", "#\"b\"", "#\"c\"", "none"}));
    EXPECT_EQ(log_of("foreach x next [1 2 3] [tlog x]"), strings({"2", "3"}));
    EXPECT_EQ(log_of("foreach x p [tlog x]"), strings({"1", "2"})) << "a paren";
    EXPECT_EQ(log_of("foreach x h [tlog x]"), strings({"10", "20", "30"})) << "a hash!";
    EXPECT_EQ(log_of("foreach [a b] h [tlog b]"), strings({"20", "none"}));
    EXPECT_EQ(log_of("foreach x 'p/q/r [tlog x]"), strings({"p", "q", "r"})) << "a path";
    // The unset! item is refused before any word of that step is assigned.
    reset_stack();
    raise_of("a: 0 b: 0 foreach [a b] u [1]");
    EXPECT_EQ(evaluate("a"), "0");
}

TEST_F(NativesLoops, ForeachOverAMapNeedsTwoWords) {
    cell* pairs = stack::push_copy(block::get_cell(read_code("[k 1 j 2]"), 0));
    cell* m = stack::push_slot();
    map::make_at(m, pairs, 4);
    set_global("m", m);
    check_rows({
        {"foreach x m [1]", error_text(err::script_invalid_arg), "one word"},
        {"foreach [a b c] m [1]", error_text(err::script_invalid_arg), "three words"},
        {"foreach [k v] m [v]", "2", "key and value"},
    });
    set_global("m", &none::value);
}

TEST_F(NativesLoops, ForallStepsTheWordAndPutsItBack) {
    check_rows({
        {"s: [1 2 3] forall s [s]", "[3]", "the body sees the word at each position"},
        {"s: [1 2 3] forall s [1] index? s", "1", "a normal end restores the original position"},
        {"s: next [1 2 3] forall s [1] index? s", "2", "... the position it had"},
        {"s: [1 2 3] forall s [if s = [2 3] [tbreak]] index? s", "2", "a break leaves the word where it was"},
        {"s: [1 2 3] forall s [if s = [2 3] [tbreak/return 9]]", "9", ""},
        {"s: [] forall s [undefined-word]", "unset", "an empty series: the body never runs"},
        {"s: [1 2 3 4] forall s [s: next s] index? s", "1", "the body may move the word"},
        {"s: [1 2] forall s [s: [9 9]]", error_text(err::script_bad_loop_series), "another series"},
        {"s: [1 2] forall s [s: 5]", error_text(err::script_bad_loop_series), "no series at all"},
        {"x: 5 forall x [1]", error_text(err::script_expect_arg), ""},
        {"forall never-set-anywhere [1]", error_text(err::script_no_value), ""},
    });
    EXPECT_EQ(log_of("s: \"abc\" forall s [tlog s]"), strings({"\"abc\"", "\"bc\"", "\"c\""}));
    EXPECT_EQ(log_of("s: [1 2 3 4] forall s [tlog s s: next s]"), strings({"[1 2 3 4]", "[3 4]"}));
    EXPECT_EQ(log_of("s: [1 2 3] n: 0 forall s [n: n + 1 if n < 3 [tbreak/continue] tlog s]"), strings({"[3]"}));
    reset_stack();
    raised e = raise_of("s: [1 2] forall s [s: [9 9]]");
    EXPECT_EQ(e.arg1, "[9 9]") << "the error names the value found";
    e = raise_of("x: 5 forall x [1]");
    EXPECT_EQ(e.arg1, "forall");
    EXPECT_EQ(e.arg2, "integer!");
    EXPECT_EQ(e.arg3, "'word");
}

TEST_F(NativesLoops, RemoveEachRemovesInPlaceAndAnswersTheWholeSeries) {
    check_rows({
        {"b: [1 2 3 4] remove-each x b [x > 2]", "[1 2]", ""},
        {"b: [1 2 3 4] remove-each x b [even? x] b", "[1 3]", "the series itself changed"},
        {"remove-each x [1 2 3] [tlog x]", "[]", "an unset value removes"},
        {"remove-each x [1 2 3] [none]", "[1 2 3]", ""},
        {"remove-each x [1 2 3] [false]", "[1 2 3]", ""},
        {"remove-each x [1 2 3] [0]", "[]", "any other value removes"},
        {"remove-each [a b] [1 2 3 4 5] [a = 3]", "[1 2 5]", "a step of two words removes two items"},
        {"remove-each [a b] [1 2 3] [b = none]", "[1 2]", "the short last step removes what it has"},
        {"b: next [1 2 3 4] remove-each x b [x = 3]", "[2 4]", "the result keeps the argument's index"},
        {"b: next [1 2 3 4] remove-each x b [x = 3] head b", "[1 2 4]", ""},
        {"remove-each x [1 2 3 4] [if x = 3 [tbreak] true]", "[3 4]", "a break keeps what was removed"},
        {"remove-each x [1 2 3] [if x = 2 [tbreak/continue] true]", "[2]", "continue skips the removal"},
        {"remove-each c \"abcb\" [c = bee]", "\"ac\"", ""},
        {"remove-each x h [x = 20]", "make hash! [10 30]", ""},
        {"remove-each [] [1] [1]", error_text(err::script_invalid_arg), ""},
        {"remove-each x 5 [1]", error_text(err::script_expect_arg), ""},
    });
    // An error in a later pass leaves the removals already made, and nothing more.
    reset_stack();
    EXPECT_EQ(evaluate("b: [1 2 3 4] ttry [remove-each x b [if x = 3 [undefined-word] true]] b"), "[3 4]");
}

TEST_F(NativesLoops, RepeatAssignsThroughTheWordsOwnContext) {
    define_function("watch", "word old new", "tlog word tlog old tlog new");
    reset_stack();
    evaluate("o: make object! [i: 0 on-change*: :watch code: [repeat i 2 [i]]]");
    logged.clear();
    reset_stack();
    EXPECT_EQ(evaluate("if true o/code"), "2");
    EXPECT_EQ(logged, strings({"i", "0", "1", "i", "1", "2"})) << "an object field fires its handler";
    // A function's own word is not made local by repeat: the global one is assigned.
    define_function("counts", "", "repeat k 2 [k]");
    reset_stack();
    EXPECT_EQ(evaluate("k: 0 counts k"), "2");
}

// --- The step operations ------------------------------------------------------------------------

class LoopSteps : public NativesLoops {
protected:
    // Builds the iteration state of a series loop from two values written in the
    // notation (the series, then the word or block of words): the step size, the series
    // copy, the word, the loop frame with unset! in its result slot. A try frame below it
    // all takes the errors of the steps (see error_of).
    void open(const std::string& series_and_word) {
        open_try();
        cell* values = read_code(series_and_word);
        integer::push(1);
        stack::push_copy(block::get_cell(values, 0));
        stack::push_copy(block::get_cell(values, 1));
        stack::push_loop_frame();
        cell::init_unset(stack::push_slot());
        top_ = stack::state.args_top;
    }
    void open_try() {
        reset_stack();
        stack::push_try_frame();
    }
    // The code of the error the step raises (-1 for none). The try frame is gone
    // afterwards: open again before the next step.
    template <typename Step> int error_of(Step&& step) {
        try {
            step();
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            return error::code_of(stack::last_slot());
        }
        return -1;
    }
    cell* copy_cell() { return stack::state.args_base - 2; }
    std::string value_of(const char* name) {
        cell* w = word::push_global(symbol::make(name));
        std::string text = mold_of(word::get_value(w));
        stack::drop_slots(1);
        return text;
    }
    // The steps leave the frame's result slot and the argument top alone.
    void expect_state_kept() {
        EXPECT_EQ(stack::state.args_top, top_);
        EXPECT_TRUE(stack::result_slot()->is(TYPE_UNSET));
    }
    cell* top_ = nullptr;
};

TEST_F(LoopSteps, ForeachSetWordStepsUntilTheEnd) {
    struct row {
        const char* state;
        strings values;
    } rows[] = {
        {"[1 2] x", {"1", "2"}},
        {"\"ab\" x", {"#\"a\"", "#\"b\""}},
        {"[] x", {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.state);
        open(r.state);
        strings seen;
        while (natives::foreach_set_word()) {
            seen.push_back(value_of("x"));
            expect_state_kept();
        }
        EXPECT_EQ(seen, r.values);
        EXPECT_EQ(zor::series::index_of(copy_cell()), int32_t(r.values.size()));
        EXPECT_FALSE(natives::foreach_set_word()) << "at the end it stays at the end";
    }
}

TEST_F(LoopSteps, ForeachSetWordsAssignsAStepOfWords) {
    struct row {
        const char* state;
        int n;
        strings values;  // a then b after each step
    } rows[] = {
        {"[1 2 3] [a b]", 2, {"1 2", "3 none"}},
        {"\"abc\" [a b]", 2, {"#\"a\" #\"b\"", "#\"c\" none"}},
        {"[1 2] [a b]", 0, {}},  // no words: no step
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.state);
        open(r.state);
        strings seen;
        while (natives::foreach_set_words(r.n)) {
            seen.push_back(value_of("a") + " " + value_of("b"));
            expect_state_kept();
        }
        EXPECT_EQ(seen, r.values);
    }
    open("[1 2] [a 5]");
    cell* copy = copy_cell();
    EXPECT_EQ(error_of([] { natives::foreach_set_words(2); }), error_catalogue::code_of(err::script_invalid_arg));
    EXPECT_EQ(zor::series::index_of(copy), 0) << "a refused step does not advance";
    open("[] [a b]");
    *copy_cell() = *word::get_value(word::push_global(symbol::make("u")));  // [1 unset]
    stack::drop_slots(1);
    EXPECT_EQ(error_of([] { natives::foreach_set_words(2); }), error_catalogue::code_of(err::script_need_value));
}

TEST_F(LoopSteps, RemoveEachStepRemovesOnlyForATrueValue) {
    struct row {
        const char* state;
        cell body_value;
        const char* left;
        int32_t index;  // the copy's index after the step
    } rows[] = {
        {"[1 2 3] x", logic::true_value, "[2 3]", 0},
        {"[1 2 3] x", none::value, "[1 2 3]", 1},
        {"[1 2 3] x", logic::false_value, "[1 2 3]", 1},
        {"[1 2 3] x", cell{TYPE_UNSET, 0, 0, 0}, "[2 3]", 0},
    };
    for (const row& r : rows) {
        open(r.state);
        ASSERT_TRUE(natives::foreach_set_word());
        *stack::result_slot() = r.body_value;
        natives::remove_each_step(1);
        EXPECT_EQ(stack::state.args_top, top_);
        cell whole = *copy_cell();
        whole.w1 = 0;
        EXPECT_EQ(mold_of(&whole), r.left) << mold_of(&r.body_value);
        EXPECT_EQ(zor::series::index_of(copy_cell()), r.index);
    }
    // A step of two words removes both, with /part from the step size.
    open("[1 2 3 4] [a b]");
    EXPECT_EQ(natives::store_word_count(), 2);
    EXPECT_EQ(mold_of(stack::state.args_base - 3), "2");
    ASSERT_TRUE(natives::foreach_set_words(2));
    *stack::result_slot() = logic::true_value;
    natives::remove_each_step(2);
    EXPECT_EQ(mold_of(copy_cell()), "[3 4]");
    open("[1] x");
    EXPECT_EQ(natives::store_word_count(), 1);
}

TEST_F(LoopSteps, ForallStepsTheWordsValueInPlace) {
    open("[1 2 3] s");
    natives::forall_set_word();
    EXPECT_EQ(value_of("s"), "[1 2 3]");
    EXPECT_FALSE(natives::forall_at_end(false));
    EXPECT_FALSE(natives::forall_at_end(true));
    EXPECT_EQ(value_of("s"), "[2 3]");
    natives::restore_series_index();
    EXPECT_EQ(zor::series::index_of(copy_cell()), 1) << "the copy follows the word";
    EXPECT_FALSE(natives::forall_at_end(true));
    EXPECT_TRUE(natives::forall_at_end(true));
    EXPECT_EQ(value_of("s"), "[]");
    // Another series, or none at all, in the word.
    for (const char* other : {"s: [1 2 3]", "s: 5"}) {
        reset_stack();
        evaluate(other);
        open("[1 2 3] s");
        EXPECT_EQ(error_of([] { natives::forall_at_end(true); }), error_catalogue::code_of(err::script_bad_loop_series))
            << other;
        open("[1 2 3] s");
        EXPECT_EQ(error_of([] { natives::restore_series_index(); }),
                  error_catalogue::code_of(err::script_bad_loop_series)) << other;
    }
}

TEST_F(LoopSteps, LoopCountToIntegerTruncatesTowardZero) {
    struct row {
        double count;
        const char* expected;
    } rows[] = {
        {2.9, "2"}, {-2.9, "-2"}, {0.5, "0"}, {2147483647.0, "2147483647"}, {-2147483648.0, "-2147483648"},
        {2147483648.0, nullptr}, {1e20, nullptr}, {std::nan(""), nullptr},
    };
    for (const row& r : rows) {
        open_try();
        cell* count = stack::push_slot();
        float_::init_cell(count, r.count);
        count->header |= 0x40000000;  // a new-line marker does not survive
        stack::state.args_base = count;
        if (r.expected) {
            natives::loop_count_to_integer();
            EXPECT_EQ(count->header, uint32_t(TYPE_INTEGER)) << r.count;
            EXPECT_EQ(mold_of(count), r.expected);
        } else {
            EXPECT_EQ(error_of([] { natives::loop_count_to_integer(); }),
                      error_catalogue::code_of(err::script_out_of_range)) << r.count;
        }
    }
    open_try();
    cell* count = integer::push(7);
    stack::state.args_base = count;
    natives::loop_count_to_integer();
    EXPECT_EQ(mold_of(count), "7");
}

TEST_F(LoopSteps, RepeatBumpIncrementsTheCounterWord) {
    reset_stack();
    evaluate("k: 5");
    cell* k = word::push_global(symbol::make("k"));
    natives::repeat_bump(k);
    EXPECT_EQ(value_of("k"), "6");
    evaluate("k: 2147483647");
    EXPECT_EQ(testing::raised_code([k] { natives::repeat_bump(k); }), error_catalogue::code_of(err::math_overflow));
    evaluate("k: \"x\"");
    EXPECT_EQ(testing::raised_code([k] { natives::repeat_bump(k); }), error_catalogue::code_of(err::script_invalid_arg));
    // An object's counter is assigned again, so its change handler sees the new value.
    define_function("watch", "word old new", "tlog word tlog old tlog new");
    reset_stack();
    evaluate("o: make object! [i: 1 on-change*: :watch]");
    cell* o = stack::push_copy(word::get_value(word::push_global(symbol::make("o"))));
    cell* i = word::push_global(symbol::make("i"));
    ASSERT_GE(context::bind_word(o->w1, i), 0);
    logged.clear();
    natives::repeat_bump(i);
    EXPECT_EQ(logged, strings({"i", "2", "2"}));
    EXPECT_EQ(mold_of(word::get_value(i)), "2");
}

}  // namespace
}  // namespace zor
