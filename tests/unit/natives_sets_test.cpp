// The set natives (unique, union, intersect, exclude, difference, complement?) and the
// text and series conversion natives (dehex, enhex, debase, enbase, uppercase, lowercase,
// new-line, new-line?, as), run through the interpreter as the language calls them: each
// test is a table of code and the molded result or the error it raises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::raised;

// The natives under test.
constexpr int NATIVES[] = {natives::NATIVE_UNION, natives::NATIVE_INTERSECT, natives::NATIVE_UNIQUE,
    natives::NATIVE_DIFFERENCE, natives::NATIVE_EXCLUDE, natives::NATIVE_COMPLEMENT_Q, natives::NATIVE_DEHEX,
    natives::NATIVE_ENHEX, natives::NATIVE_UPPERCASE, natives::NATIVE_LOWERCASE, natives::NATIVE_DEBASE,
    natives::NATIVE_NEW_LINE, natives::NATIVE_NEW_LINE_Q, natives::NATIVE_ENBASE, natives::NATIVE_AS};

// A spec without its type blocks: the natives test their arguments' types by their own
// typesets when the interpreter calls them, so the blocks would only name typesets that
// these tests do not define.
std::string untyped(std::string_view spec) {
    std::string words;
    int depth = 0;
    for (char c : spec.substr(1, spec.size() - 2)) {
        if (c == '[') ++depth;
        else if (c == ']') --depth;
        else if (depth == 0) words += c;
    }
    return words;
}

class NativesSetsTest : public testing::interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        for (int index : NATIVES) {
            const natives::spec_entry* entry = natives::spec_of(index);
            testing::define_callable(entry->name, TYPE_NATIVE, index, untyped(entry->spec_text));
        }
        testing::define_callable("type?", TYPE_NATIVE, natives::NATIVE_TYPE_Q, "value /word");
        testing::define_callable("same?", TYPE_NATIVE, natives::NATIVE_SAME_Q, "value1 value2");
        testing::define_callable("make", TYPE_ACTION, ACTION_MAKE, "type spec");
        testing::define_callable("to", TYPE_ACTION, ACTION_TO, "type spec");
        testing::define_callable("at", TYPE_ACTION, ACTION_AT, "series index");
        testing::define_callable("next", TYPE_ACTION, ACTION_NEXT, "series");
        testing::define_callable("head", TYPE_ACTION, ACTION_HEAD, "series");
        testing::define_callable("tail", TYPE_ACTION, ACTION_TAIL, "series");
        testing::define_callable("index?", TYPE_ACTION, ACTION_INDEX_Q, "series");
        testing::define_callable("pick", TYPE_ACTION, ACTION_PICK, "series index");
        testing::define_callable("copy", TYPE_ACTION, ACTION_COPY, "value /part length /deep /types kind");
        testing::define_callable("insert", TYPE_ACTION, ACTION_INSERT, "series value /part length /only /dup count");
        reset_stack();
    }

    struct result_case {
        const char* code;
        const char* expected;  // the molded result
    };
    void expect_results(const std::vector<result_case>& cases) {
        for (const result_case& c : cases) {
            SCOPED_TRACE(c.code);
            EXPECT_EQ(evaluate(c.code), c.expected);
            reset_stack();
        }
    }

    struct error_case {
        const char* code;
        err id;
        const char* arg1;  // molded; null: not looked at
        const char* arg2;
    };
    void expect_errors(const std::vector<error_case>& cases) {
        for (const error_case& c : cases) {
            SCOPED_TRACE(c.code);
            raised r = raise_of(c.code);
            EXPECT_EQ(r.code, error_catalogue::code_of(c.id));
            if (c.arg1) {
                EXPECT_EQ(r.arg1, c.arg1);
            }
            if (c.arg2) {
                EXPECT_EQ(r.arg2, c.arg2);
            }
            reset_stack();
        }
    }

    // The value of a global word.
    cell* global(const char* name) {
        cell* w = word::push_global(symbol::make(name));
        return stack::push_copy(word::get_value(w));
    }

    // The new-line markers of the cells of a global block, from its head: "1" marked.
    std::string markers(const char* name) {
        cell* list = global(name);
        std::string text;
        memory::series_buffer* b = memory::buffer_of(list->w2);
        for (cell* c = b->head_cell(); c < b->tail_cell(); ++c) text += (c->header & FLAG_NEW_LINE) ? '1' : '0';
        reset_stack();
        return text;
    }

    // Sets a global word to a series cell of a type whose module does not exist yet,
    // made from a string: enough for the natives that read only its text.
    void define_retyped_string(const char* name, const char* text, type_id type) {
        cell* made = string::load_onto_stack(unicode::input_bytes::at(text), int64_t(std::strlen(text)),
                                             string::ENCODING_UTF8);
        cell::set_type(made, type);
        testing::set_global(name, made);
        reset_stack();
    }

    // Sets a global word to a value on a new byte series (binary! and bitset! alike), with
    // extra buffer flags and an index.
    void define_bytes(const char* name, type_id type, const std::vector<uint8_t>& bytes, uint32_t flags = 0,
                      uint32_t index = 0) {
        cell* made = stack::push_slot();
        cell::init_unset(made);
        made->w2 = memory::alloc_series(std::max<int64_t>(int64_t(bytes.size()), 1), 1, 0);
        memory::series_buffer* b = memory::buffer_of(made->w2);
        for (size_t i = 0; i < bytes.size(); ++i) b->head[i] = std::byte(bytes[i]);
        b->tail = b->head + bytes.size();
        b->flags |= flags;
        made->w1 = index;
        made->header = type;
        testing::set_global(name, made);
        reset_stack();
    }
};

