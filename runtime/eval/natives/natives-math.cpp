// The math natives: the sign tests (negative?, positive?, sign?), zero? and NaN?, max and
// min, shift and to-hex, the trigonometric functions, the logarithms, exp and square-root,
// and the constructors as-pair, as-point2D, as-point3D and as-money.
//
// Most work in place: the first argument's cell (the result slot) becomes the result, and
// nothing else is written, so none of them holds a buffer pointer across an allocation.
// Arithmetic is IEEE double precision; point2D! and point3D! coordinates are single
// precision (payload words 1-3: x, y, z). A float becomes an integer only by truncation
// toward zero after a range check, never by a bare conversion.
//
// point2D! and point3D! values are made and computed here only once their own module has
// registered (a point that nothing can show or compare is not made); until then those
// branches raise internal/not-done. The money! branches use the money module's sign,
// currency list and conversions.
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <utility>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/text/number-text.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"

namespace zor::natives {

namespace {

constexpr double PI = 3.141592653589793;
// Below this magnitude a sine or cosine is the rounding left over from pi, not a value.
constexpr double TRIG_EPSILON = 2.220446049250313e-16;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

// --- Types not built yet --------------------------------------------------------------------

// A datatype whose module has registered its actions; a name alone is not enough.
bool type_ready(type_id type) { return type_registry::handler_of(type, ACTION_MOLD) != nullptr; }

void require_type(type_id type) {
    if (!type_ready(type)) raise::throw_error(err::internal_not_done);
}

// --- Numbers ------------------------------------------------------------------------------

bool is_number(type_id type) { return type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT; }
bool is_point(type_id type) { return type == TYPE_POINT2D || type == TYPE_POINT3D; }

// The double of an integer!, float!, percent! or time! cell.
double number_of(const cell* value) {
    return value->is(TYPE_INTEGER) ? static_cast<double>(integer::read_cell(value)) : float_::get(value);
}

// The argument at an offset as a double, the cell itself turned into a float! (a percent!
// keeps its number). Types outside integer!, float! and percent! raise script/expect-arg
// naming the argument: a caller that skipped the type tests still gets a language error.
double float_argument(int offset) {
    cell* value = stack::argument(offset);
    if (!is_number(value->type())) raise::expect_arg(value->type(), offset);
    double number = number_of(value);
    float_::init_cell(value, number);
    return number;
}

float coordinate(const cell* point, int n) {
    return std::bit_cast<float>(n == 0 ? point->w1 : n == 1 ? point->w2 : point->w3);
}

void make_point(cell* destination, type_id type, float x, float y, float z) {
    *destination = cell{type, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                        type == TYPE_POINT3D ? std::bit_cast<uint32_t>(z) : 0u};
}

int coordinate_count(type_id type) { return type == TYPE_POINT3D ? 3 : 2; }

// --- Sign tests -----------------------------------------------------------------------------

// -1, 0 or 1; a NaN and -0.0 are 0.
int sign_of(const cell* value) {
    switch (value->type()) {
        case TYPE_INTEGER:
            return integer::sign(integer::read_cell(value));
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
            double d = float_::get(value);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TYPE_MONEY:
            return money::sign_of(value);
        default:
            raise::expect_arg(value->type(), 0);
    }
}

uint32_t logic_result(bool truth) {
    logic::set_result(truth ? 1 : 0);
    stack::keep_result_slot();
    return 0;
}

bool is_zero(const cell* value) {
    switch (value->type()) {
        case TYPE_CHAR: case TYPE_INTEGER:
            return value->w2 == 0;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
            return float_::get(value) == 0.0;  // -0.0 too; a NaN never
        case TYPE_PAIR:
            return value->w2 == 0 && value->w3 == 0;
        case TYPE_TUPLE:
            return tuple::test_zero(value) != 0;
        case TYPE_MONEY:
            return money::sign_of(value) == 0;
        case TYPE_POINT2D: case TYPE_POINT3D: {
            require_type(value->type());
            for (int n = 0; n < coordinate_count(value->type()); ++n) {
                if (coordinate(value, n) != 0.0f) return false;
            }
            return true;
        }
        default:
            return false;
    }
}

// --- max and min ------------------------------------------------------------------------------

bool is_nan_number(const cell* value) {
    return (value->is(TYPE_FLOAT) || value->is(TYPE_PERCENT)) && std::isnan(float_::get(value));
}

int32_t pick_int(int32_t a, int32_t b, bool want_max) { return want_max ? std::max(a, b) : std::min(a, b); }

float pick_single(float a, float b, bool want_max) {
    if (std::isnan(a) || std::isnan(b)) return NAN;
    if (want_max) return a < b ? b : a;
    return b < a ? b : a;
}

// The point at args_base against a number or a point of its own kind, coordinate by
// coordinate in single precision.
void point_max_min(cell* point, const cell* other, bool want_max) {
    require_type(point->type());
    float result[3] = {0.0f, 0.0f, 0.0f};
    float scalar = other->is(point->type()) ? 0.0f : float_::to_single(number_of(other));
    for (int n = 0; n < coordinate_count(point->type()); ++n) {
        float theirs = other->is(point->type()) ? coordinate(other, n) : scalar;
        result[n] = pick_single(coordinate(point, n), theirs, want_max);
    }
    make_point(point, point->type(), result[0], result[1], result[2]);
}

// A float! that truncates to a 32-bit integer.
bool fits_integer(double value) { return value > -2147483649.0 && value < 2147483648.0; }

// Answers false when the pair rules do not apply and the general comparison decides.
bool pair_max_min(cell* pair, const cell* other, bool want_max) {
    int32_t x;
    int32_t y;
    if (other->is(TYPE_PAIR)) {
        x = pair::x_of(other);
        y = pair::y_of(other);
    } else if (other->is(TYPE_INTEGER)) {
        x = y = integer::read_cell(other);
    } else if (other->is(TYPE_FLOAT)) {
        double f = float_::get(other);
        if (!fits_integer(f)) {
            // Out of the integer range (or not a number): the pair goes on as a point2D!.
            require_type(TYPE_POINT2D);
            pair::to_point2d(pair);
            point_max_min(pair, other, want_max);
            return true;
        }
        x = y = float_::truncate_checked(f);
    } else {
        return false;
    }
    pair::make_at(pair, pick_int(pair::x_of(pair), x, want_max), pick_int(pair::y_of(pair), y, want_max));
    return true;
}

bool tuple_max_min(cell* tuple, const cell* other, bool want_max) {
    uint8_t mine[tuple::MAX_LENGTH];
    uint8_t theirs[tuple::MAX_LENGTH];
    int length = tuple::length_of(tuple);
    tuple::read_bytes(tuple, mine);
    if (other->is(TYPE_TUPLE)) {
        if (tuple::length_of(other) != length) return false;
        tuple::read_bytes(other, theirs);
    } else if (other->is(TYPE_INTEGER) || other->is(TYPE_FLOAT)) {
        int32_t n;
        if (other->is(TYPE_INTEGER)) {
            n = integer::read_cell(other);
        } else {
            double f = float_::get(other);
            if (!fits_integer(f)) {
                cell type = datatype::value_of(TYPE_INTEGER);
                raise::throw_error(err::script_type_limit, &type);
            }
            n = static_cast<int32_t>(f);
        }
        uint8_t clamped = static_cast<uint8_t>(std::clamp(n, 0, 255));
        for (uint8_t& b : theirs) b = clamped;
    } else {
        return false;
    }
    for (int i = 0; i < length; ++i) mine[i] = want_max ? std::max(mine[i], theirs[i]) : std::min(mine[i], theirs[i]);
    tuple::make_at(tuple, length, mine);
    return true;
}

// The larger or smaller of the two, left in first.
void max_min_answer(cell* first, cell* second, bool want_max) {
    // A NaN wins against any number.
    if (is_nan_number(first) && is_number(second->type())) return;
    if (is_nan_number(second) && is_number(first->type())) {
        *first = *second;
        return;
    }
    // The compound value goes first.
    type_id t1 = first->type();
    type_id t2 = second->type();
    bool compound_second = (is_number(t1) && (t2 == TYPE_PAIR || is_point(t2))) ||
                           ((t1 == TYPE_INTEGER || t1 == TYPE_FLOAT) && t2 == TYPE_TUPLE);
    if (compound_second) std::swap(*first, *second);
    switch (first->type()) {
        case TYPE_PAIR:
            if (pair_max_min(first, second, want_max)) return;
            break;
        case TYPE_POINT2D: case TYPE_POINT3D:
            if (is_number(second->type()) || second->is(first->type())) {
                point_max_min(first, second, want_max);
                return;
            }
            break;
        case TYPE_TUPLE:
            if (tuple_max_min(first, second, want_max)) return;
            break;
        default:
            break;
    }
    // Otherwise the comparison decides: for equal values max keeps the first, min gives
    // the second.
    bool lesser = actions::compare(first, second, COMPARE_LESSER);
    if (want_max ? lesser : !lesser) *first = *second;
}

uint32_t max_min(bool want_max) {
    cell* first = stack::argument(0);
    cell* second = stack::argument(1);
    // Both stay arguments (rooted) until the answer is known.
    max_min_answer(first, second, want_max);
    stack::keep_result_slot();
    return 0;
}

// --- Trigonometry -----------------------------------------------------------------------------

double angle_in_radians(const native_invocation& call, int mode) {
    double angle = float_argument(0);
    return call.has(0) ? angle : float_::degrees_to_radians(angle, mode);
}

uint32_t float_result(double value) {
    float_::set_result(value);
    stack::keep_result_slot();
    return 0;
}

double cut_rounding(double value) { return std::fabs(value) < TRIG_EPSILON ? 0.0 : value; }

double to_degrees(const native_invocation& call, double radians) {
    return call.has(0) ? radians : radians * 180.0 / PI;
}

}  // namespace

// --- Sign tests ------------------------------------------------------------------------------

uint32_t native_negative_q(const native_invocation&) { return logic_result(sign_of(stack::result_slot()) < 0); }
uint32_t native_positive_q(const native_invocation&) { return logic_result(sign_of(stack::result_slot()) > 0); }

uint32_t native_sign_q(const native_invocation&) {
    integer::return_value(sign_of(stack::result_slot()));
    stack::keep_result_slot();
    return 0;
}

uint32_t native_zero_q(const native_invocation&) { return logic_result(is_zero(stack::result_slot())); }

uint32_t native_NaN_q(const native_invocation&) { return logic_result(is_nan_number(stack::result_slot())); }

// --- max, min ---------------------------------------------------------------------------------

uint32_t native_max(const native_invocation&) { return max_min(true); }
uint32_t native_min(const native_invocation&) { return max_min(false); }

// --- Bits and hexadecimal text -------------------------------------------------------------

// shift data bits /left /logical: a negative count counts as 0; 32 or more shifts every
// bit out (an arithmetic right shift leaves the sign).
int32_t shift_bits(int32_t data, int32_t bits, bool left, bool logical) {
    bits = std::max(bits, 0);
    auto unsigned_data = static_cast<uint32_t>(data);
    if (left) return bits >= 32 ? 0 : static_cast<int32_t>(unsigned_data << bits);
    if (logical) return bits >= 32 ? 0 : static_cast<int32_t>(unsigned_data >> bits);
    return bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
}

uint32_t native_shift(const native_invocation& call) {
    int32_t result = shift_bits(integer::read_cell(stack::argument(0)), integer::read_cell(stack::argument(1)),
                                call.has(0), call.has(1));
    integer::return_value(result);
    stack::keep_result_slot();
    return 0;
}

// to-hex value /size length: the two's complement as eight upper-case digits, or its last
// length digits.
uint32_t native_to_hex(const native_invocation& call) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    auto value = static_cast<uint32_t>(integer::read_cell(stack::argument(0)));
    char text[9];
    for (int i = 0; i < 8; ++i) text[7 - i] = DIGITS[(value >> (4 * i)) & 0xF];
    text[8] = '\0';
    int count = 8;
    if (call.has(0)) {
        const cell* length = stack::argument(call.position(0));
        int32_t n = integer::read_cell(length);
        if (n <= 0) raise::throw_error(err::script_invalid_arg, length);
        count = std::min(n, 8);
    }
    issue::load_c_string(stack::result_slot(), text + 8 - count);
    stack::keep_result_slot();
    return 0;
}

