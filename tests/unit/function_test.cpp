// function!: spec checking, the locals that `function` collects, building, cloning, the
// argument section helpers and descriptor cache, and the actions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::raise_of;

class FunctionTest : public testing::stack_fixture {
protected:
    void SetUp() override {
        stack_fixture::SetUp();
        // Words whose values a type block may name.
        cell* type_word = word::push_global(symbol::make("fn-test-type"));
        cell integer_type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
        word::set_value(type_word, &integer_type);
        cell* set_word = word::push_global(symbol::make("fn-test-set"));
        cell numbers;
        typeset::clear(&numbers);
        typeset::add(&numbers, TYPE_INTEGER);
        typeset::add(&numbers, TYPE_FLOAT);
        word::set_value(set_word, &numbers);
        stack::drop_slots(2);
    }

    // make function! [spec body]; answers the slot.
    cell* make_function(const std::string& spec, const std::string& body) {
        cell* argument = code("[" + spec + "] [" + body + "]");
        cell type{TYPE_DATATYPE, TYPE_FUNCTION, 0, 0};
        cell* made = function::make(&type, argument, TYPE_FUNCTION);
        *argument = *made;
        stack::state.args_top = argument + 1;
        return argument;
    }

    // The spec copy that `function` edits, after collecting; and the collected words.
    std::pair<std::string, std::string> collect(const std::string& spec, const std::string& body) {
        cell* spec_copy = code(spec);
        cell* body_block = code(body);
        cell* collected = function::collect_locals(spec_copy, body_block);
        std::pair<std::string, std::string> texts{molded(spec_copy), molded(collected)};
        stack::drop_slots(3);
        return texts;
    }
};

// --- Spec checking -----------------------------------------------------------------------

struct spec_case {
    const char* spec;
    err error;  // err{} (0) when the spec is accepted
    uint32_t flags;
    const char* why;
};

TEST_F(FunctionTest, SpecCheckingAcceptsTheGrammarAndRaisesTheFirstFault) {
    const err ok{};
    const spec_case cases[] = {
        {"a [integer!] \"doc\"", ok, 0, "a doc string follows the type block"},
        {"a \"doc\" [integer!]", err::script_bad_func_def, 0, "a doc string before the type block"},
        {"\"doc\" a \"arg\" /ref \"ref doc\" b [integer!] \"b\" return: [integer!] \"ret\" /local x", ok, 0,
         "doc strings may stand between entries"},
        {"'a :b [block!]", ok, 0, "lit-word and get-word arguments"},
        {"return: [integer!] a", err::script_bad_func_def, 0, "an argument after return:"},
        {"a return: [integer!] /local b", ok, 0, "/local after return:"},
        {"a return: [integer!] /ref", err::script_bad_func_def, 0, "a refinement after return:"},
        {"a return: [integer!] b", err::script_bad_func_def, 0, "return: must be followed by its end"},
        {"a return: integer!", err::script_bad_func_def, 0, "return: takes a type block"},
        {"a return:", err::script_bad_func_def, 0, "return: at the end without its block"},
        {"return: [integer!] return: [integer!]", err::script_bad_func_def, 0, "a second return:"},
        {"a /local b return: [integer!]", err::script_bad_func_def, 0, "return: after /local"},
        {"result: [integer!]", err::script_bad_func_def, 0, "the only set-word is return:"},
        {"RETURN: [integer!]", ok, 0, "return: is recognised in any letter case"},
        {"/local 'a", err::script_bad_func_def, 0, "locals are plain words"},
        {"/local :a", err::script_bad_func_def, 0, "locals are plain words"},
        {"/local a b", ok, 0, "plain locals"},
        {"/local a /ref", err::script_bad_func_def, 0, "a refinement after /local"},
        {"/ref [integer!]", err::script_bad_func_def, 0, "a refinement takes no type block"},
        {"/ref 1", err::script_bad_func_def, 0, "a refinement followed by a number"},
        {"a 1", err::script_bad_func_def, 0, "a number in the spec"},
        {"a a", err::script_dup_vars, 0, "a repeated argument"},
        {"a /a", err::script_dup_vars, 0, "refinements share the arguments' names"},
        {"a /local A", err::script_dup_vars, 0, "names compare in any letter case"},
        {"a /local b /local", err::script_dup_vars, 0, "a second /local"},
        {"[trace] a", ok, function::FLAG_TRACE, "the trace attribute"},
        {"[no-trace]", ok, function::FLAG_NO_TRACE, "the no-trace attribute"},
        {"[trace no-trace]", ok, function::FLAG_TRACE | function::FLAG_NO_TRACE, "both attributes"},
        {"[foo] a", ok, 0, "other attribute words are ignored"},
        {"[1] a", err::script_bad_func_def, 0, "attributes are words"},
        {"a [block!] [trace]", err::script_bad_func_def, 0, "only the first cell can be the attribute block"},
        {"a [fn-test-type fn-test-set]", ok, 0, "words whose values are a datatype and a typeset"},
        {"a [fn-test-unset]", err::script_invalid_type_spec, 0, "a word without a value"},
        {"a [integer! 1]", err::script_invalid_type_spec, 0, "a number in a type block"},
        {"a [\"text\"]", err::script_invalid_type_spec, 0, "a string in a type block"},
        {"", ok, 0, "the empty spec"},
    };
    for (const spec_case& c : cases) {
        SCOPED_TRACE(std::string(c.spec) + ": " + c.why);
        cell* spec = code(c.spec);
        uint32_t flags = 0;
        testing::raised_error raised = raise_of([&] { flags = function::check_spec(spec); });
        if (c.error == ok) {
            EXPECT_EQ(raised.code, -1);
            EXPECT_EQ(flags, c.flags);
        } else {
            EXPECT_EQ(raised.code, code_of(c.error));
        }
        stack::drop_slots(1);
    }
}

