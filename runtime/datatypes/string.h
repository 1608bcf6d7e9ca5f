// string!: text as Latin-1 (unit 1), UCS-2 (unit 2) or UCS-4 (unit 4) units that only
// ever widen. The cell holds the index in units (word 1), the node (word 2) and the node
// of the latest UTF-8/UTF-16LE encoding cache (word 3, 0 when none).
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace zor::string {

// Makes the cell an empty string! of unit 1; capacity in bytes (0 means 1).
cell* make_empty(cell* destination, int64_t capacity);
// Makes the cell an empty string! of the unit width; capacity in units (0: 16 bytes' worth).
cell* make_in_cell(cell* destination, int64_t capacity, uint32_t unit);
// Pushes a new empty string! of capacity 16 on the argument stack.
cell* push_empty();
// Appends each byte of the NUL-terminated text as a code point 0..255.
void append_c_string(cell* string, const char* text);
// Appends n bytes (n >= 1) as code points 0..255.
void append_bytes(cell* string, const char* bytes, int64_t n);
// Appends one code point; a code point the units cannot hold widens the string (appending
// keeps only 0..0x7F in a unit-1 buffer).
void append_codepoint(cell* string, uint32_t c);
// Appends the characters of another string from its index.
void append_units(cell* output, const cell* source);
// Appends n levels of indentation, four spaces each; answers the budget less 4 n.
int append_indent(cell* output, int n, int budget);
// Characters from the (clamped) index to the tail.
int64_t rest_length(const cell* string);
// Cuts the string to n units from its head when it is longer.
void truncate(cell* string, int64_t n);
// The characters from the index as UTF-8 (for tests and diagnostics).
std::string to_utf8(const cell* string);

}  // namespace zor::string
