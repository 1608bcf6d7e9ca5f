// The memory manager: buffer sizes and headers, the big-series limit, mid-buffer heads,
// growth and copying, tail appends, node reuse, frame creation and ordering, and the
// frame-room rule that keeps the allocator out of nearly full frames.
//
// Every test runs against a manager of its own: the runtime's frames are set aside and
// restored afterwards, so frame layouts start from nothing and what a test allocates is
// released when it ends. Collection stays off while a test runs, because the tests hold
// bare node references and buffer pointers across allocations on purpose.
#include "runtime/memory/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/gc/gc.h"
#include "runtime/memory/heap.h"
#include "tests/unit/runtime_fixture.h"

namespace {

namespace memory = zor::memory;
using memory::series_buffer;
using memory::series_frame;
using zor::node_ref;

constexpr int NO_MEMORY_CODE = 902;  // internal/no-memory
constexpr size_t platform_page = 4096;

class MemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        zor::testing::ensure_runtime();
        saved_ = memory::state;
        zor::gc::enabled = 0;
        memory::state = memory::manager{};
    }
    void TearDown() override {
        memory::release_all();
        memory::state = saved_;
    }

private:
    memory::manager saved_;
};

std::byte* as_bytes(void* p) { return static_cast<std::byte*>(p); }
std::byte* frame_start(series_frame* f) { return reinterpret_cast<std::byte*>(f + 1); }
int64_t frame_capacity(series_frame* f) { return f->end - frame_start(f); }

// The series frame whose carving area holds the whole buffer, or null.
series_frame* frame_holding(series_buffer* b) {
    for (series_frame* f = memory::state.series_head; f; f = f->next) {
        if (as_bytes(b) >= frame_start(f) && as_bytes(b) < f->fill) return f;
    }
    return nullptr;
}

bool in_big_list(series_buffer* b) {
    for (memory::big_link* link = memory::state.big_head; link; link = link->next) {
        if (reinterpret_cast<std::byte*>(link + 1) == as_bytes(b)) return true;
    }
    return false;
}

std::vector<series_frame*> frames_in_list_order() {
    std::vector<series_frame*> frames;
    for (series_frame* f = memory::state.series_head; f; f = f->next) frames.push_back(f);
    return frames;
}

// The list is doubly linked, ends at the recorded tail and runs in ascending address order.
void expect_frame_list_consistent() {
    std::vector<series_frame*> frames = frames_in_list_order();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front()->previous, nullptr);
    EXPECT_EQ(memory::state.series_tail, frames.back());
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_LT(frames[i - 1], frames[i]) << "frame " << i << " out of address order";
        EXPECT_EQ(frames[i]->previous, frames[i - 1]) << "frame " << i;
    }
}

// A recognisable byte for position i of series k, so a lost or overlapping copy shows.
uint8_t pattern_byte(int64_t series, int64_t i) { return static_cast<uint8_t>(series * 131 + i * 7 + 1); }

void fill_pattern(std::byte* p, int64_t n, int64_t series) {
    for (int64_t i = 0; i < n; ++i) p[i] = std::byte{pattern_byte(series, i)};
}

