// Numbers: the arithmetic and comparison handlers of integer! and float! as the action
// entries call them (operands on the argument stack, result in place, no allocation), and
// float text both ways against the standard library on the same 4096 values:
//
//   float_mold (shortest round-trip text with the layout)  vs  to_chars_shortest
//   float_load (the language's number text to a double)    vs  from_chars
//
// The values mix magnitudes the way programs do: small decimals, integers held in floats,
// and random bit patterns across the whole exponent range.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/value/action-signatures.h"
#include "runtime/value/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/lexer/number-scanners.h"
#include "runtime/eval/stack.h"
#include "runtime/text/number-text.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using namespace zor;

constexpr int VALUE_COUNT = 4096;

const std::vector<double>& sample_values() {
    static const std::vector<double> values = [] {
        std::mt19937_64 generator(42);
        std::vector<double> v;
        for (int i = 0; i < VALUE_COUNT; ++i) {
            switch (i % 3) {
                case 0: v.push_back(static_cast<double>(generator() % 2000000) / 1000.0 - 1000.0); break;
                case 1: v.push_back(static_cast<double>(static_cast<int64_t>(generator() % 100000))); break;
                default: {
                    double d;
                    do d = std::bit_cast<double>(generator()); while (!std::isfinite(d) || d == 0.0);
                    v.push_back(d);
                }
            }
        }
        return v;
    }();
    return values;
}

const std::vector<std::string>& sample_texts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> t;
        for (double d : sample_values()) {
            char buffer[64];
            auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
            t.emplace_back(buffer, r.ptr);
        }
        return t;
    }();
    return texts;
}

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
cell float_cell(double d) {
    cell c{TYPE_FLOAT, 0, 0, 0};
    float_::store(&c, d);
    return c;
}

// Calls a simple arithmetic action the way its entry does, over and over on fresh operands.
void run_simple(benchmark::State& state, action a, cell left, cell right) {
    testing::ensure_runtime();
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    cell* base = stack::push_slot();
    cell* other = stack::push_slot();
    auto handler = reinterpret_cast<cell* (*)()>(actions::find_handler(&left, a));
    for (auto _ : state) {
        *base = left;
        *other = right;
        benchmark::DoNotOptimize(handler());
        benchmark::ClobberMemory();
    }
    stack::state.args_top = stack::state.args_begin;
}

void integer_add(benchmark::State& state) { run_simple(state, ACTION_ADD, integer_cell(123456), integer_cell(789)); }
void integer_add_overflowing(benchmark::State& state) {
    run_simple(state, ACTION_ADD, integer_cell(2147483000), integer_cell(1000));
}
void integer_multiply(benchmark::State& state) {
    run_simple(state, ACTION_MULTIPLY, integer_cell(1234), integer_cell(-5678));
}
void integer_divide(benchmark::State& state) { run_simple(state, ACTION_DIVIDE, integer_cell(7), integer_cell(2)); }
void float_add(benchmark::State& state) { run_simple(state, ACTION_ADD, float_cell(1.5), float_cell(2.25)); }
void float_add_integer(benchmark::State& state) { run_simple(state, ACTION_ADD, float_cell(1.5), integer_cell(2)); }
void float_multiply(benchmark::State& state) {
    run_simple(state, ACTION_MULTIPLY, float_cell(1.5), float_cell(-2.25));
}

void run_compare(benchmark::State& state, cell value, cell other, int op) {
    testing::ensure_runtime();
    for (auto _ : state) {
        benchmark::DoNotOptimize(actions::dispatch_compare(&value, &other, op));
        benchmark::ClobberMemory();
    }
}

void integer_compare_less(benchmark::State& state) { run_compare(state, integer_cell(3), integer_cell(5), 3); }
void integer_compare_float(benchmark::State& state) { run_compare(state, integer_cell(3), float_cell(3.0), 0); }
void float_compare_equal(benchmark::State& state) { run_compare(state, float_cell(0.1 + 0.2), float_cell(0.3), 0); }
void float_compare_less(benchmark::State& state) { run_compare(state, float_cell(0.1), float_cell(0.3), 3); }

void float_mold(benchmark::State& state) {
    const std::vector<double>& values = sample_values();
    char buffer[number_text::FORMAT_BUFFER_SIZE];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(number_text::format_float_to(buffer, values[i], 0, true));
        benchmark::ClobberMemory();
        i = (i + 1) % values.size();
    }
}

void to_chars_shortest(benchmark::State& state) {
    const std::vector<double>& values = sample_values();
    char buffer[64];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::to_chars(buffer, buffer + sizeof buffer, values[i]).ptr);
        benchmark::ClobberMemory();
        i = (i + 1) % values.size();
    }
}

void float_load(benchmark::State& state) {
    const std::vector<std::string>& texts = sample_texts();
    size_t i = 0;
    for (auto _ : state) {
        const std::string& t = texts[i];
        const char* stop;
        benchmark::DoNotOptimize(number_text::parse_float(t.data(), t.data() + t.size(), &stop));
        i = (i + 1) % texts.size();
    }
}

void float_load_scanner(benchmark::State& state) {
    const std::vector<std::string>& texts = sample_texts();
    size_t i = 0;
    for (auto _ : state) {
        const std::string& t = texts[i];
        int error;
        benchmark::DoNotOptimize(lexer::parse_float_digits(t.data(), static_cast<int64_t>(t.size()), 1, &error));
        i = (i + 1) % texts.size();
    }
}

void from_chars(benchmark::State& state) {
    const std::vector<std::string>& texts = sample_texts();
    size_t i = 0;
    for (auto _ : state) {
        const std::string& t = texts[i];
        double value;
        benchmark::DoNotOptimize(std::from_chars(t.data(), t.data() + t.size(), value).ptr);
        benchmark::DoNotOptimize(value);
        i = (i + 1) % texts.size();
    }
}

BENCHMARK(integer_add);
BENCHMARK(integer_add_overflowing);
BENCHMARK(integer_multiply);
BENCHMARK(integer_divide);
BENCHMARK(float_add);
BENCHMARK(float_add_integer);
BENCHMARK(float_multiply);
BENCHMARK(integer_compare_less);
BENCHMARK(integer_compare_float);
BENCHMARK(float_compare_equal);
BENCHMARK(float_compare_less);
BENCHMARK(float_mold);
BENCHMARK(to_chars_shortest);
BENCHMARK(float_load);
BENCHMARK(float_load_scanner);
BENCHMARK(from_chars);

}  // namespace
