// The type predicate routines: 48 that each test for one datatype (`block?` ...) and 14
// that each test membership in a named typeset (`series?` ...). Each takes its argument
// cell, whatever the value (unset! included, so the routines are cell-calling: the
// machine convention would hand an integer! over as its number), and answers one of the
// shared logic! cells.
//
// Invariants: a single-type predicate compares the type id exactly (a paren! is no
// block?); a typeset predicate reads the current value of its typeset's global word at
// every call, so rebinding `number!` changes `number?`, and a word that holds no typeset
// (unset or rebound to another value) makes the predicate false. Nothing here allocates
// after the first call of a typeset predicate (which interns its word's symbol).
#include "boot/routines/routines.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "boot/routine-table.h"
#include "boot/routines/routine-calls.h"
#include "runtime/binding/context.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/typeset.h"

namespace zor::boot {

namespace {

using routine_calls::code_of;

struct single_type {
    const char* name;
    type_id type;
};

// In installation order.
constexpr single_type SINGLE_TYPES[] = {
    {"bitset?", TYPE_BITSET},       {"binary?", TYPE_BINARY},       {"block?", TYPE_BLOCK},
    {"char?", TYPE_CHAR},           {"email?", TYPE_EMAIL},         {"file?", TYPE_FILE},
    {"float?", TYPE_FLOAT},         {"get-path?", TYPE_GET_PATH},   {"get-word?", TYPE_GET_WORD},
    {"hash?", TYPE_HASH},           {"integer?", TYPE_INTEGER},     {"issue?", TYPE_ISSUE},
    {"lit-path?", TYPE_LIT_PATH},   {"lit-word?", TYPE_LIT_WORD},   {"logic?", TYPE_LOGIC},
    {"map?", TYPE_MAP},             {"none?", TYPE_NONE},           {"pair?", TYPE_PAIR},
    {"paren?", TYPE_PAREN},         {"path?", TYPE_PATH},           {"percent?", TYPE_PERCENT},
    {"refinement?", TYPE_REFINEMENT}, {"set-path?", TYPE_SET_PATH}, {"set-word?", TYPE_SET_WORD},
    {"string?", TYPE_STRING},       {"tag?", TYPE_TAG},             {"time?", TYPE_TIME},
    {"typeset?", TYPE_TYPESET},     {"tuple?", TYPE_TUPLE},         {"unset?", TYPE_UNSET},
    {"url?", TYPE_URL},             {"word?", TYPE_WORD},           {"image?", TYPE_IMAGE},
    {"date?", TYPE_DATE},           {"money?", TYPE_MONEY},         {"ref?", TYPE_REF},
    {"point2D?", TYPE_POINT2D},     {"point3D?", TYPE_POINT3D},     {"handle?", TYPE_HANDLE},
    {"error?", TYPE_ERROR},         {"action?", TYPE_ACTION},       {"native?", TYPE_NATIVE},
    {"datatype?", TYPE_DATATYPE},   {"function?", TYPE_FUNCTION},   {"object?", TYPE_OBJECT},
    {"op?", TYPE_OP},               {"routine?", TYPE_ROUTINE},     {"vector?", TYPE_VECTOR},
};
constexpr size_t SINGLE_TYPE_COUNT = std::size(SINGLE_TYPES);
static_assert(SINGLE_TYPE_COUNT == 48);

struct typeset_test {
    const char* name;
    const char* typeset;  // the global word whose value is tested
};

constexpr typeset_test TYPESET_TESTS[] = {
    {"any-list?", "any-list!"},     {"any-block?", "any-block!"},   {"any-function?", "any-function!"},
    {"any-object?", "any-object!"}, {"any-path?", "any-path!"},     {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},     {"series?", "series!"},         {"number?", "number!"},
    {"immediate?", "immediate!"},   {"scalar?", "scalar!"},         {"all-word?", "all-word!"},
    {"any-point?", "any-point!"},   {"planar?", "planar!"},
};
constexpr size_t TYPESET_TEST_COUNT = std::size(TYPESET_TESTS);
static_assert(TYPESET_TEST_COUNT == 14);

cell* logic_cell(bool value) { return value ? &logic::true_value : &logic::false_value; }

template <size_t i>
cell* is_single_type(cell* arguments) {
    return logic_cell(arguments->type() == SINGLE_TYPES[i].type);
}

template <size_t i>
cell* is_in_typeset(cell* arguments) {
    // Symbols live as long as the process, so the id is kept once made.
    static int32_t symbol = 0;
    if (!symbol) symbol = symbol::make(TYPESET_TESTS[i].typeset);
    const cell* members = context::value_of_symbol(context::global, symbol);
    return logic_cell(members && members->is(TYPE_TYPESET) && typeset::has(members, arguments->type()));
}

template <size_t... single, size_t... in_typeset>
auto make_table(std::index_sequence<single...>, std::index_sequence<in_typeset...>) {
    return std::array<boot_routine, sizeof...(single) + sizeof...(in_typeset)>{{
        {SINGLE_TYPES[single].name, code_of<&is_single_type<single>>(), true, -1}...,
        {TYPESET_TESTS[in_typeset].name, code_of<&is_in_typeset<in_typeset>>(), true, -1}...,
    }};
}

}  // namespace

void register_type_predicates() {
    static const auto table = make_table(std::make_index_sequence<SINGLE_TYPE_COUNT>(),
                                         std::make_index_sequence<TYPESET_TEST_COUNT>());
    register_routines(table);
}

}  // namespace zor::boot
