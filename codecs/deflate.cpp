// DEFLATE, zlib and gzip (see deflate.h).
//
// The decoder keeps up to 64 bits of input in a bit buffer that is topped up before each
// symbol, and decodes a symbol with one lookup in a 10-bit (literal/length) or 8-bit
// (distance) first-level table, plus one lookup in a second-level table for the rare
// longer codes. Past the end of the input the buffer is filled with zero bits; the bytes
// so supplied are counted, so the decoder can tell when it has used bits that the input
// never had and stop there.
#include "codecs/deflate.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "codecs/checksum.h"

namespace zor::deflate {

namespace {

// --- The RFC 1951 tables ---------------------------------------------------------------------

constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DISTANCE_BASE[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                        33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code lengths of the code-length alphabet.
constexpr uint8_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t reverse_bits(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; ++i) r |= ((code >> i) & 1) << (length - 1 - i);
    return r;
}

constexpr size_t WINDOW = 32768;
constexpr int MAX_MATCH = 258;
constexpr int MIN_MATCH = 3;

// --- Compressor ------------------------------------------------------------------------------

// A run of bits ready to write: the bits, least significant first, and their count.
struct code_bits {
    uint32_t bits = 0;
    uint32_t count = 0;
};

struct fixed_codes {
    code_bits literal[288];
    code_bits length[MAX_MATCH + 1];  // the length symbol's code followed by its extra bits
    code_bits distance_small[256];    // distances 1..256, by distance - 1
    // Distances 257..32768 change their symbol only every 128 (the symbols there have 7 or
    // more extra bits), so their symbol is found by (distance - 1) >> 7.
    uint8_t distance_large_symbol[256];
    uint8_t distance_symbol_bits[30];  // the 5-bit code of each distance symbol, reversed
};

constexpr code_bits fixed_literal(int symbol) {
    if (symbol < 144) return {reverse_bits(0x30 + symbol, 8), 8};
    if (symbol < 256) return {reverse_bits(0x190 + symbol - 144, 9), 9};
    if (symbol < 280) return {reverse_bits(symbol - 256, 7), 7};
    return {reverse_bits(0xC0 + symbol - 280, 8), 8};
}

constexpr code_bits distance_code(uint32_t distance) {
    int symbol = 29;
    while (DISTANCE_BASE[symbol] > distance) --symbol;
    uint32_t extra = distance - DISTANCE_BASE[symbol];
    return {reverse_bits(symbol, 5) | extra << 5, 5u + DISTANCE_EXTRA[symbol]};
}

constexpr fixed_codes make_fixed_codes() {
    fixed_codes c{};
    for (int s = 0; s < 288; ++s) c.literal[s] = fixed_literal(s);
    for (int length = MIN_MATCH; length <= MAX_MATCH; ++length) {
        int symbol = 28;
        while (LENGTH_BASE[symbol] > length) --symbol;
        code_bits code = c.literal[257 + symbol];
        uint32_t extra = length - LENGTH_BASE[symbol];
        c.length[length] = {code.bits | extra << code.count, code.count + LENGTH_EXTRA[symbol]};
    }
    for (uint32_t d = 1; d <= 256; ++d) c.distance_small[d - 1] = distance_code(d);
    for (uint32_t i = 2; i < 256; ++i) {
        int symbol = 29;
        while (DISTANCE_BASE[symbol] > (i << 7) + 1) --symbol;
        c.distance_large_symbol[i] = static_cast<uint8_t>(symbol);
    }
    for (uint32_t s = 0; s < 30; ++s) c.distance_symbol_bits[s] = static_cast<uint8_t>(reverse_bits(s, 5));
    return c;
}

constexpr fixed_codes FIXED = make_fixed_codes();

inline code_bits encode_distance(uint32_t distance) {
    if (distance <= 256) return FIXED.distance_small[distance - 1];
    uint32_t symbol = FIXED.distance_large_symbol[(distance - 1) >> 7];
    return {FIXED.distance_symbol_bits[symbol] | (distance - DISTANCE_BASE[symbol]) << 5,
            5u + DISTANCE_EXTRA[symbol]};
}

// Bits go out least significant first; a byte beyond the capacity is counted, not
// written, so that the position ends as the stream's full size.
struct bit_writer {
    uint8_t* data;
    size_t capacity;
    size_t position = 0;
    uint64_t bits = 0;
    uint32_t count = 0;

