// The hash! index: duplicate lists, lookups among duplicates, sizing and growth, the
// position bookkeeping of block edits (checked by brute force after random edits), table
// copies and keys that move with the collector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/hash-index.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
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
using testing::raised_code;

class HashIndex : public testing::collected_fixture {};

cell* push_integer(int32_t v) { return integer::make_in(stack::push_slot(), v); }
cell* push_text(const char* utf8) {
    return string::load_onto_stack(unicode::input_bytes(reinterpret_cast<const uint8_t*>(utf8)),
                                   static_cast<int64_t>(std::strlen(utf8)), string::ENCODING_UTF8);
}
cell* push_word(const char* name) { return word::push_global(symbol::make(name)); }

// A hash! of the values written in the notation, indexed in place.
cell* hash_of(const char* notation) { return hash::make_in_place(build(notation)); }

hashtable::table_record record_of(const cell* hash) { return *hashtable::view(hash->w3).record; }

// The positions find answers for a key from a start with a skip, forward and so on.
int64_t find_position(cell* hash, cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse) {
    cell* found = hashtable::find(hash->w3, key, start, skip, op, last, reverse);
    return found ? found - memory::buffer_of(hash->w2)->head_cell() : -1;
}

// --- Duplicates -----------------------------------------------------------------------------------

TEST_F(HashIndex, EqualValuesShareOneBucketThroughAList) {
    cell* h = hash_of("a b a c a");
    expect_index_matches_block(h, "built");
    hashtable::table_record r = record_of(h);
    EXPECT_EQ(r.size, 3) << "three distinct values: a, b, c";
    EXPECT_EQ(hash_index::list_count(h->w3), 1);
    int32_t bucket = hash_index::position_entry(h->w3, 0) - 1;
    EXPECT_EQ(hash_index::bucket_positions(h->w3, bucket), (std::vector<int32_t>{0, 2, 4}));
    EXPECT_EQ(hash_index::position_entry(h->w3, 2), bucket + 1);
    EXPECT_EQ(hash_index::position_entry(h->w3, 4), bucket + 1);

    // Removing two of the three a's leaves the bucket live; the third deletes it.
    hashtable::delete_cell(h->w3, block::get_cell(h, 4));
    hashtable::delete_cell(h->w3, block::get_cell(h, 0));
    EXPECT_EQ(hashtable::bucket_state_of(hashtable::view(h->w3).flags, uint32_t(bucket)), hashtable::BUCKET_LIVE);
    EXPECT_EQ(hash_index::bucket_positions(h->w3, bucket), (std::vector<int32_t>{2}));
    EXPECT_EQ(record_of(h).size, 3);
    hashtable::delete_cell(h->w3, block::get_cell(h, 2));
    EXPECT_EQ(hashtable::bucket_state_of(hashtable::view(h->w3).flags, uint32_t(bucket)), hashtable::BUCKET_DELETED);
    EXPECT_EQ(record_of(h).size, 2);
    EXPECT_EQ(hash_index::list_count(h->w3), 0) << "the emptied list is freed";
    EXPECT_EQ(hash_index::position_entry(h->w3, 0), -1);

    // find-next walks on from the bucket it found: the equal values are all in that one.
    cell* a = push_word("a");
    int32_t saved_bucket = -1, saved_step = 0;
    cell* next = hashtable::find_next(h->w3, a, &saved_bucket, &saved_step);
    EXPECT_EQ(next, nullptr) << "no a is entered now";

    // Entered again, the a's make one list again, reusing the freed list number.
    int64_t lists_before = memory::buffer_of(static_cast<node_ref>(record_of(h).duplicates))->length();
    for (int p : {0, 2, 4}) hashtable::put(h->w3, block::get_cell(h, p));
    expect_index_matches_block(h, "entered again");
    EXPECT_EQ(memory::buffer_of(static_cast<node_ref>(record_of(h).duplicates))->length(), lists_before)
        << "the block of lists does not grow while lists come and go";
    saved_bucket = -1;
    next = hashtable::find_next(h->w3, a, &saved_bucket, &saved_step);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next - memory::buffer_of(h->w2)->head_cell(), 0) << "the first cell of the list";
    EXPECT_EQ(hash_index::position_entry(h->w3, 0), saved_bucket + 1);
    EXPECT_EQ(hashtable::find_next(h->w3, a, &saved_bucket, &saved_step), nullptr);

    // clear: no entries, an empty series, every position -1.
    hashtable::clear(h->w3);
    EXPECT_EQ(cells_in(h), 0);
    EXPECT_EQ(record_of(h).size, 0);
    EXPECT_EQ(record_of(h).occupied, 0);
    EXPECT_EQ(hash_index::position_entry(h->w3, 0), -1);
    EXPECT_EQ(hash_index::list_count(h->w3), 0);
    expect_index_matches_block(h, "cleared");
}

