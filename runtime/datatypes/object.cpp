// object!: making objects (from a prototype and a spec, from another object, without
// evaluation), copying them, their fields by index and by word, reflection, text, path
// access and comparison. The change handlers live in object-handlers.cpp.
//
// Every routine keeps the objects and values it works on in argument-stack slots and
// reads contexts, key lists and value blocks again through their nodes after anything
// that can allocate; a value is copied out of a context into a slot before it is molded,
// compared or copied, since those allocate and may move the value block.
#include "runtime/datatypes/object.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/binding/owner-track.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::object {

namespace {

// The last class id handed out; the first fresh id is 1000001, so the ids below stay free
// for the fixed ids of compiled code.
int32_t class_counter = 1000000;

cell unset_cell{TYPE_UNSET, 0, 0, 0};

node_ref values_node(node_ref context) { return context::context_cell(context)->w2; }

int spend(int budget, int64_t written) { return static_cast<int>(std::max<int64_t>(int64_t(budget) - written, INT_MIN)); }

int append_text(cell* output, const char* text, int budget) {
    string::append_c_string(output, text);
    return spend(budget, static_cast<int64_t>(std::strlen(text)));
}

bool is_field_word_type(type_id t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
}

bool names(int32_t symbol, int32_t other) {
    return other > 0 && symbol::canonical_id(symbol) == symbol::canonical_id(other);
}

bool is_handler_symbol(int32_t symbol) {
    return (words::on_change_star.root_index >= 0 && names(symbol, words::on_change_star.symbol())) ||
           (words::on_deep_change_star.root_index >= 0 && names(symbol, words::on_deep_change_star.symbol()));
}

// The values that a deep copy of an object copies (the others stay shared).
bool copied_by_deep_copy(type_id t) {
    // binary! is a series of its own class: copied too, so that a copy never shares bytes.
    return (type_classes::is(t, type_classes::ANY_STRING | type_classes::ANY_BLOCK) && t != TYPE_HASH) ||
           t == TYPE_BINARY;
}

// The values that an object made from a prototype gets fresh copies of.
bool copied_by_make(type_id t) { return type_classes::is(t, type_classes::SERIES); }

bool is_bound_block(type_id t) { return type_classes::is(t, type_classes::ANY_BLOCK); }

// Appends unset! cells to the context's value block until it holds n.
void size_values(const cell* object, int64_t n) {
    while (memory::buffer_of(values_node(object->w1))->length() < n) {
        cell::init_unset(memory::alloc_tail_cell(memory::buffer_of(values_node(object->w1))));
    }
}

// Stores the object into its context's self cell.
void store_self(const cell* object) { *context::self_cell(object->w1) = *object; }

// Replaces field i of the object by its copy made with its type's copy action (deep). A
// type without a copy action keeps the value shared. Answers whether it copied.
bool copy_field(cell* object, int32_t i) {
    stack::slot_mark mark;
    cell* value = context::value_at(object->w1, i);
    if (!value) return false;
    action_entry entry = type_registry::handler_of(value->type(), ACTION_COPY);
    if (!entry) return false;
    cell* slot = stack::push_copy(value);
    cell* copied = reinterpret_cast<action_handler<ACTION_COPY>>(entry)(slot, slot, nullptr, true, nullptr);
    cell* target = context::value_at(object->w1, i);
    if (target) *target = *copied;
    return true;
}

// Replaces the function! in field i by its clone bound to the object.
void clone_function_field(cell* object, int32_t i) {
    stack::slot_mark mark;
    cell* value = context::value_at(object->w1, i);
    if (!value || !value->is(TYPE_FUNCTION)) return;
    cell* function = stack::push_copy(value);
    // Cloning runs the body as interpreted code; a function without one cannot be cloned.
    if (!function::extras_cell(function, function::EXTRAS_BODY)->is(TYPE_BLOCK)) {
        raise::throw_error(err::script_bad_func_def, function);
    }
    cell* clone = function::clone_for_object(function, object);
    cell* target = context::value_at(object->w1, i);
    if (target) *target = *clone;
}

void clone_function_fields(cell* object) {
    for (int32_t i = 0; i < context::value_count(object->w1); ++i) clone_function_field(object, i);
}

cell* value_of_word(const cell* word) {
    node_ref context = word->w1;
    if (!context) return nullptr;
    int32_t index = static_cast<int32_t>(word->w3);
    if (index < 0) index = context::find_symbol(context, static_cast<int32_t>(word->w2), true);
    if (index < 0) return nullptr;
    if (context::values_on_stack(context)) {
        cell* first = context::stack_values(context);
        return first && index < context::key_count(context) ? first + index : nullptr;
    }
    return context::value_at(context, index);
}

}  // namespace

