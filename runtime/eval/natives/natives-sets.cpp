// The set natives: unique, union, intersect, exclude and difference through one routine
// with an operation code, and complement? of a bitset.
//
// The natives only check that the two sets agree in type and choose the datatype module
// that does the work: the block module for block! and hash! (a hash! on either side makes
// a hash! result), the string module for string!, the bitset and typeset modules for theirs. Each
// module writes its result over the first argument, which is the result slot; /case and
// /skip mean what the module makes of them (the /skip size errors included).
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"

namespace zor::natives {

namespace {

// Refinements of every set native, in spec order.
constexpr int REFINEMENT_CASE = 0;
constexpr int REFINEMENT_SKIP = 1;

bool is_list(type_id type) { return type == TYPE_BLOCK || type == TYPE_HASH; }

// A block! and a hash! combine with each other; every other set only with its own type.
void check_agreement(const cell* set1, const cell* set2) {
    bool agree = is_list(set1->type()) ? is_list(set2->type()) : set2->type() == set1->type();
    if (agree) return;
    cell* expected = datatype::push(set2->type());
    cell* got = datatype::push(set1->type());
    raise::throw_error(err::script_expect_val, expected, got);
}

uint32_t set_native(const native_invocation& call, int code) {
    bool two_sets = code != block::SET_UNIQUE;
    cell* set1 = stack::argument(0);
    cell* set2 = two_sets ? stack::argument(1) : nullptr;
    bool case_sensitive = call.has(REFINEMENT_CASE);
    cell* skip = call.has(REFINEMENT_SKIP) ? stack::argument(call.position(REFINEMENT_SKIP)) : nullptr;
    if (two_sets) check_agreement(set1, set2);
    switch (set1->type()) {
        case TYPE_BLOCK:
        case TYPE_HASH: block::set_operation(set1, set2, case_sensitive, skip, code); break;
        case TYPE_STRING: string::set_operation(set1, set2, case_sensitive, skip, code); break;
        case TYPE_TYPESET: typeset::apply_set_op(code); break;
        case TYPE_BITSET: bitset::apply_set_op(code); break;
        // The difference of two dates is the time! between them; no other set operation
        // takes dates.
        case TYPE_DATE:
            if (code != block::SET_DIFFERENCE) raise::expect_arg(TYPE_DATE, 0);
            date::difference_as_time(set1, set2);
            break;
        default: raise::expect_arg(set1->type(), 0);
    }
    stack::keep_result_slot();
    return 0;
}

}  // namespace

uint32_t native_union(const native_invocation& call) { return set_native(call, block::SET_UNION); }
uint32_t native_intersect(const native_invocation& call) { return set_native(call, block::SET_INTERSECT); }
uint32_t native_unique(const native_invocation& call) { return set_native(call, block::SET_UNIQUE); }
uint32_t native_difference(const native_invocation& call) { return set_native(call, block::SET_DIFFERENCE); }
uint32_t native_exclude(const native_invocation& call) { return set_native(call, block::SET_EXCLUDE); }

// complement? bits: whether the bitset is stored complemented (its buffer's complement
// flag).
uint32_t native_complement_q(const native_invocation&) {
    const cell* bits = stack::argument(0);
    if (!bits->is(TYPE_BITSET)) raise::expect_arg(bits->type(), 0);
    bool complemented = (memory::buffer_of(bits->w2)->flags & memory::FLAG_COMPLEMENT) != 0;
    logic::set_result(complemented ? 1 : 0);
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
