// The function makers (func, function, does, has) and the words and contexts natives (get,
// set, unset, value?, bind, in, context?, construct, extend), run through the interpreter
// with their real natives-table entries: a table of code and its result, a table of code
// and the error it raises, and the cases the notation cannot write (blocks holding unset!,
// words not resolved yet, indexes past the tail, attribute flags).
#include <gtest/gtest.h>

#include <string>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::interpreter_fixture;
using testing::mold_of;
using testing::raised;
using testing::read_code;

int code_of(err e) { return error_catalogue::code_of(e); }

class NativesFunctionsTest : public interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        // The named typesets of the natives' type blocks, as the boot environment binds them.
        for (const char* name : {"any-word!", "any-path!", "any-object!", "any-function!"}) {
            cell types;
            ASSERT_TRUE(natives::named_typeset(name, &types));
            testing::set_global(name, &types);
        }
        using enum natives::native_index;
        for (int index : {NATIVE_FUNC, NATIVE_FUNCTION, NATIVE_DOES, NATIVE_HAS, NATIVE_GET, NATIVE_SET,
                          NATIVE_SAME_Q, NATIVE_TYPE_Q, NATIVE_BIND, NATIVE_IN, NATIVE_CONSTRUCT, NATIVE_VALUE_Q,
                          NATIVE_EXTEND, NATIVE_UNSET, NATIVE_CONTEXT_Q}) {
            const natives::spec_entry* e = natives::spec_of(index);
            std::string spec(e->spec_text.substr(1, e->spec_text.size() - 2));
            testing::define_callable(e->name, TYPE_NATIVE, index, spec);
        }
        testing::define_callable("make", TYPE_ACTION, ACTION_MAKE, "type spec");
        testing::define_callable("reflect", TYPE_ACTION, ACTION_REFLECT, "value field");
        testing::define_callable("next", TYPE_ACTION, ACTION_NEXT, "series");
        testing::define_callable("clear", TYPE_ACTION, ACTION_CLEAR, "series");
        testing::define_callable("pick", TYPE_ACTION, ACTION_PICK, "series index");
        reset_stack();
    }

    // The error the code raises as "code arg1" (arg1 molded), "none" when it raises none.
    std::string error_of(const std::string& code) {
        raised r = raise_of(code);
        return r.code < 0 ? "none" : std::to_string(r.code) + " " + r.arg1;
    }

    // The molded result of the code, or the error it raises as "error code arg1".
    std::string outcome(const std::string& text) {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            cell* code = read_code(text);
            cell* result = stack::state.args_top;
            EXPECT_EQ(eval::eval_block(code, false), 0u) << "an exit escaped the evaluation";
            stack::pending_code = 0;
            return mold_of(result);
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            cell* e = stack::last_slot();
            return "error " + std::to_string(error::code_of(e)) + " " + mold_of(error::field_of(e, error::FIELD_ARG1));
        }
    }
    static std::string error_text(err e, const std::string& arg1) { return std::to_string(code_of(e)) + " " + arg1; }
};

