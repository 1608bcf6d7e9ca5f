// block! actions: find, select, put, the writers, make and to, path access, copy, take,
// swap, trim, sort and the set operations, called as the action entries call them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "tests/unit/block_notation.h"
#include "runtime/value/upcalls.h"

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
    return stack::push_copy(block::get_cell(holder, 0));
}
cell* push_integer(int32_t v) { return integer::make_in(stack::push_slot(), v); }
std::string from_head(const cell* series) {
    cell* head = stack::push_copy(series);
    head->w1 = 0;
    std::string text = mold_text(head);
    stack::drop_slots(1);
    return text;
}

class BlockActions : public testing::collected_fixture {};

// --- find and select ---------------------------------------------------------------------------------

struct search_options {
    int part = 0;  // 0: no /part
    bool only = false;
    bool case_sensitive = false;
    bool same = false;
    int skip = 0;  // 0: no /skip
    bool last = false;
    bool reverse = false;
    bool tail = false;
    bool match = false;
};

struct find_case {
    const char* name;
    const char* series;
    int32_t start;
    const char* value;  // its first value is searched for
    search_options options;
    const char* expected;
};

cell* run_find(cell* s, cell* value, const search_options& o) {
    cell* part = o.part ? push_integer(o.part) : nullptr;
    cell* skip = o.skip ? push_integer(o.skip) : nullptr;
    return actions::handler<ACTION_FIND>(s)(s, value, part, o.only, o.case_sensitive, o.same, false, nullptr, skip,
                                            o.last, o.reverse, o.tail, o.match);
}

TEST_F(BlockActions, FindWithEveryRefinement) {
    const char* letters = "a b c a b c d";
    const find_case cases[] = {
        {"a value", letters, 0, "b", {}, "@1"},
        {"from the index", letters, 2, "b", {}, "@4"},
        {"absent", letters, 0, "z", {}, "none"},
        {"a block is a sequence", letters, 0, "[b c]", {}, "@1"},
        {"a sequence from its index", letters, 0, "[c d]", {}, "@5"},
        {"an absent sequence", letters, 0, "[c b]", {}, "none"},
        {"a sequence running past the tail", letters, 0, "[d e]", {}, "none"},
        {"/only finds the block as one cell", "a [b c] d", 0, "[b c]", {.only = true}, "@1"},
        {"without /only the sequence is missing", "a [b c] d", 0, "[b c]", {}, "none"},
        {"a datatype finds a value of the type", "a 1 b 2", 0, "integer!", {}, "@1"},
        {"/only finds the datatype itself", "a 1 integer!", 0, "integer!", {.only = true}, "@2"},
        {"/tail after one value", letters, 0, "b", {.tail = true}, "@2"},
        {"/tail after a sequence", letters, 0, "[b c]", {.tail = true}, "@3"},
        {"/last", letters, 0, "a", {.last = true}, "@3"},
        {"/last stays after the index", letters, 4, "a", {.last = true}, "none"},
        {"/last of a sequence", letters, 0, "[a b]", {.last = true}, "@3"},
        {"/last/tail", letters, 0, "a", {.last = true, .tail = true}, "@4"},
        {"/reverse searches before the index", letters, 4, "c", {.reverse = true}, "@2"},
        {"/reverse from the tail", letters, 7, "d", {.reverse = true}, "@6"},
        {"/reverse of a sequence", letters, 5, "[a b]", {.reverse = true}, "@3"},
        {"/reverse/tail", letters, 4, "c", {.reverse = true, .tail = true}, "@3"},
        {"/reverse at the head", letters, 0, "a", {.reverse = true}, "none"},
        {"/match at the index", letters, 1, "b", {.match = true}, "@1"},
        {"/match fails on another first value", letters, 1, "c", {.match = true}, "none"},
        {"/match/tail", letters, 1, "[b c]", {.tail = true, .match = true}, "@3"},
        {"/skip looks at every second cell", "a 1 b 2 c 3", 0, "2", {.skip = 2}, "none"},
        {"/skip finds a record key", "a 1 b 2 c 3", 0, "b", {.skip = 2}, "@2"},
        {"/skip/tail moves past the record", "a 1 b 2 c 3", 0, "b", {.skip = 2, .tail = true}, "@4"},
        {"/part limits the cells", "a b c", 0, "c", {.part = 2}, "none"},
        {"/part including the value", "a b c", 0, "c", {.part = 3}, "@2"},
        {"/part past the tail", "a b c", 1, "c", {.part = 9}, "@2"},
        {"a /part below 1", "a b c", 0, "a", {.part = -1}, "none"},
        {"a sequence must end within /part", "a b c", 0, "[b c]", {.part = 2}, "none"},
        {"words equal by their canonical symbol", "Abc x", 0, "abc", {}, "@0"},
        {"/case compares symbols exactly", "Abc abc", 0, "abc", {.case_sensitive = true}, "@1"},
        {"the search equality keeps number types apart", "1.0 1", 0, "1", {}, "@1"},
        {"at the tail", "a b", 2, "a", {}, "none"},
        {"empty", "", 0, "a", {.reverse = true}, "none"},
    };
    for (const find_case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build(c.series);
        s->w1 = static_cast<uint32_t>(c.start);
        cell* value = value_of(c.value);
        cell* result = run_find(s, value, c.options);
        std::string text = result->is(TYPE_NONE) ? "none" : "@" + std::to_string(series::index_of(result));
        EXPECT_EQ(text, c.expected);
        if (!result->is(TYPE_NONE)) {
            EXPECT_EQ(result->w2, s->w2);
        }
    }
}

