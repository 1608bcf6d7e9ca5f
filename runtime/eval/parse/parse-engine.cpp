// The parse engine's states: entering and leaving rule blocks, pushing and finishing
// keyword operations, dispatching rule values and keywords, finding alternatives, and the
// two stacks this parse works above (cut back to where they were however it ends).
#include <vector>

#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/parse/parse-machine.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"

namespace zor::parse {

namespace {

cell rule_stack_block{TYPE_NONE, 0, 0, 0};
cell collect_stack_block{TYPE_NONE, 0, 0, 0};

void mark_stacks() {
    gc::mark_cells(&rule_stack_block, &rule_stack_block + 1);
    gc::mark_cells(&collect_stack_block, &collect_stack_block + 1);
}

enum keyword : uint8_t {
    KW_NO = 0, KW_ANY, KW_SOME, KW_OPT, KW_WHILE, KW_TO, KW_THRU, KW_SKIP, KW_END, KW_NONE, KW_FAIL,
    KW_BREAK, KW_REJECT, KW_NOT, KW_AHEAD, KW_INTO, KW_QUOTE, KW_COPY, KW_SET, KW_REMOVE, KW_INSERT,
    KW_CHANGE, KW_COLLECT, KW_KEEP, KW_IF, KW_CASE, KW_BAR,
};

// Keyword by canonical symbol id; the modifiers (only, pick, into/after/set after
// collect, end after to and thru) are recognised where they may stand.
std::vector<uint8_t> keywords;
int32_t only_symbol = 0, pick_symbol = 0, after_symbol = 0, into_symbol = 0, set_symbol = 0, end_symbol = 0;

void add_keyword(int32_t symbol, keyword k) {
    const int32_t id = symbol::canonical_id(symbol);
    if (id >= static_cast<int32_t>(keywords.size())) keywords.resize(size_t(id) + 1, KW_NO);
    keywords[size_t(id)] = k;
}

keyword keyword_of(const cell* value) {
    if (!value->is(TYPE_WORD)) return KW_NO;
    const int32_t id = symbol::canonical_id(static_cast<int32_t>(value->w2));
    return id >= 0 && id < static_cast<int32_t>(keywords.size()) ? static_cast<keyword>(keywords[size_t(id)]) : KW_NO;
}

bool is_word_of(const cell* value, int32_t canonical) {
    return value && value->is(TYPE_WORD) && symbol::canonical_id(static_cast<int32_t>(value->w2)) == canonical;
}

bool is_path_type(type_id t) { return t == TYPE_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH; }

// --- The rule stack -------------------------------------------------------------------------------

int64_t depth() { return rule_stack()->length(); }
cell* cell_at(int64_t i) { return rule_stack()->head_cell() + i; }

void truncate_block(cell* block, int64_t n) {
    memory::series_buffer* b = memory::buffer_of(block->w2);
    if (b->length() > n) b->tail = b->head + n * int64_t(sizeof(cell));
}

// Makes room for n more cells on the rule stack (this may allocate), so that the cells of
// a record can be read from their rooted places and written without an allocation between.
void reserve(int n) {
    if (depth() + n > STACK_LIMIT) raise::throw_error(err::script_parse_stack);
    memory::series_buffer* b = rule_stack();
    if (b->tail + n * int64_t(sizeof(cell)) <= b->data_end()) return;
    const int64_t before = depth();
    for (int i = 0; i < n; ++i) cell::init_unset(block::alloc_tail_cell(&rule_stack_block));
    truncate_block(&rule_stack_block, before);
}

// Appends a cell into room made by reserve.
void append_reserved(const cell& value) {
    memory::series_buffer* b = rule_stack();
    *reinterpret_cast<cell*>(b->tail) = value;
    b->tail += sizeof(cell);
}

// Cuts both stacks back to where this parse found them, however it ends.
class stack_restore {
public:
    stack_restore() : rules_(depth()), collects_(memory::buffer_of(collect_stack_block.w2)->length()) {}
    ~stack_restore() {
        truncate_block(&rule_stack_block, rules_);
        truncate_block(&collect_stack_block, collects_);
    }
    int64_t rules() const { return rules_; }
    int64_t collects() const { return collects_; }
    stack_restore(const stack_restore&) = delete;
    stack_restore& operator=(const stack_restore&) = delete;

private:
    int64_t rules_;
    int64_t collects_;
};

// The last index of the rule that starts at a position: a keyword's modifiers and
// arguments and the rule it applies to, or the value itself. Used to step over a rule
// that is not run (a count of 0, an into over an item that is no series).
int64_t rule_extent(const machine& m, int64_t at) {
    const int64_t last = m.rule_end() - 1;
    while (at < last) {
        const cell* v = m.rule_at(at);
        switch (keyword_of(v)) {
            case KW_ANY: case KW_SOME: case KW_OPT: case KW_WHILE: case KW_NOT: case KW_AHEAD:
            case KW_TO: case KW_THRU: case KW_INTO:
                at += 1;
                continue;
            case KW_REMOVE: {
                const cell* next = m.rule_at(at + 1);
                if (next->is(TYPE_GET_WORD)) return at + 1;
                at += 1;
                continue;
            }
            case KW_COPY: case KW_SET: case KW_CASE:
                at += 2;
                continue;
            case KW_QUOTE: case KW_IF:
                return at + 1;
            case KW_KEEP:
                if (is_word_of(m.rule_at(at + 1), pick_symbol)) at += 1;
                if (at < last && m.rule_at(at + 1)->is(TYPE_PAREN)) return at + 1;
                at += 1;
                continue;
            case KW_COLLECT: {
                const cell* next = m.rule_at(at + 1);
                const cell* word = m.rule_at(at + 2);
                if ((is_word_of(next, set_symbol) || is_word_of(next, into_symbol) || is_word_of(next, after_symbol)) &&
                    word && word->is(TYPE_WORD)) {
                    at += 3;
                } else {
                    at += 1;
                }
                continue;
            }
            case KW_INSERT:
                if (is_word_of(m.rule_at(at + 1), only_symbol)) at += 1;
                return at + 1 > last ? last : at + 1;
            case KW_CHANGE: {
                if (is_word_of(m.rule_at(at + 1), only_symbol)) at += 1;
                if (at >= last) return last;
                const int64_t rule_last = rule_extent(m, at + 1);
                return rule_last + 1 > last ? last : rule_last + 1;
            }
            default: break;
        }
        if (v->is(TYPE_INTEGER)) {
            const cell* next = m.rule_at(at + 1);
            if (next && next->is(TYPE_INTEGER)) at += 1;
            at += 1;
            continue;
        }
        return at;
    }
    return at > last ? last : at;
}

// --- The engine --------------------------------------------------------------------------------

enum state_id : uint8_t {
    PUSH_BLOCK, POP_BLOCK, PUSH_RULE, POP_RULE, CHECK_PENDING, DISPATCH, NEXT_INPUT, NEXT_ACTION,
    MATCH, MATCH_RULE, FIND_ALTERNATIVE, WORD, END, EXIT,
};

class engine {
public:
    explicit engine(machine& m) : m_(m) {}
    uint32_t run(int64_t outermost_cursor);

private:
    machine& m_;
    cell* value_ = nullptr;           // rooted: the value being dispatched (from the rules or a word)
    bool from_word_ = false;          // value_ is a word's value: words in it match literally
    uint32_t exit_code_ = 0;

