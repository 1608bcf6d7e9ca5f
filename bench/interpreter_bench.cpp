// The interpreter on small programs built in C++ (the lexer does not exist yet), each a
// loop of 1,000 iterations, so the figures read as the cost of one iteration's work:
//
//   infix arithmetic and comparison on integers and floats (the inline fast paths) and
//   on a float with an integer (the full action behind them);
//   a function call; a call through a path with a refinement; a path pick;
//   the non-local exits: a return directly inside a function body and a break directly
//   inside a loop body, which travel as pending exits without a C++ exception, against
//   a return that must cross C++ code and so travels as the exception.
//
// The loop, break and return natives are the test stand-ins (tests/unit/
// interpreter_stand_ins.h), built on the stack module's exits exactly as the real ones.
#include <benchmark/benchmark.h>

#include "runtime/eval/interpreter.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/interpreter_stand_ins.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using namespace zor;

constexpr int ITERATIONS = 1000;

void start() {
    static bool started = [] {
        testing::ensure_runtime();
        testing::install_stand_ins();
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        stack::state.frames_top = stack::state.frames_begin;
        testing::define_globals();
        testing::define_function("ret1", "", "treturn 1 2");
        return true;
    }();
    (void)started;
}

// Evaluates the code (a loop of ITERATIONS steps) once per benchmark iteration.
void run(benchmark::State& state, const char* text) {
    start();
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    stack::state.frames_top = stack::state.frames_begin;
    cell* code = testing::read_code(text);
    cell* top = stack::state.args_top;
    for (auto _ : state) {
        if (eval::eval_block(code, false) != 0) state.SkipWithError("an exit escaped");
        stack::state.args_top = top;
    }
    state.SetItemsProcessed(state.iterations() * ITERATIONS);
}

void BM_InfixIntegerArithmetic(benchmark::State& state) { run(state, "x: 0 tloop 1000 [x: x + 3 - 1]"); }
void BM_InfixFloatArithmetic(benchmark::State& state) { run(state, "x: 0.0 tloop 1000 [x: x + 3.0 - 1.0]"); }
void BM_InfixFloatWithIntegerFullAction(benchmark::State& state) { run(state, "x: 0.0 tloop 1000 [x: x + 3 - 1]"); }
void BM_InfixIntegerComparison(benchmark::State& state) { run(state, "tloop 1000 [1 < 2]"); }
void BM_FunctionCall(benchmark::State& state) { run(state, "tloop 1000 [id 1]"); }
void BM_CallThroughPathWithRefinement(benchmark::State& state) { run(state, "tloop 1000 [g/r 1 2]"); }
void BM_PathPick(benchmark::State& state) { run(state, "b: [1 2 3] tloop 1000 [b/2]"); }
void BM_ReturnInsideFunctionBody(benchmark::State& state) { run(state, "tloop 1000 [ret1]"); }
void BM_BreakInsideLoopBody(benchmark::State& state) { run(state, "tloop 1000 [tloop 5 [tbreak]]"); }
void BM_ReturnCrossingCppAsException(benchmark::State& state) { run(state, "tloop 1000 [ret-through-opaque]"); }

BENCHMARK(BM_InfixIntegerArithmetic);
BENCHMARK(BM_InfixFloatArithmetic);
BENCHMARK(BM_InfixFloatWithIntegerFullAction);
BENCHMARK(BM_InfixIntegerComparison);
BENCHMARK(BM_FunctionCall);
BENCHMARK(BM_CallThroughPathWithRefinement);
BENCHMARK(BM_PathPick);
BENCHMARK(BM_ReturnInsideFunctionBody);
BENCHMARK(BM_BreakInsideLoopBody);
BENCHMARK(BM_ReturnCrossingCppAsException);

}  // namespace
