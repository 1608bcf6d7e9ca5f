// function!: user-level functions, and the spec rules that every callable shares.
//
// Cell (function! 24, parent context!): header the type id, bit 9 (0x200) the `no-trace`
// attribute, bit 10 (0x400) the `trace` attribute; word 1 the node of the function
// context; word 2 the node of the spec block (always read from its head); word 3 the node
// of the extras series, five cells:
//   0  the body: a deep copy of the body block bound to the function context, or none!
//      for a function without interpreted body (a compiled one);
//   1  the argument descriptor cache (below), unset! until first asked for;
//   2  integer! the code-registry index of a compiled body (runtime/value/code-registry.h), or
//      unset!;
//   3  unset!, or a copy of the function value once an op! was made from it;
//   4  integer! an extra word given by the builder, or unset!.
//
// Function context: function kind, values on the evaluation stack, no self flag; its keys
// are, in spec order, every word!, lit-word!, get-word! and refinement! of the spec; its
// self cell holds a copy of the function value.
//
// Argument section of a call (the contract with the evaluator): from the argument base,
// one cell per key in key order: an argument its value; a refinement logic! true when
// used, false when not, followed by its arguments (none! when not used); /local logic!
// false followed by one none! per local word.
//
// Argument descriptor cache: a block built from the spec of any callable (function!,
// routine!, native!, action!, op!) on first use and kept in extras cell 1, so that a call
// need not walk the spec: cell 0 integer! the count of positional arguments, cell 1
// integer! the size of the argument section, then one pair of cells per section cell:
//   argument    its word as written (word!, lit-word! or get-word!: how it is fetched),
//               then typeset! of the accepted types (every type but unset! without a type
//               block);
//   refinement  the refinement!, then integer! the count of its arguments;
//   /local      the refinement!, then integer! the count of local words;
//   local word  the word!, then none!.
// The cache reflects the spec as it was when the cache was built.
//
// Invariants for callers: spec and body cells passed in lie in rooted places (argument-
// stack slots, root cells); every routine here may allocate and re-reads what it needs.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::function {

inline constexpr uint32_t FLAG_NO_TRACE = 0x200;
inline constexpr uint32_t FLAG_TRACE = 0x400;
inline constexpr uint32_t ATTRIBUTE_MASK = FLAG_NO_TRACE | FLAG_TRACE;

enum extras_cell : int {
    EXTRAS_BODY = 0,
    EXTRAS_DESCRIPTORS = 1,
    EXTRAS_CODE = 2,
    EXTRAS_OP_SOURCE = 3,
    EXTRAS_EXTRA = 4,
    EXTRAS_COUNT = 5,
};

// Registers function! (id 24, parent context!).
void init_type();

// --- Specs (function-spec.cpp) ------------------------------------------------------------

// `function/check-spec`: validates the spec from its index and answers the header flags of
// its attribute block. Raises script/bad-func-def (naming the whole spec) for a fault of
// shape, script/invalid-type-spec (naming the entry) for a type block entry that is not a
// datatype!, a typeset! or a word whose value is one of those or a word!, and
// script/dup-vars (naming the word) for a name given twice.
uint32_t check_spec(const cell* spec);

// `function/collect-locals`: spec is a private copy (a block! at its head in a rooted
// cell) that is edited in place: truncated at /extern, then given /local and the words
// that the body assigns (set-words, the words of foreach, remove-each and repeat),
// leaving out the spec's own and the /extern words. Pushes the block of collected words
// and answers its slot. With /extern, a spec cell that is not a word, refinement, block or
// string raises script/bad-func-extern.
cell* collect_locals(cell* spec, const cell* body);

// `function/count-locals`: 1 + the count of word! cells after the first /local at or after
// the start index; without /local 0, or -1 when strict.
int32_t count_locals(node_ref spec, int32_t start, bool strict);
// `function/push-locals`: pushes logic! false, then count - 1 none! cells (nothing for a
// count below 1).
void push_locals(int32_t count);

// Pushes the arguments of a call to a function! callback that is handed a fixed list of
// values (the lexer's and parse's tracers): the values for its positional words (none!
// beyond count), false for each refinement and none! for each word after one.
void push_callback_arguments(const cell* callback, const cell* arguments, int count);
// The descriptor block of a callable (see above), built and stored on first use. Pushes a
// copy of it and answers the slot.
cell* argument_descriptors(cell* value);
// Builds the descriptor block of a spec (from its head) into the destination, a rooted
// cell. Type blocks are read as typeset::fill_from_block reads them.
void build_argument_descriptors(const cell* spec, cell* destination);

// --- Building -----------------------------------------------------------------------------

// `function/push-new`: pushes a new function! built from the spec (copied from its index
// when that is above 0), a deep copy of the body (a block, or none! for a function
// without interpreted body), the given context or a new one made from the spec, a
// code-registry index and an extra word (0 for none), and the attribute flags. Without a
// given context the body copy is bound to the new one. Answers the context node (the
// pushed cell's word 1). A body that is neither block-like nor none! raises
// script/bad-func-def.
node_ref push_new(const cell* spec, const cell* body, node_ref context, int32_t code, int32_t extra, uint32_t flags);

// Clones a function held in a field of an object (made from a prototype or copied):
// a copy of the function context, the body deep-copied and bound to the object (self
// option) and then to the new context, the interpreted body always run (the compiled
// code is dropped). A function without interpreted body keeps its compiled code and
// extra word. Pushes the clone and answers its slot; the object cell lies in a rooted
// place.
cell* clone_for_object(const cell* function, const cell* object);

// --- Actions --------------------------------------------------------------------------------

cell* make(cell* value, cell* spec, type_id type);
// reflect of function! and routine!: `spec`, `body`, `words`.
cell* reflect(cell* value, int field_symbol);
int form(cell* value, cell* output, cell* part, int budget);
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
int compare(cell* value, cell* other, int op);

// The extras cell of a function! or routine! (valid until the next allocation).
cell* extras_cell(const cell* value, int index);

}  // namespace zor::function
