// The word types: their texts, comparisons, index?, conversions, the rows they register,
// the predefined words, and the stack operations of the set-word and get-word steps.
//
// Nodes move at every allocation under the collector's torture mode, so words bound to a
// context are kept in stack slots whenever something allocates while they are in use.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

int code_of(err e) { return error_catalogue::code_of(e); }

const cell none_value{TYPE_NONE, 0, 0, 0};
const cell integer_value{TYPE_INTEGER, 0, 5, 0};

cell word_of(type_id type, const char* name) {
    return cell{type, 0, static_cast<uint32_t>(symbol::make(name)), word::INDEX_UNRESOLVED};
}

class Words : public ::testing::Test {
protected:
    struct text_result {
        std::string text;
        int budget;
    };
    text_result mold(cell value, cell* part, int budget) {
        cell* output = string::push_empty();
        int left = actions::dispatch_mold(&value, output, false, false, false, part, budget, 0);
        return {string::to_utf8(output), left};
    }
    text_result form(cell value, cell* part, int budget) {
        cell* output = string::push_empty();
        int left = actions::dispatch_form(&value, output, part, budget);
        return {string::to_utf8(output), left};
    }
    // Calls make or to the way the action entry does; answers the result cell.
    cell convert(action a, type_id target, cell spec) {
        cell type{TYPE_DATATYPE, target, 0, 0};
        cell* value = stack::push_copy(&type);
        cell* argument = stack::push_copy(&spec);
        auto handler = reinterpret_cast<action_handler<ACTION_MAKE>>(type_registry::handler_of(target, a));
        return *handler(value, argument, target);
    }
};

TEST_F(Words, MoldAndFormWithTheirMarks) {
    cell part = cell{TYPE_INTEGER, 0, 0, 0};
    const struct {
        cell value;
        const char* mold;
        const char* form;
    } rows[] = {
        {word_of(TYPE_WORD, "a"), "a", "a"},
        {word_of(TYPE_SET_WORD, "a"), "a:", "a"},
        {word_of(TYPE_LIT_WORD, "a"), "'a", "a"},
        {word_of(TYPE_GET_WORD, "a"), ":a", "a"},
        {word_of(TYPE_REFINEMENT, "a"), "/a", "a"},
        {word_of(TYPE_WORD, "Mixed-Case?"), "Mixed-Case?", "Mixed-Case?"},
        {word_of(TYPE_SET_WORD, "héllo"), "héllo:", "héllo"},
        {word_of(TYPE_LIT_WORD, "日本"), "'日本", "日本"},
        {word_of(TYPE_REFINEMENT, "𝄞"), "/𝄞", "𝄞"},
    };
    for (const auto& r : rows) {
        auto m = mold(r.value, nullptr, 100);
        EXPECT_EQ(m.text, r.mold);
        auto f = form(r.value, nullptr, 100);
        EXPECT_EQ(f.text, r.form);
        // The budget falls by one a character, marks included.
        auto chars = [](const std::string& s) {
            int n = 0;
            for (unsigned char c : s) n += (c & 0xC0) != 0x80;
            return n;
        };
        EXPECT_EQ(m.budget, 100 - chars(r.mold)) << r.mold;
        EXPECT_EQ(f.budget, 100 - chars(r.form)) << r.form;
    }
    // Under a /part limit the name is cut to the budget; each mark counts one.
    const struct {
        cell value;
        int budget;
        const char* text;
        int left;
    } limited[] = {
        {word_of(TYPE_WORD, "abcdef"), 3, "abc", 0},
        {word_of(TYPE_LIT_WORD, "abcdef"), 3, "'ab", 0},
        {word_of(TYPE_SET_WORD, "abcdef"), 3, "abc", -1},
        {word_of(TYPE_SET_WORD, "abc"), 4, "abc:", 0},
        {word_of(TYPE_REFINEMENT, "abc"), 1, "/", 0},
        {word_of(TYPE_GET_WORD, "abc"), 0, "", -1},
    };
    for (const auto& r : limited) {
        auto m = mold(r.value, &part, r.budget);
        EXPECT_EQ(m.text, r.text);
        EXPECT_EQ(m.budget, r.left) << r.text;
    }
}

