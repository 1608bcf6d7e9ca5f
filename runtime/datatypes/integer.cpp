// integer!: the 32-bit integer, its math core and the hand-off of mixed arithmetic to the
// cores of other types. Every operation is overflow-checked with the compiler builtins;
// results that do not fit become float! values instead of wrapping.
#include "runtime/datatypes/integer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "platform/fatal.h"
#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/lexer/number-scanners.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/type-classes.h"

namespace zor::integer {

namespace {

constexpr int32_t INT32_LOWEST = std::numeric_limits<int32_t>::min();
constexpr int32_t INT32_HIGHEST = std::numeric_limits<int32_t>::max();

math_core math_cores[TYPE_TABLE_SIZE] = {};
integer_converter converters[TYPE_TABLE_SIZE] = {};
foreign_comparator comparators[TYPE_TABLE_SIZE] = {};

const char* const op_names[] = {"add", "subtract", "multiply", "divide", "remainder", "or~", "and~", "xor~"};

[[noreturn]] void raise_not_related(int op, type_id type) {
    cell word = op_word(op);
    cell t = datatype::value_of(type);
    raise::throw_error(err::script_not_related, &word, &t);
}

[[noreturn]] void raise_not_related_named(const char* action_name, type_id type) {
    cell word = named_word(action_name);
    cell t = datatype::value_of(type);
    raise::throw_error(err::script_not_related, &word, &t);
}

[[noreturn]] void raise_bad_to_arg(const cell* spec) {
    cell t = datatype::value_of(TYPE_INTEGER);
    raise::throw_error(err::script_bad_to_arg, &t, spec);
}

[[noreturn]] void raise_type_limit() {
    cell t = datatype::value_of(TYPE_INTEGER);
    raise::throw_error(err::script_type_limit, &t);
}

// Stores a float! result into the result cell: type float!, flags kept.
void store_float(cell* result, double value) {
    cell::set_type(result, TYPE_FLOAT);
    result->w1 = 0;
    float_::store(result, value);
}

// The core registered for the right operand's type, or script/invalid-type.
math_core required_core(const cell* right) {
    math_core core = math_cores[right->type()];
    if (!core) raise::invalid_type(right->type());
    return core;
}

// The characters of an any-string from its (clamped) index: data, count and unit width.
struct text_view {
    const std::byte* data;
    int64_t length;
    int unit;
};
text_view rest_of(const cell* series) {
    memory::series_buffer* b = memory::buffer_of(series->w2);
    int64_t length = b->length();
    int64_t index = static_cast<int32_t>(series->w1);
    if (index < 0) index = 0;
    if (index > length) index = length;
    int unit = static_cast<int>(b->unit());
    return {b->head + index * unit, length - index, unit};
}

// A float! or percent! (truncated) or time! (rounded half up) to integer!, range-checked.
int32_t checked_from_double(double value) {
    if (std::isnan(value) || value > 2147483647.0 || value < -2147483648.0) raise_type_limit();
    return static_cast<int32_t>(value);
}

// An issue's name as up to eight hexadecimal digits, accumulated in 32 bits.
int32_t issue_to_integer(const cell* issue) {
    std::string_view name = symbol::name_of(static_cast<int32_t>(issue->w2));
    if (name.size() > 8) raise::throw_error(err::script_invalid_data, issue);
    uint32_t value = 0;
    for (char c : name) {
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
        else raise::throw_error(err::script_invalid_data, issue);
        value = (value << 4) | digit;
    }
    return static_cast<int32_t>(value);
}

// The first min(length, 4) bytes from the index, big-endian.
int32_t binary_to_integer(const cell* binary) {
    text_view bytes = rest_of(binary);
    int64_t n = bytes.length < 4 ? bytes.length : 4;
    uint32_t value = 0;
    for (int64_t i = 0; i < n; ++i) value = (value << 8) | static_cast<uint8_t>(bytes.data[i]);
    return static_cast<int32_t>(value);
}

// --- Actions ---------------------------------------------------------------------------

cell* to(cell* /*value*/, cell* spec, type_id /*type*/) {
    int32_t result;
    switch (spec->type()) {
        case TYPE_INTEGER: return spec;
        case TYPE_CHAR: result = static_cast<int32_t>(spec->w2); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: result = checked_from_double(float_::get(spec)); break;
        case TYPE_TIME: result = checked_from_double(float_::get(spec) + 0.5); break;
        case TYPE_BINARY: result = binary_to_integer(spec); break;
        case TYPE_ISSUE: result = issue_to_integer(spec); break;
        default: {
            if (type_classes::is(spec->type(), type_classes::ANY_STRING)) {
                text_view text = rest_of(spec);
                int error = 0;
                result = lexer::parse_integer_digits(text.data, text.length, text.unit, &error);
                if (error != lexer::SCAN_OK) raise_bad_to_arg(spec);
                break;
            }
            integer_converter convert = converters[spec->type()];
            if (!convert) raise_bad_to_arg(spec);
            result = convert(spec);
            break;
        }
    }
    return return_value(result);
}

cell* make(cell* value, cell* spec, type_id type) {
    if (spec->is(TYPE_LOGIC)) return return_value(spec->w1 == 1 ? 1 : 0);
    return to(value, spec, type);
}

cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w2);
        return &unset::value;
    }
    value->w2 = static_cast<uint32_t>(random::pick_int(read_cell(value), secure));
    return value;
}

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    const char* text = to_decimal_text(read_cell(value));
    int length = static_cast<int>(std::strlen(text));
    string::append_c_string(output, text);
    return budget - length;
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return form(value, output, part, budget);
}

