// time!: construction, the hours:minutes:seconds text, the field accessors and setters,
// and the type rules that time! lays over float! arithmetic.
#include "runtime/datatypes/time.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/number-text.h"
#include "runtime/binding/owner-track.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::time {

namespace {

// script/not-related with a word of the action's name (kept in a stack slot, so that it
// stays valid while the error is made) and a datatype.
[[noreturn]] void raise_not_related(const char* action_name, type_id type) {
    const cell name = integer::named_word(action_name);
    cell* word = stack::push_copy(&name);
    cell t = datatype::value_of(type);
    raise::throw_error(err::script_not_related, word, &t);
}

[[noreturn]] void raise_bad_to_arg(const cell* spec) {
    cell t = datatype::value_of(TYPE_TIME);
    raise::throw_error(err::script_bad_to_arg, &t, spec);
}

bool is_word(const cell* c) { return c->type() >= TYPE_WORD && c->type() <= TYPE_GET_WORD; }

bool same_name(const cell* word, int32_t symbol) {
    return symbol != 0 && symbol::canonical_id(static_cast<int32_t>(word->w2)) == symbol::canonical_id(symbol);
}

// The field index of a path element or pick index cell: an integer! as it is, an accessor
// word by name; anything else -1.
int element_index(const cell* element, const cell* second_value) {
    if (element->is(TYPE_INTEGER)) return static_cast<int32_t>(element->w2);
    if (is_word(element)) return accessor_index(element, second_value);
    return -1;
}

// --- Construction -----------------------------------------------------------------------

// Hours, minutes and seconds of a block: at most three values, only the first may be
// negative and its sign applies to the whole, only the third may be a float!.
double seconds_of_block(const cell* spec) {
    int64_t count = block::rest_length(spec);
    if (count > 3) raise_bad_to_arg(spec);
    int64_t index = static_cast<int32_t>(spec->w1);
    if (index < 0) index = 0;
    bool negate = false;
    double total = 0.0;
    for (int64_t i = 0; i < count; ++i) {
        const cell element = *block::get_cell(spec, index + i);
        double part;
        if (element.is(TYPE_INTEGER)) {
            part = static_cast<double>(static_cast<int32_t>(element.w2));
        } else if (element.is(TYPE_FLOAT) && i == 2) {
            part = float_::get(&element);
        } else {
            raise_bad_to_arg(spec);
        }
        if (part < 0) {
            if (i != 0) raise_bad_to_arg(spec);
            negate = true;
            part = -part;
        }
        static constexpr double scale[3] = {SECONDS_PER_HOUR, SECONDS_PER_MINUTE, 1.0};
        total += part * scale[i];
    }
    return negate ? -total : total;
}

// Text is loaded as one value by the lexer; only a time! is accepted.
double seconds_of_text(const cell* spec) {
    upcalls::installed(upcalls::scan_text);
    std::string text = string::to_utf8(spec);
    cell* loaded = stack::push_slot();
    cell::init_unset(loaded);
    bool made = upcalls::scan_text(text.data(), static_cast<int64_t>(text.size()), loaded);
    if (!made || !loaded->is(TYPE_TIME)) raise_bad_to_arg(spec);
    double seconds = float_::get(loaded);
    stack::drop_slots(1);
    return seconds;
}

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    double seconds;
    switch (spec->type()) {
        case TYPE_TIME: return spec;
        case TYPE_INTEGER: seconds = static_cast<double>(static_cast<int32_t>(spec->w2)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: seconds = float_::get(spec); break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: seconds = seconds_of_block(spec); break;
        default:
            if (!type_classes::is(spec->type(), type_classes::ANY_STRING)) raise_bad_to_arg(spec);
            seconds = seconds_of_text(spec);
            break;
    }
    return set_cell(seconds, stack::result_slot());
}

// --- Text ---------------------------------------------------------------------------------

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    return form_into_string(float_::get(value), output, budget);
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* /*part*/, int budget,
         int /*indent*/) {
    return form_into_string(float_::get(value), output, budget);
}

// --- Paths and pick -------------------------------------------------------------------------

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/, bool /*in_place*/) {
    int index = element_index(element, nullptr);
    if (index < FIELD_HOUR || index > FIELD_SECOND) raise::throw_error(err::script_invalid_path, path, element);
    if (!value) return get_field(float_::get(parent), index);
    double seconds = with_field(float_::get(parent), index, value);
    float_::store(parent, seconds);
    return value;
}