// --- Fields -----------------------------------------------------------------------------------

cell* get_word_at(node_ref context, int32_t index) {
    if (index < 0 || index >= context::key_count(context)) return nullptr;
    return context::word_at(context, index);
}

int32_t field_index(node_ref context, const cell* word) {
    return context::find_symbol(context, static_cast<int32_t>(word->w2), true);
}

cell* field_value(const cell* object, const cell* word) {
    int32_t index = field_index(object->w1, word);
    cell* value = index >= 0 ? context::value_at(object->w1, index) : nullptr;
    return value ? value : &none::value;
}

int32_t field_count(node_ref context) { return context::value_count(context); }

void clear_new_lines(node_ref values) {
    memory::series_buffer* b = memory::buffer_of(values);
    for (cell* c = b->head_cell(); c < b->tail_cell(); ++c) cell::clear_new_line(c);
}

void clear_changed(node_ref context) {
    int32_t keys = context::key_count(context);
    for (int32_t i = 0; i < keys; ++i) context::word_at(context, i)->header &= ~context::FLAG_KEY_TOUCHED;
}

int32_t next_class_id() {
    int32_t next;
    if (__builtin_add_overflow(class_counter, 1, &next)) raise::throw_error(err::internal_limit_hit);
    class_counter = next;
    return next;
}

bool word_has_class(const cell* word, int32_t class_id) {
    if (!word::is_any_word_type(word->type())) return false;
    const cell* value = value_of_word(word);
    return value && value->is(TYPE_OBJECT) && static_cast<int32_t>(value->w2) == class_id;
}

bool slot_has_class(node_ref context, int32_t index, int32_t class_id) {
    const cell* value = nullptr;
    if (context::values_on_stack(context)) {
        cell* first = context::stack_values(context);
        if (first && index >= 0 && index < context::key_count(context)) value = first + index;
    } else {
        value = context::value_at(context, index);
    }
    return value && value->is(TYPE_OBJECT) && static_cast<int32_t>(value->w2) == class_id;
}

// --- Making -------------------------------------------------------------------------------------

cell* init_empty(cell* destination, int32_t capacity) {
    cell::init_unset(destination);
    node_ref context = context::make(std::max(capacity, 1), false, true, 0, context::KIND_OBJECT);
    *destination = cell{TYPE_OBJECT, context, EMPTY_CLASS_ID, 0};
    store_self(destination);
    return destination;
}

cell* push_from_context(node_ref context, int32_t class_id) {
    cell* slot = stack::push_slot();
    *slot = cell{TYPE_OBJECT, context, static_cast<uint32_t>(class_id), 0};
    if (memory::buffer_of(values_node(slot->w1))->length() == 0) size_values(slot, context::key_count(slot->w1));
    store_self(slot);
    return slot;
}

cell* push_copy(const cell* source, bool deep, cell* types, bool keep_change_node) {
    cell* result = stack::push_slot();
    cell* held = stack::push_copy(source);
    cell* types_held = types ? stack::push_copy(types) : nullptr;
    int32_t keys = context::key_count(held->w1);
    node_ref fresh = context::make(std::max(keys, 1), false, true, held->w1, context::KIND_OBJECT);
    *result = cell{held->type(), fresh, held->w2, keep_change_node ? held->w3 : 0};
    size_values(result, keys);
    {
        // Nothing allocates in here: the key words learn their new context and the values
        // are copied as they are.
        memory::series_buffer* key_list = memory::buffer_of(context::key_list_node(result->w1));
        for (cell* key = key_list->head_cell(); key < key_list->tail_cell(); ++key) key->w1 = result->w1;
        memory::series_buffer* from = memory::buffer_of(values_node(held->w1));
        memory::series_buffer* to = memory::buffer_of(values_node(result->w1));
        int64_t n = std::min<int64_t>(from->length(), keys);
        std::memcpy(to->head, from->head, static_cast<size_t>(n) * sizeof(cell));
        for (int64_t i = n; i < keys; ++i) cell::init_unset(to->head_cell() + i);
        to->tail = to->head + int64_t(keys) * int64_t(sizeof(cell));
    }
    store_self(result);

    if (deep && !types_held) {
        for (int32_t i = 0; i < keys; ++i) {
            cell* value = context::value_at(result->w1, i);
            if (!value) break;
            if (copied_by_deep_copy(value->type())) copy_field(result, i);
            else if (value->is(TYPE_FUNCTION)) clone_function_field(result, i);
        }
    } else {
        clone_function_fields(result);
        if (types_held) {
            cell* values = stack::push_slot();
            *values = cell{TYPE_BLOCK, 0, values_node(result->w1), 0};
            if (deep) {
                // A typed deep copy that meets this object again would never end.
                if (mold_guard::contains(held->w1)) {
                    mold_guard::reset();
                    raise::throw_error(err::internal_no_cycle);
                }
                mold_guard::scope guard(held->w1);
                block::copy_nested_of_types(values, 0, keys, 1, true, types_held);
            } else {
                block::copy_nested_of_types(values, 0, keys, 1, false, types_held);
            }
        }
    }
    stack::state.args_top = result + 1;
    return result;
}