int compare(cell* value, cell* other, int op) {
    if ((op == COMPARE_STRICT_EQUAL || op == COMPARE_FIND) && !other->is(TYPE_INTEGER)) return 1;
    switch (other->type()) {
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            int32_t a = read_cell(value);
            int32_t b = read_cell(other);
            return (a > b) - (a < b);
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            // Widened exactly: every 32-bit integer is a double.
            return float_::compare_number(TYPE_INTEGER, static_cast<double>(read_cell(value)), other, op);
        default: {
            foreign_comparator comparator = comparators[other->type()];
            return comparator ? comparator(value, other, op) : -2;
        }
    }
}

cell* absolute() {
    cell* value = stack::argument(0);
    value->w2 = static_cast<uint32_t>(absolute_checked(read_cell(value)));
    return value;
}

cell* negate(cell* value) {
    int32_t v = read_cell(value);
    if (v == INT32_LOWEST) raise::throw_error(err::math_overflow);
    value->w2 = static_cast<uint32_t>(-v);
    return value;
}

cell* power() {
    cell* base = stack::argument(0);
    cell* exponent = stack::argument(1);
    if (!exponent->is(TYPE_INTEGER) && !exponent->is(TYPE_FLOAT)) {
        cell word = named_word("power");
        cell type = datatype::value_of(exponent->type());
        cell argument = raise::parameter_word(1);
        raise::throw_error(err::script_expect_arg, &word, &type, &argument);
    }
    auto as_float = [&] {
        float_::init_cell(base, static_cast<double>(read_cell(base)));
        return float_::power();
    };
    if (exponent->is(TYPE_FLOAT) || read_cell(exponent) < 0) return as_float();
    // Exponentiation by squaring; any overflow hands the whole computation to the float
    // path, which is exact up to 2^53 and correctly rounded from there.
    int32_t b = read_cell(base);
    uint32_t e = static_cast<uint32_t>(read_cell(exponent));
    int32_t result = 1;
    while (e != 0) {
        if ((e & 1) && __builtin_mul_overflow(result, b, &result)) return as_float();
        e >>= 1;
        if (e != 0 && __builtin_mul_overflow(b, b, &b)) return as_float();
    }
    base->w2 = static_cast<uint32_t>(result);
    return base;
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && scale->is(TYPE_MONEY)) raise_not_related_named("round", TYPE_MONEY);
    int32_t v = read_cell(value);
    if (v == INT32_LOWEST) return value;
    if (scale && !scale->is(TYPE_INTEGER)) {
        switch (scale->type()) {
            case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
                float_::init_cell(value, static_cast<double>(v));
                return float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
            default:
                raise::invalid_type(scale->type());
        }
    }
    int64_t s = scale ? absolute_checked(read_cell(scale)) : 1;
    if (s == 0) return value;
    bool negative = v < 0;
    int64_t magnitude = negative ? -int64_t(v) : int64_t(v);
    int64_t r = magnitude % s;
    if (r == 0) return value;
    int64_t q = magnitude / s;
    int64_t toward_zero = magnitude - r;
    int64_t away = magnitude + (s - r);
    int64_t chosen;
    if (down) chosen = toward_zero;
    else if (floor) chosen = negative ? away : toward_zero;
    else if (ceiling) chosen = negative ? toward_zero : away;
    else if (r < s - r) chosen = toward_zero;
    else if (r > s - r) chosen = away;
    else if (even) chosen = (q & 1) ? away : toward_zero;
    else if (half_down) chosen = toward_zero;
    else if (half_ceiling) chosen = negative ? toward_zero : away;
    else chosen = away;
    int64_t result = negative ? -chosen : chosen;
    // Only a result that is actually taken must fit: a multiple away from zero can leave
    // the 32-bit range, one toward zero never does.
    if (result > INT32_HIGHEST || result < INT32_LOWEST) raise::throw_error(err::math_overflow);
    value->w2 = static_cast<uint32_t>(static_cast<int32_t>(result));
    return value;
}

