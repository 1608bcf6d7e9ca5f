// map!: making maps, reading and writing pairs under the one case rule, removal and
// revival of pairs, foreach steps, reflection, comparison, copying and the "#[...]" text.
#include "runtime/datatypes/map.h"

#include <algorithm>
#include <optional>

#include "runtime/binding/hashtable.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/value/type-registry.h"

namespace zor::map {

namespace {

constexpr int OP_ANY_CASE = 0;
constexpr int OP_CASE = 2;
constexpr int OP_SAME = 9;

memory::series_buffer* data_of(const cell* m) { return memory::buffer_of(m->w2); }
int64_t cells_of(const cell* m) { return data_of(m)->length(); }
cell* cell_at(const cell* m, int64_t i) { return data_of(m)->head_cell() + i; }
bool is_live(const cell* m, int64_t key_index) { return cell_at(m, key_index + 1)->header != 0; }

int lookup_op(bool case_sensitive, bool same) { return same ? OP_SAME : case_sensitive ? OP_CASE : OP_ANY_CASE; }

bool names(int32_t symbol, int32_t wanted) {
    return wanted > 0 && symbol::canonical_id(symbol) == symbol::canonical_id(wanted);
}

// The cell index of the stored key that matches by the op, or -1. A key of a type that
// is never stored matches nothing.
int64_t lookup(const cell* m, const cell* key, int op) {
    if (!test_key_type(key->type())) return -1;
    // The table seeks a word as a set-word in the key cell itself: a copy of its own.
    cell* sought = stack::push_copy(key);
    cell* found = hashtable::find(m->w3, sought, 0, 1, op, false, false);
    int64_t index = found ? found - data_of(m)->head_cell() : -1;
    stack::drop_slots(1);
    return index;
}

// A stored key as the user gets it: a set-word! as a word!.
cell* push_user_key(const cell* key) {
    cell* slot = stack::push_copy(key);
    if (slot->is(TYPE_SET_WORD)) cell::set_type(slot, TYPE_WORD);
    cell::clear_new_line(slot);
    return slot;
}

// Writes the pair: the value goes into the key's pair, which is revived when removed, or
// into a new pair at the tail.
void put_pair(cell* m, const cell* key_cell, const cell* value, bool case_sensitive, const cell* accessed) {
    // The key and the value may lie in a block (a path's element) that allocation moves.
    const cell* key = stack::push_copy(key_cell);
    cell* held_value = stack::push_copy(value);
    cell::clear_new_line(held_value);
    int64_t index = lookup(m, key, case_sensitive ? OP_CASE : OP_ANY_CASE);
    if (index < 0) {
        cell* stored_key = stack::push_copy(key);
        prepare_key(stored_key, accessed);
        cell::clear_new_line(stored_key);
        cell* data = stack::push_slot();
        *data = cell{TYPE_BLOCK, 0, m->w2, 0};
        block::append_copy(data, stored_key);
        cell unset;
        cell::init_unset(&unset);
        block::append_copy(data, &unset);
        index = cells_of(m) - 2;
        hashtable::put(m->w3, cell_at(m, index));
        stack::drop_slots(2);
    } else if (!is_live(m, index)) {
        hashtable::view(m->w3).record->size += 1;
    }
    *cell_at(m, index + 1) = *held_value;
    stack::drop_slots(2);
}

// Adds the pairs of a block from its index, in order.
void add_pairs(cell* m, const cell* block, bool case_sensitive) {
    cell* source = stack::push_copy(block);
    // A map's cells are its pairs, the removed ones skipped below.
    bool from_map = source->is(TYPE_MAP);
    if (from_map) *source = cell{TYPE_BLOCK, 0, source->w2, 0};
    int64_t length = memory::buffer_of(source->w2)->length();
    int64_t start = std::clamp<int64_t>(series::index_of(source), 0, length);
    if ((length - start) % 2 != 0) raise::throw_error(err::script_invalid_arg, source);
    for (int64_t i = start; i + 1 < memory::buffer_of(source->w2)->length(); i += 2) {
        if (from_map && block::get_cell(source, i + 1)->header == 0) continue;
        cell* key = stack::push_copy(block::get_cell(source, i));
        cell* value = stack::push_copy(block::get_cell(source, i + 1));
        put_pair(m, key, value, case_sensitive, m);
        stack::drop_slots(2);
    }
    stack::drop_slots(1);
}

// --- The action handlers -------------------------------------------------------------------

cell* make_map(cell* spec, bool to) {
    cell* result = stack::push_slot();
    switch (spec->type()) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            if (to) break;
            int32_t size = integer::get_int_from_number(spec);
            if (size < 0) raise::throw_error(err::script_out_of_range, stack::push_copy(spec));
            return make_at(result, nullptr, std::max<int64_t>(2 * int64_t(size), 2));
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            return make_at(result, spec, std::max<int64_t>(block::rest_length(spec), 2));
        case TYPE_MAP: return actions::dispatch_copy(spec, result, nullptr, false, nullptr);
        default: break;
    }
    cell* type = datatype::push(TYPE_MAP);
    raise::throw_error(err::script_bad_to_arg, type, stack::push_copy(spec));
}

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) { return make_map(spec, false); }
cell* to(cell* /*value*/, cell* spec, type_id /*type*/) { return make_map(spec, true); }