// --- Sets --------------------------------------------------------------------------------------

TEST_F(NativesSetsTest, SetOperationsOnBlocks) {
    expect_results({
        {"unique [1 2 2 3 1]", "[1 2 3]"},
        {"union [1 2] [2 3]", "[1 2 3]"},
        {"intersect [1 2 3] [2 3 4]", "[2 3]"},
        {"exclude [1 2 3] [2]", "[1 3]"},
        {"difference [1 2 3] [2 3 4]", "[1 4]"},
        {"union [] []", "[]"},
        // The first set is read from its index.
        {"union next [1 2] [3]", "[2 3]"},
        // Without /case "a" and "A" are one value.
        {"unique [\"a\" \"A\"]", "[\"a\"]"},
        {"unique/case [\"a\" \"A\"]", "[\"a\" \"A\"]"},
        {"intersect/case [\"a\" \"B\"] [\"A\" \"B\"]", "[\"B\"]"},
        // Records of two cells, kept by their first cell.
        {"union/skip [a 1 b 2] [a 3 c 4] 2", "[a 1 b 2 c 4]"},
        {"unique/skip [a 1 a 2 b 3] 2", "[a 1 b 3]"},
        {"exclude/skip [a 1 b 2 c 3] [b 9] 2", "[a 1 c 3]"},
        {"union/case/skip [a 1 A 2] [a 3] 2", "[a 1 A 2]"},
        // A block! and a hash! combine; a hash! on either side makes a hash!.
        {"union [1 2] make hash! [2 3]", "make hash! [1 2 3]"},
        {"intersect make hash! [1 2 3] [3 1]", "make hash! [1 3]"},
        {"type? unique make hash! [1 1]", "hash!"},
        {"type? difference [1] [2]", "block!"},
    });
}

TEST_F(NativesSetsTest, SetOperationsOnStrings) {
    expect_results({
        {"union \"abc\" \"bcd\"", "\"abcd\""},
        {"intersect \"abc\" \"bcd\"", "\"bc\""},
        {"exclude \"abc\" \"b\"", "\"ac\""},
        {"difference \"abc\" \"bcd\"", "\"ad\""},
        {"unique \"aAbBa\"", "\"ab\""},
        {"unique/case \"aAbBa\"", "\"aAbB\""},
        {"union/skip \"a1b2\" \"a3c4\" 2", "\"a1b2c4\""},
        {"unique next \"aab\"", "\"ab\""},
    });
}

