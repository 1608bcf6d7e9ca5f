// money!: packed digits, the currency list, conversions, the exact arithmetic, the text
// forms, comparison, rounding and random amounts.
#include "runtime/datatypes/money.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/random.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/system-object.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/lexer/number-scanners.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/number-text.h"
#include "runtime/value/type-classes.h"
#include "runtime/value/type-registry.h"

namespace zor::money {

int32_t shown_fraction_digits = 2;

namespace {

// ISO 4217 codes in the order that fixes the stored currency index: the list until the
// boot environment makes system/locale/currencies/list, which starts with the same words.
const char* const CURRENCIES[CURRENCY_COUNT] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN", "BHD",
    "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD", "CLP", "CNY",
    "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD",
    "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF",
    "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR", "KID", "KMF",
    "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD", "MAD", "MDL", "MGA", "MKD", "MMK",
    "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR",
    "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB", "PYG", "QAR", "ZOR", "RON", "RSD", "RUB", "RWF", "SAR",
    "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS",
    "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV",
    "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER", "ZAR", "ZMW"};

// The longest currency code the text forms write (a list entry is a word of any length).
constexpr size_t MAX_CODE_BYTES = 24;

// system/locale/currencies/list when the boot environment has made it, else null (the
// built-in list above serves).
const cell* currency_list() {
    const cell* list = system_object::path({symbols::locale, symbols::currencies, symbols::list});
    return list && list->is(TYPE_BLOCK) ? list : nullptr;
}

constexpr uint64_t TEN_10 = 10000000000ULL;
constexpr uint64_t UNITS_PER_WHOLE = 100000;  // 10^5
constexpr units MAX_UNITS = static_cast<units>(TEN_10) * TEN_10 * 100 - 1;  // 10^22 - 1

// Packed byte <-> two decimal digits, both ways by table.
struct digit_tables {
    uint8_t value_of[256];  // packed byte -> 0..99
    uint8_t packed_of[100];  // 0..99 -> packed byte
    constexpr digit_tables() : value_of(), packed_of() {
        for (int v = 0; v < 100; ++v) {
            packed_of[v] = static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
            value_of[packed_of[v]] = static_cast<uint8_t>(v);
        }
    }
};
constexpr digit_tables DIGIT_TABLES;

// An amount while it is computed: sign, currency and magnitude.
struct amount {
    bool negative;
    int currency;
    units magnitude;
};

amount amount_of(const cell* c) { return {is_negative_bit(c), currency_of(c), magnitude_of(c)}; }

[[noreturn]] void raise_type_limit(type_id type) {
    cell t = datatype::value_of(type);
    raise::throw_error(err::script_type_limit, &t);
}

[[noreturn]] void raise_bad_make_arg(const cell* value) {
    cell t = datatype::value_of(TYPE_MONEY);
    raise::throw_error(err::script_bad_make_arg, &t, value);
}

[[noreturn]] void raise_bad_to_arg(const cell* value) {
    cell t = datatype::value_of(TYPE_MONEY);
    raise::throw_error(err::script_bad_to_arg, &t, value);
}

// -1, 0, 1 of two signed amounts.
int compare_amounts(const amount& a, const amount& b) {
    int sa = a.magnitude == 0 ? 0 : a.negative ? -1 : 1;
    int sb = b.magnitude == 0 ? 0 : b.negative ? -1 : 1;
    if (sa != sb || sa == 0) return (sa > sb) - (sa < sb);
    int by_magnitude = (a.magnitude > b.magnitude) - (a.magnitude < b.magnitude);
    return sa > 0 ? by_magnitude : -by_magnitude;
}

// --- Conversions ---------------------------------------------------------------------------------

amount amount_of_integer(int32_t value) {
    int64_t v = value;
    uint64_t magnitude = static_cast<uint64_t>(v < 0 ? -v : v);
    return {v < 0, 0, static_cast<units>(magnitude) * UNITS_PER_WHOLE};
}

// The digits of a finite float as money, cut after five fraction digits. *inexact tells
// whether non-zero digits were cut. False when money cannot hold it (not finite, below
// 0.00001 but not zero, 10^17 or more).
bool amount_of_double(double x, amount* out, bool* inexact) {
    *inexact = false;
    if (!std::isfinite(x)) return false;
    double magnitude = std::fabs(x);
    if ((magnitude > 0 && magnitude < 1e-5) || magnitude >= 1e17) return false;
    // The shortest text that reads back as the same double, written without exponent.
    char text[400];
    auto result = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::fixed);
    if (result.ec != std::errc()) return false;
    units whole = 0;
    units fraction = 0;
    int fraction_digits = 0;
    bool point = false;
    for (const char* p = text; p < result.ptr; ++p) {
        if (*p == '.') {
            point = true;
            continue;
        }
        int digit = *p - '0';
        if (!point) {
            whole = whole * 10 + static_cast<units>(digit);
        } else if (fraction_digits < FRACTION_DIGITS) {
            fraction = fraction * 10 + static_cast<units>(digit);
            ++fraction_digits;
        } else if (digit != 0) {
            *inexact = true;
        }
    }
    while (fraction_digits < FRACTION_DIGITS) {
        fraction *= 10;
        ++fraction_digits;
    }
    *out = {x < 0, 0, whole * UNITS_PER_WHOLE + fraction};
    return true;
}

