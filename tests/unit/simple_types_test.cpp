// datatype!, unset!, none! and logic!: their texts, conversions, comparisons, the none
// series actions, the bitwise actions and the truth tests.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
cell number_cell(type_id type, double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    return cell{type, 0, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
}
cell datatype_cell(type_id t) { return cell{TYPE_DATATYPE, t, 0, 0}; }
cell logic_cell(uint32_t v) { return cell{TYPE_LOGIC, v, 0, 0}; }
const cell unset_cell{TYPE_UNSET, 0, 0, 0};
const cell none_cell{TYPE_NONE, 0, 0, 0};

template <action A> action_handler<A> handler_of(type_id type) {
    return reinterpret_cast<action_handler<A>>(type_registry::handler_of(type, A));
}

std::string describe(const cell& c) {
    return "type " + std::to_string(c.type()) + " payload " + std::to_string(c.w1) + "/" + std::to_string(c.w2);
}

class SimpleTypes : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensure_runtime();
        stack::state.args_base = stack::state.args_top = stack::state.args_begin;
        stack::state.frames_top = stack::state.frames_begin;
    }

    // Forms or molds the value into a fresh string; answers the text and the budget left.
    struct text_result {
        std::string text;
        int budget;
    };
    text_result form(cell value, int budget = 100) {
        cell* output = string::push_empty();
        int left = actions::dispatch_form(&value, output, nullptr, budget);
        return {string::to_utf8(output), left};
    }
    text_result mold(cell value, bool all, int budget = 100) {
        cell* output = string::push_empty();
        int left = actions::dispatch_mold(&value, output, false, all, false, nullptr, budget, 0);
        return {string::to_utf8(output), left};
    }

    // Calls a bitwise action the way its entry does: the two operands at args_base.
    cell call_bitwise(action a, cell left, cell right) {
        stack::push_copy(&left);
        stack::push_copy(&right);
        auto h = reinterpret_cast<cell* (*)()>(type_registry::handler_of(left.type(), a));
        return *h();
    }
};

// What an action raised: the throw code and the error's catalogue code (0 when none).
struct raised {
    uint32_t throw_code = 0;
    int error_code = 0;
    cell arg1{}, arg2{}, arg3{};
};
template <typename Body> raised run_caught(Body body) {
    raised r;
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        body();
    } catch (const zor_throw& t) {
        r.throw_code = t.code;
        if (t.code == THROW_ERROR) {
            cell* e = stack::last_slot();
            r.error_code = error::code_of(e);
            r.arg1 = *error::field_of(e, error::FIELD_ARG1);
            r.arg2 = *error::field_of(e, error::FIELD_ARG2);
            r.arg3 = *error::field_of(e, error::FIELD_ARG3);
        }
    }
    return r;
}

TEST_F(SimpleTypes, RegisteredRowsHoldExactlyTheirOwnActions) {
    // Without a parent every slot a module does not fill is unsupported.
    const struct {
        type_id type;
        std::set<int> actions;
    } rows[] = {
        {TYPE_DATATYPE, {ACTION_FORM, ACTION_MOLD, ACTION_COMPARE}},
        {TYPE_UNSET, {ACTION_MAKE, ACTION_TO, ACTION_FORM, ACTION_MOLD, ACTION_COMPARE}},
        {TYPE_NONE,
         {ACTION_MAKE, ACTION_TO, ACTION_FORM, ACTION_MOLD, ACTION_COMPARE, ACTION_CLEAR, ACTION_FIND,
          ACTION_LENGTH_Q, ACTION_REMOVE, ACTION_SELECT, ACTION_TAKE}},
        {TYPE_LOGIC,
         {ACTION_MAKE, ACTION_RANDOM, ACTION_TO, ACTION_FORM, ACTION_MOLD, ACTION_COMPARE, ACTION_AND_T,
          ACTION_COMPLEMENT, ACTION_OR_T, ACTION_XOR_T}},
    };
    for (const auto& r : rows) {
        for (int a = 1; a <= ACTION_COUNT; ++a) {
            bool filled = type_registry::handler_of(r.type, static_cast<action>(a)) != nullptr;
            EXPECT_EQ(filled, r.actions.count(a) == 1) << type_registry::type_entries[r.type].name << " "
                                                         << action_names[a - 1];
        }
    }
    EXPECT_STREQ(type_registry::type_entries[TYPE_DATATYPE].name, "datatype!");
    EXPECT_STREQ(type_registry::type_entries[TYPE_NONE].name, "none!");
}