TEST_F(NativesSetsTest, SetOperationsOnTypesets) {
    expect_results({
        {"union make typeset! [integer!] make typeset! [string!]", "make typeset! [string! integer!]"},
        {"intersect make typeset! [integer! string!] make typeset! [string! block!]", "make typeset! [string!]"},
        {"exclude make typeset! [integer! string!] make typeset! [string!]", "make typeset! [integer!]"},
        {"difference make typeset! [integer! string!] make typeset! [string! block!]",
         "make typeset! [block! integer!]"},
    });
}

TEST_F(NativesSetsTest, SetsMustAgreeInType) {
    expect_errors({
        // script/expect-val names the second set's datatype, then the first's.
        {"union [1] \"a\"", err::script_expect_val, "string!", "block!"},
        {"intersect \"a\" [1]", err::script_expect_val, "block!", "string!"},
        {"exclude make hash! [1] \"a\"", err::script_expect_val, "string!", "hash!"},
        {"difference make typeset! [integer!] [1]", err::script_expect_val, "block!", "typeset!"},
        // Types outside the specs.
        {"union 1 2", err::script_expect_arg, "union", "integer!"},
        {"unique make typeset! [integer!]", err::script_expect_arg, "unique", "typeset!"},
        // The /skip size is the set modules' to check.
        {"unique/skip [1 2] 0", err::script_invalid_refine_arg, nullptr, nullptr},
        {"union/skip \"ab\" \"cd\" -1", err::script_invalid_refine_arg, nullptr, nullptr},
    });
}

TEST_F(NativesSetsTest, BitsetsAndDates) {
    // The test notation writes neither bitsets nor dates; their cells are made directly.
    define_bytes("plain", TYPE_BITSET, {0x80});
    define_bytes("complemented", TYPE_BITSET, {0x80}, memory::FLAG_COMPLEMENT);
    cell late{TYPE_DATE, 0, 0, 0};
    date::make_at(&late, 2020, 1, 2, true, 3600.0, 0);
    testing::set_global("late", &late);
    cell early{TYPE_DATE, 0, 0, 0};
    date::make_at(&early, 2020, 1, 1, true, 23 * 3600.0, 0);
    testing::set_global("early", &early);
    reset_stack();
    expect_results({
        {"complement? plain", "false"},
        {"complement? complemented", "true"},
        {"type? union plain plain", "bitset!"},
        // The difference of two dates is the time between them.
        {"difference late early", "2:00:00"},
        {"difference early late", "-2:00:00"},
    });
    expect_errors({
        {"complement? [1]", err::script_expect_arg, "complement?", "block!"},
        // Only difference takes two dates.
        {"union early late", err::script_expect_arg, "union", "date!"},
        {"difference early [1]", err::script_expect_val, "block!", "date!"},
    });
}

// --- Percent-coding ------------------------------------------------------------------------------

TEST_F(NativesSetsTest, Dehex) {
    expect_results({
        {"dehex \"a%20b\"", "\"a b\""},
        {"dehex \"%41\"", "\"A\""},
        {"dehex \"%c3%a9\"", "\"\u00E9\""},
        {"dehex \"%E2%82%AC!\"", "\"\u20AC!\""},
        {"dehex \"%F0%9F%98%80\"", "\"\U0001F600\""},
        // A lead byte without its escaped continuation stays text.
        {"dehex \"%C3x\"", "\"%C3x\""},
        {"dehex \"%C3%A\"", "\"%C3%A\""},
        // An escaped sequence that is no UTF-8 character: the % stays, the next escape decodes.
        {"dehex \"%C3%28\"", "\"%C3(\""},
        // A byte that leads no sequence is a code point of its own.
        {"dehex \"%80\"", "\"^(80)\""},
        {"dehex \"%ZZ%4\"", "\"%ZZ%4\""},
        {"dehex \"100%\"", "\"100%\""},
        {"dehex next \"%41\"", "\"41\""},
        {"dehex \"\"", "\"\""},
    });
}

