// Node-frame evacuation: the used nodes of a sparsely used node frame move to free nodes
// of other frames, so that the frame can be released when the collection ends. Each move
// is recorded in the relocation map (old node to new node, one table per evacuated frame
// indexed by slot); marking rewrites every reference it reaches through the map, which is
// why evacuation runs before marking.
//
// A frame is evacuated when its used count stayed the same over the last six collections,
// it has fewer than 5,000 used nodes, more than 10,000 free nodes exist in other frames,
// and it is not the current frame. In torture mode every frame that can be emptied is
// evacuated into a frame made for the purpose, so that every node moves at every
// collection.
//
// Invariant: the old node slots keep their buffer addresses until the node frames are
// swept, and every buffer's back reference names its new node.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/gc-internal.h"
#include "runtime/heap.h"

namespace zor::gc {

namespace {

using memory::node_frame;

constexpr uint32_t HISTORY_MASK = 0x3F;  // an unchanged used count over six collections
constexpr uint32_t SPARSE_USED_LIMIT = 5000;
constexpr int64_t FREE_ELSEWHERE_MINIMUM = 10000;

// The relocation map: for each evacuated node frame, indexed by its region in the node
// space, the new node of each of its slots (0 for a slot that was free). A lookup is an
// index, not a hash probe, which matters because marking looks up every reference.
node_ref** relocation_by_region = nullptr;
size_t relocation_regions = 0;
std::vector<size_t> relocated_regions;  // the regions given a table in this collection

inline size_t region_of(node_ref node) {
    return static_cast<uint32_t>(node - memory::FIRST_NODE_REGION) / memory::NODE_REGION_BYTES;
}

node_ref* relocation_table_for(const node_frame* frame) {
    size_t region = region_of(frame->first);
    if (region >= relocation_regions) {
        size_t regions = std::max(region + 1, relocation_regions * 2);
        relocation_by_region =
            static_cast<node_ref**>(heap::resize(relocation_by_region, regions * sizeof(node_ref*)));
        std::fill(relocation_by_region + relocation_regions, relocation_by_region + regions, nullptr);
        relocation_regions = regions;
    }
    auto* table = static_cast<node_ref*>(heap::allocate(memory::NODES_PER_FRAME * sizeof(node_ref)));
    std::fill(table, table + memory::NODES_PER_FRAME, node_ref{0});
    relocation_by_region[region] = table;
    relocated_regions.push_back(region);
    return table;
}

inline uint64_t& raw_slot(node_ref node) { return *reinterpret_cast<uint64_t*>(memory::node_space + node); }

int64_t free_of(const node_frame* f) { return f->free_head ? int64_t(f->count) - f->used : 0; }

// Pops a free node of the frame (its free list is chained through the slots).
node_ref take_node(node_frame* f) {
    node_ref node = f->free_head;
    f->free_head = static_cast<node_ref>(raw_slot(node));
    raw_slot(node) = 0;
    ++f->used;
    return node;
}

// A frame that can take a node: one not being evacuated, with room. The current frame is
// preferred, so moved nodes gather where allocation happens.
node_frame* receiving_frame() {
    node_frame* current = memory::state.node_current;
    if (current && !current->evacuate && current->free_head) return current;
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        if (!f->evacuate && f->free_head) return f;
    }
    return nullptr;
}

void evacuate_frame(node_frame* frame) {
    node_ref* moved_to = relocation_table_for(frame);
    relocation_active = true;
    // The free slots are the ones on the frame's free list; every other slot is used.
    std::vector<bool> is_free(frame->count, false);
    for (node_ref n = frame->free_head; n; n = static_cast<node_ref>(raw_slot(n))) {
        is_free[(n - frame->first) / sizeof(void*)] = true;
    }
    for (uint32_t i = 0; i < frame->count; ++i) {
        if (is_free[i]) continue;
        node_ref old_node = frame->first + i * static_cast<node_ref>(sizeof(void*));
        node_frame* to = receiving_frame();
        // The choice of frames leaves room for every moved node; should it not, a new
        // frame takes the rest rather than leaving a node behind in a frame to be freed.
        if (!to) to = memory::new_node_frame(memory::NODES_PER_FRAME);
        node_ref new_node = take_node(to);
        memory::series_buffer* buffer = memory::slot_of(old_node);
        memory::slot_of(new_node) = buffer;
        if (buffer && buffer->node == old_node) buffer->node = new_node;
        moved_to[i] = new_node;
        --frame->used;
    }
}

}  // namespace

bool evacuate_node_frames(bool torture) {
    memory::manager& state = memory::state;
    if (!state.node_head) return false;
    if (torture) {
        // Fresh frames with room for every used node, so that every other frame empties.
        int64_t used = 0;
        for (node_frame* f = state.node_head; f; f = f->next) used += f->used;
        node_frame* fresh = memory::new_node_frame(memory::NODES_PER_FRAME);
        for (int64_t room = fresh->count; room < used; room += memory::NODES_PER_FRAME) {
            memory::new_node_frame(memory::NODES_PER_FRAME);
        }
        state.node_current = fresh;
    } else {
        node_frame* first_with_room = nullptr;
        for (node_frame* f = state.node_head; f && !first_with_room; f = f->next) {
            if (f->free_head && !f->evacuate) first_with_room = f;
        }
        if (!first_with_room) return false;
        state.node_current = first_with_room;
    }
    int64_t free_nodes = 0;
    for (node_frame* f = state.node_head; f; f = f->next) {
        if (!f->evacuate) free_nodes += free_of(f);
    }
    // Every frame to evacuate is chosen before any node moves, so that no node is moved
    // into a frame that is emptied later in the same collection (its map entry would
    // then name a node that moved again).
    std::vector<node_frame*> chosen;
    for (node_frame* f = state.node_tail; f; f = f->previous) {
        if (f == state.node_current || f->evacuate || f->used == 0) continue;
        int64_t elsewhere = free_nodes - free_of(f);
        bool candidate = torture ? elsewhere >= int64_t(f->used)
                                 : (f->history & HISTORY_MASK) == HISTORY_MASK && f->used < SPARSE_USED_LIMIT &&
                                       elsewhere > FREE_ELSEWHERE_MINIMUM;
        if (!candidate) continue;
        // The frame's own free nodes leave the pool, and its used ones take as many
        // elsewhere (for a frame with room, its whole node count).
        free_nodes -= free_of(f) + f->used;
        f->evacuate = true;
        chosen.push_back(f);
    }
    for (node_frame* f : chosen) evacuate_frame(f);
    return !chosen.empty();
}

bool relocation_active = false;

node_ref relocation_of(node_ref node) {
    size_t region = region_of(node);
    if (region >= relocation_regions || !relocation_by_region[region]) return 0;
    uint32_t offset = static_cast<uint32_t>(node - memory::FIRST_NODE_REGION) % memory::NODE_REGION_BYTES;
    uint32_t slot = offset / static_cast<uint32_t>(sizeof(void*));
    return slot < memory::NODES_PER_FRAME ? relocation_by_region[region][slot] : 0;
}

void free_relocation_map() {
    for (size_t region : relocated_regions) {
        heap::release(relocation_by_region[region]);
        relocation_by_region[region] = nullptr;
    }
    relocated_regions.clear();
    relocation_active = false;
}

}  // namespace zor::gc
