// Test support for hash!: checks a hash!'s index against its block by brute force, and
// its find answers against block!'s scan over the same cells.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/datatypes/hash-index.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"

namespace zor::testing {

// Keeps nodes in place while a check reads the table through raw pointers and compares.
class nodes_held {
public:
    nodes_held() : saved_(gc::node_compaction) { gc::node_compaction = 0; }
    ~nodes_held() { gc::node_compaction = saved_; }
    nodes_held(const nodes_held&) = delete;
    nodes_held& operator=(const nodes_held&) = delete;

private:
    uint32_t saved_;
};

inline int64_t cells_in(const cell* series) { return memory::buffer_of(series->w2)->length(); }

// Whether the cells at two positions are equal as the index groups them: same type, op 0.
inline bool equal_as_entries(const cell* hash, int64_t p, int64_t q) {
    stack::slot_mark mark;
    cell* left = stack::push_copy(block::get_cell(hash, p));
    cell* right = stack::push_copy(block::get_cell(hash, q));
    return left->type() == right->type() && block::compare_cells(left, right, 0) == 0;
}

// Every invariant of the index, checked against the block: each cell entered exactly once,
// through the bucket that its position entry names; every bucket's cells equal to each
// other; no two buckets holding equal values of equal hash; the counts; no entry past the
// tail. A stale table is first brought up to date by a lookup, as any find would.
inline void expect_index_matches_block(cell* hash, const std::string& where) {
    SCOPED_TRACE(where);
    ASSERT_TRUE(hash->is(TYPE_HASH));
    ASSERT_NE(hash->w3, 0u);
    nodes_held held;
    stack::slot_mark mark;
    node_ref table = hash->w3;
    cell* probe = stack::push_copy(&none::value);
    hashtable::find(table, probe, 0, 1, 0, false, false);

    hashtable::table_record r = *hashtable::view(table).record;
    ASSERT_EQ(r.kind, hashtable::KIND_HASH);
    ASSERT_EQ(static_cast<node_ref>(r.values), hash->w2) << "the table indexes the hash!'s own series";
    int64_t n = cells_in(hash);
    std::vector<int64_t> owner(static_cast<size_t>(n), -1);
    int32_t live = 0, deleted = 0, lists = 0;
    std::vector<std::pair<int64_t, std::vector<int32_t>>> buckets;
    for (int64_t b = 0; b < r.buckets; ++b) {
        uint32_t state = hashtable::bucket_state_of(hashtable::view(table).flags, static_cast<uint32_t>(b));
        if (state == hashtable::BUCKET_DELETED) ++deleted;
        if (state != hashtable::BUCKET_LIVE) continue;
        ++live;
        if (hashtable::view(table).keys[b] < 0) ++lists;
        std::vector<int32_t> positions = hash_index::bucket_positions(table, b);
        ASSERT_FALSE(positions.empty()) << "live bucket " << b << " holds no cell";
        for (int32_t p : positions) {
            ASSERT_TRUE(p >= 0 && p < n) << "bucket " << b << " names position " << p << " of " << n;
            ASSERT_EQ(owner[static_cast<size_t>(p)], -1) << "position " << p << " entered twice";
            owner[static_cast<size_t>(p)] = b;
        }
        buckets.push_back({b, positions});
    }
    for (int64_t p = 0; p < n; ++p) {
        ASSERT_GE(owner[static_cast<size_t>(p)], 0) << "position " << p << " is not entered";
        ASSERT_EQ(hash_index::position_entry(table, p), owner[static_cast<size_t>(p)] + 1) << "position " << p;
    }
    for (int64_t p = n; p < n + 4; ++p) EXPECT_EQ(hash_index::position_entry(table, p), -1) << "past the tail";
    EXPECT_EQ(r.size, live) << "the live count counts buckets";
    EXPECT_EQ(r.occupied, live + deleted);
    EXPECT_LT(r.occupied, r.buckets) << "a bucket is always left empty";
    EXPECT_EQ(hash_index::list_count(table), lists) << "lists in use are the lists that buckets name";

    std::map<std::pair<uint32_t, uint32_t>, std::vector<int64_t>> by_hash;  // (type, hash): first cells
    for (const auto& [bucket, positions] : buckets) {
        for (size_t i = 1; i < positions.size(); ++i) {
            ASSERT_TRUE(equal_as_entries(hash, positions[0], positions[i]))
                << "bucket " << bucket << " mixes positions " << positions[0] << " and " << positions[i];
        }
        const cell* first = block::get_cell(hash, positions[0]);
        by_hash[{first->type(), hashtable::hash_value(first, false)}].push_back(positions[0]);
    }
    for (const auto& [key, firsts] : by_hash) {
        for (size_t i = 0; i < firsts.size(); ++i) {
            for (size_t j = i + 1; j < firsts.size(); ++j) {
                ASSERT_FALSE(equal_as_entries(hash, firsts[i], firsts[j]))
                    << "equal values at " << firsts[i] << " and " << firsts[j] << " sit in two buckets";
            }
        }
    }
}

// The position a find answers, -1 for none.
inline int64_t found_at(cell* answer) { return answer->is(TYPE_NONE) ? -1 : series::index_of(answer); }

// find through the hash!'s index must answer what block!'s scan answers over the same
// cells, for each value of the hash!, from several starts, with /skip, /last and /reverse.
inline void expect_finds_like_a_scan(cell* hash, const std::string& where) {
    SCOPED_TRACE(where);
    stack::slot_mark mark;
    int64_t n = cells_in(hash);
    cell* scanned = stack::push_copy(hash);
    cell::set_type(scanned, TYPE_BLOCK);
    scanned->w3 = 0;
    cell* indexed = stack::push_copy(hash);
    cell* key = stack::push_slot();
    cell* skip_cell = stack::push_slot();
    auto find = [&](cell* series, int64_t start, int skip, bool last, bool reverse, bool case_sensitive) {
        stack::slot_mark inner;
        series->w1 = static_cast<uint32_t>(start);
        *skip_cell = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(skip), 0};
        bool block_like = series::is_block_like(key->type());
        cell* answer = actions::handler<ACTION_FIND>(series)(series, key, nullptr, block_like, case_sensitive,
                                                             block_like, false, nullptr, skip_cell, last, reverse,
                                                             false, false);
        return found_at(answer);
    };
    for (int64_t p = 0; p < n; ++p) {
        *key = *block::get_cell(hash, p);
        for (int64_t start : {int64_t(0), p, p + 1, n}) {
            for (int skip : {1, 2, 3}) {
                for (int mode = 0; mode < 4; ++mode) {
                    bool last = mode == 1, reverse = mode == 2, case_sensitive = mode == 3;
                    int64_t expected = find(scanned, start, skip, last, reverse, case_sensitive);
                    int64_t answered = find(indexed, start, skip, last, reverse, case_sensitive);
                    ASSERT_EQ(answered, expected) << "value at " << p << ", start " << start << ", skip " << skip
                                                  << (last ? " /last" : "") << (reverse ? " /reverse" : "")
                                                  << (case_sensitive ? " /case" : "");
                }
            }
        }
    }
}

}  // namespace zor::testing
