// Type classes: the typesets that the runtime tests a datatype id against (any-block,
// any-string, series ...), written once as a constexpr table indexed by datatype id with
// one bit per class, beside the ids in cell.h.
//
// Invariant: a class is defined here and nowhere else; code asks type_classes::is(type,
// class) instead of listing the class's types in a switch. The classes mirror the boot
// environment's named typesets of the same names.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "runtime/value/cell.h"

namespace zor::type_classes {

enum type_class : uint32_t {
    ANY_WORD = 1u << 0,      // word! set-word! lit-word! get-word!
    ALL_WORD = 1u << 1,      // any-word! refinement! issue!
    ANY_LIST = 1u << 2,      // block! paren! hash!
    ANY_PATH = 1u << 3,      // path! lit-path! set-path! get-path!
    ANY_BLOCK = 1u << 4,     // any-list! any-path!
    ANY_STRING = 1u << 5,    // string! file! url! tag! email! ref!
    SERIES = 1u << 6,        // any-block! any-string! binary! vector! image!
    ANY_FUNCTION = 1u << 7,  // native! action! op! function! routine!
    ANY_OBJECT = 1u << 8,    // object! error! port!
    NUMBER = 1u << 9,        // integer! float! percent!
    ANY_POINT = 1u << 10,    // point2D! point3D!
    SCALAR = 1u << 11,       // number! any-point! money! char! pair! tuple! time! date!
};

namespace detail {

constexpr std::array<uint32_t, TYPE_TABLE_SIZE> make_table() {
    std::array<uint32_t, TYPE_TABLE_SIZE> table{};
    auto add = [&table](uint32_t bits, std::initializer_list<type_id> types) {
        for (type_id t : types) table[t] |= bits;
    };
    add(ANY_WORD | ALL_WORD, {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD});
    add(ALL_WORD, {TYPE_REFINEMENT, TYPE_ISSUE});
    add(ANY_LIST | ANY_BLOCK | SERIES, {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    add(ANY_PATH | ANY_BLOCK | SERIES, {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    add(ANY_STRING | SERIES, {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
    add(SERIES, {TYPE_BINARY, TYPE_VECTOR, TYPE_IMAGE});
    add(ANY_FUNCTION, {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
    add(ANY_OBJECT, {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT});
    add(NUMBER | SCALAR, {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    add(ANY_POINT | SCALAR, {TYPE_POINT2D, TYPE_POINT3D});
    add(SCALAR, {TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE});
    return table;
}

}  // namespace detail

// The classes of every datatype id, one bit per class.
inline constexpr std::array<uint32_t, TYPE_TABLE_SIZE> TABLE = detail::make_table();

// Whether the type belongs to any of the classes (a type id beyond the table belongs to none).
constexpr bool is(type_id type, uint32_t classes) { return type < TYPE_TABLE_SIZE && (TABLE[type] & classes) != 0; }

}  // namespace zor::type_classes
