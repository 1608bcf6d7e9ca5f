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
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

// Loads Zor text with the lexer into a new slot.
cell* load(const std::string& text) {
    cell* loaded = stack::push_slot();
    cell::init_unset(loaded);
    lexer::scan_request request;
    int64_t consumed = 0;
    lexer::scan_buffer(loaded, reinterpret_cast<const uint8_t*>(text.data()), text.size(), request, &consumed);
    return loaded;
}

TEST(CoreWordsData, ActionSpecsAgreeWithTheActionTable) {
    testing::ensure_runtime();
    stack::stack_guard guard;
    std::string source(boot::action_specs_source());
    cell* loaded = load(source);
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

class CoreWords : public ::testing::Test {
protected:
    void SetUp() override {
        // Every global value as it is now, kept alive (and current) in a stack block.
        int32_t count = context::value_count(context::global);
        saved_ = block::push_empty(count + 1);
        for (int32_t i = 0; i < count; ++i) {
            cell value = *context::value_at(context::global, i);
            block::append_copy(saved_, &value);
        }
        // The words the runtime binds, then the boot sources (base values, operators ...).
        boot::install_core_words();
        boot::register_all_routines();
        boot::install_boot_environment();
    }

    void TearDown() override {
        int32_t saved_count = static_cast<int32_t>(block::rest_length(saved_));
        int32_t count = context::value_count(context::global);
        for (int32_t i = 0; i < count; ++i) {
            cell* value = context::value_at(context::global, i);
            if (i < saved_count) *value = *block::get_cell(saved_, i);
            else cell::init_unset(value);
        }
    }

    // The molded value of the code, or "error N: arg1 arg2 arg3" for a raised error.
    std::string evaluate(const std::string& text) {
        stack::stack_guard guard;
        cell* code = load(text);
        cell* result = stack::push_slot();
        cell::init_unset(result);
        stack::push_try_frame();
        try {
            cell* at = stack::state.args_top;
            (void)eval::eval_block(code, false);
            *result = *at;
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            cell* e = stack::last_slot();
            return "error " + std::to_string(error::code_of(e)) + ": " +
                   testing::mold_of(error::field_of(e, error::FIELD_ARG1)) + " " +
                   testing::mold_of(error::field_of(e, error::FIELD_ARG2)) + " " +
                   testing::mold_of(error::field_of(e, error::FIELD_ARG3));
        }
        stack::pending_code = 0;
        return testing::mold_of(result);
    }

    cell* saved_ = nullptr;
};

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

}  // namespace
}  // namespace zor
