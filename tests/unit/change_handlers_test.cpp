// object! change handlers: when on-change* and on-deep-change* are called and with what,
// the change node, and `set` on an object. A C++ stand-in takes the place of running the
// handler and records each call's frame and argument section.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/stack.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/spec_notation.h"
#include "runtime/value/upcalls.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::raise_of;

// What one call saw. Node numbers are compared while the call runs: the collector may
// move nodes afterwards.
struct handler_call {
    std::string frame;         // the frame's word
    uint32_t flags;
    bool object_context;       // the context passed is the object's
    bool first_names_context;  // the first argument (the word, or the owner) is bound to it
    bool third_is_watched;     // the third argument is the watched series
    std::string section;       // the argument section, molded as a block
    std::vector<std::string> arguments;
};
std::vector<handler_call> calls;
const cell* expected_object = nullptr;  // a rooted cell holding the object
const cell* watched = nullptr;          // a rooted cell holding a series
bool raise_in_handler = false;

void record_call(cell* function, node_ref context, const cell* word, uint32_t flags) {
    (void)function;
    handler_call c;
    c.frame = std::string(symbol::name_of(static_cast<int32_t>(word->w2)));
    c.flags = flags;
    c.object_context = expected_object && context == expected_object->w1;
    c.first_names_context = stack::state.args_base[0].w1 == context;
    c.third_is_watched = watched && stack::state.args_base[2].w2 == watched->w2;
    EXPECT_EQ(stack::top_frame()[-1].kind(), stack::FRAME_FUNCTION);
    EXPECT_EQ(static_cast<int32_t>(stack::top_frame()[-1].symbol()), static_cast<int32_t>(word->w2));
    cell* section = block::push_empty(8);
    for (cell* a = stack::state.args_base; a < section; ++a) {
        c.arguments.push_back(molded(a));
        block::append_copy(section, a);
    }
    c.section = molded(section);
    calls.push_back(c);
    if (raise_in_handler) raise::throw_error(err::math_zero_divide);
}

class ChangeHandlers : public testing::stack_fixture {
protected:
    void SetUp() override {
        stack_fixture::SetUp();
        upcalls::invoke_function = &record_call;
        calls.clear();
        raise_in_handler = false;
        expected_object = watched = nullptr;
    }

    cell* word(const char* name) { return word::push_global(symbol::make(name)); }
    cell* function_of(const std::string& spec) {
        return function::make(nullptr, code("[" + spec + "] []"), TYPE_FUNCTION);
    }
    // Stores a value into a field without any handler call.
    void poke_field(cell* object, const char* name, cell* value) {
        int32_t index = object::field_index(object->w1, word(name));
        ASSERT_GE(index, 0);
        *context::value_at(object->w1, index) = *value;
    }
    // An object of the fields with the handlers of the specs (null: none), looked up.
    cell* handled(const std::string& fields, const char* change_spec, const char* deep_spec) {
        std::string spec = fields;
        if (change_spec) spec += " on-change*: 0";
        if (deep_spec) spec += " on-deep-change*: 0";
        cell* o = object::construct(code(spec), nullptr, false);
        if (change_spec) poke_field(o, "on-change*", function_of(change_spec));
        if (deep_spec) poke_field(o, "on-deep-change*", function_of(deep_spec));
        object::refresh_handlers(o);
        expected_object = o;
        return o;
    }
    void set_path(cell* object, const char* name, cell* value) {
        object::eval_path(object, word(name), value, nullptr, nullptr, nullptr, 1, 0, false, true, false);
    }
    std::string field_text(cell* object, const char* name) { return molded(object::field_value(object, word(name))); }
};

TEST_F(ChangeHandlers, OnChangeSeesTheWordTheOldAndTheNewValue) {
    cell* o = handled("a: 1 b: 2", "word old new", nullptr);
    ASSERT_NE(o->w3, 0u);
    EXPECT_EQ(context::self_cell(o->w1)->w3, o->w3) << "the self cell knows the change node";
    set_path(o, "a", integer::push(2));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].frame, "on-change*");
    EXPECT_EQ(calls[0].flags, eval::INVOKE_ON_CHANGE);
    EXPECT_TRUE(calls[0].object_context);
    EXPECT_EQ(calls[0].section, "[a 1 2]");
    EXPECT_TRUE(calls[0].first_names_context) << "the word is bound to the object";
    EXPECT_EQ(field_text(o, "a"), "2");
    // Assigning the value a field already holds still calls the handler.
    set_path(o, "a", integer::push(2));
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].section, "[a 2 2]");
    // A word bound elsewhere reaches the handler bound to the object.
    cell* global_a = word("a");
    cell* old_value = integer::push(0);
    cell* new_value = integer::push(1);
    cell* top = stack::state.args_top;
    object::fire_on_change(o, global_a, object::field_index_of(o, global_a), old_value, new_value);
    EXPECT_EQ(stack::state.args_top, top) << "the call leaves nothing behind";
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[2].first_names_context);
    EXPECT_NE(global_a->w1, o->w1) << "the caller's word is left as it was";
}

