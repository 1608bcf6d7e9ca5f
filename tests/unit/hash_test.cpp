// hash!: make, to, mold, copy, sort and trim as the action entries call them, the block!
// actions it inherits, and its registration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/hash-index.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/block_notation.h"
#include "tests/unit/hash_index_check.h"

namespace zor {
namespace {

using testing::build;
using testing::cells_in;
using testing::code_of;
using testing::describe;
using testing::expect_finds_like_a_scan;
using testing::expect_index_matches_block;
using testing::mold_text;
using testing::raised_code;

class Hash : public testing::collected_fixture {};

// The handler that hash!'s row holds for an action.
template <action A> action_handler<A> hash_action() {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(TYPE_HASH, A));
}

cell* push_integer(int32_t v) { return integer::make_in(stack::push_slot(), v); }
cell* push_float(double v) {
    cell* slot = stack::push_slot();
    float_::init_cell(slot, v);
    return slot;
}
cell* push_hash_datatype() { return datatype::make_in(stack::push_slot(), TYPE_HASH); }
cell* first_of(const char* notation) { return stack::push_copy(block::get_cell(build(notation), 0)); }

cell* make_hash(cell* spec) { return hash_action<ACTION_MAKE>()(push_hash_datatype(), spec, TYPE_HASH); }

TEST_F(Hash, RegistersUnderBlockWithItsOwnSixActions) {
    EXPECT_STREQ(type_registry::type_entries[TYPE_HASH].name, "hash!");
    for (action a : {ACTION_MAKE, ACTION_TO, ACTION_MOLD, ACTION_COPY, ACTION_SORT, ACTION_TRIM}) {
        EXPECT_NE(type_registry::handler_of(TYPE_HASH, a), type_registry::handler_of(TYPE_BLOCK, a)) << a;
    }
    for (action a : {ACTION_FIND, ACTION_SELECT, ACTION_APPEND, ACTION_INSERT, ACTION_PUT, ACTION_FORM, ACTION_TAKE,
                     ACTION_REMOVE, ACTION_COMPARE, ACTION_NEXT, ACTION_POKE}) {
        EXPECT_EQ(type_registry::handler_of(TYPE_HASH, a), type_registry::handler_of(TYPE_BLOCK, a)) << a;
    }
    EXPECT_EQ(type_registry::handler_of(TYPE_HASH, ACTION_ADD), nullptr);
    EXPECT_NE(series::hash_index::delete_range, nullptr);
    EXPECT_NE(series::hash_index::shift_indexes, nullptr);
    EXPECT_NE(series::hash_index::rebuild, nullptr);
    EXPECT_NE(series::hash_index::move_entries, nullptr);
}

TEST_F(Hash, MakeFromEverySpec) {
    const struct {
        const char* name;
        cell* (*spec)();
        const char* expected;    // describe() of the hash!
        int32_t buckets;         // of its table
    } cases[] = {
        {"an integer gives an empty hash!", [] { return push_integer(0); }, "@0 make hash! []", 8},
        {"a negative size counts as 1", [] { return push_integer(-5); }, "@0 make hash! []", 8},
        {"a float is truncated", [] { return push_float(12.9); }, "@0 make hash! []", 16},
        {"a block is copied from its index",
         [] {
             cell* b = build("a b a");
             b->w1 = 1;
             return b;
         },
         "@0 make hash! [b a]", 8},
        {"a hash! is copied", [] { return hash::make_in_place(build("x y")); }, "@0 make hash! [x y]", 8},
        {"a paren goes through to", [] { return first_of("(a b)"); }, "@0 make hash! [a b]", 8},
        {"none gives one cell", [] { return stack::push_copy(&none::value); }, "@0 make hash! [none]", 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* h = make_hash(c.spec());
        EXPECT_EQ(describe(h), c.expected);
        EXPECT_EQ(hashtable::view(h->w3).record->buckets, c.buckets);
        expect_index_matches_block(h, c.name);
    }
    reset_stack();
    EXPECT_EQ(raised_code([] { make_hash(push_float(std::nan(""))); }), code_of(err::script_out_of_range));
    EXPECT_EQ(raised_code([] { make_hash(push_float(1e12)); }), code_of(err::script_out_of_range));

    // The block a hash! is made from is its own series no longer: editing it leaves the hash!.
    reset_stack();
    cell* source = build("a b a");
    cell* h = make_hash(source);
    block::append_copy(source, first_of("z"));
    EXPECT_EQ(describe(h), "@0 make hash! [a b a]");
    cell* a = first_of("a");
    cell* found = hash_action<ACTION_FIND>()(h, a, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                                             false, false);
    EXPECT_EQ(describe(found), "@0 make hash! [a b a]");
    cell* after = stack::push_copy(found);
    after->w1 = 1;
    found = hash_action<ACTION_FIND>()(after, a, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                                       false, false);
    EXPECT_EQ(series::index_of(found), 2) << "find finds both a's in turn";
}

TEST_F(Hash, ToCopiesAHashAndIndexesAnyOtherValueAsABlock) {
    cell* h = hash::make_in_place(build("1 2 1"));
    cell* copied = hash_action<ACTION_TO>()(push_hash_datatype(), h, TYPE_HASH);
    EXPECT_EQ(describe(copied), "@0 make hash! [1 2 1]");
    EXPECT_NE(copied->w2, h->w2);
    EXPECT_NE(copied->w3, h->w3);
    expect_index_matches_block(copied, "to of a hash!");

    cell* from_block = hash_action<ACTION_TO>()(push_hash_datatype(), build("p q"), TYPE_HASH);
    EXPECT_EQ(describe(from_block), "@0 make hash! [p q]");
    expect_index_matches_block(from_block, "to of a block");
    cell* from_integer = hash_action<ACTION_TO>()(push_hash_datatype(), push_integer(3), TYPE_HASH);
    EXPECT_EQ(describe(from_integer), "@0 make hash! [3]");
    expect_index_matches_block(from_integer, "to of an integer");
}

TEST_F(Hash, MoldWritesTheMakeFormAndFormIsTheBlocks) {
    const struct {
        const char* name;
        const char* notation;
        bool only;
        const char* expected;
    } cases[] = {
        {"two values", "1 2", false, "make hash! [1 2]"},
        {"/only writes the values", "1 2", true, "1 2"},
        {"empty", "", false, "make hash! []"},
        {"nested blocks", "a [b c]", false, "make hash! [a [b c]]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* h = hash::make_in_place(build(c.notation));
        EXPECT_EQ(mold_text(h, c.only), c.expected);
    }
    reset_stack();
    // Inside a block the hash! keeps its make form.
    cell* outer = build("x");
    block::append_copy(outer, hash::make_in_place(build("1")));
    EXPECT_EQ(mold_text(outer), "[x make hash! [1]]");

    // The prefix takes 11 from the part budget.
    cell* h = hash::make_in_place(build("1 2"));
    cell* output = string::push_empty();
    cell* part = push_integer(20);
    int budget = actions::dispatch_mold(h, output, false, false, false, part, 20, 0);
    EXPECT_EQ(budget, 20 - 16);
    cell* formed = string::push_empty();
    actions::dispatch_form(h, formed, nullptr, 0);
    EXPECT_EQ(string::to_utf8(formed), "1 2");
}

TEST_F(Hash, CopiesHaveIndexesOfTheirOwn) {
    const struct {
        const char* name;
        int32_t index;
        int part;   // 0: no /part
        bool deep;
        const char* expected;
        bool table_copied;  // the source's record copied rather than a new table built
    } cases[] = {
        {"the whole hash!", 0, 0, false, "@0 make hash! [a [b] a c a]", true},
        {"not at its head", 2, 0, false, "@0 make hash! [a c a]", false},
        {"/part", 0, 3, false, "@0 make hash! [a [b] a]", false},
        {"/deep stays a hash!", 0, 0, true, "@0 make hash! [a [b] a c a]", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* h = hash::make_in_place(build("a [b] a c a"));
        h->w1 = static_cast<uint32_t>(c.index);
        cell* result = stack::push_slot();
        cell::init_unset(result);
        cell* part = c.part ? push_integer(c.part) : nullptr;
        hash_action<ACTION_COPY>()(h, result, part, c.deep, nullptr);
        EXPECT_EQ(describe(result), c.expected);
        EXPECT_NE(result->w3, h->w3);
        if (c.table_copied) {
            // The record, flags and keys are the source's, cell for cell.
            hashtable::table_view from = hashtable::view(h->w3), to = hashtable::view(result->w3);
            EXPECT_EQ(to.record->buckets, from.record->buckets);
            EXPECT_EQ(to.record->size, from.record->size);
            EXPECT_EQ(std::memcmp(to.keys, from.keys, size_t(from.record->buckets) * 4), 0);
            EXPECT_NE(to.record->duplicates, from.record->duplicates);
        }
        if (c.index == 0) {
            // Read after the copy: a collection during it may have moved the node.
                // Read now: the collector may have moved nodes since the copy began.
            EXPECT_EQ(block::get_cell(result, 1)->w2 != block::get_cell(h, 1)->w2, c.deep)
                << "deep copies nested blocks";
        }
        expect_index_matches_block(result, "the copy");
        expect_finds_like_a_scan(result, "the copy");
        h->w1 = 0;
        expect_index_matches_block(h, "the source");
    }
    // copy of a hash! that holds its own copy's cell in place (the result is the value).
    reset_stack();
    cell* h = hash::make_in_place(build("a b a"));
    node_ref source_table = h->w3;
    hash_action<ACTION_COPY>()(h, h, nullptr, false, nullptr);
    EXPECT_NE(h->w3, source_table);
    expect_index_matches_block(h, "copied over itself");
}

TEST_F(Hash, SortAndTrimEnterEveryCellAgain) {
    const struct {
        const char* name;
        const char* notation;
        int32_t index;
        bool trim;
        bool reverse;
        const char* expected;
    } cases[] = {
        {"sort", "c a b a", 0, false, false, "@0 make hash! [a a b c]"},
        {"sort/reverse", "c a b a", 0, false, true, "@0 make hash! [c b a a]"},
        {"sort from the index keeps the cells before it found", "c a b a d", 2, false, false,
         "@2 make hash! [c a a b d]"},
        {"trim drops the nones", "none a none b a", 0, true, false, "@0 make hash! [a b a]"},
        {"trim from the index", "none a none b none", 1, true, false, "@1 make hash! [none a b]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* h = hash::make_in_place(build(c.notation));
        h->w1 = static_cast<uint32_t>(c.index);
        if (c.trim) {
            hash_action<ACTION_TRIM>()(h, false, false, false, false, false, nullptr);
        } else {
            hash_action<ACTION_SORT>()(h, false, nullptr, nullptr, nullptr, false, c.reverse, false);
        }
        EXPECT_EQ(describe(h), c.expected);
        h->w1 = 0;
        expect_index_matches_block(h, c.name);
        expect_finds_like_a_scan(h, c.name);
    }
    // After sort, select still answers the value after the key.
    reset_stack();
    cell* h = hash::make_in_place(build("k2 2 k1 1 k3 3"));
    cell* skip = push_integer(2);
    hash_action<ACTION_SORT>()(h, false, skip, nullptr, nullptr, false, false, false);
    EXPECT_EQ(describe(h), "@0 make hash! [k1 1 k2 2 k3 3]");
    cell* selected = hash_action<ACTION_SELECT>()(h, first_of("k2"), nullptr, false, false, false, false, nullptr,
                                                  nullptr, false, false);
    EXPECT_EQ(describe(selected), "2");
}

// A sort whose records the index cannot follow (a bad /skip raises before any change, a
// raised error in between) leaves a hash! that still finds what it holds.
TEST_F(Hash, AFailedSortLeavesAnIndexThatStillFinds) {
    cell* h = hash::make_in_place(build("b a c"));
    cell* skip = push_integer(2);  // does not divide 3
    EXPECT_EQ(raised_code([&] { hash_action<ACTION_SORT>()(h, false, skip, nullptr, nullptr, false, false, false); }),
              code_of(err::script_invalid_refine_arg));
    EXPECT_EQ(hashtable::view(h->w3).record->gc_stamp, hash_index::STALE_STAMP);
    expect_index_matches_block(h, "after the failed sort");
    EXPECT_NE(hashtable::view(h->w3).record->gc_stamp, hash_index::STALE_STAMP) << "the lookup rebuilt it";
}

// Values built under collection at every allocation (ZOR_GC_TORTURE=1) keep their index
// whole: many distinct and repeated values, grown through the storage routines.
TEST_F(Hash, ABigHashBuiltByAppendsFindsEveryValue) {
    cell* h = make_hash(push_integer(1));
    for (int32_t i = 0; i < 600; ++i) {
        stack::slot_mark mark;
        cell* v = (i % 3) ? push_integer(i % 200) : stack::push_copy(block::get_cell(build("x y"), i % 2));
        block::append_copy(h, v);
    }
    expect_index_matches_block(h, "600 appends");
    for (int32_t k = 0; k < 200; k += 7) {
        stack::slot_mark mark;
        cell* key = push_integer(k);
        cell* found = hashtable::find(h->w3, key, 0, 1, 0, false, false);
        ASSERT_NE(found, nullptr) << k;
        int64_t expected = -1;
        for (int64_t p = 0; p < cells_in(h) && expected < 0; ++p) {
            const cell* c = block::get_cell(h, p);
            if (c->is(TYPE_INTEGER) && c->w2 == uint32_t(k)) expected = p;
        }
        EXPECT_EQ(found - memory::buffer_of(h->w2)->head_cell(), expected) << k;
    }
}

}  // namespace
}  // namespace zor
