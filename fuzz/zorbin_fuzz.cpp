// The ZORBIN decoder under libFuzzer. The input's first byte chooses the header flags
// (compact, compressed, symbol table) and the rest is the payload after the 8-byte header,
// so the fuzzer spends its time on the records instead of rediscovering the magic.
//
// Every decoding runs in run-time mode into a fresh block. Language errors are expected
// answers and are caught. Whatever decodes must then be a value the runtime can live
// with: it is molded, encoded again in both variants (or refused with a language error),
// and the collector runs over it. A finding is anything else: a crash, a sanitizer
// report, a hang, or another exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "boot/start-up.h"
#include "codecs/zorbin.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"

namespace {

void start_runtime() {
    static const bool started = [] {
        using namespace zor;
        boot::start_up({.collect_during_install = false});
        gc::set_torture_mode(false);
        return true;
    }();
    (void)started;
}

// Runs the step; a language error is an answer, anything else a finding.
template <typename step>
void attempt(step&& run) {
    using namespace zor;
    cell* top = stack::state.args_top;
    stack::push_try_frame();
    try {
        run();
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) std::abort();
    }
    stack::state.frames_top = stack::state.frames_begin;
    stack::state.args_top = top;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zor;
    start_runtime();
    if (size < 1) return 0;
    std::vector<uint8_t> blob = {'Z', 'O', 'R', 'B', 'I', 'N', 2, static_cast<uint8_t>(data[0] & 7)};
    blob.insert(blob.end(), data + 1, data + size);

    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    stack::state.frames_top = stack::state.frames_begin;
    stack::pending_code = 0;
    cell* target = block::push_empty(4);
    zorbin::current_mode = zorbin::mode::run_time;
    attempt([&] { zorbin::decode(blob.data(), int64_t(blob.size()), target); });
    attempt([&] {
        cell* output = string::push_empty();
        actions::dispatch_mold(target, output, false, true, false, nullptr, 1 << 16, 0);
    });
    attempt([&] { zorbin::encode_compact(target); });
    attempt([&] { zorbin::encode_fixed(target); });
    gc::collect();
    stack::pending_code = 0;
    return 0;
}
