// function!: building function values, cloning them for objects, and their actions.
#include "runtime/datatypes/function.h"

#include <algorithm>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/binding/word-table.h"

namespace zor::function {

namespace {

int64_t length_of(const cell* block) { return memory::buffer_of(block->w2)->length(); }

// The block's index clamped into 0..length, written back.
void clamp_index(cell* block) {
    block->w1 = static_cast<uint32_t>(std::clamp<int64_t>(static_cast<int32_t>(block->w1), 0, length_of(block)));
}

bool is_field(int field_symbol, int32_t symbol) {
    return symbol::canonical_id(field_symbol) == symbol::canonical_id(symbol);
}

cell integer_or_unset(int32_t value) {
    return value ? cell{TYPE_INTEGER, 0, static_cast<uint32_t>(value), 0} : cell{TYPE_UNSET, 0, 0, 0};
}

int32_t integer_or_zero(const cell* c) { return c->is(TYPE_INTEGER) ? integer::read_cell(c) : 0; }

}  // namespace

cell* extras_cell(const cell* value, int index) { return memory::buffer_of(value->w3)->head_cell() + index; }

node_ref push_new(const cell* spec, const cell* body, node_ref context, int32_t code, int32_t extra, uint32_t flags) {
    if (!spec->is(TYPE_BLOCK)) raise::throw_error(err::script_bad_func_def, spec);
    if (!body->is(TYPE_BLOCK) && !body->is(TYPE_NONE)) raise::throw_error(err::script_bad_func_def, body);

    cell* result = stack::push_slot();
    // A given context is held as the two-cell series it is, so that the collector keeps it
    // and rewrites the reference if it moves the node.
    cell* given = stack::push_slot();
    if (context) *given = cell{TYPE_BLOCK, 0, context, 0};
    cell* spec_held = stack::push_copy(spec);
    cell* body_held = stack::push_copy(body);

    clamp_index(spec_held);
    if (series::index_of(spec_held) > 0) *spec_held = *block::push_copy(spec_held, false, false);
    if (body_held->is(TYPE_BLOCK)) {
        clamp_index(body_held);
        *body_held = *block::push_copy(body_held, true, true);
    }
    node_ref extras_node = memory::alloc_unset_cells(EXTRAS_COUNT);
    cell* extras = stack::push_slot();
    *extras = cell{TYPE_BLOCK, 0, extras_node, 0};

    node_ref function_context =
        context ? given->w2 : context::make_from_words(spec_held, true, false, context::KIND_FUNCTION);
    // Nothing below allocates: the extras series has room for its five cells, and binding
    // only rewrites words.
    *result = cell{(flags & ATTRIBUTE_MASK) | TYPE_FUNCTION, function_context, spec_held->w2, extras->w2};
    *context::self_cell(function_context) = *result;
    memory::series_buffer* x = memory::buffer_of(extras->w2);
    *memory::alloc_tail_cell(x) = body_held->is(TYPE_BLOCK) ? *body_held : none::value;
    *memory::alloc_tail_cell(x) = cell{TYPE_UNSET, 0, 0, 0};
    *memory::alloc_tail_cell(x) = integer_or_unset(code);
    *memory::alloc_tail_cell(x) = cell{TYPE_UNSET, 0, 0, 0};
    *memory::alloc_tail_cell(x) = integer_or_unset(extra);
    if (!context && body_held->is(TYPE_BLOCK)) context::bind_block(body_held, function_context, false);

    stack::state.args_top = result + 1;
    return function_context;
}

cell* clone_for_object(const cell* function, const cell* object) {
    cell* result = stack::push_slot();
    cell* source = stack::push_copy(function);
    bool interpreted = extras_cell(source, EXTRAS_BODY)->is(TYPE_BLOCK);
    // Without interpreted body there is nothing to run but the compiled code: it stays.
    int32_t code = interpreted ? 0 : integer_or_zero(extras_cell(source, EXTRAS_CODE));
    int32_t extra = interpreted ? 0 : integer_or_zero(extras_cell(source, EXTRAS_EXTRA));
    context::clone_for_value(source, context::KIND_FUNCTION);
    cell spec_cell = callable::spec_block(source);
    cell* spec = stack::push_copy(&spec_cell);
    cell* body = stack::push_copy(extras_cell(source, EXTRAS_BODY));
    push_new(spec, body, source->w1, code, extra, source->header & ATTRIBUTE_MASK);
    cell* made = stack::last_slot();
    if (interpreted) {
        cell* copy = stack::push_copy(extras_cell(made, EXTRAS_BODY));
        context::bind_block(copy, object->w1, true);
        context::bind_block(copy, made->w1, false);
    }
    *result = *made;
    stack::state.args_top = result + 1;
    return result;
}

// --- Actions ------------------------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    int32_t at = series::index_of(spec);
    if (!spec->is(TYPE_BLOCK) || at < 0 || block::rest_length(spec) < 2 || !block::get_cell(spec, at)->is(TYPE_BLOCK) ||
        !block::get_cell(spec, at + 1)->is(TYPE_BLOCK)) {
        raise::throw_error(err::script_bad_func_def, spec);
    }
    cell* function_spec = stack::push_copy(block::get_cell(spec, at));
    cell* body = stack::push_copy(block::get_cell(spec, at + 1));
    uint32_t flags = check_spec(function_spec);
    push_new(function_spec, body, 0, 0, 0, flags);
    *function_spec = *stack::last_slot();
    stack::state.args_top = function_spec + 1;
    return function_spec;
}