TEST_F(FunctionTest, SpecErrorsNameTheSpecTheEntryOrTheRepeatedWord) {
    struct naming_case {
        const char* spec;
        const char* argument;
    };
    const naming_case cases[] = {
        {"a \"doc\" [integer!]", "[a \"doc\" [integer!]]"},  // bad-func-def names the whole spec
        {"a [integer! 12]", "12"},                           // invalid-type-spec names the entry
        {"a b /c b a", "a"},                                 // the first name that comes again
        {"x y /c y", "y"},
    };
    for (const naming_case& c : cases) {
        SCOPED_TRACE(c.spec);
        cell* spec = code(c.spec);
        EXPECT_EQ(raise_of([&] { function::check_spec(spec); }).arg1, c.argument);
        stack::drop_slots(1);
    }
}

TEST_F(FunctionTest, CheckingStartsAtTheSpecIndex) {
    cell* spec = code("a a b");
    spec->w1 = 1;  // from the second a: no repeat
    EXPECT_EQ(raise_of([&] { function::check_spec(spec); }).code, -1);
}

// --- Collecting locals ------------------------------------------------------------------

TEST_F(FunctionTest, FunctionCollectsSetWordsAndLoopWords) {
    struct collect_case {
        const char* spec;
        const char* body;
        const char* spec_after;
        const char* collected;
    };
    const collect_case cases[] = {
        {"", "x: 1 foreach [k v] blk [] repeat i 10 [] remove-each y series [] map-each z series []", "[/local x k v i y]",
         "[x k v i y]"},
        {"a /extern x", "x: 1 y: 2", "[a /local y]", "[y]"},
        {"a", "local: 1", "[a /local]", "[]"},  // `local` is never collected
        {"a", "a: 1 b: 2 b: 3", "[a /local b]", "[b]"},
        {"A", "a: 1", "[A]", "[]"},  // spec names compare in any letter case
        {"a /local b", "c: 1", "[a /local b c]", "[c]"},
        {"a /extern x /local b", "c: 1 x: 2", "[a /local b c]", "[b c]"},
        {"'a :b /r c", "a: b: r: c: d: 1", "['a :b /r c /local d]", "[d]"},
        {"a return: [integer!]", "return: 1 q: 2", "[a return: [integer!] /local q]", "[q]"},
        {"", "(p: 1) [q: 2 [r: 3]]", "[/local p q r]", "[p q r]"},
        {"", "foreach w blk [] foreach w2: blk [] foreach 1 []", "[/local w w2]", "[w w2]"},
        {"", "repeat [i] 10 [] repeat j: 5 []", "[/local j]", "[j]"},
        {"", "remove-each ['a :b c] series []", "[/local a b c]", "[a b c]"},
        {"", "FOREACH [k] b []", "[/local k]", "[k]"},
        {"", "n: 1 foreach", "[/local n]", "[n]"},  // a loop word at the end takes nothing
        {"a", "print a", "[a]", "[]"},
    };
    for (const collect_case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.spec + "] [" + c.body + "]");
        auto [spec_after, collected] = collect(c.spec, c.body);
        EXPECT_EQ(spec_after, c.spec_after);
        EXPECT_EQ(collected, c.collected);
    }
}

