// The hash! index: puts, lookups and the position bookkeeping of kind-0 tables. See
// runtime/datatypes/hash-index.h for the layout and the rules callers keep.
#include "runtime/datatypes/hash-index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/int-array.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"

namespace zor::hash_index {

using hashtable::table_record;
using hashtable::table_view;
using memory::series_buffer;

namespace {

constexpr int64_t CELL_BYTES = sizeof(cell);
constexpr int64_t ENTRY_BYTES = 4;
// Keeps every array below the memory manager's 32-bit buffer limit (keys: 4 bytes a bucket).
constexpr int64_t MAX_BUCKETS = int64_t(1) << 28;
// The string view type of the comparison routines: it matches a stored value of any type.
constexpr uint32_t TYPE_STRING_VIEW = 56;

enum put_status : int { PUT_NEW = 0, PUT_JOINED = 1, PUT_REBUILT = 2, PUT_FULL = 3 };

// --- Guards ---------------------------------------------------------------------------------

// Keeps nodes where they are while an operation holds the table's node (and new arrays'
// nodes) in locals across its allocations; buffers may still move.
class nodes_stay {
public:
    nodes_stay() : saved_(gc::node_compaction) { gc::node_compaction = 0; }
    ~nodes_stay() { gc::node_compaction = saved_; }
    nodes_stay(const nodes_stay&) = delete;
    nodes_stay& operator=(const nodes_stay&) = delete;

private:
    uint32_t saved_;
};

// A table that an error leaves half-updated is marked for a rebuild at its next lookup.
// The table's node stays valid meanwhile: nodes do not move while a nodes_stay lives, and
// this guard is declared after it. Every normal end of the update calls release(), so a
// guard that ends unreleased is one that an error or a throw unwinds.
class stale_on_error {
public:
    explicit stale_on_error(node_ref table) : table_(table) {}
    ~stale_on_error() {
        if (table_) mark_stale(table_);
    }
    // The update is complete: the table matches its values.
    void release() { table_ = 0; }
    stale_on_error(const stale_on_error&) = delete;
    stale_on_error& operator=(const stale_on_error&) = delete;

private:
    node_ref table_;
};

// --- Record access ----------------------------------------------------------------------------

inline node_ref as_node(int32_t word) { return static_cast<node_ref>(word); }
inline int32_t as_word(node_ref node) { return static_cast<int32_t>(node); }

inline table_record* record_of(node_ref table) {
    return reinterpret_cast<table_record*>(memory::buffer_of(table)->head);
}

void require_index(node_ref table) {
    if (table && memory::buffer_of(table) && record_of(table)->kind == hashtable::KIND_HASH) return;
    cell none{TYPE_NONE, 0, 0, 0};
    raise::throw_error(err::script_invalid_arg, &none);
}

inline series_buffer* values_buffer(const table_record* r) { return memory::buffer_of(as_node(r->values)); }
inline int64_t value_count(const table_record* r) {
    series_buffer* b = values_buffer(r);
    return (b->tail - b->head) / CELL_BYTES;
}
inline cell* value_at(const table_record* r, int64_t p) { return values_buffer(r)->head_cell() + p; }

// The cell's index in the table's series, or -1 when it does not lie there.
int64_t cell_index(const table_record* r, const cell* value) {
    series_buffer* b = values_buffer(r);
    auto address = reinterpret_cast<uintptr_t>(value);
    auto head = reinterpret_cast<uintptr_t>(b->head);
    auto tail = reinterpret_cast<uintptr_t>(b->tail);
    if (address < head || address >= tail || (address - head) % CELL_BYTES != 0) return -1;
    return static_cast<int64_t>((address - head) / CELL_BYTES);
}

int32_t fresh_stamp() { return static_cast<int32_t>(gc::evacuation_count() % uint32_t(INT32_MAX)) + 1; }

bool stamp_stale(const table_record* r) { return r->gc_stamp != 0 && r->gc_stamp != fresh_stamp(); }

// Values whose hash is made from a node: evacuating node frames changes it.
bool hashes_by_node(type_id type) {
    switch (type) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: case TYPE_FUNCTION:
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_OBJECT:
        case TYPE_ERROR: case TYPE_HASH: case TYPE_MAP: case TYPE_PORT: case TYPE_IMAGE: case TYPE_EVENT:
            return true;
        default: return false;
    }
}

// A type without a compare action cannot equal anything.
int compare_values(cell* stored, cell* wanted, int op) {
    action_entry entry = type_registry::handler_of(stored->type(), ACTION_COMPARE);
    if (!entry) return -2;
    return reinterpret_cast<action_handler<ACTION_COMPARE>>(entry)(stored, wanted, op);
}

bool same_type(const cell* stored, const cell* wanted) {
    return stored->type() == wanted->type() || (wanted->header & HEADER_TYPE_MASK) == TYPE_STRING_VIEW;
}

// --- Arrays -----------------------------------------------------------------------------------

inline int64_t flag_bytes(int64_t buckets) { return std::max<int64_t>(buckets / 4, 1); }

node_ref new_flags(int64_t buckets) {
    node_ref node = memory::alloc_filled_bytes(flag_bytes(buckets), 0xAA);
    series_buffer* b = memory::buffer_of(node);
    b->tail = b->head + flag_bytes(buckets);
    return node;
}

node_ref new_keys(int64_t buckets) {
    node_ref node = memory::alloc_filled_bytes(buckets * ENTRY_BYTES, 0);
    series_buffer* b = memory::buffer_of(node);
    b->tail = b->head + buckets * ENTRY_BYTES;
    return node;
}

// The position index: 32-bit entries from the head, however the buffer's unit is set.
inline series_buffer* positions_buffer(const table_record* r) { return memory::buffer_of(as_node(r->width)); }
inline int64_t position_length(const table_record* r) {
    series_buffer* b = positions_buffer(r);
    return (b->tail - b->head) / ENTRY_BYTES;
}
inline int32_t* position_data(const table_record* r) { return reinterpret_cast<int32_t*>(positions_buffer(r)->head); }

int32_t position_of(const table_record* r, int64_t p) {
    if (p < 0 || p >= position_length(r)) return -1;
    int32_t entry;
    std::memcpy(&entry, position_data(r) + p, ENTRY_BYTES);
    return entry;
}

// Writes an entry that the array already holds; entries past its end are not stored.
void set_position(const table_record* r, int64_t p, int32_t entry) {
    if (p < 0 || p >= position_length(r)) return;
    std::memcpy(position_data(r) + p, &entry, ENTRY_BYTES);
}

void fill_positions(const table_record* r, int64_t from, int64_t to) {
    from = std::max<int64_t>(from, 0);
    to = std::min(to, position_length(r));
    if (to > from) std::memset(position_data(r) + from, 0xFF, static_cast<size_t>((to - from) * ENTRY_BYTES));
}

// Makes the index hold at least `needed` entries, growing it to `grow_to` (when larger)
// with the new entries -1. May allocate.
void ensure_positions(node_ref table, int64_t needed, int64_t grow_to) {
    table_record* r = record_of(table);
    int64_t length = position_length(r);
    if (length >= needed) return;
    int64_t entries = std::max(needed, grow_to);
    if (entries > (INT32_MAX - 64) / ENTRY_BYTES) entries = needed;
    if (entries > (INT32_MAX - 64) / ENTRY_BYTES) raise::throw_error(err::internal_no_memory);
    series_buffer* b = positions_buffer(r);
    if (b->data_end() - b->head < entries * ENTRY_BYTES) {
        b = memory::expand_series(b, entries * ENTRY_BYTES);  // the record holds the node
    }
    b->tail = b->head + entries * ENTRY_BYTES;
    r = record_of(table);
    fill_positions(r, length, entries);
}

// --- Duplicate lists ----------------------------------------------------------------------------

inline series_buffer* lists_buffer(const table_record* r) { return memory::buffer_of(as_node(r->duplicates)); }
inline int64_t lists_length(const table_record* r) {
    series_buffer* b = lists_buffer(r);
    return (b->tail - b->head) / CELL_BYTES;
}

// The node of list k, 0 when k names no list in use.
node_ref list_node(const table_record* r, int64_t k) {
    if (k < 1 || k >= lists_length(r)) return 0;
    const cell* c = lists_buffer(r)->head_cell() + k;
    return c->is(TYPE_BINARY) ? c->w2 : 0;
}

inline int64_t list_size(node_ref list) {
    series_buffer* b = memory::buffer_of(list);
    return (b->tail - b->head) / ENTRY_BYTES;
}
inline int32_t* list_items(node_ref list) { return reinterpret_cast<int32_t*>(memory::buffer_of(list)->head); }

// The first position a bucket's key names, -1 when none.
int64_t first_position(const table_record* r, int32_t key) {
    if (key >= 0) return key;
    node_ref list = list_node(r, -int64_t(key));
    if (!list || list_size(list) == 0) return -1;
    return list_items(list)[0];
}

// Empties the block of lists: only the free-list head is left.
void reset_lists(const table_record* r) {
    series_buffer* b = lists_buffer(r);
    b->tail = b->head + CELL_BYTES;
    *b->head_cell() = cell{TYPE_INTEGER, 0, 0, 0};
}

// Gives a list a number: a freed one, or a new cell at the tail. The list must be rooted.
int32_t take_list_number(node_ref table, node_ref list) {
    table_record* r = record_of(table);
    series_buffer* b = lists_buffer(r);
    cell* cells = b->head_cell();
    int64_t length = lists_length(r);
    int64_t free = static_cast<int32_t>(cells[0].w2);
    if (free >= 1 && free < length && cells[free].is(TYPE_INTEGER)) {
        cells[0].w2 = cells[free].w2;
        cells[free] = cell{TYPE_BINARY, 0, list, 0};
        return static_cast<int32_t>(free);
    }
    if (length >= INT32_MAX) raise::throw_error(err::internal_no_memory);
    cell* c = memory::alloc_tail_cell(b);  // the record holds the block's node
    *c = cell{TYPE_BINARY, 0, list, 0};
    return static_cast<int32_t>(length);
}

void release_list_number(const table_record* r, int64_t k) {
    if (k < 1 || k >= lists_length(r)) return;
    cell* cells = lists_buffer(r)->head_cell();
    cells[k] = cell{TYPE_INTEGER, 0, cells[0].w2, 0};
    cells[0].w2 = static_cast<uint32_t>(k);
}

// --- Entries ------------------------------------------------------------------------------------

// Removes the entry of position a (Delete a cell). Allocates nothing.
void forget(node_ref table, int64_t a) {
    table_view v = hashtable::view(table);
    table_record* r = v.record;
    int64_t bucket = int64_t(position_of(r, a)) - 1;
    set_position(r, a, -1);
    if (bucket < 0 || bucket >= r->buckets) return;
    if (hashtable::bucket_state_of(v.flags, static_cast<uint32_t>(bucket)) != hashtable::BUCKET_LIVE) return;
    int32_t key = v.keys[bucket];
    if (key < 0) {
        node_ref list = list_node(r, -int64_t(key));
        if (list) {
            int_array::remove_int(list, static_cast<int32_t>(a));
            if (list_size(list) > 0) return;
        }
        release_list_number(r, -int64_t(key));
    } else if (key != a) {
        return;  // the bucket names another cell: nothing of a's to remove
    }
    hashtable::set_bucket_state(v.flags, static_cast<uint32_t>(bucket), hashtable::BUCKET_DELETED);
    r->size -= 1;
}

// Adds position h to the bucket of an equal value: a plain key becomes a list of two.
void join(node_ref table, uint32_t bucket, int64_t h) {
    int32_t key = hashtable::view(table).keys[bucket];
    table_record* r = record_of(table);
    node_ref list = key < 0 ? list_node(r, -int64_t(key)) : 0;
    if (list) {
        int_array::append_int(list, static_cast<int32_t>(h));  // the block of lists holds it
    } else {
        stack::slot_mark scope;
        list = int_array::make(4, 4);
        scope.hold_bytes(list);
        int32_t number = take_list_number(table, list);
        if (key >= 0) int_array::append_int(list, key);
        int_array::append_int(list, static_cast<int32_t>(h));
        hashtable::view(table).keys[bucket] = -number;
    }
    set_position(record_of(table), h, static_cast<int32_t>(bucket) + 1);
}

// Puts the cell at position h. With growth, a full table is rebuilt first (PUT_REBUILT);
// without it (inside a rebuild) a table without a free bucket answers PUT_FULL.
int put_at(node_ref table, int64_t h, bool growth, int64_t* equal_first) {
    table_record* r = record_of(table);
    if (h < 0 || h >= value_count(r)) return PUT_NEW;
    if (position_of(r, h) > 0) forget(table, h);  // entered already: enter it anew
    if (growth && r->occupied >= r->upper_bound) {
        grow(table);
        return PUT_REBUILT;
    }
    ensure_positions(table, h + 1, 2 * h);
    r = record_of(table);
    if (r->gc_stamp == 0 && hashes_by_node(value_at(r, h)->type())) r->gc_stamp = fresh_stamp();

    stack::slot_mark scope;
    cell* wanted = scope.scratch();
    cell* stored = scope.scratch();
    // A comparison may run code that edits the table; the walk then starts again, a few
    // times at most, after which a bucket whose entry changed counts as unequal.
    int restarts = 0;
    for (;;) {
        table_view v = hashtable::view(table);
        r = v.record;
        if (h >= value_count(r)) return PUT_NEW;
        *wanted = *value_at(r, h);
        uint32_t mask = static_cast<uint32_t>(r->buckets) - 1;
        uint32_t first = hashtable::hash_value(wanted, false) & mask, bucket = first, step = 0;
        int64_t target = -1, deleted = -1;
        bool restart = false;
        do {
            uint32_t state = hashtable::bucket_state_of(v.flags, bucket);
            if (state == hashtable::BUCKET_EMPTY) {
                target = bucket;
                break;
            }
            if (state == hashtable::BUCKET_DELETED) {
                deleted = bucket;
            } else {
                int32_t key = v.keys[bucket];
                int64_t f = first_position(r, key);
                if (f >= 0 && f < value_count(r) && f != h && value_at(r, f)->type() == wanted->type()) {
                    *stored = *value_at(r, f);
                    int answer = compare_values(stored, wanted, COMPARE_EQUAL);
                    v = hashtable::view(table);
                    r = v.record;
                    bool unchanged = hashtable::bucket_state_of(v.flags, bucket) == hashtable::BUCKET_LIVE &&
                                     v.keys[bucket] == key && h < value_count(r) && mask + 1 == uint32_t(r->buckets);
                    if (!unchanged && restarts < 3) {
                        ++restarts;
                        restart = true;
                        break;
                    }
                    if (unchanged && answer == 0) {
                        join(table, bucket, h);
                        if (equal_first) *equal_first = f;
                        return PUT_JOINED;
                    }
                }
            }
            bucket = hashtable::next_bucket(bucket, &step, mask);
        } while (bucket != first);
        if (restart) continue;
        if (deleted >= 0) target = deleted;
        if (target < 0) {
            if (!growth) return PUT_FULL;
            grow(table);
            return PUT_REBUILT;
        }
        hashtable::place_entry(table, static_cast<uint32_t>(target), static_cast<int32_t>(h));
        set_position(record_of(table), h, static_cast<int32_t>(target) + 1);
        return PUT_NEW;
    }
}

// Every bucket empty, no lists, every position -1, no stamp. Allocates nothing.
void reset_all(node_ref table) {
    table_view v = hashtable::view(table);
    table_record* r = v.record;
    std::memset(v.flags, 0xAA, static_cast<size_t>(flag_bytes(r->buckets)));
    r->size = r->occupied = 0;
    r->gc_stamp = 0;
    fill_positions(r, 0, position_length(r));
    reset_lists(r);
}

// Brings a table whose node-hashed keys went stale up to date before a lookup.
void refresh(node_ref table) {
    table_record* r = record_of(table);
    if (stamp_stale(r) && !gc::in_collection_q()) rebuild_hash(table, value_count(r));
}

// Whether position l qualifies for a find from b with skip c, and its rank (lower first).
bool qualifies(int64_t l, int64_t b, int64_t c, int64_t n, bool last, bool reverse, int64_t* rank) {
    if (last) {
        if (l < b || (n - 1 - l) % c != 0) return false;
        *rank = -l;
    } else if (reverse) {
        if (l >= b || (b - 1 - l) % c != 0) return false;
        *rank = -l;
    } else {
        if (l < b || (l - b) % c != 0) return false;
        *rank = l;
    }
    return true;
}

// The positions of a live bucket, copied out.
std::vector<int32_t> positions_of_bucket(const table_record* r, int32_t key) {
    std::vector<int32_t> positions;
    if (key >= 0) {
        positions.push_back(key);
        return positions;
    }
    node_ref list = list_node(r, -int64_t(key));
    if (!list) return positions;
    const int32_t* items = list_items(list);
    positions.assign(items, items + list_size(list));
    return positions;
}

}  // namespace

