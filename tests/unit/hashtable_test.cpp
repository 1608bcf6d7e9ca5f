// The hashtable: MurmurHash3 and value hashing, table sizes, probing and growth of the map
// and symbol kinds, records, the collector's hooks and the address map.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"
#include "tests/unit/runtime_fixture.h"

namespace zor {
namespace {

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

// A copy of the value in a new argument-stack slot.
cell* push(cell value) { return stack::push_copy(&value); }

int code_of(err e) { return error_catalogue::code_of(e); }

class Hashtable : public ::testing::Test {
protected:
    // The collector stays off except where a test switches it on: most tests keep node
    // references in locals, and record tables keyed by plain integers must not be swept.
    void SetUp() override {
        gc::enabled = 0;
    }

    // A new table held on the argument stack the way a map! holds its table.
    static node_ref rooted(node_ref table) {
        hashtable::table_record* r = hashtable::view(table).record;
        node_ref values = r->kind >= hashtable::KIND_RECORDS ? 0 : static_cast<node_ref>(r->values);
        *stack::push_slot() = cell{TYPE_MAP, 0, values, table};
        return table;
    }
    static hashtable::table_record record(node_ref table) { return *hashtable::view(table).record; }

    // A block on the argument stack.
    static cell* new_block(int64_t capacity) { return block::make_in(stack::push_slot(), capacity); }

    // A string on the argument stack from UTF-8 text (Latin-1 text stays in unit 1).
    static cell* new_string(const std::string& utf8) {
        return string::load_onto_stack(unicode::input_bytes::at(utf8.data()), int64_t(utf8.size()),
                                       string::ENCODING_UTF8);
    }
    static uint32_t unit_of(const cell* s) { return memory::buffer_of(s->w2)->unit(); }

    // The map table's cell index of a key cell, -1 when no bucket names it.
    static int64_t bucket_count_naming(node_ref table, int32_t index) {
        hashtable::table_view v = hashtable::view(table);
        int64_t n = 0;
        for (uint32_t b = 0; b < uint32_t(v.record->buckets); ++b) {
            if (hashtable::bucket_state_of(v.flags, b) == hashtable::BUCKET_LIVE && v.keys[b] == index) ++n;
        }
        return n;
    }

    // A map table keeps each live bucket's key hash, which probing trusts: after every
    // growth and copy it must still be the hash of the key that the bucket names.
    static void expect_stored_hashes_match(node_ref table) {
        hashtable::table_view v = hashtable::view(table);
        ASSERT_NE(v.hashes, nullptr);
        for (uint32_t b = 0; b < uint32_t(v.record->buckets); ++b) {
            if (hashtable::bucket_state_of(v.flags, b) != hashtable::BUCKET_LIVE) continue;
            ASSERT_EQ(v.hashes[b], hashtable::hash_value(v.values + v.keys[b], false)) << "bucket " << b;
        }
    }
};

// --- MurmurHash3 -----------------------------------------------------------------------------------

// The published MurmurHash3 x86 32-bit test vectors; the short inputs cover each tail length.
TEST_F(Hashtable, Murmur3MatchesPublishedVectors) {
    struct row {
        std::string bytes;
        uint32_t seed;
        uint32_t expected;
    };
    const row rows[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {std::string("\xFF\xFF\xFF\xFF", 4), 0, 0x76293B50},
        {std::string("\x21\x43\x65\x87", 4), 0, 0xF55B516B},
        {std::string("\x21\x43\x65\x87", 4), 0x5082EDEE, 0x2362F9DE},
        {std::string("\x21\x43\x65", 3), 0, 0x7E4A8634},
        {std::string("\x21\x43", 2), 0, 0xA0F7B07A},
        {std::string("\x21", 1), 0, 0x72661CF4},
        {std::string("\0\0\0\0", 4), 0, 0x2362F9DE},
        {std::string("\0\0\0", 3), 0, 0x85F0B427},
        {std::string("\0\0", 2), 0, 0x30F4C306},
        {std::string("\0", 1), 0, 0x514E28B7},
        {"aaaa", 0x9747B28C, 0x5A97808A},
        {"aaa", 0x9747B28C, 0x283E0130},
        {"aa", 0x9747B28C, 0x5D211726},
        {"a", 0x9747B28C, 0x7FA09EA6},
        {"abcd", 0x9747B28C, 0xF0478627},
        {"abc", 0x9747B28C, 0xC84A62DD},
        {"ab", 0x9747B28C, 0x74875592},
        {"Hello, world!", 0x9747B28C, 0x24884CBA},
        {"\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80", 0x9747B28C, 0xD58063C1},
        {std::string(256, 'a'), 0x9747B28C, 0x37405BDC},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
    };
    for (const row& r : rows) {
        EXPECT_EQ(hashtable::murmur3(r.bytes.data(), int64_t(r.bytes.size()), r.seed), r.expected)
            << "length " << r.bytes.size() << " seed " << r.seed;
    }
    // murmur3_bytes is the same function under the runtime's seed.
    EXPECT_EQ(hashtable::murmur3_bytes("abc", 3), hashtable::murmur3("abc", 3, hashtable::hash_seed));
    // fmix32 is the finaliser: the hash of an empty input is fmix32(seed).
    EXPECT_EQ(hashtable::fmix32(1), hashtable::murmur3("", 0, 1));
    EXPECT_EQ(hashtable::fmix32(0), 0u);
}

// --- Value hashing ---------------------------------------------------------------------------------

uint32_t murmur_words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), std::data(words), bytes.size());
    return hashtable::murmur3_bytes(bytes.data(), int64_t(bytes.size()));
}