TEST_F(HashIndex, FindChoosesAmongDuplicatesByStartSkipAndDirection) {
    cell* h = hash_of("a x a x a x a x");  // a at 0, 2, 4, 6
    cell* a = push_word("a");
    const struct {
        const char* name;
        int32_t start, skip;
        bool last, reverse;
        int64_t expected;
    } cases[] = {
        {"the first", 0, 1, false, false, 0},
        {"the first at or after the start", 1, 1, false, false, 2},
        {"at the start itself", 4, 1, false, false, 4},
        {"none after the last", 7, 1, false, false, -1},
        {"/skip 2 from an even start", 0, 2, false, false, 0},
        {"/skip 2 from an odd start finds no even position", 1, 2, false, false, -1},
        {"/skip 3 from 1: positions 1, 4, 7", 1, 3, false, false, 4},
        {"/last", 0, 1, true, false, 6},
        {"/last stays at or after the start", 7, 1, true, false, -1},
        {"/last/skip 2 steps from the last cell, an x", 0, 2, true, false, -1},
        {"/last/skip 3 from the last cell: 7, 4, 1", 0, 3, true, false, 4},
        {"/last/skip 3 stays at or after the start", 5, 3, true, false, -1},
        {"/reverse: the largest before the start", 5, 1, false, true, 4},
        {"/reverse at the head", 0, 1, false, true, -1},
        {"/reverse/skip 2 from one before the start, an x", 6, 2, false, true, -1},
        {"/reverse/skip 2", 7, 2, false, true, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find_position(h, a, c.start, c.skip, 0, c.last, c.reverse), c.expected);
    }
    expect_finds_like_a_scan(h, "against the scan");
}

TEST_F(HashIndex, LettersOfAnyCaseShareABucketAndCaseSelectsAmongThem) {
    cell* h = block::push_empty(4);
    for (const char* text : {"abc", "ABC", "x", "Abc"}) {
        block::append_copy(h, push_text(text));
        stack::drop_slots(1);
    }
    hash::make_in_place(h);
    expect_index_matches_block(h, "strings");
    EXPECT_EQ(record_of(h).size, 2) << "abc, ABC and Abc hash and compare alike without /case";
    cell* upper = push_text("ABC");
    EXPECT_EQ(find_position(h, upper, 0, 1, 0, false, false), 0);
    EXPECT_EQ(find_position(h, upper, 0, 1, 2, false, false), 1) << "op 2 is strict";
    EXPECT_EQ(find_position(h, upper, 2, 1, 2, false, false), -1);
    expect_finds_like_a_scan(h, "strings against the scan");
}

// --- Sizes and growth -----------------------------------------------------------------------------

