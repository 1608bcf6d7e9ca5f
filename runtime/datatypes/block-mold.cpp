// block! and paren! text and order: mold and form of the cells (new-line markers,
// indentation, the cycle marks) and the comparison of two block-like values. Each cell is
// copied to an argument-stack slot before it is molded or compared, since molding
// allocates and the block's buffer may move meanwhile.
#include <algorithm>
#include <climits>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/value/type-registry.h"

namespace zor::block {

namespace {

int64_t length_of(const cell* block) { return memory::buffer_of(block->w2)->length(); }

int64_t clamped(const cell* block) { return std::clamp<int64_t>(static_cast<int32_t>(block->w1), 0, length_of(block)); }

// The budget less what was written, never below the smallest int.
int spend(int budget, int64_t written) { return static_cast<int>(std::max<int64_t>(int64_t(budget) - written, INT_MIN)); }


bool is_number(type_id type) { return type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT; }

bool comparable(type_id a, type_id b) {
    return a == b || (word::is_any_word_type(a) && word::is_any_word_type(b)) || (is_number(a) && is_number(b));
}

// Whether the output's last character ends a line or a field, so that no space is needed.
bool ends_with_separator(const cell* output) {
    int64_t length = string::length_from_head(output);
    if (length == 0) return false;
    uint32_t last = string::char_at(output, length - 1);
    return last == '\t' || last == '\n' || last == '\r';
}

int mold_with_brackets(cell* block, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent,
                       const char* open, const char* close) {
    if (mold_guard::emit_cycle_mark(block, output, &budget, true)) return budget;
    if (!only) {
        string::append_c_string(output, open);
        budget = spend(budget, 1);
    }
    budget = mold_values(block, output, only, all, flat, part, budget, indent);
    if (!only) {
        string::append_c_string(output, close);
        budget = spend(budget, 1);
    }
    return budget;
}

}  // namespace

int compare_cells(cell* value, cell* other, int op) {
    action_entry entry = type_registry::handler_of(value->type(), ACTION_COMPARE);
    if (!entry) return -2;
    return reinterpret_cast<action_handler<ACTION_COMPARE>>(entry)(value, other, op);
}

int mold_values(cell* block, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(block);
    cell* scratch = stack::push_slot();
    bool closing_line = false;
    {
        mold_guard::scope guard(held->w2);
        int64_t first = clamped(held);
        for (int64_t i = first; i < length_of(held); ++i) {
            if (part && budget < 1) return budget;
            *scratch = *(memory::buffer_of(held->w2)->head_cell() + i);
            bool is_first = i == first;
            if (!flat && (scratch->header & FLAG_NEW_LINE)) {
                if (is_first && !only) {
                    ++indent;
                    closing_line = true;
                }
                if (!(is_first && only)) {
                    string::append_c_string(output, "\n");
                    budget = spend(budget, 1);
                }
                budget = string::append_indent(output, indent, budget);
            } else if (!is_first) {
                string::append_c_string(output, " ");
                budget = spend(budget, 1);
            }
            budget = actions::dispatch_mold(scratch, output, false, all, flat, part, budget, indent);
        }
    }
    if (closing_line) {
        string::append_c_string(output, "\n");
        --indent;
        budget = string::append_indent(output, indent, spend(budget, 1));
    }
    return budget;
}

int compare_core(cell* value, cell* other, int op) {
    bool same_position = value->w2 == other->w2 && value->w1 == other->w1;
    if (op == COMPARE_SAME) return same_position ? 0 : -1;
    if (same_position) return 0;
    // A cyclic structure met again: equal only when both sides are inside the cycle.
    if (mold_guard::contains(value->w2)) return mold_guard::contains(other->w2) ? 0 : -1;
    int64_t left_length = std::max<int64_t>(length_of(value) - static_cast<int32_t>(value->w1), 0);
    int64_t right_length = std::max<int64_t>(length_of(other) - static_cast<int32_t>(other->w1), 0);
    if (is_equality_code(op) && left_length != right_length) return 1;

    stack::slot_mark mark;
    cell* left = stack::push_copy(value);
    cell* right = stack::push_copy(other);
    cell* a = stack::push_slot();
    cell* b = stack::push_slot();
    int answer = 0;
    {
        mold_guard::scope left_guard(left->w2);
        mold_guard::scope right_guard(right->w2);
        int64_t left_start = clamped(left);
        int64_t right_start = clamped(right);
        for (int64_t i = 0; i < std::min(left_length, right_length); ++i) {
            // The cells are read again each time: a comparison may have changed a series.
            if (left_start + i >= length_of(left) || right_start + i >= length_of(right)) break;
            *a = *(memory::buffer_of(left->w2)->head_cell() + left_start + i);
            *b = *(memory::buffer_of(right->w2)->head_cell() + right_start + i);
            if (!comparable(a->type(), b->type())) {
                answer = a->type() < b->type() ? -1 : 1;
                break;
            }
            answer = compare_cells(a, b, op);
            if (answer != 0) break;
        }
    }
    if (answer != 0) return answer;
    return left_length < right_length ? -1 : left_length > right_length ? 1 : 0;
}

int compare(cell* value, cell* other, int op) {
    type_id left = value->type();
    type_id right = other->type();
    if (left != right) {
        bool lit_form_code = op == COMPARE_LIT_FORM_EQUAL || op == COMPARE_LIT_FORM_EQUAL_FOLDED;
        bool path_forms = lit_form_code && ((left == TYPE_PATH && right == TYPE_LIT_PATH) ||
                                            (left == TYPE_LIT_PATH && right == TYPE_PATH));
        if (!path_forms) return -2;
    }
    return compare_core(value, other, op);
}

int form(cell* block, cell* output, cell* part, int budget) {
    if (mold_guard::emit_cycle_mark(block, output, &budget, false)) return budget;
    stack::slot_mark mark;
    cell* held = stack::push_copy(block);
    cell* scratch = stack::push_slot();
    mold_guard::scope guard(held->w2);
    for (int64_t i = clamped(held); i < length_of(held); ++i) {
        if (part && budget < 1) break;
        *scratch = *(memory::buffer_of(held->w2)->head_cell() + i);
        budget = actions::dispatch_form(scratch, output, part, budget);
        if (i + 1 < length_of(held) && !ends_with_separator(output)) {
            string::append_c_string(output, " ");
            budget = spend(budget, 1);
        }
    }
    return budget;
}

int mold(cell* block, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return mold_with_brackets(block, output, only, all, flat, part, budget, indent, "[", "]");
}

}  // namespace zor::block

namespace zor::paren {

int mold(cell* paren, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return block::mold_with_brackets(paren, output, only, all, flat, part, budget, indent, "(", ")");
}

void init_type() {
    type_registry::action_list list(TYPE_BLOCK);
    list.set<ACTION_MOLD>(&mold);
    list.unsupported(ACTION_SET_PATH);
    for (int a = ACTION_ABSOLUTE; a <= ACTION_XOR_T; ++a) list.unsupported(static_cast<action>(a));
    for (int a = ACTION_TRIM; a <= ACTION_DELETE; ++a) list.unsupported(static_cast<action>(a));
    for (int a = ACTION_OPEN; a <= ACTION_WRITE; ++a) list.unsupported(static_cast<action>(a));
    type_registry::register_type(TYPE_PAREN, TYPE_BLOCK, "paren!", list);
}

}  // namespace zor::paren
