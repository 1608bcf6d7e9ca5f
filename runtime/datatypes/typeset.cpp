// typeset!: building typesets from values and type blocks, set operations, membership,
// comparison and the "make typeset! [...]" text.
#include "runtime/datatypes/typeset.h"

#include <cstring>

#include "platform/fatal.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"

namespace zor::typeset {

namespace {

[[noreturn]] void raise_with_value(err id, const cell* value) {
    // A copy in a stack slot stays valid while the error is made.
    raise::throw_error(id, stack::push_copy(value));
}

// The value a word element stands for; other elements stand for themselves.
cell resolve(const cell& element) {
    if (element.is(TYPE_WORD)) return *word::get_value(&element);
    return element;
}

cell make_empty() {
    cell c;
    clear(&c);
    return c;
}

void merge(cell* into, const cell* other) {
    into->w1 |= other->w1;
    into->w2 |= other->w2;
    into->w3 |= other->w3;
}

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    if (spec->is(TYPE_TYPESET)) return spec;
    if (!spec->is(TYPE_BLOCK)) {
        cell t;
        datatype::make_in(&t, TYPE_TYPESET);
        raise::throw_error(err::script_bad_to_arg, &t, spec);
    }
    cell result = make_empty();
    int64_t count = block::rest_length(spec);
    int64_t index = static_cast<int32_t>(spec->w1);
    if (index < 0) index = 0;
    for (int64_t i = 0; i < count; ++i) {
        const cell element = *block::get_cell(spec, index + i);
        add_type(&result, &element);
    }
    *stack::result_slot() = result;
    return stack::result_slot();
}

int form(cell* value, cell* output, cell* part, int budget) {
    return serialize(value, output, false, part, budget);
}

int mold(cell* value, cell* output, bool only, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return serialize(value, output, only, part, budget);
}

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_TYPESET)) return -2;
    switch (op) {
        case COMPARE_EQUAL:
        case COMPARE_NOT_EQUAL:
        case COMPARE_STRICT_EQUAL:
        case COMPARE_SAME: case COMPARE_FIND:
            return value->w1 == other->w1 && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
        case COMPARE_SORT: case COMPARE_SORT_CASE: {
            int a = count(value);
            int b = count(other);
            return (a > b) - (a < b);
        }
        default:
            return -2;
    }
}

cell* complement(cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

cell* find(cell* series, cell* value, cell* /*part*/, bool /*only*/, bool /*case_sensitive*/, bool /*same*/,
           bool /*any*/, cell* /*with*/, cell* /*skip*/, bool /*last*/, bool /*reverse*/, bool /*tail*/,
           bool /*match*/) {
    if (!value->is(TYPE_DATATYPE)) raise_with_value(err::script_invalid_arg, value);
    return has(series, static_cast<int>(value->w1)) ? &logic::true_value : &logic::false_value;
}

cell* and_t() { return apply_set_op(6); }
cell* or_t() { return apply_set_op(5); }
cell* xor_t() { return apply_set_op(7); }

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_AND_T>(&and_t);
    list.set<ACTION_COMPLEMENT>(&complement);
    list.set<ACTION_OR_T>(&or_t);
    list.set<ACTION_XOR_T>(&xor_t);
    list.set<ACTION_FIND>(&find);
    type_registry::register_type(TYPE_TYPESET, TYPE_NONE_ID, "typeset!", list);
}

cell* clear(cell* c) {
    *c = cell{TYPE_TYPESET, 0, 0, 0};
    return c;
}

int count(const cell* typeset) {
    int n = 0;
    for (int id = 1; id <= type_registry::max_type_id; ++id) n += has(typeset, id) ? 1 : 0;
    return n;
}

cell* append_to_block(cell* block, uint32_t word1, uint32_t word2, uint32_t word3) {
    const cell c{TYPE_TYPESET, word1, word2, word3};
    return block::append_copy(block, &c);
}