::testing::AssertionResult has_pattern(const std::byte* p, int64_t n, int64_t series) {
    for (int64_t i = 0; i < n; ++i) {
        if (p[i] != std::byte{pattern_byte(series, i)}) {
            return ::testing::AssertionFailure() << "byte " << i << " of " << n << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

// A new series of the given shape whose whole data area holds pattern 0 and whose tail
// lies tail_bytes after its head.
node_ref make_source(int64_t units, uint32_t unit, int32_t head_offset, int64_t tail_bytes, uint32_t extra_flags) {
    node_ref node = memory::alloc_series(units, unit, head_offset);
    series_buffer* b = memory::buffer_of(node);
    fill_pattern(b->data(), b->size, 0);
    b->tail = b->head + tail_bytes;
    memory::set_series_flags(node, extra_flags);
    return node;
}

// --- Fresh buffers -----------------------------------------------------------------------

TEST_F(MemoryTest, FreshBuffersHaveRoundedSizeAndEmptyExtent) {
    struct fresh_case {
        const char* name;
        node_ref (*make)();
        int32_t size;
        uint32_t unit;
    };
    // A request of 0 bytes or units means 16 bytes; every size rounds up to 16.
    const fresh_case cases[] = {
        {"alloc_bytes(0)", [] { return memory::alloc_bytes(0); }, 16, 1},
        {"alloc_bytes(1)", [] { return memory::alloc_bytes(1); }, 16, 1},
        {"alloc_bytes(16)", [] { return memory::alloc_bytes(16); }, 16, 1},
        {"alloc_bytes(17)", [] { return memory::alloc_bytes(17); }, 32, 1},
        {"alloc_units(0, 1)", [] { return memory::alloc_units(0, 1); }, 16, 1},
        {"alloc_units(0, 2)", [] { return memory::alloc_units(0, 2); }, 16, 2},
        {"alloc_units(0, 4)", [] { return memory::alloc_units(0, 4); }, 16, 4},
        {"alloc_units(9, 2)", [] { return memory::alloc_units(9, 2); }, 32, 2},
        {"alloc_units(5, 4)", [] { return memory::alloc_units(5, 4); }, 32, 4},
        {"alloc_cells(0)", [] { return memory::alloc_cells(0); }, 0, 16},
        {"alloc_cells(3)", [] { return memory::alloc_cells(3); }, 48, 16},
        {"alloc_series(3, 4, 0)", [] { return memory::alloc_series(3, 4, 0); }, 16, 4},
    };
    for (const fresh_case& c : cases) {
        node_ref node = c.make();
        ASSERT_NE(node, 0u) << c.name;
        series_buffer* b = memory::buffer_of(node);
        EXPECT_EQ(b->size, c.size) << c.name;
        EXPECT_EQ(b->node, node) << c.name << ": buffer and node must refer to each other";
        EXPECT_EQ(b->flags, c.unit | memory::FLAG_IN_USE | memory::FLAG_MANAGED) << c.name;
        EXPECT_EQ(b->head, b->data()) << c.name;
        EXPECT_EQ(b->tail, b->head) << c.name;
        EXPECT_EQ(b->length(), 0) << c.name;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data()) % 16, 0u) << c.name << ": cells need 16-byte alignment";
        EXPECT_NE(frame_holding(b), nullptr) << c.name;
    }
}

TEST_F(MemoryTest, HeadOffsetPlacesHeadAndTail) {
    struct head_case {
        int64_t units;
        uint32_t unit;
        int32_t head_offset;
        int64_t expected_head;  // bytes from the data start
        bool mid;
    };
    const head_case cases[] = {
        {10, 1, -1, 8, true},     // size 16: the middle
        {4, 16, -1, 32, true},    // size 64
        {5, 16, -1, 32, true},    // size 80: the middle rounds down to a whole cell, kept aligned
        {3, 2, -1, 8, true},      // size 16
        {0, 1, -1, 0, true},      // an empty area has its middle at the start
        {100, 1, -1, 56, true},   // size 112
        {4, 4, 8, 8, false},      // an explicit offset is taken as given
        {8, 16, 0, 0, false},
    };
    for (const head_case& c : cases) {
        series_buffer* b = memory::buffer_of(memory::alloc_series(c.units, c.unit, c.head_offset));
        std::string what = std::to_string(c.units) + " x " + std::to_string(c.unit) + " at " + std::to_string(c.head_offset);
        EXPECT_EQ(b->head - b->data(), c.expected_head) << what;
        EXPECT_EQ(b->tail, b->head) << what;
        EXPECT_EQ((b->flags & memory::FLAG_MID_HEAD) != 0, c.mid) << what;
        EXPECT_NE(b->flags & memory::FLAG_MANAGED, 0u) << what;
    }
}

TEST_F(MemoryTest, FilledAllocationsCoverTheWholeCapacity) {
    // Poisoning the frame first shows any byte or payload word that was not written.
    struct filled_case {
        int64_t n;
        int32_t size;
    };
    const filled_case byte_cases[] = {{0, 16}, {5, 16}, {16, 16}, {33, 48}, {1000, 1008}};
    const filled_case cell_cases[] = {{0, 0}, {1, 16}, {3, 48}, {64, 1024}};
    memory::new_series_frame();
    series_frame* f = memory::state.series_current;
    std::memset(f->fill, 0xAB, static_cast<size_t>(f->end - f->fill));
    for (const filled_case& c : byte_cases) {
        series_buffer* b = memory::buffer_of(memory::alloc_filled_bytes(c.n, 0x5A));
        ASSERT_EQ(b->size, c.size) << "bytes " << c.n;
        for (int32_t i = 0; i < b->size; ++i) ASSERT_EQ(b->data()[i], std::byte{0x5A}) << "bytes " << c.n << " at " << i;
    }
    for (const filled_case& c : cell_cases) {
        series_buffer* b = memory::buffer_of(memory::alloc_unset_cells(c.n));
        ASSERT_EQ(b->size, c.size) << "cells " << c.n;
        auto* cells = reinterpret_cast<zor::cell*>(b->data());
        for (int32_t i = 0; i < b->size / 16; ++i) {
            EXPECT_EQ(cells[i].header, uint32_t(zor::TYPE_UNSET)) << "cells " << c.n << " at " << i;
            EXPECT_EQ(cells[i].w1 | cells[i].w2 | cells[i].w3, 0u) << "cells " << c.n << " at " << i;
        }
        EXPECT_EQ(b->tail, b->head) << "the cells are capacity, not content";
    }
}

TEST_F(MemoryTest, HeapSeriesStayOutsideTheFrames) {
    node_ref node = memory::alloc_heap_series(5, 16, 32);
    series_buffer* b = memory::buffer_of(node);
    EXPECT_EQ(b->size, 80);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->flags, 16 | memory::FLAG_IN_USE | memory::FLAG_MANAGED | memory::FLAG_HEAP);
    EXPECT_EQ(b->head, b->data() + 32);
    EXPECT_EQ(b->tail, b->head);
    EXPECT_EQ(frame_holding(b), nullptr);
    EXPECT_FALSE(in_big_list(b));
    zor::heap::release(b);
}

// --- The big-series limit ----------------------------------------------------------------

