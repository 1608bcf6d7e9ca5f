// routine!: building routines for the boot code, their argument count, texts and
// comparison.
#include "runtime/datatypes/routine.h"

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"

namespace zor::routine {

namespace {

// The word! cells of the whole spec series.
int64_t count_words(node_ref spec) {
    memory::series_buffer* b = memory::buffer_of(spec);
    int64_t count = 0;
    for (const cell* c = b->head_cell(); c < b->tail_cell(); ++c) count += c->is(TYPE_WORD);
    return count;
}

[[noreturn]] void too_many_arguments(node_ref spec) {
    cell named{TYPE_BLOCK, 0, spec, 0};
    raise::throw_error(err::script_bad_func_def, &named);
}

}  // namespace

cell* set_arity(cell* routine) {
    int64_t count = count_words(routine->w2);
    if (count > MAX_ARITY) too_many_arguments(routine->w2);
    routine->header = (routine->header & ~ARITY_MASK) | (static_cast<uint32_t>(count) << ARITY_SHIFT);
    return routine;
}

cell* push_new(const cell* spec, const cell* body, int32_t code, int32_t second, bool cell_calling) {
    if (!spec->is(TYPE_BLOCK)) raise::throw_error(err::script_bad_func_def, spec);
    if (count_words(spec->w2) > MAX_ARITY) too_many_arguments(spec->w2);

    cell* result = stack::push_slot();
    // The whole spec: the context, the count and every text read it from its head.
    cell* spec_held = stack::push_copy(spec);
    spec_held->w1 = 0;
    cell* body_held = stack::push_copy(body ? body : &none::value);
    node_ref extras_node = memory::alloc_unset_cells(function::EXTRAS_COUNT);
    cell* extras = stack::push_slot();
    *extras = cell{TYPE_BLOCK, 0, extras_node, 0};
    node_ref routine_context = context::make_from_words(spec_held, true, false, context::KIND_FUNCTION);
    // Nothing below allocates: the extras series has room for its five cells.
    *result = cell{TYPE_ROUTINE | (cell_calling ? FLAG_CELL_CALLING : 0u), routine_context, spec_held->w2, extras->w2};
    memory::series_buffer* x = memory::buffer_of(extras->w2);
    *memory::alloc_tail_cell(x) = *body_held;
    *memory::alloc_tail_cell(x) = cell{TYPE_UNSET, 0, 0, 0};
    *memory::alloc_tail_cell(x) = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(code), 0};
    *memory::alloc_tail_cell(x) = cell{TYPE_UNSET, 0, 0, 0};
    *memory::alloc_tail_cell(x) = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(second), 0};
    set_arity(result);
    stack::state.args_top = result + 1;
    return result;
}

int form(cell* /*value*/, cell* output, cell* /*part*/, int budget) {
    string::append_c_string(output, "?routine?");
    return callable::spend(budget, 9);
}

// "routine ", the spec, then a block body right after it, or one space and the molded body.
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    stack::slot_mark mark;
    cell spec_cell = callable::spec_block(value);
    cell* spec = stack::push_copy(&spec_cell);
    cell* body = stack::push_copy(function::extras_cell(value, function::EXTRAS_BODY));
    string::append_c_string(output, "routine ");
    budget = block::mold(spec, output, only, all, flat, part, callable::spend(budget, 8), indent);
    if (!body->is(TYPE_BLOCK)) {
        string::append_c_string(output, " ");
        budget = callable::spend(budget, 1);
    }
    return actions::dispatch_mold(body, output, only, all, flat, part, budget, indent);
}

int compare(cell* value, cell* other, int op) { return callable::compare_identity(value, other, op, value->w3, other->w3); }

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.inherit(ACTION_REFLECT);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", list);
}

}  // namespace zor::routine