TEST_F(HashIndex, SizesOfNewAndRebuiltTables) {
    const struct {
        const char* name;
        int64_t request;
        bool rebuild;
        int32_t buckets, upper_bound;
    } cases[] = {
        {"made for 0", 0, false, 8, 6},
        {"made for 3", 3, false, 8, 6},
        {"made for 7", 7, false, 16, 12},
        {"rebuilt for 4: trunc(4 x 1.5) = 6", 4, true, 8, 6},
        {"rebuilt for 0: 4 buckets, bound 0", 0, true, 4, 0},
        {"rebuilt for 1: 4 buckets, bound 0", 1, true, 4, 0},
        {"rebuilt for 2: trunc(3) gives 4", 2, true, 4, 3},
        {"rebuilt for 11: trunc(16.5) gives 16", 11, true, 16, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* h = block::push_empty(1);
        h->w3 = hashtable::make(c.request, h, hashtable::KIND_HASH, 0);
        cell::set_type(h, TYPE_HASH);
        if (c.rebuild) hash_index::rebuild_hash(h->w3, c.request);
        EXPECT_EQ(record_of(h).buckets, c.buckets);
        EXPECT_EQ(record_of(h).upper_bound, c.upper_bound);
        EXPECT_EQ(record_of(h).size, 0);
    }
}

TEST_F(HashIndex, AFullTableIsRebuiltByThePutThatFindsItFull) {
    cell* h = block::push_empty(1);
    h->w3 = hashtable::make(1, h, hashtable::KIND_HASH, 0);
    cell::set_type(h, TYPE_HASH);
    hash_index::rebuild_hash(h->w3, 1);  // bound 0: the next put must rebuild
    int rebuilds = 0;
    for (int32_t i = 0; i < 200; ++i) {
        hashtable::table_record before = record_of(h);
        block::alloc_tail_cell(h);
        integer::make_in(block::get_cell(h, i), i % 150);  // the last 50 repeat earlier values
        int32_t status = -1;
        hashtable::put_with_status(h->w3, block::get_cell(h, i), &status);
        hashtable::table_record after = record_of(h);
        if (before.occupied >= before.upper_bound) {
            ++rebuilds;
            ASSERT_EQ(status, 2) << "put " << i;
            int64_t request = before.buckets > 2 * before.size ? before.buckets - 1 : before.buckets + 1;
            int64_t power = 1;
            while (power < int64_t(double(request) * 1.5)) power *= 2;
            EXPECT_EQ(after.buckets, std::max<int64_t>(power, 4)) << "put " << i;
        } else {
            ASSERT_EQ(status, i >= 150 ? 1 : 0) << "put " << i;
            EXPECT_EQ(after.buckets, before.buckets);
        }
    }
    EXPECT_GE(rebuilds, 4);
    EXPECT_EQ(record_of(h).size, 150);
    expect_index_matches_block(h, "after growth");
}

// --- Edits keep the index in step ----------------------------------------------------------------

// One random edit through the actions and storage routines that hash! inherits.
class random_editor {
public:
    random_editor(cell* first, cell* second, uint32_t seed) : first_(first), second_(second), random_(seed) {
        // Values that repeat: small integers, words of either case, strings of either case,
        // and two blocks that are found by their node.
        pool_ = block::push_empty(16);
        for (int32_t i = 0; i < 4; ++i) append_to_pool(push_integer(i));
        for (const char* name : {"a", "A", "b"}) append_to_pool(push_word(name));
        for (const char* text : {"ab", "AB"}) append_to_pool(push_text(text));
        append_to_pool(build("1 2"));
        append_to_pool(build("x"));
        append_to_pool(stack::push_copy(&none::value));
    }

    std::string edit() {
        stack::slot_mark mark;
        cell* s = pick(2) == 0 ? first_ : second_;
        int64_t n = cells_in(s);
        if (n > 60) return remove(s, n);
        switch (pick(20)) {
            case 0: case 1: {
                cell* v = value();
                actions::handler<ACTION_APPEND>(s)(s, v, -1, true, 1, true);
                return "append";
            }
            case 2: {
                at(s, pick_position(n + 1));
                actions::handler<ACTION_INSERT>(s)(s, value(), -1, true, 1, false);
                return "insert";
            }
            case 3: {
                at(s, pick_position(n + 1));
                actions::handler<ACTION_INSERT>(s)(s, values(pick(4) + 1), -1, false, pick(3) + 1, false);
                return "insert/dup of a block's cells";
            }
            case 4: return remove(s, n);
            case 5: {
                at(s, pick_position(n + 1));
                cell* part = push_integer(pick(4) + 1);
                actions::handler<ACTION_TAKE>(s)(s, pick(2) ? part : nullptr, false, pick(2) == 0);
                return "take";
            }
            case 6: {
                if (pick(4)) return "nothing";
                at(s, pick_position(n + 1));
                actions::handler<ACTION_CLEAR>(s)(s);
                return "clear";
            }
            case 7: {
                if (n == 0) return "nothing";
                cell* v = value();
                actions::handler<ACTION_POKE>(s)(s, int(pick_position(n)) + 1, v);
                return "poke";
            }
            case 8: {
                at(s, pick_position(n + 1));
                actions::handler<ACTION_CHANGE>(s)(s, values(pick(3) + 1), int(pick(4)) - 1, false, 1);
                return "change";
            }
            case 9: {
                if (n == 0) return "nothing";
                cell* target = stack::push_copy(s);
                target->w1 = static_cast<uint32_t>(pick_position(n + 1));
                at(s, pick_position(n));
                actions::handler<ACTION_MOVE>(s)(s, target, push_integer(pick(4) + 1));
                return "move within";
            }
            case 10: {
                cell* other = s == first_ ? second_ : first_;
                if (n == 0) return "nothing";
                at(other, pick_position(cells_in(other) + 1));
                at(s, pick_position(n));
                actions::handler<ACTION_MOVE>(s)(s, other, push_integer(pick(3) + 1));
                return "move across";
            }
            case 11: {
                at(s, pick_position(n + 1));
                bool records = pick(2) == 0 && (n - series::index_of(s)) % 2 == 0;
                cell* skip = records ? push_integer(2) : nullptr;
                actions::handler<ACTION_REVERSE>(s)(s, nullptr, skip);
                return "reverse";
            }
            case 12: {
                if (n == 0) return "nothing";
                cell* other = stack::push_copy(s);
                other->w1 = static_cast<uint32_t>(pick_position(n));
                at(s, pick_position(n));
                actions::handler<ACTION_SWAP>(s)(s, other);
                return "swap";
            }
            case 13: {
                at(s, pick_position(n + 1));
                actions::handler<ACTION_SORT>(s)(s, pick(2) == 0, nullptr, nullptr, nullptr, false, pick(2) == 0,
                                                 pick(2) == 0);
                return "sort";
            }
            case 14: {
                at(s, pick_position(n + 1));
                actions::handler<ACTION_RANDOM>(s)(s, false, false, false);
                return "random";
            }
            case 15: {
                cell* key = value();
                actions::handler<ACTION_PUT>(s)(s, key, value(), false);
                return "put";
            }
            case 16: {
                block::remove_value(s, value(), pick(2) == 0);
                return "remove a value";
            }
            case 17: {
                if (pick(2)) {
                    block::drop_last_cell(s);
                    return "drop the last cell";
                }
                block::truncate(s, pick_position(n + 1));
                return "truncate";
            }
            case 18: {
                block::insert_cell(s, value(), false, true);
                return "insert a cell at the head";
            }
            default: {
                at(s, pick_position(n + 1));
                actions::handler<ACTION_TRIM>(s)(s, false, false, false, false, false, nullptr);
                return "trim";
            }
        }
    }

private:
    void append_to_pool(cell* v) {
        block::append_copy(pool_, v);
        stack::drop_slots(1);
    }
    int64_t pick(int64_t bound) { return static_cast<int64_t>(random_() % static_cast<uint32_t>(bound)); }
    int64_t pick_position(int64_t bound) { return bound <= 0 ? 0 : pick(bound); }
    static void at(cell* s, int64_t index) { s->w1 = static_cast<uint32_t>(index); }
    cell* value() { return stack::push_copy(block::get_cell(pool_, pick(cells_in(pool_)))); }
    // A block of count values from the pool.
    cell* values(int64_t count) {
        cell* b = block::push_empty(count);
        for (int64_t i = 0; i < count; ++i) {
            block::append_copy(b, value());
            stack::drop_slots(1);
        }
        return b;
    }
    std::string remove(cell* s, int64_t n) {
        at(s, pick_position(n));
        cell* part = push_integer(pick(5) + 1);
        actions::handler<ACTION_REMOVE>(s)(s, part, nullptr);
        return "remove/part";
    }

    cell* first_;
    cell* second_;
    cell* pool_;
    std::mt19937 random_;
};

TEST_F(HashIndex, RandomEditsKeepTheIndexEqualToTheBlock) {
    for (uint32_t seed : {7u, 20240611u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        reset_stack();
        cell* first = hash_of("1 a 1 b 2 a");
        cell* second = hash_of("b b b");
        random_editor editor(first, second, seed);
        for (int step = 0; step < 250; ++step) {
            std::string what = editor.edit();
            first->w1 = second->w1 = 0;
            std::string where = "step " + std::to_string(step) + ": " + what;
            expect_index_matches_block(first, where + " (first)");
            expect_index_matches_block(second, where + " (second)");
            if (::testing::Test::HasFatalFailure()) return;
            if (step % 10 == 0) {
                expect_finds_like_a_scan(first, where);
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
        expect_finds_like_a_scan(first, "at the end (first)");
        expect_finds_like_a_scan(second, "at the end (second)");
    }
}

// Equal values whose entries change places one after the other: a lookup must still find
// the first of them (an entry left naming a changed cell would split the equal values).
TEST_F(HashIndex, ReverseAndSwapKeepEqualValuesTogether) {
    cell* h = hash_of("v x v y");
    actions::handler<ACTION_REVERSE>(h)(h, nullptr, nullptr);
    EXPECT_EQ(describe(h), "@0 make hash! [y v x v]");
    expect_index_matches_block(h, "reversed");
    expect_finds_like_a_scan(h, "reversed");

    cell* g = hash_of("q p p");
    cell* other = stack::push_copy(g);
    other->w1 = 1;
    actions::handler<ACTION_SWAP>(g)(g, other);
    EXPECT_EQ(describe(g), "@0 make hash! [p q p]");
    expect_index_matches_block(g, "swapped");
    expect_finds_like_a_scan(g, "swapped");
}

// A run of exactly 30,000 cells after an insertion is shifted; a longer one is left to the
// caller, which rebuilds.
TEST_F(HashIndex, LongRunsAreRebuiltInsteadOfShifted) {
    for (int64_t n : {int64_t(30000), int64_t(30001)}) {
        SCOPED_TRACE(n);
        reset_stack();
        cell* h = block::push_empty(n + 1);
        memory::series_buffer* b = memory::buffer_of(h->w2);
        for (int64_t i = 0; i < n; ++i) b->head_cell()[i] = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(i), 0};
        b->tail = b->head + n * int64_t(sizeof(cell));
        hash::make_in_place(h);
        int32_t entry_before = hash_index::position_entry(h->w3, n - 1);
        EXPECT_EQ(hash_index::shift_indexes(h->w3, 1, 0, n, true), n > hash_index::SHIFT_LIMIT);
        if (n > hash_index::SHIFT_LIMIT) {
            EXPECT_EQ(hash_index::position_entry(h->w3, n - 1), entry_before) << "nothing shifted";
            EXPECT_EQ(hash_index::position_entry(h->w3, n), -1);
        } else {
            EXPECT_EQ(hash_index::position_entry(h->w3, n), entry_before) << "the entry moved one up";
            EXPECT_EQ(hash_index::position_entry(h->w3, 0), -1) << "the new cell is not entered yet";
            // Make the block match the shift: a new cell at the head, then entered.
            b = memory::buffer_of(h->w2);
            std::memmove(b->head_cell() + 1, b->head_cell(), static_cast<size_t>(n) * sizeof(cell));
            b->tail += sizeof(cell);
            b->head_cell()[0] = cell{TYPE_INTEGER, 0, 5, 0};
            hashtable::put(h->w3, block::get_cell(h, 0));
        }
        // The same insertion through the storage routine, which rebuilds when told to.
        block::insert_cell(h, push_integer(-1), false, true);
        expect_index_matches_block(h, "after inserting in front");
    }
}

// --- Copies --------------------------------------------------------------------------------------

TEST_F(HashIndex, ACopiedTableSharesNoListWithItsSource) {
    cell* source = hash_of("a b a c a b");
    cell* copied = stack::push_slot();
    cell::init_unset(copied);
    series::copy(source, copied, nullptr, false, nullptr);
    copied->w3 = hashtable::copy(source->w3, copied->w2);
    cell::set_type(copied, TYPE_HASH);
    expect_index_matches_block(copied, "copy");

    // No list node of one table is a list node of the other.
    auto lists_of = [](const cell* h) {
        std::vector<node_ref> nodes;
        memory::series_buffer* b = memory::buffer_of(static_cast<node_ref>(record_of(h).duplicates));
        for (int64_t k = 1; k < b->length(); ++k) {
            if (b->head_cell()[k].is(TYPE_BINARY)) nodes.push_back(b->head_cell()[k].w2);
        }
        return nodes;
    };
    std::vector<node_ref> source_lists = lists_of(source);
    ASSERT_EQ(source_lists.size(), 2u);
    for (node_ref list : lists_of(copied)) {
        EXPECT_EQ(std::count(source_lists.begin(), source_lists.end(), list), 0) << "shared list " << list;
    }

    // Edits of either leave the other's index as it was.
    cell* a = push_word("a");
    copied->w1 = 0;
    actions::handler<ACTION_REMOVE>(copied)(copied, push_integer(1), nullptr);  // the first a
    actions::handler<ACTION_APPEND>(copied)(copied, a, -1, false, 1, true);
    copied->w1 = 0;
    expect_index_matches_block(copied, "copy after edits");
    expect_index_matches_block(source, "source after the copy's edits");
    EXPECT_EQ(find_position(source, a, 0, 1, 0, false, false), 0);
    EXPECT_EQ(find_position(source, a, 0, 1, 0, true, false), 4);
    EXPECT_EQ(find_position(copied, a, 0, 1, 0, false, false), 1);
    EXPECT_EQ(find_position(copied, a, 0, 1, 0, true, false), 5);

    actions::handler<ACTION_POKE>(source)(source, 3, push_word("z"));
    expect_index_matches_block(source, "source after a poke");
    expect_index_matches_block(copied, "copy after the source's poke");
    EXPECT_EQ(find_position(copied, a, 1, 1, 0, false, false), 1);
    EXPECT_EQ(find_position(source, a, 1, 1, 0, false, false), 4);
}

// --- Keys that move with the collector -------------------------------------------------------------

// Blocks hash by their node: once the collector has moved nodes, a lookup must rebuild the
// index before it walks it, and must still find every block.
TEST_F(HashIndex, NodeKeysAreFoundAfterTheCollectorMovesNodes) {
    cell* h = block::push_empty(8);
    for (int i = 0; i < 6; ++i) {
        stack::slot_mark mark;
        block::append_copy(h, build(i % 2 ? "1" : "2 2"));
    }
    block::append_copy(h, block::get_cell(h, 0));  // the same block twice: duplicates by node
    hash::make_in_place(h);
    EXPECT_NE(record_of(h).gc_stamp, 0) << "a table holding node-hashed keys is stamped";
    std::vector<node_ref> before;
    for (int64_t i = 0; i < cells_in(h); ++i) before.push_back(block::get_cell(h, i)->w2);
    uint32_t evacuations = gc::evacuation_count();
    bool torture = gc::torture_mode();
    gc::set_torture_mode(true);  // a collection now moves every node it can
    gc::collect();
    gc::set_torture_mode(torture);
    ASSERT_GT(gc::evacuation_count(), evacuations) << "no node frame was evacuated";
    int moved = 0;
    for (int64_t i = 0; i < cells_in(h); ++i) moved += block::get_cell(h, i)->w2 != before[static_cast<size_t>(i)];
    EXPECT_GT(moved, 0) << "no block node moved";
    for (int64_t i = 0; i < cells_in(h); ++i) {
        cell* key = stack::push_copy(block::get_cell(h, i));
        EXPECT_EQ(find_position(h, key, 0, 1, 9, false, false), i == 6 ? 0 : i) << "block " << i;
        stack::drop_slots(1);
    }
    expect_index_matches_block(h, "after the nodes moved");
    expect_finds_like_a_scan(h, "after the nodes moved");
}

TEST_F(HashIndex, BadTablesAndCellsRaise) {
    cell* h = hash_of("a b");
    cell* stray = push_integer(1);
    EXPECT_EQ(raised_code([&] { hashtable::put(h->w3, stray); }), code_of(err::script_invalid_arg));
    EXPECT_EQ(raised_code([&] { hash_index::delete_range(0, 0, 1); }), code_of(err::script_invalid_arg));
    node_ref map = hashtable::make(4, nullptr, hashtable::KIND_MAP, 0);
    *stack::push_slot() = cell{TYPE_MAP, 0, static_cast<node_ref>(hashtable::view(map).record->values), map};
    EXPECT_EQ(raised_code([&] { hash_index::rebuild_hash(map, 4); }), code_of(err::script_invalid_arg));
    hashtable::delete_cell(h->w3, stray);  // not in the series: nothing happens
    expect_index_matches_block(h, "unchanged");
}

}  // namespace
}  // namespace zor