cell* reflect(cell* m, int field_symbol) {
    bool words = names(field_symbol, symbols::words);
    bool values = names(field_symbol, symbols::values);
    bool body = names(field_symbol, symbols::body);
    if (!words && !values && !body) raise::throw_error(err::internal_not_done);
    cell* held = stack::push_copy(m);
    cell* result = block::push_empty(std::max<int64_t>(body ? cells_of(held) : cells_of(held) / 2, 1));
    for (int64_t i = 0; i + 1 < cells_of(held); i += 2) {
        if (!is_live(held, i)) continue;
        stack::slot_mark mark;
        if (words) {
            block::append_copy(result, push_user_key(cell_at(held, i)));
        } else if (values) {
            block::append_copy(result, stack::push_copy(cell_at(held, i + 1)));
        } else {
            cell* key = stack::push_copy(cell_at(held, i));
            key->header |= FLAG_NEW_LINE;
            cell* value = stack::push_copy(cell_at(held, i + 1));
            block::append_copy(result, key);
            block::append_copy(result, value);
        }
    }
    return result;
}

int form(cell* value, cell* output, cell* part, int budget) {
    return serialize(value, output, false, false, false, false, part, budget, 0);
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    return serialize(value, output, true, only, all, flat, part, budget, indent);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/, bool /*in_place*/) {
    if (value) {
        put_pair(parent, element, value, false, path ? path : parent);
        return value;
    }
    int64_t index = lookup(parent, element, OP_ANY_CASE);
    if (index < 0 || !is_live(parent, index)) return &none::value;
    return cell_at(parent, index + 1);
}

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_MAP)) return -2;
    switch (op) {
        case 7:
        case 8: return value->w2 == other->w2 ? 0 : value->w2 < other->w2 ? -1 : 1;
        case 0: case 1: case 2: case 9: case 12: return equal(value, other, op);
        default: return -2;
    }
}

cell* clear(cell* m) {
    hashtable::clear(m->w3);
    return m;
}

cell* copy(cell* value, cell* result, cell* /*part*/, bool deep, cell* types) {
    cell* held = stack::push_copy(value);
    std::optional<mold_guard::scope> guard;
    if (deep && types) {
        if (mold_guard::contains(held->w2)) {
            mold_guard::reset();
            raise::throw_error(err::internal_no_cycle);
        }
        guard.emplace(held->w2);
    }
    memory::series_buffer* source = data_of(held);
    node_ref data = memory::copy_series_part(source, 0, source->length());
    cell* data_cell = stack::push_slot();
    *data_cell = cell{TYPE_BLOCK, 0, data, 0};
    node_ref table = hashtable::copy(held->w3, data);
    *result = cell{TYPE_MAP, 0, data, table};
    if (types) block::copy_nested_of_types(data_cell, 1, cells_of(data_cell), 2, deep, types);
    return result;
}

cell* find(cell* series, cell* value, cell* /*part*/, bool /*only*/, bool case_sensitive, bool same, bool /*any*/,
           cell* /*with*/, cell* /*skip*/, bool /*last*/, bool /*reverse*/, bool /*tail*/, bool /*match*/) {
    int64_t index = lookup(series, value, lookup_op(case_sensitive, same));
    if (index < 0 || !is_live(series, index)) return &none::value;
    return push_user_key(cell_at(series, index));
}