cell* construct(cell* spec, cell* prototype, bool only) {
    cell* result = stack::push_slot();
    cell* source = stack::push_copy(spec);
    if (!series::is_block_like(source->type()) || !source->w2) raise::throw_error(err::script_invalid_arg, source);
    if (prototype && (prototype->is(TYPE_OBJECT) || prototype->is(TYPE_ERROR) || prototype->is(TYPE_PORT))) {
        cell* copy = push_copy(prototype, true, nullptr, false);
        *result = *copy;
        stack::state.args_top = source + 1;
        refresh_handlers(result);
    } else {
        init_empty(result, 4);
        result->w2 = static_cast<uint32_t>(next_class_id());
        store_self(result);
    }
    cell* words = stack::push_slot();
    cell* value = stack::push_slot();
    int64_t i = series::clamped_index(source);
    for (;;) {
        int64_t length = memory::buffer_of(source->w2)->length();
        if (i >= length) break;
        if (!block::get_cell(source, i)->is(TYPE_SET_WORD)) {
            ++i;
            continue;
        }
        // The set-words in a row share the value after them.
        int64_t first = i;
        while (i < length && block::get_cell(source, i)->is(TYPE_SET_WORD)) ++i;
        *value = i < length ? *block::get_cell(source, i) : none::value;
        if (!only && value->is(TYPE_WORD)) {
            int32_t symbol = static_cast<int32_t>(value->w2);
            if (names(symbol, symbols::true_) || names(symbol, symbols::yes) || names(symbol, symbols::on)) {
                logic::make_in(value, true);
            } else if (names(symbol, symbols::false_) || names(symbol, symbols::no) || names(symbol, symbols::off)) {
                logic::make_in(value, false);
            } else if (names(symbol, symbols::none)) {
                *value = none::value;
            }
        }
        for (int64_t k = first; k < i; ++k) {
            *words = *block::get_cell(source, k);
            int32_t index = context::add_word(result->w1, static_cast<int32_t>(words->w2));
            cell* slot = context::value_at(result->w1, index);
            if (slot) *slot = *value;
        }
        ++i;
    }
    stack::state.args_top = result + 1;
    return result;
}

void evaluate_spec(cell* block) {
    stack::slot_mark mark;
    cell* spec = stack::push_copy(block);
    if (!spec->w2) return;
    upcalls::installed(upcalls::run_block)(spec, false);
}

// --- The object! actions -----------------------------------------------------------------------------