TEST_F(FunctionTest, CollectingStopsAtABodyThatContainsItself) {
    cell* spec = code("a");
    cell* body = code("c: 1 [d: 2]");
    block::append_copy(body, body);
    block::append_copy(block::get_cell(body, 2), body);  // and the nested block holds the body
    cell* collected = function::collect_locals(spec, body);
    EXPECT_EQ(molded(spec), "[a /local c d]");
    EXPECT_EQ(molded(collected), "[c d]");
}

TEST_F(FunctionTest, ExternRefusesCellsThatAreNotWords) {
    cell* spec = code("a 1 /extern x");
    cell* body = code("x: 1");
    testing::raised_error raised = raise_of([&] { function::collect_locals(spec, body); });
    EXPECT_EQ(raised.code, code_of(err::script_bad_func_extern));
    EXPECT_EQ(raised.arg1, "1");
    // Without /extern the same cell is left alone.
    cell* plain = code("a 1");
    EXPECT_EQ(raise_of([&] { function::collect_locals(plain, body); }).code, -1);
}

// --- Building ------------------------------------------------------------------------------------

TEST_F(FunctionTest, MakeBuildsTheCellContextAndExtras) {
    cell* f = make_function("a [integer!] /b c", "a + c [nested]");
    ASSERT_TRUE(f->is(TYPE_FUNCTION));
    EXPECT_EQ(molded(f), "func [a [integer!] /b c][a + c [nested]]");
    EXPECT_EQ(testing::formed(f), "?function?");

    node_ref ctx = f->w1;
    EXPECT_EQ(context::kind_of(ctx), context::KIND_FUNCTION);
    EXPECT_TRUE(context::values_on_stack(ctx));
    EXPECT_EQ(context::key_count(ctx), 3);
    EXPECT_EQ(context::self_cell(ctx)->w3, f->w3) << "the self cell holds the function";

    memory::series_buffer* x = memory::buffer_of(f->w3);
    ASSERT_EQ(x->length(), function::EXTRAS_COUNT);
    EXPECT_TRUE(x->head_cell()[function::EXTRAS_BODY].is(TYPE_BLOCK));
    for (int i : {1, 2, 3, 4}) EXPECT_TRUE(x->head_cell()[i].is(TYPE_UNSET)) << i;
    // The body copy is bound to the function context: `a` is key 0, `c` key 2.
    cell* body = function::extras_cell(f, function::EXTRAS_BODY);
    EXPECT_EQ(block::get_cell(body, 0)->w1, ctx);
    EXPECT_EQ(block::get_cell(body, 0)->w3, 0u);
    EXPECT_EQ(block::get_cell(body, 2)->w1, ctx);
    EXPECT_EQ(block::get_cell(body, 2)->w3, 2u);
}

TEST_F(FunctionTest, TheBodyIsADeepCopyAndTheSpecIsSharedAtItsHead) {
    cell* spec = code("a");
    cell* body = code("[x] (y)");
    cell* argument = block::push_empty(2);
    block::append_copy(argument, spec);
    block::append_copy(argument, body);
    cell type{TYPE_DATATYPE, TYPE_FUNCTION, 0, 0};
    cell* f = stack::push_copy(function::make(&type, argument, TYPE_FUNCTION));
    EXPECT_EQ(f->w2, spec->w2) << "a spec at its head is not copied";
    // Changing the source body, deep inside, leaves the function alone.
    cell* nested = stack::push_copy(block::get_cell(body, 0));
    block::append_copy(nested, nested);
    cell* paren = stack::push_copy(block::get_cell(body, 1));
    block::append_copy(paren, spec);
    EXPECT_EQ(molded(f), "func [a][[x] (y)]");
}

