// Character display widths: the tables' sizes and end rows, the lookup against a plain
// scan over every code point, and the widths of the characters that layout depends on.
#include "runtime/text/char-width.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

namespace {

namespace char_width = zor::char_width;

struct range {
    uint32_t first, last;
    bool operator==(const range&) const = default;
};

std::vector<range> ranges_of(std::span<const uint32_t> words) {
    std::vector<range> out;
    for (size_t i = 0; i + 1 < words.size(); i += 2) out.push_back({words[i], words[i + 1]});
    return out;
}

// The reference lookup: a membership map of every code point, filled range by range.
std::vector<bool> membership(std::span<const uint32_t> words, uint32_t end) {
    std::vector<bool> in(end, false);
    for (size_t i = 0; i + 1 < words.size(); i += 2)
        for (uint32_t cp = words[i]; cp <= words[i + 1] && cp < end; ++cp) in[cp] = true;
    return in;
}

struct table_case {
    const char* name;
    std::span<const uint32_t> (*words)();
    size_t count;
    std::vector<range> first_rows;
    std::vector<range> last_rows;
};

const table_case TABLES[] = {
    {"zero-width", char_width::zero_width_table, 339,
     {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2}, {0x05C4, 0x05C5}},
     {{0x1E8D0, 0x1E8D6}, {0x1E944, 0x1E94A}, {0xE0100, 0xE01EF}}},
    {"double-width", char_width::double_width_table, 122,
     {{0x1100, 0x115F}, {0x231A, 0x231B}, {0x2329, 0x232A}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0}, {0x23F3, 0x23F3}},
     {{0x1FAF0, 0x1FAF6}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}}},
    {"ambiguous", char_width::ambiguous_table, 156,
     {{0x00A1, 0x00A1}, {0x00A4, 0x00A4}, {0x00A7, 0x00A8}, {0x00AA, 0x00AA}, {0x00AE, 0x00AE}, {0x00B0, 0x00B4}},
     {{0xFFFD, 0xFFFD}, {0xF0000, 0xFFFFD}, {0x100000, 0x10FFFD}}},
};

TEST(DisplayWidthTables, SizesEndRowsAndOrder) {
    for (const table_case& t : TABLES) {
        SCOPED_TRACE(t.name);
        std::vector<range> rows = ranges_of(t.words());
        EXPECT_EQ(t.words().size() % 2, 0u);
        ASSERT_EQ(rows.size(), t.count);
        EXPECT_EQ(std::vector<range>(rows.begin(), rows.begin() + t.first_rows.size()), t.first_rows);
        EXPECT_EQ(std::vector<range>(rows.end() - t.last_rows.size(), rows.end()), t.last_rows);
        // The lookup's early-out and search need sorted, disjoint ranges.
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_LE(rows[i].first, rows[i].last) << i;
            EXPECT_LE(rows[i].last, 0x10FFFFu) << i;
            if (i > 0) {
                EXPECT_LT(rows[i - 1].last, rows[i].first) << i;
            }
        }
    }
}

TEST(DisplayWidthTables, ZeroWidthOverlapsNeitherOtherTable) {
    // Else a combining mark would widen its base under one of the rules.
    std::vector<range> zero = ranges_of(char_width::zero_width_table());
    for (auto other : {char_width::double_width_table(), char_width::ambiguous_table()})
        for (const range& r : ranges_of(other))
            for (const range& z : zero)
                EXPECT_TRUE(r.last < z.first || z.last < r.first) << std::hex << r.first << "-" << r.last;
}

TEST(DisplayWidthLookup, AgreesWithAPlainScanEverywhere) {
    for (const table_case& t : TABLES) {
        SCOPED_TRACE(t.name);
        auto words = t.words();
        std::vector<bool> expected = membership(words, 0x110002);
        for (uint32_t cp = 0; cp <= 0x110001; ++cp)
            ASSERT_EQ(char_width::in_ranges(cp, words.data(), words.size()), expected[cp]) << std::hex << cp;
        EXPECT_FALSE(char_width::in_ranges(0xFFFFFFFFu, words.data(), words.size()));
    }
}

