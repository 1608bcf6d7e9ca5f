// The first runnable program: a script file or the lines of standard input (see
// first-run.h). Every value lives in an argument-stack slot; evaluation runs under a try
// frame whose error is printed with the error report.
#include "boot/first-run.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/console-output.h"
#include "platform/fatal.h"
#include "platform/plain-input.h"
#include "platform/process.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/heap-limit.h"
#include "runtime/text/output-hooks.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"

namespace zor::boot {

namespace {

constexpr int STATUS_NOT_A_SCRIPT = 1;
// The length of the console's default prompt ">> ", which the cut of a long result
// leaves room for.
constexpr int PROMPT_LENGTH = 3;
// The width results are cut to when standard output is no terminal.
constexpr int REDIRECTED_COLUMNS = 80;

// The most source text one load takes (the lexer's own limit, or the heap limit when that
// is lower), and so the longest script and the longest line of standard input: anything
// longer is refused while it is read, before it could take all memory.
size_t source_limit() { return static_cast<size_t>(std::min<int64_t>(0x7FFFFFFF, heap_limit::limit())); }

// --- Printing -------------------------------------------------------------------------------

// Prints the UTF-8 text and a line end through the output hooks, as `print` does.
void print_line(std::string_view text) {
    cell* line = string::load_onto_stack(unicode::input_bytes::at(text.data()), static_cast<int64_t>(text.size()),
                                         string::ENCODING_UTF8);
    output_hooks::call_value_hooks(line, true);
    stack::drop_slots(1);
}

// The result's text as the console shows it: molded (a float! formed) to at most limit
// + 5 characters; longer than the limit, it is cut to leave room for the prompt and
// "..." is appended. Pushes the string.
cell* result_text(cell* value, int limit) {
    cell* output = string::push_empty();
    int32_t part = limit + 5;
    cell* part_cell = integer::push(part);
    if (value->is(TYPE_FLOAT)) actions::dispatch_form(value, output, part_cell, part);
    else actions::dispatch_mold(value, output, false, false, false, part_cell, part, 0);
    stack::drop_slots(1);
    string::truncate(output, part);
    if (string::rest_length(output) > limit) {
        int64_t kept = int64_t(limit) - PROMPT_LENGTH - 1;
        string::truncate(output, kept > 0 ? kept : 0);
        string::append_c_string(output, "...");
    }
    return output;
}

void print_result(cell* value) {
    int columns = platform::console_columns();
    if (columns <= 0) columns = REDIRECTED_COLUMNS;
    cell* line = string::push_empty();
    string::append_c_string(line, "== ");
    cell* text = result_text(value, columns - 3);
    string::append_units(line, text);
    output_hooks::call_value_hooks(line, true);
    stack::drop_slots(2);
}

// --- Guarded steps --------------------------------------------------------------------------

// Runs the step under a try frame. Answers true when it ended normally; after a raised
// error, copies the error into the error slot and answers false. Either way the stacks
// are back as they were (values the step must keep go into slots made before it).
template <typename Step> bool attempt(cell* error, Step step) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        step();
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        *error = *stack::last_slot();
        stack::pending_code = 0;
        return false;
    }
    // An exit with no target here (nothing should leave one) must not leak into the
    // next command.
    stack::pending_code = 0;
    return true;
}

// Loads UTF-8 text (which must stay in place: a std::string's buffer) into the slot.
void load_text(cell* into, std::string_view text) {
    lexer::scan_request request;
    int64_t consumed = 0;
    lexer::scan_buffer(into, reinterpret_cast<const uint8_t*>(text.data()), text.size(), request, &consumed);
}

// Evaluates the block from its index; the value lands in the result slot.
void evaluate(const cell* code, cell* result) {
    cell* at = stack::state.args_top;
    (void)eval::eval_block(code, false);
    *result = *at;
}

// --- The line loop ----------------------------------------------------------------------------

void do_command(std::string_view line) {
    stack::stack_guard guard;
    cell* error = stack::push_slot();  // new slots are unset!
    cell* code = stack::push_slot();
    cell* result = stack::push_slot();

    if (!attempt(error, [&] { load_text(code, line); })) {
        error::print_report(error);
        return;
    }
    if (block::rest_length(code) <= 0) return;
    if (!attempt(error, [&] { evaluate(code, result); })) {
        error::print_report(error);
        print_line("");
        return;
    }
    if (result->is(TYPE_UNSET)) return;
    if (!attempt(error, [&] { print_result(result); })) error::print_report(error);
}

// Reports internal/no-memory for a source that was refused for its size.
void report_too_long() {
    stack::stack_guard guard;
    cell* error = stack::push_slot();
    attempt(error, [] { raise::throw_error(err::internal_no_memory); });
    error::print_report(error);
}

