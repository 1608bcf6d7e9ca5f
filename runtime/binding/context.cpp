// Contexts: making them, finding and adding keys, reading values, binding words.
//
// The key list is the value series of the context's kind-2 hashtable. A key is hashed by
// fmix32 of its symbol's canonical id, so every spelling of a name shares one probe
// sequence and a caseless lookup is one walk. Lookups never allocate; adding a key or a
// value does, so every routine that adds keeps the context alive in a stack slot and reads
// its buffers again through the nodes afterwards.
#include "runtime/binding/context.h"

#include <exception>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::context {

node_ref global = 0;
on_change_handler fire_on_change = nullptr;

namespace {

constexpr int32_t GLOBAL_SLOTS = 4000;

// Keeps a context (or any series bound like one) alive and its node current across an
// allocation: a word! bound to it in an argument-stack slot, which the collector marks and
// relocates.
class held_context {
public:
    explicit held_context(node_ref context) : slot_(stack::push_slot()), scope_(slot_) {
        *slot_ = cell{TYPE_WORD, context, 0, word::INDEX_UNRESOLVED};
    }
    node_ref node() const { return slot_->w1; }
    held_context(const held_context&) = delete;
    held_context& operator=(const held_context&) = delete;

private:
    cell* slot_;
    stack::slot_mark scope_;
};

// A copy of a value in an argument-stack slot, so that it survives allocations wherever
// the original lies; dropped on scope exit.
class held_value {
public:
    explicit held_value(const cell* value) : slot_(stack::push_copy(value)), scope_(slot_) {}
    cell* get() const { return slot_; }
    held_value(const held_value&) = delete;
    held_value& operator=(const held_value&) = delete;

private:
    cell* slot_;
    stack::slot_mark scope_;
};

memory::series_buffer* value_buffer(node_ref context) { return memory::buffer_of(context_cell(context)->w2); }

bool has_heap_values(node_ref context) { return !values_on_stack(context); }

// Where a walk of the key's probe sequence ended.
struct probe_result {
    int32_t position;  // key list position of the match, -1 when none
    int64_t empty;     // the empty bucket that ended the walk, -1 when none
};

probe_result probe(node_ref context, int32_t symbol, bool caseless) {
    hashtable::table_view v = hashtable::view(hashtable_of(context));
    uint32_t buckets = static_cast<uint32_t>(v.record->buckets);
    uint32_t mask = buckets - 1;
    int32_t canonical = symbol::canonical_id(symbol);
    uint32_t bucket = hashtable::fmix32(static_cast<uint32_t>(canonical)) & mask;
    uint32_t step = 0;
    // Triangular probing visits every bucket once in `buckets` steps.
    for (uint32_t visited = 0; visited < buckets; ++visited) {
        uint32_t state = hashtable::bucket_state_of(v.flags, bucket);
        if (state == hashtable::BUCKET_EMPTY) return {-1, bucket};
        if (state == hashtable::BUCKET_LIVE) {
            int32_t position = v.keys[bucket];
            int32_t key_symbol = static_cast<int32_t>(v.values[position].w2);
            if (key_symbol == symbol || (caseless && symbol::canonical_id(key_symbol) == canonical)) {
                return {position, -1};
            }
        }
        bucket = hashtable::next_bucket(bucket, &step, mask);
    }
    return {-1, -1};
}

// Appends unset! values until the heap context has a slot for the index.
void ensure_value_slot(const held_context& context, int32_t index) {
    while (value_buffer(context.node())->length() <= index) {
        cell::init_unset(memory::alloc_tail_cell(value_buffer(context.node())));
    }
}

// Appends a copy of a key word (in a stack slot) to the key list of the context held by
// the word in `holder`, and enters it in the table at the first empty bucket of its
// probe sequence, as a copied table holds it.
void append_key_copy(const cell* holder, const cell* key) {
    hashtable::grow_if_full(hashtable_of(holder->w1));
    hashtable::table_view v = hashtable::view(hashtable_of(holder->w1));
    uint32_t mask = static_cast<uint32_t>(v.record->buckets) - 1;
    uint32_t bucket = hashtable::fmix32(static_cast<uint32_t>(symbol::canonical_id(static_cast<int32_t>(key->w2)))) & mask;
    uint32_t step = 0;
    // The growth test leaves empty buckets, and the walk visits every bucket in `mask + 1`
    // steps; a table without one grows first.
    while (hashtable::bucket_state_of(v.flags, bucket) != hashtable::BUCKET_EMPTY) {
        if (step > mask) {
            hashtable::resize(hashtable_of(holder->w1), int64_t(mask + 1) * 2);
            return append_key_copy(holder, key);
        }
        bucket = hashtable::next_bucket(bucket, &step, mask);
    }
    int32_t position = key_count(holder->w1);
    *memory::alloc_tail_cell(memory::buffer_of(key_list_node(holder->w1))) = *key;
    hashtable::place_entry(hashtable_of(holder->w1), bucket, position);
}

[[noreturn]] void raise_with_key(err id, node_ref context, int32_t index) {
    if (index >= 0 && index < key_count(context)) {
        cell key = *word_at(context, index);
        raise::throw_error(id, &key);
    }
    raise::throw_error(id);
}

// The value cell at an index, whatever holds the values; raises not-defined when the
// context has no values now or the index has no slot.
cell* value_slot(node_ref context, int32_t index) {
    if (values_on_stack(context)) {
        cell* first = stack_values(context);
        if (!first || index < 0 || index >= key_count(context)) raise_with_key(err::script_not_defined, context, index);
        return first + index;
    }
    cell* slot = value_at(context, index);
    if (!slot) raise_with_key(err::script_not_defined, context, index);
    return slot;
}

void mark_touched(node_ref context, int32_t index) {
    if (kind_of(context) == KIND_OBJECT && index >= 0 && index < key_count(context)) {
        word_at(context, index)->header |= FLAG_KEY_TOUCHED;
    }
}

bool is_bindable_block(type_id type) { return type_classes::is(type, type_classes::ANY_BLOCK); }

void bind_cells(node_ref series, int64_t from, node_ref context, bool self_option) {
    if (mold_guard::contains(series)) return;
    mold_guard::scope guard(series);
    // Binding never allocates, so the buffer stays where it is during the walk.
    memory::series_buffer* b = memory::buffer_of(series);
    cell* end = b->tail_cell();
    cell* c = b->head_cell() + from;
    for (; c < end; ++c) {
        type_id type = c->type();
        if (is_bindable_block(type)) {
            if (c->w2) {
                int64_t index = static_cast<int32_t>(c->w1);
                int64_t length = memory::buffer_of(c->w2)->length();
                bind_cells(c->w2, index < 0 ? 0 : index > length ? length : index, context, self_option);
            }
        } else if (type >= TYPE_WORD && type <= TYPE_REFINEMENT) {
            if (self_option && type == TYPE_WORD && static_cast<int32_t>(c->w2) == symbols::self) {
                c->w1 = context;
                c->w3 = word::INDEX_UNRESOLVED;
            } else {
                bind_word(context, c);
            }
        }
    }
}

}  // namespace

