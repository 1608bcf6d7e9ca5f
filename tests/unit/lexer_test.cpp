// The lexer's machine: structure (blocks, parens, paths, braced strings, comments),
// new-line flags, Unicode blanks, syntax errors with their exact report, the scan modes
// and their consumed counts, the transcode native, and /trace callbacks (events, their
// answers, nested scans, errors inside them, collections while a scan waits on one).
// The literal forms themselves are the loaders' (lexer_loaders_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/value/code-registry.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/interpreter_fixture.h"
#include "runtime/value/upcalls.h"

namespace zor::testing {
namespace {

// The natives-table position of the test's own collect native.
constexpr int COLLECT_NATIVE = natives::NATIVE_COUNT + 1;

uint32_t collect_now(const natives::native_invocation&) {
    gc::collect();
    stack::clear_frame_args();
    cell::init_unset(stack::result_slot());
    stack::keep_result_slot();
    return 0;
}

cell* push_text(const std::string& text) {
    return string::load_onto_stack(unicode::input_bytes::at(text.data()), int64_t(text.size()), string::ENCODING_UTF8);
}

// The first line of an error's report.
std::string report_line(cell* error) {
    cell* out = string::push_empty();
    error::form_report(error, out, nullptr, 1 << 20);
    std::string report = string::to_utf8(out);
    stack::drop_slots(1);
    return report.substr(0, report.find('\n'));
}

enum class mode { load, one, scan, prescan };

lexer::scan_request request_for(mode m) {
    lexer::scan_request r;
    r.single = m == mode::one || m == mode::scan;
    r.scan = m == mode::scan;
    r.prescan = m == mode::prescan;
    return r;
}

struct outcome {
    std::string mold;      // the result's mold, or the error report's first line
    int64_t consumed = -1;
};

// Scans the text as a string! source; errors come back as their report's first line.
outcome scan(const std::string& text, mode m = mode::load) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        cell* source = push_text(text);
        cell* result = stack::push_slot();
        int64_t consumed = -1;
        lexer::scan_string(result, source, -1, request_for(m), &consumed);
        return {mold_of(result), consumed};
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        return {report_line(stack::last_slot()), -1};
    }
}

// A binary! of the bytes (a hand-made cell: the datatype has no module yet).
cell* push_binary(const std::string& bytes) {
    cell* slot = stack::push_slot();
    node_ref node = memory::alloc_bytes(int64_t(bytes.size()));
    memory::series_buffer* buffer = memory::buffer_of(node);
    std::memcpy(buffer->head, bytes.data(), bytes.size());
    buffer->tail = buffer->head + bytes.size();
    *slot = cell{TYPE_BINARY, 0, node, 0};
    return slot;
}

// Scans the bytes of a binary! source.
outcome scan_bytes(const std::string& bytes, mode m = mode::load) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        cell* source = push_binary(bytes);
        cell* result = stack::push_slot();
        int64_t consumed = -1;
        lexer::scan_binary(result, source, -1, request_for(m), &consumed);
        return {mold_of(result), consumed};
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        return {report_line(stack::last_slot()), -1};
    }
}

// Scans the text in load mode, raising what the scan raises.
void load_or_raise(const std::string& text) {
    cell* source = push_text(text);
    lexer::scan_string(stack::push_slot(), source, -1, {}, nullptr);
    stack::drop_slots(2);
}

// The new-line flags of a block's cells, "+" flagged and "-" not, nested blocks and
// parens in brackets.
std::string new_line_flags(const cell* block) {
    std::string flags;
    memory::series_buffer* buffer = memory::buffer_of(block->w2);
    for (int64_t i = 0; i < buffer->length(); ++i) {
        const cell c = buffer->head_cell()[i];
        flags += (c.header & FLAG_NEW_LINE) ? '+' : '-';
        if (c.is(TYPE_BLOCK) || c.is(TYPE_PAREN)) flags += "[" + new_line_flags(&c) + "]";
    }
    return flags;
}