cell* make(cell* value, cell* spec, type_id /*type*/) {
    cell* result = stack::push_slot();
    cell* prototype = stack::push_copy(value);
    cell* source = stack::push_copy(spec);
    bool from_object = prototype->is(TYPE_OBJECT);
    if (from_object) {
        *result = *push_copy(prototype, true, nullptr, true);
        stack::state.args_top = source + 1;
    } else {
        init_empty(result, 4);
    }
    bool added = false;
    if (source->is(TYPE_OBJECT) || source->is(TYPE_ERROR) || source->is(TYPE_PORT)) {
        cell* key = stack::push_slot();
        cell* field = stack::push_slot();
        int32_t count = context::key_count(source->w1);
        for (int32_t i = 0; i < count; ++i) {
            *key = *context::word_at(source->w1, i);
            cell* v = context::value_at(source->w1, i);
            *field = v ? *v : unset_cell;
            int32_t before = context::key_count(result->w1);
            context::put_symbol_value(result->w1, static_cast<int32_t>(key->w2), field);
            if (context::key_count(result->w1) > before) added = true;
        }
        for (int32_t i = 0; i < context::value_count(result->w1); ++i) {
            cell* v = context::value_at(result->w1, i);
            if (!v) break;
            if (copied_by_make(v->type())) copy_field(result, i);
            else if (v->is(TYPE_FUNCTION)) clone_function_field(result, i);
        }
    } else if (source->is(TYPE_BLOCK)) {
        added = context::collect_set_words(result->w1, source);
        context::bind_block(source, result->w1, true);
        if (from_object) {
            // The prototype's series get fresh copies of their own, bound to the new object.
            int32_t inherited = context::key_count(prototype->w1);
            for (int32_t i = 0; i < inherited; ++i) {
                cell* v = context::value_at(result->w1, i);
                if (!v || !copied_by_make(v->type())) continue;
                if (!copy_field(result, i)) continue;
                v = context::value_at(result->w1, i);
                if (v && is_bound_block(v->type())) {
                    cell* copied = stack::push_copy(v);
                    context::bind_block(copied, result->w1, true);
                    stack::drop_slots(1);
                }
            }
        }
        evaluate_spec(source);
        stack::state.args_top = source + 1;
        clear_changed(result->w1);
        clear_new_lines(values_node(result->w1));
    } else {
        raise::throw_error(err::syntax_malconstruct, source);
    }
    // Only an object prototype has a class to keep (and only when no word was added).
    result->w2 = static_cast<uint32_t>(from_object && !added ? static_cast<int32_t>(prototype->w2) : next_class_id());
    refresh_handlers(result);
    stack::state.args_top = result + 1;
    return result;
}

cell* reflect(cell* value, int field_symbol) {
    cell* object = stack::push_copy(value);
    node_ref context = object->w1;
    if (names(field_symbol, words::changed.symbol()) || names(field_symbol, symbols::words)) {
        bool only_changed = names(field_symbol, words::changed.symbol());
        int32_t keys = context::key_count(context);
        cell* result = block::push_empty(std::max(keys, 1));
        cell* key = stack::push_slot();
        for (int32_t i = 0; i < context::key_count(object->w1); ++i) {
            *key = *context::word_at(object->w1, i);
            if (only_changed && !(key->header & context::FLAG_KEY_TOUCHED)) continue;
            key->header = TYPE_WORD;
            key->w1 = object->w1;
            key->w3 = static_cast<uint32_t>(i);
            block::append_copy(result, key);
        }
        *object = *result;
    } else if (names(field_symbol, symbols::class_)) {
        integer::make_in(object, static_cast<int32_t>(object->w2));
    } else if (names(field_symbol, symbols::values)) {
        cell* values = stack::push_slot();
        *values = cell{TYPE_BLOCK, 0, values_node(context), 0};
        *object = *block::push_copy(values, false, false);
    } else if (names(field_symbol, symbols::body)) {
        int32_t keys = context::key_count(context);
        cell* result = block::push_empty(std::max<int64_t>(int64_t(keys) * 2, 1));
        cell* scratch = stack::push_slot();
        for (int32_t i = 0; i < context::key_count(object->w1); ++i) {
            *scratch = *context::word_at(object->w1, i);
            *scratch = cell{TYPE_SET_WORD | FLAG_NEW_LINE, object->w1, scratch->w2, static_cast<uint32_t>(i)};
            block::append_copy(result, scratch);
            cell* v = context::value_at(object->w1, i);
            *scratch = v ? *v : unset_cell;
            if (scratch->is(TYPE_WORD)) cell::set_type(scratch, TYPE_LIT_WORD);
            else if (scratch->is(TYPE_PATH)) cell::set_type(scratch, TYPE_LIT_PATH);
            block::append_copy(result, scratch);
        }
        *object = *result;
    } else if (names(field_symbol, symbols::owner)) {
        logic::make_in(object, (context::context_cell(context)->header & context::FLAG_OWNER) != 0);
    } else if (names(field_symbol, symbols::events_q)) {
        logic::make_in(object, object->w3 != 0);
    } else {
        raise::throw_error(err::internal_not_done);
    }
    stack::state.args_top = object + 1;
    return object;
}

