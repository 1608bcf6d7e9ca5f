// The LZ codec: round trips over varied data and chunk boundaries; the compressor's
// tokens read back by a parser of the stream format written here from its tables; the
// decompressor over hand-built streams at every boundary of the length and distance
// codes; and corrupt blobs (truncated, bit-flipped, inconsistent) refused without
// reading or writing out of bounds. Blobs and destinations are passed in heap blocks of
// exactly their size, so a sanitizer build catches any access past them.
#include "codecs/lz.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace lz = zor::lz;
using bytes = std::vector<uint8_t>;

// ---- helpers -----------------------------------------------------------------------

// A copy of the data in a heap block of exactly its size.
std::unique_ptr<uint8_t[]> exact_copy(const bytes& data) {
    auto block = std::make_unique<uint8_t[]>(data.size());
    if (!data.empty()) std::memcpy(block.get(), data.data(), data.size());
    return block;
}

// The blob, or empty when compress answers -1 (then *total is -1).
bytes compress(const bytes& input, int64_t* total = nullptr) {
    auto destination = std::make_unique<uint8_t[]>(input.size());
    int64_t size = lz::compress(input.data(), int64_t(input.size()), destination.get());
    if (total) *total = size;
    if (size < 0) return {};
    return bytes(destination.get(), destination.get() + size);
}

struct decompressed {
    bool ok;
    bytes data;
    bool zero_tail;  // the 8 bytes after the output are zero
};

decompressed decompress(const bytes& blob) {
    auto copy = exact_copy(blob);
    int64_t size = -7;
    uint8_t* out = lz::decompress(copy.get(), blob.size(), &size);
    if (!out) {
        EXPECT_EQ(size, 0);
        return {false, {}, false};
    }
    decompressed d{true, bytes(out, out + size), true};
    for (int i = 0; i < 8; ++i) d.zero_tail = d.zero_tail && out[size + i] == 0;
    lz::release_buffer(out);
    return d;
}

