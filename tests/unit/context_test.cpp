// Contexts: keys found exactly and by case family, values on the heap and on the stack,
// assignment with its resolution of unbound words and the on-change* call, the global
// words shared by every spelling, and the binding of nested blocks.
//
// Nodes move at every allocation under the collector's torture mode, so the tests hold
// contexts in stack slots and read their node again after anything that allocates; symbol
// ids (plain numbers) are made before the calls that take a node.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

int code_of(err e) { return error_catalogue::code_of(e); }

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
cell word_cell(type_id type, const char* name) {
    return cell{type, 0, static_cast<uint32_t>(symbol::make(name)), word::INDEX_UNRESOLVED};
}
int32_t value_of(const cell* c) { return static_cast<int32_t>(c->w2); }

class Contexts : public ::testing::Test {
protected:
    // A context kept alive and current by a word bound to it in a stack slot.
    struct held {
        cell* slot;
        node_ref operator()() const { return slot->w1; }
    };
    held hold(node_ref node) {
        cell* slot = stack::push_slot();
        *slot = cell{TYPE_WORD, node, 0, word::INDEX_UNRESOLVED};
        return {slot};
    }
    held fresh(int32_t slots, bool on_stack, context::kind k) {
        return hold(context::make(slots, on_stack, false, 0, k));
    }

    // A block! in a stack slot holding copies of the cells.
    cell* block_of(std::initializer_list<cell> cells) {
        cell* b = stack::push_slot();
        block::make_in(b, static_cast<int64_t>(cells.size()) + 1);
        for (const cell& c : cells) block::append_copy(b, &c);
        return b;
    }

    cell block_cell_at(cell* block, int64_t i) { return *block::get_cell(block, i); }
};

TEST_F(Contexts, MadeEmptyWithRoomForItsSlots) {
    const struct {
        int32_t slots;
        bool on_stack;
        context::kind kind;
        uint32_t header;
    } rows[] = {
        {0, false, context::KIND_OBJECT, TYPE_CONTEXT | 0x1000},  // slot count 0 still holds a key
        {5, true, context::KIND_FUNCTION, TYPE_CONTEXT | 0x800 | 0x400000},
        {3, false, context::KIND_GLOBAL, TYPE_CONTEXT},
    };
    int32_t only = symbol::make("only-key");
    for (const auto& r : rows) {
        held c = fresh(r.slots, r.on_stack, r.kind);
        EXPECT_EQ(context::context_cell(c())->header, r.header);
        EXPECT_TRUE(context::self_cell(c())->is(TYPE_UNSET));
        EXPECT_EQ(context::kind_of(c()), r.kind);
        EXPECT_EQ(context::key_count(c()), 0);
        EXPECT_EQ(context::value_count(c()), 0);
        EXPECT_EQ(memory::buffer_of(c())->length(), 2);
        int32_t added = -1;
        EXPECT_EQ(context::find_or_add_symbol(c(), only, true, &added), -1);
        EXPECT_EQ(added, 0);
        EXPECT_EQ(context::find_or_add_symbol(c(), only, true, &added), 0);
        cell* key = context::word_at(c(), 0);
        EXPECT_EQ(key->header, uint32_t(TYPE_WORD));
        EXPECT_EQ(key->w1, c());
        EXPECT_EQ(key->w3, 0u);
    }
    node_ref self_context = context::make(1, false, true, 0, context::KIND_OBJECT);
    EXPECT_EQ(context::context_cell(self_context)->header & context::FLAG_SELF, context::FLAG_SELF);
}

TEST_F(Contexts, AddingNamesGivesOneKeyAndOneValueEach) {
    std::vector<int32_t> symbols;
    for (int i = 0; i < 100; ++i) symbols.push_back(symbol::make(("ctx-name-" + std::to_string(i)).c_str()));
    held c = fresh(2, false, context::KIND_OBJECT);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(context::add_word(c(), symbols[i]), i);
    EXPECT_EQ(context::key_count(c()), 100);
    EXPECT_EQ(context::value_count(c()), 100);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(context::find_symbol(c(), symbols[i], false), i);
        EXPECT_EQ(context::add_word(c(), symbols[i]), i);  // present: nothing added
        EXPECT_TRUE(context::value_at(c(), i)->is(TYPE_UNSET));
    }
    EXPECT_EQ(context::key_count(c()), 100);
    EXPECT_EQ(context::value_at(c(), 100), nullptr);
}