TEST_F(NativesFunctionsTest, MakersBuildFunctionsFromPreparedSpecs) {
    struct row {
        const char* code;
        const char* expected;
        const char* why;
    };
    const row rows[] = {
        {"f: func [a b] [a + b] f 1 2", "3", ""},
        {"f: func next [x a] [a] f 5", "5", "the spec is taken from its index"},
        {"f: func next [x a] [a] reflect :f 'spec", "[a]", ""},
        {"b: [1] f: func [] b append b 2 f", "1", "the body is a copy"},
        {"f: func [] [treturn 5 6] f", "5", "return lands at the new function's body"},
        {"f: func [n] [if n = 1 [treturn 'one] 'other] f 2", "other", ""},

        {"f: function [a] [x: a * 2 x] f 5", "10", ""},
        {"x: 100 f: function [a] [x: a * 2 x] f 5 x", "100", "a set-word of the body is local"},
        {"s: [a] f: function s [y: 1] s", "[a]", "the caller's spec is not changed"},
        {"f: function [a] [y: 1] reflect :f 'spec", "[a /local y]", ""},
        {"f: function [a /local y] [y: 1 z: 2] reflect :f 'spec", "[a /local y z]", "an existing /local is extended"},
        {"x: 0 f: function [a /extern x] [x: a y: 2] f 7 x", "7", "an /extern word stays global"},
        {"f: function [a /extern x] [x: a y: 2] reflect :f 'spec", "[a /local y]", ""},
        {"f: function [] [foreach [k v] [] [] repeat i 3 [] remove-each y [] [] (z: 1)] reflect :f 'spec",
         "[/local k v i y z]", "loop words and set-words in parens are collected"},
        {"f: function [] [local: 1 a: 2] reflect :f 'spec", "[/local a]", "the word local is not collected"},
        {"f: function [a] [a: 1 b: 2 b: 3] reflect :f 'spec", "[a /local b]", "each word once, spec words never"},
        {"f: function [] [1] reflect :f 'spec", "[]", "nothing collected adds no /local"},
        {"f: function/extern [] [q: 1] reflect :f 'spec", "[/local q]", "the refinement itself changes nothing"},

        {"f: does [1 + 2] f", "3", ""},
        {"f: does [1 + 2] reflect :f 'spec", "[]", ""},
        {"f: does [treturn 4 5] f", "4", ""},

        {"f: has [x] [x: 5 x] f", "5", ""},
        {"f: has [x] [x: 5 x] reflect :f 'spec", "[/local x]", ""},
        {"v: [x] f: has v [x: 1] v", "[x]", "the caller's vars block is not changed"},
        {"f: has next [a x] [x] reflect :f 'spec", "[/local x]", "the vars are taken from their index"},
        {"x: 9 f: has [x] [x: 1] f x", "9", "the vars are local"},
        {"f: has [] [7] f", "7", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.code) + (r.why[0] ? " -- " : "") + r.why);
        EXPECT_EQ(outcome(r.code), r.expected);
        reset_stack();
    }
}

