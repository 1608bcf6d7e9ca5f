// The collector's speed.
//
//   full_collection/live_1M: a heap holding one million live blocks of ten integers, held
//     by one block; each iteration is one full collection. Reports collections per second
//     and megabytes of live series data marked per second.
//   full_collection/half_garbage: one million blocks of ten integers of which every other
//     one is garbage (so the live and dead buffers interleave and compaction must slide
//     every survivor); the heap is rebuilt outside the timing before each collection.
//   allocation_loop: five million blocks of ten integers made one after another,
//     collection on under the default trigger rules; reports the share of the loop's time
//     spent inside the collector. keep_1_in_100 keeps every hundredth block (a loop
//     building a result); ring_100k keeps each block for the next 100,000 allocations.
#include <benchmark/benchmark.h>

#include "runtime/datatypes/block.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory-stats.h"
#include "runtime/memory/memory.h"
#include "boot/start-up.h"

namespace {

using namespace zor;

constexpr int64_t MILLION = 1000000;
constexpr int BLOCK_INTEGERS = 10;

void ensure_runtime() {
    static bool started = [] {
        boot::start_up({.last = boot::start_up_options::stage::runtime});
        return true;
    }();
    (void)started;
}

// A new block of ten integers in the cell, built in an argument-stack slot so that a
// collection in the allocation sees it rooted.
void make_ten_integers(cell* destination, int32_t seed) {
    cell* slot = block::make_in(stack::push_slot(), BLOCK_INTEGERS);
    memory::series_buffer* b = memory::buffer_of(slot->w2);
    cell* c = b->head_cell();
    for (int i = 0; i < BLOCK_INTEGERS; ++i) c[i] = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(seed + i), 0};
    b->tail = b->head + BLOCK_INTEGERS * int64_t(sizeof(cell));
    *destination = *slot;
    stack::drop_slots(1);
}

// A holder block of n none! cells in a new argument-stack slot.
cell* make_holder(int64_t n) {
    cell* holder = block::make_in(stack::push_slot(), n);
    memory::series_buffer* b = memory::buffer_of(holder->w2);
    for (int64_t i = 0; i < n; ++i) b->head_cell()[i] = cell{TYPE_NONE, 0, 0, 0};
    b->tail = b->head + n * int64_t(sizeof(cell));
    return holder;
}

// Fills the holder: every block is made, and the ones `keep` accepts are stored.
template <typename Keep> void fill_holder(cell* holder, int64_t blocks, Keep keep) {
    cell made;
    gc::root_guard guard(&made);
    for (int64_t i = 0; i < blocks; ++i) {
        make_ten_integers(&made, static_cast<int32_t>(i));
        if (keep(i)) block::get_cell(holder, i)[0] = made;
    }
}

double live_megabytes() { return memory::report_stats(nullptr, memory::STATS_BYTES_IN_USE) / 1e6; }

void reset_stack() { stack::state.args_base = stack::state.args_top = stack::state.args_begin; }

void full_collection_live(benchmark::State& state) {
    ensure_runtime();
    reset_stack();
    gc::enabled = 0;
    cell* holder = make_holder(MILLION);
    fill_holder(holder, MILLION, [](int64_t) { return true; });
    gc::collect();
    double megabytes = live_megabytes();
    for (auto _ : state) gc::collect();
    state.counters["collections_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["live_MB"] = megabytes;
    state.counters["MB_marked_per_s"] =
        benchmark::Counter(megabytes * double(state.iterations()), benchmark::Counter::kIsRate);
    reset_stack();
    gc::collect();
    gc::enabled = 1;
}
BENCHMARK(full_collection_live)->Name("full_collection/live_1M")->Unit(benchmark::kMillisecond)->Iterations(20);

void full_collection_half_garbage(benchmark::State& state) {
    ensure_runtime();
    reset_stack();
    gc::enabled = 0;
    cell* holder = make_holder(MILLION);
    double megabytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int64_t i = 0; i < MILLION; ++i) block::get_cell(holder, i)[0] = cell{TYPE_NONE, 0, 0, 0};
        gc::collect();
        fill_holder(holder, MILLION, [](int64_t i) { return i % 2 == 0; });
        state.ResumeTiming();
        gc::collect();
        state.PauseTiming();
        megabytes = live_megabytes();
        state.ResumeTiming();
    }
    state.counters["collections_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["live_MB"] = megabytes;
    state.counters["MB_marked_per_s"] =
        benchmark::Counter(megabytes * double(state.iterations()), benchmark::Counter::kIsRate);
    reset_stack();
    gc::collect();
    gc::enabled = 1;
}
BENCHMARK(full_collection_half_garbage)
    ->Name("full_collection/half_garbage")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Five million blocks of ten integers made one after another, collection on under the
// default trigger rules. `keep(i, holder)` decides what stays alive.
template <typename Keep> void allocation_loop(benchmark::State& state, int64_t holder_cells, Keep keep) {
    constexpr int64_t ALLOCATIONS = 5 * MILLION;
    ensure_runtime();
    reset_stack();
    gc::enabled = 1;
    gc::set_torture_mode(false);
    gc::collect();
    uint64_t collector_ns = 0, collections = 0, evacuations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        reset_stack();
        cell* holder = make_holder(holder_cells);
        gc::collect();
        state.ResumeTiming();
        uint64_t ns_before = gc::collection_time_ns();
        uint32_t cycles_before = gc::cycle_count();
        uint32_t evacuations_before = gc::evacuation_count();
        cell made;
        gc::root_guard guard(&made);
        for (int64_t i = 0; i < ALLOCATIONS; ++i) {
            make_ten_integers(&made, static_cast<int32_t>(i));
            keep(i, holder, made);
        }
        collector_ns += gc::collection_time_ns() - ns_before;
        collections += gc::cycle_count() - cycles_before;
        evacuations += gc::evacuation_count() - evacuations_before;
    }
    state.SetItemsProcessed(state.iterations() * ALLOCATIONS);
    state.counters["collections"] = double(collections) / double(state.iterations());
    state.counters["evacuations"] = double(evacuations) / double(state.iterations());
    state.counters["collector_ms"] = double(collector_ns) / 1e6 / double(state.iterations());
    // Collector seconds over loop seconds.
    state.counters["collector_share"] = benchmark::Counter(double(collector_ns) / 1e9, benchmark::Counter::kIsRate);
    reset_stack();
    gc::collect();
}

// Most blocks die at once; one in a hundred is kept, as a loop that builds a result does
// (the live data grows to 50,000 blocks).
void allocation_loop_mostly_young(benchmark::State& state) {
    allocation_loop(state, 50000, [](int64_t i, cell* holder, const cell& made) {
        if (i % 100 == 0) block::get_cell(holder, i / 100)[0] = made;
    });
}
BENCHMARK(allocation_loop_mostly_young)
    ->Name("allocation_loop/keep_1_in_100")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The hard case for a collector that is not generational: every block lives for exactly
// the next 100,000 allocations, about one collection period, so each collection traces
// and moves some 20 MB that dies right after.
void allocation_loop_ring(benchmark::State& state) {
    constexpr int64_t RING = 100000;
    allocation_loop(state, RING,
                    [](int64_t i, cell* holder, const cell& made) { block::get_cell(holder, i % RING)[0] = made; });
}
BENCHMARK(allocation_loop_ring)->Name("allocation_loop/ring_100k")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
