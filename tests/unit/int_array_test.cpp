// Raw byte and integer arrays: creation, length by width, appends across growth, search,
// removal, truncation, copying, and the bounds that raise script/past-end.
#include "runtime/memory/int-array.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "runtime/datatypes/error.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/memory/memory.h"
#include "tests/unit/runtime_fixture.h"

namespace {

namespace int_array = zor::int_array;
namespace memory = zor::memory;
using zor::err;

using zor::testing::raised_code;

int code(err id) { return zor::error_catalogue::code_of(id); }

// A raw series kept alive across collections the way the runtime keeps its tables: a
// value on the argument stack refers to it. The node is always read back from that cell,
// since a collection may move nodes as well as buffers.
class rooted_series {
public:
    explicit rooted_series(zor::node_ref node) {
        slot_ = zor::stack::push_slot();
        *slot_ = zor::cell{zor::TYPE_BINARY, 0, node, 0};
    }
    ~rooted_series() { zor::stack::drop_slots(1); }
    rooted_series(const rooted_series&) = delete;
    rooted_series& operator=(const rooted_series&) = delete;
    zor::node_ref node() const { return slot_->w2; }

private:
    zor::cell* slot_;
};

std::vector<int32_t> items_of(zor::node_ref node) {
    std::vector<int32_t> items;
    for (int64_t i = 1; i <= int_array::length(node); ++i) items.push_back(int_array::pick_int(node, i));
    return items;
}

// The node is read from its rooted slot for every append: an append can collect, and a
// collection may move the node.
void append_all(const rooted_series& series, const std::vector<int32_t>& values) {
    for (int32_t v : values) int_array::append_int(series.node(), v);
}

class IntArrayTest : public ::testing::Test {
protected:
    void SetUp() override { zor::testing::ensure_runtime(); }
};

TEST_F(IntArrayTest, MakeGivesAnEmptySeriesOfTheWidthWithRoom) {
    struct make_case {
        int64_t n;
        int32_t width;
        int64_t minimum_bytes;
    };
    const make_case cases[] = {
        {0, 1, 16}, {0, 2, 16}, {0, 4, 16},  // no count means 16 bytes' worth
        {10, 4, 40}, {100, 1, 100}, {33, 2, 66}, {5000, 4, 20000},
    };
    for (const make_case& c : cases) {
        rooted_series series(int_array::make(c.n, c.width));
        EXPECT_EQ(int_array::length(series.node()), 0) << c.n << " x " << c.width;
        uint32_t flags = int_array::buffer_flags(series.node());
        EXPECT_EQ(flags & memory::UNIT_MASK, uint32_t(c.width));
        EXPECT_TRUE(flags & memory::FLAG_IN_USE);
        EXPECT_GE(memory::buffer_of(series.node())->size, c.minimum_bytes) << c.n << " x " << c.width;
    }
}

TEST_F(IntArrayTest, MakeRejectsOtherWidthsAndNegativeCounts) {
    for (int32_t width : {0, 3, 8, 16, -4}) {
        EXPECT_EQ(raised_code([&] { int_array::make(4, width); }), code(err::script_out_of_range)) << width;
    }
    EXPECT_EQ(raised_code([] { int_array::make(-1, 4); }), code(err::script_past_end));
}

TEST_F(IntArrayTest, LengthCountsItemsOfTheSeriesWidth) {
    // The same 12 bytes are 12, 6 or 3 items.
    const uint8_t twelve[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct width_case {
        int32_t width;
        int64_t items;
    };
    for (width_case c : {width_case{1, 12}, width_case{2, 6}, width_case{4, 3}}) {
        rooted_series series(int_array::make(0, c.width));
        int_array::append_bytes(series.node(), twelve, sizeof twelve);
        EXPECT_EQ(int_array::length(series.node()), c.items) << "width " << c.width;
    }
}

TEST_F(IntArrayTest, AppendsSurviveGrowthOfTheBuffer) {
    rooted_series ints(int_array::make(0, 4));
    std::vector<int32_t> expected;
    for (int32_t i = 0; i < 5000; ++i) expected.push_back(i * 7919 - 1000000);
    append_all(ints, expected);
    EXPECT_EQ(items_of(ints.node()), expected);

    rooted_series bytes(int_array::make(0, 1));
    std::vector<uint8_t> expected_bytes;
    for (int i = 0; i < 3000; ++i) {
        uint8_t chunk[5] = {uint8_t(i), uint8_t(i >> 8), 0xFF, 0, uint8_t(i * 3)};
        if (i % 2) {
            int_array::append_byte(bytes.node(), chunk[0]);
            expected_bytes.push_back(chunk[0]);
        } else {
            int_array::append_bytes(bytes.node(), chunk, sizeof chunk);
            expected_bytes.insert(expected_bytes.end(), chunk, chunk + sizeof chunk);
        }
    }
    int_array::append_bytes(bytes.node(), nullptr, 0);  // nothing to append, nothing read
    memory::series_buffer* buffer = memory::buffer_of(bytes.node());
    ASSERT_EQ(int_array::length(bytes.node()), int64_t(expected_bytes.size()));
    EXPECT_EQ(std::memcmp(buffer->head, expected_bytes.data(), expected_bytes.size()), 0);
    EXPECT_EQ(raised_code([&] { int_array::append_bytes(bytes.node(), "x", -1); }), code(err::script_past_end));
}

TEST_F(IntArrayTest, FindIntAnswersTheByteOffsetOfTheFirstMatch) {
    rooted_series series(int_array::make(0, 4));
    append_all(series, {5, -1, 7, 5, INT32_MAX, INT32_MIN});
    struct find_case {
        int32_t value;
        int64_t offset;
    };
    const find_case cases[] = {
        {5, 0},           // the first of two
        {-1, 4}, {7, 8}, {INT32_MAX, 16}, {INT32_MIN, 20},
        {6, -1}, {0, -1},
    };
    for (const find_case& c : cases) EXPECT_EQ(int_array::find_int(series.node(), c.value), c.offset) << c.value;

    rooted_series empty(int_array::make(4, 4));
    EXPECT_EQ(int_array::find_int(empty.node(), 0), -1);

    // A byte series: only whole 4-byte items from the head count, not a trailing part.
    rooted_series bytes(int_array::make(0, 1));
    const uint8_t raw[7] = {9, 0, 0, 0, 3, 0, 0};
    int_array::append_bytes(bytes.node(), raw, sizeof raw);
    EXPECT_EQ(int_array::find_int(bytes.node(), 9), 0);
    EXPECT_EQ(int_array::find_int(bytes.node(), 3), -1);
}

TEST_F(IntArrayTest, RemoveIntTakesOutOnlyTheFirstMatch) {
    struct remove_case {
        std::vector<int32_t> before;
        int32_t value;
        std::vector<int32_t> after;
    };
    const remove_case cases[] = {
        {{1, 2, 3}, 4, {1, 2, 3}},  // absent: unchanged
        {{1, 2, 3}, 1, {2, 3}},
        {{1, 2, 3}, 3, {1, 2}},
        {{2, 1, 2, 2}, 2, {1, 2, 2}},
        {{8}, 8, {}},
        {{}, 8, {}},
    };
    for (const remove_case& c : cases) {
        rooted_series series(int_array::make(0, 4));
        append_all(series, c.before);
        int_array::remove_int(series.node(), c.value);
        EXPECT_EQ(items_of(series.node()), c.after) << "removing " << c.value;
    }
}

TEST_F(IntArrayTest, TruncateAtKeepsItemsBeforeThePosition) {
    struct truncate_case {
        int32_t width;
        int64_t position;
        int64_t length;
    };
    const truncate_case cases[] = {
        {4, 1, 0},  // position 1 empties
        {4, 3, 2}, {4, 5, 4}, {4, 6, 5},  // length + 1 keeps everything
        {1, 4, 3}, {2, 11, 10}, {1, 21, 20},
    };
    for (const truncate_case& c : cases) {
        rooted_series series(int_array::make(0, c.width));
        const uint8_t twenty[20] = {};
        int_array::append_bytes(series.node(), twenty, sizeof twenty);
        int_array::truncate_at(series.node(), c.position);
        EXPECT_EQ(int_array::length(series.node()), c.length) << "width " << c.width << " at " << c.position;
    }
    rooted_series series(int_array::make(0, 4));
    append_all(series, {1, 2, 3, 4, 5});
    int_array::truncate_at(series.node(), 3);
    EXPECT_EQ(items_of(series.node()), (std::vector<int32_t>{1, 2}));
    for (int64_t position : {0, -1, 4, 100}) {
        EXPECT_EQ(raised_code([&] { int_array::truncate_at(series.node(), position); }), code(err::script_past_end))
            << position;
    }
    EXPECT_EQ(int_array::length(series.node()), 2);
}

TEST_F(IntArrayTest, RemoveBytesAtClosesTheGap) {
    struct remove_bytes_case {
        int64_t offset;
        int64_t n;
        std::vector<uint8_t> after;
    };
    const remove_bytes_case cases[] = {
        {0, 2, {2, 3, 4, 5}},
        {2, 4, {0, 1}},  // through the tail
        {2, 3, {0, 1, 5}},
        {5, 1, {0, 1, 2, 3, 4}},
        {3, 0, {0, 1, 2, 3, 4, 5}},
        {6, 0, {0, 1, 2, 3, 4, 5}},  // nothing at the tail
        {0, 6, {}},
    };
    for (const remove_bytes_case& c : cases) {
        rooted_series series(int_array::make(0, 1));
        const uint8_t six[6] = {0, 1, 2, 3, 4, 5};
        int_array::append_bytes(series.node(), six, sizeof six);
        int_array::remove_bytes_at(series.node(), c.offset, c.n);
        memory::series_buffer* buffer = memory::buffer_of(series.node());
        std::vector<uint8_t> got(reinterpret_cast<uint8_t*>(buffer->head), reinterpret_cast<uint8_t*>(buffer->tail));
        EXPECT_EQ(got, c.after) << "offset " << c.offset << " n " << c.n;
    }
    rooted_series series(int_array::make(0, 1));
    const uint8_t four[4] = {1, 2, 3, 4};
    int_array::append_bytes(series.node(), four, sizeof four);
    struct bad_case {
        int64_t offset;
        int64_t n;
    };
    for (bad_case c : {bad_case{-1, 1}, bad_case{0, 5}, bad_case{3, 2}, bad_case{5, 0}, bad_case{1, -1}}) {
        EXPECT_EQ(raised_code([&] { int_array::remove_bytes_at(series.node(), c.offset, c.n); }),
                  code(err::script_past_end))
            << "offset " << c.offset << " n " << c.n;
    }
    EXPECT_EQ(int_array::length(series.node()), 4);
}

TEST_F(IntArrayTest, PickAndPokeStayWithinTheItems) {
    rooted_series series(int_array::make(8, 4));
    append_all(series, {10, 20, 30});
    int_array::poke_int(series.node(), 2, -5);
    int_array::poke_int(series.node(), 3, INT32_MIN);
    EXPECT_EQ(items_of(series.node()), (std::vector<int32_t>{10, -5, INT32_MIN}));
    // Index 4 lies inside the capacity but past the tail.
    for (int64_t index : {0, -1, 4, 9}) {
        EXPECT_EQ(raised_code([&] { int_array::pick_int(series.node(), index); }), code(err::script_past_end)) << index;
        EXPECT_EQ(raised_code([&] { int_array::poke_int(series.node(), index, 1); }), code(err::script_past_end))
            << index;
    }
    EXPECT_EQ(int_array::length(series.node()), 3);
}

TEST_F(IntArrayTest, ClearEmptiesAndKeepsTheCapacity) {
    rooted_series series(int_array::make(100, 4));
    append_all(series, {1, 2, 3});
    int32_t capacity = memory::buffer_of(series.node())->size;
    int_array::clear(series.node());
    EXPECT_EQ(int_array::length(series.node()), 0);
    EXPECT_EQ(memory::buffer_of(series.node())->size, capacity);
    int_array::append_int(series.node(), 4);
    EXPECT_EQ(items_of(series.node()), (std::vector<int32_t>{4}));
}

TEST_F(IntArrayTest, CopyIsAnIndependentSeriesWithTheSameFlagsAndItems) {
    rooted_series original(int_array::make(0, 4));
    append_all(original, {3, 1, 4, 1, 5});
    memory::set_series_flags(original.node(), memory::FLAG_OWNED);
    rooted_series copied(int_array::copy(original.node()));
    ASSERT_NE(copied.node(), original.node());
    EXPECT_EQ(int_array::buffer_flags(copied.node()), int_array::buffer_flags(original.node()));
    EXPECT_EQ(items_of(copied.node()), items_of(original.node()));
    EXPECT_EQ(memory::buffer_of(copied.node())->size, memory::buffer_of(original.node())->size);

    int_array::poke_int(original.node(), 1, 99);
    int_array::append_int(original.node(), 9);
    int_array::remove_int(copied.node(), 4);
    EXPECT_EQ(items_of(original.node()), (std::vector<int32_t>{99, 1, 4, 1, 5, 9}));
    EXPECT_EQ(items_of(copied.node()), (std::vector<int32_t>{3, 1, 1, 5}));
}

}  // namespace
