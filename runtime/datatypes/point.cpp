// point2D! and point3D!: one set of routines for both types, told apart by the cell's
// type (two or three coordinates): the math cores, construction, text, comparison,
// accessors, rounding and random coordinates (see point.h).
//
// Nothing here allocates while it holds a coordinate it has not yet stored: the
// coordinates are copied out of the cells first, and the cells are written last.
#include "runtime/datatypes/point.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/random.h"
#include "runtime/binding/hashtable.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"

namespace zor::point {

namespace {

// Coordinates copied out of a cell: x, y and z (0 for point2D!).
struct coordinates {
    float c[3] = {0.0f, 0.0f, 0.0f};
};

int count_of(type_id type) { return type == TYPE_POINT3D ? 3 : 2; }

coordinates read(const cell* point) {
    coordinates r;
    for (int n = 0; n < count_of(point->type()); ++n) r.c[n] = coordinate(point, n);
    return r;
}

cell* write(cell* c, type_id type, const coordinates& p) {
    return type == TYPE_POINT3D ? set_point3d(c, p.c[0], p.c[1], p.c[2]) : set_point2d(c, p.c[0], p.c[1]);
}

bool is_word(const cell* c) { return c->type() >= TYPE_WORD && c->type() <= TYPE_GET_WORD; }

double number_of(const cell* c) {
    return c->is(TYPE_INTEGER) ? double(static_cast<int32_t>(c->w2)) : float_::get(c);
}

// The accessor (1 x, 2 y, 3 z) a word names for the type, or 0.
int accessor_of_word(const cell* word, type_id type) {
    int32_t id = symbol::canonical_id(static_cast<int32_t>(word->w2));
    const int32_t names[3] = {symbols::x, symbols::y, symbols::z};
    for (int n = 0; n < count_of(type); ++n) {
        if (id == symbol::canonical_id(names[n])) return n + 1;
    }
    return 0;
}

[[noreturn]] void bad_to_arg(type_id type, const cell* spec) {
    cell* held = stack::push_copy(spec);
    raise::throw_error(err::script_bad_to_arg, datatype::make_in(stack::push_slot(), type), held);
}

// --- Arithmetic ------------------------------------------------------------------------------------

cell* do_math(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    const type_id type = left->type();
    const int count = count_of(type);
    coordinates mine = read(left);
    // The operand's coordinates, widened to double as the float! core takes them.
    double theirs[3] = {0.0, 0.0, 0.0};
    switch (right->type()) {
        case TYPE_INTEGER:
            for (double& c : theirs) c = number_of(right);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            float f = float_::to_single(float_::get(right));
            if (op == integer::OP_MULTIPLY || op == integer::OP_DIVIDE) {
                // A scale is applied to every coordinate directly, in single precision.
                for (int n = 0; n < count; ++n) mine.c[n] = op == integer::OP_MULTIPLY ? mine.c[n] * f : mine.c[n] / f;
                return write(left, type, mine);
            }
            for (double& c : theirs) c = double(f);
            break;
        }
        case TYPE_PAIR:
            if (type != TYPE_POINT2D) raise::invalid_type(TYPE_PAIR);
            theirs[0] = double(pair::x_of(right));
            theirs[1] = double(pair::y_of(right));
            break;
        default:
            if (!right->is(type)) raise::invalid_type(right->type());
            for (int n = 0; n < count; ++n) theirs[n] = double(coordinate(right, n));
            break;
    }
    for (int n = 0; n < count; ++n) {
        mine.c[n] = float_::to_single(float_::do_math(double(mine.c[n]), theirs[n], op));
    }
    return write(left, type, mine);
}

cell* add() { return do_math(integer::OP_ADD); }
cell* subtract() { return do_math(integer::OP_SUBTRACT); }
cell* multiply() { return do_math(integer::OP_MULTIPLY); }
cell* divide() { return do_math(integer::OP_DIVIDE); }
cell* remainder() { return do_math(integer::OP_REMAINDER); }

cell* absolute() {
    cell* value = stack::argument(0);
    coordinates p = read(value);
    for (float& c : p.c) c = std::fabs(c);
    return write(value, value->type(), p);
}

cell* negate(cell* value) {
    coordinates p = read(value);
    for (float& c : p.c) c = 0.0f - c;
    return write(value, value->type(), p);
}

// --- Construction ----------------------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id type) {
    const int count = count_of(type);
    coordinates p;
    switch (spec->type()) {
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            for (float& c : p.c) c = float_::to_single(number_of(spec));
            if (type == TYPE_POINT2D) p.c[2] = 0.0f;
            break;
        case TYPE_PAIR:
            p.c[0] = static_cast<float>(pair::x_of(spec));
            p.c[1] = static_cast<float>(pair::y_of(spec));
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (spec->is(type)) return spec;
            if (type == TYPE_POINT2D) bad_to_arg(type, spec);
            p = read(spec);
            break;
        case TYPE_BLOCK: {
            if (block::rest_length(spec) < count) raise::throw_error(err::syntax_malconstruct, spec);
            int64_t index = std::max<int32_t>(static_cast<int32_t>(spec->w1), 0);
            for (int n = 0; n < count; ++n) {
                const cell* c = block::get_cell(spec, index + n);
                if (!c->is(TYPE_INTEGER) && !c->is(TYPE_FLOAT)) raise::throw_error(err::syntax_malconstruct, spec);
                p.c[n] = float_::to_single(number_of(c));
            }
            break;
        }
        case TYPE_STRING: {
            // The text is loaded as one value; only a point of the type is accepted.
            upcalls::installed(upcalls::scan_text);
            std::string text = string::to_utf8(spec);
            cell* loaded = stack::push_slot();
            bool made = upcalls::scan_text(text.data(), static_cast<int64_t>(text.size()), loaded);
            if (!made || !loaded->is(type)) bad_to_arg(type, spec);
            p = read(loaded);
            stack::drop_slots(1);
            break;
        }
        default:
            bad_to_arg(type, spec);
    }
    cell* made = stack::push_slot();
    *made = cell{};
    return write(made, type, p);
}

