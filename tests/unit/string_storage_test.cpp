// string! storage: the unit-width rules of each writer, the readers' clamping,
// concatenation across widths and modes, the byte rotation, and the loaders' ends.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/gc/gc.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/text/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

using memory::series_buffer;
using codepoints = std::vector<uint32_t>;

codepoints codepoints_of(const cell* s) {
    series_buffer* b = memory::buffer_of(s->w2);
    codepoints out;
    int64_t index = std::min<int64_t>(static_cast<int32_t>(s->w1), b->length());
    for (const std::byte* p = b->head + index * b->unit(); p < b->tail; p += b->unit()) {
        out.push_back(unicode::read_unit(p, b->unit()));
    }
    return out;
}

uint32_t unit_of(const cell* s) { return memory::buffer_of(s->w2)->unit(); }

class StringStorage : public ::testing::Test {
protected:
    // The collector runs (at every allocation under ZOR_GC_TORTURE=1), so everything a
    // test keeps across an allocation sits in an argument-stack slot.
    cell* empty(uint32_t unit) { return string::make_in_cell(stack::push_slot(), 0, unit); }
    // A string of the unit width holding exactly these code points (written by position,
    // so nothing widens it beyond the width asked for).
    cell* make(uint32_t unit, const codepoints& text) {
        cell* s = string::make_in_cell(stack::push_slot(), int64_t(text.size()) + 1, unit);
        for (size_t i = 0; i < text.size(); ++i) {
            series_buffer* b = memory::buffer_of(s->w2);
            string::poke_codepoint_at_index(b, int64_t(i), text[i]);
        }
        EXPECT_EQ(unit_of(s), unit);
        return s;
    }
    cell* latin(const char* text) {
        return string::load_onto_stack(unicode::input_bytes::at(text), int64_t(std::strlen(text)),
                                       string::ENCODING_UTF8);
    }
};

// --- The unit-width rules ------------------------------------------------------------------

// Appending keeps only ASCII in unit 1; positional writers keep Latin-1 there.
TEST_F(StringStorage, WritersWidenByTheirOwnThresholds) {
    struct row {
        uint32_t start_unit;
        uint32_t codepoint;
        uint32_t after_append, after_poke, after_insert, after_write;
    };
    const row rows[] = {
        {1, 0x41, 1, 1, 1, 1},        {1, 0x7F, 1, 1, 1, 1},
        {1, 0x80, 2, 1, 1, 1},        {1, 0xE9, 2, 1, 1, 1},
        {1, 0xFF, 2, 1, 1, 1},        {1, 0x100, 2, 2, 2, 2},
        {1, 0x20AC, 2, 2, 2, 2},      {1, 0xFFFF, 2, 2, 2, 2},
        {1, 0x10000, 4, 4, 4, 4},     {1, 0x1F600, 4, 4, 4, 4},  // straight from 1 to 4
        {2, 0x41, 2, 2, 2, 2},        {2, 0xFFFF, 2, 2, 2, 2},
        {2, 0x1F600, 4, 4, 4, 4},     {4, 0x41, 4, 4, 4, 4},     // never narrower
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.start_unit) + " / " + std::to_string(r.codepoint));
        const codepoints base{'a', 'b'};

        cell* s = make(r.start_unit, base);
        string::append_codepoint(s, r.codepoint);
        EXPECT_EQ(unit_of(s), r.after_append);
        EXPECT_EQ(codepoints_of(s), (codepoints{'a', 'b', r.codepoint}));

        s = make(r.start_unit, base);
        string::poke_codepoint_at_index(memory::buffer_of(s->w2), 1, r.codepoint);
        EXPECT_EQ(unit_of(s), r.after_poke);
        EXPECT_EQ(codepoints_of(s), (codepoints{'a', r.codepoint}));

        s = make(r.start_unit, base);
        string::insert_codepoint(memory::buffer_of(s->w2), 1, r.codepoint);
        EXPECT_EQ(unit_of(s), r.after_insert);
        EXPECT_EQ(codepoints_of(s), (codepoints{'a', r.codepoint, 'b'}));

        s = make(r.start_unit, base);
        series_buffer* b = memory::buffer_of(s->w2);
        string::write_codepoint_at(b, b->head + b->unit(), r.codepoint);
        EXPECT_EQ(unit_of(s), r.after_write);
        EXPECT_EQ(codepoints_of(s), (codepoints{'a', r.codepoint}));
    }
}

