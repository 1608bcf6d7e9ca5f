// The word types: making, reading and assigning words, and the actions of word!,
// set-word!, lit-word!, get-word! and refinement!.
//
// The four subtypes take make, to, form, compare and (except refinement!) index? from
// word! and fill only mold, with the one prefix or suffix character that marks them.
#include "runtime/datatypes/word.h"

#include <cstring>
#include <exception>
#include <string>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/upcalls.h"

namespace zor::word {

uint32_t startup_collection = 0;

namespace {

int32_t symbol_of(const cell* word) { return static_cast<int32_t>(word->w2); }
int32_t index_of(const cell* word) { return static_cast<int32_t>(word->w3); }

bool in_root_block(const cell* c) {
    memory::series_buffer* root = memory::buffer_of(block::root.w2);
    return c >= root->head_cell() && c < root->tail_cell();
}

// While start-up collects words, a word made from a name lives in the root block.
cell* collected(cell* word) {
    if (!startup_collection || in_root_block(word)) return word;
    return block::append_copy(&block::root, word);
}

// --- Conversion -----------------------------------------------------------------------------

[[noreturn]] void bad_to_arg(type_id target, const cell* spec) {
    cell type{TYPE_DATATYPE, target, 0, 0};
    cell value = *spec;
    raise::throw_error(err::script_bad_to_arg, &type, &value);
}

// Runs the lexer over UTF-8 text into a freshly pushed stack slot; false when it made no
// value. The slot is made a valid unset! first, since raising allocates.
bool scan_into(const std::string& text, cell* out) {
    cell::init_unset(out);
    return upcalls::installed(upcalls::scan_text)(text.data(), static_cast<int64_t>(text.size()), out);
}

// A word value made from text: the text must scan as one of the word types.
cell* word_from_text(const std::string& text) {
    cell* out = stack::push_slot();
    if (!scan_into(text, out) || !is_any_word_type(out->type())) raise::throw_error(err::script_invalid_chars);
    return out;
}

// `word!/make` and `word!/to`: the result's whole header is the target type.
cell* make(cell* /*value*/, cell* spec, type_id target) {
    cell* result;
    switch (spec->type()) {
        case TYPE_DATATYPE: {
            uint32_t id = spec->w1;
            if (id == 0 || id >= static_cast<uint32_t>(TYPE_TABLE_SIZE)) bad_to_arg(target, spec);
            const cell& type_word = type_registry::type_entries[id].word;
            if (!is_any_word_type(type_word.type())) bad_to_arg(target, spec);
            result = stack::push_copy(&type_word);
            break;
        }
        case TYPE_LOGIC: {
            cell truth = *intern_global(spec->w1 == 1 ? symbols::true_ : symbols::false_, false, false);
            result = stack::push_copy(&truth);
            break;
        }
        case TYPE_STRING: {
            int64_t length = -1;
            const char* text = unicode::string_to_utf8(spec, &length);
            result = word_from_text(std::string(text, static_cast<size_t>(length)));
            break;
        }
        case TYPE_CHAR: {
            uint8_t bytes[4];
            int n = unicode::encode_utf8_char(spec->w2, bytes);
            result = word_from_text(std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n)));
            break;
        }
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
            result = stack::push_copy(spec);
            break;
        case TYPE_REFINEMENT: case TYPE_ISSUE: {
            result = stack::push_copy(spec);
            switch (scan_name_type(result)) {
                case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD:
                    context::bind_word(context::global, result);
                    break;
                default:
                    bad_to_arg(target, spec);
            }
            break;
        }
        default:
            bad_to_arg(target, spec);
    }
    result->header = target;
    return result;
}

// --- Form and mold ----------------------------------------------------------------------------

// Appends the symbol's name from its first character; with a /part limit only as many
// characters as the budget allows. Answers the budget less the characters written.
int append_name(int32_t symbol, cell* output, cell* part, int budget) {
    node_ref form = symbol::ensure_string_form(symbol);
    cell* name = stack::push_slot();
    *name = cell{TYPE_STRING, 0, form, 0};
    int64_t length = string::rest_length(name);
    int64_t count = length;
    if (part && budget < length) count = budget < 0 ? 0 : budget;
    if (count > 0) string::concatenate(output, name, count, 0, true, string::CONCATENATE_APPEND);
    stack::drop_slots(1);
    return budget - static_cast<int>(count);
}

int form(cell* value, cell* output, cell* part, int budget) {
    return append_name(symbol_of(value), output, part, budget);
}

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* part, int budget,
         int /*indent*/) {
    return form(value, output, part, budget);
}