amount amount_of_float_cell(const cell* value, bool strict) {
    amount a;
    bool inexact;
    if (!amount_of_double(float_::get(value), &a, &inexact) || (strict && inexact)) raise_bad_make_arg(value);
    return a;
}

// The operand of arithmetic: integer!, float!, percent! (its fraction: 50% is 0.5) and
// money!; any other type raises script/invalid-type.
amount operand_of(const cell* value) {
    switch (value->type()) {
        case TYPE_MONEY: return amount_of(value);
        case TYPE_INTEGER: return amount_of_integer(static_cast<int32_t>(value->w2));
        case TYPE_FLOAT:
        case TYPE_PERCENT: return amount_of_float_cell(value, false);
        default: raise::invalid_type(value->type());
    }
}

// --- Text -------------------------------------------------------------------------------------------

// The text of the amount: "-", the code, "$", the integer digits ("'" between groups of
// three when grouped), "." and the first `shown` fraction digits, cut.
int write_text(const cell* c, char* out, int shown, bool grouped) {
    units m = magnitude_of(c);
    int n = 0;
    if (m != 0 && is_negative_bit(c)) out[n++] = '-';
    std::string_view code = currency_code(currency_of(c));
    code = code.substr(0, MAX_CODE_BYTES);
    // No currency is an empty view with no data at all, which memcpy must not be given.
    if (!code.empty()) std::memcpy(out + n, code.data(), code.size());
    n += static_cast<int>(code.size());
    out[n++] = '$';
    auto whole = static_cast<uint64_t>(m / UNITS_PER_WHOLE);  // below 10^17
    auto fraction = static_cast<uint32_t>(m % UNITS_PER_WHOLE);
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, whole).ptr;
    int count = static_cast<int>(end - digits);
    for (int i = 0; i < count; ++i) {
        out[n++] = digits[i];
        int left = count - 1 - i;
        if (grouped && left > 0 && left % 3 == 0) out[n++] = '\'';
    }
    if (shown > FRACTION_DIGITS) shown = FRACTION_DIGITS;
    if (shown >= 1) {
        out[n++] = '.';
        char fraction_text[6];
        for (int i = FRACTION_DIGITS - 1; i >= 0; --i) {
            fraction_text[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        std::memcpy(out + n, fraction_text, static_cast<size_t>(shown));
        n += shown;
    }
    return n;
}

int append_text(const cell* c, cell* output, int budget, int shown, bool grouped) {
    char text[64 + MAX_CODE_BYTES];
    int n = write_text(c, text, shown, grouped);
    string::append_bytes(output, text, n);
    return budget - n;
}

int shown_digits() {
    int32_t d = shown_fraction_digits;
    if (system_object::object()) {
        const cell* setting = system_object::path({symbols::options, symbols::money_digits});
        d = setting && setting->is(TYPE_INTEGER) ? integer::read_cell(setting) : 2;
    }
    return d < 0 ? 0 : d > FRACTION_DIGITS ? FRACTION_DIGITS : d;
}

// --- Arithmetic -----------------------------------------------------------------------------------

amount add_amounts(amount a, const amount& b) {
    if (a.negative == b.negative || a.magnitude == 0 || b.magnitude == 0) {
        if (a.magnitude == 0) a.negative = b.negative;
        a.magnitude += b.magnitude;
        if (a.magnitude > MAX_UNITS) raise_type_limit(TYPE_MONEY);
        return a;
    }
    if (a.magnitude >= b.magnitude) {
        a.magnitude -= b.magnitude;
    } else {
        a.magnitude = b.magnitude - a.magnitude;
        a.negative = b.negative;
    }
    return a;
}

amount multiply_amounts(amount a, const amount& b) {
    a.negative = a.negative != b.negative;
    if (a.magnitude == 0 || b.magnitude == 0) {
        a.magnitude = 0;
        return a;
    }
    // Both below 10^22: a product that does not fit 128 bits is far beyond the limit.
    if (b.magnitude > ~static_cast<units>(0) / a.magnitude) raise_type_limit(TYPE_MONEY);
    units product = a.magnitude * b.magnitude / UNITS_PER_WHOLE;
    // Beyond the largest amount, or a non-zero product below 0.00001.
    if (product > MAX_UNITS || product == 0) raise_type_limit(TYPE_MONEY);
    a.magnitude = product;
    return a;
}

// Quotient (truncated toward zero at five fraction digits) or remainder (the dividend's
// sign).
amount divide_amounts(amount a, const amount& b, bool remainder) {
    if (b.magnitude == 0) raise::throw_error(err::math_zero_divide);
    if (a.magnitude == 0) return a;
    if (remainder) {
        a.magnitude %= b.magnitude;
        return a;
    }
    a.negative = a.negative != b.negative;
    units quotient = a.magnitude * UNITS_PER_WHOLE / b.magnitude;  // below 10^27
    if (quotient > MAX_UNITS || quotient == 0) raise_type_limit(TYPE_MONEY);
    a.magnitude = quotient;
    return a;
}

// --- Comparison with numbers ----------------------------------------------------------------------

bool is_equality(int op) { return is_equality_code(op) || op == COMPARE_SAME; }

// The order of the money against a float, exactly: a float with digits beyond the fifth
// fraction digit lies strictly between two amounts, and one that money cannot hold lies
// beyond every amount on its side of zero (or between zero and the smallest amounts).
int order_against_double(const amount& m, double x) {
    amount a;
    bool inexact;
    if (!amount_of_double(x, &a, &inexact)) {
        if (std::fabs(x) >= 1e17) return x > 0 ? -1 : 1;
        // A tiny float: only zero's order needs it.
        amount zero{false, 0, 0};
        int c = compare_amounts(m, zero);
        if (c != 0) return c;
        return x > 0 ? -1 : 1;
    }
    int c = compare_amounts(m, a);
    if (c != 0 || !inexact) return c;
    return x > 0 ? -1 : 1;
}

// The money against an integer! or float! (the number on the right).
int compare_with_number(const cell* money_cell, const cell* number, int op) {
    if (op == COMPARE_STRICT_EQUAL || op == COMPARE_SAME || op == COMPARE_FIND) return 1;
    amount m = amount_of(money_cell);
    int order;
    if (number->is(TYPE_INTEGER)) {
        order = compare_amounts(m, amount_of_integer(static_cast<int32_t>(number->w2)));
    } else {
        double x = float_::get(number);
        if (std::isnan(x)) return float_::unordered_answer(op);
        order = order_against_double(m, x);
    }
    if (is_equality(op)) return order == 0 ? 0 : 1;
    return order;
}

// The comparator for a number on the left of a money!.
int number_against_money(cell* number, cell* money_cell, int op) {
    if (!number->is(TYPE_INTEGER) && !number->is(TYPE_FLOAT)) return -2;
    if (number->is(TYPE_FLOAT) && std::isnan(float_::get(number))) return float_::unordered_answer(op);
    int answer = compare_with_number(money_cell, number, op);
    return is_equality(op) ? answer : -answer;
}

// --- Actions ------------------------------------------------------------------------------------------

bool is_word(const cell* c) { return c->type() >= TYPE_WORD && c->type() <= TYPE_GET_WORD; }

bool same_name(const cell* word, int32_t symbol) {
    return symbol != 0 && symbol::canonical_id(static_cast<int32_t>(word->w2)) == symbol::canonical_id(symbol);
}

// [currency] amount [fraction]: one to three values.
cell* from_block(cell* result, const cell* spec) {
    int64_t count = block::rest_length(spec);
    if (count < 1 || count > 3) raise_bad_make_arg(spec);
    int64_t index = static_cast<int32_t>(spec->w1);
    if (index < 0) index = 0;
    int currency = 0;
    int64_t i = 0;
    cell element = *block::get_cell(spec, index);
    if (is_word(&element)) {
        currency = find_currency_word(&element);
        if (currency < 0) raise_bad_make_arg(stack::push_copy(&element));
        if (++i >= count) raise_bad_make_arg(spec);
        element = *block::get_cell(spec, index + i);
    }
    amount a;
    if (element.is(TYPE_INTEGER)) {
        a = amount_of_integer(static_cast<int32_t>(element.w2));
        if (++i < count) {
            element = *block::get_cell(spec, index + i);
            if (!element.is(TYPE_INTEGER)) raise_bad_make_arg(stack::push_copy(&element));
            int32_t fraction = static_cast<int32_t>(element.w2);
            if (fraction < 0 || fraction > 99999) raise_bad_make_arg(stack::push_copy(&element));
            // The fraction takes the amount's sign: [-12 50000] is -12.5.
            a.magnitude += static_cast<units>(fraction);
            if (a.magnitude > MAX_UNITS) raise_type_limit(TYPE_MONEY);
            ++i;
        }
    } else if (element.is(TYPE_FLOAT)) {
        cell* held = stack::push_copy(&element);
        a = amount_of_float_cell(held, true);
        ++i;
    } else {
        raise_bad_make_arg(stack::push_copy(&element));
    }
    if (i < count) raise_bad_make_arg(stack::push_copy(block::get_cell(spec, index + i)));
    return set_cell(result, a.negative, currency, a.magnitude);
}

cell* to(cell* /*value*/, cell* spec, type_id /*type*/) {
    cell* result = stack::result_slot();
    switch (spec->type()) {
        case TYPE_MONEY: return spec;
        case TYPE_INTEGER: return from_integer(result, static_cast<int32_t>(spec->w2));
        case TYPE_FLOAT: return from_float(result, float_::get(spec), true);
        default: break;
    }
    if (!type_classes::is(spec->type(), type_classes::ANY_STRING)) raise_bad_to_arg(spec);
    memory::series_buffer* b = memory::buffer_of(spec->w2);
    int64_t length = b->length();
    int64_t index = static_cast<int32_t>(spec->w1);
    if (index < 0) index = 0;
    if (index > length) index = length;
    int unit = static_cast<int>(b->unit());
    cell made{TYPE_UNSET, 0, 0, 0};
    int error = lexer::SCAN_OK;
    // The scanner and the builder never allocate, so the buffer stays where it is.
    lexer::parse_money_digits(b->head + index * unit, length - index, unit, &made, &error);
    if (error != lexer::SCAN_OK) raise_bad_to_arg(spec);
    *result = made;
    return result;
}

cell* make(cell* value, cell* spec, type_id type) {
    if (is_word(spec)) {
        int currency = find_currency_word(spec);
        if (currency < 0) raise_bad_make_arg(spec);
        return set_cell(stack::result_slot(), false, currency, 0);
    }
    if (spec->is(TYPE_BLOCK)) return from_block(stack::result_slot(), spec);
    return to(value, spec, type);
}

// A uniform draw of 0..limit.
units draw_up_to(units limit, bool secure) {
    if (limit == 0) return 0;
    int bits = 0;
    for (units l = limit; l != 0; l >>= 1) ++bits;
    units mask = bits >= 128 ? ~static_cast<units>(0) : (static_cast<units>(1) << bits) - 1;
    while (true) {
        units r = 0;
        for (int have = 0; have < bits; have += 31) {
            r = (r << 31) | static_cast<units>(static_cast<uint32_t>(secure ? random::next_secure() : random::next()));
        }
        r &= mask;
        if (r <= limit) return r;
    }
}

cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & SIGN_BIT));
        return &unset::value;
    }
    amount a = amount_of(value);
    return set_cell(value, a.negative, a.currency, draw_up_to(a.magnitude, secure));
}

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    return append_text(value, output, budget, shown_digits(), true);
}