// --- Making and copying ---------------------------------------------------------------------------

node_ref make(int64_t requested, const cell* values) {
    nodes_stay guard;
    if (requested < 0) requested = 0;
    node_ref given = 0;
    if (values) {
        if (values->w2 == 0 || !memory::buffer_of(values->w2) ||
            memory::buffer_of(values->w2)->unit() != sizeof(cell)) {
            raise::throw_error(err::script_invalid_arg, values);
        }
        given = values->w2;
    }
    int32_t buckets, upper_bound;
    hashtable::size_for_request(requested, &buckets, &upper_bound);
    if (requested > (INT32_MAX - 64) / ENTRY_BYTES) raise::throw_error(err::internal_no_memory);

    stack::slot_mark scope;
    if (given) scope.hold_block(given);
    node_ref table = memory::alloc_filled_bytes(hashtable::RECORD_BYTES, 0);
    memory::buffer_of(table)->tail = memory::buffer_of(table)->head + hashtable::RECORD_BYTES;
    // Held as plain bytes until the record is complete; then this slot becomes the hash!
    // cell, so that no collection finds the record both as bytes and as a table.
    cell* table_slot = stack::push_slot();
    *table_slot = cell{TYPE_BINARY, 0, table, 0};
    node_ref flags = new_flags(buckets);
    scope.hold_bytes(flags);
    node_ref keys = new_keys(buckets);
    scope.hold_bytes(keys);
    node_ref positions = memory::alloc_units(requested, ENTRY_BYTES);
    series_buffer* pb = memory::buffer_of(positions);
    std::memset(pb->head, 0xFF, static_cast<size_t>(pb->data_end() - pb->head));
    pb->tail = pb->head + requested * ENTRY_BYTES;
    scope.hold_bytes(positions);
    node_ref lists = memory::alloc_cells(4);
    scope.hold_block(lists);
    node_ref value_series = given;
    if (!value_series) {
        value_series = memory::alloc_cells(std::max<int64_t>(requested, 1));
        scope.hold_block(value_series);
    }
    table_record* r = record_of(table);
    r->kind = hashtable::KIND_HASH;
    r->width = as_word(positions);
    r->duplicates = as_word(lists);
    r->flags = as_word(flags);
    r->keys = as_word(keys);
    r->values = as_word(value_series);
    r->buckets = buckets;
    r->upper_bound = upper_bound;
    reset_lists(r);

    // From here the table is complete: a hash! cell keeps all of it for the collector.
    *table_slot = cell{TYPE_HASH, 0, value_series, table};
    index_values(table, 0, 1);
    return table;
}

