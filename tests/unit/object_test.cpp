// object!: making from specs and prototypes, construct, copies, class ids, text, path
// access, comparison, reflection and the field actions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::formed;
using testing::raise_of;

class Objects : public testing::stack_fixture {
protected:
    // `make object! spec` (the spec in the test notation; set-words and literal values).
    cell* make(const std::string& spec) {
        cell* type = datatype::push(TYPE_OBJECT);
        cell* s = code(spec);
        return object::make(type, s, TYPE_OBJECT);
    }
    cell* derive(cell* prototype, const std::string& spec) {
        cell* p = stack::push_copy(prototype);
        cell* s = code(spec);
        return object::make(p, s, TYPE_OBJECT);
    }
    cell* word(const char* name) { return word::push_global(symbol::make(name)); }
    cell* field(cell* object, const char* name) { return object::field_value(object, word(name)); }
    std::string field_text(cell* object, const char* name) { return molded(field(object, name)); }
    int32_t class_of(const cell* object) { return static_cast<int32_t>(object->w2); }
    void set_path(cell* object, const char* name, cell* value) {
        object::eval_path(object, word(name), value, nullptr, nullptr, nullptr, 1, 0, false, true, false);
    }
    std::string mold_with(cell* value, bool only, bool all, bool flat, int indent = 0) {
        cell* held = stack::push_copy(value);
        cell* output = string::push_empty();
        actions::dispatch_mold(held, output, only, all, flat, nullptr, 0, indent);
        return string::to_utf8(output);
    }
};

TEST_F(Objects, MakeFromSpecGivesFieldsAndFreshClassIds) {
    cell* a = make("a: 1 b: \"x\" c: 'w d: [1 2]");
    EXPECT_EQ(field_text(a, "a"), "1");
    EXPECT_EQ(field_text(a, "b"), "\"x\"");
    EXPECT_TRUE(field(a, "c")->is(TYPE_WORD)) << "a lit-word evaluates to its word";
    EXPECT_EQ(field_text(a, "d"), "[1 2]");
    EXPECT_TRUE(field(a, "zz")->is(TYPE_NONE));
    // The self cell holds the object, and the spec's set-words are bound to it.
    EXPECT_EQ(context::self_cell(a->w1)->w1, a->w1);
    cell* b = make("a: 1 b: \"x\" c: 'w d: [1 2]");
    EXPECT_GE(class_of(a), 1000001);
    EXPECT_NE(class_of(a), class_of(b));
    EXPECT_EQ(a->w3, 0u) << "no handler, no change node";
    // Chained set-words share the value.
    cell* chained = make("p: q: 5");
    EXPECT_EQ(field_text(chained, "p"), "5");
    EXPECT_EQ(field_text(chained, "q"), "5");
}

TEST_F(Objects, ASpecThatNeedsEvaluationIsEvaluated) {
    cell* o = make("a: (1) b: a c: [x]");
    EXPECT_EQ(field_text(o, "a"), "1");
    EXPECT_EQ(field_text(o, "b"), "1") << "the spec's words are the object's";
    EXPECT_EQ(field_text(o, "c"), "[x]");
    EXPECT_EQ(molded(object::reflect(o, words::changed.symbol())), "[]") << "evaluation leaves no changed flag";
}

TEST_F(Objects, ClassIdOfDerivedObjects) {
    cell* proto = make("a: 1 b: 2");
    struct row {
        const char* spec;
        bool same_class;
    } rows[] = {
        {"a: 10", true},         // only the prototype's words: its class
        {"a: 10 b: 20", true},
        {"", true},
        {"c: 3", false},         // a new word: a new shape
        {"a: 1 c: 3", false},
    };
    for (const row& r : rows) {
        cell* derived = derive(proto, r.spec);
        EXPECT_EQ(class_of(derived) == class_of(proto), r.same_class) << r.spec;
    }
    // An object spec on a prototype that is no object adds nothing when empty: still a
    // class of its own, never a value read from the prototype's payload.
    cell* empty = make("");
    cell* odd = stack::push_slot();
    *odd = cell{TYPE_PAIR, 0, 77, 5};  // payload word 2 is 77
    cell* made = object::make(odd, empty, TYPE_OBJECT);
    EXPECT_NE(class_of(made), 77);
    EXPECT_GE(class_of(made), 1000001);
    // An object spec that only sets the prototype's words keeps the class.
    cell* same_words = make("b: 5");
    cell* from_object = object::make(proto, same_words, TYPE_OBJECT);
    EXPECT_EQ(class_of(from_object), class_of(proto));
    EXPECT_EQ(field_text(from_object, "b"), "5");
    EXPECT_EQ(field_text(from_object, "a"), "1");
}

