// Contexts: the maps from symbols to value slots behind every bound word.
//
// A context is a series of exactly two cells, named by its node:
//   cell 0, the context! cell (type 14): header bits 11-12 the kind (0 global, 1 function,
//     2 object), bit 16 the owner flag, bit 22 values on the evaluation stack, bit 24 the
//     self flag; word 1 the node of its kind-2 symbol hashtable, whose value series is the
//     key list (one key word per symbol, in the order added); word 2 the node of the value
//     block (heap values), or for on-stack values the argument-stack slot index of the
//     first value plus one (0 while no call of the function runs); word 3 unused.
//   cell 1, the self cell: the object! or function! that owns the context, unset! until
//     the owner stores itself there.
// Key word i {word!, this context, symbol id, i} names value slot i. Keys are found by
// symbol id exactly or by canonical id (all letter-case spellings of a name).
//
// Invariants for callers: every operation that can add a key or a value allocates, so
// cell pointers into a key list, a value block or any series (including a word or value
// passed in) are only valid until the next allocation. Contexts are named by node here,
// never by a pointer to their context! cell. A freshly made context's node is held by
// nothing: store it in a rooted cell before allocating again.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::context {

// Header bits of the context! cell.
inline constexpr uint32_t KIND_SHIFT = 11;
inline constexpr uint32_t KIND_MASK = 0x1800;
inline constexpr uint32_t FLAG_OWNER = 0x10000;
inline constexpr uint32_t FLAG_ON_STACK = 0x400000;
inline constexpr uint32_t FLAG_SELF = 0x1000000;
// Set on an object context's key word when its slot is assigned or read for a value.
inline constexpr uint32_t FLAG_KEY_TOUCHED = 0x2000;

enum kind : uint32_t { KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };

// The global context (a runtime root; the collector marks and relocates this variable).
extern node_ref global;

// Start-up: makes the global context (4,000 slots, heap values, no self).
void init_global();
// Registers context! (id 14, parent none, no actions).
void init_type();

// The on-change* call of object contexts: installed by the object module. Receives the
// object (the self cell), the word assigned, the old value and the new value; may run
// user code and leave values on the argument stack (they are dropped afterwards).
using on_change_handler = void (*)(cell* object, cell* word, cell* old_value, cell* new_value);
extern on_change_handler fire_on_change;

// --- Making ------------------------------------------------------------------------------

// A new context: slot count (0 taken as 1), on-stack flag, self flag, a source context to
// copy the table and key list from (0 for none), kind.
node_ref make(int32_t slots, bool on_stack, bool self_flag, node_ref source, kind k);
// A context keyed by the word!, get-word!, lit-word! and refinement! cells of the block from
// its index to its tail; a heap context gets one unset! value per such cell.
node_ref make_from_words(const cell* block, bool on_stack, bool self_flag, kind k);
// Gives the function or object value (in a stack slot) a fresh copy of its context.
void clone_for_value(cell* value, kind k);

// --- Reading the record ------------------------------------------------------------------

cell* context_cell(node_ref context);
cell* self_cell(node_ref context);
kind kind_of(node_ref context);
bool values_on_stack(node_ref context);
node_ref hashtable_of(node_ref context);
node_ref key_list_node(node_ref context);
cell* key_list_head(node_ref context);       // key_list_buffer: the first key word
int32_t key_count(node_ref context);
cell* word_at(node_ref context, int32_t index);  // key_word_address
// Heap values: the value cell at an index (null past the value block's tail).
cell* value_at(node_ref context, int32_t index);
int32_t value_count(node_ref context);
// On-stack values: the first value cell while a call runs, else null.
cell* stack_values(node_ref context);
void set_stack_values(node_ref context, cell* first);

// --- Keys ---------------------------------------------------------------------------------

// The 0-based index of the symbol's key, -1 when absent.
int32_t find_symbol(node_ref context, int32_t symbol, bool caseless);
// The key list position of the key that a lookup meets, -1 when absent. Differs from the
// index (find_symbol) only for a later spelling of a global name, whose key shares the
// value slot of the name's first key.
int32_t key_position(node_ref context, int32_t symbol, bool caseless);
// The index when present; when absent adds a key word (no value slot), writes its index to
// added_index and answers -1.
int32_t find_or_add_symbol(node_ref context, int32_t symbol, bool caseless, int32_t* added_index);
// Index of the symbol (caseless), adding it when absent; a heap context then gets one
// unset! value slot.
int32_t add_word(node_ref context, int32_t symbol);
// Sets the value of the symbol (caseless), adding key and slot when absent.
void put_symbol_value(node_ref context, int32_t symbol, const cell* value);
// Adds the symbol with the value only when no spelling of it is present; answers the new
// value cell, or null when it was present.
cell* add_symbol_value_if_absent(node_ref context, int32_t symbol, const cell* value);
// The value cell of the symbol (caseless); an on-stack context is looked up in the global
// context. Null when the symbol is absent.
cell* value_of_symbol(node_ref context, int32_t symbol);
// The key word of that very symbol, else a word of it bound in the global context (the
// symbol is added there when absent).
cell word_for_symbol(node_ref context, int32_t symbol);
// Adds every set-word! symbol of the block from its index; answers whether keys were added.
bool collect_set_words(node_ref context, const cell* block);

// --- Values on the stack ------------------------------------------------------------------

// Pushes a copy of the value at an index; a context without values raises not-defined.
cell* push_value_at(node_ref context, int32_t index);
// Heap contexts: the value at an index into the last stack slot and a new pushed slot, or
// only into the last slot. Object contexts mark the key word as touched.
cell* get_value_and_push(node_ref context, int32_t index);
cell* get_value_into_last_slot(node_ref context, int32_t index);

// --- Binding ------------------------------------------------------------------------------

// Binds the word when the context has its symbol (caseless): answers the index, else -1
// and the word stays as it was.
int32_t bind_word(node_ref context, cell* word);
// Binds every word of the block, recursively through blocks, parens, paths and hash!
// values. With self_option a plain word `self` gets the context and index -1.
void bind_block(const cell* block, node_ref context, bool self_option);

}  // namespace zor::context
