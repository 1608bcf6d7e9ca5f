// Error raising and the typed argument checks.
#include "runtime/errors/raise.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/value/upcalls.h"

namespace zor::raise {

namespace {
const cell* ptr_to(const cell& c) { return &c; }
}  // namespace

void throw_error(err id, const cell* arg1, const cell* arg2, const cell* arg3) {
    cell* e = error::create(id, arg1, arg2, arg3);
    if (upcalls::error_raised) upcalls::error_raised(e);
    stack::throw_error(e);
}

// The arguments are held in stack slots as they are made: finding the parameter word and
// building the error allocate, and a word's context node must stay where the collector
// sees it.
void expect_arg(type_id type, int parameter) {
    cell* where = stack::push_slot();
    *where = stack::current_function_word();
    cell* datatype_value = stack::push_copy(ptr_to(datatype::value_of(type)));
    cell* argument = stack::push_slot();
    *argument = parameter_word(parameter);
    throw_error(err::script_expect_arg, where, datatype_value, argument);
}

void invalid_type(type_id type) {
    cell t = datatype::value_of(type);
    throw_error(err::script_invalid_type, &t);
}

void bad_make_arg(const cell* type, const cell* spec) { throw_error(err::script_bad_make_arg, type, spec); }

bool typeset_has(const cell* typeset, type_id type) {
    // The typeset's bits start at byte 4 of the cell, most significant bit first.
    const auto* bytes = reinterpret_cast<const uint8_t*>(typeset);
    return (bytes[4 + (type >> 3)] & (0x80 >> (type & 7))) != 0;
}

const cell* check_arg_type(const cell* typeset, int argument_index, const cell* value) {
    if (typeset_has(typeset, value->type())) return value;
    expect_arg(value->type(), argument_index);
}

void check_native_arg(int slot_offset, const cell* typeset, int argument_index) {
    if (slot_offset <= -1) return;
    check_arg_type(typeset, argument_index, stack::state.args_base + slot_offset);
}

// The parameter word at a position of the current function's spec.
cell parameter_word(int position) { return error::get_argument_word(position); }

}  // namespace zor::raise

namespace zor::stack {

}  // namespace zor::stack
