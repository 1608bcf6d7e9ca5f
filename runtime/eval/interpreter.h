// The interpreter: evaluates blocks of values on the evaluation stack.
//
// It walks a block expression by expression, resolves words, assigns set-words and
// set-paths, evaluates parens and paths, gathers the arguments of natives, actions, ops,
// functions and routines from the values that follow them, calls them, and looks ahead
// for infix operators after each complete expression (left to right, one precedence:
// `1 + 2 * 3` is 9). It reports its events to the tracer (runtime/eval/tracing.h) and
// raises the script errors of evaluation.
//
// Invariants for callers:
// - A code block is named by a rooted cell (an argument-stack slot, a root cell) and a
//   position; the interpreter reads its buffer again after every step, so the block may
//   move, grow or shrink while it runs (a position past the tail ends it).
// - Non-local exits (break, continue, return, exit, throw) come back as a pending exit
//   (runtime/eval/stack.h): after any of the calls below, when stack::exit_pending() is
//   set, return at once and leave the stacks alone; the catch point that owns the code
//   takes it. C++ code that cannot pass an exit on by returning uses run_block, which
//   turns a pending exit into the C++ exception. Errors always travel as exceptions.
// - The current-code cell always describes the innermost block being evaluated; every
//   block evaluation restores it when it ends, however it ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::eval {

// `eval/init`: the interpreter's cells (run once at start-up, after the boot literals).
void init();

// The current-code cell: the block being evaluated, its index at the expression being
// evaluated (error reports take it as their `near`); unset! outside any evaluation.
const cell& current_code();

// `eval/eval-block`: evaluates every expression of the block from its index; the result
// is the last expression's value (unset! for an empty block). With pass_result it lands
// in the caller's result slot (args_base) and args_top is left just above it; otherwise
// it stays in the cell at args_top where the block's frame began, with args_top just
// above it. Answers the pending exit code, 0 when the block ran to its end.
[[nodiscard]] uint32_t eval_block(const cell* block, bool pass_result);
// The block as the current call's result: eval_block with pass_result. For natives.
[[nodiscard]] inline uint32_t do_block(const cell* block) { return eval_block(block, true); }
// eval_block for C++ code that cannot pass an exit on: a pending exit is thrown.
void run_block(const cell* block, bool pass_result);
// upcalls::call_comparator: a sort comparator called with two values in a frame named
// <compare-callback>; answers its result cell (the last pushed cell).
cell* call_comparator(cell* function, cell* first, cell* second);

// A block that a loop evaluates pass after pass inside its loop frame: each run() is
// eval_block(block, true) exactly (its frame, events, current-code cell and result), with
// what stays the same from pass to pass (the native-depth check, the current-code cell to
// restore, whether the block is one plain chain) worked out once. The block is a cell that
// keeps its place for the scope (the loop's argument slot), read again on every pass, so
// a body that changes itself runs as the tree-walker runs it. Scopes nest with the
// interpreter's own evaluations.
class loop_body {
public:
    explicit loop_body(const cell* block);
    ~loop_body();
    loop_body(const loop_body&) = delete;
    loop_body& operator=(const loop_body&) = delete;
    [[nodiscard]] uint32_t run();

private:
    const cell* block_;
    size_t saved_code_;           // held cell: the current-code cell each pass gives back
    bool try_plain_ = true;       // cleared once the block was not a plain chain
    bool depth_checked_ = false;  // the native depth, checked at the first framed pass
};

// The value of the expression at the position when it is a plain chain (values, words
// holding values, inline operators on them: nothing that can fail, allocate, call or be
// traced), computed in place into *value with the fast tier on and tracing off. Answers
// the position after it, or -1 (nothing done) when the expression needs the interpreter.
int64_t plain_expression(const cell* code, int64_t position, cell* value);

// The variable a plain store into the word would write (a bound, resolved word of a
// context that is not an object's), or null when the assignment must go through
// word::set_value. With the fast tier off always null.
cell* plain_variable(const cell* word);

// `eval/eval-expression`: evaluates one expression of the code block from the position
// and answers the position after it. With push the value is pushed as the next argument;
// otherwise it replaces the current frame's contents as its result (args_top = args_base
// + 1). no_infix turns the infix lookahead off; keep_functions makes a function value met
// literally in the block a plain value instead of a call.
int64_t eval_expression(const cell* code, int64_t position, bool no_infix, bool push, bool keep_functions);
// `eval/eval-next`: one expression in its own interpreter call frame named <body> (any,
// all, case, reduce). Answers the position after it.
int64_t eval_next(const cell* code, int64_t position, bool push);
// `eval/do-next`: one expression of the block from its index as the current call's
// result; at the tail the result is unset! and the index stays. Answers the new index.
int64_t do_next(const cell* block);

// `eval/call`: calls a native!, action!, function!, routine! or op! (called as its
// source), gathering its arguments from the code at the position (code may be null for a
// call without arguments) and its refinements from the path elements after path_position
// when a path is given. word names the call's frame (null: the value before the position
// when it is a word, else <anon>). Outside infix mode the result is pushed at args_top
// (push) or becomes the current call's result; in infix mode the value at args_top - 1 is
// the first argument and the result replaces it. Answers the position after the
// arguments.
int64_t call(const cell* called, const cell* code, int64_t position, bool push, const cell* path,
             int64_t path_position, const cell* word, bool infix);

// How `apply` hands its arguments over: the arguments come from the cells of a block
// instead of the code. APPLY_ALL: the block holds every argument and refinement flag in
// spec order (values taken as they are); APPLY_SAFER with either: refinement arguments
// are taken only when the refinement's value is true.
inline constexpr uint32_t APPLY_ALL = 1;
inline constexpr uint32_t APPLY_EVALUATED = 2;
inline constexpr uint32_t APPLY_SAFER = 4;
// `apply`: calls the function with the arguments of the block (from its index) in the
// mode; path (or null) gives refinements as in a call through a path. The result goes
// to the current call's result slot.
void apply(const cell* function, const cell* arguments, uint32_t mode, const cell* path, const cell* word);

// A path walk that can stop before its first paren! element and resume there later.
// The caller keeps the record in a rooted place (its cells under a gc::root_guard).
struct path_resume {
    bool stop_at_paren = false;  // in: stop before the first paren! element
    int64_t element = -1;        // out: the element where the walk stopped; in: resume there
    cell value{TYPE_UNSET, 0, 0, 0};   // the value reached (the parent of that element)
    cell parent{TYPE_UNSET, 0, 0, 0};  // the value before it
};

// `eval/eval-path`: evaluates the path (a rooted path-type cell) met in the code at the
// position (the code may be null for a path evaluated on its own). set: assign the value
// at args_base (the set-path case); get: a function met is not called. With push the
// value is pushed, otherwise it becomes the result. Answers the position after the path
// and any arguments a call through it took.
int64_t eval_path(const cell* path, const cell* code, int64_t position, bool set, bool get, bool push,
                  path_resume* resume);

// A single value evaluated as a one-value expression (do of a word, a path, a function
// ...): the result goes to the current call's result slot. Answers the pending exit.
[[nodiscard]] uint32_t eval_value(const cell* value);

}  // namespace zor::eval
