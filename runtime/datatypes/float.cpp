// float! and percent!: the float math core shared with time! and with integers mixed in,
// the binary-float text formatter, near-equality, and the conversions, rounding and
// random draws of these types.
#include "runtime/datatypes/float.h"

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer/number-scanners.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/number-text.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/value/type-classes.h"

namespace zor::float_ {

uint32_t pretty_flag = 1;

namespace {

constexpr double DOUBLE_EPSILON = 2.220446049250313e-16;  // 2^-52
// The largest double below 0.5: adding it rounds halves up without rounding 0.49999...
// up through the addition itself.
constexpr double JUST_BELOW_HALF = 0.49999999999999994;

float_converter converters[TYPE_TABLE_SIZE] = {};

[[noreturn]] void raise_not_related(cell word, type_id type) {
    cell t = datatype::value_of(type);
    raise::throw_error(err::script_not_related, &word, &t);
}

[[noreturn]] void raise_bad_to_arg(type_id target, const cell* value) {
    cell t = datatype::value_of(target);
    raise::throw_error(err::script_bad_to_arg, &t, value);
}

// Makes the cell a value of the type holding the double; flags kept.
cell* store_typed(cell* c, type_id type, double value) {
    cell::set_type(c, type);
    c->w1 = 0;
    store(c, value);
    return c;
}

// The number of an integer!, char! or float-like cell.
double number_of(const cell* c) {
    if (c->is(TYPE_INTEGER) || c->is(TYPE_CHAR)) return static_cast<double>(static_cast<int32_t>(c->w2));
    return get(c);
}

// --- Text -----------------------------------------------------------------------------

// printf's "%.Pg" in the C locale, whatever the process locale is.
int format_general(char* out, int size, double value, int precision) {
    std::to_chars_result r = std::to_chars(out, out + size - 1, value, std::chars_format::general, precision);
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}

struct text_scan {
    bool has_point = false;
    int exponent_at = -1;        // index of the "e", or -1
};

text_scan scan_text(const char* text, int length) {
    text_scan s;
    for (int i = 0; i < length; ++i) {
        if (text[i] == '.') s.has_point = true;
        if (text[i] == 'e' && s.exponent_at < 0) s.exponent_at = i;
    }
    return s;
}

// The first formatting of a kind, and the shorter one tried when the first ends in a
// binary rounding artefact ("...01" or "...99").
int format_kind(char* out, int size, double value, int kind, bool retry) {
    if (retry) {
        bool single = kind == TEXT_SINGLE || kind == TEXT_SECONDS || kind == TEXT_SINGLE_BARE;
        return format_general(out, size, value, single ? 5 : 14);
    }
    switch (kind) {
        case TEXT_SINGLE: case TEXT_SINGLE_PERCENT: case TEXT_SINGLE_BARE:
            return format_general(out, size, value, 7);
        case TEXT_PERCENT: return format_general(out, size, value, 13);
        case TEXT_SECONDS: return number_text::format_float_to(out, value, 6, false);
        default: return format_general(out, size, value, 16);
    }
}

// The two characters that decide the retry, or null when the text is too short for one.
const char* retry_candidate(const char* text, int length, const text_scan& s) {
    if (s.exponent_at >= 0) return s.exponent_at > 16 ? text + s.exponent_at - 2 : nullptr;
    if (length <= 16) return nullptr;
    const char* digits = text[0] == '-' ? text + 1 : text;
    return (digits[0] != '0' || length > 17) ? text + length - 2 : nullptr;
}

// --- Arithmetic -----------------------------------------------------------------------

// Compound right operands (pair!, point2D!, point3D!): number op compound is computed as
// compound op number by the compound's core, which is only right for the commutative ops.
cell* hand_to_compound(int op, type_id compound) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    integer::math_core core = integer::math_core_of(compound);
    if (!core) raise::invalid_type(compound);
    if (left->is(TYPE_TIME)) raise::invalid_type(compound);
    if (op == integer::OP_SUBTRACT || op == integer::OP_DIVIDE || op == integer::OP_REMAINDER) {
        raise_not_related(integer::op_word(op), compound);
    }
    std::swap(*left, *right);
    return core(op);
}

// A float against a money!, through the money module's comparator of a number with money.
int compare_with_money(double value, cell* other, int op) {
    integer::foreign_comparator comparator = integer::comparator_of(TYPE_MONEY);
    if (!comparator) return -2;
    if (std::isnan(value)) return unordered_answer(op);
    double magnitude = std::fabs(value);
    // Money holds 17 integer and 5 fraction digits. A float beyond them lies beyond every
    // amount on its side of zero; one nearer zero than the smallest amount lies between
    // zero and every non-zero amount. Neither is equal to any amount.
    if (magnitude >= 1e17) return value > 0 ? 1 : -1;
    if (magnitude > 0 && magnitude < 1e-5) {
        cell zero{TYPE_FLOAT, 0, 0, 0};
        int answer = comparator(&zero, other, COMPARE_SORT);
        if (answer != 0) return answer;
        return value > 0 ? 1 : -1;
    }
    cell number{TYPE_FLOAT, 0, 0, 0};
    store(&number, value);
    return comparator(&number, other, op);
}

// --- Actions --------------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id type) {
    // The result takes the target's type (float!, percent!, or a child's).
    double result;
    switch (spec->type()) {
        case TYPE_INTEGER: case TYPE_CHAR: case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
            result = number_of(spec);
            break;
        case TYPE_BINARY: {
            memory::series_buffer* b = memory::buffer_of(spec->w2);
            int64_t length = b->length();
            int64_t index = static_cast<int32_t>(spec->w1);
            if (index < 0) index = 0;
            if (index > length) index = length;
            int64_t n = length - index < 8 ? length - index : 8;
            uint64_t bits = 0;
            for (int64_t i = 0; i < n; ++i) bits = (bits << 8) | static_cast<uint8_t>(b->head[index + i]);
            result = std::bit_cast<double>(bits);
            break;
        }
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
            if (block::rest_length(spec) != 2) raise_bad_to_arg(type, spec);
            // Read both elements before raising: the error machinery allocates.
            cell elements[2] = {*block::get_cell(spec, spec->w1), *block::get_cell(spec, spec->w1 + 1)};
            for (const cell& e : elements) {
                if (!e.is(TYPE_INTEGER) && !e.is(TYPE_FLOAT)) raise_bad_to_arg(type, &e);
            }
            // The exponent is truncated in the double domain: no integer conversion, so any
            // float exponent is safe (pow gives 0 or an infinity far out).
            result = number_of(&elements[0]) * std::pow(10.0, std::trunc(number_of(&elements[1])));
            break;
        }
        default: {
            if (type_classes::is(spec->type(), type_classes::ANY_STRING)) {
                if (type == TYPE_PERCENT) {
                    // Percent text needs the lexer's percent token ("50%").
                    upcalls::installed(upcalls::scan_text);
                    std::string text = string::to_utf8(spec);
                    cell* loaded = stack::push_slot();
                    bool made = upcalls::scan_text(text.data(), static_cast<int64_t>(text.size()), loaded);
                    if (!made || !(loaded->is(TYPE_INTEGER) || loaded->is(TYPE_FLOAT) || loaded->is(TYPE_PERCENT))) {
                        raise_bad_to_arg(type, spec);
                    }
                    result = number_of(loaded);
                    stack::drop_slots(1);
                    break;
                }
                memory::series_buffer* b = memory::buffer_of(spec->w2);
                int64_t length = b->length();
                int64_t index = static_cast<int32_t>(spec->w1);
                if (index < 0) index = 0;
                if (index > length) index = length;
                int unit = static_cast<int>(b->unit());
                int error = 0;
                result = lexer::parse_float_digits(b->head + index * unit, length - index, unit, &error);
                if (error != lexer::SCAN_OK) raise_bad_to_arg(type, spec);
                break;
            }
            float_converter convert = converters[spec->type()];
            if (!convert) raise_bad_to_arg(type, spec);
            result = convert(spec);
            break;
        }
    }
    cell* slot = stack::result_slot();
    *slot = cell{type, 0, 0, 0};
    store(slot, result);
    return slot;
}

cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w2 ^ value->w3);
        return &unset::value;
    }
    store(value, random_up_to(get(value), secure));
    return value;
}

int append_text(cell* output, const char* text, int budget) {
    int length = static_cast<int>(std::strlen(text));
    string::append_c_string(output, text);
    return budget - length;
}

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    return append_text(output, to_text(get(value), TEXT_FLOAT), budget);
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* /*part*/, int budget,
         int /*indent*/) {
    char text[number_text::FORMAT_BUFFER_SIZE];
    number_text::format_float_to(text, get(value), 0, true);
    return append_text(output, text, budget);
}

int percent_form(cell* value, cell* output, cell* /*part*/, int budget) {
    return append_text(output, to_text(get(value) * 100.0, TEXT_PERCENT), budget);
}

int percent_mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
                 int /*indent*/) {
    return percent_form(value, output, part, budget);
}

int compare(cell* value, cell* other, int op) { return compare_number(value->type(), get(value), other, op); }

cell* absolute() {
    cell* value = stack::argument(0);
    value->w3 &= 0x7FFFFFFF;
    return value;
}

cell* negate(cell* value) {
    store(value, 0.0 - get(value));
    return value;
}

int even_q(cell* value) { return (truncate_checked(get(value)) & 1) == 0 ? 1 : 0; }
int odd_q(cell* value) { return (truncate_checked(get(value)) & 1) != 0 ? 1 : 0; }