TEST_F(Words, ComparisonsCaselessAndStrict) {
    cell foo = word_of(TYPE_WORD, "cw-foo");
    cell FOO = word_of(TYPE_WORD, "CW-FOO");
    cell lit_foo = word_of(TYPE_LIT_WORD, "cw-foo");
    cell lit_FOO = word_of(TYPE_LIT_WORD, "CW-FOO");
    cell set_foo = word_of(TYPE_SET_WORD, "cw-foo");
    cell set_FOO = word_of(TYPE_SET_WORD, "CW-FOO");
    cell issue_foo = word_of(TYPE_ISSUE, "cw-foo");
    cell bar = word_of(TYPE_WORD, "cw-bar");
    cell accented = word_of(TYPE_WORD, "cw-é");
    cell ACCENTED = word_of(TYPE_WORD, "CW-É");
    cell integer{TYPE_INTEGER, 0, 1, 0};
    // Made last, so that no allocation comes between binding and comparing (nor does a
    // comparison allocate).
    node_ref ctx = context::make(2, false, false, 0, context::KIND_OBJECT);
    *stack::push_slot() = cell{TYPE_WORD, ctx, 0, word::INDEX_UNRESOLVED};
    cell bound_foo = foo;
    bound_foo.w1 = ctx;
    const struct {
        cell left, right;
        int op;
        int answer;
    } rows[] = {
        {foo, FOO, 0, 0},          {foo, FOO, 1, 0},          {foo, FOO, 12, 0},
        {foo, set_FOO, 0, 0},      // type ignored for =
        {foo, FOO, 2, 1},          {foo, foo, 2, 0},          {foo, set_foo, 2, 1},
        {foo, foo, 9, 0},          {foo, bound_foo, 9, 1},    {foo, lit_foo, 9, 1},
        {foo, lit_foo, 10, 0},     {lit_foo, foo, 10, 0},     {foo, lit_FOO, 10, 1},
        {foo, set_foo, 10, 1},     {set_foo, set_foo, 10, 0},
        {foo, lit_FOO, 11, 0},     {lit_FOO, foo, 11, 0},     {set_foo, set_FOO, 11, 0},
        {set_foo, foo, 11, 1},
        {foo, bar, 0, 1},          {foo, bar, 3, 1},          {bar, foo, 3, -1},
        {FOO, bar, 5, 1},          // folded: FOO after bar
        {bar, FOO, 8, 1},          // case-sensitive order: "cw-b" after "CW-F"
        // Equality goes by symbol families, which fold ASCII letters only; the orderings
        // compare the names as text, upper-casing every letter.
        {accented, ACCENTED, 0, 1}, {accented, ACCENTED, 4, 0}, {accented, ACCENTED, 8, 1},
        {foo, issue_foo, 0, -2},   // a word and an issue are not comparable
        {foo, integer, 0, -2},
    };
    for (const auto& r : rows) {
        cell left = r.left, right = r.right;
        EXPECT_EQ(actions::dispatch_compare(&left, &right, r.op), r.answer)
            << symbol::name_of(int32_t(r.left.w2)) << " (" << int(r.left.type()) << ") vs "
            << symbol::name_of(int32_t(r.right.w2)) << " (" << int(r.right.type()) << ") op " << r.op;
    }
}

TEST_F(Words, RowsTakeTheirActionsFromWord) {
    const std::set<int> own = {ACTION_MAKE, ACTION_TO, ACTION_FORM, ACTION_MOLD, ACTION_COMPARE, ACTION_INDEX_Q};
    const struct {
        type_id type;
        bool index_q;
    } rows[] = {{TYPE_WORD, true}, {TYPE_SET_WORD, true}, {TYPE_LIT_WORD, true}, {TYPE_GET_WORD, true},
                {TYPE_REFINEMENT, false}};
    for (const auto& r : rows) {
        for (int a = 1; a <= ACTION_COUNT; ++a) {
            auto act = static_cast<action>(a);
            bool expected = own.count(a) && (a != ACTION_INDEX_Q || r.index_q);
            auto entry = type_registry::handler_of(r.type, act);
            EXPECT_EQ(entry != nullptr, expected) << type_registry::type_entries[r.type].name << " " << action_names[a - 1];
            // Everything but mold is word!'s own routine.
            if (expected && r.type != TYPE_WORD && act != ACTION_MOLD) {
                EXPECT_EQ(entry, type_registry::handler_of(TYPE_WORD, act)) << action_names[a - 1];
            }
        }
    }
    const char* names[] = {"word!", "set-word!", "lit-word!", "get-word!", "refinement!"};
    for (int i = 0; i < 5; ++i) EXPECT_STREQ(type_registry::type_entries[TYPE_WORD + i].name, names[i]);
}