TEST_F(MemoryTest, BigSeriesLimitCountsTheOverheadBytes) {
    // Data size plus the 24 overhead bytes reaching 2 MB makes a big series.
    struct big_case {
        int64_t units;
        uint32_t unit;
        int32_t size;
        bool big;
    };
    const big_case cases[] = {
        {2097136, 1, 2097136, true},    // 0x1FFFF0 + 24 passes 2 MB
        {2097120, 1, 2097120, false},   // 0x1FFFE0 + 24 stays below
        {2097121, 1, 2097136, true},    // rounds up to the big size
        {2097119, 1, 2097120, false},   // rounds up to the largest frame size
        {131071, 16, 2097136, true},    // cells reach it the same way
        {131070, 16, 2097120, false},
        {524284, 4, 2097136, true},
        {3000000, 1, 3000000, true},
    };
    for (const big_case& c : cases) {
        std::string what = std::to_string(c.units) + " x " + std::to_string(c.unit);
        node_ref node = memory::alloc_series(c.units, c.unit, 0);
        series_buffer* b = memory::buffer_of(node);
        EXPECT_EQ(b->size, c.size) << what;
        EXPECT_EQ((b->flags & memory::FLAG_BIG) != 0, c.big) << what;
        EXPECT_EQ(in_big_list(b), c.big) << what;
        series_frame* f = frame_holding(b);
        EXPECT_EQ(f != nullptr, !c.big) << what;
        if (f) {
            EXPECT_LE(b->data_end(), f->end) << what << ": the buffer must lie inside its frame";
        }
        // The whole data area must be usable memory.
        std::memset(b->data(), 0x77, static_cast<size_t>(b->size));
        EXPECT_EQ(b->data_end()[-1], std::byte{0x77}) << what;
    }
}