// --- Trigonometry ---------------------------------------------------------------------------

uint32_t native_sine(const native_invocation& call) {
    return float_result(cut_rounding(std::sin(angle_in_radians(call, float_::ANGLE_SINE))));
}

uint32_t native_cosine(const native_invocation& call) {
    return float_result(cut_rounding(std::cos(angle_in_radians(call, float_::ANGLE_COSINE))));
}

// At exactly plus or minus pi / 2 the tangent is the infinity, not the huge finite value
// that tan gives for the rounded angle.
uint32_t native_tangent(const native_invocation& call) {
    double radians = angle_in_radians(call, float_::ANGLE_TANGENT);
    if (radians == PI / 2.0) return float_result(1.0 / 0.0);
    if (radians == PI / -2.0) return float_result(-1.0 / 0.0);
    return float_result(std::tan(radians));
}

uint32_t native_arcsine(const native_invocation& call) {
    return float_result(to_degrees(call, std::asin(float_argument(0))));
}
uint32_t native_arccosine(const native_invocation& call) {
    return float_result(to_degrees(call, std::acos(float_argument(0))));
}
uint32_t native_arctangent(const native_invocation& call) {
    return float_result(to_degrees(call, std::atan(float_argument(0))));
}

uint32_t native_arctangent2(const native_invocation& call) {
    double y = float_argument(0);
    double x = float_argument(1);
    return float_result(to_degrees(call, std::atan2(y, x)));
}

