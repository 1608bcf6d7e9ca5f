// The function makers: func, function, does and has.
//
// Each prepares the spec and body arguments in their argument cells (clamped indexes, a
// private copy of the spec where the maker edits it) and then builds the function the way
// func does: the spec is checked first, so a faulty spec raises before anything is made,
// and the new function! is copied into the result slot. None of them evaluates code, so
// none can meet a pending exit.
#include <algorithm>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/word-table.h"

namespace zor::natives {

namespace {

cell* base(int n) { return stack::argument(n); }

// The spec and body become part of a function, so a caller that skipped the type tests
// must still hand blocks: anything else is a bad function definition.
void require_block(const cell* value) {
    if (!value->is(TYPE_BLOCK)) raise::throw_error(err::script_bad_func_def, value);
}

// An index past the tail becomes the tail (and one before the head the head), written
// back into the argument cell.
void clamp_to_tail(cell* block) {
    require_block(block);
    int64_t length = memory::buffer_of(block->w2)->length();
    block->w1 = static_cast<uint32_t>(std::clamp<int64_t>(series::index_of(block), 0, length));
}

// The argument cell becomes a shallow copy of its block from the index (index 0).
void replace_by_copy(cell* argument) {
    *argument = *block::push_copy(argument, false, false);
    stack::drop_slots(1);
}

// What func does once spec (base 0) and body (base 1) are prepared.
uint32_t make_function() {
    cell* spec = base(0);
    cell* body = base(1);
    clamp_to_tail(spec);
    clamp_to_tail(body);
    uint32_t flags = function::check_spec(spec);
    function::push_new(spec, body, 0, 0, 0, flags);
    stack::set_result_truncate(stack::last_slot());
    return 0;
}

}  // namespace

uint32_t native_func(const native_invocation&) { return make_function(); }

// function spec body /extern: the set-words of the body (and the words of foreach,
// remove-each and repeat) become locals, except those the spec names or lists after its
// own /extern. The locals are added to a copy, so the caller's spec stays as it was.
uint32_t native_function(const native_invocation&) {
    clamp_to_tail(base(0));
    require_block(base(1));
    replace_by_copy(base(0));
    function::collect_locals(base(0), base(1));
    stack::state.args_top = base(2);
    return make_function();
}

// does body: a function with the empty spec.
uint32_t native_does(const native_invocation&) {
    require_block(base(0));
    stack::state.args_top = base(1);
    stack::push_copy(base(0));
    block::make_empty(base(0), 1);
    return make_function();
}

// has vars body: the vars become the locals of the spec [/local vars...].
uint32_t native_has(const native_invocation&) {
    clamp_to_tail(base(0));
    replace_by_copy(base(0));
    cell* local = stack::push_copy(refinements::local.get());
    block::insert_cell(base(0), local, false, true);
    stack::drop_slots(1);
    return make_function();
}

}  // namespace zor::natives
