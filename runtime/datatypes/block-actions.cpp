// block! actions: conversion, path access, searching, the writers (append, insert,
// change, put), copy, take, swap and trim, and the registration of block!. Sorting and
// the set operations live in block-sort.cpp, text and comparison in block-mold.cpp.
//
// Every routine gets its series in a stable cell (an argument slot) and reads the buffer
// again through the node after anything that allocates or reports a change.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"
#include "runtime/value/upcalls.h"
#include "runtime/binding/word-table.h"

namespace zor::block {

using memory::series_buffer;

namespace {

constexpr int64_t CELL_BYTES = sizeof(cell);

series_buffer* buffer(const cell* block) { return memory::buffer_of(block->w2); }
int64_t length_of(const cell* block) { return buffer(block)->length(); }
int64_t index_of(const cell* block) { return static_cast<int32_t>(block->w1); }
int64_t clamped(const cell* block) { return std::clamp<int64_t>(index_of(block), 0, length_of(block)); }
cell* cell_at(const cell* block, int64_t i) { return buffer(block)->head_cell() + i; }

void require_buffer(const cell* s) {
    if (s->w2 == 0 || !memory::buffer_of(s->w2)) raise::throw_error(err::script_invalid_arg, s);
}

[[noreturn]] void invalid_arg(const cell* value) { raise::throw_error(err::script_invalid_arg, stack::push_copy(value)); }

[[noreturn]] void out_of_range(int64_t value) {
    int32_t v = static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
    raise::throw_error(err::script_out_of_range, integer::make_in(stack::push_slot(), v));
}

// The body of an object! or map!, through its reflect action.
cell* body_of(cell* value) {
    cell* body = actions::handler<ACTION_REFLECT>(value)(value, symbols::body);
    return stack::push_copy(body);
}

// One value per element of a vector, each of the element type.
cell* vector_to_block(cell* vector) {
    cell* result = push_empty(std::max<int64_t>(series::get_length(vector, false), 1));
    for (int64_t i = series::clamped_index(vector); i < series::total_length(vector); ++i) {
        stack::slot_mark mark;
        append_copy(result, series::push_element(vector, i));
    }
    return result;
}

// A block of the datatype words of a typeset's members.
cell* typeset_to_block(cell* typeset) {
    cell* result = push_empty(8);
    for (int t = 1; t <= type_registry::max_type_id; ++t) {
        if (!raise::typeset_has(typeset, static_cast<type_id>(t))) continue;
        const cell& word = type_registry::type_entries[t].word;
        if (word.header == 0) raise::throw_error(err::internal_not_done);
        append_copy(result, &word);
    }
    return result;
}

cell* retyped(cell* value, type_id type) {
    cell::set_type(value, type);
    return value;
}

// The cells that append, insert and change take from a value: its cells from its index,
// or the value itself as one cell.
struct source_cells {
    bool sequence;
    int64_t start;
    int64_t count;
};

source_cells source_of(const cell* value, bool only) {
    if (!only && series::is_block_like(value->type())) {
        int64_t start = clamped(value);
        return {true, start, length_of(value) - start};
    }
    return {false, 0, 1};
}

// Grows the series' buffer to hold `needed` cells in all: to that size times the factor
// (cut to the series limit).
void reserve_cells(cell* series, int64_t needed, int64_t factor) {
    series_buffer* b = buffer(series);
    if (b->head + needed * CELL_BYTES <= b->data_end()) return;
    int64_t bytes = needed * CELL_BYTES;
    memory::expand_series(b, memory::growth_size(bytes, bytes * factor));
}

// Writes count source cells (replicated dup times) at a position whose room is made.
void write_source(cell* series, int64_t position, const cell* value, const source_cells& source,
                  const std::vector<cell>& snapshot, int64_t dup) {
    cell* at = cell_at(series, position);
    if (!source.sequence) {
        *at = *value;
    } else if (!snapshot.empty()) {
        std::memcpy(at, snapshot.data(), static_cast<size_t>(source.count * CELL_BYTES));
    } else {
        std::memcpy(at, cell_at(value, source.start), static_cast<size_t>(source.count * CELL_BYTES));
    }
    if (dup > 1) {
        memory::replicate_pattern(reinterpret_cast<std::byte*>(at), source.count * CELL_BYTES, dup);
    }
}

// The cells of a source that shares the series' buffer, copied out before the series moves
// them (called after the last allocation, so the copies hold no stale reference).
std::vector<cell> snapshot_if_shared(const cell* series, const cell* value, const source_cells& source) {
    std::vector<cell> cells;
    if (source.sequence && value->w2 == series->w2 && source.count > 0) {
        const cell* first = cell_at(value, source.start);
        cells.assign(first, first + source.count);
    }
    return cells;
}

int64_t checked_total(int64_t count, int64_t dup, int64_t length) {
    int64_t total;
    if (__builtin_mul_overflow(count, dup, &total) || total > (INT32_MAX - 64) / CELL_BYTES - length) {
        raise::throw_error(err::internal_no_memory);
    }
    return total;
}

// Re-indexes a hash! after cells were inserted or replaced from a position.
void reindex_after_insert(cell* series, int64_t position, int64_t total, int64_t moved) {
    if (!series->is(TYPE_HASH)) return;
    if (series::hash_index::call_shift_indexes(series->w3, total, position, moved, true)) {
        series::hash_index::call_rebuild(series->w3, length_of(series));
        return;
    }
    for (int64_t i = 0; i < total; ++i) {
        if (series::hash_index::enter_cell(series, position + i) == 2) break;
    }
}

// --- Searching ----------------------------------------------------------------------------------------

struct match {
    int64_t position;  // -1 when nothing matched
    int64_t length;    // cells matched (the sequence's length, or 1)
    bool sequence;
    bool backward;
};

enum class match_mode { single, type, typeset, sequence };

match search(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, cell* skip, bool last,
             bool reverse, bool match_only) {
    match none_found{-1, 0, false, last || reverse};
    require_buffer(series);
    int64_t length = length_of(series);
    int64_t index = std::max<int64_t>(index_of(series), 0);
    if (length == 0) return none_found;
    if (!reverse && index >= length) return none_found;
    index = std::min(index, length);

    int64_t step = 1;
    if (skip) {
        if (!skip->is(TYPE_INTEGER)) series::invalid_refine_arg(series::REFINEMENT_SKIP, skip);
        step = integer::read_cell(skip);
        if (step < 1) out_of_range(step);
    }
    int64_t limit = -1;
    if (part) {
        if (part->is(TYPE_INTEGER)) {
            int64_t n = integer::read_cell(part);
            if (n < 1) return none_found;
            limit = index + n - 1;
        } else if (part->type() == series->type() && part->w2 == series->w2) {
            limit = std::max<int64_t>(index_of(part), 0);
        } else {
            series::invalid_refine_arg(series::REFINEMENT_PART, part);
        }
        if (limit >= length) limit = length - 1;
    }

    match_mode mode = match_mode::single;
    if (!only && value->is(TYPE_DATATYPE)) mode = match_mode::type;
    else if (!only && value->is(TYPE_TYPESET)) mode = match_mode::typeset;
    else if (!only && series::is_block_like(value->type())) mode = match_mode::sequence;
    int op = same ? COMPARE_SAME : case_sensitive ? COMPARE_STRICT_EQUAL : COMPARE_FIND;
    int64_t sequence_length = 1;
    int64_t sequence_start = 0;
    if (mode == match_mode::sequence) {
        sequence_start = clamped(value);
        sequence_length = length_of(value) - sequence_start;
    }
    bool backward = last || reverse;

    // hash!: its index finds single values without a scan.
    bool through_index = series->is(TYPE_HASH) && !match_only && mode != match_mode::type &&
                         mode != match_mode::typeset && !(value->is(TYPE_OBJECT) && !same) &&
                         (!series::is_block_like(value->type()) || (only && same));
    if (through_index) {
        cell* found = hashtable::find(series->w3, value, static_cast<int32_t>(index), static_cast<int32_t>(step), op,
                                      last, reverse);
        if (!found) return none_found;
        int64_t position = found - buffer(series)->head_cell();
        if (limit >= 0 && position > limit) return none_found;
        return {position, 1, false, true};
    }

    stack::slot_mark mark;
    cell* candidate = stack::push_slot();
    cell* wanted = stack::push_slot();
    auto equal_at = [&](int64_t p, const cell* against) {
        *candidate = *cell_at(series, p);
        return compare_cells(candidate, const_cast<cell*>(against), op) == 0;
    };
    auto matches_at = [&](int64_t p) -> bool {
        int64_t current = length_of(series);
        if (p < 0 || p >= current) return mode == match_mode::sequence && sequence_length == 0 && p == current;
        switch (mode) {
            case match_mode::type: return cell_at(series, p)->type() == static_cast<type_id>(value->w1);
            case match_mode::typeset: return raise::typeset_has(value, cell_at(series, p)->type());
            case match_mode::single: return equal_at(p, value);
            case match_mode::sequence: {
                int64_t end = backward || limit < 0 ? current : std::min(limit + 1, current);
                if (p + sequence_length > end) return false;
                for (int64_t k = 0; k < sequence_length; ++k) {
                    if (sequence_start + k >= length_of(value)) return false;
                    *wanted = *cell_at(value, sequence_start + k);
                    if (!equal_at(p + k, wanted)) return false;
                }
                return true;
            }
        }
        return false;
    };

    match found{-1, sequence_length, mode == match_mode::sequence, backward};
    if (!backward) {
        int64_t end = limit >= 0 ? limit + 1 : length;
        for (int64_t p = index; p < end; p += step) {
            if (matches_at(p)) {
                found.position = p;
                break;
            }
            if (match_only) break;
        }
    } else {
        int64_t start;
        int64_t floor = 0;
        if (last) {
            start = limit >= 0 ? limit : length - sequence_length;
            floor = index;  // a search from the tail still stays within the series from its index
        } else {
            start = limit >= 0 ? limit : index - sequence_length;
        }
        for (int64_t p = start; p >= floor; p -= step) {
            if (matches_at(p)) {
                found.position = p;
                break;
            }
            if (match_only) break;
        }
    }
    return found;
}

}  // namespace

// --- make and to ------------------------------------------------------------------------------------------

cell* make(cell* value, cell* spec, type_id type) {
    (void)value;
    if (series::is_block_like(spec->type())) return retyped(push_copy(spec, false, false), type);
    switch (spec->type()) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            int64_t capacity = integer::get_int_from_number(spec);
            return retyped(push_empty(std::max<int64_t>(capacity, 1)), type);
        }
        case TYPE_OBJECT:
        case TYPE_MAP: return retyped(body_of(spec), type);
        case TYPE_VECTOR: return retyped(vector_to_block(spec), type);
        default: {
            cell* target = datatype::make_in(stack::push_slot(), type);
            raise::bad_make_arg(target, spec);
        }
    }
}

