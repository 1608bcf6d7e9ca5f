// The boot routines that build small values: colours and addresses as tuples, the count
// of UTF-8 characters between two positions of a binary!, and the null handle that the
// constants bind (a handle! has no literal and no make).
//
// Invariant: every component of a tuple made here is a byte given as it is (as-ipv4,
// as-rgba) or reduced to one (as-color); nothing spills from one component into another.
#include "boot/routines/routines.h"

#include <cstdint>

#include "boot/routine-table.h"
#include "boot/routines/routine-calls.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/errors/raise.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"

namespace zor::boot {

namespace {

using eval::routine_arguments;
using namespace routine_calls;

[[noreturn]] void invalid_component(int32_t component) {
    cell value;
    integer::make_in(&value, component);
    raise::throw_error(err::script_invalid_arg, &value);
}

// The tuple of the count components; each must be 0 or more, and 255 at most unless
// reduce folds it into a byte.
uint64_t make_tuple(const routine_arguments& arguments, int count, bool reduce) {
    uint8_t bytes[tuple::MAX_LENGTH] = {};
    for (int i = 0; i < count; ++i)
        if (integer_argument(arguments, i) < 0) invalid_component(integer_argument(arguments, i));
    for (int i = 0; i < count; ++i) {
        const int32_t component = integer_argument(arguments, i);
        if (component > 255 && !reduce) invalid_component(component);
        bytes[i] = static_cast<uint8_t>(component & 0xFF);
    }
    cell value;
    tuple::make_at(&value, count, bytes);
    return answer(value);
}

// as-color r g b: each component modulo 256.
uint64_t as_color(const routine_arguments& arguments) { return make_tuple(arguments, 3, true); }

// as-ipv4 a b c d and as-rgba r g b a: four bytes.
uint64_t as_ipv4(const routine_arguments& arguments) { return make_tuple(arguments, 4, false); }

// count-chars start pos: the characters from start's position up to pos's index, in
// start's bytes. pos only lends its index; an index past the bytes counts to their end.
uint64_t count_chars(const routine_arguments& arguments) {
    const cell* start = cell_argument(arguments, 0);
    const cell* pos = cell_argument(arguments, 1);
    memory::series_buffer* buffer = memory::buffer_of(start->w2);
    const int64_t length = buffer->length();
    const int64_t from = series::index_of(start);
    const int64_t to = series::index_of(pos) < length ? series::index_of(pos) : length;
    if (from < 0 || to <= from) return 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer->head);
    return static_cast<uint64_t>(unicode::count_utf8_chars(bytes + from, bytes + to));
}

// _null-handle: the handle! of kind null, value 0.
uint64_t null_handle(const routine_arguments&) {
    cell value;
    handle::make_at(&value, 0, handle::KIND_NULL);
    return answer(value);
}

const boot_routine VALUE_ROUTINES[] = {
    {"as-color", code_of<&as_color>(), false, -1},
    {"as-ipv4", code_of<&as_ipv4>(), false, -1},
    {"as-rgba", code_of<&as_ipv4>(), false, -1},
    {"count-chars", code_of<&count_chars>(), false, TYPE_INTEGER},
    {"_null-handle", code_of<&null_handle>(), false, -1},
};

}  // namespace

void register_value_routines() { register_routines(VALUE_ROUTINES); }

}  // namespace zor::boot
