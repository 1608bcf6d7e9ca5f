// The ZORBIN codec: the byte forms of both variants, round trips of every serializable
// datatype (shared, cyclic and nested series, objects with bound words, functions and
// the words of their bodies), hostile input (truncations, sizes that lie, indexes out of
// range), the encoder under collector torture, and the zorbin codec's routines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boot/routine-table.h"
#include "boot/routines/routines.h"
#include "codecs/lz.h"
#include "codecs/zorbin.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/binding/symbol.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/memory/memory.h"
#include "tests/unit/interpreter_fixture.h"

namespace zor {
namespace {

using bytes = std::vector<uint8_t>;
using testing::mold_of;

int code_of(err e) { return error_catalogue::code_of(e); }

class ZorbinTest : public testing::interpreter_fixture {
protected:
    void SetUp() override {
        interpreter_fixture::SetUp();
        for (int i = 0; const char* name = natives::named_typeset_name(i); ++i) {
            cell types;
            ASSERT_TRUE(natives::named_typeset(name, &types));
            testing::set_global(name, &types);
        }
        using enum natives::native_index;
        for (int index : {NATIVE_FUNC, NATIVE_DOES, NATIVE_SAME_Q, NATIVE_REDUCE, NATIVE_IN, NATIVE_GET}) {
            const natives::spec_entry* e = natives::spec_of(index);
            std::string spec(e->spec_text.substr(1, e->spec_text.size() - 2));
            testing::define_callable(e->name, TYPE_NATIVE, index, spec);
        }
        testing::define_callable("make", TYPE_ACTION, ACTION_MAKE, "type spec");
        testing::define_callable("reflect", TYPE_ACTION, ACTION_REFLECT, "value field");
        testing::define_callable("complement", TYPE_ACTION, ACTION_COMPLEMENT, "value");
        testing::define_callable("next", TYPE_ACTION, ACTION_NEXT, "series");
        testing::define_callable("pick", TYPE_ACTION, ACTION_PICK, "series index");
        testing::define_callable("select", TYPE_ACTION, ACTION_SELECT, "series value");
        testing::define_callable("find", TYPE_ACTION, ACTION_FIND, "series value");
        for (int t = 1; t <= type_registry::max_type_id; ++t) {
            const char* name = type_registry::type_entries[t].name;
            cell datatype = datatype::value_of(static_cast<type_id>(t));
            if (name) testing::set_global(name, &datatype);
        }
        cell none{TYPE_NONE, 0, 0, 0}, yes{TYPE_LOGIC, 1, 0, 0}, no{TYPE_LOGIC, 0, 0, 0};
        testing::set_global("none", &none);
        testing::set_global("true", &yes);
        testing::set_global("false", &no);
        reset_stack();
    }

    // Loads the text with the lexer and evaluates it; answers the result's stack slot.
    cell* value_of(const std::string& text) {
        cell* source = string::load_onto_stack(unicode::input_bytes::at(text.data()), int64_t(text.size()),
                                               string::ENCODING_UTF8);
        cell* code = block::push_empty(8);
        lexer::scan_string_into_block(source, code);
        cell* result = stack::state.args_top;
        EXPECT_EQ(eval::eval_block(code, false), 0u);
        stack::pending_code = 0;
        return result;
    }

    static bytes encode(const cell* value, bool compact) {
        cell* blob = compact ? zorbin::encode_compact(value) : zorbin::encode_fixed(value);
        bytes out = binary::rest_bytes(blob);
        stack::drop_slots(1);
        return out;
    }

    // Decodes into a new block (pushed); answers it.
    static cell* decode(const bytes& data) {
        cell* target = block::push_empty(1);
        zorbin::current_mode = zorbin::mode::run_time;
        zorbin::decode(data.data(), int64_t(data.size()), target);
        return target;
    }

    // The one value a blob decodes to.
    static cell* decoded(const bytes& data) {
        cell* target = decode(data);
        EXPECT_EQ(memory::buffer_of(target->w2)->length(), 1);
        return memory::buffer_of(target->w2)->head_cell();
    }