    void put(code_bits code) {
        bits |= uint64_t(code.bits) << count;
        count += code.count;
        if (count >= 32) {
            if (position + 4 <= capacity) {
                uint32_t word = static_cast<uint32_t>(bits);
                std::memcpy(data + position, &word, 4);
            } else {
                for (size_t i = 0; i < 4; ++i) {
                    if (position + i < capacity) data[position + i] = static_cast<uint8_t>(bits >> (8 * i));
                }
            }
            position += 4;
            bits >>= 32;
            count -= 32;
        }
    }

    void finish() {
        while (count > 0) {
            if (position < capacity) data[position] = static_cast<uint8_t>(bits);
            ++position;
            bits >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
    }
};

// The three bytes at p as one number; bytes past the end read as 0.
inline uint32_t three_bytes(const uint8_t* input, size_t length, size_t p) {
    if (p + 3 <= length) return uint32_t(input[p]) << 16 | uint32_t(input[p + 1]) << 8 | input[p + 2];
    uint32_t v = 0;
    for (size_t i = 0; i < 3; ++i) v = v << 8 | (p + i < length ? input[p + i] : 0);
    return v;
}

inline uint32_t bucket_of(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & 0x3FF;
}

// How far the bytes at a and b agree, from `from` up to `limit`.
inline size_t extend_match(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
    size_t n = from;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// A work table of the thread, made at its first use: a thread_local table itself would be
// set up (and its pages touched) for every thread at its start, whether it ever
// compresses or not.
template <typename Table> Table& thread_table() {
    thread_local std::unique_ptr<Table> table;
    if (!table) table = std::make_unique<Table>();
    return *table;
}

struct match_buckets {
    size_t slots[1024][4];
};

void compress_into(bit_writer& w, const uint8_t* input, size_t length) {
    // Positions, not offsets into a buffer, so a slot that was never written (0) is
    // checked like any other: it matches only when its bytes really are equal.
    auto& buckets = thread_table<match_buckets>().slots;
    std::memset(buckets, 0, sizeof buckets);
    w.put({1 | 1 << 1, 3});  // BFINAL 1, BTYPE 01
    size_t p = 0;
    while (p < length) {
        size_t start = p;
        uint32_t bucket = bucket_of(three_bytes(input, length, p));
        bool matched = false;
        if (p >= 3 && p + 3 <= length) {
            for (size_t c : buckets[bucket]) {
                if (c < p && p - c < WINDOW && input[c] == input[p] && input[c + 1] == input[p + 1] &&
                    input[c + 2] == input[p + 2]) {
                    size_t limit = length - p < size_t(MAX_MATCH) ? length - p : size_t(MAX_MATCH);
                    size_t match = extend_match(input + c, input + p, MIN_MATCH, limit);
                    w.put(FIXED.length[match]);
                    w.put(encode_distance(static_cast<uint32_t>(p - c)));
                    p += match;
                    matched = true;
                    break;
                }
            }
        }
        if (!matched) w.put(FIXED.literal[input[p++]]);
        uint32_t next = three_bytes(input, length, p);
        buckets[bucket][((next >> 14) - next) & 3] = start;
    }
    w.put(FIXED.literal[256]);
    w.finish();
}

// --- Decompressor ----------------------------------------------------------------------------

// Table entries: symbol (or a second-level table's start) << 16 | link flag << 15 |
// second-level bits << 8 | code length. An entry of length 0 is a code nobody uses.
constexpr uint32_t LINK = 1u << 15;
constexpr int LITERAL_ROOT = 10;
constexpr int DISTANCE_ROOT = 8;
constexpr int CODE_LENGTH_ROOT = 7;
// A second-level table serves one first-level prefix and holds at most 2^(15 - root)
// entries; there are at most as many of them as symbols.
constexpr size_t LITERAL_TABLE_SIZE = (1u << LITERAL_ROOT) + 288 * (1u << (15 - LITERAL_ROOT));
constexpr size_t DISTANCE_TABLE_SIZE = (1u << DISTANCE_ROOT) + 32 * (1u << (15 - DISTANCE_ROOT));
constexpr size_t CODE_LENGTH_TABLE_SIZE = 1u << CODE_LENGTH_ROOT;

// Builds the decoding table of a canonical code from its code lengths; false for an
// over-subscribed set of lengths (an incomplete one is fine: its unused codes stay 0).
bool build_table(const uint8_t* lengths, int count, uint32_t* table, int root) {
    int per_length[16] = {};
    for (int s = 0; s < count; ++s) ++per_length[lengths[s]];
    per_length[0] = 0;
    int left = 1;
    for (int n = 1; n <= 15; ++n) {
        left = (left << 1) - per_length[n];
        if (left < 0) return false;
    }
    uint32_t first_code[16] = {};
    uint32_t code = 0;
    for (int n = 1; n <= 15; ++n) {
        code = (code + per_length[n - 1]) << 1;
        first_code[n] = code;
    }
    const uint32_t root_size = 1u << root;
    const uint32_t root_mask = root_size - 1;
    std::memset(table, 0, root_size * sizeof(uint32_t));

    // The second-level tables: one per prefix that starts a longer code, as wide as the
    // longest code with that prefix needs.
    uint8_t second_bits[1u << LITERAL_ROOT] = {};
    uint32_t next[16];
    std::memcpy(next, first_code, sizeof next);
    bool any_long = false;
    for (int s = 0; s < count; ++s) {
        int n = lengths[s];
        if (n <= root) continue;
        uint32_t r = reverse_bits(next[n]++, n);
        uint32_t prefix = r & root_mask;
        if (n - root > second_bits[prefix]) second_bits[prefix] = static_cast<uint8_t>(n - root);
        any_long = true;
    }
    if (any_long) {
        uint32_t start = root_size;
        for (uint32_t prefix = 0; prefix < root_size; ++prefix) {
            if (!second_bits[prefix]) continue;
            table[prefix] = start << 16 | LINK | uint32_t(second_bits[prefix]) << 8 | uint32_t(root);
            std::memset(table + start, 0, (size_t(1) << second_bits[prefix]) * sizeof(uint32_t));
            start += 1u << second_bits[prefix];
        }
    }
    std::memcpy(next, first_code, sizeof next);
    for (int s = 0; s < count; ++s) {
        int n = lengths[s];
        if (n == 0) continue;
        uint32_t r = reverse_bits(next[n]++, n);
        uint32_t entry = uint32_t(s) << 16 | uint32_t(n);
        if (n <= root) {
            for (uint32_t k = r; k < root_size; k += 1u << n) table[k] = entry;
        } else {
            uint32_t link = table[r & root_mask];
            uint32_t start = link >> 16;
            uint32_t width = 1u << ((link >> 8) & 0x7F);
            for (uint32_t k = r >> root; k < width; k += 1u << (n - root)) table[start + k] = entry;
        }
    }
    return true;
}

struct fixed_tables {
    uint32_t literal[LITERAL_TABLE_SIZE];
    uint32_t distance[DISTANCE_TABLE_SIZE];
};

const fixed_tables& fixed_decoding_tables() {
    static const fixed_tables* tables = [] {
        static fixed_tables t;
        uint8_t lengths[288];
        for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        build_table(lengths, 288, t.literal, LITERAL_ROOT);
        uint8_t distances[32];
        std::memset(distances, 5, sizeof distances);
        build_table(distances, 32, t.distance, DISTANCE_ROOT);
        return &t;
    }();
    return *tables;
}

struct bit_reader {
    const uint8_t* input;
    size_t length;
    size_t position = 0;  // bytes taken into the buffer from the input
    size_t phantom = 0;   // zero bytes taken in past the end
    uint64_t bits = 0;
    uint32_t count = 0;

    // At least 56 bits in the buffer afterwards.
    void refill() {
        if (position + 8 <= length) {
            uint64_t word;
            std::memcpy(&word, input + position, 8);
            bits |= word << count;
            position += (63 - count) >> 3;
            count |= 56;
        } else {
            while (count <= 56) {
                uint64_t byte = 0;
                if (position < length) byte = input[position++];
                else ++phantom;
                bits |= byte << count;
                count += 8;
            }
        }
    }
    uint32_t take(uint32_t n) {
        uint32_t v = static_cast<uint32_t>(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    // True once a bit the input never had was used.
    bool overrun() const { return (position + phantom) * 8 - count > length * 8; }

    // Decodes one symbol; -1 for a code nobody uses.
    int decode(const uint32_t* table, int root) {
        uint32_t entry = table[bits & ((1u << root) - 1)];
        if (entry & LINK) {
            entry = table[(entry >> 16) + ((bits >> root) & ((uint64_t(1) << ((entry >> 8) & 0x7F)) - 1))];
        }
        uint32_t n = entry & 0x1F;
        if (n == 0) return -1;
        bits >>= n;
        count -= n;
        return static_cast<int>(entry >> 16);
    }
};

// Room for n more bytes at the end of the area; false when a fixed area has not got it
// (the caller counts instead) or when growing failed (see grow_failed).
inline bool room_for(output_area& out, size_t n, bool& grow_failed) {
    if (out.size + n <= out.capacity) return true;
    if (!out.grow || out.size > out.capacity) return false;
    if (out.grow(out, out.size + n) && out.size + n <= out.capacity) return true;
    grow_failed = true;
    return false;
}

int finish(const output_area& out) { return out.size > out.capacity ? OUTPUT_TOO_SMALL : DONE; }

// Decodes the code lengths of a dynamic block and builds its two tables.
int read_dynamic_tables(bit_reader& in, uint32_t* literal, uint32_t* distance, bool& ran_out) {
    in.refill();
    uint32_t literal_count = in.take(5) + 257;
    uint32_t distance_count = in.take(5) + 1;
    uint32_t code_length_count = in.take(4) + 4;
    uint8_t code_lengths[19] = {};
    for (uint32_t i = 0; i < code_length_count; ++i) {
        in.refill();
        code_lengths[CODE_LENGTH_ORDER[i]] = static_cast<uint8_t>(in.take(3));
    }
    if (in.overrun()) {
        ran_out = true;
        return DONE;
    }
    uint32_t code_length_table[CODE_LENGTH_TABLE_SIZE];
    if (!build_table(code_lengths, 19, code_length_table, CODE_LENGTH_ROOT)) return BAD_INPUT;
    uint8_t lengths[288 + 32] = {};
    const uint32_t total = literal_count + distance_count;
    uint32_t i = 0;
    while (i < total) {
        in.refill();
        int symbol = in.decode(code_length_table, CODE_LENGTH_ROOT);
        if (symbol < 0) return BAD_INPUT;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0) return BAD_INPUT;
            value = lengths[i - 1];
            repeat = 3 + in.take(2);
        } else if (symbol == 17) {
            repeat = 3 + in.take(3);
        } else {
            repeat = 11 + in.take(7);
        }
        if (in.overrun()) {
            ran_out = true;
            return DONE;
        }
        if (i + repeat > total) return BAD_INPUT;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    if (in.overrun()) {
        ran_out = true;
        return DONE;
    }
    if (!build_table(lengths, int(literal_count), literal, LITERAL_ROOT)) return BAD_INPUT;
    if (!build_table(lengths + literal_count, int(distance_count), distance, DISTANCE_ROOT)) return BAD_INPUT;
    return DONE;
}

// Writes a match of `length` bytes from `distance` back (distance <= out.size).
inline void copy_match(output_area& out, size_t distance, size_t length) {
    uint8_t* to = out.data + out.size;
    const uint8_t* from = to - distance;
    if (distance >= length) {
        std::memcpy(to, from, length);
    } else if (distance >= 8) {
        size_t i = 0;
        for (; i + 8 <= length; i += 8) std::memcpy(to + i, from + i, 8);
        for (; i < length; ++i) to[i] = from[i];
    } else if (distance == 1) {
        std::memset(to, *from, length);
    } else {
        for (size_t i = 0; i < length; ++i) to[i] = from[i];
    }
    out.size += length;
}

// A match that does not all fit a fixed area: what fits is written, the rest counted.
void copy_match_counted(output_area& out, size_t distance, size_t length) {
    for (size_t i = 0; i < length; ++i, ++out.size) {
        if (out.size < out.capacity) out.data[out.size] = out.data[out.size - distance];
    }
}

struct dynamic_tables {
    uint32_t literal[LITERAL_TABLE_SIZE];
    uint32_t distance[DISTANCE_TABLE_SIZE];
};

int inflate_stream(output_area& out, const uint8_t* input, size_t length) {
    bit_reader in{input, length};
    // The dynamic tables are large for the native stack of a fuzzer or a signal
    // handler's thread; one set per thread is kept for the run.
    dynamic_tables& dynamic = thread_table<dynamic_tables>();
    const fixed_tables& fixed = fixed_decoding_tables();
    for (;;) {
        in.refill();
        if (in.position >= in.length && in.count <= in.phantom * 8) return finish(out);
        uint32_t last = in.take(1);
        uint32_t type = in.take(2);
        if (in.overrun()) return finish(out);
        if (type == 3) return BAD_BLOCK_TYPE;
        if (type == 0) {
            in.take(in.count & 7);
            uint32_t stored = in.take(16);
            in.take(16);  // NLEN: not checked
            uint32_t held = in.count / 8;
            if (in.phantom > held) return finish(out);
            in.position -= held - in.phantom;
            in.bits = 0;
            in.count = 0;
            in.phantom = 0;
            if (stored > in.length - in.position) return STORED_PAST_INPUT;
            bool grow_failed = false;
            if (stored == 0) {
                // nothing to copy
            } else if (room_for(out, stored, grow_failed)) {
                std::memcpy(out.data + out.size, input + in.position, stored);
                out.size += stored;
            } else {
                if (grow_failed) return OUTPUT_TOO_SMALL;
                for (uint32_t i = 0; i < stored; ++i, ++out.size) {
                    if (out.size < out.capacity) out.data[out.size] = input[in.position + i];
                }
            }
            in.position += stored;
            if (last) return finish(out);
            continue;
        }
        const uint32_t* literal = fixed.literal;
        const uint32_t* distance_table = fixed.distance;
        if (type == 2) {
            bool ran_out = false;
            int code = read_dynamic_tables(in, dynamic.literal, dynamic.distance, ran_out);
            if (code != DONE) return code;
            if (ran_out) return finish(out);
            literal = dynamic.literal;
            distance_table = dynamic.distance;
        }
        for (;;) {
            in.refill();
            int symbol = in.decode(literal, LITERAL_ROOT);
            if (symbol < 0) return BAD_INPUT;
            if (symbol < 256) {
                if (in.overrun()) return finish(out);
                if (out.size < out.capacity) {
                    out.data[out.size++] = static_cast<uint8_t>(symbol);
                } else {
                    bool grow_failed = false;
                    if (room_for(out, 1, grow_failed)) out.data[out.size] = static_cast<uint8_t>(symbol);
                    else if (grow_failed) return OUTPUT_TOO_SMALL;
                    ++out.size;
                }
                continue;
            }
            if (symbol == 256) {
                if (in.overrun()) return finish(out);
                break;
            }
            symbol -= 257;
            if (symbol >= 29) return BAD_INPUT;
            size_t match = LENGTH_BASE[symbol] + in.take(LENGTH_EXTRA[symbol]);
            int distance_symbol = in.decode(distance_table, DISTANCE_ROOT);
            if (distance_symbol < 0 || distance_symbol >= 30) return BAD_INPUT;
            size_t distance = DISTANCE_BASE[distance_symbol] + in.take(DISTANCE_EXTRA[distance_symbol]);
            if (in.overrun()) return finish(out);
            if (distance > out.size) return DISTANCE_TOO_FAR;
            bool grow_failed = false;
            if (room_for(out, match, grow_failed)) copy_match(out, distance, match);
            else if (grow_failed) return OUTPUT_TOO_SMALL;
            else copy_match_counted(out, distance, match);
        }
        if (last) return finish(out);
    }
}

void put_be32(uint8_t* at, uint32_t v) {
    at[0] = uint8_t(v >> 24), at[1] = uint8_t(v >> 16), at[2] = uint8_t(v >> 8), at[3] = uint8_t(v);
}
void put_le32(uint8_t* at, uint32_t v) {
    at[0] = uint8_t(v), at[1] = uint8_t(v >> 8), at[2] = uint8_t(v >> 16), at[3] = uint8_t(v >> 24);
}
uint32_t get_be32(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}
uint32_t get_le32(const uint8_t* at) {
    return uint32_t(at[3]) << 24 | uint32_t(at[2]) << 16 | uint32_t(at[1]) << 8 | at[0];
}

// Wraps a raw stream in a header of `header_size` bytes and a trailer of
// `trailer_size`: compresses after the header and answers the code; out.size ends as
// the whole size.
int compress_framed(output_area& out, const uint8_t* input, size_t length, size_t header_size,
                    size_t trailer_size) {
    if (out.capacity < header_size + trailer_size) {
        out.size = length + header_size + trailer_size;
        return BAD_INPUT;
    }
    bit_writer w{out.data + header_size, out.capacity - header_size};
    compress_into(w, input, length);
    out.size = header_size + w.position + trailer_size;
    return out.size > out.capacity ? OUTPUT_TOO_SMALL : DONE;
}

// A growable area of malloc'd memory, for the check that gzip input really is gzip.
bool grow_heap_area(output_area& area, size_t needed) {
    if (needed > size_t(INT32_MAX)) return false;
    size_t capacity = area.capacity < 4096 ? 4096 : area.capacity;
    while (capacity < needed) capacity = capacity > size_t(INT32_MAX) / 2 ? size_t(INT32_MAX) : capacity * 2;
    void* grown = std::realloc(area.data, capacity);
    if (!grown) return false;
    area.data = static_cast<uint8_t*>(grown);
    area.capacity = capacity;
    return true;
}

bool is_gzip_member(const uint8_t* input, size_t length) {
    output_area probe;
    probe.grow = &grow_heap_area;
    int code = gzip_decompress(probe, input, length);
    std::free(probe.data);
    return code == DONE;
}

}  // namespace

int compress_fixed(output_area& out, const uint8_t* input, size_t length) {
    bit_writer w{out.data, out.capacity};
    compress_into(w, input, length);
    out.size = w.position;
    return out.size > out.capacity ? OUTPUT_TOO_SMALL : DONE;
}

int zlib_compress(output_area& out, const uint8_t* input, size_t length) {
    int code = compress_framed(out, input, length, 2, 4);
    if (code != DONE) return code;
    out.data[0] = 0x78;
    out.data[1] = 0x01;
    put_be32(out.data + out.size - 4, checksum::adler32(input, length));
    return DONE;
}

int gzip_compress(output_area& out, const uint8_t* input, size_t length) {
    if (length > 2 && input[0] == 0x1F && input[1] == 0x8B && input[2] == 0x08 && is_gzip_member(input, length)) {
        if (out.capacity < length) {
            out.size = length;
            return OUTPUT_TOO_SMALL;
        }
        std::memcpy(out.data, input, length);
        out.size = length;
        return DONE;
    }
    int code = compress_framed(out, input, length, 10, 8);
    if (code != DONE) return code;
    static constexpr uint8_t HEADER[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::memcpy(out.data, HEADER, sizeof HEADER);
    put_le32(out.data + out.size - 8, checksum::crc32(input, length));
    put_le32(out.data + out.size - 4, static_cast<uint32_t>(length));
    return DONE;
}

int inflate(output_area& out, const uint8_t* input, size_t length) {
    out.size = 0;
    return inflate_stream(out, input, length);
}

int zlib_decompress(output_area& out, const uint8_t* input, size_t length) {
    out.size = 0;
    if (length < ZLIB_OVERHEAD) return BAD_INPUT;
    uint32_t method = input[0], flags = input[1];
    if ((method * 256 + flags) % 31 != 0 || (method & 0x0F) != 8 || (method & 0x80) || (flags & 0x20)) {
        return BAD_INPUT;
    }
    int code = inflate_stream(out, input + 2, length - ZLIB_OVERHEAD);
    if (code != DONE) return code;
    if (checksum::adler32(out.data, out.size) != get_be32(input + length - 4)) return BAD_INPUT;
    return DONE;
}

int gzip_decompress(output_area& out, const uint8_t* input, size_t length) {
    out.size = 0;
    if (length < GZIP_OVERHEAD || input[0] != 0x1F || input[1] != 0x8B || input[2] != 0x08 || input[3] >= 32) {
        return BAD_INPUT;
    }
    const uint8_t flags = input[3];
    size_t at = 10;
    if (flags & 0x04) {  // FEXTRA
        if (at + 2 > length) return BAD_INPUT;
        size_t extra = input[at] | size_t(input[at + 1]) << 8;
        at += 2;
        if (extra > length - at) return BAD_INPUT;
        at += extra;
    }
    for (uint8_t flag : {uint8_t(0x08), uint8_t(0x10)}) {  // FNAME, FCOMMENT: NUL-terminated
        if (!(flags & flag)) continue;
        const void* end = at < length ? std::memchr(input + at, 0, length - at) : nullptr;
        if (!end) return BAD_INPUT;
        at = static_cast<size_t>(static_cast<const uint8_t*>(end) - input) + 1;
    }
    if (flags & 0x02) {  // FHCRC
        if (at + 2 > length - 2) return BAD_INPUT;
        uint32_t header_crc = checksum::crc32(input, at) & 0xFFFF;
        if (header_crc != (input[at] | uint32_t(input[at + 1]) << 8)) return BAD_INPUT;
        at += 2;
    }
    if (at > length - 8) return BAD_INPUT;
    int code = inflate_stream(out, input + at, length - 8 - at);
    if (code != DONE) return code;
    if (static_cast<uint32_t>(out.size) != get_le32(input + length - 4)) return BAD_INPUT;
    if (checksum::crc32(out.data, out.size) != get_le32(input + length - 8)) return BAD_INPUT;
    return DONE;
}

int64_t gzip_size_hint(const uint8_t* input, size_t length) {
    if (length < GZIP_OVERHEAD) return -1;
    return get_le32(input + length - 4);
}

}  // namespace zor::deflate
