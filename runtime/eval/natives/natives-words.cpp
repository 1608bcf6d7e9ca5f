// The words and contexts natives: get, set, unset, value?, bind, in, context?, construct
// and extend, with the block assignment of set (a block of words from a block of values).
//
// These are thin layers over the word, context and object modules: what they decide is
// which variant an argument's type and the refinements select. Assignments go through the
// word's own context, so an object field fires its on-change* handler; handlers are user
// code, so every word, value and block is read from its stack slot again after an
// assignment, and a word is assigned through a copy in a slot of its own (resolving it may
// add a key and move the buffer it came from). get and set of a path run the
// interpreter's path walk, whose parens may start a non-local exit: it is passed on as
// the pending exit.
#include <algorithm>
#include <cstdint>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/word-table.h"

namespace zor::natives {

namespace {

cell* base(int n) { return stack::argument(n); }

// Natives whose result is none! or unset! drop their arguments first.
void set_plain_result(const cell& value) {
    stack::clear_frame_args();
    *stack::result_slot() = value;
}

// word!, set-word!, lit-word! and get-word!: the words that hold values.
bool is_value_word(type_id type) { return type >= TYPE_WORD && type <= TYPE_GET_WORD; }

bool is_path(type_id type) {
    return type == TYPE_PATH || type == TYPE_LIT_PATH || type == TYPE_SET_PATH || type == TYPE_GET_PATH;
}

bool is_any_object(type_id type) { return type == TYPE_OBJECT || type == TYPE_ERROR || type == TYPE_PORT; }

// A caller that skipped the type tests handed a value of no accepted type: the error the
// test would have raised.
[[noreturn]] void wrong_type(const cell* value, int spec_position) { raise::expect_arg(value->type(), spec_position); }

// The value cell of a word, or null when the word names no value slot: bound to nothing,
// or not resolved yet and its context has no key of its symbol (a word that was never
// assigned). Everything else is read as the interpreter reads it, errors included.
const cell* value_slot(const cell* word) {
    if (!word->w1) return nullptr;
    if (word->w3 == word::INDEX_UNRESOLVED && static_cast<int32_t>(word->w2) != symbols::self &&
        !context::values_on_stack(word->w1)) {
        int32_t index = context::find_symbol(word->w1, static_cast<int32_t>(word->w2), true);
        return index < 0 ? nullptr : context::value_at(word->w1, index);
    }
    return word::get_value(word);
}

// --- Block assignment ---------------------------------------------------------------------------

// Values whose items the words take one by one (unless /only).
bool takes_items(type_id type) { return type == TYPE_MAP || series::is_block_like(type); }

// Item i (0-based) of the value into out: the cell at the value's index + i of a block-like
// value, none! outside it; a map!'s own pick.
void item_at(const cell* value, int64_t i, cell* out) {
    if (value->is(TYPE_MAP)) {
        cell* mark = stack::state.args_top;
        cell* held = stack::push_copy(value);
        cell* position = integer::push(static_cast<int32_t>(std::min<int64_t>(i + 1, INT32_MAX)));
        const cell picked = *actions::dispatch_pick(held, integer::read_cell(position), position);
        stack::state.args_top = mark;
        *out = picked;
        return;
    }
    int64_t p = int64_t(series::index_of(value)) + i;
    bool inside = value->w2 && p >= 0 && p < memory::buffer_of(value->w2)->length();
    *out = inside ? *block::get_cell(value, p) : none::value;
}

// Entry i (0-based, from the clamped index) of the words block into out; raises
// script/invalid-arg naming it unless it is a word that holds a value.
void word_entry(const cell* words, int64_t i, cell* out) {
    int64_t p = series::clamped_index(words) + i;
    *out = p < memory::buffer_of(words->w2)->length() ? *block::get_cell(words, p) : none::value;
    if (!is_value_word(out->type())) raise::throw_error(err::script_invalid_arg, out);
}

// The block assignment of set: n words from the block's index take the items of the value
// (or, with only or a value without items, the whole value). Nothing is assigned before
// every entry was found a word and, without any, every item set; with some a none! is
// skipped and the word keeps its value. words and value lie in stack slots.
void assign_words(cell* words, cell* value, int64_t n, bool any, bool only, bool some) {
    cell* mark = stack::state.args_top;
    cell* entry = stack::push_slot();
    cell* item = stack::push_slot();
    const bool itemwise = !only && takes_items(value->type());
    // Every entry and item is tested before the first assignment.
    for (int64_t i = 0; i < n; ++i) {
        word_entry(words, i, entry);
        if (any) continue;
        if (itemwise) item_at(value, i, item);
        else *item = *value;
        if (item->is(TYPE_UNSET)) raise::throw_error(err::script_need_value, entry);
    }
    for (int64_t i = 0; i < n; ++i) {
        if (itemwise) item_at(value, i, item);
        else *item = *value;
        if (some && item->is(TYPE_NONE)) continue;
        // A change handler run by an earlier assignment may have changed the block.
        word_entry(words, i, entry);
        word::set_value(entry, item);
    }
    stack::state.args_top = mark;
}

}  // namespace

// get word /any /case
uint32_t native_get(const native_invocation& call) {
    cell* target = base(0);
    if (is_path(target->type())) {
        // The walk in get mode: a function met on the way is a value, not a call.
        (void)eval::eval_path(target, nullptr, 0, false, true, false, nullptr);
        return stack::exit_pending() ? stack::pending_code : 0;
    }
    if (is_any_object(target->type())) {
        stack::set_result_truncate(actions::dispatch_reflect(target, symbols::values));
        return 0;
    }
    if (!is_value_word(target->type())) wrong_type(target, 0);
    const cell* slot = value_slot(target);
    const cell value = slot ? *slot : cell{TYPE_UNSET, 0, 0, 0};
    if (value.is(TYPE_UNSET) && !call.has(0)) raise::throw_error(err::script_no_value, target);
    stack::set_result_truncate(&value);
    return 0;
}

// set word value /any /case /only /some: the result is the value in every case.
uint32_t native_set(const native_invocation& call) {
    const bool any = call.has(0), only = call.has(2), some = call.has(3);
    cell* target = base(0);
    cell* value = base(1);
    stack::state.args_top = base(2);
    if (value->is(TYPE_UNSET) && !any) raise::throw_error(err::script_need_value, target);
    const type_id type = target->type();
    if (is_value_word(type)) {
        word::set_value(stack::push_copy(target), value);
    } else if (is_path(type)) {
        // The path walk in set mode assigns the value at the base of its frame.
        stack::push_call_frame(words::body);
        stack::push_copy(value);
        (void)eval::eval_path(target, nullptr, 0, true, false, false, nullptr);
        if (stack::exit_pending()) return stack::pending_code;
        stack::pop_frame();
    } else if (is_any_object(type)) {
        object::set_from_values(target, value, any, only, some);
    } else if (type == TYPE_BLOCK) {
        const int64_t n = memory::buffer_of(target->w2)->length() - series::clamped_index(target);
        stack::push_call_frame(words::body);
        assign_words(target, value, n, any, only, some);
        stack::pop_frame();
    } else {
        wrong_type(target, 0);
    }
    stack::set_result_truncate(base(1));
    return 0;
}

// unset word: a word, or every word! of a block from its index, becomes unset.
uint32_t native_unset(const native_invocation&) {
    cell* target = base(0);
    cell* nothing = stack::push_slot();
    cell* assigned = stack::push_slot();
    if (is_value_word(target->type())) {
        *assigned = *target;
        word::set_value(assigned, nothing);
    } else if (target->is(TYPE_BLOCK)) {
        // The block is read again after each assignment: a change handler may change it.
        for (int64_t i = series::clamped_index(target); i < memory::buffer_of(target->w2)->length(); ++i) {
            if (!block::get_cell(target, i)->is(TYPE_WORD)) continue;
            *assigned = *block::get_cell(target, i);
            word::set_value(assigned, nothing);
        }
    } else {
        wrong_type(target, 0);
    }
    set_plain_result(cell{TYPE_UNSET, 0, 0, 0});
    return 0;
}

// value? value: whether a word has a value other than unset!; any other value has one.
uint32_t native_value_q(const native_invocation&) {
    const cell* v = base(0);
    bool has_value = true;
    if (is_value_word(v->type())) {
        const cell* slot = value_slot(v);
        has_value = slot && !slot->is(TYPE_UNSET);
    }
    const cell answer = cell{TYPE_LOGIC, has_value ? 1u : 0u, 0, 0};
    stack::set_result_truncate(&answer);
    return 0;
}

namespace {

// The context that bind's second argument names, and whether it is an object's (whose
// `self` words are bound to it). Raises like the type test for anything else.
node_ref bind_target(const cell* where, bool* of_object) {
    const type_id type = where->type();
    *of_object = is_any_object(type);
    if (type == TYPE_FUNCTION || type == TYPE_ROUTINE || is_any_object(type)) return where->w1;
    if (is_value_word(type)) {
        if (!where->w1) raise::throw_error(err::script_not_defined, where);
        *of_object = context::kind_of(where->w1) == context::KIND_OBJECT;
        return where->w1;
    }
    wrong_type(where, 1);
}

}  // namespace

// bind word context /copy
uint32_t native_bind(const native_invocation& call) {
    cell* target = base(0);
    cell* where = base(1);
    stack::state.args_top = base(2);
    bool of_object = false;
    if (target->is(TYPE_BLOCK)) {
        bind_target(where, &of_object);
        if (call.has(0)) {
            cell* copy = block::push_copy(target, true, true);
            *target = *copy;
        }
        // The node is read after the copy: making it may have moved the context's node.
        node_ref bound_to = bind_target(where, &of_object);
        context::bind_block(target, bound_to, of_object);
    } else if (is_value_word(target->type())) {
        context::bind_word(bind_target(where, &of_object), target);
    } else {
        wrong_type(target, 0);
    }
    stack::keep_result_slot();
    return 0;
}

// in object word: the word bound, by a copy, to the context of the object or function;
// none! when the context lacks it. A refinement comes back as a word!.
uint32_t native_in(const native_invocation&) {
    cell* owner = base(0);
    cell* name = base(1);
    if (!is_value_word(name->type()) && !name->is(TYPE_REFINEMENT)) wrong_type(name, 1);
    stack::state.args_top = base(2);
    cell* bound = stack::push_copy(name);
    const type_id type = owner->type();
    const bool has_context = type == TYPE_FUNCTION || type == TYPE_ROUTINE || is_any_object(type) ||
                             (type == TYPE_OP && (op::source_type(owner) == TYPE_FUNCTION ||
                                                  op::source_type(owner) == TYPE_ROUTINE));
    node_ref bound_to = 0;
    if (has_context) {
        bound_to = owner->w1;
    } else if (type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP) {
        // Built-ins keep no context of their own: their argument words are keyed from the
        // spec, as their argument context was.
        const cell spec = callable::spec_block(owner);
        cell* held = stack::push_copy(&spec);
        bound_to = context::make_from_words(held, true, false, context::KIND_FUNCTION);
        // The new context is held by nothing until the word is bound to it: nothing in
        // between allocates.
    } else {
        wrong_type(owner, 0);
    }
    if (context::bind_word(bound_to, bound) < 0) {
        set_plain_result(none::value);
        return 0;
    }
    if (bound->is(TYPE_REFINEMENT)) cell::set_type(bound, TYPE_WORD);
    stack::set_result_truncate(bound);
    return 0;
}

// context? word: the object or function whose context the word is bound to.
uint32_t native_context_q(const native_invocation&) {
    const cell* named = base(0);
    if (!is_value_word(named->type())) wrong_type(named, 0);
    if (!named->w1) raise::throw_error(err::script_not_defined, named);
    const cell self = *context::self_cell(named->w1);
    stack::set_result_truncate(&self);
    return 0;
}

// construct block /with object /only: an object from the set-words of the block and the
// values after them, not evaluated.
uint32_t native_construct(const native_invocation& call) {
    cell* spec = base(0);
    if (!spec->is(TYPE_BLOCK)) wrong_type(spec, 0);
    cell* prototype = call.has(0) ? base(call.position(0)) : nullptr;
    if (prototype && !prototype->is(TYPE_OBJECT)) wrong_type(prototype, 2);
    cell* made = object::construct(spec, prototype, call.has(1));
    stack::set_result_truncate(made);
    return 0;
}

// extend obj spec /case: a map takes the pairs of the block (objects cannot be
// extended).
uint32_t native_extend(const native_invocation& call) {
    cell* target = base(0);
    if (!target->is(TYPE_OBJECT) && !target->is(TYPE_MAP)) wrong_type(target, 0);
    if (target->is(TYPE_OBJECT)) raise::throw_error(err::internal_not_done);
    cell* spec = base(1);
    map::extend(target, spec, call.has(0));
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
