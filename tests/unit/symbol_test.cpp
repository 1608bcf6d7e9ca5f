// The symbol table: interning, case families and their canonical ids, string forms, and
// the symbol! datatype's comparison.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

class Symbols : public ::testing::Test {};

int code_of(err e) { return error_catalogue::code_of(e); }

TEST_F(Symbols, NamesAreInternedOnceAndIdsCountUp) {
    int32_t before = symbol::count();
    // Names no other test interns, so that they are new here whatever ran before.
    const char* names[] = {"sym-alpha", "sym-beta", "sym-gamma?", "sym*delta", "ꙮ", "sym-héllo", "sym-日本語"};
    std::vector<int32_t> ids;
    for (const char* name : names) ids.push_back(symbol::make(name));
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(ids[i], before + 1 + int32_t(i)) << names[i];  // new names take the next id
        EXPECT_EQ(symbol::make(names[i]), ids[i]) << names[i];    // and keep it
        EXPECT_EQ(symbol::make_from_utf8(std::string_view(names[i])), ids[i]) << names[i];
        EXPECT_EQ(symbol::name_of(ids[i]), names[i]);
        EXPECT_EQ(symbol::alias_of(ids[i]), -1) << names[i];
        EXPECT_EQ(symbol::canonical_id(ids[i]), ids[i]) << names[i];
        EXPECT_EQ(symbol::find(names[i]), ids[i]) << names[i];
        // The name series ends with a NUL past its tail.
        cell* c = symbol::cell_of(ids[i]);
        EXPECT_TRUE(c->is(TYPE_SYMBOL));
        memory::series_buffer* b = memory::buffer_of(c->w3);
        EXPECT_EQ(b->tail - b->head, int64_t(std::string(names[i]).size()));
        EXPECT_EQ(*b->tail, std::byte{0});
    }
    EXPECT_EQ(symbol::count(), before + int32_t(ids.size()));
    EXPECT_EQ(symbol::find("sym-never-interned"), 0);
}

TEST_F(Symbols, CaseVariantsAliasTheFirstSpelling) {
    int32_t foo = symbol::make("casefoo");
    int32_t Foo = symbol::make("Casefoo");
    int32_t FOO = symbol::make("CASEFOO");
    int32_t fOO = symbol::make("cASEFOO");
    EXPECT_NE(Foo, foo);
    const struct {
        int32_t id;
        int32_t alias;
    } rows[] = {{foo, -1}, {Foo, foo}, {FOO, foo}, {fOO, foo}};
    for (const auto& r : rows) {
        EXPECT_EQ(symbol::alias_of(r.id), r.alias) << symbol::name_of(r.id);
        EXPECT_EQ(symbol::canonical_id(r.id), foo) << symbol::name_of(r.id);
    }
    EXPECT_EQ(symbol::make("casefoo"), foo);
    EXPECT_EQ(symbol::make("CASEFOO"), FOO);
    EXPECT_EQ(symbol::make_caseless("CASEfoo"), foo);  // any spelling of the family
    EXPECT_EQ(symbol::make_caseless("CASEFOO"), foo);  // the first one met along the sequence
    // A caseless interning of a new name makes it exactly as an exact one would.
    int32_t fresh = symbol::make_caseless("Caseless-New");
    EXPECT_EQ(symbol::alias_of(fresh), -1);
    EXPECT_EQ(symbol::name_of(fresh), "Caseless-New");
}

TEST_F(Symbols, OnlyAsciiLettersFold) {
    const struct {
        const char* first;
        const char* second;
        bool family;
    } rows[] = {
        {"éclair", "Éclair", false},       // letters outside ASCII compare exactly
        {"straße", "STRASSE", false},
        {"naïve", "NAÏVE", false},
        {"x\xC3\xA9y", "X\xC3\xA9Y", true},  // ASCII letters around a non-ASCII one fold
        {"a-b_c", "A-B_C", true},
        {"[at]", "{at}", false},           // 0x5B/0x7B differ by the case bit but are not letters
        {"@q", "`q", false},
    };
    for (const auto& r : rows) {
        int32_t a = symbol::make(r.first);
        int32_t b = symbol::make(r.second);
        EXPECT_NE(a, b) << r.first;
        EXPECT_EQ(symbol::canonical_id(a) == symbol::canonical_id(b), r.family) << r.first << " " << r.second;
        EXPECT_EQ(symbol::alias_of(b), r.family ? a : -1) << r.second;
    }
}

TEST_F(Symbols, NewNamesMustBeValidUtf8) {
    const std::string bad[] = {"ab\xC3", "\xFFx", "a\xC0\xAF", "\xED\xA0\x80z"};
    for (const auto& name : bad) {
        int32_t before = symbol::count();
        EXPECT_EQ(testing::raised_code([&] { symbol::make_from_utf8(name); }), code_of(err::access_invalid_utf8))
            << name;
        EXPECT_EQ(symbol::count(), before);
        EXPECT_EQ(symbol::find(name), 0);
    }
}