TEST_F(Hashtable, ValueHashFollowsTheTypeTable) {
    using hashtable::fmix32;
    struct row {
        cell value;
        uint32_t expected;
        const char* why;
    };
    const uint32_t a = 0x11223344, b = 0x55667788, c = 0x99AABBCC;
    const row rows[] = {
        {{TYPE_UNSET, a, b, c}, 0xFFFFFFFE, "unset! is -2"},
        {{TYPE_NONE, a, b, c}, 0xFFFFFFFF, "none! is -1"},
        {{TYPE_DATATYPE, a, b, c}, fmix32(a), "word 1"},
        {{TYPE_LOGIC, a, b, c}, fmix32(a), "word 1"},
        {{TYPE_OBJECT, a, b, c}, fmix32(a), "word 1"},
        {{TYPE_ERROR, a, b, c}, fmix32(a), "word 1"},
        {{TYPE_PORT, a, b, c}, fmix32(a), "word 1"},
        {{TYPE_CHAR, a, b, c}, fmix32(b), "word 2"},
        {{TYPE_INTEGER, a, b, c}, fmix32(b), "word 2"},
        {{TYPE_MAP, a, b, c}, fmix32(b), "word 2"},
        {{TYPE_HANDLE, a, b, c}, fmix32(b), "word 2"},
        {{TYPE_EVENT, a, b, c}, fmix32(b), "word 2"},
        {{TYPE_NATIVE, a, b, c}, fmix32(c), "word 3"},
        {{TYPE_ACTION, a, b, c}, fmix32(c), "word 3"},
        {{TYPE_BLOCK, a, b, c}, murmur_words({a, b}), "words 1-2"},
        {{TYPE_PAREN, a, b, c}, murmur_words({a, b}), "words 1-2"},
        {{TYPE_GET_PATH, a, b, c}, murmur_words({a, b}), "words 1-2"},
        {{TYPE_HASH, a, b, c}, murmur_words({a, b}), "words 1-2"},
        {{TYPE_POINT2D, a, b, c}, murmur_words({a, b}), "words 1-2"},
        {{TYPE_IMAGE, a, b, c}, murmur_words({a, b}), "words 1-2"},
        {{TYPE_FLOAT, a, b, c}, murmur_words({b, c}), "words 2-3"},
        {{TYPE_PAIR, a, b, c}, murmur_words({b, c}), "words 2-3"},
        {{TYPE_PERCENT, a, b, c}, murmur_words({b, c}), "words 2-3"},
        {{TYPE_TIME, a, b, c}, murmur_words({b, c}), "words 2-3"},
        {{TYPE_OP, a, b, c}, murmur_words({a, b, c}), "words 1-3"},
        {{TYPE_FUNCTION, a, b, c}, murmur_words({a, b, c}), "words 1-3"},
        {{TYPE_TRIPLE, a, b, c}, murmur_words({a, b, c}), "words 1-3"},
        {{TYPE_TYPESET, a, b, c}, murmur_words({a, b, c}), "words 1-3"},
        {{TYPE_POINT3D, a, b, c}, murmur_words({a, b, c}), "words 1-3"},
        {{TYPE_MONEY | FLAG_NEW_LINE, a, b, c}, murmur_words({TYPE_MONEY, a, b, c}), "header cut to the type"},
        {{TYPE_MONEY | 0x4000 | 0x100, a, b, c}, murmur_words({TYPE_MONEY | 0x4000, a, b, c}), "sign kept"},
        {{TYPE_CONTEXT, a, b, c}, 0, "not hashed"},
        {{TYPE_ROUTINE, a, b, c}, 0, "not hashed"},
        {{TYPE_BITSET, a, b, c}, 0, "not hashed"},
        {{TYPE_VECTOR, a, b, c}, 0, "not hashed"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(hashtable::hash_value(&r.value, false), r.expected) << "type " << int(r.value.type()) << ": " << r.why;
        EXPECT_EQ(hashtable::hash_value(&r.value, true), r.expected) << "the case flag only affects strings";
    }
    // A date hashes by its instant, as it compares: one moment in two zones is one key.
    cell noon_east{TYPE_DATE, 0, 0, 0}, ten_utc{TYPE_DATE, 0, 0, 0}, eleven_utc{TYPE_DATE, 0, 0, 0};
    date::make_at(&noon_east, 2020, 1, 1, true, 12 * 3600.0, 120);
    date::make_at(&ten_utc, 2020, 1, 1, true, 10 * 3600.0, 0);
    date::make_at(&eleven_utc, 2020, 1, 1, true, 11 * 3600.0, 0);
    EXPECT_EQ(hashtable::hash_value(&noon_east, false), hashtable::hash_value(&ten_utc, false));
    EXPECT_NE(hashtable::hash_value(&eleven_utc, false), hashtable::hash_value(&ten_utc, false));
    // A tuple hashes as many payload bytes as its length (header bits 19-22) says.
    for (uint32_t length = 0; length <= 12; ++length) {
        cell tuple{TYPE_TUPLE | (length << 19), a, b, c};
        uint8_t bytes[12];
        uint32_t words[3] = {a, b, c};
        std::memcpy(bytes, words, sizeof bytes);
        EXPECT_EQ(hashtable::hash_value(&tuple, false), hashtable::murmur3_bytes(bytes, length)) << length;
    }
}

TEST_F(Hashtable, StringHashFoldsCaseUnlessAsked) {
    struct row {
        const char* left;
        const char* right;
        bool equal_folded;
        bool equal_exact;
    };
    const row rows[] = {
        {"abc", "ABC", true, false},
        {"abc", "abc", true, true},
        {"abc", "abd", false, false},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true, false},  // été / ÉTÉ, Latin-1 units
        {"\xC3\xBF", "\xC5\xB8", true, false},                    // ÿ (unit 1) / Ÿ (unit 2)
        {"\xF0\x9E\xA5\x83", "\xF0\x9E\xA4\xA1", true, false},    // U+1E943 / U+1E921, unit 4
        {"", "", true, true},
        {"a", "", false, false},
    };
    for (const row& r : rows) {
        cell* left = new_string(r.left);
        cell* right = new_string(r.right);
        EXPECT_EQ(hashtable::hash_value(left, false) == hashtable::hash_value(right, false), r.equal_folded)
            << r.left << " / " << r.right;
        EXPECT_EQ(hashtable::hash_value(left, true) == hashtable::hash_value(right, true), r.equal_exact)
            << r.left << " / " << r.right;
    }
    EXPECT_EQ(unit_of(new_string("\xC3\xBF")), 1u);
    EXPECT_EQ(unit_of(new_string("\xC5\xB8")), 2u);
}

