// The loop natives: while, until, loop, repeat, forever, foreach, forall and remove-each,
// and the step operations that they share with compiled loops.
//
// Every loop runs its evaluations inside a loop frame (the frame break and continue look
// for), whose result slot receives each evaluation's value, and keeps a catch point of the
// break level around each of them: a break or continue aimed at the loop arrives as the
// interpreter's pending exit (or, after crossing C++ code that cannot pass it on, as the
// exception that catch_exits turns back into one) with the frame stack already unwound to
// the loop frame; the loop takes it there. Any other exit (return, exit, throw) is handed
// back to the caller pending, with both stacks left as they are. Errors pass as
// exceptions; the frame is unwound by the error machinery.
//
// Iteration state lives on the argument stack below the loop frame, so the collector sees
// it and compiled loops can address it the same way: the series loops push a copy of
// their series and of their word (or block of words) before the frame, so that inside the
// frame the series copy is at args_base - 2 and the word at args_base - 1; remove-each
// also keeps its step size, an integer!, at args_base - 3. The iteration advances the
// copy's index, never the argument's.
//
// map! and image! have no loop-word assignment or end test yet: their branches raise
// internal/not-done until those types exist.
#include <cstdint>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"

namespace zor::natives {

namespace {

cell* base(int n) { return stack::argument(n); }

// The entry skips the type tests for internal callers; a loop reads its blocks as code and
// its series through their buffers, so a value of another type must still be refused.
void check_unchecked(int index, const native_invocation& call) {
    if (!call.check) check_arguments(index, call);
}

// Natives whose result is none! or unset! drop their arguments first.
uint32_t set_plain_result(const cell& value) {
    stack::clear_frame_args();
    *stack::push_slot() = value;
    return 0;
}

// Opens the loop frame with unset! in its result slot: the result of a loop whose body
// never ran.
void open_loop_frame() {
    stack::push_loop_frame();
    cell::init_unset(stack::push_slot());
}

// Closes the loop frame; its result slot becomes the native's result.
uint32_t close_loop_frame() {
    stack::pop_frame_pass_result();
    stack::keep_result_slot();
    return 0;
}

// One evaluation of a block inside the loop frame, its value going to the frame's result
// slot: the catch point of the break level. Answers 0 after a normal pass; THROW_BREAK or
// THROW_CONTINUE once taken (the frame's result slot then holds the break value, or unset!
// after a plain break and after continue); any other code stays pending and is answered
// for the caller to hand on.
uint32_t run_pass(eval::loop_body& block) {
    stack::clear_frame_args();
    uint32_t code = stack::catch_exits([&] { (void)block.run(); });
    if (code == THROW_BREAK || code == THROW_CONTINUE) stack::take_pending();
    return code;
}

// Whether a pass ended with an exit that leaves the native (neither a normal end, break
// nor continue).
bool passes_on(uint32_t code) { return code != 0 && code != THROW_BREAK && code != THROW_CONTINUE; }

// A count converted in place: a float! truncated toward zero becomes a whole new
// integer! cell. A float that no 32-bit integer holds (or NaN) raises
// script/out-of-range instead of wrapping into some other count.
void count_to_integer(cell* count) {
    if (!count->is(TYPE_FLOAT)) return;
    int32_t value = integer::get_int_from_number(count);
    integer::make_in(count, value);
}

// The iteration state inside the frame.
cell* series_copy() { return stack::state.args_base - 2; }
cell* loop_word() { return stack::state.args_base - 1; }
cell* step_size() { return stack::state.args_base - 3; }

// The words a block of loop words holds: the cells from its index to its tail.
int32_t word_block_length(const cell* words) {
    int64_t length = memory::buffer_of(words->w2)->length() - series::index_of(words);
    return length > 0 ? static_cast<int32_t>(length) : 0;
}

// The end test of the series loops. image! (index against width x height) waits for the
// image module.
bool at_end(const cell* series) {
    if (series->is(TYPE_IMAGE)) raise::throw_error(err::internal_not_done);
    return series::is_at_tail(series);
}

// Entry i of the word block (a copy in a new stack slot); an entry that is not a word
// raises script/invalid-arg with it. A block shortened since the count was taken gives
// none!, which is refused the same way.
cell* push_loop_word(const cell* words, int32_t i) {
    int64_t at = int64_t(series::index_of(words)) + i;
    const cell* entry = at < memory::buffer_of(words->w2)->length() ? block::get_cell(words, at) : &none::value;
    cell* slot = stack::push_copy(entry);
    type_id t = slot->type();
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
        raise::throw_error(err::script_invalid_arg, slot);
    }
    return slot;
}

// Item i of a cell series from its index (none! past the tail), as a new stack slot.
cell* push_cell_item(const cell* series, int32_t i) {
    int64_t at = int64_t(series::index_of(series)) + i;
    if (at < 0 || at >= memory::buffer_of(series->w2)->length()) return stack::push_copy(&none::value);
    return stack::push_copy(block::get_cell(series, at));
}

// Item i of any other series: the pick action at position i + 1 (none! past the tail).
cell* push_picked_item(cell* series, int32_t i) {
    cell* position = integer::push(i + 1);
    cell* picked = actions::dispatch_pick(series, i + 1, position);
    return stack::push_copy(picked);
}

bool is_cell_series(type_id type) { return series::kind_of(type) == series::ELEMENTS_CELLS && type != TYPE_MAP; }

// The assignments of one foreach step over a cell series: the block assignment of `set`
// without /any, /only and /some. Every entry is tested before any word is assigned: a
// non-word entry raises script/invalid-arg, an unset! item script/need-value naming its
// word.
void assign_cell_items(cell* series, const cell* words, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        cell* word = push_loop_word(words, i);
        cell* item = push_cell_item(series, i);
        if (item->is(TYPE_UNSET)) raise::throw_error(err::script_need_value, word);
        stack::drop_slots(2);
    }
    // Each assignment may run a change handler, which may change the series or the word
    // block: both are read again for every word.
    for (int32_t i = 0; i < n; ++i) {
        cell* word = push_loop_word(words, i);
        cell* item = push_cell_item(series, i);
        word::set_value(word, item);
        stack::drop_slots(2);
    }
}

