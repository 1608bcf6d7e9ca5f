// The collector: what each datatype keeps alive and how its words follow moved nodes,
// compaction (sliding, the pin flag, buffers replaced by growth, frames emptied), big
// series, deep nesting without native recursion, node-frame evacuation by its rule and in
// torture mode, weak record tables, mark callbacks and root guards, and the mold guard's
// relocation.
//
// Values are built with collection switched off (so the test can hold bare nodes while it
// builds them), rooted in argument-stack slots, and then collected explicitly: a plain
// collection to see what is kept and what is freed, and a "moving" one (torture mode for
// few collections) in which every node frame is evacuated, so that every node moves and
// every reference must be rewritten.
#include "runtime/gc/gc.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/eval/stack.h"
#include "runtime/value/handle-registry.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

using memory::series_buffer;

uint8_t pattern_byte(int seed, int64_t i) { return static_cast<uint8_t>(seed * 37 + i * 11 + 5); }

// A byte series of n bytes holding the seed's pattern.
node_ref patterned_bytes(int seed, int64_t n = 40) {
    node_ref node = memory::alloc_bytes(n);
    series_buffer* b = memory::buffer_of(node);
    for (int64_t i = 0; i < n; ++i) b->head[i] = std::byte{pattern_byte(seed, i)};
    b->tail = b->head + n;
    return node;
}

::testing::AssertionResult holds_pattern(node_ref node, int seed, int64_t n = 40) {
    series_buffer* b = memory::buffer_of(node);
    if (!b) return ::testing::AssertionFailure() << "node " << node << " has no buffer";
    if (b->node != node) return ::testing::AssertionFailure() << "buffer does not name node " << node;
    if (b->tail - b->head != n) return ::testing::AssertionFailure() << "length " << (b->tail - b->head);
    for (int64_t i = 0; i < n; ++i) {
        if (b->head[i] != std::byte{pattern_byte(seed, i)}) return ::testing::AssertionFailure() << "byte " << i;
    }
    return ::testing::AssertionSuccess();
}

// A one-cell block holding a binary! of the seed's pattern: tracing the block is what
// keeps the inner series alive.
node_ref block_around(int seed) {
    node_ref inner = patterned_bytes(seed);
    node_ref outer = memory::alloc_cells(1);
    series_buffer* b = memory::buffer_of(outer);
    *b->head_cell() = cell{TYPE_BINARY, 0, inner, 0};
    b->tail = b->head + sizeof(cell);
    return outer;
}

::testing::AssertionResult block_holds_pattern(node_ref outer, int seed) {
    series_buffer* b = memory::buffer_of(outer);
    if (!b || b->node != outer) return ::testing::AssertionFailure() << "block node " << outer << " is stale";
    if (b->tail - b->head != int64_t(sizeof(cell))) return ::testing::AssertionFailure() << "block length";
    return holds_pattern(b->head_cell()->w2, seed);
}

// An object's change node: cell 0 names an on-change* handler at field 3 whose spec (a
// block) it cached; cell 1 says there is no on-deep-change*.
node_ref change_node(int seed) {
    node_ref spec = block_around(seed);
    node_ref node = memory::alloc_cells(2);
    series_buffer* b = memory::buffer_of(node);
    b->head_cell()[0] = cell{TYPE_PAIR, 0, 0x00030000, spec};
    b->head_cell()[1] = cell{TYPE_PAIR, 0, 0xFFFF0000, 0};
    b->tail = b->head + 2 * sizeof(cell);
    return node;
}

// True when the node is on its frame's free list, or its frame was released.
bool node_is_free(node_ref node) {
    memory::node_frame* f = memory::frame_of_node(node);
    if (!f) return true;
    for (node_ref n = f->free_head; n; n = static_cast<node_ref>(*reinterpret_cast<uint64_t*>(memory::node_space + n))) {
        if (n == node) return true;
    }
    return false;
}

int node_frame_count() {
    int n = 0;
    for (memory::node_frame* f = memory::state.node_head; f; f = f->next) ++n;
    return n;
}

std::vector<memory::series_frame*> series_frames() {
    std::vector<memory::series_frame*> frames;
    for (memory::series_frame* f = memory::state.series_head; f; f = f->next) frames.push_back(f);
    return frames;
}

memory::series_frame* series_frame_holding(const void* address) {
    auto* p = static_cast<const std::byte*>(address);
    for (memory::series_frame* f : series_frames()) {
        if (p >= reinterpret_cast<std::byte*>(f + 1) && p < f->fill) return f;
    }
    return nullptr;
}

class GcTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Built with collection off; collected on purpose.
        gc::enabled = 0;
        gc::set_torture_mode(false);
    }

    static cell* hold(cell value) {
        cell* slot = stack::push_slot();
        *slot = value;
        return slot;
    }

    // Collections in torture mode until every node frame there was has been evacuated, so
    // that every node has moved (a torture collection moves a bounded number of nodes).
    static void collect_moving() {
        uint32_t start = gc::cycle_count();
        bool torture = gc::torture_mode();
        gc::set_torture_mode(true);
        for (int round = 0; round < 1000; ++round) {
            gc::collect();
            bool old_frame_left = false;
            for (memory::node_frame* f = memory::state.node_head; f; f = f->next) {
                old_frame_left |= f->created_cycle < start;
            }
            if (!old_frame_left) break;
        }
        gc::set_torture_mode(torture);
    }
};