TEST_F(Contexts, LookupsExactAndByCaseFamily) {
    int32_t foo = symbol::make("lk-foo");
    int32_t Foo = symbol::make("LK-Foo");
    int32_t bar = symbol::make("lk-bar");
    held c = fresh(4, false, context::KIND_OBJECT);
    context::add_word(c(), foo);
    const struct {
        int32_t symbol;
        bool caseless;
        int32_t index;
    } rows[] = {{foo, false, 0}, {foo, true, 0}, {Foo, true, 0}, {Foo, false, -1}, {bar, true, -1}};
    for (const auto& r : rows) {
        EXPECT_EQ(context::find_symbol(c(), r.symbol, r.caseless), r.index) << symbol::name_of(r.symbol);
    }
    // add_word looks caselessly: Foo lands on foo's key.
    EXPECT_EQ(context::add_word(c(), Foo), 0);
    EXPECT_EQ(context::key_count(c()), 1);
    // find_or_add exact adds a key for the other spelling (without a value).
    int32_t added = -1;
    EXPECT_EQ(context::find_or_add_symbol(c(), Foo, false, &added), -1);
    EXPECT_EQ(added, 1);
    EXPECT_EQ(context::key_count(c()), 2);
    EXPECT_EQ(context::value_count(c()), 1);
}

TEST_F(Contexts, PuttingAndReadingValues) {
    int32_t a = symbol::make("pv-a");
    int32_t A = symbol::make("PV-A");
    int32_t b = symbol::make("pv-b");
    int32_t absent = symbol::make("pv-absent");
    int32_t global_name = symbol::make("pv-global");
    held c = fresh(1, false, context::KIND_OBJECT);
    cell seven = integer_cell(7);
    context::put_symbol_value(c(), a, &seven);
    EXPECT_EQ(value_of(context::value_of_symbol(c(), A)), 7);
    cell eight = integer_cell(8);
    context::put_symbol_value(c(), A, &eight);  // the same slot, by case family
    EXPECT_EQ(value_of(context::value_of_symbol(c(), a)), 8);
    EXPECT_EQ(context::add_symbol_value_if_absent(c(), A, &seven), nullptr);
    cell* added = context::add_symbol_value_if_absent(c(), b, &seven);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(value_of(added), 7);
    EXPECT_EQ(context::value_of_symbol(c(), absent), nullptr);
    // An on-stack context reads through the global context instead.
    held f = fresh(1, true, context::KIND_FUNCTION);
    word::set_value(word::make_global(global_name), &seven);
    EXPECT_EQ(value_of(context::value_of_symbol(f(), global_name)), 7);
}

TEST_F(Contexts, WordForSymbolIsTheKeyElseAGlobalWord) {
    int32_t here = symbol::make("wfs-here");
    int32_t HERE = symbol::make("WFS-HERE");
    held c = fresh(2, false, context::KIND_OBJECT);
    context::add_word(c(), here);
    cell key = context::word_for_symbol(c(), here);
    EXPECT_EQ(key.w1, c());
    EXPECT_EQ(key.w3, 0u);
    // The very symbol only: another spelling gets a global word.
    cell other = context::word_for_symbol(c(), HERE);
    EXPECT_EQ(other.w1, context::global);
    EXPECT_EQ(other.w2, uint32_t(HERE));
    EXPECT_GE(context::find_symbol(context::global, HERE, false), 0);
}