TEST_F(MemoryTest, BigSeriesListKeepsCreationOrder) {
    std::vector<series_buffer*> made;
    for (int i = 0; i < 3; ++i) made.push_back(memory::buffer_of(memory::alloc_bytes(0x200000 + i * 4096)));
    std::vector<std::byte*> listed;
    for (memory::big_link* link = memory::state.big_head; link; link = link->next) {
        listed.push_back(reinterpret_cast<std::byte*>(link + 1));
    }
    ASSERT_EQ(listed.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(listed[i], as_bytes(made[i])) << "block " << i;
    EXPECT_EQ(memory::state.series_head, nullptr) << "big series never make a frame";
}

// --- Growth ------------------------------------------------------------------------------

struct grow_case {
    const char* name;
    int64_t units;
    uint32_t unit;
    int32_t head_offset;
    int64_t tail_bytes;
    int64_t new_size;       // 0 doubles
    int32_t expected_size;  // of the new data area
    bool expected_big;
};

const grow_case GROW_CASES[] = {
    {"bytes doubled", 20, 1, 0, 13, 0, 64, false},
    {"bytes to a given size", 16, 1, 0, 16, 100, 112, false},
    {"bytes to a smaller size", 64, 1, 0, 10, 20, 32, false},
    {"cells doubled", 4, 16, 0, 48, 0, 128, false},
    {"cells to a size that is not whole cells", 2, 16, 0, 32, 70, 64, false},  // 70 / 16 units
    {"wide units", 8, 4, 0, 20, 0, 64, false},
    {"head in the middle", 64, 1, -1, 5, 0, 128, false},
    {"into a big series", 1024, 1, 0, 1024, 2097136, 2097136, true},
    {"from a big series to a frame", 2097136, 1, 0, 100, 4096, 4096, false},
};

TEST_F(MemoryTest, GrowSeriesMovesTheNodeToANewBuffer) {
    const uint32_t carried = memory::FLAG_OWNED | memory::FLAG_COMPLEMENT | memory::FLAG_UTF16;
    for (const grow_case& c : GROW_CASES) {
        node_ref node = make_source(c.units, c.unit, c.head_offset, c.tail_bytes, carried);
        series_buffer* old = memory::buffer_of(node);
        series_buffer* grown = memory::grow_series(old, c.new_size);
        EXPECT_NE(grown, old) << c.name;
        EXPECT_EQ(memory::buffer_of(node), grown) << c.name << ": the node must refer to the new buffer";
        EXPECT_EQ(grown->node, node) << c.name;
        EXPECT_EQ(old->node, 0u) << c.name << ": the old buffer must not claim the node";
        EXPECT_EQ(old->flags & memory::FLAG_IN_USE, 0u) << c.name;
        EXPECT_NE(grown->flags & memory::FLAG_IN_USE, 0u) << c.name;
        EXPECT_EQ(grown->unit(), c.unit) << c.name;
        EXPECT_EQ(grown->flags & carried, carried) << c.name << ": the flags word must carry over";
        EXPECT_EQ(grown->size, c.expected_size) << c.name;
        EXPECT_EQ((grown->flags & memory::FLAG_BIG) != 0, c.expected_big) << c.name;
        EXPECT_EQ(in_big_list(grown), c.expected_big) << c.name;
        EXPECT_EQ(grown->head, grown->data()) << c.name;
        EXPECT_EQ(grown->tail - grown->head, c.tail_bytes) << c.name << ": the tail keeps its distance";
    }
}

TEST_F(MemoryTest, GrowingAHeapSeriesMovesItIntoTheFrames) {
    node_ref node = memory::alloc_heap_series(4, 16, 0);
    memory::buffer_of(node)->tail += 32;
    series_buffer* grown = memory::grow_series(memory::buffer_of(node), 0);
    EXPECT_EQ(memory::buffer_of(node), grown);
    EXPECT_EQ(grown->flags & memory::FLAG_HEAP, 0u) << "a frame buffer must not claim the heap";
    EXPECT_NE(frame_holding(grown), nullptr);
    EXPECT_EQ(grown->size, 128);
    EXPECT_EQ(grown->tail - grown->head, 32);
}

TEST_F(MemoryTest, GrowBelowOneByteRaisesNoMemory) {
    struct bad_case {
        const char* name;
        int64_t units;
        int64_t new_size;
    };
    const bad_case cases[] = {
        {"negative size", 16, -1},
        {"very negative size", 16, -100000},
        {"doubling an empty capacity", 0, 0},
    };
    for (const bad_case& c : cases) {
        node_ref node = c.units == 0 ? memory::alloc_cells(0) : memory::alloc_bytes(c.units);
        series_buffer* before = memory::buffer_of(node);
        EXPECT_EQ(zor::testing::raised_code([&] { memory::grow_series(before, c.new_size); }), NO_MEMORY_CODE)
            << c.name;
        EXPECT_EQ(memory::buffer_of(node), before) << c.name << ": a failed grow leaves the series alone";
        EXPECT_NE(before->flags & memory::FLAG_IN_USE, 0u) << c.name;
        EXPECT_EQ(before->node, node) << c.name;
    }
}

TEST_F(MemoryTest, GrowthStaysGeometricUpToTheSeriesLimit) {
    constexpr int64_t GiB = int64_t(1) << 30;
    const int64_t max = memory::MAX_SERIES_BYTES;
    struct growth_case {
        int64_t needed, wanted, size;
    };
    const growth_case cases[] = {
        {100, 200, 200},                // the wish, when it fits
        {100, 50, 100},                 // never below the need
        {GiB + 16, 2 * GiB + 32, max},  // past 1 GiB: to the limit, not to the need
        {max, 2 * max, max},            // exactly at the limit
    };
    for (const growth_case& c : cases) EXPECT_EQ(memory::growth_size(c.needed, c.wanted), c.size) << c.needed;
    EXPECT_EQ(zor::testing::raised_code([&] { memory::growth_size(max + 16, 2 * max); }), NO_MEMORY_CODE);
    EXPECT_LE(max, int64_t(INT32_MAX) - 64);
    EXPECT_EQ(max % 16, 0);
}

TEST_F(MemoryTest, ABigBufferReplacedByGrowthGoesBackAtOnce) {
    zor::gc::enabled = 0;  // no collection may free it meanwhile
    node_ref node = memory::alloc_bytes(4 * memory::MAX_FRAME_SIZE);
    ASSERT_NE(memory::buffer_of(node)->flags & memory::FLAG_BIG, 0u);
    const int64_t before = memory::state.os_bytes;
    const int64_t old_size = memory::buffer_of(node)->size;
    series_buffer* grown = memory::expand_series(memory::buffer_of(node), 2 * old_size);
    EXPECT_EQ(memory::buffer_of(node), grown);
    // Only the new buffer's block was added: the old one's block went back.
    EXPECT_LT(memory::state.os_bytes - before, old_size + old_size / 2);
    EXPECT_GT(memory::state.os_bytes - before, old_size / 2);
}

// A big series grows by remapping its own block: every byte written stays, the node, the
// big list and the carved-bytes figure follow the block wherever it lands, and the only
// block added to the process is the growth. Pinned buffers (raw pointers into them live)
// and heads placed inside the data area take the copying path instead.
TEST_F(MemoryTest, BigSeriesGrowInPlaceUnlessPinnedOrOffsetHead) {
    struct in_place_case {
        const char* name;
        uint32_t flags;
        int32_t head_offset;
        bool in_place;
    };
    const in_place_case cases[] = {
        {"plain", 0, 0, true},
        {"pinned", memory::FLAG_PINNED, 0, false},
        {"head inside the data area", 0, 4096, false},
    };
    const int64_t bytes = 2 * memory::MAX_FRAME_SIZE;
    for (const in_place_case& c : cases) {
        node_ref other = memory::alloc_bytes(bytes);  // a neighbour in the big list
        node_ref node = make_source(bytes, 1, c.head_offset, bytes - c.head_offset - 16, c.flags);
        series_buffer* old = memory::buffer_of(node);
        ASSERT_NE(old->flags & memory::FLAG_BIG, 0u) << c.name;
        const int64_t before = memory::state.os_bytes;
        const int64_t kept = old->data_end() - old->head;
        series_buffer* grown = memory::expand_series(old, 4 * bytes);
        EXPECT_EQ(memory::buffer_of(node), grown) << c.name;
        EXPECT_EQ(grown->node, node) << c.name;
        EXPECT_EQ(grown->size, 4 * bytes) << c.name;
        EXPECT_EQ(grown->head, grown->data()) << c.name;
        EXPECT_EQ(grown->tail - grown->head, bytes - c.head_offset - 16) << c.name;
        EXPECT_TRUE(has_pattern(grown->head, kept, 0) || c.head_offset != 0) << c.name;
        EXPECT_TRUE(in_big_list(grown)) << c.name;
        EXPECT_TRUE(in_big_list(memory::buffer_of(other))) << c.name;
        EXPECT_EQ(reinterpret_cast<memory::big_link*>(grown)[-1].size,
                  uint64_t(grown->size) + sizeof(series_buffer)) << c.name;
        if (c.in_place) {
            // Only the added bytes: no second buffer, no copy.
            EXPECT_LE(memory::state.os_bytes - before, 3 * bytes + int64_t(platform_page)) << c.name;
        } else if (c.flags & memory::FLAG_PINNED) {
            EXPECT_TRUE(in_big_list(old)) << c.name << ": a pinned buffer stays until the sweep";
        }
        grown->tail = grown->head + 100;
        series_buffer* trimmed = memory::trim_series(grown);
        EXPECT_EQ(memory::buffer_of(node), trimmed) << c.name;
        EXPECT_EQ(trimmed->tail - trimmed->head, 100) << c.name;
        if (!(c.flags & memory::FLAG_PINNED)) {
            // Never below the big size: it stays a big series.
            EXPECT_EQ(trimmed->size, memory::MAX_FRAME_SIZE - 16) << c.name;
        }
        EXPECT_TRUE(has_pattern(trimmed->head, 100, 0) || c.head_offset != 0) << c.name;
    }
}

TEST_F(MemoryTest, ExpandSeriesCopiesFromHeadToDataEnd) {
    for (const grow_case& c : GROW_CASES) {
        node_ref node = make_source(c.units, c.unit, c.head_offset, c.tail_bytes, 0);
        series_buffer* old = memory::buffer_of(node);
        int64_t old_bytes = old->data_end() - old->head;
        int64_t head_in_old = old->head - old->data();
        series_buffer* grown = memory::expand_series(old, c.new_size);
        EXPECT_EQ(memory::buffer_of(node), grown) << c.name;
        EXPECT_EQ(grown->size, c.expected_size) << c.name;
        EXPECT_EQ(grown->tail - grown->head, c.tail_bytes) << c.name;
        // The source held pattern 0 over its whole data area; its part from the head on
        // must start the new head, cut at the new data end.
        int64_t copied = std::min<int64_t>(old_bytes, grown->data_end() - grown->head);
        for (int64_t i = 0; i < copied; ++i) {
            ASSERT_EQ(grown->head[i], std::byte{pattern_byte(0, head_in_old + i)}) << c.name << " at " << i;
        }
    }
}

TEST_F(MemoryTest, ExpandSeriesFilledFillsBeyondTheOldSize) {
    struct filled_case {
        int64_t old_bytes;
        int64_t new_size;
        int32_t expected_size;
    };
    const filled_case cases[] = {{32, 100, 112}, {16, 0, 32}, {48, 48, 48}, {64, 32, 32}};
    for (const filled_case& c : cases) {
        node_ref node = memory::alloc_bytes(c.old_bytes);
        series_buffer* b = memory::buffer_of(node);
        std::memset(b->data(), 'a', static_cast<size_t>(b->size));
        b->tail = b->head + 5;
        series_buffer* grown = memory::expand_series_filled(b, c.new_size, 'z');
        ASSERT_EQ(grown->size, c.expected_size) << c.old_bytes << " -> " << c.new_size;
        EXPECT_EQ(grown->tail - grown->head, 5);
        for (int64_t i = 0; i < grown->size; ++i) {
            char expected = i < c.old_bytes ? 'a' : 'z';
            ASSERT_EQ(char(grown->data()[i]), expected) << c.old_bytes << " -> " << c.new_size << " at " << i;
        }
    }
}

// --- Copies ------------------------------------------------------------------------------

TEST_F(MemoryTest, CopySeriesKeepsFlagsAndData) {
    struct copy_case {
        const char* name;
        int64_t units;
        uint32_t unit;
        int32_t head_offset;
        int64_t tail_bytes;
        uint32_t flags;
    };
    const copy_case cases[] = {
        {"owned bytes", 40, 1, 0, 40, memory::FLAG_OWNED},
        {"cells", 5, 16, 0, 48, 0},
        {"two-byte text from the loader", 12, 2, 0, 24, memory::FLAG_UTF16 | memory::FLAG_OWNED},
        {"complemented bitset", 32, 1, 0, 32, memory::FLAG_COMPLEMENT},
        {"head in the middle", 64, 1, -1, 10, 0},
        {"empty cells", 0, 16, 0, 0, 0},
    };
    for (const copy_case& c : cases) {
        node_ref source = make_source(c.units, c.unit, c.head_offset, c.tail_bytes, c.flags);
        series_buffer* old = memory::buffer_of(source);
        uint32_t old_flags = old->flags;
        int64_t head_in_old = old->head - old->data();
        node_ref copy = memory::copy_series(old);
        ASSERT_NE(copy, source) << c.name;
        series_buffer* b = memory::buffer_of(copy);
        old = memory::buffer_of(source);
        EXPECT_EQ(b->node, copy) << c.name;
        EXPECT_EQ(b->unit(), c.unit) << c.name;
        EXPECT_EQ(b->flags & (c.flags | memory::FLAG_IN_USE), c.flags | memory::FLAG_IN_USE) << c.name;
        EXPECT_EQ(b->size, std::max(old->size, 16)) << c.name;
        EXPECT_EQ(b->head, b->data()) << c.name;
        EXPECT_EQ(b->tail - b->head, c.tail_bytes) << c.name;
        EXPECT_EQ(b->length(), c.tail_bytes / c.unit) << c.name;
        for (int64_t i = 0; i < old->data_end() - old->head; ++i) {
            ASSERT_EQ(b->head[i], std::byte{pattern_byte(0, head_in_old + i)}) << c.name << " at " << i;
        }
        EXPECT_EQ(old->flags, old_flags) << c.name << ": the source is untouched";
    }
}

TEST_F(MemoryTest, CopySeriesPartDropsOnlyTheOwnedBit) {
    struct part_case {
        const char* name;
        int64_t units;
        uint32_t unit;
        int64_t start;
        int64_t count;
        uint32_t flags;
    };
    const part_case cases[] = {
        {"owned bytes, middle part", 40, 1, 5, 10, memory::FLAG_OWNED},
        {"owned cells, tail part", 6, 16, 4, 2, memory::FLAG_OWNED | memory::FLAG_COMPLEMENT},
        {"two-byte text, whole", 12, 2, 0, 12, memory::FLAG_UTF16},
        {"nothing", 8, 4, 3, 0, memory::FLAG_OWNED},
    };
    for (const part_case& c : cases) {
        node_ref source = make_source(c.units, c.unit, 0, c.units * c.unit, c.flags);
        node_ref part = memory::copy_series_part(memory::buffer_of(source), c.start, c.count);
        series_buffer* b = memory::buffer_of(part);
        EXPECT_EQ(b->node, part) << c.name;
        EXPECT_EQ(b->unit(), c.unit) << c.name;
        EXPECT_EQ(b->flags & memory::FLAG_OWNED, 0u) << c.name;
        uint32_t kept = c.flags & ~memory::FLAG_OWNED;
        EXPECT_EQ(b->flags & kept, kept) << c.name;
        EXPECT_NE(b->flags & memory::FLAG_IN_USE, 0u) << c.name;
        EXPECT_EQ(b->length(), c.count) << c.name;
        for (int64_t i = 0; i < c.count * c.unit; ++i) {
            ASSERT_EQ(b->head[i], std::byte{pattern_byte(0, c.start * c.unit + i)}) << c.name << " at " << i;
        }
        EXPECT_EQ(memory::buffer_of(source)->flags & memory::FLAG_OWNED, c.flags & memory::FLAG_OWNED)
            << c.name << ": the source keeps its owned bit";
    }
}

// --- Appending at the tail -----------------------------------------------------------------

TEST_F(MemoryTest, AllocTailCellDoublesWhenFullAndMarksTheCellUnset) {
    node_ref node = memory::alloc_cells(2);
    // Capacity in cells before each append: doubling from 2.
    const int64_t capacity_before[] = {2, 2, 2, 4, 4, 8, 8, 8, 8};
    for (int64_t i = 0; i < int64_t(std::size(capacity_before)); ++i) {
        series_buffer* b = memory::buffer_of(node);
        ASSERT_EQ(b->size / 16, capacity_before[i]) << "before append " << i;
        bool room = b->tail < b->data_end();
        if (room) *b->tail_cell() = zor::cell{0x40000000u | zor::TYPE_INTEGER, 11, 22, 33};
        zor::cell* c = memory::alloc_tail_cell(b);
        b = memory::buffer_of(node);
        EXPECT_EQ(c, b->tail_cell() - 1) << "append " << i << ": the cell just before the tail";
        EXPECT_EQ(c->header, uint32_t(zor::TYPE_UNSET)) << "append " << i;
        if (room) {
            EXPECT_EQ(c->w1, 11u) << "append " << i << ": the payload is left as it was";
            EXPECT_EQ(c->w3, 33u) << "append " << i;
        }
        EXPECT_EQ(b->length(), i + 1);
        c->w1 = uint32_t(1000 + i);
        for (int64_t k = 0; k <= i; ++k) ASSERT_EQ(b->head_cell()[k].w1, uint32_t(1000 + k)) << "after append " << i;
    }
}

TEST_F(MemoryTest, ReserveTailBytesGrowsToTwiceTheRequestOrTheCapacity) {
    struct reserve_case {
        const char* name;
        int64_t capacity;
        int64_t used;
        int64_t n;
        int32_t expected_size;
    };
    const reserve_case cases[] = {
        {"fits exactly", 64, 10, 54, 64},
        {"one byte over: twice the capacity", 64, 10, 55, 128},
        {"request equal to the capacity", 64, 1, 64, 128},
        {"request above the capacity: twice the request", 64, 0, 65, 144},
        {"large request", 16, 16, 1000, 2000},
        {"nothing", 16, 16, 0, 16},
    };
    for (const reserve_case& c : cases) {
        node_ref node = memory::alloc_bytes(c.capacity);
        series_buffer* b = memory::buffer_of(node);
        fill_pattern(b->data(), c.used, 3);
        b->tail = b->head + c.used;
        std::byte* old_tail = memory::reserve_tail_bytes(b, c.n);
        b = memory::buffer_of(node);
        EXPECT_EQ(b->size, c.expected_size) << c.name;
        EXPECT_EQ(old_tail, b->head + c.used) << c.name << ": the old tail, in the buffer that holds the series";
        EXPECT_EQ(b->tail, b->head + c.used + c.n) << c.name;
        EXPECT_LE(b->tail, b->data_end()) << c.name;
        EXPECT_TRUE(has_pattern(b->head, c.used, 3)) << c.name;
    }
}

TEST_F(MemoryTest, ReplicatePatternRepeatsTheFirstItem) {
    struct replicate_case {
        std::string item;
        int64_t count;
    };
    const replicate_case cases[] = {{"ab", 0}, {"ab", 1}, {"ab", 2}, {"xyz", 7}, {"q", 1000}, {"0123456789", 33}};
    for (const replicate_case& c : cases) {
        int64_t length = int64_t(c.item.size());
        std::vector<char> buffer(size_t(length * std::max<int64_t>(c.count, 1) + 8), '#');
        std::memcpy(buffer.data(), c.item.data(), c.item.size());
        auto* start = reinterpret_cast<std::byte*>(buffer.data());
        std::byte* end = memory::replicate_pattern(start, length, c.count);
        EXPECT_EQ(end - start, length * c.count) << c.item << " x " << c.count;
        for (int64_t i = 0; i < length * c.count; ++i) {
            ASSERT_EQ(buffer[size_t(i)], c.item[size_t(i % length)]) << c.item << " x " << c.count << " at " << i;
        }
        int64_t written = std::max(length * c.count, length);
        EXPECT_EQ(buffer[size_t(written)], '#') << c.item << " x " << c.count << ": wrote past the end";
    }
}

TEST_F(MemoryTest, FillRangeAndZeroWords) {
    std::vector<uint8_t> bytes(40, 0xEE);
    auto* p = reinterpret_cast<std::byte*>(bytes.data());
    memory::fill_range(p + 3, p + 9, 0x11);
    memory::fill_range(p + 20, p + 20, 0x22);  // an empty range writes nothing
    memory::zero_words(p + 24, p + 35);        // whole words only: 24..31
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t expected = (i >= 3 && i < 9) ? 0x11 : (i >= 24 && i < 32) ? 0x00 : 0xEE;
        EXPECT_EQ(bytes[i], expected) << "byte " << i;
    }
}