node_ref copy(node_ref table, node_ref values) {
    nodes_stay guard;
    require_index(table);
    if (!values || memory::buffer_of(values)->unit() != sizeof(cell)) {
        cell none{TYPE_NONE, 0, 0, 0};
        raise::throw_error(err::script_invalid_arg, &none);
    }
    stack::slot_mark scope;
    scope.hold_block(values);
    // The record is copied by hand: copying it as a series would hold the source's record
    // as plain bytes across the allocation, where a collection must find it as a table.
    node_ref record_copy = memory::alloc_bytes(hashtable::RECORD_BYTES);
    scope.hold_bytes(record_copy);
    series_buffer* copied = memory::buffer_of(record_copy);
    std::memcpy(copied->head, memory::buffer_of(table)->head, hashtable::RECORD_BYTES);
    copied->tail = copied->head + hashtable::RECORD_BYTES;
    node_ref flags = memory::copy_series(memory::buffer_of(as_node(record_of(table)->flags)));
    scope.hold_bytes(flags);
    node_ref keys = memory::copy_series(memory::buffer_of(as_node(record_of(table)->keys)));
    scope.hold_bytes(keys);
    node_ref positions = memory::copy_series(positions_buffer(record_of(table)));
    scope.hold_bytes(positions);
    node_ref lists = memory::copy_series(lists_buffer(record_of(table)));
    scope.hold_block(lists);
    // Each list is copied too: a shared list would follow the other table's edits.
    for (int64_t k = 1; k < memory::buffer_of(lists)->length(); ++k) {
        cell* c = memory::buffer_of(lists)->head_cell() + k;
        if (!c->is(TYPE_BINARY) || !c->w2) continue;
        node_ref list = int_array::copy(c->w2);
        (memory::buffer_of(lists)->head_cell() + k)->w2 = list;
    }
    table_record* r = record_of(record_copy);
    r->flags = as_word(flags);
    r->keys = as_word(keys);
    r->width = as_word(positions);
    r->duplicates = as_word(lists);
    r->values = as_word(values);
    return record_copy;
}