cell* to(cell* value, cell* spec, type_id type) {
    (void)value;
    if (series::is_block_like(spec->type())) return retyped(push_copy(spec, false, false), type);
    switch (spec->type()) {
        case TYPE_OBJECT:
        case TYPE_MAP: return retyped(body_of(spec), type);
        case TYPE_VECTOR: return retyped(vector_to_block(spec), type);
        case TYPE_TYPESET: return retyped(typeset_to_block(spec), type);
        case TYPE_STRING: {
            auto scan = upcalls::installed(upcalls::scan_string);
            cell* source = stack::push_copy(spec);
            cell* result = push_empty(8);
            scan(source, result);
            return retyped(result, type);
        }
        default: {
            cell* result = push_empty(1);
            append_copy(result, spec);
            return retyped(result, type);
        }
    }
}

// --- Path access --------------------------------------------------------------------------------------------

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place) {
    (void)grandparent, (void)previous, (void)position, (void)pass_through, (void)get_only, (void)tail, (void)in_place;
    // No case flag reaches a path step: selection is case-insensitive.
    constexpr bool case_sensitive = false;
    if (element->is(TYPE_INTEGER)) {
        int n = integer::read_cell(element);
        return value ? series::poke(parent, n, value) : series::pick(parent, n, element);
    }
    if (!value) {
        if (element->is(TYPE_WORD) && !parent->is(TYPE_HASH)) {
            return stack::push_copy(select_word(parent, element, case_sensitive));
        }
        return select(parent, element, nullptr, true, case_sensitive, false, false, nullptr, nullptr, false, false);
    }
    match found = search(parent, element, nullptr, false, case_sensitive, false, nullptr, false, false, false);
    if (found.position < 0) {
        cell* key = stack::push_copy(element);
        cell* where = path ? stack::push_copy(path) : stack::push_copy(&none::value);
        raise::throw_error(err::script_bad_path_set, where, key);
    }
    cell* at_key = stack::push_copy(parent);
    at_key->w1 = static_cast<uint32_t>(found.position);
    return series::poke(at_key, 2, value);
}

