// block! sort and the set operations (unique, union, intersect, exclude, difference).
//
// sort orders record numbers, not the cells themselves: the comparators read the records
// through the block's node, and the permutation is applied once the sort is over. So the
// block is whole at every moment a comparator runs (a function comparator runs user code
// that may allocate, collect, or even edit the block), no cell is ever held only in a
// work buffer the collector cannot see, and no raw buffer address lives across a call.
// The buffer is pinned for the duration all the same, so that a comparator looking at it
// sees it where it was.
//
// The set operations index the cells they have kept, and the cells of the other series,
// in temporary hash indexes of cell positions (hashtable::hash_value, the runtime's value
// hash), which live in process memory for the one call and hold no value themselves.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/datatypes/series-sort.h"
#include "runtime/value/action-signatures.h"
#include "runtime/value/upcalls.h"

namespace zor::block {

using memory::series_buffer;

namespace {

constexpr int64_t CELL_BYTES = sizeof(cell);
// Scratch record blocks that held records larger than this are not kept after a sort.
constexpr int64_t LARGE_RECORD_BYTES = 0x1FFFFF;

series_buffer* buffer(const cell* block) { return memory::buffer_of(block->w2); }
int64_t length_of(const cell* block) { return buffer(block)->length(); }
int64_t index_of(const cell* block) { return static_cast<int32_t>(block->w1); }
cell* cell_at(const cell* block, int64_t i) { return buffer(block)->head_cell() + i; }

void require_buffer(const cell* s) {
    if (s->w2 == 0 || !memory::buffer_of(s->w2)) raise::throw_error(err::script_invalid_arg, s);
}

// --- Sort ---------------------------------------------------------------------------------------------

// The two blocks that carry whole records to a function comparator under /all: made at
// first use and kept for the run, marked by a callback of their own that is registered
// with the type, so the set of roots does not change with the first sort.
cell record_blocks[2] = {{TYPE_NONE, 0, 0, 0}, {TYPE_NONE, 0, 0, 0}};

void mark_record_blocks() { gc::mark_cells(record_blocks, record_blocks + 2); }

void prepare_record_blocks(int64_t cells) {
    for (cell& block : record_blocks) {
        if (!block.is(TYPE_BLOCK)) {
            make_empty(&block, cells);
        } else if (buffer(&block)->size < cells * CELL_BYTES) {
            memory::expand_series(buffer(&block), cells * CELL_BYTES);
        }
    }
}

void release_large_record_blocks(int64_t cells) {
    if (cells * CELL_BYTES <= LARGE_RECORD_BYTES || !record_blocks[0].is(TYPE_BLOCK)) return;
    for (cell& block : record_blocks) make_empty(&block, 1);
}

struct sort_state {
    cell* series;       // a stable cell naming the block
    int64_t start;      // cell position of the first record
    int64_t records;    // record count
    int64_t size;       // cells per record
    int64_t offset;     // the field compared, without /all
    bool all;
    bool reverse;
    int op;             // COMPARE_SORT, or COMPARE_SORT_CASE under /case
    cell* function;     // a function comparator, or null
    cell* left;         // argument slots of a function call
    cell* right;
};

// Answers -2 (not comparable) as the difference of the type ids, so every pair orders.
int order_cells(cell* a, cell* b, int op) {
    // Two integers order by value, as their compare action would answer, without the call.
    if (a->is(TYPE_INTEGER) && b->is(TYPE_INTEGER)) {
        auto x = static_cast<int32_t>(a->w2), y = static_cast<int32_t>(b->w2);
        return (x > y) - (x < y);
    }
    int answer = compare_cells(a, b, op);
    if (answer == -2) answer = int(a->type()) - int(b->type());
    return answer;
}

// The function's answer as an order: true 1, false -1; an integer as it is; a float by its
// sign (zero and NaN 0); none -1; anything else 1.
int order_of_result(const cell* result) {
    switch (result->type()) {
        case TYPE_LOGIC: return result->w1 == 1 ? 1 : -1;
        case TYPE_INTEGER: {
            int32_t v = integer::read_cell(result);
            return v;
        }
        case TYPE_FLOAT: {
            double d = float_::get(result);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TYPE_NONE: return -1;
        default: return 1;
    }
}

void load_record(sort_state* state, int64_t record, cell* into) {
    // A comparator may have shortened the block; a record no longer there ends the sort.
    if (length_of(state->series) < state->start + state->records * state->size) {
        raise::throw_error(err::script_past_end);
    }
    if (!state->all) {
        *into = *cell_at(state->series, state->start + record * state->size);
        return;
    }
    cell* block = &record_blocks[into == state->left ? 0 : 1];
    // A comparator may have replaced the scratch blocks (a nested sort releases them).
    if (!block->is(TYPE_BLOCK)) make_empty(block, state->size);
    if (buffer(block)->data_end() - buffer(block)->head < state->size * CELL_BYTES) {
        memory::expand_series(buffer(block), state->size * CELL_BYTES);
    }
    series_buffer* b = buffer(block);
    const cell* first = cell_at(state->series, state->start + record * state->size);
    std::memcpy(b->head, first, static_cast<size_t>(state->size * CELL_BYTES));
    b->tail = b->head + state->size * CELL_BYTES;
    *into = *block;
}

int compare_records(const void* x, const void* y, void* argument, void*) {
    auto* state = static_cast<sort_state*>(argument);
    int64_t i = *static_cast<const int32_t*>(x);
    int64_t j = *static_cast<const int32_t*>(y);
    if (state->function) {
        stack::slot_mark mark;  // what the call leaves on the stack
        // Called with (second, first), or (first, second) under /reverse.
        int64_t first = state->reverse ? i : j;
        int64_t second = state->reverse ? j : i;
        load_record(state, first, state->left);
        load_record(state, second, state->right);
        cell* result = upcalls::call_comparator(state->function, state->left, state->right);
        return order_of_result(result);
    }
    if (state->reverse) std::swap(i, j);
    int64_t fields = state->all ? state->size : 1;
    int64_t first_field = state->all ? 0 : state->offset;
    for (int64_t f = 0; f < fields; ++f) {
        cell* a = cell_at(state->series, state->start + i * state->size + first_field + f);
        cell* b = cell_at(state->series, state->start + j * state->size + first_field + f);
        int answer = order_cells(a, b, state->op);
        if (answer != 0) return answer;
    }
    return 0;
}

// Records compared where they lie, for sorts without a user function: comparing values
// never allocates, so the cells can be sorted in place with sequential access.
int compare_records_in_place(const void* x, const void* y, void* argument, void*) {
    auto* state = static_cast<sort_state*>(argument);
    auto* a = static_cast<cell*>(const_cast<void*>(x));
    auto* b = static_cast<cell*>(const_cast<void*>(y));
    if (state->reverse) std::swap(a, b);
    int64_t fields = state->all ? state->size : 1;
    int64_t first_field = state->all ? 0 : state->offset;
    for (int64_t f = first_field; f < first_field + fields; ++f) {
        int answer = order_cells(a + f, b + f, state->op);
        if (answer != 0) return answer;
    }
    return 0;
}

using memory::pin_guard;

// A run of integers alone sorts by value without a comparator call per comparison. The
// order is the stable one, which is also an acceptable order for the unstable sort (equal
// integers differ only in their new-line marker). Answers false when a cell is not an
// integer, leaving the cells untouched.
bool sort_integers(cell* first, int64_t n, bool reverse) {
    for (int64_t i = 0; i < n; ++i) {
        if (!first[i].is(TYPE_INTEGER)) return false;
    }
    auto key = [](const cell& c) { return static_cast<int32_t>(c.w2); };
    if (reverse) {
        std::stable_sort(first, first + n, [&](const cell& a, const cell& b) { return key(a) > key(b); });
    } else {
        std::stable_sort(first, first + n, [&](const cell& a, const cell& b) { return key(a) < key(b); });
    }
    return true;
}

// Writes the records in the sorted order of their numbers.
void apply_order(const sort_state& state, const std::vector<int32_t>& order) {
    if (length_of(state.series) < state.start + state.records * state.size) raise::throw_error(err::script_past_end);
    cell* first = cell_at(state.series, state.start);
    std::vector<cell> records(first, first + state.records * state.size);
    for (int64_t k = 0; k < state.records; ++k) {
        std::memcpy(first + k * state.size, records.data() + order[static_cast<size_t>(k)] * state.size,
                    static_cast<size_t>(state.size * CELL_BYTES));
    }
}

}  // namespace

void register_sort_roots() {
    static bool registered = false;
    if (registered) return;
    gc::add_mark_callback(&mark_record_blocks);
    registered = true;
}

cell* sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
           bool stable) {
    require_buffer(series);
    int64_t length = length_of(series);
    int64_t index = std::max<int64_t>(index_of(series), 0);
    int64_t count = length - index;
    if (count <= 0) return series;
    auto [start, sorted, size, offset, function] =
        series::sort_refinements(series, index, length, skip, comparator, part, all);
    count = sorted;
    // A negative /part moves the series back to the cells it sorts.
    series->w1 = static_cast<uint32_t>(start);
    if (count == 0) return series;

    int op = case_sensitive ? COMPARE_SORT_CASE : COMPARE_SORT;
    sort_state state{series, start, count / size, size, offset, all && skip, reverse, op, function, nullptr, nullptr};
    if (function) {
        state.left = stack::push_slot();
        state.right = stack::push_slot();
        cell::init_unset(state.left);
        cell::init_unset(state.right);
        if (state.all) prepare_record_blocks(size);
    }
    bool owned = series::notify(series, series::SORT, nullptr, start, 0);
    if (length_of(series) < start + count) raise::throw_error(err::script_past_end);
    if (!function) {
        pin_guard pin(series);
        cell* first = cell_at(series, start);
        int64_t record_bytes = size * CELL_BYTES;
        if (size == 1 && sort_integers(first, state.records, reverse)) {
            // done
        } else if (stable) {
            sort::stable_merge_sort(first, state.records, record_bytes, &state, nullptr, &compare_records_in_place);
        } else {
            sort::quick_sort(first, state.records, record_bytes, &state, nullptr, &compare_records_in_place);
        }
        if (owned) series::notify(series, series::SORTED, nullptr, start, 0);
        return series;
    }
    std::vector<int32_t> order(static_cast<size_t>(state.records));
    for (int64_t k = 0; k < state.records; ++k) order[static_cast<size_t>(k)] = static_cast<int32_t>(k);
    {
        pin_guard pin(series);
        if (stable) {
            sort::stable_merge_sort(order.data(), state.records, sizeof(int32_t), &state, nullptr, &compare_records);
        } else {
            sort::quick_sort(order.data(), state.records, sizeof(int32_t), &state, nullptr, &compare_records);
        }
    }
    apply_order(state, order);
    if (function && state.all) release_large_record_blocks(size);
    if (owned) series::notify(series, series::SORTED, nullptr, start, 0);
    return series;
}

// --- Set operations ----------------------------------------------------------------------------------

namespace {

// A hash index of cell positions of one block, open addressing with linear probing. It
// holds positions only; the cells are read through the block's node. Values that hash by
// their node (objects, maps) are re-entered after a collection that moved nodes.
class cell_index {
public:
    cell_index(cell* block, int64_t expected, int op) : block_(block), op_(op) {
        size_t buckets = 8;
        while (double(buckets) * hashtable::LOAD_FACTOR < double(expected) + 1) buckets *= 2;
        slots_.assign(buckets, -1);
        stamp_ = gc::evacuation_count();
    }