int mold(cell* value, cell* output, bool /*only*/, bool all, bool /*flat*/, cell* /*part*/, int budget,
         int /*indent*/) {
    return append_text(value, output, budget, all ? FRACTION_DIGITS : shown_digits(), false);
}

// 1 code, 2 amount, 0 for anything else.
int accessor_of(const cell* element) {
    if (element->is(TYPE_INTEGER)) {
        int32_t n = static_cast<int32_t>(element->w2);
        return n == 1 || n == 2 ? n : 0;
    }
    if (is_word(element)) {
        if (same_name(element, symbols::money_code)) return 1;
        if (same_name(element, symbols::amount)) return 2;
    }
    return 0;
}

cell* get_accessor(const cell* value, int accessor) {
    if (accessor == 1) {
        std::string word_name(currency_code(currency_of(value)));
        if (word_name.empty()) return &none::value;
        cell word = integer::named_word(word_name.c_str());
        return stack::push_copy(&word);
    }
    cell* copy = stack::push_copy(value);
    copy->w1 &= ~0xFFu;
    return copy;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/, bool /*in_place*/) {
    int accessor = accessor_of(element);
    if (accessor == 0) raise::throw_error(err::script_invalid_path, path, element);
    if (value) raise::throw_error(err::script_bad_path_set, path, element);
    return get_accessor(parent, accessor);
}