cell* reflect(cell* value, int field_symbol) {
    if (is_field(field_symbol, symbols::spec)) {
        cell spec = callable::spec_block(value);
        return stack::push_copy(&spec);
    }
    if (is_field(field_symbol, symbols::body)) return stack::push_copy(extras_cell(value, EXTRAS_BODY));
    if (is_field(field_symbol, symbols::words)) {
        cell* held = stack::push_copy(value);
        int32_t count = context::key_count(held->w1);
        cell* words = block::push_empty(std::max(count, 1));
        cell* scratch = stack::push_slot();
        for (int32_t i = 0; i < count; ++i) {
            *scratch = cell{TYPE_WORD, held->w1, context::word_at(held->w1, i)->w2, static_cast<uint32_t>(i)};
            block::append_copy(words, scratch);
        }
        *held = *words;
        stack::state.args_top = held + 1;
        return held;
    }
    raise::throw_error(err::internal_not_done);
}

int form(cell* /*value*/, cell* output, cell* /*part*/, int budget) {
    string::append_c_string(output, "?function?");
    return callable::spend(budget, 10);
}

int mold(cell* value, cell* output, bool /*only*/, bool all, bool flat, cell* part, int budget, int indent) {
    stack::slot_mark mark;
    cell spec_cell = callable::spec_block(value);
    cell* spec = stack::push_copy(&spec_cell);
    cell* body = stack::push_copy(extras_cell(value, EXTRAS_BODY));
    string::append_c_string(output, "func ");
    budget = block::mold(spec, output, false, all, flat, part, callable::spend(budget, 5), indent);
    if (body->is(TYPE_NONE)) {
        string::append_c_string(output, " none");
        return callable::spend(budget, 5);
    }
    return actions::dispatch_mold(body, output, false, all, flat, part, budget, indent);
}

int compare(cell* value, cell* other, int op) { return callable::compare_identity(value, other, op, value->w3, other->w3); }

void push_callback_arguments(const cell* callback, const cell* arguments, int count) {
    const node_ref context = callback->w1;
    const int32_t keys = context::key_count(context);
    bool positional = true;
    int given = 0;
    for (int32_t i = 0; i < keys; ++i) {
        const bool refinement = context::word_at(context, i)->is(TYPE_REFINEMENT);
        positional = positional && !refinement;
        cell* slot = stack::push_slot();
        if (positional) *slot = given < count ? arguments[given++] : none::value;
        else if (refinement) logic::make_in(slot, false);
        else *slot = none::value;
    }
}

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_REFLECT>(&reflect);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_FUNCTION, TYPE_CONTEXT, "function!", list);
}

}  // namespace zor::function