int even_q(cell* value) { return (value->w2 & 1) == 0 ? 1 : 0; }
int odd_q(cell* value) { return (value->w2 & 1) != 0 ? 1 : 0; }

cell* complement(cell* value) {
    value->w2 = ~value->w2;
    return value;
}

cell* add() { return do_math(OP_ADD); }
cell* subtract() { return do_math(OP_SUBTRACT); }
cell* multiply() { return do_math(OP_MULTIPLY); }
cell* divide() { return do_math(OP_DIVIDE); }
cell* remainder() { return do_math(OP_REMAINDER); }
cell* and_t() { return do_math(OP_AND); }
cell* or_t() { return do_math(OP_OR); }
cell* xor_t() { return do_math(OP_XOR); }

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_RANDOM>(&random_value);
    list.set<ACTION_TO>(&to);
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
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_COMPLEMENT>(&complement);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    type_registry::register_type(TYPE_INTEGER, TYPE_NONE_ID, "integer!", list);
}

int32_t arithmetic(int32_t left, int32_t right, int op, cell* result) {
    cell scratch{TYPE_INTEGER, 0, 0, 0};
    if (!result) result = &scratch;
    int32_t value = 0;
    switch (op) {
        case OP_ADD:
            if (__builtin_add_overflow(left, right, &value)) {
                store_float(result, static_cast<double>(left) + static_cast<double>(right));
                return 0;
            }
            break;
        case OP_SUBTRACT:
            if (__builtin_sub_overflow(left, right, &value)) {
                store_float(result, static_cast<double>(left) - static_cast<double>(right));
                return 0;
            }
            break;
        case OP_MULTIPLY:
            if (__builtin_mul_overflow(left, right, &value)) {
                store_float(result, static_cast<double>(left) * static_cast<double>(right));
                return 0;
            }
            break;
        case OP_DIVIDE:
            if (right == 0) raise::throw_error(err::math_zero_divide);
            if (left == INT32_LOWEST && right == -1) raise::throw_error(err::math_overflow);
            if (left % right != 0 && result != &scratch) {
                store_float(result, static_cast<double>(left) / static_cast<double>(right));
                return 0;
            }
            value = left / right;
            break;
        case OP_REMAINDER:
            if (right == 0) raise::throw_error(err::math_zero_divide);
            if (left == INT32_LOWEST && right == -1) raise::throw_error(err::math_overflow);
            value = left % right;
            break;
        case OP_OR: value = left | right; break;
        case OP_AND: value = left & right; break;
        case OP_XOR: value = left ^ right; break;
        default: platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    }
    result->w2 = static_cast<uint32_t>(value);
    return value;
}

