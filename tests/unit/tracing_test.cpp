// Tracing events: which events the interpreter reports for small programs and in what
// order, the event mask taken from the tracer's body, the arguments each event carries,
// and the switches that silence tracing (no-trace functions, callbacks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/eval/interpreter.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/tracing.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::logged;
using testing::mold_of;
using testing::read_code;

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : " ") + line;
    return text;
}

class TracingTest : public testing::interpreter_fixture {
protected:
    // Runs the code under a tracer with the body given; answers what the tracer logged.
    std::string traced(const std::string& tracer_body, const std::string& code_text) {
        testing::define_function("tracer", "event code offset value ref frame", tracer_body);
        cell* w = word::push_global(symbol::make("tracer"));
        cell* tracer = stack::push_copy(word::get_value(w));
        cell* code = read_code(code_text);
        logged.clear();
        {
            tracing::session session(tracer);
            EXPECT_TRUE(session.installed());
            (void)eval::eval_block(code, false);
        }
        EXPECT_FALSE(tracing::active);
        EXPECT_TRUE(tracing::tracer().is(TYPE_NONE));
        return joined(logged);
    }
};

TEST_F(TracingTest, EventsArriveInTheOrderTheInterpreterWorks) {
    testing::define_function("quiet", "[no-trace] a", "a + 1");
    testing::define_function("loud", "[trace] a", "a");
    testing::define_function("quiet-calls-loud", "[no-trace]", "loud 1");
    testing::define_function("ret", "", "treturn 1 2");
    struct row {
        const char* code;
        const char* events;
    };
    const row rows[] = {
        {"1", "init enter fetch push expr exit end"},
        {"1 + 2", "init enter fetch push fetch open fetch push return expr exit end"},
        {"id 5", "init enter fetch open fetch push call prolog enter fetch push expr exit epilog return return expr "
                 "exit end"},
        {"x: 5", "init enter fetch push fetch push set expr exit end"},
        {"(1)", "init enter fetch enter fetch push expr exit expr exit end"},
        // Nothing from inside a no-trace body; events resume after it returns.
        {"quiet 1", "init enter fetch open fetch push call return return expr exit end"},
        // A trace function turns delivery back on for its own body.
        {"quiet-calls-loud", "init enter fetch open call prolog enter fetch push expr exit epilog return return expr "
                             "exit end"},
        // A return ends the body: no return of its call, no exit of the body block; the
        // epilog still comes, and the function's value is the returned one.
        {"ret", "init enter fetch open call prolog enter fetch open fetch push epilog return return expr exit end"},
    };
    for (const row& r : rows) {
        reset_stack();
        EXPECT_EQ(traced("tlog event", r.code), r.events) << r.code;
    }
}

TEST_F(TracingTest, TheBlockOpeningTheTracerBodySelectsTheEvents) {
    struct row {
        const char* tracer_body;
        const char* code;
        const char* events;
    };
    const row rows[] = {
        {"[fetch push] tlog event", "1 + 2", "fetch push fetch fetch push"},
        {"[fetch] tlog event", "id 1", "fetch fetch fetch"},
        {"[foo bar] tlog event", "1 + 2", ""},
        {"[] tlog event", "1 + 2", ""},
        {"[init end] tlog event", "1 + 2", "init end"},
        {"[INIT] tlog event", "1", "init"},
        {"[error] tlog event", "ttry [never-set]", "error"},
    };
    for (const row& r : rows) {
        reset_stack();
        EXPECT_EQ(traced(r.tracer_body, r.code), r.events) << r.tracer_body << " / " << r.code;
    }
}

TEST_F(TracingTest, EachEventCarriesItsCodeOffsetValueAndReference) {
    struct row {
        const char* tracer_body;
        const char* code;
        const char* logged_text;
    };
    const row rows[] = {
        // fetch: the position and the value itself; set: the position after the
        // expression, the value, and the set-word as reference.
        {"[fetch set] tlog event tlog offset tlog value tlog ref", "x: 5",
         "fetch 0 x: none fetch 1 5 none set 2 5 x:"},
        // An event without code gets none and offset -1.
        {"[init] tlog code tlog offset", "1", "none -1"},
        // A call's return names the called word and carries the result.
        {"[return] tlog offset tlog value tlog ref", "1 + 2", "3 3 +"},
        {"[open] tlog offset tlog value", "id 7", "1 id"},
    };
    for (const row& r : rows) {
        reset_stack();
        EXPECT_EQ(traced(r.tracer_body, r.code), r.logged_text) << r.tracer_body << " / " << r.code;
    }
}

TEST_F(TracingTest, PushCarriesNoReferenceAndTheFramePairPrecedesTheTracersFrame) {
    testing::define_function("tracer", "event code offset value ref frame", "tlog ref tlog frame");
    cell* w = word::push_global(symbol::make("tracer"));
    cell* tracer = stack::push_copy(word::get_value(w));
    tracing::session session(tracer);
    logged.clear();
    cell* code = read_code("a b");
    stack::push_slot();
    stack::push_call_frame(nullptr);
    stack::push_slot();
    stack::push_slot();
    const auto base = stack::state.args_base - stack::state.args_begin;
    const auto top = stack::state.args_top - stack::state.args_begin;
    cell* top_before = stack::state.args_top;
    stack::frame* frames_before = stack::state.frames_top;
    tracing::fire(tracing::EVENT_PUSH, code, 1, code, code);
    EXPECT_EQ(joined(logged), "none " + std::to_string(base) + "x" + std::to_string(top));
    EXPECT_EQ(stack::state.args_top, top_before);
    EXPECT_EQ(stack::state.frames_top, frames_before);
    EXPECT_TRUE(tracing::active);
}

TEST_F(TracingTest, CallbacksRunWithTracingOffUnlessTheirKindIsEnabled) {
    testing::define_function("tracer", "event code offset value ref frame", "tlog event");
    cell* w = word::push_global(symbol::make("tracer"));
    cell* tracer = stack::push_copy(word::get_value(w));
    cell* id_word = word::push_global(symbol::make("id"));
    cell* id = stack::push_copy(word::get_value(id_word));
    tracing::session session(tracer);
    for (uint32_t bits : {0u, eval::INVOKE_SORT}) {
        tracing::callback_bits = bits;
        logged.clear();
        stack::push_function_frame(id_word, id->w1);
        integer::make_in(stack::push_slot(), 3);
        eval::invoke_function(id, id->w1, id_word, eval::INVOKE_SORT);
        EXPECT_EQ(mold_of(stack::result_slot()), "3");
        stack::pop_function_frame();
        stack::drop_slots(1);
        EXPECT_EQ(joined(logged), bits ? "call prolog enter fetch push expr exit epilog return" : "") << bits;
        EXPECT_TRUE(tracing::active);
    }
}

TEST_F(TracingTest, ANestedSessionDoesNotReplaceTheActiveTracer) {
    testing::define_function("tracer", "event code offset value ref frame", "tlog event");
    cell* w = word::push_global(symbol::make("tracer"));
    cell* tracer = stack::push_copy(word::get_value(w));
    tracing::session outer(tracer);
    ASSERT_TRUE(outer.installed());
    {
        tracing::session inner(tracer);
        EXPECT_FALSE(inner.installed());
    }
    EXPECT_TRUE(tracing::tracer_active);
    EXPECT_TRUE(tracing::active);
}

}  // namespace
}  // namespace zor