// --- What each datatype references --------------------------------------------------------

enum word_role : uint8_t {
    NOT_NODE,   // a payload the collector must leave alone (checked unchanged)
    SERIES,     // a byte series kept alive
    CELLS,      // a cell series whose cells are traced
    CONTEXT,    // a context
    TABLE,      // a hashtable record
    CHANGES,    // an object's change node: two cells naming handler specs in word 3
};

struct reference_case {
    const char* name;
    uint32_t header;            // type and flags
    std::array<word_role, 3> roles;
    std::array<uint32_t, 3> fixed;  // the payload of NOT_NODE words
};

TEST_F(GcTest, EachTypeKeepsWhatItReferencesAndFollowsMovedNodes) {
    constexpr uint32_t ON_STACK = context::FLAG_ON_STACK;
    const reference_case cases[] = {
        {"block!", TYPE_BLOCK, {NOT_NODE, CELLS, NOT_NODE}, {2, 0, 0}},
        {"paren!", TYPE_PAREN, {NOT_NODE, CELLS, NOT_NODE}, {0, 0, 0}},
        {"path!", TYPE_PATH, {NOT_NODE, CELLS, NOT_NODE}, {1, 0, 0}},
        {"lit-path!", TYPE_LIT_PATH, {NOT_NODE, CELLS, NOT_NODE}, {0, 0, 0}},
        {"set-path!", TYPE_SET_PATH, {NOT_NODE, CELLS, NOT_NODE}, {0, 0, 0}},
        {"get-path!", TYPE_GET_PATH, {NOT_NODE, CELLS, NOT_NODE}, {0, 0, 0}},
        {"hash!", TYPE_HASH, {NOT_NODE, CELLS, TABLE}, {0, 0, 0}},
        {"map!", TYPE_MAP, {NOT_NODE, CELLS, TABLE}, {0, 0, 0}},
        {"string! with its encoding cache", TYPE_STRING, {NOT_NODE, SERIES, SERIES}, {3, 0, 0}},
        {"string! without a cache", TYPE_STRING, {NOT_NODE, SERIES, NOT_NODE}, {0, 0, 0}},
        {"file!", TYPE_FILE, {NOT_NODE, SERIES, SERIES}, {0, 0, 0}},
        {"url!", TYPE_URL, {NOT_NODE, SERIES, SERIES}, {0, 0, 0}},
        {"tag!", TYPE_TAG, {NOT_NODE, SERIES, SERIES}, {0, 0, 0}},
        {"email!", TYPE_EMAIL, {NOT_NODE, SERIES, SERIES}, {0, 0, 0}},
        {"ref!", TYPE_REF, {NOT_NODE, SERIES, SERIES}, {0, 0, 0}},
        // binary!'s word 3 is unused, vector!'s is the element type id: neither is a node.
        {"binary!", TYPE_BINARY, {NOT_NODE, SERIES, NOT_NODE}, {0, 0, 0}},
        {"vector!", TYPE_VECTOR, {NOT_NODE, SERIES, NOT_NODE}, {0, 0, TYPE_INTEGER}},
        {"bitset!", TYPE_BITSET, {NOT_NODE, SERIES, NOT_NODE}, {0, 0, 0}},
        {"symbol!", TYPE_SYMBOL, {NOT_NODE, SERIES, SERIES}, {0xFFFFFFFF, 0, 0}},
        {"context! with heap values", TYPE_CONTEXT, {TABLE, CELLS, NOT_NODE}, {0, 0, 0}},
        // On-stack values: word 2 is an argument-stack slot index, not a node.
        {"context! with values on the stack", TYPE_CONTEXT | ON_STACK, {TABLE, NOT_NODE, NOT_NODE}, {0, 7, 0}},
        {"word!", TYPE_WORD, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1, 0}},
        {"set-word!", TYPE_SET_WORD, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1, 0}},
        {"lit-word!", TYPE_LIT_WORD, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1, 0}},
        {"get-word!", TYPE_GET_WORD, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1, 0}},
        {"refinement!", TYPE_REFINEMENT, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1, 0xFFFFFFFF}},
        {"issue!", TYPE_ISSUE, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1, 0xFFFFFFFF}},
        {"native!", TYPE_NATIVE, {NOT_NODE, CELLS, CELLS}, {4, 0, 0}},
        {"action!", TYPE_ACTION, {NOT_NODE, CELLS, CELLS}, {9, 0, 0}},
        {"op! of a native", TYPE_OP | (TYPE_NATIVE << 16), {NOT_NODE, CELLS, CELLS}, {4, 0, 0}},
        {"op! of a function", TYPE_OP | (TYPE_FUNCTION << 16), {CONTEXT, CELLS, CELLS}, {0, 0, 0}},
        {"function!", TYPE_FUNCTION, {CONTEXT, CELLS, CELLS}, {0, 0, 0}},
        {"routine!", TYPE_ROUTINE, {CONTEXT, CELLS, CELLS}, {0, 0, 0}},
        {"object! without change handlers", TYPE_OBJECT, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1000001, 0}},
        {"object! with a change node", TYPE_OBJECT, {CONTEXT, NOT_NODE, CHANGES}, {0, 1000001, 0}},
        {"error!", TYPE_ERROR, {CONTEXT, NOT_NODE, NOT_NODE}, {0, 1, 0}},
        {"port!", TYPE_PORT, {CONTEXT, NOT_NODE, CHANGES}, {0, 2, 0}},
        // A script-made event (word 3 bit 0x10000) has its field block; another holds none.
        {"event! made by a script", TYPE_EVENT, {NOT_NODE, CELLS, NOT_NODE}, {0, 0, 0x10000}},
        {"event! of the back-end", TYPE_EVENT, {NOT_NODE, NOT_NODE, NOT_NODE}, {3, 0, 0}},
        {"integer!", TYPE_INTEGER, {NOT_NODE, NOT_NODE, NOT_NODE}, {0, 12345, 0}},
        {"pair!", TYPE_PAIR, {NOT_NODE, NOT_NODE, NOT_NODE}, {0, 3, 4}},
        {"typeset!", TYPE_TYPESET, {NOT_NODE, NOT_NODE, NOT_NODE}, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
        {"date!", TYPE_DATE, {NOT_NODE, NOT_NODE, NOT_NODE}, {0x0FD0A000, 0, 0x40000000}},
    };
    int seed = 0;
    for (const reference_case& c : cases) {
        SCOPED_TRACE(c.name);
        stack::state.args_top = stack::state.args_begin;
        cell value{c.header, c.fixed[0], c.fixed[1], c.fixed[2]};
        uint32_t* words[3] = {&value.w1, &value.w2, &value.w3};
        int seeds[3] = {0, 0, 0};
        for (int w = 0; w < 3; ++w) {
            seeds[w] = ++seed;
            switch (c.roles[w]) {
                case NOT_NODE: break;
                case SERIES: *words[w] = patterned_bytes(seeds[w]); break;
                case CELLS: *words[w] = block_around(seeds[w]); break;
                case CONTEXT: *words[w] = context::make(2, false, false, 0, context::KIND_OBJECT); break;
                case TABLE: *words[w] = hashtable::make(4, nullptr, hashtable::KIND_MAP, 0); break;
                case CHANGES: *words[w] = change_node(seeds[w]); break;
            }
        }
        node_ref garbage = patterned_bytes(999);
        cell* slot = hold(value);
        node_ref before[3] = {slot->w1, slot->w2, slot->w3};

        gc::collect();
        EXPECT_TRUE(node_is_free(garbage));
        for (int w = 0; w < 3; ++w) {
            if (c.roles[w] != NOT_NODE) {
                EXPECT_FALSE(node_is_free(before[w])) << "word " << w + 1;
            }
        }

        collect_moving();
        uint32_t after[3] = {slot->w1, slot->w2, slot->w3};
        EXPECT_EQ(slot->header, c.header);
        for (int w = 0; w < 3; ++w) {
            SCOPED_TRACE("word " + std::to_string(w + 1));
            switch (c.roles[w]) {
                case NOT_NODE: EXPECT_EQ(after[w], c.fixed[w]); break;
                case SERIES:
                    EXPECT_NE(after[w], before[w]) << "the node moved, the word must follow";
                    EXPECT_TRUE(holds_pattern(after[w], seeds[w]));
                    break;
                case CELLS:
                    EXPECT_NE(after[w], before[w]);
                    EXPECT_TRUE(block_holds_pattern(after[w], seeds[w]));
                    break;
                case CONTEXT:
                case TABLE:
                    EXPECT_NE(after[w], before[w]);
                    EXPECT_EQ(memory::buffer_of(after[w])->node, after[w]);
                    break;
                case CHANGES: {
                    EXPECT_NE(after[w], before[w]);
                    const cell* changes = memory::buffer_of(after[w])->head_cell();
                    EXPECT_EQ(changes[0].w2, 0x00030000u);
                    EXPECT_TRUE(block_holds_pattern(changes[0].w3, seeds[w])) << "the cached handler spec";
                    EXPECT_EQ(changes[1].w2, 0xFFFF0000u);
                    EXPECT_EQ(changes[1].w3, 0u);
                    break;
                }
            }
        }
        // What a context and a table own must have followed too.
        for (int w = 0; w < 3; ++w) {
            if (c.roles[w] == CONTEXT) {
                EXPECT_EQ(context::key_count(after[w]), 0);
                EXPECT_EQ(context::kind_of(after[w]), context::KIND_OBJECT);
            }
            if (c.roles[w] == TABLE) {
                hashtable::table_view v = hashtable::view(after[w]);
                EXPECT_EQ(v.record->kind, hashtable::KIND_MAP);
                EXPECT_EQ(v.record->size, 0);
            }
        }
    }
}