TEST_F(StringStorage, AppendingManyCharactersGrowsAndKeepsThemAll) {
    cell* s = empty(1);
    codepoints expected;
    for (uint32_t i = 0; i < 5000; ++i) {
        uint32_t c = i < 2000 ? 'a' + i % 26 : i < 4000 ? 0x400 + i % 64 : 0x1F300 + i % 64;
        string::append_codepoint(s, c);
        expected.push_back(c);
    }
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(codepoints_of(s), expected);
}

TEST_F(StringStorage, AppendBytesAndCStrings) {
    cell* s = empty(1);
    string::append_c_string(s, "");
    EXPECT_EQ(string::length_from_head(s), 0) << "an empty C string appends nothing";
    string::append_c_string(s, "ab");
    string::append_bytes(s, "c\0d", 3);  // a NUL inside counted bytes is a character
    EXPECT_EQ(codepoints_of(s), (codepoints{'a', 'b', 'c', 0, 'd'}));
    EXPECT_EQ(unit_of(s), 1u);
    string::append_bytes(s, "x", 0);
    EXPECT_EQ(string::length_from_head(s), 5);
    // Bytes above 0x7F are code points 0x80..0xFF and widen an appended-to unit-1 string.
    string::append_c_string(s, "\xE9");
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(codepoints_of(s).back(), 0xE9u);
    cell* wide = empty(4);
    string::append_bytes(wide, "\xFF" "A", 2);
    EXPECT_EQ(codepoints_of(wide), (codepoints{0xFF, 'A'}));
}

TEST_F(StringStorage, ResetEmptiesToUnitOne) {
    cell* s = make(4, {0x1F600, 'x'});
    s->w1 = 1;
    string::reset(s);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(string::length_from_head(s), 0);
    EXPECT_EQ(s->w1, 0u);
    string::append_codepoint(s, 'y');
    EXPECT_EQ(codepoints_of(s), (codepoints{'y'}));
    EXPECT_EQ(unit_of(s), 1u);
}

TEST_F(StringStorage, PokeBeyondTheTailAndTheCapacity) {
    cell* s = string::make_in_cell(stack::push_slot(), 4, 1);
    string::append_c_string(s, "ab");
    series_buffer* b = string::poke_codepoint_at_index(memory::buffer_of(s->w2), 40, 'z');
    EXPECT_EQ(b, memory::buffer_of(s->w2));
    codepoints expected{'a', 'b'};
    expected.resize(40, 0);  // the gap reads as U+0000, not stale memory
    expected.push_back('z');
    EXPECT_EQ(codepoints_of(s), expected);
    // A poke inside the text leaves the tail.
    string::poke_codepoint_at_index(memory::buffer_of(s->w2), 0, 0xE9);
    EXPECT_EQ(string::length_from_head(s), 41);
    EXPECT_EQ(unit_of(s), 1u);
}

// --- Readers ----------------------------------------------------------------------------------

TEST_F(StringStorage, ReadersClampAnIndexPastTheTail) {
    cell* s = latin("hello");
    s->w1 = 9;
    EXPECT_EQ(string::rest_length(s), 0);
    EXPECT_TRUE(string::is_at_tail(s));
    EXPECT_EQ(string::find_char(s, 'h'), -1);
    std::byte* p = string::get_position(s);
    EXPECT_EQ(s->w1, 5u) << "the clamped index is written back";
    EXPECT_EQ(p, string::get_tail(s));
    s->w1 = 2;
    EXPECT_EQ(string::rest_length(s), 3);
    EXPECT_EQ(string::length_from_head(s), 5);
    EXPECT_FALSE(string::is_at_tail(s));
    EXPECT_EQ(string::find_char(s, 'l'), 0);
    EXPECT_EQ(string::find_char(s, 'o'), 2);
    EXPECT_EQ(string::find_char(s, 'h'), -1);
    EXPECT_EQ(string::char_at(s, 0), uint32_t('h'));
    EXPECT_EQ(string::char_at(s, 4), uint32_t('o'));
    int past_end = error_catalogue::code_of(err::script_past_end);
    EXPECT_EQ(testing::raised_code([&] { string::char_at(s, 5); }), past_end);
    EXPECT_EQ(testing::raised_code([&] { string::char_at(s, -1); }), past_end);
}

