// pair!: the coordinate-wise math core with its hand-over to point2D!, conversions,
// text, comparison, accessors, rounding and random coordinates.
#include "runtime/datatypes/pair.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/binding/word-table.h"

namespace zor::pair {

namespace {

[[noreturn]] void raise_bad_to_arg(const cell* spec) {
    cell t = datatype::value_of(TYPE_PAIR);
    raise::throw_error(err::script_bad_to_arg, &t, spec);
}

bool is_word(const cell* c) { return c->type() >= TYPE_WORD && c->type() <= TYPE_GET_WORD; }

bool same_name(const cell* word, int32_t symbol) {
    return symbol != 0 && symbol::canonical_id(static_cast<int32_t>(word->w2)) == symbol::canonical_id(symbol);
}

// 1 for x, 2 for y, 0 for another word.
int accessor_of_word(const cell* word) {
    if (same_name(word, symbols::x)) return 1;
    if (same_name(word, symbols::y)) return 2;
    return 0;
}

void make_point2d(cell* c, float x, float y) {
    cell::set_type(c, TYPE_POINT2D);
    c->w1 = std::bit_cast<uint32_t>(x);
    c->w2 = std::bit_cast<uint32_t>(y);
    c->w3 = 0;
}

// The point2D! core; a point2D! operand or result cannot exist without it.
integer::math_core point2d_core() {
    integer::math_core core = integer::math_core_of(TYPE_POINT2D);
    if (!core) raise::throw_error(err::internal_not_done);
    return core;
}

// --- Math -------------------------------------------------------------------------------------

// The left pair op (x2, y2) coordinate by coordinate; answers false, leaving the pair as
// it was, when a coordinate cannot stay an integer.
bool integer_math(cell* left, int32_t x2, int32_t y2, int op) {
    cell scratch{TYPE_INTEGER, 0, 0, 0};
    int32_t x = integer::arithmetic(x_of(left), x2, op, &scratch);
    if (scratch.is(TYPE_FLOAT)) return false;
    int32_t y = integer::arithmetic(y_of(left), y2, op, &scratch);
    if (scratch.is(TYPE_FLOAT)) return false;
    left->w2 = static_cast<uint32_t>(x);
    left->w3 = static_cast<uint32_t>(y);
    return true;
}

cell* float_math(cell* left, cell* right, int op) {
    const double f = float_::get(right);
    switch (op) {
        case integer::OP_MULTIPLY: {
            if (!std::isfinite(f)) raise::throw_error(err::script_invalid_arg, right);
            double x = static_cast<double>(x_of(left)) * f;
            double y = static_cast<double>(y_of(left)) * f;
            make_point2d(left, float_::to_single(x), float_::to_single(y));
            return left;
        }
        case integer::OP_DIVIDE: {
            // An infinite divisor gives zeros, a zero divisor infinities.
            if (std::isnan(f)) raise::throw_error(err::script_invalid_arg, right);
            double x = static_cast<double>(x_of(left)) / f;
            double y = static_cast<double>(y_of(left)) / f;
            make_point2d(left, float_::to_single(x), float_::to_single(y));
            return left;
        }
        default: {
            if (!std::isfinite(f)) raise::throw_error(err::script_invalid_arg, right);
            int32_t v = float_::truncate_checked(f);
            if (!integer_math(left, v, v, op)) {
                make_at(right, v, v);
                to_point2d(left);
                to_point2d(right);
                return point2d_core()(op);
            }
            return left;
        }
    }
}

// --- Construction --------------------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    int32_t x;
    int32_t y;
    switch (spec->type()) {
        case TYPE_PAIR: return spec;
        case TYPE_INTEGER: x = y = static_cast<int32_t>(spec->w2); break;
        case TYPE_FLOAT: x = y = float_::truncate_checked(float_::get(spec)); break;
        case TYPE_POINT2D: {
            float fx = std::bit_cast<float>(spec->w1);
            float fy = std::bit_cast<float>(spec->w2);
            if (!std::isfinite(fx) || !std::isfinite(fy)) raise::throw_error(err::script_invalid_arg, spec);
            x = float_::truncate_checked(fx);
            y = float_::truncate_checked(fy);
            break;
        }
        case TYPE_BLOCK: {
            if (block::rest_length(spec) < 2) raise::throw_error(err::syntax_malconstruct, spec);
            int64_t index = static_cast<int32_t>(spec->w1);
            if (index < 0) index = 0;
            const cell first = *block::get_cell(spec, index);
            const cell second = *block::get_cell(spec, index + 1);
            for (const cell* c : {&first, &second}) {
                if (!c->is(TYPE_INTEGER) && !c->is(TYPE_FLOAT)) raise::throw_error(err::syntax_malconstruct, spec);
            }
            x = int_from_number(&first);
            y = int_from_number(&second);
            break;
        }
        case TYPE_STRING: {
            // Text is loaded as one value by the lexer; only a pair! is accepted.
            upcalls::installed(upcalls::scan_text);
            std::string text = string::to_utf8(spec);
            cell* loaded = stack::push_slot();
            bool made = upcalls::scan_text(text.data(), static_cast<int64_t>(text.size()), loaded);
            if (!made || !loaded->is(TYPE_PAIR)) raise_bad_to_arg(spec);
            x = x_of(loaded);
            y = y_of(loaded);
            stack::drop_slots(1);
            break;
        }
        default:
            raise_bad_to_arg(spec);
    }
    cell* result = stack::result_slot();
    *result = cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    return result;
}

// --- Actions ---------------------------------------------------------------------------------------

cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w2 ^ value->w3);
        return &unset::value;
    }
    // random::pick_int leaves 0 at 0 without drawing.
    int32_t x = random::pick_int(x_of(value), secure);
    int32_t y = random::pick_int(y_of(value), secure);
    return make_at(value, x, y);
}

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    // Both numbers are read before appending, which may move a block holding the value.
    const int32_t x = x_of(value);
    const int32_t y = y_of(value);
    char text[24];
    size_t n = std::strlen(std::strcpy(text, integer::to_decimal_text(x)));
    text[n++] = 'x';
    const char* y_text = integer::to_decimal_text(y);
    std::strcpy(text + n, y_text);
    n += std::strlen(y_text);
    string::append_bytes(output, text, static_cast<int64_t>(n));
    return budget - static_cast<int>(n);
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return form(value, output, part, budget);
}