// --- Handles ----------------------------------------------------------------------------------

std::vector<void*> released_resources;
void note_release(void* resource) { released_resources.push_back(resource); }

TEST_F(GcTest, HandleAndImageCellsKeepTheirRegistryRecords) {
    int32_t class_id = handle_registry::register_class(0x74657374, note_release);
    int resources[3];
    struct handle_case {
        const char* name;
        type_id type;
        int word;  // the payload word holding the index
    };
    const handle_case cases[] = {{"handle!", TYPE_HANDLE, 3}, {"image!", TYPE_IMAGE, 2}};
    for (const handle_case& c : cases) {
        SCOPED_TRACE(c.name);
        released_resources.clear();
        int32_t kept = handle_registry::new_handle(&resources[0], static_cast<uint32_t>(class_id));
        int32_t dropped = handle_registry::new_handle(&resources[1], static_cast<uint32_t>(class_id));
        cell value{c.type, 0, 0, 0};
        (c.word == 3 ? value.w3 : value.w2) = static_cast<uint32_t>(kept);
        cell* slot = hold(value);
        gc::collect();
        EXPECT_EQ(released_resources, std::vector<void*>{&resources[1]});
        ASSERT_NE(handle_registry::record_at(kept), nullptr);
        EXPECT_EQ(handle_registry::record_at(kept)->resource, &resources[0]);
        EXPECT_EQ(handle_registry::record_at(kept)->flags & handle_registry::FLAG_MARK, 0u) << "mark cleared";
        EXPECT_EQ(handle_registry::record_at(dropped)->flags, handle_registry::FREE_MARKER);
        *slot = cell{TYPE_NONE, 0, 0, 0};
        gc::collect();
        EXPECT_EQ(released_resources, (std::vector<void*>{&resources[1], &resources[0]}));
    }
    // A handle! whose word 3 is -1 names no record and is left alone.
    hold(cell{TYPE_HANDLE, 1, 5, 0xFFFFFFFF});
    gc::collect();
}

