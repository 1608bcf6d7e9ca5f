// series!: the navigation and plain modifying actions every series type inherits, called
// as the action entries call them (series in the result slot, converted refinements).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/block_notation.h"

namespace zor {
namespace {

using testing::build;
using testing::code_of;
using testing::describe;
using testing::raised_code;

cell* push_integer(int32_t v) { return integer::make_in(stack::push_slot(), v); }
cell* push_pair(int32_t x, int32_t y) {
    cell* slot = stack::push_slot();
    *slot = cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    return slot;
}
cell* push_char(uint32_t c) {
    cell* slot = stack::push_slot();
    *slot = cell{TYPE_CHAR, 0, c, 0};
    return slot;
}
cell* push_string(const char* utf8) {
    return string::load_onto_stack(unicode::input_bytes(reinterpret_cast<const uint8_t*>(utf8)),
                                   static_cast<int64_t>(std::strlen(utf8)), string::ENCODING_UTF8);
}
// A series of raw units of a type that has no module yet (binary!, vector!).
cell* push_units(type_id type, uint32_t unit, const void* bytes, int64_t count, uint32_t extra) {
    cell* slot = stack::push_slot();
    cell::init_unset(slot);
    node_ref node = memory::alloc_series(std::max<int64_t>(count, 1), unit, 0);
    memory::series_buffer* b = memory::buffer_of(node);
    std::memcpy(b->head, bytes, static_cast<size_t>(count * unit));
    b->tail = b->head + count * unit;
    *slot = cell{type, 0, node, extra};
    return slot;
}
std::string bytes_of(const cell* s) {
    memory::series_buffer* b = memory::buffer_of(s->w2);
    std::string out;
    for (std::byte* p = b->head; p < b->tail; ++p) out += std::to_string(int(*p)) + " ";
    return out;
}

class Series : public testing::collected_fixture {};

// --- Navigation --------------------------------------------------------------------------------------

struct navigation_case {
    const char* name;
    action act;
    int32_t start;
    bool has_argument;
    int32_t argument;
    const char* expected;  // describe() of the result
};

TEST_F(Series, NavigationKeepsIndexesWithinTheSeries) {
    const navigation_case cases[] = {
        {"at 1", ACTION_AT, 0, true, 1, "@0 [1 2 3 4]"},
        {"at 0 is at 1", ACTION_AT, 0, true, 0, "@0 [1 2 3 4]"},
        {"at 2 from 1", ACTION_AT, 1, true, 2, "@2 [1 2 3 4]"},
        {"at -1 is one before", ACTION_AT, 2, true, -1, "@1 [1 2 3 4]"},
        {"at past the end stops at the tail", ACTION_AT, 0, true, 10, "@4 [1 2 3 4]"},
        {"at before the head stops there", ACTION_AT, 2, true, -10, "@0 [1 2 3 4]"},
        {"skip 2", ACTION_SKIP, 1, true, 2, "@3 [1 2 3 4]"},
        {"skip -100 from 3", ACTION_SKIP, 3, true, -100, "@0 [1 2 3 4]"},
        {"skip past the tail", ACTION_SKIP, 1, true, 99, "@4 [1 2 3 4]"},
        {"skip 0", ACTION_SKIP, 2, true, 0, "@2 [1 2 3 4]"},
        {"next", ACTION_NEXT, 1, false, 0, "@2 [1 2 3 4]"},
        {"next at the tail", ACTION_NEXT, 4, false, 0, "@4 [1 2 3 4]"},
        {"back", ACTION_BACK, 2, false, 0, "@1 [1 2 3 4]"},
        {"back at the head", ACTION_BACK, 0, false, 0, "@0 [1 2 3 4]"},
        {"back from a stale index lands before the tail", ACTION_BACK, 9, false, 0, "@3 [1 2 3 4]"},
        {"head", ACTION_HEAD, 3, false, 0, "@0 [1 2 3 4]"},
        {"tail", ACTION_TAIL, 1, false, 0, "@4 [1 2 3 4]"},
        {"head? at the head", ACTION_HEAD_Q, 0, false, 0, "true"},
        {"head? after it", ACTION_HEAD_Q, 1, false, 0, "false"},
        {"tail? at the tail", ACTION_TAIL_Q, 4, false, 0, "true"},
        {"tail? past the tail", ACTION_TAIL_Q, 9, false, 0, "true"},
        {"tail? before it", ACTION_TAIL_Q, 3, false, 0, "false"},
        {"index? is 1-based", ACTION_INDEX_Q, 2, false, 0, "3"},
        {"index? is not clamped", ACTION_INDEX_Q, 9, false, 0, "10"},
    };
    for (const navigation_case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build("1 2 3 4");
        s->w1 = static_cast<uint32_t>(c.start);
        if (c.has_argument) push_integer(c.argument);
        auto h = reinterpret_cast<cell* (*)()>(actions::find_handler(s, c.act));
        cell* result = h();
        EXPECT_EQ(describe(result), c.expected);
    }
}

TEST_F(Series, LengthClampsAStaleIndex) {
    const struct {
        int32_t start;
        int expected_length;
        int32_t index_after;
    } cases[] = {{0, 4, 0}, {1, 3, 1}, {4, 0, 4}, {9, 0, 4}, {-3, 4, -3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        reset_stack();
        cell* s = build("1 2 3 4");
        s->w1 = static_cast<uint32_t>(c.start);
        EXPECT_EQ(actions::handler<ACTION_LENGTH_Q>(s)(s), c.expected_length);
        EXPECT_EQ(series::index_of(s), c.index_after);
    }
}

TEST_F(Series, ClearingThroughOneValueShortensEveryOther) {
    reset_stack();
    cell* s = build("1 2 3 4 5");
    cell* further = stack::push_copy(s);
    further->w1 = 4;
    s->w1 = 2;
    EXPECT_EQ(describe(actions::handler<ACTION_CLEAR>(s)(s)), "@2 [1 2]");
    EXPECT_EQ(actions::handler<ACTION_LENGTH_Q>(further)(further), 0);
    EXPECT_EQ(series::index_of(further), 2);
    stack::state.args_base = further;
    EXPECT_TRUE(actions::handler<ACTION_TAIL_Q>(further)()->w1);
    stack::state.args_base = stack::state.args_begin;
    // Clearing at the tail changes nothing.
    EXPECT_EQ(describe(actions::handler<ACTION_CLEAR>(s)(s)), "@2 [1 2]");
}

TEST_F(Series, NavigationRefusesAnOffsetThatIsNotAnInteger) {
    for (action a : {ACTION_AT, ACTION_SKIP}) {
        reset_stack();
        cell* s = build("1 2");
        // The try frame of raised_code opens a new argument base: the arguments follow it.
        EXPECT_EQ(raised_code([&] {
                      stack::push_copy(s);
                      stack::push_copy(&none::value);
                      reinterpret_cast<cell* (*)()>(actions::find_handler(s, a))();
                  }),
                  code_of(err::script_invalid_arg));
    }
}

// --- pick and poke --------------------------------------------------------------------------------------

TEST_F(Series, PickAnswersTheElementOrNone) {
    const struct {
        int32_t start;
        int n;
        const char* expected;
    } cases[] = {
        {1, 1, "20"}, {1, 2, "30"}, {1, 0, "none"}, {1, -1, "10"}, {1, -2, "none"}, {1, 3, "none"},
        {0, 3, "30"}, {5, 1, "none"},  // a stale index picks nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " " + std::to_string(c.n));
        reset_stack();
        cell* s = build("10 20 30");
        s->w1 = static_cast<uint32_t>(c.start);
        EXPECT_EQ(describe(actions::handler<ACTION_PICK>(s)(s, c.n, nullptr)), c.expected);
    }
}

TEST_F(Series, PokeStoresInsideTheSeriesOnly) {
    const struct {
        int32_t start;
        int n;
        const char* expected;  // the series afterwards, or "" for out-of-range
    } cases[] = {
        {1, 1, "@1 [10 99 30]"}, {1, -1, "@1 [99 20 30]"}, {0, 3, "@0 [10 20 99]"},
        {1, 0, ""}, {1, 3, ""}, {1, -2, ""}, {4, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " " + std::to_string(c.n));
        reset_stack();
        cell* s = build("10 20 30");
        s->w1 = static_cast<uint32_t>(c.start);
        cell* value = push_integer(99);
        if (*c.expected) {
            cell* result = actions::handler<ACTION_POKE>(s)(s, c.n, value);
            EXPECT_EQ(describe(result), "99");
            EXPECT_EQ(describe(s), c.expected);
        } else {
            EXPECT_EQ(raised_code([&] { actions::handler<ACTION_POKE>(s)(s, c.n, value); }),
                      code_of(err::script_out_of_range));
            s->w1 = 0;
            EXPECT_EQ(describe(s), "@0 [10 20 30]");
        }
    }
}

TEST_F(Series, PickAndPokeOfTextBytesAndNumbers) {
    // Strings hold code points: pick answers char!, poke takes only char! and widens.
    reset_stack();
    cell* s = push_string("abc");
    cell* picked = actions::handler<ACTION_PICK>(s)(s, 2, nullptr);
    EXPECT_EQ(picked->type(), TYPE_CHAR);
    EXPECT_EQ(picked->w2, uint32_t('b'));
    actions::handler<ACTION_POKE>(s)(s, 2, push_char(0x20AC));
    EXPECT_EQ(string::to_utf8(s), "a\xE2\x82\xAC" "c");
    cell* wrong = push_integer(65);
    EXPECT_EQ(raised_code([&] { actions::handler<ACTION_POKE>(s)(s, 1, wrong); }), code_of(err::script_invalid_arg));

    // binary!: integer! bytes; poke keeps the low 8 bits of an integer! or char!.
    reset_stack();
    const uint8_t bytes[] = {1, 200, 3};
    cell* b = push_units(TYPE_BINARY, 1, bytes, 3, 0);
    cell* byte = series::pick(b, 2, nullptr);
    EXPECT_EQ(byte->type(), TYPE_INTEGER);
    EXPECT_EQ(integer::read_cell(byte), 200);
    series::poke(b, 1, push_integer(0x1FF));
    series::poke(b, 3, push_char('A'));
    EXPECT_EQ(bytes_of(b), "255 200 65 ");
    cell* text = push_string("x");
    EXPECT_EQ(raised_code([&] { series::poke(b, 1, text); }), code_of(err::script_invalid_arg));

    // vector!: elements of the element type; a value of another type is refused.
    reset_stack();
    const int16_t numbers[] = {-5, 7};
    cell* v = push_units(TYPE_VECTOR, 2, numbers, 2, TYPE_INTEGER);
    EXPECT_EQ(integer::read_cell(series::pick(v, 1, nullptr)), -5);
    series::poke(v, 2, push_integer(-300));
    EXPECT_EQ(integer::read_cell(series::pick(v, 2, nullptr)), -300);
    cell* real = stack::push_slot();
    float_::init_cell(real, 1.5);
    EXPECT_EQ(raised_code([&] { series::poke(v, 1, real); }), code_of(err::script_invalid_arg));
    const double reals[] = {2.25, -0.5};
    cell* f = push_units(TYPE_VECTOR, 8, reals, 2, TYPE_FLOAT);
    cell* element = series::pick(f, 2, nullptr);
    EXPECT_EQ(element->type(), TYPE_FLOAT);
    EXPECT_EQ(float_::get(element), -0.5);
}

// --- copy -------------------------------------------------------------------------------------------

TEST_F(Series, CopyWithPart) {
    enum part_kind { NO_PART, COUNT, POSITION, PAIR };
    const struct {
        const char* name;
        int32_t start;
        part_kind kind;
        int32_t a, b;
        const char* expected;
    } cases[] = {
        {"the rest", 2, NO_PART, 0, 0, "[3 4 5]"},
        {"a count", 2, COUNT, 2, 0, "[3 4]"},
        {"a negative count copies before the index", 2, COUNT, -2, 0, "[1 2]"},
        {"a negative count past the head stops at it", 1, COUNT, -5, 0, "[1]"},
        {"a count past the tail stops at it", 1, COUNT, 100, 0, "[2 3 4 5]"},
        {"a stale index copies nothing", 9, NO_PART, 0, 0, "[]"},
        {"a position in the same series", 1, POSITION, 4, 0, "[2 3 4]"},
        {"a position before the index", 3, POSITION, 1, 0, "[2 3]"},
        {"a pair gives start and end", 1, PAIR, 2, 4, "[3 4]"},
        {"a pair with a negative start", 1, PAIR, -1, 3, "[1 2 3 4]"},
        {"a pair ending before it starts", 0, PAIR, 3, 2, "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build("1 2 3 4 5");
        s->w1 = static_cast<uint32_t>(c.start);
        cell* part = nullptr;
        if (c.kind == COUNT) part = push_integer(c.a);
        if (c.kind == POSITION) {
            part = stack::push_copy(s);
            part->w1 = static_cast<uint32_t>(c.a);
        }
        if (c.kind == PAIR) part = push_pair(c.a, c.b);
        cell* result = stack::push_slot();
        series::copy(s, result, part, false, nullptr);
        EXPECT_EQ(describe(result), std::string("@0 ") + c.expected);
    }
}

TEST_F(Series, CopyIsANewUnownedSeriesWithTheSourceMarker) {
    reset_stack();
    uint32_t collections = gc::cycle_count();
    cell* s = build("1 2 3");
    // Under ZOR_GC_TORTURE=1 the fixture lets every allocation collect.
    if (gc::torture_mode()) {
        EXPECT_GT(gc::cycle_count(), collections);
    }
    s->header |= FLAG_NEW_LINE;
    memory::buffer_of(s->w2)->flags |= memory::FLAG_OWNED;
    cell* result = stack::push_slot();
    series::copy(s, result, nullptr, false, nullptr);
    memory::buffer_of(s->w2)->flags &= ~memory::FLAG_OWNED;
    EXPECT_NE(result->w2, s->w2);
    EXPECT_EQ(memory::buffer_of(result->w2)->flags & memory::FLAG_OWNED, 0u);
    EXPECT_TRUE(result->header & FLAG_NEW_LINE);
    series::poke(result, 1, push_integer(7));
    EXPECT_EQ(describe(s), "@0 [1 2 3]");
    EXPECT_EQ(describe(result), "@0 [7 2 3]");

    // A copy made into the series' own cell (the action entries' result slot).
    reset_stack();
    cell* same = build("4 5 6");
    same->w1 = 1;
    series::copy(same, same, nullptr, false, nullptr);
    EXPECT_EQ(describe(same), "@0 [5 6]");
}

TEST_F(Series, APartInAnotherSeriesIsRefused) {
    reset_stack();
    cell* s = build("1 2 3");
    cell* other = build("1 2 3");
    other->w1 = 1;
    cell* result = stack::push_slot();
    const int invalid = code_of(err::script_invalid_refine_arg);
    EXPECT_EQ(raised_code([&] { series::copy(s, result, other, false, nullptr); }), invalid);
    EXPECT_EQ(raised_code([&] { series::remove(s, other, nullptr); }), invalid);
    EXPECT_EQ(raised_code([&] { series::reverse(s, other, nullptr); }), invalid);
    EXPECT_EQ(raised_code([&] { series::take(s, other, false, false); }), invalid);
    cell* text = push_string("12");
    EXPECT_EQ(raised_code([&] { series::copy(s, result, text, false, nullptr); }), invalid);
    EXPECT_EQ(describe(s), "@0 [1 2 3]");
}

// --- remove, reverse ----------------------------------------------------------------------------------

TEST_F(Series, RemoveWithPartAndKey) {
    enum part_kind { NO_PART, COUNT, POSITION };
    const struct {
        const char* name;
        const char* input;
        int32_t start;
        part_kind kind;
        int32_t part;
        const char* key;  // a word of the notation, or null
        const char* expected_result;
        const char* expected_series;
    } cases[] = {
        {"one at the index", "1 2 3 4 5", 1, NO_PART, 0, nullptr, "@1 [1 3 4 5]", "[1 3 4 5]"},
        {"a count", "1 2 3 4 5", 1, COUNT, 2, nullptr, "@1 [1 4 5]", "[1 4 5]"},
        {"a count of 0 leaves it", "1 2 3 4 5", 1, COUNT, 0, nullptr, "@1 [1 2 3 4 5]", "[1 2 3 4 5]"},
        {"a negative count leaves it", "1 2 3", 1, COUNT, -1, nullptr, "@1 [1 2 3]", "[1 2 3]"},
        {"a count past the tail cuts", "1 2 3 4 5", 1, COUNT, 10, nullptr, "@1 [1]", "[1]"},
        {"a position", "1 2 3 4 5", 1, POSITION, 3, nullptr, "@1 [1 4 5]", "[1 4 5]"},
        {"at the tail nothing", "1 2", 2, NO_PART, 0, nullptr, "@2 [1 2]", "[1 2]"},
        {"a key and its value", "a 1 b 2 c 3", 0, NO_PART, 0, "b", "@2 [a 1 c 3]", "[a 1 c 3]"},
        {"a key searched from the index", "b 0 a 1 b 2", 1, NO_PART, 0, "b", "@4 [b 0 a 1]", "[b 0 a 1]"},
        {"an absent key", "a 1 b 2", 0, NO_PART, 0, "z", "none", "[a 1 b 2]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build(c.input);
        s->w1 = static_cast<uint32_t>(c.start);
        cell* part = nullptr;
        if (c.kind == COUNT) part = push_integer(c.part);
        if (c.kind == POSITION) {
            part = stack::push_copy(s);
            part->w1 = static_cast<uint32_t>(c.part);
        }
        cell* key = nullptr;
        if (c.key) {
            cell* holder = build(c.key);
            key = stack::push_copy(block::get_cell(holder, 0));
        }
        cell* result = actions::handler<ACTION_REMOVE>(s)(s, part, key);
        EXPECT_EQ(describe(result), c.expected_result);
        cell* head = stack::push_copy(s);
        head->w1 = 0;
        EXPECT_EQ(testing::mold_text(head), c.expected_series);
    }
}

TEST_F(Series, ReverseWithPartAndSkip) {
    const struct {
        const char* name;
        int32_t start;
        int32_t part;  // 0: none
        bool has_skip;
        int32_t skip;
        const char* expected;  // or an error code through raised
        err error;
    } cases[] = {
        {"all", 0, 0, false, 0, "[6 5 4 3 2 1]", err::internal_not_done},
        {"from the index", 2, 0, false, 0, "[1 2 6 5 4 3]", err::internal_not_done},
        {"a part", 1, 3, false, 0, "[1 4 3 2 5 6]", err::internal_not_done},
        {"a part past the tail", 4, 9, false, 0, "[1 2 3 4 6 5]", err::internal_not_done},
        {"a negative part", 1, -2, false, 0, "[1 2 3 4 5 6]", err::internal_not_done},
        {"records of two", 0, 0, true, 2, "[5 6 3 4 1 2]", err::internal_not_done},
        {"records of three", 0, 0, true, 3, "[4 5 6 1 2 3]", err::internal_not_done},
        {"a skip equal to the count", 0, 0, true, 6, "[1 2 3 4 5 6]", err::internal_not_done},
        {"a skip not dividing the count", 0, 0, true, 4, nullptr, err::script_invalid_refine_arg},
        {"a skip of 0", 0, 0, true, 0, nullptr, err::script_out_of_range},
        {"a skip above the count", 2, 0, true, 5, nullptr, err::script_invalid_refine_arg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build("1 2 3 4 5 6");
        s->w1 = static_cast<uint32_t>(c.start);
        cell* part = c.part ? push_integer(c.part) : nullptr;
        cell* skip = c.has_skip ? push_integer(c.skip) : nullptr;
        if (c.expected) {
            cell* result = actions::handler<ACTION_REVERSE>(s)(s, part, skip);
            EXPECT_EQ(series::index_of(result), c.start);
        } else {
            EXPECT_EQ(raised_code([&] { actions::handler<ACTION_REVERSE>(s)(s, part, skip); }), code_of(c.error));
        }
        cell* head = stack::push_copy(s);
        head->w1 = 0;
        EXPECT_EQ(testing::mold_text(head), c.expected ? c.expected : "[1 2 3 4 5 6]");
    }
    reset_stack();
    cell* s = build("1 2");
    cell* text_skip = push_string("2");
    EXPECT_EQ(raised_code([&] { series::reverse(s, nullptr, text_skip); }), code_of(err::script_invalid_refine_arg));
    // Text reverses by units of any width.
    reset_stack();
    cell* text = push_string("ab\xE2\x82\xAC" "d");
    series::reverse(text, nullptr, nullptr);
    EXPECT_EQ(string::to_utf8(text), "d\xE2\x82\xAC" "ba");
}

// --- take ------------------------------------------------------------------------------------------

TEST_F(Series, TakeFromTheIndexTheTailOrBeforeTheIndex) {
    enum part_kind { NO_PART, COUNT, POSITION };
    const struct {
        const char* name;
        int32_t start;
        part_kind kind;
        int32_t part;
        bool last;
        const char* expected_result;
        const char* expected_series;
    } cases[] = {
        {"one", 0, NO_PART, 0, false, "1", "[2 3 4 5]"},
        {"one from the index", 2, NO_PART, 0, false, "3", "[1 2 4 5]"},
        {"the last", 2, NO_PART, 0, true, "5", "[1 2 3 4]"},
        {"nothing at the tail", 5, NO_PART, 0, false, "none", "[1 2 3 4 5]"},
        {"a count", 0, COUNT, 2, false, "@0 [1 2]", "[3 4 5]"},
        {"a count from the tail", 0, COUNT, 2, true, "@0 [4 5]", "[1 2 3]"},
        {"a count past the tail", 3, COUNT, 9, false, "@0 [4 5]", "[1 2 3]"},
        {"a count of 0 takes nothing", 1, COUNT, 0, false, "@0 []", "[1 2 3 4 5]"},
        {"a count of 0 with /last takes nothing", 1, COUNT, 0, true, "@0 []", "[1 2 3 4 5]"},
        {"a negative count takes before the index", 3, COUNT, -2, false, "@0 [2 3]", "[1 4 5]"},
        {"a negative count past the head", 2, COUNT, -9, false, "@0 [1 2]", "[3 4 5]"},
        {"a negative count at the head", 0, COUNT, -2, false, "@0 []", "[1 2 3 4 5]"},
        {"a negative count with /last", 3, COUNT, -2, true, "@0 []", "[1 2 3 4 5]"},
        {"a position", 1, POSITION, 3, false, "@0 [2 3]", "[1 4 5]"},
        {"a position with /last", 1, POSITION, 3, true, "@0 [4 5]", "[1 2 3]"},
        {"a position before the index", 3, POSITION, 1, false, "@0 []", "[1 2 3 4 5]"},
        {"a position at the index", 3, POSITION, 3, false, "@0 []", "[1 2 3 4 5]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build("1 2 3 4 5");
        s->w1 = static_cast<uint32_t>(c.start);
        cell* part = nullptr;
        if (c.kind == COUNT) part = push_integer(c.part);
        if (c.kind == POSITION) {
            part = stack::push_copy(s);
            part->w1 = static_cast<uint32_t>(c.part);
        }
        cell* result = actions::handler<ACTION_TAKE>(s)(s, part, false, c.last);
        EXPECT_EQ(describe(result), c.expected_result);
        cell* head = stack::push_copy(s);
        head->w1 = 0;
        EXPECT_EQ(testing::mold_text(head), c.expected_series);
    }
    reset_stack();
    cell* empty = build("");
    EXPECT_EQ(actions::handler<ACTION_TAKE>(empty)(empty, nullptr, false, false)->type(), TYPE_NONE);
    // Text: one char!, or a string of the taken characters.
    reset_stack();
    cell* text = push_string("h\xC3\xA9llo");
    cell* taken = series::take(text, nullptr, false, true);
    EXPECT_EQ(taken->type(), TYPE_CHAR);
    EXPECT_EQ(taken->w2, uint32_t('o'));
    cell* part = push_integer(2);
    cell* front = series::take(text, part, false, false);
    EXPECT_EQ(front->type(), TYPE_STRING);
    EXPECT_EQ(string::to_utf8(front), "h\xC3\xA9");
    EXPECT_EQ(string::to_utf8(text), "ll");
}

// --- move -----------------------------------------------------------------------------------------------

TEST_F(Series, MoveWithinASeries) {
    const struct {
        const char* name;
        int32_t origin;
        int32_t target;
        int32_t part;  // 0: none
        const char* expected;
    } cases[] = {
        {"one forward lands after the unit at the destination", 0, 2, 0, "[b c a d e]"},
        {"one forward to the tail", 0, 5, 0, "[b c d e a]"},
        {"one forward past the tail", 0, 9, 0, "[b c d e a]"},
        {"one backward", 3, 1, 0, "[a d b c e]"},
        {"two forward", 0, 2, 2, "[c d a b e]"},
        {"two forward into their own place", 0, 1, 2, "[c a b d e]"},
        {"two forward without room after the destination", 0, 4, 2, "[a b c d e]"},
        {"two backward to the head", 3, 0, 2, "[d e a b c]"},
        {"onto itself", 2, 2, 0, "[a b c d e]"},
        {"a part cut to the units left", 3, 0, 9, "[d e a b c]"},
        {"from the tail nothing", 5, 0, 0, "[a b c d e]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_stack();
        cell* s = build("a b c d e");
        s->w1 = static_cast<uint32_t>(c.origin);
        cell* target = stack::push_copy(s);
        target->w1 = static_cast<uint32_t>(c.target);
        cell* part = c.part ? push_integer(c.part) : nullptr;
        actions::handler<ACTION_MOVE>(s)(s, target, part);
        cell* head = stack::push_copy(s);
        head->w1 = 0;
        EXPECT_EQ(testing::mold_text(head), c.expected);
    }
}

TEST_F(Series, MoveBetweenSeries) {
    reset_stack();
    cell* origin = build("1 2 3");
    origin->w1 = 1;
    cell* target = build("a b");
    target->w1 = 1;
    cell* result = actions::handler<ACTION_MOVE>(origin)(origin, target, push_integer(5));
    EXPECT_EQ(describe(result), "@1 [a 2 3 b]");
    origin->w1 = 0;
    EXPECT_EQ(describe(origin), "@0 [1]");

    // Text to text of the same width moves bytes; of another width, code points.
    reset_stack();
    cell* from = push_string("abc");
    cell* to = push_string("xy");
    to->w1 = 2;
    series::move(from, to, push_integer(2));
    EXPECT_EQ(string::to_utf8(from), "c");
    to->w1 = 0;
    EXPECT_EQ(string::to_utf8(to), "xyab");
    reset_stack();
    cell* wide = push_string("\xE2\x82\xAC" "z");
    cell* narrow = push_string("q");
    series::move(wide, narrow, nullptr);
    EXPECT_EQ(string::to_utf8(wide), "z");
    EXPECT_EQ(string::to_utf8(narrow), "\xE2\x82\xAC" "q");

    // Refusals, before anything changes.
    reset_stack();
    cell* block = build("1 2");
    cell* text = push_string("ab");
    EXPECT_EQ(raised_code([&] { series::move(block, text, nullptr); }), code_of(err::script_move_bad));
    EXPECT_EQ(raised_code([&] { series::move(text, block, nullptr); }), code_of(err::script_move_bad));
    const uint8_t bytes[] = {1, 2};
    cell* binary = push_units(TYPE_BINARY, 1, bytes, 2, 0);
    cell* wide_text = push_string("\xE2\x82\xAC");
    EXPECT_EQ(raised_code([&] { series::move(wide_text, binary, nullptr); }), code_of(err::script_move_bad));
    cell* number = push_integer(3);
    EXPECT_EQ(raised_code([&] { series::move(block, number, nullptr); }), code_of(err::script_expect_arg));
    EXPECT_EQ(describe(block), "@0 [1 2]");
    EXPECT_EQ(string::to_utf8(text), "ab");
}

// --- random, reflect, modify ------------------------------------------------------------------------

TEST_F(Series, RandomShufflesAPermutationThatASeedRepeats) {
    reset_stack();
    cell* first = build("1 2 3 4 5 6 7 8 9 10 11 12");
    cell* second = build("1 2 3 4 5 6 7 8 9 10 11 12");
    cell* seed = build("7 7 7");
    series::random(seed, true, false, false);
    series::random(first, false, false, false);
    series::random(seed, true, false, false);
    series::random(second, false, false, false);
    EXPECT_EQ(describe(first), describe(second));
    EXPECT_NE(describe(first), "@0 [1 2 3 4 5 6 7 8 9 10 11 12]");
    std::vector<int32_t> values;
    for (int64_t i = 0; i < 12; ++i) values.push_back(integer::read_cell(block::get_cell(first, i)));
    std::sort(values.begin(), values.end());
    for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(values[static_cast<size_t>(i)], i + 1);

    // From the index on only.
    cell* tail_part = build("1 2 3 4 5 6 7 8");
    tail_part->w1 = 6;
    series::random(tail_part, false, true, false);
    tail_part->w1 = 0;
    std::string text = describe(tail_part);
    EXPECT_TRUE(text == "@0 [1 2 3 4 5 6 7 8]" || text == "@0 [1 2 3 4 5 6 8 7]") << text;

    // /only picks one element from the index, or none when nothing is left.
    for (int i = 0; i < 20; ++i) {
        cell* from = build("5 6 7");
        from->w1 = 1;
        int32_t picked = integer::read_cell(series::random(from, false, false, true));
        EXPECT_TRUE(picked == 6 || picked == 7) << picked;
        stack::drop_slots(2);
    }
    cell* empty = build("1");
    empty->w1 = 1;
    EXPECT_EQ(series::random(empty, false, false, true)->type(), TYPE_NONE);
}

TEST_F(Series, ReflectAndModifyKnowOnlyOwnership) {
    reset_stack();
    cell* s = build("1 2");
    EXPECT_EQ(series::reflect(s, symbols::owned)->type(), TYPE_NONE);
    EXPECT_EQ(raised_code([&] { series::reflect(s, symbols::spec); }), code_of(err::internal_not_done));
    // Clearing ownership drops the owned flag; another field is ignored.
    memory::buffer_of(s->w2)->flags |= memory::FLAG_OWNED;
    cell* field = word::push_global(symbols::owned);
    cell* none_value = stack::push_copy(&none::value);
    EXPECT_EQ(series::modify(s, field, none_value, false), none_value);
    EXPECT_EQ(memory::buffer_of(s->w2)->flags & memory::FLAG_OWNED, 0u);
    cell* other = word::push_global(symbols::spec);
    cell* owner = build("1 2");
    EXPECT_EQ(series::modify(s, other, owner, false), owner);
    // An owner must be an object with a word.
    EXPECT_EQ(raised_code([&] { series::modify(s, field, owner, false); }), code_of(err::script_invalid_arg));
}

}  // namespace
}  // namespace zor