// --- Nodes -------------------------------------------------------------------------------

TEST_F(MemoryTest, FreedNodesAreReusedLastFreedFirst) {
    std::vector<node_ref> nodes;
    for (int i = 0; i < 5; ++i) nodes.push_back(memory::alloc_node());
    memory::node_frame* frame = memory::state.node_current;
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->used, 5u);
    for (node_ref n : nodes) {
        EXPECT_NE(n, 0u);
        EXPECT_EQ(memory::frame_of_node(n), frame);
        EXPECT_EQ(memory::slot_of(n), nullptr) << "a new node refers to nothing";
    }
    std::vector<node_ref> sorted = nodes;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end()) << "nodes handed out twice";

    memory::slot_of(nodes[1]) = reinterpret_cast<series_buffer*>(uintptr_t(0x1234560));
    memory::free_node(nodes[1]);
    memory::free_node(nodes[3]);
    EXPECT_EQ(frame->used, 3u);
    EXPECT_EQ(memory::alloc_node(), nodes[3]);
    node_ref again = memory::alloc_node();
    EXPECT_EQ(again, nodes[1]);
    EXPECT_EQ(memory::slot_of(again), nullptr) << "a reused node must not keep its old buffer";
    EXPECT_EQ(frame->used, 5u);
}

TEST_F(MemoryTest, NodeFramesFillThenTheFirstWithRoomIsTaken) {
    std::vector<node_ref> first;
    for (uint32_t i = 0; i < memory::NODES_PER_FRAME; ++i) first.push_back(memory::alloc_node());
    memory::node_frame* one = memory::state.node_head;
    ASSERT_EQ(one->next, nullptr) << "10,000 nodes fit one frame";
    EXPECT_EQ(one->free_head, 0u);

    node_ref n = memory::alloc_node();
    memory::node_frame* two = memory::state.node_tail;
    ASSERT_NE(two, one);
    EXPECT_EQ(memory::frame_of_node(n), two);
    EXPECT_EQ(memory::state.node_current, two);

    // A freed node in the first frame waits until the current frame is full.
    memory::free_node(first[17]);
    EXPECT_EQ(memory::frame_of_node(memory::alloc_node()), two);
    while (two->free_head != 0) memory::alloc_node();
    EXPECT_EQ(memory::alloc_node(), first[17]);
    EXPECT_EQ(memory::state.node_current, one);

    // Once the current frame is full, a frame being evacuated is passed over.
    memory::free_node(first[5]);
    one->evacuate = true;
    memory::state.node_current = two;
    node_ref fresh = memory::alloc_node();
    EXPECT_NE(fresh, first[5]);
    EXPECT_EQ(memory::frame_of_node(fresh), memory::state.node_tail);
    EXPECT_NE(memory::state.node_tail, two);
    one->evacuate = false;
}