// --- find, select, put -----------------------------------------------------------------------------------

cell* find(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match_only) {
    (void)any, (void)with;  // they select nothing different among cells
    match found = search(series, value, part, only, case_sensitive, same, skip, last, reverse, match_only);
    if (found.position < 0) return &none::value;
    int64_t position = found.position;
    if (tail) {
        int64_t step = skip && skip->is(TYPE_INTEGER) ? integer::read_cell(skip) : 1;
        position += found.sequence ? found.length : found.backward ? 1 : step;
        position = std::min(position, length_of(series));
    }
    cell* result = stack::push_copy(series);
    result->w1 = static_cast<uint32_t>(position);
    return result;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse) {
    (void)any, (void)with;
    match found = search(series, value, part, only, case_sensitive, same, skip, last, reverse, false);
    if (found.position < 0) return &none::value;
    int64_t after = found.position + (found.sequence ? found.length : 1);
    if (after >= length_of(series)) return &none::value;
    return stack::push_copy(cell_at(series, after));
}

cell* put(cell* series, cell* key, cell* value, bool case_sensitive) {
    match found = search(series, key, nullptr, false, case_sensitive, false, nullptr, false, false, false);
    if (found.position < 0) {
        series::notify(series, series::PUT, value, std::max<int64_t>(length_of(series) - index_of(series), 0), 1);
        append_copy(series, key);
        append_copy(series, value);
        return value;
    }
    // The value belongs after the whole key, as select reads it back.
    int64_t at = found.position + (found.sequence ? found.length : 1);
    bool owned = series::notify(series, series::PUT, value, at, 1);
    if (at >= length_of(series)) {
        append_copy(series, value);
    } else {
        bool same_value;
        {
            stack::slot_mark mark;
            cell* scratch = stack::push_copy(cell_at(series, at));
            same_value = compare_cells(scratch, value, COMPARE_FIND) == 0;
        }
        if (!same_value && at < length_of(series)) {
            *cell_at(series, at) = *value;
            if (series->is(TYPE_HASH)) series::hash_index::reenter_cell(series, at);
        }
    }
    if (owned) series::notify(series, series::PUT_ED, value, at, 1);
    return value;
}