// --- Logarithms and powers -------------------------------------------------------------------
//
// Domain errors give the library's NaN or infinity; none raises.

uint32_t native_log_2(const native_invocation&) { return float_result(std::log(float_argument(0)) / LN_2); }
uint32_t native_log_10(const native_invocation&) { return float_result(std::log10(float_argument(0))); }
uint32_t native_log_e(const native_invocation&) { return float_result(std::log(float_argument(0))); }
uint32_t native_exp(const native_invocation&) { return float_result(std::pow(E, float_argument(0))); }
uint32_t native_square_root(const native_invocation&) { return float_result(std::sqrt(float_argument(0))); }

// --- Constructors -----------------------------------------------------------------------------

// as-pair x y: a float that is not finite is refused; others are truncated toward zero
// (one beyond the 32-bit range raises math/overflow).
uint32_t native_as_pair(const native_invocation&) {
    int32_t coordinates[2];
    for (int i = 0; i < 2; ++i) {
        const cell* value = stack::argument(i);
        if (value->is(TYPE_INTEGER)) {
            coordinates[i] = integer::read_cell(value);
            continue;
        }
        if (!value->is(TYPE_FLOAT)) raise::expect_arg(value->type(), i);
        double f = float_::get(value);
        if (!std::isfinite(f)) raise::throw_error(err::script_invalid_arg, value);
        coordinates[i] = float_::truncate_checked(f);
    }
    pair::make_at(stack::result_slot(), coordinates[0], coordinates[1]);
    stack::keep_result_slot();
    return 0;
}

