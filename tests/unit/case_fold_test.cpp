// Case folding: the pair lists behind the tables, the mapping of one code point, and
// uppercase/lowercase on char! and string values.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "runtime/text/case-fold.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

using case_fold::case_pair;

class CaseFold : public ::testing::Test {
protected:
    // The ownership tracker's reporter stays out of these tests; the runtime listener puts it
    // back afterwards.
    void SetUp() override { case_fold::report_change = nullptr; }

    // A string on the argument stack from UTF-8 text (Latin-1 text stays in unit 1).
    static cell* new_string(const std::string& utf8) {
        return string::load_onto_stack(unicode::input_bytes::at(utf8.data()), int64_t(utf8.size()),
                                       string::ENCODING_UTF8);
    }
    static std::u32string text_of(const cell* s) {
        memory::series_buffer* b = memory::buffer_of(s->w2);
        std::u32string text;
        for (int64_t i = 0; i < b->length(); ++i) text += char32_t(string::read_unit(b->head + i * b->unit(), b->unit()));
        return text;
    }
    static uint32_t unit_of(const cell* s) { return memory::buffer_of(s->w2)->unit(); }
};

// --- The pair lists ---------------------------------------------------------------------------------

// The lists are the simple case mappings of the Unicode 11.0 character database. The
// lower-case and supplementary counts are those the tables were designed with; the
// upper-case list of the BMP holds 1,175 pairs (see the data file's header).
TEST_F(CaseFold, PairListsHaveTheDatabaseCounts) {
    EXPECT_EQ(case_fold::upper_pairs_bmp().size(), 1175u);
    EXPECT_EQ(case_fold::lower_pairs_bmp().size(), 1158u);
    EXPECT_EQ(case_fold::upper_pairs_supplementary().size(), 225u);
    EXPECT_EQ(case_fold::lower_pairs_supplementary().size(), 225u);
    EXPECT_EQ(case_fold::upper_pairs_bmp().back().key, 0xFF5Au);
    EXPECT_EQ(case_fold::lower_pairs_bmp().back().key, 0xFF3Au);
    auto up = case_fold::upper_pairs_supplementary();
    auto low = case_fold::lower_pairs_supplementary();
    EXPECT_EQ(std::make_pair(up.front().key, up.front().value), std::make_pair(0x10428u, 0x10400u));
    EXPECT_EQ(std::make_pair(up.back().key, up.back().value), std::make_pair(0x1E943u, 0x1E921u));
    EXPECT_EQ(std::make_pair(low.front().key, low.front().value), std::make_pair(0x10400u, 0x10428u));
    EXPECT_EQ(std::make_pair(low.back().key, low.back().value), std::make_pair(0x1E921u, 0x1E943u));
    // Every list is sorted by key without repeats, and no pair maps a code point to itself.
    for (auto list : {case_fold::upper_pairs_bmp(), case_fold::lower_pairs_bmp(), up, low}) {
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_NE(list[i].key, list[i].value);
            if (i) {
                EXPECT_LT(list[i - 1].key, list[i].key);
            }
        }
    }
}

// Each pair maps as listed, and the pairs that are not mutual are exactly the known
// one-way mappings (title-case letters, compatibility forms such as the Kelvin sign).
TEST_F(CaseFold, PairsMapAndRoundTrip) {
    const std::set<std::pair<uint32_t, uint32_t>> upper_only{
        {0x00B5, 0x039C}, {0x0131, 0x0049}, {0x017F, 0x0053}, {0x01C5, 0x01C4}, {0x01C8, 0x01C7},
        {0x01CB, 0x01CA}, {0x01F2, 0x01F1}, {0x0345, 0x0399}, {0x03C2, 0x03A3}, {0x03D0, 0x0392},
        {0x03D1, 0x0398}, {0x03D5, 0x03A6}, {0x03D6, 0x03A0}, {0x03F0, 0x039A}, {0x03F1, 0x03A1},
        {0x03F5, 0x0395}, {0x1C80, 0x0412}, {0x1C81, 0x0414}, {0x1C82, 0x041E}, {0x1C83, 0x0421},
        {0x1C84, 0x0422}, {0x1C85, 0x0422}, {0x1C86, 0x042A}, {0x1C87, 0x0462}, {0x1C88, 0xA64A},
        {0x1E9B, 0x1E60}, {0x1FBE, 0x0399}};
    const std::set<std::pair<uint32_t, uint32_t>> lower_only{
        {0x0130, 0x0069}, {0x01C5, 0x01C6}, {0x01C8, 0x01C9}, {0x01CB, 0x01CC}, {0x01F2, 0x01F3},
        {0x03F4, 0x03B8}, {0x1E9E, 0x00DF}, {0x2126, 0x03C9}, {0x212A, 0x006B}, {0x212B, 0x00E5}};
    std::set<std::pair<uint32_t, uint32_t>> found_upper_only, found_lower_only;
    for (auto list : {case_fold::upper_pairs_bmp(), case_fold::upper_pairs_supplementary()}) {
        for (const case_pair& p : list) {
            ASSERT_EQ(case_fold::to_upper(p.key), p.value) << std::hex << p.key;
            ASSERT_EQ(case_fold::change_case_char(p.key, true), p.value);
            if (case_fold::to_lower(p.value) != p.key) found_upper_only.insert({p.key, p.value});
        }
    }
    for (auto list : {case_fold::lower_pairs_bmp(), case_fold::lower_pairs_supplementary()}) {
        for (const case_pair& p : list) {
            ASSERT_EQ(case_fold::to_lower(p.key), p.value) << std::hex << p.key;
            ASSERT_EQ(case_fold::change_case_char(p.key, false), p.value);
            if (case_fold::to_upper(p.value) != p.key) found_lower_only.insert({p.key, p.value});
        }
    }
    EXPECT_EQ(found_upper_only, upper_only);
    EXPECT_EQ(found_lower_only, lower_only);
}

