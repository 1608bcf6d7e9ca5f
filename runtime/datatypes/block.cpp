// block! storage: the cell-series routines that the runtime builds, reads and edits
// blocks with. Values to copy in are first copied to an argument-stack slot, so that an
// allocation that moves buffers or nodes cannot leave them stale; buffers are read again
// through the block's node after every allocation.
#include "runtime/datatypes/block.h"

#include <algorithm>
#include <cstring>

#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-classes.h"

namespace zor::block {

using memory::series_buffer;

cell root{TYPE_NONE, 0, 0, 0};

namespace {

constexpr int64_t CELL_BYTES = sizeof(cell);

series_buffer* buffer(const cell* block) { return memory::buffer_of(block->w2); }

int64_t length_of(const cell* block) {
    series_buffer* b = buffer(block);
    return (b->tail - b->head) / CELL_BYTES;
}

int64_t clamped(const cell* block) { return std::clamp<int64_t>(static_cast<int32_t>(block->w1), 0, length_of(block)); }

// Makes room for n more cells after the tail: the buffer grows to the needed size times
// the factor (cut to the series limit).
void reserve(cell* block, int64_t n, int64_t factor) {
    series_buffer* b = buffer(block);
    if (b->data_end() - b->tail >= n * CELL_BYTES) return;
    int64_t needed = (b->tail - b->head) + n * CELL_BYTES;
    memory::expand_series(b, memory::growth_size(needed, needed * factor));
}


bool copied_by_paths(type_id type) { return type == TYPE_PAREN || type_classes::is(type, type_classes::ANY_PATH); }

}  // namespace

// --- Reading and positioning -----------------------------------------------------------------------

int64_t rest_length(const cell* block) { return length_of(block) - int64_t(static_cast<int32_t>(block->w1)); }

bool advance(cell* block) {
    int64_t length = length_of(block);
    int64_t index = static_cast<int32_t>(block->w1);
    if (index < length) block->w1 = static_cast<uint32_t>(++index);
    return index == length;
}

cell* get_current_cell(cell* block) {
    int64_t index = clamped(block);
    block->w1 = static_cast<uint32_t>(index);
    return buffer(block)->head_cell() + index;
}

cell* get_tail(const cell* block) { return buffer(block)->tail_cell(); }

bool is_at_tail(const cell* block) {
    series_buffer* b = buffer(block);
    return b->head + int64_t(static_cast<int32_t>(block->w1)) * CELL_BYTES == b->tail;
}

cell* get_cell(const cell* block, int64_t n) { return buffer(block)->head_cell() + n; }

void truncate(cell* block, int64_t n) {
    // Only ever shortens: a position at or past the tail leaves the block as it is.
    int64_t length = length_of(block);
    n = std::max<int64_t>(n, 0);
    if (n >= length) return;
    if (block->is(TYPE_HASH)) series::hash_index::call_delete_range(block->w3, n, length - n);
    series_buffer* b = buffer(block);
    b->tail = b->head + n * CELL_BYTES;
}

void clear_from_index(cell* block) { truncate(block, static_cast<int32_t>(block->w1)); }

void drop_last_cell(cell* block) {
    int64_t length = length_of(block);
    if (length == 0) return;
    truncate(block, length - 1);
    if (static_cast<int32_t>(block->w1) > length - 1) block->w1 = static_cast<uint32_t>(length - 1);
}

// --- Building and editing ------------------------------------------------------------------------------

cell* alloc_tail_cell(cell* block) {
    series_buffer* b = buffer(block);
    if (b->data_end() - b->tail < CELL_BYTES) {
        // Doubling, from at least two cells: an empty buffer has nothing to double.
        b = memory::expand_series(b, std::max<int64_t>(int64_t(b->size) * 2, 2 * CELL_BYTES));
    }
    cell* c = b->tail_cell();
    cell::init_unset(c);
    b->tail += CELL_BYTES;
    return c;
}

cell* append_copy(cell* block, const cell* value) {
    stack::slot_mark mark(stack::explicit_release);
    cell* held = stack::push_copy(value);  // the value may live in the buffer that grows
    cell* c = alloc_tail_cell(block);
    *c = *held;
    if (block->is(TYPE_HASH)) {
        int64_t position = length_of(block) - 1;
        series::hash_index::enter_cell(block, position);
        mark.release();
        return get_cell(block, position);
    }
    mark.release();
    return c;
}

cell* append_rest(cell* destination, const cell* source) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(source);
    int64_t count = std::max<int64_t>(rest_length(held), 0);
    if (count == 0) return destination;
    reserve(destination, count, 2);
    series_buffer* d = buffer(destination);
    int64_t first = length_of(destination);
    std::memcpy(d->tail, buffer(held)->head_cell() + static_cast<int32_t>(held->w1),
                static_cast<size_t>(count * CELL_BYTES));
    d->tail += count * CELL_BYTES;
    if (destination->is(TYPE_HASH)) {
        for (int64_t i = 0; i < count; ++i) {
            if (series::hash_index::enter_cell(destination, first + i) == 2) break;
        }
    }
    return destination;
}