// The string hash is MurmurHash3 of the upper-cased text as UCS-4 little-endian, from the
// index, whatever the unit width; every any-string type hashes alike.
TEST_F(Hashtable, StringHashIsMurmurOfUpperCasedUcs4) {
    auto ucs4 = [](std::initializer_list<uint32_t> code_points) {
        std::vector<uint8_t> bytes;
        for (uint32_t c : code_points) {
            for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(c >> shift));
        }
        return hashtable::murmur3_bytes(bytes.data(), int64_t(bytes.size()));
    };
    cell* latin = new_string("x\xC3\xA9z");                 // unit 1
    cell* wide = new_string("x\xC3\xA9z\xE2\x82\xAC");       // unit 2
    cell* wider = new_string("x\xC3\xA9z\xF0\x9E\xA5\x83");  // unit 4
    EXPECT_EQ(hashtable::hash_value(latin, false), ucs4({'X', 0xC9, 'Z'}));
    EXPECT_EQ(hashtable::hash_value(latin, true), ucs4({'x', 0xE9, 'z'}));
    EXPECT_EQ(hashtable::hash_value(wide, false), ucs4({'X', 0xC9, 'Z', 0x20AC}));
    EXPECT_EQ(hashtable::hash_value(wider, false), ucs4({'X', 0xC9, 'Z', 0x1E921}));
    wide->w1 = 1;  // from the index
    EXPECT_EQ(hashtable::hash_value(wide, false), ucs4({0xC9, 'Z', 0x20AC}));
    wide->w1 = 99;  // past the tail: no characters
    EXPECT_EQ(hashtable::hash_value(wide, false), ucs4({}));
    for (type_id t : {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
        cell other = *latin;
        cell::set_type(&other, t);
        EXPECT_EQ(hashtable::hash_value(&other, false), ucs4({'X', 0xC9, 'Z'})) << int(t);
    }
    // The string view type 56 hashes only its count (payload word 3) when not negative.
    cell view = *wider;
    view.header = 56;
    view.w3 = 2;
    EXPECT_EQ(hashtable::hash_value(&view, false), ucs4({'X', 0xC9}));
    view.w3 = static_cast<uint32_t>(-1);
    EXPECT_EQ(hashtable::hash_value(&view, false), ucs4({'X', 0xC9, 'Z', 0x1E921}));
}

TEST_F(Hashtable, BinaryHashesFromItsIndex) {
    cell* bin = stack::push_slot();
    cell::init_unset(bin);
    node_ref node = memory::alloc_bytes(16);
    memory::series_buffer* b = memory::buffer_of(node);
    std::memcpy(b->head, "abcdef", 6);
    b->tail = b->head + 6;
    *bin = cell{TYPE_BINARY, 0, node, 0};
    const struct {
        int32_t index;
        const char* bytes;
    } rows[] = {{0, "abcdef"}, {2, "cdef"}, {6, ""}, {40, ""}, {-3, "abcdef"}};
    for (const auto& r : rows) {
        bin->w1 = static_cast<uint32_t>(r.index);
        EXPECT_EQ(hashtable::hash_value(bin, false), hashtable::murmur3_bytes(r.bytes, int64_t(std::strlen(r.bytes))))
            << r.index;
    }
}

TEST_F(Hashtable, SymbolsAndWordsHashByFoldedNameAndCanonicalId) {
    int32_t first = symbol::make("HashMe");
    int32_t variant = symbol::make("hashme");
    ASSERT_NE(first, variant);
    EXPECT_EQ(symbol::canonical_id(variant), first);
    // symbol!: MurmurHash3 of the name with ASCII letters folded to lower case.
    EXPECT_EQ(hashtable::hash_value(symbol::get_cell(first), false), hashtable::murmur3_bytes("hashme", 6));
    EXPECT_EQ(hashtable::hash_value(symbol::get_cell(variant), false), hashtable::murmur3_bytes("hashme", 6));
    EXPECT_EQ(hashtable::folded_name_hash(reinterpret_cast<const uint8_t*>("HashMe\xC3\x89"), 8),
              hashtable::murmur3_bytes("hashme\xC3\x89", 8))
        << "bytes above 0x7F are not folded";
    // Every word type: fmix32 of the canonical id, so case variants meet.
    for (type_id t : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE}) {
        cell a{t, 0, static_cast<uint32_t>(first), 0};
        cell b{t, 0, static_cast<uint32_t>(variant), 7};
        EXPECT_EQ(hashtable::hash_value(&a, false), hashtable::fmix32(uint32_t(first))) << int(t);
        EXPECT_EQ(hashtable::hash_value(&b, true), hashtable::fmix32(uint32_t(first))) << int(t);
    }
}

// --- Sizes ------------------------------------------------------------------------------------------