TEST_F(Contexts, AssigningResolvesUnboundWords) {
    int32_t foo = symbol::make("asg-foo");
    int32_t fresh_name = symbol::make("asg-new");
    held c = fresh(2, false, context::KIND_OBJECT);
    context::add_word(c(), foo);
    context::word_at(c(), 0)->header &= ~context::FLAG_KEY_TOUCHED;
    // Foo with index -1 lands in foo's slot; no key is added.
    cell* Foo = stack::push_slot();
    *Foo = word_cell(TYPE_WORD, "ASG-Foo");
    cell v = integer_cell(42);
    word::set_in_context(Foo, &v, c(), true);
    EXPECT_EQ(Foo->w3, 0u);
    EXPECT_EQ(context::key_count(c()), 1);
    EXPECT_EQ(value_of(context::value_at(c(), 0)), 42);
    EXPECT_TRUE(context::word_at(c(), 0)->header & context::FLAG_KEY_TOUCHED);
    // A new name adds its key and the value lands in the new slot.
    cell* new_word = stack::push_slot();
    *new_word = word_cell(TYPE_SET_WORD, "asg-new");
    cell w = integer_cell(43);
    cell* slot = word::set_in_context(new_word, &w, c(), true);
    EXPECT_EQ(value_of(slot), 43);
    EXPECT_EQ(new_word->w3, 1u);
    EXPECT_EQ(context::key_count(c()), 2);
    EXPECT_EQ(value_of(context::value_at(c(), 1)), 43);
    // Reading it back through the word bound to the context.
    cell* bound = stack::push_copy(new_word);
    bound->w1 = c();
    EXPECT_EQ(value_of(word::get_value(bound)), 43);
    // Plain lookups do not mark keys; reading for a value does.
    context::word_at(c(), 1)->header &= ~context::FLAG_KEY_TOUCHED;
    context::value_of_symbol(c(), fresh_name);
    EXPECT_FALSE(context::word_at(c(), 1)->header & context::FLAG_KEY_TOUCHED);
    stack::push_slot();
    EXPECT_EQ(value_of(context::get_value_into_last_slot(c(), 1)), 43);
    EXPECT_TRUE(context::word_at(c(), 1)->header & context::FLAG_KEY_TOUCHED);
    cell* top = stack::state.args_top;
    EXPECT_EQ(value_of(context::get_value_and_push(c(), 0)), 42);
    EXPECT_EQ(stack::state.args_top, top + 1);
    EXPECT_EQ(value_of(top - 1), 42);  // the last slot got it too
    // Global contexts never mark their keys.
    cell* g = stack::push_slot();
    *g = word_cell(TYPE_WORD, "asg-global");
    word::set_in_context(g, &v, context::global, true);
    EXPECT_FALSE(context::word_at(context::global, static_cast<int32_t>(g->w3))->header & context::FLAG_KEY_TOUCHED);
}