// --- Compaction ---------------------------------------------------------------------------------

TEST_F(GcTest, CompactionSlidesLiveBuffersDownAndLeavesPinnedOnesInPlace) {
    gc::collect();  // start from a compacted heap
    // Built in one frame: garbage, live (head mid-buffer), garbage, pinned, garbage, live.
    patterned_bytes(100, 200);
    node_ref live = memory::alloc_series(48, 1, -1);
    {
        series_buffer* b = memory::buffer_of(live);
        for (int64_t i = 0; i < 10; ++i) b->head[i] = std::byte{pattern_byte(1, i)};
        b->tail = b->head + 10;
    }
    patterned_bytes(101, 300);
    node_ref pinned = patterned_bytes(2);
    memory::set_series_flags(pinned, memory::FLAG_PINNED);
    patterned_bytes(102, 500);
    node_ref last = patterned_bytes(3);
    hold(cell{TYPE_BINARY, 0, live, 0});
    hold(cell{TYPE_BINARY, 0, pinned, 0});
    hold(cell{TYPE_BINARY, 0, last, 0});

    series_buffer* live_before = memory::buffer_of(live);
    series_buffer* pinned_before = memory::buffer_of(pinned);
    series_buffer* last_before = memory::buffer_of(last);
    int64_t live_head_offset = live_before->head - live_before->data();
    ASSERT_EQ(series_frame_holding(live_before), series_frame_holding(last_before)) << "set-up needs one frame";

    gc::collect();
    series_buffer* live_after = memory::buffer_of(live);
    EXPECT_LT(live_after, live_before) << "the live buffer slides over the garbage before it";
    EXPECT_EQ(live_after->head - live_after->data(), live_head_offset) << "head keeps its place in the buffer";
    EXPECT_EQ(live_after->tail - live_after->head, 10);
    EXPECT_NE(live_after->flags & memory::FLAG_MID_HEAD, 0u);
    for (int64_t i = 0; i < 10; ++i) EXPECT_EQ(live_after->head[i], std::byte{pattern_byte(1, i)});
    EXPECT_EQ(memory::buffer_of(pinned), pinned_before) << "a pinned buffer never moves";
    EXPECT_TRUE(holds_pattern(pinned, 2));
    auto* right_after_pinned = reinterpret_cast<std::byte*>(pinned_before) + sizeof(series_buffer) + pinned_before->size;
    EXPECT_EQ(reinterpret_cast<std::byte*>(memory::buffer_of(last)), right_after_pinned)
        << "the buffer after the pinned one slides down to it";
    EXPECT_TRUE(holds_pattern(last, 3));
    EXPECT_EQ(memory::buffer_of(live)->flags & memory::FLAG_MARK, 0u);

    // The gap before the pinned buffer stays walkable; unpinned, the buffer moves again.
    gc::collect();
    EXPECT_EQ(memory::buffer_of(pinned), pinned_before);
    memory::buffer_of(pinned)->flags &= ~memory::FLAG_PINNED;
    gc::collect();
    EXPECT_LT(memory::buffer_of(pinned), pinned_before);
    EXPECT_TRUE(holds_pattern(pinned, 2));
    EXPECT_TRUE(holds_pattern(last, 3));
}

