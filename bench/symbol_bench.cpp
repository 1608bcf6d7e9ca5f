// Interning names: 1 million distinct names interned into the symbol table and each looked
// up again by interning it a second time, against std::unordered_map<std::string, int>
// doing the same (insert each name with the next id, then find each). The names are made
// before timing; each iteration uses names of its own so that the first pass always
// creates ("per_name" is the time per name over both passes).
//
// The symbol table keeps every name for good, so iterations are few and fixed.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/binding/symbol.h"
#include "tests/unit/runtime_fixture.h"

namespace {

constexpr int NAMES = 1'000'000;
constexpr int ITERATIONS = 3;

// Word-like names of 6 to 16 bytes, as a program's identifiers are.
std::vector<std::string> make_names(int round) {
    std::vector<std::string> names;
    names.reserve(NAMES);
    for (int i = 0; i < NAMES; ++i) names.push_back("name-" + std::to_string(round) + "-" + std::to_string(i));
    return names;
}

void set_counters(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * NAMES * 2);
    state.counters["per_name"] = benchmark::Counter(
        double(NAMES) * 2, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_symbol_table_intern_then_lookup(benchmark::State& state) {
    zor::testing::ensure_runtime();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> names = make_names(round++);
        state.ResumeTiming();
        int64_t sum = 0;
        for (const auto& name : names) sum += zor::symbol::make_from_utf8(name);
        for (const auto& name : names) sum -= zor::symbol::make_from_utf8(name);
        benchmark::DoNotOptimize(sum);
        if (sum != 0) state.SkipWithError("a name changed its id");
    }
    set_counters(state);
}
BENCHMARK(BM_symbol_table_intern_then_lookup)->Iterations(ITERATIONS)->Unit(benchmark::kMillisecond);

void BM_unordered_map_insert_then_find(benchmark::State& state) {
    std::unordered_map<std::string, int> table;
    int round = 0;
    int next_id = 1;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> names = make_names(round++);
        state.ResumeTiming();
        int64_t sum = 0;
        for (const auto& name : names) sum += table.try_emplace(name, next_id++).first->second;
        for (const auto& name : names) sum -= table.find(name)->second;
        benchmark::DoNotOptimize(sum);
        if (sum != 0) state.SkipWithError("a name changed its id");
    }
    set_counters(state);
}
BENCHMARK(BM_unordered_map_insert_then_find)->Iterations(ITERATIONS)->Unit(benchmark::kMillisecond);

}  // namespace