TEST_F(Contexts, ReadingAndWritingFailures) {
    int32_t x = symbol::make("fail-x");
    held object = fresh(1, false, context::KIND_OBJECT);
    held function = fresh(2, true, context::KIND_FUNCTION);
    context::add_word(function(), x);
    context::add_word(object(), x);
    // Words bound to the two contexts, kept where the collector updates them.
    cell* unresolved = stack::push_slot();
    *unresolved = cell{TYPE_WORD, object(), static_cast<uint32_t>(x), word::INDEX_UNRESOLVED};
    cell* in_function = stack::push_slot();
    *in_function = cell{TYPE_WORD, function(), static_cast<uint32_t>(x), 0};
    cell* in_object = stack::push_slot();
    *in_object = cell{TYPE_WORD, object(), static_cast<uint32_t>(x), 0};
    cell* self_word = stack::push_slot();
    *self_word = cell{TYPE_WORD, object(), static_cast<uint32_t>(symbols::self), word::INDEX_UNRESOLVED};
    cell unset_value{TYPE_UNSET, 0, 0, 0};
    const struct {
        const char* what;
        std::function<void()> action;
        int code;
    } rows[] = {
        {"an unresolved word other than self has no value", [&] { word::get_value(unresolved); },
         code_of(err::script_no_value)},
        {"a function context whose call is not running", [&] { word::get_value(in_function); },
         code_of(err::script_not_in_context)},
        {"assigning through a context without values",
         [&] { word::set_in_context(stack::push_copy(in_function), &unset_value, function(), true); },
         code_of(err::script_not_defined)},
        {"pushing a value of a context without values", [&] { context::push_value_at(function(), 0); },
         code_of(err::script_not_defined)},
        {"an unset value read for pushing", [&] { word::push_value(in_object); }, code_of(err::script_no_value)},
        {"the word self reads the self cell", [&] { word::get_value(self_word); }, -1},
    };
    for (const auto& r : rows) EXPECT_EQ(testing::raised_code(r.action), r.code) << r.what;
    EXPECT_EQ(word::get_value(self_word), context::self_cell(object()));

    // While a call runs, the values are the argument cells from its base.
    cell* base = stack::push_slot();
    *base = integer_cell(1);
    *stack::push_slot() = integer_cell(2);
    context::set_stack_values(function(), base);
    EXPECT_EQ(context::stack_values(function()), base);
    EXPECT_EQ(value_of(word::get_value(in_function)), 1);
    cell five = integer_cell(5);
    EXPECT_EQ(word::set_in_context(stack::push_copy(in_function), &five, function(), true), base);
    EXPECT_EQ(value_of(base), 5);
    EXPECT_EQ(value_of(context::push_value_at(function(), 0)), 5);
    context::set_stack_values(function(), nullptr);
    EXPECT_EQ(context::context_cell(function())->w2, 0u);
}

// An on-change* handler that records its arguments and leaves junk on the stack.
struct change_log {
    int calls = 0;
    cell object, word, old_value, new_value;
};
change_log* log_target = nullptr;
void record_change(cell* object, cell* word, cell* old_value, cell* new_value) {
    log_target->calls++;
    log_target->object = *object;
    log_target->word = *word;
    log_target->old_value = *old_value;
    log_target->new_value = *new_value;
    for (int i = 0; i < 3; ++i) *stack::push_slot() = integer_cell(-1);
}

TEST_F(Contexts, ObjectAssignmentCallsOnChange) {
    int32_t field = symbol::make("chg-field");
    held c = fresh(1, false, context::KIND_OBJECT);
    cell old_value = integer_cell(1);
    context::put_symbol_value(c(), field, &old_value);
    // An object value with a change node stands in the self cell.
    *context::self_cell(c()) = cell{TYPE_OBJECT, c(), 1000000, 0};
    node_ref change_node = memory::alloc_unset_cells(2);
    context::self_cell(c())->w3 = change_node;
    change_log log;
    log_target = &log;
    auto saved_fire = context::fire_on_change;  // the object module's handler, for later tests
    context::fire_on_change = &record_change;
    cell* w = stack::push_slot();
    *w = cell{TYPE_SET_WORD, c(), static_cast<uint32_t>(field), 0};
    cell new_value = integer_cell(2);
    cell* top = stack::state.args_top;
    word::set_in_context(w, &new_value, c(), true);
    EXPECT_EQ(stack::state.args_top, top);  // what the handler left is dropped
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.object.w1, c());
    EXPECT_EQ(log.word.w2, uint32_t(field));
    EXPECT_EQ(value_of(&log.old_value), 1);
    EXPECT_EQ(value_of(&log.new_value), 2);
    EXPECT_EQ(value_of(context::value_at(c(), 0)), 2);
    // Without the fire flag, or without a change node, no call.
    cell three = integer_cell(3);
    word::set_in_context(w, &three, c(), false);
    context::self_cell(c())->w3 = 0;
    word::set_in_context(w, &three, c(), true);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(value_of(context::value_at(c(), 0)), 3);
    context::fire_on_change = saved_fire;
    log_target = nullptr;
}