TEST_F(SimpleTypes, SharedCellsHoldTheirValues) {
    EXPECT_EQ(unset::value.header, uint32_t(TYPE_UNSET));
    EXPECT_EQ(none::value.header, uint32_t(TYPE_NONE));
    EXPECT_EQ(logic::true_value.header, uint32_t(TYPE_LOGIC));
    EXPECT_EQ(logic::true_value.w1, 1u);
    EXPECT_EQ(logic::false_value.header, uint32_t(TYPE_LOGIC));
    EXPECT_EQ(logic::false_value.w1, 0u);
}

TEST_F(SimpleTypes, FormAndMoldTextsAndBudgets) {
    const struct {
        cell value;
        const char* form;
        const char* mold;
        const char* mold_all;
    } rows[] = {
        {datatype_cell(TYPE_INTEGER), "integer", "integer!", "#(integer!)"},
        {datatype_cell(TYPE_DATATYPE), "datatype", "datatype!", "#(datatype!)"},
        {datatype_cell(TYPE_POINT2D), "point2D", "point2D!", "#(point2D!)"},
        {datatype_cell(TYPE_LOGIC), "logic", "logic!", "#(logic!)"},
        // form of unset appends nothing; its mold is still a word.
        {unset_cell, "", "unset", "#(unset)"},
        {none_cell, "none", "none", "#(none)"},
        {logic_cell(1), "true", "true", "#(true)"},
        {logic_cell(0), "false", "false", "#(false)"},
    };
    for (const auto& r : rows) {
        auto f = form(r.value);
        EXPECT_EQ(f.text, r.form) << describe(r.value);
        EXPECT_EQ(f.budget, 100 - int(std::string(r.form).size())) << describe(r.value);
        auto m = mold(r.value, false);
        EXPECT_EQ(m.text, r.mold) << describe(r.value);
        EXPECT_EQ(m.budget, 100 - int(std::string(r.mold).size())) << describe(r.value);
        auto a = mold(r.value, true);
        EXPECT_EQ(a.text, r.mold_all) << describe(r.value);
        EXPECT_EQ(a.budget, 100 - int(std::string(r.mold_all).size())) << describe(r.value);
    }
}

TEST_F(SimpleTypes, TextsAppendToWhatTheOutputHoldsAndMayOverdrawTheBudget) {
    cell* output = string::push_empty();
    string::append_c_string(output, "x=");
    cell value = logic_cell(0);
    // A part budget smaller than the text does not cut these texts: the caller does.
    int left = actions::dispatch_mold(&value, output, false, true, false, nullptr, 3, 0);
    EXPECT_EQ(string::to_utf8(output), "x=#(false)");
    EXPECT_EQ(left, 3 - 8);
}

