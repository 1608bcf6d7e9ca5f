// The hashtable: value hashing, the table record, probing, growth, records and the
// collector's hooks. See runtime/binding/hashtable.h for the layout and the rules callers keep.
#include "runtime/binding/hashtable.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>

#include "runtime/text/case-fold.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/hash-index.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/text/unicode.h"

namespace zor::hashtable {

uint32_t hash_seed = 0;

void set_seed(uint32_t seed) { hash_seed = seed; }

namespace {

// The string view type of the comparison and hashing routines: string! fields, with an
// optional character count in payload word 3. It is not a registered datatype.
constexpr uint32_t TYPE_STRING_VIEW = 56;
// Money's sign bit in the header.
constexpr uint32_t MONEY_SIGN = 0x4000;
// Keeps every array below the memory manager's 32-bit buffer limit (keys: 4 bytes a bucket).
constexpr int64_t MAX_BUCKETS = int64_t(1) << 28;

// --- MurmurHash3 x86 32-bit ---------------------------------------------------------------

constexpr uint32_t C1 = 0xCC9E2D51u;
constexpr uint32_t C2 = 0x1B873593u;

inline uint32_t mix_block(uint32_t h, uint32_t k) {
    k *= C1;
    k = std::rotl(k, 15);
    k *= C2;
    h ^= k;
    h = std::rotl(h, 13);
    return h * 5 + 0xE6546B64u;
}

inline uint32_t mix_tail(uint32_t h, uint32_t k) {
    k *= C1;
    k = std::rotl(k, 15);
    k *= C2;
    return h ^ k;
}

// Murmur over bytes that pass through a byte mapping first (identity, or ASCII folding).
template <typename Map> uint32_t murmur3_mapped(const uint8_t* p, int64_t length, uint32_t seed, Map map) {
    uint32_t h = seed;
    int64_t blocks = length / 4;
    for (int64_t i = 0; i < blocks; ++i, p += 4) {
        uint32_t k = uint32_t(map(p[0])) | uint32_t(map(p[1])) << 8 | uint32_t(map(p[2])) << 16 |
                     uint32_t(map(p[3])) << 24;
        h = mix_block(h, k);
    }
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(map(p[2])) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(map(p[1])) << 8; [[fallthrough]];
        case 1:
            k ^= uint32_t(map(p[0]));
            h = mix_tail(h, k);
            break;
        default: break;
    }
    h ^= static_cast<uint32_t>(length);
    return fmix32(h);
}

struct identity_byte {
    uint8_t operator()(uint8_t b) const { return b; }
};
struct fold_ascii_byte {
    uint8_t operator()(uint8_t b) const { return (b >= 0x41 && b <= 0x5A) ? uint8_t(b | 0x60) : b; }
};

uint32_t murmur3_words(const uint32_t* words, int count) {
    uint8_t bytes[16];
    std::memcpy(bytes, words, size_t(count) * 4);
    return murmur3(bytes, count * 4, hash_seed);
}

// The characters as murmur blocks, one 32-bit block each, upper-cased when folding: a
// loop per unit width and case rule, so the common narrow string runs without a branch
// or a call per character.
template <typename Unit, bool fold>
uint32_t mix_characters(const std::byte* at, int64_t count, uint32_t h) {
    for (int64_t i = 0; i < count; ++i) {
        Unit unit;
        std::memcpy(&unit, at + i * int64_t(sizeof(Unit)), sizeof(Unit));
        uint32_t c = unit;
        if constexpr (fold) c = case_fold::to_upper(c);
        h = mix_block(h, c);
    }
    return h;
}

template <typename Unit>
uint32_t mix_characters(const std::byte* at, int64_t count, uint32_t h, bool case_sensitive) {
    return case_sensitive ? mix_characters<Unit, false>(at, count, h) : mix_characters<Unit, true>(at, count, h);
}

// The string hash: each character from the index is one 32-bit block (upper-cased unless
// case sensitive); the length mixed in is 4 x the characters. The value is murmur3 of the
// text as UCS-4, which a wide case-sensitive string is already.
uint32_t string_hash(const cell* value, bool case_sensitive) {
    if (value->w2 == 0) return fmix32(hash_seed);
    memory::series_buffer* b = memory::buffer_of(value->w2);
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit_width();
    int64_t length = (b->tail - b->head) / unit;
    int64_t index = std::clamp<int64_t>(static_cast<int32_t>(value->w1), 0, length);
    int64_t count = length - index;
    if ((value->header & HEADER_TYPE_MASK) == TYPE_STRING_VIEW && static_cast<int32_t>(value->w3) >= 0) {
        count = std::min<int64_t>(count, static_cast<int32_t>(value->w3));
    }
    const std::byte* at = b->head + index * unit;
    if (unit == 4 && case_sensitive) return murmur3(at, count * 4, hash_seed);
    uint32_t h = unit == 1   ? mix_characters<uint8_t>(at, count, hash_seed, case_sensitive)
                 : unit == 2 ? mix_characters<uint16_t>(at, count, hash_seed, case_sensitive)
                             : mix_characters<uint32_t>(at, count, hash_seed, case_sensitive);
    h ^= static_cast<uint32_t>(count * 4);
    return fmix32(h);
}

uint32_t binary_hash(const cell* value) {
    if (value->w2 == 0) return murmur3_bytes(nullptr, 0);
    memory::series_buffer* b = memory::buffer_of(value->w2);
    int64_t total = b->tail - b->head;
    int64_t index = std::max<int64_t>(static_cast<int32_t>(value->w1), 0);
    if (index >= total) return murmur3_bytes(nullptr, 0);
    return murmur3_bytes(b->head + index, total - index);
}

uint32_t symbol_hash(const cell* value) {
    if (value->w3 == 0) return folded_name_hash(nullptr, 0);
    memory::series_buffer* b = memory::buffer_of(value->w3);
    return folded_name_hash(reinterpret_cast<const uint8_t*>(b->head), b->tail - b->head);
}

// --- Rooting --------------------------------------------------------------------------------

// Keeps nodes where they are while a table operation holds node references in locals
// (the table's own node, a new array's node) across its allocations; buffers may still
// move and are read again through their nodes.
class nodes_stay {
public:
    nodes_stay() : saved_(gc::node_compaction) { gc::node_compaction = 0; }
    ~nodes_stay() { gc::node_compaction = saved_; }
    nodes_stay(const nodes_stay&) = delete;
    nodes_stay& operator=(const nodes_stay&) = delete;

private:
    uint32_t saved_;
};

// --- Record access ---------------------------------------------------------------------------

inline node_ref as_node(int32_t word) { return static_cast<node_ref>(word); }
inline int32_t as_word(node_ref node) { return static_cast<int32_t>(node); }

inline table_record* record_of(node_ref table) {
    return reinterpret_cast<table_record*>(memory::buffer_of(table)->head);
}

inline memory::series_buffer* values_buffer(const table_record* r) { return memory::buffer_of(as_node(r->values)); }

inline int64_t value_count(const table_record* r) {
    memory::series_buffer* b = values_buffer(r);
    return (b->tail - b->head) / int64_t(sizeof(cell));
}

[[noreturn]] void raise_out_of_range(int64_t n) {
    cell value{TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX))),
               0};
    raise::throw_error(err::script_out_of_range, &value);
}