cell* insert_cell(cell* block, const cell* value, bool advance_index, bool at_head) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(value);
    reserve(block, 1, 2);
    int64_t length = length_of(block);
    int64_t position = at_head ? 0 : clamped(block);
    series_buffer* b = buffer(block);
    cell* at = b->head_cell() + position;
    std::memmove(at + 1, at, static_cast<size_t>((length - position) * CELL_BYTES));
    *at = *held;
    b->tail += CELL_BYTES;
    if (block->is(TYPE_HASH)) {
        if (series::hash_index::call_shift_indexes(block->w3, 1, position, length - position, true)) {
            series::hash_index::call_rebuild(block->w3, length + 1);
        } else {
            series::hash_index::enter_cell(block, position);
        }
    }
    if (advance_index) block->w1 = static_cast<uint32_t>(at_head ? static_cast<int32_t>(block->w1) + 1 : position + 1);
    return block;
}

cell* insert_all(cell* destination, const cell* source) {
    stack::slot_mark mark;
    // A source sharing the destination's series is read from a copy of its cells, since
    // each insertion moves them.
    cell* held = destination->w2 == source->w2 ? push_copy(source, false, false) : stack::push_copy(source);
    int64_t count = std::max<int64_t>(rest_length(held), 0);
    int64_t first = static_cast<int32_t>(held->w1);
    for (int64_t i = 0; i < count && first + i < length_of(held); ++i) {
        insert_cell(destination, get_cell(held, first + i), true, false);
    }
    return destination;
}

cell* insert_result_into_outer() {
    cell* outer = stack::result_slot() - 1;
    insert_cell(outer, stack::result_slot(), true, false);
    return outer;
}

cell* append_second_arg() {
    cell* block = stack::argument(0);
    append_copy(block, stack::argument(1));
    return block;
}

cell* append_result_to_outer() {
    cell* outer = stack::result_slot() - 1;
    append_copy(outer, stack::result_slot());
    return outer;
}

cell* select_value(const cell* block, cell* value) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(block);
    cell* scratch = stack::push_slot();
    for (int64_t i = clamped(held); i < length_of(held); ++i) {
        *scratch = *get_cell(held, i);
        if (compare_cells(value, scratch, COMPARE_FIND) != 0) continue;
        if (i + 1 >= length_of(held)) return &none::value;
        return get_cell(held, i + 1);
    }
    return &none::value;
}

int remove_value(cell* block, cell* value, bool from_head) {
    stack::slot_mark mark;
    cell* scratch = stack::push_slot();
    int64_t index = static_cast<int32_t>(block->w1);
    for (int64_t i = from_head ? 0 : clamped(block); i < length_of(block); ++i) {
        *scratch = *get_cell(block, i);
        if (compare_cells(value, scratch, COMPARE_FIND) != 0) continue;
        if (block->is(TYPE_HASH)) {
            int64_t after = length_of(block) - i - 1;
            if (series::hash_index::call_shift_indexes(block->w3, -1, i + 1, after, true)) {
                series::remove_range(block, i, 1);
                series::hash_index::call_rebuild(block->w3, length_of(block));
            } else {
                series::remove_range(block, i, 1);
            }
        } else {
            series::remove_range(block, i, 1);
        }
        return i <= index ? 1 : 0;
    }
    return 0;
}

cell* select_word(const cell* block, const cell* word, bool exact) {
    int32_t symbol = static_cast<int32_t>(word->w2);
    int32_t wanted = exact ? symbol : symbol::canonical_id(symbol);
    int64_t length = length_of(block);
    for (int64_t i = clamped(block); i < length; ++i) {
        const cell* c = get_cell(block, i);
        if (!type_classes::is(c->type(), type_classes::ANY_WORD)) continue;
        int32_t id = static_cast<int32_t>(c->w2);
        if ((exact ? id : symbol::canonical_id(id)) != wanted) continue;
        return i + 1 < length ? get_cell(block, i + 1) : &none::value;
    }
    return &none::value;
}

