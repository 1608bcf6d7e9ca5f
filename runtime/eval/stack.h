// The evaluation stack: an argument stack of cells and a stack of call frames.
//
// A called native, action or function finds its arguments from args_base on; the first
// argument cell is also its result slot. Both stacks live in fixed buffers that never
// move, so pointers to their cells stay valid (the cells' contents are roots for the
// collector up to args_top). Call frames record the called word, the caller's base and
// which non-local exits the frame stops.
//
// Non-local exits. Errors and quit travel as C++ exceptions carrying a throw code
// (runtime/eval/throw.h). break, continue, return, exit and throw are ordinary control
// flow and travel as a pending exit instead: the exit operation (leave_loop,
// leave_function, leave_to_catch) unwinds the frame stack to the frame that takes the
// exit, leaves its value there, records the code in pending_code and returns normally.
// From then on every evaluating routine returns at once, without touching either stack,
// until the catch point that owns the code takes it (take_pending). The invariant for
// every routine that evaluates code: after a call that may evaluate, test
// exit_pending(); when it is set, return at once and leave the stacks as they are.
// C++ code that cannot pass an exit on by returning (a callback called from inside an
// action handler, say) calls throw_if_pending(), which turns the pending exit into the
// C++ exception; a catch point turns such an exception back into the pending exit
// (catch_exits), so an exit reaches its target either way.
//
// The assertions (builds without NDEBUG) keep both stacks inside their buffers and the
// frames balanced: a frame is popped only above the bottom, gives back a base no higher
// than its own, and a call returns with its own frame on top (assert_balanced).
#pragma once

#include <cassert>
#include <cstdint>
#include <exception>

#include "runtime/memory/memory.h"
#include "runtime/value/cell.h"
#include "runtime/eval/throw.h"

namespace zor::stack {

enum frame_kind : uint32_t {
    FRAME_FUNCTION = 1,
    FRAME_CALL = 2,
    FRAME_TRY = 4,
    FRAME_BARRIER = 5,
    FRAME_CATCH = 6,
    FRAME_BLOCK = 7,
    FRAME_LOOP = 8,
};

inline constexpr uint32_t FRAME_BODY_FLAG = 0x10000000;         // target of return and exit
inline constexpr uint32_t FRAME_INTERPRETER_FLAG = 0x80000000;  // pushed by the interpreter

inline constexpr uint32_t FRAME_KIND_SHIFT = 24;

// A call frame. The symbol id has a word of its own: every id names its word, however
// many symbols exist.
struct frame {
    uint32_t header;          // bits 24-27 kind, 28 body flag, 31 interpreter flag
    uint32_t symbol_id;       // symbol of the called word, 0 for none
    uint32_t saved_base;      // the caller's args_base, as a cell index from args_begin
    node_ref word_context;    // context of the called word (a block node for `self`)
    node_ref function_context;
    uint32_t saved_values;    // the function context's values before the call

