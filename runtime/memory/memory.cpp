// The memory manager: node frames in the node space, series frames carved with a bump
// pointer, big series in OS blocks of their own, and the tracked-heap series.
#include "runtime/memory/memory.h"

#include <algorithm>
#include <cstring>

#include "platform/virtual-memory.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/heap-limit.h"
#include "runtime/errors/raise.h"

namespace zor::memory {

std::byte* node_space = nullptr;
manager state;

namespace {

// The node space: at most 4 GiB of address space, so that every node_ref fits 32 bits,
// and less under an address-space limit (its share of what the limit leaves; a node
// costs 8 bytes here against at least 48 in its buffer, so the node space is not what
// runs out first). Node frames are fixed-size regions of it; the first page is never
// used, so no node is 0.
constexpr size_t MAX_NODE_SPACE_BYTES = size_t(1) << 32;
// The least worth starting with: room for a few hundred thousand nodes.
constexpr size_t MIN_NODE_SPACE_BYTES = FIRST_NODE_REGION + 50 * size_t(NODE_REGION_BYTES);
static_assert(NODE_REGION_BYTES % platform::PAGE_SIZE == 0 && NODE_REGION_BYTES >= NODES_PER_FRAME * sizeof(void*));
static_assert(FIRST_NODE_REGION == platform::PAGE_SIZE);
size_t node_space_bytes = 0;
size_t node_space_fill = FIRST_NODE_REGION;  // next unused region

// Released regions, reused last-in first-out. They are kept in a tracked-heap array
// rather than chained through their own slots, so a released region is decommitted
// whole and a stale node into it faults at once.
node_ref* free_regions = nullptr;
size_t free_region_count = 0;
size_t free_region_capacity = 0;

// Series frames hold a little more than their nominal size: the size rules count 24
// overhead bytes per buffer while our header is 32, and the slack keeps every buffer that
// the rules place in a frame able to fit an empty one.
constexpr int64_t FRAME_SLACK = 64;

// The OS block prefix holding the block's size; 16 bytes keep what follows aligned.
constexpr int64_t OS_BLOCK_PREFIX = 16;

int64_t round_up(int64_t n, int64_t to) { return (n + to - 1) / to * to; }

[[noreturn]] void raise_no_memory() { raise::throw_error(err::internal_no_memory); }

// Headroom for the error that reports exhaustion. Raising internal/no-memory allocates
// (the error object, its report, whatever the catcher does next), so the last stretch of
// both resources is kept back from ordinary allocation: address space as a reservation
// that ordinary allocation must hold before it takes a new block, and the last few node
// regions. Running out grants the error being raised a little of the headroom (the
// reservation is given back to the system); a collection that leaves room again takes
// the reservation back. A grant is bounded, so code that keeps catching the error while
// holding on to everything still ends, at the very last, in runtime error 94.
constexpr size_t ADDRESS_RESERVE_BYTES = size_t(8) << 20;
constexpr int64_t ADDRESS_GRANT_BYTES = int64_t(4) << 20;
constexpr size_t NODE_HEADROOM_REGIONS = 4;
constexpr size_t NODE_GRANT_REGIONS = 2;
static_assert(MIN_NODE_SPACE_BYTES > FIRST_NODE_REGION + 2 * NODE_HEADROOM_REGIONS * NODE_REGION_BYTES);
void* address_reserve = nullptr;
int64_t address_grant = 0;  // block bytes the error being raised may still take
size_t node_grant = 0;      // headroom regions the error being raised may still take

void take_address_reserve() {
    if (!address_reserve) address_reserve = platform::reserve_address_space(ADDRESS_RESERVE_BYTES);
}

void give_address_reserve() {
    if (!address_reserve) return;
    platform::free_virtual(address_reserve, ADDRESS_RESERVE_BYTES);
    address_reserve = nullptr;
}

[[noreturn]] void raise_out_of_address_space() {
    give_address_reserve();
    address_grant = ADDRESS_GRANT_BYTES;
    raise_no_memory();
}

size_t node_regions_left() { return (node_space_bytes - node_space_fill) / NODE_REGION_BYTES + free_region_count; }

// The system refused a block: a collection may give enough back. Answers whether one
// ran. Never while collecting or during start-up, when nothing may move.
bool collect_for_room() {
    if (!gc::enabled || gc::in_collection_q()) return false;
    gc::collect();
    return true;
}

void give_node_region(node_ref region);

// A collection may take headroom regions (evacuation fills fresh frames before it frees
// the old ones): raising in the middle of one would leave it half done.
node_ref take_node_region() {
    size_t left = node_regions_left();
    if (left == 0) raise_no_memory();
    if (left <= NODE_HEADROOM_REGIONS && !gc::in_collection_q()) {
        if (node_grant == 0) {
            node_grant = NODE_GRANT_REGIONS;
            raise_no_memory();
        }
        --node_grant;
    }
    node_ref region;
    if (free_region_count) {
        region = free_regions[--free_region_count];
    } else {
        region = static_cast<node_ref>(node_space_fill);
        node_space_fill += NODE_REGION_BYTES;
    }
    try {
        platform::commit(node_space + region, NODE_REGION_BYTES);
    } catch (const zor_throw&) {
        give_node_region(region);
        raise_no_memory();
    }
    return region;
}

void give_node_region(node_ref region) {
    platform::decommit(node_space + region, NODE_REGION_BYTES);
    if (free_region_count == free_region_capacity) {
        free_region_capacity = free_region_capacity ? free_region_capacity * 2 : 64;
        free_regions = static_cast<node_ref*>(heap::resize(free_regions, free_region_capacity * sizeof(node_ref)));
    }
    free_regions[free_region_count++] = region;
}

void insert_series_frame(series_frame* frame) {
    series_frame* after = nullptr;
    for (series_frame* f = state.series_head; f && f < frame; f = f->next) after = f;
    frame->previous = after;
    frame->next = after ? after->next : state.series_head;
    if (frame->next) frame->next->previous = frame; else state.series_tail = frame;
    if (after) after->next = frame; else state.series_head = frame;
    if (!state.series_current) state.series_current = frame;
}

bool frame_has_room(const series_frame* frame, int64_t bytes) { return frame->fill + bytes < frame->end; }

// The first frame in address order that fits the bytes and has at least 0xCCCC left.
series_frame* find_roomy_series_frame(int64_t bytes) {
    for (series_frame* f = state.series_head; f; f = f->next) {
        if (frame_has_room(f, bytes) && f->end - f->fill >= FRAME_ROOM_MINIMUM) return f;
    }
    return nullptr;
}

// Reserved once for the process; under a limit, smaller sizes are tried before giving up.
void reserve_node_space() {
    size_t bytes = platform::reservation_size(MAX_NODE_SPACE_BYTES, MIN_NODE_SPACE_BYTES, platform::PAGE_SIZE);
    for (; bytes; bytes = platform::smaller_reservation(bytes, MIN_NODE_SPACE_BYTES, platform::PAGE_SIZE)) {
        if (void* space = platform::reserve_address_space(bytes)) {
            node_space = static_cast<std::byte*>(space);
            node_space_bytes = bytes;
            return;
        }
    }
    platform::reservation_failed("the node space", MIN_NODE_SPACE_BYTES);
}

// The heap limit's headroom: raising internal/no-memory allocates (the error, its report,
// whatever the catcher does next), so once the limit is reached the error being raised
// may take this much beyond it, until a collection brings the heap back under it.
constexpr int64_t LIMIT_GRANT_BYTES = int64_t(8) << 20;
bool limit_granted = false;

// Before the heap takes `bytes` more from the system: past the limit, a collection may
// give enough back; if not, internal/no-memory. Never while collecting or during
// start-up, when nothing may move.
void keep_within_limit(int64_t bytes) {
    int64_t limit = heap_limit::limit();
    if (state.os_bytes + bytes <= limit) {
        limit_granted = false;
        return;
    }
    if (!gc::enabled || gc::in_collection_q()) return;
    if (limit_granted && state.os_bytes + bytes <= limit + LIMIT_GRANT_BYTES) return;
    gc::collect();
    if (state.os_bytes + bytes <= limit) return;
    limit_granted = true;
    raise_no_memory();
}

}  // namespace

void init() {
    heap_limit::init();
    limit_granted = false;
    state = manager{};
    if (!node_space) reserve_node_space();
    take_address_reserve();
    if (!address_reserve) platform::reservation_failed("the memory reserve", ADDRESS_RESERVE_BYTES);
    address_grant = 0;
    node_grant = 0;
    node_space_fill = FIRST_NODE_REGION;
    free_region_count = 0;
}

// --- OS blocks ----------------------------------------------------------------------

std::byte* alloc_os_block(int64_t bytes, bool executable) {
    int64_t total = round_up(bytes + OS_BLOCK_PREFIX, int64_t(platform::PAGE_SIZE));
    auto try_block = [&]() -> void* {
        try {
            return platform::alloc_virtual(static_cast<size_t>(total), executable);
        } catch (const zor_throw&) {
            return nullptr;
        }
    };
    bool granted = address_grant > 0 || gc::in_collection_q();
    if (!granted && !address_reserve) {
        // The reservation comes first: without it the next error could not be made.
        take_address_reserve();
        if (!address_reserve && collect_for_room()) take_address_reserve();
        if (!address_reserve) raise_out_of_address_space();
    }
    void* block = try_block();
    if (!block && !granted && collect_for_room()) block = try_block();
    // During start-up no error can be raised yet: the runtime cannot start at all.
    if (!block && !gc::enabled) platform::reservation_failed("the first series frames", size_t(total));
    if (!block) raise_out_of_address_space();
    if (address_grant > 0) address_grant -= total;
    state.os_bytes += total;
    auto* base = static_cast<std::byte*>(block);
    std::memcpy(base, &total, sizeof total);
    return base + OS_BLOCK_PREFIX;
}

void free_os_block(std::byte* address) {
    std::byte* base = address - OS_BLOCK_PREFIX;
    int64_t total;
    std::memcpy(&total, base, sizeof total);
    try {
        platform::free_virtual(base, static_cast<size_t>(total));
    } catch (const zor_throw&) {
        raise::throw_error(err::internal_wrong_mem);
    }
    state.os_bytes -= total;
}

// --- Node frames ----------------------------------------------------------------------

void init_node_free_list(node_frame* frame) {
    node_ref node = frame->first;
    for (uint32_t i = 0; i + 1 < frame->count; ++i, node += sizeof(void*)) {
        *reinterpret_cast<uint64_t*>(node_space + node) = node + sizeof(void*);
    }
    *reinterpret_cast<uint64_t*>(node_space + node) = 0;
    frame->free_head = frame->first;
}

node_frame* new_node_frame(uint32_t count) {
    auto* frame = static_cast<node_frame*>(heap::allocate(sizeof(node_frame)));
    *frame = node_frame{};
    frame->count = std::min(count, NODES_PER_FRAME);
    frame->first = take_node_region();
    frame->created_cycle = gc::cycle_count();
    state.os_bytes += NODE_REGION_BYTES;
    init_node_free_list(frame);
    frame->previous = state.node_tail;
    if (state.node_tail) state.node_tail->next = frame; else state.node_head = frame;
    state.node_tail = frame;
    if (!state.node_current) state.node_current = frame;
    return frame;
}

void free_node_frame(node_frame* frame) {
    if (frame->previous) frame->previous->next = frame->next; else state.node_head = frame->next;
    if (frame->next) frame->next->previous = frame->previous; else state.node_tail = frame->previous;
    if (state.node_current == frame) state.node_current = state.node_tail;
    give_node_region(frame->first);
    state.os_bytes -= NODE_REGION_BYTES;
    heap::release(frame);
}

node_frame* frame_of_node(node_ref node) {
    for (node_frame* f = state.node_head; f; f = f->next) {
        if (node >= f->first && node < f->first + f->count * sizeof(void*)) return f;
    }
    return nullptr;
}

node_ref alloc_node() {
    node_frame* frame = state.node_current;
    if (!frame || frame->free_head == 0) {
        frame = state.node_head;
        while (frame && (frame->free_head == 0 || frame->evacuate)) frame = frame->next;
        if (!frame) frame = new_node_frame(NODES_PER_FRAME);
        state.node_current = frame;
    }
    node_ref node = frame->free_head;
    frame->free_head = static_cast<node_ref>(*reinterpret_cast<uint64_t*>(node_space + node));
    *reinterpret_cast<uint64_t*>(node_space + node) = 0;
    ++frame->used;
    return node;
}

void free_node(node_ref node) {
    node_frame* frame = frame_of_node(node);
    *reinterpret_cast<uint64_t*>(node_space + node) = frame->free_head;
    frame->free_head = node;
    --frame->used;
}

// --- Series frames and big series -------------------------------------------------------

series_frame* new_series_frame() {
    int64_t size = state.next_frame_size;
    if (state.next_frame_size < state.max_frame_size) {
        state.next_frame_size = std::min(state.next_frame_size * 2, state.max_frame_size);
    }
    auto* frame = reinterpret_cast<series_frame*>(
        alloc_os_block(int64_t(sizeof(series_frame)) + size + FRAME_SLACK, false));
    frame->total = int64_t(sizeof(series_frame)) + size + FRAME_SLACK;
    frame->fill = reinterpret_cast<std::byte*>(frame + 1);
    frame->end = frame->fill + size + FRAME_SLACK;
    insert_series_frame(frame);
    return frame;
}

void free_series_frame(series_frame* frame) {
    if (frame->previous) frame->previous->next = frame->next; else state.series_head = frame->next;
    if (frame->next) frame->next->previous = frame->previous; else state.series_tail = frame->previous;
    if (state.series_current == frame) state.series_current = state.series_head;
    free_os_block(reinterpret_cast<std::byte*>(frame));
}

std::byte* alloc_big_series(int64_t needed) {
    auto* link = reinterpret_cast<big_link*>(alloc_os_block(needed + int64_t(sizeof(big_link)), false));
    link->next = nullptr;
    link->previous = state.big_tail;
    link->size = static_cast<uint64_t>(needed);
    if (state.big_tail) state.big_tail->next = link; else state.big_head = link;
    state.big_tail = link;
    return reinterpret_cast<std::byte*>(link + 1);
}

namespace {

void unlink_big(big_link* link) {
    if (link->previous) link->previous->next = link->next; else state.big_head = link->next;
    if (link->next) link->next->previous = link->previous; else state.big_tail = link->previous;
}

}  // namespace

void free_big_series(big_link* link) {
    unlink_big(link);
    free_os_block(reinterpret_cast<std::byte*>(link));
}

// The collector's sweep of the big-series list: a marked big series loses its mark; an
// unmarked one gives its block back (its node, unmarked, goes back with the node sweep).
void sweep_big_series() {
    for (big_link* block = state.big_head; block;) {
        big_link* next = block->next;
        auto* buffer = reinterpret_cast<series_buffer*>(block + 1);
        if (buffer->flags & FLAG_MARK) buffer->flags &= ~FLAG_MARK;
        else free_big_series(block);
        block = next;
    }
}

// The collector's sweep of the node frames: frames with no used node and evacuated
// frames are released; the first frame with a free node becomes current; each frame's
// history records whether its used count changed since the last collection.
void sweep_node_frames() {
    for (node_frame* f = state.node_head; f;) {
        node_frame* next = f->next;
        if (f->used == 0 || f->evacuate) free_node_frame(f);
        f = next;
    }
    state.node_current = state.node_tail;
    for (node_frame* f = state.node_head; f; f = f->next) {
        if (f->free_head) {
            state.node_current = f;
            break;
        }
    }
    for (node_frame* f = state.node_head; f; f = f->next) {
        f->history = (f->history << 1) | (f->used == f->used_at_last_collection ? 1u : 0u);
        f->used_at_last_collection = f->used;
    }
    // The last sweep: what could be given back has been, so the headroom is taken again
    // where there is room for it.
    take_address_reserve();
    if (address_reserve) address_grant = 0;
    if (node_regions_left() > NODE_HEADROOM_REGIONS) node_grant = 0;
}

void release_all() {
    while (state.big_head) free_big_series(state.big_head);
    while (state.series_head) free_series_frame(state.series_head);
    while (state.node_head) free_node_frame(state.node_head);
}

// --- Buffers -----------------------------------------------------------------------------

int64_t growth_size(int64_t needed, int64_t wanted) {
    if (needed > MAX_SERIES_BYTES) raise_no_memory();
    return std::clamp<int64_t>(wanted, needed, MAX_SERIES_BYTES);
}

series_buffer* alloc_series_buffer(int64_t units, uint32_t unit, int32_t head_offset) {
    int64_t size = round_up(units * int64_t(unit), 16);
    if (units < 0 || size > INT32_MAX - 64) raise_no_memory();
    int64_t needed = size + BUFFER_OVERHEAD;
    int64_t physical = size + int64_t(sizeof(series_buffer));
    series_buffer* buffer;
    bool big = false;

    gc::torture_point();
    if (needed >= state.max_frame_size) {
        gc::trigger_big(physical);
        keep_within_limit(physical + int64_t(sizeof(big_link)) + OS_BLOCK_PREFIX);
        buffer = reinterpret_cast<series_buffer*>(alloc_big_series(physical));
        big = true;
    } else {
        series_frame* frame = state.series_current;
        if (!frame || !frame_has_room(frame, physical)) {
            // Frames with fewer than 0xCCCC bytes left are passed over, both when asking
            // for a collection and when choosing a frame: were the first frame with any
            // room taken as the only candidate, one nearly full frame early in address
            // order would keep the collector from ever running again, and the frames
            // with room behind it from being used, while new frames pile up.
            frame = find_roomy_series_frame(physical);
            if (!frame) {
                gc::trigger();
                frame = find_roomy_series_frame(physical);
            }
            if (!frame) {
                if (needed >= state.next_frame_size) state.next_frame_size = state.max_frame_size;
                keep_within_limit(state.next_frame_size + FRAME_SLACK);
                frame = new_series_frame();
            }
            state.series_current = frame;
        }
        buffer = reinterpret_cast<series_buffer*>(frame->fill);
        frame->fill += physical;
    }

    buffer->size = static_cast<int32_t>(size);
    buffer->node = 0;
    buffer->reserved = 0;
    buffer->flags = unit | FLAG_IN_USE | FLAG_MANAGED | (big ? FLAG_BIG : 0);
    if (head_offset == -1) {
        buffer->flags |= FLAG_MID_HEAD;
        // The middle, rounded down to a whole unit: half of an odd number of cells would
        // leave every cell 8 bytes off its 16-byte alignment. Narrower units are unaffected
        // (half of a multiple of 16 is a multiple of 8).
        int64_t middle = size / 2;
        if (unit > 1) middle -= middle % unit;
        head_offset = static_cast<int32_t>(middle);
    }
    buffer->head = buffer->tail = buffer->data() + head_offset;
    return buffer;
}

node_ref alloc_series(int64_t units, uint32_t unit, int32_t head_offset) {
    series_buffer* buffer = alloc_series_buffer(units, unit, head_offset);
    node_ref node = alloc_node();  // node allocation never collects, so buffer stays valid
    slot_of(node) = buffer;
    buffer->node = node;
    return node;
}

node_ref alloc_cells(int64_t n) { return alloc_series(n, 16, 0); }

node_ref alloc_unset_cells(int64_t n) {
    node_ref node = alloc_cells(n);
    series_buffer* b = buffer_of(node);
    for (cell* c = reinterpret_cast<cell*>(b->data()); c < reinterpret_cast<cell*>(b->data_end()); ++c) {
        cell::init_unset(c);
    }
    return node;
}

node_ref alloc_bytes(int64_t n) { return alloc_series(n == 0 ? 16 : n, 1, 0); }

node_ref alloc_filled_bytes(int64_t n, uint8_t byte) {
    node_ref node = alloc_bytes(n);
    series_buffer* b = buffer_of(node);
    std::memset(b->data(), byte, static_cast<size_t>(b->size));
    return node;
}

node_ref alloc_units(int64_t n, uint32_t unit) { return alloc_series(n == 0 ? 16 / unit : n, unit, 0); }

node_ref alloc_heap_series(int64_t units, uint32_t unit, int32_t head_offset) {
    int64_t size = round_up(units * int64_t(unit), 16);
    if (units < 0 || size > INT32_MAX - 64) raise_no_memory();
    auto* buffer = static_cast<series_buffer*>(heap::try_allocate(sizeof(series_buffer) + static_cast<size_t>(size)));
    if (!buffer) raise_no_memory();
    buffer->size = static_cast<int32_t>(size);
    buffer->reserved = 0;
    buffer->flags = unit | FLAG_IN_USE | FLAG_MANAGED | FLAG_HEAP;
    buffer->head = buffer->tail = buffer->data() + head_offset;
    node_ref node = alloc_node();
    slot_of(node) = buffer;
    buffer->node = node;
    if (state.fixed_count == state.fixed_capacity) {
        state.fixed_capacity = state.fixed_capacity ? state.fixed_capacity * 2 : 16;
        state.fixed_nodes = static_cast<node_ref*>(heap::resize(state.fixed_nodes, state.fixed_capacity * sizeof(node_ref)));
    }
    state.fixed_nodes[state.fixed_count++] = node;
    return node;
}

void set_series_flags(node_ref node, uint32_t bits) { buffer_of(node)->flags |= bits; }

// --- Growing and copying ------------------------------------------------------------------

namespace {

// Keeps a series alive, and its node current, across an allocation that may collect.
class series_holder {
public:
    explicit series_holder(node_ref node) : holder_{TYPE_BINARY, 0, node, 0}, guard_(&holder_) {}
    node_ref node() const { return holder_.w2; }

private:
    cell holder_;
    gc::root_guard guard_;
};

struct regrown {
    series_buffer* old;    // the replaced buffer, read again after the allocation
    series_buffer* grown;
};

// Moves the node to a new buffer of the given size. The old buffer keeps its bytes (the
// caller may copy them before it allocates again) but is no longer in use. A tracked-heap
// buffer is left for the caller to release once it has been read.
regrown regrow(series_buffer* buffer, int64_t new_size) {
    int64_t size = new_size;
    if (size == 0) {
        // Doubling, cut to the limit; a buffer already there cannot grow.
        if (buffer->size >= MAX_SERIES_BYTES) raise_no_memory();
        size = std::min(int64_t(buffer->size) * 2, MAX_SERIES_BYTES);
    }
    if (size < 1) raise_no_memory();
    uint32_t unit = buffer->unit();
    int64_t tail_distance = buffer->tail - buffer->head;
    // A collection during the allocation may move the buffer and even its node: the
    // series is held (and its node kept current) by a guarded cell meanwhile.
    series_holder source(buffer->node);
    series_buffer* grown = alloc_series_buffer(size / unit, unit, 0);
    node_ref node = source.node();
    buffer = buffer_of(node);
    uint32_t kept = buffer->flags & ~(FLAG_BIG | FLAG_HEAP | FLAG_MID_HEAD);
    grown->flags = kept | (grown->flags & FLAG_BIG);
    grown->node = node;
    grown->tail = grown->head + tail_distance;
    slot_of(node) = grown;
    buffer->node = 0;
    buffer->flags &= ~FLAG_IN_USE;
    return {buffer, grown};
}

// A fixed series that grows becomes an ordinary one, collected like any other.
void release_if_heap(series_buffer* old, node_ref node) {
    if (!(old->flags & FLAG_HEAP)) return;
    heap::release(old);
    for (size_t i = 0; i < state.fixed_count; ++i) {
        if (state.fixed_nodes[i] == node) {
            state.fixed_nodes[i] = state.fixed_nodes[--state.fixed_count];
            break;
        }
    }
}

// A big buffer that growth replaced and copied out is dead at once: it goes back to the
// system now rather than at the next collection, so a series growing through the
// gigabytes never has more than its old and its new buffer. A pinned one stays: code
// still reads it, and the collector's sweep gives it back later.
void release_if_big(series_buffer* old) {
    if (!(old->flags & FLAG_BIG) || (old->flags & FLAG_PINNED)) return;
    free_big_series(reinterpret_cast<big_link*>(old) - 1);
}

// A big buffer whose head starts its data area changes size where it lies: its OS block
// is remapped (the system extends it or moves its page tables, never its bytes), so
// growth neither copies the data nor touches fresh pages for a second buffer. `size` is
// the new data area in bytes, a multiple of 16. Answers null, with nothing changed, when
// it cannot: the copying path then takes over, with its own recovery when the system is
// short of room.
series_buffer* resize_big_in_place(series_buffer* buffer, int64_t size) {
    if (!(buffer->flags & FLAG_BIG) || (buffer->flags & FLAG_PINNED) || buffer->head != buffer->data()) return nullptr;
    if (size == buffer->size || size + BUFFER_OVERHEAD < state.max_frame_size) return nullptr;
    if (size > INT32_MAX - 64) raise_no_memory();
    int64_t added = size - int64_t(buffer->size);
    int64_t physical = size + int64_t(sizeof(series_buffer));
    if (added > 0) {
        // The same pacing as a new big buffer, for the bytes added: a collection may run,
        // and may move the node (never a big buffer), so the series is held meanwhile.
        series_holder source(buffer->node);
        gc::torture_point();
        gc::trigger_big(added);
        keep_within_limit(added);
        buffer = buffer_of(source.node());
        if (!(address_grant > 0 || gc::in_collection_q()) && !address_reserve) return nullptr;
    }
    auto* link = reinterpret_cast<big_link*>(buffer) - 1;
    std::byte* base = reinterpret_cast<std::byte*>(link) - OS_BLOCK_PREFIX;
    int64_t total;
    std::memcpy(&total, base, sizeof total);
    int64_t new_total = round_up(physical + int64_t(sizeof(big_link)) + OS_BLOCK_PREFIX, int64_t(platform::PAGE_SIZE));
    if (new_total != total) {
        try {
            base = static_cast<std::byte*>(platform::resize_virtual(base, size_t(total), size_t(new_total)));
        } catch (const zor_throw&) {
            return nullptr;
        }
        if (address_grant > 0 && new_total > total) address_grant -= new_total - total;
        state.os_bytes += new_total - total;
        std::memcpy(base, &new_total, sizeof new_total);
    }
    // A moved block carries its links along; its neighbours learn where it went.
    link = reinterpret_cast<big_link*>(base + OS_BLOCK_PREFIX);
    if (link->previous) link->previous->next = link; else state.big_head = link;
    if (link->next) link->next->previous = link; else state.big_tail = link;
    link->size = static_cast<uint64_t>(physical);
    auto* resized = reinterpret_cast<series_buffer*>(link + 1);
    int64_t tail_distance = std::min<int64_t>(resized->tail - resized->head, size);
    resized->size = static_cast<int32_t>(size);
    resized->flags &= ~FLAG_MID_HEAD;
    resized->head = resized->data();
    resized->tail = resized->head + tail_distance;
    slot_of(resized->node) = resized;
    return resized;
}

series_buffer* grow_big_in_place(series_buffer* buffer, int64_t new_size) {
    if (!(buffer->flags & FLAG_BIG)) return nullptr;
    int64_t size = new_size;
    if (size == 0) {
        if (buffer->size >= MAX_SERIES_BYTES) raise_no_memory();
        size = std::min(int64_t(buffer->size) * 2, MAX_SERIES_BYTES);
    }
    uint32_t unit = buffer->unit();
    size = round_up(size / unit * unit, 16);
    if (size <= buffer->size) return nullptr;
    return resize_big_in_place(buffer, size);
}

}  // namespace

series_buffer* grow_series(series_buffer* buffer, int64_t new_size) {
    regrown r = regrow(buffer, new_size);
    release_if_heap(r.old, r.grown->node);
    return r.grown;
}

series_buffer* expand_series(series_buffer* buffer, int64_t new_size) {
    if (series_buffer* grown = grow_big_in_place(buffer, new_size)) return grown;
    regrown r = regrow(buffer, new_size);
    int64_t old_bytes = r.old->data_end() - r.old->head;
    int64_t room = r.grown->data_end() - r.grown->head;
    std::memcpy(r.grown->head, r.old->head, static_cast<size_t>(std::min(old_bytes, room)));
    release_if_heap(r.old, r.grown->node);
    release_if_big(r.old);
    return r.grown;
}

series_buffer* expand_series_filled(series_buffer* buffer, int64_t new_size, uint8_t byte) {
    int64_t old_size = buffer->size;
    series_buffer* grown = expand_series(buffer, new_size);
    if (grown->size > old_size) {
        std::memset(grown->data() + old_size, byte, static_cast<size_t>(grown->size - old_size));
    }
    return grown;
}

series_buffer* trim_series(series_buffer* buffer) {
    // Never below the least big size: a big series stays one.
    int64_t used = std::max(round_up(buffer->tail - buffer->data(), 16),
                            round_up(state.max_frame_size - BUFFER_OVERHEAD, 16));
    if (used >= buffer->size) return buffer;
    series_buffer* trimmed = resize_big_in_place(buffer, used);
    return trimmed ? trimmed : buffer;
}

node_ref copy_series(series_buffer* buffer) {
    series_holder source(buffer->node);
    node_ref node = alloc_bytes(buffer->size);
    buffer = buffer_of(source.node());
    series_buffer* copy = buffer_of(node);
    copy->flags = (buffer->flags & ~(FLAG_BIG | FLAG_HEAP | FLAG_MID_HEAD)) | (copy->flags & FLAG_BIG);
    int64_t bytes = buffer->data_end() - buffer->head;
    std::memcpy(copy->head, buffer->head, static_cast<size_t>(bytes));
    copy->tail = copy->head + (buffer->tail - buffer->head);
    return node;
}

node_ref copy_series_part(series_buffer* buffer, int64_t start, int64_t count) {
    series_holder source(buffer->node);
    uint32_t unit = buffer->unit();
    node_ref node = alloc_series(count, unit, 0);
    buffer = buffer_of(source.node());
    series_buffer* copy = buffer_of(node);
    copy->flags = (buffer->flags & ~(FLAG_OWNED | FLAG_BIG | FLAG_HEAP | FLAG_MID_HEAD)) | (copy->flags & FLAG_BIG);
    std::memcpy(copy->head, buffer->head + start * unit, static_cast<size_t>(count * unit));
    copy->tail = copy->head + count * unit;
    return node;
}

cell* alloc_tail_cell(series_buffer* buffer) {
    if (buffer->tail == buffer->data_end()) buffer = expand_series(buffer, 0);
    cell* c = buffer->tail_cell();
    c->header = TYPE_UNSET;
    buffer->tail += sizeof(cell);
    return c;
}

std::byte* reserve_tail_bytes(series_buffer* buffer, int64_t n) {
    if (buffer->tail + n > buffer->data_end()) {
        int64_t capacity = buffer->size;
        int64_t needed = (buffer->tail - buffer->data()) + n;
        buffer = expand_series(buffer, growth_size(needed, n > capacity ? 2 * n : 2 * capacity));
    }
    std::byte* old_tail = buffer->tail;
    buffer->tail += n;
    return old_tail;
}

std::byte* replicate_pattern(std::byte* destination, int64_t length, int64_t count) {
    int64_t total = length * count;
    int64_t done = count > 0 ? length : 0;
    while (done < total) {
        int64_t chunk = std::min(done, total - done);
        std::memcpy(destination + done, destination, static_cast<size_t>(chunk));
        done += chunk;
    }
    return destination + total;
}

void fill_range(std::byte* start, std::byte* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

void zero_words(std::byte* start, std::byte* end) {
    if (end > start) std::memset(start, 0, static_cast<size_t>((end - start) / 4 * 4));
}

}  // namespace zor::memory
