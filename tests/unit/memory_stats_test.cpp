// Memory statistics: the bytes in use, the detailed block's structure against the memory
// manager's own lists, totals that outgrow 32 bits, and a report that never collects,
// even when building it takes a new frame.
#include "runtime/memory/memory-stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

constexpr int OUT_OF_RANGE = 341;  // script/out-of-range
constexpr int INVALID_ARG = 309;   // script/invalid-arg

std::byte* frame_start(memory::series_frame* f) { return reinterpret_cast<std::byte*>(f + 1); }

class MemoryStats : public ::testing::Test {
protected:
    // The detailed report into a new block in an argument-stack slot.
    static cell* new_result() { return block::make_in(stack::push_slot(), 5); }
    static cell* detailed_report(cell* result) {
        EXPECT_EQ(memory::report_stats(result, memory::STATS_DETAILED), 0.0);
        return result;
    }

    static std::vector<const cell*> cells_of(const cell* block) {
        std::vector<const cell*> cells;
        memory::series_buffer* b = memory::buffer_of(block->w2);
        for (const cell* c = b->head_cell() + block->w1; c < b->tail_cell(); ++c) cells.push_back(c);
        return cells;
    }

    static int64_t number(const cell* c) {
        if (c->is(TYPE_FLOAT)) return static_cast<int64_t>(float_::get(c));
        EXPECT_TRUE(c->is(TYPE_INTEGER)) << "type " << int(c->type());
        return static_cast<int32_t>(c->w2);
    }
};

TEST_F(MemoryStats, BytesInUseCountUsedNodesFilledFramesAndBigSeries) {
    double expected = 0;
    for (memory::node_frame* f = memory::state.node_head; f; f = f->next) expected += f->used * 8.0;
    for (memory::series_frame* f = memory::state.series_head; f; f = f->next) expected += double(f->fill - frame_start(f));
    for (memory::big_link* l = memory::state.big_head; l; l = l->next) expected += double(l->size);
    EXPECT_EQ(memory::report_stats(nullptr, memory::STATS_BYTES_IN_USE), expected);
    EXPECT_GT(expected, 0);
}

TEST_F(MemoryStats, DetailedReportListsEveryFrameAndBigSeries) {
    gc::enabled = 0;
    node_ref big = memory::alloc_bytes(memory::MAX_FRAME_SIZE);  // one big series at least
    *stack::push_slot() = cell{TYPE_BINARY, 0, big, 0};
    cell* result = new_result();
    // The lists as the manager holds them, before the report allocates anything.
    std::vector<std::array<int64_t, 3>> nodes, series;
    std::vector<int64_t> bigs;
    int64_t manager_bytes = 0;
    for (memory::node_frame* f = memory::state.node_head; f; f = f->next) {
        nodes.push_back({int64_t(f->count) - f->used, f->used, f->count});
    }
    for (memory::series_frame* f = memory::state.series_head; f; f = f->next) {
        series.push_back({f->end - f->fill, f->fill - frame_start(f), f->end - frame_start(f)});
        manager_bytes += f->end - frame_start(f);
    }
    for (memory::big_link* l = memory::state.big_head; l; l = l->next) bigs.push_back(int64_t(l->size));
    int64_t heap_bytes = static_cast<int64_t>(heap::total_bytes());

    detailed_report(result);
    std::vector<const cell*> items = cells_of(result);
    ASSERT_EQ(items.size(), 5u);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(items[i]->is(TYPE_BLOCK)) << "item " << i;

    struct listed {
        const char* name;
        const cell* block;
        const std::vector<std::array<int64_t, 3>>& expected;
    };
    for (const listed& l : {listed{"node frames", items[0], nodes}, listed{"series frames", items[1], series}}) {
        SCOPED_TRACE(l.name);
        std::vector<const cell*> triples = cells_of(l.block);
        ASSERT_EQ(triples.size(), l.expected.size());
        for (size_t i = 0; i < triples.size(); ++i) {
            ASSERT_TRUE(triples[i]->is(TYPE_BLOCK));
            EXPECT_NE(triples[i]->header & FLAG_NEW_LINE, 0u) << "each triple on a line of its own";
            std::vector<const cell*> three = cells_of(triples[i]);
            ASSERT_EQ(three.size(), 3u);
            for (int k = 0; k < 3; ++k) EXPECT_EQ(number(three[k]), l.expected[i][k]) << i << "/" << k;
            EXPECT_EQ(number(three[0]) + number(three[1]), number(three[2]));
        }
    }
    for (const cell* triple : cells_of(items[0])) {
        EXPECT_EQ(number(cells_of(triple)[2]), int64_t(memory::NODES_PER_FRAME)) << "every node frame has 10000";
    }
    std::vector<const cell*> sizes = cells_of(items[2]);
    ASSERT_EQ(sizes.size(), bigs.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(number(sizes[i]), bigs[i]);
        EXPECT_NE(sizes[i]->header & FLAG_NEW_LINE, 0u);
    }
    EXPECT_GT(number(items[3]), manager_bytes + heap_bytes) << "frames, big series and heap, headers included";
    EXPECT_EQ(number(items[4]), heap_bytes);
}