// --- Start-up and registration --------------------------------------------------------------

void init_global() { global = make(GLOBAL_SLOTS, false, false, 0, KIND_GLOBAL); }

void init_type() {
    type_registry::register_type(TYPE_CONTEXT, TYPE_NONE_ID, "context!", type_registry::action_list(TYPE_NONE_ID));
}

// --- Making ------------------------------------------------------------------------------------

node_ref make(int32_t slots, bool on_stack, bool self_flag, node_ref source, kind k) {
    if (slots < 1) slots = 1;
    held_context from(source);
    // The context! cell is built in a stack slot. Once the table exists it is a valid
    // context! cell with on-stack values, which the collector reads as "mark the table
    // only"; the value block comes next, and the context series last, so that each new
    // series is referred to from a rooted cell before the next allocation.
    cell* building = stack::push_slot();
    cell::init_unset(building);
    node_ref table = hashtable::make(slots, nullptr, hashtable::KIND_SYMBOL, 1);
    *building = cell{TYPE_CONTEXT | FLAG_ON_STACK, table, 0, 0};
    if (!on_stack) {
        node_ref values = memory::alloc_unset_cells(slots);
        building->w2 = values;
    }
    building->header = TYPE_CONTEXT | (static_cast<uint32_t>(k) << KIND_SHIFT) | (on_stack ? FLAG_ON_STACK : 0) |
                       (self_flag ? FLAG_SELF : 0);
    node_ref node = memory::alloc_unset_cells(2);
    memory::series_buffer* b = memory::buffer_of(node);
    b->head_cell()[0] = *building;
    b->tail = b->head + 2 * sizeof(cell);
    // From here the slot holds the new context itself.
    *building = cell{TYPE_WORD, node, 0, word::INDEX_UNRESOLVED};
    if (from.node()) {
        // The source's key list is copied key by key, each key word as it is, in order.
        int32_t keys = key_count(from.node());
        for (int32_t i = 0; i < keys; ++i) {
            cell* key = stack::push_copy(word_at(from.node(), i));
            append_key_copy(building, key);
            stack::drop_slots(1);
        }
    }
    return building->w1;  // the slots go with `from`
}

