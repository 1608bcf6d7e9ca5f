// The external handle registry and the slot table: record numbering and table growth,
// releases through the class callbacks (replacing, freeing, sweeping, in their order),
// and the slot table's free chain, growth and rooting.
#include "runtime/value/handle-registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/value/slot-table.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

constexpr int OUT_OF_RANGE = 341;  // script/out-of-range

std::vector<std::string> releases;
void release_a(void* resource) { releases.push_back("a:" + std::string(static_cast<const char*>(resource))); }
void release_b(void* resource) { releases.push_back("b:" + std::string(static_cast<const char*>(resource))); }

class HandleRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensure_runtime();
        // A registry of its own, so indexes and capacities start from the documented state.
        handle_registry::init();
        class_a = handle_registry::register_class(0x41, release_a);
        class_b = handle_registry::register_class(0x42, release_b);
        class_silent = handle_registry::register_class(0x43, nullptr);
        releases.clear();
    }
    void TearDown() override { handle_registry::init(); }
    int32_t class_a = 0, class_b = 0, class_silent = 0;
};

TEST_F(HandleRegistry, ClassesAreNumberedFromOneAndRecordsFromZero) {
    EXPECT_EQ(class_a, 1);
    EXPECT_EQ(class_b, 2);
    EXPECT_EQ(handle_registry::new_handle(const_cast<char*>("x"), class_a), 0);
    EXPECT_EQ(handle_registry::new_handle(const_cast<char*>("y"), class_b), 1);
    EXPECT_EQ(handle_registry::used_count(), 2);
    // More classes than the first table of 20 holds.
    for (int i = 4; i <= 30; ++i) EXPECT_EQ(handle_registry::register_class(0x100 + i, nullptr), i);
    int32_t late = handle_registry::register_class(0x200, release_a);
    handle_registry::free_handle(handle_registry::new_handle(const_cast<char*>("z"), late), true);
    EXPECT_EQ(releases, std::vector<std::string>{"a:z"});
}

TEST_F(HandleRegistry, TheThousandthHandleDoublesTheTable) {
    static char resource[] = "r";
    for (int i = 0; i < 999; ++i) ASSERT_EQ(handle_registry::new_handle(resource, 0), i);
    EXPECT_EQ(handle_registry::capacity(), 1000);
    EXPECT_EQ(handle_registry::new_handle(resource, 0), 999);
    EXPECT_EQ(handle_registry::capacity(), 2000);
    EXPECT_EQ(handle_registry::new_handle(resource, 0), 1000) << "the new records follow in index order";
    // A freed record is the next one handed out.
    handle_registry::free_handle(17, false);
    EXPECT_EQ(handle_registry::new_handle(resource, 0), 17);
}

TEST_F(HandleRegistry, ReleasesGoThroughTheClassCallback) {
    struct release_case {
        const char* name;
        void (*action)(int32_t index, int32_t silent_index);
        std::vector<std::string> expected;
    };
    const release_case cases[] = {
        {"replace by another pointer", [](int32_t i, int32_t) { handle_registry::replace_object(i, const_cast<char*>("new")); },
         {"a:old"}},
        {"replace by the same pointer", [](int32_t i, int32_t) {
             handle_registry::replace_object(i, const_cast<void*>(handle_registry::record_at(i)->resource));
         },
         {}},
        {"free with release", [](int32_t i, int32_t) { handle_registry::free_handle(i, true); }, {"a:old"}},
        {"free without release", [](int32_t i, int32_t) { handle_registry::free_handle(i, false); }, {}},
        {"a class without callback", [](int32_t, int32_t s) { handle_registry::free_handle(s, true); }, {}},
        {"release_resource of class 0", [](int32_t, int32_t) {
             handle_registry::release_resource(0, const_cast<char*>("old"));
         },
         {}},
        {"release_resource of an unknown class", [](int32_t, int32_t) {
             handle_registry::release_resource(200, const_cast<char*>("old"));
         },
         {}},
    };
    for (const release_case& c : cases) {
        SCOPED_TRACE(c.name);
        handle_registry::init();
        handle_registry::register_class(0x41, release_a);
        int32_t silent_class = handle_registry::register_class(0x43, nullptr);
        releases.clear();
        int32_t index = handle_registry::new_handle(const_cast<char*>("old"), 1);
        int32_t silent = handle_registry::new_handle(const_cast<char*>("quiet"), static_cast<uint32_t>(silent_class));
        c.action(index, silent);
        EXPECT_EQ(releases, c.expected);
    }
}