// An exit that lands below a pinning routine, or an error built over the top of a full
// stack, overwrites the slot that named the pinned series before the guard ends: the guard
// keeps the series alive and current itself, and unpins the right buffer.
TEST_F(GcTest, PinGuardOutlivesTheSlotItWasGiven) {
    cell* slot = hold(cell{TYPE_BINARY, 0, patterned_bytes(4), 0});
    series_buffer* pinned = memory::buffer_of(slot->w2);
    {
        memory::pin_guard pin(slot);
        *slot = cell{TYPE_INTEGER, 0, 0xDEADBEEF, 0};
        collect_moving();
        patterned_bytes(5, 64);  // garbage that would take the space of a freed buffer
        collect_moving();
        // Pinned buffers never move, so the same address still holds the series.
        ASSERT_NE(pinned->flags & memory::FLAG_IN_USE, 0u) << "the guard keeps the series alive";
        EXPECT_NE(pinned->flags & memory::FLAG_PINNED, 0u);
        ASSERT_EQ(pinned->tail - pinned->head, 40);
        for (int64_t i = 0; i < 40; ++i) EXPECT_EQ(pinned->head[i], std::byte{pattern_byte(4, i)});
    }
    EXPECT_EQ(pinned->flags & memory::FLAG_PINNED, 0u) << "the guard unpins the buffer it pinned";
}

TEST_F(GcTest, BufferReplacedByGrowthIsReclaimedWithoutFreeingANode) {
    node_ref node = patterned_bytes(7, 16);
    hold(cell{TYPE_BINARY, 0, node, 0});
    gc::collect();
    memory::node_frame* frame = memory::frame_of_node(node);
    uint32_t used_before = frame->used;
    series_buffer* old = memory::buffer_of(node);
    std::byte* fill_before = series_frame_holding(old)->fill;
    series_buffer* grown = memory::expand_series(old, 64);
    ASSERT_EQ(old->node, 0u);
    ASSERT_EQ(old->flags & memory::FLAG_IN_USE, 0u);
    EXPECT_EQ(grown->tail - grown->head, 16);
    gc::collect();
    EXPECT_EQ(memory::frame_of_node(node)->used, used_before) << "no node released for the replaced buffer";
    EXPECT_FALSE(node_is_free(node));
    EXPECT_TRUE(holds_pattern(node, 7, 16));
    EXPECT_LE(series_frame_holding(memory::buffer_of(node))->fill, fill_before + 64)
        << "the replaced buffer's space was reclaimed";
}

TEST_F(GcTest, LiveBuffersGatherInTheFirstFrameAndSpareEmptyFramesAreReleased) {
    gc::collect();
    // Garbage enough for several new frames, with a few live buffers spread among it.
    std::vector<std::pair<node_ref, int>> live;
    // Garbage of three times what the next period may use: most of its frames must go.
    int garbage_buffers = static_cast<int>(3 * gc::allowance_after(0) / 60000);
    for (int i = 0; i < garbage_buffers; ++i) {
        patterned_bytes(200 + i % 50, 60000);
        if (i % 50 == 0) {
            node_ref node = patterned_bytes(i);
            hold(cell{TYPE_BINARY, 0, node, 0});
            live.push_back({node, i});
        }
    }
    size_t frames_before = series_frames().size();
    ASSERT_GE(frames_before, 8u);
    gc::collect();
    std::vector<memory::series_frame*> frames = series_frames();
    EXPECT_LT(frames.size(), frames_before) << "empty frames beyond what the next period needs are released";
    int64_t room = 0;
    for (memory::series_frame* f : frames) room += f->end - f->fill;
    EXPECT_LT(room, gc::allowance_after(0) + 2 * memory::MAX_FRAME_SIZE) << "no more room kept than the next period needs";
    for (auto [node, seed] : live) {
        EXPECT_TRUE(holds_pattern(node, seed));
        EXPECT_EQ(series_frame_holding(memory::buffer_of(node)), frames.front());
    }
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i]->fill, reinterpret_cast<std::byte*>(frames[i] + 1)) << "frame " << i << " is empty";
    }
}

TEST_F(GcTest, BigSeriesAreFreedWhenUnreachableAndUnmarkedWhenKept) {
    int64_t big_bytes = memory::MAX_FRAME_SIZE;
    node_ref kept = memory::alloc_bytes(big_bytes);
    node_ref dropped = memory::alloc_bytes(big_bytes);
    ASSERT_NE(memory::buffer_of(kept)->flags & memory::FLAG_BIG, 0u);
    hold(cell{TYPE_BINARY, 0, kept, 0});
    auto big_count = [] {
        int n = 0;
        for (memory::big_link* l = memory::state.big_head; l; l = l->next) ++n;
        return n;
    };
    int before = big_count();
    series_buffer* kept_buffer = memory::buffer_of(kept);
    gc::collect();
    EXPECT_EQ(big_count(), before - 1);
    EXPECT_TRUE(node_is_free(dropped));
    EXPECT_EQ(memory::buffer_of(kept), kept_buffer) << "big series never move";
    EXPECT_EQ(kept_buffer->flags & memory::FLAG_MARK, 0u);
}

// --- Deep data ----------------------------------------------------------------------------------