cell* pick(cell* value, int index, cell* index_cell) {
    int accessor = index_cell ? accessor_of(index_cell) : (index == 1 || index == 2 ? index : 0);
    if (accessor == 0) {
        cell number{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        raise::throw_error(err::script_out_of_range, index_cell ? index_cell : &number);
    }
    return get_accessor(value, accessor);
}

int compare(cell* value, cell* other, int op) {
    if (other->is(TYPE_INTEGER) || other->is(TYPE_FLOAT)) return compare_with_number(value, other, op);
    if (!other->is(TYPE_MONEY)) return -2;
    amount a = amount_of(value);
    amount b = amount_of(other);
    bool different_currencies = a.currency != 0 && b.currency != 0 && a.currency != b.currency;
    switch (op) {
        case COMPARE_LESSER: case COMPARE_LESSER_OR_EQUAL: case COMPARE_GREATER: case COMPARE_GREATER_OR_EQUAL:
            if (different_currencies) raise::throw_error(err::script_wrong_denom, value, other);
            return compare_amounts(a, b);
        case COMPARE_SORT: case COMPARE_SORT_CASE:
            if (a.currency != b.currency) {
                if (a.currency == 0) return -1;
                if (b.currency == 0) return 1;
                int by_code = currency_code(a.currency).compare(currency_code(b.currency));
                if (by_code != 0) return by_code < 0 ? -1 : 1;
            }
            return compare_amounts(a, b);
        case COMPARE_STRICT_EQUAL: case COMPARE_SAME:
            if (a.currency != b.currency) return 1;
            return compare_amounts(a, b) == 0 ? 0 : 1;
        case COMPARE_FIND:
            if (b.currency != 0 && b.currency != a.currency) return 1;
            return compare_amounts(a, b) == 0 ? 0 : 1;
        default:
            if (different_currencies) return 1;
            return compare_amounts(a, b) == 0 ? 0 : 1;
    }
}

cell* absolute() {
    cell* value = stack::argument(0);
    value->header &= ~SIGN_BIT;
    return value;
}

cell* negate(cell* value) {
    if (magnitude_of(value) != 0) value->header ^= SIGN_BIT;
    return value;
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    amount a = amount_of(value);
    if (a.magnitude == 0) return value;
    units s = UNITS_PER_WHOLE;
    if (scale) {
        switch (scale->type()) {
            case TYPE_MONEY: s = magnitude_of(scale); break;
            case TYPE_INTEGER: s = amount_of_integer(static_cast<int32_t>(scale->w2)).magnitude; break;
            case TYPE_FLOAT: s = amount_of_float_cell(scale, true).magnitude; break;
            default: {
                const cell name = integer::named_word("round");
                cell* word = stack::push_copy(&name);
                cell t = datatype::value_of(scale->type());
                raise::throw_error(err::script_not_related, word, &t);
            }
        }
    }
    if (s == 0) return value;
    units m = a.magnitude;
    units r = m % s;
    // Already a multiple of the scale: every mode leaves it.
    if (r == 0) return value;
    units lower = m - r;
    units upper = m + (s - r);
    bool tie = r == s - r;
    bool nearest_up = r >= s - r;  // ties away from zero
    // The ceiling of the signed value is the upper magnitude for a positive amount.
    bool ceiling_up = !a.negative;
    bool take_up;
    if (down) take_up = false;
    else if (floor) take_up = a.negative;
    else if (ceiling) take_up = ceiling_up;
    else if (even && tie) take_up = (upper / s) % 2 == 0;
    else if (half_down && tie) take_up = false;
    else if (half_ceiling && tie) take_up = ceiling_up;
    else take_up = nearest_up;
    units result = take_up ? upper : lower;
    if (result > MAX_UNITS) raise_type_limit(TYPE_MONEY);
    return set_cell(value, a.negative, a.currency, result);
}

int units_digit_parity(cell* value) { return static_cast<int>((magnitude_of(value) / UNITS_PER_WHOLE) % 2); }
int even_q(cell* value) { return units_digit_parity(value) == 0 ? 1 : 0; }
int odd_q(cell* value) { return units_digit_parity(value); }

cell* add() { return do_math(integer::OP_ADD); }
cell* subtract() { return do_math(integer::OP_SUBTRACT); }
cell* multiply() { return do_math(integer::OP_MULTIPLY); }
cell* divide() { return do_math(integer::OP_DIVIDE); }
cell* remainder() { return do_math(integer::OP_REMAINDER); }

// The lexer's money builder: sign, optional code, digits with separators, optional point.
bool build_from_text(cell* destination, const lexer::money_text& text) {
    int currency = 0;
    if (text.currency) {
        currency = find_currency(text.currency, 3);
        if (currency < 0) return false;
    }
    const char* integer_end = text.point ? text.point : text.end;
    units whole = 0;
    int digits = 0;
    for (const char* p = text.digits; p < integer_end; ++p) {
        if (*p == '\'') continue;
        if (whole == 0 && *p == '0') continue;  // leading zeros take no place
        whole = whole * 10 + static_cast<units>(*p - '0');
        if (++digits > INTEGER_DIGITS) return false;
    }
    units fraction = 0;
    int fraction_digits = 0;
    if (text.point) {
        for (const char* p = text.point + 1; p < text.end && fraction_digits < FRACTION_DIGITS; ++p) {
            fraction = fraction * 10 + static_cast<units>(*p - '0');
            ++fraction_digits;
        }
    }
    for (; fraction_digits < FRACTION_DIGITS; ++fraction_digits) fraction *= 10;
    set_cell(destination, text.negative, currency, whole * UNITS_PER_WHOLE + fraction);
    return true;
}

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_RANDOM>(&random_value);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_ABSOLUTE>(&absolute);
    list.set<ACTION_ADD>(&add);
    list.set<ACTION_DIVIDE>(&divide);
    list.set<ACTION_MULTIPLY>(&multiply);
    list.set<ACTION_NEGATE>(&negate);
    list.set<ACTION_REMAINDER>(&remainder);
    list.set<ACTION_ROUND>(&round);
    list.set<ACTION_SUBTRACT>(&subtract);
    list.set<ACTION_EVEN_Q>(&even_q);
    list.set<ACTION_ODD_Q>(&odd_q);
    list.set<ACTION_PICK>(&pick);
    type_registry::register_type(TYPE_MONEY, TYPE_NONE_ID, "money!", list);
    integer::register_math_core(TYPE_MONEY, &do_math);
    integer::register_comparator(TYPE_MONEY, &number_against_money);
    integer::register_converter(TYPE_MONEY, [](const cell* value) { return to_integer(value); });
    float_::register_converter(TYPE_MONEY, [](const cell* value) { return to_float(value); });
    lexer::set_money_builder(&build_from_text);
}

