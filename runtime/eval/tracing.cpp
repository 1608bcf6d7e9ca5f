// The tracing dispatcher: the state of a `do/trace` session and the delivery of events
// to its tracer function.
#include "runtime/eval/tracing.h"

#include "runtime/binding/context.h"
#include "runtime/binding/system-object.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"

namespace zor::tracing {

bool active = false;
bool tracer_active = false;
uint32_t mask = DEFAULT_MASK;
int32_t tracer_locals = 0;
uint32_t callback_bits = 0;

uint32_t enabled_callback_kinds() {
    const cell* bits = system_object::path({symbols::state, symbols::callbacks, symbols::bits});
    return bits && bits->is(TYPE_INTEGER) ? bits->w2 : callback_bits;
}

namespace {

// The tracer, then the sixteen event words in bit order. Kept current by the collector.
cell cells[1 + EVENT_COUNT] = {};
cell& tracer_cell = cells[0];
cell* const event_words = cells + 1;
// The depth of the frame whose body flag `install` set, -1 when it set none.
int marked_caller_depth = -1;

// The event names in bit order.
constexpr const char* EVENT_NAMES[EVENT_COUNT] = {
    "init", "end", "prolog", "epilog", "enter", "exit", "open", "return",
    "fetch", "push", "set", "call", "error", "throw", "catch", "expr",
};

void mark_cells_callback() { gc::mark_cells(cells, cells + 1 + EVENT_COUNT); }

int bit_position(uint32_t event_bit) {
    if (event_bit == 0 || (event_bit & (event_bit - 1)) != 0) return -1;
    int position = __builtin_ctz(event_bit);
    return position < EVENT_COUNT ? position : -1;
}

// Events whose reference argument is delivered; every other event gets none.
constexpr uint32_t WITH_REFERENCE = EVENT_SET | EVENT_EPILOG | EVENT_PROLOG | EVENT_RETURN | EVENT_CALL;

bool is_block_like(const cell* c) { return c && series::is_block_like(c->type()); }

}  // namespace

void init() {
    static bool registered = false;
    if (!registered) {
        gc::add_mark_callback(&mark_cells_callback);
        registered = true;
    }
    tracer_cell = cell{TYPE_NONE, 0, 0, 0};
    for (int i = 0; i < EVENT_COUNT; ++i) cell::init_unset(&event_words[i]);
    for (int i = 0; i < EVENT_COUNT; ++i) {
        cell made = *word::make_global_from_name(EVENT_NAMES[i]);
        event_words[i] = made;
    }
    active = false;
    tracer_active = false;
    mask = DEFAULT_MASK;
    tracer_locals = 0;
}

const cell& tracer() { return tracer_cell; }

void fire(uint32_t event_bit, const cell* code, int64_t position, const cell* reference, const cell* value) {
    if (!(mask & event_bit) || !tracer_cell.is(TYPE_FUNCTION)) return;
    int index = bit_position(event_bit);
    if (index < 0) return;

    // Everything handed in may lie in a series buffer: copied before anything allocates.
    const cell none_cell{TYPE_NONE, 0, 0, 0};
    cell code_copy = code ? *code : none_cell;
    int64_t offset = -1;
    if (is_block_like(code)) {
        int64_t length = memory::buffer_of(code->w2)->length();
        if (position >= 0 && position <= length) offset = position;
    }
    cell value_copy = value && value->type() != TYPE_NONE_ID ? *value : none_cell;
    cell reference_copy = reference && (event_bit & WITH_REFERENCE) ? *reference : none_cell;

    stack::record& s = stack::state;
    const auto base_index = static_cast<int32_t>(s.args_base - s.args_begin);
    const auto top_index = static_cast<int32_t>(s.args_top - s.args_begin);
    cell* saved_top = s.args_top;
    stack::frame* saved_frames = s.frames_top;

    stack::push_slot();  // the cell at the top stays as it is
    stack::push_function_frame(words::interp_callback, tracer_cell.w1);
    cell* first = stack::state.args_top;
    *stack::push_slot() = event_words[index];
    *stack::push_slot() = code_copy;
    integer::make_in(stack::push_slot(), static_cast<int32_t>(offset));
    *stack::push_slot() = value_copy;
    *stack::push_slot() = reference_copy;
    pair::make_at(stack::push_slot(), base_index, top_index);
    function::push_locals(tracer_locals);
    // A tracer whose spec holds more than six arguments and its locals reads none! for
    // the rest, never cells past the stack top.
    const int32_t keys = context::key_count(tracer_cell.w1);
    while (stack::state.args_top - first < keys) *stack::push_slot() = none_cell;

    // Off while the tracer runs; left off when a throw comes out of it.
    active = false;
    eval::invoke_function(&tracer_cell, tracer_cell.w1, words::interp_callback, 0);
    stack::throw_if_pending();
    active = true;
    stack::pop_function_frame();
    s.args_top = saved_top;
    s.frames_top = saved_frames;
}

void fire_init() {
    if (active) fire(EVENT_INIT, nullptr, -1, nullptr, nullptr);
}

void fire_end() {
    if (active) fire(EVENT_END, nullptr, -1, nullptr, nullptr);
}

void fire_throw() {
    if (active) fire(EVENT_THROW, nullptr, -1, nullptr, stack::result_slot());
}

void fire_catch() {
    if (active) fire(EVENT_CATCH, nullptr, -1, nullptr, stack::result_slot());
}

void fire_call(const cell* word, const cell* function) {
    if (active) fire(EVENT_CALL, nullptr, -1, word, function);
}

void fire_function_return(const cell* word) {
    if (active) fire(EVENT_RETURN, nullptr, -1, word, stack::result_slot());
}

void fire_error_event(cell* error) {
    if (!active) return;
    uint32_t saved_code = last_throw_code;
    uint32_t saved_pending = stack::pending_code;
    last_throw_code = 0;
    stack::pending_code = 0;
    fire(EVENT_ERROR, nullptr, -1, nullptr, error);
    last_throw_code = saved_code;
    stack::pending_code = saved_pending;
}

uint32_t mask_of(const cell* tracer_function) {
    if (!tracer_function->is(TYPE_FUNCTION)) return DEFAULT_MASK;
    const cell body = *function::extras_cell(tracer_function, function::EXTRAS_BODY);
    if (!body.is(TYPE_BLOCK)) return DEFAULT_MASK;
    memory::series_buffer* b = memory::buffer_of(body.w2);
    int64_t at = static_cast<int32_t>(body.w1);
    if (at < 0 || at >= b->length()) return DEFAULT_MASK;
    const cell first = b->head_cell()[at];
    if (!first.is(TYPE_BLOCK)) return DEFAULT_MASK;
    uint32_t bits = 0;
    memory::series_buffer* names = memory::buffer_of(first.w2);
    int64_t from = static_cast<int32_t>(first.w1);
    for (int64_t i = from < 0 ? 0 : from; i < names->length(); ++i) {
        const cell& c = names->head_cell()[i];
        if (!c.is(TYPE_WORD)) continue;
        int32_t canonical = symbol::canonical_id(static_cast<int32_t>(c.w2));
        for (int e = 0; e < EVENT_COUNT; ++e) {
            if (symbol::canonical_id(static_cast<int32_t>(event_words[e].w2)) == canonical) bits |= 1u << e;
        }
    }
    return bits;
}

namespace {

// Forgets the tracer and gives back the caller's body flag.
void clear() {
    tracer_cell = cell{TYPE_NONE, 0, 0, 0};
    active = false;
    tracer_active = false;
    mask = DEFAULT_MASK;
    tracer_locals = 0;
    // The body flag goes only from the frame it was set on, if that still exists.
    if (marked_caller_depth >= 0 && marked_caller_depth < stack::frame_depth()) {
        stack::clear_body_flag(stack::state.frames_begin + marked_caller_depth);
    }
    marked_caller_depth = -1;
}

}  // namespace

bool install(const cell* tracer_function) {
    if (tracer_active) return false;
    uint32_t saved_code = last_throw_code;
    stack::frame* marked = stack::mark_caller_body();
    marked_caller_depth = marked ? static_cast<int>(marked - stack::state.frames_begin) : -1;
    cell spec{TYPE_BLOCK, 0, tracer_function->w2, 0};
    tracer_locals = tracer_function->is(TYPE_FUNCTION) ? function::count_locals(spec.w2, 0, false) : 0;
    mask = mask_of(tracer_function);
    tracer_cell = *tracer_function;
    active = true;
    tracer_active = true;
    // A throw out of the init event ends the session before its guard exists: nothing
    // else would take the tracer down.
    struct clear_unless_installed {
        bool installed = false;
        ~clear_unless_installed() {
            if (!installed) clear();
        }
    } pending;
    fire_init();
    pending.installed = true;
    last_throw_code = saved_code;
    return true;
}

void uninstall() {
    uint32_t saved_code = last_throw_code;
    uint32_t saved_pending = stack::pending_code;
    stack::pending_code = 0;
    // Whatever ends the session, the tracer hears the end once and is then gone, even when
    // the tracer itself throws.
    struct clear_state {
        ~clear_state() { clear(); }
    } clear_on_exit;
    fire_end();
    last_throw_code = saved_code;
    stack::pending_code = saved_pending;
}

}  // namespace zor::tracing