void assign_picked_items(cell* series, const cell* words, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        push_loop_word(words, i);
        stack::drop_slots(1);
    }
    for (int32_t i = 0; i < n; ++i) {
        cell* top = stack::state.args_top;
        cell* word = push_loop_word(words, i);
        cell* item = push_picked_item(series, i);
        word::set_value(word, item);
        stack::state.args_top = top;
    }
}

// The scratch slots of a step go above the frame's result slot, which holds the last
// body value until the next pass begins: open_scratch makes sure the result slot is below
// args_top and answers the top to give back when the step ends normally. While an error
// unwinds, the stack is left alone: the error value travels on it.
cell* open_scratch() {
    cell* top = stack::state.args_top;
    if (top <= stack::state.args_base) stack::state.args_top = stack::state.args_base + 1;
    return top;
}

// The loop word set to an item: stored straight into its variable when that is a plain
// store, else through the word's context (an object field runs its change handler).
void set_loop_word(cell* word, const cell* item) {
    if (cell* variable = eval::plain_variable(word)) *variable = *item;
    else word::set_value(word, item);
}

// Runs the passes of foreach and remove-each: a step, then the body. after_pass runs
// after a normal pass (not after continue). Answers THROW_BREAK after a break, the code of
// an exit that passes on, else 0.
template <typename Step, typename AfterPass>
uint32_t step_loop(eval::loop_body& body, Step&& step, AfterPass&& after_pass) {
    while (step()) {
        uint32_t code = run_pass(body);
        if (code == THROW_BREAK || passes_on(code)) return code;
        if (code == 0) after_pass();
    }
    return 0;
}

}  // namespace

// --- The step operations ---------------------------------------------------------------------

void loop_count_to_integer() { count_to_integer(stack::result_slot()); }

bool foreach_set_word() {
    cell* series = series_copy();
    if (series->is(TYPE_MAP)) raise::throw_error(err::script_invalid_arg, loop_word());
    if (at_end(series)) return false;
    if (is_cell_series(series->type())) {
        // An item of a block stored straight into a plain variable needs no scratch slot.
        if (cell* variable = eval::plain_variable(loop_word())) {
            *variable = *block::get_cell(series, series::index_of(series));
            series->w1 = static_cast<uint32_t>(series::index_of(series) + 1);
            return true;
        }
    }
    cell* top = open_scratch();
    cell* item = is_cell_series(series->type()) ? push_cell_item(series, 0) : push_picked_item(series, 0);
    word::set_value(loop_word(), item);
    stack::state.args_top = top;
    // The copy is read again: the assignment may have run a change handler.
    series = series_copy();
    series->w1 = static_cast<uint32_t>(series::index_of(series) + 1);
    return true;
}

bool foreach_set_words(int32_t n) {
    cell* series = series_copy();
    const cell* words = loop_word();
    if (n <= 0) return false;
    if (series->is(TYPE_MAP)) {
        // Keys and values come in pairs: only two words fit a map.
        if (n != 2) raise::throw_error(err::script_invalid_arg, words);
        cell* top = open_scratch();
        const bool stepped = map::set_loop_words(series, words, n);
        stack::state.args_top = top;
        return stepped;
    }
    if (at_end(series)) return false;
    cell* top = open_scratch();
    if (is_cell_series(series->type())) assign_cell_items(series, words, n);
    else assign_picked_items(series, words, n);
    stack::state.args_top = top;
    series->w1 = static_cast<uint32_t>(series::index_of(series) + n);
    return true;
}

