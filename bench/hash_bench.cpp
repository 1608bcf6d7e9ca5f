// hash! against block!, like for like.
//
//   hash_find vs block_find: find of a value that sits near the tail of n cells (n/4
//     distinct integers, each four times), through the find action: the hash! walks one
//     bucket and picks among its duplicates, the block! scans.
//   hash_append: n integers appended one by one to an empty hash! (puts, list growth and
//     the rebuilds of growth) against block_append doing the same to a block!.
//   hash_insert_at_head: one insertion in front of n cells and its removal; the index
//     shifts every stored position (n <= 30,000) or is rebuilt (n above it).
#include <benchmark/benchmark.h>

#include <algorithm>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using zor::cell;

void reset_stack() {
    zor::stack::state.args_base = zor::stack::state.args_top = zor::stack::state.args_begin;
}

// A block! of n integers, i mod n/4, filled in place.
cell* integers(int64_t n) {
    cell* b = zor::block::push_empty(n);
    zor::memory::series_buffer* buffer = zor::memory::buffer_of(b->w2);
    int64_t distinct = std::max<int64_t>(n / 4, 1);
    for (int64_t i = 0; i < n; ++i) {
        buffer->head_cell()[i] = cell{zor::TYPE_INTEGER, 0, static_cast<uint32_t>(i % distinct), 0};
    }
    buffer->tail = buffer->head + n * int64_t(sizeof(cell));
    return b;
}

void find_in(benchmark::State& state, bool hashed) {
    zor::testing::ensure_runtime();
    reset_stack();
    int64_t n = state.range(0);
    cell* series = integers(n);
    if (hashed) zor::hash::make_in_place(series);
    // The last distinct value: its first copy lies a quarter of the cells before the tail.
    cell* key = zor::integer::make_in(zor::stack::push_slot(), static_cast<int32_t>(std::max<int64_t>(n / 4, 1) - 1));
    auto find = zor::actions::handler<zor::ACTION_FIND>(series);
    for (auto _ : state) {
        zor::stack::slot_mark mark;
        benchmark::DoNotOptimize(find(series, key, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                                      false, false));
    }
    reset_stack();
}
void hash_find(benchmark::State& state) { find_in(state, true); }
void block_find(benchmark::State& state) { find_in(state, false); }
BENCHMARK(hash_find)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(block_find)->Arg(1000)->Arg(10000)->Arg(100000);

void append_to(benchmark::State& state, bool hashed) {
    zor::testing::ensure_runtime();
    int64_t n = state.range(0);
    for (auto _ : state) {
        reset_stack();
        cell* series = zor::block::push_empty(1);
        if (hashed) zor::hash::make_in_place(series);
        cell* value = zor::stack::push_slot();
        for (int64_t i = 0; i < n; ++i) {
            zor::integer::make_in(value, static_cast<int32_t>(i % 1000));
            zor::block::append_copy(series, value);
        }
        benchmark::DoNotOptimize(series->w2);
    }
    state.SetItemsProcessed(state.iterations() * n);
    reset_stack();
}
void hash_append(benchmark::State& state) { append_to(state, true); }
void block_append(benchmark::State& state) { append_to(state, false); }
BENCHMARK(hash_append)->Arg(10000);
BENCHMARK(block_append)->Arg(10000);

void hash_insert_at_head(benchmark::State& state) {
    zor::testing::ensure_runtime();
    reset_stack();
    cell* series = zor::hash::make_in_place(integers(state.range(0)));
    cell* value = zor::integer::make_in(zor::stack::push_slot(), -1);
    cell* one = zor::integer::make_in(zor::stack::push_slot(), 1);
    for (auto _ : state) {
        zor::block::insert_cell(series, value, false, true);
        series->w1 = 0;
        zor::series::remove(series, one, nullptr);
    }
    reset_stack();
}
BENCHMARK(hash_insert_at_head)->Arg(1000)->Arg(30000)->Arg(30001);

}  // namespace
