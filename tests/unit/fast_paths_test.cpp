// Operator fast paths: every member against the full action as its oracle (same value,
// same type, same error) over a table of operands that covers the inline cases, their
// overflow edges and the fallbacks; and the edge cases of picks and series queries.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/fast-paths.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "tests/unit/code_notation.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using testing::mold_of;
using testing::read_code;

// The mold and type of the value an action gives, or "error N" for the error it raises.
std::string outcome(const std::function<cell*()>& run) {
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        cell* result = run();
        return std::string(type_registry::type_entries[result->type()].name) + " " + mold_of(result);
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        return "error " + std::to_string(error::code_of(stack::last_slot()));
    }
}

// The full action of an arithmetic code on two operands, in a call frame of its own.
cell* full_math(int op, const cell& left, const cell& right) {
    cell* result = stack::state.args_top;
    stack::push_call_frame(nullptr);
    stack::push_copy(&left);
    stack::push_copy(&right);
    switch (op) {
        case integer::OP_ADD: actions::entry_add(); break;
        case integer::OP_SUBTRACT: actions::entry_subtract(); break;
        case integer::OP_MULTIPLY: actions::entry_multiply(); break;
        case integer::OP_OR: actions::entry_or_t(); break;
        case integer::OP_AND: actions::entry_and_t(); break;
        case integer::OP_XOR: actions::entry_xor_t(); break;
        default: ADD_FAILURE() << op;
    }
    stack::pop_frame();
    return result;
}

cell* full_compare(int op, const cell& left, const cell& right) {
    cell* result = stack::state.args_top;
    stack::push_call_frame(nullptr);
    stack::push_copy(&left);
    stack::push_copy(&right);
    actions::compare_to_logic(op);
    stack::pop_frame();
    return result;
}

cell int_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
cell float_cell(double v) {
    cell c;
    float_::init_cell(&c, v);
    return c;
}

class FastPathsTest : public testing::interpreter_fixture {
protected:
    std::vector<cell> operands() {
        std::vector<cell> v;
        for (int32_t i : {0, 1, -1, 7, 46341, 65536, -65536, 2147483647, -2147483647 - 1}) v.push_back(int_cell(i));
        for (double d : {0.5, -2.25, 1e308, -0.0, 3.0}) v.push_back(float_cell(d));
        v.push_back(cell{TYPE_CHAR, 0, 65, 0});
        v.push_back(cell{TYPE_NONE, 0, 0, 0});
        cell percent = float_cell(0.25);
        cell::set_type(&percent, TYPE_PERCENT);
        v.push_back(percent);
        return v;
    }
};

TEST_F(FastPathsTest, ArithmeticMatchesTheFullActionForEveryOperandPair) {
    const int codes[] = {integer::OP_ADD, integer::OP_SUBTRACT, integer::OP_MULTIPLY,
                         integer::OP_OR,  integer::OP_AND,      integer::OP_XOR};
    std::vector<cell> values = operands();
    for (int op : codes) {
        for (const cell& a : values) {
            for (const cell& b : values) {
                reset_stack();
                std::string expected = outcome([&] { return full_math(op, a, b); });
                std::string fast = outcome([&] { return actions::fast_math(op, nullptr, &a, &b); });
                EXPECT_EQ(fast, expected) << op << ": " << mold_of(&a) << " " << mold_of(&b);
                // The "into" form: the left operand is the last pushed cell, replaced.
                std::string into = outcome([&] {
                    cell* left = stack::push_copy(&a);
                    cell* result = actions::fast_math_into(op, nullptr, &b);
                    EXPECT_EQ(result, left);
                    EXPECT_EQ(stack::state.args_top, left + 1);
                    return result;
                });
                EXPECT_EQ(into, expected) << op << ": " << mold_of(&a) << " " << mold_of(&b);
                if (b.is(TYPE_INTEGER)) {
                    std::string immediate = outcome(
                        [&] { return actions::fast_math_int(op, nullptr, &a, integer::read_cell(&b)); });
                    EXPECT_EQ(immediate, expected) << op << ": " << mold_of(&a) << " " << mold_of(&b);
                }
            }
        }
    }
}

TEST_F(FastPathsTest, ComparisonsMatchTheFullActionForEveryOperandPair) {
    std::vector<cell> values = operands();
    for (int op = 0; op <= 6; ++op) {
        for (const cell& a : values) {
            for (const cell& b : values) {
                reset_stack();
                std::string expected = outcome([&] { return full_compare(op, a, b); });
                std::string fast = outcome([&] { return actions::fast_compare(op, nullptr, &a, &b); });
                EXPECT_EQ(fast, expected) << op << ": " << mold_of(&a) << " " << mold_of(&b);
                if (expected.rfind("error", 0) == 0) continue;
                const bool truth = expected == "logic! true";
                cell* top = stack::state.args_top;
                EXPECT_EQ(actions::fast_compare_truth(op, nullptr, &a, &b), truth);
                // 1 when the truth differs from the expected value: 0 gives the truth, 1 its
                // negation.
                EXPECT_EQ(actions::fast_compare_test(op, nullptr, &a, &b, 0), truth ? 1 : 0);
                EXPECT_EQ(actions::fast_compare_test(op, nullptr, &a, &b, 1), truth ? 0 : 1);
                EXPECT_EQ(stack::state.args_top, top) << "the truth members leave nothing";
                if (b.is(TYPE_INTEGER)) {
                    const int32_t n = integer::read_cell(&b);
                    EXPECT_EQ(mold_of(actions::fast_compare_int(op, nullptr, &a, n)), truth ? "true" : "false");
                    EXPECT_EQ(actions::fast_compare_int_truth(op, nullptr, &a, n), truth);
                    EXPECT_EQ(actions::fast_compare_int_test(op, nullptr, &a, n, 1), truth ? 0 : 1);
                    stack::push_copy(&a);
                    EXPECT_EQ(mold_of(actions::fast_compare_int_into(op, nullptr, n)), truth ? "true" : "false");
                }
                stack::push_copy(&a);
                EXPECT_EQ(mold_of(actions::fast_compare_cells_into(op, nullptr, &b)), truth ? "true" : "false");
            }
        }
    }
}