TEST_F(FunctionTest, PushNewCopiesASpecPastItsHeadAndClampsIndexes) {
    cell* spec = code("skipped a b");
    spec->w1 = 1;
    cell* body = code("a b");
    body->w1 = 9;  // past the tail: clamped, the copy is empty
    function::push_new(spec, body, 0, 7, 9, function::FLAG_TRACE | 0xFF);
    cell* f = stack::last_slot();
    EXPECT_NE(f->w2, spec->w2);
    EXPECT_EQ(f->header, function::FLAG_TRACE | TYPE_FUNCTION) << "flags cannot overwrite the type";
    EXPECT_EQ(molded(f), "func [a b][]");
    EXPECT_EQ(function::extras_cell(f, function::EXTRAS_CODE)->w2, 7u);
    EXPECT_EQ(function::extras_cell(f, function::EXTRAS_EXTRA)->w2, 9u);
    EXPECT_EQ(context::key_count(f->w1), 2);
}

TEST_F(FunctionTest, ABodyOfNoneIsAcceptedAndMolded) {
    cell* spec = code("a");
    cell none_body{TYPE_NONE, 0, 0, 0};
    function::push_new(spec, &none_body, 0, 3, 0, 0);
    cell* f = stack::last_slot();
    EXPECT_TRUE(function::extras_cell(f, function::EXTRAS_BODY)->is(TYPE_NONE));
    EXPECT_EQ(molded(f), "func [a] none");
    // Any other body is refused.
    cell number{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(raise_of([&] { function::push_new(spec, &number, 0, 0, 0, 0); }).code, code_of(err::script_bad_func_def));
}

TEST_F(FunctionTest, PushNewWithAGivenContextBindsNothing) {
    cell* spec = code("a");
    cell* body = code("a");
    cell* other = code("a");
    node_ref given = context::make_from_words(other, true, false, context::KIND_FUNCTION);
    node_ref answered = function::push_new(spec, body, given, 0, 0, 0);
    cell* f = stack::last_slot();
    EXPECT_EQ(answered, f->w1);
    EXPECT_EQ(context::self_cell(f->w1)->w3, f->w3);
    cell* bound = block::get_cell(function::extras_cell(f, function::EXTRAS_BODY), 0);
    EXPECT_NE(bound->w1, f->w1) << "the body keeps its global binding";
}

TEST_F(FunctionTest, MakeRefusesOtherShapes) {
    const char* shapes[] = {"[a]", "[[a]]", "[[a] 1]", "[1 [a]]", "1", "[[a a] []]", "[[a \"doc\" [integer!]] []]"};
    const err expected[] = {err::script_bad_func_def, err::script_bad_func_def, err::script_bad_func_def,
                            err::script_bad_func_def, err::script_bad_func_def, err::script_dup_vars,
                            err::script_bad_func_def};
    for (size_t i = 0; i < std::size(shapes); ++i) {
        SCOPED_TRACE(shapes[i]);
        cell* argument = stack::push_copy(block::get_cell(code(shapes[i]), 0));
        cell type{TYPE_DATATYPE, TYPE_FUNCTION, 0, 0};
        EXPECT_EQ(raise_of([&] { function::make(&type, argument, TYPE_FUNCTION); }).code, code_of(expected[i]));
        stack::drop_slots(2);
    }
}

// --- Reflection, comparison ------------------------------------------------------------------------

TEST_F(FunctionTest, ReflectAnswersTheSpecSeriesTheBodyAndBoundWords) {
    cell* f = make_function("a /b c", "a");
    cell* spec = stack::push_copy(function::reflect(f, symbols::spec));
    EXPECT_EQ(spec->w2, f->w2);
    EXPECT_EQ(spec->w1, 0u);
    cell* body = stack::push_copy(function::reflect(f, symbols::body));
    EXPECT_EQ(body->w2, function::extras_cell(f, function::EXTRAS_BODY)->w2) << "the body itself, not a copy";
    cell* words = stack::push_copy(function::reflect(f, symbols::words));
    EXPECT_EQ(molded(words), "[a b c]");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(block::get_cell(words, i)->is(TYPE_WORD));
        EXPECT_EQ(block::get_cell(words, i)->w1, f->w1);
        EXPECT_EQ(block::get_cell(words, i)->w3, uint32_t(i));
    }
    EXPECT_EQ(raise_of([&] { function::reflect(f, symbols::class_); }).code, code_of(err::internal_not_done));
}

