// The lexer's throughput: transcode of a file of mixed values (integers, floats, strings,
// words and nested blocks) into one block. The file is named by ZOR_TRANSCODE_FILE; the
// side-by-side runner (bench/compare/run.py) generates it together with the same data as
// JSON, and compares the time with Python's json.loads. Without the variable the
// benchmark is skipped.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using namespace zor;

void transcode_file(benchmark::State& state) {
    const char* path = std::getenv("ZOR_TRANSCODE_FILE");
    if (!path) {
        state.SkipWithError("ZOR_TRANSCODE_FILE names no file (bench/compare/run.py sets it)");
        return;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    testing::ensure_runtime();
    gc::enabled = 1;
    for (auto _ : state) {
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        cell* result = stack::push_slot();
        int64_t consumed = 0;
        lexer::scan_buffer(result, reinterpret_cast<const uint8_t*>(text.data()), text.size(), {}, &consumed);
        benchmark::DoNotOptimize(result);
    }
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(transcode_file)->Name("transcode/file")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