void remove_each_step(int32_t n) {
    if (!is_truthy(stack::result_slot())) return;
    cell* top = open_scratch();
    cell* series = series_copy();
    int64_t back = int64_t(series::index_of(series)) - n;
    series->w1 = static_cast<uint32_t>(back > 0 ? back : 0);
    const cell* answer = actions::dispatch_remove(series, n != 1 ? step_size() : nullptr, nullptr);
    series_copy()->w1 = answer->w1;
    stack::state.args_top = top;
}

int32_t store_word_count() {
    const cell* words = loop_word();
    int32_t n = words->is(TYPE_BLOCK) ? word_block_length(words) : 1;
    integer::make_in(step_size(), n);
    return n;
}

void restore_series_index() {
    const cell* value = word::get_value(loop_word());
    cell* series = series_copy();
    if (!value->is(series->type()) || value->w2 != series->w2) {
        cell changed = *value;
        raise::throw_error(err::script_bad_loop_series, &changed);
    }
    series->w1 = value->w1;
}

bool forall_at_end(bool advance) {
    cell* value = word::get_value(loop_word());
    // Only the series the loop started on may be stepped: anything else in the word is
    // refused before its payload is touched.
    if (!series::is_series_type(value->type()) || value->w2 != series_copy()->w2) {
        cell changed = *value;
        raise::throw_error(err::script_bad_loop_series, &changed);
    }
    if (advance) value->w1 = static_cast<uint32_t>(series::index_of(value) + 1);
    return at_end(value);
}

void forall_set_word() { word::set_value(loop_word(), series_copy()); }

void repeat_bump(cell* counter_word) {
    cell* value = word::get_value(counter_word);
    if (!value->is(TYPE_INTEGER)) {
        cell changed = *value;
        raise::throw_error(err::script_invalid_arg, &changed);
    }
    int32_t next = 0;
    if (__builtin_add_overflow(integer::read_cell(value), 1, &next)) raise::throw_error(err::math_overflow);
    value->w2 = static_cast<uint32_t>(next);
    if (counter_word->w1 && context::kind_of(counter_word->w1) == context::KIND_OBJECT) {
        cell* assigned = stack::push_copy(word::get_value(counter_word));
        word::set_value(counter_word, assigned);
        stack::drop_slots(1);
    }
}

// --- The natives -------------------------------------------------------------------------------

// while cond body: a break or continue in cond raises throw/while-cond. The result is
// unset! after cond turns false and the break value (unset! for a plain break) after a
// break in body, as for every other loop.
uint32_t native_while(const native_invocation& call) {
    check_unchecked(NATIVE_WHILE, call);
    const cell* condition_cell = base(0);
    const cell* body_cell = base(1);
    open_loop_frame();
    eval::loop_body condition(condition_cell);
    eval::loop_body body(body_cell);
    for (;;) {
        uint32_t code = run_pass(condition);
        if (code == THROW_BREAK || code == THROW_CONTINUE) raise::throw_error(err::throw_while_cond);
        if (code) return code;
        if (!logic::is_result_true()) {
            stack::pop_frame_drop_values();
            return set_plain_result(cell{TYPE_UNSET, 0, 0, 0});
        }
        code = run_pass(body);
        if (code == THROW_BREAK) return close_loop_frame();
        if (passes_on(code)) return code;
    }
}

// until body: a pass ended by continue is not tested.
uint32_t native_until(const native_invocation& call) {
    check_unchecked(NATIVE_UNTIL, call);
    const cell* body_cell = base(0);
    open_loop_frame();
    eval::loop_body body(body_cell);
    for (;;) {
        uint32_t code = run_pass(body);
        if (code == THROW_BREAK) return close_loop_frame();
        if (code == THROW_CONTINUE) continue;
        if (code) return code;
        if (logic::is_result_true()) return close_loop_frame();
    }
}

uint32_t native_loop(const native_invocation& call) {
    check_unchecked(NATIVE_LOOP, call);
    loop_count_to_integer();
    int32_t count = integer::read_cell(base(0));
    if (count < 1) return set_plain_result(none::value);
    const cell* body_cell = base(1);
    open_loop_frame();
    eval::loop_body body(body_cell);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t code = run_pass(body);
        if (code == THROW_BREAK) break;
        if (passes_on(code)) return code;
    }
    return close_loop_frame();
}

