// The runtime's one open-addressing hash table, and the value hashing it rests on.
//
// A table is named by the node of a 44-byte byte series holding its record (eleven signed
// 32-bit words, table_record below). The record names three more series: the bucket flag
// array (2 bits a bucket: 2 empty, 1 deleted, 0 live; new arrays are all 0xAA), the key
// array (one signed 32-bit key a bucket) and the value series that the table indexes.
// A map! table (kind 1) also keeps each live bucket's key hash in a fourth array, so that
// probing compares only keys whose hash matches.
// Keys never hold values, only positions in the value series:
//   kind 1 (map!)       the 0-based cell index of a key cell in the map's block of pairs;
//   kind 2 (symbols)    the cell index of a symbol cell or of a context's key word;
//   kinds 3, 4 (records) the byte offset of a record in the record series. A record is a
//                       key cell {header 2 while live, 0 once deleted; word 1 the 32-bit
//                       key} followed by width - 1 value cells.
// (kind 0, the hash! index, keeps its side structures in a module of its own.)
// Buckets are a power of two; probing is triangular (offsets 1, 3, 6, 10 ... from the
// first bucket, masked), so a walk visits every bucket once before it comes back.
//
// Invariants for callers:
// - The table node must be held by a rooted value (a map!/hash! cell, a context, a runtime
//   root) across every call that can allocate: put, find (map! compares may allocate),
//   put_record, the growth routines, make, copy. A node answered by make or copy is held
//   by nothing yet: store it in a rooted cell before allocating again.
// - Operations that allocate switch the collector's node compaction off while they run
//   (they hold the table's node and new arrays' nodes in locals); buffers still move, and
//   are read again through their nodes after every allocation.
// - Pointers answered here (cells of the value series, record cells, table_view) point
//   into series buffers: use them before anything allocates, then look them up again.
// - Keys of kinds 1 and 2 are hashed with hash_value(cell, case flag 0); keys of kinds 3
//   and 4 with fmix32(key). Whoever enters entries by hand (the symbol table, contexts)
//   must hash the same way, or lookups and resizes will not find them.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::hashtable {

enum table_kind : int32_t {
    KIND_HASH = 0,       // hash!: position index and duplicate lists (its own module)
    KIND_MAP = 1,        // map!: key/value pairs
    KIND_SYMBOL = 2,     // symbol table and context key lists
    KIND_RECORDS = 3,    // records keyed by a 32-bit integer, usually a node
    KIND_OWNERSHIP = 4,  // ownership records
};

// Bucket states in the flag array.
enum bucket_state : uint32_t { BUCKET_LIVE = 0, BUCKET_DELETED = 1, BUCKET_EMPTY = 2 };

inline constexpr double LOAD_FACTOR = 0.77;
inline constexpr int32_t RECORD_BYTES = 44;

struct table_record {
    int32_t size;          // live buckets (map!: keys present, removed pairs not counted)
    int32_t width;         // kind 0: node of the position index; kinds 3, 4: record bytes
    int32_t duplicates;    // kind 0: node of the block of duplicate lists; kind 1: node of
                           // the hash array (each bucket's key hash, valid while live)
    int32_t flags;         // node of the bucket flag array
    int32_t keys;          // node of the key array
    int32_t values;        // node of the value series
    int32_t occupied;      // live or deleted buckets
    int32_t buckets;       // a power of two, at least 4
    int32_t upper_bound;   // the occupied count at which the table must grow
    int32_t kind;          // table_kind
    int32_t gc_stamp;      // 0, or the collector's cycle count + 1 when keys were last hashed
};
static_assert(sizeof(table_record) == RECORD_BYTES);

// --- Hashing -------------------------------------------------------------------------------

// The process-wide seed of every hash of bytes and of strings, set once at start-up.
extern uint32_t hash_seed;
void set_seed(uint32_t seed);