std::string_view currency_code(int index) {
    if (const cell* list = currency_list()) {
        if (index < 1 || index > MAX_CURRENCIES || index > block::rest_length(list)) return {};
        const cell* entry = block::get_cell(list, series::index_of(list) + index - 1);
        if (!word::is_any_word_type(entry->type())) return {};
        return symbol::name_of(static_cast<int32_t>(entry->w2));
    }
    return index >= 1 && index <= CURRENCY_COUNT ? std::string_view(CURRENCIES[index - 1]) : std::string_view();
}

int find_currency(const char* code, int length) {
    auto same_code = [&](std::string_view name) {
        if (name.size() != static_cast<size_t>(length)) return false;
        for (int i = 0; i < length; ++i) {
            char a = code[i];
            char b = name[static_cast<size_t>(i)];
            if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
            if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
            if (a != b) return false;
        }
        return true;
    };
    if (const cell* list = currency_list()) {
        const int64_t count = std::min<int64_t>(block::rest_length(list), MAX_CURRENCIES);
        for (int64_t i = 0; i < count; ++i) {
            const cell* entry = block::get_cell(list, series::index_of(list) + i);
            if (word::is_any_word_type(entry->type()) && same_code(symbol::name_of(static_cast<int32_t>(entry->w2))))
                return static_cast<int>(i + 1);
        }
        return -1;
    }
    if (length != 3) return -1;
    for (int i = 0; i < CURRENCY_COUNT; ++i) {
        if (same_code(CURRENCIES[i])) return i + 1;
    }
    return -1;
}