    frame_kind kind() const { return static_cast<frame_kind>((header >> FRAME_KIND_SHIFT) & 0xF); }
    uint32_t symbol() const { return symbol_id; }
};
static_assert(sizeof(frame) == 24);

struct record {
    cell* args_begin = nullptr;
    cell* args_end = nullptr;
    cell* args_base = nullptr;
    cell* args_top = nullptr;
    frame* frames_begin = nullptr;
    frame* frames_end = nullptr;
    frame* frames_top = nullptr;
    uint32_t body_symbol = 0;
    uint32_t anon_symbol = 0;
    frame* saved_frame_top = nullptr;
};
extern record state;

inline constexpr int ARGUMENT_CELLS = 20000;
inline constexpr int FRAME_COUNT = 12000;
// The frame storage block holds FRAME_COUNT frames exactly.
inline constexpr int FRAME_STORAGE_CELLS = FRAME_COUNT * int(sizeof(frame)) / int(sizeof(cell));
static_assert(FRAME_STORAGE_CELLS * sizeof(cell) == FRAME_COUNT * sizeof(frame));

// Takes the buffers of the two fixed root blocks made at start-up.
void init_bounds(node_ref argument_storage, node_ref frame_storage);
void set_frame_symbols(uint32_t body_symbol, uint32_t anon_symbol);

// Raises internal/stack-overflow when either stack is full (kept out of line: the pushes
// below are inline, since every evaluation step makes several).
[[noreturn]] void overflow();

// Argument stack.
[[gnu::always_inline]] inline cell* push_slot() {
    if (state.args_top + 1 >= state.args_end) [[unlikely]]
        overflow();
    // Every slot below the top is a root: a new one must never show the collector what an
    // earlier call left there (a value whose series may be long gone).
    cell::init_unset(state.args_top);
    return state.args_top++;
}
// Nothing runs between the slot's taking and its filling, so the slot needs no unset!
// placeholder first.
[[gnu::always_inline]] inline cell* push_copy(const cell* value) {
    cell copy = *value;  // the value may be a slot that an overflow reset would reuse
    if (state.args_top + 1 >= state.args_end) [[unlikely]]
        overflow();
    cell* slot = state.args_top++;
    *slot = copy;
    return slot;
}
inline void drop_slots(int n) {
    assert(n >= 0);
    state.args_top = state.args_top - n < state.args_begin ? state.args_begin : state.args_top - n;
}
inline cell* last_slot() { return state.args_top > state.args_begin ? state.args_top - 1 : state.args_begin; }
inline cell* clear_frame_args() {
    state.args_top = state.args_base;
    return state.args_base;
}
inline void keep_result_slot() { state.args_top = state.args_base + 1; }
cell* set_result(const cell* value);
inline cell* set_result_truncate(const cell* value) {
    cell::copy(value, state.args_base);
    keep_result_slot();
    return state.args_base;
}
void adopt_thrown_error();
inline cell* result_slot() { return state.args_base; }
inline cell* argument(int n) {
    assert(n >= 0 && state.args_base + n < state.args_end);
    return state.args_base + n;
}

// Frames. A word argument names the frame; null gives symbol 0 and no context.
namespace detail {
[[gnu::always_inline]] inline void push_frame(uint32_t header, const cell* word, node_ref function_context,
                                              uint32_t saved_values) {
    if (state.frames_top >= state.frames_end) [[unlikely]]
        overflow();
    assert(state.args_begin <= state.args_base && state.args_base <= state.args_top && state.args_top < state.args_end);
    frame* f = state.frames_top++;
    f->header = header;
    f->symbol_id = word ? word->w2 : 0;
    f->saved_base = static_cast<uint32_t>(state.args_base - state.args_begin);
    f->word_context = word ? word->w1 : 0;
    f->function_context = function_context;
    f->saved_values = saved_values;
    state.args_base = state.args_top;
}
// The values word of a function context (its record's second payload word).
inline uint32_t context_values_of(node_ref context) { return memory::buffer_of(context)->head_cell()->w2; }
}  // namespace detail

void push_function_frame(const cell* word, node_ref function_context);
void push_call_frame(const cell* word);
[[gnu::always_inline]] inline void push_interp_call_frame(const cell* word) {
    detail::push_frame((uint32_t(FRAME_CALL) << FRAME_KIND_SHIFT) | FRAME_INTERPRETER_FLAG, word, 0, 0);
}
inline void push_interp_function_frame(const cell* word, node_ref function_context) {
    uint32_t saved = function_context ? detail::context_values_of(function_context) : 0;
    detail::push_frame((uint32_t(FRAME_FUNCTION) << FRAME_KIND_SHIFT) | FRAME_INTERPRETER_FLAG, word,
                       function_context, saved);
}
void push_try_frame();
void push_barrier_frame();
// A catch frame; with names (an argument-stack cell: a word!, or a block of words) only
// a throw of one of those names stops there (leave_to_catch matches them while it
// searches); without, every throw does.
void push_catch_frame(const cell* names = nullptr);
void push_loop_frame();
// The frame of a block evaluation, named <body>.
[[gnu::always_inline]] inline void push_block_frame() {
    if (state.frames_top >= state.frames_end) [[unlikely]]
        overflow();
    assert(state.args_begin <= state.args_base && state.args_base <= state.args_top && state.args_top < state.args_end);
    frame* f = state.frames_top++;
    f->header = (uint32_t(FRAME_BLOCK) << FRAME_KIND_SHIFT) | FRAME_INTERPRETER_FLAG;
    f->symbol_id = state.body_symbol;
    f->saved_base = static_cast<uint32_t>(state.args_base - state.args_begin);
    f->word_context = 0;
    f->function_context = 0;
    f->saved_values = 0;
    state.args_base = state.args_top;
}
void set_body_flag(bool on);
void set_interpreter_flag();
frame* mark_caller_body();
void clear_body_flag(frame* f);
bool has_flagged_frame(frame* from, bool only_one);
frame* top_frame();
void set_frames_top(frame* f);
inline int frame_depth() { return static_cast<int>(state.frames_top - state.frames_begin); }
// Frame balance on return from a call: the call's own frame (own) is the top frame again
// and the call's base (base) the current one. A callee that left a frame behind, or took
// one of its caller's, would otherwise make every caller above it return to the wrong
// base.
inline void assert_balanced([[maybe_unused]] const frame* own, [[maybe_unused]] const cell* base) {
    assert(state.frames_top == own + 1 && state.args_base == base && base <= state.args_top);
}

namespace detail {
// A function frame gives its context back the values it had before the call.
[[gnu::always_inline]] inline void restore_function_context(const frame* f) {
    if (f->kind() == FRAME_FUNCTION && f->function_context)
        memory::buffer_of(f->function_context)->head_cell()->w2 = f->saved_values;
}
[[gnu::always_inline]] inline void pop_keep_result(bool restore, bool pass) {
    assert(state.frames_top > state.frames_begin);
    cell* old_base = state.args_base;
    frame* f = --state.frames_top;
    // The caller's base lies at or below the callee's, and the callee's result slot is on
    // the stack.
    assert(state.args_begin + f->saved_base <= old_base && old_base < state.args_end);
    if (restore) restore_function_context(f);
    state.args_top = old_base + 1;
    state.args_base = state.args_begin + f->saved_base;
    if (pass) cell::copy(old_base, state.args_base);
}
}  // namespace detail

[[gnu::always_inline]] inline void pop_frame() { detail::pop_keep_result(false, false); }
[[gnu::always_inline]] inline void pop_function_frame() { detail::pop_keep_result(true, false); }
[[gnu::always_inline]] inline void pop_frame_pass_result() { detail::pop_keep_result(false, true); }
[[gnu::always_inline]] inline void pop_function_frame_pass_result() { detail::pop_keep_result(true, true); }
void pop_frame_drop_values();

// Unwinding.
frame* unwind_to_kind(frame_kind kind, bool keep);

// The collector's root hook: marks (and rewrites, when their nodes moved) every call
// frame's word context and function context, and the saved values of a function context
// whose values live in a value block.
void mark_frames();

// The word of the innermost frame not named <body> or <anon>: the key word of its symbol
// in the frame's word context, else a global word of it; the word <not-found> when no
// frame qualifies (none before the predefined words exist).
cell current_function_word();

// --- Walks ---------------------------------------------------------------------------------

// `stack/collect-trace`: for each frame from the top down to the one above the bottom
// frame, skipping <body> and <anon>, appends the frame's word (bound to its word
// context, else global) and an integer! of its saved base as a cell index. The block is
// a rooted block! cell.
void collect_trace(cell* block);
// `stack/collect-call-trail`: for the frames from the first up to (not including) the
// frame at end_depth, skipping <body> and <anon>, appends a global word of the frame's
// symbol when that symbol's value in the frame's word context is a function!, or for
// every such frame when detail is above 1.
void collect_call_trail(int detail, cell* block, int end_depth);
// `stack/form-call-trail`: the same walk, forming each listed word into the string
// (limited by the budget) followed by one space; answers the budget left.
int form_call_trail(int detail, cell* string, int end_depth, int budget);

// --- Non-local exits ------------------------------------------------------------------------

// The exit in progress (THROW_BREAK ... THROW_THROW), 0 when none. See the module comment.
extern uint32_t pending_code;
inline bool exit_pending() { return pending_code != 0; }
// The codes that travel as pending exits.
inline bool is_exit_code(uint32_t code) { return code >= THROW_THROW && code <= THROW_BREAK; }
// A catch point takes the exit: answers the code and clears it.
inline uint32_t take_pending() {
    uint32_t code = pending_code;
    pending_code = 0;
    return code;
}
// Turns a pending exit into the C++ exception (for C++ code that cannot return it).
[[noreturn]] void throw_pending();
inline void throw_if_pending() {
    if (pending_code) throw_pending();
}
// A catch point for exits: runs the body; an exit that arrives as a C++ exception becomes
// the pending exit again. Errors and every other code pass on as exceptions. Answers the
// pending code, 0 when the body completed.
template <typename Body> uint32_t catch_exits(Body&& body) {
    try {
        body();
    } catch (const zor_throw& thrown) {
        if (!is_exit_code(thrown.code)) throw;
        pending_code = thrown.code;
    }
    return pending_code;
}

// The exits. Each is called from the frame of the native that performs it, so the search
// starts one frame below the top; none of them passes a barrier frame. The leave_ forms
// unwind to the target frame (which stays), make args_base the base that was current
// inside it, leave the exit's value in that cell with args_top just above it (a throw
// leaves its value and its name there), and record the pending exit; the throw_ forms do
// the same and then throw it as a C++ exception. With no target, the error of
// the exit (throw/break, throw/continue, throw/return, throw/throw) is raised from the
// native's own frame. A throw's search passes the catch frames whose names do not take
// its name (the cell above its value at args_base; unset! or none! for an unnamed
// throw, which only an unnamed catch takes).
uint32_t leave_loop(bool is_continue, bool with_value);
uint32_t leave_function(bool with_value);
// leave_function(true) of a return whose own frame was never pushed above the top frame,
// with its value: answers false, having changed nothing, when no frame takes the return.
bool return_from_top(const cell& value);
uint32_t leave_to_catch(uint32_t code);
[[noreturn]] void throw_loop_exit(bool is_continue, bool with_value);
[[noreturn]] void throw_function_exit(bool with_value);
[[noreturn]] void throw_value(uint32_t code);
// Unwinds to the nearest try or barrier frame and throws the error there; with no such
// frame prints the error report and ends the process with the uncaught-error status.
[[noreturn]] void throw_error(cell* error);

// Restores both stack tops and the frame top on scope exit: the guard of every catch
// point that resumes evaluation after a throw.
class stack_guard {
public:
    stack_guard() : base_(state.args_base), top_(state.args_top), frames_(state.frames_top) {}
    ~stack_guard() {
        if (armed_) restore();
    }
    void restore() {
        state.args_base = base_;
        state.args_top = top_;
        state.frames_top = frames_;
    }
    void release() { armed_ = false; }
    stack_guard(const stack_guard&) = delete;
    stack_guard& operator=(const stack_guard&) = delete;

private:
    cell* base_;
    cell* top_;
    frame* frames_;
    bool armed_ = true;
};

// Drops the argument-stack slots pushed after it when its scope ends normally: the work
// cells and new series a routine roots while it builds. While an error or a throw unwinds,
// the stack is left alone: the thrown value travels on it to the catch point, which
// restores the tops itself. The top is only ever lowered, never raised back over cells
// that were dropped meanwhile.
//
// A plain mark asks the runtime, when it is made and when it ends, whether an exception
// is unwinding (a tracer's end event runs user code from a destructor, so marks are made
// while one does). A routine on a hot path makes its mark with explicit_release and calls
// release() wherever it ends normally: the end of a mark never released is then known to
// be an unwinding, without asking.
struct explicit_release_t {};
inline constexpr explicit_release_t explicit_release{};

class slot_mark {
public:
    slot_mark() : slot_mark(state.args_top) {}
    explicit slot_mark(cell* first) : first_(first), exceptions_(std::uncaught_exceptions()) {}
    explicit slot_mark(explicit_release_t) : first_(state.args_top), exceptions_(UNWINDING_UNLESS_RELEASED) {
#ifndef NDEBUG
        made_with_ = std::uncaught_exceptions();
#endif
    }
    ~slot_mark() {
        if (exceptions_ >= 0) {
            if (std::uncaught_exceptions() == exceptions_) drop();
            return;
        }
        // A mark of a hot path that is not released ends only by an unwinding.
        assert(exceptions_ == RELEASED || std::uncaught_exceptions() > made_with_);
    }
    // The normal end of the scope: drops the slots now; nothing more happens at the end.
    void release() {
        drop();
        exceptions_ = RELEASED;
    }
    slot_mark(const slot_mark&) = delete;
    slot_mark& operator=(const slot_mark&) = delete;

    // Roots a series until the scope ends: raw units (bytes, integers, flags) whose contents
    // are not traced, a block of cells, or a map's pair block with its table.
    void hold_bytes(node_ref node) { *push_slot() = cell{TYPE_BINARY, 0, node, 0}; }
    void hold_block(node_ref node) { *push_slot() = cell{TYPE_BLOCK, 0, node, 0}; }
    void hold_map(node_ref values, node_ref table) { *push_slot() = cell{TYPE_MAP, 0, values, table}; }
    // A fresh unset! work cell.
    cell* scratch() {
        cell* c = push_slot();
        cell::init_unset(c);
        return c;
    }

private:
    static constexpr int UNWINDING_UNLESS_RELEASED = -1;
    static constexpr int RELEASED = -2;
    void drop() {
        if (state.args_top > first_) state.args_top = first_;
    }
    cell* first_;
    int exceptions_;  // at construction, or one of the two states of an explicit mark
#ifndef NDEBUG
    int made_with_ = 0;
#endif
};

}  // namespace zor::stack
