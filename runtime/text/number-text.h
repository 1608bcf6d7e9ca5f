// Number text: doubles to decimal text and back, correctly rounded, and the layout that
// float!, percent!, time! and money! print; plus the angle folding of the trigonometric
// natives.
//
// Digit generation is exact: shortest mode gives the fewest significant digits that read
// back as the same double (the nearest such string when several qualify), and digit-count
// mode gives that many significant digits correctly rounded (ties to even on exact
// halves), trailing zeros removed. Parsing gives the double nearest to the decimal value
// of the text. Neither direction ever consults the process locale.
//
// Invariant for callers: the texts returned as `const char*` live in one static buffer
// per routine and are valid only until the next call of the same routine; copy them
// (string::append_c_string does) before converting again. Nothing here allocates from the
// memory manager or raises.
#pragma once

#include <cstdint>

namespace zor::number_text {

// Decimal-point positions that stand for the special values in dtoa's k.
inline constexpr int K_SPECIAL = 9999;  // infinities and NaN
inline constexpr int K_ZERO = 9998;     // +0.0 and -0.0

// The largest digit count that digit-count mode produces; larger requests are clamped.
inline constexpr int MAX_DIGITS = 40;

// The special texts.
inline constexpr const char* TEXT_INFINITY = "1.#INF";
inline constexpr const char* TEXT_MINUS_INFINITY = "-1.#INF";
inline constexpr const char* TEXT_NAN = "1.#NaN";

// The digits of a finite, non-zero double, value = 0.d1d2...dm x 10^k.
struct decimal_digits {
    char digits[MAX_DIGITS + 1];  // NUL-terminated, no trailing zeros
    int length;                   // m, 1..MAX_DIGITS
    int k;                        // decimal-point position
    bool negative;
};

// Fills the digits of a finite non-zero value: count 0 is the shortest round-trip string,
// count n > 0 at most n significant digits (n clamped to MAX_DIGITS).
void generate_digits(double value, int count, decimal_digits& out);

// dtoa: the digit text of the value (a "-" before the digits when negative). For
// infinities and NaN, k is K_SPECIAL and the text is the special text; for zeros k is
// K_ZERO and the text is "0.0"/"-0.0" with the point flag, "0"/"-0" without.
const char* dtoa(double value, int count, int* k, bool* negative, int* length, bool point);

// The laid-out text into a caller buffer of at least FORMAT_BUFFER_SIZE bytes; answers the
// length (the text is NUL-terminated).
inline constexpr int FORMAT_BUFFER_SIZE = 80;
int format_float_to(char* out, double value, int count, bool point);
// `number-text/format-float`: the same into the routine's static buffer.
const char* format_float(double value, int count, bool point);

// `number-text/parse-float`: reads a number from [start, end): an optional sign, leading
// zeros, integer digits, the special "d.#I..." (infinity with the sign) and "d.#N..."
// (positive quiet NaN), fraction digits after ".", and an exponent when the "e" or "E"
// has digits after its optional sign. Answers the nearest double and sets *stop to the
// first byte not read. Text without digits gives +0.0 and stops at start.
double parse_float(const char* start, const char* end, const char** stop);

// The variant with a decimal exponent adjustment (-2 reads a percent, the value divided
// by 100 with one rounding) and an error out-parameter: *error is non-zero when the text
// holds no digits or does not end where the number ends.
double parse_float(const char* start, const char* end, int exponent_adjustment, int* error);

}  // namespace zor::number_text

namespace zor::float_ {

enum angle_mode : int { ANGLE_TANGENT = 0, ANGLE_COSINE = 1, ANGLE_SINE = 2 };

// `float/degrees-to-radians`: folds the angle so that the trigonometric function of the
// folded angle equals that of the original, then converts it to radians.
double degrees_to_radians(double degrees, int mode);

}  // namespace zor::float_
