// LZ codec throughput on 1 MB inputs (one full chunk): word-like text, random blocks with
// near and far repeats, and a single run. Bytes per second count the uncompressed size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "codecs/lz.h"

namespace {

namespace lz = zor::lz;
using bytes = std::vector<uint8_t>;

constexpr size_t SIZE = 0x100000;

bytes text_input() {
    static const char* const WORDS[] = {"the ", "value ", "block ", "series ", "of ", "and ", "word ",
                                        "[print 1 + 2] ", "context ", "binding ", "make ", "object! ", "\n"};
    std::mt19937 random(1);
    bytes out;
    while (out.size() < SIZE) {
        const char* w = WORDS[random() % std::size(WORDS)];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(SIZE);
    return out;
}

bytes repeats_input() {
    std::mt19937 random(2);
    bytes out;
    while (out.size() < SIZE) {
        size_t block = 16 + random() % 1200;
        if (out.size() > 4096 && random() % 4 != 0) {
            size_t from = out.size() - 1 - random() % std::min<size_t>(out.size(), 0x40000);
            for (size_t i = 0; i < block; ++i) out.push_back(out[from + i]);
        } else {
            for (size_t i = 0; i < block; ++i) out.push_back(uint8_t(random()));
        }
    }
    out.resize(SIZE);
    return out;
}

bytes run_input() { return bytes(SIZE, 'z'); }

bytes input_of(int kind) {
    switch (kind) {
        case 0: return text_input();
        case 1: return repeats_input();
        default: return run_input();
    }
}

void compress_bench(benchmark::State& state) {
    bytes input = input_of(int(state.range(0)));
    bytes destination(input.size());
    int64_t size = 0;
    for (auto _ : state) {
        size = lz::compress(input.data(), int64_t(input.size()), destination.data());
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
    state.counters["ratio"] = double(size) / double(input.size());
}

void decompress_bench(benchmark::State& state) {
    bytes input = input_of(int(state.range(0)));
    bytes blob(input.size());
    int64_t size = lz::compress(input.data(), int64_t(input.size()), blob.data());
    if (size < 0) {
        state.SkipWithError("input did not compress");
        return;
    }
    for (auto _ : state) {
        int64_t out_size = 0;
        uint8_t* out = lz::decompress(blob.data(), size_t(size), &out_size);
        benchmark::DoNotOptimize(out);
        lz::release_buffer(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

// 0 text, 1 repeats, 2 run
BENCHMARK(compress_bench)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(decompress_bench)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