// --- Entering, finding, deleting --------------------------------------------------------------------

cell* put(node_ref table, cell* value, int32_t* status) {
    require_index(table);
    nodes_stay guard;
    stale_on_error stale(table);
    int64_t index = cell_index(record_of(table), value);
    if (index < 0) raise::throw_error(err::script_invalid_arg, value);
    int64_t equal_first = -1;
    int answer = put_at(table, index, true, &equal_first);
    stale.release();
    if (status) *status = answer;
    if (answer != PUT_JOINED || equal_first < 0) return nullptr;
    table_record* r = record_of(table);
    return equal_first < value_count(r) ? value_at(r, equal_first) : nullptr;
}

cell* find(node_ref table, cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse) {
    require_index(table);
    nodes_stay guard;
    stack::slot_mark scope;
    cell* wanted = scope.scratch();
    *wanted = *key;
    cell* stored = scope.scratch();
    refresh(table);

    int64_t c = skip == 0 ? 1 : std::abs(int64_t(skip));
    int64_t b = start;
    table_view v = hashtable::view(table);
    uint32_t mask = static_cast<uint32_t>(v.record->buckets) - 1;
    uint32_t first = hashtable::hash_value(wanted, false) & mask, bucket = first, step = 0;
    do {
        uint32_t state = hashtable::bucket_state_of(v.flags, bucket);
        if (state == hashtable::BUCKET_EMPTY) break;
        if (state == hashtable::BUCKET_LIVE) {
            table_record* r = v.record;
            int32_t stored_key = v.keys[bucket];
            int64_t f = first_position(r, stored_key);
            if (f >= 0 && f < value_count(r) && same_type(value_at(r, f), wanted)) {
                *stored = *value_at(r, f);
                int answer = compare_values(stored, wanted, COMPARE_EQUAL);
                v = hashtable::view(table);
                if (answer == 0) {
                    // The positions that the start and skip allow, best first; the first
                    // that also equals the key by the caller's op is the answer.
                    int64_t n = value_count(v.record);
                    std::vector<std::pair<int64_t, int64_t>> ranked;
                    for (int32_t l : positions_of_bucket(v.record, v.keys[bucket])) {
                        int64_t rank;
                        if (l >= 0 && l < n && qualifies(l, b, c, n, last, reverse, &rank)) ranked.push_back({rank, l});
                    }
                    std::sort(ranked.begin(), ranked.end());
                    for (const auto& [rank, l] : ranked) {
                        (void)rank;
                        table_record* now = record_of(table);
                        if (l >= value_count(now)) continue;
                        *stored = *value_at(now, l);
                        if (compare_values(stored, wanted, op) == 0) {
                            now = record_of(table);
                            if (l < value_count(now)) return value_at(now, l);
                        }
                    }
                    v = hashtable::view(table);
                }
            }
        }
        bucket = hashtable::next_bucket(bucket, &step, mask);
    } while (bucket != first && mask + 1 == uint32_t(v.record->buckets));
    return nullptr;
}