cell* add() { return math_core(integer::OP_ADD); }
cell* subtract() { return math_core(integer::OP_SUBTRACT); }
cell* multiply() { return math_core(integer::OP_MULTIPLY); }
cell* divide() { return math_core(integer::OP_DIVIDE); }
cell* remainder() { return math_core(integer::OP_REMAINDER); }

}  // namespace

int unordered_answer(int op) {
    switch (op) {
        case COMPARE_LESSER: case COMPARE_LESSER_OR_EQUAL: return 1;
        case COMPARE_GREATER: case COMPARE_GREATER_OR_EQUAL: return -1;
        case COMPARE_SORT: case COMPARE_SORT_CASE: return 0;
        default: return 1;
    }
}

void init_type() {
    pretty_flag = 1;
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_RANDOM>(&random_value);
    list.set<ACTION_TO>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_ABSOLUTE>(&absolute);
    list.set<ACTION_ADD>(&add);
    list.set<ACTION_DIVIDE>(&divide);
    list.set<ACTION_MULTIPLY>(&multiply);
    list.set<ACTION_NEGATE>(&negate);
    list.set<ACTION_POWER>(&power);
    list.set<ACTION_REMAINDER>(&remainder);
    list.set<ACTION_ROUND>(&round);
    list.set<ACTION_SUBTRACT>(&subtract);
    list.set<ACTION_EVEN_Q>(&even_q);
    list.set<ACTION_ODD_Q>(&odd_q);
    type_registry::register_type(TYPE_FLOAT, TYPE_NONE_ID, "float!", list);
}

cell* set_result(double value) { return init_cell(stack::result_slot(), value); }

cell* init_cell(cell* c, double value) {
    *c = cell{TYPE_FLOAT, 0, 0, 0};
    store(c, value);
    return c;
}

cell* push(double value) { return init_cell(stack::push_slot(), value); }

cell* push_halves(uint32_t low, uint32_t high) {
    cell* c = stack::push_slot();
    *c = cell{TYPE_FLOAT, 0, low, high};
    return c;
}

cell* append_to_block(cell* block, uint32_t low, uint32_t high) {
    cell* c = block::alloc_tail_cell(block);
    *c = cell{TYPE_FLOAT, 0, low, high};
    return c;
}

bool is_nan(double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (bits & 0x000FFFFFFFFFFFFFull) != 0;
}

bool is_nan32(float value) { return value != value; }

bool is_not_finite(double value) { return !std::isfinite(value); }