TEST_F(Hashtable, NewTablesAreSizedByTheLoadFactor) {
    struct row {
        int64_t requested;
        int32_t kind;
        int32_t buckets;
        int32_t upper_bound;
    };
    const row rows[] = {
        {0, 1, 8, 6},  // 0 to 3 count as 4: trunc(4 / 0.77) = 5, so 8 buckets
        {1, 1, 8, 6},
        {3, 1, 8, 6},
        {4, 3, 8, 6},
        {6, 4, 8, 6},    // trunc(6 / 0.77) = 7
        {7, 1, 16, 12},  // trunc(7 / 0.77) = 9
        {100, 3, 256, 197},
        {3999, 2, 8192, 6307},
        {4000, 2, 16384, 12615},  // kind 2 doubles a request of 4,000 or more
        {4000, 1, 8192, 6307},
    };
    for (const row& r : rows) {
        node_ref table = rooted(hashtable::make(r.requested, nullptr, r.kind, 1));
        hashtable::table_record rec = record(table);
        EXPECT_EQ(rec.buckets, r.buckets) << r.requested << " kind " << r.kind;
        EXPECT_EQ(rec.upper_bound, r.upper_bound) << r.requested << " kind " << r.kind;
        EXPECT_EQ(rec.kind, r.kind);
        EXPECT_EQ(rec.size, 0);
        EXPECT_EQ(rec.occupied, 0);
        EXPECT_EQ(rec.gc_stamp, r.kind >= 3 ? int32_t(gc::cycle_count() + 1) : 0);
        EXPECT_EQ(rec.width, r.kind >= 3 ? 32 : 0) << "(width + 1) x 16 bytes";
        hashtable::table_view v = hashtable::view(table);
        for (uint32_t b = 0; b < uint32_t(rec.buckets); ++b) {
            ASSERT_EQ(hashtable::bucket_state_of(v.flags, b), hashtable::BUCKET_EMPTY);
        }
    }
}

TEST_F(Hashtable, BadRequestsRaise) {
    cell stray_cell = integer_cell(1);
    // Kind 0 is the hash! index (tests/unit/hash_index_test.cpp): a table, not an error.
    EXPECT_EQ(record(rooted(hashtable::make(4, nullptr, hashtable::KIND_HASH, 0))).kind, hashtable::KIND_HASH);
    node_ref index = rooted(hashtable::make(4, nullptr, hashtable::KIND_HASH, 0));
    EXPECT_EQ(testing::raised_code([&] { hashtable::put_record(index, 1); }), code_of(err::script_invalid_arg));
    EXPECT_EQ(testing::raised_code([&] { hashtable::put(index, &stray_cell); }), code_of(err::script_invalid_arg));
    EXPECT_EQ(testing::raised_code([] { hashtable::make(4, nullptr, 5, 0); }), code_of(err::script_out_of_range));
    EXPECT_EQ(testing::raised_code([] { hashtable::make(4, nullptr, 3, -1); }), code_of(err::script_out_of_range));
    EXPECT_EQ(testing::raised_code([] { hashtable::make(int64_t(1) << 40, nullptr, 1, 0); }),
              code_of(err::internal_no_memory));
    node_ref map = rooted(hashtable::make(4, nullptr, hashtable::KIND_MAP, 0));
    node_ref records = rooted(hashtable::make(4, nullptr, hashtable::KIND_RECORDS, 1));
    cell stray = integer_cell(1);  // not in the table's value series
    EXPECT_EQ(testing::raised_code([&] { hashtable::put(map, &stray); }), code_of(err::script_invalid_arg));
    EXPECT_EQ(testing::raised_code([&] { hashtable::put_record(map, 1); }), code_of(err::script_invalid_arg));
    EXPECT_EQ(testing::raised_code([&] { hashtable::find(records, &stray, 0, 1, 0, false, false); }),
              code_of(err::script_invalid_arg));
}

// --- Maps and symbol-keyed tables ------------------------------------------------------------------------

// Appends the key/value pair to the table's block and enters the key.
// The table is read from its map! cell, which the collector keeps current.
cell* put_pair(const cell* map, int32_t key, int32_t value) {
    cell* slot = push(cell{TYPE_BLOCK, 0, map->w2, 0});
    cell k = integer_cell(key), val = integer_cell(value);
    block::append_copy(slot, &k);
    block::append_copy(slot, &val);
    cell* entered = hashtable::put(map->w3, memory::buffer_of(slot->w2)->tail_cell() - 2);
    stack::drop_slots(1);
    return entered;
}
cell* put_pair(node_ref table, int32_t key, int32_t value) {
    cell map{TYPE_MAP, 0, static_cast<node_ref>(hashtable::view(table).record->values), table};
    return put_pair(&map, key, value);
}

cell* find_key(node_ref table, int32_t key, int op = 0) {
    cell* sought = push(integer_cell(key));
    cell* found = hashtable::find(table, sought, 0, 1, op, false, false);
    stack::drop_slots(1);
    return found;
}

TEST_F(Hashtable, MapPutFindAndGrowth) {
    node_ref table = rooted(hashtable::make(0, nullptr, hashtable::KIND_MAP, 0));
    constexpr int N = 5000;
    for (int i = 0; i < N; ++i) ASSERT_EQ(put_pair(table, i * 7919, i), nullptr) << i;
    hashtable::table_record rec = record(table);
    EXPECT_EQ(rec.size, N);
    EXPECT_EQ(rec.occupied, N);
    EXPECT_LT(rec.occupied, rec.upper_bound);
    // Growth: each resize asks for buckets + 1, the next power of two (8192 holds 5000).
    EXPECT_EQ(rec.buckets, 8192);
    EXPECT_EQ(rec.upper_bound, 6308) << "resized bounds round: trunc(8192 x 0.77 + 0.5)";
    for (int i = 0; i < N; ++i) {
        cell* key = find_key(table, i * 7919);
        ASSERT_NE(key, nullptr) << i;
        EXPECT_EQ(int32_t(key->w2), i * 7919);
        EXPECT_EQ(int32_t(key[1].w2), i) << "the value follows its key";
    }
    EXPECT_EQ(find_key(table, -1), nullptr);
    EXPECT_EQ(find_key(table, 7919 * N), nullptr);
    // Each key is named by exactly one bucket.
    for (int i = 0; i < 50; ++i) EXPECT_EQ(bucket_count_naming(table, 2 * i), 1);
    expect_stored_hashes_match(table);
    // A key entered again is found, not added; its bucket does not change.
    cell* again = put_pair(table, 3 * 7919, 99);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(int32_t(again[1].w2), 3);
    EXPECT_EQ(record(table).size, N);
}

