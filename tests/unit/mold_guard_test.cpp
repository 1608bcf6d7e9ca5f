// The mold cycle guard: the stack of nodes being walked, its depth limit, the RAII scope,
// the cycle marks, and the indentation writer used beside it.
#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

// Node references here are only compared, never resolved. They lie far beyond any node
// frame a test makes, so no collection relocates them.
constexpr node_ref NODE_A = 0xF0001000;
constexpr node_ref NODE_B = 0xF0002000;
constexpr node_ref NODE_C = 0xF0003000;

class MoldGuard : public ::testing::Test {
protected:
};

// Runs the body inside a try frame; answers the catalogue code of the error raised (0
// when none was).
template <typename Body> int error_code_of(Body body) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        body();
    } catch (const zor_throw& t) {
        if (t.code != THROW_ERROR) throw;
        return error::code_of(stack::last_slot());
    }
    return 0;
}

// A walk into `levels` nested containers, each guarded by its own scope, as mold does.
int deepest = 0;
void nest(int levels, void (*at_bottom)() = nullptr) {
    if (levels == 0) {
        deepest = mold_guard::depth();
        if (at_bottom) at_bottom();
        return;
    }
    mold_guard::scope guard(static_cast<node_ref>(levels * 8));
    nest(levels - 1, at_bottom);
}

TEST_F(MoldGuard, PushPopDropAndContains) {
    EXPECT_EQ(mold_guard::depth(), 0);
    EXPECT_FALSE(mold_guard::contains(NODE_A));
    mold_guard::push(NODE_A);
    mold_guard::push(NODE_B);
    mold_guard::push(NODE_C);
    EXPECT_EQ(mold_guard::depth(), 3);
    EXPECT_TRUE(mold_guard::contains(NODE_A));
    EXPECT_TRUE(mold_guard::contains(NODE_C));
    mold_guard::pop();
    EXPECT_FALSE(mold_guard::contains(NODE_C));
    EXPECT_TRUE(mold_guard::contains(NODE_B));
    mold_guard::drop(1);
    EXPECT_EQ(mold_guard::depth(), 1);
    EXPECT_FALSE(mold_guard::contains(NODE_B));

    // Dropping never goes below the base; a count of 0 or less drops nothing.
    mold_guard::drop(0);
    mold_guard::drop(-4);
    EXPECT_EQ(mold_guard::depth(), 1);
    mold_guard::drop(5);
    EXPECT_EQ(mold_guard::depth(), 0);
    mold_guard::pop();
    EXPECT_EQ(mold_guard::depth(), 0);

    mold_guard::push(NODE_A);
    mold_guard::push(NODE_A);
    mold_guard::reset();
    EXPECT_EQ(mold_guard::depth(), 0);
    EXPECT_FALSE(mold_guard::contains(NODE_A));
}

TEST_F(MoldGuard, NineHundredNinetyNineLevelsFitAndTheThousandthRaises) {
    const int too_deep = error_catalogue::code_of(err::internal_too_deep);
    const struct {
        int levels;
        int error;
    } rows[] = {
        {1, 0}, {998, 0}, {999, 0}, {1000, too_deep}, {1500, too_deep},
        // A later walk starts clean after the failure.
        {999, 0},
    };
    for (const auto& r : rows) {
        deepest = 0;
        EXPECT_EQ(error_code_of([&] { nest(r.levels); }), r.error) << r.levels;
        EXPECT_EQ(mold_guard::depth(), 0) << r.levels;
        if (r.error == 0) {
            EXPECT_EQ(deepest, r.levels);
        }
    }
}

TEST_F(MoldGuard, AnErrorUnwindingThroughScopesRestoresTheDepth) {
    mold_guard::push(NODE_A);
    mold_guard::push(NODE_B);
    int code = error_code_of([] { nest(40, [] { raise::throw_error(err::script_no_return); }); });
    EXPECT_EQ(code, error_catalogue::code_of(err::script_no_return));
    EXPECT_EQ(deepest, 42);
    EXPECT_EQ(mold_guard::depth(), 2);
    EXPECT_TRUE(mold_guard::contains(NODE_B));
    EXPECT_FALSE(mold_guard::contains(8));

    // The too-deep error empties the stack, entries made before the walk included.
    code = error_code_of([] { nest(2000); });
    EXPECT_EQ(code, error_catalogue::code_of(err::internal_too_deep));
    EXPECT_EQ(mold_guard::depth(), 0);
}

