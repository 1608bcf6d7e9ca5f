// integer!: the signed 32-bit integer. Cell: header type 11; payload word 2 the value in
// two's complement; words 1 and 3 are 0 and unused.
//
// This module owns the integer math core behind every arithmetic action of integer! and
// the arithmetic op codes that all numeric cores share. Arithmetic never wraps: add,
// subtract and multiply that overflow, and a division that leaves a remainder, give a
// float!; only a zero divisor (math/zero-divide) and -2147483648 / -1 (math/overflow)
// raise. The cores work on the argument stack: the left operand at args_base is also the
// result slot and is overwritten in place; the right operand is the next cell.
//
// It also owns the hand-off table through which a numeric core reaches the core of a type
// it does not own (money!, vector!, date!, pair!, point2D!, point3D!, tuple!): those
// modules register their cores here; an operand type without a registered core raises
// script/invalid-type.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::math_ops {

// The arithmetic op codes shared by every math core. They live in a namespace without
// functions so that an unqualified call taking one (`do_math(OP_ADD)` inside another
// type's module) does not find integer's routines by argument-dependent lookup.
enum math_op : int {
    OP_ADD = 0, OP_SUBTRACT = 1, OP_MULTIPLY = 2, OP_DIVIDE = 3, OP_REMAINDER = 4,
    OP_OR = 5, OP_AND = 6, OP_XOR = 7,
};

}  // namespace zor::math_ops

namespace zor::integer {

using math_ops::math_op;
using math_ops::OP_ADD;
using math_ops::OP_SUBTRACT;
using math_ops::OP_MULTIPLY;
using math_ops::OP_DIVIDE;
using math_ops::OP_REMAINDER;
using math_ops::OP_OR;
using math_ops::OP_AND;
using math_ops::OP_XOR;

void init_type();

// `integer/arithmetic`: the checked operation. An integer result is stored into the result
// cell's payload word 2 (its header left as the caller set it) and returned; a float!
// result turns the result cell into a float! and 0 is returned. The result cell may be
// null only for divide (the quotient is then truncated toward zero).
int32_t arithmetic(int32_t left, int32_t right, int op, cell* result);

// The integer math core for an op code: left at args_base, right after it.
cell* do_math(int op);

// Cell builders and readers.
cell* set_cell(cell* c, int32_t value);       // type integer!, flags kept
cell* make_in(cell* destination, int32_t value);  // a whole new integer! cell
cell* append_to_block(cell* block, int32_t value);
cell* push(int32_t value);
cell* return_value(int32_t value);            // the result slot becomes the integer
inline int32_t read_cell(const cell* c) { return static_cast<int32_t>(c->w2); }
int32_t read_first_arg();
int32_t read_first_arg_or_zero();

inline int32_t sign(int32_t value) { return (value > 0) - (value < 0); }
// |value|; -2147483648 raises math/overflow.
int32_t absolute_checked(int32_t value);
// 1 when the double in the cell's words 2-3 is above 2147483647.0, below -2147483648.0,
// or NaN; else 0.
int float_overflows(const cell* c);
// The 32-bit integer of an integer! cell, or a float! truncated toward zero; NaN or a
// float outside -2147483648.0 .. 2147483647.0 raises script/out-of-range with the value.
int32_t get_int_from_number(const cell* value);
// The decimal text of the value in a static buffer, valid until the next call.
const char* to_decimal_text(int32_t value);

// --- Hand-off to the cores of other types ---------------------------------------------

// A core that performs an arithmetic op on the two operands at args_base and leaves its
// result in the result slot.
using math_core = cell* (*)(int op);
// Registers the core that serves a right operand of the type when the left operand is a
// number (integer!, float!, percent!, time!). The hand-off rules of each type (swapping
// the operands, refusing non-commutative ops) are applied before the core is called.
void register_math_core(type_id type, math_core core);
math_core math_core_of(type_id type);

// Conversions to integer! from types owned elsewhere (date!, money!): the module of the
// type registers them; an unregistered type is refused with script/bad-to-arg.
using integer_converter = int32_t (*)(const cell* value);
void register_converter(type_id type, integer_converter converter);

// Compares a number (integer!, float!, percent!, time!) with a value of a type owned
// elsewhere (money!): answers by the comparison protocol; unregistered types answer -2.
using foreign_comparator = int (*)(cell* number, cell* other, int op);
void register_comparator(type_id type, foreign_comparator comparator);
foreign_comparator comparator_of(type_id type);

// A word! naming the action of an op code (add, subtract, ... xor~), or none before words
// exist: the first argument of script/not-related.
cell op_word(int op);
// A word! of the name, or none before words exist.
cell named_word(const char* name);

}  // namespace zor::integer