TEST_F(Hashtable, MapDeleteKeepsTheBucketAndReputFindsIt) {
    node_ref table = rooted(hashtable::make(4, nullptr, hashtable::KIND_MAP, 0));
    for (int i = 0; i < 4; ++i) put_pair(table, 10 + i, 100 + i);
    cell* key = find_key(table, 12);
    ASSERT_NE(key, nullptr);
    hashtable::delete_cell(table, key);
    hashtable::table_record rec = record(table);
    EXPECT_EQ(rec.size, 3) << "live count drops";
    EXPECT_EQ(rec.occupied, 4) << "the bucket stays";
    key = find_key(table, 12);
    ASSERT_NE(key, nullptr) << "the key is still found";
    EXPECT_EQ(key[1].header, 0u) << "its pair is marked removed";
    EXPECT_EQ(bucket_count_naming(table, 4), 1);
    hashtable::delete_cell(table, key);  // removing twice changes nothing
    EXPECT_EQ(record(table).size, 3);
    // Putting the same key again finds the old pair, in the same bucket.
    cell* revived = put_pair(table, 12, 555);
    EXPECT_EQ(revived, find_key(table, 12));
    EXPECT_EQ(revived - memory::buffer_of(static_cast<node_ref>(record(table).values))->head_cell(), 4);
    EXPECT_EQ(record(table).occupied, 4);
}

TEST_F(Hashtable, MapMadeFromABlockKeepsTheLaterValueOfARepeatedKey) {
    cell* block = new_block(16);
    const int32_t cells[] = {-1, -2, 1, 10, 2, 20, 1, 11, 3, 30, 2, 21, 4};  // odd tail: no value
    for (int32_t c : cells) {
        cell v = integer_cell(c);
        block::append_copy(block, &v);
    }
    block->w1 = 2;  // the first pair lies before the index: not indexed
    node_ref table = rooted(hashtable::make(8, block, hashtable::KIND_MAP, 0));
    EXPECT_EQ(record(table).size, 3);
    std::vector<int32_t> left;
    memory::series_buffer* b = memory::buffer_of(block->w2);
    for (cell* c = b->head_cell(); c < b->tail_cell(); ++c) left.push_back(int32_t(c->w2));
    EXPECT_EQ(left, (std::vector<int32_t>{-1, -2, 1, 11, 2, 21, 3, 30, 4}));
    EXPECT_EQ(int32_t(find_key(table, 2)[1].w2), 21);
    EXPECT_EQ(find_key(table, -1), nullptr);
    EXPECT_EQ(find_key(table, 4), nullptr);
}

TEST_F(Hashtable, MapFindSeeksWordsAsSetWords) {
    int32_t id = symbol::make("map-key-word");
    int32_t other_case = symbol::make("MAP-KEY-WORD");
    node_ref table = rooted(hashtable::make(4, nullptr, hashtable::KIND_MAP, 0));
    hashtable::table_view v = hashtable::view(table);
    cell* block = push(cell{TYPE_BLOCK, 0, node_ref(v.record->values), 0});
    cell key{TYPE_SET_WORD, 0, static_cast<uint32_t>(id), 0};
    cell value = integer_cell(42);
    block::append_copy(block, &key);
    block::append_copy(block, &value);
    ASSERT_EQ(hashtable::put(table, block::get_cell(block, 0)), nullptr);
    for (type_id t : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}) {
        cell* sought = push(cell{t, 0, uint32_t(other_case), 0});
        sought->header |= FLAG_NEW_LINE;
        cell* found = hashtable::find(table, sought, 0, 1, 0, false, false);
        ASSERT_NE(found, nullptr) << int(t);
        EXPECT_EQ(int32_t(found[1].w2), 42);
        EXPECT_EQ(sought->header, uint32_t(t) | FLAG_NEW_LINE) << "the key is restored";
        EXPECT_EQ(hashtable::find(table, sought, 0, 1, 2, false, false), nullptr) << "strict: other spelling";
    }
    cell* refinement = push(cell{TYPE_REFINEMENT, 0, uint32_t(id), 0});
    EXPECT_EQ(hashtable::find(table, refinement, 0, 1, 0, false, false), nullptr) << "other types stay";
}

TEST_F(Hashtable, SymbolKeyedTableGrowsFrom8To256) {
    node_ref table = rooted(hashtable::make(0, nullptr, hashtable::KIND_SYMBOL, 1));
    ASSERT_EQ(record(table).buckets, 8);
    cell* block = push(cell{TYPE_BLOCK, 0, node_ref(hashtable::view(table).record->values), 0});
    for (int i = 0; i < 7; ++i) {
        cell v = integer_cell(1000 + i);
        block::append_copy(block, &v);
        ASSERT_EQ(hashtable::put(table, block::get_cell(block, i)), nullptr);
        hashtable::table_record rec = record(table);
        // The seventh put meets occupied = upper bound 6: request (8 + 1) x 16 = 144.
        EXPECT_EQ(rec.buckets, i < 6 ? 8 : 256) << i;
        EXPECT_EQ(rec.upper_bound, i < 6 ? 6 : 197) << i;
        EXPECT_EQ(rec.size, i + 1);
        EXPECT_EQ(rec.occupied, i + 1);
    }
    for (int i = 0; i < 7; ++i) {
        cell* found = find_key(table, 1000 + i);
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(found - block::get_cell(block, 0), i);
    }
}