TEST_F(Contexts, GlobalSpellingsShareOneValueSlot) {
    cell* first = stack::push_copy(word::make_global_from_name("gl-share"));
    cell* second = stack::push_copy(word::make_global_from_name("GL-Share"));
    int32_t exact_spelling = symbol::make("Gl-SHARE");
    EXPECT_EQ(second->w2, uint32_t(symbol::make("GL-Share")));  // keeps its own spelling
    EXPECT_EQ(second->w3, first->w3);                           // and shares the slot
    cell v = integer_cell(99);
    word::set_value(second, &v);
    EXPECT_EQ(value_of(word::get_value(first)), 99);
    // A key added for an exact spelling still shares the family's slot, and gets a value
    // cell of its own so that the value block stays as long as the key list.
    cell* exact = stack::push_copy(word::intern_global(exact_spelling, false, false));
    EXPECT_EQ(exact->w3, first->w3);
    EXPECT_EQ(context::key_count(context::global), context::value_count(context::global));
    EXPECT_EQ(value_of(word::get_value(exact)), 99);
}

TEST_F(Contexts, BindingNestedBlocks) {
    int32_t a = symbol::make("bind-a");
    cell* inner = block_of({word_cell(TYPE_GET_WORD, "BIND-A"), word_cell(TYPE_WORD, "bind-missing")});
    cell* outer = block_of({word_cell(TYPE_WORD, "bind-a"), word_cell(TYPE_SET_WORD, "bind-a"),
                            word_cell(TYPE_LIT_WORD, "bind-a"), word_cell(TYPE_REFINEMENT, "bind-a"),
                            word_cell(TYPE_ISSUE, "bind-a"), integer_cell(5)});
    // The same inner block as a block, a paren and a set-path, then more words.
    block::append_copy(outer, inner);
    cell* as_paren = block::append_copy(outer, inner);
    as_paren->header = TYPE_PAREN;
    cell* as_path = block::append_copy(outer, inner);
    as_path->header = TYPE_SET_PATH;
    const cell tail_words[] = {word_cell(TYPE_WORD, "self"), word_cell(TYPE_SET_WORD, "self"),
                               word_cell(TYPE_WORD, "Self")};
    for (const cell& w : tail_words) block::append_copy(outer, &w);
    // The block contains itself: binding must still end.
    block::append_copy(outer, outer);
    held c = fresh(4, false, context::KIND_OBJECT);
    context::add_word(c(), a);
    context::add_word(c(), symbols::self);
    context::bind_block(outer, c(), true);
    const struct {
        int64_t at;
        bool bound;
        uint32_t index;
    } rows[] = {
        {0, true, 0}, {1, true, 0}, {2, true, 0}, {3, true, 0},
        {4, false, word::INDEX_UNRESOLVED},  // issue! is never bound
        {9, true, word::INDEX_UNRESOLVED},   // the plain word self names the context itself
        {10, true, 1},                       // a set-word self: is bound normally
        {11, true, 1},                       // so is another spelling of self
    };
    for (const auto& r : rows) {
        cell got = block_cell_at(outer, r.at);
        EXPECT_EQ(got.w1, r.bound ? c() : 0u) << r.at;
        EXPECT_EQ(got.w3, r.index) << r.at;
    }
    for (int64_t at = 6; at <= 8; ++at) {
        cell nested = block_cell_at(outer, at);
        EXPECT_EQ(block_cell_at(&nested, 0).w1, c()) << at;  // nested blocks are bound too
        EXPECT_EQ(block_cell_at(&nested, 1).w1, 0u) << at;   // absent names are left alone
        EXPECT_EQ(block_cell_at(&nested, 1).w3, word::INDEX_UNRESOLVED) << at;
    }
    // self reads the self cell of its context.
    cell* self_word = stack::push_copy(block::get_cell(outer, 9));
    EXPECT_EQ(word::get_value(self_word), context::self_cell(c()));
    // Without the self option self is a word like any other.
    cell* again = block_of({word_cell(TYPE_WORD, "self")});
    context::bind_block(again, c(), false);
    EXPECT_EQ(block_cell_at(again, 0).w3, 1u);
    // Binding starts at the block's index.
    cell* later = block_of({word_cell(TYPE_WORD, "bind-a"), word_cell(TYPE_WORD, "bind-a")});
    later->w1 = 1;
    context::bind_block(later, c(), false);
    EXPECT_EQ(block_cell_at(later, 0).w1, 0u);
    EXPECT_EQ(block_cell_at(later, 1).w1, c());
}