// --- Text ----------------------------------------------------------------------------------------------

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    const coordinates p = read(value);
    std::string text = "(";
    for (int n = 0; n < count_of(value->type()); ++n) {
        if (n > 0) text += ", ";
        text += float_::to_text(double(p.c[n]), float_::TEXT_SINGLE_BARE);
    }
    text += ")";
    string::append_bytes(output, text.data(), static_cast<int64_t>(text.size()));
    return budget - static_cast<int>(text.size());
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return form(value, output, part, budget);
}

// --- Comparison ------------------------------------------------------------------------------------------

int compare(cell* value, cell* other, int op) {
    const type_id type = value->type();
    cell converted;
    if (type == TYPE_POINT2D && other->is(TYPE_PAIR)) {
        converted = *other;
        pair::to_point2d(&converted);
        other = &converted;
    }
    if (!other->is(type)) return -2;
    const coordinates a = read(value);
    const coordinates b = read(other);
    const int count = count_of(type);
    switch (op) {
        case 0: case 1: case 10: case 11: case 12:
            for (int n = 0; n < count; ++n) {
                if (!float_::almost_equal32(a.c[n], b.c[n])) return 1;
            }
            return 0;
        case 2:
            for (int n = 0; n < count; ++n) {
                if (a.c[n] != b.c[n]) return 1;
            }
            return 0;
        case 9:
            for (int n = 0; n < count; ++n) {
                if (std::bit_cast<uint32_t>(a.c[n]) != std::bit_cast<uint32_t>(b.c[n])) return 1;
            }
            return 0;
        default:
            // The first coordinate that is not near-equal decides.
            for (int n = 0; n < count; ++n) {
                if (float_::almost_equal32(a.c[n], b.c[n])) continue;
                double d = double(a.c[n]) - double(b.c[n]);
                return (d > 0) - (d < 0);
            }
            return 0;
    }
}

// --- Accessors --------------------------------------------------------------------------------------------

