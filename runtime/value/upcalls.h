// Upward calls: the only way the runtime layer (value model, memory, collector, text,
// binding, errors, datatypes) calls into the layers above it, the evaluator with its
// lexer and the View system. The runtime may not include their headers
// (tools/include-layers.txt, checked by tools/check-include-layers.py); each service it
// needs from them is a function pointer here. The composition root
// (boot/runtime-init.cpp) installs every one of them before anything else starts, so the
// runtime behaves as if it called the service directly.
//
// Invariants: a hook is null only before start-up or while a test has replaced it (a test
// that does so puts the installed one back). Callers that cannot do without a service call
// it through `installed(hook)`, which raises internal/not-done for a missing one; the
// others say at their declaration what a missing hook means. Hooks are called with the
// collector's rules of any call that may evaluate: no raw buffer pointer held across them.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::upcalls {

// --- The evaluator ---------------------------------------------------------------------------

// The kinds of user callback (flags of invoke_function). While tracing is on, a callback
// runs with tracing off unless its kind's bit is set in the tracing callback bits.
inline constexpr uint32_t INVOKE_LEXER = 1;            // a transcode/trace callback
inline constexpr uint32_t INVOKE_PARSE = 2;            // a parse/trace callback
inline constexpr uint32_t INVOKE_SORT = 4;             // a sort comparator
inline constexpr uint32_t INVOKE_ON_CHANGE = 8;        // calling an on-change* handler
inline constexpr uint32_t INVOKE_ON_DEEP_CHANGE = 16;  // calling an on-deep-change* handler
inline constexpr uint32_t INVOKE_PORT = 32;            // a port actor function

// Evaluates the block (a rooted cell) from its index; a pending exit is thrown as the C++
// exception (eval::run_block).
extern void (*run_block)(const cell* block, bool pass_result);
// Runs a function! whose call frame and argument section are on the stack
// (eval::invoke_function). Tests of the change handlers put a stand-in here.
extern void (*invoke_function)(cell* function, node_ref context, const cell* word, uint32_t flags);
// Calls a sort comparator function with two values (in this order) in a call frame named
// `<compare-callback>` and answers its result cell. Sorting with a comparator function
// raises internal/not-done while it is missing.
extern cell* (*call_comparator)(cell* function, cell* first, cell* second);
// The interpreter's current-code cell: the block being evaluated and the position in it
// (eval::current_code). Errors record it as their near field; unset! while missing.
extern const cell& (*current_code)();
// Reports an error being raised to the tracer (tracing::fire_error_event); nothing while
// missing.
extern void (*error_raised)(cell* error);
// Whether the 1-based index names a filled entry of the natives table; false while
// missing.
extern bool (*native_exists)(int32_t index);

// --- The lexer ---------------------------------------------------------------------------------

// Scans the UTF-8 text, writes the first value it makes into out (a stack slot) and
// answers whether it made one.
extern bool (*scan_text)(const char* utf8, int64_t length, cell* out);
// Scans the string's text from its index into values appended to the block.
extern void (*scan_string)(cell* string, cell* block);

// --- The View system -------------------------------------------------------------------------

// The default console printer asks the text-mode display to step aside before it writes
// (restore the console mode, clear the drawn view lines) and to come back afterwards
// (redraw the view). Nothing happens while they are missing.
extern void (*clear_before_print)();
extern void (*resume_after_print)();
// The text-mode back-end's event type table: the type word of an event, and setting an
// event's type from a word (an unknown word raises the back-end's script error). The
// back-end's own events are read through it too. internal/not-done while missing.
extern cell* (*event_type_word)(const cell* event);
extern void (*set_event_type)(cell* event, const cell* word);
// The back-end's field reader for its own events (a backend reference in payload word 1):
// pushes the field of the accessor index 1..15. internal/not-done while missing.
extern cell* (*event_field)(const cell* event, int accessor);

// --- Calling -------------------------------------------------------------------------------------

[[noreturn]] void raise_not_installed();

// The hook itself, or internal/not-done when it is missing.
template <typename Hook> Hook installed(Hook hook) {
    if (!hook) raise_not_installed();
    return hook;
}

}  // namespace zor::upcalls