int compare(cell* value, cell* other, int op) {
    if (other->is(TYPE_POINT2D)) {
        // The point compares; the pair itself is not changed.
        auto point_compare = reinterpret_cast<action_handler<ACTION_COMPARE>>(
            type_registry::handler_of(TYPE_POINT2D, ACTION_COMPARE));
        if (!point_compare) return -2;
        cell point = *value;
        to_point2d(&point);
        return point_compare(&point, other, op);
    }
    if (!other->is(TYPE_PAIR)) return -2;
    int32_t a = x_of(value);
    int32_t b = x_of(other);
    if (a == b) {
        a = y_of(value);
        b = y_of(other);
    }
    return (a > b) - (a < b);
}

cell* absolute() {
    cell* value = stack::argument(0);
    int32_t x = integer::absolute_checked(x_of(value));
    int32_t y = integer::absolute_checked(y_of(value));
    return make_at(value, x, y);
}

cell* negate(cell* value) {
    // Wrap-around: -2147483648 stays itself.
    value->w2 = 0u - value->w2;
    value->w3 = 0u - value->w3;
    return value;
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && scale->is(TYPE_MONEY)) {
        const cell name = integer::named_word("round");
        cell* word = stack::push_copy(&name);
        cell t = datatype::value_of(TYPE_MONEY);
        raise::throw_error(err::script_not_related, word, &t);
    }
    auto integer_round =
        reinterpret_cast<action_handler<ACTION_ROUND>>(type_registry::handler_of(TYPE_INTEGER, ACTION_ROUND));
    const int32_t coordinates[2] = {x_of(value), y_of(value)};
    int32_t rounded[2];
    for (int i = 0; i < 2; ++i) {
        // A pair scale rounds each coordinate by its own coordinate, given as an integer!.
        cell coordinate_scale;
        cell* s = scale;
        if (scale && scale->is(TYPE_PAIR)) {
            integer::make_in(&coordinate_scale, i == 0 ? x_of(scale) : y_of(scale));
            s = &coordinate_scale;
        }
        cell number;
        integer::make_in(&number, coordinates[i]);
        cell* result = integer_round(&number, s, even, down, half_down, floor, ceiling, half_ceiling);
        rounded[i] = int_from_number(result);
    }
    return make_at(value, rounded[0], rounded[1]);
}