cell* append_default_arg_types(cell* block) {
    cell c{TYPE_TYPESET, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    word_of(&c, TYPE_UNSET) &= ~mask_of(TYPE_UNSET);
    return block::append_copy(block, &c);
}

bool reads_cleanly(const cell* type_block) {
    int64_t count = block::rest_length(type_block);
    int64_t index = static_cast<int32_t>(type_block->w1);
    if (index < 0) index = 0;
    for (int64_t i = 0; i < count; ++i) {
        const cell* element = block::get_cell(type_block, index + i);
        const cell* value = element->is(TYPE_WORD) ? word::find_value_in_context(element, element->w1) : element;
        if (!value) return false;
        switch (value->type()) {
            case TYPE_DATATYPE: case TYPE_TYPESET: case TYPE_WORD: case TYPE_BLOCK: break;
            default: return false;
        }
    }
    return true;
}

void fill_from_block(cell* block, const cell* type_block) {
    cell result = make_empty();
    int64_t count = block::rest_length(type_block);
    int64_t index = static_cast<int32_t>(type_block->w1);
    if (index < 0) index = 0;
    for (int64_t i = 0; i < count; ++i) {
        const cell element = *block::get_cell(type_block, index + i);
        const cell value = resolve(element);
        switch (value.type()) {
            case TYPE_DATATYPE: add(&result, static_cast<int>(value.w1)); break;
            case TYPE_TYPESET: merge(&result, &value); break;
            case TYPE_WORD: add(&result, TYPE_OBJECT); break;
            case TYPE_BLOCK: break;
            default: raise_with_value(err::script_invalid_type_spec, &element);
        }
    }
    block::append_copy(block, &result);
}

void add_type(cell* typeset, const cell* value) {
    const cell resolved = resolve(*value);
    switch (resolved.type()) {
        case TYPE_TYPESET: merge(typeset, &resolved); break;
        case TYPE_DATATYPE: add(typeset, static_cast<int>(resolved.w1)); break;
        default: raise_with_value(err::script_invalid_arg, &resolved);
    }
}

cell* to_block(const cell* typeset, cell* destination) {
    const cell bits = *typeset;
    block::make_in(destination, 4);
    for (int id = 1; id <= type_registry::max_type_id; ++id) {
        if (!has(&bits, id)) continue;
        // The registry's word lives in its heap table, which never moves.
        const cell* word = &type_registry::type_entries[id].word;
        if (word->header == 0) raise::throw_error(err::internal_not_done);
        block::append_copy(destination, word);
    }
    return destination;
}

cell* push(const cell* typeset) { return stack::push_copy(typeset); }

cell* apply_set_op(int op) {
    const cell a = *stack::argument(0);
    cell b = make_empty();
    if (op != 8) {
        const cell* other = stack::argument(1);
        if (other->is(TYPE_TYPESET)) {
            b = *other;
        } else if (other->is(TYPE_DATATYPE)) {
            b = make_empty();
            add(&b, static_cast<int>(other->w1));
        } else {
            raise::throw_error(err::script_invalid_arg, other);
        }
    }
    cell result = a;
    switch (op) {
        case 5: case 9: result.w1 |= b.w1; result.w2 |= b.w2; result.w3 |= b.w3; break;
        case 6: case 10: result.w1 &= b.w1; result.w2 &= b.w2; result.w3 &= b.w3; break;
        case 7: case 12: result.w1 ^= b.w1; result.w2 ^= b.w2; result.w3 ^= b.w3; break;
        case 11: result.w1 &= ~b.w1; result.w2 &= ~b.w2; result.w3 &= ~b.w3; break;
        case 8: break;
        default: platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    }
    result.header = TYPE_TYPESET;
    return stack::set_result(&result);
}

int serialize(const cell* typeset, cell* output, bool only, const cell* part, int budget) {
    // The bits are read first: appending may move a block that holds the typeset.
    const cell bits = *typeset;
    if (!only) {
        string::append_c_string(output, "make typeset! [");
        budget -= 15;
    }
    bool wrote = false;
    for (int id = 1; id <= type_registry::max_type_id; ++id) {
        if (!has(&bits, id)) continue;
        const type_registry::type_entry& entry = type_registry::type_entries[id];
        if (!entry.name) continue;
        if (part && budget < 0) break;
        string::append_c_string(output, entry.name);
        string::append_c_string(output, " ");
        budget -= entry.name_length + 2;
        wrote = true;
    }
    if (wrote) {
        // The last space goes: overwritten by "]", or just dropped with only.
        string::truncate(output, string::length_from_head(output) - 1);
        if (!only) {
            string::append_c_string(output, "]");
        } else {
            budget += 1;
        }
    } else if (!only) {
        string::append_c_string(output, "]");
        budget -= 1;
    }
    return budget;
}

}  // namespace zor::typeset
