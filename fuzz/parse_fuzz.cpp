// The parse dialect under libFuzzer: each input becomes a small Zor program that defines
// two rule blocks and runs parse and parse/case over a text, a binary and a block, all
// made from the input's bytes. The rules are words drawn from the dialect's whole
// vocabulary (keywords, modifiers, counts, charsets, datatypes, positions, actions,
// collect targets, changes to the input) with brackets kept balanced, and the rule blocks
// may refer to each other, so recursion and the stack limits are reached too.
//
// Language errors are expected answers and are caught. A finding is anything else: a
// crash, a sanitizer report, a hang, another exception, or a parse that leaves records
// on its stacks behind. Every parse runs with a /trace routine that stops it after a
// budget of events: rules may loop for ever by design (a while over a rule that never
// consumes, an any over an insert), as a forever loop may, and that is no finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/start-up.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/parse/parse.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/word.h"
#include "runtime/value/code-registry.h"

namespace {

const char* const RULE_WORDS[] = {
    "any", "some", "opt", "to", "thru", "skip", "end", "none", "fail", "break", "reject", "not", "ahead",
    "into", "quote", "copy x", "set x", "remove", "insert \"z\"", "insert only [q]", "change", "change only",
    "collect", "keep", "keep pick", "keep (n)", "collect set y", "collect into s", "collect after s",
    "if (t)", "if (f)", "case t", "case f", "|", "|", "\"a\"", "\"ab\"", "\"\"", "#\"a\"", "#\"b\"",
    "#\"1\"", "cs", "ncs", "0", "1", "2", "3", "-1", "1 2", "word!", "integer!", "string!", "block!",
    "'a", "'b", "p:", ":p", "(n: n + 1)", "(clear s)", "r1", "r2", "while skip", "while \"a\"", "#{61}",
    "end", "to end", "thru end", "remove p", "\"z\"", "[q]", "skip skip", "any skip", "some cs",
    "insert (n)", "a/b", "(n: n + 1 t)",
};
constexpr size_t RULE_WORD_COUNT = sizeof(RULE_WORDS) / sizeof(RULE_WORDS[0]);

const char* const ITEMS[] = {"a", "b", "1", "2", "\"ab\"", "[a 1]", "[b [a]]", "'a", "#\"a\"", "q"};
constexpr size_t ITEM_COUNT = sizeof(ITEMS) / sizeof(ITEMS[0]);

// The rule text of a byte run: a word per byte (the byte's top bit opens or closes a
// block), brackets balanced at the end.
std::string rules_of(const uint8_t* data, size_t size) {
    std::string out = "[";
    int depth = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        if (b >= 0xF0 && depth < 30) {
            out += " [";
            ++depth;
        } else if (b >= 0xE0 && depth > 0) {
            out += " ]";
            --depth;
        } else {
            out += ' ';
            out += RULE_WORDS[b % RULE_WORD_COUNT];
        }
    }
    while (depth-- > 0) out += " ]";
    return out + " ]";
}

// The events a program's parses may take in all.
constexpr int EVENT_BUDGET = 20000;
int events_left = 0;

zor::cell budget = {zor::TYPE_NONE, 0, 0, 0};

zor::cell* answer_event(zor::cell*) {
    static zor::cell answer;
    answer = zor::cell{zor::TYPE_LOGIC, --events_left > 0 ? 1u : 0u, 0, 0};
    return &answer;
}

void start_runtime() {
    static const bool started = [] {
        using namespace zor;
        boot::start_up({.collect_during_install = false});
        gc::set_torture_mode(false);
        static gc::root_guard guard(&budget);
        const char spec_text[] = "event match rules input stack";
        cell* spec = stack::push_slot();
        lexer::scan_buffer(spec, reinterpret_cast<const uint8_t*>(spec_text), sizeof spec_text - 1, {}, nullptr);
        const int32_t code = code_registry::register_code("parse-fuzz-budget",
                                                          reinterpret_cast<code_registry::code>(&answer_event));
        budget = *routine::push_new(spec, nullptr, code, 0, true);
        // The routine is reached by the word `budget` in the programs.
        cell* word = word::make_global_from_name("budget");
        cell* held = stack::push_copy(word);
        word::set_value(held, &budget);
        return true;
    }();
    (void)started;
}

void run_program(const std::string& text) {
    using namespace zor;
    events_left = EVENT_BUDGET;
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    stack::state.frames_top = stack::state.frames_begin;
    stack::pending_code = 0;
    stack::push_try_frame();
    try {
        cell* code = stack::push_slot();
        lexer::scan_request request;
        int64_t consumed = 0;
        lexer::scan_buffer(code, reinterpret_cast<const uint8_t*>(text.data()), text.size(), request, &consumed);
        (void)eval::eval_block(code, false);
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) std::abort();
    }
    stack::pending_code = 0;
    if (parse::rule_stack_depth() != 0 || parse::collect_stack_depth() != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_runtime();
    if (size < 3) return 0;
    // The input: up to 16 bytes; then the two rule blocks and the main rules split the rest.
    const size_t input_size = data[0] % 17 < size - 1 ? data[0] % 17 : size - 1;
    const uint8_t* input = data + 1;
    const uint8_t* rest = input + input_size;
    const size_t rest_size = size - 1 - input_size;
    const size_t third = rest_size / 3;

    std::string text;
    std::string binary;
    std::string block;
    for (size_t i = 0; i < input_size; ++i) {
        text += "ab1 "[input[i] & 3];
        static const char* hex = "0123456789ABCDEF";
        binary += hex[input[i] >> 4];
        binary += hex[input[i] & 15];
        block += ' ';
        block += ITEMS[input[i] % ITEM_COUNT];
    }
    std::string program =
        "n: 0 x: none y: none t: true f: false p: none q: 'q s: copy [] "
        "cs: make bitset! \"ab\" ncs: complement cs "
        "r1: " + rules_of(rest, third) + " r2: " + rules_of(rest + third, third) + " main: " +
        rules_of(rest + 2 * third, rest_size - 2 * third) + " ";
    for (const char* variant : {"parse/trace", "parse/case/trace"}) {
        program += std::string("try [") + variant + " copy \"" + text + "\" main :budget] ";
        program += std::string("try [") + variant + " copy #{" + binary + "} main :budget] ";
        program += std::string("try [") + variant + " copy [" + block + "] main :budget] ";
        program += std::string("s: copy \"\" try [") + variant + " copy \"" + text + "\" main :budget] ";
    }
    if (std::getenv("ZOR_PARSE_FUZZ_SHOW")) std::fprintf(stderr, "%s\n", program.c_str());
    run_program(program);
    return 0;
}
