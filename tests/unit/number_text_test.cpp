// Number text: digit generation and parsing against Python's conversions, the float
// layout, the angle folding, and the number scanners of the conversions.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/lexer/number-scanners.h"
#include "runtime/text/number-text.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

#include "tests/unit/number_oracle.inc"

double from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }
uint64_t to_bits(double value) { return std::bit_cast<uint64_t>(value); }

double parse_all(const std::string& text, const char** stop = nullptr) {
    const char* end = nullptr;
    double value = number_text::parse_float(text.data(), text.data() + text.size(), &end);
    if (stop) *stop = end;
    return value;
}

std::string layout(double value, int count, bool point) {
    char buffer[number_text::FORMAT_BUFFER_SIZE];
    int n = number_text::format_float_to(buffer, value, count, point);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)));
    return buffer;
}

TEST(NumberText, ShortestDigitsMatchPythonRepr) {
    for (const shortest_case& c : SHORTEST_CASES) {
        SCOPED_TRACE(c.repr);
        double x = from_bits(c.bits);
        number_text::decimal_digits d;
        number_text::generate_digits(x, 0, d);
        EXPECT_STREQ(d.digits, c.digits);
        EXPECT_EQ(d.k, c.k);
        EXPECT_EQ(d.negative, std::signbit(x));
        // Python's text reads back to the same double, and so does our own layout.
        EXPECT_EQ(to_bits(parse_all(c.repr)), c.bits);
        EXPECT_EQ(to_bits(parse_all(layout(x, 0, true))), c.bits);
        EXPECT_EQ(to_bits(parse_all(layout(x, 0, false))), c.bits);
    }
}

TEST(NumberText, DigitCountModeMatchesPythonExponentFormat) {
    for (const counted_case& c : COUNTED_CASES) {
        SCOPED_TRACE(std::to_string(c.bits) + " with " + std::to_string(c.count) + " digits");
        number_text::decimal_digits d;
        number_text::generate_digits(from_bits(c.bits), c.count, d);
        EXPECT_STREQ(d.digits, c.digits);
        EXPECT_EQ(d.k, c.k);
    }
}

TEST(NumberText, ParsingMatchesPythonFloat) {
    for (const parse_case& c : PARSE_CASES) {
        SCOPED_TRACE(std::string(c.text).substr(0, 60));
        const char* stop = nullptr;
        std::string text = c.text;
        EXPECT_EQ(to_bits(parse_all(text, &stop)), c.bits);
        EXPECT_EQ(stop, text.data() + text.size());
    }
}

