// The memory manager: nodes, series buffers, series frames and big series.
//
// A series is a node (an 8-byte slot in the node space, named by a 32-bit node_ref)
// holding the address of its buffer. Values hold the node, never the buffer, so the
// collector can move buffers by rewriting one slot. Buffers are carved with a bump
// pointer from 1-2 MB series frames; buffers needing 2 MB or more get an OS block of
// their own (a big series). Runtime tables that must never move come from the tracked
// heap (alloc_heap_series).
//
// Invariant for callers: no raw pointer into a buffer (head, tail, a cell inside) and no
// bare node_ref outside a rooted cell is held across anything that can allocate. Re-read
// the buffer through its node afterwards, or pin it (FLAG_PINNED) while a raw pointer
// must live across a callback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/gc/gc.h"
#include "runtime/value/cell.h"

namespace zor::memory {

// Buffer flags beyond the unit width (bits 0-4).
inline constexpr uint32_t UNIT_MASK       = 0x1F;
inline constexpr uint32_t FLAG_OWNED      = 0x00020000;  // owned by an object
inline constexpr uint32_t FLAG_UTF16      = 0x00040000;  // filled by the UTF-16LE loader
inline constexpr uint32_t FLAG_COMPLEMENT = 0x00080000;  // complemented bitset
inline constexpr uint32_t FLAG_HEAP       = 0x00100000;  // from the tracked heap, never moves
inline constexpr uint32_t FLAG_PINNED     = 0x00200000;  // compaction must not move it
inline constexpr uint32_t FLAG_BIG        = 0x01000000;  // own OS block
inline constexpr uint32_t FLAG_MARK       = 0x08000000;  // collector mark
inline constexpr uint32_t FLAG_MID_HEAD   = 0x10000000;  // head placed mid-buffer
inline constexpr uint32_t FLAG_MANAGED    = 0x20000000;  // set on every buffer made here
inline constexpr uint32_t FLAG_IN_USE     = 0x80000000;

// The buffer header. The data area follows it, 16-byte aligned.
struct series_buffer {
    uint32_t flags;
    node_ref node;      // the node referring to this buffer (0 after growth replaced it)
    int32_t size;       // capacity of the data area in bytes, a multiple of 16
    uint32_t reserved;  // keeps the data area 16-byte aligned
    std::byte* head;
    std::byte* tail;

