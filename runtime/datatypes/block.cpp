// block! storage: the cell-series routines the runtime builds its values with.
#include "runtime/datatypes/block.h"

#include "runtime/eval/stack.h"
#include "runtime/memory.h"

namespace zor::block {

cell root{TYPE_NONE, 0, 0, 0};

namespace {

memory::series_buffer* buffer(const cell* block) { return memory::buffer_of(block->w2); }

cell* new_cell_in(cell* parent) { return parent ? alloc_tail_cell(parent) : &root; }

}  // namespace

cell* make_root(cell* parent, int64_t capacity) {
    node_ref node = memory::alloc_heap_series(capacity, sizeof(cell), 0);
    cell* c = new_cell_in(parent);
    *c = cell{TYPE_BLOCK, 0, node, 0};
    return c;
}

cell* make_in(cell* destination, int64_t capacity) {
    cell::init_unset(destination);
    node_ref node = memory::alloc_cells(capacity);
    destination->w2 = node;
    destination->header = TYPE_BLOCK;
    return destination;
}

cell* make_empty_at_tail(cell* parent, int64_t capacity) {
    if (!parent) return make_in(&root, capacity);
    // Built in a stack slot first: appending may grow the parent, and a collection then
    // must see the new series referenced.
    cell* slot = stack::push_slot();
    make_in(slot, capacity);
    cell* c = append_copy(parent, slot);
    stack::drop_slots(1);
    return c;
}

cell* alloc_tail_cell(cell* block) { return memory::alloc_tail_cell(buffer(block)); }

cell* append_copy(cell* block, const cell* value) {
    cell copy = *value;  // the value may live in the buffer that grows
    cell* c = alloc_tail_cell(block);
    *c = copy;
    return c;
}

int64_t rest_length(const cell* block) {
    memory::series_buffer* b = buffer(block);
    return (b->tail - b->head) / int64_t(sizeof(cell)) - int64_t(block->w1);
}

cell* get_cell(const cell* block, int64_t n) { return buffer(block)->head_cell() + n; }

}  // namespace zor::block