// --- The writers -------------------------------------------------------------------------------------------

cell* append(cell* series, cell* value, int part, bool only, int dup, bool append_flag) {
    require_buffer(series);
    source_cells source = source_of(value, only);
    if (part >= 0 && part < source.count) source.count = part;
    if (dup < 1) source.count = 0;
    int64_t copies = std::max(dup, 1);
    int64_t length = length_of(series);
    if (index_of(series) > length) series->w1 = static_cast<uint32_t>(length);
    int64_t position = append_flag ? length : clamped(series);
    int64_t total = checked_total(source.count, copies, length);
    bool owned = series::notify(series, append_flag ? series::APPEND : series::INSERT, value, position, total);
    // The report may have run user code: take the series and the value as they are now.
    length = length_of(series);
    position = append_flag ? length : std::min(position, length);
    source = source_of(value, only);
    if (part >= 0 && part < source.count) source.count = part;
    if (dup < 1) source.count = 0;
    total = checked_total(source.count, copies, length);
    if (total > 0) {
        reserve_cells(series, length + total, copies < 5 ? 2 : 1);
        std::vector<cell> snapshot = snapshot_if_shared(series, value, source);
        series_buffer* b = buffer(series);
        cell* at = b->head_cell() + position;
        std::memmove(at + total, at, static_cast<size_t>((length - position) * CELL_BYTES));
        b->tail += total * CELL_BYTES;
        write_source(series, position, value, source, snapshot, copies);
        reindex_after_insert(series, position, total, length - position);
    }
    if (owned) series::notify(series, append_flag ? series::APPENDED : series::INSERTED, value, position, total);
    series->w1 = static_cast<uint32_t>(append_flag ? 0 : std::min(position + total, length_of(series)));
    return series;
}

