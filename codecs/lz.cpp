// The LZ codec: bit writer and reader, the chunked compressor with its two hash tables
// and chain, and the bounds-checked decompressor.
#include "codecs/lz.h"

#include <algorithm>
#include <cstring>

#include "runtime/memory/heap.h"

namespace zor::lz {
namespace {

// The length code: a prefix of zero bits ended by a one (the last class has five zeros
// and no one), then value_bits bits added to base; the match length is base + value + 3.
struct length_class {
    int value_bits;
    int32_t base;
};
constexpr length_class LENGTH_CLASSES[] = {
    {2, 0}, {2, 4}, {2, 8}, {3, 12}, {5, 20}, {9, 52},
};
constexpr int LAST_LENGTH_CLASS = 5;  // also the number of zeros in its prefix
static_assert(LENGTH_CLASSES[LAST_LENGTH_CLASS].base + (1 << 9) - 1 + MIN_MATCH == MAX_MATCH);

// The distance code: 4 bits k; with j = k + 2, j bits plus 2^j when j > 2, else 3 bits.
constexpr int DISTANCE_CLASS_BITS = 4;
constexpr int SMALLEST_DISTANCE_BITS = 2;
constexpr int SMALL_DISTANCE_BITS = 3;

// The compressor's work areas.
constexpr uint32_t HASH3_MASK = 0x7FFFF;   // 0x80000 heads over 3 bytes
constexpr uint32_t HASH4_MASK = 0xFFFFF;   // 0x100000 heads over 4 bytes
constexpr uint32_t CHAIN_MASK = WINDOW - 1;
constexpr int HASH3_SHIFT = 7;
constexpr int HASH4_SHIFT = 5;
constexpr int MAX_CANDIDATES = 256;
// A match of the shortest length this far back costs more bits than three literals.
constexpr int32_t FAR_SHORT_MATCH = 0x10000;
// The chunk buffer keeps MAX_MATCH zero bytes past the chunk, so the rolling hashes and
// the candidate pre-check may read a few bytes beyond its end.
constexpr int64_t CHUNK_BUFFER_SIZE = MAX_CHUNK + MAX_MATCH;

// No stream can expand more than this: the cheapest longest match is 22 bits (flag 1,
// five prefix zeros, 9 value bits, 4 + 3 distance bits) for MAX_MATCH bytes. A header
// claiming more is corrupt, and is refused before anything is allocated for it.
constexpr int64_t CHEAPEST_LONGEST_MATCH_BITS = 22;

uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// A tracked-heap block released when it goes out of scope.
struct heap_block {
    void* block;
    explicit heap_block(size_t bytes) : block(heap::allocate(bytes)) {}
    ~heap_block() { heap::release(block); }
    heap_block(const heap_block&) = delete;
    heap_block& operator=(const heap_block&) = delete;
    template <typename T> T* as() { return static_cast<T*>(block); }
};

void put_length_code(int32_t n, bit_writer& w) {
    for (int k = 0; k <= LAST_LENGTH_CLASS; ++k) {
        const length_class& c = LENGTH_CLASSES[k];
        if (n < c.base + (int32_t(1) << c.value_bits)) {
            if (k < LAST_LENGTH_CLASS) put_bits(k + 1, uint32_t(1) << k, w);  // k zeros, then a one
            else put_bits(k, 0, w);
            put_bits(c.value_bits, uint32_t(n - c.base), w);
            return;
        }
    }
}

void put_distance_code(uint32_t d, bit_writer& w) {
    int m = SMALLEST_DISTANCE_BITS;
    while (d >= (uint32_t(1) << (m + 1))) ++m;
    put_bits(DISTANCE_CLASS_BITS, uint32_t(m - SMALLEST_DISTANCE_BITS), w);
    if (m > SMALLEST_DISTANCE_BITS) put_bits(m, d - (uint32_t(1) << m), w);
    else put_bits(SMALL_DISTANCE_BITS, d, w);
}

int32_t common_length(const uint8_t* a, const uint8_t* b, int32_t limit) {
    int32_t n = 0;
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

struct work_areas {
    int32_t* heads3;
    int32_t* heads4;
    int32_t* chain;
    uint8_t* chunk;
};

// Compresses the n bytes in the chunk buffer as one chunk's bit stream. Positions are
// chunk-local, so no match reaches into an earlier chunk.
void compress_chunk(const work_areas& work, int32_t n, bit_writer& w) {
    const uint8_t* c = work.chunk;
    int32_t* heads3 = work.heads3;
    int32_t* heads4 = work.heads4;
    int32_t* chain = work.chain;
    uint32_t h3 = 0, h4 = 0;
    for (int i = 0; i < 3; ++i) h3 = ((h3 << HASH3_SHIFT) + c[i]) & HASH3_MASK;
    for (int i = 0; i < 4; ++i) h4 = ((h4 << HASH4_SHIFT) + c[i]) & HASH4_MASK;

    int32_t p = 0;
    while (p < n && !w.failed) {
        int32_t best_length = MIN_MATCH - 1;
        int32_t best_distance = WINDOW;
        int32_t max_length = std::min(MAX_MATCH, n - p);
        int32_t window_start = std::max(p - WINDOW, 0);

        if (max_length >= MIN_MATCH) {
            int32_t candidate = heads3[h3];  // -1 (none) is below any window start
            if (candidate >= window_start && c[candidate] == c[p] && c[candidate + 1] == c[p + 1] &&
                c[candidate + 2] == c[p + 2]) {
                int32_t length = common_length(c + candidate, c + p, max_length);
                if (length > best_length) {
                    best_length = length;
                    best_distance = p - candidate;
                }
            }
            if (best_length < max_length) {
                candidate = heads4[h4];
                for (int walked = 0; walked < MAX_CANDIDATES && candidate >= window_start; ++walked) {
                    if (c[candidate + best_length] == c[p + best_length] && c[candidate] == c[p]) {
                        int32_t length = common_length(c + candidate, c + p, max_length);
                        int32_t distance = p - candidate;
                        // A farther match must be longer by one byte for every factor of 8
                        // by which a sixteenth of its distance exceeds the best distance:
                        // its distance code costs more bits.
                        int32_t scaled = distance >> 4, penalty = 0;
                        while (scaled > best_distance) {
                            scaled >>= 3;
                            ++penalty;
                        }
                        if (length > best_length + penalty) {
                            best_length = length;
                            best_distance = distance;
                        }
                        if (length >= max_length) break;
                    }
                    candidate = chain[uint32_t(candidate) & CHAIN_MASK];
                }
            }
        }
        if (best_length == MIN_MATCH && best_distance > FAR_SHORT_MATCH) best_length = MIN_MATCH - 1;

        int32_t covered;
        if (best_length < MIN_MATCH) {
            put_bits(9, uint32_t(c[p]) << 1, w);  // flag 0, then the byte
            covered = 1;
        } else {
            put_bits(1, 1, w);
            put_length_code(best_length - MIN_MATCH, w);
            put_distance_code(uint32_t(best_distance - 1), w);
            covered = best_length;
        }
        for (int32_t q = p; q < p + covered; ++q) {
            heads3[h3] = q;
            chain[uint32_t(q) & CHAIN_MASK] = heads4[h4];
            heads4[h4] = q;
            h3 = ((h3 << HASH3_SHIFT) + c[q + 3]) & HASH3_MASK;
            h4 = ((h4 << HASH4_SHIFT) + c[q + 4]) & HASH4_MASK;
        }
        p += covered;
    }
}

// Decodes one chunk's tokens into out until it holds length bytes. False when the bit
// stream runs out or a match reaches outside the chunk.
bool decompress_chunk(bit_reader& r, uint8_t* out, int64_t length) {
    int64_t produced = 0;
    while (produced < length) {
        if (get_bits(1, r) == 0) {
            uint32_t byte = get_bits(8, r);
            if (r.overrun) return false;
            out[produced++] = uint8_t(byte);
            continue;
        }
        int zeros = 0;
        while (zeros < LAST_LENGTH_CLASS && get_bits(1, r) == 0) ++zeros;
        const length_class& c = LENGTH_CLASSES[zeros];
        int64_t match_length = int64_t(c.base) + get_bits(c.value_bits, r) + MIN_MATCH;
        int j = int(get_bits(DISTANCE_CLASS_BITS, r)) + SMALLEST_DISTANCE_BITS;
        uint32_t d = j > SMALLEST_DISTANCE_BITS ? get_bits(j, r) + (uint32_t(1) << j)
                                                : get_bits(SMALL_DISTANCE_BITS, r);
        if (r.overrun) return false;
        int64_t from = produced - (int64_t(d) + 1);
        if (from < 0 || match_length > length - produced) return false;
        uint8_t* to = out + produced;
        const uint8_t* source = out + from;
        if (to - source >= match_length) {
            std::memcpy(to, source, size_t(match_length));
        } else {
            for (int64_t i = 0; i < match_length; ++i) to[i] = source[i];  // repeats the pattern
        }
        produced += match_length;
    }
    return true;
}

}  // namespace

void put_bits(int count, uint32_t value, bit_writer& state) {
    count = std::clamp(count, 0, 32);
    if (count == 0) return;
    uint64_t bits = count == 32 ? value : value & ((uint32_t(1) << count) - 1);
    state.pending |= bits << state.pending_count;
    state.pending_count += count;
    while (state.pending_count >= 8) {
        if (uint8_t* slot = reserve(state, 1)) *slot = uint8_t(state.pending);
        state.pending >>= 8;
        state.pending_count -= 8;
    }
}

uint8_t* reserve(bit_writer& state, int64_t bytes) {
    if (bytes < 0 || bytes > state.capacity - state.position) {
        state.failed = true;
        return nullptr;
    }
    uint8_t* slot = state.output + state.position;
    state.position += bytes;
    return slot;
}

void reset(bit_writer& state) {
    state.pending = 0;
    state.pending_count = 0;
}

uint32_t get_bits(int count, bit_reader& state) {
    count = std::clamp(count, 0, 32);
    while (state.pending_count < count) {
        uint64_t byte = 0;
        if (state.position < state.limit) byte = state.input[state.position++];
        else state.overrun = true;
        state.pending |= byte << state.pending_count;
        state.pending_count += 8;
    }
    uint32_t value = count == 0 ? 0 : uint32_t(state.pending & ((uint64_t(1) << count) - 1));
    state.pending >>= count;
    state.pending_count -= count;
    return value;
}

void reset(bit_reader& state) {
    state.pending = 0;
    state.pending_count = 0;
}

int64_t compress(const uint8_t* source, int64_t length, uint8_t* destination) {
    if (length < MIN_INPUT || length > int64_t(UINT32_MAX)) return -1;

    heap_block heads3(sizeof(int32_t) * (HASH3_MASK + 1));
    heap_block heads4(sizeof(int32_t) * (HASH4_MASK + 1));
    heap_block chain(sizeof(int32_t) * WINDOW);
    heap_block chunk(CHUNK_BUFFER_SIZE);
    work_areas work{heads3.as<int32_t>(), heads4.as<int32_t>(), chain.as<int32_t>(), chunk.as<uint8_t>()};

    bit_writer w;
    w.output = destination + HEADER_SIZE;
    w.capacity = length - HEADER_SIZE;
    for (int64_t start = 0; start < length && !w.failed; start += MAX_CHUNK) {
        int32_t n = int32_t(std::min<int64_t>(MAX_CHUNK, length - start));
        std::memcpy(work.chunk, source + start, size_t(n));
        std::memset(work.chunk + n, 0, size_t(CHUNK_BUFFER_SIZE - n));
        uint8_t* field = reserve(w, 4);
        if (!field) break;
        store32(field, uint32_t(n));
        std::fill_n(work.heads3, HASH3_MASK + 1, -1);
        std::fill_n(work.heads4, HASH4_MASK + 1, -1);
        reset(w);
        compress_chunk(work, n, w);
        put_bits(7, 0, w);  // completes a partly written byte with zero bits
        reset(w);
    }
    if (w.failed) return -1;
    store32(destination, uint32_t(w.position));
    store32(destination + 4, uint32_t(length));
    return HEADER_SIZE + w.position;
}

uint8_t* decompress(const uint8_t* blob, size_t blob_length, int64_t* output_size) {
    if (output_size) *output_size = 0;
    if (!blob || blob_length < size_t(HEADER_SIZE)) return nullptr;
    int64_t compressed = load32(blob);
    int64_t uncompressed = load32(blob + 4);
    if (uint64_t(compressed) > blob_length - HEADER_SIZE) return nullptr;  // truncated
    if (uncompressed * CHEAPEST_LONGEST_MATCH_BITS > compressed * 8 * MAX_MATCH) return nullptr;

    auto* out = static_cast<uint8_t*>(heap::allocate(size_t(uncompressed) + 8));
    std::memset(out, 0, size_t(uncompressed) + 8);
    const uint8_t* area = blob + HEADER_SIZE;
    int64_t position = 0, fill = 0;
    bool corrupt = false;
    while (position < compressed) {
        if (compressed - position < 4) { corrupt = true; break; }
        int64_t length = load32(area + position);
        position += 4;
        if (length < 1 || length > MAX_CHUNK || length > uncompressed - fill) { corrupt = true; break; }
        bit_reader r;
        r.input = area;
        r.limit = compressed;
        r.position = position;
        if (!decompress_chunk(r, out + fill, length)) { corrupt = true; break; }
        reset(r);
        position = r.position;
        fill += length;
    }
    // A stream that ends early would silently lose the rest of the data.
    if (corrupt || fill != uncompressed) {
        heap::release(out);
        return nullptr;
    }
    if (output_size) *output_size = fill;
    return out;
}

void release_buffer(uint8_t* buffer) { heap::release(buffer); }

}  // namespace zor::lz