TEST_F(GcTest, AMillionNestedBlocksAreMarkedWithoutNativeRecursion) {
    constexpr int DEPTH = 1000000;
    gc::collect();
    auto used_nodes = [] {
        int64_t n = 0;
        for (memory::node_frame* f = memory::state.node_head; f; f = f->next) n += f->used;
        return n;
    };
    int64_t used_before = used_nodes();
    cell* top = hold(cell{TYPE_NONE, 0, 0, 0});
    node_ref inner = 0;
    for (int i = 0; i < DEPTH; ++i) {
        node_ref outer = memory::alloc_cells(1);
        series_buffer* b = memory::buffer_of(outer);
        *b->head_cell() = inner ? cell{TYPE_BLOCK, 0, inner, 0} : cell{TYPE_INTEGER, 0, 42, 0};
        b->tail = b->head + sizeof(cell);
        inner = outer;
    }
    *top = cell{TYPE_BLOCK, 0, inner, 0};
    gc::collect();
    EXPECT_EQ(used_nodes(), used_before + DEPTH);
    int depth = 0;
    const cell* c = top;
    while (c->is(TYPE_BLOCK)) {
        c = memory::buffer_of(c->w2)->head_cell();
        ++depth;
    }
    EXPECT_EQ(depth, DEPTH);
    EXPECT_EQ(c->w2, 42u);
    *top = cell{TYPE_NONE, 0, 0, 0};
    gc::collect();
    EXPECT_EQ(used_nodes(), used_before);
}

// --- Node-frame evacuation ------------------------------------------------------------------------

TEST_F(GcTest, SparseNodeFrameIsEvacuatedOnlyWithMoreThanTenThousandFreeNodesElsewhere) {
    gc::collect();
    // A holder with room for every kept series, so that keeping them allocates no node.
    cell* holder = block::make_in(hold(cell{TYPE_NONE, 0, 0, 0}), 20000);
    auto keep = [holder](node_ref node) {
        cell kept{TYPE_BINARY, 0, node, 0};
        block::append_copy(holder, &kept);
    };

    // Garbage fills the frames there are; the next frame gets 4,999 kept series among its
    // garbage; allocation goes on until one more frame exists.
    int frames_before = node_frame_count();
    bool earlier_frame_used = false;
    std::vector<node_ref> sparse;
    while (node_frame_count() < frames_before + 2) {
        node_ref node = patterned_bytes(static_cast<int>(sparse.size() % 200), 16);
        if (node_frame_count() == frames_before) {
            earlier_frame_used = true;
        } else if (node_frame_count() == frames_before + 1 && sparse.size() < 4999) {
            keep(node);
            sparse.push_back(node);
        } else if (node_frame_count() == frames_before + 2) {
            keep(node);  // so that the last frame is not released as empty
        }
    }
    ASSERT_TRUE(earlier_frame_used) << "an earlier frame must get a free node, to stay current";
    ASSERT_EQ(sparse.size(), 4999u);
    memory::node_frame* middle = memory::frame_of_node(sparse.front());
    node_ref middle_region = middle->first;
    gc::collect();
    ASSERT_EQ(middle->used, 4999u);

    // Exactly 10,000 free nodes outside the middle frame: keep nodes taken from the last
    // frame first, then from the earlier ones.
    auto free_elsewhere = [middle] {
        int64_t n = 0;
        for (memory::node_frame* f = memory::state.node_head; f; f = f->next) {
            if (f != middle && f->free_head) n += int64_t(f->count) - f->used;
        }
        return n;
    };
    ASSERT_GT(free_elsewhere(), 10000);
    for (memory::node_frame* f = memory::state.node_tail; f && free_elsewhere() > 10000; f = f->previous) {
        if (f == middle) continue;
        memory::state.node_current = f;
        while (f->free_head && free_elsewhere() > 10000) {
            node_ref node = memory::alloc_bytes(16);
            ASSERT_EQ(memory::frame_of_node(node), f);
            keep(node);
        }
    }
    ASSERT_EQ(free_elsewhere(), 10000);
    uint32_t evacuations = gc::evacuation_count();
    for (int i = 0; i < 10; ++i) gc::collect();
    EXPECT_EQ(gc::evacuation_count(), evacuations) << "10,000 free nodes elsewhere are not enough";
    EXPECT_EQ(memory::frame_of_node(sparse.front()), middle);
    EXPECT_EQ(middle->history & 0x3F, 0x3Fu) << "its used count did not change";

    // One more free node elsewhere: the next collection frees it, the one after evacuates.
    *block::get_cell(holder, block::rest_length(holder) - 1) = cell{TYPE_NONE, 0, 0, 0};
    int frames_now = node_frame_count();
    gc::collect();
    gc::collect();
    EXPECT_EQ(gc::evacuation_count(), evacuations + 1);
    EXPECT_EQ(node_frame_count(), frames_now - 1) << "the evacuated frame is released";
    for (memory::node_frame* f = memory::state.node_head; f; f = f->next) EXPECT_NE(f->first, middle_region);
    for (size_t i = 0; i < sparse.size(); ++i) {
        const cell* c = block::get_cell(holder, static_cast<int64_t>(i));
        ASSERT_NE(c->w2, sparse[i]) << "the holder's cell follows the moved node";
        ASSERT_TRUE(holds_pattern(c->w2, static_cast<int>(i % 200), 16)) << i;
    }
}

