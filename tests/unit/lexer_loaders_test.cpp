// The lexer's token loaders, read through the whole lexer: each table gives source text
// and what loading it (or scanning it with /scan) must give, or the error it must raise.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"
#include "runtime/datatypes/function.h"
#include "runtime/eval/natives/natives.h"
#include "tests/unit/interpreter_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zor::testing {
namespace {

// What one scan gave: the molded result (a block molded without its brackets), the
// result cell's own type and, for a block, its first value's type and the values' count;
// or the first line of the error report and the error's code.
struct scan_outcome {
    std::string text;
    type_id type = TYPE_NONE_ID;
    type_id first_type = TYPE_NONE_ID;
    int64_t count = 0;
    int error_code = -1;
    std::string report;
};

std::string molded_value(const cell* value, bool only) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_mold(held, output, only, false, false, nullptr, 0, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

std::string first_report_line(cell* error_value) {
    cell* held = stack::push_copy(error_value);
    cell* output = string::push_empty();
    error::form_report(held, output, nullptr, 1000000);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text.substr(0, text.find('\n'));
}

class lexer_loaders : public ::testing::Test {
protected:

    // Scans the UTF-8 text as a string! source, the way transcode does.
    scan_outcome scan(const std::string& text, bool scan_only = false) {
        scan_outcome outcome;
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            cell* source = string::load_from_bytes(unicode::input_bytes::at(text.data()),
                                                   static_cast<int64_t>(text.size()), nullptr,
                                                   string::ENCODING_UTF8);
            cell* result = stack::push_slot();
            cell::init_unset(result);
            lexer::scan_request request;
            request.scan = scan_only;
            request.single = scan_only;
            int64_t consumed = 0;
            lexer::scan_string(result, source, -1, request, &consumed);
            outcome.type = result->type();
            if (result->is(TYPE_BLOCK)) {
                memory::series_buffer* b = memory::buffer_of(result->w2);
                outcome.count = b->length();
                if (outcome.count > 0) outcome.first_type = b->head_cell()->type();
                outcome.text = molded_value(result, true);
            } else {
                outcome.text = molded_value(result, false);
            }
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            cell* e = stack::last_slot();
            outcome.error_code = error::code_of(e);
            outcome.report = first_report_line(e);
        }
        return outcome;
    }

    // The unit width and length of the string loaded from the text (one string value).
    std::pair<uint32_t, int64_t> string_shape(const std::string& text) {
        stack::stack_guard guard;
        cell* source = string::load_from_bytes(unicode::input_bytes::at(text.data()),
                                               static_cast<int64_t>(text.size()), nullptr, string::ENCODING_UTF8);
        cell* result = stack::push_slot();
        cell::init_unset(result);
        int64_t consumed = 0;
        lexer::scan_string(result, source, -1, lexer::scan_request{}, &consumed);
        cell* value = memory::buffer_of(result->w2)->head_cell();
        memory::series_buffer* b = memory::buffer_of(value->w2);
        return {b->unit(), b->length()};
    }
};

std::string type_name(type_id type) {
    const char* name = type_registry::type_entries[type].name;
    return name ? name : "?";
}

// --- Loading -----------------------------------------------------------------------------------------

struct load_case {
    const char* text;
    const char* molded;  // the loaded value molded
    type_id type;
};

TEST_F(lexer_loaders, loads_numbers) {
    const load_case cases[] = {
        {"1'000'000", "1000000", TYPE_INTEGER},
        {"0", "0", TYPE_INTEGER},
        {"-7", "-7", TYPE_INTEGER},
        {"+2147483647", "2147483647", TYPE_INTEGER},
        // The most negative integer is written only with its sign.
        {"-2147483648", "-2147483648", TYPE_INTEGER},
        {"2147483648", "2147483648.0", TYPE_FLOAT},
        {"-2147483649", "-2147483649.0", TYPE_FLOAT},
        // More than ten digits is a float whatever the value.
        {"00000000001", "1.0", TYPE_FLOAT},
        {"FFh", "255", TYPE_INTEGER},
        {"0FFh", "255", TYPE_INTEGER},
        {"7FFFFFFFh", "2147483647", TYPE_INTEGER},
        {"FFFFFFFFh", "-1", TYPE_INTEGER},
        {"1.5", "1.5", TYPE_FLOAT},
        {"1e3", "1000.0", TYPE_FLOAT},
        {"1.5e-3", "0.0015", TYPE_FLOAT},
        {".5", "0.5", TYPE_FLOAT},
        {"1'000.5", "1000.5", TYPE_FLOAT},
        {"10%", "10%", TYPE_PERCENT},
        {"1.5%", "1.5%", TYPE_PERCENT},
        {"-1.#INF", "-1.#INF", TYPE_FLOAT},
        {"1.#inf", "1.#INF", TYPE_FLOAT},
        {"+1.#NaN", "1.#NaN", TYPE_FLOAT},
        {"1.2.3", "1.2.3", TYPE_TUPLE},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12", TYPE_TUPLE},
        {"255.0.255", "255.0.255", TYPE_TUPLE},
        {"1x2", "1x2", TYPE_PAIR},
        {"-1x-2", "-1x-2", TYPE_PAIR},
        {"10X20", "10x20", TYPE_PAIR},
        {"1:2:3", "1:02:03", TYPE_TIME},
        {"1:02:03.5", "1:02:03.5", TYPE_TIME},
        {"-0:0:1", "-0:00:01", TYPE_TIME},
        {"+1:30", "1:30:00", TYPE_TIME},
        // Minutes are not limited to 59: the fields only add up.
        {"1:60", "2:00:00", TYPE_TIME},
        // A point after the second field makes the fields minutes and seconds.
        {"1:02.5", "0:01:02.5", TYPE_TIME},
    };
    for (const load_case& c : cases) {
        scan_outcome out = scan(c.text);
        EXPECT_EQ(out.error_code, -1) << c.text << ": " << out.report;
        EXPECT_EQ(out.text, c.molded) << c.text;
        EXPECT_EQ(out.count, 1) << c.text;
        EXPECT_EQ(type_name(out.first_type), type_name(c.type)) << c.text;
    }
}

TEST_F(lexer_loaders, loads_words_and_names) {
    const load_case cases[] = {
        {"abc", "abc", TYPE_WORD},
        {"a:", "a:", TYPE_SET_WORD},
        {":a", ":a", TYPE_GET_WORD},
        {"'a", "'a", TYPE_LIT_WORD},
        {"+", "+", TYPE_WORD},
        {"<=", "<=", TYPE_WORD},
        {"/", "/", TYPE_WORD},
        {"//", "//", TYPE_WORD},
        {"'/", "'/", TYPE_LIT_WORD},
        {":/", ":/", TYPE_GET_WORD},
        {"/:", "/:", TYPE_SET_WORD},
        {"/ref", "/ref", TYPE_REFINEMENT},
        {"#iss", "#iss", TYPE_ISSUE},
        {"#1a", "#1a", TYPE_ISSUE},
        {"été", "été", TYPE_WORD},
        // A Unicode blank ends a word.
        {"a\xC2\xA0" "b", "a b", TYPE_WORD},
        {"#(true)", "true", TYPE_LOGIC},
        {"#(FALSE)", "false", TYPE_LOGIC},
        {"#(none)", "none", TYPE_NONE},
        {"#(datatype!)", "datatype!", TYPE_DATATYPE},
        {"#(Integer)", "integer!", TYPE_DATATYPE},
        {"#(point2d!)", "point2D!", TYPE_DATATYPE},
    };
    for (const load_case& c : cases) {
        scan_outcome out = scan(c.text);
        EXPECT_EQ(out.error_code, -1) << c.text << ": " << out.report;
        EXPECT_EQ(out.text, c.molded) << c.text;
        EXPECT_EQ(type_name(out.first_type), type_name(c.type)) << c.text;
    }
}

TEST_F(lexer_loaders, construction_of_unset_gives_unset) {
    scan_outcome out = scan("#(unset)");
    EXPECT_EQ(out.error_code, -1) << out.report;
    EXPECT_EQ(out.count, 1);
    EXPECT_EQ(out.first_type, TYPE_UNSET);
}

TEST_F(lexer_loaders, loads_strings_and_chars) {
    const load_case cases[] = {
        {"\"abc\"", "\"abc\"", TYPE_STRING},
        {"\"\"", "\"\"", TYPE_STRING},
        // ^(line) and ^/ are both a line feed.
        {"\"a^(line)b^/c\"", "\"a^/b^/c\"", TYPE_STRING},
        {"\"^(tab)^-^(TAB)\"", "\"^-^-^-\"", TYPE_STRING},
        {"\"^(null)^@\"", "\"^@^@\"", TYPE_STRING},
        {"\"^(back)^(page)^(esc)^(del)\"", "\"^H^L^[^~\"", TYPE_STRING},
        {"\"^a^Z^[\"", "\"^A^Z^[\"", TYPE_STRING},
        {"\"^\"^^^{^}^~\"", "{\"^^{}^~}", TYPE_STRING},
        {"\"^x^!\"", "\"^X!\"", TYPE_STRING},
        {"\"^(41)^(0042)^(000043)\"", "\"ABC\"", TYPE_STRING},
        {"\"^(e9)\"", "\"é\"", TYPE_STRING},
        {"{a{b}c}", "\"a{b}c\"", TYPE_STRING},
        {"{a^}b}", "\"a}b\"", TYPE_STRING},
        {"{line^/two}", "\"line^/two\"", TYPE_STRING},
        {"%{a}b}%", "\"a}b\"", TYPE_STRING},
        // The text may hold "}" followed by fewer percent signs than the opening run.
        {"%%{a}% b}%%", "\"a}% b\"", TYPE_STRING},
        {"%{no ^/ escapes}%", "\"no ^^/ escapes\"", TYPE_STRING},
        {"#\"a\"", "#\"a\"", TYPE_CHAR},
        {"#\"^/\"", "#\"^/\"", TYPE_CHAR},
        {"#\"^(tab)\"", "#\"^-\"", TYPE_CHAR},
        {"#\"^(1F600)\"", "#\"\xF0\x9F\x98\x80\"", TYPE_CHAR},
        {"#\"\xC3\xA9\"", "#\"\xC3\xA9\"", TYPE_CHAR},
        {"#\"^\"\"", "#\"^\"\"", TYPE_CHAR},
    };
    for (const load_case& c : cases) {
        scan_outcome out = scan(c.text);
        EXPECT_EQ(out.error_code, -1) << c.text << ": " << out.report;
        EXPECT_EQ(out.text, c.molded) << c.text;
        EXPECT_EQ(type_name(out.first_type), type_name(c.type)) << c.text;
    }
}

// The unit width follows the widest character; a hex escape asks for the width its digit
// count can need, and every escape counts as one character.
TEST_F(lexer_loaders, string_units_and_lengths) {
    struct shape_case {
        const char* text;
        uint32_t unit;
        int64_t length;
    };
    const shape_case cases[] = {
        {"\"abc\"", 1, 3},
        {"\"a^/b^(line)\"", 1, 4},
        {"\"^(1F600)\"", 4, 1},
        {"\"x^(1F600)y\"", 4, 3},
        {"\"^(20AC)\"", 2, 1},
        {"\"^(0041)\"", 2, 1},
        {"\"\xE2\x82\xAC\"", 2, 1},
        {"\"\xF0\x9F\x98\x80 \"", 4, 2},
        {"{a\nb}", 1, 3},
    };
    for (const shape_case& c : cases) {
        auto [unit, length] = string_shape(c.text);
        EXPECT_EQ(unit, c.unit) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
    }
    // The wide string keeps its character.
    scan_outcome out = scan("\"^(1F600)\"");
    EXPECT_EQ(out.text, "\"\xF0\x9F\x98\x80\"");
}

// --- Errors --------------------------------------------------------------------------------------------

struct error_case {
    const char* text;
    const char* report;  // the first line of the printed error
};

TEST_F(lexer_loaders, invalid_tokens_report_their_type) {
    const error_case cases[] = {
        {"1''0", "*** Syntax Error: (line 1) invalid integer at 1''0"},
        {"1.256.3", "*** Syntax Error: (line 1) invalid tuple at 1.256.3"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "*** Syntax Error: (line 1) invalid tuple at 1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"1.5x2", "*** Syntax Error: (line 1) invalid pair at 1.5x2"},
        {"Fh", "*** Syntax Error: (line 1) invalid word at Fh"},
        {"1h", "*** Syntax Error: (line 1) invalid integer at 1h"},
        {"123456789h", "*** Syntax Error: (line 1) invalid integer at 123456789h"},
        {"'a:", "*** Syntax Error: (line 1) invalid lit-word at 'a:"},
        {"#\"ab\"", "*** Syntax Error: (line 1) invalid char at #\"ab\""},
        {"#\"^(110000)\"", "*** Syntax Error: (line 1) invalid char at #\"^(110000)\""},
        {"#\"^(DFFF)\"", "*** Syntax Error: (line 1) invalid char at #\"^(DFFF)\""},
        // Escapes beyond the last code point, surrogates, seven digits, unknown names.
        {"\"^(110000)\"", "*** Syntax Error: (line 1) invalid string at \"^(110000)\""},
        {"\"^(D800)\"", "*** Syntax Error: (line 1) invalid string at \"^(D800)\""},
        {"\"a^(DC00)\"", "*** Syntax Error: (line 1) invalid string at \"a^(DC00)\""},
        {"\"^(0000041)\"", "*** Syntax Error: (line 1) invalid string at \"^(0000041)\""},
        {"\"^(foo)\"", "*** Syntax Error: (line 1) invalid string at \"^(foo)\""},
        {"\"^()\"", "*** Syntax Error: (line 1) invalid string at \"^()\""},
        {"{^(FFFFFF)}", "*** Syntax Error: (line 1) invalid string at {^(FFFFFF)}"},
        {"%{a}%%", "*** Syntax Error: (line 1) invalid string at %{a}%%"},
        {"2.#INF", "*** Syntax Error: (line 1) invalid float at 2.#INF"},
        {"1.#INFO", "*** Syntax Error: (line 1) invalid float at 1.#INFO"},
        {"2#{0101}", "*** Syntax Error: (line 1) invalid binary at 2#{0101}"},
        {"#{ABC}", "*** Syntax Error: (line 1) invalid binary at #{ABC}"},
        {"#{GG}", "*** Syntax Error: (line 1) invalid binary at #{GG}"},
        {"8#{00}", "*** Syntax Error: (line 1) invalid binary at 8#{00}"},
        {"64#{A}", "*** Syntax Error: (line 1) invalid binary at 64#{A}"},
        {"30-Feb-2000", "*** Syntax Error: (line 1) invalid date at 30-Feb-2000"},
        {"2000-13-01", "*** Syntax Error: (line 1) invalid date at 2000-13-01"},
        {"1-Foo-2000", "*** Syntax Error: (line 1) invalid date at 1-Foo-2000"},
        {"1-1-2000/25:00", "*** Syntax Error: (line 1) invalid date at 1-1-2000/25:00"},
        {"$1.123456", "*** Syntax Error: (line 1) invalid money at $1.123456"},
        {"$1234567890123456789", "*** Syntax Error: (line 1) invalid money at $1234567890123456789"},
        {"a/b:c", "*** Syntax Error: (line 1) invalid word at b:c"},
        {"#(foo)", "*** Syntax Error: (line 1) invalid construction spec at #(foo)"},
        {"#(true!)", "*** Syntax Error: (line 1) invalid construction spec at #(true!)"},
    };
    for (const error_case& c : cases) {
        scan_outcome out = scan(c.text);
        EXPECT_EQ(out.report, c.report) << c.text << " loaded as " << out.text;
    }
}

// The number readers also take what the state machine never hands them as one token (it
// ends a number at a comma): the check-only pass of a loader is called directly here.
TEST_F(lexer_loaders, float_readers_check_their_text) {
    struct check_case {
        int token_class;
        std::string text;
        bool valid;
    };
    const std::string longest = "1." + std::string(310, '5');
    const check_case cases[] = {
        {lexer::TOKEN_FLOAT, "1,5", true},
        {lexer::TOKEN_FLOAT, "1'000,5", true},
        {lexer::TOKEN_FLOAT, "1,,5", false},
        {lexer::TOKEN_FLOAT, "1e", false},
        {lexer::TOKEN_FLOAT, "1.5e-3", true},
        {lexer::TOKEN_FLOAT, longest, true},
        {lexer::TOKEN_FLOAT, longest + "5", false},
        // A percent token ends at its "%".
        {lexer::TOKEN_PERCENT, "1.5e-3%", true},
        {lexer::TOKEN_PERCENT, "1,5%", true},
        {lexer::TOKEN_PERCENT, "1.5.%", false},
    };
    for (const check_case& c : cases) {
        const auto* text = reinterpret_cast<const uint8_t*>(c.text.data());
        const uint8_t* end = text + c.text.size();
        lexer::state s;
        s.callback = cell{TYPE_NONE, 0, 0, 0};
        s.source = cell{TYPE_NONE, 0, 0, 0};
        s.input_start = s.position = text;
        s.input_end = end;
        s.load_mode = 0;
        s.token_type = c.token_class == lexer::TOKEN_FLOAT ? TYPE_FLOAT : TYPE_PERCENT;
        const uint8_t* token_end = c.token_class == lexer::TOKEN_PERCENT ? end - 1 : end;
        bool valid = true;
        try {
            lexer::token_loader(c.token_class)(s, text, token_end, 0, false);
        } catch (const lexer::quiet_stop&) {
            valid = false;
        }
        EXPECT_EQ(valid, c.valid) << c.text;
        if (valid) {
            EXPECT_EQ(s.position, end) << c.text;  // past the "%" of a percent
        } else {
            EXPECT_EQ(s.token_type, TYPE_ERROR) << c.text;
        }
    }
}

// A word may be followed by ":" only as the last step of a set-path.
TEST_F(lexer_loaders, colon_after_a_word_ends_a_path) {
    scan_outcome path = scan("a/b:");
    EXPECT_EQ(path.error_code, -1) << path.report;
    EXPECT_EQ(type_name(path.first_type), "set-path!");
    EXPECT_EQ(path.text, "a/b:");
    scan_outcome get = scan("a/:b");
    EXPECT_EQ(get.text, "a/:b");
}

// --- Scanning ------------------------------------------------------------------------------------------

// /scan reports the token's type without loading it, also for the types whose values
// cannot be made yet; a bad token reports error!.
TEST_F(lexer_loaders, scan_reports_types) {
    struct scan_case {
        const char* text;
        const char* type;
    };
    const scan_case cases[] = {
        {"#{}", "binary!"},
        {"#{0F a0 ; comment\n 12}", "binary!"},
        {"2#{01010101 11110000}", "binary!"},
        {"64#{QUJD}", "binary!"},
        {"64#{QQ==}", "binary!"},
        {"2#{0101}", "error!"},
        {"%file.txt", "file!"},
        {"%\"a file\"", "file!"},
        {"http://host/path", "url!"},
        {"<tag attr>", "tag!"},
        {"name@host.org", "email!"},
        {"@ref", "ref!"},
        {"1-Jan-2000", "date!"},
        {"1-January-2000", "date!"},
        {"29-Feb-2000", "date!"},
        {"29-Feb-2001", "error!"},
        {"2000-01-02", "date!"},
        {"1/2/2000", "date!"},
        {"2000-01-02T10:20:30Z", "date!"},
        {"2000-01-02/10:20:30.5+01:00", "date!"},
        {"20000102T1020", "date!"},
        {"2000-W52-7", "date!"},
        {"2000-W54", "error!"},
        {"2000-366", "date!"},
        {"2001-366", "error!"},
        {"$1", "money!"},
        {"-$1'000.12345", "money!"},
        {"USD$12", "money!"},
        {"$1''0", "error!"},
        {"(1, 2)", "point2D!"},
        {"(1.5, -2, 3e2)", "point3D!"},
        {"(1.#INF, 2)", "point2D!"},
        {"1x2", "pair!"},
        {"1.5x2", "error!"},
        {"2147483648", "float!"},
        {"1''0", "error!"},
        {"a:", "set-word!"},
        {"#(true)", "logic!"},
    };
    for (const scan_case& c : cases) {
        scan_outcome out = scan(c.text, true);
        EXPECT_EQ(out.error_code, -1) << c.text << ": " << out.report;
        EXPECT_EQ(out.type, TYPE_DATATYPE) << c.text;
        EXPECT_EQ(out.text, c.type) << c.text;
    }
}

// --- Binding and flags -----------------------------------------------------------------------------------

// A loaded word and the runtime's own word of the name share one global value slot, in
// every spelling of the name.
TEST_F(lexer_loaders, words_bind_to_the_global_slot) {
    stack::stack_guard guard;
    cell* made = stack::push_copy(word::make_global_from_name("lexer-loaders-probe"));
    cell value{TYPE_INTEGER, 0, 42, 0};
    word::set_value(made, &value);
    for (const char* text : {"lexer-loaders-probe", "LEXER-Loaders-Probe", "lexer-loaders-probe:"}) {
        std::string source = text;
        cell* string = string::load_from_bytes(unicode::input_bytes::at(source.data()),
                                               static_cast<int64_t>(source.size()), nullptr, string::ENCODING_UTF8);
        cell* result = stack::push_slot();
        cell::init_unset(result);
        int64_t consumed = 0;
        lexer::scan_string(result, string, -1, lexer::scan_request{}, &consumed);
        cell* loaded = stack::push_copy(memory::buffer_of(result->w2)->head_cell());
        ASSERT_EQ(loaded->w1, context::global) << text;
        EXPECT_EQ(word::get_value(loaded)->w2, 42u) << text;
    }
}

// A braced string carries the new-line flag when it began on a new line, whatever lines
// it spans itself.
TEST_F(lexer_loaders, braced_string_new_line_flag) {
    struct flag_case {
        const char* text;
        bool flagged;
    };
    const flag_case cases[] = {{"{a}", false}, {"\n{a}", true}, {"{a\nb}", false}, {"1 {a\n\nb}", false}};
    for (const flag_case& c : cases) {
        stack::stack_guard guard;
        std::string source = c.text;
        cell* string = string::load_from_bytes(unicode::input_bytes::at(source.data()),
                                               static_cast<int64_t>(source.size()), nullptr, string::ENCODING_UTF8);
        cell* result = stack::push_slot();
        cell::init_unset(result);
        int64_t consumed = 0;
        lexer::scan_string(result, string, -1, lexer::scan_request{}, &consumed);
        memory::series_buffer* b = memory::buffer_of(result->w2);
        cell* last = b->tail_cell() - 1;
        ASSERT_TRUE(last->is(TYPE_STRING)) << c.text;
        EXPECT_EQ((last->header & FLAG_NEW_LINE) != 0, c.flagged) << c.text;
    }
}

// --- Raw string events ---------------------------------------------------------------------------------

// A raw string tells a callback where it opens and closes, once, whether or not the
// callback also asked for the scan event that makes the lexer check the token first.
class lexer_loaders_events : public interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        std::string spec(natives::spec_of(natives::NATIVE_TRANSCODE)->spec_text);
        define_callable("transcode", TYPE_NATIVE, natives::NATIVE_TRANSCODE, spec.substr(1, spec.size() - 2));
        reset_stack();
    }

