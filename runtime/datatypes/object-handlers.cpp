// object! change handlers: finding an object's on-change* and on-deep-change* fields,
// the change node that names them, calling them, and `set` on an object target.
//
// The change node is a series of two pair!-tagged cells (pair! only as a tag: the
// collector finds no reference in it), one for on-change* and one for on-deep-change*:
// word 1 the handler's field index in the object's context (-1: no such handler), word 2
// the handler's local count, word 3 the node of the handler's spec block that the count
// was taken for (0: not taken yet). Index and count are full 32-bit words. The count is
// taken again whenever the field holds a function whose spec is another series; the
// collector keeps the cached spec series alive as long as the change node names it, so a
// cached node can never come back as some other function's spec.
//
// A handler call is a function call frame named by the handler word with the arguments
// and the local section on the stack, run through upcalls::invoke_function. The section
// always holds at least as many cells as the function's context has keys, so a handler
// whose spec does not fit the call reads none! values, never cells past the stack top.
#include <algorithm>
#include <initializer_list>
#include <new>

#include "runtime/binding/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/owner-track.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/upcalls.h"

namespace zor::object {

namespace {

enum handler_cell : int { ON_CHANGE = 0, ON_DEEP_CHANGE = 1 };

cell* handler_entry(const cell* object, handler_cell which) {
    return memory::buffer_of(object->w3)->head_cell() + which;
}

int32_t handler_index(const cell* object, handler_cell which) {
    if (!object->w3) return -1;
    return static_cast<int32_t>(handler_entry(object, which)->w1);
}

bool names(int32_t symbol, const predefined_cell& word) {
    return word.root_index >= 0 && symbol::canonical_id(symbol) == symbol::canonical_id(word.symbol());
}

// The local count of the handler in the field, taken again when its spec changed.
int32_t local_count(const cell* object, handler_cell which, const cell* function) {
    cell* entry = handler_entry(object, which);
    if (entry->w3 != function->w2) {
        entry->w2 = static_cast<uint32_t>(std::max(function::count_locals(function->w2, 0, false), 0));
        entry->w3 = function->w2;
    }
    return static_cast<int32_t>(entry->w2);
}

// Runs the handler (a function! in a stack slot) with the arguments in a function call
// frame named by the handler word, then drops everything the call left on the stack.
void call_handler(const cell* object, cell* function, const predefined_cell& handler_word,
                  std::initializer_list<const cell*> arguments, int32_t locals, uint32_t flags) {
    cell* saved_top = stack::state.args_top;
    cell* word = stack::push_copy(handler_word.get());
    cell* context_holder = stack::push_copy(object);
    stack::push_function_frame(word, function->w1);
    cell* first = stack::state.args_top;
    for (const cell* argument : arguments) stack::push_copy(argument ? argument : &none::value);
    function::push_locals(locals);
    int64_t section = context::key_count(function->w1);
    while (stack::state.args_top - first < section) stack::push_copy(&none::value);
    upcalls::installed(upcalls::invoke_function)(function, context_holder->w1, word, flags);
    stack::pop_function_frame();
    stack::state.args_top = saved_top;
}

}  // namespace

node_ref make_change_node(node_ref on_change_spec, node_ref on_deep_change_spec, int32_t on_change_index,
                          int32_t on_deep_change_index, int32_t on_change_locals, int32_t on_deep_change_locals) {
    // The spec series are held in slots while the node is allocated.
    cell* specs = stack::push_slot();
    *specs = cell{TYPE_BLOCK, 0, on_change_spec, 0};
    cell* deep_spec = stack::push_slot();
    *deep_spec = cell{TYPE_BLOCK, 0, on_deep_change_spec, 0};
    node_ref node = memory::alloc_cells(2);
    memory::series_buffer* b = memory::buffer_of(node);
    cell* c = b->head_cell();
    c[ON_CHANGE] = cell{TYPE_PAIR, static_cast<uint32_t>(on_change_index), static_cast<uint32_t>(on_change_locals),
                        specs->w2};
    c[ON_DEEP_CHANGE] = cell{TYPE_PAIR, static_cast<uint32_t>(on_deep_change_index),
                             static_cast<uint32_t>(on_deep_change_locals), deep_spec->w2};
    b->tail = b->head + 2 * sizeof(cell);
    stack::drop_slots(2);
    return node;
}

node_ref find_handlers(node_ref context) {
    int32_t found[2] = {-1, -1};
    int32_t keys = context::key_count(context);
    for (int32_t i = 0; i < keys; ++i) {
        int32_t symbol = static_cast<int32_t>(context::word_at(context, i)->w2);
        if (names(symbol, words::on_change_star)) found[ON_CHANGE] = i;
        if (names(symbol, words::on_deep_change_star)) found[ON_DEEP_CHANGE] = i;
    }
    if (found[ON_CHANGE] < 0 && found[ON_DEEP_CHANGE] < 0) return 0;
    node_ref spec[2] = {0, 0};
    int32_t count[2] = {0, 0};
    for (int which = ON_CHANGE; which <= ON_DEEP_CHANGE; ++which) {
        if (found[which] < 0) continue;
        cell* value = context::value_at(context, found[which]);
        if (!value || (!value->is(TYPE_FUNCTION) && !value->is(TYPE_ROUTINE))) {
            cell word = *context::word_at(context, found[which]);
            word.header = TYPE_WORD;
            cell type = datatype::value_of(value ? value->type() : TYPE_UNSET);
            raise::throw_error(err::script_bad_field_set, &word, &type);
        }
        spec[which] = value->w2;
        count[which] = std::max(function::count_locals(value->w2, 0, false), 0);
    }
    return make_change_node(spec[ON_CHANGE], spec[ON_DEEP_CHANGE], found[ON_CHANGE], found[ON_DEEP_CHANGE],
                            count[ON_CHANGE], count[ON_DEEP_CHANGE]);
}

bool has_deep_handler(const cell* object) { return handler_index(object, ON_DEEP_CHANGE) != -1; }

node_ref install_change_handlers(node_ref /*context*/, int32_t on_change_index, int32_t on_change_locals,
                                 int32_t on_deep_change_index, int32_t on_deep_change_locals) {
    cell* object = stack::last_slot();
    node_ref node = make_change_node(0, 0, on_change_index, on_deep_change_index, on_change_locals,
                                     on_deep_change_locals);
    object->w3 = node;
    *context::self_cell(object->w1) = *object;
    if (on_deep_change_index != -1) owner_track::set_owner_deep(object, object, nullptr);
    *context::self_cell(object->w1) = *object;
    return object->w3;
}

void refresh_handlers(cell* object) {
    object->w3 = 0;
    object->w3 = find_handlers(object->w1);
    *context::self_cell(object->w1) = *object;
    if (has_deep_handler(object)) owner_track::set_owner_deep(object, object, nullptr);
}

namespace {

// Settles the ownership of an owner object's field once its on-change* handler is done,
// when the handler raised or threw too: a handler that put the old value back and then
// raised leaves the field as it was, one that raised after keeping the new value leaves
// that one owned. The normal path settles through settle(), outside any destructor, so
// that an error of the settlement itself travels as usual.
class field_settlement {
public:
    field_settlement(cell* object, int32_t field_index, cell* old_value)
        : object_(object), field_index_(field_index), old_value_(old_value) {}
    field_settlement(const field_settlement&) = delete;
    field_settlement& operator=(const field_settlement&) = delete;