cell* find_next(node_ref table, cell* key, int32_t* saved_bucket, int32_t* saved_step) {
    require_index(table);
    nodes_stay guard;
    stack::slot_mark scope;
    cell* wanted = scope.scratch();
    *wanted = *key;
    cell* stored = scope.scratch();
    table_view v = hashtable::view(table);
    uint32_t buckets = static_cast<uint32_t>(v.record->buckets);
    uint32_t mask = buckets - 1;
    uint32_t bucket = hashtable::hash_value(wanted, false) & mask, step = 0;
    if (*saved_bucket >= 0) {
        bucket = static_cast<uint32_t>(*saved_bucket) & mask;
        step = static_cast<uint32_t>(std::max(*saved_step, 0));
        bucket = hashtable::next_bucket(bucket, &step, mask);
    }
    // Triangular steps visit every bucket once: a walk of that many steps has seen them all.
    while (step < buckets && static_cast<uint32_t>(v.record->buckets) == buckets) {
        uint32_t state = hashtable::bucket_state_of(v.flags, bucket);
        if (state == hashtable::BUCKET_EMPTY) break;
        if (state == hashtable::BUCKET_LIVE) {
            table_record* r = v.record;
            int64_t f = first_position(r, v.keys[bucket]);
            if (f >= 0 && f < value_count(r) && same_type(value_at(r, f), wanted)) {
                *stored = *value_at(r, f);
                int answer = compare_values(stored, wanted, COMPARE_EQUAL);
                v = hashtable::view(table);
                if (answer == 0 && f < value_count(v.record)) {
                    *saved_bucket = static_cast<int32_t>(bucket);
                    *saved_step = static_cast<int32_t>(step);
                    return value_at(v.record, f);
                }
            }
        }
        bucket = hashtable::next_bucket(bucket, &step, mask);
    }
    *saved_bucket = static_cast<int32_t>(bucket);
    *saved_step = static_cast<int32_t>(step);
    return nullptr;
}