    // Whether an entered cell is equal to the key: same type, and equal by the index's code.
    bool contains(cell* key) {
        stack::slot_mark mark;
        cell* stored = stack::push_slot();
        bool found = false;
        bool restart = true;
        while (restart) {
            restart = false;
            refresh();
            size_t mask = slots_.size() - 1;
            for (size_t bucket = hashtable::hash_value(key, false) & mask;; bucket = (bucket + 1) & mask) {
                int32_t position = slots_[bucket];
                if (position < 0) break;
                if (position >= length_of(block_)) continue;
                *stored = *cell_at(block_, position);
                if (stored->type() != key->type()) continue;
                if (compare_cells(stored, key, op_) == 0) {
                    found = true;
                    break;
                }
                // A comparison that moved nodes leaves the buckets stale: probe again.
                if (stamp_ != gc::evacuation_count()) {
                    restart = true;
                    break;
                }
            }
        }
        return found;
    }

    void add(int64_t position) {
        refresh();
        if (double(count_ + 1) > double(slots_.size()) * hashtable::LOAD_FACTOR) rehash(slots_.size() * 2);
        place(position);
        entered_.push_back(static_cast<int32_t>(position));
        ++count_;
    }

private:
    void place(int64_t position) {
        size_t mask = slots_.size() - 1;
        size_t bucket = hashtable::hash_value(cell_at(block_, position), false) & mask;
        while (slots_[bucket] >= 0) bucket = (bucket + 1) & mask;
        slots_[bucket] = static_cast<int32_t>(position);
    }

