// Character display widths: how many terminal columns a code point occupies, for the
// console line editor and the text-mode display back-end, which place the cursor and
// lay out text by columns.
//
// The widths come from three constant tables of inclusive code point ranges (zero-width,
// double-width and East Asian ambiguous), generated at build time from
// runtime/data/display-width-ranges.txt. A table is a run of 32-bit words, each range its
// first and last code point; ranges are sorted ascending and never overlap (the
// generator refuses a data file that breaks this), which the lookup relies on.
//
// Control characters are not zero width: they count one column, so that a caller that
// shows them as something visible keeps its columns; only code point 0 counts none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zor::char_width {

// True when the code point lies in one of the ranges of a table of word_count 32-bit
// words (first, last, first, last, ...); an odd last word is ignored. Answers false at
// once for a code point below the first range or above the last.
bool in_ranges(uint32_t code_point, const uint32_t* table, size_t word_count);

// 0 for code point 0; 1 for the other code points below 32 and for 127-159; 0 inside a
// zero-width range; 2 inside a double-width range; otherwise 1 (code points beyond
// U+10FFFF included).
int columns_of_char(uint32_t code_point);

// The width rule of East Asian terminals: 2 inside an ambiguous range, otherwise
// columns_of_char.
int columns_of_char_cjk(uint32_t code_point);

// The tables as words, for callers that test or walk them.
std::span<const uint32_t> zero_width_table();
std::span<const uint32_t> double_width_table();
std::span<const uint32_t> ambiguous_table();

}  // namespace zor::char_width