TEST_F(Contexts, MakingFromWordsCountsAndCollectsTheSameCells) {
    int32_t skipped = symbol::make("mfw-skipped");
    cell* spec = block_of({word_cell(TYPE_WORD, "mfw-skipped"), word_cell(TYPE_WORD, "mfw-a"),
                           word_cell(TYPE_GET_WORD, "mfw-b"), word_cell(TYPE_LIT_WORD, "MFW-A"),
                           word_cell(TYPE_REFINEMENT, "mfw-c"), word_cell(TYPE_SET_WORD, "mfw-d"),
                           word_cell(TYPE_ISSUE, "mfw-e"), integer_cell(3)});
    spec->w1 = 1;  // the words before the index are not the context's
    held c = hold(context::make_from_words(spec, false, true, context::KIND_OBJECT));
    const char* keys[] = {"mfw-a", "mfw-b", "mfw-c"};
    ASSERT_EQ(context::key_count(c()), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(symbol::name_of(static_cast<int32_t>(context::word_at(c(), i)->w2)), keys[i]);
    }
    // One value per word-like cell found, a repeated word counted again.
    EXPECT_EQ(context::value_count(c()), 4);
    EXPECT_EQ(context::find_symbol(c(), skipped, true), -1);
    EXPECT_EQ(context::context_cell(c())->header & context::FLAG_SELF, context::FLAG_SELF);
    // An on-stack context gets keys only.
    held f = hold(context::make_from_words(spec, true, false, context::KIND_FUNCTION));
    EXPECT_EQ(context::key_count(f()), 3);
    EXPECT_EQ(context::context_cell(f())->w2, 0u);
}

TEST_F(Contexts, CollectingSetWordsAndCloning) {
    int32_t z = symbol::make("col-z");
    int32_t extra = symbol::make("col-extra");
    cell* body = block_of({word_cell(TYPE_SET_WORD, "col-x"), integer_cell(1), word_cell(TYPE_WORD, "col-y"),
                           word_cell(TYPE_SET_WORD, "COL-X"), word_cell(TYPE_SET_WORD, "col-z")});
    held c = fresh(2, false, context::KIND_OBJECT);
    EXPECT_TRUE(context::collect_set_words(c(), body));
    EXPECT_EQ(context::key_count(c()), 2);  // col-x (once, by case family) and col-z
    EXPECT_EQ(context::value_count(c()), 2);
    EXPECT_FALSE(context::collect_set_words(c(), body));
    cell seven = integer_cell(7);
    context::put_symbol_value(c(), z, &seven);

    cell* object = stack::push_slot();
    *object = cell{TYPE_OBJECT, c(), 1000001, 0};
    context::clone_for_value(object, context::KIND_OBJECT);
    ASSERT_NE(object->w1, c());
    EXPECT_EQ(context::key_count(object->w1), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(context::word_at(object->w1, i)->w1, object->w1);
        EXPECT_EQ(context::word_at(object->w1, i)->w2, context::word_at(c(), i)->w2);
    }
    // A fresh value block with no values yet, and the original untouched.
    EXPECT_EQ(context::value_count(object->w1), 0);
    EXPECT_EQ(context::find_symbol(object->w1, z, false), 1);
    EXPECT_EQ(value_of(context::value_of_symbol(c(), z)), 7);
    // Adding to the copy leaves the original's keys alone.
    context::add_word(object->w1, extra);
    EXPECT_EQ(context::key_count(object->w1), 3);
    EXPECT_EQ(context::key_count(c()), 2);
}

}  // namespace
}  // namespace zor