class lexer_test : public interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        std::string spec(natives::spec_of(natives::NATIVE_TRANSCODE)->spec_text);
        define_callable("transcode", TYPE_NATIVE, natives::NATIVE_TRANSCODE, spec.substr(1, spec.size() - 2));
        define_callable("skip", TYPE_ACTION, ACTION_SKIP, "series offset");
        define_callable("index?", TYPE_ACTION, ACTION_INDEX_Q, "series");
        define_callable("pick", TYPE_ACTION, ACTION_PICK, "series index");
        natives::set_entry(COLLECT_NATIVE, &collect_now);
        define_callable("collect-now", TYPE_NATIVE, COLLECT_NATIVE, "");
        reset_stack();
    }

    // Reads code with the lexer itself (the notation reader has no braces or comments).
    cell* read(const std::string& text) {
        cell* source = push_text(text);
        cell* result = stack::push_slot();
        lexer::scan_string(result, source, -1, {}, nullptr);
        *source = *result;
        stack::drop_slots(1);
        return source;
    }

    void define_callback(const char* name, const std::string& spec, const std::string& body) {
        cell* spec_block = read(spec);
        cell* body_block = read(body);
        function::push_new(spec_block, body_block, 0, 0, 0, function::check_spec(spec_block));
        set_global(name, stack::last_slot());
        reset_stack();
    }

    // Evaluates code read by the lexer; an error comes back as its report's first line.
    std::string run(const std::string& code) {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            cell* block = read(code);
            cell* result = stack::state.args_top;
            uint32_t exit = eval::eval_block(block, false);
            EXPECT_EQ(exit, 0u);
            return mold_of(result);
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            return report_line(stack::last_slot());
        }
    }
};

// --- Structure ---------------------------------------------------------------------------------

TEST_F(lexer_test, structure_loads_as_nested_values) {
    struct { const char* text; const char* mold; } cases[] = {
        {"", "[]"},
        {" \t\r\n\x01\x0B\x1F" "1", "[1]"},  // blanks, line feeds and control bytes are skipped
        {"[1 2 [3]] (a b)", "[[1 2 [3]] (a b)]"},
        {"[]()[[]]", "[[] () [[]]]"},
        {"a/b/c: x", "[a/b/c: x]"},
        {"'a/b :a/(b c)/d e", "['a/b :a/(b c)/d e]"},
        {"a/1/\"s\"/(x) b", "[a/1/\"s\"/(x) b]"},
        {"[a/b]", "[[a/b]]"},  // "]" ends the path and then the block
        {"{abc {d} e}", "[\"abc {d} e\"]"},
        {"{a\nb} {}", "[\"a^/b\" \"\"]"},
        {"; comment\na ; another\n; and one at the end", "[a]"},
        {"1 \0 2", "[1]"},  // NUL ends the input
    };
    for (const auto& c : cases) {
        std::string text(c.text, c.text == std::string("1 \0 2") ? 5 : std::strlen(c.text));
        EXPECT_EQ(scan(text).mold, c.mold) << "text: " << c.text;
    }
}

TEST_F(lexer_test, paths_take_their_type_from_their_decorations) {
    struct { const char* text; type_id type; } cases[] = {
        {"a/b", TYPE_PATH}, {"a/b/c:", TYPE_SET_PATH}, {"'a/b", TYPE_LIT_PATH}, {":a/b", TYPE_GET_PATH},
        {"a/(b):", TYPE_SET_PATH},
    };
    for (const auto& c : cases) {
        cell* block = read(c.text);
        ASSERT_EQ(block::rest_length(block), 1) << c.text;
        EXPECT_EQ(block::get_cell(block, 0)->type(), c.type) << c.text;
        memory::series_buffer* path = memory::buffer_of(block::get_cell(block, 0)->w2);
        EXPECT_TRUE(path->head_cell()[0].is(TYPE_WORD)) << "a path's head is a word: " << c.text;
    }
}