TEST_F(HandleRegistry, SweepReleasesUnmarkedRecordsMostRecentFirst) {
    const char* names[] = {"r0", "r1", "r2", "r3", "r4", "r5"};
    int32_t index[6];
    for (int i = 0; i < 6; ++i) {
        uint32_t cls = static_cast<uint32_t>(i == 4 ? class_silent : (i % 2 ? class_b : class_a));
        index[i] = handle_registry::new_handle(const_cast<char*>(names[i]), cls);
    }
    EXPECT_TRUE(handle_registry::mark_handle(index[1], nullptr));
    EXPECT_FALSE(handle_registry::mark_handle(index[1], nullptr)) << "already marked";
    EXPECT_TRUE(handle_registry::mark_handle(index[3], const_cast<char*>("r3-moved")));
    EXPECT_FALSE(handle_registry::mark_handle(999, nullptr)) << "a free record is not marked";
    handle_registry::sweep();
    // Walked from the used list's head, the most recent record first; r4 has no callback.
    EXPECT_EQ(releases, (std::vector<std::string>{"b:r5", "a:r2", "a:r0"}));
    EXPECT_EQ(handle_registry::used_count(), 2);
    EXPECT_STREQ(static_cast<const char*>(handle_registry::record_at(index[3])->resource), "r3-moved");
    EXPECT_EQ(handle_registry::record_at(index[1])->flags & handle_registry::FLAG_MARK, 0u);
    EXPECT_EQ(handle_registry::record_at(index[0])->flags, handle_registry::FREE_MARKER);
    // Unmarked again, the survivors go at the next sweep.
    releases.clear();
    handle_registry::sweep();
    EXPECT_EQ(releases, (std::vector<std::string>{"b:r3-moved", "b:r1"}));
    EXPECT_EQ(handle_registry::used_count(), 0);
}

void collect_names(int32_t class_id, void* resource) {
    releases.push_back(std::to_string(class_id) + ":" + static_cast<const char*>(resource));
}

TEST_F(HandleRegistry, ForEachOfClassVisitsThatClassOnly) {
    handle_registry::new_handle(const_cast<char*>("p"), class_a);
    handle_registry::new_handle(const_cast<char*>("q"), class_b);
    handle_registry::new_handle(const_cast<char*>("s"), class_a);
    handle_registry::for_each_of_class(class_a, collect_names);
    EXPECT_EQ(releases, (std::vector<std::string>{"1:s", "1:p"}));
}

TEST_F(HandleRegistry, InvalidIndexesRaiseInsteadOfReachingAnotherRecord) {
    int32_t index = handle_registry::new_handle(const_cast<char*>("x"), class_a);
    handle_registry::free_handle(index, false);
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"free a free record", [index] { handle_registry::free_handle(index, true); }},
        {"free past the table", [] { handle_registry::free_handle(5000, true); }},
        {"free a negative index", [] { handle_registry::free_handle(-1, true); }},
        {"replace in a free record", [index] { handle_registry::replace_object(index, nullptr); }},
        {"a class never registered", [] { handle_registry::new_handle(nullptr, 77); }},
    };
    for (const auto& [name, action] : cases) EXPECT_EQ(testing::raised_code(action), OUT_OF_RANGE) << name;
    EXPECT_TRUE(releases.empty());
}