cell* change(cell* series, cell* value, int part, bool only, int dup) {
    require_buffer(series);
    source_cells source = source_of(value, only);
    if (dup < 1) return series;
    int64_t copies = dup;
    int64_t length = length_of(series);
    int64_t index = clamped(series);
    series->w1 = static_cast<uint32_t>(index);
    int64_t total = checked_total(source.count, copies, length);
    int64_t replaced = part >= 0 ? std::min<int64_t>(part, length - index) : std::min(total, length - index);
    bool owned = series::notify(series, series::CHANGE, nullptr, index, replaced);
    // The report may have run user code: take the series and the value as they are now.
    length = length_of(series);
    index = std::min(index, length);
    replaced = std::min(replaced, length - index);
    source = source_of(value, only);
    total = checked_total(source.count, copies, length);
    int64_t new_length = length - replaced + total;
    reserve_cells(series, new_length, 2);
    std::vector<cell> snapshot = snapshot_if_shared(series, value, source);
    series_buffer* b = buffer(series);
    cell* at = b->head_cell() + index;
    std::memmove(at + total, at + replaced, static_cast<size_t>((length - index - replaced) * CELL_BYTES));
    b->tail = b->head + new_length * CELL_BYTES;
    if (total > 0) write_source(series, index, value, source, snapshot, copies);
    if (series->is(TYPE_HASH)) series::hash_index::call_rebuild(series->w3, new_length);
    if (owned) series::notify(series, series::CHANGED, nullptr, index, total);
    series->w1 = static_cast<uint32_t>(std::min(index + total, new_length));
    return series;
}

// --- copy, take, swap, trim --------------------------------------------------------------------------------

namespace {

// Replaces every series cell of the block (from its head) by a deep copy of itself.
void copy_series_cells_deep(cell* block) {
    for (int64_t i = 0; i < length_of(block); ++i) {
        if (!series::is_series_type(cell_at(block, i)->type())) continue;
        stack::slot_mark mark;
        cell* slot = stack::push_copy(cell_at(block, i));
        cell* copied = actions::handler<ACTION_COPY>(slot)(slot, slot, nullptr, true, nullptr);
        if (i < length_of(block)) *cell_at(block, i) = *copied;
    }
}

}  // namespace

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    require_buffer(value);
    if (deep && mold_guard::contains(value->w2)) {
        mold_guard::reset();
        raise::throw_error(err::internal_no_cycle);
    }
    series::copy(value, result, part, deep, types);
    if (result->is(TYPE_HASH) && (deep || types)) cell::set_type(result, TYPE_BLOCK);
    if (!deep && !types) return result;
    mold_guard::scope guard(value->w2);
    if (types) {
        copy_nested_of_types(result, 0, length_of(result), 1, deep, types);
    } else {
        copy_series_cells_deep(result);
    }
    return result;
}

