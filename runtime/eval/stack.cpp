// The evaluation stack and its non-local exits.
#include "runtime/eval/stack.h"

#include "platform/fatal.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"

namespace zor {
uint32_t last_throw_code = 0;
}

namespace zor::stack {

record state;

namespace {

// Room kept below the ends so that the error machinery can push its own values.
constexpr int OVERFLOW_RESERVE = 5;

}  // namespace

void overflow() {
    state.args_top = state.args_top - OVERFLOW_RESERVE < state.args_begin ? state.args_begin
                                                                          : state.args_top - OVERFLOW_RESERVE;
    mold_guard::reset();
    raise::throw_error(err::internal_stack_overflow);
}

namespace {

uint32_t base_index(const cell* base) { return static_cast<uint32_t>(base - state.args_begin); }
cell* base_at(uint32_t index) { return state.args_begin + index; }

using detail::context_values_of;
using detail::push_frame;
using detail::restore_function_context;

// Frames of the word `self` name the object's block, not a context.
bool is_self_frame(const frame* f) {
    return f->symbol() != 0 && symbols::self > 0 && symbol::canonical_id(static_cast<int32_t>(f->symbol())) ==
                                                         symbol::canonical_id(symbols::self);
}

// The frame's word: the key word of its symbol in its word context, else a global word.
cell frame_word(const frame* f) {
    auto symbol = static_cast<int32_t>(f->symbol());
    return context::word_for_symbol(is_self_frame(f) ? 0 : f->word_context, symbol);
}

bool is_listed(const frame* f) {
    uint32_t s = f->symbol();
    return s == 0 || (s != state.body_symbol && s != state.anon_symbol);
}

// The walk shared by the three exits: from the frame below the native's own, down to
// the first frame that matches, stopping at a barrier. Also tells whether a function
// frame lies above the one found, whose context its pop must give back.
struct exit_target {
    frame* found;
    bool passes_function;
};
// The search starts below the native's own frame: the top one, or with OWN_PUSHED false,
// one never pushed above it.
template <bool OWN_PUSHED = true, typename Matches> exit_target find_exit_frame(Matches matches) {
    constexpr uint32_t kind_bits = 0xFu << FRAME_KIND_SHIFT;
    constexpr uint32_t barrier_bits = uint32_t(FRAME_BARRIER) << FRAME_KIND_SHIFT;
    constexpr uint32_t function_bits = uint32_t(FRAME_FUNCTION) << FRAME_KIND_SHIFT;
    frame* f = OWN_PUSHED ? state.frames_top - 1 : state.frames_top;
    if (f < state.frames_begin) return {nullptr, false};
    bool passes_function = OWN_PUSHED && (f->header & kind_bits) == function_bits;
    while (f > state.frames_begin) {
        --f;
        const uint32_t kind = f->header & kind_bits;
        if (kind == barrier_bits) return {nullptr, false};
        if (matches(f)) return {f, passes_function};
        passes_function |= kind == function_bits;
    }
    return {nullptr, false};
}

// The base that was current inside a frame: the saved base of the frame above it, or
// the current base when it is the top frame.
cell* base_inside(const frame* f) {
    return f + 1 < state.frames_top ? base_at((f + 1)->saved_base) : state.args_base;
}

// Pops every frame above the one found, which stays.
void pop_above(const exit_target& target) {
    if (target.passes_function) {
        for (frame* f = state.frames_top - 1; f > target.found; --f) restore_function_context(f);
    }
    state.frames_top = target.found + 1;
}

}  // namespace

void init_bounds(node_ref argument_storage, node_ref frame_storage) {
    memory::series_buffer* args = memory::buffer_of(argument_storage);
    memory::series_buffer* frames = memory::buffer_of(frame_storage);
    state = record{};
    state.args_begin = state.args_base = state.args_top = reinterpret_cast<cell*>(args->data());
    state.args_end = reinterpret_cast<cell*>(args->data_end());
    state.frames_begin = state.frames_top = reinterpret_cast<frame*>(frames->data());
    state.frames_end = state.frames_begin + FRAME_COUNT;
}

void set_frame_symbols(uint32_t body_symbol, uint32_t anon_symbol) {
    state.body_symbol = body_symbol;
    state.anon_symbol = anon_symbol;
}

// --- Argument stack ---------------------------------------------------------------------

cell* set_result(const cell* value) { return cell::copy(value, state.args_base); }

void adopt_thrown_error() {
    cell* last = last_slot();
    if (last->is(TYPE_ERROR)) cell::copy(last, state.args_base);
    keep_result_slot();
}

// --- Frames ---------------------------------------------------------------------------------

void push_function_frame(const cell* word, node_ref function_context) {
    uint32_t saved = function_context ? context_values_of(function_context) : 0;
    push_frame(uint32_t(FRAME_FUNCTION) << 24, word, function_context, saved);
}

void push_call_frame(const cell* word) { push_frame(uint32_t(FRAME_CALL) << 24, word, 0, 0); }
void push_try_frame() { push_frame(uint32_t(FRAME_TRY) << 24, nullptr, 0, 0); }
void push_barrier_frame() { push_frame(uint32_t(FRAME_BARRIER) << 24, nullptr, 0, 0); }
// A named catch keeps its names cell's argument-stack index + 1 in the frame's
// saved-values word, which no other catch frame uses (and the collector reads only for
// function frames): the names lie below the frame's base for as long as it exists.
void push_catch_frame(const cell* names) {
    push_frame(uint32_t(FRAME_CATCH) << 24, nullptr, 0, names ? base_index(names) + 1 : 0);
}
void push_loop_frame() { push_frame(uint32_t(FRAME_LOOP) << 24, nullptr, 0, 0); }

void set_body_flag(bool on) {
    frame* f = state.frames_top - 1;
    if (on) f->header |= FRAME_BODY_FLAG; else f->header &= ~FRAME_BODY_FLAG;
}

void set_interpreter_flag() { (state.frames_top - 1)->header |= FRAME_INTERPRETER_FLAG; }

frame* mark_caller_body() {
    if (state.frames_top - 2 < state.frames_begin) return nullptr;
    frame* f = state.frames_top - 2;
    if (f->header & FRAME_BODY_FLAG) return nullptr;
    f->header |= FRAME_BODY_FLAG;
    return f;
}

void clear_body_flag(frame* f) {
    if (f) f->header &= ~FRAME_BODY_FLAG;
}

bool has_flagged_frame(frame* from, bool only_one) {
    frame* f = from ? from : state.frames_top;
    while (f > state.frames_begin) {
        --f;
        if (f->header & FRAME_INTERPRETER_FLAG) return true;
        if (only_one) return false;
    }
    return false;
}

frame* top_frame() { return state.frames_top; }
void set_frames_top(frame* f) {
    assert(state.frames_begin <= f && f <= state.frames_end);
    state.frames_top = f;
}

namespace {

frame* pop_top(bool restore) {
    assert(state.frames_top > state.frames_begin);
    frame* f = --state.frames_top;
    if (restore) restore_function_context(f);
    return f;
}

void pop_drop(bool restore) {
    frame* f = pop_top(restore);
    state.args_base = base_at(f->saved_base);
    state.args_top = state.args_base;
}

}  // namespace

void pop_frame_drop_values() { pop_drop(false); }

// --- Unwinding ---------------------------------------------------------------------------------

frame* unwind_to_kind(frame_kind kind, bool keep) {
    cell* old_base = state.args_base;
    bool popped = false;
    frame* found = nullptr;
    while (state.frames_top > state.frames_begin) {
        frame* f = state.frames_top - 1;
        if (f->kind() == kind || f->kind() == FRAME_BARRIER) {
            found = f;
            break;
        }
        pop_top(true);
        old_base = base_at(f->saved_base);
        popped = true;
    }
    if (found) {
        // The base current inside the found frame is the one its child saved, which is
        // where the pops above left old_base; without keep, the base from before it.
        state.args_base = keep ? old_base : base_at(found->saved_base);
    } else {
        state.args_base = state.args_begin;
    }
    if (!popped) {
        state.args_top = state.args_base + 1;
    } else if (state.frames_top == state.frames_begin) {
        state.args_base = state.args_top = state.args_begin;
    } else {
        state.args_top = old_base + 1;
    }
    return found;
}

void mark_frames() {
    for (frame* f = state.frames_begin; f < state.frames_top; ++f) {
        if (is_self_frame(f)) gc::mark_block(&f->word_context); else gc::mark_context(&f->word_context);
        if (!f->function_context) continue;
        gc::mark_context(&f->function_context);
        // On-stack values are an argument-stack slot index, which holds no node; a context
        // with a value block saved that block's node.
        const cell* context_cell = memory::buffer_of(f->function_context)->head_cell();
        if (f->kind() == FRAME_FUNCTION && !(context_cell->header & context::FLAG_ON_STACK)) {
            gc::mark_block(&f->saved_values);
        }
    }
}

cell current_function_word() {
    // A remembered top above the current one names frames that no longer exist.
    frame* f = state.saved_frame_top && state.saved_frame_top <= state.frames_top ? state.saved_frame_top
                                                                                  : state.frames_top;
    state.saved_frame_top = nullptr;
    while (f > state.frames_begin) {
        --f;
        if (f->symbol() != 0 && is_listed(f)) return frame_word(f);
    }
    if (words::not_found.root_index >= 0) return *words::not_found;
    return cell{TYPE_NONE, 0, 0, 0};
}

// --- Non-local exits ------------------------------------------------------------------------------

void throw_error(cell* error) {
    cell value = *error;
    // An error overrides an exit still on its way: the catch point that takes the error
    // resumes evaluation, which must not find the abandoned exit pending.
    pending_code = 0;
    frame* found = nullptr;
    if (state.frames_top > state.frames_begin) {
        cell where = current_function_word();
        error::set_where(&value, &where);
        error::record_stack_level(&value, frame_depth());
        cell* top = state.args_top;
        found = unwind_to_kind(FRAME_TRY, false);
        if (found) --state.frames_top;
        state.args_top = top;
    }
    if (!found) {
        cell* slot = state.args_base;
        *slot = value;
        error::print_report(slot);
        platform::exit_process(platform::EXIT_UNCAUGHT_ERROR);
    }
    *push_slot() = value;
    throw_code(THROW_ERROR);
}

uint32_t pending_code = 0;

void throw_pending() {
    uint32_t code = take_pending();
    throw_code(code);
}

namespace {

// Whether a catch frame takes a throw of the name: an unnamed catch takes every throw; a
// named one a word! of one of its names (caseless).
bool catch_takes(const frame* f, const cell* name) {
    if (!f->saved_values) return true;
    if (!name->is(TYPE_WORD)) return false;
    const int32_t wanted = symbol::canonical_id(static_cast<int32_t>(name->w2));
    const cell* names = state.args_begin + (f->saved_values - 1);
    if (names->is(TYPE_WORD)) return symbol::canonical_id(static_cast<int32_t>(names->w2)) == wanted;
    if (!names->is(TYPE_BLOCK)) return false;
    memory::series_buffer* b = memory::buffer_of(names->w2);
    const int64_t from = static_cast<int32_t>(names->w1);
    for (const cell* c = b->head_cell() + (from < 0 ? 0 : from); c < b->tail_cell(); ++c) {
        if (c->is(TYPE_WORD) && symbol::canonical_id(static_cast<int32_t>(c->w2)) == wanted) return true;
    }
    return false;
}

// Records the exit as pending; it travels by return values from here.
uint32_t record_pending(uint32_t code) {
    last_throw_code = code;
    pending_code = code;
    return code;
}

// Raises the error of an exit that found no target. The walk changed nothing, so the
// error comes from the native's own frame.
[[noreturn]] void no_target(err id, const cell* value = nullptr) { raise::throw_error(id, value); }

}  // namespace

uint32_t leave_loop(bool is_continue, bool with_value) {
    cell value = *state.args_base;
    const exit_target target = find_exit_frame([](const frame* f) { return f->kind() == FRAME_LOOP; });
    if (!target.found) no_target(is_continue ? err::throw_continue : err::throw_break);
    cell* inner = base_inside(target.found);
    pop_above(target);
    // The value stays below args_top until the catch point takes it, so that nothing
    // run on the way there (a tracer's epilog event) can overwrite it.
    state.args_base = inner;
    state.args_top = inner + 1;
    if (with_value && !is_continue) *inner = value; else cell::init_unset(inner);
    return record_pending(is_continue ? THROW_CONTINUE : THROW_BREAK);
}

namespace {

bool takes_return(const frame* f) { return (f->header & FRAME_BODY_FLAG) != 0; }

uint32_t land_return(const exit_target& target, const cell& value, bool with_value) {
    cell* inner = base_inside(target.found);
    pop_above(target);
    state.args_base = inner;
    state.args_top = inner + 1;
    if (with_value) *inner = value; else cell::init_unset(inner);
    return record_pending(with_value ? THROW_RETURN : THROW_EXIT);
}

}  // namespace

uint32_t leave_function(bool with_value) {
    const cell value = *state.args_base;
    const exit_target target = find_exit_frame(takes_return);
    if (!target.found) no_target(err::throw_return);
    return land_return(target, value, with_value);
}

bool return_from_top(const cell& value) {
    const exit_target target = find_exit_frame<false>(takes_return);
    if (!target.found) return false;
    land_return(target, value, true);
    return true;
}

uint32_t leave_to_catch(uint32_t code) {
    cell value = state.args_base[0];
    cell name = state.args_top > state.args_base + 1 ? state.args_base[1] : cell{TYPE_NONE, 0, 0, 0};
    const bool saving = !state.saved_frame_top && state.frames_top > state.frames_begin;
    if (saving) state.saved_frame_top = state.frames_top - 1;
    const exit_target target =
        find_exit_frame([&name](const frame* f) { return f->kind() == FRAME_CATCH && catch_takes(f, &name); });
    if (!target.found) no_target(err::throw_throw, &value);
    // The remembered top serves the "where" of a throw that finds no catch; once the
    // throw lands, the frames it names are gone and must not be read again.
    if (saving) state.saved_frame_top = nullptr;
    cell* inner = base_inside(target.found);
    pop_above(target);
    state.args_base = state.args_top = inner;
    *push_slot() = value;
    *push_slot() = name;
    return record_pending(code);
}

void throw_loop_exit(bool is_continue, bool with_value) {
    leave_loop(is_continue, with_value);
    throw_pending();
}

void throw_function_exit(bool with_value) {
    leave_function(with_value);
    throw_pending();
}

void throw_value(uint32_t code) {
    leave_to_catch(code);
    throw_pending();
}

// --- Walks ---------------------------------------------------------------------------------------

namespace {

frame* frame_at_depth(int depth) {
    int top = frame_depth();
    return state.frames_begin + (depth < 0 ? 0 : depth > top ? top : depth);
}

// Whether the call trail lists the frame: its symbol's value in its word context is a
// function!, or any frame at a detail above 1.
bool in_call_trail(const frame* f, int detail) {
    if (f->symbol() == 0 || !is_listed(f)) return false;
    if (detail > 1) return true;
    auto symbol = static_cast<int32_t>(f->symbol());
    node_ref context = is_self_frame(f) || !f->word_context ? context::global : f->word_context;
    const cell* value = context::value_of_symbol(context, symbol);
    return value && value->is(TYPE_FUNCTION);
}

}  // namespace

void collect_trace(cell* block) {
    cell* scratch = push_slot();
    // Frames are read by depth: appending allocates, and a collection may rewrite them.
    for (int depth = frame_depth() - 1; depth >= 1; --depth) {
        frame* f = state.frames_begin + depth;
        if (f->symbol() == 0 || !is_listed(f)) continue;
        uint32_t base = f->saved_base;
        *scratch = frame_word(state.frames_begin + depth);
        block::append_copy(block, scratch);
        *scratch = cell{TYPE_INTEGER, 0, base, 0};
        block::append_copy(block, scratch);
    }
    drop_slots(1);
}

void collect_call_trail(int detail, cell* block, int end_depth) {
    cell* scratch = push_slot();
    int end = static_cast<int>(frame_at_depth(end_depth) - state.frames_begin);
    for (int depth = 0; depth < end; ++depth) {
        frame* f = state.frames_begin + depth;
        if (!in_call_trail(f, detail)) continue;
        *scratch = *word::make_global(static_cast<int32_t>(state.frames_begin[depth].symbol()));
        block::append_copy(block, scratch);
    }
    drop_slots(1);
}

int form_call_trail(int detail, cell* string, int end_depth, int budget) {
    cell* scratch = push_slot();
    cell* limit = push_slot();
    int end = static_cast<int>(frame_at_depth(end_depth) - state.frames_begin);
    for (int depth = 0; depth < end; ++depth) {
        frame* f = state.frames_begin + depth;
        if (!in_call_trail(f, detail)) continue;
        *scratch = *word::make_global(static_cast<int32_t>(state.frames_begin[depth].symbol()));
        *limit = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(budget), 0};
        budget = actions::dispatch_form(scratch, string, limit, budget);
        string::append_c_string(string, " ");
        budget -= 1;
    }
    drop_slots(2);
    return budget;
}

}  // namespace zor::stack