cell* pick(cell* value, int index, cell* index_cell) {
    if (index_cell && is_word(index_cell)) index = accessor_index(index_cell, value);
    if (index < FIELD_HOUR || index > FIELD_SECOND) {
        cell number{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        raise::throw_error(err::script_out_of_range, index_cell ? index_cell : &number);
    }
    return get_field(float_::get(value), index);
}

// --- Arithmetic -------------------------------------------------------------------------------

cell* add() {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    if (right->is(TYPE_DATE)) {
        // time + date is date + time: the date core adds with the date first.
        integer::math_core core = integer::math_core_of(TYPE_DATE);
        if (!core) raise::invalid_type(TYPE_DATE);
        std::swap(*left, *right);
        return core(integer::OP_ADD);
    }
    return float_::math_core(integer::OP_ADD);
}

cell* subtract() {
    if (stack::argument(1)->is(TYPE_DATE)) raise_not_related("subtract", TYPE_TIME);
    return float_::math_core(integer::OP_SUBTRACT);
}

cell* multiply() {
    if (stack::argument(1)->is(TYPE_TIME)) raise_not_related("multiply", TYPE_TIME);
    return float_::math_core(integer::OP_MULTIPLY);
}

cell* divide() {
    // time / time is a plain ratio.
    const bool ratio = stack::argument(1)->is(TYPE_TIME);
    cell* result = float_::math_core(integer::OP_DIVIDE);
    if (ratio && result->is(TYPE_TIME)) cell::set_type(result, TYPE_FLOAT);
    return result;
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && scale->is(TYPE_MONEY)) raise_not_related("round", TYPE_MONEY);
    // An integer! scale is presented as a float!: the result stays seconds, so it need not
    // fit an integer! on the way (the rounded value is the same).
    cell float_scale;
    if (scale && scale->is(TYPE_INTEGER)) {
        float_::init_cell(&float_scale, static_cast<double>(static_cast<int32_t>(scale->w2)));
        scale = &float_scale;
    }
    float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    // The double is in place; only the type goes back to time!.
    cell::set_type(value, TYPE_TIME);
    value->w1 = 0;
    return value;
}

// Only the whole seconds field decides; the nudge keeps 2.9999999 from reading as 2.
int whole_seconds_field(cell* value) {
    double seconds = float_::get(value);
    if (!std::isfinite(seconds)) raise::throw_error(err::math_overflow);
    double nudged = seconds >= 0 ? seconds + SMALLEST_SECONDS : seconds - SMALLEST_SECONDS;
    return static_cast<int>(std::trunc(std::fmod(nudged, SECONDS_PER_MINUTE)));
}

int even_q(cell* value) { return (whole_seconds_field(value) & 1) == 0 ? 1 : 0; }
int odd_q(cell* value) { return (whole_seconds_field(value) & 1) != 0 ? 1 : 0; }

// The text of a finite magnitude into out; answers its length. `out` has room for the
// longest hours (309 digits) and the fields.
int magnitude_text(double magnitude, char* out, int size) {
    // The seconds are rounded first, then split: a seconds field that rounds to 60
    // becomes 00 and carries a minute.
    double seconds = std::fmod(magnitude, SECONDS_PER_MINUTE);
    // magnitude - seconds is an exact multiple of 60 whenever it is below 2^53.
    double whole_minutes = (magnitude - seconds) / SECONDS_PER_MINUTE;
    char seconds_text[number_text::FORMAT_BUFFER_SIZE] = "00";
    if (seconds >= SMALLEST_SECONDS) {
        const char* text = float_::to_text(seconds, float_::TEXT_SECONDS);
        size_t length = std::strlen(text);
        const char* stop = nullptr;
        if (number_text::parse_float(text, text + length, &stop) >= SECONDS_PER_MINUTE) {
            whole_minutes += 1.0;
        } else {
            bool pad = length == 1 || text[1] == '.';
            char* at = seconds_text;
            if (pad) *at++ = '0';
            std::memcpy(at, text, length + 1);
        }
    }
    double minutes = std::fmod(whole_minutes, 60.0);
    double hours = (whole_minutes - minutes) / 60.0;
    char* at = out;
    char* end = out + size;
    // Hours are an integral double: its fixed text is exact, however large.
    at = std::to_chars(at, end, hours, std::chars_format::fixed, 0).ptr;
    int m = static_cast<int>(minutes);
    *at++ = ':';
    *at++ = static_cast<char>('0' + m / 10);
    *at++ = static_cast<char>('0' + m % 10);
    *at++ = ':';
    size_t seconds_length = std::strlen(seconds_text);
    std::memcpy(at, seconds_text, seconds_length);
    at += seconds_length;
    return static_cast<int>(at - out);
}

}  // namespace