int find_currency_word(const cell* word) {
    const int32_t canonical = symbol::canonical_id(static_cast<int32_t>(word->w2));
    if (const cell* list = currency_list()) {
        const int64_t count = std::min<int64_t>(block::rest_length(list), MAX_CURRENCIES);
        for (int64_t i = 0; i < count; ++i) {
            const cell* entry = block::get_cell(list, series::index_of(list) + i);
            if (word::is_any_word_type(entry->type()) &&
                symbol::canonical_id(static_cast<int32_t>(entry->w2)) == canonical)
                return static_cast<int>(i + 1);
        }
        return -1;
    }
    std::string_view name = symbol::name_of(canonical);
    return find_currency(name.data(), static_cast<int>(name.size()));
}

units magnitude_of(const cell* c) {
    uint8_t bytes[16];
    std::memcpy(bytes, c, 16);
    // Digits 1-12 are bytes 5-10, digits 13-22 bytes 11-15: two digits a byte.
    uint64_t high = 0;
    uint64_t low = 0;
    for (int i = 5; i <= 10; ++i) high = high * 100 + DIGIT_TABLES.value_of[bytes[i]];
    for (int i = 11; i <= 15; ++i) low = low * 100 + DIGIT_TABLES.value_of[bytes[i]];
    return static_cast<units>(high) * TEN_10 + low;
}