TEST_F(StringStorage, ReadUnitIsLittleEndian) {
    const uint8_t bytes[] = {0xAC, 0x20, 0x01, 0x00};
    EXPECT_EQ(string::read_unit(reinterpret_cast<const std::byte*>(bytes), 1), 0xACu);
    EXPECT_EQ(string::read_unit(reinterpret_cast<const std::byte*>(bytes), 2), 0x20ACu);
    EXPECT_EQ(string::read_unit(reinterpret_cast<const std::byte*>(bytes), 4), 0x120ACu);
}

TEST_F(StringStorage, MatchCString) {
    cell* s = latin("abc\xC3\xA9");
    struct row {
        int index;
        const char* text;
        bool match;
    };
    const row rows[] = {{0, "", true},    {0, "ab", true},      {0, "abc\xE9", true}, {0, "abc\xE9x", false},
                        {1, "bc", true},  {1, "ab", false},     {3, "\xE9", true},    {4, "", true},
                        {4, "a", false},  {9, "", true},        {0, "abd", false}};
    for (const row& r : rows) {
        s->w1 = uint32_t(r.index);
        EXPECT_EQ(string::match_c_string(s, r.text), r.match) << r.index << " " << r.text;
    }
    cell* wide = make(2, {0x141, 'a'});
    EXPECT_FALSE(string::match_c_string(wide, "A"));  // 0x141 is no byte
}

TEST_F(StringStorage, HasCharFoldsUnlessCaseSensitive) {
    cell* s = latin("abcDEf");
    EXPECT_TRUE(string::has_char(s, 'd', 1, false));
    EXPECT_FALSE(string::has_char(s, 'd', 1, true));
    EXPECT_TRUE(string::has_char(s, 'D', 1, true));
    // Records of three: only 'a' and 'D' are record starts.
    EXPECT_TRUE(string::has_char(s, 'D', 3, true));
    EXPECT_FALSE(string::has_char(s, 'b', 3, true));
    EXPECT_FALSE(string::has_char(s, 'b', 3, false));
    cell* greek = make(2, {0x3C3, 'x'});  // σ
    EXPECT_TRUE(string::has_char(greek, 0x3A3, 1, false));  // Σ
    EXPECT_FALSE(string::has_char(greek, 0x3A3, 1, true));
}

TEST_F(StringStorage, CurrentCharInBitset) {
    // A bitset of 16 bytes' capacity: members 'A' (65) and 'c' (99).
    cell* bits = stack::push_slot();
    cell::init_unset(bits);
    node_ref node = memory::alloc_filled_bytes(16, 0);
    series_buffer* b = memory::buffer_of(node);
    b->tail = b->head + 16;
    b->head[65 >> 3] |= std::byte(0x80 >> (65 & 7));
    b->head[99 >> 3] |= std::byte(0x80 >> (99 & 7));
    bits->w2 = node;
    bits->header = TYPE_BITSET;
    int64_t capacity = b->data_end() - b->head;

    cell* s = make(4, {'A', 'B', 'c', uint32_t(8 * capacity), uint32_t(8 * capacity - 1)});
    const bool plain[] = {true, false, true, false, false};
    for (int i = 0; i < 5; ++i) {
        s->w1 = uint32_t(i);
        EXPECT_EQ(string::current_char_in_bitset(s, bits), plain[i]) << i;
    }
    // A code point at 8 x the capacity answers the complement flag.
    memory::buffer_of(bits->w2)->flags |= memory::FLAG_COMPLEMENT;
    s->w1 = 3;
    EXPECT_TRUE(string::current_char_in_bitset(s, bits));
    s->w1 = 4;
    EXPECT_FALSE(string::current_char_in_bitset(s, bits));
    s->w1 = 5;
    EXPECT_FALSE(string::current_char_in_bitset(s, bits)) << "nothing at the tail";
}

// --- Comparison and parse support --------------------------------------------------------------

