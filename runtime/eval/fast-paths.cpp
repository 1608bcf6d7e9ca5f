// Operator fast paths: the inline cores and the members that compiled code calls.
#include "runtime/eval/fast-paths.h"

#include "platform/fatal.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"

namespace zor::fast_paths {

namespace {

bool is_arithmetic_code(int op) {
    switch (op) {
        case integer::OP_ADD: case integer::OP_SUBTRACT: case integer::OP_MULTIPLY:
        case integer::OP_OR: case integer::OP_AND: case integer::OP_XOR:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool takes_inline_operands(const cell* descriptors) {
    if (memory::buffer_of(descriptors->w2)->length() < 6 || integer::read_cell(block::get_cell(descriptors, 0)) != 2)
        return false;
    for (int entry = 0; entry < 2; ++entry) {
        const cell* types = block::get_cell(descriptors, 3 + 2 * entry);
        if (!block::get_cell(descriptors, 2 + 2 * entry)->is(TYPE_WORD)) return false;
        if (types->is(TYPE_TYPESET) && !(typeset::has(types, TYPE_INTEGER) && typeset::has(types, TYPE_FLOAT)))
            return false;
    }
    return true;
}

}  // namespace zor::fast_paths

namespace zor::actions {

namespace {

[[noreturn]] void impossible_code() { platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0); }

void check_math_code(int op) {
    if (!fast_paths::is_arithmetic_code(op)) impossible_code();
}

void check_compare_code(int op) {
    if (op < COMPARE_EQUAL || op > COMPARE_GREATER_OR_EQUAL) impossible_code();
}

// The action entry of an arithmetic code, run on the two arguments from args_base.
void run_math_entry(int op) {
    switch (op) {
        case integer::OP_ADD: entry_add(); break;
        case integer::OP_SUBTRACT: entry_subtract(); break;
        case integer::OP_MULTIPLY: entry_multiply(); break;
        case integer::OP_OR: entry_or_t(); break;
        case integer::OP_AND: entry_and_t(); break;
        case integer::OP_XOR: entry_xor_t(); break;
        default: impossible_code();
    }
}

// The general case: one plain call frame named by the word, the operands pushed as its
// arguments, the action entry, and the frame popped keeping the result where the left
// operand was pushed. Answers that cell.
cell* math_fallback(int op, const cell* word, const cell& left, const cell& right) {
    cell* result = stack::state.args_top;
    stack::push_call_frame(word);
    stack::push_copy(&left);
    stack::push_copy(&right);
    run_math_entry(op);
    stack::pop_frame();
    return result;
}

cell* compare_fallback(int op, const cell* word, const cell& left, const cell& right) {
    cell* result = stack::state.args_top;
    stack::push_call_frame(word);
    stack::push_copy(&left);
    stack::push_copy(&right);
    compare_to_logic(op);
    stack::pop_frame();
    return result;
}

cell integer_cell(int32_t value) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(value), 0}; }

cell* math_pushed(int op, const cell* word, const cell& left, const cell& right) {
    check_math_code(op);
    cell* result = stack::push_copy(&left);
    if (fast_paths::math_inline(op, result, &right)) return result;
    stack::drop_slots(1);
    return math_fallback(op, word, left, right);
}

// The "into" members: the result replaces the last pushed cell.
cell* math_into(int op, const cell* word, const cell& right) {
    check_math_code(op);
    cell* left = stack::last_slot();
    if (fast_paths::math_inline(op, left, &right)) return left;
    const cell left_copy = *left;
    cell* result = math_fallback(op, word, left_copy, right);
    *left = *result;
    stack::state.args_top = left + 1;
    return left;
}

cell* compare_pushed(int op, const cell* word, const cell& left, const cell& right) {
    check_compare_code(op);
    cell* result = stack::push_copy(&left);
    if (fast_paths::compare_inline(op, result, &right)) return result;
    stack::drop_slots(1);
    return compare_fallback(op, word, left, right);
}

cell* compare_into(int op, const cell* word, const cell& right) {
    check_compare_code(op);
    cell* left = stack::last_slot();
    if (fast_paths::compare_inline(op, left, &right)) return left;
    const cell left_copy = *left;
    cell* result = compare_fallback(op, word, left_copy, right);
    *left = *result;
    stack::state.args_top = left + 1;
    return left;
}

bool compare_truth(int op, const cell* word, const cell& left, const cell& right) {
    cell* answer = compare_pushed(op, word, left, right);
    bool truth = logic::get_value(answer) == 1;
    stack::state.args_top = answer;
    return truth;
}

}  // namespace

cell* fast_math(int op, const cell* word, const cell* left, const cell* right) {
    return math_pushed(op, word, *left, *right);
}

cell* fast_math_int(int op, const cell* word, const cell* left, int32_t right) {
    return math_pushed(op, word, *left, integer_cell(right));
}

cell* fast_math_into(int op, const cell* word, const cell* right) { return math_into(op, word, *right); }

cell* fast_compare(int op, const cell* word, const cell* left, const cell* right) {
    return compare_pushed(op, word, *left, *right);
}

cell* fast_compare_int(int op, const cell* word, const cell* left, int32_t right) {
    return compare_pushed(op, word, *left, integer_cell(right));
}

bool fast_compare_truth(int op, const cell* word, const cell* left, const cell* right) {
    return compare_truth(op, word, *left, *right);
}

bool fast_compare_int_truth(int op, const cell* word, const cell* left, int32_t right) {
    return compare_truth(op, word, *left, integer_cell(right));
}

int fast_compare_test(int op, const cell* word, const cell* left, const cell* right, int expected) {
    return compare_truth(op, word, *left, *right) != (expected != 0) ? 1 : 0;
}

int fast_compare_int_test(int op, const cell* word, const cell* left, int32_t right, int expected) {
    return compare_truth(op, word, *left, integer_cell(right)) != (expected != 0) ? 1 : 0;
}

cell* fast_compare_cells_into(int op, const cell* word, const cell* right) { return compare_into(op, word, *right); }

cell* fast_compare_int_into(int op, const cell* word, int32_t right) {
    return compare_into(op, word, integer_cell(right));
}

cell* fast_pick(const cell* series, int32_t index, const cell* word) {
    const cell held = *series;
    if (held.is(TYPE_BLOCK)) {
        memory::series_buffer* b = memory::buffer_of(held.w2);
        int64_t at = static_cast<int32_t>(held.w1);
        if (at < 0) at = 0;
        int64_t rest = b->length() - at;
        if (index >= 1 && index <= rest) return stack::push_copy(b->head_cell() + at + index - 1);
        return stack::push_copy(&none::value);
    }
    cell* result = stack::state.args_top;
    stack::push_call_frame(word);
    stack::push_copy(&held);
    integer::make_in(stack::push_slot(), index);
    entry_eval_path(-1);
    stack::pop_frame();
    return result;
}

cell* fast_series_query(const cell* series, int query, const cell* word) {
    const cell held = *series;
    if (query < QUERY_LENGTH || query > QUERY_TAIL) impossible_code();
    if (held.is(TYPE_BLOCK)) {
        const int64_t length = memory::buffer_of(held.w2)->length();
        const int64_t position = static_cast<int32_t>(held.w1);
        const int64_t rest = length - position;
        cell* result = stack::push_copy(&held);
        switch (query) {
            case QUERY_LENGTH: integer::make_in(result, static_cast<int32_t>(rest < 0 ? 0 : rest)); break;
            case QUERY_INDEX: integer::make_in(result, static_cast<int32_t>(position + 1)); break;
            case QUERY_HEAD_Q: logic::make_in(result, position == 0); break;
            case QUERY_TAIL_Q: logic::make_in(result, rest < 1); break;
            case QUERY_NEXT: if (rest > 0) result->w1 = static_cast<uint32_t>(position + 1); break;
            case QUERY_BACK: if (position > 0) result->w1 = static_cast<uint32_t>(position - 1); break;
            case QUERY_HEAD: result->w1 = 0; break;
            case QUERY_TAIL: result->w1 = static_cast<uint32_t>(position + rest); break;
            default: impossible_code();
        }
        return result;
    }
    cell* result = stack::state.args_top;
    stack::push_call_frame(word);
    stack::push_copy(&held);
    switch (query) {
        case QUERY_LENGTH: entry_length_q(); break;
        case QUERY_INDEX: entry_index_q(); break;
        case QUERY_HEAD_Q: entry_head_q(); break;
        case QUERY_TAIL_Q: entry_tail_q(); break;
        case QUERY_NEXT: entry_next(); break;
        case QUERY_BACK: entry_back(); break;
        case QUERY_HEAD: entry_head(); break;
        case QUERY_TAIL: entry_tail(); break;
        default: impossible_code();
    }
    stack::pop_frame();
    return result;
}

}  // namespace zor::actions