// The in-place resize moves entries by the kick-out walk in old bucket order; whatever
// the order, every entry must be found again and named by exactly one bucket.
TEST_F(Hashtable, ResizeInPlaceKeepsEveryEntry) {
    node_ref table = rooted(hashtable::make(40, nullptr, hashtable::KIND_SYMBOL, 1));
    cell* block = push(cell{TYPE_BLOCK, 0, node_ref(hashtable::view(table).record->values), 0});
    constexpr int N = 40;
    for (int i = 0; i < N; ++i) {
        cell v = integer_cell(i * 31 - 500);
        block::append_copy(block, &v);
        hashtable::put(table, block::get_cell(block, i));
    }
    const struct {
        int64_t request;
        int32_t buckets;
    } steps[] = {{64, 64}, {65, 128}, {1000, 1024}, {3, 1024}};  // never shrinks in place
    for (const auto& [request, buckets] : steps) {
        hashtable::resize(table, request);
        hashtable::table_record rec = record(table);
        EXPECT_EQ(rec.buckets, buckets) << request;
        EXPECT_EQ(rec.size, N);
        EXPECT_EQ(rec.occupied, N);
        for (int i = 0; i < N; ++i) {
            ASSERT_EQ(bucket_count_naming(table, i), 1) << request << " " << i;
            cell* found = find_key(table, i * 31 - 500);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found - block::get_cell(block, 0), i);
        }
    }
}

TEST_F(Hashtable, FindNextWalksOnAlongTheProbeSequence) {
    // Two equal keys can only sit in one table when entered by hand, as hash! does.
    node_ref table = rooted(hashtable::make(8, nullptr, hashtable::KIND_SYMBOL, 1));
    cell* block = push(cell{TYPE_BLOCK, 0, node_ref(hashtable::view(table).record->values), 0});
    for (int i = 0; i < 3; ++i) {
        cell v = integer_cell(i == 1 ? 8 : 5);
        block::append_copy(block, &v);
    }
    uint32_t mask = uint32_t(record(table).buckets) - 1;
    cell five = integer_cell(5);
    uint32_t bucket = hashtable::hash_value(&five, false) & mask;
    hashtable::place_entry(table, bucket, 0);
    hashtable::place_entry(table, (bucket + 1) & mask, 1);
    hashtable::place_entry(table, (bucket + 3) & mask, 2);
    int32_t saved_bucket = -1, saved_step = 0;
    cell* sought = stack::push_copy(&five);
    cell* first = hashtable::find_next(table, sought, &saved_bucket, &saved_step);
    EXPECT_EQ(first, block::get_cell(block, 0));
    EXPECT_EQ(saved_bucket, int32_t(bucket));
    cell* second = hashtable::find_next(table, sought, &saved_bucket, &saved_step);
    EXPECT_EQ(second, block::get_cell(block, 2)) << "the 8 in between is passed";
    EXPECT_EQ(saved_step, 2);
    EXPECT_EQ(hashtable::find_next(table, sought, &saved_bucket, &saved_step), nullptr);
}

TEST_F(Hashtable, ClearAndCopy) {
    node_ref table = rooted(hashtable::make(4, nullptr, hashtable::KIND_MAP, 0));
    for (int i = 0; i < 20; ++i) put_pair(table, i, -i);
    // The copy works over a copy of the block and is independent of its source.
    node_ref values_copy =
        memory::copy_series(memory::buffer_of(static_cast<node_ref>(record(table).values)));
    *stack::push_slot() = cell{TYPE_BLOCK, 0, values_copy, 0};
    node_ref copied = rooted(hashtable::copy(table, values_copy));
    EXPECT_EQ(record(copied).size, 20);
    EXPECT_EQ(record(copied).buckets, record(table).buckets);
    EXPECT_NE(record(copied).flags, record(table).flags);
    EXPECT_NE(record(copied).keys, record(table).keys);
    EXPECT_NE(record(copied).duplicates, record(table).duplicates) << "the key hashes are copied too";
    expect_stored_hashes_match(copied);
    hashtable::clear(table);
    hashtable::table_record rec = record(table);
    EXPECT_EQ(rec.size, 0);
    EXPECT_EQ(rec.occupied, 0);
    EXPECT_EQ(memory::buffer_of(static_cast<node_ref>(rec.values))->length(), 0);
    EXPECT_EQ(find_key(table, 3), nullptr);
    for (int i = 0; i < 20; ++i) {
        cell* found = find_key(copied, i);
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(int32_t(found[1].w2), -i);
    }
    EXPECT_EQ(put_pair(table, 3, 33), nullptr) << "a cleared table takes entries again";
    EXPECT_EQ(int32_t(find_key(table, 3)[1].w2), 33);
}

TEST_F(Hashtable, ContextTableIsCopiedWithItsKeyList) {
    node_ref source = rooted(hashtable::make(4, nullptr, hashtable::KIND_SYMBOL, 2));
    cell* block = push(cell{TYPE_BLOCK, 0, node_ref(hashtable::view(source).record->values), 0});
    for (int i = 0; i < 5; ++i) {
        cell v = integer_cell(i + 70);
        block::append_copy(block, &v);
        hashtable::put(source, block::get_cell(block, i));
    }
    cell* context = push(cell{TYPE_CONTEXT, source, 0, 0});
    node_ref copied = rooted(hashtable::make(4, context, hashtable::KIND_SYMBOL, 2));
    EXPECT_NE(record(copied).values, record(source).values) << "the key list is copied";
    EXPECT_EQ(record(copied).size, 5);
    for (int i = 0; i < 5; ++i) EXPECT_NE(find_key(copied, i + 70), nullptr);
}

// --- Records ----------------------------------------------------------------------------------------------

TEST_F(Hashtable, PutRecordOnAnExistingKeyResetsItsCells) {
    node_ref table = rooted(hashtable::make(4, nullptr, hashtable::KIND_RECORDS, 2));
    cell* values = hashtable::put_record(table, 0x1234);
    values[0] = integer_cell(1);
    values[1] = integer_cell(2);
    EXPECT_EQ(values[-1].header, uint32_t(TYPE_UNSET)) << "a live record's key cell is unset!";
    EXPECT_EQ(values[-1].w1, 0x1234u);
    cell* again = hashtable::put_record(table, 0x1234);
    EXPECT_EQ(again, values) << "the same record";
    EXPECT_EQ(again[0].header, uint32_t(TYPE_UNSET));
    EXPECT_EQ(again[1].header, uint32_t(TYPE_UNSET));
    EXPECT_EQ(record(table).size, 1);
    EXPECT_EQ(hashtable::get_record(table, 0x1234), again);
    EXPECT_EQ(hashtable::get_record(table, 0x1235), nullptr);
}

