// The core global words: the actions' spec data agrees with the action table (a wrong
// refinement order or count would hand an entry the wrong argument cells), and after the
// installation the words evaluate as the language expects: datatypes, base values,
// typesets, actions and natives with their refinements, and the operators.
//
// The installation binds words of the process-wide global context; each test puts back
// every global value afterwards, so the other suites see the context as they left it.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "boot/boot-environment.h"
#include "boot/core-words.h"
#include "boot/routines/routines.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/boot_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

TEST(CoreWordsData, ActionSpecsAgreeWithTheActionTable) {
    testing::ensure_runtime();
    stack::stack_guard guard;
    std::string source(boot::action_specs_source());
    cell* loaded = testing::load_text(source);
    ASSERT_TRUE(loaded->is(TYPE_BLOCK));
    int64_t length = block::rest_length(loaded);
    ASSERT_EQ(length % 3, 0) << "name index [spec] triples";

    std::set<int> seen;
    for (int64_t i = 0; i < length; i += 3) {
        const cell* name = block::get_cell(loaded, i);
        const cell* index = block::get_cell(loaded, i + 1);
        const cell* spec = block::get_cell(loaded, i + 2);
        ASSERT_TRUE(name->is(TYPE_WORD)) << "entry " << i / 3;
        ASSERT_TRUE(index->is(TYPE_INTEGER)) << "entry " << i / 3;
        ASSERT_TRUE(spec->is(TYPE_BLOCK)) << "entry " << i / 3;
        int action_index = static_cast<int32_t>(index->w2);
        std::string word(symbol::name_of(static_cast<int32_t>(name->w2)));
        ASSERT_TRUE(action_index >= 1 && action_index <= ACTION_COUNT) << word;
        EXPECT_TRUE(seen.insert(action_index).second) << word << ": index listed twice";
        EXPECT_EQ(word, action_names[action_index - 1]) << "index " << action_index;

        // Plain words and refinements only (no type blocks); the entry takes the refinements
        // in this order.
        int refinements = 0;
        int64_t spec_length = block::rest_length(spec);
        for (int64_t j = 0; j < spec_length; ++j) {
            const cell* item = block::get_cell(spec, series::index_of(spec) + j);
            if (item->is(TYPE_REFINEMENT)) {
                ++refinements;
            } else {
                EXPECT_TRUE(item->is(TYPE_WORD)) << word << ": item " << j;
            }
        }
        EXPECT_EQ(refinements, actions::refinement_count(action_index)) << word;
    }
    // Every action has a word except eval-path, set-path and compare.
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        bool wordless = a == ACTION_EVAL_PATH || a == ACTION_SET_PATH || a == ACTION_COMPARE;
        EXPECT_EQ(seen.count(a), wordless ? 0u : 1u) << action_names[a - 1];
    }
}

using CoreWords = testing::boot_environment_fixture;