double do_math(double left, double right, int op) {
    switch (op) {
        case integer::OP_ADD: return left + right;
        case integer::OP_SUBTRACT: return left - right;
        case integer::OP_MULTIPLY: return left * right;
        case integer::OP_DIVIDE: return left / right;
        case integer::OP_REMAINDER:
            if (std::isnan(right)) return std::numeric_limits<double>::quiet_NaN();
            if (std::isinf(right)) return std::isfinite(left) ? left : std::numeric_limits<double>::quiet_NaN();
            return std::fmod(left, right);
        default: {
            cell where = stack::current_function_word();
            cell type = datatype::value_of(TYPE_FLOAT);
            raise::throw_error(err::script_invalid_type, &where, &type);
        }
    }
}

cell* math_core(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    switch (right->type()) {
        case TYPE_TUPLE:
        case TYPE_MONEY:
        case TYPE_VECTOR: {
            integer::math_core core = integer::math_core_of(right->type());
            if (!core) raise::invalid_type(right->type());
            return core(op);
        }
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            return hand_to_compound(op, right->type());
        case TYPE_INTEGER: case TYPE_CHAR: case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
            break;
        default:
            raise::invalid_type(right->type());
    }
    type_id left_type = left->type();
    if (right->is(TYPE_CHAR) && (left_type == TYPE_TIME || left_type == TYPE_PERCENT)) raise::invalid_type(TYPE_CHAR);
    if (left_type == TYPE_INTEGER) left_type = TYPE_FLOAT;
    double result = do_math(number_of(left), number_of(right), op);
    type_id result_type = right->is(TYPE_TIME) ? TYPE_TIME : left_type;
    store_typed(left, result_type, result);
    return left;
}

cell* power() {
    cell* base = stack::argument(0);
    cell* exponent = stack::argument(1);
    if (!exponent->is(TYPE_INTEGER) && !exponent->is(TYPE_FLOAT)) {
        cell word = integer::named_word("power");
        cell type = datatype::value_of(exponent->type());
        cell argument = raise::parameter_word(1);
        raise::throw_error(err::script_expect_arg, &word, &type, &argument);
    }
    store(base, std::pow(get(base), number_of(exponent)));
    return base;
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && scale->is(TYPE_MONEY)) raise_not_related(integer::named_word("round"), TYPE_MONEY);
    const bool is_percent = value->is(TYPE_PERCENT);
    double s;
    if (!scale) {
        s = is_percent ? 0.01 : 1.0;
    } else {
        switch (scale->type()) {
            case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: break;
            default: raise::invalid_type(scale->type());
        }
        s = std::fabs(number_of(scale));
        if (is_percent) s /= 100.0;
    }
    const double x = get(value);
    double result = x;
    // A scale of 0, or one below the value's precision, leaves the number as it is.
    if (s != 0.0 && !(std::fabs(x) * 0x1p-53 > s)) {
        int e = 0;
        bool scaled = false;
        double step = s;
        double v;
        if (s >= 1.0) {
            v = x / s;
        } else {
            double m = std::frexp(s, &e);
            double xs = x;
            if (e < -1021) {
                // 1 / s would overflow: work on x / 2^e against the mantissa instead.
                xs = std::ldexp(x, -e);
                step = m;
                scaled = true;
            }
            v = xs * (1.0 / step);
        }
        const double a = std::fabs(v);
        const double midpoint = std::floor(a) + 0.5;
        auto with_sign = [v](double c) { return v < 0 ? 0.0 - c : c; };
        double c;
        if (down) c = with_sign(std::floor(a));
        else if (floor) c = std::floor(v);
        else if (ceiling) c = std::ceil(v);
        else if (a > midpoint) c = with_sign(std::ceil(a));
        else if (a < midpoint) c = with_sign(std::floor(a));
        else if (even) c = with_sign(std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : std::floor(a));
        else if (half_down) c = with_sign(std::floor(a));
        else if (half_ceiling) c = std::ceil(v);
        else c = with_sign(std::ceil(a));
        if (s >= 1.0) {
            result = c * s;
            if (std::isinf(result)) raise::throw_error(err::math_overflow);
        } else {
            result = c / (1.0 / step);
            if (scaled) result = std::ldexp(result, e);
        }
    }
    if (scale && scale->is(TYPE_INTEGER)) {
        // An integer scale asks for an integer!, which must hold the result.
        if (std::isnan(result) || result > 2147483647.0 || result < -2147483648.0) {
            cell t = datatype::value_of(TYPE_INTEGER);
            raise::throw_error(err::script_type_limit, &t);
        }
        return integer::make_in(value, static_cast<int32_t>(result));
    }
    return store_typed(value, scale ? scale->type() : value->type(), result);
}