cell* take(cell* series, cell* part, bool deep, bool last) {
    cell* taken = series::take(series, part, deep, last);
    if (!deep || taken->is(TYPE_NONE)) return taken;
    mold_guard::scope guard(series->w2);
    if (part) {
        copy_series_cells_deep(taken);
    } else if (series::is_series_type(taken->type())) {
        return actions::handler<ACTION_COPY>(taken)(taken, taken, nullptr, true, nullptr);
    }
    return taken;
}

cell* swap(cell* series, cell* other) {
    if (!series::is_block_like(other->type())) invalid_arg(other);
    require_buffer(series);
    require_buffer(other);
    int64_t left = index_of(series);
    int64_t right = index_of(other);
    if (left < 0 || right < 0 || left >= length_of(series) || right >= length_of(other)) return series;
    bool left_owned = series::notify(series, series::SWAP, nullptr, left, 1);
    bool right_owned = series::notify(other, series::SWAP, nullptr, right, 1);
    if (left < length_of(series) && right < length_of(other)) {
        // Both cells leave their indexes before they change places (the two may share one
        // hash!), so that no entry names a cell whose value changed under it.
        if (series->is(TYPE_HASH)) hashtable::delete_cell(series->w3, cell_at(series, left));
        if (other->is(TYPE_HASH)) hashtable::delete_cell(other->w3, cell_at(other, right));
        std::swap(*cell_at(series, left), *cell_at(other, right));
        if (series->is(TYPE_HASH)) series::hash_index::enter_cell(series, left);
        if (other->is(TYPE_HASH)) series::hash_index::enter_cell(other, right);
    }
    if (left_owned) series::notify(series, series::SWAPED, nullptr, left, 1);
    if (right_owned) series::notify(other, series::SWAPED, nullptr, right, 1);
    return series;
}

cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with) {
    (void)head, (void)tail, (void)automatic, (void)lines, (void)all, (void)with;  // a block only loses its nones
    require_buffer(series);
    int64_t index = clamped(series);
    bool owned = series::notify(series, series::TRIM, nullptr, index, 0);
    series_buffer* b = buffer(series);
    cell* kept = b->head_cell() + std::min<int64_t>(index, b->length());
    for (cell* c = kept; c < b->tail_cell(); ++c) {
        if (!c->is(TYPE_NONE)) *kept++ = *c;
    }
    b->tail = reinterpret_cast<std::byte*>(kept);
    if (owned) series::notify(series, series::TRIMMED, nullptr, index, 0);
    return series;
}

// --- Registration ---------------------------------------------------------------------------------------------

void init_type() {
    register_sort_roots();
    type_registry::action_list list(TYPE_SERIES);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_APPEND>(&append);
    list.set<ACTION_CHANGE>(&change);
    list.set<ACTION_COPY>(&copy);
    list.set<ACTION_FIND>(&find);
    list.set<ACTION_INSERT>(&append);
    list.set<ACTION_PUT>(&put);
    list.set<ACTION_SELECT>(&select);
    list.set<ACTION_SORT>(&sort);
    list.set<ACTION_SWAP>(&swap);
    list.set<ACTION_TAKE>(&take);
    list.set<ACTION_TRIM>(&trim);
    list.unsupported(ACTION_SET_PATH);
    for (int a = ACTION_ABSOLUTE; a <= ACTION_XOR_T; ++a) list.unsupported(static_cast<action>(a));
    for (int a = ACTION_CREATE; a <= ACTION_DELETE; ++a) list.unsupported(static_cast<action>(a));
    for (int a = ACTION_OPEN; a <= ACTION_WRITE; ++a) list.unsupported(static_cast<action>(a));
    type_registry::register_type(TYPE_BLOCK, TYPE_SERIES, "block!", list);
}

}  // namespace zor::block