int sign_of(const cell* c) {
    if (magnitude_of(c) == 0) return 0;
    return is_negative_bit(c) ? -1 : 1;
}

cell* set_cell(cell* c, bool negative, int currency, units magnitude) {
    uint64_t high, low;
    if ((magnitude >> 64) == 0) {
        auto m = static_cast<uint64_t>(magnitude);
        high = m / TEN_10;
        low = m % TEN_10;
    } else {
        high = static_cast<uint64_t>(magnitude / TEN_10);
        low = static_cast<uint64_t>(magnitude % TEN_10);
    }
    uint8_t bytes[16] = {};
    for (int i = 15; i >= 11; --i) {
        bytes[i] = DIGIT_TABLES.packed_of[low % 100];
        low /= 100;
    }
    for (int i = 10; i >= 5; --i) {
        bytes[i] = DIGIT_TABLES.packed_of[high % 100];
        high /= 100;
    }
    bytes[4] = static_cast<uint8_t>(currency);
    uint32_t header = (c->header & ~(HEADER_TYPE_MASK | SIGN_BIT)) | TYPE_MONEY;
    if (negative && magnitude != 0) header |= SIGN_BIT;
    std::memcpy(&c->w1, bytes + 4, 12);
    c->header = header;
    return c;
}

cell* from_integer(cell* c, int32_t value) {
    amount a = amount_of_integer(value);
    return set_cell(c, a.negative, 0, a.magnitude);
}

