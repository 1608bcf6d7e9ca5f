// The number scanners of the conversions. Characters are read one unit at a time in the
// string's own width; every number character is ASCII, so a wider unit above 0x7F is
// simply a character that does not belong.
#include "runtime/eval/lexer/number-scanners.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/errors/error-catalogue.h"
#include "runtime/text/number-text.h"
#include "runtime/errors/raise.h"

namespace zor::lexer {

namespace {

// The character at position i of a text of the unit width.
inline uint32_t unit_at(const void* data, int unit, int64_t i) {
    switch (unit) {
        case 1: return static_cast<const uint8_t*>(data)[i];
        case 2: {
            uint16_t c;
            std::memcpy(&c, static_cast<const uint8_t*>(data) + i * 2, 2);
            return c;
        }
        default: {
            uint32_t c;
            std::memcpy(&c, static_cast<const uint8_t*>(data) + i * 4, 4);
            return c;
        }
    }
}

bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }

// Copies up to `capacity` characters as ASCII bytes; false when one is not ASCII.
bool copy_ascii(const void* data, int64_t length, int unit, char* out) {
    for (int64_t i = 0; i < length; ++i) {
        uint32_t c = unit_at(data, unit, i);
        if (c == 0 || c > 0x7F) return false;
        out[i] = static_cast<char>(c);
    }
    return true;
}

money_builder money_builder_hook = nullptr;

// Longest money text: sign, code, "$", 18 integer digits with their separators, point
// and decimals; anything near this length is refused by the builder anyway, and longer
// texts are not money.
constexpr int64_t MAX_MONEY_TEXT = 128;

}  // namespace

int32_t parse_integer_digits(const void* data, int64_t length, int unit, int* error) {
    int64_t i = 0;
    bool negative = false;
    if (length > 0) {
        uint32_t first = unit_at(data, unit, 0);
        if (first == '+' || first == '-') {
            negative = first == '-';
            i = 1;
        }
    }
    // The magnitude accumulates as a negative number, whose range holds 2147483648.
    int32_t value = 0;
    bool any_digit = false;
    for (; i < length; ++i) {
        uint32_t c = unit_at(data, unit, i);
        if (c == '\'') continue;
        if (!is_digit(c)) {
            *error = SCAN_BAD_CHARACTER;
            return 0;
        }
        any_digit = true;
        int32_t digit = static_cast<int32_t>(c - '0');
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, digit, &value)) {
            *error = SCAN_OVERFLOW;
            return 0;
        }
    }
    if (!any_digit) {
        *error = SCAN_BAD_CHARACTER;
        return 0;
    }
    if (!negative) {
        if (value == std::numeric_limits<int32_t>::min()) {
            *error = SCAN_OVERFLOW;
            return 0;
        }
        value = -value;
    }
    *error = SCAN_OK;
    return value;
}

namespace {

// The float automaton: states by what was read last, columns by character class.
enum float_state : uint8_t { START, SIGN, INTEGER, APOSTROPHE_INTEGER, POINT_ONLY, POINT, FRACTION,
                             APOSTROPHE_FRACTION, EXPONENT_LETTER, EXPONENT_SIGN, EXPONENT, FAIL };
enum float_column : uint8_t { DIGIT, SIGN_CHAR, POINT_CHAR, E_CHAR, APOSTROPHE_CHAR, OTHER };

constexpr float_state FLOAT_TRANSITIONS[FAIL + 1][6] = {
    //                  digit     sign           point       e                apostrophe           other
    /* START */        {INTEGER,  SIGN,          POINT_ONLY, FAIL,            FAIL,                FAIL},
    /* SIGN */         {INTEGER,  FAIL,          POINT_ONLY, FAIL,            FAIL,                FAIL},
    /* INTEGER */      {INTEGER,  FAIL,          POINT,      EXPONENT_LETTER, APOSTROPHE_INTEGER,  FAIL},
    /* APOS_INTEGER */ {INTEGER,  FAIL,          FAIL,       FAIL,            FAIL,                FAIL},
    /* POINT_ONLY */   {FRACTION, FAIL,          FAIL,       FAIL,            FAIL,                FAIL},
    /* POINT */        {FRACTION, FAIL,          FAIL,       EXPONENT_LETTER, FAIL,                FAIL},
    /* FRACTION */     {FRACTION, FAIL,          FAIL,       EXPONENT_LETTER, APOSTROPHE_FRACTION, FAIL},
    /* APOS_FRACTION */{FRACTION, FAIL,          FAIL,       FAIL,            FAIL,                FAIL},
    /* E */            {EXPONENT, EXPONENT_SIGN, FAIL,       FAIL,            FAIL,                FAIL},
    /* E_SIGN */       {EXPONENT, FAIL,          FAIL,       FAIL,            FAIL,                FAIL},
    /* EXPONENT */     {EXPONENT, FAIL,          FAIL,       FAIL,            FAIL,                FAIL},
    /* FAIL */         {FAIL,     FAIL,          FAIL,       FAIL,            FAIL,                FAIL},
};

constexpr float_column column_of(uint32_t c) {
    if (c >= '0' && c <= '9') return DIGIT;
    if (c == '+' || c == '-') return SIGN_CHAR;
    if (c == '.' || c == ',') return POINT_CHAR;
    if (c == 'e' || c == 'E') return E_CHAR;
    if (c == '\'') return APOSTROPHE_CHAR;
    return OTHER;
}

constexpr bool is_final(float_state s) { return s == INTEGER || s == POINT || s == FRACTION || s == EXPONENT; }

// Runs the automaton over the characters while copying them as the converter reads them:
// "," becomes ".", apostrophes are dropped. Answers the copied length, or -1 when the
// text is not a float.
template <typename Unit> int64_t copy_float_text(const void* data, int64_t length, char* out) {
    float_state state = START;
    int64_t n = 0;
    for (int64_t i = 0; i < length; ++i) {
        Unit unit;
        std::memcpy(&unit, static_cast<const uint8_t*>(data) + i * int64_t(sizeof(Unit)), sizeof(Unit));
        uint32_t c = unit;
        float_column column = column_of(c);
        state = FLOAT_TRANSITIONS[state][column];
        if (state == FAIL) return -1;
        if (column == APOSTROPHE_CHAR) continue;
        out[n++] = column == POINT_CHAR ? '.' : static_cast<char>(c);
    }
    return is_final(state) ? n : -1;
}

}  // namespace

