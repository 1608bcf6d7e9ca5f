// The symbol table: every name of the language interned once, identified by its symbol
// id, the 1-based position of its symbol! cell in the symbol table block.
//
// A symbol! cell (type 13) holds: word 1 the alias (-1 for the first spelling of a name;
// for a later spelling that differs only in ASCII letter case, the id of the name's first
// spelling, so that the canonical id is always one step away); word 2 the node of its
// string! form (0 until first asked for); word 3 the node of a byte series with its UTF-8
// name followed by one NUL byte past the tail.
//
// Invariants: ids are never reused and symbols are never removed. The table block (a cell
// of the runtime's root block) and its kind-2 hashtable (`index_table`, which the
// collector marks and relocates as a root) index each other: bucket keys are cell indexes
// of the block. A symbol cell pointer (get_cell, cell_of) points into the table block, and
// every interning call can allocate, so such pointers and name views are only valid until
// the next allocation. Names passed in must not lie in a series buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/value/cell.h"

namespace zor::symbol {

// The symbol table's hashtable (kind 2, value series = the table block).
extern node_ref index_table;

// Start-up: the symbol table block must already be the root block's cell at
// block_index_in_root; makes its hashtable (requested size 4,000, kind 2).
void init_table(int32_t block_index_in_root);
// Registers symbol! (id 13, parent none) with its compare action.
void init_type();

// Interning. All answer the symbol id. A new name that is not valid UTF-8 raises
// access/invalid-utf8.
int32_t make(const char* name);                              // exact; NUL-terminated UTF-8
int32_t make_caseless(const char* name);                     // any existing spelling
int32_t make_from_utf8(const char* bytes, int64_t length);   // exact
int32_t make_from_utf8(std::string_view name);               // exact
int32_t make_from_string(cell* string_value);                // text from the index, exact
// The id of the exact name when it is interned, else 0. Never allocates.
int32_t find(std::string_view name);

// Reading. Ids outside 1..count() are answered as they are by canonical_id.
cell* cell_of(int32_t id);                   // the table cell, as it is
cell* get_cell(int32_t id);                  // the table cell, its string form made sure of
// The node of the string form, made on first use by decoding the UTF-8 name. Accepts a
// table cell or a copy of one (the table cell is updated; a copy is not written to).
node_ref ensure_string_form(cell* symbol_cell);
node_ref ensure_string_form(int32_t id);
int32_t canonical_id(int32_t id);            // alias when positive, else id
int32_t alias_of(int32_t id);                // the raw alias word
std::string_view name_of(int32_t id);        // UTF-8 bytes; valid until the next allocation
int32_t count();                             // symbols interned so far

// The table block's cell (inside the root block).
cell* table_block();

// symbol!/compare: the names compared as text by comparison op code (upper-cased unless
// the op is 2 or 8); -2 when the other value is not a symbol!. Allocates nothing.
int compare(cell* value, cell* other, int op);
// The same comparison for two symbol ids (the ordering of word names).
int compare_names(int32_t left, int32_t right, int op);

}  // namespace zor::symbol