node_ref make_from_words(const cell* block, bool on_stack, bool self_flag, kind k) {
    held_value source(block);
    int64_t rest = block::rest_length(source.get());
    if (rest < 0) rest = 0;
    if (rest > INT32_MAX) rest = INT32_MAX;
    held_context made(make(static_cast<int32_t>(rest), on_stack, self_flag, 0, k));
    // Counted and collected over the same cells: from the block's index to its tail.
    int64_t found = 0;
    for (int64_t i = 0;; ++i) {
        memory::series_buffer* b = memory::buffer_of(source.get()->w2);
        int64_t index = static_cast<int32_t>(source.get()->w1) + i;
        if (index < 0) continue;
        if (index >= b->length()) break;
        cell c = b->head_cell()[index];
        switch (c.type()) {
            case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT: {
                int32_t added;
                find_or_add_symbol(made.node(), static_cast<int32_t>(c.w2), true, &added);
                ++found;
                break;
            }
            default:
                break;
        }
    }
    if (!on_stack) ensure_value_slot(made, static_cast<int32_t>(found) - 1);
    return made.node();
}

void clone_for_value(cell* value, kind k) {
    node_ref old = value->w1;
    uint32_t header = context_cell(old)->header;
    node_ref fresh = make(key_count(old), header & FLAG_ON_STACK, header & FLAG_SELF, old, k);
    value->w1 = fresh;  // the value now holds the new context
    memory::series_buffer* keys = memory::buffer_of(key_list_node(fresh));
    for (cell* key = keys->head_cell(); key < keys->tail_cell(); ++key) key->w1 = fresh;
}

// --- Reading the record --------------------------------------------------------------------

cell* context_cell(node_ref context) { return memory::buffer_of(context)->head_cell(); }
cell* self_cell(node_ref context) { return memory::buffer_of(context)->head_cell() + 1; }

kind kind_of(node_ref context) { return static_cast<kind>((context_cell(context)->header & KIND_MASK) >> KIND_SHIFT); }

bool values_on_stack(node_ref context) { return (context_cell(context)->header & FLAG_ON_STACK) != 0; }

node_ref hashtable_of(node_ref context) { return context_cell(context)->w1; }

node_ref key_list_node(node_ref context) {
    return static_cast<node_ref>(hashtable::view(hashtable_of(context)).record->values);
}

cell* key_list_head(node_ref context) { return hashtable::view(hashtable_of(context)).values; }

int32_t key_count(node_ref context) {
    return static_cast<int32_t>(memory::buffer_of(key_list_node(context))->length());
}

cell* word_at(node_ref context, int32_t index) { return key_list_head(context) + index; }

cell* value_at(node_ref context, int32_t index) {
    memory::series_buffer* b = value_buffer(context);
    if (index < 0 || index >= b->length()) return nullptr;
    return b->head_cell() + index;
}

int32_t value_count(node_ref context) {
    if (values_on_stack(context)) return stack_values(context) ? key_count(context) : 0;
    return static_cast<int32_t>(value_buffer(context)->length());
}

cell* stack_values(node_ref context) {
    uint32_t position = context_cell(context)->w2;
    return position ? stack::state.args_begin + (position - 1) : nullptr;
}

void set_stack_values(node_ref context, cell* first) {
    context_cell(context)->w2 = first ? static_cast<uint32_t>(first - stack::state.args_begin) + 1 : 0;
}

// --- Keys ----------------------------------------------------------------------------------------

int32_t find_symbol(node_ref context, int32_t symbol, bool caseless) {
    probe_result r = probe(context, symbol, caseless);
    if (r.position < 0) return -1;
    // A key's index is its own position, except for a later spelling of a global name,
    // whose key shares the value slot of the name's first key.
    return static_cast<int32_t>(word_at(context, r.position)->w3);
}

int32_t key_position(node_ref context, int32_t symbol, bool caseless) {
    return probe(context, symbol, caseless).position;
}

