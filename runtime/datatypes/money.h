// money!: an exact decimal amount with 17 integer and 5 fraction digits and an optional
// currency.
//
// Cell (16 bytes): header type 49 with the sign in bit 14 (1 = negative); byte 4 (the low
// byte of payload word 1) the currency index, 0 for none, else the 1-based position of the
// code in the currency list; bytes 5-15 the 22 packed decimal digits, two a byte, high
// nibble first, the most significant digit first (digits 1-17 the integer part, 18-22 the
// fraction). A value whose digits are all zero is zero whatever its sign bit says.
//
// The digit arithmetic works on the magnitude as one 128-bit count of 0.00001 units and
// writes the packed digits back; nothing takes a float and nothing allocates. Every result
// beyond 99,999,999,999,999,999.99999, and every non-zero product or quotient that
// truncates to zero, raises script/type-limit (money!): an amount never wraps or silently
// becomes zero. Two different currencies never mix (script/wrong-denom).
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/value/cell.h"

namespace zor::money {

inline constexpr uint32_t SIGN_BIT = 0x4000;
inline constexpr int DIGITS = 22;
inline constexpr int INTEGER_DIGITS = 17;
inline constexpr int FRACTION_DIGITS = 5;
// The built-in currency list's length, and the most currencies an index (one byte) names.
inline constexpr int CURRENCY_COUNT = 170;
inline constexpr int MAX_CURRENCIES = 255;

// The magnitude in 0.00001 units: 0 .. 10^22 - 1.
using units = unsigned __int128;

// Registers money! (id 49, no parent), its math core and comparator for numbers on the
// left, its conversion to integer! and float!, and the lexer's money builder.
void init_type();

// The fraction digits that form and mold show (0..5) while there is no system object;
// once the boot environment has made it, system/options/money-digits is read at every
// use instead (2 when it holds no integer).
extern int32_t shown_fraction_digits;

// --- The currency list -------------------------------------------------------------------------

// The currency list is system/locale/currencies/list, read at every use (its first
// MAX_CURRENCIES words), or the built-in list of CURRENCY_COUNT codes before the boot
// environment makes it.
//
// The code of a currency index (the name of the list's word at that 1-based position),
// empty for 0, an index past the list or an entry that is no word.
std::string_view currency_code(int index);
// `money/find-currency`: the 1-based index of a currency code or of a word's name (letter
// case ignored), or -1.
int find_currency(const char* code, int length);
int find_currency_word(const cell* word);

// --- Cells ----------------------------------------------------------------------------------------

units magnitude_of(const cell* c);
inline bool is_negative_bit(const cell* c) { return (c->header & SIGN_BIT) != 0; }
inline int currency_of(const cell* c) { return static_cast<int>(c->w1 & 0xFF); }
// -1, 0 or 1 (`money/sign-of`).
int sign_of(const cell* c);
// Makes the cell a money! (flags of the header other than the sign kept).
cell* set_cell(cell* c, bool negative, int currency, units magnitude);

// `money/push-from-integer`, `money/push-from-float`: conversions into a cell; a float
// that money cannot hold (not finite, 0 < |x| < 0.00001, |x| >= 10^17, or with more than
// five fraction digits when strict) raises script/bad-make-arg (money!, the float).
cell* from_integer(cell* c, int32_t value);
cell* from_float(cell* c, double value, bool strict);
// `money/to-integer` (fraction dropped; script/type-limit (integer!) beyond 32 bits) and
// `money/to-float`.
int32_t to_integer(const cell* c);
double to_float(const cell* c);

// `money/do-math`: op 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder on the call's
// two arguments, either of which may be the money!; the result replaces the first.
cell* do_math(int op);

}  // namespace zor::money