cell* do_math(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    switch (right->type()) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            arithmetic(read_cell(left), read_cell(right), op, left);
            return left;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            return float_::math_core(op);
        case TYPE_MONEY:
        case TYPE_VECTOR:
            return required_core(right)(op);
        case TYPE_DATE: {
            math_core core = required_core(right);
            if (op != OP_ADD) raise_not_related(op, TYPE_INTEGER);
            std::swap(*left, *right);
            return core(op);
        }
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            math_core core = required_core(right);
            // number / compound and number // compound have no meaning element-wise.
            if (op == OP_DIVIDE || op == OP_REMAINDER) raise_not_related(op, TYPE_INTEGER);
            std::swap(*left, *right);
            if (op == OP_SUBTRACT) {
                // n - c is (-c) + n.
                actions::handler<ACTION_NEGATE>(left)(left);
                op = OP_ADD;
            }
            return core(op);
        }
        case TYPE_TUPLE: {
            math_core core = required_core(right);
            if (op == OP_SUBTRACT || op == OP_DIVIDE || op == OP_REMAINDER) raise_not_related(op, TYPE_INTEGER);
            std::swap(*left, *right);
            return core(op);
        }
        default:
            raise::invalid_type(right->type());
    }
}

cell* set_cell(cell* c, int32_t value) {
    cell::set_type(c, TYPE_INTEGER);
    c->w2 = static_cast<uint32_t>(value);
    return c;
}

cell* make_in(cell* destination, int32_t value) {
    *destination = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(value), 0};
    return destination;
}

cell* append_to_block(cell* block, int32_t value) { return make_in(block::alloc_tail_cell(block), value); }

cell* push(int32_t value) { return make_in(stack::push_slot(), value); }

cell* return_value(int32_t value) { return make_in(stack::result_slot(), value); }

int32_t read_first_arg() { return read_cell(stack::argument(0)); }

int32_t read_first_arg_or_zero() {
    const cell* first = stack::argument(0);
    return first->is(TYPE_INTEGER) ? read_cell(first) : 0;
}

int32_t absolute_checked(int32_t value) {
    if (value == INT32_LOWEST) raise::throw_error(err::math_overflow);
    return value < 0 ? -value : value;
}

int float_overflows(const cell* c) {
    double d = float_::get(c);
    return (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) ? 1 : 0;
}

int32_t get_int_from_number(const cell* value) {
    if (value->is(TYPE_INTEGER)) return read_cell(value);
    double d = float_::get(value);
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) {
        raise::throw_error(err::script_out_of_range, value);
    }
    return static_cast<int32_t>(d);
}

const char* to_decimal_text(int32_t value) {
    static char buffer[12];
    if (value == INT32_LOWEST) return "-2147483648";
    if (value == 0) return "0";
    char* end = std::to_chars(buffer, buffer + sizeof buffer - 1, value).ptr;
    *end = '\0';
    return buffer;
}

void register_math_core(type_id type, math_core core) { math_cores[type] = core; }
math_core math_core_of(type_id type) { return math_cores[type]; }
void register_converter(type_id type, integer_converter converter) { converters[type] = converter; }
void register_comparator(type_id type, foreign_comparator comparator) { comparators[type] = comparator; }
foreign_comparator comparator_of(type_id type) { return comparators[type]; }

cell named_word(const char* name) {
    cell word{TYPE_NONE, 0, 0, 0};
    if (!type_registry::make_word(name, &word)) word = cell{TYPE_NONE, 0, 0, 0};
    return word;
}

cell op_word(int op) {
    if (op < OP_ADD || op > OP_XOR) return cell{TYPE_NONE, 0, 0, 0};
    return named_word(op_names[op]);
}

}  // namespace zor::integer
