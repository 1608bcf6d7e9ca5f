// The slot table: its block lives in a runtime cell that the collector marks with its
// cells; which slots are free is kept twice, as the chain through the free slots and as
// one byte per slot, so that a slot released twice is noticed instead of corrupting the
// chain.
#include "runtime/value/slot-table.h"

#include <cstring>

#include "runtime/gc/gc.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"

namespace zor::slot_table {

namespace {

cell table{TYPE_NONE, 0, 0, 0};  // block! of the slots once made
uint8_t* is_free = nullptr;       // one byte per slot, from the tracked heap
int32_t slots = 0;
int32_t free_head = -1;
int32_t free_slots = 0;

inline constexpr int32_t END_OF_CHAIN = -1;

cell* slot_cells() { return memory::buffer_of(table.w2)->head_cell(); }

// Chains slots from..slots-1 as free, in index order, in front of `then`.
void chain_free(int32_t from, int32_t then) {
    cell* cells = slot_cells();
    for (int32_t i = from; i < slots; ++i) {
        int32_t next = i + 1 < slots ? i + 1 : then;
        cells[i] = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(next), 0};
        is_free[i] = 1;
    }
    free_slots += slots - from;
}

void grow() {
    int32_t old_slots = slots;
    if (old_slots > INT32_MAX / 2 / int32_t(sizeof(cell))) raise::throw_error(err::internal_no_memory);
    int32_t new_slots = old_slots * 2;
    // The table cell is a root, so the buffer is found again through it after the
    // allocation (which may collect and move it).
    memory::series_buffer* grown =
        memory::expand_series(memory::buffer_of(table.w2), int64_t(new_slots) * int64_t(sizeof(cell)));
    grown->tail = grown->head + int64_t(new_slots) * int64_t(sizeof(cell));
    is_free = static_cast<uint8_t*>(heap::resize(is_free, static_cast<size_t>(new_slots)));
    slots = new_slots;
    chain_free(old_slots, free_head);
    free_head = old_slots;
}

void ensure_init() {
    if (!table.w2) init();
}

[[noreturn]] void raise_out_of_range(int32_t index) {
    cell value{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
    raise::throw_error(err::script_out_of_range, &value);
}

void check_index(int32_t index) {
    ensure_init();
    if (index < 1 || index > slots) raise_out_of_range(index);
}

}  // namespace

void init() {
    table = cell{TYPE_UNSET, 0, 0, 0};
    node_ref node = memory::alloc_cells(INITIAL_CAPACITY);
    table.w2 = node;  // nothing allocates between the allocation and this store
    table.header = TYPE_BLOCK;
    memory::series_buffer* b = memory::buffer_of(node);
    b->tail = b->head + INITIAL_CAPACITY * int64_t(sizeof(cell));
    heap::release(is_free);
    is_free = static_cast<uint8_t*>(heap::allocate(INITIAL_CAPACITY));
    slots = INITIAL_CAPACITY;
    free_slots = 0;
    chain_free(0, END_OF_CHAIN);
    free_head = 0;
}

int32_t store(const cell* value) {
    ensure_init();
    cell copy = *value;  // the value may lie in the block that grows
    if (free_head == END_OF_CHAIN) grow();
    int32_t index = free_head;
    cell* slot = slot_cells() + index;
    free_head = static_cast<int32_t>(slot->w2);
    *slot = copy;
    is_free[index] = 0;
    --free_slots;
    return index + 1;
}

cell* get(int32_t index) {
    check_index(index);
    return slot_cells() + (index - 1);
}

void release(int32_t index) {
    if (index == 0) return;
    check_index(index);
    int32_t i = index - 1;
    if (is_free[i]) return;
    slot_cells()[i] = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(free_head), 0};
    is_free[i] = 1;
    free_head = i;
    ++free_slots;
}

int32_t capacity() {
    ensure_init();
    return slots;
}

int32_t free_count() {
    ensure_init();
    return free_slots;
}

bool free_q(int32_t index) {
    check_index(index);
    return is_free[index - 1] != 0;
}

void mark() {
    if (table.w2) gc::mark_block(&table.w2);
}

}  // namespace zor::slot_table