TEST_F(lexer_test, unicode_blanks_end_words_and_a_word_of_them_is_no_token) {
    struct { const char* text; const char* mold; } cases[] = {
        {"a\u00A0\u00A0 b", "[a b]"},
        {"\u00A0\u00A0", "[]"},
        {"\u00A0 \u3000 \u2000", "[]"},
        {"a\u3000b", "[a b]"},
        {"\u00A0" "123", "[123]"},  // read again after the blank: a number, not a word
        {"x\u200By", "[x y]"},
        {"caf\u00E9", "[caf\u00E9]"},  // other characters stay in the word
    };
    for (const auto& c : cases) EXPECT_EQ(scan(c.text).mold, c.mold) << "text: " << c.text;

    const uint32_t blanks[] = {0x85, 0xA0, 0x1680, 0x180E, 0x2000, 0x2005, 0x200A, 0x200B,
                               0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    for (uint32_t b : blanks) EXPECT_TRUE(lexer::is_unicode_blank(b)) << std::hex << b;
    const uint32_t others[] = {0x20, 0x84, 0x86, 0x9F, 0x1681, 0x200C, 0x2027, 0x3001, 0xFEFF, 0x10FFFF};
    for (uint32_t o : others) EXPECT_FALSE(lexer::is_unicode_blank(o)) << std::hex << o;

    const std::string word = "ab\u2028cd";
    const uint8_t* start = reinterpret_cast<const uint8_t*>(word.data());
    EXPECT_EQ(lexer::scan_word_end(start, start + word.size()), start + 2);
    EXPECT_EQ(lexer::scan_word_end(start, start + 2), start + 2);
}

TEST_F(lexer_test, new_line_flags_mark_values_after_a_line_break) {
    struct { const char* text; const char* flags; } cases[] = {
        {"a\nb c\n[\nd e]", "-+-+[+-]"},
        {"\n1", "+"},
        {"a ; comment\nb", "-+"},
        {"a {x\ny} z", "---"},     // a line break inside a braced string flags nothing
        {"a\n{x\ny} z", "-+-"},    // a braced string that began on a new line is flagged
        {"a/b\nc", "-+"},
        {"x\n\u00A0 y", "-+"},     // the break before a skipped blank word still counts
        {"[\n]", "-[]"},
    };
    for (const auto& c : cases) EXPECT_EQ(new_line_flags(read(c.text)), c.flags) << "text: " << c.text;
}

// --- Errors ----------------------------------------------------------------------------------------

TEST_F(lexer_test, syntax_errors_report_line_kind_and_text) {
    struct { const char* text; const char* report; } cases[] = {
        {"[1 2", "*** Syntax Error: (line 1) missing ] at [1 2"},
        {"1 2]", "*** Syntax Error: (line 1) missing [ at ]"},
        {"(1]", "*** Syntax Error: (line 1) missing ) at ]"},
        {"[1)", "*** Syntax Error: (line 1) missing ] at )"},
        {"[1 2\n", "*** Syntax Error: (line 1) missing ] at [1 2"},
        {"a\n[1\n2", "*** Syntax Error: (line 2) missing ] at [1"},  // the line and text of the "["
        {"[a (b", "*** Syntax Error: (line 1) missing ) at (b"},      // the innermost is missing
        {"'a/b:", "*** Syntax Error: (line 1) invalid path at 'a/b:"},
        {":a/b:", "*** Syntax Error: (line 1) invalid path at :a/b:"},
        {"a/", "*** Syntax Error: (line 1) invalid path at a/"},
        {"x\na/\n", "*** Syntax Error: (line 2) invalid path at a/"},
        {"a/ b", "*** Syntax Error: (line 1) invalid path at a/ b"},
        {"a/b/", "*** Syntax Error: (line 1) invalid path at a/b/"},
        {"}", "*** Syntax Error: (line 1) invalid character at }"},
        {"{abc", "*** Syntax Error: (line 1) invalid string at {abc"},
        {"\n{a\nbc", "*** Syntax Error: (line 2) invalid string at {a"},
        {"x {a {b}", "*** Syntax Error: (line 1) invalid string at {a {b}"},
        {"1, 2", "*** Syntax Error: (line 1) invalid point2D at , 2"},
        {"(x , 1)", "*** Syntax Error: (line 1) missing ( at )"},  // a comma made it a point
        {"#[a 1 b]", "*** Syntax Error: (line 1) invalid map at #[a 1 b]"},
        {"[abcdefghijabcdefghijabcdefghijabcdefghij", "*** Syntax Error: (line 1) missing ] at [abcdefghijabcdefghijabcdefghi"},
    };
    for (const auto& c : cases) EXPECT_EQ(scan(c.text).mold, c.report) << "text: " << c.text;
}

TEST_F(lexer_test, syntax_errors_carry_their_catalogue_arguments) {
    stack::push_try_frame();
    try {
        load_or_raise("  [1 2");
        FAIL() << "no error";
    } catch (const zor_throw&) {
        cell* e = stack::last_slot();
        EXPECT_EQ(error::code_of(e), 201);  // syntax/missing
        EXPECT_EQ(mold_of(error::field_of(e, error::FIELD_ARG1)), "\"(line 1)\"");
        EXPECT_EQ(mold_of(error::field_of(e, error::FIELD_ARG2)), "#\"]\"");
        EXPECT_EQ(mold_of(error::field_of(e, error::FIELD_ARG3)), "\"[1 2\"");
    }
}

TEST_F(lexer_test, a_map_literal_loads_as_a_map) {
    EXPECT_EQ(raised_code([&] { load_or_raise("#[a 1]"); }), -1);
    EXPECT_EQ(scan("#[a 1] 2", mode::scan).mold, "map!");
}

// --- Scan modes --------------------------------------------------------------------------------------

TEST_F(lexer_test, single_value_and_scan_modes_stop_after_the_first_value) {
    struct { const char* text; mode m; const char* mold; int64_t consumed; } cases[] = {
        {"", mode::one, "unset", 0},
        {"1 2", mode::one, "1", 1},
        {"  [1 2] 3", mode::one, "[1 2]", 7},
        {"; c\n 1 2", mode::one, "1", 6},
        {"a/b c", mode::one, "a/b", 3},
        {"{a} b", mode::one, "\"a\"", 3},
        {"\u00E9t\u00E9 1", mode::one, "\u00E9t\u00E9", 3},  // consumed counts characters
        {"", mode::scan, "none", 0},
        {"1 2", mode::scan, "integer!", 1},
        {"[1 2] 3", mode::scan, "block!", 5},
        {"[1 2", mode::scan, "none", 4},       // still open at the end
        {"a/b: 1", mode::scan, "set-path!", 4},
        {"1x2y 3", mode::scan, "error!", 4},  // the bad token runs to the next blank
        {"1''0", mode::scan, "error!", 4},    // the loader checks the token
        {"]", mode::scan, "error!", 1},
        {"'a/b:", mode::scan, "error!", 4},
        {"1''0", mode::prescan, "integer!", 4},  // prescan only guesses from the machine
        {"[1 1x2y] 2", mode::prescan, "block!", 8},
        {"{a [} 2", mode::prescan, "string!", 5},
        {"1 2", mode::load, "[1 2]", 3},
    };
    for (const auto& c : cases) {
        outcome o = scan(c.text, c.m);
        EXPECT_EQ(o.mold, c.mold) << "text: " << c.text;
        EXPECT_EQ(o.consumed, c.consumed) << "text: " << c.text;
    }
}

TEST_F(lexer_test, texts_hand_over_through_the_runtime_hooks) {
    cell* out = stack::push_slot();
    cell::init_unset(out);
    const std::string pair_text = "1x2 3";
    ASSERT_TRUE(upcalls::scan_text(pair_text.data(), int64_t(pair_text.size()), out));
    EXPECT_EQ(mold_of(out), "1x2");
    EXPECT_FALSE(upcalls::scan_text("  ; nothing", 11, out));

    cell* block = read("0");
    cell* text = push_text("1 [2]");
    text->w1 = 2;  // from the index: "[2]"
    upcalls::scan_string(text, block);
    EXPECT_EQ(mold_of(block), "[0 [2]]");
}

TEST_F(lexer_test, large_texts_and_many_values_grow_the_buffers) {
    // More values than the output buffer starts with, in a text larger than the work buffer.
    std::string text = "; " + std::string(120000, 'c') + "\n";
    for (int i = 0; i < 1500; ++i) text += "[" + std::to_string(i) + "] ";
    cell* block = read(text);
    ASSERT_EQ(block::rest_length(block), 1500);
    EXPECT_EQ(mold_of(block::get_cell(block, 1499)), "[1499]");
}

// --- The transcode native ------------------------------------------------------------------------------

TEST_F(lexer_test, transcode_refinements) {
    struct { const char* code; const char* result; } cases[] = {
        {"transcode {1 [2]}", "[1 [2]]"},
        {"transcode {}", "[]"},
        {"transcode/next {1 2}", "[1 \" 2\"]"},
        {"transcode/next {}", "[unset \"\"]"},
        {"transcode/one {1 2}", "1"},
        {"transcode/scan {1 2}", "integer!"},
        {"transcode/scan {}", "unset"},
        {"transcode/prescan {  }", "none"},
        {"transcode/scan/next {[1 2] 3}", "[block! \" 3\"]"},
        {"transcode/part {1 2 3} 3", "[1 2]"},
        {"transcode/part {1 2 3} -1", "[]"},
        {"transcode/part {1 2 3} 99", "[1 2 3]"},
        {"transcode/next skip {1 2 3} 2", "[2 \" 3\"]"},
        {"transcode/into {2 3} [1]", "[1 2 3]"},
        {"transcode {[1 2}", "*** Syntax Error: (line 1) missing ] at [1 2"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
}

TEST_F(lexer_test, bytes_that_are_no_utf8_are_reported_not_loaded) {
    struct { const char* bytes; const char* report; } cases[] = {
        {"a\xFF b", "*** Syntax Error: (line 1) invalid word at a\uFFFD b"},
        {"1 \xC0", "*** Syntax Error: (line 1) invalid character at \uFFFD"},
        {"[\xF8\x88\x80\x80\x80]", "*** Syntax Error: (line 1) invalid character at \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD]"},
    };
    for (const auto& c : cases) EXPECT_EQ(scan_bytes(c.bytes).mold, c.report) << "bytes: " << c.bytes;
    EXPECT_EQ(scan_bytes("caf\xC3\xA9 1").consumed, 7) << "a binary's consumed count is in bytes";
    // A bad head word ends its path at once: the scan reports the error, not an open path.
    EXPECT_EQ(scan_bytes("a\xC3/b c", mode::scan).mold, "error!");
}

TEST_F(lexer_test, transcode_of_utf8_bytes_skips_a_byte_order_mark) {
    set_global("utf8", push_binary("\xEF\xBB\xBF" "1 ab"));

    EXPECT_EQ(run("transcode utf8"), "[1 ab]");
    // The rest of the input is the binary after the value, in bytes past the mark.
    cell* block = read("rest: pick transcode/next utf8 2");
    ASSERT_EQ(eval::eval_block(block, false), 0u);
    cell* rest = stack::last_slot();
    ASSERT_TRUE(rest->is(TYPE_BINARY));
    EXPECT_EQ(static_cast<int32_t>(rest->w1), 4);
}

// --- Callbacks -----------------------------------------------------------------------------------------

TEST_F(lexer_test, a_callback_hears_every_event) {
    define_callback("trace", "event input type line token", "tlog event tlog type tlog line tlog token tlog index? input #(true)");
    EXPECT_EQ(run("transcode/trace {a [\"x\"] ; c\n b/c: {y}} :trace"), "[a [\"x\"] b/c: \"y\"]");
    // Event, type, line, token range (or the loaded value), index of the input. A comment
    // has no datatype: system/lexer/exit-states names it, and the unit tests run without
    // the boot environment's system object, so its type is none here.
    const std::vector<std::string> expected = {
        "prescan", "word!", "1", "1x2", "2",      "scan", "word!", "1", "1x2", "2",
        "load", "word!", "1", "a", "2",           "prescan", "block!", "1", "3x4", "4",
        "open", "block!", "1", "3x4", "3",        "prescan", "string!", "1", "4x7", "7",
        "scan", "string!", "1", "4x7", "7",       "load", "string!", "1", "\"x\"", "7",
        "prescan", "block!", "1", "7x8", "8",     "close", "block!", "1", "7x8", "8",
        "prescan", "none", "1", "9x12", "12",     "scan", "none", "1", "9x12", "12",
        "prescan", "path!", "2", "14x16", "16",   "open", "path!", "2", "14x14", "14",
        "scan", "word!", "2", "14x15", "15",      "load", "word!", "2", "b", "15",
        "prescan", "word!", "2", "16x17", "17",   "scan", "word!", "2", "16x17", "17",
        "load", "word!", "2", "c", "17",          "close", "set-path!", "2", "17x18", "18",
        "prescan", "string!", "2", "19x20", "20", "open", "string!", "2", "19x20", "19",
        "close", "string!", "2", "19x22", "22",   "scan", "string!", "2", "19x22", "22",
        "load", "string!", "2", "\"y\"", "22",
    };
    EXPECT_EQ(logged, expected);
}

// A routine callback: logs each event and its type, and answers false to the load of an
// integer.
cell* routine_callback(cell* arguments) {
    static cell answer;
    logged.push_back(mold_of(&arguments[0]) + " " + mold_of(&arguments[2]));
    bool drop = word::is_any_word_type(arguments[0].type()) &&
                arguments[0].w2 == static_cast<uint32_t>(words::load.symbol()) && arguments[4].is(TYPE_INTEGER);
    answer = cell{TYPE_LOGIC, drop ? 0u : 1u, 0, 0};
    return &answer;
}

TEST_F(lexer_test, a_routine_may_be_the_callback) {
    int32_t code = code_registry::register_code("lexer-test-callback",
                                                reinterpret_cast<code_registry::code>(&routine_callback));
    cell* made = routine::push_new(read("event input type line token"), nullptr, code, 0, true);
    set_global("by-routine", made);
    EXPECT_EQ(run("transcode/trace {a 1} :by-routine"), "[a]");
    const std::vector<std::string> expected = {"prescan word!", "scan word!", "load word!",
                                               "prescan integer!", "scan integer!", "load integer!"};
    EXPECT_EQ(logged, expected);
}

TEST_F(lexer_test, a_callback_filters_events_with_the_first_block_of_its_body) {
    define_callback("errors", "event input type line token", "[error] tlog event tlog type tlog token #(false)");
    EXPECT_EQ(run("transcode/trace {1 1x2y 3 ^}} :errors"), "[1 3]");
    const std::vector<std::string> expected = {"error", "pair!", "3x7", "error", "error!", "10x11"};
    EXPECT_EQ(logged, expected);
}

TEST_F(lexer_test, callback_answers_steer_the_scan) {
    // False to load drops the value.
    define_callback("no-twos", "event input type line token", "[load] either token = 2 [#(false)] [#(true)]");
    EXPECT_EQ(run("transcode/trace {1 2 [2 3]} :no-twos"), "[1 [3]]");
    // False to an error goes on after the bad token; what is open at the end closes.
    define_callback("lenient", "event input type line token", "[error] #(false)");
    EXPECT_EQ(run("transcode/trace {a 1x2y b} :lenient"), "[a b]");
    EXPECT_EQ(run("transcode/trace {[1 (2} :lenient"), "[[1 (2)]]");
    EXPECT_EQ(run("transcode/trace {a/b/} :lenient"), "[a/b]");
    // True lets the error be raised.
    define_callback("strict", "event input type line token", "[error] #(true)");
    EXPECT_EQ(run("transcode/trace {a 1x2y} :strict"), "*** Syntax Error: (line 1) invalid pair at 1x2y");
    // False to prescan skips the token.
    define_callback("no-blocks", "event input type line token", "[prescan] either type = #(block!) [#(false)] [#(true)]");
    EXPECT_EQ(run("transcode/trace {1 [2] 3} :no-blocks"), "[1 2 3]");
}

TEST_F(lexer_test, a_callback_may_move_the_input) {
    define_callback("hop", "event input type line token", "[prescan] if type = #(integer!) [input: skip input 2] #(true)");
    EXPECT_EQ(run("transcode/trace {ab 123 cd} :hop"), "[ab 123 d]");
}

TEST_F(lexer_test, a_callback_may_transcode_again) {
    // Loading x scans a text with y in it, and loading y one more.
    define_callback("nested", "event input type line token",
                    "[load] if token = 'x [tlog transcode/trace {1 [y 2] 3} :nested] "
                    "if token = 'y [tlog transcode/trace {4 5} :nested] #(true)");
    EXPECT_EQ(run("transcode/trace {a x [b]} :nested"), "[a x [b]]");
    const std::vector<std::string> expected = {"[4 5]", "[1 [y 2] 3]"};
    EXPECT_EQ(logged, expected);
    EXPECT_EQ(lexer::active_scan_count(), 0);
}

TEST_F(lexer_test, an_error_inside_a_callback_ends_every_scan_it_passes) {
    define_callback("inner-fails", "event input type line token", "[load] transcode {[} #(true)");
    define_callback("outer", "event input type line token", "[load] transcode/trace {1} :inner-fails #(true)");
    EXPECT_EQ(run("transcode/trace {a b} :outer"), "*** Syntax Error: (line 1) missing ] at [");
    EXPECT_EQ(lexer::active_scan_count(), 0);
    define_callback("unset-word", "event input type line token", "no-such-word");
    EXPECT_EQ(run("transcode/trace {a} :unset-word"), "*** Script Error: no-such-word has no value");
    EXPECT_EQ(lexer::active_scan_count(), 0);
    EXPECT_EQ(run("transcode {x [y]}"), "[x [y]]");
}

TEST_F(lexer_test, values_waiting_in_the_output_buffer_survive_collections) {
    // Each load collects while the values read so far, strings and blocks among them, wait
    // in the output buffer; the collector must keep and relocate them.
    define_callback("collecting", "event input type line token", "[load] collect-now #(true)");
    std::string text;
    std::string expected = "[";
    for (int i = 0; i < 50; ++i) {
        text += "\"s" + std::to_string(i) + "\" [a" + std::to_string(i) + " \"t\"] ";
        expected += "\"s" + std::to_string(i) + "\" [a" + std::to_string(i) + " \"t\"] ";
    }
    expected.back() = ']';
    cell* source = push_text(text);
    set_global("big", source);
    EXPECT_EQ(run("transcode/trace big :collecting"), expected);
}

}  // namespace
}  // namespace zor::testing
