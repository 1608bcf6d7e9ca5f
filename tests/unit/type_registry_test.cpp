// The datatype registry: names, the highest id and inheritance resolved at registration.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

// Ids past event! that no module uses, so the tests can register freely.
constexpr auto TEST_PARENT = static_cast<type_id>(56);
constexpr auto TEST_CHILD = static_cast<type_id>(55);

cell* fake_make(cell*, cell*, type_id) { return nullptr; }
cell* other_make(cell*, cell*, type_id) { return nullptr; }
int fake_length(cell*) { return 3; }

TEST(TypeRegistry, EveryTypeHasItsNameInTheFixedOrder) {
    testing::ensure_runtime();
    // The runtime registers 1 to 53; event! (54) comes from the program before the boot
    // (the test runtime does the same, tests/unit/runtime_fixture.h).
    EXPECT_EQ(type_registry::max_type_id, 54);
    const struct {
        type_id id;
        const char* name;
        int length;
    } rows[] = {
        {TYPE_DATATYPE, "datatype!", 8}, {TYPE_UNSET, "unset!", 5},   {TYPE_LOGIC, "logic!", 5},
        {TYPE_INTEGER, "integer!", 7},   {TYPE_ERROR, "error!", 5},   {TYPE_POINT2D, "point2D!", 7},
        {TYPE_IMAGE, "image!", 5},       {TYPE_SERIES, "series!", 6},
    };
    for (const auto& r : rows) {
        EXPECT_STREQ(type_registry::type_entries[r.id].name, r.name);
        EXPECT_EQ(type_registry::type_entries[r.id].name_length, r.length) << r.name;
    }
}

TEST(TypeRegistry, ChildCopiesTheParentsEntriesAsTheyStandAtRegistration) {
    testing::ensure_runtime();
    int saved_max = type_registry::max_type_id;

    // The child registers first: its inherited slots find the parent's empty row.
    type_registry::register_type(TEST_CHILD, TEST_PARENT, "child!", type_registry::action_list(TEST_PARENT));
    type_registry::action_list parent(TYPE_NONE_ID);
    parent.set<ACTION_MAKE>(&fake_make).set<ACTION_LENGTH_Q>(&fake_length);
    type_registry::register_type(TEST_PARENT, TYPE_NONE_ID, "parent!", parent);
    EXPECT_EQ(type_registry::handler_of(TEST_CHILD, ACTION_MAKE), nullptr);

    // Registered again after the parent, it inherits; its own entries win.
    type_registry::action_list child(TEST_PARENT);
    child.set<ACTION_MAKE>(&other_make).unsupported(ACTION_FORM);
    type_registry::register_type(TEST_CHILD, TEST_PARENT, "child!", child);
    EXPECT_EQ(type_registry::handler_of(TEST_CHILD, ACTION_MAKE), reinterpret_cast<action_entry>(&other_make));
    EXPECT_EQ(type_registry::handler_of(TEST_CHILD, ACTION_LENGTH_Q), reinterpret_cast<action_entry>(&fake_length));
    EXPECT_EQ(type_registry::handler_of(TEST_CHILD, ACTION_FORM), nullptr);
    EXPECT_EQ(type_registry::max_type_id, 56);

    // Restore the registry as the other tests expect it.
    type_registry::type_entries[TEST_CHILD] = {};
    type_registry::type_entries[TEST_PARENT] = {};
    std::memset(static_cast<void*>(&type_registry::action_table[TEST_CHILD * type_registry::ROW_SIZE]), 0,
                sizeof(action_entry) * 2 * type_registry::ROW_SIZE);
    type_registry::max_type_id = saved_max;
}

TEST(TypeRegistry, TypeWithoutParentLeavesUnsetSlotsUnsupported) {
    testing::ensure_runtime();
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        if (a == ACTION_MAKE || a == ACTION_TO || a == ACTION_FORM || a == ACTION_MOLD || a == ACTION_COMPARE ||
            a == ACTION_CLEAR || a == ACTION_FIND || a == ACTION_LENGTH_Q || a == ACTION_REMOVE ||
            a == ACTION_SELECT || a == ACTION_TAKE) {
            EXPECT_NE(type_registry::handler_of(TYPE_NONE, static_cast<action>(a)), nullptr) << action_names[a - 1];
        } else {
            EXPECT_EQ(type_registry::handler_of(TYPE_NONE, static_cast<action>(a)), nullptr) << action_names[a - 1];
        }
    }
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

TEST(TypeRegistryDeathTest, WrongActionCountEndsTheProcess) {
    testing::ensure_runtime();
    type_registry::action_slot three[3];
    EXPECT_EXIT(type_registry::register_type(static_cast<type_id>(55), TYPE_NONE_ID, "broken!", three),
                ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace zor