[[noreturn]] void raise_not_done() { raise::throw_error(err::internal_not_done); }

// Kind 0 (hash!) keeps its entries in runtime/hash-index.cpp.
bool is_hash_index(node_ref table) { return table && record_of(table)->kind == KIND_HASH; }

void require_kind(const table_record* r, bool allowed) {
    if (allowed) return;
    cell kind{TYPE_INTEGER, 0, static_cast<uint32_t>(r->kind), 0};
    raise::throw_error(err::script_invalid_arg, &kind);
}

// The byte size of the flag array for a bucket count (at least one byte).
inline int64_t flag_bytes(int64_t buckets) { return std::max<int64_t>(buckets / 4, 1); }

node_ref new_flags(int64_t buckets) {
    node_ref node = memory::alloc_filled_bytes(flag_bytes(buckets), 0xAA);
    memory::series_buffer* b = memory::buffer_of(node);
    b->tail = b->head + flag_bytes(buckets);
    return node;
}

node_ref new_keys(int64_t buckets) {
    node_ref node = memory::alloc_filled_bytes(buckets * 4, 0);
    memory::series_buffer* b = memory::buffer_of(node);
    b->tail = b->head + buckets * 4;
    return node;
}

inline int32_t upper_bound_rounded(int64_t buckets) {
    return static_cast<int32_t>(std::trunc(double(buckets) * LOAD_FACTOR + 0.5));
}

int64_t bucket_request(int64_t request) {
    if (request > MAX_BUCKETS) raise::throw_error(err::internal_no_memory);
    return power_of_two_at_or_above(static_cast<uint32_t>(std::max<int64_t>(request, 4)));
}

// The hash by which kinds 0-2 place the entry named by a key.
uint32_t entry_hash(const cell* values, int64_t count, int32_t key) {
    if (key < 0 || key >= count) return 0;
    return hash_value(values + key, false);
}

// The index of a cell in the value series, or -1 when it does not lie there.
int64_t cell_index(const table_record* r, const cell* value) {
    memory::series_buffer* b = values_buffer(r);
    const cell* head = b->head_cell();
    const cell* tail = b->tail_cell();
    if (value < head || value >= tail) return -1;
    return value - head;
}

bool same_key_type(const cell* stored, const cell* sought) {
    return stored->type() == sought->type() || (sought->header & HEADER_TYPE_MASK) == TYPE_STRING_VIEW;
}

// A word key sought as a set-word!: a rooted copy of the key, so the caller's cell (which
// may be an argument-stack slot that an error overwrites while the lookup unwinds) is
// never changed and never read again.
class word_key_as_set_word {
public:
    explicit word_key_as_set_word(const cell* key) : held_(*key), root_(&held_) {
        type_id t = held_.type();
        if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) cell::set_type(&held_, TYPE_SET_WORD);
    }
    cell* key() { return &held_; }
    word_key_as_set_word(const word_key_as_set_word&) = delete;
    word_key_as_set_word& operator=(const word_key_as_set_word&) = delete;

private:
    cell held_;
    gc::root_guard root_;
};

// --- Records (kinds 3, 4) -----------------------------------------------------------------------

inline int64_t record_cells(const table_record* r) { return r->width / int64_t(sizeof(cell)); }

inline cell* record_at(const table_record* r, int32_t offset) {
    return reinterpret_cast<cell*>(values_buffer(r)->head + offset);
}

inline bool record_live(const cell* key_cell) { return key_cell->header == TYPE_UNSET; }

void reset_record(cell* key_cell, int64_t cells, int32_t key) {
    key_cell->header = TYPE_UNSET;
    key_cell->w1 = static_cast<uint32_t>(key);
    key_cell->w2 = key_cell->w3 = 0;
    for (int64_t i = 1; i < cells; ++i) cell::init_unset(key_cell + i);
}

void clear_record(cell* key_cell, int64_t cells) {
    *key_cell = cell{0, 0, 0, 0};
    for (int64_t i = 1; i < cells; ++i) cell::init_unset(key_cell + i);
}