TEST_F(MoldGuard, CycleMarksByTypeAndFlavour) {
    const struct {
        type_id type;
        const char* mold;
    } rows[] = {
        {TYPE_BLOCK, "[...]"},    {TYPE_HASH, "[...]"},     {TYPE_PAREN, "(...)"},
        {TYPE_MAP, "#[...]"},     {TYPE_PATH, "..."},       {TYPE_LIT_PATH, "..."},
        {TYPE_SET_PATH, "..."},   {TYPE_GET_PATH, "..."},
    };
    mold_guard::push(NODE_B);
    for (const auto& r : rows) {
        for (bool molding : {true, false}) {
            const std::string expected = molding ? r.mold : "...";
            cell* output = string::push_empty();
            string::append_c_string(output, "<");
            int budget = 50;
            // Series types are walked by the node in payload word 2.
            cell on_stack{r.type, 0, NODE_B, 0};
            EXPECT_TRUE(mold_guard::emit_cycle_mark(&on_stack, output, &budget, molding));
            EXPECT_EQ(string::to_utf8(output), "<" + expected) << int(r.type);
            EXPECT_EQ(budget, 50 - int(expected.size())) << int(r.type);

            cell elsewhere{r.type, NODE_B, NODE_C, 0};
            EXPECT_FALSE(mold_guard::emit_cycle_mark(&elsewhere, output, &budget, molding));
            EXPECT_EQ(string::to_utf8(output), "<" + expected);
            EXPECT_EQ(budget, 50 - int(expected.size()));
        }
    }
}

TEST_F(MoldGuard, ObjectsAreGuardedByTheirContext) {
    mold_guard::push(NODE_A);
    // Payload word 1 is the context; word 2 is the class id, which must not match.
    cell object{TYPE_OBJECT, NODE_A, 7, 0};
    cell other{TYPE_OBJECT, NODE_C, NODE_A, 0};
    const struct {
        cell* value;
        bool molding;
        const char* text;
    } rows[] = {
        {&object, true, "make object! [...]"},
        {&object, false, "..."},
        {&other, true, ""},
        {&other, false, ""},
    };
    for (const auto& r : rows) {
        cell* output = string::push_empty();
        int budget = 100;
        bool marked = mold_guard::emit_cycle_mark(r.value, output, &budget, r.molding);
        EXPECT_EQ(marked, *r.text != 0);
        EXPECT_EQ(string::to_utf8(output), r.text);
        EXPECT_EQ(budget, 100 - int(std::string(r.text).size()));
    }
}

TEST_F(MoldGuard, RelocateRewritesMovedNodes) {
    mold_guard::push(NODE_A);
    mold_guard::push(NODE_B);
    mold_guard::push(NODE_A);
    // The collector's map: NODE_A moved to NODE_C; others answer 0 (not moved).
    mold_guard::relocate([](node_ref n) -> node_ref { return n == NODE_A ? NODE_C : 0; });
    EXPECT_FALSE(mold_guard::contains(NODE_A));
    EXPECT_TRUE(mold_guard::contains(NODE_B));
    EXPECT_TRUE(mold_guard::contains(NODE_C));
    mold_guard::pop();
    mold_guard::pop();
    EXPECT_TRUE(mold_guard::contains(NODE_C));
    EXPECT_EQ(mold_guard::depth(), 1);
}

TEST_F(MoldGuard, AppendIndentWritesFourSpacesALevel) {
    const struct {
        int levels;
        int spaces;
    } rows[] = {{0, 0}, {-3, 0}, {1, 4}, {2, 8}, {16, 64}, {17, 68}, {40, 160}};
    for (const auto& r : rows) {
        cell* output = string::push_empty();
        string::append_c_string(output, "x");
        int left = string::append_indent(output, r.levels, 1000);
        EXPECT_EQ(string::to_utf8(output), "x" + std::string(size_t(r.spaces), ' ')) << r.levels;
        EXPECT_EQ(left, 1000 - r.spaces) << r.levels;
    }
}

}  // namespace
}  // namespace zor