TEST_F(BlockActions, FindSameAndAPositionAsPart) {
    reset_stack();
    cell* s = build("[1] [1]");
    cell* second = stack::push_copy(block::get_cell(s, 1));
    cell* found = run_find(s, second, {.only = true});
    EXPECT_EQ(series::index_of(found), 0);  // equal contents
    found = run_find(s, second, {.only = true, .same = true});
    EXPECT_EQ(series::index_of(found), 1);  // the very series

    cell* letters = build("a b c d");
    cell* limit = stack::push_copy(letters);
    limit->w1 = 2;
    cell* c = value_of("c");
    cell* d = value_of("d");
    auto find_part = [&](cell* value, cell* part) {
        return actions::handler<ACTION_FIND>(letters)(letters, value, part, false, false, false, false, nullptr,
                                                      nullptr, false, false, false, false);
    };
    EXPECT_EQ(series::index_of(find_part(c, limit)), 2);
    EXPECT_TRUE(find_part(d, limit)->is(TYPE_NONE));
    cell* elsewhere = build("a b c d");
    EXPECT_EQ(raised_code([&] { find_part(c, elsewhere); }), code_of(err::script_invalid_refine_arg));
    EXPECT_EQ(raised_code([&] { run_find(letters, c, {.skip = -1}); }), code_of(err::script_out_of_range));
    cell* text = string::push_empty();
    EXPECT_EQ(raised_code([&] {
                  actions::handler<ACTION_FIND>(letters)(letters, c, nullptr, false, false, false, false, nullptr, text,
                                                         false, false, false, false);
              }),
              code_of(err::script_invalid_refine_arg));
}