TEST_F(Hashtable, DeletedRecordsAreReused) {
    node_ref table = rooted(hashtable::make(4, nullptr, hashtable::KIND_RECORDS, 1));
    for (int32_t k = 1; k <= 4; ++k) hashtable::put_record(table, k)[0] = integer_cell(k * 10);
    auto series_bytes = [&] {
        return memory::buffer_of(static_cast<node_ref>(record(table).values))->tail -
               memory::buffer_of(static_cast<node_ref>(record(table).values))->head;
    };
    int64_t bytes = series_bytes();
    EXPECT_EQ(bytes, 4 * 32);
    cell* removed = hashtable::delete_record(table, 3);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(int32_t(removed[0].w2), 30) << "the cells keep their values";
    EXPECT_EQ(removed[-1].header, 0u);
    EXPECT_EQ(hashtable::delete_record(table, 3), nullptr);
    EXPECT_EQ(hashtable::get_record(table, 3), nullptr);
    EXPECT_EQ(record(table).size, 3);
    EXPECT_EQ(record(table).occupied, 4);
    // The same key goes back to its deleted bucket and its record.
    cell* back = hashtable::put_record(table, 3);
    EXPECT_EQ(back, removed);
    EXPECT_EQ(series_bytes(), bytes);
    for (int32_t k : {1, 2, 4}) EXPECT_EQ(int32_t(hashtable::get_record(table, k)[0].w2), k * 10);
}

// Put/delete cycles with ever new keys leave deleted buckets behind; the rebuilds they
// cause must stay at the same size, so neither the buckets nor the records grow.
TEST_F(Hashtable, PutDeleteCyclesKeepTheTableBounded) {
    node_ref table = rooted(hashtable::make(0, nullptr, hashtable::KIND_RECORDS, 1));
    int32_t most_buckets = 0;
    int64_t most_bytes = 0;
    for (int32_t k = 0; k < 1'000'000; ++k) {
        hashtable::put_record(table, k)[0] = integer_cell(k);
        if (k % 3 == 0) hashtable::put_record(table, -k - 1);  // some stay live for a while
        ASSERT_EQ(int32_t(hashtable::delete_record(table, k)[0].w2), k);
        if (k % 3 == 2) hashtable::delete_record(table, -(k - 2) - 1);
        hashtable::table_record rec = record(table);
        most_buckets = std::max(most_buckets, rec.buckets);
        memory::series_buffer* b = memory::buffer_of(static_cast<node_ref>(rec.values));
        most_bytes = std::max<int64_t>(most_bytes, b->tail - b->head);
    }
    EXPECT_EQ(most_buckets, 8);
    EXPECT_LE(most_bytes, 8 * 32);
    EXPECT_EQ(record(table).size, 1) << "only the last extra key is still live";
}

TEST_F(Hashtable, RecordsSurviveGrowthAndRehash) {
    node_ref table = rooted(hashtable::make(0, nullptr, hashtable::KIND_OWNERSHIP, 3));
    constexpr int32_t N = 20000;
    for (int32_t k = 0; k < N; ++k) {
        cell* v = hashtable::put_record(table, k * 16 + 8);
        v[0] = integer_cell(k);
        v[2] = integer_cell(-k);
    }
    for (int32_t k = 0; k < N; k += 2) hashtable::delete_record(table, k * 16 + 8);
    EXPECT_EQ(record(table).size, N / 2);
    EXPECT_EQ(record(table).buckets, 32768);
    // After a collection the stamp is stale: the next access re-enters every record.
    hashtable::view(table).record->gc_stamp = int32_t(gc::cycle_count() + 7);
    cell* v = hashtable::get_record(table, 1 * 16 + 8);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(record(table).gc_stamp, int32_t(gc::cycle_count() + 1));
    EXPECT_EQ(record(table).occupied, N / 2) << "deleted buckets are gone after the rehash";
    for (int32_t k = 0; k < N; ++k) {
        cell* found = hashtable::get_record(table, k * 16 + 8);
        if (k % 2 == 0) {
            ASSERT_EQ(found, nullptr) << k;
        } else {
            ASSERT_NE(found, nullptr) << k;
            EXPECT_EQ(int32_t(found[0].w2), k);
            EXPECT_EQ(int32_t(found[2].w2), -k);
        }
    }
    // A rebuild compacts the record series to the live records.
    hashtable::rebuild_records(table, record(table).buckets - 1);
    memory::series_buffer* b = memory::buffer_of(static_cast<node_ref>(record(table).values));
    EXPECT_EQ(b->tail - b->head, int64_t(N / 2) * 64);
    EXPECT_EQ(int32_t(hashtable::get_record(table, 3 * 16 + 8)[2].w2), -3);
}

