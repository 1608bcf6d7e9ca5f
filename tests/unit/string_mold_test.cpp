// string! form and mold: the choice between double quotes and braces, the brace balance
// rule, the caret escapes (with and without /all) and the /part budgets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"
#include "tests/unit/block_notation.h"

namespace zor {
namespace {

using namespace std::string_literals;

std::string utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        uint8_t bytes[4];
        int n = unicode::encode_utf8_char(static_cast<uint32_t>(c), bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
    return out;
}

// A new string holding the code points, at the narrowest unit width that holds them all
// (written by position, so Latin-1 stays in unit 1), with its index set.
cell* push_text(std::u32string_view text, int64_t index = 0) {
    uint32_t unit = 1;
    for (char32_t c : text) unit = std::max<uint32_t>(unit, c <= 0xFF ? 1 : c <= 0xFFFF ? 2 : 4);
    cell* s = string::make_in_cell(stack::push_slot(), int64_t(text.size()) + 1, unit);
    for (size_t i = 0; i < text.size(); ++i) {
        string::poke_codepoint_at_index(memory::buffer_of(s->w2), int64_t(i), static_cast<uint32_t>(text[i]));
    }
    s->w1 = static_cast<uint32_t>(index);
    return s;
}

struct text_result {
    std::string text;
    int budget;
};

text_result mold(cell* value, bool all, cell* part, int budget) {
    cell* output = string::push_empty();
    int left = actions::dispatch_mold(value, output, false, all, false, part, budget, 0);
    return {string::to_utf8(output), left};
}

text_result form(cell* value, cell* part, int budget) {
    cell* output = string::push_empty();
    int left = actions::dispatch_form(value, output, part, budget);
    return {string::to_utf8(output), left};
}

class StringMold : public testing::collected_fixture {};

TEST_F(StringMold, DelimitersEscapesAndBraces) {
    const std::u32string a49(49, U'a'), a50(50, U'a'), a60(60, U'a');
    const struct {
        const char* why;
        std::u32string input;
        int64_t index;
        bool all;
        int part;  // -1: no /part
        std::string expected;
    } cases[] = {
        {"empty", U"", 0, false, -1, "\"\""},
        {"plain text", U"abc", 0, false, -1, "\"abc\""},
        {"from the index only", U"xxabc", 2, false, -1, "\"abc\""},
        {"a stale index reads as the tail", U"ab", 9, false, -1, "\"\""},
        {"one double quote: braces, the quote unescaped", U"\"", 0, false, -1, "{\"}"},
        {"a brace in double-quote mode is never escaped", U"a{b", 0, false, -1, "\"a{b\""},
        {"unmatched } in double-quote mode", U"a}b", 0, false, -1, "\"a}b\""},
        {"an unmatched { in brace mode", U"a{b\"", 0, false, -1, "{a^{b\"}"},
        {"a balanced pair stays", U"{x}\"", 0, false, -1, "{{x}\"}"},
        {"an unmatched }", U"}\"", 0, false, -1, "{^}\"}"},
        {"after the first unmatched {, every { is escaped", U"{{}\"", 0, false, -1, "{^{^{^}\"}"},
        {"matched braces before an unmatched one", U"{}{\"", 0, false, -1, "{{}^{\"}"},
        {"nested pairs", U"{{a}{b}}\"", 0, false, -1, "{{{a}{b}}\"}"},
        {"a caret in double-quote mode", U"^", 0, false, -1, "\"^^\""},
        {"a caret in brace mode", U"^\"", 0, false, -1, "{^^\"}"},
        {"tab and line feed", U"\t\n", 0, false, -1, "\"^-^/\""},
        {"two line feeds keep double quotes", U"a\n\nb", 0, false, -1, "\"a^/^/b\""},
        {"three line feeds switch to braces, still escaped", U"a\n\n\n", 0, false, -1, "{a^/^/^/}"},
        {"control characters", U"\x00\x01\x08\x0B\x1B\x1C\x1D"s, 0, false, -1, "\"^@^A^H^K^[^\\^]\""},
        {"0x1E in hexadecimal, 0x1F as ^_", U"\x1E\x1F", 0, false, -1, "\"^(1E)^_\""},
        {"DEL", U"\x7F", 0, false, -1, "\"^~\""},
        {"C1 controls in hexadecimal", U"\x85\x80\x9F", 0, false, -1, "\"^(85)^(80)^(9F)\""},
        {"Latin-1 above the C1 controls as it is", U"\u00E9\u00A0", 0, false, -1, "\"\u00E9\u00A0\""},
        {"with /all, everything above 0x7F in hexadecimal", U"\u00E9\u20AC\U0001F600", 0, true, -1,
         "\"^(E9)^(20AC)^(1F600)\""},
        {"with /all in brace mode too", U"\u00E9\"", 0, true, -1, "{^(E9)\"}"},
        {"wide characters without /all", U"\u20AC\U0001F600", 0, false, -1, "\"\u20AC\U0001F600\""},
        {"49 characters keep double quotes", a49, 0, false, -1, "\"" + utf8(a49) + "\""},
        {"50 characters take braces", a50, 0, false, -1, "{" + utf8(a50) + "}"},
        {"the length counts from the index", a60, 11, false, -1, "\"" + utf8(a49) + "\""},
        {"/part still uses the whole rest for the choice", a60, 0, false, 10, "{aaaaaaaaaa}"},
        {"/part cuts the text", U"abcdef", 0, false, 3, "\"abc\""},
        {"/part beyond the tail", U"ab", 0, false, 10, "\"ab\""},
        {"/part of 0 or less molds nothing", U"abc", 0, false, -4, "\"\""},
        {"a quote beyond /part does not count", U"ab\"", 0, false, 2, "\"ab\""},
        {"a brace matched only beyond /part is unmatched", U"\"{a}", 0, false, 3, "{\"^{a}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        reset_stack();
        cell* s = push_text(c.input, c.index);
        cell* part = c.part >= 0 || c.part < -1 ? integer::make_in(stack::push_slot(), c.part) : nullptr;
        int budget = part ? c.part : 1000;
        text_result r = mold(s, c.all, part, budget);
        EXPECT_EQ(r.text, c.expected);
        // The budget falls by the characters molded and the two delimiters.
        int64_t rest = std::max<int64_t>(int64_t(c.input.size()) - c.index, 0);
        int64_t molded = part ? std::clamp<int64_t>(c.part, 0, rest) : rest;
        EXPECT_EQ(r.budget, budget - molded - 2);
    }
}

// The escape of one character, as char! and vector! molding use it.
TEST_F(StringMold, EscapedCharacters) {
    const struct {
        uint32_t codepoint;
        bool all;
        const char* expected;
    } cases[] = {
        {0x00, false, "^@"},   {0x09, false, "^-"},     {0x0A, false, "^/"},     {0x0D, false, "^M"},
        {0x1B, false, "^["},   {0x1E, false, "^(1E)"},  {0x1F, false, "^_"},     {0x20, false, " "},
        {'"', false, "^\""},   {'^', false, "^^"},      {'{', false, "{"},       {'}', false, "}"},
        {'~', false, "~"},     {0x7F, false, "^~"},     {0x80, false, "^(80)"},  {0x9F, false, "^(9F)"},
        {0xA0, false, "\u00A0"}, {0xE9, false, "\u00E9"}, {0xE9, true, "^(E9)"}, {0x7E, true, "~"},
        {0x20AC, true, "^(20AC)"}, {0x10FFFF, true, "^(10FFFF)"}, {0x1E, true, "^(1E)"},
    };
    for (const auto& c : cases) {
        reset_stack();
        cell* output = string::push_empty();
        string::append_escaped_char(output, c.codepoint, c.all);
        EXPECT_EQ(string::to_utf8(output), c.expected) << std::hex << c.codepoint;
    }
}

// The one-pass search for the first unmatched opening brace agrees with the per-brace
// scan that mold's rule is stated in, on random brace texts of every unit width.
TEST_F(StringMold, FirstUnbalancedBraceAgreesWithThePerBraceScan) {
    std::mt19937 random(12345);
    const char32_t alphabet[] = {U'{', U'}', U'x', U'{', U'}', U'\u20AC', U'\U0001F600'};
    for (int round = 0; round < 2000; ++round) {
        reset_stack();
        std::u32string text;
        int n = static_cast<int>(random() % 24);
        int kinds = round % 3 == 0 ? 3 : round % 3 == 1 ? 6 : 7;  // unit 1, 2 and 4 texts
        for (int i = 0; i < n; ++i) text.push_back(alphabet[random() % unsigned(kinds)]);
        cell* s = push_text(text);
        memory::series_buffer* b = memory::buffer_of(s->w2);
        uint32_t unit = b->unit();
        int64_t expected = -1;
        for (int64_t i = 0; i < n && expected < 0; ++i) {
            if (text[size_t(i)] == U'{' && !string::brace_balanced(b->head + i * unit, b->tail, unit)) expected = i;
        }
        EXPECT_EQ(string::first_unbalanced_brace(b->head, b->tail, unit), expected) << utf8(text);
    }
}

TEST_F(StringMold, CountsQuotesAndLines) {
    reset_stack();
    cell* s = push_text(U"\"a\n\"\n\u20AC\"");
    memory::series_buffer* b = memory::buffer_of(s->w2);
    int64_t quotes = -1, lines = -1;
    string::count_quotes_and_lines(b->head, b->tail, b->unit(), quotes, lines);
    EXPECT_EQ(quotes, 3);
    EXPECT_EQ(lines, 2);
}

TEST_F(StringMold, FormWritesTheCharactersAndSpendsTheRest) {
    const struct {
        std::u32string input;
        int64_t index;
        int part;  // -1: no /part
        std::u32string expected;
        int budget_left;
    } cases[] = {
        {U"abc\"\n", 0, -1, U"abc\"\n", 1000 - 5},
        {U"xyabc", 2, -1, U"abc", 1000 - 3},
        {U"abcdef", 0, 4, U"abcd", 4 - 6},
        {U"abcdef", 2, 10, U"cdef", 10 - 4},
        {U"abc", 0, 0, U"", -3},
        {U"\u20AC\U0001F600x", 0, 2, U"\u20AC\U0001F600", 2 - 3},
    };
    for (const auto& c : cases) {
        reset_stack();
        cell* s = push_text(c.input, c.index);
        cell* part = c.part >= 0 ? integer::make_in(stack::push_slot(), c.part) : nullptr;
        text_result r = form(s, part, part ? c.part : 1000);
        EXPECT_EQ(r.text, utf8(c.expected));
        EXPECT_EQ(r.budget, c.budget_left);
    }
}

// Molding a string into itself reads the characters as they were before the mold began.
TEST_F(StringMold, MoldIntoTheSameString) {
    reset_stack();
    cell* s = push_text(U"a\u00E9\"");
    actions::dispatch_mold(s, s, false, false, false, nullptr, 1000, 0);
    EXPECT_EQ(string::to_utf8(s), "a\u00E9\"{a\u00E9\"}");
    cell* t = push_text(U"x\t");
    actions::dispatch_mold(t, t, false, true, false, nullptr, 1000, 0);
    EXPECT_EQ(string::to_utf8(t), "x\t\"x^-\"");
}

}  // namespace
}  // namespace zor