// One marker character before or after the name; it counts one against the budget and is
// left out once a /part limit is used up.
int mold_marked(cell* value, cell* output, cell* part, int budget, char marker, bool after) {
    int32_t symbol = symbol_of(value);
    if (!after) {
        if (!part || budget >= 1) string::append_codepoint(output, static_cast<uint8_t>(marker));
        budget -= 1;
    }
    budget = append_name(symbol, output, part, budget);
    if (after) {
        if (!part || budget >= 1) string::append_codepoint(output, static_cast<uint8_t>(marker));
        budget -= 1;
    }
    return budget;
}

int mold_lit_word(cell* value, cell* output, bool, bool, bool, cell* part, int budget, int) {
    return mold_marked(value, output, part, budget, '\'', false);
}
int mold_set_word(cell* value, cell* output, bool, bool, bool, cell* part, int budget, int) {
    return mold_marked(value, output, part, budget, ':', true);
}
int mold_get_word(cell* value, cell* output, bool, bool, bool, cell* part, int budget, int) {
    return mold_marked(value, output, part, budget, ':', false);
}
int mold_refinement(cell* value, cell* output, bool, bool, bool, cell* part, int budget, int) {
    return mold_marked(value, output, part, budget, '/', false);
}

// --- Comparison and index? ------------------------------------------------------------------

bool same_canonical(const cell* a, const cell* b) {
    return symbol::canonical_id(symbol_of(a)) == symbol::canonical_id(symbol_of(b));
}

bool word_and_lit_word(const cell* a, const cell* b) {
    type_id x = a->type(), y = b->type();
    return (x == TYPE_WORD && y == TYPE_LIT_WORD) || (x == TYPE_LIT_WORD && y == TYPE_WORD);
}

int compare(cell* value, cell* other, int op) {
    if (!is_any_word_type(other->type())) return -2;
    if (other->is(TYPE_ISSUE) && !value->is(TYPE_ISSUE)) return -2;
    bool equal;
    switch (op) {
        case COMPARE_EQUAL: case COMPARE_NOT_EQUAL: case COMPARE_FIND:
            equal = same_canonical(value, other);
            break;
        case COMPARE_STRICT_EQUAL:
            equal = value->type() == other->type() && symbol_of(value) == symbol_of(other);
            break;
        case COMPARE_SAME:
            equal = symbol_of(value) == symbol_of(other) && value->w1 == other->w1 && value->type() == other->type();
            break;
        case COMPARE_LIT_FORM_EQUAL:
            if (word_and_lit_word(value, other)) equal = symbol_of(value) == symbol_of(other);
            else equal = value->type() == other->type() && symbol_of(value) == symbol_of(other);
            break;
        case COMPARE_LIT_FORM_EQUAL_FOLDED:
            if (word_and_lit_word(value, other)) equal = same_canonical(value, other);
            else equal = value->type() == other->type() && same_canonical(value, other);
            break;
        case COMPARE_LESSER:
        case COMPARE_LESSER_OR_EQUAL:
        case COMPARE_GREATER:
        case COMPARE_GREATER_OR_EQUAL:
        case COMPARE_SORT: case COMPARE_SORT_CASE:
            return symbol::compare_names(symbol_of(value), symbol_of(other), op);
        default:
            return -2;
    }
    return equal ? 0 : 1;
}

// index? answers the key index + 1, or none while the word is unresolved.
cell* index_q() {
    cell* word = stack::result_slot();
    int32_t index = index_of(word);
    if (index < 0) *word = cell{TYPE_NONE, 0, 0, 0};
    else *word = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index + 1), 0};
    return word;
}

// The rows of the subtypes: make, to, form and compare (and index? unless refinement!)
// from word!, their own mold, nothing else.
type_registry::action_list subtype_row(action_handler<ACTION_MOLD> mold_routine, bool with_index) {
    type_registry::action_list list(TYPE_NONE_ID);
    list.inherit(ACTION_MAKE).inherit(ACTION_TO).inherit(ACTION_FORM).inherit(ACTION_COMPARE);
    if (with_index) list.inherit(ACTION_INDEX_Q);
    list.set<ACTION_MOLD>(mold_routine);
    return list;
}

}  // namespace

// --- Registration -------------------------------------------------------------------------

void init_type() {
    // word! names symbol! as its parent but fills its own row and inherits nothing.
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&make);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_INDEX_Q>(&index_q);
    type_registry::register_type(TYPE_WORD, TYPE_SYMBOL, "word!", list);
}

