// The parse engine seen from C++: what only C++ can observe. A parse allocates nothing
// per matched character (the bytes in use after parsing a long text are those after a
// short one), and both of its stacks are back at their earlier depth after every kind of
// ending: success, failure, a raised error, an exit out of an action.
//
// Rules are read from the interpreter tests' notation (tests/unit/code_notation.h);
// the Zor-level behaviour of the dialect is covered by tests/scripts/parse-*.zor.
#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/parse/parse.h"
#include "runtime/memory/memory-stats.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::read_code;

class ParseTest : public testing::interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        cell* spec = string::push_empty();
        string::append_c_string(spec, "abcdefghijklmnopqrstuvwxyz");
        testing::set_global("letters", bitset::make_from_spec(spec, false));
        // exit, bound with its real spec block from the natives' spec data.
        for (int i = 1; i <= natives::NATIVE_COUNT; ++i) {
            const natives::spec_entry* e = natives::spec_of(i);
            if (std::string(e->name) != "exit") continue;
            const std::string spec_text(e->spec_text);
            testing::define_callable("exit", TYPE_NATIVE, i, spec_text.substr(1, spec_text.size() - 2));
        }
        reset_stack();
    }

    // A text of n characters: words of five letters between single spaces.
    static cell* push_text(int n) {
        cell* text = string::push_empty();
        std::string s;
        for (int i = 0; i < n; ++i) s.push_back(i % 6 == 5 ? ' ' : char('a' + i % 26));
        string::append_c_string(text, s.c_str());
        return text;
    }

    // Runs the rules over the input; answers the molded result, or "error" or "exit".
    std::string run(cell* input, cell* rules) {
        stack::stack_guard guard;
        stack::push_try_frame();
        // A function body for an exit out of an action to land in.
        stack::push_call_frame(nullptr);
        stack::set_body_flag(true);
        parse::request r;
        r.input = stack::push_copy(input);
        r.rules = stack::push_copy(rules);
        cell* result = stack::push_slot();
        try {
            const uint32_t code = parse::run(r, result);
            if (code) {
                stack::pending_code = 0;
                return "exit";
            }
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            return "error";
        }
        return testing::mold_of(result);
    }

    static double bytes_in_use() {
        cell* slot = stack::push_slot();
        const double bytes = memory::report_stats(slot, memory::STATS_BYTES_IN_USE);
        stack::drop_slots(1);
        return bytes;
    }
};

TEST_F(ParseTest, AllocatesNothingPerMatchedCharacter) {
    cell* rules = read_code("any [some letters | \"x\" | skip]");
    cell* short_text = push_text(100);
    cell* long_text = push_text(200000);
    gc::enabled = 0;  // nothing is reclaimed meanwhile: every allocation shows
    ASSERT_EQ(run(short_text, rules), "true");  // the stacks reach their working size
    const double before_short = bytes_in_use();
    ASSERT_EQ(run(short_text, rules), "true");
    const double short_cost = bytes_in_use() - before_short;
    const double before_long = bytes_in_use();
    ASSERT_EQ(run(long_text, rules), "true");
    const double long_cost = bytes_in_use() - before_long;
    EXPECT_EQ(short_cost, long_cost);
}

TEST_F(ParseTest, StacksAreRestoredHoweverAParseEnds) {
    struct ending {
        const char* rules;
        const char* answer;
    };
    const ending endings[] = {
        {"some [letters] to end", "true"},
        {"[[[\"q\"]]]", "false"},
        {"collect [keep some letters [[[unknown-word]]]]", "error"},
        {"collect [keep some letters [some]]", "error"},
        {"any [collect [keep skip (exit)]]", "exit"},
        {"[[[collect [keep skip] [(1 / 0)]]]]", "error"},
    };
    cell* text = push_text(30);
    for (const ending& e : endings) {
        const int64_t rules_before = parse::rule_stack_depth();
        const int64_t collects_before = parse::collect_stack_depth();
        EXPECT_EQ(run(text, read_code(e.rules)), e.answer) << e.rules;
        EXPECT_EQ(parse::rule_stack_depth(), rules_before) << e.rules;
        EXPECT_EQ(parse::collect_stack_depth(), collects_before) << e.rules;
    }
}

}  // namespace
}  // namespace zor
