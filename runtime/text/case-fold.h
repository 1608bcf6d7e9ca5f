// Case folding: the upper- and lower-case mapping of one code point, and the core of the
// `uppercase` and `lowercase` natives on char! and string values.
//
// Code points up to 0xFFFF map through two tables of 65,536 entries (0: maps to itself)
// built by the compiler from the pair lists of runtime/data/case-folding.txt, the simple
// one-to-one mappings of the Unicode character database; code points above 0xFFFF are
// looked up in two short sorted lists. The tables are constant data of the program, so
// they cost a process nothing until a character is looked up, and only the pages looked
// up then.
//
// Invariant for callers of change_case_value: the argument cells live on the argument
// stack (they are re-read after the string's buffer widens and moves).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "runtime/value/cell.h"

namespace zor::case_fold {

// One pair of a case list: a code point and its mapping.
struct case_pair {
    uint32_t key;
    uint32_t value;
};

namespace detail {
using table = std::array<int32_t, 65536>;
extern const table upper_table;
extern const table lower_table;
uint32_t map_supplementary(uint32_t c, bool upper);
}  // namespace detail

inline uint32_t to_upper(uint32_t c) {
    if (c <= 0xFFFF) {
        int32_t mapped = detail::upper_table[c];
        return mapped ? static_cast<uint32_t>(mapped) : c;
    }
    return detail::map_supplementary(c, true);
}

inline uint32_t to_lower(uint32_t c) {
    if (c <= 0xFFFF) {
        int32_t mapped = detail::lower_table[c];
        return mapped ? static_cast<uint32_t>(mapped) : c;
    }
    return detail::map_supplementary(c, false);
}

// `case-fold/change-case-char`: the upper-case (upper set) or lower-case mapping of the
// code point, or the code point itself.
inline uint32_t change_case_char(uint32_t c, bool upper) { return upper ? to_upper(c) : to_lower(c); }

// `case-fold/change-case-value`: changes the case of arguments[0] in place and answers it.
// A char! maps its code point; an any-string maps the characters from its index (clamped
// to the tail, and written back) to the tail, or as many as the /part argument at
// arguments[part_index] gives (part_index 0: no /part): an integer! count, or a position
// in the same series (a negative distance counts 0). The string widens when a mapping
// needs wider units. Any other /part value raises script/invalid-refine-arg (/part, the
// value); a value that is neither char! nor any-string raises script/invalid-arg. After a
// string changed (even by 0 characters), report_change is called.
cell* change_case_value(cell* arguments, int part_index, bool upper);

// The ownership tracker installs this to hear of case changes of strings: the string, the
// direction (upper: `uppercase`, else `lowercase`), its index and the character count.
// Null until ownership tracking exists.
using change_reporter = void (*)(cell* string, bool upper, int32_t index, int32_t count);
extern change_reporter report_change;

// The pair lists the tables are built from (key order).
std::span<const case_pair> upper_pairs_bmp();
std::span<const case_pair> lower_pairs_bmp();
std::span<const case_pair> upper_pairs_supplementary();
std::span<const case_pair> lower_pairs_supplementary();

}  // namespace zor::case_fold