TEST_F(StringStorage, CompareContents) {
    struct row {
        const char* left;
        const char* right;
        int op;
        bool match;
        int answer;
    };
    const row rows[] = {
        {"abc", "abc", 0, false, 0},   {"abc", "ABC", 0, false, 0},   {"abc", "ABC", 2, false, 1},
        {"abc", "abd", 3, false, -1},  {"abd", "abc", 3, false, 1},   {"ab", "abc", 0, false, 1},
        {"ab", "abc", 3, false, -1},   {"abc", "ab", 3, false, 1},    {"abc", "", 3, false, 1},
        {"", "", 0, false, 0},         {"b", "ABC", 7, false, 1},     {"a", "B", 8, false, 1},
        {"\xC3\xA9", "\xC3\x89", 0, false, 0},                          // é and É fold together
        {"abcdef", "ABC", 0, true, 0}, {"abcdef", "abd", 0, true, -1}, {"ab", "abc", 0, true, 1},
        {"abc", "", 0, true, 0},       {"abc", "", 12, true, 1},      {"abc", "ABC", 2, true, 1},
    };
    for (const row& r : rows) {
        cell* left = latin(r.left);
        cell* right = latin(r.right);
        EXPECT_EQ(string::compare_contents(left, right, r.op, r.match), r.answer)
            << r.left << " " << r.right << " op " << r.op << (r.match ? " match" : "");
    }
    // Across unit widths, from the indexes.
    cell* narrow = latin("xx\xE2\x82\xAC" "a");
    narrow->w1 = 2;
    cell* wide = make(4, {0x20AC, 'A'});
    EXPECT_EQ(string::compare_contents(narrow, wide, 0, false), 0);
    // The same value: 0 for the equalities, and same? tells sameness apart from equality.
    cell* copy = latin("xx\xE2\x82\xAC" "a");
    copy->w1 = 2;
    EXPECT_EQ(string::compare_contents(narrow, narrow, 9, false), 0);
    EXPECT_EQ(string::compare_contents(narrow, copy, 9, false), -1);
    EXPECT_EQ(string::compare_contents(narrow, copy, 0, false), 0);
    // A string view (internal type 56) is as long as its word 3 says.
    cell* view = latin("abcdef");
    view->header = 56;
    view->w3 = 3;
    cell* abc = latin("abc");
    EXPECT_EQ(string::compare_contents(abc, view, 0, false), 0);
    view->w3 = uint32_t(-1);
    EXPECT_EQ(string::compare_contents(abc, view, 0, false), 1);
}

TEST_F(StringStorage, MatchValueAtPosition) {
    cell* s = latin("<b>Bold</b>");
    cell* tag = latin("b");
    tag->header = TYPE_TAG;
    EXPECT_TRUE(string::match_tag_at_position(s, tag));
    EXPECT_TRUE(string::match_value_at_position(s, tag, 0));
    cell* longer = latin("bo");
    longer->header = TYPE_TAG;
    EXPECT_FALSE(string::match_tag_at_position(s, longer));
    s->w1 = 3;
    cell* word = latin("bold");
    EXPECT_TRUE(string::match_value_at_position(s, word, 0));
    EXPECT_FALSE(string::match_value_at_position(s, word, 2));
    word->header = TYPE_FILE;
    EXPECT_TRUE(string::match_value_at_position(s, word, 0));
    cell c{TYPE_CHAR, 0, 'b', 0};
    EXPECT_TRUE(string::match_value_at_position(s, &c, 0));
    EXPECT_FALSE(string::match_value_at_position(s, &c, 2));
    cell number{TYPE_INTEGER, 0, 'B', 0};
    EXPECT_FALSE(string::match_value_at_position(s, &number, 0));
    // A string too short for both brackets.
    cell* short_text = latin("<b");
    EXPECT_FALSE(string::match_tag_at_position(short_text, tag));
    s->w1 = 11;
    EXPECT_FALSE(string::match_value_at_position(s, &c, 0));
}

// --- Removing and cutting -------------------------------------------------------------------------

TEST_F(StringStorage, RemoveAndTruncate) {
    struct row {
        int64_t position, count;
        const char* after;
    };
    const row rows[] = {{0, 1, "bcdef"}, {2, 2, "abef"}, {4, 9, "abcd"}, {6, 1, "abcdef"},
                        {9, 1, "abcdef"}, {0, 0, "abcdef"}, {0, 6, ""}, {-1, 1, "abcdef"}};
    for (const row& r : rows) {
        cell* s = latin("abcdef");
        string::remove_part(s, r.position, r.count);
        EXPECT_EQ(string::to_utf8(s), r.after) << r.position << "," << r.count;
    }
    cell* s = make(2, {'a', 0x20AC, 'c'});
    string::remove_char_at(s, 1);
    EXPECT_EQ(codepoints_of(s), (codepoints{'a', 'c'}));
    string::remove_char_at(s, 5);
    EXPECT_EQ(codepoints_of(s), (codepoints{'a', 'c'}));
    string::truncate(s, 5);
    EXPECT_EQ(string::length_from_head(s), 2);
    string::truncate(s, 1);
    EXPECT_EQ(codepoints_of(s), (codepoints{'a'}));
}

