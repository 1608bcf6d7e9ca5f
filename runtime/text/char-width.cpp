// Character display widths over the generated range tables.
#include "runtime/text/char-width.h"

#include <iterator>

namespace zor::char_width {
namespace {

#include "runtime/display-width-data.inc"

}  // namespace

bool in_ranges(uint32_t code_point, const uint32_t* table, size_t word_count) {
    size_t ranges = word_count / 2;
    if (ranges == 0) return false;
    if (code_point < table[0] || code_point > table[2 * ranges - 1]) return false;
    // The ranges are sorted and disjoint: find the last range whose first code point is
    // not above the code point, then see whether it reaches it.
    size_t low = 0, high = ranges;  // the answer lies in [low, high)
    while (high - low > 1) {
        size_t middle = low + (high - low) / 2;
        if (table[2 * middle] <= code_point) low = middle; else high = middle;
    }
    return code_point <= table[2 * low + 1];
}

int columns_of_char(uint32_t code_point) {
    if (code_point == 0) return 0;
    if (code_point < 32 || (code_point >= 127 && code_point <= 159)) return 1;
    if (in_ranges(code_point, zero_width_words, std::size(zero_width_words))) return 0;
    if (in_ranges(code_point, double_width_words, std::size(double_width_words))) return 2;
    return 1;
}

int columns_of_char_cjk(uint32_t code_point) {
    if (in_ranges(code_point, ambiguous_words, std::size(ambiguous_words))) return 2;
    return columns_of_char(code_point);
}

std::span<const uint32_t> zero_width_table() { return zero_width_words; }
std::span<const uint32_t> double_width_table() { return double_width_words; }
std::span<const uint32_t> ambiguous_table() { return ambiguous_words; }

}  // namespace zor::char_width
