// The live maps of one collection, which are also the marks of the buffers in series
// frames: for each series frame a bit for every 16 bytes set where a marked buffer starts
// and another set where it ends; for each node frame a bit for every node slot, set for
// each marked series' node.
//
// With them, compaction reads only the buffers it moves (a run of live buffers that stays
// where it is is passed over by its bits alone), and the nodes of dead series are given
// back by rebuilding each node frame's free list from its bits, one sequential pass per
// frame, instead of one scattered write per dead buffer. The cost of a collection follows
// what is alive, not what was allocated since the last one.
//
// Invariant: the maps are built after evacuation (which may add node frames) and before
// marking, and nothing adds or removes a frame until compaction and the node sweep have
// used them.
#include <algorithm>
#include <cstring>

#include "runtime/gc/gc-internal.h"
#include "runtime/memory/heap.h"

namespace zor::gc {

series_frame_map* series_maps = nullptr;
size_t series_map_count = 0;
node_frame_map* node_maps = nullptr;
size_t node_map_count = 0;

namespace {

using memory::node_frame;
using memory::series_frame;

constexpr int64_t GRANULE = 16;  // bytes a series bit stands for
constexpr size_t NODE_WORDS = (memory::NODES_PER_FRAME + 63) / 64;

size_t series_map_capacity = 0;
size_t node_map_capacity = 0;
uint64_t* bits = nullptr;  // every map's bits, one block
size_t bits_capacity = 0;
size_t last_series_map = 0;

template <typename T> void ensure(T*& array, size_t& capacity, size_t needed) {
    if (needed <= capacity) return;
    capacity = std::max(needed, capacity * 2);
    array = static_cast<T*>(heap::resize(array, capacity * sizeof(T)));
}

// Words of one of a frame's two bitmaps: a bit per granule, and one more for the end of a
// buffer that reaches the frame's end.
size_t series_words(const series_frame* f) {
    auto* start = reinterpret_cast<const std::byte*>(f + 1);
    return static_cast<size_t>((f->end - start) / GRANULE + 1 + 63) / 64;
}

inline void set_bit(uint64_t* words, size_t bit) { words[bit >> 6] |= uint64_t(1) << (bit & 63); }
inline bool test_bit(const uint64_t* words, size_t bit) { return (words[bit >> 6] >> (bit & 63)) & 1; }

// The map of the frame holding the address, or null.
series_frame_map* map_of(const std::byte* at) {
    series_frame_map* map = series_maps + last_series_map;
    if (last_series_map < series_map_count && at >= map->start && at < map->end) return map;
    series_frame_map* end = series_maps + series_map_count;
    series_frame_map* after =
        std::upper_bound(series_maps, end, at, [](const std::byte* p, const series_frame_map& m) { return p < m.start; });
    if (after == series_maps || at >= after[-1].end) return nullptr;
    last_series_map = static_cast<size_t>(after - 1 - series_maps);
    return after - 1;
}

// The first set bit at or after `from` and below `limit`, or `limit` when there is none.
size_t next_set_bit(const uint64_t* words, size_t from, size_t limit) {
    if (from >= limit) return limit;
    size_t word = from >> 6;
    uint64_t w = words[word] & (~uint64_t(0) << (from & 63));
    for (;;) {
        if (w) return std::min(limit, (word << 6) + static_cast<size_t>(__builtin_ctzll(w)));
        if ((++word << 6) >= limit) return limit;
        w = words[word];
    }
}

}  // namespace

void build_live_maps() {
    size_t frames = 0, words = 0;
    for (series_frame* f = memory::state.series_head; f; f = f->next) {
        ++frames;
        words += 2 * series_words(f);
    }
    size_t regions = 0;
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        regions = std::max<size_t>(regions, (f->first - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES + 1);
        words += 2 * NODE_WORDS;
    }
    ensure(series_maps, series_map_capacity, frames);
    ensure(node_maps, node_map_capacity, regions);
    ensure(bits, bits_capacity, words);
    std::memset(bits, 0, words * sizeof(uint64_t));

    uint64_t* next_bits = bits;
    series_map_count = 0;
    for (series_frame* f = memory::state.series_head; f; f = f->next) {
        size_t n = series_words(f);
        series_maps[series_map_count++] = {reinterpret_cast<std::byte*>(f + 1), f->end, next_bits, next_bits + n};
        next_bits += 2 * n;
    }
    last_series_map = 0;
    node_map_count = regions;
    std::fill(node_maps, node_maps + regions, node_frame_map{nullptr, nullptr, nullptr});
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        node_maps[(f->first - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES] = {f, next_bits,
                                                                                            next_bits + NODE_WORDS};
        next_bits += 2 * NODE_WORDS;
    }
}

int mark_in_frame(const memory::series_buffer* buffer) {
    auto* at = reinterpret_cast<const std::byte*>(buffer);
    series_frame_map* map = map_of(at);
    if (!map) return -1;
    size_t granule = static_cast<size_t>((at - map->start) / GRANULE);
    if (test_bit(map->starts, granule)) return 0;
    set_bit(map->starts, granule);
    set_bit(map->ends, granule + static_cast<size_t>((int64_t(sizeof(memory::series_buffer)) + buffer->size) / GRANULE));
    return 1;
}

bool marked_in_frame(const memory::series_buffer* buffer) {
    auto* at = reinterpret_cast<const std::byte*>(buffer);
    series_frame_map* map = map_of(at);
    return map && test_bit(map->starts, static_cast<size_t>((at - map->start) / GRANULE));
}

std::byte* next_live_buffer(size_t map_index, std::byte* from, std::byte* end, std::byte** buffer_end) {
    const series_frame_map& map = series_maps[map_index];
    size_t limit = static_cast<size_t>((end - map.start) / GRANULE);
    size_t start = next_set_bit(map.starts, static_cast<size_t>((from - map.start) / GRANULE), limit);
    if (start == limit) return nullptr;
    // A buffer's end is the first end bit after its start: buffers do not overlap.
    size_t stop = next_set_bit(map.ends, start + 1, limit + 1);
    *buffer_end = map.start + int64_t(stop) * GRANULE;
    return map.start + int64_t(start) * GRANULE;
}

std::byte* end_of_live_run(size_t map_index, std::byte* at, std::byte* end) {
    const series_frame_map& map = series_maps[map_index];
    size_t limit = static_cast<size_t>((end - map.start) / GRANULE) + 1;
    size_t from = static_cast<size_t>((at - map.start) / GRANULE) + 1;
    // A run ends where a buffer ends and no other starts.
    size_t word = from >> 6;
    uint64_t w = (map.ends[word] & ~map.starts[word]) & (~uint64_t(0) << (from & 63));
    for (;;) {
        if (w) return map.start + int64_t(std::min(limit - 1, (word << 6) + size_t(__builtin_ctzll(w)))) * GRANULE;
        if ((++word << 6) >= limit) return end;
        w = map.ends[word] & ~map.starts[word];
    }
}

void rebuild_node_free_lists() {
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        if (f->evacuate) continue;  // released by the sweep
        const uint64_t* marks = node_maps[(f->first - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES].bits;
        // Free nodes are chained in ascending order, so allocation walks the frame forward.
        node_ref head = 0;
        uint64_t* link = nullptr;
        uint32_t free = 0;
        for (uint32_t word = 0; word * 64 < f->count; ++word) {
            uint64_t unmarked = ~marks[word];
            uint32_t valid = f->count - word * 64;
            if (valid < 64) unmarked &= (uint64_t(1) << valid) - 1;
            while (unmarked) {
                uint32_t i = word * 64 + static_cast<uint32_t>(__builtin_ctzll(unmarked));
                unmarked &= unmarked - 1;
                node_ref node = f->first + i * static_cast<node_ref>(sizeof(void*));
                if (link) *link = node; else head = node;
                link = reinterpret_cast<uint64_t*>(memory::node_space + node);
                ++free;
            }
        }
        if (link) *link = 0;
        f->free_head = head;
        f->used = f->count - free;
    }
}

}  // namespace zor::gc