// --- Concatenation -----------------------------------------------------------------------------------

TEST_F(StringStorage, ConcatenateModesAcrossWidths) {
    struct row {
        uint32_t target_unit, source_unit;
        int mode;
        int64_t part, offset;
        bool convert;
        codepoints expected;
        uint32_t target_after, source_after;
    };
    const codepoints t{'a', 'b', 'c'};
    const codepoints s{'X', 0xE9, 'Z'};
    const row rows[] = {
        {1, 1, 0, -1, 0, true, {'a', 'b', 'c', 'X', 0xE9, 'Z'}, 1, 1},
        {1, 2, 0, -1, 0, true, {'a', 'b', 'c', 'X', 0xE9, 'Z'}, 2, 2},       // target widened
        {4, 1, 0, -1, 0, true, {'a', 'b', 'c', 'X', 0xE9, 'Z'}, 4, 1},       // converted one by one
        {4, 1, 0, -1, 0, false, {'a', 'b', 'c', 'X', 0xE9, 'Z'}, 4, 4},      // source widened itself
        {2, 1, 0, 2, 0, true, {'a', 'b', 'c', 'X', 0xE9}, 2, 1},             // part
        {1, 1, 0, 9, 0, true, {'a', 'b', 'c', 'X', 0xE9, 'Z'}, 1, 1},        // part beyond the rest
        {1, 1, 1, -1, 1, true, {'a', 'X', 0xE9, 'Z', 'b', 'c'}, 1, 1},       // insert at index + 1
        {2, 1, 1, -1, 0, true, {'X', 0xE9, 'Z', 'a', 'b', 'c'}, 2, 1},
        {1, 1, 2, -1, 1, true, {'a', 'X', 0xE9, 'Z'}, 1, 1},                 // overwrite past the tail
        {4, 2, 2, 1, 0, true, {'X', 'b', 'c'}, 4, 2},                        // overwrite inside
        {1, 1, 1, -1, 9, true, {'a', 'b', 'c', 'X', 0xE9, 'Z'}, 1, 1},       // offset clamped to the tail
        {1, 1, 0, 0, 0, true, {'a', 'b', 'c'}, 1, 1},                        // nothing to copy
    };
    for (const row& r : rows) {
        SCOPED_TRACE("mode " + std::to_string(r.mode) + " units " + std::to_string(r.target_unit) + "<-" +
                     std::to_string(r.source_unit) + " part " + std::to_string(r.part) + " offset " +
                     std::to_string(r.offset));
        cell* target = make(r.target_unit, t);
        cell* source = make(r.source_unit, s);
        string::concatenate(target, source, r.part, r.offset, r.convert, r.mode);
        EXPECT_EQ(codepoints_of(target), r.expected);
        EXPECT_EQ(unit_of(target), r.target_after);
        EXPECT_EQ(unit_of(source), r.source_after);
        EXPECT_EQ(codepoints_of(source), s) << "the source's text never changes";
    }
}

TEST_F(StringStorage, ConcatenateFromTheSourceIndexAndWithinOneBuffer) {
    cell* target = latin("abc");
    cell* source = latin("0123");
    source->w1 = 2;
    string::concatenate(target, source, -1, 0, true, string::CONCATENATE_APPEND);
    EXPECT_EQ(string::to_utf8(target), "abc23");

    // Inserting a string into itself copies the text as it was before the gap opened.
    cell* self = latin("abcdef");
    cell* tail_part = stack::push_copy(self);
    tail_part->w1 = 3;
    self->w1 = 1;
    string::concatenate(self, tail_part, -1, 0, true, string::CONCATENATE_INSERT);
    self->w1 = 0;
    EXPECT_EQ(string::to_utf8(self), "adefbcdef");
    cell* whole = stack::push_copy(self);
    string::concatenate(self, whole, -1, 0, true, string::CONCATENATE_APPEND);
    EXPECT_EQ(string::to_utf8(self), "adefbcdefadefbcdef");
}