TEST_F(GcTest, EveryNodeMovesInTortureModeAndFreedSpaceIsPoisoned) {
    node_ref anchor = patterned_bytes(1);
    memory::set_series_flags(anchor, memory::FLAG_PINNED);  // keeps its frame in place
    node_ref garbage = patterned_bytes(2, 64);
    series_buffer* garbage_buffer = memory::buffer_of(garbage);
    ASSERT_EQ(series_frame_holding(garbage_buffer), series_frame_holding(memory::buffer_of(anchor)));
    cell* slot = hold(cell{TYPE_BINARY, 0, anchor, 0});
    uint32_t evacuations = gc::evacuation_count();
    collect_moving();
    EXPECT_GT(gc::evacuation_count(), evacuations);
    EXPECT_NE(slot->w2, anchor);
    EXPECT_TRUE(holds_pattern(slot->w2, 1));
    for (int64_t i = 0; i < 64; ++i) {
        ASSERT_EQ(garbage_buffer->data()[i], std::byte{gc::POISON_BYTE}) << i;
    }
    memory::buffer_of(slot->w2)->flags &= ~memory::FLAG_PINNED;
}

// --- Weak record tables ----------------------------------------------------------------------------

node_ref weak_table = 0;
void mark_weak_table() { gc::mark_table(&weak_table); }

TEST_F(GcTest, WeakRecordsLiveWhileTheirKeyLivesAndKeepTheirValues) {
    weak_table = hashtable::make(8, nullptr, hashtable::KIND_RECORDS, 1);
    gc::add_mark_callback(mark_weak_table);
    node_ref live_key = patterned_bytes(1);
    node_ref dead_key = patterned_bytes(2);
    cell* key_slot = hold(cell{TYPE_BINARY, 0, live_key, 0});
    // Each record's value refers to a series that nothing else keeps.
    node_ref kept_value = patterned_bytes(3);
    *hashtable::put_record(weak_table, static_cast<int32_t>(live_key)) = cell{TYPE_BINARY, 0, kept_value, 0};
    node_ref lost_value = patterned_bytes(4);
    *hashtable::put_record(weak_table, static_cast<int32_t>(dead_key)) = cell{TYPE_BINARY, 0, lost_value, 0};

    collect_moving();
    node_ref key_now = key_slot->w2;
    ASSERT_NE(key_now, live_key);
    cell* value = hashtable::get_record(weak_table, static_cast<int32_t>(key_now));
    ASSERT_NE(value, nullptr) << "the record follows its moved key";
    EXPECT_TRUE(holds_pattern(value->w2, 3)) << "a live record keeps its value alive";
    EXPECT_EQ(hashtable::view(weak_table).record->size, 1) << "the dead key's record is gone";
    gc::remove_mark_callback(mark_weak_table);
    weak_table = 0;
}

// --- Mark callbacks and root guards ---------------------------------------------------------------

std::vector<int> callback_calls;
template <int N> void recording_callback() { callback_calls.push_back(N); }

template <int... N> std::array<gc::mark_callback, sizeof...(N)> callbacks_of(std::integer_sequence<int, N...>) {
    return {recording_callback<N>...};
}

TEST_F(GcTest, MarkCallbacksRunInOrderReuseHolesAndNeverOverrun) {
    auto many = callbacks_of(std::make_integer_sequence<int, 150>());
    int registered = gc::mark_callback_count();
    gc::add_mark_callback(many[0]);
    gc::add_mark_callback(many[1]);
    gc::add_mark_callback(many[2]);
    gc::remove_mark_callback(many[1]);
    gc::remove_mark_callback(many[7]);  // not registered: nothing
    gc::add_mark_callback(many[3]);     // takes the hole that 1 left
    callback_calls.clear();
    gc::collect();
    EXPECT_EQ(callback_calls, (std::vector<int>{0, 3, 2}));

    // Far more than the hundred that a fixed list would hold, and thousands of add/remove
    // cycles: the list reuses its holes instead of growing without end.
    for (int i = 4; i < 150; ++i) gc::add_mark_callback(many[i]);
    for (int round = 0; round < 5000; ++round) {
        gc::remove_mark_callback(many[round % 150]);
        gc::add_mark_callback(many[round % 150]);
    }
    EXPECT_EQ(gc::mark_callback_count(), registered + 150) << "1 came back in the cycles";
    callback_calls.clear();
    gc::collect();
    EXPECT_EQ(callback_calls.size(), 150u);
    for (int i = 0; i < 150; ++i) gc::remove_mark_callback(many[i]);
    EXPECT_EQ(gc::mark_callback_count(), registered);
    callback_calls.clear();
    gc::collect();
    EXPECT_TRUE(callback_calls.empty());
}