int mold_fields(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent,
                bool as_mold) {
    stack::slot_mark mark;
    cell* object = stack::push_copy(value);
    cell* key = stack::push_slot();
    cell* scratch = stack::push_slot();
    int32_t count = context::key_count(object->w1);
    if (count == 0) return budget;
    mold_guard::scope guard(object->w1);
    bool indenting = as_mold && !flat && !only;
    const char* separator = as_mold && flat ? " " : "\n";
    if (indenting) budget = append_text(output, "\n", budget);
    // The last field written: the separator follows every field but that one unless
    // indenting.
    int32_t last = -1;
    for (int32_t i = 0; i < count; ++i) {
        if (all || !is_handler_symbol(static_cast<int32_t>(context::word_at(object->w1, i)->w2))) last = i;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (part && budget < 1) break;
        if (i >= context::key_count(object->w1)) break;
        *key = *context::word_at(object->w1, i);
        if (!all && is_handler_symbol(static_cast<int32_t>(key->w2))) continue;
        if (indenting) budget = string::append_indent(output, indent, budget);
        key->header = TYPE_WORD;
        budget = actions::dispatch_form(key, output, part, budget);
        budget = append_text(output, ": ", budget);
        cell* v = context::value_at(object->w1, i);
        if (v && v->type() == TYPE_NONE_ID) cell::init_unset(v);
        *scratch = v ? *v : unset_cell;
        if (scratch->is(TYPE_WORD)) budget = append_text(output, "'", budget);
        budget = actions::dispatch_mold(scratch, output, false, all, flat, part, budget, indent);
        if (indenting || i != last) budget = append_text(output, separator, budget);
    }
    return budget;
}

int form(cell* value, cell* output, cell* part, int budget) {
    return mold_fields(value, output, false, false, false, part, budget, 0, false);
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    if (mold_guard::emit_cycle_mark(value, output, &budget, true)) return budget;
    if (!only) budget = append_text(output, "make object! [", budget);
    budget = mold_fields(value, output, only, all, flat, part, budget, indent + 1, true);
    if (!flat && indent >= 1) budget = string::append_indent(output, indent, budget);
    if (!only) budget = append_text(output, "]", budget);
    return budget;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool get_only, bool tail, bool /*in_place*/) {
    cell* object = stack::push_copy(parent);
    cell* named = stack::push_copy(path ? path : &none::value);
    if (!is_field_word_type(element->type())) raise::throw_error(err::script_invalid_path, named, element);
    node_ref context = object->w1;
    int32_t index = -1;
    int32_t bound = static_cast<int32_t>(element->w3);
    if (element->w1 == context && bound >= 0 && bound < context::key_count(context) &&
        symbol::canonical_id(static_cast<int32_t>(context::word_at(context, bound)->w2)) ==
            symbol::canonical_id(static_cast<int32_t>(element->w2))) {
        index = bound;
    } else {
        index = context::find_symbol(context, static_cast<int32_t>(element->w2), true);
        // The element learns its binding, so the next walk of this path finds it at once.
        if (index >= 0) {
            element->w1 = context;
            element->w3 = static_cast<uint32_t>(index);
        }
    }
    cell* field = index >= 0 && index < context::key_count(context) ? context::value_at(context, index) : nullptr;
    if (!field || (!value && field->is(TYPE_UNSET))) {
        // A field that is missing, or unset! on reading: a get-path's last element gives
        // unset!; another last element cannot be accessed; an inner one is unset in the path.
        if (get_only && tail) return stack::push_copy(&unset_cell);
        cell* e = stack::push_copy(element);
        raise::throw_error(tail ? err::script_invalid_path : err::script_unset_path, named, e);
    }
    if (!value) return field;
    cell* word = stack::push_copy(element);
    word->w1 = object->w1;
    word->w3 = static_cast<uint32_t>(index);
    cell* new_value = stack::push_copy(value);
    cell* old_value = object->w3 ? stack::push_copy(field) : nullptr;
    word::set_in_context(word, new_value, object->w1, false);
    if (object->w3) fire_on_change(object, word, index, old_value, new_value);
    return new_value;
}

