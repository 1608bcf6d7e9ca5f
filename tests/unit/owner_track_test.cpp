// Ownership tracking: who owns which series, the set and clear walks (cycles included),
// the reports of the modifying series actions, and records that die with their owner.
// A C++ stand-in takes the place of running on-deep-change* and records its arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/owner-track.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/spec_notation.h"
#include "runtime/value/upcalls.h"

namespace zor {
namespace {

using testing::code;
using testing::molded;

// One on-deep-change* call: (owner, word, target, action, new, index, part). Which owner
// and target it was is decided during the call, since nodes may move afterwards.
struct deep_call {
    const cell* owner;   // the watched cell that held the owner, or null
    std::string word;
    const cell* target;  // the watched cell that held the target, or null
    std::string action;
    std::string value;
    int index;
    int part;
};
std::vector<deep_call> calls;
std::vector<const cell*> watched;  // rooted cells holding objects and series

const cell* watched_holding(node_ref node) {
    for (const cell* c : watched) {
        node_ref n = c->is(TYPE_OBJECT) ? c->w1 : c->w2;
        if (n == node) return c;
    }
    return nullptr;
}

void record_call(cell* /*function*/, node_ref /*context*/, const cell* /*word*/, uint32_t /*flags*/) {
    cell* a = stack::state.args_base;
    calls.push_back({watched_holding(a[0].w1), molded(&a[1]), watched_holding(a[2].w2), molded(&a[3]),
                     molded(&a[4]), integer::read_cell(&a[5]), integer::read_cell(&a[6])});
}

class OwnerTrack : public testing::stack_fixture {
protected:
    void SetUp() override {
        stack_fixture::SetUp();
        upcalls::invoke_function = &record_call;
        calls.clear();
        watched.clear();
    }

    cell* word(const char* name) { return word::push_global(symbol::make(name)); }
    // An object with an on-deep-change* handler whose field `name` holds the value.
    cell* owner_of(const char* name, cell* value) {
        cell* o = object::construct(code(std::string(name) + ": 0 on-deep-change*: 0"), nullptr, false);
        cell* handler = function::make(nullptr, code("[o w t a n i p] []"), TYPE_FUNCTION);
        *context::value_at(o->w1, 1) = *handler;
        *context::value_at(o->w1, 0) = *value;
        object::refresh_handlers(o);
        watched.push_back(o);
        return o;
    }
    node_ref owner_node(const cell* series) {
        cell* owner = owner_track::find_owner(series->w2);
        return owner ? owner->w1 : 0;
    }
    bool flagged(const cell* series) { return (memory::buffer_of(series->w2)->flags & memory::FLAG_OWNED) != 0; }
    std::vector<std::string> actions_seen() {
        std::vector<std::string> seen;
        for (const deep_call& c : calls) seen.push_back(c.action);
        return seen;
    }
};

TEST_F(OwnerTrack, TheFirstOwnerKeepsASharedBlock) {
    cell* shared = code("1 [2]");
    watched.push_back(shared);
    cell* first = owner_of("x", shared);
    cell* second = owner_of("y", shared);
    EXPECT_EQ(owner_node(shared), first->w1);
    EXPECT_EQ(owner_node(block::get_cell(shared, 1)), first->w1) << "nested blocks too";
    block::append(shared, integer::push(3), -1, false, 1, true);
    ASSERT_EQ(calls.size(), 2u);
    for (const deep_call& c : calls) {
        EXPECT_EQ(c.owner, first);
        EXPECT_EQ(c.word, "x");
        EXPECT_EQ(c.target, shared);
    }
    EXPECT_NE(first->w1, second->w1);
    // The field word of a nested object's series is the nested field's own word.
    cell* inner = object::construct(code("s: \"t\""), nullptr, false);
    cell* text = stack::push_copy(object::field_value(inner, word("s")));
    cell* outer = owner_of("sub", inner);
    EXPECT_EQ(owner_node(text), outer->w1);
    calls.clear();
    string::append(text, stack::push_copy(block::get_cell(code("\"u\""), 0)), -1, false, 1, true);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].word, "s");
}

