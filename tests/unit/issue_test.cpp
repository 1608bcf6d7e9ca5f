// issue!: making issues from strings, characters and words, the predefined issue, mold,
// form and the comparison that keeps issues apart from words.
#include <gtest/gtest.h>

#include <string>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::raise_of;

class IssueTest : public testing::stack_fixture {
protected:
    cell* make(cell* spec) {
        cell target{TYPE_DATATYPE, TYPE_ISSUE, 0, 0};
        return stack::push_copy(issue::make(&target, spec, TYPE_ISSUE));
    }
    cell* element(const std::string& text) { return stack::push_copy(block::get_cell(code(text), 0)); }
    std::string name_of(const cell* issue) { return std::string(symbol::name_of(static_cast<int32_t>(issue->w2))); }
};

TEST_F(IssueTest, MakeFromStringsCharactersAndWords) {
    struct make_case {
        const char* spec;
        int32_t index;  // for a string
        const char* name;
        const char* mold;
    };
    const make_case cases[] = {
        {"\"abc\"", 0, "abc", "#abc"},
        {"\"abc\"", 1, "bc", "#bc"},  // from the string's index
        {"\"a b\"", 0, "a b", "#a b"},  // no scanning: any text names an issue
        {"\"\xC3\xA9t\xC3\xA9\"", 0, "\xC3\xA9t\xC3\xA9", "#\xC3\xA9t\xC3\xA9"},
        {"word", 0, "word", "#word"},
        {"set:", 0, "set", "#set"},
        {"'lit", 0, "lit", "#lit"},
        {":get", 0, "get", "#get"},
        {"/refinement", 0, "refinement", "#refinement"},
        {"#issue", 0, "issue", "#issue"},
        {"integer!", 0, "integer!", "#integer!"},  // a datatype, as word! make takes it
    };
    for (const make_case& c : cases) {
        SCOPED_TRACE(c.mold);
        cell* spec = element(c.spec);
        spec->w1 = c.spec[0] == '"' ? static_cast<uint32_t>(c.index) : spec->w1;
        cell* made = make(spec);
        EXPECT_EQ(made->type(), TYPE_ISSUE);
        EXPECT_EQ(name_of(made), c.name);
        EXPECT_EQ(molded(made), c.mold);
        EXPECT_EQ(testing::formed(made), c.name);
    }
    cell character{TYPE_CHAR, 0, 0x20AC, 0};
    cell* spec = stack::push_copy(&character);
    EXPECT_EQ(molded(make(spec)), "#\xE2\x82\xAC");
}

TEST_F(IssueTest, AWordBecomesAnIssueKeepingItsBindingNotItsFlags) {
    cell* word = element("set-me:");
    word->header |= FLAG_NEW_LINE;
    cell* made = make(word);
    EXPECT_EQ(made->header, uint32_t(TYPE_ISSUE)) << "the whole header is replaced";
    EXPECT_EQ(made->w1, word->w1);
    EXPECT_EQ(made->w2, word->w2);
    EXPECT_EQ(made->w3, word->w3);
    // push-word keeps the other header bits.
    cell* pushed = issue::push_word(word);
    EXPECT_EQ(pushed->header, FLAG_NEW_LINE | TYPE_ISSUE);
    // to issue! is the same routine.
    EXPECT_EQ(type_registry::handler_of(TYPE_ISSUE, ACTION_TO), type_registry::handler_of(TYPE_ISSUE, ACTION_MAKE));
}

TEST_F(IssueTest, OtherValuesAreRefusedAsWordMakeRefusesThem) {
    const char* refused[] = {"12", "1.5", "none", "[a]"};
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        cell* spec = element(text);
        EXPECT_EQ(raise_of([&] { make(spec); }).code, code_of(err::script_bad_to_arg));
    }
}

TEST_F(IssueTest, IssuesCompareOnlyWithIssues) {
    cell* lower = make(element("\"abc\""));
    cell* upper = make(element("\"ABC\""));
    cell* other = make(element("\"abd\""));
    cell* word = element("abc");
    struct compare_case {
        cell* value;
        cell* other;
        int op;
        int expected;
    };
    const compare_case cases[] = {
        {lower, upper, 0, 0},   // letter case aside
        {lower, upper, 2, 1},   // strictly: different symbols
        {lower, other, 3, -1},  // ordered by name
        {other, lower, 5, 1},
        {lower, word, 0, -2},   // an issue and a word of one name
        {word, lower, 0, -2},
        {lower, lower, 9, 0},
    };
    for (const compare_case& c : cases) {
        EXPECT_EQ(actions::dispatch_compare(c.value, c.other, c.op), c.expected) << "op " << c.op;
    }
}

TEST_F(IssueTest, MoldChargesTheHashAndHonoursThePart) {
    cell* made = make(element("\"abcd\""));
    cell* output = string::push_empty();
    EXPECT_EQ(actions::dispatch_mold(made, output, false, false, false, nullptr, 100, 0), 95);
    cell limit{TYPE_INTEGER, 0, 3, 0};
    string::reset(output);
    int left = actions::dispatch_mold(made, output, false, false, false, &limit, 3, 0);
    EXPECT_EQ(string::to_utf8(output), "#ab");
    EXPECT_EQ(left, 0);
    string::reset(output);
    EXPECT_EQ(actions::dispatch_form(made, output, nullptr, 100), 96);
}

TEST_F(IssueTest, BuildersAndThePredefinedIssue) {
    cell* loaded = issue::load_c_string(stack::push_slot(), "loaded-issue");
    EXPECT_EQ(loaded->header, uint32_t(TYPE_ISSUE));
    EXPECT_EQ(loaded->w1, context::global);
    EXPECT_EQ(loaded->w3, word::INDEX_UNRESOLVED);
    EXPECT_EQ(name_of(loaded), "loaded-issue");
    // After start-up the new issue goes to the stack.
    uint32_t saved = word::startup_collection;
    word::startup_collection = 0;
    cell* top = stack::state.args_top;
    cell* pushed = issue::push_c_string("pushed-issue");
    EXPECT_EQ(pushed, top);
    word::startup_collection = saved;
    // Start-up made #ooo and keeps it in the root block.
    bool found = false;
    memory::series_buffer* root = memory::buffer_of(block::root.w2);
    for (cell* c = root->head_cell(); c < root->tail_cell(); ++c) {
        if (c->is(TYPE_ISSUE) && symbol::name_of(static_cast<int32_t>(c->w2)) == "ooo") found = true;
    }
    EXPECT_TRUE(found);
}

TEST_F(IssueTest, RegistrationRow) {
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        bool handled = a == ACTION_MAKE || a == ACTION_TO || a == ACTION_FORM || a == ACTION_MOLD || a == ACTION_COMPARE;
        EXPECT_EQ(type_registry::handler_of(TYPE_ISSUE, static_cast<action>(a)) != nullptr, handled) << action_names[a - 1];
    }
    EXPECT_EQ(type_registry::handler_of(TYPE_ISSUE, ACTION_FORM), type_registry::handler_of(TYPE_WORD, ACTION_FORM));
}

}  // namespace
}  // namespace zor
