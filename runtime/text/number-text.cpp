// Number text: exact conversions between doubles and decimal text, the float layout, and
// the angle folding of the trigonometric natives.
//
// Both directions rest on the standard library's correctly rounded conversions
// (std::to_chars, std::from_chars), which never look at the locale; the code here adds
// the digit/exponent view that the layout needs and the text grammar of the language
// (sign, specials, exponent rules) around them.
#include "runtime/text/number-text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace zor::number_text {

namespace {

// The text of the special values, by sign and point flag.
const char* zero_text(bool negative, bool point) {
    if (point) return negative ? "-0.0" : "0.0";
    return negative ? "-0" : "0";
}

const char* special_text(double value) {
    if (std::isnan(value)) return TEXT_NAN;
    return value < 0 ? TEXT_MINUS_INFINITY : TEXT_INFINITY;
}

// Appends the decimal text of a small signed integer; answers the new end.
char* put_int(char* out, int value) {
    return std::to_chars(out, out + 12, value).ptr;
}

}  // namespace

void generate_digits(double value, int count, decimal_digits& out) {
    if (count > MAX_DIGITS) count = MAX_DIGITS;
    // Scientific form: [-]d[.ddd]e(+|-)xx, shortest or with count significant digits.
    char text[MAX_DIGITS + 16];
    std::to_chars_result r = count <= 0
        ? std::to_chars(text, text + sizeof text, value, std::chars_format::scientific)
        : std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, count - 1);
    const char* p = text;
    out.negative = false;
    if (*p == '-') {
        out.negative = true;
        ++p;
    }
    int m = 0;
    for (; p < r.ptr && *p != 'e'; ++p) {
        if (*p != '.') out.digits[m++] = *p;
    }
    // The exponent after "e": sign and digits.
    ++p;
    bool exponent_negative = *p == '-';
    ++p;
    int exponent = 0;
    std::from_chars(p, r.ptr, exponent);
    if (exponent_negative) exponent = -exponent;
    while (m > 1 && out.digits[m - 1] == '0') --m;
    out.digits[m] = '\0';
    out.length = m;
    out.k = exponent + 1;
}

const char* dtoa(double value, int count, int* k, bool* negative, int* length, bool point) {
    // "-" followed by the digits, so that a negative result starts one byte earlier.
    static char buffer[MAX_DIGITS + 2] = "-";
    *negative = std::signbit(value) && !std::isnan(value);
    if (!std::isfinite(value)) {
        *k = K_SPECIAL;
        const char* text = special_text(value);
        *length = static_cast<int>(std::strlen(text));
        return text;
    }
    if (value == 0.0) {
        *k = K_ZERO;
        const char* text = zero_text(*negative, point);
        *length = static_cast<int>(std::strlen(text));
        return text;
    }
    decimal_digits d;
    generate_digits(value, count, d);
    std::memcpy(buffer + 1, d.digits, static_cast<size_t>(d.length) + 1);
    *k = d.k;
    *length = d.length;
    return d.negative ? buffer : buffer + 1;
}