TEST_F(CoreWords, WordsEvaluateToTheirValues) {
    const struct {
        const char* code;
        const char* expected;
    } cases[] = {
        // Datatypes, base values, typesets.
        {"integer!", "integer!"},
        {"datatype!", "datatype!"},
        {"type? string!", "datatype!"},
        {"none", "none"},
        {"type? true", "logic!"},
        {"false", "false"},
        {"number!", "make typeset! [integer! float! percent!]"},
        // series! names the typeset, not the datatype of that name.
        {"type? series!", "typeset!"},
        {"type? any-type!", "typeset!"},
        // The internal types have no word.
        {"symbol!", "error 300: symbol! none none"},
        {"context!", "error 300: context! none none"},
        {"triple!", "error 300: triple! none none"},
        // Actions, with refinements in spec order.
        {"type? :append", "action!"},
        {"append/only [1] [2]", "[1 [2]]"},
        {"append/dup [] 7 3", "[7 7 7]"},
        {"append/part/dup [] [1 2 3] 2 2", "[1 2 1 2]"},
        {"mold/only [1 2]", "\"1 2\""},
        {"mold/part [1 2 3] 4", "\"[1 2\""},
        {"form 1.5", "\"1.5\""},
        {"copy/part \"abcdef\" 2", "\"ab\""},
        {"find/skip [1 2 2 3] 2 2", "[2 3]"},
        {"find/skip [1 2 3 2] 2 2", "none"},
        {"select [a 1 b 2] 'b", "2"},
        {"at \"abc\" 2", "\"bc\""},
        {"skip [1 2 3] 2", "[3]"},
        {"length? next [1 2 3]", "2"},
        {"pick [a b c] 3", "c"},
        {"power 2 10", "1024"},
        {"round/to 7 5", "5"},
        {"negate 5", "-5"},
        // An argument's word comes from the spec data: negate's is `number`, power's second
        // `exponent`.
        {"negate \"a\"", "error 305: negate string! number"},
        {"power 2 \"a\"", "error 305: power string! exponent"},
        // Natives.
        {"type? :if", "native!"},
        {"if true [1]", "1"},
        {"either 1 > 2 ['a] ['b]", "b"},
        {"not-equal? 1 2", "true"},
        // Operators.
        {"1 + 2", "3"},
        {"10 - 4", "6"},
        {"6 * 7", "42"},
        {"7 / 2", "3.5"},
        {"7 % 3", "1"},
        {"2 ** 3", "8"},
        {"1 = 1.0", "true"},
        {"1 <> 2", "true"},
        {"1 == 1.0", "false"},
        {"\"a\" =? \"a\"", "false"},
        {"1 < 2", "true"},
        {"2 > 1", "true"},
        {"2 <= 2", "true"},
        {"1 >= 2", "false"},
        {"true and false", "false"},
        {"true or false", "true"},
        {"true xor true", "false"},
        {"6 and 3", "2"},
        {"type? :+", "op!"},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate(c.code), c.expected) << c.code;
}

// The spec blocks of native! and action! values are the ones of the data files.
TEST_F(CoreWords, CallablesCarryTheSpecsOfTheDataFiles) {
    const struct {
        const char* code;
        const char* expected;
    } cases[] = {
        {"reflect :if 'spec", "[cond [any-type!] then-blk [block!]]"},
        {"reflect :switch 'spec", "[value [any-type!] cases [block!] /default case [block!]]"},
        {"reflect :append 'spec", "[series value /part length /only /dup count]"},
        {"reflect :trim 'spec", "[series /head /tail /auto /lines /all /with str]"},
        {"reflect :+ 'spec", "[value1 value2]"},
        {"reflect :and 'spec", "[value1 value2]"},
        {"reflect :if 'body", "1"},
        {"reflect :write 'body", "62"},
        {"reflect :apply 'body", "107"},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate(c.code), c.expected) << c.code;
}

// Every native and every worded action ends up bound to a value of its own table index.
TEST_F(CoreWords, EveryNativeAndActionIsBound) {
    for (int i = 1; i <= natives::NATIVE_COUNT; ++i) {
        const natives::spec_entry* entry = natives::spec_of(i);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(evaluate(std::string("reflect :") + entry->name + " 'body"), std::to_string(i)) << entry->name;
    }
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        if (a == ACTION_EVAL_PATH || a == ACTION_SET_PATH || a == ACTION_COMPARE) continue;
        EXPECT_EQ(evaluate(std::string("type? :") + action_names[a - 1]), "action!") << action_names[a - 1];
        EXPECT_EQ(evaluate(std::string("reflect :") + action_names[a - 1] + " 'body"), std::to_string(a))
            << action_names[a - 1];
    }
}


// The named typesets are bound from source, while the natives check their arguments
// against the runtime's own table of them: the two must agree member for member, or a
// native would accept what its spec, as help shows it, refuses.
TEST_F(CoreWords, TheSourceTypesetsAreTheOnesTheNativesCheck) {
    int named = 0;
    for (int i = 0; const char* name = natives::named_typeset_name(i); ++i, ++named) {
        cell expected;
        ASSERT_TRUE(natives::named_typeset(name, &expected)) << name;
        EXPECT_EQ(evaluate(name), testing::mold_of(&expected)) << name;
    }
    EXPECT_EQ(named, 18);
}

}  // namespace
}  // namespace zor