uint32_t load32(const bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void store32(bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// ---- the stream format, as its tables give it --------------------------------------

// Length code forms: the number of zero bits in the prefix (a one follows, except after
// five), the value bits, and the n of value 0; the match length is n + 3.
struct length_form {
    int zeros, value_bits;
    uint32_t base;
};
const length_form LENGTH_FORMS[] = {{0, 2, 0}, {1, 2, 4}, {2, 2, 8}, {3, 3, 12}, {4, 5, 20}, {5, 9, 52}};

struct token {
    bool match;
    uint8_t byte;           // literal
    int form;               // match: index into LENGTH_FORMS
    uint32_t length_value;  // match: the value bits of the length code
    uint32_t length;        // match: n + 3
    uint32_t k;             // match: the 4-bit distance class
    uint32_t distance;      // match: d + 1
};

struct chunk {
    uint32_t length;
    std::vector<token> tokens;
};

// Reads a well-formed blob token by token; fails the test on any inconsistency.
std::vector<chunk> parse(const bytes& blob) {
    std::vector<chunk> chunks;
    EXPECT_GE(blob.size(), 8u);
    uint32_t compressed = load32(blob, 0);
    EXPECT_EQ(size_t(compressed) + 8, blob.size());
    lz::bit_reader r;
    r.input = blob.data() + 8;
    r.limit = compressed;
    while (r.position < r.limit) {
        chunk c{};
        c.length = lz::get_bits(32, r);
        EXPECT_GE(c.length, 1u);
        EXPECT_LE(c.length, 0x100000u);
        uint32_t produced = 0;
        while (produced < c.length && !r.overrun) {
            token t{};
            t.match = lz::get_bits(1, r) == 1;
            if (!t.match) {
                t.byte = uint8_t(lz::get_bits(8, r));
                ++produced;
            } else {
                int zeros = 0;
                while (zeros < 5 && lz::get_bits(1, r) == 0) ++zeros;
                t.form = zeros;
                t.length_value = lz::get_bits(LENGTH_FORMS[zeros].value_bits, r);
                t.length = LENGTH_FORMS[zeros].base + t.length_value + 3;
                t.k = lz::get_bits(4, r);
                uint32_t j = t.k + 2;
                uint32_t d = j > 2 ? lz::get_bits(int(j), r) + (1u << j) : lz::get_bits(3, r);
                t.distance = d + 1;
                EXPECT_LE(t.distance, produced) << "a match reaches before its chunk";
                produced += t.length;
            }
            c.tokens.push_back(t);
        }
        EXPECT_FALSE(r.overrun);
        EXPECT_EQ(produced, c.length) << "the last match overruns its chunk";
        lz::reset(r);
        bool consistent = !r.overrun && produced == c.length;
        chunks.push_back(std::move(c));
        if (!consistent) break;
    }
    return chunks;
}

// Writes streams from the format's tables, independently of the codec's writer.
class stream_writer {
public:
    void bits(int count, uint32_t value) {
        for (int i = 0; i < count; ++i) {
            if (bit_count_ % 8 == 0) area_.push_back(0);
            if ((value >> i) & 1) area_.back() |= uint8_t(1u << (bit_count_ % 8));
            ++bit_count_;
        }
    }
    void begin_chunk(uint32_t length) {
        bit_count_ = 0;  // pads the previous chunk to a byte boundary
        for (int i = 0; i < 4; ++i) area_.push_back(uint8_t(length >> (8 * i)));
    }
    void literal(uint8_t byte) {
        bits(1, 0);
        bits(8, byte);
    }
    void match(uint32_t length, uint32_t distance) {
        bits(1, 1);
        uint32_t n = length - 3;
        for (int f = 0; f < 6; ++f) {
            const length_form& form = LENGTH_FORMS[f];
            if (n < form.base + (1u << form.value_bits)) {
                bits(form.zeros, 0);
                if (form.zeros < 5) bits(1, 1);
                bits(form.value_bits, n - form.base);
                break;
            }
        }
        uint32_t d = distance - 1;
        uint32_t m = 2;
        while (d >= (1u << (m + 1))) ++m;
        bits(4, m - 2);
        if (m > 2) bits(int(m), d - (1u << m));
        else bits(3, d);
    }
    // The blob with the given header fields (by default the true sizes).
    bytes blob(int64_t uncompressed, int64_t compressed_field = -1) const {
        bytes out(8 + area_.size());
        store32(out, 0, uint32_t(compressed_field >= 0 ? compressed_field : int64_t(area_.size())));
        store32(out, 4, uint32_t(uncompressed));
        std::copy(area_.begin(), area_.end(), out.begin() + 8);
        return out;
    }

private:
    bytes area_;
    int64_t bit_count_ = 0;
};

// ---- inputs ------------------------------------------------------------------------

bytes text_of(size_t n, uint32_t seed) {
    static const char* const WORDS[] = {"the ", "value ", "block ", "series ", "of ", "and ", "word ",
                                        "[print 1 + 2] ", "context ", "binding ", "make ", "object! ", "\n"};
    std::mt19937 random(seed);
    bytes out;
    while (out.size() < n) {
        const char* w = WORDS[random() % std::size(WORDS)];
        out.insert(out.end(), w, w + std::strlen(w));
        if (random() % 7 == 0) out.push_back(uint8_t('0' + random() % 10));
    }
    out.resize(n);
    return out;
}

bytes random_of(size_t n, uint32_t seed, uint32_t alphabet = 256) {
    std::mt19937 random(seed);
    bytes out(n);
    for (auto& b : out) b = uint8_t(random() % alphabet);
    return out;
}

// Random blocks, some of them copies of earlier ones at distances up to past the window.
bytes repeats_of(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    bytes out;
    while (out.size() < n) {
        size_t block = 16 + random() % 1200;
        if (out.size() > 4096 && random() % 4 != 0) {
            size_t distance = 1 + random() % std::min<size_t>(out.size(), 0x48000);
            size_t from = out.size() - distance;
            for (size_t i = 0; i < block; ++i) out.push_back(out[from + i]);  // may overlap
        } else {
            for (size_t i = 0; i < block; ++i) out.push_back(uint8_t(random()));
        }
    }
    out.resize(n);
    return out;
}

bytes runs_of(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    bytes out;
    while (out.size() < n) {
        out.insert(out.end(), 1 + random() % 3000, uint8_t(random()));
        for (int i = random() % 5; i > 0; --i) out.push_back(uint8_t(random()));
    }
    out.resize(n);
    return out;
}

// ---- round trips -------------------------------------------------------------------

// Checks what every blob of the compressor must satisfy, besides decompressing to input.
void check_blob_shape(const bytes& blob, const bytes& input) {
    ASSERT_GE(blob.size(), 8u);
    EXPECT_EQ(load32(blob, 0) + 8u, blob.size());
    EXPECT_EQ(load32(blob, 4), input.size());
    EXPECT_LE(blob.size(), input.size());
    std::vector<chunk> chunks = parse(blob);
    ASSERT_EQ(chunks.size(), (input.size() + 0xFFFFF) / 0x100000);
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].length, i + 1 < chunks.size() ? 0x100000u : input.size() - i * 0x100000u);
        for (const token& t : chunks[i].tokens) {
            if (!t.match) continue;
            EXPECT_GE(t.length, 3u);
            EXPECT_LE(t.length, 566u);
            EXPECT_LE(t.distance, 0x40000u);
            // A 3-byte match this far back costs more than its literals.
            EXPECT_FALSE(t.length == 3 && t.distance > 0x10000) << t.distance;
        }
    }
}

