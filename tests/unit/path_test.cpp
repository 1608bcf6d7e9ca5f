// The path types and paren!: construction, conversion, texts, copies and which actions
// each refuses.
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "tests/unit/spec_notation.h"

namespace zor {
namespace {

using testing::code;
using testing::code_of;
using testing::molded;
using testing::raise_of;

class PathTest : public testing::stack_fixture {
protected:
    // A value of the type holding the cells written in the notation.
    cell* value_of(type_id type, const std::string& cells) {
        cell* block = code(cells);
        block->header = type;
        return block;
    }
    cell* make(type_id type, cell* spec) {
        cell target{TYPE_DATATYPE, type, 0, 0};
        return stack::push_copy(testing::handler_for<ACTION_MAKE>(type)(&target, spec, type));
    }
    cell* to(type_id type, cell* spec) {
        cell target{TYPE_DATATYPE, type, 0, 0};
        return stack::push_copy(testing::handler_for<ACTION_TO>(type)(&target, spec, type));
    }
    static int64_t capacity_of(const cell* series) { return memory::buffer_of(series->w2)->size / 16; }
    static cell number(type_id type, double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        return cell{type, 0, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
    }
};

TEST_F(PathTest, MoldAndFormOfEachPathType) {
    struct text_case {
        type_id type;
        const char* cells;
        const char* mold;
        const char* form;
    };
    const text_case cases[] = {
        {TYPE_PATH, "a b", "a/b", "a/b"},
        {TYPE_LIT_PATH, "a b", "'a/b", "a/b"},
        {TYPE_GET_PATH, "a b", ":a/b", "a/b"},
        {TYPE_SET_PATH, "a b", "a/b:", "a/b"},
        {TYPE_PATH, "a", "a", "a"},  // one element: no "/"
        {TYPE_SET_PATH, "a", "a:", "a"},
        {TYPE_PATH, "", "", ""},
        {TYPE_LIT_PATH, "", "'", ""},
        {TYPE_PATH, "obj 1 (n + 1) \"text\" [x]", "obj/1/(n + 1)/\"text\"/[x]", "obj/1/n + 1/text/x"},
        {TYPE_PAREN, "a b", "(a b)", "a b"},
        {TYPE_PAREN, "", "()", ""},
    };
    for (const text_case& c : cases) {
        SCOPED_TRACE(c.mold);
        cell* value = value_of(c.type, c.cells);
        EXPECT_EQ(molded(value), c.mold);
        EXPECT_EQ(testing::formed(value), c.form);
        stack::drop_slots(1);
    }
}

TEST_F(PathTest, TheWalkStartsAtTheIndexAndChargesEachCharacter) {
    cell* path = value_of(TYPE_GET_PATH, "a bb ccc");
    path->w1 = 1;
    EXPECT_EQ(molded(path), ":bb/ccc");
    cell* output = string::push_empty();
    int left = actions::dispatch_mold(path, output, false, false, false, nullptr, 100, 0);
    EXPECT_EQ(left, 100 - 7);
    // With a part limit the walk stops once the budget is used up.
    cell limit{TYPE_INTEGER, 0, 3, 0};
    cell* path_head = value_of(TYPE_PATH, "a b c d e f");
    string::reset(output);
    left = actions::dispatch_mold(path_head, output, false, false, false, &limit, 3, 0);
    EXPECT_EQ(string::to_utf8(output), "a/b/");
    EXPECT_LT(left, 1);
}

TEST_F(PathTest, AParenMoldedWithOnlyLosesItsParentheses) {
    cell* paren = value_of(TYPE_PAREN, "a (b)");
    EXPECT_EQ(molded(paren, true), "a (b)");
    EXPECT_EQ(molded(paren, false), "(a (b))");
}

TEST_F(PathTest, APathInsideItselfIsWrittenAsItsCycleMark) {
    cell* path = value_of(TYPE_PATH, "a");
    block::append_copy(path, path);
    EXPECT_EQ(molded(path), "a/...");
    EXPECT_EQ(testing::formed(path), "a/...");
    cell* set = stack::push_copy(path);
    set->header = TYPE_SET_PATH;
    EXPECT_EQ(molded(set), "a/...:");
}

TEST_F(PathTest, MakeFromASizeOrABlockLikeValue) {
    struct size_case {
        cell size;
        int64_t capacity;
    };
    const size_case sizes[] = {
        {cell{TYPE_INTEGER, 0, 0, 0}, 1},  // room for one element at least
        {cell{TYPE_INTEGER, 0, 5, 0}, 5},
        {cell{TYPE_INTEGER, 0, static_cast<uint32_t>(-3), 0}, 1},
        {number(TYPE_FLOAT, 2.9), 2},     // truncated toward zero
        {number(TYPE_FLOAT, -0.5), 1},
        {number(TYPE_PERCENT, 3.5), 3},
    };
    for (type_id type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
        for (const size_case& s : sizes) {
            cell* spec = stack::push_copy(&s.size);
            cell* made = make(type, spec);
            EXPECT_EQ(made->header, uint32_t(type));
            EXPECT_EQ(series::index_of(made), 0);
            EXPECT_EQ(block::rest_length(made), 0);
            EXPECT_EQ(capacity_of(made), s.capacity) << molded(spec);
            stack::drop_slots(2);
        }
    }
    // From block-like values: a copy of the cells from the index, typed as asked.
    cell* source = value_of(TYPE_PAREN, "x a b");
    source->header |= FLAG_NEW_LINE;
    source->w1 = 1;
    cell* made = make(TYPE_SET_PATH, source);
    EXPECT_EQ(made->header, uint32_t(TYPE_SET_PATH));
    EXPECT_EQ(molded(made), "a/b:");
    EXPECT_NE(made->w2, source->w2);
    cell* from_path = make(TYPE_PATH, made);
    EXPECT_EQ(molded(from_path), "a/b");
}

TEST_F(PathTest, MakeRefusesOtherValues) {
    const char* refused[] = {"\"a/b\"", "a", "none", "#a"};
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        cell* spec = stack::push_copy(block::get_cell(code(text), 0));
        EXPECT_EQ(raise_of([&] { make(TYPE_PATH, spec); }).code, code_of(err::script_bad_make_arg));
        stack::drop_slots(2);
    }
    cell huge = number(TYPE_FLOAT, 1e12);
    cell* spec = stack::push_copy(&huge);
    EXPECT_EQ(raise_of([&] { make(TYPE_PATH, spec); }).code, code_of(err::script_out_of_range));
}

TEST_F(PathTest, ToWrapsObjectsTypesetsAndMapsAndConvertsTheRest) {
    cell* fields = code("n");
    node_ref object_context = context::make_from_words(fields, false, true, context::KIND_OBJECT);
    cell* object = stack::push_slot();
    *object = cell{TYPE_OBJECT, object_context, 0, 0};
    cell* from_object = to(TYPE_PATH, object);
    ASSERT_EQ(block::rest_length(from_object), 1);
    EXPECT_TRUE(block::get_cell(from_object, 0)->is(TYPE_OBJECT));
    EXPECT_EQ(block::get_cell(from_object, 0)->w1, object->w1);

    cell* types = stack::push_slot();
    typeset::clear(types);
    typeset::add(types, TYPE_INTEGER);
    cell* from_typeset = to(TYPE_LIT_PATH, types);
    EXPECT_EQ(from_typeset->header, uint32_t(TYPE_LIT_PATH));
    ASSERT_EQ(block::rest_length(from_typeset), 1);
    EXPECT_TRUE(block::get_cell(from_typeset, 0)->is(TYPE_TYPESET));

    cell* from_block = to(TYPE_GET_PATH, value_of(TYPE_BLOCK, "a b"));
    EXPECT_EQ(molded(from_block), ":a/b");
    cell* from_word = to(TYPE_PATH, stack::push_copy(block::get_cell(code("a"), 0)));
    EXPECT_EQ(molded(from_word), "a");
}

TEST_F(PathTest, CopyKeepsThePathType) {
    for (type_id type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
        cell* path = value_of(type, "a (b) c");
        path->w1 = 1;
        cell* result = stack::push_slot();
        auto copy = testing::handler_for<ACTION_COPY>(type);
        ASSERT_NE(copy, nullptr);
        copy(path, result, nullptr, true, nullptr);
        EXPECT_EQ(result->type(), type);
        EXPECT_EQ(block::rest_length(result), 2);
        EXPECT_NE(result->w2, path->w2);
        stack::drop_slots(2);
    }
}

TEST_F(PathTest, CellBuildersClearTheFlags) {
    cell* value = value_of(TYPE_BLOCK, "a");
    value->header |= FLAG_NEW_LINE;
    struct builder_case {
        cell* (*push)(cell*);
        type_id type;
    };
    const builder_case builders[] = {{&path::push, TYPE_PATH},         {&lit_path::push, TYPE_LIT_PATH},
                                     {&set_path::push, TYPE_SET_PATH}, {&get_path::push, TYPE_GET_PATH},
                                     {&paren::push, TYPE_PAREN}};
    for (const builder_case& b : builders) {
        value->header |= FLAG_NEW_LINE;
        cell* pushed = b.push(value);
        EXPECT_EQ(pushed->header, uint32_t(b.type));
        EXPECT_EQ(value->header, uint32_t(b.type)) << "the given cell is retyped too";
        EXPECT_EQ(pushed->w2, value->w2);
    }
    cell* empty = path::make_empty(stack::push_slot(), 4);
    EXPECT_EQ(empty->header, uint32_t(TYPE_PATH));
    EXPECT_EQ(block::rest_length(empty), 0);
    EXPECT_EQ(capacity_of(empty), 4);
}

TEST_F(PathTest, WhichActionsEachTypeRefuses) {
    // Paths refuse random, set-path, the arithmetic and bitwise actions, sort, trim and the
    // port actions; paren! refuses the same but for random and sort.
    auto refused_by_paths = [](int a) {
        return a == ACTION_RANDOM || a == ACTION_SET_PATH || (a >= ACTION_ABSOLUTE && a <= ACTION_XOR_T) ||
               a == ACTION_SORT || (a >= ACTION_TRIM && a <= ACTION_DELETE) || a >= ACTION_OPEN;
    };
    for (type_id type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_PAREN}) {
        for (int a = 1; a <= ACTION_COUNT; ++a) {
            bool refused = refused_by_paths(a);
            if (type == TYPE_PAREN && (a == ACTION_RANDOM || a == ACTION_SORT)) refused = false;
            EXPECT_EQ(type_registry::handler_of(type, static_cast<action>(a)) == nullptr, refused)
                << type_registry::type_entries[type].name << " " << action_names[a - 1];
        }
    }
    // What the subtypes take from path!, and path! from block!.
    EXPECT_EQ(type_registry::handler_of(TYPE_SET_PATH, ACTION_FORM), type_registry::handler_of(TYPE_PATH, ACTION_FORM));
    EXPECT_NE(type_registry::handler_of(TYPE_SET_PATH, ACTION_MOLD), type_registry::handler_of(TYPE_PATH, ACTION_MOLD));
    EXPECT_EQ(type_registry::handler_of(TYPE_PATH, ACTION_FIND), type_registry::handler_of(TYPE_BLOCK, ACTION_FIND));
}

TEST_F(PathTest, PathsCompareAsBlocks) {
    cell* left = value_of(TYPE_PATH, "a b");
    cell* right = value_of(TYPE_PATH, "a b");
    cell* lit = value_of(TYPE_LIT_PATH, "a b");
    EXPECT_EQ(actions::dispatch_compare(left, right, 0), 0);
    EXPECT_EQ(actions::dispatch_compare(left, lit, 0), -2);
    EXPECT_EQ(actions::dispatch_compare(left, lit, 10), 0) << "a path equals its lit-path form";
}

}  // namespace
}  // namespace zor
