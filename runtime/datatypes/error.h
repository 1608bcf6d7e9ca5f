// error!: the value raised for every language error. Its fields, in order: code, type,
// id, arg1, arg2, arg3, near, where, stack, files. The cell holds the node of the field
// values (word 1) and the class id 1 (word 2).
#pragma once

#include "runtime/cell.h"
#include "runtime/error-catalogue.h"

namespace zor::error {

enum field : int {
    FIELD_CODE, FIELD_TYPE, FIELD_ID, FIELD_ARG1, FIELD_ARG2, FIELD_ARG3,
    FIELD_NEAR, FIELD_WHERE, FIELD_STACK, FIELD_FILES, FIELD_COUNT
};
inline constexpr uint32_t ERROR_CLASS_ID = 1;

void init_type();
// Pushes a new error of the catalogue entry; null arguments stay none.
cell* create(err id, const cell* arg1, const cell* arg2, const cell* arg3);
cell* field_of(const cell* error, field f);
int code_of(const cell* error);
// Stores the value into the where field only when that field is still none.
void set_where(cell* error, const cell* where);
// Makes the stack field an integer! holding the frame position, unless it holds a block.
void record_stack_level(cell* error, int level);
// The error report ("*** Script Error: ..." with its Where and Near lines).
int form_report(cell* error, cell* output, cell* part, int budget);
// Prints the report and a line feed through the output hooks.
void print_report(cell* error);

}  // namespace zor::error
