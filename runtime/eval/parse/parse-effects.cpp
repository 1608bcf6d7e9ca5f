// What parse changes outside its own registers: the words of set, copy, set-words and
// collect set; the blocks that collect fills and delivers; the input itself under
// insert, remove and change; and the paren actions it evaluates.
//
// Every value built here lives in an argument-stack slot while anything allocates, and
// every change to the input goes through the series' own actions, so change handlers of
// an owning object fire as for any other change.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/parse/parse-machine.h"
#include "runtime/eval/stack.h"

namespace zor::parse {

namespace {

bool is_path_type(type_id t) { return t == TYPE_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH; }

int64_t length_of(const cell* series) { return memory::buffer_of(series->w2)->length(); }

// The innermost collect block, copied into a new slot.
cell* push_innermost_collect() {
    cell* stack_block = collect_stack_cell();
    memory::series_buffer* b = memory::buffer_of(stack_block->w2);
    return stack::push_copy(b->tail_cell() - 1);
}

// Whether a kept value can go into a series of the target's kind.
bool fits_target(const cell* target, const cell* value) {
    switch (series::kind_of(target->type())) {
        case series::ELEMENTS_CELLS: return true;
        case series::ELEMENTS_TEXT:
            return value->is(TYPE_CHAR) || series::kind_of(value->type()) == series::ELEMENTS_TEXT;
        case series::ELEMENTS_BINARY:
            return value->is(TYPE_CHAR) || value->is(TYPE_INTEGER) || value->is(TYPE_BINARY) ||
                   series::kind_of(value->type()) == series::ELEMENTS_TEXT;
        default: return false;
    }
}

}  // namespace

cell word_value(const cell* word) {
    const cell named = *word;
    const cell* value = word::get_value(&named);
    if (!value || value->is(TYPE_UNSET)) raise::throw_error(err::script_no_value, &named);
    return *value;
}

void assign(const cell* word, const cell* value) {
    cell* held_word = stack::push_copy(word);
    cell::set_type(held_word, TYPE_WORD);
    cell* held_value = stack::push_copy(value);
    word::set_value(held_word, held_value);
    stack::drop_slots(2);
}

void copy_input(machine& m, int64_t start, int64_t end, cell* out) {
    if (end < start) std::swap(start, end);
    const int64_t tail = m.tail();
    if (start > tail) start = tail;
    if (end > tail) end = tail;
    cell* source = stack::push_copy(m.input);
    series::copy_range(source, out, start, end - start);
    stack::drop_slots(1);
}

void keep_value(machine& m, const cell* value, bool pick) {
    (void)m;
    cell* held = stack::push_copy(value);
    cell* target = push_innermost_collect();
    if (pick && series::is_block_like(held->type())) {
        const int64_t n = length_of(held);
        for (int64_t i = static_cast<int32_t>(held->w1); i < n; ++i) {
            const cell item = memory::buffer_of(held->w2)->head_cell()[i];
            block::append_copy(target, &item);
        }
    } else {
        block::append_copy(target, held);
    }
    stack::drop_slots(2);
}

void keep_input(machine& m, int64_t start, bool pick) {
    int64_t end = m.index;
    if (end < start) std::swap(start, end);
    if (end > m.tail()) end = m.tail();
    const int64_t n = end - start;
    if (n <= 0) return;
    if (n == 1 || pick) {
        cell* item = stack::push_slot();
        for (int64_t i = start; i < end && i < m.tail(); ++i) {
            *item = item_at(m, i);
            keep_value(m, item, false);
        }
        stack::drop_slots(1);
        return;
    }
    cell* copy = stack::push_slot();
    copy_input(m, start, end, copy);
    keep_value(m, copy, false);
    stack::drop_slots(1);
}

void open_collect(machine& m) {
    cell* stack_block = collect_stack_cell();
    if (length_of(stack_block) + 1 > STACK_LIMIT) raise::throw_error(err::script_parse_stack);
    cell* fresh = stack::push_slot();
    block::make_empty(fresh, 8);
    block::append_copy(collect_stack_cell(), fresh);
    stack::drop_slots(1);
    m.collect_depth += 1;
}

void check_collect_target(const cell* word) {
    const cell target = word_value(word);
    if (!series::is_series_type(target.type()) || target.is(TYPE_VECTOR) || target.is(TYPE_IMAGE)) {
        cell bad = target;
        raise::throw_error(err::script_parse_into_bad, &bad);
    }
}

void close_collect(machine& m, bool success, int32_t target, int64_t word_cursor) {
    cell* collected = push_innermost_collect();
    {
        memory::series_buffer* b = memory::buffer_of(collect_stack_cell()->w2);
        b->tail -= sizeof(cell);
    }
    m.collect_depth -= 1;
    if (success) {
        if (target == COLLECT_PLAIN) {
            if (m.collect_depth > 0) keep_value(m, collected, false);
            else *m.answer = *collected;
        } else {
            cell* word = stack::push_copy(m.rule_at(word_cursor));
            if (target == COLLECT_SET) {
                assign(word, collected);
            } else {
                check_collect_target(word);
                cell* series = stack::push_slot();
                *series = word_value(word);
                const int64_t n = length_of(collected);
                for (int64_t i = 0; i < n; ++i) {
                    const cell item = memory::buffer_of(collected->w2)->head_cell()[i];
                    if (!fits_target(series, &item)) {
                        cell bad = *series;
                        raise::throw_error(err::script_parse_into_type, &bad);
                    }
                }
                int64_t start = static_cast<int32_t>(series->w1);
                if (target == COLLECT_AFTER || start > length_of(series)) start = length_of(series);
                if (start < 0) start = 0;
                const int64_t before = length_of(series);
                if (series::is_block_like(series->type())) {
                    cell* position = stack::push_copy(series);
                    position->w1 = static_cast<uint32_t>(start);
                    actions::dispatch_insert(position, collected, -1, false, 1);
                    stack::drop_slots(1);
                } else {
                    // One value at a time, each after the one before.
                    int64_t at = start;
                    cell* item = stack::push_slot();
                    for (int64_t i = 0; i < n; ++i) {
                        *item = memory::buffer_of(collected->w2)->head_cell()[i];
                        const int64_t length = length_of(series);
                        cell* here = stack::push_copy(series);
                        here->w1 = static_cast<uint32_t>(at);
                        actions::dispatch_insert(here, item, -1, false, 1);
                        at += length_of(series) - length;
                        stack::drop_slots(1);
                    }
                    stack::drop_slots(1);
                }
                cell* moved = stack::push_copy(series);
                moved->w1 = static_cast<uint32_t>(start + (length_of(series) - before));
                assign(word, moved);
                stack::drop_slots(2);
            }
            stack::drop_slots(1);
        }
    }
    stack::drop_slots(1);
}

void remove_input(machine& m, int64_t start) {
    int64_t from = start, to = m.index;
    if (to < from) std::swap(from, to);
    const int64_t tail = m.tail();
    if (from > tail) from = tail;
    if (to > tail) to = tail;
    m.index = from;
    if (to == from) return;
    cell* position = stack::push_copy(m.input);
    position->w1 = static_cast<uint32_t>(from);
    cell* part = stack::push_slot();
    integer::make_in(part, static_cast<int32_t>(to - from));
    actions::dispatch_remove(position, part, nullptr);
    stack::drop_slots(2);
}

void modification_value(machine& m, const cell* item, cell* out) {
    const type_id t = item->type();
    if (is_path_type(t)) {
        cell bad = *item;
        raise::throw_error(err::script_parse_rule, &bad);
    }
    if (t == TYPE_PAREN) {
        cell* paren = stack::push_copy(item);
        if (run_paren(m, paren, out)) return;
        stack::drop_slots(1);
    } else if (t == TYPE_WORD) {
        *out = word_value(item);
    } else {
        *out = *item;
    }
    if (out->is(TYPE_UNSET)) {
        cell bad = *item;
        raise::throw_error(err::script_no_value, &bad);
    }
}

void insert_input(machine& m, const cell* value, bool only) {
    const int64_t before = m.tail();
    cell* position = stack::push_copy(m.input);
    position->w1 = static_cast<uint32_t>(m.index);
    cell* held = stack::push_copy(value);
    actions::dispatch_insert(position, held, -1, only, 1);
    m.index += m.tail() - before;
    stack::drop_slots(2);
}

void change_input(machine& m, int64_t start, const cell* value, bool only) {
    int64_t from = start, to = m.index;
    if (to < from) std::swap(from, to);
    const int64_t before = m.tail();
    if (from > before) from = before;
    if (to > before) to = before;
    cell* position = stack::push_copy(m.input);
    position->w1 = static_cast<uint32_t>(from);
    cell* held = stack::push_copy(value);
    actions::dispatch_change(position, held, static_cast<int>(to - from), only, 1);
    m.index = to + (m.tail() - before);
    stack::drop_slots(2);
}

uint32_t run_paren(machine& m, const cell* paren, cell* out) {
    (void)m;
    cell* const top = stack::state.args_top;
    const uint32_t code = eval::eval_block(paren, false);
    if (code) return code;
    if (out) *out = *top;
    stack::state.args_top = top;
    return 0;
}

}  // namespace zor::parse
