// The lexer's throughput: transcode of a file of mixed values (integers, floats, strings,
// words and nested blocks) into one block. The file is named by ZOR_TRANSCODE_FILE; the
// side-by-side runner (bench/compare/run.py) generates it together with the same data as
// JSON, and compares the time with Python's json.loads. Without the variable the
// benchmark is skipped.
//
// And a traced scan (transcode/trace with a function that answers true to every event)
// of texts of 125,000 to 1,000,000 tokens of wide characters: the time per token must not
// grow with the size, since every event is told its character position in the input.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/datatypes/function.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/text/unicode.h"
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

cell* push_text(const std::string& text) {
    return string::load_onto_stack(unicode::input_bytes::at(text.data()), int64_t(text.size()), string::ENCODING_UTF8);
}

// Reads the text with the lexer into the slot that held it.
cell* push_read(const std::string& text) {
    cell* source = push_text(text);
    cell* result = stack::push_slot();
    lexer::scan_string(result, source, -1, {}, nullptr);
    *source = *result;
    stack::drop_slots(1);
    return source;
}

void transcode_traced(benchmark::State& state) {
    const int64_t tokens = state.range(0);
    testing::ensure_runtime();
    gc::enabled = 1;
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    std::string text;
    for (int64_t i = 0; i < tokens; ++i) text += i % 10 == 9 ? "\xc3\xa9t\xc3\xa9\n" : "\xc3\xa9t\xc3\xa9 ";
    cell* spec = push_read("event input type line token");
    cell* body = push_read("#(true)");
    function::push_new(spec, body, 0, 0, 0, function::check_spec(spec));
    cell* callback = stack::last_slot();
    cell* source = push_text(text);
    lexer::scan_request request;
    request.callback = callback;
    for (auto _ : state) {
        cell* result = stack::push_slot();
        lexer::scan_string(result, source, -1, request, nullptr);
        benchmark::DoNotOptimize(result);
        stack::drop_slots(1);
    }
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    state.SetItemsProcessed(int64_t(state.iterations()) * tokens);
}
BENCHMARK(transcode_traced)
    ->Name("transcode/trace")
    ->Arg(125000)
    ->Arg(250000)
    ->Arg(500000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
