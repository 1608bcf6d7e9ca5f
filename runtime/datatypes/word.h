// The word types: word! (15), set-word! (16), lit-word! (17), get-word! (18) and
// refinement! (19). issue! (20) shares the cell layout.
//
// A word cell holds: word 1 the node of the context it is bound to (0 for an unbound
// refinement made from a name), word 2 the symbol id, word 3 the index of the symbol in
// that context's key list, or -1 until resolved (a word with index -1 is resolved on its
// first assignment; reading it raises no-value unless its symbol is `self`, which names
// the context's self cell).
//
// Invariants for callers: a word or value passed by pointer is read before anything in
// the call allocates, and cell pointers answered here point into series buffers (a key
// list, a value block, the root block) that can move at the next allocation. Words that
// must outlive an allocation live in stack slots or blocks.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::word {

inline constexpr uint32_t INDEX_UNRESOLVED = 0xFFFFFFFF;

// While set (start-up and boot), every word made by make_global and make_global_from_name
// is also appended as a copy to the runtime's root block, and the copy is answered, so that
// words made before the boot environment exists stay alive.
extern uint32_t startup_collection;

// Registration of the five types, in the start-up order.
void init_type();
void init_set_word_type();
void init_lit_word_type();
void init_get_word_type();
void init_refinement_type();

inline bool is_any_word_type(type_id type) { return type >= TYPE_WORD && type <= TYPE_ISSUE; }

// --- Making -------------------------------------------------------------------------------

// A word! bound in the global context: the name is interned exactly, then looked up
// caselessly; a differing spelling gets a copy of the key word carrying its own symbol.
cell* make_global_from_name(const char* name);
// A word! of the symbol bound in the global context (exact lookup, added when missing).
cell* make_global(int32_t symbol);
// Writes {word!, global context, symbol, index from context::add_word} into out, which
// must not lie in a series buffer that an allocation can move (use a stack slot).
cell* make_global_in_cell(int32_t symbol, cell* out);
cell* push_global(int32_t symbol);
// The key word of the symbol in the global context, added with an unset! value when
// absent (all spellings of a name share one value slot); with caseless and want_copy, a
// spelling other than the key's gets a copy in the root block carrying that spelling.
cell* intern_global(int32_t symbol, bool caseless, bool want_copy);
// The type word of a datatype name for the registry (false before symbols exist).
bool make_type_word(const char* name, cell* out);

// --- Stack --------------------------------------------------------------------------------

cell* push(const cell* word);
cell* push_from_context(node_ref context, int32_t index);
// Pushes a copy of the word's value; an unset! value raises no-value with the word.
cell* push_value(const cell* word);
// The set-word step: word at args_base, value in the next cell. An unset! value raises
// need-value; otherwise assigns and leaves a copy of the value in the result slot.
cell* set_from_args();
// Pushes a string! sharing the series of the symbol's string form.
cell* push_name_as_string(const cell* word);

// --- Values -------------------------------------------------------------------------------

// The word's value cell in the context it is bound to.
cell* get_value(const cell* word);
// The word's value cell in the given context (the word's own binding is not consulted
// except for `self`).
cell* get_value_in_context(const cell* word, node_ref context);
// The value cell get_value_in_context answers, or null (raising nothing) where it raises.
cell* find_value_in_context(const cell* word, node_ref context);
// Assigns in the word's own context, firing an object's on-change*.
cell* set_value(cell* word, const cell* value);
// Assigns in the context; an unresolved word is resolved (and the key added) first. With
// fire, an object's on-change* handler is called after the store.
cell* set_in_context(cell* word, const cell* value, node_ref context, bool fire);

// --- Names --------------------------------------------------------------------------------

cell* symbol_cell(const cell* word);
// The datatype of the token the lexer makes from the symbol's name (needs the lexer).
type_id scan_name_type(const cell* word);

}  // namespace zor::word

namespace zor::get_word {
cell* push(const cell* word);
cell* push_from_context(node_ref context, int32_t index);
// The get-word evaluation step: pushes the value without the unset! check.
cell* push_value(const cell* word);
}  // namespace zor::get_word

namespace zor::refinement {
cell* push(const cell* word);
cell* push_from_context(node_ref context, int32_t index);
// Appends an unbound refinement of the name (symbol interned exactly) to the root block.
cell* make_from_name(const char* name);
}  // namespace zor::refinement