cell* pick(cell* value, int index, cell* index_cell) {
    const type_id type = value->type();
    if (index_cell && is_word(index_cell)) {
        int accessor = accessor_of_word(index_cell, type);
        if (accessor == 0) raise::throw_error(err::script_cannot_use, index_cell, value);
        index = accessor;
    }
    if (index < 1 || index > count_of(type)) {
        cell number{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        raise::throw_error(err::script_out_of_range, index_cell ? index_cell : &number);
    }
    return float_::push(double(coordinate(value, index - 1)));
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/, bool /*in_place*/) {
    const type_id type = parent->type();
    int accessor = 0;
    if (element->is(TYPE_INTEGER)) {
        int32_t n = static_cast<int32_t>(element->w2);
        if (n >= 1 && n <= count_of(type)) accessor = n;
    } else if (is_word(element)) {
        accessor = accessor_of_word(element, type);
    }
    if (accessor == 0) raise::throw_error(err::script_invalid_path, path, element);
    if (!value) return float_::push(double(coordinate(parent, accessor - 1)));
    if (!value->is(TYPE_INTEGER) && !value->is(TYPE_FLOAT)) raise::invalid_type(value->type());
    // The path stores the changed point back where it found it.
    coordinates p = read(parent);
    p.c[accessor - 1] = float_::to_single(number_of(value));
    write(parent, type, p);
    return value;
}

// --- Round, reverse, random ---------------------------------------------------------------------------

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    const type_id type = value->type();
    if (scale && scale->is(TYPE_MONEY)) {
        const cell name = integer::named_word("round");
        cell* word = stack::push_copy(&name);
        cell t = datatype::value_of(TYPE_MONEY);
        raise::throw_error(err::script_not_related, word, &t);
    }
    // A point or pair scale gives each coordinate its own scale.
    coordinates scales;
    bool per_coordinate = scale && (scale->is(TYPE_POINT2D) || scale->is(TYPE_POINT3D) || scale->is(TYPE_PAIR));
    if (per_coordinate) {
        if (scale->is(TYPE_PAIR)) {
            scales.c[0] = static_cast<float>(pair::x_of(scale));
            scales.c[1] = static_cast<float>(pair::y_of(scale));
        } else {
            scales = read(scale);
        }
    }
    coordinates p = read(value);
    for (int n = 0; n < count_of(type); ++n) {
        cell coordinate_scale;
        cell* s = scale;
        if (per_coordinate) s = float_::init_cell(&coordinate_scale, double(scales.c[n]));
        cell number;
        float_::init_cell(&number, double(p.c[n]));
        cell* result = float_::round(&number, s, even, down, half_down, floor, ceiling, half_ceiling);
        p.c[n] = float_::to_single(number_of(result));
    }
    return write(value, type, p);
}

cell* reverse(cell* value, cell* /*part*/, cell* /*skip*/) {
    coordinates p = read(value);
    // point2D! swaps x and y; point3D! swaps x and z, y stays.
    std::swap(p.c[0], p.c[count_of(value->type()) - 1]);
    return write(value, value->type(), p);
}

cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    const type_id type = value->type();
    coordinates p = read(value);
    if (seed) {
        random::seed(hashtable::murmur3_bytes(p.c, 4 * count_of(type)));
        return &unset::value;
    }
    for (int n = 0; n < count_of(type); ++n) {
        if (p.c[n] != 0.0f) p.c[n] = float_::to_single(float_::random_up_to(double(p.c[n]), secure));
    }
    return write(value, type, p);
}

void register_point(type_id type, const char* name) {
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
    list.set<ACTION_PICK>(&pick);
    list.set<ACTION_REVERSE>(&reverse);
    type_registry::register_type(type, TYPE_NONE_ID, name, list);
    integer::register_math_core(type, &do_math);
}

}  // namespace

void init_point2d_type() { register_point(TYPE_POINT2D, "point2D!"); }
void init_point3d_type() { register_point(TYPE_POINT3D, "point3D!"); }

cell* set_point2d(cell* c, float x, float y) {
    cell::set_type(c, TYPE_POINT2D);
    c->w1 = std::bit_cast<uint32_t>(x);
    c->w2 = std::bit_cast<uint32_t>(y);
    c->w3 = 0;
    return c;
}

cell* set_point3d(cell* c, float x, float y, float z) {
    cell::set_type(c, TYPE_POINT3D);
    c->w1 = std::bit_cast<uint32_t>(x);
    c->w2 = std::bit_cast<uint32_t>(y);
    c->w3 = std::bit_cast<uint32_t>(z);
    return c;
}

}  // namespace zor::point