    void settle() {
        settled_ = true;
        owner_track::settle_field(object_, field_index_, old_value_);
    }

    ~field_settlement() {
        if (settled_) return;
        // Reached only while the handler's exit travels, which nothing may overtake. The
        // settlement runs under its own catch point, so that should it fail (no room left
        // for the ownership records) its error stops there instead of unwinding frames
        // that the travelling exit's catcher still counts on; then the stacks and codes
        // are put back, and the field is left owned as far as the settlement got.
        stack::stack_guard stacks;
        const uint32_t travelling = last_throw_code;
        const uint32_t pending = stack::pending_code;
        try {
            stack::push_try_frame();
            owner_track::settle_field(object_, field_index_, old_value_);
        } catch (const zor_throw&) {
        } catch (const std::bad_alloc&) {
        }
        last_throw_code = travelling;
        stack::pending_code = pending;
    }

private:
    cell* object_;
    int32_t field_index_;
    cell* old_value_;
    bool settled_ = false;
};

void run_on_change(cell* object, cell* word, cell* old_value, cell* new_value, int32_t index) {
    cell* saved_top = stack::state.args_top;
    cell* owner = stack::push_copy(object);
    cell* field = context::value_at(owner->w1, index);
    cell* function = stack::push_copy(field ? field : &none::value);
    if (!function->is(TYPE_FUNCTION)) raise::throw_error(err::script_invalid_obj_evt, function);
    int32_t locals = local_count(owner, ON_CHANGE, function);
    cell* named = word;
    if (word->w1 != owner->w1) {
        named = stack::push_copy(word);
        context::bind_word(owner->w1, named);
    }
    call_handler(owner, function, words::on_change_star, {named, old_value, new_value}, locals, upcalls::INVOKE_ON_CHANGE);
    stack::state.args_top = saved_top;
}

}  // namespace

int32_t field_index_of(const cell* object, const cell* word) {
    if (word->w1 == object->w1 && static_cast<int32_t>(word->w3) >= 0) return static_cast<int32_t>(word->w3);
    return context::find_symbol(object->w1, static_cast<int32_t>(word->w2), true);
}

void fire_on_change(cell* object, cell* word, int32_t field_index, cell* old_value, cell* new_value) {
    int32_t index = handler_index(object, ON_CHANGE);
    // Every assignment of a field reaches this point, so the owner of deep changes takes
    // the new value here, after the handler had its say about what the field keeps.
    if (!has_deep_handler(object)) {
        if (index >= 0) run_on_change(object, word, old_value, new_value, index);
        return;
    }
    field_settlement settlement(object, field_index, old_value);
    if (index >= 0) run_on_change(object, word, old_value, new_value, index);
    settlement.settle();
}

void fire_on_change_from_stack(cell* object, cell* word) {
    cell* old_value = stack::last_slot();
    cell* new_value = old_value - 1;
    fire_on_change(object, word, field_index_of(object, word), old_value, new_value);
}

void fire_on_change_via_word(cell* object_word, cell* word) {
    cell* old_value = stack::last_slot();
    cell* new_value = old_value - 1;
    const cell* value = nullptr;
    if (word::is_any_word_type(object_word->type()) && object_word->w1) {
        int32_t index = static_cast<int32_t>(object_word->w3);
        if (index < 0) index = context::find_symbol(object_word->w1, static_cast<int32_t>(object_word->w2), true);
        if (index >= 0 && !context::values_on_stack(object_word->w1)) value = context::value_at(object_word->w1, index);
    }
    if (!value || !value->is(TYPE_OBJECT)) return;
    cell* object = stack::push_copy(value);
    fire_on_change(object, word, field_index_of(object, word), old_value, new_value);
}

void fire_on_deep_change(cell* owner, cell* word, cell* target, cell* action_word, cell* new_value, int32_t index,
                         int32_t part) {
    if (!owner->w3) raise::throw_error(err::script_invalid_obj_evt, owner);
    int32_t field_index = handler_index(owner, ON_DEEP_CHANGE);
    if (field_index < 0) return;
    cell* saved_top = stack::state.args_top;
    cell* held = stack::push_copy(owner);
    cell* field = context::value_at(held->w1, field_index);
    if (!field || !field->is(TYPE_FUNCTION)) {
        stack::state.args_top = saved_top;
        return;
    }
    cell* function = stack::push_copy(field);
    int32_t locals = local_count(held, ON_DEEP_CHANGE, function);
    cell* position = integer::push(index);
    cell* count = integer::push(part);
    call_handler(held, function, words::on_deep_change_star,
                 {held, word, target, action_word, new_value ? new_value : &none::value, position, count}, locals,
                 upcalls::INVOKE_ON_DEEP_CHANGE);
    stack::state.args_top = saved_top;
}

void set_from_values(cell* object, cell* value, bool any, bool only, bool some) {
    cell* saved_top = stack::state.args_top;
    cell* target = stack::push_copy(object);
    cell* source = stack::push_copy(value);
    cell* key = stack::push_slot();
    cell* assigned = stack::push_slot();
    // Handler fields named by the change node are never assigned here.
    int32_t skipped[2] = {handler_index(target, ON_CHANGE), handler_index(target, ON_DEEP_CHANGE)};
    auto mark_changed = [&](int32_t k) {
        if (k < context::key_count(target->w1)) context::word_at(target->w1, k)->header |= context::FLAG_KEY_TOUCHED;
    };
    // Field k takes the value in `assigned`.
    auto assign = [&](int32_t k) {
        mark_changed(k);
        if (k == skipped[0] || k == skipped[1]) return;
        cell* slot = context::value_at(target->w1, k);
        if (!slot) return;
        cell* mark = stack::state.args_top;
        cell* old_value = target->w3 ? stack::push_copy(slot) : nullptr;
        *slot = *assigned;
        if (target->w3) {
            *key = *context::word_at(target->w1, k);
            key->header = TYPE_WORD;
            cell* new_value = stack::push_copy(assigned);
            fire_on_change(target, key, k, old_value, new_value);
        }
        stack::state.args_top = mark;
    };
    bool block_source = source->is(TYPE_BLOCK);
    bool object_source = source->is(TYPE_OBJECT) || source->is(TYPE_ERROR) || source->is(TYPE_PORT);
    if (!only && (block_source || object_source)) {
        if (!some) {
            // Nothing is assigned before every value was found set.
            int32_t count = context::key_count(target->w1);
            int64_t available = block_source ? std::max<int64_t>(block::rest_length(source), 0)
                                             : context::value_count(source->w1);
            int64_t start = block_source ? series::clamped_index(source) : 0;
            for (int64_t k = 0; k < count && k < available; ++k) {
                const cell* v = block_source ? block::get_cell(source, start + k) : context::value_at(source->w1, int32_t(k));
                if (v && v->is(TYPE_UNSET) && !any) {
                    *key = *context::word_at(target->w1, static_cast<int32_t>(k));
                    key->header = TYPE_WORD;
                    raise::throw_error(err::script_need_value, key);
                }
            }
        }
        for (int32_t k = 0; k < context::key_count(target->w1); ++k) {
            if (block_source) {
                int64_t start = series::clamped_index(source);
                int64_t length = memory::buffer_of(source->w2)->length();
                *assigned = start + k < length ? *block::get_cell(source, start + k) : none::value;
            } else {
                int32_t j = context::find_symbol(source->w1, static_cast<int32_t>(context::word_at(target->w1, k)->w2), true);
                cell* v = j >= 0 ? context::value_at(source->w1, j) : nullptr;
                if (!v) continue;
                *assigned = *v;
            }
            if (some && assigned->is(TYPE_NONE)) continue;
            assign(k);
        }
    } else {
        for (int32_t k = 0; k < context::key_count(target->w1); ++k) {
            *assigned = *source;
            assign(k);
        }
    }
    stack::state.args_top = saved_top;
}

}  // namespace zor::object
