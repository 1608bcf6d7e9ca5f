// A program that starts exactly like zor (which registers the boot routines), binds the
// console input routines to global words and evaluates the Zor code given as its first argument: the terminal tests
// (line_editor_tests.py) drive the line editor through it until the console's own loop
// exists.
//
// The routines are bound to their registry names (`_read-input`, `input-stdin`, ...),
// except the console object's `init`, which is bound to `console-init`. Before the code
// runs, `system` is an object with a `console` object whose `size` is 0x0, as far as the
// editor needs one.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "boot/entry.h"
#include "boot/routine-table.h"
#include "platform/console-output.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/value/code-registry.h"

namespace {

using namespace zor;

struct routine_word {
    const char* word;
    const char* registry_name;
    const char* spec;
};

constexpr routine_word ROUTINE_WORDS[] = {
    {"console-init", "console/init", "[str [string!]]"},
    {"_set-buffer-history", "_set-buffer-history", "[\"Internal Use Only\" line [string!] hist [block!]]"},
    {"_read-input", "_read-input", "[\"Internal Use Only\" prompt [string!] hidden? [logic!]]"},
    {"_terminate-console", "_terminate-console", "[]"},
    {"input-stdin", "input-stdin", "[\"Temporary function, internal use only\"]"},
    {"read-stdin", "read-stdin",
     "[\"Temporary function, internal use only\" buffer [binary!] buflen [integer!]]"},
};

constexpr std::string_view PRELUDE = "system: make object! [console: make object! [size: 0x0]]";

std::string program_text;

// Loads the UTF-8 text into the slot as a block.
void load(cell* into, std::string_view text) {
    lexer::scan_request request;
    int64_t consumed = 0;
    lexer::scan_buffer(into, reinterpret_cast<const uint8_t*>(text.data()), text.size(), request, &consumed);
}

void run(std::string_view text) {
    stack::slot_mark mark;
    cell* code = stack::push_slot();
    load(code, text);
    (void)eval::eval_block(code, false);
}

int drive() {
    for (const routine_word& entry : ROUTINE_WORDS) {
        stack::slot_mark mark;
        cell* spec = stack::push_slot();
        load(spec, std::string_view(entry.spec).substr(1, std::string_view(entry.spec).size() - 2));
        const int32_t code = code_registry::index_of(entry.registry_name);
        if (code == 0 || !boot::find_routine(entry.registry_name)) {
            std::fprintf(stderr, "no routine is registered as %s\n", entry.registry_name);
            return 1;
        }
        cell* routine = routine::push_new(spec, nullptr, code, 0, true);
        cell* word = stack::push_copy(word::make_global_from_name(entry.word));
        word::set_value(word, routine);
    }
    run(PRELUDE);
    run(program_text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: line_editor_driver 'zor code'\n");
        return 2;
    }
    program_text = argv[1];
    return boot::main_entry(argc, argv, drive);
}