TEST_F(MemoryStats, TotalsBeyondThirtyTwoBitsAreFloats) {
    gc::enabled = 0;
    // Two big series of 1.1 GB: only their headers are ever touched.
    constexpr int64_t SIZE = 1100LL * 1024 * 1024;
    node_ref first = 0, second = 0;
    if (testing::raised_code([&] {
            first = memory::alloc_bytes(SIZE);
            second = memory::alloc_bytes(SIZE);
        }) != -1) {
        gc::collect();
        GTEST_SKIP() << "the system refused 2.2 GB of address space";
    }
    cell* result = detailed_report(new_result());
    std::vector<const cell*> items = cells_of(result);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[3]->is(TYPE_FLOAT)) << "a total above 2147483647";
    EXPECT_GT(float_::get(items[3]), 2.0 * SIZE);
    EXPECT_TRUE(items[4]->is(TYPE_INTEGER));
    EXPECT_GT(memory::report_stats(nullptr, memory::STATS_BYTES_IN_USE), 2.0 * SIZE);
    (void)first;
    (void)second;
    stack::state.args_top = stack::state.args_begin;
    gc::collect();  // neither is held: both go
    for (memory::big_link* l = memory::state.big_head; l; l = l->next) EXPECT_LT(int64_t(l->size), SIZE);
}

TEST_F(MemoryStats, ReportNeverCollectsEvenWhenItNeedsANewFrame) {
    gc::enabled = 0;
    cell* result = block::make_in(stack::push_slot(), 5);
    // Every series frame filled with garbage to its last few hundred bytes.
    auto frame_count = [] {
        size_t n = 0;
        for (memory::series_frame* f = memory::state.series_head; f; f = f->next) ++n;
        return n;
    };
    for (memory::series_frame* f = memory::state.series_head; f; f = f->next) {
        for (;;) {
            int64_t room = f->end - f->fill - 32 - 64;
            if (room < 256) break;
            memory::state.series_current = f;
            memory::alloc_bytes(std::min<int64_t>(room, 60000));
        }
    }
    size_t frames_before = frame_count();
    // Collection on, in torture mode: any allocation would collect, were it allowed.
    gc::enabled = 1;
    gc::set_torture_mode(true);
    uint32_t cycles = gc::cycle_count();
    EXPECT_EQ(memory::report_stats(result, memory::STATS_DETAILED), 0.0);
    EXPECT_EQ(gc::cycle_count(), cycles) << "no collection during the report";
    EXPECT_GT(frame_count(), frames_before) << "the report's blocks needed a new frame";
    EXPECT_EQ(gc::enabled, 1u) << "the flag is restored";
    EXPECT_EQ(cells_of(result).size(), 5u);
    gc::set_torture_mode(false);
}

TEST_F(MemoryStats, BadModesAndResultsRaise) {
    cell* result = block::make_in(stack::push_slot(), 5);
    cell* not_a_block = stack::push_slot();
    *not_a_block = cell{TYPE_INTEGER, 0, 5, 0};
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"mode 0", [result] { memory::report_stats(result, 0); }},
        {"mode 4", [result] { memory::report_stats(result, 4); }},
        {"mode -1", [result] { memory::report_stats(result, -1); }},
    };
    for (const auto& [name, action] : cases) EXPECT_EQ(testing::raised_code(action), OUT_OF_RANGE) << name;
    EXPECT_EQ(testing::raised_code([not_a_block] { memory::report_stats(not_a_block, 2); }), INVALID_ARG);
    EXPECT_EQ(testing::raised_code([] { memory::report_stats(nullptr, 3); }), INVALID_ARG);
    uint32_t flag = gc::enabled;
    EXPECT_EQ(testing::raised_code([result] { memory::report_stats(result, 9); }), OUT_OF_RANGE);
    EXPECT_EQ(gc::enabled, flag) << "restored after an error too";
}

}  // namespace
}  // namespace zor