TEST_F(StringStorage, ConcatenateASymbolStandsForItsName) {
    cell* target = latin("<");
    cell* upper = latin("SYM-NAME");
    int32_t id = symbol::make("sym-name");
    // A copy of the table's cell in a stack slot, where the collector keeps it current.
    cell* symbol_value = stack::push_copy(symbol::get_cell(id));
    string::concatenate(target, symbol_value, -1, 0, true, string::CONCATENATE_APPEND);
    EXPECT_EQ(string::to_utf8(target), "<sym-name");
    EXPECT_EQ(string::compare_contents(upper, symbol_value, 0, false), 0);
    EXPECT_EQ(string::compare_contents(symbol_value, upper, 2, false), 1);
}

TEST_F(StringStorage, AppendUnitsFollowsTheFormRules) {
    cell* out = latin("x");
    cell* euro = latin("\xE2\x82\xAC!");
    string::append_units(out, euro);
    EXPECT_EQ(string::to_utf8(out), "x\xE2\x82\xAC!");
    EXPECT_EQ(unit_of(out), 2u);
    EXPECT_EQ(unit_of(euro), 2u);
}

// Each writer runs with garbage below its strings' buffers, so that the allocation it
// makes (a collection at every allocation under ZOR_GC_TORTURE=1) moves them and may
// renumber their nodes: a writer that kept an old address or node reads poison.
TEST_F(StringStorage, WritersKeepNothingAcrossTheirAllocations) {
    auto spacer = [] {
        cell* c = stack::push_slot();
        cell::init_unset(c);
        c->w2 = memory::alloc_bytes(4096);
        c->header = TYPE_BINARY;
        return c;
    };
    {
        cell* garbage = spacer();
        cell* target = latin("abc");
        cell* source = make(2, {0x20AC, 'x'});
        garbage->header = TYPE_NONE;
        string::concatenate(target, source, -1, 0, true, string::CONCATENATE_APPEND);
        EXPECT_EQ(codepoints_of(target), (codepoints{'a', 'b', 'c', 0x20AC, 'x'}));
    }
    {
        cell* garbage = spacer();
        cell* self = latin("0123456789");
        cell* part = stack::push_copy(self);
        part->w1 = 5;
        garbage->header = TYPE_NONE;
        string::concatenate(self, part, -1, 2, true, string::CONCATENATE_INSERT);
        EXPECT_EQ(string::to_utf8(self), "015678923456789");
    }
    {
        cell* garbage = spacer();
        cell* source = make(1, {'a', 0xE9, 'c'});
        cell* target = make(1, {'z'});
        garbage->header = TYPE_NONE;
        string::copy_units_widening(memory::buffer_of(source->w2), memory::buffer_of(target->w2), 4, 0, 0, false);
        EXPECT_EQ(codepoints_of(target), (codepoints{'a', 0xE9, 'c'}));
    }
    {
        cell* garbage = spacer();
        cell* one = latin("abcdefgh");
        cell* from = stack::push_copy(one);
        from->w1 = 1;
        cell* to = stack::push_copy(one);
        to->w1 = 6;
        garbage->header = TYPE_NONE;
        string::move_units(from, 2, to);
        EXPECT_EQ(string::to_utf8(one), "adefbcgh");
    }
    {
        cell* garbage = spacer();
        cell* s = latin("ab");
        garbage->header = TYPE_NONE;
        for (uint32_t c : {0xE9u, 0x1F600u, uint32_t('q')}) string::append_codepoint(s, c);
        EXPECT_EQ(codepoints_of(s), (codepoints{'a', 'b', 0xE9, 0x1F600, 'q'}));
    }
}

// --- Widening copies, rotation and moves ----------------------------------------------------------------