    // The error code (and arg1 molded) that decoding raises, or -1.
    static std::pair<int, std::string> decode_error(const bytes& data) {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            decode(data);
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            cell* e = stack::last_slot();
            return {error::code_of(e), mold_of(error::field_of(e, error::FIELD_ARG1))};
        }
        return {-1, ""};
    }

    static int encode_error(const cell* value, bool compact) {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            encode(value, compact);
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            return error::code_of(stack::last_slot());
        }
        return -1;
    }

    // The records of a compact blob: what follows the envelope of a stream without symbols.
    static bytes records_of(const bytes& blob) {
        EXPECT_EQ(blob[7] & 4, 0) << "the value uses symbols";
        size_t at = 8;
        while (blob[at] & 0x80) ++at;  // value count
        ++at;
        while (blob[at] & 0x80) ++at;  // records length
        ++at;
        return bytes(blob.begin() + long(at), blob.end());
    }

    // Molds the value and its decoding of each variant; the caller compares.
    void expect_round_trip(const std::string& text) {
        for (bool compact : {true, false}) {
            cell* original = stack::push_copy(value_of(text));
            std::string expected = mold_of(original);
            bytes blob = encode(original, compact);
            EXPECT_EQ(mold_of(decoded(blob)), expected) << text << (compact ? " (compact)" : " (fixed)");
            reset_stack();
        }
    }
};