// Re-enters every live record at the same size after keys may have moved.
void rehash_records_in_place(node_ref table) {
    table_view v = view(table);
    table_record* r = v.record;
    std::memset(v.flags, 0xAA, static_cast<size_t>(flag_bytes(r->buckets)));
    uint32_t mask = static_cast<uint32_t>(r->buckets) - 1;
    memory::series_buffer* b = values_buffer(r);
    int64_t total = b->tail - b->head;
    int32_t live = 0;
    for (int64_t offset = 0; offset + r->width <= total; offset += r->width) {
        cell* key_cell = reinterpret_cast<cell*>(b->head + offset);
        if (!record_live(key_cell)) continue;
        uint32_t bucket = fmix32(key_cell->w1) & mask, step = 0;
        while (bucket_state_of(v.flags, bucket) != BUCKET_EMPTY) bucket = next_bucket(bucket, &step, mask);
        set_bucket_state(v.flags, bucket, BUCKET_LIVE);
        v.keys[bucket] = static_cast<int32_t>(offset);
        ++live;
    }
    r->size = r->occupied = live;
    r->gc_stamp = static_cast<int32_t>(gc::cycle_count() + 1);
}

void refresh_records(node_ref table) {
    table_record* r = record_of(table);
    if (r->gc_stamp != 0 && static_cast<uint32_t>(r->gc_stamp) != gc::cycle_count() + 1 && !gc::in_collection_q()) {
        rehash_records_in_place(table);
    }
}

struct record_walk {
    int64_t live_bucket = -1;     // the bucket holding the key
    int64_t empty_bucket = -1;    // where the walk ended on an empty bucket
    int64_t deleted_bucket = -1;  // the last deleted bucket passed
};

record_walk walk_records(node_ref table, int32_t key) {
    table_view v = view(table);
    table_record* r = v.record;
    uint32_t mask = static_cast<uint32_t>(r->buckets) - 1;
    uint32_t first = fmix32(static_cast<uint32_t>(key)) & mask, bucket = first, step = 0;
    record_walk w;
    do {
        uint32_t state = bucket_state_of(v.flags, bucket);
        if (state == BUCKET_EMPTY) {
            w.empty_bucket = bucket;
            return w;
        }
        if (state == BUCKET_DELETED) {
            w.deleted_bucket = bucket;
        } else if (record_at(r, v.keys[bucket])->w1 == static_cast<uint32_t>(key)) {
            w.live_bucket = bucket;
            return w;
        }
        bucket = next_bucket(bucket, &step, mask);
    } while (bucket != first);
    return w;
}

// --- Kinds 1 and 2 ------------------------------------------------------------------------------

// The kick-out move of every live entry into a new flag array of n buckets (n >= the old
// count), visiting the old buckets in order. A map's stored hashes (hashes, else null)
// travel with their keys and place them without hashing the keys again.
void rehash_kick_out(table_record* r, uint8_t* old_flags, uint8_t* flags, int32_t* keys, uint32_t* hashes,
                     uint32_t n) {
    uint32_t old_buckets = static_cast<uint32_t>(r->buckets);
    uint32_t mask = n - 1;
    memory::series_buffer* vb = values_buffer(r);
    const cell* values = vb->head_cell();
    int64_t count = (vb->tail - vb->head) / int64_t(sizeof(cell));
    for (uint32_t j = 0; j < old_buckets; ++j) {
        if (bucket_state_of(old_flags, j) != BUCKET_LIVE) continue;
        int32_t key = keys[j];
        uint32_t hash = hashes ? hashes[j] : entry_hash(values, count, key);
        set_bucket_state(old_flags, j, BUCKET_DELETED);
        for (;;) {
            uint32_t bucket = hash & mask, step = 0;
            while (bucket_state_of(flags, bucket) != BUCKET_EMPTY) bucket = next_bucket(bucket, &step, mask);
            set_bucket_state(flags, bucket, BUCKET_LIVE);
            if (bucket < old_buckets && bucket_state_of(old_flags, bucket) == BUCKET_LIVE) {
                // An entry not moved yet: carry it on, leave the carried key in its place.
                int32_t taken = keys[bucket];
                keys[bucket] = key;
                set_bucket_state(old_flags, bucket, BUCKET_DELETED);
                key = taken;
                if (hashes) std::swap(hash, hashes[bucket]);
                else hash = entry_hash(values, count, key);
                continue;
            }
            keys[bucket] = key;
            if (hashes) hashes[bucket] = hash;
            break;
        }
    }
}

cell* put_entry(node_ref table, cell* value, int32_t* status) {
    if (is_hash_index(table)) return hash_index::put(table, value, status);
    nodes_stay guard;
    table_record* r = record_of(table);
    require_kind(r, r->kind == KIND_MAP || r->kind == KIND_SYMBOL);
    int64_t index = cell_index(r, value);
    if (index < 0) raise::throw_error(err::script_invalid_arg, value);
    grow_if_full(table);

    for (;;) {
        table_view v = view(table);
        uint32_t hash = hash_value(v.values + index, false);
        uint32_t mask = static_cast<uint32_t>(v.record->buckets) - 1;
        uint32_t first = hash & mask, bucket = first, step = 0;
        int64_t target = -1, deleted = -1;
        do {
            uint32_t state = bucket_state_of(v.flags, bucket);
            if (state == BUCKET_EMPTY) {
                target = bucket;
                break;
            }
            if (state == BUCKET_DELETED) {
                deleted = bucket;
            } else {
                int32_t key = v.keys[bucket];
                if (key != index && v.hashes && v.hashes[bucket] != hash) {
                    // Keys of different hashes never compare equal: no comparison needed.
                } else if (key >= 0 && key < value_count(v.record) && key != index) {
                    cell* stored = v.values + key;
                    if (stored->type() == v.values[index].type()) {
                        int answer = actions::dispatch_compare(stored, v.values + index, COMPARE_STRICT_EQUAL);
                        v = view(table);  // the comparison may have allocated
                        if (answer == 0) {
                            if (status) *status = 1;
                            return v.values + key;
                        }
                    }
                } else if (key == index) {
                    if (status) *status = 1;  // the cell itself is already entered
                    return v.values + key;
                }
            }
            bucket = next_bucket(bucket, &step, mask);
        } while (bucket != first);
        if (deleted >= 0) target = deleted;
        if (target < 0) {
            // Every bucket live: cannot happen below the upper bound, but never loop.
            resize(table, int64_t(v.record->buckets) + 1);
            continue;
        }
        place_entry(table, static_cast<uint32_t>(target), static_cast<int32_t>(index));
        if (v.hashes) v.hashes[target] = hash;  // place_entry allocates nothing
        if (status) *status = 0;
        return nullptr;
    }
}