TEST(LzRoundTrip, VariedData) {
    struct round_trip_case {
        const char* name;
        bytes input;
    };
    const round_trip_case cases[] = {
        {"128 equal bytes: the shortest input compressed", bytes(128, 'x')},
        {"1,000 equal bytes", bytes(1000, 0)},
        {"text", text_of(50'000, 1)},
        {"four-letter random", random_of(200'000, 2, 4)},
        {"random blocks with near and far repeats", repeats_of(700'000, 3)},
        {"long runs between noise", runs_of(300'000, 4)},
        {"counting bytes", [] { bytes b(70'000); for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i); return b; }()},
        {"1 MB text: exactly one full chunk", text_of(0x100000, 5)},
        {"1 MB + 1: a one-byte second chunk", text_of(0x100001, 6)},
        {"3.5 MB: four chunks", repeats_of(0x380000, 7)},
    };
    for (const round_trip_case& c : cases) {
        SCOPED_TRACE(c.name);
        int64_t total = 0;
        bytes blob = compress(c.input, &total);
        ASSERT_GT(total, 0);
        ASSERT_EQ(size_t(total), blob.size());
        check_blob_shape(blob, c.input);
        decompressed d = decompress(blob);
        ASSERT_TRUE(d.ok);
        EXPECT_TRUE(d.data == c.input);
        EXPECT_TRUE(d.zero_tail);
    }
}

TEST(LzRoundTrip, ChunksAreIndependent) {
    // The second chunk repeats the start of the first; it may not refer back to it.
    bytes half = repeats_of(0x100000, 8);
    bytes input = half;
    input.insert(input.end(), half.begin(), half.begin() + 5000);
    bytes blob = compress(input);
    ASSERT_FALSE(blob.empty());
    std::vector<chunk> chunks = parse(blob);
    ASSERT_EQ(chunks.size(), 2u);
    ASSERT_FALSE(chunks[1].tokens.empty());
    EXPECT_FALSE(chunks[1].tokens[0].match);
    EXPECT_TRUE(decompress(blob).data == input);
}

TEST(LzCompress, RefusesWhatItCannotShrink) {
    struct refusal_case {
        const char* name;
        bytes input;
    };
    const refusal_case cases[] = {
        {"empty", {}},
        {"one byte", {42}},
        {"127 equal bytes: below the minimum", bytes(127, 'x')},
        {"128 random bytes", random_of(128, 9)},
        {"1 MB random", random_of(0x100000, 10)},
        {"3 MB random", random_of(0x300000, 11)},
    };
    for (const refusal_case& c : cases) {
        SCOPED_TRACE(c.name);
        // The destination is exactly the input's size: a sanitizer build sees any
        // write past it.
        auto destination = std::make_unique<uint8_t[]>(c.input.size());
        EXPECT_EQ(lz::compress(c.input.data(), int64_t(c.input.size()), destination.get()), -1);
    }
}

TEST(LzCompress, RunOfEqualBytesIsALiteralAndDistanceOneMatches) {
    bytes blob = compress(bytes(1000, 'a'));
    std::vector<chunk> chunks = parse(blob);
    ASSERT_EQ(chunks.size(), 1u);
    const std::vector<token>& t = chunks[0].tokens;
    ASSERT_EQ(t.size(), 3u);
    EXPECT_FALSE(t[0].match);
    EXPECT_EQ(t[0].byte, 'a');
    // The longest match takes the 9-bit length form with v = 511; distance 1 is d = 0,
    // written as k = 0 and three zero bits.
    EXPECT_TRUE(t[1].match);
    EXPECT_EQ(t[1].length, 566u);
    EXPECT_EQ(t[1].form, 5);
    EXPECT_EQ(t[1].length_value, 511u);
    EXPECT_EQ(t[1].k, 0u);
    EXPECT_EQ(t[1].distance, 1u);
    EXPECT_TRUE(t[2].match);
    EXPECT_EQ(t[2].length, 1000u - 1 - 566);
    EXPECT_EQ(t[2].distance, 1u);
    // 9 + 2 x 22 bits, then padding: 7 bytes of stream after the chunk length.
    EXPECT_EQ(blob.size(), 8u + 4 + 7);
}

// A match of the given length and distance: a random segment, a filler that cannot
// match it (zeros for a long distance, the segment itself repeated for a short one),
// the segment again, then a byte that ends the match. Zeros around keep the whole
// compressible; the 0xFF in front of the segment stops a match from starting before
// the copy.
bytes forced_match_input(uint32_t length, uint32_t distance, uint32_t seed, size_t* match_at) {
    std::mt19937 random(seed);
    bytes out(300, 0);
    out.back() = 0xFF;
    if (distance >= length) {
        for (uint32_t i = 0; i < length; ++i) out.push_back(uint8_t(1 + random() % 254));
        out.insert(out.end(), distance - length, 0);
    } else {
        for (uint32_t i = 0; i < distance; ++i) out.push_back(uint8_t(1 + random() % 254));
    }
    *match_at = out.size();
    for (uint32_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    uint8_t continuation = out[out.size() - distance];
    out.push_back(continuation == 0xEE ? 0xEF : 0xEE);
    out.insert(out.end(), 300, 0);
    return out;
}

// The token that starts at a position of the input, or null.
const token* token_at(const std::vector<chunk>& chunks, size_t position) {
    size_t at = 0;
    for (const chunk& c : chunks)
        for (const token& t : c.tokens) {
            if (at == position) return &t;
            at += t.match ? t.length : 1;
        }
    return nullptr;
}
const token* token_at(std::vector<chunk>&&, size_t) = delete;  // would dangle

TEST(LzCompress, LengthCodeBoundaries) {
    struct length_case {
        uint32_t length;
        int form;
        uint32_t value;
    };
    const length_case cases[] = {
        {3, 0, 0},   {6, 0, 3},   {7, 1, 0},    {10, 1, 3},   {11, 2, 0},   {14, 2, 3},
        {15, 3, 0},  {22, 3, 7},  {23, 4, 0},   {54, 4, 31},  {55, 5, 0},   {566, 5, 511},
    };
    for (const length_case& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length));
        size_t match_at = 0;
        bytes input = forced_match_input(c.length, 1000, c.length, &match_at);
        bytes blob = compress(input);
        ASSERT_FALSE(blob.empty());
        std::vector<chunk> chunks = parse(blob);
        const token* t = token_at(chunks, match_at);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(t->match);
        EXPECT_EQ(t->length, c.length);
        EXPECT_EQ(t->form, c.form);
        EXPECT_EQ(t->length_value, c.value);
        EXPECT_EQ(t->distance, 1000u);
        EXPECT_TRUE(decompress(blob).data == input);
    }
}

TEST(LzCompress, DistanceCodeBoundaries) {
    // d = distance - 1; k is the smallest m >= 2 with d < 2^(m+1), less 2.
    struct distance_case {
        uint32_t distance;
        uint32_t k;
    };
    const distance_case cases[] = {
        {1, 0},        {2, 0},        {8, 0},        {9, 1},        {16, 1},      {17, 2},
        {32, 2},       {33, 3},       {64, 3},       {65, 4},       {1024, 7},    {1025, 8},
        {0x8000, 12},  {0x8001, 13},  {0x10000, 13}, {0x10001, 14}, {0x20000, 14}, {0x20001, 15},
        {0x3FFFF, 15}, {0x40000, 15},
    };
    for (const distance_case& c : cases) {
        SCOPED_TRACE("distance " + std::to_string(c.distance));
        size_t match_at = 0;
        bytes input = forced_match_input(40, c.distance, c.distance, &match_at);
        bytes blob = compress(input);
        ASSERT_FALSE(blob.empty());
        std::vector<chunk> chunks = parse(blob);
        const token* t = token_at(chunks, match_at);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(t->match);
        EXPECT_EQ(t->distance, c.distance);
        EXPECT_EQ(t->k, c.k);
        EXPECT_EQ(t->length, 40u);
        EXPECT_TRUE(decompress(blob).data == input);
    }
}

TEST(LzCompress, NothingBeyondTheWindowAndNoFarThreeByteMatch) {
    // One byte past the window the segment's first byte can only be a literal.
    size_t match_at = 0;
    bytes input = forced_match_input(40, 0x40001, 12, &match_at);
    bytes blob = compress(input);
    ASSERT_FALSE(blob.empty());
    std::vector<chunk> chunks = parse(blob);
    const token* t = token_at(chunks, match_at);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->match);
    EXPECT_TRUE(decompress(blob).data == input);

    // A 3-byte repeat farther than 0x10000 stays literal; nearer it is a match.
    for (uint32_t distance : {0x10000u, 0x10001u}) {
        bytes in = forced_match_input(3, distance, 13, &match_at);
        bytes b = compress(in);
        ASSERT_FALSE(b.empty());
        std::vector<chunk> first_chunks = parse(b);
        const token* first = token_at(first_chunks, match_at);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->match, distance == 0x10000u) << distance;
        EXPECT_TRUE(decompress(b).data == in);
    }
}

// A segment S far back, then `decoys` nearer copies of S's first 4 bytes (each followed
// by `junk` other bytes), a byte found nowhere else, then S again at the position
// answered in *at. The compressor there sees the nearest decoy first (4 bytes, distance
// 5 + junk) and S last on its chain.
bytes chain_input(uint32_t far_length, uint32_t far_distance, int decoys, uint32_t junk, uint32_t seed,
                  size_t* at) {
    std::mt19937 random(seed);
    auto any_byte = [&] { return uint8_t(1 + random() % 240); };  // below the markers
    bytes segment(far_length);
    for (auto& b : segment) b = any_byte();
    bytes out(300, 0);
    out.back() = 0xFF;
    size_t far_at = out.size();
    out.insert(out.end(), segment.begin(), segment.end());
    out.push_back(0xFE);
    size_t decoy_bytes = size_t(decoys) * (4 + junk);
    out.insert(out.end(), far_distance - far_length - 1 - decoy_bytes - 1, 0);
    for (int i = 0; i < decoys; ++i) {
        out.insert(out.end(), segment.begin(), segment.begin() + 4);
        out.push_back(0xFC);  // differs from S[4]
        for (uint32_t j = 1; j < junk; ++j) out.push_back(any_byte());
    }
    out.push_back(0xFB);  // so no match runs from the decoys into S
    *at = out.size();
    EXPECT_EQ(*at - far_at, far_distance);
    out.insert(out.end(), segment.begin(), segment.end());
    out.push_back(0xFA);
    out.insert(out.end(), 300, 0);
    return out;
}

TEST(LzCompress, FartherCandidatesMustPayForTheirDistance) {
    // A chain candidate replaces the best only when longer by more than the number of
    // times a sixteenth of its distance must shift right by 3 to reach the best distance
    // (here 10, from the near 4-byte match).
    struct choice_case {
        uint32_t far_length, far_distance;
        bool far_chosen;
    };
    const choice_case cases[] = {
        {5, 160, true},       // 160 >> 4 = 10: no shift needed, 5 > 4
        {5, 176, false},      // 11 needs one shift: 5 is not > 4 + 1
        {6, 176, true},
        {8, 0x30000, false},  // 0x3000 needs four shifts
        {9, 0x30000, true},
    };
    for (const choice_case& c : cases) {
        SCOPED_TRACE(std::to_string(c.far_length) + " bytes at " + std::to_string(c.far_distance));
        size_t at = 0;
        bytes input = chain_input(c.far_length, c.far_distance, 1, 5, c.far_distance + c.far_length, &at);
        bytes blob = compress(input);
        ASSERT_FALSE(blob.empty());
        std::vector<chunk> chunks = parse(blob);
        const token* t = token_at(chunks, at);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(t->match);
        EXPECT_EQ(t->distance, c.far_chosen ? c.far_distance : 10u);
        EXPECT_EQ(t->length, c.far_chosen ? c.far_length : 4u);
        EXPECT_TRUE(decompress(blob).data == input);
    }
}

TEST(LzCompress, ChainWalkStopsAfter256Candidates) {
    for (int decoys : {255, 256}) {
        SCOPED_TRACE(std::to_string(decoys) + " decoys");
        size_t at = 0;
        bytes input = chain_input(40, 40 + 1 + 100 + uint32_t(decoys) * 8 + 1, decoys, 4, 21, &at);
        bytes blob = compress(input);
        ASSERT_FALSE(blob.empty());
        std::vector<chunk> chunks = parse(blob);
        const token* t = token_at(chunks, at);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(t->match);
        // With 255 decoys the segment is the 256th candidate and is found.
        EXPECT_EQ(t->length, decoys == 255 ? 40u : 4u);
        EXPECT_EQ(t->distance, decoys == 255 ? 40 + 1 + 100 + uint32_t(decoys) * 8 + 1 : 9u);
        EXPECT_TRUE(decompress(blob).data == input);
    }
}

// ---- the bit writer and reader -----------------------------------------------------

TEST(LzBits, WriterAndReaderAgreeLeastSignificantBitFirst) {
    const std::pair<int, uint32_t> fields[] = {
        {1, 1}, {2, 2}, {8, 0xA5}, {3, 0}, {17, 0x1FFFF}, {32, 0xDEADBEEF}, {9, 0x100}, {0, 0}, {5, 0x15}, {7, 0},
    };
    uint8_t area[32] = {};
    lz::bit_writer w;
    w.output = area;
    w.capacity = sizeof area;
    for (auto [count, value] : fields) lz::put_bits(count, value, w);
    EXPECT_FALSE(w.failed);
    // 1 + 2 bits: 1, then 2 (binary 10) → 0b101 in the first three bits.
    EXPECT_EQ(area[0] & 0x7, 0x5);
    lz::bit_reader r;
    r.input = area;
    r.limit = w.position + (w.pending_count > 0);
    if (w.pending_count > 0) area[w.position] = uint8_t(w.pending);
    for (auto [count, value] : fields) EXPECT_EQ(lz::get_bits(count, r), value) << count;
    EXPECT_FALSE(r.overrun);
    lz::get_bits(8, r);
    EXPECT_TRUE(r.overrun);  // reading on yields zeros and says so
}

TEST(LzBits, ReserveAndWritesStopAtCapacity) {
    uint8_t area[4] = {};
    lz::bit_writer w;
    w.output = area;
    w.capacity = 3;
    ASSERT_EQ(lz::reserve(w, 2), area);
    lz::put_bits(8, 0x7F, w);
    EXPECT_FALSE(w.failed);
    EXPECT_EQ(area[2], 0x7F);
    lz::put_bits(8, 0x55, w);  // a fourth byte does not fit
    EXPECT_TRUE(w.failed);
    EXPECT_EQ(area[3], 0);
    lz::bit_writer v;
    v.output = area;
    v.capacity = 3;
    EXPECT_EQ(lz::reserve(v, 4), nullptr);
    EXPECT_TRUE(v.failed);
}

// ---- the decompressor on hand-built streams ----------------------------------------

TEST(LzDecompress, HandBuiltStreams) {
    struct stream_case {
        const char* name;
        bytes blob;
        bool ok;
        bytes output;
    };
    auto built = [](auto build) {
        stream_writer s;
        return build(s);
    };
    bytes random_1000 = random_of(1000, 14);
    const stream_case cases[] = {
        {"compressed size 0: empty output", stream_writer().blob(0), true, {}},
        {"compressed size 0 but 5 bytes promised", stream_writer().blob(5), false, {}},
        {"one literal", built([](stream_writer& s) { s.begin_chunk(1); s.literal('A'); return s.blob(1); }), true, {'A'}},
        {"incompressible data as literals", built([&](stream_writer& s) {
             s.begin_chunk(1000);
             for (uint8_t b : random_1000) s.literal(b);
             return s.blob(1000);
         }), true, random_1000},
        {"first chunk length 0", built([](stream_writer& s) { s.begin_chunk(0); s.literal('A'); return s.blob(1); }), false, {}},
        {"chunk length above 1 MB", built([](stream_writer& s) {
             s.begin_chunk(0x100001);
             for (int i = 0; i < 0x100001; ++i) s.literal('A');
             return s.blob(0x100001);
         }), false, {}},
        {"a match from the chunk's first byte", built([](stream_writer& s) {
             s.begin_chunk(6); s.literal('a'); s.literal('b'); s.match(4, 2); return s.blob(6);
         }), true, {'a', 'b', 'a', 'b', 'a', 'b'}},
        {"a match from before the chunk", built([](stream_writer& s) {
             s.begin_chunk(6); s.literal('a'); s.literal('b'); s.match(4, 3); return s.blob(6);
         }), false, {}},
        {"a match ending at the chunk's end", built([](stream_writer& s) {
             s.begin_chunk(5); s.literal('z'); s.match(4, 1); return s.blob(5);
         }), true, bytes(5, 'z')},
        {"a match past the chunk's end", built([](stream_writer& s) {
             s.begin_chunk(5); s.literal('z'); s.match(5, 1); return s.blob(6);
         }), false, {}},
        {"a match into the previous chunk", built([](stream_writer& s) {
             s.begin_chunk(3); s.literal('x'); s.literal('y'); s.literal('z');
             s.begin_chunk(4); s.literal('x'); s.match(3, 2); return s.blob(7);
         }), false, {}},
        {"two chunks, each matching within itself", built([](stream_writer& s) {
             s.begin_chunk(3); s.literal('x'); s.literal('y'); s.literal('z');
             s.begin_chunk(4); s.literal('q'); s.match(3, 1); return s.blob(7);
         }), true, {'x', 'y', 'z', 'q', 'q', 'q', 'q'}},
        {"chunks producing more than promised", built([](stream_writer& s) {
             s.begin_chunk(2); s.literal('x'); s.literal('y'); return s.blob(1);
         }), false, {}},
        {"chunks producing less than promised", built([](stream_writer& s) {
             s.begin_chunk(2); s.literal('x'); s.literal('y'); return s.blob(3);
         }), false, {}},
        {"compressed size ends inside the bit stream", built([](stream_writer& s) {
             s.begin_chunk(3); s.literal('x'); s.literal('y'); s.literal('z'); return s.blob(3, 4 + 3);
         }), false, {}},
        {"compressed size leaves a partial chunk length", built([](stream_writer& s) {
             s.begin_chunk(1); s.literal('x'); s.bits(8, 0); s.bits(8, 0); return s.blob(1);
         }), false, {}},
        {"a huge promised size from a tiny stream", built([](stream_writer& s) {
             s.begin_chunk(1); s.literal('x'); return s.blob(0xFFFFFFFF);
         }), false, {}},
    };
    for (const stream_case& c : cases) {
        SCOPED_TRACE(c.name);
        decompressed d = decompress(c.blob);
        EXPECT_EQ(d.ok, c.ok);
        if (c.ok) {
            EXPECT_TRUE(d.data == c.output);
            EXPECT_TRUE(d.zero_tail);
        }
    }
}

TEST(LzDecompress, EveryMatchLengthAndDistanceClass) {
    // One chunk: a random prefix long enough for the farthest distance, then one match of
    // every length 3..566 and of a distance at both ends of every distance class.
    const uint32_t prefix = 0x40000;
    std::vector<uint32_t> distances;
    for (int j = 3; j <= 18; ++j) {
        distances.push_back((1u << (j - 1)) + 1);  // the first d of the class: d = 2^(j-1)
        distances.push_back(1u << j);              // its last: d = 2^j - 1
    }
    distances.insert(distances.begin(), {1u, 2u, 7u});
    bytes expected = random_of(prefix, 15);
    stream_writer s;
    std::vector<std::pair<uint32_t, uint32_t>> matches;
    for (uint32_t length = 3; length <= 566; ++length) matches.push_back({length, 1 + length * 97 % prefix});
    for (uint32_t distance : distances) matches.push_back({17, distance});
    uint32_t total = prefix;
    for (auto [length, distance] : matches) total += length;
    ASSERT_LE(total, 0x100000u);
    s.begin_chunk(total);
    for (uint8_t b : expected) s.literal(b);
    for (auto [length, distance] : matches) {
        s.match(length, distance);
        for (uint32_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
    }
    decompressed d = decompress(s.blob(total));
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.data == expected);
}

TEST(LzDecompress, FullSizeChunk) {
    // 0x100000 bytes from one literal and matches of distance 1: the largest chunk.
    stream_writer s;
    s.begin_chunk(0x100000);
    s.literal('r');
    uint32_t left = 0x100000 - 1;
    while (left > 0) {
        uint32_t length = std::min<uint32_t>(566, left);
        if (left - length > 0 && left - length < 3) length -= 3;  // keep the last match at 3 or more
        s.match(length, 1);
        left -= length;
    }
    decompressed d = decompress(s.blob(0x100000));
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.data == bytes(0x100000, 'r'));
}

// ---- corrupt blobs -----------------------------------------------------------------

TEST(LzDecompress, TruncatedBlobsAreRefused) {
    bytes input = text_of(20'000, 16);
    bytes blob = compress(input);
    ASSERT_FALSE(blob.empty());
    ASSERT_TRUE(decompress(blob).data == input);
    for (size_t n = 0; n < blob.size(); ++n) {
        bytes cut(blob.begin(), blob.begin() + n);
        ASSERT_FALSE(decompress(cut).ok) << "prefix of " << n << " bytes";
    }
    // The same with the header lowered to match: the stream then ends early.
    for (size_t n = 8; n < blob.size(); ++n) {
        bytes cut(blob.begin(), blob.begin() + n);
        store32(cut, 0, uint32_t(n - 8));
        ASSERT_FALSE(decompress(cut).ok) << "stream of " << n - 8 << " bytes";
    }
}

TEST(LzDecompress, BitFlipsNeverReachOutOfBounds) {
    // Without a checksum a flipped literal bit decodes to other data of the same size;
    // anything else must be refused. Either way nothing is read or written out of bounds.
    struct flip_case {
        const char* name;
        bytes input;
    };
    const flip_case cases[] = {
        {"text", text_of(2500, 17)},
        {"runs", runs_of(2500, 18)},
        {"four-letter random", random_of(3000, 19, 4)},
    };
    for (const flip_case& c : cases) {
        SCOPED_TRACE(c.name);
        bytes blob = compress(c.input);
        ASSERT_FALSE(blob.empty());
        int refused = 0;
        for (size_t bit = 0; bit < blob.size() * 8; ++bit) {
            bytes flipped = blob;
            flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
            decompressed d = decompress(flipped);
            if (!d.ok) {
                ++refused;
                continue;
            }
            ASSERT_EQ(d.data.size(), load32(flipped, 4)) << "bit " << bit;
        }
        EXPECT_GT(refused, 0);
    }
}

TEST(LzDecompress, RandomGarbageIsHandled) {
    std::mt19937 random(20);
    for (int i = 0; i < 3000; ++i) {
        bytes garbage = random_of(8 + random() % 300, random());
        uint32_t area = uint32_t(garbage.size() - 8);
        // Mostly plausible headers, so the chunks are actually decoded.
        if (i % 4 != 0) store32(garbage, 0, area - random() % (area + 1) / 4);
        if (i % 2 == 0) store32(garbage, 4, random() % 4000);
        if (i % 3 == 0 && area >= 4) store32(garbage, 8, 1 + random() % 3000);
        decompressed d = decompress(garbage);
        if (d.ok) {
            EXPECT_EQ(d.data.size(), load32(garbage, 4));
        }
    }
}

TEST(LzDecompress, NullOrShortBlobAndNoSizeAddress) {
    EXPECT_EQ(lz::decompress(nullptr, 0, nullptr), nullptr);
    EXPECT_FALSE(decompress({0, 0, 0, 0, 0, 0, 0}).ok);
    bytes blob = compress(bytes(500, 7));
    auto copy = exact_copy(blob);
    uint8_t* out = lz::decompress(copy.get(), blob.size(), nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[499], 7);
    lz::release_buffer(out);
    lz::release_buffer(nullptr);
}

}  // namespace
