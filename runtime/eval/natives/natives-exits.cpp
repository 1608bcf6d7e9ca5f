// The non-local exit natives: try and catch, which stop errors and throws, and break,
// continue, exit, return and throw, which start exits; with them the rule by which a
// native that stops exits hands a caught one back to its caller, and the trap ending of
// the compiled try forms.
//
// The exits travel as the stack module's pending exit (runtime/eval/stack.h): break and
// the others unwind to their target frame and answer the code; every evaluating routine
// then returns at once until the catch point that owns the code takes it. try and catch
// are such catch points: each pushes its frame, runs its block, and on the way back tells
// its own catch from an exit that merely passes it (which it answers on, untouched).
// Errors travel as C++ exceptions and only try takes them.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/eval/tracing.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"

namespace zor::natives {

namespace {


// The names of catch/name: a word!, or a block whose every entry from its index is a
// word! (anything else raises script/invalid-refine-arg naming `name` and the entry).
void check_catch_names(cell* names) {
    if (names->is(TYPE_WORD)) return;
    if (!names->is(TYPE_BLOCK)) {
        cell* refinement = stack::push_copy(words::name.get());
        raise::throw_error(err::script_invalid_refine_arg, refinement, names);
    }
    memory::series_buffer* b = memory::buffer_of(names->w2);
    int64_t from = static_cast<int32_t>(names->w1);
    for (int64_t i = from < 0 ? 0 : from; i < b->length(); ++i) {
        if (b->head_cell()[i].is(TYPE_WORD)) continue;
        cell* entry = stack::push_copy(block::get_cell(names, i));
        cell* refinement = stack::push_copy(words::name.get());
        raise::throw_error(err::script_invalid_refine_arg, refinement, entry);
    }
}

}  // namespace

bool called_by_interpreter() { return stack::has_flagged_frame(stack::top_frame(), true); }

uint32_t pass_exit(uint32_t code, bool interpreter_caller) {
    if (code == THROW_THROW || interpreter_caller) return code;
    // Out of the interpreter's reach: the caller takes the code from the answer (and
    // from last_throw_code), not as an exit still on its way.
    stack::take_pending();
    return code;
}

// try block /all /keep: a try frame, or with /all a barrier frame, around the block. A
// raised error is the result; /keep fills its stack field with the call trail first.
uint32_t native_try(const native_invocation& call) {
    const bool all = call.has(0);
    const bool keep = call.has(1);
    const bool interpreter_caller = called_by_interpreter();
    cell* block = block_argument(stack::argument(0), 0);
    if (all) stack::push_barrier_frame();
    else stack::push_try_frame();
    uint32_t code = 0;
    try {
        code = stack::catch_exits([&] { (void)eval::eval_block(block, true); });
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        // The error unwound the frames down to this try's own (its frame went too) and
        // lies on the stack's top.
        stack::adopt_thrown_error();
        if (keep && stack::result_slot()->is(TYPE_ERROR)) error::capture_stack(stack::result_slot());
        stack::keep_result_slot();
        last_throw_code = 0;
        return 0;
    }
    // A break, continue, return or exit whose target lies below this try, or a throw on
    // its way to a catch: the frames were unwound past this one already.
    if (code) return pass_exit(code, interpreter_caller);
    stack::pop_frame_pass_result();
    stack::keep_result_slot();
    last_throw_code = 0;
    return 0;
}

void finish_trap(bool keep) {
    cell* error = stack::last_slot();
    if (!error->is(TYPE_ERROR)) return;
    if (keep) error::capture_stack(error);
    // A throw with no catch was raised as throw/throw: a trap does not swallow it.
    const int32_t throw_symbol = symbol::canonical_id(words::throw_category.symbol());
    if (symbol::canonical_id(error::get_type_symbol(error)) == throw_symbol &&
        symbol::canonical_id(error::get_id_symbol(error)) == throw_symbol) {
        stack::throw_error(error);
    }
    stack::adopt_thrown_error();
}

// catch block /name word: a catch frame around the block. The throw's search (stack.h's
// leave_to_catch) takes this frame only when the names match, so a throw that reaches
// this native with this frame on top is its own.
uint32_t native_catch(const native_invocation& call) {
    cell* block = block_argument(stack::argument(0), 0);
    cell* names = nullptr;
    if (call.has(0)) {
        names = stack::argument(call.position(0));
        check_catch_names(names);
    }
    stack::push_catch_frame(names);
    stack::frame* own = stack::state.frames_top - 1;
    uint32_t code = stack::catch_exits([&] { (void)eval::eval_block(block, true); });
    if (code == THROW_THROW && stack::state.frames_top - 1 == own) {
        // The thrown value (and its name above it) lie at the frame's base.
        stack::take_pending();
        last_throw_code = 0;
        stack::pop_frame_pass_result();
        stack::keep_result_slot();
        tracing::fire_catch();
        return 0;
    }
    if (code) return code;
    stack::pop_frame_pass_result();
    stack::keep_result_slot();
    return 0;
}

// throw value /name word: the value and its name (unset! without /name) travel to the
// nearest catch that takes that name; throw/throw when none does.
uint32_t native_throw(const native_invocation& call) {
    tracing::fire_throw();
    while (stack::state.args_top < stack::state.args_base + 2) *stack::push_slot() = cell{TYPE_NONE, 0, 0, 0};
    if (!call.has(0)) cell::init_unset(stack::argument(1));
    return stack::leave_to_catch(THROW_THROW);
}

// break /return value
uint32_t native_break(const native_invocation& call) {
    return stack::leave_loop(false, call.has(0));
}

uint32_t native_continue(const native_invocation&) { return stack::leave_loop(true, false); }

uint32_t native_exit(const native_invocation&) { return stack::leave_function(false); }

uint32_t native_return(const native_invocation&) { return stack::leave_function(true); }

}  // namespace zor::natives
