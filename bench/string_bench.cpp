// Appending single characters to a string through string!'s append action, as `append s
// #"x"` does: the time per append should stay flat from a thousand to a million appends
// (the buffer grows to twice its capacity when full, so appending is amortised constant).
// "per_append" is the time of one append; the complexity fit over the total time should
// come out O(N). The collector is enabled, as at the top level.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "tests/unit/runtime_fixture.h"

namespace {

namespace stack = zor::stack;
namespace string = zor::string;

void append_characters(benchmark::State& state, uint32_t codepoint) {
    zor::testing::ensure_runtime();
    const int64_t n = state.range(0);
    for (auto _ : state) {
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        zor::cell* s = string::make_empty(stack::push_slot(), 1);
        zor::cell* c = zor::char_::push(codepoint);
        for (int64_t i = 0; i < n; ++i) string::append(s, c, -1, false, -1, true);
        benchmark::DoNotOptimize(s->w2);
        if (string::length_from_head(s) != n) state.SkipWithError("wrong length");
    }
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    state.SetComplexityN(n);
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["per_append"] = benchmark::Counter(
        double(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void string_append_ascii(benchmark::State& state) { append_characters(state, 'x'); }
void string_append_wide(benchmark::State& state) { append_characters(state, 0x20AC); }

BENCHMARK(string_append_ascii)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity(benchmark::oN);
BENCHMARK(string_append_wide)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity(benchmark::oN);

}  // namespace