bool check_float_text(const char* text, int64_t length) {
    float_state state = START;
    for (int64_t i = 0; i < length && state != FAIL; ++i) {
        state = FLOAT_TRANSITIONS[state][column_of(static_cast<uint8_t>(text[i]))];
    }
    return is_final(state);
}

double parse_float_digits(const void* data, int64_t length, int unit, int* error) {
    constexpr double NOT_A_FLOAT = std::numeric_limits<double>::quiet_NaN();
    char text[MAX_FLOAT_TEXT];
    int64_t n = -1;
    if (length <= MAX_FLOAT_TEXT) {
        switch (unit) {
            case 1: n = copy_float_text<uint8_t>(data, length, text); break;
            case 2: n = copy_float_text<uint16_t>(data, length, text); break;
            default: n = copy_float_text<uint32_t>(data, length, text); break;
        }
    }
    int failed = n < 0;
    double value = failed ? 0.0 : number_text::parse_float(text, text + n, 0, &failed);
    if (failed) {
        *error = SCAN_BAD_CHARACTER;
        return NOT_A_FLOAT;
    }
    *error = SCAN_OK;
    return value;
}

void set_money_builder(money_builder builder) { money_builder_hook = builder; }
money_builder installed_money_builder() { return money_builder_hook; }

void parse_money_digits(const void* data, int64_t length, int unit, cell* destination, int* error) {
    if (!money_builder_hook) raise::throw_error(err::internal_not_done);
    *error = SCAN_BAD_CHARACTER;
    char text[MAX_MONEY_TEXT];
    if (length < 1 || length > MAX_MONEY_TEXT || !copy_ascii(data, length, unit, text)) return;

    const char* p = text;
    const char* end = text + length;
    money_text parts{false, nullptr, nullptr, nullptr, nullptr};
    if (*p == '+' || *p == '-') {
        parts.negative = *p == '-';
        ++p;
    }
    auto is_letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (p < end && is_letter(*p)) {
        // A code is three letters, then "$" and at least one digit.
        if (end - p < 5 || !is_letter(p[1]) || !is_letter(p[2]) || p[3] != '$') return;
        parts.currency = p;
        p += 3;
    }
    if (p < end && *p == '$') ++p;
    if (p >= end) return;

    parts.digits = p;
    char previous = 0;  // 0 at the start of the digits
    bool any_digit = false;
    for (; p < end; ++p) {
        char c = *p;
        if (c == '\'') {
            if (previous == 0 || previous == '\'' || parts.point) return;
        } else if (c == '.') {
            if (previous == 0 || previous == '\'' || parts.point) return;
            parts.point = p;
        } else if (c >= '0' && c <= '9') {
            any_digit = true;
        } else {
            return;
        }
        previous = c;
    }
    if (!any_digit || previous == '\'' || previous == '.') return;
    parts.end = end;
    *error = money_builder_hook(destination, parts) ? SCAN_OK : SCAN_OVERFLOW;
}

int parse_tuple_digits(const void* data, int64_t length, int unit, uint8_t bytes[12], int* error) {
    *error = SCAN_BAD_CHARACTER;
    int count = 0;
    int value = -1;  // -1 while the component has no digit
    for (int64_t i = 0; i <= length; ++i) {
        uint32_t c = i < length ? unit_at(data, unit, i) : '.';
        if (is_digit(c)) {
            value = (value < 0 ? 0 : value) * 10 + static_cast<int>(c - '0');
            if (value > 255) return 0;
        } else if (c == '.') {
            if (value < 0 || count == 12) return 0;
            bytes[count++] = static_cast<uint8_t>(value);
            value = -1;
        } else {
            return 0;
        }
    }
    *error = SCAN_OK;
    return count;
}

}  // namespace zor::lexer
