// The evaluation stack: an argument stack of cells and a stack of call frames.
//
// A called native, action or function finds its arguments from args_base on; the first
// argument cell is also its result slot. Both stacks live in fixed buffers that never
// move, so pointers to their cells stay valid (the cells' contents are roots for the
// collector up to args_top). Call frames record the called word, the caller's base and
// which non-local exits the frame stops; the exits travel as C++ exceptions carrying a
// throw code (runtime/eval/throw.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

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

struct frame {
    uint32_t header;          // bits 8-23 symbol id, 24-27 kind, 28 body flag, 31 interpreter flag
    uint32_t saved_base;      // the caller's args_base, as a cell index from args_begin
    node_ref word_context;    // context of the called word
    node_ref function_context;
    uint32_t saved_values;    // the function context's values before the call

    frame_kind kind() const { return static_cast<frame_kind>((header >> 24) & 0xF); }
    uint32_t symbol() const { return (header >> 8) & 0xFFFF; }
};
static_assert(sizeof(frame) == 20);

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
inline constexpr int FRAME_STORAGE_CELLS = 15000;
inline constexpr int FRAME_COUNT = 12000;

// Takes the buffers of the two fixed root blocks made at start-up.
void init_bounds(node_ref argument_storage, node_ref frame_storage);
void set_frame_symbols(uint32_t body_symbol, uint32_t anon_symbol);

// Argument stack.
cell* push_slot();
cell* push_copy(const cell* value);
void drop_slots(int n);
cell* last_slot();
type_id last_type();
cell* clear_frame_args();
void keep_result_slot();
cell* set_result(const cell* value);
cell* set_result_truncate(const cell* value);
void adopt_thrown_error();
inline cell* result_slot() { return state.args_base; }
inline cell* argument(int n) { return state.args_base + n; }

// Frames. A word argument names the frame; null gives symbol 0 and no context.
void push_function_frame(const cell* word, node_ref function_context);
void push_call_frame(const cell* word);
void push_interp_call_frame(const cell* word);
void push_interp_function_frame(const cell* word, node_ref function_context);
void push_try_frame();
void push_barrier_frame();
void push_catch_frame();
void push_loop_frame();
void push_block_frame();
void set_body_flag(bool on);
void set_interpreter_flag();
frame* mark_caller_body();
void clear_body_flag(frame* f);
bool has_flagged_frame(frame* from, bool only_one);
frame* top_frame();
void set_frames_top(frame* f);
int frame_depth();

void pop_frame();
void pop_function_frame();
void pop_frame_pass_result();
void pop_function_frame_pass_result();
void pop_frame_drop_values();
void pop_function_frame_drop_values();
void pop_frame_discard_result();

// Unwinding.
frame* unwind_to_kind(frame_kind kind, bool keep);
void unwind_to_kind_pass_result(frame_kind kind);

// The collector's root hook: marks (and rewrites, when their nodes moved) every call
// frame's word context and function context, and the saved values of a function context
// whose values live in a value block.
void mark_frames();

// The word of the innermost frame not named <body> or <anon>: the key word of its symbol
// in the frame's word context, else a global word of it; the word <not-found> when no
// frame qualifies (none before the predefined words exist).
cell current_function_word();

// Non-local exits.
[[noreturn]] void throw_error(cell* error);
[[noreturn]] void throw_loop_exit(bool is_continue, bool with_value);
[[noreturn]] void throw_function_exit(bool with_value);
[[noreturn]] void throw_value(uint32_t code);

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

}  // namespace zor::stack
