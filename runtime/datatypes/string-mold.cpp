// string! form and mold: a string's characters as they are, and the string as source text
// that the lexer reads back as the same string, between double quotes or braces, with the
// caret escapes. The escape of one character is shared with char! and vector! molding.
//
// Invariant: the value and the output are rooted cells (argument-stack slots or root
// cells); they may even name the same string. Appending to the output allocates, so the
// value's characters are read again through its node for every character molded.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"

namespace zor::string {

namespace {

// At 50 characters from the index a string molds between braces, whatever it holds.
constexpr int64_t BRACE_LENGTH = 50;
// And with this many line feeds in the molded range.
constexpr int64_t BRACE_LINES = 3;

// The letter written after a caret for the code points 0..94 (0: no caret form). 0x1E has
// a letter, but it is always written in hexadecimal form, which comes first.
constexpr std::array<char, 95> caret_letters = [] {
    std::array<char, 95> table{};
    const char controls[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
    for (int c = 0; c < 0x20; ++c) table[c] = controls[c];
    table['"'] = '"';
    table['^'] = '^';
    return table;
}();
static_assert(caret_letters[0x09] == '-' && caret_letters[0x0A] == '/' && caret_letters[0x1B] == '[' &&
              caret_letters[0x1F] == '_');

// The budget less what was written, never below the smallest int.
int spend(int budget, int64_t written) {
    return static_cast<int>(std::clamp<int64_t>(int64_t(budget) - written, INT_MIN, INT_MAX));
}

// The character at unit n of the string, read through its node: appending to the output
// may move or widen the string's buffer between two reads.
uint32_t char_at_unit(const cell* string, int64_t n) {
    series_buffer* b = memory::buffer_of(string->w2);
    uint32_t unit = b->unit();
    return read_unit(b->head + n * unit, unit);
}

bool needs_hex_form(uint32_t c, bool all) { return c == 0x1E || (c >= 0x80 && c <= 0x9F) || (all && c > 0x7F); }

}  // namespace

void append_escaped_char(cell* output, uint32_t c, bool all) {
    if (needs_hex_form(c, all)) {
        append_c_string(output, "^(");
        append_c_string(output, int_to_hex(static_cast<int32_t>(c), true));
        append_c_string(output, ")");
    } else if (c < caret_letters.size() && caret_letters[c]) {
        const char escape[] = {'^', caret_letters[c], 0};
        append_c_string(output, escape);
    } else if (c == 0x7F) {
        append_c_string(output, "^~");
    } else {
        append_codepoint(output, c);
    }
}

void count_quotes_and_lines(const std::byte* start, const std::byte* end, uint32_t unit, int64_t& quotes,
                            int64_t& lines) {
    quotes = 0;
    lines = 0;
    for (const std::byte* p = start; p < end; p += unit) {
        uint32_t c = read_unit(p, unit);
        quotes += c == '"';
        lines += c == '\n';
    }
}

bool brace_balanced(const std::byte* start, const std::byte* end, uint32_t unit) {
    int64_t depth = 0;
    for (const std::byte* p = start; p < end; p += unit) {
        uint32_t c = read_unit(p, unit);
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0) return true;
        }
    }
    return false;
}

int64_t first_unbalanced_brace(const std::byte* start, const std::byte* end, uint32_t unit) {
    // With B(i) the count of opening less closing braces from unit i to the end, the brace
    // at i finds its match exactly when some later B(k) (k up to the end, where B is 0)
    // reaches B(i) again: B moves by one step at a time and starts one below it at i + 1.
    int64_t n = (end - start) / unit;
    int64_t balance = 0;
    int64_t highest_after = 0;
    int64_t first = -1;
    for (int64_t i = n - 1; i >= 0; --i) {
        uint32_t c = read_unit(start + i * unit, unit);
        if (c == '{') {
            ++balance;
            if (balance > highest_after) first = i;
        } else if (c == '}') {
            --balance;
        }
        highest_after = std::max(highest_after, balance);
    }
    return first;
}

int form(cell* value, cell* output, cell* part, int budget) {
    int64_t rest = rest_length(value);
    int64_t count = part ? std::max(budget, 0) : -1;
    concatenate(output, value, count, 0, true, CONCATENATE_APPEND);
    return spend(budget, rest);
}

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    (void)only, (void)flat, (void)indent;  // a string has no brackets, lines or nesting of its own
    stack::slot_mark mark;
    cell* s = stack::push_copy(value);
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = b->unit();
    int64_t length = b->length();
    int64_t index = std::clamp<int64_t>(static_cast<int32_t>(s->w1), 0, length);
    int64_t end = length;
    if (part) end = budget <= 0 ? index : std::min(index + int64_t(budget), length);
    int64_t count = end - index;

    int64_t quotes, lines;
    count_quotes_and_lines(b->head + index * unit, b->head + end * unit, unit, quotes, lines);
    bool braces = lines >= BRACE_LINES || quotes >= 1 || length - index >= BRACE_LENGTH;
    int64_t unbalanced = -1;
    if (braces) {
        int64_t first = first_unbalanced_brace(b->head + index * unit, b->head + end * unit, unit);
        if (first >= 0) unbalanced = index + first;
    }
    // Nothing read from b beyond this point: the appends below may move it.

    append_c_string(output, braces ? "{" : "\"");
    if (!braces) {
        for (int64_t i = index; i < end; ++i) append_escaped_char(output, char_at_unit(s, i), all);
    } else {
        bool balanced = true;
        int64_t open = 0;
        for (int64_t i = index; i < end; ++i) {
            uint32_t c = char_at_unit(s, i);
            switch (c) {
                case '{':
                    if (i == unbalanced) balanced = false;
                    if (balanced) {
                        ++open;
                        append_c_string(output, "{");
                    } else {
                        append_c_string(output, "^{");
                    }
                    break;
                case '}':
                    if (open > 0) {
                        --open;
                        append_c_string(output, "}");
                    } else {
                        append_c_string(output, "^}");
                    }
                    break;
                case '"': append_c_string(output, "\""); break;
                case '^': append_c_string(output, "^^"); break;
                default: append_escaped_char(output, c, all); break;
            }
        }
    }
    append_c_string(output, braces ? "}" : "\"");
    return spend(budget, count + 2);
}

}  // namespace zor::string