void init_type() {
    // Every slot not named here inherits from float! (random, compare, absolute, negate,
    // remainder) or is refused.
    type_registry::action_list list(TYPE_FLOAT);
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        switch (a) {
            case ACTION_RANDOM: case ACTION_COMPARE: case ACTION_ABSOLUTE: case ACTION_NEGATE:
            case ACTION_REMAINDER:
                break;
            default:
                list.unsupported(static_cast<action>(a));
        }
    }
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_ADD>(&add);
    list.set<ACTION_DIVIDE>(&divide);
    list.set<ACTION_MULTIPLY>(&multiply);
    list.set<ACTION_ROUND>(&round);
    list.set<ACTION_SUBTRACT>(&subtract);
    list.set<ACTION_EVEN_Q>(&even_q);
    list.set<ACTION_ODD_Q>(&odd_q);
    list.set<ACTION_PICK>(&pick);
    type_registry::register_type(TYPE_TIME, TYPE_FLOAT, "time!", list);
}

cell* set_cell(double seconds, cell* c) {
    *c = cell{TYPE_TIME, 0, 0, 0};
    float_::store(c, seconds);
    return c;
}

cell* push(double seconds) { return set_cell(seconds, stack::push_slot()); }

cell* append_to_block(uint32_t low, uint32_t high, cell* block) {
    cell* c = block::alloc_tail_cell(block);
    *c = cell{TYPE_TIME, 0, low, high};
    return c;
}

int32_t whole_hours(double seconds) {
    double hours = std::trunc(seconds / SECONDS_PER_HOUR);
    if (std::isnan(hours) || hours > 2147483647.0 || hours < -2147483648.0) raise::throw_error(err::math_overflow);
    return static_cast<int32_t>(hours);
}

int32_t whole_minutes(double seconds) {
    if (!std::isfinite(seconds)) raise::throw_error(err::math_overflow);
    return static_cast<int32_t>(std::floor(std::fmod(std::fabs(seconds), SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
}

cell* get_field(double seconds, int index) {
    switch (index) {
        case FIELD_HOUR: return integer::push(whole_hours(seconds));
        case FIELD_MINUTE: return integer::push(whole_minutes(seconds));
        default: return float_::push(std::fmod(seconds, SECONDS_PER_MINUTE));
    }
}

int accessor_index(const cell* word, const cell* second_value) {
    if (same_name(word, symbols::hour)) return FIELD_HOUR;
    if (same_name(word, symbols::minute)) return FIELD_MINUTE;
    if (same_name(word, symbols::second)) return FIELD_SECOND;
    if (second_value && second_value->is(TYPE_TIME)) raise::throw_error(err::script_cannot_use, word, second_value);
    return -1;
}

double with_field(double seconds, int index, const cell* value) {
    double v;
    if (value->is(TYPE_INTEGER)) {
        v = static_cast<double>(static_cast<int32_t>(value->w2));
    } else if (value->is(TYPE_FLOAT) && index == FIELD_SECOND) {
        v = float_::get(value);
    } else {
        raise::throw_error(err::script_invalid_arg, value);
    }
    // Work on the magnitude. The hour and second fields read with the value's sign, so a
    // new value for them is mirrored the same way; the result gets the sign back.
    const double sign = seconds < 0 ? -1.0 : 1.0;
    double magnitude = std::fabs(seconds);
    switch (index) {
        case FIELD_HOUR:
            magnitude -= (std::floor(magnitude / SECONDS_PER_HOUR) - sign * v) * SECONDS_PER_HOUR;
            break;
        case FIELD_MINUTE:
            magnitude -= (std::floor(std::fmod(magnitude, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE) - v) *
                         SECONDS_PER_MINUTE;
            break;
        default:
            magnitude -= std::fmod(magnitude, SECONDS_PER_MINUTE) - sign * v;
            break;
    }
    return sign * magnitude;
}

int form_into_string(double seconds, cell* output, int budget) {
    if (!std::isfinite(seconds)) {
        const char* special = float_::to_text(seconds, float_::TEXT_FLOAT);
        string::append_c_string(output, special);
        return budget - static_cast<int>(std::strlen(special));
    }
    char text[400];
    int length = 0;
    if (seconds < 0) text[length++] = '-';
    length += magnitude_text(std::fabs(seconds), text + length, static_cast<int>(sizeof text) - length - 1);
    string::append_bytes(output, text, length);
    return budget - length;
}


}  // namespace zor::time