// The native or action of a table index on two operands, in a call frame of its own.
cell* full_operator(type_id source, int index, const cell& left, const cell& right) {
    const int32_t absent[4] = {-1, -1, -1, -1};
    cell* result = stack::state.args_top;
    stack::push_call_frame(nullptr);
    stack::push_copy(&left);
    stack::push_copy(&right);
    if (source == TYPE_NATIVE) natives::call(index, absent, 0, true);
    else actions::entry(index)(absent);
    stack::pop_frame();
    return result;
}

TEST_F(FastPathsTest, EveryOperatorCodeComputesWhatItsSourceDoes) {
    // Each table index of both source types that has an inline code: wherever the
    // interpreter's inline core takes the operands, it gives the native's or action's own
    // answer (divide, remainder and power included, with their float results).
    std::vector<cell> values = operands();
    for (type_id source : {TYPE_NATIVE, TYPE_ACTION}) {
        for (int index = -1; index <= fast_paths::OPERATOR_ROW; ++index) {
            const int code = fast_paths::operator_code(source, index);
            if (code < 0) continue;
            for (const cell& a : values) {
                for (const cell& b : values) {
                    reset_stack();
                    cell* left = stack::push_copy(&a);
                    if (!fast_paths::run_inline(code, left, &b)) continue;
                    const std::string fast = std::string(type_registry::type_entries[left->type()].name) + " " +
                                             mold_of(left);
                    const std::string expected = outcome([&] { return full_operator(source, index, a, b); });
                    EXPECT_EQ(fast, expected) << index << ": " << mold_of(&a) << " " << mold_of(&b);
                }
            }
        }
    }
    EXPECT_LT(fast_paths::operator_code(TYPE_FUNCTION, 1), 0) << "only natives and actions have inline codes";
}

TEST_F(FastPathsTest, TheFallbackFrameNamesTheOperation) {
    // and~ of two floats takes the full action, whose error names the operation's word.
    cell* word = word::push_global(symbol::make("and~"));
    cell a = float_cell(1.0), b = float_cell(2.0);
    stack::stack_guard guard;
    stack::push_try_frame();
    try {
        actions::fast_math(integer::OP_AND, word, &a, &b);
        ADD_FAILURE() << "and~ of floats raised nothing";
    } catch (const zor_throw& thrown) {
        ASSERT_EQ(thrown.code, THROW_ERROR);
        cell* e = stack::last_slot();
        EXPECT_EQ(error::code_of(e), error_catalogue::code_of(err::script_expect_arg));
        EXPECT_EQ(mold_of(error::field_of(e, error::FIELD_WHERE)), "and~");
    }
}

TEST_F(FastPathsTest, PicksAndSeriesQueriesOfBlocks) {
    cell* block = read_code("10 20 30");
    block->w1 = 1;  // at 20
    struct pick_row {
        int32_t index;
        const char* expected;
    };
    for (const pick_row& r : {pick_row{1, "20"}, {2, "30"}, {3, "none"}, {0, "none"}, {-1, "none"}}) {
        EXPECT_EQ(mold_of(actions::fast_pick(block, r.index, nullptr)), r.expected) << r.index;
    }
    struct query_row {
        int32_t position;
        int query;
        const char* expected;
    };
    const query_row rows[] = {
        {1, actions::QUERY_LENGTH, "2"}, {5, actions::QUERY_LENGTH, "0"},   {1, actions::QUERY_INDEX, "2"},
        {0, actions::QUERY_HEAD_Q, "true"}, {1, actions::QUERY_HEAD_Q, "false"}, {3, actions::QUERY_TAIL_Q, "true"},
        {2, actions::QUERY_TAIL_Q, "false"}, {1, actions::QUERY_NEXT, "@2"}, {3, actions::QUERY_NEXT, "@3"},
        {0, actions::QUERY_BACK, "@0"},   {2, actions::QUERY_BACK, "@1"},   {2, actions::QUERY_HEAD, "@0"},
        {1, actions::QUERY_TAIL, "@3"},
    };
    for (const query_row& r : rows) {
        block->w1 = static_cast<uint32_t>(r.position);
        cell* answer = actions::fast_series_query(block, r.query, nullptr);
        std::string text = answer->is(TYPE_BLOCK) ? "@" + std::to_string(answer->w1) : mold_of(answer);
        EXPECT_EQ(text, r.expected) << r.position << " " << r.query;
    }
    // Other types go through the full actions.
    cell* text = stack::push_slot();
    string::load_onto_stack(unicode::input_bytes::at("abc"), 3, string::ENCODING_UTF8);
    *text = *stack::last_slot();
    EXPECT_EQ(mold_of(actions::fast_series_query(text, actions::QUERY_LENGTH, nullptr)), "3");
    EXPECT_EQ(mold_of(actions::fast_pick(text, 2, nullptr)), "#\"b\"");
}

}  // namespace
}  // namespace zor