int length_q(cell* series) { return count_entries(series); }

cell* put(cell* series, cell* key, cell* value, bool case_sensitive) {
    put_pair(series, key, value, case_sensitive, series);
    return value;
}

cell* remove(cell* series, cell* /*part*/, cell* key) {
    if (!key) raise::throw_error(err::script_missing_arg);
    int64_t index = lookup(series, key, OP_ANY_CASE);
    if (index >= 0 && is_live(series, index)) hashtable::delete_cell(series->w3, cell_at(series, index));
    return series;
}

cell* select(cell* series, cell* value, cell* /*part*/, bool /*only*/, bool case_sensitive, bool same,
             bool /*any*/, cell* /*with*/, cell* /*skip*/, bool /*last*/, bool /*reverse*/) {
    int64_t index = lookup(series, value, lookup_op(case_sensitive, same));
    if (index < 0 || !is_live(series, index)) return &none::value;
    return cell_at(series, index + 1);
}

}  // namespace

// --- Module operations -----------------------------------------------------------------------

int32_t count_entries(const cell* m) { return hashtable::view(m->w3).record->size; }

bool test_key_type(type_id type) {
    switch (type) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_BINARY: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_MONEY:
        case TYPE_PAIR: case TYPE_TUPLE: case TYPE_TIME: case TYPE_DATE: case TYPE_POINT2D: case TYPE_POINT3D:
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            return true;
        default: return false;
    }
}

void prepare_key(cell* key, const cell* accessed) {
    switch (key->type()) {
        case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_SET_WORD:
            cell::set_type(key, TYPE_SET_WORD);
            return;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_BINARY: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: {
            // A key of its own: later changes to the source do not reach it.
            int64_t start = series::clamped_index(key);
            series::copy_range(key, key, start, series::total_length(key) - start);
            return;
        }
        default:
            if (test_key_type(key->type())) return;
            cell* where = stack::push_copy(accessed);
            raise::throw_error(err::script_invalid_path, where, datatype::push(key->type()));
    }
}

cell* make_at(cell* destination, const cell* block, int64_t capacity) {
    cell* source = block ? stack::push_copy(block) : nullptr;
    if (source) {
        int64_t rest = block::rest_length(source);
        if (rest > 0 && rest % 2 != 0) raise::throw_error(err::script_invalid_arg, source);
    }
    cell* data = stack::push_slot();
    block::make_empty(data, std::max<int64_t>(capacity, 2));
    node_ref table = hashtable::make(std::max<int64_t>(capacity / 2, 1), data, hashtable::KIND_MAP, 0);
    *destination = cell{TYPE_MAP, 0, data->w2, table};
    if (source) add_pairs(destination, source, false);
    return destination;
}

cell* push(const cell* m) { return stack::push_copy(m); }

void extend(cell* m, const cell* block, bool case_sensitive) { add_pairs(m, block, case_sensitive); }

bool set_loop_words(cell* iteration, const cell* words, int32_t count) {
    cell* held_words = stack::push_copy(words);
    int64_t word_start = std::max<int64_t>(series::index_of(held_words), 0);
    bool assigned = false;
    for (int32_t k = 0; k < count; ++k) {
        int64_t at = word_start + k;
        const cell* entry =
            at < memory::buffer_of(held_words->w2)->length() ? block::get_cell(held_words, at) : &none::value;
        cell* word = stack::push_copy(entry);
        type_id t = word->type();
        if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
            raise::throw_error(err::script_invalid_arg, word);
        }
        int64_t position = std::max<int64_t>(series::index_of(iteration), 0);
        int64_t length = cells_of(iteration);
        if (position % 2 == 0) {
            while (position + 1 < length && !is_live(iteration, position)) position += 2;
        }
        cell* item;
        if (position < length) {
            item = push_user_key(cell_at(iteration, position));
            iteration->w1 = static_cast<uint32_t>(position + 1);
            assigned = true;
        } else {
            item = stack::push_copy(&none::value);
            iteration->w1 = static_cast<uint32_t>(length);
        }
        // A change handler may run: the iteration cell is a stack slot and stays put.
        word::set_value(word, item);
        stack::drop_slots(2);
    }
    stack::drop_slots(1);
    return assigned;
}