TEST_F(NativesSetsTest, Enhex) {
    define_retyped_string("link", "http://a.b/c d?e=\xC3\xA9", TYPE_URL);
    expect_results({
        {"enhex \"a b&c\"", "\"a%20b%26c\""},
        {"enhex \"-._~AZaz09\"", "\"-._~AZaz09\""},
        {"enhex \"/:?#@\"", "\"%2F%3A%3F%23%40\""},
        {"enhex \"\u00E9\u20AC\"", "\"%C3%A9%E2%82%AC\""},
        {"enhex next \"ab\"", "\"b\""},
        {"dehex enhex \"x y\u00E9\"", "\"x y\u00E9\""},
        // The other string types keep the url punctuation.
        {"enhex link", "\"http://a.b/c%20d?e=%C3%A9\""},
    });
    expect_errors({
        {"enhex 1", err::script_expect_arg, "enhex", "integer!"},
        {"dehex [a]", err::script_expect_arg, "dehex", "block!"},
    });
}

// --- Base codecs ---------------------------------------------------------------------------------

TEST_F(NativesSetsTest, Enbase) {
    define_bytes("bytes", TYPE_BINARY, {0x00, 0x01});
    define_bytes("rest", TYPE_BINARY, {0x00, 0x01}, 0, 1);
    expect_results({
        {"enbase \"abc\"", "\"YWJj\""},
        {"enbase \"ab\"", "\"YWI=\""},
        {"enbase \"a\"", "\"YQ==\""},
        {"enbase \"\"", "\"\""},
        {"enbase next \"abc\"", "\"YmM=\""},
        {"enbase/base \"abc\" 64", "\"YWJj\""},
        {"enbase/base \"abc\" 16", "\"616263\""},
        // A string is encoded as UTF-8.
        {"enbase/base \"\u00E9\" 16", "\"C3A9\""},
        {"enbase/base \"a\" 2", "\"01100001\""},
        {"enbase/base \"abc\" 58", "\"ZiCa\""},
        {"enbase/base bytes 58", "\"12\""},
        {"enbase/base rest 16", "\"01\""},
    });
    expect_errors({
        {"enbase/base \"abc\" 10", err::script_invalid_arg, "10", nullptr},
        {"enbase/base \"abc\" -64", err::script_invalid_arg, "-64", nullptr},
        {"enbase 12", err::script_expect_arg, "enbase", "integer!"},
    });
}

TEST_F(NativesSetsTest, Debase) {
    expect_results({
        // Text that is not valid in the base gives none.
        {"debase \"!!!!\"", "none"},
        {"debase \"Y===\"", "none"},
        {"debase/base \"0G\" 16", "none"},
        {"debase/base \"0110000\" 2", "none"},
        {"debase/base \"Zi0a\" 58", "none"},
        {"debase \"YWJj\"", "#{616263}"},
        {"debase/base \"ff\" 16", "#{FF}"},
    });
    expect_errors({
        {"debase/base \"YWJj\" 10", err::script_invalid_arg, "10", nullptr},
        {"debase/base \"YWJj\" 0", err::script_invalid_arg, "0", nullptr},
        {"debase 1", err::script_expect_arg, "debase", "integer!"},
    });
}

// --- Case ----------------------------------------------------------------------------------------

TEST_F(NativesSetsTest, UppercaseAndLowercase) {
    expect_results({
        {"uppercase \"abc\"", "\"ABC\""},
        {"lowercase \"ABC\"", "\"abc\""},
        {"uppercase \"\u00E9t\u00E9\"", "\"\u00C9T\u00C9\""},
        {"uppercase/part \"abcd\" 2", "\"ABcd\""},
        {"lowercase/part \"ABCD\" 0", "\"ABCD\""},
        // From the index, and the same series comes back.
        {"head uppercase next \"abc\"", "\"aBC\""},
        {"s: \"xy\" same? s uppercase s", "true"},
        {"s: \"abcd\" uppercase/part s at s 3", "\"ABcd\""},
        {"uppercase pick \"q\" 1", "#\"Q\""},
        {"lowercase pick \"\u00C9\" 1", "#\"\u00E9\""},
    });
    expect_errors({
        {"uppercase 1", err::script_expect_arg, "uppercase", "integer!"},
        {"lowercase [a]", err::script_expect_arg, "lowercase", "block!"},
    });
}