TEST_F(StringStorage, CopyUnitsWidening) {
    cell* source = make(1, {'a', 0xE9, 'c', 'd'});
    series_buffer* made = string::copy_units_widening(memory::buffer_of(source->w2), nullptr, 4, 1, 2, false);
    cell holder{TYPE_STRING, 0, made->node, 0};
    EXPECT_EQ(codepoints_of(&holder), (codepoints{0xE9, 'c'}));
    EXPECT_EQ(made->unit(), 4u);
    EXPECT_GE(made->data_end() - made->head, 2 * 2 * 4) << "twice the needed size";

    cell* target = make(1, {'q'});
    series_buffer* into = string::copy_units_widening(memory::buffer_of(source->w2), memory::buffer_of(target->w2),
                                                      2, 0, 0, false);
    EXPECT_EQ(into, memory::buffer_of(target->w2));
    EXPECT_EQ(codepoints_of(target), (codepoints{'a', 0xE9, 'c', 'd'}));
    EXPECT_EQ(unit_of(target), 2u);

    cell* kept = make(4, {'1', '2', '3', '4', '5', '6'});
    cell* pair = make(2, {0x100, 0x101});
    string::copy_units_widening(memory::buffer_of(pair->w2), memory::buffer_of(kept->w2), 4, 0, 0, true);
    EXPECT_EQ(codepoints_of(kept), (codepoints{0x100, 0x101, '3', '4', '5', '6'})) << "tail kept";

    series_buffer* b = memory::buffer_of(make(1, {'a', 'b'})->w2);
    series_buffer* same = string::widen_to_unit(b, 1, 4);
    EXPECT_EQ(same->unit(), 4u);
}

TEST_F(StringStorage, RotateBytes) {
    struct row {
        int a, b, d;
        const char* after;
    };
    // "ABCDEFGH": the first a bytes and the b bytes after them swap places.
    const row rows[] = {{3, 5, 0, "DEFGHABC"}, {5, 3, 0, "FGHABCDE"}, {4, 4, 0, "EFGHABCD"},
                        {0, 8, 0, "ABCDEFGH"}, {1, 2, 0, "BCADEFGH"}};
    for (const row& r : rows) {
        char text[] = "ABCDEFGH";
        auto* start = reinterpret_cast<std::byte*>(text);
        string::rotate_bytes(start, r.a, start + r.a, r.b, r.d);
        EXPECT_STREQ(text, r.after) << r.a << "," << r.b;
    }
    // Ranges larger than the shared buffer.
    std::vector<uint8_t> big(200000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7 + i / 251);
    std::vector<uint8_t> expected(big.begin() + 90000, big.end());
    expected.insert(expected.end(), big.begin(), big.begin() + 90000);
    auto* start = reinterpret_cast<std::byte*>(big.data());
    string::rotate_bytes(start, 90000, start + 90000, 110000, 0);
    EXPECT_EQ(big, expected);
}

TEST_F(StringStorage, MoveUnits) {
    cell* source = latin("abcdef");
    source->w1 = 1;
    cell* target = make(2, {'X', 'Y'});
    target->w1 = 1;
    string::move_units(source, 3, target);  // three units of the unit-1 source
    EXPECT_EQ(string::to_utf8(target), "bcdY");
    target->w1 = 0;
    EXPECT_EQ(string::to_utf8(target), "XbcdY");
    source->w1 = 0;
    EXPECT_EQ(string::to_utf8(source), "aef");

    // Within one string: "bc" of "abcdef" moved to before "f".
    cell* one = latin("abcdef");
    cell* from = stack::push_copy(one);
    from->w1 = 1;
    cell* to = stack::push_copy(one);
    to->w1 = 5;
    string::move_units(from, 2, to);
    EXPECT_EQ(string::to_utf8(one), "adebcf");
    // Moving backwards.
    from->w1 = 3;
    to->w1 = 0;
    string::move_units(from, 2, to);
    EXPECT_EQ(string::to_utf8(one), "bcadef");
    // Into the moved range itself: nothing changes.
    from->w1 = 1;
    to->w1 = 2;
    string::move_units(from, 3, to);
    EXPECT_EQ(string::to_utf8(one), "bcadef");
}

// --- Making and loading ------------------------------------------------------------------------------------

TEST_F(StringStorage, MakeAndPush) {
    cell* s = string::make_in_cell(stack::push_slot(), 0, 2);
    EXPECT_EQ(s->type(), TYPE_STRING);
    EXPECT_EQ(s->w1, 0u);
    EXPECT_EQ(s->w3, 0u);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_GE(memory::buffer_of(s->w2)->size, 16);
    cell* e = string::make_empty(stack::push_slot(), 0);
    EXPECT_EQ(unit_of(e), 1u);
    EXPECT_EQ(string::rest_length(e), 0);
    string::append_c_string(e, "lit");
    cell* copy = string::push(e);
    EXPECT_EQ(copy, stack::last_slot());
    EXPECT_EQ(copy->w2, e->w2);
    EXPECT_EQ(string::to_utf8(copy), "lit");
}

