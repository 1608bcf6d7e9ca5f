// Memory statistics: a snapshot of the manager's frames, then the blocks built from it.
#include "runtime/memory/memory-stats.h"

#include <cstdint>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"

namespace zor::memory {

namespace {

struct triple {
    int64_t first, second, third;
};

struct snapshot {
    std::vector<triple> node_frames;    // free, used, count
    std::vector<triple> series_frames;  // free, used, capacity (bytes)
    std::vector<int64_t> big_series;    // sizes
    double bytes_in_use = 0;
    int64_t manager_total = 0;          // frames and big series with their headers
    int64_t heap_total = 0;
};

snapshot take_snapshot() {
    snapshot s;
    for (node_frame* f = state.node_head; f; f = f->next) {
        s.node_frames.push_back({int64_t(f->count) - f->used, f->used, f->count});
        s.bytes_in_use += double(f->used) * double(sizeof(void*));
        s.manager_total += int64_t(sizeof(node_frame)) + int64_t(f->count) * int64_t(sizeof(void*));
    }
    for (series_frame* f = state.series_head; f; f = f->next) {
        std::byte* start = reinterpret_cast<std::byte*>(f + 1);
        s.series_frames.push_back({f->end - f->fill, f->fill - start, f->end - start});
        s.bytes_in_use += double(f->fill - start);
        s.manager_total += (f->end - start) + int64_t(sizeof(series_frame));
    }
    for (big_link* link = state.big_head; link; link = link->next) {
        s.big_series.push_back(static_cast<int64_t>(link->size));
        s.bytes_in_use += double(link->size);
        s.manager_total += static_cast<int64_t>(link->size) + int64_t(sizeof(big_link));
    }
    s.heap_total = static_cast<int64_t>(heap::total_bytes());
    return s;
}

// Restores the GC-enabled flag however the report ends.
class collection_off {
public:
    collection_off() : saved_(gc::enabled) { gc::enabled = 0; }
    ~collection_off() { gc::enabled = saved_; }
    collection_off(const collection_off&) = delete;
    collection_off& operator=(const collection_off&) = delete;

private:
    uint32_t saved_;
};

cell number_cell(int64_t n) {
    if (n > INT32_MAX || n < INT32_MIN) {
        cell c{TYPE_FLOAT, 0, 0, 0};
        float_::store(&c, double(n));
        return c;
    }
    return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(n)), 0};
}

void append_on_new_line(cell* block, cell value) {
    value.header |= FLAG_NEW_LINE;
    block::append_copy(block, &value);
}

// A block of triples, each triple a block of three numbers on a line of its own; built in
// an argument-stack slot and appended to the result.
void append_triples(cell* result, const std::vector<triple>& triples) {
    cell* list = block::make_in(stack::push_slot(), int64_t(triples.size()) + 1);
    for (const triple& t : triples) {
        cell* three = block::make_in(stack::push_slot(), 3);
        for (int64_t n : {t.first, t.second, t.third}) {
            cell number = number_cell(n);
            block::append_copy(three, &number);
        }
        append_on_new_line(list, *three);
        stack::drop_slots(1);
    }
    block::append_copy(result, list);
    stack::drop_slots(1);
}

}  // namespace

double report_stats(cell* result, int mode) {
    collection_off off;
    snapshot s = take_snapshot();
    if (mode == STATS_BYTES_IN_USE) return s.bytes_in_use;
    if (mode < STATS_BYTES_IN_USE || mode > 3) {
        cell value{TYPE_INTEGER, 0, static_cast<uint32_t>(mode), 0};
        raise::throw_error(err::script_out_of_range, &value);
    }
    if (!result || !result->is(TYPE_BLOCK)) raise::throw_error(err::script_invalid_arg, result);

    stack::stack_guard guard;
    append_triples(result, s.node_frames);
    append_triples(result, s.series_frames);
    cell* sizes = block::make_in(stack::push_slot(), int64_t(s.big_series.size()) + 1);
    for (int64_t size : s.big_series) append_on_new_line(sizes, number_cell(size));
    block::append_copy(result, sizes);
    cell total = number_cell(s.manager_total + s.heap_total);
    block::append_copy(result, &total);
    cell heap_total = number_cell(s.heap_total);
    block::append_copy(result, &heap_total);
    return 0;
}

}  // namespace zor::memory