TEST_F(Symbols, StringFormsAndNamesFromStrings) {
    // A name may begin with U+FEFF, which a text loader would take for a byte-order mark.
    const char* names[] = {"form-me", "héllo", "日本", "𝄞clef", "\xEF\xBB\xBF" "bom", "\xEF\xBB\xBF\xEF\xBB\xBF"};
    for (const char* name : names) {
        int32_t id = symbol::make(name);
        node_ref form = symbol::ensure_string_form(id);
        ASSERT_NE(form, 0u);
        EXPECT_EQ(symbol::get_cell(id)->w2, form);          // made once
        EXPECT_EQ(symbol::ensure_string_form(id), form);
        cell* text = stack::push_slot();
        *text = cell{TYPE_STRING, 0, form, 0};
        EXPECT_EQ(string::to_utf8(text), name);
        // The string's text from its index interns as the same name.
        cell* s = string::push_empty();
        string::append_c_string(s, "#");
        string::concatenate(s, text, -1, 0, true, string::CONCATENATE_APPEND);
        s->w1 = 1;
        EXPECT_EQ(symbol::make_from_string(s), id) << name;
    }
    // A copy of a table cell finds its symbol's string form too.
    int32_t id = symbol::make("copied-cell");
    cell copy = *symbol::cell_of(id);
    node_ref form = symbol::ensure_string_form(&copy);
    EXPECT_EQ(symbol::cell_of(id)->w2, form);
}

// A resize re-enters the entries in old bucket order, so a later spelling can come before
// the first one along a probe sequence: a family whose first spelling sits in one of the
// last buckets has its second spelling wrapped round to the first buckets, and the resize
// visits that one first. Each new spelling must still record the family's first spelling,
// or FOO and foo would stop comparing equal.
TEST_F(Symbols, AliasesStayCanonicalAcrossResizes) {
    constexpr int FAMILIES = 300;
    std::vector<std::string> names;
    std::vector<int32_t> first;
    for (int candidate = 0; int(names.size()) < FAMILIES; ++candidate) {
        std::string name = "wrap" + std::to_string(candidate);
        uint32_t mask = uint32_t(hashtable::view(symbol::index_table).record->buckets) - 1;
        uint32_t bucket = hashtable::folded_name_hash(reinterpret_cast<const uint8_t*>(name.data()),
                                                      int64_t(name.size())) & mask;
        if (bucket < mask - 3 || symbol::find(name)) continue;
        names.push_back(name);
        first.push_back(symbol::make(name.c_str()));
        std::string second = name;
        second[0] = 'W';
        symbol::make(second.c_str());
    }
    // Grow the table past its bound: its bucket count is multiplied by 32. After other
    // tests the bound may be hundreds of thousands of symbols away; a collection at every
    // one of those allocations (torture mode) would trace them all each time, so the
    // filling runs with the ordinary trigger.
    int32_t buckets = hashtable::view(symbol::index_table).record->buckets;
    bool torture = gc::torture_mode();
    gc::set_torture_mode(false);
    for (int filler = 0;; ++filler) {
        const hashtable::table_record* r = hashtable::view(symbol::index_table).record;
        if (r->occupied >= r->upper_bound) break;
        symbol::make(("filler-" + std::to_string(filler)).c_str());
    }
    gc::set_torture_mode(torture);
    symbol::make("one-past-the-bound");
    EXPECT_EQ(hashtable::view(symbol::index_table).record->buckets, buckets * 32);
    for (int i = 0; i < FAMILIES; ++i) {
        std::string third = names[i], fourth = names[i];
        third[1] = 'R';
        fourth[2] = 'A';
        ASSERT_EQ(symbol::alias_of(symbol::make(third.c_str())), first[i]) << third;
        ASSERT_EQ(symbol::alias_of(symbol::make(fourth.c_str())), first[i]) << fourth;
        ASSERT_EQ(symbol::make(names[i].c_str()), first[i]);
    }
    // No alias anywhere names another alias.
    for (int32_t id = 1; id <= symbol::count(); ++id) {
        int32_t alias = symbol::alias_of(id);
        if (alias > 0) {
            ASSERT_EQ(symbol::alias_of(alias), -1) << symbol::name_of(id);
        }
    }
}

TEST_F(Symbols, SymbolCompareActionComparesNames) {
    // symbol! fills compare only.
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        EXPECT_EQ(type_registry::handler_of(TYPE_SYMBOL, static_cast<action>(a)) != nullptr, a == ACTION_COMPARE)
            << action_names[a - 1];
    }
    int32_t abc = symbol::make("cmp-abc");
    int32_t ABC = symbol::make("CMP-ABC");
    int32_t abd = symbol::make("cmp-abd");
    int32_t ab = symbol::make("cmp-ab");
    int32_t B = symbol::make("cmp-B");
    int32_t a = symbol::make("cmp-a");
    int32_t e = symbol::make("cmp-é");
    int32_t E = symbol::make("CMP-É");
    const struct {
        int32_t left, right;
        int op;
        int answer;
    } rows[] = {
        {abc, ABC, 0, 0},  {abc, ABC, 1, 0},  {abc, ABC, 2, 1},  {abc, ABC, 12, 0},
        {abc, abc, 9, 0},  {abc, ABC, 9, -1}, {abc, abd, 0, -1}, {abc, ab, 0, 1},
        {abc, abd, 3, -1}, {abd, ABC, 5, 1},  {ab, abc, 3, -1},  {abc, ab, 3, 1},
        {B, a, 7, 1},      // folded: B after a
        {B, a, 8, -1},     // case-sensitive sort order: "B" (0x42) before "a" (0x61)
        {e, E, 0, 0},      // as text every letter folds, not only ASCII ones
        {e, E, 2, 1},      {E, e, 8, -1},
    };
    for (const auto& r : rows) {
        cell left = *symbol::cell_of(r.left);
        cell right = *symbol::cell_of(r.right);
        EXPECT_EQ(actions::dispatch_compare(&left, &right, r.op), r.answer)
            << symbol::name_of(r.left) << " " << symbol::name_of(r.right) << " op " << r.op;
    }
    cell left = *symbol::cell_of(abc);
    cell integer{TYPE_INTEGER, 0, 5, 0};
    EXPECT_EQ(actions::dispatch_compare(&left, &integer, 0), -2);
}

}  // namespace
}  // namespace zor
