// The /trace callback of parse: called with the event word, the match flag, the rules at
// the current rule, the input at the current position and the rule stack; an answer of
// false or none stops the parse at once.
//
// The callback is user code: it may allocate, collect, parse again or leave by any exit.
// Its arguments are built before the call, and the engine reads all of its state afresh
// afterwards. An exit out of it travels as the C++ exception (the callback is called as
// a parse callback, so tracing stays off inside it unless system/state/callbacks asks).
#include "runtime/datatypes/function.h"
#include "runtime/binding/context.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/parse/parse-machine.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"

namespace zor::parse {

namespace {

cell end_word{TYPE_NONE, 0, 0, 0};

void mark_end_word() { gc::mark_cells(&end_word, &end_word + 1); }

cell event_word(trace_event e) {
    switch (e) {
        case TRACE_PUSH: return *words::push.get();
        case TRACE_POP: return *words::pop.get();
        case TRACE_FETCH: return *words::fetch.get();
        case TRACE_MATCH: return *words::match.get();
        case TRACE_ITERATE: return *words::iterate.get();
        case TRACE_PAREN: return *words::paren.get();
        case TRACE_END: break;
    }
    if (!end_word.is(TYPE_WORD)) {
        gc::add_mark_callback(&mark_end_word);
        end_word = *word::make_global(symbols::end);
    }
    return end_word;
}


}  // namespace

bool fire(machine& m, trace_event e) {
    cell arguments[5];
    arguments[0] = event_word(e);
    logic::make_in(&arguments[1], m.match);
    arguments[2] = *m.rules;
    int64_t at = m.cursor < static_cast<int32_t>(m.rules->w1) ? static_cast<int32_t>(m.rules->w1) : m.cursor;
    if (at > m.rule_end()) at = m.rule_end();
    arguments[2].w1 = static_cast<uint32_t>(at);
    arguments[3] = *m.input;
    arguments[3].w1 = static_cast<uint32_t>(m.index);
    arguments[4] = rule_stack_value(m);

    stack::record& st = stack::state;
    cell* const saved_top = st.args_top;
    stack::frame* const saved_frames = st.frames_top;
    cell* callback = stack::push_copy(m.callback);
    const bool is_function = callback->is(TYPE_FUNCTION);
    if (is_function) stack::push_function_frame(words::parse_callback, callback->w1);
    else stack::push_call_frame(words::parse_callback);
    cell* const first = st.args_base;
    if (is_function) function::push_callback_arguments(callback, arguments, 5);
    else for (const cell& argument : arguments) *stack::push_slot() = argument;
    eval::invoke_function(callback, callback->w1, words::parse_callback, eval::INVOKE_PARSE);
    const bool answer = natives::is_truthy(first);
    if (is_function) stack::pop_function_frame();
    else stack::pop_frame();
    st.args_top = saved_top;
    st.frames_top = saved_frames;
    // An action of the callback may have shortened the input.
    if (m.index > m.tail()) m.index = m.tail();
    return answer;
}

}  // namespace zor::parse