namespace {

uint32_t as_point(type_id type) {
    require_type(type);
    float coordinates[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < coordinate_count(type); ++i) {
        const cell* value = stack::argument(i);
        if (!value->is(TYPE_INTEGER) && !value->is(TYPE_FLOAT)) raise::expect_arg(value->type(), i);
        coordinates[i] = float_::to_single(number_of(value));
    }
    make_point(stack::result_slot(), type, coordinates[0], coordinates[1], coordinates[2]);
    stack::keep_result_slot();
    return 0;
}

}  // namespace

uint32_t native_as_point2D(const native_invocation&) { return as_point(TYPE_POINT2D); }
uint32_t native_as_point3D(const native_invocation&) { return as_point(TYPE_POINT3D); }

// as-money currency amount: an integer! exactly, a float! cut after five fraction digits.
uint32_t native_as_money(const native_invocation&) {
    cell* currency = stack::argument(0);
    const cell* amount = stack::argument(1);
    if (currency->type() < TYPE_WORD || currency->type() > TYPE_GET_WORD) raise::expect_arg(currency->type(), 0);
    int index = money::find_currency_word(currency);
    if (index < 0) raise::throw_error(err::script_bad_denom, currency);
    cell made{TYPE_UNSET, 0, 0, 0};
    if (amount->is(TYPE_INTEGER)) {
        money::from_integer(&made, integer::read_cell(amount));
    } else if (amount->is(TYPE_FLOAT)) {
        money::from_float(&made, float_::get(amount), false);
    } else {
        raise::expect_arg(amount->type(), 1);
    }
    made.w1 = (made.w1 & ~0xFFu) | static_cast<uint32_t>(index);
    *stack::result_slot() = made;
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