TEST_F(SimpleTypes, ToAndMakeLogic) {
    auto to = handler_of<ACTION_TO>(TYPE_LOGIC);
    auto make = handler_of<ACTION_MAKE>(TYPE_LOGIC);
    cell type = datatype_cell(TYPE_LOGIC);
    cell* text = string::push_empty();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        cell spec;
        uint32_t to;    // to logic!: only none and false are false
        uint32_t make;  // make logic!: numbers are false when zero
    } rows[] = {
        {integer_cell(0), 1, 0},
        {integer_cell(1), 1, 1},
        {integer_cell(-7), 1, 1},
        {number_cell(TYPE_FLOAT, 0.0), 1, 0},
        {number_cell(TYPE_FLOAT, -0.0), 1, 0},
        {number_cell(TYPE_FLOAT, 0.25), 1, 1},
        {number_cell(TYPE_FLOAT, nan), 1, 1},  // a NaN is not 0.0
        {number_cell(TYPE_PERCENT, 0.0), 1, 0},
        {number_cell(TYPE_PERCENT, 0.5), 1, 1},
        {none_cell, 0, 0},
        {logic_cell(0), 0, 0},
        {logic_cell(1), 1, 1},
        {unset_cell, 1, 1},
        {datatype_cell(TYPE_NONE), 1, 1},
        {*text, 1, 1},
    };
    for (auto r : rows) {
        cell* a = to(&type, &r.spec, TYPE_LOGIC);
        ASSERT_TRUE(a->is(TYPE_LOGIC)) << describe(r.spec);
        EXPECT_EQ(a->w1, r.to) << "to " << describe(r.spec);
        cell* b = make(&type, &r.spec, TYPE_LOGIC);
        ASSERT_TRUE(b->is(TYPE_LOGIC)) << describe(r.spec);
        EXPECT_EQ(b->w1, r.make) << "make " << describe(r.spec);
    }
    // The answers are the shared cells, which stay unchanged.
    EXPECT_EQ(logic::true_value.w1, 1u);
    EXPECT_EQ(logic::false_value.w1, 0u);
}

TEST_F(SimpleTypes, MakeAndToOfUnsetAndNoneIgnoreTheirArguments) {
    cell number = integer_cell(5);
    cell nothing = none_cell;
    for (cell* s : {&number, &nothing}) {
        cell unset_type = datatype_cell(TYPE_UNSET);
        cell none_type = datatype_cell(TYPE_NONE);
        EXPECT_TRUE(handler_of<ACTION_MAKE>(TYPE_UNSET)(&unset_type, s, TYPE_UNSET)->is(TYPE_UNSET));
        EXPECT_TRUE(handler_of<ACTION_TO>(TYPE_UNSET)(&unset_type, s, TYPE_UNSET)->is(TYPE_UNSET));
        EXPECT_TRUE(handler_of<ACTION_MAKE>(TYPE_NONE)(&none_type, s, TYPE_NONE)->is(TYPE_NONE));
        EXPECT_TRUE(handler_of<ACTION_TO>(TYPE_NONE)(&none_type, s, TYPE_NONE)->is(TYPE_NONE));
    }
}

TEST_F(SimpleTypes, NoneSeriesActionsAnswerNone) {
    cell n = none_cell;
    cell key = integer_cell(1);
    EXPECT_TRUE(handler_of<ACTION_CLEAR>(TYPE_NONE)(&n)->is(TYPE_NONE));
    EXPECT_TRUE(handler_of<ACTION_FIND>(TYPE_NONE)(&n, &key, nullptr, false, false, false, false, nullptr, nullptr,
                                                   false, false, false, false)
                    ->is(TYPE_NONE));
    EXPECT_TRUE(handler_of<ACTION_SELECT>(TYPE_NONE)(&n, &key, nullptr, false, false, false, false, nullptr,
                                                     nullptr, false, false)
                    ->is(TYPE_NONE));
    EXPECT_TRUE(handler_of<ACTION_REMOVE>(TYPE_NONE)(&n, nullptr, nullptr)->is(TYPE_NONE));
    EXPECT_TRUE(handler_of<ACTION_TAKE>(TYPE_NONE)(&n, nullptr, false, false)->is(TYPE_NONE));
    // -1 is what the length? entry turns into none.
    EXPECT_EQ(handler_of<ACTION_LENGTH_Q>(TYPE_NONE)(&n), -1);
}