// Finds the bucket that names a value cell (kinds 1 and 2), or -1.
int64_t bucket_of_cell(node_ref table, int64_t index) {
    table_view v = view(table);
    uint32_t mask = static_cast<uint32_t>(v.record->buckets) - 1;
    uint32_t first = hash_value(v.values + index, false) & mask, bucket = first, step = 0;
    do {
        uint32_t state = bucket_state_of(v.flags, bucket);
        if (state == BUCKET_EMPTY) return -1;
        if (state == BUCKET_LIVE && v.keys[bucket] == index) return bucket;
        bucket = next_bucket(bucket, &step, mask);
    } while (bucket != first);
    return -1;
}

// Indexes the pairs of a map! block from a cell index: a key met again keeps the later
// value in the earlier pair, and the later pair leaves the block.
void index_pairs(node_ref table, int64_t from) {
    int64_t i = from;
    for (;;) {
        table_record* r = record_of(table);
        int64_t count = value_count(r);
        if (i + 1 >= count) return;
        cell* existing = put_entry(table, values_buffer(record_of(table))->head_cell() + i, nullptr);
        if (!existing) {
            i += 2;
            continue;
        }
        memory::series_buffer* b = values_buffer(record_of(table));
        cell* cells = b->head_cell();
        count = (b->tail - b->head) / int64_t(sizeof(cell));
        cell later_value = cells[i + 1];
        existing[1] = later_value;
        std::memmove(cells + i, cells + i + 2, static_cast<size_t>(count - i - 2) * sizeof(cell));
        b->tail -= 2 * sizeof(cell);
    }
}

}  // namespace

// --- Hashing -----------------------------------------------------------------------------------

uint32_t murmur3(const void* bytes, int64_t length, uint32_t seed) {
    return murmur3_mapped(static_cast<const uint8_t*>(bytes), length, seed, identity_byte{});
}

uint32_t murmur3_bytes(const void* bytes, int64_t length) { return murmur3(bytes, length, hash_seed); }

uint32_t folded_name_hash(const uint8_t* bytes, int64_t length) {
    return murmur3_mapped(bytes, length, hash_seed, fold_ascii_byte{});
}

uint32_t hash_value(const cell* value, bool case_sensitive) {
    uint32_t type = value->header & HEADER_TYPE_MASK;
    if (type == TYPE_STRING_VIEW) return string_hash(value, case_sensitive);
    switch (static_cast<type_id>(type)) {
        case TYPE_UNSET: return static_cast<uint32_t>(-2);
        case TYPE_NONE: return static_cast<uint32_t>(-1);
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            return fmix32(value->w1);
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
            return fmix32(value->w2);
        case TYPE_NATIVE: case TYPE_ACTION:
            return fmix32(value->w3);
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_POINT2D: case TYPE_IMAGE: {
            uint32_t words[2] = {value->w1, value->w2};
            return murmur3_words(words, 2);
        }
        case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME: {
            uint32_t words[2] = {value->w2, value->w3};
            return murmur3_words(words, 2);
        }
        case TYPE_DATE: {
            // By the instant, as dates compare: the same moment in two zones is one key.
            int64_t days;
            double seconds;
            date::instant_of(value, &days, &seconds);
            uint64_t bits = std::bit_cast<uint64_t>(seconds == 0.0 ? 0.0 : seconds);
            uint32_t words[3] = {static_cast<uint32_t>(days), static_cast<uint32_t>(bits),
                                 static_cast<uint32_t>(bits >> 32)};
            return murmur3_words(words, 3);
        }
        case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET:
        case TYPE_POINT3D: {
            uint32_t words[3] = {value->w1, value->w2, value->w3};
            return murmur3_words(words, 3);
        }
        case TYPE_TUPLE: {
            uint8_t bytes[12];
            uint32_t words[3] = {value->w1, value->w2, value->w3};
            std::memcpy(bytes, words, sizeof bytes);
            // The length sits in header bits 19-22; the payload holds at most 12 bytes.
            int64_t length = std::min<int64_t>((value->header >> 19) & 0xF, 12);
            return murmur3(bytes, length, hash_seed);
        }
        case TYPE_BINARY: return binary_hash(value);
        case TYPE_MONEY: {
            uint32_t words[4] = {TYPE_MONEY | (value->header & MONEY_SIGN), value->w1, value->w2, value->w3};
            return murmur3_words(words, 4);
        }
        case TYPE_SYMBOL: return symbol_hash(value);
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            return fmix32(static_cast<uint32_t>(symbol::canonical_id(static_cast<int32_t>(value->w2))));
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
            return string_hash(value, case_sensitive);
        default: return 0;
    }
}

// --- Sizes ---------------------------------------------------------------------------------------

