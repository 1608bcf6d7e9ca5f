// The lexer under libFuzzer: every input is scanned as UTF-8 text in load mode, in /scan
// and /prescan mode, and in load mode with a /trace callback that lets errors pass and
// skips or drops some tokens, so that the paths that go on after an error are run too.
// Syntax errors are the expected answer to most inputs and are caught; anything else that
// escapes (a crash, a sanitizer report, a hang, an exception other than a language error,
// a scan left in the chain) is a finding.
//
// The runtime starts once, with the collector on and its torture mode off; each input
// gets a fresh evaluation stack with a try frame at its bottom.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "runtime/value/code-registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"
#include "boot/start-up.h"
#include "runtime/binding/word-table.h"

namespace {

// The callback routine, kept alive by a root guard.
zor::cell callback = {zor::TYPE_NONE, 0, 0, 0};

// Answers false to every error (the scan goes on after it), and to the prescan or load of
// some tokens chosen by their position (the token is skipped or its value dropped).
zor::cell* answer_event(zor::cell* arguments) {
    using namespace zor;
    static cell answer;
    const uint32_t event = arguments[0].w2;
    bool go_on = event != static_cast<uint32_t>(words::error.symbol());
    if (event == static_cast<uint32_t>(words::prescan.symbol()) && arguments[4].is(TYPE_PAIR)) {
        go_on = (arguments[4].w2 * 31 + arguments[4].w3) % 7 != 0;
    } else if (event == static_cast<uint32_t>(words::load.symbol())) {
        go_on = (arguments[4].w2 & 3) != 1;
    }
    answer = cell{TYPE_LOGIC, go_on ? 1u : 0u, 0, 0};
    return &answer;
}

void start_runtime() {
    static const bool started = [] {
        using namespace zor;
        boot::start_up({.last = boot::start_up_options::stage::runtime});
        gc::set_torture_mode(false);
        static gc::root_guard guard(&callback);
        const char spec_text[] = "event input type line token";
        cell* spec = stack::push_slot();
        lexer::scan_buffer(spec, reinterpret_cast<const uint8_t*>(spec_text), sizeof spec_text - 1, {}, nullptr);
        int32_t code = code_registry::register_code("lexer-fuzz-callback",
                                                    reinterpret_cast<code_registry::code>(&answer_event));
        callback = *routine::push_new(spec, nullptr, code, 0, true);
        return true;
    }();
    (void)started;
}

void scan_once(const uint8_t* data, size_t size, const zor::lexer::scan_request& request) {
    using namespace zor;
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    stack::state.frames_top = stack::state.frames_begin;
    stack::pending_code = 0;
    stack::push_try_frame();
    try {
        cell* result = stack::push_slot();
        int64_t consumed = 0;
        lexer::scan_buffer(result, data, size, request, &consumed);
        if (consumed < 0 || static_cast<uint64_t>(consumed) > size) std::abort();
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) std::abort();
    }
    if (lexer::active_scan_count() != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_runtime();
    zor::lexer::scan_request load;
    scan_once(data, size, load);
    zor::lexer::scan_request scan;
    scan.single = true;
    scan.scan = true;
    scan_once(data, size, scan);
    zor::lexer::scan_request prescan;
    prescan.prescan = true;
    scan_once(data, size, prescan);
    zor::lexer::scan_request traced;
    traced.callback = &callback;
    scan_once(data, size, traced);
    return 0;
}