TEST_F(Objects, DerivedObjectsGetTheirOwnSeriesAndCopiesShareSome) {
    cell* proto = make("b: [1 [2]] s: \"t\" n: 4");
    cell* table = hash::make_in_place(code("k 1"));
    set_path(proto, "n", table);
    cell* derived = derive(proto, "x: 1");
    EXPECT_TRUE(field(derived, "n")->is(TYPE_HASH));
    EXPECT_NE(field(derived, "n")->w2, field(proto, "n")->w2) << "a derived object gets its own hash!";
    EXPECT_NE(field(derived, "b")->w2, field(proto, "b")->w2);
    EXPECT_NE(block::get_cell(field(derived, "b"), 1)->w2, block::get_cell(field(proto, "b"), 1)->w2) << "deep";
    EXPECT_NE(field(derived, "s")->w2, field(proto, "s")->w2);
    EXPECT_EQ(field_text(derived, "b"), "[1 [2]]");

    struct row {
        bool deep;
        bool block_shared;
        bool string_shared;
    } rows[] = {{false, true, true}, {true, false, false}};
    for (const row& r : rows) {
        cell* copy = stack::push_slot();
        object::copy(proto, copy, nullptr, r.deep, nullptr);
        EXPECT_EQ(field(copy, "b")->w2 == field(proto, "b")->w2, r.block_shared) << r.deep;
        EXPECT_EQ(field(copy, "s")->w2 == field(proto, "s")->w2, r.string_shared) << r.deep;
        EXPECT_EQ(field(copy, "n")->w2, field(proto, "n")->w2) << "a copy shares its hash!";
        EXPECT_NE(copy->w1, proto->w1);
        EXPECT_EQ(class_of(copy), class_of(proto));
        // The copy's key words are its own.
        EXPECT_EQ(object::get_word_at(copy->w1, 0)->w1, copy->w1);
    }
    EXPECT_EQ(raise_of([&] { object::copy(proto, stack::push_slot(), integer::push(1), false, nullptr); }).code,
              code_of(err::script_invalid_refine_arg));
}

TEST_F(Objects, TypedDeepCopyOfAnObjectInsideItselfIsRefused) {
    cell* o = make("b: [1]");
    // b holds a block that holds the object.
    block::append_copy(field(o, "b"), o);
    cell* types = stack::push_slot();
    *types = *code("block! object!");
    // A typeset of block! and object!.
    cell* typeset = stack::push_slot();
    *typeset = cell{TYPE_TYPESET, 0, 0, 0};
    auto set_bit = [&](type_id t) {
        auto* bytes = reinterpret_cast<uint8_t*>(typeset);
        bytes[4 + (t >> 3)] |= static_cast<uint8_t>(0x80 >> (t & 7));
    };
    set_bit(TYPE_BLOCK);
    set_bit(TYPE_OBJECT);
    EXPECT_EQ(raise_of([&] { object::copy(o, stack::push_slot(), nullptr, true, typeset); }).code,
              code_of(err::internal_no_cycle));
    // Without /deep the typed copy copies the block once and stops.
    cell* shallow = stack::push_slot();
    object::copy(o, shallow, nullptr, false, typeset);
    EXPECT_NE(field(shallow, "b")->w2, field(o, "b")->w2);
}

TEST_F(Objects, FunctionFieldsAreClonedOntoTheNewObject) {
    cell* proto = make("a: 1 f: none");
    cell* fn = function::make(nullptr, code("[] [a]"), TYPE_FUNCTION);
    set_path(proto, "f", fn);
    cell* derived = derive(proto, "a: 2");
    cell* clone = stack::push_copy(field(derived, "f"));
    ASSERT_TRUE(clone->is(TYPE_FUNCTION));
    EXPECT_NE(clone->w1, field(proto, "f")->w1) << "a function context of its own";
    cell* body = function::extras_cell(clone, function::EXTRAS_BODY);
    ASSERT_TRUE(body->is(TYPE_BLOCK));
    EXPECT_EQ(block::get_cell(body, 0)->w1, derived->w1) << "the body's `a` is the new object's";
    // A function without a body cannot be cloned.
    cell* bodiless = stack::push_copy(fn);
    *function::extras_cell(bodiless, function::EXTRAS_BODY) = none::value;
    EXPECT_EQ(raise_of([&] { derive(proto, "z: 1"); }).code, code_of(err::script_bad_func_def));
}

