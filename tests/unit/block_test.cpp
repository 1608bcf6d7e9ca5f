// Block storage: the cell-series routines, molding with new-line markers and cycles,
// forming, and the comparison of block-like values.
#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "tests/unit/block_notation.h"

namespace zor {
namespace {

using testing::build;
using testing::code_of;
using testing::describe;
using testing::mold_text;
using testing::raised_code;

// The first value of a notation, pushed.
cell* value_of(const char* text) {
    cell* holder = build(text);
    cell* value = stack::push_copy(block::get_cell(holder, 0));
    return value;
}

std::string form_text(const cell* value) {
    cell* held = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_form(held, output, nullptr, 0);
    std::string text = string::to_utf8(output);
    stack::drop_slots(2);
    return text;
}

class BlockStorage : public testing::collected_fixture {};

// --- Molding and forming -------------------------------------------------------------------------

TEST_F(BlockStorage, MoldHonoursNewLineMarkers) {
    const struct {
        const char* name;
        const char* input;
        bool only;
        bool flat;
        const char* expected;
    } cases[] = {
        {"no markers", "1 2 3", false, false, "[1 2 3]"},
        {"empty", "", false, false, "[]"},
        {"every value marked", "~1 ~2 ~3", false, false, "[\n    1\n    2\n    3\n]"},
        {"a later marker starts a line at the same level", "1 ~2 3", false, false, "[1\n2 3]"},
        {"a nested block indents one more level", "~1 [~2 3]", false, false,
         "[\n    1 [\n        2 3\n    ]\n]"},
        {"a nested marker without an outer one", "1 [~2 ~3]", false, false, "[1 [\n    2\n    3\n]]"},
        {"flat ignores markers", "~1 ~2 [~3]", false, true, "[1 2 [3]]"},
        {"only drops the brackets", "1 [2] 3", true, false, "1 [2] 3"},
        {"only with a marked first value", "~1 ~2", true, false, "1\n2"},
        {"parens keep their own brackets", "(1 ~2) (3)", false, false, "[(1\n2) (3)]"},
        {"datatypes and logic", "integer! true false none", false, false, "[integer! true false none]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* block = build(c.input);
        EXPECT_EQ(mold_text(block, c.only, c.flat), c.expected);
    }
}

TEST_F(BlockStorage, MoldAndFormStopAtCycles) {
    reset_stack();
    cell* block = build("1");
    block::append_copy(block, block);  // [1 <itself>]
    EXPECT_EQ(mold_text(block), "[1 [...]]");
    EXPECT_EQ(form_text(block), "1 ...");
    cell* paren = build("");
    cell::set_type(paren, TYPE_PAREN);
    block::append_copy(paren, paren);
    EXPECT_EQ(mold_text(paren), "((...))");
    EXPECT_EQ(mold_guard::depth(), 0);
}

TEST_F(BlockStorage, FormSeparatesValuesWithOneSpace) {
    const struct {
        const char* input;
        int32_t start;
        const char* expected;
    } cases[] = {
        {"1 2 3", 0, "1 2 3"},
        {"1 [2 3] 4", 0, "1 2 3 4"},
        {"1 2 3", 1, "2 3"},
        {"", 0, ""},
        {"[] 1", 0, " 1"},  // an empty output still wants its separator
        {"a none true", 0, "a none true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        reset_stack();
        cell* block = build(c.input);
        block->w1 = static_cast<uint32_t>(c.start);
        EXPECT_EQ(form_text(block), c.expected);
    }
}

TEST_F(BlockStorage, APartBudgetStopsTheWalk) {
    reset_stack();
    cell* block = build("1 2 3 4 5");
    cell* output = string::push_empty();
    cell* part = integer::make_in(stack::push_slot(), 3);
    int left = actions::dispatch_mold(block, output, false, false, false, part, 3, 0);
    std::string text = string::to_utf8(output);
    EXPECT_EQ(text.substr(0, 3), "[1 ");
    EXPECT_EQ(text.find('3'), std::string::npos) << text;
    EXPECT_LT(left, 1);
}

// --- Comparing --------------------------------------------------------------------------------------

TEST_F(BlockStorage, CompareOrdersByCellsThenLength) {
    const struct {
        const char* name;
        const char* left;
        const char* right;
        int op;
        int expected;
    } cases[] = {
        {"equal", "[1 2]", "[1 2]", 0, 0},
        {"strictly equal", "[1 a]", "[1 a]", 2, 0},
        {"different lengths are unequal", "[1 2]", "[1 2 3]", 0, 1},
        {"not equal", "[1 2]", "[1 3]", 1, -1},
        {"ordered by the first different cell", "[1 5]", "[2 0]", 3, -1},
        {"greater", "[1 3]", "[1 2]", 5, 1},
        {"the empty one orders first", "[]", "[1]", 7, -1},
        {"a prefix orders first", "[1 2]", "[1 2 0]", 7, -1},
        {"numbers of two types compare", "[1]", "[1.0]", 0, 0},
        {"types that cannot compare order by id", "[1 a]", "[1 integer!]", 7, 1},
        {"nested blocks compare inside", "[[1 2]]", "[[1 3]]", 7, -1},
        {"two distinct series are not the same", "[1]", "[1]", 9, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* left = value_of(c.left);
        cell* right = value_of(c.right);
        int answer = actions::dispatch_compare(left, right, c.op);
        EXPECT_EQ(answer < 0 ? -1 : answer > 0 ? 1 : 0, c.expected);
    }
    reset_stack();
    cell* same = build("1 2");
    cell* copy = stack::push_copy(same);
    EXPECT_EQ(block::compare(same, copy, 9), 0);
    copy->w1 = 1;
    EXPECT_EQ(block::compare(same, copy, 9), -1);
    cell* paren = value_of("(1 2)");
    EXPECT_EQ(block::compare(same, paren, 0), -2);
    // A path equals its lit-path form under the further equality codes only.
    cell* path = value_of("[a b]");
    cell::set_type(path, TYPE_PATH);
    cell* lit_path = value_of("[a b]");
    cell::set_type(lit_path, TYPE_LIT_PATH);
    EXPECT_EQ(block::compare(path, lit_path, 10), 0);
    EXPECT_EQ(block::compare(lit_path, path, 11), 0);
    EXPECT_EQ(block::compare(path, lit_path, 0), -2);
}

TEST_F(BlockStorage, AStringOrdersBeforeAWordByTypeId) {
    reset_stack();
    cell* with_word = build("1 a");
    cell* with_string = build("1");
    cell* text = string::push_empty();
    string::append_c_string(text, "a");
    block::append_copy(with_string, text);
    EXPECT_EQ(block::compare(with_word, with_string, 7), 1);
    EXPECT_EQ(block::compare(with_string, with_word, 7), -1);
}

TEST_F(BlockStorage, CyclicBlocksCompareWithoutLooping) {
    reset_stack();
    cell* a = build("1");
    block::append_copy(a, a);
    cell* b = build("1");
    block::append_copy(b, b);
    EXPECT_EQ(block::compare(a, b, 0), 0);
    EXPECT_EQ(block::compare(a, b, 7), 0);
    EXPECT_EQ(mold_guard::depth(), 0);
}

// --- Reading and positioning ----------------------------------------------------------------------------

TEST_F(BlockStorage, PositionRoutinesTolerateAStaleIndex) {
    reset_stack();
    cell* block = build("1 2 3");
    block->w1 = 1;
    EXPECT_EQ(block::rest_length(block), 2);
    EXPECT_FALSE(block::advance(block));
    EXPECT_TRUE(block::advance(block));  // now exactly at the tail
    EXPECT_TRUE(block::advance(block));  // stays there
    EXPECT_EQ(series::index_of(block), 3);
    EXPECT_TRUE(block::is_at_tail(block));
    block->w1 = 7;
    EXPECT_EQ(block::rest_length(block), -4);
    EXPECT_FALSE(block::is_at_tail(block));  // only exactly at the tail
    EXPECT_FALSE(block::advance(block));
    EXPECT_EQ(block::get_current_cell(block), block::get_tail(block));
    EXPECT_EQ(series::index_of(block), 3);
    block->w1 = 1;
    block::clear_from_index(block);
    EXPECT_EQ(describe(block), "@1 [1]");
    block->w1 = 5;
    block::clear_from_index(block);  // never lengthens
    EXPECT_EQ(block::rest_length(block), -4);
    cell* longer = build("1 2 3");
    longer->w1 = 3;
    block::drop_last_cell(longer);
    EXPECT_EQ(describe(longer), "@2 [1 2]");
    block::truncate(longer, 0);
    block::drop_last_cell(longer);
    EXPECT_EQ(describe(longer), "@2 []");
}

// --- Building and editing --------------------------------------------------------------------------------

TEST_F(BlockStorage, AppendingACellOfTheGrowingBlockItself) {
    reset_stack();
    cell* block = block::make_empty(stack::push_slot(), 1);
    block::append_copy(block, value_of("[7]"));
    stack::drop_slots(2);
    for (int i = 0; i < 6; ++i) block::append_copy(block, block::get_cell(block, i));
    EXPECT_EQ(describe(block), "@0 [[7] [7] [7] [7] [7] [7] [7]]");
    // An empty buffer grows too.
    cell* empty = block::make_empty(stack::push_slot(), -5);
    block::append_copy(empty, block);
    EXPECT_EQ(block::rest_length(empty), 1);
}

TEST_F(BlockStorage, InsertingAndAppendingRuns) {
    reset_stack();
    cell* block = build("1 2 3");
    block->w1 = 1;
    block::insert_cell(block, value_of("a"), true, false);
    EXPECT_EQ(describe(block), "@2 [1 a 2 3]");
    block::insert_cell(block, value_of("b"), true, true);
    EXPECT_EQ(describe(block), "@3 [b 1 a 2 3]");
    block::insert_cell(block, value_of("c"), false, false);
    EXPECT_EQ(describe(block), "@3 [b 1 a c 2 3]");

    cell* self = build("1 2");
    self->w1 = 1;
    cell* source = stack::push_copy(self);
    source->w1 = 0;
    block::insert_all(self, source);  // reads the cells as they were
    EXPECT_EQ(describe(self), "@3 [1 1 2 2]");

    cell* destination = build("x");
    cell* rest = build("1 2 3");
    rest->w1 = 1;
    block::append_rest(destination, rest);
    EXPECT_EQ(describe(destination), "@0 [x 2 3]");
    block::append_rest(destination, destination);
    EXPECT_EQ(describe(destination), "@0 [x 2 3 x 2 3]");
}

TEST_F(BlockStorage, StackBuilders) {
    reset_stack();
    cell* value = value_of("z");
    cell* q = value_of("q");
    // The routines of compiled code work on the result slot and the cell just below it.
    cell* outer = build("1");
    cell* result = stack::push_copy(value);
    stack::state.args_base = result;
    block::append_result_to_outer();
    block::insert_result_into_outer();
    EXPECT_EQ(describe(outer), "@1 [z 1 z]");
    cell* base = stack::push_copy(outer);
    stack::push_copy(q);
    stack::state.args_base = base;
    EXPECT_EQ(describe(block::append_second_arg()), "@1 [z 1 z q]");
    stack::state.args_base = stack::state.args_begin;
    cell* pushed = block::push_empty(0);
    block::append_copy(pushed, value);
    EXPECT_EQ(describe(pushed), "@0 [z]");
    EXPECT_EQ(describe(block::push_value(value)), "z");
}

TEST_F(BlockStorage, SelectAndRemoveByValue) {
    reset_stack();
    cell* block = build("a 1 b 2 c");
    EXPECT_EQ(describe(block::select_value(block, value_of("b"))), "2");
    EXPECT_EQ(block::select_value(block, value_of("c"))->type(), TYPE_NONE);  // the last cell
    EXPECT_EQ(block::select_value(block, value_of("z"))->type(), TYPE_NONE);
    block->w1 = 2;
    EXPECT_EQ(block::select_value(block, value_of("a"))->type(), TYPE_NONE);  // before the index

    EXPECT_EQ(block::remove_value(block, value_of("z"), true), 0);
    EXPECT_EQ(describe(block), "@2 [a 1 b 2 c]");
    EXPECT_EQ(block::remove_value(block, value_of("a"), false), 0);  // searched from the index
    EXPECT_EQ(describe(block), "@2 [a 1 b 2 c]");
    EXPECT_EQ(block::remove_value(block, value_of("a"), true), 1);  // at or before the index
    EXPECT_EQ(describe(block), "@2 [1 b 2 c]");
    EXPECT_EQ(block::remove_value(block, value_of("c"), false), 0);  // after the index
    EXPECT_EQ(describe(block), "@2 [1 b 2]");
}

TEST_F(BlockStorage, SelectWordByExactOrCanonicalSymbol) {
    reset_stack();
    cell* block = build("Key 1 key 2 key: 3");
    cell* lower = value_of("key");
    EXPECT_EQ(describe(block::select_word(block, lower, false)), "1");
    EXPECT_EQ(describe(block::select_word(block, lower, true)), "2");
    cell* last_word = build("x 1 y");
    EXPECT_EQ(block::select_word(last_word, value_of("y"), false)->type(), TYPE_NONE);
    EXPECT_EQ(block::select_word(last_word, value_of("1"), false)->type(), TYPE_NONE);
}

TEST_F(BlockStorage, PushCopyShallowDeepAndCyclic) {
    reset_stack();
    cell* source = build("~1 [2 (3)] 4");
    source->header |= FLAG_NEW_LINE;
    source->w1 = 1;
    cell* shallow = block::push_copy(source, false, false);
    EXPECT_EQ(describe(shallow), "@0 [[2 (3)] 4]");
    EXPECT_EQ(shallow->header & FLAG_NEW_LINE, 0u);
    EXPECT_EQ(block::get_cell(shallow, 0)->w2, block::get_cell(source, 1)->w2);  // shared

    cell* deep = block::push_copy(source, true, false);
    EXPECT_NE(block::get_cell(deep, 0)->w2, block::get_cell(source, 1)->w2);
    cell* nested = stack::push_copy(block::get_cell(deep, 0));
    EXPECT_EQ(block::get_cell(nested, 1)->w2, block::get_cell(stack::push_copy(block::get_cell(source, 1)), 1)->w2);
    cell* with_paths = block::push_copy(source, true, true);
    cell* nested_paths = stack::push_copy(block::get_cell(with_paths, 0));
    cell* original_nested = stack::push_copy(block::get_cell(source, 1));
    EXPECT_NE(block::get_cell(nested_paths, 1)->w2, block::get_cell(original_nested, 1)->w2);
    EXPECT_EQ(describe(with_paths), "@0 [[2 (3)] 4]");

    source->w1 = 9;  // stale: an empty copy that can still grow
    cell* empty = block::push_copy(source, false, false);
    EXPECT_EQ(describe(empty), "@0 []");
    block::append_copy(empty, value_of("5"));
    EXPECT_EQ(describe(empty), "@0 [5]");

    cell* paren = value_of("(1 2)");
    EXPECT_EQ(block::push_copy(paren, false, false)->type(), TYPE_PAREN);

    cell* cyclic = build("1");
    block::append_copy(cyclic, cyclic);
    EXPECT_EQ(raised_code([&] { block::push_copy(cyclic, true, false); }), code_of(err::internal_no_cycle));
    EXPECT_EQ(mold_guard::depth(), 0);
}

TEST_F(BlockStorage, CopyNestedOfTypes) {
    reset_stack();
    cell* block = build("[1] (2) [3] 4");
    cell* types = stack::push_slot();
    datatype::make_in(types, TYPE_BLOCK);
    cell* original = block::push_copy(block, false, false);
    block::copy_nested_of_types(block, 0, 4, 1, false, types);
    EXPECT_NE(block::get_cell(block, 0)->w2, block::get_cell(original, 0)->w2);
    EXPECT_EQ(block::get_cell(block, 1)->w2, block::get_cell(original, 1)->w2);  // a paren! is not block!
    EXPECT_NE(block::get_cell(block, 2)->w2, block::get_cell(original, 2)->w2);
    cell* stepped = block::push_copy(original, false, false);
    block::copy_nested_of_types(stepped, 0, 4, 2, false, types);  // every second cell only
    EXPECT_NE(block::get_cell(stepped, 0)->w2, block::get_cell(original, 0)->w2);
    EXPECT_NE(block::get_cell(stepped, 2)->w2, block::get_cell(original, 2)->w2);
    EXPECT_EQ(describe(stepped), "@0 [[1] (2) [3] 4]");
}

TEST_F(BlockStorage, MakingBlocks) {
    reset_stack();
    cell* made = block::make_empty(stack::push_slot(), -3);
    EXPECT_EQ(memory::buffer_of(made->w2)->size, 16);
    cell* prefilled = block::make_empty_static(stack::push_slot(), 3, false);
    memory::series_buffer* b = memory::buffer_of(prefilled->w2);
    for (cell* c = reinterpret_cast<cell*>(b->data()); c < reinterpret_cast<cell*>(b->data_end()); ++c) {
        EXPECT_EQ(c->type(), TYPE_UNSET);
    }
    cell* fixed = block::make_empty_static(stack::push_slot(), 3, true);
    EXPECT_TRUE(memory::buffer_of(fixed->w2)->flags & memory::FLAG_HEAP);
    cell* holder = build("1");
    cell* inner = block::make_empty_at_tail(holder, 4);
    EXPECT_EQ(inner->type(), TYPE_BLOCK);
    EXPECT_EQ(describe(holder), "@0 [1 []]");
}

}  // namespace
}  // namespace zor
