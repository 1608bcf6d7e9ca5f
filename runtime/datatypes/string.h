// string! storage: the cell shared by every any-string type, the unit model, and the
// low-level readers and writers that every text-producing module uses.
//
// Cell (string! 7, file! 8, url! 9, tag! 44, email! 45, ref! 50 alike): word 1 the index
// in code units from the buffer's head (signed; it may lie past the tail after another
// value shortened the buffer, and readers clamp it), word 2 the node of the series, word
// 3 the node of the encoding cache of runtime/text/unicode.h (0 in every new cell).
//
// Buffer: units of one width for the whole buffer, in the low 5 bits of its flags: 1
// (Latin-1, 0..0xFF), 2 (UCS-2, 0..0xFFFF, never a surrogate pair) or 4 (UCS-4), stored
// little-endian. A buffer only widens (1 to 2, 1 to 4, 2 to 4, in place, the node stays);
// only `reset` takes it back to unit 1. Appending (and so molding and forming) keeps only
// 0..0x7F in a unit-1 buffer and widens it for 0x80..0xFF; positional writers and the
// text loaders keep 0..0xFF there. Any other unit width is an internal fault that ends
// the process (runtime error 101).
//
// Invariants for callers: the buffer-level writers take a buffer, may move it, and answer
// the buffer that now holds the data; a cell-level routine re-reads the cell's node after
// every allocation, so the cell itself must live in a rooted place that does not move
// while it runs (an argument-stack slot or a root cell, not a cell inside a block). No
// address answered here (get_position, get_tail) survives an allocation.
//
// string!'s form and mold (string-mold.cpp) and its actions (string-actions.cpp) are
// declared at the end of this header.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/value/cell.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"

namespace zor::type_registry {
class action_list;
}

