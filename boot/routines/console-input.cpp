// The console's input routines: the console object's `init`, the line editor's
// `_set-buffer-history` and `_read-input` (console/line-editor.h), `_terminate-console`,
// `_terminal-input?` (whether lines come from a person at a terminal), and the plain
// standard-input readers `input-stdin` and `read-stdin`.
//
// Every routine takes its argument cells (cell-calling) and checks their types itself,
// so a wrong value raises script/expect-arg instead of being read as something else.
#include <algorithm>
#include <cstring>
#include <vector>

#include "boot/routine-table.h"
#include "boot/routines/routines.h"
#include "console/line-editor.h"
#include "platform/standard-input.h"
#include "platform/terminal.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"

namespace zor::boot {
namespace {

cell result;

// Raises script/expect-arg (the routine's word, the value's type, the parameter's word)
// unless the argument at the position has an acceptable type.
void expect(const cell* arguments, int position, type_id wanted) {
    if (!arguments[position].is(wanted)) raise::expect_arg(arguments[position].type(), position);
}

cell* unset_result() {
    result = cell{TYPE_UNSET, 0, 0, 0};
    return &result;
}

// init [str [string!]]: the window title; sets the console size.
cell* console_init(cell* arguments) {
    expect(arguments, 0, TYPE_STRING);
    line_editor::init(&arguments[0]);
    return unset_result();
}

// _set-buffer-history [line [string!] hist [block!]]
cell* set_buffer_history(cell* arguments) {
    expect(arguments, 0, TYPE_STRING);
    expect(arguments, 1, TYPE_BLOCK);
    line_editor::set_buffer_history(&arguments[0], &arguments[1]);
    return unset_result();
}

// _read-input [prompt [string!] hidden? [logic!]]: false only at the end of redirected
// input before any character of a line.
cell* read_input(cell* arguments) {
    expect(arguments, 0, TYPE_STRING);
    expect(arguments, 1, TYPE_LOGIC);
    const bool hidden = logic::is_true(&arguments[1], false, nullptr);
    const bool read = line_editor::read_input(&arguments[0], hidden);
    logic::make_in(&result, read);
    return &result;
}

cell* terminate_console(cell*) {
    line_editor::terminate();
    return unset_result();
}

// _terminal-input?: true when the line editor edits on a terminal; false when lines come
// from redirected input, where nobody could answer a prompt.
cell* terminal_input(cell*) {
    logic::make_in(&result, platform::terminal::is_interactive());
    return &result;
}

// input-stdin: a new string with the next line of standard input (empty at its end).
cell* input_stdin(cell* arguments) {
    cell* line = stack::push_slot();
    string::make_empty(line, 256);
    line_editor::read_standard_input_line(line);
    // The result slot is the caller's; the string stays rooted there.
    result = *line;
    (void)arguments;
    return &result;
}

// read-stdin [buffer [binary!] buflen [integer!]]: at most buflen bytes of standard input
// into the binary at its index, moving its tail past them. Never past the binary's
// capacity: the caller sizes it, and a short binary gets fewer bytes, never an overrun.
cell* read_stdin(cell* arguments) {
    expect(arguments, 0, TYPE_BINARY);
    expect(arguments, 1, TYPE_INTEGER);
    const int64_t wanted = integer::read_cell(&arguments[1]);
    if (wanted <= 0) return unset_result();
    memory::series_buffer* buffer = memory::buffer_of(arguments[0].w2);
    const int64_t index = std::clamp<int64_t>(static_cast<int32_t>(arguments[0].w1), 0, buffer->tail - buffer->head);
    const int64_t room = buffer->data_end() - (buffer->head + index);
    const int64_t count = std::min(wanted, room);
    if (count <= 0) return unset_result();
    // Read into our own memory first: the read blocks, and the binary's buffer is only
    // touched after it, with no allocation in between.
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    const size_t got = platform::standard_input::take(bytes.data(), bytes.size());
    if (got == 0) return unset_result();
    buffer = memory::buffer_of(arguments[0].w2);
    std::byte* at = buffer->head + index;
    std::memcpy(at, bytes.data(), got);
    buffer->tail = std::max(buffer->tail, at + got);
    return unset_result();
}

const boot_routine ROUTINES[] = {
    {"console/init", reinterpret_cast<code_registry::code>(&console_init), true, -1},
    {"_set-buffer-history", reinterpret_cast<code_registry::code>(&set_buffer_history), true, -1},
    {"_read-input", reinterpret_cast<code_registry::code>(&read_input), true, -1},
    {"_terminate-console", reinterpret_cast<code_registry::code>(&terminate_console), true, -1},
    {"_terminal-input?", reinterpret_cast<code_registry::code>(&terminal_input), true, -1},
    {"input-stdin", reinterpret_cast<code_registry::code>(&input_stdin), true, -1},
    {"read-stdin", reinterpret_cast<code_registry::code>(&read_stdin), true, -1},
};

}  // namespace

void register_console_input_routines() { register_routines(ROUTINES); }

}  // namespace zor::boot
