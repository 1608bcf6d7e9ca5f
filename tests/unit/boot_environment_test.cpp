// The boot environment's installer: the embedded sources and the boot-only helper
// `boot-routine` that makes routine! values of registered C++ code.
#include <gtest/gtest.h>

#include <string>

#include "boot/boot-environment.h"
#include "boot/routine-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/invoke.h"
#include "tests/unit/boot_fixture.h"

namespace zor {
namespace {

// Cell-calling: answers its argument plus one.
cell* add_one(cell* arguments) {
    integer::make_in(arguments, integer::read_cell(arguments) + 1);
    return arguments;
}

// Machine-calling, logic! result: is the integer argument even?
uint64_t is_even(const eval::routine_arguments& arguments) {
    return arguments.count == 1 && static_cast<int64_t>(arguments.values[0]) % 2 == 0;
}

void register_test_routines() {
    static const boot::boot_routine routines[] = {
        {"test-add-one", reinterpret_cast<code_registry::code>(&add_one), true, -1},
        {"test-family/even", reinterpret_cast<code_registry::code>(&is_even), false, TYPE_LOGIC},
    };
    boot::register_routines(routines);
}

class BootRoutineHelper : public testing::boot_environment_fixture {
protected:
    void SetUp() override {
        boot_environment_fixture::SetUp();
        register_test_routines();
        boot::install_boot_helper();
    }
    void TearDown() override {
        boot::remove_boot_helper();
        boot_environment_fixture::TearDown();
    }
};

TEST_F(BootRoutineHelper, MakesRoutinesOfRegisteredCode) {
    const struct {
        const char* code;
        const char* expected;
    } cases[] = {
        {"r: boot-routine 'test-add-one [n [integer!]] [adds one] r 41", "42"},
        {"r: boot-routine 'test-add-one [n [integer!]] [adds one] type? :r", "routine!"},
        // A name with a path is an object field's routine.
        {"r: boot-routine 'test-family/even [n [integer!] return: [logic!]] [even] r 10", "true"},
        {"r: boot-routine 'test-family/even [n [integer!] return: [logic!]] [even] r 7", "false"},
        // The spec and the body are kept for reflection as given.
        {"r: boot-routine 'test-add-one [\"Adds one\" n [integer!]] [n + 1] reflect :r 'spec",
         "[\"Adds one\" n [integer!]]"},
        {"r: boot-routine 'test-add-one [n [integer!]] [n + 1] reflect :r 'body", "[n + 1]"},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate(c.code), c.expected) << c.code;
}

TEST_F(BootRoutineHelper, RefusesWhatItCannotMake) {
    const std::string not_done = "error " + std::to_string(error_catalogue::code_of(err::internal_not_done)) + ": ";
    const std::string invalid = "error " + std::to_string(error_catalogue::code_of(err::script_invalid_arg)) + ": ";
    const struct {
        const char* code;
        std::string expected;
    } cases[] = {
        // No code under the name: the error names the routine.
        {"boot-routine 'no-such-routine [] []", not_done + "no-such-routine none none"},
        {"boot-routine 'test-family/odd [] []", not_done + "test-family/odd none none"},
        // A registered name that is only a part of a qualified one is not it.
        {"boot-routine 'even [] []", not_done + "even none none"},
        {"boot-routine 'test-family/(1) [] []", invalid + "test-family/(1) none none"},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate(c.code), c.expected) << c.code;
}

TEST_F(BootRoutineHelper, IsGoneOnceRemoved) {
    boot::remove_boot_helper();
    EXPECT_EQ(evaluate("value? 'boot-routine"), "false");
}

// The sources are embedded in the installation order, the base values first.
TEST(BootSources, EmbeddedInTheirOrder) {
    ASSERT_GE(boot::boot_source_count(), 1);
    EXPECT_EQ(boot::boot_source_name(0), "base.zor");
    for (int i = 0; i < boot::boot_source_count(); ++i) {
        EXPECT_TRUE(boot::boot_source_text(i).starts_with("Zor [")) << boot::boot_source_name(i);
    }
}

// The aliases take the values their sources have when the aliases install, whatever
// those are (here stand-ins for the mezzanines).
using BootAliases = testing::boot_environment_fixture;

TEST_F(BootAliases, TakeTheValuesOfTheirSources) {
    int aliases = -1;
    for (int i = 0; i < boot::boot_source_count(); ++i)
        if (boot::boot_source_name(i) == "aliases.zor") aliases = i;
    ASSERT_GE(aliases, 0);
    EXPECT_EQ(evaluate("last?: func [s] [s] words-of: func [o] [o] context: func [b] [b] quit: 5 ()"), "unset");
    boot::install_boot_source(boot::boot_source_text(aliases));
    const char* pairs[] = {"same? :single? :last?", "same? :keys-of :words-of", "same? :object :context",
                           "same? :halt :quit"};
    for (const char* code : pairs) EXPECT_EQ(evaluate(code), "true") << code;
}

}  // namespace
}  // namespace zor