TEST_F(CaseFold, CodePointsWithoutMappingStay) {
    struct row {
        uint32_t c;
        uint32_t upper;
        uint32_t lower;
    };
    const row rows[] = {
        {'a', 'A', 'a'},         {'Z', 'Z', 'z'},         {'5', '5', '5'},
        {0x00FF, 0x0178, 0x00FF},  // ÿ upper-cases beyond Latin-1
        {0x0178, 0x0178, 0x00FF},  {0x00DF, 0x00DF, 0x00DF},  // ß has no simple upper case
        {0x1E943, 0x1E921, 0x1E943}, {0x1E921, 0x1E921, 0x1E943},
        {0x10428, 0x10400, 0x10428}, {0x10400, 0x10400, 0x10428},
        {0x10000, 0x10000, 0x10000},  // below the first supplementary key
        {0x1E944, 0x1E944, 0x1E944},  // above the last
        {0x10FFFF, 0x10FFFF, 0x10FFFF}, {0x110000, 0x110000, 0x110000}, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
        {0xFFFF, 0xFFFF, 0xFFFF},     {0xFF5A, 0xFF3A, 0xFF5A}, {0xFF3A, 0xFF3A, 0xFF5A},
        {0x0000, 0x0000, 0x0000},
    };
    for (const row& r : rows) {
        EXPECT_EQ(case_fold::change_case_char(r.c, true), r.upper) << std::hex << r.c;
        EXPECT_EQ(case_fold::change_case_char(r.c, false), r.lower) << std::hex << r.c;
    }
    // Over the whole BMP, a mapping exists exactly where a list has a pair.
    std::set<uint32_t> upper_keys, lower_keys;
    for (const case_pair& p : case_fold::upper_pairs_bmp()) upper_keys.insert(p.key);
    for (const case_pair& p : case_fold::lower_pairs_bmp()) lower_keys.insert(p.key);
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        ASSERT_EQ(case_fold::to_upper(c) != c, upper_keys.count(c) == 1) << std::hex << c;
        ASSERT_EQ(case_fold::to_lower(c) != c, lower_keys.count(c) == 1) << std::hex << c;
    }
}

// --- uppercase / lowercase ------------------------------------------------------------------------------

TEST_F(CaseFold, ChangesTheCaseOfAChar) {
    const struct {
        uint32_t c;
        bool upper;
        uint32_t expected;
    } rows[] = {{'q', true, 'Q'}, {'Q', false, 'q'}, {'7', true, '7'}, {0xFF, true, 0x178}, {0x1E921, false, 0x1E943}};
    for (const auto& r : rows) {
        cell* value = stack::push_slot();
        *value = cell{TYPE_CHAR, 0, r.c, 0};
        EXPECT_EQ(case_fold::change_case_value(value, 0, r.upper), value);
        EXPECT_EQ(value->type(), TYPE_CHAR);
        EXPECT_EQ(value->w2, r.expected) << std::hex << r.c;
    }
}

std::vector<std::tuple<int32_t, int32_t, bool>> reports;

