// The number-like loaders of the lexer: decimal and hexadecimal integers, floats and
// percents, the special floats, tuples, pairs, times, dates (every form, with times and
// zones, built by the date module from the fields read here), money (checked here, built
// by the builder the money module installs), binaries in base 2, 16 and 64, and the
// literal form of points, whose module is not written yet.
//
// A point's whole text is checked here, so a /scan reports the right type or error!;
// loading one raises internal/not-done until the datatype exists.
//
// Number text is read with number_text, never with the C library's locale-dependent
// readers.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/eval/lexer/lexer-loaders.h"
#include "runtime/eval/lexer/number-scanners.h"
#include "runtime/text/number-text.h"
#include "runtime/errors/raise.h"
#include "runtime/memory/memory.h"

namespace zor::lexer {

namespace {

inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
inline bool is_letter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline uint8_t upper(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

cell number_cell(type_id type, double value) {
    cell c{type, 0, 0, 0};
    float_::store(&c, value);
    return c;
}

// The token's text with its apostrophes dropped, for the decimal-text converter.
std::string without_apostrophes(const uint8_t* start, const uint8_t* end) {
    std::string text;
    text.reserve(static_cast<size_t>(end - start));
    for (const uint8_t* p = start; p < end; ++p) {
        if (*p != '\'') text.push_back(static_cast<char>(*p));
    }
    return text;
}

// A float or percent text: apostrophes dropped, then the float automaton, then the
// converter (a percent with its exponent lowered by 2), which reads a "," as the point.
// False when any step refuses.
bool read_float_text(const uint8_t* start, const uint8_t* end, bool percent, double* value) {
    std::string text = without_apostrophes(start, end);
    auto n = static_cast<int64_t>(text.size());
    if (n == 0 || n > MAX_FLOAT_TEXT || !check_float_text(text.data(), n)) return false;
    for (char& c : text) {
        if (c == ',') c = '.';
    }
    int failed = 0;
    *value = number_text::parse_float(text.data(), text.data() + n, percent ? -2 : 0, &failed);
    return failed == 0;
}

// "1.#NaN" and "1.#INF" with an optional sign, letters in any case.
bool read_special_float(const uint8_t* start, const uint8_t* end, double* value) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
    uint8_t a = upper(p[3]), b = upper(p[4]), c = upper(p[5]);
    if (a == 'N' && b == 'A' && c == 'N') {
        *value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (a == 'I' && b == 'N' && c == 'F') {
        *value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    return false;
}

// --- Dates ----------------------------------------------------------------------------------------

// The fields of a date literal, as the date module builds the value from them.
struct date_fields {
    enum form_t { CALENDAR, WEEK, ORDINAL } form = CALENDAR;
    int32_t year = 0, month = 1, day = 1;
    int32_t week = 0, weekday = 0, yearday = 0;  // weekday 0: not given
    bool time_given = false;
    double seconds = 0;       // local time of day
    int32_t zone_minutes = 0; // signed, east of UTC
};

// The date forms are checked field by field; the reader walks the token once and keeps
// the fields.
class date_reader {
public:
    date_reader(const uint8_t* start, const uint8_t* end) : p_(start), end_(end) {}

    date_fields fields;

    bool read() {
        bool negative_year = false;
        if (at('-')) {
            negative_year = true;
            ++p_;
        }
        int first_digits;
        int32_t first = digits(1, 4, &first_digits);
        if (first < 0) return false;
        if (p_ < end_ && is_digit(*p_)) return read_basic(first, first_digits) && p_ == end_;

        if (!at('-') && !at('/')) return false;
        uint8_t separator = *p_++;
        bool year_first = negative_year || first_digits >= 3;
        int32_t year = negative_year ? -first : first;

        if (separator == '-' && (at('W') || at('w'))) {
            // yyyy-Www or yyyy-Www-d: a week date.
            ++p_;
            int32_t week = fixed_digits(2);
            if (!year_first || week < 1 || week > 53) return false;
            fields.form = date_fields::WEEK;
            fields.year = year;
            fields.week = week;
            if (at('-')) {
                ++p_;
                int32_t weekday = fixed_digits(1);
                if (weekday < 1 || weekday > 7) return false;
                fields.weekday = weekday;
            }
            return read_time_part();
        }

        int32_t month;
        if (p_ < end_ && is_digit(*p_)) {
            int n;
            int32_t value = digits(1, 3, &n);
            if (n == 3) {
                // yyyy-ddd: an ordinal date.
                if (separator != '-' || !year_first || value < 1 || value > days_in_year(year)) return false;
                fields.form = date_fields::ORDINAL;
                fields.year = year;
                fields.yearday = value;
                return read_time_part();
            }
            month = value;
        } else {
            month = month_name();
        }
        if (month < 1 || month > 12) return false;
        if (!at(separator)) return false;
        ++p_;

        // A negative year written last, as the text form writes one: 15/Mar/-0044.
        bool negative_last = !year_first && separator == '/' && at('-');
        if (negative_last) ++p_;
        int last_digits;
        int32_t last = digits(1, 4, &last_digits);
        if (last < 0) return false;
        int32_t day;
        if (year_first) {
            if (last_digits > 2) return false;
            day = last;
        } else {
            day = first;
            year = negative_last ? -last : last;
        }
        if (day < 1 || day > days_in_month(month, year)) return false;
        fields.year = year;
        fields.month = month;
        fields.day = day;
        return read_time_part();
    }

private:
    bool at(uint8_t c) const { return p_ < end_ && *p_ == c; }

    // From min to max decimal digits; -1 when fewer than min.
    int32_t digits(int min, int max, int* count) {
        int32_t value = 0;
        int n = 0;
        while (n < max && p_ < end_ && is_digit(*p_)) {
            value = value * 10 + (*p_ - '0');
            ++p_;
            ++n;
        }
        *count = n;
        return n < min ? -1 : value;
    }
    int32_t fixed_digits(int n) {
        int count;
        int32_t value = digits(n, n, &count);
        return value;
    }

    // A month name of 3 to 9 letters, the start of the name in any case; 0 for none.
    int32_t month_name() {
        static const char* const names[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                            "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
        const uint8_t* letters = p_;
        while (p_ < end_ && is_letter(*p_)) ++p_;
        int64_t n = p_ - letters;
        if (n < 3 || n > 9) return 0;
        for (int m = 0; m < 12; ++m) {
            const char* name = names[m];
            if (static_cast<int64_t>(std::strlen(name)) < n) continue;
            bool same = true;
            for (int64_t i = 0; i < n && same; ++i) same = upper(letters[i]) == static_cast<uint8_t>(name[i]);
            if (same) return m + 1;
        }
        return 0;
    }

    static bool leap(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
    static int32_t days_in_year(int32_t year) { return leap(year) ? 366 : 365; }
    static int32_t days_in_month(int32_t month, int32_t year) {
        static const int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        return month == 2 && leap(year) ? 29 : days[month - 1];
    }

    // yyyymmddThhmm[ss][zone]
    bool read_basic(int32_t year, int year_digits) {
        if (year_digits != 4) return false;
        int32_t month = fixed_digits(2);
        int32_t day = fixed_digits(2);
        if (month < 1 || month > 12 || day < 1 || day > days_in_month(month, year)) return false;
        fields.year = year;
        fields.month = month;
        fields.day = day;
        if (!at('T')) return false;
        ++p_;
        int32_t hours = fixed_digits(2);
        int32_t minutes = fixed_digits(2);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return false;
        fields.time_given = true;
        fields.seconds = hours * 3600.0 + minutes * 60.0;
        if (p_ < end_ && is_digit(*p_)) {
            if (!read_seconds(2)) return false;
        }
        return read_zone();
    }

    // Seconds of digit_count to two digits, below 60, with an optional fraction.
    bool read_seconds(int digit_count) {
        const uint8_t* start = p_;
        int n;
        int32_t whole = digits(digit_count, 2, &n);
        if (whole < 0 || whole > 59) return false;
        if (at('.') || at(',')) {
            ++p_;
            int fraction = 0;
            while (p_ < end_ && is_digit(*p_)) {
                ++p_;
                ++fraction;
            }
            if (fraction == 0) return false;
        }
        std::string text(reinterpret_cast<const char*>(start), static_cast<size_t>(p_ - start));
        for (char& c : text) {
            if (c == ',') c = '.';
        }
        int failed = 0;
        double seconds = number_text::parse_float(text.data(), text.data() + text.size(), 0, &failed);
        if (failed) return false;
        fields.seconds += seconds;
        return true;
    }

    // After "/" or "T": h:m[:s][zone], and nothing may follow.
    bool read_time_part() {
        if (p_ == end_) return true;
        if (!at('/') && !at('T')) return false;
        ++p_;
        int n;
        int32_t hours = digits(1, 2, &n);
        if (hours < 0 || hours > 23 || !at(':')) return false;
        ++p_;
        int32_t minutes = digits(1, 2, &n);
        if (minutes < 0 || minutes > 59) return false;
        fields.time_given = true;
        fields.seconds = hours * 3600.0 + minutes * 60.0;
        if (at(':')) {
            ++p_;
            if (!read_seconds(1)) return false;
        }
        return read_zone() && p_ == end_;
    }

    // Optionally "Z", or a sign, one or two hour digits, an optional ":", one or two
    // minute digits.
    bool read_zone() {
        if (p_ == end_) return true;
        if (at('Z')) {
            ++p_;
            return p_ == end_;
        }
        if (!at('+') && !at('-')) return false;
        bool west = at('-');
        ++p_;
        int n;
        int32_t hours = digits(1, 2, &n);
        if (hours < 0 || hours > 15) return false;
        if (at(':')) ++p_;
        int32_t minutes = digits(1, 2, &n);
        if (minutes < 0 || minutes > 59) return false;
        fields.zone_minutes = (west ? -1 : 1) * (hours * 60 + minutes);
        return p_ == end_;
    }

    const uint8_t* p_;
    const uint8_t* end_;
};

// --- Money ----------------------------------------------------------------------------------------

constexpr int MAX_MONEY_DIGITS = 18;
constexpr int MAX_MONEY_DECIMALS = 5;

// Checks a money text and writes it in the form the money builder reads: sign, code, "$",
// the integer digits with their separators, and "." with the decimals when there are any.
bool read_money(const uint8_t* start, const uint8_t* end, std::string* canonical) {
    const uint8_t* p = start;
    canonical->clear();
    if (p < end && (*p == '+' || *p == '-')) canonical->push_back(static_cast<char>(*p++));
    if (p < end && is_letter(*p)) {
        if (end - p < 4 || !is_letter(p[1]) || !is_letter(p[2]) || p[3] != '$') return false;
        canonical->append(reinterpret_cast<const char*>(p), 3);
        p += 3;
    }
    if (p >= end || *p != '$') return false;
    canonical->push_back('$');
    ++p;
    int digits = 0;
    uint8_t previous = 0;
    for (; p < end && (is_digit(*p) || *p == '\''); ++p) {
        if (*p == '\'') {
            if (previous == 0 || previous == '\'') return false;
        } else {
            ++digits;
        }
        previous = *p;
        canonical->push_back(static_cast<char>(*p));
    }
    if (digits == 0 || digits > MAX_MONEY_DIGITS || previous == '\'') return false;
    if (p < end && (*p == '.' || *p == ',')) {
        ++p;
        int decimals = 0;
        std::string fraction;
        for (; p < end && is_digit(*p); ++p) {
            ++decimals;
            fraction.push_back(static_cast<char>(*p));
        }
        if (decimals > MAX_MONEY_DECIMALS) return false;
        if (decimals > 0) {
            canonical->push_back('.');
            canonical->append(fraction);
        }
    }
    return p == end;
}

// --- Binary ---------------------------------------------------------------------------------------

// The bytes that every base skips, and the ";" comment to the end of the line.
inline bool is_binary_blank(uint8_t c, int base) {
    if (c == '\t' || c == '\n' || c == '\r' || c == ' ') return true;
    return base == 64 && (c == 0x08 || c == 0x0C || c == '\'');
}

int base64_value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Reads the text of a binary literal of the base as it decodes, writing the bytes to out
// when it is given (room for the length a first pass answered); answers the decoded
// length, or -1 when the text does not decode.
int64_t decode_binary(const uint8_t* p, const uint8_t* end, int base, uint8_t* out = nullptr) {
    int64_t length = 0;
    uint32_t bits = 0;  // accumulated bits, newest lowest
    int held = 0;       // how many of them
    for (; p < end; ++p) {
        uint8_t c = *p;
        if (is_binary_blank(c, base)) continue;
        if (c == ';') {
            while (p < end && *p != '\n') ++p;
            if (p == end) break;
            continue;
        }
        if (base == 64 && c == '=') break;
        int value;
        int width;
        switch (base) {
            case 16: value = hex_digit(c); width = 4; break;
            case 2: value = c == '0' ? 0 : c == '1' ? 1 : -1; width = 1; break;
            default: value = base64_value(c); width = 6; break;
        }
        if (value < 0) return -1;
        bits = (bits << width) | static_cast<uint32_t>(value);
        held += width;
        if (held >= 8) {
            held -= 8;
            if (out) out[length] = static_cast<uint8_t>(bits >> held);
            ++length;
            bits &= (1u << held) - 1;
        }
    }
    // Base 16 and base 2 leave no bits over; base 64 leaves the bits of an incomplete last
    // group, which must be fewer than a whole character's six.
    if (base == 64 ? held >= 6 : held != 0) return -1;
    return length;
}

// The base before "#" (none: 16); 0 for any other number.
int binary_base(const uint8_t* start, const uint8_t* sharp) {
    if (sharp == start) return 16;
    int64_t n = sharp - start;
    if (n == 1 && *start == '2') return 2;
    if (n == 2 && start[0] == '1' && start[1] == '6') return 16;
    if (n == 2 && start[0] == '6' && start[1] == '4') return 64;
    return 0;
}

// --- Points ---------------------------------------------------------------------------------------

constexpr int MAX_POINT_NUMBERS = 3;

inline bool is_point_blank(uint8_t c) { return c == ' ' || c == '\t'; }

// Checks "x, y" or "x, y, z": answers how many numbers there were, or -1 when one of them
// is not a number; the first MAX_POINT_NUMBERS of them go to values when it is given.
int count_point_numbers(const uint8_t* p, const uint8_t* end, double* values = nullptr) {
    int count = 0;
    bool bad = false;
    while (true) {
        const uint8_t* field = p;
        while (p < end && *p != ',') ++p;
        const uint8_t* a = field;
        const uint8_t* b = p;
        while (a < b && is_point_blank(*a)) ++a;
        while (b > a && is_point_blank(b[-1])) --b;
        double value = 0;
        bool special = std::memchr(a, '#', static_cast<size_t>(b - a)) != nullptr;
        bool ok = b - a <= MAX_FLOAT_TEXT &&
                  (special ? read_special_float(a, b, &value) : read_float_text(a, b, false, &value));
        if (!ok) bad = true;
        if (values && count < MAX_POINT_NUMBERS) values[count] = value;
        ++count;
        if (p >= end) break;
        ++p;  // the comma
    }
    return bad ? -1 : count;
}

}  // namespace

// --- Integers -------------------------------------------------------------------------------------

integer_status read_decimal_integer(const uint8_t* start, const uint8_t* end, int32_t* value) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    int digits = 0;
    int64_t magnitude = 0;
    bool apostrophe = false;
    for (; p < end; ++p) {
        uint8_t c = *p;
        if (is_digit(c)) {
            ++digits;
            // Past 2147483648 only the digit count matters; stop accumulating there.
            if (magnitude <= 2147483648LL) magnitude = magnitude * 10 + (c - '0');
            apostrophe = false;
        } else if (c == '\'') {
            if (apostrophe || digits == 0) return INTEGER_BAD;
            apostrophe = true;
        } else {
            return INTEGER_BAD;
        }
    }
    if (digits == 0) return INTEGER_NO_DIGIT;
    if (digits > 10 || magnitude > (negative ? 2147483648LL : 2147483647LL)) return INTEGER_OVERFLOW;
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return INTEGER_OK;
}

void load_integer(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    if (end - start == 1 && is_digit(*start)) {
        if (load) put_value(s, cell{TYPE_INTEGER, 0, static_cast<uint32_t>(*start - '0'), 0});
        return;
    }
    int32_t value = 0;
    switch (read_decimal_integer(start, end, &value)) {
        case INTEGER_OK:
            if (load) put_value(s, cell{TYPE_INTEGER, 0, static_cast<uint32_t>(value), 0});
            return;
        case INTEGER_OVERFLOW: {
            // Too large for 32 bits: the same digits as a float!.
            s.token_type = TYPE_FLOAT;
            if (!load) return;
            std::string text = without_apostrophes(start, end);
            int failed = 0;
            double number = number_text::parse_float(text.data(), text.data() + text.size(), 0, &failed);
            if (failed) raise_error(s, start, end, TYPE_INTEGER);
            put_value(s, number_cell(TYPE_FLOAT, number));
            return;
        }
        default:
            raise_error(s, start, end, TYPE_INTEGER);
    }
}

// Hex digits followed by "h".
void load_hex_integer(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    if (end - start < 2 || (end[-1] != 'h')) raise_error(s, start, end, TYPE_INTEGER);
    const uint8_t* digits_end = end - 1;
    int64_t n = digits_end - start;
    if (!is_digit(*start) && *start != '+' && *start != '-' && n < 2) raise_error(s, start, end, TYPE_WORD);
    if (n < 2 || n > 8) raise_error(s, start, end, TYPE_INTEGER);
    uint32_t value = 0;
    for (const uint8_t* p = start; p < digits_end; ++p) {
        int digit = hex_digit(*p);
        // A sign or an apostrophe is as wrong here as any other byte.
        if (digit < 0) raise_error(s, start, end, TYPE_INTEGER);
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (load) put_value(s, cell{TYPE_INTEGER, 0, value, 0});
}

// --- Floats -----------------------------------------------------------------------------------

void load_float(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    double value;
    if (!read_float_text(start, end, false, &value)) raise_error(s, start, end, TYPE_FLOAT);
    if (load) put_value(s, number_cell(TYPE_FLOAT, value));
}

// The token ends at its "%", which belongs to it.
void load_percent(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* number_end = end;
    if (end > start && end[-1] == '%') {
        number_end = end - 1;
        s.position = end;
    } else {
        s.position = end < s.input_end && *end == '%' ? end + 1 : end;
    }
    double value;
    if (!read_float_text(start, number_end, true, &value)) raise_error(s, start, end, TYPE_FLOAT);
    if (load) put_value(s, number_cell(TYPE_PERCENT, value));
}

void load_special_float(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    double value;
    if (!read_special_float(start, end, &value)) raise_error(s, start, end, TYPE_FLOAT);
    if (load) put_value(s, number_cell(TYPE_FLOAT, value));
}

// --- Tuples, pairs, times -------------------------------------------------------------------------

void load_tuple(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    uint8_t bytes[tuple::MAX_LENGTH] = {};
    int error = SCAN_OK;
    int count = parse_tuple_digits(start, end - start, 1, bytes, &error);
    if (error != SCAN_OK || count < 3) raise_error(s, start, end, TYPE_TUPLE);
    if (!load) return;
    cell value;
    tuple::make_at(&value, count, bytes);
    put_value(s, value);
}

void load_pair(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    const uint8_t* x = start;
    while (x < end && *x != 'x' && *x != 'X') ++x;
    if (x == end || std::memchr(start, '.', static_cast<size_t>(end - start))) raise_error(s, start, end, TYPE_PAIR);
    int32_t left = 0, right = 0;
    if (read_decimal_integer(start, x, &left) != INTEGER_OK || read_decimal_integer(x + 1, end, &right) != INTEGER_OK) {
        raise_error(s, start, end, TYPE_PAIR);
    }
    if (load) put_value(s, cell{TYPE_PAIR, 0, static_cast<uint32_t>(left), static_cast<uint32_t>(right)});
}

// [+|-]h:m, h:m:s, h:m:s.fraction, or m:s.fraction.
void load_time(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    auto field_end = [end](const uint8_t* from) {
        while (from < end && (is_digit(*from) || *from == '\'')) ++from;
        return from;
    };
    auto integer_field = [](const uint8_t* a, const uint8_t* b, int32_t* value) {
        return a < b && is_digit(*a) && read_decimal_integer(a, b, value) == INTEGER_OK;
    };
    // Seconds: digits with at most one "." or "," and a digit before it.
    auto seconds_field = [](const uint8_t* a, const uint8_t* b, double* value) {
        if (a >= b || !is_digit(*a)) return false;
        std::string text;
        bool point = false;
        for (const uint8_t* q = a; q < b; ++q) {
            if (*q == '.' || *q == ',') {
                if (point) return false;
                point = true;
                text.push_back('.');
            } else if (is_digit(*q)) {
                text.push_back(static_cast<char>(*q));
            } else {
                return false;
            }
        }
        int failed = 0;
        *value = number_text::parse_float(text.data(), text.data() + text.size(), 0, &failed);
        return failed == 0;
    };

    const uint8_t* first_end = field_end(p);
    int32_t first = 0, second = 0;
    if (!integer_field(p, first_end, &first) || first_end >= end || *first_end != ':') {
        raise_error(s, start, end, TYPE_TIME);
    }
    const uint8_t* second_start = first_end + 1;
    const uint8_t* second_end = field_end(second_start);
    if (!integer_field(second_start, second_end, &second)) raise_error(s, start, end, TYPE_TIME);

    double seconds = 0;
    if (second_end == end) {
        seconds = double(first) * 3600.0 + double(second) * 60.0;
    } else if (*second_end == ':') {
        double tail;
        if (!seconds_field(second_end + 1, end, &tail)) raise_error(s, start, end, TYPE_TIME);
        seconds = double(first) * 3600.0 + double(second) * 60.0 + tail;
    } else if (*second_end == '.' || *second_end == ',') {
        // m:s.fraction: the two fields are minutes and seconds.
        double tail;
        if (!seconds_field(second_start, end, &tail)) raise_error(s, start, end, TYPE_TIME);
        seconds = double(first) * 60.0 + tail;
    } else {
        raise_error(s, start, end, TYPE_TIME);
    }
    if (load) put_value(s, number_cell(TYPE_TIME, negative ? -seconds : seconds));
}

// --- The types without a module yet -----------------------------------------------------------------

void load_date(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    date_reader reader(start, end);
    if (!reader.read()) raise_error(s, start, end, TYPE_DATE);
    if (!load) return;
    const date_fields& f = reader.fields;
    cell value{TYPE_DATE, 0, 0, 0};
    date::make_at(&value, f.year, f.month, f.day, f.time_given, f.seconds, f.zone_minutes);
    switch (f.form) {
        case date_fields::WEEK:
            date::set_isoweek(&value, f.week);
            if (f.weekday != 0) date::set_weekday(&value, f.weekday);
            break;
        case date_fields::ORDINAL: date::set_yearday(&value, f.yearday); break;
        default: break;
    }
    put_value(s, value);
}

void load_money(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.position = end;
    std::string text;
    if (!read_money(start, end, &text)) raise_error(s, start, end, TYPE_MONEY);
    if (!load) return;
    cell* out = new_cell(s);
    uint32_t new_line = out->header & FLAG_NEW_LINE;
    int error = SCAN_OK;
    // The money module's builder makes the value; it refuses more than 17 integer digits.
    parse_money_digits(text.data(), static_cast<int64_t>(text.size()), 1, out, &error);
    if (error != SCAN_OK) {
        // The builder refused the amount; the failing step's cells are dropped.
        cell::init_unset(out);
        raise_error(s, start, end, TYPE_MONEY);
    }
    out->header |= new_line;
}

// [2|16|64]#{...}: the token ends at its "}", which belongs to it.
void load_binary(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    bool closed = end < s.input_end && *end == '}';
    s.position = closed ? end + 1 : end;
    const uint8_t* sharp = start;
    while (sharp < end && *sharp != '#') ++sharp;
    if (!closed || sharp >= end || sharp[1] != '{') raise_error(s, start, end, TYPE_BINARY);
    int base = binary_base(start, sharp);
    int64_t length = base == 0 ? -1 : decode_binary(sharp + 2, end, base);
    if (length < 0) raise_error(s, start, end + 1, TYPE_BINARY);
    if (!load) return;
    // The value's new-line flag is the one of its start: line feeds inside its text (a
    // long binary written over several lines) do not count.
    s.token_new_lines -= static_cast<int32_t>(std::count(start, end, uint8_t('\n')));
    cell* out = new_cell(s);
    uint32_t new_line = out->header & FLAG_NEW_LINE;
    binary::make_at(out, length);
    // The lexer's input does not move: the second pass writes the bytes it measured.
    memory::series_buffer* bytes = memory::buffer_of(out->w2);
    decode_binary(sharp + 2, end, base, reinterpret_cast<uint8_t*>(bytes->head));
    bytes->tail = bytes->head + length;
    set_final_type(out, new_line, TYPE_BINARY);
}

// "(x, y)" or "(x, y, z)": the token ends at its ")", which belongs to it.
void load_point(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    bool closed = end < s.input_end && *end == ')';
    s.position = closed ? end + 1 : end;
    const uint8_t* p = start < end && *start == '(' ? start + 1 : start;
    double values[MAX_POINT_NUMBERS] = {};
    int count = count_point_numbers(p, end, values);
    int commas = 0;
    for (const uint8_t* q = p; q < end; ++q) commas += *q == ',';
    type_id type = commas >= 2 ? TYPE_POINT3D : TYPE_POINT2D;
    if (!closed || count < 2 || count > MAX_POINT_NUMBERS) raise_error(s, start, end, type);
    s.token_type = type;
    if (load) {
        s.token_new_lines = s.saved_token_new_lines;
        // Each coordinate is the nearest single float of the number read.
        cell made{};
        if (type == TYPE_POINT3D) {
            point::set_point3d(&made, float_::to_single(values[0]), float_::to_single(values[1]),
                               float_::to_single(values[2]));
        } else {
            point::set_point2d(&made, float_::to_single(values[0]), float_::to_single(values[1]));
        }
        put_value(s, made);
    }
}

}  // namespace zor::lexer