TEST_F(ZorbinTest, CompactScalarsHaveTheirShortestForms) {
    struct example {
        const char* code;
        bytes records;
    } examples[] = {
        {"63", {0xBF}},
        {"64", {0x0B, 0x80, 0x01}},
        {"0", {0x80}},
        {"-1", {0x0B, 0x01}},
        {"2.0", {0x4C, 0x04}},
        {"2.5", {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x40}},
        {"-0.0", {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
        {"12%", {0x66, 0x18}},
        {"12.5%", {0x26, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x3F}},
        {"1.2.3", {0x27, 1, 2, 3}},
        {"1.2.3.4", {0x67, 4, 1, 2, 3, 4}},
        {"true", {0xC2}},
        {"none", {0x03}},
        {"#\"a\"", {0x0A, 0x61}},
        {"10x-20", {0x25, 0x14, 0x27}},
        {"\"ab\"", {0x07, 0x08, 'a', 'b'}},
        {"#{CAFE}", {0x29, 0x02, 0xCA, 0xFE}},
    };
    for (const example& e : examples) {
        cell* v = stack::push_copy(value_of(e.code));
        bytes blob = encode(v, true);
        EXPECT_EQ(bytes(blob.begin(), blob.begin() + 8), (bytes{'Z', 'O', 'R', 'B', 'I', 'N', 2, 1})) << e.code;
        EXPECT_EQ(records_of(blob), e.records) << e.code;
        reset_stack();
    }
}

TEST_F(ZorbinTest, FixedFloatsAreAlignedAndStringsPadded) {
    // [1 2.5]: the float after an odd number of words (block header, head, count, integer
    // header and value) gets one zero word first.
    cell* v = stack::push_copy(value_of("[1 2.5]"));
    bytes blob = encode(v, false);
    ASSERT_EQ(blob[7], 0);
    bytes records(blob.begin() + 16, blob.end());
    ASSERT_EQ(records.size(), 4u * 3 + 4u * 2 + 4u + 4u * 3);
    EXPECT_EQ(bytes(records.begin() + 20, records.begin() + 24), (bytes{0, 0, 0, 0}));
    EXPECT_EQ(records[24], TYPE_FLOAT);
    EXPECT_EQ(mold_of(decoded(blob)), "[1 2.5]");
    reset_stack();

    // Five Latin-1 characters: header, head index, length and eight data bytes.
    v = stack::push_copy(value_of("\"abcde\""));
    blob = encode(v, false);
    EXPECT_EQ(blob.size(), 16u + 4 * 3 + 8);
    EXPECT_EQ(blob[16 + 1], 1) << "unit width in header bits 8-12";
    EXPECT_EQ(mold_of(decoded(blob)), "\"abcde\"");
    reset_stack();

    // A tuple of length 4 carries its length in header bits 8-11.
    v = stack::push_copy(value_of("1.2.3.4"));
    blob = encode(v, false);
    EXPECT_EQ(blob[16], TYPE_TUPLE);
    EXPECT_EQ(blob[17], 4);
    EXPECT_EQ(mold_of(decoded(blob)), "1.2.3.4");
}

TEST_F(ZorbinTest, EveryLiteralTypeRoundTrips) {
    const char* cases[] = {
        "[1 -5 1000000 -2147483648 2.5 -0.0 1.0e300 12.5% 50% 1:30 -0:00:01.5 10x20 #\"a\" #\"^(2603)\"]",
        "[\"abc\" \"Ünï\" \"日本\" \"😀\" %file.txt http://a.b/c <tag a=1> a@b.c @ref]",
        "[1.2.3.4 1.2.3 $12.50 -$3 EUR$1.25 #{DEADBEEF} #{} 2026-12-10 2026-12-10/12:30:15+01:00]",
        "[word set-word: 'lit :get /ref #issue none true false]",
        "[[nested [deep [deeper]]] (paren 1) a/b/c 'a/b a/b: :a/b [] \"\"]",
        "[(1.5, 2) (1, 2, 3)]",
        "reduce [integer! block! none true false]",
        "next next [a b c d]",
        "next \"abc\"",
        "make typeset! [integer! string! block!]",
        "make map! [a 1 \"k\" [v] 3 x]",
        "make hash! [a 1 b 2]",
        "make vector! [integer! 16 [1 -2 3]]",
        "make vector! [integer! 8 [1 -2 3]]",
        "make vector! [float! 32 [1.5 2.5]]",
        "make vector! [float! 64 [1.5 -2.25 1e300]]",
        "make vector! [percent! [1.5% 2%]]",
        "make vector! [char! 32 [#\"a\" #\"b\"]]",
        "make bitset! #{F0FF}",
        "complement make bitset! #{01}",
        "make object! [a: 1 b: \"two\" c: [3]]",
        "make error! 305",
    };
    for (const char* text : cases) expect_round_trip(text);
}

TEST_F(ZorbinTest, SharedAndCyclicSeriesKeepTheirIdentity) {
    for (bool compact : {true, false}) {
        // Two cells over one block, and a string shared from two places at two indexes.
        cell* v = stack::push_copy(value_of("b: [1 2] s: \"xyz\" reduce [b b s next s]"));
        bytes blob = encode(v, compact);
        if (compact) {
            bytes r = records_of(blob);
            EXPECT_EQ(r[0], 0x05);
            EXPECT_EQ(r[1], 4);
            EXPECT_EQ((bytes(r.begin() + 6, r.begin() + 10)), (bytes{0xC1, 0x05, 2, 0})) << "block reference";
        }
        cell* d = stack::push_copy(decoded(blob));
        cell* cells = memory::buffer_of(d->w2)->head_cell();
        EXPECT_EQ(cells[0].w2, cells[1].w2);
        EXPECT_EQ(cells[2].w2, cells[3].w2);
        EXPECT_EQ(cells[3].w1, 1u);
        EXPECT_EQ(mold_of(d), "[[1 2] [1 2] \"xyz\" \"yz\"]");
        reset_stack();

        // A block that holds itself.
        v = stack::push_copy(value_of("b: [1] append/only b b b"));
        d = stack::push_copy(decoded(encode(v, compact)));
        cell* inner = memory::buffer_of(d->w2)->head_cell() + 1;
        EXPECT_EQ(inner->type(), TYPE_BLOCK);
        EXPECT_EQ(inner->w2, d->w2);
        reset_stack();
    }
}

TEST_F(ZorbinTest, ObjectsFunctionsAndBoundWordsWorkAfterDecoding) {
    for (bool compact : {true, false}) {
        // An object whose function reads a field, and the object's word taken out of it.
        cell* v = stack::push_copy(value_of(
            "o: make object! [a: 10 f: func [x] [x + a] g: does [f 5]] reduce [o in o 'a o in o 'f]"));
        cell* d = stack::push_copy(decoded(encode(v, compact)));
        testing::set_global("d", d);
        EXPECT_EQ(mold_of(value_of("same? pick d 1 pick d 3")), "true");
        EXPECT_EQ(mold_of(value_of("get pick d 2")), "10");
        EXPECT_EQ(mold_of(value_of("o2: pick d 1 o2/g")), "15");
        EXPECT_EQ(mold_of(value_of("o2/f 1")), "11");
        reset_stack();

        // A function alone; its body's words are bound to its own context.
        v = stack::push_copy(value_of("func [a b /local c] [c: a * b c + 1]"));
        d = stack::push_copy(decoded(encode(v, compact)));
        testing::set_global("f2", d);
        EXPECT_EQ(mold_of(value_of("f2 6 7")), "43");
        reset_stack();
    }
}

TEST_F(ZorbinTest, WordsOfFunctionContextsAndOpsRoundTrip) {
    for (bool compact : {true, false}) {
        // The word comes first: the function is written as its owner, right after it.
        cell* v = stack::push_copy(value_of("h: func [n] [n * 2] reduce [pick reflect :h 'body 1 :h]"));
        cell* d = stack::push_copy(decoded(encode(v, compact)));
        cell* cells = memory::buffer_of(d->w2)->head_cell();
        EXPECT_EQ(cells[0].type(), TYPE_WORD);
        EXPECT_EQ(cells[1].type(), TYPE_FUNCTION);
        EXPECT_EQ(cells[0].w1, cells[1].w1);
        testing::set_global("d", d);
        EXPECT_EQ(mold_of(value_of("h2: pick d 2 h2 21")), "42");
        reset_stack();
        v = stack::push_copy(value_of("f: func [a b] [a - b] reduce [make op! :f make op! :add :f]"));
        d = stack::push_copy(decoded(encode(v, compact)));
        cells = memory::buffer_of(d->w2)->head_cell();
        EXPECT_EQ(cells[0].type(), TYPE_OP);
        EXPECT_EQ(cells[1].type(), TYPE_OP);
        EXPECT_EQ(cells[0].w1, cells[2].w1) << "the op! and the function share one context";
        EXPECT_LT(op::inline_code(&cells[0]), 0) << "a function's op! has no inline work";
        EXPECT_EQ(op::inline_code(&cells[1]), op::inline_code(value_of("make op! :add")))
            << "a decoded op! of add keeps its inline work";
        testing::set_global("d", d);
        EXPECT_EQ(mold_of(value_of("f3: pick d 3 f3 10 4")), "6");
        reset_stack();

        v = stack::push_copy(value_of("reduce [:add :func :reduce]"));
        EXPECT_EQ(mold_of(decoded(encode(v, compact))), mold_of(v));
        reset_stack();
    }
}

TEST_F(ZorbinTest, UnserializableTypesRaiseNoCodec) {
    cell triple{TYPE_TRIPLE, 1, 2, 3};
    EXPECT_EQ(encode_error(&triple, true), code_of(err::access_no_codec));
    EXPECT_EQ(encode_error(&triple, false), code_of(err::access_no_codec));
    bytes record = {'Z', 'O', 'R', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_TRIPLE};
    EXPECT_EQ(decode_error(record).first, code_of(err::access_no_codec));
}

TEST_F(ZorbinTest, EveryTruncationRaisesInvalidData) {
    for (bool compact : {true, false}) {
        cell* v = stack::push_copy(value_of(
            "o: make object! [a: 1 f: func [x] [x + a]] b: [\"s\" 2.5 $1] reduce [o b b 1.2.3 #{01} in o 'a]"));
        bytes blob = encode(v, compact);
        ASSERT_EQ(decode_error(blob).first, -1);
        for (size_t n = 0; n < blob.size(); ++n) {
            bytes cut(blob.begin(), blob.begin() + long(n));
            EXPECT_EQ(decode_error(cut).first, code_of(err::script_invalid_data)) << n << " of " << blob.size();
            reset_stack();
            v = stack::push_copy(value_of("none"));
        }
        reset_stack();
    }
}

TEST_F(ZorbinTest, HostileRecordsRaiseInvalidRecordWithTheirOffset) {
    auto compact = [](bytes records) {
        bytes blob = {'Z', 'O', 'R', 'B', 'I', 'N', 2, 1, 1, static_cast<uint8_t>(records.size())};
        blob.insert(blob.end(), records.begin(), records.end());
        return blob;
    };
    int invalid_record = code_of(err::script_zb_invalid_record);
    struct hostile {
        const char* why;
        bytes records;
        int offset;  // 1-based, of the failing read
    } cases[] = {
        {"type id 0", {0x00}, 11},
        {"a string that claims a gigabyte", {0x07, 0xFC, 0xFF, 0xFF, 0xFF, 0x0F, 'a'}, 12},
        {"a block that claims more cells than bytes", {0x05, 0x7F, 0x80}, 12},
        {"a varint of six bytes", {0x0B, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, 16},
        {"string unit code 3", {0x07, 0x07, 'a'}, 12},
        {"a tuple of 13 bytes", {0x67, 13}, 12},
        {"a typeset of 13 bytes", {0x21, 13}, 12},
        {"a native index past the filled entries", {0x15, 0x6C, 0x05, 0x00}, 12},
        {"an action index past 62", {0x16, 0x3F, 0x05, 0x00}, 12},
        {"a reference to the record's own place", {0xC1, 0x05, 0x01, 0x00}, 13},
        {"a path of no elements", {0xFF, 0x00}, 12},
        {"a binding prefix at run time", {0xC4, 0x0F, 0x00}, 11},
        {"a prefix before a short integer", {0xC1, 0x80}, 12},
        {"a symbol index without a table", {0x0F, 0x00}, 12},
        {"a date whose flag disagrees", {0x6F, 0x00, 0x00, 0x00, 0x00}, 12},
        {"a char beyond Unicode", {0x0A, 0x80, 0x80, 0xC4, 0x00}, 12},
        {"a vector of 8-byte integers", {0x23, 0x2F, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, 12},
        {"a UCS-4 string above U+10FFFF", {0x07, 0x06, 0x00, 0x00, 0x11, 0x00}, 13},
        {"an image of 70,000 pixels a row", {0x35, 0xF0, 0xA2, 0x04, 0x01}, 12},
    };
    for (const hostile& h : cases) {
        auto [code, arg1] = decode_error(compact(h.records));
        EXPECT_EQ(code, invalid_record) << h.why;
        EXPECT_EQ(arg1, std::to_string(h.offset)) << h.why;
        reset_stack();
    }
    // A few bytes that are not ZORBIN at all.
    EXPECT_EQ(decode_error(bytes{'N', 'O', 'T', 'Z', 'O', 'R', 2, 1, 1, 0}).first, code_of(err::script_invalid_data));
    // A fixed payload shorter than its two words.
    EXPECT_EQ(decode_error(bytes{'Z', 'O', 'R', 'B', 'I', 'N', 2, 0, 1, 0, 0}).first,
              code_of(err::script_invalid_data));
}

TEST_F(ZorbinTest, BootModeBindsWordsAndKeepsNativeSpecsAsLiterals) {
    // A symbol table of one name, then: a binding of that word to 10 (both records leave
    // the block again), the word itself, and the native `if` with its spec block.
    bytes blob = {'Z', 'O', 'R', 'B', 'I', 'N', 1, 5, 3, 0, 1, 8, 0, 0, 0, 0};
    for (char c : std::string("zb-boot")) blob.push_back(static_cast<uint8_t>(c));
    blob.push_back(0);
    bytes records = {0xC4, 0x0F, 0x00, 0x8A, 0x0F, 0x00, 0x15, 0x01, 0x05, 0x01, 0x0F, 0x00};
    blob[9] = static_cast<uint8_t>(records.size());
    blob.insert(blob.end(), records.begin(), records.end());
    cell* target = block::push_empty(4);
    zorbin::mode saved = zorbin::current_mode;
    cell* saved_base = literal_base;
    zorbin::current_mode = zorbin::mode::boot;
    cell* base = zorbin::decode(blob.data(), int64_t(blob.size()), target);
    zorbin::current_mode = saved;
    literal_base = saved_base;
    memory::series_buffer* b = memory::buffer_of(target->w2);
    ASSERT_EQ(b->length(), 3) << "the word, the native and its spec";
    EXPECT_EQ(base, b->head_cell());
    EXPECT_EQ(mold_of(value_of("zb-boot")), "10");
    EXPECT_EQ(b->head_cell()[1].type(), TYPE_NATIVE);
    EXPECT_EQ(b->head_cell()[2].type(), TYPE_BLOCK);
    EXPECT_EQ(b->head_cell()[2].w2, b->head_cell()[1].w2) << "the spec literal is the native's spec";
}

TEST_F(ZorbinTest, AnInvalidBootImageEndsTheProcessWithStatusOne) {
    bytes not_zorbin = {'N', 'O', 'T', ' ', 'Z', 'B', 1, 1, 1, 0};
    EXPECT_EXIT(zorbin::load_boot_data(not_zorbin.data(), int64_t(not_zorbin.size()), true),
                ::testing::ExitedWithCode(1), "Error: Not a Zorbin file!");
    bytes corrupt = {'Z', 'O', 'R', 'B', 'I', 'N', 1, 3, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EXIT(zorbin::load_boot_data(corrupt.data(), int64_t(corrupt.size()), true),
                ::testing::ExitedWithCode(1), "Error: Zorbin compressed data corrupted!");
}

TEST_F(ZorbinTest, CompressedPayloadsDecode) {
    cell* v = stack::push_copy(value_of("[\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\" 1 2 3]"));
    bytes blob = encode(v, true);
    bytes payload(blob.begin() + 8, blob.end());
    std::vector<uint8_t> packed(payload.size() + 64);
    int64_t size = lz::compress(payload.data(), int64_t(payload.size()), packed.data());
    ASSERT_GT(size, 0);
    bytes compressed(blob.begin(), blob.begin() + 8);
    compressed[7] |= 2;
    compressed.insert(compressed.end(), packed.begin(), packed.begin() + size);
    EXPECT_EQ(mold_of(decoded(compressed)), mold_of(v));
    compressed[12] ^= 0x55;
    EXPECT_EQ(decode_error(compressed).first, code_of(err::script_invalid_data));
}

TEST_F(ZorbinTest, EncodingUnderCollectorTortureGivesTheSameBytes) {
    cell* v = stack::push_copy(value_of(
        "b: [1 \"two\" 3.5 [x y]] o: make object! [k: b f: func [n] [n + 1]] "
        "reduce [b o b in o 'k make map! [a 1] make hash! [q 2] \"tail\" b]"));
    bytes calm = encode(v, true);
    bytes calm_fixed = encode(v, false);
    bool was = gc::torture_mode();
    gc::set_torture_mode(true);
    bytes tortured = encode(v, true);
    bytes tortured_fixed = encode(v, false);
    std::string decoded_text = mold_of(decoded(tortured));
    gc::set_torture_mode(was);
    EXPECT_EQ(tortured, calm);
    EXPECT_EQ(tortured_fixed, calm_fixed);
    EXPECT_EQ(decoded_text, mold_of(v));
}

// Past a few megabytes the records are written straight into the result: a series met
// before that point and again after it still becomes a reference, and thousands of long
// symbol names (a front larger than the room kept for it) move the records up intact.
TEST_F(ZorbinTest, LargeEncodingsRoundTripWithTheirSymbolsAndReferences) {
    constexpr int64_t BLOB_BYTES = 6 << 20;
    for (int symbols : {1, 3000}) {
        for (bool compact : {true, false}) {
            cell* top = block::push_empty(symbols + 3);
            cell* shared = stack::push_copy(value_of("[1 \"two\"]"));
            block::append_copy(top, shared);
            cell* blob = binary::make_at(stack::push_slot(), BLOB_BYTES);
            memory::series_buffer* b = memory::buffer_of(blob->w2);
            for (int64_t i = 0; i < BLOB_BYTES; ++i) b->head[i] = std::byte(uint8_t(i * 7 + i / 251));
            b->tail = b->head + BLOB_BYTES;
            block::append_copy(top, blob);
            for (int i = 0; i < symbols; ++i) {
                std::string name = "a-rather-long-word-name-" + std::to_string(i);
                cell* w = word::make_global_in_cell(symbol::make(name.c_str()), stack::push_slot());
                block::append_copy(top, w);
            }
            block::append_copy(top, shared);
            cell* original = stack::push_copy(top);

            cell* d = stack::push_copy(decoded(encode(original, compact)));
            std::string what = std::to_string(symbols) + (compact ? " symbols (compact)" : " symbols (fixed)");
            memory::series_buffer* db = memory::buffer_of(d->w2);
            ASSERT_EQ(db->length(), symbols + 3) << what;
            cell* cells = db->head_cell();
            EXPECT_EQ(cells[0].w2, cells[symbols + 2].w2) << what << ": the shared block stays one";
            EXPECT_EQ(mold_of(&cells[0]), "[1 \"two\"]") << what;
            memory::series_buffer* decoded_blob = memory::buffer_of(cells[1].w2);
            ASSERT_EQ(decoded_blob->tail - decoded_blob->head, BLOB_BYTES) << what;
            EXPECT_EQ(std::memcmp(decoded_blob->head, memory::buffer_of(blob->w2)->head, BLOB_BYTES), 0) << what;
            EXPECT_EQ(mold_of(&cells[symbols + 1]), "a-rather-long-word-name-" + std::to_string(symbols - 1)) << what;
            reset_stack();
        }
    }
}

TEST_F(ZorbinTest, CodecRoutinesEncodeAndDecode) {
    boot::register_all_routines();
    const boot::boot_routine* encode_star = boot::find_routine("zorbin/encode*");
    const boot::boot_routine* decode_routine = boot::find_routine("zorbin/decode");
    ASSERT_NE(encode_star, nullptr);
    ASSERT_NE(decode_routine, nullptr);
    auto call = [](const boot::boot_routine* r, std::initializer_list<cell> arguments) {
        cell* first = stack::state.args_top;
        for (const cell& a : arguments) stack::push_copy(&a);
        return reinterpret_cast<eval::routine_cell_code>(r->code)(first);
    };
    auto raised_by = [&](const boot::boot_routine* r, std::initializer_list<cell> arguments) {
        stack::stack_guard guard;
        stack::push_try_frame();
        try {
            call(r, arguments);
        } catch (const zor_throw& thrown) {
            if (thrown.code != THROW_ERROR) throw;
            return error::code_of(stack::last_slot());
        }
        return -1;
    };
    cell yes{TYPE_LOGIC, 1, 0, 0}, no{TYPE_LOGIC, 0, 0, 0};
    cell seven{TYPE_INTEGER, 0, 7, 0};
    for (const cell& compact : {yes, no}) {
        cell blob = *call(encode_star, {seven, compact});
        EXPECT_EQ(mold_of(call(decode_routine, {blob})), "7") << "one value comes back alone";
        cell two = *value_of("[1 2]");
        blob = *call(encode_star, {two, compact});
        EXPECT_EQ(mold_of(call(decode_routine, {blob})), "[1 2]") << "a block of two stays a block";
    }
    cell ten = *value_of("#{5A4F5242494E02010100}");
    EXPECT_EQ(raised_by(decode_routine, {ten}), code_of(err::script_invalid_data));
    EXPECT_EQ(raised_by(decode_routine, {seven}), code_of(err::script_invalid_data));
}

}  // namespace
}  // namespace zor
