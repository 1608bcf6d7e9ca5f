// Ownership tracking: the table of owned series, the set and clear walks, and the
// notification that calls an owner's on-deep-change*.
//
// The walks recurse once per nesting level, each level holding its current cell in an
// argument-stack slot (so the argument stack bounds the depth with a catchable
// stack-overflow); the setting walk also keeps the mold cycle stack of the containers it
// is inside, so a block or object that contains itself is walked once.
#include "runtime/binding/owner-track.h"

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/hashtable.h"
#include "runtime/binding/word-table.h"
#include "runtime/memory/memory.h"
#include "runtime/text/case-fold.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-classes.h"

namespace zor::owner_track {

namespace {

constexpr int64_t TABLE_RECORDS = 1000;
constexpr int32_t RECORD_CELLS = 3;  // the owned value, the owner, the field word
enum record_cell : int { RECORD_VALUE = 0, RECORD_OWNER = 1, RECORD_WORD = 2 };

node_ref table = 0;

void mark_table() {
    if (table) gc::mark_table(&table);
}

enum owned_kind { NOT_OWNED, LEAF, BLOCK_LIKE, OBJECT };

// image! values name their pixels by a handle index, not a node, so a node-keyed record
// cannot name them; they are left out until image! has a node of its own to key by.
owned_kind kind_of(type_id type) {
    if (type_classes::is(type, type_classes::ANY_BLOCK)) return BLOCK_LIKE;
    if (type_classes::is(type, type_classes::ANY_STRING)) return LEAF;
    switch (type) {
        case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET:
            return LEAF;
        case TYPE_OBJECT:
            return OBJECT;
        default:
            return NOT_OWNED;
    }
}

node_ref key_of(const cell* value) {
    switch (kind_of(value->type())) {
        case OBJECT: return value->w1;
        case LEAF: case BLOCK_LIKE: return value->w2;
        default: return 0;
    }
}

cell* record_of(node_ref node) {
    if (!table || !node) return nullptr;
    return hashtable::get_record(table, static_cast<int32_t>(node));
}

// Step 1 of the setting walk: the first owner of a series writes its record. A series
// whose flag outlived its record (its owner was collected) is owned afresh.
void own_series(const cell* value, const cell* owner, const cell* word) {
    if (!value->w2) return;
    if ((memory::buffer_of(value->w2)->flags & memory::FLAG_OWNED) && record_of(value->w2)) return;
    cell* record = hashtable::put_record(table, static_cast<int32_t>(value->w2));
    record[RECORD_VALUE] = *value;
    record[RECORD_OWNER] = *owner;
    record[RECORD_WORD] = word ? *word : none::value;
    memory::buffer_of(value->w2)->flags |= memory::FLAG_OWNED;
}

void own(cell* value, const cell* owner, const cell* word) {
    switch (kind_of(value->type())) {
        case LEAF:
            own_series(value, owner, word);
            return;
        case BLOCK_LIKE: {
            if (!value->w2 || mold_guard::contains(value->w2)) return;
            own_series(value, owner, word);
            mold_guard::scope guard(value->w2);
            stack::slot_mark mark;
            cell* item = stack::push_slot();
            for (int64_t i = series::clamped_index(value); i < memory::buffer_of(value->w2)->length(); ++i) {
                *item = *block::get_cell(value, i);
                own(item, owner, word);
            }
            return;
        }
        case OBJECT: {
            node_ref context = value->w1;
            if ((context::context_cell(context)->header & context::FLAG_OWNER) || mold_guard::contains(context)) return;
            mold_guard::scope guard(context);
            stack::slot_mark mark;
            cell* key = stack::push_slot();
            cell* item = stack::push_slot();
            for (int32_t i = 0; i < context::key_count(value->w1); ++i) {
                cell* field = context::value_at(value->w1, i);
                if (!field) break;
                *item = *field;
                // The owner's own self reference is not something it owns.
                if (kind_of(item->type()) == OBJECT && item->w1 == owner->w1) continue;
                *key = *context::word_at(value->w1, i);
                key->header = TYPE_WORD;
                own(item, owner, key);
            }
            return;
        }
        default:
            return;
    }
}

void disown(cell* value) {
    owned_kind kind = kind_of(value->type());
    if (kind == OBJECT) {
        node_ref context = value->w1;
        if (mold_guard::contains(context) || (context::context_cell(context)->header & context::FLAG_OWNER)) return;
        mold_guard::scope guard(context);
        stack::slot_mark mark;
        cell* item = stack::push_slot();
        for (int32_t i = 0; i < context::key_count(value->w1); ++i) {
            cell* field = context::value_at(value->w1, i);
            if (!field) break;
            *item = *field;
            disown(item);
        }
        return;
    }
    if (kind == NOT_OWNED || !value->w2) return;
    memory::buffer_of(value->w2)->flags &= ~memory::FLAG_OWNED;
    cell* record = record_of(value->w2);
    if (!record) return;
    for (int i = 0; i < RECORD_CELLS; ++i) cell::init_unset(record + i);
    hashtable::delete_record(table, static_cast<int32_t>(value->w2));
    if (kind != BLOCK_LIKE) return;
    // A series met again has no record any more, which ends the walk of a cycle.
    stack::slot_mark mark;
    cell* item = stack::push_slot();
    for (int64_t i = series::clamped_index(value); i < memory::buffer_of(value->w2)->length(); ++i) {
        *item = *block::get_cell(value, i);
        disown(item);
    }
}

}  // namespace

namespace {

// Hears of uppercase and lowercase of a string, after the change.
void report_case_change(cell* string, bool upper, int32_t index, int32_t count) {
    const predefined_cell& name = upper ? words::uppercase : words::lowercase;
    if (name.root_index < 0) return;
    stack::stack_guard guard;
    cell* series = stack::push_copy(string);
    cell* word = stack::push_copy(name.get());
    notify_change(series, word, nullptr, index, count);
}

}  // namespace

void init() {
    case_fold::report_change = &report_case_change;
    if (table) return;
    gc::add_mark_callback(&mark_table);
    table = hashtable::make(TABLE_RECORDS, nullptr, hashtable::KIND_OWNERSHIP, RECORD_CELLS);
}

bool notify_change(cell* series, const cell* word, const cell* value, int index, int part) {
    cell* record = record_of(key_of(series));
    if (!record) return false;
    // The owner's self cell holds its current change node; the record's copy may be older.
    cell owner_now = record[RECORD_OWNER];
    if (owner_now.is(TYPE_OBJECT) && owner_now.w1) {
        const cell* self = context::self_cell(owner_now.w1);
        if (self->is(TYPE_OBJECT) && self->w1 == owner_now.w1) owner_now = *self;
    }
    if (!owner_now.is(TYPE_OBJECT) || owner_now.w3 == 0) return false;
    cell* saved_top = stack::state.args_top;
    cell* owner = stack::push_copy(&owner_now);
    cell* field_word = stack::push_copy(record + RECORD_WORD);
    cell* target = stack::push_copy(series);
    cell* action_word = stack::push_copy(word ? word : &none::value);
    cell* new_value = value ? stack::push_copy(value) : nullptr;
    object::fire_on_deep_change(owner, field_word, target, action_word, new_value, index, part);
    stack::state.args_top = saved_top;
    return true;
}

cell* find_owner(node_ref node) {
    cell* record = record_of(node);
    return record ? record + RECORD_OWNER : nullptr;
}

void set_owner_deep(cell* value, cell* owner, cell* word) {
    cell* saved_top = stack::state.args_top;
    cell* held_value = stack::push_copy(value);
    cell* held_owner = stack::push_copy(owner);
    cell* held_word = stack::push_copy(word ? word : &none::value);
    if (!held_owner->is(TYPE_OBJECT)) raise::throw_error(err::script_invalid_arg, held_owner);
    own(held_value, held_owner, held_word);
    context::context_cell(held_owner->w1)->header |= context::FLAG_OWNER;
    stack::state.args_top = saved_top;
}

void clear_owner_deep(cell* value) {
    cell* saved_top = stack::state.args_top;
    cell* held = stack::push_copy(value);
    disown(held);
    stack::state.args_top = saved_top;
}

void settle_field(cell* owner, int32_t index, cell* old_value) {
    if (!table || !owner->is(TYPE_OBJECT)) return;
    if (index < 0 || index >= context::key_count(owner->w1)) return;
    stack::slot_mark mark;
    cell* held_owner = stack::push_copy(owner);
    cell* held_old = stack::push_copy(old_value);
    const cell* field = context::value_at(held_owner->w1, index);
    if (!field) return;
    cell* now = stack::push_copy(field);
    owned_kind old_kind = kind_of(held_old->type());
    if (old_kind != NOT_OWNED && !(kind_of(now->type()) == old_kind && key_of(now) == key_of(held_old))) {
        if (old_kind == OBJECT) {
            // Unless it is an owner itself (the walk leaves those alone).
            disown(held_old);
        } else if (const cell* record = record_of(key_of(held_old))) {
            // A series that another object owned first stays that object's.
            const cell& recorded_owner = record[RECORD_OWNER];
            if (recorded_owner.is(TYPE_OBJECT) && recorded_owner.w1 == held_owner->w1) disown(held_old);
        }
    }
    if (kind_of(now->type()) == NOT_OWNED) return;
    cell* key = stack::push_copy(context::word_at(held_owner->w1, index));
    key->header = TYPE_WORD;
    own(now, held_owner, key);
    context::context_cell(held_owner->w1)->header |= context::FLAG_OWNER;
}

void notify_component_set(const cell* home, const cell* old_value, const cell* component, const cell* container,
                          const cell* field_word) {
    if (container->is(TYPE_OBJECT)) {
        if (!context::fire_on_change || !field_word || !container->w3) return;
        // The handler runs user code: everything it needs lives in stack slots.
        stack::stack_guard guard;
        cell* object = stack::push_copy(container);
        cell* word = stack::push_copy(field_word);
        cell* old_copy = stack::push_copy(old_value);
        cell* new_copy = stack::push_copy(home);
        context::fire_on_change(object, word, old_copy, new_copy);
        return;
    }
    if (!type_classes::is(container->type(), type_classes::ANY_BLOCK) || words::set_path.root_index < 0) return;
    memory::series_buffer* buffer = memory::buffer_of(container->w2);
    const auto at = reinterpret_cast<uintptr_t>(home);
    const auto head = reinterpret_cast<uintptr_t>(buffer->head);
    if (at < head || at >= reinterpret_cast<uintptr_t>(buffer->tail)) return;
    const auto position = static_cast<int>((at - head) / sizeof(cell));
    stack::stack_guard guard;
    cell* series = stack::push_copy(container);
    cell* word = stack::push_copy(words::set_path);
    cell* value = stack::push_copy(component);
    notify_change(series, word, value, position, 1);
}

}  // namespace zor::owner_track