uint32_t power_of_two_at_or_above(uint32_t n) {
    if (n <= 1) return 1;
    uint32_t v = n - 1;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

void size_for_request(int64_t n, int32_t* buckets, int32_t* upper_bound) {
    if (n < 4) n = 4;
    double wanted = std::trunc(double(n) / LOAD_FACTOR);
    if (wanted > double(MAX_BUCKETS)) raise::throw_error(err::internal_no_memory);
    uint32_t count = power_of_two_at_or_above(static_cast<uint32_t>(wanted));
    *buckets = static_cast<int32_t>(count);
    *upper_bound = static_cast<int32_t>(std::trunc(double(count) * LOAD_FACTOR));
}

// --- Tables --------------------------------------------------------------------------------------

table_view view(node_ref table) {
    table_record* r = record_of(table);
    uint32_t* hashes = nullptr;
    if (r->kind == KIND_MAP && r->duplicates) {
        hashes = reinterpret_cast<uint32_t*>(memory::buffer_of(as_node(r->duplicates))->head);
    }
    return {r, reinterpret_cast<uint8_t*>(memory::buffer_of(as_node(r->flags))->head),
            reinterpret_cast<int32_t*>(memory::buffer_of(as_node(r->keys))->head), values_buffer(r)->head_cell(),
            hashes};
}

void place_entry(node_ref table, uint32_t bucket, int32_t key) {
    table_view v = view(table);
    uint32_t was = bucket_state_of(v.flags, bucket);
    set_bucket_state(v.flags, bucket, BUCKET_LIVE);
    v.keys[bucket] = key;
    v.record->size += 1;
    if (was == BUCKET_EMPTY) v.record->occupied += 1;
}

node_ref make(int64_t requested, const cell* values, int32_t kind, int32_t width) {
    nodes_stay guard;
    if (kind < KIND_HASH || kind > KIND_OWNERSHIP) raise_out_of_range(kind);
    if (kind == KIND_HASH) return hash_index::make(requested, values);
    if (requested < 0) requested = 0;
    int64_t record_width = 0;
    if (kind >= KIND_RECORDS) {
        if (width < 0) raise_out_of_range(width);
        record_width = (int64_t(width) + 1) * int64_t(sizeof(cell));
        if (record_width > INT32_MAX / 2) raise_out_of_range(width);
    }
    // A context's table copied with its key list.
    if (kind == KIND_SYMBOL && width == 2 && values && values->type() == TYPE_CONTEXT && values->w1) {
        node_ref source = values->w1;
        stack::slot_mark scope;
        node_ref keys_copy = memory::copy_series(values_buffer(record_of(source)));
        scope.hold_block(keys_copy);
        return copy(source, keys_copy);
    }
    node_ref given = 0;
    int64_t start = 0;
    if (values && kind <= KIND_SYMBOL) {
        if (values->w2 == 0 || memory::buffer_of(values->w2)->unit() != sizeof(cell)) {
            raise::throw_error(err::script_invalid_arg, values);
        }
        given = values->w2;
        start = std::max<int64_t>(static_cast<int32_t>(values->w1), 0);
    }
    if (kind == KIND_SYMBOL && requested >= 4000) requested *= 2;
    int32_t buckets, upper_bound;
    size_for_request(requested, &buckets, &upper_bound);

    stack::slot_mark scope;
    if (given) scope.hold_block(given);
    node_ref table = memory::alloc_filled_bytes(RECORD_BYTES, 0);
    memory::buffer_of(table)->tail = memory::buffer_of(table)->head + RECORD_BYTES;
    scope.hold_bytes(table);
    node_ref flags = new_flags(buckets);
    scope.hold_bytes(flags);
    node_ref keys = new_keys(buckets);
    scope.hold_bytes(keys);
    node_ref hashes = 0;
    if (kind == KIND_MAP) {
        hashes = new_keys(buckets);
        scope.hold_bytes(hashes);
    }
    node_ref value_series = given;
    if (!value_series) {
        value_series = memory::alloc_cells(std::max<int64_t>(requested, 1));
        scope.hold_block(value_series);
    }
    table_record* r = record_of(table);
    r->kind = kind;
    r->width = static_cast<int32_t>(record_width);
    r->flags = as_word(flags);
    r->keys = as_word(keys);
    r->duplicates = as_word(hashes);
    r->values = as_word(value_series);
    r->buckets = buckets;
    r->upper_bound = upper_bound;
    if (kind >= KIND_RECORDS) r->gc_stamp = static_cast<int32_t>(gc::cycle_count() + 1);

    if (kind == KIND_MAP && given) {
        scope.hold_map(given, table);
        index_pairs(table, std::min<int64_t>(start, value_count(record_of(table))));
    }
    return table;
}

cell* put(node_ref table, cell* value) { return put_entry(table, value, nullptr); }

cell* put_with_status(node_ref table, cell* value, int32_t* status) { return put_entry(table, value, status); }

cell* find(node_ref table, cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse) {
    if (is_hash_index(table)) return hash_index::find(table, key, start, skip, op, last, reverse);
    nodes_stay guard;  // a comparison may allocate
    // Only hash! keeps duplicates to choose among.
    (void)start, (void)skip, (void)last, (void)reverse;
    table_record* r = record_of(table);
    require_kind(r, r->kind == KIND_MAP || r->kind == KIND_SYMBOL);
    word_key_as_set_word sought(key);
    key = sought.key();
    table_view v = view(table);
    uint32_t mask = static_cast<uint32_t>(v.record->buckets) - 1;
    uint32_t hash = hash_value(key, false);
    uint32_t first = hash & mask, bucket = first, step = 0;
    do {
        uint32_t state = bucket_state_of(v.flags, bucket);
        if (state == BUCKET_EMPTY) return nullptr;
        if (state == BUCKET_LIVE && (!v.hashes || v.hashes[bucket] == hash)) {
            int32_t index = v.keys[bucket];
            if (index >= 0 && index < value_count(v.record) && same_key_type(v.values + index, key)) {
                int answer = actions::dispatch_compare(v.values + index, key, op);
                v = view(table);
                if (answer == 0) return v.values + index;
            }
        }
        bucket = next_bucket(bucket, &step, mask);
    } while (bucket != first);
    return nullptr;
}

cell* find_next(node_ref table, cell* key, int32_t* saved_bucket, int32_t* saved_step) {
    if (is_hash_index(table)) return hash_index::find_next(table, key, saved_bucket, saved_step);
    nodes_stay guard;  // a comparison may allocate
    table_record* r = record_of(table);
    require_kind(r, r->kind == KIND_MAP || r->kind == KIND_SYMBOL);
    table_view v = view(table);
    uint32_t mask = static_cast<uint32_t>(v.record->buckets) - 1;
    uint32_t hash = hash_value(key, false);
    uint32_t first = hash & mask;
    uint32_t bucket = first, step = 0;
    if (*saved_bucket >= 0) {
        bucket = static_cast<uint32_t>(*saved_bucket) & mask;
        step = static_cast<uint32_t>(std::max(*saved_step, 0));
        bucket = next_bucket(bucket, &step, mask);
        // A walk that has seen every bucket has nothing left (triangular steps visit each once).
        if (step >= static_cast<uint32_t>(v.record->buckets)) return nullptr;
    }
    for (;;) {
        uint32_t state = bucket_state_of(v.flags, bucket);
        if (state == BUCKET_EMPTY) break;
        if (state == BUCKET_LIVE && (!v.hashes || v.hashes[bucket] == hash)) {
            int32_t index = v.keys[bucket];
            if (index >= 0 && index < value_count(v.record) && same_key_type(v.values + index, key)) {
                int answer = actions::dispatch_compare(v.values + index, key, COMPARE_EQUAL);
                v = view(table);
                if (answer == 0) {
                    *saved_bucket = static_cast<int32_t>(bucket);
                    *saved_step = static_cast<int32_t>(step);
                    return v.values + index;
                }
            }
        }
        bucket = next_bucket(bucket, &step, mask);
        if (step >= static_cast<uint32_t>(v.record->buckets)) break;
    }
    *saved_bucket = static_cast<int32_t>(bucket);
    *saved_step = static_cast<int32_t>(step);
    return nullptr;
}

void delete_cell(node_ref table, cell* value) {
    if (is_hash_index(table)) return hash_index::delete_cell(table, value);
    table_record* r = record_of(table);
    require_kind(r, r->kind == KIND_MAP || r->kind == KIND_SYMBOL);
    int64_t index = cell_index(r, value);
    if (index < 0) return;
    int64_t bucket = bucket_of_cell(table, index);
    if (bucket < 0) return;
    table_view v = view(table);
    if (v.record->kind == KIND_MAP) {
        if (index + 1 >= value_count(v.record)) return;
        cell* pair_value = v.values + index + 1;
        if (pair_value->header == 0) return;  // already removed
        pair_value->header = 0;
        v.record->size -= 1;
        return;
    }
    set_bucket_state(v.flags, static_cast<uint32_t>(bucket), BUCKET_DELETED);
    v.record->size -= 1;
}

void clear(node_ref table) {
    if (is_hash_index(table)) return hash_index::clear(table);
    table_view v = view(table);
    std::memset(v.flags, 0xAA, static_cast<size_t>(flag_bytes(v.record->buckets)));
    v.record->size = v.record->occupied = 0;
    memory::series_buffer* b = values_buffer(v.record);
    b->tail = b->head;
}

node_ref copy(node_ref table, node_ref values) {
    nodes_stay guard;
    if (record_of(table)->kind == KIND_HASH) return hash_index::copy(table, values);
    stack::slot_mark scope;
    node_ref record_copy = memory::copy_series(memory::buffer_of(table));
    scope.hold_bytes(record_copy);
    node_ref flags_copy = memory::copy_series(memory::buffer_of(as_node(record_of(table)->flags)));
    scope.hold_bytes(flags_copy);
    node_ref keys_copy = memory::copy_series(memory::buffer_of(as_node(record_of(table)->keys)));
    node_ref hashes_copy = 0;
    if (record_of(table)->kind == KIND_MAP && record_of(table)->duplicates) {
        scope.hold_bytes(keys_copy);
        hashes_copy = memory::copy_series(memory::buffer_of(as_node(record_of(table)->duplicates)));
    }
    table_record* r = record_of(record_copy);
    r->flags = as_word(flags_copy);
    r->keys = as_word(keys_copy);
    r->duplicates = as_word(hashes_copy);
    r->values = as_word(values);
    return record_copy;
}

// --- Records -----------------------------------------------------------------------------------------

cell* put_record(node_ref table, int32_t key) {
    nodes_stay guard;
    table_record* r = record_of(table);
    require_kind(r, r->kind >= KIND_RECORDS);
    refresh_records(table);
    grow_if_full(table);
    for (;;) {
        record_walk w = walk_records(table, key);
        r = record_of(table);
        int64_t cells = record_cells(r);
        table_view v = view(table);
        if (w.live_bucket >= 0) {
            cell* key_cell = record_at(r, v.keys[w.live_bucket]);
            reset_record(key_cell, cells, key);
            return key_cell + 1;
        }
        if (w.empty_bucket >= 0 && w.deleted_bucket >= 0) w.empty_bucket = -1;
        if (w.deleted_bucket >= 0) {
            // The deleted bucket still names its old record: reuse it.
            uint32_t bucket = static_cast<uint32_t>(w.deleted_bucket);
            cell* key_cell = record_at(r, v.keys[bucket]);
            reset_record(key_cell, cells, key);
            place_entry(table, bucket, v.keys[bucket]);
            return key_cell + 1;
        }
        if (w.empty_bucket < 0) {
            rebuild_records(table, int64_t(r->buckets) + 1);  // never reached below the bound
            continue;
        }
        memory::series_buffer* b = values_buffer(r);
        int64_t offset = b->tail - b->head;
        if (offset + r->width > INT32_MAX) raise::throw_error(err::internal_no_memory);
        memory::reserve_tail_bytes(b, r->width);  // may move the record series
        r = record_of(table);
        cell* key_cell = record_at(r, static_cast<int32_t>(offset));
        reset_record(key_cell, cells, key);
        place_entry(table, static_cast<uint32_t>(w.empty_bucket), static_cast<int32_t>(offset));
        return key_cell + 1;
    }
}

cell* get_record(node_ref table, int32_t key) {
    table_record* r = record_of(table);
    require_kind(r, r->kind >= KIND_RECORDS);
    refresh_records(table);
    record_walk w = walk_records(table, key);
    if (w.live_bucket < 0) return nullptr;
    table_view v = view(table);
    return record_at(v.record, v.keys[w.live_bucket]) + 1;
}

cell* delete_record(node_ref table, int32_t key) {
    table_record* r = record_of(table);
    require_kind(r, r->kind >= KIND_RECORDS);
    refresh_records(table);
    record_walk w = walk_records(table, key);
    if (w.live_bucket < 0) return nullptr;
    table_view v = view(table);
    set_bucket_state(v.flags, static_cast<uint32_t>(w.live_bucket), BUCKET_DELETED);
    v.record->size -= 1;
    cell* key_cell = record_at(v.record, v.keys[w.live_bucket]);
    key_cell->header = 0;
    return key_cell + 1;
}

// --- Growth ---------------------------------------------------------------------------------------------

bool grow_if_full(node_ref table) {
    table_record* r = record_of(table);
    if (r->occupied < r->upper_bound) return false;
    int64_t buckets = r->buckets;
    // Many deleted buckets: clean them out at the same size instead of growing.
    bool cleanup = buckets > 2 * int64_t(r->size);
    int64_t request = cleanup ? buckets - 1 : buckets + 1;
    switch (r->kind) {
        case KIND_MAP: resize(table, buckets + 1); break;
        // Symbol tables grow 32-fold; a cleanup stays at the same size (x16 would make a
        // table with deletions grow at every cleanup).
        case KIND_SYMBOL: resize(table, cleanup ? request : request * 16); break;
        case KIND_RECORDS:
        case KIND_OWNERSHIP: rebuild_records(table, request); break;
        case KIND_HASH: hash_index::grow(table); break;
        default: raise_not_done();
    }
    return true;
}

void resize(node_ref table, int64_t request) {
    nodes_stay guard;
    table_record* r = record_of(table);
    if (r->kind >= KIND_RECORDS) {
        rebuild_records(table, request);
        return;
    }
    if (r->kind == KIND_HASH) {
        hash_index::rebuild_hash(table, request);
        return;
    }
    require_kind(r, r->kind == KIND_MAP || r->kind == KIND_SYMBOL);
    int64_t n = std::max<int64_t>(bucket_request(request), r->buckets);
    int32_t bound = upper_bound_rounded(n);
    if (r->size >= bound) return;

    memory::series_buffer* keys = memory::buffer_of(as_node(r->keys));
    if (keys->size < n * 4) keys = memory::expand_series_filled(keys, n * 4, 0);
    keys->tail = keys->head + n * 4;
    r = record_of(table);
    if (r->kind == KIND_MAP && r->duplicates) {
        memory::series_buffer* hashes = memory::buffer_of(as_node(r->duplicates));
        if (hashes->size < n * 4) hashes = memory::expand_series_filled(hashes, n * 4, 0);
        hashes->tail = hashes->head + n * 4;
    }
    node_ref flags = new_flags(n);  // nothing allocates from here on

    r = record_of(table);
    table_view v = view(table);
    auto* fresh = reinterpret_cast<uint8_t*>(memory::buffer_of(flags)->head);
    rehash_kick_out(r, v.flags, fresh, v.keys, v.hashes, static_cast<uint32_t>(n));
    r->flags = as_word(flags);
    r->buckets = static_cast<int32_t>(n);
    r->upper_bound = bound;
    if (r->kind != KIND_MAP) r->occupied = r->size;
}

void rebuild_records(node_ref table, int64_t request) {
    nodes_stay guard;
    table_record* r = record_of(table);
    require_kind(r, r->kind >= KIND_RECORDS);
    uint32_t cycle = gc::cycle_count();
    auto live_records = [&]() {
        table_record* rec = record_of(table);
        memory::series_buffer* b = values_buffer(rec);
        int64_t total = b->tail - b->head, live = 0;
        for (int64_t offset = 0; offset + rec->width <= total; offset += rec->width) {
            if (record_live(reinterpret_cast<cell*>(b->head + offset))) ++live;
        }
        return live;
    };
    int64_t live = live_records();
    int64_t n = bucket_request(request);
    while (live >= upper_bound_rounded(n)) n = bucket_request(n + 1);
    int32_t bound = upper_bound_rounded(n);

    stack::slot_mark scope;
    node_ref flags = new_flags(n);
    scope.hold_bytes(flags);
    node_ref keys = new_keys(n);
    scope.hold_bytes(keys);
    int64_t cells = record_cells(record_of(table));
    node_ref records = memory::alloc_cells(std::max<int64_t>(live * cells, 1));
    scope.hold_bytes(records);

    // A collection during the allocations may only have deleted records (sweep).
    r = record_of(table);
    memory::series_buffer* source = values_buffer(r);
    memory::series_buffer* target = memory::buffer_of(records);
    auto* fresh_flags = reinterpret_cast<uint8_t*>(memory::buffer_of(flags)->head);
    auto* fresh_keys = reinterpret_cast<int32_t*>(memory::buffer_of(keys)->head);
    uint32_t mask = static_cast<uint32_t>(n) - 1;
    int64_t total = source->tail - source->head;
    int32_t entered = 0;
    for (int64_t offset = 0; offset + r->width <= total; offset += r->width) {
        const cell* key_cell = reinterpret_cast<const cell*>(source->head + offset);
        if (!record_live(key_cell)) continue;
        uint32_t bucket = fmix32(key_cell->w1) & mask, step = 0;
        while (bucket_state_of(fresh_flags, bucket) != BUCKET_EMPTY) bucket = next_bucket(bucket, &step, mask);
        set_bucket_state(fresh_flags, bucket, BUCKET_LIVE);
        fresh_keys[bucket] = static_cast<int32_t>(target->tail - target->head);
        std::memcpy(target->tail, key_cell, static_cast<size_t>(r->width));
        target->tail += r->width;
        ++entered;
    }
    r->flags = as_word(flags);
    r->keys = as_word(keys);
    r->values = as_word(records);
    r->buckets = static_cast<int32_t>(n);
    r->upper_bound = bound;
    r->size = r->occupied = entered;
    // A collection during the allocations leaves the stamp stale: the next access rehashes.
    r->gc_stamp = static_cast<int32_t>(cycle + 1);
}

// --- The collector's hooks ----------------------------------------------------------------------------

void gc_mark(node_ref table, const gc_marker& marker) {
    if (!table) return;
    marker.mark_series(table);
    table_record* r = record_of(table);
    if (r->kind == KIND_HASH) {
        if (r->width) marker.mark_series(as_node(r->width));
        if (r->duplicates) marker.mark_cells(as_node(r->duplicates));
    }
    if (r->kind == KIND_MAP && r->duplicates) marker.mark_series(as_node(r->duplicates));
    if (r->flags) marker.mark_series(as_node(r->flags));
    if (r->keys) marker.mark_series(as_node(r->keys));
    if (!r->values) return;
    if (r->kind >= KIND_RECORDS) marker.mark_series(as_node(r->values));
    else marker.mark_cells(as_node(r->values));
}

void sweep_records(node_ref table, const gc_marker& marker) {
    if (!table) return;
    table_view v = view(table);
    table_record* r = v.record;
    if (r->kind < KIND_RECORDS) return;
    int64_t cells = record_cells(r);
    for (uint32_t bucket = 0; bucket < static_cast<uint32_t>(r->buckets); ++bucket) {
        if (bucket_state_of(v.flags, bucket) != BUCKET_LIVE) continue;
        cell* key_cell = record_at(r, v.keys[bucket]);
        node_ref key = key_cell->w1;
        bool dead = key == 0 || !marker.is_marked(key);
        if (!dead && r->kind == KIND_OWNERSHIP && cells > 2) {
            const cell* owner = key_cell + 2;
            if (owner->type() == TYPE_OBJECT && owner->w1 && !marker.is_marked(owner->w1)) dead = true;
        }
        if (!dead) continue;
        set_bucket_state(v.flags, bucket, BUCKET_DELETED);
        r->size -= 1;
        clear_record(key_cell, cells);
    }
}

// --- The address map ------------------------------------------------------------------------------------

struct address_map {
    int32_t size;
    int32_t buckets;
    int32_t upper_bound;
    uint8_t* flags;
    uint32_t* entries;  // key, value per bucket
};

namespace {

void address_map_alloc(address_map* map, int64_t buckets) {
    map->buckets = static_cast<int32_t>(buckets);
    map->flags = static_cast<uint8_t*>(heap::allocate(static_cast<size_t>(flag_bytes(buckets))));
    std::memset(map->flags, 0xAA, static_cast<size_t>(flag_bytes(buckets)));
    map->entries = static_cast<uint32_t*>(heap::allocate(static_cast<size_t>(buckets) * 8));
}

// The bucket of a key, or the empty bucket where it would go.
uint32_t address_map_walk(const address_map* map, uint32_t key, bool* found) {
    uint32_t mask = static_cast<uint32_t>(map->buckets) - 1;
    uint32_t bucket = fmix32(key) & mask, step = 0;
    for (;;) {
        if (bucket_state_of(map->flags, bucket) == BUCKET_EMPTY) {
            *found = false;
            return bucket;
        }
        if (map->entries[bucket * 2] == key) {
            *found = true;
            return bucket;
        }
        bucket = next_bucket(bucket, &step, mask);
    }
}

void address_map_grow(address_map* map) {
    address_map old = *map;
    int64_t n = bucket_request(int64_t(old.buckets) + 1);
    address_map_alloc(map, n);
    map->upper_bound = upper_bound_rounded(n);
    for (uint32_t j = 0; j < static_cast<uint32_t>(old.buckets); ++j) {
        if (bucket_state_of(old.flags, j) != BUCKET_LIVE) continue;
        bool found;
        uint32_t bucket = address_map_walk(map, old.entries[j * 2], &found);
        set_bucket_state(map->flags, bucket, BUCKET_LIVE);
        map->entries[bucket * 2] = old.entries[j * 2];
        map->entries[bucket * 2 + 1] = old.entries[j * 2 + 1];
    }
    heap::release(old.flags);
    heap::release(old.entries);
}

}  // namespace

address_map* make_address_map(int64_t requested) {
    int32_t buckets, upper_bound;
    size_for_request(requested, &buckets, &upper_bound);
    auto* map = static_cast<address_map*>(heap::allocate(sizeof(address_map)));
    map->size = 0;
    address_map_alloc(map, buckets);
    map->upper_bound = upper_bound;
    return map;
}

void address_map_put(address_map* map, uint32_t key, uint32_t value) {
    bool found;
    uint32_t bucket = address_map_walk(map, key, &found);
    if (found) {
        map->entries[bucket * 2 + 1] = value;
        return;
    }
    if (map->size >= map->upper_bound) {
        address_map_grow(map);
        bucket = address_map_walk(map, key, &found);
    }
    set_bucket_state(map->flags, bucket, BUCKET_LIVE);
    map->entries[bucket * 2] = key;
    map->entries[bucket * 2 + 1] = value;
    map->size += 1;
}

uint32_t* address_map_get(address_map* map, uint32_t key) {
    bool found;
    uint32_t bucket = address_map_walk(map, key, &found);
    return found ? &map->entries[bucket * 2 + 1] : nullptr;
}

int32_t address_map_count(const address_map* map) { return map->size; }
int32_t address_map_buckets(const address_map* map) { return map->buckets; }

void free_address_map(address_map* map) {
    if (!map) return;
    heap::release(map->flags);
    heap::release(map->entries);
    heap::release(map);
}

}  // namespace zor::hashtable