int format_float_to(char* out, double value, int count, bool point) {
    const char* special = nullptr;
    if (!std::isfinite(value)) special = special_text(value);
    else if (value == 0.0) special = zero_text(std::signbit(value), point);
    if (special) {
        size_t n = std::strlen(special);
        std::memcpy(out, special, n + 1);
        return static_cast<int>(n);
    }

    decimal_digits d;
    generate_digits(value, count, d);
    const int m = d.length;
    const int k = d.k;
    char* p = out;
    if (d.negative) *p++ = '-';

    bool trailing_point = false;
    if (k >= 18 || k < -6) {
        // Exponent form: one digit, the point, the rest, then "e" and k - 1.
        *p++ = d.digits[0];
        *p++ = '.';
        if (m == 1) {
            trailing_point = true;
        } else {
            std::memcpy(p, d.digits + 1, static_cast<size_t>(m - 1));
            p += m - 1;
        }
        if (trailing_point) {
            if (point) *p++ = '0';
            else --p;
        }
        *p++ = 'e';
        p = put_int(p, k - 1);
        *p = '\0';
        return static_cast<int>(p - out);
    }
    if (k <= 0) {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', static_cast<size_t>(-k));
        p += -k;
        std::memcpy(p, d.digits, static_cast<size_t>(m));
        p += m;
    } else if (m <= k) {
        std::memcpy(p, d.digits, static_cast<size_t>(m));
        p += m;
        std::memset(p, '0', static_cast<size_t>(k - m));
        p += k - m;
        if (point) {
            *p++ = '.';
            *p++ = '0';
        }
    } else {
        std::memcpy(p, d.digits, static_cast<size_t>(k));
        p += k;
        *p++ = '.';
        std::memcpy(p, d.digits + k, static_cast<size_t>(m - k));
        p += m - k;
    }
    *p = '\0';
    return static_cast<int>(p - out);
}

const char* format_float(double value, int count, bool point) {
    static char buffer[FORMAT_BUFFER_SIZE];
    format_float_to(buffer, value, count, point);
    return buffer;
}