TEST_F(Objects, Construct) {
    struct row {
        const char* spec;
        bool only;
        std::vector<std::pair<const char*, const char*>> fields;
    } rows[] = {
        {"a: b: 1 c:", false, {{"a", "1"}, {"b", "1"}, {"c", "none"}}},
        {"a: yes b: off c: none d: word", false, {{"a", "true"}, {"b", "false"}, {"c", "none"}, {"d", "word"}}},
        {"a: yes c: none", true, {{"a", "yes"}, {"c", "none"}}},
        {"1 a: (x)", false, {{"a", "(x)"}}},  // nothing is evaluated
    };
    for (const row& r : rows) {
        cell* made = object::construct(code(r.spec), nullptr, r.only);
        EXPECT_GE(class_of(made), 1000001) << r.spec;
        for (const auto& [name, text] : r.fields) EXPECT_EQ(field_text(made, name), text) << r.spec << " " << name;
    }
    EXPECT_TRUE(field(object::construct(code("c: on"), nullptr, true), "c")->is(TYPE_WORD));
    // With a prototype: a deep copy that gains the spec's words.
    cell* proto = make("a: [1]");
    cell* made = object::construct(code("b: 2"), proto, false);
    EXPECT_EQ(field_text(made, "a"), "[1]");
    EXPECT_NE(field(made, "a")->w2, field(proto, "a")->w2);
    EXPECT_EQ(field_text(made, "b"), "2");
}

TEST_F(Objects, MoldAndForm) {
    cell* o = make("a: 1 b: 2");
    struct row {
        bool only, all, flat;
        int indent;
        const char* text;
    } rows[] = {
        {false, false, false, 0, "make object! [\n    a: 1\n    b: 2\n]"},
        {false, false, true, 0, "make object! [a: 1 b: 2]"},
        {true, false, false, 0, "a: 1\nb: 2"},
        {false, false, false, 1, "make object! [\n        a: 1\n        b: 2\n    ]"},
    };
    for (const row& r : rows) EXPECT_EQ(mold_with(o, r.only, r.all, r.flat, r.indent), r.text) << r.text;
    EXPECT_EQ(formed(o), "a: 1\nb: 2");
    EXPECT_EQ(molded(make("")), "make object! []");
    EXPECT_EQ(molded(make("w: 'x")), "make object! [\n    w: 'x\n]");

    // Nested objects indent one level further; a self reference molds as the cycle mark.
    cell* outer = make("n: 1");
    cell* inner = make("c: 3");
    set_path(outer, "n", inner);
    EXPECT_EQ(molded(outer), "make object! [\n    n: make object! [\n        c: 3\n    ]\n]");
    set_path(inner, "c", inner);
    EXPECT_EQ(molded(inner), "make object! [\n    c: make object! [...]\n]");

    // Handler fields only with /all.
    cell* handled = object::construct(code("x: 1 on-change*: 0"), nullptr, false);
    EXPECT_EQ(mold_with(handled, false, false, true), "make object! [x: 1]");
    EXPECT_EQ(mold_with(handled, false, true, true), "make object! [x: 1 on-change*: 0]");
}

TEST_F(Objects, PathAccess) {
    cell* o = make("a: 1 b: 2");
    cell* a = word("a");
    EXPECT_EQ(molded(object::eval_path(o, a, nullptr, nullptr, nullptr, nullptr, 1, 0, false, true, false)), "1");
    EXPECT_EQ(a->w1, o->w1) << "the element learns its binding";
    set_path(o, "b", integer::push(20));
    EXPECT_EQ(field_text(o, "b"), "20");

    cell* path = code("o/zz");
    cell::set_type(path, TYPE_PATH);
    struct row {
        const char* element;
        bool set, get_only, tail;
        int expected;  // error code, or -1 for an unset! result
    } rows[] = {
        {"zz", false, false, true, code_of(err::script_invalid_path)},
        {"zz", false, false, false, code_of(err::script_unset_path)},
        {"zz", false, true, false, code_of(err::script_unset_path)},
        {"zz", false, true, true, -1},
        {"zz", true, false, true, code_of(err::script_invalid_path)},
        {"self", true, false, true, code_of(err::script_invalid_path)},  // self is not a field
    };
    for (const row& r : rows) {
        cell* result = nullptr;
        int raised = raise_of([&] {
                         result = object::eval_path(o, word(r.element), r.set ? integer::push(1) : nullptr, path,
                                                    nullptr, nullptr, 1, 0, r.get_only, r.tail, false);
                     }).code;
        if (r.expected < 0) {
            EXPECT_EQ(raised, -1);
            ASSERT_NE(result, nullptr);
            EXPECT_TRUE(result->is(TYPE_UNSET));
        } else {
            EXPECT_EQ(raised, r.expected) << r.element << r.set << r.get_only << r.tail;
        }
    }
    auto invalid = raise_of([&] {
        object::eval_path(o, integer::push(1), nullptr, path, nullptr, nullptr, 1, 0, false, true, false);
    });
    EXPECT_EQ(invalid.code, code_of(err::script_invalid_path));
    EXPECT_EQ(invalid.arg1, "o/zz");
}

