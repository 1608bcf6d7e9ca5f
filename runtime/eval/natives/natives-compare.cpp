// The comparison, logic and type natives: the seven comparisons through the compare
// action, same? (identity by type), not and type?.
//
// Every argument is any-type!, so none of these raises for its argument types; what a
// comparison code means for each datatype (case folding, numeric promotion, values that
// cannot be ordered) is the datatypes' compare routines' own.
#include <bit>
#include <cstring>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/type-classes.h"

namespace zor::natives {

namespace {

uint32_t compare_native(int code) {
    actions::compare_to_logic(code);
    stack::keep_result_slot();
    return 0;
}

bool words_equal(const cell* a, const cell* b, bool w1, bool w2, bool w3) {
    return (!w1 || a->w1 == b->w1) && (!w2 || a->w2 == b->w2) && (!w3 || a->w3 == b->w3);
}

}  // namespace

uint32_t native_equal_q(const native_invocation&) { return compare_native(COMPARE_EQUAL); }
uint32_t native_not_equal_q(const native_invocation&) { return compare_native(COMPARE_NOT_EQUAL); }
uint32_t native_strict_equal_q(const native_invocation&) { return compare_native(COMPARE_STRICT_EQUAL); }
uint32_t native_lesser_q(const native_invocation&) { return compare_native(COMPARE_LESSER); }
uint32_t native_greater_q(const native_invocation&) { return compare_native(COMPARE_GREATER); }
uint32_t native_lesser_or_equal_q(const native_invocation&) { return compare_native(COMPARE_LESSER_OR_EQUAL); }
uint32_t native_greater_or_equal_q(const native_invocation&) { return compare_native(COMPARE_GREATER_OR_EQUAL); }

bool is_same(const cell* value, const cell* other) {
    if (value->type() != other->type()) return false;
    // A series is the same at the same index of the same node.
    if (type_classes::is(value->type(), type_classes::SERIES)) return words_equal(value, other, true, true, false);
    switch (value->type()) {
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT:
            return words_equal(value, other, true, false, false);
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_BITSET:
            return words_equal(value, other, false, true, false);
        // Bit for bit: 0.0 and -0.0 differ, and a NaN is the same as an identical NaN.
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME:
            return words_equal(value, other, false, true, true);
        case TYPE_TUPLE: {
            if (tuple::length_of(value) != tuple::length_of(other)) return false;
            cell a = *value, b = *other;
            return actions::dispatch_compare(&a, &b, COMPARE_EQUAL) == 0;
        }
        case TYPE_NONE: case TYPE_UNSET:
            return true;
        case TYPE_MONEY: {
            // The money module's identity mode, once it serves compare; its packed bytes
            // until then.
            if (!type_registry::handler_of(TYPE_MONEY, ACTION_COMPARE)) return words_equal(value, other, true, true, true);
            cell a = *value, b = *other;
            return actions::dispatch_compare(&a, &b, COMPARE_SAME) == 0;
        }
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_POINT2D:
            return words_equal(value, other, true, true, false);
        case TYPE_OP:
            return words_equal(value, other, false, true, true);
        default:
            return words_equal(value, other, true, true, true);
    }
}

uint32_t native_same_q(const native_invocation&) {
    bool same = is_same(stack::argument(0), stack::argument(1));
    logic::set_result(same ? 1 : 0);
    stack::keep_result_slot();
    return 0;
}

// not value: the plain truth test, so unset! is true and its negation false.
uint32_t native_not(const native_invocation&) {
    logic::set_result(is_truthy(stack::result_slot()) ? 0 : 1);
    stack::keep_result_slot();
    return 0;
}

// type? value /word: the value's datatype!, or with /word the datatype's word from the
// registry (integer!).
uint32_t native_type_q(const native_invocation& call) {
    type_id type = stack::result_slot()->type();
    if (!call.has(0)) {
        datatype::make_in(stack::result_slot(), type);
        stack::keep_result_slot();
        return 0;
    }
    const type_registry::type_entry& entry = type_registry::type_entries[type];
    if (entry.word.header != 0) {
        stack::set_result_truncate(&entry.word);
        return 0;
    }
    // Before the type words exist the word is made from the name.
    cell word;
    if (!entry.name || !type_registry::make_word(entry.name, &word)) {
        datatype::make_in(stack::result_slot(), type);
    } else {
        stack::set_result_truncate(&word);
    }
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