const char* to_text(double value, int kind) {
    static char buffer[64];
    if (std::isnan(value)) return number_text::TEXT_NAN;
    if (std::isinf(value)) return value > 0 ? number_text::TEXT_INFINITY : number_text::TEXT_MINUS_INFINITY;
    if (pretty_flag && std::fabs(value) < DOUBLE_EPSILON) {
        if (kind == TEXT_SINGLE_PERCENT || kind == TEXT_PERCENT) return "0%";
        return kind == TEXT_SINGLE_BARE ? "0" : "0.0";
    }
    char text[48];
    int length = format_kind(text, sizeof text, value, kind, false);
    text_scan s = scan_text(text, length);
    if (pretty_flag) {
        const char* candidate = retry_candidate(text, length, s);
        if (candidate && ((candidate[0] == '0' && candidate[1] == '1') || (candidate[0] == '9' && candidate[1] == '9'))) {
            length = format_kind(text, sizeof text, value, kind, true);
            s = scan_text(text, length);
        }
    }
    // The mantissa, then the exponent as "e", an optional "-" and its digits without
    // leading zeros.
    char* out = buffer;
    int mantissa_end = s.exponent_at >= 0 ? s.exponent_at : length;
    std::memcpy(out, text, static_cast<size_t>(mantissa_end));
    out += mantissa_end;
    bool add_point = !s.has_point && kind != TEXT_SECONDS && kind != TEXT_SINGLE_BARE &&
                     kind != TEXT_SINGLE_PERCENT && kind != TEXT_PERCENT;
    if (add_point) {
        *out++ = '.';
        *out++ = '0';
    }
    if (s.exponent_at >= 0) {
        *out++ = 'e';
        const char* p = text + s.exponent_at + 1;
        if (*p == '-') *out++ = '-';
        if (*p == '-' || *p == '+') ++p;
        while (*p == '0' && p[1] != '\0') ++p;
        while (*p != '\0') *out++ = *p++;
    }
    if (kind == TEXT_SINGLE_PERCENT || kind == TEXT_PERCENT) *out++ = '%';
    *out = '\0';
    return buffer;
}

bool almost_equal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < DOUBLE_EPSILON) return true;
    // Doubles mapped onto one unsigned order: negatives by two's complement negation of
    // their pattern, positives with bit 63 set.
    auto ordered = [](double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        return (bits >> 63) ? (~bits + 1) : (bits | (uint64_t(1) << 63));
    };
    uint64_t ua = ordered(a);
    uint64_t ub = ordered(b);
    uint32_t high_a = static_cast<uint32_t>(ua >> 32);
    uint32_t high_b = static_cast<uint32_t>(ub >> 32);
    uint32_t high_distance = high_a > high_b ? high_a - high_b : high_b - high_a;
    if (high_distance > 1) return false;
    uint64_t distance = ua > ub ? ua - ub : ub - ua;
    return distance <= 10;
}