TEST_F(HandleRegistry, CollectorReleasesHandlesNoValueReaches) {
    int32_t kept = handle_registry::new_handle(const_cast<char*>("kept"), class_a);
    int32_t lost = handle_registry::new_handle(const_cast<char*>("lost"), class_a);
    *stack::push_slot() = cell{TYPE_HANDLE, 0, 0, static_cast<uint32_t>(kept)};
    gc::collect();
    EXPECT_EQ(releases, std::vector<std::string>{"a:lost"});
    EXPECT_EQ(handle_registry::record_at(lost)->flags, handle_registry::FREE_MARKER);
    EXPECT_EQ(handle_registry::record_at(kept)->flags & handle_registry::FLAG_MARK, 0u);
}

// --- Slot table ------------------------------------------------------------------------------

class SlotTable : public ::testing::Test {
protected:
    // A table of its own, so indexes and capacities start from the documented state.
    void SetUp() override { slot_table::init(); }
};

TEST_F(SlotTable, StoreGetAndReleaseFollowTheFreeChain) {
    EXPECT_EQ(slot_table::capacity(), 100);
    EXPECT_EQ(slot_table::free_count(), 100);
    for (int i = 1; i <= 100; ++i) {
        cell value{TYPE_INTEGER, 0, static_cast<uint32_t>(i * 10), 0};
        ASSERT_EQ(slot_table::store(&value), i);
    }
    EXPECT_EQ(slot_table::free_count(), 0);
    cell extra{TYPE_INTEGER, 0, 1010, 0};
    EXPECT_EQ(slot_table::store(&extra), 101) << "a full table doubles";
    EXPECT_EQ(slot_table::capacity(), 200);
    EXPECT_EQ(slot_table::free_count(), 99);
    EXPECT_EQ(slot_table::get(7)->w2, 70u);
    EXPECT_EQ(slot_table::get(101)->w2, 1010u);

    slot_table::release(0);  // nothing
    EXPECT_EQ(slot_table::free_count(), 99);
    slot_table::release(7);
    slot_table::release(7);  // again: nothing, the chain stays sound
    EXPECT_EQ(slot_table::free_count(), 100);
    cell again{TYPE_INTEGER, 0, 77, 0};
    EXPECT_EQ(slot_table::store(&again), 7) << "the released slot is the chain's head";
    EXPECT_EQ(slot_table::store(&again), 102);
    for (int32_t bad : {-1, 201, 5000}) {
        EXPECT_EQ(testing::raised_code([bad] { slot_table::get(bad); }), OUT_OF_RANGE) << bad;
        EXPECT_EQ(testing::raised_code([bad] { slot_table::release(bad); }), OUT_OF_RANGE) << bad;
    }
}

TEST_F(SlotTable, StoredValuesAreRootsThatFollowMovedNodes) {
    node_ref node = memory::alloc_bytes(8);
    memory::series_buffer* b = memory::buffer_of(node);
    std::memcpy(b->head, "slotted!", 8);
    b->tail = b->head + 8;
    cell value{TYPE_BINARY, 0, node, 0};
    int32_t index = slot_table::store(&value);
    // Torture collections until every node frame there was has been evacuated.
    uint32_t start = gc::cycle_count();
    bool torture = gc::torture_mode();
    gc::set_torture_mode(true);
    for (bool old_frame_left = true; old_frame_left && gc::cycle_count() - start < 1000;) {
        gc::collect();
        old_frame_left = false;
        for (memory::node_frame* f = memory::state.node_head; f; f = f->next) old_frame_left |= f->created_cycle < start;
    }
    gc::set_torture_mode(torture);
    node_ref moved = slot_table::get(index)->w2;
    EXPECT_NE(moved, node);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(memory::buffer_of(moved)->head), 8), "slotted!");
    slot_table::release(index);
    gc::collect();
    memory::node_frame* f = memory::frame_of_node(moved);
    bool freed = !f;
    for (node_ref n = f ? f->free_head : 0; n && !freed; n = static_cast<node_ref>(*reinterpret_cast<uint64_t*>(memory::node_space + n))) {
        freed = n == moved;
    }
    EXPECT_TRUE(freed) << "a released slot no longer keeps its value";
}

}  // namespace
}  // namespace zor
