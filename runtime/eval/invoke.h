// Calling callable values. The callable datatypes (native!, action!, op!, function!,
// routine!) describe what to call; running it is the interpreter's work. These are the
// entry points through which the rest of the runtime and the boot code call a callable
// value; the interpreter (runtime/eval/) defines them.
//
// Invariant for callers: the callable cell and the arguments lie on the argument stack,
// the arguments from args_base in the order of the callable's argument section (see
// runtime/datatypes/function.h: one cell per key, refinements as logic! followed by their
// arguments, then the /local section). The result lands in the result slot (args_base).
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"
#include "runtime/value/upcalls.h"

namespace zor::eval {

// Flags of invoke_function: the kind of user callback the call is (0 for an ordinary
// call from the interpreter or the tracer), declared with the upward calls that the
// runtime reaches invoke_function through.
using upcalls::INVOKE_LEXER;
using upcalls::INVOKE_PARSE;
using upcalls::INVOKE_SORT;
using upcalls::INVOKE_ON_CHANGE;
using upcalls::INVOKE_ON_DEEP_CHANGE;
using upcalls::INVOKE_PORT;

// The code-registry signatures that the callers below cast entries back to.
//
// A compiled function body: runs with the function's arguments and locals as its
// context's values (from args_base), receives the context of the object it was compiled
// for (0 for the global context), and answers a throw code as natives do (0 normally).
using compiled_body = uint32_t (*)(node_ref context);
// A routine with the cell-calling flag: receives the argument cells (from args_base) and
// answers its result cell, which the caller copies into the result slot.
using routine_cell_code = cell* (*)(cell* arguments);
// Any other routine: one 64-bit machine value per argument (integer! its value sign-
// extended, logic! 0 or 1, float! the bits of its double, any other type the address of
// its argument cell); answers the machine result that the routine's return type id turns
// into the result (11 integer!, 4 logic!, 12 float!; a type id below 1 leaves the result
// slot as the routine wrote it).
struct routine_arguments {
    const uint64_t* values;
    int32_t count;
};
using routine_code = uint64_t (*)(const routine_arguments& arguments);

// Runs a function! whose argument section is on the stack from args_base: sets the
// context's values to args_base for the call (restoring them afterwards) and runs the
// body, interpreted or compiled. The caller has pushed the call's frame (a function
// frame naming the word). context: the function's own context, or for a function reached
// through an object the object's context (handed to compiled code). A break, continue or
// throw that leaves the body is left pending for the interpreter's callers when flags is
// 0 (runtime/eval/stack.h); with a callback kind, whose callers are C++ code, it is
// thrown as the C++ exception.
void invoke_function(cell* function, node_ref context, const cell* word, uint32_t flags);
// Calls the natives-table entry of a native! with the argument section at args_base.
void call_native(const cell* native);
// Calls the action-table entry of an action! with the argument section at args_base.
void call_action(const cell* action);
// Calls a routine!'s code (code-registry entries named by its extras cells 2 and 4) with
// the argument section at args_base, converting the arguments by the spec's type blocks
// unless the routine takes cells.
void call_routine(const cell* routine);
// Calls the source of an op! with its two arguments at args_base.
void call_op(const cell* op);
// call_native, call_action, call_routine and call_op leave the result in the result slot
// and throw a break, continue or throw that comes out of the call as the C++ exception.

}  // namespace zor::eval
