// The conditional natives: if, unless, either, any, all, switch and case, and the case
// search that switch shares with compiled code.
//
// Each evaluates its branches with the interpreter, whose result lands in the native's
// result slot. A break, continue, return, exit or throw inside a branch comes back as the
// interpreter's pending exit: the native returns its code at once and leaves both stacks
// as they are, keeping no catch point of its own. The code blocks walked by any, all and
// case are held in argument-stack slots, since the argument itself becomes the result.
#include <algorithm>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/word-table.h"

namespace zor::natives {

namespace {

cell* base(int n) { return stack::argument(n); }

// Natives whose result is none! drop their arguments first.
void set_none_result() {
    stack::clear_frame_args();
    *stack::result_slot() = none::value;
}


// The cells of a block value's buffer (the block may change while its code runs).
int64_t length_of(const cell* block) { return memory::buffer_of(block->w2)->length(); }

// A walk over a code block: a copy of the block in a stack slot above the arguments, the
// position (clamped to the tail) and the tail as it was at the start.
struct walk {
    cell* code;
    int64_t position;
    int64_t tail;

    bool more() const { return position < std::min(tail, length_of(code)); }
};

walk start_walk(int spec_position) {
    block_argument(base(0), spec_position);
    cell* code = stack::push_copy(base(0));
    int64_t tail = length_of(code);
    return {code, std::clamp<int64_t>(series::index_of(code), 0, tail), tail};
}

// The next expression of the walk as the result (eval::eval_next in result mode), the
// position moving past it. An expression that is a plain chain is computed in place: no
// step of it can fail, allocate, call or be traced, so its frame could not be seen.
void walk_next(walk& w) {
    cell value;
    const int64_t next = eval::plain_expression(w.code, w.position, &value);
    if (next >= 0) {
        w.position = next;
        stack::set_result_truncate(&value);
        return;
    }
    w.position = eval::eval_next(w.code, w.position, false);
}

enum class case_search { no_match, match_without_block, found };

// The search of switch_find_case; *out is the cell written.
case_search find_case(bool push, bool want_block, cell** out) {
    cell* value = base(0);
    cell* cases = base(1);
    int64_t match = -1;
    int64_t length = 0;
    if (!value->is(TYPE_BLOCK) && series::is_block_like(cases->type()) && cases->w2 != 0) {
        length = length_of(cases);
        int64_t step = push ? 1 : 2;
        // Each candidate is compared from a stack slot: a comparison may allocate.
        cell* candidate = stack::push_slot();
        for (int64_t i = std::clamp<int64_t>(series::index_of(cases), 0, length); i < length_of(cases); i += step) {
            *candidate = *block::get_cell(cases, i);
            if (candidate->type() != value->type()) continue;
            if (actions::compare(value, candidate, COMPARE_EQUAL)) {
                match = i;
                break;
            }
        }
        stack::drop_slots(1);
        length = length_of(cases);
    }
    const cell* answer = &none::value;
    case_search status = case_search::no_match;
    if (match >= 0) {
        status = case_search::match_without_block;
        if (want_block) {
            for (int64_t i = match + 1; i < length; ++i) {
                if (block::get_cell(cases, i)->is(TYPE_BLOCK)) {
                    answer = block::get_cell(cases, i);
                    status = case_search::found;
                    break;
                }
            }
        } else {
            answer = block::get_cell(cases, match + 1 < length ? match + 1 : match);
            status = case_search::found;
        }
    }
    *out = push ? stack::push_copy(answer) : stack::set_result(answer);
    return status;
}

}  // namespace

cell* block_argument(cell* value, int spec_position) {
    if (!value->is(TYPE_BLOCK)) {
        cell types;
        typeset::clear(&types);
        typeset::add(&types, TYPE_BLOCK);
        raise::check_arg_type(&types, spec_position, value);
    }
    return value;
}

bool is_truthy(const cell* value) {
    if (value->is(TYPE_NONE)) return false;
    if (value->is(TYPE_LOGIC)) return logic::get_value(value) == 1;
    return true;
}

cell* switch_find_case(bool push, bool block) {
    cell* out = nullptr;
    find_case(push, block, &out);
    return out;
}

// if cond then-blk: the plain test, so an unset! condition is true.
uint32_t native_if(const native_invocation&) {
    if (logic::is_result_false()) {
        set_none_result();
        return 0;
    }
    return eval::do_block(block_argument(base(1), 1));
}

uint32_t native_unless(const native_invocation&) {
    if (!logic::is_result_false()) {
        set_none_result();
        return 0;
    }
    return eval::do_block(block_argument(base(1), 1));
}

// either cond true-blk false-blk: the strict test, so an unset! condition raises
// script/no-return.
uint32_t native_either(const native_invocation&) {
    bool truth = logic::is_result_true() != 0;
    return eval::do_block(block_argument(base(truth ? 1 : 2), truth ? 1 : 2));
}

uint32_t native_any(const native_invocation&) {
    walk w = start_walk(0);
    cell* top = stack::state.args_top;
    while (w.more()) {
        walk_next(w);
        if (stack::exit_pending()) return stack::pending_code;
        if (!logic::is_result_false()) {
            stack::keep_result_slot();
            return 0;
        }
        stack::state.args_top = top;
    }
    set_none_result();
    return 0;
}

uint32_t native_all(const native_invocation&) {
    walk w = start_walk(0);
    if (!w.more()) {
        set_none_result();
        return 0;
    }
    cell* top = stack::state.args_top;
    while (w.more()) {
        walk_next(w);
        if (stack::exit_pending()) return stack::pending_code;
        if (logic::is_result_false()) {
            set_none_result();
            return 0;
        }
        stack::state.args_top = top;
    }
    stack::keep_result_slot();
    return 0;
}

// switch value cases /default case: the first cell of the value's type that is equal to it
// (equality mode, so "A" finds "a" and 1 does not find 1.0), then the first block after it.
uint32_t native_switch(const native_invocation& call) {
    block_argument(base(1), 1);
    cell* found = nullptr;
    switch (find_case(true, true, &found)) {
        case case_search::found:
            return eval::do_block(found);
        case case_search::no_match:
            if (call.has(0)) return eval::do_block(block_argument(base(call.position(0)), 3));
            break;
        case case_search::match_without_block:
            break;
    }
    set_none_result();
    return 0;
}

// case cases /all: conditions and branches write into the result slot of a frame of the
// walk's own, so with /all the result is the value of the last evaluation.
uint32_t native_case(const native_invocation& call) {
    bool all_cases = call.has(0);
    walk w = start_walk(0);
    if (!w.more()) {
        set_none_result();
        return 0;
    }
    stack::push_call_frame(words::body);
    cell* frame_base = stack::state.args_base;
    bool taken = false;
    while (w.more()) {
        stack::state.args_top = frame_base;
        int64_t condition = w.position;
        walk_next(w);
        if (stack::exit_pending()) return stack::pending_code;
        if (!w.more()) {
            // The error names the condition as written: its one cell, or a block of its
            // cells when it is a longer expression (naming only its first cell would blame
            // a value that is not missing anything).
            const int64_t end = std::min(w.position, length_of(w.code));
            cell* named = nullptr;
            if (end - condition == 1) {
                named = stack::push_copy(block::get_cell(w.code, condition));
            } else {
                named = block::push_empty(end - condition);
                for (int64_t i = condition; i < end; ++i) {
                    cell* part = stack::push_copy(block::get_cell(w.code, i));
                    block::append_copy(named, part);
                    stack::drop_slots(1);
                }
            }
            raise::throw_error(err::script_need_value, named);
        }
        if (!logic::is_result_true()) {
            // The branch cell alone is skipped: a branch written as a longer expression is
            // not skipped whole.
            ++w.position;
            continue;
        }
        stack::keep_result_slot();
        if (block::get_cell(w.code, w.position)->is(TYPE_BLOCK)) {
            cell* branch = stack::push_copy(block::get_cell(w.code, w.position));
            uint32_t exit = eval::do_block(branch);
            if (exit) return exit;
            ++w.position;
        } else {
            walk_next(w);
            if (stack::exit_pending()) return stack::pending_code;
        }
        if (!all_cases) {
            stack::pop_frame_pass_result();
            stack::keep_result_slot();
            return 0;
        }
        taken = true;
    }
    stack::pop_frame_pass_result();
    if (!taken) {
        set_none_result();
        return 0;
    }
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