// --- Series frames ---------------------------------------------------------------------------

TEST_F(MemoryTest, ManyAllocationsCrossFrameBoundaries) {
    // Sizes cycle so that frames end at varied leftovers; every buffer must stay whole,
    // separate and inside one frame, and every frame after the first is 2 MB.
    const int64_t count = 40000;
    std::vector<node_ref> nodes;
    nodes.reserve(count);
    for (int64_t i = 0; i < count; ++i) {
        int64_t bytes = 1 + (i * 37) % 400;
        node_ref node = memory::alloc_bytes(bytes);
        series_buffer* b = memory::buffer_of(node);
        fill_pattern(b->head, bytes, i);
        b->tail = b->head + bytes;
        nodes.push_back(node);
    }
    std::vector<series_frame*> frames = frames_in_list_order();
    ASSERT_GE(frames.size(), 4u);
    expect_frame_list_consistent();

    // The 1 MB frame was made first; every later one is 2 MB.
    series_frame* first = frame_holding(memory::buffer_of(nodes[0]));
    ASSERT_NE(first, nullptr);
    for (series_frame* f : frames) {
        int64_t nominal = f == first ? memory::FIRST_FRAME_SIZE : memory::MAX_FRAME_SIZE;
        EXPECT_GE(frame_capacity(f), nominal);
        EXPECT_LT(frame_capacity(f), nominal + 4096);
        EXPECT_LT(f->fill, f->end);
    }

    std::vector<std::pair<std::byte*, std::byte*>> extents;
    for (int64_t i = 0; i < count; ++i) {
        series_buffer* b = memory::buffer_of(nodes[size_t(i)]);
        ASSERT_EQ(b->node, nodes[size_t(i)]);
        series_frame* f = frame_holding(b);
        ASSERT_NE(f, nullptr) << "series " << i;
        ASSERT_LE(b->data_end(), f->fill) << "series " << i << " passes its frame's fill";
        ASSERT_TRUE(has_pattern(b->head, b->tail - b->head, i)) << "series " << i;
        extents.emplace_back(as_bytes(b), b->data_end());
    }
    std::sort(extents.begin(), extents.end());
    for (size_t i = 1; i < extents.size(); ++i) {
        ASSERT_LE(extents[i - 1].second, extents[i].first) << "buffers overlap";
    }

    memory::release_all();
    EXPECT_EQ(memory::state.series_head, nullptr);
    EXPECT_EQ(memory::state.node_head, nullptr);
    EXPECT_EQ(memory::state.os_bytes, 0) << "every OS block made must be given back";
}

