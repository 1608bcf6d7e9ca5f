// What the lexer's own modules share: lexer.cpp (buffers, the chain of states, the
// driver), lexer-machine.cpp (the token loop, the structural scanners, open and close of
// series) and lexer-events.cpp (the callback, errors). Not for the token loaders.
//
// The output buffer is one malloc'd array of cells shared by every active scan; a state
// names its cells by index, so the array may move when it grows. Inside it, an open
// block, paren, map or path is a triple! marker cell followed by the cells read so far:
// word 1 the distance back to the previous head, word 2 the series type (51 with the
// comma count above bit 16 for a parenthesis that turned into a point), word 3 the byte
// offset of the opening delimiter. A state's output_head is the cell after the innermost
// marker, or its output_base when none is open.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"
#include "runtime/eval/lexer/lexer.h"

namespace zor::lexer {

// The generated tables: character_table, transition_table, skip_table,
// token_type_table, line_table, path_end_table and unicode_blanks.
#include "runtime/lexer-tables.inc"

inline constexpr int32_t START_NORMAL = 0;
inline constexpr int32_t START_BRACED = 4;
inline constexpr int32_t START_POINT = 35;
inline constexpr int32_t START_PATH = 59;

// The flag bits of the character table (the class takes bits 0-7).
inline constexpr uint32_t FLAGS_MASK = 0xFFFC0000;

// --- The shared output buffer (lexer.cpp) -----------------------------------------------------

// The first cell of the buffer; valid until the next new_cell.
cell* output_cells();
inline cell* output_at(uint32_t index) { return output_cells() + index; }

// --- Markers ------------------------------------------------------------------------------------

inline bool has_open_series(const state& s) { return s.output_head > s.output_base; }
// The innermost marker; only when has_open_series.
inline cell* innermost_marker(const state& s) { return output_at(s.output_head - 1); }
inline int32_t marker_type(const cell* marker) { return static_cast<int32_t>(marker->w2 & 0xFFFF); }
inline bool is_path_type(int32_t type) { return type >= TYPE_PATH && type <= TYPE_GET_PATH; }
// The series type of the innermost marker, 0 when none is open.
inline int32_t open_series_type(const state& s) {
    return has_open_series(s) ? marker_type(innermost_marker(s)) : 0;
}

// --- The token loop (lexer-machine.cpp) -----------------------------------------------------------

// Start-up: the token-class table from the scanners and loaders.
void init_machine();
// Runs the scan to the end of its input, or to its first value or token when single (or
// prescan) is set.
void scan_tokens(state& s, bool single, bool prescan);
// What a scan that ended quietly left open: blocks, parens and maps close as what they
// hold, path markers go and leave their cells to the series around them.
void close_all_series(state& s);

// --- Series (lexer-machine.cpp) -----------------------------------------------------------------

// Pushes a marker of the type for the opening delimiter between the addresses, unless
// the callback refuses the open event; answers whether it did.
bool open_series(state& s, type_id type, const uint8_t* delimiter, const uint8_t* end);
// Closes the innermost series: expected is the type the closer stands for (block! for
// "]", which also closes a map; set-path! for the ":" after a path!), or -1 for any. A
// closer that does not match raises the missing-delimiter error for the token between
// start and end.
void close_series(state& s, int32_t expected, const uint8_t* start, const uint8_t* end);
// Closes the path being read without events (an error inside a path ends it).
void close_pending_path(state& s);
// Leaves a braced string being read (an error inside one ends it).
void abandon_braced_string(state& s);

// --- Events (lexer-events.cpp) -------------------------------------------------------------------


inline bool has_callback(const state& s) {
    return s.callback.is(TYPE_FUNCTION) || s.callback.is(TYPE_ROUTINE);
}
// Reads the callback's event mask from the first block of its body (all six events when
// it has none, and for a routine!).
uint32_t event_mask_of(const cell* callback);
// The character offset (bytes for a source that is no string) of an input address.
int64_t offset_of(state& s, const uint8_t* at, offset_mark& mark);

}  // namespace zor::lexer
