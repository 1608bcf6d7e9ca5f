// The number scanners of the conversions: `to integer!`, `make float!`/`to float!` read a
// number from the characters of a string value without running the lexer's state
// machine, with the same rules as the lexer's token loaders.
//
// Each scanner reads `length` characters of `unit` bytes each (1, 2 or 4: the string's
// own unit width) from `data` and reports failure through `*error` instead of raising;
// the calling conversion raises its own error. They never allocate, so a caller may pass
// a pointer into a series buffer that it read just before the call.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::lexer {

// Error codes of the scanners.
inline constexpr int SCAN_OK = 0;
inline constexpr int SCAN_BAD_CHARACTER = -1;
inline constexpr int SCAN_OVERFLOW = -2;

// The longest float text the float scanner accepts, in characters.
inline constexpr int64_t MAX_FLOAT_TEXT = 312;

// `lexer/parse-integer-digits`: an optional "+" or "-", then decimal digits; apostrophes
// anywhere after the sign are skipped. The exact 32-bit range is accepted (-2147483648
// only with "-"). *error: -1 for a character that is neither digit nor apostrophe (the
// scan stops there) or for a text without any digit; -2 for a value outside 32 bits;
// 0 otherwise. The result is 0 on failure.
int32_t parse_integer_digits(const void* data, int64_t length, int unit, int* error);

// `lexer/check-float-text`: true when the ASCII text is a float by the float grammar: an
// optional sign; digits, where an apostrophe may stand between two digits; at most one
// point ("." or ","), with at least one digit before or after it; an optional exponent
// "e" or "E" with an optional sign and at least one digit.
bool check_float_text(const char* text, int64_t length);

// `lexer/parse-float-digits`: at most MAX_FLOAT_TEXT characters that pass the float
// grammar, "," read as ".", apostrophes dropped, converted to the nearest double.
// *error: -1 (and a NaN result) for a text too long, not ASCII or not a float; else 0.
double parse_float_digits(const void* data, int64_t length, int unit, int* error);

// The parts of a money text, as the money module builds its value from them. The
// pointers lie in the scanner's own ASCII copy of the text and are valid only during the
// builder's call.
struct money_text {
    bool negative;
    const char* currency;  // three letters, or null
    const char* digits;    // first digit of the integer part
    const char* point;     // the ".", or null
    const char* end;       // one past the last digit
};
// Builds a money! into the destination from the parts; false when the value cannot be
// represented (too many digits, an unknown currency).
using money_builder = bool (*)(cell* destination, const money_text& text);
// The money module installs its builder here at registration.
void set_money_builder(money_builder builder);
// The installed builder, or null.
money_builder installed_money_builder();

// `lexer/parse-money-digits`: an optional sign; an optional three-letter currency code
// that must be followed by "$" and a digit; an optional "$"; digits where an apostrophe
// may separate groups (not first, not last, not doubled, not after the point) and at
// most one "." (not first, not last, not after an apostrophe). A valid text is handed to
// the money builder, which writes the destination. *error: -1 when the text is not money,
// -2 when the builder refused the value, else 0. Without a money module installed,
// raises internal/not-done.
void parse_money_digits(const void* data, int64_t length, int unit, cell* destination, int* error);

// The tuple text reader, with the tuple loader's limits: 1 to 12 components separated by
// single dots, each a decimal 0..255. Fills bytes[0..count) and answers the count; 0 with
// *error = -1 for any other text.
int parse_tuple_digits(const void* data, int64_t length, int unit, uint8_t bytes[12], int* error);

}  // namespace zor::lexer