TEST_F(MemoryTest, ConsecutiveBuffersAreCarvedBackToBack) {
    series_buffer* previous = memory::buffer_of(memory::alloc_bytes(1));
    for (int64_t bytes : {16, 100, 0, 4000, 33}) {
        series_buffer* b = memory::buffer_of(memory::alloc_bytes(bytes));
        EXPECT_EQ(as_bytes(b), previous->data_end()) << bytes << " bytes after a " << previous->size << "-byte buffer";
        previous = b;
    }
}

TEST_F(MemoryTest, NewFramesAreKeptInAddressOrder) {
    for (int i = 0; i < 6; ++i) {
        series_frame* f = memory::new_series_frame();
        EXPECT_EQ(f->fill, frame_start(f));
        expect_frame_list_consistent();
    }
    EXPECT_EQ(frames_in_list_order().size(), 6u);
    EXPECT_EQ(memory::state.next_frame_size, memory::MAX_FRAME_SIZE);
    // Freeing one from the middle keeps the list whole.
    series_frame* middle = memory::state.series_head->next->next;
    memory::free_series_frame(middle);
    expect_frame_list_consistent();
    EXPECT_EQ(frames_in_list_order().size(), 5u);
}

TEST_F(MemoryTest, FrameRoomRuleAvoidsNearlyFullFrames) {
    // Two frames, low and high in address order; the current frame and the bytes left in
    // each are set by hand. A 1000-byte request (1008 data bytes) goes to the current frame
    // when it fits, else to the first frame in address order that fits, unless that one
    // has fewer than 0xCCCC bytes left: then a new frame is made.
    enum where { LOW, HIGH, NEW };
    struct room_case {
        const char* name;
        int64_t low_left;
        int64_t high_left;
        where current;
        where expected;
    };
    // Fills stay 16-byte aligned and frame ends are aligned, so the bytes left are
    // always a multiple of 16: 52,416 and 52,432 bracket 0xCCCC (52,428).
    const room_case cases[] = {
        {"current frame fits, however little is left", 300000, 2000, HIGH, HIGH},
        {"current full, other frame has 52,416 left", 52416, 496, HIGH, NEW},
        {"current full, other frame has 52,432 left", 52432, 496, HIGH, LOW},
        {"current full, first frame in address order wins", 100000, 200000, NEW, LOW},
        {"low current and full, high has room", 496, 60000, LOW, HIGH},
        {"no frame fits", 496, 896, LOW, NEW},
    };
    for (const room_case& c : cases) {
        memory::release_all();
        memory::state = memory::manager{};
        memory::new_series_frame();
        memory::new_series_frame();
        series_frame* low = memory::state.series_head;
        series_frame* high = low->next;
        low->fill = low->end - c.low_left;
        high->fill = high->end - c.high_left;
        series_frame* full_current = nullptr;
        if (c.current == NEW) {
            // A third frame, full, as the current one.
            full_current = memory::new_series_frame();
            full_current->fill = full_current->end - 96;
            memory::state.series_current = full_current;
        } else {
            memory::state.series_current = c.current == LOW ? low : high;
        }
        std::vector<series_frame*> before = frames_in_list_order();

        series_buffer* b = memory::buffer_of(memory::alloc_bytes(1000));
        series_frame* holder = frame_holding(b);
        ASSERT_NE(holder, nullptr) << c.name;
        EXPECT_EQ(memory::state.series_current, holder) << c.name << ": the frame used becomes current";
        if (c.expected == NEW) {
            EXPECT_EQ(std::find(before.begin(), before.end(), holder), before.end()) << c.name << ": a new frame";
            EXPECT_EQ(frames_in_list_order().size(), before.size() + 1) << c.name;
            EXPECT_EQ(as_bytes(b), frame_start(holder)) << c.name;
            expect_frame_list_consistent();
        } else {
            EXPECT_EQ(holder, c.expected == LOW ? low : high) << c.name;
            EXPECT_EQ(frames_in_list_order().size(), before.size()) << c.name;
        }
    }
}