TEST_F(SimpleTypes, CompareAnswersByCode) {
    const cell integer_type = datatype_cell(TYPE_INTEGER);
    const cell other_type = datatype_cell(TYPE_LOGIC);
    const cell t = logic_cell(1), f = logic_cell(0);
    const struct {
        cell value, other;
        int codes[13];  // the answer for comparison codes 0..12
    } rows[] = {
        // datatype!: equality only; a non-datatype is simply unequal.
        {integer_type, integer_type, {0, 0, 0, -2, -2, -2, -2, -2, -2, 0, -2, -2, 0}},
        {integer_type, other_type, {1, 1, 1, -2, -2, -2, -2, -2, -2, 1, -2, -2, 1}},
        {integer_type, none_cell, {1, 1, 1, -2, -2, -2, -2, -2, -2, 1, -2, -2, 1}},
        // unset! and none!: equal to themselves and sortable, nothing else.
        {unset_cell, unset_cell, {0, 0, 0, -2, -2, -2, -2, 0, 0, 0, -2, -2, 0}},
        {unset_cell, none_cell, {-2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2}},
        {none_cell, none_cell, {0, 0, 0, -2, -2, -2, -2, 0, 0, 0, -2, -2, 0}},
        {none_cell, f, {-2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2}},
        // logic!: the payload difference, for the orderings too (false before true).
        {t, f, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, -2, -2, 1}},
        {f, t, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -2, -2, -1}},
        {t, t, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -2, -2, 0}},
        {t, integer_cell(1), {-2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2, -2}},
    };
    for (auto r : rows) {
        for (int code = 0; code <= 12; ++code) {
            int answer = handler_of<ACTION_COMPARE>(r.value.type())(&r.value, &r.other, code);
            EXPECT_EQ(answer, r.codes[code]) << describe(r.value) << " vs " << describe(r.other) << " code "
                                             << code;
        }
    }
}

TEST_F(SimpleTypes, LogicOrderingThroughTheGenericCompareRaisesNothing) {
    cell t = logic_cell(1), f = logic_cell(0);
    const struct {
        cell a, b;
        int code;
        bool expected;
    } rows[] = {
        {f, t, 3, true},  {t, f, 3, false}, {t, t, 3, false}, {t, t, 4, true},  {t, f, 4, false},
        {t, f, 5, true},  {f, t, 5, false}, {f, f, 6, true},  {f, t, 6, false}, {t, f, 1, true},
        {t, t, 0, true},  {t, f, 0, false},
    };
    for (auto r : rows) {
        raised e = run_caught([&] { EXPECT_EQ(actions::compare(&r.a, &r.b, r.code), r.expected); });
        EXPECT_EQ(e.throw_code, 0u) << "code " << r.code;
    }
    // Logic against another type stays incomparable for the orderings.
    cell one = integer_cell(1);
    raised e = run_caught([&] { actions::compare(&t, &one, 3); });
    EXPECT_EQ(e.error_code, error_catalogue::code_of(err::script_invalid_compare));
}

TEST_F(SimpleTypes, BitwiseActionsCombineThePayloads) {
    const struct {
        action a;
        uint32_t left, right, result;
    } rows[] = {
        {ACTION_AND_T, 1, 1, 1}, {ACTION_AND_T, 1, 0, 0}, {ACTION_AND_T, 0, 1, 0}, {ACTION_AND_T, 0, 0, 0},
        {ACTION_OR_T, 1, 1, 1},  {ACTION_OR_T, 1, 0, 1},  {ACTION_OR_T, 0, 1, 1},  {ACTION_OR_T, 0, 0, 0},
        {ACTION_XOR_T, 1, 1, 0}, {ACTION_XOR_T, 1, 0, 1}, {ACTION_XOR_T, 0, 1, 1}, {ACTION_XOR_T, 0, 0, 0},
    };
    for (const auto& r : rows) {
        SetUp();
        cell result = call_bitwise(r.a, logic_cell(r.left), logic_cell(r.right));
        EXPECT_TRUE(result.is(TYPE_LOGIC));
        EXPECT_EQ(result.w1, r.result) << action_names[r.a - 1] << " " << r.left << " " << r.right;
        // The result is written into the first argument's slot.
        EXPECT_EQ(stack::result_slot()->w1, r.result);
    }
}