int run_lines() {
    std::string line;
    for (;;) {
        platform::line_read read = platform::read_input_line(line, source_limit());
        if (read == platform::LINE_END_OF_INPUT) break;
        if (read == platform::LINE_TOO_LONG) {
            report_too_long();
            print_line("");
            continue;
        }
        if (line.empty()) continue;
        line.push_back('\n');
        do_command(line);
    }
    return 0;
}

// --- The script -------------------------------------------------------------------------------

bool is_header_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Where the header starts: "Zor", an optional "/System", any whitespace and "[",
// searched case-sensitively; npos when there is none.
size_t find_header(const std::string& text) {
    for (size_t at = text.find("Zor"); at != std::string::npos; at = text.find("Zor", at + 1)) {
        size_t after = at + 3;
        if (text.compare(after, 7, "/System") == 0) after += 7;
        while (after < text.size() && is_header_space(text[after])) ++after;
        if (after < text.size() && text[after] == '[') return at;
    }
    return std::string::npos;
}

bool contains_caseless(std::string_view text, std::string_view what) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (size_t at = 0; at + what.size() <= text.size(); ++at) {
        size_t i = 0;
        while (i < what.size() && lower(text[at + i]) == lower(what[i])) ++i;
        if (i == what.size()) return true;
    }
    return false;
}

// The position of the first word `Zor` (exact spelling) in the loaded block when a block
// follows it; -1 otherwise.
int64_t header_position(const cell* loaded) {
    if (!loaded->is(TYPE_BLOCK)) return -1;
    int32_t zor = symbol::make("Zor");
    int64_t length = block::rest_length(loaded);
    int64_t head = series::index_of(loaded);
    for (int64_t i = 0; i < length; ++i) {
        const cell* value = block::get_cell(loaded, head + i);
        if (!value->is(TYPE_WORD) || static_cast<int32_t>(value->w2) != zor) continue;
        if (i + 1 < length && block::get_cell(loaded, head + i + 1)->is(TYPE_BLOCK)) return head + i;
        return -1;
    }
    return -1;
}

int run_script(const std::string& path) {
    stack::stack_guard guard;
    cell* error = stack::push_slot();  // new slots are unset!
    cell* code = stack::push_slot();
    cell* result = stack::push_slot();

    std::string text;
    int failure = platform::read_whole_file(path.c_str(), text, source_limit());
    if (failure == EFBIG || failure == ENOMEM) {
        report_too_long();
        return platform::EXIT_UNCAUGHT_ERROR;
    }
    if (failure) {
        attempt(error, [&] {
            cell* name = string::load_onto_stack(unicode::input_bytes::at(path.data()),
                                                 static_cast<int64_t>(path.size()), string::ENCODING_UTF8);
            raise::throw_error(err::access_cannot_open, name);
        });
        error::print_report(error);
        return platform::EXIT_UNCAUGHT_ERROR;
    }

    size_t header = find_header(text);
    if (header == std::string::npos) {
        print_line("*** Error: Zor header not found!");
        return STATUS_NOT_A_SCRIPT;
    }
    if (!attempt(error, [&] { load_text(code, std::string_view(text).substr(header)); })) {
        error::print_report(error);
        return platform::EXIT_UNCAUGHT_ERROR;
    }
    int64_t at = header_position(code);
    if (at < 0) {
        print_line(contains_caseless(text, "Zor/System")
                       ? "*** Error: contains Zor/System code which requires compilation!"
                       : "*** Error: not a Zor program!");
        return STATUS_NOT_A_SCRIPT;
    }
    // The code after the word and its header block.
    code->w1 = static_cast<uint32_t>(at + 2);
    if (!attempt(error, [&] { evaluate(code, result); })) {
        error::print_report(error);
        return platform::EXIT_UNCAUGHT_ERROR;
    }
    if (result->is(TYPE_ERROR)) error::print_report(result);
    return 0;
}

}  // namespace

int first_run() {
    // The switches come first: "--catch" asks for the line loop after the script, "--"
    // ends them; the first other argument names the script, and the ones after it are
    // the script's own.
    const auto& arguments = platform::arguments();
    bool catch_requested = false;
    size_t i = 1;
    for (; i < arguments.size() && arguments[i].starts_with("--"); ++i) {
        if (arguments[i] == "--") {
            ++i;
            break;
        }
        if (arguments[i] == "--catch") catch_requested = true;
    }
    if (i >= arguments.size()) return run_lines();
    int status = run_script(arguments[i]);
    if (catch_requested) return run_lines();
    return status;
}

}  // namespace zor::boot
