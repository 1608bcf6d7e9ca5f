// string! actions as their action entries call them: make and to, compare, path access,
// find and select over text, bytes and vector elements, the writers, swap, take, trim,
// sort (with its comparators, including user comparators that misbehave) and the set
// operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/text/unicode.h"
#include "tests/unit/block_notation.h"
#include "runtime/value/upcalls.h"

namespace zor {
namespace {

using testing::code_of;
using testing::raised_code;
using memory::series_buffer;

constexpr int NONE = -1;  // an expected position meaning none

std::string utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        uint8_t bytes[4];
        int n = unicode::encode_utf8_char(static_cast<uint32_t>(c), bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
    return out;
}

// A new text value of the code points in a new stack slot, at the narrowest unit width
// that holds them by the positional rule, with its index and type set.
cell* push_text(std::u32string_view text, int64_t index = 0, type_id type = TYPE_STRING) {
    uint32_t unit = 1;
    for (char32_t c : text) unit = std::max<uint32_t>(unit, c <= 0xFF ? 1 : c <= 0xFFFF ? 2 : 4);
    cell* s = string::make_in_cell(stack::push_slot(), int64_t(text.size()) + 1, unit);
    for (size_t i = 0; i < text.size(); ++i) {
        string::poke_codepoint_at_index(memory::buffer_of(s->w2), int64_t(i), static_cast<uint32_t>(text[i]));
    }
    s->w1 = static_cast<uint32_t>(index);
    cell::set_type(s, type);
    return s;
}

cell* push_binary(const std::string& bytes, int64_t index = 0) {
    cell* b = stack::push_slot();
    cell::init_unset(b);
    node_ref node = memory::alloc_bytes(int64_t(bytes.size()) + 1);
    series_buffer* buffer = memory::buffer_of(node);
    std::memcpy(buffer->head, bytes.data(), bytes.size());
    buffer->tail = buffer->head + bytes.size();
    *b = cell{TYPE_BINARY, static_cast<uint32_t>(index), node, 0};
    return b;
}

// A vector! of the element type (integer!, char! or float!) and width holding the values.
cell* push_vector(type_id element, uint32_t width, const std::vector<double>& values) {
    cell* v = stack::push_slot();
    cell::init_unset(v);
    node_ref node = memory::alloc_series(int64_t(values.size()) + 1, width, 0);
    series_buffer* b = memory::buffer_of(node);
    for (size_t i = 0; i < values.size(); ++i) {
        std::byte* at = b->head + i * width;
        if (element == TYPE_FLOAT) {
            if (width == 8) {
                std::memcpy(at, &values[i], 8);
            } else {
                float f = static_cast<float>(values[i]);
                std::memcpy(at, &f, 4);
            }
        } else {
            auto n = static_cast<int32_t>(values[i]);
            std::memcpy(at, &n, width);
        }
    }
    b->tail = b->head + values.size() * width;
    *v = cell{TYPE_VECTOR, 0, node, element};
    return v;
}

// A bitset! of the characters.
cell* push_bitset(std::u32string_view members) {
    uint32_t highest = 0;
    for (char32_t c : members) highest = std::max<uint32_t>(highest, c);
    cell* b = stack::push_slot();
    cell::init_unset(b);
    int64_t bytes = highest / 8 + 1;
    node_ref node = memory::alloc_bytes(bytes);
    series_buffer* buffer = memory::buffer_of(node);
    std::memset(buffer->head, 0, size_t(bytes));
    for (char32_t c : members) buffer->head[c / 8] |= std::byte(0x80 >> (c % 8));
    buffer->tail = buffer->head + bytes;
    *b = cell{TYPE_BITSET, 0, node, 0};
    return b;
}

cell* push_int(int32_t v) { return integer::make_in(stack::push_slot(), v); }
cell* push_char(uint32_t c) { return char_::push(c); }
cell* push_word(const char* name) { return stack::push_copy(word::make_global_from_name(name)); }

// The characters of a text value from its head.
std::u32string codes_from_head(const cell* s) {
    series_buffer* b = memory::buffer_of(s->w2);
    std::u32string out;
    for (const std::byte* p = b->head; p < b->tail; p += b->unit()) out.push_back(unicode::read_unit(p, b->unit()));
    return out;
}
std::string from_head(const cell* s) { return utf8(codes_from_head(s)); }
uint32_t unit_of(const cell* s) { return memory::buffer_of(s->w2)->unit(); }

using maker = std::function<cell*()>;
maker text(std::u32string t, int64_t index = 0, type_id type = TYPE_STRING) {
    return [t, index, type] { return push_text(t, index, type); };
}
maker character(uint32_t c) {
    return [c] { return push_char(c); };
}
maker integer_value(int32_t v) {
    return [v] { return push_int(v); };
}

class StringActions : public testing::collected_fixture {};

// --- make and to ------------------------------------------------------------------------------------

TEST_F(StringActions, MakeAndTo) {
    const struct {
        const char* why;
        action a;
        type_id target;
        maker spec;
        std::string expected;
        int error;
    } cases[] = {
        {"make of a size is empty", ACTION_MAKE, TYPE_STRING, integer_value(10), "", -1},
        {"make of a float size", ACTION_MAKE, TYPE_FILE, [] { return stack::push_copy(float_::push(3.7)); }, "", -1},
        {"make of a negative size", ACTION_MAKE, TYPE_STRING, integer_value(-1), "", code_of(err::script_out_of_range)},
        {"make of a string converts", ACTION_MAKE, TYPE_STRING, text(U"abc"), "abc", -1},
        {"none is refused", ACTION_TO, TYPE_STRING, [] { return stack::push_copy(&none::value); }, "",
         code_of(err::script_bad_to_arg)},
        {"make of none too", ACTION_MAKE, TYPE_STRING, [] { return stack::push_copy(&none::value); }, "",
         code_of(err::script_bad_to_arg)},
        {"a block's values appended", ACTION_TO, TYPE_STRING,
         [] {
             cell* b = testing::build("12 x [1 2]");
             block::append_copy(b, push_text(U"yz"));
             block::append_copy(b, push_char(0x20AC));
             return b;
         },
         "12x1 2yz\u20AC", -1},
        {"a string from its index", ACTION_TO, TYPE_STRING, text(U"abc", 1), "bc", -1},
        {"a tag loses its type, not its text", ACTION_TO, TYPE_STRING, text(U"b", 0, TYPE_TAG), "b", -1},
        {"a string to file!", ACTION_TO, TYPE_FILE, text(U"a/b"), "a/b", -1},
        {"UTF-8 bytes", ACTION_TO, TYPE_STRING, [] { return push_binary("x\xC3\xA9\xE2\x82\xAC"); },
         "x\u00E9\u20AC", -1},
        {"bytes from the binary's index", ACTION_TO, TYPE_STRING, [] { return push_binary("xyz", 2); }, "z", -1},
        {"broken UTF-8", ACTION_TO, TYPE_STRING, [] { return push_binary("a\xC3("); }, "",
         code_of(err::access_invalid_utf8)},
        {"an integer formed", ACTION_TO, TYPE_STRING, integer_value(-42), "-42", -1},
        {"a char formed", ACTION_TO, TYPE_STRING, character(0xE9), "\u00E9", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* result = stack::push_slot();
        cell::init_unset(result);
        int error = raised_code([&] {
            cell* proto = datatype::push(c.target);
            cell* spec = c.spec();
            auto h = reinterpret_cast<action_handler<ACTION_MAKE>>(type_registry::handler_of(TYPE_STRING, c.a));
            *result = *h(proto, spec, c.target);
        });
        EXPECT_EQ(error, c.error);
        if (c.error < 0) {
            EXPECT_EQ(result->type(), c.target);
            EXPECT_EQ(result->w1, 0u);
            EXPECT_EQ(string::to_utf8(result), c.expected);
        }
    }
}

TEST_F(StringActions, ConversionsMakeNewSeries) {
    reset_stack();
    cell* source = push_text(U"abc");
    cell* proto = stack::push_slot();
    cell* copied = string::to(proto, source, TYPE_STRING);
    EXPECT_NE(copied->w2, source->w2);
    cell* made = string::make(proto, push_int(100), TYPE_STRING);
    EXPECT_GE(memory::buffer_of(made->w2)->size, 100);
    EXPECT_EQ(unit_of(made), 1u);
}

// A refinement is formed for string! and molded for the other text types.
TEST_F(StringActions, ToOfARefinement) {
    reset_stack();
    cell* refinement = stack::push_slot();
    *refinement = cell{TYPE_REFINEMENT, 0, static_cast<uint32_t>(symbol::make("only")), word::INDEX_UNRESOLVED};
    cell* formed = string::push_empty();
    actions::dispatch_form(refinement, formed, nullptr, 0);
    cell* molded = string::push_empty();
    actions::dispatch_mold(refinement, molded, false, false, false, nullptr, 0, 0);
    cell* proto = stack::push_slot();
    EXPECT_EQ(string::to_utf8(string::to(proto, refinement, TYPE_STRING)), string::to_utf8(formed));
    EXPECT_EQ(string::to_utf8(string::to(proto, refinement, TYPE_FILE)), string::to_utf8(molded));
}

// --- compare ------------------------------------------------------------------------------------------

TEST_F(StringActions, Compare) {
    const struct {
        std::u32string left;
        std::u32string right;
        type_id right_type;
        int op;
        int expected;
    } cases[] = {
        {U"abc", U"ABC", TYPE_STRING, 0, 0},    {U"abc", U"ABC", TYPE_STRING, 2, 1},
        {U"abc", U"ABC", TYPE_STRING, 8, 1},    {U"abc", U"ABD", TYPE_STRING, 3, -1},
        {U"ab", U"abc", TYPE_STRING, 3, -1},    {U"ab", U"abc", TYPE_STRING, 0, 1},
        {U"abd", U"abc", TYPE_STRING, 5, 1},    {U"\u00E9", U"\u00C9", TYPE_STRING, 0, 0},
        // string! and file! with the same text: equal for = and <>, not comparable otherwise.
        {U"a/b", U"a/b", TYPE_FILE, 0, 0},      {U"a/b", U"a/c", TYPE_FILE, 1, -1},
        {U"a/b", U"a/b", TYPE_FILE, 2, -2},     {U"a/b", U"a/b", TYPE_FILE, 3, -2},
        {U"a/b", U"a/b", TYPE_FILE, 12, -2},
    };
    for (const auto& c : cases) {
        reset_stack();
        cell* left = push_text(c.left);
        cell* right = push_text(c.right, 0, c.right_type);
        EXPECT_EQ(actions::dispatch_compare(left, right, c.op), c.expected) << utf8(c.left) << " op " << c.op;
    }
    reset_stack();
    cell* left = push_text(U"1");
    cell* one = push_int(1);
    EXPECT_EQ(string::compare(left, one, 0), -2);
    EXPECT_EQ(string::compare(left, left, 9), 0);
    EXPECT_EQ(string::compare(left, push_text(U"1"), 9), -1);
}

// --- find and select --------------------------------------------------------------------------------

struct find_options {
    maker part;  // empty: no /part
    bool case_sensitive = false;
    bool same = false;
    int skip = 0;  // 0: no /skip
    bool last = false;
    bool reverse = false;
    bool tail = false;
    bool match = false;
};

cell* call_find(cell* series, cell* value, const find_options& o) {
    cell* part = o.part ? o.part() : nullptr;
    cell* skip = o.skip ? push_int(o.skip) : nullptr;
    return string::find(series, value, part, false, o.case_sensitive, o.same, false, nullptr, skip, o.last, o.reverse,
                        o.tail, o.match);
}

find_options part_of(int n) { return find_options{integer_value(n)}; }

TEST_F(StringActions, FindInText) {
    find_options case_sensitive;
    case_sensitive.case_sensitive = true;
    find_options same;
    same.same = true;
    find_options match;
    match.match = true;
    find_options match_tail = match;
    match_tail.tail = true;
    find_options tail;
    tail.tail = true;
    find_options last;
    last.last = true;
    find_options reverse;
    reverse.reverse = true;
    find_options reverse_match = reverse;
    reverse_match.match = true;
    find_options skip2;
    skip2.skip = 2;
    find_options skip3;
    skip3.skip = 3;
    find_options last_part4 = part_of(4);
    last_part4.last = true;
    find_options reverse_part2 = part_of(2);
    reverse_part2.reverse = true;
    find_options reverse_part3 = part_of(3);
    reverse_part3.reverse = true;
    const struct {
        const char* why;
        std::u32string series;
        int64_t index;
        maker value;
        find_options options;
        int64_t expected;
    } cases[] = {
        {"a string", U"abcabc", 0, text(U"bc"), {}, 1},
        {"from the index", U"abcabc", 2, text(U"bc"), {}, 4},
        {"folded", U"abcABC", 0, text(U"BC"), {}, 1},
        {"with /case", U"abcABC", 0, text(U"BC"), case_sensitive, 4},
        {"with /same", U"abcABC", 0, text(U"BC"), same, 4},
        {"a char, folded", U"abcABC", 0, character('B'), {}, 1},
        {"a char with /case", U"abcABC", 0, character('B'), case_sensitive, 4},
        {"Latin-1 folded", U"\u00C9COLE", 0, text(U"\u00E9"), {}, 0},
        {"Latin-1 with /case", U"\u00C9COLE", 0, text(U"\u00E9"), case_sensitive, NONE},
        {"wide text", U"a\u20ACb\u20AC", 0, text(U"\u20ACb"), {}, 1},
        {"a narrow value in wide text", U"\u20ACab", 0, text(U"b"), {}, 2},
        {"an integer is formed", U"a12b", 0, integer_value(12), {}, 1},
        {"a word by its spelling", U"say hello", 0, [] { return push_word("hello"); }, {}, 4},
        {"a tag with its angle brackets", U"b<b>", 0, text(U"b", 0, TYPE_TAG), {}, 1},
        {"a file's text", U"x/a", 0, text(U"/A", 0, TYPE_FILE), {}, 1},
        {"a bitset", U"xyzb", 0, [] { return push_bitset(U"abc"); }, {}, 3},
        {"a bitset is not folded", U"XYZB", 0, [] { return push_bitset(U"abc"); }, {}, NONE},
        {"not there", U"abc", 0, text(U"abd"), {}, NONE},
        {"longer than the rest", U"abc", 1, text(U"bcd"), {}, NONE},
        {"an empty value", U"abc", 0, text(U""), {}, NONE},
        {"an empty series", U"", 0, text(U"a"), {}, NONE},
        {"at the tail", U"abc", 3, text(U"c"), {}, NONE},
        {"a stale index", U"abc", 7, text(U"c"), {}, NONE},
        {"/tail gives the position after", U"abcabc", 0, text(U"bc"), tail, 3},
        {"/tail after a char", U"abc", 0, character('b'), tail, 2},
        {"/match at the index", U"abc", 0, text(U"ab"), match, 0},
        {"/match tests the index only", U"abc", 0, text(U"bc"), match, NONE},
        {"/match /tail", U"abc", 0, text(U"ab"), match_tail, 2},
        {"/last", U"abcabc", 0, text(U"bc"), last, 4},
        {"/last stays after the index", U"abcabc", 2, text(U"ab"), last, 3},
        {"/reverse from the tail", U"abcabc", 6, text(U"bc"), reverse, 4},
        {"/reverse from the middle", U"abcabc", 4, text(U"bc"), reverse, 1},
        {"/reverse at the head", U"abc", 0, text(U"a"), reverse, NONE},
        {"/reverse with /match", U"abc", 2, text(U"b"), reverse_match, NONE},
        {"/part is exclusive", U"abcdef", 0, character('c'), part_of(2), NONE},
        {"/part reaching it", U"abcdef", 0, character('c'), part_of(3), 2},
        {"/part: the match must fit", U"abcdef", 0, text(U"cd"), part_of(3), NONE},
        {"/part: it fits", U"abcdef", 0, text(U"cd"), part_of(4), 2},
        {"/part counts from the index", U"abcdef", 2, text(U"e"), part_of(3), 4},
        {"/part 0", U"abc", 0, character('a'), part_of(0), NONE},
        {"/part below 0", U"abc", 0, character('a'), part_of(-2), NONE},
        {"/part capped at the tail", U"abc", 0, character('c'), part_of(99), 2},
        {"/last within /part", U"abcabc", 0, character('b'), last_part4, 1},
        {"/reverse within /part", U"abcabc", 6, character('a'), reverse_part2, NONE},
        {"/reverse within a wider /part", U"abcabc", 6, character('a'), reverse_part3, 3},
        {"/skip 2 looks at every other position", U"abcabc", 0, character('c'), skip2, 2},
        {"/skip 2 misses odd positions", U"ab", 0, character('b'), skip2, NONE},
        {"/skip 3", U"abcabc", 0, character('c'), skip3, NONE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = push_text(c.series, c.index);
        cell* value = c.value();
        cell* found = call_find(s, value, c.options);
        if (c.expected == NONE) {
            EXPECT_TRUE(found->is(TYPE_NONE));
        } else {
            ASSERT_TRUE(found->is(TYPE_STRING));
            EXPECT_EQ(found->w2, s->w2);
            EXPECT_EQ(static_cast<int32_t>(found->w1), c.expected);
        }
    }
}

TEST_F(StringActions, FindWithAPartPosition) {
    reset_stack();
    cell* s = push_text(U"abcdef");
    cell* at3 = stack::push_copy(s);
    at3->w1 = 3;
    cell* at2 = stack::push_copy(s);
    at2->w1 = 2;
    cell* c = push_char('c');
    EXPECT_EQ(string::find(s, c, at3, false, false, false, false, nullptr, nullptr, false, false, false, false)->w1, 2u);
    EXPECT_TRUE(string::find(s, c, at2, false, false, false, false, nullptr, nullptr, false, false, false, false)
                    ->is(TYPE_NONE));
    // Searching back, a position before the index bounds the search.
    cell* tail = stack::push_copy(s);
    tail->w1 = 6;
    cell* a = push_char('a');
    EXPECT_TRUE(string::find(tail, a, at3, false, false, false, false, nullptr, nullptr, false, true, false, false)
                    ->is(TYPE_NONE));
    cell* at0 = stack::push_copy(s);
    at0->w1 = 0;
    EXPECT_EQ(string::find(tail, a, at0, false, false, false, false, nullptr, nullptr, false, true, false, false)->w1,
              0u);
}

TEST_F(StringActions, FindRefusals) {
    reset_stack();
    cell* s = push_text(U"abc");
    cell* a = push_char('a');
    const struct {
        const char* why;
        std::function<void()> call;
        int error;
    } cases[] = {
        {"/skip below 1",
         [&] { string::find(s, a, nullptr, false, false, false, false, nullptr, push_int(0), false, false, false, false); },
         code_of(err::script_out_of_range)},
        {"/skip not an integer",
         [&] { string::find(s, a, nullptr, false, false, false, false, nullptr, a, false, false, false, false); },
         code_of(err::script_invalid_refine_arg)},
        {"/any", [&] { string::find(s, a, nullptr, false, false, false, true, nullptr, nullptr, false, false, false, false); },
         code_of(err::internal_not_done)},
        {"/with", [&] { string::find(s, a, nullptr, false, false, false, false, a, nullptr, false, false, false, false); },
         code_of(err::internal_not_done)},
        {"/part in another series",
         [&] { string::find(s, a, push_text(U"abc"), false, false, false, false, nullptr, nullptr, false, false, false, false); },
         code_of(err::script_invalid_refine_arg)},
        {"a binary in text", [&] { call_find(s, push_binary("a"), {}); }, code_of(err::script_invalid_arg)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(raised_code(c.call), c.error);
    }
}

// binary! and vector! take find and select from string!: they compare bytes and numbers.
TEST_F(StringActions, FindAndSelectInBytesAndVectors) {
    const struct {
        const char* why;
        maker series;
        maker value;
        bool tail;
        int64_t expected;
    } cases[] = {
        {"a byte", [] { return push_binary("\x01\x02\x03"); }, integer_value(2), false, 1},
        {"no byte above 255", [] { return push_binary("\x01\x02\x03"); }, integer_value(258), false, NONE},
        {"bytes", [] { return push_binary("\x01\x02\x03\x02\x03"); }, [] { return push_binary("\x02\x03", 0); }, true,
         3},
        {"bytes are not folded", [] { return push_binary("AB"); }, text(U"b"), false, NONE},
        {"text in bytes", [] { return push_binary("AB"); }, text(U"B"), false, 1},
        {"an integer element", [] { return push_vector(TYPE_INTEGER, 4, {5, -7, 9}); }, integer_value(-7), false, 1},
        {"a negative element of a narrow vector", [] { return push_vector(TYPE_INTEGER, 1, {5, -7, 9}); },
         integer_value(-7), false, 1},
        {"a float element", [] { return push_vector(TYPE_FLOAT, 8, {1.5, 2.5}); },
         [] { return stack::push_copy(float_::push(2.5)); }, false, 1},
        {"an integer among floats", [] { return push_vector(TYPE_FLOAT, 4, {1.5, 2.0}); }, integer_value(2), false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = c.series();
        cell* value = c.value();
        find_options o;
        o.tail = c.tail;
        cell* found = call_find(s, value, o);
        if (c.expected == NONE) {
            EXPECT_TRUE(found->is(TYPE_NONE));
        } else {
            EXPECT_EQ(found->type(), s->type());
            EXPECT_EQ(static_cast<int32_t>(found->w1), c.expected);
        }
    }
    reset_stack();
    cell* bytes = push_binary("\x01\x02\x03");
    cell* picked = string::select(bytes, push_int(2), nullptr, false, false, false, false, nullptr, nullptr, false, false);
    EXPECT_TRUE(picked->is(TYPE_INTEGER));
    EXPECT_EQ(picked->w2, 3u);
    cell* numbers = push_vector(TYPE_FLOAT, 8, {1.5, 2.5});
    picked = string::select(numbers, stack::push_copy(float_::push(1.5)), nullptr, false, false, false, false, nullptr,
                            nullptr, false, false);
    ASSERT_TRUE(picked->is(TYPE_FLOAT));
    EXPECT_EQ(float_::get(picked), 2.5);
}

TEST_F(StringActions, Select) {
    find_options last;
    last.last = true;
    const struct {
        const char* why;
        std::u32string series;
        maker key;
        find_options options;
        int64_t expected;  // the code point, or NONE
    } cases[] = {
        {"the character after the key", U"abc", character('b'), {}, 'c'},
        {"folded", U"aBc", character('b'), {}, 'c'},
        {"after a text key", U"abcd", text(U"bc"), {}, 'd'},
        {"the key at the end", U"abc", character('c'), {}, NONE},
        {"a missing key", U"abc", character('x'), {}, NONE},
        {"after the whole formed key", U"a12b", integer_value(12), {}, 'b'},
        {"after a tag with its brackets", U"x<b>y", text(U"b", 0, TYPE_TAG), {}, 'y'},
        {"with /last", U"abab", character('a'), last, 'b'},
        {"a wide character", U"a\U0001F600", character('a'), {}, 0x1F600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = push_text(c.series);
        cell* key = c.key();
        cell* picked = string::select(s, key, nullptr, false, c.options.case_sensitive, false, false, nullptr, nullptr,
                                      c.options.last, false);
        if (c.expected == NONE) {
            EXPECT_TRUE(picked->is(TYPE_NONE));
        } else {
            ASSERT_TRUE(picked->is(TYPE_CHAR));
            EXPECT_EQ(picked->w2, uint32_t(c.expected));
        }
    }
}

TEST_F(StringActions, PathAccess) {
    reset_stack();
    cell* s = push_text(U"abc");
    cell* picked = string::eval_path(s, push_int(2), nullptr, nullptr, nullptr, nullptr, 0, 0, false, false, false);
    ASSERT_TRUE(picked->is(TYPE_CHAR));
    EXPECT_EQ(picked->w2, uint32_t('b'));
    string::eval_path(s, push_int(2), push_char(0x20AC), nullptr, nullptr, nullptr, 0, 0, false, false, false);
    EXPECT_EQ(from_head(s), "a\u20ACc");
    picked = string::eval_path(s, push_char('A'), nullptr, nullptr, nullptr, nullptr, 0, 0, false, false, false);
    ASSERT_TRUE(picked->is(TYPE_CHAR));
    EXPECT_EQ(picked->w2, 0x20ACu);
    string::eval_path(s, push_text(U"A\u20AC"), push_char('z'), nullptr, nullptr, nullptr, 0, 0, false, false, false);
    EXPECT_EQ(from_head(s), "a\u20ACz");
    EXPECT_EQ(raised_code([&] {
                  string::eval_path(s, push_word("x"), nullptr, nullptr, nullptr, nullptr, 0, 0, false, false, false);
              }),
              code_of(err::script_invalid_path));
    EXPECT_EQ(raised_code([&] {
                  string::eval_path(s, push_char('q'), push_char('z'), nullptr, nullptr, nullptr, 0, 0, false, false,
                                    false);
              }),
              code_of(err::script_bad_path_set));
    // The key is last: there is nothing after it to set.
    EXPECT_EQ(raised_code([&] {
                  string::eval_path(s, push_char('z'), push_char('y'), nullptr, nullptr, nullptr, 0, 0, false, false,
                                    false);
              }),
              code_of(err::script_out_of_range));
}

// --- The writers ---------------------------------------------------------------------------------------

enum writer { APPEND, INSERT, CHANGE };

TEST_F(StringActions, AppendInsertAndChange) {
    const struct {
        const char* why;
        writer w;
        std::u32string start;
        int64_t index;
        maker value;  // empty: the series itself
        int part;
        int dup;
        std::u32string expected;
        int64_t index_after;
    } cases[] = {
        {"append answers the head", APPEND, U"ab", 1, text(U"cd"), -1, -1, U"abcd", 0},
        {"append a char", APPEND, U"ab", 0, character(0xE9), -1, -1, U"ab\u00E9", 0},
        {"append a tag with its brackets", APPEND, U"a", 0, text(U"b", 0, TYPE_TAG), -1, -1, U"a<b>", 0},
        {"append/part of a tag cuts its text", APPEND, U"a", 0, text(U"bcd", 0, TYPE_TAG), 2, -1, U"a<bc>", 0},
        {"append a block's values formed", APPEND, U"a", 0,
         [] {
             cell* b = testing::build("12 x [1 2]");
             block::append_copy(b, push_text(U"yz"));
             return b;
         },
         -1, -1, U"a12x1 2yz", 0},
        {"append/part of a block's values", APPEND, U"", 0,
         [] {
             cell* b = testing::build("12345 6");
             return b;
         },
         3, -1, U"123", 0},
        {"append an integer formed", APPEND, U"a", 0, integer_value(12), -1, -1, U"a12", 0},
        {"append/part of a string", APPEND, U"a", 0, text(U"bcde"), 2, -1, U"abc", 0},
        {"append/part 0", APPEND, U"a", 0, text(U"bcde"), 0, -1, U"a", 0},
        {"append from the value's index", APPEND, U"a", 0, text(U"xbc", 1), -1, -1, U"abc", 0},
        {"append/dup", APPEND, U"a", 0, text(U"xy"), -1, 3, U"axyxyxy", 0},
        {"append/dup 0 adds nothing", APPEND, U"a", 0, text(U"xy"), -1, 0, U"a", 0},
        {"append/dup of a wide char", APPEND, U"a", 0, character(0x1F600), -1, 2, U"a\U0001F600\U0001F600", 0},
        {"append the series to itself", APPEND, U"ab", 0, {}, -1, -1, U"abab", 0},
        {"append a long series to itself, growing", APPEND, U"0123456789abcdefghijklmnopqrstuvwxyz", 0, {}, -1, -1,
         U"0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz", 0},
        {"append the series from its index to itself", APPEND, U"abc", 2, {}, -1, -1, U"abcc", 0},
        {"append/dup 1", APPEND, U"a", 0, text(U"xy"), -1, 1, U"axy", 0},
        {"append wide text to wide", APPEND, U"\u20AC", 0, text(U"\u00E9\u20AC"), -1, -1,
         U"\u20AC\u00E9\u20AC", 0},
        {"append a four-byte text to four-byte", APPEND, U"\U0001F600", 0, text(U"a\U0001F601"), -1, -1,
         U"\U0001F600a\U0001F601", 0},
        {"append narrow text to wide", APPEND, U"\u20AC", 0, text(U"ab"), -1, -1, U"\u20ACab", 0},
        {"append from a stale index adds nothing", APPEND, U"a", 0, text(U"bc", 7), -1, -1, U"a", 0},
        {"append to a stale index appends at the tail", APPEND, U"ab", 9, text(U"c"), -1, -1, U"abc", 0},
        {"append a file's text", APPEND, U"a", 0, text(U"b/c", 0, TYPE_FILE), -1, -1, U"ab/c", 0},
        {"insert at the index", INSERT, U"ac", 1, text(U"b"), -1, -1, U"abc", 2},
        {"insert at the tail", INSERT, U"ab", 2, text(U"cd"), -1, -1, U"abcd", 4},
        {"insert at a stale index inserts at the tail", INSERT, U"ab", 9, text(U"c"), -1, -1, U"abc", 3},
        {"insert/dup", INSERT, U"ad", 1, text(U"bc"), -1, 2, U"abcbcd", 5},
        {"insert/part", INSERT, U"a", 0, text(U"xyz"), 2, -1, U"xya", 2},
        {"insert wide text", INSERT, U"ab", 1, text(U"\u20AC"), -1, -1, U"a\u20ACb", 2},
        {"insert narrow text into wide", INSERT, U"\u20ACb", 1, text(U"x"), -1, -1, U"\u20ACxb", 2},
        {"insert the series into itself", INSERT, U"abc", 1, {}, -1, -1, U"abcbc", 3},
        {"insert a char", INSERT, U"ac", 1, character('b'), -1, -1, U"abc", 2},
        {"change as long as written", CHANGE, U"abcdef", 1, text(U"XY"), -1, -1, U"aXYdef", 3},
        {"change/part", CHANGE, U"abcdef", 1, text(U"X"), 3, -1, U"aXef", 2},
        {"change/part longer than written", CHANGE, U"abcdef", 1, text(U"XYZ"), 1, -1, U"aXYZcdef", 4},
        {"change past the end grows", CHANGE, U"abc", 2, text(U"XYZ"), -1, -1, U"abXYZ", 5},
        {"change at the tail appends", CHANGE, U"ab", 2, text(U"c"), -1, -1, U"abc", 3},
        {"change/dup", CHANGE, U"abcdef", 0, text(U"x"), -1, 3, U"xxxdef", 3},
        {"change/dup 0 /part removes", CHANGE, U"abcdef", 0, text(U"x"), 2, 0, U"cdef", 0},
        {"change a char, widening", CHANGE, U"abc", 1, character(0x20AC), -1, -1, U"a\u20ACc", 2},
        {"change with a block's values", CHANGE, U"abcdef", 0, [] { return testing::build("1 2"); }, -1, -1,
         U"12cdef", 2},
        {"change with the series itself", CHANGE, U"abcd", 2, {}, -1, -1, U"abcd", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = push_text(c.start, c.index);
        cell* value = c.value ? c.value() : stack::push_copy(s);
        cell* answer;
        switch (c.w) {
            case APPEND: answer = string::append(s, value, c.part, false, c.dup, true); break;
            case INSERT: answer = string::append(s, value, c.part, false, c.dup, false); break;
            default: answer = string::change(s, value, c.part, false, c.dup); break;
        }
        EXPECT_EQ(answer, s);
        EXPECT_EQ(from_head(s), utf8(c.expected));
        EXPECT_EQ(static_cast<int32_t>(s->w1), c.index_after);
    }
}

TEST_F(StringActions, WritersKeepTheUnitRules) {
    reset_stack();
    cell* s = push_text(U"ab");
    string::append(s, push_char('c'), -1, false, -1, true);
    EXPECT_EQ(unit_of(s), 1u);
    // Appending keeps only ASCII in unit 1: a Latin-1 char widens it.
    string::append(s, push_char(0xE9), -1, false, -1, true);
    EXPECT_EQ(unit_of(s), 2u);
    string::append(s, push_char(0x1F600), -1, false, -1, true);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(from_head(s), "abc\u00E9\U0001F600");
    // Appended text brings its own width.
    cell* t = push_text(U"x");
    string::append(t, push_text(U"\u20AC"), -1, false, -1, true);
    EXPECT_EQ(unit_of(t), 2u);
    EXPECT_EQ(raised_code([&] { string::append(t, push_text(U"xy"), -1, false, INT32_MAX, true); }),
              code_of(err::internal_no_memory));
    EXPECT_EQ(from_head(t), "x\u20AC");
}

// Growing to twice the capacity (or more when that is not enough) keeps appending of
// single characters amortised constant.
TEST_F(StringActions, AppendGrowsGeometrically) {
    reset_stack();
    cell* s = string::make_empty(stack::push_slot(), 1);
    cell* c = push_char('x');
    int growths = 0;
    int32_t capacity = memory::buffer_of(s->w2)->size;
    for (int i = 0; i < 20000; ++i) {
        string::append(s, c, -1, false, -1, true);
        int32_t now = memory::buffer_of(s->w2)->size;
        if (now != capacity) {
            EXPECT_GE(now, 2 * capacity);
            ++growths;
            capacity = now;
        }
    }
    EXPECT_EQ(string::length_from_head(s), 20000);
    EXPECT_LE(growths, 16);
}

// --- swap and take -----------------------------------------------------------------------------------------

TEST_F(StringActions, Swap) {
    reset_stack();
    cell* a = push_text(U"abc", 1);
    cell* b = push_text(U"xyz", 2);
    EXPECT_EQ(string::swap(a, b), a);
    EXPECT_EQ(from_head(a), "azc");
    EXPECT_EQ(from_head(b), "xyb");
    cell* wide = push_text(U"\u20AC");
    string::swap(a, wide);
    EXPECT_EQ(from_head(a), "a\u20ACc");
    EXPECT_EQ(from_head(wide), "z");
    cell* at_tail = push_text(U"q", 1);
    string::swap(a, at_tail);
    EXPECT_EQ(from_head(a), "a\u20ACc");
    cell* bytes = push_binary("\x41");
    // A character above 0xFF does not fit a byte: refused, nothing changes.
    EXPECT_EQ(raised_code([&] { string::swap(a, bytes); }), code_of(err::script_invalid_arg));
    EXPECT_EQ(from_head(a), "a\u20ACc");
    a->w1 = 0;
    string::swap(a, bytes);
    EXPECT_EQ(from_head(a), "A\u20ACc");
    EXPECT_EQ(memory::buffer_of(bytes->w2)->head[0], std::byte('a'));
    EXPECT_EQ(raised_code([&] { string::swap(a, testing::build("1")); }), code_of(err::script_invalid_arg));
}

TEST_F(StringActions, TakeAnswersCharsOrStrings) {
    reset_stack();
    cell* s = push_text(U"a\u20ACc");
    cell* taken = string::take(s, nullptr, false, false);
    ASSERT_TRUE(taken->is(TYPE_CHAR));
    EXPECT_EQ(taken->w2, uint32_t('a'));
    taken = string::take(s, nullptr, false, true);
    ASSERT_TRUE(taken->is(TYPE_CHAR));
    EXPECT_EQ(taken->w2, uint32_t('c'));
    EXPECT_EQ(from_head(s), "\u20AC");
    cell* t = push_text(U"abcd");
    taken = stack::push_copy(string::take(t, push_int(2), false, false));
    ASSERT_TRUE(taken->is(TYPE_STRING));
    EXPECT_EQ(from_head(taken), "ab");
    EXPECT_EQ(from_head(t), "cd");
}

// --- trim ----------------------------------------------------------------------------------------------------

TEST_F(StringActions, Trim) {
    enum mode { DEFAULT, HEAD, TAIL, HEAD_TAIL, LINES, ALL, WITH };
    const struct {
        const char* why;
        mode m;
        std::u32string start;
        int64_t index;
        maker with;
        std::u32string expected;
    } cases[] = {
        {"both ends", DEFAULT, U"  a  b \t", 0, {}, U"a  b"},
        {"every line, one line feed kept", DEFAULT, U"  a  \n  b  \n\n", 0, {}, U"a\nb\n"},
        {"an ending line feed is kept once", DEFAULT, U"a\n", 0, {}, U"a\n"},
        {"inner empty lines stay", DEFAULT, U"a\n\n\tb", 0, {}, U"a\n\nb"},
        {"Unicode spaces", DEFAULT, U"\u3000a\u00A0\u2003", 0, {}, U"a"},
        {"whitespace only", DEFAULT, U" \n \t", 0, {}, U""},
        {"from the index", DEFAULT, U"x  a  ", 1, {}, U"xa"},
        {"a carriage return is not a line space", DEFAULT, U"a \r\nb", 0, {}, U"a \r\nb"},
        {"/head", HEAD, U" \n a \n", 0, {}, U"a \n"},
        {"/tail removes the line feed", TAIL, U" a \n", 0, {}, U" a"},
        {"/head /tail", HEAD_TAIL, U" a \n b ", 0, {}, U"a \n b"},
        {"/lines joins runs into one space", LINES, U"  a \n\t b  c ", 0, {}, U"a b c"},
        {"/all removes the four whitespace characters", ALL, U" a\tb\nc\rd\u00A0", 0, {}, U"abcd\u00A0"},
        {"/with a string", WITH, U"abcabc", 0, text(U"ba"), U"cc"},
        {"/with a char", WITH, U"a\u20ACb\u20AC", 0, character(0x20AC), U"ab"},
        {"/with an integer", WITH, U"abc", 0, integer_value('c'), U"ab"},
        {"/with many characters", WITH, U"abcdefgh", 0, text(U"hgfecb"), U"ad"},
        {"/with from the index", WITH, U"aab", 1, text(U"a"), U"ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = push_text(c.start, c.index);
        cell* with = c.with ? c.with() : nullptr;
        cell* answer = string::trim(s, c.m == HEAD || c.m == HEAD_TAIL, c.m == TAIL || c.m == HEAD_TAIL, false,
                                    c.m == LINES, c.m == ALL, with);
        EXPECT_EQ(answer, s);
        EXPECT_EQ(from_head(s), utf8(c.expected));
        EXPECT_EQ(static_cast<int32_t>(s->w1), c.index);
    }
    reset_stack();
    cell* s = push_text(U" a ");
    EXPECT_EQ(raised_code([&] { string::trim(s, false, false, true, false, false, nullptr); }),
              code_of(err::internal_not_done));
    EXPECT_EQ(raised_code([&] { string::trim(s, false, false, false, false, false, testing::build("1")); }),
              code_of(err::script_invalid_arg));
    EXPECT_EQ(from_head(s), " a ");
}

// --- sort -------------------------------------------------------------------------------------------------------

struct sort_options {
    bool case_sensitive = false;
    int skip = 0;     // 0: no /skip
    int compare = 0;  // 0: no integer /compare
    maker part;
    bool all = false;
    bool reverse = false;
    bool stable = false;
};

cell* call_sort(cell* s, const sort_options& o, cell* function = nullptr) {
    cell* skip = o.skip ? push_int(o.skip) : nullptr;
    cell* comparator = function ? function : o.compare ? push_int(o.compare) : nullptr;
    cell* part = o.part ? o.part() : nullptr;
    return string::sort(s, o.case_sensitive, skip, comparator, part, o.all, o.reverse, o.stable);
}

TEST_F(StringActions, Sort) {
    auto with = [](auto set) {
        sort_options o;
        set(o);
        return o;
    };
    // 20 records of a key (a or b) and a payload in input order: /stable keeps that order
    // among equal keys, with and without /case.
    std::u32string records, stable_sorted_a, stable_sorted_b;
    for (int i = 0; i < 20; ++i) {
        char32_t key = (i * 7) % 3 == 0 ? U'a' : U'b';
        char32_t payload = U'A' + char32_t(i);
        records += key;
        records += payload;
        (key == U'a' ? stable_sorted_a : stable_sorted_b) += std::u32string{key, payload};
    }
    const struct {
        const char* why;
        std::u32string input;
        int64_t index;
        sort_options options;
        std::u32string expected;
        int64_t index_after;
    } cases[] = {
        {"characters", U"dcba", 0, {}, U"abcd", 0},
        {"from the index", U"zdcba", 1, {}, U"zabcd", 1},
        {"/reverse", U"adcb", 0, with([](sort_options& o) { o.reverse = true; }), U"dcba", 0},
        {"/case", U"bBaA", 0, with([](sort_options& o) { o.case_sensitive = true; }), U"ABab", 0},
        {"folded and stable", U"bBaAAa", 0, with([](sort_options& o) { o.stable = true; }), U"aAAabB", 0},
        {"unit 1 folds A-Z down: _ before letters", U"b_a", 0, {}, U"_ab", 0},
        {"wider units fold up: _ after letters", U"b_a\u20AC", 0, {}, U"ab_\u20AC", 0},
        {"Latin-1 is not folded in unit 1", U"\u00E9\u00C9e", 0, {}, U"e\u00C9\u00E9", 0},
        {"wide text folded to upper case", U"\u00E9\u00C9\u20ACe", 0, with([](sort_options& o) { o.stable = true; }),
         U"e\u00E9\u00C9\u20AC", 0},
        {"/part", U"dcba", 0, with([](sort_options& o) { o.part = integer_value(2); }), U"cdba", 0},
        {"/part beyond the tail", U"dcba", 1, with([](sort_options& o) { o.part = integer_value(9); }), U"dabc", 1},
        {"negative /part sorts before the index", U"dcba", 2, with([](sort_options& o) { o.part = integer_value(-2); }),
         U"cdba", 0},
        {"negative /part past the head sorts nothing", U"dcba", 1,
         with([](sort_options& o) { o.part = integer_value(-3); }), U"dcba", 0},
        {"/skip sorts records by their first character", U"b1a2c0", 0, with([](sort_options& o) { o.skip = 2; }),
         U"a2b1c0", 0},
        {"/skip /compare sorts by another character", U"b1a2c0", 0,
         with([](sort_options& o) {
             o.skip = 2;
             o.compare = 2;
         }),
         U"c0b1a2", 0},
        {"/skip /all compares whole records", U"b2b1a3", 0,
         with([](sort_options& o) {
             o.skip = 2;
             o.all = true;
         }),
         U"a3b1b2", 0},
        {"/skip /all /reverse", U"b2b1a3", 0,
         with([](sort_options& o) {
             o.skip = 2;
             o.all = true;
             o.reverse = true;
         }),
         U"b2b1a3", 0},
        {"/stable keeps equal keys in order", records, 0,
         with([](sort_options& o) {
             o.skip = 2;
             o.stable = true;
         }),
         stable_sorted_a + stable_sorted_b, 0},
        {"/stable /case too", records, 0,
         with([](sort_options& o) {
             o.skip = 2;
             o.stable = true;
             o.case_sensitive = true;
         }),
         stable_sorted_a + stable_sorted_b, 0},
        {"an empty string", U"", 0, {}, U"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = push_text(c.input, c.index);
        EXPECT_EQ(call_sort(s, c.options), s);
        EXPECT_EQ(from_head(s), utf8(c.expected));
        EXPECT_EQ(static_cast<int32_t>(s->w1), c.index_after);
    }
}

TEST_F(StringActions, SortRefusals) {
    const int invalid_refine = code_of(err::script_invalid_refine_arg);
    auto options = [](int skip, int compare, bool all, maker part = {}) {
        sort_options o;
        o.skip = skip;
        o.compare = compare;
        o.all = all;
        o.part = std::move(part);
        return o;
    };
    const struct {
        const char* why;
        sort_options options;
        int error;
    } cases[] = {
        {"/skip not dividing the length", options(4, 0, false), invalid_refine},
        {"/skip above the length", options(8, 0, false), invalid_refine},
        {"/skip below 1", options(-1, 0, false), invalid_refine},
        {"/all without /skip", options(0, 0, true), code_of(err::script_bad_refines)},
        {"integer /compare without /skip", options(0, 1, false), code_of(err::script_bad_refines)},
        {"integer /compare with /all", options(2, 1, true), code_of(err::script_bad_refines)},
        {"integer /compare beyond the record", options(2, 3, false), code_of(err::script_out_of_range)},
        {"integer /compare below 1", options(2, -1, false), code_of(err::script_out_of_range)},
        {"/part in another series", options(0, 0, false, text(U"abc")), invalid_refine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = push_text(U"fedcba");
        EXPECT_EQ(raised_code([&] { call_sort(s, c.options); }), c.error);
        EXPECT_EQ(from_head(s), "fedcba");
    }
    reset_stack();
    cell* s = push_text(U"ba");
    EXPECT_EQ(raised_code([&] { string::sort(s, false, nullptr, push_text(U"x"), nullptr, false, false, false); }),
              invalid_refine);
}

// binary! and vector! take sort from string!.
TEST_F(StringActions, SortBytesAndVectors) {
    reset_stack();
    cell* bytes = push_binary("bAaB");
    call_sort(bytes, {});
    series_buffer* b = memory::buffer_of(bytes->w2);
    std::string sorted(reinterpret_cast<const char*>(b->head), size_t(b->tail - b->head));
    EXPECT_TRUE(sorted == "AabB" || sorted == "aAbB" || sorted == "aABb" || sorted == "AaBb") << sorted;
    sort_options case_sensitive;
    case_sensitive.case_sensitive = true;
    call_sort(bytes, case_sensitive);
    b = memory::buffer_of(bytes->w2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b->head), 4), "ABab");

    // Integers compare by their signed value, floats by value.
    cell* numbers = push_vector(TYPE_INTEGER, 2, {3, -1, 200, -300, 0});
    call_sort(numbers, {});
    std::vector<int16_t> ints(5);
    std::memcpy(ints.data(), memory::buffer_of(numbers->w2)->head, 10);
    EXPECT_EQ(ints, (std::vector<int16_t>{-300, -1, 0, 3, 200}));
    cell* floats = push_vector(TYPE_FLOAT, 8, {2.5, -1.25, 1e10, 0.0});
    call_sort(floats, {});
    std::vector<double> doubles(4);
    std::memcpy(doubles.data(), memory::buffer_of(floats->w2)->head, 32);
    EXPECT_EQ(doubles, (std::vector<double>{-1.25, 0.0, 2.5, 1e10}));
    cell* singles = push_vector(TYPE_FLOAT, 4, {2.5, -1.25, 0.5});
    sort_options reverse;
    reverse.reverse = true;
    call_sort(singles, reverse);
    std::vector<float> floats32(3);
    std::memcpy(floats32.data(), memory::buffer_of(singles->w2)->head, 12);
    EXPECT_EQ(floats32, (std::vector<float>{2.5f, 0.5f, -1.25f}));
}

// A comparator standing in for the evaluator's call of a function. It orders by the code
// point of each argument (the first character of a record string under /all) and answers
// in the form the test asks for; some forms misbehave on purpose.
enum class answer_form { logic_less, integer_difference, collect_and_allocate, append_to_series, widen_series };
answer_form comparator_form = answer_form::logic_less;
cell* sorted_series = nullptr;  // the series a misbehaving comparator edits
std::vector<std::u32string> comparator_arguments;

uint32_t key_of(const cell* value) {
    if (string::is_any_string(value->type())) return string::char_at(value, 0);
    return value->w2;
}

cell* test_comparator(cell* function, cell* first, cell* second) {
    (void)function;
    comparator_arguments.push_back({char32_t(key_of(first)), char32_t(key_of(second))});
    switch (comparator_form) {
        case answer_form::collect_and_allocate:
            // Everything may move: a collection, then enough new text to fill frames.
            gc::collect();
            for (int i = 0; i < 4; ++i) string::make_empty(stack::push_slot(), 4096);
            break;
        case answer_form::append_to_series: string::append_codepoint(sorted_series, 'z'); break;
        case answer_form::widen_series:
            string::poke_codepoint_at_index(memory::buffer_of(sorted_series->w2), 0, 0x20AC);
            break;
        default: break;
    }
    cell* result = stack::push_slot();
    uint32_t a = key_of(first), b = key_of(second);
    switch (comparator_form) {
        case answer_form::integer_difference: integer::make_in(result, int32_t(a) - int32_t(b)); break;
        default: logic::make_in(result, a < b); break;
    }
    return result;
}

class FunctionComparator : public StringActions {
protected:
    void SetUp() override {
        StringActions::SetUp();
        upcalls::call_comparator = &test_comparator;
        reset_stack();
        function_ = stack::push_slot();
        *function_ = cell{TYPE_FUNCTION, 0, 0, 0};
    }
    void TearDown() override {
        sorted_series = nullptr;
        StringActions::TearDown();
    }
    cell* function_ = nullptr;
};

TEST_F(FunctionComparator, OrdersLikeBlocks) {
    const struct {
        const char* why;
        answer_form form;
        bool reverse;
        int skip;
        bool all;
        std::u32string input;
        std::u32string expected;
    } cases[] = {
        // The function gets (second, first): "less" answering true puts first after second,
        // so a "less" comparator sorts ascending, as it does for blocks.
        {"less sorts ascending", answer_form::logic_less, false, 0, false, U"dbca", U"abcd"},
        {"less with /reverse sorts descending", answer_form::logic_less, true, 0, false, U"dbca", U"dcba"},
        {"a difference sorts descending", answer_form::integer_difference, false, 0, false, U"dbca", U"dcba"},
        {"records by their first character", answer_form::logic_less, false, 2, false, U"c1a2b3", U"a2b3c1"},
        {"whole records as strings", answer_form::logic_less, false, 2, true, U"c1a2b3", U"a2b3c1"},
        {"wide characters", answer_form::logic_less, false, 0, false, U"\U0001F600\u20ACa", U"a\u20AC\U0001F600"},
        {"a comparator that collects and allocates", answer_form::collect_and_allocate, false, 0, false,
         U"hgfedcba\u20AC", U"abcdefgh\u20AC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        comparator_form = c.form;
        for (bool stable : {false, true}) {
            cell* s = push_text(c.input);
            sort_options o;
            o.skip = c.skip;
            o.all = c.all;
            o.reverse = c.reverse;
            o.stable = stable;
            call_sort(s, o, function_);
            EXPECT_EQ(from_head(s), utf8(c.expected));
        }
    }
    // Under /all each argument is a new string of the whole record.
    comparator_form = answer_form::logic_less;
    comparator_arguments.clear();
    cell* s = push_text(U"b1a2");
    sort_options o;
    o.skip = 2;
    o.all = true;
    call_sort(s, o, function_);
    ASSERT_FALSE(comparator_arguments.empty());
    EXPECT_EQ(from_head(s), "a2b1");
}

// A comparator that changes the string's length ends the sort with an error; the string
// then holds its characters (and what the comparator added) in some order, never stale
// or freed memory.
TEST_F(FunctionComparator, ChangingTheLengthEndsTheSort) {
    for (bool stable : {false, true}) {
        cell* s = push_text(U"dcbahgfe");
        sorted_series = s;
        comparator_form = answer_form::append_to_series;
        sort_options o;
        o.stable = stable;
        EXPECT_EQ(raised_code([&] { call_sort(s, o, function_); }), code_of(err::script_past_end));
        std::u32string after = codes_from_head(s);
        ASSERT_GE(after.size(), 9u);
        std::u32string original = after.substr(0, 8);
        std::sort(original.begin(), original.end());
        EXPECT_EQ(original, U"abcdefgh");
        EXPECT_EQ(after.substr(8), std::u32string(after.size() - 8, U'z'));
    }
}

// A comparator that widens the string (a wide character poked in) changes no length: the
// sort reads the records through the node at their new width.
TEST_F(FunctionComparator, WideningDuringTheSortIsFollowed) {
    cell* s = push_text(U"dcba");
    sorted_series = s;
    comparator_form = answer_form::widen_series;
    call_sort(s, {}, function_);
    EXPECT_EQ(unit_of(s), 2u);
    std::u32string after = codes_from_head(s);
    ASSERT_EQ(after.size(), 4u);
    EXPECT_NE(after.find(U'\u20AC'), std::u32string::npos);
}

TEST_F(FunctionComparator, WithoutTheEvaluatorHook) {
    upcalls::call_comparator = nullptr;
    cell* s = push_text(U"ba");
    EXPECT_EQ(raised_code([&] { call_sort(s, {}, function_); }), code_of(err::internal_not_done));
}

// --- Set operations ------------------------------------------------------------------------------------------

TEST_F(StringActions, SetOperations) {
    const struct {
        const char* why;
        int op;
        std::u32string first;
        std::u32string second;
        bool case_sensitive;
        int skip;
        std::u32string expected;
    } cases[] = {
        {"unique", block::SET_UNIQUE, U"abcab", U"", false, 0, U"abc"},
        {"unique folds case", block::SET_UNIQUE, U"aAbB", U"", false, 0, U"ab"},
        {"unique with /case", block::SET_UNIQUE, U"aAbBa", U"", true, 0, U"aAbB"},
        {"union", block::SET_UNION, U"abc", U"bcd", false, 0, U"abcd"},
        {"union of wide text", block::SET_UNION, U"a\u20AC", U"\u20ACb\U0001F600", false, 0, U"a\u20ACb\U0001F600"},
        {"intersect", block::SET_INTERSECT, U"abcd", U"dbx", false, 0, U"bd"},
        {"intersect folds case", block::SET_INTERSECT, U"abcd", U"DB", false, 0, U"bd"},
        {"intersect with /case", block::SET_INTERSECT, U"abcd", U"DBc", true, 0, U"c"},
        {"exclude", block::SET_EXCLUDE, U"abcda", U"bd", false, 0, U"ac"},
        {"difference", block::SET_DIFFERENCE, U"abc", U"bcd", false, 0, U"ad"},
        {"unique records", block::SET_UNIQUE, U"a1a2b3", U"", false, 2, U"a1b3"},
        {"union of records", block::SET_UNION, U"a1b2", U"a3c4", false, 2, U"a1b2c4"},
        {"records keyed by their first character only", block::SET_INTERSECT, U"a1b2", U"1b", false, 2, U""},
        {"a short last record", block::SET_UNION, U"a1b", U"c2b3", false, 2, U"a1bc2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* first = push_text(c.first, 0, TYPE_FILE);
        cell* second = push_text(c.second);
        cell* skip = c.skip ? push_int(c.skip) : nullptr;
        cell* result = string::set_operation(first, second, c.case_sensitive, skip, c.op);
        EXPECT_EQ(result, first);
        EXPECT_EQ(first->type(), TYPE_FILE);
        EXPECT_EQ(first->w1, 0u);
        EXPECT_EQ(from_head(first), utf8(c.expected));
    }
    reset_stack();
    cell* first = push_text(U"ab", 1);
    cell* second = push_text(U"xb");
    cell* kept = push_text(U"ab");
    string::set_operation(first, second, false, nullptr, block::SET_UNION);
    EXPECT_EQ(from_head(first), "bx");  // from the index
    EXPECT_EQ(from_head(kept), "ab");
    EXPECT_EQ(raised_code([&] { string::set_operation(first, second, false, push_int(0), block::SET_UNION); }),
              code_of(err::script_invalid_refine_arg));
    EXPECT_EQ(raised_code([&] { string::set_operation(first, testing::build("1"), false, nullptr, block::SET_UNION); }),
              code_of(err::script_invalid_arg));
}

// The registration: string!'s own slots, the inherited series! slots and the refused ones.
TEST_F(StringActions, Registration) {
    for (action a : {ACTION_MAKE, ACTION_TO, ACTION_FORM, ACTION_MOLD, ACTION_EVAL_PATH, ACTION_COMPARE, ACTION_APPEND,
                     ACTION_CHANGE, ACTION_FIND, ACTION_INSERT, ACTION_SELECT, ACTION_SORT, ACTION_SWAP, ACTION_TAKE,
                     ACTION_TRIM}) {
        EXPECT_NE(type_registry::handler_of(TYPE_STRING, a), nullptr) << action_names[a - 1];
    }
    for (action a : {ACTION_RANDOM, ACTION_REFLECT, ACTION_AT, ACTION_BACK, ACTION_CLEAR, ACTION_COPY, ACTION_HEAD,
                     ACTION_HEAD_Q, ACTION_INDEX_Q, ACTION_LENGTH_Q, ACTION_MOVE, ACTION_NEXT, ACTION_PICK, ACTION_POKE,
                     ACTION_REMOVE, ACTION_REVERSE, ACTION_SKIP, ACTION_TAIL, ACTION_TAIL_Q, ACTION_MODIFY}) {
        EXPECT_EQ(type_registry::handler_of(TYPE_STRING, a), type_registry::handler_of(TYPE_SERIES, a))
            << action_names[a - 1];
        EXPECT_NE(type_registry::handler_of(TYPE_STRING, a), nullptr) << action_names[a - 1];
    }
    for (action a : {ACTION_SET_PATH, ACTION_ABSOLUTE, ACTION_ADD, ACTION_NEGATE, ACTION_ROUND, ACTION_EVEN_Q,
                     ACTION_COMPLEMENT, ACTION_XOR_T, ACTION_PUT, ACTION_CREATE, ACTION_DELETE, ACTION_OPEN,
                     ACTION_WRITE}) {
        EXPECT_EQ(type_registry::handler_of(TYPE_STRING, a), nullptr) << action_names[a - 1];
    }
}

}  // namespace
}  // namespace zor