TEST_F(ChangeHandlers, TheArgumentSectionFitsTheHandler) {
    struct row {
        const char* spec;
        const char* section;
    } rows[] = {
        {"word old new", "[a 1 2]"},
        {"word old new /local x y", "[a 1 2 false none none]"},  // the local section
        {"w", "[a 1 2]"},
        {"a b c d e", "[a 1 2 none none]"},                      // never short of the keys
        {"w o n /only v", "[a 1 2 none none]"},
    };
    for (const row& r : rows) {
        calls.clear();
        cell* o = handled("a: 1", r.spec, nullptr);
        set_path(o, "a", integer::push(2));
        ASSERT_EQ(calls.size(), 1u) << r.spec;
        EXPECT_EQ(calls[0].section, r.section) << r.spec;
    }
}

TEST_F(ChangeHandlers, ANewHandlerWithOtherLocalsIsPickedUp) {
    cell* o = handled("a: 1", "w o n", nullptr);
    set_path(o, "a", integer::push(2));
    // Assigning the handler field calls the handler it replaces (with the new one as the
    // value, already in place), which is the new one's first call.
    set_path(o, "on-change*", function_of("w o n /local p q r"));
    set_path(o, "a", integer::push(3));
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].section, "[a 1 2]");
    EXPECT_EQ(calls[2].section, "[a 2 3 false none none none]");
    set_path(o, "on-change*", function_of("w o n"));
    set_path(o, "a", integer::push(4));
    EXPECT_EQ(calls.back().section, "[a 3 4]");
    // Collections between the calls cannot make an old count apply to a new handler.
    for (int i = 0; i < 20; ++i) {
        set_path(o, "on-change*", function_of(i % 2 ? "w o n /local z" : "w o n"));
        set_path(o, "a", integer::push(i));
        EXPECT_EQ(calls.back().arguments.size(), i % 2 ? 5u : 3u) << i;
    }
}

TEST_F(ChangeHandlers, HandlerFieldsMustHoldFunctions) {
    cell* o = object::construct(code("a: 1 on-change*: 5"), nullptr, false);
    auto raised = raise_of([&] { object::refresh_handlers(o); });
    EXPECT_EQ(raised.code, code_of(err::script_bad_field_set));
    EXPECT_EQ(raised.arg1, "on-change*");
    cell* good = handled("a: 1", "w o n", nullptr);
    // The field now holds an integer: the assignment happens, then the call is refused.
    raised = raise_of([&] { set_path(good, "on-change*", integer::push(7)); });
    EXPECT_EQ(raised.code, code_of(err::script_invalid_obj_evt));
    EXPECT_EQ(raised.arg1, "7");
    EXPECT_EQ(field_text(good, "on-change*"), "7");
    // on-deep-change* on an object without change node.
    cell* plain = object::construct(code("a: 1"), nullptr, false);
    raised = raise_of([&] {
        object::fire_on_deep_change(plain, word("a"), plain, word("append"), nullptr, 0, 0);
    });
    EXPECT_EQ(raised.code, code_of(err::script_invalid_obj_evt));
    // A non-function in the on-deep-change* field is skipped silently when a change comes.
    cell* deep = handled("b: 0", nullptr, "o w t a n i p");
    poke_field(deep, "on-deep-change*", integer::push(1));
    object::fire_on_deep_change(deep, word("b"), deep, word("append"), nullptr, 0, 0);
    EXPECT_TRUE(calls.empty());
}

TEST_F(ChangeHandlers, AnErrorInTheHandlerComesAfterTheAssignment) {
    cell* o = handled("a: 1", "w o n", nullptr);
    raise_in_handler = true;
    EXPECT_EQ(raise_of([&] { set_path(o, "a", integer::push(5)); }).code, code_of(err::math_zero_divide));
    EXPECT_EQ(field_text(o, "a"), "5");
}

TEST_F(ChangeHandlers, NoHandlerNoCall) {
    cell* o = object::construct(code("a: 1"), nullptr, false);
    object::refresh_handlers(o);
    EXPECT_EQ(o->w3, 0u);
    set_path(o, "a", integer::push(2));
    cell* a = word("a");
    a->w1 = o->w1;
    a->w3 = 0;
    word::set_in_context(a, integer::push(3), o->w1, true);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(field_text(o, "a"), "3");
}