TEST_F(BlockActions, SelectAnswersTheValueAfterTheMatch) {
    const struct {
        const char* name;
        const char* series;
        const char* value;
        search_options options;
        const char* expected;
    } cases[] = {
        {"a key", "a 1 b 2", "b", {}, "2"},
        {"the last cell has nothing after it", "a 1 b 2", "2", {}, "none"},
        {"absent", "a 1", "z", {}, "none"},
        {"after a whole sequence", "a 1 b 2", "[a 1]", {}, "b"},
        {"/only after the block", "[a 1] x", "[a 1]", {.only = true}, "x"},
        {"/skip over records", "1 a 2 b a c", "a", {.skip = 2}, "c"},
        {"/last", "a 1 a 2", "a", {.last = true}, "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build(c.series);
        cell* value = value_of(c.value);
        const search_options& o = c.options;
        cell* skip = o.skip ? push_integer(o.skip) : nullptr;
        cell* result = actions::handler<ACTION_SELECT>(s)(s, value, nullptr, o.only, o.case_sensitive, o.same, false,
                                                          nullptr, skip, o.last, o.reverse);
        EXPECT_EQ(describe(result), c.expected);
    }
}

TEST_F(BlockActions, PutReplacesOrAppendsTheValue) {
    const struct {
        const char* name;
        const char* series;
        const char* key;
        const char* value;
        const char* expected;
    } cases[] = {
        {"an absent key is appended with its value", "a 1", "b", "2", "[a 1 b 2]"},
        {"a present key gets the value", "a 1 b 2", "a", "9", "[a 9 b 2]"},
        {"an equal value changes nothing", "a 1 b 2", "b", "2", "[a 1 b 2]"},
        {"a key at the end gets a value cell", "a 1 b", "b", "3", "[a 1 b 3]"},
        {"a sequence key sets after itself", "a 1 b 2", "[a 1]", "x", "[a 1 x 2]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build(c.series);
        cell* key = value_of(c.key);
        cell* value = value_of(c.value);
        cell* answer = actions::handler<ACTION_PUT>(s)(s, key, value, false);
        EXPECT_EQ(describe(answer), c.value);
        EXPECT_EQ(from_head(s), c.expected);
    }
}

// --- append, insert, change -------------------------------------------------------------------------

TEST_F(BlockActions, AppendInsertAndChange) {
    enum writer { APPEND, INSERT, CHANGE };
    const struct {
        const char* name;
        writer w;
        const char* series;
        int32_t start;
        const char* value;  // first value; "self" is the series at its head
        int part;
        bool only;
        int dup;
        const char* expected;  // describe() of the answer
    } cases[] = {
        {"append a value", APPEND, "1 2", 1, "3", -1, false, 1, "@0 [1 2 3]"},
        {"append the cells of a block", APPEND, "1 2", 0, "[3 4]", -1, false, 1, "@0 [1 2 3 4]"},
        {"append/only a block", APPEND, "1 2", 0, "[3 4]", -1, true, 1, "@0 [1 2 [3 4]]"},
        {"append/part", APPEND, "1", 0, "[2 3 4]", 2, false, 1, "@0 [1 2 3]"},
        {"append/dup", APPEND, "1", 0, "x", -1, false, 3, "@0 [1 x x x]"},
        {"append a paren's cells", APPEND, "1", 0, "(2 3)", -1, false, 1, "@0 [1 2 3]"},
        {"append the series to itself", APPEND, "1 2", 0, "self", -1, false, 1, "@0 [1 2 1 2]"},
        {"insert answers the position after", INSERT, "1 2", 1, "x", -1, false, 1, "@2 [1 x 2]"},
        {"insert/dup 3 of two values", INSERT, "1 2", 0, "[a b]", -1, false, 3, "@6 [a b a b a b 1 2]"},
        {"insert at a stale index", INSERT, "1 2", 9, "x", -1, false, 1, "@3 [1 2 x]"},
        {"insert the series into itself", INSERT, "1 2", 1, "self", -1, false, 1, "@3 [1 1 2 2]"},
        {"change one", CHANGE, "1 2 3", 0, "x", -1, false, 1, "@1 [x 2 3]"},
        {"change with a block's cells", CHANGE, "1 2 3", 0, "[a b]", -1, false, 1, "@2 [a b 3]"},
        {"change/only", CHANGE, "1 2 3", 0, "[a b]", -1, true, 1, "@1 [[a b] 2 3]"},
        {"change/part replaces that many", CHANGE, "1 2 3", 0, "x", 2, false, 1, "@1 [x 3]"},
        {"change/part 0 inserts", CHANGE, "1 2 3", 0, "x", 0, false, 1, "@1 [x 1 2 3]"},
        {"change/dup", CHANGE, "1 2 3", 0, "x", -1, false, 2, "@2 [x x 3]"},
        {"change past the tail grows", CHANGE, "1 2", 1, "[a b c]", -1, false, 1, "@4 [1 a b c]"},
        {"change from the series itself", CHANGE, "1 2 3", 1, "self", -1, false, 1, "@4 [1 1 2 3]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build(c.series);
        cell* value;
        if (std::string(c.value) == "self") {
            value = stack::push_copy(s);
            value->w1 = 0;
        } else {
            value = value_of(c.value);
        }
        s->w1 = static_cast<uint32_t>(c.start);
        cell* answer;
        if (c.w == CHANGE) {
            answer = actions::handler<ACTION_CHANGE>(s)(s, value, c.part, c.only, c.dup);
        } else {
            answer = actions::handler<ACTION_APPEND>(s)(s, value, c.part, c.only, c.dup, c.w == APPEND);
        }
        EXPECT_EQ(describe(answer), c.expected);
    }
    reset_stack();
    cell* s = build("1");
    cell* x = value_of("x");
    EXPECT_EQ(raised_code([&] { block::append(s, x, -1, false, std::numeric_limits<int>::max(), true); }),
              code_of(err::internal_no_memory));
    EXPECT_EQ(raised_code([&] { block::change(s, x, -1, false, std::numeric_limits<int>::max()); }),
              code_of(err::internal_no_memory));
    EXPECT_EQ(from_head(s), "[1]");
}

// --- make, to, path access ------------------------------------------------------------------------------

TEST_F(BlockActions, MakeAndTo) {
    reset_stack();
    cell* proto = build("");
    cell* spec = build("1 2 3");
    spec->w1 = 1;
    EXPECT_EQ(describe(block::make(proto, spec, TYPE_BLOCK)), "@0 [2 3]");
    cell* made_paren = block::make(proto, spec, TYPE_PAREN);
    EXPECT_EQ(made_paren->type(), TYPE_PAREN);
    EXPECT_EQ(mold_text(made_paren), "(2 3)");
    cell* size = stack::push_slot();
    float_::init_cell(size, 2.9);
    cell* sized = block::make(proto, size, TYPE_BLOCK);
    EXPECT_EQ(describe(sized), "@0 []");
    EXPECT_GE(memory::buffer_of(sized->w2)->size, 32);
    cell* zero = push_integer(-4);
    EXPECT_EQ(describe(block::make(proto, zero, TYPE_BLOCK)), "@0 []");
    cell* nan = stack::push_slot();
    float_::init_cell(nan, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(raised_code([&] { block::make(proto, nan, TYPE_BLOCK); }), code_of(err::script_out_of_range));
    cell* word = value_of("w");
    EXPECT_EQ(raised_code([&] { block::make(proto, word, TYPE_BLOCK); }), code_of(err::script_bad_make_arg));

    EXPECT_EQ(describe(block::to(proto, word, TYPE_BLOCK)), "@0 [w]");
    EXPECT_EQ(describe(block::to(proto, value_of("(1 2)"), TYPE_BLOCK)), "@0 [1 2]");
    cell* typeset = stack::push_slot();
    *typeset = cell{TYPE_TYPESET, 0, 0, 0};
    auto* bytes = reinterpret_cast<uint8_t*>(typeset);
    for (type_id t : {TYPE_INTEGER, TYPE_BLOCK}) bytes[4 + (t >> 3)] |= static_cast<uint8_t>(0x80 >> (t & 7));
    EXPECT_EQ(describe(block::to(proto, typeset, TYPE_BLOCK)), "@0 [block! integer!]");
    const int32_t numbers[] = {4, -2};
    cell* vector = stack::push_slot();
    cell::init_unset(vector);
    node_ref node = memory::alloc_series(2, 4, 0);
    memory::buffer_of(node)->tail = memory::buffer_of(node)->head + 8;
    std::memcpy(memory::buffer_of(node)->head, numbers, 8);
    *vector = cell{TYPE_VECTOR, 0, node, TYPE_INTEGER};
    EXPECT_EQ(describe(block::make(proto, vector, TYPE_BLOCK)), "@0 [4 -2]");
    if (!upcalls::scan_string) {
        cell* text = string::push_empty();
        EXPECT_EQ(raised_code([&] { block::to(proto, text, TYPE_BLOCK); }), code_of(err::internal_not_done));
    }
}

TEST_F(BlockActions, PathAccessReadsAndWrites) {
    reset_stack();
    cell* s = build("a b c");
    auto read = [&](cell* element) {
        return block::eval_path(s, element, nullptr, nullptr, nullptr, nullptr, 1, 0, false, true, false);
    };
    auto write = [&](cell* element, cell* value) {
        return block::eval_path(s, element, value, nullptr, nullptr, nullptr, 1, 0, false, true, true);
    };
    EXPECT_EQ(describe(read(push_integer(2))), "b");
    EXPECT_EQ(describe(read(push_integer(9))), "none");
    EXPECT_EQ(describe(read(value_of("b"))), "c");
    EXPECT_EQ(describe(read(value_of("B"))), "c");
    EXPECT_EQ(describe(read(value_of("z"))), "none");
    EXPECT_EQ(describe(read(value_of("[a b]"))), "none");  // a block selector is one cell when reading
    EXPECT_EQ(describe(write(push_integer(2), push_integer(99))), "99");
    EXPECT_EQ(from_head(s), "[a 99 c]");
    EXPECT_EQ(describe(write(value_of("a"), push_integer(7))), "7");
    EXPECT_EQ(from_head(s), "[a 7 c]");
    EXPECT_EQ(raised_code([&] { write(value_of("z"), push_integer(1)); }), code_of(err::script_bad_path_set));
    EXPECT_EQ(raised_code([&] { write(value_of("c"), push_integer(1)); }), code_of(err::script_out_of_range));
    EXPECT_EQ(raised_code([&] { write(push_integer(4), push_integer(1)); }), code_of(err::script_out_of_range));
    EXPECT_EQ(from_head(s), "[a 7 c]");
}

// --- copy, take, swap, trim ---------------------------------------------------------------------------------

TEST_F(BlockActions, DeepCopiesAreIndependent) {
    reset_stack();
    cell* s = build("[1 [2]] 3");
    cell* result = stack::push_slot();
    actions::handler<ACTION_COPY>(s)(s, result, nullptr, true, nullptr);
    EXPECT_EQ(describe(result), "@0 [[1 [2]] 3]");
    cell* outer_copy = stack::push_copy(block::get_cell(result, 0));
    cell* outer_source = stack::push_copy(block::get_cell(s, 0));
    EXPECT_NE(outer_copy->w2, outer_source->w2);
    EXPECT_NE(block::get_cell(outer_copy, 1)->w2, block::get_cell(outer_source, 1)->w2);

    cell* shallow = stack::push_slot();
    actions::handler<ACTION_COPY>(s)(s, shallow, nullptr, false, nullptr);
    EXPECT_EQ(block::get_cell(shallow, 0)->w2, block::get_cell(s, 0)->w2);

    // /types copies only the nested values of the types named.
    cell* mixed = build("[1] (2)");
    cell* typed = stack::push_slot();
    cell* paren_type = stack::push_slot();
    datatype::make_in(paren_type, TYPE_PAREN);
    actions::handler<ACTION_COPY>(mixed)(mixed, typed, nullptr, false, paren_type);
    EXPECT_EQ(block::get_cell(typed, 0)->w2, block::get_cell(mixed, 0)->w2);
    EXPECT_NE(block::get_cell(typed, 1)->w2, block::get_cell(mixed, 1)->w2);

    cell* cyclic = build("1");
    block::append_copy(cyclic, cyclic);
    cell* into = stack::push_slot();
    EXPECT_EQ(raised_code([&] { block::copy(cyclic, into, nullptr, true, nullptr); }),
              code_of(err::internal_no_cycle));
    EXPECT_EQ(mold_guard::depth(), 0);
}

TEST_F(BlockActions, TakeDeepCopiesWhatItTakes) {
    reset_stack();
    cell* s = build("[1 2] [3] 4");
    cell* first = stack::push_copy(block::get_cell(s, 0));
    cell* taken = actions::handler<ACTION_TAKE>(s)(s, nullptr, true, false);
    EXPECT_EQ(describe(taken), "@0 [1 2]");
    EXPECT_NE(taken->w2, first->w2);
    cell* part = push_integer(2);
    cell* second = stack::push_copy(block::get_cell(s, 0));
    cell* both = actions::handler<ACTION_TAKE>(s)(s, part, true, false);
    EXPECT_EQ(describe(both), "@0 [[3] 4]");
    EXPECT_NE(block::get_cell(both, 0)->w2, second->w2);
    EXPECT_EQ(from_head(s), "[]");
    cell* plain = build("[5]");
    cell* kept = stack::push_copy(block::get_cell(plain, 0));
    EXPECT_EQ(actions::handler<ACTION_TAKE>(plain)(plain, nullptr, false, false)->w2, kept->w2);
}

TEST_F(BlockActions, SwapAndTrim) {
    reset_stack();
    cell* left = build("1 2 3");
    cell* right = build("a b");
    right->w1 = 1;
    EXPECT_EQ(describe(actions::handler<ACTION_SWAP>(left)(left, right)), "@0 [b 2 3]");
    EXPECT_EQ(from_head(right), "[a 1]");
    right->w1 = 2;  // at its tail: nothing happens
    actions::handler<ACTION_SWAP>(left)(left, right);
    EXPECT_EQ(from_head(left), "[b 2 3]");
    cell* number = push_integer(1);
    EXPECT_EQ(raised_code([&] { block::swap(left, number); }), code_of(err::script_invalid_arg));

    cell* s = build("none 1 none none 2 none");
    s->w1 = 1;
    cell* trimmed = actions::handler<ACTION_TRIM>(s)(s, false, false, false, false, false, nullptr);
    EXPECT_EQ(describe(trimmed), "@1 [none 1 2]");
}

// --- sort -----------------------------------------------------------------------------------------------

struct sort_options {
    bool case_sensitive = false;
    int skip = 0;
    int compare = 0;  // 0: no /compare (an integer offset otherwise)
    int part = 0;     // 0: no /part
    bool all = false;
    bool reverse = false;
    bool stable = false;
};

cell* run_sort(cell* s, const sort_options& o) {
    cell* skip = o.skip ? push_integer(o.skip) : nullptr;
    cell* comparator = o.compare ? push_integer(o.compare) : nullptr;
    cell* part = o.part ? push_integer(o.part) : nullptr;
    return actions::handler<ACTION_SORT>(s)(s, o.case_sensitive, skip, comparator, part, o.all, o.reverse, o.stable);
}

TEST_F(BlockActions, SortWithEveryRefinement) {
    const struct {
        const char* name;
        const char* series;
        int32_t start;
        sort_options options;
        const char* expected;  // describe() of the answer; "" when an error is expected
        err error;
    } cases[] = {
        {"plain", "3 1 2", 0, {}, "@0 [1 2 3]", err::internal_not_done},
        {"stable", "3 1 2", 0, {.stable = true}, "@0 [1 2 3]", err::internal_not_done},
        {"/reverse", "3 1 2", 0, {.reverse = true}, "@0 [3 2 1]", err::internal_not_done},
        {"from the index", "9 3 1 2", 1, {}, "@1 [9 1 2 3]", err::internal_not_done},
        {"types order by id when they cannot compare", "b 2 a 1", 0, {}, "@0 [1 2 a b]", err::internal_not_done},
        {"records", "b 2 a 1 c 0", 0, {.skip = 2}, "@0 [a 1 b 2 c 0]", err::internal_not_done},
        {"records by their second field", "b 2 a 1 c 0", 0, {.skip = 2, .compare = 2}, "@0 [c 0 a 1 b 2]",
         err::internal_not_done},
        {"records by all fields", "a 2 a 1 b 0", 0, {.skip = 2, .all = true}, "@0 [a 1 a 2 b 0]",
         err::internal_not_done},
        {"/part", "3 1 2", 0, {.part = 2}, "@0 [1 3 2]", err::internal_not_done},
        {"/part larger than the rest", "3 1 2", 0, {.part = 9}, "@0 [1 2 3]", err::internal_not_done},
        {"/part before the index", "5 4 3 2 1", 3, {.part = -2}, "@1 [5 3 4 2 1]", err::internal_not_done},
        {"/part past the head", "5 4 3", 2, {.part = -9}, "@0 [5 4 3]", err::internal_not_done},
        {"/all without /skip", "1 2", 0, {.all = true}, "", err::script_bad_refines},
        {"a skip of 0", "1 2", 0, {.skip = -1}, "", err::script_invalid_refine_arg},
        {"a skip not dividing", "1 2 3", 0, {.skip = 2}, "", err::script_invalid_refine_arg},
        {"a skip above the count", "1 2", 0, {.skip = 4}, "", err::script_invalid_refine_arg},
        {"an offset without /skip", "1 2", 0, {.compare = 1}, "", err::script_bad_refines},
        {"an offset with /all", "1 2", 0, {.skip = 2, .compare = 1, .all = true}, "", err::script_bad_refines},
        {"an offset past the record", "1 2", 0, {.skip = 2, .compare = 3}, "", err::script_out_of_range},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build(c.series);
        s->w1 = static_cast<uint32_t>(c.start);
        if (*c.expected) {
            EXPECT_EQ(describe(run_sort(s, c.options)), c.expected);
        } else {
            EXPECT_EQ(raised_code([&] { run_sort(s, c.options); }), code_of(c.error));
            s->w1 = 0;
            EXPECT_EQ(describe(s), "@0 [" + std::string(c.series) + "]");
        }
        EXPECT_EQ(memory::buffer_of(s->w2)->flags & memory::FLAG_PINNED, 0u);
    }
    reset_stack();
    cell* s = build("1 2");
    cell* text = string::push_empty();
    EXPECT_EQ(raised_code([&] { block::sort(s, false, nullptr, text, nullptr, false, false, false); }),
              code_of(err::script_invalid_refine_arg));
}

// The sorts against the standard library's, on records of (key, original position).
TEST_F(BlockActions, SortAgreesWithTheStandardSorts) {
    std::mt19937 generator(20240611);
    for (bool stable : {false, true}) {
        for (int n : {0, 1, 2, 7, 50, 700}) {
            SCOPED_TRACE(std::to_string(n) + (stable ? " stable" : ""));
            reset_stack();
            std::vector<std::pair<int32_t, int32_t>> records;
            cell* s = block::push_empty(2 * n);
            for (int i = 0; i < n; ++i) {
                int32_t key = static_cast<int32_t>(generator() % 10) - 5;
                records.push_back({key, i});
                block::append_copy(s, push_integer(key));
                block::append_copy(s, push_integer(i));
                stack::drop_slots(2);
            }
            run_sort(s, {.skip = 2, .compare = 1, .stable = stable});
            std::stable_sort(records.begin(), records.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(integer::read_cell(block::get_cell(s, 2 * i)), records[static_cast<size_t>(i)].first);
                if (stable) {
                    EXPECT_EQ(integer::read_cell(block::get_cell(s, 2 * i + 1)), records[static_cast<size_t>(i)].second);
                }
            }
        }
    }
}

// Blocks of integers alone take a path of their own; it must order as the general one.
TEST_F(BlockActions, IntegerBlocksSortLikeTheStandardSorts) {
    std::mt19937 generator(7);
    for (bool reverse : {false, true}) {
        for (int n : {0, 1, 2, 31, 1000}) {
            SCOPED_TRACE(std::to_string(n) + (reverse ? " reverse" : ""));
            reset_stack();
            std::vector<int32_t> values;
            cell* s = block::push_empty(n);
            for (int i = 0; i < n; ++i) {
                auto v = static_cast<int32_t>(generator());
                values.push_back(v);
                block::append_copy(s, push_integer(v));
                stack::drop_slots(1);
            }
            run_sort(s, {.reverse = reverse});
            std::sort(values.begin(), values.end());
            if (reverse) std::reverse(values.begin(), values.end());
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(integer::read_cell(block::get_cell(s, i)), values[static_cast<size_t>(i)]);
            }
        }
    }
}

// A comparator standing in for the evaluator's call of a function: it orders by the
// integer in each argument (the first cell of a record block under /all) and answers in
// the form the test asks for.
enum class answer_form { logic_less, integer_difference };
answer_form comparator_form = answer_form::logic_less;

int32_t key_of(const cell* value) {
    if (value->is(TYPE_BLOCK)) return integer::read_cell(block::get_cell(value, 0));
    return integer::read_cell(value);
}

cell* test_comparator(cell* function, cell* first, cell* second) {
    (void)function;
    cell* result = stack::push_slot();
    if (comparator_form == answer_form::logic_less) {
        logic::make_in(result, key_of(first) < key_of(second));
    } else {
        integer::make_in(result, key_of(first) - key_of(second));
    }
    return result;
}

TEST_F(BlockActions, SortWithAFunctionComparator) {
    reset_stack();
    cell* function = stack::push_slot();
    *function = cell{TYPE_FUNCTION, 0, 0, 0};
    cell* s = build("3 1 2");
    decltype(upcalls::call_comparator) saved = upcalls::call_comparator;
    upcalls::call_comparator = nullptr;
    EXPECT_EQ(raised_code([&] { block::sort(s, false, nullptr, function, nullptr, false, false, false); }),
              code_of(err::internal_not_done));
    upcalls::call_comparator = &test_comparator;
    const struct {
        answer_form form;
        bool reverse;
        bool all;
        const char* input;
        const char* expected;
    } cases[] = {
        // The function gets (second, first): "less" answering true puts first after second.
        {answer_form::logic_less, false, false, "3 1 2", "[1 2 3]"},
        {answer_form::logic_less, true, false, "3 1 2", "[3 2 1]"},
        {answer_form::integer_difference, false, false, "3 1 2", "[3 2 1]"},
        {answer_form::logic_less, false, true, "3 a 1 b 2 c", "[1 b 2 c 3 a]"},
    };
    for (const auto& c : cases) {
        comparator_form = c.form;
        cell* block = build(c.input);
        cell* skip = c.all ? push_integer(2) : nullptr;
        block::sort(block, false, skip, function, nullptr, c.all, c.reverse, true);
        EXPECT_EQ(from_head(block), c.expected);
    }
    upcalls::call_comparator = saved;
}

// --- Set operations ---------------------------------------------------------------------------------------

TEST_F(BlockActions, SetOperations) {
    const struct {
        const char* name;
        int op;
        const char* first;
        const char* second;
        bool case_sensitive;
        int skip;
        const char* expected;
    } cases[] = {
        {"unique", block::SET_UNIQUE, "1 2 1 3 2", "", false, 0, "[1 2 3]"},
        {"union", block::SET_UNION, "1 2", "2 3", false, 0, "[1 2 3]"},
        {"union with itself drops duplicates", block::SET_UNION, "1 1 2", "1 1 2", false, 0, "[1 2]"},
        {"intersect", block::SET_INTERSECT, "1 2 3 4", "4 2 5", false, 0, "[2 4]"},
        {"exclude keeps the first series' order", block::SET_EXCLUDE, "4 1 2 3", "2 4", false, 0, "[1 3]"},
        {"difference", block::SET_DIFFERENCE, "1 2 3", "2 3 4", false, 0, "[1 4]"},
        {"records", block::SET_UNION, "a 1 b 2", "a 3 c 4", false, 2, "[a 1 b 2 c 4]"},
        {"unique records", block::SET_UNIQUE, "a 1 a 2 b 3", "", false, 2, "[a 1 b 3]"},
        {"words equal without /case", block::SET_UNIQUE, "a A b", "", false, 0, "[a b]"},
        {"words differ with /case", block::SET_UNIQUE, "a A b", "", true, 0, "[a A b]"},
        {"blocks equal by contents", block::SET_UNIQUE, "[1] [1] [2]", "", false, 0, "[[1] [2]]"},
        {"blocks as members", block::SET_INTERSECT, "[1] 2 [3]", "[1] 3", false, 0, "[[1]]"},
        {"mixed types", block::SET_UNION, "1 a none", "none 1.0 b", false, 0, "[1 a none 1.0 b]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* first = build(c.first);
        cell* second = build(c.second);
        cell* skip = c.skip ? push_integer(c.skip) : nullptr;
        cell* result = block::set_operation(first, second, c.case_sensitive, skip, c.op);
        EXPECT_EQ(describe(result), std::string("@0 ") + c.expected);
    }
    reset_stack();
    cell* first = build("1 1 2 3");
    first->w1 = 1;
    cell* paren = value_of("(3 4)");
    block::set_operation(first, paren, false, nullptr, block::SET_UNION);
    EXPECT_EQ(describe(first), "@0 [1 2 3 4]");
    cell* as_paren = value_of("(1 1)");
    block::set_operation(as_paren, nullptr, false, nullptr, block::SET_UNIQUE);
    EXPECT_EQ(mold_text(as_paren), "(1)");
    cell* stale = build("1 2");
    stale->w1 = 9;
    block::set_operation(stale, nullptr, false, nullptr, block::SET_UNIQUE);
    EXPECT_EQ(describe(stale), "@0 []");
    cell* zero = push_integer(0);
    cell* any = build("1");
    EXPECT_EQ(raised_code([&] { block::set_operation(any, any, false, zero, block::SET_UNION); }),
              code_of(err::script_invalid_refine_arg));
}

// The registration rows: what block! fills, inherits and refuses, and what paren! takes.
TEST_F(BlockActions, ActionRows) {
    EXPECT_EQ(type_registry::handler_of(TYPE_BLOCK, ACTION_AT), type_registry::handler_of(TYPE_SERIES, ACTION_AT));
    EXPECT_NE(type_registry::handler_of(TYPE_BLOCK, ACTION_COPY), type_registry::handler_of(TYPE_SERIES, ACTION_COPY));
    EXPECT_EQ(type_registry::handler_of(TYPE_BLOCK, ACTION_ADD), nullptr);
    EXPECT_EQ(type_registry::handler_of(TYPE_BLOCK, ACTION_SET_PATH), nullptr);
    EXPECT_EQ(type_registry::handler_of(TYPE_BLOCK, ACTION_MODIFY),
              type_registry::handler_of(TYPE_SERIES, ACTION_MODIFY));
    EXPECT_EQ(type_registry::handler_of(TYPE_BLOCK, ACTION_OPEN), nullptr);
    EXPECT_EQ(type_registry::handler_of(TYPE_PAREN, ACTION_SORT), type_registry::handler_of(TYPE_BLOCK, ACTION_SORT));
    EXPECT_EQ(type_registry::handler_of(TYPE_PAREN, ACTION_TRIM), nullptr);
    EXPECT_NE(type_registry::handler_of(TYPE_PAREN, ACTION_MOLD), type_registry::handler_of(TYPE_BLOCK, ACTION_MOLD));
    EXPECT_EQ(type_registry::handler_of(TYPE_SERIES, ACTION_FIND), nullptr);
    EXPECT_EQ(type_registry::handler_of(TYPE_STRING, ACTION_PICK), type_registry::handler_of(TYPE_SERIES, ACTION_PICK));
}

}  // namespace
}  // namespace zor