cell* from_float(cell* c, double value, bool strict) {
    amount a;
    bool inexact;
    if (!amount_of_double(value, &a, &inexact) || (strict && inexact)) {
        cell number;
        float_::init_cell(&number, value);
        raise_bad_make_arg(stack::push_copy(&number));
    }
    return set_cell(c, a.negative, 0, a.magnitude);
}

int32_t to_integer(const cell* c) {
    units whole = magnitude_of(c) / UNITS_PER_WHOLE;
    bool negative = is_negative_bit(c);
    if (whole > (negative ? units(2147483648u) : units(2147483647u))) raise_type_limit(TYPE_INTEGER);
    int64_t v = static_cast<int64_t>(whole);
    return static_cast<int32_t>(negative ? -v : v);
}

double to_float(const cell* c) {
    units m = magnitude_of(c);
    if (m == 0) return 0.0;
    char text[48];
    auto whole = static_cast<uint64_t>(m / UNITS_PER_WHOLE);
    auto fraction = static_cast<uint32_t>(m % UNITS_PER_WHOLE);
    char* end = std::to_chars(text, text + 24, whole).ptr;
    *end++ = '.';
    for (int i = FRACTION_DIGITS - 1; i >= 0; --i) {
        end[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    end += FRACTION_DIGITS;
    int failed = 0;
    double value = number_text::parse_float(text, end, 0, &failed);
    if (failed) {
        cell t = datatype::value_of(TYPE_FLOAT);
        raise::throw_error(err::script_bad_make_arg, &t, c);
    }
    return is_negative_bit(c) ? -value : value;
}

cell* do_math(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    bool left_money = left->is(TYPE_MONEY);
    bool right_money = right->is(TYPE_MONEY);
    if (op == integer::OP_MULTIPLY && left_money && right_money) raise::invalid_type(TYPE_MONEY);
    if ((op == integer::OP_DIVIDE || op == integer::OP_REMAINDER) && right_money && !left_money) {
        raise::invalid_type(left->type());
    }
    if (op < integer::OP_ADD || op > integer::OP_REMAINDER) raise::invalid_type(TYPE_MONEY);
    amount a = operand_of(left);
    amount b = operand_of(right);
    if (a.currency != 0 && b.currency != 0 && a.currency != b.currency) {
        raise::throw_error(err::script_wrong_denom, left, right);
    }
    int currency = b.currency != 0 ? b.currency : a.currency;
    amount result;
    switch (op) {
        case integer::OP_ADD: result = add_amounts(a, b); break;
        case integer::OP_SUBTRACT:
            b.negative = !b.negative;
            result = add_amounts(a, b);
            break;
        case integer::OP_MULTIPLY: result = multiply_amounts(a, b); break;
        case integer::OP_DIVIDE: result = divide_amounts(a, b, false); break;
        default: result = divide_amounts(a, b, true); break;
    }
    set_cell(left, result.negative, currency, result.magnitude);
    // money / money is a plain ratio.
    if (op == integer::OP_DIVIDE && left_money && right_money) float_::init_cell(left, to_float(left));
    return left;
}

}  // namespace zor::money