TEST_F(NativesFunctionsTest, WordNativesReadAndAssign) {
    struct row {
        const char* code;
        const char* expected;
        const char* why;
    };
    const row rows[] = {
        {"x: 5 get 'x", "5", ""},
        {"get/any 'never-given-a-value", "unset", ""},
        {"o: make object! [a: 1 b: 2] get o", "[1 2]", "an object's values"},
        {"o: make object! [a: 1 b: [3]] get 'o/b", "[3]", "a path is walked"},
        {"blk: [10 20] get 'blk/2", "20", ""},
        {"blk: [10 20] f: func [] [get 'blk/(treturn 9) 0] f", "9", "an exit from a path's paren passes through"},

        {"set 'x 5 x", "5", ""},
        {"set 'x 5", "5", "the result is the value"},
        {"set [a b] [1 2]", "[1 2]", ""},
        {"set [a b c] [1 2] c", "none", "a word past the values gets none"},
        {"set [a b c] [1 2] a", "1", ""},
        {"a: b: c: 0 set/some [a b c] [1 none 3] b", "0", "with /some a none keeps the word's value"},
        {"a: b: c: 0 set/some [a b c] [1 none 3] c", "3", ""},
        {"a: b: 0 set/only [a b] [1 2] b", "[1 2]", "with /only every word gets the whole block"},
        {"a: b: 0 set [a b] 5 b", "5", "a value without items goes to every word"},
        {"set [a: :b 'c] [1 2 3] c", "3", "any word type names its word"},
        {"set next [x a] [4] a", "4", "the words from the block's index"},
        {"a: 0 set [] [1] a", "0", "no words, nothing assigned"},
        {"blk: [1 2] set 'blk/2 9 blk", "[1 9]", "a path in set mode"},
        {"o: make object! [a: 1] set 'o/a 5 o/a", "5", ""},
        {"blk: [1 2] f: func [] [set 'blk/(treturn 8) 0 1] f", "8", ""},
        {"o: make object! [a: 1 b: 2] set o [7 8] o/b", "8", "an object's fields in order"},
        {"o: make object! [a: 1 b: 2] set o 3 o/a", "3", ""},
        {"o: make object! [a: 1 b: 2] set/some o [none 5] o/a", "1", ""},
        {"log: 0 o: make object! [a: 1 on-change*: func [w old new] [log: new]] set in o 'a 5 log", "5",
         "assigning a field fires the object's handler"},
        {"log: 0 o: make object! [a: 1 on-change*: func [w old new] [log: old]] set bind [a] o [6] log", "1",
         "so does a block assignment"},
        {"set/any 'x get/any 'never-given-a-value value? 'x", "false", ""},

        {"x: 1 unset 'x value? 'x", "false", ""},
        {"x: 1 unset 'x", "unset", ""},
        {"a: 1 b: 2 unset [a 5 b] value? 'b", "false", "non-word cells are skipped"},
        {"a: 1 b: 2 unset next [a b] value? 'a", "true", "from the block's index"},

        {"x: 1 value? 'x", "true", ""},
        {"value? 'never-given-a-value", "false", ""},
        {"x: none value? 'x", "true", "none is a value"},

        {"a: 0 o: make object! [a: 1] if true bind [a + 1] o", "2", "a block's words take the object's context"},
        {"a: 0 blk: [a] o: make object! [a: 1] c: bind/copy blk o if true blk", "0", "/copy leaves the block alone"},
        {"a: 0 blk: [a] o: make object! [a: 1] c: bind/copy blk o if true c", "1", ""},
        {"a: 0 blk: [[a] (a)] o: make object! [a: 1] c: bind/copy blk o if true pick c 1", "1",
         "nested blocks are copied and bound"},
        {"a: 0 blk: [[a] (a)] o: make object! [a: 1] c: bind/copy blk o if true pick blk 1", "0", ""},
        {"a: 0 o: make object! [a: 1 w: 'a] if true bind [a] o/w", "1", "a word names its context"},
        {"f: func [x] [if true bind [x * 2] :f] f 4", "8", "a function's context"},
        {"o: make object! [a: 1] get bind 'a o", "1", ""},
        {"zz: 5 o: make object! [a: 1] get bind 'zz o", "5", "a word the context lacks stays as it was"},
        {"o: make object! [a: 1] same? o if true bind [self] o", "true", "self names the object"},

        {"o: make object! [a: 1] get in o 'a", "1", ""},
        {"o: make object! [a: 1] in o 'zz", "none", ""},
        {"a: 0 o: make object! [a: 1] w: in o 'a a", "0", "the word is bound by a copy"},
        {"f: func [a /r b] [] in :f /r", "r", "a refinement comes back as a word"},
        {"f: func [a /r b] [] in :f 'b", "b", ""},
        {"in :func 'spec", "spec", "a native's argument words"},
        {"in :func 'nope", "none", ""},
        {"in :+ 'value2", "value2", "an op of an action"},
        {"in :+f 'b", "b", "an op of a function"},

        {"o: make object! [a: 1] same? o context? in o 'a", "true", ""},
        {"f: func [x] [context? 'x] same? :f f 1", "true", "a function's word names the function"},

        {"o: construct [a: 1 b: yes c: none d: x + 1] type? o/b", "logic!", "no evaluation, words made values"},
        {"o: construct [a: 1 b: off] o/b", "false", ""},
        {"o: construct [a: 1 b: yes c: none d: x + 1] o/d", "x", ""},
        {"o: construct [a: b: 2] o/a", "2", "set-words in a row share the value"},
        {"o: construct/only [b: yes] type? o/b", "word!", "with /only words stay words"},
        {"p: construct [a: 1] o: construct/with [b: 2] p o/a", "1", "the prototype's fields are copied"},
        {"p: construct [a: 1] o: construct/with [b: 2] p in p 'b", "none", "the prototype is not changed"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.code) + (r.why[0] ? " -- " : "") + r.why);
        EXPECT_EQ(outcome(r.code), r.expected);
        reset_stack();
    }
}

TEST_F(NativesFunctionsTest, ErrorsNameTheirArguments) {
    struct row {
        const char* code;
        err error;
        const char* arg1;
        const char* why;
    };
    const row rows[] = {
        {"func [a a] []", err::script_dup_vars, "a", "spec errors come from the spec check"},
        {"func [a \"doc\" [integer!]] []", err::script_bad_func_def, "[a \"doc\" [integer!]]", ""},
        {"function [a a] [b: 1]", err::script_dup_vars, "a", ""},
        {"function [a /extern 1] [b: 1]", err::script_bad_func_extern, "1", ""},
        {"has ['a] [1]", err::script_bad_func_def, "[/local 'a]", "the vars become locals"},
        {"does 5", err::script_expect_arg, "does", "the type tests name the native"},
        {"func [] 5", err::script_expect_arg, "func", ""},
        {"get 'never-given-a-value", err::script_no_value, "never-given-a-value", ""},
        {"get 5", err::script_expect_arg, "get", ""},
        {"set 'x get/any 'never-given-a-value", err::script_need_value, "x", ""},
        {"set [a 1] [1 2]", err::script_invalid_arg, "1", "every entry must be a word"},
        {"set [a /b] [1 2]", err::script_invalid_arg, "/b", ""},
        {"f: func [a] [a] set 'f/x 1", err::script_invalid_path_set, "f/x", ""},
        {"f: func [a] [a] get 'f/x", err::script_invalid_path_get, "f/x", ""},
        {"in 5 'a", err::script_expect_arg, "in", ""},
        {"construct/with [] 5", err::script_expect_arg, "construct", ""},
        {"extend construct [] []", err::internal_not_done, "none", "objects cannot be extended"},
        {"context? 5", err::script_expect_arg, "context?", ""},
        {"value? 5", err::script_expect_arg, "value?", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.code) + (r.why[0] ? " -- " : "") + r.why);
        EXPECT_EQ(error_of(r.code), error_text(r.error, r.arg1));
        reset_stack();
    }
}