void delete_cell(node_ref table, cell* value) {
    require_index(table);
    int64_t index = cell_index(record_of(table), value);
    if (index >= 0) forget(table, index);
}

void clear(node_ref table) {
    require_index(table);
    reset_all(table);
    series_buffer* b = values_buffer(record_of(table));
    b->tail = b->head;
}

// --- Index moves ---------------------------------------------------------------------------------

void delete_range(node_ref table, int64_t position, int64_t count) {
    require_index(table);
    table_record* r = record_of(table);
    int64_t n = value_count(r);
    if (position <= 0 && position + count >= n) {
        reset_all(table);
        return;
    }
    if (position < 0) {
        count += position;
        position = 0;
    }
    count = std::min(count, n - position);
    if (count <= 0) return;
    for (int64_t a = position; a < position + count; ++a) forget(table, a);
}

bool shift_indexes(node_ref table, int64_t delta, int64_t from, int64_t count, bool remove_entries) {
    require_index(table);
    if (count > SHIFT_LIMIT) return true;
    nodes_stay guard;
    count = std::max<int64_t>(count, 0);
    from = std::max<int64_t>(from, 0);
    if (delta < 0 && remove_entries) {
        for (int64_t a = std::max<int64_t>(from + delta, 0); a < from; ++a) forget(table, a);
    }
    if (delta > 0) ensure_positions(table, from + count + delta, 2 * (from + count + delta));
    if (delta == 0) return false;

    table_view v = hashtable::view(table);
    table_record* r = v.record;
    std::vector<uint8_t> lists_done;  // sized when the first list turns up: appends meet none
    for (int64_t p = from; p < from + count; ++p) {
        int64_t bucket = int64_t(position_of(r, p)) - 1;
        if (bucket < 0 || bucket >= r->buckets) continue;
        if (hashtable::bucket_state_of(v.flags, static_cast<uint32_t>(bucket)) != hashtable::BUCKET_LIVE) continue;
        int32_t key = v.keys[bucket];
        if (key >= 0) {
            if (key == p) v.keys[bucket] = static_cast<int32_t>(p + delta);
            continue;
        }
        int64_t k = -int64_t(key);
        node_ref list = list_node(r, k);
        if (!list) continue;
        if (lists_done.empty()) lists_done.assign(static_cast<size_t>(lists_length(r)), 0);
        if (lists_done[static_cast<size_t>(k)]) continue;
        lists_done[static_cast<size_t>(k)] = 1;
        int32_t* items = list_items(list);
        for (int64_t i = 0; i < list_size(list); ++i) {
            if (items[i] >= from) items[i] = static_cast<int32_t>(items[i] + delta);
        }
    }
    // The entries themselves follow their cells.
    int64_t length = position_length(r);
    int32_t* data = position_data(r);
    if (delta > 0) {
        int64_t moved = std::clamp<int64_t>(length - from - delta, 0, count);
        if (moved > 0) std::memmove(data + from + delta, data + from, static_cast<size_t>(moved * ENTRY_BYTES));
        fill_positions(r, from, from + delta);
    } else {
        int64_t target = from + delta;
        int64_t skipped = target < 0 ? -target : 0;  // entries that would fall before the head
        int64_t real = std::clamp<int64_t>(length - from, 0, count);
        if (real > skipped) {
            std::memmove(data + target + skipped, data + from + skipped,
                         static_cast<size_t>((real - skipped) * ENTRY_BYTES));
        }
        fill_positions(r, std::max<int64_t>(target + real, 0), from + count);
    }
    return false;
}

