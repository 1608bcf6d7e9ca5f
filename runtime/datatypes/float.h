// float! and percent!: IEEE-754 doubles. Cell of float! (12), percent! (38) and time!
// (43): header type byte; payload word 1 unused (0); words 2-3 the double, low word first
// (read and written only through get/store below, never by pointer punning). percent!
// holds the fraction (50% is 0.5) and only adds its own text; time! (seconds) registers
// with float! as parent too.
//
// This module owns the float math core, the common arithmetic of these three types and
// of integers mixed with them: plain IEEE operations in double precision, never raising
// for division by zero. It owns float/to-text, the formatter of every binary floating
// value, and the near-equality that `=` uses on these types.
//
// Invariant: every conversion of a double to a 32-bit integer is range-checked first;
// a NaN or a value outside the 32-bit range raises (the error depends on the caller).
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::float_ {

void init_type();

// The pretty float flag: 1 at start-up; system/options/float's change handler sets it.
extern uint32_t pretty_flag;

// The kinds of float/to-text.
enum text_kind : int {
    TEXT_SINGLE = 0,          // a 32-bit float, "%.7g"
    TEXT_FLOAT = 1,           // a float!, "%.16g"
    TEXT_SINGLE_PERCENT = 2,  // a 32-bit float percent, "%.7g" then "%"
    TEXT_PERCENT = 3,         // a percent! (already multiplied by 100), "%.13g" then "%"
    TEXT_SECONDS = 4,         // the seconds of a time!, six digits, no point
    TEXT_SINGLE_BARE = 5,     // like 0 without the ".0" suffix
};

// Cell access.
inline double get(const cell* c) { return std::bit_cast<double>(uint64_t(c->w2) | (uint64_t(c->w3) << 32)); }
inline void store(cell* c, double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    c->w2 = static_cast<uint32_t>(bits);
    c->w3 = static_cast<uint32_t>(bits >> 32);
}
inline double abs(double value) { return std::bit_cast<double>(std::bit_cast<uint64_t>(value) & ~(uint64_t(1) << 63)); }
inline double from_halves(uint32_t low, uint32_t high) {
    return std::bit_cast<double>(uint64_t(low) | (uint64_t(high) << 32));
}

// Builders.
cell* set_result(double value);                 // the result slot becomes a float!
cell* init_cell(cell* c, double value);         // the cell becomes a float!
cell* push(double value);
cell* push_halves(uint32_t low, uint32_t high);
cell* append_to_block(cell* block, uint32_t low, uint32_t high);

bool is_nan(double value);
bool is_nan32(float value);
bool is_not_finite(double value);

// The plain IEEE operation of an op code (0 add ... 4 remainder); other op codes raise
// script/invalid-type naming the current function and float!.
double do_math(double left, double right, int op);

// The float math core: left at args_base (float!, percent!, time!, or an integer! handed
// over by the integer core), right after it.
cell* math_core(int op);

// The power and round actions, which integer! hands its value to once it became a float!.
cell* power();
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);

// The text of a binary floating value by kind, in a static buffer valid until the next
// call (constant texts are returned directly).
const char* to_text(double value, int kind);

// Near-equality: equal, or within the double epsilon, or at most 10 units in the last
// place apart. NaN is never equal.
bool almost_equal(double a, double b);
bool almost_equal32(float a, float b);

// Compares a number given as its type and double with another value, by the comparison
// protocol (near-equality for = and <>).
int compare_number(type_id type, double value, cell* other, int op);
// The answer for a NaN against anything: never equal by any equality code (find and
// select included), every ordering false, and no order among the sort codes.
int unordered_answer(int op);

// A random double up to the limit.
double random_up_to(double limit, bool secure);

// The double plus 0.49999999999999994, truncated toward zero; a NaN or a result outside
// 32 bits raises math/overflow.
int32_t to_int_rounded(double value);
// The double truncated toward zero; NaN or outside 32 bits raises math/overflow.
int32_t truncate_checked(double value);

// Conversions to float! from types owned elsewhere (money!), registered by their module;
// unregistered types are refused with script/bad-to-arg.
using float_converter = double (*)(const cell* value);
void register_converter(type_id type, float_converter converter);

// The nearest single float of a double, as IEEE rounding gives it: a finite double beyond
// the single range becomes the largest single or an infinity (a bare conversion of such a
// double is undefined).
float to_single(double value);

}  // namespace zor::float_

namespace zor::percent {

void init_type();
cell* set_cell(cell* c, double value);
cell* push(double value);
cell* make_in_block(cell* block, uint32_t low, uint32_t high);
cell* make_in_block(cell* block, double value);

}  // namespace zor::percent