void init_lit_word_type() {
    type_registry::register_type(TYPE_LIT_WORD, TYPE_WORD, "lit-word!", subtype_row(&mold_lit_word, true));
}
void init_set_word_type() {
    type_registry::register_type(TYPE_SET_WORD, TYPE_WORD, "set-word!", subtype_row(&mold_set_word, true));
}
void init_get_word_type() {
    type_registry::register_type(TYPE_GET_WORD, TYPE_WORD, "get-word!", subtype_row(&mold_get_word, true));
}
void init_refinement_type() {
    type_registry::register_type(TYPE_REFINEMENT, TYPE_WORD, "refinement!", subtype_row(&mold_refinement, false));
}

// --- Making ---------------------------------------------------------------------------------

cell* intern_global(int32_t symbol, bool caseless, bool want_copy) {
    node_ref global = context::global;
    int32_t position = -1;
    int32_t found = context::find_or_add_symbol(global, symbol, caseless, &position);
    global = context::global;  // the collector may have moved it
    if (found < 0) {
        // Every spelling of a global name shares the value slot of the name's first key.
        if (symbol::alias_of(symbol) > 0) {
            context::word_at(global, position)->w3 =
                static_cast<uint32_t>(context::find_symbol(global, symbol, true));
        }
        cell::init_unset(memory::alloc_tail_cell(memory::buffer_of(context::context_cell(global)->w2)));
        return context::word_at(context::global, position);
    }
    // The key that the lookup met: with a caseless lookup it may carry another spelling.
    cell* key = context::word_at(global, context::key_position(global, symbol, caseless));
    if (caseless && want_copy && symbol_of(key) != symbol) {
        cell copy = *key;
        copy.w2 = static_cast<uint32_t>(symbol);
        return block::append_copy(&block::root, &copy);
    }
    return key;
}

cell* make_global_from_name(const char* name) {
    int32_t symbol = symbol::make(name);
    return collected(intern_global(symbol, true, true));
}

cell* make_global(int32_t symbol) { return collected(intern_global(symbol, false, false)); }

cell* make_global_in_cell(int32_t symbol, cell* out) {
    int32_t index = context::add_word(context::global, symbol);
    *out = cell{TYPE_WORD, context::global, static_cast<uint32_t>(symbol), static_cast<uint32_t>(index)};
    return out;
}

cell* push_global(int32_t symbol) {
    cell* slot = stack::push_slot();
    cell::init_unset(slot);
    return make_global_in_cell(symbol, slot);
}

bool make_type_word(const char* name, cell* out) {
    if (!symbol::index_table || !context::global) return false;
    *out = *make_global_from_name(name);
    return true;
}

// --- Stack ------------------------------------------------------------------------------------

cell* push(const cell* word) { return stack::push_copy(word); }

cell* push_from_context(node_ref context, int32_t index) {
    cell key = *context::word_at(context, index);
    return stack::push_copy(&key);
}

cell* push_value(const cell* word) {
    cell value = *get_value(word);
    if (value.is(TYPE_UNSET)) {
        cell named = *word;
        raise::throw_error(err::script_no_value, &named);
    }
    return stack::push_copy(&value);
}

cell* set_from_args() {
    cell* word = stack::state.args_base;
    cell* value = word + 1;
    if (value->is(TYPE_UNSET)) raise::throw_error(err::script_need_value, word);
    set_value(word, value);
    *stack::state.args_base = *(stack::state.args_base + 1);
    return stack::state.args_base;
}

cell* push_name_as_string(const cell* word) {
    int32_t symbol = symbol_of(word);
    node_ref form = symbol::ensure_string_form(symbol);
    cell* slot = stack::push_slot();
    *slot = cell{TYPE_STRING, 0, form, 0};
    return slot;
}

// --- Values ---------------------------------------------------------------------------------

cell* find_value_in_context(const cell* word, node_ref context) {
    int32_t index = index_of(word);
    if (index < 0) return symbol_of(word) == symbols::self && word->w1 ? context::self_cell(word->w1) : nullptr;
    if (!context) return nullptr;
    if (context::values_on_stack(context)) {
        cell* first = context::stack_values(context);
        return first && index < context::key_count(context) ? first + index : nullptr;
    }
    return context::value_at(context, index);
}

cell* get_value_in_context(const cell* word, node_ref context) {
    if (cell* slot = find_value_in_context(word, context)) return slot;
    // A function's word while no call of it runs.
    const bool outside_call = index_of(word) >= 0 && context && context::values_on_stack(context) &&
                              !context::stack_values(context);
    cell named = *word;
    raise::throw_error(outside_call ? err::script_not_in_context : err::script_no_value, &named);
}