TEST_F(FunctionTest, FunctionsAreEqualOnlyToThemselves) {
    cell* f = make_function("a", "a");
    cell* g = make_function("a", "a");
    cell* f_copy = stack::push_copy(f);
    cell number{TYPE_INTEGER, 0, 1, 0};
    struct compare_case {
        cell* other;
        int op;
        int expected;
    };
    int order = f->w3 < g->w3 ? -1 : 1;
    const compare_case cases[] = {
        {f_copy, 0, 0}, {f_copy, 2, 0}, {f_copy, 9, 0}, {f_copy, 12, 0}, {g, 0, order}, {g, 1, order},
        {g, 7, order}, {g, 8, order}, {g, 3, -2},  {g, 6, -2},        {g, 10, -2},   {&number, 0, -2},
    };
    for (const compare_case& c : cases) {
        EXPECT_EQ(function::compare(f, c.other, c.op), c.expected) << "op " << c.op;
    }
}

TEST_F(FunctionTest, MoldAndFormChargeThePartBudget) {
    cell* f = make_function("a", "a");
    cell* output = string::push_empty();
    int left = function::mold(f, output, false, false, false, nullptr, 100, 0);
    EXPECT_EQ(string::to_utf8(output), "func [a][a]");
    EXPECT_EQ(left, 100 - 11);
    string::reset(output);
    EXPECT_EQ(function::form(f, output, nullptr, 100), 90);
    cell none_body{TYPE_NONE, 0, 0, 0};
    cell* spec = code("a");
    function::push_new(spec, &none_body, 0, 0, 0, 0);
    string::reset(output);
    EXPECT_EQ(function::mold(stack::last_slot(), output, false, false, false, nullptr, 100, 0), 100 - 13);
}

// --- The argument section -------------------------------------------------------------------------

TEST_F(FunctionTest, CountLocalsAndPushLocals) {
    struct count_case {
        const char* spec;
        int32_t start;
        int32_t relaxed;
        int32_t strict;
    };
    const count_case cases[] = {
        {"a /local b c", 0, 3, 3},  {"a", 0, 0, -1},           {"a /local", 0, 1, 1},
        {"a /local b", 2, 0, -1},   {"/local b /r c", 0, 3, 3}, {"a /LOCAL b", 1, 2, 2},
    };
    for (const count_case& c : cases) {
        SCOPED_TRACE(c.spec);
        cell* spec = code(c.spec);
        EXPECT_EQ(function::count_locals(spec->w2, c.start, false), c.relaxed);
        EXPECT_EQ(function::count_locals(spec->w2, c.start, true), c.strict);
        stack::drop_slots(1);
    }
    cell* before = stack::state.args_top;
    function::push_locals(3);
    ASSERT_EQ(stack::state.args_top, before + 3);
    EXPECT_TRUE(before[0].is(TYPE_LOGIC) && before[0].w1 == 0);
    EXPECT_TRUE(before[1].is(TYPE_NONE) && before[2].is(TYPE_NONE));
    function::push_locals(0);
    EXPECT_EQ(stack::state.args_top, before + 3);
}

TEST_F(FunctionTest, ArgumentDescriptorsDescribeTheSectionAndAreCached) {
    cell* f = make_function("[trace] \"doc\" a [integer!] 'b /only c [fn-test-set] \"c\" return: [block!] /local d e",
                            "a");
    cell* d = function::argument_descriptors(f);
    ASSERT_TRUE(d->is(TYPE_BLOCK));
    EXPECT_EQ(integer::read_cell(block::get_cell(d, 0)), 2) << "positional arguments";
    EXPECT_EQ(integer::read_cell(block::get_cell(d, 1)), 7) << "one section cell per key";
    EXPECT_EQ(context::key_count(f->w1), 7);
    struct pair_case {
        type_id key_type;
        const char* key;
        type_id info_type;
        int count;  // for refinements
    };
    const pair_case pairs[] = {
        {TYPE_WORD, "a", TYPE_TYPESET, 0},        {TYPE_LIT_WORD, "'b", TYPE_TYPESET, 0},
        {TYPE_REFINEMENT, "/only", TYPE_INTEGER, 1}, {TYPE_WORD, "c", TYPE_TYPESET, 0},
        {TYPE_REFINEMENT, "/local", TYPE_INTEGER, 2}, {TYPE_WORD, "d", TYPE_NONE, 0},
        {TYPE_WORD, "e", TYPE_NONE, 0},
    };
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(pairs[i].key);
        // Cells inside a block: read again after molding, which allocates.
        EXPECT_EQ(block::get_cell(d, 2 + 2 * i)->header, uint32_t(pairs[i].key_type));
        EXPECT_EQ(molded(block::get_cell(d, 2 + 2 * i)), pairs[i].key);
        cell* info = block::get_cell(d, 3 + 2 * i);
        EXPECT_EQ(info->type(), pairs[i].info_type);
        if (info->is(TYPE_INTEGER)) {
            EXPECT_EQ(integer::read_cell(info), pairs[i].count);
        }
    }
    cell* a_types = block::get_cell(d, 3);
    EXPECT_TRUE(typeset::has(a_types, TYPE_INTEGER));
    EXPECT_EQ(typeset::count(a_types), 1);
    cell* b_types = block::get_cell(d, 5);
    EXPECT_FALSE(typeset::has(b_types, TYPE_UNSET)) << "the default accepts every type but unset!";
    EXPECT_TRUE(typeset::has(b_types, TYPE_NONE));
    cell* c_types = block::get_cell(d, 9);
    EXPECT_TRUE(typeset::has(c_types, TYPE_FLOAT) && typeset::has(c_types, TYPE_INTEGER));
    // Kept in extras cell 1 and answered from there the next time.
    EXPECT_EQ(function::extras_cell(f, function::EXTRAS_DESCRIPTORS)->w2, d->w2);
    cell* again = function::argument_descriptors(f);
    EXPECT_EQ(again->w2, d->w2);
    cell number{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(raise_of([&] { function::argument_descriptors(&number); }).code, code_of(err::script_invalid_arg));
}