TEST_F(CaseFold, ChangesTheCaseOfStringsFromTheIndex) {
    case_fold::report_change = [](cell*, bool upper, int32_t index, int32_t count) {
        reports.emplace_back(index, count, upper);
    };
    struct row {
        const char* text;
        int32_t index;
        bool upper;
        std::u32string expected;
        uint32_t unit;
        int32_t reported_index;
        int32_t reported_count;
    };
    const row rows[] = {
        {"hello World", 0, true, U"HELLO WORLD", 1, 0, 11},
        {"hello World", 0, false, U"hello world", 1, 0, 11},
        {"abcdef", 2, true, U"abCDEF", 1, 2, 4},
        {"abcdef", 6, true, U"abcdef", 1, 6, 0},
        {"abcdef", 40, true, U"abcdef", 1, 6, 0},  // the index is clamped to the tail
        {"\xC3\xA9t\xC3\xA9", 0, true, U"\u00C9T\u00C9", 1, 0, 3},
        {"a\xC3\xBF", 0, true, U"A\u0178", 2, 0, 2},  // ÿ widens the Latin-1 string
        {"x\xC5\xB8y", 0, false, U"x\u00FFy", 2, 0, 3},
        {"\xF0\x9E\xA5\x83z", 0, true, U"\U0001E921Z", 4, 0, 2},
        {"\xCE\xA3\xCE\xA3", 1, false, U"\u03A3\u03C3", 2, 1, 1},
        {"", 0, true, U"", 1, 0, 0},
    };
    for (const row& r : rows) {
        reports.clear();
        cell* value = new_string(r.text);
        value->w1 = static_cast<uint32_t>(r.index);
        EXPECT_EQ(case_fold::change_case_value(value, 0, r.upper), value);
        EXPECT_EQ(text_of(value), r.expected) << r.text;
        EXPECT_EQ(unit_of(value), r.unit) << r.text;
        EXPECT_EQ(int32_t(value->w1), r.reported_index) << "the clamped index is written back";
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0], std::make_tuple(r.reported_index, r.reported_count, r.upper)) << r.text;
    }
    // Widening in the middle of a long string keeps converting at the same position.
    std::string long_text(300, 'a');
    long_text += "\xC3\xBF";
    long_text += std::string(300, 'b');
    cell* value = new_string(long_text);
    case_fold::change_case_value(value, 0, true);
    std::u32string expected = std::u32string(300, U'A') + U"\u0178" + std::u32string(300, U'B');
    EXPECT_EQ(text_of(value), expected);
}

TEST_F(CaseFold, PartLimitsTheCount) {
    case_fold::report_change = [](cell*, bool upper, int32_t index, int32_t count) {
        reports.emplace_back(index, count, upper);
    };
    struct row {
        int32_t index;
        bool part_is_position;
        int32_t part;
        std::u32string expected;
        int32_t reported_count;
    };
    const row rows[] = {
        {0, false, 2, U"ABcdef", 2},
        {1, false, 3, U"aBCDef", 3},
        {0, false, 0, U"abcdef", 0},
        {0, false, -4, U"abcdef", 0},   // a negative count changes nothing
        {3, false, 99, U"abcDEF", 3},   // cut to the tail
        {1, true, 4, U"aBCDef", 3},     // up to another position of the same series
        {4, true, 1, U"abcdef", 0},     // a negative distance counts 0, but is still reported
        {2, true, 50, U"abCDEF", 4},    // a position past the tail counts as the tail
    };
    for (const row& r : rows) {
        reports.clear();
        cell* value = new_string("abcdef");
        value->w1 = static_cast<uint32_t>(r.index);
        cell* part = stack::push_slot();
        if (r.part_is_position) {
            *part = *value;
            part->w1 = static_cast<uint32_t>(r.part);
            cell::set_type(part, TYPE_FILE);  // any string type naming the same series
        } else {
            *part = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(r.part), 0};
        }
        case_fold::change_case_value(value, int(part - value), true);
        EXPECT_EQ(text_of(value), r.expected) << r.index << " " << r.part;
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(std::get<1>(reports[0]), r.reported_count) << r.index << " " << r.part;
    }
}

TEST_F(CaseFold, BadArgumentsRaise) {
    cell* value = new_string("abc");
    cell* other = new_string("abc");
    cell* part = stack::push_slot();
    const cell bad_parts[] = {*other, cell{TYPE_NONE, 0, 0, 0}, cell{TYPE_FLOAT, 0, 0, 0x40000000}};
    for (const cell& bad : bad_parts) {
        *part = bad;
        EXPECT_EQ(testing::raised_code([&] { case_fold::change_case_value(value, int(part - value), true); }),
                  error_catalogue::code_of(err::script_invalid_refine_arg))
            << int(bad.type());
        EXPECT_EQ(text_of(value), U"abc") << "nothing changed";
    }
    cell* number = stack::push_slot();
    *number = cell{TYPE_INTEGER, 0, 5, 0};
    EXPECT_EQ(testing::raised_code([&] { case_fold::change_case_value(number, 0, true); }),
              error_catalogue::code_of(err::script_invalid_arg));
}

}  // namespace
}  // namespace zor