bool almost_equal32(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t pa = std::bit_cast<uint32_t>(a);
    uint32_t pb = std::bit_cast<uint32_t>(b);
    uint32_t magnitude_a = pa & 0x7FFFFFFF;
    uint32_t magnitude_b = pb & 0x7FFFFFFF;
    if (magnitude_a >= 0x7F7FFFFF || magnitude_b >= 0x7F7FFFFF) {
        uint32_t distance = magnitude_a > magnitude_b ? magnitude_a - magnitude_b : magnitude_b - magnitude_a;
        return (pa >> 31) == (pb >> 31) && distance < 0x100000;
    }
    if (magnitude_a == 0 && magnitude_b == 0) return true;
    // Negative patterns mapped below the positives: 0x80000000 - p.
    auto ordered = [](uint32_t p) -> int64_t {
        return (p >> 31) ? int64_t(0x80000000u) - int64_t(p) : int64_t(p);
    };
    int64_t distance = ordered(pa) - ordered(pb);
    if (distance < 0) distance = -distance;
    return distance <= 10;
}

int compare_number(type_id type, double value, cell* other, int op) {
    if ((op == COMPARE_STRICT_EQUAL || op == COMPARE_SAME || op == COMPARE_FIND) && type != other->type()) return 1;
    double o;
    switch (other->type()) {
        case TYPE_INTEGER: o = static_cast<double>(static_cast<int32_t>(other->w2)); break;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: o = get(other); break;
        case TYPE_MONEY: return compare_with_money(value, other, op);
        default:
            return -2;
    }
    switch (op) {
        case COMPARE_EQUAL: case COMPARE_NOT_EQUAL: return almost_equal(value, o) ? 0 : 1;
        case COMPARE_STRICT_EQUAL: return value == o ? 0 : 1;
        case COMPARE_SAME: return std::bit_cast<uint64_t>(value) == std::bit_cast<uint64_t>(o) ? 0 : 1;
        default:
            if (std::isnan(value) || std::isnan(o)) return unordered_answer(op);
            return (value > o) - (value < o);
    }
}

double random_up_to(double limit, bool secure) {
    if (!secure) return static_cast<double>(random::next()) / 2147483647.0 * limit;
    double r1 = static_cast<double>(random::next_secure());
    double r2 = static_cast<double>(random::next_secure());
    return (r1 / 2147483647.0 + r2) / (2147483648.0 / limit);
}

int32_t to_int_rounded(double value) { return truncate_checked(value + JUST_BELOW_HALF); }

int32_t truncate_checked(double value) {
    if (std::isnan(value) || value >= 2147483648.0 || value <= -2147483649.0) raise::throw_error(err::math_overflow);
    return static_cast<int32_t>(value);
}

void register_converter(type_id type, float_converter converter) { converters[type] = converter; }

float to_single(double value) {
    if (std::isfinite(value) && std::fabs(value) > static_cast<double>(FLT_MAX)) {
        // Halfway between the largest single and 2^128 and beyond rounds to infinity.
        constexpr double overflow_threshold = 0x1.ffffffp+127;
        float magnitude = std::fabs(value) >= overflow_threshold ? INFINITY : FLT_MAX;
        return value < 0 ? -magnitude : magnitude;
    }
    return static_cast<float>(value);
}

}  // namespace zor::float_

namespace zor::percent {

void init_type() {
    type_registry::action_list list(TYPE_FLOAT);
    // Everything but the text comes from float!; the slots float! leaves empty stay empty.
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        bool inherited = a == ACTION_MAKE || a == ACTION_RANDOM || a == ACTION_TO ||
                         (a >= ACTION_COMPARE && a <= ACTION_ODD_Q);
        if (!inherited) list.unsupported(static_cast<action>(a));
    }
    list.set<ACTION_FORM>(&float_::percent_form);
    list.set<ACTION_MOLD>(&float_::percent_mold);
    type_registry::register_type(TYPE_PERCENT, TYPE_FLOAT, "percent!", list);
}

cell* set_cell(cell* c, double value) {
    *c = cell{TYPE_PERCENT, 0, 0, 0};
    float_::store(c, value);
    return c;
}

cell* push(double value) { return set_cell(stack::push_slot(), value); }

cell* make_in_block(cell* block, uint32_t low, uint32_t high) {
    cell* c = block::alloc_tail_cell(block);
    *c = cell{TYPE_PERCENT, 0, low, high};
    return c;
}

cell* make_in_block(cell* block, double value) { return set_cell(block::alloc_tail_cell(block), value); }

}  // namespace zor::percent