void move_entries(node_ref table, int64_t to, int64_t from, int64_t count) {
    require_index(table);
    if (count <= 0 || to == from) return;
    nodes_stay guard;
    int64_t n = value_count(record_of(table));
    int64_t low = std::min(to, from);
    int64_t high = std::max(to, from) + count;
    if (low < 0 || high > n) {
        // Not a move inside the block: whatever happened, the block itself is the truth.
        rebuild_hash(table, n);
        return;
    }
    auto moved_to = [&](int64_t p) -> int64_t {
        if (p >= from && p < from + count) return p + (to - from);
        return to > from ? p - count : p + count;
    };
    ensure_positions(table, high, high);
    table_view v = hashtable::view(table);
    table_record* r = v.record;
    std::vector<int32_t> saved(static_cast<size_t>(high - low));
    std::vector<uint8_t> lists_done;
    for (int64_t p = low; p < high; ++p) {
        saved[static_cast<size_t>(p - low)] = position_of(r, p);
        int64_t bucket = int64_t(position_of(r, p)) - 1;
        if (bucket < 0 || bucket >= r->buckets) continue;
        if (hashtable::bucket_state_of(v.flags, static_cast<uint32_t>(bucket)) != hashtable::BUCKET_LIVE) continue;
        int32_t key = v.keys[bucket];
        if (key >= 0) {
            if (key == p) v.keys[bucket] = static_cast<int32_t>(moved_to(p));
            continue;
        }
        int64_t k = -int64_t(key);
        node_ref list = list_node(r, k);
        if (!list) continue;
        if (lists_done.empty()) lists_done.assign(static_cast<size_t>(lists_length(r)), 0);
        if (lists_done[static_cast<size_t>(k)]) continue;
        lists_done[static_cast<size_t>(k)] = 1;
        int32_t* items = list_items(list);
        for (int64_t i = 0; i < list_size(list); ++i) {
            if (items[i] >= low && items[i] < high) items[i] = static_cast<int32_t>(moved_to(items[i]));
        }
    }
    for (int64_t p = low; p < high; ++p) set_position(r, moved_to(p), saved[static_cast<size_t>(p - low)]);
}

