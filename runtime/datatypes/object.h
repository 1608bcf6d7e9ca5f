// object!: a context of named fields with an identity of its own. error! (34) and port!
// (48) are objects retyped, and share everything here.
//
// Cell (object! 32, no parent): word 1 the node of the object's context (kind object,
// values in a heap value block, self flag; its self cell holds a copy of this object
// value, change node included); word 2 the class id (signed: 0 for an empty object, 1 for
// error!, 2 for port!, small fixed ids from compiled code, fresh ids from next_class_id,
// which start at 1000001); word 3 the node of the change node (object-handlers.cpp), 0
// when the object has no change handler.
//
// Key words of an object context carry flag 0x2000 ("changed") once their field was
// assigned through word::set_in_context; modify `changed` clears them.
//
// Invariants for callers: object and value cells handed to these routines lie in rooted
// places (argument-stack slots, root cells), never inside a series buffer, because
// nearly every routine here allocates and may run user code (the change handlers); what
// they answer is a stack slot unless said otherwise. Contexts are named by node and read
// again after every allocation. Whenever an object's change node changes, the object is
// stored again into its context's self cell, which is where field assignment looks for it.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::object {

inline constexpr int32_t EMPTY_CLASS_ID = 0;
inline constexpr int32_t ERROR_CLASS_ID = 1;
inline constexpr int32_t PORT_CLASS_ID = 2;

// Registers object! (id 32, no parent) and installs the on-change* call of contexts.
void init_type();

// --- Fields --------------------------------------------------------------------------------

// The key word at a 0-based index of a context.
cell* get_word_at(node_ref context, int32_t index);
// The index of the word's symbol in the context (caseless), -1 when absent.
int32_t field_index(node_ref context, const cell* word);
// The field's value cell, or the shared none! cell when the object lacks the word.
cell* field_value(const cell* object, const cell* word);
// The number of value cells of a context.
int32_t field_count(node_ref context);
// Clears the new-line flag of every cell of a value series.
void clear_new_lines(node_ref values);
// Clears the changed flag of every key word of a context.
void clear_changed(node_ref context);
// The next class id of the global counter.
int32_t next_class_id();

// The value of the word is an object! of the class.
bool word_has_class(const cell* word, int32_t class_id);
// Value slot index of the context is an object! of the class.
bool slot_has_class(node_ref context, int32_t index, int32_t class_id);

// --- Making --------------------------------------------------------------------------------

// The cell (rooted) becomes an object! with a new empty context of the capacity, class 0,
// no change node, stored into its self cell.
cell* init_empty(cell* destination, int32_t capacity);
// Pushes an object! on an existing context (no change node), first giving an empty value
// series one unset! cell per key; stores it into the self cell. Answers the slot.
cell* push_from_context(node_ref context, int32_t class_id);
// Pushes a copy of the object: a new context with the same words and values, the
// source's type byte and class id, its change node when keep_change_node is set (else
// none). With deep and no types, nested series are copied deep; function fields are
// always cloned onto the copy; with types, values of those types are copied (deep when
// deep is set, an object met twice raising internal/no-cycle). Answers the slot.
cell* push_copy(const cell* source, bool deep, cell* types, bool keep_change_node);
// `construct`: no evaluation, no handler calls. A new object (fresh class id), or a deep
// copy of the prototype (null for none), given each set-word of the spec with the value
// after it; unless only, the words true/yes/on, false/no/off and none become logic! and
// none! values. Answers the slot.
cell* construct(cell* spec, cell* prototype, bool only);

// Evaluates an object or error spec block that is already bound to the object, through
// the interpreter; the value it leaves is dropped.
void evaluate_spec(cell* block);

// --- Changes (object-handlers.cpp) -----------------------------------------------------------

// The change node of the context's own handler fields, or 0 when it has neither
// on-change* nor on-deep-change*; raises script/bad-field-set for a handler field that is
// not a function! or routine!.
node_ref find_handlers(node_ref context);
// A change node of two cells: field index (-1 for none), local count and the handler
// spec node that count was taken for (0 for not yet taken), for each handler.
node_ref make_change_node(node_ref on_change_spec, node_ref on_deep_change_spec, int32_t on_change_index,
                          int32_t on_deep_change_index, int32_t on_change_locals, int32_t on_deep_change_locals);
// The object has a change node naming an on-deep-change* handler.
bool has_deep_handler(const cell* object);
// For compiled code: gives the object at the stack top a change node naming the two
// fields (-1 for none), makes it the owner of its series when on-deep-change* is named,
// stores it into the context's self cell; answers the change node.
node_ref install_change_handlers(node_ref context, int32_t on_change_index, int32_t on_change_locals,
                                 int32_t on_deep_change_index, int32_t on_deep_change_locals);
// Looks the handlers up again in the object's own fields (the object cell is updated),
// makes it the owner of its series when it has on-deep-change*, stores it into its self
// cell.
void refresh_handlers(cell* object);
// Calls on-change* with (word, old, new) when the object's change node names one; then,
// when the object owns its series, the field (its index in the object's context, -1 for
// none) owns the value it holds now (owner_track::settle_field).
void fire_on_change(cell* object, cell* word, int32_t field_index, cell* old_value, cell* new_value);
// The index of the word's field in the object's context: the word's own binding when it
// is bound there, else found by its symbol; -1 when the object has no such field.
int32_t field_index_of(const cell* object, const cell* word);
// The same with the old value in the last stack cell and the new one in the cell below.
void fire_on_change_from_stack(cell* object, cell* word);
// The same for the object that is the value of a word.
void fire_on_change_via_word(cell* object_word, cell* word);
// Calls on-deep-change* with (owner, word, target, action, new value or none, index,
// part); an owner without change node raises script/invalid-obj-evt.
void fire_on_deep_change(cell* owner, cell* word, cell* target, cell* action_word, cell* new_value, int32_t index,
                         int32_t part);
// `set` with an object target: assigns a block's values in order, another object's values
// by word, or the value itself to every field, calling on-change* once per assignment.
void set_from_values(cell* object, cell* value, bool any, bool only, bool some);

// --- The object! actions (error! and port! share the field list and path access) -----------

cell* make(cell* value, cell* spec, type_id type);
cell* reflect(cell* value, int field_symbol);
int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
// The field list of mold and form: "name: value" entries at the indentation, separated
// by line feeds (spaces with flat); as_mold is clear for form.
int mold_fields(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent,
                bool as_mold);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place);
int compare(cell* value, cell* other, int op);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* put(cell* object, cell* key, cell* value, bool case_sensitive);
cell* select(cell* object, cell* key, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse);
cell* modify(cell* object, cell* field, cell* value, bool case_sensitive);

}  // namespace zor::object