TEST_F(SimpleTypes, BitwiseActionsWithANonLogicOperandRaiseExpectArg) {
    const int expect_arg = error_catalogue::code_of(err::script_expect_arg);
    ASSERT_EQ(expect_arg, 305);
    cell function_word{TYPE_WORD, 0, 77, 0xFFFFFFFF};
    const struct {
        action a;
        cell right;
    } rows[] = {
        {ACTION_AND_T, integer_cell(1)},
        {ACTION_OR_T, none_cell},
        {ACTION_XOR_T, number_cell(TYPE_FLOAT, 1.0)},
    };
    for (const auto& r : rows) {
        SetUp();
        raised e = run_caught([&] {
            stack::push_call_frame(&function_word);
            call_bitwise(r.a, logic_cell(1), r.right);
        });
        EXPECT_EQ(e.throw_code, uint32_t(THROW_ERROR));
        EXPECT_EQ(e.error_code, expect_arg);
        // The called function's word, then the offending operand's datatype.
        EXPECT_TRUE(e.arg1.is(TYPE_WORD));
        EXPECT_EQ(e.arg1.w2, 77u);
        EXPECT_TRUE(e.arg2.is(TYPE_DATATYPE));
        EXPECT_EQ(e.arg2.w1, uint32_t(r.right.type())) << action_names[r.a - 1];
    }
}

TEST_F(SimpleTypes, ComplementFlipsThePayload) {
    auto complement = handler_of<ACTION_COMPLEMENT>(TYPE_LOGIC);
    cell v = logic_cell(1);
    EXPECT_EQ(complement(&v)->w1, 0u);
    EXPECT_EQ(complement(&v)->w1, 1u);
    EXPECT_TRUE(v.is(TYPE_LOGIC));
}

TEST_F(SimpleTypes, RandomDrawsAFairCoinAndSeedsFromThePayload) {
    auto random_action = handler_of<ACTION_RANDOM>(TYPE_LOGIC);
    // The draws of seed 7 are above 0x3FFFFFFF exactly where these are 1.
    random::seed(7);
    const uint32_t expected[] = {0, 1, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1};
    for (uint32_t e : expected) {
        cell v = logic_cell(0);
        cell* r = random_action(&v, false, false, false);
        EXPECT_EQ(r->w1, e);
        EXPECT_TRUE(r->is(TYPE_LOGIC));
    }
    // random/seed true seeds with 1 and answers unset.
    cell t = logic_cell(1);
    EXPECT_TRUE(random_action(&t, true, false, false)->is(TYPE_UNSET));
    EXPECT_EQ(random::next(), 4194449);
    cell f = logic_cell(0);
    random_action(&f, true, false, false);
    EXPECT_EQ(random::next(), 0);

    // A secure draw leaves the generator alone.
    random::seed(7);
    int position = random::position();
    std::set<uint32_t> seen;
    for (int i = 0; i < 64; ++i) {
        cell v = logic_cell(0);
        seen.insert(random_action(&v, false, true, false)->w1);
    }
    EXPECT_EQ(random::position(), position);
    EXPECT_EQ(seen, (std::set<uint32_t>{0, 1}));
}

