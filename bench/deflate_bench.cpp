// The deflate codec's throughput on a file of mixed text named by ZOR_DEFLATE_FILE:
// compression (one fixed-Huffman block), and decompression of the zlib stream in
// ZOR_DEFLATE_FILE.z (made by Python's zlib at level 6, so it has dynamic blocks) and of
// our own stream. The side-by-side runner (bench/compare/run.py) writes both files, times
// Python's zlib on the same data and prints the ratios. Without the variable the
// benchmarks are skipped.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/deflate.h"

namespace {

using namespace zor;

std::vector<uint8_t> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const char* data_path(benchmark::State& state) {
    const char* path = std::getenv("ZOR_DEFLATE_FILE");
    if (!path) state.SkipWithError("ZOR_DEFLATE_FILE names no file (bench/compare/run.py sets it)");
    return path;
}

void deflate_compress(benchmark::State& state) {
    const char* path = data_path(state);
    if (!path) return;
    std::vector<uint8_t> text = file_bytes(path);
    std::vector<uint8_t> out(text.size() + 64);
    size_t size = 0;
    for (auto _ : state) {
        deflate::output_area area;
        area.data = out.data();
        area.capacity = out.size();
        deflate::zlib_compress(area, text.data(), text.size());
        size = area.size;
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["compressed_bytes"] = double(size);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(deflate_compress)->Name("deflate/compress")->Unit(benchmark::kMillisecond)->Iterations(5);

// Decompression into a buffer that grows as it goes, as the decompress native does.
bool grow_vector(deflate::output_area& area, size_t needed) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(area.context);
    size_t capacity = std::max(needed, bytes->size() * 2);
    bytes->resize(capacity);
    area.data = bytes->data();
    area.capacity = capacity;
    return true;
}

void inflate_stream(benchmark::State& state, const std::vector<uint8_t>& stream) {
    size_t size = 0;
    for (auto _ : state) {
        std::vector<uint8_t> out(stream.size() * 4);
        deflate::output_area area;
        area.data = out.data();
        area.capacity = out.size();
        area.grow = &grow_vector;
        area.context = &out;
        if (deflate::zlib_decompress(area, stream.data(), stream.size()) != deflate::DONE) {
            state.SkipWithError("the stream does not decompress");
            return;
        }
        size = area.size;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void inflate_zlib_stream(benchmark::State& state) {
    const char* path = data_path(state);
    if (!path) return;
    inflate_stream(state, file_bytes(std::string(path) + ".z"));
}
BENCHMARK(inflate_zlib_stream)->Name("deflate/inflate-zlib-level-6")->Unit(benchmark::kMillisecond)->Iterations(5);

void inflate_own_stream(benchmark::State& state) {
    const char* path = data_path(state);
    if (!path) return;
    std::vector<uint8_t> text = file_bytes(path);
    std::vector<uint8_t> stream(text.size() + 64);
    deflate::output_area area;
    area.data = stream.data();
    area.capacity = stream.size();
    deflate::zlib_compress(area, text.data(), text.size());
    stream.resize(area.size);
    inflate_stream(state, stream);
}
BENCHMARK(inflate_own_stream)->Name("deflate/inflate-own")->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