TEST_F(GcTest, RootGuardsKeepAndRelocateLocalCellsInAnyOrder) {
    cell first{TYPE_BLOCK, 0, block_around(1), 0};
    cell second[2] = {{TYPE_BINARY, 0, patterned_bytes(2), 0}, {TYPE_BINARY, 0, patterned_bytes(3), 0}};
    node_ref first_node = first.w2;
    auto* first_guard = new gc::root_guard(&first);
    {
        gc::root_guard second_guard(second, 2);
        collect_moving();
        EXPECT_NE(first.w2, first_node);
        EXPECT_TRUE(block_holds_pattern(first.w2, 1));
        EXPECT_TRUE(holds_pattern(second[0].w2, 2));
        EXPECT_TRUE(holds_pattern(second[1].w2, 3));
        delete first_guard;  // ends before the guard made after it
        node_ref unguarded = first.w2;
        gc::collect();
        EXPECT_TRUE(node_is_free(unguarded));
        EXPECT_TRUE(holds_pattern(second[1].w2, 3));
    }
    node_ref dropped = second[0].w2;
    gc::collect();
    EXPECT_TRUE(node_is_free(dropped));
}

TEST_F(GcTest, MoldGuardEntriesFollowEvacuatedNodes) {
    cell* slot = hold(cell{TYPE_BLOCK, 0, block_around(5), 0});
    mold_guard::scope guarded(slot->w2);
    collect_moving();
    EXPECT_TRUE(mold_guard::contains(slot->w2));
    EXPECT_TRUE(block_holds_pattern(slot->w2, 5));
}

int64_t bytes_carved() {
    int64_t bytes = 0;
    for (memory::series_frame* f : series_frames()) bytes += f->fill - reinterpret_cast<std::byte*>(f + 1);
    for (memory::big_link* l = memory::state.big_head; l; l = l->next) bytes += int64_t(l->size);
    return bytes;
}

TEST_F(GcTest, TriggerCollectsOnceTheAllowanceIsCarved) {
    gc::enabled = 1;
    gc::collect();
    int64_t allowance = gc::allowance_after(bytes_carved());
    uint32_t cycles = gc::cycle_count();
    gc::trigger();
    EXPECT_EQ(gc::cycle_count(), cycles) << "nothing carved since the collection";
    // Garbage up to just below the allowance, built with collection off.
    gc::enabled = 0;
    int64_t start = bytes_carved();
    while (bytes_carved() - start < allowance - 100000) memory::alloc_bytes(60000);
    gc::enabled = 1;
    gc::trigger();
    EXPECT_EQ(gc::cycle_count(), cycles) << "below the allowance, the allocator takes a new frame instead";
    gc::enabled = 0;
    while (bytes_carved() - start < allowance) memory::alloc_bytes(60000);
    gc::enabled = 1;
    gc::trigger();
    EXPECT_EQ(gc::cycle_count(), cycles + 1);
    gc::enabled = 0;
    gc::trigger();
    EXPECT_EQ(gc::cycle_count(), cycles + 1) << "never while collection is off";
}

TEST_F(GcTest, ANearlyFullFrameDoesNotHideRoomyFramesBehindIt) {
    // In a manager of its own (collection stays off): three frames, the first in address
    // order left with less than 0xCCCC bytes, the second with plenty, the third (current)
    // full. A request that fits the first goes to the second, and no frame is made: were
    // the first frame with any room the only candidate, it would be refused for its small
    // room and a new frame made at every request, and the collector never asked.
    memory::manager saved = memory::state;
    memory::state = memory::manager{};
    memory::new_series_frame();
    memory::new_series_frame();
    memory::new_series_frame();
    std::vector<memory::series_frame*> frames = series_frames();
    frames[0]->fill = frames[0]->end - (memory::FRAME_ROOM_MINIMUM - 1008);
    frames[2]->fill = frames[2]->end - 64;
    memory::state.series_current = frames[2];
    memory::series_buffer* b = memory::buffer_of(memory::alloc_bytes(1000));
    EXPECT_EQ(series_frame_holding(b), frames[1]);
    EXPECT_EQ(series_frames().size(), 3u);
    EXPECT_EQ(memory::state.series_current, frames[1]);
    memory::release_all();
    memory::state = saved;
}

TEST_F(GcTest, AllocationCollectsOnlyWhileEnabledAndRecycleAlwaysDoes) {
    struct trigger_case {
        uint32_t enabled;
        bool torture;
        bool collects_on_allocation;
    };
    const trigger_case cases[] = {{0, false, false}, {0, true, false}, {1, false, false}, {1, true, true}};
    for (const trigger_case& c : cases) {
        gc::enabled = c.enabled;
        gc::set_torture_mode(c.torture);
        uint32_t before = gc::cycle_count();
        hold(cell{TYPE_BINARY, 0, memory::alloc_bytes(16), 0});
        EXPECT_EQ(gc::cycle_count() - before, c.collects_on_allocation ? 1u : 0u)
            << "enabled " << c.enabled << " torture " << c.torture;
        gc::enabled = 0;
        gc::set_torture_mode(false);
    }
    uint32_t before = gc::cycle_count();
    gc::collect();
    EXPECT_EQ(gc::cycle_count(), before + 1);
}

}  // namespace
}  // namespace zor
