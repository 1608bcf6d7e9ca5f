// Blocks: appending one element at a time is amortised constant time, and sorting a block
// of integers compares with std::stable_sort on a vector of the same integers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using namespace zor;

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

std::vector<int32_t> random_integers(int64_t n) {
    std::mt19937 generator(7);
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (auto& x : v) x = static_cast<int32_t>(generator());
    return v;
}

void block_append(benchmark::State& state) {
    testing::ensure_runtime();
    for (auto _ : state) {
        stack::stack_guard guard;
        cell* block = block::push_empty(1);
        for (int64_t i = 0; i < state.range(0); ++i) {
            cell v = integer_cell(static_cast<int32_t>(i));
            block::append_copy(block, &v);
        }
        benchmark::DoNotOptimize(block->w2);
        state.PauseTiming();
        gc::collect();
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(block_append)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

void block_sort(benchmark::State& state) {
    testing::ensure_runtime();
    std::vector<int32_t> values = random_integers(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        stack::stack_guard guard;
        cell* block = block::push_empty(state.range(0));
        for (int32_t x : values) {
            cell v = integer_cell(x);
            block::append_copy(block, &v);
        }
        state.ResumeTiming();
        block::sort(block, false, nullptr, nullptr, nullptr, false, false, state.range(1) != 0);
        benchmark::DoNotOptimize(block->w2);
        state.PauseTiming();
        gc::collect();
        state.ResumeTiming();
    }
}
BENCHMARK(block_sort)->Args({1000000, 0})->Args({1000000, 1})->Unit(benchmark::kMillisecond);

void vector_stable_sort(benchmark::State& state) {
    std::vector<int32_t> values = random_integers(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<int32_t> copy = values;
        state.ResumeTiming();
        std::stable_sort(copy.begin(), copy.end());
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(vector_stable_sort)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