int serialize(cell* m, cell* output, bool mold, bool only, bool all, bool flat, cell* part, int budget,
              int indent) {
    if (mold_guard::emit_cycle_mark(m, output, &budget, mold)) return budget;
    cell* held = stack::push_copy(m);
    mold_guard::scope guard(held->w2);
    bool brackets = mold && !only;
    if (brackets) {
        string::append_c_string(output, "#[");
        budget -= 2;
    }
    bool indenting = brackets && !flat;
    const char* separator = flat ? " " : "\n";
    bool wrote = false;
    if (count_entries(held) > 0) {
        if (indenting) {
            string::append_c_string(output, "\n");
            budget -= 1;
        }
        for (int64_t i = 0; i + 1 < cells_of(held); i += 2) {
            if (!is_live(held, i)) continue;
            if (wrote && !indenting) {
                string::append_c_string(output, separator);
                budget -= 1;
            }
            if (indenting) budget = string::append_indent(output, indent + 1, budget);
            stack::slot_mark mark;
            cell* key = stack::push_copy(cell_at(held, i));
            cell* value = stack::push_copy(cell_at(held, i + 1));
            budget = actions::dispatch_mold(key, output, false, all, flat, part, budget, indent + 1);
            string::append_c_string(output, " ");
            budget -= 1;
            budget = actions::dispatch_mold(value, output, false, all, flat, part, budget, indent + 1);
            if (indenting) {
                string::append_c_string(output, separator);
                budget -= 1;
            }
            wrote = true;
            if (part && budget < 1) return budget;
        }
    }
    if (brackets) {
        if (wrote && indent >= 1) budget = string::append_indent(output, indent, budget);
        string::append_c_string(output, "]");
        budget -= 1;
    }
    return budget;
}

int equal(cell* m, cell* other, int op) {
    if (m->w2 == other->w2 && m->w1 == other->w1) return 0;
    if (op == OP_SAME) return -1;
    if (mold_guard::contains(m->w2)) return mold_guard::contains(other->w2) ? 0 : -1;
    int32_t live = count_entries(m);
    if (live != count_entries(other)) return 1;
    if (live == 0) return 0;
    cell* left = stack::push_copy(m);
    cell* right = stack::push_copy(other);
    mold_guard::scope left_guard(left->w2);
    mold_guard::scope right_guard(right->w2);
    bool strict = op == 2;
    for (int64_t i = 0; i + 1 < cells_of(left); i += 2) {
        if (!is_live(left, i)) continue;
        stack::slot_mark mark;
        cell* key = stack::push_copy(cell_at(left, i));
        cell* value = stack::push_copy(cell_at(left, i + 1));
        bool matched = false;
        if (strict) {
            int64_t j = lookup(right, key, OP_CASE);
            if (j >= 0 && is_live(right, j)) {
                cell* other_value = stack::push_copy(cell_at(right, j + 1));
                matched = block::compare_cells(value, other_value, 2) == 0;
            }
        } else {
            int32_t bucket = -1, step = 0;
            for (;;) {
                cell* found = hashtable::find_next(right->w3, key, &bucket, &step);
                if (!found) break;
                int64_t j = found - data_of(right)->head_cell();
                if (!is_live(right, j)) continue;
                cell* other_value = stack::push_copy(cell_at(right, j + 1));
                if (block::compare_cells(value, other_value, 0) == 0) {
                    matched = true;
                    break;
                }
            }
        }
        if (!matched) return 1;
    }
    return 0;
}

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_REFLECT>(&reflect);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_CLEAR>(&clear);
    list.set<ACTION_COPY>(&copy);
    list.set<ACTION_FIND>(&find);
    list.set<ACTION_LENGTH_Q>(&length_q);
    list.set<ACTION_PUT>(&put);
    list.set<ACTION_REMOVE>(&remove);
    list.set<ACTION_SELECT>(&select);
    type_registry::register_type(TYPE_MAP, TYPE_NONE_ID, "map!", list);
}

}  // namespace zor::map