// --- Cloning for objects ------------------------------------------------------------------------

TEST_F(FunctionTest, CloningCopiesTheContextAndRebindsTheBody) {
    cell* fields = code("n");
    node_ref object_context = context::make_from_words(fields, false, true, context::KIND_OBJECT);
    cell* object = stack::push_slot();
    *object = cell{TYPE_OBJECT, object_context, 0, 0};
    cell* spec = code("[trace] a");
    cell* body = code("n + a [n]");
    function::push_new(spec, body, 0, 5, 6, function::FLAG_TRACE);
    cell* original = stack::last_slot();

    cell* clone = function::clone_for_object(original, object);
    EXPECT_TRUE(clone->is(TYPE_FUNCTION));
    EXPECT_EQ(clone->header & function::ATTRIBUTE_MASK, function::FLAG_TRACE);
    EXPECT_EQ(clone->w2, original->w2) << "the same spec";
    EXPECT_NE(clone->w1, original->w1) << "a new context";
    EXPECT_NE(clone->w3, original->w3);
    EXPECT_EQ(context::key_count(clone->w1), 1);
    EXPECT_EQ(context::self_cell(clone->w1)->w3, clone->w3);
    cell* cloned_body = function::extras_cell(clone, function::EXTRAS_BODY);
    EXPECT_NE(cloned_body->w2, function::extras_cell(original, function::EXTRAS_BODY)->w2);
    EXPECT_EQ(block::get_cell(cloned_body, 0)->w1, object->w1) << "n is the object's";
    EXPECT_EQ(block::get_cell(cloned_body, 2)->w1, clone->w1) << "a is the clone's";
    EXPECT_EQ(block::get_cell(block::get_cell(cloned_body, 3), 0)->w1, object->w1) << "bound deep";
    EXPECT_TRUE(function::extras_cell(clone, function::EXTRAS_CODE)->is(TYPE_UNSET)) << "runs interpreted";
    EXPECT_EQ(molded(clone), "func [[trace] a][n + a [n]]");

    // Without interpreted body the compiled code is all there is: it stays.
    cell none_body{TYPE_NONE, 0, 0, 0};
    function::push_new(spec, &none_body, 0, 5, 6, 0);
    cell* compiled = function::clone_for_object(stack::last_slot(), object);
    EXPECT_TRUE(function::extras_cell(compiled, function::EXTRAS_BODY)->is(TYPE_NONE));
    EXPECT_EQ(function::extras_cell(compiled, function::EXTRAS_CODE)->w2, 5u);
    EXPECT_EQ(function::extras_cell(compiled, function::EXTRAS_EXTRA)->w2, 6u);
}

TEST_F(FunctionTest, RegistrationFillsOnlyTheFiveSlots) {
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        bool own = a == ACTION_MAKE || a == ACTION_REFLECT || a == ACTION_FORM || a == ACTION_MOLD || a == ACTION_COMPARE;
        EXPECT_EQ(type_registry::handler_of(TYPE_FUNCTION, static_cast<action>(a)) != nullptr, own) << a;
    }
}

}  // namespace
}  // namespace zor