    cell* read(const std::string& text) {
        cell* source = string::load_onto_stack(unicode::input_bytes::at(text.data()), int64_t(text.size()),
                                               string::ENCODING_UTF8);
        cell* result = stack::push_slot();
        lexer::scan_string(result, source, -1, {}, nullptr);
        *source = *result;
        stack::drop_slots(1);
        return source;
    }

    void define_callback(const char* name, const std::string& body) {
        cell* spec_block = read("event input type line token");
        cell* body_block = read(body);
        function::push_new(spec_block, body_block, 0, 0, 0, function::check_spec(spec_block));
        set_global(name, stack::last_slot());
        reset_stack();
    }

    std::string run(const std::string& code) {
        stack::stack_guard guard;
        cell* block = read(code);
        cell* result = stack::state.args_top;
        EXPECT_EQ(eval::eval_block(block, false), 0u);
        return mold_of(result);
    }
};

TEST_F(lexer_loaders_events, raw_strings_fire_open_and_close_once) {
    struct event_case {
        const char* filter;
        std::vector<std::string> events;
    };
    const event_case cases[] = {
        {"[open close load]", {"open", "1x3", "close", "6x8", "load", "\"a}b\""}},
        {"[open close scan load]", {"open", "1x3", "close", "6x8", "scan", "1x8", "load", "\"a}b\""}},
    };
    for (const event_case& c : cases) {
        logged.clear();
        define_callback("events", std::string(c.filter) + " tlog event tlog token #(true)");
        EXPECT_EQ(run("transcode/trace \"%{a}b}%\" :events"), "[\"a}b\"]") << c.filter;
        EXPECT_EQ(logged, c.events) << c.filter;
    }
}

}  // namespace
}  // namespace zor::testing