// --- New-line markers ----------------------------------------------------------------------------

TEST_F(NativesSetsTest, NewLineMarkers) {
    struct marker_case {
        const char* code;  // run on b: [1 2 3 4 5 6 7] with every marker clear
        const char* markers;
    };
    const marker_case cases[] = {
        {"new-line b true", "1000000"},
        {"new-line next b true", "0100000"},
        {"new-line tail b true", "0000000"},
        {"new-line/all b true", "1111111"},
        {"new-line/all next next b true", "0011111"},
        {"new-line/skip b true 1", "1111111"},
        {"new-line/skip b true 2", "1010101"},
        {"new-line/skip b false 2", "0101010"},
        {"new-line/skip b false 3", "0110110"},
        {"new-line/skip at b 3 true 2", "0010101"},
        {"new-line/all b true new-line at b 4 false", "1110111"},
        {"new-line/all b true new-line/all b false", "0000000"},
    };
    for (const marker_case& c : cases) {
        SCOPED_TRACE(c.code);
        evaluate("b: [1 2 3 4 5 6 7]");
        reset_stack();
        evaluate(c.code);
        reset_stack();
        EXPECT_EQ(markers("b"), c.markers);
    }
    // The result is the position; new-line? reads the marker at the position.
    expect_results({
        {"b: [1 2 3] index? new-line next b true", "2"},
        {"b: [1 2 3] new-line next b true new-line? next b", "true"},
        {"b: [1 2 3] new-line next b true new-line? b", "false"},
        {"b: [1 2 3] new-line/all b true new-line? tail b", "false"},
        {"p: make hash! [1 2] new-line next p true new-line? next p", "true"},
        {"b: [1 2] new-line? as paren! new-line b true", "true"},
    });
    expect_errors({
        {"new-line/skip [1 2] true 0", err::script_out_of_range, "0", nullptr},
        {"new-line/skip [1 2] false -2", err::script_out_of_range, "-2", nullptr},
        {"new-line \"ab\" true", err::script_expect_arg, "new-line", "string!"},
        {"new-line [1] 1", err::script_expect_arg, "new-line", "integer!"},
    });
}

// --- as --------------------------------------------------------------------------------------------

TEST_F(NativesSetsTest, As) {
    expect_results({
        {"as paren! [a b]", "(a b)"},
        {"as path! [a b]", "a/b"},
        {"as set-path! [a b]", "a/b:"},
        {"as get-path! [a b]", ":a/b"},
        {"as lit-path! [a b]", "'a/b"},
        {"as block! 'a/b", "[a b]"},
        {"as paren! next [1 2]", "(2)"},
        {"as string! \"abc\"", "\"abc\""},
        {"as file! \"a b\"", "%\"a b\""},
        {"as url! \"a b\"", "a%20b"},
        {"as tag! \"a\"", "<a>"},
        {"as email! \"a@b\"", "a@b"},
        {"as ref! \"a\"", "@a"},
        // The type may be given by a value of it.
        {"as [x] 'a/b", "[a b]"},
        {"as \"x\" \"abc\"", "\"abc\""},
        // The same series, shared: a change through one is seen through the other.
        {"b: [1 2] p: as paren! b insert tail p 3 b", "[1 2 3]"},
        {"b: [1 2] same? b as block! as paren! b", "true"},
    });
    expect_errors({
        {"as string! [a]", err::script_not_same_class, "block!", "string!"},
        {"as block! \"a\"", err::script_not_same_class, "string!", "block!"},
        {"as hash! [a]", err::script_not_same_class, "block!", "hash!"},
        {"as make hash! [] [a]", err::script_expect_arg, "as", "hash!"},
        {"as integer! [a]", err::script_not_same_class, "block!", "integer!"},
        {"as block! make hash! [a]", err::script_expect_arg, "as", "hash!"},
        {"as 1 [a]", err::script_expect_arg, "as", "integer!"},
    });
}

}  // namespace
}  // namespace zor