// repeat 'word value body: the value argument's cell is the counter. Each pass assigns it
// to the word through the word's own context (an object field fires its change handler;
// the word is not made local), so changing the word in body changes neither the count
// nor the next counter value.
uint32_t native_repeat(const native_invocation& call) {
    check_unchecked(NATIVE_REPEAT, call);
    cell* word = base(0);
    cell* counter = base(1);
    count_to_integer(counter);
    int32_t count = integer::read_cell(counter);
    if (count < 1) return set_plain_result(none::value);
    const cell* body_cell = base(2);
    open_loop_frame();
    eval::loop_body body(body_cell);
    // The pass number is kept wider than the counter: the counter never steps past count.
    for (int64_t pass = 1; pass <= count; ++pass) {
        integer::make_in(counter, static_cast<int32_t>(pass));
        set_loop_word(word, counter);
        uint32_t code = run_pass(body);
        if (code == THROW_BREAK) break;
        if (passes_on(code)) return code;
    }
    return close_loop_frame();
}

uint32_t native_forever(const native_invocation& call) {
    check_unchecked(NATIVE_FOREVER, call);
    const cell* body_cell = base(0);
    open_loop_frame();
    eval::loop_body body(body_cell);
    for (;;) {
        uint32_t code = run_pass(body);
        if (code == THROW_BREAK) return close_loop_frame();
        if (passes_on(code)) return code;
    }
}

// foreach 'word series body: the result is the last value of body, unset! when it never
// ran.
uint32_t native_foreach(const native_invocation& call) {
    check_unchecked(NATIVE_FOREACH, call);
    cell* words = base(0);
    cell* series = base(1);
    const cell* body_cell = base(2);
    int32_t n = 0;
    if (words->is(TYPE_BLOCK)) {
        n = word_block_length(words);
        if (n < 1) raise::throw_error(err::script_invalid_arg, words);
    } else if (series->is(TYPE_MAP)) {
        // A map is walked by key and value, which needs a block of two words.
        raise::throw_error(err::script_invalid_arg, words);
    }
    stack::push_copy(series);
    stack::push_copy(words);
    open_loop_frame();
    eval::loop_body body(body_cell);
    uint32_t code = n ? step_loop(body, [n] { return foreach_set_words(n); }, [] {})
                      : step_loop(body, [] { return foreach_set_word(); }, [] {});
    if (passes_on(code)) return code;
    return close_loop_frame();
}

// forall 'word body: steps the word's own value. After a normal end the word gets its
// original value (and position) back; after a break it keeps the position the break left.
uint32_t native_forall(const native_invocation& call) {
    check_unchecked(NATIVE_FORALL, call);
    cell* word = base(0);
    const cell* body_cell = base(1);
    const cell* value = word::get_value(word);
    if (value->is(TYPE_UNSET)) raise::throw_error(err::script_no_value, word);
    if (!series::is_series_type(value->type())) raise::expect_arg(value->type(), 0);
    cell* original = stack::push_copy(value);
    stack::push_copy(word);
    open_loop_frame();
    eval::loop_body body(body_cell);
    bool broke = false;
    if (!at_end(original)) {
        for (;;) {
            uint32_t code = run_pass(body);
            if (code == THROW_BREAK) {
                broke = true;
                break;
            }
            if (passes_on(code)) return code;
            if (forall_at_end(true)) break;
        }
    }
    // The original is assigned while the frame still keeps it below args_top.
    if (!broke) word::set_value(word, original);
    return close_loop_frame();
}

// remove-each 'word data body: after each normal pass whose value is neither none! nor
// false (unset! too removes), the items of that step are removed from the series at
// once, so an error or a break in a later pass leaves the removals made so far. The
// result is the data argument: the same series at its original index.
uint32_t native_remove_each(const native_invocation& call) {
    check_unchecked(NATIVE_REMOVE_EACH, call);
    cell* words = base(0);
    cell* data = base(1);
    const cell* body_cell = base(2);
    if (words->is(TYPE_BLOCK) && word_block_length(words) < 1) raise::throw_error(err::script_invalid_arg, words);
    const bool several = words->is(TYPE_BLOCK);
    integer::push(1);
    stack::push_copy(data);
    stack::push_copy(words);
    open_loop_frame();
    eval::loop_body body(body_cell);
    const int32_t n = store_word_count();
    uint32_t code = several ? step_loop(body, [n] { return foreach_set_words(n); }, [n] { remove_each_step(n); })
                            : step_loop(body, [] { return foreach_set_word(); }, [] { remove_each_step(1); });
    if (passes_on(code)) return code;
    stack::pop_frame_drop_values();
    *stack::result_slot() = *data;
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
