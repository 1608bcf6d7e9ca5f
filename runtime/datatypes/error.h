// error!: the value raised for every language error, an object! retyped.
//
// Cell: as object! (runtime/datatypes/object.h) with type 34 and class id 1; its context
// is a copy of the standard error prototype (runtime/errors/error-catalogue-objects.h), whose
// fields are, in order: code (integer!: category x 100 + id index - 2), type (the
// category word), id (the id word), arg1, arg2, arg3, near, where, stack, files. The
// message template of an error is the value of its id word in its category object of the
// error catalogue object.
//
// Invariants for callers: error cells handed in lie in rooted places (stack slots, root
// cells); field_of answers a cell inside the error's value block, valid until the next
// allocation. Building an error allocates, and so does the report.
#pragma once

#include "runtime/value/cell.h"
#include "runtime/errors/error-catalogue.h"

namespace zor::error {

enum field : int {
    FIELD_CODE, FIELD_TYPE, FIELD_ID, FIELD_ARG1, FIELD_ARG2, FIELD_ARG3,
    FIELD_NEAR, FIELD_WHERE, FIELD_STACK, FIELD_FILES, FIELD_COUNT
};
inline constexpr uint32_t ERROR_CLASS_ID = 1;
// The width of a field in the message, and of the near and files lines of the report.
inline constexpr int MESSAGE_FIELD_LIMIT = 80;
inline constexpr int NEAR_LIMIT = 40;

// Registers error! (id 34, parent object!).
void init_type();

// Pushes a new error of the catalogue entry; null arguments stay none. Answers the slot.
cell* create(err id, const cell* arg1, const cell* arg2, const cell* arg3);
cell* field_of(const cell* error, field f);
// The code field's integer, or -1 when it holds something else.
int code_of(const cell* error);
// The symbol ids of the words in the type and id fields (0 when not words).
int32_t get_type_symbol(const cell* error);
int32_t get_id_symbol(const cell* error);
inline int get_stack_field_index() { return FIELD_STACK; }
// Stores the value into the where field only when that field is still none.
void set_where(cell* error, const cell* where);
// Makes the stack field an integer! holding the frame position, unless it holds a block.
void record_stack_level(cell* error, int level);
// Turns an integer stack position in the stack field into a block of the call trail up
// to that position (detail from the trace depth setting), and copies the source files
// setting into the files field when it is a non-empty block.
void capture_stack(cell* error);
// The parameter word at position n (word!, lit-word!, get-word! and refinement! entries
// of the spec, from 0) of the function that the innermost call frame not named <body> or
// <anon> calls; the word <anon> when that is no callable or n is out of range.
cell get_argument_word(int n);

// The message of a block template: strings whole, words and get-words replaced by the
// error's fields (formed for syntax errors, else molded flat), cut at 80 characters each,
// one space between elements. Answers the budget less the characters written.
int expand_template(cell* template_block, cell* output, cell* error, int budget);

// The error report ("*** Script Error: ..." with its Where and Near lines, and the Stack
// and Files lines when they apply). An error whose type or id the catalogue lacks is
// rewritten as internal/invalid-error first.
int form_report(cell* error, cell* output, cell* part, int budget);
// Prints the report and a line feed through the output hooks.
void print_report(cell* error);

// --- What the rest of the system provides ----------------------------------------------------

// The runtime's settings object (`system/state`: field 2 the trace depth, field 3 the
// source files), installed by the boot environment; until then there is none and the
// report shows no call trail.
void set_settings(const cell* settings);

}  // namespace zor::error