namespace zor::string {

using memory::series_buffer;

// The size of the shared scratch buffer of rotate_bytes between calls.
inline constexpr int64_t SCRATCH_SIZE = 65536;

// Load encodings of load_from_bytes.
enum encoding : int { ENCODING_UTF8 = 0, ENCODING_UTF16LE = -1 };

// True for string!, file!, url!, tag!, email! and ref!.
bool is_any_string(type_id type);

// --- Registration -------------------------------------------------------------------------

// Allocates the shared scratch buffer, then registers string! (id 7, parent series!).
void init_type();

// --- Making and loading ---------------------------------------------------------------------

// Makes the cell an empty string! of the unit width; capacity in units (0: 16 bytes' worth).
cell* make_in_cell(cell* destination, int64_t capacity, uint32_t unit);
// Makes the cell an empty string! of unit 1; capacity in bytes (0 means 1).
cell* make_empty(cell* destination, int64_t capacity);
// Pushes a new empty string! of capacity 16 on the argument stack.
cell* push_empty();
// Pushes a copy of a string cell into a new argument-stack slot; answers the slot.
cell* push(const cell* string);
// Makes a string! of the encoded bytes (length in bytes) in the target cell (null: a new
// argument-stack slot): encoding 0 decodes UTF-8, -1 UTF-16LE (an odd byte count raises
// script/invalid-data); the unit width follows from the text. Any other encoding prints
// "*** Loading Error: input encoding unsupported" and ends the process with status 1.
// The target must not lie inside a series buffer.
cell* load_from_bytes(unicode::input_bytes bytes, int64_t length, cell* target, int encoding);
// The same into a new cell at the tail of the block (a rooted block! cell); answers nothing,
// since a cell inside the block moves with it.
void load_into_block(unicode::input_bytes bytes, int64_t length, cell* block, int encoding);
// The same onto the argument stack; answers the slot.
cell* load_onto_stack(unicode::input_bytes bytes, int64_t length, int encoding);

// --- Readers -------------------------------------------------------------------------------------

// Characters from the (clamped) index to the tail.
int64_t rest_length(const cell* string);
// Characters from the head to the tail.
int64_t length_from_head(const cell* string);
// Clamps the index to 0..length (writing it back into the cell) and answers the address
// of the unit at the index.
std::byte* get_position(cell* string);
std::byte* get_tail(const cell* string);
// True when index x unit width + head reaches the tail.
bool is_at_tail(const cell* string);
// The code point stored at an address (2- and 4-byte units little-endian).
inline uint32_t read_unit(const std::byte* at, uint32_t unit) { return unicode::read_unit(at, unit); }
// The code point at unit n from the head; n outside the text raises script/past-end.
uint32_t char_at(const cell* string, int64_t n);
// Offset from the index of the first occurrence of the code point, or -1.
int64_t find_char(const cell* string, uint32_t codepoint);
// True when the code point occurs at the index or at any record_size-th character after
// it (a size below 1 counts as 1); both sides upper-cased unless case_sensitive.
bool has_char(const cell* string, uint32_t codepoint, int64_t record_size, bool case_sensitive);
// True when the string, from its index, begins with the bytes of the NUL-terminated text
// (each byte a code point 0..255).
bool match_c_string(const cell* string, const char* text);
// Whether the character at the string's index is in the bitset: a code point at or above
// 8 x the bitset's stored bytes answers the complement flag; otherwise bit
// 0x80 >> (c & 7) of byte c >> 3. False at the tail.
bool current_char_in_bitset(const cell* string, const cell* bitset);

// --- Comparison and parse support ------------------------------------------------------------------

// Compares the text of two any-string (or symbol!) values from their indexes with a
// comparison op code (0 =, 1 <>, 2 ==, 3-6 orderings, 7 and 8 sort orders, 9 same?, 12 the
// search equality). Case folded (upper case) unless op is 2 or 8. With match, only the
// right value's length is compared (a prefix test). Answers 0 equal, -1 less, 1 greater
// (or not equal).
int32_t compare_contents(const cell* left, const cell* right, int32_t op, bool match);
// True when the string holds "<" at its index and ">" at index + 1 + the tag's length.
bool match_tag_at_position(const cell* string, const cell* tag);
// Whether the value matches the text at the string's index: an any-string by
// compare_contents in match mode with op, a char! by its code point (folded unless op is
// 2), a tag! with its angle brackets; any other value never matches.
bool match_value_at_position(const cell* string, const cell* value, int32_t op);

// --- Writers --------------------------------------------------------------------------------------

// Appends one code point, widening first (appending keeps only 0..0x7F in unit 1).
series_buffer* append_codepoint(series_buffer* buffer, uint32_t codepoint);
void append_codepoint(cell* string, uint32_t codepoint);
// Writes the code point at a unit index from the head, widening by the positional rule
// (0..0xFF stay in unit 1); an index at or beyond the capacity expands the buffer by
// doubling; an index at or beyond the tail moves the tail after the written unit (units
// of a gap between the old tail and the index are U+0000).
series_buffer* poke_codepoint_at_index(series_buffer* buffer, int64_t index, uint32_t codepoint);
// Inserts the code point at a unit index from the head (clamped to the tail), widening
// by the positional rule.
series_buffer* insert_codepoint(series_buffer* buffer, int64_t index, uint32_t codepoint);
// Overwrites the unit at a byte address inside the buffer, widening by the positional
// rule when the code point does not fit (the same character position is written then).
series_buffer* write_codepoint_at(series_buffer* buffer, std::byte* at, uint32_t codepoint);
// Removes the unit at an index from the head; nothing at or beyond the tail.
void remove_char_at(cell* string, int64_t index);
// Removes count units at a position from the head; nothing at or beyond the tail; a count
// reaching beyond the tail cuts the tail back to the position.
void remove_part(cell* string, int64_t position, int64_t count);
// Cuts the text to n units from its head when it is longer.
series_buffer* truncate(series_buffer* buffer, int64_t n);
void truncate(cell* string, int64_t n);
// Empties the string in place: unit width 1, tail at the head, index 0.
void reset(cell* string);
// Appends each byte of the NUL-terminated text as a code point 0..255 (nothing for "").
void append_c_string(cell* string, const char* text);
// Appends n bytes as code points 0..255 (nothing for n < 1).
void append_bytes(cell* string, const char* bytes, int64_t n);
// Appends the characters of another string (or symbol!) from its index.
void append_units(cell* output, const cell* source);
// Appends n levels of indentation, four spaces each; answers the budget less 4 n.
int append_indent(cell* output, int n, int budget);

// Widens the whole buffer in place from one unit width to a wider one (1 to 2, 1 to 4,
// 2 to 4; the same width does nothing).
series_buffer* widen_to_unit(series_buffer* buffer, uint32_t from, uint32_t to);
// Copies the units of the source from a byte offset (byte_count bytes, 0 for all up to
// the tail) into the target from its head, widened to the target width; with target null
// a new buffer of twice the needed size is made (its node is held by nothing yet: store
// it before allocating again). Unless keep_tail, the target's tail is set after the copy
// and its unit width to the target width. A pair of widths other than 1 to 2, 1 to 4 and
// 2 to 4 ends the process (runtime error 100).
series_buffer* copy_units_widening(series_buffer* source, series_buffer* target, uint32_t target_width,
                                   int64_t byte_offset, int64_t byte_count, bool keep_tail);
// Reorders two byte ranges of one buffer: the b bytes at `after` come first, at start,
// and the a bytes at start follow at start + b + d. Uses the shared scratch buffer (never
// the memory manager), so it does not allocate from it.
void rotate_bytes(std::byte* start, int64_t a, std::byte* after, int64_t b, int64_t d);
// Moves the characters of the source from its index (byte_count bytes' worth of its
// units) to the target's index, then removes them from the source. Within one buffer the
// characters keep their relative order and land at the target position.
void move_units(cell* source, int64_t byte_count, cell* target);

// Concatenation modes.
enum concatenate_mode : int { CONCATENATE_APPEND = 0, CONCATENATE_INSERT = 1, CONCATENATE_OVERWRITE = 2 };
// Copies the source's characters from its index (part count when between 0 and the rest,
// else all) into the target: appended at the tail (mode 0), inserted (mode 1) or written
// over (mode 2) at the target's index + offset (clamped to the tail). A narrower target is
// widened; a narrower source is widened itself unless convert, in which case the
// characters are converted one by one. A symbol! stands for the text of its name.
void concatenate(cell* target, const cell* source, int64_t part, int64_t offset, bool convert, int mode);

// --- Small text routines -----------------------------------------------------------------------

// Decimal text (unit-1 bytes) to a float, through number_text::parse_float.
double scan_float(const std::byte* text, int64_t length);
// Two upper-case hexadecimal digits in a static buffer (NUL-terminated).
const char* byte_to_hex(uint8_t byte);
// Eight upper-case hexadecimal digits in a static buffer; with trim, the leading fill
// ("0", or "F" for a negative value) is dropped down to two digits ("00" for 0, "1E",
// "20AC").
const char* int_to_hex(int32_t value, bool trim);

// The characters from the index as UTF-8 (for tests and diagnostics; a unit above
// 0x10FFFF shows as U+FFFD).
std::string to_utf8(const cell* string);

// --- Form, mold and escapes (string-mold.cpp) -----------------------------------------------------

// string!/form: appends the characters from the index (at most the budget of them when a
// /part argument is given); answers the budget less the characters from the index to the
// tail (negative when the output was cut).
int form(cell* value, cell* output, cell* part, int budget);
// string!/mold: appends the string as source text, between double quotes or, with three
// line feeds or more, a double quote, or 50 characters or more from the index, between
// braces (unbalanced braces then written as ^{ and ^}); control characters and the caret
// in caret form, and with all every character above 0x7F as ^(hex). With a /part
// argument only the budget's worth of characters from the index is molded. Answers the
// budget less the characters molded and the two delimiters.
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
// Appends one character as mold writes it between double quotes: ^(hex) for 0x1E and
// 0x80..0x9F (and, with all, for everything above 0x7F), the caret letter for the
// controls, the double quote and the caret, ^~ for DEL, else the character itself.
void append_escaped_char(cell* output, uint32_t codepoint, bool all);
// The double quotes and line feeds among the units between start and end.
void count_quotes_and_lines(const std::byte* start, const std::byte* end, uint32_t unit, int64_t& quotes,
                            int64_t& lines);
// Whether the opening brace at start finds its closing brace before end (nesting counted).
bool brace_balanced(const std::byte* start, const std::byte* end, uint32_t unit);
// The unit offset from start of the first opening brace that brace_balanced refuses, or
// -1 when every one is balanced (one backward pass instead of a scan per brace).
int64_t first_unbalanced_brace(const std::byte* start, const std::byte* end, uint32_t unit);

// --- The string! actions (string-actions.cpp) -------------------------------------------------------

// Fills string!'s own action slots in its registration list and marks the ones it does
// not support; the rest stay inherited from series!.
void register_actions(type_registry::action_list& list);

cell* make(cell* value, cell* spec, type_id type);
cell* to(cell* value, cell* spec, type_id type);
int compare(cell* value, cell* other, int op);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_sensitive, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
// append (append set) and insert: part -1 and dup -1 when absent. append answers the
// series at its head, insert the position after the inserted text.
cell* append(cell* series, cell* value, int part, bool only, int dup, bool append);
cell* change(cell* series, cell* value, int part, bool only, int dup);
cell* swap(cell* series, cell* other);
cell* take(cell* series, cell* part, bool deep, bool last);
cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with);
cell* sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
           bool stable);
// unique (8), union (9), intersect (10), exclude (11) and difference (12) of two strings
// by records of skip characters (an integer! or null); the new string is written into
// first (keeping its type, index 0), which is answered.
cell* set_operation(cell* first, cell* second, bool case_sensitive, cell* skip, int op);

}  // namespace zor::string
