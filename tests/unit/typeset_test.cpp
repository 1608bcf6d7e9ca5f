// typeset!: building from values and type blocks, membership, set operations, comparison
// and the "make typeset! [...]" text with its budget and /only form.
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/errors/raise.h"
#include "tests/unit/scalar_fixture.h"

namespace zor {
namespace {

using namespace scalar_testing;

cell typeset_of(std::initializer_list<type_id> types) {
    cell t{};
    typeset::clear(&t);
    for (type_id id : types) typeset::add(&t, id);
    return t;
}

class Typeset : public ScalarTest {};

TEST_F(Typeset, BitLayoutIsTheCellBytes) {
    // Id t is bit 0x80 >> (t & 7) of payload byte t >> 3, byte 0 the low byte of word 1.
    const type_id ids[] = {TYPE_DATATYPE, TYPE_UNSET, TYPE_INTEGER, TYPE_TRIPLE, TYPE_OBJECT, TYPE_IMAGE, TYPE_EVENT};
    for (type_id id : ids) {
        cell t = typeset_of({id});
        SCOPED_TRACE(int(id));
        uint8_t bytes[12];
        std::memcpy(bytes, &t.w1, 4);
        std::memcpy(bytes + 4, &t.w2, 4);
        std::memcpy(bytes + 8, &t.w3, 4);
        for (int b = 0; b < 12; ++b) EXPECT_EQ(bytes[b], b == (id >> 3) ? (0x80 >> (id & 7)) : 0) << b;
        EXPECT_TRUE(typeset::has(&t, id));
        // The argument checks of the natives read the same bits.
        EXPECT_TRUE(raise::typeset_has(&t, id));
        // Only registered ids are counted.
        EXPECT_EQ(typeset::count(&t), id <= type_registry::max_type_id ? 1 : 0);
    }
}

TEST_F(Typeset, MakeFromBlocks) {
    cell* number_word = push_word("number-types!");
    cell number = typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    word::set_value(number_word, &number);
    cell* bad_word = push_word("not-a-type");
    cell one = int_cell(1);
    word::set_value(bad_word, &one);
    const struct {
        const char* what;
        std::vector<element> values;
        int error;
        const char* mold;
    } rows[] = {
        {"[float! integer!]", {datatype_cell(TYPE_FLOAT), datatype_cell(TYPE_INTEGER)}, NO_ERROR,
         "make typeset! [integer! float!]"},
        {"[]", {}, NO_ERROR, "make typeset! []"},
        {"[number-types! time!]", {number_word, datatype_cell(TYPE_TIME)}, NO_ERROR,
         "make typeset! [integer! float! percent! time!]"},
        {"[typeset]", {typeset_of({TYPE_PAIR, TYPE_BLOCK})}, NO_ERROR, "make typeset! [block! pair!]"},
        {"[integer! 3]", {datatype_cell(TYPE_INTEGER), int_cell(3)}, code(err::script_invalid_arg), nullptr},
        {"[not-a-type]", {bad_word}, code(err::script_invalid_arg), nullptr},
    };
    auto make = handler_of<ACTION_MAKE>(TYPE_TYPESET);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        outcome o = run([&] {
            cell proto = datatype_cell(TYPE_TYPESET);
            cell* result = stack::push_copy(&proto);
            return make(result, push_block(r.values), TYPE_TYPESET);
        });
        EXPECT_EQ(o.error, r.error);
        if (r.error == code(err::script_invalid_arg)) { EXPECT_EQ(o.arg1.type(), TYPE_INTEGER); }
        if (r.error != NO_ERROR) continue;
        EXPECT_EQ(o.value.type(), TYPE_TYPESET);
        EXPECT_EQ(mold(o.value).text, r.mold);
        EXPECT_EQ(form(o.value).text, r.mold);
    }
    cell ts = typeset_of({TYPE_LOGIC});
    for (action a : {ACTION_MAKE, ACTION_TO}) {
        outcome same = call_make(a, TYPE_TYPESET, ts);
        EXPECT_EQ(same.error, NO_ERROR);
        EXPECT_EQ(same.value.w1, ts.w1);
        outcome bad = call_make(a, TYPE_TYPESET, int_cell(3));
        EXPECT_EQ(bad.error, code(err::script_bad_to_arg));
        EXPECT_EQ(bad.arg1.w1, TYPE_TYPESET);
    }
}

TEST_F(Typeset, FillFromTypeBlock) {
    cell* number_word = push_word("number-kinds!");
    cell number = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
    word::set_value(number_word, &number);
    cell* word_word = push_word("a-word-value");
    word::set_value(word_word, push_word("anything"));
    cell* string_word = push_word("a-string-value");
    word::set_value(string_word, string::push_empty());
    const struct {
        const char* what;
        std::vector<element> values;
        int error;
        std::vector<type_id> types;
    } rows[] = {
        {"[block! number-kinds!]", {datatype_cell(TYPE_BLOCK), number_word}, NO_ERROR,
         {TYPE_BLOCK, TYPE_INTEGER, TYPE_FLOAT}},
        {"[a-word-value] gives object!", {word_word}, NO_ERROR, {TYPE_OBJECT}},
        {"[integer! [nested]] skips blocks", {datatype_cell(TYPE_INTEGER), push_block({int_cell(1)})}, NO_ERROR,
         {TYPE_INTEGER}},
        {"[typeset]", {typeset_of({TYPE_PAIR})}, NO_ERROR, {TYPE_PAIR}},
        {"[3]", {int_cell(3)}, code(err::script_invalid_type_spec), {}},
        {"[a-string-value]", {string_word}, code(err::script_invalid_type_spec), {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        cell* target = push_block({});
        cell* spec = push_block(r.values);
        outcome o = run([&] {
            typeset::fill_from_block(target, spec);
            return target;
        });
        EXPECT_EQ(o.error, r.error);
        if (r.error != NO_ERROR) continue;
        ASSERT_EQ(block::rest_length(target), 1);
        cell made = *block::get_cell(target, 0);
        EXPECT_EQ(made.type(), TYPE_TYPESET);
        cell expected = typeset_of({});
        for (type_id t : r.types) typeset::add(&expected, t);
        EXPECT_EQ(made.w1, expected.w1);
        EXPECT_EQ(made.w2, expected.w2);
        EXPECT_EQ(made.w3, expected.w3);
    }
}

TEST_F(Typeset, FindAndDefaultArgumentTypes) {
    cell t = typeset_of({TYPE_INTEGER, TYPE_STRING});
    auto find = handler_of<ACTION_FIND>(TYPE_TYPESET);
    auto look = [&](cell value) {
        return run([&] {
            cell* v = stack::push_copy(&value);
            return find(&t, v, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        });
    };
    EXPECT_EQ(look(datatype_cell(TYPE_INTEGER)).value.w1, 1u);
    EXPECT_EQ(look(datatype_cell(TYPE_STRING)).value.w1, 1u);
    EXPECT_EQ(look(datatype_cell(TYPE_FLOAT)).value.w1, 0u);
    outcome bad = look(int_cell(3));
    EXPECT_EQ(bad.error, code(err::script_invalid_arg));
    EXPECT_EQ(bad.arg1.type(), TYPE_INTEGER);

    cell* b = push_block({});
    typeset::append_default_arg_types(b);
    cell all = *block::get_cell(b, 0);
    for (int id = 0; id < typeset::BIT_COUNT; ++id) EXPECT_EQ(typeset::has(&all, id), id != TYPE_UNSET) << id;
    typeset::append_to_block(b, 1, 2, 3);
    EXPECT_EQ(block::get_cell(b, 1)->type(), TYPE_TYPESET);
    EXPECT_EQ(block::get_cell(b, 1)->w3, 3u);
}

TEST_F(Typeset, SetOperations) {
    const cell a = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
    const cell b = typeset_of({TYPE_FLOAT, TYPE_STRING});
    const struct {
        int op;
        cell second;
        std::vector<type_id> result;
    } rows[] = {
        {5, b, {TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING}},
        {9, datatype_cell(TYPE_PAIR), {TYPE_INTEGER, TYPE_FLOAT, TYPE_PAIR}},  // union adds the datatype
        {6, b, {TYPE_FLOAT}},
        {10, datatype_cell(TYPE_INTEGER), {TYPE_INTEGER}},
        {7, b, {TYPE_INTEGER, TYPE_STRING}},
        {12, b, {TYPE_INTEGER, TYPE_STRING}},
        {11, b, {TYPE_INTEGER}},
        {8, none_cell, {TYPE_INTEGER, TYPE_FLOAT}},  // unique: only the first argument
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.op);
        outcome o = run([&] {
            stack::push_copy(&a);
            if (r.op != 8) stack::push_copy(&r.second);
            return typeset::apply_set_op(r.op);
        });
        ASSERT_EQ(o.error, NO_ERROR);
        cell expected = typeset_of({});
        for (type_id t : r.result) typeset::add(&expected, t);
        EXPECT_EQ(o.value.type(), TYPE_TYPESET);
        EXPECT_EQ(o.value.w1, expected.w1);
        EXPECT_EQ(o.value.w2, expected.w2);
        EXPECT_EQ(o.value.w3, expected.w3);
    }
    // The actions and~, or~, xor~ are the same operations.
    EXPECT_EQ(call_simple(ACTION_OR_T, a, b).value.w1, typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING}).w1);
    EXPECT_EQ(call_simple(ACTION_AND_T, a, b).value.w1, typeset_of({TYPE_FLOAT}).w1);
    EXPECT_EQ(call_simple(ACTION_XOR_T, a, b).value.w1, typeset_of({TYPE_INTEGER, TYPE_STRING}).w1);
    outcome bad = call_simple(ACTION_AND_T, a, int_cell(1));
    EXPECT_EQ(bad.error, code(err::script_invalid_arg));
    EXPECT_EQ(bad.arg1.type(), TYPE_INTEGER);
}

TEST_F(Typeset, ComplementAndCompare) {
    cell empty = typeset_of({});
    handler_of<ACTION_COMPLEMENT>(TYPE_TYPESET)(&empty);
    EXPECT_EQ(empty.w1, 0xFFFFFFFFu);  // id 0 and the ids above the highest included
    EXPECT_EQ(empty.w3, 0xFFFFFFFFu);
    EXPECT_EQ(typeset::count(&empty), type_registry::max_type_id);
    // Its text lists every registered type in id order.
    std::string expected = "make typeset! [";
    for (int id = 1; id <= type_registry::max_type_id; ++id) {
        if (!type_registry::type_entries[id].name) continue;
        expected += type_registry::type_entries[id].name;
        expected += id == type_registry::max_type_id ? "]" : " ";
    }
    EXPECT_EQ(mold(empty).text, expected);

    const struct {
        cell left, right;
        int op, answer;
    } rows[] = {
        {typeset_of({TYPE_INTEGER}), typeset_of({TYPE_INTEGER}), 0, 0},
        {typeset_of({TYPE_INTEGER}), typeset_of({TYPE_FLOAT}), 0, 1},
        {typeset_of({TYPE_INTEGER}), typeset_of({TYPE_FLOAT}), 1, 1},
        {typeset_of({TYPE_INTEGER}), typeset_of({TYPE_INTEGER}), 2, 0},
        {typeset_of({TYPE_INTEGER}), typeset_of({TYPE_INTEGER}), 9, 0},
        {typeset_of({TYPE_INTEGER}), typeset_of({TYPE_INTEGER}), 12, 0},
        // Bits beyond the registered ids count for equality.
        {typeset_of({TYPE_INTEGER, static_cast<type_id>(90)}), typeset_of({TYPE_INTEGER}), 0, 1},
        // Sort order by the number of types.
        {typeset_of({TYPE_PAIR}), typeset_of({TYPE_INTEGER, TYPE_FLOAT}), 7, -1},
        {typeset_of({TYPE_PAIR, TYPE_TIME}), typeset_of({TYPE_INTEGER, TYPE_FLOAT}), 8, 0},
        {typeset_of({TYPE_PAIR, TYPE_TIME}), typeset_of({TYPE_INTEGER}), 7, 1},
        {typeset_of({TYPE_PAIR}), typeset_of({TYPE_INTEGER}), 3, -2},
        {typeset_of({TYPE_PAIR}), datatype_cell(TYPE_PAIR), 0, -2},
    };
    for (const auto& r : rows) {
        cell left = r.left, right = r.right;
        EXPECT_EQ(actions::dispatch_compare(&left, &right, r.op), r.answer) << r.op;
    }
}

TEST_F(Typeset, TextOnlyAndBudget) {
    cell t = typeset_of({TYPE_FLOAT, TYPE_INTEGER});
    text_result plain = mold(t, false, false, 100);
    EXPECT_EQ(plain.text, "make typeset! [integer! float!]");
    EXPECT_EQ(plain.budget, 100 - static_cast<int>(plain.text.size()));
    text_result only = mold(t, false, true, 100);
    EXPECT_EQ(only.text, "integer! float!");
    EXPECT_EQ(only.budget, 100 - static_cast<int>(only.text.size()));
    text_result empty = mold(typeset_of({}), false, false, 100);
    EXPECT_EQ(empty.text, "make typeset! []");
    EXPECT_EQ(empty.budget, 84);

    // /only with no type writes nothing and takes nothing back from earlier output.
    cell* output = string::push_empty();
    string::append_c_string(output, "abc");
    cell none_set = typeset_of({});
    EXPECT_EQ(typeset::serialize(&none_set, output, true, nullptr, 50), 50);
    EXPECT_EQ(string::to_utf8(output), "abc");
    string::append_c_string(output, " ");
    cell one = typeset_of({TYPE_LOGIC});
    EXPECT_EQ(typeset::serialize(&one, output, true, nullptr, 50), 44);
    EXPECT_EQ(string::to_utf8(output), "abc logic!");

    // With a part limit the walk stops once the budget has gone below 0.
    cell many = typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_PAIR, TYPE_TIME});
    cell* cut = string::push_empty();
    cell part = int_cell(20);
    int left = typeset::serialize(&many, cut, false, &part, 20);
    EXPECT_EQ(string::to_utf8(cut), "make typeset! [integer!]");
    EXPECT_EQ(left, 20 - 15 - 9);
    // Without one, everything is written whatever the budget.
    cell* full = string::push_empty();
    typeset::serialize(&many, full, false, nullptr, 20);
    EXPECT_EQ(string::to_utf8(full), "make typeset! [integer! float! pair! time!]");
}

TEST_F(Typeset, ToBlockAndPush) {
    cell t = typeset_of({TYPE_TIME, TYPE_INTEGER, static_cast<type_id>(0), static_cast<type_id>(95)});
    cell* b = stack::push_slot();
    typeset::to_block(&t, b);
    ASSERT_EQ(b->type(), TYPE_BLOCK);
    ASSERT_EQ(block::rest_length(b), 2);
    EXPECT_EQ(block::get_cell(b, 0)->type(), TYPE_WORD);
    EXPECT_EQ(block::get_cell(b, 0)->w2, type_registry::type_entries[TYPE_INTEGER].word.w2);
    EXPECT_EQ(block::get_cell(b, 1)->w2, type_registry::type_entries[TYPE_TIME].word.w2);
    cell* pushed = typeset::push(&t);
    EXPECT_EQ(pushed->w1, t.w1);
    EXPECT_EQ(stack::last_slot(), pushed);
}

}  // namespace
}  // namespace zor