TEST_F(Objects, CompareByFieldsAndIdentity) {
    cell* a = make("x: 1 y: \"s\"");
    cell* b = make("x: 1 y: \"s\"");
    cell* c = make("x: 2 y: \"s\"");
    cell* longer = make("x: 1 y: \"s\" z: 0");
    cell* other_words = make("x: 1 w: \"s\"");
    cell* number_kind = make("x: 1.0 y: \"s\"");
    EXPECT_EQ(object::compare(a, b, 0), 0);
    EXPECT_EQ(object::compare(a, a, 9), 0);
    EXPECT_EQ(object::compare(a, b, 9), -1) << "same? is identity";
    EXPECT_LT(object::compare(a, c, 0), 0);
    EXPECT_GT(object::compare(c, a, 0), 0);
    EXPECT_LT(object::compare(a, longer, 0), 0);
    EXPECT_GT(object::compare(longer, a, 0), 0);
    EXPECT_NE(object::compare(a, other_words, 0), 0);
    EXPECT_EQ(object::compare(a, number_kind, 0), 0) << "numbers compare across integer! and float!";
    EXPECT_EQ(object::compare(a, integer::push(1), 0), -2);
    // Objects that hold each other compare without looping.
    set_path(a, "x", b);
    set_path(b, "x", a);
    EXPECT_EQ(object::compare(a, b, 0), 0);
}

TEST_F(Objects, Reflect) {
    cell* o = make("a: 1 b: 'w p: 0");
    auto reflect = [&](const char* field_name) { return molded(object::reflect(o, symbol::make(field_name))); };
    EXPECT_EQ(reflect("changed"), "[]");
    set_path(o, "a", integer::push(5));
    EXPECT_EQ(reflect("changed"), "[a]");
    cell* path = code("x y");
    cell::set_type(path, TYPE_PATH);
    set_path(o, "p", path);
    EXPECT_EQ(reflect("changed"), "[a p]");
    EXPECT_EQ(reflect("words"), "[a b p]");
    EXPECT_EQ(reflect("values"), "[5 w x/y]");
    // Words and paths in the body are quoted, so that evaluating it gives the values back.
    EXPECT_EQ(reflect("body"), "[\n    a: 5\n    b: 'w\n    p: 'x/y\n]");
    EXPECT_EQ(reflect("class"), std::to_string(class_of(o)));
    EXPECT_EQ(reflect("owner"), "false");
    EXPECT_EQ(reflect("events?"), "false");
    EXPECT_EQ(raise_of([&] { object::reflect(o, symbol::make("spec")); }).code, code_of(err::internal_not_done));
    // The words answered are bound to the object.
    cell* words = object::reflect(o, symbol::make("words"));
    EXPECT_EQ(block::get_cell(words, 1)->w1, o->w1);
    cell* none_value = stack::push_copy(&none::value);
    object::modify(o, word("changed"), none_value, false);
    EXPECT_EQ(reflect("changed"), "[]");
}