TEST_F(OwnerTrack, ReportsOfTheSeriesActions) {
    struct row {
        const char* what;
        std::function<void(cell* series, cell* other)> change;
        std::vector<std::string> actions;
    };
    std::vector<row> rows = {
        {"append to a block", [](cell* s, cell*) { block::append(s, integer::push(9), -1, false, 1, true); },
         {"append", "appended"}},
        {"insert into a block", [](cell* s, cell*) { block::append(s, integer::push(9), -1, false, 1, false); },
         {"insert", "inserted"}},
        {"trim a block", [](cell* s, cell*) { block::trim(s, false, false, false, false, false, nullptr); },
         {"trim", "trimmed"}},
        {"swap two blocks", [](cell* s, cell* o) { block::swap(s, o); }, {"swap", "swap", "swaped", "swaped"}},
        {"poke", [](cell* s, cell*) { series::poke(s, 1, integer::push(5)); }, {"poke", "poked"}},
        {"clear", [](cell* s, cell*) { series::clear(s); }, {"clear", "cleared"}},
    };
    for (const row& r : rows) {
        calls.clear();
        cell* series = code("1 none 2");
        cell* other = code("7 8");
        owner_of("a", series);
        owner_of("b", other);
        r.change(series, other);
        EXPECT_EQ(actions_seen(), r.actions) << r.what;
    }
    // Appending text: both reports at the same position and count.
    calls.clear();
    cell* text = code("\"ab\"");
    *text = *block::get_cell(text, 0);
    owner_of("t", text);
    string::append(text, stack::push_copy(block::get_cell(code("\"cd\""), 0)), -1, false, 1, true);
    ASSERT_EQ(actions_seen(), (std::vector<std::string>{"append", "appended"}));
    EXPECT_EQ(calls[0].index, 2);
    EXPECT_EQ(calls[0].index, calls[1].index);
    EXPECT_EQ(calls[0].part, calls[1].part);
    EXPECT_EQ(calls[0].value, "\"cd\"");
    // A series that nothing owns reports to nobody.
    calls.clear();
    cell* free_block = code("1");
    block::append(free_block, integer::push(2), -1, false, 1, true);
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(owner_track::notify_change(free_block, word("append"), nullptr, 0, 0));
}

TEST_F(OwnerTrack, CyclesAreWalkedOnce) {
    cell* loop = code("1 2");
    block::append_copy(loop, loop);  // the block holds itself
    cell* o = owner_of("c", loop);
    EXPECT_EQ(owner_node(loop), o->w1);
    EXPECT_TRUE(flagged(loop));
    owner_track::clear_owner_deep(loop);
    EXPECT_EQ(owner_node(loop), 0u);
    EXPECT_FALSE(flagged(loop));
    // An object holding itself: its self reference is no series of its own to walk.
    cell* self_holder = object::construct(code("me: 0 s: \"x\" on-deep-change*: 0"), nullptr, false);
    *context::value_at(self_holder->w1, 0) = *self_holder;
    *context::value_at(self_holder->w1, 2) = *function::make(nullptr, code("[o w t a n i p] []"), TYPE_FUNCTION);
    object::refresh_handlers(self_holder);
    cell* s = stack::push_copy(context::value_at(self_holder->w1, 1));
    EXPECT_EQ(owner_node(s), self_holder->w1);
}

TEST_F(OwnerTrack, ModifyOwnedAndOwner) {
    cell* series = code("1 2");
    cell* o = object::construct(code("s: 0 on-deep-change*: 0"), nullptr, false);
    *context::value_at(o->w1, 0) = *series;
    *context::value_at(o->w1, 1) = *function::make(nullptr, code("[o w t a n i p] []"), TYPE_FUNCTION);
    object::refresh_handlers(o);
    EXPECT_EQ(owner_node(series), o->w1);
    // `modify series 'owned none` and `modify object 'owned none` drop the ownership.
    object::modify(o, word("owned"), stack::push_copy(&none::value), false);
    EXPECT_EQ(owner_node(series), o->w1) << "an owner keeps its own fields";
    series::modify(series, word("owned"), stack::push_copy(&none::value), false);
    EXPECT_EQ(owner_node(series), 0u);
    // `modify object 'owned [owner word]` gives an object's series to another owner; each
    // series is reported with the word of the field that holds it.
    cell* holder = object::construct(code("list: 0"), nullptr, false);
    cell* list = code("5");
    *context::value_at(holder->w1, 0) = *list;
    cell* spec = block::push_empty(2);
    block::append_copy(spec, o);
    block::append_copy(spec, word("via"));
    object::modify(holder, word("owned"), spec, false);
    EXPECT_EQ(owner_node(list), o->w1);
    cell* reported = series::reflect(list, symbols::owned);
    EXPECT_EQ(reported->w1, o->w1);
    block::append(list, integer::push(6), -1, false, 1, true);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].word, "list");
    // `modify object 'owner` makes it own its fields.
    cell* fresh = code("9");
    cell* plain = object::construct(code("f: 0"), nullptr, false);
    *context::value_at(plain->w1, 0) = *fresh;
    object::modify(plain, word("owner"), stack::push_copy(&none::value), false);
    EXPECT_EQ(owner_node(fresh), plain->w1);
    EXPECT_EQ(molded(object::reflect(plain, symbols::owner)), "true");
}

TEST_F(OwnerTrack, RecordsDieWithTheirOwner) {
    cell* series = code("1 2");
    cell* mark = stack::state.args_top;
    owner_of("s", series);
    EXPECT_NE(owner_node(series), 0u);
    stack::state.args_top = mark;  // the owner is no longer reachable
    for (cell* c = mark; c < stack::state.args_end && c < mark + 64; ++c) cell::init_unset(c);
    gc::collect();
    EXPECT_EQ(owner_track::find_owner(series->w2), nullptr);
    calls.clear();
    block::append(series, integer::push(3), -1, false, 1, true);
    EXPECT_TRUE(calls.empty());
    // The owned flag outlived the record; a new owner still takes the series.
    cell* next = owner_of("t", series);
    EXPECT_EQ(owner_node(series), next->w1);
}

}  // namespace
}  // namespace zor