// MurmurHash3 x86 32-bit as published.
uint32_t murmur3(const void* bytes, int64_t length, uint32_t seed);
// `hashtable/murmur3-bytes`: murmur3 with the hash seed.
uint32_t murmur3_bytes(const void* bytes, int64_t length);
// MurmurHash3's finaliser applied to one word.
inline uint32_t fmix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}
// murmur3_bytes of a name with its ASCII letters A-Z folded to a-z (other bytes as they
// are): the hash shared by a symbol! value and every spelling of its name. Needs no buffer.
uint32_t folded_name_hash(const uint8_t* bytes, int64_t length);
// `hashtable/hash-value`: the hash of a value by its type. Strings are upper-cased before
// hashing unless case_sensitive is set.
uint32_t hash_value(const cell* value, bool case_sensitive);

// --- Tables ----------------------------------------------------------------------------------

// `hashtable/make`: a table sized for `requested` entries. values: for kinds 1 and 2 a
// block! to index (kind 1 enters its pairs from the block's index; kind 2 only adopts the
// block), null for a new block; kind 2 with width 2 and a context! value copies that
// context's table (record, flags, keys, key list). width: value cells per record (kinds 3,
// 4). Kind 0, and every call below on a kind-0 table, is the hash! index of
// runtime/hash-index.h.
node_ref make(int64_t requested, const cell* values, int32_t kind, int32_t width);

// `hashtable/put` (kinds 1, 2): enters the cell, which must lie in the table's value
// series. Answers null when the cell was entered, or the stored key cell that is strictly
// equal to it (same type, COMPARE_STRICT_EQUAL), whose bucket is left unchanged.
cell* put(node_ref table, cell* value);
// `hashtable/put-with-status`: as put; status 0 entered, 1 an equal key was present.
// (Status 2, "index rebuilt", belongs to hash!.)
cell* put_with_status(node_ref table, cell* value, int32_t* status);

// `hashtable/find` (kinds 1, 2): the stored key cell of the same type as the key (any
// type when the key has the internal type 56) that compares equal by op, or null. A word
// key is sought as a set-word! (map! keys are stored so) and restored afterwards. start,
// skip, last and reverse select among duplicates, which only hash! has. The key cell must
// not lie in the table's value series.
cell* find(node_ref table, cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse);
// `hashtable/find-next`: walks on from the saved bucket and step (bucket -1 starts at the
// key's first bucket) to the next stored key of the key's type that compares equal by op
// 0; writes the bucket and step back. Null at the end of the probe sequence.
cell* find_next(node_ref table, cell* key, int32_t* bucket, int32_t* step);

// `hashtable/delete-cell`: kind 1 marks the pair removed (value cell header 0, live count
// - 1; the bucket stays live, so putting the key again finds it); kind 2 deletes the
// bucket that names the cell. Nothing when the cell is not entered.
void delete_cell(node_ref table, cell* value);

// `hashtable/clear`: counts 0, every bucket empty, the value series emptied.
void clear(node_ref table);
// `hashtable/copy`: a new table with copies of the record, flags and keys over the given
// value series (a copy of the source's, made by the caller).
node_ref copy(node_ref table, node_ref values);
// `hashtable/destroy`: nothing; the collector reclaims tables.
inline void destroy(node_ref) {}

// --- Records (kinds 3, 4) ------------------------------------------------------------------

// `hashtable/put-record`: finds or adds the key's record; every cell of it becomes unset!
// (an existing record comes back reset). Answers the first value cell.
cell* put_record(node_ref table, int32_t key);
// `hashtable/get-record`: the first value cell of the key's record, or null.
cell* get_record(node_ref table, int32_t key);
// `hashtable/delete-record`: deletes the key's record; answers its first value cell (the
// cells keep their values until the record is reused), or null when absent.
cell* delete_record(node_ref table, int32_t key);

// --- Growth and probing (shared with the symbol table and contexts) ------------------------