// A failed test of a block assignment assigns nothing, not even the words before the fault.
TEST_F(NativesFunctionsTest, BlockAssignmentTestsEveryItemBeforeAssigning) {
    cell* values = read_code("1 2");
    cell* item = block::get_cell(values, 1);
    cell::init_unset(item);
    testing::set_global("with-unset", values);
    reset_stack();
    EXPECT_EQ(error_of("a: b: 0 set [a b] with-unset"), error_text(err::script_need_value, "b"));
    EXPECT_EQ(outcome("a"), "0");
    EXPECT_EQ(error_of("a: 0 set [a 1] [5 6]"), error_text(err::script_invalid_arg, "1"));
    EXPECT_EQ(outcome("a"), "0");
    EXPECT_EQ(outcome("a: b: 0 set/any [a b] with-unset a"), "1");
    EXPECT_EQ(outcome("value? 'b"), "false");
}

// Words the lexer leaves unresolved (index -1) name no slot until their first assignment:
// value? and get/any read them as without value instead of failing.
TEST_F(NativesFunctionsTest, UnresolvedWordsHaveNoValue) {
    // The symbol is made first: making it may collect and move the global context's node,
    // which must be read after the last allocation before the cell reaches a root.
    uint32_t symbol_id = uint32_t(symbol::make("not-yet-resolved-anywhere"));
    cell word = {TYPE_WORD, context::global, symbol_id, word::INDEX_UNRESOLVED};
    testing::set_global("w", &word);
    reset_stack();
    EXPECT_EQ(outcome("value? w"), "false");
    EXPECT_EQ(outcome("get/any w"), "unset");
    EXPECT_EQ(error_of("get w"), error_text(err::script_no_value, "not-yet-resolved-anywhere"));
    EXPECT_EQ(outcome("set w 3 get w"), "3");
    EXPECT_EQ(outcome("value? w"), "true");
}

// Indexes past the tail (a block cleared under a position) are clamped, never read past.
TEST_F(NativesFunctionsTest, IndexesPastTheTailAreClamped) {
    EXPECT_EQ(outcome("b: [a b] s: next next b clear b f: func s [1] reflect :f 'spec"), "[]");
    cell* spec = read_code("a b");
    spec->w1 = 10;
    testing::set_global("past", spec);
    reset_stack();
    EXPECT_EQ(outcome("f: func past [2] f"), "2");
    EXPECT_EQ(outcome("f: func past [2] reflect :f 'spec"), "[]");
    EXPECT_EQ(outcome("f: function past [x: 2] reflect :f 'spec"), "[/local x]");
    EXPECT_EQ(outcome("f: has past [3] reflect :f 'spec"), "[/local]");
    EXPECT_EQ(outcome("a: 0 set past [1] a"), "0");
    EXPECT_EQ(outcome("f: func [] past f"), "unset");
}

TEST_F(NativesFunctionsTest, AttributeBlocksSetTheFunctionsFlags) {
    struct row {
        const char* code;
        uint32_t flags;
    };
    const row rows[] = {
        {"func [[trace] a] [a]", function::FLAG_TRACE},
        {"func [[no-trace]] []", function::FLAG_NO_TRACE},
        {"function [[trace] a] [b: a]", function::FLAG_TRACE},
        {"func [[foo] a] [a]", 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.code);
        cell* code = read_code(r.code);
        cell* result = stack::state.args_top;
        ASSERT_EQ(eval::eval_block(code, false), 0u);
        ASSERT_TRUE(result->is(TYPE_FUNCTION));
        EXPECT_EQ(result->header & function::ATTRIBUTE_MASK, r.flags);
        reset_stack();
    }
}

}  // namespace
}  // namespace zor