TEST(DisplayWidthLookup, SmallTables) {
    const uint32_t one[] = {10, 20};
    const uint32_t three[] = {5, 5, 7, 9, 100, 200};
    const uint32_t odd[] = {5, 5, 7};  // the unpaired last word is no range
    struct probe {
        const uint32_t* table;
        size_t words;
        uint32_t cp;
        bool in;
    };
    const probe probes[] = {
        {one, 0, 10, false},  // no ranges
        {one, 2, 9, false},   {one, 2, 10, true},  {one, 2, 20, true},  {one, 2, 21, false},
        {three, 6, 4, false}, {three, 6, 5, true}, {three, 6, 6, false}, {three, 6, 7, true},
        {three, 6, 9, true},  {three, 6, 10, false}, {three, 6, 99, false}, {three, 6, 150, true},
        {three, 6, 200, true}, {three, 6, 201, false},
        {odd, 3, 5, true},    {odd, 3, 7, false},
    };
    for (const probe& p : probes)
        EXPECT_EQ(char_width::in_ranges(p.cp, p.table, p.words), p.in) << p.cp << " in " << p.words << " words";
}

TEST(DisplayWidth, ColumnsOfCharacters) {
    struct width_case {
        uint32_t cp;
        int columns;
        int cjk_columns;
        const char* why;
    };
    const width_case cases[] = {
        {0x0000, 0, 0, "code point 0 takes no column"},
        {0x0001, 1, 1, "controls are not zero width"},
        {0x0007, 1, 1, "bell"},
        {0x001F, 1, 1, "last C0 control"},
        {0x0020, 1, 1, "space"},
        {0x007E, 1, 1, ""},
        {0x007F, 1, 1, "delete"},
        {0x0085, 1, 1, "C1 control"},
        {0x009F, 1, 1, "last C1 control"},
        {0x00A0, 1, 1, "no-break space"},
        {0x00A1, 1, 2, "ambiguous: wide only for East Asian terminals"},
        {0x00AD, 1, 1, "soft hyphen keeps its column"},
        {0x00E9, 1, 2, "precomposed letter, ambiguous"},
        {0x0300, 0, 0, "first combining mark"},
        {0x0301, 0, 0, "combining acute"},
        {0x036F, 0, 0, ""},
        {0x0370, 1, 1, ""},
        {0x0600, 0, 0, "prepended format character"},
        {0x1100, 2, 2, "Hangul leading jamo are wide"},
        {0x115F, 2, 2, ""},
        {0x1160, 0, 0, "Hangul medial jamo join the syllable"},
        {0x11FF, 0, 0, "Hangul final jamo"},
        {0x1200, 1, 1, ""},
        {0x200B, 1, 1, "zero width space counts a column"},
        {0x200D, 1, 1, "zero width joiner counts a column"},
        {0x20D0, 0, 0, "combining mark for symbols"},
        {0x3029, 2, 2, ""},
        {0x302A, 0, 0, "a wide combining mark is zero width"},
        {0x3099, 0, 0, ""},
        {0x4E00, 2, 2, "CJK ideograph"},
        {0x9FFF, 2, 2, ""},
        {0xAC00, 2, 2, "Hangul syllable"},
        {0xD7A3, 2, 2, ""},
        {0xD7B0, 0, 0, "Hangul medial jamo, extended"},
        {0xE000, 1, 2, "private use"},
        {0xFE0F, 0, 0, "variation selector"},
        {0xFF01, 2, 2, "fullwidth form"},
        {0xFF61, 1, 1, "halfwidth form"},
        {0xFFFD, 1, 2, "replacement character"},
        {0x1F600, 2, 2, "emoji presentation"},
        {0x1FAF6, 2, 2, ""},
        {0x1FAF7, 1, 1, "just past the wide emoji"},
        {0x20000, 2, 2, "ideograph extension B"},
        {0x3FFFD, 2, 2, ""},
        {0x3FFFE, 1, 1, ""},
        {0xE0100, 0, 0, "variation selector supplement"},
        {0xE01EF, 0, 0, ""},
        {0xE01F0, 1, 1, ""},
        {0x10FFFD, 1, 2, "private use plane 16"},
        {0x10FFFF, 1, 1, "last code point"},
        {0x110000, 1, 1, "beyond Unicode: one column, no crash"},
        {0xFFFFFFFF, 1, 1, ""},
    };
    for (const width_case& c : cases) {
        EXPECT_EQ(char_width::columns_of_char(c.cp), c.columns) << std::hex << "U+" << c.cp << " " << c.why;
        EXPECT_EQ(char_width::columns_of_char_cjk(c.cp), c.cjk_columns) << std::hex << "U+" << c.cp << " " << c.why;
    }
}

}  // namespace