// With the collector on (and, under ZOR_GC_TORTURE=1, collecting, compacting and moving
// nodes at every allocation), tables keep every entry: operations read their buffers
// again after allocating, and record keys that are nodes follow their series.
TEST_F(Hashtable, TablesSurviveCollections) {
    cell* map = push(cell{TYPE_UNSET, 0, 0, 0});
    node_ref made = hashtable::make(0, nullptr, hashtable::KIND_MAP, 0);
    *map = cell{TYPE_MAP, 0, static_cast<node_ref>(hashtable::view(made).record->values), made};
    cell* records = push(cell{TYPE_UNSET, 0, 0, 0});
    made = hashtable::make(0, nullptr, hashtable::KIND_RECORDS, 1);
    *records = cell{TYPE_MAP, 0, 0, made};
    cell* keys = block::make_in(stack::push_slot(), 4);
    uint32_t cycles = gc::cycle_count();
    gc::enabled = 1;
    constexpr int N = 300;
    for (int i = 0; i < N; ++i) {
        ASSERT_EQ(put_pair(map, i * 13, i), nullptr);
        // The key series goes straight into its cell: a node held in a local while
        // something allocates could be moved by the collector.
        block::alloc_tail_cell(keys);
        node_ref node = memory::alloc_bytes(16);
        *block::get_cell(keys, i) = cell{TYPE_BINARY, 0, node, 0};
        cell* value = hashtable::put_record(records->w3, int32_t(block::get_cell(keys, i)->w2));
        *value = integer_cell(-i);
    }
    gc::collect();
    EXPECT_GT(gc::cycle_count(), cycles);
    for (int i = 0; i < N; ++i) {
        cell* found = find_key(map->w3, i * 13);
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(int32_t(found[1].w2), i);
        cell* value = hashtable::get_record(records->w3, int32_t(block::get_cell(keys, i)->w2));
        ASSERT_NE(value, nullptr) << i;
        EXPECT_EQ(int32_t(value->w2), -i);
    }
    gc::enabled = 0;
}

// --- The collector's hooks ------------------------------------------------------------------------------

std::vector<std::pair<char, node_ref>> marked;
std::set<node_ref> live_nodes;

TEST_F(Hashtable, GcMarkAndSweepRecords) {
    hashtable::gc_marker marker{
        [](node_ref n) { marked.emplace_back('s', n); },
        [](node_ref n) { marked.emplace_back('c', n); },
        [](node_ref n) { return live_nodes.count(n) > 0; },
    };
    // Kind 4: keys are series nodes; the second value cell is the owner object.
    node_ref table = rooted(hashtable::make(8, nullptr, hashtable::KIND_OWNERSHIP, 3));
    std::vector<node_ref> keys, owners;
    for (int i = 0; i < 6; ++i) {
        keys.push_back(memory::alloc_bytes(16));
        *stack::push_slot() = cell{TYPE_BINARY, 0, keys.back(), 0};
        owners.push_back(memory::alloc_bytes(16));
        *stack::push_slot() = cell{TYPE_BINARY, 0, owners.back(), 0};
    }
    for (int i = 0; i < 6; ++i) {
        cell* v = hashtable::put_record(table, int32_t(keys[i]));
        v[0] = cell{TYPE_BINARY, 0, keys[i], 0};
        v[1] = cell{TYPE_OBJECT, owners[i], 0, 0};
        v[2] = integer_cell(i);
    }
    marked.clear();
    hashtable::gc_mark(table, marker);
    hashtable::table_record rec = record(table);
    std::vector<std::pair<char, node_ref>> expected{
        {'s', table}, {'s', node_ref(rec.flags)}, {'s', node_ref(rec.keys)}, {'s', node_ref(rec.values)}};
    EXPECT_EQ(marked, expected) << "records are not traced: the table holds them weakly";

    // Alive: records 0, 1 (key and owner marked); dead: 2, 3 (key not marked), 4 (owner not marked).
    live_nodes = {keys[0], keys[1], keys[4], keys[5], owners[0], owners[1], owners[2], owners[5]};
    cell* fifth = hashtable::get_record(table, int32_t(keys[5]));
    fifth[1] = integer_cell(0);  // not an object: only the key decides
    cell* dead_cells = hashtable::get_record(table, int32_t(keys[2]));
    hashtable::sweep_records(table, marker);
    EXPECT_EQ(record(table).size, 3);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(hashtable::get_record(table, int32_t(keys[i])) != nullptr, i == 0 || i == 1 || i == 5) << i;
    }
    EXPECT_EQ(dead_cells[-1].header, 0u);
    EXPECT_EQ(dead_cells[-1].w1, 0u) << "the key cell is cleared";
    EXPECT_EQ(dead_cells[0].header, uint32_t(TYPE_UNSET)) << "and the value cells";
    EXPECT_EQ(dead_cells[1].header, uint32_t(TYPE_UNSET));
    live_nodes.clear();

    // Kinds 0-2 trace their value series.
    node_ref map = rooted(hashtable::make(4, nullptr, hashtable::KIND_MAP, 0));
    marked.clear();
    hashtable::gc_mark(map, marker);
    ASSERT_EQ(marked.size(), 5u) << "the record, flags, keys, key hashes and values";
    EXPECT_NE(std::find(marked.begin(), marked.end(), std::make_pair('s', node_ref(record(map).duplicates))),
              marked.end());
    EXPECT_EQ(marked.back(), std::make_pair('c', node_ref(record(map).values)));
    hashtable::sweep_records(map, marker);  // nothing to sweep in a map
    EXPECT_EQ(record(map).size, 0);
}

// --- The address map ----------------------------------------------------------------------------------------

TEST_F(Hashtable, AddressMap) {
    hashtable::address_map* map = hashtable::make_address_map(0);
    EXPECT_EQ(hashtable::address_map_buckets(map), 8);
    EXPECT_EQ(hashtable::address_map_get(map, 5), nullptr);
    constexpr uint32_t N = 30000;
    for (uint32_t k = 0; k < N; ++k) hashtable::address_map_put(map, k * 8, k + 1);
    EXPECT_EQ(hashtable::address_map_count(map), int32_t(N));
    EXPECT_EQ(hashtable::address_map_buckets(map), 65536);
    hashtable::address_map_put(map, 16, 777);  // replaces
    EXPECT_EQ(hashtable::address_map_count(map), int32_t(N));
    for (uint32_t k = 0; k < N; ++k) {
        uint32_t* value = hashtable::address_map_get(map, k * 8);
        ASSERT_NE(value, nullptr) << k;
        EXPECT_EQ(*value, k == 2 ? 777u : k + 1);
    }
    EXPECT_EQ(hashtable::address_map_get(map, 4), nullptr);
    EXPECT_EQ(hashtable::address_map_get(map, N * 8), nullptr);
    hashtable::free_address_map(map);
}

}  // namespace
}  // namespace zor
