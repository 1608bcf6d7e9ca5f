// The live maps of one collection: a bit for every 16 bytes of each series frame, set at
// the start of each marked buffer, and a bit for every node slot of each node frame, set
// for each marked series' node.
//
// With them, compaction reads the headers of live buffers only, and the nodes of dead
// series are given back by rebuilding each node frame's free list from its bits, one
// sequential pass per frame, instead of one scattered write per dead buffer. The cost of
// a collection follows what is alive, not what was allocated since the last one.
//
// Invariant: the maps are built after evacuation (which may add node frames) and before
// marking, and nothing adds or removes a frame until compaction and the node sweep have
// used them.
#include <algorithm>
#include <cstring>

#include "runtime/gc-internal.h"
#include "runtime/heap.h"

namespace zor::gc {

series_frame_map* series_maps = nullptr;
size_t series_map_count = 0;
size_t last_series_map = 0;
node_frame_map* node_maps = nullptr;
size_t node_map_count = 0;

namespace {

using memory::node_frame;
using memory::series_frame;

constexpr int64_t GRANULE = 16;  // bytes a series bit stands for
constexpr size_t NODE_WORDS = (memory::NODES_PER_FRAME + 63) / 64;

size_t series_map_capacity = 0;
size_t node_map_capacity = 0;
uint64_t* bits = nullptr;  // every frame's bits, one block
size_t bits_capacity = 0;

template <typename T> void ensure(T*& array, size_t& capacity, size_t needed) {
    if (needed <= capacity) return;
    capacity = std::max(needed, capacity * 2);
    array = static_cast<T*>(heap::resize(array, capacity * sizeof(T)));
}

size_t series_words(const series_frame* f) {
    auto* start = reinterpret_cast<const std::byte*>(f + 1);
    return static_cast<size_t>((f->end - start) / GRANULE + 63) / 64;
}

}  // namespace

void build_live_maps() {
    size_t frames = 0, words = 0;
    for (series_frame* f = memory::state.series_head; f; f = f->next) {
        ++frames;
        words += series_words(f);
    }
    size_t regions = 0;
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        regions = std::max<size_t>(regions, (f->first - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES + 1);
        words += NODE_WORDS;
    }
    ensure(series_maps, series_map_capacity, frames);
    ensure(node_maps, node_map_capacity, regions);
    ensure(bits, bits_capacity, words);
    std::memset(bits, 0, words * sizeof(uint64_t));

    uint64_t* next_bits = bits;
    series_map_count = 0;
    for (series_frame* f = memory::state.series_head; f; f = f->next) {
        series_maps[series_map_count++] = {reinterpret_cast<std::byte*>(f + 1), f->end, next_bits};
        next_bits += series_words(f);
    }
    last_series_map = 0;
    node_map_count = regions;
    std::fill(node_maps, node_maps + regions, node_frame_map{nullptr, nullptr});
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        node_maps[(f->first - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES] = {f, next_bits};
        next_bits += NODE_WORDS;
    }
}

void note_live_in_frame(const memory::series_buffer* buffer) {
    auto* at = reinterpret_cast<const std::byte*>(buffer);
    series_frame_map* map = series_maps + last_series_map;
    if (last_series_map >= series_map_count || at < map->start || at >= map->end) {
        // Frames are listed in address order.
        series_frame_map* end = series_maps + series_map_count;
        series_frame_map* after = std::upper_bound(series_maps, end, at, [](const std::byte* p, const series_frame_map& m) {
            return p < m.start;
        });
        if (after == series_maps || at >= after[-1].end) return;  // not in a frame
        map = after - 1;
        last_series_map = static_cast<size_t>(map - series_maps);
    }
    size_t granule = static_cast<size_t>((at - map->start) / GRANULE);
    map->bits[granule >> 6] |= uint64_t(1) << (granule & 63);
}

std::byte* next_live_buffer(size_t map_index, std::byte* from, std::byte* end) {
    const series_frame_map& map = series_maps[map_index];
    if (from >= end) return nullptr;
    size_t granule = static_cast<size_t>((from - map.start) / GRANULE);
    size_t last = static_cast<size_t>((end - map.start) / GRANULE);
    size_t word = granule >> 6;
    uint64_t w = map.bits[word] & (~uint64_t(0) << (granule & 63));
    for (;;) {
        if (w) {
            size_t found = (word << 6) + static_cast<size_t>(__builtin_ctzll(w));
            return found < last ? map.start + found * GRANULE : nullptr;
        }
        if ((++word << 6) >= last) return nullptr;
        w = map.bits[word];
    }
}

void rebuild_node_free_lists() {
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        if (f->evacuate) continue;  // released by the sweep
        const uint64_t* marks = node_maps[(f->first - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES].bits;
        // Free nodes are chained in ascending order, so allocation walks the frame forward.
        node_ref head = 0;
        uint64_t* link = nullptr;
        uint32_t used = 0;
        for (uint32_t i = 0; i < f->count; ++i) {
            if (marks[i >> 6] & (uint64_t(1) << (i & 63))) {
                ++used;
                continue;
            }
            node_ref node = f->first + i * static_cast<node_ref>(sizeof(void*));
            auto* slot = reinterpret_cast<uint64_t*>(memory::node_space + node);
            if (link) *link = node; else head = node;
            link = slot;
        }
        if (link) *link = 0;
        f->free_head = head;
        f->used = used;
    }
}

}  // namespace zor::gc