    bool top_is_operation() {
        const int64_t d = depth();
        return d > m_.stack_base && cell_at(d - 1)->is(TYPE_PAIR);
    }
    [[noreturn]] void raise_end_after(int64_t at) {
        cell keyword = *m_.rule_at(at);
        raise::throw_error(err::script_parse_end, &keyword);
    }
    [[noreturn]] void raise_rule(const cell* value) {
        cell v = *value;
        raise::throw_error(err::script_parse_rule, &v);
    }
    bool trace(trace_event e) {
        if (!m_.callback) return true;
        if (fire(m_, e)) return true;
        m_.stopped = true;
        return false;
    }
    void check_infinite(const cell& block);
    void enter_block(const cell& block);
    state_id pop_block();
    state_id pop_rule();
    state_id dispatch();
    state_id match_rule();
    state_id find_alternative();
    state_id word();
    state_id keyword_rule(keyword k);
    state_id leave_repetition(bool success);
    state_id count_rule();
    state_id type_rule();
    void pop_operation_frame_quietly();
};

void engine::check_infinite(const cell& block) {
    // The block frames from the top down: the block each one entered is the current rule
    // block for the topmost, else the enclosing block of the frame above it. An into
    // frame changes the input, so the search ends there.
    cell entered = *m_.rules;
    for (int64_t top = depth() - 1; top >= m_.stack_base;) {
        const cell* c = cell_at(top);
        if (c->is(TYPE_PAIR)) {
            if (static_cast<int32_t>(c->w2) >= 0) return;
            top -= 3;
            continue;
        }
        const cell* record = c;
        const cell* enclosing = cell_at(top - 1);
        if (entered.w2 == block.w2 && entered.w1 == block.w1 && static_cast<int32_t>(record->w2) == m_.index) {
            cell rule = block;
            raise::throw_error(err::script_parse_infinite, &rule);
        }
        entered = *enclosing;
        top -= 2;
    }
}

void engine::enter_block(const cell& block) {
    check_infinite(block);
    reserve(2);
    // From here nothing allocates: block may be a copy held in no root.
    append_reserved(*m_.rules);
    cell record;
    triple::make_at(&record, static_cast<int32_t>(m_.cursor), static_cast<int32_t>(m_.index),
                    static_cast<int32_t>(m_.tail()));
    append_reserved(record);
    *m_.rules = block;
    if (static_cast<int32_t>(m_.rules->w1) < 0) m_.rules->w1 = 0;
    m_.cursor = static_cast<int32_t>(m_.rules->w1) - 1;
    m_.match = true;
}

state_id engine::pop_block() {
    const int64_t d = depth();
    if (d - 2 <= m_.stack_base) {
        if (!trace(TRACE_POP)) return EXIT;
        return END;
    }
    const cell enclosing = *cell_at(d - 2);
    const int32_t cursor = static_cast<int32_t>(cell_at(d - 1)->w1);
    truncate_block(&rule_stack_block, d - 2);
    *m_.rules = enclosing;
    m_.cursor = cursor;
    if (!trace(TRACE_POP)) return EXIT;
    if (top_is_operation()) return POP_RULE;
    return m_.match ? NEXT_ACTION : FIND_ALTERNATIVE;
}

void engine::pop_operation_frame_quietly() {
    const int64_t d = depth();
    const cell kind_cell = *cell_at(d - 1);
    const int32_t kind = static_cast<int32_t>(kind_cell.w2);
    const int32_t extra = static_cast<int32_t>(kind_cell.w3);
    if (kind >= 0) {
        m_.set_input(cell_at(d - 4));
        m_.part = static_cast<int32_t>(cell_at(d - 3)->w1);
        m_.index = static_cast<int32_t>(cell_at(d - 2)->w2);
        truncate_block(&rule_stack_block, d - 4);
        return;
    }
    if (kind == OP_CASE) m_.case_sensitive = extra != 0;
    if (kind == OP_COLLECT) close_collect(m_, false, extra, 0);
    truncate_block(&rule_stack_block, d - 3);
}

state_id engine::leave_repetition(bool success) {
    // Frames above the innermost repetition of this parse are abandoned on the way.
    for (;;) {
        const int64_t d = depth();
        if (d - 2 <= m_.stack_base) break;
        const cell* top = cell_at(d - 1);
        if (top->is(TYPE_PAIR)) {
            const int32_t kind = static_cast<int32_t>(top->w2);
            if (kind == OP_REPEAT || kind == OP_WHILE) {
                const int32_t start = static_cast<int32_t>(cell_at(d - 2)->w2);
                truncate_block(&rule_stack_block, d - 3);
                m_.match = success;
                if (!success) m_.index = start;
                if (m_.index > m_.tail()) m_.index = m_.tail();
                return CHECK_PENDING;
            }
            pop_operation_frame_quietly();
            continue;
        }
        const cell enclosing = *cell_at(d - 2);
        m_.cursor = static_cast<int32_t>(top->w1);
        truncate_block(&rule_stack_block, d - 2);
        *m_.rules = enclosing;
    }
    // No repetition to end: break ends the current block with success, reject fails it.
    m_.match = success;
    if (success) {
        m_.cursor = m_.rule_end();
        return NEXT_ACTION;
    }
    return CHECK_PENDING;
}

state_id engine::pop_rule() {
    const int64_t d = depth();
    const cell kind_cell = *cell_at(d - 1);
    const cell position = *cell_at(d - 2);
    const cell counts = *cell_at(d - 3);
    const int32_t kind = static_cast<int32_t>(kind_cell.w2);
    const int32_t extra = static_cast<int32_t>(kind_cell.w3);
    const int32_t frame_cursor = static_cast<int32_t>(position.w1);
    const int32_t start = static_cast<int32_t>(position.w2);
    const int32_t start_length = static_cast<int32_t>(position.w3);
    const int32_t minimum = static_cast<int32_t>(counts.w1);
    const int32_t maximum = static_cast<int32_t>(counts.w2);
    const int32_t counter = static_cast<int32_t>(counts.w3);

    if (kind >= 0) {  // into: the sub-series must be consumed whole
        const bool success = m_.match && m_.index >= m_.tail();
        m_.set_input(cell_at(d - 4));
        m_.part = minimum;
        m_.index = success ? start + 1 : start;
        m_.match = success;
        truncate_block(&rule_stack_block, d - 4);
        return CHECK_PENDING;
    }

    switch (kind) {
        case OP_REPEAT:
        case OP_WHILE:
            if (m_.match) {
                bool again = maximum < 0 || counter < maximum;
                // Without progress an unlimited repetition would never end.
                if (again && kind == OP_REPEAT && maximum < 0 && m_.index == start && m_.tail() == start_length) {
                    again = false;
                }
                if (again) {
                    cell* c = cell_at(d - 3);
                    c->w3 = static_cast<uint32_t>(counter + 1);
                    c = cell_at(d - 2);
                    c->w2 = static_cast<uint32_t>(m_.index);
                    c->w3 = static_cast<uint32_t>(m_.tail());
                    m_.cursor = frame_cursor;
                    if (!trace(TRACE_ITERATE)) return EXIT;
                    return NEXT_ACTION;
                }
                m_.match = counter >= minimum;
            } else {
                m_.match = counter - 1 >= minimum;
                m_.index = start;
            }
            if (!m_.match) m_.index = start;
            break;
        case OP_TO:
        case OP_THRU:
            if (m_.match) {
                if (kind == OP_TO) m_.index = start;
                break;
            }
            if (start + 1 <= m_.end()) {
                cell_at(d - 2)->w2 = static_cast<uint32_t>(start + 1);
                m_.index = start + 1;
                m_.cursor = frame_cursor;
                m_.match = true;
                if (!trace(TRACE_POP) || !trace(TRACE_ITERATE)) return EXIT;
                return NEXT_ACTION;
            }
            m_.index = minimum;  // where the search began
            break;
        case OP_COPY:
        case OP_SET:
            if (m_.match) {
                cell* value = stack::push_slot();
                if (kind == OP_COPY) copy_input(m_, start, m_.index, value);
                else if (m_.index > start) *value = item_at(m_, start);
                else *value = none::value;
                cell* word = stack::push_copy(m_.rule_at(frame_cursor));
                assign(word, value);
                stack::drop_slots(2);
            }
            break;
        case OP_NOT:
            m_.match = !m_.match;
            m_.index = start;
            break;
        case OP_AHEAD:
            m_.index = start;
            break;
        case OP_REMOVE:
            if (m_.match) remove_input(m_, start);
            break;
        case OP_KEEP:
            if (m_.match) keep_input(m_, start, extra != 0);
            break;
        case OP_COLLECT:
            close_collect(m_, m_.match, extra, frame_cursor);
            break;
        case OP_CHANGE: {
            const cell* item = m_.rule_at(m_.cursor + 1);
            if (!item) raise_end_after(frame_cursor);
            if (m_.match) {
                cell* value = stack::push_slot();
                cell* item_copy = stack::push_copy(item);
                modification_value(m_, item_copy, value);
                if (stack::exit_pending()) {
                    exit_code_ = stack::pending_code;
                    return EXIT;
                }
                change_input(m_, start, value, extra != 0);
                stack::drop_slots(2);
            }
            m_.cursor += 1;
            break;
        }
        case OP_CASE:
            m_.case_sensitive = extra != 0;
            break;
        default: break;
    }
    truncate_block(&rule_stack_block, depth() - 3);
    return CHECK_PENDING;
}

state_id engine::count_rule() {
    const cell* first = m_.rule_at(m_.cursor);
    int32_t minimum = integer::read_cell(first);
    int32_t maximum = minimum;
    bool range = false;
    if (const cell* next = m_.rule_at(m_.cursor + 1)) {
        cell second = *next;
        if (second.is(TYPE_WORD) && keyword_of(&second) == KW_NO) {
            cell* holder = word::get_value(&second);
            if (holder && holder->is(TYPE_INTEGER)) second = *holder;
        }
        if (second.is(TYPE_INTEGER)) {
            range = true;
            maximum = integer::read_cell(&second);
            m_.cursor += 1;
        }
    }
    if (minimum < 0 || maximum < 0) {
        cell bad = *m_.rule_at(minimum < 0 ? m_.cursor - (range ? 1 : 0) : m_.cursor);
        raise::throw_error(err::script_out_of_range, &bad);
    }
    if (maximum < minimum) raise_rule(m_.rule_at(m_.cursor));
    if (!m_.rule_at(m_.cursor + 1)) raise_end_after(m_.cursor);
    if (maximum == 0) {
        m_.cursor = rule_extent(m_, m_.cursor + 1);
        m_.match = true;
        return CHECK_PENDING;
    }
    m_.pending_kind = OP_REPEAT;
    m_.pending_min = minimum;
    m_.pending_max = maximum;
    m_.pending_extra = 0;
    return PUSH_RULE;
}

state_id engine::type_rule() {
    if (m_.kind == INPUT_TEXT) raise::throw_error(err::script_parse_unsupported);
    const int64_t n = match_value(m_, value_);
    m_.match = n >= 0;
    if (m_.match) m_.index += n;
    if (!trace(TRACE_MATCH)) return EXIT;
    return CHECK_PENDING;
}

state_id engine::dispatch() {
    const type_id t = value_->type();
    if (from_word_ && (word::is_any_word_type(t) || t == TYPE_PAREN)) return MATCH;
    switch (t) {
        case TYPE_WORD: return WORD;
        case TYPE_BLOCK:
            enter_block(*value_);
            if (!trace(TRACE_PUSH)) return EXIT;
            return NEXT_ACTION;
        case TYPE_SET_WORD: {
            cell* position = stack::push_copy(m_.input);
            position->w1 = static_cast<uint32_t>(m_.index);
            cell* word = stack::push_copy(value_);
            assign(word, position);
            stack::drop_slots(2);
            return NEXT_ACTION;
        }
        case TYPE_GET_WORD: {
            const cell position = word_value(value_);
            if (position.type() != m_.input->type() || position.w2 != m_.input->w2) {
                cell bad = *value_;
                raise::throw_error(err::script_parse_invalid_ref, &bad);
            }
            int64_t at = static_cast<int32_t>(position.w1);
            if (at < 0) at = 0;
            if (at > m_.tail()) at = m_.tail();
            m_.index = at;
            m_.match = true;
            return CHECK_PENDING;
        }
        case TYPE_PAREN: {
            cell* paren = stack::push_copy(value_);
            exit_code_ = run_paren(m_, paren, nullptr);
            if (exit_code_) return EXIT;
            stack::drop_slots(1);
            if (m_.index > m_.tail()) m_.index = m_.tail();
            if (!trace(TRACE_PAREN)) return EXIT;
            return CHECK_PENDING;
        }
        case TYPE_INTEGER:
            if (from_word_) {
                // A count held by a word: the same as written in the rules.
                const int32_t minimum = integer::read_cell(value_);
                if (minimum < 0) {
                    cell bad = *value_;
                    raise::throw_error(err::script_out_of_range, &bad);
                }
                if (!m_.rule_at(m_.cursor + 1)) raise_end_after(m_.cursor);
                if (minimum == 0) {
                    m_.cursor = rule_extent(m_, m_.cursor + 1);
                    return CHECK_PENDING;
                }
                m_.pending_kind = OP_REPEAT;
                m_.pending_min = m_.pending_max = minimum;
                m_.pending_extra = 0;
                return PUSH_RULE;
            }
            return count_rule();
        case TYPE_DATATYPE:
        case TYPE_TYPESET: return type_rule();
        default:
            if (is_path_type(t)) raise_rule(value_);
            return MATCH;
    }
}

state_id engine::match_rule() {
    const int64_t keyword_at = m_.cursor;
    const cell* next = m_.rule_at(m_.cursor + 1);
    if (!next) raise_end_after(keyword_at);
    m_.cursor += 1;
    *value_ = *next;
    from_word_ = false;
    if (value_->is(TYPE_WORD)) {
        if (keyword_of(value_) != KW_NO) return WORD;
        *value_ = word_value(value_);
        from_word_ = true;
    }
    if (value_->is(TYPE_BLOCK)) {
        enter_block(*value_);
        if (!trace(TRACE_PUSH)) return EXIT;
        return NEXT_ACTION;
    }
    const int32_t kind = m_.pending_kind;
    if ((kind == OP_TO || kind == OP_THRU) && is_simple_search(value_)) {
        int64_t found = 0, length = 0;
        const bool hit = search(m_, value_, &found, &length);
        truncate_block(&rule_stack_block, depth() - 3);
        m_.match = hit;
        if (hit) m_.index = kind == OP_TO ? found : found + length;
        if (!trace(TRACE_MATCH)) return EXIT;
        return CHECK_PENDING;
    }
    if (kind == OP_REPEAT && counts_at_once(m_, value_)) {
        const int64_t n = count_run(m_, value_, m_.pending_max);
        truncate_block(&rule_stack_block, depth() - 3);
        m_.match = n >= m_.pending_min;
        if (m_.match) m_.index += n;
        if (!trace(TRACE_MATCH)) return EXIT;
        return CHECK_PENDING;
    }
    return DISPATCH;
}

state_id engine::find_alternative() {
    const int64_t end = m_.rule_end();
    for (int64_t i = m_.cursor + 1; i < end; ++i) {
        if (keyword_of(m_.rule_at(i)) == KW_BAR) {
            m_.cursor = i;
            m_.index = static_cast<int32_t>(cell_at(depth() - 1)->w2);
            if (m_.index > m_.tail()) m_.index = m_.tail();
            m_.match = true;
            return NEXT_ACTION;
        }
    }
    return POP_BLOCK;
}

state_id engine::word() {
    const keyword k = from_word_ ? KW_NO : keyword_of(value_);
    if (k != KW_NO) return keyword_rule(k);
    const cell v = word_value(value_);
    *value_ = v;
    from_word_ = true;
    return DISPATCH;
}

state_id engine::keyword_rule(keyword k) {
    auto need_rule = [&](int64_t after) {
        if (!m_.rule_at(after + 1)) raise_end_after(m_.cursor);
    };
    auto pend = [&](int32_t kind, int32_t minimum, int32_t maximum, int32_t extra) {
        m_.pending_kind = kind;
        m_.pending_min = minimum;
        m_.pending_max = maximum;
        m_.pending_extra = extra;
        return PUSH_RULE;
    };
    switch (k) {
        case KW_BAR:
            // After a success the block has matched: the alternatives after it are skipped.
            m_.cursor = m_.rule_end();
            return NEXT_ACTION;
        case KW_SKIP:
            m_.match = m_.index < m_.end();
            if (m_.match) m_.index += 1;
            if (!trace(TRACE_MATCH)) return EXIT;
            return CHECK_PENDING;
        case KW_END:
            m_.match = m_.index >= m_.end();
            if (!trace(TRACE_MATCH)) return EXIT;
            return CHECK_PENDING;
        case KW_NONE:
            m_.match = true;
            return CHECK_PENDING;
        case KW_FAIL:
            m_.match = false;
            return CHECK_PENDING;
        case KW_BREAK: return leave_repetition(true);
        case KW_REJECT: return leave_repetition(false);
        case KW_ANY: need_rule(m_.cursor); return pend(OP_REPEAT, 0, -1, 0);
        case KW_SOME: need_rule(m_.cursor); return pend(OP_REPEAT, 1, -1, 0);
        case KW_OPT: need_rule(m_.cursor); return pend(OP_REPEAT, 0, 1, 0);
        case KW_WHILE: need_rule(m_.cursor); return pend(OP_WHILE, 0, -1, 0);
        case KW_NOT: need_rule(m_.cursor); return pend(OP_NOT, 0, 0, 0);
        case KW_AHEAD: need_rule(m_.cursor); return pend(OP_AHEAD, 0, 0, 0);
        case KW_TO:
        case KW_THRU:
            need_rule(m_.cursor);
            if (is_word_of(m_.rule_at(m_.cursor + 1), end_symbol)) {
                m_.cursor += 1;
                m_.index = m_.end();
                m_.match = true;
                if (!trace(TRACE_MATCH)) return EXIT;
                return CHECK_PENDING;
            }
            return pend(k == KW_TO ? OP_TO : OP_THRU, static_cast<int32_t>(m_.index), 0, 0);
        case KW_COPY:
        case KW_SET: {
            const cell* target = m_.rule_at(m_.cursor + 1);
            if (!target || !m_.rule_at(m_.cursor + 2)) raise_end_after(m_.cursor);
            if (!target->is(TYPE_WORD)) raise_rule(target);
            m_.cursor += 1;
            return pend(k == KW_COPY ? OP_COPY : OP_SET, 0, 0, 0);
        }
        case KW_REMOVE: {
            need_rule(m_.cursor);
            const cell* next = m_.rule_at(m_.cursor + 1);
            if (is_path_type(next->type())) raise_rule(next);
            if ((next->is(TYPE_WORD) && keyword_of(next) == KW_NO) || next->is(TYPE_GET_WORD)) {
                const cell position = word_value(next);
                if (position.type() == m_.input->type() && position.w2 == m_.input->w2) {
                    m_.cursor += 1;
                    const int64_t from = m_.index;
                    int64_t to = static_cast<int32_t>(position.w1);
                    if (to < 0) to = 0;
                    if (to > m_.tail()) to = m_.tail();
                    m_.index = to;
                    remove_input(m_, from);
                    m_.match = true;
                    return CHECK_PENDING;
                }
                if (next->is(TYPE_GET_WORD)) {
                    cell bad = *next;
                    raise::throw_error(err::script_parse_invalid_ref, &bad);
                }
            }
            return pend(OP_REMOVE, 0, 0, 0);
        }
        case KW_QUOTE:
            need_rule(m_.cursor);
            m_.cursor += 1;
            *value_ = *m_.rule_at(m_.cursor);
            from_word_ = true;
            return MATCH;
        case KW_INTO: {
            need_rule(m_.cursor);
            const cell item = m_.kind == INPUT_CELLS && m_.index < m_.end() ? item_at(m_, m_.index) : none::value;
            const type_id t = item.type();
            if (series::kind_of(t) != series::ELEMENTS_CELLS && series::kind_of(t) != series::ELEMENTS_TEXT &&
                series::kind_of(t) != series::ELEMENTS_BINARY) {
                m_.match = false;
                m_.cursor = rule_extent(m_, m_.cursor + 1);
                if (!trace(TRACE_MATCH)) return EXIT;
                return CHECK_PENDING;
            }
            if (t == TYPE_MAP || t == TYPE_VECTOR) {
                m_.match = false;
                m_.cursor = rule_extent(m_, m_.cursor + 1);
                return CHECK_PENDING;
            }
            reserve(4);
            const cell sub = m_.kind == INPUT_CELLS ? item_at(m_, m_.index) : none::value;
            cell record[3];
            triple::make_at(&record[0], static_cast<int32_t>(m_.part), 0, 1);
            triple::make_at(&record[1], static_cast<int32_t>(m_.cursor), static_cast<int32_t>(m_.index),
                            static_cast<int32_t>(m_.tail()));
            pair::make_at(&record[2], static_cast<int32_t>(t), 0);
            append_reserved(*m_.input);
            for (const cell& c : record) append_reserved(c);
            m_.set_input(&sub);
            int64_t at = static_cast<int32_t>(sub.w1);
            if (at < 0) at = 0;
            if (at > m_.tail()) at = m_.tail();
            m_.index = at;
            m_.part = -1;
            if (!trace(TRACE_PUSH)) return EXIT;
            return MATCH_RULE;
        }
        case KW_INSERT: {
            bool only = false;
            if (is_word_of(m_.rule_at(m_.cursor + 1), only_symbol)) {
                only = true;
                m_.cursor += 1;
            }
            need_rule(m_.cursor);
            m_.cursor += 1;
            cell* value = stack::push_slot();
            cell* item = stack::push_copy(m_.rule_at(m_.cursor));
            modification_value(m_, item, value);
            if (stack::exit_pending()) {
                exit_code_ = stack::pending_code;
                return EXIT;
            }
            insert_input(m_, value, only);
            stack::drop_slots(2);
            m_.match = true;
            return CHECK_PENDING;
        }
        case KW_CHANGE: {
            bool only = false;
            if (is_word_of(m_.rule_at(m_.cursor + 1), only_symbol)) {
                only = true;
                m_.cursor += 1;
            }
            need_rule(m_.cursor);
            return pend(OP_CHANGE, 0, 0, only ? 1 : 0);
        }
        case KW_COLLECT: {
            int32_t target = COLLECT_PLAIN;
            const cell* next = m_.rule_at(m_.cursor + 1);
            const cell* word = m_.rule_at(m_.cursor + 2);
            if (word && word->is(TYPE_WORD)) {
                if (is_word_of(next, set_symbol)) target = COLLECT_SET;
                else if (is_word_of(next, into_symbol) && keyword_of(word) == KW_NO) target = COLLECT_INTO;
                else if (is_word_of(next, after_symbol)) target = COLLECT_AFTER;
            }
            if (target != COLLECT_PLAIN) {
                m_.cursor += 2;
                if (target != COLLECT_SET) check_collect_target(m_.rule_at(m_.cursor));
            }
            need_rule(m_.cursor);
            open_collect(m_);
            return pend(OP_COLLECT, 0, 0, target);
        }
        case KW_KEEP: {
            if (m_.collect_depth == 0) raise::throw_error(err::script_parse_keep);
            bool pick = false;
            if (is_word_of(m_.rule_at(m_.cursor + 1), pick_symbol)) {
                pick = true;
                m_.cursor += 1;
            }
            need_rule(m_.cursor);
            const cell* next = m_.rule_at(m_.cursor + 1);
            if (next->is(TYPE_PAREN)) {
                m_.cursor += 1;
                cell* value = stack::push_slot();
                cell* paren = stack::push_copy(next);
                exit_code_ = run_paren(m_, paren, value);
                if (exit_code_) return EXIT;
                keep_value(m_, value, pick);
                stack::drop_slots(2);
                if (m_.index > m_.tail()) m_.index = m_.tail();
                if (!trace(TRACE_PAREN)) return EXIT;
                m_.match = true;
                return CHECK_PENDING;
            }
            return pend(OP_KEEP, 0, 0, pick ? 1 : 0);
        }
        case KW_IF: {
            const cell* next = m_.rule_at(m_.cursor + 1);
            if (!next || !next->is(TYPE_PAREN)) raise_end_after(m_.cursor);
            m_.cursor += 1;
            cell* value = stack::push_slot();
            cell* paren = stack::push_copy(next);
            exit_code_ = run_paren(m_, paren, value);
            if (exit_code_) return EXIT;
            m_.match = natives::is_truthy(value) && !value->is(TYPE_UNSET);
            stack::drop_slots(2);
            if (m_.index > m_.tail()) m_.index = m_.tail();
            if (!trace(TRACE_PAREN)) return EXIT;
            return CHECK_PENDING;
        }
        case KW_CASE: {
            const cell* next = m_.rule_at(m_.cursor + 1);
            if (!next || !next->is(TYPE_WORD)) raise_end_after(m_.cursor);
            const cell flag = word_value(next);
            m_.cursor += 1;
            need_rule(m_.cursor);
            const int32_t saved = m_.case_sensitive ? 1 : 0;
            m_.case_sensitive = natives::is_truthy(&flag);
            return pend(OP_CASE, 0, 0, saved);
        }
        case KW_NO: break;
    }
    raise_rule(value_);
}

uint32_t engine::run(int64_t outermost_cursor) {
    // The outermost block's frame: the rules block itself, entered at the rules' index.
    value_ = stack::push_slot();
    reserve(2);
    append_reserved(*m_.rules);
    cell record;
    triple::make_at(&record, static_cast<int32_t>(outermost_cursor), static_cast<int32_t>(m_.index),
                    static_cast<int32_t>(m_.tail()));
    append_reserved(record);
    m_.cursor = outermost_cursor;
    m_.match = true;
    state_id s = trace(TRACE_PUSH) ? NEXT_ACTION : EXIT;
    for (;;) {
        switch (s) {
            case PUSH_BLOCK:  // entered directly by dispatch and match_rule
                s = NEXT_ACTION;
                break;
            case POP_BLOCK: s = pop_block(); break;
            case PUSH_RULE: {
                reserve(3);
                cell frame[3];
                triple::make_at(&frame[0], m_.pending_min, m_.pending_max, 1);
                triple::make_at(&frame[1], static_cast<int32_t>(m_.cursor), static_cast<int32_t>(m_.index),
                                static_cast<int32_t>(m_.tail()));
                pair::make_at(&frame[2], m_.pending_kind, m_.pending_extra);
                for (const cell& c : frame) append_reserved(c);
                s = trace(TRACE_PUSH) ? MATCH_RULE : EXIT;
                break;
            }
            case POP_RULE: s = pop_rule(); break;
            case CHECK_PENDING:
                if (top_is_operation()) s = POP_RULE;
                else s = m_.match ? NEXT_ACTION : FIND_ALTERNATIVE;
                break;
            case DISPATCH: s = dispatch(); break;
            case NEXT_INPUT:
                if (m_.index < m_.end()) m_.index += 1;
                s = CHECK_PENDING;
                break;
            case NEXT_ACTION: {
                m_.cursor += 1;
                const cell* v = m_.rule_at(m_.cursor);
                if (!v) {
                    s = top_is_operation() ? POP_RULE : POP_BLOCK;
                    break;
                }
                *value_ = *v;
                from_word_ = false;
                s = trace(TRACE_FETCH) ? DISPATCH : EXIT;
                break;
            }
            case MATCH: {
                const int64_t n = match_value(m_, value_);
                m_.match = n >= 0;
                if (m_.match) m_.index += n;
                s = trace(TRACE_MATCH) ? CHECK_PENDING : EXIT;
                break;
            }
            case MATCH_RULE: s = match_rule(); break;
            case FIND_ALTERNATIVE: s = find_alternative(); break;
            case WORD: s = word(); break;
            case END:
                m_.match = m_.match && m_.index >= m_.end();
                trace(TRACE_END);
                return 0;
            case EXIT: return exit_code_;
        }
    }
}

}  // namespace

// --- The stacks -------------------------------------------------------------------------------------

memory::series_buffer* rule_stack() { return memory::buffer_of(rule_stack_block.w2); }
cell* collect_stack_cell() { return &collect_stack_block; }

cell rule_stack_value(const machine& m) {
    cell value = rule_stack_block;
    value.w1 = static_cast<uint32_t>(m.stack_base);
    return value;
}

int64_t rule_stack_depth() { return rule_stack_block.is(TYPE_BLOCK) ? depth() : 0; }
int64_t collect_stack_depth() {
    return collect_stack_block.is(TYPE_BLOCK) ? memory::buffer_of(collect_stack_block.w2)->length() : 0;
}

void machine::set_input(const cell* series) {
    *input = *series;
    kind = kind_of_input(series->type());
}

void init_stacks() {
    if (!rule_stack_block.is(TYPE_BLOCK)) {
        gc::add_mark_callback(&mark_stacks);
        block::make_empty(&rule_stack_block, 100);
        block::make_empty(&collect_stack_block, 8);
    }
    keywords.clear();
    const struct {
        int32_t symbol;
        keyword k;
    } table[] = {
        {symbols::any, KW_ANY},       {symbols::some, KW_SOME},       {symbols::opt, KW_OPT},
        {symbols::while_, KW_WHILE},  {symbols::to, KW_TO},           {symbols::thru, KW_THRU},
        {symbols::skip, KW_SKIP},     {symbols::end, KW_END},         {symbols::none, KW_NONE},
        {symbols::fail, KW_FAIL},     {symbols::break_, KW_BREAK},    {symbols::reject, KW_REJECT},
        {symbols::not_, KW_NOT},      {symbols::ahead, KW_AHEAD},     {symbols::into, KW_INTO},
        {symbols::quote, KW_QUOTE},   {symbols::copy, KW_COPY},       {symbols::set, KW_SET},
        {symbols::remove, KW_REMOVE}, {symbols::insert, KW_INSERT},   {words::change.symbol(), KW_CHANGE},
        {symbols::collect, KW_COLLECT}, {symbols::keep, KW_KEEP},     {symbols::if_, KW_IF},
        {symbols::case_, KW_CASE},    {symbols::bar, KW_BAR},
    };
    for (const auto& entry : table) add_keyword(entry.symbol, entry.k);
    only_symbol = symbol::canonical_id(symbols::only);
    pick_symbol = symbol::canonical_id(symbols::pick);
    after_symbol = symbol::canonical_id(symbols::after);
    into_symbol = symbol::canonical_id(symbols::into);
    set_symbol = symbol::canonical_id(symbols::set);
    end_symbol = symbol::canonical_id(symbols::end);
}

uint32_t run(const request& r, cell* result) {
    stack_restore restore;
    // A parse inside another one (from an action or a tracer) marks where the enclosing
    // parse's records end.
    if (restore.rules() > 0) {
        cell marker;
        triple::make_at(&marker, static_cast<int32_t>(restore.rules()), static_cast<int32_t>(restore.collects()), 0);
        reserve(1);
        append_reserved(marker);
    }
    machine m;
    m.input = r.input;
    m.rules = r.rules;
    m.answer = stack::push_slot();
    *m.answer = none::value;
    m.callback = r.callback;
    m.kind = kind_of_input(r.input->type());
    m.case_sensitive = r.case_sensitive;
    m.stack_base = depth();
    m.collect_base = restore.collects();
    int64_t index = static_cast<int32_t>(r.input->w1);
    if (index < 0) index = 0;
    if (index > m.tail()) index = m.tail();
    m.index = index;
    m.part = r.part < 0 ? -1 : r.part < index ? index : r.part;
    int64_t rules_index = static_cast<int32_t>(r.rules->w1);
    if (rules_index < 0) rules_index = 0;

    engine e(m);
    const uint32_t code = e.run(rules_index - 1);
    if (code) return code;
    if (m.answer->is(TYPE_BLOCK) && !m.stopped) *result = *m.answer;
    else logic::make_in(result, m.match);
    return 0;
}

}  // namespace zor::parse
