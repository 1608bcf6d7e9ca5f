// The collector's entry points and its sequence: evacuate sparse node frames, mark from
// the roots, settle weak tables, sweep the handle registry, compact the series frames,
// sweep big series and node frames. Also the roots that only the collector keeps: mark
// callbacks and root guards.
#include "runtime/gc/gc.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc-internal.h"
#include "runtime/value/handle-registry.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/value/slot-table.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"

namespace zor::gc {

uint32_t enabled = 0;
uint32_t node_compaction = 1;

namespace {

uint32_t cycles = 0;
uint32_t evacuations = 0;
uint64_t collecting_ns = 0;  // time spent in collections, all told
// Bytes in the series frames and big series that the last collection left; the trigger
// lets allowance_after(survived_bytes) more be carved before it collects again.
int64_t survived_bytes = 0;
// Bytes of big series carved since the last collection (those freed since included).
int64_t big_bytes_since = 0;
uint32_t collecting = 0;  // the in-collection flag
int torture = -1;         // -1: environment not read yet

// Mark callbacks: null entries are holes left by removals, reused by the next add.
mark_callback* callbacks = nullptr;
int callback_count = 0;     // entries in use, holes included
int callback_capacity = 0;

root_guard* guards = nullptr;  // the most recent guard; a doubly linked list

void set_collecting(uint32_t value) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    collecting = value;
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

int64_t bytes_carved() {
    int64_t bytes = 0;
    for (memory::series_frame* f = memory::state.series_head; f; f = f->next) {
        bytes += f->fill - reinterpret_cast<std::byte*>(f + 1);
    }
    for (memory::big_link* link = memory::state.big_head; link; link = link->next) {
        bytes += static_cast<int64_t>(link->size);
    }
    return bytes;
}

uint64_t now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
}

void mark_type_words() {
    if (!type_registry::type_entries) return;
    for (int id = 0; id < TYPE_TABLE_SIZE; ++id) {
        cell* word = &type_registry::type_entries[id].word;
        mark_cells(word, word + 1);
    }
}

void mark_roots() {
    mark_cells(&block::root, &block::root + 1);
    if (stack::state.args_begin) {
        mark_cells(stack::state.args_begin, stack::state.args_top);
        stack::mark_frames();
    }
    size_t fixed = memory::state.fixed_count;
    for (size_t i = 0; i < fixed; ++i) mark_block(&memory::state.fixed_nodes[i]);
    mark_context(&context::global);
    mark_table(&symbol::index_table);
    mark_type_words();
    slot_table::mark();
    mark_root_guards();
    for (int i = 0; i < callback_count; ++i) {
        if (callbacks[i]) callbacks[i]();
    }
}

}  // namespace

bool torture_mode() {
    if (torture < 0) {
        const char* value = std::getenv("ZOR_GC_TORTURE");
        torture = value && std::strcmp(value, "1") == 0;
    }
    return torture == 1;
}

void set_torture_mode(bool on) { torture = on ? 1 : 0; }

void init() {
    cycles = 0;
    evacuations = 0;
    torture_mode();
}

void collect() {
    if (collecting) return;
    set_collecting(1);
    uint64_t started = now_ns();
    bool torturing = torture_mode();
    bool evacuated = node_compaction && evacuate_node_frames(torturing);
    build_live_maps();

    begin_marking(torturing);
    mark_roots();
    drain_mark_stack();
    settle_weak_tables();
    if (relocating()) mold_guard::relocate(relocation_of);

    handle_registry::sweep();
    compact_series_frames(torturing);
    memory::sweep_big_series();
    rebuild_node_free_lists();
    memory::sweep_node_frames();
    free_relocation_map();
    clear_heap_marks();
    end_marking();

    if (evacuated) ++evacuations;
    ++cycles;
    survived_bytes = bytes_carved();
    big_bytes_since = 0;
    collecting_ns += now_ns() - started;
    set_collecting(0);
}

void trigger() {
    if (!enabled) return;
    int64_t since = bytes_carved() - survived_bytes;
    if (since < allowance_after(survived_bytes)) return;  // the allocator takes a new frame instead
    collect();
}

void trigger_big(int64_t bytes) {
    if (enabled) {
        bool over = big_bytes_since + bytes > std::max(survived_bytes, MINIMUM_ALLOWANCE);
        if (over) collect(); else trigger();
    }
    big_bytes_since += bytes;
}

void torture_point() {
    if (enabled && torture_mode()) collect();
}

uint32_t cycle_count() { return cycles; }
uint32_t evacuation_count() { return evacuations; }
uint64_t collection_time_ns() { return collecting_ns; }
bool in_collection_q() { return collecting != 0; }

// --- Mark callbacks ----------------------------------------------------------------------------

void add_mark_callback(mark_callback callback) {
    if (!callback) return;
    for (int i = 0; i < callback_count; ++i) {
        if (!callbacks[i]) {
            callbacks[i] = callback;
            return;
        }
    }
    if (callback_count == callback_capacity) {
        callback_capacity = callback_capacity ? callback_capacity * 2 : 16;
        callbacks = static_cast<mark_callback*>(heap::resize(callbacks, sizeof(mark_callback) * callback_capacity));
    }
    callbacks[callback_count++] = callback;
}

void remove_mark_callback(mark_callback callback) {
    for (int i = 0; i < callback_count; ++i) {
        if (callbacks[i] == callback) {
            callbacks[i] = nullptr;
            break;
        }
    }
    // Trailing holes are dropped, so the list never keeps more slots than it needs.
    while (callback_count > 0 && !callbacks[callback_count - 1]) --callback_count;
}

mark_callback mark_callback_at(int i) {
    for (int k = 0; k < callback_count; ++k) {
        if (callbacks[k] && i-- == 0) return callbacks[k];
    }
    return nullptr;
}

int mark_callback_count() {
    int n = 0;
    for (int i = 0; i < callback_count; ++i) n += callbacks[i] != nullptr;
    return n;
}

// --- Root guards -------------------------------------------------------------------------------

root_guard::root_guard(cell* first, size_t count) : first_(first), count_(count), previous_(guards), next_(nullptr) {
    if (guards) guards->next_ = this;
    guards = this;
}

root_guard::~root_guard() {
    if (next_) next_->previous_ = previous_; else guards = previous_;
    if (previous_) previous_->next_ = next_;
}

void mark_root_guards() {
    for (root_guard* g = guards; g; g = g->previous_) mark_cells(g->first_, g->first_ + g->count_);
}

}  // namespace zor::gc