TEST(NumberText, DtoaGivesSpecialsSignAndDigits) {
    struct row {
        double value;
        bool point;
        const char* text;
        int k;
        bool negative;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const row rows[] = {
        {inf, true, "1.#INF", number_text::K_SPECIAL, false},
        {-inf, true, "-1.#INF", number_text::K_SPECIAL, true},
        {std::numeric_limits<double>::quiet_NaN(), true, "1.#NaN", number_text::K_SPECIAL, false},
        {0.0, true, "0.0", number_text::K_ZERO, false},
        {-0.0, true, "-0.0", number_text::K_ZERO, true},
        {0.0, false, "0", number_text::K_ZERO, false},
        {-0.0, false, "-0", number_text::K_ZERO, true},
        {-123.456, true, "-123456", 3, true},
        {0.001, false, "1", -2, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        int k = 0, length = 0;
        bool negative = false;
        const char* text = number_text::dtoa(r.value, 0, &k, &negative, &length, r.point);
        EXPECT_STREQ(text, r.text);
        EXPECT_EQ(k, r.k);
        EXPECT_EQ(negative, r.negative);
        EXPECT_EQ(length, static_cast<int>(std::strlen(r.text)) - (r.k < 9998 && r.negative ? 1 : 0));
    }
}

TEST(NumberText, LayoutSwitchesFormAtTheExponentThresholds) {
    struct row {
        double value;
        int count;
        bool point;
        const char* text;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const row rows[] = {
        {1e17, 0, true, "1.0e17"},             // k = 18: exponent form
        {1e16, 0, true, "10000000000000000.0"},  // k = 17: in full, trailing point and zero
        {1e-7, 0, true, "0.0000001"},           // k = -6: in full
        {1e-8, 0, true, "1.0e-8"},              // k = -7: exponent form
        {1e-8, 0, false, "1e-8"},
        {123.456, 0, true, "123.456"},
        {2.0, 0, false, "2"},
        {2.0, 0, true, "2.0"},
        {-2.5e-9, 0, true, "-2.5e-9"},
        {1.5e300, 0, true, "1.5e300"},
        {-1.2345678901234567e17, 0, true, "-1.2345678901234566e17"},
        {123456789012345678.0, 0, false, "1.2345678901234568e17"},
        {0.1, 0, true, "0.1"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 0, true, "0.0"},
        {0.0, 0, false, "0"},
        {inf, 0, true, "1.#INF"},
        {-inf, 0, true, "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), 0, true, "1.#NaN"},
        {5e-324, 0, true, "5.0e-324"},
        // The seconds of a time! use six digits and no point.
        {1.5, 6, false, "1.5"},
        {2.0, 6, false, "2"},
        {59.9999999, 6, false, "60"},
        {12.3456789, 6, false, "12.3457"},
        {1234567.0, 6, false, "1234570"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(layout(r.value, r.count, r.point), r.text);
        EXPECT_STREQ(number_text::format_float(r.value, r.count, r.point), r.text);
    }
}

TEST(NumberText, ParsingFollowsTheTextGrammar) {
    struct row {
        const char* text;
        double value;      // compared bit for bit; NaN checked by kind
        int consumed;      // bytes read
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const row rows[] = {
        {"1.#INF", inf, 6},
        {"-1.#INF", -inf, 7},
        {"+1.#inf", inf, 7},
        {"1.#NaN", nan, 6},
        {"-1.#nan", nan, 7},       // NaN is always positive
        {"+5", 5.0, 2},
        {"-0", -0.0, 2},
        {"007.50", 7.5, 6},
        {".5", 0.5, 2},
        {"5.", 5.0, 2},
        {"1e", 1.0, 1},            // an exponent needs digits
        {"1e+", 1.0, 1},
        {"2E-3", 0.002, 4},
        {"1.5e3x", 1500.0, 5},
        {"12.#INF", 12.0, 3},      // specials need exactly one integer digit
        {"1.#x", 1.0, 2},
        {"", 0.0, 0},
        {"-", 0.0, 0},
        {".", 0.0, 0},
        {"e5", 0.0, 0},
        {"1e99999999999999999999", inf, 22},
        {"-1e400", -inf, 6},
        {"1e-99999999999999999999", 0.0, 23},
        {"-1e-400", -0.0, 7},
        {"0.000000000000000000000000000000000000000000000001e48", 1.0, 53},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        const char* stop = nullptr;
        std::string text = r.text;
        double value = parse_all(text, &stop);
        if (std::isnan(r.value)) {
            EXPECT_TRUE(std::isnan(value));
            EXPECT_FALSE(std::signbit(value));
        } else {
            EXPECT_EQ(to_bits(value), to_bits(r.value));
        }
        EXPECT_EQ(stop - text.data(), r.consumed);
    }
}

TEST(NumberText, ParsingWithAnExponentAdjustmentRoundsOnce) {
    struct row {
        const char* text;
        int adjustment;
        double value;
        int error;
    };
    const row rows[] = {
        {"50", -2, 0.5, 0},
        {"12.5", -2, 0.125, 0},
        // 0.07 read directly: 7 / 100 as a double division would give 0.07000000000000001.
        {"7", -2, 0.07, 0},
        {"1.5", 0, 1.5, 0},
        {"1.5x", 0, 1.5, 1},
        {"", 0, 0.0, 1},
        {"+", 0, 0.0, 1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        int error = -5;
        std::string text = r.text;
        double value = number_text::parse_float(text.data(), text.data() + text.size(), r.adjustment, &error);
        EXPECT_EQ(to_bits(value), to_bits(r.value));
        EXPECT_EQ(error != 0, r.error != 0);
    }
}

TEST(NumberText, AnglesFoldBeforeConversion) {
    constexpr double PI = 3.141592653589793;
    struct row {
        double degrees;
        int mode;
        double folded;  // degrees after folding
    };
    const row rows[] = {
        {135, float_::ANGLE_TANGENT, -45},
        {135, float_::ANGLE_SINE, 45},
        {135, float_::ANGLE_COSINE, 135},
        {-135, float_::ANGLE_TANGENT, 45},
        {-135, float_::ANGLE_SINE, -45},
        {400, float_::ANGLE_SINE, 40},
        {-400, float_::ANGLE_COSINE, -40},
        {200, float_::ANGLE_COSINE, -160},
        {200, float_::ANGLE_SINE, -20},
        {-200, float_::ANGLE_TANGENT, -20},
        {90, float_::ANGLE_TANGENT, 90},
        {720, float_::ANGLE_SINE, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.degrees) + " mode " + std::to_string(r.mode));
        EXPECT_EQ(float_::degrees_to_radians(r.degrees, r.mode), r.folded * PI / 180.0);
    }
}

// --- Scanners ------------------------------------------------------------------------------

// The text in units of the width (each character one unit, little-endian).
std::vector<uint8_t> units_of(const std::u32string& text, int unit) {
    std::vector<uint8_t> bytes(text.size() * static_cast<size_t>(unit) + 4);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        std::memcpy(bytes.data() + i * static_cast<size_t>(unit), &c, static_cast<size_t>(unit));
    }
    return bytes;
}

TEST(NumberScanners, IntegerDigitsInEveryUnitWidth) {
    struct row {
        std::u32string text;
        int32_t value;
        int error;
    };
    const row rows[] = {
        {U"0", 0, 0},
        {U"12345", 12345, 0},
        {U"+17", 17, 0},
        {U"-17", -17, 0},
        {U"1'234", 1234, 0},
        {U"12'345'678", 12345678, 0},
        {U"'1''2'", 12, 0},  // apostrophes anywhere are skipped
        {U"2147483647", 2147483647, 0},
        {U"-2147483648", INT32_MIN, 0},
        {U"-0002147483648", INT32_MIN, 0},
        {U"2147483648", 0, lexer::SCAN_OVERFLOW},
        {U"-21474836480", 0, lexer::SCAN_OVERFLOW},
        {U"99999999999999999999", 0, lexer::SCAN_OVERFLOW},
        {U"12a", 0, lexer::SCAN_BAD_CHARACTER},
        {U"1 2", 0, lexer::SCAN_BAD_CHARACTER},
        {U"+-1", 0, lexer::SCAN_BAD_CHARACTER},
        {U"1.0", 0, lexer::SCAN_BAD_CHARACTER},
        {U"", 0, lexer::SCAN_BAD_CHARACTER},   // no digit at all is no number
        {U"-", 0, lexer::SCAN_BAD_CHARACTER},
        {U"'", 0, lexer::SCAN_BAD_CHARACTER},
        {U"1\u0661", 0, lexer::SCAN_BAD_CHARACTER},  // only ASCII digits
    };
    for (int unit : {1, 2, 4}) {
        for (const row& r : rows) {
            bool fits = true;
            for (char32_t c : r.text) fits = fits && (unit == 4 || c < (1u << (8 * unit)));
            if (!fits) continue;
            SCOPED_TRACE("unit " + std::to_string(unit) + " row " + std::to_string(&r - rows));
            std::vector<uint8_t> data = units_of(r.text, unit);
            int error = 99;
            int32_t value = lexer::parse_integer_digits(data.data(), static_cast<int64_t>(r.text.size()), unit, &error);
            EXPECT_EQ(error, r.error);
            EXPECT_EQ(value, r.value);
        }
    }
}

TEST(NumberScanners, FloatTextGrammar) {
    struct row {
        const char* text;
        bool valid;
    };
    const row rows[] = {
        {"1", true}, {"1.5", true}, {"-1.5", true}, {"+.5", true}, {".5", true}, {"5.", true},
        {"1,5", true}, {"1e5", true}, {"1.5E-3", true}, {"1.e5", true}, {"1'000.000'1", true},
        {"", false}, {".", false}, {"-", false}, {"1e", false}, {"1e+", false}, {"e5", false},
        {"1.5.2", false}, {"1,5.2", false}, {"1''0", false}, {"'1", false}, {"1'", false},
        {"1'.5", false}, {"1e5.2", false}, {"1e'5", false}, {"--1", false}, {"1.#INF", false},
        {" 1", false}, {"1x", false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(lexer::check_float_text(r.text, static_cast<int64_t>(std::strlen(r.text))), r.valid);
    }
}

TEST(NumberScanners, FloatDigitsInEveryUnitWidth) {
    struct row {
        std::u32string text;
        double value;
        bool ok;
    };
    std::u32string longest = U"1." + std::u32string(310, U'0');  // 312 characters
    const row rows[] = {
        {U"1,5", 1.5, true},
        {U"-12.25", -12.25, true},
        {U"1'000'000.5", 1000000.5, true},
        {U"0.1", 0.1, true},
        {U"4.9406564584124654e-324", 5e-324, true},
        {longest, 1.0, true},
        {longest + U"0", 0, false},  // 313 characters
        {U"1.5\u00e9", 0, false},
        {U"1.5\u4e00", 0, false},
        {U"", 0, false},
        {U"1.#INF", 0, false},
        {U"abc", 0, false},
    };
    for (int unit : {1, 2, 4}) {
        for (const row& r : rows) {
            bool fits = true;
            for (char32_t c : r.text) fits = fits && (unit == 4 || c < (1u << (8 * unit)));
            if (!fits) continue;
            SCOPED_TRACE("unit " + std::to_string(unit) + " row " + std::to_string(&r - rows));
            std::vector<uint8_t> data = units_of(r.text, unit);
            int error = 99;
            double value = lexer::parse_float_digits(data.data(), static_cast<int64_t>(r.text.size()), unit, &error);
            if (r.ok) {
                EXPECT_EQ(error, 0);
                EXPECT_EQ(to_bits(value), to_bits(r.value));
            } else {
                EXPECT_EQ(error, lexer::SCAN_BAD_CHARACTER);
                EXPECT_TRUE(std::isnan(value));
            }
        }
    }
}

// A stand-in for the money module's builder: records what the scanner handed over.
struct recorded_money {
    bool called = false;
    bool negative = false;
    std::string currency, integer_digits, fraction_digits;
};
recorded_money last_money;

bool record_money(cell* destination, const lexer::money_text& text) {
    last_money.called = true;
    last_money.negative = text.negative;
    last_money.currency = text.currency ? std::string(text.currency, 3) : "";
    const char* integer_end = text.point ? text.point : text.end;
    last_money.integer_digits.assign(text.digits, integer_end);
    last_money.fraction_digits = text.point ? std::string(text.point + 1, text.end) : "";
    *destination = cell{TYPE_MONEY, 0, 0, 0};
    // Refuse more than 18 integer digits, as the money module does.
    int digits = 0;
    for (char c : last_money.integer_digits) digits += c != '\'';
    return digits <= 18;
}

TEST(NumberScanners, MoneyTextsAreCheckedBeforeTheBuilderSeesThem) {
    testing::ensure_runtime();
    struct row {
        const char* text;
        int error;
        bool negative;
        const char* currency;
        const char* integer_digits;
        const char* fraction_digits;
    };
    const row rows[] = {
        {"$1'000.50", 0, false, "", "1'000", "50"},
        {"EUR$12", 0, false, "EUR", "12", ""},
        {"-usd$0.5", 0, true, "usd", "0", "5"},
        {"+$7", 0, false, "", "7", ""},
        {"42", 0, false, "", "42", ""},
        {"$1234567890123456789", lexer::SCAN_OVERFLOW, false, "", "1234567890123456789", ""},
        {"$'1", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$1.'5", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$1''0", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$1'", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$1.", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$.5", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$1'0.5'0", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$1.5.0", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"EUR12", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},  // a code needs its "$"
        {"EU$12", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"EUR$", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
        {"$1x", lexer::SCAN_BAD_CHARACTER, false, "", "", ""},
    };
    lexer::set_money_builder(&record_money);
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        last_money = recorded_money{};
        cell destination{TYPE_NONE, 0, 0, 0};
        int error = 99;
        lexer::parse_money_digits(r.text, static_cast<int64_t>(std::strlen(r.text)), 1, &destination, &error);
        EXPECT_EQ(error, r.error);
        EXPECT_EQ(last_money.called, r.error != lexer::SCAN_BAD_CHARACTER);
        if (r.error == lexer::SCAN_BAD_CHARACTER) continue;
        EXPECT_EQ(last_money.negative, r.negative);
        EXPECT_EQ(last_money.currency, r.currency);
        EXPECT_EQ(last_money.integer_digits, r.integer_digits);
        EXPECT_EQ(last_money.fraction_digits, r.fraction_digits);
    }
    // Without a money module there is nothing to build the value with.
    lexer::set_money_builder(nullptr);
    int error = 0;
    cell destination{};
    EXPECT_EQ(testing::raised_code([&] { lexer::parse_money_digits("$1", 2, 1, &destination, &error); }),
              error_catalogue::code_of(err::internal_not_done));
}

TEST(NumberScanners, TupleTextHasOneToTwelveBytes) {
    struct row {
        const char* text;
        std::vector<uint8_t> bytes;  // empty: not a tuple
    };
    const row rows[] = {
        {"1", {1}},
        {"1.2.3", {1, 2, 3}},
        {"255.0.0.128", {255, 0, 0, 128}},
        {"1.2.3.4.5.6.7.8.9.10.11.12", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", {}},
        {"1.256.3", {}},
        {"1..3", {}},
        {".1", {}},
        {"1.", {}},
        {"", {}},
        {"1.x", {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        uint8_t bytes[12] = {};
        int error = 99;
        int count = lexer::parse_tuple_digits(r.text, static_cast<int64_t>(std::strlen(r.text)), 1, bytes, &error);
        EXPECT_EQ(error, r.bytes.empty() ? lexer::SCAN_BAD_CHARACTER : 0);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + count), r.bytes);
    }
}

}  // namespace
}  // namespace zor