// Power of two at or above n (n >= 1).
uint32_t power_of_two_at_or_above(uint32_t n);
// Buckets and upper bound of a new table for n requested entries (n below 4 counts as 4).
void size_for_request(int64_t n, int32_t* buckets, int32_t* upper_bound);

// The growth test made before every insertion: when occupied has reached the upper bound,
// the table grows by its kind's rule (request r = buckets - 1 when buckets exceed twice the
// live count, else buckets + 1; kind 1 always buckets + 1, kind 2 r x 16, kinds 3 and 4
// rebuild their records at r). Answers whether the table was resized or rebuilt.
bool grow_if_full(node_ref table);
// Resizes in place (kinds 1, 2) to the power of two at or above the request, re-entering
// every live entry by the in-place kick-out in old bucket order. Nothing when the live
// count is not below the new upper bound. Never shrinks.
void resize(node_ref table, int64_t request);
// Rebuilds a record table (kinds 3, 4) at the power of two at or above the request:
// deleted records are dropped and the record series is compacted.
void rebuild_records(node_ref table, int64_t request);

// Raw access for the modules that walk a table themselves. Valid until the next allocation.
struct table_view {
    table_record* record;
    uint8_t* flags;
    int32_t* keys;
    cell* values;  // head of the value series
    uint32_t* hashes;  // kind 1: each live bucket's key hash (hash_value, case flag 0); else null
};
table_view view(node_ref table);

inline uint32_t bucket_state_of(const uint8_t* flags, uint32_t bucket) {
    return (flags[bucket >> 2] >> ((bucket & 3) * 2)) & 3u;
}
inline void set_bucket_state(uint8_t* flags, uint32_t bucket, uint32_t state) {
    uint32_t shift = (bucket & 3) * 2;
    flags[bucket >> 2] = static_cast<uint8_t>((flags[bucket >> 2] & ~(3u << shift)) | (state << shift));
}
// The next bucket of a probe sequence: step counts the retries made so far.
inline uint32_t next_bucket(uint32_t bucket, uint32_t* step, uint32_t mask) {
    *step += 1;
    return (bucket + *step) & mask;
}
// Makes the bucket live with the key: live count + 1, and occupied + 1 when it was empty.
void place_entry(node_ref table, uint32_t bucket, int32_t key);

// --- The collector's hooks -------------------------------------------------------------------

// What the collector lends the hooks. The record tables are weak: gc_mark keeps their
// record series alive without tracing the records, and sweep_records then deletes every
// record whose key series (kind 4: or owner object) was not marked through other paths.
struct gc_marker {
    void (*mark_series)(node_ref node);  // marks a buffer; its contents are not traced
    void (*mark_cells)(node_ref node);   // marks a cell series and traces its cells
    bool (*is_marked)(node_ref node);    // whether a buffer is marked in this cycle
};
// `hashtable/gc-mark`: marks the record, flag and key arrays and the value series (traced
// for kinds 0-2, untraced for kinds 3 and 4); kind 0 also its position index and lists.
void gc_mark(node_ref table, const gc_marker& marker);
// `hashtable/sweep-records` (kinds 3, 4; after marking): deletes the records whose key
// series was not marked, and for kind 4 those whose owner object! (the second value cell)
// lost its context; their key cell and value cells are cleared. Every record left names
// marked values only.
void sweep_records(node_ref table, const gc_marker& marker);

// --- The address map ---------------------------------------------------------------------------

// A small integer map in the process heap (never collected) that the collector uses to
// relocate references: 32-bit keys to 32-bit values, fmix32 hashing, the same flag layout
// and probing as the tables above.
struct address_map;
address_map* make_address_map(int64_t requested);
// Adds the key or replaces its value; grows when full.
void address_map_put(address_map* map, uint32_t key, uint32_t value);
// The value slot of the key, or null.
uint32_t* address_map_get(address_map* map, uint32_t key);
int32_t address_map_count(const address_map* map);
int32_t address_map_buckets(const address_map* map);
void free_address_map(address_map* map);

}  // namespace zor::hashtable
