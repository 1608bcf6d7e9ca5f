// Node-frame evacuation: the used nodes of a sparsely used node frame move to free nodes
// of other frames, so that the frame can be released when the collection ends. Each move
// is recorded in the relocation map (old node to new node, one table per evacuated frame
// indexed by slot); marking rewrites every reference it reaches through the map, which is
// why evacuation runs before marking.
//
// A frame is evacuated when its used count stayed the same over the last six collections,
// it has fewer than 5,000 used nodes, more than 10,000 free nodes exist in other frames,
// and it is not the current frame. In torture mode frames up to a budget of nodes (the
// newest first) are evacuated into frames made for the purpose, so that recent nodes, and
// in all but large heaps every node, move at every collection.
//
// Invariant: the old node slots keep their buffer addresses until the node frames are
// swept, and every buffer's back reference names its new node.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/gc/gc-internal.h"
#include "runtime/memory/heap.h"

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
// preferred, so moved nodes gather where allocation happens; after it, the frames in list
// order, the search resuming where the last one ended.
node_frame* receiving = nullptr;

node_frame* receiving_frame() {
    node_frame* current = memory::state.node_current;
    if (current && !current->evacuate && current->free_head) return current;
    if (receiving && !receiving->evacuate && receiving->free_head) return receiving;
    for (node_frame* f = receiving ? receiving : memory::state.node_head; f; f = f->next) {
        if (!f->evacuate && f->free_head) return receiving = f;
    }
    for (node_frame* f = memory::state.node_head; f; f = f->next) {
        if (!f->evacuate && f->free_head) return receiving = f;
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

// Torture mode: node frames up to TORTURE_NODE_BUDGET used nodes in all move into frames
// made for the purpose at the list's tail: first the current frame (where the newest
// nodes are), then the newest frames from the tail, then the oldest from the head, so
// that recently made nodes move at every collection and every other frame moves in turn.
// A heap of up to that many nodes has every node moved at every collection; a larger one
// keeps the cost of a collection bounded.
constexpr int64_t TORTURE_NODE_BUDGET = 20000;

bool evacuate_for_torture() {
    memory::manager& state = memory::state;
    std::vector<node_frame*> chosen;
    int64_t moving = 0;
    auto choose = [&](node_frame* f, int64_t budget) {
        if (!f || f->evacuate || f->used == 0) return true;
        if (moving > 0 && moving + f->used > budget) return false;
        moving += f->used;
        f->evacuate = true;
        chosen.push_back(f);
        return true;
    };
    choose(state.node_current, TORTURE_NODE_BUDGET);
    for (node_frame* f = state.node_tail; f && choose(f, TORTURE_NODE_BUDGET / 2); f = f->previous) {}
    for (node_frame* f = state.node_head; f && choose(f, TORTURE_NODE_BUDGET); f = f->next) {}
    if (chosen.empty()) return false;
    node_frame* fresh = memory::new_node_frame(memory::NODES_PER_FRAME);
    for (int64_t room = fresh->count; room < moving; room += memory::NODES_PER_FRAME) {
        memory::new_node_frame(memory::NODES_PER_FRAME);
    }
    state.node_current = fresh;
    receiving = fresh;
    for (node_frame* f : chosen) evacuate_frame(f);
    return true;
}

}  // namespace

bool evacuate_node_frames(bool torture) {
    memory::manager& state = memory::state;
    if (!state.node_head) return false;
    receiving = nullptr;
    if (torture) return evacuate_for_torture();
    node_frame* first_with_room = nullptr;
    for (node_frame* f = state.node_head; f && !first_with_room; f = f->next) {
        if (f->free_head && !f->evacuate) first_with_room = f;
    }
    if (!first_with_room) return false;
    state.node_current = first_with_room;
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
        bool candidate = (f->history & HISTORY_MASK) == HISTORY_MASK && f->used < SPARSE_USED_LIMIT &&
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
