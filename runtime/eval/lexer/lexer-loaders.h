// The token scanners and loaders' own interface between their three modules:
// lexer-loaders.cpp (the class tables, words, issues, refinements, construction syntax),
// lexer-strings.cpp (strings and escapes, chars, raw strings and the string-like types)
// and lexer-numbers.cpp (every number-like class, binary and point literals).
//
// Every routine here has the token_routine shape of lexer.h: it checks the token between
// start and end and, with load set, writes the value into a cell from lexer::new_cell.
// A bad token goes to lexer::raise_error with the datatype the token was read as.
//
// Invariants kept by every loader: the output cell's new-line flag (set by new_cell) is
// kept; whatever allocates (interning, string buffers) runs after new_cell, while the
// output cell is already part of the marked output range and nothing else can move it.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"
#include "runtime/eval/lexer/lexer.h"

namespace zor::lexer {

// The start state of the tokens that follow a path separator.
inline constexpr int32_t PATH_START_STATE = 59;

// --- Output cells ----------------------------------------------------------------------------

// Takes the next output cell and writes the value into it, keeping its new-line flag.
// For values whose cell holds no node (numbers, chars, datatypes, logic).
inline cell* put_value(state& s, const cell& value) {
    cell* out = new_cell(s);
    uint32_t new_line = out->header & FLAG_NEW_LINE;
    *out = value;
    out->header |= new_line;
    return out;
}

// Writes the type into a filled output cell, keeping only its new-line flag.
inline void set_final_type(cell* out, uint32_t new_line, type_id type) { out->header = type | new_line; }

// Whether the loader of the token runs right after its scanner and checks the same text:
// in load mode, unless a callback wants the scan event (which must come after the check
// and may refuse the load). A scanner that answers true has nothing to do.
inline bool loader_follows(const state& s) { return s.load_mode != 0 && !(s.event_mask & EVENT_SCAN); }

// --- Shared readers ---------------------------------------------------------------------------

// `lexer/decode-escape`: decodes the escape whose "^" is at p (p < end): "^(" with one to
// six hex digits or one of the seven names and ")", or one character after the "^".
// Answers the code point and sets *next after the escape; -1 when the escape is invalid
// (a hex value above 10FFFF or a surrogate, too many digits, an unknown name, a missing
// ")", an invalid UTF-8 character after the "^", or nothing after it). *hex_digits
// receives the digit count of a hex escape, 0 for every other form.
int32_t decode_escape(const uint8_t* p, const uint8_t* end, const uint8_t** next, int* hex_digits);

// Decodes one UTF-8 character at p (p < end), ASCII inline; -1 for invalid input.
int32_t decode_character(const uint8_t* p, const uint8_t* end, const uint8_t** next);

// True when every byte of the range is ASCII (so no UTF-8 validation is needed).
bool is_ascii(const uint8_t* start, const uint8_t* end);
// True when the range is valid UTF-8.
bool is_valid_utf8(const uint8_t* start, const uint8_t* end);

// The decimal digits of an integer token part: an optional sign, then digits where single
// apostrophes may separate them. Fills *value and answers INTEGER_OK, INTEGER_BAD (no
// digit, a stray character, two apostrophes in a row) or INTEGER_OVERFLOW (more than 10
// digits or outside 32 bits; -2147483648 is accepted).
enum integer_status : int { INTEGER_OK = 0, INTEGER_BAD = 1, INTEGER_OVERFLOW = 2, INTEGER_NO_DIGIT = 3 };
integer_status read_decimal_integer(const uint8_t* start, const uint8_t* end, int32_t* value);

// --- The routines, by token class ---------------------------------------------------------------

// lexer-loaders.cpp
void scan_construction(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_word(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_issue(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_refinement(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// lexer-strings.cpp
void scan_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_char(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_file(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_tag(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_url(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_email(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_ref(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_raw_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// lexer-numbers.cpp
void load_integer(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_hex_integer(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_percent(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_special_float(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_tuple(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_pair(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_time(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_date(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_money(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_binary(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_point(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

}  // namespace zor::lexer