int32_t find_or_add_symbol(node_ref context, int32_t symbol, bool caseless, int32_t* added_index) {
    held_context held(context);
    hashtable::grow_if_full(hashtable_of(held.node()));
    probe_result r = probe(held.node(), symbol, caseless);
    if (r.position >= 0) {
        int32_t index = static_cast<int32_t>(word_at(held.node(), r.position)->w3);
        if (added_index) *added_index = index;
        return index;
    }
    if (r.empty < 0) {
        // A full probe sequence: the growth rule prevents it; grow and try again.
        hashtable::resize(hashtable_of(held.node()), int64_t(hashtable::view(hashtable_of(held.node())).record->buckets) * 2);
        return find_or_add_symbol(held.node(), symbol, caseless, added_index);
    }
    int32_t position = key_count(held.node());
    cell* key = memory::alloc_tail_cell(memory::buffer_of(key_list_node(held.node())));
    *key = cell{TYPE_WORD, held.node(), static_cast<uint32_t>(symbol), static_cast<uint32_t>(position)};
    hashtable::place_entry(hashtable_of(held.node()), static_cast<uint32_t>(r.empty), position);
    if (added_index) *added_index = position;
    return -1;
}

int32_t add_word(node_ref context, int32_t symbol) {
    held_context held(context);
    int32_t added = -1;
    int32_t index = find_or_add_symbol(held.node(), symbol, true, &added);
    if (index < 0) index = added;
    if (has_heap_values(held.node())) ensure_value_slot(held, index);
    return index;
}

void put_symbol_value(node_ref context, int32_t symbol, const cell* value) {
    held_value kept(value);
    held_context held(context);
    int32_t index = add_word(held.node(), symbol);
    *value_slot(held.node(), index) = *kept.get();
}

cell* add_symbol_value_if_absent(node_ref context, int32_t symbol, const cell* value) {
    if (find_symbol(context, symbol, true) >= 0) return nullptr;
    held_value kept(value);
    held_context held(context);
    int32_t index = add_word(held.node(), symbol);
    cell* slot = value_slot(held.node(), index);
    *slot = *kept.get();
    return slot;
}

cell* value_of_symbol(node_ref context, int32_t symbol) {
    if (values_on_stack(context)) context = global;
    int32_t index = find_symbol(context, symbol, true);
    if (index < 0) return nullptr;
    return value_at(context, index);
}

cell word_for_symbol(node_ref context, int32_t symbol) {
    if (context) {
        probe_result r = probe(context, symbol, false);
        if (r.position >= 0) return *word_at(context, r.position);
    }
    return *word::make_global(symbol);
}

bool collect_set_words(node_ref context, const cell* block) {
    held_value source(block);
    held_context held(context);
    int32_t before = key_count(context);
    for (int64_t i = 0;; ++i) {
        memory::series_buffer* b = memory::buffer_of(source.get()->w2);
        int64_t index = static_cast<int32_t>(source.get()->w1) + i;
        if (index < 0) continue;
        if (index >= b->length()) break;
        const cell& c = b->head_cell()[index];
        if (c.is(TYPE_SET_WORD)) add_word(held.node(), static_cast<int32_t>(c.w2));
    }
    return key_count(held.node()) > before;
}

// --- Values on the stack ------------------------------------------------------------------------

cell* push_value_at(node_ref context, int32_t index) {
    cell value = *value_slot(context, index);
    return stack::push_copy(&value);
}

cell* get_value_and_push(node_ref context, int32_t index) {
    cell value = *value_slot(context, index);
    mark_touched(context, index);
    *stack::last_slot() = value;
    return stack::push_copy(&value);
}

cell* get_value_into_last_slot(node_ref context, int32_t index) {
    cell value = *value_slot(context, index);
    mark_touched(context, index);
    cell* last = stack::last_slot();
    *last = value;
    return last;
}

// --- Binding ---------------------------------------------------------------------------------------

int32_t bind_word(node_ref context, cell* word) {
    int32_t index = find_symbol(context, static_cast<int32_t>(word->w2), true);
    if (index < 0) return -1;
    word->w1 = context;
    word->w3 = static_cast<uint32_t>(index);
    return index;
}

void bind_block(const cell* block, node_ref context, bool self_option) {
    if (!block->w2) return;
    int64_t index = static_cast<int32_t>(block->w1);
    int64_t length = memory::buffer_of(block->w2)->length();
    bind_cells(block->w2, index < 0 ? 0 : index > length ? length : index, context, self_option);
}

}  // namespace zor::context