cell* push_copy(const cell* value, bool deep, bool paths) {
    cell* result = stack::push_slot();
    cell::init_unset(result);
    cell* source = stack::push_copy(value);
    type_id type = source->type();
    int64_t start = clamped(source);
    int64_t count = length_of(source) - start;
    node_ref node = memory::alloc_cells(std::max<int64_t>(count, 1));
    series_buffer* copy = memory::buffer_of(node);
    std::memcpy(copy->head, buffer(source)->head_cell() + start, static_cast<size_t>(count * CELL_BYTES));
    copy->tail = copy->head + count * CELL_BYTES;
    *result = cell{type, 0, node, 0};
    if (deep && count > 0) {
        mold_guard::scope guard(source->w2);
        for (int64_t i = 0; i < count; ++i) {
            cell* c = get_cell(result, i);
            type_id t = c->type();
            if (t != TYPE_BLOCK && !(paths && copied_by_paths(t))) continue;
            if (mold_guard::contains(c->w2)) {
                mold_guard::reset();
                raise::throw_error(err::internal_no_cycle);
            }
            uint32_t kept = c->header & FLAG_NEW_LINE;  // the layout of the copied code stays
            cell* nested = push_copy(c, true, paths);
            nested->header |= kept;
            *get_cell(result, i) = *nested;
            stack::drop_slots(1);
        }
    }
    stack::drop_slots(1);  // the source
    return result;
}

void copy_nested_of_types(cell* block, int64_t from, int64_t end, int64_t step, bool deep, cell* types) {
    if (step < 1) step = 1;
    stack::slot_mark mark;
    for (int64_t i = from; i < end && i < length_of(block); i += step) {
        type_id t = get_cell(block, i)->type();
        bool wanted = types->is(TYPE_TYPESET) ? raise::typeset_has(types, t)
                                              : types->is(TYPE_DATATYPE) && types->w1 == uint32_t(t);
        if (!wanted) continue;
        if (!series::is_series_type(t) && t != TYPE_OBJECT && t != TYPE_BITSET && t != TYPE_ERROR && t != TYPE_MAP) {
            continue;
        }
        stack::slot_mark scope;
        cell* slot = stack::push_copy(get_cell(block, i));
        cell* copied = actions::handler<ACTION_COPY>(slot)(slot, slot, nullptr, deep, deep ? types : nullptr);
        if (i < length_of(block)) *get_cell(block, i) = *copied;
    }
}

// --- Making blocks -------------------------------------------------------------------------------------

cell* make_empty(cell* destination, int64_t capacity) {
    cell::init_unset(destination);
    node_ref node = memory::alloc_cells(std::max<int64_t>(capacity, 1));
    destination->w2 = node;
    destination->header = TYPE_BLOCK;
    return destination;
}

cell* make_empty_static(cell* destination, int64_t capacity, bool fixed) {
    cell::init_unset(destination);
    capacity = std::max<int64_t>(capacity, 1);
    node_ref node = fixed ? memory::alloc_heap_series(capacity, CELL_BYTES, 0) : memory::alloc_unset_cells(capacity);
    destination->w2 = node;
    destination->header = TYPE_BLOCK;
    return destination;
}

cell* make_root(cell* parent, int64_t capacity) {
    // The cell first: a tracked-heap buffer is allocated without collecting, so the new
    // node is stored before anything else can run.
    cell* c = parent ? alloc_tail_cell(parent) : &root;
    node_ref node = memory::alloc_heap_series(std::max<int64_t>(capacity, 1), CELL_BYTES, 0);
    *c = cell{TYPE_BLOCK, 0, node, 0};
    return c;
}

cell* make_empty_at_tail(cell* parent, int64_t capacity) {
    if (!parent) return make_empty(&root, capacity);
    // Built in a stack slot first: appending may grow the parent, and a collection then
    // must see the new series referenced.
    stack::slot_mark mark;
    cell* slot = stack::push_slot();
    make_empty(slot, capacity);
    return append_copy(parent, slot);
}

cell* push_value(const cell* value) { return stack::push_copy(value); }

cell* push_empty(int64_t capacity) { return make_empty(stack::push_slot(), capacity == 0 ? 1 : capacity); }

}  // namespace zor::block
