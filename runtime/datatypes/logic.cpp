// logic!: true and false. Payload word 1 is 1 for true and 0 for false; anything but 1
// reads as false, so the truth tests compare with 1.
#include "runtime/datatypes/logic.h"

#include <bit>
#include <cstdint>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/stack.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"

namespace zor::logic {

cell true_value{TYPE_LOGIC, 1, 0, 0};
cell false_value{TYPE_LOGIC, 0, 0, 0};

namespace {

// The arithmetic op codes that the bitwise actions share with the numeric types.
enum bitwise_op { OP_OR = 5, OP_AND = 6, OP_XOR = 7 };

// A random draw lands in the upper half of the 31-bit range half of the time.
constexpr int32_t RANDOM_HALF = 0x3FFFFFFF;

cell* shared(bool value) { return value ? &true_value : &false_value; }

// The double of a float!, percent! or time! cell: payload words 2-3, low word first.
double number_of(const cell* value) {
    return std::bit_cast<double>(uint64_t(value->w2) | (uint64_t(value->w3) << 32));
}

// --- Actions ---------------------------------------------------------------------------

// to logic!: only none and false are false; a logic keeps its value.
cell* to(cell* /*value*/, cell* spec, type_id /*type*/) {
    if (spec->is(TYPE_LOGIC)) return shared(spec->w1 == 1);
    return shared(!spec->is(TYPE_NONE));
}

// make logic! reads numbers as numbers: zero is false. A NaN differs from 0.0, so it is
// true. Other values convert as to does.
cell* make(cell* value, cell* spec, type_id type) {
    switch (spec->type()) {
        case TYPE_INTEGER: return shared(spec->w2 != 0);
        case TYPE_FLOAT:
        case TYPE_PERCENT: return shared(number_of(spec) != 0.0);
        default: return to(value, spec, type);
    }
}

// random/seed seeds the generator from the payload; plain random flips a fair coin.
cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w1);
        return &unset::value;
    }
    int32_t draw = secure ? random::next_secure() : random::next();
    value->w1 = draw > RANDOM_HALF ? 1 : 0;
    return value;
}

int form(cell* value, cell* output, cell* /*part*/, int budget) {
    bool truth = value->w1 == 1;
    string::append_c_string(output, truth ? "true" : "false");
    return budget - (truth ? 4 : 5);
}

int mold(cell* value, cell* output, bool /*only*/, bool all, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    if (!all) return form(value, output, part, budget);
    bool truth = value->w1 == 1;
    string::append_c_string(output, truth ? "#(true)" : "#(false)");
    return budget - (truth ? 7 : 8);
}

// Logic values order false before true for every ordering code, so `<` and sort work on
// them; the difference of the payloads is the answer. The path equalities (10, 11) do
// not apply.
int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_LOGIC)) return -2;
    switch (op) {
        case COMPARE_EQUAL:
        case COMPARE_NOT_EQUAL:
        case COMPARE_STRICT_EQUAL:
        case COMPARE_LESSER:
        case COMPARE_LESSER_OR_EQUAL:
        case COMPARE_GREATER:
        case COMPARE_GREATER_OR_EQUAL:
        case COMPARE_SORT:
        case COMPARE_SORT_CASE:
        case COMPARE_SAME: case COMPARE_FIND:
            return static_cast<int>(value->w1) - static_cast<int>(other->w1);
        default:
            return -2;
    }
}

// and~, or~ and xor~: the first operand is the result slot, the second the next
// argument; both must be logic.
cell* bitwise(bitwise_op op) {
    cell* result = stack::result_slot();
    cell* other = stack::argument(1);
    if (!other->is(TYPE_LOGIC)) {
        raise::expect_arg(other->type(), 1);
    }
    switch (op) {
        case OP_AND: result->w1 &= other->w1; break;
        case OP_OR: result->w1 |= other->w1; break;
        case OP_XOR: result->w1 ^= other->w1; break;
    }
    return result;
}

cell* and_t() { return bitwise(OP_AND); }
cell* or_t() { return bitwise(OP_OR); }
cell* xor_t() { return bitwise(OP_XOR); }

cell* complement(cell* value) {
    value->w1 = value->w1 == 1 ? 0 : 1;
    return value;
}

}  // namespace

void init_type() {
    true_value = cell{TYPE_LOGIC, 1, 0, 0};
    false_value = cell{TYPE_LOGIC, 0, 0, 0};
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_RANDOM>(&random_value);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_COMPLEMENT>(&complement);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    type_registry::register_type(TYPE_LOGIC, TYPE_NONE_ID, "logic!", list);
}

cell* make_at_tail(cell* block, uint32_t value) {
    cell* c = block::alloc_tail_cell(block);
    *c = cell{TYPE_LOGIC, value, 0, 0};
    return c;
}

cell* push(uint32_t value) {
    cell* c = stack::push_slot();
    *c = cell{TYPE_LOGIC, value, 0, 0};
    return c;
}

void set_result(uint32_t value) { *stack::result_slot() = cell{TYPE_LOGIC, value, 0, 0}; }

int is_true(const cell* value, bool check, const cell* argument) {
    if (check && value->is(TYPE_UNSET)) raise::throw_error(err::script_no_value, argument);
    return truth_of(value) ? 1 : 0;
}

namespace {
const cell* last_value() {
    const stack::record& s = stack::state;
    return s.args_top > s.args_base ? s.args_top - 1 : s.args_base;
}
}  // namespace

int is_last_true() { return truth_of(last_value()) ? 1 : 0; }

int is_last_false() { return truth_of(last_value()) ? 0 : 1; }

int is_result_true() {
    const cell* result = stack::result_slot();
    if (result->is(TYPE_UNSET)) raise::throw_error(err::script_no_return);
    return truth_of(result) ? 1 : 0;
}

int is_result_false() { return truth_of(stack::result_slot()) ? 0 : 1; }

}  // namespace zor::logic