cell* get_value(const cell* word) { return get_value_in_context(word, word->w1); }

cell* set_value(cell* word, const cell* value) {
    if (!word->w1) {
        cell named = *word;
        raise::throw_error(err::script_not_defined, &named);
    }
    return set_in_context(word, value, word->w1, true);
}

cell* set_in_context(cell* word, const cell* value, node_ref context, bool fire) {
    int32_t symbol = symbol_of(word);
    int32_t index = index_of(word);
    // The new value and the context are held in stack slots: resolving the word may add a
    // key, and the handler may run anything.
    stack::slot_mark guard;
    cell* new_value = stack::push_copy(value);
    cell* named = stack::push_copy(word);  // the word as errors and the handler name it
    if (!context) raise::throw_error(err::script_not_defined, named);
    cell* holder = stack::push_slot();
    *holder = cell{TYPE_WORD, context, 0, INDEX_UNRESOLVED};
    if (index < 0) {
        index = context::find_symbol(context, symbol, false);
        if (index < 0) {
            // add_word finds a case variant's key or appends one at the end of the key list.
            // The word learns that index before the key is added, since the word may lie in
            // a buffer that the addition moves.
            index = context::find_symbol(context, symbol, true);
            if (index < 0) index = context::key_count(context);
            word->w3 = static_cast<uint32_t>(index);
            index = context::add_word(context, symbol);
            context = holder->w1;
        } else {
            word->w3 = static_cast<uint32_t>(index);
        }
        named->w3 = static_cast<uint32_t>(index);
    }
    if (context::values_on_stack(context)) {
        cell* first = context::stack_values(context);
        if (!first || index >= context::key_count(context)) raise::throw_error(err::script_not_defined, named);
        first[index] = *new_value;
        return first + index;
    }
    cell* slot = context::value_at(context, index);
    if (!slot) raise::throw_error(err::script_not_defined, named);
    if (context::kind_of(context) != context::KIND_OBJECT) {
        *slot = *new_value;
        return slot;
    }
    if (index < context::key_count(context)) context::word_at(context, index)->header |= context::FLAG_KEY_TOUCHED;
    const cell* self = context::self_cell(context);
    if (!fire || self->w3 == 0 || !context::fire_on_change) {
        *slot = *new_value;
        return slot;
    }
    // The handler sees the old value, the new one in place, the object and the word; what
    // it leaves on the stack is dropped with the rest by the guard.
    cell* object = stack::push_copy(self);
    cell* word_copy = stack::push_copy(named);
    cell* old_value = stack::push_copy(slot);
    *context::value_at(context, index) = *new_value;
    context::fire_on_change(object, word_copy, old_value, new_value);
    context = holder->w1;
    return context::value_at(context, index);
}

// --- Names ------------------------------------------------------------------------------------

cell* symbol_cell(const cell* word) { return symbol::cell_of(symbol_of(word)); }

type_id scan_name_type(const cell* word) {
    std::string name(symbol::name_of(symbol_of(word)));
    cell* out = stack::push_slot();
    bool made = scan_into(name, out);
    type_id type = made ? out->type() : TYPE_NONE_ID;
    stack::drop_slots(1);
    return type;
}

}  // namespace zor::word

// --- The subtypes' families ---------------------------------------------------------------------

namespace zor {
namespace {

cell* push_as(const cell* word, type_id type) {
    cell* slot = stack::push_copy(word);
    cell::set_type(slot, type);
    return slot;
}

}  // namespace

namespace get_word {
cell* push(const cell* word) { return push_as(word, TYPE_GET_WORD); }
cell* push_from_context(node_ref context, int32_t index) {
    cell key = *context::word_at(context, index);
    return push_as(&key, TYPE_GET_WORD);
}
cell* push_value(const cell* word) {
    cell value = *word::get_value(word);
    return stack::push_copy(&value);
}
}  // namespace get_word

namespace refinement {
cell* push(const cell* word) { return push_as(word, TYPE_REFINEMENT); }
cell* push_from_context(node_ref context, int32_t index) {
    cell key = *context::word_at(context, index);
    key.header = TYPE_REFINEMENT;
    return stack::push_copy(&key);
}
cell* make_from_name(const char* name) {
    int32_t symbol = symbol::make(name);
    cell value{TYPE_REFINEMENT, 0, static_cast<uint32_t>(symbol), word::INDEX_UNRESOLVED};
    return block::append_copy(&block::root, &value);
}
}  // namespace refinement

}  // namespace zor