    std::byte* data() { return reinterpret_cast<std::byte*>(this + 1); }
    std::byte* data_end() { return data() + size; }
    uint32_t unit() const { return flags & UNIT_MASK; }
    // Elements between head and tail, in units.
    int64_t length() const { return (tail - head) / int64_t(unit()); }
    cell* head_cell() { return reinterpret_cast<cell*>(head); }
    cell* tail_cell() { return reinterpret_cast<cell*>(tail); }
};
static_assert(sizeof(series_buffer) == 32);

// The overhead that the size rules count per buffer (20 header bytes and one spare
// word), kept at the 32-bit layout's figure so that the big-series limit and the frame-room
// rule give the same thresholds as the 20-byte header they were designed for.
inline constexpr int64_t BUFFER_OVERHEAD = 24;
inline constexpr int64_t FIRST_FRAME_SIZE = 0x100000;
inline constexpr int64_t MAX_FRAME_SIZE = 0x200000;
inline constexpr int64_t FRAME_ROOM_MINIMUM = 0xCCCC;
inline constexpr uint32_t NODES_PER_FRAME = 10000;
// Node frames are regions of this many bytes in the node space, the first at this offset
// (so no node is 0): a node's region is (node - FIRST_NODE_REGION) / NODE_REGION_BYTES.
inline constexpr uint32_t NODE_REGION_BYTES = 81920;
inline constexpr uint32_t FIRST_NODE_REGION = 4096;

// The node space: reserved once, committed a node frame at a time.
extern std::byte* node_space;

inline series_buffer*& slot_of(node_ref node) {
    return *reinterpret_cast<series_buffer**>(node_space + node);
}
inline series_buffer* buffer_of(node_ref node) { return slot_of(node); }

// The largest data area of any series, in bytes: sizes stay within 32 bits.
inline constexpr int64_t MAX_SERIES_BYTES = (int64_t(INT32_MAX) - 64) / 16 * 16;

// The capacity to grow a series to when it needs `needed` bytes and would like `wanted`
// (a multiple of what it needs, for geometric growth): the wish, cut to the series limit
// but never below the need. So growth stays geometric up to the limit, takes one last
// step to it, and only a need past the limit raises internal/no-memory.
int64_t growth_size(int64_t needed, int64_t wanted);

// Allocation. Sizes are in units of the unit width.
node_ref alloc_series(int64_t units, uint32_t unit, int32_t head_offset);
series_buffer* alloc_series_buffer(int64_t units, uint32_t unit, int32_t head_offset);
node_ref alloc_cells(int64_t n);
node_ref alloc_unset_cells(int64_t n);
node_ref alloc_bytes(int64_t n);
node_ref alloc_filled_bytes(int64_t n, uint8_t byte);
node_ref alloc_units(int64_t n, uint32_t unit);
node_ref alloc_heap_series(int64_t units, uint32_t unit, int32_t head_offset);
node_ref alloc_node();
void free_node(node_ref node);
void set_series_flags(node_ref node, uint32_t bits);

// Growing and copying.
series_buffer* grow_series(series_buffer* buffer, int64_t new_size);
series_buffer* expand_series(series_buffer* buffer, int64_t new_size);
series_buffer* expand_series_filled(series_buffer* buffer, int64_t new_size, uint8_t byte);
// Gives the capacity past the tail of a big series back to the system, where it can be
// done in place (the head at the start of the data area, not pinned); answers the buffer.
series_buffer* trim_series(series_buffer* buffer);
node_ref copy_series(series_buffer* buffer);
node_ref copy_series_part(series_buffer* buffer, int64_t start, int64_t count);
cell* alloc_tail_cell(series_buffer* buffer);
std::byte* reserve_tail_bytes(series_buffer* buffer, int64_t n);
std::byte* replicate_pattern(std::byte* destination, int64_t length, int64_t count);
void fill_range(std::byte* start, std::byte* end, uint8_t byte);
void zero_words(std::byte* start, std::byte* end);

// Keeps a series' buffer in place (compaction passes over it) while C++ code holds raw
// pointers into it across a callback; the flag is restored on every exit. The guard keeps
// its own rooted copy of the series cell: the cell it was given may be an argument-stack
// slot that an exit landing below it, or an error built at the top of a full stack,
// overwrites before the guard ends, and the series must stay alive (its node current)
// until the buffer is unpinned.
class pin_guard {
public:
    explicit pin_guard(const cell* series) : held_(*series), root_(&held_) {
        was_pinned_ = (buffer_of(held_.w2)->flags & FLAG_PINNED) != 0;
        buffer_of(held_.w2)->flags |= FLAG_PINNED;
    }
    ~pin_guard() {
        if (!was_pinned_) buffer_of(held_.w2)->flags &= ~FLAG_PINNED;
    }
    pin_guard(const pin_guard&) = delete;
    pin_guard& operator=(const pin_guard&) = delete;

private:
    cell held_;
    gc::root_guard root_;
    bool was_pinned_;
};

// Frames, shared with the collector.
struct node_frame {
    node_frame* next;
    node_frame* previous;
    node_ref first;          // node_ref of slot 0
    uint32_t count;          // node slots (10,000)
    node_ref free_head;      // free-list head, 0 when full
    uint32_t used;
    uint32_t created_cycle;  // collector cycle counter at creation
    uint32_t used_at_last_collection;
    uint32_t history;        // shifted left once a collection, low bit 1 when unchanged
    bool evacuate;
};

struct series_frame {
    series_frame* next;
    series_frame* previous;
    int64_t total;           // block bytes, header included
    std::byte* fill;
    std::byte* end;
    uint64_t reserved;       // keeps the data area 16-byte aligned
};
static_assert(sizeof(series_frame) % 16 == 0);

// Doubly linked, so that freeing or remapping one big series never walks the others.
struct big_link {
    big_link* next;
    big_link* previous;
    uint64_t size;           // needed bytes
    uint64_t reserved;       // keeps the buffer after the link 16-byte aligned
};
static_assert(sizeof(big_link) % 16 == 0);

struct manager {
    int64_t os_bytes = 0;
    node_frame* node_head = nullptr;
    node_frame* node_tail = nullptr;
    node_frame* node_current = nullptr;
    series_frame* series_head = nullptr;
    series_frame* series_current = nullptr;
    series_frame* series_tail = nullptr;
    int64_t first_frame_size = FIRST_FRAME_SIZE;
    int64_t next_frame_size = FIRST_FRAME_SIZE;
    int64_t max_frame_size = MAX_FRAME_SIZE;
    big_link* big_head = nullptr;
    big_link* big_tail = nullptr;
    // The nodes of the tracked-heap (fixed) series that have not grown into a frame: they
    // are never collected, so the collector keeps them, and what they hold, as roots.
    node_ref* fixed_nodes = nullptr;
    size_t fixed_count = 0;
    size_t fixed_capacity = 0;
};
extern manager state;

void init();
node_frame* new_node_frame(uint32_t count);
void free_node_frame(node_frame* frame);
void init_node_free_list(node_frame* frame);
series_frame* new_series_frame();
void free_series_frame(series_frame* frame);
std::byte* alloc_big_series(int64_t needed);
void free_big_series(big_link* link);
std::byte* alloc_os_block(int64_t bytes, bool executable);
void free_os_block(std::byte* address);
void release_all();
// The collector's sweeps (runtime/gc/gc.cpp runs them after compaction).
void sweep_big_series();
void sweep_node_frames();

// The frame a node lies in, or null.
node_frame* frame_of_node(node_ref node);

}  // namespace zor::memory