TEST_F(Words, IndexAnswersThePositionOrNone) {
    int32_t symbol = symbol::make("idx-word");
    int32_t index = context::add_word(context::global, symbol);
    const type_id types[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD};
    for (type_id t : types) {
        cell* value = stack::push_slot();
        *value = cell{t, context::global, static_cast<uint32_t>(symbol), static_cast<uint32_t>(index)};
        stack::state.args_base = value;
        auto handler = reinterpret_cast<cell* (*)()>(type_registry::handler_of(t, ACTION_INDEX_Q));
        cell* result = handler();
        EXPECT_TRUE(result->is(TYPE_INTEGER));
        EXPECT_EQ(result->w2, uint32_t(index + 1));
        *value = cell{t, 0, static_cast<uint32_t>(symbol), word::INDEX_UNRESOLVED};
        result = handler();
        EXPECT_TRUE(result->is(TYPE_NONE)) << int(t);
        stack::state.args_base = stack::state.args_begin;
    }
    // A refinement has no index? action: the dispatcher names the type.
    cell refinement = word_of(TYPE_REFINEMENT, "idx-word");
    EXPECT_EQ(testing::raised_code([&] { actions::find_handler(&refinement, ACTION_INDEX_Q); }),
              code_of(err::script_expect_arg));
}