TEST_F(SimpleTypes, BuildersWriteWholeCells) {
    cell* block = stack::push_slot();
    block::make_in(block, 4);
    datatype::make_at_tail(block, TYPE_STRING);
    unset::make_at_tail(block);
    none::make_at_tail(block);
    logic::make_at_tail(block, 1);
    ASSERT_EQ(block::rest_length(block), 4);
    const cell expected[] = {datatype_cell(TYPE_STRING), unset_cell, none_cell, logic_cell(1)};
    for (int i = 0; i < 4; ++i) {
        const cell* c = block::get_cell(block, i);
        EXPECT_EQ(c->header, expected[i].header);
        EXPECT_EQ(c->w1, expected[i].w1);
    }

    cell* d = datatype::push(TYPE_MAP);
    EXPECT_EQ(stack::last_slot(), d);
    EXPECT_TRUE(d->is(TYPE_DATATYPE));
    EXPECT_EQ(d->w1, uint32_t(TYPE_MAP));
    EXPECT_TRUE(unset::push()->is(TYPE_UNSET));
    EXPECT_TRUE(none::push()->is(TYPE_NONE));
    cell* l = logic::push(0);
    EXPECT_TRUE(l->is(TYPE_LOGIC));
    EXPECT_EQ(logic::get_value(l), 0u);

    // The result setters overwrite the cell at args_base.
    *stack::result_slot() = integer_cell(9);
    logic::set_result(1);
    EXPECT_EQ(stack::result_slot()->header, uint32_t(TYPE_LOGIC));
    EXPECT_EQ(stack::result_slot()->w1, 1u);
    none::set_result();
    EXPECT_EQ(stack::result_slot()->header, uint32_t(TYPE_NONE));
    unset::set_result();
    EXPECT_EQ(stack::result_slot()->header, uint32_t(TYPE_UNSET));
}

TEST_F(SimpleTypes, TruthTests) {
    const struct {
        cell value;
        int truth;
    } rows[] = {
        {none_cell, 0},          {logic_cell(0), 0},       {logic_cell(2), 0},  // only payload 1 is true
        {logic_cell(1), 1},      {integer_cell(0), 1},     {unset_cell, 1},
        {datatype_cell(TYPE_NONE), 1},
    };
    for (auto r : rows) {
        EXPECT_EQ(logic::is_true(&r.value, false, nullptr), r.truth) << describe(r.value);

        // The result slot.
        SetUp();
        *stack::push_slot() = r.value;
        EXPECT_EQ(logic::is_result_false(), 1 - r.truth) << describe(r.value);
        if (!r.value.is(TYPE_UNSET)) {
            EXPECT_EQ(logic::is_result_true(), r.truth) << describe(r.value);
        }

        // The last value: the cell below the top, whatever the result slot holds.
        cell other = r.truth ? none_cell : logic_cell(1);
        *stack::result_slot() = other;
        *stack::push_slot() = r.value;
        EXPECT_EQ(logic::is_last_true(), r.truth) << describe(r.value);
        EXPECT_EQ(logic::is_last_false(), 1 - r.truth) << describe(r.value);
    }

    // A frame that pushed nothing reads its result slot.
    SetUp();
    *stack::push_slot() = logic_cell(1);
    stack::push_call_frame(nullptr);
    *stack::result_slot() = none_cell;
    EXPECT_EQ(stack::state.args_top, stack::state.args_base);
    EXPECT_EQ(logic::is_last_true(), 0);
    EXPECT_EQ(logic::is_last_false(), 1);
}

TEST_F(SimpleTypes, TruthTestsOnUnsetRaiseWhenAsked) {
    cell argument = integer_cell(42);
    raised e = run_caught([&] { logic::is_true(&unset_cell, true, &argument); });
    EXPECT_EQ(e.error_code, error_catalogue::code_of(err::script_no_value));
    EXPECT_TRUE(e.arg1.is(TYPE_INTEGER));
    EXPECT_EQ(e.arg1.w2, 42u);

    e = run_caught([&] {
        *stack::push_slot() = unset_cell;
        logic::is_result_true();
    });
    EXPECT_EQ(e.error_code, error_catalogue::code_of(err::script_no_return));

    // Without the check flag, and in the false test, unset is simply true.
    e = run_caught([&] {
        EXPECT_EQ(logic::is_true(&unset_cell, false, &argument), 1);
        *stack::push_slot() = unset_cell;
        EXPECT_EQ(logic::is_result_false(), 0);
    });
    EXPECT_EQ(e.throw_code, 0u);
}

}  // namespace
}  // namespace zor