TEST_F(StringStorage, LoadFromBytes) {
    cell target;
    string::load_from_bytes(unicode::input_bytes::at("h\xC3\xA9"), 3, &target, string::ENCODING_UTF8);
    EXPECT_EQ(target.type(), TYPE_STRING);
    EXPECT_EQ(target.w3, 0u);
    EXPECT_EQ(codepoints_of(&target), (codepoints{'h', 0xE9}));
    cell* slot = string::load_from_bytes(unicode::input_bytes::at("\xAC\x20"), 2, nullptr, string::ENCODING_UTF16LE);
    EXPECT_EQ(slot, stack::last_slot());
    EXPECT_EQ(codepoints_of(slot), (codepoints{0x20AC}));
    EXPECT_EQ(unit_of(slot), 2u);

    cell* block = block::make_in(stack::push_slot(), 2);
    for (int i = 0; i < 5; ++i) string::load_into_block(unicode::input_bytes::at("ab"), 2, block, string::ENCODING_UTF8);
    EXPECT_EQ(block::rest_length(block), 5);
    EXPECT_EQ(string::to_utf8(block::get_cell(block, 4)), "ab");

    // A UTF-16LE text of an odd byte count is refused with its stray byte.
    EXPECT_EQ(testing::raised_code([] {
                  string::load_onto_stack(unicode::input_bytes::at("A\0B"), 3, string::ENCODING_UTF16LE);
              }),
              error_catalogue::code_of(err::script_invalid_data));
}

// Ends of the process: the message goes to standard output, which the child sends to
// standard error so that the death test can read it.
TEST_F(StringStorage, UnsupportedEncodingEndsTheProcessWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            string::load_onto_stack(unicode::input_bytes::at("x"), 1, 1);
        },
        ::testing::ExitedWithCode(1), "\\*\\*\\* Loading Error: input encoding unsupported");
}

TEST_F(StringStorage, AnotherUnitWidthEndsTheProcessWithRuntimeError101) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            cell* s = latin("abc");
            series_buffer* b = memory::buffer_of(s->w2);
            b->flags = (b->flags & ~memory::UNIT_MASK) | 3;
            string::rest_length(s);
        },
        ::testing::ExitedWithCode(101), "Runtime Error 101: no value matched in SWITCH");
}

TEST_F(StringStorage, ANarrowingCopyEndsTheProcessWithRuntimeError100) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            cell* s = make(4, {'a'});
            string::copy_units_widening(memory::buffer_of(s->w2), nullptr, 2, 0, 0, false);
        },
        ::testing::ExitedWithCode(100), "Runtime Error 100: no value matched in CASE");
}

// --- Small text routines ------------------------------------------------------------------------------------

TEST_F(StringStorage, HexDigits) {
    EXPECT_STREQ(string::byte_to_hex(0), "00");
    EXPECT_STREQ(string::byte_to_hex(0xAF), "AF");
    struct row {
        int32_t value;
        const char* full;
        const char* trimmed;
    };
    const row rows[] = {{0, "00000000", "00"},       {0x1E, "0000001E", "1E"},   {0x20AC, "000020AC", "20AC"},
                        {0x5, "00000005", "05"},     {0x100, "00000100", "100"}, {-1, "FFFFFFFF", "FF"},
                        {-16, "FFFFFFF0", "F0"},     {0x7FFFFFFF, "7FFFFFFF", "7FFFFFFF"},
                        {INT32_MIN, "80000000", "80000000"}};
    for (const row& r : rows) {
        EXPECT_STREQ(string::int_to_hex(r.value, false), r.full);
        EXPECT_STREQ(string::int_to_hex(r.value, true), r.trimmed);
    }
}

TEST_F(StringStorage, ScanFloat) {
    const char* texts[] = {"1.5", "-0.25", "1e3", "12"};
    const double values[] = {1.5, -0.25, 1000.0, 12.0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(string::scan_float(reinterpret_cast<const std::byte*>(texts[i]), int64_t(std::strlen(texts[i]))),
                  values[i]);
    }
}

}  // namespace
}  // namespace zor