TEST_F(MemoryTest, ARequestAboveTheNextFrameSizeGetsAMaximalFrame) {
    struct frame_size_case {
        int64_t bytes;
        int64_t expected_capacity;  // nominal
    };
    // Starting from nothing, the first frame is 1 MB unless the request needs more.
    const frame_size_case cases[] = {
        {1000, memory::FIRST_FRAME_SIZE},
        {memory::FIRST_FRAME_SIZE - 16, memory::MAX_FRAME_SIZE},    // needed 1 MB + 8
        {memory::FIRST_FRAME_SIZE - 32, memory::FIRST_FRAME_SIZE},  // needed 1 MB - 8: the largest that fits
        {2097120, memory::MAX_FRAME_SIZE},
    };
    for (const frame_size_case& c : cases) {
        memory::release_all();
        memory::state = memory::manager{};
        series_buffer* b = memory::buffer_of(memory::alloc_bytes(c.bytes));
        series_frame* f = frame_holding(b);
        ASSERT_NE(f, nullptr) << c.bytes;
        EXPECT_GE(frame_capacity(f), c.expected_capacity) << c.bytes;
        EXPECT_LT(frame_capacity(f), c.expected_capacity + 4096) << c.bytes;
        EXPECT_LE(b->data_end(), f->end) << c.bytes;
        EXPECT_EQ(memory::state.next_frame_size, memory::MAX_FRAME_SIZE) << c.bytes;
    }
}

}  // namespace