TEST_F(Objects, FieldActionsAndTheirErrors) {
    cell* o = make("a: 1");
    EXPECT_EQ(molded(object::select(o, word("a"), nullptr, false, false, false, false, nullptr, nullptr, false, false)),
              "1");
    EXPECT_TRUE(object::select(o, word("q"), nullptr, false, false, false, false, nullptr, nullptr, false, false)
                    ->is(TYPE_NONE));
    EXPECT_EQ(molded(object::put(o, word("a"), integer::push(9), false)), "9");
    EXPECT_EQ(field_text(o, "a"), "9");
    cell* set_word = word("a");
    cell::set_type(set_word, TYPE_SET_WORD);
    struct row {
        const char* what;
        std::function<void()> action;
        err expected;
        const char* arg1;
    } rows[] = {
        {"select integer", [&] { object::select(o, integer::push(1), nullptr, false, false, false, false, nullptr,
                                                nullptr, false, false); },
         err::script_invalid_type, "integer!"},
        {"put set-word", [&] { object::put(o, set_word, integer::push(1), false); }, err::script_invalid_key_type,
         "set-word!"},
        {"put missing", [&] { object::put(o, word("nope"), integer::push(1), false); }, err::script_invalid_path,
         "none"},
        {"modify changed", [&] { object::modify(o, word("changed"), integer::push(1), false); },
         err::script_invalid_arg, "1"},
        {"make from integer", [&] { object::make(datatype::push(TYPE_OBJECT), integer::push(3), TYPE_OBJECT); },
         err::syntax_malconstruct, "3"},
        {"a set-word without value", [&] { make("a: 1 b:"); }, err::script_need_value, "b:"},
    };
    for (const row& r : rows) {
        auto raised = raise_of(r.action);
        EXPECT_EQ(raised.code, code_of(r.expected)) << r.what;
        EXPECT_EQ(raised.arg1, r.arg1) << r.what;
    }
}

TEST_F(Objects, SetFromValues) {
    cell* o = make("a: 1 b: 2 c: 3");
    struct row {
        const char* source;
        bool as_block, only, some;
        const char* result;
    } rows[] = {
        {"7", true, false, false, "[7 none none]"},
        {"7 none 9", true, false, true, "[7 2 9]"},  // a none! value leaves its field alone
        {"7", true, true, false, "[[7] [7] [7]]"},
        {"8", false, false, false, "[8 8 8]"},
    };
    for (const row& r : rows) {
        cell* target = object::construct(code("a: 1 b: 2 c: 3"), nullptr, false);
        cell* source = code(r.source);
        if (!r.as_block) *source = *block::get_cell(source, 0);
        if (r.as_block && std::string(r.source).find("none") != std::string::npos) {
            // The none word of the notation is a none! value here.
            EXPECT_TRUE(block::get_cell(source, 1)->is(TYPE_NONE));
        }
        object::set_from_values(target, source, false, r.only, r.some);
        EXPECT_EQ(molded(object::reflect(target, symbols::values)), r.result) << r.source;
    }
    // From another object, by word.
    cell* from = make("c: 30 a: 10 z: 0");
    object::set_from_values(o, from, false, false, false);
    EXPECT_EQ(molded(object::reflect(o, symbols::values)), "[10 2 30]");
    // An unset! value is refused before anything is assigned.
    cell* with_unset = code("5 6");
    cell::init_unset(block::get_cell(with_unset, 1));
    auto raised = raise_of([&] { object::set_from_values(o, with_unset, false, false, false); });
    EXPECT_EQ(raised.code, code_of(err::script_need_value));
    EXPECT_EQ(raised.arg1, "b");
    EXPECT_EQ(molded(object::reflect(o, symbols::values)), "[10 2 30]");
    object::set_from_values(o, with_unset, true, false, false);
    EXPECT_TRUE(field(o, "b")->is(TYPE_UNSET));
}

TEST_F(Objects, ClassTestsOfCompiledCode) {
    cell* o = make("a: 1");
    cell* holder = make("slot: 0");
    set_path(holder, "slot", o);
    EXPECT_TRUE(object::slot_has_class(holder->w1, 0, class_of(o)));
    EXPECT_FALSE(object::slot_has_class(holder->w1, 0, class_of(o) + 1));
    EXPECT_FALSE(object::slot_has_class(holder->w1, 5, class_of(o)));
    cell* global = word("object-test-global");
    word::set_value(global, o);
    EXPECT_TRUE(object::word_has_class(global, class_of(o)));
    EXPECT_FALSE(object::word_has_class(global, 0));
    cell* empty = stack::push_slot();
    object::init_empty(empty, 3);
    EXPECT_EQ(class_of(empty), 0);
    EXPECT_EQ(object::field_count(empty->w1), 0);
    cell* again = object::push_from_context(holder->w1, 42);
    EXPECT_EQ(again->w1, holder->w1);
    EXPECT_EQ(class_of(context::self_cell(holder->w1)), 42);
}

}  // namespace
}  // namespace zor
