// handle! and triple!: the two opaque cell types. Their texts, budgets, comparison, and
// that every other action is refused.
#include <set>

#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/triple.h"
#include "tests/unit/scalar_fixture.h"

namespace zor {
namespace {

using namespace scalar_testing;

class OpaqueTypes : public ScalarTest {};

TEST_F(OpaqueTypes, OnlyTheirOwnActionsAreFilled) {
    const struct {
        type_id type;
        std::set<int> actions;
    } rows[] = {
        // handle!'s parent is integer!, yet nothing is inherited.
        {TYPE_HANDLE, {ACTION_FORM, ACTION_MOLD, ACTION_COMPARE}},
        {TYPE_TRIPLE, {ACTION_FORM, ACTION_MOLD}},
    };
    for (const auto& r : rows) {
        for (int a = 1; a <= ACTION_COUNT; ++a) {
            bool filled = type_registry::handler_of(r.type, static_cast<action>(a)) != nullptr;
            EXPECT_EQ(filled, r.actions.count(a) == 1) << type_registry::type_entries[r.type].name << " "
                                                         << action_names[a - 1];
        }
    }
    // The dispatcher refuses the rest.
    cell triple{};
    triple::make_at(&triple, 1, 2, 3);
    EXPECT_EQ(call_simple(ACTION_ADD, triple, int_cell(1)).error, code(err::script_expect_arg));
    cell h{};
    handle::make_at(&h, 5, handle::KIND_FD);
    EXPECT_EQ(call_simple(ACTION_ADD, h, int_cell(1)).error, code(err::script_expect_arg));
}

TEST_F(OpaqueTypes, HandleTexts) {
    const struct {
        uint32_t value, kind;
        const char* form;
        const char* mold_all;
    } rows[] = {
        {0, handle::KIND_NULL, "00000000h", "#[handle! 00000000h]"},
        {0x1A2B, handle::KIND_WINDOW, "00001A2Bh", "#[handle! 00001A2Bh window]"},
        {0xFFFFFFFF, handle::KIND_FD, "FFFFFFFFh", "#[handle! FFFFFFFFh fd]"},
        {0x80000000, handle::KIND_RICH_TEXT, "80000000h", "#[handle! 80000000h rich-text]"},
        {7, handle::KIND_MONITOR, "00000007h", "#[handle! 00000007h monitor]"},
        {7, handle::KIND_FONT, "00000007h", "#[handle! 00000007h font]"},
        // A kind without a name is written without one, never read past the table.
        {7, 99, "00000007h", "#[handle! 00000007h]"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.form);
        cell h{};
        handle::make_at(&h, r.value, r.kind);
        EXPECT_EQ(h.w3, 0xFFFFFFFFu);
        text_result f = form(h, 100);
        EXPECT_EQ(f.text, r.form);
        EXPECT_EQ(f.budget, 91);
        text_result m = mold(h, true, false, 100);
        EXPECT_EQ(m.text, r.mold_all);
        EXPECT_EQ(m.budget, 100 - static_cast<int>(m.text.size()));
        text_result plain = mold(h, false, false, 100);
        EXPECT_EQ(plain.text, "handle!");
        EXPECT_EQ(plain.budget, 93);
    }
}

TEST_F(OpaqueTypes, HandlesCompareByValueOnly) {
    const struct {
        cell left, right;
        int answer;
    } rows[] = {
        {cell{TYPE_HANDLE, handle::KIND_FD, 5, 0xFFFFFFFF}, cell{TYPE_HANDLE, handle::KIND_WINDOW, 5, 0xFFFFFFFF}, 0},
        {cell{TYPE_HANDLE, 1, 4, 0xFFFFFFFF}, cell{TYPE_HANDLE, 1, 5, 0xFFFFFFFF}, -1},
        // Signed: 0xFFFFFFFF is -1.
        {cell{TYPE_HANDLE, 1, 0xFFFFFFFF, 0xFFFFFFFF}, cell{TYPE_HANDLE, 1, 0, 0xFFFFFFFF}, -1},
        {cell{TYPE_HANDLE, 1, 9, 0xFFFFFFFF}, cell{TYPE_HANDLE, 1, 0x80000000, 0xFFFFFFFF}, 1},
        // An integer of the same number is another value.
        {cell{TYPE_HANDLE, 1, 5, 0xFFFFFFFF}, int_cell(5), 1},
    };
    for (const auto& r : rows) {
        cell left = r.left, right = r.right;
        for (int op : {0, 2, 3, 7, 9}) EXPECT_EQ(actions::dispatch_compare(&left, &right, op), r.answer) << op;
    }
}

TEST_F(OpaqueTypes, HandleBuilders) {
    cell* pushed = handle::push(42, handle::KIND_FONT);
    EXPECT_EQ(pushed->type(), TYPE_HANDLE);
    EXPECT_EQ(handle::value_of(pushed), 42u);
    EXPECT_EQ(handle::kind_of(pushed), uint32_t(handle::KIND_FONT));
    cell* null = handle::push_null();
    EXPECT_EQ(null->w1, 0u);
    EXPECT_EQ(null->w2, 0u);
    EXPECT_EQ(null->w3, 0xFFFFFFFFu);
    handle::set_result(3, handle::KIND_WINDOW);
    EXPECT_EQ(stack::result_slot()->type(), TYPE_HANDLE);
    EXPECT_EQ(stack::result_slot()->w2, 3u);
    EXPECT_STREQ(handle::kind_name(handle::KIND_NULL), nullptr);
    EXPECT_STREQ(handle::kind_name(handle::KIND_RICH_TEXT), "rich-text");
}

TEST_F(OpaqueTypes, TripleTextAndBudget) {
    const struct {
        int32_t a, b, c;
        const char* text;
    } rows[] = {
        {3, 10, 1, "make triple! [3 10 1]"},
        {-1, 0, 2147483647, "make triple! [-1 0 2147483647]"},
        {INT32_MIN, INT32_MIN, -7, "make triple! [-2147483648 -2147483648 -7]"},
    };
    for (const auto& r : rows) {
        cell t{};
        triple::make_at(&t, r.a, r.b, r.c);
        text_result f = form(t, 100);
        text_result m = mold(t, true, false, 100);
        EXPECT_EQ(f.text, r.text);
        EXPECT_EQ(m.text, r.text);
        // Every character written is taken from the budget, the closing bracket too.
        EXPECT_EQ(f.budget, 100 - static_cast<int>(f.text.size()));
        EXPECT_EQ(m.budget, f.budget);
    }
}

}  // namespace
}  // namespace zor