    void rehash(size_t buckets) {
        slots_.assign(buckets, -1);
        for (int32_t position : entered_) {
            if (position < length_of(block_)) place(position);
        }
        stamp_ = gc::evacuation_count();
    }

    void refresh() {
        if (stamp_ != gc::evacuation_count()) rehash(slots_.size());
    }

    cell* block_;
    int op_;
    std::vector<int32_t> slots_;
    std::vector<int32_t> entered_;
    int64_t count_ = 0;
    uint32_t stamp_;
};

// Which cells of a series a set operation keeps.
class set_builder {
public:
    set_builder(cell* result, bool case_sensitive, int64_t expected)
        : result_(result), op_(case_sensitive ? COMPARE_STRICT_EQUAL : COMPARE_EQUAL), kept_(result, expected, op_) {}

    // Appends the record that starts at a position of the source, when its first cell is
    // not in the result yet.
    void keep(cell* source, int64_t position, int64_t size) {
        stack::slot_mark mark;
        cell* first = stack::push_copy(cell_at(source, position));
        bool present = series::is_block_like(first->type()) ? has_block(first) : kept_.contains(first);
        if (!present) {
            append_copy(result_, first);
            if (!series::is_block_like(first->type())) kept_.add(length_of(result_) - 1);
            for (int64_t k = 1; k < size && position + k < length_of(source); ++k) {
                append_copy(result_, cell_at(source, position + k));
            }
        }
    }

private:
    // Blocks are kept apart from the index: they hash by their node but are equal by
    // their contents, so they are compared one by one.
    bool has_block(cell* value) {
        stack::slot_mark mark;
        cell* stored = stack::push_slot();
        bool found = false;
        for (int64_t i = 0; i < length_of(result_) && !found; ++i) {
            *stored = *cell_at(result_, i);
            found = stored->type() == value->type() && compare_cells(stored, value, op_) == 0;
        }
        return found;
    }