TEST_F(ChangeHandlers, WordAssignmentAndTheCompiledCodeEntries) {
    cell* o = handled("a: 1 b: 2", "w o n", nullptr);
    // A set-word (word::set_in_context with the fire flag).
    cell* a = word("a");
    a->w1 = o->w1;
    a->w3 = 0;
    word::set_in_context(a, integer::push(10), o->w1, true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].section, "[a 1 10]");
    // Old value in the last stack cell, new value below it.
    cell* b = word("b");
    integer::push(20);
    integer::push(2);
    object::fire_on_change_from_stack(o, b);
    EXPECT_EQ(calls.back().section, "[b 2 20]");
    // The object reached through a word.
    cell* holder = word("change-handlers-test-object");
    word::set_value(holder, o);
    integer::push(30);
    integer::push(20);
    object::fire_on_change_via_word(holder, b);
    EXPECT_EQ(calls.back().section, "[b 20 30]");
    EXPECT_EQ(calls.size(), 3u);

    // A handler installed by index, its local count taken at the first call.
    cell* built = object::construct(code("x: 0 handler: 0"), nullptr, false);
    poke_field(built, "handler", function_of("w o n /local t"));
    cell* pushed = object::push_from_context(built->w1, 500);
    object::install_change_handlers(built->w1, 1, 0, -1, 0);
    EXPECT_NE(pushed->w3, 0u);
    EXPECT_FALSE(object::has_deep_handler(pushed));
    expected_object = pushed;
    set_path(pushed, "x", integer::push(1));
    EXPECT_EQ(calls.back().section, "[x 0 1 false none]");
}

TEST_F(ChangeHandlers, SetOnAnObjectCallsOncePerAssignedField) {
    cell* o = handled("a: 1 b: 2", "w o n", nullptr);
    cell* handler_before = stack::push_copy(object::field_value(o, word("on-change*")));
    object::set_from_values(o, code("7 8 9"), false, false, false);
    EXPECT_EQ(field_text(o, "a"), "7");
    EXPECT_EQ(field_text(o, "b"), "8");
    EXPECT_EQ(object::field_value(o, word("on-change*"))->w3, handler_before->w3) << "the handler field stays";
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].section, "[a 1 7]");
    EXPECT_EQ(calls[1].section, "[b 2 8]");
    // Every field gets the changed flag, the handler field included.
    EXPECT_EQ(molded(object::reflect(o, words::changed.symbol())), "[a b on-change*]");
    // With the some flag a none! value is skipped and not reported.
    calls.clear();
    object::set_from_values(o, code("none 5"), false, false, true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].section, "[b 8 5]");
    EXPECT_EQ(field_text(o, "a"), "7");
}

TEST_F(ChangeHandlers, OnDeepChangeHearsTheChangesOfOwnedSeries) {
    cell* o = handled("items: [1 2] other: 0", nullptr, "owner word target action new index part");
    EXPECT_TRUE(object::has_deep_handler(o));
    EXPECT_EQ(molded(object::reflect(o, symbols::owner)), "true");
    EXPECT_EQ(molded(object::reflect(o, symbols::events_q)), "true");
    cell* items = stack::push_copy(object::field_value(o, word("items")));
    watched = items;
    cell* three = integer::push(3);
    block::append(items, three, -1, false, 1, true);
    ASSERT_EQ(calls.size(), 2u);
    const char* actions[] = {"append", "appended"};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(calls[i].frame, "on-deep-change*");
        EXPECT_EQ(calls[i].flags, eval::INVOKE_ON_DEEP_CHANGE);
        EXPECT_TRUE(calls[i].first_names_context) << "the owner";
        EXPECT_EQ(calls[i].arguments[1], "items");
        EXPECT_TRUE(calls[i].third_is_watched) << "the changed block";
        EXPECT_EQ(calls[i].arguments[3], actions[i]);
        EXPECT_EQ(calls[i].arguments[4], "3");
        EXPECT_EQ(calls[i].arguments[5], "2") << "the cells before the tail";
        EXPECT_EQ(calls[i].arguments[6], "1");
    }
    // Assigning a field is no deep change.
    calls.clear();
    set_path(o, "other", integer::push(1));
    EXPECT_TRUE(calls.empty());
}

TEST_F(ChangeHandlers, TheInterpreterRunsTheHandler) {
    upcalls::invoke_function = &eval::invoke_function;
    // The body assigns global words: the handler's own words are its arguments and local.
    cell* handler = function::make(
        nullptr, code("[word old new /local t] [t: new seen-word: word seen-old: old seen-new: t]"), TYPE_FUNCTION);
    cell* o = object::construct(code("a: 1 on-change*: 0"), nullptr, false);
    poke_field(o, "on-change*", handler);
    object::refresh_handlers(o);
    cell* top = stack::state.args_top;
    cell* value = integer::push(5);
    set_path(o, "a", value);
    EXPECT_EQ(molded(word::get_value(word("seen-word"))), "a");
    EXPECT_EQ(molded(word::get_value(word("seen-old"))), "1");
    EXPECT_EQ(molded(word::get_value(word("seen-new"))), "5");
    EXPECT_EQ(field_text(o, "a"), "5");
    EXPECT_EQ(stack::state.frames_top, stack::state.frames_begin) << "the handler's frame is gone";
    (void)top;
}

}  // namespace
}  // namespace zor
