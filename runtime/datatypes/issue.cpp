// issue!: making issues from names, strings, characters and words; mold and comparison.
#include "runtime/datatypes/issue.h"

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"

namespace zor::issue {

namespace {

cell issue_of(int32_t symbol) { return cell{TYPE_ISSUE, context::global, static_cast<uint32_t>(symbol), word::INDEX_UNRESOLVED}; }

}  // namespace

cell* load_c_string(cell* destination, const char* name) {
    int32_t symbol = symbol::make(name);
    *destination = issue_of(symbol);
    return destination;
}

cell* push_c_string(const char* name) {
    cell* made = load_c_string(stack::push_slot(), name);
    if (!word::startup_collection) return made;
    cell* kept = block::append_copy(&block::root, made);
    stack::drop_slots(1);
    return kept;
}

cell* push_word(const cell* word) {
    cell* made = stack::push_copy(word);
    cell::set_type(made, TYPE_ISSUE);
    return made;
}

cell* make(cell* value, cell* spec, type_id type) {
    switch (spec->type()) {
        case TYPE_STRING: {
            // Interning reads the text from the index and may fill the string's encoding
            // cache: it works on a rooted copy.
            cell* text = stack::push_copy(spec);
            int32_t symbol = symbol::make_from_string(text);
            *text = issue_of(symbol);
            return text;
        }
        case TYPE_CHAR: {
            uint8_t bytes[4];
            int n = unicode::encode_utf8_char(spec->w2, bytes);
            int32_t symbol = symbol::make_from_utf8(reinterpret_cast<const char*>(bytes), n);
            const cell made = issue_of(symbol);
            return stack::push_copy(&made);
        }
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        case TYPE_ISSUE: {
            cell* made = stack::push_copy(spec);
            made->header = TYPE_ISSUE;
            return made;
        }
        default: {
            auto word_make = reinterpret_cast<action_handler<ACTION_MAKE>>(type_registry::handler_of(TYPE_WORD, ACTION_MAKE));
            return word_make(value, spec, type);
        }
    }
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    // The "#" counts one against the budget and is left out once a /part limit is used up,
    // as the markers of the other word types are.
    if (!part || budget >= 1) string::append_codepoint(output, '#');
    auto word_form = reinterpret_cast<action_handler<ACTION_FORM>>(type_registry::handler_of(TYPE_WORD, ACTION_FORM));
    (void)only, (void)all, (void)flat, (void)indent;
    return word_form(value, output, part, callable::spend(budget, 1));
}

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_ISSUE)) return -2;
    auto word_compare =
        reinterpret_cast<action_handler<ACTION_COMPARE>>(type_registry::handler_of(TYPE_WORD, ACTION_COMPARE));
    return word_compare(value, other, op);
}

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&make);
    list.inherit(ACTION_FORM);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_ISSUE, TYPE_WORD, "issue!", list);
}

}  // namespace zor::issue