int compare(cell* value, cell* other, int op) {
    if (other->type() != value->type()) return -2;
    if (value->w1 == other->w1) return 0;
    if (op == COMPARE_SAME) return -1;
    if (mold_guard::contains(value->w1)) return mold_guard::contains(other->w1) ? 0 : -1;
    int32_t left_count = context::key_count(value->w1);
    int32_t right_count = context::key_count(other->w1);
    if (left_count != right_count) return left_count > right_count ? 1 : -1;

    stack::slot_mark mark;
    cell* left = stack::push_copy(value);
    cell* right = stack::push_copy(other);
    cell* a = stack::push_slot();
    cell* b = stack::push_slot();
    mold_guard::scope left_guard(left->w1);
    mold_guard::scope right_guard(right->w1);
    for (int32_t i = 0; i < left_count; ++i) {
        if (i >= context::key_count(left->w1) || i >= context::key_count(right->w1)) break;
        int32_t left_symbol = symbol::canonical_id(static_cast<int32_t>(context::word_at(left->w1, i)->w2));
        int32_t right_symbol = symbol::canonical_id(static_cast<int32_t>(context::word_at(right->w1, i)->w2));
        if (left_symbol != right_symbol) return left_symbol < right_symbol ? -1 : 1;
        cell* x = context::value_at(left->w1, i);
        cell* y = context::value_at(right->w1, i);
        *a = x ? *x : unset_cell;
        *b = y ? *y : unset_cell;
        type_id ta = a->type(), tb = b->type();
        bool numbers = (ta == TYPE_INTEGER || ta == TYPE_FLOAT || ta == TYPE_PERCENT) &&
                       (tb == TYPE_INTEGER || tb == TYPE_FLOAT || tb == TYPE_PERCENT);
        if (ta != tb && !(word::is_any_word_type(ta) && word::is_any_word_type(tb)) && !numbers) {
            return ta < tb ? -1 : 1;
        }
        int answer = block::compare_cells(a, b, op);
        if (answer != 0) return answer;
    }
    return 0;
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    if (part) series::invalid_refine_arg(series::REFINEMENT_PART, part);
    cell* made = push_copy(value, deep, types, false);
    refresh_handlers(made);
    *result = *made;
    return result;
}

cell* put(cell* object, cell* key, cell* value, bool /*case_sensitive*/) {
    if (!key->is(TYPE_WORD)) {
        cell type = datatype::value_of(key->type());
        raise::throw_error(err::script_invalid_key_type, &type);
    }
    return eval_path(object, key, value, nullptr, nullptr, nullptr, -1, 0, false, true, false);
}

cell* select(cell* object, cell* key, cell* /*part*/, bool /*only*/, bool /*case_sensitive*/, bool /*same*/,
             bool /*any*/, cell* /*with*/, cell* /*skip*/, bool /*last*/, bool /*reverse*/) {
    if (!is_field_word_type(key->type())) raise::invalid_type(key->type());
    return field_value(object, key);
}

cell* modify(cell* object, cell* field, cell* value, bool /*case_sensitive*/) {
    if (!word::is_any_word_type(field->type())) return value;
    int32_t symbol = static_cast<int32_t>(field->w2);
    cell* held = stack::push_copy(object);
    if (names(symbol, words::changed.symbol())) {
        if (!value->is(TYPE_NONE)) raise::throw_error(err::script_invalid_arg, value);
        clear_changed(held->w1);
    } else if (names(symbol, symbols::owner)) {
        owner_track::set_owner_deep(held, held, nullptr);
    } else if (names(symbol, symbols::owned)) {
        if (value->is(TYPE_NONE)) {
            owner_track::clear_owner_deep(held);
        } else if (value->is(TYPE_BLOCK)) {
            int64_t at = series::clamped_index(value);
            if (block::rest_length(value) < 2) raise::throw_error(err::script_invalid_arg, value);
            cell* owner = stack::push_copy(block::get_cell(value, at));
            cell* word = stack::push_copy(block::get_cell(value, at + 1));
            if (!owner->is(TYPE_OBJECT) || !word::is_any_word_type(word->type())) {
                raise::throw_error(err::script_invalid_arg, value);
            }
            owner_track::set_owner_deep(held, owner, word);
        }
    }
    return value;
}

namespace {

// The on-change* call of word assignment (context::fire_on_change).
void on_assignment(cell* object, cell* word, cell* old_value, cell* new_value) {
    cell* fresh = stack::push_copy(new_value);
    fire_on_change(object, word, field_index_of(object, word), old_value, fresh);
}

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_REFLECT>(&reflect);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_COPY>(&copy);
    list.set<ACTION_PUT>(&put);
    list.set<ACTION_SELECT>(&select);
    list.set<ACTION_MODIFY>(&modify);
    type_registry::register_type(TYPE_OBJECT, TYPE_NONE_ID, "object!", list);
    context::fire_on_change = &on_assignment;
}

}  // namespace zor::object