void rebuild_hash(node_ref table, int64_t request) {
    require_index(table);
    nodes_stay guard;
    stale_on_error stale(table);
    record_of(table)->gc_stamp = STALE_STAMP;  // until every cell is in again
    int64_t n = std::max<int64_t>(request, 0);
    for (;;) {
        double wanted = std::trunc(double(n) * 1.5);
        if (wanted > double(MAX_BUCKETS)) raise::throw_error(err::internal_no_memory);
        uint32_t power = hashtable::power_of_two_at_or_above(static_cast<uint32_t>(wanted));
        int32_t bound = static_cast<int32_t>(std::trunc(double(power) * hashtable::LOAD_FACTOR));
        int64_t buckets = std::max<uint32_t>(power, 4);
        {
            stack::slot_mark scope;
            node_ref flags = new_flags(buckets);
            scope.hold_bytes(flags);
            node_ref keys = new_keys(buckets);
            scope.hold_bytes(keys);
            table_record* r = record_of(table);
            r->flags = as_word(flags);
            r->keys = as_word(keys);
            r->buckets = static_cast<int32_t>(buckets);
            r->upper_bound = bound;
            r->size = r->occupied = 0;
            reset_lists(r);
        }
        ensure_positions(table, value_count(record_of(table)), 0);
        table_record* r = record_of(table);
        fill_positions(r, 0, position_length(r));

        bool full = false, node_keyed = false;
        for (int64_t p = 0; p < value_count(record_of(table)); ++p) {
            if (hashes_by_node(value_at(record_of(table), p)->type())) node_keyed = true;
            if (put_at(table, p, false, nullptr) == PUT_FULL) {
                full = true;
                break;
            }
        }
        if (full) {
            // Cannot happen for the requests the callers make; a bigger table always ends it.
            n = std::max<int64_t>(n * 2, 8);
            continue;
        }
        record_of(table)->gc_stamp = node_keyed ? fresh_stamp() : 0;
        stale.release();
        return;
    }
}

void index_values(node_ref table, int64_t start, int64_t step) {
    require_index(table);
    nodes_stay guard;
    stale_on_error stale(table);
    if (step < 1) step = 1;
    for (int64_t p = std::max<int64_t>(start, 0); p < value_count(record_of(table)); p += step) {
        if (put_at(table, p, true, nullptr) == PUT_REBUILT) break;
    }
    stale.release();
}

void grow(node_ref table) {
    table_record* r = record_of(table);
    int64_t buckets = r->buckets;
    rebuild_hash(table, buckets > 2 * int64_t(r->size) ? buckets - 1 : buckets + 1);
}

void mark_stale(node_ref table) {
    if (table && memory::buffer_of(table) && record_of(table)->kind == hashtable::KIND_HASH) {
        record_of(table)->gc_stamp = STALE_STAMP;
    }
}

// --- Reading the index -----------------------------------------------------------------------------

int32_t position_entry(node_ref table, int64_t position) {
    require_index(table);
    return position_of(record_of(table), position);
}

std::vector<int32_t> bucket_positions(node_ref table, int64_t bucket) {
    require_index(table);
    table_view v = hashtable::view(table);
    if (bucket < 0 || bucket >= v.record->buckets) return {};
    if (hashtable::bucket_state_of(v.flags, static_cast<uint32_t>(bucket)) != hashtable::BUCKET_LIVE) return {};
    return positions_of_bucket(v.record, v.keys[bucket]);
}

int64_t list_count(node_ref table) {
    require_index(table);
    table_record* r = record_of(table);
    int64_t count = 0;
    for (int64_t k = 1; k < lists_length(r); ++k) count += list_node(r, k) != 0;
    return count;
}

}  // namespace zor::hash_index