    cell* result_;
    int op_;
    cell_index kept_;
};

// Membership of cells in the other series of intersect, exclude and difference.
class membership {
public:
    membership(cell* other, bool case_sensitive)
        : other_(other),
          index_(other, std::max<int64_t>(length_of(other), 1), case_sensitive ? COMPARE_STRICT_EQUAL : COMPARE_EQUAL) {
        for (int64_t i = std::max<int64_t>(index_of(other), 0); i < length_of(other); ++i) {
            if (!series::is_block_like(cell_at(other, i)->type())) index_.add(i);
        }
    }

    bool has(cell* value) {
        if (!series::is_block_like(value->type())) return index_.contains(value);
        stack::slot_mark mark;
        // Block-like cells are looked for as one cell, without /case.
        cell* found = find(other_, value, nullptr, true, false, false, false, nullptr, nullptr, false, false, false,
                           false);
        return !found->is(TYPE_NONE);
    }

private:
    cell* other_;
    cell_index index_;
};

}  // namespace

cell* set_operation(cell* first, cell* second, bool case_sensitive, cell* skip, int op) {
    int64_t size = 1;
    if (skip) {
        if (!skip->is(TYPE_INTEGER)) series::invalid_refine_arg(series::REFINEMENT_SKIP, skip);
        size = integer::read_cell(skip);
        if (size < 1) series::invalid_refine_arg(series::REFINEMENT_SKIP, skip);
    }
    require_buffer(first);
    bool two_series = op != SET_UNIQUE;
    if (two_series) {
        if (!second || !series::is_block_like(second->type())) {
            raise::throw_error(err::script_invalid_arg, second ? stack::push_copy(second) : &none::value);
        }
        require_buffer(second);
    }
    // Stale indexes count from the tail.
    first->w1 = static_cast<uint32_t>(std::clamp<int64_t>(index_of(first), 0, length_of(first)));
    if (two_series) second->w1 = static_cast<uint32_t>(std::clamp<int64_t>(index_of(second), 0, length_of(second)));
    bool hash_result = first->is(TYPE_HASH) || (two_series && second->is(TYPE_HASH));

    int64_t capacity = length_of(first) - index_of(first);
    if (op == SET_UNION) capacity += length_of(second) - index_of(second);
    cell* result = push_empty(std::max<int64_t>(capacity, 1));
    {
        set_builder builder(result, case_sensitive, capacity);
        auto walk = [&](cell* source, cell* other, bool keep_members) {
            std::unique_ptr<membership> members;
            if (other) members = std::make_unique<membership>(other, case_sensitive);
            for (int64_t position = index_of(source); position < length_of(source); position += size) {
                stack::slot_mark mark;
                if (members) {
                    cell* value = stack::push_copy(cell_at(source, position));
                    if (members->has(value) != keep_members) continue;
                }
                builder.keep(source, position, size);
            }
        };
        switch (op) {
            case SET_UNIQUE: walk(first, nullptr, true); break;
            case SET_UNION:
                walk(first, nullptr, true);
                walk(second, nullptr, true);
                break;
            case SET_INTERSECT: walk(first, second, true); break;
            case SET_EXCLUDE: walk(first, second, false); break;
            case SET_DIFFERENCE:
                walk(first, second, false);
                walk(second, first, false);
                break;
            default: raise::throw_error(err::script_invalid_arg, integer::make_in(stack::push_slot(), op));
        }
    }
    if (hash_result) {
        // The result indexes its cells as a hash! of its own.
        node_ref table = hashtable::make(length_of(result), result, hashtable::KIND_HASH, 0);
        result->w3 = table;
        cell::set_type(result, TYPE_HASH);
    } else {
        cell::set_type(result, first->type());
    }
    *first = *result;
    return first;
}

}  // namespace zor::block