TEST_F(Words, ConversionsToTheWordTypes) {
    int32_t known = symbol::make("conv-known");
    word::make_global(known);
    cell refinement = word_of(TYPE_REFINEMENT, "conv-known");
    cell number_name = word_of(TYPE_ISSUE, "123");
    cell lit = cell{TYPE_LIT_WORD | FLAG_NEW_LINE, context::global, static_cast<uint32_t>(known), 7};
    // A lit-word! keeps its symbol and binding; only its type changes, the new-line mark goes.
    cell w = convert(ACTION_TO, TYPE_WORD, lit);
    EXPECT_EQ(w.header, uint32_t(TYPE_WORD));
    EXPECT_EQ(w.w1, lit.w1);
    EXPECT_EQ(w.w2, lit.w2);
    EXPECT_EQ(w.w3, 7u);
    // A datatype gives its own word; logic the words true and false.
    cell datatype{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
    cell t = convert(ACTION_MAKE, TYPE_SET_WORD, datatype);
    EXPECT_EQ(t.header, uint32_t(TYPE_SET_WORD));
    EXPECT_EQ(symbol::name_of(int32_t(t.w2)), "integer!");
    EXPECT_EQ(t.w1, context::global);
    cell truth = convert(ACTION_TO, TYPE_WORD, cell{TYPE_LOGIC, 1, 0, 0});
    EXPECT_EQ(int32_t(truth.w2), symbols::true_);
    cell falsity = convert(ACTION_TO, TYPE_GET_WORD, cell{TYPE_LOGIC, 0, 0, 0});
    EXPECT_EQ(int32_t(falsity.w2), symbols::false_);
    EXPECT_EQ(falsity.header, uint32_t(TYPE_GET_WORD));

    // Text goes through the lexer.
    cell* text = string::push_empty();
    string::append_c_string(text, "conv-text");
    cell from_text = convert(ACTION_TO, TYPE_LIT_WORD, *text);
    EXPECT_EQ(from_text.header, uint32_t(TYPE_LIT_WORD));
    EXPECT_EQ(symbol::name_of(int32_t(from_text.w2)), "conv-text");
    cell from_char = convert(ACTION_MAKE, TYPE_WORD, cell{TYPE_CHAR, 0, 0xE9, 0});
    EXPECT_EQ(symbol::name_of(int32_t(from_char.w2)), "é");
    cell from_refinement = convert(ACTION_TO, TYPE_WORD, refinement);
    EXPECT_EQ(from_refinement.header, uint32_t(TYPE_WORD));
    EXPECT_EQ(from_refinement.w1, context::global);  // bound, since the global context has it
    EXPECT_EQ(int32_t(from_refinement.w3), context::find_symbol(context::global, known, true));
    cell* digits = string::push_empty();
    string::append_c_string(digits, "42");
    const struct {
        const char* what;
        const cell* spec;
        int code;
    } failures[] = {
        {"text that is not a word", digits, code_of(err::script_invalid_chars)},
        {"an issue whose name is not a word", &number_name, code_of(err::script_bad_to_arg)},
        {"a value of another type", &none_value, code_of(err::script_bad_to_arg)},
        {"an integer", &integer_value, code_of(err::script_bad_to_arg)},
    };
    for (const auto& f : failures) {
        EXPECT_EQ(testing::raised_code([&] { convert(ACTION_TO, TYPE_WORD, *f.spec); }), f.code) << f.what;
    }
}

TEST_F(Words, PredefinedNamesExistWithTheirSpellings) {
    const struct {
        int32_t id;
        const char* text;
    } kept_symbols[] = {
#define ZOR_ROW(name, text) {symbols::name, text},
#define ZOR_SKIP(text)
        ZOR_PREDEFINED_SYMBOLS(ZOR_ROW, ZOR_SKIP)
#undef ZOR_SKIP
#undef ZOR_ROW
    };
    EXPECT_EQ(std::size(kept_symbols), size_t(word_table::SYMBOL_COUNT - 1));  // "stack" is not kept
    for (const auto& s : kept_symbols) {
        EXPECT_GT(s.id, 0) << s.text;
        EXPECT_EQ(symbol::name_of(s.id), s.text);
    }
    EXPECT_GT(symbol::find("stack"), 0);
    EXPECT_EQ(symbols::code, symbols::money_code);
    const struct {
        const predefined_cell* word;
        const char* text;
    } kept_words[] = {
#define ZOR_ROW(name, text) {&words::name, text},
        ZOR_PREDEFINED_WORDS(ZOR_ROW)
#undef ZOR_ROW
    };
    EXPECT_EQ(std::size(kept_words), size_t(word_table::WORD_COUNT));
    for (const auto& w : kept_words) {
        cell* c = w.word->get();
        EXPECT_EQ(c->header, uint32_t(TYPE_WORD)) << w.text;
        EXPECT_EQ(c->w1, context::global) << w.text;
        EXPECT_EQ(symbol::name_of(int32_t(c->w2)), w.text);
        EXPECT_EQ(int32_t(c->w3), context::find_symbol(context::global, int32_t(c->w2), false)) << w.text;
    }
    const struct {
        const predefined_cell* refinement;
        const char* text;
    } kept_refinements[] = {
#define ZOR_ROW(name, text) {&refinements::name, text},
        ZOR_PREDEFINED_REFINEMENTS(ZOR_ROW)
#undef ZOR_ROW
    };
    for (const auto& r : kept_refinements) {
        cell* c = r.refinement->get();
        EXPECT_EQ(c->header, uint32_t(TYPE_REFINEMENT)) << r.text;
        EXPECT_EQ(c->w1, 0u) << r.text;  // unbound
        EXPECT_EQ(symbol::name_of(int32_t(c->w2)), r.text);
    }
    EXPECT_EQ(symbol::name_of(words::on_change_star.symbol()), "on-change*");
    EXPECT_EQ(symbol::name_of(words::not_found.symbol()), "<not-found>");
    EXPECT_EQ(words::throw_.symbol(), words::throw_category.symbol());
    EXPECT_EQ(stack::state.body_symbol, uint32_t(words::body.symbol()));
    EXPECT_EQ(stack::state.anon_symbol, uint32_t(words::anon.symbol()));
    // Every registered type has its word.
    for (int id = 1; id <= type_registry::max_type_id; ++id) {
        const auto& entry = type_registry::type_entries[id];
        if (!entry.name) continue;
        EXPECT_EQ(entry.word.header, uint32_t(TYPE_WORD)) << entry.name;
        EXPECT_EQ(symbol::name_of(int32_t(entry.word.w2)), entry.name);
    }
}

TEST_F(Words, CurrentFunctionWordNamesTheFrame) {
    EXPECT_EQ(stack::current_function_word().w2, uint32_t(words::not_found.symbol()));
    cell* named = stack::push_copy(word::make_global_from_name("cfw-caller"));
    stack::push_call_frame(named);
    stack::push_call_frame(words::body);  // <body> frames are skipped
    cell got = stack::current_function_word();
    EXPECT_EQ(got.header, uint32_t(TYPE_WORD));
    EXPECT_EQ(got.w1, context::global);
    EXPECT_EQ(got.w2, named->w2);
    EXPECT_EQ(got.w3, named->w3);
    stack::pop_frame();
    stack::pop_frame();
}

TEST_F(Words, SetAndGetSteps) {
    int32_t pushed_name = symbol::make("step-pushed");
    cell* word_copy = stack::push_copy(word::make_global_from_name("step-word"));
    // The set-word step: word at the base, value after it.
    cell* set = stack::push_copy(word_copy);
    set->header = TYPE_SET_WORD;
    stack::state.args_base = stack::push_copy(set);
    *stack::push_slot() = cell{TYPE_INTEGER, 0, 11, 0};
    cell* result = word::set_from_args();
    EXPECT_EQ(result, stack::state.args_base);
    EXPECT_EQ(result->w2, 11u);
    stack::state.args_base = stack::state.args_begin;
    EXPECT_EQ(word::get_value(word_copy)->w2, 11u);
    EXPECT_EQ(word::push_value(word_copy)->w2, 11u);
    EXPECT_EQ(get_word::push_value(word_copy)->w2, 11u);
    EXPECT_TRUE(get_word::push(word_copy)->is(TYPE_GET_WORD));
    EXPECT_TRUE(refinement::push(word_copy)->is(TYPE_REFINEMENT));
    // An unset value: need-value for the set step, no-value when read; get-words take it.
    EXPECT_EQ(testing::raised_code([&] {
                  stack::state.args_base = stack::push_copy(set);
                  cell::init_unset(stack::push_slot());
                  word::set_from_args();
              }),
              code_of(err::script_need_value));
    stack::state.args_base = stack::state.args_begin;
    EXPECT_EQ(word::get_value(word_copy)->w2, 11u);
    cell unset_value{TYPE_UNSET, 0, 0, 0};
    cell* unset_word = stack::push_copy(word::make_global_from_name("step-unset"));
    word::set_value(unset_word, &unset_value);
    EXPECT_EQ(testing::raised_code([&] { word::push_value(unset_word); }), code_of(err::script_no_value));
    EXPECT_TRUE(get_word::push_value(unset_word)->is(TYPE_UNSET));
    // The name as a string shares the symbol's string form.
    cell* name = word::push_name_as_string(word_copy);
    EXPECT_EQ(string::to_utf8(name), "step-word");
    EXPECT_EQ(name->w2, symbol::cell_of(int32_t(word_copy->w2))->w2);
    EXPECT_TRUE(word::symbol_cell(word_copy)->is(TYPE_SYMBOL));
    EXPECT_TRUE(word::is_any_word_type(TYPE_ISSUE));
    EXPECT_FALSE(word::is_any_word_type(TYPE_NATIVE));
    // Pushing a key word from a context, retyped.
    int32_t index = int32_t(word_copy->w3);
    EXPECT_TRUE(refinement::push_from_context(context::global, index)->is(TYPE_REFINEMENT));
    EXPECT_TRUE(get_word::push_from_context(context::global, index)->is(TYPE_GET_WORD));
    EXPECT_EQ(word::push_from_context(context::global, index)->w2, word_copy->w2);
    cell* pushed = word::push_global(pushed_name);
    EXPECT_EQ(pushed->w1, context::global);
    EXPECT_EQ(int32_t(pushed->w3), context::find_symbol(context::global, pushed_name, true));
}

}  // namespace
}  // namespace zor