cell* reverse(cell* value, cell* /*part*/, cell* /*skip*/) { return make_at(value, y_of(value), x_of(value)); }

// The coordinate of an accessor index, pushed as integer!.
cell* push_coordinate(const cell* pair, int accessor) {
    return integer::push(accessor == 1 ? x_of(pair) : y_of(pair));
}

cell* pick(cell* value, int index, cell* index_cell) {
    if (index_cell && is_word(index_cell)) {
        int accessor = accessor_of_word(index_cell);
        if (accessor == 0) raise::throw_error(err::script_cannot_use, index_cell, value);
        return push_coordinate(value, accessor);
    }
    if (index != 1 && index != 2) {
        cell number{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        raise::throw_error(err::script_out_of_range, index_cell ? index_cell : &number);
    }
    return push_coordinate(value, index);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/, bool /*in_place*/) {
    int accessor = 0;
    if (element->is(TYPE_INTEGER)) {
        int32_t n = static_cast<int32_t>(element->w2);
        if (n == 1 || n == 2) accessor = n;
    } else if (is_word(element)) {
        accessor = accessor_of_word(element);
    }
    if (accessor == 0) raise::throw_error(err::script_invalid_path, path, element);
    if (!value) return push_coordinate(parent, accessor);
    if (!value->is(TYPE_INTEGER)) raise::invalid_type(value->type());
    (accessor == 1 ? parent->w2 : parent->w3) = value->w2;
    return value;
}

cell* add() { return do_math(integer::OP_ADD); }
cell* subtract() { return do_math(integer::OP_SUBTRACT); }
cell* multiply() { return do_math(integer::OP_MULTIPLY); }
cell* divide() { return do_math(integer::OP_DIVIDE); }
cell* remainder() { return do_math(integer::OP_REMAINDER); }
cell* and_t() { return do_math(integer::OP_AND); }
cell* or_t() { return do_math(integer::OP_OR); }
cell* xor_t() { return do_math(integer::OP_XOR); }

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_RANDOM>(&random_value);
    list.set<ACTION_TO>(&make);
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
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    list.set<ACTION_PICK>(&pick);
    list.set<ACTION_REVERSE>(&reverse);
    type_registry::register_type(TYPE_PAIR, TYPE_NONE_ID, "pair!", list);
    integer::register_math_core(TYPE_PAIR, &do_math);
}

cell* make_at(cell* destination, int32_t x, int32_t y) {
    cell::set_type(destination, TYPE_PAIR);
    destination->w1 = 0;
    destination->w2 = static_cast<uint32_t>(x);
    destination->w3 = static_cast<uint32_t>(y);
    return destination;
}

cell* make_in_block(cell* block, int32_t x, int32_t y) {
    cell* c = block::alloc_tail_cell(block);
    *c = cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    return c;
}

cell* push(int32_t x, int32_t y) {
    cell* c = stack::push_slot();
    *c = cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    return c;
}

int32_t int_from_number(const cell* number) {
    if (number->is(TYPE_INTEGER)) return static_cast<int32_t>(number->w2);
    return float_::truncate_checked(float_::get(number));
}

void to_point2d(cell* c) {
    // Every 32-bit integer converts to a single float without overflow.
    make_point2d(c, static_cast<float>(x_of(c)), static_cast<float>(y_of(c)));
}

cell* do_math(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    int32_t x2;
    int32_t y2;
    switch (right->type()) {
        case TYPE_PAIR:
            x2 = x_of(right);
            y2 = y_of(right);
            break;
        case TYPE_INTEGER:
            x2 = y2 = static_cast<int32_t>(right->w2);
            break;
        case TYPE_POINT2D: {
            integer::math_core core = point2d_core();
            to_point2d(left);
            return core(op);
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            return float_math(left, right, op);
        default:
            raise::invalid_type(right->type());
    }
    if (!integer_math(left, x2, y2, op)) {
        // Not integral: the point2D! core does the whole operation on both as points.
        integer::math_core core = point2d_core();
        make_at(right, x2, y2);
        to_point2d(left);
        to_point2d(right);
        return core(op);
    }
    return left;
}

}  // namespace zor::pair