namespace {

// Significant digits kept for conversion. A double's rounding is decided within its
// first 768 significant digits; the digits beyond only matter as "some are non-zero",
// which one extra sticky digit records.
constexpr int KEPT_DIGITS = 780;
// A decimal exponent this far out is beyond every double (and keeps the arithmetic small).
constexpr int64_t EXPONENT_CAP = 1000000;

struct scanned_number {
    bool collect = true;      // keep the significant digits (else only find the extent)
    bool negative = false;
    bool any_digit = false;
    const char* number_start = nullptr;  // the "-" or first digit/point: the text from_chars reads
    enum { finite, infinity, nan } kind = finite;
    int count = 0;            // significant digits kept
    bool sticky = false;      // a non-zero digit was dropped
    int64_t point = 0;        // value = 0.DIGITS x 10^point
    const char* stop = nullptr;
    char digits[KEPT_DIGITS + 1];
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void keep_digit(scanned_number& n, char c) {
    if (!n.collect) return;
    if (n.count < KEPT_DIGITS) n.digits[n.count++] = c;
    else if (c != '0') n.sticky = true;
}

void scan_number(const char* start, const char* end, scanned_number& n) {
    const char* s = start;
    n.number_start = start;
    if (s < end && (*s == '+' || *s == '-')) {
        n.negative = *s == '-';
        ++s;
        if (!n.negative) n.number_start = s;
    }
    while (s < end && *s == '0') {
        n.any_digit = true;
        ++s;
    }
    const char* integer_start = s;
    while (s < end && is_digit(*s)) {
        keep_digit(n, *s);
        ++n.point;
        ++s;
    }
    if (s != integer_start) n.any_digit = true;
    // d.#INF and d.#NaN: one integer digit, the point, "#", and the deciding letter.
    if (s - integer_start == 1 && end - s >= 3 && s[0] == '.' && s[1] == '#') {
        char letter = s[2];
        if (letter == 'I' || letter == 'i' || letter == 'N' || letter == 'n') {
            n.kind = (letter == 'I' || letter == 'i') ? scanned_number::infinity : scanned_number::nan;
            s += 3;
            for (int i = 0; i < 2 && s < end && ((*s | 0x20) >= 'a' && (*s | 0x20) <= 'z'); ++i) ++s;
            n.stop = s;
            return;
        }
    }
    if (s < end && *s == '.') {
        const char* fraction_start = ++s;
        if (n.point == 0) {
            while (s < end && *s == '0') {
                --n.point;
                ++s;
            }
        }
        while (s < end && is_digit(*s)) {
            keep_digit(n, *s);
            ++s;
        }
        if (s != fraction_start) n.any_digit = true;
        if (!n.any_digit) {
            // A lone point (or sign and point) is no number.
            n.stop = start;
            return;
        }
    }
    if (!n.any_digit) {
        n.stop = start;
        return;
    }
    if (s < end && (*s == 'e' || *s == 'E')) {
        const char* e = s + 1;
        bool exponent_negative = false;
        if (e < end && (*e == '+' || *e == '-')) {
            exponent_negative = *e == '-';
            ++e;
        }
        if (e < end && is_digit(*e)) {
            int64_t exponent = 0;
            while (e < end && is_digit(*e)) {
                if (exponent < EXPONENT_CAP) exponent = exponent * 10 + (*e - '0');
                ++e;
            }
            n.point += exponent_negative ? -exponent : exponent;
            s = e;
        }
    }
    n.stop = s;
}

double convert(scanned_number& n, int exponent_adjustment) {
    if (n.kind == scanned_number::nan) return std::numeric_limits<double>::quiet_NaN();
    if (n.kind == scanned_number::infinity) {
        return n.negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    while (n.count > 0 && n.digits[n.count - 1] == '0' && !n.sticky) --n.count;
    double zero = n.negative ? -0.0 : 0.0;
    if (n.count == 0) return zero;
    if (n.sticky) n.digits[n.count++] = '1';
    int64_t point = n.point + exponent_adjustment;
    double infinity = n.negative ? -std::numeric_limits<double>::infinity()
                                 : std::numeric_limits<double>::infinity();
    // 0.D x 10^point: beyond 10^309 every value overflows, below 10^-325 every one
    // rounds to zero.
    if (point > 310) return infinity;
    if (point < -330) return zero;
    char text[KEPT_DIGITS + 24];
    char* p = text;
    *p++ = '.';
    std::memcpy(p, n.digits, static_cast<size_t>(n.count));
    p += n.count;
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof text, point).ptr;
    double value = 0.0;
    std::from_chars_result r = std::from_chars(text, p, value);
    if (r.ec == std::errc::result_out_of_range) return point > 0 ? infinity : zero;
    return n.negative ? -value : value;
}

}  // namespace

// Without an exponent adjustment the text between the sign and the stop is exactly what
// from_chars reads, so it converts the caller's bytes in place.
double convert_in_place(const scanned_number& n) {
    if (n.kind != scanned_number::finite) {
        if (n.kind == scanned_number::nan) return std::numeric_limits<double>::quiet_NaN();
        return n.negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    double value = 0.0;
    std::from_chars_result r = std::from_chars(n.number_start, n.stop, value);
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond the range: the decimal point position tells overflow from underflow.
        double magnitude = n.point > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        return n.negative ? -magnitude : magnitude;
    }
    return value;
}

double parse_float(const char* start, const char* end, const char** stop) {
    scanned_number n;
    n.collect = false;
    scan_number(start, end, n);
    if (stop) *stop = n.stop;
    if (!n.any_digit) return 0.0;
    return convert_in_place(n);
}

double parse_float(const char* start, const char* end, int exponent_adjustment, int* error) {
    scanned_number n;
    n.collect = exponent_adjustment != 0;
    scan_number(start, end, n);
    bool failed = !n.any_digit || n.stop != end;
    if (error) *error = failed ? 1 : 0;
    if (!n.any_digit) return 0.0;
    return exponent_adjustment == 0 ? convert_in_place(n) : convert(n, exponent_adjustment);
}

}  // namespace zor::number_text

namespace zor::float_ {

double degrees_to_radians(double degrees, int mode) {
    constexpr double PI = 3.141592653589793;
    double x = std::fmod(degrees, 360.0);
    if (x > 180.0 || x < -180.0) x = x >= 0 ? x - 360.0 : x + 360.0;
    if (x > 90.0 || x < -90.0) {
        if (mode == ANGLE_TANGENT) x = x >= 0 ? x - 180.0 : x + 180.0;
        else if (mode == ANGLE_SINE) x = x >= 0 ? 180.0 - x : -180.0 - x;
    }
    return x * PI / 180.0;
}

}  // namespace zor::float_
